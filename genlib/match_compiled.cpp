/*
** match_compiled.cpp: the compiled matcher. A pattern (wide characters) is
** compiled once into a list of nodes (literal runs, many, one, class
** parts) that the operator caches; a value is then matched against the
** list one multibyte character at a time in the client locale. Called by
** the MATCHES and LIKE operator (match_operator.cpp) outside single-byte
** locales.
*/
#include <stdlib.h>

#include <unordered_map>

#include "gl_chars.h"
#include "match_internal.h"
#include "os_gentcb.h"

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

/* Builds nodes into a list whose first node owns the text buffer. */
struct list_builder {
  relist *head = nullptr;
  relist *tail = nullptr;
  gl_wchar *buffer = nullptr;
  int used = 0;
  int run_start = -1; /* start of the pending literal run in buffer */

  bool add(int32_t code, gl_wchar *text, int32_t len) {
    auto *n = static_cast<relist *>(calloc(1, sizeof(relist)));
    if (n == nullptr) return false;
    n->code = code;
    n->text = text;
    n->len = len;
    n->unnorm_len = len;
    if (tail == nullptr)
      head = n;
    else
      tail->next = n;
    tail = n;
    return true;
  }
  bool end_run() {
    if (run_start < 0) return true;
    int start = run_start;
    run_start = -1;
    return add(code_literal, buffer + start, used - start);
  }
  void extend_run(gl_wchar c) {
    if (run_start < 0) run_start = used;
    buffer[used++] = c;
  }
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
  if (r <= 0) return value_err_bad_char;
  *s += r;
  *n -= r;
  return 0;
}

/* 1 when len characters of text are all the blank (or there are none). */
int check_blanks(const gl_wchar *text, int len, int /*normalise*/) {
  for (int k = 0; k < len; ++k)
    if (text[k] != ' ') return 0;
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

/* Whether c is in the class whose nodes start at node (the node after the
** class start); c 0 asks whether the class admits a blank. Returns the
** class-end node (the end node of an unterminated class) on a match, else
** NULL. */
relist *check_bracket(gl_wchar c, relist *node) {
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
      if (c == 0 ? m == ' ' : m == c) hit = true;
    } else if (node->code == code_range) {
      if (c == '-') hit = true;
    }
    node = node->next;
  }
  return hit != negated ? node : nullptr;
}

/* 1 when the list from node can match an exhausted value. */
int check_trailpattern(relist *node) {
  while (node != nullptr && node->code != code_end) {
    switch (node->code) {
      case code_many:
        node = node->next;
        break;
      case code_literal:
        if (check_blanks(node->text, node->len, 0) == 0) return 0;
        node = node->next;
        break;
      case code_class_start: {
        relist *end = check_bracket(0, node->next);
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
** failed, so no pair is tried twice. */
struct list_match {
  gl_locale *loc;
  const unsigned char *base;
  int len;
  int blank_tail = -1; /* offset where only blanks remain; -1 unknown */
  /* node after a many character -> lowest byte offset from which every
  ** retry failed: later starts fail too. */
  std::unordered_map<const relist *, int> failed_from;

  bool exhausted(int pos) const { return pos >= len || base[pos] == 0; }
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
        if (mbtowc_inc(loc, &s, &n, &wc) != 0) {
          tail = -2;
          break;
        }
        if (!is_blank(loc, wc)) tail = static_cast<int>(s - base);
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
    if (mbtowc_inc(loc, &s, &n, wc) != 0) return -1;
    return static_cast<int>(s - base);
  }

  int bad() {
    set_toerrno(value_err_bad_char);
    return 0;
  }

  /* rperfwildmatch: 1 when the value from pos matches the list from node. */
  int run(relist *node, int pos) {
    for (;;) {
      if (node == nullptr) return 0;
      if (node->code == code_end || exhausted(pos)) {
        if (exhausted(pos)) return node->code == code_end ? 1 : check_trailpattern(node);
        int r = rest_blank(pos);
        return r < 0 ? bad() : (r == 0 ? 1 : 0);
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
          if (r == 0) return check_trailpattern(node);
          gl_wchar wc = 0;
          pos = next(pos, &wc);
          if (pos < 0) return bad();
          relist *end = check_bracket(wc, node->next);
          if (end == nullptr) return 0;
          if (end->code == code_class_end) end = end->next;
          node = end;
          continue;
        }
        case code_many: {
          while (node->code == code_many)
            node = node->next;
          if (node->code == code_end) return 1;
          auto known = failed_from.find(node);
          int limit = known != failed_from.end() ? known->second : len + 1;
          int start = pos;
          while (pos < limit) {
            int r = rest_blank(pos);
            if (r < 0) return bad();
            if (r == 0) break;
            if (run(node, pos) != 0) return 1;
            if (get_toerrno() == value_err_bad_char) return 0;
            gl_wchar wc = 0;
            pos = next(pos, &wc);
            if (pos < 0) return bad();
          }
          if (known == failed_from.end() || start < known->second) failed_from[node] = start;
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
    for (int k = 0; k < node->len; ++k) {
      if (exhausted(pos)) return check_blanks(node->text + k, node->len - k, 0) != 0 ? 1 : 0;
      gl_wchar wc = 0;
      pos = next(pos, &wc);
      if (pos < 0) return -1;
      if (wc != node->text[k]) return 0;
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
  int n = wide_length(pattern);
  list_builder b;
  b.buffer = static_cast<gl_wchar *>(malloc((static_cast<size_t>(n) + 1) * sizeof(gl_wchar)));
  if (b.buffer == nullptr) {
    set_toerrno(value_err_no_memory);
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
      ok = b.end_run() && b.add(code_many, nullptr, 0);
      break;
    }
    if (code != 0) {
      ok = b.end_run() && b.add(code, nullptr, 0);
    } else if (was_in_class) {
      ok = b.end_run();
      b.extend_run(st.escaped);
      ok = ok && b.end_run();
    } else {
      if (st.from_escape) ok = b.end_run();
      b.extend_run(st.escaped);
    }
  }
  ok = ok && b.end_run() && b.add(code_end, b.buffer, 0);
  if (!ok) {
    /* No end node was added: free the nodes, then the buffer. */
    for (relist *node = b.head; node != nullptr;) {
      relist *next = node->next;
      free(node);
      node = next;
    }
    free(b.buffer);
    set_toerrno(value_err_list_memory);
    return nullptr;
  }
  return b.head;
}

int rrewildmatch(const char *string, int len, relist *list, int /*normalise*/) {
  if (list == nullptr) return 0;
  list_match m {client_locale(),
                reinterpret_cast<const unsigned char *>(string),
                string != nullptr && len > 0 ? len : 0,
                -1,
                {}};
  return m.run(list, 0);
}

gl_wchar *alloccnvtowchar(const char *bytes, int len) {
  if (len < 0) len = 0;
  auto *wide = static_cast<gl_wchar *>(malloc((static_cast<size_t>(len) + 1) * sizeof(gl_wchar)));
  if (wide == nullptr) {
    set_toerrno(value_err_list_memory);
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
      set_toerrno(value_err_bad_char);
      return nullptr;
    }
    wide[count++] = wc;
    if (!is_blank(loc, wc)) blank_run = count;
  }
  wide[blank_run] = 0;
  return wide;
}
}
