/*
** Character classes, case mapping and trailing blanks of a locale.
**
** Class masks come from the record's ctype_table (or, in a single-byte
** locale, its 256-entry class_map); case partners from case_table and
** case_pairs (or upper_map / lower_map). Called by the loader (the byte
** maps are built from _gl_im_towupper / _gl_im_towlower), the string,
** number and time layers and the client library. Calls: the walk of the
** multi-level tables and the host services for the error word.
*/

#include "chars_internal.h"

#include <cmath>
#include <cstring>
#include <string_view>

namespace glslib::chars {

gl_wchar case_partner(const gl_locale *loc, gl_wchar wc, bool upper) {
  walk_result f = glslib::multi::walk_packed(loc->case_table, wc, nullptr);
  const int index = glslib::multi::entry_u16(loc->case_table, f.entry);
  if (f.status != walk_status::found || index == 0 || loc->case_pairs == nullptr ||
      index > loc->case_pair_count) {
    return wc;
  }
  const gl_case_pair &pair = loc->case_pairs[index];
  gl_wchar member = upper ? pair.upper : pair.lower;
  return member != 0 ? member : wc;
}

gl_wchar fold_case(gl_locale *loc, gl_wchar wc) {
  if (loc->single_byte == 1 && loc->lower_map != nullptr) {
    if (wc > 0xFFu) {
      set_error(loc, GL_EILSEQ);
      return wc;
    }
    return loc->lower_map[wc];
  }
  return case_partner(loc, wc, false);
}

}  // namespace glslib::chars

namespace {

using namespace glslib::chars;

struct ClassName {
  std::string_view name;
  int mask;
};

/* The standard names, in the order they are compared. */
constexpr ClassName standard_classes[] = {
    {"upper", GL_CLASS_UPPER}, {"lower", GL_CLASS_LOWER},
    {"alpha", GL_CLASS_ALPHA}, {"digit", GL_CLASS_DIGIT},
    {"space", GL_CLASS_SPACE}, {"cntrl", GL_CLASS_CNTRL},
    {"punct", GL_CLASS_PUNCT}, {"graph", GL_CLASS_GRAPH},
    {"print", GL_CLASS_PRINT}, {"xdigit", GL_CLASS_XDIGIT},
    {"blank", GL_CLASS_BLANK}, {"alnum", GL_CLASS_ALPHA | GL_CLASS_DIGIT},
};

/* Class mask of the multibyte character at s with a byte limit (-1 none);
** its length in *length. False (error 1 or 7 stored) when it is invalid. */
bool mb_class(gl_locale *loc, const unsigned char *s, int limit, int *mask, int *length) {
  if (has_byte_maps(loc)) {
    if (limit == 0) {
      set_error(loc, GL_EINVAL);
      return false;
    }
    *mask = loc->class_map[*s];
    *length = 1;
    return true;
  }
  walk_result f = decode_at(loc, s, limit);
  if (f.status != walk_status::found) {
    set_error(loc, f.status == walk_status::cut ? GL_EINVAL : GL_EILSEQ);
    return false;
  }
  *mask = class_mask(loc, f);
  *length = f.length;
  return true;
}

/* Byte-map case conversion of a terminated single-byte string. */
int map_string(const unsigned char *map, unsigned char *out, const unsigned char *s) {
  int n = 0;
  for (; s[n] != 0; ++n)
    out[n] = map[s[n]];
  out[n] = 0;
  return n;
}

int tombs_impl(gl_locale *loc, unsigned char *out, const unsigned char *s, bool upper) {
  if (out == nullptr || s == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  const unsigned char *map = upper ? loc->upper_map : loc->lower_map;
  if (map != nullptr) return map_string(map, out, s);
  int written = 0;
  for (;;) {
    walk_result f = decode_at(loc, s, -1);
    if (f.status != walk_status::found) {
      set_error(loc, GL_EILSEQ);
      return -1;
    }
    if (f.wc == 0) {
      gl_mbsterm(loc, out + written);
      return written;
    }
    gl_wchar partner = case_partner(loc, f.wc, upper);
    int n = partner != f.wc ? gl_full_wctomb(loc, out + written, partner) : -1;
    if (n < 0) { /* no partner, or one that is no character */
      std::memcpy(out + written, s, static_cast<std::size_t>(f.length));
      n = f.length;
    }
    written += n;
    s += f.length;
  }
}

int towcs_impl(gl_locale *loc, gl_wchar *out, const gl_wchar *wcs, bool upper) {
  if (out == nullptr || wcs == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  const unsigned char *map = upper ? loc->upper_map : loc->lower_map;
  int i = 0;
  for (; wcs[i] != 0; ++i) {
    if (map != nullptr) {
      if (wcs[i] > 0xFFu) {
        set_error(loc, GL_EILSEQ);
        return -1;
      }
      out[i] = map[wcs[i]];
      continue;
    }
    if (encode(loc, wcs[i], nullptr).status != walk_status::found) {
      set_error(loc, GL_EILSEQ);
      return -1;
    }
    out[i] = case_partner(loc, wcs[i], upper);
  }
  out[i] = 0;
  return 0;
}

/* Argument check of the trailing-blank counts: true when n is -1 or more
** and the string is given; else false with GL_EBADARG or GL_ENULLPTR
** stored (in that order). */
bool trailing_args_usable(gl_locale *loc, const void *text, int n) {
  if (n < -1) {
    set_error(loc, GL_EBADARG);
    return false;
  }
  if (text == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return false;
  }
  return true;
}

/* Trailing-blank count over a multibyte string: characters (or bytes)
** up to and including the last one that is not blank. n = -1: terminated. */
int mbsnts_impl(gl_locale *loc, const unsigned char *s, int n, bool bytes) {
  if (!trailing_args_usable(loc, s, n)) return -1;
  int result = 0;
  int pending = 0;
  int used = 0;
  while (n == -1 || used < n) {
    if (n == -1 && gl_ismbsterm(loc, s + used) != 0) break;
    int mask = 0;
    int length = 0;
    if (!mb_class(loc, s + used, n == -1 ? -1 : n - used, &mask, &length)) return -1;
    bool blank = (mask & GL_CLASS_BLANK) != 0 && (mask & GL_CLASS_CNTRL) == 0;
    int amount = bytes ? length : 1;
    if (blank) {
      pending += amount;
    } else {
      result += pending + amount;
      pending = 0;
    }
    used += length;
  }
  return result;
}

}  // namespace

extern "C" {

int gl_ctype(gl_locale *loc, const char *name) {
  if (name == nullptr) return 0;
  std::string_view wanted(name);
  for (const ClassName &c : standard_classes) {
    if (c.name == wanted) return c.mask;
  }
  for (int i = 0; loc->classes != nullptr && i < loc->class_count; ++i) {
    const char *own = loc->classes[i].name;
    if (own != nullptr && wanted == own) {
      return static_cast<int>(static_cast<uint32_t>(GL_CLASS_NAMED)
                              << (static_cast<uint32_t>(loc->classes[i].number) & 31u));
    }
  }
  return 0;
}

int _gl_im_iswctype(gl_locale *loc, gl_wchar wc, int mask) {
  walk_result f = encode(loc, wc, nullptr);
  if (f.status != walk_status::found) {
    set_error(loc, GL_EILSEQ);
    return 0;
  }
  return class_mask(loc, f) & mask;
}

int im_iswctype(gl_locale *loc, gl_wchar wc, int mask) { return _gl_im_iswctype(loc, wc, mask); }

int _gl_im_ismctype(gl_locale *loc, const unsigned char *s, int mask) {
  walk_result f = decode_at(loc, s, -1);
  if (f.status != walk_status::found) {
    set_error(loc, GL_EILSEQ);
    return 0;
  }
  return class_mask(loc, f) & mask;
}

int im_ismctype(gl_locale *loc, const unsigned char *s, int mask) {
  return _gl_im_ismctype(loc, s, mask);
}

int _dvz_gl_im_ismctype(gl_locale *loc, const unsigned char *s, int n, int mask) {
  if (n < 1) {
    set_error(loc, GL_EINVAL);
    return 0;
  }
  walk_result f = decode_at(loc, s, n);
  if (f.status != walk_status::found) {
    set_error(loc, f.status == walk_status::cut ? GL_EINVAL : GL_EILSEQ);
    return 0;
  }
  return class_mask(loc, f) & mask;
}

gl_wchar _gl_im_towupper(gl_locale *loc, gl_wchar wc) { return case_partner(loc, wc, true); }

gl_wchar _gl_im_towlower(gl_locale *loc, gl_wchar wc) { return case_partner(loc, wc, false); }

gl_wchar im_towlower(gl_locale *loc, gl_wchar wc) { return _gl_im_towlower(loc, wc); }

int gl_tombsupper(gl_locale *loc, unsigned char *out, const unsigned char *s) {
  return tombs_impl(loc, out, s, true);
}

int gl_tombslower(gl_locale *loc, unsigned char *out, const unsigned char *s) {
  return tombs_impl(loc, out, s, false);
}

int gl_towcsupper(gl_locale *loc, gl_wchar *out, const gl_wchar *wcs) {
  return towcs_impl(loc, out, wcs, true);
}

int gl_towcslower(gl_locale *loc, gl_wchar *out, const gl_wchar *wcs) {
  return towcs_impl(loc, out, wcs, false);
}

int gl_case_conv_outbuflen(gl_locale *loc, int n) {
  return static_cast<int>(std::ceil(loc->case_expansion)) * n;
}

/* ---- Trailing blanks ---------------------------------------------------- */

int _dvz_gl_wcsntslen(gl_locale *loc, const gl_wchar *wcs, int n) {
  if (!trailing_args_usable(loc, wcs, n)) return -1;
  int result = 0;
  int pending = 0;
  for (int i = 0; n == -1 ? wcs[i] != 0 : i < n; ++i) {
    int mask = 0;
    if (has_byte_maps(loc)) {
      if (wcs[i] > 0xFFu) {
        set_error(loc, GL_EILSEQ); /* counts as not blank */
      } else {
        mask = loc->class_map[wcs[i]];
      }
    } else {
      walk_result f = encode(loc, wcs[i], nullptr);
      if (f.status != walk_status::found) {
        set_error(loc, GL_EILSEQ);
        return -1;
      }
      mask = class_mask(loc, f);
    }
    if ((mask & GL_CLASS_SPACE) != 0 && (mask & GL_CLASS_CNTRL) == 0) {
      ++pending;
    } else {
      result += pending + 1;
      pending = 0;
    }
  }
  return result;
}

int gl_wcsntslen(gl_locale *loc, const gl_wchar *wcs) { return _dvz_gl_wcsntslen(loc, wcs, -1); }

int gl_mbsntslen(gl_locale *loc, const unsigned char *s) { return mbsnts_impl(loc, s, -1, false); }

int _dvz_gl_mbsntslen(gl_locale *loc, const unsigned char *s, int n) {
  return mbsnts_impl(loc, s, n, false);
}

int gl_mbsntsbytes(gl_locale *loc, const unsigned char *s) { return mbsnts_impl(loc, s, -1, true); }

int _dvz_gl_mbsntsbytes(gl_locale *loc, const unsigned char *s, int n) {
  return mbsnts_impl(loc, s, n, true);
}

}  // extern "C"
