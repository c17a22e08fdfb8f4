/*
** int8_internal.h: the sign-and-magnitude access to an INT8 record that
** the INT8 arithmetic, text and conversion modules share. Internal.
**
** A record is NULL when its sign is 0; a value this library writes has
** sign 1 for zero, so no "-0" reaches comparison or text.
*/
#ifndef DVZ_GENLIB_INT8_INTERNAL_H
#define DVZ_GENLIB_INT8_INTERNAL_H

#include <cstdint>

#include "gen_int8.h"

namespace dvz_genlib {

/* A checked INT8 result has a magnitude below this. */
constexpr uint64_t int8_checked_limit = uint64_t {1} << 63;

inline bool int8_is_null(const dvz_int8_t *v) { return v->sign == 0; }

/* The 64-bit magnitude of the two words. */
inline uint64_t int8_magnitude(const dvz_int8_t *v) { return (uint64_t {v->high} << 32) | v->low; }

/* Writes negative ? -m : m; a zero is always positive. */
inline void int8_store(dvz_int8_t *v, uint64_t m, bool negative) {
  v->low = static_cast<uint32_t>(m);
  v->high = static_cast<uint32_t>(m >> 32);
  v->sign = (negative && m != 0) ? -1 : 1;
}

/* The NULL this library produces: every word 0. */
inline void int8_store_null(dvz_int8_t *v) {
  v->low = 0;
  v->high = 0;
  v->sign = 0;
}

}  // namespace dvz_genlib

#endif
