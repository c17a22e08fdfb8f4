/*
** The probe schedule and the main loop of the monitor (monitor_db).
**
** main calls set_probe_cycle while checking its arguments and monitor_db
** once registered. Each turn checks that dorvexd still exists, waits for
** the schedule (or re-probes at once after a state change), renews the
** registration (start_probe), runs one probe (run_probe) and evaluates it
** (db_evaluate), unless the probe was skipped; then it releases the probe's
** log text. Time and waits go through the clock seam, the renewal through
** the dorvexd seam.
**
** Termination signals are only recorded by their handler; this loop runs
** the exit path itself, after every wait and every RPC call.
*/
#include "probe_cycle.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

#include <syslog.h>

#include "db_child.h"
#include "evaluate.h"
#include "log_scanner.h"
#include "monitor.h"
#include "monitor_seams.h"
#include "monitor_signals.h"
#include "run_probe.h"

extern "C" {

int probe_cycle_time = 0;
time_t next_probe_scheduled = 0;
time_t last_probe_started = 0;
int connect_cycle_count = 0;
int on_line_probe_count = 0;

}  // extern "C"

namespace {

/* Immediate re-probes allowed in a row before the schedule is waited for. */
constexpr int max_immediate_probes = 4;

/* The pid of dorvexd from DBMS_SERV_PID, or 0 when it is unset or unusable:
** 0, negative values and texts that are not a decimal number would make
** kill(pid, 0) test a process group (or every process) and never fail. */
pid_t dorvexd_pid_from_env() {
  const char *text = getenv("DBMS_SERV_PID");
  if (!text) return 0;
  char *end = nullptr;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (end == text || errno != 0 || value <= 0 || value > INT_MAX) return 0;
  while (*end == ' ' || *end == '\t' || *end == '\n')
    ++end;
  if (*end != '\0') return 0;
  return static_cast<pid_t>(value);
}

/* kill(pid, 0) fails with EPERM for a process that exists but is not ours
** to signal: only ESRCH means dorvexd is gone. */
bool process_gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

/* Ends the monitor (2020) when dorvexd no longer exists. */
void end_if_dorvexd_gone(pid_t dorvexd_pid, const char *instance) {
  if (!process_gone(dorvexd_pid)) return;
  hasyslog(LOG_NOTICE, "2020",
           "%s vuzu has to commit suicide, because the database service %s has died",
           probe->dbms_service, instance);
  fault_mon_exit(SIGTERM);
}

/* Waits until the next scheduled probe, in as many waits as it takes; true
** when it waited at all. A termination signal ends the monitor here. */
bool wait_for_schedule() {
  bool waited = false;
  int delay;
  while ((delay = delay_until_next_probe()) > 0) {
    if (debug_mode) hasyslog(LOG_DEBUG, "0010", "MT: going into sleep for %ds", delay);
    if (clock_seam->wait(delay) != 0) check_termination();
    if (debug_mode) hasyslog(LOG_DEBUG, "0020", "MT: Coming out of sleep call");
    waited = true;
  }
  return waited;
}

}  // namespace

extern "C" {

int set_probe_cycle(int cycle, int count) {
  probe_cycle_time = cycle;
  connect_cycle_count = count;
  next_probe_scheduled = clock_seam->now();
  last_probe_started = 0;
  on_line_probe_count = 0;
  return cycle >= 1 && count >= 0 ? 1 : 0;
}

int delay_until_next_probe(void) {
  time_t now = clock_seam->now();
  time_t delay = next_probe_scheduled - now;
  if (delay <= 0) return 0;
  if (delay > probe_cycle_time) {
    /* Only a wall clock stepped back gets here: start a grid from now
    ** rather than wait out the step. */
    next_probe_scheduled = now + probe_cycle_time;
    return probe_cycle_time;
  }
  return static_cast<int>(delay);
}

int start_probe(const char *instance, int on_line) {
  last_probe_started = clock_seam->now();

  int32_t *renewed = dorvexd_seam->set_status(instance, the_pid, dbms_serv_key, rpc_client);
  check_termination();
  if (!renewed) {
    hasyslog(LOG_ERR, "4290", "%s",
             dorvexd_seam->sperror(rpc_client, "RPC call set_status_1 to dorvexd failed"));
    fault_mon_exit(SIGTERM);
  }

  /* Whole steps only: the grid stays anchored at start-up. */
  if (next_probe_scheduled <= last_probe_started && probe_cycle_time > 0) {
    time_t steps = (last_probe_started - next_probe_scheduled) / probe_cycle_time + 1;
    next_probe_scheduled += steps * probe_cycle_time;
  }

  if (on_line && connect_cycle_count > 0) {
    if (on_line_probe_count >= connect_cycle_count) {
      on_line_probe_count = 0;
      return 1;
    }
    ++on_line_probe_count;
  } else {
    on_line_probe_count = 0;
  }
  return 0;
}

time_t last_probe(void) { return last_probe_started; }

int monitor_db(const char *instance, int time_out, int restart_delay, action_list *list,
               const char *dbms_log_file) {
  process_start = clock_seam->now();
  if (!dbms_host) init_scan_log_file(dbms_log_file);

  pid_t dorvexd_pid = dorvexd_pid_from_env();
  if (dorvexd_pid <= 0) {
    hasyslog(LOG_ERR, "2010", " can't get database service PID");
    fault_mon_exit(SIGTERM);
  }

  db_info record = {};
  record.state = db_state_connecting;
  time_t last_restart = 0;
  int previous_state = 0; /* no state yet: the first probe counts as a change */
  int immediate_probes = 0;
  int scheduled = 0;
  int write_fd = -1;
  int read_fd = -1;

  for (;;) {
    check_termination();
    end_if_dorvexd_gone(dorvexd_pid, instance);

    if (record.state != previous_state && force_delay == 0 &&
        immediate_probes < max_immediate_probes) {
      if (debug_mode) hasyslog(LOG_DEBUG, "0030", "MT: state change!");
      ++immediate_probes;
    } else {
      immediate_probes = 0;
      force_delay = 0;
      /* The wait is most of a turn: a dorvexd lost during it is reported
      ** as such, not as the failed renewal it would cause. */
      if (wait_for_schedule()) end_if_dorvexd_gone(dorvexd_pid, instance);
      scheduled = 1;
    }

    previous_state = record.state;
    if (start_probe(instance, record.state == db_state_online)) {
      if (verbose_mode) hasyslog(LOG_INFO, "1010", "Breaking DB connection for connectivity probe");
      record.state = db_state_disconnecting;
    }

    int timeout = 0;
    char *process_died = nullptr;
    const char *log_text = nullptr;
    int probed = run_probe(instance, &record, &process_died, &log_text, &timeout, time_out,
                           &write_fd, &read_fd, scheduled);
    /* A skipped probe takes no rule: no report, and the state stays. */
    int go_on = probed ? db_evaluate(instance, &record, process_died, log_text, timeout, list,
                                     &last_restart, restart_delay)
                       : 1;
    free(process_died);
    release_log_text(); /* a burst of log text is not kept until the next probe */
    if (!go_on) break;
  }

  if (db_proc_pid > 0) kill(db_proc_pid, SIGTERM);
  hasyslog(LOG_NOTICE, "2030", "%s fault monitor for %s exiting...", probe->dbms_service, instance);
  return 0;
}

}  // extern "C"
