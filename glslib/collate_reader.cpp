/*
** Reader of a locale file's COLLATE section: the kind line, the row table,
** the passes, elements, expansions and weights, and from them the
** expansion and element candidates and the lists of ignorable and
** equivalent characters.
**
** Callers: the loader, through read_section (locale_load.cpp). Calls: the
** token readers, the table helpers of the other section readers
** (locale_readers.cpp) and the multi-level table walk.
**
** Rows are u16 wherever they are stored and a weight indexes expansions
** with 14 bits: both limits are checked against the file, as are counts
** against the bytes the stream still holds.
*/

#include <cstdio>
#include <cstring>
#include <new>

#include "locale_internal.h"
#include "locale_readers.h"
#include "multilevel_internal.h"
#include "token_readers.h"

using glslib::alloc_zeroed;
using glslib::count_fits;
using glslib::entries_at_most;
using glslib::HostVec;
using glslib::ran_out;
using glslib::read_line;
using glslib::read_table;
using glslib::store_error;

namespace {

constexpr int max_row = 0xFFFF; /* rows are u16 everywhere they are stored */
constexpr int max_expansions = 0x4000; /* weights index expansions with 14 bits */
constexpr int max_chars_per_item = 15; /* element / expansion counts: one hex digit */

/* Row classification and the character lists of a general COLLATE section. */
class CollateLists {
 public:
  explicit CollateLists(gl_locale *record) : record_(record) {}
  ~CollateLists() { release(); }

  /* Sets up for rows 0..highest_row and the expansions; false: no memory. */
  bool start() {
    std::size_t rows = static_cast<std::size_t>(record_->highest_row) + 1;
    row_class_ = alloc_zeroed<int32_t>(rows);
    ignorable_ = alloc_zeroed<unsigned char>(rows);
    hash_size_ = 1;
    while (hash_size_ < rows * 2)
      hash_size_ <<= 1;
    hash_ = alloc_zeroed<int32_t>(hash_size_);
    if (record_->expansion_count > 0)
      expansion_row_ = alloc_zeroed<int32_t>(static_cast<std::size_t>(record_->expansion_count));
    if (row_class_ == nullptr || ignorable_ == nullptr || hash_ == nullptr ||
        (record_->expansion_count > 0 && expansion_row_ == nullptr))
      return false;
    for (std::size_t r = 0; r < rows; ++r)
      row_class_[r] = -1;
    for (std::size_t i = 0; i < hash_size_; ++i)
      hash_[i] = -1;
    for (int i = 0; i < record_->expansion_count; ++i)
      expansion_row_[i] = -1;
    return true;
  }

  /* Classifies row r, whose weights are stored. false: no memory. */
  bool classify(int r) {
    const int passes = record_->pass_count;
    bool all_ignore = true, any_tie = false, all_expansion = true, all_same = true;
    uint16_t first = passes > 0 ? record_->weights[0][r] : 0;
    for (int p = 0; p < passes; ++p) {
      uint16_t w = record_->weights[p][r];
      if (w != GL_WEIGHT_IGNORE) all_ignore = false;
      if (w & GL_WEIGHT_CODEPOINT) any_tie = true;
      if (!(w & GL_WEIGHT_EXPANSION)) all_expansion = false;
      if (w != first) all_same = false;
    }
    /* The first row with these weights; rows found later join its class.
    ** A hash of the weight tuple keeps this linear in the row count. */
    std::size_t slot = hash_slot(r);
    int q = hash_[slot];
    if (all_ignore) {
      ignorable_[r] = 1;
    } else if (!any_tie && r > 0 && q >= 0) {
      if (!join(q, r)) return false;
    }
    if (!all_ignore && passes > 0 && all_expansion && !any_tie && all_same) {
      int index = first & 0x3FFF;
      if (expansion_row_[index] < 0) expansion_row_[index] = r;
      if (row_class_[r] < 0 && !new_class(r)) return false;
    }
    if (q < 0) hash_[slot] = r;
    return true;
  }

  /* Builds ignorable_chars and equivalent_chars; false with the error
  ** word set (1: an element's character is not in the table, 3 memory). */
  bool finish() {
    if (!any_ignorable() && class_count_ == 0) return true;
    for (int i = 0; i < record_->element_count; ++i) {
      const gl_coll_element &e = record_->elements[i];
      if (!save_wide(e.characters, e.count, e.row)) return false;
    }
    for (int i = 0; i < record_->expansion_count; ++i) {
      if (expansion_row_[i] < 0) continue;
      const gl_coll_expansion &x = record_->expansions[i];
      if (!save_wide(x.characters, x.count, expansion_row_[i])) return false;
    }
    /* Every character of the table, depth first in byte order. */
    const gl_multi_t *table = record_->coll_table;
    const bool saved = glslib::multi::for_each_character(
        table, [this, table](const unsigned char *bytes, int length, const unsigned char *entry) {
          return save(bytes, static_cast<std::size_t>(length),
                      glslib::multi::entry_u16(table, entry));
        });
    if (!saved) {
      store_error(record_, GL_ENOMEM);
      return false;
    }
    return build_lists();
  }

 private:
  struct Class {
    HostVec<char *> chars;
  };

  std::size_t hash_slot(int r) const {
    uint64_t h = 1469598103934665603ull;
    for (int p = 0; p < record_->pass_count; ++p) {
      h ^= record_->weights[p][r];
      h *= 1099511628211ull;
    }
    std::size_t slot = static_cast<std::size_t>(h) & (hash_size_ - 1);
    while (hash_[slot] >= 0 && !same_weights(hash_[slot], r))
      slot = (slot + 1) & (hash_size_ - 1);
    return slot;
  }

  bool same_weights(int a, int b) const {
    for (int p = 0; p < record_->pass_count; ++p)
      if (record_->weights[p][a] != record_->weights[p][b]) return false;
    return true;
  }

  bool new_class(int first_row) {
    if (class_count_ == class_capacity_) {
      int capacity = class_capacity_ == 0 ? 100 : class_capacity_ * 2;
      auto *bigger = alloc_zeroed<Class *>(static_cast<std::size_t>(capacity));
      if (bigger == nullptr) return false;
      if (class_count_ > 0) std::memcpy(bigger, classes_, sizeof(Class *) * class_count_);
      _gl_free_ptr(classes_);
      classes_ = bigger;
      class_capacity_ = capacity;
    }
    void *block = _gl_alloc_ptr(sizeof(Class));
    if (block == nullptr) return false;
    classes_[class_count_] = new (block) Class();
    row_class_[first_row] = class_count_;
    ++class_count_;
    return true;
  }

  /* r joins the class whose first row is q (made when there is none). */
  bool join(int q, int r) {
    if (row_class_[q] < 0 && !new_class(q)) return false;
    if (row_class_[r] < 0) row_class_[r] = row_class_[q];
    return true;
  }

  bool any_ignorable() const {
    for (int r = 0; r <= record_->highest_row; ++r)
      if (ignorable_[r]) return true;
    return false;
  }

  /* Files a copy of the length bytes under row. */
  bool save(const unsigned char *bytes, std::size_t length, int row) {
    if (row < 0 || row > record_->highest_row) return true;
    HostVec<char *> *list = nullptr;
    if (ignorable_[row]) {
      list = &ignorable_chars_;
    } else if (row_class_[row] >= 0) {
      list = &classes_[row_class_[row]]->chars;
    } else {
      return true;
    }
    auto *copy = static_cast<char *>(_gl_alloc_ptr(length + 4));
    if (copy == nullptr) return false;
    std::memcpy(copy, bytes, length);
    std::memset(copy + length, 0, 4);
    if (!list->push(copy)) {
      _gl_free_ptr(copy);
      return false;
    }
    return true;
  }

  bool save_wide(const gl_wchar *characters, int count, int row) {
    unsigned char bytes[4 * max_chars_per_item];
    std::size_t length = 0;
    for (int i = 0; i < count; ++i) {
      gl_wchar wc = characters[i];
      if (_gl_retrieve_wchar_multi_nl(record_, wc, record_->coll_table) == nullptr) {
        store_error(record_, GL_EILSEQ);
        return false;
      }
      int n = glslib::multi::packed_length(wc, record_->coll_table->min_length);
      for (int k = n - 1; k >= 0; --k)
        bytes[length++] = static_cast<unsigned char>(wc >> (8 * k));
    }
    if (!save(bytes, length, row)) {
      store_error(record_, GL_ENOMEM);
      return false;
    }
    return true;
  }

  bool build_lists() {
    if (ignorable_chars_.size() > 0) {
      std::size_t n = ignorable_chars_.size();
      char **list = alloc_zeroed<char *>(n + 1);
      if (list == nullptr) {
        store_error(record_, GL_ENOMEM);
        return false;
      }
      std::memcpy(list, ignorable_chars_.data(), n * sizeof(char *));
      record_->ignorable_chars = list;
      ignorable_taken_ = true;
    }
    std::size_t pairs = 0;
    for (int c = 0; c < class_count_; ++c)
      if (classes_[c]->chars.size() > 1) pairs += classes_[c]->chars.size() - 1;
    if (pairs == 0) return true;
    gl_equiv_pair *list = alloc_zeroed<gl_equiv_pair>(pairs + 1);
    if (list == nullptr) {
      store_error(record_, GL_ENOMEM);
      return false;
    }
    std::size_t k = 0;
    for (int c = 0; c < class_count_; ++c) {
      HostVec<char *> &chars = classes_[c]->chars;
      std::size_t n = chars.size();
      if (n < 2) continue;
      for (std::size_t i = 0; i + 1 < n; ++i) {
        list[k].member = chars[i];
        list[k].representative = chars[n - 1];
        ++k;
      }
      /* The list owns them now. */
      for (std::size_t i = 0; i < n; ++i)
        chars[i] = nullptr;
    }
    record_->equivalent_chars = list;
    return true;
  }

  void release() {
    if (!ignorable_taken_)
      for (std::size_t i = 0; i < ignorable_chars_.size(); ++i)
        _gl_free_ptr(ignorable_chars_[i]);
    for (int c = 0; c < class_count_; ++c) {
      HostVec<char *> &chars = classes_[c]->chars;
      for (std::size_t i = 0; i < chars.size(); ++i)
        _gl_free_ptr(chars[i]);
      classes_[c]->~Class();
      _gl_free_ptr(classes_[c]);
    }
    _gl_free_ptr(classes_);
    _gl_free_ptr(row_class_);
    _gl_free_ptr(ignorable_);
    _gl_free_ptr(hash_);
    _gl_free_ptr(expansion_row_);
  }

  gl_locale *record_;
  int32_t *row_class_ = nullptr; /* class of each row, -1 none */
  unsigned char *ignorable_ = nullptr; /* 1 for an ignorable row */
  int32_t *hash_ = nullptr; /* first row of each weight tuple */
  std::size_t hash_size_ = 0;
  int32_t *expansion_row_ = nullptr; /* first row recorded per expansion */
  Class **classes_ = nullptr;
  int class_count_ = 0;
  int class_capacity_ = 0;
  HostVec<char *> ignorable_chars_;
  bool ignorable_taken_ = false;
};

/* Reads one collating element (row not NULL: its row follows the count) or
** expansion: a skip, its character count as one hex digit, the row as four
** and that many wide characters, into *count and a new *characters. Raises
** coll_expansion to the count. False with the error word set (11 malformed,
** 3 memory). */
bool read_item(FILE *stream, gl_locale *record, int *row, int32_t *count, gl_wchar **characters) {
  _gl_skip_whitespace(stream);
  const int n = _gl_get_hex(stream, 1);
  if (row != nullptr) *row = _gl_get_hex(stream, 4);
  if (n < 1 || n > max_chars_per_item || ran_out(stream) ||
      (row != nullptr && (*row < 0 || *row > record->highest_row))) {
    store_error(record, GL_EBADFILE);
    return false;
  }
  *characters = alloc_zeroed<gl_wchar>(static_cast<std::size_t>(n));
  if (*characters == nullptr) {
    store_error(record, GL_ENOMEM);
    return false;
  }
  for (int i = 0; i < n; ++i)
    (*characters)[i] = _gl_read_gl_wchar(stream);
  *count = n;
  if (n > record->coll_expansion) record->coll_expansion = n;
  return true;
}

}  // namespace

extern "C" {

int read_collate(FILE *stream, gl_locale *record) {
  char line[glslib::line_size];
  int length = read_line(stream, line, glslib::line_size);
  if (length > 0 && std::strcmp(line, "thai_smo\n") == 0) {
    record->coll_kind = 2;
    return 0;
  }
  if (length < 1 || std::strcmp(line, "as_specified\n") != 0) {
    record->coll_kind = 0;
    return 1; /* the loader reports it */
  }
  record->coll_kind = 1;
  if (record->coll_table == nullptr) {
    store_error(record, GL_ENOMEM);
    return 1;
  }
  if (!read_table(stream, record, record->coll_table)) return 1;

  int values[6];
  for (int &v : values) {
    v = _gl_get_int(stream);
    _gl_skip_whitespace(stream);
  }
  int order = values[0], highest_row = values[1], passes = values[2];
  int elements = values[3], expansions = values[4], highest_weight = values[5];
  if (highest_row < 0 || highest_row > max_row || passes < 0 || passes > GL_MAX_PASSES ||
      elements < 0 || expansions < 0 || expansions > max_expansions || highest_weight < 0 ||
      !count_fits(stream, elements, 6) || !count_fits(stream, expansions, 2) ||
      !count_fits(stream, static_cast<long>(highest_row + 1) * passes, 4) ||
      !entries_at_most(record->coll_table, static_cast<unsigned>(highest_row))) {
    store_error(record, GL_EBADFILE);
    return 1;
  }
  record->codeset_order_word = order;
  record->highest_row = highest_row;
  record->pass_count = passes;
  record->highest_weight = static_cast<uint32_t>(highest_weight);

  for (int p = 0; p < passes; ++p)
    record->pass_flags[p] = _gl_get_hex(stream, 4);
  for (int p = 0; p < passes; ++p) {
    record->weights[p] = alloc_zeroed<uint16_t>(static_cast<std::size_t>(highest_row) + 1);
    if (record->weights[p] == nullptr) {
      store_error(record, GL_ENOMEM);
      return 1;
    }
  }

  if (elements > 0) {
    record->elements = alloc_zeroed<gl_coll_element>(static_cast<std::size_t>(elements));
    if (record->elements == nullptr) {
      store_error(record, GL_ENOMEM);
      return 1;
    }
    record->element_count = elements;
    for (int i = 0; i < elements; ++i) {
      gl_coll_element &e = record->elements[i];
      int row = 0;
      if (!read_item(stream, record, &row, &e.count, &e.characters)) return 1;
      e.row = static_cast<uint16_t>(row);
    }
  }
  if (expansions > 0) {
    record->expansions = alloc_zeroed<gl_coll_expansion>(static_cast<std::size_t>(expansions));
    if (record->expansions == nullptr) {
      store_error(record, GL_ENOMEM);
      return 1;
    }
    record->expansion_count = expansions;
    for (int i = 0; i < expansions; ++i) {
      gl_coll_expansion &x = record->expansions[i];
      if (!read_item(stream, record, nullptr, &x.count, &x.characters)) return 1;
    }
  }

  const bool general = order != 1;
  CollateLists lists(record);
  if (general && !lists.start()) {
    store_error(record, GL_ENOMEM);
    return 1;
  }
  for (int r = 0; r <= highest_row; ++r) {
    for (int p = 0; p < passes; ++p) {
      _gl_skip_whitespace(stream);
      auto w = static_cast<uint16_t>(_gl_get_hex(stream, 4));
      if ((w & GL_WEIGHT_EXPANSION) && (w & 0x3FFF) >= expansions) {
        store_error(record, GL_EBADFILE); /* names no expansion */
        return 1;
      }
      record->weights[p][r] = w;
    }
    if (general && !lists.classify(r)) {
      store_error(record, GL_ENOMEM);
      return 1;
    }
  }
  if (passes > 0 && ran_out(stream)) {
    store_error(record, GL_EBADFILE);
    return 1;
  }
  if (general && !lists.finish()) return 1;
  _gl_skip_whitespace(stream);

  for (int p = 0; p < passes; ++p) {
    record->expansion_candidates[p] = alloc_zeroed<gl_coll_expansion *>(256);
    if (record->expansion_candidates[p] == nullptr) {
      store_error(record, GL_ENOMEM);
      return 1;
    }
    for (int b = 0; b < 256; ++b) {
      auto byte = static_cast<unsigned char>(b);
      const void *entry = _gl_retrieve_text_multi_limit_nl(&byte, record->coll_table, 1, record);
      if (entry == nullptr) continue;
      uint16_t row;
      std::memcpy(&row, entry, sizeof row);
      uint16_t w = record->weights[p][row];
      if (w & GL_WEIGHT_EXPANSION)
        record->expansion_candidates[p][b] = &record->expansions[w & 0x3FFF];
    }
  }
  store_error(record, 0);

  if (elements >= 1) {
    record->element_candidates = alloc_zeroed<int32_t>(256);
    if (record->element_candidates == nullptr) {
      store_error(record, GL_ENOMEM);
      return 1;
    }
    for (int i = 0; i < elements; ++i)
      if (record->elements[i].characters[0] < 256)
        record->element_candidates[record->elements[i].characters[0]] = 1;
  }
  return 0;
}
}  // extern "C"
