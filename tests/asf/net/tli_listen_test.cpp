/*
** The server side of the TLI driver on real loopback TCP: listens on
** ports the kernel chose a moment before (never a fixed one), callers
** that are plain sockets or the driver's own connect, accepts through the
** transport layer. The provider is scripted through the driver's TLI
** table only to make single calls fail. An accept waits without a time
** limit when nothing is queued: callers connect before it starts (the
** kernel completes a connect to a listening socket on its own), or from
** a thread, and a watchdog ends the run should an accept never return.
*/
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "tl_records.h"
#include "tli.h"
#include "tli_driver.h"

namespace {

using asf_test::CountingMemory;
using Clock = std::chrono::steady_clock;

/* Ends the process when a test outlives its limit: a fault that leaves an
** accept waiting must not hang the run. */
class Watchdog {
 public:
  explicit Watchdog(int seconds = 20)
      : thread_([this, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: test still running after %d s\n", seconds);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog &) = delete;
  Watchdog &operator=(const Watchdog &) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

using asf_test::fresh_ctl;

std::string address_of(int port) { return "127.0.0.1|" + std::to_string(port) + "|tlitcp"; }

/* A plain caller connected to 127.0.0.1:port within 3 s: its descriptor
** (-1 on failure), its own port in *local. */
int dial(int port, int *local = nullptr) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in sa {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    pollfd p {s, POLLOUT, 0};
    int error = errno;
    socklen_t elen = sizeof error;
    if (error != EINPROGRESS || poll(&p, 1, 3000) != 1 ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &elen) != 0 || error != 0) {
      close(s);
      return -1;
    }
  }
  socklen_t len = sizeof sa;
  getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
  if (local != nullptr) *local = ntohs(sa.sin_port);
  return s;
}

/* Closes s with a reset, as a caller's abortive disconnect. */
void reset_close(int s) {
  linger l {1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(s);
}

/* An association with its transport block released at the end (the
** endpoint closed without a release). */
struct Assoc : asf_test::TestAssoc {
  using TestAssoc::TestAssoc;
  tlictl *endpoint() const {
    return drv() != nullptr ? static_cast<tlictl *>(drv()->priv) : nullptr;
  }
  tlipendq *queue() const {
    return endpoint() != nullptr ? static_cast<tlipendq *>(endpoint()->pendq) : nullptr;
  }
};

/* The peer address record an accept writes, freed at the end. */
struct Peer {
  tlpeeraddr *rec = nullptr;
  ~Peer() { clear(); }
  void clear() {
    if (rec == nullptr) return;
    if (rec->pair != nullptr) {
      asf_free(asf_pool_assoc, rec->pair->text);
      asf_free(asf_pool_assoc, rec->pair);
    }
    asf_free(asf_pool_assoc, rec);
    rec = nullptr;
  }
  std::string text() const {
    return rec != nullptr && rec->pair != nullptr ? rec->pair->text : "(none)";
  }
};

using Request = asf_test::TransportRequest;

/* The platform's TLI calls with chosen ones failing, for the life of the
** object; counts the t_open calls. */
struct Failing {
  int open_fails = 0; /* the t_open calls (1-based) that fail, as a bit set */
  int alloc_fails = 0; /* the t_alloc calls that fail */
  int bind_fails = 0; /* the t_bind calls that fail */
  bool shift_port = false; /* t_bind reports a port one above the one bound */
  int opens = 0, allocs = 0, binds = 0;
};
Failing failing;

int failing_open(const char *path, int oflag, struct t_info *info) {
  if ((failing.open_fails >> failing.opens++ & 1) != 0) {
    t_errno = TSYSERR;
    errno = EMFILE;
    return -1;
  }
  return t_open(path, oflag, info);
}
void *failing_alloc(int fd, int type, int fields) {
  if ((failing.alloc_fails >> failing.allocs++ & 1) != 0) {
    errno = ENOMEM;
    return nullptr;
  }
  return t_alloc(fd, type, fields);
}
int failing_bind(int fd, const struct t_bind *req, struct t_bind *ret) {
  if ((failing.bind_fails >> failing.binds++ & 1) != 0) {
    t_errno = TOUTSTATE;
    return -1;
  }
  int rc = t_bind(fd, req, ret);
  if (rc == 0 && failing.shift_port && ret != nullptr && ret->addr.len >= sizeof(sockaddr_in)) {
    sockaddr_in in;
    std::memcpy(&in, ret->addr.buf, sizeof in);
    in.sin_port = htons(static_cast<uint16_t>(ntohs(in.sin_port) + 1));
    std::memcpy(ret->addr.buf, &in, sizeof in);
  }
  return rc;
}

class FailingCalls {
 public:
  explicit FailingCalls(const Failing &f) : table_(tli_platform_calls) {
    failing = f;
    table_.t_open = failing_open;
    table_.t_alloc = failing_alloc;
    table_.t_bind = failing_bind;
    tli_driver_calls = &table_;
  }
  ~FailingCalls() { tli_driver_calls = &tli_platform_calls; }
  FailingCalls(const FailingCalls &) = delete;
  FailingCalls &operator=(const FailingCalls &) = delete;

 private:
  tli_calls table_;
};

/* Caps the queue length the provider grants, for the life of the object. */
class QueueCap {
 public:
  explicit QueueCap(unsigned int max) { tli_set_max_qlen(max); }
  ~QueueCap() { tli_set_max_qlen(0); }
  QueueCap(const QueueCap &) = delete;
  QueueCap &operator=(const QueueCap &) = delete;
};

/* ---- Through the transport layer. ---- */

class TliListenAccept : public ::testing::Test {
 protected:
  void SetUp() override { start_ = asf_test::fd_count(); }
  void TearDown() override {
    for (int s : callers_)
      close(s);
    callers_.clear();
    listener_.reset();
    EXPECT_EQ(asf_test::settled_fd_count(start_), start_);
  }

  /* Listens on a free loopback port; the port, or 0 after a failure. A
  ** port another process took in between is tried again. */
  int listen(const std::string &options = "") {
    listener_ = std::make_unique<Assoc>(asf_kind_listener);
    for (int tries = 0; tries < 5; ++tries) {
      int port = asf_test::free_loopback_port();
      Request r(address_of(port));
      if (options == "keepalive") r.options.keepalive = 1;
      if (options == "bufsize") r.options.bufsize = 1000;
      listener_->ctl.asfcode = 0;
      int rc = tlListen(&listener_->ctl, &r.req, 0);
      if (rc == 0) return port;
      if (listener_->ctl.asfcode != TLI_ERR_BIND) return 0;
      tlDiscon(&listener_->ctl, 0x8000);
    }
    return 0;
  }
  /* Accepts the next connection into acc. */
  int accept(Assoc &acc, Peer &peer) {
    listener_->ctl.asfcode = 0;
    listener_->ctl.oserr = 0;
    return tlAccept(&listener_->ctl, acc.a, &peer.rec);
  }
  /* The next accept takes the caller from local port caller, leaving
  ** queued callers in the listener's queue. */
  ::testing::AssertionResult accepts_caller(int caller, int queued) {
    Assoc acc(asf_kind_accepted);
    Peer peer;
    if (accept(acc, peer) != 0)
      return ::testing::AssertionFailure() << "accept: " << listener_->ctl.asfcode;
    const std::string want = "localhost|" + std::to_string(caller) + "|tlitcp";
    if (peer.text() != want) return ::testing::AssertionFailure() << "peer " << peer.text();
    if (listener_->queue()->count != queued)
      return ::testing::AssertionFailure() << "queued " << listener_->queue()->count;
    return ::testing::AssertionSuccess();
  }
  /* A caller kept open until the end of the test. */
  int call(int port, int *local = nullptr) {
    int s = dial(port, local);
    if (s >= 0) callers_.push_back(s);
    return s;
  }

  int start_ = 0;
  std::unique_ptr<Assoc> listener_;
  std::vector<int> callers_;
};

TEST_F(TliListenAccept, AcceptsTheDriversConnectAndCarriesDataBothWays) {
  Watchdog dog;
  const int port = listen();
  ASSERT_NE(port, 0) << listener_->ctl.asfcode;
  EXPECT_NE(listener_->drv()->flags & DRV_LISTENING, 0u);

  Assoc client(asf_kind_requester);
  Request r(address_of(port));
  ASSERT_EQ(tlConnect(&client.ctl, &r.req), 0) << client.ctl.asfcode;
  const int client_port = ntohs(static_cast<uint16_t>(client.drv()->repaddr.port));

  Assoc acc(asf_kind_accepted);
  Peer peer;
  ASSERT_EQ(accept(acc, peer), 0) << listener_->ctl.asfcode << " " << listener_->ctl.oserr;
  EXPECT_EQ(peer.text(), "localhost|" + std::to_string(client_port) + "|tlitcp");
  EXPECT_EQ(peer.rec->pair->form, 8);
  drvblock *nd = acc.drv();
  EXPECT_EQ(nd->flags & (DRV_ACCEPTED | DRV_LISTENING), uint32_t {DRV_ACCEPTED | DRV_LISTENING});
  EXPECT_NE(nd->rcvcheck & DRV_RCVCHECK, 0u);
  EXPECT_EQ(nd->bufsize, 4096);
  ASSERT_NE(acc.endpoint(), nullptr);
  EXPECT_EQ(acc.endpoint()->pendq, nullptr);
  EXPECT_EQ(acc.endpoint()->framemark, 0);
  EXPECT_EQ(acc.endpoint()->info[6], T_COTS_ORD);
  EXPECT_NE(acc.endpoint()->fd, listener_->endpoint()->fd);
  EXPECT_EQ(listener_->queue()->count, 0);

  auto send = [](Assoc &from, const std::string &data) {
    rscbufctl *b = nullptr;
    if (bufGet(from.a, 9, &b) != 0) return -2;
    std::memcpy(b->p, data.data(), data.size());
    b->size = static_cast<int32_t>(data.size());
    return tlSend(&from.ctl, b);
  };
  auto receive = [](Assoc &at, size_t n) {
    std::string got;
    while (got.size() < n) {
      rscbufctl *b = nullptr;
      if (tlRecv(&at.ctl, &b) != 0) return got + "(failed)";
      got.append(b->p, static_cast<size_t>(b->size));
      bufReg(at.a, 10, b);
    }
    return got;
  };
  ASSERT_EQ(send(client, "question"), 0) << client.ctl.asfcode;
  EXPECT_EQ(receive(acc, 8), "question");
  ASSERT_EQ(send(acc, "answer"), 0) << acc.ctl.asfcode;
  EXPECT_EQ(receive(client, 6), "answer");

  EXPECT_EQ(tlDiscon(&acc.ctl, 0x8000), 0);
  EXPECT_EQ(tlDiscon(&client.ctl, 0), 0);
  // Stop listening: the endpoint closes, the queue goes with its record.
  EXPECT_EQ(tlListen(&listener_->ctl, nullptr, 1), 0);
  EXPECT_EQ(listener_->endpoint(), nullptr);
  EXPECT_EQ(dial(port), -1);
}

TEST_F(TliListenAccept, TheQueueHasTheGrantedLengthButAtLeast30) {
  struct Case {
    unsigned int cap;
    uint32_t capacity;
    const char *options;
    int32_t optbits;
    int32_t bufsize;
  };
  const Case cases[] = {
      {5, 30, "", 13, 4096},
      {40, 40, "keepalive", 15, 4096},
      {0, 500, "bufsize", 13, 1000},
  };
  Watchdog dog;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.cap);
    QueueCap cap(c.cap);
    const int port = listen(c.options);
    ASSERT_NE(port, 0) << listener_->ctl.asfcode;
    tlipendq *q = listener_->queue();
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->capacity, c.capacity);
    EXPECT_EQ(q->count, 0);
    EXPECT_EQ(listener_->endpoint()->optbits, c.optbits);
    EXPECT_EQ(listener_->drv()->bufsize, c.bufsize);
    // The granted length is still the provider's: a caller gets through.
    int local = 0;
    ASSERT_GE(call(port, &local), 0);
    Assoc acc(asf_kind_accepted);
    Peer peer;
    ASSERT_EQ(accept(acc, peer), 0) << listener_->ctl.asfcode;
    EXPECT_EQ(peer.text(), "localhost|" + std::to_string(local) + "|tlitcp");
    EXPECT_EQ(acc.drv()->bufsize, c.bufsize);
  }
}

TEST_F(TliListenAccept, APortTakenByAnotherEndpointFailsWith25572) {
  Watchdog dog;
  sockaddr_in sa {};
  int taken = asf_test::loopback_listener(1, &sa);
  ASSERT_GE(taken, 0);
  Assoc lsn(asf_kind_listener);
  Request r(address_of(ntohs(sa.sin_port)));
  const int before = asf_test::fd_count();
  EXPECT_EQ(tlListen(&lsn.ctl, &r.req, 0), -1);
  EXPECT_EQ(lsn.ctl.asfcode, TLI_ERR_BIND);
  EXPECT_EQ(lsn.drv()->priv, nullptr);
  EXPECT_EQ(lsn.tb()->flags & TL_FAILED, uint32_t {TL_FAILED});
  EXPECT_EQ(asf_test::fd_count(), before);
  close(taken);
}

TEST_F(TliListenAccept, ModesOtherThan0And2OpenNothing) {
  Watchdog dog;
  for (int mode : {1, 3, -1}) {
    SCOPED_TRACE(mode);
    drvblock drv {};
    drv.type = tl_drv_tlitcp;
    drv.protname = "tlitcp";
    drv.device = "/dev/tcp";
    Request r("127.0.0.1|0|tlitcp");
    asfsvcctl ctl = fresh_ctl();
    EXPECT_EQ(lisntli(&drv, &r.req, mode, &ctl), 0);
    EXPECT_EQ(drv.priv, nullptr);
    EXPECT_EQ(drv.flags, 0u);
    EXPECT_EQ(asf_test::fd_count(), start_);
  }
}

TEST_F(TliListenAccept, Mode2ListensAgainOnTheSameAddressAndKeepsAnOpenEndpoint) {
  Watchdog dog;
  const int port = listen();
  ASSERT_NE(port, 0);
  // Still listening: the endpoint and its queue stay as they are.
  tlictl *before = listener_->endpoint();
  const int fd = before->fd;
  EXPECT_EQ(tlListen(&listener_->ctl, nullptr, 2), 0);
  EXPECT_EQ(listener_->endpoint(), before);
  EXPECT_EQ(listener_->endpoint()->fd, fd);

  EXPECT_EQ(tlListen(&listener_->ctl, nullptr, 1), 0);
  EXPECT_EQ(listener_->endpoint(), nullptr);
  ASSERT_EQ(tlListen(&listener_->ctl, nullptr, 2), 0) << listener_->ctl.asfcode;
  ASSERT_NE(listener_->queue(), nullptr);
  int local = 0;
  ASSERT_GE(call(port, &local), 0);
  Assoc acc(asf_kind_accepted);
  Peer peer;
  ASSERT_EQ(accept(acc, peer), 0) << listener_->ctl.asfcode;
  EXPECT_EQ(peer.text(), "localhost|" + std::to_string(local) + "|tlitcp");
}

TEST_F(TliListenAccept, AnAcceptInterruptedByANewIndicationRetriesTheSameOneOnAFreshEndpoint) {
  Watchdog dog;
  const int port = listen();
  ASSERT_NE(port, 0);
  int first = 0, second = 0;
  ASSERT_GE(call(port, &first), 0);
  ASSERT_GE(call(port, &second), 0);
  {
    FailingCalls counting(Failing {});
    Assoc acc(asf_kind_accepted);
    Peer peer;
    ASSERT_EQ(accept(acc, peer), 0) << listener_->ctl.asfcode;
    EXPECT_EQ(peer.text(), "localhost|" + std::to_string(first) + "|tlitcp");
    // The first endpoint met the second caller's indication and was closed.
    EXPECT_EQ(failing.opens, 2);
    EXPECT_EQ(listener_->queue()->count, 1);
  }
  EXPECT_TRUE(accepts_caller(second, 0));
}

TEST_F(TliListenAccept, AQueuedCallerWhoDisconnectsIsDroppedAndTheAcceptWaitsForTheNext) {
  Watchdog dog;
  const int port = listen();
  ASSERT_NE(port, 0);
  int first = 0;
  ASSERT_GE(call(port, &first), 0);
  int leaving = dial(port);
  ASSERT_GE(leaving, 0);
  {
    Assoc acc(asf_kind_accepted);
    Peer peer;
    ASSERT_EQ(accept(acc, peer), 0) << listener_->ctl.asfcode;
    EXPECT_EQ(peer.text(), "localhost|" + std::to_string(first) + "|tlitcp");
    ASSERT_EQ(listener_->queue()->count, 1);
  }
  reset_close(leaving);
  // The provider sees the queued caller's reset (and holds it as the event).
  const int lfd = listener_->endpoint()->fd;
  int event = 0;
  for (int i = 0; i < 500 && event != T_DISCONNECT; ++i) {
    event = t_look(lfd);
    if (event != T_DISCONNECT) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(event, T_DISCONNECT);

  std::atomic<int> next_port {0};
  int next = -1;
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int local = 0;
    next = dial(port, &local);
    next_port = local;
  });
  Assoc acc(asf_kind_accepted);
  Peer peer;
  const auto t0 = Clock::now();
  const int rc = accept(acc, peer);
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  later.join();
  if (next >= 0) callers_.push_back(next);
  ASSERT_EQ(rc, 0) << listener_->ctl.asfcode;
  EXPECT_EQ(peer.text(), "localhost|" + std::to_string(next_port.load()) + "|tlitcp");
  EXPECT_GE(waited, 200);
  EXPECT_EQ(listener_->queue()->count, 0);
  for (uint32_t i = 0; i < listener_->queue()->capacity; ++i)
    EXPECT_EQ(listener_->queue()->slots[i], nullptr);
}

TEST_F(TliListenAccept, WithEverySlotTakenTheAcceptFailsWith25571AndTheListenerStillAccepts) {
  Watchdog dog;
  QueueCap cap(30);
  const int port = listen();
  ASSERT_NE(port, 0);
  ASSERT_EQ(listener_->queue()->capacity, 30u);
  // 30 slots, filled by 31 callers waiting at once (the kernel holds one
  // more than the granted 30).
  std::vector<int> ports;
  for (int i = 0; i < 31; ++i) {
    int local = 0;
    ASSERT_GE(call(port, &local), 0);
    ports.push_back(local);
  }
  {
    Assoc acc(asf_kind_accepted);
    Peer peer;
    EXPECT_EQ(accept(acc, peer), -1);
    EXPECT_EQ(listener_->ctl.asfcode, TLI_ERR_QUEUEFULL);
    EXPECT_EQ(acc.drv()->priv, nullptr);
    EXPECT_EQ(listener_->queue()->count, 30);
  }
  for (int i = 0; i < 3; ++i) {
    Assoc acc(asf_kind_accepted);
    Peer peer;
    ASSERT_EQ(accept(acc, peer), 0) << listener_->ctl.asfcode;
    EXPECT_EQ(peer.text(), "localhost|" + std::to_string(ports[i]) + "|tlitcp");
  }
  EXPECT_EQ(listener_->queue()->count, 27);
}

/* ---- Failures of the listen. ---- */

TEST_F(TliListenAccept, ListenFailuresLeaveNothingOpenOrAllocated) {
  struct Case {
    const char *name;
    Failing calls;
    int fail_alloc; /* the asf allocation that fails, 0 none */
    int status;
    int oserr;
  };
  const Case cases[] = {
      {"t_open", {1, 0, 0, false}, 0, TLI_ERR_OPEN, EMFILE},
      {"bind request", {0, 1, 0, false}, 0, TLI_ERR_BINDALLOC, ENOMEM},
      {"returned bind", {0, 2, 0, false}, 0, TLI_ERR_BINDALLOC, ENOMEM},
      {"t_bind", {0, 0, 1, false}, 0, TLI_ERR_BIND, TOUTSTATE},
      {"port check", {0, 0, 0, true}, 0, TLI_ERR_BIND, -1},
      {"endpoint record", {}, 1, ASF_ERR_MEMORY, ENOMEM},
      {"queue record", {}, 2, ASF_ERR_MEMORY, ENOMEM},
      {"queue slots", {}, 3, ASF_ERR_MEMORY, ENOMEM},
  };
  Watchdog dog;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    drvblock drv {};
    drv.type = tl_drv_tlitcp;
    drv.protname = "tlitcp";
    drv.device = "/dev/tcp";
    Request r(address_of(asf_test::free_loopback_port()));
    asfsvcctl ctl = fresh_ctl();
    {
      FailingCalls calls(c.calls);
      CountingMemory memory(c.fail_alloc);
      EXPECT_EQ(lisntli(&drv, &r.req, 0, &ctl), -1);
      EXPECT_EQ(memory.outstanding(), 0);
    }
    EXPECT_EQ(ctl.asfcode, c.status);
    if (c.oserr >= 0) {
      EXPECT_EQ(ctl.oserr, c.oserr);
    }
    EXPECT_EQ(drv.priv, nullptr);
    EXPECT_EQ(drv.flags & DRV_LISTENING, uint32_t {DRV_LISTENING});
    EXPECT_EQ(asf_test::fd_count(), start_);
  }
}

TEST_F(TliListenAccept, NoVectorOrABadAddressOpensNothing) {
  struct Case {
    int type;
    const char *address;
    int status;
  };
  const Case cases[] = {
      {99, "127.0.0.1|0|tlitcp", TL_STATUS_NO_VECTOR},
      {tl_drv_tlitcp, "127.0.0.1|0", ASF_ERR_BADADDR},
  };
  Watchdog dog;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    drvblock drv {};
    drv.type = c.type;
    drv.protname = "tlitcp";
    drv.device = "/dev/tcp";
    Request r(c.address);
    asfsvcctl ctl = fresh_ctl();
    FailingCalls counting(Failing {});
    CountingMemory memory;
    EXPECT_EQ(lisntli(&drv, &r.req, 0, &ctl), -1);
    EXPECT_EQ(ctl.asfcode, c.status);
    EXPECT_EQ(failing.opens, 0);
    EXPECT_EQ(drv.priv, nullptr);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

/* ---- Failures of the accept. ---- */

TEST_F(TliListenAccept, AFailedAcceptLeavesTheListenerAndItsQueueUsable) {
  struct Case {
    const char *name;
    Failing calls;
    int status;
    int oserr;
  };
  // Each call of one accept in order: t_alloc of the call, then t_open
  // and t_bind of the new endpoint.
  const Case cases[] = {
      {"call structure", {0, 1, 0, false}, TLI_ERR_CALLALLOC, ENOMEM},
      {"new endpoint", {1, 0, 0, false}, TLI_ERR_OPEN, EMFILE},
      {"bind of the new endpoint", {0, 0, 1, false}, TLI_ERR_BIND, TOUTSTATE},
  };
  Watchdog dog;
  const int port = listen();
  ASSERT_NE(port, 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int local = 0;
    ASSERT_GE(call(port, &local), 0);
    const int before = asf_test::fd_count();
    {
      FailingCalls calls(c.calls);
      Assoc acc(asf_kind_accepted);
      Peer peer;
      EXPECT_EQ(accept(acc, peer), -1);
      EXPECT_EQ(listener_->ctl.asfcode, c.status);
      EXPECT_EQ(listener_->ctl.oserr, c.oserr);
      EXPECT_EQ(acc.drv()->priv, nullptr);
      EXPECT_EQ(acc.tb()->state, uint32_t {tl_state_idle});
    }
    // The caller waits in the queue (or still on the endpoint): the next
    // accept takes it.
    EXPECT_LE(asf_test::fd_count(), before + 1);
    EXPECT_TRUE(accepts_caller(local, 0));
  }
}

TEST_F(TliListenAccept, EveryMemoryFailureOfAnAcceptClosesTheNewEndpoint) {
  Watchdog dog;
  const int port = listen();
  ASSERT_NE(port, 0);
  bool succeeded = false;
  int late_failures = 0; /* failures once the new block existed */
  for (int fail_at = 1; fail_at < 40 && !succeeded; ++fail_at) {
    SCOPED_TRACE(fail_at);
    ASSERT_GE(call(port), 0);
    const int before = asf_test::fd_count();
    Assoc acc(asf_kind_accepted);
    Peer peer;
    int rc;
    {
      CountingMemory memory(fail_at);
      rc = accept(acc, peer);
      if (rc != 0) {
        EXPECT_EQ(listener_->ctl.asfcode, ASF_ERR_MEMORY);
        EXPECT_EQ(asf_test::fd_count(), before);
        if (acc.tb() != nullptr) {
          EXPECT_EQ(acc.drv()->priv, nullptr);
        }
      }
      peer.clear();
      if (rc != 0) {
        EXPECT_EQ(memory.outstanding(), acc.tb() != nullptr ? 1 : 0);
      }
    }
    succeeded = rc == 0;
    if (rc != 0 && acc.tb() != nullptr) ++late_failures;
    // A failure before the new block exists leaves the caller waiting: take it.
    if (rc != 0 && acc.tb() == nullptr) {
      ASSERT_EQ(accept(acc, peer), 0) << listener_->ctl.asfcode;
    }
  }
  EXPECT_TRUE(succeeded);
  // The peer record (three blocks), the endpoint record and the buffers.
  EXPECT_GE(late_failures, 5);
  EXPECT_EQ(listener_->queue()->count, 0);
}

}  // namespace
