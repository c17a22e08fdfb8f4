/*
** Locale-aware comparison of CHAR values (blank-padded, fixed length):
** osglsbycmpr and its multibyte branch mbsbycmpr, the trailing-blank
** length osglsbyleng, the collation range test of MATCHES and LIKE
** (CharInRange), the platform-collation helpers nlsbycmpr and _oncharcmp,
** and ggetcwd.
**
** Called by the expression evaluator (NCHAR), the pattern matchers and the
** path functions. Calls the locale library's collation and character walk,
** the blank-cutting of the stored-value primitives, and the context's
** scratch buffer, which every comparison reuses instead of allocating: a
** comparison invalidates a buffer an earlier allocnbspace returned.
*/
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gl_chars.h"
#include "gl_collate.h"
#include "gl_errors.h"
#include "os_context.h"
#include "os_conv.h"
#include "os_glsenv.h"
#include "os_stored.h"

namespace {

static_assert(sizeof(gl_wchar) == 4, "the wide scratch layout assumes 4-byte characters");

/* Room of ggetcwd's buffer, and of a name converted into it. */
constexpr int cwd_room = 1026;
constexpr int converted_cwd_room = 1025;

int sign(int value) { return (value > 0) - (value < 0); }

/* The context's scratch buffer of n bytes, the context made first when a
** comparison runs before anything else asked for it. */
char *scratch(int64_t n) {
  if (ostcb == nullptr) (void)CheckOsInit();
  if (n > INT32_MAX) return nullptr;
  return allocnbspace(static_cast<int>(n));
}

/* Stores a comparison error in both places; the result is then 0. */
int fail(gl_locale *loc, int *error, int code) {
  if (loc != nullptr) loc->error = code;
  if (error != nullptr) *error = code;
  return 0;
}

/* The error of a locale-library call, from the record's error word. */
int collation_error(gl_locale *loc) {
  return loc->error == GL_ENOMEM ? gls_err_no_memory : os_err_bad_char;
}

/* A blank is of the blank class and not a control character. */
bool is_blank_mask(int mask) {
  return (mask & GL_CLASS_BLANK) != 0 && (mask & GL_CLASS_CNTRL) == 0;
}

/* Converts len bytes at s into wide characters at out (room for len + 1),
** dropping the trailing blanks, and ends them with 0. Returns the count
** kept, or -1 at a null character or a sequence that is no character. */
int mbstotruncwc(gl_locale *loc, gl_wchar *out, const unsigned char *s, int len) {
  int count = 0;
  int kept = 0;
  for (int used = 0; used < len;) {
    gl_wchar wc = 0;
    const int n = _dvz_gl_full_mbtowc(loc, &wc, s + used, len - used);
    if (n <= 0) return -1;
    out[count++] = wc;
    const int mask = _dvz_gl_im_ismctype(loc, s + used, n, GL_CLASS_BLANK | GL_CLASS_CNTRL);
    if (!is_blank_mask(mask)) kept = count;
    used += n;
  }
  out[kept] = 0;
  return kept;
}

/* Lengths cut to their content: -1, 0, 1 when one or both are empty, else
** 2 (compare them). */
int empty_order(int la, int lb) {
  if (la == 0 && lb == 0) return 0;
  if (la == 0) return -1;
  if (lb == 0) return 1;
  return 2;
}

/* Both values, cut to la and lb bytes, compared by the platform's strcoll
** in a terminated copy each. */
int platform_collate(const char *a, int la, const char *b, int lb, int *error) {
  if (error != nullptr) *error = 0;
  const int order = empty_order(la, lb);
  if (order != 2) return order;
  const int longer = std::max(la, lb);
  char *buffer = scratch(2 * (static_cast<int64_t>(longer) + 1));
  if (buffer == nullptr) {
    if (error != nullptr) *error = gls_err_date_memory;
    return 0;
  }
  char *copy_b = buffer + longer + 1;
  std::memcpy(buffer, a, static_cast<size_t>(la));
  buffer[la] = '\0';
  std::memcpy(copy_b, b, static_cast<size_t>(lb));
  copy_b[lb] = '\0';
  return sign(std::strcoll(buffer, copy_b));
}

}  // namespace

extern "C" {

int osglsbyleng(gl_locale *loc, const char *value, int length) {
  if (value == nullptr || length <= 0) return 0;
  if (loc == nullptr) return dvz_byleng(value, length);
  const auto *s = reinterpret_cast<const unsigned char *>(value);
  if (loc->single_byte == 1 && loc->class_map != nullptr) {
    int n = length;
    while (n > 0 && is_blank_mask(loc->class_map[s[n - 1]]))
      --n;
    return n;
  }
  const int saved = loc->error; /* an invalid character only ends the scan */
  int result = 0;
  for (int used = 0; used < length;) {
    const int n = _dvz_gl_full_mblen(loc, s + used, length - used);
    if (n <= 0) break;
    const int mask = _dvz_gl_im_ismctype(loc, s + used, n, GL_CLASS_BLANK | GL_CLASS_CNTRL);
    used += n;
    if (!is_blank_mask(mask)) result = used;
  }
  loc->error = saved;
  return result;
}

int mbsbycmpr(gl_locale *loc, const char *a, int la, const char *b, int lb, int *error) {
  loc->error = 0;
  if (error != nullptr) *error = 0;
  la = std::max(la, 0);
  lb = std::max(lb, 0);
  const int64_t room = static_cast<int64_t>(std::max(la, lb)) + 1;
  char *buffer = scratch(8 * room);
  if (buffer == nullptr) return fail(loc, error, gls_err_date_memory);
  auto *wide_a = reinterpret_cast<gl_wchar *>(buffer);
  gl_wchar *wide_b = wide_a + room;
  const int na = mbstotruncwc(loc, wide_a, reinterpret_cast<const unsigned char *>(a), la);
  const int nb =
      na < 0 ? -1 : mbstotruncwc(loc, wide_b, reinterpret_cast<const unsigned char *>(b), lb);
  if (na < 0 || nb < 0) return fail(loc, error, os_err_bad_char);
  const int order = empty_order(na, nb);
  if (order != 2) return order;
  loc->error = 0;
  const int result =
      loc->codeset_order == 1 ? gl_wcscmp(wide_a, wide_b) : gl_full_wcscoll(loc, wide_a, wide_b);
  if (loc->error != 0) return fail(loc, error, collation_error(loc));
  return sign(result);
}

int osglsbycmpr(gl_locale *loc, const char *a, int la, const char *b, int lb, int *error) {
  if (error != nullptr) *error = 0;
  if (loc == nullptr) return sign(charcmp(a, la, b, lb));
  loc->error = 0;
  if (loc->codeset_order == 1) return sign(charcmp(a, la, b, lb));
  if (osglsbyleng(loc, a, la) == 0 && osglsbyleng(loc, b, lb) == 0) return 0;
  /* A value that begins with a NUL byte sorts before any other. */
  const bool a_nul = la > 0 && a[0] == '\0';
  const bool b_nul = lb > 0 && b[0] == '\0';
  if (a_nul && b_nul) return 0;
  if (a_nul) return -1;
  if (b_nul) return 1;
  if (loc->single_byte != 1) return mbsbycmpr(loc, a, la, b, lb, error);

  const int na = dvz_byleng(a, la);
  const int nb = dvz_byleng(b, lb);
  const int order = empty_order(na, nb);
  if (order != 2) return order;
  const int longer = std::max(na, nb);
  char *buffer = scratch(2 * (static_cast<int64_t>(longer) + 1));
  if (buffer == nullptr) return fail(loc, error, gls_err_date_memory);
  auto *copy_a = reinterpret_cast<unsigned char *>(buffer);
  unsigned char *copy_b = copy_a + longer + 1;
  std::memcpy(copy_a, a, static_cast<size_t>(na));
  copy_a[na] = 0;
  std::memcpy(copy_b, b, static_cast<size_t>(nb));
  copy_b[nb] = 0;
  const int result = loc->mbscoll_fn != nullptr ? loc->mbscoll_fn(loc, copy_a, copy_b)
                                                : _gl_im_mbscoll(loc, copy_a, copy_b);
  if (loc->error != 0) return fail(loc, error, collation_error(loc));
  return sign(result);
}

int CharInRange(gl_wchar c, gl_wchar low, gl_wchar high) {
  gls_env *env = CheckGlsEnv();
  gl_locale *loc = env != nullptr ? env->locale : nullptr;
  if (loc == nullptr || loc->codeset_order == 1) return low <= c && c <= high ? 1 : 0;
  const gl_wchar wc[2] = {c, 0};
  const gl_wchar wlow[2] = {low, 0};
  const gl_wchar whigh[2] = {high, 0};
  loc->error = 0;
  const bool inside = gl_full_wcscoll(loc, wlow, wc) <= 0 && gl_full_wcscoll(loc, wc, whigh) <= 0;
  return inside && loc->error == 0 ? 1 : 0;
}

int ggetcwd(char *buffer) {
  if (getcwd(buffer, cwd_room) == nullptr) return -1;
  gls_env *env = CheckGlsEnv();
  gl_cv_desc *cv = env != nullptr && env->state != nullptr ? env->state->cv_os_client : nullptr;
  if (cv == nullptr) return 0;
  char *converted = nullptr;
  const int written = gcv_malloc(cv, buffer, nullptr, &converted);
  if (written < 0 || converted == nullptr) {
    std::free(converted);
    return -1;
  }
  const size_t length =
      strnlen(converted, written > 0 ? static_cast<size_t>(written) : converted_cwd_room);
  const bool fits = length < static_cast<size_t>(converted_cwd_room);
  if (fits) {
    std::memcpy(buffer, converted, length);
    buffer[length] = '\0';
  }
  std::free(converted);
  return fits ? 0 : -1;
}

int nlsbycmpr(const char *a, const char *b, int n, int *error) {
  int la = std::max(n, 0);
  int lb = la;
  while (la > 0 && a[la - 1] == ' ')
    --la;
  while (lb > 0 && b[lb - 1] == ' ')
    --lb;
  return platform_collate(a, la, b, lb, error);
}

int _oncharcmp(const char *a, int la, const char *b, int lb, int *error) {
  return platform_collate(a, dvz_byleng(a, la), b, dvz_byleng(b, lb), error);
}

}  // extern "C"
