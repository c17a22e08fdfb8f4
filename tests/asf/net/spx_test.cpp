/*
** SPX/IPX addressing and SAP over the simulated SPX/IPX network
** (testbed/spx_sim): the query datagram, the reading and matching of
** responses (names without a terminator included), the look-up's
** timeout, advertising and its signal paths (in a forked child), the
** address slots, the peer text, a whole connection through the transport
** layer, and the product's path where neither device exists.
*/
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "spx_records.h"
#include "spx_sim.h"
#include "temp_dir.h"
#include "tl_records.h"
#include "tli.h"

namespace {

using Clock = std::chrono::steady_clock;
using spx_sim::IpxAddr;
using spx_sim::SapAgent;

int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

const IpxAddr server_addr = spx_sim::ipx_addr(0x0a, 0x0b, 0x8001);

std::string db_answer(std::string_view name, const IpxAddr &addr = server_addr) {
  return SapAgent::response({SapAgent::entry(SAP_TYPE_DBSERVER, name, addr, 0)});
}

/* The datagrams SAP sent, through a wrapper of its TLI table. */
struct SentDatagram {
  std::string addr, opt, data;
};
std::vector<SentDatagram> sent;
int record_sndudata(int fd, const struct t_unitdata *ud) {
  sent.push_back({std::string(ud->addr.buf, ud->addr.len), std::string(ud->opt.buf, ud->opt.len),
                  std::string(ud->udata.buf, ud->udata.len)});
  return t_sndudata(fd, ud);
}
sap_calls recording_calls() {
  sap_calls c = sap_platform_calls;
  c.t_sndudata = record_sndudata;
  return c;
}

using asf_test::fresh_ctl;

using asf_test::free_peer;

class Spx : public ::testing::Test {
 protected:
  void SetUp() override {
    spx_sim::install(dir_.path());
    sap_lookup_timeout_ms = 300;
    sent.clear();
  }
  void TearDown() override {
    sap_lookup_timeout_ms = SAP_LOOKUP_MS;
    sap_tli_calls = &sap_platform_calls;
    if (SapDInfo.fd >= 0) sap_deadvertise();
    signal(SIGALRM, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
  }

  dvz_test::TempDir dir_;
};

/* ---- SAP datagrams. ---- */

TEST_F(Spx, QueryIs0001TypeToBroadcastSocket0452WithOptionZero) {
  SapAgent agent;
  const sap_calls calls = recording_calls();
  sap_tli_calls = &calls;
  EXPECT_EQ(sap_getaddress("db1", SAP_TYPE_DBSERVER, 100, nullptr), -1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, std::string("\x00\x01\x84\x37", 4));
  EXPECT_EQ(sent[0].addr, std::string("\0\0\0\0\xff\xff\xff\xff\xff\xff\x04\x52", 12));
  EXPECT_EQ(sent[0].opt, std::string(1, '\0'));
  ASSERT_EQ(agent.queries().size(), 1u);
  EXPECT_EQ(agent.queries()[0], std::string("\x00\x01\x84\x37", 4));
}

TEST(SapResponse, ReadsOnlyWholeResponsesOfUpToSevenEntries) {
  const std::string e = SapAgent::entry(SAP_TYPE_DBSERVER, "DB1", server_addr, 3);
  struct Case {
    const char *what;
    std::string datagram;
    int entries;
  };
  const Case cases[] = {
      {"empty", "", -1},
      {"one byte", std::string("\x00", 1), -1},
      {"no entries", SapAgent::response({}), 0},
      {"three entries", SapAgent::response({e, e, e}), 3},
      {"three entries and a byte", SapAgent::response({e, e, e}) + "x", -1},
      {"three entries less a byte", SapAgent::response({e, e, e}).substr(0, 2 + 3 * 64 - 1), -1},
      {"seven entries", SapAgent::response({e, e, e, e, e, e, e}), 7},
      {"eight entries", SapAgent::response({e, e, e, e, e, e, e, e}), -1},
      {"a query", std::string("\x00\x01", 2) + e, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<sap_entry> out(SAP_MAX_ENTRIES + 1);
    const int n = sap_read_response(reinterpret_cast<const unsigned char *>(c.datagram.data()),
                                    c.datagram.size(), out.data());
    EXPECT_EQ(n, c.entries);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(out[i].type, SAP_TYPE_DBSERVER);
      EXPECT_STREQ(out[i].name, "DB1");
      EXPECT_EQ(0, std::memcmp(out[i].addr, server_addr.data(), 12));
      EXPECT_EQ(out[i].hops, 3);
    }
  }
}

TEST(SapResponse, NameOfFortyEightBytesIsReadTerminated) {
  const std::string name(48, 'Q');
  const std::string d = SapAgent::response({SapAgent::entry(4, name, server_addr, 0)});
  sap_entry out[SAP_MAX_ENTRIES];
  ASSERT_EQ(sap_read_response(reinterpret_cast<const unsigned char *>(d.data()), d.size(), out), 1);
  EXPECT_EQ(std::string(out[0].name), name);
}

TEST_F(Spx, DatabaseEntryMatchesOnTheNameBeforeTheDot) {
  struct Case {
    std::string entry_name;
    int entry_type;
    bool found;
  };
  const Case cases[] = {
      {"DB1.ZONE#X", SAP_TYPE_DBSERVER, true}, {"DB1", SAP_TYPE_DBSERVER, true},
      {"DB1X", SAP_TYPE_DBSERVER, false},      {"DB", SAP_TYPE_DBSERVER, false},
      {".DB1", SAP_TYPE_DBSERVER, false},      {"DB1", SAP_TYPE_FILESERVER, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.entry_name + " type " + std::to_string(c.entry_type));
    SapAgent agent;
    agent.answer(
        SAP_TYPE_DBSERVER,
        {SapAgent::response({SapAgent::entry(c.entry_type, c.entry_name, server_addr, 0)})});
    unsigned char addr[12] = {};
    EXPECT_EQ(sap_getaddress("db1", SAP_TYPE_DBSERVER, 300, addr), c.found ? 0 : -1);
    if (c.found) {
      EXPECT_EQ(0, std::memcmp(addr, server_addr.data(), 12));
    }
  }
}

TEST_F(Spx, LookUpSearchesEveryEntryOfEveryDatagram) {
  SapAgent agent;
  const IpxAddr third = spx_sim::ipx_addr(0x0c, 0x0d, 0x9000);
  agent.answer(SAP_TYPE_DBSERVER,
               {SapAgent::response({SapAgent::entry(SAP_TYPE_DBSERVER, "OTHER", server_addr, 0)}),
                SapAgent::response({SapAgent::entry(SAP_TYPE_DBSERVER, "A", server_addr, 0),
                                    SapAgent::entry(SAP_TYPE_FILESERVER, "DB1", server_addr, 0),
                                    SapAgent::entry(SAP_TYPE_DBSERVER, "DB1", third, 0)})});
  unsigned char addr[12] = {};
  ASSERT_EQ(sap_getaddress("db1", SAP_TYPE_DBSERVER, 300, addr), 0);
  EXPECT_EQ(0, std::memcmp(addr, third.data(), 12));
}

TEST_F(Spx, UnterminatedFortyEightCharacterNamesAreSafe) {
  // The caller's name is a read-only literal: it must be upper-cased in a
  // copy. The entry's 48 bytes carry no terminator.
  static const char *const wanted = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuv";
  ASSERT_EQ(std::strlen(wanted), 48u);
  SapAgent agent;
  agent.answer(SAP_TYPE_FILESERVER,
               {SapAgent::response({SapAgent::entry(
                   SAP_TYPE_FILESERVER, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUV",
                   server_addr, 0)})});
  EXPECT_EQ(sap_getaddress(wanted, SAP_TYPE_FILESERVER, 300, nullptr), 0);
  char name[SAP_NAME_SIZE + 1];
  ASSERT_EQ(sap_fsname(server_addr.data(), 300, name), 0);
  EXPECT_EQ(std::string(name), "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUV");
}

TEST_F(Spx, SilenceGivesMinusOneWithinTheTimeout) {
  SapAgent agent;
  auto t0 = Clock::now();
  EXPECT_EQ(sap_getaddress("db1", SAP_TYPE_DBSERVER, 300, nullptr), -1);
  EXPECT_GE(ms_since(t0), 250);
  EXPECT_LT(ms_since(t0), 2000);
  // Non-matching answers do not stretch the wait either.
  agent.answer(SAP_TYPE_DBSERVER, {db_answer("DB1X")});
  t0 = Clock::now();
  EXPECT_EQ(sap_getaddress("db1", SAP_TYPE_DBSERVER, 300, nullptr), -1);
  EXPECT_LT(ms_since(t0), 2000);
}

TEST_F(Spx, LookUpWithoutAgentFailsAtOnceAndLeavesNothingOpen) {
  const int start = asf_test::fd_count();
  EXPECT_EQ(sap_getaddress("db1", SAP_TYPE_DBSERVER, 5000, nullptr), -1);
  EXPECT_EQ(asf_test::fd_count(), start);
}

/* ---- Advertising. ---- */

TEST_F(Spx, AdvertisingANameAnotherServerAnswersFails) {
  SapAgent agent;
  agent.answer(SAP_TYPE_DBSERVER, {db_answer("DB1")});
  EXPECT_EQ(sap_advertise("db1", SAP_TYPE_DBSERVER, server_addr.data()), -1);
  EXPECT_TRUE(agent.adverts().empty());
  EXPECT_EQ(SapDInfo.fd, -1);
}

TEST_F(Spx, AdvertiseThenGoDownWithHopCount16AndClose) {
  SapAgent agent;
  ASSERT_EQ(sap_advertise("db1", SAP_TYPE_DBSERVER, server_addr.data()), 0);
  const int fd = SapDInfo.fd;
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(agent.wait_adverts(1, 2000));
  spx_sim::Advert first = agent.adverts()[0];
  EXPECT_EQ(first.type, SAP_TYPE_DBSERVER);
  EXPECT_EQ(first.name, "DB1");
  EXPECT_EQ(first.addr, server_addr);
  EXPECT_EQ(first.hops, 0);
  EXPECT_EQ(sap_deadvertise(), 0);
  ASSERT_TRUE(agent.wait_adverts(2, 2000));
  EXPECT_EQ(agent.adverts()[1].hops, SAP_HOPS_DOWN);
  EXPECT_EQ(agent.adverts()[1].name, "DB1");
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(SapDInfo.fd, -1);
  EXPECT_EQ(sap_deadvertise(), -1);
  EXPECT_EQ(sap_broadcast("", SAP_TYPE_DBSERVER, server_addr.data(), 0, 1), -1);
}

TEST_F(Spx, SignalsReadvertiseAndGoDownInTheAdvertisingProcess) {
  SapAgent agent;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    const char ok = sap_advertise("db1", SAP_TYPE_DBSERVER, server_addr.data()) == 0 ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(3);
    for (;;)
      pause();
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  EXPECT_EQ(ok, 'y');
  EXPECT_TRUE(agent.wait_adverts(1, 3000));
  kill(child, SIGALRM);
  EXPECT_TRUE(agent.wait_adverts(2, 3000));
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(agent.wait_adverts(3, 3000));
  const std::vector<spx_sim::Advert> a = agent.adverts();
  EXPECT_EQ(a[0].hops, 0);
  EXPECT_EQ(a[1].hops, 0);
  EXPECT_EQ(a[1].name, "DB1");
  EXPECT_EQ(a[2].hops, SAP_HOPS_DOWN);
  EXPECT_EQ(a[2].addr, server_addr);
}

/* ---- Address slots. ---- */

TEST_F(Spx, AddressTextsAreCheckedAndTheServiceKept) {
  struct Case {
    const char *text;
    int rc;
    const char *service;
  };
  const std::string name48(48, 's');
  const std::string text48 = "host|" + name48 + "|tlispx";
  const std::string text49 = "host|" + name48 + "s|tlispx";
  const std::string text400 = "h|db1|" + std::string(394, 'p');
  const Case cases[] = {
      {"host|db1|tlispx", 0, "db1"},
      {"*|db1|tliipx", 0, "db1"},
      {text48.c_str(), 0, name48.c_str()},
      {text49.c_str(), -1, nullptr},
      {text400.c_str(), -1, nullptr},
      {nullptr, -1, nullptr},
      {"host", -1, nullptr},
      {"|db1|tlispx", -1, nullptr},
      {"host||tlispx", -1, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    asfsvcctl ctl = fresh_ctl();
    ctl.oserr = 77;
    drvblock drv {};
    tladdr addr {};
    EXPECT_EQ(tlispxcons2tladdr(c.text, &addr, &ctl, &drv), c.rc);
    if (c.rc == 0) {
      EXPECT_STREQ(addr.service, c.service);
    } else {
      EXPECT_EQ(ctl.asfcode, ASF_ERR_BADADDR);
      EXPECT_EQ(ctl.oserr, 0);
    }
  }
}

TEST_F(Spx, ConnectingConversionFindsTheServerOrFails908) {
  SapAgent agent;
  drvblock drv {};
  drv.flags = DRV_CONNECTING;
  asfsvcctl ctl = fresh_ctl();
  tladdr addr {};
  EXPECT_EQ(tlispxcons2tladdr("anyhost|db1|tlispx", &addr, &ctl, &drv), -1);
  EXPECT_EQ(ctl.asfcode, TLI_ERR_CONNECT);
  EXPECT_EQ(ctl.oserr, 0);
  agent.answer(SAP_TYPE_DBSERVER, {db_answer("DB1.ZONE#1")});
  ctl = fresh_ctl();
  ASSERT_EQ(tlispxcons2tladdr("anyhost|db1|tlispx", &addr, &ctl, &drv), 0);
  EXPECT_EQ(0, std::memcmp(addr.ipx, server_addr.data(), 12));
  EXPECT_STREQ(addr.service, "db1");
}

TEST_F(Spx, BufferAndNativeSlotsCopyTwelveBytes) {
  tladdr addr {};
  std::memcpy(addr.ipx, server_addr.data(), 12);
  char a[12], b[12];
  std::memset(b, 0x55, sizeof b);
  netbuf first {0, 0, a};
  netbuf second {0, 0, b};
  EXPECT_EQ(tlispx_load_addr(&addr, &first, &second), 0);
  EXPECT_EQ(first.len, 12u);
  EXPECT_EQ(first.maxlen, 12u);
  EXPECT_EQ(0, std::memcmp(a, server_addr.data(), 12));
  EXPECT_EQ(second.len, 12u);
  EXPECT_EQ(std::string(b, 12), std::string(12, '\0'));
  EXPECT_EQ(tlispx_load_addr(nullptr, nullptr, nullptr), 0);

  unsigned char native[12];
  tladdr2ipxaddr(&addr, native);
  tladdr back {};
  ipxaddr2tladdr(native, &back);
  EXPECT_EQ(0, std::memcmp(back.ipx, server_addr.data(), 12));
  drvblock drv {};
  EXPECT_EQ(tlispx_setopts(&drv, 3, 15), 0);
  EXPECT_EQ(tlispx_siginit(nullptr, &drv), 0);
  EXPECT_EQ(drv.optstate, 0u);
}

TEST_F(Spx, PeerTextNamesTheFileServerOrTheUnknownHost) {
  SapAgent agent;
  tladdr peer {};
  const IpxAddr peer_ipx = spx_sim::ipx_addr(0x0a, 0x0b, 0x4001);
  std::memcpy(peer.ipx, peer_ipx.data(), 12);
  std::strcpy(peer.service, "db1");
  drvblock drv {};
  asfsvcctl ctl = fresh_ctl();
  asf_test::CountingMemory memory;

  tlpeeraddr *rec = nullptr;
  ASSERT_EQ(tlispxtladdr2cons(&peer, &rec, &drv, &ctl), 0);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->pair->form, 8);
  EXPECT_STREQ(rec->pair->text, "<UNKNOWN-HOST>0000000a-00000000000b|db1|tlispx");
  free_peer(rec);

  // A file server of another network is no answer; one of network 0xa is.
  agent.answer(
      SAP_TYPE_FILESERVER,
      {SapAgent::response(
          {SapAgent::entry(SAP_TYPE_FILESERVER, "FS9", spx_sim::ipx_addr(9, 1, 1), 0),
           SapAgent::entry(SAP_TYPE_FILESERVER, "FS1", spx_sim::ipx_addr(0x0a, 1, 1), 0)})});
  rec = nullptr;
  ASSERT_EQ(tlispxtladdr2cons(&peer, &rec, &drv, &ctl), 0);
  EXPECT_STREQ(rec->pair->text, "fs1|db1|tlispx");
  free_peer(rec);

  // Anyone may advertise any name: this host's own names, which the login
  // check would take for this host, give the unknown host instead.
  char node[ASF_NODENAME_SIZE];
  ASSERT_EQ(rhostname(node, sizeof node), 0);
  std::string upper_node = node;
  for (char &c : upper_node)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string &claimed : {std::string("LOCALHOST"), upper_node}) {
    SCOPED_TRACE(claimed);
    agent.answer(SAP_TYPE_FILESERVER,
                 {SapAgent::response({SapAgent::entry(SAP_TYPE_FILESERVER, claimed.c_str(),
                                                      spx_sim::ipx_addr(0x0a, 1, 1), 0)})});
    rec = nullptr;
    ASSERT_EQ(tlispxtladdr2cons(&peer, &rec, &drv, &ctl), 0);
    EXPECT_STREQ(rec->pair->text, "<UNKNOWN-HOST>0000000a-00000000000b|db1|tlispx");
    free_peer(rec);
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(Spx, PeerTextOutOfMemoryGives406AndFreesWhatItTook) {
  tladdr peer {};
  drvblock drv {};
  for (int fail_at = 1; fail_at <= 3; ++fail_at) {
    SCOPED_TRACE(fail_at);
    asf_test::CountingMemory memory(fail_at);
    asfsvcctl ctl = fresh_ctl();
    tlpeeraddr *rec = nullptr;
    EXPECT_EQ(tlispxtladdr2cons(&peer, &rec, &drv, &ctl), -1);
    EXPECT_EQ(ctl.asfcode, ASF_ERR_MEMORY);
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(Spx, ListeningBindAdvertisesTheBoundAddress) {
  SapAgent agent;
  drvblock drv {};
  drv.flags = DRV_LISTENING;
  asfsvcctl ctl = fresh_ctl();
  ASSERT_EQ(tlispxcons2tladdr("*|db1|tlispx", &drv.reqaddr, &ctl, &drv), 0);
  char bound[12];
  std::memcpy(bound, server_addr.data(), 12);
  struct t_bind ret {};
  ret.addr = {12, 12, bound};
  EXPECT_EQ(tlispxport_bind(nullptr, &ret, &drv.reqaddr), 0);
  EXPECT_EQ(0, std::memcmp(drv.reqaddr.ipx, server_addr.data(), 12));
  ASSERT_TRUE(agent.wait_adverts(1, 2000));
  EXPECT_EQ(agent.adverts()[0].name, "DB1");
  EXPECT_EQ(agent.adverts()[0].addr, server_addr);
  EXPECT_EQ(sap_deadvertise(), 0);
}

/* ---- A connection over the simulated provider. ---- */

std::string driver_calls_seen;
int logged_snddis(int fd, const struct t_call *call) {
  driver_calls_seen += "snddis ";
  return t_snddis(fd, call);
}
int logged_sndrel(int fd) {
  driver_calls_seen += "sndrel ";
  return t_sndrel(fd);
}

TEST_F(Spx, ConnectsThroughSapWithFrameMarkInterruptAndAbortiveRelease) {
  const int start = asf_test::fd_count();
  {
    SapAgent agent;
    agent.answer(SAP_TYPE_DBSERVER, {db_answer("DB1")});
    // The server: a plain listening endpoint on the simulated provider.
    int lsn = t_open("/dev/mspx", O_RDWR, nullptr);
    ASSERT_GE(lsn, 0);
    struct t_bind req {};
    char want[12];
    std::memcpy(want, server_addr.data(), 12);
    req.addr = {12, 12, want};
    req.qlen = 5;
    ASSERT_EQ(t_bind(lsn, &req, nullptr), 0) << t_errno;

    asfsvcctl ctl = fresh_ctl();
    char status[4] = {};
    Assocctl *assoc = alCSalloc(&ctl, asf_kind_requester, status);
    ASSERT_NE(assoc, nullptr);
    ctl.ascid = assoc;
    asf_test::TransportRequest request("somehost|db1|tlispx");
    ASSERT_EQ(tlConnect(&ctl, &request.req), 0) << ctl.asfcode;

    char peer_addr[12];
    struct t_call call {};
    call.addr = {sizeof peer_addr, 0, peer_addr};
    ASSERT_EQ(t_listen(lsn, &call), 0) << t_errno;
    EXPECT_EQ(call.addr.len, 12u);
    EXPECT_EQ(std::string(peer_addr, 10), std::string("\0\0\0\x0a\0\0\0\0\0\x0b", 10));
    int srv = t_open("/dev/mspx", O_RDWR, nullptr);
    ASSERT_GE(srv, 0);
    ASSERT_EQ(t_bind(srv, nullptr, nullptr), 0);
    ASSERT_EQ(t_accept(lsn, srv, &call), 0) << t_errno;

    // A 10-byte message goes out as one record of 11 bytes after "N".
    rscbufctl *b = nullptr;
    ASSERT_EQ(bufGet(assoc, 9, &b), 0);
    EXPECT_EQ(b->lbuff, 534);
    std::memcpy(b->p, "0123456789", 10);
    b->size = 10;
    ASSERT_EQ(tlSend(&ctl, b), 0) << ctl.asfcode;
    char got[600];
    int flags = 0;
    ASSERT_EQ(t_rcv(srv, got, sizeof got, &flags), 11);
    EXPECT_EQ(std::string(got, 11), "N0123456789");

    // The interrupt: the single normal byte "B".
    rscbufctl *x = nullptr;
    ASSERT_EQ(bufGet(assoc, 5, &x), 0);
    x->p = x->buff;
    x->size = 1;
    ASSERT_EQ(tlSndexpt(&ctl, x), 0);
    ASSERT_EQ(t_rcv(srv, got, sizeof got, &flags), 1);
    EXPECT_EQ(got[0], 'B');
    EXPECT_EQ(flags, 0);

    // The server's marked reply arrives without its mark.
    ASSERT_EQ(t_snd(srv, "Nhello", 6, 0), 6);
    rscbufctl *r = nullptr;
    ASSERT_EQ(tlRecv(&ctl, &r), 0) << ctl.asfcode;
    EXPECT_EQ(std::string(r->p, static_cast<size_t>(r->size)), "hello");
    EXPECT_EQ(bufReg(assoc, 10, r), 0);

    // Service type 1: the release is abortive, and the server sees the end.
    driver_calls_seen.clear();
    tli_calls logged = tli_platform_calls;
    logged.t_snddis = logged_snddis;
    logged.t_sndrel = logged_sndrel;
    tli_driver_calls = &logged;
    EXPECT_EQ(tlDiscon(&ctl, 0), 0);
    tli_driver_calls = &tli_platform_calls;
    EXPECT_EQ(driver_calls_seen, "snddis ");
    EXPECT_EQ(recv(srv, got, sizeof got, 0), 0);

    alCSfree(assoc);
    t_close(srv);
    t_close(lsn);
  }
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

using Assoc = asf_test::TestAssoc;

TEST_F(Spx, ListenAdvertisesAndAcceptsWithTheFileServerAsPeerHost) {
  const int start = asf_test::fd_count();
  {
    SapAgent agent;
    Assoc listener(asf_kind_listener);
    asf_test::TransportRequest request("*|db1|tlispx");
    ASSERT_EQ(tlListen(&listener.ctl, &request.req, 0), 0) << listener.ctl.asfcode;
    ASSERT_TRUE(agent.wait_adverts(1, 2000));
    const spx_sim::Advert advert = agent.adverts()[0];
    EXPECT_EQ(advert.name, "DB1");
    EXPECT_EQ(advert.hops, 0);
    // The bound address: the simulation's local network and node.
    EXPECT_EQ(std::vector<uint8_t>(advert.addr.begin(), advert.addr.begin() + 10),
              std::vector<uint8_t>({0, 0, 0, 0x0a, 0, 0, 0, 0, 0, 0x0b}));
    agent.answer(SAP_TYPE_DBSERVER, {db_answer("DB1", advert.addr)});
    agent.answer(SAP_TYPE_FILESERVER,
                 {SapAgent::response({SapAgent::entry(SAP_TYPE_FILESERVER, "FS1",
                                                      spx_sim::ipx_addr(0x0a, 1, 0x0451), 0)})});

    Assoc client(asf_kind_requester);
    asf_test::TransportRequest connect_request("somehost|db1|tlispx");
    ASSERT_EQ(tlConnect(&client.ctl, &connect_request.req), 0) << client.ctl.asfcode;

    Assoc accepted(asf_kind_accepted);
    tlpeeraddr *peer = nullptr;
    ASSERT_EQ(tlAccept(&listener.ctl, accepted.a, &peer), 0) << listener.ctl.asfcode;
    ASSERT_NE(peer, nullptr);
    const std::string peer_text = peer->pair->text;
    EXPECT_EQ(peer_text.rfind("fs1|", 0), 0u) << peer_text;
    EXPECT_EQ(peer_text.substr(peer_text.size() - 7), "|tlispx") << peer_text;
    free_peer(peer);

    // The accepted side learns the frame mark from the first message.
    rscbufctl *b = nullptr;
    ASSERT_EQ(bufGet(client.a, 9, &b), 0);
    std::memcpy(b->p, "0123456789", 10);
    b->size = 10;
    ASSERT_EQ(tlSend(&client.ctl, b), 0) << client.ctl.asfcode;
    rscbufctl *r = nullptr;
    ASSERT_EQ(tlRecv(&accepted.ctl, &r), 0) << accepted.ctl.asfcode;
    EXPECT_EQ(std::string(r->p, static_cast<size_t>(r->size)), "0123456789");
    EXPECT_EQ(bufReg(accepted.a, 10, r), 0);

    EXPECT_EQ(tlDiscon(&client.ctl, 0), 0);
    EXPECT_EQ(tlDiscon(&accepted.ctl, 0), 0);
    EXPECT_EQ(tlListen(&listener.ctl, nullptr, 1), 0);
    EXPECT_EQ(sap_deadvertise(), 0);
    ASSERT_TRUE(agent.wait_adverts(2, 2000));
    EXPECT_EQ(agent.adverts()[1].hops, SAP_HOPS_DOWN);
  }
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST_F(Spx, WithoutTheProvidersAConnectFails908AndLeaksNothing) {
  spx_sim::withdraw();
  const int start = asf_test::fd_count();
  asfsvcctl ctl = fresh_ctl();
  char status[4] = {};
  Assocctl *assoc = alCSalloc(&ctl, asf_kind_requester, status);
  ASSERT_NE(assoc, nullptr);
  ctl.ascid = assoc;
  {
    asf_test::CountingMemory memory;
    std::string text = "somehost|db1|tlispx";
    tlreqaddr addr {1, text.data()};
    tlconnreq parms {};
    parms.addr = &addr;
    sap_lookup_timeout_ms = SAP_LOOKUP_MS;
    auto t0 = Clock::now();
    EXPECT_EQ(tlConnect(&ctl, &parms), -1);
    EXPECT_LT(ms_since(t0), 1000);
    EXPECT_EQ(ctl.asfcode, TLI_ERR_CONNECT);
    EXPECT_EQ(ctl.oserr, 0);
    EXPECT_EQ(tlDiscon(&ctl, 0), 0);
    EXPECT_EQ(memory.outstanding(), 0);
  }
  EXPECT_EQ(asf_test::fd_count(), start);
  alCSfree(assoc);
}

}  // namespace
