/*
** Evaluation of a probe outcome: the first matching action rule gives the
** monitor's new state and an action. Called by the main loop after every
** probe.
*/
#ifndef DVZ_EVALUATE_H
#define DVZ_EVALUATE_H

#include <ctime>

#include "action_file.h"
#include "db_child.h"

extern "C" {

/* 1 after a restart, takeover or remote monitor start: the next probe
** waits for the schedule even after a state change. Cleared by the loop. */
extern int force_delay;
/* When the fmstart action was first met or last ran its command; 0 when a
** remote status query found the remote monitor. */
extern time_t fmstart_time;
/* Start of the main loop (the config action's grace counts from it). */
extern time_t process_start;

/* Matches the outcome against the rules and applies the rule's new state to
** record->state. Either text may be NULL (absent). *last_restart is the
** loop's time of the last restart. Returns 0 when the rule's action is
** stop (the loop ends), else 1; 1 when no rule matches (0080). */
int db_evaluate(const char *instance, db_info *record, const char *process_died,
                const char *log_text, int timeout, action_list *list, time_t *last_restart,
                int restart_delay);
}

#endif
