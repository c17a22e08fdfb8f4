/*
** DATE day numbers against std::chrono (DATE = sys_days count + 25568)
** over the whole valid range, the documented edge cases, the error
** precedence of rmdyjul, weekdays of any integer, and today's cache and
** fixed date.
*/
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "gen_date.h"
#include "gen_datetime.h"
#include "os_gentcb.h"

namespace {

using namespace std::chrono;

constexpr int32_t sys_days_offset = 25568;

TEST(DateDays, EveryDayAgreesWithChrono) {
  int16_t mdy[3];
  for (int32_t date = DATE_MIN; date <= DATE_MAX; ++date) {
    const year_month_day ymd {sys_days {days {date - sys_days_offset}}};
    ASSERT_EQ(rjulmdy(date, mdy), 0) << date;
    ASSERT_EQ(mdy[0], static_cast<int>(unsigned(ymd.month()))) << date;
    ASSERT_EQ(mdy[1], static_cast<int>(unsigned(ymd.day()))) << date;
    ASSERT_EQ(mdy[2], static_cast<int>(ymd.year())) << date;
    int32_t back = 0;
    ASSERT_EQ(rmdyjul(mdy, &back), 0) << date;
    ASSERT_EQ(back, date);
    ASSERT_EQ(rdayofweek(date),
              static_cast<int>(weekday {sys_days {days {date - sys_days_offset}}}.c_encoding()))
        << date;
  }
}

TEST(DateDays, EdgeCasesOfTriples) {
  struct Case {
    int16_t month, day, year;
    int status;
    int32_t date;
  } const cases[] = {
      {12, 31, 1899, 0, 0},
      {1, 1, 1, 0, DATE_MIN},
      {12, 31, 9999, 0, DATE_MAX},
      {1, 1, 1900, 0, 1},
      {2, 29, 2000, 0, 36584},
      {2, 29, 1900, -1206, 0},
      {13, 1, 2000, -1205, 0},
      {1, 1, 0, -1204, 0},
      {0, 1, 2000, -1205, 0},
      {4, 31, 2024, -1206, 0},
      {1, 0, 2024, -1206, 0},
      {1, 1, 10000, -1204, 0},
      /* precedence: year before month before day */
      {13, 40, 0, -1204, 0},
      {13, 40, 2000, -1205, 0},
      {0, 0, 1, -1205, 0},
      {-1, -1, -1, -1204, 0},
  };
  for (const Case &c : cases) {
    const int16_t mdy[3] = {c.month, c.day, c.year};
    int32_t date = 77;
    EXPECT_EQ(rmdyjul(mdy, &date), c.status) << c.month << "/" << c.day << "/" << c.year;
    EXPECT_EQ(date, c.status == 0 ? c.date : 77) << c.month << "/" << c.day << "/" << c.year;
  }
}

TEST(DateDays, ZeroTripleIsNullAndNullSplitsToZeros) {
  const int16_t zeros[3] = {0, 0, 0};
  int32_t date = 5;
  EXPECT_EQ(rmdyjul(zeros, &date), 0);
  EXPECT_EQ(date, DATE_NULL);
  int16_t mdy[3] = {9, 9, 9};
  EXPECT_EQ(rjulmdy(DATE_NULL, mdy), 0);
  EXPECT_EQ(mdy[0] | mdy[1] | mdy[2], 0);
}

TEST(DateDays, SplittingOutsideTheRangeGivesZerosAndMinus1210) {
  for (int32_t date : {DATE_MAX + 1, DATE_MIN - 1, INT32_MAX, INT32_MIN + 1}) {
    int16_t mdy[3] = {9, 9, 9};
    EXPECT_EQ(rjulmdy(date, mdy), -1210) << date;
    EXPECT_EQ(mdy[0] | mdy[1] | mdy[2], 0) << date;
  }
}

TEST(DateDays, WeekdayOfAnyIntegerIsWithinTheWeek) {
  EXPECT_EQ(rdayofweek(0), 0);
  EXPECT_EQ(rdayofweek(1), 1);
  EXPECT_EQ(rdayofweek(DATE_NULL), 0);
  for (int32_t date : {INT32_MIN + 1, INT32_MIN + 2, INT32_MAX, INT32_MAX - 1, -693596, -700000}) {
    int w = rdayofweek(date);
    EXPECT_GE(w, 0) << date;
    EXPECT_LE(w, 6) << date;
    /* consecutive days are consecutive weekdays */
    if (date < INT32_MAX) {
      EXPECT_EQ(rdayofweek(date + 1), (w + 1) % 7) << date;
    }
  }
}

TEST(DateDays, LeapYears) {
  struct Case {
    int year, leap;
  } const cases[] = {{1900, 0}, {2000, 1}, {2024, 1}, {2023, 0}, {1600, 1}, {4, 1}, {1, 0}};
  for (const Case &c : cases)
    EXPECT_EQ(rleapyear(c.year), c.leap) << c.year;
}

/* The leap-year rule for every year a DATE holds, against std::chrono,
** and the DATE and DATETIME functions built on it: February 29 exists in
** exactly those years (with chrono's day number), and a DATETIME's
** February has 29 days in exactly those years. */
TEST(DateDays, LeapYearsAgreeWithChronoForEveryYear) {
  for (int y = 1; y <= 9999; ++y) {
    const bool leap = year {y}.is_leap();
    ASSERT_EQ(rleapyear(y), leap ? 1 : 0) << y;
    const int16_t feb29[3] = {2, 29, static_cast<int16_t>(y)};
    int32_t date = 0;
    if (leap) {
      ASSERT_EQ(rmdyjul(feb29, &date), 0) << y;
      EXPECT_EQ(date,
                sys_days {year {y} / February / 29}.time_since_epoch().count() + sys_days_offset)
          << y;
    } else {
      ASSERT_EQ(rmdyjul(feb29, &date), -1206) << y;
    }
    /* A unit array YEAR (two base-100 digits), MONTH 2. */
    const unsigned char units[3] = {static_cast<unsigned char>(y / 100),
                                    static_cast<unsigned char>(y % 100), 2};
    ASSERT_EQ(daysinmonth(units, 3), leap ? 29 : 28) << y;
  }
}

TEST(DateToday, FixedTodayHoldsUntilReleased) {
  const int32_t fixed = 45651; /* 2024-12-25 */
  rsettoday(&fixed);
  int32_t today = 0;
  rtoday(&today);
  EXPECT_EQ(today, fixed);
  rsettoday(nullptr);
  rtoday(&today);
  EXPECT_NE(today, fixed);
  EXPECT_EQ(CheckGenInit()->flags & gen_flag_today_fixed, 0);
}

TEST(DateToday, ClockDateIsCachedPerSlot) {
  rsettoday(nullptr);
  int32_t first = 0;
  rtoday(&first);
  const year_month_day now {floor<days>(system_clock::now())};
  const int32_t expected =
      static_cast<int32_t>(sys_days {now}.time_since_epoch().count()) + sys_days_offset;
  /* the clock may cross midnight between the two readings */
  EXPECT_LE(std::abs(first - expected), 1);
  /* A second call in the same slot returns the cached word as it stands:
  ** mark it, and read again unless the slot has just changed. */
  gen_tcb *block = CheckGenInit();
  for (int tries = 0; tries < 3; ++tries) {
    int32_t key = block->today_key;
    block->today = 12345;
    int32_t second = 0;
    rtoday(&second);
    if (block->today_key != key) continue;
    EXPECT_EQ(second, 12345);
    break;
  }
  rsettoday(nullptr);
}

}  // namespace
