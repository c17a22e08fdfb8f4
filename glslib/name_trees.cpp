/*
** Name-lookup trees: case-folded tries of a locale's day, month, era and
** am/pm names and alternative digits, with which the time parser
** recognises a name at the start of a text.
**
** A tree is a pointer to its first top-level node; each node holds one
** lower-cased character, its first child (the next character) and its next
** sibling (another character at the same position). The wide trees hold
** one character per level; the byte-keyed (_mb) trees one byte of a
** lower-cased character per level. Built by the TIME initialisation of the
** loader, freed with the TIME category. Calls: the character layer to
** decode, fold and encode characters; the host allocator for every node.
*/

#include "chars_internal.h"

namespace {

using namespace glslib::chars;

name_tree_node *new_node(gl_locale *loc, gl_wchar character) {
  auto *node = static_cast<name_tree_node *>(_gl_alloc_ptr(sizeof(name_tree_node)));
  if (node == nullptr) {
    set_error(loc, GL_ENOMEM);
    return nullptr;
  }
  *node = name_tree_node {character, 0, 0, nullptr, nullptr};
  return node;
}

/* The node of character among the siblings that *level begins, appended
** at the end of that list when none has it; NULL when memory runs out. */
name_tree_node *find_or_add(gl_locale *loc, name_tree_node **level, gl_wchar character) {
  name_tree_node **link = level;
  while (*link != nullptr) {
    if ((*link)->character == character) return *link;
    link = &(*link)->sibling;
  }
  *link = new_node(loc, character);
  return *link;
}

const name_tree_node *find(const name_tree_node *level, gl_wchar character) {
  for (; level != nullptr; level = level->sibling) {
    if (level->character == character) return level;
  }
  return nullptr;
}

/* The next character of a terminated multibyte name, lower-cased: false
** (error stored) when it is no character. *length 0 at the terminator. */
bool next_folded(gl_locale *loc, const unsigned char *s, gl_wchar *wc, int *length) {
  if (loc->single_byte == 1 && loc->lower_map != nullptr) {
    *length = *s == 0 ? 0 : 1;
    *wc = fold_case(loc, *s);
    return true;
  }
  walk_result f = decode_at(loc, s, -1);
  if (f.status != walk_status::found) {
    set_error(loc, GL_EILSEQ);
    return false;
  }
  *length = f.wc == 0 ? 0 : f.length;
  *wc = fold_case(loc, f.wc);
  return true;
}

/* The bytes of a lower-cased character for the byte-keyed trees. */
int folded_bytes(gl_locale *loc, gl_wchar wc, unsigned char *out) {
  if (loc->single_byte == 1) {
    out[0] = static_cast<unsigned char>(wc & 0xFFu);
    return 1;
  }
  return gl_full_wctomb(loc, out, wc);
}

/* Frees a tree: siblings by iteration, children by recursion (as deep as
** the longest name). */
void free_tree(name_tree_node *node) {
  while (node != nullptr) {
    name_tree_node *sibling = node->sibling;
    free_tree(node->child);
    _gl_free_ptr(node);
    node = sibling;
  }
}

/* A failed walk still matches the empty name when the tree holds one. */
int empty_name(const name_tree_node *tree, int *length, int *index) {
  const name_tree_node *empty = find(tree, 0);
  if (empty == nullptr || empty->terminal == 0) return -1;
  *length = 0;
  *index = empty->value;
  return 0;
}

/* Adds name to a tree under index: one level per lower-cased character,
** or with byte_keyed one level per byte of it. 0, or -1 with the error
** stored (what was added before a failure stays in the tree). */
int cache_name(gl_locale *loc, name_tree_node **tree, const char *name, int index,
               bool byte_keyed) {
  if (tree == nullptr || name == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  const auto *s = reinterpret_cast<const unsigned char *>(name);
  name_tree_node **level = tree;
  name_tree_node *node = nullptr;
  for (;;) {
    gl_wchar wc = 0;
    int length = 0;
    if (!next_folded(loc, s, &wc, &length)) return -1;
    if (length == 0) break;
    /* The keys of this character: itself, or its bytes. */
    gl_wchar keys[max_char_length] = {wc};
    int n = 1;
    if (byte_keyed) {
      unsigned char bytes[max_char_length];
      n = folded_bytes(loc, wc, bytes);
      if (n < 0) return -1;
      for (int i = 0; i < n; ++i)
        keys[i] = bytes[i];
    }
    for (int i = 0; i < n; ++i) {
      if (node != nullptr) level = &node->child;
      node = find_or_add(loc, level, keys[i]);
      if (node == nullptr) return -1;
    }
    s += length;
  }
  if (node == nullptr) { /* a name without characters */
    node = find_or_add(loc, tree, 0);
    if (node == nullptr) return -1;
  }
  node->terminal = 1;
  node->value = index;
  return 0;
}

}  // namespace

extern "C" {

int _gl_cache_wc_string(gl_locale *loc, name_tree_node **tree, const char *name, int index) {
  return cache_name(loc, tree, name, index, false);
}

int _gl_validate_wc_string(gl_locale *loc, const name_tree_node *tree, const gl_wchar *text,
                           int *length, int *index) {
  if (tree == nullptr || text == nullptr || length == nullptr || index == nullptr) return -1;
  const name_tree_node *level = tree;
  for (int read = 0; text[read] != 0 && level != nullptr; ++read) {
    const name_tree_node *node = find(level, fold_case(loc, text[read]));
    if (node == nullptr) break;
    if (node->terminal != 0) {
      *length = read + 1;
      *index = node->value;
      return 0;
    }
    level = node->child;
  }
  return empty_name(tree, length, index);
}

void _gl_free_wc_cache(gl_locale * /*loc*/, name_tree_node *tree) { free_tree(tree); }

int _gl_cache_mb_string(gl_locale *loc, name_tree_node **tree, const char *name, int index) {
  return cache_name(loc, tree, name, index, true);
}

/* *length is the number of bytes of text the name covers. */
int _gl_validate_mb_string(gl_locale *loc, const name_tree_node *tree, const unsigned char *text,
                           int *length, int *index) {
  if (tree == nullptr || text == nullptr || length == nullptr || index == nullptr) return -1;
  const name_tree_node *level = tree;
  int read = 0;
  while (level != nullptr) {
    gl_wchar wc = 0;
    int char_length = 0;
    if (!next_folded(loc, text + read, &wc, &char_length) || char_length == 0) break;
    unsigned char bytes[max_char_length];
    int n = folded_bytes(loc, wc, bytes);
    if (n < 0) break;
    const name_tree_node *node = nullptr;
    for (int i = 0; i < n; ++i) {
      node = level != nullptr ? find(level, bytes[i]) : nullptr;
      if (node == nullptr) break;
      if (i < n - 1) level = node->child;
    }
    if (node == nullptr) break;
    read += char_length;
    if (node->terminal != 0) {
      *length = read;
      *index = node->value;
      return 0;
    }
    level = node->child;
  }
  return empty_name(tree, length, index);
}

void _gl_free_mb_cache(gl_locale * /*loc*/, name_tree_node *tree) { free_tree(tree); }

}  // extern "C"
