/*
** Multibyte strings in a locale's code set: copying, appending and
** searching character by character, in a terminated form (ended by
** gl_mb_loc_min zero bytes) and a counted form that takes a byte length
** (-1: terminated); and the operations on characters inside a string
** (index, replace, trailing blanks, character offset of a byte position).
**
** Called by the client library (copying, appending, searching, character
** offsets) and the formatting code. Calls the character layer: every
** character is read with the one step below, which walks the record's
** ctype_table with the bytes that remain (a counted form never reads past
** its length); in a single-byte locale each byte is one character.
*/

#include "strings_internal.h"

#include <algorithm>
#include <cstring>

namespace glslib::strings {

using chars::decode_at;
using chars::max_char_length;
using chars::set_error;
using chars::shortest_char;
using chars::walk_result;
using chars::walk_status;

namespace {

bool all_zero(const unsigned char *p, int n) {
  return std::all_of(p, p + n, [](unsigned char b) { return b == 0; });
}

}  // namespace

bool step(gl_locale *loc, const unsigned char *p, int limit, Step *out) {
  *out = Step {};
  if (limit == 0) {
    set_error(loc, GL_EINVAL);
    return false;
  }
  if (loc->single_byte == 1) {
    out->length = 1;
    out->wc = *p;
    out->end = limit == -1 && *p == 0;
    return true;
  }
  const int term = shortest_char(loc);
  if ((limit == -1 || limit >= term) && all_zero(p, term)) {
    out->length = term;
    out->end = limit == -1;
    return true;
  }
  walk_result f = decode_at(loc, p, limit);
  if (f.status != walk_status::found) {
    set_error(loc, f.status == walk_status::cut ? GL_EINVAL : GL_EILSEQ);
    return false;
  }
  out->length = f.length;
  out->wc = f.wc;
  return true;
}

bool is_newline(gl_locale *loc, const unsigned char *p, int length) {
  const int term = terminator_length(loc);
  return length == term && p[term - 1] == 0x0A && all_zero(p, term - 1);
}

}  // namespace glslib::strings

namespace {

using namespace glslib::strings;
using glslib::chars::set_error;

/* Where a walk over a string stopped. */
struct Walk {
  int status = 0; /* 1 stopped by the visitor, 0 at the end, -1 failed */
  int offset = 0; /* bytes before the character where it stopped or the end */
};

/* Steps through the characters of s (n bytes; -1: terminated, up to its
** terminator), calling visit(offset, step) for each until it returns
** false. */
template <typename Visit>
Walk walk_chars(gl_locale *loc, const unsigned char *s, int n, Visit &&visit) {
  Walk w;
  while (n == -1 || w.offset < n) {
    Step st;
    if (!step(loc, s + w.offset, n == -1 ? -1 : n - w.offset, &st)) {
      w.status = -1;
      return w;
    }
    if (st.end) return w;
    if (!visit(w.offset, st)) {
      w.status = 1;
      return w;
    }
    w.offset += st.length;
  }
  return w;
}

/* Bytes of the terminated string s without its terminator; -1 on an
** invalid character. */
int content_bytes(gl_locale *loc, const unsigned char *s) {
  if (loc->single_byte == 1)
    return static_cast<int>(std::strlen(reinterpret_cast<const char *>(s)));
  Walk w = walk_chars(loc, s, -1, [](int, const Step &) { return true; });
  return w.status < 0 ? -1 : w.offset;
}

/* n when the n bytes at s are whole characters, else -1 (1 or 7 stored). */
int whole_characters(gl_locale *loc, const unsigned char *s, int n) {
  if (loc->single_byte == 1) return n;
  Walk w = walk_chars(loc, s, n, [](int, const Step &) { return true; });
  return w.status < 0 ? -1 : n;
}

/* Bytes taken by the first count characters of s (n bytes, -1:
** terminated, fewer when it ends); -1 on an invalid or cut character. */
int first_characters(gl_locale *loc, const unsigned char *s, int n, int count) {
  int offset = 0;
  for (int k = 0; k < count && (n == -1 || offset < n); ++k) {
    Step st;
    if (!step(loc, s + offset, n == -1 ? -1 : n - offset, &st)) return -1;
    if (st.end) break;
    offset += st.length;
  }
  return offset;
}

/* The arguments of a character-index lookup: false with error
** GL_ENULLPTR for a NULL string or GL_ENEGCOUNT for a negative index. */
bool valid_index_args(gl_locale *loc, const unsigned char *s, int i) {
  if (s == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return false;
  }
  if (i < 0) {
    set_error(loc, GL_ENEGCOUNT);
    return false;
  }
  return true;
}

/* The search result "nothing": the error word cleared, NULL. */
unsigned char *not_found(gl_locale *loc) {
  set_error(loc, GL_ENOERR);
  return nullptr;
}

/* A set of characters as wide values, taken from a multibyte set of
** setlen bytes (-1: terminated); freed when it goes. */
class WideSet {
 public:
  WideSet(gl_locale *loc, const unsigned char *set, int setlen) {
    if (setlen == -1) {
      values_ = gl_mbstowcslen(loc, set, &count_);
      return;
    }
    values_ = static_cast<gl_wchar *>(_gl_alloc_ptr(sizeof(gl_wchar) * (setlen + 1u)));
    if (values_ == nullptr) {
      set_error(loc, GL_ENOMEM);
      return;
    }
    gl_mbfstowcfs_func convert = loc->mbfstowcfs_fn;
    if (convert == nullptr)
      convert = loc->single_byte == 1 ? &_dvz_gl_is_mbfstowcfs : &_dvz_gl_im_mbfstowcfs;
    count_ = convert(loc, values_, set, setlen, setlen);
    if (count_ < 0) {
      _gl_free_ptr(values_);
      values_ = nullptr;
    }
  }
  ~WideSet() { _gl_free_ptr(values_); }
  WideSet(const WideSet &) = delete;
  WideSet &operator=(const WideSet &) = delete;
  bool usable() const { return values_ != nullptr; }
  bool holds(gl_wchar wc) const {
    return std::find(values_, values_ + count_, wc) != values_ + count_;
  }

 private:
  gl_wchar *values_ = nullptr;
  int count_ = 0;
};

/* The walk over the first run of s (n bytes) whose characters are (member
** true) or are not in set: status 1 and offset at the character that ends
** the run, 0 when the string ends first, -1 on failure; the run's
** characters in *count. */
Walk set_run(gl_locale *loc, const unsigned char *s, int n, const unsigned char *set, int setlen,
             bool member, int *count) {
  Walk failed;
  failed.status = -1;
  *count = 0;
  if (!pair_usable(loc, true, s, n, set, setlen)) return failed;
  WideSet wide(loc, set, setlen);
  if (!wide.usable()) return failed;
  return walk_chars(loc, s, n, [&](int, const Step &st) {
    if (wide.holds(st.wc) != member) return false;
    ++*count;
    return true;
  });
}

/* Characters of the run (see set_run); -1 on failure. */
int set_span(gl_locale *loc, const unsigned char *s, int n, const unsigned char *set, int setlen,
             bool member) {
  int count = 0;
  Walk w = set_run(loc, s, n, set, setlen, member, &count);
  return w.status < 0 ? -1 : count;
}

/* First (last false: last) character of s equal to the character at c. */
unsigned char *find_char(gl_locale *loc, const unsigned char *s, int n, const unsigned char *c,
                         int clen, bool first) {
  if (!pair_usable(loc, true, s, n, c, clen)) return nullptr;
  Step wanted;
  if (!step(loc, c, clen, &wanted)) return nullptr;
  if (wanted.end) { /* a null c in a terminated string: its terminator */
    const int bytes = content_bytes(loc, s);
    return bytes < 0 ? nullptr : const_cast<unsigned char *>(s + bytes);
  }
  int found = -1;
  Walk w = walk_chars(loc, s, n, [&](int offset, const Step &st) {
    if (st.length == wanted.length &&
        std::memcmp(s + offset, c, static_cast<std::size_t>(st.length)) == 0) {
      found = offset;
      return !first;
    }
    return true;
  });
  if (w.status < 0) return nullptr;
  return found < 0 ? not_found(loc) : const_cast<unsigned char *>(s + found);
}

}  // namespace

extern "C" {

/* ---- Copying and appending ---------------------------------------------- */

int _dvz_gl_mbscpy(gl_locale *loc, unsigned char *dst, const unsigned char *src, int n) {
  if (!pair_usable(loc, true, dst, n, src, n)) return -1;
  if (n == -1) {
    const int bytes = content_bytes(loc, src);
    if (bytes < 0) return -1;
    const int total = bytes + terminator_length(loc);
    std::memmove(dst, src, static_cast<std::size_t>(total));
    return total;
  }
  std::memmove(dst, src, static_cast<std::size_t>(n));
  return whole_characters(loc, dst, n);
}

unsigned char *gl_full_mbscpy(gl_locale *loc, unsigned char *dst, const unsigned char *src) {
  return _dvz_gl_mbscpy(loc, dst, src, -1) < 0 ? nullptr : dst;
}

int _dvz_gl_mbscat(gl_locale *loc, unsigned char *dst, int dlen, const unsigned char *src,
                   int slen) {
  if (!pair_usable(loc, true, dst, dlen, src, slen)) return -1;
  if (dlen == -1) {
    const int start = content_bytes(loc, dst);
    const int bytes = start < 0 ? -1 : content_bytes(loc, src);
    if (bytes < 0) return -1;
    const int total = bytes + terminator_length(loc);
    std::memmove(dst + start, src, static_cast<std::size_t>(total));
    return start + total;
  }
  std::memmove(dst + dlen, src, static_cast<std::size_t>(slen));
  return whole_characters(loc, dst, dlen + slen);
}

unsigned char *gl_full_mbscat(gl_locale *loc, unsigned char *dst, const unsigned char *src) {
  return _dvz_gl_mbscat(loc, dst, -1, src, -1) < 0 ? nullptr : dst;
}

int _dvz_gl_mbsncpy(gl_locale *loc, unsigned char *dst, const unsigned char *src, int slen, int n) {
  if (!one_usable(loc, true, dst, 0) || !one_usable(loc, true, src, slen)) return -1;
  if (n < 0) {
    set_error(loc, GL_EBADARG);
    return -1;
  }
  const int bytes = first_characters(loc, src, slen, n);
  if (bytes < 0) return -1;
  std::memmove(dst, src, static_cast<std::size_t>(bytes));
  if (slen == -1) gl_mbsterm(loc, dst + bytes);
  return bytes;
}

unsigned char *gl_mbsncpy(gl_locale *loc, unsigned char *dst, const unsigned char *src, int n) {
  return _dvz_gl_mbsncpy(loc, dst, src, -1, n) < 0 ? nullptr : dst;
}

int _dvz_gl_mbsncat(gl_locale *loc, unsigned char *dst, int dlen, const unsigned char *src,
                    int slen, int n) {
  if (!pair_usable(loc, true, dst, dlen, src, slen)) return -1;
  if (n < 0) {
    set_error(loc, GL_EBADARG);
    return -1;
  }
  const int start = dlen == -1 ? content_bytes(loc, dst) : dlen;
  const int bytes = start < 0 ? -1 : first_characters(loc, src, slen, n);
  if (bytes < 0) return -1;
  std::memmove(dst + start, src, static_cast<std::size_t>(bytes));
  if (dlen == -1) {
    gl_mbsterm(loc, dst + start + bytes);
    return start + bytes;
  }
  return whole_characters(loc, dst, start + bytes);
}

unsigned char *gl_mbsncat(gl_locale *loc, unsigned char *dst, const unsigned char *src, int n) {
  return _dvz_gl_mbsncat(loc, dst, -1, src, -1, n) < 0 ? nullptr : dst;
}

/* ---- Searching ---------------------------------------------------------- */

unsigned char *_dvz_gl_mbschr(gl_locale *loc, const unsigned char *s, int n, const unsigned char *c,
                              int clen) {
  return find_char(loc, s, n, c, clen, true);
}

unsigned char *gl_full_mbschr(gl_locale *loc, const unsigned char *s, const unsigned char *c) {
  return find_char(loc, s, -1, c, -1, true);
}

unsigned char *_dvz_gl_mbsrchr(gl_locale *loc, const unsigned char *s, int n,
                               const unsigned char *c, int clen) {
  return find_char(loc, s, n, c, clen, false);
}

unsigned char *gl_full_mbsrchr(gl_locale *loc, const unsigned char *s, const unsigned char *c) {
  return find_char(loc, s, -1, c, -1, false);
}

int _dvz_gl_mbsspn(gl_locale *loc, const unsigned char *s, int n, const unsigned char *set,
                   int setlen) {
  return set_span(loc, s, n, set, setlen, true);
}

int gl_full_mbsspn(gl_locale *loc, const unsigned char *s, const unsigned char *set) {
  return set_span(loc, s, -1, set, -1, true);
}

int _dvz_gl_mbscspn(gl_locale *loc, const unsigned char *s, int n, const unsigned char *set,
                    int setlen) {
  return set_span(loc, s, n, set, setlen, false);
}

int gl_full_mbscspn(gl_locale *loc, const unsigned char *s, const unsigned char *set) {
  return set_span(loc, s, -1, set, -1, false);
}

unsigned char *_dvz_gl_mbspbrk(gl_locale *loc, const unsigned char *s, int n,
                               const unsigned char *set, int setlen) {
  int count = 0;
  Walk w = set_run(loc, s, n, set, setlen, false, &count);
  if (w.status < 0) return nullptr;
  return w.status == 0 ? not_found(loc) : const_cast<unsigned char *>(s + w.offset);
}

unsigned char *gl_full_mbspbrk(gl_locale *loc, const unsigned char *s, const unsigned char *set) {
  return _dvz_gl_mbspbrk(loc, s, -1, set, -1);
}

unsigned char *_dvz_gl_mbsmbs(gl_locale *loc, const unsigned char *s, int n,
                              const unsigned char *sub, int sublen) {
  if (!pair_usable(loc, true, s, n, sub, sublen)) return nullptr;
  const int want = sublen == -1 ? content_bytes(loc, sub) : sublen;
  if (want < 0) return nullptr;
  /* In a terminated s the bytes are compared up to the first mismatch: the
  ** terminator begins no character of sub, so no comparison passes it. */
  Walk w = walk_chars(loc, s, n, [&](int offset, const Step &) {
    if (n != -1 && n - offset < want) return true;
    int j = 0;
    while (j < want && s[offset + j] == sub[j])
      ++j;
    return j < want;
  });
  if (w.status < 0) return nullptr;
  return w.status == 0 ? not_found(loc) : const_cast<unsigned char *>(s + w.offset);
}

unsigned char *gl_full_mbsmbs(gl_locale *loc, const unsigned char *s, const unsigned char *sub) {
  return _dvz_gl_mbsmbs(loc, s, -1, sub, -1);
}

/* ---- Characters inside strings ------------------------------------------ */

unsigned char *gl_full_getmbsi(gl_locale *loc, const unsigned char *s, int i) {
  if (!valid_index_args(loc, s, i)) return nullptr;
  if (loc->single_byte == 1) return const_cast<unsigned char *>(s + i);
  const unsigned char *p = s;
  for (int k = 0; k < i && p != nullptr; ++k)
    p = gl_full_mbsnext(loc, p);
  return const_cast<unsigned char *>(p);
}

unsigned char *gl_getmbsinull(gl_locale *loc, const unsigned char *s, int i) {
  if (!valid_index_args(loc, s, i)) return nullptr;
  const int offset = first_characters(loc, s, -1, i);
  return offset < 0 ? nullptr : const_cast<unsigned char *>(s + offset);
}

unsigned char *gl_mbcreplace(gl_locale *loc, unsigned char *dst, const unsigned char *c) {
  if (dst == nullptr || c == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  Step old_char;
  Step new_char;
  if (!step(loc, dst, -1, &old_char) || !step(loc, c, -1, &new_char)) return nullptr;
  /* The rest after the replaced character, terminator included; at the
  ** terminator itself there is no rest but the terminator. */
  unsigned char *rest = dst + (old_char.end ? 0 : old_char.length);
  const int rest_bytes = content_bytes(loc, rest);
  if (rest_bytes < 0) return nullptr;
  const std::size_t keep = static_cast<std::size_t>(rest_bytes + terminator_length(loc));
  auto *copy = static_cast<unsigned char *>(_gl_alloc_ptr(keep));
  if (copy == nullptr) {
    set_error(loc, GL_ENOMEM);
    return nullptr;
  }
  std::memcpy(copy, rest, keep);
  std::memmove(dst, c, static_cast<std::size_t>(new_char.length));
  std::memcpy(dst + new_char.length, copy, keep);
  _gl_free_ptr(copy);
  return dst;
}

unsigned char *gl_full_putmbsi(gl_locale *loc, unsigned char *s, int i, const unsigned char *c) {
  if (s != nullptr && c != nullptr && i >= 0 && loc->single_byte == 1) {
    s[i] = *c;
    return s;
  }
  unsigned char *at = gl_full_getmbsi(loc, s, i);
  if (at == nullptr) return nullptr;
  return gl_mbcreplace(loc, at, c) == nullptr ? nullptr : s;
}

int gl_mbsbytes_nt(gl_locale *loc, const unsigned char *s) {
  if (s == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  return content_bytes(loc, s);
}

unsigned char *gl_mbsp(gl_locale *loc, const unsigned char *s) {
  if (s == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  const int significant = gl_mbsntsbytes(loc, s);
  if (significant < 0 || gl_ismbsterm(loc, s + significant) != 0) return nullptr;
  return const_cast<unsigned char *>(s + significant);
}

unsigned char *gl_mbsntstrunc(gl_locale *loc, unsigned char *s) {
  unsigned char *blanks = gl_mbsp(loc, s);
  if (blanks != nullptr) gl_mbsterm(loc, blanks);
  return blanks;
}

gl_wchar *gl_wcsntstrunc(gl_locale *loc, gl_wchar *wcs) {
  const int significant = _dvz_gl_wcsntslen(loc, wcs, -1);
  if (significant < 0 || wcs[significant] == 0) return nullptr;
  wcs[significant] = 0;
  return wcs + significant;
}

gl_wchar *gl_mbstowcslen(gl_locale *loc, const unsigned char *s, int *n) {
  if (n != nullptr) *n = 0;
  if (s == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  int capacity = 1;
  int count = 0;
  auto *values = static_cast<gl_wchar *>(_gl_alloc_ptr(sizeof(gl_wchar)));
  /* Room for one more value (the next character or the 0), doubling. */
  auto make_room = [&]() {
    if (count < capacity) return true;
    auto *bigger = static_cast<gl_wchar *>(_gl_alloc_ptr(sizeof(gl_wchar) * 2u * capacity));
    if (bigger != nullptr) std::copy(values, values + count, bigger);
    _gl_free_ptr(values);
    values = bigger;
    capacity *= 2;
    return values != nullptr;
  };
  if (values == nullptr) {
    set_error(loc, GL_ENOMEM);
    return nullptr;
  }
  bool memory = true;
  Walk w = walk_chars(loc, s, -1, [&](int, const Step &st) {
    if (!make_room()) {
      memory = false;
      return false;
    }
    values[count++] = st.wc;
    return true;
  });
  if (w.status == 0 && !make_room()) memory = false;
  if (!memory) {
    set_error(loc, GL_ENOMEM);
    return nullptr;
  }
  if (w.status < 0) {
    _gl_free_ptr(values);
    return nullptr;
  }
  values[count] = 0;
  if (n != nullptr) *n = count;
  return values;
}

int gl_full_charoffset(gl_locale *loc, const unsigned char *start, const unsigned char *p,
                       int *len) {
  if (len != nullptr) *len = 0;
  if (start == nullptr || p == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  if (p < start) {
    set_error(loc, GL_EINVAL);
    return -1;
  }
  for (const unsigned char *at = start;;) {
    Step st;
    if (!step(loc, at, glslib::chars::max_char_length, &st)) {
      set_error(loc, GL_EILSEQ);
      return -1;
    }
    if (p < at + st.length) {
      if (len != nullptr) *len = st.length;
      return static_cast<int>(p - at);
    }
    at += st.length;
  }
}

}  // extern "C"
