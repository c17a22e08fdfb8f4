/* A DECIMAL value built from its sign, exponent and base-100 digit pairs,
** shared by the runtime's tests and benchmarks. */
#pragma once

#include <cstdint>
#include <initializer_list>

#include "value_types.h"

namespace sqli_test {

/* The dec_t of the given sign, exponent and digit pairs (at most the
** pairs a dec_t holds). */
inline dec_t decimal(int sign, int exponent, std::initializer_list<uint8_t> pairs) {
  dec_t d {};
  d.sign = static_cast<int16_t>(sign);
  d.exponent = static_cast<int16_t>(exponent);
  d.npairs = static_cast<int16_t>(pairs.size());
  int i = 0;
  for (uint8_t p : pairs)
    d.pairs[i++] = p;
  return d;
}

}  // namespace sqli_test
