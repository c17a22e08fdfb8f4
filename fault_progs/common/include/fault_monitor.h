/*
** The fault monitor's entry for an executable. A probe module's main (the
** Dovariza probe's in production, the scripted probe's in the test build)
** hands its operations record to the monitor here; everything else of the
** monitor is reached from it.
*/
#ifndef DVZ_FAULT_MONITOR_H
#define DVZ_FAULT_MONITOR_H

#include "probe_interface.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the probe (monitor_set_probe), makes the process a daemon (the
** launcher exits 0 at once) and runs the monitor: start-up, the main loop
** and the orderly end. Returns 0 after an orderly end; every other end is
** an exit with status 0, 1 or 2. REQUIRES: ops as for monitor_set_probe. */
int fault_mon_main(int argc, char **argv, const struct probe_ops *ops);

#ifdef __cplusplus
}
#endif

#endif
