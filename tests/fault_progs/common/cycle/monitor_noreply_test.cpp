/*
** A dorvexd that stops answering: the next registration renewal fails after
** the RPC call time-out and the monitor ends with 4290 and status 0. The
** test build's time-out is shortened to 3 s (production keeps 25 s).
*/
#include "monitor_binary_support.h"

namespace cycletest {
namespace {

TEST_F(MonitorBinaryTest, UnansweredRenewalEndsMonitorAfterRpcTimeOut) {
  auto run = start({"HA_FM_DBMSPROBE_DELAY=2", "DVZ_TEST_RPC_TIMEOUT=3"}, 1, 5, 150);
  pid_t daemon = daemon_pid();
  ASSERT_GT(daemon, 0);
  double_->write_control("noreply=set_status\n");
  auto asked = std::chrono::steady_clock::now();
  testbed::ReapedResult result = run->wait();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  expect_all_exited_zero(result);
  EXPECT_TRUE(has_exit(result, daemon, 0));
  EXPECT_GE(seconds, 2.5);
  EXPECT_LT(seconds, 20.0);
  std::vector<std::string> errors = log_lines("4290");
  ASSERT_EQ(1u, errors.size());
  EXPECT_NE(std::string::npos, errors[0].find("lh1:dvz1: RPC call set_status_1 to dorvexd failed"));
}

}  // namespace
}  // namespace cycletest
