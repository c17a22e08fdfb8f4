/*
** The network buffers a connected driver lends its association: a send
** and a receive buffer with room for the session header in front of the
** data, a one-byte expedited send buffer, and an expedited receive record
** over byte 1 of the association's status area. The network drivers call
** the set-up at connect and accept and the release at disconnect; the
** shared-memory driver has its own pair, whose send area lives in the
** segment.
**
** Set-up is all or nothing: after a failure no record or area stays
** allocated and no slot keeps one of them.
*/
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "asf_memory.h"
#include "tl_records.h"

namespace {

/* Slot selectors of the four buffers (send, receive, expedited send,
** expedited receive); the 8 bit is carried along, never tested. */
constexpr int buffer_kinds[4] = {asf_sel_send, asf_sel_recv, asf_sel_xsend, asf_sel_xrecv};

/* SPX messages: a fixed area and one byte more in front for the mark. */
constexpr int32_t spx_area_size = 534;

/* The buffer records and areas of one set-up, freed unless kept. */
struct buffer_set {
  rscbufctl *rec[4] = {};
  char *send_area = nullptr; /* own area, freed with the set */
  char *recv_area = nullptr;
  char *xsend_area = nullptr;
  bool kept = false;

  ~buffer_set() {
    if (kept) return;
    for (char *area : {send_area, recv_area, xsend_area})
      if (area != nullptr) asf_free(asf_pool_assoc, area);
    for (rscbufctl *r : rec)
      if (r != nullptr) asf_free(asf_pool_assoc, r);
  }
};

void fill(rscbufctl *rec, char *area, int32_t length, int32_t offset) {
  rec->buff = area;
  rec->lbuff = length;
  rec->p_offset = offset;
  rec->p = area != nullptr ? area + offset : nullptr;
  rec->size = length - offset;
}

/* -406 with errno into ctl; -1. */
int out_of_memory(asfsvcctl *ctl) {
  driver_error(ctl, ASF_ERR_MEMORY, errno);
  return -1;
}

/* The byte of assoc's status area that carries expedited data. */
char *expedited_byte(Assocctl *assoc) {
  char *area = assoc->statusarea != nullptr ? assoc->statusarea : assoc->ownstatus;
  return area + 1;
}

/* Allocates the four records and the one-byte expedited send area of set:
** true, or false with nothing new kept in set beyond what it frees. */
bool allocate_records(buffer_set &set) {
  for (rscbufctl *&r : set.rec) {
    r = static_cast<rscbufctl *>(asf_alloc(asf_pool_assoc, sizeof(rscbufctl)));
    if (r == nullptr) return false;
  }
  return true;
}

/* Registers the four records of set in assoc. On a refused slot takes the
** ones registered back out and returns false. */
bool register_all(Assocctl *assoc, buffer_set &set) {
  for (int i = 0; i < 4; ++i) {
    if (bufReg(assoc, buffer_kinds[i], set.rec[i]) != 0) {
      rscbufctl *back = nullptr;
      for (int j = 0; j < i; ++j)
        bufGet(assoc, buffer_kinds[j], &back);
      return false;
    }
  }
  set.kept = true;
  return true;
}

/* Takes the buffer of kind out of assoc (null when the slot is empty). */
rscbufctl *take(Assocctl *assoc, int kind) {
  rscbufctl *buf = nullptr;
  if (bufGet(assoc, kind, &buf) != 0) return nullptr;
  return buf;
}

void free_record(rscbufctl *rec, bool with_area) {
  if (rec == nullptr) return;
  if (with_area && rec->buff != nullptr) asf_free(asf_pool_assoc, rec->buff);
  asf_free(asf_pool_assoc, rec);
}

}  // namespace

extern "C" {

int net_buffer_setup(drvblock *drv, Assocctl *assoc, asfsvcctl *ctl) {
  if (!asfValidAssoc2(assoc)) {
    driver_error(ctl, ASF_ERR_BADASSOC, 0);
    return -1;
  }
  const bool spx = drv->type == tl_drv_tlispx;
  const int32_t size = spx ? spx_area_size : drv->bufsize;
  const auto room = static_cast<int32_t>(assoc->headroom) + (spx ? 1 : 0);
  if (size <= room) {
    // No room for data behind the header: nothing sensible to lend.
    driver_error(ctl, ASF_ERR_MEMORY, EINVAL);
    return -1;
  }
  buffer_set set;
  if (!allocate_records(set)) return out_of_memory(ctl);
  set.send_area = static_cast<char *>(asf_alloc(asf_pool_assoc, size_t(size)));
  if (set.send_area == nullptr) return out_of_memory(ctl);
  set.recv_area = static_cast<char *>(asf_alloc(asf_pool_assoc, size_t(size)));
  if (set.recv_area == nullptr) return out_of_memory(ctl);
  set.xsend_area = static_cast<char *>(asf_alloc(asf_pool_assoc, 1));
  if (set.xsend_area == nullptr) return out_of_memory(ctl);
  fill(set.rec[0], set.send_area, size, room);
  fill(set.rec[1], set.recv_area, size, room);
  fill(set.rec[2], set.xsend_area, 1, 0);
  fill(set.rec[3], expedited_byte(assoc), 1, 0);
  if (!register_all(assoc, set)) {
    driver_error(ctl, ASF_ERR_BADASSOC, 0);
    return -1;
  }
  return 0;
}

int shm_buffer_setup(drvblock *drv, Assocctl *assoc, asfsvcctl *ctl, char *(*lend)(void *priv)) {
  if (!asfValidAssoc2(assoc)) {
    driver_error(ctl, ASF_ERR_BADASSOC, 0);
    return -1;
  }
  const auto room = static_cast<int32_t>(assoc->headroom);
  buffer_set set;
  if (!allocate_records(set)) return out_of_memory(ctl);
  // The lent area belongs to the segment: never freed with the set.
  char *lent = lend != nullptr ? lend(drv->priv) : nullptr;
  if (lent == nullptr) return out_of_memory(ctl);
  set.xsend_area = static_cast<char *>(asf_alloc(asf_pool_assoc, 1));
  if (set.xsend_area == nullptr) return out_of_memory(ctl);
  fill(set.rec[0], lent, TL_SHM_BUFSIZE, room);
  fill(set.rec[1], nullptr, TL_SHM_BUFSIZE, room);
  fill(set.rec[2], set.xsend_area, 1, 0);
  fill(set.rec[3], expedited_byte(assoc), 1, 0);
  if (!register_all(assoc, set)) {
    driver_error(ctl, ASF_ERR_BADASSOC, 0);
    return -1;
  }
  return 0;
}

int net_deallocate(drvblock *drv, asfsvcctl *ctl) {
  auto *assoc = ctl != nullptr ? static_cast<Assocctl *>(ctl->ascid) : nullptr;
  if (asfValidAssoc2(assoc)) {
    free_record(take(assoc, asf_sel_send), true);
    free_record(take(assoc, asf_sel_recv), true);
    free_record(take(assoc, asf_sel_xsend), true);
    free_record(take(assoc, asf_sel_xrecv), false);
  }
  if (drv != nullptr && drv->priv != nullptr) {
    asf_free(asf_pool_assoc, drv->priv);
    drv->priv = nullptr;
  }
  return 0;
}

int shm_deallocate(drvblock *, asfsvcctl *ctl) {
  auto *assoc = ctl != nullptr ? static_cast<Assocctl *>(ctl->ascid) : nullptr;
  if (!asfValidAssoc2(assoc)) return 0;
  free_record(take(assoc, asf_sel_send), false);
  free_record(take(assoc, asf_sel_recv), false);
  free_record(take(assoc, asf_sel_xsend), true);
  free_record(take(assoc, asf_sel_xrecv), false);
  return 0;
}

}  // extern "C"
