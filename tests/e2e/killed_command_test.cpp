/*
** Framework commands killed by a signal, end to end: the fake commands
** kill the shell that runs them, so the monitor's system() sees a signal
** death. The stop action must log each such command as failed, never
** take it for one that exited 0, and still end the monitor in order.
*/
#include "e2e_support.h"

namespace e2e {
namespace {

class KilledCommand : public Scenario {
 protected:
  void kill_with(const std::string &command, const std::string &signal) const {
    ASSERT_TRUE(testbed::replace_file(dir_.file("fake/" + command + ".signal"), signal + "\n"));
  }
};

TEST_F(KilledCommand, StopLogsEveryKilledCommandAsFailed) {
  auto run = start();
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);
  wait_on_line();
  kill_with("dovariza_jorvswap", "TERM");
  kill_with("dorvexq", "KILL");
  append_dbms_log("STOP-TEST\n");
  testbed::ReapedResult result = run->wait();

  EXPECT_TRUE(in_order(commands(), {"dovariza_jorvswap dvz1 stop", "dorvexq n1 dvz1 stop dovariza",
                                    "dorvexq n2 dvz1 stop dovariza"}));
  EXPECT_EQ(1u,
            log_lines("4110", ": dovariza_jorvswap dvz1 stop failed with exit code (-1)").size());
  EXPECT_EQ(1u, log_lines("4110", ": dorvexq n1 dvz1 stop dovariza failed").size());
  EXPECT_EQ(1u, log_lines("4110", ": dorvexq n2 dvz1 stop dovariza failed").size());

  /* The stop went on all the same: shutdown, report, deregistration. */
  std::vector<std::string> j = journal();
  EXPECT_TRUE(in_order(j, {"shutdown_db dvz1 dovariza", "update_dbms_status dvz1 FAULTED 0",
                           "set_status dvz1 0 0"}));
  EXPECT_TRUE(exited_with(result, monitor, 0)) << result.report;
  EXPECT_TRUE(exited_with(result, result.child, 0)) << result.report;
}

}  // namespace
}  // namespace e2e
