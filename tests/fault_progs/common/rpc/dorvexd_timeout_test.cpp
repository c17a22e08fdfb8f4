/*
** A dorvexd that stops answering: the stub waits out the client's call
** time-out and reports the failure as a missing result. The time-out is
** the binding's (25 s in production, dorvexd_client_test shows it); here a
** shorter one, as the monitor's test build may set, so the wait takes
** seconds.
*/
#include <chrono>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dorvexd.h"
#include "monitor_seams.h"
#include "testbed_support.h"

namespace {

using ::testing::HasSubstr;

TEST(DorvexdTimeout, UnansweredCallFailsAfterTheTimeout) {
  if (!testbed::rpcbind_available()) GTEST_SKIP() << "rpcbind is not running";
  const dorvexd_binding production = dorvexd_rpc;
  dvz_test::TempDir dir;
  testbed::DorvexdDouble d(dir.path(), "noreply=set_status\n");
  dorvexd_rpc = {d.program(), 3};
  CLIENT *c = rpc_dorvexd_client.create("localhost");
  dorvexd_rpc = production;
  ASSERT_NE(c, nullptr) << rpc_dorvexd_client.spcreateerror("localhost");

  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(rpc_dorvexd_client.set_status("dvz1", 12345, 4711, c), nullptr);
  auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, std::chrono::milliseconds(2900));
  EXPECT_LT(waited, std::chrono::seconds(20));
  EXPECT_THAT(std::string(rpc_dorvexd_client.sperror(c, "renewal")), HasSubstr("RPC: Timed out"));

  /* The server itself is fine: the next call is answered. */
  ASSERT_TRUE(d.write_control(""));
  EXPECT_NE(rpc_dorvexd_client.get_status("dvz1", c), nullptr);
  EXPECT_TRUE(d.wait_for_journal_line("set_status dvz1 12345 4711", 1));
  rpc_dorvexd_client.destroy(c);
  EXPECT_EQ(d.stop(), 0);
}

}  // namespace
