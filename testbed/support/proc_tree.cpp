/*
** Process helpers shared by the testbed's programs (the subreaper runner,
** the dorvexd double) and the test support (testbed_support.h): the live
** descendants of a process from /proc, waiting for a process to end, and
** writing a whole text to a descriptor. Calls nothing but libc.
*/
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "testbed_support.h"

namespace testbed {

namespace {

/* Parent pid of `pid` from /proc/<pid>/stat, or -1. The command name in
** parentheses may hold blanks and parentheses: parse after the last ')'. */
pid_t parent_of(const char *pid) {
  std::string path = std::string("/proc/") + pid + "/stat";
  FILE *f = std::fopen(path.c_str(), "r");
  if (!f) return -1;
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  char *close = std::strrchr(buf, ')');
  if (!close) return -1;
  char state = 0;
  int ppid = -1;
  if (std::sscanf(close + 1, " %c %d", &state, &ppid) != 2) return -1;
  return ppid;
}

}  // namespace

std::vector<pid_t> descendants_of(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  if (DIR *d = opendir("/proc")) {
    while (struct dirent *e = readdir(d)) {
      if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
      pid_t ppid = parent_of(e->d_name);
      if (ppid > 0) children.emplace(ppid, static_cast<pid_t>(std::atol(e->d_name)));
    }
    closedir(d);
  }
  std::vector<pid_t> found;
  std::vector<pid_t> todo {root};
  while (!todo.empty()) {
    pid_t p = todo.back();
    todo.pop_back();
    auto [lo, hi] = children.equal_range(p);
    for (auto it = lo; it != hi; ++it) {
      found.push_back(it->second);
      todo.push_back(it->second);
    }
  }
  return found;
}

bool wait_until_ended(pid_t pid, double timeout_seconds) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  return wait_until(
      [&] {
        FILE *f = std::fopen(path.c_str(), "r");
        if (!f) return true;
        char buf[1024];
        size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        buf[n] = '\0';
        const char *close = std::strrchr(buf, ')');
        return !close || close[1] == '\0' || close[2] == 'Z';
      },
      timeout_seconds);
}

bool write_all(int fd, std::string_view text) {
  const char *p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace testbed
