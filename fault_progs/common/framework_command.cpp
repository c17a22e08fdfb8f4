/*
** Framework commands: every command line the monitor hands to the cluster
** framework runs through run_framework_command, which calls the command
** seam (system() in production, a double in tests) and decodes the wait
** status with WIFEXITED/WEXITSTATUS (framework_command.h says how).
**
** Called by the evaluation's actions (evaluate_actions.cpp) and by the
** probe (run_probe.cpp: the public-network and Varnholt checks). Calls the
** command seam and check_termination, so a termination signal that came
** while a command ran ends the monitor right after it.
*/
#include "framework_command.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include <signal.h>
#include <sys/wait.h>

#include "monitor_seams.h"
#include "monitor_signals.h"

namespace {

/* The decoding described in framework_command.h. */
command_status decode_command_status(int raw_status, int error_number) {
  if (raw_status != -1 && WIFEXITED(raw_status)) return {WEXITSTATUS(raw_status), error_number};
  return {-1, error_number};
}

}  // namespace

command_status run_framework_command(const std::string &line) {
  /* With SIGCHLD ignored (a launcher may hand that down) the shell is
  ** reaped by the kernel and system() reports -1 for a command that
  ** succeeded: the default disposition is restored for the call. */
  struct sigaction dflt {
  }, saved {};
  dflt.sa_handler = SIG_DFL;
  sigemptyset(&dflt.sa_mask);
  bool restore = sigaction(SIGCHLD, nullptr, &saved) == 0 && saved.sa_handler == SIG_IGN &&
                 sigaction(SIGCHLD, &dflt, nullptr) == 0;
  int raw_status = command_seam->run(line.c_str());
  int error_number = errno;
  if (restore) sigaction(SIGCHLD, &saved, nullptr);
  command_status status = decode_command_status(raw_status, error_number);
  check_termination();
  return status;
}

std::string command_line(const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line;
  if (n > 0) {
    line.resize(static_cast<size_t>(n) + 1);
    vsnprintf(line.data(), line.size(), format, again);
    line.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return line;
}

bool shell_safe_word(std::string_view text) {
  for (char c : text) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '_' || c == '@' || c == ':' || c == '+' || c == '-';
    if (!plain) return false;
  }
  return true;
}
