/*
** The testbed's clock and its bounded waits (testbed_support.h): one
** monotonic clock for every deadline of the tests, the subreaper runner and
** the syslog capture, so that a step of the wall clock never stretches or
** cuts a wait. Calls only the C and C++ libraries.
*/
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>

#include "testbed_support.h"

namespace testbed {

int64_t monotonic_ms() {
  timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool wait_until(const std::function<bool()> &done, double timeout_seconds) {
  const int64_t deadline = monotonic_ms() + static_cast<int64_t>(timeout_seconds * 1000);
  for (;;) {
    if (done()) return true;
    if (monotonic_ms() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::optional<int> wait_bounded(pid_t pid, double timeout_seconds) {
  std::optional<int> status;
  wait_until(
      [&] {
        int st = 0;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid)
          status = st;
        else if (r < 0 && errno == ECHILD)
          status = -1;
        return status.has_value();
      },
      timeout_seconds);
  return status;
}

int stop_child(pid_t pid, double timeout_seconds) {
  kill(pid, SIGTERM);
  std::optional<int> status = wait_bounded(pid, timeout_seconds);
  if (!status) {
    int st = -1;
    kill(pid, SIGKILL);
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    status = st;
  }
  return *status;
}

}  // namespace testbed
