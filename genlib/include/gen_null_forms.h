/*
** gen_null_forms.h: the tests of the commonest NULL forms a host variable
** holds, one definition each. risnull's table (type_tables.cpp) is built on
** them, and a caller that already knows a variable's type (the runtime's
** bind lists) calls them directly instead of looking the form up by code.
** C++ only; C callers use risnull.
*/
#ifndef DVZ_GENLIB_GEN_NULL_FORMS_H
#define DVZ_GENLIB_GEN_NULL_FORMS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gen_int8.h"
#include "gen_types.h"
#include "value_types.h"

namespace dvz_null {

/* A field of type T at offset bytes into p, read whatever p's alignment. */
template <class T>
inline T field_at(const char *p, std::size_t offset) {
  T v;
  std::memcpy(&v, p + offset, sizeof v);
  return v;
}

/* CHAR and the other texts: an empty first byte. */
inline bool text(const char *p) { return p[0] == 0; }
/* SMALLINT: 0x8000. */
inline bool smallint(const char *p) { return field_at<uint16_t>(p, 0) == 0x8000u; }
/* INTEGER and SERIAL: 0x80000000. */
inline bool integer(const char *p) { return field_at<uint32_t>(p, 0) == 0x80000000u; }
/* SMALLFLOAT and FLOAT: the all-ones pattern of fltnull. */
inline bool smallfloat(const char *p) { return std::memcmp(p, fltnull, 4) == 0; }
inline bool floating(const char *p) { return std::memcmp(p, fltnull, 8) == 0; }
/* DECIMAL and MONEY: sign -1. */
inline bool decimal(const char *p) { return field_at<int16_t>(p, offsetof(dec_t, sign)) == -1; }
/* INT8: sign 0. */
inline bool int8(const char *p) { return field_at<int16_t>(p, offsetof(dvz_int8_t, sign)) == 0; }

}  // namespace dvz_null

#endif
