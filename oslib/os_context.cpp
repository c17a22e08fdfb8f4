/*
** The operating-system context of the client library: one record per
** process (ostcb), created on first use and never freed. It holds the
** runtime's read-failure flag, the back-end ids and the fork flag, the
** connection id, a reusable scratch buffer, copies of the character tables
** as they stood at creation, the NLS flags and the API error word.
**
** Called by the runtime (fork flag, back-end ids), the protocol trace, the
** environment (greadenv needs the context) and the comparisons (scratch
** buffer). Calls the locale-environment initialisation (chkglsinit) and the
** trace set-up (_sqdbgsetup), both of which may come back here: the new
** context must already be visible to them.
*/
#include "os_context.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "os_glsenv.h"
#include "os_trace.h"

extern "C" {

ostcb_t *ostcb = nullptr;

void osfill(ostcb_t *cb) {
  std::memset(cb, 0, sizeof *cb);
  cb->backend_ids[0] = -1;
  cb->backend_ids[1] = -1;
  cb->connection_id = -1;
  std::memcpy(cb->ctype_copy, _ixctype, sizeof cb->ctype_copy);
  std::memcpy(cb->lowmap_copy, _ix2lowmap, sizeof cb->lowmap_copy);
  std::memcpy(cb->upmap_copy, _ix2upmap, sizeof cb->upmap_copy);
}

ostcb_t *ostcb_alloc(void) {
  auto *cb = static_cast<ostcb_t *>(std::malloc(sizeof(ostcb_t)));
  if (cb == nullptr) return nullptr;
  osfill(cb);
  /* The trace set-up reads the context it is setting up for. */
  ostcb_t *previous = ostcb;
  ostcb = cb;
  (void)_sqdbgsetup(0);
  ostcb = previous;
  return cb;
}

int checkOsApi(void) { return 0; }

/* The context is stored before the locale initialisation runs: that may
** read the environment, which asks for the context again, and must find
** this one rather than make a second. */
ostcb_t *CheckOsInit(void) {
  if (ostcb != nullptr) return ostcb;
  ostcb_t *cb = ostcb_alloc();
  if (cb == nullptr) return nullptr;
  cb->api_error = checkOsApi();
  ostcb = cb;
  if (chkglsinit() != 0) return nullptr;
  return ostcb;
}

int getoserr(void) { return ostcb != nullptr ? ostcb->api_error : 0; }

void dvz_ossetconn(int id) {
  if (ostcb != nullptr) ostcb->connection_id = id;
}

int dvz_osgetconn(void) { return ostcb != nullptr ? ostcb->connection_id : 0; }

char *allocnbspace(int n) {
  if (ostcb == nullptr) return nullptr;
  if (ostcb->scratch != nullptr && ostcb->scratch_size >= n) return ostcb->scratch;
  std::free(ostcb->scratch);
  ostcb->scratch = nullptr;
  /* Grow in steps of 128 from the old size; at least one step. */
  const int64_t wanted = n > 0 ? n : 1;
  int64_t size = ostcb->scratch_size;
  if (size < wanted) size += (wanted - size + 127) / 128 * 128;
  ostcb->scratch_size = 0;
  if (size > INT32_MAX) return nullptr;
  ostcb->scratch = static_cast<char *>(std::malloc(static_cast<size_t>(size)));
  if (ostcb->scratch == nullptr) return nullptr;
  ostcb->scratch_size = static_cast<int32_t>(size);
  return ostcb->scratch;
}

void set_forkflag(int flag) {
  (void)CheckOsInit();
  if (ostcb != nullptr) ostcb->fork_flag = flag;
}

int get_forkflag(void) { return ostcb != nullptr ? ostcb->fork_flag : 0; }

int killbackend(void) {
  if (ostcb != nullptr) {
    ostcb->backend_ids[0] = -1;
    ostcb->backend_ids[1] = -1;
  }
  return 0;
}

}  // extern "C"
