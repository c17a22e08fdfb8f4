/*
** The listening side of the service call and the connection manager:
** listen (its sub-codes, the dynamic listener and its file), indication,
** response and verify, the state table of codes 4 and 5, the exit step's
** freeing, the login check of each authentication mode and its message
** parameters. The protocol family's listening entries and the login check
** are scripted through cm_listen_override, the abort through
** cm_attempt_override.
*/
#include <gtest/gtest.h>
#include <pwd.h>
#include <shadow.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "asf_listener_support.h"
#include "asf_memory.h"
#include "asf_ns.h"
#include "asf_test_support.h"
#include "cm_records.h"
#include "css_records.h"
#include "login.h"
#include "net_paths.h"
#include "os_seams.h"
#include "os_wrappers.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

/* ---- The scripted protocol family and login check. ---- */
struct Script {
  int listen_status = 0;
  int conind_status = 0;
  int conres_status = 0;
  int conbind_status = 0;
  int login_status = 0;
  int32_t userkind = ns_user_password;
  std::string user = "alice";
  const char *password = "secret";
  std::string progname = "ruzodu";
  std::string peer_host = "farhost";
  int32_t client_level = 0;
  /* What the script saw. */
  std::vector<std::string> calls;
  std::string listened_server;
  std::string login_user, login_password, login_host;
  int login_check = -1;
  uintptr_t response_kind = 0;
};
Script script;

int s_listen(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *) {
  script.calls.push_back("listen");
  script.listened_server = entry->servername != nullptr ? entry->servername : "";
  ctl->asfcode = script.listen_status;
  return script.listen_status == 0 ? 0 : -1;
}

int s_conind(asfsvcctl *ctl, Assocctl *, asfsvcreq *req, asfprocinfo *peer) {
  script.calls.push_back("conind");
  if (script.conind_status != 0) {
    ctl->asfcode = script.conind_status;
    return -1;
  }
  auto *p = static_cast<ascbinreq *>(asf_alloc(asf_pool_assoc, sizeof(ascbinreq)));
  std::memset(p, 0, sizeof *p);
  std::strncpy(p->progname, script.progname.c_str(), sizeof p->progname - 1);
  p->userkind = script.userkind;
  p->user = meStrDup(asf_pool_assoc, script.user.c_str());
  p->password = meStrDup(asf_pool_assoc, script.password);
  p->pairs.level = script.client_level;
  req->word[pf_word_cliparams] = reinterpret_cast<uintptr_t>(p);
  ascpairs pairs {};
  pairs.level = script.client_level;
  pfPutPairsAt(req, pf_word_lsnpairs, &pairs);
  peer->host = meStrDup(asf_pool_assoc, script.peer_host.c_str());
  return 0;
}

int s_conbind(asfsvcctl *ctl, asfsvcreq *, asfprocinfo *) {
  script.calls.push_back("conbind");
  ctl->asfcode = script.conbind_status;
  return script.conbind_status == 0 ? 0 : -1;
}

int s_conres(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *) {
  script.calls.push_back("conres");
  script.response_kind = req->word[pf_word_rspkind];
  ctl->asfcode = script.conres_status;
  return script.conres_status == 0 ? 0 : -1;
}

int s_login(const char *user, const char *password, const char *host, const uint8_t *, int32_t *uid,
            int32_t *gid, char *home, int check) {
  script.calls.push_back("login");
  script.login_user = user != nullptr ? user : "(none)";
  script.login_password = password != nullptr ? password : "(none)";
  script.login_host = host != nullptr ? host : "(none)";
  script.login_check = check;
  if (script.login_status != 0) return script.login_status;
  *uid = 1234;
  *gid = 567;
  std::strcpy(home, "/home/alice");
  return 0;
}

const cm_listen_seam scripted_listen = {s_listen, s_conind, s_conbind, s_conres, s_login};

std::vector<int> discon_codes;
int s_discon(asfsvcctl *, int code, asfsvcreq *) {
  discon_codes.push_back(code);
  return 0;
}
int s_connect(asfsvcctl *ctl, NSEntry *, asfsvcreq *, asfprocinfo *, asfprocinfo *, Assocctl *) {
  ctl->asfcode = -25592;
  return -1;
}
const cm_attempt_seam scripted_attempt = {s_connect, s_discon};

std::string this_host() {
  char host[ASF_NODENAME_SIZE] = {};
  rhostname(host, sizeof host);
  return host;
}

class ListenServices : public ::testing::Test {
 protected:
  void SetUp() override {
    script = Script {};
    discon_codes.clear();
    cm_listen_override = &scripted_listen;
    cm_attempt_override = &scripted_attempt;
    asfsvcctl ctl;
    ASSERT_EQ(asf_test::call_init(prot_, &ctl), 0) << ctl.asfcode;
  }
  void TearDown() override {
    asfsvcctl ctl;
    EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
    cm_listen_override = nullptr;
    cm_attempt_override = nullptr;
    asf_tmpdir_override(nullptr);
  }
  static asfsvcctl fresh(void *ascid = nullptr) { return asf_test::fresh_ctl(ascid); }
  static ASFGLBCTL *g() { return getASFGLBCTL(); }
  /* The verify service on a: the call's result, its status in *ctl. */
  static int verify(Assocctl *a, asfsvcctl *ctl) {
    *ctl = fresh(a);
    asfsvcreq req {};
    ASF_Init(asf_svc_verify, &req);
    return ASF_Call(ctl, &req);
  }
  /* A bare accepted association whose connect parameters are parms (the
  ** caller's); free_accepted gives it back. */
  static Assocctl *accepted_holding(ascbinreq *parms) {
    Assocctl *a = alCSalloc(nullptr, asf_kind_accepted, nullptr);
    cmApictlInit(a->al);
    a->al->cm.connparms = parms;
    return a;
  }
  static void free_accepted(Assocctl *a) {
    asf_free(asf_pool_assoc, a->al->cm.peertext);
    alCSfree(a);
  }

  /* A listen request of sub-code for server with mode. */
  asfsvcreq listen_req(uintptr_t sub, uint32_t mode, const char *server = "@srv") {
    asfsvcreq req {};
    ASF_Init(asf_svc_listen, &req);
    req.word[1] = sub;
    req.word[3] = reinterpret_cast<uintptr_t>(&lstatus_);
    req.word[4] = mode;
    req.word[5] = ns_req_dbenv;
    req.word[6] = reinterpret_cast<uintptr_t>(server);
    req.word[9] = 61;
    return req;
  }
  /* A listening association in mode, or null. */
  Assocctl *listener(uint32_t mode) {
    asfsvcctl ctl = fresh();
    asfsvcreq req = listen_req(0, mode);
    EXPECT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
    return static_cast<Assocctl *>(ctl.ascid);
  }
  /* An indication on lsn: the call's result, its control record in *out
  ** and the new association in *fresh_assoc. */
  int indicate(Assocctl *lsn, asfsvcctl *out, Assocctl **fresh_assoc) {
    *out = fresh(lsn);
    asfsvcreq req {};
    ASF_Init(asf_svc_indication, &req);
    req.word[2] = reinterpret_cast<uintptr_t>(&istatus_);
    int rc = ASF_Call(out, &req);
    *fresh_assoc = reinterpret_cast<Assocctl *>(req.word[6]);
    return rc;
  }
  /* The association an indication on lsn accepted, or null (a failure). */
  Assocctl *accepted_on(Assocctl *lsn) {
    asfsvcctl ctl;
    Assocctl *a = nullptr;
    const int rc = indicate(lsn, &ctl, &a);
    EXPECT_EQ(rc, 0) << ctl.asfcode << " " << ctl.oserr;
    return rc == 0 ? a : nullptr;
  }
  /* A response of kind on assoc with a level (0: none). */
  int respond(Assocctl *assoc, uintptr_t kind, asfsvcctl *out, int32_t level = 0) {
    *out = fresh(assoc);
    asfsvcreq req {};
    ASF_Init(asf_svc_response, &req);
    req.word[1] = kind;
    ascbinreq parms {};
    parms.pairs.level = level;
    if (level != 0) req.word[7] = reinterpret_cast<uintptr_t>(&parms);
    return ASF_Call(out, &req);
  }
  void abort(Assocctl *a) {
    asfsvcctl ctl = fresh(a);
    asfsvcreq req {};
    ASF_Init(asf_svc_abort, &req);
    EXPECT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
    EXPECT_EQ(ctl.ascid, nullptr);
  }

  char prot_[28] = {};
  dvz_test::TempDir dir_;
  dvz_test::ScopedEnv hosts_ {"DOVARIZASQLHOSTS",
                              dir_.write("sqlhosts",
                                         "srv oltlitcp 127.0.0.1 9\n"
                                         "cssrv oltlitcp 127.0.0.1 9 csm=(C1)\n")};
  dvz_test::ScopedEnv server_ {"DOVARIZASERVER", std::string("srv")};
  char lstatus_ = 5;
  char istatus_ = 5;
};

// ---- Listen. ----

TEST_F(ListenServices, ListenFailuresFreeTheNewListener) {
  struct Case {
    const char *what;
    uintptr_t sub;
    uint32_t mode;
    const char *server;
    int status;
    int oserr;
    bool listened;
  };
  const Case cases[] = {
      {"unknown sub-code", 4, 0, "@srv", ASF_ERR_LISTENCODE, 0, false},
      {"unknown sub-code with the lock bit", 0x10005, 0, "@srv", ASF_ERR_LISTENCODE, 0, false},
      {"mode 2", 0, 2, "@srv", ASF_ERR_BADARGS, 0, false},
      {"mode 16", 0, 16, "@srv", ASF_ERR_BADARGS, 0, false},
      {"mode 0x1000001", 0, 0x1000001, "@srv", ASF_ERR_BADARGS, 0, false},
      {"no server name", 0, 1, nullptr, ASF_ERR_BADARGS, 0, false},
      {"empty server name", 0, 1, "", ASF_ERR_BADARGS, 0, false},
      // The support library cannot be started: no concsm.cfg.
      {"communication support", 0, 1, "@cssrv", CM_STATUS_REFUSED, CSS_ERR_CFGOPEN, false},
      {"protocol family refuses", 0, 1, "@srv", -25592, 0, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    script.calls.clear();
    script.listen_status = c.listened ? -25592 : 0;
    asfsvcctl ctl = fresh();
    asfsvcreq req = listen_req(c.sub, c.mode, c.server);
    EXPECT_EQ(ASF_Call(&ctl, &req), -1);
    EXPECT_EQ(ctl.asfcode, c.status);
    EXPECT_EQ(ctl.oserr, c.oserr);
    EXPECT_EQ(ctl.ascid, nullptr);
    EXPECT_EQ(req.word[2], 0u);
    EXPECT_EQ(g()->lsnq, nullptr);
    EXPECT_EQ(g()->nlsn, 0);
    EXPECT_EQ(script.calls,
              c.listened ? std::vector<std::string> {"listen"} : std::vector<std::string> {});
  }
}

TEST_F(ListenServices, ListenMakesAQueuedListenerWithACopyOfItsEntry) {
  Assocctl *given = listener(0);  // a given id is replaced for sub-code 0
  asfsvcctl ctl = fresh(given);
  asfsvcreq req = listen_req(ASF_REQ_LOCKED, CM_AUTH_PASSWORD);
  ASSERT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
  auto *a = static_cast<Assocctl *>(ctl.ascid);
  ASSERT_NE(a, given);
  EXPECT_EQ(req.word[2], reinterpret_cast<uintptr_t>(a));
  EXPECT_EQ(a->kind, asf_kind_listener);
  EXPECT_EQ(a->flags & 16u, 16u);
  EXPECT_EQ(a->al->state, asf_state_new);
  EXPECT_EQ(a->al->cm.authmode, CM_AUTH_PASSWORD);
  EXPECT_EQ(a->al->cm.level, 61);
  ASSERT_NE(a->al->cm.svrentry, nullptr);
  EXPECT_STREQ(a->al->cm.svrentry->servername, "srv");
  EXPECT_EQ(script.listened_server, "srv");
  EXPECT_EQ(g()->lsnq, a);
  EXPECT_EQ(g()->nlsn, 2);
  EXPECT_EQ(lstatus_, 0);
  // A listener stays in state 0, from which no abort is allowed: the
  // termination takes it.
  asfsvcctl actl = fresh(a);
  asfsvcreq areq {};
  ASF_Init(asf_svc_abort, &areq);
  EXPECT_EQ(ASF_Call(&actl, &areq), -1);
  EXPECT_EQ(actl.asfcode, ASF_ERR_STATE);
}

TEST_F(ListenServices, TransportListenModesGoToTheTransportAndAFailureFreesTheListener) {
  for (uintptr_t sub : {1u, 2u}) {
    SCOPED_TRACE(sub);
    Assocctl *a = listener(0);
    ASSERT_EQ(g()->nlsn, 1);
    discon_codes.clear();
    script.calls.clear();
    asfsvcctl ctl = fresh(a);
    asfsvcreq req = listen_req(sub, 0);
    // The scripted listener has no transport block: the transport refuses.
    EXPECT_EQ(ASF_Call(&ctl, &req), -1);
    EXPECT_EQ(ctl.asfcode, ASF_ERR_BADASSOC);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(discon_codes, std::vector<int> {10});
    EXPECT_EQ(ctl.ascid, nullptr);
    EXPECT_EQ(g()->lsnq, nullptr);
    EXPECT_EQ(g()->nlsn, 0);
  }
}

// ---- Indication and response. ----

TEST_F(ListenServices, IndicationAcceptsAndResponseOpens) {
  Assocctl *lsn = listener(CM_AUTH_PASSWORD);
  asfsvcctl ctl;
  Assocctl *a = nullptr;
  ASSERT_EQ(indicate(lsn, &ctl, &a), 0) << ctl.asfcode << " " << ctl.oserr;
  EXPECT_EQ(ctl.ascid, lsn);
  ASSERT_TRUE(asfValidAssoc(a));
  EXPECT_EQ(a->kind, asf_kind_accepted);
  EXPECT_EQ(a->al->state, asf_state_pending);
  EXPECT_EQ(g()->accq, a);
  EXPECT_EQ(g()->nacc, 1);
  EXPECT_EQ(istatus_, 1);
  const asfcmarea &cm = a->al->cm;
  ASSERT_NE(cm.connparms, nullptr);
  EXPECT_STREQ(static_cast<ascbinreq *>(cm.connparms)->user, "alice");
  EXPECT_EQ(cm.svrentry, lsn->al->cm.svrentry);
  EXPECT_EQ(cm.authmode, CM_AUTH_PASSWORD);
  EXPECT_EQ(cm.level, 61);
  EXPECT_EQ(script.login_user, "alice");
  EXPECT_EQ(script.login_password, "secret");
  EXPECT_EQ(script.login_host, "farhost");
  EXPECT_EQ(script.login_check, 1);
  EXPECT_EQ(cm.peeruid, 1234);
  EXPECT_EQ(cm.peergid, 567);
  EXPECT_STREQ(cm.peertext, "/home/alice");

  asfsvcctl rctl;
  ASSERT_EQ(respond(a, 0, &rctl), 0) << rctl.asfcode;
  EXPECT_EQ(a->al->state, asf_state_open);
  EXPECT_EQ(istatus_, 0);
  EXPECT_EQ(rctl.ascid, a);
  abort(a);
  EXPECT_EQ(g()->nacc, 0);
}

TEST_F(ListenServices, IndicationTakesTheLowerLevel) {
  Assocctl *lsn = listener(CM_AUTH_NONE);
  for (int32_t client : {59, 63}) {
    script.client_level = client;
    Assocctl *a = accepted_on(lsn);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->al->cm.level, client < 61 ? client : 61);
    abort(a);
  }
}

TEST_F(ListenServices, LoginOfEachModeAndItsMessageParameter) {
  const std::string long_user(500, 'u');
  struct Case {
    const char *what;
    uint32_t mode;
    int32_t userkind;
    std::string user;
    int login;
    int status;
    int oserr;
    std::string errstr;
    bool checked;
  };
  const Case cases[] = {
      {"mode 1 accepted", 1, 1, "alice", 0, 0, 0, "", true},
      {"unknown user", 1, 1, "alice", -951, 8, -951, "alice", true},
      {"wrong password", 1, 1, "alice", -952, 8, -952, "alice", true},
      {"untrusted host", 1, 1, "alice", -956, 8, -956, "(alice@farhost)", true},
      {"no host", 1, 1, "alice", -954, 8, -954, "", true},
      {"credential in mode 1", 1, 16, "alice", 0, 8, CM_ERR_AUTHMODE, "", false},
      {"no user in mode 1", 1, 0, "alice", 0, 8, CM_ERR_AUTHMODE, "", false},
      {"mode 0 accepts everyone", 0, 0, "", -952, 0, 0, "", false},
      {"mode 0x1000000 checks nothing", CM_AUTH_NOCHECK, 16, "x", -952, 0, 0, "", false},
      {"long user cut", 1, 1, long_user, -952, 8, -952, long_user.substr(0, 427), true},
      {"long user@host cut", 1, 1, long_user, -956, 8, -956, "(" + long_user.substr(0, 426), true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Assocctl *lsn = listener(c.mode);
    script.calls.clear();
    script.userkind = c.userkind;
    script.user = c.user;
    script.login_status = c.login;
    asfsvcctl ctl;
    Assocctl *a = nullptr;
    EXPECT_EQ(indicate(lsn, &ctl, &a), c.status == 0 ? 0 : -1);
    EXPECT_EQ(ctl.asfcode, c.status);
    EXPECT_EQ(ctl.oserr, c.oserr);
    EXPECT_EQ(std::string(ctl.errstr), c.errstr);
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "login"), c.checked ? 1 : 0);
    // Accepted or refused, the client waits for an answer: the new
    // association is queued, pending, and a reject frees it.
    ASSERT_TRUE(asfValidAssoc(a));
    EXPECT_EQ(a->al->state, asf_state_pending);
    if (c.mode != CM_AUTH_PASSWORD) {
      EXPECT_EQ(a->al->cm.peeruid, -1);
    }
    asfsvcctl rctl;
    EXPECT_EQ(respond(a, 7, &rctl), 0) << rctl.asfcode;
    EXPECT_EQ(script.response_kind, 7u);
    EXPECT_EQ(rctl.ascid, nullptr);
    EXPECT_EQ(g()->nacc, 0);
  }
}

TEST_F(ListenServices, AFailedIndicationFreesTheNewAssociationOnly) {
  Assocctl *lsn = listener(CM_AUTH_NONE);
  script.conind_status = -25587;
  asfsvcctl ctl;
  Assocctl *a = nullptr;
  EXPECT_EQ(indicate(lsn, &ctl, &a), -1);
  EXPECT_EQ(ctl.asfcode, -25587);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(discon_codes, std::vector<int> {10});
  EXPECT_EQ(g()->nacc, 0);
  EXPECT_EQ(ctl.ascid, lsn);
  EXPECT_TRUE(asfValidAssoc(lsn));
}

TEST_F(ListenServices, ResponseIsAllowedOnlyFromStatePending) {
  for (int state = asf_state_new; state <= asf_state_failed; ++state) {
    SCOPED_TRACE(state);
    Assocctl *a = alCSalloc(nullptr, asf_kind_accepted, nullptr);
    a->al->state = state;
    a->al->cm.level = 61;
    asfsvcctl ctl;
    const int rc = respond(a, 0, &ctl);
    if (state == asf_state_pending) {
      EXPECT_EQ(rc, 0) << ctl.asfcode;
      EXPECT_EQ(a->al->state, asf_state_open);
    } else {
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(ctl.asfcode, ASF_ERR_STATE);
      EXPECT_EQ(a->al->state, state);
    }
    alCSfree(a);
  }
}

TEST_F(ListenServices, IndicationIsNeverRefusedByTheListenersState) {
  Assocctl *lsn = listener(CM_AUTH_NONE);
  for (int state : {asf_state_open, asf_state_aborted, asf_state_failed}) {
    lsn->al->state = state;
    asfsvcctl ctl;
    Assocctl *a = nullptr;
    EXPECT_EQ(indicate(lsn, &ctl, &a), 0) << state << " " << ctl.asfcode;
    abort(a);
  }
}

TEST_F(ListenServices, ResponseLevelAboveTheAssociationsIsRefused) {
  Assocctl *lsn = listener(CM_AUTH_NONE);
  asfsvcctl ctl;
  Assocctl *a = nullptr;
  ASSERT_EQ(indicate(lsn, &ctl, &a), 0);
  a->al->cm.level = 59;
  asfsvcctl rctl;
  EXPECT_EQ(respond(a, 0, &rctl, 61), -1);
  EXPECT_EQ(rctl.asfcode, CM_ERR_LEVEL);
  EXPECT_EQ(rctl.ascid, nullptr);  // a failed response frees the association
  EXPECT_EQ(g()->nacc, 0);

  ASSERT_EQ(indicate(lsn, &ctl, &a), 0);
  a->al->cm.level = 61;
  EXPECT_EQ(respond(a, 0, &rctl, 59), 0) << rctl.asfcode;
  EXPECT_EQ(a->al->cm.level, 59);
  abort(a);
}

// ---- Verify. ----

TEST_F(ListenServices, VerifyChecksByTheListenersMode) {
  struct Case {
    const char *what;
    uint32_t mode;
    int32_t userkind;
    std::string user;
    int status;
    int oserr;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"mode 1", 1, 1, "alice", 0, 0, {"login"}},
      {"no check counts as 1", CM_AUTH_NOCHECK, 1, "alice", 0, 0, {"login"}},
      {"no user is the current user, kind 17", 1, 0, "", 8, CM_ERR_AUTHMODE, {}},
      {"mode 0", 0, 0, "", 0, 0, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Assocctl *lsn = listener(c.mode);
    script.userkind = c.userkind;
    script.user = c.user;
    asfsvcctl ctl;
    Assocctl *a = nullptr;
    indicate(lsn, &ctl, &a);
    ASSERT_TRUE(asfValidAssoc(a));
    script.calls.clear();
    asfsvcctl vctl;
    EXPECT_EQ(verify(a, &vctl), c.status == 0 ? 0 : -1);
    EXPECT_EQ(vctl.asfcode, c.status);
    EXPECT_EQ(vctl.oserr, c.oserr);
    EXPECT_EQ(script.calls, c.calls);
    EXPECT_EQ(a->kind, asf_kind_accepted);
    if (c.userkind == 0) {
      char current[ASF_USERNAME_SIZE];
      ASSERT_EQ(getCurUser(current), 0);
      const auto *p = static_cast<ascbinreq *>(a->al->cm.connparms);
      EXPECT_STREQ(p->user, current);
      EXPECT_EQ(p->password, nullptr);
      EXPECT_EQ(p->userkind, ns_user_current);
    }
    abort(a);
  }
}

TEST_F(ListenServices, VerifyBindsForCommunicationSupportAndReportsAnOldClient) {
  Assocctl *lsn = listener(CM_AUTH_NOCHECK);
  Assocctl *a = accepted_on(lsn);
  ASSERT_NE(a, nullptr);
  // The listener's entry asks for communication support.
  NSEntry *entry = lsn->al->cm.svrentry;
  entry->options.csm = meStrDup(asf_pool_assoc, "C1");
  for (int bind : {ASF_ERR_LISTENCODE, 0}) {
    script.calls.clear();
    script.conbind_status = bind;
    asfsvcctl vctl;
    EXPECT_EQ(verify(a, &vctl), -1);
    EXPECT_EQ(vctl.asfcode, CM_STATUS_REFUSED);
    // A scripted bind leaves no protocol-family block to log in through.
    EXPECT_EQ(vctl.oserr, bind != 0 ? ASF_ERR_LISTENCODE : ASF_ERR_BADASSOC);
    EXPECT_EQ(script.calls, std::vector<std::string> {"conbind"});
  }
  abort(a);
}

// ---- The login check. ----

TEST_F(ListenServices, ChkAuthModes) {
  struct Case {
    uint32_t mode;
    int32_t userkind;
    int login;
    int result;
  };
  const Case cases[] = {
      {0, 0, -952, 0},
      {1, 1, 0, 0},
      {1, 1, -956, -956},
      {1, 17, 0, CM_ERR_AUTHMODE},
      {16, 1, 0, ASF_ERR_BADASSOC},
      {2, 1, 0, CM_ERR_AUTHMODE},
      {CM_AUTH_NOCHECK, 1, 0, CM_ERR_AUTHMODE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    ascbinreq parms {};
    parms.userkind = c.userkind;
    parms.user = const_cast<char *>("alice");
    Assocctl *a = accepted_holding(&parms);
    script.login_status = c.login;
    asfsvcctl ctl = fresh(a);
    EXPECT_EQ(chkAuth(&ctl, a, c.mode), c.result);
    EXPECT_EQ(ctl.oserr, c.result);
    free_accepted(a);
  }
}

TEST_F(ListenServices, ChkInternetTakesALocalClientsOwnIdentity) {
  const std::string host = this_host();
  ASSERT_FALSE(host.empty());
  for (const char *password : {static_cast<const char *>(nullptr), "pw"}) {
    SCOPED_TRACE(password != nullptr ? "with password" : "without password");
    ascbinreq parms {};
    std::strcpy(parms.progname, "sqlexec");
    parms.userkind = 1;
    parms.user = const_cast<char *>("alice");
    parms.password = const_cast<char *>(password);
    Assocctl *a = accepted_holding(&parms);
    asfcmarea &cm = a->al->cm;
    cm.peer.host = const_cast<char *>(host.c_str());
    cm.peer.uid = 42;
    cm.peer.gid = 43;
    cm.peer.cwd = const_cast<char *>("/work/dir");
    script.calls.clear();
    asfsvcctl ctl = fresh(a);
    EXPECT_EQ(chkInternet(&ctl, a, 1), 0);
    if (password == nullptr) {
      EXPECT_TRUE(script.calls.empty());
      EXPECT_EQ(cm.peeruid, 42);
      EXPECT_EQ(cm.peergid, 43);
      EXPECT_STREQ(cm.peertext, "/work/dir");
    } else {
      EXPECT_EQ(script.calls, std::vector<std::string> {"login"});
      EXPECT_EQ(cm.peeruid, 1234);
      EXPECT_STREQ(cm.peertext, "/home/alice");
    }
    free_accepted(a);
  }
}

// ---- The dynamic listener. ----

time_t fixed_now() { return 1000000; }
unsigned no_sleep(unsigned) { return 0; }
const os_clock_seam fixed_clock = {fixed_now, no_sleep};

class DynamicListener : public ListenServices {
 protected:
  void SetUp() override {
    ListenServices::SetUp();
    asf_tmpdir_override(dir_.path().c_str());
    previous_clock_ = os_clock;
    os_clock = &fixed_clock;
  }
  void TearDown() override {
    os_clock = previous_clock_;
    ListenServices::TearDown();
  }
  /* A dynamic listen for the database environment text: its result and
  ** control record; the text is left in text_. */
  int dynamic(const char *env, asfsvcctl *ctl, const char *protocol = nullptr,
              Assocctl *given = nullptr) {
    std::snprintf(text_, sizeof text_, "%s", env);
    *ctl = fresh(given);
    asfsvcreq req = listen_req(3, CM_AUTH_NONE);
    req.word[5] = ns_req_dbenv;
    req.word[6] = reinterpret_cast<uintptr_t>(text_);
    if (protocol != nullptr) {
      ascpairs pairs {};
      std::strcpy(pairs.protocol, protocol);
      pfPutPairsAt(&req, pf_word_lsnpairs, &pairs);
    }
    int rc = ASF_Call(ctl, &req);
    kind_ = static_cast<int32_t>(req.word[5]);
    return rc;
  }
  std::string file() const { return dir_.file(".dynamic_listener"); }
  const os_clock_seam *previous_clock_ = nullptr;
  char text_[CM_DYNLINE_SIZE] = {};
  int32_t kind_ = 0;
};

TEST_F(DynamicListener, AppendsItsLineToAFileCreated0644) {
  const mode_t old = umask(077);
  asfsvcctl ctl;
  int rc = dynamic("db@srv", &ctl);
  umask(old);
  ASSERT_EQ(rc, 0) << ctl.asfcode << " " << ctl.oserr;
  const std::string line = this_host() + "|0|srv";
  EXPECT_EQ(std::string(text_), line);
  EXPECT_EQ(kind_, ns_req_address);
  EXPECT_EQ(dvz_test::read_file(file()), line + "\n");
  struct stat st {};
  ASSERT_EQ(stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  auto *first = static_cast<Assocctl *>(ctl.ascid);
  EXPECT_EQ(first->kind, asf_kind_listener);

  asfsvcctl ctl2;
  ASSERT_EQ(dynamic("db2@srv", &ctl2), 0);
  EXPECT_EQ(dvz_test::read_file(file()), line + "\n" + line + "\n");
  EXPECT_EQ(g()->nlsn, 2);
}

TEST_F(DynamicListener, AGivenListenerListensAgainQueuedOnce) {
  Assocctl *a = listener(CM_AUTH_PASSWORD);
  ASSERT_NE(a, nullptr);
  const NSEntry *old_entry = a->al->cm.svrentry;
  asfsvcctl ctl;
  ASSERT_EQ(dynamic("db@srv", &ctl, nullptr, a), 0) << ctl.asfcode;
  EXPECT_EQ(ctl.ascid, a);
  EXPECT_EQ(g()->lsnq, a);
  EXPECT_EQ(g()->nlsn, 1);
  EXPECT_EQ(a->al->cm.authmode, CM_AUTH_NONE);
  EXPECT_NE(a->al->cm.svrentry, old_entry);
}

TEST_F(DynamicListener, ATcpListenerChoosesItsPortFromTheClock) {
  asfsvcctl ctl;
  ASSERT_EQ(dynamic("db@srv", &ctl, "tlitcp"), 0) << ctl.asfcode;
  const int port = 20480 + (1000000 & 0x4fff);
  const std::string line = this_host() + "|" + std::to_string(port) + "|tlitcp";
  EXPECT_EQ(std::string(text_), line);
  EXPECT_EQ(dvz_test::read_file(file()), line + "\n");
}

TEST_F(DynamicListener, FailuresAbortTheListenerAndSetBitZeroOfTheStatusByte) {
  struct Case {
    const char *what;
    bool bad_dir;
    int listen;
    int status;
  };
  const Case cases[] = {{"listen fails", false, -25592, -25592},
                        {"file cannot be opened", true, 0, ASF_ERR_COMMON}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string missing = dir_.file("missing");
    if (c.bad_dir) asf_tmpdir_override(missing.c_str());
    script.listen_status = c.listen;
    discon_codes.clear();
    lstatus_ = 4;
    asfsvcctl ctl;
    EXPECT_EQ(dynamic("db@srv", &ctl), -1);
    EXPECT_EQ(ctl.asfcode, c.status);
    if (c.bad_dir) {
      EXPECT_EQ(ctl.oserr, ENOENT);
    }
    EXPECT_EQ(ctl.ascid, nullptr);
    EXPECT_EQ(lstatus_, 1);
    EXPECT_EQ(discon_codes, std::vector<int> {10});
    EXPECT_EQ(g()->nlsn, 0);
    asf_tmpdir_override(dir_.path().c_str());
  }
  struct stat st {};
  EXPECT_NE(stat(file().c_str(), &st), 0);
}

// ---- End to end: our own listener in a child, our own client here. ----

/* A user the login check knows, with the password "right" under a crypt
** that marks its key. */
char *mark_crypt(const char *key, const char *) {
  static std::string out;
  out = std::string("H:") + key;
  return out.data();
}
struct passwd *fake_getpwnam(const char *name) {
  static char user[] = "dvzuser", pw[] = "x", dir[] = "/nonexistent", shell[] = "/bin/sh";
  static struct passwd p { user, pw, 4321, 4321, user, dir, shell };
  return std::strcmp(name, user) == 0 ? &p : os_system_users.getpwnam(name);
}
struct spwd *fake_getspnam(const char *name) {
  static char user[] = "dvzuser", pw[] = "H:right";
  static struct spwd s {};
  s.sp_namp = user;
  s.sp_pwdp = pw;
  s.sp_lstchg = static_cast<long>(time(nullptr) / 86400);
  s.sp_min = -1;
  s.sp_max = -1;
  s.sp_warn = -1;
  s.sp_inact = -1;
  s.sp_expire = -1;
  return std::strcmp(name, user) == 0 ? &s : os_system_users.getspnam(name);
}
const os_users_seam fake_users = {fake_getpwnam, os_system_users.getpwuid, fake_getspnam,
                                  os_system_users.getgrgid, os_system_users.getlogin};
asf_login_seam fake_login;
/* In the child: the fake user, and the login check's crypt. */
void child_knows_dvzuser() {
  os_users = &fake_users;
  fake_login = asf_system_login;
  fake_login.hosts_equiv = "/nonexistent/hosts.equiv";
  fake_login.crypt = mark_crypt;
  asf_login = &fake_login;
}

/* The child's reports still to be read, for a failure message. */
std::string child_said(asf_test::ListenerChild &child) {
  std::string said;
  asf_test::ListenerReport r;
  while (child.next(&r, 2000))
    said += "\n  child: " + r.step + " " + std::to_string(r.status) + " " +
            std::to_string(r.oserr) + " " + r.text;
  return said;
}

class ListenerEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    port_ = asf_test::free_loopback_port();
    ASSERT_GT(port_, 0);
    hosts_ = std::make_unique<dvz_test::ScopedEnv>(
        "DOVARIZASQLHOSTS",
        dir_.write("sqlhosts", "srv oltlitcp 127.0.0.1 " + std::to_string(port_) + "\n"));
    fds_ = asf_test::fd_count();
    asf_test::default_parms(&parms_);
  }
  void TearDown() override {
    if (initialised_) {
      asfsvcctl ctl;
      EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
    }
    // No descriptor and no child process is left behind.
    EXPECT_EQ(asf_test::fd_count(), fds_);
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  /* Starts the child and waits for its listen: false (the test failed)
  ** when the listen did not succeed. */
  bool start(asf_test::ListenerChild &child) {
    asf_test::ListenerReport r;
    if (!child.next(&r)) {
      ADD_FAILURE() << "no listen report";
      return false;
    }
    listen_ = r;
    EXPECT_EQ(r.status, 0) << r.oserr << " " << r.text;
    if (r.status != 0) return false;
    init();
    return true;
  }
  void init() {
    asfsvcctl ctl;
    ASSERT_EQ(asf_test::call_init(prot_, &ctl), 0) << ctl.asfcode;
    initialised_ = true;
  }
  /* The client's connect to srv (or to the address text when given). */
  int connect(asfsvcctl *ctl, asfsvcreq *req, const char *address = nullptr) {
    *ctl = asf_test::fresh_ctl(nullptr, 10000);
    ASF_Init(asf_svc_connect, req);
    req->word[2] = address != nullptr ? ns_req_address : ns_req_server;
    req->word[3] = reinterpret_cast<uintptr_t>(address != nullptr ? address : "srv");
    req->word[4] = 1;
    req->word[5] = reinterpret_cast<uintptr_t>(&status_byte_);
    req->word[7] = reinterpret_cast<uintptr_t>(&parms_);
    req->word[8] = env_.count > 0 ? reinterpret_cast<uintptr_t>(&env_) : 0;
    req->word[9] = reinterpret_cast<uintptr_t>(&pfreq_);
    return ASF_Call(ctl, req);
  }
  int simple(int code, void *assoc) {
    asfsvcctl ctl = asf_test::fresh_ctl(assoc);
    asfsvcreq req {};
    ASF_Init(code, &req);
    const int rc = ASF_Call(&ctl, &req);
    last_ = ctl.asfcode;
    return rc;
  }

  dvz_test::TempDir dir_;
  std::unique_ptr<dvz_test::ScopedEnv> hosts_;
  dvz_test::ScopedEnv server_ {"DOVARIZASERVER", std::string("srv")};
  int port_ = 0;
  int fds_ = -1;
  bool initialised_ = false;
  char prot_[ASF_PROT_ENTRY_SIZE] = {};
  ascbinreq parms_ {};
  evlist_t env_ {};
  pfconkind kind_ {asc_kind_nodb, 0, {}};
  pfrequest pfreq_ {asc_pf_conkind, &kind_};
  char status_byte_ = 0;
  int last_ = 0;
  asf_test::ListenerReport listen_;
};

TEST_F(ListenerEndToEnd, AcceptsExchangesAndReleasesForEachRequestFormAndLevel) {
  char n0[] = "DVZ_TEST", v_text[] = "plain", v_binary[] = "with blank";
  char *names[] = {n0};
  struct Case {
    const char *what;
    char *value; /* a blank makes the request binary */
    int32_t level;
    bool readable; /* a headerless binary request is none the listener knows */
  };
  const Case cases[] = {{"text, level 61", v_text, 61, true},
                        {"text, level 59", v_text, 59, true},
                        {"binary, level 61", v_binary, 61, true},
                        {"binary, level 59", v_binary, 59, false}};
  // A text request names its version and identification: without them
  // its words would not read back, and the client sends the binary form.
  parms_.version = const_cast<char *>("9.40");
  parms_.clientid = const_cast<char *>("RDS#N000000");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    char *values[] = {c.value};
    env_ = evlist_t {1, names, values};
    parms_.pairs.level = c.level;
    asf_test::ListenerSpec spec;
    asf_test::ListenerChild child(spec);
    if (!start(child)) return;
    asfsvcctl ctl;
    asfsvcreq req {};
    const int rc = connect(&ctl, &req);
    asf_test::ListenerReport r;
    if (!c.readable) {
      EXPECT_EQ(rc, -1);
      ASSERT_TRUE(child.next_step("indication", &r));
      EXPECT_EQ(r.status, ASF_ERR_PROTOCOL);
      EXPECT_EQ(child.stop(), 0);
      continue;
    }
    ASSERT_EQ(rc, 0) << ctl.asfcode << " " << ctl.oserr << child_said(child);
    void *assoc = ctl.ascid;
    ASSERT_TRUE(child.next_step("indication", &r));
    EXPECT_EQ(r.status, 0) << r.oserr;
    // The accepted association holds the client's program, user, connect
    // kind and environment list.
    const struct passwd *pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_NE(r.text.find(std::string("user=") + pw->pw_name + " "), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("prog=sqlexec"), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("kind=" + std::to_string(asc_kind_nodb)), std::string::npos) << r.text;
    EXPECT_NE(r.text.find(std::string("env=DVZ_TEST=") + c.value), std::string::npos) << r.text;
    ASSERT_TRUE(child.next_step("response", &r));
    EXPECT_EQ(r.status, 0);

    const std::string data = asf_test::pattern(10 * 1024);
    asf_test::call_send(assoc, data);
    EXPECT_EQ(asf_test::call_receive(assoc, data.size()), data);
    EXPECT_EQ(simple(asf_svc_release, assoc), 0) << last_;
    ASSERT_TRUE(child.next_step("echo", &r));
    EXPECT_EQ(r.text, std::to_string(data.size()));
    EXPECT_EQ(child.stop(), 0);
  }
}

TEST_F(ListenerEndToEnd, RejectGivesTheClientStatus7) {
  asf_test::ListenerSpec spec;
  spec.after = asf_test::AfterAccept::reject;
  asf_test::ListenerChild child(spec);
  if (!start(child)) return;
  asfsvcctl ctl;
  asfsvcreq req {};
  EXPECT_EQ(connect(&ctl, &req), -1);
  EXPECT_EQ(ctl.asfcode, asf_status_rejected);
  EXPECT_EQ(ctl.oserr, spec.reject_error);
  asf_test::ListenerReport r;
  ASSERT_TRUE(child.next_step("response", &r));
  if (ctl.ascid != nullptr) {
    EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << last_;
  }
  child.stop();
}

TEST_F(ListenerEndToEnd, LoginOfEachMode) {
  struct Case {
    const char *what;
    uint32_t mode;
    const char *prog;
    int32_t userkind;
    const char *password;
    int status;
    int oserr;
    const char *errstr;
  };
  const Case cases[] = {
      {"right password", 1, "sqlexec", 1, "right", 0, 0, ""},
      {"wrong password", 1, "sqlexec", 1, "wrong", 8, -952, "dvzuser"},
      // Every loopback peer is "localhost", a host the login check trusts.
      {"no password from this host", 1, "onutil", 1, "", 0, 0, ""},
      {"mode 0 accepts everyone", 0, "sqlexec", 1, "wrong", 0, 0, ""},
      {"mode 0x1000000 checks nothing", CM_AUTH_NOCHECK, "sqlexec", 1, "wrong", 0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    asf_test::ListenerSpec spec;
    spec.auth_mode = c.mode;
    spec.after = asf_test::AfterAccept::accept_only;
    spec.child_setup = child_knows_dvzuser;
    asf_test::ListenerChild child(spec);
    if (!start(child)) return;
    std::strcpy(parms_.progname, c.prog);
    char user[] = "dvzuser";
    std::string password = c.password != nullptr ? c.password : "";
    parms_.userkind = c.userkind;
    parms_.user = c.userkind != 0 ? user : nullptr;
    parms_.password = c.password != nullptr ? password.data() : nullptr;
    asfsvcctl ctl;
    asfsvcreq req {};
    const int rc = connect(&ctl, &req);
    asf_test::ListenerReport r;
    ASSERT_TRUE(child.next_step("indication", &r));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.oserr, c.oserr);
    if (c.status != 0) {
      EXPECT_EQ(r.text.substr(0, r.text.find(" | ")), c.errstr);
      // The refused client is answered with a reject.
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(ctl.asfcode, asf_status_rejected);
      EXPECT_EQ(ctl.oserr, c.oserr);
    } else {
      EXPECT_EQ(rc, 0) << ctl.asfcode;
      EXPECT_NE(r.text.find("user=dvzuser"), std::string::npos) << r.text;
    }
    if (ctl.ascid != nullptr) {
      EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << last_;
    }
    child.stop();
    parms_.user = nullptr;
    parms_.password = nullptr;
  }
}

TEST_F(ListenerEndToEnd, DynamicListenersAppendTheirAddressLines) {
  const std::string tmp = dir_.path();
  std::vector<std::string> lines;
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    // A free port the child's clock selects: 20480 + (time AND 0x4fff).
    auto reachable = [](int p) { return p >= 20480 && ((p - 20480) & ~0x4fff) == 0; };
    int port = 0;
    for (int tries = 0; tries < 500 && !reachable(port); ++tries)
      port = asf_test::free_loopback_port();
    ASSERT_TRUE(reachable(port)) << port;
    static time_t clock_value;
    clock_value = port - 20480;
    asf_test::ListenerSpec spec;
    spec.subcode = 3;
    spec.child_setup = [tmp] {
      static std::string dir;
      dir = tmp;
      asf_tmpdir_override(dir.c_str());
      static const os_clock_seam fixed = {[] { return clock_value; }, [](unsigned) { return 0u; }};
      os_clock = &fixed;
    };
    asf_test::ListenerChild child(spec);
    if (!start(child)) return;
    const std::string address = this_host() + "|" + std::to_string(port) + "|tlitcp";
    EXPECT_EQ(listen_.text, address);
    lines.push_back(address + "\n");
    asfsvcctl ctl;
    asfsvcreq req {};
    ASSERT_EQ(connect(&ctl, &req, address.c_str()), 0) << ctl.asfcode << " " << ctl.oserr;
    EXPECT_EQ(simple(asf_svc_release, ctl.ascid), 0) << last_;
    child.stop();
  }
  const std::string file = dir_.file(".dynamic_listener");
  EXPECT_EQ(dvz_test::read_file(file), lines[0] + lines[1]);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ListenerEndToEnd, MultiplexedConnectJoinsThroughTheMuxListener) {
  hosts_.reset();
  hosts_ = std::make_unique<dvz_test::ScopedEnv>(
      "DOVARIZASQLHOSTS", dir_.write("sqlhosts", "srv oltlitcp 127.0.0.1 " + std::to_string(port_) +
                                                     " m=1\nmux olsqlmux 127.0.0.1 mux1\n"));
  asf_test::ListenerSpec spec;
  spec.mux_server = "mux";
  spec.after = asf_test::AfterAccept::accept_only;
  asf_test::ListenerChild child(spec);
  if (!start(child)) return;
  asf_test::ListenerReport r;
  ASSERT_TRUE(child.next_step("mux-listen", &r));
  ASSERT_EQ(r.status, 0) << r.oserr << " " << r.text;
  asfsvcctl ctl;
  asfsvcreq req {};
  ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.oserr << child_said(child);
  auto *first = static_cast<Assocctl *>(ctl.ascid);
  ASSERT_TRUE(child.next_step("response", &r));
  EXPECT_EQ(r.status, 0);

  // The second connect goes as a multiplexed session of the first's
  // connection and is accepted by the mux listener.
  asfsvcctl ctl2;
  asfsvcreq req2 {};
  ASSERT_EQ(connect(&ctl2, &req2), 0) << ctl2.asfcode << " " << ctl2.oserr << child_said(child);
  auto *second = static_cast<Assocctl *>(ctl2.ascid);
  ASSERT_TRUE(child.next_step("mux-indication", &r));
  EXPECT_EQ(r.status, 0) << r.oserr << " " << r.text;
  ASSERT_TRUE(child.next_step("mux-response", &r));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->tlblock, first->tlblock);

  EXPECT_EQ(simple(asf_svc_release, second), 0) << last_;
  EXPECT_EQ(simple(asf_svc_release, first), 0) << last_;
  EXPECT_TRUE(child.next_step("end", &r));
  EXPECT_EQ(child.stop(), 0);
}

TEST_F(ListenerEndToEnd, WithoutAMuxListenerTheSecondConnectGoesAlone) {
  hosts_.reset();
  hosts_ = std::make_unique<dvz_test::ScopedEnv>(
      "DOVARIZASQLHOSTS",
      dir_.write("sqlhosts", "srv oltlitcp 127.0.0.1 " + std::to_string(port_) + " m=1\n"));
  asf_test::ListenerSpec spec;
  spec.after = asf_test::AfterAccept::accept_only;
  spec.take_second = true;
  asf_test::ListenerChild child(spec);
  if (!start(child)) return;
  asf_test::ListenerReport r;
  asfsvcctl ctl;
  asfsvcreq req {};
  ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.oserr << child_said(child);
  auto *first = static_cast<Assocctl *>(ctl.ascid);
  ASSERT_TRUE(child.next_step("response", &r));
  asfsvcctl ctl2;
  asfsvcreq req2 {};
  ASSERT_EQ(connect(&ctl2, &req2), 0) << ctl2.asfcode << " " << ctl2.oserr << child_said(child);
  auto *second = static_cast<Assocctl *>(ctl2.ascid);
  ASSERT_TRUE(child.next_step("second-indication", &r));
  EXPECT_EQ(r.status, 0) << r.oserr << " " << r.text;
  EXPECT_NE(second->tlblock, first->tlblock);
  // The child serves only the first connection: the second is aborted.
  EXPECT_EQ(simple(asf_svc_abort, second), 0) << last_;
  EXPECT_EQ(simple(asf_svc_release, first), 0) << last_;
  EXPECT_TRUE(child.next_step("end", &r));
  EXPECT_EQ(child.stop(), 0);
}

}  // namespace
