/*
** collation_internal.h: the collation routines the loader installs in a
** record's mbscoll_fn, mbfscoll_fn and mbsxfrm_fn, the choice among them,
** and the Thai comparer's parts; not part of the library's interface
** (callers compare through the record's slots or gl_collate.h). C linkage:
** the names are the library's own.
*/
#ifndef DVZ_GLSLIB_COLLATION_INTERNAL_H
#define DVZ_GLSLIB_COLLATION_INTERNAL_H

#include <stdint.h>

#include "gl_collate.h"
#include "gl_errors.h"
#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Chooses mbscoll_fn, mbfscoll_fn and mbsxfrm_fn from the COLLATE data and
** single_byte. */
void set_collation_fp(gl_locale *record);

/* The single-byte comparers: terminated strings, or counted ones (len1 and
** len2 bytes, both -1: terminated; one -1 only: error 56 and 0). They walk
** the bytes through the root of coll_table without converting or
** allocating. back: no expansions or elements, passes in either direction;
** exp, elem, exp_elem: forward passes with expansions, elements or both.
** -1, 0, 1. */
int _gl_is_mbscoll_back(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_back(gl_locale *loc, const unsigned char *s1, int len1,
                             const unsigned char *s2, int len2);
int _gl_is_mbscoll_exp(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_exp(gl_locale *loc, const unsigned char *s1, int len1,
                            const unsigned char *s2, int len2);
int _gl_is_mbscoll_elem(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_elem(gl_locale *loc, const unsigned char *s1, int len1,
                             const unsigned char *s2, int len2);
int _gl_is_mbscoll_exp_elem(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_is_mbfscoll_exp_elem(gl_locale *loc, const unsigned char *s1, int len1,
                                 const unsigned char *s2, int len2);

/* ---- Thai (thai_collation.cpp) -------------------------------------------- */

/* The Thai comparer of terminated / counted byte strings (both -1:
** terminated; one -1 only: error 56 and 0): -1, 0, 1. */
int _gl_thaismocoll(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_thaismoncoll(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                         int len2);
/* The Thai key of the terminated string s (see thai_strxfrm); -1 with
** error 2 for a NULL string. */
int _gl_thaismoxfrm(gl_locale *loc, unsigned char *out, const unsigned char *s, int size);

/* Class of each byte for the comparer: 0 other, 1 leading vowel, 2 tone
** mark. */
extern const unsigned char thai_cmp_table[256];
/* Types (1 plain, 2 leading vowel, 3 tone mark) and sort values of the
** bytes 0xD0-0xEF for the key builder. */
extern const int32_t rgVowType[32];
extern const unsigned char rgMap2Int[32];

/* Compares byte strings of len1 and len2 bytes: -1, 0, 1. */
int bythcmpr(const unsigned char *s1, int len1, const unsigned char *s2, int len2);
/* 1 when the n bytes at p are all 0x20 or 0xA0 (also for n = 0). */
int isallspace(const unsigned char *p, int n);
/* The key builder's type and sort value of a byte. */
int ChType(unsigned char c);
int Ch2Int(unsigned char c);

/* One part of a Thai key: at most 255 bytes are kept; length counts every
** byte the part would hold. */
typedef struct thai_key_part {
  unsigned char bytes[256];
  int length;
} thai_key_part;
/* Builds the primary and secondary parts of the key of terminated s. */
void CchSortText(const unsigned char *s, thai_key_part *primary, thai_key_part *secondary);
/* Writes the Thai key of s: the first min(size, 256) bytes of out get the
** key (at most 255 bytes) and zero bytes after it; out may be NULL. Returns
** the full key length, which may exceed what was written. */
int thai_strxfrm(unsigned char *out, const unsigned char *s, int size);

/* The collation cache of a record (its coll_cache): the row of every
** character below limit as row_of_character would find it by walking
** coll_table (no_row when it has none), and a bit per such character that
** is the first of an element. Characters at or above limit are walked; an
** element starting with one is flagged by the low 8 bits of its value in
** high_starts. The elements (those of one character or more) by first
** character, in list order among equal ones, and the byte strings that
** CTYPE holds as characters of one and of two bytes. One block from the host allocator. */
struct gl_coll_cache {
  gl_wchar limit;
  uint16_t *rows; /* limit entries */
  uint64_t *element_starts; /* limit bits */
  uint64_t high_starts[4];
  int32_t element_total; /* entries of the two arrays below */
  gl_wchar *element_firsts; /* ascending */
  int32_t *element_order; /* index into elements */
  uint64_t one_byte[4]; /* 256 bits */
  uint64_t *two_byte; /* bit lead << 8 | trail: a character of two bytes; NULL
                        in a single-byte locale */
  /* Per character below limit: its first-pass weight (IGNORE included)
  ** when the character is simple there (a row, no expansion, no code tie,
  ** weight above 0; in a single-byte locale also no expansion candidate,
  ** the same row at the root and an element candidate exactly when an
  ** element begins with it), else 0; first_starts_element added when an
  ** element begins with it. All 0 when the first pass runs backward or has
  ** no weights. */
  uint16_t *first_weights;
  /* The weights of every pass side by side, passes per row (row * passes +
  ** pass), and per row 1 when no pass expands it; both NULL when a pass
  ** has no weights. */
  int32_t passes;
  uint16_t *row_weights;
  unsigned char *row_plain;
};

#ifdef __cplusplus
}

namespace glslib {

/* A cached row of no character. */
constexpr uint16_t no_row = 0xFFFF;

/* Builds record->coll_cache when it has none and COLLATE weighs characters
** by rows; a failed allocation leaves it NULL without an error (the
** comparer then walks the table). */
void build_collation_cache(gl_locale *record);
/* Frees record->coll_cache and sets it NULL. */
void free_collation_cache(gl_locale *record);

/* The row of wc by walking coll_table alone; false when the table does not
** hold wc or the row lies beyond highest_row. */
bool row_of_character(const gl_locale *loc, gl_wchar wc, int *row);

/* True when an element may begin with c: exact below the cache's limit. */
inline bool cache_may_start_element(const gl_coll_cache *cache, gl_wchar c) {
  if (c < cache->limit) return (cache->element_starts[c >> 6] >> (c & 63u) & 1u) != 0;
  return (cache->high_starts[(c >> 6) & 3u] >> (c & 63u) & 1u) != 0;
}

/* Marks a first-pass value whose character begins an element: the value
** holds where no element matches. */
constexpr uint16_t first_starts_element = 0x8000;

/* True when an element matches the characters at s: n of them, or up to
** the terminator when n is -1. */
template <typename C>
bool element_matches(const gl_locale *loc, const gl_coll_cache *cache, const C *s, int n) {
  const gl_wchar *begin = cache->element_firsts, *end = begin + cache->element_total;
  const gl_wchar *p = begin;
  for (int step = cache->element_total; step > 0;) {
    const int half = step / 2;
    if (p[half] < static_cast<gl_wchar>(s[0])) {
      p += half + 1;
      step -= half + 1;
    } else {
      step = half;
    }
  }
  for (; p != end && *p == static_cast<gl_wchar>(s[0]); ++p) {
    const gl_coll_element &el = loc->elements[cache->element_order[p - begin]];
    if (n >= 0 && el.count > n) continue;
    int k = 0;
    while (k < el.count && (n >= 0 || s[k] != 0) && el.characters[k] == static_cast<gl_wchar>(s[k]))
      ++k;
    if (k == el.count) return true;
  }
  return false;
}

/* The first pass over the simple characters two strings begin with, by
** the cache's first-pass values (IGNORE skipped on each side as the pass
** walk skips it): -1 or 1 at the first pair of different values, or where
** one string ends while the other goes on with a weighed simple character;
** 0 at anything else, where the full walk must decide. Counted strings of
** n1 and n2 characters, or terminated ones (n1 and n2 -1) of a
** single-byte locale, whose terminator has value 0. */
template <typename C>
class FirstPassLead {
 public:
  FirstPassLead(const gl_locale *loc, const gl_coll_cache *cache) : loc_(loc), cache_(cache) {}

  int decide(const C *a, int n1, const C *b, int n2) const {
    int i = 0, j = 0;
    for (;;) {
      uint16_t v1, v2;
      while ((v1 = value(a, i, n1)) == GL_WEIGHT_IGNORE)
        ++i;
      while ((v2 = value(b, j, n2)) == GL_WEIGHT_IGNORE)
        ++j;
      if (v1 != 0 && v2 != 0) {
        if (v1 != v2) return v1 < v2 ? -1 : 1;
        ++i;
        ++j;
        continue;
      }
      if (ended(a, i, n1) && v2 != 0) return -1;
      if (ended(b, j, n2) && v1 != 0) return 1;
      return 0;
    }
  }

 private:
  static bool ended(const C *s, int i, int n) { return n >= 0 ? i >= n : s[i] == 0; }
  /* The value of the character at i: 0 past the end or when it is not
  ** simple there. */
  uint16_t value(const C *s, int i, int n) const {
    if (n >= 0 && i >= n) return 0;
    const gl_wchar c = s[i];
    if (c >= cache_->limit) return 0;
    const uint16_t v = cache_->first_weights[c];
    if ((v & first_starts_element) == 0) return v;
    return element_matches(loc_, cache_, s + i, n >= 0 ? n - i : -1)
               ? 0
               : static_cast<uint16_t>(v & ~first_starts_element);
  }

  const gl_locale *loc_;
  const gl_coll_cache *cache_;
};

/* The argument check every comparer makes: true when both strings are given
** and both counts are -1 or neither is; else false with 2 (a NULL string)
** or 56 (one terminated, one counted) stored. A NULL record gives false. */
inline bool collation_args_usable(gl_locale *loc, const void *s1, int len1, const void *s2,
                                  int len2) {
  if (loc == nullptr) return false;
  if (s1 == nullptr || s2 == nullptr) {
    *_gl_ext_errno(loc) = GL_ENULLPTR;
    return false;
  }
  if ((len1 == -1) != (len2 == -1)) {
    *_gl_ext_errno(loc) = GL_EMIXEDLEN;
    return false;
  }
  return true;
}

}  // namespace glslib
#endif

#endif
