/*
** The DATETIME and INTERVAL core: the qualifier check over every 16-bit
** qualifier, packing and unpacking the unit array (a value that does not
** belong to its qualifier never writes outside the qualifier's pairs),
** month lengths, the range check, the qualifier's text and the
** conversion to and from the locale library's time record.
*/
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include "dec_repr.h"
#include "dt_units.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_types.h"
#include "os_gentcb.h"

namespace {

using dec_test::repr;

constexpr int year_to_second = 0x0E0A;
constexpr int year_to_day = 0x0804;
constexpr int year_to_fraction3 = 0x110D;
constexpr int hour_to_minute = 0x0468;
constexpr int day5_to_second = 0x0B4A;
constexpr int month_to_day = 0x0424;
constexpr int day_to_day = 0x0244;
constexpr unsigned char guard = 0xA5;

/* The value of the given pairs under qualifier. */
dec_t pack(int qualifier, std::initializer_list<int> pairs, int sign = 1) {
  std::array<unsigned char, DT_UNITS_SIZE> units {};
  int i = 0;
  for (int p : pairs)
    units[i++] = static_cast<unsigned char>(p);
  dec_t value {};
  EXPECT_EQ(dtpack(&value, qualifier, units.data(), sign), 0);
  return value;
}

/* The verdict the qualifier rules give, stated on their own. */
bool valid_qualifier(bool interval, int q) {
  const int digits = q >> 8, start = (q >> 4) & 0xF, end = q & 0xF;
  if (q < 1 || digits >= 25) return false;
  if (end < start && !(start == 12 && end == 11)) return false;
  return !(interval && start <= 2 && end >= 4);
}

TEST(QualifierCheck, GivesTheVerdictOfTheRulesForEverySixteenBitQualifier) {
  for (int interval = 0; interval <= 1; ++interval) {
    for (int q = 0; q <= 0xFFFF; ++q) {
      set_toerrno(0);
      const int status = _chk_qual(interval, q);
      if (valid_qualifier(interval != 0, q)) {
        ASSERT_EQ(status, 0) << std::hex << q << " interval " << interval;
        ASSERT_EQ(get_toerrno(), 0);
      } else {
        ASSERT_EQ(status, -1268) << std::hex << q << " interval " << interval;
        ASSERT_EQ(get_toerrno(), -1268);
      }
    }
  }
}

TEST(QualifierCheck, NamedCasesOfBothClasses) {
  struct Case {
    int interval, qualifier, status;
  };
  const Case cases[] = {
      {0, year_to_day, 0},    {1, year_to_day, -1268}, {0, 0x1900 | 0x0A, -1268},
      {0, 0x01CB, 0},         {0, 0x01CA, -1268},      {1, 0x0602, 0},
      {1, day5_to_second, 0}, {0, 0x0040, -1268},      {0, 0, -1268},
  };
  for (const Case &c : cases)
    EXPECT_EQ(_chk_qual(c.interval, c.qualifier), c.status) << std::hex << c.qualifier;
}

/* For every valid qualifier: a value of non-zero pairs packs to the pair
** count and exponent of the formulas, unpacks into exactly those pairs of
** a guarded buffer, and comes back unchanged. */
TEST(UnitArray, PairCountAndExponentFollowTheFormulasForEveryValidQualifier) {
  for (int q = 1; q <= 0xFFFF; ++q) {
    if (_chk_qual(0, q) != 0 && _chk_qual(1, q) != 0) continue;
    const int digits = q >> 8, end = q & 0xF;
    const int pairs = (digits + (end & 1) + 1) / 2;
    const int exponent = (digits - end + 11) / 2;
    std::array<unsigned char, DT_UNITS_SIZE + 8> units {};
    for (int i = 0; i < pairs; ++i)
      units[i] = static_cast<unsigned char>(11 + i);
    dec_t value {};
    ASSERT_EQ(dtpack(&value, q, units.data(), 1), 0) << std::hex << q;
    if (pairs == 0) {
      ASSERT_EQ(value.npairs, 0);
      continue;
    }
    ASSERT_EQ(value.npairs, pairs) << std::hex << q;
    ASSERT_EQ(value.exponent, exponent) << std::hex << q;
    std::array<unsigned char, DT_UNITS_SIZE + 8> back;
    back.fill(guard);
    ASSERT_EQ(dtunpack(&value, q, back.data()), exponent);
    for (int i = 0; i < pairs; ++i) {
      const int expected = (end & 1) != 0 && i == pairs - 1 ? units[i] / 10 * 10 : units[i];
      ASSERT_EQ(back[i], expected) << std::hex << q << " pair " << i;
    }
    for (size_t i = pairs; i < back.size(); ++i)
      ASSERT_EQ(back[i], guard) << std::hex << q;
  }
}

TEST(UnitArray, PackTruncatesAnOddLastFractionDigitAndRestoresTheArray) {
  unsigned char units[9] = {20, 24, 3, 5, 7, 8, 9, 12, 34};
  dec_t value {};
  ASSERT_EQ(dtpack(&value, year_to_fraction3, units, 1), 0);
  EXPECT_EQ(repr(value), "+202403050708091230@7");
  EXPECT_EQ(units[8], 34);
  ASSERT_EQ(dtpack(&value, day5_to_second, units, 0), 0);
  EXPECT_EQ(repr(value), "-202403050708@6");
}

TEST(UnitArray, UnpackPlacesTheDigitsByTheValuesExponent) {
  struct Case {
    const char *name;
    int16_t exponent;
    int16_t npairs;
    int qualifier;
    std::array<unsigned char, 4> expected;
  };
  /* HOUR TO MINUTE has exponent 3 and two pairs. */
  const Case cases[] = {
      {"own exponent", 3, 2, hour_to_minute, {1, 2, guard, guard}},
      {"exponent one lower shifts right", 2, 2, hour_to_minute, {0, 1, guard, guard}},
      {"exponent above leaves zeros", 4, 2, hour_to_minute, {0, 0, guard, guard}},
      {"no digits leaves zeros", 3, 0, hour_to_minute, {0, 0, guard, guard}},
      {"far below drops every digit", -64, 16, hour_to_minute, {0, 0, guard, guard}},
      {"YEAR TO DAY, four pairs", 7, 3, year_to_day, {1, 2, 3, 0}},
  };
  for (const Case &c : cases) {
    dec_t value {};
    value.sign = 1;
    value.exponent = c.exponent;
    value.npairs = c.npairs;
    for (int i = 0; i < DECSIZE; ++i)
      value.pairs[i] = static_cast<uint8_t>(i + 1);
    std::array<unsigned char, 4> units;
    units.fill(guard);
    EXPECT_EQ(dtunpack(&value, c.qualifier, units.data()), dt_exponent(c.qualifier)) << c.name;
    EXPECT_EQ(units, c.expected) << c.name;
  }
}

/* A sixteen-pair value under HOUR TO MINUTE (two pairs): only the two
** pairs are written, whatever the exponent. */
TEST(UnitArray, SixteenPairValueNeverWritesPastTheQualifiersPairs) {
  for (int exponent = -64; exponent <= 63; ++exponent) {
    dec_t value {};
    value.sign = 1;
    value.exponent = static_cast<int16_t>(exponent);
    value.npairs = 16;
    for (int i = 0; i < DECSIZE; ++i)
      value.pairs[i] = static_cast<uint8_t>(90 + i % 10);
    std::array<unsigned char, 2 + 16> units;
    units.fill(guard);
    dtunpack(&value, hour_to_minute, units.data());
    for (size_t i = 2; i < units.size(); ++i)
      ASSERT_EQ(units[i], guard) << exponent;
  }
}

TEST(UnitArray, DaysInMonthByTheIndexOfTheDayPair) {
  struct Case {
    std::array<unsigned char, 3> units;
    int day_index, days;
  };
  const Case cases[] = {
      {{0, 0, 0}, 0, 31},    {{2, 0, 0}, 1, 29},  {{4, 0, 0}, 1, 30},  {{12, 0, 0}, 1, 31},
      {{20, 24, 2}, 3, 29},  {{19, 0, 2}, 3, 28}, {{20, 0, 2}, 3, 29}, {{20, 23, 2}, 3, 28},
      {{20, 23, 11}, 3, 30}, {{20, 23, 1}, 2, 0}, {{13, 0, 0}, 1, 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(daysinmonth(c.units.data(), c.day_index), c.days)
        << int(c.units[0]) << " " << int(c.units[1]) << " " << int(c.units[2]) << " @"
        << c.day_index;
}

TEST(RangeCheck, ChecksEachUnitOfBothClasses) {
  struct Case {
    const char *name;
    int qualifier, is_datetime;
    dec_t value;
    int status;
  };
  const Case cases[] = {
      {"a valid instant", year_to_second, 1, pack(year_to_second, {20, 24, 2, 29, 23, 59, 59}), 0},
      {"year 0", year_to_day, 1, pack(year_to_day, {0, 0, 1, 1}), -1263},
      {"year 9999", year_to_day, 1, pack(year_to_day, {99, 99, 12, 31}), 0},
      {"month 0", year_to_day, 1, pack(year_to_day, {20, 24, 0, 1}), -1263},
      {"month 13", year_to_day, 1, pack(year_to_day, {20, 24, 13, 1}), -1263},
      {"day 0", year_to_day, 1, pack(year_to_day, {20, 24, 1, 0}), -1263},
      {"February 29 of a common year", year_to_day, 1, pack(year_to_day, {20, 23, 2, 29}), -1263},
      {"February 29 without a year", month_to_day, 1, pack(month_to_day, {2, 29}), 0},
      {"April 31 without a year", month_to_day, 1, pack(month_to_day, {4, 31}), -1263},
      {"day 31 alone", day_to_day, 1, pack(day_to_day, {31}), 0},
      {"day 32 alone", day_to_day, 1, pack(day_to_day, {32}), -1263},
      {"hour 24", year_to_second, 1, pack(year_to_second, {20, 24, 1, 1, 24, 0, 0}), -1263},
      {"minute 60", year_to_second, 1, pack(year_to_second, {20, 24, 1, 1, 0, 60, 0}), -1263},
      {"second 60", year_to_second, 1, pack(year_to_second, {20, 24, 1, 1, 0, 0, 60}), -1263},
      {"interval first field unbounded", day5_to_second, 0,
       pack(day5_to_second, {9, 99, 99, 23, 59, 59}), 0},
      {"interval hour 24", day5_to_second, 0, pack(day5_to_second, {0, 0, 1, 24, 0, 0}), -1263},
      {"interval month 12", 0x0602, 0, pack(0x0602, {0, 1, 12}), -1263},
      {"interval month 11", 0x0602, 0, pack(0x0602, {0, 1, 11}), 0},
      {"interval of fraction only", 0x01CB, 0, pack(0x01CB, {50}), 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(chk_dtinv(&c.value, c.qualifier, c.is_datetime), c.status) << c.name;
  /* A pair above 99 in an INTERVAL's value. */
  dec_t odd = pack(day5_to_second, {0, 0, 1, 2, 3, 4});
  odd.pairs[0] = 150;
  EXPECT_EQ(chk_dtinv(&odd, day5_to_second, 0), -1263);
}

TEST(RangeCheck, CheckYearAcceptsOneToNineThousandNineHundredNinetyNine) {
  const unsigned char zero[2] = {0, 0}, one[2] = {0, 1}, last[2] = {99, 99}, bad[2] = {100, 0};
  EXPECT_EQ(checkyear(zero), -1);
  EXPECT_EQ(checkyear(one), 0);
  EXPECT_EQ(checkyear(last), 0);
  EXPECT_EQ(checkyear(bad), -1);
}

TEST(QualifierText, NamesUnitsAndWritesTheQualifier) {
  const std::string names[] = {rtuname(0), rtuname(2),  rtuname(4),  rtuname(6),
                               rtuname(8), rtuname(10), rtuname(12), rtuname(13)};
  const std::string expected[] = {"year",   "month",  "day",      "hour",
                                  "minute", "second", "fraction", "fraction"};
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(names[i], expected[i]);

  struct Case {
    int type, qualifier;
    const char *text;
  };
  const Case cases[] = {
      {sql_type_interval, day5_to_second, "day(5) to second"},
      {sql_type_datetime, year_to_fraction3, "year to fraction(3)"},
      {sql_type_interval, 0x0602, "year to month"},
      {sql_type_interval, 0x0702, "year(5) to month"},
      {sql_type_interval, 0x0568, "hour(3) to minute"},
      {sql_type_interval, 0x104A, "day(10) to second"},
      {sql_type_interval, 0x164A, "day(16) to second"},
      {sql_type_datetime, 0x01CB, "fraction to fraction(1)"},
      {sql_type_datetime, hour_to_minute, "hour to minute"},
  };
  for (const Case &c : cases) {
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    const int length = rtudesc(c.type, c.qualifier, buffer);
    EXPECT_EQ(std::string(buffer, length), c.text);
    EXPECT_EQ(buffer[length], '#') << "no NUL is written";
  }
  char buffer[64];
  set_toerrno(0);
  EXPECT_EQ(rtudesc(sql_type_interval, year_to_day, buffer), 0);
  EXPECT_EQ(get_toerrno(), -1268);
}

/* A time record through every FRACTION(n) comes back with its
** microseconds cut to n digits, every other field kept, and the weekday
** and day of the year of its date (std::chrono's). */
TEST(TimeRecord, RoundTripsForEveryFractionLength) {
  const gl_time_rec times[] = {
      {987654, 59, 58, 23, 31, 11, 8099, 0, 0, 0, 0, 0},
      {1, 0, 0, 0, 1, 0, -1899, 0, 0, 0, 0, 0},
      {500005, 7, 8, 9, 29, 1, 124, 0, 0, 0, 0, 0},
      {999999, 30, 30, 12, 15, 6, 0, 0, 0, 0, 0, 0},
  };
  const int scale[6] = {1000000, 100000, 10000, 1000, 100, 10};
  for (int n = 1; n <= 5; ++n) {
    const int q = TU_ENCODE(14 + n, TU_YEAR, TU_SECOND + n);
    for (const gl_time_rec &t : times) {
      dec_t value {};
      ASSERT_EQ(tmtodtdec(&t, &value, q), 0);
      ASSERT_EQ(chk_dtinv(&value, q, 1), 0) << repr(value);
      gl_time_rec back {};
      back.tm_wday = 5;
      ASSERT_EQ(dtdectotm(&back, &value, q), 0);
      EXPECT_EQ(back.tm_fraction, t.tm_fraction / scale[n] * scale[n]) << n;
      EXPECT_EQ(back.tm_sec, t.tm_sec);
      EXPECT_EQ(back.tm_min, t.tm_min);
      EXPECT_EQ(back.tm_hour, t.tm_hour);
      EXPECT_EQ(back.tm_mday, t.tm_mday);
      EXPECT_EQ(back.tm_mon, t.tm_mon);
      EXPECT_EQ(back.tm_year, t.tm_year);
      using namespace std::chrono;
      const year_month_day date {year {t.tm_year + 1900}, month {unsigned(t.tm_mon + 1)},
                                 day {unsigned(t.tm_mday)}};
      EXPECT_EQ(back.tm_wday, int(weekday {sys_days {date}}.c_encoding()));
      EXPECT_EQ(back.tm_yday, (sys_days {date} - sys_days {date.year() / January / 1}).count());
    }
  }
}

TEST(TimeRecord, PartialQualifiersAndTheUnknownYear) {
  const gl_time_rec t {123456, 9, 8, 7, 5, 2, 124, 3, 64, 1, 0, 0};
  dec_t value {};
  ASSERT_EQ(tmtodtdec(&t, &value, hour_to_minute), 0);
  EXPECT_EQ(repr(value), "+0708@3");
  ASSERT_EQ(tmtodtdec(&t, &value, year_to_day), 0);
  EXPECT_EQ(repr(value), "+20240305@7");
  ASSERT_EQ(tmtodtdec(&t, &value, 0x05CF), 0);
  EXPECT_EQ(repr(value), "+123450@0");
  gl_time_rec back {};
  ASSERT_EQ(dtdectotm(&back, &value, 0x05CF), 0);
  EXPECT_EQ(back.tm_fraction, 123450);
  EXPECT_EQ(back.tm_mday, 1) << "day of month defaults to 1";
  const dec_t clock = pack(hour_to_minute, {7, 8});
  ASSERT_EQ(dtdectotm(&back, &clock, hour_to_minute), 0);
  EXPECT_EQ(back.tm_hour, 7);
  EXPECT_EQ(back.tm_min, 8);
  EXPECT_EQ(back.tm_year, 0);

  gl_time_rec unknown = t;
  unknown.tm_year = -1900;
  EXPECT_EQ(tmtodtdec(&unknown, &value, year_to_second), -1);
}

}  // namespace
