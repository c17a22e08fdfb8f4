/*
** The transport layer's part of a handed-over association: the transport
** block into the hand-over arena (`tlsave`, 28 bytes) followed by the
** driver's image, and back in the executed program. Called by the session
** layer's save and restore (asf/pfslsqi/pfsl_save.cpp); calls the driver
** through its save slot and the switch table's rest entry.
**
** The image is host byte order, written and read field by field. The
** protocol index read back must name a row of the table in force.
*/
#include "tl_save.h"

#include <cerrno>
#include <cstring>

#include "asf_arena.h"
#include "tl_records.h"

namespace {

int32_t ld32(const char *p, int word) { return ho_ld32(p + 4 * word); }
void st32(char *p, int word, int32_t v) { ho_st32(p + 4 * word, v); }

/* Word numbers of tlsave. */
enum { ts_flags, ts_state, ts_protinx, ts_drvflags, ts_drvtype, ts_bufsize, ts_haspriv, ts_words };
static_assert(ts_words * 4 == TL_SAVE_SIZE, "tlsave is seven words");

int fail(asfsvcctl *ctl, int status, int oserr) {
  ctl->asfcode = status;
  ctl->oserr = oserr;
  return -1;
}

/* The transport block of ctl's association, or null with -25546. */
tlblock *transport_of(asfsvcctl *ctl) {
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc2(assoc) || assoc->tlblock == nullptr) {
    ctl->asfcode = TL_ERR_NO_ASSOC;
    return nullptr;
  }
  return static_cast<tlblock *>(assoc->tlblock);
}

/* The row of index inx of the table in force, or null. */
const tlnetsw *row_at(int32_t inx) {
  if (tlprototab == nullptr) get_protocol_tab(&tlprototab);
  if (inx < 0) return nullptr;
  for (int32_t i = 0; tlprototab[i].name != nullptr; ++i)
    if (i == inx) return &tlprototab[i];
  return nullptr;
}

}  // namespace

extern "C" {

int tlSave(asfsvcctl *ctl, opblock *op) {
  tlblock *tb = transport_of(ctl);
  if (tb == nullptr) return -1;
  drvblock *drv = &tb->drv;
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(op, TL_SAVE_SIZE, &off));
  if (p == nullptr) return fail(ctl, -1, errno);
  st32(p, ts_flags, static_cast<int32_t>(tb->flags));
  st32(p, ts_state, static_cast<int32_t>(tb->state));
  st32(p, ts_protinx, tb->protinx);
  st32(p, ts_drvflags, static_cast<int32_t>(drv->flags));
  st32(p, ts_drvtype, drv->type);
  st32(p, ts_bufsize, drv->bufsize);
  st32(p, ts_haspriv, drv->priv != nullptr ? 1 : 0);
  if (drv->priv != nullptr) {
    if (drv->ops.save == nullptr) return fail(ctl, TL_STATUS_NO_VECTOR, 0);
    if (drv->ops.save(drv, op, ctl) != 0) {
      ctl->asfcode = -1;
      return -1;
    }
  }
  tb->state = tl_state_saved;
  return 0;
}

int tlRestore(asfsvcctl *ctl, opblock *op) {
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(op, TL_SAVE_SIZE, &off));
  if (p == nullptr) return fail(ctl, -1, errno);
  const tlnetsw *row = row_at(ld32(p, ts_protinx));
  if (row == nullptr) return fail(ctl, TL_STATUS_NO_PROTOCOL, 0);
  if (tlCSalloc(ctl) != 0) return -1;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  auto *tb = static_cast<tlblock *>(assoc->tlblock);
  drvblock *drv = &tb->drv;
  tb->state = tl_state_restoring;
  tb->flags = static_cast<uint32_t>(ld32(p, ts_flags));
  tb->protinx = ld32(p, ts_protinx);
  drv->flags = static_cast<uint32_t>(ld32(p, ts_drvflags));
  drv->type = ld32(p, ts_drvtype);
  drv->bufsize = ld32(p, ts_bufsize);
  drv->bufsize2 = drv->bufsize;
  tb->state = static_cast<uint32_t>(ld32(p, ts_state));
  drv->protname = row->name;
  drv->device = row->device;
  if (ld32(p, ts_haspriv) == 0) return 0;
  int rc = row->rest != nullptr ? row->rest(drv, op, ctl) : fail(ctl, TL_STATUS_NO_VECTOR, 0);
  if (rc != 0) {
    tlCSfree(assoc);
    return -1;
  }
  assoc->tldrv = drv;
  assoc->tlops = &drv->ops;
  return 0;
}

}  // extern "C"
