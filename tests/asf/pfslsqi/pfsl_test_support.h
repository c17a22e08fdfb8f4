/*
** pfsl_test_support.h: the scripted driver that the session-layer,
** protocol-family and listening tests put behind the "tlitcp" row, and
** the byte helpers they write wire data with. Connect and listen are
** scripted; every transport send is recorded as one chunk; every receive
** hands out the next scripted chunk exactly as split, or fails with the
** chunk's status (an empty script: the peer is gone, or with
** silent_advances_clock a wait that ran out on the fake clock). Accept
** gives the new association its buffers and the peer address
** Script::peer. PfClient is a client association of our own whose
** connect request goes out through it. One Script per test program (each is its own process);
** ScriptedDriverTest installs the driver and a fresh script per test.
*/
#ifndef DVZ_TESTS_ASF_PFSL_TEST_SUPPORT_H
#define DVZ_TESTS_ASF_PFSL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "pf_records.h"
#include "sl_records.h"
#include "tl_records.h"

namespace pfsl_test {

/* The row of "tlitcp" in the protocol table. */
constexpr int tcp_row = 3;

/* The bytes of a list of byte values. */
inline std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list)
    s.push_back(static_cast<char>(b));
  return s;
}

/* A 6-byte session header: length, type, flag and id, big-endian. */
inline std::string header(int length, int type, int flag, int id = 0) {
  return bytes({(length >> 8) & 0xff, length & 0xff, type, flag, (id >> 8) & 0xff, id & 0xff});
}

/* The pieces one after another. */
inline std::string joined(const std::vector<std::string> &v) {
  std::string s;
  for (const auto &x : v)
    s += x;
  return s;
}

/* One scripted receive: its bytes, or (status not 0) a failure with that
** status and oserr. */
struct Chunk {
  std::string data;
  int status = 0;
  int oserr = 0;
  Chunk(std::string d = {}, int st = 0, int os = 0) : data(std::move(d)), status(st), oserr(os) {}
  Chunk(const char *d) : data(d) {}
};

struct Script {
  int bufsize = 4096; /* the driver's buffer size */
  std::vector<std::string> sent; /* one entry per transport send */
  std::deque<Chunk> incoming; /* one receive each, as split */
  std::vector<int> recv_timeouts; /* the control timeout of each receive */
  std::vector<std::string> calls; /* conn, lisn <mode> <address>, accp, disc <flags>, soob <byte> */
  std::string connected_to; /* the address text of the last connect */
  int conn_status = 0; /* a failing connect's status */
  std::string peer = "clienthost|40001|tlitcp"; /* the address an accept reports */
  int64_t *clock = nullptr; /* a fake clock the receives advance, or null */
  bool silent_advances_clock = false; /* no data: the clock runs out the wait */
  int64_t per_piece = 0; /* the clock advance of each piece received */
};
inline Script script;

/* Everything sent, one chunk after another. */
inline std::string all_sent() { return joined(script.sent); }

inline int fake_send(drvblock *, rscbufctl *buf, asfsvcctl *ctl) {
  script.sent.emplace_back(buf->p, static_cast<size_t>(buf->size));
  bufReg(static_cast<Assocctl *>(ctl->ascid), asf_buf_send, buf);
  return 0;
}

inline int fake_recv(drvblock *, rscbufctl **slot, asfsvcctl *ctl) {
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  script.recv_timeouts.push_back(ctl->timeout);
  rscbufctl *buf = *slot;
  const bool own = buf == nullptr;
  if (own && bufGet(assoc, asf_buf_recv, &buf) != 0) {
    driver_error(ctl, TLI_ERR_OUTSTATE, 0);
    return -1;
  }
  if (script.incoming.empty() || script.incoming.front().status != 0) {
    int status = TLI_ERR_PEERGONE, oserr = 0;
    if (!script.incoming.empty()) {
      status = script.incoming.front().status;
      oserr = script.incoming.front().oserr;
      script.incoming.pop_front();
    } else if (script.silent_advances_clock) {
      if (script.clock != nullptr && ctl->timeout > 0) *script.clock += ctl->timeout;
      status = TLI_STATUS_AGAIN;
    }
    if (own) bufReg(assoc, asf_buf_recv, buf);
    driver_error(ctl, status, oserr);
    return -1;
  }
  std::string chunk = script.incoming.front().data;
  script.incoming.pop_front();
  if (script.clock != nullptr) *script.clock += script.per_piece;
  EXPECT_LE(chunk.size(), static_cast<size_t>(buf->lbuff))
      << "scripted chunk larger than the buffer";
  std::memcpy(buf->buff, chunk.data(), chunk.size());
  buf->p = buf->buff;
  buf->size = static_cast<int32_t>(chunk.size());
  *slot = buf;
  return 0;
}

inline int fake_soob(drvblock *, rscbufctl *buf, asfsvcctl *ctl) {
  script.calls.push_back("soob " + std::string(buf->p, static_cast<size_t>(buf->size)));
  bufReg(static_cast<Assocctl *>(ctl->ascid), asf_buf_send | asf_buf_exp, buf);
  return 0;
}

inline int fake_disc(drvblock *drv, int flags, asfsvcctl *ctl) {
  script.calls.push_back("disc " + std::to_string(flags));
  net_deallocate(drv, ctl);
  return 0;
}

inline int fake_init(asfsvcctl *, void *, int, const char *) { return 0; }

/* Accept: the new association's buffers and a peer address record of
** Script::peer (the association's pool). */
inline int fake_accp(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl) {
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
    fake_init, nullptr,   nullptr, nullptr, fake_accp, fake_send, fake_recv, fake_soob,
    nullptr,   fake_disc, nullptr, nullptr, nullptr,   nullptr,   nullptr,   nullptr,
    nullptr,   nullptr,   nullptr, nullptr, nullptr,   nullptr,
};
inline const opvec *fake_vector_of(int type) {
  return type == tl_drv_tlitcp ? &fake_vector : nullptr;
}

/* Connect: fails with Script::conn_status when set, else the driver's
** buffers of Script::bufsize. */
inline int fake_conn(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl) {
  script.calls.push_back("conn");
  script.connected_to = parms != nullptr && parms->addr != nullptr ? parms->addr->text : "";
  if (script.conn_status != 0) {
    driver_error(ctl, script.conn_status, 0);
    return -1;
  }
  if (load_operation_vector(drv) != 0) return -1;
  drv->bufsize = script.bufsize;
  drv->priv = asf_alloc(asf_pool_assoc, sizeof(tlictl));
  if (drv->priv == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, 12);
    return -1;
  }
  return net_buffer_setup(drv, static_cast<Assocctl *>(ctl->ascid), ctl);
}

inline int fake_lisn(drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *) {
  script.calls.push_back("lisn " + std::to_string(mode) + " " + parms->addr->text);
  if (load_operation_vector(drv) != 0) return -1;
  drv->bufsize = script.bufsize;
  return 0;
}

/* The scripted driver behind "tlitcp" and a fresh script, for each test;
** the protocol table and the driver override are restored after it. */
class ScriptedDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = std::make_unique<asf_test::DriverTableOverride>(fake_vector_of);
    table_->row(tcp_row).conn = fake_conn;
    table_->row(tcp_row).lisn = fake_lisn;
    script = Script {};
  }
  void TearDown() override { table_.reset(); }

 private:
  std::unique_ptr<asf_test::DriverTableOverride> table_;
};

inline char host_text[] = "pfhost";
inline char tty_text[] = "/dev/pts/9";
inline char cwd_text[] = "/work";

/* A client association of our own, with the connect request its fields
** make (pfConReq over the scripted driver); its outputs are freed before
** each connect and at the end, when it is aborted and freed. */
struct PfClient {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  std::string addr = "127.0.0.1|9088|tlitcp";
  std::string servername = "srv1";
  std::string user = "pfuser";
  std::string password = "pw";
  NSEntry entry {};
  ascbinreq params {};
  pfconkind conkind {};
  pfrequest request {asc_pf_conkind, &conkind};
  asfsvcreq req {};
  asfprocinfo procinfo {0, 4242, 0, host_text, tty_text, cwd_text, 1000, 1000};
  asfprocinfo peer {};

  explicit PfClient(int32_t level = -1) {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, asf_kind_requester, status);
    EXPECT_NE(a, nullptr);
    ctl.ascid = a;
    std::strcpy(entry.product, "ol");
    std::strcpy(entry.protocol, "tlitcp");
    entry.addrkind = 1;
    entry.loginkind = 1;
    std::strcpy(params.progname, "sqlexec");
    params.version = const_cast<char *>("9.40");
    params.clientid = const_cast<char *>("RDS#N000000");
    params.pfname = const_cast<char *>("sqli");
    params.word[0] = 311;
    params.pairs.level = level;
    params.pairs.version = -1;
    conkind.kind = asc_kind_nodb;
    req.word[0] = 3;
    req.word[pf_word_params] = reinterpret_cast<uintptr_t>(&params);
    req.word[pf_word_request] = reinterpret_cast<uintptr_t>(&request);
  }
  ~PfClient() {
    drop_outputs();
    pfDiscon(&ctl, SL_DISC_ABORT, nullptr);
    alCSfree(a);
  }
  PfClient(const PfClient &) = delete;
  PfClient &operator=(const PfClient &) = delete;

  pfblock *pf() const { return static_cast<pfblock *>(a->pfblock); }
  pfrequest *response() const { return reinterpret_cast<pfrequest *>(req.word[pf_word_response]); }
  ascbinreq *srvparams() const {
    return reinterpret_cast<ascbinreq *>(req.word[pf_word_srvparams]);
  }
  void drop_outputs() {
    ascFreeParams(srvparams());
    ascFreeEnvlist(reinterpret_cast<evlist_t *>(req.word[pf_word_srvenv]));
    ascFreeRequest(response());
    req.word[pf_word_srvparams] = req.word[pf_word_srvenv] = req.word[pf_word_response] = 0;
    ascFreeProcinfo(&peer);
  }
  int connect(Assocctl *shared = nullptr) {
    drop_outputs();
    entry.addrtext = addr.data();
    entry.servername = servername.data();
    entry.user = user.empty() ? nullptr : user.data();
    entry.password = password.empty() ? nullptr : password.data();
    return pfConReq(&ctl, &entry, &req, &procinfo, &peer, shared);
  }
  /* Sends data through the association's send buffer. */
  int send(const std::string &data) {
    rscbufctl *b = nullptr;
    if (bufGet(a, asf_buf_send, &b) != 0) return -2;
    std::memcpy(b->p, data.data(), data.size());
    b->size = static_cast<int32_t>(data.size());
    asfsvcreq r {};
    asf_req_set_half(&r, 2, -1);
    r.word[3] = reinterpret_cast<uintptr_t>(b);
    int rc = pfSend(&ctl, &r);
    if (a->sndbuf == nullptr) bufReg(a, asf_buf_send, b);
    return rc;
  }
  /* One receive: the piece delivered, or "!<status>". */
  std::string receive() {
    asfsvcreq r {};
    if (pfRecv(&ctl, &r) != 0) {
      EXPECT_EQ(r.word[3], 0u);
      return "!" + std::to_string(ctl.asfcode);
    }
    EXPECT_EQ(asf_req_half(&r, 2), -1);
    auto *out = reinterpret_cast<rscbufctl *>(r.word[3]);
    return std::string(out->p, static_cast<size_t>(out->size));
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

}  // namespace pfsl_test

#endif
