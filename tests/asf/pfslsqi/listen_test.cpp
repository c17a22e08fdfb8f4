/*
** The listening side of the session layer and the protocol family, over
** a scripted driver put behind the "tlitcp" row: listen and accept are
** scripted, every transport send is recorded and receives hand out
** scripted chunks (or a wait that ran out). Requests come from our own
** client (pfConReq over the same driver), so the round trip client
** request -> our reader -> our response -> our client reader is checked
** without sockets, and the wire bytes of accepts, rejects, old-protocol
** prefixes and the multiplexed reject are checked byte by byte. The
** counting memory table shows that every path gives back what it took.
*/
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asc_codec.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "gen_strings.h"
#include "os_seams.h"
#include "pf_records.h"
#include "pfsl_test_support.h"
#include "sl_records.h"
#include "tl_records.h"

namespace {

using asf_test::CountingMemory;

using namespace pfsl_test;

constexpr int buffer_size = 4096;

unsigned slept_seconds = 0;
unsigned no_sleep(unsigned seconds) {
  slept_seconds += seconds;
  return 0;
}
const os_clock_seam quick_clock = {os_system_clock.now, no_sleep};

using Client = PfClient;

/* ---- A listener and the associations it accepts. ---- */

struct Listener {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  std::string addr = "myhost|9088|tlitcp";
  NSEntry entry {};
  asfsvcreq req {};

  explicit Listener(const char *protocol = "tlitcp", int32_t level = -1, int flags = 0) {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, asf_kind_listener, status);
    ctl.ascid = a;
    addr = std::string("myhost|9088|") + protocol;
    std::strcpy(entry.product, "ol");
    std::strcpy(entry.protocol, protocol);
    entry.addrkind = 1;
    entry.addrtext = addr.data();
    entry.servername = const_cast<char *>("srv1");
    ascpairs pairs {"", level, "", -1, 0};
    pfPutPairsAt(&req, pf_word_lsnpairs, &pairs);
    req.word[pf_word_lsnflags] = static_cast<uintptr_t>(flags);
  }
  ~Listener() {
    pfDiscon(&ctl, SL_DISC_ABORT, nullptr);
    alCSfree(a);
  }
  Listener(const Listener &) = delete;
  Listener &operator=(const Listener &) = delete;
  int listen() { return pfListen(&ctl, &entry, &req); }
  pfblock *pf() const { return static_cast<pfblock *>(a->pfblock); }
};

struct Accepted {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  asfsvcreq ind {};
  asfprocinfo peer {};

  Accepted() {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, asf_kind_accepted, status);
    ctl.ascid = a;
  }
  ~Accepted() {
    ascFreeParams(params());
    ascFreeEnvlist(reinterpret_cast<evlist_t *>(ind.word[pf_word_clienv]));
    ascFreeRequest(reinterpret_cast<pfrequest *>(ind.word[pf_word_clireq]));
    ascFreeProcinfo(&peer);
    pfDiscon(&ctl, SL_DISC_ABORT, nullptr);
    alCSfree(a);
  }
  Accepted(const Accepted &) = delete;
  Accepted &operator=(const Accepted &) = delete;
  int indicate(Listener &l) { return pfConInd(&l.ctl, a, &ind, &peer); }
  ascbinreq *params() const { return reinterpret_cast<ascbinreq *>(ind.word[pf_word_cliparams]); }
  pfblock *pf() const { return static_cast<pfblock *>(a->pfblock); }
  slsession *sl() const { return static_cast<slsession *>(a->slblock); }
  /* Answers with response kind (0 accepts, 7 rejects) carrying a status
  ** record of errnum. */
  int respond(int kind, int32_t errnum = 0) {
    ascbinreq srv {};
    std::strcpy(srv.progname, "srvdvz");
    srv.pairs.level = -1;
    srv.pairs.version = -1;
    pfstatus st {};
    st.subkind = asc_sub_status;
    st.errnum = errnum;
    pfrequest r {asc_pf_status, &st};
    asfsvcreq rsp {};
    rsp.word[pf_word_rspkind] = static_cast<uintptr_t>(kind);
    rsp.word[pf_word_params] = reinterpret_cast<uintptr_t>(&srv);
    rsp.word[pf_word_request] = reinterpret_cast<uintptr_t>(&r);
    asfprocinfo me {0, 77, 0, host_text, tty_text, cwd_text, 0, 0};
    return pfConRes(&ctl, &rsp, &me);
  }
};

/* The scripted driver behind "tlitcp", a fresh script and a clock that
** does not sleep, for each test. */
class Listening : public ScriptedDriverTest {
 protected:
  void SetUp() override {
    ScriptedDriverTest::SetUp();
    previous_clock_ = os_clock;
    os_clock = &quick_clock;
    unsetenv("DVZ_LISTEN_TIMEOUT");
  }
  void TearDown() override {
    os_clock = previous_clock_;
    unsetenv("DVZ_LISTEN_TIMEOUT");
    ScriptedDriverTest::TearDown();
  }

  const os_clock_seam *previous_clock_ = nullptr;
};

/* A listener and the association it accepted from request, the bytes a
** client sent: rc is the listen's or the indication's result. */
struct Indicated {
  Listener l;
  Accepted x;
  int rc;
  explicit Indicated(const std::string &request) {
    rc = l.listen();
    if (rc != 0) return;
    script.incoming = {Chunk(request)};
    rc = x.indicate(l);
  }
};

/* A global control block for the multiplexing listener list, in place for
** one test. */
struct GlobalBlock {
  ASFGLBCTL block {};
  ASFGLBCTL *previous = asfglbctl;
  GlobalBlock() { asfglbctl = &block; }
  ~GlobalBlock() { asfglbctl = previous; }
};

/* ---- Request words. ---- */

TEST(PfListenWords, PairsAtAnyWordRoundTripAndMatchTheConnectWords) {
  asfsvcreq r {};
  ascpairs p {"ol", 61, "tlitcp", 1, 7};
  pfPutPairsAt(&r, pf_word_lsnpairs, &p);
  ascpairs q {};
  pfGetPairsAt(&r, pf_word_lsnpairs, &q);
  EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0);
  EXPECT_EQ(static_cast<int32_t>(r.word[9]), 61);
  asfsvcreq s {};
  pfPutPairs(&s, &p);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(s.word[pf_word_pairs + i], r.word[pf_word_lsnpairs + i]);
}

/* ---- Listen. ---- */

TEST_F(Listening, ListenFillsDefaultsAndRefusesBadFlags) {
  {
    Listener l;
    ASSERT_EQ(l.listen(), 0) << l.ctl.asfcode;
    EXPECT_EQ(l.pf()->state, pf_state_listening);
    ascpairs p {};
    pfGetPairsAt(&l.req, pf_word_lsnpairs, &p);
    EXPECT_STREQ(p.product, "ol");
    EXPECT_STREQ(p.protocol, "tlitcp");
    EXPECT_EQ(p.level, 61);
    EXPECT_EQ(p.version, 1);
    ASSERT_EQ(script.calls.size(), 1u);
    EXPECT_EQ(script.calls[0], "lisn 0 myhost|9088|tlitcp");
    EXPECT_EQ(static_cast<slsession *>(l.a->slblock)->listen_timeout, SL_LISTEN_TIMEOUT_MS);
  }
  for (int flags : {1, 2, 4, 17}) {
    Listener l("tlitcp", -1, flags);
    EXPECT_EQ(l.listen(), -1);
    EXPECT_EQ(l.ctl.asfcode, ASF_ERR_COMMON) << flags;
    EXPECT_EQ(l.pf()->state, pf_state_failed);
  }
  for (int flags : {3, 16}) {
    Listener l("tlitcp", -1, flags);
    EXPECT_EQ(l.listen(), 0) << flags;
  }
}

/* ---- Indication: the request forms. ---- */

TEST_F(Listening, BinaryRequestRoundTripsThroughOurReader) {
  Client c;
  std::strcpy(c.params.progname, "ruzodu");
  c.entry.dbpath = const_cast<char *>("/db");
  std::string request = c.request_bytes();
  // Our client at level 61: header type 1, flag 61, then code 100.
  ASSERT_GE(request.size(), 10u);
  EXPECT_EQ(request.substr(2, 2), bytes({1, 61}));
  EXPECT_EQ(request.substr(6, 4), bytes({0, 100, 0, 101}));
  Listener l;
  ASSERT_EQ(l.listen(), 0);
  Accepted x;
  script.incoming.push_back({request});
  ASSERT_EQ(x.indicate(l), 0) << l.ctl.asfcode;
  ascbinreq *p = x.params();
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->progname, "ruzodu");
  EXPECT_STREQ(p->user, "pfuser");
  EXPECT_STREQ(p->password, "pw");
  EXPECT_STREQ(p->version, "9.40");
  EXPECT_STREQ(p->clientid, "RDS#N000000");
  EXPECT_EQ(p->pairs.level, 61);
  EXPECT_STREQ(p->pairs.product, "ol");
  ascpairs pairs {};
  pfGetPairsAt(&x.ind, pf_word_lsnpairs, &pairs);
  EXPECT_EQ(pairs.level, 61);
  EXPECT_STREQ(pairs.protocol, "tlitcp");
  auto *r = reinterpret_cast<pfrequest *>(x.ind.word[pf_word_clireq]);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->type, asc_pf_conkind);
  EXPECT_EQ(static_cast<pfconkind *>(r->rec)->kind, asc_kind_nodb);
  EXPECT_EQ(x.pf()->kind, asc_kind_nodb);
  EXPECT_EQ(x.pf()->state, pf_state_ind_bindable);
  EXPECT_EQ(x.pf()->level, 61);
  EXPECT_STREQ(x.peer.host, "clienthost");
  EXPECT_EQ(x.peer.pid, 4242);
  EXPECT_STREQ(x.peer.tty, "/dev/pts/9");
  EXPECT_EQ(x.sl()->state, sl_state_request);
}

TEST_F(Listening, EveryRequestFormIsReadAndBadOnesGive408WhileListeningGoesOn) {
  char name[] = "DVZ_TEST", value[] = "plain";
  char *names[] = {name}, *values[] = {value};
  evlist_t env {1, names, values};
  Client text;  // level 61, text form: "sq" and the 6-bit header
  text.req.word[pf_word_envlist] = reinterpret_cast<uintptr_t>(&env);
  text.password.clear();
  text.entry.password = nullptr;
  const std::string text_request = text.request_bytes();
  ASSERT_EQ(text_request.substr(0, 2), "sq");
  Client old(59);  // level 59, text form, no header: an old client
  const std::string old_request = old.request_bytes();
  ASSERT_EQ(old_request.substr(0, 4), "sqle");
  Client bare(59);  // level 59, binary form, no header either
  std::strcpy(bare.params.progname, "ruzodu");
  const std::string bare_request = bare.request_bytes();
  ASSERT_EQ(bare_request.substr(0, 4), bytes({0, 100, 0, 101}));
  struct Case {
    const char *name;
    std::vector<std::string> chunks;
    int status; /* 0: read */
    int32_t level; /* the level in force after a read */
  };
  const std::string body = text_request.substr(10);
  const std::vector<Case> cases = {
      {"text in one piece", {text_request}, 0, 61},
      {"text cut inside its prefix", {text_request.substr(0, 7), text_request.substr(7)}, 0, 61},
      {"old client", {old_request}, 0, 0},
      {"old client in pieces", {old_request.substr(0, 9), old_request.substr(9)}, 0, 0},
      // A binary request below level 60 has no header: no known form.
      {"binary below level 60", {bare_request}, ASF_ERR_PROTOCOL, 0},
      {"type 2", {header(static_cast<int>(body.size()) + 6, 2, 61) + body}, ASF_ERR_PROTOCOL, 0},
      {"type 10", {header(static_cast<int>(body.size()) + 6, 10, 1) + body}, ASF_ERR_PROTOCOL, 0},
      {"length 6", {header(6, 1, 61)}, ASF_ERR_PROTOCOL, 0},
      {"length 2057, not text", {header(2057, 1, 61) + body}, ASF_ERR_PROTOCOL, 0},
      {"body of no known form", {header(10, 1, 61) + "abcd"}, ASF_ERR_PROTOCOL, 0},
      {"binary header cut short", {header(200, 1, 61) + "\x00\x64"}, SL_ERR_NORESPONSE, 0},
  };
  Listener l;
  ASSERT_EQ(l.listen(), 0);
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    script.incoming.clear();
    for (const auto &chunk : k.chunks)
      script.incoming.push_back({chunk});
    if (k.status == SL_ERR_NORESPONSE) script.incoming.push_back({"", TLI_STATUS_AGAIN});
    Accepted x;
    const int rc = x.indicate(l);
    if (k.status != 0) {
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(l.ctl.asfcode, k.status);
      EXPECT_EQ(x.pf()->state, pf_state_failed);
      EXPECT_EQ(x.ind.word[pf_word_cliparams], 0u);
    } else {
      ASSERT_EQ(rc, 0) << l.ctl.asfcode;
      ASSERT_NE(x.params(), nullptr);
      EXPECT_STREQ(x.params()->user, "pfuser");
      EXPECT_EQ(x.pf()->level, k.level);
      if (k.level >= 61) {
        auto *got = reinterpret_cast<evlist_t *>(x.ind.word[pf_word_clienv]);
        ASSERT_NE(got, nullptr);
        ASSERT_EQ(got->count, 1);
        EXPECT_STREQ(got->names[0], "DVZ_TEST");
        EXPECT_STREQ(got->values[0], "plain");
      }
      EXPECT_EQ(x.pf()->state, k.level >= 61 ? pf_state_ind_bindable : pf_state_ind_read);
    }
    // The listener keeps listening whatever the client sent.
    EXPECT_EQ(l.pf()->state, pf_state_listening);
  }
}

TEST_F(Listening, ListenTimeoutComesFromTheEnvironmentAndRunsOutAs27001) {
  struct Case {
    const char *value; /* null: unset */
    int timeout;
  };
  for (const Case &k : std::vector<Case> {{nullptr, 60000}, {"7", 7000}, {"0", 0}, {"-2", 60000}}) {
    SCOPED_TRACE(k.value != nullptr ? k.value : "unset");
    if (k.value != nullptr)
      setenv("DVZ_LISTEN_TIMEOUT", k.value, 1);
    else
      unsetenv("DVZ_LISTEN_TIMEOUT");
    Listener l;
    ASSERT_EQ(l.listen(), 0);
    script.recv_timeouts.clear();
    script.incoming = {{"", TLI_STATUS_AGAIN}};
    Accepted x;
    EXPECT_EQ(x.indicate(l), -1);
    EXPECT_EQ(l.ctl.asfcode, SL_ERR_NORESPONSE);
    ASSERT_EQ(script.recv_timeouts.size(), 1u);
    EXPECT_EQ(script.recv_timeouts[0], k.timeout);
    EXPECT_EQ(l.ctl.timeout, -1);
  }
}

/* ---- Responses: bytes on the wire. ---- */

TEST_F(Listening, AcceptAndRejectHeadersCarryLevelTypeAndSendBufferLength) {
  Client c;
  const std::string request = c.request_bytes();
  for (int kind : {0, 7}) {
    SCOPED_TRACE(kind);
    Indicated in(request);
    ASSERT_EQ(in.rc, 0) << in.l.ctl.asfcode;
    Accepted &x = in.x;
    script.sent.clear();
    script.calls.clear();
    ASSERT_EQ(x.respond(kind, kind == 7 ? -951 : 0), 0) << x.ctl.asfcode;
    const std::string out = all_sent();
    ASSERT_GE(out.size(), 10u);
    const std::string body = out.substr(6);
    // No multiplexing listener: the flag is the bare level.
    EXPECT_EQ(out.substr(0, 6),
              header(static_cast<int>(out.size()), kind == 0 ? 2 : 3, 61, buffer_size));
    EXPECT_EQ(body.substr(0, 2), bytes({0, 100}));
    EXPECT_EQ(body.substr(body.size() - 2), bytes({0, 127}));
    EXPECT_EQ(x.pf()->state, kind == 0 ? pf_state_connected : pf_state_failed);
    EXPECT_EQ(x.sl()->state, kind == 0 ? sl_state_connected : sl_state_failed);
    // Our client reads the answer as it should.
    Client again;
    script.incoming = {{out}};
    if (kind == 0) {
      EXPECT_EQ(again.connect(), 0) << again.ctl.asfcode;
    } else {
      EXPECT_EQ(again.connect(), -1);
      EXPECT_EQ(again.ctl.asfcode, SL_STATUS_REJECTED);
      EXPECT_EQ(again.ctl.oserr, -951);
    }
  }
}

/* After a reject the response waits a moment for the client to close; the
** receive that sees the close fails (the transport's look error, 9), and
** that failure is not the response's: the response succeeds with the
** status and the operating-system error it had. */
TEST_F(Listening, RejectLeavesNoErrorOfTheClosingClientBehind) {
  Client c;
  Indicated in(c.request_bytes());
  ASSERT_EQ(in.rc, 0) << in.l.ctl.asfcode;
  script.incoming = {Chunk("", TLI_ERR_PEERGONE, 9)};
  in.x.ctl.oserr = 0;
  ASSERT_EQ(in.x.respond(7, -951), 0) << in.x.ctl.asfcode;
  EXPECT_EQ(in.x.ctl.asfcode, 0);
  EXPECT_EQ(in.x.ctl.oserr, 0);
  EXPECT_EQ(in.x.pf()->state, pf_state_failed);
}

TEST_F(Listening, BelowLevel60AcceptsCarryTheOldPrefixAndRejectsNone) {
  struct Case {
    const char *name;
    int conkind;
    int kind;
    std::string prefix;
  };
  const std::vector<Case> cases = {
      {"connect with a database: form 1", asc_kind_connect, 0, bytes({0, 15, 0, 15})},
      {"no database: form 2", asc_kind_nodb, 0, bytes({0, 15})},
      {"reject", asc_kind_connect, 7, ""},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    Client c(59);
    c.conkind.kind = k.conkind;
    c.entry.dbpath = const_cast<char *>("stores");
    const std::string request = c.request_bytes();
    Indicated in(request);
    ASSERT_EQ(in.rc, 0) << in.l.ctl.asfcode;
    Accepted &x = in.x;
    EXPECT_EQ(x.pf()->state, pf_state_ind_read);
    script.sent.clear();
    ASSERT_EQ(x.respond(k.kind, k.kind == 7 ? -951 : 0), 0) << x.ctl.asfcode;
    const std::string out = all_sent();
    ASSERT_GE(out.size(), k.prefix.size());
    EXPECT_EQ(out.substr(0, k.prefix.size()), k.prefix);
    if (k.prefix.empty()) {
      EXPECT_NE(out.substr(0, 2), bytes({0, 15}));
    }
    // Our old-level client reads it back as an accept or a reject.
    Client again(59);
    again.conkind.kind = k.conkind;
    again.entry.dbpath = const_cast<char *>("stores");
    script.incoming = {{out}};
    if (k.kind == 0) {
      EXPECT_EQ(again.connect(), 0) << again.ctl.asfcode;
    } else {
      EXPECT_EQ(again.connect(), -1);
      EXPECT_EQ(again.ctl.asfcode, SL_STATUS_REJECTED);
    }
  }
}

TEST_F(Listening, BindResponseForNewClientsAndRefusedForOlderOnes) {
  {
    Client old(59);
    const std::string request = old.request_bytes();
    Indicated in(request);
    ASSERT_EQ(in.rc, 0) << in.l.ctl.asfcode;
    Accepted &x = in.x;
    asfsvcreq bind {};
    EXPECT_EQ(pfConBind(&x.ctl, &bind, nullptr), -1);
    EXPECT_EQ(x.ctl.asfcode, ASF_ERR_LISTENCODE);
    EXPECT_EQ(x.pf()->state, pf_state_ind_read);
  }
  Client c;
  const std::string request = c.request_bytes();
  Indicated in(request);
  ASSERT_EQ(in.rc, 0) << in.l.ctl.asfcode;
  Accepted &x = in.x;
  ascbinreq srv {};
  std::strcpy(srv.progname, "srvdvz");
  srv.pairs.level = -1;
  srv.pairs.version = -1;
  asfsvcreq bind {};
  bind.word[pf_word_params] = reinterpret_cast<uintptr_t>(&srv);
  script.sent.clear();
  ASSERT_EQ(pfConBind(&x.ctl, &bind, nullptr), 0) << x.ctl.asfcode;
  EXPECT_EQ(x.pf()->state, pf_state_bound);
  std::string out = all_sent();
  ASSERT_GE(out.size(), 10u);
  EXPECT_EQ(out.substr(0, 6), header(static_cast<int>(out.size()), 2, 61, buffer_size));
  EXPECT_EQ(out.substr(6, 2), bytes({0, 110}));
  // The final response after the bind: a data message, code 111 and 1 for
  // a reject.
  script.sent.clear();
  ASSERT_EQ(x.respond(7), 0) << x.ctl.asfcode;
  out = all_sent();
  ASSERT_GE(out.size(), 4u);
  // No headers on this session's data: the message starts at once.
  EXPECT_EQ(out.substr(0, 4), bytes({0, 111, 0, 1}));
  EXPECT_EQ(x.pf()->state, pf_state_failed);
  EXPECT_EQ(x.sl()->state, sl_state_closed);
  // Our client's final-response reader takes it as a reject.
  EXPECT_EQ(pfConRes(&x.ctl, &bind, nullptr), -1);
  EXPECT_EQ(x.ctl.asfcode, ASF_ERR_BADASSOC);
}

TEST_F(Listening, DatabaseListGoesOutAsAnAcceptAndClosesAfterAPause) {
  Client c(59);
  c.conkind.kind = asc_kind_dblist;
  const std::string request = c.request_bytes();
  Indicated in(request);
  ASSERT_EQ(in.rc, 0) << in.l.ctl.asfcode;
  Accepted &x = in.x;
  EXPECT_EQ(x.pf()->kind, asc_kind_dblist);
  script.sent.clear();
  script.calls.clear();
  slept_seconds = 0;
  ASSERT_EQ(x.respond(7), 0) << x.ctl.asfcode;
  const std::string out = all_sent();
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.substr(0, 2), bytes({0, 15}));
  EXPECT_EQ(slept_seconds, 3u);
  EXPECT_EQ(x.sl()->state, sl_state_closed);
  ASSERT_EQ(script.calls.size(), 1u);
  EXPECT_EQ(script.calls[0], "disc 10");
  EXPECT_EQ(x.pf()->state, pf_state_failed);
}

TEST_F(Listening, RawListenerAcceptsWithoutASession) {
  Listener l;
  std::strcpy(l.entry.product, "raw");
  ASSERT_EQ(l.listen(), 0) << l.ctl.asfcode;
  EXPECT_EQ(l.pf()->level, -1);
  Accepted x;
  ASSERT_EQ(x.indicate(l), 0) << l.ctl.asfcode;
  ASSERT_NE(x.params(), nullptr);
  EXPECT_EQ(x.params()->userkind, 0);
  EXPECT_EQ(x.ind.word[pf_word_clireq], 0u);
  EXPECT_EQ(x.pf()->kind, -1);
  EXPECT_EQ(x.pf()->state, pf_state_ind_read);
  EXPECT_STREQ(x.peer.host, "clienthost");
  EXPECT_EQ(x.respond(0), 0);
  EXPECT_EQ(x.pf()->state, pf_state_connected);
  EXPECT_TRUE(script.sent.empty());
  // A peer address without a host part.
  script.peer = "|40002|tlitcp";
  Accepted y;
  ASSERT_EQ(y.indicate(l), 0);
  EXPECT_STREQ(y.peer.host, "<UNKNOWN-HOST>");
}

TEST_F(Listening, ResponseOutsideItsStatesIsRefused) {
  Listener l;
  ASSERT_EQ(l.listen(), 0);
  asfsvcreq r {};
  EXPECT_EQ(pfConRes(&l.ctl, &r, nullptr), -1);
  EXPECT_EQ(l.ctl.asfcode, ASF_ERR_BADASSOC);
  EXPECT_EQ(pfConBind(&l.ctl, &r, nullptr), -1);
  EXPECT_EQ(l.ctl.asfcode, ASF_ERR_BADASSOC);
  EXPECT_EQ(slSQIrsp(&l.ctl, 1, 0, nullptr), -1);
  EXPECT_EQ(l.ctl.asfcode, ASF_ERR_STATE);
}

/* ---- Multiplexing. ---- */

/* The bytes of a binary connect request of our client that asks for
** multiplexing (flag 128 on its header). */
std::string muxed_request() {
  Client c;
  std::strcpy(c.params.progname, "ruzodu");
  std::string request = c.request_bytes();
  request[3] = static_cast<char>(static_cast<unsigned char>(request[3]) | 0x80);
  return request;
}

TEST_F(Listening, MultiplexedConnectWithoutListenerGetsTheMuxReject) {
  GlobalBlock glb;
  const std::string request = muxed_request();
  Listener l;
  ASSERT_EQ(l.listen(), 0);
  Accepted x;
  {
    // Headers are agreed while a multiplexing listener exists; it then goes.
    Listener mux("sqlmux");
    ASSERT_EQ(mux.listen(), 0);
    script.incoming = {{request}};
    ASSERT_EQ(x.indicate(l), 0);
    ASSERT_EQ(x.respond(0), 0);
  }
  EXPECT_EQ(glb.block.muxlist, nullptr);
  // A multiplexed connect for id 1, then data for this session.
  const std::string body = "muxed request";
  script.incoming = {{header(static_cast<int>(body.size()) + 6, 10, 1) + body},
                     {header(16, 6, 0) + "plain data"}};
  script.sent.clear();
  asfsvcreq r {};
  ASSERT_EQ(pfRecv(&x.ctl, &r), 0) << x.ctl.asfcode;
  auto *got = reinterpret_cast<rscbufctl *>(r.word[3]);
  EXPECT_EQ(std::string(got->p, static_cast<size_t>(got->size)), "plain data");
  ASSERT_EQ(script.sent.size(), 1u);
  EXPECT_EQ(script.sent[0], header(22, 12, 128, 0) + std::string(16, '\0'));
}

TEST_F(Listening, MultiplexedConnectJoinsThroughTheMuxListener) {
  GlobalBlock glb;
  Listener mux("sqlmux");
  ASSERT_EQ(mux.listen(), 0) << mux.ctl.asfcode;
  EXPECT_TRUE(script.calls.empty());
  const std::string muxreq = muxed_request();
  const std::string request = muxreq;
  Indicated in(muxreq);
  ASSERT_EQ(in.rc, 0) << in.l.ctl.asfcode;
  Accepted &x = in.x;
  script.sent.clear();
  ASSERT_EQ(x.respond(0), 0);
  ASSERT_FALSE(script.sent.empty());
  EXPECT_EQ(static_cast<unsigned char>(script.sent[0][3]), 61 | 128);
  // The second session's connect (id 1) arrives on the data session.
  const std::string body = request.substr(6);
  script.incoming = {{header(static_cast<int>(body.size()) + 6, 10, 1) + body},
                     {header(10, 6, 0) + "data"}};
  asfsvcreq r {};
  ASSERT_EQ(pfRecv(&x.ctl, &r), 0) << x.ctl.asfcode;
  auto *got = reinterpret_cast<rscbufctl *>(r.word[3]);
  EXPECT_EQ(std::string(got->p, static_cast<size_t>(got->size)), "data");
  Accepted y;
  ASSERT_EQ(y.indicate(mux), 0) << mux.ctl.asfcode;
  EXPECT_STREQ(y.params()->user, "pfuser");
  EXPECT_EQ(y.sl()->muxid, 1);
  script.sent.clear();
  ASSERT_EQ(y.respond(0), 0) << y.ctl.asfcode;
  ASSERT_FALSE(script.sent.empty());
  EXPECT_EQ(script.sent[0].substr(2, 2), bytes({11, 1}));
  // Nothing more queued: the mux listener's next indication times out.
  Accepted z;
  EXPECT_EQ(z.indicate(mux), -1);
  EXPECT_EQ(mux.ctl.asfcode, SL_ERR_NORESPONSE);
}

/* ---- Memory. ---- */

TEST_F(Listening, EveryFailedAllocationFailsCleanlyAndNothingLeaks) {
  std::string request;
  {
    Client c;
    request = c.request_bytes();
  }
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    CountingMemory memory(n);
    bool done = false;
    {
      Listener l;
      Accepted x;
      if (l.listen() == 0) {
        script.incoming = {{request}};
        done = x.indicate(l) == 0 && x.respond(0) == 0;
      }
    }
    EXPECT_EQ(memory.outstanding(), 0);
    if (done) break;
    ASSERT_LT(n, 300);
  }
}

}  // namespace
