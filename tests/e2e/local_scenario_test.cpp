/*
** The local scenario end to end, with the sample action file: the monitor
** registers, connects and goes on-line, then reacts to what the DBMS log
** and the scripted probe show it (a takeover request, DBMS error 908, a
** probe that outlasts the time-out, a crashed and a killed probe child)
** until a "STOP-TEST" line stops the service and the monitor ends with
** status 0. Variants: SIGTERM, and the dorvexd double going away.
*/
#include <chrono>
#include <regex>

#include "e2e_support.h"

namespace e2e {
namespace {

class LocalScenario : public Scenario {};

TEST_F(LocalScenario, ConnectsDecidesAndStops) {
  auto run = start();
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0) << dvz_test::read_file(dir_.file("dorvexd/double.log"));
  const std::string m = std::to_string(monitor);

  /* Registration, then on-line. */
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0"));
  std::vector<std::string> j = journal();
  ASSERT_GE(j.size(), 2u);
  EXPECT_EQ("get_status dvz1", j[0]);
  EXPECT_EQ("set_status dvz1 " + m + " 4711", j[1]);

  /* The rule messages: once each while they repeat. */
  ASSERT_TRUE(wait_action_line("RDBMS appears to be ok"));
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0", 4));
  EXPECT_EQ(1u, action_lines("Connected to database"));
  EXPECT_EQ(1u, action_lines("RDBMS appears to be ok"));
  const std::regex line_form(
      "[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ID\\[t01\\.dovariza_fmon_scripted\\."
      "2050\\]: :dvz1: Connected to database");
  std::vector<std::string> connected = log_lines("2050", "Connected to database");
  ASSERT_EQ(1u, connected.size());
  EXPECT_TRUE(std::regex_match(connected[0], line_form)) << connected[0];

  /* Idle statistics run the test transaction. */
  std::vector<probe_call> c = calls();
  bool transaction = false;
  for (size_t i = 0; i + 1 < c.size(); ++i)
    transaction |= c[i].op == "stats" && c[i + 1].op == "txn" && c[i].pid == c[i + 1].pid;
  EXPECT_TRUE(transaction);

  /* A takeover asked for in the DBMS log. */
  append_dbms_log("Assert Failed: in the buffer pool\n");
  ASSERT_TRUE(wait_command("kesmadm -g -s dovariza -l node2"));
  EXPECT_TRUE(in_order(commands(), {"dovariza_plaxnode dvz1", "kesmadm -g -s dovariza -l node2"}));
  EXPECT_TRUE(wait_journal("update_dbms_status dvz1 FAULTED 0"));
  EXPECT_TRUE(wait_action_line("assertion failure in DBMS log"));

  /* DBMS error 908: the database is restarted. */
  script("stats", "err 908");
  ASSERT_TRUE(wait_command("dovariza_kelpo " + m + " onconfig.dvz1"));
  script("stats", "idle");
  EXPECT_EQ(0u, log_lines("4510").size());
  EXPECT_TRUE(wait_journal("update_dbms_status dvz1 FAULTED 908"));

  /* A probe that outlasts the 2 s time-out. */
  script("stats", "sleep 4");
  ASSERT_TRUE(wait_action_line("probe timed out"));
  script("stats", "idle");

  /* A child that crashes in a request, then one killed between probes. */
  std::vector<pid_t> before = children();
  script("stats", "crash");
  ASSERT_TRUE(wait_action_line("probe process died"));
  script("stats", "idle");
  ASSERT_GT(wait_new_child_connect(before), 0);

  size_t online = journal_count("update_dbms_status dvz1 ONLINE 0");
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0", online + 2));
  ASSERT_TRUE(wait_until_sleeping()); /* between probes: no request is open */
  before = children();
  size_t died = action_lines("probe process died");
  ASSERT_EQ(0, kill(before.back(), SIGKILL));
  pid_t replacement = wait_new_child_connect(before);
  ASSERT_GT(replacement, 0);
  EXPECT_EQ(died, action_lines("probe process died"));

  /* STOP-TEST: stop commands, shutdown, deregistration, orderly end. */
  wait_on_line();
  append_dbms_log("STOP-TEST\n");
  testbed::ReapedResult result = run->wait();
  EXPECT_TRUE(in_order(commands(), {"dovariza_jorvswap dvz1 stop", "dorvexq n1 dvz1 stop dovariza",
                                    "dorvexq n2 dvz1 stop dovariza"}));
  j = journal();
  EXPECT_TRUE(in_order(j, {"shutdown_db dvz1 dovariza", "update_dbms_status dvz1 FAULTED 0",
                           "set_status dvz1 0 0"}));
  EXPECT_EQ("set_status dvz1 0 0", j.back());
  EXPECT_EQ(1u, count_of(j, "set_status dvz1 0 0"));
  EXPECT_EQ(1u, log_lines("2120", "db_evaluate: shutdown database dvz1").size());
  EXPECT_EQ(1u, log_lines("2030", "dovariza fault monitor for dvz1 exiting...").size());
  EXPECT_FALSE(log_lines("2170", "shutting down").empty());
  EXPECT_TRUE(exited_with(result, monitor, 0)) << result.report;
  expect_all_exited_zero(result);

  /* A renewal before every probe: never fewer renewals than requests. */
  EXPECT_GE(count_of(j, "set_status dvz1 " + m + " 4711") - 1, requests());
}

TEST_F(LocalScenario, SigtermEndsTheMonitorWithStatusZero) {
  auto run = start();
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0"));
  ASSERT_EQ(0, kill(monitor, SIGTERM));
  testbed::ReapedResult result = run->wait();
  EXPECT_EQ(1u, log_lines("2160", "main process received signal 15 - terminating").size());
  EXPECT_EQ("set_status dvz1 0 0", journal().back());
  EXPECT_TRUE(exited_with(result, monitor, 0)) << result.report;
  expect_all_exited_zero(result);
}

TEST_F(LocalScenario, LossOfDorvexdEndsTheMonitorWithinTwoCycles) {
  auto run = start();
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0"));
  /* Killed while the monitor sleeps, so that no call is in flight (it
  ** would wait out the RPC time-out and end with 4290). */
  ASSERT_TRUE(wait_until_sleeping());
  double_->kill_and_reap();
  auto killed = std::chrono::steady_clock::now();
  testbed::ReapedResult result = run->wait();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
  EXPECT_EQ(1u, log_lines("2020",
                          "dovariza vuzu has to commit suicide, because the database service "
                          "dvz1 has died")
                    .size());
  /* Two 1 s cycles, with room for a loaded machine. */
  EXPECT_LT(seconds, 10.0);
  EXPECT_TRUE(exited_with(result, monitor, 0)) << result.report;
  expect_all_exited_zero(result);
}

}  // namespace
}  // namespace e2e
