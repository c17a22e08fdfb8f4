/*
** Multi-level byte tables: creation, lookups, the inserter and freeing.
**
** A table is a tree of 256-way nodes; byte k of a character's multibyte
** form selects a slot of the node at level k. Flag 1 descends to a child,
** flag 4 ends the character (its entry is that byte's data slot, or the
** table's default entry when the node has no data), flag 0 means the bytes
** are no character (error 1). Lookups never change the table and report
** errors in the record's error word through _gl_ext_errno. The walk
** behind them (walk, walk_packed) is the one every character lookup of the
** library uses, so its bounds checks stand in one place.
** Callers: the locale record (CTYPE, COLLATE tables), the character layer,
** code-set conversion, the data generator (inserter).
** Calls: host services for memory and the error word.
*/

#include "gl_multi.h"
#include "multilevel_internal.h"

#include <algorithm>
#include <cstring>

namespace glslib::multi {

multi_arr_t *new_node() {
  auto *node = static_cast<multi_arr_t *>(_gl_alloc_ptr(sizeof(multi_arr_t)));
  if (node == nullptr) return nullptr;
  *node = multi_arr_t {0, -1, -1, nullptr, nullptr, nullptr, nullptr};
  return node;
}

unsigned char *new_byte_array() {
  auto *array = static_cast<unsigned char *>(_gl_alloc_ptr(slot_count));
  if (array != nullptr) std::memset(array, 0, slot_count);
  return array;
}

unsigned char *new_data_array(const gl_multi_t *t) {
  const std::size_t step = stride(t);
  auto *array = static_cast<unsigned char *>(_gl_alloc_ptr(slot_count * step));
  if (array == nullptr) return nullptr;
  std::memset(array, 0, slot_count * step);
  for (int b = 0; b < slot_count; ++b)
    std::memcpy(array + b * step, t->default_entry, t->entry_size);
  return array;
}

void free_node(multi_arr_t *node) {
  if (node == nullptr) return;
  if (node->next != nullptr) {
    for (int i = 0; i < node->child_count; ++i)
      free_node(node->next[i]);
    _gl_free_ptr(node->next);
  }
  if (node->flag_index < 0) _gl_free_ptr(node->flags);
  if (node->data_index < 0) _gl_free_ptr(node->data);
  _gl_free_ptr(node->offsets);
  _gl_free_ptr(node);
}

int count_children(const unsigned char *flags) {
  if (flags == nullptr) return 0;
  return static_cast<int>(std::count(flags, flags + slot_count, GL_MULTI_NEXT));
}

void apply_single_byte_rule(gl_multi_t *t) {
  multi_arr_t *root = t->root;
  if (t->max_length >= 2 || t->min_length != 1 || root == nullptr) return;
  /* A root with children (only a table contradicting its own header) or
  ** one whose array is shared with other nodes is left alone. */
  if (root->flags == nullptr || root->child_count != 0 || root->flag_index >= 0) return;
  std::memset(root->flags, GL_MULTI_END, slot_count);
}

}  // namespace glslib::multi

namespace glslib::multi {

walk_result walk(const gl_multi_t *t, const unsigned char *s, int limit) {
  walk_result r;
  if (t == nullptr) return r;
  const multi_arr_t *node = t->root;
  for (int i = 0; i < max_char_length && node != nullptr; ++i) {
    if (limit >= 0 && i >= limit) {
      r.status = walk_status::cut;
      r.length = limit;
      return r;
    }
    const unsigned b = s[i];
    r.wc = (r.wc << 8) | b;
    r.length = i + 1;
    const int flag = flag_of(node, b);
    if (flag == GL_MULTI_END) {
      r.status = walk_status::found;
      r.entry = entry_of(t, node, b);
      return r;
    }
    if (flag != GL_MULTI_NEXT) return r;
    node = child_of(node, b);
  }
  return r;
}

walk_result walk_packed(const gl_multi_t *t, gl_wchar wc, unsigned char *out) {
  const int n = packed_length(wc, t != nullptr ? t->min_length : 1);
  unsigned char bytes[max_char_length];
  for (int i = 0; i < n; ++i)
    bytes[i] = static_cast<unsigned char>(wc >> (8 * (n - 1 - i)));
  walk_result r = walk(t, bytes, n);
  if (out != nullptr) std::memcpy(out, bytes, static_cast<std::size_t>(r.length));
  /* A shorter character, or none within the n bytes, is not this value. */
  if (r.status != walk_status::found || r.length != n) {
    r.status = walk_status::invalid;
    r.entry = nullptr;
  }
  r.wc = wc;
  return r;
}

}  // namespace glslib::multi

namespace {

using namespace glslib::multi;

void set_error(gl_locale *record, int error) { *_gl_ext_errno(record) = error; }

/* Lookup with reporting: the entry or nullptr with the error stored (1 no
** character, 7 cut by the limit). */
void *lookup(const unsigned char *bytes, const gl_multi_t *t, int limit, int *length,
             gl_locale *record) {
  if (bytes == nullptr || t == nullptr) {
    if (length != nullptr) *length = 0;
    set_error(record, GL_ENULLPTR);
    return nullptr;
  }
  walk_result found = walk(t, bytes, limit);
  if (length != nullptr) *length = found.length;
  if (found.status == walk_status::cut) set_error(record, GL_EINVAL);
  if (found.status == walk_status::invalid) set_error(record, GL_EILSEQ);
  return const_cast<unsigned char *>(found.entry);
}

/* Replaces node->next by one slot longer; false when memory runs out. */
bool grow_next(multi_arr_t *node) {
  auto *next =
      static_cast<multi_arr_t **>(_gl_alloc_ptr(sizeof(multi_arr_t *) * (node->child_count + 1)));
  if (next == nullptr) return false;
  if (node->child_count > 0)
    std::memcpy(next, node->next, sizeof(multi_arr_t *) * node->child_count);
  next[node->child_count] = nullptr;
  _gl_free_ptr(node->next);
  node->next = next;
  return true;
}

/* Makes the child of node for byte b (flag 0 so far). nullptr when memory
** runs out; the table is then as before. */
multi_arr_t *add_child(gl_multi_t *t, multi_arr_t *node, unsigned b) {
  if (node->child_count >= slot_count) return nullptr;
  if (node->offsets == nullptr) {
    node->offsets = new_byte_array();
    if (node->offsets == nullptr) return nullptr;
    ++t->offset_array_count;
  }
  multi_arr_t *child = new_node();
  if (child == nullptr) return nullptr;
  if (!grow_next(node)) {
    _gl_free_ptr(child);
    return nullptr;
  }
  node->next[node->child_count] = child;
  node->offsets[b] = static_cast<unsigned char>(node->child_count);
  ++node->child_count;
  node->flags[b] = GL_MULTI_NEXT;
  return child;
}

}  // namespace

extern "C" {

gl_multi_t *_gl_create_multi(int entry_size, int flags, const void *default_entry) {
  constexpr int max_entry_size = 1 << 16; /* keeps 256 slots well inside size_t */
  if (entry_size < 1 || entry_size > max_entry_size) return nullptr;
  auto *t = static_cast<gl_multi_t *>(_gl_alloc_ptr(sizeof(gl_multi_t)));
  if (t == nullptr) return nullptr;
  std::memset(t, 0, sizeof(*t));
  t->entry_size = entry_size;
  t->max_length = 0;
  t->min_length = 4;
  t->flags = flags | GL_MULTI_VALID;
  while ((1 << t->entry_shift) < entry_size)
    ++t->entry_shift;
  t->default_entry = static_cast<unsigned char *>(_gl_alloc_ptr(entry_size));
  t->root = new_node();
  if (t->root != nullptr) t->root->flags = new_byte_array();
  if (t->default_entry == nullptr || t->root == nullptr || t->root->flags == nullptr) {
    _gl_free_multi(t);
    return nullptr;
  }
  t->flag_array_count = 1;
  if (default_entry != nullptr) {
    std::memcpy(t->default_entry, default_entry, entry_size);
  } else {
    std::memset(t->default_entry, 0, entry_size);
  }
  return t;
}

void *_gl_retrieve_text_multi(const unsigned char *bytes, const gl_multi_t *table, int *length,
                              gl_locale *record) {
  return lookup(bytes, table, -1, length, record);
}

void *_gl_retrieve_text_multi_nl(const unsigned char *bytes, const gl_multi_t *table,
                                 gl_locale *record) {
  return lookup(bytes, table, -1, nullptr, record);
}

int _gl_retrieve_text_multi_nv(const unsigned char *bytes, const gl_multi_t *table,
                               gl_locale *record) {
  int length = 0;
  return lookup(bytes, table, -1, &length, record) != nullptr ? length : 0;
}

void *_gl_retrieve_text_multi_limit(const unsigned char *bytes, const gl_multi_t *table, int limit,
                                    int *length, gl_locale *record) {
  if (limit < 1) {
    if (length != nullptr) *length = 0;
    set_error(record, GL_EINVAL);
    return nullptr;
  }
  return lookup(bytes, table, limit, length, record);
}

void *_gl_retrieve_text_multi_limit_nl(const unsigned char *bytes, const gl_multi_t *table,
                                       int limit, gl_locale *record) {
  return _gl_retrieve_text_multi_limit(bytes, table, limit, nullptr, record);
}

void *_gl_retrieve_little_endian_unicode_limit(const unsigned char *bytes, const gl_multi_t *table,
                                               int limit, gl_locale *record) {
  if (limit < 2) {
    set_error(record, GL_EINVAL);
    return nullptr;
  }
  if (bytes == nullptr || table == nullptr) {
    set_error(record, GL_ENULLPTR);
    return nullptr;
  }
  /* The high byte b1 selects the child; only a real descent is followed. */
  const multi_arr_t *root = table->root;
  const multi_arr_t *child =
      flag_of(root, bytes[1]) == GL_MULTI_NEXT ? child_of(root, bytes[1]) : nullptr;
  if (child == nullptr) {
    set_error(record, GL_EILSEQ);
    return nullptr;
  }
  return entry_of(table, child, bytes[0]);
}

void *_gl_retrieve_wchar_multi_nl(gl_locale *record, gl_wchar wc, const gl_multi_t *table) {
  if (table == nullptr) {
    set_error(record, GL_ENULLPTR);
    return nullptr;
  }
  walk_result found = walk_packed(table, wc, nullptr);
  if (found.status != walk_status::found) {
    set_error(record, GL_EILSEQ);
    return nullptr;
  }
  return const_cast<unsigned char *>(found.entry);
}

int _gl_multi_max_length(const gl_multi_t *table) { return table->max_length; }
int _gl_multi_min_length(const gl_multi_t *table) { return table->min_length; }
int _gl_multi_err(const gl_multi_t *table) { return table->err; }

void _gl_multi_node_count(const gl_multi_t *table, int *data_arrays, int *flag_arrays,
                          int *offset_arrays) {
  if (data_arrays != nullptr) *data_arrays = table->data_array_count;
  if (flag_arrays != nullptr) *flag_arrays = table->flag_array_count;
  if (offset_arrays != nullptr) *offset_arrays = table->offset_array_count;
}

void _gl_free_multi(gl_multi_t *table) {
  if (table == nullptr) return;
  free_node(table->root);
  _gl_free_ptr(table->default_entry);
  if (table->shared_flags != nullptr) {
    for (int i = 0; i < table->flag_array_count; ++i)
      _gl_free_ptr(table->shared_flags[i]);
    _gl_free_ptr(table->shared_flags);
  }
  if (table->shared_data != nullptr) {
    for (int i = 0; i < table->data_array_count; ++i)
      _gl_free_ptr(table->shared_data[i]);
    _gl_free_ptr(table->shared_data);
  }
  _gl_free_ptr(table->shared_child_counts);
  _gl_free_ptr(table);
}

int _gl_insert_desc_multi(const gl_char_desc *key, const void *entry, gl_multi_t *table) {
  if (key == nullptr || table == nullptr || table->root == nullptr) return -1;
  if ((table->flags & GL_MULTI_SHARED) != 0) return -1; /* its arrays may serve many nodes */
  const int count = static_cast<int>(key->byte_count);
  if (count < 1 || count > 4) return -1;
  multi_arr_t *node = table->root;
  for (int i = 0; i < count; ++i) {
    const unsigned b = key->bytes[i];
    if (node->flags == nullptr) {
      node->flags = new_byte_array();
      if (node->flags == nullptr) return -1;
      ++table->flag_array_count;
    }
    const int flag = node->flags[b];
    if (i < count - 1) {
      if (flag == GL_MULTI_END) return -1; /* a shorter key is its prefix */
      node = flag == GL_MULTI_NEXT ? child_of(node, b) : add_child(table, node, b);
      if (node == nullptr) return -1;
      continue;
    }
    if (flag == GL_MULTI_NEXT) return -1; /* it is the prefix of a longer key */
    if (entry != nullptr) {
      if (node->data == nullptr) {
        node->data = new_data_array(table);
        if (node->data == nullptr) return -1;
        ++table->data_array_count;
      }
      std::memcpy(node->data + b * stride(table), entry, table->entry_size);
    }
    node->flags[b] = GL_MULTI_END;
  }
  table->max_length = std::max(table->max_length, count);
  table->min_length = std::min(table->min_length, count);
  return 0;
}

void *_gl_retrieve_desc_multi(const gl_char_desc *key, const gl_multi_t *table) {
  if (key == nullptr || table == nullptr) return nullptr;
  const int count = static_cast<int>(key->byte_count);
  if (count < 1 || count > 4) return nullptr;
  const multi_arr_t *node = table->root;
  for (int i = 0; i < count && node != nullptr; ++i) {
    const unsigned b = key->bytes[i];
    const int flag = flag_of(node, b);
    if (i == count - 1) return flag == GL_MULTI_END ? entry_of(table, node, b) : nullptr;
    if (flag != GL_MULTI_NEXT) return nullptr;
    node = child_of(node, b);
  }
  return nullptr;
}

}  // extern "C"
