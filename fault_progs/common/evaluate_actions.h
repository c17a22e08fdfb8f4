/*
** What the evaluation does once a rule matched: the status reports to
** dorvexd, the rule's message, and the rule's action (restart, takeover,
** stop, config, fmstart) through the cluster framework's commands; and the
** verbose dump of a probe outcome. db_evaluate (evaluate.cpp) finds the
** rule and applies its new state, then calls apply_action_rule.
*/
#ifndef DVZ_EVALUATE_ACTIONS_H
#define DVZ_EVALUATE_ACTIONS_H

#include <ctime>

#include "action_file.h"
#include "db_child.h"
#include "framework_command.h" /* shell_safe_word, for the start-up checks */

extern "C" {

/* Verbose mode only: logs the outcome (1040-1100), the state under its
** name, one 1070 line per line of the log text (1080 when absent). */
void display_state(const db_info *record, const char *process_died, const char *log_text,
                   int timeout);

/* "don't care", "connecting", "on-line", "disconnecting" for 0-3;
** "unknown" for any other value. */
const char *db_state_str(int state);

/* Runs the takeover command (remote form with -t when remote_host is set,
** local form with -g otherwise). Returns 1 when the command exited 0, else 0
** after 4170. */
int request_takeover(const char *instance, const char *remote_host, const char *service);

/* Steps after the rule's new state was applied to record->state: reports
** ONLINE when the state is on-line, logs the rule's message (syslog 2050
** and the file's action line) and performs the rule's action, running
** each command through run_framework_command. *last_restart is the loop's time
** of the last restart. Every RPC call and every command is followed by a
** check for a termination signal (which ends the monitor there).
** Returns 0 after the stop action (the loop ends), else 1. */
int apply_action_rule(const char *instance, db_info *record, const action_entry *rule,
                      time_t *last_restart, int restart_delay);
}

#endif
