/*
** INT8 and SERIAL8 values (`dvz_int8_t`, sign and 64-bit magnitude):
** checked and unchecked arithmetic, comparison, the conversions to and
** from 16- and 32-bit integers, the magnitude words, the 10-byte stored
** form and the SERIAL8 increment. Called by the value records, columns,
** host variables and display text, and by the INT8 text and conversion
** modules (int8_text.cpp, int8_convert.cpp).
**
** Pure computations on caller memory: nothing allocates, nothing reads the
** environment. Every operation computes into locals before writing, so a
** result may alias an operand.
**
** A checked result has a magnitude below 2^63; the unchecked forms allow
** all 64 bits (the text reader's two's-complement patterns). A zero result
** always has sign 1: a product, quotient or remainder of zero is never
** negative, so that comparison and text never see a "-0".
*/
#include <cstdint>
#include <cstring>

#include "dvz_be.h"
#include "gen_errors.h"
#include "gen_int8.h"
#include "int8_internal.h"

namespace {

using namespace dvz_genlib;

constexpr int err_null_increment = -2;
constexpr int32_t null_long = INT32_MIN;
constexpr int null_short = -32768;

bool is_negative(const dvz_int8_t *v) { return v->sign < 0; }

/* The value as a 64-bit signed integer when its magnitude is below 2^63. */
bool fits_signed(const dvz_int8_t *v, int64_t *out) {
  const uint64_t m = int8_magnitude(v);
  if (m >= int8_checked_limit) return false;
  *out = is_negative(v) ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
  return true;
}

/* r = a + (negate_b ? -b : b) in sign and magnitude. Returns 0, or -1284
** when the magnitude does not fit 64 bits (the low 64 bits are still
** written when check is 0) or, with check, reaches 2^63 (nothing written). */
inline int add_signed(const dvz_int8_t *a, const dvz_int8_t *b, bool negate_b, dvz_int8_t *r,
                      int check) {
  if (int8_is_null(a) | int8_is_null(b)) {
    int8_store_null(r);
    return 0;
  }
  const bool a_negative = is_negative(a);
  const bool b_negative = is_negative(b) != negate_b;
  const uint64_t ma = int8_magnitude(a);
  const uint64_t mb = int8_magnitude(b);
  uint64_t m = 0;
  bool negative = false;
  if (a_negative == b_negative) {
    negative = a_negative;
    if (__builtin_add_overflow(ma, mb, &m)) {
      if (check == 0) int8_store(r, m, negative);
      return value_err_int8_overflow;
    }
  } else if (ma >= mb) {
    m = ma - mb;
    negative = a_negative;
  } else {
    m = mb - ma;
    negative = b_negative;
  }
  if (check != 0 && m >= int8_checked_limit) return value_err_int8_overflow;
  int8_store(r, m, negative);
  return 0;
}

/* Magnitude of a 32-bit value, as an unsigned word (2^31 for INT32_MIN). */
uint32_t magnitude_of(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

/* A non-NULL value narrowed to 16 bits: 0 or -1214 outside -32767..32767. */
int to_short(const dvz_int8_t *v, int *out) {
  int64_t value = 0;
  if (!fits_signed(v, &value) || value < -32767 || value > 32767) return value_err_smallint;
  *out = static_cast<int>(value);
  return 0;
}

}  // namespace

extern "C" {

const dvz_int8_t const_int8zero = {0, 0, 1};
const dvz_int8_t const_int8one = {1, 0, 1};

/* ---- Arithmetic ------------------------------------------------------------- */

int gint8add(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r, int check) {
  return add_signed(a, b, false, r, check);
}

int gint8sub(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r, int check) {
  return add_signed(a, b, true, r, check);
}

/* r = a * b: -1284 (nothing written) when the product does not fit 64
** bits, or with check reaches 2^63. */
int gint8mul(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r, int check) {
  if (int8_is_null(a) || int8_is_null(b)) {
    int8_store_null(r);
    return 0;
  }
  const uint64_t ma = int8_magnitude(a);
  const uint64_t mb = int8_magnitude(b);
  uint64_t m = 0;
  if (__builtin_mul_overflow(ma, mb, &m)) return value_err_int8_overflow;
  if (check != 0 && m >= int8_checked_limit) return value_err_int8_overflow;
  int8_store(r, m, is_negative(a) != is_negative(b));
  return 0;
}

/* q = a / b truncated toward zero and, when r is not null, r = a - q * b
** with the dividend's sign. NULL in either operand: q (and r) NULL, 0.
** -1202 when b is zero, nothing written. */
int gint8div(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *q, dvz_int8_t *r) {
  if (int8_is_null(a) || int8_is_null(b)) {
    int8_store_null(q);
    if (r != nullptr) int8_store_null(r);
    return 0;
  }
  const uint64_t ma = int8_magnitude(a);
  const uint64_t mb = int8_magnitude(b);
  if (mb == 0) return value_err_divide_by_zero;
  const bool a_negative = is_negative(a);
  const bool q_negative = a_negative != is_negative(b);
  /* Both before writing: q or r may alias a or b. */
  const uint64_t quotient = ma / mb;
  const uint64_t remainder = ma % mb;
  int8_store(q, quotient, q_negative);
  if (r != nullptr) int8_store(r, remainder, a_negative);
  return 0;
}

int dvz_int8add(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r) {
  return add_signed(a, b, false, r, 1);
}

int dvz_int8sub(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r) {
  return add_signed(a, b, true, r, 1);
}

int dvz_int8mul(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r) {
  return gint8mul(a, b, r, 1);
}

int dvz_int8div(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *q) {
  return gint8div(a, b, q, nullptr);
}

/* ---- Comparison and copy ------------------------------------------------------- */

/* -1, 0 or 1 by value (a zero of either sign is zero); -2 for a NULL. */
int dvz_int8cmp(const dvz_int8_t *a, const dvz_int8_t *b) {
  if (int8_is_null(a) | int8_is_null(b)) return -2;
  const uint64_t ma = int8_magnitude(a);
  const uint64_t mb = int8_magnitude(b);
  const bool a_negative = is_negative(a) && ma != 0;
  const bool b_negative = is_negative(b) && mb != 0;
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  const int by_magnitude = static_cast<int>(ma > mb) - static_cast<int>(ma < mb);
  return a_negative ? -by_magnitude : by_magnitude;
}

int dvz_int8cmp_det(const dvz_int8_t *a, const dvz_int8_t *b) {
  if (int8_is_null(a) || int8_is_null(b))
    return static_cast<int>(!int8_is_null(a)) - !int8_is_null(b);
  return dvz_int8cmp(a, b);
}

int dvz_int8iszero(const dvz_int8_t *v) { return !int8_is_null(v) && v->low == 0 && v->high == 0; }

void dvz_int8copy(const dvz_int8_t *from, dvz_int8_t *to) {
  std::memmove(to, from, sizeof(dvz_int8_t));
}

/* r = v + 1; past 2^63 - 1 the sequence starts again at 1. */
int serial8inc(const dvz_int8_t *v, dvz_int8_t *r) {
  if (int8_is_null(v)) {
    int8_store_null(r);
    return err_null_increment;
  }
  if (gint8add(v, &const_int8one, r, 1) != 0) *r = const_int8one;
  return 0;
}

/* ---- Integers ---------------------------------------------------------------------- */

int dvz_int8cvlong(int32_t value, dvz_int8_t *v) {
  if (value == null_long) {
    int8_store_null(v);
    return 0;
  }
  int8_store(v, magnitude_of(value), value < 0);
  return 0;
}

int int8cvdvz_off_t(int32_t offset, dvz_int8_t *v) { return dvz_int8cvlong(offset, v); }

int dvz_int8cvint(int value, dvz_int8_t *v) {
  if (value == null_short) {
    int8_store_null(v);
    return 0;
  }
  int8_store(v, magnitude_of(value), value < 0);
  return 0;
}

int dvz_int8tolong(const dvz_int8_t *v, int32_t *result) {
  if (int8_is_null(v)) {
    *result = null_long;
    return 0;
  }
  const uint64_t m = int8_magnitude(v);
  if (m > INT32_MAX) return value_err_int8_overflow;
  *result = is_negative(v) ? -static_cast<int32_t>(m) : static_cast<int32_t>(m);
  return 0;
}

int int8todvz_off_t(const dvz_int8_t *v, int32_t *result) { return dvz_int8tolong(v, result); }

int dvz_int8toint4(const dvz_int8_t *v, int32_t *result) { return dvz_int8tolong(v, result); }

int dvz_int8toint(const dvz_int8_t *v, int *result) {
  if (int8_is_null(v)) {
    *result = null_short;
    return 0;
  }
  return to_short(v, result);
}

int dvz_int8toint2(const dvz_int8_t *v, int16_t *result) {
  if (int8_is_null(v)) {
    *result = null_short;
    return 0;
  }
  int value = 0;
  const int status = to_short(v, &value);
  if (status == 0) *result = static_cast<int16_t>(value);
  return status;
}

int dvz_int8high(const dvz_int8_t *v, int32_t *word) {
  *word = int8_is_null(v) ? null_long : static_cast<int32_t>(v->high);
  return 0;
}

int dvz_int8low(const dvz_int8_t *v, int32_t *word) {
  *word = int8_is_null(v) ? null_long : static_cast<int32_t>(v->low);
  return 0;
}

/* ---- Stored form ------------------------------------------------------------------- */

void stint8(const dvz_int8_t *v, void *bytes) {
  unsigned char *p = static_cast<unsigned char *>(bytes);
  dvz_st_be_i16(v->sign, p);
  dvz_st_be_u32(v->low, p + 2);
  dvz_st_be_u32(v->high, p + 6);
}

/* Any stored sign word other than 0 reads as 1 or -1; sign 0 is the NULL
** whatever the words hold. */
void ldint8(const void *bytes, dvz_int8_t *v) {
  const unsigned char *p = static_cast<const unsigned char *>(bytes);
  const int16_t sign = dvz_ld_be_i16(p);
  if (sign == 0) {
    int8_store_null(v);
    return;
  }
  v->low = dvz_ld_be_u32(p + 2);
  v->high = dvz_ld_be_u32(p + 6);
  v->sign = sign < 0 ? -1 : 1;
}

}  // extern "C"
