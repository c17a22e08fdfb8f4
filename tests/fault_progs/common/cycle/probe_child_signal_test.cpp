/*
** Termination signals of the probe child, on real children running
** ha_db_thread with a probe that logs heavily in every operation: a
** SIGTERM or SIGQUIT that lands anywhere (inside malloc, stdio or the
** syslog sink of an operation, between operations, in the wait for the
** next request) ends the child by its orderly path, with its 2160 and
** 2170 lines and exit status 0; an operation that never returns is ended
** by the 2 s alarm.
*/
#include <chrono>
#include <random>

#include "cycle_support.h"

namespace cycletest {
namespace {

constexpr int lines_per_operation = 40;

/* What a probe deep in its work does: log, and log again. */
void log_heavily() {
  for (int i = 0; i < lines_per_operation; ++i)
    hasyslog(LOG_NOTICE, "2599", "noisy probe: line %d of a busy operation", i);
}

int noisy_db_main(const char *, const char *, int, char **) { return 1; }
int noisy_connect(const char *, int *, int *) {
  log_heavily();
  return 1;
}
int noisy_statistics(int *, int *) {
  log_heavily();
  return 0; /* no counter grew: the test transaction runs too */
}
int noisy_transaction(const char *, int *, int *) {
  log_heavily();
  return 1;
}
int noisy_disconnect(int *, int *) {
  log_heavily();
  return 1;
}
void no_restart(const char *) {}

const probe_ops noisy_probe = {
    .db_main = noisy_db_main,
    .dbms_connect = noisy_connect,
    .dbms_statistics = noisy_statistics,
    .dbms_test_transaction = noisy_transaction,
    .dbms_disconnect = noisy_disconnect,
    .ha_db_restart = no_restart,
    .dbms_service = "dovariza",
    .dbms_usage = "",
};

/* A connect stuck in a call that a signal does not end. */
int stuck_connect(const char *, int *, int *) {
  hasyslog(LOG_NOTICE, "2599", "stuck probe: inside the connect");
  for (;;)
    pause();
}

/* The noisy probe with the stuck connect. */
probe_ops stuck_probe() {
  probe_ops ops = noisy_probe;
  ops.dbms_connect = stuck_connect;
  return ops;
}

class ProbeChildSignalTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    saved_probe_ = ::probe;
    debug_mode = 0; /* only the probe's own lines and the exit path's */
  }
  void TearDown() override {
    CycleTest::TearDown();
    ::probe = saved_probe_;
  }

  /* Forks a probe child running ha_db_thread with `ops` and queues
  ** `requests` requests for it: a connect, then on-line probes. */
  pid_t start_child(const probe_ops &ops, int requests) {
    monitor_set_probe(&ops);
    pid_t pid = fork_db_process(&write_fd_, &read_fd_);
    if (pid == 0) ha_db_thread(write_fd_, read_fd_);
    db_proc_pid = pid;
    for (int i = 0; i < requests; ++i) {
      db_info request = {i == 0 ? db_state_connecting : db_state_online, 0, 0, i + 1};
      EXPECT_EQ(1, send_db_info(&request, write_fd_));
    }
    return pid;
  }

  /* Waits at most `seconds` for the child to end; its wait status, or -1
  ** when it still runs (it is then killed). Forgets the child either way. */
  int wait_for_end(pid_t child, double seconds) {
    int status = -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        status = -1;
        break;
      }
      usleep(2000);
    }
    db_proc_pid = -1;
    close(write_fd_);
    close(read_fd_);
    write_fd_ = read_fd_ = -1;
    return status;
  }

  static std::string describe(int status) {
    if (status == -1) return "still running";
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "exit status " + std::to_string(WEXITSTATUS(status));
  }

  const probe_ops *saved_probe_ = nullptr;
};

TEST_F(ProbeChildSignalTest, SignalAtAnyMomentEndsTheChildByItsOrderlyPath) {
  constexpr int rounds = 60;
  std::mt19937 random(static_cast<unsigned>(getpid()));
  std::uniform_int_distribution<int> delay_us(0, 12000);
  int by_signal[2] = {0, 0}; /* SIGQUIT, SIGTERM rounds */
  for (int round = 0; round < rounds; ++round) {
    int sig = round % 2 ? SIGTERM : SIGQUIT;
    pid_t child = start_child(noisy_probe, 20);
    ASSERT_GT(child, 0);
    usleep(static_cast<useconds_t>(delay_us(random)));
    ASSERT_EQ(0, kill(child, sig));
    int status = wait_for_end(child, 10);
    ASSERT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "round " << round << ", signal " << sig << ": " << describe(status);
    ++by_signal[round % 2];
  }
  EXPECT_EQ(static_cast<size_t>(by_signal[0]),
            log_lines("2160", "DB process received signal 3 - terminating").size());
  EXPECT_EQ(static_cast<size_t>(by_signal[1]),
            log_lines("2160", "DB process received signal 15 - terminating").size());
  EXPECT_EQ(static_cast<size_t>(rounds), log_lines("2170", "shutting down").size());
}

TEST_F(ProbeChildSignalTest, OperationThatNeverReturnsIsEndedByTheAlarm) {
  const probe_ops stuck = stuck_probe();
  pid_t child = start_child(stuck, 1);
  ASSERT_GT(child, 0);
  for (int i = 0; i < 1500 && log_lines("2599", "inside the connect").empty(); ++i)
    usleep(20000);
  ASSERT_EQ(1u, log_lines("2599", "inside the connect").size());
  auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(0, kill(child, SIGTERM));
  int status = wait_for_end(child, 10);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
  ASSERT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
      << describe(status);
  EXPECT_GE(seconds, 1.5);
  EXPECT_LT(seconds, 5.0);
  EXPECT_TRUE(log_lines("2160").empty()); /* the exit path never ran */
}

}  // namespace
}  // namespace cycletest
