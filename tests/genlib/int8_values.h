/*
** What the INT8 tests share: records made from and read back as
** __int128 (the peer every arithmetic case is checked against), and the
** operand set (fixed random values and the boundaries: ±(2^63 - 1),
** ±2^62, ±2^32, 0, ±1), base-10 text by std::to_chars, the NULL every
** operation writes and the overflow error.
*/
#ifndef DVZ_TESTS_GENLIB_INT8_VALUES_H
#define DVZ_TESTS_GENLIB_INT8_VALUES_H

#include <charconv>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gen_int8.h"

namespace int8_test {

using i128 = __int128;

constexpr i128 two_63 = i128 {1} << 63;
constexpr int64_t max_int8 = INT64_MAX; /* 2^63 - 1 */
constexpr int overflow = -1284;

/* The record of v (|v| below 2^64); a zero has sign 1. */
inline dvz_int8_t make(i128 v) {
  const bool negative = v < 0;
  const unsigned __int128 m =
      negative ? static_cast<unsigned __int128>(-v) : static_cast<unsigned __int128>(v);
  dvz_int8_t r {};
  r.low = static_cast<uint32_t>(m);
  r.high = static_cast<uint32_t>(m >> 32);
  r.sign = negative ? -1 : 1;
  return r;
}

inline dvz_int8_t null_int8() { return dvz_int8_t {0, 0, 0}; }

/* The NULL the library writes: every word 0. */
inline bool is_written_null(const dvz_int8_t &v) {
  return v.sign == 0 && v.low == 0 && v.high == 0;
}

/* Base-10 text of v by std::to_chars (the text peer). */
inline std::string decimal(int64_t v) {
  char buffer[24];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

/* The value of a non-NULL record. */
inline i128 value(const dvz_int8_t &v) {
  const i128 m = (i128 {v.high} << 32) | v.low;
  return v.sign < 0 ? -m : m;
}

/* The operand set: boundaries first, then seeded random values of every
** magnitude (1 to 63 bits), half of them negative. */
inline std::vector<int64_t> operands() {
  std::vector<int64_t> out = {0,
                              1,
                              -1,
                              max_int8,
                              -max_int8,
                              int64_t {1} << 62,
                              -(int64_t {1} << 62),
                              int64_t {1} << 32,
                              -(int64_t {1} << 32),
                              (int64_t {1} << 32) - 1,
                              int64_t {1} << 31,
                              -(int64_t {1} << 31),
                              (int64_t {1} << 31) - 1,
                              3037000499, /* floor(sqrt(2^63)) */
                              3037000500};
  std::mt19937_64 random(8);
  for (int i = 0; i < 60; ++i) {
    const int bits = 1 + static_cast<int>(random() % 63);
    const auto m = static_cast<int64_t>(random() >> (64 - bits));
    out.push_back((random() & 1) != 0 ? -m : m);
  }
  return out;
}

}  // namespace int8_test

#endif
