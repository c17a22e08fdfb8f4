/*
** Writer of the text form of multi-level byte tables (_gl_fprintf_multi)
** and the compressor that turns a table into the shared-array form.
**
** The output is exactly what _gl_fscanf_multi reads: header "%d %d %d "
** with the default entry, then the shared lists (shared form) and the
** nodes in depth-first byte order. A run is "%02x%03x%03x" (start, length,
** repeat) and its values; a value met four times in a row or more becomes
** a repeated run of that one value; flag-0 bytes and entries equal to the
** default are left out; "0000000\n" ends each list. The writer uses the
** platform's stdio directly, not the host services.
** Callers: the data generator (through it every table the project ships),
** the tests. Calls: host services for memory, the C library.
*/

#include "gl_multi.h"
#include "multilevel_internal.h"

#include <cstdio>
#include <cstring>

namespace {

using namespace glslib::multi;

constexpr int repeat_from = 4; /* equal values in a row that make a repeated run */

/* Writes the runs of one 256-slot array. Slot i is left out when skip(i);
** same(i, j) compares two slots; put(i) writes the value of slot i. */
template <typename Skip, typename Same, typename Put>
void write_runs(FILE *out, Skip skip, Same same, Put put) {
  /* Length of the run of equal values starting at i, counted up to cap. */
  auto equal_run = [&](int i, int cap) {
    int k = 1;
    while (k < cap && i + k < slot_count && !skip(i + k) && same(i, i + k))
      ++k;
    return k;
  };
  int i = 0;
  while (i < slot_count) {
    if (skip(i)) {
      ++i;
      continue;
    }
    int repeat = equal_run(i, slot_count);
    if (repeat >= repeat_from) {
      std::fprintf(out, "%02x%03x%03x", i, 1, repeat);
      put(i);
      std::fputc('\n', out);
      i += repeat;
      continue;
    }
    int end = i + 1;
    while (end < slot_count && !skip(end) && equal_run(end, repeat_from) < repeat_from)
      ++end;
    std::fprintf(out, "%02x%03x%03x", i, end - i, 1);
    for (int j = i; j < end; ++j)
      put(j);
    std::fputc('\n', out);
    i = end;
  }
  std::fputs("0000000\n", out);
}

void write_flag_runs(FILE *out, const unsigned char *flags) {
  write_runs(
      out, [&](int i) { return flags[i] == GL_MULTI_NONE; },
      [&](int i, int j) { return flags[i] == flags[j]; },
      [&](int i) { std::fprintf(out, "%02x", flags[i]); });
}

void write_data_runs(FILE *out, const gl_multi_t *t, const unsigned char *data,
                     gl_multi_entry_writer writer) {
  const std::size_t step = stride(t);
  const std::size_t size = static_cast<std::size_t>(t->entry_size);
  auto slot = [&](int i) { return data + i * step; };
  write_runs(
      out, [&](int i) { return std::memcmp(slot(i), t->default_entry, size) == 0; },
      [&](int i, int j) { return std::memcmp(slot(i), slot(j), size) == 0; },
      [&](int i) { writer(out, slot(i), t->entry_size); });
}

void write_node(FILE *out, const gl_multi_t *t, const multi_arr_t *node, bool shared,
                gl_multi_entry_writer writer) {
  const int has_flags = node->flags != nullptr ? 1 : 0;
  const int has_data = node->data != nullptr ? 1 : 0;
  if (shared) {
    std::fprintf(out, "%d %d %u %u\n", has_flags, has_data, static_cast<unsigned>(node->flag_index),
                 static_cast<unsigned>(node->data_index));
  } else {
    std::fprintf(out, "%d %d\n", has_flags, has_data);
    if (has_flags) write_flag_runs(out, node->flags);
    if (has_data) write_data_runs(out, t, node->data, writer);
  }
  if (!has_flags) return;
  for (int b = 0; b < slot_count; ++b) {
    if (node->flags[b] != GL_MULTI_NEXT) continue;
    if (const multi_arr_t *child = child_of(node, b)) write_node(out, t, child, shared, writer);
  }
}

/* ---- Compression ----------------------------------------------------------- */

/* FNV-1a over the bytes that matter, to skip most full comparisons. */
uint32_t hash_bytes(const unsigned char *bytes, std::size_t size, uint32_t h = 2166136261u) {
  for (std::size_t i = 0; i < size; ++i)
    h = (h ^ bytes[i]) * 16777619u;
  return h;
}

int count_nodes(const multi_arr_t *node) {
  if (node == nullptr) return 0;
  int n = 1;
  if (node->next != nullptr)
    for (int i = 0; i < node->child_count; ++i)
      n += count_nodes(node->next[i]);
  return n;
}

class Compressor {
 public:
  explicit Compressor(gl_multi_t *t) : t_(t) {}
  ~Compressor() {
    _gl_free_ptr(flag_list_);
    _gl_free_ptr(data_list_);
    _gl_free_ptr(child_counts_);
    _gl_free_ptr(flag_hashes_);
    _gl_free_ptr(data_hashes_);
  }
  Compressor(const Compressor &) = delete;
  Compressor &operator=(const Compressor &) = delete;

  /* Every block is made before the table is touched: false leaves it as it was. */
  bool prepare() {
    const std::size_t n = static_cast<std::size_t>(count_nodes(t_->root));
    flag_list_ = static_cast<unsigned char **>(_gl_alloc_ptr(n * sizeof(unsigned char *)));
    data_list_ = static_cast<unsigned char **>(_gl_alloc_ptr(n * sizeof(unsigned char *)));
    child_counts_ = static_cast<int32_t *>(_gl_alloc_ptr(n * sizeof(int32_t)));
    flag_hashes_ = static_cast<uint32_t *>(_gl_alloc_ptr(n * sizeof(uint32_t)));
    data_hashes_ = static_cast<uint32_t *>(_gl_alloc_ptr(n * sizeof(uint32_t)));
    return flag_list_ && data_list_ && child_counts_ && flag_hashes_ && data_hashes_;
  }

  void run() {
    share(t_->root);
    t_->flags |= GL_MULTI_SHARED;
    t_->shared_flags = flag_list_;
    t_->shared_data = data_list_;
    t_->shared_child_counts = child_counts_;
    t_->flag_array_count = flag_count_;
    t_->data_array_count = data_count_;
    flag_list_ = data_list_ = nullptr;
    child_counts_ = nullptr;
  }

 private:
  uint32_t data_hash(const unsigned char *data) const {
    uint32_t h = 2166136261u;
    for (int b = 0; b < slot_count; ++b)
      h = hash_bytes(data + b * stride(t_), t_->entry_size, h);
    return h;
  }
  bool same_data(const unsigned char *a, const unsigned char *b) const {
    for (int i = 0; i < slot_count; ++i)
      if (std::memcmp(a + i * stride(t_), b + i * stride(t_), t_->entry_size) != 0) return false;
    return true;
  }

  /* The index of block (hash h) among the kept blocks list / hashes /
  ** count, by same: an equal kept block replaces it (it is freed), or it
  ** is kept as a new one (*added set). */
  template <typename Same>
  static int keep_once(unsigned char *&block, uint32_t h, unsigned char **list, uint32_t *hashes,
                       int &count, Same same, bool *added) {
    for (int i = 0; i < count; ++i) {
      if (hashes[i] == h && same(list[i], block)) {
        _gl_free_ptr(block);
        block = list[i];
        *added = false;
        return i;
      }
    }
    list[count] = block;
    hashes[count] = h;
    *added = true;
    return count++;
  }

  void share(multi_arr_t *node) {
    bool added = false;
    if (node->flags != nullptr) {
      node->flag_index = keep_once(
          node->flags, hash_bytes(node->flags, slot_count), flag_list_, flag_hashes_, flag_count_,
          [](const unsigned char *a, const unsigned char *b) {
            return std::memcmp(a, b, slot_count) == 0;
          },
          &added);
      if (added) child_counts_[node->flag_index] = count_children(node->flags);
    }
    if (node->data != nullptr) {
      node->data_index = keep_once(
          node->data, data_hash(node->data), data_list_, data_hashes_, data_count_,
          [this](const unsigned char *a, const unsigned char *b) { return same_data(a, b); },
          &added);
    }
    if (node->next != nullptr)
      for (int i = 0; i < node->child_count; ++i)
        if (node->next[i] != nullptr) share(node->next[i]);
  }

  gl_multi_t *t_;
  unsigned char **flag_list_ = nullptr;
  unsigned char **data_list_ = nullptr;
  int32_t *child_counts_ = nullptr;
  uint32_t *flag_hashes_ = nullptr;
  uint32_t *data_hashes_ = nullptr;
  int flag_count_ = 0;
  int data_count_ = 0;
};

}  // namespace

extern "C" {

int _gl_fprintf_multi(FILE *stream, gl_multi_t *table, gl_multi_entry_writer writer) {
  if (stream == nullptr || table == nullptr || table->root == nullptr || writer == nullptr)
    return -1;
  apply_single_byte_rule(table);
  const bool shared = (table->flags & GL_MULTI_SHARED) != 0;
  std::fprintf(stream, "%d %d %d ", table->max_length, table->min_length, table->flags);
  writer(stream, table->default_entry, table->entry_size);
  std::fputc('\n', stream);
  if (shared) {
    std::fprintf(stream, "%d %d\n", table->flag_array_count, table->data_array_count);
    for (int i = 0; i < table->flag_array_count; ++i)
      write_flag_runs(stream, table->shared_flags[i]);
    for (int i = 0; i < table->data_array_count; ++i)
      write_data_runs(stream, table, table->shared_data[i], writer);
  }
  write_node(stream, table, table->root, shared, writer);
  return std::ferror(stream) ? -1 : 0;
}

int _gl_compress_multi(gl_multi_t *table) {
  if (table == nullptr || table->root == nullptr) return -1;
  if ((table->flags & GL_MULTI_SHARED) != 0) return 0;
  Compressor compressor(table);
  if (!compressor.prepare()) return -1;
  apply_single_byte_rule(table);
  compressor.run();
  return 0;
}

}  // extern "C"
