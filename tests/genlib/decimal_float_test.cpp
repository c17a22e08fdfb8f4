/*
** DECIMAL to and from floating point, text to double, and the locale
** number formats, under en_us. Digits of doubles and floats are checked
** against the C library's "%.*e" on random values; the round trip
** through DECIMAL must give back the same bits.
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "dec_repr.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gl_locale.h"
#include "gl_numbers.h"
#include "os_glsenv.h"

namespace {

using dec_test::repr;

const unsigned char all_ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

/* The significant digits of "%.*e" of x with digits digits. */
std::string libc_digits(double x, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, std::fabs(x));
  std::string out;
  for (const char *p = text; *p != 'e'; ++p)
    if (*p != '.') out += *p;
  return out;
}

/* The significant digits of value (as dececvt writes them). */
std::string dec_digits(const dec_t &value, int digits) {
  int point = 0;
  int negative = 0;
  return dececvt(&value, digits, &point, &negative);
}

TEST(DoubleToDecimal, KnownValues) {
  struct Case {
    double x;
    const char *value;
  } const cases[] = {
      {0.1, "+100000000000000010@0"},
      {-1.5, "-0150@1"},
      {1234567890123456.25, "+123456789012345620@8"},
      {1e-100, "+01@-49"},
      {0.0, "+@-64"},
      {-0.0, "+@-64"},
  };
  for (const Case &c : cases) {
    dec_t value {};
    ASSERT_EQ(deccvdbl(c.x, &value), 0) << c.x;
    EXPECT_EQ(repr(value), c.value) << c.x;
  }
  dec_t value {};
  ASSERT_EQ(deccvflt(static_cast<double>(0.1f), &value), 0);
  EXPECT_EQ(repr(value), "+1000000010@0");
  EXPECT_EQ(get_useprec16(), 0);
}

TEST(FormatsInForce, SwitchesOffAndTheDateFormatOfEnUs) {
  EXPECT_EQ(get_usedtenv(), 0);
  ASSERT_EQ(chkglsinit(), 0);
  /* The DATETIME width is the widest text of en_us's own format. */
  gl_locale *loc = CheckGlsEnv()->locale;
  const char *datetime_format = gl_nl_langinfo(loc, GL_D_T_FMT);
  ASSERT_NE(datetime_format, nullptr);
  EXPECT_EQ(_dtimedigits(),
            gl_mbsfmtexpand(loc, 1, reinterpret_cast<const unsigned char *>(datetime_format)));
  char *format = nullptr;
  int32_t order[3] = {0, 0, 0};
  int32_t era = -1;
  ASSERT_EQ(gls_fmtstr(&format, order, &era), 0);
  EXPECT_STREQ(format, "%m/%d/%iY");
  EXPECT_EQ(order[0], 2);
  EXPECT_EQ(order[1], 1);
  EXPECT_EQ(order[2], 3);
  EXPECT_EQ(era, 0);
}

TEST(DoubleToDecimal, NullNanAndInfinity) {
  double null_double = 0;
  std::memcpy(&null_double, all_ones, sizeof null_double);
  dec_t value {};
  ASSERT_EQ(deccvdbl(null_double, &value), 0);
  EXPECT_EQ(value.sign, -1);
  EXPECT_EQ(deccvdbl(std::numeric_limits<double>::infinity(), &value), -1223);
  EXPECT_EQ(deccvdbl(-std::numeric_limits<double>::infinity(), &value), -1223);
  EXPECT_EQ(deccvdbl(std::numeric_limits<double>::quiet_NaN(), &value), -1223);
  EXPECT_EQ(deccvflt(std::numeric_limits<double>::quiet_NaN(), &value), -1223);
}

TEST(DecimalToDouble, NullAndTextPath) {
  dec_t value {};
  value.sign = -1;
  double d = 0;
  ASSERT_EQ(dectodbl(&value, &d), 0);
  EXPECT_EQ(std::memcmp(&d, all_ones, 8), 0);
  float f = 0;
  ASSERT_EQ(dectoflt(&value, &f), 0);
  EXPECT_EQ(std::memcmp(&f, all_ones, 4), 0);
  struct Case {
    const char *text;
    double expected;
  } const cases[] = {{"1e-100", 1e-100},       {"-12.5", -12.5}, {"1e100", 1e100},
                     {"123456.75", 123456.75}, {"0", 0.0},       {"1e-128", 1e-128},
                     {"-0.0001", -0.0001}};
  for (const Case &c : cases) {
    ASSERT_EQ(deccvasc(c.text, static_cast<int>(std::strlen(c.text)), &value), 0);
    ASSERT_EQ(dectodbl(&value, &d), 0) << c.text;
    EXPECT_EQ(d, c.expected) << c.text;
  }
  ASSERT_EQ(deccvasc("2.5", 3, &value), 0);
  ASSERT_EQ(dectoflt(&value, &f), 0);
  EXPECT_EQ(f, 2.5f);
}

/* Random doubles within the DECIMAL range and random floats (normal,
** subnormal), plus exact ties: digits equal the C library's and the
** round trip gives back the same bits. */
TEST(DoubleToDecimal, RandomValuesMatchTheCLibraryAndRoundTrip) {
  std::mt19937_64 random(20261210);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-120, 120);
  for (int i = 0; i < 3000; ++i) {
    double x = mantissa(random) * std::pow(10.0, exponent(random));
    if (i % 2) x = -x;
    dec_t value {};
    ASSERT_EQ(deccvdbl(x, &value), 0) << x;
    EXPECT_EQ(dec_digits(value, 17), libc_digits(x, 17)) << x;
    double back = 0;
    ASSERT_EQ(dectodbl(&value, &back), 0) << x;
    EXPECT_EQ(std::memcmp(&back, &x, sizeof x), 0) << x << " came back as " << back;
  }
  std::uniform_int_distribution<uint32_t> float_bits(0, 0x7F7FFFFFu);
  for (int i = 0; i < 3000; ++i) {
    uint32_t bits = i < 1000 ? float_bits(random) % 0x00800000u : float_bits(random);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    if (f == 0.0f) continue;
    dec_t value {};
    ASSERT_EQ(deccvflt(static_cast<double>(f), &value), 0) << f;
    EXPECT_EQ(dec_digits(value, 9), libc_digits(f, 9)) << f;
    float back = 0;
    ASSERT_EQ(dectoflt(&value, &back), 0);
    EXPECT_EQ(back, f);
  }
  /* Exact ties round half to even. */
  const double ties[] = {1234567890123456.25, 1234567890123456.75, 0.5, 2.5e-5};
  for (double x : ties) {
    dec_t value {};
    ASSERT_EQ(deccvdbl(x, &value), 0);
    EXPECT_EQ(dec_digits(value, 17), libc_digits(x, 17)) << x;
  }
}

TEST(TextToDouble, FormatsHexadecimalAndTheEndCheck) {
  struct Case {
    const char *text;
    const char *format;
    int status;
    double expected;
  } const cases[] = {
      {"1.5\n", nullptr, 0, 1.5},     {" 2.5e3 ", nullptr, 0, 2500},
      {"abc", nullptr, -1213, 0},     {"12x", nullptr, -1213, 0},
      {"1.5\n\n", nullptr, -1213, 0}, {"0x", nullptr, -1213, 0},
      {"0x1F", nullptr, 0, 31},       {"0xFFFFFFFF", nullptr, 0, 4294967295.0},
      {"1.5e3", "%e", 0, 1500},       {"1.5e", "%e", -1213, 0},
      {"1e5e2", "%e", -1213, 0},      {"--1", "%e", -1213, 0},
      {"-2.25", "%e", 0, -2.25},      {"3 ", "%e", 0, 3},
  };
  for (const Case &c : cases) {
    double d = -7;
    EXPECT_EQ(dvz_gl_convert_double(&d, c.text, c.format), c.status) << c.text;
    if (c.status == 0) {
      EXPECT_EQ(d, c.expected) << c.text;
    }
  }
  double d = 0;
  ASSERT_EQ(rstod("   ", &d), 0);
  EXPECT_EQ(std::memcmp(&d, all_ones, 8), 0);
  ASSERT_EQ(rstod("1.5e3", &d), 0);
  EXPECT_EQ(d, 1500);
}

TEST(TextToDouble, DecimalPointTranslation) {
  char out[16];
  ASSERT_EQ(gdecimalpoint("1,234.5", ".", 1, ",", 1, out, sizeof out), 0);
  EXPECT_STREQ(out, "1234,5");
  EXPECT_EQ(gdecimalpoint("123456789", ".", 1, ",", 1, out, 5), -1273);
  EXPECT_EQ(rfrontlen(), 1);
  EXPECT_EQ(rbacklen(), 0);
}

int locale_error() { return CheckGlsEnv()->locale->error; }

TEST(LocaleNumberFormats, ClassifiesTheOneDirective) {
  struct Case {
    const char *format;
    int type;
  } const cases[] = {{"%'10.2f", 1}, {"%d and %d", -1}, {"100%%", 0}, {"no directive", 0},
                     {"%#x", 2},     {"%-5G%%", 1},     {"%s", 0},    {"%+q", 2}};
  for (const Case &c : cases)
    EXPECT_EQ(get_num_fmt_type(c.format), c.type) << c.format;
}

TEST(LocaleNumberFormats, ConvertAndFormatNumbers) {
  dec_t value {};
  ASSERT_EQ(dvz_gl_convert_number(&value, "1,234.5", nullptr), 0);
  EXPECT_EQ(repr(value), "+123450@2");
  ASSERT_EQ(dvz_gl_convert_number(&value, "2.5", "%f"), 0);
  EXPECT_EQ(repr(value), "+0250@1");
  ASSERT_EQ(dvz_gl_convert_number(&value, "-42", "%d"), 0);
  EXPECT_EQ(repr(value), "-42@1");
  EXPECT_EQ(dvz_gl_convert_number(&value, "abc", nullptr), -1);
  EXPECT_EQ(locale_error(), 9);
  EXPECT_EQ(dvz_gl_convert_number(&value, "abc", "%d"), -1);
  EXPECT_EQ(locale_error(), 9);
  EXPECT_EQ(dvz_gl_convert_number(&value, "abc", "%s"), -1);
  EXPECT_EQ(locale_error(), 22);

  ASSERT_EQ(deccvasc("1234.5", 6, &value), 0);
  char buffer[20];
  ASSERT_EQ(dvz_gl_format_number(buffer, sizeof buffer, &value, nullptr), 0);
  EXPECT_STREQ(buffer, "1234.5");
  ASSERT_EQ(dvz_gl_format_number(buffer, sizeof buffer, &value, "%.2f"), 0);
  EXPECT_STREQ(buffer, "1234.50");
  ASSERT_EQ(dvz_gl_format_number(buffer, sizeof buffer, &value, "%d"), 0);
  EXPECT_STREQ(buffer, "1234");
  EXPECT_EQ(dvz_gl_format_number(buffer, sizeof buffer, &value, "%s"), -1);
  EXPECT_EQ(locale_error(), 9);
  ASSERT_EQ(deccvasc("99999", 5, &value), 0);
  EXPECT_EQ(dvz_gl_format_number(buffer, sizeof buffer, &value, "%d"), -1);
}

}  // namespace
