/*
** match_compiled.cpp: the compiled matcher. A pattern (wide characters) is
** compiled once into a list of nodes (literal runs, many, one, class
** parts) that the operator caches; a value is then matched against the
** list one multibyte character at a time in the client locale. With
** normalisation (NCHAR operands in a locale with equivalent or ignorable
** characters) literal runs are stored normalised and the value is read
** through the normaliser (match_normalize.cpp). Called by the MATCHES and
** LIKE operator (match_operator.cpp) outside single-byte locales and
** wherever normalisation is on.
*/
#include <stdlib.h>
#include <string.h>

#include <unordered_map>
#include <vector>

#include "gl_chars.h"
#include "gl_collate.h"
#include "match_internal.h"
#include "os_gentcb.h"
#include "os_glsenv.h"

namespace {

using namespace dvz_genlib::match;

enum node_code : int32_t {
  code_end = 0,
  code_literal = 1,
  code_many = -1,
  code_one = -2,
  code_class_start = -3,
  code_class_end = -4,
  code_negation = -5,
  code_range = -6
};

/* Where the compiler stands in the pattern. */
struct scan_state {
  const gl_wchar *p;
  int pos;
  bool in_class;
  bool class_just_opened; /* the previous character was the class start */
  bool after_class_literal; /* the previous character was a literal member */
  gl_wchar escaped; /* the literal character just read */
  bool from_escape; /* that literal followed an escape */
  bool stop; /* an escape ended the pattern: a many node closes the list */
};

/* Classifies the character at the scan position and advances past it (and
** past an escape). code becomes the node code, or 0 for a literal whose
** value is left in escaped. Outside a class an escape yields its next
** character as a literal; an escape at the end, or an invalid one in an
** ANSI-compliant database, sets stop. */
void findoutnexttype(scan_state &st, gl_wchar many, gl_wchar one, gl_wchar escape, int &code,
                     int /*normalise*/) {
  gl_wchar c = st.p[st.pos++];
  bool classes = has_classes(static_cast<int>(many));
  bool opened = st.class_just_opened;
  bool after_literal = st.after_class_literal;
  st.class_just_opened = false;
  st.after_class_literal = false;
  st.escaped = c;
  st.from_escape = false;
  code = 0;
  if (st.in_class) {
    if (c == ']') {
      st.in_class = false;
      code = code_class_end;
    } else if (c == '^' && opened) {
      code = code_negation;
    } else if (c == '-' && after_literal) {
      code = code_range;
    } else {
      st.after_class_literal = true;
    }
    return;
  }
  if (c == escape) {
    gl_wchar e = st.p[st.pos];
    if (escape_rule(e, many, one, escape, classes) == escape_meaning::rest_matches) {
      st.stop = true;
      return;
    }
    ++st.pos;
    st.escaped = e;
    st.from_escape = true;
    return;
  }
  if (c == many) {
    code = code_many;
  } else if (c == one) {
    code = code_one;
  } else if (classes && c == '[') {
    code = code_class_start;
    st.in_class = true;
    st.class_just_opened = true;
  }
}

/* Builds nodes into a list whose first node owns the text buffer. The
** pending literal run is gathered apart (pending, as long as the pattern)
** and written into the buffer when it ends, normalised when asked. */
struct list_builder {
  relist *head = nullptr;
  relist *tail = nullptr;
  gl_wchar *buffer = nullptr;
  int capacity = 0; /* characters of buffer */
  int used = 0;
  gl_wchar *pending = nullptr;
  int pending_len = 0;
  bool normalise = false;
  int error = gls_err_date_memory; /* what a failure leaves in toerrno */

  bool add(int32_t code, gl_wchar *text, int32_t len, int32_t unnorm_len) {
    auto *n = static_cast<relist *>(calloc(1, sizeof(relist)));
    if (n == nullptr) return false;
    n->code = code;
    n->text = text;
    n->len = len;
    n->unnorm_len = unnorm_len;
    if (tail == nullptr)
      head = n;
    else
      tail->next = n;
    tail = n;
    return true;
  }
  bool add(int32_t code) { return add(code, nullptr, 0, 0); }
  bool end_run() {
    if (pending_len == 0) return true;
    int unnorm = pending_len;
    pending_len = 0;
    gl_wchar *text = buffer + used;
    int len = unnorm;
    if (normalise) {
      pending[unnorm] = 0;
      len = wcs_normalize(normalizer, text, pending, capacity - used);
      if (len < 0) {
        error = os_err_no_memory;
        return false;
      }
    } else {
      memcpy(text, pending, sizeof(gl_wchar) * static_cast<size_t>(unnorm));
    }
    used += len;
    return add(code_literal, text, len, unnorm);
  }
  void extend_run(gl_wchar c) { pending[pending_len++] = c; }
};

/* Reads one character of at most 4 bytes at *s (length *n), advancing
** both. Returns 0, or -202 for a byte sequence that is no character. */
int mbtowc_inc(gl_locale *loc, const unsigned char **s, int *n, gl_wchar *wc) {
  if (loc == nullptr || loc->single_byte != 0) {
    *wc = **s;
    ++*s;
    --*n;
    return 0;
  }
  int r = gl_full_mbtowc(loc, wc, *s, *n < 4 ? *n : 4);
  if (r <= 0) return os_err_bad_char;
  *s += r;
  *n -= r;
  return 0;
}

/* 1 when len characters of text are repetitions of the (normalised)
** blank, or there are none; 0 also when the blank normalises to nothing. */
int check_blanks(const gl_wchar *text, int len, int normalise) {
  if (len <= 0) return 1;
  gl_wchar blank[16];
  int n = wcnorm(' ', blank, 16, normalise);
  if (n <= 0 || len % n != 0) return 0;
  for (int k = 0; k < len; ++k)
    if (text[k] != blank[k % n]) return 0;
  return 1;
}

/* len when a non-blank character remains in the value, 0 when only blanks
** (or nothing) remain, -1 for a byte sequence that is no character. */
int mark_trailingblanks(gl_locale *loc, const unsigned char *s, int len) {
  int n = len;
  while (n > 0 && *s != 0) {
    gl_wchar wc = 0;
    if (mbtowc_inc(loc, &s, &n, &wc) != 0) return -1;
    if (!is_blank(loc, wc)) return len;
  }
  return 0;
}

/* A literal class member and a value character are the same: with
** normalisation by collation of the one-character strings (equivalent
** characters collate equal), else by value. */
bool same_member(gl_wchar m, gl_wchar c, int normalise) {
  if (normalise == 0) return m == c;
  gl_locale *loc = client_locale();
  const gl_wchar a[2] = {m, 0};
  const gl_wchar b[2] = {c, 0};
  if (loc == nullptr || loc->codeset_order != 0) return gl_wcscmp(a, b) == 0;
  return gl_full_wcscoll(loc, a, b) == 0;
}

/* Whether c is in the class whose nodes start at node (the node after the
** class start); c 0 asks whether the class admits a blank. Returns the
** class-end node (the end node of an unterminated class) on a match, else
** NULL. */
relist *check_bracket(gl_wchar c, relist *node, int normalise) {
  if (node == nullptr || node->code == code_end || node->code == code_class_end) return nullptr;
  bool negated = false;
  if (node->code == code_negation) {
    negated = true;
    node = node->next;
    if (node->code == code_end || node->code == code_class_end) return node;
  }
  bool hit = false;
  while (node->code != code_end && node->code != code_class_end) {
    if (node->code == code_literal) {
      gl_wchar m = node->text[0];
      relist *range = node->next;
      if (range->code == code_range && range->next->code == code_literal) {
        gl_wchar hi = range->next->text[0];
        if (c == 0 ? (m <= ' ' && hi >= ' ') : CharInRange(c, m, hi) != 0) hit = true;
        node = range->next->next;
        continue;
      }
      if (c == 0 ? m == ' ' : same_member(m, c, normalise)) hit = true;
    } else if (node->code == code_range) {
      if (c == '-') hit = true;
    }
    node = node->next;
  }
  return hit != negated ? node : nullptr;
}

/* 1 when the list from node can match an exhausted value. */
int check_trailpattern(relist *node, int normalise) {
  while (node != nullptr && node->code != code_end) {
    switch (node->code) {
      case code_many:
        node = node->next;
        break;
      case code_literal:
        if (check_blanks(node->text, node->len, normalise) == 0) return 0;
        node = node->next;
        break;
      case code_class_start: {
        relist *end = check_bracket(0, node->next, normalise);
        if (end == nullptr || end->code != code_class_end) return 0;
        node = end->next;
        break;
      }
      default:
        return 0;
    }
  }
  return 1;
}

/* One match of a value against a list. Retries of the many character are
** remembered per (node, byte offset) as the lowest offset from which all
** failed, so no pair is tried twice. With normalisation the value is read
** group by group through the queue, which holds the characters from byte
** qpos (up to qend) read ahead and not yet normalised. */
struct list_match {
  gl_locale *loc = nullptr;
  const unsigned char *base = nullptr;
  int len = 0;
  int normalise = 0;
  int blank_tail = -1; /* offset where only blanks remain; -1 unknown */
  /* node after a many character -> lowest byte offset from which every
  ** retry failed: later starts fail too. A pattern's first few such nodes
  ** are kept in place, so that a match commonly allocates nothing. */
  static constexpr int inline_memo = 16;
  const relist *memo_node[inline_memo];
  int memo_pos[inline_memo];
  int memo_count = 0;
  std::unordered_map<const relist *, int> memo_far;

  /* The lowest offset from which every try of node failed, or -1. */
  int failed_from(const relist *node) const {
    for (int k = 0; k < memo_count; ++k)
      if (memo_node[k] == node) return memo_pos[k];
    auto far = memo_far.find(node);
    return far != memo_far.end() ? far->second : -1;
  }
  void remember_failed(const relist *node, int pos) {
    for (int k = 0; k < memo_count; ++k)
      if (memo_node[k] == node) {
        memo_pos[k] = pos;
        return;
      }
    if (memo_count < inline_memo) {
      memo_node[memo_count] = node;
      memo_pos[memo_count++] = pos;
      return;
    }
    memo_far[node] = pos;
  }
  wcfifo *queue = nullptr;
  int qpos = -1;
  int qend = -1;
  int ratio = 1;
  std::vector<gl_wchar> group; /* one normalised group */

  bool ascii = false; /* bytes below 0x80 are characters of their own value */
  const uint32_t *ascii_blank = nullptr; /* with ascii: which are blanks */

  bool exhausted(int pos) const { return pos >= len || base[pos] == 0; }
  /* mbtowc_inc, without the locale's tables for the commonest bytes. */
  int decode(const unsigned char **s, int *n, gl_wchar *wc) const {
    if (ascii && **s < 0x80) {
      *wc = **s;
      ++*s;
      --*n;
      return 0;
    }
    return mbtowc_inc(loc, s, n, wc);
  }
  /* is_blank, without the locale's tables for the commonest bytes. */
  bool blank(gl_wchar wc) const {
    if (ascii && wc < 0x80) return (ascii_blank[wc >> 5] >> (wc & 31) & 1u) != 0;
    return is_blank(loc, wc);
  }
  /* 1, 0; -1 for a bad character (the caller reports -202). */
  int rest_blank(int pos) {
    if (blank_tail < 0) {
      /* One walk finds where the trailing blanks start; a bad character
      ** on the way leaves the walk to each call. */
      int n = len;
      const unsigned char *s = base;
      int tail = 0;
      while (n > 0 && *s != 0) {
        gl_wchar wc = 0;
        if (decode(&s, &n, &wc) != 0) {
          tail = -2;
          break;
        }
        if (!blank(wc)) tail = static_cast<int>(s - base);
      }
      blank_tail = tail;
    }
    if (blank_tail == -2) return mark_trailingblanks(loc, base + pos, len - pos);
    return pos >= blank_tail ? 0 : 1;
  }
  /* Reads the character at pos: its value, and the next position (-1 bad). */
  int next(int pos, gl_wchar *wc) const {
    const unsigned char *s = base + pos;
    int n = len - pos;
    if (decode(&s, &n, wc) != 0) return -1;
    return static_cast<int>(s - base);
  }

  bool bad_seen = false; /* a byte sequence that is no character was met */

  int bad() {
    bad_seen = true;
    set_toerrno(os_err_bad_char);
    return 0;
  }

  /* normalize_first_elem: the next group of the value from pos that does
  ** not normalise to nothing, into group; *glen its characters (0: the
  ** value ends first) and *after the offset past it. 0, or -1 for a bad
  ** character. */
  int normalize_first_elem(int pos, int *glen, int *after) {
    for (;;) {
      if (exhausted(pos)) {
        *glen = 0;
        *after = pos;
        return 0;
      }
      if (pos != qpos) {
        flush_wcfifo(queue);
        qpos = pos;
        qend = pos;
      }
      while (queue->count < ratio && !exhausted(qend)) {
        gl_wchar wc = 0;
        int at = next(qend, &wc);
        if (at < 0) break; /* reported when the group reaches it */
        push_to_wcfifo(queue, wc, at - qend);
        qend = at;
      }
      if (queue->count == 0) return -1;
      int consumed = 0;
      int written = 0;
      fifo_normalize(normalizer, nullptr, queue, 1, group.data(), static_cast<int>(group.size()),
                     &consumed, &written);
      qpos += consumed;
      pos = qpos;
      if (written > 0) {
        *glen = written;
        *after = pos;
        return 0;
      }
    }
  }

  /* The list has ended with value left from pos: 1 when the rest is
  ** blanks (and, with normalisation, sequences the normaliser drops). */
  int rest_ignorable(int pos) {
    if (normalise == 0) {
      int r = rest_blank(pos);
      return r < 0 ? bad() : (r == 0 ? 1 : 0);
    }
    for (;;) {
      int glen = 0;
      if (normalize_first_elem(pos, &glen, &pos) < 0) return bad();
      if (glen == 0) return 1;
      for (int k = 0; k < glen; ++k)
        if (!blank(group[static_cast<size_t>(k)])) return 0;
    }
  }

  /* rperfwildmatch: 1 when the value from pos matches the list from node. */
  int run(relist *node, int pos) {
    for (;;) {
      if (node == nullptr) return 0;
      if (node->code == code_end || exhausted(pos)) {
        if (exhausted(pos)) return node->code == code_end ? 1 : check_trailpattern(node, normalise);
        return rest_ignorable(pos);
      }
      switch (node->code) {
        case code_literal: {
          int r = check_restofrelist(node, pos);
          if (r < 0) return bad();
          if (r == 0) return 0;
          pos = r == 1 ? len : r - 2;
          break;
        }
        case code_one: {
          int r = rest_blank(pos);
          if (r < 0) return bad();
          if (r == 0) return 0;
          gl_wchar wc = 0;
          pos = next(pos, &wc);
          if (pos < 0) return bad();
          break;
        }
        case code_class_start: {
          int r = rest_blank(pos);
          if (r < 0) return bad();
          if (r == 0) return check_trailpattern(node, normalise);
          gl_wchar wc = 0;
          pos = next(pos, &wc);
          if (pos < 0) return bad();
          relist *end = check_bracket(wc, node->next, normalise);
          if (end == nullptr) return 0;
          if (end->code == code_class_end) end = end->next;
          node = end;
          continue;
        }
        case code_many: {
          while (node->code == code_many)
            node = node->next;
          if (node->code == code_end) return 1;
          int known = failed_from(node);
          int limit = known >= 0 ? known : len + 1;
          int start = pos;
          /* Without normalisation a literal next in the list fails at
          ** once where the value holds another character: no try there. */
          bool plain = normalise == 0 && node->code == code_literal && node->len > 0;
          while (pos < limit) {
            int r = rest_blank(pos);
            if (r < 0) return bad();
            if (r == 0) break;
            gl_wchar wc = 0;
            int after = next(pos, &wc);
            if (after < 0) return bad();
            if (!plain || wc == node->text[0]) {
              if (run(node, pos) != 0) return 1;
              if (bad_seen) return 0;
            }
            pos = after;
          }
          if (known < 0 || start < known) remember_failed(node, start);
          return 0;
        }
        default:
          return 0;
      }
      node = node->next;
    }
  }

  /* A literal node from pos: 0 no match, -1 bad character, 1 the value
  ** ended inside the literal on blanks only, else 2 + the position after it. */
  int check_restofrelist(relist *node, int pos) {
    if (normalise != 0) return check_normalised(node, pos);
    for (int k = 0; k < node->len; ++k) {
      if (exhausted(pos)) return check_blanks(node->text + k, node->len - k, 0) != 0 ? 1 : 0;
      gl_wchar wc = 0;
      pos = next(pos, &wc);
      if (pos < 0) return -1;
      if (wc != node->text[k]) return 0;
    }
    return pos + 2;
  }

  /* check_restofrelist with normalisation: each group of the value must
  ** be the next part of the literal's normalised text. */
  int check_normalised(relist *node, int pos) {
    int k = 0;
    while (k < node->len) {
      int glen = 0;
      if (normalize_first_elem(pos, &glen, &pos) < 0) return -1;
      if (glen == 0) return check_blanks(node->text + k, node->len - k, 1) != 0 ? 1 : 0;
      if (glen > node->len - k ||
          memcmp(group.data(), node->text + k, sizeof(gl_wchar) * static_cast<size_t>(glen)) != 0)
        return 0;
      k += glen;
    }
    return pos + 2;
  }
};

}  // namespace

extern "C" {

void rfreerelist(relist *list) {
  /* The end node carries the text buffer of the whole list. */
  gl_wchar *buffer = nullptr;
  for (relist *node = list; node != nullptr;) {
    relist *next = node->next;
    bool last = node->code == code_end;
    if (last) buffer = node->text;
    free(node);
    if (last) break;
    node = next;
  }
  free(buffer);
}

relist *rcnvtorelist(const gl_wchar *pattern, int many, int one, int escape, int normalise) {
  if (pattern == nullptr) return nullptr;
  if (_gnorminit == 0) {
    gl_locale *loc = client_locale();
    if (build_normalizer(loc != nullptr ? loc->ignorable_chars : nullptr,
                         loc != nullptr ? loc->equivalent_chars : nullptr) == 0)
      return nullptr;
  }
  int n = wide_length(pattern);
  list_builder b;
  b.normalise = normalise != 0 && normalizer != nullptr;
  b.capacity = (b.normalise ? maxlen_for_normalize(n) : n) + 1;
  b.buffer = static_cast<gl_wchar *>(malloc(static_cast<size_t>(b.capacity) * sizeof(gl_wchar)));
  b.pending = static_cast<gl_wchar *>(malloc((static_cast<size_t>(n) + 1) * sizeof(gl_wchar)));
  if (b.buffer == nullptr || b.pending == nullptr) {
    free(b.buffer);
    free(b.pending);
    set_toerrno(os_err_no_memory);
    return nullptr;
  }
  scan_state st {pattern, 0, false, false, false, 0, false, false};
  bool ok = true;
  while (ok && pattern[st.pos] != 0) {
    int code = 0;
    bool was_in_class = st.in_class;
    findoutnexttype(st, static_cast<gl_wchar>(many), static_cast<gl_wchar>(one),
                    static_cast<gl_wchar>(escape), code, normalise);
    if (st.stop) {
      ok = b.end_run() && b.add(code_many);
      break;
    }
    if (code != 0) {
      ok = b.end_run() && b.add(code);
    } else if (was_in_class) {
      /* A class member is one character, never normalised. */
      ok = b.end_run();
      if (ok) {
        b.buffer[b.used] = st.escaped;
        ok = b.add(code_literal, b.buffer + b.used, 1, 1);
        ++b.used;
      }
    } else {
      if (st.from_escape) ok = b.end_run();
      b.extend_run(st.escaped);
    }
  }
  ok = ok && b.end_run() && b.add(code_end, b.buffer, 0, 0);
  free(b.pending);
  if (!ok) {
    /* No end node was added: free the nodes, then the buffer. */
    for (relist *node = b.head; node != nullptr;) {
      relist *next = node->next;
      free(node);
      node = next;
    }
    free(b.buffer);
    set_toerrno(b.error);
    return nullptr;
  }
  return b.head;
}

int rrewildmatch(const char *string, int len, relist *list, int normalise) {
  if (list == nullptr) return 0;
  list_match m;
  m.loc = client_locale();
  m.base = reinterpret_cast<const unsigned char *>(string);
  m.len = string != nullptr && len > 0 ? len : 0;
  /* The normaliser was built for this locale: its byte survey holds. */
  m.ascii = normalizer != nullptr && normalizer->ascii_direct != 0;
  if (m.ascii) m.ascii_blank = normalizer->ascii_blank;
  if (normalise != 0 && normalizer != nullptr) {
    m.normalise = 1;
    m.ratio = get_char_ratio(m.loc);
    m.queue = init_wcfifo(m.ratio);
    if (m.queue == nullptr) {
      set_toerrno(os_err_no_memory);
      return 0;
    }
    /* Room for the longest replacement a single group can give. */
    m.group.resize(normalizer->longest_repl > 50 ? static_cast<size_t>(normalizer->longest_repl)
                                                 : 50);
  }
  int matched = m.run(list, 0);
  destory_wcfifo(m.queue);
  return matched;
}

gl_wchar *alloccnvtowchar(const char *bytes, int len) {
  if (len < 0) len = 0;
  auto *wide = static_cast<gl_wchar *>(malloc((static_cast<size_t>(len) + 1) * sizeof(gl_wchar)));
  if (wide == nullptr) {
    set_toerrno(gls_err_date_memory);
    return nullptr;
  }
  gl_locale *loc = client_locale();
  const auto *s = reinterpret_cast<const unsigned char *>(bytes);
  int n = len;
  int count = 0;
  int blank_run = 0; /* start of the final run of blanks */
  while (n > 0 && *s != 0) {
    gl_wchar wc = 0;
    if (mbtowc_inc(loc, &s, &n, &wc) != 0) {
      free(wide);
      set_toerrno(os_err_bad_char);
      return nullptr;
    }
    wide[count++] = wc;
    if (!is_blank(loc, wc)) blank_run = count;
  }
  wide[blank_run] = 0;
  return wide;
}
}
