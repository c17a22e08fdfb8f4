/*
** DECIMAL arithmetic, packed form, comparison, rounding and the integer
** conversions. The arithmetic, rounding and packed-form tables come from
** oracle/decimal_oracle.py (exact decimal arithmetic, fixed seeds); the
** hand-written tables hold the documented examples and boundaries.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dec_repr.h"
#include "gen_decimal.h"

namespace {

using dec_test::repr;

/* Parses the form repr() writes: "null", or sign, digit pairs, "@", exponent. */
dec_t dec_from(const std::string &text) {
  dec_t v;
  std::memset(&v, 0xEE, sizeof v);
  if (text == "null") {
    v.sign = -1;
    v.exponent = 0;
    v.npairs = 0;
    return v;
  }
  size_t at = text.find('@');
  std::string digits = text.substr(1, at - 1);
  EXPECT_LE(digits.size(), 2u * DECSIZE) << text;
  digits.resize(std::min<size_t>(digits.size(), 2 * DECSIZE));
  v.sign = text[0] == '-' ? 0 : 1;
  v.exponent = static_cast<int16_t>(std::stoi(text.substr(at + 1)));
  v.npairs = static_cast<int16_t>(digits.size() / 2);
  for (size_t i = 0; i < digits.size() / 2; ++i) {
    v.pairs[i] = static_cast<uint8_t>(std::stoi(digits.substr(2 * i, 2)));
  }
  return v;
}

std::string hex(const unsigned char *bytes, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", bytes[i]);
    out += b;
  }
  return out;
}

struct oracle_line {
  int number;
  std::vector<std::string> fields;
};

/* The oracle's lines whose first field is one of `ops`. */
std::vector<oracle_line> oracle_lines(std::initializer_list<std::string> ops) {
  std::ifstream in(DVZ_DECIMAL_CASES);
  EXPECT_TRUE(in.good()) << DVZ_DECIMAL_CASES;
  std::vector<oracle_line> lines;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    oracle_line entry {number, {}};
    for (std::string w; words >> w;)
      entry.fields.push_back(w);
    for (const auto &op : ops) {
      if (entry.fields[0] == op) lines.push_back(entry);
    }
  }
  return lines;
}

using binary_op = int (*)(const dec_t *, const dec_t *, dec_t *);

binary_op op_named(const std::string &name) {
  if (name == "add") return decadd;
  if (name == "sub") return decsub;
  if (name == "mul") return decmul;
  return decdiv;
}

/* Sign, exponent, digits and status equal the oracle's, also when the
** result record is the first or the second operand. */
TEST(DecimalArithmetic, MatchesOracleTables) {
  auto lines = oracle_lines({"add", "sub", "mul", "div"});
  ASSERT_GT(lines.size(), 1000u);
  int failures = 0;
  for (const auto &l : lines) {
    const auto &f = l.fields;
    binary_op op = op_named(f[0]);
    dec_t a = dec_from(f[1]);
    dec_t b = dec_from(f[2]);
    int want_status = std::stoi(f[4]);
    dec_t r;
    int status = op(&a, &b, &r);
    dec_t ra = a;
    int status_a = op(&ra, &b, &ra);
    dec_t rb = b;
    int status_b = op(&a, &rb, &rb);
    bool ok = repr(r) == f[3] && status == want_status && repr(ra) == f[3] &&
              status_a == want_status && repr(rb) == f[3] && status_b == want_status;
    EXPECT_TRUE(ok) << "line " << l.number << ": " << f[0] << " " << f[1] << " " << f[2] << " gave "
                    << repr(r) << " " << status << " (aliased " << repr(ra) << ", " << repr(rb)
                    << "), want " << f[3] << " " << want_status;
    if (!ok && ++failures > 20) FAIL() << "too many failures";
  }
}

TEST(DecimalRounding, MatchesOracleTables) {
  auto lines = oracle_lines({"round", "trunc"});
  ASSERT_FALSE(lines.empty());
  for (const auto &l : lines) {
    const auto &f = l.fields;
    dec_t v = dec_from(f[1]);
    int places = std::stoi(f[2]);
    if (f[0] == "round") {
      decround(&v, places);
    } else {
      dectrunc(&v, places);
    }
    ASSERT_EQ(repr(v), f[3]) << "line " << l.number << ": " << f[0] << " " << f[1] << " " << places;
  }
}

/* stdecimal writes the oracle's bytes; lddecimal reads back the value
** rounded to the field, and storing what was read gives the same bytes. */
TEST(DecimalPacked, StoreAndLoadMatchOracleForEveryLength) {
  auto lines = oracle_lines({"pack"});
  ASSERT_FALSE(lines.empty());
  for (const auto &l : lines) {
    const auto &f = l.fields;
    dec_t v = dec_from(f[1]);
    int length = std::stoi(f[2]);
    unsigned char bytes[18];
    std::memset(bytes, 0xAA, sizeof bytes);
    stdecimal(&v, bytes, length);
    ASSERT_EQ(hex(bytes, length), f[3]) << "line " << l.number;
    dec_t loaded;
    int status = lddecimal(bytes, length, &loaded);
    ASSERT_EQ(repr(loaded), f[4]) << "line " << l.number;
    ASSERT_EQ(status, std::stoi(f[5])) << "line " << l.number;
    unsigned char again[18];
    stdecimal(&loaded, again, length);
    ASSERT_EQ(hex(again, length), f[3]) << "line " << l.number;
  }
}

TEST(DecimalPacked, WritesAndReadsTheDocumentedBytes) {
  struct row {
    const char *value;
    int length;
    const char *bytes;
    const char *loaded;
  };
  const row rows[] = {
      {"+01@1", 3, "C10100", "+01@1"},
      {"-01@1", 3, "3E6300", "-01@1"},
      {"+50@0", 3, "C03200", "+50@0"},
      {"-01@0", 3, "3F6300", "-01@0"},
      {"null", 3, "000000", "null"},
      {"+@-64", 3, "800000", "+@-64"},
      {"-@-64", 3, "800000", "+@-64"}, /* negative zero is written as zero */
      {"+0250@1", 2, "C103", "+03@1"},
      {"+9950@1", 2, "C201", "+01@2"},
      /* A carry at the largest exponent saturates instead of wrapping. */
      {"+999999@63", 3, "FF6363", "+9999@63"},
      /* Negative: complemented as usual, which reads back as NULL. */
      {"-999999@63", 3, "000001", "null"},
      {"+9950@62", 2, "FF01", "+01@63"},
  };
  for (const auto &r : rows) {
    dec_t v = dec_from(r.value);
    unsigned char bytes[18];
    stdecimal(&v, bytes, r.length);
    EXPECT_EQ(hex(bytes, r.length), r.bytes) << r.value;
    dec_t loaded;
    lddecimal(bytes, r.length, &loaded);
    EXPECT_EQ(repr(loaded), r.loaded) << r.value;
  }
}

TEST(DecimalPacked, ReadsFirstTwoZeroBytesAsNullAndUsesAtMostEighteen) {
  const unsigned char null_with_tail[] = {0x00, 0x00, 0x05};
  dec_t v = dec_from("+01@1");
  EXPECT_EQ(lddecimal(null_with_tail, 3, &v), 0);
  EXPECT_EQ(repr(v), "null");

  /* 20 bytes: digits 1..17 are used, the 17th (50) rounds the 16th up,
  ** bytes 18 and 19 are ignored. */
  unsigned char wide[20] = {0xC1};
  for (int i = 1; i <= 16; ++i)
    wide[i] = 11;
  wide[17] = 50;
  wide[18] = 99;
  wide[19] = 99;
  EXPECT_EQ(lddecimal(wide, 20, &v), 0);
  EXPECT_EQ(repr(v), "+11111111111111111111111111111112@1");
}

TEST(DecimalLoad, NormalisesDigitsAndClampsTheExponent) {
  struct row {
    int sign;
    int exponent;
    std::vector<unsigned char> digits;
    const char *want;
    int status;
  };
  const std::vector<unsigned char> seventeen = {99, 99, 99, 99, 99, 99, 99, 99, 99,
                                                99, 99, 99, 99, 99, 99, 99, 50};
  const row rows[] = {
      {1, 3, {0, 12, 30, 0}, "+1230@2", 0}, {-1, 3, {0, 12, 30, 0}, "null", 0},
      {1, 3, seventeen, "+01@4", 0},        {0, 0, {0, 0, 0}, "+@-64", 0},
      {1, 63, {5}, "+05@63", -1200},        {1, 62, {0, 5}, "+05@61", 0},
      {1, 62, seventeen, "+01@63", -1200},  {0, -65, {7}, "-07@-64", -1201},
      {1, -63, {0, 7}, "+07@-64", 0},
  };
  for (const auto &r : rows) {
    dec_t v;
    int status =
        decload(&v, r.sign, r.exponent, r.digits.data(), static_cast<int>(r.digits.size()));
    EXPECT_EQ(repr(v), r.want) << r.want;
    EXPECT_EQ(status, r.status) << r.want;
  }
}

TEST(DecimalArithmetic, NullOperandsDivisionByZeroAndCancellation) {
  const dec_t null_value = dec_from("null");
  const dec_t one = dec_from("+01@1");
  const dec_t minus_one = dec_from("-01@1");
  const dec_t zero = dec_from("+@-64");
  for (binary_op op : {decadd, decsub, decmul, decdiv}) {
    dec_t r = one;
    EXPECT_EQ(op(&null_value, &one, &r), 0);
    EXPECT_EQ(repr(r), "null");
    r = one;
    EXPECT_EQ(op(&one, &null_value, &r), 0);
    EXPECT_EQ(repr(r), "null");
  }
  dec_t r;
  EXPECT_EQ(decdiv(&one, &zero, &r), -1202);
  EXPECT_EQ(repr(r), "+@-64");
  EXPECT_EQ(decadd(&one, &minus_one, &r), 0);
  EXPECT_EQ(repr(r), "+@-64");
  const dec_t x = dec_from("-12345678901234567890123456789012@3");
  EXPECT_EQ(decsub(&x, &x, &r), 0);
  EXPECT_EQ(repr(r), "+@-64");
  const dec_t three = dec_from("+03@1");
  EXPECT_EQ(decdiv(&one, &three, &r), 0);
  EXPECT_EQ(repr(r), "+33333333333333333333333333333333@0");
  /* The smaller operand's digits beyond the 17-pair window are dropped. */
  const dec_t tiny = dec_from("+99999999999999999999999999999999@-1");
  EXPECT_EQ(decsub(&one, &tiny, &r), 0);
  EXPECT_EQ(repr(r), "+99000000000000000000000000000001@0");
}

TEST(DecimalCompare, OrdersSignsZeroAndDigits) {
  struct row {
    const char *a;
    const char *b;
    int want;
  };
  const row rows[] = {
      {"-02@1", "-03@1", 1}, {"+@-64", "-50@0", 1},   {"null", "+@-64", -2},
      {"+@-64", "null", -2}, {"+@-64", "+@-64", 0},   {"+@-64", "+01@-64", -1},
      {"+01@2", "+99@1", 1}, {"+1201@1", "+12@1", 1}, {"-1201@1", "-12@1", -1},
      {"+12@1", "+12@1", 0}, {"+80@1", "+0799@1", 1}, {"-50@0", "+01@-64", -1},
  };
  for (const auto &r : rows) {
    dec_t a = dec_from(r.a);
    dec_t b = dec_from(r.b);
    EXPECT_EQ(deccmp(&a, &b), r.want) << r.a << " vs " << r.b;
  }
}

TEST(DecimalRounding, DocumentedCasesAndNull) {
  struct row {
    const char *value;
    bool round;
    int places;
    const char *want;
  };
  const row rows[] = {
      {"+023450@1", true, 2, "+0235@1"},
      {"-023450@1", true, 2, "-0235@1"},
      {"+023450@1", true, 3, "+023450@1"},
      {"+023490@1", false, 2, "+0234@1"},
      {"+40@-1", false, 2, "+@-64"},
      {"+1250@2", true, -2, "+13@2"},
      {"+1250@2", false, -2, "+12@2"},
      {"+1255@2", true, -1, "+1260@2"},
      {"+9999@1", true, 1, "+01@2"},
      {"+1250@2", true, INT32_MIN, "+@-64"},
      {"+1250@2", false, INT32_MIN, "+@-64"},
      {"+1250@2", true, INT32_MAX, "+1250@2"},
      {"null", true, 2, "null"},
      {"null", false, -8, "null"},
  };
  for (const auto &r : rows) {
    dec_t v = dec_from(r.value);
    if (r.round) {
      decround(&v, r.places);
    } else {
      dectrunc(&v, r.places);
    }
    EXPECT_EQ(repr(v), r.want) << r.value << (r.round ? " round " : " trunc ") << r.places;
  }
}

TEST(DecimalPrecision, PrecisionWords) {
  struct row {
    const char *value;
    int dec2prec;
    int decprec;
  };
  const row rows[] = {
      {"+10@-1", 0x0103, 0x0303},
      {"+012345@2", 0x0502, 0x0502},
      {"+12@2", 0x0400, 0x0400},
      {"null", 0, 0},
      {"+@-64", 0, 0},
      {"-05@1", 0x0100, 0x0100},
  };
  for (const auto &r : rows) {
    dec_t v = dec_from(r.value);
    EXPECT_EQ(dec2prec(&v), r.dec2prec) << r.value;
    EXPECT_EQ(decprec(&v), r.decprec) << r.value;
  }
}

TEST(DecimalIntegers, ConvertsToDecimalWithNullForms) {
  struct row {
    int32_t value;
    const char *want;
  };
  const row long_rows[] = {
      {0, "+@-64"},
      {123, "+0123@2"},
      {-1230, "-1230@2"},
      {INT32_MAX, "+2147483647@5"},
      {-INT32_MAX, "-2147483647@5"},
      {INT32_MIN, "null"},
  };
  for (const auto &r : long_rows) {
    dec_t v;
    EXPECT_EQ(deccvlong(r.value, &v), 0);
    EXPECT_EQ(repr(v), r.want) << r.value;
  }
  dec_t v;
  EXPECT_EQ(deccvint(-32768, &v), 0);
  EXPECT_EQ(repr(v), "null");
  EXPECT_EQ(deccvint(-32767, &v), 0);
  EXPECT_EQ(repr(v), "-032767@3");
}

TEST(DecimalIntegers, ConvertsFromDecimalTruncatingAndCheckingRange) {
  struct row {
    const char *value;
    int long_status;
    int32_t long_value;
    int int_status;
    int int_value;
  };
  const int32_t untouched = 4242;
  const row rows[] = {
      {"+1299@1", 0, 12, 0, 12},
      {"-1299@1", 0, -12, 0, -12},
      {"-2147483647@5", 0, -INT32_MAX, -1200, untouched},
      {"+2147483647@5", 0, INT32_MAX, -1200, untouched},
      {"-2147483648@5", -1200, untouched, -1200, untouched},
      {"+214748364750@5", -1200, untouched, -1200, untouched},
      {"+01@6", -1200, untouched, -1200, untouched},
      {"-032768@3", 0, -32768, -1200, untouched},
      {"+032767@3", 0, 32767, 0, 32767},
      {"+99@0", 0, 0, 0, 0},
      {"+@-64", 0, 0, 0, 0},
      {"+01@4", 0, 1000000, -1200, untouched},
      {"null", 0, INT32_MIN, 0, -32768},
  };
  for (const auto &r : rows) {
    dec_t v = dec_from(r.value);
    int32_t l = untouched;
    EXPECT_EQ(dectolong(&v, &l), r.long_status) << r.value;
    EXPECT_EQ(l, r.long_value) << r.value;
    int i = untouched;
    EXPECT_EQ(dectoint(&v, &i), r.int_status) << r.value;
    EXPECT_EQ(i, r.int_value) << r.value;
  }
}

TEST(DecimalComplement, ComplementsFromTheLastNonZeroDigit) {
  unsigned char digits[] = {0, 12, 1, 0, 0};
  deccomplement(digits, 5);
  EXPECT_EQ(hex(digits, 5), "6357630000"); /* 99 87 99 00 00 */
  unsigned char zeros[] = {0, 0};
  deccomplement(zeros, 2);
  EXPECT_EQ(hex(zeros, 2), "0000");
}

}  // namespace
