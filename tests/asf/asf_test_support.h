/*
** asf_test_support.h: what the association services' tests share: the
** process's open descriptors (the leak oracle), a loopback TCP listener
** and a free port the kernel chooses (no run depends on a fixed port), a
** synchronous control record, an association whose transport goes with
** it, a transport request for an address text, the freeing of a peer
** address record, and a protocol table of the test's own behind the
** driver override.
*/
#ifndef DVZ_TESTS_ASF_TEST_SUPPORT_H
#define DVZ_TESTS_ASF_TEST_SUPPORT_H

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "tl_records.h"

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

/* Processes (zombies included) whose parent is this process; -1 when
** /proc cannot be read. A process may end while it is read: plain reads,
** errors skipped. */
inline int child_processes() {
  int n = 0;
  const pid_t self = getpid();
  DIR *d = opendir("/proc");
  if (d == nullptr) return -1;
  while (const dirent *e = readdir(d)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    const int fd = open((std::string("/proc/") + e->d_name + "/stat").c_str(), O_RDONLY);
    if (fd < 0) continue;
    char text[512];
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) continue;
    const std::string stat(text, static_cast<size_t>(got));
    const size_t paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    // After the name: the state, then the parent's id.
    size_t at = stat.find_first_not_of(' ', paren + 1);
    if (at == std::string::npos) continue;
    at = stat.find(' ', at);
    if (at == std::string::npos) continue;
    if (std::atol(stat.c_str() + at + 1) == self) ++n;
  }
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

/* A loopback port nobody listens on just now (the kernel's choice), or 0. */
inline int free_loopback_port() {
  sockaddr_in sa {};
  int fd = loopback_listener(1, &sa);
  if (fd < 0) return 0;
  close(fd);
  return ntohs(sa.sin_port);
}

/* A control record for a synchronous call on ascid (0: a new one). */
inline asfsvcctl fresh_ctl(void *ascid = nullptr, int timeout = -1) {
  asfsvcctl ctl {};
  ctl.flags = asf_flag_sync;
  ctl.timeout = timeout;
  ctl.ascid = ascid;
  return ctl;
}

/* Frees a peer address record that a driver's address conversion made. */
inline void free_peer(tlpeeraddr *rec) {
  if (rec == nullptr) return;
  if (rec->pair != nullptr) {
    asf_free(asf_pool_assoc, rec->pair->text);
    asf_free(asf_pool_assoc, rec->pair);
  }
  asf_free(asf_pool_assoc, rec);
}

/* An association of a kind with its control record; at the end its
** transport, if any, is closed without a release and it is freed. */
struct TestAssoc {
  char status[4] = {};
  asfsvcctl ctl = fresh_ctl();
  Assocctl *a = nullptr;
  explicit TestAssoc(int kind) {
    a = alCSalloc(&ctl, kind, status);
    ctl.ascid = a;
  }
  ~TestAssoc() {
    if (a == nullptr) return;
    if (a->tlblock != nullptr) tlDiscon(&ctl, 0x8000);
    alCSfree(a);
  }
  TestAssoc(const TestAssoc &) = delete;
  TestAssoc &operator=(const TestAssoc &) = delete;
  tlblock *tb() const { return static_cast<tlblock *>(a->tlblock); }
  drvblock *drv() const { return tb() != nullptr ? &tb()->drv : nullptr; }
};

/* A copy of the protocol table whose rows a test changes, put in place
** with vector_of as the driver override for the object's lifetime; the
** previous table comes back at the end. */
class DriverTableOverride {
 public:
  explicit DriverTableOverride(const opvec *(*vector_of)(int)) : previous_(tlprototab) {
    for (; tlnetswtab[rows_].name != nullptr; ++rows_)
      table_.at(rows_) = tlnetswtab[rows_];
    table_.at(rows_) = tlnetswtab[rows_];
    seam_ = {table_.data(), vector_of};
    tl_driver_override = &seam_;
    tlprototab = table_.data();
  }
  ~DriverTableOverride() {
    tl_driver_override = nullptr;
    tlprototab = previous_;
  }
  DriverTableOverride(const DriverTableOverride &) = delete;
  DriverTableOverride &operator=(const DriverTableOverride &) = delete;
  tlnetsw &row(int i) { return table_.at(i); }
  int rows() const { return rows_; } /* named rows, before the closing one */

 private:
  std::array<tlnetsw, 8> table_ {};
  tl_driver_seam seam_ {};
  const tlnetsw *previous_;
  int rows_ = 0;
};

/* A transport request for an address text (address kind 1 by default)
** with empty sqlhosts options; req points into the object. */
struct TransportRequest {
  std::string text;
  tlreqaddr addr {};
  SqlhOptions options {};
  tlconnreq req {};
  explicit TransportRequest(std::string t, int kind = 1) : text(std::move(t)) {
    addr.kind = kind;
    addr.text = text.data();
    req.addr = &addr;
    req.options = &options;
  }
  TransportRequest(const TransportRequest &) = delete;
  TransportRequest &operator=(const TransportRequest &) = delete;
};

}  // namespace asf_test

#endif
