/*
** expr_arith_test.cpp: the evaluator's arithmetic. DECIMAL sums, products
** and quotients come from the committed Python table (oracle/
** expr_cases.txt, exact Decimal arithmetic with the result precision);
** a table of typed cases covers the result types, the NULL results and
** the failures; unary minus has its own table.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "dec_repr.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_expr.h"
#include "gen_int8.h"
#include "gen_types.h"
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
constexpr int qual_day_to_hour = 0x0646;
constexpr int qual_hour_to_minute = 0x0468;
constexpr int qual_day = 0x0244;

using binary_fn = int (*)(value_t *, value_t *, value_t *);

/* A DECIMAL of the table's P,S:VALUE operand. */
value_t table_decimal(const std::string &token) {
  const size_t comma = token.find(',');
  const size_t colon = token.find(':');
  const int p = std::stoi(token.substr(0, comma));
  const int s = std::stoi(token.substr(comma + 1, colon - comma - 1));
  return decimal_value(sql_type_decimal, token.substr(colon + 1).c_str(), p << 8 | s);
}

TEST(Arithmetic, DecimalResultsAgreeWithPython) {
  std::ifstream table(DVZ_EXPR_CASES);
  ASSERT_TRUE(table.is_open()) << DVZ_EXPR_CASES;
  std::string line;
  int rows = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string op, first, second, word, expected;
    int status = 0;
    if (!(fields >> op) || (op != "add" && op != "mul" && op != "div")) continue;
    ASSERT_TRUE(fields >> first >> second >> word >> expected >> status) << line;
    value_t a = table_decimal(first);
    value_t b = table_decimal(second);
    value_t r {};
    const binary_fn fn = op == "add" ? exadd : op == "mul" ? exmul : exdiv;
    EXPECT_EQ(fn(&a, &b, &r), status) << line;
    EXPECT_EQ(r.vtype, sql_type_decimal) << line;
    EXPECT_EQ(r.vind, 0) << line;
    EXPECT_EQ(static_cast<uint16_t>(r.vprec), std::stoi(word, nullptr, 16)) << line;
    EXPECT_EQ(dec_test::repr(r.vdec), expected) << line;
    ++rows;
  }
  EXPECT_GT(rows, 0);
}

/* What a result should be: its type, indicator and precision word, and
** its value as text (by the result type: a DECIMAL's plain digits, a
** number, DATETIME or INTERVAL text in the result's qualifier). */
struct expected_result {
  int status;
  int type;
  int ind;
  int prec;
  const char *value;
};

::testing::AssertionResult result_is(const value_t &r, int status, const expected_result &e) {
  if (status != e.status) return ::testing::AssertionFailure() << "status " << status;
  if (status != 0 && e.type < 0) return ::testing::AssertionSuccess();
  if ((r.vtype & 0xFF) != e.type) return ::testing::AssertionFailure() << "type " << r.vtype;
  if (r.vind != e.ind) return ::testing::AssertionFailure() << "indicator " << r.vind;
  if (static_cast<uint16_t>(r.vprec) != e.prec)
    return ::testing::AssertionFailure() << "precision word " << std::hex << r.vprec;
  if (e.ind != 0 || e.value == nullptr) return ::testing::AssertionSuccess();
  std::string got;
  switch (e.type) {
    case sql_type_decimal:
    case sql_type_money:
      got = dec_test::plain(r.vdec);
      break;
    case sql_type_float:
      got = std::to_string(r.vdouble);
      break;
    case sql_type_datetime:
    case sql_type_interval: {
      dec_t want {};
      const int qual = static_cast<uint16_t>(r.vprec);
      const int rc = e.type == sql_type_datetime ? rstrdtime(e.value, &want, qual)
                                                 : rstrinv(e.value, &want, qual);
      if (rc != 0) return ::testing::AssertionFailure() << "bad expected text " << e.value;
      char buffer[81] = "";
      if (e.type == sql_type_datetime)
        rdtimestr(&r.vdec, qual, buffer);
      else
        rinvstr(&r.vdec, qual, buffer);
      if (r.vdec.sign == want.sign && deccmp(&r.vdec, &want) == 0)
        return ::testing::AssertionSuccess();
      return ::testing::AssertionFailure() << "value \"" << buffer << "\"";
    }
    default:
      got = std::to_string(r.vint);
      break;
  }
  if (got != e.value) return ::testing::AssertionFailure() << "value " << got;
  return ::testing::AssertionSuccess();
}

struct arith_case {
  const char *what;
  binary_fn fn;
  value_t a;
  value_t b;
  expected_result expected;
};

TEST(Arithmetic, ResultTypesAndFailures) {
  const value_t feb28 = date_value(2, 28, 2024);
  const value_t mar1 = date_value(3, 1, 2024);
  const std::string mar1_text = std::to_string(mar1.vint);
  const arith_case cases[] = {
      {"INTEGER + INTEGER is DECIMAL",
       exadd,
       int_value(sql_type_integer, 2147483647),
       int_value(sql_type_integer, 1),
       {0, sql_type_decimal, 0, 0x0B00, "2147483648"}},
      {"SMALLINT * INTEGER",
       exmul,
       int_value(sql_type_smallint, -300),
       int_value(sql_type_integer, 70000),
       {0, sql_type_decimal, 0, 0x0F00, "-21000000"}},
      {"INTEGER / INTEGER keeps the fraction",
       exdiv,
       int_value(sql_type_integer, 1),
       int_value(sql_type_integer, 3),
       {0, sql_type_decimal, 0, 0x14FF, "0.33333333333333333333"}},
      {"DECIMAL by zero",
       exdiv,
       decimal_value(sql_type_decimal, "5"),
       decimal_value(sql_type_decimal, "0"),
       {-1202, sql_type_decimal, 0, 0x10FF, "0"}},
      {"text operands are numbers",
       exsub,
       text_value(sql_type_char, "10.5"),
       int_value(sql_type_smallint, 3),
       {0, sql_type_decimal, 0, 0x11FF, "7.5"}},
      {"text that is no number leaves NULL",
       exadd,
       text_value(sql_type_char, "x"),
       int_value(sql_type_integer, 1),
       {-1213, sql_type_decimal, -1, 0x11FF, nullptr}},
      {"MONEY times INTEGER stays MONEY",
       exmul,
       decimal_value(sql_type_money, "1.25", 0x1002),
       int_value(sql_type_integer, 4),
       {0, sql_type_money, 0, 0x1A02, "5"}},
      {"MONEY by MONEY is DECIMAL",
       exdiv,
       decimal_value(sql_type_money, "5.00", 0x1002),
       decimal_value(sql_type_money, "2.00", 0x1002),
       {0, sql_type_decimal, 0, 0x20FF, "2.5"}},
      {"FLOAT stays FLOAT",
       exadd,
       double_value(0.1),
       double_value(0.2),
       {0, sql_type_float, 0, 0x11FF, nullptr}},
      {"FLOAT overflow",
       exmul,
       double_value(1e308),
       double_value(10.0),
       {-1223, -1, 0, 0, nullptr}},
      {"FLOAT by zero gives 0",
       exdiv,
       double_value(1.5),
       int_value(sql_type_integer, 0),
       {-1202, sql_type_float, 0, 0x1AFF, "0.000000"}},
      {"SMALLFLOAT arithmetic is FLOAT",
       exsub,
       float_value(1.5f),
       float_value(0.25f),
       {0, sql_type_float, 0, 0x09FF, "1.250000"}},
      {"DATE - DATE is an INTEGER", exsub, mar1, feb28, {0, sql_type_integer, 0, 0x0B00, "2"}},
      {"DATE - date text is an INTEGER",
       exsub,
       mar1,
       text_value(sql_type_char, "02/28/2024"),
       {0, sql_type_integer, 0, 0x11FF, "2"}},
      {"DATE + INTEGER is a DATE",
       exadd,
       feb28,
       int_value(sql_type_integer, 2),
       {0, sql_type_date, 0, 0x0B00, mar1_text.c_str()}},
      {"DATE / INTEGER is an INTEGER",
       exdiv,
       int_value(sql_type_date, 101),
       int_value(sql_type_integer, 10),
       {0, sql_type_integer, 0, 0x14FF, "10"}},
      {"DATE by zero",
       exdiv,
       feb28,
       int_value(sql_type_integer, 0),
       {-1202, sql_type_integer, 0, 0x14FF, "0"}},
      {"DATE beyond 9999-12-31",
       exadd,
       date_value(12, 31, 9999),
       int_value(sql_type_integer, 1),
       {-1210, sql_type_date, -1, 0x0B00, nullptr}},
      {"DATETIME - DATETIME is an INTERVAL",
       exsub,
       time_value(sql_type_datetime, "2026-03-01 12:00:00", qual_year_to_second),
       time_value(sql_type_datetime, "2026-02-28 00:00:00", qual_year_to_second),
       {0, sql_type_interval, 0, 0x0E4A, "1 12:00:00"}},
      {"DATE - DATETIME is an INTERVAL",
       exsub,
       mar1,
       time_value(sql_type_datetime, "2024-02-28", qual_year_to_day),
       {0, sql_type_interval, 0, 0x0844, "2"}},
      {"DATETIME + INTERVAL",
       exadd,
       time_value(sql_type_datetime, "2024-02-28", qual_year_to_day),
       time_value(sql_type_interval, "2", qual_day),
       {0, sql_type_datetime, 0, qual_year_to_day, "2024-03-01"}},
      {"INTERVAL + DATETIME takes the DATETIME first",
       exadd,
       time_value(sql_type_interval, "2", qual_day),
       time_value(sql_type_datetime, "2024-02-28", qual_year_to_day),
       {0, sql_type_datetime, 0, qual_year_to_day, "2024-03-01"}},
      {"DATETIME - INTERVAL",
       exsub,
       time_value(sql_type_datetime, "2024-03-01", qual_year_to_day),
       time_value(sql_type_interval, "1", qual_day),
       {0, sql_type_datetime, 0, qual_year_to_day, "2024-02-29"}},
      {"DATE + INTERVAL is a DATETIME",
       exadd,
       feb28,
       time_value(sql_type_interval, "1", qual_day),
       {0, sql_type_datetime, 0, qual_year_to_day, "2024-02-29"}},
      {"DATETIME times a number",
       exmul,
       time_value(sql_type_datetime, "2024-02-28", qual_year_to_day),
       int_value(sql_type_integer, 2),
       {-1260, -1, 0, 0, nullptr}},
      {"INTERVAL + INTERVAL of other units",
       exadd,
       time_value(sql_type_interval, "1 02", qual_day_to_hour),
       time_value(sql_type_interval, "03:30", qual_hour_to_minute),
       {0, sql_type_interval, 0, qual_day_to_hour, "1 05"}},
      {"INTERVAL - INTERVAL",
       exsub,
       time_value(sql_type_interval, "1 02", qual_day_to_hour),
       time_value(sql_type_interval, "1 03", qual_day_to_hour),
       {0, sql_type_interval, 0, qual_day_to_hour, "-0 01"}},
      {"INTERVAL times a number",
       exmul,
       time_value(sql_type_interval, "01:30", qual_hour_to_minute),
       int_value(sql_type_integer, 3),
       {0, sql_type_interval, 0, 0x0B68, "4:30"}},
      {"a number times an INTERVAL",
       exmul,
       decimal_value(sql_type_decimal, "0.5"),
       time_value(sql_type_interval, "01:30", qual_hour_to_minute),
       {0, sql_type_interval, 0, qual_hour_to_minute, "0:45"}},
      {"INTERVAL by a number",
       exdiv,
       time_value(sql_type_interval, "3 00", qual_day_to_hour),
       int_value(sql_type_integer, 4),
       {0, sql_type_interval, 0, qual_day_to_hour, "0 18"}},
      {"INTERVAL by zero",
       exdiv,
       time_value(sql_type_interval, "3 00", qual_day_to_hour),
       int_value(sql_type_integer, 0),
       {-1202, sql_type_interval, -1, qual_day_to_hour, nullptr}},
      {"a NULL operand gives a NULL of the result type",
       exadd,
       null_value(sql_type_integer),
       int_value(sql_type_integer, 1),
       {0, sql_type_decimal, -1, 0x0B00, nullptr}},
      {"a NULL DATETIME operand",
       exsub,
       null_value(sql_type_datetime),
       time_value(sql_type_interval, "1", qual_day),
       {0, sql_type_datetime, -1, 0, nullptr}},
  };
  for (const arith_case &c : cases) {
    value_t a = c.a;
    value_t b = c.b;
    value_t r {};
    const int status = c.fn(&a, &b, &r);
    EXPECT_TRUE(result_is(r, status, c.expected)) << c.what;
  }
}

TEST(Arithmetic, FloatResultIsTheDoubleOfThePeer) {
  value_t a = double_value(0.1);
  value_t b = int_value(sql_type_integer, 3);
  value_t r {};
  ASSERT_EQ(exmul(&a, &b, &r), 0);
  EXPECT_EQ(r.vdouble, 0.1 * 3);
  ASSERT_EQ(exdiv(&a, &b, &a), 0);
  EXPECT_EQ(a.vdouble, 0.1 / 3);
}

TEST(Arithmetic, DecimalCalculationFlagMovesFloatsToDecimal) {
  ASSERT_EQ(dvz_ex_decimal_calc(1), 0);
  value_t a = double_value(0.1);
  value_t b = double_value(0.2);
  value_t r {};
  EXPECT_EQ(exadd(&a, &b, &r), 0);
  EXPECT_EQ(r.vtype, sql_type_decimal);
  /* Each double becomes its 17-digit DECIMAL first. */
  EXPECT_EQ(dec_test::plain(r.vdec), "0.30000000000000002");
  EXPECT_EQ(dvz_ex_decimal_calc(0), 1);
  EXPECT_EQ(exadd(&a, &b, &r), 0);
  EXPECT_EQ(r.vtype, sql_type_float);
  EXPECT_EQ(r.vdouble, 0.1 + 0.2);
}

TEST(Arithmetic, ResultMayBeAnOperand) {
  value_t a = decimal_value(sql_type_decimal, "1.5", 0x0201);
  value_t b = decimal_value(sql_type_decimal, "2.25", 0x0302);
  ASSERT_EQ(exadd(&a, &b, &b), 0);
  EXPECT_EQ(dec_test::plain(b.vdec), "3.75");
  EXPECT_EQ(b.vprec, 0x0402);
}

TEST(Arithmetic, UnaryMinus) {
  const struct {
    const char *what;
    value_t v;
    int status;
    const char *value;
  } cases[] = {
      {"SMALLINT", int_value(sql_type_smallint, 5), 0, "-5"},
      {"INTEGER", int_value(sql_type_integer, -2147483647), 0, "2147483647"},
      {"DATE", int_value(sql_type_date, 10), 0, "-10"},
      {"the INTEGER NULL word is not overflowed", int_value(sql_type_integer, INT32_MIN), 0,
       "-2147483648"},
      {"FLOAT", double_value(2.5), 0, "-2.500000"},
      {"SMALLFLOAT", float_value(0.5f), 0, "-0.500000"},
      {"DECIMAL", decimal_value(sql_type_decimal, "12.5"), 0, "-12.5"},
      {"DECIMAL zero stays positive", decimal_value(sql_type_decimal, "0"), 0, "+@-64"},
      {"MONEY", decimal_value(sql_type_money, "-3.10"), 0, "3.1"},
      {"INTERVAL", time_value(sql_type_interval, "01:30", qual_hour_to_minute), 0, "-1:30"},
      {"INT8", int8_value(sql_type_int8, INT64_C(-9223372036854775807)), 0, "9223372036854775807"},
      {"CHAR has no negation", text_value(sql_type_char, "5"), -1266, nullptr},
      {"DATETIME has no negation", time_value(sql_type_datetime, "2024-02-28", qual_year_to_day),
       -1266, nullptr},
      {"a NULL stays NULL", null_value(sql_type_char), 0, nullptr},
  };
  for (const auto &c : cases) {
    value_t v = c.v;
    value_t r {};
    ASSERT_EQ(exneg(&v, &r), c.status) << c.what;
    if (c.value == nullptr) {
      if (c.status == 0) {
        EXPECT_EQ(r.vind, -1) << c.what;
      }
      continue;
    }
    EXPECT_EQ(r.vtype, v.vtype) << c.what;
    EXPECT_EQ(r.vprec, v.vprec) << c.what;
    std::string got;
    switch (v.vtype) {
      case sql_type_float:
        got = std::to_string(r.vdouble);
        break;
      case sql_type_smallfloat:
        got = std::to_string(r.vfloat);
        break;
      case sql_type_decimal:
      case sql_type_money:
        got = std::string(c.value) == "+@-64" ? dec_test::repr(r.vdec) : dec_test::plain(r.vdec);
        break;
      case sql_type_interval: {
        dec_t want {};
        ASSERT_EQ(rstrinv(c.value, &want, qual_hour_to_minute), 0);
        got = want.sign == r.vdec.sign && deccmp(&want, &r.vdec) == 0 ? c.value : "other";
        break;
      }
      case sql_type_int8: {
        got = int8_test::decimal(static_cast<int64_t>(int8_test::value(r.vint8)));
        break;
      }
      default:
        got = std::to_string(r.vint);
        break;
    }
    EXPECT_EQ(got, c.value) << c.what;
  }
}

}  // namespace
