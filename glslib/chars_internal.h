/*
** chars_internal.h: what the modules of the character layer (chars_*.cpp)
** and the name trees share; not part of the library's interface.
**
** Characters are looked up with the one walk of the multi-level tables
** (multilevel_internal.h), which stores no error: each public operation
** decides which error its caller sees.
*/
#ifndef DVZ_GLSLIB_CHARS_INTERNAL_H
#define DVZ_GLSLIB_CHARS_INTERNAL_H

#include <cstdint>

#include "gl_chars.h"
#include "multilevel_internal.h"

namespace glslib::chars {

using multi::max_char_length;
using multi::walk_result;
using multi::walk_status;

/* The character at s in the record's CTYPE table (see multi::walk). */
inline walk_result decode_at(const gl_locale *loc, const unsigned char *s, int limit) {
  return multi::walk(loc->ctype_table, s, limit);
}

/* The packed value wc in the record's CTYPE table; its bytes go to out when
** out is not NULL (see multi::walk_packed). */
inline walk_result encode(const gl_locale *loc, gl_wchar wc, unsigned char *out) {
  return multi::walk_packed(loc->ctype_table, wc, out);
}

/* The class mask (u16 entry of ctype_table) a walk found. */
inline int class_mask(const gl_locale *loc, const walk_result &r) {
  return multi::entry_u16(loc->ctype_table, r.entry);
}

/* The code set's shortest character (the terminator's length): the
** ctype_table's shortest key, 4 when there is no CTYPE. */
int shortest_char(const gl_locale *loc);

/* True when the record has the single-byte maps. */
inline bool has_byte_maps(const gl_locale *loc) { return loc->class_map != nullptr; }

inline void set_error(gl_locale *loc, int error) { *_gl_ext_errno(loc) = error; }

/* The case partner of wc through case_table and case_pairs (upper when
** upper is true); wc itself when it has none or is no character. */
gl_wchar case_partner(const gl_locale *loc, gl_wchar wc, bool upper);

/* Lower-cases one character for the name trees: the lower map in a
** single-byte locale (a value above 255 stores error 1 and stays as it is),
** else the wide case mapping. */
gl_wchar fold_case(gl_locale *loc, gl_wchar wc);

}  // namespace glslib::chars

#endif
