/*
** The TLI driver's part of a handed-over association: the endpoint
** record's image into the hand-over arena (savetli, the save slot of the
** TLI vectors) and the endpoint rebuilt from it in the executed program
** (resttli, the rest entry of the TLI rows). Called by the transport
** layer's tlSave and tlRestore (asf/tl/tl_save.cpp).
**
** The image keeps the record's 44-byte layout in host order, written
** field by field: descriptor, option bits, the seven words of provider
** information, a 0 where a listener's queue pointer was (it means nothing
** in another program), the frame-mark byte and padding. The descriptor
** itself crosses exec: it is never close-on-exec.
*/
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "asf_arena.h"
#include "asf_memory.h"
#include "tl_records.h"
#include "tl_save.h"
#include "tli.h"
#include "tli_driver.h"

namespace {

/* Byte offsets of the image. */
enum { img_fd = 0, img_optbits = 4, img_info = 8, img_queue = 36, img_framemark = 40 };
static_assert(img_info + 7 * 4 == img_queue, "seven words of provider information");

/* Resynchronisation failures after which the restore gives up. */
constexpr int sync_failures = 32;
/* Failures after which an interrupted t_sync also counts. */
constexpr int sync_free_retries = 30;

int fail(asfsvcctl *ctl, int status, int oserr) {
  ctl->asfcode = status;
  ctl->oserr = oserr;
  return -1;
}

/* Clears close-on-exec on fd; the descriptor goes to the executed program. */
void keep_across_exec(int fd) {
  int fl = fcntl(fd, F_GETFD);
  if (fl != -1 && (fl & FD_CLOEXEC) != 0) fcntl(fd, F_SETFD, fl & ~FD_CLOEXEC);
}

/* t_sync on fd until it answers: the endpoint state, or -1 after the
** last counted failure (t_errno set). An interrupted call is retried
** without counting while the first count lasts. */
int resync(int fd) {
  int left = sync_free_retries;
  for (int counted = 0;;) {
    int state = tli_driver_calls->t_sync(fd);
    if (state != -1) return state;
    --left;
    if (t_errno == TSYSERR && errno == EINTR && left > 0) continue;
    if (++counted == sync_failures) return -1;
  }
}

}  // namespace

extern "C" {

int savetli(drvblock *drv, void *arena, asfsvcctl *ctl) {
  const auto *t = static_cast<const tlictl *>(drv->priv);
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(static_cast<opblock *>(arena), TLICTL_IMAGE_SIZE, &off));
  if (p == nullptr || t == nullptr) return fail(ctl, -1, p == nullptr ? errno : 0);
  std::memset(p, 0, TLICTL_IMAGE_SIZE);
  ho_st32(p + img_fd, t->fd);
  ho_st32(p + img_optbits, t->optbits);
  for (int i = 0; i < 7; ++i)
    ho_st32(p + img_info + 4 * i, t->info[i]);
  ho_st32(p + img_queue, 0);
  p[img_framemark] = static_cast<char>(t->framemark);
  if (t->fd >= 0) keep_across_exec(t->fd);
  return 0;
}

int resttli(drvblock *drv, void *arena, asfsvcctl *ctl) {
  int32_t off;
  auto *p = static_cast<char *>(opAlloc(static_cast<opblock *>(arena), TLICTL_IMAGE_SIZE, &off));
  if (p == nullptr) return fail(ctl, -1, errno);
  auto *t = static_cast<tlictl *>(asf_alloc(asf_pool_assoc, sizeof(tlictl)));
  if (t == nullptr) return fail(ctl, ASF_ERR_MEMORY, ENOMEM);
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (net_buffer_setup(drv, assoc, ctl) != 0) {
    asf_free(asf_pool_assoc, t);
    return -1;
  }
  t->fd = ho_ld32(p + img_fd);
  t->optbits = ho_ld32(p + img_optbits);
  for (int i = 0; i < 7; ++i)
    t->info[i] = ho_ld32(p + img_info + 4 * i);
  t->pendq = nullptr;
  t->framemark = p[img_framemark] != 0 ? 1 : 0;
  drv->priv = t;
  // Whatever fails from here frees the buffers and the record again.
  if (load_operation_vector(drv) != 0) {
    net_deallocate(drv, ctl);
    return fail(ctl, TL_STATUS_NO_VECTOR, ctl->oserr);
  }
  if (resync(t->fd) == -1) {
    const int err = t_errno;
    net_deallocate(drv, ctl);
    drv->priv = nullptr;
    ctl->oserr = err;
    return -1;
  }
  if (drv->ops.siginit != nullptr && drv->ops.siginit(assoc, drv) == 0 &&
      drv->type != tl_drv_tlispx)
    drv->flags |= DRV_SIGARMED;
  return 0;
}

}  // extern "C"
