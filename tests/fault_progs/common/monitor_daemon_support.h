/*
** Base fixture of the suites that run the monitor's test build (the
** monitor's own code with the scripted probe) as a daemon under the
** subreaper runner, against the dorvexd double on rpcbind, with the fake
** framework commands first in PATH: the scratch layout (script/, fake/,
** dorvexd/, the DBMS log, the action file, the monitor's own hadbms.log and
** syslog socket), the environment every run shares, the launch, and
** reading the double's journal and the monitor's log. Each run has its own
** RPC program number, log file and syslog socket: runs of the suites on
** one machine never meet. The daemon suites (cycle/) and the end-to-end
** scenarios (tests/e2e) derive from it.
*/
#ifndef DVZ_TESTS_MONITOR_DAEMON_SUPPORT_H
#define DVZ_TESTS_MONITOR_DAEMON_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "testbed_support.h"
#include "text_lines.h"

namespace montest {

/* The test build the fixture runs unless a suite names another. */
constexpr const char monitor_program[] = "dovariza_fmon_scripted";

class MonitorDaemonTest : public ::testing::Test {
 protected:
  /* REQUIRES: program names a test build in testbed::bin_dir(). */
  explicit MonitorDaemonTest(std::string program = monitor_program)
      : program_(std::move(program)) {}

  /* Lays out the scratch directory with the DBMS log's and the action
  ** file's first texts, starts reading the run's hadbms.log, and starts the
  ** double with `control`. */
  void prepare(const std::string &dbms_log, const std::string &actions,
               const std::string &control) {
    std::filesystem::create_directory(dir_.file("script"));
    std::filesystem::create_directory(dir_.file("fake"));
    std::filesystem::create_directory(dir_.file("dorvexd"));
    dir_.write("dbms.log", dbms_log);
    dir_.write("actions", actions);
    tail_ = std::make_unique<testbed::LogTail>(hadbms_log());
    double_ = std::make_unique<testbed::DorvexdDouble>(dir_.file("dorvexd"), control);
  }

  /* The environment every run shares; `extra` entries come last and win
  ** ("VAR" alone removes VAR). */
  std::vector<std::string> environment(const std::vector<std::string> &extra) const {
    std::string fake_commands = testbed::bin_dir() + "/../fake_commands";
    const char *path = getenv("PATH");
    std::vector<std::string> env = {
        "DBMS_SERV_PID=" + std::to_string(double_->pid()),
        double_->program_env(),
        "DVZ_TEST_HADBMS_LOG=" + hadbms_log(),
        "DVZ_TEST_SYSLOG_SOCKET=" + syslog_socket(),
        "DBMS_SERV_KEY=4711",
        "HA_DBMS_VERBOSE=1",
        "HA_DBMS_DEBUG=1",
        "HA_FM_DBMSPROBE_DELAY=0",
        "HA_DBMS_LOG_DISABLE",
        "HA_SLOGTAG=t01",
        "DB_LOGIN=dvzdb",
        "DOVARIZASERVER=dvzserver",
        "ONCONFIG=onconfig.dvz1",
        "FM_SCRIPT_DIR=" + dir_.file("script"),
        "FM_FAKE_JOURNAL=" + dir_.file("commands"),
        "FM_FAKE_DIR=" + dir_.file("fake"),
        "PATH=" + fake_commands + ":" + (path ? path : "/usr/bin:/bin"),
    };
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

  /* The run's own log file and syslog socket (nothing binds the socket
  ** unless a test does: the messages are then dropped). */
  std::string hadbms_log() const { return dir_.file("hadbms.log"); }
  std::string syslog_socket() const { return dir_.file("syslog"); }

  /* Starts the monitor with `operands` and `env` under the runner, which
  ** ends the tree after `runner_timeout` seconds. */
  std::unique_ptr<testbed::ReapedRunner> launch(std::vector<std::string> operands,
                                                const std::vector<std::string> &env,
                                                double runner_timeout) const {
    operands.insert(operands.begin(), testbed::bin_dir() + "/" + program_);
    return std::make_unique<testbed::ReapedRunner>(operands, env, runner_timeout);
  }

  /* The daemon's pid from its registration in the double's journal, after
  ** line `from`; -1 when it does not register within the time. */
  pid_t daemon_pid(size_t from = 0, double seconds = 30) const {
    pid_t pid = -1;
    testbed::wait_until(
        [&] {
          std::vector<std::string> lines = double_->journal_lines();
          for (size_t i = from; i < lines.size(); ++i) {
            int found = 0, key = 0;
            if (sscanf(lines[i].c_str(), "set_status dvz1 %d %d", &found, &key) == 2 &&
                found != 0) {
              pid = found;
              return true;
            }
          }
          return false;
        },
        seconds);
    return pid;
  }

  /* Journal lines equal to `line`, from line `from` on. */
  size_t journal_count(const std::string &line, size_t from = 0) const {
    std::vector<std::string> lines = double_->journal_lines();
    size_t count = 0;
    for (size_t i = from; i < lines.size(); ++i)
      count += lines[i] == line ? 1 : 0;
    return count;
  }

  /* Lines of the monitor's log written since the fixture started that hold
  ** ".<id>]" and `text`. */
  std::vector<std::string> log_lines(const std::string &id, const std::string &text = "") const {
    return log_lines_of(tail_->appended(), id, text);
  }

  /* Waits until a new 0010 ("going into sleep") is the last line of the
  ** monitor's log: the monitor then sleeps with no RPC call and no request
  ** in flight, so killing dorvexd or the child now is seen at the next turn. */
  bool wait_until_sleeping(double seconds = 30) const {
    size_t before = log_lines("0010").size();
    return testbed::wait_until(
        [&] {
          std::vector<std::string> lines = lines_of(tail_->appended());
          return log_lines("0010").size() > before && !lines.empty() &&
                 lines.back().find(".0010]: ") != std::string::npos;
        },
        seconds);
  }

  /* The scripted probe's calls, in order. */
  std::vector<probe_call> calls() const {
    return probe_calls(dvz_test::read_file(dir_.file("script/calls")));
  }

  /* True when the runner reaped `pid` with exit status `status`. */
  static bool has_exit(const testbed::ReapedResult &result, pid_t pid, int status) {
    const testbed::ReapedExit *e = result.find(pid);
    return e && e->exited && e->status == status;
  }

  std::string program_; /* the test build launched */
  dvz_test::TempDir dir_;
  std::unique_ptr<testbed::LogTail> tail_;
  std::unique_ptr<testbed::DorvexdDouble> double_;
};

}  // namespace montest

#endif
