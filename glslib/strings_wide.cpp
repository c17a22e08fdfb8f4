/*
** Wide strings of gl_wchar: copying, appending and searching, each in a
** terminated form (ended by the value 0) and a counted form that takes a
** length in characters (-1: terminated).
**
** Called by the client library and by the monetary and time code, which
** build their texts with the copy and append operations. Calls only the
** host services for the error word: a wide string needs no table, so
** these operations read no part of the record but its error word. The
** four operations without a record (cat, cpy, ncpy, ncat) pass NULL to
** their counted forms, which then store no error.
*/

#include "strings_internal.h"

#include <algorithm>

namespace {

using glslib::strings::one_usable;
using glslib::strings::pair_usable;
using glslib::strings::store_error;

/* Characters before the 0 of a terminated string, or the counted length. */
int length_of(const gl_wchar *s, int n) { return n == -1 ? gl_wcslen(s) : n; }

/* True when wc is one of the characters of set (setlen -1: terminated). */
bool in_set(const gl_wchar *set, int setlen, gl_wchar wc) {
  if (setlen == -1) {
    for (; *set != 0; ++set) {
      if (*set == wc) return true;
    }
    return false;
  }
  return std::find(set, set + setlen, wc) != set + setlen;
}

/* The search result "nothing": the error word cleared, NULL. */
gl_wchar *not_found(gl_locale *loc) {
  *_gl_ext_errno(loc) = GL_ENOERR;
  return nullptr;
}

/* Length of the first run of s whose characters are (member true) or are
** not (member false) in set. */
int span(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *set, int setlen,
         bool member) {
  if (!pair_usable(loc, true, s, slen, set, setlen)) return -1;
  int i = 0;
  for (; slen == -1 ? s[i] != 0 : i < slen; ++i) {
    if (in_set(set, setlen, s[i]) != member) break;
  }
  return i;
}

}  // namespace

extern "C" {

/* ---- Copying and appending ---------------------------------------------- */

int _dvz_gl_wcscat(gl_locale *loc, gl_wchar *dst, int dlen, const gl_wchar *src, int slen) {
  if (!pair_usable(loc, loc != nullptr, dst, dlen, src, slen)) return -1;
  const int start = length_of(dst, dlen);
  const int count = length_of(src, slen);
  std::copy(src, src + count, dst + start);
  if (dlen == -1) dst[start + count] = 0;
  return start + count;
}

gl_wchar *gl_wcscat(gl_wchar *dst, const gl_wchar *src) {
  return _dvz_gl_wcscat(nullptr, dst, -1, src, -1) < 0 ? nullptr : dst;
}

int _dvz_gl_wcscpy(gl_locale *loc, gl_wchar *dst, const gl_wchar *src, int n) {
  if (!pair_usable(loc, loc != nullptr, dst, n, src, n)) return -1;
  const int count = length_of(src, n);
  std::copy(src, src + count, dst);
  if (n == -1) dst[count] = 0;
  return count;
}

gl_wchar *gl_wcscpy(gl_wchar *dst, const gl_wchar *src) {
  return _dvz_gl_wcscpy(nullptr, dst, src, -1) < 0 ? nullptr : dst;
}

int _dvz_gl_wcsncpy(gl_locale *loc, gl_wchar *dst, const gl_wchar *src, int slen, int n) {
  const bool store = loc != nullptr;
  if (!one_usable(loc, store, dst, 0) || !one_usable(loc, store, src, slen)) return -1;
  if (n < 0) {
    store_error(loc, store, GL_EBADARG);
    return -1;
  }
  int count = 0;
  if (slen == -1) {
    while (count < n && src[count] != 0) {
      dst[count] = src[count];
      ++count;
    }
    std::fill(dst + count, dst + n, gl_wchar {0});
    return count;
  }
  count = std::min(slen, n);
  std::copy(src, src + count, dst);
  return count;
}

gl_wchar *gl_wcsncpy(gl_wchar *dst, const gl_wchar *src, int n) {
  return _dvz_gl_wcsncpy(nullptr, dst, src, -1, n) < 0 ? nullptr : dst;
}

int _dvz_gl_wcsncat(gl_locale *loc, gl_wchar *dst, int dlen, const gl_wchar *src, int slen, int n) {
  if (!pair_usable(loc, loc != nullptr, dst, dlen, src, slen)) return -1;
  const int start = length_of(dst, dlen);
  if (n < 1) return start;
  int count = 0;
  if (slen == -1) {
    while (count < n && src[count] != 0) {
      dst[start + count] = src[count];
      ++count;
    }
    if (count > 0) dst[start + count] = 0;
    return start + count;
  }
  count = std::min(slen, n);
  std::copy(src, src + count, dst + start);
  return start + count;
}

gl_wchar *gl_wcsncat(gl_wchar *dst, const gl_wchar *src, int n) {
  return _dvz_gl_wcsncat(nullptr, dst, -1, src, -1, n) < 0 ? nullptr : dst;
}

/* ---- Searching ---------------------------------------------------------- */

gl_wchar *_dvz_gl_wcschr(gl_locale *loc, const gl_wchar *s, int n, gl_wchar wc) {
  if (!one_usable(loc, true, s, n)) return nullptr;
  for (int i = 0; n == -1 || i < n; ++i) {
    if (s[i] == wc) return const_cast<gl_wchar *>(s + i);
    if (n == -1 && s[i] == 0) break;
  }
  return not_found(loc);
}

gl_wchar *gl_wcschr(gl_locale *loc, const gl_wchar *s, gl_wchar wc) {
  return _dvz_gl_wcschr(loc, s, -1, wc);
}

gl_wchar *_dvz_gl_wcsrchr(gl_locale *loc, const gl_wchar *s, int n, gl_wchar wc) {
  if (!one_usable(loc, true, s, n)) return nullptr;
  const gl_wchar *found = nullptr;
  for (int i = 0; n == -1 || i < n; ++i) {
    if (s[i] == wc) found = s + i;
    if (n == -1 && s[i] == 0) break;
  }
  return found != nullptr ? const_cast<gl_wchar *>(found) : not_found(loc);
}

gl_wchar *gl_wcsrchr(gl_locale *loc, const gl_wchar *s, gl_wchar wc) {
  return _dvz_gl_wcsrchr(loc, s, -1, wc);
}

int _dvz_gl_wcsspn(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *set, int setlen) {
  return span(loc, s, slen, set, setlen, true);
}

int gl_wcsspn(gl_locale *loc, const gl_wchar *s, const gl_wchar *set) {
  return span(loc, s, -1, set, -1, true);
}

int _dvz_gl_wcscspn(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *set, int setlen) {
  return span(loc, s, slen, set, setlen, false);
}

int gl_wcscspn(gl_locale *loc, const gl_wchar *s, const gl_wchar *set) {
  return span(loc, s, -1, set, -1, false);
}

gl_wchar *_dvz_gl_wcswcs(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *sub,
                         int sublen) {
  if (!pair_usable(loc, true, s, slen, sub, sublen)) return nullptr;
  const int want = length_of(sub, sublen);
  if (want == 0) return const_cast<gl_wchar *>(s);
  /* A terminated s is compared up to its first mismatch only: its 0 never
  ** equals a character of sub, so no comparison reads past it. */
  for (int i = 0; slen == -1 ? s[i] != 0 : i + want <= slen; ++i) {
    int j = 0;
    while (j < want && s[i + j] == sub[j])
      ++j;
    if (j == want) return const_cast<gl_wchar *>(s + i);
  }
  return not_found(loc);
}

gl_wchar *gl_wcswcs(gl_locale *loc, const gl_wchar *s, const gl_wchar *sub) {
  return _dvz_gl_wcswcs(loc, s, -1, sub, -1);
}

gl_wchar *_dvz_gl_wcspbrk(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *set,
                          int setlen) {
  const int run = span(loc, s, slen, set, setlen, false);
  if (run < 0) return nullptr;
  const bool at_end = slen == -1 ? s[run] == 0 : run == slen;
  return at_end ? not_found(loc) : const_cast<gl_wchar *>(s + run);
}

gl_wchar *gl_wcspbrk(gl_locale *loc, const gl_wchar *s, const gl_wchar *set) {
  return _dvz_gl_wcspbrk(loc, s, -1, set, -1);
}

}  // extern "C"
