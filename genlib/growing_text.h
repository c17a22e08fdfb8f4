/*
** growing_text.h: a NUL-terminated text that grows with realloc, for the
** format writers of the value library whose output length is known only
** once written (formats expanded by the locale's own formats, formats cut
** to a qualifier, translated pictures). An allocation failure is kept and
** turns every later append into nothing, so a writer checks once at the
** end. Internal.
*/
#ifndef DVZ_GENLIB_GROWING_TEXT_H
#define DVZ_GENLIB_GROWING_TEXT_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace dvz_genlib {

class growing_text {
 public:
  growing_text() = default;
  ~growing_text() { std::free(data_); }
  growing_text(const growing_text &) = delete;
  growing_text &operator=(const growing_text &) = delete;

  void append(std::string_view bytes) {
    if (failed_ || bytes.empty()) return;
    /* No text outgrows what an object may hold (which also tells the
    ** optimiser the copy's bound). */
    if (bytes.size() >= static_cast<size_t>(PTRDIFF_MAX) - size_) {
      failed_ = true;
      return;
    }
    if (!reserve(size_ + bytes.size() + 1)) return;
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
    data_[size_] = '\0';
  }
  void push(char c) { append(std::string_view(&c, 1)); }

  bool failed() const { return failed_; }
  size_t size() const { return size_; }
  std::string_view view() const { return std::string_view(data_ != nullptr ? data_ : "", size_); }
  const char *c_str() const { return data_ != nullptr ? data_ : ""; }

  /* The text as a malloc'd NUL-terminated string the caller frees; NULL
  ** after an allocation failure. The object is empty afterwards. */
  char *release() {
    if (!failed_ && data_ == nullptr) reserve(1);
    if (failed_) return nullptr;
    char *out = data_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return out;
  }

 private:
  bool reserve(size_t wanted) {
    if (wanted <= capacity_) return true;
    size_t capacity = capacity_ < 32 ? 32 : capacity_;
    while (capacity < wanted)
      capacity *= 2;
    auto *grown = static_cast<char *>(std::realloc(data_, capacity));
    if (grown == nullptr) {
      failed_ = true;
      return false;
    }
    if (data_ == nullptr) grown[0] = '\0';
    data_ = grown;
    capacity_ = capacity;
    return true;
  }

  char *data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool failed_ = false;
};

}  // namespace dvz_genlib

#endif
