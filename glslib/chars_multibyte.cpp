/*
** Multibyte and wide characters of a locale: decoding a character by
** walking the record's ctype_table, encoding a packed value back to bytes,
** string conversions between the two forms, lengths and stepping through
** multibyte strings.
**
** Called by the loader (the conversions it installs in mbstowcs_fn and
** mbfstowcfs_fn), the rest of the character layer, and every string, number
** and time operation of the library. Calls: the host services for the
** error word and the walk of the multi-level tables (multilevel_internal.h),
** which finds a character's length, value and class in the record's
** ctype_table. A single-byte locale (single_byte 1) takes each byte as one
** character without a table walk where the operations allow it.
*/

#include "chars_internal.h"

#include <cstring>

namespace glslib::chars {

int shortest_char(const gl_locale *loc) {
  const gl_multi_t *t = loc->ctype_table;
  if (t == nullptr) return max_char_length;
  int min = t->min_length;
  if (min < 1) return 1;
  return min > max_char_length ? max_char_length : min;
}

}  // namespace glslib::chars

namespace {

using namespace glslib::chars;

bool all_zero(const unsigned char *s, int n) {
  for (int i = 0; i < n; ++i) {
    if (s[i] != 0) return false;
  }
  return true;
}

/* Argument check of the counted conversions: true when both buffers are
** given and count is -1 or more; else false with GL_ENULLPTR or
** GL_EBADARG stored. */
bool buffers_usable(gl_locale *loc, const void *out, const void *in, int count) {
  if (out == nullptr || in == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return false;
  }
  if (count < -1) {
    set_error(loc, GL_EBADARG);
    return false;
  }
  return true;
}

/* Decodes the character at s with a byte limit (-1: none), storing 7 for a
** cut character and 1 for an invalid one. */
walk_result decode(gl_locale *loc, const unsigned char *s, int limit) {
  walk_result f = decode_at(loc, s, limit);
  if (f.status == walk_status::cut) set_error(loc, GL_EINVAL);
  if (f.status == walk_status::invalid) set_error(loc, GL_EILSEQ);
  return f;
}

/* The character after p, decoded with a byte limit (-1: none); NULL with
** the error stored when p holds no character. */
unsigned char *next_char(gl_locale *loc, const unsigned char *p, int limit) {
  walk_result f = decode(loc, p, limit);
  if (f.status != walk_status::found) return nullptr;
  return const_cast<unsigned char *>(p) + f.length;
}

/* Length of the character at s for gl_full_mblen and its twin: the null
** character gives 0 unless null_length. */
int mblen_impl(gl_locale *loc, const unsigned char *s, int n, bool null_length) {
  if (s == nullptr) return 0;
  if (n < 1) {
    set_error(loc, GL_EINVAL);
    return -1;
  }
  walk_result f = decode(loc, s, n);
  if (f.status != walk_status::found) return -1;
  if (!null_length && all_zero(s, f.length)) return 0;
  return f.length;
}

/* Bytes of the terminated string at s without its terminator; -1 when a
** character is invalid. */
int content_bytes(gl_locale *loc, const unsigned char *s) {
  int total = gl_mbsbytes(loc, s);
  return total == 0 ? -1 : total - shortest_char(loc);
}

/* Case conversion of one character for _gl_im_tomupper and its kin; see
** the header. counted: the _dvz_ form (nothing written on failure). */
int tom_impl(gl_locale *loc, unsigned char *out, const unsigned char *s, int limit, bool upper,
             bool counted) {
  if (counted && limit < 1) return 0;
  walk_result f = glslib::multi::walk(loc->case_table, s, counted ? limit : -1);
  if (f.status != walk_status::found) {
    if (counted) return 0;
    std::memcpy(out, s, static_cast<std::size_t>(f.length));
    return (f.length << 8) | f.length;
  }
  gl_wchar partner = f.wc;
  const int index = glslib::multi::entry_u16(loc->case_table, f.entry);
  if (index != 0 && index <= loc->case_pair_count && loc->case_pairs != nullptr) {
    const gl_case_pair &pair = loc->case_pairs[index];
    gl_wchar member = upper ? pair.upper : pair.lower;
    if (member != 0) partner = member;
  }
  if (partner != f.wc) {
    unsigned char bytes[4];
    walk_result enc = encode(loc, partner, bytes);
    if (enc.status == walk_status::found) {
      std::memcpy(out, bytes, static_cast<std::size_t>(enc.length));
      return (f.length << 8) + (enc.length & 255);
    }
  }
  /* No partner, or one that is no character: the bytes stay as they are. */
  std::memcpy(out, s, static_cast<std::size_t>(f.length));
  return (f.length << 8) | f.length;
}

}  // namespace

extern "C" {

int gl_full_mblen(gl_locale *loc, const unsigned char *s, int n) {
  return mblen_impl(loc, s, n, false);
}

int _dvz_gl_full_mblen(gl_locale *loc, const unsigned char *s, int n) {
  return mblen_impl(loc, s, n, true);
}

int _dvz_gl_full_mbtowc(gl_locale *loc, gl_wchar *wc, const unsigned char *s, int n) {
  if (s == nullptr) return 0;
  if (n == -1) {
    n = content_bytes(loc, s);
    if (n < 0) return -1;
    if (n == 0) {
      set_error(loc, GL_EINVAL);
      return -1;
    }
  }
  if (n < 1) {
    set_error(loc, GL_EINVAL);
    return -1;
  }
  walk_result f = decode(loc, s, n);
  if (f.status != walk_status::found) return -1;
  if (wc != nullptr) *wc = f.wc;
  return f.wc == 0 ? 0 : f.length;
}

int gl_full_mbtowc(gl_locale *loc, gl_wchar *wc, const unsigned char *s, int n) {
  if (s != nullptr && n < 1) {
    set_error(loc, GL_EINVAL);
    return -1;
  }
  return _dvz_gl_full_mbtowc(loc, wc, s, n);
}

int gl_full_wctomb(gl_locale *loc, unsigned char *s, gl_wchar wc) {
  walk_result f = encode(loc, wc, s);
  if (f.status != walk_status::found) {
    set_error(loc, GL_EILSEQ);
    return -1;
  }
  return f.length;
}

int gl_wclen(gl_locale *loc, gl_wchar wc) {
  if (loc->single_byte == 1) return 1;
  walk_result f = encode(loc, wc, nullptr);
  if (f.status != walk_status::found) {
    set_error(loc, GL_EILSEQ);
    return -1;
  }
  return f.length;
}

int gl_mbsterm(gl_locale *loc, unsigned char *p) {
  int n = shortest_char(loc);
  std::memset(p, 0, static_cast<std::size_t>(n));
  return n;
}

int gl_ismbsterm(gl_locale *loc, const unsigned char *p) {
  int n = shortest_char(loc);
  return all_zero(p, n) ? n : 0;
}

/* ---- Multibyte to wide -------------------------------------------------- */

int _dvz_gl_is_mbfstowcfs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int nbytes,
                          int nchars) {
  if (nchars < 1) return 0;
  if (!buffers_usable(loc, wcs, s, nbytes)) return -1;
  int count = 0;
  if (nbytes == -1) {
    while (count < nchars) {
      wcs[count] = s[count];
      if (s[count] == 0) return count;
      ++count;
    }
    return count;
  }
  while (count < nchars && count < nbytes) {
    wcs[count] = s[count];
    ++count;
  }
  return count;
}

int _gl_is_mbstowcs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int n) {
  return _dvz_gl_is_mbfstowcfs(loc, wcs, s, -1, n);
}

int _dvz_gl_im_mbfstowcfs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int nbytes,
                          int nchars) {
  if (nchars < 1) return 0;
  if (!buffers_usable(loc, wcs, s, nbytes)) return -1;
  const bool terminated = nbytes == -1;
  int count = 0;
  int used = 0;
  while (count < nchars && (terminated || used < nbytes)) {
    walk_result f = decode_at(loc, s + used, terminated ? -1 : nbytes - used);
    if (f.status != walk_status::found) {
      set_error(loc, GL_EILSEQ); /* also a character cut off by the end */
      return -1;
    }
    wcs[count] = f.wc;
    if (terminated && f.wc == 0) return count;
    ++count;
    used += f.length;
  }
  return count;
}

int _gl_im_mbstowcs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int n) {
  return _dvz_gl_im_mbfstowcfs(loc, wcs, s, -1, n);
}

/* ---- Wide to multibyte -------------------------------------------------- */

int _dvz_gl_is_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int nwc, int size) {
  if (size < 1) return 0;
  if (!buffers_usable(loc, s, wcs, nwc)) return -1;
  int count = 0;
  for (int i = 0; count < size && (nwc == -1 || i < nwc); ++i) {
    gl_wchar wc = wcs[i];
    if (wc > 0xFFu) {
      set_error(loc, GL_EILSEQ);
      return -1;
    }
    if (nwc == -1 && wc == 0) {
      s[count] = 0;
      return count;
    }
    s[count++] = static_cast<unsigned char>(wc);
  }
  return count;
}

int _gl_is_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int size) {
  return _dvz_gl_is_wcstombs(loc, s, wcs, -1, size);
}

int _dvz_gl_full_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int nwc,
                          int size) {
  if (!buffers_usable(loc, s, wcs, nwc)) return -1;
  const bool single = loc->single_byte == 1;
  const int term = shortest_char(loc);
  int count = 0;
  for (int i = 0; nwc == -1 || i < nwc; ++i) {
    gl_wchar wc = wcs[i];
    if (nwc == -1 && wc == 0) {
      if (count + term <= size) std::memset(s + count, 0, static_cast<std::size_t>(term));
      return count;
    }
    int need = single ? 1 : (glslib::multi::packed_length(wc, term));
    if (count + need > size) return count;
    if (single) {
      s[count] = static_cast<unsigned char>(wc & 0xFFu);
    } else if (gl_full_wctomb(loc, s + count, wc) < 0) {
      return -1;
    }
    count += need;
  }
  return count;
}

int gl_full_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int size) {
  return _dvz_gl_full_wcstombs(loc, s, wcs, -1, size);
}

/* ---- Lengths ------------------------------------------------------------ */

int gl_wcslen(const gl_wchar *wcs) {
  int n = 0;
  if (wcs != nullptr) {
    while (wcs[n] != 0)
      ++n;
  }
  return n;
}

int gl_wcsbytes(const gl_wchar *wcs) { return (gl_wcslen(wcs) + 1) * 4; }

int gl_mbsbytes(gl_locale *loc, const unsigned char *s) {
  if (s == nullptr) return 0;
  if (loc->single_byte == 1)
    return static_cast<int>(std::strlen(reinterpret_cast<const char *>(s))) + 1;
  int total = 0;
  for (;;) {
    int n = gl_full_mblen(loc, s + total, max_char_length);
    if (n < 0) return 0;
    if (n == 0) return total + shortest_char(loc);
    total += n;
  }
}

int _gl_im_mbslen(gl_locale *loc, const unsigned char *s) {
  int count = 0;
  for (const unsigned char *p = s; p != nullptr;) {
    int n = gl_full_mblen(loc, p, max_char_length);
    if (n < 0) return -1;
    if (n == 0) return count;
    ++count;
    p += n;
  }
  return 0;
}

int _dvz_gl_im_mbfslen(gl_locale *loc, const unsigned char *s, int nbytes) {
  if (nbytes == -1) {
    nbytes = content_bytes(loc, s);
    if (nbytes < 0) return -1;
  }
  if (nbytes < 0) {
    set_error(loc, GL_EILSEQ); /* the end lies before the start */
    return -1;
  }
  if (loc->single_byte == 1) return nbytes;
  const int term = shortest_char(loc);
  int count = 0;
  int used = 0;
  while (used < nbytes) {
    int remaining = nbytes - used;
    int length = 0;
    if (remaining >= term && all_zero(s + used, term)) {
      length = term; /* a null character inside the range */
    } else {
      walk_result f =
          decode_at(loc, s + used, remaining < max_char_length ? remaining : max_char_length);
      if (f.status != walk_status::found) {
        /* An invalid character, or one that runs past the end. */
        set_error(loc, GL_EILSEQ);
        return -1;
      }
      length = f.length;
    }
    used += length;
    ++count;
  }
  return count;
}

/* ---- Navigation --------------------------------------------------------- */

unsigned char *gl_full_mbsnext(gl_locale *loc, const unsigned char *p) {
  if (p == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  return next_char(loc, p, -1);
}

unsigned char *_dvz_gl_full_mbsnext(gl_locale *loc, const unsigned char *p, int n) {
  if (p == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  if (n < 1) {
    set_error(loc, GL_EINVAL);
    return nullptr;
  }
  return next_char(loc, p, n);
}

unsigned char *gl_full_mbsprev(gl_locale *loc, const unsigned char *start,
                               const unsigned char *pos) {
  if (start == nullptr || pos == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  if (pos <= start) {
    set_error(loc, GL_EBADPOS);
    return nullptr;
  }
  long remaining = pos - start;
  const unsigned char *p = start;
  for (;;) {
    int limit = remaining > max_char_length ? max_char_length : static_cast<int>(remaining);
    int n = loc->single_byte == 1 ? 1 : _dvz_gl_full_mblen(loc, p, limit);
    if (n < 1) return nullptr;
    remaining -= n;
    if (remaining <= 0) return const_cast<unsigned char *>(p);
    p += n;
  }
}

/* ---- Case of one multibyte character ------------------------------------ */

int _gl_im_tomupper(gl_locale *loc, unsigned char *out, const unsigned char *s) {
  return tom_impl(loc, out, s, -1, true, false);
}

int _gl_im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s) {
  return tom_impl(loc, out, s, -1, false, false);
}

int im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s) {
  return _gl_im_tomlower(loc, out, s);
}

int _dvz_gl_im_tomupper(gl_locale *loc, unsigned char *out, const unsigned char *s, int n) {
  return tom_impl(loc, out, s, n, true, true);
}

int _dvz_gl_im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s, int n) {
  return tom_impl(loc, out, s, n, false, true);
}

}  // extern "C"
