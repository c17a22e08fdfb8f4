/*
** number_parse.cpp: decimal text to 16- and 32-bit integers (rstoi,
** rstol) and the second text-to-double reader (rstod_pload), used by the
** value conversions and the exponent of rstod_pload itself.
**
** The integer readers stop at the first blank or newline after the digits
** and keep the magnitude within the positive limit, so the most negative
** value of each width (its NULL form) is never read from text. The double
** reader scales by a power of ten built by repeated squaring: it is not
** correctly rounded, and callers that need that use rstod.
*/
#include <cmath>
#include <cstdint>
#include <cstring>

#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_errors.h"
#include "gen_types.h"
#include "number_conventions.h"
#include "text_scan.h"

namespace {

using dvz_genlib::is_digit;

constexpr int max_decimal_exponent = 308;

/* The limits of one integer width: a tenth of the largest magnitude and
** its last digit, the NULL form an empty text gives and the overflow error. */
struct IntegerLimits {
  int32_t tenth;
  int last_digit;
  int32_t null_form;
  int overflow;
};

constexpr IntegerLimits short_limits {3276, 7, -32768, value_err_smallint};
constexpr IntegerLimits long_limits {214748364, 7, INT32_MIN, value_err_integer};

/* Number text separates its parts with spaces only. */
bool is_space(char c) { return c == ' '; }

const char *skip_spaces(const char *p) {
  while (is_space(*p))
    ++p;
  return p;
}

bool ends_number(char c) { return c == '\0' || is_space(c) || c == '\n'; }

/* Reads the integer text into *result within the limits: 0, -1213 or the
** width's overflow error; *result is written on success only. */
int read_integer(const char *text, const IntegerLimits &limits, int32_t *result) {
  const char *p = skip_spaces(text);
  if (*p == '\0') {
    *result = limits.null_form;
    return 0;
  }
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  if (!is_digit(*p)) return value_err_text;
  int32_t value = 0;
  for (; is_digit(*p); ++p) {
    int digit = *p - '0';
    if (value > limits.tenth || (value == limits.tenth && digit > limits.last_digit))
      return limits.overflow;
    value = value * 10 + digit;
  }
  if (!ends_number(*p)) return value_err_text;
  *result = negative ? -value : value;
  return 0;
}

/* 10 to the power count (0 <= count <= 308) by repeated squaring. */
double power_of_ten(int count) {
  double result = 1.0;
  double square = 10.0;
  while (count > 0) {
    if ((count & 1) != 0) result *= square;
    count >>= 1;
    if (count > 0) square *= square;
  }
  return result;
}

}  // namespace

extern "C" {

int rstoi(const char *text, int *result) {
  int32_t value = 0;
  int status = read_integer(text, short_limits, &value);
  if (status == 0) *result = value;
  return status;
}

int rstol(const char *text, int32_t *result) { return read_integer(text, long_limits, result); }

/* Reads [sign] digits [point digits] [e exponent] or a "0x" text into
** *result: 0, -1213, -1216 (exponent not a 16-bit number), -1223 (the
** value's decimal exponent beyond 308 in magnitude, or more integer
** digits than a double holds), a locale initialisation error, or what
** deccvasc and dectodbl return for a "0x" text. *result is written on success only; blanks only give the
** NULL double. */
int rstod_pload(const char *text, double *result) {
  int status = dvz_genlib::load_conventions();
  if (status != 0) return status;
  const gls_lconv &lc = dvz_genlib::conventions();
  const char *start = skip_spaces(text);
  if (*start == '\0') {
    std::memcpy(result, fltnull, sizeof(double));
    return 0;
  }
  const char *p = start;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  auto at_point = [&lc](const char *q) {
    return lc.decimal_point_len > 0 &&
           std::strncmp(q, lc.decimal_point, static_cast<size_t>(lc.decimal_point_len)) == 0;
  };
  if (!is_digit(*p) && !at_point(p)) return value_err_text;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    dec_t value;
    status = deccvasc(start, static_cast<int>(std::strlen(start)), &value);
    if (status != 0) return status;
    return dectodbl(&value, result);
  }
  while (*p == '0')
    ++p;
  /* The digits accumulate in mantissa; exponent counts the places of the
  ** fraction down and the written exponent on; significant counts the
  ** digits from the first non-zero one. */
  double mantissa = 0.0;
  int64_t exponent = 0;
  int64_t significant = 0;
  auto add_digit = [&](char c) {
    mantissa = mantissa * 10.0 + (c - '0');
    if (mantissa != 0.0) ++significant;
  };
  for (; is_digit(*p); ++p)
    add_digit(*p);
  if (at_point(p)) {
    for (p += lc.decimal_point_len; is_digit(*p); ++p) {
      add_digit(*p);
      --exponent;
    }
  }
  if (*p == 'e' || *p == 'E') {
    /* An exponent must be there: rstoi's empty text is its NULL form. */
    if (*skip_spaces(p + 1) == '\0') return value_err_exponent;
    int written = 0;
    if (rstoi(p + 1, &written) != 0) return value_err_exponent;
    exponent += written;
  } else if (!ends_number(*p)) {
    return value_err_text;
  }
  if (mantissa == 0.0) {
    *result = negative ? -0.0 : 0.0;
    return 0;
  }
  /* The value's own decimal exponent: that of its first digit. */
  int64_t leading = exponent + significant - 1;
  if (leading > max_decimal_exponent || leading < -max_decimal_exponent)
    return value_err_not_number;
  double value = mantissa;
  if (exponent > 0) {
    value *= power_of_ten(static_cast<int>(exponent));
  } else {
    /* Below 10^-308 one divisor would overflow: divide in steps. */
    for (int64_t left = -exponent; left > 0;) {
      int step = left > max_decimal_exponent ? max_decimal_exponent : static_cast<int>(left);
      value /= power_of_ten(step);
      left -= step;
    }
  }
  if (!std::isfinite(value)) return value_err_not_number;
  *result = negative ? -value : value;
  return 0;
}

}  // extern "C"
