// chars_internal.h: the table walks shared by the character layer
// (chars_*.cpp) and the name trees; not part of the library's interface.
//
// The walks read a multi-level table directly and store no error: each
// public operation decides which error its caller sees.
#ifndef DVZ_GLSLIB_CHARS_INTERNAL_H
#define DVZ_GLSLIB_CHARS_INTERNAL_H

#include "gl_chars.h"

#include <cstdint>

namespace glslib::chars {

enum class Walk { kOk, kInvalid, kCut };

// The result of a walk: the character's length in bytes (kInvalid: the
// bytes examined; kCut: the limit), its packed value and its u16 entry.
struct Found {
    Walk status = Walk::kInvalid;
    int length = 0;
    gl_wchar wc = 0;
    uint16_t entry = 0;
};

// Walks table from the bytes at s, examining no byte at or past limit
// (limit < 0: no limit besides the four levels a character may have).
Found walk_bytes(const gl_multi_t *table, const unsigned char *s, int limit);

// Walks the path of a packed value: as many bytes as the larger of the
// table's shortest key and the value's own width. When out is not NULL the
// bytes are written there as they are tested (also on failure).
Found walk_wchar(const gl_multi_t *table, gl_wchar wc, unsigned char *out);

constexpr int kMaxCharLength = 4;

// Bytes a packed value stands for: the larger of the code set's shortest
// character and the value's own width.
inline int encoded_length(gl_wchar wc, int shortest) {
    int own = wc <= 0xFFu ? 1 : wc <= 0xFFFFu ? 2 : wc <= 0xFFFFFFu ? 3 : 4;
    return own > shortest ? own : shortest;
}

// The code set's shortest character (the terminator's length): the
// ctype_table's shortest key, 4 when there is no CTYPE.
int shortest_char(const gl_locale *loc);

// True when the record has the single-byte maps.
inline bool has_byte_maps(const gl_locale *loc) { return loc->class_map != nullptr; }

inline void set_error(gl_locale *loc, int error) { *_gl_ext_errno(loc) = error; }

// The case partner of wc through case_table and case_pairs (upper when
// upper is true); wc itself when it has none or is no character.
gl_wchar case_partner(const gl_locale *loc, gl_wchar wc, bool upper);

// Lower-cases one character for the name trees: the lower map in a
// single-byte locale (a value above 255 stores error 1 and stays as it is),
// else the wide case mapping.
gl_wchar fold_case(gl_locale *loc, gl_wchar wc);

}  // namespace glslib::chars

#endif
