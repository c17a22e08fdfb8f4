/*
** Monetary formatting and parsing: the layouts, rounding, grouping, fill
** and alignment, field widths, the working-text limits, parsing by
** layout, and the C library's strfmon_l and Python's decimal rounding as
** oracles.
*/
#include "format_internal.h"
#include "numbers_support.h"
#include "peer_locales.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <monetary.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

namespace {

using lcotest::MonetaryToy;
using numtest::fmon;
using numtest::U;

class MoneyFormatting : public ::testing::Test {
 protected:
  lcotest::LocalePtr make(const MonetaryToy &m) { return toys.make(lcotest::toy_numeric(), m); }
  numtest::ToyNumbers toys;
  lcotest::LocalePtr loc = make(MonetaryToy {});
};

TEST_F(MoneyFormatting, DirectivesOfTheDollarLocale) {
  struct Case {
    const char *format;
    double value;
    const char *expected;
  };
  const Case cases[] = {
      {"%n", 1234.5, "$1,234.50"},
      {"%n", -1234.5, "-$1,234.50"},
      {"%i", 1234.5, "USD 1,234.50"},
      {"%^!.0n", 1234.5, "1235"},
      {"%.2n", 9.995, "$10.00"},
      {"%.2n", 999999.995, "$1,000,000.00"},
      {"%.0n", 0.4, "$0"},
      {"%n", -0.0, "$0.00"},
      {"%^=*#5n", 123.0, " $**123.00"},
      {"%=*#5n", 123.0, " $***123.00"},
      {"%#5n", -123.0, "-$   123.00"},
      {"%(n", -5.0, "($5.00)"},
      {"%(+n", -5.0, "-$5.00"},
      {"%+(n", -5.0, "($5.00)"},
      {"%=*12n", 5.0, "       $5.00"},
      {"%-12n|", 5.0, "$5.00       |"},
      {"%!n", 1234567.891, "1,234,567.89"},
      {"a%%b %n", 1.0, "a%b $1.00"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(fmon(loc.get(), c.format, c.value), c.expected) << c.format << " " << c.value;
}

TEST_F(MoneyFormatting, LayoutsFollowTheSettings) {
  struct Case {
    int cs_precedes, sep_by_space, sign_posn;
    const char *positive;
    const char *negative;
  };
  const Case cases[] = {
      {1, 0, 0, "($1.00)", "($1.00)"}, {0, 1, 0, "(1.00 $)", "(1.00 $)"},
      {1, 1, 1, "$ 1.00", "-$ 1.00"},  {0, 2, 1, "1.00$", "-1.00$"},
      {1, 2, 1, " $1.00", "- $1.00"},  {1, 1, 2, "$ 1.00", "$ 1.00-"},
      {0, 2, 2, "1.00$ ", "1.00$ -"},  {0, 0, 3, "1.00$", "1.00-$"},
      {1, 2, 3, " $1.00", "- $1.00"},  {1, 0, 4, "$1.00", "$-1.00"},
      {0, 1, 4, "1.00 $", "1.00 $-"},  {1, 3, 1, "", ""},
  };
  for (const Case &c : cases) {
    MonetaryToy m;
    m.p_cs_precedes = m.n_cs_precedes = c.cs_precedes;
    m.p_sep_by_space = m.n_sep_by_space = c.sep_by_space;
    m.p_sign_posn = m.n_sign_posn = c.sign_posn;
    lcotest::LocalePtr r = make(m);
    std::string key = std::to_string(c.cs_precedes) + std::to_string(c.sign_posn) +
                      std::to_string(c.sep_by_space);
    EXPECT_EQ(fmon(r.get(), "%n", 1.0), c.positive) << key;
    EXPECT_EQ(fmon(r.get(), "%n", -1.0), c.negative) << key;
  }
}

TEST_F(MoneyFormatting, ParenthesesOfAPositiveLayoutGiveWayToThePlusFlag) {
  MonetaryToy m;
  m.p_sign_posn = 0;
  m.positive_sign = "+";
  lcotest::LocalePtr r = make(m);
  EXPECT_EQ(fmon(r.get(), "%n", 5.0), "($5.00)");
  EXPECT_EQ(fmon(r.get(), "%+n", 5.0), "+$5.00");
  EXPECT_EQ(fmon(r.get(), "%n", -5.0), "-$5.00");
}

TEST_F(MoneyFormatting, MonetaryGroupingEndsAtASizeBelowOne) {
  MonetaryToy m;
  m.grouping = "3 3 2 0";
  EXPECT_EQ(fmon(make(m).get(), "%!.0n", 123456789.0), "1234,56,789");
  m.grouping = "1 2";
  EXPECT_EQ(fmon(make(m).get(), "%!.0n", 123456789.0), "1,23,45,67,89");
  m.grouping = "0";
  EXPECT_EQ(fmon(make(m).get(), "%!.0n", 123456789.0), "123456789");
}

TEST_F(MoneyFormatting, RefusalsAndLimits) {
  struct Case {
    const char *format;
    double value;
    int error;
  };
  const Case cases[] = {
      {"%k", 1.0, 20},     {"%", 1.0, 20},     {"%n", 1e250, 14},   {"%n", INFINITY, 14},
      {"%#300n", 1.0, 14}, {"%400n", 1.0, 14}, {"%.300n", 1.0, 14}, {"%99999999999n", 1.0, 14},
  };
  for (const Case &c : cases)
    EXPECT_EQ(fmon(loc.get(), c.format, c.value), "error " + std::to_string(c.error)) << c.format;
  EXPECT_EQ(fmon(loc.get(), "%n", 1e240), "error 14") << "241 digits and 80 separators";
  EXPECT_EQ(fmon(loc.get(), "%^n", 1e240).size(), 245u) << "241 digits alone fit";
  EXPECT_EQ(fmon(loc.get(), "%^!.254n", 1.0), "error 14") << "256 characters";
  for (const char *format : {"%^!.97n", "%^!.98n", "%^!.99n", "%^!.253n"})
    EXPECT_EQ(fmon(loc.get(), format, 1.0).size(), std::strtoul(format + 4, nullptr, 10) + 2)
        << format;
}

TEST_F(MoneyFormatting, WideEntries) {
  gl_wchar out[16] = {};
  auto format = numtest::W("%n");
  EXPECT_EQ(gl_wcsfmon(loc.get(), out, 10, format.data(), -12.5), 7);
  EXPECT_EQ(out[0], static_cast<gl_wchar>('-'));
  EXPECT_EQ(gl_wcsfmon(loc.get(), out, 7, format.data(), -12.5), -1);
  auto text = numtest::W("-$12.50 rest");
  double value = 0;
  gl_wchar *end = gl_wcspmon(loc.get(), text.data(), format.data(), &value);
  ASSERT_NE(end, nullptr);
  EXPECT_DOUBLE_EQ(value, -12.5);
  EXPECT_EQ(end - text.data(), 7);
}

TEST_F(MoneyFormatting, OutputOneByteTooSmallFails) {
  unsigned char out[32];
  loc->error = 0;
  EXPECT_EQ(gl_mbsfmon(loc.get(), out, 10, U("%n"), 1234.5), 9);
  EXPECT_STREQ(reinterpret_cast<char *>(out), "$1,234.50");
  EXPECT_EQ(gl_mbsfmon(loc.get(), out, 9, U("%n"), 1234.5), -1);
  EXPECT_EQ(loc->error, 14);
  loc->error = 0;
  EXPECT_EQ(gl_mbsfmon(loc.get(), out, 2, U("ab"), 0.0), -1);
  EXPECT_EQ(loc->error, 14);
}

/* ---- Parsing ------------------------------------------------------------------ */

TEST_F(MoneyFormatting, ParsingMatchesTheLayouts) {
  struct Case {
    const char *text;
    const char *format;
    double value;
    const char *rest;
  };
  const Case cases[] = {
      {"$1,234.50", "%'n", 1234.5, ""},
      {"$1,234.50", "%n", 1.0, ",234.50"},
      {"-$1,234.50", "%'n", -1234.5, ""},
      {"  $7.25 left", "%n", 7.25, " left"},
      {"2147483647", "%n", 2147483647.0, ""},
      {"$2147483647.00", "%n", 2147483647.0, ""},
      {"USD 3.5", "%i", 3.5, ""},
      {"12.5", "%3n", 12.0, "5"},
      {"x=$4", "x=%n", 4.0, ""},
  };
  for (const Case &c : cases) {
    double value = -99;
    loc->error = 0;
    unsigned char *end = gl_mbspmon(loc.get(), U(c.text), U(c.format), &value);
    ASSERT_NE(end, nullptr) << c.text << " error " << loc->error;
    EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    EXPECT_STREQ(reinterpret_cast<char *>(end), c.rest) << c.text;
  }
}

TEST_F(MoneyFormatting, ParsingFailures) {
  struct Case {
    const char *text;
    const char *format;
    int error;
  };
  const Case cases[] = {
      {"abc", "%n", 9},   {"$5", "%k", 22},   {"$5", "%", 22},
      {"y$5", "x%n", 22}, {"$5", "%.*n", 45}, {"5", "%%", 22},
  };
  for (const Case &c : cases) {
    double value = 0;
    loc->error = 0;
    EXPECT_EQ(gl_mbspmon(loc.get(), U(c.text), U(c.format), &value), nullptr) << c.text;
    EXPECT_EQ(loc->error, c.error) << c.text << " " << c.format;
  }
  MonetaryToy m;
  m.p_sign_posn = 7;
  lcotest::LocalePtr no_layout = make(m);
  double value = 0;
  no_layout->error = 0;
  EXPECT_EQ(gl_mbspmon(no_layout.get(), U("$5"), U("%n"), &value), nullptr);
  EXPECT_EQ(no_layout->error, 0);
}

TEST_F(MoneyFormatting, ParenthesesParseAsNegative) {
  MonetaryToy m;
  m.n_sign_posn = 0;
  lcotest::LocalePtr r = make(m);
  double value = 0;
  ASSERT_NE(gl_mbspmon(r.get(), U("($12.00)"), U("%n"), &value), nullptr);
  EXPECT_DOUBLE_EQ(value, -12.0);
  ASSERT_NE(gl_mbspmon(r.get(), U("$12.00"), U("%n"), &value), nullptr);
  EXPECT_DOUBLE_EQ(value, 12.0);
}

TEST_F(MoneyFormatting, FormattedAmountsParseBack) {
  std::mt19937 random(5);
  for (int i = 0; i < 300; ++i) {
    double cents = static_cast<double>(static_cast<int>(random() % 2000000001) - 1000000000);
    std::string text = fmon(loc.get(), "%n", cents / 100);
    double back = 0;
    ASSERT_NE(gl_mbspmon(loc.get(), U(text), U("%'n"), &back), nullptr) << text;
    EXPECT_DOUBLE_EQ(back, cents / 100) << text;
  }
}

TEST_F(MoneyFormatting, ShortMemoryFailsCleanly) {
  for (int fail_at = 1; fail_at <= 4; ++fail_at) {
    unsigned char out[64];
    double value = 0;
    glstest::FailingAllocator allocator(fail_at);
    loc->error = 0;
    int n = gl_mbsfmon(loc.get(), out, sizeof out, U("%n"), 1234.5);
    EXPECT_TRUE(n == 9 || (n == -1 && loc->error == 3)) << fail_at << ": " << n;
    loc->error = 0;
    unsigned char *end = gl_mbspmon(loc.get(), U("$12"), U("%3n"), &value);
    EXPECT_TRUE(end != nullptr || loc->error == 3) << fail_at;
    EXPECT_EQ(allocator.outstanding(), 0) << fail_at;
  }
}

/* ---- Oracles ------------------------------------------------------------------ */

TEST(MoneyFormattingOracle, AgreesWithTheCLibraryOnNationalAmounts) {
  glstest::TableGetenv env;
  struct Peer {
    const char *file;
    const char *source;
  };
  const Peer peers[] = {{"en_us/0333.lco", "en_US"}, {"de_de/0333.lco", "de_DE"}};
  std::mt19937 random(11);
  for (const Peer &p : peers) {
    lcotest::LocalePtr ours = numtest::shipped(env, p.file);
    locale_t peer = glstest::peer_locale(p.source, "ISO-8859-1");
    ASSERT_NE(peer, nullptr);
    for (int i = 0; i < 500; ++i) {
      /* Whole cents: the digit after the second is never a tie. */
      double value = static_cast<double>(static_cast<int64_t>(random()) - 2147483648LL) / 100;
      char expected[128];
      ASSERT_GE(strfmon_l(expected, sizeof expected, peer, "%n", value), 0);
      EXPECT_EQ(fmon(ours.get(), "%n", value), expected) << p.source << " " << value;
    }
  }
}

TEST(MoneyFormattingOracle, RoundingAgreesWithDecimalHalfUp) {
  std::mt19937_64 random(3);
  std::ostringstream input;
  std::vector<std::pair<double, int>> cases;
  for (int i = 0; i < 2000; ++i) {
    double v;
    switch (i % 3) {
      case 0: /* ties at some precision */
        v = static_cast<double>(random() % 100000000) / 1000.0;
        break;
      case 1:
        v = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 60));
        break;
      default:
        v = static_cast<double>(random() % 1000000) + 0.5;
        break;
    }
    int r = static_cast<int>(random() % 7);
    cases.emplace_back(v, r);
    char line[64];
    std::snprintf(line, sizeof line, "%.17g %d\n", v, r);
    input << line;
  }
  std::string script =
      "import sys\n"
      "from decimal import Decimal, ROUND_HALF_UP\n"
      "for line in open(sys.argv[1]):\n"
      "    v, r = line.split()\n"
      "    d = Decimal(f'{float(v):.6f}')\n"
      "    print(d.quantize(Decimal(1).scaleb(-int(r)), rounding=ROUND_HALF_UP))\n";
  std::istringstream out(numtest::run_python(script, input.str()));
  for (const auto &[v, r] : cases) {
    std::string expected;
    out >> expected;
    char whole[300], fraction[300];
    ASSERT_TRUE(glslib::round_dval(v, r, whole, fraction));
    std::string got = std::string(whole) + (r > 0 ? "." + std::string(fraction) : "");
    EXPECT_EQ(got, expected) << v << " at " << r;
  }
}

}  // namespace
