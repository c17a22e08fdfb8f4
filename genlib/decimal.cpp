/*
** DECIMAL values: the normaliser every producer of a dec_t ends with,
** comparison, copy, rounding and truncation to decimal places, the
** precision word, the four arithmetic operations and the 16- and 32-bit
** integer conversions. The packed form is in decimal_packed.cpp.
**
** Pure computations on caller memory: nothing allocates, nothing reads the
** environment. Every operation that writes a result builds it in a local
** record first, so a result may alias an operand.
**
** Kept on purpose, since stored results depend on it: addition aligns the
** operands in a 17-digit window and drops the smaller operand's digits
** beyond it before adding, and division truncates to 18 quotient digits
** before the normaliser rounds on the 17th.
*/
#include "gen_decimal.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr int zero_exponent = -64;
constexpr int max_exponent = 63;
constexpr int addition_window = 17;
constexpr int quotient_digits = 18;

void set_null(dec_t *v) {
  v->sign = -1;
  v->exponent = 0;
  v->npairs = 0;
}

void set_zero(dec_t *v) {
  v->sign = 1;
  v->exponent = zero_exponent;
  v->npairs = 0;
}

bool is_null(const dec_t *v) { return v->sign == -1; }

/* Digits in use, kept within the record whatever npairs holds. */
int pairs_in_use(const dec_t *v) { return std::clamp<int>(v->npairs, 0, DECSIZE); }

/* Magnitude comparison: -1, 0 or 1 as |a| <, == or > |b|. */
int compare_magnitudes(const dec_t *a, const dec_t *b) {
  int na = pairs_in_use(a);
  int nb = pairs_in_use(b);
  if (na == 0 || nb == 0) return (na != 0) - (nb != 0);
  if (a->exponent != b->exponent) return a->exponent > b->exponent ? 1 : -1;
  int n = std::min(na, nb);
  for (int i = 0; i < n; ++i) {
    if (a->pairs[i] != b->pairs[i]) return a->pairs[i] > b->pairs[i] ? 1 : -1;
  }
  return (na > nb) - (na < nb);
}

/*
** Stores n digits with the sign and the exponent, clamped: 0, -1200
** (exponent stored as 63) or -1201 (stored as -64); no digits is zero.
** The digits may be the result's own pairs from the first on (copied
** forward).
*/
int store_digits(dec_t *result, int sign, int exponent, const unsigned char *digits, int n) {
  if (n == 0) {
    set_zero(result);
    return 0;
  }
  int status = 0;
  if (exponent < zero_exponent) {
    exponent = zero_exponent;
    status = value_err_underflow;
  } else if (exponent >= max_exponent) {
    exponent = max_exponent;
    status = value_err_overflow;
  }
  for (int i = 0; i < n; ++i)
    result->pairs[i] = digits[i];
  result->sign = sign == 0 ? 0 : 1;
  result->exponent = static_cast<int16_t>(exponent);
  result->npairs = static_cast<int16_t>(n);
  return status;
}

}  // namespace

extern "C" {

/*
** The normaliser: drops leading and trailing zero digits, rounds half up on
** a 17th digit, clamps the exponent. Returns 0, -1200 (exponent stored as
** 63) or -1201 (stored as -64); the digits stay as computed.
*/
int decload(dec_t *result, int sign, int exponent, const unsigned char *digits, int count) {
  if (sign == -1) {
    set_null(result);
    return 0;
  }
  int start = 0;
  int end = std::max(count, 0);
  while (end > start && digits[end - 1] == 0)
    --end;
  while (start < end && digits[start] == 0) {
    ++start;
    --exponent;
  }
  /* Up to 16 digits, the first and last non-zero, are the result's as
  ** they are; more are rounded half up on the 17th. */
  if (end - start <= DECSIZE)
    return store_digits(result, sign, exponent, digits + start, end - start);
  std::array<unsigned char, DECSIZE> kept {};
  std::copy_n(digits + start, DECSIZE, kept.begin());
  if (digits[start + DECSIZE] >= 50) {
    int i = DECSIZE - 1;
    while (i >= 0 && ++kept[i] == 100)
      kept[i--] = 0;
    if (i < 0) {
      kept[0] = 1;
      ++exponent;
    }
  }
  int n = DECSIZE;
  while (n > 0 && kept[n - 1] == 0)
    --n;
  return store_digits(result, sign, exponent, kept.data(), n);
}

/* Base-100 complement in place: the digits read as x become 100^count - x. */
void deccomplement(unsigned char *digits, int count) {
  int i = count - 1;
  while (i >= 0 && digits[i] == 0)
    --i;
  if (i < 0) return;
  digits[i] = static_cast<unsigned char>(100 - digits[i]);
  while (--i >= 0)
    digits[i] = static_cast<unsigned char>(99 - digits[i]);
}

int deccmp(const dec_t *a, const dec_t *b) {
  if (is_null(a) || is_null(b)) return -2;
  if (a->sign != b->sign) return a->sign == 1 ? 1 : -1;
  int r = compare_magnitudes(a, b);
  return a->sign == 0 ? -r : r;
}

void deccopy(const dec_t *from, dec_t *to) {
  int n = pairs_in_use(from);
  to->exponent = from->exponent;
  to->sign = from->sign;
  to->npairs = from->npairs;
  std::memmove(to->pairs, from->pairs, static_cast<size_t>(n));
}

int dec_is_zero(const dec_t *value) {
  return value->npairs <= 0 && value->exponent == zero_exponent ? 1 : 0;
}

/*
** a + b. The operand of larger magnitude x fixes the sign; the other, y, is
** aligned to x in a window of at most 17 digits (digits of y past it are
** dropped), added or subtracted digit by digit, and the sum normalised.
*/
int decadd(const dec_t *a, const dec_t *b, dec_t *result) {
  if (is_null(a) || is_null(b)) {
    set_null(result);
    return 0;
  }
  const dec_t *x = a;
  const dec_t *y = b;
  if (compare_magnitudes(a, b) < 0) std::swap(x, y);
  int nx = pairs_in_use(x);
  int ny = pairs_in_use(y);
  int d = x->exponent - y->exponent;
  int n = std::min(std::max(ny + d, nx), addition_window);
  bool subtract = x->sign != y->sign;

  std::array<int, addition_window + 1> work {};
  for (int i = 0; i < nx; ++i)
    work[static_cast<size_t>(i + 1)] = x->pairs[i];
  int m = std::min(n - d, ny);
  int carry = 0;
  int pos = d + m;
  for (int j = m - 1; j >= 0; --j, --pos) {
    int v = work[static_cast<size_t>(pos)] + (subtract ? -y->pairs[j] : y->pairs[j]) + carry;
    carry = v < 0 ? -1 : v >= 100 ? 1 : 0;
    work[static_cast<size_t>(pos)] = v - 100 * carry;
  }
  for (; carry != 0 && pos >= 0; --pos) {
    int v = work[static_cast<size_t>(pos)] + carry;
    carry = v < 0 ? -1 : v >= 100 ? 1 : 0;
    work[static_cast<size_t>(pos)] = v - 100 * carry;
  }
  std::array<unsigned char, addition_window + 1> digits {};
  for (int i = 0; i <= n; ++i) {
    digits[static_cast<size_t>(i)] = static_cast<unsigned char>(work[static_cast<size_t>(i)]);
  }
  return decload(result, x->sign, x->exponent + 1, digits.data(), n + 1);
}

int decsub(const dec_t *a, const dec_t *b, dec_t *result) {
  dec_t negated;
  deccopy(b, &negated);
  if (!is_null(&negated)) negated.sign = negated.sign == 0 ? 1 : 0;
  return decadd(a, &negated, result);
}

/* a * b: the exact product of the digit strings, rounded on the 17th. */
int decmul(const dec_t *a, const dec_t *b, dec_t *result) {
  if (is_null(a) || is_null(b)) {
    set_null(result);
    return 0;
  }
  int na = pairs_in_use(a);
  int nb = pairs_in_use(b);
  std::array<int, 2 * DECSIZE> work {};
  for (int i = na - 1; i >= 0; --i) {
    for (int j = nb - 1; j >= 0; --j) {
      work[static_cast<size_t>(i + j + 1)] += a->pairs[i] * b->pairs[j];
    }
  }
  std::array<unsigned char, 2 * DECSIZE> digits {};
  int carry = 0;
  for (int k = na + nb - 1; k >= 0; --k) {
    int v = work[static_cast<size_t>(k)] + carry;
    digits[static_cast<size_t>(k)] = static_cast<unsigned char>(v % 100);
    carry = v / 100;
  }
  int sign = a->sign == b->sign ? 1 : 0;
  return decload(result, sign, a->exponent + b->exponent, digits.data(), na + nb);
}

/*
** a / b by long division in base 100: each quotient digit is estimated from
** three remainder digits over the divisor's first two, and corrected once
** when the estimate was one too large. 18 quotient digits, truncated, then
** normalised. A divisor without digits gives zero and -1202.
*/
int decdiv(const dec_t *a, const dec_t *b, dec_t *result) {
  if (is_null(a) || is_null(b)) {
    set_null(result);
    return 0;
  }
  int na = pairs_in_use(a);
  int nb = pairs_in_use(b);
  if (nb == 0) {
    set_zero(result);
    return value_err_divide_by_zero;
  }
  /* Remainder digits w[k .. k + nb] are read up to k = 17 with nb <= 16. */
  std::array<int, quotient_digits + DECSIZE> w {};
  for (int i = 0; i < na; ++i)
    w[static_cast<size_t>(i + 1)] = a->pairs[i];
  std::array<int, DECSIZE + 1> v {};
  for (int i = 0; i < nb; ++i)
    v[static_cast<size_t>(i + 1)] = b->pairs[i];
  int t = b->pairs[0] * 100 + (nb > 1 ? b->pairs[1] : 0);

  std::array<unsigned char, quotient_digits> q {};
  for (int k = 0; k < quotient_digits; ++k) {
    auto at = [&](int i) -> int & { return w[static_cast<size_t>(k + i)]; };
    int digit = ((at(0) * 100 + at(1)) * 100 + at(2)) / t;
    if (digit != 0) {
      int borrow = 0;
      for (int i = nb; i >= 0; --i) {
        int r = at(i) - digit * v[static_cast<size_t>(i)] - borrow;
        borrow = 0;
        if (r < 0) {
          borrow = (-r + 99) / 100;
          r += 100 * borrow;
        }
        at(i) = r;
      }
      if (borrow != 0) {
        --digit;
        int carry = 0;
        for (int i = nb; i >= 0; --i) {
          int r = at(i) + v[static_cast<size_t>(i)] + carry;
          carry = r >= 100 ? 1 : 0;
          at(i) = r - 100 * carry;
        }
      }
    }
    q[static_cast<size_t>(k)] = static_cast<unsigned char>(digit);
  }
  int sign = a->sign == b->sign ? 1 : 0;
  return decload(result, sign, a->exponent - b->exponent + 1, q.data(), quotient_digits);
}

/*
** Truncates to `places` decimal places; a negative count cuts tens,
** hundreds and so on. The cut lies after base-100 digit k = floor((places
** + 1) / 2) + exponent, which is returned; nothing changes when k is past
** the last digit. NULL is left as it is.
*/
int dectrunc(dec_t *value, int places) {
  if (is_null(value)) return 0;
  /* (places + 1) / 2 rounded down, without overflow at INT_MAX. */
  int k = static_cast<int>(((static_cast<int64_t>(places) + 1) >> 1) + value->exponent);
  int n = pairs_in_use(value);
  if (k > n) return k;
  if (k >= 1 && (places & 1) != 0) {
    value->pairs[k - 1] = static_cast<unsigned char>(value->pairs[k - 1] / 10 * 10);
  }
  int kept = std::max(k, 0);
  while (kept > 0 && value->pairs[kept - 1] == 0)
    --kept;
  if (kept == 0) {
    set_zero(value);
  } else {
    value->npairs = static_cast<int16_t>(kept);
  }
  return k;
}

/* Rounds half away from zero to `places` decimal places, when the value
** has digits beyond them. */
void decround(dec_t *value, int places) {
  if (is_null(value)) return;
  if (places >= 2 * (value->npairs - value->exponent)) return;
  /* Every place above the largest exponent rounds the same way. */
  places = std::max(places, -2 * (max_exponent + 2));
  int even = places - (places & 1);
  dec_t half;
  half.sign = value->sign;
  half.exponent = static_cast<int16_t>(-(even / 2));
  half.npairs = 1;
  half.pairs[0] = (places & 1) != 0 ? 5 : 50;
  decadd(value, &half, value);
  dectrunc(value, places);
}

int dec2prec(const dec_t *value) {
  int n = pairs_in_use(value);
  if (is_null(value) || n == 0) return 0;
  int scale = 2 * (n - value->exponent);
  int precision = 2 * n;
  if (value->pairs[n - 1] % 10 == 0) {
    --scale;
    --precision;
  }
  if (value->pairs[0] < 10) --precision;
  if (scale < 0) {
    precision -= scale;
    scale = 0;
  }
  return precision << 8 | scale;
}

int decprec(const dec_t *value) {
  int word = dec2prec(value);
  int precision = word >> 8;
  int scale = word & 0xFF;
  return std::max(precision, scale) << 8 | scale;
}

int deccvlong(int32_t value, dec_t *result) {
  if (value == INT32_MIN) {
    set_null(result);
    return 0;
  }
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  std::array<unsigned char, 5> digits {};
  for (int i = 4; i >= 0; --i) {
    digits[static_cast<size_t>(i)] = static_cast<unsigned char>(magnitude % 100);
    magnitude /= 100;
  }
  return decload(result, value < 0 ? 0 : 1, 5, digits.data(), 5);
}

int deccvint(int value, dec_t *result) {
  if (value == -32768) {
    set_null(result);
    return 0;
  }
  return deccvlong(value, result);
}

int dectolong(const dec_t *value, int32_t *result) {
  if (is_null(value)) {
    *result = INT32_MIN;
    return 0;
  }
  if (value->exponent >= 6) return value_err_overflow;
  if (value->exponent == 5) {
    dec_t limit;
    deccvlong(INT32_MAX, &limit);
    if (deccmp(value, &limit) > 0) return value_err_overflow;
    deccvlong(-INT32_MAX, &limit);
    if (deccmp(value, &limit) < 0) return value_err_overflow;
  }
  int64_t integer = 0;
  int n = pairs_in_use(value);
  for (int i = 0; i < value->exponent; ++i)
    integer = integer * 100 + (i < n ? value->pairs[i] : 0);
  *result = static_cast<int32_t>(value->sign == 0 ? -integer : integer);
  return 0;
}

int dectoint(const dec_t *value, int *result) {
  if (is_null(value)) {
    *result = -32768;
    return 0;
  }
  int32_t integer = 0;
  int status = dectolong(value, &integer);
  if (status != 0) return status;
  if (integer < -32767 || integer > 32767) return value_err_overflow;
  *result = integer;
  return 0;
}

} /* extern "C" */
