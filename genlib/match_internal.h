/*
** match_internal.h: the shared pieces of the MATCHES and LIKE matchers:
** the walker that the byte and wide matchers both run (one set of rules
** over two character widths), the compiled pattern list and its process
** cache, the character queue and the normaliser. Internal to the value
** library; tests include it to observe the cache and the normaliser and
** to drive the queue.
*/
#ifndef DVZ_GENLIB_MATCH_INTERNAL_H
#define DVZ_GENLIB_MATCH_INTERNAL_H

#include <stdint.h>

#include <vector>

#include "gen_errors.h"
#include "gl_host.h"
#include "gl_locale.h"
#include "os_context.h"

extern "C" {

/* One node of a compiled pattern (codes: 1 literal run, -1 many, -2 one,
** -3 class start, -4 class end, -5 negation, -6 range, 0 end of list). */
typedef struct relist {
  int32_t code;
  gl_wchar *text; /* literal runs: into one buffer, which the end node holds */
  int32_t len;
  int32_t unnorm_len;
  struct relist *next;
} relist;

/* The last compiled pattern, the key it was compiled under (escape as 4
** bytes, then the pattern bytes and a zero byte) and the key's pattern
** length (-1: never reuse). Written only by the operator. */
extern relist *prev_relist;
extern char *prev_restr;
extern int nprev_restr;

/* Frees a list and the text buffer its first node owns. */
void rfreerelist(relist *list);
/* Compiles a terminated wide pattern; NULL with the error in toerrno.
** Builds the normaliser first when none is built (_gnorminit 0); with
** normalise, literal runs outside classes are stored normalised. */
relist *rcnvtorelist(const gl_wchar *pattern, int many, int one, int escape, int normalise);
/* Matches len bytes of a value against a list: 1 or 0 (-202 in toerrno
** for a byte sequence that is no character, -406 when no queue can be
** made). With normalise the value is read through the normaliser. */
int rrewildmatch(const char *string, int len, relist *list, int normalise);
/* Wide copy of a pattern value's bytes without its final blanks; NULL
** with -202 or -1211 in toerrno. The caller frees it. */
gl_wchar *alloccnvtowchar(const char *bytes, int len);

/* A ring of wide characters, each with its length in bytes. */
typedef struct wcfifo {
  int32_t capacity;
  int32_t rd;
  int32_t wr;
  int32_t count;
  gl_wchar *chars;
  int32_t *lens;
} wcfifo;

/* A queue of capacity entries; NULL when memory is short. */
wcfifo *init_wcfifo(int capacity);
/* Appends; 0, or -1 when the queue is full. */
int push_to_wcfifo(wcfifo *q, gl_wchar wc, int len);
/* The oldest character and its length; 0 and length 0 (nothing changed)
** when the queue is empty. */
gl_wchar pop_wcfifo(wcfifo *q, int *len);
/* Un-reads the last n characters popped (n at most those popped since). */
void depop_wcfifo(wcfifo *q, int n);
void flush_wcfifo(wcfifo *q);
void destory_wcfifo(wcfifo *q);

/* A node of the normaliser's trie: one character of the sequences that
** pass through it. Siblings ascend by character. */
typedef struct norm_node {
  gl_wchar wc;
  struct norm_node *child; /* next character of longer sequences */
  struct norm_node *sibling;
  struct norm_node *restart; /* the top-level node of wc, when not this one */
  gl_wchar *repl; /* what a sequence ending here becomes */
  int32_t repl_len; /* -1: no sequence ends here; 0: the sequence is dropped */
} norm_node;

/* The normaliser of the client locale: equivalent characters (and
** multi-character elements) map to their class's representative,
** ignorable ones to nothing. */
typedef struct norm_table {
  norm_node *trie; /* first top-level node */
  norm_node **index; /* 256: first top-level node per leading byte */
  int32_t longest_key; /* characters of the longest sequence */
  int32_t longest_repl; /* characters of the longest replacement */
  /* 1 when every byte below 0x80 is a one-byte character of its own
  ** value in the locale the normaliser was built for (the matcher then
  ** reads such bytes without the locale's tables). */
  int32_t ascii_direct;
  uint32_t ascii_blank[4]; /* bit b: byte b (below 0x80) is a blank there */
} norm_table;

/* The normaliser, built by the compiler on first use and after every
** locale change (_gnorminit); NULL until then. */
extern norm_table *normalizer;

/* Frees the normaliser, the cached list and the cached pattern, then
** builds the normaliser from the lists (each terminated multibyte text in
** the client locale; either list may be NULL). 1 built (_gnorminit 1); 0
** failed with -202 (a bad character) or -406 (no memory) in toerrno, no
** normaliser and _gnorminit 0. */
int build_normalizer(char **ignorable, gl_equiv_pair *equivalents);
/* Normalises groups of queued characters into out (at most room
** characters). start, when not NULL, is the node to try first (what the
** previous call returned). one_step: one group only. *consumed gets the
** bytes of the characters taken from the queue, *written the characters
** written. Returns the node the next group starts at, or NULL. */
norm_node *fifo_normalize(norm_table *n, norm_node *start, wcfifo *q, int one_step, gl_wchar *out,
                          int room, int *consumed, int *written);
/* The normalised form of a terminated wide text into out (at most room
** characters, terminated when room is left): its length, or -1 when no
** queue can be made. */
int wcs_normalize(norm_table *n, gl_wchar *out, const gl_wchar *text, int room);
/* The normalised form of one character (the character itself when
** normalise is 0 or there is no normaliser): the characters written. */
int wcnorm(gl_wchar wc, gl_wchar *out, int room, int normalise);
/* Room for the normalised form of length characters. */
int maxlen_for_normalize(int length);
/* Characters the normaliser may need to see at once in loc. */
int get_char_ratio(gl_locale *loc);
void rfreenormalizer(norm_table *n);
void rfreenormlist(norm_node *trie);
void rfreenormtable(norm_node **index);
}

namespace dvz_genlib::match {

/* The current client locale (initialised on first use), or NULL. */
gl_locale *client_locale();
/* 1 when wc has the class blank in loc (a value above 255 in a single-byte
** class map stores locale error 1 and is not blank). */
bool is_blank(gl_locale *loc, gl_wchar wc);
/* The escape rule shared by every matcher: what an escape followed by e
** (0: the pattern ends) means. Sets -1278 or the warning flag. */
enum class escape_meaning { rest_matches, literal };
escape_meaning escape_rule(gl_wchar e, gl_wchar many, gl_wchar one, gl_wchar escape, bool classes);
/* Characters before the terminating 0 of a wide text (0 for NULL). */
inline int wide_length(const gl_wchar *s) {
  int k = 0;
  if (s != nullptr)
    while (s[k] != 0)
      ++k;
  return k;
}
/* MATCHES patterns know bracket classes; LIKE patterns do not. */
inline bool has_classes(int many) { return many == '*'; }

/* The byte and wide matchers' rules over one character width. Positions
** are indexes; a string ends at its length. Remembers, per pattern
** position after a many character, the lowest string position from which
** every retry failed, so no (pattern position, string position) pair is
** retried and the time is polynomial. */
template <typename C>
class walker {
 public:
  walker(gl_locale *loc, const C *s, int slen, const C *p, int plen, int many, int one, int escape)
      : loc_(loc),
        s_(s),
        slen_(slen),
        p_(p),
        plen_(plen),
        many_(static_cast<gl_wchar>(many)),
        one_(static_cast<gl_wchar>(one)),
        esc_(static_cast<gl_wchar>(escape)),
        classes_(has_classes(many)) {}

  /* 1 when the whole string matches the whole pattern, else 0. */
  int run(int pi, int si) {
    while (si < slen_) {
      if (pi >= plen_) return 0;
      gl_wchar pc = p_[pi];
      gl_wchar c = s_[si];
      if (pc == esc_) {
        gl_wchar e = pch(pi + 1);
        if (escape_rule(e, many_, one_, esc_, classes_) == escape_meaning::rest_matches) return 1;
        if (e != c) return 0;
        pi += 2;
        ++si;
        continue;
      }
      if (pc == many_) {
        while (pi < plen_ && p_[pi] == many_)
          ++pi;
        if (pi >= plen_) return 1;
        /* Tries from si fail for every start at or after a start whose
        ** tries all failed before. */
        int known = failed_from(pi);
        int limit = known >= 0 ? known : slen_;
        /* A plain character next in the pattern fails at once wherever the
        ** string holds another: those starts need no try. */
        gl_wchar first = p_[pi];
        bool plain = first != esc_ && first != one_ && !(classes_ && first == '[');
        for (int k = si; k < limit; ++k) {
          if (plain && s_[k] != first) continue;
          if (run(pi, k) != 0) return 1;
        }
        if (known < 0 || si < known) remember_failed(pi, si);
        return 0;
      }
      if (classes_ && pc == '[') {
        int q = pi + 1;
        if (q >= plen_ || p_[q] == ']') return 0;
        bool negated = false;
        if (p_[q] == '^') {
          negated = true;
          ++q;
          if (q >= plen_) return slen_ - si == 1 ? 1 : 0;
          if (p_[q] == ']') {
            pi = q + 1;
            ++si;
            continue;
          }
        }
        bool hit = false;
        q = scan_members(q, c, hit);
        if (q >= plen_) return slen_ - si == 1 ? 1 : 0;
        if (hit == negated) return 0;
        pi = q + 1;
        ++si;
        continue;
      }
      if (pc != one_ && pc != c) return 0;
      ++pi;
      ++si;
    }
    return rest_matches_nothing(pi);
  }

 private:
  gl_wchar pch(int i) const { return i < plen_ ? static_cast<gl_wchar>(p_[i]) : 0; }

  /* The lowest string position from which every try of the pattern from
  ** pi failed, or -1. The first pattern positions are kept in place (one
  ** match then allocates nothing); the rest in a table made on demand. */
  int failed_from(int pi) const {
    if (pi < inline_memo) return (known_ >> pi & 1u) != 0 ? memo_[pi] : -1;
    return far_.empty() ? -1 : far_[static_cast<size_t>(pi)];
  }
  void remember_failed(int pi, int si) {
    if (pi < inline_memo) {
      known_ |= 1u << pi;
      memo_[pi] = si;
      return;
    }
    if (far_.empty()) far_.assign(static_cast<size_t>(plen_) + 1, -1);
    far_[static_cast<size_t>(pi)] = si;
  }

  /* Scans class members from q up to ']' or the pattern's end; hit becomes
  ** true when c is a member (c 0: when a blank is). Returns the position
  ** of ']' or plen. */
  int scan_members(int q, gl_wchar c, bool &hit) {
    while (q < plen_ && p_[q] != ']') {
      gl_wchar m = p_[q];
      if (q + 2 < plen_ && p_[q + 1] == '-' && p_[q + 2] != ']') {
        gl_wchar hi = p_[q + 2];
        if (c == 0 ? (m <= ' ' && hi >= ' ') : CharInRange(c, m, hi) != 0) hit = true;
        q += 3;
      } else {
        if (c == 0 ? is_blank(loc_, m) : m == c) hit = true;
        ++q;
      }
    }
    return q;
  }

  /* The string is exhausted: 1 when the pattern from pi can match only
  ** blanks (or nothing). */
  int rest_matches_nothing(int pi) {
    while (pi < plen_) {
      gl_wchar pc = p_[pi];
      if (pc == esc_) {
        gl_wchar e = pch(pi + 1);
        if (escape_rule(e, many_, one_, esc_, classes_) == escape_meaning::rest_matches) return 1;
        if (!is_blank(loc_, e)) return 0;
        pi += 2;
        continue;
      }
      if (pc == many_ || is_blank(loc_, pc)) {
        ++pi;
        continue;
      }
      if (classes_ && pc == '[') {
        int q = pi + 1;
        if (q >= plen_) return 1;
        bool negated = false;
        if (p_[q] == '^') {
          negated = true;
          ++q;
          if (q >= plen_) return 1;
        }
        bool hit = false;
        q = scan_members(q, 0, hit);
        if (q >= plen_) return 1;
        if (hit == negated) return 0;
        pi = q + 1;
        continue;
      }
      return 0;
    }
    return 1;
  }

  gl_locale *loc_;
  const C *s_;
  int slen_;
  const C *p_;
  int plen_;
  gl_wchar many_;
  gl_wchar one_;
  gl_wchar esc_;
  bool classes_;
  static constexpr int inline_memo = 32;
  uint32_t known_ = 0; /* bit pi: memo_[pi] holds a position */
  int memo_[inline_memo];
  std::vector<int> far_; /* pattern position -> lowest failed start, or -1 */
};

}  // namespace dvz_genlib::match

#endif
