/*
** expr_logic_test.cpp: the evaluator's three-valued logic against SQLite's
** (AND, OR, NOT and IS NULL over NULL, false and true, each given in
** several types), the truth value of each type, the BOOLEAN byte
** comparisons, the parameter-list walk and the qualifier choice.
*/
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "gen_expr.h"
#include "gen_types.h"
#include "os_gentcb.h"
#include "value_builders.h"

namespace {

using value_test::decimal_value;
using value_test::double_value;
using value_test::int8_value;
using value_test::int_value;
using value_test::null_value;
using value_test::text_value;
using value_test::time_value;

/* -1 for NULL, else 0 or 1. */
int truth_of(const value_t &r) {
  EXPECT_EQ(r.vtype, sql_type_smallint);
  if (r.vind == -1) {
    EXPECT_EQ(r.vint, 0);
    return -1;
  }
  EXPECT_EQ(r.vind, 0);
  return r.vint;
}

/* Each truth value (NULL, false, true) in several types. */
std::vector<value_t> spellings(int t) {
  if (t == -1)
    return {null_value(sql_type_integer), null_value(sql_type_char), null_value(sql_type_decimal),
            null_value(sql_type_smallint)};
  if (t == 0)
    return {int_value(sql_type_smallint, 0),
            int_value(sql_type_integer, 0),
            decimal_value(sql_type_decimal, "0"),
            text_value(sql_type_char, "0"),
            double_value(0.0),
            int8_value(sql_type_int8, 0)};
  return {int_value(sql_type_smallint, 1),       int_value(sql_type_date, -3),
          decimal_value(sql_type_money, "0.01"), text_value(sql_type_char, "7"),
          text_value(sql_type_varchar, "yes"),   double_value(-0.5),
          int8_value(sql_type_int8, -1)};
}

/* SQLite's answer to one select over integers and NULL. */
std::vector<int> sqlite_row(sqlite3 *db, int a, int b) {
  const auto literal = [](int t) { return t == -1 ? std::string("NULL") : std::to_string(t); };
  const std::string sql = "SELECT " + literal(a) + " AND " + literal(b) + ", " + literal(a) +
                          " OR " + literal(b) + ", NOT " + literal(a) + ", " + literal(a) +
                          " IS NULL, " + literal(a) + " IS NOT NULL";
  sqlite3_stmt *stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  std::vector<int> row;
  for (int i = 0; i < 5; ++i)
    row.push_back(sqlite3_column_type(stmt, i) == SQLITE_NULL ? -1 : sqlite3_column_int(stmt, i));
  sqlite3_finalize(stmt);
  return row;
}

TEST(Logic, AndOrNotIsNullEqualSqlite) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  for (int a = -1; a <= 1; ++a) {
    for (int b = -1; b <= 1; ++b) {
      const std::vector<int> expected = sqlite_row(db, a, b);
      for (const value_t &x : spellings(a)) {
        for (const value_t &y : spellings(b)) {
          const std::string where = "a " + std::to_string(a) + " (type " + std::to_string(x.vtype) +
                                    "), b " + std::to_string(b) + " (type " +
                                    std::to_string(y.vtype) + ")";
          value_t p = x, q = y, r {};
          EXPECT_EQ(exand(&p, &q, &r), 1);
          EXPECT_EQ(truth_of(r), expected[0]) << "AND " << where;
          p = x, q = y;
          EXPECT_EQ(exor(&p, &q, &r), 1);
          EXPECT_EQ(truth_of(r), expected[1]) << "OR " << where;
          /* The result may be an operand. */
          p = x, q = y;
          exand(&p, &q, &q);
          EXPECT_EQ(truth_of(q), expected[0]) << "AND into b " << where;
        }
        value_t p = x, r {};
        EXPECT_EQ(exnot(&p, &r), 1);
        EXPECT_EQ(truth_of(r), expected[2]) << "NOT " << a << " type " << x.vtype;
        p = x;
        exnull(&p, &r, EX_ISNULL);
        EXPECT_EQ(truth_of(r), expected[3]) << "IS NULL " << a << " type " << x.vtype;
        exnull(&p, &r, EX_NOTNULL);
        EXPECT_EQ(truth_of(r), expected[4]) << "IS NOT NULL " << a << " type " << x.vtype;
        exnull(&p, &r, EX_EQ);
        EXPECT_EQ(truth_of(r), 0) << "another operator";
      }
    }
  }
  sqlite3_close(db);
}

TEST(Logic, TruthValueOfEachType) {
  static char one[] = "\1";
  static char zero[] = "\0";
  value_t udt_true = text_value(sql_type_fixed_udt, one, 1);
  udt_true.vxid = 5;
  value_t udt_false = text_value(sql_type_fixed_udt, zero, 1);
  udt_false.vxid = 5;
  value_t flagged = text_value(sql_type_variable_udt | 0x4000, one, 1);
  value_t other_udt = text_value(sql_type_fixed_udt, one, 1);
  value_t datetime_zero {};
  datetime_zero.vtype = sql_type_datetime;
  datetime_zero.vprec = 0x0804;
  deccvint(0, &datetime_zero.vdec);
  const struct {
    const char *what;
    value_t v;
    int truth;
    int status;
  } cases[] = {
      {"digits: their number", text_value(sql_type_char, "12"), 1, 0},
      {"digits: zero is false", text_value(sql_type_nchar, "0  "), 0, 0},
      {"a sign is not a digit", text_value(sql_type_char, "-5"), 1, 0},
      {"other text", text_value(sql_type_char, "false"), 1, 0},
      {"empty text", text_value(sql_type_varchar, ""), 1, 0},
      {"FLOAT zero", double_value(0.0), 0, 0},
      {"FLOAT non-zero", double_value(1e-300), 1, 0},
      {"SMALLFLOAT", value_test::float_value(-2.5f), 1, 0},
      {"DECIMAL zero", decimal_value(sql_type_decimal, "0.000"), 0, 0},
      {"DECIMAL non-zero", decimal_value(sql_type_decimal, "-0.001"), 1, 0},
      {"DATETIME", time_value(sql_type_datetime, "2026-01-02", 0x0804), 1, 0},
      {"DATETIME of zero digits", datetime_zero, 0, 0},
      {"SERIAL8 zero", int8_value(sql_type_serial8, 0), 0, 0},
      {"boolean opaque true", udt_true, 1, 0},
      {"boolean opaque false", udt_false, 0, 0},
      {"flagged opaque", flagged, 1, 0},
      {"other opaque", other_udt, 0, -1260},
      {"INTERVAL", time_value(sql_type_interval, "1", 0x0244), 0, -1260},
      {"BOOLEAN", text_value(sql_type_boolean, one, 1), 0, -1260},
      {"BYTE", null_value(sql_type_byte), 0, 0},
  };
  for (const auto &c : cases) {
    value_t v = c.v;
    const int16_t indicator = v.vind;
    set_toerrno(0);
    EXPECT_EQ(cvtosmint(&v), c.status) << c.what;
    EXPECT_EQ(get_toerrno(), c.status) << c.what;
    EXPECT_EQ(v.vtype, sql_type_smallint) << c.what;
    EXPECT_EQ(v.vind, indicator) << c.what;
    EXPECT_EQ(v.vint, c.truth) << c.what;
  }
  value_t blob = text_value(sql_type_byte, one, 1);
  EXPECT_EQ(cvtosmint(&blob), -1260);
}

TEST(Logic, BooleanBytes) {
  const struct {
    char a, b;
    int equal, different, compared;
  } cases[] = {
      {1, 1, 1, 0, 0},
      {0, 1, 0, 1, -1},
      {1, 0, 0, 1, 1},
      {static_cast<char>(0xFF), 1, 0, 1, -2},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(boolean_equal(&c.a, &c.b), c.equal) << int(c.a) << " " << int(c.b);
    EXPECT_EQ(boolean_notequal(&c.a, &c.b), c.different) << int(c.a) << " " << int(c.b);
    EXPECT_EQ(boolean_compare(&c.a, &c.b), c.compared) << int(c.a) << " " << int(c.b);
  }
}

TEST(Logic, ParameterListAndQualifierChoice) {
  value_t values[3] = {int_value(sql_type_integer, 10), int_value(sql_type_integer, 20),
                       int_value(sql_type_integer, 30)};
  ex_param list[3] = {{&list[1], &values[0]}, {&list[2], &values[1]}, {nullptr, &values[2]}};
  EXPECT_EQ(gtparm(1, list), &list[0]);
  EXPECT_EQ(gtparm(3, list), &list[2]);
  EXPECT_EQ(gtparm(3, list)->value->vint, 30);
  EXPECT_EQ(gtparm(4, list), nullptr);
  EXPECT_EQ(gtparm(0, list), nullptr);
  EXPECT_EQ(gtparm(1, nullptr), nullptr);

  const value_t datetime = time_value(sql_type_datetime, "10:30", 0x0468);
  const value_t interval = time_value(sql_type_interval, "5", 0x0244);
  const value_t number = decimal_value(sql_type_decimal, "1.5", 0x0501);
  EXPECT_EQ(exdtqual(&datetime, &number), 0x0468);
  EXPECT_EQ(exdtqual(&interval, &number), 0x0244);
  EXPECT_EQ(exdtqual(&number, &interval), 0x0244);
}

TEST(Logic, DecimalCalculationFlagReturnsThePreviousOne) {
  ASSERT_EQ(dvz_ex_decimal_calc(1), 0);
  EXPECT_EQ(extype(sql_type_float, sql_type_float, EX_PLUS), sql_type_decimal);
  EXPECT_EQ(dvz_ex_decimal_calc(0), 1);
  EXPECT_EQ(extype(sql_type_float, sql_type_float, EX_PLUS), sql_type_float);
}

}  // namespace
