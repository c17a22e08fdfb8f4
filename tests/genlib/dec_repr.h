/*
** dec_repr.h: a readable form of a dec_t for test expectations: the sign
** ("+", "-", or "null"), the base-100 digit pairs as two decimal
** characters each, "@" and the base-100 exponent. 1234.5 is "+123450@2".
*/
#ifndef DVZ_TESTS_GENLIB_DEC_REPR_H
#define DVZ_TESTS_GENLIB_DEC_REPR_H

#include <cstdio>
#include <string>

#include "value_types.h"

namespace dec_test {

inline std::string repr(const dec_t &value) {
  if (value.sign == -1) return "null";
  std::string out = value.sign == 0 ? "-" : "+";
  for (int i = 0; i < value.npairs && i < DECSIZE; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02d", value.pairs[i]);
    out += pair;
  }
  return out + "@" + std::to_string(value.exponent);
}

}  // namespace dec_test

#endif
