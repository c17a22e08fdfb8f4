/*
** The TLI driver on real loopback TCP against a scriptable peer thread
** (echo, send then close, reset, urgent byte, a first reply with the frame
** mark, a peer that stops reading, a full accept queue), then on a
** scripted provider behind the driver's TLI table for what sockets cannot
** stage at will (partial sends, flow control, chosen events, failing
** resynchronisation), then through the transport layer's operations.
** Descriptors are counted through /proc/self/fd; listeners bind port 0.
*/
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "tl_records.h"
#include "tli.h"
#include "tli_driver.h"

namespace {

using asf_test::CountingMemory;
using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

using asf_test::fresh_ctl;

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

/* Reads fd until EOF or error; what came. */
std::string read_to_eof(int fd) {
  std::string got;
  char chunk[4096];
  for (;;) {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return got;
    got.append(chunk, static_cast<size_t>(n));
  }
}

/* A loopback peer: a listener on 127.0.0.1, port 0, and a thread that
** accepts up to `connections` connections one after the other and runs
** the script on each (closing it afterwards). The thread blocks the
** signals the driver's handler uses, so they reach the test's thread. */
class Peer {
 public:
  explicit Peer(std::function<void(int)> script, int connections = 1) : script_(std::move(script)) {
    lsn_ = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lsn_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    listen(lsn_, 8);
    socklen_t len = sizeof sa;
    getsockname(lsn_, reinterpret_cast<sockaddr *>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this, connections] {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGPOLL);
      sigaddset(&set, SIGURG);
      pthread_sigmask(SIG_BLOCK, &set, nullptr);
      for (int i = 0; i < connections && !stop_; ++i) {
        struct pollfd p = {lsn_, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return;
        int c = accept(lsn_, nullptr, nullptr);
        if (c < 0) return;
        script_(c);
        close(c);
      }
    });
  }
  ~Peer() {
    stop_ = true;
    join();
    close(lsn_);
  }
  Peer(const Peer &) = delete;
  Peer &operator=(const Peer &) = delete;

  std::string address() const { return "127.0.0.1|" + std::to_string(port_) + "|tlitcp"; }
  /* Waits for the script to end. */
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::function<void(int)> script_;
  int lsn_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ {false};
  std::thread thread_;
};

void reset_now(int c) {
  struct linger l {
    1, 0
  };
  setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

/* A port nothing listens on (taken from the system, then let go). */
int free_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in sa {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
  close(s);
  return ntohs(sa.sin_port);
}

std::string refused_address() { return "127.0.0.1|" + std::to_string(free_port()) + "|tlitcp"; }

/* The platform's TLI calls with the release takers logged, installed for
** the life of the object: shows that a disconnect took the peer's close. */
std::string release_log;
int logged_rcvrel(int fd) {
  release_log += "rcvrel ";
  return t_rcvrel(fd);
}
int logged_rcvdis(int fd, struct t_discon *d) {
  release_log += "rcvdis ";
  return t_rcvdis(fd, d);
}
class ReleaseLog {
 public:
  ReleaseLog() : table_(tli_platform_calls) {
    release_log.clear();
    table_.t_rcvrel = logged_rcvrel;
    table_.t_rcvdis = logged_rcvdis;
    tli_driver_calls = &table_;
  }
  ~ReleaseLog() { tli_driver_calls = &tli_platform_calls; }
  ReleaseLog(const ReleaseLog &) = delete;
  ReleaseLog &operator=(const ReleaseLog &) = delete;
  const std::string &calls() const { return release_log; }

 private:
  tli_calls table_;
};

/* ---- The driver's entries on a real connection. ---- */

class TliDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = fresh_ctl();
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, status_);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
    drv_ = drvblock {};
    drv_.type = tl_drv_tlitcp;
    drv_.protname = "tlitcp";
    drv_.device = "/dev/tcp";
  }
  void TearDown() override {
    if (drv_.priv != nullptr) disctli(&drv_, 0x8000, &ctl_);
    alCSfree(assoc_);
  }

  int connect(const std::string &address, int timeout = -1) {
    text_ = address;
    addr_ = tlreqaddr {1, text_.data()};
    options_ = SqlhOptions {};
    tlconnreq parms {};
    parms.addr = &addr_;
    parms.options = &options_;
    ctl_.timeout = timeout;
    ctl_.asfcode = 0;
    ctl_.oserr = 0;
    return conntli(&drv_, &parms, &ctl_);
  }
  /* Sends data through the association's send buffer. */
  int send_data(std::string_view data, int timeout = -1) {
    rscbufctl *b = nullptr;
    if (bufGet(assoc_, 9, &b) != 0) return -2;
    std::memcpy(b->p, data.data(), data.size());
    b->size = static_cast<int32_t>(data.size());
    ctl_.timeout = timeout;
    return sendtli(&drv_, b, &ctl_);
  }
  /* One receive into the association's buffer, appended to out. */
  int receive(std::string *out, int timeout = -1) {
    rscbufctl *b = nullptr;
    ctl_.timeout = timeout;
    int rc = recvtli(&drv_, &b, &ctl_);
    if (rc == 0) {
      out->append(b->p, static_cast<size_t>(b->size));
      EXPECT_EQ(bufReg(assoc_, 10, b), 0);
    }
    return rc;
  }
  int receive_until(std::string *out, size_t n) {
    while (out->size() < n) {
      int rc = receive(out);
      if (rc != 0) return rc;
    }
    return 0;
  }

  char status_[4] = {};
  asfsvcctl ctl_ {};
  Assocctl *assoc_ = nullptr;
  drvblock drv_ {};
  std::string text_;
  tlreqaddr addr_ {};
  SqlhOptions options_ {};
};

TEST_F(TliDriver, EchoesLeavesBlockingAndReleasesInOrder) {
  const int start = asf_test::fd_count();
  std::string seen_by_peer;
  {
    Peer peer([&](int c) {
      char chunk[8192];
      for (;;) {
        ssize_t n = recv(c, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        seen_by_peer.append(chunk, static_cast<size_t>(n));
        send(c, chunk, static_cast<size_t>(n), MSG_NOSIGNAL);
      }
    });
    ASSERT_EQ(connect(peer.address()), 0) << ctl_.asfcode;
    auto *t = static_cast<tlictl *>(drv_.priv);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(fcntl(t->fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(drv_.flags & DRV_NONBLOCKING, 0u);
    EXPECT_EQ(t->framemark, 0);
    EXPECT_EQ(t->info[6], T_COTS_ORD);
    EXPECT_EQ(drv_.bufsize, 4096);

    const std::string data = pattern(3000);
    ASSERT_EQ(send_data(data), 0);
    // The buffer is reset and back in its slot.
    ASSERT_NE(assoc_->sndbuf, nullptr);
    EXPECT_EQ(assoc_->sndbuf->p, assoc_->sndbuf->buff + assoc_->sndbuf->p_offset);
    std::string got;
    ASSERT_EQ(receive_until(&got, data.size()), 0) << ctl_.asfcode;
    EXPECT_EQ(got, data);

    ReleaseLog log;
    auto t0 = Clock::now();
    EXPECT_EQ(disctli(&drv_, 0, &ctl_), 0);
    EXPECT_LT(ms_since(t0), 2000);
    EXPECT_EQ(log.calls(), "rcvrel ");
    EXPECT_EQ(drv_.priv, nullptr);
    peer.join();
    EXPECT_EQ(seen_by_peer, data);
  }
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST_F(TliDriver, RefusedConnectGives908FastWithNothingOpen) {
  const int start = asf_test::fd_count();
  CountingMemory memory;
  auto t0 = Clock::now();
  EXPECT_EQ(connect(refused_address()), -1);
  EXPECT_LT(ms_since(t0), 1000);
  EXPECT_EQ(ctl_.asfcode, -908);
  EXPECT_EQ(drv_.priv, nullptr);
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(TliDriver, HalfMessageThenCloseGivesTheHalfThenPeerGone) {
  Peer peer([](int c) { send(c, "half", 4, 0); });
  ASSERT_EQ(connect(peer.address()), 0);
  std::string got;
  ASSERT_EQ(receive_until(&got, 4), 0);
  EXPECT_EQ(got, "half");
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, -25582);
  // The association's buffer went back to its slot.
  EXPECT_NE(assoc_->rcvbuf, nullptr);
}

TEST_F(TliDriver, ResetGivesPeerGoneOnReceiveAndSend) {
  // The reset comes once the connection is made: one during the connect
  // would be a refused connect, another test's case.
  std::promise<void> connected;
  auto made = connected.get_future();
  Peer peer([&](int c) {
    made.wait_for(std::chrono::seconds(5));
    reset_now(c);
  });
  ASSERT_EQ(connect(peer.address()), 0);
  connected.set_value();
  peer.join();
  std::string got;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, -25582);
  EXPECT_EQ(send_data("after"), -1);
  EXPECT_EQ(ctl_.asfcode, -25582);
  EXPECT_EQ(ctl_.oserr, 16);
  EXPECT_NE(assoc_->sndbuf, nullptr);
}

TEST_F(TliDriver, UrgentByteDuringAReceiveGoesToTheExpeditedByte) {
  std::promise<void> done;
  auto finished = done.get_future();
  Peer peer([&](int c) {
    send(c, "hello", 5, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    send(c, "!", 1, MSG_OOB);
    finished.wait_for(std::chrono::seconds(3));
  });
  ASSERT_EQ(connect(peer.address()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  std::string got;
  ASSERT_EQ(receive(&got), 0);
  EXPECT_EQ(got, "hello");
  EXPECT_EQ(status_[1], '!');
  rscbufctl *x = nullptr;
  ASSERT_EQ(roobtli(&drv_, &x, &ctl_), 0);
  EXPECT_EQ(x->size, 1);
  EXPECT_EQ(x->p[0], '!');
  EXPECT_EQ(bufReg(assoc_, 6, x), 0);
  // The slot is empty while the caller holds the buffer.
  ASSERT_EQ(roobtli(&drv_, &x, &ctl_), 0);
  EXPECT_EQ(roobtli(&drv_, &x, &ctl_), -1);
  EXPECT_EQ(ctl_.asfcode, -25579);
  EXPECT_EQ(bufReg(assoc_, 6, x), 0);
  done.set_value();
}

/* The limit of a receive holds across an urgent byte: the peer sends one
** and then nothing, and keeps the connection open well past the limit. */
TEST_F(TliDriver, UrgentByteAloneEndsTheReceiveAtItsLimit) {
  std::promise<void> done;
  auto finished = done.get_future();
  Peer peer([&](int c) {
    send(c, "!", 1, MSG_OOB);
    finished.wait_for(std::chrono::seconds(6));
  });
  ASSERT_EQ(connect(peer.address()), 0);
  std::string got;
  const auto t0 = Clock::now();
  EXPECT_EQ(receive(&got, 1000), -1);
  const int64_t took = ms_since(t0);
  done.set_value();
  EXPECT_EQ(ctl_.asfcode, TLI_STATUS_AGAIN);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 1500);
  EXPECT_EQ(got, "");
  EXPECT_EQ(status_[1], '!');
  // The buffer went back to its slot.
  EXPECT_NE(assoc_->rcvbuf, nullptr);
}

/* A peer that keeps sending and never releases holds the disconnect only
** for the release wait in all, not for that wait after each chunk. */
TEST_F(TliDriver, PeerThatKeepsSendingEndsTheReleaseWaitInTime) {
  const int saved_wait = tli_release_wait_ms;
  tli_release_wait_ms = 1000;
  std::atomic<bool> stop {false};
  Peer peer([&](int c) {
    const std::string chunk(100, 'x');
    const auto t0 = Clock::now();
    while (!stop && ms_since(t0) < 6000) {
      if (send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  ASSERT_EQ(connect(peer.address()), 0);
  const auto t0 = Clock::now();
  EXPECT_EQ(disctli(&drv_, 0, &ctl_), 0);
  const int64_t took = ms_since(t0);
  stop = true;
  tli_release_wait_ms = saved_wait;
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 2500);
  EXPECT_EQ(drv_.priv, nullptr);
}

TEST_F(TliDriver, FirstReplyWithTheMarkSetsTheFrameMark) {
  std::string seen_by_peer;
  Peer peer([&](int c) {
    send(c, "Nabc", 4, 0);
    seen_by_peer = read_to_eof(c);
  });
  ASSERT_EQ(connect(peer.address()), 0);
  rscbufctl *b = nullptr;
  ASSERT_EQ(recvtli(&drv_, &b, &ctl_), 0);
  EXPECT_EQ(b->p, b->buff + 1);
  EXPECT_EQ(std::string(b->p, b->size), "abc");
  EXPECT_EQ(bufReg(assoc_, 10, b), 0);
  ASSERT_EQ(send_data("xy"), 0);
  EXPECT_EQ(disctli(&drv_, 0, &ctl_), 0);
  peer.join();
  EXPECT_EQ(seen_by_peer, "Nxy");
}

TEST_F(TliDriver, PeerThatStopsReadingGivesStatus6WithTheBufferAdvanced) {
  std::promise<void> release;
  auto released = release.get_future();
  Peer peer([&](int) { released.wait_for(std::chrono::seconds(10)); });
  ASSERT_EQ(connect(peer.address()), 0);
  const std::string chunk = pattern(4000);
  rscbufctl *b = nullptr;
  int rc = 0;
  for (int i = 0; i < 100000 && rc == 0; ++i) {
    ASSERT_EQ(bufGet(assoc_, 9, &b), 0);
    std::memcpy(b->p, chunk.data(), chunk.size());
    b->size = static_cast<int32_t>(chunk.size());
    ctl_.timeout = 0;
    rc = sendtli(&drv_, b, &ctl_);
  }
  ASSERT_EQ(rc, -1);
  EXPECT_EQ(ctl_.asfcode, 6);
  EXPECT_EQ(assoc_->sndbuf, nullptr);  // the caller keeps it
  EXPECT_GT(b->size, 0);
  EXPECT_EQ(b->p + b->size, b->buff + b->p_offset + chunk.size());
  EXPECT_NE(drv_.flags & DRV_NONBLOCKING, 0u);
  auto *t = static_cast<tlictl *>(drv_.priv);
  EXPECT_NE(fcntl(t->fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(bufReg(assoc_, 9, b), 0);

  // A blocking send switches the descriptor back.
  release.set_value();
  ctl_.timeout = -1;
  ASSERT_EQ(bufGet(assoc_, 9, &b), 0);
  b->size = 0;
  EXPECT_EQ(sendtli(&drv_, b, &ctl_), 0);
  EXPECT_EQ(fcntl(t->fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(drv_.flags & DRV_NONBLOCKING, 0u);
}

TEST_F(TliDriver, FullAcceptQueueEndsAtTheCallersDeadline) {
  const int start = asf_test::fd_count();
  sockaddr_in sa {};
  int lsn = asf_test::loopback_listener(0, &sa);
  ASSERT_GE(lsn, 0);
  // Fill the queue until a connection stays pending.
  std::vector<int> fillers;
  bool full = false;
  while (!full && fillers.size() < 16) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    fillers.push_back(s);
    ::connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    struct pollfd p = {s, POLLOUT, 0};
    full = poll(&p, 1, 200) == 0;
  }
  ASSERT_TRUE(full);
  const std::string address = "127.0.0.1|" + std::to_string(ntohs(sa.sin_port)) + "|tlitcp";
  auto t0 = Clock::now();
  EXPECT_EQ(connect(address, 1000), -1);
  const int64_t took = ms_since(t0);
  EXPECT_EQ(ctl_.asfcode, -908);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 2500);
  EXPECT_EQ(drv_.priv, nullptr);
  for (int s : fillers)
    close(s);
  close(lsn);
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST_F(TliDriver, BufferSetUpFailureLeavesNoEndpoint) {
  struct Case {
    int fail_at; /* allocation that fails: 1 the endpoint record, then the buffers */
    int asfcode;
  };
  constexpr Case cases[] = {{1, -406}, {2, 8}, {6, 8}, {8, 8}};
  Peer peer([](int) {}, 4);
  const int start = asf_test::fd_count();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fail_at);
    CountingMemory memory(c.fail_at);
    EXPECT_EQ(connect(peer.address()), -1);
    EXPECT_EQ(ctl_.asfcode, c.asfcode);
    EXPECT_EQ(drv_.priv, nullptr);
    EXPECT_EQ(memory.outstanding(), 0);
    EXPECT_EQ(asf_test::settled_fd_count(start), start);
    EXPECT_EQ(assoc_->sndbuf, nullptr);
  }
}

/* ---- The driver on a scripted provider. ---- */

struct RcvStep {
  std::string data;
  int flags;
  int error; /* t_errno; 0 for data */
  int sys; /* errno with TSYSERR */
};

struct Script {
  std::deque<int> snd; /* counts taken, or -t_errno */
  std::vector<std::string> sent;
  std::vector<const char *> sent_at;
  std::deque<RcvStep> rcv;
  std::deque<int> looks;
  int sync_state = -1; /* -1: fails with TSYSERR, EINTR */
  std::string calls; /* names of the calls, in order */
  int opens = 0;
  int open_fd = -1; /* what t_open gives; -1 fails with ENOENT */
};
Script script;

int fake_open(const char *, int, struct t_info *info) {
  ++script.opens;
  if (script.open_fd >= 0) {
    if (info != nullptr) *info = t_info {16, 16, 0, 1, -2, -2, T_COTS_ORD};
    return script.open_fd;
  }
  t_errno = TSYSERR;
  errno = ENOENT;
  return -1;
}
int fake_snd(int, const char *buf, unsigned int n, int) {
  script.sent.emplace_back(buf, n);
  script.sent_at.push_back(buf);
  int r = script.snd.empty() ? static_cast<int>(n) : script.snd.front();
  if (!script.snd.empty()) script.snd.pop_front();
  if (r < 0) {
    t_errno = -r;
    return -1;
  }
  return r < static_cast<int>(n) ? r : static_cast<int>(n);
}
int fake_rcv(int, char *buf, unsigned int n, int *flags) {
  if (script.rcv.empty()) {
    t_errno = TNODATA;
    return -1;
  }
  RcvStep s = script.rcv.front();
  script.rcv.pop_front();
  if (s.error != 0) {
    t_errno = s.error;
    errno = s.sys;
    return -1;
  }
  size_t k = s.data.size() < n ? s.data.size() : n;
  std::memcpy(buf, s.data.data(), k);
  *flags = s.flags;
  return static_cast<int>(k);
}
int fake_look(int) {
  script.calls += "look ";
  if (script.looks.empty()) return 0;
  int e = script.looks.front();
  script.looks.pop_front();
  return e;
}
int fake_sync(int) {
  script.calls += "sync ";
  if (script.sync_state >= 0) return script.sync_state;
  t_errno = TSYSERR;
  errno = EINTR;
  return -1;
}
int logged(const char *name) {
  script.calls += name;
  script.calls += ' ';
  return 0;
}
int fake_sndrel(int) { return logged("sndrel"); }
int fake_rcvrel(int) { return logged("rcvrel"); }
int fake_snddis(int, const struct t_call *) { return logged("snddis"); }
int fake_rcvdis(int, struct t_discon *) { return logged("rcvdis"); }
int fake_unbind(int) { return logged("unbind"); }
int fake_close(int) { return logged("close"); }
int fake_setsig(int, int) { return 0; }

constexpr tli_calls fake_calls = {fake_open,    t_bind,      t_alloc,     t_free,     t_connect,
                                  t_rcvconnect, fake_look,   fake_snd,    fake_rcv,   fake_sndrel,
                                  fake_rcvrel,  fake_snddis, fake_rcvdis, fake_sync,  t_getstate,
                                  fake_unbind,  fake_close,  t_optmgmt,   fake_setsig};

/* A driver block in data transfer over the scripted provider; the
** endpoint descriptor is one end of a socket pair, so that the blocking
** switch has something real to switch. */
class ScriptedTli : public ::testing::Test {
 protected:
  void SetUp() override {
    script = Script {};
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair_), 0);
    ctl_ = fresh_ctl();
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, status_);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
    drv_.type = tl_drv_tlitcp;
    drv_.protname = "tlitcp";
    drv_.device = "/dev/tcp";
    drv_.flags = DRV_CONNECTING;
    drv_.bufsize = 64;
    ASSERT_EQ(load_operation_vector(&drv_), 0);
    ASSERT_EQ(net_buffer_setup(&drv_, assoc_, &ctl_), 0);
    auto *t = static_cast<tlictl *>(meAlloc(0, sizeof(tlictl)));
    t->fd = pair_[0];
    t->info[6] = T_COTS_ORD;
    drv_.priv = t;
    drv_.rcvcheck = DRV_RCVCHECK;
    tli_driver_calls = &fake_calls;
  }
  void TearDown() override {
    tli_driver_calls = &tli_platform_calls;
    net_deallocate(&drv_, &ctl_);
    alCSfree(assoc_);
    close(pair_[0]);
    close(pair_[1]);
  }
  tlictl *endpoint() { return static_cast<tlictl *>(drv_.priv); }
  rscbufctl *send_buffer(std::string_view data) {
    rscbufctl *b = nullptr;
    EXPECT_EQ(bufGet(assoc_, 9, &b), 0);
    std::memcpy(b->p, data.data(), data.size());
    b->size = static_cast<int32_t>(data.size());
    return b;
  }

  int pair_[2] = {-1, -1};
  char status_[4] = {};
  asfsvcctl ctl_ {};
  Assocctl *assoc_ = nullptr;
  drvblock drv_ {};
};

TEST_F(ScriptedTli, PartialSendGoesOnFromWhereTheProviderStopped) {
  script.snd = {4, 6};
  rscbufctl *b = send_buffer("0123456789");
  char *p = b->p;
  ASSERT_EQ(sendtli(&drv_, b, &ctl_), 0);
  ASSERT_EQ(script.sent.size(), 2u);
  EXPECT_EQ(script.sent_at[0], p);
  EXPECT_EQ(script.sent_at[1], p + 4);
  EXPECT_EQ(script.sent[1], "456789");
  EXPECT_EQ(assoc_->sndbuf, b);
  EXPECT_EQ(b->p, b->buff + b->p_offset);
  EXPECT_EQ(b->size, b->lbuff - b->p_offset);
}

TEST_F(ScriptedTli, FlowControlWithTimeoutZeroKeepsTheBufferAdvanced) {
  script.snd = {4, -TFLOW};
  rscbufctl *b = send_buffer("0123456789");
  char *p = b->p;
  ctl_.timeout = 0;
  EXPECT_EQ(sendtli(&drv_, b, &ctl_), -1);
  EXPECT_EQ(ctl_.asfcode, 6);
  EXPECT_EQ(b->p, p + 4);
  EXPECT_EQ(b->size, 6);
  EXPECT_EQ(assoc_->sndbuf, nullptr);
  EXPECT_NE(fcntl(pair_[0], F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(bufReg(assoc_, 9, b), 0);
}

TEST_F(ScriptedTli, SendEventsAfterTlook) {
  struct Case {
    int event;
    int rc, asfcode, oserr;
  };
  constexpr Case cases[] = {
      {T_DATA, 0, 0, 0},
      {T_DISCONNECT, -1, -25582, 16},
      {T_ORDREL, -1, -25582, 16},
      {T_LISTEN, -1, -25583, 9},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.event);
    script.snd = {-TLOOK};
    script.looks = {c.event};
    ctl_.asfcode = 0;
    ctl_.oserr = 0;
    rscbufctl *b = send_buffer("abc");
    EXPECT_EQ(sendtli(&drv_, b, &ctl_), c.rc);
    EXPECT_EQ(ctl_.asfcode, c.asfcode);
    EXPECT_EQ(ctl_.oserr, c.oserr);
    EXPECT_EQ(assoc_->sndbuf, b);  // back in its slot either way
  }
}

TEST_F(ScriptedTli, ReceiveOutcomesByErrorAndEvent) {
  struct Case {
    RcvStep first;
    int event; /* for TLOOK */
    int rc, asfcode, oserr;
    const char *data;
  };
  const Case cases[] = {
      {{"", 0, TLOOK, 0}, T_DATA, 0, 0, 0, "again"},
      {{"", 0, TLOOK, 0}, T_EXDATA, 0, 0, 0, "again"},
      {{"", 0, TLOOK, 0}, T_LISTEN, -1, -25583, TLOOK, nullptr},
      {{"", 0, TLOOK, 0}, T_DISCONNECT, -1, -25582, TLOOK, nullptr},
      {{"", 0, TLOOK, 0}, T_ORDREL, -1, -25582, TLOOK, nullptr},
      {{"", 0, TLOOK, 0}, T_ERROR, -1, -25582, TLOOK, nullptr},
      {{"", 0, TNODATA, 0}, 0, -1, 6, 0, nullptr},
      {{"", 0, TOUTSTATE, 0}, 0, -1, -25579, TOUTSTATE, nullptr},
      {{"", 0, TSYSERR, EIO}, 0, -1, -25580, EIO, nullptr},
      {{"", 0, TBADDATA, 0}, 0, -1, -25583, TBADDATA, nullptr},
      // An interrupted receive is made again.
      {{"", 0, TSYSERR, EINTR}, 0, 0, 0, 0, "again"},
      // Expedited data goes to the expedited byte; the receive goes on.
      {{"!", T_EXPEDITED, 0, 0}, 0, 0, 0, 0, "again"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.first.error) + "/" + std::to_string(c.event));
    script.rcv = {c.first, RcvStep {"again", 0, 0, 0}};
    script.looks = {c.event};
    ctl_.asfcode = 0;
    ctl_.oserr = 0;
    drv_.rcvcheck = 0;
    rscbufctl *b = nullptr;
    EXPECT_EQ(recvtli(&drv_, &b, &ctl_), c.rc);
    EXPECT_EQ(ctl_.asfcode, c.asfcode);
    EXPECT_EQ(ctl_.oserr, c.oserr);
    if (c.rc == 0) {
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(std::string(b->p, b->size), c.data);
      EXPECT_EQ(bufReg(assoc_, 10, b), 0);
    } else {
      EXPECT_EQ(b, nullptr);
      EXPECT_NE(assoc_->rcvbuf, nullptr);
    }
    if (c.first.flags == T_EXPEDITED) {
      EXPECT_EQ(status_[1], '!');
    }
  }
}

TEST_F(ScriptedTli, FrameMarkComesFromTheFirstMessageAndLeadsEachMessage) {
  // The first message settles the mark; pieces of one message (T_MORE)
  // carry it only in front.
  script.rcv = {{"Nab", T_MORE, 0, 0}, {"Ncd", 0, 0, 0}, {"Nef", 0, 0, 0}};
  const char *want[] = {"ab", "Ncd", "ef"};
  for (const char *w : want) {
    rscbufctl *b = nullptr;
    ASSERT_EQ(recvtli(&drv_, &b, &ctl_), 0);
    EXPECT_EQ(std::string(b->p, b->size), w);
    EXPECT_EQ(bufReg(assoc_, 10, b), 0);
  }
  EXPECT_EQ(endpoint()->framemark, 1);
  // Every send then carries the mark: in front of the data when there is
  // room, else as a byte of its own, never written before the buffer.
  rscbufctl *s = nullptr;
  ASSERT_EQ(bufGet(assoc_, 9, &s), 0);
  s->p = s->buff + 2;
  std::memcpy(s->p, "xy", 2);
  s->size = 2;
  ASSERT_EQ(sendtli(&drv_, s, &ctl_), 0);
  ASSERT_EQ(bufGet(assoc_, 9, &s), 0);
  s->p = s->buff;
  std::memcpy(s->p, "zw", 2);
  s->size = 2;
  ASSERT_EQ(sendtli(&drv_, s, &ctl_), 0);
  ASSERT_EQ(script.sent.size(), 3u);
  EXPECT_EQ(script.sent[0], "Nxy");
  EXPECT_EQ(script.sent[1], "N");
  EXPECT_EQ(script.sent[2], "zw");

  // A first message without the mark clears it.
  drv_.rcvcheck = DRV_RCVCHECK;
  script.rcv = {{"plain", 0, 0, 0}};
  rscbufctl *b = nullptr;
  ASSERT_EQ(recvtli(&drv_, &b, &ctl_), 0);
  EXPECT_EQ(std::string(b->p, b->size), "plain");
  EXPECT_EQ(endpoint()->framemark, 0);
  EXPECT_EQ(bufReg(assoc_, 10, b), 0);
}

TEST_F(ScriptedTli, ExpeditedSendOnlyFromAConnectingBlock) {
  rscbufctl *x = nullptr;
  ASSERT_EQ(bufGet(assoc_, 5, &x), 0);
  x->p[0] = 'B';
  x->size = 1;
  ASSERT_EQ(soobtli(&drv_, x, &ctl_), 0);
  ASSERT_EQ(script.sent.size(), 1u);
  EXPECT_EQ(script.sent[0], "B");
  EXPECT_EQ(assoc_->xsndbuf, x);

  // An accepted block sends nothing; the buffer still goes back.
  drv_.flags &= ~DRV_CONNECTING;
  ASSERT_EQ(bufGet(assoc_, 5, &x), 0);
  EXPECT_EQ(soobtli(&drv_, x, &ctl_), 0);
  EXPECT_EQ(script.sent.size(), 1u);
  EXPECT_EQ(assoc_->xsndbuf, x);
}

TEST_F(ScriptedTli, DisconnectStepsByFlagsStateAndServiceType) {
  struct Case {
    int flags;
    int sync_state;
    int servtype;
    std::deque<int> looks;
    const char *calls;
  };
  const std::string thirty_syncs = [] {
    std::string s;
    for (int i = 0; i < 30; ++i)
      s += "sync ";
    return s;
  }();
  const std::string failing_sync = thirty_syncs + "look rcvdis unbind close ";
  const Case cases[] = {
      {0, -1, T_COTS_ORD, {T_DISCONNECT}, failing_sync.c_str()},
      {0,
       T_DATAXFER,
       T_COTS_ORD,
       {T_ORDREL, T_ORDREL},
       "sync sndrel look look rcvrel unbind close "},
      {0, T_DATAXFER, T_CLTS, {}, "sync snddis unbind close "},
      {0, T_IDLE, T_COTS_ORD, {T_ORDREL}, "sync look rcvrel sndrel unbind close "},
      {256, T_DATAXFER, T_COTS_ORD, {}, ""},
      {512, T_DATAXFER, T_COTS_ORD, {}, "close "},
      {0x8000 | 1, T_DATAXFER, T_COTS_ORD, {}, "close "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.calls);
    if (drv_.priv == nullptr) {
      ASSERT_EQ(net_buffer_setup(&drv_, assoc_, &ctl_), 0);
      auto *t = static_cast<tlictl *>(meAlloc(0, sizeof(tlictl)));
      t->fd = pair_[0];
      drv_.priv = t;
    }
    endpoint()->info[6] = c.servtype;
    script.calls.clear();
    script.sync_state = c.sync_state;
    script.looks = c.looks;
    EXPECT_EQ(disctli(&drv_, c.flags, &ctl_), 0);
    EXPECT_EQ(script.calls, c.calls);
    EXPECT_EQ(drv_.priv, nullptr);
    EXPECT_EQ(assoc_->sndbuf, nullptr);
    EXPECT_NE(fcntl(pair_[0], F_GETFD), -1);
  }
}

/* A provider whose connect stays pending until the scripted events. */
void *fake_alloc(int, int type, int) {
  if (type == T_BIND) {
    auto *b = static_cast<struct t_bind *>(std::calloc(1, sizeof(struct t_bind)));
    b->addr = netbuf {16, 0, static_cast<char *>(std::calloc(1, 16))};
    return b;
  }
  auto *c = static_cast<struct t_call *>(std::calloc(1, sizeof(struct t_call)));
  c->addr = netbuf {16, 0, static_cast<char *>(std::calloc(1, 16))};
  return c;
}
int fake_free(void *p, int type) {
  if (p == nullptr) return 0;
  std::free(type == T_BIND ? static_cast<struct t_bind *>(p)->addr.buf
                           : static_cast<struct t_call *>(p)->addr.buf);
  std::free(p);
  return 0;
}
int fake_bind(int, const struct t_bind *, struct t_bind *ret) {
  ret->addr.len = 16;
  return 0;
}
int fake_connect(int, const struct t_call *, struct t_call *) {
  t_errno = TNODATA;
  return -1;
}
int fake_rcvconnect(int, struct t_call *) { return logged("rcvconnect"); }
int fake_optmgmt(int, const struct t_optmgmt *, struct t_optmgmt *) {
  t_errno = TNOTSUPPORT;
  return -1;
}

constexpr tli_calls pending_calls = {
    fake_open,  fake_bind,   fake_alloc,  fake_free,    fake_connect, fake_rcvconnect, fake_look,
    fake_snd,   fake_rcv,    fake_sndrel, fake_rcvrel,  fake_snddis,  fake_rcvdis,     fake_sync,
    t_getstate, fake_unbind, fake_close,  fake_optmgmt, fake_setsig};

TEST(ScriptedConnect, DataBeforeTheConfirmationGivesOneMoreWait) {
  struct Case {
    std::deque<int> looks;
    int rc, asfcode;
  };
  const Case cases[] = {
      {{T_DATA, T_CONNECT}, 0, 0},
      {{T_EXDATA, T_CONNECT}, 0, 0},
      {{T_DATA, T_EXDATA}, -1, -908},
      {{T_DISCONNECT}, -1, -908},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.looks.front());
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(write(pair[1], "x", 1), 1);  // the wait for input ends at once
    script = Script {};
    script.open_fd = pair[0];
    script.looks = c.looks;
    tli_driver_calls = &pending_calls;
    asfsvcctl ctl = fresh_ctl();
    char status[4] = {};
    Assocctl *assoc = alCSalloc(&ctl, asf_kind_requester, status);
    ASSERT_NE(assoc, nullptr);
    ctl.ascid = assoc;
    drvblock drv {};
    drv.type = tl_drv_tlitcp;
    drv.protname = "tlitcp";
    drv.device = "/dev/tcp";
    std::string text = "127.0.0.1|1526|tlitcp";
    tlreqaddr addr {1, text.data()};
    tlconnreq parms {};
    parms.addr = &addr;
    EXPECT_EQ(conntli(&drv, &parms, &ctl), c.rc);
    EXPECT_EQ(ctl.asfcode, c.asfcode);
    if (c.rc == 0) {
      EXPECT_EQ(script.calls.find("rcvconnect"), script.calls.size() - 11);
      EXPECT_EQ(disctli(&drv, 0x8000, &ctl), 0);
    } else {
      EXPECT_EQ(script.calls.find("rcvconnect"), std::string::npos);
      EXPECT_NE(script.calls.find("close"), std::string::npos);
    }
    EXPECT_EQ(drv.priv, nullptr);
    tli_driver_calls = &tli_platform_calls;
    alCSfree(assoc);
    close(pair[0]);
    close(pair[1]);
  }
}

TEST_F(ScriptedTli, NoVectorFailsWith25503WithoutOpening) {
  drvblock drv {};
  drv.type = 42;
  drv.device = "/dev/tcp";
  std::string text = "127.0.0.1|1|tlitcp";
  tlreqaddr addr {1, text.data()};
  tlconnreq parms {};
  parms.addr = &addr;
  ctl_.asfcode = 0;
  EXPECT_EQ(conntli(&drv, &parms, &ctl_), -1);
  EXPECT_EQ(ctl_.asfcode, 25503);
  EXPECT_EQ(script.opens, 0);
  EXPECT_EQ(drv.priv, nullptr);
}

/* ---- Through the transport layer. ---- */

class TliThroughLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = fresh_ctl();
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, status_);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
  }
  void TearDown() override { alCSfree(assoc_); }
  int connect(const std::string &address) {
    text_ = address;
    addr_ = tlreqaddr {1, text_.data()};
    options_ = SqlhOptions {};
    tlconnreq parms {};
    parms.addr = &addr_;
    parms.options = &options_;
    ctl_.asfcode = 0;
    ctl_.timeout = -1;
    return tlConnect(&ctl_, &parms);
  }

  char status_[4] = {};
  asfsvcctl ctl_ {};
  Assocctl *assoc_ = nullptr;
  std::string text_;
  tlreqaddr addr_ {};
  SqlhOptions options_ {};
};

TEST_F(TliThroughLayer, EchoOf64KiBUrgentByteAndDisconnect) {
  const int start = asf_test::fd_count();
  const std::string data = pattern(64 * 1024);
  std::string echoed_by_peer;
  char urgent = 0;
  bool eof = false;
  {
    Peer peer([&](int c) {
      char chunk[8192];
      while (echoed_by_peer.size() < data.size()) {
        ssize_t n = recv(c, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        echoed_by_peer.append(chunk, static_cast<size_t>(n));
        send(c, chunk, static_cast<size_t>(n), MSG_NOSIGNAL);
      }
      struct pollfd p = {c, POLLPRI, 0};
      if (poll(&p, 1, 3000) == 1) recv(c, &urgent, 1, MSG_OOB);
      char rest[16];
      eof = recv(c, rest, sizeof rest, 0) == 0;
    });
    ASSERT_EQ(connect(peer.address()), 0) << ctl_.asfcode;

    std::string got;
    size_t sent = 0;
    while (sent < data.size()) {
      rscbufctl *b = nullptr;
      ASSERT_EQ(bufGet(assoc_, 9, &b), 0);
      size_t n = std::min<size_t>(static_cast<size_t>(b->size), data.size() - sent);
      std::memcpy(b->p, data.data() + sent, n);
      b->size = static_cast<int32_t>(n);
      ASSERT_EQ(tlSend(&ctl_, b), 0) << ctl_.asfcode;
      sent += n;
      while (got.size() < sent) {
        rscbufctl *r = nullptr;
        ASSERT_EQ(tlRecv(&ctl_, &r), 0) << ctl_.asfcode;
        got.append(r->p, static_cast<size_t>(r->size));
        ASSERT_EQ(bufReg(assoc_, 10, r), 0);
      }
    }
    EXPECT_EQ(got, data);

    rscbufctl *x = nullptr;
    ASSERT_EQ(bufGet(assoc_, 5, &x), 0);
    x->p[0] = 'B';
    x->size = 1;
    EXPECT_EQ(tlSndexpt(&ctl_, x), 0);
    ReleaseLog log;
    EXPECT_EQ(tlDiscon(&ctl_, 0), 0);
    EXPECT_EQ(log.calls(), "rcvrel ");
    peer.join();
  }
  EXPECT_EQ(urgent, 'B');
  EXPECT_TRUE(eof);
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST_F(TliThroughLayer, RefusedConnectsAndConnectCyclesLeaveNoDescriptor) {
  const int start = asf_test::fd_count();
  for (int i = 0; i < 50; ++i) {
    auto t0 = Clock::now();
    ASSERT_EQ(connect(refused_address()), -1);
    EXPECT_LT(ms_since(t0), 1000);
    EXPECT_EQ(ctl_.asfcode, -908);
    tlDiscon(&ctl_, 0);
  }
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
  {
    Peer peer([](int c) { read_to_eof(c); }, 50);
    for (int i = 0; i < 50; ++i) {
      ASSERT_EQ(connect(peer.address()), 0) << ctl_.asfcode;
      ASSERT_EQ(tlDiscon(&ctl_, 0), 0);
    }
  }
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

}  // namespace
