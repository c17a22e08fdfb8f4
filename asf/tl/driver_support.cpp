/*
** Driver support of the transport layer: the routines every transport
** driver shares (the TLI, pipe and shared-memory drivers call them): the
** poll wait with a time limit, the blocking switch, the failure report,
** the local-host test and small user and string helpers (among them the
** at-sign search of the name service's database-at-server names).
**
** The poll wait measures its limit on a monotonic clock, so that neither
** a change of the wall clock nor any number of interrupting signals (the
** drivers' signal handlers do not restart calls) stretches it. TLI
** endpoints are asked through the platform's TLI layer first: a finished
** connect shows as writable, and a held event does not show on the socket.
*/
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "gl_host.h"
#include "gl_locale.h"
#include "gl_strings.h"
#include "os_context.h"
#include "os_glsenv.h"
#include "os_stored.h"
#include "os_wrappers.h"
#include "tl_records.h"
#include "tli.h"

namespace {

/* Milliseconds of CLOCK_MONOTONIC into *out: 0, or -1 (errno set). */
int system_now_ms(int64_t *out) {
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return -1;
  *out = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  return 0;
}

/* Poll events of each kind, indexed by kind. */
constexpr short poll_kinds[] = {
    0, POLLIN, POLLOUT, POLLIN | POLLPRI | POLLOUT, POLLIN | POLLPRI, POLLPRI | POLLOUT,
};
constexpr int poll_kind_count = sizeof poll_kinds / sizeof poll_kinds[0];

/* The largest wait one poll takes, so that a long limit fits its int. */
constexpr int64_t max_poll_ms = 1 << 30;

}  // namespace

const asf_tl_clock_seam asf_tl_system_clock = {system_now_ms};
const asf_tl_clock_seam *asf_tl_clock = &asf_tl_system_clock;

int64_t asf_now_ms() {
  int64_t now = 0;
  if (asf_tl_clock->now_ms(&now) != 0) return 0;
  return now;
}

extern "C" {

int sysv_select_poll(int fd, int seconds, int milliseconds, int kind) {
  if (seconds == 0 && milliseconds == 0) return 0;
  if (kind < 1 || kind >= poll_kind_count) {
    errno = EINVAL;
    return -1;
  }
  const int64_t limit = seconds != 0 ? static_cast<int64_t>(seconds) * 1000 : milliseconds;
  const bool endless = limit < 0;
  int64_t start = 0;
  if (asf_tl_clock->now_ms(&start) != 0) return -1;

  int asked = tli_poll_events(fd, poll_kinds[kind]);
  if ((asked & TLI_POLL_READY) != 0) return 0;

  struct pollfd p;
  p.fd = fd;
  p.events = static_cast<short>(asked);
  int64_t left = limit;
  for (;;) {
    errno = 0;
    p.revents = 0;
    int timeout_ms = endless ? -1 : static_cast<int>(left < max_poll_ms ? left : max_poll_ms);
    int rc = poll(&p, 1, timeout_ms);
    if (rc > 0) return 0;
    if (rc == 0) {
      if (endless || left <= max_poll_ms) return -1;
    } else if (errno != EINTR) {
      return -1;
    }
    if (endless) continue;
    int64_t now = 0;
    if (asf_tl_clock->now_ms(&now) != 0) return -1;
    // Both readings are cut to whole milliseconds: count one less elapsed,
    // so that the wait never ends before the limit.
    left = limit - (now - start - 1);
    if (left <= 0) {
      errno = 0;
      return -1;
    }
  }
}

int do_non_blocking(drvblock *drv, int fd, asfsvcctl *ctl) {
  int fl = fcntl(fd, F_GETFL);
  if (fl == -1 || fcntl(fd, F_SETFL, fl | O_NDELAY) == -1) {
    driver_error(ctl, ASF_ERR_SYSCALL, errno);
    return -1;
  }
  drv->savedfl = static_cast<uint32_t>(fl);
  drv->flags |= DRV_NONBLOCKING;
  return 0;
}

int do_blocking(drvblock *drv, int fd, asfsvcctl *ctl) {
  if (fcntl(fd, F_SETFL, static_cast<int>(drv->savedfl)) == -1) {
    driver_error(ctl, ASF_ERR_SYSCALL, errno);
    return -1;
  }
  drv->flags &= ~DRV_NONBLOCKING;
  return 0;
}

void driver_error(asfsvcctl *ctl, int status, int oserr) {
  if (ctl == nullptr) return;
  ctl->asfcode = status;
  ctl->oserr = oserr;
}

int tl_peer_begin(tlpeerfill *f, tlpeeraddr **slot, asfsvcctl *ctl) {
  *f = tlpeerfill {};
  f->slot = slot;
  f->made = *slot == nullptr;
  f->rec =
      f->made ? static_cast<tlpeeraddr *>(asf_alloc(asf_pool_assoc, sizeof(tlpeeraddr))) : *slot;
  if (f->rec == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  std::memset(f->rec, 0, sizeof *f->rec);
  f->text = static_cast<char *>(asf_alloc(asf_pool_assoc, TL_PEER_TEXT_SIZE));
  f->pair = static_cast<tlpeerpair *>(asf_alloc(asf_pool_assoc, sizeof(tlpeerpair)));
  if (f->text == nullptr || f->pair == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return tl_peer_end(f, 0, 0);
  }
  return 0;
}

int tl_peer_end(tlpeerfill *f, int form, int ok) {
  if (ok) {
    f->pair->form = form;
    f->pair->text = f->text;
    f->rec->pair = f->pair;
    *f->slot = f->rec;
    return 0;
  }
  if (f->text != nullptr) asf_free(asf_pool_assoc, f->text);
  if (f->pair != nullptr) asf_free(asf_pool_assoc, f->pair);
  if (f->made && f->rec != nullptr) asf_free(asf_pool_assoc, f->rec);
  f->text = nullptr;
  f->pair = nullptr;
  f->rec = nullptr;
  return -1;
}

int islocalhost(const char *address, asfsvcctl *ctl) {
  if (address == nullptr || std::strlen(address) > ASF_TLADDR_TEXT_MAX) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  std::string_view text(address);
  std::string_view host = text.substr(0, text.find('|'));
  if (host.empty()) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  if (host.front() == '&') return 0;
  char node[ASF_NODENAME_SIZE];
  if (rhostname(node, sizeof node) != 0) {
    driver_error(ctl, ASF_ERR_MEMORY, errno);
    return -1;
  }
  char hostz[ASF_TLADDR_TEXT_MAX + 1];
  std::memcpy(hostz, host.data(), host.size());
  hostz[host.size()] = '\0';
  if (stcmpr(hostz, node) == 0) return 0;
  driver_error(ctl, ASF_ERR_BADADDR, 0);
  return -1;
}

int isstrdigit(const char *text) {
  if (text == nullptr) return 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p)
    if ((_ixctype[*p + 1] & os_ct_digit) == 0) return 0;
  return 1;
}

int getCurUser(char *buf) {
  buf[0] = '\0';
  const struct passwd *pw = dvz_getpwuid(getuid());
  if (pw == nullptr || pw->pw_name == nullptr) return -1;
  size_t n = std::strlen(pw->pw_name);
  if (n >= ASF_USERNAME_SIZE) return -1;
  std::memcpy(buf, pw->pw_name, n + 1);
  return 0;
}

int scan_for_at(const char *text, int *err) {
  *err = 0;
  int status = chkglsinit();
  if (status != 0) {
    *err = status;
    return 0;
  }
  gls_env *env = CheckGlsEnv();
  gl_locale *loc = env != nullptr ? env->locale : nullptr;
  const char *at = nullptr;
  int locale_error = 0;
  if (loc == nullptr || loc->single_byte != 0) {
    at = text != nullptr ? std::strchr(text, '@') : nullptr;
  } else {
    static const unsigned char at_sign[] = "@";
    at = reinterpret_cast<const char *>(
        gl_full_mbschr(loc, reinterpret_cast<const unsigned char *>(text), at_sign));
    locale_error = *_gl_ext_errno(loc);
  }
  if (at != nullptr) return static_cast<int>(at - text);
  *err = locale_error != 0 ? locale_error : -1;
  return 0;
}

int asf_force_error(void) { return 0; }

int change_netscb_owner(void) { return -1; }
}
