/*
** The connection manager, client side: process information, the connect
** walk over the name service's entries within the caller's budget,
** release and abort of an association's connection, and attributes.
** Called by the service call (service_call.cpp); calls the name service
** (asf/ns), the protocol family (asf/pfslsqi) and, for an entry with a
** csm option, communication support (asf/asfcss).
**
** The budget runs on a monotonic clock of whole seconds. An entry's share
** is ceil(left / entries); a retriable failure is tried again after one
** try time only while that pause ends inside the share, and every failed
** attempt is aborted before the next one so that none leaves a block or
** a descriptor behind. Each attempt gets its deadline (the end of its
** share, at least one second away) as the control record's positive
** timeout in milliseconds, which the session layer and the transport
** driver read as the attempt's deadline.
*/
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_css.h"
#include "asf_memory.h"
#include "asf_ns.h"
#include "cm_records.h"
#include "os_context.h"
#include "os_seams.h"
#include "os_stored.h"
#include "os_wrappers.h"
#include "pf_records.h"
#include "sl_records.h"

namespace {

constexpr cm_attempt_seam production_attempt = {pfConReq, pfDiscon};

/* Most sessions a shared connection carries before another is opened. */
constexpr int32_t kMaxMuxSessions = 64;

const cm_attempt_seam &attempt() {
  return cm_attempt_override != nullptr ? *cm_attempt_override : production_attempt;
}

/* Outcomes of the communication-support part of a connect. */
enum { css_connect_ok = 0, css_connect_failed = 1, css_connect_fatal = 2 };

/* After a connect to entry that asked for communication support: builds
** the library context once, creates the association's support context
** (the handshake) and reads the final response. css_connect_ok;
** css_connect_failed when the final response failed (an attempt that
** failed like any other); css_connect_fatal when the walk ends here (the
** library, a response already present, or the context creation). The
** status is in ctl. */
int css_connect(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req, ASFGLBCTL *glb, alctl *al) {
  if (asf_css_init_once(ctl) != 0) return css_connect_fatal;
  if (req->word[pf_word_response] != 0) {
    ctl->asfcode = CM_ERR_NORESPONSE;
    return css_connect_fatal;
  }
  csm_conn_info info;
  if (asf_css_create_context(ctl, reinterpret_cast<uintptr_t>(entry),
                             reinterpret_cast<uintptr_t>(&glb->procinfo), req->word[pf_word_params],
                             reinterpret_cast<uintptr_t>(req), 0, 0, 0, 0, 0,
                             get_csm_conn_spec(entry), ctl->ascid, &info) != 0)
    return css_connect_fatal;
  ctl->asfcode = 0;
  if (pfConGetResp(ctl, req, &al->cm.peer) != 0) return css_connect_failed;
  return css_connect_ok;
}

/* Sets ctl's status and returns -1. */
int fail(asfsvcctl *ctl, int code) {
  ctl->asfcode = code;
  return -1;
}

bool same_text(const char *a, const char *b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

/* Monotonic seconds; the fake clock of a test when one is installed. */
time_t clock_seconds() {
  if (os_clock != &os_system_clock) return os_clock->now();
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return static_cast<time_t>(-1);
  return ts.tv_sec;
}

/* Frees the server records an attempt returned in request words 10 to 12
** and clears the words. */
void free_attempt_outputs(asfsvcreq *req) {
  ascFreeParams(reinterpret_cast<ascbinreq *>(req->word[pf_word_srvparams]));
  ascFreeEnvlist(reinterpret_cast<evlist_t *>(req->word[pf_word_srvenv]));
  ascFreeRequest(reinterpret_cast<pfrequest *>(req->word[pf_word_response]));
  req->word[pf_word_srvparams] = 0;
  req->word[pf_word_srvenv] = 0;
  req->word[pf_word_response] = 0;
}

/* Aborts a failed attempt of ctl's association: its blocks and its
** transport go. ctl's status is kept. */
void abort_attempt(asfsvcctl *ctl, asfsvcreq *req) {
  asfsvcctl actl = *ctl;
  attempt().discon(&actl, SL_DISC_ABORT, nullptr);
  free_attempt_outputs(req);
}

/* An association of the requester queue whose connection to entry's
** address can take one more multiplexed session, or null. */
Assocctl *find_shared(ASFGLBCTL *glb, Assocctl *self, const NSEntry *entry) {
  for (Assocctl *a = glb->reqq; a != nullptr; a = a->al->next) {
    if (a == self || !asfValidAssoc(a)) continue;
    const NSEntry *e = a->al->cm.svrentry;
    if (e == nullptr || !same_text(e->addrtext, entry->addrtext)) continue;
    asfsvcctl actl {};
    actl.ascid = a;
    actl.flags = asf_flag_sync;
    actl.timeout = -1;
    slmuxattr mux {};
    tlattr attr {9, &mux};
    if (pfAttrib(&actl, &attr) != 0) continue;
    if (mux.count != nullptr && mux.flags != nullptr && (*mux.flags & SL_MUXED) != 0 &&
        *mux.count < kMaxMuxSessions)
      return a;
  }
  return nullptr;
}

/* Milliseconds from now until share_end, at least one second. */
int attempt_deadline_ms(time_t now, time_t share_end) {
  time_t left = share_end - now;
  if (left < CM_MIN_ATTEMPT_SECONDS) left = CM_MIN_ATTEMPT_SECONDS;
  if (left > INT_MAX / 1000) left = INT_MAX / 1000;
  return static_cast<int>(left) * 1000;
}

/* Statuses whose message parameter is the server name. */
bool names_server(int status) {
  return status == SHM_ERR_CONNECT || status == TLI_ERR_CONNECT || status == NS_ERR_DBPATHSVR ||
         status == NS_ERR_REMOTEDB;
}

}  // namespace

const cm_attempt_seam *cm_attempt_override = nullptr;

extern "C" {

time_t sysTime(time_t *out) {
  time_t t = clock_seconds();
  if (out != nullptr) *out = t;
  return t;
}

int getTid(int32_t *tid) {
  if (tid != nullptr) *tid = 0;
  return 0;
}

int setConTime(time_t start, int budget, int retries, int entries, time_t *now, int *entrytime,
               int *trytime) {
  if (now == nullptr || entrytime == nullptr || trytime == nullptr) return ASF_ERR_COMMON;
  *entrytime = 0;
  *trytime = 0;
  time_t t = sysTime(now);
  if (t == static_cast<time_t>(-1) || t < start) return CM_ERR_CLOCK;
  if (retries < 1 || entries < 1 || budget < 1) return 0;
  time_t left = budget - (t - start);
  if (left < 0) left = 0;
  int et = static_cast<int>((left + entries - 1) / entries);
  *entrytime = et;
  *trytime = (et + retries - 1) / retries;
  return 0;
}

int chkConErr(asfsvcctl *ctl, time_t entrystart, int entrytime, int trytime, int *klass) {
  const int status = ctl->asfcode;
  if (status == 0) {
    *klass = cm_class_success;
    return 0;
  }
  time_t now = sysTime(nullptr);
  if (now == static_cast<time_t>(-1) || now < entrystart) {
    *klass = cm_class_giveup;
    return CM_ERR_CLOCK;
  }
  switch (status) {
    case SL_ERR_NORESPONSE:
    case TLI_ERR_PEERGONE:
    case ASF_ERR_SYSCALL:
    case TLI_ERR_CONNECT:
      // Only a pause that ends inside the entry's share is worth taking.
      *klass = now + trytime < entrystart + entrytime ? cm_class_retry : cm_class_next;
      break;
    case SHM_ERR_CONNECTED:
    case ASF_ERR_NOTACCEPTING:
    case SHM_ERR_CONNECT:
      *klass = cm_class_next;
      break;
    case asf_status_rejected:
      *klass = ctl->oserr == CM_ERR_NOENTRY ? cm_class_next : cm_class_giveup;
      break;
    default:
      *klass = cm_class_giveup;
      break;
  }
  return 0;
}

void cmApictlInit(alctl *al) {
  asfcmarea *cm = &al->cm;
  std::memset(cm->async, 0, sizeof cm->async);
  cm->savedcb = nullptr;
  cm->authmode = 0;
  cm->level = 0;
  cm->peer.word0 = 0;
  cm->peer.pid = -1;
  cm->peer.word2 = -1;
  cm->peer.host = nullptr;
  cm->peer.tty = nullptr;
  cm->peer.cwd = nullptr;
  cm->peer.uid = -1;
  cm->peer.gid = -1;
  cm->peeruid = -1;
  cm->peergid = -1;
  cm->peertext = nullptr;
}

int getPInfo(asfprocinfo *info) {
  if (info == nullptr) return ASF_ERR_COMMON;
  info->pid = static_cast<int32_t>(getpid());
  info->word2 = 0;
  info->uid = static_cast<int32_t>(getuid());
  info->gid = static_cast<int32_t>(getgid());
  char host[256];
  if (rhostname(host, sizeof host) != 0) return ASF_ERR_MEMORY;
  char cwd[1026];
  if (ggetcwd(cwd) != 0) return CM_ERR_NOCWD;
  char tty[256];
  const bool has_tty = ttyname_r(2, tty, sizeof tty) == 0;
  char *h = meStrDup(asf_pool_global, host);
  char *c = meStrDup(asf_pool_global, cwd);
  char *t = has_tty ? meStrDup(asf_pool_global, tty) : nullptr;
  if (h == nullptr || c == nullptr || (has_tty && t == nullptr)) {
    asf_free(asf_pool_global, h);
    asf_free(asf_pool_global, c);
    asf_free(asf_pool_global, t);
    return ASF_ERR_MEMORY;
  }
  info->host = h;
  info->cwd = c;
  info->tty = t;
  return 0;
}

int cmInit(asfsvcctl *ctl, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  ASFGLBCTL *glb = getASFGLBCTL();
  if (glb == nullptr) return fail(ctl, ASF_ERR_COMMON);
  if ((req->word[1] & ASF_INIT_FIRST) != 0) {
    ascFreeProcinfo(&glb->procinfo);
    int rc = getPInfo(&glb->procinfo);
    if (rc != 0) return fail(ctl, rc);
    nsInit();
  }
  return 0;
}

int cmTerm(asfsvcctl *ctl) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  ASFGLBCTL *glb = getASFGLBCTL();
  if (glb == nullptr) return fail(ctl, ASF_ERR_COMMON);
  ascFreeProcinfo(&glb->procinfo);
  nsTerm();
  return 0;
}

int cmConReq(asfsvcctl *ctl, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  auto *parms = reinterpret_cast<ascbinreq *>(req->word[pf_word_params]);
  auto *pfreq = reinterpret_cast<pfrequest *>(req->word[pf_word_request]);
  if (parms == nullptr || pfreq == nullptr || pfreq->rec == nullptr)
    return fail(ctl, ASF_ERR_BADARGS);
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) return fail(ctl, ASF_ERR_BADASSOC);

  cmApictlInit(assoc->al);
  req->word[pf_word_srvparams] = 0;
  req->word[pf_word_response] = 0;

  if (parms->userkind == ns_user_password && parms->user != nullptr &&
      (parms->password == nullptr || parms->password[0] == '\0') &&
      std::strcmp(parms->progname, "srvdvz") != 0 && std::strcmp(parms->progname, "onutil") != 0)
    return fail(ctl, LOGIN_ERR_PASSWORD);

  int32_t detail;
  std::memcpy(&detail, pfreq->rec, sizeof detail);
  const int mode = detail == 1 ? 1 : 0;

  int budget;
  if (ctl->timeout >= 0) {
    budget = static_cast<int>((static_cast<int64_t>(ctl->timeout) + 999) / 1000);
  } else {
    ctl->timeout = CM_DEFAULT_TIMEOUT_MS;
    budget = CM_DEFAULT_TIMEOUT_MS / 1000;
  }

  nsuserinfo ui {parms->userkind, parms->user, parms->password,
                 static_cast<uint32_t>(parms->userword), parms->credential};
  nsnamereq name {static_cast<int32_t>(req->word[cm_word_namekind]),
                  reinterpret_cast<const char *>(req->word[cm_word_nametext])};
  NSReg *reg = nullptr;
  if (nsGetRegistry(ctl, mode, &ui, &name, &reg) != 0) return -1;
  if (reg == nullptr) return fail(ctl, ASF_ERR_COMMON);
  if (reg->count < 1) {
    ASF_FreeNSReg(reg);
    return fail(ctl, CM_ERR_NOENTRY);
  }

  time_t start;
  if (sysTime(&start) == static_cast<time_t>(-1)) {
    ASF_FreeNSReg(reg);
    return fail(ctl, CM_ERR_CLOCK);
  }
  ASFGLBCTL *glb = getASFGLBCTL();
  if (glb != nullptr && std::strcmp(parms->progname, "srvdvz") != 0)
    glb->procinfo.pid = static_cast<int32_t>(getpid());

  if (ctl->flags == asf_flag_sync) return cmReqSync(ctl, req, reg, start, budget);
  // The asynchronous path is never taken: every call is synchronous.
  ASF_FreeNSReg(reg);
  return fail(ctl, ASF_ERR_BADARGS);
}

int cmReqSync(asfsvcctl *ctl, asfsvcreq *req, NSReg *reg, time_t start, int budget) {
  if (ctl == nullptr) {
    ASF_FreeNSReg(reg);
    return -1;
  }
  if (req == nullptr || reg == nullptr) {
    ASF_FreeNSReg(reg);
    return fail(ctl, ASF_ERR_BADARGS);
  }
  ASFGLBCTL *glb = getASFGLBCTL();
  if (glb == nullptr) {
    ASF_FreeNSReg(reg);
    return fail(ctl, ASF_ERR_COMMON);
  }
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) {
    ASF_FreeNSReg(reg);
    return fail(ctl, ASF_ERR_BADASSOC);
  }
  alctl *al = assoc->al;
  al->cm.connparms = nullptr;
  al->cm.reqrsp = nullptr;

  const auto *parms = reinterpret_cast<const ascbinreq *>(req->word[pf_word_params]);
  const int retries = static_cast<int32_t>(req->word[cm_word_retries]);
  const int saved_timeout = ctl->timeout;

  time_t entrystart = 0;
  int entrytime = 0;
  int trytime = 0;
  int status = setConTime(start, budget, retries, reg->count, &entrystart, &entrytime, &trytime);
  if (status != 0) {
    ASF_FreeNSReg(reg);
    return fail(ctl, status);
  }

  const NSEntry *last = nullptr;
  NSEntry *used = nullptr;
  bool attempted = false;
  for (int i = 0; i < reg->count && used == nullptr; ++i) {
    NSEntry *entry = &reg->entry[i];
    last = entry;
    if (entry->omit != 0) {
      status = entry->omit;
      continue;
    }
    if (!(std::strcmp(parms->progname, "sqlexec") == 0 &&
          std::strcmp(entry->protocol, "ipcshm") != 0))
      entry->options.multiplex = 0;

    for (;;) {
      time_t now = sysTime(nullptr);
      if (now == static_cast<time_t>(-1) || now < start) {
        status = CM_ERR_CLOCK;
        goto walk_end;
      }
      // Once the whole budget is spent no further attempt starts.
      if (attempted && budget >= 1 && now - start >= budget) goto walk_end;

      Assocctl *shared = nullptr;
      if (entry->options.multiplex != 0) shared = find_shared(glb, assoc, entry);

      const int32_t loginkind = entry->loginkind;
      if (loginkind == ns_user_current) entry->loginkind = ns_user_password;
      char *password = entry->password;
      if (entry->options.csm != nullptr) entry->password = nullptr;

      const time_t share_end = entrytime > 0 ? entrystart + entrytime : start + budget;
      ctl->timeout = attempt_deadline_ms(now, share_end);
      ctl->asfcode = 0;
      ctl->oserr = 0;
      attempted = true;
      int rc = attempt().connect(ctl, entry, req, &glb->procinfo, &al->cm.peer, shared);
      ctl->timeout = saved_timeout;
      entry->loginkind = loginkind;
      entry->password = password;

      if (rc == 0 && is_css_processing_requested(entry)) {
        const int css = css_connect(ctl, entry, req, glb, al);
        if (css == css_connect_fatal) {
          abort_attempt(ctl, req);
          status = ctl->asfcode;
          goto walk_end;
        }
        if (css == css_connect_failed) rc = -1;
      }
      if (rc == 0) {
        const auto *rsp = reinterpret_cast<const pfrequest *>(req->word[pf_word_response]);
        ascpairs used_pairs;
        pfGetPairs(req, &used_pairs);
        const char *type = used_pairs.product;
        const bool needs_rsp = std::strncmp(type, "ol", 8) == 0 ||
                               std::strncmp(type, "on", 8) == 0 || std::strncmp(type, "se", 8) == 0;
        if (needs_rsp && rsp == nullptr) {
          abort_attempt(ctl, req);
          status = CM_ERR_NORESPONSE;
          goto walk_end;
        }
        status = 0;
        used = entry;
        break;
      }
      status = ctl->asfcode;
      int klass = cm_class_giveup;
      int crc = chkConErr(ctl, entrystart, entrytime, trytime, &klass);
      if (crc != 0) status = crc;
      if (klass == cm_class_retry) {
        abort_attempt(ctl, req);
        dvzOS_sleep(static_cast<unsigned>(trytime));
        continue;
      }
      if (klass == cm_class_next) {
        // A reject on the last entry keeps its records for the caller.
        if (!(status == asf_status_rejected && i == reg->count - 1)) abort_attempt(ctl, req);
        int trc = setConTime(start, budget, retries, reg->count - i - 1, &entrystart, &entrytime,
                             &trytime);
        if (trc != 0) {
          status = trc;
          goto walk_end;
        }
        break;
      }
      goto walk_end;
    }
  }

walk_end:
  ctl->timeout = saved_timeout;
  al->cm.connparms = reinterpret_cast<void *>(req->word[pf_word_srvparams]);
  {
    auto *rsp = reinterpret_cast<pfrequest *>(req->word[pf_word_response]);
    if (rsp != nullptr && rsp->type == asc_pf_status) {
      al->cm.reqrsp = rsp;
    } else {
      ascFreeRequest(rsp);
      req->word[pf_word_response] = 0;
    }
  }
  // The server's environment list is not kept for a requester.
  ascFreeEnvlist(reinterpret_cast<evlist_t *>(req->word[pf_word_srvenv]));
  req->word[pf_word_srvenv] = 0;

  if (status == 0 && used != nullptr) {
    al->cm.svrentry = dupNSEntry(asf_pool_assoc, used);
    if (al->cm.svrentry == nullptr) {
      asfsvcctl actl = *ctl;
      attempt().discon(&actl, SL_DISC_ABORT, nullptr);
      status = ASF_ERR_MEMORY;
    }
  }
  ctl->asfcode = status;
  if (status != 0 && names_server(status) && last != nullptr) asf_set_errstr(ctl, last->servername);
  ASF_FreeNSReg(reg);
  return status == 0 ? 0 : -1;
}

int cmDiscon(asfsvcctl *ctl, int code, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  int rc = attempt().discon(ctl, code, req);
  if (rc != 0 && code != SL_DISC_ABORT) return rc;
  asfcmarea *cm = &assoc->al->cm;
  ascFreeParams(static_cast<ascbinreq *>(cm->connparms));
  cm->connparms = nullptr;
  ascFreeRequest(static_cast<pfrequest *>(cm->reqrsp));
  cm->reqrsp = nullptr;
  if (assoc->kind != asf_kind_requester) {
    ascFreeEnvlist(static_cast<evlist_t *>(cm->envlist));
    cm->envlist = nullptr;
  }
  ascFreeProcinfo(&cm->peer);
  asf_free(asf_pool_assoc, cm->peertext);
  cm->peertext = nullptr;
  if (assoc->kind != asf_kind_accepted && cm->svrentry != nullptr) {
    frNSEntry(asf_pool_assoc, cm->svrentry, 1);
  }
  cm->svrentry = nullptr;
  return rc;
}

int cmAttrib(asfsvcctl *ctl, asfsvcreq *req) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  asfcmarea *cm = &assoc->al->cm;
  const int code = static_cast<int32_t>(req->word[1]);
  switch (code) {
    case 3:
      req->word[2] = reinterpret_cast<uintptr_t>(&cm->peer);
      return 0;
    case 5:
      req->word[2] = reinterpret_cast<uintptr_t>(&cm->connparms);
      return 0;
    case 7:
      req->word[2] =
          assoc->kind == asf_kind_accepted ? 0 : reinterpret_cast<uintptr_t>(&cm->svrentry);
      return 0;
    case 259:
    case 261:
    case 263:
      return 0;
    default: {
      tlattr attr {code, reinterpret_cast<void *>(req->word[2])};
      int rc = pfAttrib(ctl, &attr);
      if (rc == 0) req->word[2] = reinterpret_cast<uintptr_t>(attr.value);
      return rc;
    }
  }
}

}  // extern "C"
