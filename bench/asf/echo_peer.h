/*
** echo_peer.h: the echo peer of the association services' benchmarks: a
** TCP listener on 127.0.0.1 (a port the kernel chooses) whose thread
** echoes one connection until its end, with TCP_NODELAY as the measured
** side sets it.
*/
#ifndef DVZ_BENCH_ASF_ECHO_PEER_H
#define DVZ_BENCH_ASF_ECHO_PEER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace asf_bench {

inline void no_delay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

/* A listener on 127.0.0.1 (port 0) whose thread echoes one connection
** until its end. */
class EchoPeer {
 public:
  EchoPeer() {
    lsn_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lsn_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    listen(lsn_, 1);
    socklen_t len = sizeof sa;
    getsockname(lsn_, reinterpret_cast<sockaddr *>(&sa), &len);
    addr_ = sa;
    thread_ = std::thread([this] {
      int c = accept(lsn_, nullptr, nullptr);
      if (c < 0) return;
      no_delay(c);
      char chunk[8192];
      for (;;) {
        ssize_t n = recv(c, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        if (send(c, chunk, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
      }
      close(c);
    });
  }
  ~EchoPeer() {
    thread_.join();
    close(lsn_);
  }
  const sockaddr_in &addr() const { return addr_; }
  int port() const { return ntohs(addr_.sin_port); }
  std::string text() const {
    return "127.0.0.1|" + std::to_string(ntohs(addr_.sin_port)) + "|tlitcp";
  }

 private:
  int lsn_ = -1;
  sockaddr_in addr_ {};
  std::thread thread_;
};

}  // namespace asf_bench

#endif
