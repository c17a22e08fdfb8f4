/*
** dbapi_maps.cpp: the character maps that DBAPICODE selects. The named
** file sits in the message directory of the current language and holds
** the magic "crtc00", then 256 bytes mapping database bytes to host bytes
** and 256 mapping host bytes to database bytes, each indexed by the
** unsigned byte. The maps are loaded at most once per process; a failed
** load leaves them as they were (zeros at start), so the next translation
** tries again.
*/
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "os_env.h"
#include "os_gentcb.h"
#include "os_messages.h"
#include "os_stored.h"
#include "sqli_context.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"

unsigned char usrconvarr[256];
unsigned char dbconvarr[256];
int16_t ldtbl = 0;
int32_t _sqdbapi = 0;
int (*CPDBTOVAR)(const char *src, char *dst, int len) = _sqDBtoVAR;
int (*CPVARTODB)(const char *src, char *dst, int len) = _sqVARtoDB;

namespace {

constexpr char map_magic[] = "crtc00";
constexpr size_t magic_size = 6;
constexpr size_t map_size = 256;

/* Reads exactly n bytes; false on a short file or a read error. */
bool read_exact(int fd, unsigned char *buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = dvz_read(fd, buf + got, n - got);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

/* Closes the descriptor it holds when it goes. */
struct fd_guard {
  int fd;
  ~fd_guard() {
    if (fd >= 0) dvz_close(fd);
  }
};

}  // namespace

int ldconvtbl(void) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  const char *name = ggetenv("DBAPICODE");
  if (name == nullptr) {
    _sqdiagerr(SQLI_E_NOFILE, tcb);
    return -1;
  }
  const char *path = CheckGenInit() != nullptr ? rmsgfname(name) : nullptr;
  if (path == nullptr) {
    _sqdiagerr(SQLI_E_NOFILE, tcb);
    return -1;
  }
  fd_guard file {path[0] != '\0' ? dvz_open(path, O_RDONLY) : -1};
  if (file.fd < 0) {
    _iqseterr(SQLI_E_DBAPIOPEN);
    return -1;
  }
  /* Both maps are read whole before either is taken: a short file counts
  ** as one of the wrong kind and leaves them untouched. */
  unsigned char magic[magic_size] = {};
  unsigned char maps[2 * map_size];
  if (!read_exact(file.fd, magic, magic_size) || std::memcmp(magic, map_magic, magic_size) != 0 ||
      !read_exact(file.fd, maps, sizeof maps)) {
    _iqseterr(SQLI_E_DBAPIMAGIC);
    return -1;
  }
  std::memcpy(usrconvarr, maps, map_size);
  std::memcpy(dbconvarr, maps + map_size, map_size);
  ldtbl = 1;
  return 0;
}

void convtuple(const char *src, int n, char *dst, const unsigned char *map) {
  for (int i = 0; i < n; ++i)
    dst[i] = static_cast<char>(map[static_cast<unsigned char>(src[i])]);
  dst[n > 0 ? n : 0] = '\0';
}

int _sqDBtoVAR(const char *src, char *dst, int len) {
  if (ldtbl == 0 && ldconvtbl() != 0) return -1;
  convtuple(src, len, dst, usrconvarr);
  return 0;
}

int _sqVARtoDB(const char *src, char *dst, int len) {
  if (ldtbl == 0 && ldconvtbl() != 0) return -1;
  convtuple(src, len, dst, dbconvarr);
  return 0;
}
