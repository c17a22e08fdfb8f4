/*
** Reader of the text form of multi-level byte tables (_gl_fscanf_multi),
** as it appears inside locale and conversion files.
**
** Header "max min flags", the default entry, then either the node tree in
** the plain form (per node "HF HD" and its flag-run and data-run lists) or,
** with flags bit 1, the shared lists of flag and data arrays followed by
** the nodes "HF HD FI DI". A run is start (2 hex), length (3 hex), repeat
** (3 hex) and its values; "0000000\n" ends a list.
** Input comes from outside and is checked in full: every run stays inside
** its 256-slot array, flags are 0, 1 or 4, shared indices are below the
** counts read, counts are not negative, no character is longer than the
** header's max_length (itself at most the caller's limit), and the text
** does not end inside a node. Any breach is
** err 11; memory is err 3; a max_length above the limit is err 21. What was
** built before a failure stays attached and goes with _gl_free_multi.
** Callers: locale-file and conversion-file readers, the data generator's
** checks. Calls: token readers and host services.
*/

#include "gl_multi.h"
#include "multilevel_internal.h"
#include "token_readers.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

using namespace glslib::multi;

class TableReader {
 public:
  TableReader(FILE *in, gl_multi_t *t, int limit, gl_multi_entry_reader read_entry)
      : in_(in), t_(t), limit_(limit), read_entry_(read_entry) {}
  ~TableReader() { _gl_free_ptr(scratch_); }
  TableReader(const TableReader &) = delete;
  TableReader &operator=(const TableReader &) = delete;

  /* 0 or the error number. */
  int run();

 private:
  bool fail(int error) {
    if (error_ == 0) error_ = error;
    return false;
  }
  bool at_end() { return _gl_ext_feof(in_) != 0 || _gl_ext_ferror(in_) != 0; }

  bool read_int(int &value);
  bool read_count(int &value);
  bool read_hex(int width, int &value);
  bool read_entry(unsigned char *destination);
  /* Reads the header of the next run; false at the end of the list (ok
  ** stays true) or on an error (ok false). */
  bool next_run(int &start, int &length, int &repeat, bool &ok);
  bool read_flag_runs(unsigned char *flags);
  bool read_data_runs(unsigned char *data);
  bool read_shared_lists();
  bool append_shared(unsigned char **&list, int count, int &capacity, bool flags);
  bool read_plain_node(multi_arr_t *node, int depth);
  bool read_shared_node(multi_arr_t *node, int depth);
  bool read_children(multi_arr_t *node, int depth, bool shared);

  FILE *in_;
  gl_multi_t *t_;
  int limit_;
  gl_multi_entry_reader read_entry_;
  int error_ = 0;
  unsigned char *scratch_ = nullptr; /* one entry, for runs repeated 0 times */
  int flag_capacity_ = 0;
  int data_capacity_ = 0;
};

/* A decimal token that must be there and must look like a number. */
bool TableReader::read_int(int &value) {
  _gl_skip_whitespace(in_);
  int c = _gl_ext_fgetc(in_);
  if (c == EOF) return fail(GL_EBADFILE);
  if (!((c >= '0' && c <= '9') || c == '-' || c == '+')) return fail(GL_EBADFILE);
  _gl_ext_ungetc(c, in_);
  value = _gl_get_int(in_);
  return true;
}

bool TableReader::read_count(int &value) {
  if (!read_int(value)) return false;
  return value >= 0 || fail(GL_EBADFILE);
}

bool TableReader::read_hex(int width, int &value) {
  value = _gl_get_hex(in_, width);
  return !at_end() || fail(GL_EBADFILE);
}

bool TableReader::read_entry(unsigned char *destination) {
  read_entry_(in_, destination, t_->entry_size);
  return !at_end() || fail(GL_EBADFILE);
}

bool TableReader::next_run(int &start, int &length, int &repeat, bool &ok) {
  ok = read_hex(2, start) && read_hex(3, length);
  if (!ok) return false;
  if (length == 0) {
    _gl_get_hex(in_, 3); /* the repeat field, whose last byte is the newline */
    return false;
  }
  ok = read_hex(3, repeat);
  if (!ok) return false;
  if (start > 255 || length > slot_count || start + length * repeat > slot_count) {
    ok = fail(GL_EBADFILE);
    return false;
  }
  return true;
}

bool TableReader::read_flag_runs(unsigned char *flags) {
  int start = 0, length = 0, repeat = 0;
  bool ok = true;
  while (next_run(start, length, repeat, ok)) {
    std::array<unsigned char, slot_count> values {};
    for (int i = 0; i < length; ++i) {
      int value = 0;
      if (!read_hex(2, value)) return false;
      if (value != GL_MULTI_NONE && value != GL_MULTI_NEXT && value != GL_MULTI_END)
        return fail(GL_EBADFILE);
      values[i] = static_cast<unsigned char>(value);
    }
    for (int k = 0; k < repeat; ++k)
      std::memcpy(flags + start + k * length, values.data(), length);
    _gl_skip_whitespace(in_);
  }
  return ok;
}

bool TableReader::read_data_runs(unsigned char *data) {
  const std::size_t step = stride(t_);
  int start = 0, length = 0, repeat = 0;
  bool ok = true;
  while (next_run(start, length, repeat, ok)) {
    if (repeat == 0) {
      /* Values to read but not to store. */
      if (scratch_ == nullptr) scratch_ = static_cast<unsigned char *>(_gl_alloc_ptr(step));
      if (scratch_ == nullptr) return fail(GL_ENOMEM);
      for (int i = 0; i < length; ++i)
        if (!read_entry(scratch_)) return false;
    } else {
      /* The first copy is read in place, the others copied from it. */
      unsigned char *first = data + start * step;
      for (int i = 0; i < length; ++i)
        if (!read_entry(first + i * step)) return false;
      for (int k = 1; k < repeat; ++k)
        std::memcpy(first + k * length * step, first, length * step);
    }
    _gl_skip_whitespace(in_);
  }
  return ok;
}

/* Adds one new array to a shared list (growing it as needed) and counts it
** in the header, so that a failure later still frees it. */
bool TableReader::append_shared(unsigned char **&list, int count, int &capacity, bool flags) {
  if (count == capacity) {
    const int grown = capacity == 0 ? 16 : capacity * 2;
    auto *bigger = static_cast<unsigned char **>(_gl_alloc_ptr(sizeof(unsigned char *) * grown));
    if (bigger == nullptr) return fail(GL_ENOMEM);
    if (count > 0) std::memcpy(bigger, list, sizeof(unsigned char *) * count);
    if (flags) {
      auto *counts = static_cast<int32_t *>(_gl_alloc_ptr(sizeof(int32_t) * grown));
      if (counts == nullptr) {
        _gl_free_ptr(bigger);
        return fail(GL_ENOMEM);
      }
      if (count > 0) std::memcpy(counts, t_->shared_child_counts, sizeof(int32_t) * count);
      _gl_free_ptr(t_->shared_child_counts);
      t_->shared_child_counts = counts;
    }
    _gl_free_ptr(list);
    list = bigger;
    capacity = grown;
  }
  unsigned char *array = flags ? new_byte_array() : new_data_array(t_);
  if (array == nullptr) return fail(GL_ENOMEM);
  list[count] = array;
  if (flags) {
    t_->shared_child_counts[count] = 0;
    ++t_->flag_array_count;
  } else {
    ++t_->data_array_count;
  }
  return true;
}

bool TableReader::read_shared_lists() {
  int flag_lists = 0, data_lists = 0;
  if (!read_count(flag_lists) || !read_count(data_lists)) return false;
  _gl_skip_whitespace(in_);
  /* The root's own array gives way to the shared ones. */
  if (t_->root->flag_index < 0) _gl_free_ptr(t_->root->flags);
  t_->root->flags = nullptr;
  t_->root->child_count = 0;
  t_->flag_array_count = 0;
  t_->data_array_count = 0;
  /* The lists grow as they are read, so a count the text cannot back
  ** costs no memory. */
  for (int i = 0; i < flag_lists; ++i) {
    if (!append_shared(t_->shared_flags, i, flag_capacity_, true)) return false;
    if (!read_flag_runs(t_->shared_flags[i])) return false;
    t_->shared_child_counts[i] = count_children(t_->shared_flags[i]);
  }
  for (int i = 0; i < data_lists; ++i) {
    if (!append_shared(t_->shared_data, i, data_capacity_, false)) return false;
    if (!read_data_runs(t_->shared_data[i])) return false;
  }
  return true;
}

bool TableReader::read_children(multi_arr_t *node, int depth, bool shared) {
  if (node->child_count == 0) return true;
  /* A character longer than the header says (which is itself within the
  ** limit): clients size buffers from the header's max_length. */
  if (depth >= t_->max_length) return fail(GL_EBADFILE);
  node->offsets = new_byte_array();
  if (node->offsets == nullptr) return fail(GL_ENOMEM);
  ++t_->offset_array_count;
  node->next =
      static_cast<multi_arr_t **>(_gl_alloc_ptr(sizeof(multi_arr_t *) * node->child_count));
  if (node->next == nullptr) return fail(GL_ENOMEM);
  std::memset(node->next, 0, sizeof(multi_arr_t *) * node->child_count);
  int index = 0;
  for (int b = 0; b < slot_count; ++b) {
    if (node->flags[b] != GL_MULTI_NEXT) continue;
    multi_arr_t *child = new_node();
    if (child == nullptr) return fail(GL_ENOMEM);
    node->next[index] = child;
    node->offsets[b] = static_cast<unsigned char>(index);
    ++index;
    if (!(shared ? read_shared_node(child, depth + 1) : read_plain_node(child, depth + 1)))
      return false;
  }
  return true;
}

bool TableReader::read_plain_node(multi_arr_t *node, int depth) {
  int has_flags = 0, has_data = 0;
  if (!read_count(has_flags) || !read_count(has_data)) return false;
  _gl_skip_whitespace(in_);
  if (has_flags != 0) {
    if (node->flags == nullptr) {
      node->flags = new_byte_array();
      if (node->flags == nullptr) return fail(GL_ENOMEM);
      ++t_->flag_array_count;
    }
    if (!read_flag_runs(node->flags)) return false;
    node->child_count = count_children(node->flags);
  }
  if (has_data != 0) {
    if (node->data == nullptr) {
      node->data = new_data_array(t_);
      if (node->data == nullptr) return fail(GL_ENOMEM);
      ++t_->data_array_count;
    }
    if (!read_data_runs(node->data)) return false;
  }
  return read_children(node, depth, false);
}

bool TableReader::read_shared_node(multi_arr_t *node, int depth) {
  int has_flags = 0, has_data = 0, flag_index = 0, data_index = 0;
  /* The indices of absent arrays are not looked at (the writer puts -1
  ** there as an unsigned number). */
  if (!read_count(has_flags) || !read_count(has_data) || !read_int(flag_index) ||
      !read_int(data_index))
    return false;
  if (has_flags != 0) {
    if (flag_index < 0 || flag_index >= t_->flag_array_count) return fail(GL_EBADFILE);
    node->flags = t_->shared_flags[flag_index];
    node->flag_index = flag_index;
    node->child_count = t_->shared_child_counts[flag_index];
  }
  if (has_data != 0) {
    if (data_index < 0 || data_index >= t_->data_array_count) return fail(GL_EBADFILE);
    node->data = t_->shared_data[data_index];
    node->data_index = data_index;
  }
  return read_children(node, depth, true);
}

int TableReader::run() {
  int max_length = 0, min_length = 0, flags = 0;
  if (!read_count(max_length) || !read_count(min_length) || !read_count(flags)) return error_;
  t_->max_length = max_length;
  t_->min_length = min_length;
  t_->flags = flags;
  if (max_length > limit_) return GL_EKEYLEN;
  _gl_skip_whitespace(in_);
  if (!read_entry(t_->default_entry)) return error_;
  _gl_skip_whitespace(in_);
  const bool shared = (flags & GL_MULTI_SHARED) != 0;
  if (shared && !read_shared_lists()) return error_;
  if (!(shared ? read_shared_node(t_->root, 1) : read_plain_node(t_->root, 1))) return error_;
  return 0;
}

}  // namespace

extern "C" {

int _gl_fscanf_multi(FILE *stream, gl_multi_t *table, int limit, gl_multi_entry_reader reader) {
  if (table == nullptr) return -1;
  if (stream == nullptr || reader == nullptr || table->root == nullptr) {
    table->err = GL_ENULLPTR;
    return -1;
  }
  table->err = 0;
  TableReader read(stream, table, limit, reader);
  table->err = read.run();
  return table->err == 0 ? 0 : -1;
}

}  // extern "C"
