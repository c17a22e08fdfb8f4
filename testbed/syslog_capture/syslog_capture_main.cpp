/*
** syslog_capture [--socket PATH] [--out FILE]
**
** Stands in for a syslog daemon: receives at PATH (default /dev/log) what
** programs send to syslog and writes one line per message to FILE (default
** standard output): "facility=<f> level=<l> pri=<p> <time> <ident>: <text>".
** Runs until SIGTERM or SIGINT, then removes the socket and exits 0.
** Exit 3 when a syslog daemon already answers at PATH (nothing to do),
** 1 when the socket cannot be made, 2 for a wrong command line.
*/
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "syslog_capture.h"

namespace {

volatile sig_atomic_t stop_requested = 0;
void on_stop(int) { stop_requested = 1; }

}  // namespace

int main(int argc, char **argv) {
  std::string socket_path = "/dev/log";
  std::string out_path;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--socket") == 0 && i + 1 < argc) {
      socket_path = argv[++i];
    } else if (strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out_path = argv[++i];
    } else {
      fprintf(stderr, "usage: %s [--socket PATH] [--out FILE]\n", argv[0]);
      return 2;
    }
  }
  int out = STDOUT_FILENO;
  if (!out_path.empty()) {
    out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
      perror(out_path.c_str());
      return 1;
    }
  }

  /* Blocked until sigsuspend, so a stop between the check and the wait is
  ** not lost; the receiving thread inherits the mask. */
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigset_t stops, waiting;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, &waiting);

  testbed::SyslogCapture capture(socket_path, [out](const testbed::SyslogMessage &m) {
    std::string line = testbed::format_syslog_message(m) + "\n";
    if (write(out, line.data(), line.size()) < 0) {
      /* an unwritable output loses the line, nothing more */
    }
  });
  if (capture.status() == testbed::SyslogCapture::Status::daemon_present) {
    fprintf(stderr, "syslog_capture: %s\n", capture.reason().c_str());
    return 3;
  }
  if (capture.status() != testbed::SyslogCapture::Status::capturing) {
    fprintf(stderr, "syslog_capture: %s\n", capture.reason().c_str());
    return 1;
  }
  while (!stop_requested)
    sigsuspend(&waiting);
  return 0;
}
