/*
** Comparisons by code point: wide strings by their values, multibyte
** strings character by character or by bytes. No collation data is read.
**
** Callers: the client library (sorting, CHAR comparison, MATCHES and LIKE
** brackets) and the multibyte comparer of a code-set-order locale. Calls:
** the character layer for character lengths.
*/

#include <cstdint>
#include <cstring>

#include "collation_internal.h"
#include "locale_internal.h"

using glslib::store_error;

namespace {

int sign_of(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

/* Bytes of the first n characters of s (fewer when it ends); -1 on an
** invalid character (error 1 stored by the character layer). */
int bytes_of_chars(gl_locale *loc, const unsigned char *s, int n) {
  int used = 0;
  for (int i = 0; i < n; ++i) {
    int length = gl_full_mblen(loc, s + used, 4);
    if (length < 0) return -1;
    if (length == 0) break;
    used += length;
  }
  return used;
}

}  // namespace

extern "C" {

int gl_wcscmp(const gl_wchar *w1, const gl_wchar *w2) {
  static const gl_wchar empty = 0;
  if (w1 == nullptr) w1 = &empty;
  if (w2 == nullptr) w2 = &empty;
  for (;; ++w1, ++w2) {
    if (*w1 != *w2) return *w1 < *w2 ? -1 : 1;
    if (*w1 == 0) return 0;
  }
}

int _dvz_gl_wcfscmp(const gl_wchar *w1, int len1, const gl_wchar *w2, int len2) {
  if (len1 == -1) len1 = gl_wcslen(w1);
  if (len2 == -1) len2 = gl_wcslen(w2);
  if (len1 < 0) len1 = 0;
  if (len2 < 0) len2 = 0;
  const int n = len1 < len2 ? len1 : len2;
  for (int i = 0; i < n; ++i) {
    if (w1[i] != w2[i]) return w1[i] < w2[i] ? -1 : 1;
  }
  return len1 - len2;
}

int gl_wcsncmp(const gl_wchar *w1, const gl_wchar *w2, int n) {
  if (n < 1 || w1 == nullptr || w2 == nullptr) return 0;
  for (int i = 0; i < n; ++i) {
    if (w1[i] != w2[i] || w1[i] == 0) {
      /* Values are unsigned 32-bit: their difference may not fit an int,
      ** and its sign must still be that of gl_wcscmp. */
      const long long diff = static_cast<long long>(w1[i]) - static_cast<long long>(w2[i]);
      if (diff >= INT32_MIN && diff <= INT32_MAX) return static_cast<int>(diff);
      return sign_of(diff);
    }
  }
  return 0;
}

int gl_full_mbscmp(gl_locale *loc, const unsigned char *s1, const unsigned char *s2) {
  if (loc == nullptr) return 0;
  if (s1 == nullptr || s2 == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return 0;
  }
  for (;;) {
    const int l1 = gl_full_mblen(loc, s1, 4);
    const int l2 = gl_full_mblen(loc, s2, 4);
    if (l1 != l2) return l1 < l2 ? -1 : 1;
    if (l1 == 0) return 0;
    if (l1 < 0) {
      /* Two invalid characters at one place: their first bytes decide,
      ** and the walk cannot go past them. */
      return *s1 == *s2 ? 0 : (*s1 < *s2 ? -1 : 1);
    }
    const int c = std::memcmp(s1, s2, static_cast<std::size_t>(l1));
    if (c != 0) return c < 0 ? -1 : 1;
    s1 += l1;
    s2 += l1;
  }
}

int gl_full_mbsncmp(gl_locale *loc, const unsigned char *s1, const unsigned char *s2, int n) {
  if (loc == nullptr) return 0;
  if (s1 == nullptr || s2 == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return 0;
  }
  if (n < 1) return 0;
  const int b1 = bytes_of_chars(loc, s1, n);
  const int b2 = bytes_of_chars(loc, s2, n);
  if (b1 < 0 || b2 < 0) {
    store_error(loc, GL_EILSEQ);
    return 0;
  }
  const int common = b1 < b2 ? b1 : b2;
  const int c = common > 0 ? std::memcmp(s1, s2, static_cast<std::size_t>(common)) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return b1 < b2 ? -1 : (b1 > b2 ? 1 : 0);
}

int _dvz_gl_mbscmp(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                   int len2) {
  if (!glslib::collation_args_usable(loc, s1, len1, s2, len2)) return 0;
  if (len1 == -1) {
    const int term = gl_mb_loc_min(loc);
    const int all1 = gl_mbsbytes(loc, s1), all2 = gl_mbsbytes(loc, s2);
    if (all1 == 0 || all2 == 0) {
      store_error(loc, GL_EILSEQ);
      return 0;
    }
    len1 = all1 - term;
    len2 = all2 - term;
  }
  if (len1 < 0 || len2 < 0) {
    store_error(loc, GL_EBADARG);
    return 0;
  }
  const int common = len1 < len2 ? len1 : len2;
  const int c = common > 0 ? std::memcmp(s1, s2, static_cast<std::size_t>(common)) : 0;
  if (c != 0) return c;
  return len1 - len2;
}

}  // extern "C"
