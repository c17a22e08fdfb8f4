/*
** stored_strings.cpp: NUL-terminated string and counted byte operations
** of the client library (comparison, copying, padding, trailing blanks).
** Called throughout the client environment, the value library and the
** runtime. Comparisons are of unsigned bytes and give exactly -1, 0 or 1;
** a count that is not positive touches nothing.
**
** stcmpri maps through the client's lower-case map, and byleng asks the
** current locale environment whether text is multibyte; everything else
** here is independent of the locale.
*/
#include <cstring>

#include "gl_chars.h"
#include "os_context.h"
#include "os_glsenv.h"
#include "os_stored.h"

namespace {

constexpr unsigned char blank = 0x20;

int sign_of(int difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

/* The byte at p as the unsigned value the comparisons use. */
unsigned byte_at(const char *p) { return static_cast<unsigned char>(*p); }

/* A character ends a cmprstr comparison when it is the end or a blank. */
bool ends_field(char c) { return c == '\0' || c == ' '; }

/* byleng in a multibyte locale: the end of the last character that is not
** a blank non-control character. An invalid or cut character ends the
** walk there: the result is the end of the last character kept before
** it, as the locale-aware comparisons measure values. */
int multibyte_length(gl_locale *loc, const unsigned char *buf, int n) {
  int kept = 0;
  int at = 0;
  while (at < n) {
    const int length = _dvz_gl_full_mblen(loc, buf + at, n - at);
    if (length <= 0) break;
    const bool trailing_blank = _dvz_gl_im_ismctype(loc, buf + at, length, GL_CLASS_BLANK) != 0 &&
                                _dvz_gl_im_ismctype(loc, buf + at, length, GL_CLASS_CNTRL) == 0;
    at += length;
    if (!trailing_blank) kept = at;
  }
  return kept;
}

}  // namespace

extern "C" {

void stcat(const char *src, char *dst) { std::strcat(dst, src); }

void stcopy(const char *src, char *dst) { std::strcpy(dst, src); }

int stleng(const char *s) { return static_cast<int>(std::strlen(s)); }

int stnleng(const char *s, int n) {
  if (n <= 0) return 0;
  return static_cast<int>(strnlen(s, static_cast<size_t>(n)));
}

int stcmpr(const char *a, const char *b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return sign_of(static_cast<int>(byte_at(a)) - static_cast<int>(byte_at(b)));
}

int stcmpri(const char *a, const char *b) {
  for (;; ++a, ++b) {
    const int la = _ix2lowmap[byte_at(a)];
    const int lb = _ix2lowmap[byte_at(b)];
    if (la != lb) return sign_of(la - lb);
    if (*a == '\0') return 0;
  }
}

char *stchr(const char *s, char c) {
  for (; *s != '\0'; ++s) {
    if (*s == c) return const_cast<char *>(s);
  }
  return nullptr;
}

int cmprstr(const char *a, const char *b, int n) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : -1;
  for (int i = 0; i < n; ++i) {
    const bool a_ends = ends_field(a[i]);
    const bool b_ends = ends_field(b[i]);
    if (a_ends && b_ends) return 0;
    if (a_ends || b_ends || a[i] != b[i]) return -1;
  }
  return 0;
}

void _sttrmrt(char *s, int n) {
  size_t length = n < 0 ? std::strlen(s) : strnlen(s, static_cast<size_t>(n));
  while (length > 0 && s[length - 1] == ' ')
    --length;
  s[length] = '\0';
}

int bycmpr(const void *a, const void *b, int n) {
  if (n <= 0) return 0;
  return sign_of(std::memcmp(a, b, static_cast<size_t>(n)));
}

void bycopy(const void *src, void *dst, int n) {
  if (n > 0) std::memmove(dst, src, static_cast<size_t>(n));
}

void bylcopy(const void *src, void *dst, int n) { bycopy(src, dst, n); }

void byfill(void *dst, int n, int c) {
  if (n > 0) std::memset(dst, c, static_cast<size_t>(n));
}

int dvz_byleng(const char *buf, int n) {
  if (n <= 0) return 0;
  while (n > 0 && static_cast<unsigned char>(buf[n - 1]) == blank)
    --n;
  return n;
}

int byleng(const char *buf, int n) {
  if (n <= 0) return 0;
  gl_locale *loc = CheckGlsEnv()->locale;
  if (loc == nullptr || gl_mb_loc_max(loc) <= 1) return dvz_byleng(buf, n);
  return multibyte_length(loc, reinterpret_cast<const unsigned char *>(buf), n);
}

int charcmp(const char *a, int la, const char *b, int lb) {
  const int common = la < lb ? la : lb;
  const int head = bycmpr(a, b, common);
  if (head != 0 || la == lb) return head;
  /* The longer value's extra bytes against the blanks of the shorter. */
  const char *rest = la > lb ? a + common : b + common;
  const int extra = (la > lb ? la : lb) - common;
  const int longer_sign = la > lb ? 1 : -1;
  for (int i = 0; i < extra; ++i) {
    const unsigned c = byte_at(rest + i);
    if (c != blank) return c > blank ? longer_sign : -longer_sign;
  }
  return 0;
}

int _gIsRangeFilled(const void *buf, int n, int c) {
  const unsigned char *p = static_cast<const unsigned char *>(buf);
  for (int i = 0; i < n; ++i) {
    if (p[i] != static_cast<unsigned char>(c)) return 0;
  }
  return 1;
}

}  // extern "C"
