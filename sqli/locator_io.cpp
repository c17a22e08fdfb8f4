/*
** locator_io.cpp: the byte moves of BYTE and TEXT values through a
** program's locator (`loc_t`), and the context's blob buffers with the
** chunked code-set conversion of TEXT.
**
** A locator is opened, read or written, and closed within one transfer:
** for sending (mode 1) the runtime reads the value from it, for receiving
** (mode 2) it writes the value into it. `transferred` counts the bytes
** and becomes `size` at the close. Kinds: 1 memory, 2 a named file the
** runtime opens, 3 the program's open descriptor, 4 the program's own
** functions.
**
** A memory locator is never written past its buffer, whatever `size`
** says: a write that would pass `buffer + buffer_size` fails with -451
** and writes nothing. Every failure is recorded in sqlca and in the
** locator's `status`; the calls then return -1.
*/
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "dvz_be.h"
#include "gl_conv.h"
#include "gl_errors.h"
#include "os_conv.h"
#include "os_stored.h"
#include "sqli_blob.h"
#include "sqli_errors.h"
#include "sqli_file.h"
#include "sqli_reply.h"
#include "sqli_seams.h"

namespace {

constexpr int name_max = 260;
constexpr int32_t text_type = 12;
constexpr int32_t flag_runtime_buffer = 0x1; /* memory_flags: the runtime's buffer */
constexpr int32_t open_mode_bits = 0x3;
constexpr int32_t open_append = 0x4;
constexpr int chunk_code = SQR_BLOB;

/* Records code (and the program's value as the second error word) in sqlca
** and in the locator. Returns -1. */
int loc_failed(loc_t *loc, int code, int value = 0, bool with_value = false) {
  loc->status = code;
  if (with_value)
    _iqset2err(code, value, nullptr);
  else
    _iqseterr(code);
  return -1;
}

/* A file helper failed and recorded code in sqlca: the locator keeps it
** too. Returns -1. */
int file_failed(loc_t *loc, int code) {
  loc->status = code;
  return -1;
}

/* The bytes a received value of size bytes needs in memory: TEXT through
** the database-to-client converter may grow by its expansion factor.
** -1 when that does not fit an int32. */
int64_t needed_size(const loc_t *loc, int size) {
  if (loc->sql_type != text_type) return size;
  gl_cv_desc *cv = sqli_db_client_converter();
  if (cv == nullptr) return size;
  const double need = std::ceil(static_cast<double>(size) * gl_iconv_expansion(cv));
  return need > INT32_MAX ? -1 : static_cast<int64_t>(need);
}

/* Memory locator, receiving a value of size bytes: a buffer of the runtime
** sized for it, or the program's checked. 0 or -1 (recorded). */
int open_memory_for_write(loc_t *loc, int size) {
  const int64_t need = needed_size(loc, size);
  if (need < 0) return loc_failed(loc, SQLI_E_LOCSIZE);
  auto &m = loc->u.mem;
  if ((m.memory_flags & flag_runtime_buffer) != 0 && m.buffer != nullptr && m.buffer_size < need) {
    sqli_release(m.buffer); /* too small: freed, made again below */
    m.buffer = nullptr;
    m.buffer_size = -1;
    m.memory_flags &= ~flag_runtime_buffer;
  }
  if (m.buffer_size == -1) {
    if (need == 0) {
      m.buffer = nullptr;
      m.buffer_size = 0;
      return 0;
    }
    m.buffer = static_cast<char *>(sqli_alloc(static_cast<size_t>(need)));
    if (m.buffer == nullptr) return loc_failed(loc, SQLI_E_LOCMEM);
    m.buffer_size = static_cast<int32_t>(need);
    m.memory_flags |= flag_runtime_buffer;
    return 0;
  }
  if (m.buffer_size < need || (m.buffer == nullptr && need > 0)) {
    loc->indicator = static_cast<int32_t>(need);
    return loc_failed(loc, SQLI_E_LOCSIZE);
  }
  return 0;
}

/* Kind 2: opens the named file for reading (mode 1), or for writing,
** creating it with mode 0600 and either truncating it or, with the append
** bit, keeping it and noting its end. 0 or -1 (recorded). */
int open_named_file(loc_t *loc, int mode) {
  const char *name = loc->u.file.file_name;
  const int len =
      name == nullptr ? 0 : dvz_byleng(name, static_cast<int>(strnlen(name, name_max + 1)));
  if (len == 0 || len > name_max) return loc_failed(loc, SQLI_E_NOFILE);
  char path[name_max + 1];
  std::memcpy(path, name, static_cast<size_t>(len));
  path[len] = '\0';
  int fd;
  if (mode == loc_open_read) {
    fd = sqli_files->open_client(path, O_RDONLY | O_CLOEXEC);
  } else if ((loc->open_flags & open_append) != 0) {
    fd = sqli_files->open_client(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) fd = sqli_files->create_client(path, 0600);
  } else {
    fd = sqli_files->create_client(path, 0600);
  }
  if (fd < 0) return loc_failed(loc, SQLI_E_NOFILE);
  loc->u.file.file_fd = fd;
  return 0;
}

/* Notes the end of the file as the append position and goes there. */
int note_append_end(loc_t *loc) {
  const off_t end = sqli_files->lseek(loc->u.file.file_fd, 0, SEEK_END);
  if (end < 0) return loc_failed(loc, SQLI_E_NOFILE);
  loc->u.file.file_position = end > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end);
  return 0;
}

}  // namespace

int blob_buffer(sqli_tcb *tcb) {
  if (tcb->blob_buffer == nullptr) {
    tcb->blob_buffer = static_cast<char *>(sqli_alloc(sqli_blob_chunk_size));
    if (tcb->blob_buffer == nullptr) return _iqseterr(SQLI_E_NOMEM), SQLI_E_NOMEM;
    dvz_st_be_u16(chunk_code, tcb->blob_buffer);
  }
  if (tcb->blob_convbuf == nullptr) {
    tcb->blob_convbuf = static_cast<char *>(sqli_alloc(sqli_blob_conv_size));
    if (tcb->blob_convbuf == nullptr) return _iqseterr(SQLI_E_NOMEM), SQLI_E_NOMEM;
    dvz_st_be_u16(chunk_code, tcb->blob_convbuf);
  }
  return 0;
}

int gcv_blob_buffer(gl_cv_desc *cv, const char *in, int inlen, char *out, int *outlen,
                    char *leftover, int *nleftover) {
  *outlen = 0;
  *nleftover = 0;
  if (cv == nullptr || inlen < 0) return -1;
  const auto *ip = reinterpret_cast<const unsigned char *>(in);
  auto *op = reinterpret_cast<unsigned char *>(out);
  int inleft = inlen;
  int outleft = sqli_blob_conv_size - sqli_blob_header;
  const int r = gl_miconv(cv, &ip, &inleft, &op, &outleft, nullptr);
  *outlen = static_cast<int>(op - reinterpret_cast<unsigned char *>(out));
  /* Only a character cut by the end of the input may stay unconverted. */
  if (r != 0 && cv->err != GL_EINVAL) return -1;
  if (inleft > sqli_blob_leftover_max) return -1;
  std::memcpy(leftover, ip, static_cast<size_t>(inleft));
  *nleftover = inleft;
  return 0;
}

int _sqlocopen(loc_t *loc, int mode, int size) {
  loc->status = 0;
  loc->transferred = 0;
  switch (loc->kind) {
    case loc_in_memory: {
      if (mode == loc_open_write && open_memory_for_write(loc, size) != 0) return -1;
      auto &m = loc->u.mem;
      if (m.buffer_size < loc->size || loc->size < 0) return loc_failed(loc, SQLI_E_LOCSIZE);
      m.current = m.buffer;
      break;
    }
    case loc_in_file:
      if (loc->size < -1) return loc_failed(loc, SQLI_E_LOCSIZE);
      if (open_named_file(loc, mode) != 0) return -1;
      if (mode == loc_open_write && (loc->open_flags & open_append) != 0 &&
          note_append_end(loc) != 0) {
        sqli_files->close(loc->u.file.file_fd);
        loc->u.file.file_fd = -1;
        return -1;
      }
      break;
    case loc_in_fd:
      if (loc->size < -1) return loc_failed(loc, SQLI_E_LOCSIZE);
      if (mode == loc_open_write && (loc->open_flags & open_append) != 0 &&
          note_append_end(loc) != 0)
        return -1;
      break;
    case loc_in_user: {
      if (loc->size < -1) return loc_failed(loc, SQLI_E_LOCSIZE);
      if (loc->open_fn == nullptr) return loc_failed(loc, SQLI_E_LOCOPEN);
      const int r = loc->open_fn(loc, mode, size);
      if (r < 0) return loc_failed(loc, SQLI_E_LOCOPEN, r, true);
      break;
    }
    default:
      return loc_failed(loc, SQLI_E_LOCKIND);
  }
  loc->open_flags = (loc->open_flags & ~open_mode_bits) | (mode & open_mode_bits);
  return 0;
}

int _sqlocclose(loc_t *loc) {
  loc->status = 0;
  loc->size = loc->transferred;
  switch (loc->kind) {
    case loc_in_memory:
    case loc_in_fd:
      return 0;
    case loc_in_file: {
      const int fd = loc->u.file.file_fd;
      loc->u.file.file_fd = -1;
      if (fd < 0) return loc_failed(loc, SQLI_E_FILECLOSE);
      return _sqfilclose(fd) != 0 ? file_failed(loc, SQLI_E_FILECLOSE) : 0;
    }
    case loc_in_user: {
      const int r = loc->close_fn != nullptr ? loc->close_fn(loc) : 0;
      return r < 0 ? loc_failed(loc, SQLI_E_LOCCLOSE, r, true) : 0;
    }
    default:
      return loc_failed(loc, SQLI_E_LOCKIND);
  }
}

int _sqlocread(loc_t *loc, char *buffer, int count, int *nread) {
  *nread = 0;
  if (count < 0) count = 0;
  if (loc->size != -1) {
    const int left = loc->size - loc->transferred;
    if (count > left) count = left > 0 ? left : 0;
  }
  int n = 0;
  switch (loc->kind) {
    case loc_in_memory: {
      auto &m = loc->u.mem;
      /* Never past the buffer, whatever size and transferred say. */
      const int64_t room = m.buffer == nullptr ? 0 : m.buffer + m.buffer_size - m.current;
      n = count < room ? count : static_cast<int>(room > 0 ? room : 0);
      if (n > 0) std::memcpy(buffer, m.current, static_cast<size_t>(n));
      m.current += n;
      break;
    }
    case loc_in_file:
    case loc_in_fd:
      if (_sqfilread(loc->u.file.file_fd, buffer, count, &n) != 0)
        return file_failed(loc, SQLI_E_FILEREAD);
      break;
    case loc_in_user: {
      if (loc->read_fn == nullptr) return loc_failed(loc, SQLI_E_LOCREAD);
      const int r = loc->read_fn(loc, buffer, count);
      if (r < 0) return loc_failed(loc, SQLI_E_LOCREAD, r, true);
      n = r > count ? count : r; /* never more than was asked for */
      break;
    }
    default:
      return loc_failed(loc, SQLI_E_LOCKIND);
  }
  loc->transferred += n;
  *nread = n;
  return 0;
}

int _sqlocwrite(loc_t *loc, char *buffer, int count) {
  if (count < 0) return loc_failed(loc, SQLI_E_LOCSIZE);
  if (loc->size != -1 && count > loc->size - loc->transferred)
    return loc_failed(loc, SQLI_E_LOCSIZE);
  switch (loc->kind) {
    case loc_in_memory: {
      auto &m = loc->u.mem;
      const int64_t room = m.buffer == nullptr ? 0 : m.buffer + m.buffer_size - m.current;
      if (count > room) return loc_failed(loc, SQLI_E_LOCSIZE);
      if (count > 0) std::memcpy(m.current, buffer, static_cast<size_t>(count));
      m.current += count;
      break;
    }
    case loc_in_file:
    case loc_in_fd:
      if (_sqfilwrite(loc->u.file.file_fd, buffer, count) != 0)
        return file_failed(loc, SQLI_E_FILEWRITE);
      break;
    case loc_in_user: {
      if (loc->write_fn == nullptr) return loc_failed(loc, SQLI_E_LOCWRITE);
      const int r = loc->write_fn(loc, buffer, count);
      if (r < 0) return loc_failed(loc, SQLI_E_LOCWRITE, r, true);
      break;
    }
    default:
      return loc_failed(loc, SQLI_E_LOCKIND);
  }
  loc->transferred += count;
  return 0;
}
