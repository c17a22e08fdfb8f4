/*
** dvz_close_from: close every descriptor from a given one up. The kernel's
** close_range does it in one call; older kernels (ENOSYS) and sandboxes
** that refuse it get the loop up to the descriptor limit the caller read.
** Only async-signal-safe calls, for use between fork and exec.
*/
#include "fd_close.h"

#include <unistd.h>

#include <climits>

extern "C" {

void dvz_close_from(int lowfd, long hard_limit) {
  if (lowfd < 0) lowfd = 0;
  if (close_range(static_cast<unsigned int>(lowfd), ~0U, 0) == 0) return;
  long end = hard_limit > static_cast<long>(INT_MAX) ? INT_MAX : hard_limit;
  for (long fd = lowfd; fd < end; ++fd)
    close(static_cast<int>(fd));
}
}
