/*
** Display width of characters and strings in a locale: a printable
** character is one column, or two when the locale defines the class
** "full_width" and the character has it; asking the width of a
** non-printable character is error 7.
**
** Called by the string layer and the client library's column layout.
** Calls: the class look-ups of the character layer (class_map in a
** single-byte locale, else the ctype_table walk) and gl_ctype.
*/

#include "chars_internal.h"

namespace {

using namespace glslib::chars;

/* The columns of a printable character of mask, given the locale's
** "full_width" mask (0 when the locale has no such class). */
int columns(int mask, int full_width) {
  return full_width != 0 && (mask & full_width) != 0 ? 2 : 1;
}

/* Class mask of a wide value; false (error stored) when it has none. With
** the byte maps a value above 255 stores 1 first, then the caller's 7. */
bool wide_mask(gl_locale *loc, gl_wchar wc, int *mask) {
  if (has_byte_maps(loc)) {
    if (wc > 0xFFu) {
      set_error(loc, GL_EILSEQ);
      return false;
    }
    *mask = loc->class_map[wc];
    return true;
  }
  walk_result f = encode(loc, wc, nullptr);
  if (f.status != walk_status::found) return false;
  *mask = class_mask(loc, f);
  return true;
}

/* Class mask and length of the multibyte character at s; false when it is
** no character (nothing stored). */
bool multibyte_mask(gl_locale *loc, const unsigned char *s, int *mask, int *length) {
  if (has_byte_maps(loc)) {
    *mask = loc->class_map[*s];
    *length = 1;
    return true;
  }
  walk_result f = decode_at(loc, s, -1);
  if (f.status != walk_status::found) return false;
  *mask = class_mask(loc, f);
  *length = f.length;
  return true;
}

int not_printable(gl_locale *loc) {
  set_error(loc, GL_EINVAL);
  return -1;
}

/* Argument check of the counted forms: true when s is given and n is not
** negative; else false with GL_ENULLPTR or GL_ENEGCOUNT stored. */
bool counted_usable(gl_locale *loc, const void *s, int n) {
  if (s == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return false;
  }
  if (n < 0) {
    set_error(loc, GL_ENEGCOUNT);
    return false;
  }
  return true;
}

/* Argument check of the ranged forms: true when both ends are given and
** start does not lie after end; else false with GL_ENULLPTR or
** GL_EBADPOS stored. */
template <typename T>
bool range_usable(gl_locale *loc, const T *start, const T *end) {
  if (start == nullptr || end == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return false;
  }
  if (start > end) {
    set_error(loc, GL_EBADPOS);
    return false;
  }
  return true;
}

/* Sum of the widths of wide characters from p while more(p) and the string
** goes on; -1 with error 7 at a character without width. */
template <typename More>
int wide_columns(gl_locale *loc, const gl_wchar *p, More more) {
  const int full_width = gl_ctype(loc, "full_width");
  int total = 0;
  for (; more(p) && *p != 0; ++p) {
    int mask = 0;
    if (!wide_mask(loc, *p, &mask) || (mask & GL_CLASS_PRINT) == 0) return not_printable(loc);
    total += columns(mask, full_width);
  }
  return total;
}

}  // namespace

extern "C" {

int gl_wcwidth(gl_locale *loc, gl_wchar wc) {
  if (wc == 0) return 0;
  int mask = 0;
  if (!wide_mask(loc, wc, &mask) || (mask & GL_CLASS_PRINT) == 0) return not_printable(loc);
  return columns(mask, gl_ctype(loc, "full_width"));
}

int gl_mbwidth(gl_locale *loc, const unsigned char *s) {
  if (s == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  if (gl_ismbsterm(loc, s) != 0) return 0;
  int mask = 0;
  int length = 0;
  if (!multibyte_mask(loc, s, &mask, &length)) return not_printable(loc);
  if ((mask & GL_CLASS_PRINT) == 0) return length == 1 ? 1 : not_printable(loc);
  return columns(mask, gl_ctype(loc, "full_width"));
}

int gl_wcswidth(gl_locale *loc, const gl_wchar *wcs, int n) {
  if (!counted_usable(loc, wcs, n)) return -1;
  const gl_wchar *end = wcs + n;
  return wide_columns(loc, wcs, [end](const gl_wchar *p) { return p < end; });
}

int gl_mbswidth(gl_locale *loc, const unsigned char *s, int n) {
  if (!counted_usable(loc, s, n)) return -1;
  const int full_width = gl_ctype(loc, "full_width");
  int total = 0;
  for (int i = 0; i < n && gl_ismbsterm(loc, s) == 0; ++i) {
    int mask = 0;
    int length = 0;
    if (!multibyte_mask(loc, s, &mask, &length) || (mask & GL_CLASS_PRINT) == 0) {
      return not_printable(loc);
    }
    total += columns(mask, full_width);
    s += length;
  }
  return total;
}

int gl_wcspwidth(gl_locale *loc, const gl_wchar *start, const gl_wchar *end) {
  if (!range_usable(loc, start, end)) return -1;
  return wide_columns(loc, start, [end](const gl_wchar *p) { return p < end; });
}

int gl_mbspwidth(gl_locale *loc, const unsigned char *start, const unsigned char *end) {
  set_error(loc, GL_ENOERR);
  if (!range_usable(loc, start, end)) return -1;
  const int full_width = gl_ctype(loc, "full_width");
  int total = 0;
  for (const unsigned char *p = start; p < end && gl_ismbsterm(loc, p) == 0;) {
    int mask = 0;
    int length = 0;
    if (!multibyte_mask(loc, p, &mask, &length)) {
      set_error(loc, GL_EILSEQ); /* left in place: an invalid character */
      return -1;
    }
    if ((mask & GL_CLASS_PRINT) == 0) return not_printable(loc);
    total += columns(mask, full_width);
    p += length;
  }
  return total;
}

}  // extern "C"
