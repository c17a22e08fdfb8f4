/*
** locale_internal.h: what the modules of the locale record share (its
** lifecycle in locale_record.cpp, the derived data in locale_derived.cpp,
** file loading in locale_load.cpp, the section readers and the queries);
** not part of the library's interface.
**
** It also gathers the record's other private declarations (section readers,
** collation routines, name trees and the calendar table), so that a
** white-box test of the record needs this one header.
*/
#ifndef DVZ_GLSLIB_LOCALE_INTERNAL_H
#define DVZ_GLSLIB_LOCALE_INTERNAL_H

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "collation_internal.h"
#include "gl_calendar.h"
#include "gl_chars.h"
#include "gl_locale.h"
#include "locale_readers.h"

namespace glslib {

inline void store_error(gl_locale *record, int error) { *_gl_ext_errno(record) = error; }
inline int load_error(gl_locale *record) { return *_gl_ext_errno(record); }

/* Index of a category (2-7) in the record's per-category arrays. */
inline int category_slot(int category) { return category - GL_CTYPE; }

/* The static records loc_nomem and loc_filer, which are never written. */
inline bool is_static_record(const gl_locale *record) {
  return record == &loc_nomem || record == &loc_filer;
}

/* A block of count T through the host allocator, zero-filled; NULL when
** the size overflows or memory runs out. */
template <typename T>
T *alloc_zeroed(std::size_t count) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (count == 0 || count > static_cast<std::size_t>(-1) / sizeof(T)) return nullptr;
  void *block = _gl_alloc_ptr(count * sizeof(T));
  if (block != nullptr) std::memset(block, 0, count * sizeof(T));
  return static_cast<T *>(block);
}

/* Frees the block *slot points at and clears the pointer. */
template <typename T>
void free_block(T **slot) {
  _gl_free_ptr(*slot);
  *slot = nullptr;
}

/* Frees both sides of a text pair and clears them. */
inline void free_pair(gl_text_pair *pair) {
  free_block(&pair->mb);
  free_block(&pair->wc);
}

/* A growable array of trivially copyable values whose storage comes from
** the host allocator, so a failing-allocator double reaches it. push()
** reports memory exhaustion instead of throwing. */
template <typename T>
class HostVec {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  HostVec() = default;
  ~HostVec() { _gl_free_ptr(data_); }
  HostVec(const HostVec &) = delete;
  HostVec &operator=(const HostVec &) = delete;

  bool push(const T &value) {
    if (size_ == capacity_ && !grow()) return false;
    data_[size_++] = value;
    return true;
  }
  std::size_t size() const { return size_; }
  T &operator[](std::size_t i) { return data_[i]; }
  const T &operator[](std::size_t i) const { return data_[i]; }
  T *data() { return data_; }

 private:
  bool grow() {
    std::size_t capacity = capacity_ == 0 ? 100 : capacity_ * 2;
    T *bigger = alloc_zeroed<T>(capacity);
    if (bigger == nullptr) return false;
    if (size_ != 0) std::memcpy(bigger, data_, size_ * sizeof(T));
    _gl_free_ptr(data_);
    data_ = bigger;
    capacity_ = capacity;
    return true;
  }
  T *data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

/* ---- Texts (locale_derived.cpp) ---------------------------------------------- */

/* Shortest character length of the record's code set, clamped to 1-4. */
int min_char_length(gl_locale *record);

/* Byte length of a multibyte text block (bytes + four zero bytes): up to
** its first run of four zero bytes, rounded up to whole characters of the
** code set's shortest length (so a character that ends in zero bytes
** stays whole). 0 for NULL. */
std::size_t text_length(gl_locale *record, const char *text);

/* A new terminated copy of the first length bytes of text (four zero
** bytes appended); NULL with error 3. */
char *copy_text(gl_locale *record, const char *text, std::size_t length);

/* Wide form of a multibyte text through the record's mbstowcs_fn. NULL
** for NULL text or on failure (the error word says why: 3 or the
** converter's error). */
gl_wchar *widen_text(gl_locale *record, const char *text);

/* Frees each of count strings and the array (NULL-safe). */
void free_string_array(char **array, int count);
void free_wide_array(gl_wchar **array, int count);

/* ---- Derived data (locale_derived.cpp) --------------------------------------- */

/* Frees the three byte maps of a single-byte locale. */
void free_byte_maps(gl_locale *record);
/* Frees and clears the numeric / monetary fields of glconv. */
void free_numeric_conv(gl_locale *record);
void free_monetary_conv(gl_locale *record);
/* Fresh glconv copies of the NUMERIC / MONETARY texts, widened. */
void copy_numeric_conv(gl_locale *record);
void copy_monetary_conv(gl_locale *record);
/* Copies each byte of every code-set and file name into its wide form. */
void widen_names(gl_locale *record);

/* True when two code-set names name the same code set: their registry
** numbers are equal, or, where either name does not resolve (no registry
** file, an unknown name), the names are equal case-folded. Registry errors
** are not left in the error word. */
bool same_codeset(gl_locale *record, const char *a, const char *b);

/* The update after every load and copy: single_byte, codeset_order, byte
** maps and function slots, then the code-set check (error 12 when a
** category's code set differs from CTYPE's). 0, or -1 with error 3 when
** the maps cannot be made. */
int update_locale(gl_locale *record);

/* The work after NUMERIC, MONETARY, TIME or MESSAGES is read: wide forms,
** glconv copies, eras and lookup trees. 1 success, 0 (error 57) when no
** CTYPE is loaded, -1 failure. */
int init_category(gl_locale *record, int category);

/* ---- Loading (locale_load.cpp) ----------------------------------------------- */

/* Reads one category's section from an open stream positioned anywhere
** before its marker: finds the marker, runs the reader and, for NUMERIC,
** MONETARY, TIME and MESSAGES, the initialisation, with their diagnostics.
** 0 on success, nonzero with the error word set. */
int read_section(gl_locale *record, int category, FILE *stream);

}  // namespace glslib

#endif
