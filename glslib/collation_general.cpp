/*
** The general collation of a locale: the multi-pass comparer of wide
** strings, the multibyte comparer that converts to wide strings and uses
** it, and the key builder (gl_wcsxfrm, gl_full_mbsxfrm).
**
** Callers: the loader installs _gl_im_mbscoll / _dvz_gl_im_mbfscoll and
** gl_full_mbsxfrm in a record's slots; the client library calls
** gl_full_wcscoll directly. Calls: the character layer (conversions,
** lengths), the multi-level table walk for a character's row, the Thai
** routines for a locale of the Thai kind, and the host allocator for
** temporaries (element marks, wide copies of long strings).
**
** Each pass walks both strings weight by weight (expansions walked in
** place of their character, elements as one unit). A key holds the same
** weights, so memcmp of two keys orders as the comparer does: keep the two
** walks one walk.
**
** Speed: a short terminated string is converted in one walk (no counting
** first; bytes CTYPE holds as one-byte characters copied as they are). The
** record's collation cache, built here after each load of CTYPE or
** COLLATE, holds the rows of the commonest characters, which characters
** begin elements and the elements by first character; the rows of other
** characters are walked at most once per call, when a pass first reaches
** them. Element marks are made only as far as a walk reaches, so a
** comparison the first pass decides early looks at little more than the
** characters it compared. The cache also holds each character's first-pass
** weight where one character gives exactly one weight (or IGNORE): a
** comparison first walks both strings over such characters alone and ends
** there when they part; anything else (a tie, an element or expansion
** reached, a long string) goes to the full passes from the start. A key
** whose characters each give one weight per pass is written from the
** weights of all passes, kept side by side per row. Without a cache (its
** allocation failed) the same results come from the table walk.
*/

#include <algorithm>
#include <cstring>
#include <new>

#include "collation_internal.h"
#include "locale_internal.h"
#include "multilevel_internal.h"

using glslib::load_error;
using glslib::store_error;

namespace {

/* Wide characters kept on the stack before a temporary is allocated. */
constexpr int stack_chars = 256;
/* Expansion characters one position may yield before its walk is given up:
** far above any well-formed expansion, it stops a cycle of expansions
** naming each other in a damaged file. */
constexpr int max_expansion_steps = 1024;

/* A row cache entry not yet looked up; -1 marks a character without a row. */
constexpr int32_t row_unknown = -2;
constexpr int32_t row_none = -1;

/* The element at one position of a string, and the position's index in it. */
struct element_mark {
  const gl_coll_element *element;
  int index;
};

struct lazy_marks;

/* The walk of one string on one pass. */
struct coll_state {
  const gl_wchar *text;
  int count; /* characters of text */
  int position; /* index of the current character */
  int step; /* +1 forward, -1 backward */
  const gl_coll_expansion *expansion; /* being walked, or NULL */
  int expansion_index;
  int expansion_steps;
  const uint16_t *weights;
  lazy_marks *marks; /* NULL when the locale has no elements */
  int32_t *rows; /* count cached rows of text, shared by the passes */
  bool done;
};

/* A block of count T: on the stack up to N, else from the host allocator. */
template <typename T, int N>
class Scratch {
 public:
  explicit Scratch(int count) {
    if (count <= N) {
      data_ = local_;
    } else {
      data_ = glslib::alloc_zeroed<T>(static_cast<std::size_t>(count));
      heap_ = true;
    }
  }
  ~Scratch() {
    if (heap_) _gl_free_ptr(data_);
  }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  T *get() { return data_; }

 private:
  T local_[N];
  T *data_ = nullptr;
  bool heap_ = false;
};

/* The row of wc: from the record's cache when it covers wc, else by the
** table walk; false when wc has none. */
inline bool row_of(const gl_locale *loc, gl_wchar wc, int *row) {
  const gl_coll_cache *cache = loc->coll_cache;
  if (cache != nullptr && wc < cache->limit) {
    const uint16_t r = cache->rows[wc];
    *row = r;
    return r != glslib::no_row;
  }
  return glslib::row_of_character(loc, wc, row);
}

/* The row of the character at position i of the walk's text, looked up
** on first use and kept in the walk's row cache; false when it has none. */
bool cached_row(const coll_state *st, const gl_locale *loc, int i, int *row) {
  const gl_coll_cache *cache = loc->coll_cache;
  if (cache != nullptr && st->text[i] < cache->limit) return row_of(loc, st->text[i], row);
  int32_t r = st->rows[i];
  if (r == row_unknown) {
    int found = 0;
    r = row_of(loc, st->text[i], &found) ? found : row_none;
    st->rows[i] = r;
  }
  *row = r;
  return r != row_none;
}

/* Which characters may begin an element, so that the marks consult the
** element list only there. The record's cache says so for every
** character; without it (its allocation failed) a single-byte locale has
** the loader's flags per byte (element_candidates), a character above 255
** always looked up, and elsewhere one bit per value of a character's low 8
** bits is set for each element's first character, per call. */
struct element_filter {
  const gl_coll_cache *cache = nullptr;
  const int32_t *byte_flags = nullptr;
  uint64_t bits[4] = {0, 0, 0, 0};

  explicit element_filter(const gl_locale *loc) {
    if (loc->elements == nullptr) return;
    if (loc->coll_cache != nullptr) {
      cache = loc->coll_cache;
      return;
    }
    if (loc->single_byte == 1 && loc->element_candidates != nullptr) {
      byte_flags = loc->element_candidates;
      return;
    }
    for (int e = 0; e < loc->element_count; ++e) {
      const gl_coll_element &el = loc->elements[e];
      if (el.count >= 1)
        bits[(el.characters[0] >> 6) & 3u] |= uint64_t {1} << (el.characters[0] & 63u);
    }
  }
  bool may_start(gl_wchar c) const {
    if (cache != nullptr) return glslib::cache_may_start_element(cache, c);
    if (byte_flags != nullptr) return c > 0xFFu || byte_flags[c] != 0;
    return (bits[(c >> 6) & 3u] >> (c & 63u) & 1u) != 0;
  }
};

/* The first element in list order whose characters equal those at w and
** fit within the n characters there, or NULL. */
const gl_coll_element *element_at(const gl_locale *loc, const element_filter &filter,
                                  const gl_wchar *w, int n) {
  if (filter.cache != nullptr) {
    const gl_coll_cache *c = filter.cache;
    const gl_wchar *begin = c->element_firsts, *end = begin + c->element_total;
    for (const gl_wchar *p = std::lower_bound(begin, end, w[0]); p != end && *p == w[0]; ++p) {
      const gl_coll_element &el = loc->elements[c->element_order[p - begin]];
      if (el.count <= n &&
          std::memcmp(el.characters, w, sizeof(gl_wchar) * static_cast<std::size_t>(el.count)) == 0)
        return &el;
    }
    return nullptr;
  }
  for (int e = 0; e < loc->element_count; ++e) {
    const gl_coll_element &el = loc->elements[e];
    if (el.count < 1 || el.count > n || el.characters[0] != w[0]) continue;
    if (std::memcmp(el.characters, w, sizeof(gl_wchar) * static_cast<std::size_t>(el.count)) == 0)
      return &el;
  }
  return nullptr;
}

/* Element marks of a string of n characters, made only as far as a walk
** reaches (a first pass usually ends within a few characters): at each
** position the first element in list order that matches there and fits,
** its positions marked 0, 1, ...; the scan goes on after it. */
struct lazy_marks {
  const gl_locale *loc;
  element_filter filter;
  const gl_wchar *text;
  int count;
  element_mark *marks; /* count of them */
  int scanned = 0; /* marks before this index are set */
  bool any = false; /* an element was marked */

  /* The element covering position (below count), or NULL. */
  const gl_coll_element *at(int position) {
    while (scanned <= position) {
      const gl_wchar *w = text + scanned;
      const gl_coll_element *found =
          filter.may_start(*w) ? element_at(loc, filter, w, count - scanned) : nullptr;
      if (found == nullptr) {
        marks[scanned++] = {nullptr, 0};
        continue;
      }
      for (int k = 0; k < found->count; ++k)
        marks[scanned + k] = {found, k};
      scanned += found->count;
      any = true;
    }
    return marks[position].element;
  }
};

void init_coll_state(coll_state *st, const gl_locale *loc, int pass, const gl_wchar *w, int n,
                     lazy_marks *marks, int32_t *rows) {
  const bool forward = (loc->pass_flags[pass] & 1) != 0;
  st->text = w;
  st->count = n;
  st->step = forward ? 1 : -1;
  st->position = forward ? 0 : n - 1;
  st->expansion = nullptr;
  st->expansion_index = 0;
  st->expansion_steps = 0;
  st->weights = loc->weights[pass];
  st->marks = marks;
  st->rows = rows;
  st->done = n <= 0 || st->weights == nullptr;
}

/* The element covering the current position, or NULL. */
const gl_coll_element *element_here(const coll_state *st) {
  if (st->marks == nullptr) return nullptr;
  return st->marks->at(st->position);
}

/* Starts expansion index x in place of whatever expansion is active;
** false when the index names none (the weight then counts as IGNORE). */
bool start_expansion(coll_state *st, const gl_locale *loc, int x) {
  if (x >= loc->expansion_count || loc->expansions[x].count < 1) {
    st->expansion = nullptr;
    return false;
  }
  st->expansion = &loc->expansions[x];
  st->expansion_index = st->step > 0 ? 0 : st->expansion->count - 1;
  return true;
}

/* The next weight of the walk other than IGNORE, and the code of the
** character that gave it (1 for an element); weight and code 0 at the end
** of the string or at a character without a row. */
uint16_t next_weight(coll_state *st, const gl_locale *loc, gl_wchar *code) {
  for (;;) {
    if (st->done) {
      *code = 0;
      return 0;
    }
    gl_wchar c;
    int row = 0;
    const gl_coll_element *el = element_here(st);
    if (st->expansion != nullptr) {
      c = st->expansion->characters[st->expansion_index];
      st->expansion_index += st->step;
      if (st->expansion_index < 0 || st->expansion_index >= st->expansion->count)
        st->expansion = nullptr;
      if (++st->expansion_steps > max_expansion_steps || !row_of(loc, c, &row)) {
        st->done = true;
        continue;
      }
    } else if (el != nullptr) {
      c = 1;
      row = el->row;
      if (row > loc->highest_row) {
        st->done = true;
        continue;
      }
    } else {
      c = st->text[st->position];
      if (!cached_row(st, loc, st->position, &row)) {
        st->done = true;
        continue;
      }
    }
    uint16_t w = st->weights[row];
    if (w & GL_WEIGHT_EXPANSION) {
      start_expansion(st, loc, w & 0x3FFF);
      w = GL_WEIGHT_IGNORE;
    }
    if (st->expansion == nullptr) {
      const int advance = el != nullptr ? el->count : 1;
      st->position += st->step * advance;
      st->expansion_steps = 0;
      if (st->position < 0 || st->position >= st->count) {
        st->done = true;
        if (w == GL_WEIGHT_IGNORE) {
          *code = 0;
          return 0;
        }
      }
    }
    if (w != GL_WEIGHT_IGNORE) {
      *code = c;
      return w;
    }
  }
}

/* One pass over two walks: -1, 0, 1. */
int collate_pass(coll_state *a, coll_state *b, const gl_locale *loc) {
  for (;;) {
    gl_wchar c1 = 0, c2 = 0;
    uint16_t w1 = next_weight(a, loc, &c1);
    uint16_t w2 = next_weight(b, loc, &c2);
    if (w1 == 0 && w2 == 0 && (a->done || b->done)) {
      if (c1 == 0 && c2 != 0) return -1;
      if (c1 != 0 && c2 == 0) return 1;
      return 0;
    }
    const unsigned v1 = w1 & 0x3FFFu, v2 = w2 & 0x3FFFu;
    if (v1 != v2) return v1 < v2 ? -1 : 1;
    if ((w1 & GL_WEIGHT_CODEPOINT) && c1 != c2) return c1 < c2 ? -1 : 1;
  }
}

/* What the walks of one string share for one call: its row cache and,
** when the locale has elements, its element marks. On the stack for short
** strings, else from the host allocator; ready() is false when that
** failed. */
class WalkScratch {
 public:
  WalkScratch(const gl_locale *loc, const element_filter &filter, const gl_wchar *w, int n)
      : rows_(n > 0 ? n : 1),
        marks_(has_elements(loc) && n > 0 ? n : 1),
        lazy_ {loc, filter, w, n, marks_.get()},
        has_marks_(has_elements(loc) && n > 0) {
    if (!ready()) return;
    std::fill_n(rows_.get(), n, row_unknown);
  }
  bool ready() { return rows_.get() != nullptr && marks_.get() != nullptr; }
  int32_t *rows() { return rows_.get(); }
  lazy_marks *marks() { return has_marks_ ? &lazy_ : nullptr; }
  /* The marks of the whole string made at once, for a walk that reaches
  ** every character: NULL when no element occurs. */
  lazy_marks *all_marks() {
    if (!has_marks_) return nullptr;
    lazy_.at(lazy_.count - 1);
    return lazy_.any ? &lazy_ : nullptr;
  }

  static bool has_elements(const gl_locale *loc) {
    return loc->element_count > 0 && loc->elements != nullptr;
  }

 private:
  Scratch<int32_t, stack_chars> rows_;
  Scratch<element_mark, stack_chars> marks_;
  lazy_marks lazy_;
  bool has_marks_; /* the locale has elements: lazy_ marks them */
};

/* The passes of two wide strings of known lengths: -1, 0, 1; error 3 and
** 0 when a temporary cannot be allocated. */
int compare_weighted(gl_locale *loc, const gl_wchar *w1, int n1, const gl_wchar *w2, int n2) {
  /* Most pairs part on the first pass within simple characters; longer
  ** strings keep the walk, whose temporaries may fail. */
  const gl_coll_cache *cache = loc->coll_cache;
  if (cache != nullptr && n1 <= stack_chars && n2 <= stack_chars) {
    const int lead = glslib::FirstPassLead<gl_wchar>(loc, cache).decide(w1, n1, w2, n2);
    if (lead != 0) return lead;
  }
  const element_filter filter(loc);
  WalkScratch s1(loc, filter, w1, n1), s2(loc, filter, w2, n2);
  if (!s1.ready() || !s2.ready()) {
    store_error(loc, GL_ENOMEM);
    return 0;
  }
  const int passes = loc->pass_count < GL_MAX_PASSES ? loc->pass_count : GL_MAX_PASSES;
  for (int p = 0; p < passes; ++p) {
    coll_state a, b;
    init_coll_state(&a, loc, p, w1, n1, s1.marks(), s1.rows());
    init_coll_state(&b, loc, p, w2, n2, s2.marks(), s2.rows());
    int r = collate_pass(&a, &b, loc);
    if (r != 0) return r;
  }
  return 0;
}

/* Wide string to bytes for the Thai routines; -1 on a conversion failure
** (the converter's error stands). out holds 4 x n + 4 bytes. */
int thai_bytes(gl_locale *loc, unsigned char *out, const gl_wchar *w, int n) {
  const int size = 4 * n + 4;
  int bytes = 0;
  if (n > 0) {
    bytes = loc->single_byte == 1 ? _dvz_gl_is_wcstombs(loc, out, w, n, size)
                                  : _dvz_gl_full_wcstombs(loc, out, w, n, size);
    if (bytes < 0) return -1;
  }
  out[bytes] = 0;
  return bytes;
}

/* Both strings in the Thai order. */
int compare_thai(gl_locale *loc, const gl_wchar *w1, int n1, const gl_wchar *w2, int n2) {
  Scratch<unsigned char, 4 * stack_chars + 4> b1(4 * n1 + 4), b2(4 * n2 + 4);
  if (b1.get() == nullptr || b2.get() == nullptr) {
    store_error(loc, GL_ENOMEM);
    return 0;
  }
  int l1 = thai_bytes(loc, b1.get(), w1, n1);
  if (l1 < 0) return 0;
  int l2 = thai_bytes(loc, b2.get(), w2, n2);
  if (l2 < 0) return 0;
  return _dvz_gl_thaismoncoll(loc, b1.get(), l1, b2.get(), l2);
}

/* Appends one key byte: written while below size, always counted. */
struct KeyWriter {
  unsigned char *out;
  int size;
  int count = 0;
  void put(unsigned char b) {
    if (out != nullptr && count < size) out[count] = b;
    ++count;
  }
};

/* Appends key bytes where the whole key is known to fit. */
struct DirectWriter {
  unsigned char *at;
  void put(unsigned char b) { *at++ = b; }
};

/* Base-254 digits needed for values up to largest. */
int digit_count(uint32_t largest) {
  if (largest >= 0xF817E010u) return 5;
  if (largest >= 0xFA0BF8u) return 4;
  if (largest >= 64516u) return 3;
  if (largest >= 254u) return 2;
  return 1;
}

/* Writes value as digits base-254 digits of (value - 2), each + 2. A value
** below 2 (IGNORE, an element's code 1) is written as the smallest digits,
** so it sorts before every other value as the comparer puts it. */
template <typename Writer>
inline void put_digits(Writer *key, uint32_t value, int digits) {
  uint32_t v = value < 2 ? 0 : value - 2;
  /* Least significant first into d, written most significant first. */
  unsigned char d[5];
  for (int k = digits - 1; k >= 0; --k) {
    d[k] = static_cast<unsigned char>(v % 254u + 2u);
    v /= 254u;
  }
  for (int k = 0; k < digits; ++k)
    key->put(d[k]);
}

/* The largest code of the code set's longest character. */
uint32_t largest_code(gl_locale *loc) {
  switch (gl_mb_loc_max(loc)) {
    case 1:
      return 0xFFu;
    case 2:
      return 0xFFFFu;
    case 3:
      return 0xFFFFFFu;
    default:
      return 0xFFFFFFFFu;
  }
}

/* The code-set-order key: the multibyte form of w. */
int codeset_key(gl_locale *loc, unsigned char *out, const gl_wchar *w, int size) {
  if (size > 0 && out != nullptr) {
    int written = loc->single_byte == 1 ? _gl_is_wcstombs(loc, out, w, size)
                                        : gl_full_wcstombs(loc, out, w, size);
    if (written < 0) return -1;
  }
  int total = 0;
  for (const gl_wchar *p = w; *p != 0; ++p) {
    int n = gl_wclen(loc, *p);
    if (n < 0) return -1;
    total += n;
  }
  return total;
}

/* The passes of a key over characters whose rows are known (rows[i] of
** w[i]) and plain, by the weights side by side: each pass as its walk
** writes it, IGNORE skipped, a weight of 0 last in its walk left out. */
template <typename Writer>
void put_plain_passes(Writer *key, const gl_locale *loc, const gl_coll_cache *cache,
                      const gl_wchar *w, const uint16_t *rows, int n, int weight_digits,
                      int code_digits) {
  const int passes = cache->passes;
  for (int p = 0; p < passes; ++p) {
    if (p > 0) key->put(1);
    const bool forward = (loc->pass_flags[p] & 1) != 0;
    const int first = forward ? 0 : n - 1, last = forward ? n - 1 : 0, step = forward ? 1 : -1;
    for (int i = first; n > 0; i += step) {
      const uint16_t weight = cache->row_weights[static_cast<std::size_t>(rows[i]) * passes + p];
      if (weight != GL_WEIGHT_IGNORE && (weight != 0 || i != last)) {
        put_digits(key, weight & 0x3FFFu, weight_digits);
        if (weight & GL_WEIGHT_CODEPOINT) put_digits(key, w[i], code_digits);
      }
      if (i == last) break;
    }
  }
}

/* The key of n characters when every one is plain: cached with a row
** that no pass expands, where no element matches, so each gives one weight
** per pass from the cache; -2 when some character is not (or the string is
** long, whose walk takes temporaries that may fail). */
int plain_key(gl_locale *loc, unsigned char *out, const gl_wchar *w, int n, int size) {
  const gl_coll_cache *cache = loc->coll_cache;
  if (cache == nullptr || cache->row_weights == nullptr || n > stack_chars) return -2;
  const bool elements = loc->element_count > 0 && loc->elements != nullptr;
  uint16_t rows[stack_chars];
  for (int i = 0; i < n; ++i) {
    const gl_wchar c = w[i];
    if (c >= cache->limit) return -2;
    const uint16_t r = cache->rows[c];
    if (r == glslib::no_row || cache->row_plain[r] == 0) return -2;
    if (elements && glslib::cache_may_start_element(cache, c) &&
        glslib::element_matches(loc, cache, w + i, n - i))
      return -2;
    rows[i] = r;
  }
  const int weight_digits = digit_count(loc->highest_weight);
  const int code_digits = digit_count(largest_code(loc));
  const long most =
      cache->passes + static_cast<long>(n) * cache->passes * (weight_digits + code_digits);
  if (out != nullptr && most < size) {
    DirectWriter key {out};
    put_plain_passes(&key, loc, cache, w, rows, n, weight_digits, code_digits);
    *key.at = 0;
    return static_cast<int>(key.at - out);
  }
  KeyWriter key {out, size};
  put_plain_passes(&key, loc, cache, w, rows, n, weight_digits, code_digits);
  if (out != nullptr && key.count < size) out[key.count] = 0;
  return key.count;
}

/* Converts the terminated multibyte string s in one walk into out, which
** holds stack_chars + 1 characters, when the record converts with the
** library's own converters: the number of characters, -1 for an invalid
** character (error 1 stored), or -2 when s is longer than out holds or
** another converter is installed (the caller then counts first and
** converts after, as that converter requires). */
int convert_short(gl_locale *loc, gl_wchar *out, const unsigned char *s) {
  const bool single = loc->single_byte == 1;
  const gl_mbfstowcfs_func own = single ? _dvz_gl_is_mbfstowcfs : _dvz_gl_im_mbfstowcfs;
  const gl_mbstowcs_func own_terminated = single ? _gl_is_mbstowcs : _gl_im_mbstowcs;
  if (loc->mbfstowcfs_fn != own ||
      (loc->mbstowcs_fn != nullptr && loc->mbstowcs_fn != own_terminated) ||
      (single && gl_mb_loc_min(loc) > 1))
    return -2;
  int known = 0; /* characters decoded from the cache */
  int used = 0; /* their bytes */
  const gl_coll_cache *cache = loc->coll_cache;
  if (!single && cache != nullptr && cache->two_byte != nullptr) {
    /* What CTYPE holds as a character of one or two bytes decodes to the
    ** value of its bytes, as the converter would decode it. */
    while (known <= stack_chars) {
      const unsigned b = s[used];
      gl_wchar wc;
      if ((cache->one_byte[b >> 6] >> (b & 63u) & 1u) != 0) {
        wc = b;
        used += 1;
      } else {
        if (b == 0) break;
        const unsigned pair = b << 8 | s[used + 1];
        if ((cache->two_byte[pair >> 6] >> (pair & 63u) & 1u) == 0) break;
        wc = pair;
        used += 2;
      }
      out[known] = wc;
      if (wc == 0) return known;
      ++known;
    }
  }
  const int rest = own(loc, out + known, s + used, -1, stack_chars + 1 - known);
  const int n = rest < 0 ? rest : known + rest;
  if (n < 0) {
    store_error(loc, GL_EILSEQ);
    return -1;
  }
  if (n > stack_chars) return -2;
  out[n] = 0;
  return n;
}

/* True when terminated s has at most stack_chars bytes. */
bool fits_stack(const unsigned char *s) {
  return std::strlen(reinterpret_cast<const char *>(s)) <= static_cast<std::size_t>(stack_chars);
}

/* The first pass over the bytes of terminated s1 and s2 in a single-byte
** locale, when it alone decides and both are short (the converters being
** the library's own, each byte is its character): -1 or 1, else 0. */
int single_byte_lead(gl_locale *loc, const unsigned char *s1, const unsigned char *s2) {
  const gl_coll_cache *cache = loc->coll_cache;
  if (cache == nullptr || loc->single_byte != 1 || loc->codeset_order ||
      loc->mbfstowcfs_fn != _dvz_gl_is_mbfstowcfs ||
      (loc->mbstowcs_fn != nullptr && loc->mbstowcs_fn != _gl_is_mbstowcs) ||
      gl_mb_loc_min(loc) > 1)
    return 0;
  const int lead = glslib::FirstPassLead<unsigned char>(loc, cache).decide(s1, -1, s2, -1);
  /* Longer strings take the counted route, whose temporaries may fail. */
  return lead != 0 && fits_stack(s1) && fits_stack(s2) ? lead : 0;
}

/* Characters below it are cached: every byte in a single-byte locale, the
** values of one and two bytes in a multibyte one. */
gl_wchar cache_limit(const gl_locale *loc) { return loc->single_byte == 1 ? 0x100u : 0x10000u; }

/* True when the single-byte comparers take byte b as the general one does
** on a first pass: the same row at the root, no expansion or element
** candidate, not the terminator. */
bool byte_agrees(const gl_locale *loc, const gl_coll_cache *cache, unsigned b) {
  const gl_multi_t *t = loc->coll_table;
  uint16_t root_row = 0;
  std::memcpy(&root_row, t->root->data + b * glslib::multi::stride(t), sizeof root_row);
  if (b == 0 || root_row != cache->rows[b]) return false;
  if (loc->expansion_candidates[0] != nullptr && loc->expansion_candidates[0][b] != nullptr)
    return false;
  const bool candidate = loc->element_candidates != nullptr && loc->element_candidates[b] != 0;
  return candidate == glslib::cache_may_start_element(cache, b);
}

/* Fills the cache's first-pass values and the weights of all passes side
** by side from the record's weight tables. */
void fill_pass_tables(const gl_locale *loc, gl_coll_cache *cache) {
  const uint16_t *first = loc->weights[0];
  const bool forward = (loc->pass_flags[0] & 1) != 0;
  for (gl_wchar c = 0; c < cache->limit; ++c) {
    uint16_t value = 0;
    const uint16_t row = cache->rows[c];
    if (first != nullptr && forward && row != glslib::no_row) {
      const uint16_t w = first[row];
      if ((w & (GL_WEIGHT_CODEPOINT | GL_WEIGHT_EXPANSION)) == 0) value = w;
    }
    if (value != 0 && loc->single_byte == 1 && !byte_agrees(loc, cache, c)) value = 0;
    if (value != 0 && glslib::cache_may_start_element(cache, c))
      value |= glslib::first_starts_element;
    cache->first_weights[c] = value;
  }
  if (cache->row_weights == nullptr) return;
  const int passes = cache->passes;
  for (int r = 0; r <= loc->highest_row; ++r) {
    unsigned char plain = 1;
    for (int p = 0; p < passes; ++p) {
      const uint16_t w = loc->weights[p][r];
      cache->row_weights[static_cast<std::size_t>(r) * passes + p] = w;
      if (w & GL_WEIGHT_EXPANSION) plain = 0;
    }
    cache->row_plain[r] = plain;
  }
}

}  // namespace

namespace glslib {

bool row_of_character(const gl_locale *loc, gl_wchar wc, int *row) {
  const gl_multi_t *t = loc->coll_table;
  if (t == nullptr) return false;
  multi::walk_result f = multi::walk_packed(t, wc, nullptr);
  if (f.status != multi::walk_status::found) return false;
  int r = multi::entry_u16(t, f.entry);
  if (r > loc->highest_row) return false;
  *row = r;
  return true;
}

void build_collation_cache(gl_locale *record) {
  if (record->coll_cache != nullptr) return;
  /* Thai and empty COLLATE data weigh nothing by rows; a row of 0xFFFF
  ** could not be told from no_row. */
  if (record->coll_table == nullptr || record->coll_table->root == nullptr ||
      record->coll_kind == 2 || record->pass_count < 1 || record->highest_row < 0 ||
      record->highest_row >= no_row)
    return;
  const gl_wchar limit = cache_limit(record);
  int elements = 0;
  for (int e = 0; record->elements != nullptr && e < record->element_count; ++e)
    elements += record->elements[e].count >= 1;
  const std::size_t head = (sizeof(gl_coll_cache) + 7) / 8 * 8;
  const std::size_t start_bytes = limit / 8;
  const std::size_t row_bytes = limit * sizeof(uint16_t);
  const std::size_t element_bytes = static_cast<std::size_t>(elements) * sizeof(gl_wchar);
  const std::size_t pair_bytes = record->single_byte == 1 ? 0 : 0x10000 / 8;
  const int passes = record->pass_count < GL_MAX_PASSES ? record->pass_count : GL_MAX_PASSES;
  bool every_pass_weighs = true;
  for (int p = 0; p < passes; ++p)
    every_pass_weighs &= record->weights[p] != nullptr;
  const std::size_t table_rows = static_cast<std::size_t>(record->highest_row) + 1;
  const std::size_t side_bytes =
      every_pass_weighs ? table_rows * static_cast<std::size_t>(passes) * sizeof(uint16_t) : 0;
  const std::size_t plain_bytes = every_pass_weighs ? table_rows : 0;
  void *block = _gl_alloc_ptr(head + start_bytes + pair_bytes + row_bytes + 2 * element_bytes +
                              row_bytes + side_bytes + plain_bytes);
  if (block == nullptr) return;
  auto *bytes = static_cast<unsigned char *>(block);
  auto *cache = new (block) gl_coll_cache {};
  cache->limit = limit;
  cache->element_starts = reinterpret_cast<uint64_t *>(bytes + head);
  cache->two_byte =
      pair_bytes > 0 ? reinterpret_cast<uint64_t *>(bytes + head + start_bytes) : nullptr;
  cache->rows = reinterpret_cast<uint16_t *>(bytes + head + start_bytes + pair_bytes);
  cache->element_total = elements;
  cache->element_firsts =
      reinterpret_cast<gl_wchar *>(bytes + head + start_bytes + pair_bytes + row_bytes);
  cache->element_order = reinterpret_cast<int32_t *>(cache->element_firsts + elements);
  cache->first_weights = reinterpret_cast<uint16_t *>(cache->element_order + elements);
  cache->passes = passes;
  cache->row_weights = every_pass_weighs ? cache->first_weights + limit : nullptr;
  cache->row_plain = every_pass_weighs
                         ? reinterpret_cast<unsigned char *>(cache->row_weights + side_bytes / 2)
                         : nullptr;
  std::memset(cache->element_starts, 0, start_bytes);
  for (int b = 0; b < 256; ++b) {
    const unsigned char byte[1] = {static_cast<unsigned char>(b)};
    const multi::walk_result f = multi::walk(record->ctype_table, byte, 1);
    if (f.status == multi::walk_status::found && f.length == 1)
      cache->one_byte[b >> 6] |= uint64_t {1} << (b & 63);
  }
  if (cache->two_byte != nullptr) {
    std::memset(cache->two_byte, 0, pair_bytes);
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
      const unsigned char two[2] = {static_cast<unsigned char>(pair >> 8),
                                    static_cast<unsigned char>(pair)};
      const multi::walk_result f = multi::walk(record->ctype_table, two, 2);
      if (f.status == multi::walk_status::found && f.length == 2)
        cache->two_byte[pair >> 6] |= uint64_t {1} << (pair & 63);
    }
  }
  for (gl_wchar wc = 0; wc < limit; ++wc) {
    int row = 0;
    cache->rows[wc] = row_of_character(record, wc, &row) ? static_cast<uint16_t>(row) : no_row;
  }
  for (int e = 0; record->elements != nullptr && e < record->element_count; ++e) {
    const gl_coll_element &el = record->elements[e];
    if (el.count < 1) continue;
    const gl_wchar c = el.characters[0];
    uint64_t *word =
        c < limit ? &cache->element_starts[c >> 6] : &cache->high_starts[(c >> 6) & 3u];
    *word |= uint64_t {1} << (c & 63u);
  }
  /* By first character, then list order: in place, nothing allocated. */
  const gl_coll_element *list = record->elements;
  int placed = 0;
  for (int e = 0; list != nullptr && e < record->element_count; ++e)
    if (list[e].count >= 1) cache->element_order[placed++] = e;
  std::sort(cache->element_order, cache->element_order + placed, [list](int32_t a, int32_t b) {
    const gl_wchar ca = list[a].characters[0], cb = list[b].characters[0];
    return ca != cb ? ca < cb : a < b;
  });
  for (int k = 0; k < placed; ++k)
    cache->element_firsts[k] = list[cache->element_order[k]].characters[0];
  fill_pass_tables(record, cache);
  record->coll_cache = cache;
}

void free_collation_cache(gl_locale *record) {
  _gl_free_ptr(record->coll_cache);
  record->coll_cache = nullptr;
}

}  // namespace glslib

extern "C" {

int _dvz_gl_full_wcscoll(gl_locale *loc, const gl_wchar *w1, int len1, const gl_wchar *w2,
                         int len2) {
  if (!glslib::collation_args_usable(loc, w1, len1, w2, len2)) return 0;
  if (len1 < -1 || len2 < -1) {
    store_error(loc, GL_EBADARG);
    return 0;
  }
  if (len1 == -1) {
    len1 = gl_wcslen(w1);
    len2 = gl_wcslen(w2);
  }
  if (loc->coll_kind == 2) return compare_thai(loc, w1, len1, w2, len2);
  return compare_weighted(loc, w1, len1, w2, len2);
}

int gl_full_wcscoll(gl_locale *loc, const gl_wchar *w1, const gl_wchar *w2) {
  return _dvz_gl_full_wcscoll(loc, w1, -1, w2, -1);
}

int _dvz_gl_im_mbfscoll(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                        int len2) {
  if (!glslib::collation_args_usable(loc, s1, len1, s2, len2)) return 0;
  if (len1 == -1) {
    const int lead = single_byte_lead(loc, s1, s2);
    if (lead != 0) return lead;
    /* Short strings: one walk each, no counting first. */
    gl_wchar b1[stack_chars + 1], b2[stack_chars + 1];
    const int n1 = convert_short(loc, b1, s1);
    const int n2 = n1 == -1 ? -1 : convert_short(loc, b2, s2);
    if (n1 == -1 || n2 == -1) return 0;
    if (n1 >= 0 && n2 >= 0) {
      if (loc->codeset_order) return _dvz_gl_wcfscmp(b1, n1, b2, n2);
      return _dvz_gl_full_wcscoll(loc, b1, n1, b2, n2);
    }
  }
  const bool single = loc->single_byte == 1;
  int chars1, chars2;
  if (len1 == -1) {
    const int term = gl_mb_loc_min(loc);
    len1 = gl_mbsbytes(loc, s1) - term;
    len2 = gl_mbsbytes(loc, s2) - term;
    chars1 = single ? static_cast<int>(std::strlen(reinterpret_cast<const char *>(s1)))
                    : _gl_im_mbslen(loc, s1);
    chars2 = single ? static_cast<int>(std::strlen(reinterpret_cast<const char *>(s2)))
                    : _gl_im_mbslen(loc, s2);
  } else {
    chars1 = _dvz_gl_im_mbfslen(loc, s1, len1);
    chars2 = _dvz_gl_im_mbfslen(loc, s2, len2);
  }
  if (chars1 < 0 || chars2 < 0 || len1 < 0 || len2 < 0) {
    store_error(loc, GL_EILSEQ);
    return 0;
  }
  Scratch<gl_wchar, stack_chars> w1(chars1 + 1), w2(chars2 + 1);
  if (w1.get() == nullptr || w2.get() == nullptr) {
    store_error(loc, GL_ENOMEM);
    return 0;
  }
  gl_mbfstowcfs_func convert = loc->mbfstowcfs_fn != nullptr
                                   ? loc->mbfstowcfs_fn
                                   : (single ? _dvz_gl_is_mbfstowcfs : _dvz_gl_im_mbfstowcfs);
  int n1 = chars1 > 0 ? convert(loc, w1.get(), s1, len1, chars1) : 0;
  int n2 = chars2 > 0 ? convert(loc, w2.get(), s2, len2, chars2) : 0;
  if (n1 < 0 || n2 < 0) {
    store_error(loc, GL_EILSEQ);
    return 0;
  }
  w1.get()[n1] = 0;
  w2.get()[n2] = 0;
  if (loc->codeset_order) return _dvz_gl_wcfscmp(w1.get(), n1, w2.get(), n2);
  return _dvz_gl_full_wcscoll(loc, w1.get(), n1, w2.get(), n2);
}

int _gl_im_mbscoll(gl_locale *loc, const unsigned char *s1, const unsigned char *s2) {
  return _dvz_gl_im_mbfscoll(loc, s1, -1, s2, -1);
}

int gl_wcsxfrm(gl_locale *loc, unsigned char *out, const gl_wchar *w, int size) {
  if (loc == nullptr) return -1;
  if (w == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return -1;
  }
  if (loc->codeset_order) return codeset_key(loc, out, w, size);
  const int n = gl_wcslen(w);
  if (loc->coll_kind == 2) {
    Scratch<unsigned char, 4 * stack_chars + 4> bytes(gl_wcsbytes(w));
    if (bytes.get() == nullptr) {
      store_error(loc, GL_ENOMEM);
      return -1;
    }
    if (thai_bytes(loc, bytes.get(), w, n) < 0) return -1;
    return _gl_thaismoxfrm(loc, out, bytes.get(), size);
  }
  const int plain = plain_key(loc, out, w, n, size);
  if (plain != -2) return plain;
  WalkScratch scratch(loc, element_filter(loc), w, n);
  if (!scratch.ready()) {
    store_error(loc, GL_ENOMEM);
    return -1;
  }
  lazy_marks *all = scratch.all_marks();
  KeyWriter key {out, size};
  const int weight_digits = digit_count(loc->highest_weight);
  const int code_digits = digit_count(largest_code(loc));
  const int passes = loc->pass_count < GL_MAX_PASSES ? loc->pass_count : GL_MAX_PASSES;
  for (int p = 0; p < passes; ++p) {
    if (p > 0) key.put(1);
    coll_state st;
    init_coll_state(&st, loc, p, w, n, all, scratch.rows());
    for (;;) {
      gl_wchar code = 0;
      uint16_t weight = next_weight(&st, loc, &code);
      if (weight == 0 && st.done) break;
      put_digits(&key, weight & 0x3FFFu, weight_digits);
      if (weight & GL_WEIGHT_CODEPOINT) put_digits(&key, code, code_digits);
    }
  }
  if (out != nullptr && key.count < size) out[key.count] = 0;
  return key.count;
}

int gl_full_mbsxfrm(gl_locale *loc, unsigned char *out, const unsigned char *s, int size) {
  if (loc == nullptr) return -1;
  if (s == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return -1;
  }
  {
    gl_wchar short_text[stack_chars + 1];
    const int n = convert_short(loc, short_text, s);
    if (n == -1) return -1;
    if (n >= 0) return gl_wcsxfrm(loc, out, short_text, size);
  }
  const int count = loc->single_byte == 1
                        ? static_cast<int>(std::strlen(reinterpret_cast<const char *>(s)))
                        : _gl_im_mbslen(loc, s);
  if (count < 0) return -1;
  Scratch<gl_wchar, stack_chars> w(count + 1);
  if (w.get() == nullptr) {
    store_error(loc, GL_ENOMEM);
    return -1;
  }
  gl_mbstowcs_func convert = loc->mbstowcs_fn != nullptr
                                 ? loc->mbstowcs_fn
                                 : (loc->single_byte == 1 ? _gl_is_mbstowcs : _gl_im_mbstowcs);
  int n = convert(loc, w.get(), s, count + 1);
  if (n < 0) return -1;
  w.get()[n] = 0;
  return gl_wcsxfrm(loc, out, w.get(), size);
}

}  // extern "C"
