/*
** DATETIME and INTERVAL arithmetic: extension, DATETIME and DATE, INTERVAL
** conversion and counts, differences, sums and INTERVAL times and by a
** number. The random and boundary sums, differences, products and
** quotients come from oracle/datetime_arith_oracle.py (Python datetime,
** calendar and Decimal); the hand-written tables hold the documented
** cases and the error paths. The current time is pinned with rdtsetcurr.
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_dtarith.h"
#include "os_gentcb.h"

namespace {

/* Qualifiers used below. */
constexpr int year_to_fraction5 = 0x130F;
constexpr int year_to_fraction3 = 0x110D;
constexpr int year_to_second = 0x0E0A;
constexpr int year_to_day = 0x0804;
constexpr int year_to_month = 0x0602;
constexpr int year_to_year = 0x0400;
constexpr int year_to_minute = 0x0C08;
constexpr int month_to_day = 0x0424;
constexpr int day_to_day = 0x0244;
constexpr int day_to_hour = 0x0446;
constexpr int day9_to_second = 0x0F4A;
constexpr int day2_to_second = 0x084A;
constexpr int hour_to_second = 0x066A;
constexpr int hour_to_minute = 0x0468;
constexpr int hour_to_hour = 0x0266;
constexpr int hour3_to_minute = 0x0568;
constexpr int hour3_to_hour = 0x0366;
constexpr int month_to_month = 0x0222;
constexpr int second_to_second = 0x02AA;
constexpr int fraction_to_fraction3 = 0x03CD;

/* The pinned current time: rdtsetcurr keeps the pointer. */
dec_t pinned_now;

void pin_now(const char *text) {
  ASSERT_EQ(rstrdtime(text, &pinned_now, year_to_fraction5), 0) << text;
  rdtsetcurr(&pinned_now);
}

dec_t datetime_value(const std::string &text, int qual) {
  dec_t value;
  EXPECT_EQ(rstrdtime(text.c_str(), &value, qual), 0) << text;
  return value;
}

dec_t interval_value(const std::string &text, int qual) {
  dec_t value;
  EXPECT_EQ(rstrinv(text.c_str(), &value, qual), 0) << text;
  return value;
}

std::string datetime_text(const dec_t &value, int qual) {
  char buffer[81] = "";
  EXPECT_EQ(rdtimestr(&value, qual, buffer), 0);
  return buffer;
}

std::string interval_text(const dec_t &value, int qual) {
  char buffer[81] = "";
  EXPECT_EQ(rinvstr(&value, qual, buffer), 0);
  return buffer;
}

/* An INTERVAL equals the one its expected text gives under qual. */
::testing::AssertionResult interval_is(const dec_t &value, int qual, const std::string &expected) {
  const dec_t want = interval_value(expected, qual);
  if (value.sign == want.sign && deccmp(&value, &want) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got \"" << interval_text(value, qual) << "\", want \""
                                       << interval_text(want, qual) << "\"";
}

dtime_t make_datetime(const std::string &text, int qual) {
  dtime_t value;
  value.dt_qual = static_cast<uint16_t>(qual);
  value.dt_dec = datetime_value(text, qual);
  return value;
}

intrvl_t make_interval(const std::string &text, int qual) {
  intrvl_t value;
  value.in_qual = static_cast<uint16_t>(qual);
  value.in_dec = interval_value(text, qual);
  return value;
}

dec_t null_value() {
  dec_t value;
  value.sign = -1;
  value.exponent = 0;
  value.npairs = 0;
  return value;
}

/* ---- The oracle's table ----------------------------------------------------------- */

std::vector<std::string> split(const std::string &line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '|'))
    fields.push_back(field);
  return fields;
}

int hex(const std::string &text) { return static_cast<int>(std::stoul(text, nullptr, 16)); }

TEST(DatetimeArithOracle, MatchesPythonReference) {
  std::ifstream in(DVZ_DATETIME_ARITH_CASES);
  ASSERT_TRUE(in) << DVZ_DATETIME_ARITH_CASES;
  pin_now("2024-06-15 10:20:30.12345");
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = split(line);
    ASSERT_EQ(f.size(), 8u) << line;
    const std::string &op = f[0];
    const int status = std::stoi(f[6]);
    const std::string &expected = f[7];
    ++cases;
    if (op == "add" || op == "sub") {
      const dtime_t datetime = make_datetime(f[2], hex(f[1]));
      const intrvl_t interval = make_interval(f[4], hex(f[3]));
      dtime_t result;
      const int got = op == "add" ? dtaddinv(&datetime, &interval, &result)
                                  : dtsubinv(&datetime, &interval, &result);
      ASSERT_EQ(got, status) << line;
      EXPECT_EQ(result.dt_qual, datetime.dt_qual) << line;
      if (status == 0)
        EXPECT_EQ(datetime_text(result.dt_dec, result.dt_qual), expected) << line;
      else
        EXPECT_EQ(result.dt_dec.sign, -1) << line;
    } else if (op == "diff") {
      const dec_t a = datetime_value(f[2], hex(f[1]));
      const dec_t b = datetime_value(f[4], hex(f[3]));
      dec_t result;
      ASSERT_EQ(rdtsub(&a, hex(f[1]), &b, hex(f[3]), &result, hex(f[5])), status) << line;
      EXPECT_TRUE(interval_is(result, hex(f[5]), expected)) << line;
    } else if (op == "mul") {
      const intrvl_t interval = make_interval(f[2], hex(f[1]));
      dec_t factor;
      ASSERT_EQ(deccvasc(f[4].c_str(), static_cast<int>(f[4].size()), &factor), 0) << line;
      intrvl_t result;
      result.in_qual = interval.in_qual;
      ASSERT_EQ(invmuldec(&interval, &factor, &result), status) << line;
      if (status == 0)
        EXPECT_TRUE(interval_is(result.in_dec, result.in_qual, expected)) << line;
      else
        EXPECT_EQ(result.in_dec.sign, -1) << line;
    } else if (op == "div") {
      const intrvl_t a = make_interval(f[2], hex(f[1]));
      const intrvl_t b = make_interval(f[4], hex(f[3]));
      double quotient = 0;
      ASSERT_EQ(invdivinv(&a, &b, &quotient), status) << line;
      if (status == 0) {
        const double want = std::stod(expected);
        EXPECT_NEAR(quotient, want, std::fabs(want) * 1e-14) << line;
      }
    } else {
      FAIL() << "unknown operation: " << line;
    }
  }
  EXPECT_GT(cases, 0);
}

/* ---- DATETIME plus and minus INTERVAL ---------------------------------------------- */

struct SumCase {
  const char *datetime;
  int datetime_qual;
  const char *interval;
  int interval_qual;
  int status;
  const char *expected; /* the result's text; "" after an error */
};

TEST(DatetimeAddInterval, FollowsUnitsCarriesAndMonthEnds) {
  const SumCase cases[] = {
      {"2024-01-31", year_to_day, "1", month_to_month, -1267, ""},
      {"2024-01-30", year_to_day, "1", month_to_month, -1267, ""},
      {"2024-02-29", year_to_day, "12", month_to_month, -1267, ""},
      {"2024-02-29", year_to_day, "48", month_to_month, 0, "2028-02-29"},
      {"2023-12-31 23:59:59", year_to_second, "1", second_to_second, 0, "2024-01-01 00:00:00"},
      {"06-15", month_to_day, "12", month_to_month, -1267, ""},
      {"06-15", month_to_day, "6", month_to_month, 0, "12-15"},
      {"12-31", month_to_day, "1", day_to_day, -1267, ""},
      {"02-28", month_to_day, "1", day_to_day, 0, "02-29"},
      {"23:30", hour_to_minute, "1", hour_to_hour, -1267, ""},
      {"22:30", hour_to_minute, "1", hour_to_hour, 0, "23:30"},
      {"2024-03-10", year_to_day, "-10", day_to_day, 0, "2024-02-29"},
      {"9999-12", year_to_month, "1", month_to_month, -1267, ""},
      {"0001-01", year_to_month, "-1", month_to_month, -1267, ""},
      {"9999-12-31 23:00:00", year_to_second, "1", hour_to_hour, -1204, ""},
      {"2024-01-01 00:00:00", year_to_second, "-0 00:00:01", day2_to_second, 0,
       "2023-12-31 23:59:59"},
      {"10:20:30.123", 0x096D, "00:00:00.999", 0x096D, 0, "10:20:31.122"},
      {"2024-05-06", year_to_day, "1", hour_to_hour, -1266, ""},
      {"10:20:30", hour_to_second, "1 00", day_to_hour, -1266, ""},
  };
  pin_now("2024-06-15 10:20:30.12345");
  for (const SumCase &c : cases) {
    const dtime_t datetime = make_datetime(c.datetime, c.datetime_qual);
    const intrvl_t interval = make_interval(c.interval, c.interval_qual);
    dtime_t result;
    EXPECT_EQ(dtaddinv(&datetime, &interval, &result), c.status)
        << c.datetime << " + " << c.interval;
    if (c.status == 0)
      EXPECT_EQ(datetime_text(result.dt_dec, result.dt_qual), c.expected)
          << c.datetime << " + " << c.interval;
    else
      EXPECT_EQ(result.dt_dec.sign, -1) << c.datetime << " + " << c.interval;
  }
}

TEST(DatetimeAddInterval, SubtractingLeavesTheIntervalAlone) {
  const dtime_t datetime = make_datetime("2024-03-01", year_to_day);
  const intrvl_t interval = make_interval("1", day_to_day);
  const intrvl_t before = interval;
  dtime_t result;
  ASSERT_EQ(dtsubinv(&datetime, &interval, &result), 0);
  EXPECT_EQ(datetime_text(result.dt_dec, year_to_day), "2024-02-29");
  EXPECT_EQ(std::memcmp(&before, &interval, sizeof before), 0);
}

TEST(DatetimeAddInterval, NullOperandGivesNullAndInvalidQualifierFails) {
  const dec_t datetime = datetime_value("2024-03-01", year_to_day);
  const dec_t interval = interval_value("1", day_to_day);
  const dec_t null = null_value();
  dec_t result;
  EXPECT_EQ(rdtaddinv(&null, year_to_day, &interval, day_to_day, &result), 0);
  EXPECT_EQ(result.sign, -1);
  result = datetime;
  EXPECT_EQ(rdtaddinv(&datetime, year_to_day, &null, day_to_day, &result), 0);
  EXPECT_EQ(result.sign, -1);
  result = datetime;
  EXPECT_EQ(rdtaddinv(&datetime, 0x0020, &interval, day_to_day, &result), -1268);
  EXPECT_EQ(result.sign, -1);
  EXPECT_EQ(rdtaddinv(&datetime, year_to_day, &interval, 0x0604, &result), -1268);
}

/* ---- DATETIME minus DATETIME -------------------------------------------------------- */

TEST(DatetimeDifference, DaysAcrossMonthEndsAndSwappedOperands) {
  const dtime_t march = make_datetime("2024-03-01", year_to_day);
  const dtime_t february = make_datetime("2024-02-28", year_to_day);
  intrvl_t result;
  result.in_qual = day_to_day;
  ASSERT_EQ(dtsub(&march, &february, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, day_to_day, "2"));
  ASSERT_EQ(dtsub(&february, &march, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, day_to_day, "-2"));
  EXPECT_EQ(interval_text(result.in_dec, day_to_day), " -2");
}

TEST(DatetimeDifference, ResultTakesTheCallersQualifier) {
  const dtime_t a = make_datetime("2024-03-01 12:00:00", year_to_second);
  const dtime_t b = make_datetime("2024-02-28 00:00:30", year_to_second);
  intrvl_t result;
  result.in_qual = day9_to_second;
  ASSERT_EQ(dtsub(&a, &b, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, day9_to_second, "2 11:59:30"));
  result.in_qual = hour3_to_minute;
  ASSERT_EQ(dtsub(&a, &b, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, hour3_to_minute, "59:59"));
  result.in_qual = year_to_month;
  EXPECT_EQ(dtsub(&a, &b, &result), -1266);
  EXPECT_EQ(result.in_dec.sign, -1);
}

TEST(DatetimeDifference, ExtendsTheSecondOperandAndPassesNull) {
  pin_now("2024-06-15 10:20:30.12345");
  const dec_t a = datetime_value("2024-06-15 12:00:00", year_to_second);
  const dec_t b = datetime_value("10:00", hour_to_minute);
  dec_t result;
  ASSERT_EQ(rdtsub(&a, year_to_second, &b, hour_to_minute, &result, day2_to_second), 0);
  EXPECT_TRUE(interval_is(result, day2_to_second, "0 02:00:00"));
  const dec_t null = null_value();
  EXPECT_EQ(rdtsub(&a, year_to_second, &null, year_to_second, &result, day2_to_second), 0);
  EXPECT_EQ(result.sign, -1);
  EXPECT_EQ(rdtsub(&a, 0x0001 | 0xF0, &a, year_to_second, &result, day2_to_second), -1268);
}

/* ---- Extension and DATE --------------------------------------------------------------- */

struct ExtendCase {
  const char *source;
  int source_qual;
  int target_qual;
  const char *expected;
};

TEST(DatetimeExtend, LeadingUnitsFromNowTrailingUnitsZeroOrOne) {
  const ExtendCase cases[] = {
      {"10:20", hour_to_minute, year_to_second, "2024-06-15 10:20:00"},
      {"2024", year_to_year, year_to_day, "2024-01-01"},
      {"2024-05", year_to_month, year_to_second, "2024-05-01 00:00:00"},
      {"2023-12-25 08:09:10", year_to_second, month_to_day, "12-25"},
      {"2023-12-25 08:09:10.987", year_to_fraction3, 0x076B, "08:09:10.9"},
      {"12-25", month_to_day, year_to_minute, "2024-12-25 00:00"},
      {".123", fraction_to_fraction3, hour_to_second, "10:20:30"},
  };
  pin_now("2024-06-15 10:20:30.12345");
  for (const ExtendCase &c : cases) {
    const dtime_t source = make_datetime(c.source, c.source_qual);
    dtime_t target;
    target.dt_qual = static_cast<uint16_t>(c.target_qual);
    ASSERT_EQ(dtextend(&source, &target), 0) << c.source;
    EXPECT_EQ(datetime_text(target.dt_dec, c.target_qual), c.expected) << c.source;
  }
}

TEST(DatetimeExtend, InvalidQualifierClearsThenSetsToerrno) {
  const dec_t source = datetime_value("2024-06-15", year_to_day);
  dec_t target;
  set_toerrno(-1);
  EXPECT_EQ(rdtextend(&source, year_to_day, &target, year_to_day), 0);
  EXPECT_EQ(get_toerrno(), 0);
  EXPECT_EQ(rdtextend(&source, year_to_day, &target, 0x0042), -1268);
  EXPECT_EQ(get_toerrno(), -1268);
}

TEST(DatetimeDate, ToAndFromDayNumbers) {
  pin_now("2024-06-15 10:20:30.12345");
  const dec_t march = datetime_value("2024-03-01 23:59", year_to_minute);
  int32_t date = 0;
  ASSERT_EQ(rdttodate(&march, year_to_minute, &date), 0);
  EXPECT_EQ(date, 45351);
  const dec_t hours = datetime_value("07", 0x0266);
  ASSERT_EQ(rdttodate(&hours, 0x0266, &date), 0);
  EXPECT_EQ(date, 45457); /* the pinned today, 2024-06-15 */
  dec_t back;
  rdatedt(45351, &back, year_to_minute);
  EXPECT_EQ(datetime_text(back, year_to_minute), "2024-03-01 00:00");
  rdatedt(DATE_NULL, &back, year_to_minute);
  EXPECT_EQ(back.sign, -1);
  const dec_t null = null_value();
  ASSERT_EQ(rdttodate(&null, year_to_day, &date), 0);
  EXPECT_EQ(date, DATE_NULL);
}

/* ---- INTERVAL conversion and counts ------------------------------------------------- */

struct CopyCase {
  const char *source;
  int source_qual;
  int target_qual;
  int status;
  const char *expected;
};

TEST(IntervalCopy, ConvertsWithinAClassAndDropsFinerUnits) {
  const CopyCase cases[] = {
      {"100:30", hour3_to_minute, day_to_hour, 0, "4 04"},
      {"1 12", day_to_hour, day_to_hour, 0, "1 12"},
      {"1 12", day_to_hour, year_to_month, -1266, ""},
      {"1-06", year_to_month, day_to_hour, -1266, ""},
      {"3 04:05:06", day2_to_second, hour_to_hour, 0, "76"},
      {"5 04:05:06", day2_to_second, hour_to_hour, -1265, ""},
      {"3 04:05:06", day2_to_second, hour3_to_minute, 0, "76:05"},
      {"-3 04:05:06", day2_to_second, hour3_to_hour, 0, "-76"},
      {"10:20", hour_to_minute, day_to_day, -1266, ""},
      {"8-04", year_to_month, month_to_month, -1265, ""},
      {"0-11", year_to_month, month_to_month, 0, "11"},
      {"1000", 0x0522, 0x0604, -1268, ""},
  };
  for (const CopyCase &c : cases) {
    const dec_t source = interval_value(c.source, c.source_qual);
    dec_t target;
    rinvcopy(&source, c.source_qual, &target, c.target_qual);
    EXPECT_EQ(get_toerrno(), c.status) << c.source;
    if (c.status == 0)
      EXPECT_TRUE(interval_is(target, c.target_qual, c.expected)) << c.source;
    else
      EXPECT_EQ(target.sign, -1) << c.source;
  }
}

TEST(IntervalCount, LastUnitCountsAndBack) {
  const dec_t seconds = interval_value("-1 01:01:01", day2_to_second);
  dec_t count;
  ASSERT_EQ(rinvtodec(&seconds, day2_to_second, &count), 0);
  char text[40] = {};
  ASSERT_EQ(dectoasc(&count, text, sizeof text - 1, -1), 0);
  EXPECT_EQ(std::string(text, strcspn(text, " ")), "-90061.0");
  const dec_t fraction = interval_value(".125", fraction_to_fraction3);
  ASSERT_EQ(rinvtodec(&fraction, fraction_to_fraction3, &count), 0);
  ASSERT_EQ(dectoasc(&count, text, sizeof text - 1, -1), 0);
  EXPECT_EQ(std::string(text, strcspn(text, " ")), "0.125");

  dec_t number;
  dec_t value;
  ASSERT_EQ(deccvasc("-90061.75", 9, &number), 0);
  rdectoinv(&number, &value, 0x094B);
  EXPECT_EQ(get_toerrno(), 0);
  EXPECT_TRUE(interval_is(value, 0x094B, "-1 01:01:01.7"));
  ASSERT_EQ(deccvasc("1000", 4, &number), 0);
  rdectoinv(&number, &value, hour3_to_hour);
  EXPECT_EQ(get_toerrno(), -1265);
  EXPECT_EQ(value.sign, -1);
  ASSERT_EQ(deccvasc("999", 3, &number), 0);
  rdectoinv(&number, &value, hour3_to_hour);
  EXPECT_EQ(get_toerrno(), 0);
  EXPECT_TRUE(interval_is(value, hour3_to_hour, "999"));
  ASSERT_EQ(deccvasc("100", 3, &number), 0);
  rdectoinv(&number, &value, hour_to_hour);
  EXPECT_EQ(get_toerrno(), -1265);
  ASSERT_EQ(deccvasc("12.5", 4, &number), 0);
  rdectoinv(&number, &value, fraction_to_fraction3);
  EXPECT_TRUE(interval_is(value, fraction_to_fraction3, ".500"));
}

TEST(IntervalCount, DivByIntDividesInPlaceAndDropsLeadingZeroPairs) {
  dec_t value;
  const unsigned char digits[] = {1, 23, 45};
  value.sign = 1;
  value.exponent = 3;
  value.npairs = 3;
  std::memcpy(value.pairs, digits, sizeof digits);
  int remainder = -1;
  ASSERT_EQ(divbyint(&value, 60, &remainder), 0);
  EXPECT_EQ(remainder, 45); /* 12345 = 205 * 60 + 45 */
  EXPECT_EQ(value.exponent, 2);
  ASSERT_EQ(value.npairs, 2);
  EXPECT_EQ(value.pairs[0], 2);
  EXPECT_EQ(value.pairs[1], 5);
  EXPECT_EQ(divbyint(&value, 0, &remainder), -1202);
}

/* ---- INTERVAL times and by a number, and by an INTERVAL -------------------------------- */

TEST(IntervalScale, TimesAndByNumbers) {
  const intrvl_t day_and_half = make_interval("1 12", day_to_hour);
  intrvl_t result;
  result.in_qual = day_to_hour;
  dec_t three;
  ASSERT_EQ(deccvint(3, &three), 0);
  ASSERT_EQ(invmuldec(&day_and_half, &three, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, day_to_hour, "4 12"));
  ASSERT_EQ(invdivdec(&day_and_half, &three, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, day_to_hour, "0 12"));
  dec_t zero;
  ASSERT_EQ(deccvint(0, &zero), 0);
  EXPECT_EQ(invdivdec(&day_and_half, &zero, &result), -1202);
  EXPECT_EQ(result.in_dec.sign, -1);
  ASSERT_EQ(invmuldbl(&day_and_half, -0.5, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, day_to_hour, "-0 18"));
  ASSERT_EQ(invdivdbl(&day_and_half, 0.25, &result), 0);
  EXPECT_TRUE(interval_is(result.in_dec, day_to_hour, "6 00"));
  ASSERT_EQ(deccvint(100, &three), 0);
  EXPECT_EQ(invmuldec(&day_and_half, &three, &result), -1265);
  result.in_qual = year_to_month;
  EXPECT_EQ(invmuldec(&day_and_half, &three, &result), -1266);
  result.in_qual = 0x0604;
  EXPECT_EQ(invmuldec(&day_and_half, &three, &result), -1268);
}

TEST(IntervalScale, IntervalByInterval) {
  const intrvl_t day = make_interval("1", day_to_day);
  const intrvl_t twelve_hours = make_interval("12", hour_to_hour);
  double quotient = 0;
  ASSERT_EQ(invdivinv(&day, &twelve_hours, &quotient), 0);
  EXPECT_DOUBLE_EQ(quotient, 2.0);
  const intrvl_t year = make_interval("1-00", year_to_month);
  const intrvl_t seconds = make_interval("1 00:00:00", day2_to_second);
  EXPECT_EQ(invdivinv(&year, &seconds, &quotient), -1268);
  const intrvl_t months = make_interval("18", month_to_month);
  ASSERT_EQ(invdivinv(&months, &year, &quotient), 0);
  EXPECT_DOUBLE_EQ(quotient, 1.5);
}

/* ---- The current time, pinned --------------------------------------------------------- */

TEST(CurrentTime, PinnedValueServesEveryQualifier) {
  pin_now("2024-06-15 10:20:30.12345");
  dtime_t now;
  now.dt_qual = 0;
  set_toerrno(-5);
  dtcurrent(&now);
  EXPECT_EQ(now.dt_qual, year_to_fraction3);
  EXPECT_EQ(get_toerrno(), 0);
  EXPECT_EQ(datetime_text(now.dt_dec, year_to_fraction3), "2024-06-15 10:20:30.123");
  now.dt_qual = hour_to_minute;
  dtcurrent(&now);
  EXPECT_EQ(datetime_text(now.dt_dec, hour_to_minute), "10:20");
  dtime_t raw;
  rdtcurrent(&raw);
  EXPECT_EQ(raw.dt_qual, year_to_fraction5);
  EXPECT_EQ(datetime_text(raw.dt_dec, year_to_fraction5), "2024-06-15 10:20:30.12345");
}

TEST(CurrentTime, InitDbtodayStoresTodaysDate) {
  pin_now("2024-06-15 23:59:59.99999");
  gen_tcb *block = initdbtoday();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->dbtoday_date, 45457);
  EXPECT_EQ(block->today, 45457);
}

TEST(CurrentTime, ClockValuesUnderUtc) {
  dec_t value;
  ASSERT_EQ(rdatetime(365 * 86400 + 3661, year_to_second, &value), 0);
  EXPECT_EQ(datetime_text(value, year_to_second), "1971-01-01 01:01:01");
  ASSERT_EQ(rdatetime(0, year_to_fraction3, &value), 0);
  EXPECT_EQ(datetime_text(value, year_to_fraction3), "1970-01-01 00:00:00.000");
  EXPECT_EQ(rdatetime(0, 0x0042, &value), -1268);

  const time_t before = time(nullptr);
  const time_t now = rutccurrent();
  EXPECT_LE(before, now);
  EXPECT_LE(now, time(nullptr));

  const time_t clock = 86400 * 2 + 5;
  struct tm out;
  std::memset(&out, 0x5A, sizeof out);
  ASSERT_EQ(dvz_localtime(&clock, &out), &out);
  EXPECT_EQ(out.tm_mday, 3);
  EXPECT_EQ(out.tm_sec, 5);
  EXPECT_EQ(out.tm_wday, 6);
  EXPECT_EQ(out.tm_yday, 2);
  EXPECT_EQ(out.tm_year, 70);
  EXPECT_EQ(dvz_localtime(nullptr, &out), nullptr);
}

}  // namespace
