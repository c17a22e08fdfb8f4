/*
** Evaluation of a probe outcome (db_evaluate): finds the first matching
** action rule and applies its new state. The action decides whether the
** main loop goes on: only stop ends it.
**
** Called by monitor_db after every probe; calls find_action and hasyslog.
*/
#include "evaluate.h"

#include <syslog.h>

#include "monitor.h"

extern "C" {

int force_delay = 0;
time_t fmstart_time = 0;
time_t process_start = 0;

int db_evaluate(const char *instance, db_info *record, const char *process_died,
                const char *log_text, int timeout, action_list *list,
                time_t *last_restart, int restart_delay) {
  (void)instance;
  (void)last_restart;
  (void)restart_delay;
  action_entry *rule = find_action(list, record->state, record->dbms_error, process_died,
                                   log_text, timeout, record->internal_error);
  if (!rule) {
    if (debug_mode) hasyslog(LOG_DEBUG, "0080", "db_evaluate: no action entry found!");
    return 1;
  }
  if (rule->new_state != 0) record->state = rule->new_state;
  return rule->action == ACTION_STOP ? 0 : 1;
}

}  // extern "C"
