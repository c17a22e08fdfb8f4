/*
** The STREAMS-pipe driver through the transport layer against a small
** server: a thread listening on a SEQPACKET socket at <tmp>/<service>.str
** (the rendezvous directory pointed at a temporary one) that speaks the
** platform's framing. Descriptors are counted through /proc/self/fd,
** records through the counting memory table; interruptions and signal
** requests are staged through the driver's STREAMS table.
*/
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "net_paths.h"
#include "os_wrappers.h"
#include "streams.h"
#include "strpipe_driver.h"
#include "temp_dir.h"
#include "tl_records.h"

namespace {

using asf_test::CountingMemory;
using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

std::string node_name() {
  char node[ASF_NODENAME_SIZE] = {};
  rhostname(node, sizeof node);
  return node;
}

using asf_test::fresh_ctl;

/* The server's side of the framing. */
int serve_put(int fd, const std::string &data, int flags = 0) {
  std::string d = data;
  strbuf part {0, static_cast<int>(d.size()), d.data()};
  return putmsg(fd, nullptr, &part, flags);
}

struct Message {
  int rc = -1;
  int flags = 0;
  int len = 0;
  std::string data;
};
Message serve_get(int fd) {
  std::vector<char> room(1 << 16);
  strbuf ctl {0, 0, nullptr};
  strbuf data {static_cast<int>(room.size()), 0, room.data()};
  Message m;
  m.rc = getmsg(fd, &ctl, &data, &m.flags);
  m.len = data.len;
  if (m.rc == 0 && data.len > 0) m.data.assign(room.data(), static_cast<size_t>(data.len));
  return m;
}

/* A server mounted at <dir>/<service>.str: a thread that accepts up to
** `connections` streams one after the other and runs the script on each
** (closing it afterwards). */
class StreamServer {
 public:
  StreamServer(const std::string &path, std::function<void(int)> script, int connections = 1)
      : path_(path), script_(std::move(script)) {
    lsn_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    struct sockaddr_un sa {};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    if (bind(lsn_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(lsn_, 8) != 0)
      return;
    thread_ = std::thread([this, connections] {
      for (int i = 0; i < connections && !stop_; ++i) {
        struct pollfd p = {lsn_, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0 || stop_) return;
        int c = accept4(lsn_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        current_ = c;
        script_(c);
        current_ = -1;
        close(c);
      }
    });
  }
  /* A script still waiting for the client sees a hang-up. */
  ~StreamServer() {
    stop_ = true;
    shutdown(lsn_, SHUT_RDWR);
    const int c = current_;
    if (c >= 0) shutdown(c, SHUT_RDWR);
    join();
    close(lsn_);
    unlink(path_.c_str());
  }
  StreamServer(const StreamServer &) = delete;
  StreamServer &operator=(const StreamServer &) = delete;

  bool listening() const { return thread_.joinable(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::string path_;
  std::function<void(int)> script_;
  int lsn_ = -1;
  std::atomic<bool> stop_ {false};
  std::atomic<int> current_ {-1};
  std::thread thread_;
};

/* An association, the rendezvous directory in a temporary one, and the
** transport layer's operations with "<node>|<service>|ipcstr" addresses. */
class StrpipeDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    asf_tmpdir_override(dir_.path().c_str());
    ctl_ = fresh_ctl();
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, status_);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
  }
  void TearDown() override {
    if (assoc_->tlblock != nullptr) tlDiscon(&ctl_, 0);
    alCSfree(assoc_);
    asf_tmpdir_override(nullptr);
    strpipe_driver_calls = &strpipe_platform_calls;
  }

  std::string stream(const std::string &service = "demo") const {
    return dir_.file(service + ".str");
  }
  int connect(const std::string &address, int32_t bufsize = 0) {
    text_ = address;
    addr_ = tlreqaddr {1, text_.data()};
    options_ = SqlhOptions {};
    options_.bufsize = bufsize;
    tlconnreq parms {};
    parms.addr = &addr_;
    parms.options = &options_;
    ctl_.asfcode = 0;
    ctl_.oserr = 0;
    ctl_.timeout = -1;
    return tlConnect(&ctl_, &parms);
  }
  int connect_demo() { return connect(node_name() + "|demo|ipcstr"); }
  drvblock *driver() { return &static_cast<tlblock *>(assoc_->tlblock)->drv; }
  int stream_fd() { return static_cast<strpipectl *>(driver()->priv)->fd; }

  /* Sends data through the association's send buffer. */
  int send(const std::string &data) {
    rscbufctl *b = nullptr;
    if (bufGet(assoc_, 9, &b) != 0) return -2;
    std::memcpy(b->p, data.data(), data.size());
    b->size = static_cast<int32_t>(data.size());
    return tlSend(&ctl_, b);
  }
  /* One receive with timeout; the message into *got, the buffer given
  ** back to its slot. */
  int receive(std::string *got, int timeout = -1) {
    ctl_.timeout = timeout;
    rscbufctl *r = nullptr;
    int rc = tlRecv(&ctl_, &r);
    if (rc == 0) {
      got->assign(r->p, static_cast<size_t>(r->size));
      bufReg(assoc_, 10, r);
    }
    return rc;
  }
  /* The byte in the association's expedited receive buffer. */
  char expedited() {
    rscbufctl *x = nullptr;
    if (bufGet(assoc_, 6 | asf_buf_peek, &x) != 0 || x->size != 1) return 0;
    return x->p[0];
  }

  dvz_test::TempDir dir_;
  char status_[4] = {};
  asfsvcctl ctl_ {};
  Assocctl *assoc_ = nullptr;
  std::string text_;
  tlreqaddr addr_ {};
  SqlhOptions options_ {};
};

TEST_F(StrpipeDriver, ServiceDemoLivesAtTheFixedDirectoryAndNamesItsPeer) {
  asf_tmpdir_override(nullptr);
  asfsvcctl ctl = fresh_ctl();
  tladdr addr {};
  ASSERT_EQ(unixcons2tladdr("somehost|demo|ipcstr", &addr, &ctl, nullptr), 0);
  EXPECT_STREQ(strpipe_last_path(), "/DOVARIZATMP/demo.str");

  drvblock drv {};
  drv.protname = "ipcstr";
  tlpeeraddr *peer = nullptr;
  ASSERT_EQ(unixtladdr2cons(&addr, &peer, &drv, &ctl), 0);
  ASSERT_NE(peer, nullptr);
  ASSERT_NE(peer->pair, nullptr);
  EXPECT_EQ(peer->pair->form, 8);
  EXPECT_EQ(std::string(peer->pair->text), node_name() + "|/DOVARIZATMP/demo.str|ipcstr");
  asf_free(asf_pool_assoc, peer->pair->text);
  asf_free(asf_pool_assoc, peer->pair);
  asf_free(asf_pool_assoc, peer);

  asf_tmpdir_override(dir_.path().c_str());
  ASSERT_EQ(unixcons2tladdr("h|svc|ipcstr", &addr, &ctl, nullptr), 0);
  EXPECT_EQ(std::string(strpipe_last_path()), stream("svc"));
}

TEST_F(StrpipeDriver, MalformedAddressesGive25591AndKeepTheLastPath) {
  struct Case {
    const char *name;
    std::string text;
    int oserr;
  };
  const std::vector<Case> cases = {
      {"no service", "host", 0},
      {"empty", "", 0},
      {"only bars", "||", 0},
      {"over 399 characters", "h|" + std::string(398, 's') + "|ipcstr", 0},
  };
  tladdr addr {};
  asfsvcctl ctl = fresh_ctl();
  ASSERT_EQ(unixcons2tladdr("h|kept|ipcstr", &addr, &ctl, nullptr), 0);
  const std::string kept = strpipe_last_path();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ctl.asfcode = 0;
    ctl.oserr = 77;
    EXPECT_EQ(unixcons2tladdr(c.text.c_str(), &addr, &ctl, nullptr), -1);
    EXPECT_EQ(ctl.asfcode, -25591);
    EXPECT_EQ(ctl.oserr, c.oserr);
    EXPECT_EQ(std::string(strpipe_last_path()), kept);
  }
  ctl.asfcode = 0;
  EXPECT_EQ(unixcons2tladdr(nullptr, &addr, &ctl, nullptr), -1);
  EXPECT_EQ(ctl.asfcode, -25591);
  // A path that would not fit is refused, never cut.
  const std::string deep(STRPIPE_PATH_SIZE - 100, 'd');
  asf_tmpdir_override(deep.c_str());
  ctl.asfcode = 0;
  EXPECT_EQ(unixcons2tladdr(("h|" + std::string(100, 's') + "|x").c_str(), &addr, &ctl, nullptr),
            -1);
  EXPECT_EQ(ctl.asfcode, -25591);
  EXPECT_EQ(ctl.oserr, ENAMETOOLONG);
  EXPECT_EQ(std::string(strpipe_last_path()), kept);
  asf_tmpdir_override(dir_.path().c_str());
}

TEST_F(StrpipeDriver, WhatIsNotAMountedStreamGives908WithNothingLeftOpen) {
  dir_.write("plain.str", "a regular file");
  // A socket path nobody listens on.
  int s = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  struct sockaddr_un sa {};
  sa.sun_family = AF_UNIX;
  std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", stream("gone").c_str());
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  close(s);

  struct Case {
    const char *name;
    std::string address;
    int asfcode, oserr;
  };
  const std::string node = node_name();
  const std::vector<Case> cases = {
      {"missing node", node + "|missing|ipcstr", -908, ENOENT},
      {"regular file", node + "|plain|ipcstr", -908, ENOSTR},
      {"nobody listening", node + "|gone|ipcstr", -908, ECONNREFUSED},
      {"another host", "not-" + node + "|demo|ipcstr", -25591, 0},
  };
  const int start = asf_test::fd_count();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    CountingMemory memory;
    EXPECT_EQ(connect(c.address), -1);
    EXPECT_EQ(ctl_.asfcode, c.asfcode);
    EXPECT_EQ(ctl_.oserr, c.oserr);
    EXPECT_EQ(driver()->priv, nullptr);
    EXPECT_EQ(asf_test::settled_fd_count(start), start);
    tlDiscon(&ctl_, 0);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(StrpipeDriver, MemoryShortDuringConnectClosesTheStream) {
  StreamServer server(
      stream(), [](int c) { serve_get(c); }, 3);
  const int start = asf_test::fd_count();
  // 1 is the transport block, 2 the driver's record, 3 on the buffers.
  for (int fail_at : {2, 3, 6}) {
    SCOPED_TRACE(fail_at);
    CountingMemory memory(fail_at);
    EXPECT_EQ(connect_demo(), -1);
    EXPECT_EQ(ctl_.asfcode, -406);
    EXPECT_EQ(driver()->priv, nullptr);
    EXPECT_EQ(assoc_->sndbuf, nullptr);
    EXPECT_EQ(assoc_->rcvbuf, nullptr);
    EXPECT_EQ(asf_test::settled_fd_count(start), start);
    tlDiscon(&ctl_, 0);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(StrpipeDriver, EchoExpeditedByteAndDisconnectLeaveNothingOpen) {
  const int start = asf_test::fd_count();
  std::vector<std::string> sizes = {"x", std::string(100, 'm'), std::string(4090, 'f')};
  std::string expedited_seen;
  bool hang_up_seen = false;
  {
    StreamServer server(stream(), [&](int c) {
      for (;;) {
        Message m = serve_get(c);
        if (m.rc != 0) return;
        if (m.len == 0) {
          hang_up_seen = true;
          return;
        }
        if (m.flags == RS_HIPRI)
          expedited_seen += m.data;
        else
          serve_put(c, m.data);
      }
    });
    ASSERT_TRUE(server.listening());
    ASSERT_EQ(connect_demo(), 0) << ctl_.asfcode << " " << ctl_.oserr;
    EXPECT_EQ(driver()->bufsize, 4096);
    int32_t words[2] = {-5, -5};
    tlattr attr {2, words};
    ASSERT_EQ(tlAttrib(&ctl_, &attr), 0);
    EXPECT_EQ(words[0], stream_fd());
    EXPECT_EQ(words[1], stream_fd());

    for (const std::string &data : sizes) {
      SCOPED_TRACE(data.size());
      ASSERT_EQ(send(data), 0) << ctl_.asfcode;
      // The send buffer is back in its slot, reset for the next message.
      ASSERT_NE(assoc_->sndbuf, nullptr);
      EXPECT_EQ(assoc_->sndbuf->size, assoc_->sndbuf->lbuff - assoc_->sndbuf->p_offset);
      std::string got;
      ASSERT_EQ(receive(&got), 0) << ctl_.asfcode;
      EXPECT_EQ(got, data);
    }
    rscbufctl *x = nullptr;
    ASSERT_EQ(bufGet(assoc_, 5, &x), 0);
    x->p[0] = 'B';
    x->size = 1;
    EXPECT_EQ(tlSndexpt(&ctl_, x), 0);
    EXPECT_EQ(assoc_->xsndbuf, x);
    EXPECT_EQ(tlDiscon(&ctl_, 0), 0);
    server.join();
  }
  EXPECT_EQ(expedited_seen, "B");
  EXPECT_TRUE(hang_up_seen);
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST_F(StrpipeDriver, HighPriorityByteGoesToTheExpeditedSlotAndTheReceiveGoesOn) {
  StreamServer server(stream(), [](int c) {
    serve_put(c, "Z", RS_HIPRI);
    serve_put(c, "msg");
  });
  ASSERT_EQ(connect_demo(), 0);
  std::string got;
  ASSERT_EQ(receive(&got), 0) << ctl_.asfcode;
  EXPECT_EQ(got, "msg");
  EXPECT_EQ(expedited(), 'Z');
  // This side has no expedited receive entry: the byte is read in place.
  rscbufctl *out = nullptr;
  ctl_.oserr = 5;
  EXPECT_EQ(tlRcvexpt(&ctl_, &out), -1);
  EXPECT_EQ(ctl_.asfcode, -25592);
  EXPECT_EQ(ctl_.oserr, 0);
}

TEST_F(StrpipeDriver, OversizedRecordGives25580ThenTheNextThenCloseGives25582) {
  StreamServer server(stream(), [](int c) {
    serve_put(c, std::string(5000, 'L'));
    serve_put(c, "ok");
  });
  ASSERT_EQ(connect_demo(), 0);
  server.join();
  std::string got;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, -25580);
  EXPECT_EQ(ctl_.oserr, EBADMSG);
  EXPECT_NE(assoc_->rcvbuf, nullptr);
  ASSERT_EQ(receive(&got), 0) << ctl_.asfcode;
  EXPECT_EQ(got, "ok");
  ctl_.oserr = 9;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, -25582);
  EXPECT_EQ(ctl_.oserr, 0);
  EXPECT_NE(assoc_->rcvbuf, nullptr);
  EXPECT_EQ(send("late"), -1);
  EXPECT_EQ(ctl_.asfcode, -25580);
  EXPECT_EQ(ctl_.oserr, EPIPE);
  EXPECT_NE(assoc_->sndbuf, nullptr);
}

TEST_F(StrpipeDriver, SqlhostsBufferSizeBoundsTheMessage) {
  StreamServer server(stream(), [](int c) {
    serve_put(c, std::string(300, 'b'));
    serve_put(c, std::string(200, 's'));
  });
  ASSERT_EQ(connect(node_name() + "|demo|ipcstr", 256), 0);
  EXPECT_EQ(driver()->bufsize, 256);
  std::string got;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, -25580);
  ASSERT_EQ(receive(&got), 0);
  EXPECT_EQ(got.size(), 200u);
}

TEST_F(StrpipeDriver, TimeoutsPollSwitchBlockingAndStayBounded) {
  std::atomic<int> step {0};
  auto wait_step = [&](int n) {
    for (int i = 0; i < 5000 && step.load() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  StreamServer server(stream(), [&](int c) {
    wait_step(1);
    serve_put(c, "Z", RS_HIPRI);
    wait_step(2);
    serve_put(c, "late");
    serve_get(c);
  });
  ASSERT_EQ(connect_demo(), 0);
  const int fd = stream_fd();
  std::string got;

  // Polling: nothing there, at once; the stream is now non-blocking.
  auto t0 = Clock::now();
  EXPECT_EQ(receive(&got, 0), -1);
  EXPECT_EQ(ctl_.asfcode, 6);
  EXPECT_LT(ms_since(t0), 500);
  EXPECT_NE(assoc_->rcvbuf, nullptr);
  EXPECT_NE(driver()->flags & DRV_NONBLOCKING, 0u);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);

  // A time limit runs out with status 6.
  t0 = Clock::now();
  EXPECT_EQ(receive(&got, 150), -1);
  EXPECT_EQ(ctl_.asfcode, 6);
  EXPECT_GE(ms_since(t0), 140);
  EXPECT_LT(ms_since(t0), 2000);

  // Only an expedited byte comes: it is kept, and the limit still holds.
  // The stream back to blocking first, as a caller without limit leaves it.
  ctl_.timeout = -1;
  ASSERT_EQ(do_blocking(driver(), fd, &ctl_), 0);
  step = 1;
  t0 = Clock::now();
  EXPECT_EQ(receive(&got, 300), -1);
  EXPECT_EQ(ctl_.asfcode, 6);
  EXPECT_LT(ms_since(t0), 2000);
  EXPECT_EQ(expedited(), 'Z');

  // No limit: the non-blocking switch is undone and the message waited for.
  ASSERT_EQ(receive(&got, 0), -1);
  step = 2;
  ASSERT_EQ(receive(&got, -1), 0) << ctl_.asfcode;
  EXPECT_EQ(got, "late");
  EXPECT_EQ(driver()->flags & DRV_NONBLOCKING, 0u);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);

  // A caller's own record is never put in the association's slot.
  std::vector<char> mine(64);
  rscbufctl own {mine.data(), 0, -2, nullptr, mine.data(), 64, 0};
  rscbufctl *slot = &own;
  rscbufctl *assoc_buf = assoc_->rcvbuf;
  ctl_.timeout = 0;
  EXPECT_EQ(tlRecv(&ctl_, &slot), -1);
  EXPECT_EQ(ctl_.asfcode, 6);
  EXPECT_EQ(assoc_->rcvbuf, assoc_buf);
}

TEST_F(StrpipeDriver, ListenAcceptExpeditedReceiveSaveAndRestoreGive25592) {
  struct Case {
    const char *name;
    std::function<int(drvblock *, asfsvcctl *)> call;
  };
  const std::vector<Case> cases = {
      {"lisn", [](drvblock *d, asfsvcctl *c) { return lisnstr(d, nullptr, 0, c); }},
      {"accp", [](drvblock *d, asfsvcctl *c) { return accpstr(d, nullptr, nullptr, c); }},
      {"roob", [](drvblock *d, asfsvcctl *c) { return roobstr(d, nullptr, c); }},
      {"save", [](drvblock *d, asfsvcctl *c) { return savestr(d, nullptr, c); }},
      {"rest", [](drvblock *d, asfsvcctl *c) { return reststr(d, nullptr, c); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    drvblock drv {};
    asfsvcctl ctl = fresh_ctl();
    ctl.oserr = 4;
    EXPECT_EQ(c.call(&drv, &ctl), -1);
    EXPECT_EQ(ctl.asfcode, -25592);
    EXPECT_EQ(ctl.oserr, 0);
  }
  // Listening through the layer reaches the row's entry.
  text_ = node_name() + "|demo|ipcstr";
  addr_ = tlreqaddr {1, text_.data()};
  tlconnreq parms {};
  parms.addr = &addr_;
  EXPECT_EQ(tlListen(&ctl_, &parms, 0), -1);
  EXPECT_EQ(ctl_.asfcode, -25592);
}

/* ---- Interruptions and signal requests, through the STREAMS table. ---- */

struct Staged {
  int interrupt_open = 0, interrupt_isastream = 0, interrupt_putmsg = 0, interrupt_getmsg = 0;
  int opens = 0, getmsgs = 0;
  std::string ioctls;
};
Staged staged;

int staged_open(const char *path, int oflag) {
  ++staged.opens;
  if (staged.interrupt_open-- > 0) return errno = EINTR, -1;
  return str_open(path, oflag);
}
int staged_isastream(int fd) {
  if (staged.interrupt_isastream-- > 0) return errno = EINTR, -1;
  return isastream(fd);
}
int staged_putmsg(int fd, const strbuf *c, const strbuf *d, int flags) {
  if (staged.interrupt_putmsg-- > 0) return errno = EINTR, -1;
  return putmsg(fd, c, d, flags);
}
int staged_getmsg(int fd, strbuf *c, strbuf *d, int *flags) {
  ++staged.getmsgs;
  if (staged.interrupt_getmsg-- > 0) return errno = EINTR, -1;
  return getmsg(fd, c, d, flags);
}
int staged_ioctl(int fd, int request, int arg) {
  staged.ioctls += std::to_string(arg) + " ";
  return str_ioctl(fd, request, arg);
}
constexpr strpipe_calls staged_calls = {staged_open, staged_isastream, staged_putmsg, staged_getmsg,
                                        staged_ioctl};

TEST_F(StrpipeDriver, InterruptedCallsAreMadeAgainAndInputSignalsPauseAroundReceive) {
  StreamServer server(stream(), [](int c) {
    for (;;) {
      Message m = serve_get(c);
      if (m.rc != 0 || m.len == 0) return;
      serve_put(c, "Z", RS_HIPRI);
      serve_put(c, m.data);
    }
  });
  staged = Staged {};
  staged.interrupt_open = 2;
  staged.interrupt_isastream = 1;
  staged.interrupt_putmsg = 3;
  staged.interrupt_getmsg = 1;
  strpipe_driver_calls = &staged_calls;
  ASSERT_EQ(connect_demo(), 0) << ctl_.asfcode;
  EXPECT_EQ(staged.opens, 3);
  ASSERT_EQ(send("ping"), 0) << ctl_.asfcode;
  // Input signals were never asked for: no request around a receive.
  std::string got;
  ASSERT_EQ(receive(&got), 0) << ctl_.asfcode;
  EXPECT_EQ(got, "ping");
  EXPECT_EQ(staged.getmsgs, 3);
  EXPECT_EQ(staged.ioctls, "");

  // Input signals asked for, as a signal set-up would: SIGPOLL is ignored
  // here, it only has to be requested and withdrawn.
  struct sigaction ignore {
  }, old {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPOLL, &ignore, &old);
  driver()->flags |= DRV_SIGARMED;
  ASSERT_EQ(send("pong"), 0);
  staged.getmsgs = 0;
  ASSERT_EQ(receive(&got), 0);
  EXPECT_EQ(got, "pong");
  EXPECT_EQ(staged.getmsgs, 2);
  EXPECT_EQ(staged.ioctls,
            std::string("0 ") + std::to_string(S_INPUT) + " 0 " + std::to_string(S_INPUT) + " ");
  tlDiscon(&ctl_, 0);
  sigaction(SIGPOLL, &old, nullptr);
}

}  // namespace
