/*
** protocol_family.cpp: the SQLI protocol family, client side. For one
** candidate server entry it makes the association's protocol-family and
** session blocks, builds the connect request (text or binary form), has
** the session layer send it and read the response, decodes the response
** into the caller's request record, and afterwards routes sends,
** receives, interrupts, releases and aborts to communication support
** (through the support vector pfCss) when the association has a support context, else to the
** session layer, or straight to the transport for the products "raw" and
** "dr". After a bind response (110) the final response is read by
** pfConGetResp once the connection manager made the support context.
**
** Called by the connection manager (connect, release, abort) and the
** service call (send, receive, resync, attributes).
*/
#include "asf_al.h"
#include "pf_records.h"

#include <cstring>

#include "asf_memory.h"
#include "pf_internal.h"
#include "sl_records.h"

namespace pfsqi {

/* Sets ctl's status and returns -1. */
int fail(asfsvcctl *ctl, int32_t status) {
  ctl->asfcode = status;
  return -1;
}

/* ctl's protocol-family block, or null when the association has none. */
pfblock *block_of(const asfsvcctl *ctl) {
  Assocctl *assoc = valid_assoc_of(ctl);
  if (assoc == nullptr || assoc->pfstate != ASF_PF_ALLOCATED || assoc->pfblock == nullptr)
    return nullptr;
  return static_cast<pfblock *>(assoc->pfblock);
}

slsession *session_of(const asfsvcctl *ctl) {
  Assocctl *assoc = valid_assoc_of(ctl);
  return assoc != nullptr ? static_cast<slsession *>(assoc->slblock) : nullptr;
}

/* The support table before the glue registers its own: no association has
** a context, so there is nothing to process, release or abort. */
int no_context(const asfsvcctl *) { return 0; }
int no_message(asfsvcctl *, rscbufctl *) { return 0; }
int no_input(asfsvcctl *, rscbufctl **) { return 0; }
int no_close(asfsvcctl *) { return 0; }
constexpr pfcssops without_support = {no_context, no_context, no_context, no_context, no_message,
                                      no_input,   no_close,   no_close,   no_message};
const pfcssops *support_ops = &without_support;

/* True for the products that carry no SQLI session. */
bool raw_product(const char (&product)[ASC_NAME_SIZE]) {
  return std::strncmp(product, "raw", ASC_NAME_SIZE) == 0 ||
         std::strncmp(product, "dr", ASC_NAME_SIZE) == 0;
}

/* True for the server types that must answer with a status record. */
bool needs_response(const char (&product)[ASC_NAME_SIZE]) {
  return std::strncmp(product, "ol", ASC_NAME_SIZE) == 0 ||
         std::strncmp(product, "on", ASC_NAME_SIZE) == 0 ||
         std::strncmp(product, "se", ASC_NAME_SIZE) == 0;
}

/* What an attempt borrows from the caller's records, put back at its end
** so that they come out unchanged. */
struct saved_fields {
  int32_t userkind;
  char *user;
  char *password;
  int32_t userword;
  void *credential;
  ascpairs pairs;
  pfconkind *conkind; /* null unless the request is of type 1 */
  char *server;
  char *dbname;
};

saved_fields save_fields(ascbinreq *params, pfrequest *request) {
  saved_fields s {
      params->userkind, params->user, params->password, params->userword, params->credential,
      params->pairs,    nullptr,      nullptr,          nullptr};
  if (request != nullptr && request->type == asc_pf_conkind && request->rec != nullptr) {
    s.conkind = static_cast<pfconkind *>(request->rec);
    s.server = s.conkind->str[asc_str_server];
    s.dbname = s.conkind->str[asc_str_dbname];
  }
  return s;
}

void restore_fields(const saved_fields &s, ascbinreq *params) {
  params->userkind = s.userkind;
  params->user = s.user;
  params->password = s.password;
  params->userword = s.userword;
  params->credential = s.credential;
  params->pairs = s.pairs;
  if (s.conkind != nullptr) {
    s.conkind->str[asc_str_server] = s.server;
    s.conkind->str[asc_str_dbname] = s.dbname;
  }
}

/* Fills the defaults of the pairs from entry and puts the entry's login
** and names into the caller's records (restore_fields undoes it). */
void fill_defaults(ascbinreq *params, const saved_fields &s, NSEntry *entry) {
  ascpairs &p = params->pairs;
  if (p.product[0] == '\0') std::memcpy(p.product, entry->product, ASC_NAME_SIZE);
  if (p.level == -1) p.level = PF_DEFAULT_LEVEL;
  if (p.protocol[0] == '\0') std::memcpy(p.protocol, entry->protocol, ASC_NAME_SIZE);
  if (p.version == -1) p.version = PF_DEFAULT_VERSION;
  params->userkind = entry->loginkind;
  params->user = entry->user;
  params->password = entry->password;
  if (s.conkind != nullptr) {
    s.conkind->str[asc_str_server] = entry->servername;
    s.conkind->str[asc_str_dbname] = entry->dbpath;
  }
}

/* A new address text: text with its third "|"-separated field (the
** protocol) replaced by protocol (at most 8 characters); a text without
** two "|" is copied unchanged. The registry's text is never touched.
** Null when memory is short or text is null. */
char *address_text(const char *text, const char (&protocol)[ASC_NAME_SIZE]) {
  if (text == nullptr) return nullptr;
  const char *bar1 = std::strchr(text, '|');
  const char *bar2 = bar1 != nullptr ? std::strchr(bar1 + 1, '|') : nullptr;
  if (bar2 == nullptr) return meStrDup(asf_pool_assoc, text);
  const size_t head = static_cast<size_t>(bar2 + 1 - text);
  const char *tail = std::strchr(bar2 + 1, '|');
  if (tail == nullptr) tail = bar2 + 1 + std::strlen(bar2 + 1);
  const size_t plen = strnlen(protocol, ASC_NAME_SIZE);
  const size_t tlen = std::strlen(tail);
  auto *out = static_cast<char *>(asf_alloc(asf_pool_assoc, head + plen + tlen + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, text, head);
  std::memcpy(out + head, protocol, plen);
  std::memcpy(out + head + plen, tail, tlen + 1);
  return out;
}

/* The old-reply form of a connect kind, for the session layer. */
int old_reply_form(const pfconkind *conkind) {
  if (conkind == nullptr) return 1;
  switch (conkind->kind) {
    case asc_kind_nodb:
      return 4;
    case asc_kind_dblist:
      return 2;
    case asc_kind_connect: {
      const char *db = conkind->str[asc_str_dbname];
      return db != nullptr && db[0] != '\0' ? 1 : 4;
    }
    default:
      return 1;
  }
}

/* Frees a response record of the session layer with its area. */
void free_response(rscbufctl *rec) {
  if (rec == nullptr) return;
  if (rec->buff != nullptr) asf_free(asf_pool_assoc, rec->buff);
  asf_free(asf_pool_assoc, rec);
}

/* Reads the response rec into the request's output words, the peer
** format and level into pf, the server's process information into
** procinfo_out. 0, or -1 with the codec's status; on failure nothing
** read stays behind. *bind becomes true for a response that began with
** 110. */
int read_response(asfsvcctl *ctl, pfblock *pf, const rscbufctl *rec, asfsvcreq *req,
                  asfprocinfo *procinfo_out, bool *bind) {
  rscbufctl in = *rec;
  int32_t level = 0;
  ascbinreq *params = nullptr;
  pfrequest *response = nullptr;
  evlist_t *envlist = nullptr;
  asfprocinfo local {};
  asfprocinfo *procinfo = procinfo_out != nullptr ? procinfo_out : &local;
  int rc;
  const auto *b = reinterpret_cast<const unsigned char *>(in.p);
  const int code = in.size >= 2 ? (b[0] << 8) | b[1] : -1;
  *bind = false;
  if (code == asc_sec_start || code == asc_sec_bind) {
    *bind = code == asc_sec_bind;
    in.p += 2;
    in.size -= 2;
    rc = ascBinary(ctl, asc_mode_read, &in, &level, &params, &response, &envlist, procinfo,
                   &pf->fmt);
  } else {
    // The old protocol's reply needs an area even when it is empty.
    char none = '\0';
    if (in.p == nullptr) in.p = &none;
    rc = asc50resp(ctl, pf->kind, asc_mode_read, &in, &level, &params, &response, &envlist,
                   procinfo, &pf->fmt);
  }
  if (procinfo == &local || rc != 0) ascFreeProcinfo(procinfo);
  if (rc != 0) {
    ascFreeParams(params);
    ascFreeRequest(response);
    ascFreeEnvlist(envlist);
    return -1;
  }
  pf->level = level;
  req->word[pf_word_srvparams] = reinterpret_cast<uintptr_t>(params);
  req->word[pf_word_srvenv] = reinterpret_cast<uintptr_t>(envlist);
  req->word[pf_word_response] = reinterpret_cast<uintptr_t>(response);
  return 0;
}

/* The server's error number from a status record, 0 without one. */
int32_t server_error(const pfrequest *response) {
  if (response == nullptr || response->type != asc_pf_status || response->rec == nullptr) return 0;
  const auto *st = static_cast<const pfstatus *>(response->rec);
  return st->subkind == asc_sub_status ? st->errnum : 0;
}

/* The raw-transport connect: no session, level -1. */
int connect_raw(asfsvcctl *ctl, pfblock *pf, tlconnreq *parms, asfprocinfo *procinfo_out) {
  if (tlConnect(ctl, parms) != 0) {
    pf->state = pf_state_failed;
    return -1;
  }
  pf->state = pf_state_connected;
  pf->level = -1;
  pf->pairs.level = -1;
  std::memset(&pf->fmt, 0, sizeof pf->fmt);
  if (procinfo_out != nullptr) *procinfo_out = asfprocinfo {};
  return 0;
}

/* The SQLI connect: builds the request, has the session layer send it and
** read the response, and decodes that. 0 or -1 with the status in ctl;
** pf ends in state 20 (11 after a 110 response) or 100. */
int connect_sqli(asfsvcctl *ctl, pfblock *pf, tlconnreq *parms, asfsvcreq *req, ascbinreq *params,
                 pfrequest *request, asfprocinfo *procinfo, asfprocinfo *procinfo_out,
                 Assocctl *shared) {
  if (request != nullptr && request->type != asc_pf_conkind && request->type != asc_pf_opaque) {
    pf->state = pf_state_failed;
    return fail(ctl, ASF_ERR_BADARGS);
  }
  auto *area = static_cast<char *>(asf_alloc(asf_pool_assoc, ASC_REQUEST_BUFSIZE));
  if (area == nullptr) {
    pf->state = pf_state_failed;
    ctl->oserr = 12;
    return fail(ctl, ASF_ERR_MEMORY);
  }
  rscbufctl buf {area, ASC_REQUEST_BUFSIZE, 0, nullptr, area, ASC_REQUEST_BUFSIZE, 0};
  const pfconkind *conkind = request != nullptr && request->type == asc_pf_conkind
                                 ? static_cast<const pfconkind *>(request->rec)
                                 : nullptr;
  pf->kind = conkind != nullptr ? conkind->kind : -1;
  int form = 0;
  // An oversized request fails here, before anything is sent.
  if (ascBuildRequest(ctl, &buf, params->pairs.level, params, request,
                      word_ptr<evlist_t>(req, pf_word_envlist), procinfo, &form) != 0) {
    asf_free(asf_pool_assoc, area);
    pf->state = pf_state_failed;
    return -1;
  }
  rscbufctl *response = nullptr;
  int rc = slSQIreq(ctl, form | old_reply_form(conkind), parms, params->pairs.level, &buf,
                    &response, shared);
  asf_free(asf_pool_assoc, area);
  const int32_t status = ctl->asfcode;
  if (rc != 0 && status != SL_STATUS_REJECTED) {
    free_response(response);
    pf->state = pf_state_failed;
    if (status == TLI_ERR_CONNECT && conkind != nullptr &&
        conkind->str[asc_str_server] != nullptr && conkind->str[asc_str_server][0] != '\0')
      asf_set_errstr(ctl, conkind->str[asc_str_server]);
    return -1;
  }
  if (response == nullptr) {
    pf->state = pf_state_failed;
    if (rc == 0) return fail(ctl, ASF_ERR_PROTOCOL);
    return -1;
  }
  bool bind = false;
  ctl->asfcode = 0;
  int read = read_response(ctl, pf, response, req, procinfo_out, &bind);
  free_response(response);
  if (status == SL_STATUS_REJECTED) {
    // The server did reject: a reason that cannot be read leaves it at that.
    pf->state = pf_state_failed;
    ctl->asfcode = SL_STATUS_REJECTED;
    if (read == 0) ctl->oserr = server_error(word_ptr<pfrequest>(req, pf_word_response));
    return -1;
  }
  if (read != 0) {
    pf->state = pf_state_failed;
    return -1;
  }
  // These servers always send a status record; an accept without one
  // cannot be trusted. After a bind response it comes with the final one.
  if (!bind && needs_response(pf->pairs.product) && req->word[pf_word_response] == 0) {
    pf->state = pf_state_failed;
    return fail(ctl, PF_ERR_NOSTATUS);
  }
  pf->state = bind ? pf_state_bind : pf_state_connected;
  return 0;
}

}  // namespace pfsqi

using namespace pfsqi;

extern "C" {

void pfPutPairs(asfsvcreq *req, const ascpairs *pairs) { pfPutPairsAt(req, pf_word_pairs, pairs); }

void pfGetPairs(const asfsvcreq *req, ascpairs *pairs) { pfGetPairsAt(req, pf_word_pairs, pairs); }

void pfPutPairsAt(asfsvcreq *req, int first, const ascpairs *pairs) {
  const int32_t values[7] = {0, 0, pairs->level, 0, 0, pairs->version, pairs->word};
  for (int i = 0; i < 7; ++i) {
    uintptr_t w = 0;
    if (i == 0 || i == 1)
      std::memcpy(&w, pairs->product + 4 * i, 4);
    else if (i == 3 || i == 4)
      std::memcpy(&w, pairs->protocol + 4 * (i - 3), 4);
    else
      w = static_cast<uintptr_t>(static_cast<intptr_t>(values[i]));
    req->word[first + i] = w;
  }
}

void pfGetPairsAt(const asfsvcreq *req, int first, ascpairs *pairs) {
  const uintptr_t *w = &req->word[first];
  std::memcpy(pairs->product, &w[0], 4);
  std::memcpy(pairs->product + 4, &w[1], 4);
  pairs->level = static_cast<int32_t>(static_cast<intptr_t>(w[2]));
  std::memcpy(pairs->protocol, &w[3], 4);
  std::memcpy(pairs->protocol + 4, &w[4], 4);
  pairs->version = static_cast<int32_t>(static_cast<intptr_t>(w[5]));
  pairs->word = static_cast<int32_t>(static_cast<intptr_t>(w[6]));
}

void pfRegisterCss(const pfcssops *ops) { support_ops = ops != nullptr ? ops : &without_support; }

const pfcssops *pfCss(void) { return support_ops; }

int pfInit(void) { return slSQIinit(); }

int pfTerm(void) { return slSQIterm(); }

int pfConReq(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req, asfprocinfo *procinfo,
             asfprocinfo *procinfo_out, Assocctl *shared) {
  if (ctl == nullptr) return -1;
  ctl->asfcode = 0;
  ctl->oserr = 0;
  ctl->errstr[0] = '\0';
  if (req == nullptr || entry == nullptr || req->word[pf_word_params] == 0)
    return fail(ctl, ASF_ERR_BADARGS);
  auto *params = word_ptr<ascbinreq>(req, pf_word_params);
  auto *request = word_ptr<pfrequest>(req, pf_word_request);
  req->word[pf_word_srvparams] = 0;
  req->word[pf_word_srvenv] = 0;
  req->word[pf_word_response] = 0;
  const saved_fields saved = save_fields(params, request);
  fill_defaults(params, saved, entry);
  // Whatever an earlier attempt left on this association goes first.
  if (block_of(ctl) != nullptr) pfDiscon(ctl, SL_DISC_ABORT, nullptr);
  ctl->asfcode = 0;
  int rc = -1;
  char *addrtext = nullptr;
  ascpairs used = params->pairs;
  if (sqlCSalloc(ctl, 0, params->pairs.product, params->pairs.protocol) == 0) {
    auto *pf = static_cast<pfblock *>(static_cast<Assocctl *>(ctl->ascid)->pfblock);
    std::memset(pf, 0, sizeof *pf);
    pf->state = pf_state_connecting;
    pf->kind = -1;
    pf->pairs = params->pairs;
    addrtext = address_text(entry->addrtext, params->pairs.protocol);
    if (entry->addrtext != nullptr && addrtext == nullptr) {
      pf->state = pf_state_failed;
      ctl->oserr = 12;
      fail(ctl, ASF_ERR_MEMORY);
    } else {
      tlreqaddr addr {entry->addrkind, addrtext};
      tlconnreq parms {entry,
                       procinfo != nullptr ? procinfo->tty : nullptr,
                       &addr,
                       entry->servername,
                       entry,
                       &entry->options,
                       params->pairs.level};
      if (raw_product(params->pairs.product))
        rc = connect_raw(ctl, pf, &parms, procinfo_out);
      else
        rc = connect_sqli(ctl, pf, &parms, req, params, request, procinfo, procinfo_out, shared);
    }
    used = pf->pairs;
  }
  if (addrtext != nullptr) asf_free(asf_pool_assoc, addrtext);
  restore_fields(saved, params);
  pfPutPairs(req, &used);
  return rc;
}

int pfConGetResp(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo_out) {
  if (ctl == nullptr) return -1;
  pfblock *pf = block_of(ctl);
  if (pf == nullptr || pf->state != pf_state_bind) return fail(ctl, ASF_ERR_BADASSOC);
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (raw_product(pf->pairs.product)) {
    pf->state = pf_state_connected;
    return 0;
  }
  rscbufctl *in = nullptr;
  int rc;
  if (pfCss()->established(ctl) && pfCss()->recv_enabled(ctl))
    rc = pfCss()->process_in(ctl, &in);
  else
    rc = slSQIrecv(ctl, &in);
  if (rc != 0 || in == nullptr) {
    pf->state = pf_state_failed;
    return -1;
  }
  const auto *b = reinterpret_cast<const unsigned char *>(in->p);
  if (in->size < 4 || ((b[0] << 8) | b[1]) != asc_sec_final) {
    pf->state = pf_state_failed;
    return fail(ctl, ASF_ERR_PROTOCOL);
  }
  const bool accepted = ((b[2] << 8) | b[3]) == 0;
  rscbufctl body = *in;
  body.p += 4;
  body.size -= 4;
  // The final response replaces what the bind response delivered.
  ascFreeParams(word_ptr<ascbinreq>(req, pf_word_srvparams));
  ascFreeEnvlist(word_ptr<evlist_t>(req, pf_word_srvenv));
  ascFreeRequest(word_ptr<pfrequest>(req, pf_word_response));
  req->word[pf_word_srvparams] = 0;
  req->word[pf_word_srvenv] = 0;
  req->word[pf_word_response] = 0;
  int32_t level = 0;
  ascbinreq *params = nullptr;
  pfrequest *response = nullptr;
  evlist_t *envlist = nullptr;
  asfprocinfo local {};
  asfprocinfo *procinfo = procinfo_out != nullptr ? procinfo_out : &local;
  if (procinfo_out != nullptr) ascFreeProcinfo(procinfo_out);
  ctl->asfcode = 0;
  rc = ascBinary(ctl, asc_mode_read, &body, &level, &params, &response, &envlist, procinfo,
                 &pf->fmt);
  if (procinfo == &local || rc != 0) ascFreeProcinfo(procinfo);
  if (rc != 0) {
    ascFreeParams(params);
    ascFreeRequest(response);
    ascFreeEnvlist(envlist);
    pf->state = pf_state_failed;
    return -1;
  }
  pf->level = level;
  req->word[pf_word_srvparams] = reinterpret_cast<uintptr_t>(params);
  req->word[pf_word_srvenv] = reinterpret_cast<uintptr_t>(envlist);
  req->word[pf_word_response] = reinterpret_cast<uintptr_t>(response);
  if (!accepted) {
    pf->state = pf_state_failed;
    ctl->asfcode = SL_STATUS_REJECTED;
    ctl->oserr = server_error(response);
    return -1;
  }
  if (needs_response(pf->pairs.product) && response == nullptr) {
    pf->state = pf_state_failed;
    return fail(ctl, PF_ERR_NOSTATUS);
  }
  pf->state = pf_state_connected;
  return 0;
}

int pfDiscon(asfsvcctl *ctl, int code, asfsvcreq *req) {
  if (ctl == nullptr) return -1;
  const bool abort = (code & ~SL_DISC_PASS) == SL_DISC_ABORT;
  pfblock *pf = block_of(ctl);
  if (pf == nullptr) {
    if (abort) return 0;
    return fail(ctl, ASF_ERR_ARGUMENT);
  }
  Assocctl *assoc = valid_assoc_of(ctl);
  const int passbit = req != nullptr ? static_cast<int>(req->word[1] & SL_DISC_PASS) : 0;
  slsession *s = session_of(ctl);
  int rc = 0;
  if (raw_product(pf->pairs.product)) {
    // A raw transport: no session between this layer and the driver.
    pf->state = pf_state_closed;
    if (assoc->tlblock != nullptr) rc = tlDiscon(ctl, code | passbit);
  } else if (!abort) {
    if (pf->state == pf_state_failed) return fail(ctl, 2);
    if (pf->state != pf_state_connected) return fail(ctl, ASF_ERR_BADARGS);
    rscbufctl *last = nullptr;
    if (req != nullptr && asf_req_half(req, 2) == -1) last = word_ptr<rscbufctl>(req, 3);
    pf->state = pf_state_closed;
    rc = slSQIdiscon(ctl, code, last);
    if (rc != 0) return rc;
  } else if (pf->state != pf_state_closed) {
    pf->state = pf_state_closed;
    // A session that never began a connect has nothing to close.
    if (s != nullptr && s->state != 0) rc = slSQIdiscon(ctl, SL_DISC_ABORT | passbit, nullptr);
  }
  const int32_t status = ctl->asfcode;
  if (pf->css != nullptr) {
    // A support context the session did not close goes with the blocks.
    asfsvcctl actl = *ctl;
    pfCss()->abort(&actl);
  }
  int frc = sqlCSfree(assoc);
  if (rc != 0) {
    ctl->asfcode = status;
    return rc;
  }
  if (frc != 0) return fail(ctl, ASF_ERR_BADASSOC);
  return 0;
}

int pfSend(asfsvcctl *ctl, asfsvcreq *req) {
  if (ctl == nullptr) return -1;
  pfblock *pf = block_of(ctl);
  if (pf == nullptr || pf->state != pf_state_connected) return fail(ctl, ASF_ERR_BADASSOC);
  if (req == nullptr || asf_req_half(req, 2) != -1) return fail(ctl, ASF_ERR_BADARGS);
  auto *buf = word_ptr<rscbufctl>(req, 3);
  if (buf == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (buf->size == 0 && !pfCss()->send_blocked(ctl)) {
    // Nothing to send: the buffer goes back as the current send buffer.
    if (bufReg(valid_assoc_of(ctl), asf_buf_send, buf) != 0) return fail(ctl, SL_ERR_BUFREG);
    return 0;
  }
  if (pfCss()->established(ctl) && pfCss()->send_enabled(ctl)) {
    const int rc = pfCss()->process_out(ctl, buf);
    // After a blocked send the caller passes the same buffer again.
    if (rc != 0 && ctl->asfcode == TLI_STATUS_AGAIN) return rc;
    const int32_t status = ctl->asfcode;
    asfsvcctl fctl = *ctl;
    pfCss()->free_send_buffer(&fctl, buf);
    ctl->asfcode = status;
    return rc;
  }
  return pf->level == -1 ? tlSend(ctl, buf) : slSQIsend(ctl, buf);
}

int pfRecv(asfsvcctl *ctl, asfsvcreq *req) {
  if (ctl == nullptr) return -1;
  if (req != nullptr) {
    req->word[2] = 0;
    req->word[3] = 0;
  }
  pfblock *pf = block_of(ctl);
  if (pf == nullptr || pf->state != pf_state_connected) return fail(ctl, ASF_ERR_BADASSOC);
  if (req == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  rscbufctl *out = nullptr;
  if (pf->level == -1) {
    if (tlRecv(ctl, &out) != 0) return -1;
    if (out != nullptr && bufReg(valid_assoc_of(ctl), asf_buf_recv, out) != 0)
      return fail(ctl, SL_ERR_BUFREG);
  } else if (pfCss()->established(ctl) && pfCss()->recv_enabled(ctl)) {
    if (pfCss()->process_in(ctl, &out) != 0) return -1;
  } else if (slSQIrecv(ctl, &out) != 0) {
    return -1;
  }
  asf_req_set_half(req, 2, -1);
  req->word[3] = reinterpret_cast<uintptr_t>(out);
  return 0;
}

int pfResync(asfsvcctl *ctl) {
  if (ctl == nullptr) return -1;
  pfblock *pf = block_of(ctl);
  if (pf == nullptr || pf->state != pf_state_connected) return fail(ctl, ASF_ERR_BADASSOC);
  return slSQIresync(ctl);
}

int pfAttrib(asfsvcctl *ctl, tlattr *attr) {
  if (ctl == nullptr) return -1;
  pfblock *pf = block_of(ctl);
  if (pf == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  if (attr == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (attr->code == 2) {
    attr->value = &pf->pairs;
    return 0;
  }
  if (attr->code == 258) return 0;
  return slSQIattrib(ctl, attr);
}

}  // extern "C"
