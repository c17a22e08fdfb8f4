/*
** The probe child protocol on real pipes and processes: the db_info
** record, unknown states, the end of the pipe, the statistics script
** deciding the transaction, and disconnect_db_thread's signal rule.
*/
#include <fcntl.h>
#include <sys/syscall.h>

#include "cycle_support.h"

/* Calls of kill for pids 1, 0 and -1 that the code under test made. */
std::vector<std::pair<pid_t, int>> &guarded_kills() {
  static std::vector<std::pair<pid_t, int>> calls;
  return calls;
}

/* Interposes the C library's kill for this test program: a signal to init,
** to our process group or to every process would reach far beyond the
** test, so those are recorded and never sent. */
extern "C" int kill(pid_t pid, int sig) {
  if (pid <= 1) {
    guarded_kills().emplace_back(pid, sig);
    return 0;
  }
  return static_cast<int>(syscall(SYS_kill, pid, sig));
}

namespace cycletest {
namespace {

/* Drives a child made by fork_db_process directly, request by request. */
class DbChildTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    pid_t pid = fork_db_process(&write_fd_, &read_fd_);
    if (pid == 0) ha_db_thread(write_fd_, read_fd_);
    ASSERT_GT(pid, 0);
    db_proc_pid = pid;
  }

  /* Sends one request and returns the reply (a 30 s bound on the wait). */
  db_info ask(int state, int sequence) {
    db_info request = {state, 0, 0, sequence};
    EXPECT_EQ(1, send_db_info(&request, write_fd_));
    EXPECT_EQ(1, outstanding_message());
    pollfd fd = {read_fd_, POLLIN, 0};
    EXPECT_EQ(1, poll(&fd, 1, 30000));
    db_info reply = {};
    EXPECT_EQ(1, receive_db_info(&reply, read_fd_));
    EXPECT_EQ(0, outstanding_message());
    return reply;
  }
};

TEST_F(DbChildTest, UnknownStateGetsInternalErrorAndChildGoesOn) {
  for (int state : {0, 4}) {
    db_info reply = ask(state, 10 + state);
    EXPECT_EQ(state, reply.state);
    EXPECT_EQ(1, reply.internal_error);
    EXPECT_EQ(0, reply.dbms_error);
    EXPECT_EQ(10 + state, reply.sequence);
    EXPECT_EQ(1u, log_lines("4140", "DB Thread: Unknown state " + std::to_string(state)).size());
  }
  db_info connected = ask(db_state_connecting, 20);
  EXPECT_EQ(0, connected.internal_error);
  EXPECT_EQ(20, connected.sequence);
  ASSERT_EQ(1u, calls().size());
  EXPECT_EQ(db_proc_pid, calls()[0].pid);
  EXPECT_EQ("connect", calls()[0].op);
}

TEST_F(DbChildTest, ClosedPipesEndChildWithStatusZero) {
  ask(db_state_connecting, 1);
  close(write_fd_);
  close(read_fd_);
  write_fd_ = read_fd_ = -1;
  ASSERT_NO_FATAL_FAILURE(expect_probe_child_exits_zero());
  EXPECT_EQ(1u, log_lines("2140", "ha_db_thread: exiting...").size());
  EXPECT_EQ(1u, log_lines("0090", "ha_db_thread: starting up with PID ").size());
}

/* What the statistics script makes the child do after it. */
struct statistics_case {
  const char *name;
  const char *stats;
  std::vector<std::string> ops;
  int dbms_error;
};
void PrintTo(const statistics_case &c, std::ostream *out) { *out << c.name; }

class StatisticsTest : public DbChildTest, public ::testing::WithParamInterface<statistics_case> {};

TEST_P(StatisticsTest, ScriptDecidesTheTestTransaction) {
  script("stats", GetParam().stats);
  ask(db_state_connecting, 1);
  db_info reply = ask(db_state_online, 2);
  EXPECT_EQ(db_state_online, reply.state);
  EXPECT_EQ(GetParam().dbms_error, reply.dbms_error);
  EXPECT_EQ(0, reply.internal_error);
  std::vector<std::string> ops;
  for (const probe_call &c : calls())
    ops.push_back(c.op);
  EXPECT_EQ(GetParam().ops, ops);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, StatisticsTest,
    ::testing::Values(statistics_case {"Active", "active\n", {"connect", "stats"}, 0},
                      statistics_case {"Idle", "idle\n", {"connect", "stats", "txn"}, 0},
                      statistics_case {"MissingScriptIsIdle", "", {"connect", "stats", "txn"}, 0},
                      statistics_case {"Error", "err 908\n", {"connect", "stats"}, 908}),
    [](const ::testing::TestParamInfo<statistics_case> &info) { return info.param.name; });

TEST_F(DbChildTest, TransactionErrorReachesReply) {
  script("txn", "err 206\n");
  ask(db_state_connecting, 1);
  db_info reply = ask(db_state_online, 2);
  EXPECT_EQ(206, reply.dbms_error);
  EXPECT_EQ(1u, log_lines("2540", "DBMS Error: ").size());
}

/* ---- disconnect_db_thread ---------------------------------------------- */

class DisconnectTest : public CycleTest, public ::testing::WithParamInterface<pid_t> {};

/* 1 is init, 0 our process group, -1 every process: none may be signalled.
** The kill interposed below records such calls instead of making them. */
TEST_P(DisconnectTest, NoSignalButDescriptorsClosed) {
  guarded_kills().clear();
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  db_info request = {db_state_connecting, 0, 0, 1};
  ASSERT_EQ(1, send_db_info(&request, fds[1]));
  EXPECT_EQ(1, disconnect_db_thread(GetParam(), fds[1], fds[0]));

  EXPECT_TRUE(guarded_kills().empty());
  EXPECT_EQ(-1, fcntl(fds[0], F_GETFD));
  EXPECT_EQ(-1, fcntl(fds[1], F_GETFD));
  EXPECT_EQ(0, outstanding_message());
}

INSTANTIATE_TEST_SUITE_P(Pids, DisconnectTest, ::testing::Values(1, 0, -1));

TEST_F(DbChildTest, DisconnectSendsQuitToRealChild) {
  ask(db_state_connecting, 1);
  pid_t child = db_proc_pid;
  EXPECT_EQ(1, disconnect_db_thread(child, write_fd_, read_fd_));
  write_fd_ = read_fd_ = -1;
  int status = -1;
  /* One reap without waiting may have taken it already. */
  if (waitpid(child, &status, 0) == child) {
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
  }
  db_proc_pid = -1;
  EXPECT_EQ(1u, log_lines("2160", "DB process received signal 3 - terminating").size());
}

TEST_F(DbChildTest, WriteToEndedChildFails) {
  kill(db_proc_pid, SIGKILL);
  waitpid(db_proc_pid, nullptr, 0);
  db_proc_pid = -1;
  db_info request = {db_state_connecting, 0, 0, 1};
  EXPECT_EQ(0, send_db_info(&request, write_fd_));
  EXPECT_EQ(0, outstanding_message());
  EXPECT_EQ(1u, log_lines("4120", "write of data structure through pipe failed with ").size());
  db_info reply;
  EXPECT_EQ(0, receive_db_info(&reply, read_fd_));
  EXPECT_EQ(1u, log_lines("4130").size());
}

}  // namespace
}  // namespace cycletest
