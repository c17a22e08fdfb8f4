/*
** The SQLI protocol family, client side. Most cases run over a scripted
** driver put behind the "tlitcp" row: it records every transport send and
** hands out scripted receive chunks, so the request forms, the oversize
** refusal, the status mapping, the response faults at every cut and the
** state rules are checked byte for byte, with the counting memory table
** showing that every path gives back what it took. The rest runs over
** real loopback TCP against the SQLI server double, whose journal shows
** what the server saw.
*/
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asc_codec.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "gen_strings.h"
#include "pf_records.h"
#include "pfsl_test_support.h"
#include "sl_records.h"
#include "sqli_double_process.h"
#include "tl_records.h"

namespace {

using asf_test::CountingMemory;

using namespace pfsl_test;

/* ---- A client association and its connect request. ---- */

using Client = PfClient;

/* The body of a binary accept or reject: 100, 101, 108 and (with a
** status) 102, then extra, then 127, written by the codec. */
std::string response_body(int32_t level, bool with_status, int32_t errnum = 0,
                          const std::string &extra = "") {
  ascbinreq srv {};
  std::strcpy(srv.progname, "srvdvz");
  std::strcpy(srv.pairs.product, "ol");
  srv.pairs.level = level;
  std::strcpy(srv.pairs.protocol, "tlitcp");
  srv.pairs.version = 1;
  pfstatus st {};
  st.subkind = asc_sub_status;
  st.errnum = errnum;
  pfrequest r {asc_pf_status, &st};
  char area[ASC_REQUEST_BUFSIZE];
  rscbufctl b {area, sizeof area, 0, nullptr, area, sizeof area, 0};
  asfsvcctl c {};
  ascbinreq *pp = &srv;
  pfrequest *pr = with_status ? &r : nullptr;
  EXPECT_EQ(ascBinary(&c, asc_mode_write, &b, &level, &pp, &pr, nullptr, nullptr, nullptr), 0);
  return bytes({0, 100}) + std::string(area, static_cast<size_t>(b.size)) + extra + bytes({0, 127});
}

std::string reply(int type, const std::string &body, int flag = 61) {
  return header(static_cast<int>(body.size()) + 6, type, flag) + body;
}

/* The scripted driver behind "tlitcp" and a fresh script per test. */
class ProtocolFamily : public ScriptedDriverTest {};

/* ---- Request words and accessors. ---- */

TEST(PfRequestWords, PairsAndHalfWordsRoundTrip) {
  asfsvcreq r {};
  ascpairs p {"ol", 61, "tlitcp", 1, 7};
  pfPutPairs(&r, &p);
  ascpairs q {};
  pfGetPairs(&r, &q);
  EXPECT_STREQ(q.product, "ol");
  EXPECT_STREQ(q.protocol, "tlitcp");
  EXPECT_EQ(q.level, 61);
  EXPECT_EQ(q.version, 1);
  EXPECT_EQ(q.word, 7);
  ascpairs neg {"raw", -1, "tlitcp", -1, 0};
  pfPutPairs(&r, &neg);
  pfGetPairs(&r, &q);
  EXPECT_EQ(q.level, -1);
  EXPECT_STREQ(q.product, "raw");
  r.word[2] = ~uintptr_t {0} - 5;
  asf_req_set_half(&r, 2, -1);
  EXPECT_EQ(asf_req_half(&r, 2), -1);
  asf_req_set_half(&r, 2, 0);
  EXPECT_EQ(asf_req_half(&r, 2), 0);
}

/* ---- Connect over the scripted driver. ---- */

TEST_F(ProtocolFamily, TextConnectFillsDefaultsAndLeavesCallerRecordsAlone) {
  CountingMemory memory;
  {
    Client c;
    // The entry's address text has a longer protocol part than the pairs'
    // name: the transport gets a new text, the registry's stays as it was.
    c.addr = "127.0.0.1|9088|tlitcpxx";
    std::strcpy(c.params.pairs.protocol, "tlitcp");
    script.incoming = {reply(2, response_body(61, true))};
    ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode;
    EXPECT_EQ(c.addr, "127.0.0.1|9088|tlitcpxx");
    EXPECT_EQ(std::string(c.entry.addrtext), "127.0.0.1|9088|tlitcpxx");
    ASSERT_FALSE(script.calls.empty());
    EXPECT_EQ(script.calls[0], "conn");
    EXPECT_EQ(script.connected_to, "127.0.0.1|9088|tlitcp");

    // "sq", the 6-bit header, then the text ending in its NUL.
    const std::string wire = joined(script.sent);
    ASSERT_GT(wire.size(), 10u);
    const std::string text = wire.substr(10);
    std::string enc(8, '\0');
    conbinto6(header(static_cast<int>(text.size()) + 6, 1, 61).data(), enc.data(), 6);
    EXPECT_EQ(wire.substr(0, 10), "sq" + enc);
    EXPECT_EQ(text.rfind("sqlexec pfuser ", 0), 0u) << text;
    EXPECT_EQ(text.back(), '\0');

    ascpairs used {};
    pfGetPairs(&c.req, &used);
    EXPECT_STREQ(used.product, "ol");
    EXPECT_EQ(used.level, 61);
    EXPECT_STREQ(used.protocol, "tlitcp");
    EXPECT_EQ(used.version, 1);

    // The caller's records come out unchanged.
    EXPECT_EQ(c.params.userkind, 0);
    EXPECT_EQ(c.params.user, nullptr);
    EXPECT_EQ(c.params.password, nullptr);
    EXPECT_STREQ(c.params.pairs.product, "");
    EXPECT_EQ(c.params.pairs.level, -1);
    EXPECT_EQ(c.params.pairs.version, -1);
    EXPECT_EQ(c.conkind.str[asc_str_server], nullptr);
    EXPECT_EQ(c.conkind.str[asc_str_dbname], nullptr);

    EXPECT_EQ(c.pf()->state, pf_state_connected);
    EXPECT_EQ(c.pf()->level, 61);
    EXPECT_EQ(c.pf()->kind, asc_kind_nodb);
    ASSERT_NE(c.srvparams(), nullptr);
    EXPECT_STREQ(c.srvparams()->progname, "srvdvz");
    ASSERT_NE(c.response(), nullptr);
    EXPECT_EQ(c.response()->type, asc_pf_status);
    tlattr attr {2, nullptr};
    ASSERT_EQ(pfAttrib(&c.ctl, &attr), 0);
    EXPECT_EQ(attr.value, &c.pf()->pairs);

    // Data both ways, the interrupt, and a release with a last message.
    ASSERT_EQ(c.send("hello"), 0) << c.ctl.asfcode;
    EXPECT_EQ(script.sent.back(), "hello");
    script.incoming = {"world"};
    EXPECT_EQ(c.receive(), "world");
    EXPECT_EQ(c.receive(), "!" + std::to_string(TLI_ERR_PEERGONE));
    EXPECT_EQ(pfResync(&c.ctl), 0);
    EXPECT_EQ(script.calls.back(), "soob B");
    rscbufctl *last = nullptr;
    ASSERT_EQ(bufGet(c.a, asf_buf_send, &last), 0);
    std::memcpy(last->p, "bye", 3);
    last->size = 3;
    asfsvcreq rel {};
    asf_req_set_half(&rel, 2, -1);
    rel.word[3] = reinterpret_cast<uintptr_t>(last);
    ASSERT_EQ(pfDiscon(&c.ctl, 9, &rel), 0) << c.ctl.asfcode;
    EXPECT_EQ(script.sent.back(), "bye");
    EXPECT_EQ(c.a->pfblock, nullptr);
    EXPECT_EQ(c.a->tlblock, nullptr);
    EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0) << "an abort after it is harmless";
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(ProtocolFamily, BinaryFormWheneverTheTextFormCannotCarryTheRequest) {
  char name[] = "DBDATE";
  char value[] = "Y4MD=";
  char *names[] = {name};
  char *values[] = {value};
  evlist_t env {1, names, values};
  struct Case {
    const char *what;
    const char *program;
    const char *password;
    evlist_t *env;
  };
  const Case cases[] = {
      {"program ruzodu", "ruzodu", "pw", nullptr},
      {"password with a blank", "sqlexec", "p w", nullptr},
      {"environment value with =", "sqlexec", "pw", &env},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    script = Script {};
    script.incoming = {reply(2, response_body(61, true))};
    Client c;
    std::strcpy(c.params.progname, k.program);
    c.password = k.password;
    c.req.word[pf_word_envlist] = reinterpret_cast<uintptr_t>(k.env);
    ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode;
    const std::string wire = joined(script.sent);
    ASSERT_GT(wire.size(), 12u);
    EXPECT_EQ(wire.substr(0, 6), header(static_cast<int>(wire.size()), 1, 61));
    const std::string body = wire.substr(6);
    EXPECT_EQ(body.substr(0, 4), bytes({0, 100, 0, 101}));
    EXPECT_NE(body.find("IEEEM"), std::string::npos);
    EXPECT_NE(body.find(k.program), std::string::npos);
    EXPECT_EQ(body.substr(body.size() - 2), bytes({0, 127}));
  }
}

TEST_F(ProtocolFamily, RequestOver2050BytesFailsBeforeAnythingIsSent) {
  // Find the user length that makes the binary request exactly 2050 bytes.
  script.incoming = {reply(2, response_body(61, true))};
  size_t base = 0;
  {
    Client c;
    std::strcpy(c.params.progname, "ruzodu");
    c.user = std::string(100, 'u');
    ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode;
    base = joined(script.sent).size() - 6;
  }
  ASSERT_LT(base, 2050u);
  const size_t fit = 100 + (2050 - base);
  for (size_t n : {fit, fit + 1, fit + 6, fit + 200}) {
    SCOPED_TRACE(n);
    script = Script {};
    script.incoming = {reply(2, response_body(61, true))};
    CountingMemory memory;
    {
      Client c;
      std::strcpy(c.params.progname, "ruzodu");
      c.user = std::string(n, 'u');
      const int rc = c.connect();
      if (n == fit) {
        EXPECT_EQ(rc, 0) << c.ctl.asfcode;
        EXPECT_EQ(joined(script.sent).size(), 2056u);
      } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(c.ctl.asfcode, ASF_ERR_PROTOCOL);
        EXPECT_TRUE(script.sent.empty());
        EXPECT_TRUE(script.calls.empty()) << "no transport was opened";
        EXPECT_EQ(c.pf()->state, pf_state_failed);
      }
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(ProtocolFamily, RejectKeepsTheServersRecordsAndItsErrorInOserr) {
  CountingMemory memory;
  {
    Client c;
    script.incoming = {reply(3, response_body(61, true, -329))};
    EXPECT_EQ(c.connect(), -1);
    EXPECT_EQ(c.ctl.asfcode, SL_STATUS_REJECTED);
    EXPECT_EQ(c.ctl.oserr, -329);
    EXPECT_NE(c.srvparams(), nullptr);
    ASSERT_NE(c.response(), nullptr);
    EXPECT_EQ(c.pf()->state, pf_state_failed);
    EXPECT_EQ(c.a->tlblock, nullptr) << "the rejected transport is closed";
    // A release of a failed connect reports it; the abort frees the blocks.
    EXPECT_EQ(pfDiscon(&c.ctl, 9, nullptr), -1);
    EXPECT_EQ(c.ctl.asfcode, 2);
    EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
    EXPECT_EQ(c.a->pfblock, nullptr);
    EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
    EXPECT_EQ(pfDiscon(&c.ctl, 9, nullptr), -1);
    EXPECT_EQ(c.ctl.asfcode, ASF_ERR_ARGUMENT) << "release without blocks";
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(ProtocolFamily, ResponseFaultsGiveTheirStatusAndLeaveNothingBehind) {
  const std::string good = response_body(61, true);
  struct Case {
    const char *what;
    std::string reply;
    int status; /* 0: the connect succeeds */
  };
  const Case cases[] = {
      {"type 4", reply(4, good), SL_ERR_PROTOCOL},
      {"type 7", reply(7, good), SL_ERR_PROTOCOL},
      {"type 10", reply(10, good), SL_ERR_PROTOCOL},
      {"length 0", header(0, 2, 61) + good, SL_ERR_PROTOCOL},
      {"length 2057", header(2057, 2, 61) + good, SL_ERR_PROTOCOL},
      {"length 0x8000", header(0x8000, 2, 61) + good, SL_ERR_PROTOCOL},
      {"accept without 102 for ol", reply(2, response_body(61, false)), PF_ERR_NOSTATUS},
      {"116 of length 4", reply(2, response_body(61, true, 0, bytes({0, 116, 0, 4, 0, 0, 0, 1}))),
       ASF_ERR_PROTOCOL},
      {"an unknown section is skipped",
       reply(2, response_body(61, true, 0, bytes({0, 120, 0, 3, 'a', 'b', 'c'}))), 0},
      {"116 of length 8",
       reply(2, response_body(61, true, 0, bytes({0, 116, 0, 8, 0, 0, 0, 1, 0, 0, 0, 2}))), 0},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    script = Script {};
    script.incoming = {k.reply};
    CountingMemory memory;
    {
      Client c;
      const int rc = c.connect();
      if (k.status == 0) {
        EXPECT_EQ(rc, 0) << c.ctl.asfcode;
      } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(c.ctl.asfcode, k.status);
        EXPECT_EQ(c.response(), nullptr);
        EXPECT_EQ(c.pf()->state, pf_state_failed);
      }
      EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
      EXPECT_EQ(c.a->tlblock, nullptr);
      c.drop_outputs();
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(ProtocolFamily, AcceptCutAfterAnyByteNeverConnects) {
  const std::string whole = reply(2, response_body(61, true));
  for (size_t k = 0; k <= whole.size(); ++k) {
    SCOPED_TRACE(k);
    script = Script {};
    if (k > 0) script.incoming = {whole.substr(0, k)};
    CountingMemory memory;
    {
      Client c;
      const int rc = c.connect();
      if (k == whole.size()) {
        EXPECT_EQ(rc, 0) << c.ctl.asfcode;
      } else {
        EXPECT_EQ(rc, -1);
        EXPECT_LT(c.ctl.asfcode, 0);
      }
      EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
      EXPECT_EQ(c.a->tlblock, nullptr);
      c.drop_outputs();
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST_F(ProtocolFamily, TransportFailuresAndRefusedEntries) {
  {
    // A refused connect names the server in the message parameter.
    script.conn_status = TLI_ERR_CONNECT;
    Client c;
    c.servername = std::string(500, 's');
    EXPECT_EQ(c.connect(), -1);
    EXPECT_EQ(c.ctl.asfcode, TLI_ERR_CONNECT);
    EXPECT_EQ(std::string(c.ctl.errstr), std::string(ASF_ERRSTR_SIZE - 1, 's'));
    EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
    EXPECT_EQ(c.a->tlblock, nullptr);
  }
  {
    // Missing parameters, and a request record of an unknown type.
    Client c;
    c.req.word[pf_word_params] = 0;
    EXPECT_EQ(c.connect(), -1);
    EXPECT_EQ(c.ctl.asfcode, ASF_ERR_BADARGS);
    c.req.word[pf_word_params] = reinterpret_cast<uintptr_t>(&c.params);
    c.request.type = 5;
    EXPECT_EQ(c.connect(), -1);
    EXPECT_EQ(c.ctl.asfcode, ASF_ERR_BADARGS);
  }
}

TEST_F(ProtocolFamily, DataServicesCheckStateAndWords) {
  Client c;
  // No blocks yet.
  EXPECT_EQ(pfSend(&c.ctl, &c.req), -1);
  EXPECT_EQ(c.ctl.asfcode, ASF_ERR_BADASSOC);
  EXPECT_EQ(c.receive(), "!" + std::to_string(ASF_ERR_BADASSOC));
  EXPECT_EQ(pfResync(&c.ctl), -1);
  EXPECT_EQ(c.ctl.asfcode, ASF_ERR_BADASSOC);
  tlattr attr {2, nullptr};
  EXPECT_EQ(pfAttrib(&c.ctl, &attr), -1);

  script.incoming = {reply(2, response_body(61, true))};
  ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode;
  asfsvcreq r {};
  r.word[3] = reinterpret_cast<uintptr_t>(c.a->sndbuf);
  EXPECT_EQ(pfSend(&c.ctl, &r), -1) << "word 2 is not -1";
  EXPECT_EQ(c.ctl.asfcode, ASF_ERR_BADARGS);
  // An empty buffer goes back as the send buffer, nothing is sent.
  rscbufctl *b = nullptr;
  ASSERT_EQ(bufGet(c.a, asf_buf_send, &b), 0);
  b->size = 0;
  asf_req_set_half(&r, 2, -1);
  r.word[3] = reinterpret_cast<uintptr_t>(b);
  const size_t sends = script.sent.size();
  EXPECT_EQ(pfSend(&c.ctl, &r), 0);
  EXPECT_EQ(c.a->sndbuf, b);
  EXPECT_EQ(script.sent.size(), sends);
  attr = {258, nullptr};
  EXPECT_EQ(pfAttrib(&c.ctl, &attr), 0);
}

TEST_F(ProtocolFamily, EveryFailedAllocationFailsCleanly) {
  bool connected = false;
  for (int n = 1; n < 200 && !connected; ++n) {
    SCOPED_TRACE(n);
    script = Script {};
    script.incoming = {reply(2, response_body(61, true))};
    Client c;
    {
      CountingMemory memory(n);
      const int rc = c.connect();
      if (rc == 0) {
        connected = true;
      } else {
        EXPECT_LT(c.ctl.asfcode, 0);
      }
      EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
      c.drop_outputs();
      EXPECT_EQ(c.a->tlblock, nullptr);
      EXPECT_EQ(memory.outstanding(), 0);
    }
  }
  EXPECT_TRUE(connected);
}

TEST_F(ProtocolFamily, OldReplyFormFollowsTheConnectKind) {
  struct Case {
    int type;
    int kind;
    const char *dbpath;
    int form; /* the old-reply form the session layer got */
    int recorded; /* the kind the block records */
  };
  const Case cases[] = {
      {asc_pf_conkind, asc_kind_nodb, nullptr, 4, asc_kind_nodb},
      {asc_pf_conkind, asc_kind_dblist, nullptr, 2, asc_kind_dblist},
      {asc_pf_conkind, asc_kind_connect, "stores", 1, asc_kind_connect},
      {asc_pf_conkind, asc_kind_connect, "", 4, asc_kind_connect},
      {asc_pf_conkind, asc_kind_open, "stores", 1, asc_kind_open},
      {asc_pf_opaque, 0, nullptr, 1, -1},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(std::to_string(k.type) + "/" + std::to_string(k.kind));
    script = Script {};  // no reply: the attempt stops after sending
    Client c;
    c.conkind.kind = k.kind;
    pfopaque opaque {const_cast<char *>("xy"), 2};
    if (k.type == asc_pf_opaque) c.request = pfrequest {asc_pf_opaque, &opaque};
    std::string db = k.dbpath != nullptr ? k.dbpath : "";
    c.entry.dbpath = k.dbpath != nullptr ? db.data() : nullptr;
    EXPECT_EQ(c.connect(), -1);
    EXPECT_EQ(c.ctl.asfcode, SL_ERR_NORESPONSE);
    EXPECT_FALSE(script.sent.empty());
    const auto *sl = static_cast<const slsession *>(c.a->slblock);
    EXPECT_EQ(sl->oldform, k.form);
    EXPECT_EQ(c.pf()->kind, k.recorded);
  }
}

TEST_F(ProtocolFamily, RawProductCarriesNoSession) {
  CountingMemory memory;
  {
    Client c;
    std::strcpy(c.entry.product, "raw");
    ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode;
    EXPECT_TRUE(script.sent.empty()) << "no connect request";
    EXPECT_EQ(c.pf()->state, pf_state_connected);
    EXPECT_EQ(c.pf()->level, -1);
    ascpairs used {};
    pfGetPairs(&c.req, &used);
    EXPECT_STREQ(used.product, "raw");
    EXPECT_EQ(used.level, -1);
    EXPECT_EQ(c.response(), nullptr);
    ASSERT_EQ(c.send("abc"), 0) << c.ctl.asfcode;
    EXPECT_EQ(joined(script.sent), "abc") << "no session header";
    script.incoming = {"xyz"};
    EXPECT_EQ(c.receive(), "xyz");
    ASSERT_EQ(pfDiscon(&c.ctl, 9, nullptr), 0) << c.ctl.asfcode;
    EXPECT_EQ(script.calls.back(), "disc 9");
    EXPECT_EQ(c.a->tlblock, nullptr);
    EXPECT_EQ(c.a->pfblock, nullptr);
  }
  EXPECT_EQ(memory.outstanding(), 0);
}

/* ---- Over loopback TCP against the SQLI server double. ---- */

std::string double_addr(const testbed::SqliDouble &d) {
  return "127.0.0.1|" + std::to_string(d.port()) + "|tlitcp";
}

TEST(ProtocolFamilyDouble, TextConnectDataInterruptAndRelease) {
  const int start = asf_test::fd_count();
  testbed::SqliDouble server;
  const std::string data = [] {
    std::string s(10 * 1024, '\0');
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<char>('A' + i % 26);
    return s;
  }();
  {
    Client c;
    c.addr = double_addr(server);
    ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode << " " << server.output();
    size_t sent = 0;
    while (sent < data.size()) {
      const size_t n = std::min(static_cast<size_t>(c.a->sndbuf->size), data.size() - sent);
      ASSERT_EQ(c.send(data.substr(sent, n)), 0) << c.ctl.asfcode;
      sent += n;
    }
    std::string echoed;
    while (echoed.size() < data.size()) {
      std::string piece = c.receive();
      ASSERT_NE(piece.rfind('!', 0), 0u) << piece;
      echoed += piece;
    }
    EXPECT_EQ(echoed, data);
    EXPECT_EQ(pfResync(&c.ctl), 0);
    EXPECT_TRUE(server.wait_for_what("urgent"));
    ASSERT_EQ(pfDiscon(&c.ctl, 9, nullptr), 0) << c.ctl.asfcode;
  }
  EXPECT_TRUE(server.wait_for_what("eof"));
  auto connects = server.entries("connect");
  ASSERT_EQ(connects.size(), 1u);
  const auto &e = connects[0];
  EXPECT_EQ(e.get("prefix"), "sq");
  EXPECT_EQ(e.get("form"), "text");
  EXPECT_EQ(e.number("type"), 1);
  EXPECT_EQ(e.number("flag"), 61);
  const std::string raw = e.raw();
  ASSERT_GT(raw.size(), 10u);
  EXPECT_EQ(e.number("length"), static_cast<long>(raw.size() - 10 + 6));
  EXPECT_EQ(raw.substr(10).rfind("sqlexec pfuser ", 0), 0u);
  EXPECT_EQ(raw.back(), '\0');
  auto urgent = server.entries("urgent");
  ASSERT_EQ(urgent.size(), 1u);
  EXPECT_EQ(urgent[0].get("byte"), "B");
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST(ProtocolFamilyDouble, BinaryRequestAsTheServerSeesIt) {
  testbed::SqliDouble server;
  {
    Client c;
    c.addr = double_addr(server);
    std::strcpy(c.params.progname, "ruzodu");
    ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode;
    ASSERT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
  }
  auto connects = server.entries("connect");
  ASSERT_EQ(connects.size(), 1u);
  const auto &e = connects[0];
  EXPECT_EQ(e.get("form"), "binary");
  EXPECT_EQ(e.get("program"), "ruzodu");
  EXPECT_EQ(e.number("level"), 61);
  EXPECT_EQ(e.get("fmt"), "IEEEM");
  EXPECT_EQ(e.get("user"), "pfuser");
  EXPECT_EQ(e.get("product"), "ol");
  EXPECT_EQ(e.get("protocol"), "tlitcp");
  const std::string raw = e.raw();
  ASSERT_GT(raw.size(), 12u);
  EXPECT_EQ(raw.substr(6, 4), bytes({0, 100, 0, 101}));
  EXPECT_EQ(raw.substr(raw.size() - 2), bytes({0, 127}));
}

TEST(ProtocolFamilyDouble, OldProtocolBelowLevel60) {
  testbed::SqliDouble server;
  {
    Client c;
    c.addr = double_addr(server);
    c.params.pairs.level = 59;
    ASSERT_EQ(c.connect(), 0) << c.ctl.asfcode;
    ascpairs used {};
    pfGetPairs(&c.req, &used);
    EXPECT_EQ(used.level, 59);
    EXPECT_NE(c.response(), nullptr);
  }
  auto connects = server.entries("connect");
  ASSERT_EQ(connects.size(), 1u);
  EXPECT_EQ(connects[0].get("prefix"), "sqle") << connects[0].line;
}

TEST(ProtocolFamilyDouble, RejectWithTheServersError) {
  const int start = asf_test::fd_count();
  {
    testbed::SqliDouble server({"--reject=-329"});
    const int with_double = asf_test::fd_count();
    {
      Client c;
      c.addr = double_addr(server);
      EXPECT_EQ(c.connect(), -1);
      EXPECT_EQ(c.ctl.asfcode, SL_STATUS_REJECTED);
      EXPECT_EQ(c.ctl.oserr, -329);
      EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
    }
    EXPECT_EQ(asf_test::settled_fd_count(with_double), with_double);
  }
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

TEST(ProtocolFamilyDouble, FaultyRepliesOfTheDouble) {
  struct Case {
    std::vector<std::string> options;
    int status; /* 0: the connect succeeds */
  };
  const Case cases[] = {
      {{"--reply-type", "4"}, SL_ERR_PROTOCOL},
      {{"--reply-type", "10"}, SL_ERR_PROTOCOL},
      {{"--reply-length", "2057"}, SL_ERR_PROTOCOL},
      {{"--reply-length", "0x8000"}, SL_ERR_PROTOCOL},
      {{"--omit", "102"}, PF_ERR_NOSTATUS},
      {{"--s116", "4"}, ASF_ERR_PROTOCOL},
      {{"--s116", "12"}, 0},
      {{"--unknown-section"}, 0},
      {{"--fault", "byte-writes"}, 0},
      {{"--fault", "reset"}, SL_ERR_NORESPONSE},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.options[0] + (k.options.size() > 1 ? " " + k.options[1] : ""));
    testbed::SqliDouble server(k.options);
    const int start = asf_test::fd_count();
    {
      Client c;
      c.addr = double_addr(server);
      const int rc = c.connect();
      if (k.status == 0) {
        EXPECT_EQ(rc, 0) << c.ctl.asfcode;
      } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(c.ctl.asfcode, k.status);
      }
      EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
    }
    EXPECT_EQ(asf_test::settled_fd_count(start), start);
  }
}

TEST(ProtocolFamilyDouble, SecondSessionSharesTheConnection) {
  testbed::SqliDouble server({"--mux"});
  {
    Client first;
    first.addr = double_addr(server);
    first.entry.options.multiplex = 1;
    ASSERT_EQ(first.connect(), 0) << first.ctl.asfcode;
    Client second;
    second.addr = double_addr(server);
    second.entry.options.multiplex = 1;
    ASSERT_EQ(second.connect(first.a), 0) << second.ctl.asfcode;
    ASSERT_EQ(second.send("two"), 0) << second.ctl.asfcode;
    ASSERT_EQ(first.send("one"), 0) << first.ctl.asfcode;
    EXPECT_EQ(second.receive(), "two");
    EXPECT_EQ(first.receive(), "one");
    EXPECT_EQ(pfDiscon(&second.ctl, SL_DISC_ABORT, nullptr), 0);
    EXPECT_EQ(pfDiscon(&first.ctl, SL_DISC_ABORT, nullptr), 0);
  }
  auto connects = server.entries("connect");
  ASSERT_EQ(connects.size(), 2u);
  EXPECT_EQ(connects[0].number("flag"), 61 + 128);
  EXPECT_EQ(connects[1].number("type"), 10);
  EXPECT_EQ(connects[1].number("flag"), 1);
  EXPECT_EQ(connects[1].get("assoc"), connects[0].get("assoc")) << "one transport connection";
}

TEST(ProtocolFamilyDouble, AcceptCutAtEveryOffsetLeavesNoDescriptorOrMemory) {
  testbed::SqliDouble server({"--fault", "cut=sweep"});
  const int start = asf_test::fd_count();
  CountingMemory memory;
  bool connected = false;
  int cuts = 0;
  for (int n = 1; n < 400 && !connected; ++n) {
    Client c;
    c.addr = double_addr(server);
    const int rc = c.connect();
    if (rc == 0) {
      connected = true;
    } else {
      ++cuts;
      EXPECT_LT(c.ctl.asfcode, 0) << "connection " << n;
    }
    EXPECT_EQ(pfDiscon(&c.ctl, SL_DISC_ABORT, nullptr), 0);
  }
  EXPECT_TRUE(connected) << "the whole reply connects";
  EXPECT_GT(cuts, 20);
  EXPECT_EQ(memory.outstanding(), 0);
  EXPECT_EQ(asf_test::settled_fd_count(start), start);
}

}  // namespace
