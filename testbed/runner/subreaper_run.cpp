/*
** subreaper_run [--timeout S] [--out FILE] -- cmd args...
**
** Runs a command as a child subreaper (prctl PR_SET_CHILD_SUBREAPER), so
** that every process the command leaves behind, a daemon that forked away
** from its launcher included, is reparented here and reaped here. Tests
** read the report to see exit statuses no shell would show them.
**
** Report (stdout, or FILE with --out), one line per event, written with a
** single write each:
**   started <pid>          the direct child
**   <pid> exit <n>         a descendant exited with status n
**   <pid> signal <n>       a descendant was ended by signal n
** Exit status: 0 once no descendant is left; 3 when the time-out fired and
** the remaining descendants (found through /proc) were killed and reaped;
** 2 for a usage error, 1 when the command cannot be started.
*/
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "testbed_support.h"

namespace {

int out_fd = STDOUT_FILENO;

/* Writes one report line at once (no buffering to lose on a kill). */
void report(const std::string &line) { testbed::write_all(out_fd, line + "\n"); }

void report_status(pid_t pid, int status) {
  if (WIFEXITED(status))
    report(std::to_string(pid) + " exit " + std::to_string(WEXITSTATUS(status)));
  else if (WIFSIGNALED(status))
    report(std::to_string(pid) + " signal " + std::to_string(WTERMSIG(status)));
}

/* Kills every descendant and reaps until none is left. A process forked
** between the scan and the kill is found by the next scan. */
void kill_all_and_reap() {
  for (;;) {
    for (pid_t p : testbed::descendants_of(getpid()))
      kill(p, SIGKILL);
    int status = 0;
    pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      return; /* ECHILD: nothing left */
    }
    report_status(pid, status);
  }
}

int usage() {
  std::fprintf(stderr, "usage: subreaper_run [--timeout S] [--out FILE] -- cmd args...\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  double timeout = -1;
  const char *out_path = nullptr;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--timeout" && i + 1 < argc) {
      char *end = nullptr;
      timeout = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(timeout > 0) || !std::isfinite(timeout)) return usage();
    } else if (a == "--out" && i + 1 < argc) {
      out_path = argv[++i];
    } else {
      return usage();
    }
  }
  if (i >= argc) return usage();

  if (out_path) {
    out_fd = open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out_fd < 0) {
      std::perror(out_path);
      return 1;
    }
  }
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
    std::perror("subreaper_run: prctl");
    return 1;
  }

  /* SIGCHLD stays blocked here and is taken with sigtimedwait; the command
  ** gets the mask it would have had. */
  sigset_t chld, old_mask;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  sigprocmask(SIG_BLOCK, &chld, &old_mask);

  pid_t child = fork();
  if (child < 0) {
    std::perror("subreaper_run: fork");
    return 1;
  }
  if (child == 0) {
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    execvp(argv[i], argv + i);
    std::fprintf(stderr, "subreaper_run: cannot run %s: %s\n", argv[i], std::strerror(errno));
    _exit(127);
  }
  report("started " + std::to_string(child));

  const int64_t deadline =
      testbed::monotonic_ms() + (timeout > 0 ? static_cast<int64_t>(timeout * 1000) : 0);

  for (;;) {
    int status = 0;
    pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid > 0) {
      report_status(pid, status);
      continue;
    }
    if (pid < 0 && errno == ECHILD) return 0;
    if (pid < 0 && errno != EINTR) {
      std::perror("subreaper_run: waitpid");
      return 1;
    }
    if (timeout <= 0) {
      int sig = 0;
      sigwait(&chld, &sig);
      continue;
    }
    int64_t left_ms = deadline - testbed::monotonic_ms();
    if (left_ms <= 0) {
      kill_all_and_reap();
      return 3;
    }
    struct timespec wait_for = {static_cast<time_t>(left_ms / 1000),
                                static_cast<long>(left_ms % 1000) * 1000000L};
    sigtimedwait(&chld, nullptr, &wait_for);
  }
}
