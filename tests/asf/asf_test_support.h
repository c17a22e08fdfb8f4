/*
** asf_test_support.h: what the association services' tests share: the
** process's open descriptors (the leak oracle) and a loopback TCP
** listener on a port the kernel chooses, so that no run depends on a
** fixed port.
*/
#ifndef DVZ_TESTS_ASF_TEST_SUPPORT_H
#define DVZ_TESTS_ASF_TEST_SUPPORT_H

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace asf_test {

/* Open descriptors of the process, from /proc/self/fd; -1 when it cannot
** be read. */
inline int fd_count() {
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  int n = 0;
  while (readdir(d) != nullptr)
    ++n;
  closedir(d);
  return n;
}

/* The descriptor count once it reaches want, or after 2 s: a peer thread
** in the same process closes its side of a connection a moment after the
** client does. */
inline int settled_fd_count(int want) {
  int n = fd_count();
  for (int i = 0; i < 200 && n != want; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    n = fd_count();
  }
  return n;
}

/* A TCP listener on 127.0.0.1 with a port the kernel chooses and the
** given backlog: its descriptor, with its address in *sa; -1 on failure
** (nothing left open). */
inline int loopback_listener(int backlog, sockaddr_in *sa) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  *sa = sockaddr_in {};
  sa->sin_family = AF_INET;
  sa->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof *sa;
  if (bind(fd, reinterpret_cast<sockaddr *>(sa), sizeof *sa) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(sa), &len) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace asf_test

#endif
