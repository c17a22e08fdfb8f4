/*
** file_helpers.cpp: open, close, read and write of client files for the
** runtime (statement files, BYTE and TEXT values in files), through the
** file seam (sqli_seams.h). Interrupted calls are retried; a short write
** is continued until every byte is out.
*/
#include <errno.h>
#include <fcntl.h>

#include <cstring>

#include "os_stored.h"
#include "sqli_context.h"
#include "sqli_errors.h"
#include "sqli_file.h"
#include "sqli_seams.h"

namespace {

constexpr int name_max = 260;
constexpr int err_close = SQLI_E_FILECLOSE;
constexpr int err_read = SQLI_E_FILEREAD;
constexpr int err_write = SQLI_E_FILEWRITE;
constexpr int err_bad_name = -466;

int failed(int code) {
  _iqseterr(code);
  return -1;
}

}  // namespace

extern "C" {

int _sqfilopen(const char *name, int mode) {
  if (name == nullptr) return failed(err_bad_name);
  const int len = dvz_byleng(name, static_cast<int>(strnlen(name, name_max + 1)));
  if (len == 0 || len > name_max) return failed(err_bad_name);
  char path[name_max + 1];
  std::memcpy(path, name, static_cast<size_t>(len));
  path[len] = '\0';
  int fd;
  do {
    fd = mode == 1 ? sqli_files->open_client(path, O_RDONLY | O_CLOEXEC)
                   : sqli_files->create_client(path, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    _iqseterr(SQLI_E_NOFILE);
    return fd;
  }
  return fd;
}

int _sqfilclose(int fd) { return sqli_files->close(fd) != 0 ? failed(err_close) : 0; }

int _sqfilread(int fd, char *buffer, int count, int *nread) {
  ssize_t n;
  do {
    n = sqli_files->read(fd, buffer, static_cast<size_t>(count > 0 ? count : 0));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (nread != nullptr) *nread = 0;
    return failed(err_read);
  }
  if (nread != nullptr) *nread = static_cast<int>(n);
  return 0;
}

int _sqfilwrite(int fd, const char *buffer, int count) {
  size_t done = 0;
  const size_t want = count > 0 ? static_cast<size_t>(count) : 0;
  while (done < want) {
    const ssize_t n = sqli_files->write(fd, buffer + done, want - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return failed(err_write);
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // extern "C"
