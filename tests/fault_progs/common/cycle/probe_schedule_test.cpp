/*
** The probe schedule and the main loop through the clock and dorvexd
** doubles: the grid of scheduled probes, immediate re-probes after a state
** change, the connect cycle, a wall clock stepped back, and the ends of the
** loop (stop rule, dorvexd gone, no DBMS_SERV_PID, failed renewal). The
** probe child is real and runs the scripted probe.
*/
#include <fstream>

#include "cycle_support.h"

namespace cycletest {
namespace {

class ScheduleTest : public CycleTest {};

TEST_F(ScheduleTest, SetProbeCycleChecksItsValues) {
  struct row {
    int cycle, count, accepted;
  };
  for (row r : {row {1, 0, 1}, row {60, 2, 1}, row {0, 0, 0}, row {-5, 0, 0}, row {60, -1, 0}}) {
    EXPECT_EQ(r.accepted, set_probe_cycle(r.cycle, r.count)) << r.cycle << " " << r.count;
    EXPECT_EQ(T, next_probe_scheduled);
    EXPECT_EQ(0, delay_until_next_probe());
  }
}

TEST_F(ScheduleTest, ProbesStayOnGridAnchoredAtStartUp) {
  set_probe_cycle(60, 0);
  EXPECT_EQ(0, start_probe("dvz1", 0));
  EXPECT_EQ(T + 60, next_probe_scheduled);
  fake_clock().now = T + 10;
  EXPECT_EQ(50, delay_until_next_probe());

  /* A probe at T+60 that lasts 150 s: the next starts at once, and the
  ** one after it back on the grid. */
  fake_clock().now = T + 60;
  start_probe("dvz1", 0);
  EXPECT_EQ(T + 120, next_probe_scheduled);
  fake_clock().now = T + 210;
  EXPECT_EQ(0, delay_until_next_probe());
  start_probe("dvz1", 0);
  EXPECT_EQ(T + 240, next_probe_scheduled);
  EXPECT_EQ(30, delay_until_next_probe());
  EXPECT_EQ(T + 210, last_probe());
  EXPECT_EQ((std::vector<std::string> {"set_status dvz1 " + std::to_string(getpid()) + " 4711",
                                       "set_status dvz1 " + std::to_string(getpid()) + " 4711",
                                       "set_status dvz1 " + std::to_string(getpid()) + " 4711"}),
            fake_dorvexd().calls);
}

TEST_F(ScheduleTest, ClockSteppedBackWaitsAtMostOneCycle) {
  set_probe_cycle(60, 0);
  start_probe("dvz1", 0);
  fake_clock().now = T + 30 - 3600;
  EXPECT_EQ(60, delay_until_next_probe());
  EXPECT_EQ(T + 30 - 3600 + 60, next_probe_scheduled);
  fake_clock().now += 60;
  EXPECT_EQ(0, delay_until_next_probe());
}

TEST_F(ScheduleTest, ConnectCycleDisconnectsAfterCountOnLineProbes) {
  set_probe_cycle(60, 2);
  std::vector<int> disconnects;
  for (int i = 0; i < 6; ++i)
    disconnects.push_back(start_probe("dvz1", 1));
  EXPECT_EQ((std::vector<int> {0, 0, 1, 0, 0, 1}), disconnects);

  /* A probe that is not on-line starts the count again. */
  start_probe("dvz1", 1);
  start_probe("dvz1", 0);
  EXPECT_EQ(0, start_probe("dvz1", 1));
  EXPECT_EQ(0, start_probe("dvz1", 1));
  EXPECT_EQ(1, start_probe("dvz1", 1));

  set_probe_cycle(60, 0);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(0, start_probe("dvz1", 1));
}

TEST_F(ScheduleTest, FailedRenewalEndsMonitorWith4290) {
  GTEST_FLAG_SET(death_test_style, "fast");
  set_probe_cycle(60, 0);
  fake_dorvexd().set_status_fails = true;
  EXPECT_EXIT(start_probe("dvz1", 0), ::testing::ExitedWithCode(0), "");
  std::vector<std::string> lines = log_lines("4290");
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find(": RPC call set_status_1 to dorvexd failed"));
  EXPECT_EQ(1u, log_lines("2160", "main process received signal 15 - terminating").size());
}

/* ---- the main loop ------------------------------------------------------ */

constexpr const char stop_rule[] = "*\t*\t*\tSTOP\t*\t*\t*\tstop\tstop requested\n";

class LoopTest : public ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    setenv("DBMS_SERV_PID", std::to_string(getpid()).c_str(), 1);
  }
  void TearDown() override {
    /* The loop sent SIGTERM to the child at its end: reap it. */
    if (db_proc_pid > 0) waitpid(db_proc_pid, nullptr, 0);
    db_proc_pid = -1;
    clear_action_list(&actions_);
    unsetenv("DBMS_SERV_PID");
    ScheduleTest::TearDown();
  }

  /* Reads the rules (the stop rule first) and ends the loop by writing STOP
  ** into the DBMS log during the renewal of probe `probes`. */
  void rules(const std::string &text, int probes, std::function<void(int)> also = {}) {
    dvz_test::write_file(dir_.file("actions"), std::string(stop_rule) + text);
    ASSERT_EQ(1, read_action_file(&actions_, dir_.file("actions").c_str()));
    std::string log = dbms_log();
    fake_dorvexd().on_set_status = [log, probes, also](int call) {
      if (also) also(call);
      if (call == probes) {
        std::ofstream out(log, std::ios::app);
        out << "STOP\n";
      }
    };
  }

  /* Runs the loop; the probe times relative to T. */
  std::vector<time_t> run_loop(int time_out = 30) {
    EXPECT_EQ(0, monitor_db("dvz1", time_out, 0, &actions_, dbms_log().c_str()));
    std::vector<time_t> times;
    for (time_t t : fake_dorvexd().set_status_times)
      times.push_back(t - T);
    return times;
  }

  std::vector<std::string> probe_ops() const {
    std::vector<std::string> ops;
    for (const probe_call &c : calls())
      if (c.op != "txn") ops.push_back(c.op);
    return ops;
  }

  action_list actions_ = {};
};

TEST_F(LoopTest, ScheduledProbesFallOnTheGrid) {
  set_probe_cycle(60, 0);
  rules("*\t*\t*\t*\t*\t*\t*\tnone\tkeep\n", 4);
  EXPECT_EQ((std::vector<time_t> {0, 60, 120, 180}), run_loop());
  EXPECT_EQ((std::vector<int> {60, 60, 60}), fake_clock().waits);
  EXPECT_EQ(1u, log_lines("2030", "dovariza fault monitor for dvz1 exiting...").size());
  EXPECT_EQ(T, process_start);
}

TEST_F(LoopTest, LongProbeSkipsGridPointsWithoutShiftingTheGrid) {
  set_probe_cycle(60, 0);
  rules("*\t*\t*\t*\t*\t*\t*\tnone\tkeep\n", 4, [](int call) {
    if (call == 2) fake_clock().now += 150; /* the probe at T+60 lasts 150 s */
  });
  EXPECT_EQ((std::vector<time_t> {0, 60, 210, 240}), run_loop());
}

TEST_F(LoopTest, StateChangesGiveFourImmediateProbesThenTheScheduleWaits) {
  set_probe_cycle(60, 0);
  rules("co\t*\t*\t*\t*\t*\ton\tnone\non\t*\t*\t*\t*\t*\tco\tnone\n", 6);
  EXPECT_EQ((std::vector<time_t> {0, 0, 0, 0, 60, 60}), run_loop());
  EXPECT_EQ(5u, log_lines("0030", "MT: state change!").size());
}

TEST_F(LoopTest, ForceDelayMakesNextProbeWait) {
  set_probe_cycle(60, 0);
  rules("*\t*\t*\t*\t*\t*\ton\tnone\n", 3, [](int call) {
    if (call == 1) force_delay = 1; /* as a restart of the first probe would */
  });
  EXPECT_EQ((std::vector<time_t> {0, 60, 120}), run_loop());
  EXPECT_EQ(0, force_delay);
}

struct connect_cycle_case {
  const char *name;
  int count;
  int verbose;
  std::vector<std::string> ops;
  size_t breaking_messages;
};
void PrintTo(const connect_cycle_case &c, std::ostream *out) { *out << c.name; }

class ConnectCycleLoopTest : public LoopTest,
                             public ::testing::WithParamInterface<connect_cycle_case> {
 protected:
  int verbose() const override { return GetParam().verbose; }
};

TEST_P(ConnectCycleLoopTest, OnLineProbesAndDisconnects) {
  set_probe_cycle(60, GetParam().count);
  rules("*\t*\t*\t*\t*\t*\ton\tnone\n", 7);
  run_loop();
  EXPECT_EQ(GetParam().ops, probe_ops());
  EXPECT_EQ(GetParam().breaking_messages,
            log_lines("1010", "Breaking DB connection for connectivity probe").size());
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ConnectCycleLoopTest,
    ::testing::Values(
        connect_cycle_case {
            "TwoVerbose",
            2,
            1,
            {"connect", "stats", "stats", "disconnect", "stats", "stats", "disconnect"},
            2},
        connect_cycle_case {
            "TwoQuiet",
            2,
            0,
            {"connect", "stats", "stats", "disconnect", "stats", "stats", "disconnect"},
            0},
        connect_cycle_case {
            "Never", 0, 1, {"connect", "stats", "stats", "stats", "stats", "stats", "stats"}, 0}),
    [](const ::testing::TestParamInfo<connect_cycle_case> &info) { return info.param.name; });

TEST_F(LoopTest, StopRuleEndsLoopAndTerminatesChild) {
  set_probe_cycle(60, 0);
  rules("*\t*\t*\t*\t*\t*\t*\tnone\tkeep\n", 2);
  run_loop();
  ASSERT_GT(db_proc_pid, 0);
  ASSERT_NO_FATAL_FAILURE(expect_probe_child_exits_zero());
  EXPECT_EQ(1u, log_lines("2160", "DB process received signal 15 - terminating").size());
}

/* DBMS_SERV_PID values that name no single process end the monitor. */
class ServicePidTest : public LoopTest,
                       public ::testing::WithParamInterface<std::optional<std::string>> {};

TEST_P(ServicePidTest, UnusableValueEndsMonitorWith2010) {
  GTEST_FLAG_SET(death_test_style, "fast");
  set_probe_cycle(60, 0);
  rules("", 1);
  montest::ScopedEnv pid("DBMS_SERV_PID", GetParam());
  EXPECT_EXIT(monitor_db("dvz1", 30, 0, &actions_, dbms_log().c_str()),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(1u, log_lines("2010", " can't get database service PID").size());
}

INSTANTIATE_TEST_SUITE_P(Values, ServicePidTest,
                         ::testing::Values(std::nullopt, "0", "-1", "abc", "12abc", ""));

TEST_F(LoopTest, DorvexdGoneEndsMonitorWith2020) {
  GTEST_FLAG_SET(death_test_style, "fast");
  set_probe_cycle(60, 0);
  rules("", 100);
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(gone, waitpid(gone, nullptr, 0));
  montest::ScopedEnv pid("DBMS_SERV_PID", std::to_string(gone));
  EXPECT_EXIT(monitor_db("dvz1", 30, 0, &actions_, dbms_log().c_str()),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(1u, log_lines("2020",
                          "dovariza vuzu has to commit suicide, because the database service "
                          "dvz1 has died")
                    .size());
}

TEST_F(LoopTest, ServicePidOfOtherUserStillCounts) {
  /* kill(1, 0) may fail with EPERM for a non-root user; that is not ESRCH. */
  set_probe_cycle(60, 0);
  rules("*\t*\t*\t*\t*\t*\t*\tnone\tkeep\n", 2);
  montest::ScopedEnv pid("DBMS_SERV_PID", "1");
  EXPECT_EQ((std::vector<time_t> {0, 60}), run_loop());
}

}  // namespace
}  // namespace cycletest
