/*
** INT8 to and from double, float and DECIMAL, and the remainder of two
** typed values. Doubles against the C++ conversions (truncation toward
** zero, and the nearest double of an integer) over fixed random values;
** DECIMAL against deccvasc of the same text; the tables hold the
** boundaries (2^31, 2^53, 2^63), the NULL patterns and the errors.
*/
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "int8_values.h"

namespace {

using namespace int8_test;

double null_double() {
  double d;
  std::memset(&d, 0xFF, sizeof d);
  return d;
}

float null_float() {
  float f;
  std::memset(&f, 0xFF, sizeof f);
  return f;
}

/* ---- Double and float ------------------------------------------------------------- */

TEST(Int8Double, ToInt8TruncatesTowardZeroExactly) {
  const double two_31 = 2147483648.0;
  const double two_53 = 9007199254740992.0;
  struct Case {
    double d;
    int status;
    i128 v;
  };
  const Case cases[] = {
      {0.0, 0, 0},
      {-0.0, 0, 0},
      {0.9, 0, 0},
      {-0.9, 0, 0},
      {1.5, 0, 1},
      {-1.5, 0, -1},
      {2147483647.9, 0, 2147483647},
      {two_31, 0, i128 {1} << 31},
      {-two_31, 0, -(i128 {1} << 31)},
      {3000000000.7, 0, 3000000000},
      {-3000000000.7, 0, -3000000000},
      {two_53, 0, i128 {1} << 53},
      {-two_53, 0, -(i128 {1} << 53)},
      {two_53 + 2, 0, (i128 {1} << 53) + 2},
      {4611686018427387904.0, 0, i128 {1} << 62},
      {9223372036854774784.0, 0, 9223372036854774784}, /* the largest double below 2^63 */
      {-9223372036854774784.0, 0, -9223372036854774784},
      {9223372036854775808.0, overflow, 0},
      {-9223372036854775808.0, overflow, 0},
      {1e19, overflow, 0},
      {-1e300, overflow, 0},
      {std::numeric_limits<double>::infinity(), -1223, 0},
      {-std::numeric_limits<double>::infinity(), -1223, 0},
      {std::numeric_limits<double>::quiet_NaN(), -1223, 0},
  };
  for (const Case &c : cases) {
    dvz_int8_t v = make(77);
    ASSERT_EQ(dvz_int8cvdbl(c.d, &v), c.status) << c.d;
    if (c.status != 0) {
      EXPECT_EQ(value(v), 77) << "written after an error: " << c.d;
      continue;
    }
    EXPECT_EQ(static_cast<int64_t>(value(v)), static_cast<int64_t>(c.v)) << c.d;
    EXPECT_EQ(v.sign, c.v < 0 ? -1 : 1) << c.d;
  }
  dvz_int8_t v = make(77);
  ASSERT_EQ(dvz_int8cvdbl(null_double(), &v), 0);
  EXPECT_TRUE(is_written_null(v));
}

/* Random doubles of every magnitude below 2^63 against the C++ cast (which
** truncates toward zero), and back against the nearest double. */
TEST(Int8Double, MatchesTheLanguageConversionsOverRandomValues) {
  std::mt19937_64 random(53);
  for (int i = 0; i < 4000; ++i) {
    const int exponent = static_cast<int>(random() % 63);
    const double fraction = static_cast<double>(random() >> 11) / 9007199254740992.0;
    double d = std::ldexp(1.0 + fraction, exponent - 1);
    if (d >= 9223372036854775808.0) continue;
    if ((random() & 1) != 0) d = -d;
    dvz_int8_t v {};
    ASSERT_EQ(dvz_int8cvdbl(d, &v), 0) << d;
    const auto peer = static_cast<int64_t>(d);
    ASSERT_EQ(static_cast<int64_t>(value(v)), peer) << d;
    double back = 0;
    ASSERT_EQ(dvz_int8todbl(&v, &back), 0);
    EXPECT_EQ(back, static_cast<double>(peer)) << d;
  }
  for (int64_t n : operands()) {
    const dvz_int8_t v = make(n);
    double back = 0;
    ASSERT_EQ(dvz_int8todbl(&v, &back), 0);
    EXPECT_EQ(back, static_cast<double>(n)) << n;
  }
}

TEST(Int8Double, RoundTripIsExactAtTwoToThe31And53) {
  for (i128 n : {i128 {1} << 31, -(i128 {1} << 31), i128 {1} << 53, -(i128 {1} << 53),
                 (i128 {1} << 53) - 1, (i128 {1} << 31) - 1}) {
    const dvz_int8_t v = make(n);
    double d = 0;
    ASSERT_EQ(dvz_int8todbl(&v, &d), 0);
    dvz_int8_t back {};
    ASSERT_EQ(dvz_int8cvdbl(d, &back), 0);
    EXPECT_EQ(static_cast<int64_t>(value(back)), static_cast<int64_t>(n));
  }
  const dvz_int8_t null = null_int8();
  double d = 0;
  ASSERT_EQ(dvz_int8todbl(&null, &d), 0);
  const double expected = null_double();
  EXPECT_EQ(std::memcmp(&d, &expected, sizeof d), 0);
}

TEST(Int8Float, BothDirectionsAndTheNullPattern) {
  struct Case {
    float f;
    int status;
    i128 v;
  };
  const Case cases[] = {
      {1.5f, 0, 1},
      {-1.5f, 0, -1},
      {2147483648.0f, 0, i128 {1} << 31},
      {16777217.0f, 0, 16777216}, /* the float itself is 2^24 */
      {9.2e18f, 0, 9200000267938955264},
      {9.3e18f, overflow, 0},
      {3e38f, overflow, 0},
      {std::numeric_limits<float>::quiet_NaN(), -1223, 0},
      {std::numeric_limits<float>::infinity(), -1223, 0},
  };
  for (const Case &c : cases) {
    dvz_int8_t v = make(77);
    ASSERT_EQ(dvz_int8cvflt(c.f, &v), c.status) << c.f;
    if (c.status == 0) {
      EXPECT_EQ(static_cast<int64_t>(value(v)), static_cast<int64_t>(c.v)) << c.f;
    }
  }
  dvz_int8_t v = make(77);
  ASSERT_EQ(dvz_int8cvflt(null_float(), &v), 0);
  EXPECT_TRUE(is_written_null(v));

  for (int64_t n : operands()) {
    const dvz_int8_t x = make(n);
    float f = 0;
    ASSERT_EQ(dvz_int8toflt(&x, &f), 0) << n;
    EXPECT_EQ(f, static_cast<float>(static_cast<double>(n))) << n;
  }
  const dvz_int8_t null = null_int8();
  float f = 0;
  ASSERT_EQ(dvz_int8toflt(&null, &f), 0);
  const float expected = null_float();
  EXPECT_EQ(std::memcmp(&f, &expected, sizeof f), 0);
}

/* ---- DECIMAL ---------------------------------------------------------------------- */

dec_t dec_of(const std::string &text) {
  dec_t d {};
  EXPECT_EQ(deccvasc(text.data(), static_cast<int>(text.size()), &d), 0) << text;
  return d;
}

TEST(Int8Decimal, FromDecimalKeepsTheIntegerDigits) {
  struct Case {
    const char *text;
    int status;
    i128 v;
  };
  const Case cases[] = {
      {"0", 0, 0},
      {"123.99", 0, 123},
      {"-123.99", 0, -123},
      {"0.5", 0, 0},
      {"-0.5", 0, 0},
      {"100", 0, 100},
      {"1234567890123.5", 0, 1234567890123},
      {"9223372036854775807", 0, max_int8},
      {"-9223372036854775807.9", 0, -max_int8},
      {"9223372036854775808", overflow, 0},
      {"-9223372036854775808", overflow, 0},
      {"99999999999999999999", overflow, 0},
      {"1e30", overflow, 0},
  };
  for (const Case &c : cases) {
    const dec_t d = dec_of(c.text);
    dec_t before = d;
    dvz_int8_t v = make(77);
    ASSERT_EQ(dvz_int8cvdec(&d, &v), c.status) << c.text;
    EXPECT_EQ(std::memcmp(&d, &before, sizeof d), 0) << "the DECIMAL changed: " << c.text;
    if (c.status != 0) {
      EXPECT_EQ(value(v), 77) << c.text;
      continue;
    }
    EXPECT_EQ(static_cast<int64_t>(value(v)), static_cast<int64_t>(c.v)) << c.text;
    EXPECT_EQ(v.sign, c.v < 0 ? -1 : 1) << c.text;
  }
  dec_t null {};
  null.sign = -1;
  dvz_int8_t v = make(77);
  ASSERT_EQ(dvz_int8cvdec(&null, &v), 0);
  EXPECT_TRUE(is_written_null(v));
}

/* INT8 to DECIMAL gives what deccvasc reads from the value's text, and the
** way back gives the value. */
TEST(Int8Decimal, ToDecimalMatchesTheTextAndReadsBack) {
  for (int64_t n : operands()) {
    const dvz_int8_t v = make(n);
    dec_t d {};
    dec_t d2 {};
    ASSERT_EQ(dvz_int8todec(&v, &d), 0) << n;
    ASSERT_EQ(deccvint8(&v, &d2), 0) << n;
    const dec_t peer = dec_of(decimal(n));
    EXPECT_EQ(deccmp(&d, &peer), 0) << n;
    EXPECT_EQ(deccmp(&d2, &peer), 0) << n;
    dvz_int8_t back {};
    ASSERT_EQ(dvz_int8cvdec(&d, &back), 0) << n;
    EXPECT_EQ(static_cast<int64_t>(value(back)), n);
  }
  const dvz_int8_t null = null_int8();
  dec_t d {};
  ASSERT_EQ(dvz_int8todec(&null, &d), 0);
  EXPECT_EQ(d.sign, -1);
}

/* ---- Remainder of typed values ---------------------------------------------------------- */

value_t int8_value(i128 n) {
  value_t v {};
  v.vtype = sql_type_int8;
  v.vint8 = make(n);
  return v;
}

value_t integer_value(int32_t n) {
  value_t v {};
  v.vtype = sql_type_integer;
  v.vint = n;
  return v;
}

value_t null_int8_value() {
  value_t v {};
  v.vtype = sql_type_int8;
  v.vind = -1;
  v.vint8 = null_int8();
  return v;
}

TEST(Int8Remainder, TakesTheDividendsSignAndRefusesZero) {
  struct Case {
    value_t a;
    value_t b;
    int status;
    i128 r;
  };
  const Case cases[] = {
      {int8_value(7), int8_value(-2), 0, 1},      {int8_value(-7), int8_value(2), 0, -1},
      {int8_value(-6), int8_value(3), 0, 0},      {int8_value(max_int8), int8_value(10), 0, 7},
      {integer_value(-17), int8_value(5), 0, -2}, {int8_value(17), integer_value(-5), 0, 2},
      {int8_value(5), int8_value(0), -647, 0},    {integer_value(5), integer_value(0), -647, 0},
  };
  for (const Case &c : cases) {
    value_t a = c.a;
    value_t b = c.b;
    value_t r = integer_value(99);
    ASSERT_EQ(exmod(&a, &b, &r), c.status);
    if (c.status != 0) {
      EXPECT_EQ(r.vtype, sql_type_integer) << "written after an error";
      continue;
    }
    EXPECT_EQ(r.vtype, sql_type_int8);
    EXPECT_EQ(r.vind, 0);
    EXPECT_EQ(static_cast<int64_t>(value(r.vint8)), static_cast<int64_t>(c.r));
    EXPECT_EQ(r.vint8.sign, c.r < 0 ? -1 : 1);
  }
}

TEST(Int8Remainder, NullOperandGivesTheNullInt8) {
  for (bool null_first : {true, false}) {
    value_t a = null_first ? null_int8_value() : int8_value(5);
    value_t b = null_first ? int8_value(0) : null_int8_value();
    value_t r = integer_value(99);
    ASSERT_EQ(exmod(&a, &b, &r), 0);
    EXPECT_EQ(r.vtype, sql_type_int8);
    EXPECT_EQ(r.vind, -1);
    EXPECT_TRUE(is_written_null(r.vint8));
  }
}

}  // namespace
