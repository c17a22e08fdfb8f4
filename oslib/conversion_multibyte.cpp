/*
** Conversion between two locale specifications through a converter loaded
** for one call (dvz_gl_cv_mconv, dvz_gl_cv_outbuflen, dvz_gl_conv_needed,
** dvz_gl_cv_sb2sb_table), and small multibyte helpers over a locale record:
** display-width prefixes, trailing blanks of wide strings, copying one
** character, counting characters and whole-character bytes.
**
** Nothing in the client library calls these; they serve programs built on
** it. Calls: the locale library's loading, conversion, registry and
** character walk. Failures of the forms taking two locale specifications
** go to the current locale's error word (CheckGlsEnv); those of the
** helpers to the error word of the record they are given.
*/
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gl_chars.h"
#include "gl_errors.h"
#include "gl_registry.h"
#include "os_conv.h"
#include "os_glsenv.h"

namespace {

/* A single-byte map: one target byte for each source byte. */
constexpr size_t sb_map_size = 256;
/* Most bytes of one character. */
constexpr size_t char_bytes_max = 4;

void set_current_error(int error) {
  gls_env *env = CheckGlsEnv();
  if (env != nullptr && env->locale != nullptr) env->locale->error = error;
}

/* A converter loaded for one call and unloaded with its owner. */
class TemporaryConverter {
 public:
  TemporaryConverter(const char *target, const char *source) {
    status_ = gl_cv_load(&cv_, target, source, nullptr, nullptr);
    if (status_ < 0) set_current_error(GL_ENOFILE);
  }
  ~TemporaryConverter() {
    if (cv_ != nullptr) gl_cv_unload(cv_);
  }
  TemporaryConverter(const TemporaryConverter &) = delete;
  TemporaryConverter &operator=(const TemporaryConverter &) = delete;

  bool failed() const { return status_ < 0; }
  /* The converter; NULL when the code sets are equal. */
  gl_cv_desc *get() const { return status_ > 0 ? cv_ : nullptr; }

 private:
  gl_cv_desc *cv_ = nullptr;
  int status_ = -1;
};

/* Copies *in to *out as a converter between equal code sets would: 0, or
** error 14 when the output is too small (what fits is copied). */
int copy_through(unsigned char **out, int *outleft, const unsigned char **in, int *inleft) {
  const size_t n = inleft != nullptr ? static_cast<size_t>(*inleft < 0 ? 0 : *inleft)
                                     : strlen(reinterpret_cast<const char *>(*in)) + 1;
  const size_t room = static_cast<size_t>(*outleft < 0 ? 0 : *outleft);
  const size_t copied = n < room ? n : room;
  if (*out != nullptr) {
    memcpy(*out, *in, copied);
    *out += copied;
  }
  *in += copied;
  if (inleft != nullptr) *inleft -= static_cast<int>(copied);
  *outleft -= static_cast<int>(copied);
  return copied < n ? GL_E2BIG : 0;
}

}  // namespace

extern "C" {

int dvz_gl_cv_mconv(gl_cv_state *state, unsigned char **out, int *outleft, const char *target,
                    const unsigned char **in, int *inleft, const char *source) {
  if (out == nullptr || outleft == nullptr || in == nullptr || *in == nullptr) {
    set_current_error(GL_ENULLPTR);
    return GL_ENULLPTR;
  }
  TemporaryConverter cv(target, source);
  if (cv.failed()) return -1;
  int error = 0;
  if (cv.get() == nullptr) {
    error = copy_through(out, outleft, in, inleft);
  } else if (gl_cv_mconv(cv.get(), state, in, inleft, out, outleft, nullptr) != 0) {
    error = cv.get()->err != 0 ? cv.get()->err : GL_EBADARG;
  }
  if (*out != nullptr && *outleft > 0) **out = '\0';
  set_current_error(error);
  return error;
}

int dvz_gl_cv_outbuflen(const char *target, const char *source, int n) {
  TemporaryConverter cv(target, source);
  if (cv.failed()) return -1;
  return cv.get() != nullptr ? gl_cv_outbuflen(cv.get(), n) : n;
}

int dvz_gl_conv_needed(const char *target, const char *source) {
  const uint16_t to = gl_lc_spec2cs_num(nullptr, target, nullptr);
  const uint16_t from = gl_lc_spec2cs_num(nullptr, source, nullptr);
  if (to == GL_CS_NONE || from == GL_CS_NONE) return -1;
  return to != from ? 1 : 0;
}

int dvz_gl_cv_sb2sb_table(const char *target, const char *source, unsigned char **map) {
  if (map == nullptr) return -1;
  *map = nullptr;
  TemporaryConverter cv(target, source);
  gl_cv_desc *d = cv.get();
  if (d == nullptr || d->fast_map == nullptr) return -1;
  /* The map came from the locale library's allocator: the caller gets a
  ** copy it can free with free(). */
  auto *copy = static_cast<unsigned char *>(malloc(sb_map_size));
  if (copy == nullptr) return -1;
  memcpy(copy, d->fast_map, sb_map_size);
  _gl_free_ptr(d->fast_map);
  d->fast_map = nullptr;
  *map = copy;
  return 0;
}

int dbcslswdw(const char *s, int width, gl_locale *locale) {
  if (s == nullptr || locale == nullptr) return 0;
  const auto *start = reinterpret_cast<const unsigned char *>(s);
  const unsigned char *p = start;
  int used = 0;
  while (gl_ismbsterm(locale, p) == 0) {
    const int w = gl_mbwidth(locale, p);
    if (w < 0 || used + w > width) break;
    const unsigned char *next = gl_full_mbsnext(locale, p);
    if (next == nullptr) break;
    used += w;
    p = next;
  }
  return static_cast<int>(p - start);
}

int wbyleng(const gl_wchar *w, int n) {
  if (w == nullptr || n < 0) return 0;
  while (n > 0 && w[n - 1] == ' ')
    --n;
  return n;
}

gl_wchar mbcharcopy(gl_locale *locale, const char *s, char *out, int *length) {
  int n = -1;
  gl_wchar value = 0;
  if (locale != nullptr && s != nullptr && out != nullptr) {
    const auto *from = reinterpret_cast<const unsigned char *>(s);
    /* A character never holds the NUL that ends the string: read at most
    ** up to it (the null character itself is one byte). */
    const size_t avail = strnlen(s, char_bytes_max);
    n = _dvz_gl_full_mblen(locale, from, avail == 0 ? 1 : static_cast<int>(avail));
    const int got = n > 0 ? gl_full_mbtowc(locale, &value, from, n) : -1;
    /* The null character decodes to length 0. */
    if (n > 0 && (got == n || (got == 0 && *s == '\0'))) {
      memcpy(out, s, static_cast<size_t>(n));
    } else {
      n = -1;
      value = 0;
    }
  }
  if (length != nullptr) *length = n;
  return value;
}

int glsmbsnlen(gl_locale *locale, const char *s, int n) {
  if (locale == nullptr || s == nullptr || n < 0) return -1;
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  int count = 0;
  while (n > 0) {
    const int k = _dvz_gl_full_mblen(locale, p, n);
    if (k <= 0) return -1;
    ++count;
    p += k;
    n -= k;
  }
  return count;
}

int glsmbsnbytelen(gl_locale *locale, const char *s, int n) {
  if (locale == nullptr || s == nullptr || n <= 0) return 0;
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  int bytes = 0;
  while (bytes < n) {
    const int k = _dvz_gl_full_mblen(locale, p + bytes, n - bytes);
    if (k <= 0) break;
    bytes += k;
  }
  return bytes;
}

}  // extern "C"
