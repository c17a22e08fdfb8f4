/*
** Process entry of dovariza_fmon_test: the monitor with the real Dovariza
** probe, under the test environment of the test builds
** (test_environment.h), so the harness runs it with its own dorvexd
** double, log file and syslog socket.
*/
#include "dovariza_probe.h"
#include "fault_monitor.h"
#include "test_environment.h"

int main(int argc, char **argv) {
  if (!testbed::apply_test_environment()) return 2;
  return fault_mon_main(argc, argv, &dovariza_probe_ops);
}
