/*
** The evaluator's result rules: the kind of each SQL type, the result type
** of an operator (extype) and the result precision word or qualifier
** (exprec). Precision words are digits << 8 | scale, 255 floating.
*/
#include <gtest/gtest.h>

#include "gen_exprtypes.h"
#include "gen_types.h"
#include "os_gentcb.h"

namespace {

constexpr int floating = 255;

constexpr int word(int digits, int scale) { return digits << 8 | scale; }

TEST(KindTable, NamesTheKindOfEachTypeAndIgnoresFlags) {
  const uint32_t *kinds = get_kind_table();
  EXPECT_EQ(kinds[sql_type_smallfloat], 0x208u);
  EXPECT_EQ(kinds[sql_type_serial], kinds[sql_type_integer]);
  EXPECT_EQ(kinds[sql_type_nvarchar], 0x400u);
  EXPECT_EQ(kinds[sql_type_serial8], 0x800u);
  EXPECT_EQ(kinds[sql_type_byte], 0u);
  EXPECT_EQ(kinds[sql_type_max], 0u);
  EXPECT_EQ(getkind(0x0100 | sql_type_interval), 0x100u);
  EXPECT_EQ(getkind(sql_type_max + 1), 0u);
  EXPECT_EQ(getkind(0xFF), 0u);
}

struct TypeCase {
  int type1;
  int type2;
  int op;
  int expected;
};

TEST(Extype, FirstMatchingRuleGivesTheResultType) {
  const TypeCase cases[] = {
      {sql_type_integer, sql_type_integer, EX_PLUS, sql_type_decimal},
      {sql_type_integer, sql_type_integer, EX_EQ, sql_type_integer},
      {sql_type_char, sql_type_nchar, EX_EQ, sql_type_nchar},
      {sql_type_char, sql_type_char, EX_EQ, sql_type_char},
      {sql_type_varchar, sql_type_char, EX_EQ, sql_type_char},
      {sql_type_smallfloat, sql_type_integer, EX_EQ, sql_type_smallfloat},
      {sql_type_float, sql_type_smallfloat, EX_EQ, sql_type_smallfloat},
      {sql_type_float, sql_type_integer, EX_EQ, sql_type_float},
      {sql_type_datetime, sql_type_datetime, EX_MINUS, sql_type_interval},
      {sql_type_date, sql_type_datetime, EX_MINUS, sql_type_interval},
      {sql_type_datetime, sql_type_interval, EX_MINUS, sql_type_datetime},
      {sql_type_datetime, sql_type_interval, EX_PLUS, sql_type_datetime},
      {sql_type_money, sql_type_money, EX_DIVIDE, sql_type_decimal},
      {sql_type_money, sql_type_integer, EX_DIVIDE, sql_type_money},
      {sql_type_money, sql_type_money, EX_TIMES, sql_type_money},
      {sql_type_interval, sql_type_date, EX_PLUS, sql_type_datetime},
      {sql_type_interval, sql_type_decimal, EX_TIMES, sql_type_interval},
      {sql_type_date, sql_type_integer, EX_PLUS, sql_type_date},
      {sql_type_smallfloat, sql_type_smallfloat, EX_NEG, sql_type_smallfloat},
      {sql_type_smallfloat, sql_type_integer, EX_PLUS, sql_type_float},
      {sql_type_float, sql_type_integer, EX_TIMES, sql_type_float},
      {sql_type_decimal, sql_type_smallint, EX_LT, sql_type_decimal},
      {sql_type_nchar, sql_type_integer, EX_LT, sql_type_decimal},
      {sql_type_int8, sql_type_integer, EX_EQ, sql_type_int8},
      {sql_type_serial, sql_type_smallint, EX_GT, sql_type_integer},
      {sql_type_smallint, sql_type_smallint, EX_NE, sql_type_smallint},
      {sql_type_byte, sql_type_text, EX_EQ, sql_type_smallint},
      {0x0300 | sql_type_integer, sql_type_integer, EX_PLUS, sql_type_decimal},
  };
  for (const TypeCase &c : cases)
    EXPECT_EQ(extype(c.type1, c.type2, c.op), c.expected)
        << c.type1 << " " << c.type2 << " op " << c.op;
}

TEST(Extype, DecimalCalculationFlagKeepsFloatsDecimal) {
  gen_tcb *block = CheckGenInit();
  ASSERT_NE(block, nullptr);
  block->decimal_calc = 1;
  EXPECT_EQ(extype(sql_type_float, sql_type_integer, EX_PLUS), sql_type_decimal);
  EXPECT_EQ(extype(sql_type_smallfloat, sql_type_smallfloat, EX_NEG), sql_type_float);
  EXPECT_EQ(extype(sql_type_float, sql_type_integer, EX_EQ), sql_type_float);
  block->decimal_calc = 0;
  EXPECT_EQ(extype(sql_type_float, sql_type_integer, EX_PLUS), sql_type_float);
}

struct PrecisionCase {
  const char *what;
  int prec1;
  int prec2;
  int op;
  int type1;
  int type2;
  int expected;
};

TEST(Exprec, NumericDigitsAndScale) {
  const PrecisionCase cases[] = {
      {"DECIMAL(5,2) + DECIMAL(7,3)", word(5, 2), word(7, 3), EX_PLUS, sql_type_decimal,
       sql_type_decimal, word(8, 3)},
      {"INTEGER * INTEGER", word(10, 0), word(10, 0), EX_TIMES, sql_type_integer, sql_type_integer,
       word(20, 0)},
      {"DECIMAL(4,1) * DECIMAL(4,1)", word(4, 1), word(4, 1), EX_TIMES, sql_type_decimal,
       sql_type_decimal, word(16, 2)},
      {"anything / anything", word(4, 1), word(6, 2), EX_DIVIDE, sql_type_decimal, sql_type_decimal,
       word(16, floating)},
      {"wide / wide", word(20, 2), word(20, 0), EX_DIVIDE, sql_type_decimal, sql_type_decimal,
       word(32, floating)},
      {"FLOAT + INTEGER", 0, word(10, 0), EX_PLUS, sql_type_float, sql_type_integer,
       word(17, floating)},
      {"SMALLFLOAT - DECIMAL(6,2)", 0, word(6, 2), EX_MINUS, sql_type_smallfloat, sql_type_decimal,
       word(9, floating)},
      {"CHAR * DECIMAL(5,0)", word(20, 0), word(5, 0), EX_TIMES, sql_type_char, sql_type_decimal,
       word(21, floating)},
      {"DECIMAL(30,10) + DECIMAL(30,10)", word(30, 10), word(30, 10), EX_PLUS, sql_type_decimal,
       sql_type_decimal, word(31, 10)},
      {"DECIMAL(32,10) + DECIMAL(32,10)", word(32, 10), word(32, 10), EX_PLUS, sql_type_decimal,
       sql_type_decimal, word(32, floating)},
      {"DECIMAL(20,5) + DECIMAL(3,3)", word(20, 5), word(3, 3), EX_PLUS, sql_type_decimal,
       sql_type_decimal, word(21, 5)},
      {"DECIMAL(8,3) unary minus", word(8, 3), 0, EX_NEG, sql_type_decimal, sql_type_decimal,
       word(8, 3)},
      {"DECIMAL(6,0) * DECIMAL(3,0)", word(6, 0), word(3, 0), EX_TIMES, sql_type_decimal,
       sql_type_decimal, word(9, 0)},
  };
  for (const PrecisionCase &c : cases)
    EXPECT_EQ(exprec(c.prec1, c.prec2, c.op, c.type1, c.type2), c.expected) << c.what;
}

TEST(Exprec, DatetimeAndIntervalQualifiers) {
  const PrecisionCase cases[] = {
      {"YEAR TO DAY = HOUR TO SECOND", 0x0804, 0x066A, EX_EQ, sql_type_datetime, sql_type_datetime,
       0x0E0A},
      {"HOUR TO SECOND < MINUTE TO FRACTION(3)", 0x066A, 0x078D, EX_LT, sql_type_datetime,
       sql_type_datetime, 0x096D},
      {"YEAR TO SECOND - DATETIME", 0x0E0A, 0x0E0A, EX_MINUS, sql_type_datetime, sql_type_datetime,
       0x0E4A},
      {"MONTH TO DAY - DATETIME", 0x0424, 0x0424, EX_MINUS, sql_type_datetime, sql_type_datetime,
       0x0444},
      {"YEAR TO MONTH - DATETIME", 0x0602, 0x0602, EX_MINUS, sql_type_datetime, sql_type_datetime,
       0x0602},
      {"HOUR TO SECOND - DATETIME", 0x066A, 0x066A, EX_MINUS, sql_type_datetime, sql_type_datetime,
       0x066A},
      {"DATE - YEAR TO SECOND", 0x0A00, 0x0E0A, EX_MINUS, sql_type_date, sql_type_datetime, 0x0844},
      {"YEAR TO SECOND - DATE", 0x0E0A, 0x0A00, EX_MINUS, sql_type_datetime, sql_type_date, 0x0E4A},
      {"YEAR TO SECOND + INTERVAL", 0x0E0A, 0x084A, EX_PLUS, sql_type_datetime, sql_type_interval,
       0x0E0A},
      {"number * INTERVAL", word(5, 0), 0x084A, EX_TIMES, sql_type_decimal, sql_type_interval,
       0x084A},
      {"INTERVAL DAY TO HOUR * number", 0x0446, word(5, 0), EX_TIMES, sql_type_interval,
       sql_type_decimal, 0x0B46},
      {"INTERVAL FRACTION TO FRACTION(3) * number", 0x03CD, 0, EX_TIMES, sql_type_interval,
       sql_type_decimal, 0x0CAD},
      {"INTERVAL DAY TO HOUR / number", 0x0446, word(5, 0), EX_DIVIDE, sql_type_interval,
       sql_type_decimal, 0x0446},
      {"INTERVAL DAY(5) TO HOUR = HOUR(3) TO SECOND", 0x0746, 0x076A, EX_EQ, sql_type_interval,
       sql_type_interval, 0x0B4A},
      {"INTERVAL HOUR(3) TO SECOND = DAY(5) TO HOUR", 0x076A, 0x0746, EX_EQ, sql_type_interval,
       sql_type_interval, 0x0B4A},
      {"INTERVAL HOUR(3) TO MINUTE = HOUR(6) TO HOUR", 0x0568, 0x0666, EX_GE, sql_type_interval,
       sql_type_interval, 0x0868},
      {"INTERVAL + INTERVAL", 0x0568, 0x0666, EX_PLUS, sql_type_interval, sql_type_interval,
       0x0568},
      {"DATE + INTERVAL", 0x0A00, 0x0446, EX_PLUS, sql_type_date, sql_type_interval, 0x0804},
      {"INTERVAL + DATE", 0x0446, 0x0A00, EX_PLUS, sql_type_interval, sql_type_date, 0x0804},
  };
  for (const PrecisionCase &c : cases)
    EXPECT_EQ(exprec(c.prec1, c.prec2, c.op, c.type1, c.type2), c.expected) << c.what;
}

}  // namespace
