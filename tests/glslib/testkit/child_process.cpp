/*
** Forked children of the glslib tests (see child_process.h).
*/
#include "child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace glstest {

bool run_in_child(const std::string &dir, const std::function<void()> &body) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(2);
    body();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace glstest
