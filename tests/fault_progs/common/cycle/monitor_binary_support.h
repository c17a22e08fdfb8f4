/*
** Fixture of the suites that run the monitor's test build (the monitor
** with the scripted probe) as a daemon under the subreaper runner, against
** the dorvexd double on rpcbind, with the fake framework commands first in
** PATH (montest::MonitorDaemonTest): an empty DBMS log, rules that stop on
** STOP and go on-line otherwise, and the cycle and time-out as a test
** asks. The monitor logs to the run's own hadbms.log.
*/
#ifndef DVZ_TESTS_MONITOR_BINARY_SUPPORT_H
#define DVZ_TESTS_MONITOR_BINARY_SUPPORT_H

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../monitor_daemon_support.h"

namespace cycletest {

/* Rules: STOP in the DBMS log stops; every other probe goes on-line. */
constexpr const char default_rules[] =
    "*\t*\t*\tSTOP\t*\t*\t*\tstop\tstop requested\n"
    "*\t*\t*\t*\t*\t*\ton\tnone\tRDBMS appears to be ok\n";

class MonitorBinaryTest : public montest::MonitorDaemonTest {
 protected:
  void SetUp() override {
    if (!testbed::rpcbind_available()) GTEST_SKIP() << "rpcbind is not running";
    prepare("", default_rules, "");
  }

  /* Starts the monitor: <option> <host> dvz1 <cycle> 0 <time-out> 0 actions log. */
  std::unique_ptr<testbed::ReapedRunner> start(const std::vector<std::string> &extra_env = {},
                                               int cycle = 1, int time_out = 5,
                                               double runner_timeout = 90,
                                               const std::string &option = "-m",
                                               const std::string &host = "lh1") {
    return launch({option, host, "dvz1", std::to_string(cycle), "0", std::to_string(time_out), "0",
                   dir_.file("actions"), dir_.file("dbms.log")},
                  environment(extra_env), runner_timeout);
  }

  /* Pids of the probe children from the scripted probe's calls journal. */
  std::vector<pid_t> probe_children() const {
    std::vector<pid_t> pids;
    for (const std::string &line :
         montest::lines_of(dvz_test::read_file(dir_.file("script/calls")))) {
      pid_t pid = atoi(line.c_str());
      if (pid > 0 && (pids.empty() || pids.back() != pid)) pids.push_back(pid);
    }
    return pids;
  }

  /* Every process of the run ended with exit status 0 and none was left. */
  static void expect_all_exited_zero(const testbed::ReapedResult &result) {
    EXPECT_FALSE(result.timed_out) << result.report;
    EXPECT_FALSE(result.reaped.empty()) << result.report;
    for (const testbed::ReapedExit &e : result.reaped) {
      EXPECT_TRUE(e.exited) << e.pid << "\n" << result.report;
      EXPECT_EQ(0, e.status) << e.pid << "\n" << result.report;
    }
  }
};

}  // namespace cycletest

#endif
