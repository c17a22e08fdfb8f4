/*
** Transport layer and protocol switch: the address-to-row look-up, the
** rows and their vectors, initialisation and termination over the real
** table and over a recording copy, and the transport block's flags and
** states through a scripted fake driver put behind the "tlitcp" row with
** the driver-row override. The fake driver lends the real network
** buffers, so a connect/disconnect cycle is checked for leaks with the
** counting memory table.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "pipe_driver.h"
#include "shm_driver.h"
#include "strpipe_driver.h"
#include "tl_records.h"

namespace {

using asf_test::CountingMemory;

constexpr int tcp_row = 3;

using asf_test::fresh_ctl;

/* ---- The scripted fake driver. ---- */

/* What the fake entries answer, and what they saw. */
struct Script {
  std::vector<std::string> calls;
  std::string init_fails; /* name of the row whose init fails */
  int term_rc = 0;
  int conn_rc = 0; /* -1: fail with fail_status */
  int lisn_rc = 0;
  int accp_rc = 0;
  int io_rc = 0; /* send, recv, soob, roob, wait, attr */
  int fail_status = -908;
  drvblock *drv = nullptr; /* the driver block of the last call */
  const void *arg = nullptr; /* its argument */
  int flags = 0; /* disc's flags, lisn's mode */
  uint32_t accp_new_state = 0; /* the new block's state during accp */
  void *accp_new_priv = nullptr;
};
Script script;

std::string str(const char *s) { return s != nullptr ? s : "(null)"; }

int fail(asfsvcctl *ctl) {
  driver_error(ctl, script.fail_status, 111);
  return -1;
}

int fake_init(asfsvcctl *ctl, void *, int type, const char *name) {
  script.calls.push_back("init " + str(name) + " " + std::to_string(type));
  return script.init_fails == str(name) ? fail(ctl) : 0;
}
int fake_term(asfsvcctl *, void *) {
  script.calls.push_back("term");
  return script.term_rc;
}

/* A connect as a driver makes it: vector, private record, buffers. */
int fake_conn(drvblock *drv, tlconnreq *, asfsvcctl *ctl) {
  script.calls.push_back("conn " + str(drv->protname) + " " + str(drv->device));
  script.drv = drv;
  if (load_operation_vector(drv) != 0) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, 0);
    return -1;
  }
  if (script.conn_rc != 0) return fail(ctl);
  drv->bufsize = 100;
  drv->priv = asf_alloc(asf_pool_assoc, sizeof(tlictl));
  if (drv->priv == nullptr || net_buffer_setup(drv, static_cast<Assocctl *>(ctl->ascid), ctl) != 0)
    return -1;
  return 0;
}
int fake_lisn(drvblock *drv, tlconnreq *, int mode, asfsvcctl *ctl) {
  script.calls.push_back("lisn " + std::to_string(mode));
  script.drv = drv;
  script.flags = mode;
  if (mode == 0) load_operation_vector(drv);
  return script.lisn_rc != 0 ? fail(ctl) : 0;
}
int fake_accp(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl) {
  script.calls.push_back("accp");
  script.drv = drv;
  script.arg = peer;
  auto *nb = static_cast<tlblock *>(newassoc->tlblock);
  script.accp_new_state = nb->state;
  script.accp_new_priv = nb->drv.priv;
  return script.accp_rc != 0 ? fail(ctl) : 0;
}
template <typename Arg>
int record_io(const char *name, drvblock *drv, Arg arg, asfsvcctl *ctl) {
  script.calls.push_back(name);
  script.drv = drv;
  script.arg = arg;
  return script.io_rc != 0 ? fail(ctl) : 0;
}
int fake_send(drvblock *d, rscbufctl *b, asfsvcctl *c) { return record_io("send", d, b, c); }
int fake_recv(drvblock *d, rscbufctl **b, asfsvcctl *c) { return record_io("recv", d, b, c); }
int fake_soob(drvblock *d, rscbufctl *b, asfsvcctl *c) { return record_io("soob", d, b, c); }
int fake_roob(drvblock *d, rscbufctl **b, asfsvcctl *c) { return record_io("roob", d, b, c); }
int fake_wait(drvblock *d, void *a, asfsvcctl *c) { return record_io("wait", d, a, c); }
int fake_attr(drvblock *d, void *a) { return record_io("attr", d, a, nullptr); }
/* A disconnect gives the buffers and the private record back. */
int fake_disc(drvblock *drv, int flags, asfsvcctl *ctl) {
  script.calls.push_back("disc " + std::to_string(flags));
  script.drv = drv;
  script.flags = flags;
  if (flags != 512) net_deallocate(drv, ctl);
  return -1; /* ignored by the layer */
}

constexpr opvec full_vector = {
    fake_init, fake_term, nullptr, fake_lisn, fake_accp, fake_send, fake_recv, fake_soob,
    fake_roob, fake_disc, nullptr, nullptr,   fake_attr, fake_wait, nullptr,   nullptr,
    nullptr,   nullptr,   nullptr, nullptr,   nullptr,   nullptr,
};
/* Only init and disc: every other call meets an empty slot. */
constexpr opvec bare_vector = {
    fake_init, nullptr,   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,   fake_disc, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,   nullptr,   nullptr, nullptr, nullptr, nullptr,
};
const opvec *fake_vector = &full_vector;

const opvec *fake_vector_of(int type) { return type == tl_drv_tlitcp ? fake_vector : nullptr; }

/* Puts the fake driver behind the "tlitcp" row, and recording init and
** term entries in every row, for its lifetime; also clears the script. */
class FakeDriver {
 public:
  FakeDriver() {
    for (int i = 0; i < table_.rows(); ++i) {
      table_.row(i).init = fake_init;
      table_.row(i).term = fake_term;
    }
    table_.row(tcp_row).conn = fake_conn;
    table_.row(tcp_row).lisn = fake_lisn;
    script = Script {};
    fake_vector = &full_vector;
  }
  tlnetsw &row(int i) { return table_.row(i); }

 private:
  asf_test::DriverTableOverride table_ {fake_vector_of};
};

/* An association with its protocol-family blocks (header room 6), freed
** at the end with whatever transport block is left. */
struct Assoc {
  char status[12] = {};
  asfsvcctl ctl = fresh_ctl();
  Assocctl *a = nullptr;
  explicit Assoc(int kind = asf_kind_requester) {
    a = alCSalloc(&ctl, kind, status);
    EXPECT_NE(a, nullptr);
    ctl.ascid = a;
    EXPECT_EQ(sqlCSalloc(&ctl, 0, "sqli", ""), 0);
  }
  ~Assoc() {
    if (a->tlblock != nullptr) tlCSfree(a);
    alCSfree(a);
  }
  tlblock *tb() const { return static_cast<tlblock *>(a->tlblock); }
};

using Request = asf_test::TransportRequest;

/* An init request of service 0: flags, then the protocol list. */
struct InitRequest {
  asfsvcreq req {};
  std::vector<std::array<unsigned char, TL_PROT_ENTRY_SIZE>> entries;
  InitRequest(uint32_t flags, const std::vector<std::string> &names, int count = INT_MIN) {
    for (const std::string &name : names) {
      std::array<unsigned char, TL_PROT_ENTRY_SIZE> e {};
      std::memcpy(e.data() + TL_PROT_NAME_OFFSET, name.data(),
                  std::min(name.size(), size_t {TL_PROT_NAME_SIZE}));
      entries.push_back(e);
    }
    req.word[1] = flags;
    req.word[7] = static_cast<uintptr_t>(count == INT_MIN ? static_cast<int>(names.size()) : count);
    req.word[8] = reinterpret_cast<uintptr_t>(entries.empty() ? nullptr : entries.data());
  }
  void *arg() { return &req.word[1]; }
};

/* A global control block for the test's life. */
class GlobalBlock {
 public:
  GlobalBlock() {
    asfsvcreq req {};
    asfsvcctl ctl = fresh_ctl();
    EXPECT_EQ(defineASFCtl(&req, &ctl), 0);
  }
  ~GlobalBlock() {
    asfsvcctl ctl = fresh_ctl();
    EXPECT_EQ(deleteASFCtl(&ctl), 0);
  }
};

/* ---- Protocol switch. ---- */

TEST(ProtocolSwitch, ProtocolIndexOfAnAddress) {
  struct Case {
    const char *address;
    int index;
  };
  const Case cases[] = {
      {"host|1526|ipcshm", 0},
      {"host|svc|ipcpip", 1},
      {"h|s|ipcstr", 2},
      {"127.0.0.1|1526|tlitcp", 3},
      {"|tlispx", 4},
      {"a|b|tliipx", 5},
      {"a|b|tliimc", 6},
      {"a|b|TLITCP", -1},
      {"a b tlitcp", -1},
      {"a|b|sqlmux", -1},
      {"a|b|", -1},
      {"a|tlitcp|x", -1},
      {"a|b|tlitcp ", -1},
      {"a|b|tli", -1},
      {"", -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(tlcons2inx(c.address), c.index);
  }
  EXPECT_EQ(tlcons2inx(nullptr), -1);
}

TEST(ProtocolSwitch, RowsReachTheirDriversVectors) {
  struct Case {
    const char *name;
    int type;
    const char *device;
    bool network; /* carries the internet family */
    tl_init_fn init;
    tl_conn_fn conn;
    tl_send_fn send;
    tl_disc_fn disc;
    bool addressing; /* the vector's address slots 14 and 15 filled */
    bool row_addressing; /* the row carries the same two conversions */
    bool port_bind; /* slot 21 filled */
  };
  const Case cases[] = {
      {"ipcshm", 10, "sharemem", false, initshm, connshm, sendshm, discshm, true, false, false},
      {"ipcpip", 9, "pipe", false, initpip, connpip, sendpip, discpip, true, true, false},
      {"ipcstr", 12, "streampipe", false, initstr, connstr, sendstr, discstr, true, false, false},
      {"tlitcp", 0, "/dev/tcp", true, inittli, conntli, sendtli, disctli, true, true, true},
      {"tlispx", 5, "/dev/mspx", true, inittli, conntli, sendtli, disctli, true, true, true},
      {"tliipx", 5, "/dev/mspx", true, inittli, conntli, sendtli, disctli, true, true, true},
      {"tliimc", 17, "/dev/tcp", true, inittli, conntli, sendtli, disctli, true, true, true},
  };
  int i = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const tlnetsw &row = tlnetswtab[i++];
    ASSERT_NE(row.name, nullptr);
    EXPECT_STREQ(row.name, c.name);
    EXPECT_EQ(row.drvtype, c.type);
    EXPECT_STREQ(row.device, c.device);
    EXPECT_EQ(row.family, c.network ? &internet : nullptr);
    EXPECT_EQ(row.init, c.init);
    EXPECT_NE(row.term, nullptr);
    EXPECT_EQ(row.conn, c.conn);
    drvblock drv {};
    drv.type = row.drvtype;
    ASSERT_EQ(load_operation_vector(&drv), 0);
    EXPECT_EQ(drv.ops.init, c.init);
    EXPECT_EQ(drv.ops.conn, c.conn);
    EXPECT_EQ(drv.ops.send, c.send);
    EXPECT_EQ(drv.ops.disc, c.disc);
    EXPECT_EQ(drv.ops.cons2tladdr != nullptr, c.addressing);
    EXPECT_EQ(drv.ops.port_bind != nullptr, c.port_bind);
    if (c.row_addressing) {
      EXPECT_EQ(row.cons2tladdr, drv.ops.cons2tladdr);
      EXPECT_EQ(row.tladdr2cons, drv.ops.tladdr2cons);
    }
  }
  EXPECT_EQ(tlnetswtab[i].name, nullptr);
  EXPECT_EQ(internet.family, 2);
  EXPECT_STREQ(internet.name, "internet");

  drvblock tcp {}, imc {};
  tcp.type = tl_drv_tlitcp;
  imc.type = tl_drv_tliimc;
  ASSERT_EQ(load_operation_vector(&tcp), 0);
  ASSERT_EQ(load_operation_vector(&imc), 0);
  EXPECT_EQ(std::memcmp(&tcp.ops, &imc.ops, sizeof(opvec)), 0);
  EXPECT_EQ(tcp.ops.setopts, tlitcp_setopts);
  EXPECT_EQ(tcp.ops.siginit, tlitcp_siginit);
}

/* ---- Initialisation and termination. ---- */

TEST(TlInit, OneUnnamedEntryInitialisesEveryRowInTableOrder) {
  {
    FakeDriver fake;
    asfsvcctl ctl = fresh_ctl();
    InitRequest init(0, {""});
    ASSERT_EQ(tlInit(&ctl, init.arg()), 0);
    const std::vector<std::string> expected = {
        "init ipcshm 10", "init ipcpip 9", "init ipcstr 12", "init tlitcp 0",
        "init tlispx 5",  "init tliipx 5", "init tliimc 17",
    };
    EXPECT_EQ(script.calls, expected);
  }
  // The real table: the local rows' placeholders and the TLI init succeed
  // without any device present.
  asfsvcctl ctl = fresh_ctl();
  InitRequest init(0, {""});
  EXPECT_EQ(tlInit(&ctl, init.arg()), 0);
}

TEST(TlInit, ProtocolListsAndCounts) {
  struct Case {
    const char *label;
    std::vector<std::string> names;
    int count; /* INT_MIN: the number of names */
    std::string failing_init;
    int rc;
    int status;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"multiplexer skipped", {"sqlmux", "tlitcp"}, INT_MIN, "", 0, 0, {"init tlitcp 0"}},
      {"list order", {"tliimc", "ipcshm"}, INT_MIN, "", 0, 0, {"init tliimc 17", "init ipcshm 10"}},
      {"name in capitals", {"TLITCP"}, INT_MIN, "", -1, TL_STATUS_NO_PROTOCOL, {}},
      {"unknown after known",
       {"tlitcp", "bogus"},
       INT_MIN,
       "",
       -1,
       TL_STATUS_NO_PROTOCOL,
       {"init tlitcp 0"}},
      {"count 0", {""}, 0, "", -1, TL_ERR_NO_PROTOCOLS, {}},
      {"negative count", {""}, -1, "", 0, 0, {}},
      {"failing init stops", {"tlitcp", "ipcpip"}, INT_MIN, "tlitcp", -1, -908, {"init tlitcp 0"}},
      {"failing init stops the walk",
       {""},
       INT_MIN,
       "ipcpip",
       -1,
       -908,
       {"init ipcshm 10", "init ipcpip 9"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    FakeDriver fake;
    script.init_fails = c.failing_init;
    asfsvcctl ctl = fresh_ctl();
    InitRequest init(0, c.names, c.count);
    EXPECT_EQ(tlInit(&ctl, init.arg()), c.rc);
    if (c.rc != 0) {
      EXPECT_EQ(ctl.asfcode, c.status);
    }
    EXPECT_EQ(script.calls, c.calls);
  }
}

TEST(TlInit, FirstInitialisationHangsTheGlobalRecordAndTermFreesIt) {
  CountingMemory memory;
  GlobalBlock global;
  FakeDriver fake;
  tlprototab = nullptr;
  asfsvcctl ctl = fresh_ctl();
  InitRequest init(TL_INIT_FIRST | 1, {"tlitcp"});
  ASSERT_EQ(tlInit(&ctl, init.arg()), 0);
  EXPECT_EQ(tlprototab, &fake.row(0)); /* the table the seam gives */
  auto *tg = static_cast<tlglobal *>(asfglbctl->prottab);
  ASSERT_NE(tg, nullptr);
  EXPECT_EQ(tg->flags, TLG_NETDATA);
  // A second first-initialisation keeps the record.
  ASSERT_EQ(tlInit(&ctl, init.arg()), 0);
  EXPECT_EQ(asfglbctl->prottab, tg);

  script.term_rc = -1;
  EXPECT_EQ(tlTerm(&ctl, nullptr), -1);
  EXPECT_EQ(asfglbctl->prottab, tg);
  script.calls.clear();
  script.term_rc = 0;
  EXPECT_EQ(tlTerm(&ctl, nullptr), 0);
  EXPECT_EQ(script.calls.size(), 7u);
  EXPECT_EQ(asfglbctl->prottab, nullptr);
}

TEST(TlInit, GlobalRecordWithoutMemory) {
  GlobalBlock global;
  FakeDriver fake;
  CountingMemory memory(1);
  asfsvcctl ctl = fresh_ctl();
  InitRequest init(TL_INIT_FIRST, {"tlitcp"});
  EXPECT_EQ(tlInit(&ctl, init.arg()), -1);
  EXPECT_EQ(ctl.asfcode, ASF_ERR_MEMORY);
  EXPECT_EQ(asfglbctl->prottab, nullptr);
  EXPECT_TRUE(script.calls.empty());
}

/* ---- Connect. ---- */

TEST(TlConnect, FailuresBeforeAnyDriver) {
  struct Case {
    const char *address;
    int kind;
    int status;
    uint32_t flags;
    uint32_t state;
  };
  const Case cases[] = {
      // A local row reaches its driver, which refuses a remote host.
      {"host|svc|ipcpip", 1, ASF_ERR_BADADDR, TL_CONNECT | TL_FAILED, tl_state_idle},
      // SPX and IPX reach the TLI driver, whose server look-up finds no
      // datagram device on this machine.
      {"host|svc|tlispx", 1, TLI_ERR_CONNECT, TL_CONNECT | TL_FAILED, tl_state_idle},
      {"host|svc|tliipx", 1, TLI_ERR_CONNECT, TL_CONNECT | TL_FAILED, tl_state_idle},
      // Not a text address: refused, not reported as success.
      {"127.0.0.1|1526|tlitcp", 2, TL_STATUS_NO_PROTOCOL, TL_CONNECT, tl_state_connecting},
      {"127.0.0.1|1526|tlitcp", 0, TL_STATUS_NO_PROTOCOL, TL_CONNECT, tl_state_connecting},
      {"host|svc|tlitcp6", 1, TL_STATUS_NO_PROTOCOL, TL_CONNECT, tl_state_connecting},
      {"host svc tlitcp", 1, TL_STATUS_NO_PROTOCOL, TL_CONNECT, tl_state_connecting},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.address) + " kind " + std::to_string(c.kind));
    Assoc assoc;
    Request req(c.address, c.kind);
    const int fds = asf_test::fd_count();
    EXPECT_EQ(tlConnect(&assoc.ctl, &req.req), -1);
    EXPECT_EQ(asf_test::settled_fd_count(fds), fds);
    EXPECT_EQ(assoc.ctl.asfcode, c.status);
    ASSERT_NE(assoc.tb(), nullptr);
    EXPECT_EQ(assoc.tb()->flags, c.flags);
    EXPECT_EQ(assoc.tb()->state, c.state);
  }
}

TEST(TlConnect, WithoutAValidAssociation) {
  asfsvcctl ctl = fresh_ctl();
  Request req("h|s|tlitcp");
  EXPECT_EQ(tlConnect(&ctl, &req.req), -1);
  EXPECT_EQ(ctl.asfcode, TL_ERR_NO_ASSOC);
  Assoc assoc;
  CountingMemory memory(1);
  EXPECT_EQ(tlConnect(&assoc.ctl, &req.req), -1);
  EXPECT_EQ(assoc.ctl.asfcode, ASF_ERR_MEMORY);
  EXPECT_EQ(assoc.tb(), nullptr);
}

TEST(TlConnect, ThroughTheFakeDriverAndBackToNothing) {
  CountingMemory memory;
  FakeDriver fake;
  Assoc assoc;
  const int before = memory.outstanding();
  Request req("127.0.0.1|1526|tlitcp");
  ASSERT_EQ(tlConnect(&assoc.ctl, &req.req), 0);
  tlblock *tb = assoc.tb();
  ASSERT_NE(tb, nullptr);
  EXPECT_EQ(assoc.a->tlsize, sizeof(tlblock));
  EXPECT_EQ(tb->flags, uint32_t {TL_CONNECT});
  EXPECT_EQ(tb->state, uint32_t {tl_state_connected});
  EXPECT_EQ(tb->protinx, tcp_row);
  EXPECT_EQ(tb->drv.type, tl_drv_tlitcp);
  EXPECT_STREQ(tb->drv.protname, "tlitcp");
  EXPECT_STREQ(tb->drv.device, "/dev/tcp");
  EXPECT_EQ(script.calls, std::vector<std::string> {"conn tlitcp /dev/tcp"});
  // The association's references point into its connected block.
  EXPECT_EQ(assoc.a->tldrv, &tb->drv);
  EXPECT_EQ(assoc.a->tlops, &tb->drv.ops);
  EXPECT_NE(assoc.a->sndbuf, nullptr);
  EXPECT_NE(assoc.a->rcvbuf, nullptr);

  script.calls.clear();
  EXPECT_EQ(tlDiscon(&assoc.ctl, 10), 0);
  EXPECT_EQ(script.calls, std::vector<std::string> {"disc 10"});
  EXPECT_EQ(assoc.a->tlblock, nullptr);
  EXPECT_EQ(assoc.a->tldrv, nullptr);
  EXPECT_EQ(assoc.a->tlops, nullptr);
  EXPECT_EQ(assoc.a->sndbuf, nullptr);
  EXPECT_EQ(assoc.a->xrcvbuf, nullptr);
  EXPECT_EQ(memory.outstanding(), before);
  // The block is gone: the next operation finds no transport.
  EXPECT_EQ(tlDiscon(&assoc.ctl, 10), -1);
  EXPECT_EQ(assoc.ctl.asfcode, TL_ERR_NO_ASSOC);
}

TEST(TlConnect, DriverFailureLeavesTheBlockIdleAndFlagged) {
  FakeDriver fake;
  Assoc assoc;
  script.conn_rc = -1;
  script.fail_status = -908;
  Request req("127.0.0.1|1|tlitcp");
  EXPECT_EQ(tlConnect(&assoc.ctl, &req.req), -1);
  EXPECT_EQ(assoc.ctl.asfcode, -908);
  EXPECT_EQ(assoc.ctl.oserr, 111);
  EXPECT_EQ(assoc.tb()->flags, uint32_t {TL_CONNECT | TL_FAILED});
  EXPECT_EQ(assoc.tb()->state, uint32_t {tl_state_idle});
  // A failed driver call leaves the association's old references.
  EXPECT_EQ(assoc.a->tldrv, nullptr);
}

TEST(TlConnect, DriverWithoutVectorFailsWithNoVector) {
  FakeDriver fake;
  fake.row(tcp_row).drvtype = 99;
  Assoc assoc;
  Request req("127.0.0.1|1|tlitcp");
  EXPECT_EQ(tlConnect(&assoc.ctl, &req.req), -1);
  EXPECT_EQ(assoc.ctl.asfcode, TL_STATUS_NO_VECTOR);
  EXPECT_EQ(assoc.tb()->state, uint32_t {tl_state_idle});
}

/* ---- Forwarding operations. ---- */

/* A connected association on the fake driver, disconnected at the end. */
struct Connected : Assoc {
  Request req {"127.0.0.1|1526|tlitcp"};
  Connected() {
    EXPECT_EQ(tlConnect(&ctl, &req.req), 0);
    script.calls.clear();
  }
  ~Connected() {
    if (a->tlblock != nullptr) tlDiscon(&ctl, 0);
  }
};

TEST(TlForwarding, EachOperationReachesItsSlotWithTheDriverBlock) {
  FakeDriver fake;
  Connected assoc;
  drvblock *drv = &assoc.tb()->drv;
  rscbufctl buf {};
  rscbufctl *slot = nullptr;
  int waitarg = 0;
  struct Case {
    const char *call;
    int (*op)(asfsvcctl *, void *);
    const void *arg;
  };
  const Case cases[] = {
      {"send", [](asfsvcctl *c, void *a) { return tlSend(c, static_cast<rscbufctl *>(a)); }, &buf},
      {"recv", [](asfsvcctl *c, void *a) { return tlRecv(c, static_cast<rscbufctl **>(a)); },
       &slot},
      {"soob", [](asfsvcctl *c, void *a) { return tlSndexpt(c, static_cast<rscbufctl *>(a)); },
       &buf},
      {"roob", [](asfsvcctl *c, void *a) { return tlRcvexpt(c, static_cast<rscbufctl **>(a)); },
       &slot},
      {"wait", [](asfsvcctl *c, void *a) { return tlWait(c, a); }, &waitarg},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.call);
    for (int rc : {0, -1}) {
      script.calls.clear();
      script.io_rc = rc;
      script.drv = nullptr;
      assoc.ctl.asfcode = 0;
      EXPECT_EQ(c.op(&assoc.ctl, const_cast<void *>(c.arg)), rc);
      EXPECT_EQ(script.calls, std::vector<std::string> {c.call});
      EXPECT_EQ(script.drv, drv);
      EXPECT_EQ(script.arg, c.arg);
      EXPECT_EQ(assoc.ctl.asfcode, rc == 0 ? 0 : -908);
    }
  }
  // Only the successful expedited receive counts.
  EXPECT_EQ(drv->nexpt, 1);
  EXPECT_EQ(assoc.tb()->state, uint32_t {tl_state_connected});
}

TEST(TlForwarding, AttributeCodes) {
  FakeDriver fake;
  Connected assoc;
  int value = 0;
  struct Case {
    int32_t code;
    bool forwarded;
    bool value_cleared;
  };
  const Case cases[] = {
      {1, false, true}, {257, false, false}, {2, true, false}, {258, true, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    script.calls.clear();
    tlattr attr {c.code, &value};
    EXPECT_EQ(tlAttrib(&assoc.ctl, &attr), 0);
    EXPECT_EQ(attr.value, c.value_cleared ? nullptr : &value);
    EXPECT_EQ(script.calls.size(), c.forwarded ? 1u : 0u);
    if (c.forwarded) {
      EXPECT_EQ(script.arg, &attr);
    }
  }
}

TEST(TlForwarding, NoTransportGivesBadAssociation) {
  FakeDriver fake;
  rscbufctl buf {};
  rscbufctl *slot = nullptr;
  tlattr attr {1, &buf};
  using Op = int (*)(asfsvcctl *, rscbufctl *, rscbufctl **, tlattr *);
  const Op ops[] = {
      [](asfsvcctl *c, rscbufctl *b, rscbufctl **, tlattr *) { return tlSend(c, b); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **s, tlattr *) { return tlRecv(c, s); },
      [](asfsvcctl *c, rscbufctl *b, rscbufctl **, tlattr *) { return tlSndexpt(c, b); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **s, tlattr *) { return tlRcvexpt(c, s); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **, tlattr *) { return tlWait(c, nullptr); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **, tlattr *a) { return tlAttrib(c, a); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **, tlattr *) { return tlDiscon(c, 0); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **, tlattr *) { return tlListen(c, nullptr, 1); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **, tlattr *) { return tlListen(c, nullptr, 2); },
      [](asfsvcctl *c, rscbufctl *, rscbufctl **, tlattr *) {
        return tlAccept(c, nullptr, nullptr);
      },
  };
  // No association, an association without a transport block, a freed one.
  Assoc without_block;
  auto *freed = new Assoc;
  void *stale = freed->a;
  delete freed;
  for (void *id : {static_cast<void *>(nullptr), static_cast<void *>(without_block.a), stale}) {
    for (size_t i = 0; i < std::size(ops); ++i) {
      SCOPED_TRACE(i);
      asfsvcctl ctl = fresh_ctl(id);
      EXPECT_EQ(ops[i](&ctl, &buf, &slot, &attr), -1);
      EXPECT_EQ(ctl.asfcode, TL_ERR_NO_ASSOC);
    }
  }
  EXPECT_TRUE(script.calls.empty());
}

TEST(TlForwarding, EmptySlotsFailWithNoVector) {
  FakeDriver fake;
  fake_vector = &bare_vector;
  Connected assoc;
  rscbufctl buf {};
  rscbufctl *slot = nullptr;
  tlattr attr {5, nullptr};
  const int results[] = {
      tlSend(&assoc.ctl, &buf),         tlRecv(&assoc.ctl, &slot),   tlSndexpt(&assoc.ctl, &buf),
      tlRcvexpt(&assoc.ctl, &slot),     tlWait(&assoc.ctl, nullptr), tlAttrib(&assoc.ctl, &attr),
      tlListen(&assoc.ctl, nullptr, 2),
  };
  for (int rc : results)
    EXPECT_EQ(rc, -1);
  EXPECT_EQ(assoc.ctl.asfcode, TL_STATUS_NO_VECTOR);
  EXPECT_TRUE(script.calls.empty());
  EXPECT_EQ(assoc.tb()->drv.nexpt, 0);
}

/* ---- Disconnect. ---- */

TEST(TlDiscon, SavedTransportAndUnloadedVector) {
  struct Case {
    const char *label;
    uint32_t state;
    bool priv;
    bool vector;
    std::vector<std::string> calls;
    uint32_t flags_after; /* transport flags seen by the driver */
  };
  const Case cases[] = {
      {"connected", tl_state_connected, true, true, {"disc 2"}, 0},
      {"saved with a private record", tl_state_saved, true, true, {"disc 258"}, TL_SAVED_DISC},
      {"saved without one", tl_state_saved, false, true, {}, TL_SAVED_DISC},
      {"never loaded a vector", tl_state_idle, false, false, {}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    FakeDriver fake;
    Assoc assoc;
    ASSERT_EQ(tlCSalloc(&assoc.ctl), 0);
    tlblock *tb = assoc.tb();
    tb->state = c.state;
    if (c.vector) {
      tb->drv.type = tl_drv_tlitcp;
      ASSERT_EQ(load_operation_vector(&tb->drv), 0);
    }
    tlictl endpoint {};
    if (c.priv) tb->drv.priv = &endpoint;
    uint32_t seen_flags = 0;
    uint32_t seen_state = 0;
    if (!c.calls.empty()) {
      // What the block holds when the driver is called.
      static tlblock *watched;
      static uint32_t *flags_out, *state_out;
      watched = tb;
      flags_out = &seen_flags;
      state_out = &seen_state;
      static opvec watching;
      watching = full_vector;
      watching.disc = [](drvblock *drv, int flags, asfsvcctl *) {
        *flags_out = watched->flags;
        *state_out = watched->state;
        script.calls.push_back("disc " + std::to_string(flags));
        drv->priv = nullptr;
        return 0;
      };
      tb->drv.ops = watching;
    }
    EXPECT_EQ(tlDiscon(&assoc.ctl, 2), 0);
    EXPECT_EQ(script.calls, c.calls);
    if (!c.calls.empty()) {
      EXPECT_EQ(seen_flags, c.flags_after);
      EXPECT_EQ(seen_state,
                c.state == tl_state_saved ? c.state : uint32_t {tl_state_disconnecting});
    }
    EXPECT_EQ(assoc.a->tlblock, nullptr);
  }
}

/* ---- Listen and accept. ---- */

TEST(TlListen, ModesOnTheFakeDriver) {
  FakeDriver fake;
  Assoc listener(asf_kind_listener);
  Request req("0.0.0.0|1526|tlitcp");
  ASSERT_EQ(tlListen(&listener.ctl, &req.req, 0), 0);
  tlblock *tb = listener.tb();
  EXPECT_EQ(tb->flags, uint32_t {TL_LISTEN16 | TL_LISTEN1});
  EXPECT_EQ(tb->state, uint32_t {tl_state_listening});
  EXPECT_EQ(tb->protinx, tcp_row);
  EXPECT_STREQ(tb->drv.protname, "tlitcp");
  EXPECT_EQ(script.calls, std::vector<std::string> {"lisn 0"});

  script.calls.clear();
  EXPECT_EQ(tlListen(&listener.ctl, &req.req, 1), -1); /* the driver's result */
  EXPECT_EQ(script.calls, std::vector<std::string> {"disc 512"});
  EXPECT_EQ(tb->state, uint32_t {tl_state_idle});

  script.calls.clear();
  EXPECT_EQ(tlListen(&listener.ctl, &req.req, 2), 0);
  EXPECT_EQ(script.calls, std::vector<std::string> {"lisn 2"});
  EXPECT_EQ(tb->state, uint32_t {tl_state_listening});

  script.calls.clear();
  EXPECT_EQ(tlListen(&listener.ctl, &req.req, 3), 0);
  EXPECT_TRUE(script.calls.empty());
  EXPECT_EQ(listener.tb(), tb);
}

TEST(TlListen, FailuresOfTheFirstListen) {
  struct Case {
    const char *address;
    int kind;
    int lisn_rc;
    int status;
    uint32_t flags;
    uint32_t state;
    bool no_lisn = false; /* the row has no listen entry */
  };
  const Case cases[] = {
      {"0.0.0.0|1526|tlitcp", 1, -1, -908, TL_LISTEN16 | TL_LISTEN1 | TL_FAILED, tl_state_idle},
      {"0.0.0.0|1526|tlitcp", 2, 0, TL_STATUS_NO_PROTOCOL, TL_LISTEN16 | TL_LISTEN1,
       tl_state_listening},
      {"0.0.0.0|1526|nosuch", 1, 0, TL_STATUS_NO_PROTOCOL, TL_LISTEN16 | TL_LISTEN1,
       tl_state_listening},
      {"0.0.0.0|1526|tlitcp", 1, 0, TL_STATUS_NO_VECTOR, TL_LISTEN16 | TL_LISTEN1 | TL_FAILED,
       tl_state_idle, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    FakeDriver fake;
    if (c.no_lisn) fake.row(tcp_row).lisn = nullptr;
    script.lisn_rc = c.lisn_rc;
    Assoc listener(asf_kind_listener);
    Request req(c.address, c.kind);
    EXPECT_EQ(tlListen(&listener.ctl, &req.req, 0), -1);
    EXPECT_EQ(listener.ctl.asfcode, c.status);
    EXPECT_EQ(listener.tb()->flags, c.flags);
    EXPECT_EQ(listener.tb()->state, c.state);
  }
}

TEST(TlAccept, CopiesTheListeningBlockWithoutItsPrivateRecord) {
  for (int accp_rc : {0, -1}) {
    SCOPED_TRACE(accp_rc);
    FakeDriver fake;
    Assoc listener(asf_kind_listener);
    Request req("0.0.0.0|1526|tlitcp");
    ASSERT_EQ(tlListen(&listener.ctl, &req.req, 0), 0);
    tlblock *lb = listener.tb();
    tlictl endpoint {};
    lb->drv.priv = &endpoint;
    lb->drv.flags = DRV_LISTENING;
    lb->drv.bufsize = 4096;
    script.accp_rc = accp_rc;
    Assoc accepted(asf_kind_accepted);
    tlpeeraddr *peer = nullptr;
    EXPECT_EQ(tlAccept(&listener.ctl, accepted.a, &peer), accp_rc);
    tlblock *nb = accepted.tb();
    ASSERT_NE(nb, nullptr);
    ASSERT_NE(nb, lb);
    EXPECT_EQ(script.drv, &lb->drv); /* the listener's driver is called */
    EXPECT_EQ(script.arg, &peer);
    EXPECT_EQ(script.accp_new_state, uint32_t {tl_state_accepting});
    EXPECT_EQ(script.accp_new_priv, nullptr);
    EXPECT_EQ(nb->protinx, tcp_row);
    EXPECT_EQ(nb->drv.flags, uint32_t {DRV_LISTENING});
    EXPECT_EQ(nb->drv.bufsize, 4096);
    EXPECT_STREQ(nb->drv.protname, "tlitcp");
    EXPECT_EQ(nb->drv.ops.send, fake_send);
    EXPECT_EQ(lb->drv.priv, &endpoint);
    EXPECT_EQ(listener.a->tldrv, &lb->drv);
    if (accp_rc == 0) {
      EXPECT_EQ(nb->state, uint32_t {tl_state_connected});
      EXPECT_EQ(lb->flags & TL_FAILED, 0u);
      EXPECT_EQ(accepted.a->tldrv, &nb->drv);
      EXPECT_EQ(accepted.a->tlops, &nb->drv.ops);
    } else {
      EXPECT_EQ(accepted.a->tldrv, nullptr);
      EXPECT_EQ(listener.ctl.asfcode, -908);
      EXPECT_EQ(nb->state, uint32_t {tl_state_idle});
      EXPECT_EQ(lb->flags & TL_FAILED, uint32_t {TL_FAILED});
    }
    lb->drv.priv = nullptr;
  }
}

TEST(TlAccept, NewBlockWithoutMemory) {
  FakeDriver fake;
  Assoc listener(asf_kind_listener);
  Request req("0.0.0.0|1526|tlitcp");
  ASSERT_EQ(tlListen(&listener.ctl, &req.req, 0), 0);
  Assoc accepted(asf_kind_accepted);
  CountingMemory memory(1);
  EXPECT_EQ(tlAccept(&listener.ctl, accepted.a, nullptr), -1);
  EXPECT_EQ(listener.ctl.asfcode, ASF_ERR_MEMORY);
  EXPECT_EQ(listener.ctl.oserr, 12);
  EXPECT_EQ(accepted.tb(), nullptr);
  EXPECT_EQ(listener.tb()->flags & TL_FAILED, 0u);
}

}  // namespace
