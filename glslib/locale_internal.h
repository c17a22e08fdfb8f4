// locale_internal.h: helpers shared by the locale loader, the section
// readers and the queries; not part of the library's interface.
#ifndef DVZ_GLSLIB_LOCALE_INTERNAL_H
#define DVZ_GLSLIB_LOCALE_INTERNAL_H

#include "gl_locale.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

namespace glslib {

inline void store_error(gl_locale *record, int error) { *_gl_ext_errno(record) = error; }
inline int load_error(gl_locale *record) { return *_gl_ext_errno(record); }

// A block of count T through the host allocator, zero-filled; NULL when
// the size overflows or memory runs out.
template <typename T>
T *alloc_zeroed(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (count == 0 || count > static_cast<std::size_t>(-1) / sizeof(T)) return nullptr;
    void *block = _gl_alloc_ptr(count * sizeof(T));
    if (block != nullptr) std::memset(block, 0, count * sizeof(T));
    return static_cast<T *>(block);
}

// A growable array of trivially copyable values whose storage comes from
// the host allocator, so a failing-allocator double reaches it. push()
// reports memory exhaustion instead of throwing.
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

// Shortest character length of the record's code set, clamped to 1-4.
int min_char_length(gl_locale *record);

// Byte length of a multibyte text block (bytes + four zero bytes): up to
// its first run of four zero bytes, rounded up to whole characters of the
// code set's shortest length (so a character that ends in zero bytes
// stays whole). 0 for NULL.
std::size_t text_length(gl_locale *record, const char *text);

// A new terminated copy of the first length bytes of text (four zero
// bytes appended); NULL with error 3.
char *copy_text(gl_locale *record, const char *text, std::size_t length);

// Wide form of a multibyte text through the record's mbstowcs_fn. NULL
// for NULL text or on failure (the error word says why: 3 or the
// converter's error).
gl_wchar *widen_text(gl_locale *record, const char *text);

// Frees each of count strings and the array (NULL-safe).
void free_string_array(char **array, int count);
void free_wide_array(gl_wchar **array, int count);

// Reads one category's section from an open stream positioned anywhere
// before its marker: finds the marker, runs the reader and, for NUMERIC,
// MONETARY, TIME and MESSAGES, the initialisation, with their diagnostics.
// 0 on success, nonzero with the error word set.
int read_section(gl_locale *record, int category, FILE *stream);

// Frees the parsed era records of a TIME category (defined with the
// readers).
void free_era_records(gl_ltime *time);

// Reads the next line of at most size - 1 bytes into buffer. Returns the
// line length (newline kept), -1 at end of file, -2 when the line is longer
// than the buffer (the rest of the line is consumed).
int read_line(FILE *stream, char *buffer, int size);

}  // namespace glslib

#endif
