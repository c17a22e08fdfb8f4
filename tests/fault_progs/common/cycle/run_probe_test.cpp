/*
** run_probe against a real probe child (fork, pipes, poll) running the
** scripted probe: timeouts, late replies, dead children, failed pipes and
** forks, the poll limit, and the remote checks through the command and
** dorvexd doubles.
*/
#include <sys/resource.h>

#include <climits>

#include "cycle_support.h"

namespace cycletest {
namespace {

class RunProbeTest : public CycleTest {
 protected:
  /* A new probe child took the place of `old_child`, was asked to connect
  ** and left no zombie behind. */
  void expect_new_child_connected(pid_t old_child) {
    ASSERT_GT(db_proc_pid, 0);
    EXPECT_NE(old_child, db_proc_pid);
    EXPECT_EQ(db_proc_pid, calls().back().pid);
    EXPECT_EQ("connect", calls().back().op);
    EXPECT_TRUE(zombie_children().empty());
  }
};

constexpr int generous = 30; /* seconds: a reply that must come */

std::vector<std::string> ops_of(const std::vector<probe_call> &calls) {
  std::vector<std::string> ops;
  for (const probe_call &c : calls)
    ops.push_back(c.op);
  return ops;
}

TEST_F(RunProbeTest, FirstProbeForksChildThatConnects) {
  outcome first = probe(generous);
  EXPECT_EQ(0, first.timeout);
  EXPECT_FALSE(first.process_died);
  ASSERT_GT(db_proc_pid, 0);
  EXPECT_EQ(db_state_connecting, record_.state);
  EXPECT_EQ(1, record_.sequence);
  ASSERT_EQ(1u, calls().size());
  EXPECT_EQ(db_proc_pid, calls()[0].pid);
  EXPECT_EQ("connect", calls()[0].op);
  EXPECT_EQ(0, calls()[0].remote);
}

/* A statistics timeout keeps the child; its late reply is dropped by the
** next probe, which still gets its own reply, so errors keep arriving. The
** sequence number wraps from 25000 to 1 on the way. */
TEST_F(RunProbeTest, TimedOutStatisticsKeepChildAndLaterErrorsStillArrive) {
  probe_sequence = 24998;
  script("stats", "sleep 3\nerr 908\n");
  probe(generous);
  pid_t child = db_proc_pid;
  EXPECT_EQ(24999, record_.sequence);

  record_.state = db_state_online;
  outcome slow = probe(1);
  EXPECT_EQ(1, slow.timeout);
  EXPECT_EQ(child, db_proc_pid);
  EXPECT_EQ(25000, record_.sequence);
  EXPECT_FALSE(outstanding_message());

  outcome late = probe(generous);
  EXPECT_EQ(0, late.timeout);
  EXPECT_FALSE(late.process_died);
  EXPECT_EQ(child, db_proc_pid);
  EXPECT_EQ(1, record_.sequence);
  EXPECT_EQ(908, record_.dbms_error);

  outcome again = probe(generous);
  EXPECT_EQ(0, again.timeout);
  EXPECT_EQ(2, record_.sequence);
  EXPECT_EQ(908, record_.dbms_error);
  /* The sleeping statistics ran the transaction; the errors ran nothing. */
  EXPECT_EQ((std::vector<std::string> {"connect", "stats", "txn", "stats", "stats"}),
            ops_of(calls()));
}

TEST_F(RunProbeTest, DisconnectTimeoutEndsChildAndNextProbeConnectsNewOne) {
  script("disconnect", "hang\n");
  probe(generous);
  pid_t old_child = db_proc_pid;

  record_.state = db_state_disconnecting;
  outcome stuck = probe(1);
  EXPECT_EQ(1, stuck.timeout);
  EXPECT_FALSE(stuck.process_died);
  EXPECT_EQ(-1, db_proc_pid);
  ASSERT_TRUE(testbed::wait_until_ended(old_child));

  outcome next = probe(generous);
  EXPECT_EQ(0, next.timeout);
  ASSERT_NO_FATAL_FAILURE(expect_new_child_connected(old_child));
  EXPECT_EQ(db_state_connecting, record_.state);
  /* SIGQUIT ended the old child through its own exit path. */
  EXPECT_EQ(1u, log_lines("2160", "DB process received signal 3 - terminating").size());
}

/* Ends a test stuck in a blocking write, taking the hung child along. */
pid_t stuck_child = -1;
void end_stuck_test(int) {
  if (stuck_child > 0) kill(stuck_child, SIGKILL);
  _exit(1);
}

/* A child hung in a statistics request keeps getting one request per
** timed-out probe. Once its request pipe is full, the next request must fail
** and the child be replaced; a blocking write would hang the monitor for
** good (the alarm ends this test then). */
TEST_F(RunProbeTest, ChildThatStopsReadingIsReplacedWhenItsPipeFills) {
  script("stats", "hang\n");
  probe(generous);
  pid_t hung_child = db_proc_pid;
  record_.state = db_state_online;

  stuck_child = hung_child;
  signal(SIGALRM, end_stuck_test);
  alarm(120);
  outcome last;
  int probes = 0;
  while (probes < 20000 && !last.process_died) {
    last = probe(0);
    ++probes;
  }
  alarm(0);
  signal(SIGALRM, SIG_DFL);
  ASSERT_EQ(std::optional<std::string>("ha_dbms_local"), last.process_died);
  EXPECT_GT(probes, 100); /* a pipe holds thousands of 16-byte requests */
  EXPECT_EQ(-1, db_proc_pid);
  EXPECT_EQ(1u, log_lines("4120", "write of data structure through pipe failed with ").size());
  ASSERT_TRUE(testbed::wait_until_ended(hung_child));

  script("stats", "ok\n");
  outcome next = probe(generous);
  EXPECT_EQ(0, next.timeout);
  ASSERT_NO_FATAL_FAILURE(expect_new_child_connected(hung_child));
}

TEST_F(RunProbeTest, ZeroTimeOutGivesTimeoutUnlessReplyIsThere) {
  script("connect", "sleep 1\nok\n");
  outcome first = probe(0);
  EXPECT_EQ(1, first.timeout);
  pid_t child = db_proc_pid;
  EXPECT_GT(child, 0);

  /* The next request waits long enough: the late reply is dropped and the
  ** current one taken. */
  outcome second = probe(generous);
  EXPECT_EQ(0, second.timeout);
  EXPECT_EQ(child, db_proc_pid);
  EXPECT_EQ(2, record_.sequence);

  /* A reply already waiting when the zero-length poll runs is taken. */
  ASSERT_EQ(1, send_db_info(&record_, write_fd_)); /* sequence 2 again */
  ASSERT_TRUE(wait_until_readable(read_fd_));
  probe_sequence = 1; /* the next request is numbered 2: the waiting reply */
  reset_outstanding_message();
  outcome ready = probe(0);
  EXPECT_EQ(0, ready.timeout);
  EXPECT_EQ(2, record_.sequence);
}

TEST_F(RunProbeTest, KilledChildIsReplacedAndAskedToConnect) {
  probe(generous);
  pid_t old_child = db_proc_pid;
  record_.state = db_state_online;
  kill(old_child, SIGKILL);
  ASSERT_TRUE(testbed::wait_until_ended(old_child));

  outcome next = probe(generous);
  EXPECT_FALSE(next.process_died);
  EXPECT_EQ(0, next.timeout);
  ASSERT_NO_FATAL_FAILURE(expect_new_child_connected(old_child));
  EXPECT_EQ(db_state_connecting, record_.state);
  EXPECT_TRUE(log_lines("4120").empty());
}

TEST_F(RunProbeTest, CrashDuringRequestGivesLocalDiedTextThenNewChild) {
  script("stats", "crash\nactive\n");
  probe(generous);
  pid_t old_child = db_proc_pid;
  record_.state = db_state_online;

  outcome crashed = probe(generous);
  ASSERT_TRUE(crashed.process_died);
  EXPECT_EQ("ha_dbms_local", *crashed.process_died);
  EXPECT_EQ(0, crashed.timeout);
  EXPECT_EQ(-1, db_proc_pid);
  /* Probes are a cycle apart: by the next one the crashed child has ended. */
  ASSERT_TRUE(testbed::wait_until_ended(old_child));

  outcome next = probe(generous);
  EXPECT_FALSE(next.process_died);
  ASSERT_NO_FATAL_FAILURE(expect_new_child_connected(old_child));
}

/* Failed pipes (descriptor limit) and a failed fork leave no descriptor
** behind, send no request, set the internal error, and the next probe
** tries again. */
struct creation_failure {
  const char *name;
  int usable_free_slots; /* descriptors below the limit; -1: fork fails */
  const char *id;
};
void PrintTo(const creation_failure &c, std::ostream *out) { *out << c.name; }

class CreationFailureTest : public CycleTest,
                            public ::testing::WithParamInterface<creation_failure> {};

pid_t failing_fork() {
  errno = EAGAIN;
  return -1;
}

/* The n-th free descriptor number (0-based). */
int nth_free_descriptor(int n) {
  for (int fd = 0; fd < 4096; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && n-- == 0) return fd;
  }
  return -1;
}

TEST_P(CreationFailureTest, LeavesNoDescriptorAndRetriesNextProbe) {
  const creation_failure &param = GetParam();
  size_t before = open_descriptor_count();
  rlimit saved {};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
  rlimit lowered = saved;
  if (param.usable_free_slots >= 0) {
    lowered.rlim_cur = static_cast<rlim_t>(nth_free_descriptor(param.usable_free_slots));
  } else {
    db_child_fork = failing_fork;
  }

  for (int attempt = 0; attempt < 3; ++attempt) {
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &lowered));
    outcome failed = probe(generous);
    /* Checks run under the full limit: the sanitizers' own checks take
    ** descriptors too. */
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &saved));
    EXPECT_EQ(1, record_.internal_error);
    EXPECT_EQ(-1, db_proc_pid);
    EXPECT_EQ(0, failed.timeout);
    EXPECT_EQ(before, open_descriptor_count()) << "after attempt " << attempt;
    EXPECT_EQ(static_cast<size_t>(attempt + 1), log_lines(param.id).size());
  }
  db_child_fork = fork1;
  EXPECT_EQ(3u, log_lines(param.id).size());
  EXPECT_TRUE(calls().empty());

  outcome next = probe(generous);
  EXPECT_EQ(0, record_.internal_error);
  ASSERT_GT(db_proc_pid, 0);
  ASSERT_EQ(1u, calls().size());
  EXPECT_EQ("connect", calls()[0].op);
}

INSTANTIATE_TEST_SUITE_P(Failures, CreationFailureTest,
                         ::testing::Values(creation_failure {"FirstPipe", 1, "4150"},
                                           creation_failure {"SecondPipe", 3, "4150"},
                                           creation_failure {"Fork", -1, "4160"}),
                         [](const ::testing::TestParamInfo<creation_failure> &info) {
                           return info.param.name;
                         });

TEST_F(RunProbeTest, HugeTimeOutIsClampedAndPromptRepliesComplete) {
  constexpr int huge = 2147484; /* x 1000 exceeds INT_MAX */
  static_assert(static_cast<long long>(huge) * 1000 > INT_MAX);
  for (int state : {1, 2, 2, 3}) {
    record_.state = state;
    outcome result = probe(huge);
    EXPECT_EQ(0, result.timeout);
    EXPECT_FALSE(result.process_died);
    EXPECT_EQ(state, record_.state);
  }
  EXPECT_EQ((std::vector<std::string> {"connect", "stats", "txn", "stats", "txn", "disconnect"}),
            ops_of(calls()));
}

TEST_F(RunProbeTest, LocalProbeReadsOnlyNewLogText) {
  init_scan_log_file(dbms_log().c_str());
  outcome quiet = probe(generous);
  ASSERT_TRUE(quiet.log_text);
  EXPECT_EQ("", *quiet.log_text);

  dvz_test::write_file(dbms_log(), dvz_test::read_file(dbms_log()) + "Assert Failed\n");
  outcome noisy = probe(generous);
  ASSERT_TRUE(noisy.log_text);
  EXPECT_EQ("Assert Failed\n", *noisy.log_text);
  EXPECT_TRUE(fake_commands().commands.empty());
}

/* ---- remote mode, through the command and dorvexd doubles ------------- */

class RemoteProbeTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    dbms_host = "127.0.0.1";
    /* The journal's size when each marnoping ran: it must come first. */
    fake_commands().on_run = [this](const std::string &) {
      calls_at_ping_.push_back(calls().size());
    };
  }
  std::vector<size_t> calls_at_ping_;
};

TEST_F(RemoteProbeTest, PublicNetworkCheckRunsBeforeEveryRequest) {
  probe(generous);
  record_.state = db_state_online;
  probe(generous);
  EXPECT_EQ((std::vector<std::string> {"marnoping 127.0.0.1", "marnoping 127.0.0.1"}),
            fake_commands().commands);
  EXPECT_EQ((std::vector<size_t> {0, 1}), calls_at_ping_);
  for (const probe_call &c : calls())
    EXPECT_EQ(1, c.remote);
}

TEST_F(RemoteProbeTest, PublicNetworkStatusSkipsOrFailsTheProbe) {
  probe(generous);
  size_t requests = calls().size();
  size_t queries = fake_dorvexd().calls.size();

  /* 98: nothing probed, and run_probe says so, so that nothing is
  ** evaluated. */
  fake_commands().exit_status["marnoping"] = 98;
  char *died = nullptr;
  const char *log_text = nullptr;
  int timeout = 0;
  EXPECT_EQ(0, run_probe("dvz1", &record_, &died, &log_text, &timeout, generous, &write_fd_,
                         &read_fd_, 1));
  EXPECT_EQ(nullptr, died);
  EXPECT_EQ(nullptr, log_text);
  EXPECT_EQ(0, timeout);
  EXPECT_EQ(requests, calls().size());
  EXPECT_EQ(queries, fake_dorvexd().calls.size());
  EXPECT_EQ(1u, log_lines("0150", "run_probe: public network status 98 - probe skipped").size());

  fake_commands().exit_status["marnoping"] = 99;
  outcome down = probe(generous);
  ASSERT_TRUE(down.process_died);
  EXPECT_EQ("public_net", *down.process_died);
  EXPECT_EQ(requests, calls().size());
  EXPECT_EQ(queries, fake_dorvexd().calls.size());

  fake_commands().exit_status["marnoping"] = 1; /* any other status goes on */
  probe(generous);
  EXPECT_EQ(requests + 1, calls().size());
}

TEST_F(RemoteProbeTest, RemoteAnswerDecidesTheDiedText) {
  /* 0: no monitor there; it replaces the local died text of a crash. */
  script("connect", "crash\nok\n");
  fake_dorvexd().get_status_answer = 0;
  outcome none_there = probe(generous);
  ASSERT_TRUE(none_there.process_died);
  EXPECT_EQ("ha_dbms_remote", *none_there.process_died);

  fmstart_time = 1234;
  fake_dorvexd().get_status_answer = 1700000000;
  outcome found = probe(generous);
  EXPECT_FALSE(found.process_died);
  EXPECT_EQ(0, fmstart_time);
  EXPECT_EQ(1, fake_dorvexd().creates);
  EXPECT_FALSE(log_lines("0120", "RPC call returned ").empty());
}

TEST_F(RemoteProbeTest, FailedQueryDropsClientAndNextCallMakesNewOne) {
  fake_dorvexd().get_status_answer = std::nullopt;
  outcome failed = probe(generous);
  ASSERT_TRUE(failed.process_died);
  EXPECT_EQ("ha_dbms_remote", *failed.process_died);
  std::vector<std::string> errors = montest::texts_with_id("4240");
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].rfind("ha_db_ping_remote failed", 0));
  EXPECT_EQ(1, fake_dorvexd().destroys);

  fake_dorvexd().create_fails = true;
  outcome unreachable = probe(generous);
  ASSERT_TRUE(unreachable.process_died);
  EXPECT_EQ("ha_dbms_remote", *unreachable.process_died);
  EXPECT_EQ(2, fake_dorvexd().creates);
  ASSERT_EQ(1u, montest::texts_with_id("4230").size());
  EXPECT_NE(std::string::npos, montest::texts_with_id("4230")[0].find(
                                   "could not establish connection to dorvexd process on host"));

  fake_dorvexd().create_fails = false;
  fake_dorvexd().get_status_answer = 5;
  EXPECT_FALSE(probe(generous).process_died);
  EXPECT_EQ(3, fake_dorvexd().creates);
}

TEST_F(RemoteProbeTest, QueryOnlyAfterTimeoutUntilScheduled) {
  fake_dorvexd().get_status_answer = 1;
  probe(generous, 0);
  EXPECT_TRUE(fake_dorvexd().calls.empty());

  script("stats", "sleep 2\nok\n");
  record_.state = db_state_online;
  outcome slow = probe(1, 0);
  EXPECT_EQ(1, slow.timeout);
  EXPECT_EQ((std::vector<std::string> {"get_status dvz1"}), fake_dorvexd().calls);

  probe(generous, 1);
  probe(generous, 1);
  EXPECT_EQ(3u, fake_dorvexd().calls.size());
}

/* ---- the Varnholt process check ---------------------------------------- */

TEST_F(RunProbeTest, VarnholtProcessCheckRunsOnlyForVarnholt) {
  montest::ScopedEnv listener("VARNHOLT_LISTENER", "l1");
  EXPECT_EQ(1, ha_db_monitor_processes("dvz1"));
  EXPECT_TRUE(fake_commands().commands.empty());

  probe_ops varnholt = scripted_probe_ops;
  varnholt.dbms_service = "varnholt";
  monitor_set_probe(&varnholt);
  EXPECT_EQ(1, ha_db_monitor_processes("dvz1"));
  fake_commands().exit_status["varnholt_vimtask"] = 3;
  EXPECT_EQ(0, ha_db_monitor_processes("dvz1"));
  monitor_set_probe(&scripted_probe_ops);

  EXPECT_EQ((std::vector<std::string> {"varnholt_vimtask dvz1 l1", "varnholt_vimtask dvz1 l1"}),
            fake_commands().commands);
  std::vector<std::string> errors = montest::texts_with_id("4192");
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].rfind("varnholt_vimtask dvz1 l1 failed with status 3 : error ", 0));
}

/* ---- the scripted probe's restart ---------------------------------------- */

TEST_F(RunProbeTest, ScriptedRestartRunsKelpoOnlyForPlainOnconfig) {
  std::string pid = std::to_string(getpid());
  {
    montest::ScopedEnv onconfig("ONCONFIG", "onconfig.dvz1");
    scripted_probe_ops.ha_db_restart(nullptr);
    fake_commands().exit_status["dovariza_kelpo"] = 1;
    scripted_probe_ops.ha_db_restart(nullptr);
    scripted_probe_ops.ha_db_restart("127.0.0.1");
  }
  {
    montest::ScopedEnv onconfig("ONCONFIG", "a;b");
    scripted_probe_ops.ha_db_restart(nullptr);
  }
  EXPECT_EQ((std::vector<std::string> {"dovariza_kelpo " + pid + " onconfig.dvz1",
                                       "dovariza_kelpo " + pid + " onconfig.dvz1"}),
            fake_commands().commands);
  EXPECT_EQ((std::vector<std::string> {"dovariza_kelpo " + pid + " onconfig.dvz1 failed",
                                       "dovariza_kelpo " + pid + " a;b failed"}),
            montest::texts_with_id("4510"));
  EXPECT_EQ((std::vector<std::string> {"ha_db_restart ignored - monitor is remote"}),
            montest::texts_with_id("1510"));
}

}  // namespace
}  // namespace cycletest
