/*
** Shared fixture of the probe cycle suites: doubles of the clock, the
** command runner and the dorvexd client, a scratch directory with the
** scripted probe's script files, the monitor's log file, and clean-up of
** the probe child. The probe child is real: fork, pipes and poll.
*/
#ifndef DVZ_TESTS_CYCLE_SUPPORT_H
#define DVZ_TESTS_CYCLE_SUPPORT_H

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "../test_helpers.h"
#include "action_file.h"
#include "db_child.h"
#include "evaluate.h"
#include "log_scanner.h"
#include "monitor.h"
#include "monitor_seams.h"
#include "probe_cycle.h"
#include "run_probe.h"
#include "scripted_probe.h"
#include "svr4.h"
#include "testbed_support.h" /* wait_until */

namespace cycletest {

/* ---- clock double: time only moves when the code waits --------------- */
constexpr time_t T = 1700000000; /* the clock when a test starts */

struct clock_state {
  time_t now = 0;
  std::vector<int> waits;
};
inline clock_state &fake_clock() {
  static clock_state state;
  return state;
}
inline time_t fake_now() { return fake_clock().now; }
inline int fake_wait(int seconds) {
  fake_clock().waits.push_back(seconds);
  fake_clock().now += seconds;
  return 0;
}
inline const monitor_clock fake_clock_seam = {fake_now, fake_wait};

/* ---- command double: records command lines, answers by first word ----- */
struct command_state {
  std::vector<std::string> commands;
  std::map<std::string, int> exit_status; /* first word -> exit status */
  std::function<void(const std::string &)> on_run;
};
inline command_state &fake_commands() {
  static command_state state;
  return state;
}
inline int fake_run(const char *command) {
  command_state &s = fake_commands();
  std::string line = command;
  s.commands.push_back(line);
  if (s.on_run) s.on_run(line);
  std::string word = line.substr(0, line.find(' '));
  auto it = s.exit_status.find(word);
  return it == s.exit_status.end() ? 0 : it->second << 8;
}
inline const command_runner fake_command_seam = {fake_run};

/* ---- dorvexd double ---------------------------------------------------- */
struct dorvexd_state {
  std::vector<time_t> set_status_times; /* clock at each set_status */
  std::vector<std::string> calls; /* "set_status dvz1 <pid> <key>", ... */
  bool set_status_fails = false;
  std::optional<int32_t> get_status_answer = 0; /* nullopt: the call fails */
  bool create_fails = false;
  int creates = 0;
  int destroys = 0;
  std::function<void(int call)> on_set_status; /* 1-based call number */
  int32_t result = 0;
};
inline dorvexd_state &fake_dorvexd() {
  static dorvexd_state state;
  return state;
}
inline CLIENT *fake_client_handle() {
  static char storage[sizeof(CLIENT)];
  return reinterpret_cast<CLIENT *>(storage);
}
inline CLIENT *fake_create(const char *) {
  dorvexd_state &s = fake_dorvexd();
  ++s.creates;
  return s.create_fails ? nullptr : fake_client_handle();
}
inline void fake_destroy(CLIENT *) { ++fake_dorvexd().destroys; }
inline int32_t *fake_get_status(const char *instance, CLIENT *) {
  dorvexd_state &s = fake_dorvexd();
  s.calls.push_back(std::string("get_status ") + instance);
  if (!s.get_status_answer) return nullptr;
  s.result = *s.get_status_answer;
  return &s.result;
}
inline int32_t *fake_set_status(const char *instance, int32_t pid, int32_t key, CLIENT *) {
  dorvexd_state &s = fake_dorvexd();
  s.calls.push_back("set_status " + std::string(instance) + " " + std::to_string(pid) + " " +
                    std::to_string(key));
  s.set_status_times.push_back(clock_seam->now());
  if (s.on_set_status) s.on_set_status(static_cast<int>(s.set_status_times.size()));
  if (s.set_status_fails) return nullptr;
  s.result = 0;
  return &s.result;
}
inline void *fake_shutdown_db(const char *instance, const char *service, CLIENT *) {
  fake_dorvexd().calls.push_back(std::string("shutdown_db ") + instance + " " + service);
  return &fake_dorvexd().result;
}
inline int32_t *fake_update(const char *instance, const char *status, int32_t error, CLIENT *) {
  fake_dorvexd().calls.push_back(std::string("update_dbms_status ") + instance + " " + status +
                                 " " + std::to_string(error));
  return &fake_dorvexd().result;
}
inline const char *fake_sperror(CLIENT *, const char *header) {
  static std::string text;
  text = std::string(header) + ": RPC: Timed out";
  return text.c_str();
}
inline const char *fake_spcreateerror(const char *header) {
  static std::string text;
  text = std::string(header) + ": RPC: Program not registered";
  return text.c_str();
}
inline const dorvexd_client fake_dorvexd_seam = {
    fake_create,      fake_destroy, fake_get_status, fake_set_status,
    fake_shutdown_db, fake_update,  fake_sperror,    fake_spcreateerror};

using montest::probe_call;

/* Children of this process that are zombies (from /proc). */
inline std::vector<pid_t> zombie_children() {
  std::vector<pid_t> zombies;
  DIR *proc = opendir("/proc");
  if (!proc) return zombies;
  while (dirent *entry = readdir(proc)) {
    pid_t pid = atoi(entry->d_name);
    if (pid <= 0) continue;
    std::string stat = dvz_test::read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (sscanf(stat.c_str() + paren + 1, " %c %d", &state, &ppid) != 2) continue;
    if (ppid == getpid() && state == 'Z') zombies.push_back(pid);
  }
  closedir(proc);
  return zombies;
}

/* True once a reply waits to be read on fd, waiting at most `seconds`. */
inline bool wait_until_readable(int fd, double seconds = 30) {
  return testbed::wait_until(
      [fd] {
        pollfd ready {fd, POLLIN, 0};
        return poll(&ready, 1, 0) == 1;
      },
      seconds);
}

/* Number of open descriptors of this process. */
inline size_t open_descriptor_count() {
  size_t count = 0;
  for (auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

/* The fixture: seams on doubles, a scratch directory for the scripts, the
** monitor's log file (debug and verbose on) and the DBMS log, local mode. */
class CycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    fake_clock() = clock_state {};
    fake_clock().now = T;
    fake_commands() = command_state {};
    fake_dorvexd() = dorvexd_state {};
    clock_seam = &fake_clock_seam;
    command_seam = &fake_command_seam;
    dorvexd_seam = &fake_dorvexd_seam;

    std::filesystem::create_directory(script_dir());
    log_startup("fmon_test", "dvz1", "lh1", 1, verbose(), LOG_NOTICE, "2000", nullptr);
    open_hadbms_log("dovariza", hadbms_log().c_str());
    dvz_test::write_file(dbms_log(), "old text present at start-up\n");

    debug_mode = 1;
    verbose_mode = verbose();
    dbms_host = nullptr;
    instance_name = "dvz1";
    monitor_set_probe(&scripted_probe_ops);
    the_pid = getpid();
    dbms_serv_key = 4711;
    db_proc_pid = -1;
    probe_sequence = 0;
    reset_outstanding_message();
    fmstart_time = 0;
    force_delay = 0;
    forget_remote_client();
    fake_dorvexd().creates = fake_dorvexd().destroys = 0;
  }

  void TearDown() override {
    end_probe_child();
    while (waitpid(-1, nullptr, WNOHANG) > 0) {}
    forget_remote_client();
    db_child_fork = fork1;
    montest::restore_monitor_globals();
  }

  /* Verbose mode of the fixture's logging; a test may override. */
  virtual int verbose() const { return 1; }

  /* Kills and reaps the probe child, closes its pipes. */
  void end_probe_child() {
    if (db_proc_pid > 0) {
      kill(db_proc_pid, SIGKILL);
      waitpid(db_proc_pid, nullptr, 0);
    }
    db_proc_pid = -1;
    if (write_fd_ >= 0) close(write_fd_);
    if (read_fd_ >= 0) close(read_fd_);
    write_fd_ = read_fd_ = -1;
    reset_outstanding_message();
  }

  /* Waits for the probe child to end by itself, forgets it, and expects
  ** exit status 0. */
  void expect_probe_child_exits_zero() {
    int status = -1;
    ASSERT_EQ(db_proc_pid, waitpid(db_proc_pid, &status, 0));
    db_proc_pid = -1;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
  }

  std::string script_dir() const { return dir_.file("script"); }
  std::string hadbms_log() const { return dir_.file("hadbms.log"); }
  std::string dbms_log() const { return dir_.file("dbms.log"); }

  /* Writes the script of an operation (connect, stats, txn, disconnect). */
  void script(const std::string &op, const std::string &lines) const {
    dvz_test::write_file(script_dir() + "/" + op, lines);
  }

  /* The scripted probe's calls, in order. */
  std::vector<probe_call> calls() const {
    return montest::probe_calls(dvz_test::read_file(script_dir() + "/calls"));
  }

  /* Lines of the monitor's log file holding "<id>]" and text. */
  std::vector<std::string> log_lines(const std::string &id, const std::string &text = "") const {
    return montest::log_lines_of(dvz_test::read_file(hadbms_log()), id, text);
  }

  /* The outcome of one run_probe call. */
  struct outcome {
    int timeout = 0;
    std::optional<std::string> process_died;
    std::optional<std::string> log_text;
  };

  outcome probe(int time_out, int scheduled = 1) {
    outcome result;
    char *died = nullptr;
    const char *log_text = nullptr;
    EXPECT_EQ(1, run_probe("dvz1", &record_, &died, &log_text, &result.timeout, time_out,
                           &write_fd_, &read_fd_, scheduled));
    if (died) result.process_died = died;
    if (log_text) result.log_text = log_text;
    free(died);
    return result;
  }

  dvz_test::TempDir dir_;
  montest::LoggingScope logging_;
  montest::ScopedEnv script_env_ {"FM_SCRIPT_DIR", dir_.file("script")};
  db_info record_ = {db_state_connecting, 0, 0, 0};
  int write_fd_ = -1;
  int read_fd_ = -1;
};

}  // namespace cycletest

#endif
