/*
** Termination signals of the monitor (SIGTERM, SIGQUIT) and of its probe
** child. In the monitor the handler only records the signal and writes one
** byte to a self-pipe: every wait polls that pipe, and the main line calls
** check_termination after each RPC call and command, which then runs
** fault_mon_exit synchronously. Nothing that takes a lock (syslog, stdio,
** malloc, RPC) ever runs inside the monitor's handler.
**
** The probe child records the signal the same way, in a self-pipe of its
** own, and its handler also arms a 2 s alarm (SIGALRM at its default
** action): the child runs the exit path where it waits for its next
** request and after each probe operation, and one stuck inside an
** operation past the alarm is ended by it.
**
** Called by main (start-up), the waits of the clock seam and the probe
** child; calls fault_mon_exit (monitor_startup.cpp) and platform/.
*/
#include "monitor_signals.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "monitor.h"
#include "svr4.h"

volatile sig_atomic_t termination_signal = 0;

namespace {

int self_pipe[2] = {-1, -1};

/* Records the first termination signal; async-signal-safe. */
void record_termination(int sig) {
  int saved_errno = errno;
  if (termination_signal == 0) termination_signal = sig;
  if (self_pipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(self_pipe[1], &byte, 1); /* a full pipe already wakes */
    (void)ignored;
  }
  errno = saved_errno;
}

/* Seconds the probe child has left once a termination signal came. */
constexpr unsigned child_exit_bound = 2;

/* The probe child's handler: records the first signal and bounds the
** child's remaining life with the alarm. Async-signal-safe. */
void child_termination(int sig) {
  if (termination_signal == 0) alarm(child_exit_bound);
  record_termination(sig);
}

/* Installs handler for SIGTERM and SIGQUIT with both blocked while it runs
** and no SA_RESTART, so that a blocking call returns EINTR. */
int route_termination(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGQUIT);
  if (sigaction(SIGTERM, &action, nullptr) != 0) return -1;
  if (sigaction(SIGQUIT, &action, nullptr) != 0) return -1;
  return 0;
}

}  // namespace

int install_termination_handlers() {
  svr4_sigignore(SIGPIPE);
  if (self_pipe[0] < 0 && pipe2(self_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    self_pipe[0] = self_pipe[1] = -1;
    route_termination(record_termination);
    return -1;
  }
  return route_termination(record_termination);
}

int termination_fd() { return self_pipe[0]; }

void check_termination() {
  int sig = termination_signal;
  if (sig != 0) fault_mon_exit(sig);
}

void install_child_handlers() {
  /* A signal the monitor recorded before the fork, and its pipe, are the
  ** monitor's. */
  termination_signal = 0;
  for (int &fd : self_pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (pipe2(self_pipe, O_NONBLOCK | O_CLOEXEC) != 0) self_pipe[0] = self_pipe[1] = -1;

  /* The alarm armed by the handler must end the child whatever the
  ** monitor had done with SIGALRM. */
  struct sigaction alarm_action {};
  alarm_action.sa_handler = SIG_DFL;
  sigemptyset(&alarm_action.sa_mask);
  sigaction(SIGALRM, &alarm_action, nullptr);
  sigset_t alarm_set;
  sigemptyset(&alarm_set);
  sigaddset(&alarm_set, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &alarm_set, nullptr);

  route_termination(child_termination);
}
