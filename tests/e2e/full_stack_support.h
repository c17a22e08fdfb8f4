/*
** Fixture of the full-stack scenarios: the monitor's test build with the
** real Dovariza probe (dovariza_fmon_test) on the real runtime, against the
** SQLI double (sqli_test::DoubleServer, --sqli with a profile and a
** scenario file of the run's own) besides the dorvexd double and the fake
** framework commands of every scenario.
**
** The probe child finds the double through an sqlhosts file of the run
** (DOVARIZASQLHOSTS, `dvzsrv oltlitcp 127.0.0.1 <port>`), reads the
** build's DOVARIZADIR tree (registry, locale, catalogs, SQLSTATE map) and
** an empty home, and connects to "hatest@dvzsrv" as the test's own user.
** Faults are switched in the scenario file while the monitor runs.
*/
#ifndef DVZ_TESTS_E2E_FULL_STACK_SUPPORT_H
#define DVZ_TESTS_E2E_FULL_STACK_SUPPORT_H

#include <memory>
#include <string>
#include <vector>

#include "double_server.h"
#include "e2e_support.h"
#include "probe_scenario.h"

namespace e2e {

class FullStack : public Scenario {
 protected:
  FullStack() : Scenario("dovariza_fmon_test") {}

  void SetUp() override {
    Scenario::SetUp();
    if (IsSkipped()) return;
    dir_.write("home/.keep", "");
    server_ = std::make_unique<sqli_test::DoubleServer>(
        std::vector<std::string> {"--profile", profile()}, scenario_at_start());
  }

  /* The double's profile and its scenario when the monitor starts: the
  ** counters flat at a positive value, so that a child's first statistics
  ** report activity and its later ones run the test transaction. */
  virtual std::string profile() const { return "minimal"; }
  virtual std::string scenario_at_start() const { return probe_scenario(500); }

  /* Starts the monitor: a 1 s cycle, `connect_cycle`, a time-out of
  ** `time_out` seconds, restart delay 0. */
  std::unique_ptr<testbed::ReapedRunner> start_stack(int connect_cycle, int time_out = 6,
                                                     const std::vector<std::string> &extra = {}) {
    std::vector<std::string> env = {
        "DB_LOGIN=hatest@dvzsrv",
        "DOVARIZASERVER=" + server_->server(),
        "DOVARIZASQLHOSTS=" + server_->sqlhosts_path(),
        "DOVARIZADIR=" DVZ_E2E_DOVARIZADIR,
        "HOME=" + dir_.file("home"),
        "DOVARIZACONTIME=3",
        "GLSLOG=off",
        "GLSDEBUG=off",
    };
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<std::string> args = {"-m",
                                     "lh1",
                                     "dvz1",
                                     "1",
                                     std::to_string(connect_cycle),
                                     std::to_string(time_out),
                                     "0",
                                     dir_.file("actions"),
                                     dir_.file("dbms.log")};
    return start(env, args);
  }

  /* Starts the monitor (start_stack) into run_ and waits until it is
  ** on-line; its pid in monitor_. */
  void start_on_line(int connect_cycle, int time_out) {
    run_ = start_stack(connect_cycle, time_out);
    monitor_ = daemon_pid();
    ASSERT_GT(monitor_, 0);
    wait_on_line();
  }

  /* Switches the double's scenario (faults included) while it runs. */
  void switch_scenario(const std::string &json) const { server_->set_scenario(json); }

  /* The probe's 2540 lines ("DBMS Error: <context>: <code> <text>"). */
  std::vector<std::string> failures(const std::string &context = "") const {
    return log_lines("2540", "DBMS Error: " + context);
  }
  bool wait_failure(const std::string &context_and_code, size_t times = 1) const {
    return wait_log("2540", "DBMS Error: " + context_and_code, times);
  }
  /* The double's connects so far. */
  size_t connects() const { return server_->entries("connect").size(); }
  bool wait_connects(size_t n) const {
    return testbed::wait_until([&] { return connects() >= n; }, wait_seconds);
  }
  /* The 0510 lines of the probe's connects: "... '<db>' #<session id>". */
  size_t connect_lines(int session_id) const {
    return log_lines("0510", "'hatest@dvzsrv' #" + std::to_string(session_id)).size();
  }

  std::unique_ptr<sqli_test::DoubleServer> server_;
  std::unique_ptr<testbed::ReapedRunner> run_;
  pid_t monitor_ = -1;
};

}  // namespace e2e

#endif
