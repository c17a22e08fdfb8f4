/*
** The listening side of the SQLI session layer: listen, the indication
** (accept a connection and read its connect request, in the binary
** header, the "sq" text header or an old client's bare text), the
** response (accept or reject, with the old-reply prefixes below level 60)
** and the multiplexing listener. Called by the protocol family's
** listening services (pf_listen.cpp); the data receive of the connecting
** side (session_layer.cpp) feeds the multiplexing listener's queue.
**
** A multiplexed connect (header type 10) that arrives on an accepted
** connection is read whole by the receive that meets it and queued with
** a copy of its header for the association listening on "sqlmux"; that
** listener's next indication joins the new association to the connection
** under the client's multiplexing id. One thread: a listener with an
** empty queue has nothing to wait for, and its indication times out.
*/
#include <climits>
#include <cstdlib>
#include <cstring>

#include "asf_memory.h"
#include "dvz_be.h"
#include "gen_strings.h"
#include "os_env.h"
#include "sl_internal.h"
#include "sl_records.h"

namespace slsqi {

namespace {

/* The first bytes of an old client's text request (no header). */
constexpr char old_client_mark[] = "sqle";
/* A header length from this one on cannot be binary: the text header. */
constexpr int32_t text_length_mark = SL_MAX_RESPONSE + 1;
/* The accept prefixes of the old protocol, by reply form. */
constexpr char old_prefix_form1[] = {0, 15, 0, 15};
constexpr char old_prefix_form2[] = {0, 15};

slglobal *listener_list() {
  ASFGLBCTL *g = getASFGLBCTL();
  return g != nullptr ? static_cast<slglobal *>(g->muxlist) : nullptr;
}

/* The multiplexing listener record of assoc, or null. */
slglobal *listener_of(const Assocctl *assoc) {
  for (slglobal *g = listener_list(); g != nullptr; g = g->next)
    if (g->listener == assoc) return g;
  return nullptr;
}

void free_muxmsg(muxmsg *m) {
  if (m == nullptr) return;
  free_buffer(m->buf, true);
  asf_free(asf_pool_assoc, m);
}

/* A new buffer record with an area of n bytes (none when n is 0), empty.
** Null when memory is short. */
rscbufctl *new_buffer(int32_t n) {
  auto *rec = static_cast<rscbufctl *>(asf_alloc(asf_pool_assoc, sizeof(rscbufctl)));
  char *area = n > 0 ? static_cast<char *>(asf_alloc(asf_pool_assoc, size_t(n))) : nullptr;
  if (rec == nullptr || (n > 0 && area == nullptr)) {
    if (rec != nullptr) asf_free(asf_pool_assoc, rec);
    if (area != nullptr) asf_free(asf_pool_assoc, area);
    return nullptr;
  }
  *rec = rscbufctl {area, 0, -1, nullptr, area, n, 0};
  return rec;
}

/* True when the protocol field of an address text ("host|service|
** protocol") is "sqlmux". */
bool mux_address(const tlconnreq *parms) {
  if (parms == nullptr || parms->addr == nullptr || parms->addr->text == nullptr) return false;
  const char *bar = std::strchr(parms->addr->text, '|');
  if (bar != nullptr) bar = std::strchr(bar + 1, '|');
  if (bar == nullptr) return false;
  const char *protocol = bar + 1;
  const char *end = std::strchr(protocol, '|');
  const size_t n = end != nullptr ? size_t(end - protocol) : std::strlen(protocol);
  return n == 6 && std::memcmp(protocol, "sqlmux", 6) == 0;
}

/* Fills the connection's receive buffer within the listen timeout of s.
** 0, or -1 with the status (nothing in time: -27001). */
int listen_receive(asfsvcctl *ctl, slsession *s) {
  const int saved = ctl->timeout;
  ctl->timeout = s->listen_timeout;
  int rc = tlRecv(ctl, &s->common->recv.buf);
  ctl->timeout = saved;
  if (rc != 0 && ctl->asfcode == TLI_STATUS_AGAIN) ctl->asfcode = SL_ERR_NORESPONSE;
  return rc;
}

/* Takes n bytes of the incoming stream into out, receiving within the
** listen timeout as needed. 0 or -1 with the status. */
int read_stream(asfsvcctl *ctl, slsession *s, char *out, int32_t n) {
  while (n > 0) {
    rscbufctl *rb = s->common->recv.buf;
    if (rb == nullptr || rb->size == 0) {
      if (listen_receive(ctl, s) != 0) return -1;
      continue;
    }
    const int32_t k = rb->size < n ? rb->size : n;
    std::memcpy(out, rb->p, size_t(k));
    rb->p += k;
    rb->size -= k;
    out += k;
    n -= k;
  }
  return 0;
}

/* An old client's bare text request: the 6 bytes gathered and the rest of
** what it sends up to its final NUL, into a new NUL-terminated record.
** 0, or -1 with the status (-408 when no NUL comes within the longest
** request). */
int read_old_request(asfsvcctl *ctl, slsession *s, rscbufctl **request) {
  rscbufctl *rec = new_buffer(SL_MAX_RESPONSE + 1);
  if (rec == nullptr) return fail(ctl, ASF_ERR_MEMORY);
  std::memcpy(rec->buff, s->common->recv.hdr.raw, SL_HEADER_SIZE);
  rec->size = SL_HEADER_SIZE;
  for (;;) {
    rscbufctl *rb = s->common->recv.buf;
    if (rb != nullptr && rb->size > 0) {
      const int32_t k =
          rb->size < SL_MAX_RESPONSE - rec->size ? rb->size : SL_MAX_RESPONSE - rec->size;
      std::memcpy(rec->buff + rec->size, rb->p, size_t(k));
      rb->p += k;
      rb->size -= k;
      rec->size += k;
    }
    if (rec->buff[rec->size - 1] == '\0') break;
    if (rec->size >= SL_MAX_RESPONSE) {
      free_buffer(rec, true);
      return fail(ctl, ASF_ERR_PROTOCOL);
    }
    if (listen_receive(ctl, s) != 0) {
      free_buffer(rec, true);
      return -1;
    }
  }
  // The request is the text without its own terminator, terminated.
  rec->size -= 1;
  rec->buff[rec->size] = '\0';
  *request = rec;
  return 0;
}

/* Reads the connect request of a newly accepted connection of s: the
** header (binary, text or none for an old client) and the body, into a
** new NUL-terminated record. own_level is the listener's. 0, or -1 with
** the status. */
int read_request(asfsvcctl *ctl, slsession *s, int32_t own_level, rscbufctl **request) {
  slcommon *c = s->common;
  sqipci *hdr = &c->recv.hdr;
  *hdr = sqipci {};
  while (hdr->gathered < SL_HEADER_SIZE) {
    rscbufctl *rb = c->recv.buf;
    if (rb == nullptr || rb->size == 0) {
      if (listen_receive(ctl, s) != 0) return -1;
      continue;
    }
    slSQIpci(2, rb, hdr);
  }
  int32_t level_flag = hdr->flag;
  if (hdr->length >= text_length_mark && std::memcmp(hdr->raw, old_client_mark, 4) == 0) {
    // An old client: no header, its level below the header level.
    c->level = 0;
    if (read_old_request(ctl, s, request) != 0) return -1;
    *hdr = sqipci {};
    return 0;
  }
  if (hdr->length >= text_length_mark) {
    // "sq" and 8 characters of 6-bit text: 4 are here, 4 follow.
    char text[8];
    std::memcpy(text, hdr->raw + 2, 4);
    if (read_stream(ctl, s, text + 4, 4) != 0) return -1;
    char bin[SL_HEADER_SIZE];
    con6tobin(text, bin, 8);
    hdr->length = dvz_ld_be_u16(bin);
    hdr->type = static_cast<uint8_t>(bin[2]);
    hdr->flag = static_cast<uint8_t>(bin[3]);
    hdr->id = dvz_ld_be_u16(bin + 4);
    level_flag = hdr->flag;
  }
  if (hdr->type != sl_type_connect || hdr->length <= SL_HEADER_SIZE ||
      hdr->length > SL_MAX_RESPONSE)
    return fail(ctl, ASF_ERR_PROTOCOL);
  const int32_t client = level_flag & 0x7f;
  c->level = own_level < client ? own_level : client;
  if ((level_flag & SL_FLAG_MUX) != 0 && listener_list() != nullptr)
    s->flags |= SL_HEADERS | SL_MUXED;
  const int32_t body = hdr->length - SL_HEADER_SIZE;
  rscbufctl *rec = new_buffer(body + 1);
  if (rec == nullptr) return fail(ctl, ASF_ERR_MEMORY);
  if (read_stream(ctl, s, rec->buff, body) != 0) {
    free_buffer(rec, true);
    return -1;
  }
  rec->size = body;
  rec->buff[body] = '\0';
  *hdr = sqipci {};
  *request = rec;
  return 0;
}

/* The plain indication: accept the transport connection into newassoc
** (nctl's association) and read its request. */
int accept_plain(asfsvcctl *ctl, asfsvcctl *nctl, slsession *ls, slsession *ns, Assocctl *newassoc,
                 rscbufctl **request, tlpeeraddr **peer) {
  if (tlAccept(ctl, newassoc, peer) != 0) return -1;
  slcommon *c = new_common(nctl, nullptr);
  if (c == nullptr) {
    // The accepted transport goes with the failed session's abort.
    ctl->asfcode = nctl->asfcode;
    return -1;
  }
  ns->common = c;
  ns->muxid = 0;
  ns->flags = 0;
  ns->listen_timeout = ls->listen_timeout;
  c->assoc[0] = newassoc;
  c->recv.owner = newassoc;
  const int32_t own_level = ls->common != nullptr ? ls->common->level : 0;
  int rc = read_request(nctl, ns, own_level, request);
  // The connection's receive buffer lives in the association's slot too,
  // so that the transport's disconnect frees it.
  rscbufctl *rb = c->recv.buf;
  if (rb != nullptr) {
    rb->p_offset = static_cast<int32_t>(newassoc->headroom);
    if (newassoc->rcvbuf != rb && bufReg(newassoc, asf_buf_recv, rb) != 0 && rc == 0) {
      free_buffer(*request, true);
      *request = nullptr;
      nctl->asfcode = SL_ERR_BUFREG;
      rc = -1;
    }
  }
  ctl->asfcode = nctl->asfcode;
  ctl->oserr = nctl->oserr;
  return rc;
}

/* The multiplexing listener's indication: the next queued multiplexed
** connect joins newassoc to its connection. */
int accept_muxed(asfsvcctl *ctl, slsession *ls, slsession *ns, Assocctl *listener,
                 Assocctl *newassoc, rscbufctl **request) {
  slglobal *g = listener_of(listener);
  if (g == nullptr) return fail(ctl, ASF_ERR_ARGUMENT);
  muxmsg *m = g->head;
  // One thread: nothing can arrive while the listener waits.
  if (m == nullptr) return fail(ctl, SL_ERR_NORESPONSE);
  g->head = m->next;
  if (g->head == nullptr) g->tail = nullptr;
  m->next = nullptr;
  struct release_msg {
    muxmsg *m;
    ~release_msg() { free_muxmsg(m); }
  } owned {m};
  if (m->hdr.type != sl_type_muxconnect || m->hdr.length <= SL_HEADER_SIZE)
    return fail(ctl, ASF_ERR_PROTOCOL);
  Assocctl *src = m->assoc;
  slsession *ss = src != nullptr && asfValidAssoc2(src) && src->slblock != nullptr
                      ? static_cast<slsession *>(src->slblock)
                      : nullptr;
  slcommon *c = ss != nullptr ? ss->common : nullptr;
  const int id = m->hdr.flag;
  if (c == nullptr || src->tlblock == nullptr) return fail(ctl, ASF_ERR_ARGUMENT);
  if (id <= 0 || id >= SL_MAX_SESSIONS || c->assoc[id] != nullptr)
    return fail(ctl, ASF_ERR_PROTOCOL);
  if (lend_session_buffers(newassoc, src) != 0) return fail(ctl, ASF_ERR_MEMORY);
  tlCSlink(src, newassoc);
  newassoc->tldrv = src->tldrv;
  newassoc->tlops = src->tlops;
  ns->common = c;
  ns->muxid = id;
  ns->flags = SL_HEADERS | SL_MUXED;
  ns->listen_timeout = ls->listen_timeout;
  c->assoc[id] = newassoc;
  ++c->count;
  ns->state = sl_state_accepted;
  const int32_t body = m->hdr.length - SL_HEADER_SIZE;
  rscbufctl *rec = new_buffer(body + 1);
  if (rec == nullptr) return fail(ctl, ASF_ERR_MEMORY);
  std::memcpy(rec->buff, m->buf->buff, size_t(body));
  rec->size = body;
  rec->buff[body] = '\0';
  *request = rec;
  return 0;
}

/* Sends the bytes of prefix and then body on s's connection, in as many
** send buffers as they need. 0, or -1 with the status. */
int send_all(asfsvcctl *ctl, Assocctl *assoc, const char *prefix, int32_t nprefix,
             const rscbufctl *body) {
  const int32_t nbody = body != nullptr && body->p != nullptr && body->size > 0 ? body->size : 0;
  const int32_t total = nprefix + nbody;
  int32_t done = 0;
  do {
    rscbufctl *sb = take(assoc, asf_buf_send);
    if (sb == nullptr) return fail(ctl, SL_ERR_BUFREG);
    sb->p = sb->buff + sb->p_offset;
    const int32_t room = sb->lbuff - sb->p_offset;
    if (room <= 0) {
      bufReg(assoc, asf_buf_send, sb);
      return fail(ctl, SL_ERR_BUFREG);
    }
    int32_t n = 0;
    while (n < room && done < total) {
      int32_t k;
      if (done < nprefix) {
        k = nprefix - done < room - n ? nprefix - done : room - n;
        std::memcpy(sb->p + n, prefix + done, size_t(k));
      } else {
        k = total - done < room - n ? total - done : room - n;
        std::memcpy(sb->p + n, body->p + (done - nprefix), size_t(k));
      }
      n += k;
      done += k;
    }
    sb->size = n;
    if (tlSend(ctl, sb) != 0) {
      if (assoc->sndbuf == nullptr) bufReg(assoc, asf_buf_send, sb);
      return -1;
    }
  } while (done < total);
  return 0;
}

}  // namespace

/* The listen timeout: DVZ_LISTEN_TIMEOUT seconds in ms when it is set to a
** number whose product is not negative, else the default. */
int32_t listen_timeout_ms() {
  const char *text = ggetenv("DVZ_LISTEN_TIMEOUT");
  if (text == nullptr || *text == '\0') return SL_LISTEN_TIMEOUT_MS;
  char *end = nullptr;
  const long long seconds = std::strtoll(text, &end, 10);
  if (end == text || seconds < 0) return SL_LISTEN_TIMEOUT_MS;
  if (seconds > INT_MAX / 1000) return INT_MAX;
  return static_cast<int32_t>(seconds * 1000);
}

int enque_mux_msg(asfsvcctl *ctl, slsession *s) {
  slcommon *c = s->common;
  sqipci *hdr = &c->recv.hdr;
  slglobal *g = listener_list();
  const int id = hdr->flag;
  if (g == nullptr || id <= 0 || id >= SL_MAX_SESSIONS || c->assoc[id] != nullptr ||
      hdr->length <= SL_HEADER_SIZE)
    return 1;
  for (const muxmsg *q = g->head; q != nullptr; q = q->next)
    if (q->hdr.flag == id && q->buf != nullptr && q->assoc == assoc_of(ctl)) return 1;
  auto *m = static_cast<muxmsg *>(asf_alloc(asf_pool_assoc, sizeof(muxmsg)));
  const int32_t body = hdr->length - SL_HEADER_SIZE;
  rscbufctl *rec = new_buffer(body);
  if (m == nullptr || rec == nullptr) {
    if (m != nullptr) asf_free(asf_pool_assoc, m);
    free_buffer(rec, true);
    s->state = sl_state_failed;
    return fail(ctl, ASF_ERR_MEMORY);
  }
  while (rec->size < body) {
    rscbufctl *rb = c->recv.buf;
    if (rb->size == 0) {
      if (data_receive(ctl, s) != 0) {
        // Part of the message is gone: the connection is out of step.
        free_buffer(rec, true);
        asf_free(asf_pool_assoc, m);
        s->state = sl_state_failed;
        return -1;
      }
      continue;
    }
    const int32_t k = rb->size < body - rec->size ? rb->size : body - rec->size;
    std::memcpy(rec->buff + rec->size, rb->p, size_t(k));
    rb->p += k;
    rb->size -= k;
    rec->size += k;
  }
  rec->p = rec->buff;
  m->hdr = *hdr;
  m->buf = rec;
  m->assoc = assoc_of(ctl);
  if (g->tail != nullptr)
    g->tail->next = m;
  else
    g->head = m;
  g->tail = m;
  *hdr = sqipci {};
  dvzOS_condSignal(&g->cond);
  return 0;
}

void drop_mux_listener(Assocctl *assoc) {
  ASFGLBCTL *glb = getASFGLBCTL();
  if (glb == nullptr) return;
  for (auto **link = reinterpret_cast<slglobal **>(&glb->muxlist); *link != nullptr;
       link = &(*link)->next) {
    slglobal *g = *link;
    if (g->listener != assoc) continue;
    *link = g->next;
    while (g->head != nullptr) {
      muxmsg *m = g->head;
      g->head = m->next;
      free_muxmsg(m);
    }
    dvzOS_mutexDestroy(&g->lock);
    dvzOS_condDestroy(&g->cond);
    asf_free(asf_pool_assoc, g);
    return;
  }
}

void purge_mux_msgs(const Assocctl *assoc) {
  for (slglobal *g = listener_list(); g != nullptr; g = g->next) {
    muxmsg **link = &g->head;
    g->tail = nullptr;
    while (*link != nullptr) {
      muxmsg *m = *link;
      if (m->assoc == assoc) {
        *link = m->next;
        free_muxmsg(m);
      } else {
        g->tail = m;
        link = &m->next;
      }
    }
  }
}

}  // namespace slsqi

using namespace slsqi;

extern "C" {

int slSQIlisten(asfsvcctl *ctl, tlconnreq *parms, int flags, int level) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  Assocctl *assoc = assoc_of(ctl);
  if (s->common != nullptr) return fail(ctl, SL_ERR_STATE);
  if (flags != sl_listen_plain && flags != sl_listen_16 && flags != sl_listen_dynamic)
    return fail(ctl, SL_ERR_COMMON);
  clear_areas(s);
  slcommon *c = new_common(ctl, parms);
  if (c == nullptr) return -1;
  s->common = c;
  s->muxid = 0;
  s->listen_timeout = listen_timeout_ms();
  c->assoc[0] = assoc;
  c->level = level;
  s->state = sl_state_listening;
  s->flags = SL_HEADERS;
  if (!mux_address(parms)) {
    if (tlListen(ctl, parms, 0) != 0) {
      s->state = sl_state_failed;
      return -1;
    }
    return 0;
  }
  s->flags |= SL_MUXED;
  ASFGLBCTL *glb = getASFGLBCTL();
  if (glb == nullptr) {
    s->state = sl_state_failed;
    return fail(ctl, ASF_ERR_ARGUMENT);
  }
  auto *g = static_cast<slglobal *>(asf_alloc(asf_pool_assoc, sizeof(slglobal)));
  if (g == nullptr) {
    s->state = sl_state_failed;
    return fail(ctl, ASF_ERR_MEMORY);
  }
  if ((dvzOS_mutexInit(&g->lock, "slglobal_lock") | dvzOS_condInit(&g->cond, "muxcon_available")) !=
      0) {
    asf_free(asf_pool_assoc, g);
    s->state = sl_state_failed;
    return fail(ctl, ASF_ERR_ARGUMENT);
  }
  g->listener = assoc;
  auto **link = reinterpret_cast<slglobal **>(&glb->muxlist);
  while (*link != nullptr)
    link = &(*link)->next;
  *link = g;
  return 0;
}

int slSQIind(asfsvcctl *ctl, Assocctl *newassoc, rscbufctl **request, tlpeeraddr **peer) {
  if (request != nullptr) *request = nullptr;
  slsession *ls = session_of(ctl);
  if (ls == nullptr) return -1;
  if (request == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (ls->state != sl_state_listening) return fail(ctl, SL_ERR_STATE);
  asfsvcctl nctl = *ctl;
  nctl.ascid = newassoc;
  slsession *ns = session_of(&nctl);
  if (ns == nullptr) return fail(ctl, nctl.asfcode);
  if (ns->common != nullptr) return fail(ctl, SL_ERR_STATE);
  ns->state = sl_state_indication;
  clear_areas(ns);
  if (dvzOS_condInit(&ns->cond, "sl_session") != 0) {
    ns->state = sl_state_failed;
    return fail(ctl, ASF_ERR_MEMORY);
  }
  ctl->asfcode = 0;
  ns->state = sl_state_accepted;
  int rc = (ls->flags & SL_MUXED) != 0 ? accept_muxed(ctl, ls, ns, assoc_of(ctl), newassoc, request)
                                       : accept_plain(ctl, &nctl, ls, ns, newassoc, request, peer);
  if (rc != 0) {
    ns->state = sl_state_failed;
    return -1;
  }
  ns->state = sl_state_request;
  return 0;
}

int slSQIrsp(asfsvcctl *ctl, int form, int reject, rscbufctl *response) {
  slsession *s = session_of(ctl);
  if (s == nullptr) return -1;
  if (s->state != sl_state_request || s->common == nullptr) return fail(ctl, SL_ERR_STATE);
  Assocctl *assoc = assoc_of(ctl);
  slcommon *c = s->common;
  s->state = sl_state_responding;
  const int32_t nbody = response != nullptr && response->size > 0 ? response->size : 0;
  const bool muxed = s->muxid != 0;
  char prefix[2 * SL_HEADER_SIZE];
  int32_t nprefix = 0;
  if (c->level < header_level) {
    if (reject == 0 && form == 1) {
      std::memcpy(prefix, old_prefix_form1, sizeof old_prefix_form1);
      nprefix = sizeof old_prefix_form1;
    } else if (reject == 0 && form == 2) {
      std::memcpy(prefix, old_prefix_form2, sizeof old_prefix_form2);
      nprefix = sizeof old_prefix_form2;
    }
  } else {
    if (nbody + SL_HEADER_SIZE > 0xffff) {
      s->state = sl_state_failed;
      return fail(ctl, SL_ERR_PROTOCOL);
    }
    sqipci h {};
    h.length = nbody + SL_HEADER_SIZE;
    if (muxed)
      h.type = reject != 0 ? sl_type_muxreject : sl_type_muxaccept;
    else
      h.type = reject != 0 ? sl_type_reject : sl_type_accept;
    h.flag = static_cast<uint8_t>(muxed ? s->muxid : c->level & 0x7f);
    if ((s->flags & SL_HEADERS) != 0 && !muxed) h.flag |= SL_FLAG_MUX;
    // The id carries the length of this side's send buffer.
    h.id = assoc->sndbuf != nullptr ? assoc->sndbuf->lbuff & 0xffff : 0;
    rscbufctl t {prefix + SL_HEADER_SIZE, 0, 0, nullptr, prefix, sizeof prefix, SL_HEADER_SIZE};
    slSQIpci(1, &t, &h);
    nprefix = SL_HEADER_SIZE;
  }
  if (send_all(ctl, assoc, prefix, nprefix, response) != 0) {
    s->state = sl_state_failed;
    return -1;
  }
  c->recv.hdr = sqipci {};
  if (reject == 0) {
    s->state = sl_state_connected;
    return 0;
  }
  if (muxed) {
    s->state = sl_state_rejected;
    return 0;
  }
  // Give the client the time to read the reject and close first.
  const int saved = ctl->timeout;
  const int32_t status = ctl->asfcode;
  const int32_t oserr = ctl->oserr;
  ctl->timeout = saved == -1 ? SL_REJECT_LINGER_MS : saved;
  tlRecv(ctl, &c->recv.buf);
  // The client closing after the reject is what is expected: its traces
  // are not the response's outcome.
  ctl->timeout = saved;
  ctl->asfcode = status;
  ctl->oserr = oserr;
  s->state = sl_state_failed;
  return 0;
}

}  // extern "C"
