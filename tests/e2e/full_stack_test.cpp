/*
** The full stack end to end: the monitor with the real probe and runtime
** (dovariza_fmon_test) against the SQLI double. The cycle of connect,
** on-line, statistics with the test transaction, disconnect and reconnect;
** the faults switched on at the double while the monitor runs, each
** reaching its rule; and the probe child's descriptors across reconnects.
*/
#include <csignal>
#include <cstdio>
#include <cstring>
#include <regex>

#include "full_stack_support.h"
#include "process_state.h"

namespace e2e {
namespace {

/* The message ids of the monitor's log lines since the fixture started, in
** order. */
std::vector<std::string> ids_of(const std::vector<std::string> &lines) {
  static const std::regex id(R"(ID\[t01\.[a-z_]+\.([0-9]{4})\])");
  std::vector<std::string> ids;
  for (const std::string &line : lines) {
    std::smatch m;
    if (std::regex_search(line, m, id)) ids.push_back(m[1]);
  }
  return ids;
}

/* SIGTERM ends the monitor with status 0; every process of its tree ends
** with status 0, except a probe child the monitor gave up on after a
** time-out, which its alarm ends (SIGALRM). */
void expect_end_with_abandoned_child(pid_t monitor, testbed::ReapedRunner &run) {
  ASSERT_EQ(0, kill(monitor, SIGTERM));
  testbed::ReapedResult result = run.wait();
  EXPECT_FALSE(result.timed_out) << result.report;
  const testbed::ReapedExit *m = result.find(monitor);
  EXPECT_TRUE(m && m->exited && m->status == 0) << result.report;
  for (const testbed::ReapedExit &e : result.reaped)
    EXPECT_TRUE(e.exited ? e.status == 0 : e.status == SIGALRM) << e.pid << "\n" << result.report;
}

/* ---- the cycle ---------------------------------------------------------- */

class FullStackCycle : public FullStack {};

/* The cycle on either profile of the double. */
class FullStackProfiles : public FullStack, public ::testing::WithParamInterface<const char *> {
 protected:
  std::string profile() const override { return GetParam(); }
};

TEST_P(FullStackProfiles, ConnectsGoesOnLineProbesDisconnectsAndReconnects) {
  auto run = start_stack(2);
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0"));
  /* Connect cycle 2: after two on-line probes the child disconnects, and
  ** its next connect is its second (session id 2). */
  ASSERT_TRUE(testbed::wait_until([&] { return connect_lines(2) > 0; }, wait_seconds))
      << tail_->appended();
  ASSERT_TRUE(wait_action_line("disconnected from database"));
  /* The rule messages (2050) in order. */
  std::vector<std::string> rule_messages;
  for (const std::string &line : log_lines("2050"))
    rule_messages.push_back(line.substr(line.find(":dvz1: ") + 7));
  EXPECT_TRUE(in_order(rule_messages, {"Connected to database", "RDBMS appears to be ok",
                                       "disconnected from database"}))
      << tail_->appended();

  const std::vector<std::string> ids = ids_of(lines_of(tail_->appended()));
  /* Connect, statistics (activity at the first: the counters are
  ** positive), statistics with the test transaction, disconnect, connect. */
  EXPECT_TRUE(in_order(ids, {"0510", "0520", "1520", "0540", "1530", "1520", "1530", "0550", "0560",
                             "0570", "0580", "0590", "0600", "0530", "0510"}))
      << tail_->appended();
  EXPECT_TRUE(failures().empty()) << tail_->appended();
  EXPECT_TRUE(wait_connects(2));

  expect_orderly_end_on_sigterm(monitor, *run);
  EXPECT_EQ("set_status dvz1 0 0", journal().back());
}

INSTANTIATE_TEST_SUITE_P(OfTheDouble, FullStackProfiles, ::testing::Values("minimal", "modern"));

/* Under connect cycle 3, 20 probes: the probe child holds the same
** descriptors after every reconnect as after its first connect. */
TEST_F(FullStackCycle, ChildDescriptorsStayTheSameAcrossReconnects) {
  auto run = start_stack(3);
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0"));
  ASSERT_TRUE(wait_until_sleeping());
  std::vector<pid_t> kids = testbed::descendants_of(monitor);
  ASSERT_EQ(1u, kids.size());
  const pid_t child = kids[0];
  const std::map<int, std::string> first = descriptors_of(child);
  ASSERT_FALSE(first.empty());

  size_t checked = 0;
  for (int session = 2; log_lines("1520").size() < 20; ++session) {
    ASSERT_TRUE(testbed::wait_until([&] { return connect_lines(session) > 0; }, wait_seconds))
        << "connect #" << session << "\n"
        << tail_->appended();
    ASSERT_TRUE(wait_until_sleeping());
    ASSERT_EQ(std::vector<pid_t> {child}, testbed::descendants_of(monitor))
        << "the child was replaced";
    EXPECT_EQ(first, descriptors_of(child)) << "after connect #" << session << "\nfirst:\n"
                                            << describe(first) << "now:\n"
                                            << describe(descriptors_of(child));
    ++checked;
  }
  EXPECT_GE(checked, 4u);
  EXPECT_TRUE(failures().empty()) << tail_->appended();
  expect_orderly_end_on_sigterm(monitor, *run);
}

/* ---- faults switched on at the double ----------------------------------- */

/* A fault on the statistics of an on-line monitor: the scenario's extra
** members, the 2540 context and number it must log, and the rule message
** (or the fake restart command, "" for none) it must reach. */
struct statistics_fault {
  const char *name;
  const char *extra;
  const char *failure; /* "<context>: <number>" */
  const char *action; /* rule message, or "" */
  bool restarts; /* the rule runs dovariza_kelpo */
  bool recovers; /* cleared, the same child goes on probing on-line */
  bool abandons; /* the child outlasts the time-out and is given up */
};

/* The case's name in test listings. */
void PrintTo(const statistics_fault &f, std::ostream *os) { *os << f.name; }

class StatisticsFault : public FullStack, public ::testing::WithParamInterface<statistics_fault> {};

TEST_P(StatisticsFault, ReachesItsRule) {
  const statistics_fault &f = GetParam();
  ASSERT_NO_FATAL_FAILURE(start_on_line(0, 5));
  const pid_t monitor = monitor_;
  switch_scenario(probe_scenario(500, f.extra));
  if (*f.failure) {
    ASSERT_TRUE(wait_failure(f.failure)) << tail_->appended();
    /* The 2540 line carries the number's catalog text after it. */
    for (const std::string &line : failures(f.failure)) {
      std::string number_on = line.substr(line.find(f.failure) + strlen(f.failure));
      EXPECT_NE(std::string::npos, number_on.find(' ')) << line;
      EXPECT_GT(number_on.size() - number_on.find(' '), 2u) << line;
    }
  }
  if (*f.action) {
    EXPECT_TRUE(wait_action_line(f.action)) << tail_->appended();
  }
  if (f.restarts) {
    EXPECT_TRUE(wait_command("dovariza_kelpo " + std::to_string(monitor) + " onconfig.dvz1"));
  }
  /* The fault cleared, the monitor goes on probing on-line. */
  switch_scenario(probe_scenario(500));
  if (f.recovers) wait_on_line();
  if (HasFailure()) fprintf(stderr, "%s", tail_->appended().c_str());
  if (f.abandons)
    expect_end_with_abandoned_child(monitor, *run_);
  else
    expect_orderly_end_on_sigterm(monitor, *run_);
}

INSTANTIATE_TEST_SUITE_P(
    AtTheDouble, StatisticsFault,
    ::testing::Values(
        /* The connection stays open at the double: the monitor's
        ** reconnect after the restart is refused by the runtime (the
        ** connection exists), so only the restart is looked at. */
        statistics_fault {"ServerDownOnTheCursorOpen", R"("rules": [{"code": 6, "error": -908}])",
                          "opening cursor: -908", "lost connection to server", true, false, false},
        statistics_fault {"ErrorOnAFetchBatch", R"("rules": [{"code": 9, "error": -244}])",
                          "fetching data: -244", "", false, true, false},
        statistics_fault {"StallBeyondTheTimeOut", R"("rules": [{"code": 6, "stall": true}])", "",
                          "probe timed out", true, true, true},
        statistics_fault {"SocketClosedMidReply", R"("rules": [{"code": 6, "close_at": 1}])",
                          "opening cursor: -25582", "", false, true, false},
        statistics_fault {"ServerExitMidFetch", R"("rules": [{"code": 9, "exit_at": 0}])",
                          "fetching data: -25582", "", false, true, false},
        statistics_fault {"UnknownReplyCode",
                          R"("rules": [{"code": 6, "reply": [{"kind": "code", "code": 3000}]}])",
                          "opening cursor: -408", "", false, true, false}),
    [](const ::testing::TestParamInfo<statistics_fault> &info) { return info.param.name; });

class ConnectionFault : public FullStack {};

/* A refusal switched on between two connects: DBMS error 387 in state
** connecting, its 2540 line, the connecting rule's restart; cleared, the
** next connect goes on-line. */
TEST_F(ConnectionFault, RefusedConnectReachesTheConnectingRule) {
  ASSERT_NO_FATAL_FAILURE(start_on_line(2, 5));
  const pid_t monitor = monitor_;
  switch_scenario(probe_scenario(500, R"("connect": {"reject": -387})"));
  ASSERT_TRUE(wait_failure("connecting to database: -387")) << tail_->appended();
  EXPECT_TRUE(wait_action_line("cannot connect - restarting"));
  /* The rules saw DBMS error 387 in state connecting. */
  bool connecting = false, seen = false;
  for (const std::string &line : lines_of(tail_->appended())) {
    if (line.find(".1040]") != std::string::npos)
      connecting = line.ends_with("Old State      connecting");
    seen |= connecting && line.find(".1050]") != std::string::npos &&
            line.ends_with("DBMS error     387");
  }
  EXPECT_TRUE(seen) << tail_->appended();
  EXPECT_TRUE(wait_command("dovariza_kelpo " + std::to_string(monitor) + " onconfig.dvz1"));
  const size_t refused = connects();
  switch_scenario(probe_scenario(500, R"("connect": {"reject": null})"));
  wait_on_line();
  EXPECT_GT(connects(), refused);
  expect_orderly_end_on_sigterm(monitor, *run_);
}

/* The transaction flag set at disconnect: the disconnect fails with 1800
** (and is aborted), and the next connect succeeds. */
TEST_F(ConnectionFault, OpenTransactionAtDisconnectFailsWith1800ThenReconnects) {
  ASSERT_NO_FATAL_FAILURE(start_on_line(2, 5));
  const pid_t monitor = monitor_;
  switch_scenario(probe_scenario(500, R"("transaction": 1)"));
  ASSERT_TRUE(wait_failure("disconnecting from database: -1800")) << tail_->appended();
  const size_t before = connects();
  ASSERT_TRUE(wait_connects(before + 1));
  switch_scenario(probe_scenario(500));
  wait_on_line();
  EXPECT_TRUE(failures("connecting to database").empty()) << tail_->appended();
  expect_orderly_end_on_sigterm(monitor, *run_);
}

/* The double never answers the disconnect's requests: the time-out ends
** the child, a new one replaces it and connects (its session id 1 again). */
TEST_F(ConnectionFault, StalledDisconnectGetsTheChildReplaced) {
  ASSERT_NO_FATAL_FAILURE(start_on_line(2, 5));
  const pid_t monitor = monitor_;
  std::vector<pid_t> before = testbed::descendants_of(monitor);
  ASSERT_EQ(1u, before.size());
  switch_scenario(probe_scenario(500, R"("disconnect_stall": true)"));
  ASSERT_TRUE(testbed::wait_until(
      [&] {
        std::vector<pid_t> now = testbed::descendants_of(monitor);
        return now.size() == 1 && now[0] != before[0];
      },
      wait_seconds))
      << tail_->appended();
  switch_scenario(probe_scenario(500));
  ASSERT_TRUE(testbed::wait_until([&] { return connect_lines(1) >= 2; }, wait_seconds))
      << tail_->appended();
  wait_on_line();
  expect_end_with_abandoned_child(monitor, *run_);
}

}  // namespace
}  // namespace e2e
