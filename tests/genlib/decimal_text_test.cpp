/*
** DECIMAL text under the en_us conventions of the build's locale tree:
** reading (signs, grouping, exponents, hexadecimal, the digit limit),
** fixed, exponential and display text, and the digit strings.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "dec_repr.h"
#include "gen_decimal.h"
#include "gen_dectext.h"

namespace {

using dec_test::repr;

dec_t from_text(const char *text) {
  dec_t value {};
  EXPECT_EQ(deccvasc(text, static_cast<int>(std::strlen(text)), &value), 0) << text;
  return value;
}

struct ReadCase {
  const char *text;
  int status;
  const char *value;
};

TEST(DecimalFromText, ReadsSignsGroupingExponentsAndHexadecimal) {
  const ReadCase cases[] = {
      {"   ", 0, "null"},
      {"-", -1213, "+@-64"},
      {"+7", 0, "+07@1"},
      {".5", 0, "+50@0"},
      {"0.000", 0, "+@-64"},
      {"1,234.5", 0, "+123450@2"},
      {"1,234,567.25", 0, "+0123456725@4"},
      {"-123,456.5", 0, "-12345650@3"},
      {"1,234 ", 0, "+1234@2"},
      {"12,34", -1213, "+@-64"},
      {"1.234,5", -1213, "+@-64"},
      {"1.2.3", -1213, "+@-64"},
      {" 1.5e3 \n", 0, "+15@2"},
      {"2.5E-3", 0, "+25@-1"},
      {"1e124", 0, "+01@63"},
      {"1e125", -1213, "+@-64"},
      {"1e-130", 0, "+01@-64"},
      {"1e-131", -1213, "+@-64"},
      {"0x1F", 0, "+31@1"},
      {"-0x10", 0, "-16@1"},
      {"0x1G", -1213, "+@-64"},
      {"12a", -1213, "+@-64"},
      {"x", -1213, "+@-64"},
      {"12\nx", -1213, "+@-64"},
      {"1234567890123456789012345678901234567890", 0, "+12345678901234567890123456789012@20"},
      {"123456789012345678901234567890123", 0, "+01234567890123456789012345678901@17"},
  };
  for (const ReadCase &c : cases) {
    dec_t value {};
    value.sign = 1;
    EXPECT_EQ(deccvasc(c.text, static_cast<int>(std::strlen(c.text)), &value), c.status) << c.text;
    EXPECT_EQ(repr(value), c.value) << c.text;
  }
}

TEST(DecimalFromText, ReadsOnlyTheGivenLength) {
  const char text[] = {'1', '2', '3', '4', '5'};
  dec_t value {};
  ASSERT_EQ(deccvasc(text, 3, &value), 0);
  EXPECT_EQ(repr(value), "+0123@2");
  /* The grouping check stops at the length too. */
  const char grouped[] = {'1', ',', '2', '3', '4', ',', '5'};
  ASSERT_EQ(deccvasc(grouped, 5, &value), 0);
  EXPECT_EQ(repr(value), "+1234@2");
  /* A text longer than the local copy is copied to the heap. */
  std::string padded(60, ' ');
  padded += "-42.25";
  ASSERT_EQ(deccvasc(padded.data(), static_cast<int>(padded.size()), &value), 0);
  EXPECT_EQ(repr(value), "-4225@1");
}

/* The generated table: random and boundary texts with the value exact
** decimal arithmetic gives them (cut to 32 digits), and the fixed text of
** values rounded half up to a number of places. */
TEST(DecimalTextOracle, MatchesTheGeneratedTable) {
  std::ifstream table(DVZ_TEXT_CASES);
  ASSERT_TRUE(table.is_open()) << DVZ_TEXT_CASES;
  std::string line;
  int checked = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string kind;
    std::string text;
    int number = 0;
    std::string expected;
    ASSERT_TRUE(fields >> kind >> text >> number >> expected) << line;
    dec_t value {};
    if (kind == "read") {
      EXPECT_EQ(deccvasc(text.data(), static_cast<int>(text.size()), &value), number) << text;
      EXPECT_EQ(repr(value), expected) << text;
    } else {
      ASSERT_EQ(kind, "fixed");
      ASSERT_EQ(deccvasc(text.data(), static_cast<int>(text.size()), &value), 0) << text;
      char field[64];
      ASSERT_EQ(dectoasc(&value, field, sizeof field, number), 0) << text;
      std::string written(field, sizeof field);
      written.erase(written.find_last_not_of(' ') + 1);
      EXPECT_EQ(written, expected) << text << " to " << number << " places";
    }
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

struct FixedCase {
  const char *value;
  int length;
  int places;
  int status;
  const char *field;
};

TEST(DecimalToText, FitsTheFieldByRoundingOrExponent) {
  const FixedCase cases[] = {
      {"1234.5", 6, -1, 0, "1234.5"},
      {"1234.5", 5, -1, 0, "1235 "},
      {"1234.5", 10, 3, 0, "1234.500  "},
      {"-0.001", 5, 2, 0, "0.00 "},
      {"-12.5", 6, 2, 0, "-12.50"},
      {"0.995", 4, 2, 0, "1.00"},
      {"1e20", 8, -1, 0, "1e20    "},
      {"0.000012", 8, -1, 0, "0.000012"},
      {"0.000012", 6, -1, 0, "1e-05 "},
      {"-1.5e-120", 9, -1, 0, "-1.5e-120"},
      {"1e100", 3, -1, -1, "***"},
      {"0", 4, -1, 0, "0.0 "},
      {"", 4, 2, 0, "    "},
  };
  for (const FixedCase &c : cases) {
    dec_t value = from_text(c.value);
    std::string field(static_cast<size_t>(c.length), '?');
    EXPECT_EQ(dectoasc(&value, field.data(), c.length, c.places), c.status) << c.value;
    EXPECT_EQ(field, c.field) << c.value << " in " << c.length;
  }
}

TEST(DecimalToText, ExponentialTextReportsAFieldTooShort) {
  dec_t value = from_text("-123.456");
  char field[12];
  ASSERT_EQ(dectoexp(&value, field, 12, 3, 1), 0);
  EXPECT_EQ(std::string(field, 12), "-1.23456e02 ");
  ASSERT_EQ(dectoexp(&value, field, 8, 3, 1), 0);
  EXPECT_EQ(std::string(field, 8), "-1.23e02");
  EXPECT_EQ(dectoexp(&value, field, 5, 3, 1), 1);
}

TEST(DecimalToText, DisplayTextKeepsTheSignAndEndsTheFractionWithZeroBytes) {
  dec_t half = from_text("0.5");
  char field[6];
  ASSERT_EQ(dbltoasc(&half, field, 6, 3), 0);
  EXPECT_EQ(std::string(field, 6), std::string("0.5\0\0 ", 6));
  dec_t negative_zero = from_text("-0.001");
  ASSERT_EQ(dbltoasc(&negative_zero, field, 6, 2), 0);
  EXPECT_EQ(std::string(field, 6), "-0.00 ");
  dec_t whole = from_text("-2.5");
  ASSERT_EQ(dbltoasc(&whole, field, 6, 2), 0);
  EXPECT_EQ(std::string(field, 6), "-2.50 ");
}

struct DigitCase {
  const char *value;
  int ndigit;
  int mode;
  const char *digits;
  int point;
  int negative;
};

TEST(DigitStrings, RoundAndPadByMode) {
  const DigitCase cases[] = {
      {"0.996", 2, 1, "100", 1, 0},  {"12345", 3, 0, "123", 5, 0}, {"12355", 3, 0, "124", 5, 0},
      {"-99.96", 3, 0, "100", 3, 1}, {"1.5", 4, 0, "1500", 1, 0},  {"0.0012", 2, 1, "", -2, 0},
      {"0.0012", 1, 1, "0", 0, 0},   {"0.006", 2, 1, "1", -1, 0},  {"0.04", 1, 2, "0", -1, 0},
      {"0.06", 1, 2, "1", 0, 0},     {"0", 3, 0, "000", 0, 0},
  };
  for (const DigitCase &c : cases) {
    dec_t value = from_text(c.value);
    int point = -99;
    int negative = -1;
    const char *digits = deccvt(&value, c.ndigit, &point, &negative, c.mode);
    ASSERT_NE(digits, nullptr);
    EXPECT_STREQ(digits, c.digits) << c.value << " mode " << c.mode;
    EXPECT_EQ(point, c.point) << c.value << " mode " << c.mode;
    EXPECT_EQ(negative, c.negative) << c.value;
  }
}

TEST(DigitStrings, NullGivesBlanksAndLeavesPointAndSign) {
  dec_t null_value = from_text("");
  int point = 7;
  int negative = 7;
  EXPECT_STREQ(deccvt(&null_value, 3, &point, &negative, 0), "   ");
  EXPECT_STREQ(deccvt(&null_value, 0, &point, &negative, 2), "0");
  EXPECT_EQ(point, 7);
  EXPECT_EQ(negative, 7);
}

TEST(DigitStrings, CallerBufferMustHoldTheTerminator) {
  dec_t value = from_text("3.14159");
  int point = 0;
  int negative = 0;
  char buffer[6];
  EXPECT_EQ(dvz_dececvt(&value, 5, &point, &negative, buffer, 5), -1273);
  EXPECT_EQ(dvz_dececvt(&value, 5, &point, &negative, nullptr, 6), -1273);
  ASSERT_EQ(dvz_dececvt(&value, 5, &point, &negative, buffer, 6), 0);
  EXPECT_STREQ(buffer, "31416");
  EXPECT_EQ(point, 1);
  ASSERT_EQ(dvz_decfcvt(&value, 2, &point, &negative, buffer, 6), 0);
  EXPECT_STREQ(buffer, "314");
}

TEST(DigitStrings, HugeDigitCountFailsTheBufferGrowthCleanly) {
  dec_t value = from_text("1e100");
  int point = 0;
  int negative = 0;
  EXPECT_EQ(decfcvt(&value, 2147483647, &point, &negative), nullptr);
  EXPECT_STREQ(dececvt(&value, 2, &point, &negative), "10");
}

}  // namespace
