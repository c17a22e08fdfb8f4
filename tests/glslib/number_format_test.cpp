/*
** The number formatter and parser: field layout (signs, pads, grouping,
** bases), doubles, characters and strings, the directive scanner's limits,
** the parser's conversions, and the C library's snprintf and Python's
** base conversions as oracles.
*/
#include "numbers_support.h"
#include "peer_locales.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>

namespace {

using lcotest::enc;
using numtest::fnum;
using numtest::U;

std::string numeric(const std::string &grouping, const std::string &positive = "+",
                    const std::string &negative = "-", const std::string &decimal = ".",
                    const std::string &thousands = ",") {
  return enc(decimal) + enc(thousands) + grouping + "\n" + enc(positive) + enc(negative);
}

class NumberFormatting : public ::testing::Test {
 protected:
  numtest::ToyNumbers toys;
  lcotest::LocalePtr loc = toys.make(numeric("1 3"));
};

TEST_F(NumberFormatting, IntegerFieldsTakeSignPadsAndBases) {
  struct Case {
    const char *format;
    int value;
    const char *expected;
  };
  const Case cases[] = {
      {"%5d", -42, "  -42"},    {"%-5d", -42, "-42  "},   {"%05d", -42, "-0042"},
      {"%-05d", -42, "-42  "},  {"%d", 0, "0"},           {"%i", INT_MIN, "-2147483648"},
      {"%u", -1, "4294967295"}, {"%x", -255, "-ff"},      {"%#x", 255, "0xff"},
      {"%#X", 255, "0XFF"},     {"%o", 8, "10"},          {"%#o", 8, "010"},
      {"%b", 5, "101"},         {"%q", 5, "11"},          {"%b", -5, "-101"},
      {"%+d", 5, "+5"},         {"% d", 5, " 5"},         {"%+d", -5, "-5"},
      {"%.3d", 5, "005"},       {"%6.3d", -5, "  -005"},  {"%'d", 1234567, "1,234,567"},
      {"%'d", 123, "123"},      {"%'d", -1234, "-1,234"}, {"%hd", 70000, "4464"},
      {"%hu", -1, "65535"},     {"[%4d]", 7, "[   7]"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(fnum(loc.get(), c.format, c.value), c.expected) << c.format << " " << c.value;
}

TEST_F(NumberFormatting, GroupingFollowsTheLocaleList) {
  struct Case {
    const char *grouping;
    const char *expected;
  };
  const Case cases[] = {
      {"1 3", "1,234,567"}, /* the last size repeats */
      {"2 3 2", "12,34,567"}, /* 3, then 2 repeating */
      {"2 3 -1", "1234,567"}, /* -1 ends grouping */
      {"2 3 0", "1,234,567"}, /* a last 0 repeats the size before */
      {"0", "1234567"}, /* no grouping */
  };
  for (const Case &c : cases) {
    lcotest::LocalePtr r = toys.make(numeric(c.grouping));
    EXPECT_EQ(fnum(r.get(), "%'d", 1234567), c.expected) << c.grouping;
  }
}

TEST_F(NumberFormatting, SignStringsComeFromTheLocale) {
  lcotest::LocalePtr words = toys.make(numeric("1 3", "pos", "neg"));
  EXPECT_EQ(fnum(words.get(), "%+d", 5), "pos5");
  EXPECT_EQ(fnum(words.get(), "% d", 5), "   5");
  EXPECT_EQ(fnum(words.get(), "%d", -5), "neg5");
  EXPECT_EQ(fnum(words.get(), "%7d", -5), "   neg5");
  lcotest::LocalePtr bare = toys.make(numeric("1 3", "", "-"));
  EXPECT_EQ(fnum(bare.get(), "% d", 5), "5") << "an empty positive sign has no blanks";
  EXPECT_EQ(fnum(bare.get(), "%+d", 5), "5");
}

TEST_F(NumberFormatting, DoublesUseTheLocalePointSeparatorsAndSigns) {
  EXPECT_EQ(fnum(loc.get(), "%.2f", 3.14159), "3.14");
  EXPECT_EQ(fnum(loc.get(), "%8.2f", -3.14159), "   -3.14");
  EXPECT_EQ(fnum(loc.get(), "%'.2f", 1234567.891), "1,234,567.89");
  EXPECT_EQ(fnum(loc.get(), "%e", 12345.678), "1.234568e+04");
  EXPECT_EQ(fnum(loc.get(), "%E", 0.00012), "1.200000E-04");
  EXPECT_EQ(fnum(loc.get(), "%g", 0.5), "0.5");
  EXPECT_EQ(fnum(loc.get(), "%+.1f", 2.0), "+2.0");
  EXPECT_EQ(fnum(loc.get(), "%5f", INFINITY), "  Inf");
  EXPECT_EQ(fnum(loc.get(), "%-5f", INFINITY), "Inf  ");
  EXPECT_EQ(fnum(loc.get(), "%5f", -INFINITY), "-Inf") << "the negative infinity is not padded";
  EXPECT_EQ(fnum(loc.get(), "%4f", NAN), " NaN");
  lcotest::LocalePtr comma = toys.make(numeric("1 3", "+", "-", ",", "."));
  EXPECT_EQ(fnum(comma.get(), "%'.2f", 1234.5), "1.234,50");
  EXPECT_EQ(fnum(comma.get(), "%.1e", -1500.0), "-1,5e+03");
  lcotest::LocalePtr words = toys.make(numeric("1 3", "P", "N"));
  EXPECT_EQ(fnum(words.get(), "%.1e", 0.015), "1.5eN02") << "the exponent's sign is the locale's";
}

TEST_F(NumberFormatting, CharactersAndStrings) {
  EXPECT_EQ(fnum(loc.get(), "%5s", "abcdefgh"), "abcde") << "the width limits the string";
  EXPECT_EQ(fnum(loc.get(), "%.3s", "abcdefgh"), "abc");
  EXPECT_EQ(fnum(loc.get(), "%6.2s|", "abc"), "    ab|");
  EXPECT_EQ(fnum(loc.get(), "%-6.2s|", "abc"), "ab    |");
  EXPECT_EQ(fnum(loc.get(), "%s", "whole"), "whole");
  EXPECT_EQ(fnum(loc.get(), "%3c|", "x"), "  x|");
  EXPECT_EQ(fnum(loc.get(), "%-3c|", "x"), "x  |");
  EXPECT_EQ(fnum(loc.get(), "%lc", static_cast<gl_wchar>('y')), "y");
  EXPECT_EQ(fnum(loc.get(), "100%%"), "100%");
  EXPECT_EQ(fnum(loc.get(), ""), "");
}

TEST_F(NumberFormatting, ArgumentListWidthsAndPrecisions) {
  EXPECT_EQ(fnum(loc.get(), "%*d", 4, 5), "   5");
  EXPECT_EQ(fnum(loc.get(), "%.*d", 3, 5), "005");
  EXPECT_EQ(fnum(loc.get(), "%1$d", 9), "9") << "a position is read and ignored";
}

TEST_F(NumberFormatting, BadDirectivesAreRefused) {
  struct Case {
    const char *format;
    int error;
  };
  const Case cases[] = {
      {"%", 15},
      {"abc%5", 15},
      {"%l", 22},
      {"%k", 22},
      {"%.;d", 45},
      {"%5.d", 0},
      {"%99999999999d", 14},
      {"%.99999999999d", 14},
      {"%99999999999f", 14},
      {"%100f", 14},
  };
  for (const Case &c : cases) {
    std::string out = fnum(loc.get(), c.format, 1, 1, 1);
    if (c.error == 0)
      EXPECT_EQ(out.rfind("error", 0), std::string::npos) << c.format;
    else
      EXPECT_EQ(out, "error " + std::to_string(c.error)) << c.format;
  }
}

TEST_F(NumberFormatting, OutputOneByteTooSmallFails) {
  unsigned char out[16];
  loc->error = 0;
  EXPECT_EQ(gl_mbsfnum(loc.get(), out, 9, U("%'d"), 1234567), -1);
  EXPECT_EQ(loc->error, 14);
  EXPECT_EQ(gl_mbsfnum(loc.get(), out, 10, U("%'d"), 1234567), 9);
  EXPECT_STREQ(reinterpret_cast<char *>(out), "1,234,567");
  loc->error = 0;
  EXPECT_EQ(gl_mbsfnum(loc.get(), out, 3, U("Inf%s"), ""), -1);
  EXPECT_EQ(loc->error, 14);
}

TEST_F(NumberFormatting, WideEntriesCountCharacters) {
  gl_wchar out[16] = {};
  auto format = numtest::W("%'d");
  EXPECT_EQ(gl_wcsfnum(loc.get(), out, 9, format.data(), 1234567), 9);
  EXPECT_EQ(out[1], static_cast<gl_wchar>(','));
  EXPECT_EQ(out[9], 0u);
  EXPECT_EQ(gl_wcsfnum(loc.get(), out, 8, format.data(), 1234567), -1);
  EXPECT_EQ(loc->error, 14);
  int value = 0;
  auto text = numtest::W("  -17");
  auto parse = numtest::W("%d");
  loc->error = 5;
  EXPECT_EQ(gl_wcspnum(loc.get(), text.data(), parse.data(), &value), 1);
  EXPECT_EQ(value, -17);
  EXPECT_EQ(loc->error, 0) << "the wide parser clears the error word";
}

TEST_F(NumberFormatting, FormatExpansionTakesOnlyModeOne) {
  EXPECT_EQ(gl_mbsfmtexpand(loc.get(), 2, U("%c")), -1);
  EXPECT_EQ(gl_mbsfmtexpand(loc.get(), 0, U("%Y")), -1);
}

/* ---- Parsing ------------------------------------------------------------------ */

TEST_F(NumberFormatting, ParserAssignsIntegersByConversion) {
  struct Case {
    const char *text;
    const char *format;
    int result;
    int value;
  };
  const Case cases[] = {
      {"12abc", "%d", 1, 12}, {"  -42", "%d", 1, -42},  {"ff", "%x", 1, 255},
      {"-ff", "%X", 1, -255}, {"101", "%b", 1, 5},      {"23", "%q", 1, 11},
      {"17", "%o", 1, 15},    {"12345", "%3d", 1, 123}, {"x=7", "x=%d", 1, 7},
      {"5%", "%d%%", 1, 5},   {"abc", "%d", 0, -1},     {"   9", "%u", 1, 9},
  };
  for (const Case &c : cases) {
    int value = -1;
    loc->error = 0;
    EXPECT_EQ(gl_mbspnum(loc.get(), U(c.text), U(c.format), &value), c.result) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST_F(NumberFormatting, ParserSkipsSuppressedFieldsAndRefusesBadInput) {
  int value = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("12 34"), U("%*d %d"), &value), 1);
  EXPECT_EQ(value, 34);
  loc->error = 0;
  unsigned u = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("-5"), U("%u"), &u), -1);
  EXPECT_EQ(loc->error, 22);
  loc->error = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("b5"), U("a%d"), &value), -1);
  EXPECT_EQ(loc->error, 22);
  loc->error = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("5"), U("%.*d"), &value), -1);
  EXPECT_EQ(loc->error, 45);
  loc->error = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("5"), U("%"), &value), -1);
  EXPECT_EQ(loc->error, 15);
  short s = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("70000"), U("%hd"), &s), 1);
  EXPECT_EQ(s, 4464);
}

TEST_F(NumberFormatting, ParserTakesTheNumberBeforeALongTail) {
  int value = 0;
  std::string text = "12" + std::string(300, 'z');
  EXPECT_EQ(gl_mbspnum(loc.get(), U(text), U("%d"), &value), 1);
  EXPECT_EQ(value, 12);
  std::string digits(300, '1');
  loc->error = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U(digits), U("%d"), &value), 0)
      << "a number longer than the buffers is refused";
}

TEST_F(NumberFormatting, ParserReadsDoublesStringsAndCharacters) {
  double d = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("3.25"), U("%f"), &d), 1);
  EXPECT_DOUBLE_EQ(d, 3.25);
  EXPECT_EQ(gl_mbspnum(loc.get(), U("1,234.5"), U("%'f"), &d), 1);
  EXPECT_DOUBLE_EQ(d, 1234.5);
  EXPECT_EQ(gl_mbspnum(loc.get(), U("-1.5e3"), U("%e"), &d), 1);
  EXPECT_DOUBLE_EQ(d, -1500.0);
  EXPECT_EQ(gl_mbspnum(loc.get(), U("12345"), U("%3f"), &d), 1);
  EXPECT_DOUBLE_EQ(d, 123.0);
  char word[32] = {};
  EXPECT_EQ(gl_mbspnum(loc.get(), U("hello world"), U("%s"), word), 1);
  EXPECT_STREQ(word, "hello");
  char pair[32] = {};
  EXPECT_EQ(gl_mbspnum(loc.get(), U("abcdef"), U("%3s"), pair), 1);
  EXPECT_STREQ(pair, "abc");
  char c = 0;
  gl_wchar wc = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("xy"), U("%c%lc"), &c, &wc), 2);
  EXPECT_EQ(c, 'x');
  EXPECT_EQ(wc, static_cast<gl_wchar>('y'));
  int n = 0;
  EXPECT_EQ(gl_mbspnum(loc.get(), U("1.5 7"), U("%f %d"), &d, &n), 2);
  EXPECT_EQ(n, 7);
}

TEST_F(NumberFormatting, ShortMemoryFailsCleanly) {
  for (int fail_at = 1; fail_at <= 4; ++fail_at) {
    unsigned char out[64];
    int value = 0;
    double d = 0;
    glstest::FailingAllocator allocator(fail_at);
    loc->error = 0;
    int n = gl_mbsfnum(loc.get(), out, sizeof out, U("%s %d"), "abc", 5);
    EXPECT_TRUE(n == 5 || (n == -1 && loc->error == 3)) << fail_at << ": " << n;
    loc->error = 0;
    n = gl_mbspnum(loc.get(), U("7 2.5"), U("%2d %4f"), &value, &d);
    EXPECT_TRUE(n == 2 || (n == -1 && loc->error == 3)) << fail_at << ": " << n;
    EXPECT_EQ(allocator.outstanding(), 0) << fail_at;
  }
}

/* ---- Oracles ------------------------------------------------------------------ */

std::string peer_snprintf(locale_t peer, const char *format, ...) {
  char buffer[512];
  locale_t old = uselocale(peer);
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  uselocale(old);
  return buffer;
}

struct PeerCase {
  const char *file;
  const char *source;
};

TEST(NumberFormattingOracle, AgreesWithTheCLibraryInItsLocales) {
  glstest::TableGetenv env;
  const PeerCase peers[] = {{"en_us/0333.lco", "en_US"}, {"de_de/0333.lco", "de_DE"}};
  std::mt19937 random(1234);
  for (const PeerCase &p : peers) {
    lcotest::LocalePtr ours = numtest::shipped(env, p.file);
    locale_t peer = glstest::peer_locale(p.source, "ISO-8859-1");
    ASSERT_NE(peer, nullptr);
    const char *int_formats[] = {"%d", "%i", "%8d", "%-8d|", "%08d", "%.5d", "%+d", "%'d", "%'12d"};
    const char *unsigned_formats[] = {"%u", "%o", "%x", "%X", "%#o", "%#x", "%10x"};
    const char *float_formats[] = {"%e", "%.3e",  "%f",       "%.2f", "%12.4f",
                                   "%g", "%.10g", "%-12.3f|", "%E",   "%G"};
    for (int i = 0; i < 400; ++i) {
      int magnitude_bits = static_cast<int>(random() % 31);
      int value = static_cast<int>(random() & ((1u << magnitude_bits) - 1));
      if (random() % 2) value = -value;
      for (const char *f : int_formats)
        EXPECT_EQ(fnum(ours.get(), f, value), peer_snprintf(peer, f, value))
            << p.source << " " << f;
      int non_negative = value < 0 ? -value : value;
      for (const char *f : unsigned_formats) {
        /* The alternate form of 0 keeps its prefix here ("00", "0x0"). */
        if (non_negative == 0 && f[1] == '#') continue;
        EXPECT_EQ(fnum(ours.get(), f, non_negative), peer_snprintf(peer, f, non_negative))
            << p.source << " " << f;
      }
      double d = std::ldexp(static_cast<double>(random()) / 4294967296.0,
                            static_cast<int>(random() % 80) - 40);
      if (random() % 2) d = -d;
      for (const char *f : float_formats)
        EXPECT_EQ(fnum(ours.get(), f, d), peer_snprintf(peer, f, d))
            << p.source << " " << f << " " << d;
    }
  }
}

TEST(NumberFormattingOracle, BinaryAndBaseFourAgreeWithPython) {
  numtest::ToyNumbers toys;
  lcotest::LocalePtr loc = toys.make();
  std::mt19937 random(99);
  std::ostringstream input;
  std::vector<int> values = {0, 1, -1, INT_MAX, INT_MIN + 1};
  for (int i = 0; i < 300; ++i)
    values.push_back(static_cast<int>(random()));
  for (int v : values)
    input << v << "\n";
  std::string script =
      "import sys\n"
      "def q(n):\n"
      "    m = abs(n); d = ''\n"
      "    while True:\n"
      "        d = str(m % 4) + d; m //= 4\n"
      "        if m == 0: break\n"
      "    return ('-' if n < 0 else '') + d\n"
      "for line in open(sys.argv[1]):\n"
      "    n = int(line)\n"
      "    print(format(n, 'b'), q(n))\n";
  std::istringstream out(numtest::run_python(script, input.str()));
  for (int v : values) {
    std::string b, q;
    out >> b >> q;
    EXPECT_EQ(fnum(loc.get(), "%b", v), b) << v;
    EXPECT_EQ(fnum(loc.get(), "%q", v), q) << v;
  }
}

}  // namespace
