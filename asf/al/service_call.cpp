/*
** The service call interface: ASF_Call and ASF_Init, the service table,
** the association state table and the association-layer services (init,
** listen, directory, connect, indication, response, verify, send-buffer
** allocation, send, receive, interrupt, release, abort, wait, attributes,
** terminate). Called by the runtime, the servers and the tests; calls the
** connection manager (cm_records.h), the name service, the protocol family
** and the transport layer.
**
** A service on an association runs on the working copy of the control
** record kept in one of the association's service queues; the exit step
** copies the outcome back to the caller and frees an association whose
** connect failed, whose release completed or whose abort finished, and
** then clears the caller's id of it. One thread: a queue is never found
** busy and an abort always runs in its own exit step.
*/
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "asf_al.h"
#include "asf_call.h"
#include "asf_css.h"
#include "asf_memory.h"
#include "asf_ns.h"
#include "cm_records.h"
#include "handover.h"
#include "net_paths.h"
#include "os_seams.h"
#include "os_wrappers.h"
#include "pf_records.h"
#include "tl_records.h"

namespace {

using ExecFn = int (*)(asfsvcctl *ctl, alctl *al, asfsvcreq *req);
using DoneFn = int (*)(asfsvcctl *ctl, alctl *al, asfsvcreq *req);

/* Sets ctl's status and returns -1. */
int fail(asfsvcctl *ctl, int code) {
  ctl->asfcode = code;
  return -1;
}

int32_t word_i32(const asfsvcreq *req, int n) { return static_cast<int32_t>(req->word[n]); }

/* A cell of the state table: the next state and 0 allowed or -1 refused. */
struct StateCell {
  int8_t next;
  int8_t mark;
};

constexpr StateCell A(int next) { return {static_cast<int8_t>(next), 0}; }
constexpr StateCell R(int next) { return {static_cast<int8_t>(next), -1}; }

/* Rows: service codes 3 to 10; columns: states 0 to 8. A refused cell
** keeps the state, except a release or abort in state 7, which fails it. */
constexpr StateCell statetable[8][9] = {
    /* 3 connect */ {A(2), R(1), R(2), R(3), R(4), R(5), R(6), R(7), R(8)},
    /* 4 indication */ {A(2), R(1), R(2), R(3), R(4), R(5), R(6), R(7), R(8)},
    /* 5 response */ {R(0), R(1), A(1), R(3), R(4), R(5), R(6), R(7), R(8)},
    /* 6 send */ {R(0), A(1), R(2), R(3), R(4), R(5), R(6), R(7), R(8)},
    /* 7 receive */ {R(0), A(1), R(2), R(3), R(4), R(5), R(6), R(7), R(8)},
    /* 8 resync */ {R(0), A(1), R(2), R(3), R(4), R(5), R(6), R(7), R(8)},
    /* 9 release */ {R(0), A(5), R(2), R(3), R(4), R(5), R(6), R(8), R(8)},
    /* 10 abort */ {R(0), A(4), A(4), A(4), R(4), A(4), R(6), R(8), A(4)},
};

/* Bytes of the argument block ASF_Init clears per code; -1: no such code. */
constexpr int init_sizes[ASF_SVC_MAX + 1] = {92, 52, 24, 80, 52, 44, 12, 12, 4,  12, 4,
                                             12, 8,  4,  12, 12, 8,  8,  -1, -1, 36};

ASFGLBCTL *global() { return getASFGLBCTL(); }

/* 1 when assoc is on the list starting at head. */
bool on_list(const Assocctl *head, const Assocctl *assoc) {
  for (const Assocctl *a = head; a != nullptr; a = a->al->next)
    if (a == assoc) return true;
  return false;
}

/* Takes assoc off its queue (its parent's children for a requester under an
** accepted association, else the global queue of its kind) when it is on
** one. 0, or -1 when the removal fails. */
int remove_from_queue(Assocctl *assoc) {
  ASFGLBCTL *g = global();
  alctl *al = assoc->al;
  if (al->parent != nullptr && asfValidAssoc(al->parent)) {
    alctl *pal = al->parent->al;
    if (!on_list(pal->children, assoc)) return 0;
    int rc = delAssocInQ(&g->lock, &pal->children, assoc, &pal->nchildren);
    al->parent = nullptr;
    return rc;
  }
  if (g == nullptr) return 0;
  Assocctl **head = nullptr;
  int32_t *count = nullptr;
  switch (assoc->kind) {
    case asf_kind_requester:
      head = &g->reqq;
      count = &g->nreq;
      break;
    case asf_kind_accepted:
      head = &g->accq;
      count = &g->nacc;
      break;
    case asf_kind_listener:
      head = &g->lsnq;
      count = &g->nlsn;
      break;
    default:
      return 0;
  }
  if (!on_list(*head, assoc)) return 0;
  return delAssocInQ(&g->lock, head, assoc, count);
}

void set_status_byte(alctl *al, char value) {
  if (al->statusbyte != nullptr) *al->statusbyte = value;
}

/* Release or abort of ctl's association (req's code), then off its queue;
** the state passes 4 and ends 7. The disconnect's failure, else the
** removal's result. */
int ascAbort(asfsvcctl *ctl, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(ctl);
  if (!asfValidAssoc(assoc)) return fail(ctl, ASF_ERR_BADASSOC);
  const int code = req != nullptr ? static_cast<int>(req->word[0]) : asf_svc_abort;
  int rc = cmDiscon(ctl, code, req);
  assoc->al->state = asf_state_aborting;
  int qrc = remove_from_queue(assoc);
  assoc->al->state = asf_state_aborted;
  return rc != 0 ? rc : qrc;
}

/* Aborts assoc on a control record of its own (flags 1, no time-out). */
void abort_own(Assocctl *assoc) {
  asfsvcctl actl {};
  actl.flags = asf_flag_sync;
  actl.timeout = -1;
  actl.ascid = assoc;
  asfsvcreq areq {};
  ASF_Init(asf_svc_abort, &areq);
  ascAbort(&actl, &areq);
}

// ---- Services run directly on the caller's record. ----

int asfInit(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  ctl->ascid = nullptr;
  const auto flags = static_cast<uint32_t>(req->word[1]);
  if ((flags & ASF_INIT_FIRST) != 0 && global() == nullptr) {
    int rc = defineASFCtl(req, ctl);
    if (rc != 0) return fail(ctl, rc);
    if (asfDbgSetup() != 0) {
      deleteASFCtl(ctl);
      return fail(ctl, ASF_ERR_DEBUG);
    }
  }
  if (cmInit(ctl, req) != 0) return -1;
  if (pfInit() != 0) return -1;
  if (tlInit(ctl, &req->word[1]) != 0) return -1;
  // A program executed by one that handed its associations over takes
  // them over: the global data, then the accepted, listening and
  // requesting association.
  if ((flags & ASF_INIT_FIRST) != 0 && (flags & HO_INIT_TAKEOVER) != 0) {
    if (getGlobData(ctl) != 0) return -1;
    for (int kind : {asf_kind_accepted, asf_kind_listener, asf_kind_requester})
      if (getAssocData(kind, ctl, req) != 0) return -1;
    if (global() != nullptr) global()->terminated = 0;
  }
  ctl->asfcode = 0;
  return 0;
}

int directory(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  if (req->word[1] != 0) return 0;
  nsnamereq name {word_i32(req, 2), reinterpret_cast<const char *>(req->word[3])};
  NSReg *reg = nullptr;
  int rc = nsGetRegistry(ctl, 0, nullptr, &name, &reg);
  req->word[6] = reinterpret_cast<uintptr_t>(reg);
  return rc;
}

int asfWait(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  int rc = tlWait(ctl, req);
  ctl->ascid = nullptr;
  return rc;
}

int asfTerm(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  ASFGLBCTL *g = global();
  if ((req->word[1] & 1u) != 0) {
    // Hand the global data and one association of each kind over to the
    // program about to be executed; each is aborted here once saved.
    if (saveGlobData(ctl) != 0) return -1;
    for (int kind : {asf_kind_accepted, asf_kind_requester, asf_kind_listener})
      if (saveAssocData(kind, ctl) != 0) return -1;
  } else if (g != nullptr) {
    // An accepted association's requesters move to the requester queue
    // when it goes: go round until every queue is empty.
    Assocctl **queues[] = {&g->reqq, &g->lsnq, &g->accq};
    for (bool again = true; again;) {
      again = false;
      for (Assocctl **q : queues) {
        while (*q != nullptr) {
          Assocctl *a = *q;
          abort_own(a);
          if (*q == a) {  // never leave a freed association on a queue
            *q = a->al->next;
            if (*q != nullptr) (*q)->al->prev = nullptr;
          }
          alCSfree(a);
          again = true;
        }
      }
    }
  }
  ctl->ascid = nullptr;
  if (cmTerm(ctl) != 0) return -1;
  if (pfTerm() != 0) return -1;
  if (tlTerm(ctl, nullptr) != 0) return -1;
  // A support library that could not be ended keeps the global block, and
  // the caller hears of it.
  ctl->asfcode = 0;
  if (asf_css_terminate(ctl) != 0) {
    if (ctl->asfcode == 0) ctl->asfcode = ASF_ERR_COMMON;
    return -1;
  }
  if (global() != nullptr) {
    global()->terminated = 1;
    deleteASFCtl(ctl);
  }
  ctl->asfcode = 0;
  return 0;
}

int nothing(asfsvcctl *ctl, alctl *, asfsvcreq *) {
  ctl->asfcode = 0;
  return 0;
}

// ---- Services on an association. ----

int ascRequest(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(ctl);
  assoc->kind = asf_kind_requester;
  al->kind = asf_kind_requester;
  set_status_byte(al, 1);
  return cmConReq(ctl, req);
}

int reqDone(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(ctl);
  const int status = ctl->asfcode;
  if (status != 0 && status != asf_status_rejected) {
    abort_own(assoc);
    al->state = asf_state_failed;
    set_status_byte(al, 1);
    return -1;
  }
  ASFGLBCTL *g = global();
  auto *parent = reinterpret_cast<Assocctl *>(req->word[6]);
  int rc;
  if (parent != nullptr) {
    if (!asfValidAssoc(parent)) return fail(ctl, ASF_ERR_BADASSOC);
    rc = addAssoc2Q(assoc, &al->next, &g->lock, &parent->al->children, &parent->al->nchildren);
    if (rc == 0) al->parent = parent;
  } else {
    rc = g != nullptr ? addAssoc2Q(assoc, &al->next, &g->lock, &g->reqq, &g->nreq) : -1;
  }
  if (rc != 0) return fail(ctl, ASF_ERR_BADASSOC);
  req->word[cm_word_assoc] = reinterpret_cast<uintptr_t>(assoc);
  al->state = status == 0 ? asf_state_open : asf_state_failed;
  return 0;
}

int asfSend(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(ctl);
  auto *buf = reinterpret_cast<rscbufctl *>(req->word[3]);
  rscbufctl *cur = assoc->sndbuf;
  if (buf == nullptr || buf != cur) {
    if (cur != nullptr) {
      cur->p = cur->buff;
      cur->size = cur->lbuff;
    }
    return fail(ctl, ASF_ERR_BADARGS);
  }
  // A message that communication support took before its send blocked
  // is empty, and is resumed all the same.
  if (buf->size == 0 && !is_css_send_blocked(ctl)) {
    // Nothing written: the buffer stays the current one, ready again.
    buf->p = buf->buff + buf->p_offset;
    buf->size = buf->lbuff - buf->p_offset;
    return 0;
  }
  return pfSend(ctl, req);
}

int asfRecv(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  int rc = pfRecv(ctl, req);
  if (rc == 0) {
    auto *buf = reinterpret_cast<rscbufctl *>(req->word[3]);
    if (buf != nullptr) buf->type = -1;
  }
  return rc;
}

int resync(asfsvcctl *ctl, alctl *, asfsvcreq *) { return pfResync(ctl); }

int ascRelease(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  return cmDiscon(ctl, asf_svc_release, req);
}

int relDone(asfsvcctl *ctl, alctl *al, asfsvcreq *) {
  if (ctl->asfcode == 0) {
    remove_from_queue(assoc_of(ctl));
    al->state = asf_state_released;
    set_status_byte(al, 1);
  } else {
    al->state = asf_state_failed;
  }
  return 0;
}

int ascPreAbort(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  // With another call outstanding the abort waits for its exit step.
  if (al->svcq[0].busy || al->svcq[1].busy || al->svcq[3].busy) {
    al->abortreq = *req;
    al->abortctl = *ctl;
  }
  return 0;
}

int asfAttrib(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  const auto code = static_cast<uint32_t>(req->word[1]);
  ASFGLBCTL *g = global();
  if (code == 4) {
    if (g == nullptr) return fail(ctl, ASF_ERR_COMMON);
    req->word[2] = reinterpret_cast<uintptr_t>(&g->initval);
    return 0;
  }
  if (code == 260) return 0;
  Assocctl *assoc = assoc_of(ctl);
  if (!asfValidAssoc(assoc)) return fail(ctl, ASF_ERR_BADASSOC);
  switch (code) {
    case 8:
      req->word[2] = reinterpret_cast<uintptr_t>(&assoc->flags);
      return 0;
    case 16:
      req->word[2] = reinterpret_cast<uintptr_t>(assoc->statusarea);
      return 0;
    case 264: {
      const auto *v = reinterpret_cast<const uint32_t *>(req->word[2]);
      if (v == nullptr) return fail(ctl, ASF_ERR_BADARGS);
      assoc->flags = *v;
      return 0;
    }
    case 272: {
      char *area = reinterpret_cast<char *>(req->word[2]);
      if (area != nullptr) {
        area[0] = area[1] = 0;
      } else {
        std::memset(assoc->ownstatus, 0, sizeof assoc->ownstatus);
        area = assoc->ownstatus;
      }
      assoc->statusarea = area;
      if (rscbufctl *x = assoc->xrcvbuf; x != nullptr) {
        x->buff = x->p = area + 1;
        x->lbuff = x->size = 1;
        x->p_offset = 0;
      }
      return 0;
    }
    default:
      return cmAttrib(ctl, req);
  }
}

int sendBAlloc(asfsvcctl *ctl, alctl *, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(ctl);
  if (assoc->sndbuf == nullptr) {
    req->word[2] = 0;
    return fail(ctl, ASF_ERR_COMMON);
  }
  assoc->sndbuf->type = -1;
  req->word[2] = reinterpret_cast<uintptr_t>(assoc->sndbuf);
  return 0;
}

// ---- The listening side. ----

/* Request words of the listen and indication services. */
enum {
  lsn_word_assoc = 2, /* out: the listening association */
  lsn_word_status = 3, /* the caller's status byte */
  ind_word_status = 2, /* indication: the caller's status byte */
  ind_word_assoc = 6 /* indication: out, the new association */
};

/* Listen sub-codes (request word 1 without the lock bit). */
enum { lsn_assoc = 0, lsn_tl_close = 1, lsn_tl_again = 2, lsn_dynamic = 3 };

/* Response kind that rejects the client. */
constexpr uintptr_t kRejectKind = 7;

/* Name of the dynamic listeners' file in the rendezvous directory. */
constexpr const char *kDynamicListenerFile = "/.dynamic_listener";

/* Listen on ctl's association: queued as a listener, then the connection
** manager's listen; a failed listen is aborted and left in state 8. The
** caller's status byte is then 0. 0 or -1. */
int listen_assoc(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(ctl);
  al->statusbyte = reinterpret_cast<char *>(req->word[lsn_word_status]);
  ASFGLBCTL *g = global();
  // A dynamic listen may be given a listener that is queued already.
  if (g == nullptr ||
      (!on_list(g->lsnq, assoc) && addAssoc2Q(assoc, &al->next, &g->lock, &g->lsnq, &g->nlsn) != 0))
    return fail(ctl, ASF_ERR_BADASSOC);
  int rc = cmListen(ctl, req);
  if (rc != 0) {
    abort_own(assoc);
    al->state = asf_state_failed;
  }
  set_status_byte(al, 0);
  return rc;
}

/* Appends line to the dynamic listeners' file, created 0644 when missing.
** 0, or -1 with the status -25557 and errno in ctl. */
int append_listener_line(asfsvcctl *ctl, const std::string &line) {
  const std::string path = std::string(asf_tmpdir()) + kDynamicListenerFile;
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    // The mode must not depend on the umask of the server.
    if (fd >= 0 && fchmod(fd, 0644) != 0) {
      const int err = errno;
      close(fd);
      errno = err;
      fd = -1;
    }
  }
  ssize_t n = -1;
  if (fd >= 0) {
    n = write(fd, line.data(), line.size());
    const int err = errno;
    if (close(fd) != 0 && n == static_cast<ssize_t>(line.size()))
      n = -1;
    else
      errno = err;
  }
  if (n != static_cast<ssize_t>(line.size())) {
    ctl->oserr = errno != 0 ? errno : EIO;
    return fail(ctl, ASF_ERR_COMMON);
  }
  return 0;
}

/* The dynamic listener: writes its address line into the name request
** (word 6, CM_DYNLINE_SIZE bytes of room) as an address (word 5 becomes
** 1), listens, and appends the line to the listeners' file. A failure
** aborts the association, leaves it in state 8 and sets bit 0 of the
** caller's status byte. 0 or -1. */
int listen_dynamic(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  auto *text = reinterpret_cast<char *>(req->word[cm_word_lsntext]);
  if (text == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  char host[ASF_NODENAME_SIZE];
  if (rhostname(host, sizeof host) != 0) return fail(ctl, ASF_ERR_MEMORY);
  char server[NS_SERVER_SIZE] = {};
  if (static_cast<int32_t>(req->word[cm_word_lsnkind]) == ns_req_dbenv) {
    char db[NS_DBNAME_SIZE];
    int rc = parseDbenv(text, server, db);
    if (rc != 0) return fail(ctl, rc);
  } else {
    const size_t n = strnlen(text, sizeof server - 1);
    std::memcpy(server, text, n);
    server[n] = '\0';
  }
  ascpairs pairs {};
  pfGetPairsAt(req, pf_word_lsnpairs, &pairs);
  if (pairs.protocol[0] == '\0') {
    std::memcpy(pairs.protocol, "ipcshm", sizeof "ipcshm");
    pfPutPairsAt(req, pf_word_lsnpairs, &pairs);
  }
  char protocol[sizeof pairs.protocol + 1] = {};
  std::memcpy(protocol, pairs.protocol, sizeof pairs.protocol);
  // The name request is the address without the newline that ends the
  // line in the file: the newline would become part of the protocol.
  int len;
  if (std::strncmp(protocol + 3, "tcp", 3) == 0) {
    const long port = 20480 + (static_cast<long>(os_clock->now()) & 0x4fff);
    len = std::snprintf(text, CM_DYNLINE_SIZE, "%s%s%ld%s%s", host, "|", port, "|", protocol);
  } else {
    len = std::snprintf(text, CM_DYNLINE_SIZE, "%s|%d|%s", host, 0, server);
  }
  if (len < 0 || len >= CM_DYNLINE_SIZE) return fail(ctl, ASF_ERR_BADARGS);
  const std::string line = std::string(text) + '\n';
  req->word[cm_word_lsnkind] = ns_req_address;
  int rc = listen_assoc(ctl, al, req);
  if (rc == 0) {
    rc = append_listener_line(ctl, line);
    if (rc != 0) {
      const int status = ctl->asfcode;
      const int err = ctl->oserr;
      abort_own(assoc_of(ctl));
      al->state = asf_state_failed;
      ctl->asfcode = status;
      ctl->oserr = err;
    }
  }
  if (rc != 0 && al->statusbyte != nullptr) *al->statusbyte |= 1;
  return rc;
}

int alListen(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(ctl);
  assoc->kind = asf_kind_listener;
  al->kind = asf_kind_listener;
  req->word[lsn_word_assoc] = reinterpret_cast<uintptr_t>(assoc);
  const uintptr_t sub = req->word[1] & ~static_cast<uintptr_t>(ASF_REQ_LOCKED);
  switch (sub) {
    case lsn_assoc:
      return listen_assoc(ctl, al, req);
    case lsn_tl_close:
    case lsn_tl_again: {
      // The exit step frees a listener whose call failed: it must leave
      // the listener queue and close its connection first.
      int rc = tlListen(ctl, nullptr, static_cast<int>(sub));
      if (rc != 0) {
        abort_own(assoc);
        al->state = asf_state_failed;
      }
      return rc;
    }
    case lsn_dynamic:
      return listen_dynamic(ctl, al, req);
    default:
      return fail(ctl, ASF_ERR_LISTENCODE);
  }
}

int ascInd(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  Assocctl *assoc =
      alCSalloc(ctl, asf_kind_accepted, reinterpret_cast<char *>(req->word[ind_word_status]));
  if (assoc == nullptr) return -1;
  alctl *nal = assoc->al;
  nal->kind = asf_kind_accepted;
  nal->svcq[1] = al->svcq[1];
  nal->svcq[1].busy = 0;
  if ((req->word[1] & ASF_REQ_LOCKED) != 0) assoc->flags |= 16;
  set_status_byte(nal, 1);
  req->word[ind_word_assoc] = reinterpret_cast<uintptr_t>(assoc);
  int rc = cmConInd(ctl, assoc, req);
  if (rc != 0 && ctl->asfcode < 0) abort_own(assoc);
  return rc;
}

/* The indication's completion on the new association: queued among the
** accepted ones in state 2. A refused login (status 8) is queued too, so
** that the caller can answer it with a reject or abort it. */
int indDone(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  if (al == nullptr) return 0;
  const int status = ctl->asfcode;
  if (status != 0 && status != CM_STATUS_REFUSED) return 0;
  auto *assoc = reinterpret_cast<Assocctl *>(req->word[ind_word_assoc]);
  ASFGLBCTL *g = global();
  if (g == nullptr || addAssoc2Q(assoc, &al->next, &g->lock, &g->accq, &g->nacc) != 0)
    return fail(ctl, ASF_ERR_BADASSOC);
  al->state = asf_state_pending;
  return 0;
}

int ascResponse(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  assoc_of(ctl)->kind = asf_kind_accepted;
  al->kind = asf_kind_accepted;
  return cmConRes(ctl, req);
}

int respDone(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  if (ctl->asfcode == 0 && req->word[1] != kRejectKind) {
    al->state = asf_state_open;
    set_status_byte(al, 0);
  } else {
    abort_own(assoc_of(ctl));
  }
  return 0;
}

int ascVerify(asfsvcctl *ctl, alctl *al, asfsvcreq *req) {
  assoc_of(ctl)->kind = asf_kind_accepted;
  al->kind = asf_kind_accepted;
  return cmConVerf(ctl, req);
}

int verfDone(asfsvcctl *, alctl *, asfsvcreq *) { return 0; }

/* A row of the service table. */
struct Service {
  ExecFn exec;
  DoneFn done;
  bool direct; /* runs on the caller's record, no state check */
};

/* The codes without a service (18 and 19) fail here and touch nothing. */
constexpr Service kNone = {nullptr, nullptr, false};

constexpr Service service[ASF_SVC_MAX + 1] = {
    {asfInit, nullptr, true},
    {alListen, nullptr, false},
    {directory, nullptr, true},
    {ascRequest, reqDone, false},
    {ascInd, indDone, false},
    {ascResponse, respDone, false},
    {asfSend, nullptr, false},
    {asfRecv, nullptr, false},
    {resync, nullptr, false},
    {ascRelease, relDone, false},
    {ascPreAbort, nullptr, false},
    {asfWait, nullptr, true},
    {asfAttrib, nullptr, false},
    {asfTerm, nullptr, true},
    {nothing, nullptr, true},
    {nothing, nullptr, true},
    {sendBAlloc, nullptr, false},
    {nothing, nullptr, false},
    kNone,
    kNone,
    {ascVerify, verfDone, false},
};

/* The state check of code on ctl's association. On success *work is the
** working control record of the service. -1 with the status in ctl. */
int asfEnter(asfsvcctl *ctl, asfsvcreq *req, int code, asfsvcctl **work) {
  Assocctl *created = nullptr;
  // The request word that names the association a call creates.
  const int idword =
      code == asf_svc_connect ? static_cast<int>(cm_word_assoc) : static_cast<int>(lsn_word_assoc);
  auto undo = [&](int status) {
    if (created != nullptr) {
      alCSfree(created);
      ctl->ascid = nullptr;
      req->word[idword] = 0;
    }
    return fail(ctl, status);
  };
  if (ctl->ascid == nullptr) {
    if (code == asf_svc_connect)
      created = alCSalloc(ctl, asf_kind_requester, reinterpret_cast<char *>(req->word[5]));
    else if (code == asf_svc_listen)
      created = alCSalloc(ctl, asf_kind_listener, nullptr);
    else
      return fail(ctl, ASF_ERR_BADASSOC);
    if (created == nullptr) return -1;
    ctl->ascid = created;
    req->word[idword] = reinterpret_cast<uintptr_t>(created);
    if ((req->word[1] & ASF_REQ_LOCKED) != 0) created->flags |= 16;
  }
  Assocctl *assoc = assoc_of(ctl);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) return undo(ASF_ERR_BADASSOC);
  alctl *al = assoc->al;
  ctl->asfcode = 0;
  SrvcQ *q = getSrvcQ(code, al);
  if (q == nullptr) return undo(ASF_ERR_BADASSOC);
  if (created == nullptr && q->busy) return undo(ASF_ERR_QBUSY);
  if (code == asf_svc_connect || code == asf_svc_listen || code == asf_svc_indication)
    al->state = asf_state_new;
  if (code >= asf_svc_connect && code <= asf_svc_abort) {
    const int state = al->state;
    if (state < 0 || state > asf_state_failed) return undo(ASF_ERR_STATE);
    const StateCell cell = statetable[code - asf_svc_connect][state];
    al->state = cell.next;
    ctl->asfcode = cell.mark;
    if (cell.mark != 0) return undo(ASF_ERR_STATE);
  }
  q->busy = 1;
  defineSrvcQ(q, req, ctl, nullptr);
  *work = &q->wctl;
  return 0;
}

/* The exit step of code: the outcome back to the caller, the deferred
** abort, and the freeing of a finished association. */
void asfExit(int code, asfsvcctl *work, asfsvcctl *caller, asfsvcreq *req) {
  Assocctl *assoc = assoc_of(work);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) return;
  alctl *al = assoc->al;
  SrvcQ *q = getSrvcQ(code, al);
  if (q != nullptr) {
    caller->asfcode = work->asfcode;
    caller->oserr = work->oserr;
    if (work->errstr[0] != '\0') asf_set_errstr(caller, work->errstr);
    q->busy = 0;
  }
  bool aborted = false;
  if (al->state == asf_state_aborting) {
    const bool idle =
        !al->svcq[0].busy && !al->svcq[1].busy && !al->svcq[2].busy && !al->svcq[3].busy;
    if (idle) {
      if (code == asf_svc_abort) {
        caller->ascid = assoc;
        ascAbort(caller, req);
      } else {
        ascAbort(&al->abortctl, &al->abortreq);
      }
      aborted = true;
    }
    if (code != asf_svc_abort && caller->asfcode != 0) {
      caller->asfcode = asf_status_aborted;
      caller->oserr = 0;
    }
  }
  const int status = caller->asfcode;
  bool free_it = aborted;
  switch (code) {
    case asf_svc_listen:
      free_it = status != 0 || aborted;
      break;
    case asf_svc_indication: {
      // The listener goes only with a deferred abort; a new association
      // whose indication failed was aborted by ascInd.
      auto *fresh = reinterpret_cast<Assocctl *>(req->word[ind_word_assoc]);
      if (status < 0 && fresh != nullptr && fresh != assoc && asfValidAssoc(fresh)) {
        alCSfree(fresh);
        req->word[ind_word_assoc] = 0;
      }
      break;
    }
    case asf_svc_response:
      free_it = req->word[1] == kRejectKind || status < 0 || aborted;
      break;
    case asf_svc_connect:
      // Any failure but a reject was aborted by reqDone: nothing is left
      // for the caller to abort, so a positive status frees it too.
      free_it = (status != 0 && status != asf_status_rejected) || aborted;
      break;
    case asf_svc_release:
      free_it = status == 0 || aborted;
      break;
    case asf_svc_abort:
      free_it = aborted && al->state == asf_state_aborted;
      break;
    default:
      break;
  }
  if (free_it) {
    alCSfree(assoc);
    if (code == asf_svc_connect) req->word[cm_word_assoc] = 0;
    if (code == asf_svc_listen) req->word[lsn_word_assoc] = 0;
    caller->ascid = nullptr;
  }
}

}  // namespace

extern "C" {

int ASF_Init(int code, asfsvcreq *req) {
  if (req == nullptr || code < 0 || code > ASF_SVC_MAX || init_sizes[code] < 0) return -1;
  const int words = init_sizes[code] / 4;
  for (int i = 1; i <= words; ++i)
    req->word[i] = 0;
  req->word[0] = static_cast<uintptr_t>(code);
  return 0;
}

int ASF_Call(asfsvcctl *ctl, asfsvcreq *req) {
  if (ctl == nullptr || req == nullptr) {
    if (ctl != nullptr) ctl->asfcode = ASF_ERR_BADARGS;
    return -1;
  }
  ctl->asfcode = asf_status_running;
  ctl->oserr = 0;
  ctl->errstr[0] = '\0';
  const uintptr_t raw = req->word[0];
  if (raw > ASF_SVC_MAX) return fail(ctl, ASF_ERR_BADCODE);
  const int code = static_cast<int>(raw);
  const Service &svc = service[code];
  if (svc.exec == nullptr) return fail(ctl, ASF_ERR_BADASSOC);

  ctl->flags = (ctl->flags & ~static_cast<uint32_t>(asf_flag_async)) | asf_flag_sync;
  if (code == asf_svc_connect || code == asf_svc_wait) ctl->ascid = nullptr;
  // A listen with a new association (no sub-code bit but the lock's).
  if (code == asf_svc_listen && (req->word[1] & ~static_cast<uintptr_t>(ASF_REQ_LOCKED)) == 0)
    ctl->ascid = nullptr;

  const bool direct =
      svc.direct || (code == asf_svc_attribute && (req->word[1] == 4 || req->word[1] == 260));
  if (direct) {
    ctl->asfcode = 0;
    errno = 0;
    return svc.exec(ctl, nullptr, req);
  }

  asfsvcctl *work = nullptr;
  if (asfEnter(ctl, req, code, &work) != 0) return -1;
  alctl *al = assoc_of(work)->al;
  errno = 0;
  int rc = svc.exec(work, al, req);
  if (svc.done != nullptr) {
    // The indication completes on the association it made.
    alctl *dal = al;
    if (code == asf_svc_indication) {
      auto *fresh = reinterpret_cast<Assocctl *>(req->word[ind_word_assoc]);
      dal = asfValidAssoc(fresh) ? fresh->al : nullptr;
    }
    if (svc.done(work, dal, req) == -1) rc = -1;
  }
  asfExit(code, work, ctl, req);
  return rc;
}

}  // extern "C"
