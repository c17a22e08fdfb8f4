/*
** The probe schedule and the monitor's main loop. Scheduled probes fall on
** a grid of probe_cycle_time seconds anchored at start-up; a change of
** state re-probes at once (at most four times in a row); after
** connect_cycle_count on-line probes the next one disconnects.
*/
#ifndef DVZ_PROBE_CYCLE_H
#define DVZ_PROBE_CYCLE_H

#include <ctime>

#include "action_file.h"

extern "C" {

/* The schedule, in wall-clock seconds (the clock seam's now). */
extern int probe_cycle_time; /* seconds between scheduled probes */
extern time_t next_probe_scheduled; /* time of the next scheduled probe */
extern time_t last_probe_started; /* start of the current probe */
extern int connect_cycle_count; /* on-line probes before a disconnect; 0 never */
extern int on_line_probe_count; /* on-line probes since the last disconnect */

/* Stores the cycle and the count and makes the first probe due now.
** Returns 1 when cycle >= 1 and count >= 0, else 0. */
int set_probe_cycle(int cycle, int count);

/* Seconds until the next scheduled probe, 0 when it is due. After a
** backward clock step it never exceeds one cycle. */
int delay_until_next_probe(void);

/* Starts a probe: renews the registration (4290 and the exit path when that
** fails), advances the schedule past now and keeps the connect cycle.
** Returns 1 when this probe must disconnect. */
int start_probe(const char *instance, int on_line);

time_t last_probe(void); /* last_probe_started */

/* The main loop. Returns 0 when the stop action ended it; every other end
** goes through fault_mon_exit. */
int monitor_db(const char *instance, int time_out, int restart_delay, action_list *list,
               const char *dbms_log_file);
}

#endif
