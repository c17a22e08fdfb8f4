/*
** The scripted probe: the probe interface answered from script files
** instead of a database, for the monitor's test build and its unit
** suites. db_main and the check of the restart command's ONCONFIG are
** the Dovariza probe's own, so the monitor's start-up and restart run end
** to end under the same rules as in production.
**
** Each call of dbms_connect, dbms_statistics, dbms_test_transaction or
** dbms_disconnect reads $FM_SCRIPT_DIR/<op> (op: connect, stats, txn,
** disconnect): one line per call, in order, the last line repeating; a
** missing or empty file means "ok". Lines:
**   ok                 success (for stats: no counter grew, like idle)
**   active | idle      stats only: a counter grew (1) / none grew (0)
**   err <n>            DBMS error n: stored, logged under 2540, returns 0
**   sleep <s>          sleeps s seconds, then behaves as ok
**   crash              _exit(3) without replying
**   hang               blocks until a signal arrives, like a call into a
**                      server that never answers; a termination signal
**                      then ends the probe child through its own check
** Calls are counted across processes through the journal
** $FM_SCRIPT_DIR/calls, one line per call: "<pid> <op> remote=<0|1>", so a
** new probe child goes on where the previous one stopped.
**
** Reached only through scripted_probe_ops: by the monitor's probe child
** (the four operations), its start-up (db_main) and the restart action
** (ha_db_restart). Calls hasyslog and the monitor's command seam, and the
** Dovariza probe's db_main and ONCONFIG check (dovariza_probe.h).
** Never writes the internal-error field.
*/
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/types.h>
#include <syslog.h>
#include <unistd.h>

#include "dovariza_probe.h"
#include "monitor.h"
#include "monitor_seams.h"
#include "scripted_probe.h"

namespace {

enum class step_kind { ok, active, idle, err, sleep, crash, hang };

struct script_step {
  step_kind kind = step_kind::ok;
  int number = 0; /* err: the DBMS error */
  double seconds = 0; /* sleep */
};

struct keyword {
  std::string_view word;
  step_kind kind;
};
constexpr keyword keywords[] = {
    {"ok", step_kind::ok},     {"active", step_kind::active}, {"idle", step_kind::idle},
    {"err", step_kind::err},   {"sleep", step_kind::sleep},   {"crash", step_kind::crash},
    {"hang", step_kind::hang},
};

/* The context texts of the 2540 message, by operation. */
struct operation {
  const char *name;
  const char *context;
};
constexpr operation op_connect = {"connect", "connecting to database"};
constexpr operation op_stats = {"stats", "reading statistics"};
constexpr operation op_txn = {"txn", "test transaction"};
constexpr operation op_disconnect = {"disconnect", "disconnecting from database"};

int scripted_sqlcode = 0; /* last SQL status: negated DBMS error */

std::string script_dir() {
  const char *dir = getenv("FM_SCRIPT_DIR");
  return dir ? dir : "";
}

/* Number of earlier calls of op in the journal. */
size_t earlier_calls(const std::string &journal, const char *op) {
  std::ifstream in(journal);
  size_t count = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string pid, name;
    if (fields >> pid >> name && name == op) ++count;
  }
  return count;
}

/* Appends one journal line in a single write, so lines never interleave. */
void journal_call(const std::string &journal, const char *op, bool remote) {
  char line[128];
  int n = snprintf(line, sizeof line, "%d %s remote=%d\n", static_cast<int>(getpid()), op,
                   remote ? 1 : 0);
  int fd = open(journal.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line, static_cast<size_t>(n)) < 0) {
    /* A journal that cannot be written only costs the test its evidence. */
  }
  close(fd);
}

/* Reads one script line; an unknown word is treated as ok. */
script_step parse_step(const std::string &line) {
  std::istringstream in(line);
  std::string word;
  script_step step;
  if (!(in >> word)) return step;
  for (const keyword &k : keywords) {
    if (word == k.word) step.kind = k.kind;
  }
  if (step.kind == step_kind::err) in >> step.number;
  if (step.kind == step_kind::sleep) in >> step.seconds;
  return step;
}

/* Journals this call and returns the script line for it. */
script_step next_step(const operation &op, bool remote) {
  std::string dir = script_dir();
  if (dir.empty()) return {};
  std::string journal = dir + "/calls";
  size_t index = earlier_calls(journal, op.name);
  journal_call(journal, op.name, remote);

  std::ifstream in(dir + "/" + op.name);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line))
    lines.push_back(line);
  while (!lines.empty() && lines.back().find_first_not_of(" \t\r") == std::string::npos)
    lines.pop_back();
  if (lines.empty()) return {};
  return parse_step(lines[index < lines.size() ? index : lines.size() - 1]);
}

/* Sleeps the whole time even when signals (SIGCHLD) interrupt it. */
void sleep_seconds(double seconds) {
  if (seconds <= 0) return;
  timespec left;
  left.tv_sec = static_cast<time_t>(seconds);
  left.tv_nsec = static_cast<long>((seconds - static_cast<double>(left.tv_sec)) * 1e9);
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
}

/* Logs the current SQL status under the context text (2540); returns
** -sqlcode, the DBMS error. */
int dbms_err_msg(const char *context) {
  hasyslog(LOG_ERR, "2540", "DBMS Error: %s: %d %s", context ? context : "", scripted_sqlcode,
           "scripted error");
  return -scripted_sqlcode;
}

/* Carries out a step. Returns 1 for success, 0 after an error (stored in
** *dbms_error); `active` gives 1 and `idle` 0. crash never returns, and
** hang only once a signal cut it short. */
int perform(const operation &op, const script_step &step, int *dbms_error) {
  switch (step.kind) {
    case step_kind::crash:
      _exit(3);
    case step_kind::hang:
      pause();
      return 1;
    case step_kind::err:
      scripted_sqlcode = -step.number;
      *dbms_error = dbms_err_msg(op.context);
      return 0;
    case step_kind::sleep:
      sleep_seconds(step.seconds);
      return 1;
    case step_kind::idle:
      return 0;
    case step_kind::ok:
    case step_kind::active:
      return 1;
  }
  return 1;
}

int scripted_session_id = 0; /* connect attempts made by this process */

int dbms_connect(const char *remote, int *internal_error, int *dbms_error) {
  (void)internal_error;
  ++scripted_session_id;
  return perform(op_connect, next_step(op_connect, remote != nullptr), dbms_error);
}

int dbms_statistics(int *internal_error, int *dbms_error) {
  (void)internal_error;
  script_step step = next_step(op_stats, dbms_host != nullptr);
  int result = perform(op_stats, step, dbms_error);
  /* ok and sleep mean idle for the statistics; only active is 1. */
  return step.kind == step_kind::active ? result : 0;
}

int dbms_test_transaction(const char *remote, int *internal_error, int *dbms_error) {
  (void)internal_error;
  return perform(op_txn, next_step(op_txn, remote != nullptr), dbms_error);
}

int dbms_disconnect(int *internal_error, int *dbms_error) {
  (void)internal_error;
  return perform(op_disconnect, next_step(op_disconnect, dbms_host != nullptr), dbms_error);
}

void ha_db_restart(const char *remote) {
  if (remote) {
    hasyslog(LOG_INFO, "1510", "ha_db_restart ignored - monitor is remote");
    return;
  }
  const char *onconfig = getenv("ONCONFIG");
  if (!onconfig) onconfig = "";
  std::string command = "dovariza_kelpo " + std::to_string(the_pid) + " " + onconfig;
  /* The value goes unquoted into a shell command line: refuse anything
  ** that the shell could read as more than one plain word. */
  if (!onconfig_is_plain(onconfig) || command_seam->run(command.c_str()) != 0) {
    hasyslog(LOG_ERR, "4510", "dovariza_kelpo %d %s failed", the_pid, onconfig);
  }
}

}  // namespace

const probe_ops scripted_probe_ops = {
    .db_main = db_main,
    .dbms_connect = dbms_connect,
    .dbms_statistics = dbms_statistics,
    .dbms_test_transaction = dbms_test_transaction,
    .dbms_disconnect = dbms_disconnect,
    .ha_db_restart = ha_db_restart,
    .dbms_service = "dovariza",
    .dbms_usage = "",
};
