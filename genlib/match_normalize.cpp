/*
** match_normalize.cpp: the normaliser of the MATCHES and LIKE matchers.
** In a locale whose collation makes some characters (or multi-character
** elements) equal and ignores others, NCHAR operands are compared after
** each equivalent sequence is replaced by its class's representative and
** each ignorable one dropped. The sequences live in a trie whose top
** level is reached through a 256-entry index on the character's leading
** byte; a queue of characters lets a value be normalised lazily, one
** group at a time.
**
** Called by the compiler and the list matcher (match_compiled.cpp). The
** normaliser is built on first use and again after the client
** environment resets _gnorminit (a locale change); building it empties
** the pattern cache of match_operator.cpp, whose lists were normalised by
** the old one.
*/
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <unordered_map>
#include <vector>

#include "gl_chars.h"
#include "match_internal.h"
#include "os_gentcb.h"
#include "os_glsenv.h"

extern "C" {
norm_table *normalizer = nullptr;
}

namespace {

using namespace dvz_genlib::match;

/* The most significant non-zero byte of a character (its leading byte in
** the packed multibyte form). */
unsigned first_byte(gl_wchar wc) {
  for (int shift = 24; shift > 0; shift -= 8)
    if (((wc >> shift) & 0xffu) != 0) return (wc >> shift) & 0xffu;
  return wc & 0xffu;
}

/* The node of wc in a sibling chain sorted ascending, or NULL. */
norm_node *find_sorted(norm_node *node, gl_wchar wc) {
  while (node != nullptr && node->wc < wc)
    node = node->sibling;
  return node != nullptr && node->wc == wc ? node : nullptr;
}

/* The top-level node of wc, or NULL. */
norm_node *lookup_top(const norm_table *n, gl_wchar wc) {
  return find_sorted(n->index[first_byte(wc)], wc);
}

/* Sorts one sibling chain ascending by character (a stable merge sort);
** returns the new head. */
norm_node *sort_chain(norm_node *head) {
  if (head == nullptr || head->sibling == nullptr) return head;
  norm_node *slow = head;
  norm_node *fast = head->sibling;
  while (fast != nullptr && fast->sibling != nullptr) {
    slow = slow->sibling;
    fast = fast->sibling->sibling;
  }
  norm_node *second = slow->sibling;
  slow->sibling = nullptr;
  norm_node *a = sort_chain(head);
  norm_node *b = sort_chain(second);
  norm_node *merged = nullptr;
  norm_node **tail = &merged;
  while (a != nullptr && b != nullptr) {
    norm_node **pick = b->wc < a->wc ? &b : &a;
    *tail = *pick;
    tail = &(*pick)->sibling;
    *pick = (*pick)->sibling;
  }
  *tail = a != nullptr ? a : b;
  return merged;
}

/* A terminated multibyte text of the client locale as wide characters
** (without the terminator) into out. false for a byte sequence that is
** no character. */
bool to_wide(gl_locale *loc, const char *text, std::vector<gl_wchar> &out) {
  out.clear();
  if (text == nullptr) return true;
  if (loc == nullptr || loc->mbstowcs_fn == nullptr) {
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(text); *s != 0; ++s)
      out.push_back(*s);
    return true;
  }
  /* The conversion stops at the terminator or after room characters: a
  ** result below room means the whole text was read. */
  for (int room = 16;; room *= 2) {
    out.resize(static_cast<size_t>(room) + 1);
    int count =
        loc->mbstowcs_fn(loc, out.data(), reinterpret_cast<const unsigned char *>(text), room);
    if (count < 0) return false;
    if (count < room) {
      out.resize(static_cast<size_t>(count));
      return true;
    }
  }
}

/* Inserts sequences into a trie under construction. The top level is
** found through a map while the trie is built (its chain is sorted only
** at the end); lower levels are short chains searched in place. */
class trie_builder {
 public:
  explicit trie_builder(norm_table *n) : n_(n) {}

  /* Files key (len characters, at least one) with its replacement
  ** (repl_len characters, 0: dropped). false: no memory. */
  bool insert(const gl_wchar *key, int len, const gl_wchar *repl, int repl_len) {
    norm_node *node = nullptr;
    auto found = top_.find(key[0]);
    if (found != top_.end()) {
      node = found->second;
    } else {
      node = new_node(key[0]);
      if (node == nullptr) return false;
      *top_tail_ = node;
      top_tail_ = &node->sibling;
      top_.emplace(key[0], node);
    }
    for (int k = 1; k < len; ++k) {
      norm_node **slot = &node->child;
      while (*slot != nullptr && (*slot)->wc != key[k])
        slot = &(*slot)->sibling;
      if (*slot == nullptr) {
        *slot = new_node(key[k]);
        if (*slot == nullptr) return false;
      }
      node = *slot;
    }
    free(node->repl);
    node->repl = nullptr;
    if (repl_len > 0) {
      node->repl =
          static_cast<gl_wchar *>(malloc(sizeof(gl_wchar) * static_cast<size_t>(repl_len)));
      if (node->repl == nullptr) {
        node->repl_len = -1;
        return false;
      }
      memcpy(node->repl, repl, sizeof(gl_wchar) * static_cast<size_t>(repl_len));
    }
    node->repl_len = repl_len;
    if (len > n_->longest_key) n_->longest_key = len;
    if (repl_len > n_->longest_repl) n_->longest_repl = repl_len;
    return true;
  }

  /* Sorts every chain, fills the index and the restart links. */
  void finish() {
    n_->trie = sort_chain(n_->trie);
    for (norm_node *node = n_->trie; node != nullptr; node = node->sibling) {
      unsigned b = first_byte(node->wc);
      if (n_->index[b] == nullptr) n_->index[b] = node;
    }
    /* Below the top level, depth first with an explicit stack: a long
    ** sequence makes a deep trie. */
    std::vector<norm_node *> pending;
    for (norm_node *node = n_->trie; node != nullptr; node = node->sibling)
      pending.push_back(node);
    while (!pending.empty()) {
      norm_node *parent = pending.back();
      pending.pop_back();
      parent->child = sort_chain(parent->child);
      for (norm_node *child = parent->child; child != nullptr; child = child->sibling) {
        child->restart = lookup_top(n_, child->wc);
        pending.push_back(child);
      }
    }
  }

 private:
  static norm_node *new_node(gl_wchar wc) {
    auto *node = static_cast<norm_node *>(calloc(1, sizeof(norm_node)));
    if (node != nullptr) {
      node->wc = wc;
      node->repl_len = -1;
    }
    return node;
  }

  norm_table *n_;
  norm_node **top_tail_ = &n_->trie;
  std::unordered_map<gl_wchar, norm_node *> top_;
};

/* Builds the trie from the two lists into n: 0, -202 or -406. */
int fill(norm_table *n, gl_locale *loc, char **ignorable, gl_equiv_pair *equivalents) {
  trie_builder trie(n);
  std::vector<gl_wchar> key;
  std::vector<gl_wchar> repl;
  for (char **s = ignorable; s != nullptr && *s != nullptr; ++s) {
    if (!to_wide(loc, *s, key)) return os_err_bad_char;
    if (key.empty()) continue;
    if (!trie.insert(key.data(), static_cast<int>(key.size()), nullptr, 0)) return os_err_no_memory;
  }
  for (gl_equiv_pair *p = equivalents; p != nullptr && p->member != nullptr; ++p) {
    if (!to_wide(loc, p->member, key) || !to_wide(loc, p->representative, repl))
      return os_err_bad_char;
    if (key.empty()) continue;
    if (!trie.insert(key.data(), static_cast<int>(key.size()), repl.data(),
                     static_cast<int>(repl.size())))
      return os_err_no_memory;
  }
  trie.finish();
  return 0;
}

/* Whether every byte from 1 to 0x7f is a one-byte character of its own
** value in loc, and which of them are blanks, into n. */
void survey_ascii(gl_locale *loc, norm_table *n) {
  n->ascii_direct = 1;
  for (int b = 1; b < 0x80; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    gl_wchar wc = byte;
    int r = loc == nullptr || loc->single_byte != 0 ? 1 : gl_full_mbtowc(loc, &wc, &byte, 1);
    if (r != 1 || wc != byte) {
      n->ascii_direct = 0;
      return;
    }
    if (is_blank(loc, wc)) n->ascii_blank[b >> 5] |= 1u << (b & 31);
  }
}

/* Frees the cached compiled pattern: it was normalised by the old
** normaliser. */
void empty_pattern_cache() {
  rfreerelist(prev_relist);
  prev_relist = nullptr;
  free(prev_restr);
  prev_restr = nullptr;
  nprev_restr = -1;
}

}  // namespace

extern "C" {

void rfreenormlist(norm_node *trie) {
  /* Iteratively: a child chain is spliced in after the node's siblings,
  ** so every node is reached once without recursion. */
  norm_node *node = trie;
  while (node != nullptr) {
    if (node->child != nullptr) {
      norm_node *last = node->child;
      while (last->sibling != nullptr)
        last = last->sibling;
      last->sibling = node->sibling;
      node->sibling = node->child;
      node->child = nullptr;
    }
    norm_node *next = node->sibling;
    free(node->repl);
    free(node);
    node = next;
  }
}

void rfreenormtable(norm_node **index) { free(index); }

void rfreenormalizer(norm_table *n) {
  if (n == nullptr) return;
  rfreenormlist(n->trie);
  rfreenormtable(n->index);
  free(n);
}

int build_normalizer(char **ignorable, gl_equiv_pair *equivalents) {
  rfreenormalizer(normalizer);
  normalizer = nullptr;
  _gnorminit = 0;
  empty_pattern_cache();
  auto *n = static_cast<norm_table *>(calloc(1, sizeof(norm_table)));
  if (n == nullptr) {
    set_toerrno(os_err_no_memory);
    return 0;
  }
  n->index = static_cast<norm_node **>(calloc(256, sizeof(norm_node *)));
  int error = n->index == nullptr ? os_err_no_memory : 0;
  if (error == 0) {
    survey_ascii(client_locale(), n);
    try {
      error = fill(n, client_locale(), ignorable, equivalents);
    } catch (const std::bad_alloc &) {
      error = os_err_no_memory;
    }
  }
  if (error != 0) {
    rfreenormalizer(n);
    set_toerrno(error);
    return 0;
  }
  normalizer = n;
  _gnorminit = 1;
  return 1;
}

norm_node *fifo_normalize(norm_table *n, norm_node *start, wcfifo *q, int one_step, gl_wchar *out,
                          int room, int *consumed, int *written) {
  int bytes = 0;
  int w = 0;
  norm_node *next_start = nullptr;
  while (q->count > 0 && w < room) {
    int len = 0;
    gl_wchar c = pop_wcfifo(q, &len);
    norm_node *candidate = start != nullptr && start->wc == c ? start : lookup_top(n, c);
    start = nullptr;
    next_start = nullptr;
    if (candidate == nullptr) {
      out[w++] = c;
      bytes += len;
      if (one_step != 0) break;
      continue;
    }
    /* Only pops that returned a character are counted, so un-reading
    ** never reaches a stale slot of the ring. */
    int taken = 1;
    int taken_bytes = len;
    norm_node *complete = candidate->repl_len >= 0 ? candidate : nullptr;
    int complete_taken = 1;
    int complete_bytes = len;
    norm_node *restart = nullptr;
    int restart_taken = 0;
    for (norm_node *node = candidate; node->child != nullptr && q->count > 0;) {
      int l = 0;
      gl_wchar d = pop_wcfifo(q, &l);
      ++taken;
      taken_bytes += l;
      node = find_sorted(node->child, d);
      if (node == nullptr) break;
      if (node->repl_len >= 0) {
        complete = node;
        complete_taken = taken;
        complete_bytes = taken_bytes;
      }
      if (restart == nullptr && node->restart != nullptr) {
        restart = node;
        restart_taken = taken;
      }
    }
    if (complete != nullptr) {
      depop_wcfifo(q, taken - complete_taken);
      int k = complete->repl_len < room - w ? complete->repl_len : room - w;
      if (k > 0) memcpy(out + w, complete->repl, sizeof(gl_wchar) * static_cast<size_t>(k));
      w += k;
      bytes += complete_bytes;
    } else if (restart != nullptr) {
      /* The characters before the restart node start no sequence that
      ** could still complete: they pass unchanged, and the next group
      ** begins where the overlapping sequence does. */
      depop_wcfifo(q, taken);
      for (int k = 1; k < restart_taken && w < room; ++k) {
        int l = 0;
        out[w++] = pop_wcfifo(q, &l);
        bytes += l;
      }
      next_start = restart->restart;
      start = next_start;
    } else {
      depop_wcfifo(q, taken - 1);
      out[w++] = c;
      bytes += len;
    }
    if (one_step != 0) break;
  }
  *consumed = bytes;
  *written = w;
  return next_start;
}

int wcs_normalize(norm_table *n, gl_wchar *out, const gl_wchar *text, int room) {
  int len = wide_length(text);
  if (n == nullptr) {
    int k = len < room ? len : room;
    if (k > 0) memcpy(out, text, sizeof(gl_wchar) * static_cast<size_t>(k));
    if (k < room) out[k] = 0;
    return k;
  }
  wcfifo *q = init_wcfifo(len);
  if (q == nullptr) return -1;
  for (int k = 0; k < len; ++k)
    push_to_wcfifo(q, text[k], 1);
  int consumed = 0;
  int written = 0;
  fifo_normalize(n, nullptr, q, 0, out, room, &consumed, &written);
  destory_wcfifo(q);
  if (written < room) out[written] = 0;
  return written;
}

int wcnorm(gl_wchar wc, gl_wchar *out, int room, int normalise) {
  if (room < 1) return 0;
  if (normalise == 0 || normalizer == nullptr) {
    out[0] = wc;
    return 1;
  }
  /* A queue of one on the stack: this runs for every blank test. */
  gl_wchar slot = 0;
  int32_t slot_len = 0;
  wcfifo q {1, 0, 0, 0, &slot, &slot_len};
  push_to_wcfifo(&q, wc, 1);
  int consumed = 0;
  int written = 0;
  fifo_normalize(normalizer, nullptr, &q, 0, out, room, &consumed, &written);
  return written;
}

int get_char_ratio(gl_locale *loc) {
  int ratio = loc != nullptr ? static_cast<int>(ceil(loc->coll_expansion)) : 1;
  /* A sequence longer than the locale admits (lists given directly) must
  ** still fit the queue, or the value and the pattern would be grouped
  ** differently. */
  if (normalizer != nullptr && normalizer->longest_key > ratio) ratio = normalizer->longest_key;
  return ratio > 0 ? ratio : 1;
}

int maxlen_for_normalize(int length) {
  gl_locale *loc = client_locale();
  double ratio = loc != nullptr ? loc->coll_expansion : 1.0;
  if (normalizer != nullptr && normalizer->longest_repl > ratio) ratio = normalizer->longest_repl;
  return static_cast<int>(ceil(length * ratio)) + length;
}
}
