/*
** Code-set conversion of texts, one routine per buffer policy: the
** caller's buffer (gcv_extbuf), in place (gcv_inplace), a new allocation
** (gcv_malloc), the caller's growable buffer (gcv_reuse), and the length
** estimates (gcv_lenonly, gcv_len).
**
** Callers: the environment services (converted values and names), the
** file calls of conversion_files.cpp, the printers, and the runtime's
** encoders and reply readers. Calls: the locale library's stateless
** conversion (gl_miconv) and expansion factor, and set_glserror.
**
** Every conversion is one stateless gl_miconv call, so a stateful code
** set returns to its base state at the end of each text. A descriptor's
** error word is read only after a failed call: the locale library writes
** it on failure alone. Estimates are computed in double arithmetic from
** the descriptor's float factor, as callers size their buffers by them
** (a factor stored as 1.1 makes ceil(10 x 1.1) 12).
*/
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "conversion_internal.h"
#include "gl_errors.h"
#include "os_conv.h"
#include "os_gentcb.h"

namespace {

using oslib_conv::conversion_error;

/* Spare bytes the allocating routines add to an estimate. */
constexpr int64_t spare_bytes = 4;
/* Largest estimate that still leaves room for the spare bytes in an int. */
constexpr int64_t largest_estimate = INT32_MAX - spare_bytes;

int fail(int error) {
  set_glserror(error);
  return -1;
}

/* A source text as the routines take it: len bytes, or a terminated
** string whose NUL belongs to it. */
struct Source {
  const char *text;
  const int *len; /* NULL: terminated */

  bool terminated() const { return len == nullptr; }
  /* Bytes a copy takes: the given length, or the string with its NUL. */
  size_t copy_bytes() const {
    return len != nullptr ? static_cast<size_t>(*len) : strlen(text) + 1;
  }
};

/* True when the arguments every routine shares are usable: a source, and
** a given length of at least 1. */
bool source_ok(const char *src, const int *len) {
  return src != nullptr && (len == nullptr || *len >= 1);
}

/* ceil(n x factor), with factor 1 without a converter; -1 beyond
** largest_estimate. */
int64_t scaled(gl_cv_desc *cv, int64_t n) {
  if (cv == nullptr) return n <= largest_estimate ? n : -1;
  const double value = std::ceil(static_cast<double>(n) * gl_iconv_expansion(cv));
  return value <= static_cast<double>(largest_estimate) ? static_cast<int64_t>(value) : -1;
}

/* The estimate of a whole source: ceil(n x factor), and 1 added for the
** NUL of a terminated string, n being its length; -1 when too large. */
int64_t estimate(gl_cv_desc *cv, const Source &s) {
  if (!s.terminated()) return scaled(cv, *s.len);
  const size_t n = strlen(s.text);
  if (n >= static_cast<size_t>(largest_estimate)) return -1;
  const int64_t body = scaled(cv, static_cast<int64_t>(n));
  return body < 0 || body + 1 > largest_estimate ? -1 : body + 1;
}

/* One stateless conversion of in (inleft bytes, or through the NUL when
** inleft is NULL) into out (room bytes; NULL only measures). Returns 0 or
** the descriptor's error number; *written is the output produced either
** way. */
int convert(gl_cv_desc *cv, const char *in, const int *inleft, char *out, int room, int &written) {
  const auto *from = reinterpret_cast<const unsigned char *>(in);
  int left = inleft != nullptr ? *inleft : 0;
  auto *to = reinterpret_cast<unsigned char *>(out);
  int outleft = room;
  const int rc = gl_miconv(cv, &from, inleft != nullptr ? &left : nullptr, &to, &outleft, nullptr);
  written = room - outleft;
  if (rc == 0) return 0;
  /* A descriptor that never loaded fails without writing its word. */
  return cv->err != 0 ? cv->err : GL_EBADARG;
}

}  // namespace

extern "C" {

int gcv_extbuf(gl_cv_desc *cv, const char *src, int *len, char *dst, int size, int *truncated) {
  if (!source_ok(src, len) || dst == nullptr || size < 1) return fail(gcv_err_bad_argument);
  if (truncated != nullptr) *truncated = 0;
  if (cv == nullptr) {
    const size_t n = Source {src, len}.copy_bytes();
    const size_t room = static_cast<size_t>(size);
    memcpy(dst, src, n < room ? n : room);
    if (n > room && truncated != nullptr) *truncated = 1;
    return 0;
  }
  int written = 0;
  const int error = convert(cv, src, len, dst, size, written);
  if (error == 0) return written;
  if (error == GL_E2BIG) {
    if (truncated != nullptr) *truncated = 1;
    return written;
  }
  return fail(conversion_error(error));
}

int gcv_inplace(gl_cv_desc *cv, char *str, int *len, int size, int *truncated) {
  if (!source_ok(str, len) || size < 1) return fail(gcv_err_bad_argument);
  if (truncated != nullptr) *truncated = 0;
  if (cv == nullptr) return 0;
  const Source s {str, len};
  const int64_t work_size = estimate(cv, s);
  if (work_size < 0) return fail(gls_err_no_memory);
  /* The NUL of a terminated string is neither converted nor written. */
  const size_t body = s.terminated() ? strlen(str) : static_cast<size_t>(*len);
  const int body_len = static_cast<int>(body);
  char *work = static_cast<char *>(malloc(static_cast<size_t>(work_size + spare_bytes)));
  if (work == nullptr) return fail(gls_err_no_memory);
  const int room =
      static_cast<int>(size < work_size + spare_bytes ? size : work_size + spare_bytes);
  int written = 0;
  const int error = convert(cv, str, &body_len, work, room, written);
  if (error != 0 && error != GL_E2BIG) {
    free(work);
    return fail(conversion_error(error));
  }
  memcpy(str, work, static_cast<size_t>(written));
  free(work);
  if (error == GL_E2BIG && truncated != nullptr) *truncated = 1;
  return written;
}

int gcv_malloc(gl_cv_desc *cv, const char *src, int *len, char **out) {
  if (out != nullptr) *out = nullptr;
  if (!source_ok(src, len) || out == nullptr) return fail(gcv_err_bad_argument);
  const Source s {src, len};
  const int64_t need = estimate(cv, s);
  if (need < 0) return fail(gls_err_no_memory);
  char *buffer = static_cast<char *>(malloc(static_cast<size_t>(need + spare_bytes)));
  if (buffer == nullptr) return fail(gls_err_no_memory);
  if (cv == nullptr) {
    memcpy(buffer, src, s.copy_bytes());
    *out = buffer;
    return 0;
  }
  int written = 0;
  if (convert(cv, src, len, buffer, static_cast<int>(need + spare_bytes), written) != 0) {
    free(buffer);
    return fail(gcv_err_invalid_char);
  }
  *out = buffer;
  return written;
}

int gcv_lenonly(gl_cv_desc *cv, int n) {
  if (n < 0) return fail(gcv_err_bad_argument);
  const int64_t value = scaled(cv, n);
  return value < 0 ? INT32_MAX : static_cast<int>(value);
}

int gcv_len(gl_cv_desc *cv, const char *src, int *len) {
  if (!source_ok(src, len)) return fail(gcv_err_bad_argument);
  if (cv == nullptr) {
    const size_t n = Source {src, len}.copy_bytes();
    return n <= INT32_MAX ? static_cast<int>(n) : fail(gcv_err_bad_argument);
  }
  /* Measured without output: the count is what a scratch buffer of any
  ** size would receive. */
  int written = 0;
  const int error = convert(cv, src, len, nullptr, INT32_MAX, written);
  return error == 0 ? written : fail(conversion_error(error));
}

int gcv_reuse(gl_cv_desc *cv, const char *src, int *len, gcv_growbuf *record) {
  if (!source_ok(src, len) || record == nullptr) return fail(gcv_err_bad_argument);
  const Source s {src, len};
  const int64_t need = estimate(cv, s);
  if (need < 0) return fail(gls_err_no_memory);
  if (record->buffer == nullptr || record->size < need) {
    void *grown = realloc(record->buffer, static_cast<size_t>(need + spare_bytes));
    if (grown == nullptr) return fail(gls_err_no_memory);
    record->buffer = static_cast<char *>(grown);
    record->size = static_cast<int32_t>(need);
  }
  if (cv == nullptr) {
    memcpy(record->buffer, src, s.copy_bytes());
    return 0;
  }
  int written = 0;
  if (convert(cv, src, len, record->buffer, static_cast<int>(need), written) != 0)
    return fail(gcv_err_invalid_char);
  return written;
}

}  // extern "C"
