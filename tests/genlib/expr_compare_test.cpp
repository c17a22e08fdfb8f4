/*
** expr_compare_test.cpp: the evaluator's comparisons (`excmp`). Random
** typed pairs come from the committed Python table (oracle/expr_cases.txt,
** written by expr_oracle.py with Decimal, float and int); the rest are
** fixtures for what only some types do: blank padding, single-precision
** rounding, common DATETIME and INTERVAL qualifiers, NULL and errors.
** Built twice: DVZ_EXPR_UTF8 runs under a UTF-8 client locale, where an
** NCHAR operand can hold bytes that are no character.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "gen_expr.h"
#include "gen_types.h"
#include "os_gentcb.h"
#include "value_builders.h"

namespace {

using value_test::date_value;
using value_test::decimal_value;
using value_test::double_value;
using value_test::float_value;
using value_test::int8_value;
using value_test::int_value;
using value_test::null_value;
using value_test::text_value;
using value_test::time_value;

constexpr int qual_year_to_day = 0x0804;
constexpr int qual_year_to_second = 0x0E0A;
constexpr int qual_day_to_second = 0x0A4A;
constexpr int qual_hour_to_minute = 0x0468;
constexpr int qual_year_to_month = 0x0602;
constexpr int qual_month = 0x0422;

/* The six comparison outcomes as "=<><=<>=>" flags, or "E<error>", or
** "null" when the result is a NULL SMALLINT. */
std::string outcomes(value_t a, value_t b) {
  std::string flags;
  for (int op = EX_EQ; op <= EX_GT; ++op) {
    value_t x = a;
    value_t y = b;
    value_t r {};
    r.vind = 7;
    const int status = excmp(op, &x, &y, &r);
    if (status != 0) return "E" + std::to_string(status);
    if (r.vtype != sql_type_smallint) return "type " + std::to_string(r.vtype);
    if (r.vind == -1) {
      if (r.vint != 0) return "null with a value";
      flags = "null";
      continue;
    }
    if (r.vind != 0) return "indicator " + std::to_string(r.vind);
    flags += r.vint == 1 ? '1' : r.vint == 0 ? '0' : '?';
  }
  return flags;
}

/* A comparison operand of the table: TYPE:VALUE. text keeps a CHAR's
** bytes alive while the value points to them. */
value_t table_operand(const std::string &token, std::string &text) {
  const size_t colon = token.find(':');
  const std::string type = token.substr(0, colon);
  text = token.substr(colon + 1);
  if (type == "int") return int_value(sql_type_integer, std::stoi(text));
  if (type == "smallint") return int_value(sql_type_smallint, std::stoi(text));
  if (type == "int8") return int8_value(sql_type_int8, std::stoll(text));
  if (type == "decimal") return decimal_value(sql_type_decimal, text.c_str());
  if (type == "money") return decimal_value(sql_type_money, text.c_str());
  if (type == "float") {
    const uint64_t bits = std::stoull(text, nullptr, 16);
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return double_value(d);
  }
  EXPECT_EQ(type, "char");
  for (char &c : text)
    if (c == '_') c = ' ';
  return text_value(sql_type_char, text.data(), text.size());
}

TEST(Excmp, RandomTypedPairsAgreeWithPython) {
  std::ifstream table(DVZ_EXPR_CASES);
  ASSERT_TRUE(table.is_open()) << DVZ_EXPR_CASES;
  std::string line;
  int rows = 0;
  while (std::getline(table, line)) {
    if (line.rfind("cmp ", 0) != 0) continue;
    std::istringstream fields(line.substr(4));
    std::string first, second, expected;
    ASSERT_TRUE(fields >> first >> second >> expected) << line;
    std::string text1, text2;
    const value_t a = table_operand(first, text1);
    const value_t b = table_operand(second, text2);
    EXPECT_EQ(outcomes(a, b), expected) << line;
    ++rows;
  }
  EXPECT_GT(rows, 0);
}

struct fixture_case {
  const char *what;
  value_t a;
  value_t b;
  const char *expected; /* = <> <= < >= > */
};

TEST(Excmp, EachComparisonTypeOrdersItsOwnWay) {
  static char tab_text[] = "ab\t";
  const fixture_case cases[] = {
      {"CHAR pads the shorter side with blanks", text_value(sql_type_char, "ab"),
       text_value(sql_type_char, "ab   "), "101010"},
      {"a blank sorts above a tab", text_value(sql_type_char, "ab"),
       text_value(sql_type_char, tab_text), "010011"},
      {"VARCHAR against CHAR is still blank-padded", text_value(sql_type_varchar, "ab "),
       text_value(sql_type_char, "ab"), "101010"},
      {"SMALLFLOAT rounds the FLOAT side to single precision", float_value(0.1f), double_value(0.1),
       "101010"},
      {"SMALLFLOAT against INTEGER in single precision", float_value(16777216.0f),
       int_value(sql_type_integer, 16777217), "101010"},
      {"FLOAT keeps double precision", double_value(0.1), double_value(static_cast<double>(0.1f)),
       "011100"},
      {"INT8 beyond the doubles' exact integers",
       int8_value(sql_type_int8, INT64_C(9007199254740993)),
       int8_value(sql_type_int8, INT64_C(9007199254740992)), "010011"},
      {"INT8 against INTEGER", int8_value(sql_type_serial8, INT64_C(-5000000000)),
       int_value(sql_type_integer, -2147483647), "011100"},
      {"MONEY against DECIMAL by value", decimal_value(sql_type_money, "12.50"),
       decimal_value(sql_type_decimal, "12.5"), "101010"},
      {"DATE against DATE", date_value(2, 29, 2024), date_value(3, 1, 2024), "011100"},
      {"DATE against DATE text", date_value(1, 2, 2026), text_value(sql_type_char, "01/02/2026"),
       "101010"},
      {"DATETIMEs of different qualifiers through the common one",
       time_value(sql_type_datetime, "2026-01-02", qual_year_to_day),
       time_value(sql_type_datetime, "2026-01-02 00:00:00", qual_year_to_second), "101010"},
      {"a later second", time_value(sql_type_datetime, "2026-01-02 00:00:01", qual_year_to_second),
       time_value(sql_type_datetime, "2026-01-02", qual_year_to_day), "010011"},
      {"DATETIME against DATE", time_value(sql_type_datetime, "2024-02-29", qual_year_to_day),
       date_value(2, 29, 2024), "101010"},
      {"INTERVAL DAY TO SECOND against HOUR TO MINUTE",
       time_value(sql_type_interval, "1 00:00:00", qual_day_to_second),
       time_value(sql_type_interval, "24:00", qual_hour_to_minute), "101010"},
      {"a negative INTERVAL is smaller",
       time_value(sql_type_interval, "-0 01:00:00", qual_day_to_second),
       time_value(sql_type_interval, "00:01", qual_hour_to_minute), "011100"},
      {"INTERVAL YEAR TO MONTH against MONTH",
       time_value(sql_type_interval, "1-01", qual_year_to_month),
       time_value(sql_type_interval, "12", qual_month), "010011"},
      {"two NULLs are unknown, not equal", null_value(sql_type_integer),
       null_value(sql_type_integer), "null"},
      {"a NULL against a value", int_value(sql_type_integer, 1), null_value(sql_type_decimal),
       "null"},
      {"INTERVAL YEAR TO MONTH has no order against DAY TO SECOND",
       time_value(sql_type_interval, "1-00", qual_year_to_month),
       time_value(sql_type_interval, "1 00:00:00", qual_day_to_second), "E-1266"},
      {"text that is no number", text_value(sql_type_char, "1x"), int_value(sql_type_integer, 1),
       "E-1213"},
      {"BOOLEAN has no number", text_value(sql_type_boolean, "\1", 1),
       int_value(sql_type_smallint, 1), "E-1260"},
  };
  for (const fixture_case &c : cases)
    EXPECT_EQ(outcomes(c.a, c.b), c.expected) << c.what;
}

TEST(Excmp, ConversionErrorIsLeftInTheErrorWord) {
  value_t a = text_value(sql_type_char, "1x");
  value_t b = int_value(sql_type_integer, 1);
  value_t r {};
  EXPECT_EQ(excmp(EX_EQ, &a, &b, &r), -1213);
  EXPECT_EQ(get_toerrno(), -1213);
}

TEST(Excmp, ResultMayBeAnOperand) {
  value_t a = int_value(sql_type_integer, 3);
  value_t b = decimal_value(sql_type_decimal, "2.5");
  ASSERT_EQ(excmp(EX_GT, &a, &b, &a), 0);
  EXPECT_EQ(a.vtype, sql_type_smallint);
  EXPECT_EQ(a.vind, 0);
  EXPECT_EQ(a.vint, 1);
  value_t c = int_value(sql_type_integer, 3);
  value_t d = null_value(sql_type_integer);
  ASSERT_EQ(excmp(EX_EQ, &c, &d, &d), 0);
  EXPECT_EQ(d.vtype, sql_type_smallint);
  EXPECT_EQ(d.vind, -1);
}

TEST(Excmp, MatchesAndLikeGoToTheMatcher) {
  const struct {
    int op;
    const char *pattern;
    int expected;
  } cases[] = {
      {EX_MATCHES, "a*c", 1}, {EX_NOTMATCHES, "a*c", 0}, {EX_LIKE, "a%c", 1},
      {EX_NOTLIKE, "a%c", 0}, {EX_LIKE, "a*c", 0},       {EX_MATCHES, "a_c", 0},
  };
  for (const auto &c : cases) {
    value_t v = text_value(sql_type_char, "abc");
    value_t p = text_value(sql_type_char, c.pattern);
    value_t r {};
    ASSERT_EQ(excmp(c.op, &v, &p, &r), 0) << c.pattern;
    EXPECT_EQ(r.vint, c.expected) << c.op << " " << c.pattern;
  }
  value_t n = int_value(sql_type_integer, 1);
  value_t p = text_value(sql_type_char, "1");
  value_t r {};
  EXPECT_EQ(excmp(EX_LIKE, &n, &p, &r), -1203);
}

TEST(Excmp, NcharComparesByTheLocale) {
  EXPECT_EQ(outcomes(text_value(sql_type_nchar, "abc  "), text_value(sql_type_nvarchar, "abc")),
            "101010");
  EXPECT_EQ(outcomes(text_value(sql_type_nchar, "abc"), text_value(sql_type_char, "abd")),
            "011100");
}

#ifdef DVZ_EXPR_UTF8
TEST(Excmp, InvalidCharactersMakeEveryNcharComparisonFalse) {
  static char broken[] = "ab\xC3";
  EXPECT_EQ(outcomes(text_value(sql_type_nchar, broken), text_value(sql_type_nchar, "ab")),
            "000000");
  EXPECT_EQ(get_toerrno(), 0);
  EXPECT_EQ(outcomes(text_value(sql_type_nchar, "\xC3\xA9"), text_value(sql_type_nchar, "e")),
            "010011");
}
#endif

}  // namespace
