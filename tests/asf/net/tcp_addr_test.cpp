/*
** TCP addressing: address texts to transport addresses and back against a
** resolver seam that answers from a small table (no real look-up), with
** glibc's inet_aton as the oracle for dotted hosts; the socket-address
** buffers and the bound-port check; option negotiation checked with
** getsockopt on a real endpoint; the expedited-data signal on a real
** loopback connection, also while the main flow opens and closes
** endpoints and associations under a storm of signals (the file replaces
** the global operator new and delete so that a test can raise a signal
** right after a free).
*/
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "os_seams.h"
#include "os_wrappers.h"
#include "spx_records.h"
#include "svr4.h"
#include "tl_records.h"
#include "tli.h"

/* The signal to raise in this thread right after each free (0: none): a
** handler then runs exactly when a container has let its old storage go
** and may not yet point at the new. */
namespace {
thread_local int raise_after_free = 0;
void free_then_raise(void *p) noexcept {
  std::free(p);
  if (const int sig = raise_after_free) {
    raise_after_free = 0;  // not again from inside the handler
    raise(sig);
    raise_after_free = sig;
  }
}
void *allocate(std::size_t n) noexcept { return std::malloc(n != 0 ? n : 1); }
void *allocate_or_throw(std::size_t n) {
  if (void *p = allocate(n)) return p;
  throw std::bad_alloc();
}
}  // namespace

void *operator new(std::size_t n) { return allocate_or_throw(n); }
void *operator new[](std::size_t n) { return allocate_or_throw(n); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return allocate(n); }
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept { return allocate(n); }
void operator delete(void *p) noexcept { free_then_raise(p); }
void operator delete[](void *p) noexcept { free_then_raise(p); }
void operator delete(void *p, std::size_t) noexcept { free_then_raise(p); }
void operator delete[](void *p, std::size_t) noexcept { free_then_raise(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { free_then_raise(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { free_then_raise(p); }

namespace {

using asf_test::CountingMemory;

/* ---- A resolver that knows two hosts and one service. ---- */

constexpr uint32_t dbhost_ip = 0x0a000002; /* 10.0.0.2, host order */
constexpr uint16_t dvzsvc_port = 1600;

struct hostent *table_host(uint32_t ip_host_order, const char *name) {
  static char hname[64];
  static uint32_t addr;
  static char *list[2];
  static struct hostent h;
  std::snprintf(hname, sizeof hname, "%s", name);
  addr = htonl(ip_host_order);
  list[0] = reinterpret_cast<char *>(&addr);
  list[1] = nullptr;
  h.h_name = hname;
  h.h_aliases = nullptr;
  h.h_addrtype = AF_INET;
  h.h_length = 4;
  h.h_addr_list = list;
  return &h;
}

struct hostent *fake_byname(const char *name, int *herr) {
  if (std::strcmp(name, "localhost") == 0) return table_host(INADDR_LOOPBACK, "localhost");
  if (std::strcmp(name, "dbhost") == 0) return table_host(dbhost_ip, "dbhost");
  *herr = HOST_NOT_FOUND;
  return nullptr;
}

struct hostent *fake_byaddr(const void *address, socklen_t length, int type) {
  uint32_t ip = 0;
  if (length != 4 || type != AF_INET) return nullptr;
  std::memcpy(&ip, address, 4);
  return ntohl(ip) == dbhost_ip ? table_host(dbhost_ip, "dbhost") : nullptr;
}

struct servent *fake_servbyname(const char *name, const char *protocol) {
  static char sname[] = "dvzsvc";
  static char sproto[] = "tcp";
  static struct servent s;
  if (std::strcmp(name, "dvzsvc") == 0 && protocol != nullptr &&
      std::strcmp(protocol, "tcp") == 0) {
    s.s_name = sname;
    s.s_aliases = nullptr;
    s.s_port = htons(dvzsvc_port);
    s.s_proto = sproto;
    return &s;
  }
  errno = ENOENT;
  return nullptr;
}

constexpr os_resolver_seam table_resolver = {fake_byname, fake_byaddr, fake_servbyname};

time_t fixed_now() { return 0; }
unsigned no_sleep(unsigned) { return 0; }
constexpr os_clock_seam quick_clock = {fixed_now, no_sleep};

/* Installs the table resolver (and a clock that never sleeps, should a
** look-up retry) for the life of the object. */
class TableResolver {
 public:
  TableResolver() : resolver_(os_resolver), clock_(os_clock) {
    os_resolver = &table_resolver;
    os_clock = &quick_clock;
  }
  ~TableResolver() {
    os_resolver = resolver_;
    os_clock = clock_;
  }

 private:
  const os_resolver_seam *resolver_;
  const os_clock_seam *clock_;
};

using asf_test::fresh_ctl;

drvblock tcp_block(uint32_t flags = 0) {
  drvblock drv {};
  drv.flags = flags;
  drv.type = tl_drv_tlitcp;
  drv.protname = "tlitcp";
  drv.device = "/dev/tcp";
  return drv;
}

uint32_t dotted(const char *text) {
  struct in_addr in {};
  EXPECT_NE(inet_aton(text, &in), 0) << text;
  return in.s_addr;
}

/* ---- Address text to transport address. ---- */

struct ConsCase {
  const char *text;
  bool listening;
  int rc;
  int asfcode;
  const char *ip; /* dotted, through inet_aton; null: not checked */
  int port; /* host order; -1: not checked */
  const char *errstr; /* null: not checked */
};

constexpr ConsCase cons_cases[] = {
    {"127.0.0.1|1526|tlitcp", false, 0, 0, "127.0.0.1", 1526, nullptr},
    {"127.0.0.1|1526", false, -1, -25591, nullptr, -1, nullptr},
    {"no bars at all", false, -1, -25591, nullptr, -1, nullptr},
    {"localhost||tlitcp", false, 0, 0, "127.0.0.1", 0, nullptr},
    {"127.0.0.1|70000|tlitcp", false, 0, 0, "127.0.0.1", 70000 & 0xffff, nullptr},
    {"127.0.0.1|dvzsvc|tlitcp", false, 0, 0, "127.0.0.1", dvzsvc_port, nullptr},
    {"127.0.0.1|nosuchsvc|tlitcp", false, -1, -931, nullptr, -1, "nosuchsvc"},
    {"dbhost|1526|tlitcp", false, 0, 0, "10.0.0.2", 1526, nullptr},
    {"nosuchhost|1526|tlitcp", false, -1, -930, nullptr, -1, "nosuchhost"},
    {"*|1526|tlitcp", true, 0, 0, "0.0.0.0", 1526, nullptr},
    {"*dbhost|1526|tlitcp", true, 0, 0, "0.0.0.0", 1526, nullptr},
    {"*dbhost|1526|tlitcp", false, 0, 0, "10.0.0.2", 1526, nullptr},
    // An empty host on a connecting block, and dotted texts inet_addr refuses.
    {"*|1526|tlitcp", false, -1, -930, nullptr, -1, ""},
    {"|1526|tlitcp", false, -1, -930, nullptr, -1, ""},
    {"1.2.3.999|1526|tlitcp", false, -1, -930, nullptr, -1, "1.2.3.999"},
    {"1..2|1526|tlitcp", false, -1, -930, nullptr, -1, "1..2"},
    {"255.255.255.255|1526|tlitcp", false, 0, 0, "255.255.255.255", 1526, nullptr},
    {"10.1|9|tlitcp", false, 0, 0, "10.0.0.1", 9, nullptr},
    {"a|b|c|tlitcp", false, -1, -931, nullptr, -1, "b|c"},
};

TEST(TcpCons2Tladdr, ConvertsTextsAsTheTableSays) {
  TableResolver resolver;
  for (const ConsCase &c : cons_cases) {
    SCOPED_TRACE(std::string(c.text) + (c.listening ? " (listening)" : ""));
    drvblock drv = tcp_block(c.listening ? DRV_LISTENING : 0);
    asfsvcctl ctl = fresh_ctl();
    tladdr addr {};
    addr.ipaddr = 0xdeadbeef;
    EXPECT_EQ(tcpcons2tladdr(c.text, &addr, &ctl, &drv), c.rc);
    EXPECT_EQ(ctl.asfcode, c.asfcode);
    if (c.asfcode == -930 || c.asfcode == -25591) {
      EXPECT_EQ(ctl.oserr, 0);
    }
    if (c.ip != nullptr) {
      EXPECT_EQ(addr.ipaddr, dotted(c.ip));
    }
    if (c.port >= 0) {
      EXPECT_EQ(ntohs(static_cast<uint16_t>(addr.port)), c.port);
      EXPECT_EQ(addr.port >> 16, 0u);
    }
    if (c.errstr != nullptr) {
      EXPECT_STREQ(ctl.errstr, c.errstr);
    }
  }
}

TEST(TcpCons2Tladdr, RefusesNullAndOverlongTextsWithoutCutting) {
  TableResolver resolver;
  drvblock drv = tcp_block();
  asfsvcctl ctl = fresh_ctl();
  ctl.oserr = 77;
  tladdr addr {};
  EXPECT_EQ(tcpcons2tladdr(nullptr, &addr, &ctl, &drv), -1);
  EXPECT_EQ(ctl.asfcode, -25591);
  EXPECT_EQ(ctl.oserr, 77);

  // 399 characters reach the look-up whole: the host comes back entire.
  const std::string tail = "|1526|tlitcp";
  const std::string host(399 - tail.size(), 'h');
  ctl = fresh_ctl();
  EXPECT_EQ(tcpcons2tladdr((host + tail).c_str(), &addr, &ctl, &drv), -1);
  EXPECT_EQ(ctl.asfcode, -930);
  EXPECT_EQ(std::string(ctl.errstr), host);

  // One more is refused, not cut down to something that might resolve.
  const std::string over = "127.0.0.1|1526|" + std::string(400 - 15, 't');
  ASSERT_EQ(over.size(), 400u);
  ctl = fresh_ctl();
  EXPECT_EQ(tcpcons2tladdr(over.c_str(), &addr, &ctl, &drv), -1);
  EXPECT_EQ(ctl.asfcode, -25591);
  EXPECT_EQ(ctl.oserr, 0);
}

/* ---- Transport address to text. ---- */

struct ConsBackCase {
  uint32_t ip; /* host order */
  const char *text;
  int form;
};

constexpr ConsBackCase back_cases[] = {
    {0, "WILDCARD|1526|tlitcp", 8},
    {INADDR_LOOPBACK, "localhost|1526|tlitcp", 8},
    {0x0a000001, "a000001|1526|tlitcp", 2},
    {dbhost_ip, "dbhost|1526|tlitcp", 8},
};

using asf_test::free_peer;

TEST(TcpTladdr2Cons, WritesHostPortAndProtocolWithTheForm) {
  TableResolver resolver;
  for (const ConsBackCase &c : back_cases) {
    SCOPED_TRACE(c.text);
    drvblock drv = tcp_block();
    asfsvcctl ctl = fresh_ctl();
    tladdr addr {};
    addr.ipaddr = htonl(c.ip);
    addr.port = htons(1526);
    tlpeeraddr *rec = nullptr;
    ASSERT_EQ(tcptladdr2cons(&addr, &rec, &drv, &ctl), 0);
    ASSERT_NE(rec, nullptr);
    ASSERT_NE(rec->pair, nullptr);
    EXPECT_STREQ(rec->pair->text, c.text);
    EXPECT_EQ(rec->pair->form, c.form);
    free_peer(rec);
  }
}

TEST(TcpTladdr2Cons, ConnectionToItselfGivesTheNodeName) {
  drvblock drv = tcp_block();
  tladdr addr {};
  addr.ipaddr = htonl(0x0a000009);
  addr.port = htons(7);
  drv.reqaddr = addr;
  drv.repaddr = addr;
  asfsvcctl ctl = fresh_ctl();
  tlpeeraddr *rec = nullptr;
  ASSERT_EQ(tcptladdr2cons(&addr, &rec, &drv, &ctl), 0);
  char node[ASF_NODENAME_SIZE];
  ASSERT_EQ(rhostname(node, sizeof node), 0);
  EXPECT_EQ(std::string(rec->pair->text), std::string(node) + "|7|tlitcp");
  EXPECT_EQ(rec->pair->form, 8);
  free_peer(rec);
}

TEST(TcpTladdr2Cons, MemoryFailureAtEachStepLeavesNothing) {
  TableResolver resolver;
  for (int fail_at = 1; fail_at <= 4; ++fail_at) {
    SCOPED_TRACE(fail_at);
    CountingMemory memory(fail_at);
    drvblock drv = tcp_block();
    asfsvcctl ctl = fresh_ctl();
    tladdr addr {};
    addr.ipaddr = htonl(dbhost_ip);
    tlpeeraddr *rec = nullptr;
    int rc = tcptladdr2cons(&addr, &rec, &drv, &ctl);
    if (rc == 0) {
      free_peer(rec);
      continue;
    }
    EXPECT_EQ(ctl.asfcode, -406);
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

/* ---- Socket-address buffers, bound-port check, dotted form. ---- */

TEST(TcpAddressBuffers, LoadAddrBuildsTheSocketAddressAndPortBindCompares) {
  tladdr addr {};
  addr.ipaddr = htonl(INADDR_LOOPBACK);
  addr.port = htons(1526);
  char first_area[16];
  std::memset(first_area, 0x55, sizeof first_area);
  char second_area[16] = {};
  struct netbuf first {
    0, 0, first_area
  };
  struct netbuf second {
    0, 0, second_area
  };
  EXPECT_EQ(tlitcp_load_addr(&addr, &first, &second), 0);
  EXPECT_EQ(first.len, 16u);
  EXPECT_EQ(first.maxlen, 16u);
  EXPECT_EQ(second.len, 16u);
  EXPECT_EQ(second.maxlen, 16u);
  struct sockaddr_in in;
  std::memcpy(&in, first_area, sizeof in);
  EXPECT_EQ(in.sin_family, AF_INET);
  EXPECT_EQ(ntohs(in.sin_port), 1526);
  EXPECT_EQ(ntohl(in.sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(std::memcmp(in.sin_zero, "\0\0\0\0\0\0\0\0", 8), 0);

  tladdr back {};
  sockaddr_in2tladdr(first_area, &back);
  EXPECT_EQ(back.ipaddr, addr.ipaddr);
  EXPECT_EQ(back.port, addr.port);

  // Without an address the first buffer is left alone.
  struct netbuf untouched {
    3, 3, first_area
  };
  EXPECT_EQ(tlitcp_load_addr(nullptr, &untouched, nullptr), 0);
  EXPECT_EQ(untouched.len, 3u);

  char other_area[16];
  tladdr other = addr;
  other.port = htons(1527);
  tladdr2sockaddr_in(&other, other_area);
  struct t_bind request {
    {16, 16, first_area}, 0
  };
  struct t_bind returned {
    {16, 16, other_area}, 0
  };
  EXPECT_EQ(tlitcpport_bind(&request, &returned, nullptr), -1);
  EXPECT_EQ(tlitcpport_bind(&request, &request, nullptr), 0);

  drvblock drv = tcp_block();
  char out[64];
  EXPECT_EQ(tcptladdr2netf(&addr, out, &drv), 0);
  EXPECT_STREQ(out, "127.0.0.1.|1526|tlitcp");
}

/* ---- Options on a real endpoint. ---- */

int sockopt(int fd, int level, int name) {
  int v = -1;
  socklen_t len = sizeof v;
  EXPECT_EQ(getsockopt(fd, level, name, &v, &len), 0);
  return v;
}

TEST(TcpOptions, BitsGiveTheSocketOptionsAndTheConfirmedState) {
  struct Case {
    uint32_t keepalive;
    int bits;
    int keepalive_value;
    uint32_t state;
  };
  constexpr Case cases[] = {
      {0, 13, 0, drv_opt_nodelay | drv_opt_linger},
      {1, 15, 1, drv_opt_nodelay | drv_opt_linger | drv_opt_keepalive},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bits);
    ASSERT_EQ(net_setoptions(c.keepalive), c.bits);
    int fd = t_open("/dev/tcp", O_RDWR, nullptr);
    ASSERT_GE(fd, 0);
    drvblock drv = tcp_block();
    EXPECT_EQ(tlitcp_setopts(&drv, fd, c.bits), 0);
    EXPECT_EQ(drv.optstate, c.state);
    EXPECT_EQ(sockopt(fd, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(sockopt(fd, SOL_SOCKET, SO_REUSEADDR), 1);
    EXPECT_EQ(sockopt(fd, SOL_SOCKET, SO_KEEPALIVE), c.keepalive_value);
    struct linger l {};
    socklen_t len = sizeof l;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len), 0);
    EXPECT_NE(l.l_onoff, 0);
    EXPECT_EQ(l.l_linger, 60);
    // The reader asks one option, keep-alive first.
    EXPECT_EQ(tlitcp_getopts(&drv, fd, 2 | 1), c.keepalive_value);
    EXPECT_EQ(tlitcp_getopts(&drv, fd, 4), 60);
    EXPECT_EQ(tlitcp_getopts(&drv, fd, 0), -1);
    EXPECT_EQ(t_close(fd), 0);
  }
}

/* ---- The expedited-data signal on a real connection. ---- */

/* A connected TLI endpoint with its association, buffers and endpoint
** record, the peer's end a plain socket. The signal handlers in place
** before come back at the end. */
class SignalledConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    sigaction(SIGPOLL, nullptr, &old_poll_);
    sigaction(SIGURG, nullptr, &old_urg_);
    sockaddr_in sa {};
    int lsn = asf_test::loopback_listener(1, &sa);
    ASSERT_GE(lsn, 0);

    fd_ = t_open("/dev/tcp", O_RDWR, nullptr);
    ASSERT_GE(fd_, 0);
    ASSERT_EQ(t_bind(fd_, nullptr, nullptr), 0);
    struct t_call call {};
    call.addr.maxlen = call.addr.len = sizeof sa;
    call.addr.buf = reinterpret_cast<char *>(&sa);
    ASSERT_EQ(t_connect(fd_, &call, nullptr), 0);
    peer_ = accept(lsn, nullptr, nullptr);
    close(lsn);
    ASSERT_GE(peer_, 0);

    ctl_ = fresh_ctl();
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, status_);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
    drv_ = tcp_block(DRV_CONNECTING);
    drv_.bufsize = 4096;
    ASSERT_EQ(load_operation_vector(&drv_), 0);
    ctl_.asfcode = 0;
    ASSERT_EQ(net_buffer_setup(&drv_, assoc_, &ctl_), 0);
    auto *t = static_cast<tlictl *>(meAlloc(0, sizeof(tlictl)));
    t->fd = fd_;
    t->info[6] = T_COTS_ORD;
    drv_.priv = t;
    drv_.rcvcheck = DRV_RCVCHECK;
  }
  void TearDown() override {
    if (assoc_ != nullptr) {
      disctli(&drv_, 0x8000, &ctl_);
      alCSfree(assoc_);
    }
    if (peer_ >= 0) close(peer_);
    sigaction(SIGPOLL, &old_poll_, nullptr);
    sigaction(SIGURG, &old_urg_, nullptr);
  }

  /* Sleeps in short steps until pred holds or 3 s passed. */
  template <typename P>
  bool wait_for(P pred) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  struct sigaction old_poll_ {
  }, old_urg_ {};
  int fd_ = -1;
  int peer_ = -1;
  char status_[4] = {};
  asfsvcctl ctl_ {};
  Assocctl *assoc_ = nullptr;
  drvblock drv_ {};
};

TEST_F(SignalledConnection, UrgentByteLandsInTheExpeditedByteAndDataStaysWhole) {
  ASSERT_EQ(tlitcp_siginit(assoc_, &drv_), 0);
  drv_.flags |= DRV_SIGARMED;
  ASSERT_EQ(send(peer_, "hello", 5, 0), 5);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(send(peer_, "!", 1, MSG_OOB), 1);
  EXPECT_TRUE(wait_for([&] { return status_[1] == '!'; }));

  rscbufctl *buf = nullptr;
  ASSERT_EQ(recvtli(&drv_, &buf, &ctl_), 0);
  EXPECT_EQ(std::string(buf->p, buf->size), "hello");
  EXPECT_EQ(bufReg(assoc_, 10, buf), 0);

  rscbufctl *x = nullptr;
  ASSERT_EQ(roobtli(&drv_, &x, &ctl_), 0);
  EXPECT_EQ(x->size, 1);
  EXPECT_EQ(x->p[0], '!');
  EXPECT_EQ(bufReg(assoc_, 6, x), 0);
}

TEST_F(SignalledConnection, PeerResetSetsStatusOneAndK) {
  ASSERT_EQ(tlitcp_siginit(assoc_, &drv_), 0);
  drv_.flags |= DRV_SIGARMED;
  struct linger l {
    1, 0
  };
  ASSERT_EQ(setsockopt(peer_, SOL_SOCKET, SO_LINGER, &l, sizeof l), 0);
  close(peer_);
  peer_ = -1;
  EXPECT_TRUE(wait_for([&] { return status_[0] == 1; }));
  EXPECT_EQ(status_[1], 'K');
  rscbufctl *x = nullptr;
  ASSERT_EQ(roobtli(&drv_, &x, &ctl_), 0);
  EXPECT_EQ(x->size, 1);
  EXPECT_EQ(x->p[0], 'K');
  EXPECT_EQ(bufReg(assoc_, 6, x), 0);
}

}  // namespace

namespace {

TEST_F(SignalledConnection, DisconnectLeavesTheSignalNothingToRead) {
  // The block lives on the heap, as a transport block does, and goes away
  // after the disconnect.
  auto *drv = new drvblock(drv_);
  drv_.priv = nullptr;
  ASSERT_EQ(tlitcp_siginit(assoc_, drv), 0);
  drv->flags |= DRV_SIGARMED;
  EXPECT_EQ(disctli(drv, 0x8000, &ctl_), 0);
  EXPECT_EQ(drv->priv, nullptr);
  delete drv;
  // A late signal must not reach the freed block.
  raise(SIGPOLL);
  EXPECT_EQ(status_[0], 0);
}

}  // namespace

namespace {

/* Opens n TCP endpoints (the descriptors past any seen before) and closes
** them again; false when an open failed. */
bool open_and_close_endpoints(int n) {
  std::vector<int> fds;
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) {
    const int fd = t_open("/dev/tcp", O_RDWR, nullptr);
    if (fd >= 0) fds.push_back(fd);
    ok = fd >= 0;
  }
  for (int fd : fds)
    t_close(fd);
  return ok;
}

/* Allocates n associations and frees them again; false when one failed. */
bool alloc_and_free_associations(int n) {
  std::vector<Assocctl *> made;
  asfsvcctl ctl = fresh_ctl();
  char status[4] = {};
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) {
    Assocctl *a = alCSalloc(&ctl, asf_kind_requester, status);
    if (a != nullptr) made.push_back(a);
    ok = a != nullptr;
  }
  for (Assocctl *a : made)
    ok = alCSfree(a) == 0 && ok;
  return ok;
}

/* The handler's look-ups run right after each free of the main flow:
** while the endpoint table grows and the association register changes. */
TEST_F(SignalledConnection, HandlerLooksUpWhileTheTablesChange) {
  ASSERT_EQ(tlitcp_siginit(assoc_, &drv_), 0);
  drv_.flags |= DRV_SIGARMED;
  raise_after_free = SIGURG;
  const bool opened = open_and_close_endpoints(300);
  const bool allocated = alloc_and_free_associations(100);
  raise_after_free = 0;
  EXPECT_TRUE(opened);
  EXPECT_TRUE(allocated);
  EXPECT_EQ(status_[0], 0);
}

/* SIGURG and SIGALRM sent as fast as they go while the main flow opens and
** closes endpoints and associations; the alarm runs the re-advertisement,
** whose datagram send looks its endpoint up in the same table. */
TEST_F(SignalledConnection, SignalStormWhileEndpointsAndAssociationsComeAndGo) {
  struct sigaction old_alrm {};
  sigaction(SIGALRM, nullptr, &old_alrm);
  ASSERT_EQ(tlitcp_siginit(assoc_, &drv_), 0);
  drv_.flags |= DRV_SIGARMED;
  const SapDInfo_t saved_sap = SapDInfo;
  SapDInfo.fd = fd_;
  ASSERT_NE(svr4_signal(SIGALRM, sap_readvertise), SIG_ERR);

  const pthread_t target = pthread_self();
  std::atomic<bool> stop {false};
  std::atomic<long> sent {0};
  std::thread storm([&] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    while (!stop) {
      pthread_kill(target, (sent & 1) != 0 ? SIGALRM : SIGURG);
      ++sent;
      std::this_thread::yield();
    }
  });
  // At least a few rounds and at least a while of signals, however loaded
  // the machine is (a round may take seconds under a parallel ASan run).
  bool ok = true;
  const auto start = std::chrono::steady_clock::now();
  int rounds = 0;
  while (ok && (rounds < 3 ||
                std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500))) {
    ok = open_and_close_endpoints(40) && alloc_and_free_associations(40);
    ++rounds;
  }
  stop = true;
  storm.join();
  // Handlers the re-advertisement installs: no restart flag, as every
  // handler of the library.
  struct sigaction now {};
  sigaction(SIGALRM, nullptr, &now);
  svr4_signal(SIGALRM, SIG_IGN);
  alarm(0);
  sigaction(SIGALRM, &old_alrm, nullptr);
  SapDInfo = saved_sap;
  EXPECT_TRUE(ok);
  EXPECT_GE(rounds, 3);
  EXPECT_GT(sent.load(), 100);
  EXPECT_EQ(now.sa_handler, sap_readvertise);
  EXPECT_EQ(now.sa_flags & SA_RESTART, 0);
  EXPECT_EQ(status_[0], 0);
}

}  // namespace
