/*
** Doubles to text and the decimal point of formatted output, under en_us.
** dvz_gl_format_double without a format is checked against the C
** library's "%G"; the writers are given buffers with guard bytes after
** their size. The decimal point in force is "." here, so the cases for
** another one change the process's conventions block for their duration
** (a fixture puts it back).
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "gen_dectext.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_lconv.h"
#include "saved_conventions.h"

namespace {

constexpr char guard = 'G';

/* A buffer whose bytes from size on must stay untouched. */
struct GuardedBuffer {
  char bytes[128];
  explicit GuardedBuffer() { std::memset(bytes, guard, sizeof bytes); }
  bool guard_intact(int size) const {
    for (size_t i = static_cast<size_t>(size); i < sizeof bytes; ++i)
      if (bytes[i] != guard) return false;
    return true;
  }
};

TEST(DoubleText, GftoascDoesNotFitGivesNullAndNoOverflow) {
  struct Case {
    double value;
    int size;
  } const cases[] = {{1e300, 6}, {-1e-200, 12}, {0.0, 5}, {1e300, 1}, {1.5, 0}, {1.5, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " in " + std::to_string(c.size));
    GuardedBuffer buffer;
    set_toerrno(0);
    EXPECT_EQ(_gftoasc(c.value, buffer.bytes, c.size), nullptr);
    EXPECT_EQ(get_toerrno(), -1207);
    EXPECT_TRUE(buffer.guard_intact(c.size));
  }
}

TEST(DoubleText, GftoascWritesDecimalOrExponentialText) {
  struct Case {
    double value;
    int size;
    const char *text;
  } const cases[] = {
      {1.5, 20, "1.5"},
      {-2.25, 20, "-2.25"},
      {123456789.125, 20, "123456789.125"},
      {0.1, 30, "0.10000000000000001"},
      {1e-5, 20, "1e-05"},
      {1e300, 20, "1.000000e+300"},
      {-1e-200, 20, "-1.000000e-200"},
      {0.0, 20, "0.000000e+00"},
      {1e300, 14, "1.000000e+300"},
  };
  for (const Case &c : cases) {
    GuardedBuffer buffer;
    const char *text = _gftoasc(c.value, buffer.bytes, c.size);
    ASSERT_NE(text, nullptr) << c.value;
    EXPECT_STREQ(text, c.text);
    EXPECT_TRUE(buffer.guard_intact(c.size));
  }
}

TEST(DoubleText, GnftoascFitsTheExponentialTextToTheRoom) {
  struct Case {
    double value;
    int size;
    int is_double;
    const char *text;
  } const cases[] = {
      {1e200, 30, 1, "1.000000000000000e+200"},
      {1e200, 12, 1, "1.0000e+200"},
      {-1e200, 12, 1, "-1.000e+200"},
      {1e200, 8, 1, "1e+200"},
      {1e200, 7, 1, "******"},
      {1e200, 6, 1, "*****"},
      {-1e-300, 7, 1, "******"},
      {0.0, 20, 1, "0.000000000000e+00"},
      {1.5, 20, 1, "1.5"},
      {static_cast<double>(0.1f), 20, 0, "0.100000001"},
      {static_cast<double>(0.1f), 30, 1, "0.10000000149011612"},
  };
  for (const Case &c : cases) {
    GuardedBuffer buffer;
    const char *text = _gnftoasc(c.value, buffer.bytes, c.size, c.is_double);
    ASSERT_NE(text, nullptr) << c.value << " in " << c.size;
    EXPECT_STREQ(text, c.text);
    EXPECT_TRUE(buffer.guard_intact(c.size));
  }
}

TEST(DoubleText, FormatWithoutFormatMatchesPercentG) {
  std::mt19937_64 rng(5483);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  for (int i = 0; i < 1000; ++i) {
    double value = mantissa(rng) * std::pow(10.0, static_cast<int>(rng() % 80) - 40);
    if (rng() % 2 == 0) value = -value;
    char want[64];
    std::snprintf(want, sizeof want, "%G", value);
    GuardedBuffer buffer;
    ASSERT_EQ(dvz_gl_format_double(buffer.bytes, 40, value, nullptr), 0) << want;
    EXPECT_STREQ(buffer.bytes, want);
    EXPECT_TRUE(buffer.guard_intact(40));
  }
}

TEST(DoubleText, FormatCases) {
  struct Case {
    double value;
    int size;
    const char *format;
    int status;
    const char *text;
  } const cases[] = {
      {1.5, 4, nullptr, 0, "1.5"},
      {1.5, 3, nullptr, -1207, nullptr},
      {-1234567.0, 20, nullptr, 0, "-1.23457E+06"},
      {3.14159, 20, "%.2f", 0, "3.14"},
      {2.5, 20, "%le", 0, "2.500000e+00"},
      {2.5, 5, "%.2f", 0, "2.50"},
      {2.5, 4, "%.2f", -1207, nullptr},
      {2.5, 20, "%d", -415, nullptr},
      {2.5, 20, "%e %f", -415, nullptr},
      {2.5, 20, "plain", -415, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.format != nullptr ? c.format : "(none)");
    GuardedBuffer buffer;
    EXPECT_EQ(dvz_gl_format_double(buffer.bytes, c.size, c.value, c.format), c.status);
    if (c.text != nullptr) {
      EXPECT_STREQ(buffer.bytes, c.text);
    }
    EXPECT_TRUE(buffer.guard_intact(c.size));
  }
}

TEST(FormatChecks, OneFloatingDirective) {
  struct Case {
    const char *format;
    int status;
  } const cases[] = {
      {"%le", 0},    {"%e", 0},     {"%10.3f", 0}, {"%'+-# 12.4lG", 0},  {"x%Ey", 0}, {"%.f", 0},
      {"%e%%", 0},   {"%% %g", 0},  {"%d", -1},    {"no directive", -1}, {"%%", -1},  {"", -1},
      {"%e %f", -1}, {"%e %d", -1}, {"%5", -1},    {"%hf", -1},          {"%Lf", -1}, {"%s", -1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(chk_double_fmt(c.format), c.status) << '"' << c.format << '"';
}

TEST(FormatChecks, AtMostOneMoneyDirective) {
  struct Case {
    const char *format;
    int status;
  } const cases[] = {
      {"", 0},     {"abc", 0},    {"%n", 0},    {"%=*#5.2n", 0},     {"%% %i %%", 0},
      {"%%%%", 0}, {"%n %i", -1}, {"%n%n", -1}, {"%i and %%%n", -1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(check_mon_fmt(c.format), c.status) << '"' << c.format << '"';
}

/* The current environment's conventions with another decimal point in
** force for the test's duration. */
class OtherDecimalPoint : public SavedConventions {
 protected:
  void use_point(const char *bytes) {
    set_mark(lc_->decimal_point, &lc_->decimal_point_len, bytes);
  }
};

TEST_F(OtherDecimalPoint, RdecstrRewritesCutsOrRefuses) {
  use_point("\xB7\xB7");
  struct Case {
    const char *text;
    int size;
    int keep;
    int status;
    const char *result;
  } const cases[] = {
      {"12.5", 10, 0, 0,
       "12\xB7\xB7"
       "5"},
      {"12.5", 4, 0, 0, "12"},
      {"12.5", 4, 1, -1273, "12.5"},
      {"1.5e+200", 20, 0, 0,
       "1\xB7\xB7"
       "5e+200"},
      {"1.5e+200", 8, 0, -1273, "1.5e+200"},
      {"123456", 4, 0, -1273, "123456"},
      {"12345.6", 4, 0, -1273, "12345.6"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.size));
    char text[64];
    std::strcpy(text, c.text);
    EXPECT_EQ(rdecstr(text, c.size, c.keep), c.status);
    EXPECT_STREQ(text, c.result);
  }
  char out[16];
  EXPECT_EQ(gDecstrtoANSI("123456789", out, 4), -1273);
}

TEST_F(OtherDecimalPoint, DoubleTextTakesThePointInForce) {
  use_point(",");
  char buffer[32];
  ASSERT_EQ(dvz_gl_format_double(buffer, sizeof buffer, 2.5, nullptr), 0);
  EXPECT_STREQ(buffer, "2,5");
  ASSERT_NE(_gnftoasc(1e200, buffer, 12, 1), nullptr);
  EXPECT_STREQ(buffer, "1,0000e+200");
}

TEST(DoubleText, RdecstrLeavesTextAloneUnderAFullStop) {
  char text[] = "1234.5678";
  EXPECT_EQ(rdecstr(text, 3, 0), 0);
  EXPECT_STREQ(text, "1234.5678");
}

}  // namespace
