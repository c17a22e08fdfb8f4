/*
** The second half of the evaluation of a probe outcome: once db_evaluate
** (evaluate.cpp) has found the matching rule and applied its new state,
** apply_action_rule reports the status to dorvexd, logs the rule's message
** and performs the rule's action through the cluster framework's commands.
** display_state is the verbose dump of an outcome that db_evaluate logs
** first.
**
** Calls hasyslog and log_action_message (monitor_log), ha_db_restart of
** the probe module through its operations record, commands through
** run_framework_command (framework_command.cpp: a killed or unrunnable
** command is a failure), and the world only through the seams: reports
** through dorvexd_seam, time through clock_seam.
** After every command and RPC call check_termination runs the exit path
** when a termination signal arrived meanwhile.
**
** The command lines below are the framework's interface and must stay
** byte for byte (the takeover lines end with a blank). Names go into them
** unquoted: main refuses an instance or host with a character outside
** [A-Za-z0-9._@:+-], and the stop action refuses such HA_REMOTEHOST words.
*/
#include "evaluate_actions.h"

#include <cstdlib>
#include <string>

#include <syslog.h>

#include "evaluate.h"
#include "framework_command.h"
#include "monitor.h"
#include "monitor_log.h"
#include "monitor_seams.h"
#include "monitor_signals.h"

namespace {

/* Status texts of update_dbms_status_1. */
constexpr const char status_online[] = "ONLINE";
constexpr const char status_no_change[] = "NO_CHANGE";
constexpr const char status_faulted[] = "FAULTED";

/* Seconds after the loop's start during which config only logs 2130, and
** the spacing of remote monitor starts. */
constexpr time_t config_grace = 600;
constexpr time_t fmstart_spacing = 120;

/* The framework's command lines; the values named after each. The
** takeover lines end with a blank. */
constexpr const char takeover_remote_command[] =
    "kesmadm -t -s %s -l `%s_plaxnode %s` "; /* service, service, instance */
constexpr const char takeover_local_command[] =
    "kesmadm -g -s %s -l `%s_plaxnode %s` "; /* service, service, instance */
constexpr const char toggle_command[] = "%s_jorvswap %s %s"; /* service, instance, "stop" */
constexpr const char stop_remote_command[] =
    "dorvexq %s %s shutdown %s"; /* remote host, instance, service */
constexpr const char stop_local_command[] =
    "dorvexq %s %s stop %s"; /* word of HA_REMOTEHOST, instance, service */
constexpr const char config_command[] = "kesmadm -r -s %s"; /* service */
constexpr const char fmstart_command[] =
    "dorvexq %s %s start %s"; /* remote host, instance, service */

/* The names of the states, and of a rule's "any state". */
struct state_name {
  int32_t state;
  const char *name;
};
constexpr state_name state_names[] = {
    {rule_any_state, "don't care"},
    {db_state_connecting, "connecting"},
    {db_state_online, "on-line"},
    {db_state_disconnecting, "disconnecting"},
};

/* Blanks that separate the hosts of HA_REMOTEHOST. */
constexpr std::string_view host_separators = " \t";

/* Reports the database status to dorvexd; the result is not looked at. */
void report_status(const char *instance, const char *status, const db_info *record) {
  dorvexd_seam->update_dbms_status(instance, status, record->dbms_error, rpc_client);
  check_termination();
}

/* restart: restarts the database, or, when the last restart was less than
** restart_delay seconds ago, escalates to a takeover and forgets it. */
void restart_action(const char *instance, const db_info *record, time_t *last_restart,
                    int restart_delay) {
  time_t now = clock_seam->now();
  if (*last_restart + restart_delay <= now) {
    *last_restart = now;
    if (dbms_host) {
      hasyslog(LOG_NOTICE, "2070", "db_evaluate: restart requested, but database is remote");
    } else {
      hasyslog(LOG_ERR, "2080", "db_evaluate: restarting DBMS service");
      probe->ha_db_restart(dbms_host); /* runs the restart command */
      check_termination();
    }
  } else {
    hasyslog(LOG_ERR, "2060",
             "db_evaluate: initiating DBMS service takeover (escalated repeated restart)");
    request_takeover(instance, dbms_host, probe->dbms_service);
    *last_restart = 0;
  }
  report_status(instance, status_faulted, record);
  force_delay = 1;
}

/* The local-mode stop of the monitors on the hosts of HA_REMOTEHOST. */
void stop_remote_monitors(const char *instance, const char *hosts) {
  std::string_view rest(hosts);
  for (;;) {
    size_t start = rest.find_first_not_of(host_separators);
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    size_t length = rest.find_first_of(host_separators);
    std::string host(rest.substr(0, length));
    rest.remove_prefix(length == std::string_view::npos ? rest.size() : length);

    std::string line =
        command_line(stop_local_command, host.c_str(), instance, probe->dbms_service);
    if (!shell_safe_word(host)) {
      /* The shell would read more than a host name: refuse the line. */
      hasyslog(LOG_ERR, "4110", "%s failed", line.c_str());
      continue;
    }
    if (debug_mode) {
      hasyslog(LOG_DEBUG, "0011", "MT: Shutting down fault monitor on %s : %s", host.c_str(),
               line.c_str());
    }
    if (!run_framework_command(line).succeeded()) {
      hasyslog(LOG_ERR, "4110", "%s failed", line.c_str());
    }
    if (debug_mode) hasyslog(LOG_NOTICE, "0013", "Executed: %s", line.c_str());
  }
}

/* stop: toggles the service off, stops the other monitors (local mode) or
** has the database node shut down (remote mode). Ends the loop. */
void stop_action(const char *instance, const db_info *record) {
  std::string toggle = command_line(toggle_command, probe->dbms_service, instance, "stop");
  command_status toggled = run_framework_command(toggle);
  if (!toggled.succeeded()) {
    hasyslog(LOG_ERR, "4110", "%s failed with exit code (%d)", toggle.c_str(), toggled.exit_status);
  }

  if (dbms_host) {
    hasyslog(LOG_ERR, "2100", "db_evaluate: shutdown db requested, but database is remote");
    std::string line = command_line(stop_remote_command, dbms_host, instance, probe->dbms_service);
    if (!run_framework_command(line).succeeded()) {
      hasyslog(LOG_ERR, "4110", "%s failed", line.c_str());
    }
  } else {
    if (const char *hosts = getenv("HA_REMOTEHOST")) {
      stop_remote_monitors(instance, hosts);
    } else {
      hasyslog(LOG_ERR, "2110", "db_evaluate: cannot stop the remote fault monitor");
    }
    hasyslog(LOG_ERR, "2120", "db_evaluate: shutdown database %s", instance);
    dorvexd_seam->shutdown_db(instance, probe->dbms_service, rpc_client);
    check_termination();
  }
  report_status(instance, status_faulted, record);
}

/* config: after the grace time from the loop's start, the framework's
** control command for the service (its status is not looked at). */
void config_action() {
  if (process_start + config_grace >= clock_seam->now()) {
    hasyslog(LOG_NOTICE, "2130", "db_evaluate: fault monitor died, but not restarting");
    return;
  }
  run_framework_command(command_line(config_command, probe->dbms_service));
}

/* fmstart: starts the monitor on the database node, at most once per 120
** seconds, the first time only after 120 seconds. There is no remote node
** in local mode: only 2130, and the clock is left alone. */
void fmstart_action(const char *instance) {
  if (!dbms_host) {
    hasyslog(LOG_NOTICE, "2130", "db_evaluate: fault monitor died, but not restarting");
    return;
  }
  time_t now = clock_seam->now();
  if (fmstart_time == 0) fmstart_time = now;
  if (fmstart_time + fmstart_spacing >= now) {
    hasyslog(LOG_NOTICE, "2130", "db_evaluate: fault monitor died, but not restarting");
    return;
  }
  hasyslog(LOG_NOTICE, "2132", "Attempting to start fault monitor on %s node", dbms_host);
  run_framework_command(command_line(fmstart_command, dbms_host, instance, probe->dbms_service));
  force_delay = 1;
  fmstart_time = clock_seam->now();
}

}  // namespace

extern "C" {

const char *db_state_str(int state) {
  for (const state_name &s : state_names) {
    if (s.state == state) return s.name;
  }
  return "unknown";
}

void display_state(const db_info *record, const char *process_died, const char *log_text,
                   int timeout) {
  if (!verbose_mode) return;
  hasyslog(LOG_INFO, "1040", "db_evaluate: Data are: Old State      %s",
           db_state_str(record->state));
  hasyslog(LOG_INFO, "1050", "db_evaluate:           DBMS error     %d", record->dbms_error);
  hasyslog(LOG_INFO, "1060", "db_evaluate:           Process died   %s",
           process_died ? process_died : "*");
  if (!log_text) {
    hasyslog(LOG_INFO, "1080", "db_evaluate:           Log message    *");
  } else {
    /* One message per non-empty line: a final newline adds no line. */
    std::string_view rest(log_text);
    while (!rest.empty()) {
      size_t end = rest.find('\n');
      std::string line(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      if (!line.empty()) {
        hasyslog(LOG_INFO, "1070", "db_evaluate:           Log message    %s", line.c_str());
      }
    }
  }
  hasyslog(LOG_INFO, "1090", "db_evaluate:           Time-Out       %d", timeout);
  hasyslog(LOG_INFO, "1100", "db_evaluate:           Internal Error %d", record->internal_error);
}

int request_takeover(const char *instance, const char *remote_host, const char *service) {
  std::string line = remote_host ? command_line(takeover_remote_command, service, service, instance)
                                 : command_line(takeover_local_command, service, service, instance);
  if (!run_framework_command(line).succeeded()) {
    hasyslog(LOG_ERR, "4170", "takeover request failed!");
    return 0;
  }
  return 1;
}

int apply_action_rule(const char *instance, db_info *record, const action_entry *rule,
                      time_t *last_restart, int restart_delay) {
  if (record->state == db_state_online) report_status(instance, status_online, record);

  if (rule->message) {
    hasyslog(rule->action != ACTION_NONE ? LOG_ERR : LOG_NOTICE, "2050", "db_evaluate: --- %s ---",
             rule->message);
    log_action_message("2050", rule->message);
  }

  switch (rule->action) {
    case ACTION_RESTART:
      restart_action(instance, record, last_restart, restart_delay);
      return 1;
    case ACTION_TAKEOVER:
      hasyslog(LOG_ERR, "2090", "db_evaluate: initiating DBMS service takeover");
      request_takeover(instance, dbms_host, probe->dbms_service);
      report_status(instance, status_faulted, record);
      force_delay = 1;
      return 1;
    case ACTION_STOP:
      stop_action(instance, record);
      return 0;
    case ACTION_CONFIG:
      config_action();
      return 1;
    case ACTION_FMSTART:
      fmstart_action(instance);
      return 1;
    default:
      if (verbose_mode) hasyslog(LOG_INFO, "1030", "db_evaluate: --- No action to be taken ---");
      if (record->internal_error == 1) report_status(instance, status_no_change, record);
      return 1;
  }
}

}  // extern "C"
