/*
** The scripted probe: the probe interface answered from script files in
** place of a database, standing in for the Dovariza probe in the
** monitor's test build and the monitor's unit suites. Script format:
** scripted_ops.cpp.
*/
#ifndef DVZ_SCRIPTED_PROBE_H
#define DVZ_SCRIPTED_PROBE_H

#include "probe_interface.h"

/* The scripted probe's operations record, for fault_mon_main and for
** tests that set the probe themselves (monitor_set_probe). */
extern const probe_ops scripted_probe_ops;

#endif
