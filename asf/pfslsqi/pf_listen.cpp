/*
** The listening side of the SQLI protocol family: listen on a server
** entry, take an incoming connection and decode its connect request
** (binary or text form), answer a client of level 61 or more with the
** bind response, and send the connect response (binary from level 60,
** the old-protocol reply below it). Called by the connection manager's
** listening services (cm_listen.cpp); calls the session layer's
** listening side (sl_listen.cpp), or the transport directly for the
** products "raw" and "dr"; the final response after a bind goes through
** the association's communication-support context when it has one.
*/
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"
#include "dvz_be.h"
#include "os_seams.h"
#include "pf_internal.h"
#include "pf_records.h"
#include "sl_records.h"

namespace {

using namespace pfsqi;

/* Frees an accepted peer's address record with its pair and text. */
void free_peer(tlpeeraddr *peer) {
  if (peer == nullptr) return;
  if (peer->pair != nullptr) {
    if (peer->pair->text != nullptr) asf_free(asf_pool_assoc, peer->pair->text);
    asf_free(asf_pool_assoc, peer->pair);
  }
  asf_free(asf_pool_assoc, peer);
}

/* Puts the peer's host name (the accepted address up to its first "|",
** PF_UNKNOWN_HOST when that is empty) into procinfo's host. 0 or -406. */
int set_peer_host(asfprocinfo *procinfo, const tlpeeraddr *peer) {
  const char *text = peer != nullptr && peer->pair != nullptr ? peer->pair->text : nullptr;
  size_t n = 0;
  if (text != nullptr) {
    const size_t limit = strnlen(text, TL_PEER_TEXT_SIZE);
    const void *bar = std::memchr(text, '|', limit);
    n = bar != nullptr ? size_t(static_cast<const char *>(bar) - text) : limit;
  }
  if (n == 0) {
    text = PF_UNKNOWN_HOST;
    n = sizeof PF_UNKNOWN_HOST - 1;
  }
  auto *host = static_cast<char *>(asf_alloc(asf_pool_assoc, n + 1));
  if (host == nullptr) return ASF_ERR_MEMORY;
  std::memcpy(host, text, n);
  host[n] = '\0';
  if (procinfo->host != nullptr) asf_free(asf_pool_assoc, procinfo->host);
  procinfo->host = host;
  return 0;
}

/* Reads the client's connect request rq into the records: code 100 then
** 101 is the binary form, "sq" the text form. 0, or -1 with the status
** (-408 for any other start). */
int read_request(asfsvcctl *ctl, pfblock *pf, rscbufctl *rq, int32_t *level, ascbinreq **params,
                 pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo) {
  const auto *b = reinterpret_cast<const unsigned char *>(rq->p);
  if (rq->size >= 4 && dvz_ld_be_u16(b) == asc_sec_start && dvz_ld_be_u16(b + 2) == asc_sec_level) {
    rscbufctl in = *rq;
    in.p += 2;
    in.size -= 2;
    return ascBinary(ctl, asc_mode_read, &in, level, params, request, envlist, procinfo, &pf->fmt);
  }
  if (rq->size >= 2 && b[0] == 's' && b[1] == 'q')
    return ascString(ctl, asc_mode_read, rq, level, params, request, envlist, procinfo, &pf->fmt);
  return fail(ctl, ASF_ERR_PROTOCOL);
}

/* The caller's parameters with every pair value of -1 (or an empty name)
** taken from pf. */
ascbinreq merged_params(const ascbinreq *params, const pfblock *pf) {
  ascbinreq out = params != nullptr ? *params : ascbinreq {};
  ascpairs &p = out.pairs;
  if (p.product[0] == '\0') std::memcpy(p.product, pf->pairs.product, ASC_NAME_SIZE);
  if (p.level == -1) p.level = pf->level;
  if (p.protocol[0] == '\0') std::memcpy(p.protocol, pf->pairs.protocol, ASC_NAME_SIZE);
  if (p.version == -1) p.version = pf->pairs.version;
  return out;
}

/* Writes into buf (an ASC_REQUEST_BUFSIZE area) the code, the optional
** BE16 word (when word >= 0), the binary sections of req's records at
** level, and 127. buf->size becomes the length. 0 or -1. */
int write_binary(asfsvcctl *ctl, rscbufctl *buf, int code, int word, int32_t level,
                 const asfsvcreq *req, const pfblock *pf, asfprocinfo *procinfo) {
  ascbinreq params = merged_params(word_ptr<ascbinreq>(req, pf_word_params), pf);
  ascbinreq *pp = &params;
  pfrequest *request = word_ptr<pfrequest>(req, pf_word_request);
  evlist_t *envlist = word_ptr<evlist_t>(req, pf_word_envlist);
  int32_t head = 2;
  dvz_st_be_u16(static_cast<uint16_t>(code), buf->buff);
  if (word >= 0) {
    dvz_st_be_u16(static_cast<uint16_t>(word), buf->buff + 2);
    head = 4;
  }
  rscbufctl w {buf->buff + head,
               ASC_REQUEST_BUFSIZE - head - 2,
               0,
               nullptr,
               buf->buff,
               ASC_REQUEST_BUFSIZE,
               0};
  if (ascBinary(ctl, asc_mode_write, &w, &level, &pp, &request, &envlist, procinfo, nullptr) != 0)
    return -1;
  dvz_st_be_u16(asc_sec_end, buf->buff + head + w.size);
  buf->p = buf->buff;
  buf->size = head + w.size + 2;
  return 0;
}

/* A request buffer of ASC_REQUEST_BUFSIZE bytes, or null with -406. */
char *request_area(asfsvcctl *ctl) {
  auto *area = static_cast<char *>(asf_alloc(asf_pool_assoc, ASC_REQUEST_BUFSIZE));
  if (area == nullptr) {
    ctl->oserr = 12;
    fail(ctl, ASF_ERR_MEMORY);
  }
  return area;
}

/* Sends the bytes of msg as one data message through the association's
** send buffer. 0, or -1 with the status (-25595 when they do not fit). */
int send_data(asfsvcctl *ctl, const rscbufctl *msg) {
  Assocctl *assoc = valid_assoc_of(ctl);
  rscbufctl *sb = nullptr;
  if (bufGet(assoc, asf_buf_send, &sb) != 0 || sb == nullptr) return fail(ctl, SL_ERR_BUFREG);
  sb->p = sb->buff + sb->p_offset;
  if (sb->lbuff - sb->p_offset < msg->size) {
    bufReg(assoc, asf_buf_send, sb);
    return fail(ctl, SL_ERR_PROTOCOL);
  }
  std::memcpy(sb->p, msg->p, size_t(msg->size));
  sb->size = msg->size;
  // After the handshake of a support context the reply goes through it.
  int rc = pfCss()->established(ctl) && pfCss()->send_enabled(ctl) ? pfCss()->process_out(ctl, sb)
                                                                   : slSQIsend(ctl, sb);
  if (assoc->sndbuf == nullptr) bufReg(assoc, asf_buf_send, sb);
  return rc;
}

/* Closes the session after the pause that lets the client read the
** answer that ends it. */
void pause_and_abort(asfsvcctl *ctl) {
  os_clock->sleep(PF_DBLIST_PAUSE);
  const int32_t status = ctl->asfcode;
  slSQIdiscon(ctl, SL_DISC_ABORT, nullptr);
  ctl->asfcode = status;
}

}  // namespace

extern "C" {

int pfListen(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req) {
  if (ctl == nullptr) return -1;
  ctl->asfcode = 0;
  ctl->oserr = 0;
  if (entry == nullptr || req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  ascpairs pairs {};
  pfGetPairsAt(req, pf_word_lsnpairs, &pairs);
  if (pairs.product[0] == '\0') std::memcpy(pairs.product, entry->product, ASC_NAME_SIZE);
  if (pairs.level == -1) pairs.level = PF_DEFAULT_LEVEL;
  if (pairs.protocol[0] == '\0') std::memcpy(pairs.protocol, entry->protocol, ASC_NAME_SIZE);
  if (pairs.version == -1) pairs.version = PF_DEFAULT_VERSION;
  pfPutPairsAt(req, pf_word_lsnpairs, &pairs);
  // Whatever an earlier use of this association left goes first.
  if (block_of(ctl) != nullptr) pfDiscon(ctl, SL_DISC_ABORT, nullptr);
  ctl->asfcode = 0;
  if (sqlCSalloc(ctl, 0, pairs.product, pairs.protocol) != 0) return -1;
  auto *pf = static_cast<pfblock *>(valid_assoc_of(ctl)->pfblock);
  std::memset(pf, 0, sizeof *pf);
  pf->kind = -1;
  const auto flags = static_cast<int>(req->word[pf_word_lsnflags]);
  if (flags != sl_listen_plain && flags != sl_listen_16 && flags != sl_listen_dynamic) {
    pf->state = pf_state_failed;
    return fail(ctl, ASF_ERR_COMMON);
  }
  pf->state = pf_state_listening;
  pf->pairs = pairs;
  pf->level = pairs.level;
  char *addrtext = address_text(entry->addrtext, pairs.protocol);
  if (entry->addrtext != nullptr && addrtext == nullptr) {
    pf->state = pf_state_failed;
    ctl->oserr = 12;
    return fail(ctl, ASF_ERR_MEMORY);
  }
  tlreqaddr addr {entry->addrkind, addrtext};
  tlconnreq parms {entry, nullptr, &addr, entry->servername, entry, &entry->options, pairs.level};
  int rc;
  if (raw_product(pairs.product)) {
    pf->level = -1;
    parms.level = -1;
    rc = tlListen(ctl, &parms, 0);
  } else {
    rc = slSQIlisten(ctl, &parms, flags, pairs.level);
  }
  if (addrtext != nullptr) asf_free(asf_pool_assoc, addrtext);
  if (rc != 0) pf->state = pf_state_failed;
  return rc;
}

int pfConInd(asfsvcctl *ctl, Assocctl *newassoc, asfsvcreq *req, asfprocinfo *procinfo_out) {
  if (ctl == nullptr) return -1;
  ctl->asfcode = 0;
  ctl->oserr = 0;
  pfblock *lpf = block_of(ctl);
  if (lpf == nullptr || lpf->state != pf_state_listening) return fail(ctl, ASF_ERR_BADASSOC);
  if (req == nullptr || !asfValidAssoc(newassoc)) return fail(ctl, ASF_ERR_BADARGS);
  req->word[pf_word_cliparams] = 0;
  req->word[pf_word_clienv] = 0;
  req->word[pf_word_clireq] = 0;
  asfsvcctl nctl = *ctl;
  nctl.ascid = newassoc;
  if (sqlCSalloc(&nctl, 0, lpf->pairs.product, lpf->pairs.protocol) != 0) {
    ctl->oserr = nctl.oserr;
    return fail(ctl, nctl.asfcode);
  }
  auto *pf = static_cast<pfblock *>(newassoc->pfblock);
  *pf = *lpf;
  pf->state = pf_state_indication;
  asfprocinfo local {};
  asfprocinfo *procinfo = procinfo_out != nullptr ? procinfo_out : &local;
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  evlist_t *envlist = nullptr;
  tlpeeraddr *peer = nullptr;
  int32_t level = -1;
  int rc;
  if (raw_product(lpf->pairs.product)) {
    rc = tlAccept(ctl, newassoc, &peer);
    if (rc == 0) {
      params = static_cast<ascbinreq *>(asf_alloc(asf_pool_assoc, sizeof(ascbinreq)));
      if (params == nullptr) {
        ctl->oserr = 12;
        rc = fail(ctl, ASF_ERR_MEMORY);
      } else {
        *params = ascbinreq {};
        params->pairs = lpf->pairs;
        params->pairs.level = -1;
      }
    }
  } else {
    rscbufctl *rq = nullptr;
    rc = slSQIind(ctl, newassoc, &rq, &peer);
    if (rc == 0) {
      rc = read_request(ctl, pf, rq, &level, &params, &request, &envlist, procinfo);
      const auto *s = static_cast<const slsession *>(newassoc->slblock);
      pf->level = s->common != nullptr ? s->common->level : 0;
    }
    free_response(rq);
  }
  if (rc == 0 && set_peer_host(procinfo, peer) != 0) rc = fail(ctl, ASF_ERR_MEMORY);
  free_peer(peer);
  if (procinfo == &local) ascFreeProcinfo(&local);
  if (rc != 0) {
    ascFreeParams(params);
    ascFreeRequest(request);
    ascFreeEnvlist(envlist);
    if (procinfo_out != nullptr) ascFreeProcinfo(procinfo_out);
    pf->state = pf_state_failed;
    return -1;
  }
  pfPutPairsAt(req, pf_word_lsnpairs, &params->pairs);
  req->word[pf_word_cliparams] = reinterpret_cast<uintptr_t>(params);
  req->word[pf_word_clienv] = reinterpret_cast<uintptr_t>(envlist);
  req->word[pf_word_clireq] = reinterpret_cast<uintptr_t>(request);
  pf->kind = request != nullptr && request->type == asc_pf_conkind && request->rec != nullptr
                 ? static_cast<const pfconkind *>(request->rec)->kind
                 : -1;
  pf->state = params->pairs.level >= PF_BIND_LEVEL ? pf_state_ind_bindable : pf_state_ind_read;
  return 0;
}

int pfConBind(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo) {
  if (ctl == nullptr) return -1;
  pfblock *pf = block_of(ctl);
  if (pf == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  if (pf->state == pf_state_ind_read) return fail(ctl, ASF_ERR_LISTENCODE);
  if (pf->state != pf_state_ind_bindable) return fail(ctl, ASF_ERR_BADASSOC);
  if (raw_product(pf->pairs.product)) {
    pf->state = pf_state_connected;
    return 0;
  }
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  char *area = request_area(ctl);
  if (area == nullptr) {
    pf->state = pf_state_failed;
    return -1;
  }
  rscbufctl buf {area, 0, 0, nullptr, area, ASC_REQUEST_BUFSIZE, 0};
  int rc = write_binary(ctl, &buf, asc_sec_bind, -1, pf->level, req, pf, procinfo);
  if (rc == 0) {
    pf->state = pf_state_binding;
    rc = slSQIrsp(ctl, 1, 0, &buf);
  }
  asf_free(asf_pool_assoc, area);
  pf->state = rc == 0 ? pf_state_bound : pf_state_failed;
  return rc;
}

int pfConRes(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo) {
  if (ctl == nullptr) return -1;
  pfblock *pf = block_of(ctl);
  if (pf == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  if (pf->state != pf_state_ind_read && pf->state != pf_state_ind_bindable &&
      pf->state != pf_state_bound)
    return fail(ctl, ASF_ERR_BADASSOC);
  if (raw_product(pf->pairs.product)) {
    pf->state = pf_state_connected;
    return 0;
  }
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  const auto kind = static_cast<int32_t>(req->word[pf_word_rspkind]);
  const bool reject = kind != 0;
  const bool after_bind = pf->state == pf_state_bound;
  char *area = request_area(ctl);
  if (area == nullptr) {
    pf->state = pf_state_failed;
    return -1;
  }
  rscbufctl buf {area, ASC_REQUEST_BUFSIZE, 0, nullptr, area, ASC_REQUEST_BUFSIZE, 0};
  int form = 1;
  int rc;
  const bool old_form = pf->level < 60 && !after_bind;
  if (old_form) {
    int32_t level = pf->level;
    ascbinreq params = merged_params(word_ptr<ascbinreq>(req, pf_word_params), pf);
    ascbinreq *pp = &params;
    pfrequest *request = word_ptr<pfrequest>(req, pf_word_request);
    evlist_t *envlist = word_ptr<evlist_t>(req, pf_word_envlist);
    rc = asc50resp(ctl, pf->kind, asc_mode_write, &buf, &level, &pp, &request, &envlist, procinfo,
                   &pf->fmt);
    const auto *st = request != nullptr && request->type == asc_pf_status
                         ? static_cast<const pfstatus *>(request->rec)
                         : nullptr;
    form = st != nullptr && st->subkind == asc_sub_status && pf->kind != asc_kind_nodb &&
                   pf->kind != asc_kind_dblist
               ? 1
               : 2;
  } else if (after_bind) {
    rc = write_binary(ctl, &buf, asc_sec_final, kind == PF_RESPONSE_REJECT ? 1 : 0, pf->level, req,
                      pf, procinfo);
  } else {
    rc = write_binary(ctl, &buf, asc_sec_start, -1, pf->level, req, pf, procinfo);
  }
  bool close_after = false;
  if (rc == 0 && !after_bind) {
    // A database list ends the session: it goes out as an accept.
    const bool dblist = old_form && pf->kind == asc_kind_dblist && kind == PF_RESPONSE_REJECT;
    pf->state = pf_state_responding;
    rc = slSQIrsp(ctl, form, dblist ? 0 : reject, &buf);
    close_after = rc == 0 && dblist;
  } else if (rc == 0) {
    pf->state = pf_state_final_sent;
    rc = send_data(ctl, &buf);
    close_after = rc == 0 && kind == PF_RESPONSE_REJECT;
  }
  asf_free(asf_pool_assoc, area);
  if (close_after) pause_and_abort(ctl);
  pf->state = rc == 0 && kind == 0 ? pf_state_connected : pf_state_failed;
  return rc;
}

}  // extern "C"
