/*
** strings_internal.h: what the modules of the string library
** (strings_wide.cpp, strings_multibyte.cpp, streams.cpp) share; not part of
** the library's interface.
**
** The argument rule of the paired forms lives here once: a NULL string is
** error 2, one length -1 beside one that is not is error 56, any other
** negative length error 9. And the one step over a multibyte string that
** every multibyte operation uses, which never reads past the length it is
** given.
*/
#ifndef DVZ_GLSLIB_STRINGS_INTERNAL_H
#define DVZ_GLSLIB_STRINGS_INTERNAL_H

#include "chars_internal.h"
#include "gl_strings.h"

namespace glslib::strings {

/* Stores error in loc when store is true. */
inline void store_error(gl_locale *loc, bool store, int error) {
  if (store) *_gl_ext_errno(loc) = error;
}

/* Checks the two strings of a paired call and their lengths (a length of
** -1 is "terminated"). True when usable; else false with 2, 56 or 9 stored
** (when store is true), in that order. */
inline bool pair_usable(gl_locale *loc, bool store, const void *a, int alen, const void *b,
                        int blen) {
  if (a == nullptr || b == nullptr) {
    store_error(loc, store, GL_ENULLPTR);
    return false;
  }
  if ((alen == -1) != (blen == -1)) {
    store_error(loc, store, GL_EMIXEDLEN);
    return false;
  }
  if (alen < -1 || blen < -1) {
    store_error(loc, store, GL_EBADARG);
    return false;
  }
  return true;
}

/* The same for a call with one string. */
inline bool one_usable(gl_locale *loc, bool store, const void *s, int len) {
  if (s == nullptr) {
    store_error(loc, store, GL_ENULLPTR);
    return false;
  }
  if (len < -1) {
    store_error(loc, store, GL_EBADARG);
    return false;
  }
  return true;
}

/* The terminator's length: 1 in a single-byte locale, else the code set's
** shortest character. */
inline int terminator_length(const gl_locale *loc) {
  return loc->single_byte == 1 ? 1 : chars::shortest_char(loc);
}

/* One character of a multibyte string. */
struct Step {
  int length = 0; /* its bytes */
  gl_wchar wc = 0; /* its packed value */
  bool end = false; /* the terminator of a terminated string */
};

/* Reads the character at p of a string with limit bytes left (-1: the
** string is terminated; then its terminator gives end). In a single-byte
** locale every byte is a character; elsewhere a null character (the
** shortest length of zero bytes) is one character. False with 7 (cut by
** the limit, or no byte left) or 1 (invalid) stored. */
bool step(gl_locale *loc, const unsigned char *p, int limit, Step *out);

/* True when the character of length bytes at p is the code set's newline:
** 0x0A after gl_mb_loc_min - 1 zero bytes, of exactly that length. */
bool is_newline(gl_locale *loc, const unsigned char *p, int length);

}  // namespace glslib::strings

#endif
