/*
** The testbed's clock and its bounded waits (testbed_support.h): one
** monotonic clock for every deadline of the tests, the subreaper runner and
** the syslog capture, so that a step of the wall clock never stretches or
** cuts a wait. Calls only the C and C++ libraries.
*/
#include <chrono>
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

}  // namespace testbed
