/*
** decimal_float.cpp: DECIMAL to and from double and float. A double
** becomes a DECIMAL of 17 (16 with DVZ_USE_PREC_16) correctly rounded
** significant digits, a float of 9 (8); a DECIMAL becomes a double by way
** of its text in the conventions in force, read by rstod.
*/
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_errors.h"
#include "gen_types.h"
#include "number_conventions.h"

namespace {

constexpr int max_digits = 32;

/* Floor of a / 2 for any sign. */
int half_down(int a) { return a >= 0 ? a / 2 : -((1 - a) / 2); }

}  // namespace

extern "C" {

/* The digits and point position come from the C library's "%.*e", which
** rounds half to even on exact ties. */
int deccvfd(double value, dec_t *result, int digits) {
  if (std::memcmp(&value, fltnull, sizeof value) == 0) {
    result->sign = -1;
    result->exponent = 0;
    result->npairs = 0;
    return 0;
  }
  if (!std::isfinite(value)) return value_err_not_number;
  if (value == 0.0) return decload(result, 1, 0, nullptr, 0);
  if (digits < 1) digits = 1;
  if (digits > max_digits) digits = max_digits;
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, std::fabs(value));
  char ascii[max_digits + 1];
  int count = 0;
  const char *p = text;
  for (; *p != 'e' && *p != '\0'; ++p)
    if (*p >= '0' && *p <= '9') ascii[count++] = *p;
  ascii[count] = '\0';
  int point = (*p == 'e' ? std::atoi(p + 1) : 0) + 1;
  uint8_t pairs[DECSIZE + 1];
  int npairs = dec2to1(ascii, pairs, point & 1);
  return decload(result, value < 0 ? 0 : 1, half_down(point + 1), pairs, npairs);
}

int deccvdbl(double value, dec_t *result) {
  return deccvfd(value, result, get_useprec16() ? 16 : 17);
}

int deccvflt(double value, dec_t *result) {
  return deccvfd(value, result, get_useprec16() ? 8 : 9);
}

/* Writes value as text ("-", digits, the decimal point in force, "E" and
** the decimal exponent) and reads it with rstod. */
int dectodbl(const dec_t *value, double *result) {
  if (value->sign == -1) {
    std::memcpy(result, fltnull, sizeof(double));
    return 0;
  }
  int status = dvz_genlib::load_conventions();
  if (status != 0) return status;
  const gls_lconv &lc = dvz_genlib::conventions();
  char digits[2 * DECSIZE + 1];
  int npairs = value->npairs > DECSIZE ? DECSIZE : (value->npairs < 0 ? 0 : value->npairs);
  dec1to2(value->pairs, npairs, digits);
  const int ndigits = 2 * npairs;
  char text[2 * DECSIZE + 32];
  char *out = text;
  if (value->sign == 0) *out++ = '-';
  auto put_point = [&] {
    std::memcpy(out, lc.decimal_point, static_cast<size_t>(lc.decimal_point_len));
    out += lc.decimal_point_len;
  };
  if (value->exponent < 1) {
    *out++ = '0';
    put_point();
    std::memcpy(out, digits, static_cast<size_t>(ndigits));
    out += ndigits;
    int magnitude = -2 * value->exponent;
    if (magnitude != 0) {
      *out++ = 'E';
      *out++ = '-';
      if (magnitude >= 100) *out++ = '1';
      *out++ = static_cast<char>('0' + magnitude / 10 % 10);
      *out++ = static_cast<char>('0' + magnitude % 10);
    }
  } else if (value->exponent >= npairs) {
    std::memcpy(out, digits, static_cast<size_t>(ndigits));
    out += ndigits;
    int shift = 2 * (value->exponent - npairs);
    if (shift != 0) out += std::snprintf(out, 8, "E%d", shift);
  } else {
    int whole = 2 * value->exponent;
    std::memcpy(out, digits, static_cast<size_t>(whole));
    out += whole;
    put_point();
    std::memcpy(out, digits + whole, static_cast<size_t>(ndigits - whole));
    out += ndigits - whole;
  }
  *out = '\0';
  return rstod(text, result);
}

int dectoflt(const dec_t *value, float *result) {
  if (value->sign == -1) {
    std::memcpy(result, fltnull, sizeof(float));
    return 0;
  }
  double wide = 0;
  int status = dectodbl(value, &wide);
  if (status == 0) *result = static_cast<float>(wide);
  return status;
}

}  // extern "C"
