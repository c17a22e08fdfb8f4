/*
** INT8 arithmetic, comparison, integer conversions, stored form and the
** SERIAL8 increment. Every operation is checked against __int128 over all
** pairs of the operand set (int8_values.h); the tables hold the documented
** examples, the NULL rules and the boundaries of each conversion.
*/
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "gen_int8.h"
#include "int8_values.h"

namespace {

using namespace int8_test;

std::string text(i128 v) {
  const bool negative = v < 0;
  unsigned __int128 m =
      negative ? static_cast<unsigned __int128>(-v) : static_cast<unsigned __int128>(v);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m != 0);
  return negative ? "-" + digits : digits;
}

/* A record no operation writes: a failed one must leave it as it is. */
dvz_int8_t untouched() {
  dvz_int8_t v;
  std::memset(&v, 0xA5, sizeof v);
  return v;
}

bool same_bytes(const dvz_int8_t &a, const dvz_int8_t &b) {
  return a.low == b.low && a.high == b.high && a.sign == b.sign;
}

/* The checked result the peer gives: the value, or -1284 from 2^63 on. */
struct Expected {
  int status;
  i128 result;
};
Expected checked(i128 r) {
  return r >= two_63 || r <= -two_63 ? Expected {overflow, 0} : Expected {0, r};
}

using checked_op = int (*)(const dvz_int8_t *, const dvz_int8_t *, dvz_int8_t *);

struct PeerOp {
  const char *name;
  checked_op ours;
  i128 (*peer)(i128, i128);
};

constexpr PeerOp peer_ops[] = {
    {"add", dvz_int8add, [](i128 a, i128 b) { return a + b; }},
    {"sub", dvz_int8sub, [](i128 a, i128 b) { return a - b; }},
    {"mul", dvz_int8mul, [](i128 a, i128 b) { return a * b; }},
};

TEST(Int8ArithmeticPeer, AddSubtractMultiplyMatchInt128OverEveryPair) {
  const auto set = operands();
  for (const PeerOp &op : peer_ops) {
    for (int64_t a : set) {
      for (int64_t b : set) {
        const dvz_int8_t x = make(a);
        const dvz_int8_t y = make(b);
        dvz_int8_t r = untouched();
        const Expected e = checked(op.peer(a, b));
        const int status = op.ours(&x, &y, &r);
        ASSERT_EQ(status, e.status) << text(a) << " " << op.name << " " << text(b);
        if (status == 0) {
          ASSERT_EQ(text(value(r)), text(e.result)) << text(a) << " " << op.name << " " << text(b);
          if (e.result == 0) {
            ASSERT_EQ(r.sign, 1) << text(a) << " " << op.name << " " << text(b);
          }
        } else {
          ASSERT_TRUE(same_bytes(r, untouched())) << text(a) << " " << op.name << " " << text(b);
        }
      }
    }
  }
}

/* Division truncates toward zero; the remainder takes the dividend's sign
** (C's and __int128's rules); a zero divisor is -1202. */
TEST(Int8ArithmeticPeer, DivideAndRemainderMatchInt128OverEveryPair) {
  const auto set = operands();
  for (int64_t a : set) {
    for (int64_t b : set) {
      const dvz_int8_t x = make(a);
      const dvz_int8_t y = make(b);
      dvz_int8_t q = untouched();
      dvz_int8_t r = untouched();
      dvz_int8_t only_q = untouched();
      if (b == 0) {
        EXPECT_EQ(gint8div(&x, &y, &q, &r), -1202) << text(a);
        EXPECT_EQ(dvz_int8div(&x, &y, &only_q), -1202) << text(a);
        EXPECT_TRUE(same_bytes(q, untouched()) && same_bytes(r, untouched())) << text(a);
        continue;
      }
      const i128 pq = i128 {a} / b;
      const i128 pr = i128 {a} % b;
      ASSERT_EQ(gint8div(&x, &y, &q, &r), 0) << text(a) << " / " << text(b);
      ASSERT_EQ(dvz_int8div(&x, &y, &only_q), 0) << text(a) << " / " << text(b);
      EXPECT_EQ(text(value(q)), text(pq)) << text(a) << " / " << text(b);
      EXPECT_EQ(text(value(r)), text(pr)) << text(a) << " % " << text(b);
      EXPECT_TRUE(same_bytes(q, only_q)) << text(a) << " / " << text(b);
      if (pq == 0) {
        EXPECT_EQ(q.sign, 1) << text(a) << " / " << text(b);
      }
      if (pr == 0) {
        EXPECT_EQ(r.sign, 1) << text(a) << " % " << text(b);
      }
    }
  }
}

TEST(Int8ArithmeticPeer, CompareMatchesInt128OverEveryPair) {
  const auto set = operands();
  for (int64_t a : set) {
    for (int64_t b : set) {
      const dvz_int8_t x = make(a);
      const dvz_int8_t y = make(b);
      const int expected = (a > b) - (a < b);
      EXPECT_EQ(dvz_int8cmp(&x, &y), expected) << text(a) << " <> " << text(b);
      EXPECT_EQ(dvz_int8cmp_det(&x, &y), expected) << text(a) << " <> " << text(b);
    }
  }
}

/* The unchecked forms allow every 64-bit magnitude; a sum beyond 64 bits
** is -1284 with its low 64 bits written, a product beyond 64 bits -1284
** with nothing written. */
TEST(Int8Unchecked, SixtyFourBitMagnitudesPassAndWiderOnesOverflow) {
  const i128 two_64 = i128 {1} << 64;
  struct Case {
    i128 a;
    i128 b;
  };
  const Case cases[] = {
      {max_int8, 1},
      {two_63, two_63 - 1},
      {two_63, two_63},
      {two_64 - 1, 1},
      {-(two_64 - 1), -1},
      {two_64 - 1, -(two_64 - 1)},
      {-two_63, -two_63},
      {i128 {1} << 32, i128 {1} << 32},
      {(i128 {1} << 32) + 1, (i128 {1} << 32) - 1},
      {i128 {3}, (two_64 - 1) / 3},
      {i128 {-2}, two_63},
  };
  for (const Case &c : cases) {
    const dvz_int8_t x = make(c.a);
    const dvz_int8_t y = make(c.b);
    const i128 sum = c.a + c.b;
    dvz_int8_t r = untouched();
    const int sum_status = gint8add(&x, &y, &r, 0);
    const bool sum_fits = sum < two_64 && sum > -two_64;
    EXPECT_EQ(sum_status, sum_fits ? 0 : overflow) << text(c.a) << " + " << text(c.b);
    const i128 sum_magnitude = sum < 0 ? -sum : sum;
    EXPECT_EQ(text((i128 {r.high} << 32) | r.low), text(sum_magnitude % two_64))
        << text(c.a) << " + " << text(c.b);
    if (sum_magnitude % two_64 != 0) {
      EXPECT_EQ(r.sign, sum < 0 ? -1 : 1) << text(c.a) << " + " << text(c.b);
    }

    const i128 difference = c.a - c.b;
    r = untouched();
    if (difference < two_64 && difference > -two_64) {
      EXPECT_EQ(gint8sub(&x, &y, &r, 0), 0) << text(c.a) << " - " << text(c.b);
      EXPECT_EQ(text(value(r)), text(difference)) << text(c.a) << " - " << text(c.b);
    }

    const unsigned __int128 product = static_cast<unsigned __int128>(c.a < 0 ? -c.a : c.a) *
                                      static_cast<unsigned __int128>(c.b < 0 ? -c.b : c.b);
    r = untouched();
    const int product_status = gint8mul(&x, &y, &r, 0);
    if (product < static_cast<unsigned __int128>(two_64)) {
      EXPECT_EQ(product_status, 0) << text(c.a) << " * " << text(c.b);
      EXPECT_EQ(text(value(r)), text(c.a * c.b)) << text(c.a) << " * " << text(c.b);
    } else {
      EXPECT_EQ(product_status, overflow) << text(c.a) << " * " << text(c.b);
      EXPECT_TRUE(same_bytes(r, untouched())) << text(c.a) << " * " << text(c.b);
    }
    /* With the check on, the same operands give -1284 from 2^63 on. */
    r = untouched();
    EXPECT_EQ(gint8add(&x, &y, &r, 1), sum_magnitude >= two_63 ? overflow : 0);
  }
}

/* The documented examples, each with the result's sign. */
TEST(Int8Arithmetic, DocumentedExamples) {
  struct Case {
    char op;
    i128 a;
    i128 b;
    int status;
    i128 result;
    i128 remainder;
  };
  const Case cases[] = {
      {'/', -6, -3, 0, 2, 0},
      {'/', -7, 2, 0, -3, -1},
      {'/', 7, -2, 0, -3, 1},
      {'/', 0, 5, 0, 0, 0},
      {'/', 5, 0, -1202, 0, 0},
      {'/', 3, 7, 0, 0, 3},
      {'/', -3, 7, 0, 0, -3},
      {'*', -2, -3, 0, 6, 0},
      {'*', i128 {1} << 62, 2, overflow, 0, 0},
      {'*', -5, 0, 0, 0, 0},
      {'+', max_int8, 1, overflow, 0, 0},
      {'-', -max_int8, 1, overflow, 0, 0},
      {'-', 5, 5, 0, 0, 0},
      {'+', -5, 5, 0, 0, 0},
      {'-', -5, -5, 0, 0, 0},
      {'+', -5, -5, 0, -10, 0},
      {'-', 3, 5, 0, -2, 0},
      {'-', -3, -5, 0, 2, 0},
      {'+', max_int8, -max_int8, 0, 0, 0},
  };
  for (const Case &c : cases) {
    const dvz_int8_t a = make(c.a);
    const dvz_int8_t b = make(c.b);
    dvz_int8_t r = untouched();
    dvz_int8_t rem = untouched();
    int status = 0;
    switch (c.op) {
      case '+':
        status = dvz_int8add(&a, &b, &r);
        break;
      case '-':
        status = dvz_int8sub(&a, &b, &r);
        break;
      case '*':
        status = dvz_int8mul(&a, &b, &r);
        break;
      default:
        status = gint8div(&a, &b, &r, &rem);
        break;
    }
    const std::string what = text(c.a) + " " + c.op + " " + text(c.b);
    ASSERT_EQ(status, c.status) << what;
    if (status != 0) continue;
    EXPECT_EQ(text(value(r)), text(c.result)) << what;
    EXPECT_EQ(r.sign, c.result < 0 ? -1 : 1) << what;
    if (c.op == '/') {
      EXPECT_EQ(text(value(rem)), text(c.remainder)) << what;
      EXPECT_EQ(rem.sign, c.remainder < 0 ? -1 : 1) << what;
    }
  }
}

TEST(Int8Arithmetic, NullOperandGivesTenZeroBytesAndNoError) {
  const dvz_int8_t five = make(5);
  const dvz_int8_t null = null_int8();
  const dvz_int8_t zero = make(0);
  const checked_op ops[] = {dvz_int8add, dvz_int8sub, dvz_int8mul, dvz_int8div};
  for (checked_op op : ops) {
    for (const auto &[a, b] : {std::pair {&null, &five}, std::pair {&five, &null},
                               std::pair {&null, &null}, std::pair {&null, &zero}}) {
      dvz_int8_t r = untouched();
      EXPECT_EQ(op(a, b, &r), 0);
      unsigned char stored[INT8_STORED_SIZE];
      stint8(&r, stored);
      EXPECT_TRUE(is_written_null(r));
      EXPECT_EQ(std::string(reinterpret_cast<char *>(stored), sizeof stored),
                std::string(INT8_STORED_SIZE, '\0'));
    }
  }
  dvz_int8_t q = untouched();
  dvz_int8_t r = untouched();
  EXPECT_EQ(gint8div(&null, &zero, &q, &r), 0);
  EXPECT_TRUE(is_written_null(q) && is_written_null(r));
}

/* A result may be one of its operands. */
TEST(Int8Arithmetic, ResultMayAliasAnOperand) {
  dvz_int8_t a = make(-7);
  const dvz_int8_t b = make(2);
  ASSERT_EQ(dvz_int8add(&a, &b, &a), 0);
  EXPECT_EQ(text(value(a)), "-5");
  ASSERT_EQ(dvz_int8mul(&a, &a, &a), 0);
  EXPECT_EQ(text(value(a)), "25");
  dvz_int8_t d = make(2);
  ASSERT_EQ(gint8div(&a, &d, &a, &d), 0);
  EXPECT_EQ(text(value(a)), "12");
  EXPECT_EQ(text(value(d)), "1");
}

TEST(Int8Compare, NullRulesAndZeroOfEitherSign) {
  const dvz_int8_t null = null_int8();
  const dvz_int8_t zero = make(0);
  const dvz_int8_t minus_one = make(-1);
  dvz_int8_t negative_zero = zero;
  negative_zero.sign = -1;
  struct Case {
    const dvz_int8_t *a;
    const dvz_int8_t *b;
    int cmp;
    int det;
  };
  const Case cases[] = {
      {&null, &zero, -2, -1},        {&zero, &null, -2, 1},
      {&null, &null, -2, 0},         {&null, &minus_one, -2, -1},
      {&negative_zero, &zero, 0, 0}, {&minus_one, &negative_zero, -1, -1},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(dvz_int8cmp(c.a, c.b), c.cmp);
    EXPECT_EQ(dvz_int8cmp_det(c.a, c.b), c.det);
  }
}

TEST(Int8Values, ConstantsZeroTestAndCopy) {
  EXPECT_EQ(text(value(const_int8zero)), "0");
  EXPECT_EQ(const_int8zero.sign, 1);
  EXPECT_EQ(text(value(const_int8one)), "1");
  EXPECT_EQ(dvz_int8iszero(&const_int8zero), 1);
  const dvz_int8_t null = null_int8();
  EXPECT_EQ(dvz_int8iszero(&null), 0);
  const dvz_int8_t low_only = make(1);
  const dvz_int8_t high_only = make(i128 {1} << 32);
  EXPECT_EQ(dvz_int8iszero(&low_only), 0);
  EXPECT_EQ(dvz_int8iszero(&high_only), 0);
  const dvz_int8_t from = make(-max_int8);
  dvz_int8_t to = untouched();
  dvz_int8copy(&from, &to);
  EXPECT_TRUE(same_bytes(from, to));
}

/* ---- Integers ------------------------------------------------------------------ */

TEST(Int8Integers, FromThirtyTwoAndSixteenBits) {
  const int32_t longs[] = {0, 1, -1, INT32_MAX, -INT32_MAX, 65536, -65536};
  for (int32_t n : longs) {
    dvz_int8_t v = untouched();
    ASSERT_EQ(dvz_int8cvlong(n, &v), 0);
    EXPECT_EQ(text(value(v)), text(n));
    EXPECT_EQ(v.sign, n < 0 ? -1 : 1);
    dvz_int8_t w = untouched();
    ASSERT_EQ(int8cvdvz_off_t(n, &w), 0);
    EXPECT_TRUE(same_bytes(v, w));
  }
  dvz_int8_t v = untouched();
  ASSERT_EQ(dvz_int8cvlong(INT32_MIN, &v), 0);
  EXPECT_TRUE(is_written_null(v));
  v = untouched();
  ASSERT_EQ(int8cvdvz_off_t(INT32_MIN, &v), 0);
  EXPECT_TRUE(is_written_null(v));

  const int shorts[] = {0, 32767, -32767, 12, -12};
  for (int n : shorts) {
    v = untouched();
    ASSERT_EQ(dvz_int8cvint(n, &v), 0);
    EXPECT_EQ(text(value(v)), text(n));
  }
  v = untouched();
  ASSERT_EQ(dvz_int8cvint(-32768, &v), 0);
  EXPECT_TRUE(is_written_null(v));
}

TEST(Int8Integers, ToThirtyTwoAndSixteenBits) {
  struct Case {
    i128 v;
    int long_status;
    int short_status;
  };
  const Case cases[] = {
      {0, 0, 0},
      {32767, 0, 0},
      {-32767, 0, 0},
      {32768, 0, -1214},
      {-32768, 0, -1214},
      {INT32_MAX, 0, -1214},
      {-INT32_MAX, 0, -1214},
      {i128 {1} << 31, overflow, -1214},
      {-(i128 {1} << 31), overflow, -1214},
      {i128 {1} << 32, overflow, -1214},
      {max_int8, overflow, -1214},
      {-max_int8, overflow, -1214},
  };
  for (const Case &c : cases) {
    const dvz_int8_t v = make(c.v);
    int32_t as_long = 77;
    int32_t as_offset = 77;
    int32_t as_int4 = 77;
    ASSERT_EQ(dvz_int8tolong(&v, &as_long), c.long_status) << text(c.v);
    ASSERT_EQ(int8todvz_off_t(&v, &as_offset), c.long_status) << text(c.v);
    ASSERT_EQ(dvz_int8toint4(&v, &as_int4), c.long_status) << text(c.v);
    if (c.long_status == 0) {
      EXPECT_EQ(as_long, static_cast<int32_t>(c.v));
      EXPECT_EQ(as_offset, as_long);
      EXPECT_EQ(as_int4, as_long);
    } else {
      EXPECT_EQ(as_long, 77);
    }
    int as_int = 77;
    int16_t as_short = 77;
    ASSERT_EQ(dvz_int8toint(&v, &as_int), c.short_status) << text(c.v);
    ASSERT_EQ(dvz_int8toint2(&v, &as_short), c.short_status) << text(c.v);
    if (c.short_status == 0) {
      EXPECT_EQ(as_int, static_cast<int>(c.v));
      EXPECT_EQ(as_short, static_cast<int16_t>(c.v));
    } else {
      EXPECT_EQ(as_int, 77);
      EXPECT_EQ(as_short, 77);
    }
  }
  const dvz_int8_t null = null_int8();
  int32_t as_long = 0;
  int as_int = 0;
  int16_t as_short = 0;
  EXPECT_EQ(dvz_int8tolong(&null, &as_long), 0);
  EXPECT_EQ(as_long, INT32_MIN);
  EXPECT_EQ(dvz_int8toint(&null, &as_int), 0);
  EXPECT_EQ(as_int, -32768);
  EXPECT_EQ(dvz_int8toint2(&null, &as_short), 0);
  EXPECT_EQ(as_short, -32768);
}

TEST(Int8Integers, MagnitudeWords) {
  const dvz_int8_t v = make(-((i128 {0x12345678} << 32) | 0x9ABCDEF0));
  int32_t high = 0;
  int32_t low = 0;
  EXPECT_EQ(dvz_int8high(&v, &high), 0);
  EXPECT_EQ(dvz_int8low(&v, &low), 0);
  EXPECT_EQ(static_cast<uint32_t>(high), 0x12345678u);
  EXPECT_EQ(static_cast<uint32_t>(low), 0x9ABCDEF0u);
  const dvz_int8_t null = null_int8();
  EXPECT_EQ(dvz_int8high(&null, &high), 0);
  EXPECT_EQ(dvz_int8low(&null, &low), 0);
  EXPECT_EQ(high, INT32_MIN);
  EXPECT_EQ(low, INT32_MIN);
}

/* ---- Stored form and increment --------------------------------------------------- */

std::string stored_hex(const dvz_int8_t &v) {
  unsigned char bytes[INT8_STORED_SIZE + 2];
  std::memset(bytes, 0xEE, sizeof bytes);
  stint8(&v, bytes);
  EXPECT_EQ(bytes[INT8_STORED_SIZE], 0xEE) << "written past the stored form";
  std::string out;
  for (int i = 0; i < INT8_STORED_SIZE; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += b;
  }
  return out;
}

TEST(Int8StoredForm, BigEndianSignLowWordHighWord) {
  struct Case {
    i128 v;
    const char *bytes;
  };
  const Case cases[] = {
      {-5, "FF FF 00 00 00 05 00 00 00 00"},
      {0, "00 01 00 00 00 00 00 00 00 00"},
      {max_int8, "00 01 FF FF FF FF 7F FF FF FF"},
      {-((i128 {0x01020304} << 32) | 0x05060708), "FF FF 05 06 07 08 01 02 03 04"},
  };
  for (const Case &c : cases) {
    const dvz_int8_t v = make(c.v);
    EXPECT_EQ(stored_hex(v), c.bytes) << text(c.v);
  }
  EXPECT_EQ(stored_hex(null_int8()), "00 00 00 00 00 00 00 00 00 00");
}

TEST(Int8StoredForm, LoadsBackWhatWasStored) {
  for (int64_t n : operands()) {
    const dvz_int8_t v = make(n);
    unsigned char bytes[INT8_STORED_SIZE];
    stint8(&v, bytes);
    dvz_int8_t back = untouched();
    ldint8(bytes, &back);
    EXPECT_TRUE(same_bytes(v, back)) << text(n);
  }
  /* A stored sign 0 is NULL whatever the words hold. */
  const unsigned char null_with_words[INT8_STORED_SIZE] = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  dvz_int8_t back = untouched();
  ldint8(null_with_words, &back);
  EXPECT_TRUE(is_written_null(back));
}

TEST(Int8Serial, IncrementWrapsToOneAtTheTop) {
  struct Case {
    i128 v;
    i128 next;
  };
  const Case cases[] = {{0, 1},       {41, 42}, {-1, 0}, {-5, -4}, {max_int8 - 1, max_int8},
                        {max_int8, 1}};
  for (const Case &c : cases) {
    const dvz_int8_t v = make(c.v);
    dvz_int8_t r = untouched();
    ASSERT_EQ(serial8inc(&v, &r), 0) << text(c.v);
    EXPECT_EQ(text(value(r)), text(c.next)) << text(c.v);
    EXPECT_EQ(r.sign, c.next < 0 ? -1 : 1) << text(c.v);
  }
  const dvz_int8_t null = null_int8();
  dvz_int8_t r = untouched();
  EXPECT_EQ(serial8inc(&null, &r), -2);
  EXPECT_TRUE(is_written_null(r));
}

}  // namespace
