/*
** The comparers of single-byte locales: they walk the bytes of both
** strings directly, a byte's row coming from the root node of coll_table,
** with no conversion to wide strings and no allocation.
**
** Callers: the loader installs one pair in a record's mbscoll_fn and
** mbfscoll_fn by the locale's COLLATE data (set_collation_fp). Calls:
** nothing but the error word and the record's collation cache.
**
** Four pairs: back (no expansions or elements; each pass forward when its
** flag is exactly 1, else from the last byte to the first), exp
** (expansions, through the pass's 256 expansion candidates), elem
** (elements, through the 256 element candidates) and exp_elem (both,
** expansion first); the last three run every pass forward. They order as
** the general comparer does on the locales the loader gives them to. With
** the record's collation cache each first walks the bytes whose first-pass
** weight is simple, as the general comparer does, and ends there when the
** strings part.
*/

#include <cstring>

#include "collation_internal.h"
#include "locale_internal.h"
#include "multilevel_internal.h"

using glslib::store_error;

namespace {

enum class Kind { back, exp, elem, exp_elem };

/* Per pass: the row of each byte and the pass's data. */
struct ByteTables {
  const gl_locale *loc;
  const unsigned char *root_data; /* root data array, or NULL: default row */
  std::size_t stride;
  uint16_t default_row;

  explicit ByteTables(const gl_locale *l) : loc(l), root_data(nullptr), stride(2), default_row(0) {
    const gl_multi_t *t = l->coll_table;
    if (t == nullptr) return;
    stride = glslib::multi::stride(t);
    default_row = glslib::multi::entry_u16(t, t->default_entry);
    if (t->root != nullptr) root_data = t->root->data;
  }
  int row(unsigned b) const {
    uint16_t r = default_row;
    if (root_data != nullptr) std::memcpy(&r, root_data + b * stride, sizeof r);
    return r;
  }
  /* The weight of a byte on a pass; IGNORE for a row beyond the table. */
  uint16_t weight_of_row(const uint16_t *weights, int r) const {
    return r <= loc->highest_row ? weights[r] : static_cast<uint16_t>(GL_WEIGHT_IGNORE);
  }
};

/* The walk of one string on one pass. */
struct ByteWalk {
  const unsigned char *s;
  int index; /* next byte */
  int end; /* forward: byte count; backward: -1 */
  int step;
  const gl_coll_expansion *expansion;
  int expansion_index;
};

/* The first element in list order that matches the bytes at s[i..n). */
const gl_coll_element *element_at(const gl_locale *loc, const unsigned char *s, int i, int n) {
  for (int e = 0; e < loc->element_count; ++e) {
    const gl_coll_element &el = loc->elements[e];
    if (el.count < 1 || el.count > n - i) continue;
    int k = 0;
    while (k < el.count && el.characters[k] == s[i + k])
      ++k;
    if (k == el.count) return &el;
  }
  return nullptr;
}

/* The next weight other than IGNORE and the byte that decides a tie;
** false at the end of the string. */
template <Kind K>
bool next_byte_weight(const ByteTables &tab, int pass, const uint16_t *weights, ByteWalk *w,
                      uint16_t *weight, unsigned *code) {
  const gl_locale *loc = tab.loc;
  for (;;) {
    if constexpr (K == Kind::exp || K == Kind::exp_elem) {
      if (w->expansion != nullptr) {
        if (w->expansion_index >= w->expansion->count) {
          w->expansion = nullptr;
          continue;
        }
        unsigned c = w->expansion->characters[w->expansion_index++] & 0xFFu;
        uint16_t x = tab.weight_of_row(weights, tab.row(c));
        if (x == GL_WEIGHT_IGNORE) continue;
        *weight = x;
        *code = c;
        return true;
      }
    }
    if (w->index == w->end) return false;
    const unsigned b = w->s[w->index];
    if constexpr (K == Kind::exp || K == Kind::exp_elem) {
      gl_coll_expansion **candidates = loc->expansion_candidates[pass];
      if (candidates != nullptr && candidates[b] != nullptr) {
        w->expansion = candidates[b];
        w->expansion_index = 0;
        w->index += w->step;
        continue;
      }
    }
    if constexpr (K == Kind::elem || K == Kind::exp_elem) {
      if (loc->element_candidates != nullptr && loc->element_candidates[b]) {
        const gl_coll_element *el = element_at(loc, w->s, w->index, w->end);
        if (el != nullptr) {
          w->index += el->count;
          uint16_t x = tab.weight_of_row(weights, el->row);
          if (x == GL_WEIGHT_IGNORE) continue;
          *weight = x;
          *code = b;
          return true;
        }
      }
    }
    w->index += w->step;
    uint16_t x = tab.weight_of_row(weights, tab.row(b));
    if (x == GL_WEIGHT_IGNORE) continue;
    *weight = x;
    *code = b;
    return true;
  }
}

/* The record's cache when this comparer's first pass runs forward over
** its first-pass values, else NULL. */
template <Kind K>
const gl_coll_cache *first_pass_cache(const gl_locale *loc) {
  const gl_coll_cache *cache = loc->coll_cache;
  if (cache == nullptr || loc->single_byte != 1) return nullptr;
  if (K == Kind::back && loc->pass_flags[0] != 1) return nullptr;
  return cache;
}

template <Kind K>
int compare_bytes(gl_locale *loc, const unsigned char *s1, int n1, const unsigned char *s2,
                  int n2) {
  const ByteTables tab(loc);
  const int passes = loc->pass_count < GL_MAX_PASSES ? loc->pass_count : GL_MAX_PASSES;
  for (int p = 0; p < passes; ++p) {
    const uint16_t *weights = loc->weights[p];
    if (weights == nullptr) continue;
    const bool forward = K != Kind::back || loc->pass_flags[p] == 1;
    ByteWalk a {s1, forward ? 0 : n1 - 1, forward ? n1 : -1, forward ? 1 : -1, nullptr, 0};
    ByteWalk b {s2, forward ? 0 : n2 - 1, forward ? n2 : -1, forward ? 1 : -1, nullptr, 0};
    for (;;) {
      uint16_t w1 = 0, w2 = 0;
      unsigned c1 = 0, c2 = 0;
      const bool has1 = next_byte_weight<K>(tab, p, weights, &a, &w1, &c1);
      const bool has2 = next_byte_weight<K>(tab, p, weights, &b, &w2, &c2);
      if (!has1 || !has2) {
        if (has1 == has2) break;
        return has1 ? 1 : -1;
      }
      const unsigned v1 = w1 & 0x3FFFu, v2 = w2 & 0x3FFFu;
      if (v1 != v2) return v1 < v2 ? -1 : 1;
      if ((w1 & GL_WEIGHT_CODEPOINT) && c1 != c2) return c1 < c2 ? -1 : 1;
    }
  }
  return 0;
}

int string_length(const unsigned char *s) {
  return static_cast<int>(std::strlen(reinterpret_cast<const char *>(s)));
}

/* Most pairs part on the first pass within simple bytes: that decides
** without the pass walks. */
template <Kind K>
int compare_both_terminated(gl_locale *loc, const unsigned char *s1, const unsigned char *s2) {
  if (const gl_coll_cache *cache = first_pass_cache<K>(loc)) {
    const int lead = glslib::FirstPassLead<unsigned char>(loc, cache).decide(s1, -1, s2, -1);
    if (lead != 0) return lead;
  }
  return compare_bytes<K>(loc, s1, string_length(s1), s2, string_length(s2));
}

template <Kind K>
int compare_terminated(gl_locale *loc, const unsigned char *s1, const unsigned char *s2) {
  if (!glslib::collation_args_usable(loc, s1, -1, s2, -1)) return 0;
  return compare_both_terminated<K>(loc, s1, s2);
}

template <Kind K>
int compare_counted(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                    int len2) {
  if (!glslib::collation_args_usable(loc, s1, len1, s2, len2)) return 0;
  if (len1 == -1) return compare_both_terminated<K>(loc, s1, s2);
  if (len1 < 0 || len2 < 0) {
    store_error(loc, GL_EBADARG);
    return 0;
  }
  if (const gl_coll_cache *cache = first_pass_cache<K>(loc)) {
    const int lead = glslib::FirstPassLead<unsigned char>(loc, cache).decide(s1, len1, s2, len2);
    if (lead != 0) return lead;
  }
  return compare_bytes<K>(loc, s1, len1, s2, len2);
}

}  // namespace

extern "C" {

#define GL_SINGLE_BYTE_PAIR(term, counted, kind)                                          \
  int term(gl_locale *loc, const unsigned char *s1, const unsigned char *s2) {            \
    return compare_terminated<kind>(loc, s1, s2);                                         \
  }                                                                                       \
  int counted(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2, \
              int len2) {                                                                 \
    return compare_counted<kind>(loc, s1, len1, s2, len2);                                \
  }

GL_SINGLE_BYTE_PAIR(_gl_is_mbscoll_back, _dvz_gl_is_mbfscoll_back, Kind::back)
GL_SINGLE_BYTE_PAIR(_gl_is_mbscoll_exp, _dvz_gl_is_mbfscoll_exp, Kind::exp)
GL_SINGLE_BYTE_PAIR(_gl_is_mbscoll_elem, _dvz_gl_is_mbfscoll_elem, Kind::elem)
GL_SINGLE_BYTE_PAIR(_gl_is_mbscoll_exp_elem, _dvz_gl_is_mbfscoll_exp_elem, Kind::exp_elem)

#undef GL_SINGLE_BYTE_PAIR

}  // extern "C"
