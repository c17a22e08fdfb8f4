/*
** The remote scenario end to end (-r 127.0.0.1, the double standing for
** both the local dorvexd and the database node's): the public-network
** check before each probe, the remote status query after the scheduled
** probes, a rule taken on "ha_dbms_remote" once the double answers 0, and
** the public-network status 98 that skips the requests.
*/
#include "e2e_support.h"

namespace e2e {
namespace {

class RemoteScenario : public Scenario {
 protected:
  std::string actions() const override {
    return "*\t*\tpublic_net\t*\t*\t*\t*\tnone\tpublic network down\n"
           "*\t*\tha_dbms_remote\t*\t*\t*\t*\tnone\tno fault monitor on the database node\n"
           "co\t0\t*\t*\t0\t*\ton\tnone\tConnected to database\n"
           "on\t0\t*\t*\t0\t*\t*\tnone\tRDBMS appears to be ok\n";
  }
  /* The start-up check and the first two remote queries are answered from
  ** the registration table (the monitor's own entry); later ones with 0. */
  std::string control() const override { return "get_status=zero\nafter_calls=3\n"; }
};

TEST_F(RemoteScenario, ChecksTheNodeAndItsMonitor) {
  auto run = start({}, operands("-r", "127.0.0.1"));
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);

  ASSERT_TRUE(wait_action_line("no fault monitor on the database node"));
  EXPECT_GE(journal_count("get_status dvz1"), 4u);
  std::vector<probe_call> c = calls();
  ASSERT_FALSE(c.empty());
  for (const probe_call &call : c)
    EXPECT_EQ(1, call.remote) << call.op;
  size_t pings = count_of(commands(), "marnoping 127.0.0.1");
  EXPECT_GE(pings, requests());
  EXPECT_GT(pings, 0u);

  /* Status 98: no request and no remote query, while the loop goes on. */
  fake_rc("marnoping", 98);
  const std::string renewal = "set_status dvz1 " + std::to_string(monitor) + " 4711";
  size_t renewals = journal_count(renewal);
  ASSERT_TRUE(wait_journal(renewal, renewals + 2)); /* the new status is in force */
  size_t served = calls().size();
  size_t queries = journal_count("get_status dvz1");
  renewals = journal_count(renewal);
  ASSERT_TRUE(wait_journal(renewal, renewals + 3));
  EXPECT_EQ(served, calls().size());
  EXPECT_EQ(queries, journal_count("get_status dvz1"));
  EXPECT_GT(count_of(commands(), "marnoping 127.0.0.1"), pings);

  expect_orderly_end_on_sigterm(monitor, *run);
}

}  // namespace
}  // namespace e2e
