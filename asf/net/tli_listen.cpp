/*
** The server side of the TLI driver: the listen entry opens and binds a
** listening endpoint with its queue of pending connect indications, and
** the accept entry takes the next indication onto a new endpoint for a
** new association. The transport layer calls them (tlListen, tlAccept)
** through the TLI operation vectors; the rest of the driver, and the
** disconnect that closes a listener, is tli_driver.cpp.
**
** Indications are queued so that a caller's disconnect can be matched to
** its indication by sequence number and dropped, and so that an accept
** that a newer event interrupts (t_accept failing with TLOOK) can handle
** that event and try the same indication again. Every TLI call goes
** through tli_driver_calls except t_listen and t_accept, and is made
** again while it fails with TSYSERR and EINTR. One thread.
*/
#include <fcntl.h>
#include <poll.h>

#include <cerrno>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "tl_records.h"
#include "tli.h"
#include "tli_driver.h"

namespace {

/* The queue length every listen asks the provider for. */
constexpr unsigned int requested_qlen = 500;

/* The next slot index after i in a queue of capacity slots. */
uint32_t next_index(uint32_t i, uint32_t capacity) { return i + 1 >= capacity ? 0 : i + 1; }

/* Frees the call of slot i and empties the slot. */
void drop_slot(tlipendq *q, uint32_t i) {
  tli().t_free(q->slots[i], T_CALL);
  q->slots[i] = nullptr;
}

/* The bind structures of a listen, freed together. */
struct BindRecords {
  struct t_bind *request = nullptr;
  struct t_bind *returned = nullptr;
  ~BindRecords() {
    tli().t_free(request, T_BIND);
    tli().t_free(returned, T_BIND);
  }
};

/* A new, empty queue of capacity slots into *out. 0, or -1 with -406
** stored and nothing left allocated. */
int make_queue(uint32_t capacity, tlipendq **out, asfsvcctl *ctl) {
  auto *q = static_cast<tlipendq *>(asf_alloc(asf_pool_assoc, sizeof(tlipendq)));
  if (q == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  q->slots =
      static_cast<struct t_call **>(asf_alloc(asf_pool_assoc, capacity * sizeof(struct t_call *)));
  if (q->slots == nullptr) {
    asf_free(asf_pool_assoc, q);
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  q->capacity = capacity;
  *out = q;
  return 0;
}

/* Waits without a time limit for an event on the listening endpoint fd.
** A held event (a queued caller's disconnect) does not show on the socket:
** the TLI layer reports it ready. 0, or -1 with -25573 and errno stored
** when the poll fails or reports anything but input. */
int wait_for_event(int fd, asfsvcctl *ctl) {
  int asked = tli_poll_events(fd, POLLIN);
  if ((asked & TLI_POLL_READY) != 0) return 0;
  struct pollfd p = {fd, static_cast<short>(asked), 0};
  int rc;
  do {
    errno = 0;
    p.revents = 0;
    rc = poll(&p, 1, -1);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0 || p.revents != POLLIN) {
    driver_error(ctl, TLI_ERR_LISTEN, errno);
    return -1;
  }
  return 0;
}

/* Takes the waiting indication of fd into a free slot of q. 0, or -1 with
** the status stored: -25575 (no call structure), -25573 (t_listen), or
** -25571 when every slot is taken (the indication is taken off the
** endpoint all the same and dropped). */
int take_indication(int fd, tlipendq *q, asfsvcctl *ctl) {
  uint32_t i = q->lisn_index;
  bool found = false;
  for (uint32_t n = 0; n < q->capacity; ++n, i = next_index(i, q->capacity)) {
    if (q->slots[i] == nullptr) {
      found = true;
      break;
    }
  }
  auto *call = static_cast<struct t_call *>(tli().t_alloc(fd, T_CALL, T_ADDR | T_OPT));
  if (call == nullptr) {
    driver_error(ctl, TLI_ERR_CALLALLOC, errno);
    return -1;
  }
  if (!found) {
    tli_retry([&] { return t_listen(fd, call); });
    const int saved = t_errno;
    tli().t_free(call, T_CALL);
    driver_error(ctl, TLI_ERR_QUEUEFULL, saved);
    return -1;
  }
  q->slots[i] = call;
  if (tli_retry([&] { return t_listen(fd, call); }) != 0) {
    const int saved = t_errno;
    drop_slot(q, i);
    driver_error(ctl, TLI_ERR_LISTEN, saved);
    return -1;
  }
  ++q->count;
  q->lisn_index = next_index(q->lisn_index, q->capacity);
  return 0;
}

/* Takes the pending disconnect of fd and drops the indication it
** withdraws, if queued. 0, or -1 with the status stored: -25575 (no
** disconnect structure) or -25573 (t_rcvdis). */
int take_disconnect(int fd, tlipendq *q, asfsvcctl *ctl) {
  auto *dis = static_cast<struct t_discon *>(tli().t_alloc(fd, T_DIS, T_ALL));
  if (dis == nullptr) {
    driver_error(ctl, TLI_ERR_CALLALLOC, errno);
    return -1;
  }
  if (tli_retry([&] { return tli().t_rcvdis(fd, dis); }) != 0) {
    const int saved = errno;
    tli().t_free(dis, T_DIS);
    driver_error(ctl, TLI_ERR_LISTEN, saved);
    return -1;
  }
  for (uint32_t i = 0; i < q->capacity; ++i) {
    if (q->slots[i] != nullptr && q->slots[i]->sequence == dis->sequence) {
      drop_slot(q, i);
      --q->count;
      break;
    }
  }
  tli().t_free(dis, T_DIS);
  return 0;
}

/* What waiting for the next event left to do. */
enum class Next { accept, wait, fail };

/* Waits for an event on fd and handles it: an indication is queued, a
** disconnect drops what it withdraws. Next::accept when there is an
** indication to accept, Next::wait when the queue is empty again,
** Next::fail with the status stored. */
Next handle_event(int fd, tlipendq *q, asfsvcctl *ctl) {
  if (wait_for_event(fd, ctl) != 0) return Next::fail;
  switch (tli_retry([&] { return tli().t_look(fd); })) {
    case T_LISTEN:
      return take_indication(fd, q, ctl) == 0 ? Next::accept : Next::fail;
    case T_DISCONNECT:
      if (take_disconnect(fd, q, ctl) != 0) return Next::fail;
      return q->count > 0 ? Next::accept : Next::wait;
    default:
      driver_error(ctl, TLI_ERR_LISTEN, errno);
      return Next::fail;
  }
}

/* The occupied slot the accept takes next, searched from the accept
** index; -1 when none is. */
int64_t queued_slot(const tlipendq *q) {
  uint32_t i = q->accp_index;
  for (uint32_t n = 0; n < q->capacity; ++n, i = next_index(i, q->capacity))
    if (q->slots[i] != nullptr) return i;
  return -1;
}

}  // namespace

void tli_free_pendq(tlictl *t) {
  auto *q = static_cast<tlipendq *>(t->pendq);
  if (q == nullptr) return;
  if (q->slots != nullptr) {
    for (uint32_t i = 0; i < q->capacity; ++i)
      tli().t_free(q->slots[i], T_CALL);
    asf_free(asf_pool_assoc, q->slots);
  }
  asf_free(asf_pool_assoc, q);
  t->pendq = nullptr;
}

extern "C" {

/* Modes 0 and 2 open drv's listening endpoint: mode 0 on the address text
** of parms (a "*" host is any address), mode 2 on the requested address
** already in the block; a block that still has its endpoint keeps it.
** Other modes do nothing. Returns 0 with the endpoint record (and its
** queue, at least 30 slots) in drv->priv and driver flag 64 set; or -1
** with asfcode and oserr set, nothing left open and drv->priv cleared. */
int lisntli(drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *ctl) {
  if (mode != 0 && mode != 2) return 0;
  // A second listen would lose the open endpoint and its queue.
  if (drv->priv != nullptr) return 0;
  drv->flags |= DRV_LISTENING;
  auto *t = static_cast<tlictl *>(asf_alloc(asf_pool_assoc, sizeof(tlictl)));
  if (t == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  drv->priv = t;
  int fd = -1;
  auto fail = [&]() {
    if (fd >= 0) tli_retry([&] { return tli().t_close(fd); });
    tli_free_pendq(t);
    asf_free(asf_pool_assoc, t);
    drv->priv = nullptr;
    return -1;
  };
  BindRecords rec;
  if (load_operation_vector(drv) != 0) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
    return fail();
  }
  if (mode == 0 && parms != nullptr && parms->addr != nullptr && parms->addr->kind == 1) {
    if (drv->ops.cons2tladdr == nullptr) {
      driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
      return fail();
    }
    if (drv->ops.cons2tladdr(parms->addr->text, &drv->reqaddr, ctl, drv) != 0) return fail();
  }
  const SqlhOptions *options = parms != nullptr ? parms->options : nullptr;
  drv->bufsize =
      options != nullptr && options->bufsize != 0 ? options->bufsize : TLI_DEFAULT_BUFSIZE;
  if (drv->ops.load_addr == nullptr || drv->ops.setopts == nullptr ||
      drv->ops.port_bind == nullptr) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
    return fail();
  }

  struct t_info info {};
  fd = tli_retry([&] { return tli().t_open(drv->device, O_RDWR, &info); });
  if (fd < 0) {
    driver_error(ctl, TLI_ERR_OPEN, errno);
    return fail();
  }
  rec.request = static_cast<struct t_bind *>(tli().t_alloc(fd, T_BIND, T_ALL));
  rec.returned = rec.request == nullptr
                     ? nullptr
                     : static_cast<struct t_bind *>(tli().t_alloc(fd, T_BIND, T_ALL));
  if (rec.returned == nullptr) {
    driver_error(ctl, TLI_ERR_BINDALLOC, errno);
    return fail();
  }
  if (drv->type == tl_drv_tlispx)
    drv->ops.load_addr(nullptr, nullptr, &rec.request->addr);
  else
    drv->ops.load_addr(&drv->reqaddr, &rec.request->addr, nullptr);
  const int optbits = net_setoptions(options != nullptr ? options->keepalive : 0);
  drv->ops.setopts(drv, fd, optbits);
  rec.request->qlen = requested_qlen;
  if (tli_retry([&] { return tli().t_bind(fd, rec.request, rec.returned); }) != 0) {
    driver_error(ctl, TLI_ERR_BIND, t_errno);
    return fail();
  }
  if (drv->ops.port_bind(rec.request, rec.returned, &drv->reqaddr) != 0) {
    driver_error(ctl, TLI_ERR_BIND, errno);
    return fail();
  }
  t->fd = fd;
  t->optbits = optbits;
  tli_store_info(t, info);
  const uint32_t capacity = rec.returned->qlen > TLI_MIN_QUEUE ? rec.returned->qlen : TLI_MIN_QUEUE;
  tlipendq *q = nullptr;
  if (make_queue(capacity, &q, ctl) != 0) return fail();
  t->pendq = q;
  return 0;
}

/* Takes the next connection of the listening block drv onto a new
** endpoint in newassoc's transport block, waiting without a time limit
** when none is queued, and writes the peer's address text into *peer.
** Returns 0 with the new block connected (driver flag 2, its endpoint
** record and buffers in place); or -1 with asfcode and oserr set, the new
** block without a private record and nothing new left open. The
** listening endpoint and its queue stay usable either way. */
int accptli(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl) {
  auto *t = static_cast<tlictl *>(drv->priv);
  auto *tb = newassoc != nullptr ? static_cast<tlblock *>(newassoc->tlblock) : nullptr;
  // A listener handed over by the program that executed this one comes
  // without its queue (a pointer means nothing here): it gets a new one.
  if (t != nullptr && t->pendq == nullptr && tb != nullptr) {
    tlipendq *q = nullptr;
    if (make_queue(TLI_MIN_QUEUE, &q, ctl) != 0) return -1;
    t->pendq = q;
  }
  if (t == nullptr || t->pendq == nullptr || tb == nullptr) {
    driver_error(ctl, TLI_ERR_LISTEN, 0);
    return -1;
  }
  if (drv->ops.native2tladdr == nullptr || drv->ops.tladdr2cons == nullptr ||
      drv->ops.setopts == nullptr) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
    return -1;
  }
  auto *q = static_cast<tlipendq *>(t->pendq);
  drvblock *nd = &tb->drv;
  const int fd = t->fd;
  bool event_pending = false;
  int nfd = -1;
  tlictl *nt = nullptr;
  auto fail = [&]() {
    if (nfd >= 0) tli_retry([&] { return tli().t_close(nfd); });
    if (nt != nullptr) asf_free(asf_pool_assoc, nt);
    nd->priv = nullptr;
    return -1;
  };

  struct t_info info {};
  uint32_t slot = 0;
  for (;;) {
    if (q->count <= 0 || event_pending) {
      event_pending = false;
      Next next = handle_event(fd, q, ctl);
      if (next == Next::fail) return -1;
      if (next == Next::wait) continue;
    }
    int64_t found = queued_slot(q);
    if (found < 0) {
      q->count = 0; /* the slots are the truth: a stray count must not spin */
      continue;
    }
    slot = static_cast<uint32_t>(found);

    nfd = tli_retry([&] { return tli().t_open(nd->device, O_RDWR, &info); });
    if (nfd < 0) {
      driver_error(ctl, TLI_ERR_OPEN, errno);
      return fail();
    }
    if (tli_retry([&] { return tli().t_bind(nfd, nullptr, nullptr); }) != 0) {
      driver_error(ctl, TLI_ERR_BIND, t_errno);
      return fail();
    }
    if (tli_retry([&] { return t_accept(fd, nfd, q->slots[slot]); }) == 0) break;
    const int saved = t_errno;
    if (saved == TLOOK) {
      // A newer event came first: handle it, then try this indication again.
      tli_retry([&] { return tli().t_close(nfd); });
      nfd = -1;
      event_pending = true;
      continue;
    }
    --q->count;
    q->accp_index = next_index(q->accp_index, q->capacity);
    drop_slot(q, slot);
    driver_error(ctl, TLI_ERR_LISTEN, saved);
    return fail();
  }
  --q->count;
  q->accp_index = next_index(q->accp_index, q->capacity);

  drv->ops.native2tladdr(q->slots[slot]->addr.buf, &nd->repaddr);
  if (drv->ops.tladdr2cons(&nd->repaddr, peer, nd, ctl) != 0) {
    drop_slot(q, slot);
    return fail();
  }
  nd->flags |= DRV_ACCEPTED;
  drop_slot(q, slot);
  drv->ops.setopts(nd, nfd, t->optbits);

  nt = static_cast<tlictl *>(asf_alloc(asf_pool_assoc, sizeof(tlictl)));
  if (nt == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return fail();
  }
  nd->priv = nt;
  if (nd->bufsize == 0) nd->bufsize = info.tsdu;
  if (net_buffer_setup(nd, newassoc, ctl) != 0) return fail();
  nt->fd = nfd;
  nd->rcvcheck |= DRV_RCVCHECK;
  tli_store_info(nt, info);
  nt->framemark = 0;
  return 0;
}

}  // extern "C"
