/*
** MONEY text: the currency symbols and monetary decimal point around a
** decimal text, and the locale-library style MONEY entry points. Built
** three times, one process each: under en_us with DBMONEY unset (no
** definition), with DBMONEY "$," (DVZ_MONEY_DOLLAR_COMMA: front symbol $,
** "," the decimal point in force and the monetary one, "." the thousands
** separator) and with DBMONEY "DM,EUR" (DVZ_MONEY_SYMBOL_PAIR: front DM,
** back EUR, the same separators).
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dec_repr.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gl_locale.h"
#include "os_glsenv.h"
#include "os_lconv.h"
#include "saved_conventions.h"

namespace {

using dec_test::repr;

constexpr char guard = 'G';

int locale_error() { return CheckGlsEnv()->locale->error; }

/* rmondec over a heap copy of exactly length bytes of text, so that a
** read past the length is an address-sanitizer report; the text it wrote
** and how many bytes it read. */
std::string strip_money(const char *text, int length, int *read) {
  std::unique_ptr<char[]> copy(new char[static_cast<size_t>(length > 0 ? length : 1)]);
  std::memcpy(copy.get(), text, static_cast<size_t>(length));
  std::unique_ptr<char[]> out(new char[static_cast<size_t>(length) + 1]);
  const char *stop = rmondec(copy.get(), length, out.get());
  *read = static_cast<int>(stop - copy.get());
  return out.get();
}

/* The stripping cases of one process's symbols. */
struct StripCase {
  const char *text;
  int length; /* -1: the whole text */
  const char *decimal;
  int read;
};

void check_strip(const StripCase *cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const StripCase &c = cases[i];
    int length = c.length < 0 ? static_cast<int>(std::strlen(c.text)) : c.length;
    SCOPED_TRACE(std::string(c.text, static_cast<size_t>(length)));
    int read = -1;
    EXPECT_EQ(strip_money(c.text, length, &read), c.decimal);
    EXPECT_EQ(read, c.read);
  }
}

/* The formatting cases of one process: value, size, status, text and
** the locale error of a failure. */
struct FormatCase {
  const char *value;
  int size;
  const char *format;
  int status;
  const char *text;
  int error;
};

void check_format(const FormatCase *cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const FormatCase &c = cases[i];
    SCOPED_TRACE(std::string(c.value) + " in " + std::to_string(c.size) + " with " +
                 (c.format != nullptr ? c.format : "(none)"));
    dec_t value {};
    ASSERT_EQ(deccvasc(c.value, static_cast<int>(std::strlen(c.value)), &value), 0);
    char buffer[128];
    std::memset(buffer, guard, sizeof buffer);
    int field = c.size == 0 ? 80 : (c.size < 0 ? 0 : c.size);
    EXPECT_EQ(dvz_gl_format_money(buffer, c.size, &value, c.format), c.status);
    if (c.status == 0) {
      EXPECT_STREQ(buffer, c.text);
    } else {
      EXPECT_EQ(locale_error(), c.error);
    }
    for (size_t b = static_cast<size_t>(field); b < sizeof buffer; ++b)
      ASSERT_EQ(buffer[b], guard) << "byte " << b;
  }
}

/* The reading cases of one process: text, format, status, DECIMAL form
** and the locale error of a failure. */
struct ConvertCase {
  const char *text;
  const char *format;
  int status;
  const char *value;
  int error;
};

void check_convert(const ConvertCase *cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const ConvertCase &c = cases[i];
    SCOPED_TRACE(std::string(c.text) + " with " + (c.format != nullptr ? c.format : "(none)"));
    dec_t value {};
    EXPECT_EQ(dvz_gl_convert_money(&value, c.text, c.format), c.status);
    if (c.status == 0) {
      EXPECT_EQ(repr(value), c.value);
    } else {
      EXPECT_EQ(locale_error(), c.error);
    }
  }
}

std::string decorate(const char *text) {
  char out[128];
  EXPECT_EQ(rdecmon(text, out), 0);
  return out;
}

#if defined(DVZ_MONEY_DOLLAR_COMMA)

TEST(MoneyDollarComma, SymbolsAroundTheCommaPoint) {
  ASSERT_STREQ(std::getenv("DBMONEY"), "$,");
  EXPECT_EQ(decorate("12,50"), "$12,50");
  EXPECT_EQ(decorate("-0,5"), "$-0,5");
  const StripCase cases[] = {
      {"$1.234,50", -1, "1234,50", 9},
      {"  $7,25  ", -1, "7,25  ", 9},
      {"1.234.567", -1, "1234567", 9},
      {"$1.234,50", 4, "12", 4},
  };
  check_strip(cases, std::size(cases));
}

TEST(MoneyDollarComma, FormattedOutputTakesTheComma) {
  char text[32] = "1.5e+200";
  ASSERT_EQ(rdecstr(text, 20, 0), 0);
  EXPECT_STREQ(text, "1,5e+200");
  /* An exponential text that does not fit is refused, never cut. */
  std::strcpy(text, "1.5e+200");
  EXPECT_EQ(rdecstr(text, 4, 0), -1273);
  EXPECT_STREQ(text, "1.5e+200");
  std::strcpy(text, "1234.5678");
  ASSERT_EQ(rdecstr(text, 6, 0), 0);
  EXPECT_STREQ(text, "1234");
  std::strcpy(text, "1234.5678");
  EXPECT_EQ(rdecstr(text, 6, 1), -1273);
  EXPECT_STREQ(text, "1234.5678");

  char out[32];
  ASSERT_EQ(gDecstrtoANSI("1234,5", out, sizeof out), 0);
  EXPECT_STREQ(out, "1234.5");
  ASSERT_EQ(dvz_gl_format_double(out, sizeof out, -2.5, nullptr), 0);
  EXPECT_STREQ(out, "-2,5");
  ASSERT_NE(_gnftoasc(1e200, out, 30, 1), nullptr);
  EXPECT_STREQ(out, "1,000000000000000e+200");
}

TEST(MoneyDollarComma, TextReadersTakeTheComma) {
  double d = 0;
  ASSERT_EQ(rstod_pload("1,5", &d), 0);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(rstod_pload("1.5", &d), -1213);
  ASSERT_EQ(rstod_pload(",25e2", &d), 0);
  EXPECT_EQ(d, 25);
  ASSERT_EQ(rstod("2,5e1", &d), 0);
  EXPECT_EQ(d, 25);
}

TEST(MoneyDollarComma, ConvertAndFormat) {
  const ConvertCase converts[] = {
      {"$1.234,50", nullptr, 0, "+123450@2", 0},
      {"$-0,5", nullptr, 0, "-50@0", 0},
      {"$1,2,3", nullptr, -1, nullptr, 9},
  };
  check_convert(converts, std::size(converts));
  const FormatCase formats[] = {
      {"1234,5", 20, nullptr, 0, "$1234,50", 0},
      {"-7", 0, nullptr, 0, "$-7,00", 0},
      {"1234,5", 1, nullptr, -1, nullptr, 9},
  };
  check_format(formats, std::size(formats));
}

#elif defined(DVZ_MONEY_SYMBOL_PAIR)

TEST(MoneySymbolPair, SymbolsOnBothSides) {
  ASSERT_STREQ(std::getenv("DBMONEY"), "DM,EUR");
  EXPECT_EQ(rfrontlen(), 2);
  EXPECT_EQ(rbacklen(), 3);
  EXPECT_EQ(decorate("12,5"), "DM12,5EUR");
  const StripCase cases[] = {
      {"DM1.234,50EUR", -1, "1234,50", 10},
      {"D7,5", -1, "7,5", 4},
      {"DM7,5E", -1, "7,5", 5},
      {" DMDM3", -1, "DM3", 6},
      {"DM1.234,50EUR", 6, "123", 6},
  };
  check_strip(cases, std::size(cases));
}

TEST(MoneySymbolPair, ConvertAndFormat) {
  const ConvertCase converts[] = {
      {"DM1.234,50EUR", nullptr, 0, "+123450@2", 0},
      {"12,5EUR", nullptr, 0, "+1250@1", 0},
      {"DM12x", nullptr, -1, nullptr, 9},
  };
  check_convert(converts, std::size(converts));
  /* The room is the field less both symbols and the terminator. */
  const FormatCase formats[] = {
      {"1234,5", 20, nullptr, 0, "DM1234,50EUR", 0}, {"1234,5", 11, nullptr, 0, "DM1235EUR", 0},
      {"1234,5", 5, nullptr, -1, nullptr, 9},        {"1234,5", 6, nullptr, -1, nullptr, 9},
      {"1234,5", 7, nullptr, -1, nullptr, 9},
  };
  check_format(formats, std::size(formats));
}

#else

TEST(MoneyEnUs, SymbolsAroundTheText) {
  ASSERT_EQ(std::getenv("DBMONEY"), nullptr);
  EXPECT_EQ(decorate("12.50"), "$12.50");
  EXPECT_EQ(decorate(""), "$");
  const StripCase cases[] = {
      {"$1,234.50", -1, "1234.50", 9},
      {"   $5", -1, "5", 5},
      {"7.25", -1, "7.25", 4},
      {"$1,234.50", 3, "1", 3},
      {"$12\0"
       "34",
       6, "12", 3},
      {"", 0, "", 0},
      {"   ", -1, "", 3},
  };
  check_strip(cases, std::size(cases));
}

TEST(MoneyEnUs, ConvertMoneyText) {
  const ConvertCase cases[] = {
      {"$1,234.50", nullptr, 0, "+123450@2", 0},
      {"  $-12.5", nullptr, 0, "-1250@1", 0},
      {"$", nullptr, 0, "null", 0},
      {"abc", nullptr, -1, nullptr, 9},
      {"$1e500", nullptr, -1, nullptr, 9},
      {"$1234.50", "%n", 0, "+123450@2", 0},
      {"$1,234.50", "%'n", 0, "+123450@2", 0},
      {"$1,234.50", "%n %n", -1, nullptr, 22},
  };
  check_convert(cases, std::size(cases));
}

TEST(MoneyEnUs, FormatMoneyText) {
  const FormatCase cases[] = {
      {"1234.5", 20, nullptr, 0, "$1234.50", 0}, {"1234.5", 0, nullptr, 0, "$1234.50", 0},
      {"-0.125", 200, nullptr, 0, "$-0.13", 0},  {"1234.5", 6, nullptr, 0, "$1235", 0},
      {"1234.5", 1, nullptr, -1, nullptr, 9},    {"1234.5", 2, nullptr, -1, nullptr, 9},
      {"1234.5", 4, nullptr, -1, nullptr, 9},    {"1234.5", -1, nullptr, -1, nullptr, 9},
      {"1234.5", 20, "%n", 0, "$1,234.50", 0},   {"1234.5", 20, "%n and %n", -1, nullptr, 22},
  };
  check_format(cases, std::size(cases));
}

/* The decimal points of the current environment changed for the test's
** duration (a fixture puts them back): the writers must stay within
** their buffers when one point is longer than the other. */
class MoneyUnevenPoints : public SavedConventions {};

TEST_F(MoneyUnevenPoints, StrippingStopsBeforeTextThatDoesNotFit) {
  set_mark(lc_->decimal_point, &lc_->decimal_point_len, "\xB7\xB7");
  int read = -1;
  EXPECT_EQ(strip_money("1.5", 3, &read), "1\xB7\xB7");
  EXPECT_EQ(read, 2);
  /* The locale-library entry point reads the whole text. */
  dec_t value {};
  ASSERT_EQ(dvz_gl_convert_money(&value, "$1.5", nullptr), 0);
  EXPECT_EQ(repr(value), "+0150@1");
}

TEST_F(MoneyUnevenPoints, FormattingRefusesATextLongerThanTheField) {
  set_mark(lc_->mon_decimal_point, &lc_->mon_decimal_point_len, "\xB7\xB7");
  const FormatCase cases[] = {
      {"1234.5", 20, nullptr, 0,
       "$1234\xB7\xB7"
       "50",
       0},
      {"1234.5", 8, nullptr, -1, nullptr, 14},
  };
  check_format(cases, std::size(cases));
}

#endif

}  // namespace
