/*
** Production bindings of the monitor's seams (monitor_seams.h): wall-clock
** time and a wait that a termination signal cuts short, framework commands
** through system(), and the dorvexd RPC client (bound in rpc/); and the
** monitor's one monotonic clock.
**
** The wait polls the self-pipe of monitor_signals.cpp: an EINTR re-checks
** the recorded signal and waits out the rest of the time.
*/
#include "monitor_seams.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <poll.h>
#include <unistd.h>

#include "monitor_signals.h"

namespace {

time_t system_now() { return time(nullptr); }

/* Returns 1 as soon as a termination signal is recorded, 0 when `seconds`
** passed (at once for zero or a negative value). */
int system_wait(int seconds) {
  const int64_t deadline = monotonic_ms() + static_cast<int64_t>(seconds) * 1000;
  bool use_pipe = true;
  for (;;) {
    if (termination_signal != 0) return 1;
    int64_t left = deadline - monotonic_ms();
    if (left <= 0) return 0;
    int timeout = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    pollfd fd {use_pipe ? termination_fd() : -1, POLLIN, 0};
    int ready = poll(&fd, fd.fd >= 0 ? 1 : 0, timeout);
    if (ready < 0 && errno != EINTR) {
      use_pipe = false; /* the pipe is gone: plain sleep, still cut by EINTR */
    } else if (ready > 0 && termination_signal == 0) {
      char drain[64]; /* a stale byte with no signal recorded: drop it */
      while (read(fd.fd, drain, sizeof drain) > 0) {}
    }
    /* With a signal recorded the byte stays: later waits end at once too. */
  }
}

int system_run(const char *command) { return system(command); }

}  // namespace

int64_t monotonic_ms() {
  timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const monitor_clock system_clock = {system_now, system_wait};
const monitor_clock *clock_seam = &system_clock;

const command_runner system_runner = {system_run};
const command_runner *command_seam = &system_runner;

const dorvexd_client *dorvexd_seam = &rpc_dorvexd_client;
