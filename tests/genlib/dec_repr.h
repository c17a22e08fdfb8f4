/*
** dec_repr.h: readable forms of a dec_t for test expectations. repr: the
** sign ("+", "-", or "null"), the base-100 digit pairs as two decimal
** characters each, "@" and the base-100 exponent (1234.5 is "+123450@2").
** plain: the value as plain decimal text from its digits ("null", "0",
** "-12.5").
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

inline std::string plain(const dec_t &d) {
  if (d.sign == -1) return "null";
  std::string digits;
  for (int i = 0; i < d.npairs && i < DECSIZE; ++i) {
    digits += static_cast<char>('0' + d.pairs[i] / 10);
    digits += static_cast<char>('0' + d.pairs[i] % 10);
  }
  int point = 2 * d.exponent;
  if (point < 0) {
    digits.insert(0, static_cast<size_t>(-point), '0');
    point = 0;
  }
  if (point > static_cast<int>(digits.size())) digits.append(point - digits.size(), '0');
  std::string whole = digits.substr(0, static_cast<size_t>(point));
  std::string fraction = digits.substr(static_cast<size_t>(point));
  const size_t first = whole.find_first_not_of('0');
  whole.erase(0, first == std::string::npos ? whole.size() : first);
  while (!fraction.empty() && fraction.back() == '0')
    fraction.pop_back();
  if (whole.empty()) whole = "0";
  const bool zero = whole == "0" && fraction.empty();
  const std::string out = (d.sign == 0 && !zero ? "-" : "") + whole;
  return fraction.empty() ? out : out + "." + fraction;
}

}  // namespace dec_test

#endif
