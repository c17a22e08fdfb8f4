/*
** The TLI driver: carries an association over a connection-oriented TLI
** provider ("/dev/tcp", and the SPX providers). The transport layer
** (asf/tl) calls these entries through the operation vectors of driver
** types 0, 5 and 17; whatever depends on the protocol is reached through
** the vector's address, option and signal slots (TCP: tcp_addr.cpp).
**
** Every t_* call goes through tli_driver_calls, so that tests can script
** the provider. A TLI call failing with TSYSERR and errno EINTR is made
** again at once (signal handlers here do not restart calls). The TCP
** expedited-data signal handler fills the association's expedited slot
** between our calls: the main flow blocks it while it touches that slot.
** The server side (listen and accept) is tli_listen.cpp; what the two
** share is in tli_driver.h.
*/
#include <fcntl.h>
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "svr4.h"
#include "tl_records.h"
#include "tli.h"
#include "tli_driver.h"

extern "C" {
const tli_calls tli_platform_calls = {t_open,       t_bind,   t_alloc,   t_free,    t_connect,
                                      t_rcvconnect, t_look,   t_snd,     t_rcv,     t_sndrel,
                                      t_rcvrel,     t_snddis, t_rcvdis,  t_sync,    t_getstate,
                                      t_unbind,     t_close,  t_optmgmt, tli_setsig};
const tli_calls *tli_driver_calls = &tli_platform_calls;
}

int tli_release_wait_ms = 100000;

namespace {

/* Events that end a connection for a receive. */
constexpr int gone_events = T_DISCONNECT | T_ERROR | T_ORDREL;
/* The frame mark of the SPX conventions and their interrupt byte. */
constexpr char frame_mark = 'N';
constexpr char interrupt_byte = 'B';
/* OS errors a send reports for a lost peer and for any other event. */
constexpr int oserr_peer_gone = 16;
constexpr int oserr_other_event = 9;
constexpr int disc_sync_tries = 30;
constexpr unsigned int release_drain_bytes = 100;

/* The TLI structures of a connect, freed together. */
struct ConnectRecords {
  struct t_bind *bindreq = nullptr;
  struct t_bind *bindret = nullptr;
  struct t_call *sndcall = nullptr;
  struct t_call *rcvcall = nullptr;
  ~ConnectRecords() {
    tli().t_free(bindreq, T_BIND);
    tli().t_free(bindret, T_BIND);
    tli().t_free(sndcall, T_CALL);
    tli().t_free(rcvcall, T_CALL);
  }
};

/* Waits for the connect's confirmation on fd: the larger of the caller's
** timeout and TLI_CONNECT_WAIT_MS, cut at deadline (ms on the layer's
** clock) when the caller set one (deadline >= 0). Returns 0 ready, or -1
** with the status stored (-908). */
int wait_connect(int fd, int timeout, int64_t deadline, asfsvcctl *ctl) {
  int64_t wait = timeout > TLI_CONNECT_WAIT_MS ? timeout : TLI_CONNECT_WAIT_MS;
  if (deadline >= 0) {
    int64_t left = deadline - asf_now_ms();
    if (left < wait) wait = left;
  }
  if (wait > 0 && sysv_select_poll(fd, 0, static_cast<int>(wait), asf_poll_read) == 0) return 0;
  if (wait > 0 && errno != 0) {
    driver_error(ctl, TLI_ERR_CONNECT, errno);
    return -1;
  }
  tli_retry([&] { return tli().t_getstate(fd); });
  driver_error(ctl, TLI_ERR_CONNECT, t_errno);
  return -1;
}

/* Completes the pending connect on fd: the wait and the event that ends
** it, one more wait after data that came before the confirmation.
** Returns 0 connected, or -1 with the status stored. */
int complete_connect(int fd, int timeout, int64_t deadline, asfsvcctl *ctl) {
  for (int waits = 0; waits < 2; ++waits) {
    if (wait_connect(fd, timeout, deadline, ctl) != 0) return -1;
    int event = tli_retry([&] { return tli().t_look(fd); });
    if (event == T_CONNECT) {
      if (tli_retry([&] { return tli().t_rcvconnect(fd, nullptr); }) == 0) return 0;
      driver_error(ctl, TLI_ERR_CONNECT, t_errno);
      return -1;
    }
    if (event != T_DATA && event != T_EXDATA) break;
  }
  driver_error(ctl, TLI_ERR_CONNECT, errno);
  return -1;
}

/* Puts the blocking mode of fd as timeout asks (negative blocking, 0
** non-blocking, positive unchanged) and waits kind for a positive one.
** Returns 0, -1 with the switch's status stored (switched false), or -1
** after the wait ran out (switched true, nothing stored). */
int prepare_transfer(drvblock *drv, int fd, asfsvcctl *ctl, int kind, bool *waited_out) {
  *waited_out = false;
  int timeout = ctl->timeout;
  if (timeout < 0) {
    if ((drv->flags & DRV_NONBLOCKING) != 0 && do_blocking(drv, fd, ctl) != 0) return -1;
    return 0;
  }
  if (timeout == 0) {
    if ((drv->flags & DRV_NONBLOCKING) == 0 && do_non_blocking(drv, fd, ctl) != 0) return -1;
    return 0;
  }
  if (sysv_select_poll(fd, 0, timeout, kind) != 0) {
    *waited_out = true;
    return -1;
  }
  return 0;
}

/* The status and OS error of a failed t_snd or t_rcv outside the cases
** the caller tells apart. */
void transfer_error(asfsvcctl *ctl) {
  if (t_errno == TSYSERR)
    driver_error(ctl, ASF_ERR_SYSCALL, errno);
  else
    driver_error(ctl, TLI_ERR_TRANSPORT, t_errno);
}

/* Outcome of send_all besides 0 (all sent) and -1 (failed). */
constexpr int send_flow = 1;

/* Sends *size bytes from *p on fd, advancing both by what the provider
** takes. Returns 0 when all is taken; send_flow with asfcode 6 when the
** provider would block; -1 with the status stored for any other failure. */
int send_all(int fd, char **p, int32_t *size, asfsvcctl *ctl) {
  while (*size > 0) {
    int n = tli_retry([&] { return tli().t_snd(fd, *p, static_cast<unsigned int>(*size), 0); });
    if (n >= 0) {
      *p += n;
      *size -= n;
      continue;
    }
    switch (t_errno) {
      case TLOOK: {
        int event = tli_retry([&] { return tli().t_look(fd); });
        if (event == T_DATA) continue;
        if (event == T_DISCONNECT || event == T_ORDREL)
          driver_error(ctl, TLI_ERR_PEERGONE, oserr_peer_gone);
        else
          driver_error(ctl, TLI_ERR_TRANSPORT, oserr_other_event);
        return -1;
      }
      case TFLOW:
        driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
        return send_flow;
      default:
        transfer_error(ctl);
        return -1;
    }
  }
  return 0;
}

/* Stores the expedited byte c in the association's expedited receive
** buffer; dropped when the slot is empty. */
void store_expedited(Assocctl *assoc, char c) {
  svr4::SignalBlock block {SIGPOLL, SIGURG};
  rscbufctl *x = nullptr;
  if (bufGet(assoc, asf_sel_xrecv, &x) != 0) return;
  x->buff[0] = c;
  x->p = x->buff;
  x->size = 1;
  bufReg(assoc, asf_sel_xrecv, x);
}

/* Releases a connection in data transfer, in order when the provider has
** orderly release, else abortively. Failures are not reported. */
void release_connection(const tlictl *t) {
  int fd = t->fd;
  if (t->info[6] != T_COTS_ORD) {
    tli_retry([&] { return tli().t_snddis(fd, nullptr); });
    return;
  }
  if (tli_retry([&] { return tli().t_sndrel(fd); }) != 0) return;
  if (wait_release(fd) != 1) return;
  int event = tli_retry([&] { return tli().t_look(fd); });
  if (event == T_ORDREL)
    tli_retry([&] { return tli().t_rcvrel(fd); });
  else if (event == T_DISCONNECT)
    tli_retry([&] { return tli().t_rcvdis(fd, nullptr); });
}

}  // namespace

extern "C" {

int inittli(asfsvcctl *, void *, int, const char *) { return 0; }

int termtli(asfsvcctl *, void *) { return 0; }

int waittli(drvblock *, void *, asfsvcctl *) { return 0; }

/* Opens, binds and connects an endpoint to the address of parms, sets its
** options and lends the association its buffers. Returns 0 with the
** tlictl in drv->priv and the descriptor blocking, or -1 with asfcode and
** oserr set and nothing left open. */
int conntli(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl) {
  // A caller's positive timeout is the deadline of the whole attempt.
  const int64_t deadline = ctl->timeout > 0 ? asf_now_ms() + ctl->timeout : -1;
  drv->flags |= DRV_CONNECTING;
  if (load_operation_vector(drv) != 0) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
    return -1;
  }
  if (parms != nullptr && parms->addr != nullptr && parms->addr->kind == 1) {
    if (drv->ops.cons2tladdr == nullptr) {
      driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
      return -1;
    }
    if (drv->ops.cons2tladdr(parms->addr->text, &drv->reqaddr, ctl, drv) != 0) return -1;
  }
  const SqlhOptions *options = parms != nullptr ? parms->options : nullptr;
  drv->bufsize =
      options != nullptr && options->bufsize != 0 ? options->bufsize : TLI_DEFAULT_BUFSIZE;
  if (drv->ops.load_addr == nullptr || drv->ops.native2tladdr == nullptr ||
      drv->ops.setopts == nullptr) {
    driver_error(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
    return -1;
  }

  struct t_info info {};
  int fd = tli_retry([&] { return tli().t_open(drv->device, O_RDWR, &info); });
  if (fd < 0) {
    driver_error(ctl, TLI_ERR_OPEN, errno);
    return -1;
  }
  tlictl *t = nullptr;
  {
    ConnectRecords rec;
    auto fail = [&]() {
      // The records go with rec; the endpoint and the endpoint record here.
      tli_retry([&] { return tli().t_unbind(fd); });
      tli_retry([&] { return tli().t_close(fd); });
      if (t != nullptr) asf_free(asf_pool_assoc, t);
      drv->priv = nullptr;
      return -1;
    };
    if (drv->type == tl_drv_tlispx) {
      rec.bindreq = static_cast<struct t_bind *>(tli().t_alloc(fd, T_BIND, T_ALL));
      if (rec.bindreq == nullptr) {
        driver_error(ctl, TLI_ERR_BINDALLOC, errno);
        return fail();
      }
      drv->ops.load_addr(nullptr, nullptr, &rec.bindreq->addr);
    }
    rec.bindret = static_cast<struct t_bind *>(tli().t_alloc(fd, T_BIND, T_ALL));
    if (rec.bindret == nullptr) {
      driver_error(ctl, TLI_ERR_BINDALLOC, errno);
      return fail();
    }
    rec.sndcall = static_cast<struct t_call *>(tli().t_alloc(fd, T_CALL, T_ADDR | T_OPT));
    rec.rcvcall = rec.sndcall == nullptr
                      ? nullptr
                      : static_cast<struct t_call *>(tli().t_alloc(fd, T_CALL, T_ADDR | T_OPT));
    if (rec.rcvcall == nullptr) {
      driver_error(ctl, TLI_ERR_CALLALLOC, errno);
      return fail();
    }
    drv->ops.load_addr(nullptr, nullptr, &rec.bindret->addr);
    if (tli_retry([&] { return tli().t_bind(fd, rec.bindreq, rec.bindret); }) != 0) {
      driver_error(ctl, TLI_ERR_BIND, t_errno);
      return fail();
    }
    drv->ops.native2tladdr(rec.bindret->addr.buf, &drv->repaddr);
    drv->ops.load_addr(&drv->reqaddr, &rec.sndcall->addr, &rec.rcvcall->addr);
    if (do_non_blocking(drv, fd, ctl) != 0) return fail();

    if (tli_retry([&] { return tli().t_connect(fd, rec.sndcall, rec.rcvcall); }) != 0) {
      // TSYSERR (an interruption the retry did not cover) counts as pending:
      // a refusal still comes as an event.
      if (t_errno != TNODATA && t_errno != TSYSERR) {
        driver_error(ctl, TLI_ERR_CONNECT, t_errno);
        return fail();
      }
      if (complete_connect(fd, ctl->timeout, deadline, ctl) != 0) return fail();
    }
    if (do_blocking(drv, fd, ctl) != 0) return fail();
    drv->ops.setopts(drv, fd, net_setoptions(options != nullptr ? options->keepalive : 0));

    t = static_cast<tlictl *>(asf_alloc(asf_pool_assoc, sizeof(tlictl)));
    if (t == nullptr) {
      driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
      return fail();
    }
    drv->priv = t;
    tli_store_info(t, info);
    if (drv->bufsize == 0) drv->bufsize = info.tsdu;
    if (net_buffer_setup(drv, assoc_of(ctl), ctl) != 0) {
      // The set-up stored -406 with errno; the status for the caller is 8.
      driver_error(ctl, TLI_STATUS_BUFFERS, ctl->oserr);
      return fail();
    }
  }
  t->fd = fd;
  t->framemark = drv->type == tl_drv_tlispx ? 1 : 0;
  drv->rcvcheck |= DRV_RCVCHECK;
  return 0;
}

/* Sends size bytes from buf->p, all of them, on the connection. Returns 0
** with buf reset and back in the send slot (a caller's buffer, type -2,
** left alone); -1 with asfcode 6 when the wait ran out or the provider
** would block (after flow control buf stays with the caller, p and size
** past what was sent); other failures -1 with the status set. */
int sendtli(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  auto *t = static_cast<tlictl *>(drv->priv);
  Assocctl *assoc = assoc_of(ctl);
  auto give_back = [&] {
    if (buf->type != -2) bufReg(assoc, asf_sel_send, buf);
    return -1;
  };
  if (t == nullptr) {
    driver_error(ctl, TLI_ERR_OUTSTATE, 0);
    return -1;
  }
  int fd = t->fd;
  bool waited_out = false;
  if (prepare_transfer(drv, fd, ctl, asf_poll_output, &waited_out) != 0) {
    if (!waited_out) return -1;
    driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
    return give_back();
  }
  if (t->framemark != 0) {
    if (buf->p > buf->buff) {
      --buf->p;
      *buf->p = frame_mark;
      ++buf->size;
    } else {
      // No room in front of the data (the session header fills it): the
      // mark goes out on its own, never written before the allocation.
      char mark[1] = {frame_mark};
      char *m = mark;
      int32_t one = 1;
      int rc = send_all(fd, &m, &one, ctl);
      if (rc == send_flow) return -1;
      if (rc != 0) return give_back();
    }
  }
  int rc = send_all(fd, &buf->p, &buf->size, ctl);
  if (rc == send_flow) return -1;
  if (rc != 0) return give_back();
  if (buf->type != -2) {
    buf->p = buf->buff + buf->p_offset;
    buf->size = buf->lbuff - buf->p_offset;
    bufReg(assoc, asf_sel_send, buf);
  }
  return 0;
}

/* Receives what one t_rcv delivers into *slot's buffer, or into the
** association's receive buffer (stored through slot) when *slot is null.
** Expedited data met on the way goes to the expedited slot and the
** receive goes on. Returns 0 with p and size set (the frame mark
** dropped), or -1 with asfcode set (6: nothing came in time, or nothing
** there on a non-blocking receive); the association's buffer then goes
** back to its slot and *slot is cleared. */
int recvtli(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl) {
  auto *t = static_cast<tlictl *>(drv->priv);
  Assocctl *assoc = assoc_of(ctl);
  if (t == nullptr || slot == nullptr) {
    driver_error(ctl, TLI_ERR_OUTSTATE, 0);
    return -1;
  }
  rscbufctl *buf = *slot;
  bool own = buf == nullptr;
  if (own) {
    if (bufGet(assoc, asf_sel_recv, &buf) != 0) {
      driver_error(ctl, TLI_ERR_OUTSTATE, 0);
      return -1;
    }
    *slot = buf;
  }
  auto give_back = [&] {
    if (own) {
      bufReg(assoc, asf_sel_recv, buf);
      *slot = nullptr;
    }
    return -1;
  };
  int fd = t->fd;
  // A positive limit holds for the whole receive, urgent bytes included.
  const int64_t deadline = ctl->timeout > 0 ? asf_now_ms() + ctl->timeout : -1;
  bool waited_out = false;
  if (prepare_transfer(drv, fd, ctl, asf_poll_input, &waited_out) != 0) {
    if (!waited_out) return give_back();
    driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
    return give_back();
  }
  // Before going round to the blocking t_rcv again: input within what is
  // left of the limit. False (status 6 stored) when none came.
  auto input_in_time = [&] {
    if (deadline < 0) return true;
    const int64_t left = deadline - asf_now_ms();
    if (left > 0 && sysv_select_poll(fd, 0, static_cast<int>(left), asf_poll_input) == 0)
      return true;
    driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
    return false;
  };
  for (;;) {
    const bool armed = (drv->flags & DRV_SIGARMED) != 0;
    int flags = 0;
    if (armed) tli_setsig_retry(fd, 0);
    int n = tli_retry(
        [&] { return tli().t_rcv(fd, buf->buff, static_cast<unsigned int>(buf->lbuff), &flags); });
    const int saved_t_errno = t_errno;
    const int saved_errno = errno;
    if (armed) tli_setsig_retry(fd, S_INPUT);
    t_errno = saved_t_errno;
    errno = saved_errno;
    if (n >= 0) {
      if ((flags & T_EXPEDITED) != 0) {
        if (n > 0) store_expedited(assoc, buf->buff[0]);
        if (!input_in_time()) return give_back();
        continue;
      }
      if ((drv->rcvcheck & DRV_RCVCHECK) != 0) {
        drv->rcvcheck &= ~DRV_RCVCHECK;
        t->framemark = n > 0 && buf->buff[0] == frame_mark ? 1 : 0;
      }
      // The mark leads a transport message, not each piece of one.
      const bool marked = t->framemark != 0 && t->inmsg == 0 && n > 0;
      buf->p = marked ? buf->buff + 1 : buf->buff;
      buf->size = marked ? n - 1 : n;
      t->inmsg = (flags & T_MORE) != 0 ? 1 : 0;
      return 0;
    }
    switch (t_errno) {
      case TOUTSTATE:
        driver_error(ctl, TLI_ERR_OUTSTATE, t_errno);
        return give_back();
      case TNODATA:
        driver_error(ctl, TLI_STATUS_AGAIN, ctl->oserr);
        return give_back();
      case TLOOK: {
        int event = tli_retry([&] { return tli().t_look(fd); });
        if (event > 0 && (event & gone_events) != 0) {
          driver_error(ctl, TLI_ERR_PEERGONE, TLOOK);
          return give_back();
        }
        if (event == T_DATA || event == T_EXDATA) {
          if (!input_in_time()) return give_back();
          continue;
        }
        driver_error(ctl, TLI_ERR_TRANSPORT, TLOOK);
        return give_back();
      }
      default:
        transfer_error(ctl);
        return give_back();
    }
  }
}

/* Sends the expedited buffer buf (type 5: the interrupt byte as normal
** data) and puts it back in the expedited send slot. A block that did not
** connect (an accepted one) sends nothing. Returns 0, or -1 with only
** oserr set. */
int soobtli(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl) {
  Assocctl *assoc = assoc_of(ctl);
  auto *t = static_cast<tlictl *>(drv->priv);
  if ((drv->flags & DRV_CONNECTING) == 0 || t == nullptr) {
    // Back to its slot all the same, or the disconnect could not free it.
    bufReg(assoc, asf_sel_xsend, buf);
    return 0;
  }
  int n;
  if (drv->type == tl_drv_tlispx) {
    buf->p[0] = interrupt_byte;
    n = tli_retry([&] { return tli().t_snd(t->fd, buf->p, 1, 0); });
  } else {
    n = tli_retry([&] {
      return tli().t_snd(t->fd, buf->p, static_cast<unsigned int>(buf->size), T_EXPEDITED);
    });
  }
  const int saved_t_errno = t_errno;
  const int saved_errno = errno;
  bufReg(assoc, asf_sel_xsend, buf);
  if (n >= 0) return 0;
  ctl->oserr = saved_t_errno == TSYSERR ? saved_errno : saved_t_errno;
  return -1;
}

/* Hands out the association's expedited receive buffer in *out. 0, or -1
** with asfcode -25579 when the slot is empty. */
int roobtli(drvblock *, rscbufctl **out, asfsvcctl *ctl) {
  int rc;
  {
    svr4::SignalBlock block {SIGPOLL, SIGURG};
    rc = bufGet(assoc_of(ctl), asf_sel_xrecv, out);
  }
  if (rc == 0) return 0;
  driver_error(ctl, TLI_ERR_OUTSTATE, t_errno);
  return -1;
}

/* Releases the connection as flags ask, closes the endpoint (unless it
** was handed over) and frees the endpoint record and the buffers.
** Always 0: failures of the release are not reported. */
int disctli(drvblock *drv, int flags, asfsvcctl *ctl) {
  auto *t = static_cast<tlictl *>(drv->priv);
  if (t == nullptr) return 0;
  tlitcp_sigforget(drv);
  const int fd = t->fd;
  if ((flags & tl_disc_close_only) != 0 || flags == tl_disc_stop_listening) {
    tli_retry([&] { return tli().t_close(fd); });
  } else {
    drv->flags |= DRV_RELEASING;
    if ((flags & tl_disc_handed_over) == 0 && fd >= 0) {
      int state = -1;
      for (int left = disc_sync_tries;;) {
        state = tli().t_sync(fd);
        if (state != -1) break;
        --left;
        if (t_errno != TSYSERR || errno != EINTR || left <= 0) break;
      }
      if (state == T_DATAXFER) {
        release_connection(t);
      } else {
        int event = tli_retry([&] { return tli().t_look(fd); });
        if (event == T_DISCONNECT) {
          tli_retry([&] { return tli().t_rcvdis(fd, nullptr); });
        } else if (event == T_ORDREL) {
          tli_retry([&] { return tli().t_rcvrel(fd); });
          tli_retry([&] { return tli().t_sndrel(fd); });
        }
      }
      tli_retry([&] { return tli().t_unbind(fd); });
      tli_retry([&] { return tli().t_close(fd); });
    }
  }
  // A listener's queued indications go with its record.
  tli_free_pendq(t);
  net_deallocate(drv, ctl);
  drv->priv = nullptr;
  return 0;
}

/* Waits for the peer's release on fd, dropping data that comes first.
** 1 when the release (or another event) is there, 0 when
** tli_release_wait_ms passed in all (data that keeps coming does not
** extend it), -1 when the poll failed or reported anything but input. */
int wait_release(int fd) {
  if (tli_retry([&] { return tli().t_look(fd); }) == T_ORDREL) return 1;
  const int64_t deadline = asf_now_ms() + tli_release_wait_ms;
  for (;;) {
    const int64_t left = deadline - asf_now_ms();
    if (left <= 0) return 0;
    struct pollfd p = {fd, POLLIN, 0};
    int rc = poll(&p, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return -1;
    if (rc == 0) return 0;
    // Once both directions are shut the socket adds POLLHUP to the EOF's
    // POLLIN; that is still the peer's orderly release.
    if ((p.revents & ~POLLHUP) != POLLIN) return -1;
    if (tli_retry([&] { return tli().t_look(fd); }) != T_DATA) return 1;
    char drop[release_drain_bytes];
    int flags = 0;
    tli_retry([&] { return tli().t_rcv(fd, drop, sizeof drop, &flags); });
  }
}

/* Both words of attr's value receive the endpoint's descriptor. 0. */
int attrtli(drvblock *drv, void *attr) {
  auto *t = static_cast<tlictl *>(drv->priv);
  auto *a = static_cast<tlattr *>(attr);
  if (a == nullptr || a->value == nullptr) return 0;
  int32_t words[2] = {t != nullptr ? t->fd : -1, t != nullptr ? t->fd : -1};
  std::memcpy(a->value, words, sizeof words);
  return 0;
}
}
