/*
** The SQLI session layer, connecting side: the 6-byte session header, the
** connect exchange (request out, response in, old-protocol replies turned
** into accept and reject), data, the interrupt, release and abort, and
** the multiplexing of several sessions over one transport connection.
** Called by the protocol family; calls the transport layer (tl_records.h),
** the association layer's buffer slots, and communication support
** (the protocol family's support table, pfCss) for the final message and
** the close of a support context.
** The listening side is in sl_listen.cpp; a multiplexed connect that a
** data receive meets on an accepted connection goes to its multiplexing
** listener's queue, or is refused with a multiplexed reject when there is
** none.
**
** The header travels big-endian, its lengths unsigned 16 bits. One thread:
** a data message for another session of a shared connection cannot be
** handed to a second reader, so it is read whole and queued for that
** session in the shared record (`slcommon`), and that session's next
** receive delivers it before reading the transport; nothing is dropped or
** given to the wrong session.
**
** The transport's receive buffer of a connection is lent by the session
** that opened it: after the connect it sits both in that association's
** receive slot and in the shared receive context, so that every session
** of the connection reads into it and the transport's disconnect (which
** frees the slots of the association it is called for) frees it once.
**
** A connect attempt's budget is the caller's positive `timeout` read at
** the start of slSQIreq, as the TLI driver reads it for its connect: the
** sends and the wait for the response end at that deadline with -27001.
*/
#include <climits>
#include <cstring>
#include <initializer_list>

#include "asf_memory.h"
#include "dvz_be.h"
#include "gen_strings.h"
#include "pf_records.h"
#include "sl_internal.h"
#include "sl_records.h"

namespace slsqi {

/* Below this header length a connect response may be an old-protocol
** reply read as a header. */
constexpr int32_t old_reply_limit = 16;
constexpr char interrupt_byte = 'B';

int fail(asfsvcctl *ctl, int status) {
  ctl->asfcode = status;
  return -1;
}

/* The session record of ctl's association, or null with -25546. */
slsession *session_of(asfsvcctl *ctl) {
  if (ctl == nullptr) return nullptr;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc2(assoc) || assoc->pfstate != ASF_PF_ALLOCATED || assoc->slblock == nullptr) {
    ctl->asfcode = ASF_ERR_BADASSOC;
    return nullptr;
  }
  return static_cast<slsession *>(assoc->slblock);
}

/* True for a session that joined another association's connection. */
bool joined(const slsession *s) { return s->muxid != 0; }

void clear_first(slsession *s) {
  s->hook = nullptr;
  s->request = nullptr;
  s->sent = 0;
}

void clear_second(slsession *s) {
  s->hook2 = nullptr;
  s->response = nullptr;
  s->word2 = 0;
  s->delivered = rscbufctl {};
  s->oldform = 0;
}

void clear_areas(slsession *s) {
  clear_first(s);
  clear_second(s);
  std::memset(s->area3, 0, sizeof s->area3);
  std::memset(s->area4, 0, sizeof s->area4);
}

void free_queue(slqueued *q) {
  while (q != nullptr) {
    slqueued *next = q->next;
    asf_free(asf_pool_assoc, q);
    q = next;
  }
}

/* A queued-message record with room for length bytes, or null. */
slqueued *new_queued(int32_t length) {
  auto *q = static_cast<slqueued *>(asf_alloc(asf_pool_assoc, sizeof(slqueued) + size_t(length)));
  if (q == nullptr) return nullptr;
  q->length = length;
  q->data = reinterpret_cast<char *>(q + 1);
  return q;
}

/* Frees c with its queues and its address text. */
void free_common(slcommon *c) {
  if (c == nullptr) return;
  for (slqueued *q : c->queue)
    free_queue(q);
  free_queue(c->fwdmsg);
  if (c->addrtext != nullptr) asf_free(asf_pool_assoc, c->addrtext);
  dvzOS_mutexDestroy(&c->ctl_lock);
  for (slcontext *x : {&c->send, &c->recv, &c->xsend, &c->xrecv})
    dvzOS_mutexDestroy(&x->lock);
  asf_free(asf_pool_assoc, c);
}

/* A new shared record for a connection to parms' address, count 1.
** Null with -406 (memory) or -25557 (a lock could not be made). */
slcommon *new_common(asfsvcctl *ctl, const tlconnreq *parms) {
  auto *c = static_cast<slcommon *>(asf_alloc(asf_pool_assoc, sizeof(slcommon)));
  if (c == nullptr) {
    fail(ctl, ASF_ERR_MEMORY);
    return nullptr;
  }
  c->count = 1;
  c->fwdid = -1;
  int rc = dvzOS_mutexInit(&c->ctl_lock, "slcommon_ctl");
  rc |= dvzOS_mutexInit(&c->send.lock, "slcommon_send");
  rc |= dvzOS_mutexInit(&c->recv.lock, "slcommon_recv");
  rc |= dvzOS_mutexInit(&c->xsend.lock, "slcommon_xsend");
  rc |= dvzOS_mutexInit(&c->xrecv.lock, "slcommon_xrecv");
  if (rc != 0) {
    free_common(c);
    fail(ctl, SL_ERR_COMMON);
    return nullptr;
  }
  const char *text = parms != nullptr && parms->addr != nullptr ? parms->addr->text : nullptr;
  if (text != nullptr) {
    size_t n = std::strlen(text) + 1;
    c->addrtext = static_cast<char *>(asf_alloc(asf_pool_assoc, n));
    if (c->addrtext == nullptr) {
      free_common(c);
      fail(ctl, ASF_ERR_MEMORY);
      return nullptr;
    }
    std::memcpy(c->addrtext, text, n);
  }
  return c;
}

/* The first free multiplexing id of c (1 to 63), or -1. */
int new_mux_id(const slcommon *c) {
  for (int id = 1; id < SL_MAX_SESSIONS; ++id)
    if (c->assoc[id] == nullptr) return id;
  return -1;
}

/* Marks s killed and every session waiting for the receive ownership. */
void kill_muxed_assocs(slsession *s) {
  slcommon *c = s->common;
  if (c == nullptr || (s->flags & SL_MUXED) == 0) return;
  c->waitstate[s->muxid] = 2;
  for (int32_t &w : c->waitstate)
    if (w == 1) w = 2;
}

/* Takes the send ownership of c for assoc: true, or false when another
** association holds it. */
bool get_send_ownership(slcommon *c, Assocctl *assoc) {
  if (c->send.owner != nullptr && c->send.owner != assoc) return false;
  c->send.owner = assoc;
  return true;
}

void relinquish_send_ownership(slcommon *c, Assocctl *assoc) {
  if (c->send.owner == assoc) c->send.owner = nullptr;
}

/* Passes the receive ownership of c on from assoc to the first waiting
** session, or to none: 0, or -27003 when assoc does not hold it. */
int wake_up_any_assoc(slcommon *c, const Assocctl *assoc) {
  if (c->recv.owner != assoc) return SL_ERR_OWNERSHIP;
  c->recv.owner = nullptr;
  for (int id = 0; id < SL_MAX_SESSIONS; ++id) {
    if (c->waitstate[id] == 1 && c->assoc[id] != nullptr) {
      c->recv.owner = c->assoc[id];
      c->waitstate[id] = 0;
      dvzOS_condSignal(&static_cast<slsession *>(c->assoc[id]->slblock)->cond);
      break;
    }
  }
  return 0;
}

/* The record of the slot sel taken out of assoc, or null. */
rscbufctl *take(Assocctl *assoc, int sel) {
  rscbufctl *buf = nullptr;
  if (bufGet(assoc, sel, &buf) != 0) return nullptr;
  return buf;
}

void free_buffer(rscbufctl *buf, bool with_area) {
  if (buf == nullptr) return;
  if (with_area && buf->buff != nullptr) asf_free(asf_pool_assoc, buf->buff);
  asf_free(asf_pool_assoc, buf);
}

/* Frees assoc's send buffer and area, expedited send buffer and byte and
** expedited receive record (its byte is the status area's). */
void free_session_buffers(Assocctl *assoc) {
  free_buffer(take(assoc, asf_buf_send), true);
  free_buffer(take(assoc, asf_sel_xsend), true);
  free_buffer(take(assoc, asf_sel_xrecv), false);
}

/* Gives assoc, joining shared's connection, its own send buffer (as long
** as shared's), one-byte expedited send buffer and expedited receive
** record. 0, or -406 with nothing left allocated or registered. */
int lend_session_buffers(Assocctl *assoc, Assocctl *shared) {
  int32_t length = shared->sndbuf != nullptr ? shared->sndbuf->lbuff : 0;
  if (length <= 0 && shared->tlblock != nullptr)
    length = static_cast<tlblock *>(shared->tlblock)->drv.bufsize;
  const auto room = static_cast<int32_t>(assoc->headroom);
  if (length <= room) return ASF_ERR_MEMORY;
  rscbufctl *rec[3] = {};
  char *send_area = nullptr;
  char *xsend_area = nullptr;
  for (rscbufctl *&r : rec)
    r = static_cast<rscbufctl *>(asf_alloc(asf_pool_assoc, sizeof(rscbufctl)));
  send_area = static_cast<char *>(asf_alloc(asf_pool_assoc, size_t(length)));
  xsend_area = static_cast<char *>(asf_alloc(asf_pool_assoc, 1));
  bool ok = rec[0] != nullptr && rec[1] != nullptr && rec[2] != nullptr && send_area != nullptr &&
            xsend_area != nullptr;
  if (ok) {
    char *status = assoc->statusarea != nullptr ? assoc->statusarea : assoc->ownstatus;
    *rec[0] = rscbufctl {send_area + room, length - room, 0, nullptr, send_area, length, room};
    *rec[1] = rscbufctl {xsend_area, 1, 0, nullptr, xsend_area, 1, 0};
    *rec[2] = rscbufctl {status + 1, 1, 0, nullptr, status + 1, 1, 0};
    ok = bufReg(assoc, asf_buf_send, rec[0]) == 0;
    if (ok && bufReg(assoc, asf_sel_xsend, rec[1]) != 0) {
      take(assoc, asf_buf_send);
      ok = false;
    }
    if (ok && bufReg(assoc, asf_sel_xrecv, rec[2]) != 0) {
      take(assoc, asf_buf_send);
      take(assoc, asf_sel_xsend);
      ok = false;
    }
  }
  if (ok) return 0;
  for (rscbufctl *r : rec)
    if (r != nullptr) asf_free(asf_pool_assoc, r);
  if (send_area != nullptr) asf_free(asf_pool_assoc, send_area);
  if (xsend_area != nullptr) asf_free(asf_pool_assoc, xsend_area);
  return ASF_ERR_MEMORY;
}

/* Takes s's association out of its shared connection: slot, queue,
** ownerships, its own buffers (the opener lends its receive buffer to
** the connection and keeps none of it) and its transport reference. */
void leave_connection(slsession *s, Assocctl *assoc, bool wake) {
  slcommon *c = s->common;
  c->assoc[s->muxid] = nullptr;
  c->waitstate[s->muxid] = 0;
  free_queue(c->queue[s->muxid]);
  c->queue[s->muxid] = nullptr;
  --c->count;
  relinquish_send_ownership(c, assoc);
  if (c->recv.prevowner == assoc) c->recv.prevowner = nullptr;
  if (wake) wake_up_any_assoc(c, assoc);
  if (c->recv.owner == assoc) c->recv.owner = nullptr;
  free_session_buffers(assoc);
  rscbufctl *rb = take(assoc, asf_buf_recv);
  if (rb != nullptr && rb != c->recv.buf) free_buffer(rb, true);
  assoc->tlblock = nullptr;
  assoc->tlsize = 0;
  assoc->tldrv = nullptr;
  assoc->tlops = nullptr;
  s->common = nullptr;
  s->muxid = 0;
  s->flags = 0;
}

/* Puts the connection's receive buffer into assoc's empty receive slot,
** so that the transport's disconnect frees it; the context forgets it. */
void hand_receive_buffer_back(slcommon *c, Assocctl *assoc) {
  if (c == nullptr || c->recv.buf == nullptr) return;
  if (assoc->rcvbuf != c->recv.buf && bufReg(assoc, asf_buf_recv, c->recv.buf) != 0)
    free_buffer(c->recv.buf, true);
  c->recv.buf = nullptr;
}

/* Disconnects the transport of a connection that s alone holds, and
** frees its shared record. Returns tlDiscon's result (0 without one). */
int close_connection(asfsvcctl *ctl, slsession *s, int flags) {
  Assocctl *assoc = assoc_of(ctl);
  hand_receive_buffer_back(s->common, assoc);
  int rc = 0;
  if (assoc->tlblock != nullptr) {
    const int32_t status = ctl->asfcode;
    rc = tlDiscon(ctl, flags);
    if (rc == 0) ctl->asfcode = status;
  }
  free_common(s->common);
  s->common = nullptr;
  return rc;
}

/* ---- Transfers within the connect budget. ---- */

/* Sets ctl's timeout to what is left of s's deadline (-1 without one):
** true, or false with -27001 when nothing is left. */
bool budget_timeout(asfsvcctl *ctl, const slsession *s) {
  if (s->deadline < 0) {
    ctl->timeout = -1;
    return true;
  }
  int64_t left = s->deadline - asf_now_ms();
  if (left <= 0) {
    fail(ctl, SL_ERR_NORESPONSE);
    return false;
  }
  ctl->timeout = left > INT_MAX ? INT_MAX : static_cast<int>(left);
  return true;
}

/* tlSend of buf within s's budget; the buffer goes back to its slot after
** any failure. 0, or -1 with the status (a wait that ran out: -27001). */
int connect_send(asfsvcctl *ctl, slsession *s, rscbufctl *buf) {
  Assocctl *assoc = assoc_of(ctl);
  const int saved = ctl->timeout;
  int rc = -1;
  if (budget_timeout(ctl, s)) {
    rc = tlSend(ctl, buf);
    if (rc != 0 && ctl->asfcode == TLI_STATUS_AGAIN) ctl->asfcode = SL_ERR_NORESPONSE;
  }
  ctl->timeout = saved;
  if (rc != 0 && assoc->sndbuf == nullptr) bufReg(assoc, asf_buf_send, buf);
  return rc;
}

/* Fills the connection's receive buffer within s's budget (the driver
** takes it from the association's slot when the context holds none).
** 0, or -1 with the status (nothing in time: -27001). */
int connect_receive(asfsvcctl *ctl, slsession *s) {
  const int saved = ctl->timeout;
  int rc = -1;
  if (budget_timeout(ctl, s)) {
    rc = tlRecv(ctl, &s->common->recv.buf);
    if (rc != 0 && ctl->asfcode == TLI_STATUS_AGAIN) ctl->asfcode = SL_ERR_NORESPONSE;
  }
  ctl->timeout = saved;
  return rc;
}

/* Fills the connection's receive buffer with the caller's timeout. */
int data_receive(asfsvcctl *ctl, slsession *s) { return tlRecv(ctl, &s->common->recv.buf); }

/* Reads the rest of the message whose header the receive context holds
** (for another session) into a record; complete, it joins the queue of
** the session its flag names, or is dropped when drop. A receive that
** fails leaves the part read in the shared record for the next call.
** 0, or -1 with the status (-406 for memory). */
int read_for_other(asfsvcctl *ctl, slsession *s, bool in_connect, bool drop) {
  slcommon *c = s->common;
  sqipci *hdr = &c->recv.hdr;
  const int32_t length = hdr->length - SL_HEADER_SIZE;
  if (c->fwdmsg == nullptr) {
    c->fwdmsg = new_queued(length);
    if (c->fwdmsg == nullptr) return fail(ctl, ASF_ERR_MEMORY);
    c->fwdid = drop ? -1 : hdr->flag;
    c->fwdhave = 0;
  }
  for (;;) {
    rscbufctl *rb = c->recv.buf;
    int32_t n = length - c->fwdhave;
    if (rb->size < n) n = rb->size;
    std::memcpy(c->fwdmsg->data + c->fwdhave, rb->p, size_t(n));
    rb->p += n;
    rb->size -= n;
    c->fwdhave += n;
    if (c->fwdhave == length) break;
    if ((in_connect ? connect_receive(ctl, s) : data_receive(ctl, s)) != 0) return -1;
  }
  slqueued *msg = c->fwdmsg;
  c->fwdmsg = nullptr;
  const int32_t id = c->fwdid;
  c->fwdid = -1;
  *hdr = sqipci {};
  if (id < 0 || id >= SL_MAX_SESSIONS || c->assoc[id] == nullptr) {
    free_queue(msg);
    return 0;
  }
  slqueued **tail = &c->queue[id];
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = msg;
  return 0;
}

/* True when the data header in hdr names a live session of c other than
** s (the data then belongs in that session's queue). */
bool for_other_session(const slsession *s, const sqipci *hdr) {
  const slcommon *c = s->common;
  return hdr->flag != s->muxid && hdr->flag < SL_MAX_SESSIONS && c->assoc[hdr->flag] != nullptr;
}

/* ---- The connect's steps. ---- */

/* The first send: header (or its text form) and as much of the request as
** the send buffer holds. */
int req_first_send(asfsvcctl *ctl, slsession *s) {
  if (ctl->asfcode != 0) {
    s->state = sl_state_failed;
    return -1;
  }
  s->state = sl_state_sending;
  Assocctl *assoc = assoc_of(ctl);
  slcommon *c = s->common;
  rscbufctl *buf = take(assoc, asf_buf_send);
  if (buf == nullptr) {
    s->state = sl_state_failed;
    return fail(ctl, SL_ERR_BUFREG);
  }
  buf->p = buf->buff + buf->p_offset;
  buf->size = 0;
  // Without headers on data the room kept for them goes to the data.
  const bool shrink = (s->flags & SL_HEADERS) == 0 && buf->p_offset >= SL_HEADER_SIZE;
  if (c->level < header_level && shrink) {
    buf->p_offset -= SL_HEADER_SIZE;
    buf->p = buf->buff + buf->p_offset;
  }
  if (c->level >= header_level) {
    if (slSQIpci(1, buf, &c->send.hdr) != 0) {
      bufReg(assoc, asf_buf_send, buf);
      s->state = sl_state_failed;
      return fail(ctl, SL_ERR_PROTOCOL);
    }
    if (shrink) buf->p_offset -= SL_HEADER_SIZE;
    if ((s->form & sl_form_text) != 0) {
      if (buf->lbuff - (buf->p - buf->buff) < text_prefix_size) {
        bufReg(assoc, asf_buf_send, buf);
        s->state = sl_state_failed;
        return fail(ctl, SL_ERR_PROTOCOL);
      }
      char raw[SL_HEADER_SIZE];
      std::memcpy(raw, buf->p, sizeof raw);
      buf->p[0] = 's';
      buf->p[1] = 'q';
      conbinto6(raw, buf->p + 2, SL_HEADER_SIZE);
      buf->size = text_prefix_size;
    }
  }
  const int32_t room = buf->lbuff - static_cast<int32_t>(buf->p - buf->buff) - buf->size;
  int32_t n = s->request->size - s->sent;
  if (n > room) n = room;
  if (n > 0) std::memcpy(buf->p + buf->size, s->request->p + s->sent, size_t(n));
  buf->size += n;
  s->sent += n;
  if (connect_send(ctl, s, buf) != 0) {
    s->state = sl_state_failed;
    return -1;
  }
  return 0;
}

/* The rest of the request, raw; then the first receive of the response. */
int req_further_sends(asfsvcctl *ctl, slsession *s) {
  if (ctl->asfcode != 0) {
    s->state = sl_state_failed;
    return -1;
  }
  Assocctl *assoc = assoc_of(ctl);
  while (s->sent < s->request->size) {
    rscbufctl *buf = take(assoc, asf_buf_send);
    if (buf == nullptr) {
      s->state = sl_state_failed;
      return fail(ctl, SL_ERR_BUFREG);
    }
    buf->p = buf->buff + buf->p_offset;
    int32_t n = s->request->size - s->sent;
    if (n > buf->lbuff - buf->p_offset) n = buf->lbuff - buf->p_offset;
    std::memcpy(buf->p, s->request->p + s->sent, size_t(n));
    buf->size = n;
    s->sent += n;
    if (connect_send(ctl, s, buf) != 0) {
      s->state = sl_state_failed;
      return -1;
    }
  }
  s->state = sl_state_reading;
  slcommon *c = s->common;
  if (!joined(s) && c->recv.buf != nullptr) {
    // A connection of its own has read nothing before its response.
    if (c->recv.buf->size > 0) return fail(ctl, SL_ERR_PROTOCOL);
    if (bufReg(assoc, asf_buf_recv, c->recv.buf) != 0) return fail(ctl, SL_ERR_BUFREG);
    c->recv.buf = nullptr;
  }
  if (c->recv.buf == nullptr || c->recv.buf->size == 0) return connect_receive(ctl, s);
  return 0;
}

/* Header types a connect response may carry. */
constexpr bool response_type(int type) {
  return type == sl_type_accept || type == sl_type_reject || type == sl_type_oldaccept ||
         type == sl_type_oldreject || type == sl_type_muxaccept || type == sl_type_muxreject;
}

/* Reads the response header (an old-protocol reply turned into one, and
** data for other sessions of a shared connection queued on the way).
** 0 with the header complete, or -1 with the status. */
int read_response_header(asfsvcctl *ctl, slsession *s) {
  slcommon *c = s->common;
  sqipci *hdr = &c->recv.hdr;
  for (;;) {
    rscbufctl *rb = c->recv.buf;
    if (joined(s) && c->fwdmsg != nullptr) {
      if (read_for_other(ctl, s, true, false) != 0) return -1;
      continue;
    }
    const int g = hdr->gathered;
    if (slSQIpci(2, rb, hdr) != 0) {
      if (resp50pci(s, hdr, g, rb) == 0) return 0;
      if (connect_receive(ctl, s) != 0) return -1;
      continue;
    }
    if (joined(s) && hdr->type == sl_type_data && for_other_session(s, hdr)) {
      if (hdr->length <= SL_HEADER_SIZE) return fail(ctl, SL_ERR_PROTOCOL);
      if (read_for_other(ctl, s, true, false) != 0) return -1;
      continue;
    }
    // Below the header level every reply is an old-protocol one. Above
    // it a length of 0 is a bad header, whatever the old-reply rules
    // would make of it.
    const bool old_protocol = c->level < header_level;
    if (!old_protocol && hdr->length == 0) return fail(ctl, SL_ERR_PROTOCOL);
    if ((old_protocol || hdr->length < old_reply_limit) && resp50pci(s, hdr, g, rb) != 0)
      return fail(ctl, SL_ERR_PROTOCOL);
    return 0;
  }
}

/* Reads the response to its end and settles the outcome. */
int req_read_response(asfsvcctl *ctl, slsession *s) {
  slcommon *c = s->common;
  if (ctl->asfcode != 0 || c->recv.buf == nullptr) {
    s->state = sl_state_failed;
    if (ctl->asfcode != SL_ERR_PROTOCOL) ctl->asfcode = SL_ERR_NORESPONSE;
    return -1;
  }
  Assocctl *assoc = assoc_of(ctl);
  sqipci *hdr = &c->recv.hdr;
  // A failed receive is -27001 unless the header or memory failed first.
  auto failed = [&](int status) {
    s->state = sl_state_failed;
    if (status != 0)
      ctl->asfcode = status;
    else if (ctl->asfcode != SL_ERR_PROTOCOL && ctl->asfcode != ASF_ERR_MEMORY)
      ctl->asfcode = SL_ERR_NORESPONSE;
    return -1;
  };
  if (read_response_header(ctl, s) != 0) return failed(0);
  const int32_t length = hdr->length;
  if (length == 0 || length > SL_MAX_RESPONSE || !response_type(hdr->type))
    return failed(SL_ERR_PROTOCOL);
  if (length < SL_HEADER_SIZE) return failed(SL_ERR_PROTOCOL);
  const int type = hdr->type;
  if ((hdr->flag & SL_FLAG_MUX) == 0) s->flags &= ~(SL_HEADERS | SL_MUXED);
  const int32_t flag = hdr->flag & 0x7f;
  if (type != sl_type_muxaccept && type != sl_type_muxreject) {
    c->srvlevel = flag;
    if (flag < c->level) c->level = flag;
  }
  const int32_t body = length - SL_HEADER_SIZE;
  auto *rec = static_cast<rscbufctl *>(asf_alloc(asf_pool_assoc, sizeof(rscbufctl)));
  char *area = body > 0 ? static_cast<char *>(asf_alloc(asf_pool_assoc, size_t(body))) : nullptr;
  if (rec == nullptr || (body > 0 && area == nullptr)) {
    if (rec != nullptr) asf_free(asf_pool_assoc, rec);
    if (area != nullptr) asf_free(asf_pool_assoc, area);
    return failed(ASF_ERR_MEMORY);
  }
  *rec = rscbufctl {area, 0, -1, nullptr, area, body, 0};
  // Without a place to deliver it the record is read all the same (the
  // connection must get past it) and freed on the way out.
  struct drop_unclaimed {
    rscbufctl *rec;
    ~drop_unclaimed() { free_buffer(rec, true); }
  } unclaimed {s->response != nullptr ? nullptr : rec};
  if (s->response != nullptr) *s->response = rec;
  for (;;) {
    rscbufctl *rb = c->recv.buf;
    int32_t n = body - rec->size;
    if (rb->size > n && (s->flags & SL_HEADERS) == 0) return failed(SL_ERR_PROTOCOL);
    if (rb->size < n) n = rb->size;
    if (n > 0) std::memcpy(rec->buff + rec->size, rb->p, size_t(n));
    rec->size += n;
    rb->p += n;
    rb->size -= n;
    if (rec->size == body) break;
    if (connect_receive(ctl, s) != 0) return failed(0);
  }
  *hdr = sqipci {};
  if (!joined(s)) {
    rscbufctl *rb = c->recv.buf;
    rb->p_offset = static_cast<int32_t>(assoc->headroom);
    if (assoc->rcvbuf != rb && bufReg(assoc, asf_buf_recv, rb) != 0) return failed(SL_ERR_BUFREG);
  }
  switch (type) {
    case sl_type_accept:
    case sl_type_oldaccept:
    case sl_type_muxaccept:
      s->state = sl_state_connected;
      return 0;
    case sl_type_muxreject:
      ctl->asfcode = SL_STATUS_MUXREJECT;
      break;
    default:
      ctl->asfcode = SL_STATUS_REJECTED;
      break;
  }
  s->state = sl_state_rejected;
  // A rejected connection of its own is closed at once; a joined
  // session's connection stays with its other sessions.
  if (!joined(s)) {
    hand_receive_buffer_back(c, assoc);
    const int32_t status = ctl->asfcode;
    int rc = tlDiscon(ctl, SL_DISC_ABORT);
    ctl->asfcode = status;
    return rc;
  }
  return 0;
}

/* Undoes a joined connect that the server refused with a multiplexed
** reject: the association leaves the connection with its buffers. */
void undo_join(slsession *s, Assocctl *assoc) {
  s->common->send.hdr = sqipci {};
  leave_connection(s, assoc, true);
}

/* Sends buf on s's connection, framed when headers are in use. 0, or -1
** with the status. */
int send_data(asfsvcctl *ctl, slsession *s, rscbufctl *buf) {
  if (buf == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  Assocctl *assoc = assoc_of(ctl);
  slcommon *c = s->common;
  if ((s->flags & SL_HEADERS) != 0) {
    c->send.hdr = sqipci {};
    c->send.hdr.length = buf->size + SL_HEADER_SIZE;
    c->send.hdr.type = sl_type_data;
    c->send.hdr.flag = (s->flags & SL_MUXED) != 0 ? static_cast<uint8_t>(s->muxid) : 0;
    if (buf->size < 0 || c->send.hdr.length > 0xffff || slSQIpci(1, buf, &c->send.hdr) != 0)
      return fail(ctl, SL_ERR_PROTOCOL);
  }
  const bool muxed = (s->flags & SL_MUXED) != 0;
  if (muxed && !get_send_ownership(c, assoc)) {
    s->state = sl_state_failed;
    return fail(ctl, SL_ERR_PROTOCOL);
  }
  int rc = tlSend(ctl, buf);
  if (rc == 0) {
    clear_first(s);
    c->send.hdr = sqipci {};
  }
  if (muxed) relinquish_send_ownership(c, assoc);
  return rc;
}

}  // namespace slsqi

using namespace slsqi;

extern "C" {

int slSQIpci(int mode, rscbufctl *buf, sqipci *hdr) {
  if (buf == nullptr || hdr == nullptr) return -1;
  if (mode == 1) {
    if (buf->p == nullptr || buf->buff == nullptr || buf->p - buf->buff < SL_HEADER_SIZE) return -1;
    buf->p -= SL_HEADER_SIZE;
    buf->size += SL_HEADER_SIZE;
    dvz_st_be_u16(static_cast<uint16_t>(hdr->length), buf->p);
    buf->p[2] = static_cast<char>(hdr->type);
    buf->p[3] = static_cast<char>(hdr->flag);
    dvz_st_be_u16(static_cast<uint16_t>(hdr->id), buf->p + 4);
    return 0;
  }
  if (mode != 2) return -1;
  if (hdr->gathered < 0 || hdr->gathered > SL_HEADER_SIZE) hdr->gathered = 0;
  if (hdr->gathered == 0 && buf->size >= SL_HEADER_SIZE) {
    std::memcpy(hdr->raw, buf->p, SL_HEADER_SIZE);
    buf->p += SL_HEADER_SIZE;
    buf->size -= SL_HEADER_SIZE;
    hdr->gathered = SL_HEADER_SIZE;
  } else {
    while (hdr->gathered < SL_HEADER_SIZE && buf->size > 0) {
      hdr->raw[hdr->gathered++] = static_cast<uint8_t>(*buf->p++);
      --buf->size;
    }
  }
  if (hdr->gathered >= 2) hdr->length = dvz_ld_be_u16(hdr->raw);
  if (hdr->gathered >= 3) hdr->type = hdr->raw[2];
  if (hdr->gathered >= 4) hdr->flag = hdr->raw[3];
  if (hdr->gathered < SL_HEADER_SIZE) return -1;
  hdr->id = dvz_ld_be_u16(hdr->raw + 4);
  return 0;
}

int resp50pci(slsession *session, sqipci *hdr, int gathered, rscbufctl *buf) {
  const int n = hdr->gathered;
  if (n < 2) return -1;
  const int form = session->oldform;
  const uint16_t L = dvz_ld_be_u16(hdr->raw);
  if (n < SL_HEADER_SIZE && !(L == 15 && form == 4)) return -1;
  int type;
  switch (form) {
    case 1:
      type = L == 15 && hdr->raw[3] == 15 ? sl_type_oldaccept : sl_type_oldreject;
      break;
    case 2:
    case 4:
      type = L == 15 ? sl_type_oldaccept : sl_type_oldreject;
      break;
    default:
      *hdr = sqipci {};
      return 0;
  }
  // Bytes of this buffer that went into the header and may go back.
  const int e = SL_HEADER_SIZE - gathered;
  int back = 0;
  if (type == sl_type_oldaccept) {
    if (form == 1) back = 2;
    if (form == 2) back = 4;
    if (form == 4) {
      buf->p = buf->buff + 2;
      buf->size = 0;
    }
  } else {
    back = L != 15 ? 6 : 4;
  }
  // Never further back than the bytes this buffer gave the header.
  if (back > e || buf->p - buf->buff < back) {
    *hdr = sqipci {};
    hdr->gathered = SL_HEADER_SIZE;
    return 0;
  }
  buf->p -= back;
  buf->size += back;
  hdr->gathered = SL_HEADER_SIZE;
  hdr->type = static_cast<uint8_t>(type);
  hdr->length = buf->size + SL_HEADER_SIZE;
  hdr->flag = 0;
  hdr->id = 0;
  return 0;
}

int slSQIinit(void) { return 0; }

int slSQIterm(void) { return 0; }

int slSQIrecvpci(void) { return 0; }

int slSQIreq(asfsvcctl *ctl, int form, tlconnreq *parms, int level, rscbufctl *request,
             rscbufctl **response, Assocctl *shared) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  Assocctl *assoc = assoc_of(ctl);
  if (request == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (s->common != nullptr) {
    // Whatever an earlier attempt on this association left goes first.
    s->state = sl_state_failed;
    slSQIdiscon(ctl, SL_DISC_ABORT, nullptr);
  }
  ctl->asfcode = 0;
  s->deadline = ctl->timeout > 0 ? asf_now_ms() + ctl->timeout : -1;
  for (;;) {
    s->state = sl_state_connect;
    clear_areas(s);
    if (dvzOS_condInit(&s->cond, "sl_session") != 0) {
      s->state = sl_state_failed;
      return fail(ctl, ASF_ERR_MEMORY);
    }
    slsession *sh = nullptr;
    int id = -1;
    if (shared != nullptr && shared != assoc && asfValidAssoc2(shared) &&
        shared->pfstate == ASF_PF_ALLOCATED && shared->slblock != nullptr) {
      sh = static_cast<slsession *>(shared->slblock);
      if (sh->state == sl_state_connected && sh->common != nullptr && (sh->flags & SL_MUXED) != 0 &&
          shared->tlblock != nullptr)
        id = new_mux_id(sh->common);
    }
    slcommon *c;
    if (id < 0) {
      c = new_common(ctl, parms);
      if (c == nullptr) {
        s->state = sl_state_failed;
        return -1;
      }
      s->common = c;
      s->muxid = 0;
      s->flags = 0;
      c->assoc[0] = assoc;
      c->level = level >= header_level ? level : 0;
      c->send.hdr.type = sl_type_connect;
      c->send.hdr.flag = static_cast<uint8_t>(c->level & 0x7f);
      if (parms != nullptr && parms->options != nullptr && parms->options->multiplex != 0) {
        s->flags = SL_HEADERS | SL_MUXED;
        c->send.hdr.flag |= SL_FLAG_MUX;
      }
      // The transport's connect gets what is left of the budget (all of
      // it, unless a multiplexed reject sent this connect on alone).
      const int saved = ctl->timeout;
      int rc = budget_timeout(ctl, s) ? tlConnect(ctl, parms) : -1;
      ctl->timeout = saved;
      if (rc != 0) {
        s->state = sl_state_failed;
        // A driver that failed without a status counts as one without a vector.
        if (ctl->asfcode == 0) ctl->asfcode = TL_STATUS_NO_VECTOR;
        return -1;
      }
    } else {
      c = sh->common;
      if (lend_session_buffers(assoc, shared) != 0) {
        s->state = sl_state_failed;
        return fail(ctl, ASF_ERR_MEMORY);
      }
      tlCSlink(shared, assoc);
      assoc->tldrv = shared->tldrv;
      assoc->tlops = shared->tlops;
      s->common = c;
      s->flags = SL_HEADERS | SL_MUXED;
      s->muxid = id;
      c->assoc[id] = assoc;
      ++c->count;
      c->send.hdr.type = sl_type_muxconnect;
      c->send.hdr.flag = static_cast<uint8_t>(id);
    }
    s->flags |= SL_OPENED;
    c->recv.owner = assoc;
    c->send.owner = nullptr;
    s->request = request;
    s->sent = 0;
    c->send.hdr.length = request->size + SL_HEADER_SIZE;
    c->send.hdr.id = 0;
    if (c->send.hdr.length > 0xffff) {
      s->state = sl_state_failed;
      return fail(ctl, SL_ERR_PROTOCOL);
    }
    s->form = id >= 0 ? sl_form_binary : (form & (sl_form_text | sl_form_binary));
    s->response = response;
    s->oldform = form & 0xff;
    slSQIreqDone(ctl);
    if (id >= 0 && ctl->asfcode == SL_STATUS_MUXREJECT) {
      undo_join(s, assoc);
      if (response != nullptr && *response != nullptr) {
        free_buffer(*response, true);
        *response = nullptr;
      }
      ctl->asfcode = 0;
      shared = nullptr;
      continue;
    }
    return ctl->asfcode != 0 ? -1 : 0;
  }
}

int slSQIreqDone(asfsvcctl *ctl) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  for (bool more = true; more;) {
    switch (s->state) {
      case sl_state_connect:
        req_first_send(ctl, s);
        break;
      case sl_state_sending:
        req_further_sends(ctl, s);
        break;
      case sl_state_reading:
        req_read_response(ctl, s);
        break;
      case sl_state_rejected:
      case sl_state_failed:
        more = false;
        break;
      case sl_state_connected:
        clear_first(s);
        clear_second(s);
        if (s->common != nullptr) s->common->recv.hdr = sqipci {};
        more = false;
        break;
      default:
        s->state = sl_state_failed;
        ctl->asfcode = SL_ERR_COMMON;
        more = false;
        break;
    }
  }
  if (ctl->asfcode == SL_STATUS_MUXREJECT) {
    clear_areas(s);
    if (s->common != nullptr) s->common->recv.hdr = sqipci {};
  }
  return ctl->asfcode != 0 ? -1 : 0;
}

int slSQIsend(asfsvcctl *ctl, rscbufctl *buf) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  if (s->state != sl_state_connected || s->common == nullptr) return fail(ctl, SL_ERR_STATE);
  return send_data(ctl, s, buf);
}

int slSQIrecv(asfsvcctl *ctl, rscbufctl **out) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  if (out != nullptr) *out = nullptr;
  if (s->state != sl_state_connected || s->common == nullptr) return fail(ctl, SL_ERR_STATE);
  Assocctl *assoc = assoc_of(ctl);
  slcommon *c = s->common;
  free_queue(s->given);
  s->given = nullptr;
  auto deliver = [&](char *p, int32_t n, char *buff, int32_t lbuff) {
    s->delivered =
        rscbufctl {p, n, -1, nullptr, buff, lbuff, static_cast<int32_t>(assoc->headroom)};
    if (out != nullptr) *out = &s->delivered;
    return 0;
  };
  auto killed = [&](int status) {
    s->state = sl_state_failed;
    kill_muxed_assocs(s);
    return fail(ctl, status);
  };
  if ((s->flags & SL_MUXED) != 0 && c->queue[s->muxid] != nullptr) {
    slqueued *q = c->queue[s->muxid];
    c->queue[s->muxid] = q->next;
    q->next = nullptr;
    s->given = q;
    return deliver(q->data, q->length, q->data, q->length);
  }
  if (!joined(s) && assoc->rcvbuf == nullptr) {
    s->state = sl_state_failed;
    return fail(ctl, SL_ERR_BUFREG);
  }
  if (c->recv.buf == nullptr) return killed(SL_ERR_OWNERSHIP);
  sqipci *hdr = &c->recv.hdr;
  for (;;) {
    rscbufctl *rb = c->recv.buf;
    if ((s->flags & SL_HEADERS) == 0) {
      if (rb->size == 0) {
        if (data_receive(ctl, s) != 0) return -1;
        continue;
      }
      char *p = rb->p;
      int32_t n = rb->size;
      rb->p += n;
      rb->size = 0;
      return deliver(p, n, rb->buff, rb->lbuff);
    }
    if (c->fwdmsg != nullptr) {
      // The rest of a message for another session, cut by a timeout.
      if (read_for_other(ctl, s, false, c->fwdid < 0) != 0) return -1;
      continue;
    }
    if (hdr->gathered < SL_HEADER_SIZE) {
      if (rb->size == 0) {
        if (data_receive(ctl, s) != 0) {
          if (ctl->asfcode != TLI_STATUS_AGAIN) kill_muxed_assocs(s);
          return -1;
        }
        continue;
      }
      slSQIpci(2, rb, hdr);
      continue;
    }
    if (hdr->length <= SL_HEADER_SIZE) return killed(SL_ERR_PROTOCOL);
    switch (hdr->type) {
      case sl_type_data: {
        if (hdr->flag != 0 && (s->flags & SL_MUXED) == 0) return killed(SL_ERR_PROTOCOL);
        if (hdr->flag != s->muxid) {
          if (!for_other_session(s, hdr)) return killed(SL_ERR_PROTOCOL);
          if (read_for_other(ctl, s, false, false) != 0) return -1;
          continue;
        }
        if (rb->size == 0) {
          if (data_receive(ctl, s) != 0) return -1;
          continue;
        }
        int32_t n = hdr->length - SL_HEADER_SIZE;
        if (rb->size < n) n = rb->size;
        char *p = rb->p;
        rb->p += n;
        rb->size -= n;
        hdr->length -= n;
        if (hdr->length == SL_HEADER_SIZE) *hdr = sqipci {};
        return deliver(p, n, rb->buff, rb->lbuff);
      }
      case sl_type_muxconnect: {
        const int queued = enque_mux_msg(ctl, s);
        if (queued < 0) return -1;
        if (queued == 0) continue;
        // No multiplexing listener takes it: refuse it.
        rscbufctl *sb = take(assoc, asf_buf_send);
        if (sb != nullptr) {
          sb->p = sb->buff + sb->p_offset;
          if (sb->lbuff - sb->p_offset >= mux_reject_length) {
            std::memset(sb->p, 0, mux_reject_length);
            dvz_st_be_u16(mux_reject_length, sb->p);
            sb->p[2] = sl_type_muxreject;
            sb->p[3] = static_cast<char>(SL_FLAG_MUX);
            sb->size = mux_reject_length;
            const int saved = ctl->timeout;
            ctl->timeout = -1;
            tlSend(ctl, sb);
            ctl->timeout = saved;
          }
          if (assoc->sndbuf == nullptr) bufReg(assoc, asf_buf_send, sb);
        }
        if (read_for_other(ctl, s, false, true) != 0) return -1;
        c->send.hdr = sqipci {};
        ctl->asfcode = 0;
        continue;
      }
      case sl_type_muxaccept:
      case sl_type_muxreject:
        // A late answer to a connect that ended before it came.
        if ((s->flags & SL_MUXED) == 0) return killed(SL_ERR_PROTOCOL);
        if (read_for_other(ctl, s, false, true) != 0) return -1;
        continue;
      default:
        return fail(ctl, SL_ERR_BADTYPE);
    }
  }
}

int slSQIdiscon(asfsvcctl *ctl, int flags, rscbufctl *last) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  Assocctl *assoc = assoc_of(ctl);
  free_queue(s->given);
  s->given = nullptr;
  purge_mux_msgs(assoc);
  if (s->state == sl_state_rejected) {
    if (s->common != nullptr && joined(s))
      leave_connection(s, assoc, true);
    else if (s->common != nullptr)
      close_connection(ctl, s, SL_DISC_ABORT);
    s->state = sl_state_closed;
    return 0;
  }
  if (s->state == sl_state_closed) return 0;
  const bool abort = (flags & ~SL_DISC_PASS) == SL_DISC_ABORT;
  // A listener, and a session between its indication and its response,
  // can only be aborted.
  const bool listening_side = s->state == sl_state_listening ||
                              (s->state >= sl_state_indication && s->state <= sl_state_responding);
  if (s->state != sl_state_connected && s->state != sl_state_failed && !(abort && listening_side))
    return fail(ctl, SL_ERR_STATE);
  if (s->state == sl_state_listening) drop_mux_listener(assoc);
  int rc = 0;
  if (abort) {
    s->state = sl_state_closed;
    if (pfCss()->established(ctl)) {
      asfsvcctl actl = *ctl;
      pfCss()->abort(&actl);
    }
  } else {
    if (s->state != sl_state_connected) return fail(ctl, ASF_ERR_BADARGS);
    const bool css = pfCss()->established(ctl) != 0;
    if (last != nullptr) {
      s->state = sl_state_releasing;
      if (css && pfCss()->send_enabled(ctl)) {
        if (pfCss()->process_out(ctl, last) != 0) {
          s->state = sl_state_failed;
          if (ctl->asfcode != TLI_STATUS_AGAIN) {
            const int32_t status = ctl->asfcode;
            asfsvcctl fctl = *ctl;
            pfCss()->free_send_buffer(&fctl, last);
            ctl->asfcode = status;
          }
          return -1;
        }
        asfsvcctl fctl = *ctl;
        pfCss()->free_send_buffer(&fctl, last);
      } else if (send_data(ctl, s, last) != 0) {
        // The final message travels under the data framing of the session.
        s->state = sl_state_failed;
        return -1;
      }
    }
    s->state = sl_state_closed;
    if (css && pfCss()->release(ctl) != 0) {
      s->state = sl_state_failed;
      return -1;
    }
  }
  slcommon *c = s->common;
  if (c != nullptr) {
    if (c->count > 1) {
      const bool was_killed = c->waitstate[s->muxid] == 2;
      leave_connection(s, assoc, !was_killed);
      ctl->asfcode = 0;
    } else {
      rc = close_connection(ctl, s, abort ? flags : flags & ~SL_DISC_PASS);
    }
  } else if (assoc->tlblock != nullptr) {
    // An accept that failed before the session had its shared record
    // leaves the association its own transport block.
    const int32_t status = ctl->asfcode;
    rc = tlDiscon(ctl, flags);
    if (rc == 0) ctl->asfcode = status;
  }
  if (dvzOS_condDestroy(&s->cond) != 0) return fail(ctl, SL_ERR_OWNERSHIP);
  return rc;
}

int slSQIresync(asfsvcctl *ctl) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  if (s->state != sl_state_connected) return fail(ctl, ASF_ERR_BADASSOC);
  if (s->muxid != 0) return 0;
  Assocctl *assoc = assoc_of(ctl);
  if (assoc->kind != asf_kind_requester || (s->flags & SL_OPENED) == 0) return -1;
  rscbufctl *x = take(assoc, asf_sel_xsend);
  if (x == nullptr) return fail(ctl, SL_ERR_BUFREG);
  x->buff[0] = interrupt_byte;
  x->p = x->buff;
  x->size = 1;
  return tlSndexpt(ctl, x);
}

int slSQIattrib(asfsvcctl *ctl, tlattr *attr) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  if (attr == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (attr->code == 2 || attr->code == 258) return 0;
  if (attr->code == 9) {
    auto *v = static_cast<slmuxattr *>(attr->value);
    if (v == nullptr) return fail(ctl, ASF_ERR_BADARGS);
    v->count = s->common != nullptr ? &s->common->count : nullptr;
    v->flags = &s->flags;
    return 0;
  }
  return tlAttrib(ctl, attr);
}

}  // extern "C"
