/*
** The protocol family's and session layer's part of a handed-over
** association: their records into the hand-over arena and back. Called
** by the connection manager's cmSave and cmRestore (asf/al/handover.cpp);
** calls the transport layer's tlSave and tlRestore (asf/tl/tl_save.cpp).
**
** The images are fixed layouts in host byte order, written and read field
** by field: the protocol family's 64 bytes, then the session's 12. A
** restored session gets a connection record of its own with the
** association in slot 0; the session of a raw transport, which never
** started, gets none, and no other session may come back unstarted.
*/
#include "pfsl_save.h"

#include <cstring>

#include "asf_arena.h"
#include "pf_internal.h"
#include "pf_records.h"
#include "sl_internal.h"
#include "sl_records.h"
#include "tl_save.h"

namespace {

/* Byte offsets of the protocol family's record. */
enum {
  pf_off_state = 0,
  pf_off_level = 4,
  pf_off_kind = 8,
  pf_off_product = 12,
  pf_off_plevel = 20,
  pf_off_protocol = 24,
  pf_off_version = 32,
  pf_off_pword = 36,
  pf_off_fmt = 40
};

/* Frees the shared record a restore made and forgets it. */
void drop_common(slsession *s) {
  slsqi::free_common(s->common);
  s->common = nullptr;
}

}  // namespace

extern "C" {

int pfSave(asfsvcctl *ctl, opblock *op) {
  pfblock *pf = pfsqi::block_of(ctl);
  if (pf == nullptr) return pfsqi::fail(ctl, ASF_ERR_BADASSOC);
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(op, PF_SAVE_SIZE, &off));
  if (p == nullptr) return pfsqi::fail(ctl, ASF_ERR_COMMON);
  ho_st32(p + pf_off_state, pf->state);
  ho_st32(p + pf_off_level, pf->level);
  ho_st32(p + pf_off_kind, pf->kind);
  std::memcpy(p + pf_off_product, pf->pairs.product, ASC_NAME_SIZE);
  ho_st32(p + pf_off_plevel, pf->pairs.level);
  std::memcpy(p + pf_off_protocol, pf->pairs.protocol, ASC_NAME_SIZE);
  ho_st32(p + pf_off_version, pf->pairs.version);
  ho_st32(p + pf_off_pword, pf->pairs.word);
  for (int i = 0; i < 6; ++i)
    ho_st32(p + pf_off_fmt + 4 * i, pf->fmt.word[i]);
  if (slSQIsave(ctl, op) != 0) return -1;
  pf->state = pf_state_saved;
  return 0;
}

int pfRestore(asfsvcctl *ctl, opblock *op) {
  if (valid_assoc_of(ctl) == nullptr) return pfsqi::fail(ctl, ASF_ERR_BADASSOC);
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(op, PF_SAVE_SIZE, &off));
  if (p == nullptr) return pfsqi::fail(ctl, ASF_ERR_COMMON);
  // Only a listening or connected block is handed over: any other state
  // could not be closed again here.
  const int32_t state = ho_ld32(p + pf_off_state);
  if (state != pf_state_listening && state != pf_state_connected)
    return pfsqi::fail(ctl, ASF_ERR_COMMON);
  ascpairs pairs {};
  std::memcpy(pairs.product, p + pf_off_product, ASC_NAME_SIZE);
  pairs.level = ho_ld32(p + pf_off_plevel);
  std::memcpy(pairs.protocol, p + pf_off_protocol, ASC_NAME_SIZE);
  pairs.version = ho_ld32(p + pf_off_version);
  pairs.word = ho_ld32(p + pf_off_pword);
  if (sqlCSalloc(ctl, 0, pairs.product, pairs.protocol) != 0) return -1;
  pfblock *pf = pfsqi::block_of(ctl);
  pf->level = ho_ld32(p + pf_off_level);
  pf->kind = ho_ld32(p + pf_off_kind);
  pf->pairs = pairs;
  for (int i = 0; i < 6; ++i)
    pf->fmt.word[i] = ho_ld32(p + pf_off_fmt + 4 * i);
  if (slSQIrestore(ctl, op) != 0) {
    pf->state = pf_state_failed;
    return -1;
  }
  pf->state = state;
  return 0;
}

int slSQIsave(asfsvcctl *ctl, opblock *op) {
  slsession *s = slsqi::session_of(ctl);
  if (s == nullptr) return -1;
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(op, SL_SAVE_SIZE, &off));
  if (p == nullptr) return slsqi::fail(ctl, SL_ERR_COMMON);
  ho_st32(p, s->state);
  ho_st32(p + 4, s->common != nullptr ? s->common->level : 0);
  ho_st32(p + 8, s->common != nullptr ? s->common->srvlevel : 0);
  if (tlSave(ctl, op) != 0) return -1;
  s->state = SL_STATE_SAVED;
  return 0;
}

int slSQIrestore(asfsvcctl *ctl, opblock *op) {
  slsession *s = slsqi::session_of(ctl);
  if (s == nullptr) return -1;
  Assocctl *assoc = assoc_of(ctl);
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(op, SL_SAVE_SIZE, &off));
  if (p == nullptr) return slsqi::fail(ctl, SL_ERR_COMMON);
  const int32_t state = ho_ld32(p);
  s->state = SL_STATE_RESTORING;
  slsqi::clear_areas(s);
  // A raw transport carries no session, and only a raw transport has a
  // session that never started; a started one is listening or connected.
  // Anything else could not be closed again.
  const pfblock *pf = pfsqi::block_of(ctl);
  const bool raw = pf != nullptr && pfsqi::raw_product(pf->pairs.product);
  if ((state == 0) != raw ||
      (state != 0 && state != sl_state_listening && state != sl_state_connected)) {
    s->state = sl_state_failed;
    return slsqi::fail(ctl, SL_ERR_COMMON);
  }
  if (state == 0) {
    // A session that never started (a raw transport): the transport alone.
    if (tlRestore(ctl, op) != 0) {
      s->state = sl_state_failed;
      return -1;
    }
    s->state = 0;
    return 0;
  }
  slcommon *c = slsqi::new_common(ctl, nullptr);
  if (c == nullptr) return -1;
  c->assoc[0] = assoc;
  c->recv.owner = assoc;
  c->send.owner = assoc;
  c->level = ho_ld32(p + 4);
  c->srvlevel = ho_ld32(p + 8);
  s->common = c;
  s->muxid = 0;
  if (dvzOS_condInit(&s->cond, "sl_session") != 0) {
    drop_common(s);
    s->state = sl_state_failed;
    return slsqi::fail(ctl, ASF_ERR_MEMORY);
  }
  if (tlRestore(ctl, op) != 0) {
    dvzOS_condDestroy(&s->cond);
    drop_common(s);
    s->state = sl_state_failed;
    return -1;
  }
  s->state = state;
  // The listen timeout is not part of the image: a restored listener
  // waits for its callers as a new one does.
  s->listen_timeout = slsqi::listen_timeout_ms();
  rscbufctl *b = slsqi::take(assoc, asf_buf_recv);
  c->recv.buf = b;
  if (b != nullptr) {
    // Nothing has been read on the restored connection yet: a receive
    // must go to the transport, not deliver the new buffer's bytes.
    b->p = b->buff;
    b->size = 0;
    bufReg(assoc, asf_buf_recv, b);
  }
  return 0;
}

int slSQIsavedDiscon(asfsvcctl *ctl) {
  slsession *s = slsqi::session_of(ctl);
  if (s == nullptr) return -1;
  if (s->state != SL_STATE_SAVED) return 0;
  Assocctl *assoc = assoc_of(ctl);
  if (s->common != nullptr) {
    if (s->common->count > 1)
      slsqi::leave_connection(s, assoc, true);
    else
      slsqi::close_connection(ctl, s, SL_DISC_ABORT);
  }
  dvzOS_condDestroy(&s->cond);
  s->state = sl_state_closed;
  return 0;
}

}  // extern "C"
