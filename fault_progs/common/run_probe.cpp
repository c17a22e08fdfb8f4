/*
** One probe of the main loop (run_probe) and the checks around it: the
** remote status query of the database node's dorvexd (ha_db_ping_remote)
** and the Varnholt process check (ha_db_monitor_processes).
**
** Called by monitor_db once per turn. Drives the probe child through
** db_child (fork, requests, replies), framework commands through
** run_framework_command, the remote dorvexd through the dorvexd seam, and
** reads the DBMS log through log_scanner.
**
** The reply wait polls the reply pipe and the termination self-pipe; a
** termination signal runs the exit path from here. A stale reply (one whose
** sequence number is not the current request's) is dropped and the wait
** goes on for the rest of the time-out, so one timeout never leaves the
** monitor a reply behind.
*/
#include "run_probe.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <poll.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "evaluate.h"
#include "framework_command.h"
#include "log_scanner.h"
#include "monitor.h"
#include "monitor_seams.h"
#include "monitor_signals.h"

extern "C" {
int32_t probe_sequence = 0;
}

namespace {

constexpr int32_t max_sequence = 25000;
constexpr int public_net_skip = 98; /* marnoping: skip this probe */
constexpr int public_net_down = 99; /* marnoping: public network down */

/* The framework's command lines: the public-network check (remote host)
** and the Varnholt process check (instance, listener). */
constexpr const char public_net_command[] = "marnoping %s";
constexpr const char listener_check_command[] = "varnholt_vimtask %s %s";

constexpr const char died_local[] = "ha_dbms_local";
constexpr const char died_public_net[] = "public_net";
constexpr const char died_remote[] = "ha_dbms_remote";

CLIENT *remote_client = nullptr;

/* Replaces the probe's process-died text with a fresh copy of text. */
void set_process_died(char **process_died, const char *text) {
  free(*process_died);
  *process_died = strdup(text);
}

/* Ends the probe child and forgets it and its pipes. */
void end_child(int *write_fd, int *read_fd) {
  disconnect_db_thread(db_proc_pid, *write_fd, *read_fd);
  *write_fd = -1;
  *read_fd = -1;
  db_proc_pid = -1;
}

/* Reaps every ended child of ours; true when the probe child was among
** them. kill(pid, 0) cannot tell: it succeeds on a zombie. */
bool reap_ended_children() {
  bool probe_child_ended = false;
  pid_t pid;
  while ((pid = waitpid(-1, nullptr, WNOHANG)) > 0) {
    if (pid == db_proc_pid) probe_child_ended = true;
  }
  return probe_child_ended;
}

enum class wait_result { reply, timeout, failed };

/* Waits up to time_out seconds for the reply to the request numbered
** `sequence`, dropping stale replies on the way. On wait_result::reply,
** *reply holds it. wait_result::failed means the pipe or poll failed (and
** was logged). */
wait_result wait_for_reply(int read_fd, int time_out, int32_t sequence, db_info *reply) {
  /* In 64 bits, clamped: the int product overflows, and a negative poll
  ** limit would wait for ever. */
  int64_t limit = static_cast<int64_t>(time_out < 0 ? 0 : time_out) * 1000;
  if (limit > INT_MAX) limit = INT_MAX;
  int term_fd = termination_fd();
  int64_t start = monotonic_ms();

  for (;;) {
    int64_t elapsed = monotonic_ms() - start;
    int remaining = elapsed >= limit ? 0 : static_cast<int>(limit - elapsed);
    pollfd fds[2] = {{read_fd, POLLIN, 0}, {term_fd, POLLIN, 0}};
    int rc = poll(fds, term_fd >= 0 ? 2 : 1, remaining);
    if (debug_mode) hasyslog(LOG_DEBUG, "0060", "MT: finished poll with %d", rc);
    if (rc < 0) {
      if (errno == EINTR) {
        check_termination();
        continue;
      }
      hasyslog(LOG_NOTICE, "2040", "MT: poll failed with %m");
      return wait_result::failed;
    }
    if (rc == 0) return wait_result::timeout;
    if (term_fd >= 0 && fds[1].revents != 0) {
      check_termination();
      term_fd = -1; /* a byte with no signal recorded: stop watching it */
    }
    if (fds[0].revents == 0) continue;
    if (!receive_db_info(reply, read_fd)) return wait_result::failed;
    if (reply->sequence == sequence) return wait_result::reply;
    /* A late reply to a request given up earlier: drop it, keep waiting. */
  }
}

}  // namespace

extern "C" {

int run_probe(const char *instance, db_info *record, char **process_died, const char **log_text,
              int *timeout, int time_out, int *write_fd, int *read_fd, int scheduled) {
  if (debug_mode) hasyslog(LOG_DEBUG, "0040", "MT: starting new probe");
  record->dbms_error = 0;
  record->internal_error = 0;

  bool ended = reap_ended_children();
  if (db_proc_pid > 0 && (ended || (kill(db_proc_pid, 0) != 0 && errno == ESRCH))) {
    /* Already reaped: its pid may belong to another process by now, so it
    ** gets no signal. */
    disconnect_db_thread(-1, *write_fd, *read_fd);
    *write_fd = -1;
    *read_fd = -1;
    db_proc_pid = -1;
  }

  if (db_proc_pid < 0) {
    pid_t pid = fork_db_process(write_fd, read_fd);
    if (pid == 0) ha_db_thread(*write_fd, *read_fd);
    db_proc_pid = pid;
    if (pid < 0) {
      *write_fd = -1;
      *read_fd = -1;
      record->internal_error = 1;
    } else {
      record->state = db_state_connecting; /* a new child must connect first */
    }
  }

  if (dbms_host) {
    int status = run_framework_command(command_line(public_net_command, dbms_host)).exit_status;
    if (status == public_net_skip) {
      /* Nothing was probed: the turn must not look like a probe that worked. */
      if (debug_mode) {
        hasyslog(LOG_DEBUG, "0150", "run_probe: public network status 98 - probe skipped");
      }
      return 0;
    }
    if (status == public_net_down) {
      set_process_died(process_died, died_public_net);
      return 1;
    }
  }

  if (db_proc_pid > 0) {
    if (!outstanding_message()) {
      if (probe_sequence >= max_sequence) probe_sequence = 0;
      record->sequence = ++probe_sequence;
      if (!send_db_info(record, *write_fd)) {
        end_child(write_fd, read_fd);
        set_process_died(process_died, died_local);
      }
    }
    if (outstanding_message()) {
      if (debug_mode) hasyslog(LOG_DEBUG, "0050", "MT: going into wait for DB thread");
      db_info reply;
      switch (wait_for_reply(*read_fd, time_out, record->sequence, &reply)) {
        case wait_result::timeout:
          *timeout = 1;
          if (record->state == db_state_disconnecting) end_child(write_fd, read_fd);
          reset_outstanding_message();
          break;
        case wait_result::failed:
          end_child(write_fd, read_fd);
          set_process_died(process_died, died_local);
          break;
        case wait_result::reply:
          if (reply.state == record->state) {
            *record = reply;
          } else if (verbose_mode) {
            hasyslog(LOG_INFO, "1020", "MT ignored reply because of state change after timeout");
          }
          break;
      }
    }
  }
  if (debug_mode) hasyslog(LOG_DEBUG, "0070", "MT: done waiting for DB thread");

  if (dbms_host) {
    if (scheduled || *timeout) {
      if (ha_db_ping_remote(dbms_host, instance, &record->internal_error, process_died))
        fmstart_time = 0;
    }
  } else {
    ha_db_monitor_processes(instance);
    *log_text = scan_log_file();
  }
  return 1;
}

int ha_db_ping_remote(const char *host, const char *instance, int32_t *internal_error,
                      char **process_died) {
  (void)internal_error;
  if (!remote_client) {
    remote_client = dorvexd_seam->create(host);
    check_termination();
    if (!remote_client) {
      hasyslog(LOG_ERR, "4230", "could not establish connection to dorvexd process on host %s",
               dorvexd_seam->spcreateerror(host));
    }
  }
  if (remote_client) {
    int32_t *status = dorvexd_seam->get_status(instance, remote_client);
    check_termination();
    if (!status) {
      hasyslog(LOG_ERR, "4240", "%s",
               dorvexd_seam->sperror(remote_client, "ha_db_ping_remote failed"));
      dorvexd_seam->destroy(remote_client);
      remote_client = nullptr;
    } else if (*status != 0) {
      if (debug_mode) {
        time_t when = *status;
        char text[64];
        /* The ctime text, newline included, as 0140 shows it. */
        hasyslog(LOG_DEBUG, "0120", "ha_db_ping_remote: RPC call returned %s",
                 ctime_r(&when, text) ? text : "?\n");
      }
      return 1;
    } else if (debug_mode) {
      hasyslog(LOG_DEBUG, "0130", "ha_db_ping_remote: RPC call returned 0");
    }
  }
  set_process_died(process_died, died_remote);
  return 0;
}

int ha_db_monitor_processes(const char *instance) {
  if (strcmp(probe->dbms_service, "varnholt") != 0) return 1;
  const char *listener = getenv("VARNHOLT_LISTENER");
  if (!listener) listener = "";
  std::string command = command_line(listener_check_command, instance, listener);
  if (!shell_safe_word(listener)) {
    /* The shell would read more than a listener name: refuse the line. */
    hasyslog(LOG_ERR, "4110", "%s failed", command.c_str());
    return 0;
  }
  command_status status = run_framework_command(command);
  if (!status.succeeded()) {
    hasyslog(LOG_ERR, "4192", "%s failed with status %d : error %d", command.c_str(),
             status.exit_status, status.error_number);
    return 0;
  }
  return 1;
}

}  // extern "C"

void forget_remote_client() {
  if (remote_client) dorvexd_seam->destroy(remote_client);
  remote_client = nullptr;
}
