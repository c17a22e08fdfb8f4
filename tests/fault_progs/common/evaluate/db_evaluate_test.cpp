/*
** db_evaluate as the main loop calls it: the verbose dump first, a probe
** that no rule matches, and, inside the loop with a real probe child, the
** schedule after an action that restarted, took over or started the
** remote monitor (the next probe waits even though the state changed).
*/
#include <algorithm>
#include <fstream>

#include "../cycle/cycle_support.h"
#include "evaluate_actions.h"

namespace cycletest {
namespace {

class DbEvaluateTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    rpc_client = fake_client_handle();
    montest::recorded() = montest::sink_record {};
  }
  void TearDown() override {
    if (db_proc_pid > 0) waitpid(db_proc_pid, nullptr, 0);
    db_proc_pid = -1;
    clear_action_list(&actions_);
    rpc_client = nullptr;
    CycleTest::TearDown();
  }

  void rules(const std::string &text) {
    clear_action_list(&actions_);
    dvz_test::write_file(dir_.file("actions"), text);
    ASSERT_EQ(1, read_action_file(&actions_, dir_.file("actions").c_str()));
    montest::recorded() = montest::sink_record {};
  }

  /* The ids of what syslog saw. */
  static std::vector<std::string> ids() {
    std::vector<std::string> out;
    for (const montest::sink_message &m : montest::recorded().messages) {
      size_t close = m.ident.find("]:");
      size_t dot = m.ident.rfind('.', close);
      out.push_back(m.ident.substr(dot + 1, close - dot - 1));
    }
    return out;
  }

  action_list actions_ = {};
  time_t last_restart_ = 0;
};

TEST_F(DbEvaluateTest, NoMatchingRuleGivesOnly0080) {
  rules("di\t*\t*\t*\t*\t*\t*\tstop\n");
  verbose_mode = 0; /* the dump prints only in verbose mode */
  db_info record = {db_state_online, 0, 1, 9};
  EXPECT_EQ(1, db_evaluate("dvz1", &record, nullptr, "", 1, &actions_, &last_restart_, 300));
  EXPECT_EQ((std::vector<std::string> {"0080"}), ids());
  EXPECT_EQ("db_evaluate: no action entry found!", montest::recorded().messages[0].text);
  EXPECT_TRUE(fake_dorvexd().calls.empty());
  EXPECT_TRUE(fake_commands().commands.empty());
  EXPECT_EQ(db_state_online, record.state);
}

/* A rule without action reports NO_CHANGE for an internal error only: a
** timed-out probe alone sends dorvexd nothing. */
TEST_F(DbEvaluateTest, TimeoutAloneSendsNoReport) {
  rules("co\t*\t*\t*\t*\t*\t*\tnone\n");
  struct row {
    int timeout, internal_error;
    std::vector<std::string> calls;
  };
  for (const row &w :
       {row {1, 0, {}}, row {0, 0, {}}, row {1, 1, {"update_dbms_status dvz1 NO_CHANGE 0"}},
        row {0, 1, {"update_dbms_status dvz1 NO_CHANGE 0"}}}) {
    SCOPED_TRACE("timeout " + std::to_string(w.timeout) + " internal error " +
                 std::to_string(w.internal_error));
    fake_dorvexd().calls.clear();
    db_info record = {db_state_connecting, 0, w.internal_error, 9};
    EXPECT_EQ(1,
              db_evaluate("dvz1", &record, nullptr, "", w.timeout, &actions_, &last_restart_, 300));
    EXPECT_EQ(w.calls, fake_dorvexd().calls);
    EXPECT_EQ(db_state_connecting, record.state);
  }
  EXPECT_TRUE(fake_commands().commands.empty());
}

TEST_F(DbEvaluateTest, DumpShowsTheStateBeforeTheRuleThenActs) {
  rules("co\t*\t*\t*\t*\t*\ton\tnone\tConnected to database\n");
  db_info record = {db_state_connecting, 0, 0, 9};
  EXPECT_EQ(1, db_evaluate("dvz1", &record, nullptr, nullptr, 0, &actions_, &last_restart_, 0));
  EXPECT_EQ(
      (std::vector<std::string> {"1040", "1050", "1060", "1080", "1090", "1100", "2050", "1030"}),
      ids());
  EXPECT_EQ("db_evaluate: Data are: Old State      connecting",
            montest::recorded().messages[0].text);
  EXPECT_EQ(db_state_online, record.state);
  EXPECT_EQ((std::vector<std::string> {"update_dbms_status dvz1 ONLINE 0"}), fake_dorvexd().calls);
  EXPECT_EQ(1u, log_lines("2050", ": :dvz1: Connected to database").size());
}

TEST_F(DbEvaluateTest, StopRuleEndsTheLoop) {
  montest::ScopedEnv hosts("HA_REMOTEHOST", std::nullopt);
  rules("*\t*\t*\tSTOP\t*\t*\t*\tstop\tstop requested\n");
  db_info record = {db_state_online, 0, 0, 9};
  EXPECT_EQ(0, db_evaluate("dvz1", &record, nullptr, "STOP\n", 0, &actions_, &last_restart_, 0));
  EXPECT_EQ(
      (std::vector<std::string> {"update_dbms_status dvz1 ONLINE 0", "shutdown_db dvz1 dovariza",
                                 "update_dbms_status dvz1 FAULTED 0"}),
      fake_dorvexd().calls);
}

/* ---- the schedule after an action ---------------------------------------- */

struct after_action_case {
  const char *name;
  const char *action;
  bool remote;
  std::vector<time_t> probes; /* relative to T */
  const char *command; /* the action's command; <pid>: the monitor's */
};

void PrintTo(const after_action_case &c, std::ostream *out) { *out << c.name; }

class AfterActionTest : public DbEvaluateTest,
                        public ::testing::WithParamInterface<after_action_case> {};

/* The first probe (connecting) takes a rule that moves to on-line with the
** action; the third ends the loop: STOP in the DBMS log (local mode), the
** public network reported down (remote mode). */
TEST_P(AfterActionTest, NextProbeWaitsForTheSchedule) {
  const after_action_case &c = GetParam();
  montest::ScopedEnv hosts("HA_REMOTEHOST", std::nullopt);
  montest::ScopedEnv onconfig("ONCONFIG", "onconfig.dvz1");
  montest::ScopedEnv pid("DBMS_SERV_PID", std::to_string(getpid()));
  if (c.remote) dbms_host = "127.0.0.1";
  fmstart_time = T - 200;
  set_probe_cycle(60, 0);
  rules(std::string("*\t*\t*\tSTOP\t*\t*\t*\tstop\n") + "*\t*\tpublic_net\t*\t*\t*\t*\tstop\n" +
        "co\t*\t*\t*\t*\t*\ton\t" + c.action + "\n" + "on\t*\t*\t*\t*\t*\t*\tnone\n");
  std::string log = dbms_log();
  bool remote = c.remote;
  fake_dorvexd().on_set_status = [log, remote](int call) {
    if (call != 3) return;
    if (remote) {
      fake_commands().exit_status["marnoping"] = 99;
    } else {
      std::ofstream out(log, std::ios::app);
      out << "STOP\n";
    }
  };

  EXPECT_EQ(0, monitor_db("dvz1", 30, 300, &actions_, dbms_log().c_str()));
  std::vector<time_t> probes;
  for (time_t t : fake_dorvexd().set_status_times)
    probes.push_back(t - T);
  EXPECT_EQ(c.probes, probes);
  if (c.command) {
    std::string command = c.command;
    if (size_t at = command.find("<pid>"); at != std::string::npos)
      command.replace(at, 5, std::to_string(the_pid));
    const std::vector<std::string> &lines = fake_commands().commands;
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), command)) << command;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, AfterActionTest,
    ::testing::Values(
        after_action_case {"NoneReprobesAtOnce", "none", false, {0, 0, 60}, nullptr},
        after_action_case {
            "Restart", "restart", false, {0, 60, 120}, "dovariza_kelpo <pid> onconfig.dvz1"},
        after_action_case {"Takeover",
                           "takeover",
                           false,
                           {0, 60, 120},
                           "kesmadm -g -s dovariza -l `dovariza_plaxnode dvz1` "},
        after_action_case {
            "Fmstart", "fmstart", true, {0, 60, 120}, "dorvexq 127.0.0.1 dvz1 start dovariza"},
        after_action_case {"RemoteNoneReprobesAtOnce", "none", true, {0, 0, 60}, nullptr}),
    [](const ::testing::TestParamInfo<after_action_case> &info) { return info.param.name; });

}  // namespace
}  // namespace cycletest
