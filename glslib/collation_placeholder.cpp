/*
** Stand-ins for the collation routines that the loader installs in a
** record's mbscoll_fn, mbfscoll_fn and mbsxfrm_fn: they compare and make
** keys by bytes (unsigned), whatever the locale's COLLATE data says, until
** the real comparers replace them.
**
** Callers: whoever calls through the record's collation slots. Calls:
** nothing but the error word.
*/

#include "collation_internal.h"
#include "locale_internal.h"

#include <cstring>

namespace {

int compare_terminated(const unsigned char *a, const unsigned char *b) {
  int c = std::strcmp(reinterpret_cast<const char *>(a), reinterpret_cast<const char *>(b));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

/* Counted form: both -1 terminated; one -1 error 56 and 0. */
int compare_counted(gl_locale *loc, const unsigned char *a, int la, const unsigned char *b,
                    int lb) {
  if (la == -1 && lb == -1) return compare_terminated(a, b);
  if (la == -1 || lb == -1) {
    glslib::store_error(loc, GL_EMIXEDLEN);
    return 0;
  }
  if (la < 0 || lb < 0) {
    glslib::store_error(loc, GL_EBADARG);
    return 0;
  }
  int n = la < lb ? la : lb;
  int c = n > 0 ? std::memcmp(a, b, static_cast<std::size_t>(n)) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

/* The key is the string's bytes; returns its length, writing at most size
** bytes (terminated only when the length is below size). */
int byte_key(unsigned char *out, const unsigned char *s, int size) {
  int length = static_cast<int>(std::strlen(reinterpret_cast<const char *>(s)));
  if (out != nullptr && size > 0) {
    int n = length < size ? length + 1 : size;
    std::memcpy(out, s, static_cast<std::size_t>(n));
  }
  return length;
}

}  // namespace

extern "C" {

#define GL_BYTE_COLL_PAIR(term, counted)                                                  \
  int term(gl_locale *, const unsigned char *s1, const unsigned char *s2) {               \
    return compare_terminated(s1, s2);                                                    \
  }                                                                                       \
  int counted(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2, \
              int len2) {                                                                 \
    return compare_counted(loc, s1, len1, s2, len2);                                      \
  }

GL_BYTE_COLL_PAIR(_gl_thaismocoll, _dvz_gl_thaismoncoll)
GL_BYTE_COLL_PAIR(_gl_im_mbscoll, _dvz_gl_im_mbfscoll)
GL_BYTE_COLL_PAIR(_gl_is_mbscoll_back, _dvz_gl_is_mbfscoll_back)
GL_BYTE_COLL_PAIR(_gl_is_mbscoll_exp, _dvz_gl_is_mbfscoll_exp)
GL_BYTE_COLL_PAIR(_gl_is_mbscoll_elem, _dvz_gl_is_mbfscoll_elem)
GL_BYTE_COLL_PAIR(_gl_is_mbscoll_exp_elem, _dvz_gl_is_mbfscoll_exp_elem)

#undef GL_BYTE_COLL_PAIR

int _gl_thaismoxfrm(gl_locale *, unsigned char *out, const unsigned char *s, int size) {
  return byte_key(out, s, size);
}

int gl_full_mbsxfrm(gl_locale *, unsigned char *out, const unsigned char *s, int size) {
  return byte_key(out, s, size);
}

}  // extern "C"
