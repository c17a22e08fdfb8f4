/*
** The actions of a matched rule through the clock, command and dorvexd
** doubles: restart and its escalation, takeover, stop (local and remote,
** HA_REMOTEHOST and its refused words), config and fmstart on the clock,
** the status reports, the rule message in syslog and the log file, and
** the verbose dump of an outcome. The restart command comes from the
** scripted probe's ha_db_restart, run through the same command seam.
*/
#include "evaluate_support.h"

namespace evaltest {
namespace {

using montest::ScopedEnv;

const std::string kelpo = "dovariza_kelpo 4242 onconfig.dvz1";
const std::string takeover_local = "kesmadm -g -s dovariza -l `dovariza_plaxnode dvz1` ";
const std::string takeover_remote = "kesmadm -t -s dovariza -l `dovariza_plaxnode dvz1` ";
const std::string faulted = "update_dbms_status dvz1 FAULTED 0";

/* ---- restart ------------------------------------------------------------ */

class RestartTest : public EvaluateTest {
 protected:
  ScopedEnv onconfig_ {"ONCONFIG", "onconfig.dvz1"};
};

TEST_F(RestartTest, RepeatedRestartWithinDelayEscalatesToTakeover) {
  struct step {
    time_t at;
    std::string id; /* the restart's own message */
    std::string command;
    time_t last_restart; /* afterwards */
  };
  action_entry *r = rule("on\t*\t*\t*\t*\t*\t*\trestart");
  for (const step &s : {step {T, "2080", kelpo, T}, step {T + 100, "2060", takeover_local, 0},
                        step {T + 200, "2080", kelpo, T + 200}}) {
    SCOPED_TRACE(s.at - T);
    clear();
    force_delay = 0;
    clock_now() = s.at;
    EXPECT_EQ(1, take(r));
    EXPECT_EQ((std::vector<std::string> {s.id}), ids());
    EXPECT_EQ((std::vector<std::string> {s.command}), commands().lines);
    EXPECT_EQ((std::vector<std::string> {faulted}), rpc_calls());
    EXPECT_EQ(1, force_delay);
    EXPECT_EQ(s.last_restart, last_restart_);
  }
}

TEST_F(RestartTest, MessagesAndLevels) {
  action_entry *r = rule("on\t*\t*\t*\t*\t*\t*\trestart");
  take(r);
  clock_now() = T + 1;
  take(r);
  EXPECT_EQ((std::vector<logged> {
                {"2080", LOG_ERR, "db_evaluate: restarting DBMS service"},
                {"2060", LOG_ERR,
                 "db_evaluate: initiating DBMS service takeover (escalated repeated restart)"}}),
            messages());
}

TEST_F(RestartTest, RemoteModeOnlyLogsAndEscalatesWithMinusT) {
  dbms_host = "rhost";
  action_entry *r = rule("on\t*\t*\t*\t*\t*\t*\trestart");
  take(r);
  EXPECT_EQ((std::vector<logged> {
                {"2070", LOG_NOTICE, "db_evaluate: restart requested, but database is remote"}}),
            messages());
  EXPECT_TRUE(commands().lines.empty());
  EXPECT_EQ((std::vector<std::string> {faulted}), rpc_calls());
  EXPECT_EQ(T, last_restart_);

  clear();
  clock_now() = T + 100;
  take(r);
  EXPECT_EQ((std::vector<std::string> {takeover_remote}), commands().lines);
}

TEST_F(RestartTest, DelayZeroAlwaysRestarts) {
  restart_delay_ = 0;
  action_entry *r = rule("on\t*\t*\t*\t*\t*\t*\trestart");
  for (int i = 0; i < 3; ++i)
    take(r);
  EXPECT_EQ((std::vector<std::string> {kelpo, kelpo, kelpo}), commands().lines);
}

TEST_F(RestartTest, NewStateOnReportsOnlineThenFaulted) {
  record_ = {1, 908, 0, 3};
  action_entry *r = rule("co\t908\t*\t*\t*\t*\ton\trestart\tlost connection");
  EXPECT_EQ(1, take(r));
  EXPECT_EQ(db_state_online, record_.state);
  EXPECT_EQ((std::vector<std::string> {"update_dbms_status dvz1 ONLINE 908",
                                       "update_dbms_status dvz1 FAULTED 908"}),
            rpc_calls());
}

TEST_F(RestartTest, RefusedOnconfigRunsNothing) {
  ScopedEnv bad("ONCONFIG", "a;b");
  take(rule("on\t*\t*\t*\t*\t*\t*\trestart"));
  EXPECT_TRUE(commands().lines.empty());
  EXPECT_EQ((std::vector<std::string> {"2080", "4510"}), ids());
}

/* ---- takeover ----------------------------------------------------------- */

TEST_F(EvaluateTest, TakeoverRunsCommandAndReportsFaulted) {
  EXPECT_EQ(1, take(rule("*\t*\t*\t*\t*\t*\t*\ttakeover")));
  EXPECT_EQ(
      (std::vector<logged> {{"2090", LOG_ERR, "db_evaluate: initiating DBMS service takeover"}}),
      messages());
  EXPECT_EQ((std::vector<std::string> {takeover_local}), commands().lines);
  EXPECT_EQ((std::vector<std::string> {faulted}), rpc_calls());
  EXPECT_EQ(1, force_delay);
}

TEST_F(EvaluateTest, TakeoverFailsOnAnyNonZeroRawStatus) {
  /* 9: killed by a signal, exit status 0; 256: exit status 1. */
  for (int raw : {9, 256, -1}) {
    clear();
    commands().raw_status["kesmadm"] = raw;
    EXPECT_EQ(0, request_takeover("dvz1", nullptr, "dovariza")) << raw;
    EXPECT_EQ((std::vector<logged> {{"4170", LOG_ERR, "takeover request failed!"}}), messages());
  }
  commands().raw_status.clear();
  EXPECT_EQ(1, request_takeover("dvz1", "rhost", "dovariza"));
  EXPECT_EQ(takeover_remote, commands().lines.back());
}

/* ---- stop --------------------------------------------------------------- */

class StopTest : public EvaluateTest {
 protected:
  action_entry *stop_rule() { return rule("*\t*\t*\tSTOP-TEST\t*\t*\t*\tstop\tstop requested"); }
};

TEST_F(StopTest, LocalModeStopsEachRemoteHostThenShutsDown) {
  ScopedEnv hosts("HA_REMOTEHOST", "n1  n2");
  EXPECT_EQ(0, take(stop_rule()));
  EXPECT_EQ(
      (std::vector<std::string> {"dovariza_jorvswap dvz1 stop", "dorvexq n1 dvz1 stop dovariza",
                                 "dorvexq n2 dvz1 stop dovariza"}),
      commands().lines);
  EXPECT_EQ((std::vector<std::string> {"shutdown_db dvz1 dovariza", faulted}), rpc_calls());
  EXPECT_EQ((std::vector<logged> {
                {"2050", LOG_ERR, "db_evaluate: --- stop requested ---"},
                {"0011", LOG_DEBUG,
                 "MT: Shutting down fault monitor on n1 : dorvexq n1 dvz1 stop dovariza"},
                {"0013", LOG_NOTICE, "Executed: dorvexq n1 dvz1 stop dovariza"},
                {"0011", LOG_DEBUG,
                 "MT: Shutting down fault monitor on n2 : dorvexq n2 dvz1 stop dovariza"},
                {"0013", LOG_NOTICE, "Executed: dorvexq n2 dvz1 stop dovariza"},
                {"2120", LOG_ERR, "db_evaluate: shutdown database dvz1"}}),
            messages());
}

TEST_F(StopTest, DebugMessagesOnlyInDebugMode) {
  ScopedEnv hosts("HA_REMOTEHOST", "n1 n2");
  logging(0, 1);
  take(stop_rule());
  EXPECT_EQ((std::vector<std::string> {"2050", "2120"}), ids());
  EXPECT_EQ(3u, commands().lines.size());
}

TEST_F(StopTest, WithoutRemoteHostsLogs2110AndStillShutsDown) {
  ScopedEnv hosts("HA_REMOTEHOST", std::nullopt);
  EXPECT_EQ(0, take(stop_rule()));
  EXPECT_EQ((std::vector<std::string> {"2050", "2110", "2120"}), ids());
  EXPECT_EQ("db_evaluate: cannot stop the remote fault monitor", messages()[1].text);
  EXPECT_EQ((std::vector<std::string> {"dovariza_jorvswap dvz1 stop"}), commands().lines);
  EXPECT_EQ((std::vector<std::string> {"shutdown_db dvz1 dovariza", faulted}), rpc_calls());
}

TEST_F(StopTest, FailedCommandsAreLoggedAndTheRestStillRuns) {
  ScopedEnv hosts("HA_REMOTEHOST", "n1 n2");
  commands().raw_status["dovariza_jorvswap"] = 4 << 8;
  commands().raw_status["dorvexq"] = 1 << 8;
  EXPECT_EQ(0, take(stop_rule()));
  std::vector<std::string> failures;
  for (const logged &m : messages())
    if (m.id == "4110") failures.push_back(m.text);
  EXPECT_EQ((std::vector<std::string> {"dovariza_jorvswap dvz1 stop failed with exit code (4)",
                                       "dorvexq n1 dvz1 stop dovariza failed",
                                       "dorvexq n2 dvz1 stop dovariza failed"}),
            failures);
  EXPECT_EQ(3u, commands().lines.size());
  EXPECT_EQ((std::vector<std::string> {"shutdown_db dvz1 dovariza", faulted}), rpc_calls());
}

TEST_F(StopTest, RemoteModeAsksTheDatabaseNodeInstead) {
  ScopedEnv hosts("HA_REMOTEHOST", "n1");
  dbms_host = "rhost";
  commands().raw_status["dorvexq"] = 2 << 8;
  EXPECT_EQ(0, take(stop_rule()));
  EXPECT_EQ((std::vector<std::string> {"dovariza_jorvswap dvz1 stop",
                                       "dorvexq rhost dvz1 shutdown dovariza"}),
            commands().lines);
  EXPECT_EQ((std::vector<std::string> {faulted}), rpc_calls());
  EXPECT_EQ((std::vector<logged> {
                {"2050", LOG_ERR, "db_evaluate: --- stop requested ---"},
                {"2100", LOG_ERR, "db_evaluate: shutdown db requested, but database is remote"},
                {"4110", LOG_ERR, "dorvexq rhost dvz1 shutdown dovariza failed"}}),
            messages());
}

TEST_F(StopTest, HostWordTheShellWouldReadAsMoreIsRefused) {
  ScopedEnv hosts("HA_REMOTEHOST", "n1 n;2 `id` $(id) n3\tn'4");
  logging(0, 0);
  EXPECT_EQ(0, take(stop_rule()));
  EXPECT_EQ(
      (std::vector<std::string> {"dovariza_jorvswap dvz1 stop", "dorvexq n1 dvz1 stop dovariza",
                                 "dorvexq n3 dvz1 stop dovariza"}),
      commands().lines);
  std::vector<std::string> failures;
  for (const logged &m : messages())
    if (m.id == "4110") failures.push_back(m.text);
  EXPECT_EQ(
      (std::vector<std::string> {
          "dorvexq n;2 dvz1 stop dovariza failed", "dorvexq `id` dvz1 stop dovariza failed",
          "dorvexq $(id) dvz1 stop dovariza failed", "dorvexq n'4 dvz1 stop dovariza failed"}),
      failures);
}

TEST(ShellSafeWord, AcceptsOnlyPlainNameCharacters) {
  for (const char *ok : {"dvz1", "node-2.example.com", "a_b@c:d+e", "", "Z9"})
    EXPECT_TRUE(shell_safe_word(ok)) << ok;
  for (const char *bad : {"dvz1;touch f", "a`b", "$(x)", "a b", "a\tb", "a/b", "a'b", "a\"b", "a|b",
                          "a&b", "a>b", "a\\b", "a*", "a?", "~a", "a\nb", "\xc3\xa9"})
    EXPECT_FALSE(shell_safe_word(bad)) << bad;
}

/* ---- config and fmstart on the clock ------------------------------------ */

TEST_F(EvaluateTest, ConfigOnlyAfterTheGraceFromTheLoopStart) {
  action_entry *r = rule("*\t*\t*\t*\t*\t*\t*\tconfig");
  process_start = T - 600;
  EXPECT_EQ(1, take(r));
  EXPECT_EQ((std::vector<logged> {
                {"2130", LOG_NOTICE, "db_evaluate: fault monitor died, but not restarting"}}),
            messages());
  EXPECT_TRUE(commands().lines.empty());
  for (time_t at : {T + 1, T + 2, T + 100}) {
    clear();
    clock_now() = at;
    EXPECT_EQ(1, take(r));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ((std::vector<std::string> {"kesmadm -r -s dovariza"}), commands().lines);
  }
  EXPECT_EQ(0, force_delay);
  EXPECT_TRUE(rpc_calls().empty());
}

TEST_F(EvaluateTest, FmstartRunsAfter120SecondsAndThenAtMostEvery120) {
  dbms_host = "rhost";
  action_entry *r = rule("*\t*\tha_dbms_remote\t*\t*\t*\t*\tfmstart");
  EXPECT_EQ(1, take(r));
  EXPECT_EQ((std::vector<std::string> {"2130"}), ids());
  EXPECT_EQ(T, fmstart_time);
  EXPECT_EQ(0, force_delay);

  clear();
  clock_now() = T + 121;
  EXPECT_EQ(1, take(r));
  EXPECT_EQ((std::vector<logged> {
                {"2132", LOG_NOTICE, "Attempting to start fault monitor on rhost node"}}),
            messages());
  EXPECT_EQ((std::vector<std::string> {"dorvexq rhost dvz1 start dovariza"}), commands().lines);
  EXPECT_EQ(1, force_delay);
  EXPECT_EQ(T + 121, fmstart_time);

  clear();
  force_delay = 0;
  clock_now() = T + 181;
  take(r);
  EXPECT_EQ((std::vector<std::string> {"2130"}), ids());
  EXPECT_TRUE(commands().lines.empty());
  EXPECT_EQ(0, force_delay);
}

TEST_F(EvaluateTest, FmstartInLocalModeOnlyLogs) {
  action_entry *r = rule("*\t*\t*\t*\t*\t*\t*\tfmstart");
  for (time_t at : {T, T + 200, T + 1000}) {
    clear();
    clock_now() = at;
    EXPECT_EQ(1, take(r));
    EXPECT_EQ((std::vector<std::string> {"2130"}), ids());
    EXPECT_TRUE(commands().lines.empty());
    EXPECT_EQ(0, fmstart_time);
    EXPECT_EQ(0, force_delay);
  }
}

/* ---- reports and the rule message --------------------------------------- */

TEST_F(EvaluateTest, NoActionReportsNoChangeOnlyForAnInternalError) {
  struct row {
    db_info record;
    std::vector<std::string> calls;
  };
  action_entry *r = rule("co\t*\t*\t*\t*\t*\t*\tnone");
  for (const row &w :
       {row {{db_state_connecting, 0, 1, 1}, {"update_dbms_status dvz1 NO_CHANGE 0"}},
        row {{db_state_connecting, 0, 0, 1}, {}},
        row {{db_state_connecting, 77, 1, 1}, {"update_dbms_status dvz1 NO_CHANGE 77"}}}) {
    clear();
    record_ = w.record;
    EXPECT_EQ(1, take(r));
    EXPECT_EQ(w.calls, rpc_calls());
    EXPECT_EQ(
        (std::vector<logged> {{"1030", LOG_INFO, "db_evaluate: --- No action to be taken ---"}}),
        messages());
  }
  logging(1, 0);
  take(r);
  EXPECT_TRUE(messages().empty());
}

TEST_F(EvaluateTest, RuleMessageLevelFollowsTheAction) {
  process_start = T; /* config within the grace: no command */
  take(rule("*\t*\t*\t*\t*\t*\ton\tconfig\tcheck the config"));
  take(rule("*\t*\t*\t*\t*\t*\t*\tnone\tRDBMS appears to be ok"));
  std::vector<logged> rule_messages;
  for (const logged &m : messages())
    if (m.id == "2050") rule_messages.push_back(m);
  EXPECT_EQ(
      (std::vector<logged> {{"2050", LOG_ERR, "db_evaluate: --- check the config ---"},
                            {"2050", LOG_NOTICE, "db_evaluate: --- RDBMS appears to be ok ---"}}),
      rule_messages);
  EXPECT_EQ((std::vector<std::string> {"update_dbms_status dvz1 ONLINE 0",
                                       "update_dbms_status dvz1 ONLINE 0"}),
            rpc_calls());
}

TEST_F(EvaluateTest, RuleMessageReachesTheFileOnceAsAnActionLine) {
  ScopedEnv hosts("HA_REMOTEHOST", std::nullopt);
  take(rule("*\t*\t*\t*\t*\t*\t*\ttakeover\tassertion failure in DBMS log"));
  take(rule("*\t*\t*\t*\t*\t*\t*\tnone")); /* no message: no line */
  std::vector<std::string> lines;
  for (const std::string &line : file_lines())
    if (line.find(".2050]") != std::string::npos) lines.push_back(line);
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(
      std::string::npos,
      lines[0].find(" ID[ZEMKcluster.ha.fmon_test.2050]: :dvz1: assertion failure in DBMS log"))
      << lines[0];
  EXPECT_EQ(lines[0].size(), lines[0].find("assertion failure in DBMS log") + 29);
}

/* ---- the verbose dump ---------------------------------------------------- */

TEST_F(EvaluateTest, DisplayStateLabelsAreExact) {
  db_info record = {db_state_online, 908, 1, 5};
  display_state(&record, "ha_dbms_local", "first\nsecond\n", 1);
  EXPECT_EQ((std::vector<logged> {
                {"1040", LOG_INFO, "db_evaluate: Data are: Old State      on-line"},
                {"1050", LOG_INFO, "db_evaluate:           DBMS error     908"},
                {"1060", LOG_INFO, "db_evaluate:           Process died   ha_dbms_local"},
                {"1070", LOG_INFO, "db_evaluate:           Log message    first"},
                {"1070", LOG_INFO, "db_evaluate:           Log message    second"},
                {"1090", LOG_INFO, "db_evaluate:           Time-Out       1"},
                {"1100", LOG_INFO, "db_evaluate:           Internal Error 1"}}),
            messages());
}

TEST_F(EvaluateTest, DisplayStateLogText) {
  struct row {
    const char *log_text;
    std::vector<std::string> texts; /* of 1060 to 1090, exclusive */
  };
  const std::string label = "db_evaluate:           Log message    ";
  db_info record = {db_state_connecting, 0, 0, 1};
  for (const row &w : {row {nullptr, {label + "*"}}, row {"", {}},
                       row {"one\ntwo", {label + "one", label + "two"}},
                       row {"100% done\n", {label + "100% done"}}}) {
    clear();
    display_state(&record, nullptr, w.log_text, 0);
    std::vector<logged> all = messages();
    ASSERT_GE(all.size(), 5u);
    EXPECT_EQ("db_evaluate:           Process died   *", all[2].text);
    std::vector<std::string> texts;
    for (size_t i = 3; i + 2 < all.size(); ++i) {
      texts.push_back(all[i].text);
      EXPECT_EQ(w.log_text ? "1070" : "1080", all[i].id);
    }
    EXPECT_EQ(w.texts, texts) << (w.log_text ? w.log_text : "(none)");
  }
}

TEST_F(EvaluateTest, DisplayStateOnlyInVerboseMode) {
  logging(1, 0);
  db_info record = {db_state_connecting, 0, 0, 1};
  display_state(&record, nullptr, "x\n", 0);
  EXPECT_TRUE(messages().empty());
}

TEST(StateNames, ByteEqual) {
  EXPECT_STREQ("don't care", db_state_str(rule_any_state));
  EXPECT_STREQ("connecting", db_state_str(db_state_connecting));
  EXPECT_STREQ("on-line", db_state_str(db_state_online));
  EXPECT_STREQ("disconnecting", db_state_str(db_state_disconnecting));
  EXPECT_STREQ("unknown", db_state_str(4));
  EXPECT_STREQ("unknown", db_state_str(-1));
}

}  // namespace
}  // namespace evaltest

namespace evaltest {
namespace {

/* The commented sample action file reads without a 40xx message, and its
** rules decide the demo's outcomes. */
TEST_F(EvaluateTest, SampleActionFileReadsCleanAndDecides) {
  ASSERT_EQ(1, read_action_file(list_.get(), DVZ_SAMPLE_ACTIONS));
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(10, list_->count);

  struct outcome {
    int state, dbms_error;
    const char *died, *log_text;
    int timeout, internal_error;
    const char *message; /* of the rule taken */
    int action, new_state;
  };
  for (const outcome &o : {
           outcome {db_state_connecting, 0, nullptr, "", 0, 1, "internal error in the monitor",
                    ACTION_NONE, rule_any_state},
           outcome {db_state_connecting, 0, nullptr, "", 0, 0, "Connected to database", ACTION_NONE,
                    db_state_online},
           outcome {db_state_online, 0, nullptr, "x\nAssert Failed: y\n", 0, 0,
                    "assertion failure in DBMS log", ACTION_TAKEOVER, rule_any_state},
           outcome {db_state_online, 0, nullptr, "STOP-TEST\n", 0, 0, "stop requested", ACTION_STOP,
                    rule_any_state},
           outcome {db_state_online, 0, "ha_dbms_local", "", 0, 0, "probe process died",
                    ACTION_NONE, db_state_connecting},
           outcome {db_state_online, 0, nullptr, "", 0, 0, "RDBMS appears to be ok", ACTION_NONE,
                    rule_any_state},
           outcome {db_state_online, 908, nullptr, "", 0, 0, "lost connection to server",
                    ACTION_RESTART, db_state_connecting},
           outcome {db_state_online, 0, nullptr, "", 1, 0, "probe timed out", ACTION_RESTART,
                    rule_any_state},
           outcome {db_state_disconnecting, 0, nullptr, "", 0, 0, "disconnected from database",
                    ACTION_NONE, db_state_connecting},
           outcome {db_state_connecting, 25, nullptr, "", 0, 0, "cannot connect - restarting",
                    ACTION_RESTART, rule_any_state},
       }) {
    action_entry *r = find_action(list_.get(), o.state, o.dbms_error, o.died, o.log_text, o.timeout,
                                  o.internal_error);
    ASSERT_NE(nullptr, r) << o.message;
    EXPECT_STREQ(o.message, r->message);
    EXPECT_EQ(o.action, r->action) << o.message;
    EXPECT_EQ(o.new_state, r->new_state) << o.message;
  }
}

}  // namespace
}  // namespace evaltest
