/*
** The century rules (R, P, F, C) relative to a given today, the fixed
** centuries of the other calendars, and the day numbers they compare,
** checked against Python's datetime on days sampled over years 1-9999.
*/
#include "error_word.h"
#include "numbers_support.h"
#include "time_internal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

namespace {

class Century : public ::testing::Test {
 protected:
  glstest::TableGetenv env;
  lcotest::LocalePtr en = numtest::shipped(env, "en_us/0333.lco");
};

TEST_F(Century, PlacesTwoDigitYearsRelativeToToday) {
  /* Today: 15 June 2024 (K = 20). */
  struct Row {
    int month, day, year;
    int rule;
    int century;
  } rows[] = {
      /* Today's own month and day: the past rule takes the previous century,
      ** the future rule the next. */
      {6, 15, 24, 'P', 19},
      {6, 15, 24, 'F', 21},
      {6, 15, 24, 'C', 20},
      {6, 15, 24, 'R', 20},
      {6, 14, 24, 'P', 20},
      {6, 16, 24, 'P', 19},
      {6, 16, 24, 'F', 20},
      {6, 14, 24, 'F', 21},
      /* Closest: 2073 is nearer than 1973, 1975 than 2075. */
      {6, 15, 73, 'C', 20},
      {6, 15, 75, 'C', 19},
      {1, 1, 0, 'C', 20},
      {1, 1, 99, 'C', 19},
      /* Month and day 0 stand for today's. */
      {0, 0, 24, 'P', 19},
      {0, 0, 24, 'F', 21},
      /* Any other letter is the current century. */
      {1, 1, 99, 'x', 20},
      /* A year of more than two digits is its own century. */
      {1, 1, 1987, 'P', 19},
      {1, 1, 100, 'F', 1},
      /* 29 February of a common year counts as 1 March. */
      {2, 29, 23, 'F', 21},
      {2, 29, 25, 'P', 19},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.month) + "/" + std::to_string(row.day) + "/" +
                 std::to_string(row.year) + " rule " + static_cast<char>(row.rule));
    en->error = 0;
    EXPECT_EQ(gl_getcentury_internal(en.get(), row.month, row.day, row.year, 6, 15, 2024, row.rule),
              row.century);
    EXPECT_EQ(en->error, 0);
  }
}

TEST_F(Century, FailsWhenADayNumberCannotBeFormed) {
  struct Row {
    int month, day, year;
    int error;
  } rows[] = {
      {4, 31, 24, GL_ETMDAY},
      {13, 1, 24, GL_ETMONTH},
      {1, 1, -1, GL_ETYEAR},
  };
  for (const Row &row : rows) {
    en->error = 0;
    EXPECT_EQ(gl_getcentury_internal(en.get(), row.month, row.day, row.year, 6, 15, 2024, 'C'), -1);
    EXPECT_EQ(en->error, row.error);
  }
  /* Today in year 9999: the next century's dates cannot be formed. */
  en->error = 0;
  EXPECT_EQ(gl_getcentury_internal(en.get(), 1, 1, 50, 6, 15, 9999, 'C'), -1);
  EXPECT_EQ(en->error, GL_ETYEAR);
  /* The rule 'R' needs no dates but today's. */
  EXPECT_EQ(gl_getcentury_internal(en.get(), 1, 1, 50, 6, 15, 9999, 'R'), 99);
}

TEST_F(Century, TakesTodayFromTheOverrideElseFromTheDateService) {
  static gl_date_rec service_today;
  service_today = gl_date_rec {1, 1, 2150};
  glstest::ScopedSlot date(
      GL_EXT_CURRDATE, +[](gl_date_rec *d) {
        *d = service_today;
        return 0;
      });
  EXPECT_EQ(gl_getcentury(en.get(), 1, 1, 50, 'P'), 20);
  EXPECT_EQ(gl_getcentury(en.get(), 1, 1, 50, 'F'), 22);
  gl_set_current_time(15, 6, 2024);
  const int past = gl_getcentury(en.get(), 6, 15, 24, 'P');
  const int future = gl_getcentury(en.get(), 6, 15, 24, 'F');
  /* A today given in the call comes before the override. */
  const int given = gl_getcentury_internal(en.get(), 1, 1, 50, 1, 1, 2150, 'P');
  gl_reset_time();
  EXPECT_EQ(past, 19);
  EXPECT_EQ(future, 21);
  EXPECT_EQ(given, 20);
  EXPECT_EQ(gl_getcentury(en.get(), 1, 1, 50, 'R'), 21);
}

TEST(CenturyCalendars, GiveTheCalendarsFixedCentury) {
  lcotest::Scene scene;
  struct Row {
    const char *calendar;
    int century;
  } rows[] = {{"hebrew", 57}, {"islamic", 14}, {"arabic", 0}};
  int n = 0;
  for (const Row &row : rows) {
    lcotest::Lco file = lcotest::toy_locale();
    lcotest::TimeToy time;
    time.calendar = row.calendar;
    time.month_count = std::string(row.calendar) == "hebrew" ? 14 : 12;
    file.time = time.text();
    const std::string name = "c" + std::to_string(++n) + ".lco";
    scene.write(name, file);
    lcotest::LocalePtr loc = lcotest::new_record();
    ASSERT_NE(lcotest::load(loc.get(), GL_ALL, name.c_str()), "(null)");
    EXPECT_EQ(gl_alt_getcentury(loc.get()), row.century);
    for (int rule : {'P', 'F', 'C', 'R'})
      EXPECT_EQ(gl_getcentury_internal(loc.get(), 1, 1, 24, 6, 15, 2024, rule), row.century);
  }
}

TEST(DayNumbers, RefuseDatesOutsideTheCalendar) {
  glstest::ErrorWord word;
  int32_t j = 0;
  const gl_date_rec none {0, 0, 0};
  EXPECT_EQ(glslib::get_julian(word.record(), &none, &j), 0);
  EXPECT_EQ(j, INT32_MIN);
  EXPECT_EQ(word.take(), 0);
  struct Row {
    gl_date_rec date;
    int error;
  } rows[] = {{{1, 1, 0}, GL_ETYEAR},      {{1, 1, 10000}, GL_ETYEAR}, {{0, 1, 2000}, GL_ETMONTH},
              {{13, 1, 2000}, GL_ETMONTH}, {{2, 30, 2000}, GL_ETMDAY}, {{2, 29, 1900}, GL_ETMDAY},
              {{4, 0, 2000}, GL_ETMDAY}};
  for (const Row &row : rows) {
    EXPECT_EQ(glslib::get_julian(word.record(), &row.date, &j), -1);
    EXPECT_EQ(word.take(), row.error);
  }
  const gl_date_rec epoch {12, 31, 1899};
  ASSERT_EQ(glslib::get_julian(word.record(), &epoch, &j), 0);
  EXPECT_EQ(j, 0);
}

/* Every day of years 1-9999 in turn: the day numbers count up by one from
** -693594 (1 January 1) to 2958464 (31 December 9999), with 0 on 31
** December 1899 and Sunday wherever the number is a multiple of 7. */
TEST(DayNumbers, CountEveryDayOfTheRange) {
  glstest::ErrorWord word;
  int32_t expected = -693594;
  int mismatches = 0;
  for (int year = 1; year <= 9999; ++year)
    for (int month = 1; month <= 12; ++month)
      for (int day = 1; day <= glslib::gregorian_month_length(month, year); ++day, ++expected) {
        const gl_date_rec date {static_cast<uint16_t>(month), static_cast<uint16_t>(day),
                                static_cast<uint16_t>(year)};
        int32_t j = 0;
        if (glslib::get_julian(word.record(), &date, &j) != 0 || j != expected) ++mismatches;
      }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(expected - 1, 2958464);
  EXPECT_EQ(word.take(), 0);
}

/* Python's datetime as the oracle: day number = toordinal() - 693595,
** weekday = isoweekday() % 7, day of year = tm_yday - 1. The parser must
** give the same weekday and day of year for the date. */
TEST_F(Century, DayNumbersWeekdaysAndYearDaysAgreeWithPythonDatetime) {
  std::mt19937 rng(1899);
  std::ostringstream input;
  std::vector<gl_date_rec> dates;
  for (int year = 1; year <= 9999; year += std::uniform_int_distribution<int>(1, 7)(rng)) {
    for (int k = 0; k < 2; ++k) {
      const int month = std::uniform_int_distribution<int>(1, 12)(rng);
      const int day =
          std::uniform_int_distribution<int>(1, glslib::gregorian_month_length(month, year))(rng);
      dates.push_back(gl_date_rec {static_cast<uint16_t>(month), static_cast<uint16_t>(day),
                                   static_cast<uint16_t>(year)});
      input << year << ' ' << month << ' ' << day << '\n';
    }
  }
  /* The first and last day of the range, and 1 March of leap years. */
  for (gl_date_rec d : {gl_date_rec {1, 1, 1}, gl_date_rec {12, 31, 9999}, gl_date_rec {3, 1, 2000},
                        gl_date_rec {3, 1, 1900}, gl_date_rec {2, 29, 2400}}) {
    dates.push_back(d);
    input << d.year << ' ' << d.month << ' ' << d.day << '\n';
  }
  const std::string output = numtest::run_python(
      "import sys, datetime\n"
      "for line in open(sys.argv[1]):\n"
      "    y, m, d = map(int, line.split())\n"
      "    t = datetime.date(y, m, d)\n"
      "    print(t.toordinal() - 693595, t.isoweekday() % 7, t.timetuple().tm_yday - 1)\n",
      input.str());
  std::istringstream lines(output);
  for (const gl_date_rec &d : dates) {
    long expected_day = 0;
    int expected_wday = 0, expected_yday = 0;
    ASSERT_TRUE(lines >> expected_day >> expected_wday >> expected_yday);
    const std::string context =
        std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
    int32_t j = 0;
    en->error = 0;
    ASSERT_EQ(glslib::get_julian(en.get(), &d, &j), 0) << context;
    EXPECT_EQ(j, expected_day) << context;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    gl_time_rec t {};
    ASSERT_NE(gl_mbsptime(en.get(), numtest::U(text), numtest::U("%Y-%m-%d"), &t, 'C'), nullptr)
        << context << ": error " << en->error;
    EXPECT_EQ(t.tm_wday, expected_wday) << context;
    EXPECT_EQ(t.tm_yday, expected_yday) << context;
  }
}

}  // namespace
