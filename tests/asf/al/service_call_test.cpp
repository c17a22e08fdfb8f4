/*
** The service call: ASF_Init's argument sizes, the entry checks, the
** state table of codes 3 to 10 in every state, the codes without a
** service, the freeing of failed and aborted associations (and of the
** caller's id of them), send-buffer checks and attributes. The connect
** attempts are scripted through cm_attempt_override.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "cm_records.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

/* ---- Scripted attempts. ---- */
int attempt_status = 0;
int attempt_oserr = 0;
void *attempt_assoc = nullptr;
std::vector<int> discon_states;

int scripted_connect(asfsvcctl *ctl, NSEntry *, asfsvcreq *, asfprocinfo *, asfprocinfo *,
                     Assocctl *) {
  attempt_assoc = ctl->ascid;
  ctl->asfcode = attempt_status;
  ctl->oserr = attempt_oserr;
  return attempt_status == 0 ? 0 : -1;
}
int scripted_discon(asfsvcctl *ctl, int, asfsvcreq *) {
  auto *a = static_cast<Assocctl *>(ctl->ascid);
  discon_states.push_back(asfValidAssoc(a) ? a->al->state : -1);
  return 0;
}
const cm_attempt_seam scripted = {scripted_connect, scripted_discon};

class ServiceCall : public ::testing::Test {
 protected:
  void SetUp() override {
    cm_attempt_override = &scripted;
    attempt_status = 0;
    attempt_oserr = 0;
    discon_states.clear();
    asfsvcctl ctl;
    ASSERT_EQ(asf_test::call_init(prot_, &ctl), 0) << ctl.asfcode;
  }
  void TearDown() override {
    asfsvcctl ctl;
    EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
    EXPECT_EQ(getASFGLBCTL(), nullptr);
    cm_attempt_override = nullptr;
  }
  static asfsvcctl fresh(void *ascid = nullptr) { return asf_test::fresh_ctl(ascid); }
  /* A connect through ASF_Call to "srv" of a sqlhosts fixture. */
  int connect(asfsvcctl *ctl, asfsvcreq *req) {
    ASF_Init(asf_svc_connect, req);
    req->word[2] = 7;
    req->word[3] = reinterpret_cast<uintptr_t>("srv");
    req->word[4] = 1;
    req->word[5] = reinterpret_cast<uintptr_t>(&status_byte_);
    req->word[7] = reinterpret_cast<uintptr_t>(&parms_);
    req->word[9] = reinterpret_cast<uintptr_t>(&pfreq_);
    return ASF_Call(ctl, req);
  }
  /* An association in state, not queued. */
  static ascbinreq make_parms() {
    ascbinreq p {};
    std::strcpy(p.progname, "sqlexec");
    return p;
  }
  static Assocctl *in_state(int state) {
    Assocctl *a = alCSalloc(nullptr, asf_kind_requester, nullptr);
    a->al->state = state;
    return a;
  }

  char prot_[28] = {};
  dvz_test::TempDir dir_;
  dvz_test::ScopedEnv hosts_ {"DOVARIZASQLHOSTS",
                              dir_.write("sqlhosts", "srv oltlitcp 127.0.0.1 9\n")};
  dvz_test::ScopedEnv server_ {"DOVARIZASERVER", std::string("srv")};
  ascbinreq parms_ = make_parms();
  pfconkind kind_ {asc_kind_nodb, 0, {}};
  pfrequest pfreq_ {asc_pf_conkind, &kind_};
  char status_byte_ = 0;
};

TEST(AsfInit, ClearsTheArgumentBlockOfEachCode) {
  const int bytes[] = {92, 52, 24, 80, 52, 44, 12, 12, 4,  12, 4,
                       12, 8,  4,  12, 12, 8,  8,  -1, -1, 36};
  for (int code = -1; code <= 21; ++code) {
    asfsvcreq req;
    std::memset(&req, 0xA5, sizeof req);
    const asfsvcreq before = req;
    const int n = code >= 0 && code <= 20 ? bytes[code] : -1;
    if (n < 0) {
      EXPECT_EQ(ASF_Init(code, &req), -1) << code;
      EXPECT_EQ(std::memcmp(&req, &before, sizeof req), 0) << code;
      continue;
    }
    EXPECT_EQ(ASF_Init(code, &req), 0) << code;
    EXPECT_EQ(req.word[0], static_cast<uintptr_t>(code));
    for (int w = 1; w <= n / 4; ++w)
      EXPECT_EQ(req.word[w], 0u) << code << " word " << w;
    if (n / 4 + 1 < ASF_REQUEST_WORDS) {
      EXPECT_EQ(req.word[n / 4 + 1], before.word[n / 4 + 1]) << code;
    }
  }
  EXPECT_EQ(ASF_Init(3, nullptr), -1);
}

TEST(AsfCall, EntryChecks) {
  asfsvcreq req {};
  EXPECT_EQ(ASF_Call(nullptr, &req), -1);
  asfsvcctl ctl {};
  EXPECT_EQ(ASF_Call(&ctl, nullptr), -1);
  EXPECT_EQ(ctl.asfcode, ASF_ERR_BADARGS);
}

TEST(AsfRequest, HalfWordAccessorsKeepTheRestOfTheWord) {
  asfsvcreq req {};
  req.word[2] = ~uintptr_t {0};
  asf_req_set_half(&req, 2, 0);
  EXPECT_EQ(asf_req_half(&req, 2), 0);
  EXPECT_NE(req.word[2], 0u);
  asf_req_set_half(&req, 2, -1);
  EXPECT_EQ(asf_req_half(&req, 2), -1);
  asf_req_set_half(&req, 3, 0x1234);
  EXPECT_EQ(asf_req_half(&req, 3), 0x1234);
}

TEST_F(ServiceCall, CodesWithoutAServiceFailBeforeTouchingAnything) {
  struct Case {
    uintptr_t code;
    int status;
  };
  const Case cases[] = {{21, ASF_ERR_BADCODE},
                        {1000, ASF_ERR_BADCODE},
                        {18, ASF_ERR_BADASSOC},
                        {19, ASF_ERR_BADASSOC}};
  Assocctl *a = in_state(asf_state_open);
  for (const Case &c : cases) {
    asfsvcctl ctl = fresh(a);
    std::strcpy(ctl.errstr, "old");
    asfsvcreq req {};
    req.word[0] = c.code;
    EXPECT_EQ(ASF_Call(&ctl, &req), -1) << c.code;
    EXPECT_EQ(ctl.asfcode, c.status) << c.code;
    EXPECT_EQ(ctl.ascid, a) << c.code;
    EXPECT_EQ(ctl.errstr[0], '\0');
    EXPECT_EQ(a->al->state, asf_state_open);
  }
  alCSfree(a);
}

/* Codes 6 to 10 in every state: a refused cell gives -25598 and leaves
** the state (a release or abort in state 7 moves it to 8); an allowed
** cell runs the service. */
TEST_F(ServiceCall, StateTableDecidesEveryCodeInEveryState) {
  // Allowed (code, state) pairs.
  auto allowed = [](int code, int state) {
    switch (code) {
      case 6:
      case 7:
      case 8:
      case 9:
        return state == 1;
      case 10:
        return state == 1 || state == 2 || state == 3 || state == 5 || state == 8;
    }
    return false;
  };
  for (int code = 6; code <= 10; ++code) {
    for (int state = 0; state <= 8; ++state) {
      SCOPED_TRACE("code " + std::to_string(code) + " state " + std::to_string(state));
      Assocctl *a = in_state(state);
      asfsvcctl ctl = fresh(a);
      asfsvcreq req {};
      ASF_Init(code, &req);
      int rc = ASF_Call(&ctl, &req);
      if (!allowed(code, state)) {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(ctl.asfcode, ASF_ERR_STATE);
        const int next = (state == 7 && (code == 9 || code == 10)) ? 8 : state;
        EXPECT_EQ(a->al->state, next);
        EXPECT_EQ(ctl.ascid, a);
        alCSfree(a);
        continue;
      }
      EXPECT_NE(ctl.asfcode, ASF_ERR_STATE);
      if (code == 10) {
        // The abort ran in its own exit step: passed 4, freed, id cleared.
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(ctl.asfcode, 0);
        EXPECT_EQ(ctl.ascid, nullptr);
        EXPECT_FALSE(asfValidAssoc(a));
        ASSERT_FALSE(discon_states.empty());
        EXPECT_EQ(discon_states.back(), asf_state_aborting);
        continue;
      }
      if (code == 9) {
        // The scripted release succeeds: released and freed.
        EXPECT_EQ(rc, 0);
        EXPECT_FALSE(asfValidAssoc(a));
        EXPECT_EQ(ctl.ascid, nullptr);
        continue;
      }
      EXPECT_EQ(a->al->state, 1);
      alCSfree(a);
    }
  }
}

TEST_F(ServiceCall, ConnectOutcomes) {
  struct Case {
    const char *what;
    uint32_t flags;
    int status, oserr;
    int rc;
    bool kept; /* the association is returned */
  };
  const Case cases[] = {
      {"accepted", 1, 0, 0, 0, true},
      {"rejected: state 8 until the caller's abort", 1, 7, -387, -1, true},
      {"failed: freed", 1, -908, 0, -1, false},
      {"multiplexed reject of a lone connect: freed", 1, 10, 0, -1, false},
      {"flags 17 stay 17 and are refused", 17, 0, 0, -1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    attempt_status = c.status;
    attempt_oserr = c.oserr;
    attempt_assoc = nullptr;
    asfsvcctl ctl = fresh(reinterpret_cast<void *>(0x10));  // cleared on entry
    ctl.flags = c.flags;
    asfsvcreq req {};
    EXPECT_EQ(connect(&ctl, &req), c.rc);
    if (c.flags == 17) {
      EXPECT_EQ(ctl.asfcode, ASF_ERR_BADARGS);
      EXPECT_EQ(ctl.flags, 17u);
    } else {
      EXPECT_EQ(ctl.asfcode, c.status);
      EXPECT_EQ(ctl.oserr, c.oserr);
    }
    auto *a = reinterpret_cast<Assocctl *>(req.word[cm_word_assoc]);
    if (!c.kept) {
      EXPECT_EQ(a, nullptr);
      EXPECT_EQ(ctl.ascid, nullptr);
      if (attempt_assoc != nullptr) {
        // The stale id of the freed association is refused.
        asfsvcctl again = fresh(attempt_assoc);
        asfsvcreq send {};
        ASF_Init(asf_svc_send, &send);
        EXPECT_EQ(ASF_Call(&again, &send), -1);
        EXPECT_EQ(again.asfcode, ASF_ERR_BADASSOC);
      }
      continue;
    }
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ctl.ascid, a);
    EXPECT_EQ(a->al->state, c.status == 0 ? asf_state_open : asf_state_failed);
    EXPECT_EQ(getASFGLBCTL()->reqq, a);
    EXPECT_EQ(status_byte_, 1);
    asfsvcctl actl = fresh(a);
    asfsvcreq abort {};
    ASF_Init(asf_svc_abort, &abort);
    abort.word[1] = ASF_ABORT_PASS;
    EXPECT_EQ(ASF_Call(&actl, &abort), 0);
    EXPECT_EQ(actl.ascid, nullptr);
    EXPECT_FALSE(asfValidAssoc(a));
    EXPECT_EQ(getASFGLBCTL()->reqq, nullptr);
    EXPECT_EQ(getASFGLBCTL()->nreq, 0);
  }
}

TEST_F(ServiceCall, SendTakesOnlyTheCurrentBuffer) {
  Assocctl *a = in_state(asf_state_open);
  char area[64];
  rscbufctl cur {area + 6, 10, 0, nullptr, area, sizeof area, 6};
  rscbufctl other = cur;
  a->sndbuf = &cur;

  // Send-buffer allocation hands out the current one.
  asfsvcctl ctl = fresh(a);
  asfsvcreq req {};
  ASF_Init(asf_svc_sendbuf, &req);
  EXPECT_EQ(ASF_Call(&ctl, &req), 0);
  EXPECT_EQ(req.word[2], reinterpret_cast<uintptr_t>(&cur));
  EXPECT_EQ(cur.type, -1);

  // A foreign buffer: refused, and the current one reset to its allocation.
  ASF_Init(asf_svc_send, &req);
  asf_req_set_half(&req, 2, -1);
  req.word[3] = reinterpret_cast<uintptr_t>(&other);
  EXPECT_EQ(ASF_Call(&ctl, &req), -1);
  EXPECT_EQ(ctl.asfcode, ASF_ERR_BADARGS);
  EXPECT_EQ(cur.p, area);
  EXPECT_EQ(cur.size, static_cast<int32_t>(sizeof area));

  // An empty current buffer is made ready again and stays current.
  cur.size = 0;
  req.word[3] = reinterpret_cast<uintptr_t>(&cur);
  EXPECT_EQ(ASF_Call(&ctl, &req), 0);
  EXPECT_EQ(cur.p, area + 6);
  EXPECT_EQ(cur.size, static_cast<int32_t>(sizeof area) - 6);
  EXPECT_EQ(a->sndbuf, &cur);
  EXPECT_EQ(a->al->state, asf_state_open);
  a->sndbuf = nullptr;
  alCSfree(a);
}

TEST_F(ServiceCall, DirectServicesNeedNoAssociation) {
  // Attribute 4 answers without an association; 7 needs one.
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_attribute, &req);
  req.word[1] = 4;
  EXPECT_EQ(ASF_Call(&ctl, &req), 0);
  EXPECT_EQ(req.word[2], reinterpret_cast<uintptr_t>(&getASFGLBCTL()->initval));
  req.word[1] = 7;
  EXPECT_EQ(ASF_Call(&ctl, &req), -1);
  EXPECT_EQ(ctl.asfcode, ASF_ERR_BADASSOC);

  // Directory with word 1 not 0 succeeds without a registry; with 0 it
  // returns the registry of the default server.
  ASF_Init(asf_svc_directory, &req);
  req.word[1] = 1;
  EXPECT_EQ(ASF_Call(&ctl, &req), 0);
  EXPECT_EQ(req.word[6], 0u);
  req.word[1] = 0;
  EXPECT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
  auto *reg = reinterpret_cast<NSReg *>(req.word[6]);
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->count, 1);
  EXPECT_STREQ(reg->entry[0].servername, "srv");
  ASF_FreeNSReg(reg);

  // Allocate, free and wait-free services.
  for (int code : {asf_svc_alloc, asf_svc_free}) {
    ASF_Init(code, &req);
    EXPECT_EQ(ASF_Call(&ctl, &req), 0) << code;
  }
}

TEST_F(ServiceCall, TermAbortsWhatIsLeft) {
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASSERT_EQ(connect(&ctl, &req), 0);
  auto *a = static_cast<Assocctl *>(ctl.ascid);
  ASSERT_TRUE(asfValidAssoc(a));
  asfsvcctl tctl = fresh();
  asfsvcreq term {};
  ASF_Init(asf_svc_term, &term);
  EXPECT_EQ(ASF_Call(&tctl, &term), 0);
  EXPECT_FALSE(asfValidAssoc(a));
  // TearDown terminates again on no global block; init afresh for it.
  SetUp();
}

TEST_F(ServiceCall, AttributesOfAnAssociation) {
  Assocctl *a = in_state(asf_state_open);
  char xarea[4];
  rscbufctl xbuf {xarea, 4, 0, nullptr, xarea, 4, 2};
  a->xrcvbuf = &xbuf;
  auto attrib = [&](uintptr_t code, uintptr_t value) {
    asfsvcctl ctl = fresh(a);
    asfsvcreq req {};
    ASF_Init(asf_svc_attribute, &req);
    req.word[1] = code;
    req.word[2] = value;
    EXPECT_EQ(ASF_Call(&ctl, &req), 0) << code << ": " << ctl.asfcode;
    return req.word[2];
  };
  EXPECT_EQ(attrib(8, 0), reinterpret_cast<uintptr_t>(&a->flags));
  uint32_t flags = 16;
  attrib(264, reinterpret_cast<uintptr_t>(&flags));
  EXPECT_EQ(a->flags, 16u);
  EXPECT_EQ(attrib(3, 0), reinterpret_cast<uintptr_t>(&a->al->cm.peer));
  EXPECT_EQ(attrib(5, 0), reinterpret_cast<uintptr_t>(&a->al->cm.connparms));
  EXPECT_EQ(attrib(7, 0), reinterpret_cast<uintptr_t>(&a->al->cm.svrentry));

  // A status-byte area of the caller's: cleared, and the expedited
  // receive buffer points at its second byte.
  char area[2] = {'x', 'y'};
  attrib(272, reinterpret_cast<uintptr_t>(area));
  EXPECT_EQ(area[0], 0);
  EXPECT_EQ(area[1], 0);
  EXPECT_EQ(attrib(16, 0), reinterpret_cast<uintptr_t>(area));
  EXPECT_EQ(xbuf.p, area + 1);
  EXPECT_EQ(xbuf.size, 1);
  EXPECT_EQ(xbuf.p_offset, 0);
  // None given: the association's own area.
  attrib(272, 0);
  EXPECT_EQ(attrib(16, 0), reinterpret_cast<uintptr_t>(a->ownstatus));
  EXPECT_EQ(xbuf.p, a->ownstatus + 1);
  a->xrcvbuf = nullptr;
  alCSfree(a);
}

}  // namespace
