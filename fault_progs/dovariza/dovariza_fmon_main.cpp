/*
** Process entry of the production monitor, dovariza_fmon: the fault
** monitor with the Dovariza probe behind the probe interface. It reads no
** test setting: dorvexd's program, the fixed log path and /dev/log stay
** as the monitor defines them.
*/
#include "dovariza_probe.h"
#include "fault_monitor.h"

int main(int argc, char **argv) { return fault_mon_main(argc, argv, &dovariza_probe_ops); }
