/*
** The main loop of the monitor's test build, run as a daemon: the loss of
** dorvexd, DBMS_SERV_PID values that name no process, a failed renewal,
** the stop rule ending the loop through main's return, and termination
** signals at any moment.
*/
#include <random>

#include "monitor_binary_support.h"

namespace cycletest {
namespace {

TEST_F(MonitorBinaryTest, DorvexdGoneEndsMonitorAtNextTurn) {
  auto run = start();
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  std::string renewal = "set_status dvz1 " + std::to_string(daemon) + " 4711";
  ASSERT_TRUE(testbed::wait_until([&] { return journal_count(renewal) >= 3; }, 30));
  ASSERT_TRUE(wait_until_sleeping());
  double_->kill_and_reap();
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);
  EXPECT_TRUE(has_exit(result, daemon, 0));
  EXPECT_EQ(1u, log_lines("2020",
                          "dovariza vuzu has to commit suicide, because the database service "
                          "dvz1 has died")
                    .size());
  EXPECT_EQ(1u, log_lines("2160", "main process received signal 15 - terminating").size());
}

class ServicePidBinaryTest : public MonitorBinaryTest,
                             public ::testing::WithParamInterface<const char *> {};

TEST_P(ServicePidBinaryTest, UnusableValueEndsMonitorWith2010) {
  std::string setting = GetParam();
  auto run = start({setting});
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);
  EXPECT_EQ(1u, log_lines("2010", " can't get database service PID").size());
  EXPECT_TRUE(log_lines("0040").empty()); /* no probe ran */
  EXPECT_EQ(1u, journal_count("set_status dvz1 0 0"));
}

INSTANTIATE_TEST_SUITE_P(Values, ServicePidBinaryTest,
                         ::testing::Values("DBMS_SERV_PID", "DBMS_SERV_PID=0", "DBMS_SERV_PID=-1",
                                           "DBMS_SERV_PID=abc"));

TEST_F(MonitorBinaryTest, FailedRenewalEndsMonitorWith4290) {
  auto run = start({"HA_FM_DBMSPROBE_DELAY=2"});
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  double_->write_control("fail=set_status\n");
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);
  EXPECT_TRUE(has_exit(result, daemon, 0));
  std::vector<std::string> errors = log_lines("4290");
  ASSERT_EQ(1u, errors.size());
  EXPECT_NE(std::string::npos, errors[0].find("lh1:dvz1: RPC call set_status_1 to dorvexd failed"));
  EXPECT_TRUE(log_lines("0040").empty()); /* the renewal comes before the probe */
}

TEST_F(MonitorBinaryTest, StopRuleEndsLoopThroughMainsReturn) {
  auto run = start();
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  ASSERT_TRUE(testbed::wait_until([&] { return probe_children().size() == 1; }, 30));
  pid_t child = probe_children()[0];
  dvz_test::append_file(dir_.file("dbms.log"), "please STOP now\n");
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);
  EXPECT_TRUE(has_exit(result, daemon, 0));
  EXPECT_TRUE(has_exit(result, child, 0));

  std::string log = tail_->appended();
  size_t exiting = log.find("dovariza fault monitor for dvz1 exiting...");
  ASSERT_NE(std::string::npos, exiting);
  /* The child ends on the SIGTERM sent before 2030 and logs its own 2170,
  ** possibly first: the monitor's comes after its 2030. */
  EXPECT_NE(std::string::npos,
            log.find("ID[t01.dovariza_fmon_scripted.2170]: lh1:dvz1: shutting down", exiting));
  EXPECT_EQ(1u, log_lines("2160", "DB process received signal 15 - terminating").size());
  EXPECT_TRUE(log_lines("2160", "main process").empty());
  std::vector<std::string> journal = double_->journal_lines();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ("set_status dvz1 0 0", journal.back());
  EXPECT_EQ(1u, journal_count("set_status dvz1 0 0"));
}

TEST_F(MonitorBinaryTest, SigtermDuringHungRequestEndsBothPromptly) {
  dir_.write("script/connect", "hang\n");
  auto run = start({}, 1, 60);
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  ASSERT_TRUE(testbed::wait_until([&] { return probe_children().size() == 1; }, 30));
  pid_t child = probe_children()[0];
  ASSERT_TRUE(testbed::wait_until([&] { return !log_lines("0050").empty(); }, 30));

  auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(0, kill(daemon, SIGTERM));
  testbed::ReapedResult result = run->wait();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
  EXPECT_LT(seconds, 20.0); /* far below the 60 s time-out */
  expect_all_exited_zero(result);
  EXPECT_TRUE(has_exit(result, daemon, 0));
  EXPECT_TRUE(has_exit(result, child, 0));
  EXPECT_EQ(1u, log_lines("2160", "main process received signal 15 - terminating").size());
  EXPECT_EQ(1u, log_lines("2160", "DB process received signal 15 - terminating").size());
  EXPECT_EQ(2u, log_lines("2170", "shutting down").size());
  EXPECT_EQ(1u, journal_count("set_status dvz1 0 0"));
}

TEST_F(MonitorBinaryTest, SigtermAtRandomMomentsAlwaysEndsCleanly) {
  std::mt19937 random(static_cast<unsigned>(getpid()));
  std::uniform_int_distribution<int> delay_ms(0, 2500);
  for (int run_number = 0; run_number < 8; ++run_number) {
    SCOPED_TRACE("run " + std::to_string(run_number));
    size_t from = double_->journal_lines().size();
    auto run = start();
    pid_t daemon = daemon_pid(from);
    ASSERT_GT(daemon, 0);
    usleep(static_cast<useconds_t>(delay_ms(random)) * 1000);
    kill(daemon, run_number % 2 ? SIGTERM : SIGQUIT);
    testbed::ReapedResult result = run->wait();
    expect_all_exited_zero(result);
    EXPECT_TRUE(has_exit(result, daemon, 0));
    EXPECT_EQ(1u, journal_count("set_status dvz1 0 0", from));
    EXPECT_EQ("set_status dvz1 0 0", double_->journal_lines().back());
  }
}

/* The renewals ("set" for this daemon's pid) and get_status calls ("get")
** of the journal after the start-up check, in order. */
std::vector<std::string> renewals_and_queries(const std::vector<std::string> &journal,
                                              pid_t daemon) {
  std::vector<std::string> order;
  std::string renewal = "set_status dvz1 " + std::to_string(daemon) + " 4711";
  bool after_check = false;
  for (const std::string &line : journal) {
    if (line == "get_status dvz1" && !after_check) {
      after_check = true;
      continue;
    }
    if (!after_check) continue;
    if (line == renewal) order.push_back("set");
    if (line == "get_status dvz1") order.push_back("get");
  }
  return order;
}

TEST_F(MonitorBinaryTest, RemoteModeChecksPublicNetworkAndRemoteMonitor) {
  auto run = start({}, 1, 5, 90, "-r", "127.0.0.1");
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  ASSERT_TRUE(testbed::wait_until([&] { return journal_count("get_status dvz1") >= 3; }, 30));
  kill(daemon, SIGTERM);
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);

  /* Registration, two immediate probes (start, then the change to on-line)
  ** without a query, then a query after each scheduled probe. The double
  ** answers from its table, where this monitor is registered. */
  std::vector<std::string> order = renewals_and_queries(double_->journal_lines(), daemon);
  ASSERT_GE(order.size(), 7u);
  EXPECT_EQ((std::vector<std::string> {"set", "set", "set", "set", "get", "set", "get"}),
            std::vector<std::string>(order.begin(), order.begin() + 7));
  EXPECT_TRUE(log_lines("4240").empty());
  EXPECT_TRUE(log_lines("4230").empty());

  /* One public-network check per probe, before its request. */
  std::vector<std::string> commands = montest::lines_of(dvz_test::read_file(dir_.file("commands")));
  EXPECT_GE(commands.size(), 4u);
  for (const std::string &c : commands)
    EXPECT_EQ("marnoping 127.0.0.1", c);
  std::string calls = dvz_test::read_file(dir_.file("script/calls"));
  EXPECT_NE(std::string::npos, calls.find(" connect remote=1\n"));
  EXPECT_EQ(std::string::npos, calls.find("remote=0"));
}

/* A remote status query that fails on the real RPC stack gives 4240 headed
** "ha_db_ping_remote failed" and drops the client; the queries after it
** work again on a new one. */
TEST_F(MonitorBinaryTest, FailedRemoteQueryIsLoggedAndTheNextOneWorks) {
  auto run = start({}, 1, 5, 90, "-r", "127.0.0.1");
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  /* The start-up check and one query after a scheduled probe. */
  ASSERT_TRUE(testbed::wait_until([&] { return journal_count("get_status dvz1") >= 2; }, 30));
  double_->write_control("fail=get_status\n");
  ASSERT_TRUE(testbed::wait_until([&] { return log_lines("4240").size() >= 2; }, 30));
  double_->write_control("");
  size_t failures = 0;
  size_t queries = 0;
  /* Once a query after the change was answered, later ones keep working. */
  ASSERT_TRUE(testbed::wait_until(
      [&] {
        size_t now_failed = log_lines("4240").size();
        size_t now_queries = journal_count("get_status dvz1");
        if (now_failed != failures) {
          failures = now_failed;
          queries = now_queries;
        }
        return now_queries >= queries + 3;
      },
      30));
  kill(daemon, SIGTERM);
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);
  EXPECT_TRUE(has_exit(result, daemon, 0));

  std::vector<std::string> errors = log_lines("4240");
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(failures, errors.size()); /* none once the double answers again */
  for (const std::string &line : errors) {
    EXPECT_NE(std::string::npos,
              line.find("]: 127.0.0.1:dvz1: ha_db_ping_remote failed: RPC: Remote system error"))
        << line;
  }
  EXPECT_TRUE(log_lines("4230").empty());
  EXPECT_TRUE(log_lines("4290").empty());
}

TEST_F(MonitorBinaryTest, PublicNetworkStatus98SkipsRequestsAndQueries) {
  dir_.write("fake/marnoping.rc", "98\n");
  auto run = start({}, 1, 5, 90, "-r", "127.0.0.1");
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  std::string renewal = "set_status dvz1 " + std::to_string(daemon) + " 4711";
  ASSERT_TRUE(testbed::wait_until([&] { return journal_count(renewal) >= 5; }, 30));
  kill(daemon, SIGTERM);
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);
  EXPECT_EQ("", dvz_test::read_file(dir_.file("script/calls")));
  EXPECT_EQ(1u, journal_count("get_status dvz1")); /* only the start-up check */
  /* Nothing was evaluated: no rule, no status report, and the state did not
  ** change, so only the first probe came at once. */
  EXPECT_GE(log_lines("0150", "run_probe: public network status 98 - probe skipped").size(), 3u);
  EXPECT_TRUE(log_lines("2050").empty());
  EXPECT_EQ(0u, journal_count("update_dbms_status dvz1 ONLINE 0"));
  EXPECT_EQ(1u, log_lines("0030", "MT: state change!").size());
}

/* While connecting, 98 takes no "co ... on" rule: no "Connected to
** database", no ONLINE, the state stays connecting. Once the network check
** passes again, the first request is the connect. */
TEST_F(MonitorBinaryTest, PublicNetworkStatus98WhileConnectingKeepsTheState) {
  dir_.write("actions",
             "co\t0\t*\t*\t0\t*\ton\tnone\tConnected to database\n"
             "on\t0\t*\t*\t0\t*\t*\tnone\tRDBMS appears to be ok\n");
  dir_.write("fake/marnoping.rc", "98\n");
  auto run = start({}, 1, 5, 90, "-r", "127.0.0.1");
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  ASSERT_TRUE(testbed::wait_until([&] { return log_lines("0150").size() >= 3; }, 30));
  EXPECT_TRUE(log_lines("2050").empty());
  EXPECT_EQ(0u, journal_count("update_dbms_status dvz1 ONLINE 0"));
  EXPECT_EQ("", dvz_test::read_file(dir_.file("script/calls")));

  ASSERT_TRUE(testbed::replace_file(dir_.file("fake/marnoping.rc"), "0\n"));
  ASSERT_TRUE(testbed::wait_until(
      [&] { return journal_count("update_dbms_status dvz1 ONLINE 0") >= 2; }, 30));
  kill(daemon, SIGTERM);
  testbed::ReapedResult result = run->wait();
  expect_all_exited_zero(result);
  std::vector<montest::probe_call> probes = calls();
  ASSERT_FALSE(probes.empty());
  EXPECT_EQ("connect", probes[0].op);
  EXPECT_EQ(1u, log_lines("2050", "Connected to database").size());
}

}  // namespace
}  // namespace cycletest
