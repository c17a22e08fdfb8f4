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
#include "sl_records.h"
#include "tl_records.h"

namespace {

using asf_test::CountingMemory;

constexpr int tcp_row = 3;
constexpr int buffer_size = 4096;

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list)
    s.push_back(static_cast<char>(b));
  return s;
}

std::string header(int length, int type, int flag, int id = 0) {
  return bytes({(length >> 8) & 0xff, length & 0xff, type, flag, (id >> 8) & 0xff, id & 0xff});
}

/* ---- The scripted driver. ---- */

struct Chunk {
  std::string data;
  int status = 0; /* non-zero: the receive fails with it */
};

struct Script {
  std::vector<std::string> sent;
  std::deque<Chunk> incoming;
  std::vector<int> recv_timeouts; /* ctl->timeout at each receive */
  std::vector<std::string> calls;
  std::string peer = "clienthost|40001|tlitcp";
};
Script script;

std::string all_sent() {
  std::string s;
  for (const auto &x : script.sent)
    s += x;
  return s;
}

int fake_send(drvblock *, rscbufctl *buf, asfsvcctl *ctl) {
  script.sent.emplace_back(buf->p, static_cast<size_t>(buf->size));
  bufReg(static_cast<Assocctl *>(ctl->ascid), asf_buf_send, buf);
  return 0;
}

int fake_recv(drvblock *, rscbufctl **slot, asfsvcctl *ctl) {
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  script.recv_timeouts.push_back(ctl->timeout);
  rscbufctl *buf = *slot;
  const bool own = buf == nullptr;
  if (own && bufGet(assoc, asf_buf_recv, &buf) != 0) {
    driver_error(ctl, TLI_ERR_OUTSTATE, 0);
    return -1;
  }
  if (script.incoming.empty() || script.incoming.front().status != 0) {
    int status = TLI_ERR_PEERGONE;
    if (!script.incoming.empty()) {
      status = script.incoming.front().status;
      script.incoming.pop_front();
    }
    if (own) bufReg(assoc, asf_buf_recv, buf);
    driver_error(ctl, status, 0);
    return -1;
  }
  std::string chunk = script.incoming.front().data;
  script.incoming.pop_front();
  EXPECT_LE(chunk.size(), static_cast<size_t>(buf->lbuff));
  std::memcpy(buf->buff, chunk.data(), chunk.size());
  buf->p = buf->buff;
  buf->size = static_cast<int32_t>(chunk.size());
  *slot = buf;
  return 0;
}

int fake_disc(drvblock *drv, int flags, asfsvcctl *ctl) {
  script.calls.push_back("disc " + std::to_string(flags));
  net_deallocate(drv, ctl);
  return 0;
}

int fake_init(asfsvcctl *, void *, int, const char *) { return 0; }

int fake_accp(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl) {
  script.calls.push_back("accp");
  asfsvcctl nctl = *ctl;
  nctl.ascid = newassoc;
  if (net_buffer_setup(drv, newassoc, &nctl) != 0) {
    ctl->asfcode = nctl.asfcode;
    return -1;
  }
  auto *rec = static_cast<tlpeeraddr *>(asf_alloc(asf_pool_assoc, sizeof(tlpeeraddr)));
  auto *pair = static_cast<tlpeerpair *>(asf_alloc(asf_pool_assoc, sizeof(tlpeerpair)));
  auto *text = static_cast<char *>(asf_alloc(asf_pool_assoc, TL_PEER_TEXT_SIZE));
  if (rec == nullptr || pair == nullptr || text == nullptr) {
    for (void *p : {static_cast<void *>(rec), static_cast<void *>(pair), static_cast<void *>(text)})
      if (p != nullptr) asf_free(asf_pool_assoc, p);
    driver_error(ctl, ASF_ERR_MEMORY, 12);
    return -1;
  }
  std::memset(text, 0, TL_PEER_TEXT_SIZE);
  std::memcpy(text, script.peer.data(), script.peer.size());
  *pair = tlpeerpair {8, text};
  *rec = tlpeeraddr {0, 0, pair};
  *peer = rec;
  return 0;
}

constexpr opvec fake_vector = {
    fake_init, nullptr,   nullptr, nullptr, fake_accp, fake_send, fake_recv, nullptr,
    nullptr,   fake_disc, nullptr, nullptr, nullptr,   nullptr,   nullptr,   nullptr,
    nullptr,   nullptr,   nullptr, nullptr, nullptr,   nullptr,
};
const opvec *fake_vector_of(int type) { return type == tl_drv_tlitcp ? &fake_vector : nullptr; }

int fake_conn(drvblock *drv, tlconnreq *, asfsvcctl *ctl) {
  script.calls.push_back("conn");
  if (load_operation_vector(drv) != 0) return -1;
  drv->bufsize = buffer_size;
  drv->priv = asf_alloc(asf_pool_assoc, sizeof(tlictl));
  return net_buffer_setup(drv, static_cast<Assocctl *>(ctl->ascid), ctl);
}

int fake_lisn(drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *) {
  script.calls.push_back("lisn " + std::to_string(mode) + " " + parms->addr->text);
  if (load_operation_vector(drv) != 0) return -1;
  drv->bufsize = buffer_size;
  return 0;
}

unsigned slept_seconds = 0;
unsigned no_sleep(unsigned seconds) {
  slept_seconds += seconds;
  return 0;
}
const os_clock_seam quick_clock = {os_system_clock.now, no_sleep};

char host_text[] = "pfhost";
char tty_text[] = "/dev/pts/9";
char cwd_text[] = "/work";

/* ---- Our client: its request bytes, and its reading of our answer. ---- */

struct Client {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  std::string addr = "127.0.0.1|9088|tlitcp";
  std::string user = "pfuser";
  std::string password = "pw";
  NSEntry entry {};
  ascbinreq params {};
  pfconkind conkind {};
  pfrequest request {asc_pf_conkind, &conkind};
  asfsvcreq req {};
  asfprocinfo procinfo {0, 4242, 0, host_text, tty_text, cwd_text, 1000, 1000};
  asfprocinfo peer {};

  explicit Client(int32_t level = -1) {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, asf_kind_requester, status);
    ctl.ascid = a;
    std::strcpy(entry.product, "ol");
    std::strcpy(entry.protocol, "tlitcp");
    entry.addrkind = 1;
    entry.loginkind = 1;
    entry.addrtext = addr.data();
    entry.servername = const_cast<char *>("srv1");
    entry.user = user.data();
    entry.password = password.data();
    std::strcpy(params.progname, "sqlexec");
    params.version = const_cast<char *>("9.40");
    params.clientid = const_cast<char *>("RDS#N000000");
    params.pfname = const_cast<char *>("sqli");
    params.word[0] = 311;
    params.pairs.level = level;
    params.pairs.version = -1;
    conkind.kind = asc_kind_nodb;
    req.word[pf_word_params] = reinterpret_cast<uintptr_t>(&params);
    req.word[pf_word_request] = reinterpret_cast<uintptr_t>(&request);
  }
  ~Client() {
    drop();
    pfDiscon(&ctl, SL_DISC_ABORT, nullptr);
    alCSfree(a);
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  void drop() {
    ascFreeParams(reinterpret_cast<ascbinreq *>(req.word[pf_word_srvparams]));
    ascFreeEnvlist(reinterpret_cast<evlist_t *>(req.word[pf_word_srvenv]));
    ascFreeRequest(reinterpret_cast<pfrequest *>(req.word[pf_word_response]));
    req.word[pf_word_srvparams] = req.word[pf_word_srvenv] = req.word[pf_word_response] = 0;
    ascFreeProcinfo(&peer);
  }
  int connect() {
    drop();
    return pfConReq(&ctl, &entry, &req, &procinfo, &peer, nullptr);
  }
  /* The bytes this client sends as its connect request (its connect then
  ** fails for want of an answer). */
  std::string request_bytes() {
    script.sent.clear();
    EXPECT_NE(connect(), 0);
    std::string s = all_sent();
    script.sent.clear();
    pfDiscon(&ctl, SL_DISC_ABORT, nullptr);
    return s;
  }
};

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
class Listening : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_table_ = tlprototab;
    int n = 0;
    for (; tlnetswtab[n].name != nullptr; ++n)
      table_.at(n) = tlnetswtab[n];
    table_.at(n) = tlnetswtab[n];
    table_[tcp_row].conn = fake_conn;
    table_[tcp_row].lisn = fake_lisn;
    seam_ = {table_.data(), fake_vector_of};
    tl_driver_override = &seam_;
    tlprototab = table_.data();
    script = Script {};
    previous_clock_ = os_clock;
    os_clock = &quick_clock;
    unsetenv("DVZ_LISTEN_TIMEOUT");
  }
  void TearDown() override {
    tl_driver_override = nullptr;
    tlprototab = previous_table_;
    os_clock = previous_clock_;
    unsetenv("DVZ_LISTEN_TIMEOUT");
  }

  std::array<tlnetsw, 8> table_ {};
  tl_driver_seam seam_ {};
  const tlnetsw *previous_table_ = nullptr;
  const os_clock_seam *previous_clock_ = nullptr;
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
    Listener l;
    ASSERT_EQ(l.listen(), 0);
    Accepted x;
    script.incoming = {{request}};
    ASSERT_EQ(x.indicate(l), 0);
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
    Listener l;
    ASSERT_EQ(l.listen(), 0);
    Accepted x;
    script.incoming = {{request}};
    ASSERT_EQ(x.indicate(l), 0) << l.ctl.asfcode;
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
    Listener l;
    ASSERT_EQ(l.listen(), 0);
    Accepted x;
    script.incoming = {{request}};
    ASSERT_EQ(x.indicate(l), 0);
    asfsvcreq bind {};
    EXPECT_EQ(pfConBind(&x.ctl, &bind, nullptr), -1);
    EXPECT_EQ(x.ctl.asfcode, ASF_ERR_LISTENCODE);
    EXPECT_EQ(x.pf()->state, pf_state_ind_read);
  }
  Client c;
  const std::string request = c.request_bytes();
  Listener l;
  ASSERT_EQ(l.listen(), 0);
  Accepted x;
  script.incoming = {{request}};
  ASSERT_EQ(x.indicate(l), 0);
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
  Listener l;
  ASSERT_EQ(l.listen(), 0);
  Accepted x;
  script.incoming = {{request}};
  ASSERT_EQ(x.indicate(l), 0) << l.ctl.asfcode;
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
  Listener l;
  ASSERT_EQ(l.listen(), 0);
  Accepted x;
  script.incoming = {{muxreq}};
  ASSERT_EQ(x.indicate(l), 0);
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
