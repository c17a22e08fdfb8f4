/*
** The server side of the connection manager: listen, the incoming
** connection and its login check, the connect response and the
** verification. Called by the service call (service_call.cpp) for the
** listen, indication, response and verify services; calls the name
** service for the listener's entry, the protocol family's listening
** entries and the login check (_oschkinternet).
**
** An accepted association owns the client's connect parameters, request
** and environment list from the indication on (cmDiscon frees them) and
** shares its listener's server entry. A listener whose entry asks for
** communication support starts the support library; in the
** communication-support login mode the accepted association's support
** context runs the server handshake, and the module must mark the login
** as checked.
** Tests replace the protocol family and the login check through
** cm_listen_override.
*/
#include <cstring>
#include <string>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_css.h"
#include "asf_memory.h"
#include "asf_ns.h"
#include "asf_tl.h"
#include "cm_records.h"
#include "os_wrappers.h"
#include "pf_records.h"

namespace {

constexpr cm_listen_seam production_listen = {pfListen, pfConInd, pfConBind, pfConRes,
                                              _oschkinternet};

const cm_listen_seam &seam() {
  return cm_listen_override != nullptr ? *cm_listen_override : production_listen;
}

/* Room for the home directory the login check returns (it writes at most
** 64 bytes). */
constexpr size_t kHomeSize = 256;

/* Sets ctl's status and returns -1. */
int fail(asfsvcctl *ctl, int code) {
  ctl->asfcode = code;
  return -1;
}

Assocctl *valid_assoc(void *id) {
  auto *a = static_cast<Assocctl *>(id);
  return asfValidAssoc(a) && a->al != nullptr ? a : nullptr;
}

bool empty(const char *s) { return s == nullptr || s[0] == '\0'; }

/* Replaces the association's peer text by a copy of text. 0 or -406. */
int set_peer_text(asfcmarea *cm, const char *text) {
  char *copy = meStrDup(asf_pool_assoc, text);
  if (copy == nullptr && text != nullptr) return ASF_ERR_MEMORY;
  asf_free(asf_pool_assoc, cm->peertext);
  cm->peertext = copy;
  return 0;
}

/* Reports a refused login err of assoc's client in ctl: status 8, the
** error in oserr and the user, or "(user@host)", as message parameter
** (asf_set_errstr cuts it to fit). Returns -1. */
int report_refused(asfsvcctl *ctl, const Assocctl *assoc, int err) {
  const asfcmarea &cm = assoc->al->cm;
  const auto *params = static_cast<const ascbinreq *>(cm.connparms);
  const char *user = params != nullptr && params->user != nullptr ? params->user : "";
  ctl->asfcode = CM_STATUS_REFUSED;
  ctl->oserr = err;
  if (err == LOGIN_ERR_NOUSER || err == LOGIN_ERR_PASSWORD) {
    asf_set_errstr(ctl, user);
  } else if (err == LOGIN_ERR_UNTRUSTED) {
    std::string text = "(";
    text += user;
    text += '@';
    text += cm.peer.host != nullptr ? cm.peer.host : "";
    text += ')';
    asf_set_errstr(ctl, text.c_str());
  }
  return -1;
}

/* The login check of mode on assoc; a refusal is reported in ctl. 0 or -1. */
int check_login(asfsvcctl *ctl, Assocctl *assoc, uint32_t mode) {
  const int err = chkAuth(ctl, assoc, mode);
  return err == 0 ? 0 : report_refused(ctl, assoc, err);
}

/* Starts the support library for a listener: 0, or -1 with its failure
** in oserr (and errstr). */
int css_start(asfsvcctl *ctl) {
  asfsvcctl cctl = *ctl;
  if (asf_css_init_once(&cctl) == 0) return 0;
  ctl->oserr = cctl.asfcode;
  std::memcpy(ctl->errstr, cctl.errstr, sizeof ctl->errstr);
  return -1;
}

/* The communication-support login of assoc's client: the accepting
** context runs the server handshake; the ids and home the module left in
** the information record are taken, else the user is looked up without a
** password; the module must have marked the login as checked. 0, or the
** failure (-25590 without the mark). */
int css_login(asfsvcctl *ctl, Assocctl *assoc) {
  asfcmarea *cm = &assoc->al->cm;
  const NSEntry *entry = cm->svrentry;
  csm_conn_info info;
  asfsvcctl cctl = *ctl;
  if (asf_css_accept_context(
          &cctl, reinterpret_cast<uintptr_t>(entry), reinterpret_cast<uintptr_t>(&cm->peer),
          reinterpret_cast<uintptr_t>(cm->connparms), reinterpret_cast<uintptr_t>(assoc), 0, 0, 0,
          0, 0, get_csm_conn_spec(entry), &info) != 0) {
    std::memcpy(ctl->errstr, cctl.errstr, sizeof ctl->errstr);
    return cctl.asfcode != 0 ? cctl.asfcode : ASF_ERR_COMMON;
  }
  const auto *home = reinterpret_cast<const char *>(info.word[ASFCSS_INFO_HOME]);
  if (home != nullptr) {
    if (set_peer_text(cm, home) != 0) return ASF_ERR_MEMORY;
    cm->peeruid = static_cast<int32_t>(info.word[ASFCSS_INFO_UID]);
    cm->peergid = static_cast<int32_t>(info.word[ASFCSS_INFO_GID]);
  } else {
    const int rc = chkInternet(ctl, assoc, 0);
    if (rc != 0) return rc;
  }
  return info.word[CSM_INFO_LOGIN_CHECKED] == 1 ? 0 : ASF_ERR_NOUSER;
}

}  // namespace

const cm_listen_seam *cm_listen_override = nullptr;

extern "C" {

int cmListen(asfsvcctl *ctl, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  const auto mode = static_cast<uint32_t>(req->word[cm_word_authmode]);
  const auto *text = reinterpret_cast<const char *>(req->word[cm_word_lsntext]);
  if ((mode != CM_AUTH_NONE && mode != CM_AUTH_PASSWORD && mode != CM_AUTH_NOCHECK) || empty(text))
    return fail(ctl, ASF_ERR_BADARGS);
  Assocctl *assoc = valid_assoc(ctl->ascid);
  if (assoc == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  cmApictlInit(assoc->al);

  nsnamereq name {static_cast<int32_t>(req->word[cm_word_lsnkind]), text};
  NSReg *reg = nullptr;
  if (nsGetRegistry(ctl, 1, nullptr, &name, &reg) != 0) return -1;
  if (reg == nullptr) return fail(ctl, ASF_ERR_COMMON);
  int status = 0;
  if (reg->count < 1) {
    status = CM_ERR_NOENTRY;
  } else {
    NSEntry *entry = &reg->entry[0];
    if (entry->omit != 0) {
      status = entry->omit;
    } else if (is_css_processing_requested(entry) && css_start(ctl) != 0) {
      status = CM_STATUS_REFUSED;
    } else if (seam().listen(ctl, entry, req) != 0) {
      status = ctl->asfcode;
    } else {
      asfcmarea *cm = &assoc->al->cm;
      cm->level = static_cast<int32_t>(req->word[cm_word_lsnlevel]);
      cm->authmode = mode;
      // A listener that listens again drops the copy of its old entry.
      if (cm->svrentry != nullptr) frNSEntry(asf_pool_assoc, cm->svrentry, 1);
      cm->svrentry = dupNSEntry(asf_pool_assoc, entry);
      if (cm->svrentry == nullptr) status = ASF_ERR_MEMORY;
    }
  }
  ASF_FreeNSReg(reg);
  ctl->asfcode = status;
  return status == 0 ? 0 : -1;
}

int cmConInd(asfsvcctl *ctl, Assocctl *newassoc, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (req == nullptr || ctl->flags != asf_flag_sync) return fail(ctl, ASF_ERR_BADARGS);
  if (valid_assoc(ctl->ascid) == nullptr || valid_assoc(newassoc) == nullptr)
    return fail(ctl, ASF_ERR_BADASSOC);
  cmApictlInit(newassoc->al);
  if (seam().conind(ctl, newassoc, req, &newassoc->al->cm.peer) != 0) return -1;
  return cmIndDone(ctl, newassoc, req);
}

int cmIndDone(asfsvcctl *ctl, Assocctl *newassoc, asfsvcreq *req) {
  Assocctl *listener = valid_assoc(ctl->ascid);
  if (listener == nullptr || valid_assoc(newassoc) == nullptr || req == nullptr)
    return fail(ctl, ASF_ERR_BADASSOC);
  const asfcmarea &lcm = listener->al->cm;
  asfcmarea *cm = &newassoc->al->cm;

  ascpairs pairs {};
  pfGetPairsAt(req, pf_word_lsnpairs, &pairs);
  // The level only goes down: a client's level of 0 or less is no level.
  cm->level = lcm.level;
  if (pairs.level > 0 && (cm->level <= 0 || pairs.level < cm->level)) cm->level = pairs.level;

  cm->connparms = reinterpret_cast<void *>(req->word[pf_word_cliparams]);
  cm->envlist = reinterpret_cast<void *>(req->word[pf_word_clienv]);
  auto *clireq = reinterpret_cast<pfrequest *>(req->word[pf_word_clireq]);
  if (clireq != nullptr && clireq->type == asc_pf_conkind) {
    cm->reqrsp = clireq;
  } else {
    ascFreeRequest(clireq);
    req->word[pf_word_clireq] = 0;
  }
  cm->svrentry = lcm.svrentry;
  cm->authmode = lcm.authmode;
  ctl->asfcode = 0;
  if (cm->authmode == CM_AUTH_NOCHECK) return 0;
  return check_login(ctl, newassoc, cm->authmode);
}

int chkAuth(asfsvcctl *ctl, Assocctl *assoc, uint32_t mode) {
  asfcmarea *cm = &assoc->al->cm;
  int err;
  switch (mode) {
    case CM_AUTH_NONE:
      cm->peeruid = -1;
      cm->peergid = -1;
      return 0;
    case CM_AUTH_PASSWORD: {
      const auto *params = static_cast<const ascbinreq *>(cm->connparms);
      if (params == nullptr || params->userkind != ns_user_password)
        err = CM_ERR_AUTHMODE;
      else
        err = chkInternet(ctl, assoc, 1);
      break;
    }
    case CM_AUTH_CSS:
      err = css_login(ctl, assoc);
      break;
    default:
      err = CM_ERR_AUTHMODE;
      break;
  }
  if (err != 0) ctl->oserr = err;
  return err;
}

int chkInternet(asfsvcctl *, Assocctl *assoc, int check) {
  asfcmarea *cm = &assoc->al->cm;
  const auto *params = static_cast<const ascbinreq *>(cm->connparms);
  const char *user = params != nullptr ? params->user : nullptr;
  // The text form cannot tell an empty password from none: both are none.
  const char *password = params != nullptr && !empty(params->password) ? params->password : nullptr;
  const char *host = cm->peer.host;

  char self[ASF_NODENAME_SIZE];
  const bool local =
      host != nullptr && rhostname(self, sizeof self) == 0 && std::strcmp(host, self) == 0;
  if (local && cm->peer.uid != -1 && cm->peer.gid != -1 && cm->peer.cwd != nullptr) {
    if (set_peer_text(cm, cm->peer.cwd) != 0) return ASF_ERR_MEMORY;
    cm->peeruid = cm->peer.uid;
    cm->peergid = cm->peer.gid;
    if (params != nullptr && std::strcmp(params->progname, "sqlexec") == 0 && password == nullptr)
      return 0;
  }
  const uint8_t security = cm->svrentry != nullptr ? cm->svrentry->options.security : 0;
  int32_t uid = -1;
  int32_t gid = -1;
  char home[kHomeSize] = {};
  const int rc = seam().login(user, password, host, &security, &uid, &gid, home, check);
  if (rc != 0) return rc;
  if (set_peer_text(cm, home) != 0) return ASF_ERR_MEMORY;
  cm->peeruid = uid;
  cm->peergid = gid;
  return 0;
}

int cmConRes(asfsvcctl *ctl, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  Assocctl *assoc = valid_assoc(ctl->ascid);
  if (assoc == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  asfcmarea *cm = &assoc->al->cm;
  const auto *params = reinterpret_cast<const ascbinreq *>(req->word[pf_word_params]);
  const int32_t level = params != nullptr ? params->pairs.level : 0;
  if (level > 0) {
    if (level > cm->level) return fail(ctl, CM_ERR_LEVEL);
    cm->level = level;
  }
  ASFGLBCTL *glb = getASFGLBCTL();
  return seam().conres(ctl, req, glb != nullptr ? &glb->procinfo : nullptr);
}

int cmConVerf(asfsvcctl *ctl, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  Assocctl *assoc = valid_assoc(ctl->ascid);
  if (assoc == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  asfcmarea *cm = &assoc->al->cm;
  auto *params = static_cast<ascbinreq *>(cm->connparms);
  if (params == nullptr) return fail(ctl, ASF_ERR_BADARGS);

  if (params->userkind == ns_user_none ||
      (params->userkind == ns_user_password && empty(params->user))) {
    char current[ASF_USERNAME_SIZE];
    if (getCurUser(current) != 0) return fail(ctl, ASF_ERR_NOUSER);
    char *copy = meStrDup(asf_pool_assoc, current);
    if (copy == nullptr) return fail(ctl, ASF_ERR_MEMORY);
    asf_free(asf_pool_assoc, params->user);
    asf_free(asf_pool_assoc, params->password);
    params->user = copy;
    params->password = nullptr;
    params->userkind = ns_user_current;
  }

  uint32_t mode = cm->authmode;
  if (mode == CM_AUTH_NOCHECK)
    mode = cm->svrentry != nullptr && cm->svrentry->options.csm != nullptr ? CM_AUTH_CSS
                                                                           : CM_AUTH_PASSWORD;
  if (mode == CM_AUTH_CSS) {
    ASFGLBCTL *glb = getASFGLBCTL();
    if (seam().conbind(ctl, req, glb != nullptr ? &glb->procinfo : nullptr) != 0) {
      if (ctl->asfcode == ASF_ERR_LISTENCODE) {
        ctl->asfcode = CM_STATUS_REFUSED;
        ctl->oserr = ASF_ERR_LISTENCODE;
      }
      return -1;
    }
  }
  return check_login(ctl, assoc, mode);
}

}  // extern "C"
