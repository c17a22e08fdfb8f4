/*
** INT8 conversions to and from DECIMAL, double and float, and the
** remainder of two typed values (`exmod`). Called by the value records
** (toint8 and the other to* conversions), host variables and the
** expression evaluator.
**
** Kept apart from int8_arith.cpp and int8_text.cpp because exmod needs the
** typed-value conversions: a program that uses only INT8 arithmetic or
** text does not link them.
**
** Floating point converts exactly: a double's integer part below 2^63 is
** the INT8 value, digit for digit, and an INT8 becomes the nearest double.
** No conversion goes through display text, whose rounding to whole
** numbers and 17 significant digits would change the value.
*/
#include <cmath>
#include <cstdint>
#include <cstring>

#include "gen_decimal.h"
#include "gen_errors.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "int8_internal.h"
#include "value_internal.h"

namespace {

using namespace dvz_genlib;

constexpr double two_to_63 = 9223372036854775808.0;
constexpr int max_pairs = 10; /* 100^10 = 10^20 > 2^64 */

/* The value of a non-NULL record as the nearest double. */
double to_double(const dvz_int8_t *v) {
  const double d = static_cast<double>(int8_magnitude(v));
  return v->sign < 0 ? -d : d;
}

}  // namespace

extern "C" {

/* ---- DECIMAL ------------------------------------------------------------------ */

/* The integer digits of value (the fraction dropped, the caller's record
** unchanged): 0, or -1284 from 2^63 on. A NULL DECIMAL gives NULL. */
int dvz_int8cvdec(const dec_t *value, dvz_int8_t *v) {
  if (value->sign == -1) {
    int8_store_null(v);
    return 0;
  }
  const int pairs = value->npairs < 0 ? 0 : (value->npairs > DECSIZE ? DECSIZE : value->npairs);
  const int whole = value->exponent;
  if (pairs == 0 || whole <= 0) {
    int8_store(v, 0, false);
    return 0;
  }
  if (whole > max_pairs) return value_err_int8_overflow;
  unsigned __int128 m = 0;
  for (int i = 0; i < whole; ++i)
    m = m * 100 + (i < pairs ? value->pairs[i] : 0);
  if (m >= int8_checked_limit) return value_err_int8_overflow;
  int8_store(v, static_cast<uint64_t>(m), value->sign == 0);
  return 0;
}

/* v as a DECIMAL (at most 10 base-100 digits, exact); NULL gives NULL. */
int dvz_int8todec(const dvz_int8_t *v, dec_t *value) {
  if (int8_is_null(v)) return decload(value, -1, 0, nullptr, 0);
  unsigned char digits[max_pairs];
  int count = 0;
  for (uint64_t m = int8_magnitude(v); m != 0; m /= 100)
    digits[max_pairs - 1 - count++] = static_cast<unsigned char>(m % 100);
  return decload(value, v->sign < 0 ? 0 : 1, count, digits + (max_pairs - count), count);
}

int deccvint8(const dvz_int8_t *v, dec_t *value) { return dvz_int8todec(v, value); }

/* ---- Floating point ------------------------------------------------------------- */

/* The integer part of value: 0, -1223 for NaN or infinity, -1284 for a
** magnitude of 2^63 or more. The all-0xFF pattern (the NULL double) gives
** NULL. */
int dvz_int8cvdbl(double value, dvz_int8_t *v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits == UINT64_MAX) {
    int8_store_null(v);
    return 0;
  }
  if (!std::isfinite(value)) return value_err_not_number;
  const double whole = std::fabs(std::trunc(value));
  if (whole >= two_to_63) return value_err_int8_overflow;
  int8_store(v, static_cast<uint64_t>(whole), value < 0);
  return 0;
}

/* As dvz_int8cvdbl; the NULL float (four 0xFF bytes) gives NULL. */
int dvz_int8cvflt(float value, dvz_int8_t *v) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits == UINT32_MAX) {
    int8_store_null(v);
    return 0;
  }
  return dvz_int8cvdbl(static_cast<double>(value), v);
}

/* The nearest double; NULL gives the NULL double (eight 0xFF bytes). */
int dvz_int8todbl(const dvz_int8_t *v, double *result) {
  if (int8_is_null(v)) {
    std::memset(result, 0xFF, sizeof *result);
    return 0;
  }
  *result = to_double(v);
  return 0;
}

/* Through the double; -1222 (nothing written) for a non-zero magnitude
** outside the float range. NULL gives the NULL float (four 0xFF bytes). */
int dvz_int8toflt(const dvz_int8_t *v, float *result) {
  if (int8_is_null(v)) {
    std::memset(result, 0xFF, sizeof *result);
    return 0;
  }
  const double d = to_double(v);
  if (dvz_genlib::outside_smallfloat(d)) return value_err_smallfloat;
  *result = static_cast<float>(d);
  return 0;
}

/* ---- Typed values ------------------------------------------------------------------ */

/* r = a mod b, both converted by toint8: an INT8 value with the dividend's
** sign, or the NULL INT8 when either is NULL. Returns 0, -647 when b is
** zero, or toint8's error word; r is written only with 0. */
int exmod(struct value_t *a, struct value_t *b, struct value_t *r) {
  dvz_int8_t dividend;
  dvz_int8_t divisor;
  int status = toint8(a, &dividend);
  if (status != 0) return status;
  status = toint8(b, &divisor);
  if (status != 0) return status;
  dvz_int8_t quotient;
  dvz_int8_t remainder;
  if (!int8_is_null(&dividend) && !int8_is_null(&divisor)) {
    if (divisor.low == 0 && divisor.high == 0) return value_err_remainder_by_zero;
    status = gint8div(&dividend, &divisor, &quotient, &remainder);
    if (status != 0) return status;
  } else {
    int8_store_null(&remainder);
  }
  std::memset(r, 0, sizeof *r);
  r->vtype = sql_type_int8;
  r->vind = int8_is_null(&remainder) ? -1 : 0;
  r->vint8 = remainder;
  return 0;
}

}  // extern "C"
