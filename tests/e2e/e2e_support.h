/*
** Fixture of the end-to-end scenarios: the monitor's test build (the
** monitor's own code with the scripted probe) started as a daemon under the
** subreaper runner, against the dorvexd double on rpcbind, with the fake
** framework commands first in PATH, a DBMS log file and an action file
** (montest::MonitorDaemonTest, shared with the daemon suites under
** tests/fault_progs/common/cycle).
** The monitor logs to the scenario's own hadbms.log and syslog socket, and
** talks to a dorvexd double on a program number of the scenario's own.
**
** Timing: a 1 s probe cycle and a 2 s time-out, so a scenario stays near
** 20 s; every wait is bounded generously for a loaded machine.
*/
#ifndef DVZ_TESTS_E2E_SUPPORT_H
#define DVZ_TESTS_E2E_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "../fault_progs/common/monitor_daemon_support.h"

namespace e2e {

using montest::lines_of;
using montest::probe_call;
constexpr const char *program = montest::monitor_program;
constexpr double wait_seconds = 30; /* bound of every wait for an effect */

/* True when `wanted` occurs in `lines` in this order (others may lie
** between). */
inline bool in_order(const std::vector<std::string> &lines,
                     const std::vector<std::string> &wanted) {
  size_t next = 0;
  for (const std::string &line : lines)
    if (next < wanted.size() && line == wanted[next]) ++next;
  return next == wanted.size();
}

inline size_t count_of(const std::vector<std::string> &lines, const std::string &line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

class Scenario : public montest::MonitorDaemonTest {
 protected:
  Scenario() = default;
  /* A scenario of another test build (e.g. the one with the real probe). */
  explicit Scenario(std::string build) : MonitorDaemonTest(std::move(build)) {}

  void SetUp() override {
    if (!testbed::rpcbind_available()) GTEST_SKIP() << "rpcbind is not running";
    prepare("old text, present before the monitor starts\n", actions(), control());
  }

  /* The action file of the scenario: the sample by default. */
  virtual std::string actions() const { return dvz_test::read_file(DVZ_SAMPLE_ACTIONS); }
  /* The double's control file at start. */
  virtual std::string control() const { return {}; }

  /* The environment of every scenario: the shared one with the syslog
  ** facility, the remote hosts, the owner and no listener or fake node;
  ** `extra` entries come last and win ("VAR" alone removes VAR). */
  std::vector<std::string> environment(const std::vector<std::string> &extra = {}) const {
    std::vector<std::string> env = {
        "HA_SLOGFACILITY=LOG_LOCAL3",
        "HA_REMOTEHOST=n1 n2",
        "VARNHOLT_LISTENER",
        "DOVARIZAOWNER=" + std::to_string(getuid()),
        "FM_FAKE_NODE",
    };
    env.insert(env.end(), extra.begin(), extra.end());
    return MonitorDaemonTest::environment(env);
  }

  /* The monitor's operands: -m lh1 dvz1, a 1 s cycle, no connect cycle, a
  ** 2 s time-out, restart delay 0, the action file and the DBMS log. */
  std::vector<std::string> operands(const std::string &option = "-m",
                                    const std::string &host = "lh1",
                                    const std::string &instance = "dvz1") const {
    return {
        option, host, instance, "1", "0", "2", "0", dir_.file("actions"), dir_.file("dbms.log")};
  }

  std::unique_ptr<testbed::ReapedRunner> start(const std::vector<std::string> &extra_env = {},
                                               std::vector<std::string> args = {}) {
    if (args.empty()) args = operands();
    return launch(std::move(args), environment(extra_env), 120);
  }

  /* The daemon's pid from its registration in the double's journal, after
  ** line `from`; -1 when it does not register in time. */
  pid_t daemon_pid(size_t from = 0) const {
    return MonitorDaemonTest::daemon_pid(from, wait_seconds);
  }

  std::vector<std::string> journal() const { return double_->journal_lines(); }
  /* Waits until the double's journal holds `line` at least `times` times. */
  bool wait_journal(const std::string &line, size_t times = 1) const {
    return testbed::wait_until([&] { return journal_count(line) >= times; }, wait_seconds);
  }

  /* Waits for two more ONLINE reports: the monitor is on-line and its
  ** next probe runs on-line, where a DBMS log line meets the log rules
  ** (while connecting, the sample's "Connected to database" rule comes
  ** first and would take the probe, log text and all). */
  void wait_on_line() const {
    const std::string online = "update_dbms_status dvz1 ONLINE 0";
    ASSERT_TRUE(wait_journal(online, journal_count(online) + 2));
  }

  /* The fake commands' journal. */
  std::vector<std::string> commands() const {
    return lines_of(dvz_test::read_file(dir_.file("commands")));
  }
  bool wait_command(const std::string &line) const {
    return testbed::wait_until([&] { return count_of(commands(), line) > 0; }, wait_seconds);
  }

  /* Number of requests the probe children served (txn belongs to stats). */
  size_t requests() const {
    size_t n = 0;
    for (const probe_call &c : calls())
      n += c.op != "txn" ? 1 : 0;
    return n;
  }
  /* Waits for a probe child other than those in `old` to connect; its pid
  ** or -1. */
  pid_t wait_new_child_connect(const std::vector<pid_t> &old) const {
    pid_t found = -1;
    testbed::wait_until(
        [&] {
          for (const probe_call &c : calls()) {
            if (c.op == "connect" && std::find(old.begin(), old.end(), c.pid) == old.end()) {
              found = c.pid;
              return true;
            }
          }
          return false;
        },
        wait_seconds);
    return found;
  }
  std::vector<pid_t> children() const {
    std::vector<pid_t> pids;
    for (const probe_call &c : calls())
      if (std::find(pids.begin(), pids.end(), c.pid) == pids.end()) pids.push_back(c.pid);
    return pids;
  }

  /* The script of an operation (connect, stats, txn, disconnect), replaced
  ** atomically: one line repeats for every later call. */
  void script(const std::string &op, const std::string &line) const {
    ASSERT_TRUE(testbed::replace_file(dir_.file("script/" + op), line + "\n"));
  }
  /* The exit status of a fake command. */
  void fake_rc(const std::string &command, int rc) const {
    ASSERT_TRUE(
        testbed::replace_file(dir_.file("fake/" + command + ".rc"), std::to_string(rc) + "\n"));
  }
  void append_dbms_log(const std::string &text) const {
    dvz_test::append_file(dir_.file("dbms.log"), text);
  }

  bool wait_log(const std::string &id, const std::string &text, size_t times = 1) const {
    return testbed::wait_until([&] { return log_lines(id, text).size() >= times; }, wait_seconds);
  }
  /* The rule-message line of the file for `text`. */
  std::string action_line(const std::string &text) const {
    return "ID[t01." + program_ + ".2050]: :dvz1: " + text;
  }
  size_t action_lines(const std::string &text) const {
    size_t n = 0;
    std::string tail = action_line(text);
    for (const std::string &line : lines_of(tail_->appended()))
      n += line.size() >= tail.size() &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    return n;
  }
  bool wait_action_line(const std::string &text) const {
    return testbed::wait_until([&] { return action_lines(text) > 0; }, wait_seconds);
  }

  /* Where descriptor fd of pid points ("" when it is not open). */
  static std::string descriptor(pid_t pid, int fd) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(
        "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
    return error ? std::string() : target.string();
  }

  static bool exited_with(const testbed::ReapedResult &result, pid_t pid, int status) {
    return has_exit(result, pid, status);
  }
  /* Every process the runner reaped ended with exit status 0. */
  static void expect_all_exited_zero(const testbed::ReapedResult &result) {
    EXPECT_FALSE(result.timed_out) << result.report;
    EXPECT_GE(result.reaped.size(), 2u) << result.report; /* launcher and daemon */
    for (const testbed::ReapedExit &e : result.reaped) {
      EXPECT_TRUE(e.exited && e.status == 0) << e.pid << "\n" << result.report;
    }
  }
  /* Sends SIGTERM to the monitor; it and every process of its tree end
  ** with status 0. */
  static void expect_orderly_end_on_sigterm(pid_t monitor, testbed::ReapedRunner &run) {
    ASSERT_EQ(0, kill(monitor, SIGTERM));
    testbed::ReapedResult result = run.wait();
    EXPECT_TRUE(exited_with(result, monitor, 0)) << result.report;
    expect_all_exited_zero(result);
  }
};

}  // namespace e2e

#endif
