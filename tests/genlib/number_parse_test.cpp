/*
** Decimal text to 16- and 32-bit integers and to doubles, under en_us.
** rstoi and rstol are checked against strtoll on generated texts (the
** expected status is derived from what strtoll read and where it
** stopped); rstod against strtod, and rstod_pload to within 2 units in the
** last place of strtod on texts whose scale stays in the range where its
** power of ten is built from few roundings.
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "gen_dectext.h"
#include "gen_types.h"

namespace {

bool is_null_double(double d) { return std::memcmp(&d, fltnull, sizeof d) == 0; }

TEST(IntegerText, SixteenBitCases) {
  struct Case {
    const char *text;
    int status;
    int value;
  } const cases[] = {
      {"32767", 0, 32767},  {"-32767", 0, -32767},  {"+12", 0, 12},           {"32768", -1214, 0},
      {"-32768", -1214, 0}, {"99999", -1214, 0},    {"0000032767", 0, 32767}, {"12 ", 0, 12},
      {"  12\n", 0, 12},    {"12 trailing", 0, 12}, {"12a", -1213, 0},        {"a12", -1213, 0},
      {"-", -1213, 0},      {"--1", -1213, 0},      {"+-1", -1213, 0},        {"   ", 0, -32768},
      {"", 0, -32768},      {"1.5", -1213, 0},      {"\t12", -1213, 0},       {"327670", -1214, 0},
      {"0", 0, 0},
  };
  for (const Case &c : cases) {
    int value = 4321;
    EXPECT_EQ(rstoi(c.text, &value), c.status) << '"' << c.text << '"';
    EXPECT_EQ(value, c.status == 0 ? c.value : 4321) << '"' << c.text << '"';
  }
}

TEST(IntegerText, ThirtyTwoBitCases) {
  struct Case {
    const char *text;
    int status;
    int32_t value;
  } const cases[] = {
      {"2147483647", 0, INT32_MAX},
      {"-2147483647", 0, -INT32_MAX},
      {"2147483648", -1215, 0},
      {"-2147483648", -1215, 0},
      {"21474836470", -1215, 0},
      {"000000000002147483647", 0, INT32_MAX},
      {"214748364 ", 0, 214748364},
      {"32768", 0, 32768},
      {"", 0, INT32_MIN},
      {"  ", 0, INT32_MIN},
      {"7x", -1213, 0},
      {"+", -1213, 0},
  };
  for (const Case &c : cases) {
    int32_t value = 4321;
    EXPECT_EQ(rstol(c.text, &value), c.status) << '"' << c.text << '"';
    EXPECT_EQ(value, c.status == 0 ? c.value : 4321) << '"' << c.text << '"';
  }
}

/* Random integer texts: spaces, an optional sign, 1 to 18 digits (often
** led by zeros or near a limit), then the end, a space, a newline or a
** stray character. */
std::string random_integer_text(std::mt19937_64 &rng) {
  std::string text(rng() % 3, ' ');
  switch (rng() % 4) {
    case 0:
      text += '-';
      break;
    case 1:
      text += '+';
      break;
    default:
      break;
  }
  static const char *const near_limits[] = {"32767", "32768",    "2147483647", "2147483648",
                                            "3276",  "21474836", "0000"};
  if (rng() % 4 == 0) text += near_limits[rng() % std::size(near_limits)];
  int digits = 1 + static_cast<int>(rng() % 18);
  if (rng() % 2 == 0) digits = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < digits; ++i)
    text += static_cast<char>('0' + rng() % 10);
  static const char *const endings[] = {"", " ", "\n", " x", "x", ".5", "\t"};
  text += endings[rng() % std::size(endings)];
  return text;
}

/* The status and value the integer readers must give for text, from what
** strtoll read: -1213 without digits, the overflow error beyond limit,
** -1213 when the digits run into anything but the end, a space or a
** newline. */
int expected_integer(const std::string &text, long long limit, int overflow, long long *value) {
  const char *start = text.c_str();
  char *end = nullptr;
  errno = 0;
  *value = std::strtoll(start, &end, 10);
  if (end == start) return -1213;
  if (errno == ERANGE || *value > limit || *value < -limit) return overflow;
  if (*end != '\0' && *end != ' ' && *end != '\n') return -1213;
  return 0;
}

TEST(IntegerText, AgreesWithStrtollOnGeneratedTexts) {
  std::mt19937_64 rng(20261211);
  int accepted = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string text = random_integer_text(rng);
    long long want = 0;
    int want_short = expected_integer(text, 32767, -1214, &want);
    int got_short = 0;
    ASSERT_EQ(rstoi(text.c_str(), &got_short), want_short) << '"' << text << '"';
    if (want_short == 0) {
      ++accepted;
      EXPECT_EQ(got_short, want) << '"' << text << '"';
    }
    int want_long = expected_integer(text, INT32_MAX, -1215, &want);
    int32_t got_long = 0;
    ASSERT_EQ(rstol(text.c_str(), &got_long), want_long) << '"' << text << '"';
    if (want_long == 0) {
      EXPECT_EQ(got_long, want) << '"' << text << '"';
    }
  }
  EXPECT_GT(accepted, 300);
}

/* A decimal text: sign, integer digits, maybe a fraction, maybe an
** exponent within max_exponent. */
std::string random_decimal_text(std::mt19937_64 &rng, int max_digits, int max_exponent) {
  std::string text;
  if (rng() % 3 == 0) text += '-';
  int integer_digits = static_cast<int>(rng() % (max_digits + 1));
  int fraction_digits = static_cast<int>(rng() % (max_digits + 1 - integer_digits));
  if (integer_digits + fraction_digits == 0) integer_digits = 1;
  for (int i = 0; i < integer_digits; ++i)
    text += static_cast<char>('0' + rng() % 10);
  if (fraction_digits > 0 || rng() % 4 == 0) {
    text += '.';
    for (int i = 0; i < fraction_digits; ++i)
      text += static_cast<char>('0' + rng() % 10);
  }
  if (rng() % 3 != 0) {
    text += rng() % 2 == 0 ? 'e' : 'E';
    int exponent = static_cast<int>(rng() % (2 * max_exponent + 1)) - max_exponent;
    if (exponent >= 0 && rng() % 2 == 0) text += '+';
    text += std::to_string(exponent);
  }
  return text;
}

TEST(DoubleText, RstodAgreesWithStrtod) {
  std::mt19937_64 rng(77);
  for (int i = 0; i < 2000; ++i) {
    std::string text = random_decimal_text(rng, 17, 330);
    double want = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(want)) continue;
    double got = 0;
    ASSERT_EQ(rstod(text.c_str(), &got), 0) << text;
    EXPECT_EQ(got, want) << text;
  }
}

TEST(DoubleText, RstodEdgeCases) {
  struct Case {
    const char *text;
    int status;
    double value;
  } const cases[] = {{"1.5e3", 0, 1500},
                     {"1.5e", -1213, 0},
                     {"1e5e2", -1213, 0},
                     {"--1", -1213, 0},
                     {"-0.25", 0, -0.25}};
  for (const Case &c : cases) {
    double d = 0;
    EXPECT_EQ(rstod(c.text, &d), c.status) << c.text;
    if (c.status == 0) {
      EXPECT_EQ(d, c.value) << c.text;
    }
  }
  double d = 0;
  ASSERT_EQ(rstod("    ", &d), 0);
  EXPECT_TRUE(is_null_double(d));
}

/* Units in the last place between a and b (finite, same sign). */
int64_t ulps_apart(double a, double b) {
  int64_t ia = 0;
  int64_t ib = 0;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  __int128 apart = static_cast<__int128>(ia) - ib;
  if (apart < 0) apart = -apart;
  return apart > INT32_MAX ? INT32_MAX : static_cast<int64_t>(apart);
}

TEST(DoubleText, SecondReaderWithinTwoUlpOfStrtod) {
  std::mt19937_64 rng(4109);
  int compared = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string text = random_decimal_text(rng, 15, 60);
    double want = std::strtod(text.c_str(), nullptr);
    double got = 0;
    ASSERT_EQ(rstod_pload(text.c_str(), &got), 0) << text;
    if (want == 0) {
      EXPECT_EQ(got, 0) << text;
      continue;
    }
    ++compared;
    EXPECT_LE(ulps_apart(got, want), 2) << text << " read as " << got << ", strtod " << want;
  }
  EXPECT_GT(compared, 4000);
}

TEST(DoubleText, SecondReaderCases) {
  struct Case {
    const char *text;
    int status;
    double value;
  } const cases[] = {
      {"1.5e3", 0, 1500},
      {"  -2.5", 0, -2.5},
      {"+.5", 0, 0.5},
      {"5.", 0, 5},
      {"0007", 0, 7},
      {"12 trailing", 0, 12},
      {"12\n", 0, 12},
      {"1e+5", 0, 1e5},
      {"1E-2", 0, 0.01},
      {"0x1F", 0, 31},
      {"-0x10", 0, -16},
      {"0e999", 0, 0},
      {"1.5e-308", 0, 1.5e-308},
      {"0.00015e-304", 0, 1.5e-308},
      {"12x", -1213, 0},
      {"--1", -1213, 0},
      {"e5", -1213, 0},
      {"x", -1213, 0},
      {"0xZ", -1213, 0},
      {"1.5e", -1216, 0},
      {"1e  ", -1216, 0},
      {"1e5e2", -1216, 0},
      {"1e99999", -1216, 0},
      {"1ex", -1216, 0},
      {"1e309", -1223, 0},
      {"1e-309", -1223, 0},
      {"0.001e-306", -1223, 0},
      {"18e307", -1223, 0},
  };
  for (const Case &c : cases) {
    double d = -7;
    EXPECT_EQ(rstod_pload(c.text, &d), c.status) << c.text;
    if (c.status == 0) {
      EXPECT_LE(ulps_apart(d, c.value), 2) << c.text << " read as " << d;
    } else {
      EXPECT_EQ(d, -7) << c.text;
    }
  }
  /* At the top of the range the squared power of ten is a few units off. */
  double d = 0;
  ASSERT_EQ(rstod_pload("17e307", &d), 0);
  EXPECT_LE(ulps_apart(d, 1.7e308), 8) << d;
  ASSERT_EQ(rstod_pload("   ", &d), 0);
  EXPECT_TRUE(is_null_double(d));
}

}  // namespace
