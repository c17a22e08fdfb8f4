/*
** Evaluation of a probe outcome (db_evaluate): shows the outcome in
** verbose mode, finds the first matching action rule, applies its new state
** and has evaluate_actions report, log and act on it. Only the stop action
** ends the main loop.
**
** Called by monitor_db after every probe.
*/
#include "evaluate.h"

#include <syslog.h>

#include "evaluate_actions.h"
#include "monitor.h"

extern "C" {

int force_delay = 0;
time_t fmstart_time = 0;
time_t process_start = 0;

int db_evaluate(const char *instance, db_info *record, const char *process_died,
                const char *log_text, int timeout, action_list *list, time_t *last_restart,
                int restart_delay) {
  if (verbose_mode || debug_mode) display_state(record, process_died, log_text, timeout);
  action_entry *rule = find_action(list, record->state, record->dbms_error, process_died, log_text,
                                   timeout, record->internal_error);
  if (!rule) {
    if (debug_mode) hasyslog(LOG_DEBUG, "0080", "db_evaluate: no action entry found!");
    return 1;
  }
  if (rule->new_state != rule_any_state) record->state = rule->new_state;
  return apply_action_rule(instance, record, rule, last_restart, restart_delay);
}

}  // extern "C"
