/*
** Test support: the dorvexd double as a child process on an RPC program
** number of its own, commands run under the subreaper runner, reading what
** a program appended to a log, and bounded waits. Used by the GoogleTest
** suites only; it runs the executables built next to the test
** (<build>/bin/). Temporary directories and whole-file reads come from
** testbed/temp_dir (dvz_test::TempDir, dvz_test::read_file).
**
** Every helper that starts a process reaps it: nothing outlives the object
** that started it. Nothing here uses a machine-wide singleton: every run
** takes its own program number and paths.
*/
#ifndef DVZ_TESTBED_SUPPORT_H
#define DVZ_TESTBED_SUPPORT_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "temp_dir.h"

namespace testbed {

/* Directory holding this executable and every other built one
** (from /proc/self/exe); no trailing slash. */
std::string bin_dir();

/* Replaces a file's content atomically (temporary file + rename), so a
** reader sees either the old or the new text. Returns false on failure. */
bool replace_file(const std::string &path, std::string_view text);

/* Milliseconds of CLOCK_MONOTONIC, the one clock of the testbed's waits
** and deadlines (waits.cpp). */
int64_t monotonic_ms();

/* Polls `done` every 20 ms until it returns true or `timeout_seconds`
** passed. Returns the last value of `done`. (waits.cpp.) */
bool wait_until(const std::function<bool()> &done, double timeout_seconds);

/* Waits for the child `pid` at most `timeout_seconds`: its raw status, -1
** when it is no child of ours (reaped elsewhere), nullopt while it still
** runs. (waits.cpp.) */
std::optional<int> wait_bounded(pid_t pid, double timeout_seconds);

/* Stops the child `pid`: SIGTERM, then SIGKILL when it has not ended
** within `timeout_seconds`; reaps it. Its raw wait status, or -1 when it
** was reaped elsewhere. (waits.cpp.) */
int stop_child(pid_t pid, double timeout_seconds);

/* True when `rpcinfo -p localhost` succeeds (rpcbind answers). */
bool rpcbind_available();

/* Every live descendant of `root` (children, grandchildren, ...), from
** /proc; `root` itself excluded. (proc_tree.cpp.) */
std::vector<pid_t> descendants_of(pid_t root);

/* True once `pid` has ended (a zombie not yet reaped, or gone), waiting
** at most `timeout_seconds`. (proc_tree.cpp.) */
bool wait_until_ended(pid_t pid, double timeout_seconds = 30);

/* Writes all of `text` to `fd`, again after EINTR and short writes; false
** when a write fails (errno tells why, unless it wrote nothing). Used for
** report and journal lines that must not be lost to buffering.
** (proc_tree.cpp.) */
bool write_all(int fd, std::string_view text);

/* True when rpcbind on this machine lists `program` in any version over
** any transport (false too when rpcbind does not answer). (rpc_program.cpp.) */
bool rpc_program_registered(uint32_t program);
/* A number of the transient range 0x40000000..0x5fffffff that rpcbind does
** not list, drawn at random (seeded with the pid): runs on one machine
** start their doubles on different programs. */
uint32_t unused_rpc_program();
/* Removes every registration of program/version that rpcbind holds. */
void rpc_program_unset(uint32_t program, uint32_t version);

/* Exit status of the dorvexd double when the program number it was given
** is registered already. */
constexpr int dorvexd_program_taken = 4;

/* The dorvexd double (bin_dir()/dorvexd_double) on a program number of its
** own, running in a state directory: <dir>/ready, <dir>/control,
** <dir>/journal, and <dir>/double.log for its stdout and stderr. Formats:
** testbed/dorvexd/README.md. */
class DorvexdDouble {
 public:
  /* Removes a stale <dir>/ready, writes <dir>/control with `control` when
  ** not empty, starts the double on an unused program number (another one
  ** when a concurrent run took it first) and waits (at most
  ** `ready_seconds`) for <dir>/ready. Throws std::runtime_error when it
  ** does not get ready (the child is then killed and reaped). */
  explicit DorvexdDouble(std::string state_dir, std::string_view control = {},
                         double ready_seconds = 30);
  ~DorvexdDouble(); /* stop(10) when still running */
  DorvexdDouble(const DorvexdDouble &) = delete;
  DorvexdDouble &operator=(const DorvexdDouble &) = delete;

  pid_t pid() const { return pid_; } /* -1 once stopped or reaped */
  uint32_t program() const { return program_; } /* its RPC program number */
  /* "DVZ_TEST_RPC_PROGRAM=<program>", for the monitor's test build. */
  std::string program_env() const;
  const std::string &state_dir() const { return dir_; }
  std::string control_path() const;
  std::string journal_path() const;

  /* Replaces the control file atomically; the next call reads it. */
  bool write_control(std::string_view text) const;
  /* The journal's lines, without their newlines (empty when none). */
  std::vector<std::string> journal_lines() const;
  /* Waits until the journal holds `line` exactly; true when it does. */
  bool wait_for_journal_line(std::string_view line, double timeout_seconds = 30) const;

  /* SIGTERM, then waitpid (SIGKILL after `timeout_seconds`). Returns the
  ** raw wait status: 0 exactly when the double exited with status 0;
  ** -1 when it was not running. */
  int stop(double timeout_seconds = 30);
  /* SIGKILL and waitpid at once; then its rpcbind entries, which a killed
  ** double leaves behind, are removed. */
  void kill_and_reap();

 private:
  std::string dir_;
  uint32_t program_ = 0;
  pid_t pid_ = -1;
};

/* One process reaped by the subreaper runner. */
struct ReapedExit {
  pid_t pid = -1;
  bool exited = false; /* true: exit status; false: signal */
  int status = 0; /* exit status or signal number */
};

/* What subreaper_run reported. */
struct ReapedResult {
  pid_t child = -1; /* the direct child ("started <pid>") */
  std::vector<ReapedExit> reaped; /* in the order reaped */
  bool timed_out = false; /* runner exited 3: descendants killed */
  int runner_status = -1; /* runner's raw wait status */
  std::string report; /* the runner's report, verbatim */
  std::string output; /* the command tree's stdout + stderr */

  /* The entry of `pid`, or nullptr. */
  const ReapedExit *find(pid_t pid) const;
  /* Entries other than the direct child's (e.g. a daemon it forked). */
  std::vector<ReapedExit> others() const;
};

/* Runs bin_dir()/subreaper_run [--timeout S] --out <file> -- argv...
** asynchronously. `env` entries "VAR=value" set a variable for the command,
** an entry "VAR" (no '=') removes it; the rest of the test's environment is
** inherited. stdin is /dev/null; stdout and stderr go to a file whose text
** ends up in ReapedResult::output. `timeout_seconds` <= 0: no time-out.
** Unless the test's environment sets LSAN_OPTIONS, the command (like the
** double) gets suppressions=testbed/support/lsan.supp, so libtirpc's own
** leaks do not change its exit status under the sanitizers. */
class ReapedRunner {
 public:
  ReapedRunner(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
               double timeout_seconds = 60); /* throws std::runtime_error */
  ~ReapedRunner(); /* kills what still runs and reaps it */
  ReapedRunner(const ReapedRunner &) = delete;
  ReapedRunner &operator=(const ReapedRunner &) = delete;

  pid_t runner_pid() const { return runner_; }
  /* The direct child's pid, waiting (bounded) for "started"; -1 on failure. */
  pid_t child(double timeout_seconds = 30);
  /* Every live descendant of the runner, from /proc (child, grandchildren). */
  std::vector<pid_t> live_descendants() const;
  /* Waits for the runner to finish (it has its own time-out) and parses its
  ** report. May be called once. */
  ReapedResult wait();

 private:
  dvz_test::TempDir dir_;
  pid_t runner_ = -1;
  double timeout_ = 0;
};

/* run_reaped: ReapedRunner(argv, env, timeout_seconds).wait(). */
ReapedResult run_reaped(const std::vector<std::string> &argv,
                        const std::vector<std::string> &env = {}, double timeout_seconds = 60);

/* Text appended to a file after construction. */
class LogTail {
 public:
  /* Remembers the current size of `path` (0 when it does not exist). */
  explicit LogTail(std::string path);
  /* Bytes written after construction (all of it when the file shrank). */
  std::string appended() const;
  /* Waits until appended() contains `text`; true when it does. */
  bool wait_for(std::string_view text, double timeout_seconds = 30) const;

 private:
  std::string path_;
  off_t start_ = 0;
};

/* The journal form of a string argument: "" for an empty one; bytes
** outside 0x21..0x7e and the bytes \ and " as \xNN (lower-case hex). */
std::string journal_escape(std::string_view text);

}  // namespace testbed

#endif
