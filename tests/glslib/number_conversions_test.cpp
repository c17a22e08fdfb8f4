/*
** Locale-aware number conversions: signs, grouping checks, decimal points
** and exponents, integer-to-text with grouping, the error values, and the
** C library's strtol_l, strtoul_l and strtod_l as oracles.
*/
#include "format_internal.h"
#include "numbers_support.h"
#include "peer_locales.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

using lcotest::enc;
using numtest::U;
using numtest::W;

std::string numeric(const std::string &grouping, const std::string &negative = "-",
                    const std::string &decimal = ".") {
  return enc(decimal) + enc(",") + grouping + "\n" + enc("+") + enc(negative);
}

std::string wide_ascii(const gl_wchar *w) {
  std::string s;
  for (; *w != 0; ++w)
    s += static_cast<char>(*w);
  return s;
}

class NumberConversions : public ::testing::Test {
 protected:
  numtest::ToyNumbers toys;
  lcotest::LocalePtr loc = toys.make(numeric("1 3"));
};

TEST_F(NumberConversions, IntegersTakeSignsAndCheckGrouping) {
  struct Case {
    const char *text;
    int grouping;
    int32_t value;
    int used;
    int error;
  };
  const Case cases[] = {
      {"1,234,567", 1, 1234567, 9, 0},
      {"1234567", 1, 0x7fffffff, 0, 7},
      {"1,23,4567", 1, 0x7fffffff, 0, 7},
      {"123", 1, 123, 3, 0},
      {"1,234", 0, 1, 1, 0},
      {"  -42x", 0, -42, 5, 0},
      {"+7", 0, 7, 2, 0},
      {"2147483648", 0, INT32_MAX, 10, 6},
      {"-2147483648", 0, INT32_MIN, 11, 0},
      {"x", 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    auto w = W(c.text);
    gl_wchar *end = nullptr;
    loc->error = 0;
    EXPECT_EQ(gl_wcstol(loc.get(), w.data(), &end, 10, c.grouping), c.value) << c.text;
    EXPECT_EQ(loc->error, c.error) << c.text;
    if (c.error != 7) {
      EXPECT_EQ(end - w.data(), c.used) << c.text;
    }
  }
}

TEST_F(NumberConversions, TheLocaleNegativeSignIsMatchedWhenNotEmpty) {
  lcotest::LocalePtr words = toys.make(numeric("1 3", "neg"));
  auto w = W("neg15");
  EXPECT_EQ(gl_wcstol(words.get(), w.data(), nullptr, 10, 0), -15);
  EXPECT_DOUBLE_EQ(gl_wcstod(words.get(), W("neg1.5").data(), nullptr, 0), -1.5);
  lcotest::LocalePtr none = toys.make(numeric("1 3", ""));
  EXPECT_EQ(gl_wcstol(none.get(), W("5").data(), nullptr, 10, 0), 5);
  EXPECT_EQ(gl_wcstol(none.get(), W("-5").data(), nullptr, 10, 0), -5);
}

TEST_F(NumberConversions, OnlyTheNumberItselfCountsTowardsTheBufferLimit) {
  std::string tail = "12" + std::string(300, 'q');
  gl_wchar *end = nullptr;
  auto w = W(tail);
  loc->error = 0;
  EXPECT_EQ(gl_wcstoul(loc.get(), w.data(), &end, 10, 0), 12u);
  EXPECT_EQ(loc->error, 0);
  EXPECT_EQ(end - w.data(), 2);
  auto hex = W("0x1f" + std::string(300, 'z'));
  EXPECT_EQ(gl_wcstoul(loc.get(), hex.data(), &end, 16, 0), 31u);
  auto digits = W(std::string(257, '0'));
  EXPECT_EQ(gl_wcstoul(loc.get(), digits.data(), &end, 10, 0), 0x7fffffffu);
  EXPECT_EQ(loc->error, 7);
  loc->error = 0;
  auto fits = W(std::string(255, '0') + "7");
  EXPECT_EQ(gl_wcstoul(loc.get(), fits.data(), &end, 10, 0), 7u);
  EXPECT_EQ(loc->error, 0);
}

TEST_F(NumberConversions, MultibyteFormsMapEndsAndReportEmptyText) {
  unsigned char *end = nullptr;
  EXPECT_EQ(gl_mbstol(loc.get(), U("  99 bottles"), &end, 10, 0), 99);
  EXPECT_STREQ(reinterpret_cast<char *>(end), " bottles");
  loc->error = 0;
  EXPECT_EQ(gl_mbstol(loc.get(), U(""), &end, 10, 0), 0x7fffffff);
  EXPECT_EQ(loc->error, 6);
  loc->error = 0;
  EXPECT_EQ(gl_mbstol(loc.get(), U("99999999999"), &end, 10, 0), 0x7fffffff);
  EXPECT_EQ(loc->error, 6);
  loc->error = 0;
  EXPECT_EQ(gl_mbstoul(loc.get(), U("99999999999"), &end, 10, 0), 0xffffffffu);
  EXPECT_EQ(loc->error, 6);
  loc->error = 0;
  EXPECT_EQ(gl_mbstod(loc.get(), U(""), &end, 0), 2147483647.0);
  EXPECT_EQ(loc->error, 6);
  loc->error = 0;
  EXPECT_EQ(gl_mbstod(loc.get(), U("1e999"), &end, 0), 2147483647.0);
  EXPECT_EQ(loc->error, 6);
  loc->error = 0;
  EXPECT_DOUBLE_EQ(gl_mbstod(loc.get(), U("2.5kg"), &end, 0), 2.5);
  EXPECT_STREQ(reinterpret_cast<char *>(end), "kg");
}

TEST_F(NumberConversions, DoublesReadPointFractionAndExponent) {
  struct Case {
    const char *text;
    int grouping;
    double value;
    int used;
    int error;
  };
  const Case cases[] = {
      {".5", 0, 0.5, 2, 0},         {"1,234,567.5", 1, 1234567.5, 11, 0},
      {"1234567.5", 1, 0.0, 0, 7},  {"1,234.5", 0, 1.0, 1, 0},
      {"-2.5e2x", 0, -250.0, 6, 0}, {"3e", 0, 3.0, 1, 0},
      {"4e+", 0, 4.0, 1, 0},        {"abc", 0, 0.0, 0, 46},
      {"", 0, 0.0, 0, 0},           {"  +7", 0, 7.0, 4, 0},
  };
  for (const Case &c : cases) {
    auto w = W(c.text);
    gl_wchar *end = nullptr;
    loc->error = 0;
    EXPECT_DOUBLE_EQ(gl_wcstod(loc.get(), w.data(), &end, c.grouping), c.value) << c.text;
    EXPECT_EQ(end - w.data(), c.used) << c.text;
    EXPECT_EQ(loc->error, c.error) << c.text;
  }
}

TEST_F(NumberConversions, IntegersToTextWithGrouping) {
  gl_wchar out[64];
  EXPECT_EQ(gl_ltowcs(loc.get(), out, 64, -1234567, 10, 1), 10);
  EXPECT_EQ(wide_ascii(out), "-1,234,567");
  EXPECT_EQ(gl_ultowcs(loc.get(), out, 64, 255, 16, 0), 2);
  EXPECT_EQ(wide_ascii(out), "FF");
  EXPECT_EQ(gl_ltowcs(loc.get(), out, 64, 5, 1, 0), 0);
  EXPECT_EQ(wide_ascii(out), "");
  EXPECT_EQ(gl_ltowcs(loc.get(), out, 64, 5, 37, 0), 0);
  EXPECT_EQ(wide_ascii(out), "");
  EXPECT_EQ(gl_ltowcs(loc.get(), out, 9, 1234567, 10, 1), 0) << "no room for the separators";
  EXPECT_EQ(wide_ascii(out), "");
  EXPECT_EQ(gl_ltowcs(loc.get(), out, 4, 1234567, 10, 0), 0) << "nor for the digits";
  unsigned char mb[16];
  EXPECT_EQ(gl_ultombs(loc.get(), mb, sizeof mb, 4000000000u, 10, 1), 13);
  EXPECT_STREQ(reinterpret_cast<char *>(mb), "4,000,000,000");
}

TEST_F(NumberConversions, PiecesOfNumberText) {
  auto w = W("1,5");
  EXPECT_EQ(gl_iswgrpsymb(loc.get(), w.data() + 1, 0, 0), 1);
  EXPECT_EQ(gl_iswgrpsymb(loc.get(), w.data() + 1, 1, 0), 1);
  EXPECT_EQ(gl_iswgrpsymb(loc.get(), w.data() + 1, 0, 7), 0);
  EXPECT_EQ(gl_iswcdecml(loc.get(), W(".").data(), 0, 0), 1);
  EXPECT_EQ(gl_iswcexponent(W("e+5").data()), 2);
  EXPECT_EQ(gl_iswcexponent(W("E5").data()), 1);
  EXPECT_EQ(gl_iswcexponent(W("x").data()), 0);
  EXPECT_EQ(gl_getDecimalCharIndex(" -12.5"), 4);
  EXPECT_EQ(gl_getDecimalCharIndex("12,5"), 2);
  EXPECT_EQ(gl_getDecimalCharIndex("125"), -1);
}

/* ---- The C library as oracle -------------------------------------------------- */

TEST(NumberConversionsOracle, AgreesWithTheCLibraryWithoutGrouping) {
  glstest::TableGetenv env;
  struct Peer {
    const char *file;
    const char *source;
  };
  const Peer peers[] = {{"en_us/0333.lco", "en_US"}, {"de_de/0333.lco", "de_DE"}};
  std::mt19937 random(7);
  const char *tails[] = {"", " ", "x", "e", "e5", ".", ",", ",25", ".75", "E-3", "abc"};
  for (const Peer &p : peers) {
    lcotest::LocalePtr ours = numtest::shipped(env, p.file);
    locale_t peer = glstest::peer_locale(p.source, "ISO-8859-1");
    ASSERT_NE(peer, nullptr);
    for (int i = 0; i < 2000; ++i) {
      std::string text = std::string(random() % 3, ' ');
      if (random() % 3 == 0) text += random() % 2 ? "-" : "+";
      int digits = static_cast<int>(random() % 10);
      for (int d = 0; d < digits; ++d)
        text += static_cast<char>('0' + random() % 10);
      text += tails[random() % (sizeof tails / sizeof *tails)];
      if (random() % 4 == 0) text += std::to_string(random() % 1000);
      if (text.empty()) continue; /* an empty text is error 6 here */
      int bases[] = {10, 8, 16, 0};
      int base = bases[random() % 4];
      unsigned char *end = nullptr;
      char *peer_end = nullptr;
      ours->error = 0;
      long expected = strtol_l(text.c_str(), &peer_end, base, peer);
      int32_t got = gl_mbstol(ours.get(), U(text), &end, base, 0);
      if (expected >= INT32_MIN && expected <= INT32_MAX) {
        EXPECT_EQ(got, expected) << p.source << " '" << text << "' base " << base;
        EXPECT_EQ(reinterpret_cast<char *>(end) - text.c_str(), peer_end - text.c_str())
            << p.source << " '" << text << "'";
      }
      unsigned long uexpected = strtoul_l(text.c_str(), &peer_end, base, peer);
      uint32_t ugot = gl_mbstoul(ours.get(), U(text), &end, base, 0);
      if (text.find('-') == std::string::npos && uexpected <= UINT32_MAX) {
        EXPECT_EQ(ugot, uexpected) << p.source << " '" << text << "' base " << base;
        EXPECT_EQ(reinterpret_cast<char *>(end) - text.c_str(), peer_end - text.c_str());
      }
      if (text.find('x') != std::string::npos) continue; /* no hexadecimal doubles here */
      double dexpected = strtod_l(text.c_str(), &peer_end, peer);
      ours->error = 0;
      double dgot = gl_mbstod(ours.get(), U(text), &end, 0);
      if (std::isinf(dexpected)) continue; /* an overflow gives 2147483647.0 here */
      EXPECT_EQ(dgot, dexpected) << p.source << " '" << text << "'";
      EXPECT_EQ(reinterpret_cast<char *>(end) - text.c_str(), peer_end - text.c_str())
          << p.source << " '" << text << "'";
    }
  }
}

}  // namespace
