/*
** What keeps the service safe from its own input, end to end: names the
** shell would read as more than a name never reach a command line
** (instance and host operands, words of HA_REMOTEHOST, ONCONFIG), the
** daemon's descriptors 0 to 2 are the console or /dev/null, and a second
** monitor for the same instance never deregisters the first.
*/
#include <filesystem>

#include "e2e_support.h"

namespace e2e {
namespace {

class SafetyScenario : public Scenario {};

TEST_F(SafetyScenario, OperandsTheShellWouldReadAreRefusedAtStartUp) {
  const std::string marker = dir_.file("created");
  struct row {
    std::string option, host, instance;
  };
  for (const row &r :
       {row {"-m", "lh1", "dvz1;touch " + marker}, row {"-m", "h`touch " + marker + "`", "dvz1"},
        row {"-r", "h$(touch " + marker + ")", "dvz1"}}) {
    SCOPED_TRACE(r.host + " " + r.instance);
    size_t refusals = log_lines("4180", ": Invalid parameters").size();
    auto run = start({}, operands(r.option, r.host, r.instance));
    testbed::ReapedResult result = run->wait();
    EXPECT_EQ(refusals + 1, log_lines("4180", ": Invalid parameters").size());
    std::vector<testbed::ReapedExit> daemon = result.others();
    ASSERT_EQ(1u, daemon.size()) << result.report;
    EXPECT_TRUE(daemon[0].exited && daemon[0].status == 1) << result.report;
    EXPECT_TRUE(exited_with(result, result.child, 0)) << result.report;
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_TRUE(commands().empty());
  EXPECT_TRUE(journal().empty());
}

TEST_F(SafetyScenario, RunningMonitorKeepsNamesAndDescriptorsSafe) {
  auto run = start({"HA_REMOTEHOST=n1 n;2", "ONCONFIG=a;b"});
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);
  const std::string m = std::to_string(monitor);
  ASSERT_TRUE(wait_journal("update_dbms_status dvz1 ONLINE 0"));

  /* Descriptors 0 to 2 of the daemon and of its probe child. */
  std::vector<pid_t> processes = {monitor};
  if (!children().empty()) processes.push_back(children().back());
  for (pid_t pid : processes) {
    for (int fd = 0; fd <= 2; ++fd) {
      std::string target = descriptor(pid, fd);
      EXPECT_TRUE(target == "/dev/console" || target == "/dev/null")
          << pid << " fd " << fd << " -> " << target;
    }
  }

  /* A second monitor without DBMS_SERV_KEY leaves the first registered. */
  size_t lines_before = journal().size();
  testbed::ReapedResult second = testbed::run_reaped(
      [&] {
        std::vector<std::string> argv = operands();
        argv.insert(argv.begin(), testbed::bin_dir() + "/" + program);
        return argv;
      }(),
      environment({"DBMS_SERV_KEY"}), 60);
  EXPECT_EQ(1u, log_lines("4242", " can't get DBMS_SERV_KEY environment variable").size());
  EXPECT_EQ(1u, log_lines("2160", "main process received signal 15 - terminating").size());
  EXPECT_FALSE(log_lines("2170", "shutting down").empty());
  expect_all_exited_zero(second);
  EXPECT_EQ(0u, journal_count("set_status dvz1 0 0"));
  std::vector<std::string> j = journal();
  for (size_t i = lines_before; i < j.size(); ++i)
    EXPECT_EQ(std::string::npos, j[i].find("set_status dvz1 0")) << j[i];

  /* One with the key finds the first registered. */
  testbed::ReapedResult third = testbed::run_reaped(
      [&] {
        std::vector<std::string> argv = operands();
        argv.insert(argv.begin(), testbed::bin_dir() + "/" + program);
        return argv;
      }(),
      environment(), 60);
  EXPECT_EQ(
      1u,
      log_lines("2150", "Another fault monitor is already running for the same instance").size());
  std::vector<testbed::ReapedExit> refused = third.others();
  ASSERT_EQ(1u, refused.size()) << third.report;
  EXPECT_TRUE(refused[0].exited && refused[0].status == 1) << third.report;
  const std::string renewal = "set_status dvz1 " + m + " 4711";
  EXPECT_TRUE(wait_journal(renewal, journal_count(renewal) + 1));

  /* ONCONFIG "a;b": the restart runs nothing. */
  script("stats", "err 908");
  ASSERT_TRUE(wait_log("4510", "dovariza_kelpo " + m + " a;b failed"));
  script("stats", "idle");
  for (const std::string &line : commands())
    EXPECT_EQ(std::string::npos, line.find("dovariza_kelpo")) << line;

  /* HA_REMOTEHOST "n1 n;2": n1 is stopped, n;2 refused. */
  wait_on_line();
  append_dbms_log("STOP-TEST\n");
  testbed::ReapedResult result = run->wait();
  std::vector<std::string> c = commands();
  EXPECT_TRUE(in_order(c, {"dovariza_jorvswap dvz1 stop", "dorvexq n1 dvz1 stop dovariza"}));
  for (const std::string &line : c)
    EXPECT_EQ(std::string::npos, line.find("n;2")) << line;
  for (const std::string &line : c)
    EXPECT_EQ(std::string::npos, line.find("n\\x3b2")) << line;
  EXPECT_EQ(1u, log_lines("4110", ": dorvexq n;2 dvz1 stop dovariza failed").size());
  EXPECT_TRUE(wait_journal("shutdown_db dvz1 dovariza"));
  EXPECT_EQ("set_status dvz1 0 0", journal().back());
  EXPECT_TRUE(exited_with(result, monitor, 0)) << result.report;
  expect_all_exited_zero(result);
}

}  // namespace
}  // namespace e2e
