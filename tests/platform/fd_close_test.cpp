/*
** dvz_close_from in a forked child (the test process keeps its own
** descriptors): descriptors below the bound stay open, every one from it
** up is closed, including one far above the rest.
*/
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fd_close.h"

namespace {

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

/* Runs check in a child after opening descriptors 3 to 9 and one at
** high; returns the child's exit status (0 when check held). */
int in_child(int lowfd, int high, bool (*check)(int, int)) {
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDONLY);
    for (int fd = 3; fd <= 9; ++fd)
      if (fd != null_fd) dup2(null_fd, fd);
    dup2(null_fd, high);
    struct rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    dvz_close_from(lowfd, static_cast<long>(limit.rlim_cur));
    _exit(check(lowfd, high) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FdClose, ClosesFromTheBoundUpAndKeepsWhatLiesBelow) {
  struct Case {
    int lowfd;
    int high;
  };
  for (Case c : {Case {3, 200}, Case {5, 900}, Case {0, 40}}) {
    SCOPED_TRACE(c.lowfd);
    EXPECT_EQ(in_child(c.lowfd, c.high,
                       [](int low, int high) {
                         for (int fd = 0; fd < low; ++fd)
                           if (!is_open(fd)) return false;
                         for (int fd = low; fd <= 9; ++fd)
                           if (is_open(fd)) return false;
                         return !is_open(high);
                       }),
              0);
  }
}

}  // namespace
