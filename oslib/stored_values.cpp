/*
** stored_values.cpp: the stored forms of CHAR, VARCHAR, SMALLINT,
** INTEGER, SMALLFLOAT and FLOAT values and of the blob descriptor, the
** file-descriptor wrappers and the spin lock. Called by the value
** library, the runtime and the rest of the client environment.
**
** Every multi-byte number goes through dvz_be.h: big-endian at any
** alignment, never a copy of an in-memory record. The floats are IEEE
** big-endian for every network_* flag too. The float NULL forms are all
** 0xFF bytes (a NaN pattern, so they are recognised by their bytes, never
** by comparing values).
*/
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "dvz_be.h"
#include "os_stored.h"

namespace {

constexpr int varchar_max = 255;
constexpr size_t float_size = 4;
constexpr size_t double_size = 8;

/* True when the first size bytes at from are all 0xFF: a NULL float. */
bool is_null_form(const void *from, size_t size) {
  const unsigned char *p = static_cast<const unsigned char *>(from);
  for (size_t i = 0; i < size; ++i) {
    if (p[i] != 0xFF) return false;
  }
  return true;
}

/* Field-by-field walk of the blob descriptor in its stored order; visit
** is called as visit(field, offset) for every field. */
template <typename Desc, typename Visit>
void for_each_blob_field(Desc &desc, Visit visit) {
  size_t at = 0;
  for (auto &field : desc.tb_head)
    at += visit(field, at);
  for (auto &field : desc.tb_words)
    at += visit(field, at);
  for (auto &field : desc.tb_marks)
    at += visit(field, at);
  at += visit(desc.tb_flags, at);
  for (auto &field : desc.tb_tail)
    at += visit(field, at);
}

}  // namespace

extern "C" {

void ldchar(const char *from, int n, char *to) {
  const int length = dvz_byleng(from, n);
  if (length > 0) std::memmove(to, from, static_cast<size_t>(length));
  to[length] = '\0';
}

void stchar(const char *from, char *to, int n) {
  if (n <= 0) return;
  const size_t length = from == nullptr ? 0 : strnlen(from, static_cast<size_t>(n));
  if (length > 0) std::memmove(to, from, length);
  std::memset(to + length, ' ', static_cast<size_t>(n) - length);
}

int ldvarchar(const char *from, int n, char *to) {
  int count = static_cast<unsigned char>(from[0]);
  if (count > n) count = n < 0 ? 0 : n;
  if (count > 0) std::memmove(to, from + 1, static_cast<size_t>(count));
  to[count] = '\0';
  return count;
}

void stvarchar(const char *from, char *to, int n) {
  if (n < 0) n = 0;
  if (from == nullptr) {
    to[0] = 1;
    if (n >= 1) to[1] = '\0';
    return;
  }
  /* The length byte never claims more than the n bytes that follow it. */
  const size_t limit = static_cast<size_t>(n < varchar_max ? n : varchar_max);
  const size_t length = strnlen(from, limit);
  to[0] = static_cast<char>(length);
  std::memmove(to + 1, from, length);
  std::memset(to + 1 + length, ' ', static_cast<size_t>(n) - length);
}

void stshort(int16_t value, void *to) { dvz_st_be_i16(value, to); }

int32_t ldlong(const void *from) { return dvz_ld_be_i32(from); }

int stlong(int32_t value, void *to) {
  dvz_st_be_i32(value, to);
  return 0;
}

double ldfloat(const void *from) { return dvz_ld_be_float(from); }

void stfloat(double value, void *to) { dvz_st_be_float(static_cast<float>(value), to); }

double lddbl(const void *from) { return dvz_ld_be_double(from); }

void stdbl(double value, void *to) { dvz_st_be_double(value, to); }

double network_ldfloat(const void *from, int) { return ldfloat(from); }

void network_stfloat(double value, void *to, int) { stfloat(value, to); }

double network_lddbl(const void *from, int) { return lddbl(from); }

void network_stdbl(double value, void *to, int) { stdbl(value, to); }

double ldfltnull(const void *from, int16_t *isnull) {
  *isnull = is_null_form(from, float_size) ? 1 : 0;
  return ldfloat(from);
}

double network_ldfltnull(const void *from, int16_t *isnull, int) { return ldfltnull(from, isnull); }

double lddblnull(const void *from, int16_t *isnull) {
  *isnull = is_null_form(from, double_size) ? 1 : 0;
  return lddbl(from);
}

double network_lddblnull(const void *from, int16_t *isnull, int) { return lddblnull(from, isnull); }

void stfltnull(double value, void *to, int16_t isnull) {
  if (isnull != 0) {
    std::memset(to, 0xFF, float_size);
  } else {
    stfloat(value, to);
  }
}

void network_stfltnull(double value, void *to, int16_t isnull, int) {
  stfltnull(value, to, isnull);
}

void stdblnull(double value, void *to, int16_t isnull) {
  if (isnull != 0) {
    std::memset(to, 0xFF, double_size);
  } else {
    stdbl(value, to);
  }
}

void network_stdblnull(double value, void *to, int16_t isnull, int) {
  stdblnull(value, to, isnull);
}

void tblobstore(const tblob_desc_t *desc, void *to) {
  unsigned char *out = static_cast<unsigned char *>(to);
  std::memset(out, 0, TBLOB_STORED_SIZE);
  for_each_blob_field(*desc, [out](const auto &field, size_t at) -> size_t {
    if constexpr (sizeof field == 2) {
      dvz_st_be_i16(field, out + at);
    } else {
      dvz_st_be_i32(field, out + at);
    }
    return sizeof field;
  });
}

void tblobload(tblob_desc_t *desc, const void *from) {
  const unsigned char *in = static_cast<const unsigned char *>(from);
  for_each_blob_field(*desc, [in](auto &field, size_t at) -> size_t {
    if constexpr (sizeof field == 2) {
      field = dvz_ld_be_i16(in + at);
    } else {
      field = dvz_ld_be_i32(in + at);
    }
    return sizeof field;
  });
}

int dvz_open(const char *path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  return open(path, flags, mode);
}

int dvz_close(int fd) { return close(fd); }

ssize_t dvz_read(int fd, void *buf, size_t count) { return read(fd, buf, count); }

off_t dvz_lseek(int fd, off_t offset, int whence) { return lseek(fd, offset, whence); }

ssize_t dvz_write(int fd, const void *buf, size_t count) { return write(fd, buf, count); }

int dvz_creat(const char *path, mode_t mode) { return creat(path, mode); }

int rcpsema(ossema_t *sema, int32_t value) {
  std::atomic_ref<unsigned char> lock(sema->lock);
  if (lock.exchange(0xFF, std::memory_order_acquire) != 0) return 0;
  sema->owner = value;
  return 1;
}

int rcvsema(ossema_t *sema) {
  std::atomic_ref<unsigned char> lock(sema->lock);
  sema->owner = 0;
  sema->spare = 0;
  lock.store(0, std::memory_order_release);
  if (sema->waiter == 0) return 0;
  sema->waiter = 0;
  return 1;
}

int risema(ossema_t *sema) {
  std::atomic_ref<unsigned char> lock(sema->lock);
  lock.store(0, std::memory_order_release);
  sema->spare = 0;
  sema->waiter = 0;
  sema->owner = 0;
  return 0;
}

}  // extern "C"
