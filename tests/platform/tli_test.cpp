/* The TLI layer over sockets, against real loopback TCP peers: plain BSD
** sockets on ephemeral ports (threads where the peer must run alongside),
** with getsockopt and /proc/self/fd as oracles. */
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "temp_dir.h"
#include "tli.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *sync_child_variable = "DVZ_TLI_SYNC_CHILD";

/* Run as an exec'd child (the test binary itself, with the variable naming
** an inherited socket, a regular file and a pipe): reports what t_sync
** makes of the two descriptors and exits. */
struct SyncChild {
  SyncChild() {
    const char *fds = getenv(sync_child_variable);
    if (fds == nullptr) return;
    int sock = -1, file = -1, out = -1;
    if (sscanf(fds, "%d,%d,%d", &sock, &file, &out) != 3) _exit(2);
    int socket_state = t_sync(sock);
    int socket_look = t_look(sock);
    char buf[8] = {};
    int flags = 0;
    int got = t_rcv(sock, buf, sizeof buf - 1, &flags);
    int file_state = t_sync(file);
    int file_error = t_errno;
    char line[128];
    int n = snprintf(line, sizeof line, "%d %d %d:%s %d %d", socket_state, socket_look, got, buf,
                     file_state, file_error);
    if (write(out, line, n) != n) _exit(3);
    _exit(0);
  }
} sync_child;

/* A socket descriptor closed at scope end. */
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  Fd(Fd &&other) noexcept : fd_(other.release()) {}
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

/* A TLI endpoint closed with t_close at scope end. */
class Endpoint {
 public:
  Endpoint() : fd_(t_open("/dev/tcp", O_RDWR, nullptr)) {}
  Endpoint(const Endpoint &) = delete;
  Endpoint &operator=(const Endpoint &) = delete;
  ~Endpoint() {
    if (fd_ >= 0) t_close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in loopback(uint16_t port) {
  sockaddr_in in {};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return in;
}

uint16_t port_of(int fd) {
  sockaddr_in in {};
  socklen_t len = sizeof in;
  getsockname(fd, reinterpret_cast<sockaddr *>(&in), &len);
  return ntohs(in.sin_port);
}

/* A plain listening socket on 127.0.0.1 and an ephemeral port. */
Fd plain_listener(int backlog = 8) {
  Fd fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in in = loopback(0);
  EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr *>(&in), sizeof in), 0);
  EXPECT_EQ(listen(fd.get(), backlog), 0);
  return Fd(fd.release());
}

Fd plain_connect(uint16_t port) {
  Fd fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in in = loopback(port);
  EXPECT_EQ(connect(fd.get(), reinterpret_cast<sockaddr *>(&in), sizeof in), 0) << strerror(errno);
  return Fd(fd.release());
}

/* Closes fd so that its peer sees a reset. */
void reset_close(Fd &fd) {
  linger l {1, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  fd.reset();
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

/* Waits as the drivers do: the layer's events first, then poll. True when
** fd became ready within ms. */
bool wait_ready(int fd, short requested, int ms) {
  int events = tli_poll_events(fd, requested);
  if ((events & TLI_POLL_READY) != 0) return true;
  pollfd p {fd, static_cast<short>(events), 0};
  return poll(&p, 1, ms) > 0;
}

/* Waits until t_look gives an event (0 when none came within ms). */
int wait_event(int fd, int ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    int event = t_look(fd);
    if (event != 0 || Clock::now() >= deadline) return event;
    wait_ready(fd, POLLIN, 20);
  }
}

/* Waits until the socket itself shows the peer's reset. */
bool wait_reset(int fd, int ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  do {
    pollfd p {fd, POLLIN, 0};
    if (poll(&p, 1, 10) > 0 && (p.revents & (POLLERR | POLLHUP)) != 0) return true;
  } while (Clock::now() < deadline);
  return false;
}

int count_open_fds() {
  int n = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

/* Opens, binds and connects a /dev/tcp endpoint to 127.0.0.1:port
** (blocking), the way the driver does; returns the descriptor. */
int tli_connect(uint16_t port) {
  int fd = t_open("/dev/tcp", O_RDWR, nullptr);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(t_bind(fd, nullptr, nullptr), 0);
  sockaddr_in in = loopback(port);
  t_call call {};
  call.addr = {sizeof in, sizeof in, reinterpret_cast<char *>(&in)};
  EXPECT_EQ(t_connect(fd, &call, nullptr), 0) << t_errno;
  return fd;
}

/* A connected TLI endpoint and its plain peer. */
struct Pair {
  Fd listener = plain_listener();
  int tli = -1;
  Fd peer;
  Pair() {
    tli = tli_connect(port_of(listener.get()));
    peer.reset(accept(listener.get(), nullptr, nullptr));
  }
  ~Pair() {
    if (tli >= 0) t_close(tli);
  }
};

TEST(TliOpen, GivesTcpProviderInfoOnADescriptorKeptAcrossExec) {
  t_info info {};
  int fd = t_open("/dev/tcp", O_RDWR, &info);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(info.addr, 16);
  EXPECT_EQ(info.options, 16);
  EXPECT_EQ(info.tsdu, 0);
  EXPECT_EQ(info.etsdu, 1);
  EXPECT_EQ(info.connect, -2);
  EXPECT_EQ(info.discon, -2);
  EXPECT_EQ(info.servtype, T_COTS_ORD);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  int type = 0;
  socklen_t len = sizeof type;
  ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len), 0);
  EXPECT_EQ(type, SOCK_STREAM);
  EXPECT_EQ(t_getstate(fd), T_UNBND);
  EXPECT_EQ(t_close(fd), 0);
  EXPECT_EQ(t_getstate(fd), -1);
  EXPECT_EQ(t_errno, TBADF);
}

TEST(TliOpen, UnknownDeviceIsSystemErrorNoEntry) {
  for (const char *path : {"/dev/mspx", "/dev/mipx", "/dev/tcp6", ""}) {
    SCOPED_TRACE(path);
    errno = 0;
    t_errno = 0;
    EXPECT_EQ(t_open(path, O_RDWR, nullptr), -1);
    EXPECT_EQ(t_errno, TSYSERR);
    EXPECT_EQ(errno, ENOENT);
  }
}

/* Test providers: internet sockets whose "any" address is the loopback one. */
int loop_to_socket(const char *addr, unsigned int len, sockaddr_storage *out, socklen_t *outlen) {
  sockaddr_in in = loopback(0);
  if (len != 0) {
    if (len != sizeof in) return -1;
    std::memcpy(&in, addr, sizeof in);
  }
  std::memcpy(out, &in, sizeof in);
  *outlen = sizeof in;
  return 0;
}

int loop_from_socket(const sockaddr *sa, socklen_t, char *out, unsigned int maxlen) {
  if (maxlen < sizeof(sockaddr_in)) return -1;
  std::memcpy(out, sa, sizeof(sockaddr_in));
  return sizeof(sockaddr_in);
}

TEST(TliOpen, RegisteredProviderIsOpenedByItsPath) {
  static const tli_provider loop = {"/dev/looptest",           AF_INET,        SOCK_STREAM,     0,
                                    {16, 16, 0, 1, -2, -2, 1}, loop_to_socket, loop_from_socket};
  ASSERT_EQ(tli_register_provider(&loop), 0);
  ASSERT_EQ(tli_register_provider(&loop), 0); /* again: replaces, takes no slot */
  t_info info {};
  int fd = t_open("/dev/looptest", O_RDWR, &info);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(info.servtype, 1);
  char buf[16];
  struct t_bind ret {};
  ret.addr = {sizeof buf, 0, buf};
  ASSERT_EQ(t_bind(fd, nullptr, &ret), 0);
  sockaddr_in in {};
  std::memcpy(&in, buf, sizeof in);
  EXPECT_EQ(in.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ntohs(in.sin_port), port_of(fd));
  EXPECT_EQ(t_close(fd), 0);
}

TEST(TliUnitdata, DatagramsOfAConnectionlessProvider) {
  static const tli_provider udp = {
      "/dev/udptest", AF_INET,         SOCK_DGRAM, 0, {16, 16, 64, 0, -2, -2, T_CLTS},
      loop_to_socket, loop_from_socket};
  ASSERT_EQ(tli_register_provider(&udp), 0);
  int a = t_open("/dev/udptest", O_RDWR, nullptr);
  int b = t_open("/dev/udptest", O_RDWR | O_NONBLOCK, nullptr);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_EQ(t_bind(a, nullptr, nullptr), 0);
  ASSERT_EQ(t_bind(b, nullptr, nullptr), 0);
  int flags = -1;
  char data[8] = {};
  sockaddr_in from {};
  t_unitdata in {};
  in.addr = {sizeof from, 0, reinterpret_cast<char *>(&from)};
  in.udata = {sizeof data, 0, data};
  EXPECT_EQ(t_rcvudata(b, &in, &flags), -1);
  EXPECT_EQ(t_errno, TNODATA);

  sockaddr_in to = loopback(port_of(b));
  struct Case {
    const char *what;
    std::string payload;
    int result;
  } cases[] = {{"fits", "sap", 0}, {"empty", "", 0}, {"longer than the buffer", "123456789", -1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string payload = c.payload;
    t_unitdata out {};
    out.addr = {sizeof to, sizeof to, reinterpret_cast<char *>(&to)};
    out.udata = {static_cast<unsigned int>(payload.size()),
                 static_cast<unsigned int>(payload.size()), payload.data()};
    ASSERT_EQ(t_sndudata(a, &out), 0) << t_errno;
    pollfd p {b, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_EQ(t_rcvudata(b, &in, &flags), c.result);
    if (c.result == 0) {
      EXPECT_EQ(std::string(data, in.udata.len), c.payload);
      EXPECT_EQ(flags, 0);
      EXPECT_EQ(in.addr.len, 16u);
      EXPECT_EQ(ntohs(from.sin_port), port_of(a));
    } else {
      EXPECT_EQ(t_errno, TBADDATA);
    }
  }
  EXPECT_EQ(t_close(a), 0);
  EXPECT_EQ(t_close(b), 0);
}

/* t_bind: no request, a free address, an address in use, and listening. */
TEST(TliBind, BindsAnyPortOrAnotherWhenTakenAndGrantsQueueLength) {
  Fd taken = plain_listener();
  const uint16_t busy = port_of(taken.get());
  struct Case {
    const char *what;
    bool with_request;
    bool busy_port;
    unsigned int qlen;
    unsigned int cap;
    unsigned int granted;
  } cases[] = {
      {"no request", false, false, 0, 0, 0},
      {"port in use", true, true, 0, 0, 0},
      {"listening", true, false, 5, 0, 5},
      {"listening, capped", true, false, 500, 2, 2},
      {"listening on a port in use", true, true, 500, 0, 500},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    tli_set_max_qlen(c.cap);
    Endpoint ep;
    sockaddr_in want = loopback(c.busy_port ? busy : 0);
    struct t_bind req {};
    req.addr = {sizeof want, sizeof want, reinterpret_cast<char *>(&want)};
    req.qlen = c.qlen;
    sockaddr_in got {};
    struct t_bind ret {};
    ret.addr = {sizeof got, 0, reinterpret_cast<char *>(&got)};
    ASSERT_EQ(t_bind(ep.get(), c.with_request ? &req : nullptr, &ret), 0) << t_errno;
    EXPECT_EQ(ret.addr.len, 16u);
    EXPECT_EQ(ret.qlen, c.granted);
    EXPECT_NE(got.sin_port, 0);
    EXPECT_EQ(ntohs(got.sin_port), port_of(ep.get()));
    if (c.busy_port) {
      EXPECT_NE(ntohs(got.sin_port), busy);
    }
    int accepting = 0;
    socklen_t len = sizeof accepting;
    getsockopt(ep.get(), SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len);
    EXPECT_EQ(accepting != 0, c.qlen > 0);
    EXPECT_EQ(t_getstate(ep.get()), T_IDLE);
    EXPECT_EQ(t_bind(ep.get(), nullptr, nullptr), -1);
    EXPECT_EQ(t_errno, TOUTSTATE);
  }
  tli_set_max_qlen(0);
}

TEST(TliConnect, PendingConnectTurnsIntoConnect) {
  /* A listener whose accept queue is full drops the SYN: the connect stays
  ** pending until a place is free and the SYN is sent again. */
  Fd listener = plain_listener(0);
  const uint16_t port = port_of(listener.get());
  std::vector<Fd> fillers;
  for (int i = 0; i < 2; ++i) {
    Fd f(socket(AF_INET, SOCK_STREAM, 0));
    set_nonblocking(f.get());
    sockaddr_in in = loopback(port);
    connect(f.get(), reinterpret_cast<sockaddr *>(&in), sizeof in);
    fillers.emplace_back(f.release());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  int fd = t_open("/dev/tcp", O_RDWR | O_NONBLOCK, nullptr);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(t_bind(fd, nullptr, nullptr), 0);
  sockaddr_in in = loopback(port);
  t_call call {};
  call.addr = {sizeof in, sizeof in, reinterpret_cast<char *>(&in)};
  ASSERT_EQ(t_connect(fd, &call, nullptr), -1);
  ASSERT_EQ(t_errno, TNODATA);
  EXPECT_EQ(t_getstate(fd), T_OUTCON);
  EXPECT_EQ(t_look(fd), 0);
  EXPECT_EQ(t_rcvconnect(fd, nullptr), -1);
  EXPECT_EQ(t_errno, TNODATA);
  EXPECT_EQ(tli_poll_events(fd, POLLIN), POLLIN | POLLOUT);

  /* Free the queue (keeping what it held open): a retransmitted SYN gets
  ** through. */
  std::vector<Fd> accepted;
  set_nonblocking(listener.get());
  bool ready = false;
  for (int i = 0; i < 100 && !ready; ++i) {
    for (int s; (s = accept(listener.get(), nullptr, nullptr)) >= 0;)
      accepted.emplace_back(s);
    ready = wait_ready(fd, POLLIN, 100);
  }
  ASSERT_TRUE(ready);
  EXPECT_EQ(t_look(fd), T_CONNECT);
  EXPECT_TRUE(tli_poll_events(fd, POLLIN) & TLI_POLL_READY);
  sockaddr_in peer {};
  t_call rcv {};
  rcv.addr = {sizeof peer, 0, reinterpret_cast<char *>(&peer)};
  ASSERT_EQ(t_rcvconnect(fd, &rcv), 0) << t_errno;
  EXPECT_EQ(t_getstate(fd), T_DATAXFER);
  EXPECT_EQ(rcv.addr.len, 16u);
  EXPECT_EQ(ntohs(peer.sin_port), port);
  EXPECT_EQ(t_look(fd), 0);
  EXPECT_EQ(t_close(fd), 0);
}

TEST(TliConnect, RefusalIsDisconnectWithin100ms) {
  /* A bound socket that does not listen: the port answers with a reset. */
  Fd closed(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in in = loopback(0);
  ASSERT_EQ(bind(closed.get(), reinterpret_cast<sockaddr *>(&in), sizeof in), 0);
  in = loopback(port_of(closed.get()));
  for (bool blocking : {false, true}) {
    SCOPED_TRACE(blocking ? "blocking" : "non-blocking");
    int fd = t_open("/dev/tcp", blocking ? O_RDWR : O_RDWR | O_NONBLOCK, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(t_bind(fd, nullptr, nullptr), 0);
    t_call call {};
    call.addr = {sizeof in, sizeof in, reinterpret_cast<char *>(&in)};
    auto start = Clock::now();
    ASSERT_EQ(t_connect(fd, &call, nullptr), -1);
    EXPECT_TRUE(t_errno == TLOOK || (!blocking && t_errno == TNODATA)) << t_errno;
    EXPECT_TRUE(wait_ready(fd, POLLIN, 100));
    EXPECT_EQ(t_look(fd), T_DISCONNECT);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(t_rcvconnect(fd, nullptr), -1);
    EXPECT_EQ(t_errno, TLOOK);
    t_discon dis {};
    ASSERT_EQ(t_rcvdis(fd, &dis), 0);
    EXPECT_EQ(dis.reason, ECONNREFUSED);
    EXPECT_EQ(dis.sequence, 0);
    EXPECT_EQ(t_getstate(fd), T_IDLE);
    EXPECT_EQ(t_look(fd), 0);
    EXPECT_EQ(t_rcvdis(fd, nullptr), -1);
    EXPECT_EQ(t_unbind(fd), 0);
    EXPECT_EQ(t_close(fd), 0);
  }
}

TEST(TliTransfer, MegabyteRoundTripSurvivesPartialWrites) {
  Pair pair;
  std::thread echo([fd = pair.peer.get()] {
    std::vector<char> buf(65536);
    for (;;) {
      ssize_t n = recv(fd, buf.data(), buf.size(), 0);
      if (n <= 0) break;
      for (ssize_t off = 0; off < n;) {
        ssize_t w = send(fd, buf.data() + off, n - off, MSG_NOSIGNAL);
        if (w <= 0) return;
        off += w;
      }
    }
    shutdown(fd, SHUT_WR);
  });
  const size_t total = 1 << 20;
  std::vector<char> out(total), in(total);
  for (size_t i = 0; i < total; ++i)
    out[i] = static_cast<char>(i * 7 + i / 251);
  set_nonblocking(pair.tli);
  /* Small buffers: a megabyte cannot go in one send. */
  int small = 65536;
  setsockopt(pair.tli, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(pair.peer.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  size_t sent = 0, received = 0;
  int partial = 0;
  while (received < total) {
    if (sent < total) {
      unsigned int ask = static_cast<unsigned int>(total - sent);
      int n = t_snd(pair.tli, out.data() + sent, ask, 0);
      if (n > 0) {
        if (static_cast<unsigned int>(n) < ask) ++partial;
        sent += n;
        if (sent == total) {
          ASSERT_EQ(t_sndrel(pair.tli), 0);
        }
      } else {
        ASSERT_EQ(t_errno, TFLOW);
      }
    }
    int flags = -1;
    int n =
        t_rcv(pair.tli, in.data() + received, static_cast<unsigned int>(total - received), &flags);
    if (n > 0) {
      EXPECT_EQ(flags, 0);
      received += n;
    } else {
      ASSERT_EQ(t_errno, TNODATA);
      wait_ready(pair.tli, sent < total ? POLLIN | POLLOUT : POLLIN, 1000);
    }
  }
  EXPECT_GT(partial, 0);
  EXPECT_TRUE(in == out);
  EXPECT_EQ(t_getstate(pair.tli), T_OUTREL);
  EXPECT_EQ(wait_event(pair.tli, 2000), T_ORDREL);
  EXPECT_EQ(t_rcvrel(pair.tli), 0);
  EXPECT_EQ(t_getstate(pair.tli), T_IDLE);
  echo.join();
}

/* What the peer does, what t_look then shows and what t_rcv gives. */
TEST(TliTransfer, PeerActionsShowAsEvents) {
  enum class Act { data, urgent, release, reset };
  struct Case {
    const char *what;
    Act act;
    int event;
    int rcv_result;  // byte count, or -1 with t_errno TLOOK
    int rcv_flags;
    int state_after;  // after taking the event
  } cases[] = {
      {"data", Act::data, T_DATA, 3, 0, T_DATAXFER},
      {"urgent byte", Act::urgent, T_EXDATA, 1, T_EXPEDITED, T_DATAXFER},
      {"release", Act::release, T_ORDREL, -1, 0, T_INREL},
      {"reset", Act::reset, T_DISCONNECT, -1, 0, T_IDLE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Pair pair;
    switch (c.act) {
      case Act::data:
        ASSERT_EQ(send(pair.peer.get(), "abc", 3, 0), 3);
        break;
      case Act::urgent:
        ASSERT_EQ(send(pair.peer.get(), "!", 1, MSG_OOB), 1);
        break;
      case Act::release:
        shutdown(pair.peer.get(), SHUT_WR);
        break;
      case Act::reset:
        reset_close(pair.peer);
        break;
    }
    ASSERT_TRUE(wait_ready(pair.tli, POLLIN, 2000));
    EXPECT_EQ(wait_event(pair.tli, 2000), c.event);
    char buf[16] = {};
    int flags = -1;
    int n = t_rcv(pair.tli, buf, sizeof buf, &flags);
    EXPECT_EQ(n, c.rcv_result);
    if (n >= 0) {
      EXPECT_EQ(flags, c.rcv_flags);
    } else {
      EXPECT_EQ(t_errno, TLOOK);
      EXPECT_EQ(t_look(pair.tli), c.event);
    }
    if (c.event == T_ORDREL) {
      EXPECT_EQ(t_rcvrel(pair.tli), 0);
    }
    if (c.event == T_DISCONNECT) {
      t_discon dis {};
      EXPECT_EQ(t_rcvdis(pair.tli, &dis), 0);
      EXPECT_EQ(dis.reason, ECONNRESET);
    }
    EXPECT_EQ(t_getstate(pair.tli), c.state_after);
    if (c.event != T_DISCONNECT) {
      EXPECT_EQ(t_look(pair.tli), 0);
    }
  }
}

TEST(TliTransfer, ExpeditedByteArrivesFlaggedBeforeLaterData) {
  Pair pair;
  /* Peer to layer: the urgent byte comes first, alone and flagged. */
  ASSERT_EQ(send(pair.peer.get(), "U", 1, MSG_OOB), 1);
  ASSERT_EQ(send(pair.peer.get(), "normal", 6, 0), 6);
  ASSERT_TRUE(wait_ready(pair.tli, POLLIN, 2000));
  char buf[16] = {};
  int flags = 0;
  ASSERT_EQ(t_rcv(pair.tli, buf, sizeof buf, &flags), 1);
  EXPECT_EQ(flags, T_EXPEDITED);
  EXPECT_EQ(buf[0], 'U');
  ASSERT_EQ(t_rcv(pair.tli, buf, sizeof buf, &flags), 6);
  EXPECT_EQ(flags, 0);
  EXPECT_EQ(std::string(buf, 6), "normal");

  /* Layer to peer: one byte of TCP urgent data; more is refused. */
  EXPECT_EQ(t_snd(pair.tli, "XY", 2, T_EXPEDITED), -1);
  EXPECT_EQ(t_errno, TBADDATA);
  ASSERT_EQ(t_snd(pair.tli, "B", 1, T_EXPEDITED), 1);
  ASSERT_EQ(t_snd(pair.tli, "after", 5, 0), 5);
  pollfd p {pair.peer.get(), POLLPRI, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  char urgent = 0;
  ASSERT_EQ(recv(pair.peer.get(), &urgent, 1, MSG_OOB), 1);
  EXPECT_EQ(urgent, 'B');
  ASSERT_EQ(recv(pair.peer.get(), buf, 5, MSG_WAITALL), 5);
  EXPECT_EQ(std::string(buf, 5), "after");
}

/* A blocking t_rcv called before anything came: what the peer then sends
** ends the wait and comes out as it would have had it been there first.
** An urgent byte arriving alone must not be skipped by the stream read. */
TEST(TliTransfer, BlockingReceiveWakesForWhatArrivesLater) {
  enum class Act { data, urgent_alone, data_and_urgent, release, reset };
  struct Case {
    const char *what;
    Act act;
    std::vector<std::string> reads;  // each t_rcv's bytes, "!" prefix: flagged
    int event;  // t_look after a failing t_rcv (TLOOK), 0 when all succeed
  } cases[] = {
      {"data", Act::data, {"abc"}, 0},
      {"urgent byte alone", Act::urgent_alone, {"!U"}, 0},
      {"data ending in an urgent byte", Act::data_and_urgent, {"!U", "ab"}, 0},
      {"release", Act::release, {}, T_ORDREL},
      {"reset", Act::reset, {}, T_DISCONNECT},
  };
  /* A receive that misses what came would wait for ever: an alarm ends it. */
  struct sigaction on_alarm {
  }, old {};
  on_alarm.sa_handler = [](int) {};  // no SA_RESTART
  sigaction(SIGALRM, &on_alarm, &old);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Pair pair;
    std::thread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      switch (c.act) {
        case Act::data:
          send(pair.peer.get(), "abc", 3, 0);
          break;
        case Act::urgent_alone:
          send(pair.peer.get(), "U", 1, MSG_OOB);
          break;
        case Act::data_and_urgent:
          send(pair.peer.get(), "abU", 3, MSG_OOB); /* the last byte is urgent */
          break;
        case Act::release:
          shutdown(pair.peer.get(), SHUT_WR);
          break;
        case Act::reset:
          reset_close(pair.peer);
          break;
      }
    });
    char buf[16] = {};
    int flags = -1;
    const auto start = Clock::now();
    itimerval shot {{0, 0}, {2, 0}};
    setitimer(ITIMER_REAL, &shot, nullptr);
    int n = t_rcv(pair.tli, buf, sizeof buf, &flags);
    const int rcv_errno = errno;
    itimerval off {};
    setitimer(ITIMER_REAL, &off, nullptr);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
    peer.join();
    ASSERT_FALSE(n == -1 && t_errno == TSYSERR && rcv_errno == EINTR) << "t_rcv missed it";
    if (c.event != 0) {
      EXPECT_EQ(n, -1);
      EXPECT_EQ(t_errno, TLOOK);
      EXPECT_EQ(t_look(pair.tli), c.event);
      continue;
    }
    for (size_t i = 0; i < c.reads.size(); ++i) {
      if (i > 0) n = t_rcv(pair.tli, buf, sizeof buf, &flags);
      const std::string &want = c.reads[i];
      const bool urgent = want[0] == '!';
      ASSERT_EQ(n, static_cast<int>(want.size()) - (urgent ? 1 : 0)) << "read " << i;
      EXPECT_EQ(flags, urgent ? T_EXPEDITED : 0);
      EXPECT_EQ(std::string(buf, n), want.substr(urgent ? 1 : 0));
    }
    /* Nothing more: a non-blocking receive finds nothing. */
    fcntl(pair.tli, F_SETFL, fcntl(pair.tli, F_GETFL) | O_NONBLOCK);
    EXPECT_EQ(t_rcv(pair.tli, buf, sizeof buf, &flags), -1);
    EXPECT_EQ(t_errno, TNODATA);
  }
  sigaction(SIGALRM, &old, nullptr);
}

TEST(TliTransfer, SendToResetPeerFailsAndProcessLives) {
  /* SIGPIPE at its default would end the process. */
  struct sigaction dfl {
  }, old {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old);
  for (bool send_first : {false, true}) {
    SCOPED_TRACE(send_first ? "peer closed, reset by a send" : "peer reset");
    Pair pair;
    if (send_first) {
      pair.peer.reset();
      ASSERT_TRUE(wait_ready(pair.tli, POLLIN, 2000));
      ASSERT_EQ(t_snd(pair.tli, "x", 1, 0), 1); /* answered by a reset */
    } else {
      reset_close(pair.peer);
    }
    ASSERT_TRUE(wait_reset(pair.tli, 2000));
    EXPECT_EQ(t_snd(pair.tli, "data", 4, 0), -1);
    EXPECT_EQ(t_errno, TLOOK);
    EXPECT_EQ(t_look(pair.tli), T_DISCONNECT);
    EXPECT_TRUE(tli_poll_events(pair.tli, POLLOUT) & TLI_POLL_READY);
    t_discon dis {};
    EXPECT_EQ(t_rcvdis(pair.tli, &dis), 0);
    EXPECT_EQ(dis.reason, ECONNRESET);
    EXPECT_EQ(t_snd(pair.tli, "data", 4, 0), -1);
    EXPECT_EQ(t_errno, TOUTSTATE);
  }
  sigaction(SIGPIPE, &old, nullptr);
}

/* A blocking call that a signal interrupts is TSYSERR with EINTR (the
** drivers make it again); the non-blocking one is TFLOW or TNODATA. */
TEST(TliTransfer, FlowControlAndInterruptedCalls) {
  struct sigaction on_alarm {
  }, old {};
  on_alarm.sa_handler = [](int) {};  // no SA_RESTART
  sigaction(SIGALRM, &on_alarm, &old);
  Pair pair;  // the peer never reads
  int small = 16384;
  setsockopt(pair.tli, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(pair.peer.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  set_nonblocking(pair.tli);
  std::vector<char> chunk(65536, 'x');
  int n = 0;
  for (int i = 0; i < 1000 && (n = t_snd(pair.tli, chunk.data(), chunk.size(), 0)) > 0; ++i) {}
  ASSERT_EQ(n, -1);
  EXPECT_EQ(t_errno, TFLOW);
  char buf[8];
  int flags;
  EXPECT_EQ(t_rcv(pair.tli, buf, sizeof buf, &flags), -1);
  EXPECT_EQ(t_errno, TNODATA);

  fcntl(pair.tli, F_SETFL, fcntl(pair.tli, F_GETFL) & ~O_NONBLOCK);
  struct Case {
    const char *what;
    bool send;
  } cases[] = {{"send on a full connection", true}, {"receive with nothing there", false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    itimerval shot {{0, 0}, {0, 50000}};
    setitimer(ITIMER_REAL, &shot, nullptr);
    errno = 0;
    int got = c.send ? t_snd(pair.tli, chunk.data(), chunk.size(), 0)
                     : t_rcv(pair.tli, buf, sizeof buf, &flags);
    EXPECT_EQ(got, -1);
    EXPECT_EQ(t_errno, TSYSERR);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(t_getstate(pair.tli), T_DATAXFER);
  }
  sigaction(SIGALRM, &old, nullptr);
}

TEST(TliRelease, AbortiveDisconnectResetsPeerAndKeepsDescriptor) {
  Pair pair;
  ASSERT_EQ(t_snddis(pair.tli, nullptr), 0);
  EXPECT_EQ(t_getstate(pair.tli), T_IDLE);
  char c;
  pollfd p {pair.peer.get(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  errno = 0;
  EXPECT_EQ(recv(pair.peer.get(), &c, 1, 0), -1);
  EXPECT_EQ(errno, ECONNRESET);
  EXPECT_NE(fcntl(pair.tli, F_GETFD), -1);
  EXPECT_EQ(t_unbind(pair.tli), 0);
  EXPECT_EQ(t_getstate(pair.tli), T_UNBND);
  EXPECT_EQ(t_close(pair.tli), 0);
  pair.tli = -1;
}

TEST(TliRelease, OrderlyReleaseBothWays) {
  Pair pair;
  ASSERT_EQ(t_sndrel(pair.tli), 0);
  EXPECT_EQ(t_getstate(pair.tli), T_OUTREL);
  EXPECT_EQ(t_snd(pair.tli, "x", 1, 0), -1);
  EXPECT_EQ(t_errno, TOUTSTATE);
  char c;
  EXPECT_EQ(recv(pair.peer.get(), &c, 1, 0), 0); /* the peer reads EOF */
  ASSERT_EQ(send(pair.peer.get(), "late", 4, 0), 4);
  shutdown(pair.peer.get(), SHUT_WR);
  ASSERT_TRUE(wait_ready(pair.tli, POLLIN, 2000));
  /* Data sent before the release comes first. */
  EXPECT_EQ(t_rcvrel(pair.tli), -1);
  EXPECT_EQ(t_errno, TLOOK);
  char buf[8];
  int flags;
  EXPECT_EQ(t_rcv(pair.tli, buf, sizeof buf, &flags), 4);
  EXPECT_EQ(wait_event(pair.tli, 2000), T_ORDREL);
  EXPECT_EQ(t_rcvrel(pair.tli), 0);
  EXPECT_EQ(t_getstate(pair.tli), T_IDLE);
  EXPECT_EQ(t_unbind(pair.tli), 0);
}

/* A TLI listener on an ephemeral port with its plain callers. */
struct TliListen : ::testing::Test {
  int listener = -1;
  uint16_t port = 0;
  void SetUp() override {
    listener = t_open("/dev/tcp", O_RDWR, nullptr);
    ASSERT_GE(listener, 0);
    sockaddr_in any = loopback(0);
    struct t_bind req {};
    req.addr = {sizeof any, sizeof any, reinterpret_cast<char *>(&any)};
    req.qlen = 500;
    ASSERT_EQ(t_bind(listener, &req, nullptr), 0);
    port = port_of(listener);
  }
  void TearDown() override {
    if (listener >= 0) {
      EXPECT_EQ(t_close(listener), 0);
    }
  }
  /* Waits for the indication and takes it; returns its sequence. */
  int take(sockaddr_in *caller = nullptr) {
    EXPECT_EQ(wait_event(listener, 2000), T_LISTEN);
    sockaddr_in addr {};
    t_call call {};
    call.addr = {sizeof addr, 0, reinterpret_cast<char *>(&addr)};
    EXPECT_EQ(t_listen(listener, &call), 0) << t_errno;
    if (caller != nullptr) *caller = addr;
    return call.sequence;
  }
  /* t_accept of sequence onto a fresh bound endpoint; its descriptor or -1. */
  int accept_on_new(int sequence) {
    int fd = t_open("/dev/tcp", O_RDWR, nullptr);
    EXPECT_EQ(t_bind(fd, nullptr, nullptr), 0);
    t_call call {};
    call.sequence = sequence;
    if (t_accept(listener, fd, &call) == 0) return fd;
    int error = t_errno;
    t_close(fd);
    t_errno = error;
    return -1;
  }
};

TEST_F(TliListen, HeldConnectionMovesOntoTheAcceptingEndpoint) {
  Fd caller = plain_connect(port);
  sockaddr_in from {};
  int seq = take(&from);
  EXPECT_GT(seq, 0);
  EXPECT_EQ(ntohs(from.sin_port), port_of(caller.get()));
  EXPECT_EQ(t_getstate(listener), T_INCON);
  int fd = accept_on_new(seq);
  ASSERT_GE(fd, 0) << t_errno;
  EXPECT_EQ(t_getstate(fd), T_DATAXFER);
  EXPECT_EQ(t_getstate(listener), T_IDLE);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  ASSERT_EQ(t_snd(fd, "hello", 5, 0), 5);
  char buf[8];
  ASSERT_EQ(recv(caller.get(), buf, 5, MSG_WAITALL), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  t_call again {};
  again.sequence = seq;
  int other = t_open("/dev/tcp", O_RDWR, nullptr);
  ASSERT_EQ(t_bind(other, nullptr, nullptr), 0);
  EXPECT_EQ(t_accept(listener, other, &again), -1);
  EXPECT_EQ(t_errno, TBADDATA);
  t_close(other);
  t_close(fd);
}

TEST_F(TliListen, CallerResetWithdrawsItsHeldConnection) {
  Fd first = plain_connect(port);
  int seq1 = take();
  Fd second = plain_connect(port);
  int seq2 = take();
  EXPECT_NE(seq1, seq2);
  reset_close(first);
  bool ready = false;
  for (int i = 0; i < 100 && !ready; ++i) {
    ready = (tli_poll_events(listener, POLLIN) & TLI_POLL_READY) != 0;
    if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(ready);
  EXPECT_EQ(t_look(listener), T_DISCONNECT);
  t_call call {};
  call.sequence = seq2;
  int fd = t_open("/dev/tcp", O_RDWR, nullptr);
  ASSERT_EQ(t_bind(fd, nullptr, nullptr), 0);
  EXPECT_EQ(t_accept(listener, fd, &call), -1);
  EXPECT_EQ(t_errno, TLOOK);
  t_discon dis {};
  ASSERT_EQ(t_rcvdis(listener, &dis), 0);
  EXPECT_EQ(dis.sequence, seq1);
  EXPECT_EQ(dis.reason, ECONNRESET);
  EXPECT_EQ(t_look(listener), 0);
  EXPECT_EQ(t_accept(listener, fd, &call), 0) << t_errno;
  t_close(fd);
  EXPECT_EQ(accept_on_new(seq1), -1);
  EXPECT_EQ(t_errno, TBADDATA);
}

TEST_F(TliListen, AnotherWaitingConnectionIsLookAtAccept) {
  Fd first = plain_connect(port);
  int seq1 = take();
  Fd second = plain_connect(port);
  ASSERT_TRUE(wait_ready(listener, POLLIN, 2000));
  EXPECT_EQ(accept_on_new(seq1), -1);
  EXPECT_EQ(t_errno, TLOOK);
  int seq2 = take();
  int fd1 = accept_on_new(seq1);
  int fd2 = accept_on_new(seq2);
  ASSERT_GE(fd1, 0);
  ASSERT_GE(fd2, 0);
  /* Each caller reaches its own endpoint. */
  ASSERT_EQ(send(first.get(), "1", 1, 0), 1);
  ASSERT_EQ(send(second.get(), "2", 1, 0), 1);
  char c = 0;
  int flags;
  ASSERT_TRUE(wait_ready(fd1, POLLIN, 2000));
  EXPECT_EQ(t_rcv(fd1, &c, 1, &flags), 1);
  EXPECT_EQ(c, '1');
  ASSERT_TRUE(wait_ready(fd2, POLLIN, 2000));
  EXPECT_EQ(t_rcv(fd2, &c, 1, &flags), 1);
  EXPECT_EQ(c, '2');
  t_close(fd1);
  t_close(fd2);
}

/* Each negotiated option against getsockopt, and T_DEFAULT reading it. */
TEST(TliOptions, NegotiatedValuesMatchGetsockopt) {
  struct Case {
    const char *what;
    int level, name, value;
    int sys_level, sys_name;
    bool linger;
  } cases[] = {
      {"TCP_NODELAY", 6, 1, 1, IPPROTO_TCP, TCP_NODELAY, false},
      {"SO_REUSEADDR", 65535, 4, 1, SOL_SOCKET, SO_REUSEADDR, false},
      {"SO_KEEPALIVE", 65535, 8, 1, SOL_SOCKET, SO_KEEPALIVE, false},
      {"SO_LINGER", 65535, 128, 60, SOL_SOCKET, SO_LINGER, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Endpoint ep;
    int request[4] = {c.level, c.name, 4, c.value};
    int answer[4] = {};
    struct t_optmgmt req {
    }, ret {};
    req.opt = {sizeof request, sizeof request, reinterpret_cast<char *>(request)};
    req.flags = T_NEGOTIATE;
    ret.opt = {sizeof answer, 0, reinterpret_cast<char *>(answer)};
    ASSERT_EQ(t_optmgmt(ep.get(), &req, &ret), 0) << t_errno;
    EXPECT_EQ(ret.opt.len, 16u);
    int actual = 0;
    if (c.linger) {
      linger l {};
      socklen_t len = sizeof l;
      ASSERT_EQ(getsockopt(ep.get(), c.sys_level, c.sys_name, &l, &len), 0);
      EXPECT_EQ(l.l_onoff, 1);
      actual = l.l_linger;
    } else {
      socklen_t len = sizeof actual;
      ASSERT_EQ(getsockopt(ep.get(), c.sys_level, c.sys_name, &actual, &len), 0);
    }
    EXPECT_EQ(actual, c.value);
    EXPECT_EQ(answer[0], c.level);
    EXPECT_EQ(answer[1], c.name);
    EXPECT_EQ(answer[2], 4);
    EXPECT_EQ(answer[3], actual);

    /* T_DEFAULT: the header alone, its length given as 0. */
    int query[4] = {c.level, c.name, 0, 0};
    int read_back[4] = {};
    req.opt = {0, 0, reinterpret_cast<char *>(query)};
    req.flags = T_DEFAULT;
    ret.opt = {sizeof read_back, 0, reinterpret_cast<char *>(read_back)};
    ASSERT_EQ(t_optmgmt(ep.get(), &req, &ret), 0) << t_errno;
    EXPECT_EQ(read_back[3], actual);
  }
}

TEST(TliOptions, RefusesUnknownOptionsAndShortBuffers) {
  Endpoint ep;
  int answer[4];
  struct Case {
    const char *what;
    int record[4];
    unsigned int len;
    int flags;
    unsigned int answer_room;
    int error;
  } cases[] = {
      {"unknown name", {65535, 2, 4, 1}, 16, T_NEGOTIATE, 16, TNOTSUPPORT},
      {"unknown level", {7, 1, 4, 1}, 16, T_NEGOTIATE, 16, TNOTSUPPORT},
      {"value length not 4", {6, 1, 8, 1}, 16, T_NEGOTIATE, 16, TBADDATA},
      {"short request", {6, 1, 4, 1}, 12, T_NEGOTIATE, 16, TBADDATA},
      {"short answer", {6, 1, 4, 1}, 16, T_NEGOTIATE, 12, TBADDATA},
      {"negative linger", {65535, 128, 4, -1}, 16, T_NEGOTIATE, 16, TBADDATA},
      {"check flag", {6, 1, 4, 1}, 16, 8, 16, TNOTSUPPORT},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.what);
    struct t_optmgmt req {
    }, ret {};
    req.opt = {16, c.len, reinterpret_cast<char *>(c.record)};
    req.flags = c.flags;
    ret.opt = {c.answer_room, 0, reinterpret_cast<char *>(answer)};
    EXPECT_EQ(t_optmgmt(ep.get(), &req, &ret), -1);
    EXPECT_EQ(t_errno, c.error);
  }
}

TEST(TliSync, AdoptsSocketInheritedAcrossExecAndRefusesFiles) {
  Pair pair;
  ASSERT_EQ(send(pair.peer.get(), "hi", 2, 0), 2);
  dvz_test::TempDir dir;
  std::string path = dir.path() + "/plain";
  Fd file(open(path.c_str(), O_CREAT | O_RDWR, 0600));
  ASSERT_GE(file.get(), 0);
  int out[2];
  ASSERT_EQ(pipe(out), 0);

  std::string fds =
      std::to_string(pair.tli) + "," + std::to_string(file.get()) + "," + std::to_string(out[1]);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(sync_child_variable, fds.c_str(), 1);
    char *argv[] = {const_cast<char *>("tli_test"), nullptr};
    execv("/proc/self/exe", argv);
    _exit(127);
  }
  close(out[1]);
  std::string report;
  char buf[128];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
    report.append(buf, n);
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  /* state T_DATAXFER, event T_DATA, the data, then -1 TBADF for the file. */
  EXPECT_EQ(report, "5 4 2:hi -1 4");

  /* In this process: the layer's own endpoint, a file, a foreign socket. */
  EXPECT_EQ(t_sync(pair.tli), T_DATAXFER);
  EXPECT_EQ(t_sync(file.get()), -1);
  EXPECT_EQ(t_errno, TBADF);
  int unix_pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, unix_pair), 0);
  EXPECT_EQ(t_sync(unix_pair[0]), -1);
  EXPECT_EQ(t_errno, TBADF);
  close(unix_pair[0]);
  close(unix_pair[1]);
  /* A plain listening socket is adopted as a listener. */
  Fd plain = plain_listener();
  EXPECT_EQ(t_sync(plain.get()), T_IDLE);
  Fd caller = plain_connect(port_of(plain.get()));
  EXPECT_EQ(wait_event(plain.get(), 2000), T_LISTEN);
  EXPECT_EQ(t_close(plain.release()), 0);
}

TEST(TliUnitdata, NotSupportedOnTcp) {
  Endpoint ep;
  ASSERT_EQ(t_bind(ep.get(), nullptr, nullptr), 0);
  t_unitdata ud {};
  int flags;
  EXPECT_EQ(t_sndudata(ep.get(), &ud), -1);
  EXPECT_EQ(t_errno, TNOTSUPPORT);
  EXPECT_EQ(t_rcvudata(ep.get(), &ud, &flags), -1);
  EXPECT_EQ(t_errno, TNOTSUPPORT);
}

TEST(TliAlloc, RecordsHaveTheProviderSizes) {
  Endpoint ep;
  struct Case {
    int type, fields;
    unsigned int addr, opt, udata;
  } cases[] = {
      {T_BIND, T_ALL, 16, 0, 0},
      {T_CALL, T_ADDR | T_OPT, 16, 16, 0},
      {T_CALL, T_ALL, 16, 16, 0}, /* connect data not offered (-2) */
      {T_DIS, T_ALL, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    void *p = t_alloc(ep.get(), c.type, c.fields);
    ASSERT_NE(p, nullptr);
    if (c.type == T_BIND) {
      auto *b = static_cast<struct t_bind *>(p);
      EXPECT_EQ(b->addr.maxlen, c.addr);
      EXPECT_EQ(b->addr.len, 0u);
      EXPECT_NE(b->addr.buf, nullptr);
    } else if (c.type == T_CALL) {
      auto *call = static_cast<t_call *>(p);
      EXPECT_EQ(call->addr.maxlen, c.addr);
      EXPECT_EQ(call->opt.maxlen, c.opt);
      EXPECT_EQ(call->udata.maxlen, c.udata);
      EXPECT_EQ(call->udata.buf, nullptr);
    } else {
      EXPECT_EQ(static_cast<t_discon *>(p)->udata.maxlen, c.udata);
    }
    EXPECT_EQ(t_free(p, c.type), 0);
  }
  EXPECT_EQ(t_alloc(ep.get(), 2, T_ALL), nullptr);
  EXPECT_EQ(t_errno, TNOTSUPPORT);
  EXPECT_EQ(t_alloc(-1, T_BIND, T_ALL), nullptr);
  EXPECT_EQ(t_errno, TBADF);
}

std::atomic<int> sigpoll_count {0};
std::atomic<int> sigurg_count {0};

TEST(TliSetsig, InputSignalsComeUntilStopped) {
  struct sigaction on_poll {
  }, on_urg {}, old_poll {}, old_urg {};
  on_poll.sa_handler = [](int) { ++sigpoll_count; };
  on_urg.sa_handler = [](int) { ++sigurg_count; };
  sigaction(SIGPOLL, &on_poll, &old_poll);
  sigaction(SIGURG, &on_urg, &old_urg);
  Pair pair;
  auto wait_count = [](std::atomic<int> &count, int at_least) {
    for (int i = 0; i < 200 && count < at_least; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return count.load();
  };
  ASSERT_EQ(tli_setsig(pair.tli, S_INPUT), 0);
  EXPECT_EQ(fcntl(pair.tli, F_GETOWN), getpid());
  ASSERT_EQ(send(pair.peer.get(), "d", 1, 0), 1);
  EXPECT_GE(wait_count(sigpoll_count, 1), 1);
  ASSERT_EQ(send(pair.peer.get(), "u", 1, MSG_OOB), 1);
  EXPECT_GE(wait_count(sigurg_count, 1), 1);

  ASSERT_EQ(tli_setsig(pair.tli, 0), 0);
  EXPECT_EQ(fcntl(pair.tli, F_GETFL) & O_ASYNC, 0);
  int polls = sigpoll_count, urgs = sigurg_count;
  ASSERT_EQ(send(pair.peer.get(), "v", 1, MSG_OOB), 1);
  ASSERT_TRUE(wait_ready(pair.tli, POLLIN, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(sigpoll_count, polls);
  EXPECT_EQ(sigurg_count, urgs);
  EXPECT_EQ(tli_setsig(pair.tli, 2), -1);
  EXPECT_EQ(errno, EINVAL);
  sigaction(SIGPOLL, &old_poll, nullptr);
  sigaction(SIGURG, &old_urg, nullptr);
}

TEST(TliDescriptors, OpenCloseCyclesLeaveNothingOpen) {
  Fd listener = plain_listener(64);
  const uint16_t port = port_of(listener.get());
  Fd silent(socket(AF_INET, SOCK_STREAM, 0)); /* bound, not listening: refuses */
  sockaddr_in in = loopback(0);
  ASSERT_EQ(bind(silent.get(), reinterpret_cast<sockaddr *>(&in), sizeof in), 0);
  const int before = count_open_fds();
  for (int i = 0; i < 25; ++i) {
    /* Connect, abort, unbind, close. */
    int fd = tli_connect(port);
    Fd peer(accept(listener.get(), nullptr, nullptr));
    ASSERT_EQ(t_snddis(fd, nullptr), 0);
    ASSERT_EQ(t_unbind(fd), 0);
    ASSERT_EQ(t_close(fd), 0);
    /* A listener closed while it holds a connection. */
    int tli_listener = t_open("/dev/tcp", O_RDWR, nullptr);
    struct t_bind req {};
    req.qlen = 5;
    ASSERT_EQ(t_bind(tli_listener, &req, nullptr), 0);
    sockaddr_in bound {};
    socklen_t len = sizeof bound;
    getsockname(tli_listener, reinterpret_cast<sockaddr *>(&bound), &len);
    Fd caller = plain_connect(ntohs(bound.sin_port));
    t_call call {};
    ASSERT_EQ(t_listen(tli_listener, &call), 0);
    ASSERT_EQ(t_close(tli_listener), 0);
    /* A refused connect. */
    int refused = t_open("/dev/tcp", O_RDWR, nullptr);
    ASSERT_EQ(t_bind(refused, nullptr, nullptr), 0);
    sockaddr_in nowhere = loopback(port_of(silent.get()));
    call.addr = {sizeof nowhere, sizeof nowhere, reinterpret_cast<char *>(&nowhere)};
    EXPECT_EQ(t_connect(refused, &call, nullptr), -1);
    ASSERT_EQ(t_close(refused), 0);
  }
  EXPECT_EQ(count_open_fds(), before);
}

}  // namespace
