/*
** Process entry of the monitor's test build, dovariza_fmon_scripted: the
** monitor with the scripted probe behind the probe interface, under the
** test environment of the test builds (test_environment.h). A value there
** that is not a usable number ends the launcher with status 2 before
** anything else runs.
*/
#include "fault_monitor.h"
#include "scripted_probe.h"
#include "test_environment.h"

int main(int argc, char **argv) {
  if (!testbed::apply_test_environment()) return 2;
  return fault_mon_main(argc, argv, &scripted_probe_ops);
}
