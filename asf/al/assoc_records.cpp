/*
** Association records: allocation and freeing of an association and of its
** protocol-family, session and transport blocks, the four buffer slots,
** the association queues and the service queues. Called by the service
** entry, the connection manager, the protocol family, the session layer
** and the transport layer.
**
** Every live association is registered here: a validity check asks the
** register before it reads a magic word, so an id whose record was freed
** is refused without touching freed memory. Signal handlers look
** associations up too (bufGet in the expedited-data, termination and
** alarm handlers): the register changes only with their signals blocked.
*/
#include <csignal>
#include <cstring>
#include <new>
#include <set>

#include "asf_al.h"
#include "asf_memory.h"
#include "os_stored.h"
#include "pf_records.h"
#include "sl_records.h"
#include "svr4.h"
#include "tl_records.h"

namespace {

/* Live associations. */
std::set<const Assocctl *> &live_associations() {
  static std::set<const Assocctl *> live;
  return live;
}

/* Blocks, for its life, the signals whose handlers look associations up. */
class RegisterChange : svr4::SignalBlock {
 public:
  RegisterChange() : SignalBlock({SIGPOLL, SIGURG, SIGALRM, SIGTERM}) {}
};

bool is_live(const Assocctl *assoc) {
  return assoc != nullptr && live_associations().count(assoc) != 0;
}

/* A name of up to 8 bytes, NUL-padded, for the fixed 8-byte fields. */
void copy_name8(char (&field)[8], const char *name) {
  std::memset(field, 0, sizeof field);
  if (name != nullptr) std::memcpy(field, name, strnlen(name, sizeof field));
}

/* Frees the protocol-family block (which holds the session block too) and
** clears its references: 0 or meFree's result. */
int free_pf_block(Assocctl *assoc) {
  int rc = asf_free(asf_pool_assoc, assoc->pfblock);
  if (rc != 0) return rc;
  assoc->pfblock = nullptr;
  assoc->pfsize = 0;
  assoc->slblock = nullptr;
  assoc->slsize = 0;
  std::memset(assoc->pfname, 0, sizeof assoc->pfname);
  std::memset(assoc->pfname2, 0, sizeof assoc->pfname2);
  assoc->pfstate = 0;
  return 0;
}

/* The slot a selector names, or null. */
rscbufctl **buffer_slot(Assocctl *assoc, int selector) {
  bool exp = (selector & asf_buf_exp) != 0;
  if (selector & asf_buf_send) return exp ? &assoc->xsndbuf : &assoc->sndbuf;
  if (selector & asf_buf_recv) return exp ? &assoc->xrcvbuf : &assoc->rcvbuf;
  return nullptr;
}

/* Queue of each service code 0-20, -1 for none. */
constexpr int service_queue[21] = {-1, 1, -1, 0,  1,  0, 0, 1,  3,  0, 2,
                                   -1, 3, -1, -1, -1, 0, 1, -1, -1, 1};

}  // namespace

extern "C" {

int asfValidAssoc(const Assocctl *assoc) {
  return is_live(assoc) && assoc->magic == ASF_ASSOC_MAGIC ? 1 : 0;
}

int asfValidAssoc2(const Assocctl *assoc) {
  return is_live(assoc) && assoc->magic2 == ASF_ASSOC_MAGIC2 ? 1 : 0;
}

Assocctl *alCSalloc(asfsvcctl *ctl, int kind, char *statusbyte) {
  auto *assoc = static_cast<Assocctl *>(asf_alloc(asf_pool_assoc, sizeof(Assocctl)));
  if (assoc != nullptr) {
    try {
      RegisterChange change;
      live_associations().insert(assoc);
    } catch (const std::bad_alloc &) {
      asf_free(asf_pool_assoc, assoc);
      assoc = nullptr;
    }
  }
  if (assoc == nullptr) {
    if (ctl != nullptr) {
      ctl->asfcode = ASF_ERR_MEMORY;
      ctl->oserr = 12;
    }
    return nullptr;
  }
  assoc->magic = ASF_ASSOC_MAGIC;
  assoc->magic2 = ASF_ASSOC_MAGIC2;
  assoc->kind = kind;
  assoc->statusarea = statusbyte;
  assoc->al = &assoc->alblock;
  assoc->alsize = sizeof(alctl);
  assoc->alblock.kind = kind;
  assoc->alblock.statusbyte = statusbyte;
  dvzOS_mutexInit(&assoc->lock, "asf_assoc");
  if (ctl != nullptr) {
    ctl->asfcode = 0;
    ctl->oserr = 0;
  }
  return assoc;
}

int alCSfree(Assocctl *assoc) {
  if (!asfValidAssoc(assoc)) return -1;
  if (assoc->pfstate == ASF_PF_ALLOCATED) {
    int rc = free_pf_block(assoc);
    if (rc != 0) return rc;
  }
  assoc->kind = 0;
  assoc->magic = 0;
  assoc->magic2 = 0;
  int rc = dvzOS_mutexDestroy(&assoc->lock);
  if (rc != 0) return rc;
  {
    RegisterChange change;
    live_associations().erase(assoc);
  }
  return asf_free(asf_pool_assoc, assoc);
}

int sqlCSalloc(asfsvcctl *ctl, int reuse, const char *name, const char *name2) {
  if (ctl == nullptr) return -1;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc2(assoc)) {
    ctl->asfcode = ASF_ERR_BADASSOC;
    return -1;
  }
  char n1[8], n2[8];
  copy_name8(n1, name);
  copy_name8(n2, name2);
  if (assoc->pfblock != nullptr) {
    if (reuse == 0) {
      ctl->asfcode = -1;
      return -1;
    }
    if (bycmpr(n1, assoc->pfname, 8) == 0 && bycmpr(n2, assoc->pfname2, 8) == 0) return 0;
    if (free_pf_block(assoc) != 0) {
      ctl->asfcode = ASF_ERR_BADASSOC;
      return -1;
    }
  }
  uint32_t pfsize = PF_BLOCK_SIZE;
  uint32_t slsize = SL_BLOCK_SIZE;
  auto *block = static_cast<char *>(asf_alloc(asf_pool_assoc, size_t {pfsize} + slsize));
  if (block == nullptr) {
    ctl->asfcode = ASF_ERR_MEMORY;
    ctl->oserr = 12;
    return -1;
  }
  assoc->pfblock = block;
  assoc->pfsize = pfsize;
  assoc->slblock = block + pfsize;
  assoc->slsize = slsize;
  if (pfsize >= sizeof(uint32_t))
    std::memset(block + pfsize - sizeof(uint32_t), 0, sizeof(uint32_t));
  assoc->tlblock = nullptr;
  assoc->tlsize = 0;
  assoc->rcvbuf = assoc->sndbuf = assoc->xrcvbuf = assoc->xsndbuf = nullptr;
  std::memcpy(assoc->pfname, n1, 8);
  std::memcpy(assoc->pfname2, n2, 8);
  assoc->headroom = ASF_HEADER_ROOM;
  assoc->pfstate = ASF_PF_ALLOCATED;
  return 0;
}

int sqlCSfree(Assocctl *assoc) {
  if (!asfValidAssoc(assoc)) return -1;
  if (assoc->pfstate != ASF_PF_ALLOCATED) return 0;
  return free_pf_block(assoc);
}

int tlCSalloc(asfsvcctl *ctl) {
  if (ctl == nullptr) return -1;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc2(assoc)) {
    ctl->asfcode = ASF_ERR_BADASSOC;
    return -1;
  }
  uint32_t size = TL_BLOCK_SIZE;
  void *block = asf_alloc(asf_pool_assoc, size);
  if (block == nullptr) {
    ctl->asfcode = ASF_ERR_MEMORY;
    ctl->oserr = 12;
    return -1;
  }
  assoc->tlblock = block;
  assoc->tlsize = size;
  return 0;
}

int tlCSfree(Assocctl *assoc) {
  if (!asfValidAssoc2(assoc) || assoc->tlblock == nullptr) return -1;
  int rc = asf_free(asf_pool_assoc, assoc->tlblock);
  if (rc != 0) return rc;
  assoc->tlblock = nullptr;
  assoc->tlsize = 0;
  assoc->tldrv = nullptr;
  assoc->tlops = nullptr;
  return 0;
}

int tlCSlink(Assocctl *from, Assocctl *to) {
  if (!asfValidAssoc2(from) || !asfValidAssoc2(to) || from->tlblock == nullptr) return -1;
  to->tlblock = from->tlblock;
  to->tlsize = from->tlsize;
  return 0;
}

int bufReg(Assocctl *assoc, int selector, rscbufctl *buf) {
  if (!asfValidAssoc2(assoc)) return -1;
  rscbufctl **slot = buffer_slot(assoc, selector);
  if (slot == nullptr || *slot != nullptr) return -1;
  if ((selector & asf_buf_send) && buf != nullptr) {
    buf->p = buf->buff + buf->p_offset;
    buf->size = buf->lbuff - buf->p_offset;
  }
  *slot = buf;
  return 0;
}

int bufGet(Assocctl *assoc, int selector, rscbufctl **buf) {
  if (!asfValidAssoc2(assoc) || buf == nullptr) return -1;
  rscbufctl **slot = buffer_slot(assoc, selector);
  if (slot == nullptr || *slot == nullptr) return -1;
  *buf = *slot;
  if ((selector & asf_buf_peek) == 0) *slot = nullptr;
  return 0;
}

int bufStateGet(Assocctl *assoc, char **status) {
  if (!asfValidAssoc2(assoc)) return -1;
  if (status != nullptr) *status = assoc->statusarea;
  return assoc->kind;
}

int addAssoc2Q(Assocctl *assoc, Assocctl **nextlink, dvzOS_mutex_t *lock, Assocctl **head,
               int32_t *count) {
  if (!asfValidAssoc(assoc) || nextlink == nullptr || head == nullptr || count == nullptr)
    return -1;
  if (*head != nullptr && !asfValidAssoc(*head)) return -1;
  dvzOS_mutexLock(lock);
  Assocctl *first = *head;
  if (first != nullptr) first->al->prev = assoc;
  *nextlink = first;
  assoc->al->prev = nullptr;
  *head = assoc;
  ++*count;
  dvzOS_mutexUnLock(lock);
  return 0;
}

int delAssocInQ(dvzOS_mutex_t *lock, Assocctl **head, Assocctl *assoc, int32_t *count) {
  if (!asfValidAssoc(assoc) || head == nullptr || count == nullptr) return -1;
  dvzOS_mutexLock(lock);
  alctl *al = assoc->al;
  if (al->prev != nullptr) {
    al->prev->al->next = al->next;
  } else if (*head == assoc) {
    *head = al->next;
  }
  if (al->next != nullptr) al->next->al->prev = al->prev;
  al->prev = al->next = nullptr;
  if (assoc->kind == asf_kind_accepted && al->children != nullptr && asfglbctl != nullptr) {
    // The requesters go in front of the global queue in their own order:
    // the last child's next link takes the old first requester.
    Assocctl *last = al->children;
    int moved = 1;
    while (last->al->next != nullptr) {
      last->al->parent = nullptr;
      last = last->al->next;
      ++moved;
    }
    last->al->parent = nullptr;
    Assocctl *old = asfglbctl->reqq;
    last->al->next = old;
    if (old != nullptr) old->al->prev = last;
    al->children->al->prev = nullptr;
    asfglbctl->reqq = al->children;
    asfglbctl->nreq += moved;
    al->children = nullptr;
    al->nchildren = 0;
  }
  --*count;
  dvzOS_mutexUnLock(lock);
  return 0;
}

SrvcQ *getSrvcQ(int code, alctl *al) {
  if (al == nullptr || code < 0 || code > 20 || service_queue[code] < 0) return nullptr;
  return &al->svcq[service_queue[code]];
}

void defineSrvcQ(SrvcQ *q, asfsvcreq *req, asfsvcctl *ctl, void (*callback)(asfsvcctl *, void *)) {
  if (q == nullptr || ctl == nullptr) return;
  q->ctl = ctl;
  q->req = req;
  std::memset(&q->wctl, 0, sizeof q->wctl);
  q->wctl.ascid = ctl->ascid;
  q->wctl.flags = ctl->flags;
  q->wctl.timeout = ctl->timeout;
  q->wctl.asyncfunc = callback;
}

}  // extern "C"
