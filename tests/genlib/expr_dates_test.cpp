/*
** expr_dates_test.cpp: the evaluator's date functions with today and the
** current time pinned (2026-12-11 04:05:06.12345), on fixture dates: DAY,
** MONTH, YEAR, WEEKDAY, DATE, EXTEND, UNITS, CURRENT, MDY and the DATETIME
** of a clock value (the test process runs with TZ=UTC).
*/
#include <gtest/gtest.h>

#include <string>

#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dtarith.h"
#include "gen_expr.h"
#include "gen_types.h"
#include "value_builders.h"

namespace {

using value_test::date_value;
using value_test::decimal_value;
using value_test::int_value;
using value_test::null_value;
using value_test::text_value;
using value_test::time_value;

constexpr int qual_year_to_day = 0x0804;
constexpr int qual_year_to_minute = 0x0C08;
constexpr int qual_year_to_second = 0x0E0A;
constexpr int qual_year_to_f3 = 0x110D;
constexpr int qual_year_to_f5 = 0x130F;
constexpr int qual_month_to_day = 0x0424;
constexpr int qual_hour_to_minute = 0x0468;
constexpr int qual_hour_to_second = 0x066A;

class DateFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    today_ = date_value(12, 11, 2026).vint;
    rsettoday(&today_);
    ASSERT_EQ(rstrdtime("2026-12-11 04:05:06.12345", &now_, qual_year_to_f5), 0);
    rdtsetcurr(&now_);
  }
  void TearDown() override {
    rsettoday(nullptr);
    rdtsetcurr(nullptr);
  }
  int32_t today_ = 0;
  dec_t now_ {};
};

#ifndef DVZ_EXPR_CALENDAR
/* A DATETIME or INTERVAL result equals the value its text gives in the
** result's qualifier. */
::testing::AssertionResult time_is(const value_t &r, int type, int qualifier, const char *text) {
  if (r.vtype != type || r.vind != 0 || static_cast<uint16_t>(r.vprec) != qualifier)
    return ::testing::AssertionFailure()
           << "type " << r.vtype << " indicator " << r.vind << " qualifier " << std::hex << r.vprec;
  dec_t want {};
  const int rc = type == sql_type_datetime ? rstrdtime(text, &want, qualifier)
                                           : rstrinv(text, &want, qualifier);
  if (rc != 0) return ::testing::AssertionFailure() << "bad expected text " << text;
  if (want.sign == r.vdec.sign && deccmp(&want, &r.vdec) == 0) return ::testing::AssertionSuccess();
  char buffer[81] = "";
  if (type == sql_type_datetime)
    rdtimestr(&r.vdec, qualifier, buffer);
  else
    rinvstr(&r.vdec, qualifier, buffer);
  return ::testing::AssertionFailure() << "got \"" << buffer << "\"";
}

TEST_F(DateFunctions, DayMonthYearAndWeekday) {
  const struct {
    const char *what;
    value_t v;
    int day, month, year, weekday;
  } cases[] = {
      {"a leap day", date_value(2, 29, 2024), 29, 2, 2024, 4},
      {"the first day", int_value(sql_type_date, 1), 1, 1, 1900, 1},
      {"day zero", int_value(sql_type_date, 0), 31, 12, 1899, 0},
      {"a DATETIME from YEAR",
       time_value(sql_type_datetime, "1999-12-31 23:59:59", qual_year_to_second), 31, 12, 1999, 5},
      {"a DATETIME without YEAR takes today's date",
       time_value(sql_type_datetime, "10:30", qual_hour_to_minute), 11, 12, 2026, 5},
      {"text \"today\"", text_value(sql_type_char, "TODAY "), 11, 12, 2026, 5},
      {"DATE text", text_value(sql_type_char, "07/04/1776"), 4, 7, 1776, 4},
  };
  for (const auto &c : cases) {
    const int expected[3] = {c.day, c.month, c.year};
    for (int op = 69; op <= 71; ++op) {
      value_t v = c.v;
      value_t r {};
      ASSERT_EQ(exxmdy(op, &v, &r), 0) << c.what << " " << op;
      EXPECT_EQ(r.vtype, sql_type_smallint);
      EXPECT_EQ(r.vind, 0);
      EXPECT_EQ(r.vprec, op == 71 ? 0x0400 : 0x0200) << c.what;
      EXPECT_EQ(r.vint, expected[op - 69]) << c.what << " " << op;
    }
    value_t v = c.v;
    value_t r {};
    ASSERT_EQ(exwkday(&v, &r), 0) << c.what;
    EXPECT_EQ(r.vprec, 0x0100);
    EXPECT_EQ(r.vint, c.weekday) << c.what;
  }
  value_t n = null_value(sql_type_date);
  value_t r {};
  ASSERT_EQ(exxmdy(71, &n, &r), 0);
  EXPECT_EQ(r.vind, -1);
  EXPECT_EQ(r.vprec, 0x0400);
  ASSERT_EQ(exwkday(&n, &r), 0);
  EXPECT_EQ(r.vind, -1);
  value_t bad = text_value(sql_type_char, "02/30/2024");
  EXPECT_EQ(exxmdy(69, &bad, &r), -1206);
}

TEST_F(DateFunctions, DateOfAValue) {
  const struct {
    const char *what;
    value_t v;
    int32_t date; /* DATE_NULL: a NULL result */
  } cases[] = {
      {"DATETIME", time_value(sql_type_datetime, "2024-02-29 23:59:59", qual_year_to_second),
       date_value(2, 29, 2024).vint},
      {"today", text_value(sql_type_varchar, "today"), today_},
      {"a day number", int_value(sql_type_integer, 45000), 45000},
      {"a NULL", null_value(sql_type_date), DATE_NULL},
      {"empty text is the NULL date", text_value(sql_type_char, "   "), DATE_NULL},
  };
  for (const auto &c : cases) {
    value_t v = c.v;
    value_t r {};
    ASSERT_EQ(extodate(&v, &r), 0) << c.what;
    EXPECT_EQ(r.vtype, sql_type_date) << c.what;
    EXPECT_EQ(r.vprec, 0x0A00) << c.what;
    EXPECT_EQ(r.vind, c.date == DATE_NULL ? -1 : 0) << c.what;
    EXPECT_EQ(r.vint, c.date) << c.what;
  }
  value_t text = text_value(sql_type_char, "not a date");
  value_t r {};
  EXPECT_NE(extodate(&text, &r), 0);
}

TEST_F(DateFunctions, ExtendToTheSecondArgumentsQualifier) {
  const struct {
    const char *what;
    value_t v;
    int qualifier;
    const char *expected;
  } cases[] = {
      {"DATE", date_value(2, 29, 2024), qual_year_to_minute, "2024-02-29 00:00"},
      {"leading units from the current time",
       time_value(sql_type_datetime, "10:30", qual_hour_to_minute), qual_year_to_minute,
       "2026-12-11 10:30"},
      {"a narrower qualifier",
       time_value(sql_type_datetime, "2024-02-29 10:30", qual_year_to_minute), qual_month_to_day,
       "02-29"},
      {"DATETIME text", text_value(sql_type_char, "2024-02-29"), qual_year_to_day, "2024-02-29"},
  };
  for (const auto &c : cases) {
    value_t v = c.v;
    value_t q {};
    q.vprec = static_cast<int16_t>(c.qualifier);
    value_t r {};
    ASSERT_EQ(exextend(&v, &q, &r), 0) << c.what;
    EXPECT_TRUE(time_is(r, sql_type_datetime, c.qualifier, c.expected)) << c.what;
  }
  value_t n = null_value(sql_type_date);
  value_t q {};
  q.vprec = qual_year_to_day;
  value_t r {};
  ASSERT_EQ(exextend(&n, &q, &r), 0);
  EXPECT_EQ(r.vind, -1);
  EXPECT_EQ(r.vtype, sql_type_datetime);
  value_t v = date_value(2, 29, 2024);
  q.vprec = 0x0480; /* start after end */
  EXPECT_EQ(exextend(&v, &q, &r), -1268);
}

TEST_F(DateFunctions, UnitsMakeAnInterval) {
  const struct {
    const char *what;
    value_t v;
    int qualifier;
    int result_qualifier;
    const char *expected;
    int status;
  } cases[] = {
      {"days", int_value(sql_type_integer, 5), 0x0344, 0x0344, "5", 0},
      {"minutes", decimal_value(sql_type_decimal, "-90"), 0x0388, 0x0388, "-90", 0},
      {"hours to minutes", int_value(sql_type_integer, 90), 0x0468, 0x0468, "1:30", 0},
      {"a fraction starts at SECOND", decimal_value(sql_type_decimal, "1.5"), 0x03CD, 0x05AD,
       "1.500", 0},
      {"too many days", int_value(sql_type_integer, 1000), 0x0244, 0x0244, nullptr, -1265},
      {"text that is no number", text_value(sql_type_char, "x"), 0x0344, 0x0344, nullptr, -1213},
  };
  for (const auto &c : cases) {
    value_t v = c.v;
    value_t q {};
    q.vprec = static_cast<int16_t>(c.qualifier);
    value_t r {};
    ASSERT_EQ(exunits(&v, &q, &r), c.status) << c.what;
    if (c.status == 0) {
      EXPECT_TRUE(time_is(r, sql_type_interval, c.result_qualifier, c.expected)) << c.what;
    }
  }
}

TEST_F(DateFunctions, CurrentIsThePinnedTime) {
  const struct {
    int qualifier;
    int result_qualifier;
    const char *expected;
  } cases[] = {
      {0, qual_year_to_f3, "2026-12-11 04:05:06.123"},
      {qual_year_to_day, qual_year_to_day, "2026-12-11"},
      {qual_hour_to_second, qual_hour_to_second, "04:05:06"},
  };
  for (const auto &c : cases) {
    value_t r {};
    ASSERT_EQ(excurrent(c.qualifier, &r), 0) << c.expected;
    EXPECT_TRUE(time_is(r, sql_type_datetime, c.result_qualifier, c.expected));
  }
  value_t r {};
  EXPECT_EQ(excurrent(0x0480, &r), -1268);
}

TEST_F(DateFunctions, DatetimeOfAClockValue) {
  value_t r {};
  ASSERT_EQ(utc_to_datetime(0, qual_year_to_second, &r), 0);
  EXPECT_TRUE(time_is(r, sql_type_datetime, qual_year_to_second, "1970-01-01 00:00:00"));
  ASSERT_EQ(utc_to_datetime(1000000000, qual_year_to_minute, &r), 0);
  EXPECT_TRUE(time_is(r, sql_type_datetime, qual_year_to_minute, "2001-09-09 01:46"));
  EXPECT_EQ(utc_to_datetime(0, 0x0480, &r), -1268);
}

TEST_F(DateFunctions, MdyBuildsADateOrFailsAsTheDayConversion) {
  const struct {
    const char *what;
    value_t m, d, y;
    int status;
    int32_t date; /* DATE_NULL: a NULL result */
  } cases[] = {
      {"a leap day", int_value(sql_type_smallint, 2), int_value(sql_type_integer, 29),
       int_value(sql_type_smallint, 2024), 0, date_value(2, 29, 2024).vint},
      {"operands of other types", text_value(sql_type_char, "12"),
       decimal_value(sql_type_decimal, "31"), text_value(sql_type_char, "9999"), 0, 2958464},
      {"no 30 February", int_value(sql_type_smallint, 2), int_value(sql_type_smallint, 30),
       int_value(sql_type_smallint, 2024), -1206, 0},
      {"no month 13", int_value(sql_type_smallint, 13), int_value(sql_type_smallint, 1),
       int_value(sql_type_smallint, 2024), -1205, 0},
      {"no year 0", int_value(sql_type_smallint, 1), int_value(sql_type_smallint, 1),
       int_value(sql_type_smallint, 0), -1204, 0},
      {"a NULL operand", int_value(sql_type_smallint, 1), null_value(sql_type_smallint),
       int_value(sql_type_smallint, 2024), 0, DATE_NULL},
  };
  for (const auto &c : cases) {
    value_t m = c.m, d = c.d, y = c.y;
    value_t r {};
    r.vint = 12345;
    ASSERT_EQ(exmdy(&m, &d, &y, &r), c.status) << c.what;
    if (c.status != 0) {
      const int16_t mdy[3] = {static_cast<int16_t>(toint(&m)), static_cast<int16_t>(toint(&d)),
                              static_cast<int16_t>(toint(&y))};
      int32_t date = 0;
      EXPECT_EQ(rmdyjul(mdy, &date), c.status) << c.what << ": as the day conversion";
      EXPECT_EQ(r.vint, 12345) << c.what << ": result untouched";
      continue;
    }
    EXPECT_EQ(r.vtype, sql_type_date) << c.what;
    EXPECT_EQ(r.vind, c.date == DATE_NULL ? -1 : 0) << c.what;
    EXPECT_EQ(r.vint, c.date) << c.what;
  }
}

#else
/* A locale whose calendar is not the Gregorian one (he_IL, Hebrew): DAY,
** MONTH and YEAR are that calendar's, and MDY reads them back. */
TEST_F(DateFunctions, LocaleCalendarPartsAndMdy) {
  value_t christmas = date_value(12, 25, 2024);
  int parts[3] = {0, 0, 0};
  for (int op = 69; op <= 71; ++op) {
    value_t v = christmas;
    value_t r {};
    ASSERT_EQ(exxmdy(op, &v, &r), 0) << op;
    parts[op - 69] = r.vint;
  }
  EXPECT_EQ(parts[0], 24); /* 24 Kislev 5785 */
  EXPECT_EQ(parts[2], 5785);
  value_t m = int_value(sql_type_smallint, parts[1]);
  value_t d = int_value(sql_type_smallint, parts[0]);
  value_t y = int_value(sql_type_smallint, parts[2]);
  value_t r {};
  ASSERT_EQ(exmdy(&m, &d, &y, &r), 0);
  EXPECT_EQ(r.vind, 0);
  EXPECT_EQ(r.vint, christmas.vint);
  value_t v = christmas;
  ASSERT_EQ(exwkday(&v, &r), 0);
  EXPECT_EQ(r.vint, 3); /* a Wednesday in every calendar */
}
#endif

}  // namespace
