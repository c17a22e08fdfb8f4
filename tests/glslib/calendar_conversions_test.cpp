/*
** Date conversions between the Gregorian calendar and a locale's Hebrew or
** Islamic calendar, the Gregorian day of the week and of the year, and the
** dispatch by a locale's calendar.
**
** Peers: python3-convertdate for the Hebrew calendar (Debian's
** /usr/bin/python3, run once per case with a batch file), ICU's tabular
** Islamic calendar "islamic-tbla" and Python's datetime for the weekday
** and day of the year of every day. Every other check walks the days one
** by one with its own counters.
*/
#include "gl_calendar.h"
#include "lco_builder.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <unicode/ucal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace lcotest;

/* ---- Independent Gregorian arithmetic ------------------------------------ */

struct Civil {
  int year;
  int month; /* 1..12 */
  int day;
};

/* Civil date of a proleptic ordinal (1 January 1 is day 1), by the
** era-of-400-years method: nothing shared with the library. */
Civil civil_from_ordinal(int64_t ordinal) {
  int64_t z = ordinal - 719163 + 719468; /* days from 1 March 0 */
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0)), month, day};
}

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int month_length(int year, int month /* 1..12 */) {
  static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return lengths[month - 1] + (month == 2 && leap(year) ? 1 : 0);
}

alt_tm gregorian(int year, int month /* 1..12 */, int day) {
  alt_tm t {};
  t.tm_mday = day;
  t.tm_mon = t.tm_cal_mon = month - 1;
  t.tm_year = year - 1900;
  return t;
}

alt_tm local_date(int year, int month_number, int calendar_month, int day) {
  alt_tm t {};
  t.tm_mday = day;
  t.tm_mon = month_number;
  t.tm_cal_mon = calendar_month;
  t.tm_year = year - 1900;
  return t;
}

bool same_date(const alt_tm &a, const alt_tm &b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_cal_mon == b.tm_cal_mon &&
         a.tm_mday == b.tm_mday;
}

std::string show(const alt_tm &t) {
  char text[96];
  std::snprintf(text, sizeof text, "%d/%d(cal %d)/%d wday %d yday %d", t.tm_year + 1900, t.tm_mon,
                t.tm_cal_mon, t.tm_mday, t.tm_wday, t.tm_yday);
  return text;
}

bool all_zero(const alt_tm &t) {
  static const alt_tm zero {};
  return std::memcmp(&t, &zero, sizeof t) == 0;
}

/* ---- The Python peer ---------------------------------------------------- */

/* Runs script over input with Debian's python3 and returns its output lines;
** fails the test when the interpreter or its modules are missing. */
std::vector<std::string> run_python(const char *script, const std::string &input) {
  dvz_test::TempDir dir;
  const std::string script_path = dir.write("peer.py", script);
  const std::string input_path = dir.write("input.txt", input);
  const std::string output_path = dir.file("output.txt");
  const std::string command =
      "/usr/bin/python3 " + script_path + " " + input_path + " > " + output_path + " 2>&1";
  const int status = std::system(command.c_str());
  std::vector<std::string> lines;
  std::istringstream out(dvz_test::read_file(output_path));
  for (std::string line; std::getline(out, line);)
    lines.push_back(line);
  EXPECT_EQ(status, 0) << "python3 peer failed (tools/install-deps installs it): "
                       << (lines.empty() ? "" : lines.back());
  return lines;
}

/* Months of the peer count from Nisan = 1 (Adar I = 12, Adar II = 13 in a
** leap year); ours count from Tishri, with calendar months Tishri 0 ..
** Elul 11, Adar I 12, Adar II 13. */
void peer_month_to_ours(int peer_month, bool leap_year, int *month_number, int *calendar_month) {
  if (peer_month >= 7 && peer_month <= 11) { /* Tishri .. Shevat */
    *month_number = *calendar_month = peer_month - 7;
  } else if (peer_month <= 6) { /* Nisan .. Elul */
    *month_number = peer_month + (leap_year ? 6 : 5);
    *calendar_month = peer_month + 5;
  } else if (peer_month == 12) { /* Adar, or Adar I */
    *month_number = 5;
    *calendar_month = leap_year ? 12 : 5;
  } else { /* Adar II */
    *month_number = 6;
    *calendar_month = 13;
  }
}

/* ---- Edge cases ---------------------------------------------------------- */

using Conversion = int (*)(const alt_tm *, alt_tm *);

TEST(CalendarConversions, KnownDatesConvertAndOutOfRangeDatesFail) {
  struct Case {
    const char *what;
    Conversion convert;
    alt_tm in;
    bool converts;
    int year = 0, month_number = 0, calendar_month = 0, day = 0, weekday = 0, yearday = 0;
  } cases[] = {
      {"1 Jan 2000 is 23 Tevet 5760, Saturday", gl_cal_gregorian_to_hebrew, gregorian(2000, 1, 1),
       true, 5760, 3, 3, 23, 6, 112},
      {"16 Sep 2023 is 1 Tishri 5784", gl_cal_gregorian_to_hebrew, gregorian(2023, 9, 16), true,
       5784, 0, 0, 1, 6, 0},
      {"9 Apr 2024 is 1 Nisan 5784", gl_cal_gregorian_to_hebrew, gregorian(2024, 4, 9), true, 5784,
       7, 6, 1, 2, 206},
      {"11 Mar 2024 is 1 Adar II 5784", gl_cal_gregorian_to_hebrew, gregorian(2024, 3, 11), true,
       5784, 6, 13, 1, 1, 177},
      {"10 Feb 2024 is 1 Adar I 5784", gl_cal_gregorian_to_hebrew, gregorian(2024, 2, 10), true,
       5784, 5, 12, 1, 6, 147},
      {"1 Jan 1 is 18 Tevet 3761", gl_cal_gregorian_to_hebrew, gregorian(1, 1, 1), true, 3761, 3, 3,
       18, 1, 107},
      {"23 Feb 10000 is the last Hebrew-convertible day", gl_cal_gregorian_to_hebrew,
       gregorian(10000, 2, 23), true, 13760, 3, 3, 23, 3, 111},
      {"21 Oct 8735 is 1 Tishri 12496", gl_cal_gregorian_to_hebrew, gregorian(8735, 10, 21), true,
       12496, 0, 0, 1, 1, 0},
      {"24 Feb 10000 fails", gl_cal_gregorian_to_hebrew, gregorian(10000, 2, 24), false},
      {"31 Dec 0 fails", gl_cal_gregorian_to_hebrew, gregorian(0, 12, 31), false},
      {"a 13th Gregorian month fails", gl_cal_gregorian_to_hebrew, gregorian(2000, 14, 1), false},
      {"18 Tevet 3761 is 1 Jan 1", gl_cal_hebrew_to_gregorian, local_date(3761, 3, 3, 18), true, 1,
       0, 0, 1, 1, 0},
      {"17 Tevet 3761 fails", gl_cal_hebrew_to_gregorian, local_date(3761, 3, 3, 17), false},
      {"Adar II by calendar month alone", gl_cal_hebrew_to_gregorian, local_date(5784, -1, 13, 1),
       true, 2024, 2, 2, 11, 1, 70},
      {"Nisan by calendar month alone in a leap year", gl_cal_hebrew_to_gregorian,
       local_date(5784, -1, 6, 1), true, 2024, 3, 3, 9, 2, 99},
      {"calendar month 12 in a common year fails", gl_cal_hebrew_to_gregorian,
       local_date(5783, -1, 12, 1), false},
      {"month number 12 in a common year fails", gl_cal_hebrew_to_gregorian,
       local_date(5783, 12, 12, 1), false},
      {"Hebrew year 14213 converts", gl_cal_hebrew_to_gregorian, local_date(14213, 0, 0, 1), true,
       10452, 10, 10, 7, 4, 311},
      {"Hebrew year 14214 fails", gl_cal_hebrew_to_gregorian, local_date(14214, 0, 0, 1), false},
      {"18 Jul 622 is 1 Muharram 1, Thursday", gl_cal_gregorian_to_islamic, gregorian(622, 7, 18),
       true, 1, 0, 0, 1, 4, 0},
      {"17 Jul 622 fails", gl_cal_gregorian_to_islamic, gregorian(622, 7, 17), false},
      {"1 Jan 2000 is 25 Ramadan 1420", gl_cal_gregorian_to_islamic, gregorian(2000, 1, 1), true,
       1420, 8, 8, 25, 6, 260},
      {"20 Oct 10323 is the last Islamic-convertible day", gl_cal_gregorian_to_islamic,
       gregorian(10323, 10, 20), true, 9999, 11, 11, 29, 6, 353},
      {"21 Oct 10323 fails", gl_cal_gregorian_to_islamic, gregorian(10323, 10, 21), false},
      {"1 Muharram 1 is 18 Jul 622", gl_cal_islamic_to_gregorian, local_date(1, 0, 0, 1), true, 622,
       6, 6, 18, 4, 198},
      {"Islamic month by calendar month alone", gl_cal_islamic_to_gregorian,
       local_date(1420, -1, 8, 25), true, 2000, 0, 0, 1, 6, 0},
      {"Islamic year 0 fails", gl_cal_islamic_to_gregorian, local_date(0, 11, 11, 29), false},
      {"Islamic year 10000 fails", gl_cal_islamic_to_gregorian, local_date(10000, 0, 0, 1), false},
      {"an Islamic 13th month fails", gl_cal_islamic_to_gregorian, local_date(1420, 12, 12, 1),
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    alt_tm in = c.in;
    in.tm_fraction = 123456;
    in.tm_sec = 7;
    in.tm_min = 8;
    in.tm_hour = 9;
    in.tm_isdst = 1;
    in.tm_spare1 = 11;
    in.tm_spare2 = 12;
    alt_tm out;
    std::memset(&out, 0x5a, sizeof out);
    if (!c.converts) {
      EXPECT_EQ(c.convert(&in, &out), -1);
      EXPECT_TRUE(all_zero(out)) << show(out);
      continue;
    }
    ASSERT_EQ(c.convert(&in, &out), 0);
    EXPECT_EQ(out.tm_year + 1900, c.year) << show(out);
    EXPECT_EQ(out.tm_mon, c.month_number) << show(out);
    EXPECT_EQ(out.tm_cal_mon, c.calendar_month) << show(out);
    EXPECT_EQ(out.tm_mday, c.day) << show(out);
    EXPECT_EQ(out.tm_wday, c.weekday) << show(out);
    EXPECT_EQ(out.tm_yday, c.yearday) << show(out);
    EXPECT_EQ(out.tm_fraction, 123456);
    EXPECT_EQ(out.tm_sec, 7);
    EXPECT_EQ(out.tm_min, 8);
    EXPECT_EQ(out.tm_hour, 9);
    EXPECT_EQ(out.tm_isdst, 1);
    EXPECT_EQ(out.tm_spare1, 11);
    EXPECT_EQ(out.tm_spare2, 12);
  }
}

TEST(CalendarConversions, BothMonthsAbsentFailsWithoutZeroingTheCarriedWords) {
  for (Conversion convert : {gl_cal_hebrew_to_gregorian, gl_cal_islamic_to_gregorian}) {
    alt_tm in = local_date(5784, -1, -1, 1);
    in.tm_min = 42;
    in.tm_hour = 5;
    alt_tm out;
    std::memset(&out, 0x5a, sizeof out);
    EXPECT_EQ(convert(&in, &out), -1);
    EXPECT_EQ(out.tm_min, 42);
    EXPECT_EQ(out.tm_hour, 0);
    EXPECT_EQ(out.tm_year, 0);
  }
}

TEST(CalendarConversions, HebrewYearLengthsAreTheSixKinds) {
  /* 5760 (the year of 1 January 2000) is a complete leap year of 385 days. */
  EXPECT_EQ(hebrew_size_in_days(5760 - 3744 + 1) - hebrew_size_in_days(5760 - 3744), 385);
  for (int64_t n = 17; n < 14214 - 3744; ++n) {
    const int64_t length = hebrew_size_in_days(n + 1) - hebrew_size_in_days(n);
    ASSERT_TRUE(length == 353 || length == 354 || length == 355 || length == 383 || length == 384 ||
                length == 385)
        << "year " << n + 3744 << " has " << length << " days";
  }
}

TEST(CalendarConversions, GregorianDaysRefuseAMonthOutsideTheYear) {
  for (int month : {-1, 12, 1000}) {
    EXPECT_EQ(_gl_gregorian_yearday(1, month, 2000), -1) << month;
    EXPECT_EQ(_gl_gregorian_weekday(1, month, 2000), -1) << month;
  }
  EXPECT_EQ(_gl_gregorian_yearday(31, 11, 2000), 365);
  EXPECT_EQ(_gl_gregorian_yearday(31, 11, 1900), 364);
}

/* ---- Every day ----------------------------------------------------------- */

/* Walks every day from 1 January 1 to 20 October 10323 with its own
** weekday and day-of-year counters: the Gregorian functions agree with them
** (and with Python's datetime at the start of every year 1-9999); each
** local date converts back to the same day, also with only its calendar
** month; and consecutive days give consecutive local dates. */
TEST(CalendarConversions, EveryDayAgreesWithTheWalkAndConvertsBack) {
  const std::vector<std::string> years = run_python(
      "import datetime\n"
      "for y in range(1, 10000):\n"
      "    d = datetime.date(y, 1, 1)\n"
      "    e = datetime.date(y, 12, 31)\n"
      "    print(d.isoweekday() % 7, e.timetuple().tm_yday - 1)\n",
      "");
  ASSERT_EQ(years.size(), 9999u);

  int weekday = 1; /* 1 January 1 is a Monday */
  alt_tm previous_hebrew {}, previous_islamic {};
  bool have_hebrew = false, have_islamic = false;
  int mismatches = 0;
  for (int year = 1; year <= 10323 && mismatches < 10; ++year) {
    if (year <= 9999) {
      int first_weekday = -1, last_yearday = -1;
      std::sscanf(years[year - 1].c_str(), "%d %d", &first_weekday, &last_yearday);
      ASSERT_EQ(first_weekday, weekday) << year;
      ASSERT_EQ(last_yearday, leap(year) ? 365 : 364) << year;
    }
    int yearday = 0;
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= month_length(year, month); ++day, ++yearday) {
        const bool in_hebrew =
            year < 10000 || (year == 10000 && (month == 1 || (month == 2 && day <= 23)));
        const bool in_islamic =
            year > 622 || (year == 622 && (month > 7 || (month == 7 && day >= 18)));
        if (year == 10323 && (month > 10 || (month == 10 && day > 20))) break;
        const alt_tm g = gregorian(year, month, day);
        if (_gl_gregorian_weekday(day, month - 1, year) != weekday ||
            _gl_gregorian_yearday(day, month - 1, year) != yearday) {
          ADD_FAILURE() << year << "-" << month << "-" << day << " weekday "
                        << _gl_gregorian_weekday(day, month - 1, year) << " yearday "
                        << _gl_gregorian_yearday(day, month - 1, year);
          ++mismatches;
        }

        alt_tm local, back;
        if (in_hebrew) {
          if (gl_cal_gregorian_to_hebrew(&g, &local) != 0 || local.tm_wday != weekday) {
            ADD_FAILURE() << year << "-" << month << "-" << day << " to Hebrew: " << show(local);
            ++mismatches;
          }
          alt_tm by_calendar_month = local;
          by_calendar_month.tm_mon = -1;
          for (const alt_tm &from : {local, by_calendar_month}) {
            if (gl_cal_hebrew_to_gregorian(&from, &back) != 0 || !same_date(back, g) ||
                back.tm_wday != weekday || back.tm_yday != yearday) {
              ADD_FAILURE() << year << "-" << month << "-" << day << " via " << show(from)
                            << " back to " << show(back);
              ++mismatches;
            }
          }
          if (have_hebrew) {
            const alt_tm &p = previous_hebrew;
            const bool next_day = local.tm_year == p.tm_year && local.tm_mon == p.tm_mon &&
                                  local.tm_mday == p.tm_mday + 1 && local.tm_yday == p.tm_yday + 1;
            const bool next_month = local.tm_year == p.tm_year && local.tm_mon == p.tm_mon + 1 &&
                                    local.tm_mday == 1 && p.tm_mday >= 29 && p.tm_mday <= 30 &&
                                    local.tm_yday == p.tm_yday + 1;
            const bool next_year = local.tm_year == p.tm_year + 1 && local.tm_mon == 0 &&
                                   local.tm_mday == 1 && local.tm_yday == 0 && p.tm_mday == 29;
            if (!next_day && !next_month && !next_year) {
              ADD_FAILURE() << "Hebrew " << show(p) << " then " << show(local);
              ++mismatches;
            }
          }
          previous_hebrew = local;
          have_hebrew = true;
        }
        if (in_islamic) {
          if (gl_cal_gregorian_to_islamic(&g, &local) != 0 || local.tm_wday != weekday ||
              local.tm_mon != local.tm_cal_mon ||
              islamic_weekday(local.tm_mday, local.tm_mon, local.tm_year + 1900) != weekday) {
            ADD_FAILURE() << year << "-" << month << "-" << day << " to Islamic: " << show(local);
            ++mismatches;
          }
          if (gl_cal_islamic_to_gregorian(&local, &back) != 0 || !same_date(back, g) ||
              back.tm_wday != weekday || back.tm_yday != yearday) {
            ADD_FAILURE() << year << "-" << month << "-" << day << " via " << show(local)
                          << " back to " << show(back);
            ++mismatches;
          }
          if (have_islamic) {
            const alt_tm &p = previous_islamic;
            const int p_length = 30 - p.tm_mon % 2; /* 30, 29, ... */
            const bool next_day = local.tm_year == p.tm_year && local.tm_mon == p.tm_mon &&
                                  local.tm_mday == p.tm_mday + 1 && local.tm_yday == p.tm_yday + 1;
            const bool next_month = local.tm_year == p.tm_year && local.tm_mon == p.tm_mon + 1 &&
                                    local.tm_mday == 1 && p.tm_mday == p_length &&
                                    local.tm_yday == p.tm_yday + 1;
            const bool next_year = local.tm_year == p.tm_year + 1 && local.tm_mon == 0 &&
                                   local.tm_mday == 1 && local.tm_yday == 0 && p.tm_mon == 11 &&
                                   p.tm_mday >= 29;
            if (!next_day && !next_month && !next_year) {
              ADD_FAILURE() << "Islamic " << show(p) << " then " << show(local);
              ++mismatches;
            }
          }
          previous_islamic = local;
          have_islamic = true;
        }
        weekday = (weekday + 1) % 7;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

/* ---- Peers --------------------------------------------------------------- */

const char *hebrew_peer =
    "import sys\n"
    "from convertdate import hebrew\n"
    "for line in open(sys.argv[1]):\n"
    "    kind, a, b, c = line.split()\n"
    "    a, b, c = int(a), int(b), int(c)\n"
    "    if kind == 'G':\n"
    "        y, m, d = hebrew.from_gregorian(a, b, c)\n"
    "        print('G', a, b, c, y, m, d, int(hebrew.leap(y)))\n"
    "    else:\n"
    "        m = 1 + b % (13 if hebrew.leap(a) else 12)\n"
    "        d = 1 + c % hebrew.month_days(a, m)\n"
    "        gy, gm, gd = hebrew.to_gregorian(a, m, d)\n"
    "        print('H', a, m, d, gy, gm, gd, int(hebrew.leap(a)))\n";

TEST(CalendarConversions, HebrewDatesAgreeWithConvertdateBothWays) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int64_t> ordinals(1, 3652059); /* years 1-9999 */
  std::uniform_int_distribution<int> hebrew_years(3762, 13759), any(0, 1000);
  std::ostringstream input;
  for (int i = 0; i < 20000; ++i) {
    const Civil c = civil_from_ordinal(ordinals(random));
    input << "G " << c.year << ' ' << c.month << ' ' << c.day << '\n';
    input << "H " << hebrew_years(random) << ' ' << any(random) << ' ' << any(random) << '\n';
  }
  /* Around the 32-bit molad limit and the ends of the range. */
  for (const Civil c : {Civil {8735, 10, 20}, Civil {8735, 10, 21}, Civil {9999, 12, 31},
                        Civil {1, 1, 1}, Civil {1, 9, 6}})
    input << "G " << c.year << ' ' << c.month << ' ' << c.day << '\n';
  const std::vector<std::string> lines = run_python(hebrew_peer, input.str());
  ASSERT_EQ(lines.size(), 40005u);

  int mismatches = 0;
  for (const std::string &line : lines) {
    char kind = 0;
    int a, b, c, x, y, z, leap_year;
    ASSERT_EQ(std::sscanf(line.c_str(), "%c %d %d %d %d %d %d %d", &kind, &a, &b, &c, &x, &y, &z,
                          &leap_year),
              8)
        << line;
    alt_tm out;
    if (kind == 'G') {
      const alt_tm g = gregorian(a, b, c);
      alt_tm expected = local_date(x, 0, 0, z);
      peer_month_to_ours(y, leap_year != 0, &expected.tm_mon, &expected.tm_cal_mon);
      if (gl_cal_gregorian_to_hebrew(&g, &out) != 0 || !same_date(out, expected)) {
        ADD_FAILURE() << line << ": ours " << show(out) << ", expected " << show(expected);
        ++mismatches;
      }
    } else {
      alt_tm h = local_date(a, 0, 0, c);
      peer_month_to_ours(b, leap_year != 0, &h.tm_mon, &h.tm_cal_mon);
      if (gl_cal_hebrew_to_gregorian(&h, &out) != 0 || !same_date(out, gregorian(x, y, z))) {
        ADD_FAILURE() << line << ": from " << show(h) << " ours " << show(out);
        ++mismatches;
      }
    }
    if (mismatches >= 10) break;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(CalendarConversions, IslamicDatesAndWeekdaysAgreeWithIcuTabular) {
  static const UChar utc[] = {'U', 'T', 'C', 0};
  UErrorCode status = U_ZERO_ERROR;
  UCalendar *icu = ucal_open(utc, -1, "@calendar=islamic-tbla", UCAL_DEFAULT, &status);
  ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);

  std::mt19937 random(622);
  /* 18 July 622 to 31 December 9999. */
  std::uniform_int_distribution<int64_t> ordinals(227015, 3652059);
  std::vector<int64_t> samples = {227015, 227016, 730120 /* 1 January 2000 */, 3652059};
  for (int i = 0; i < 50000; ++i)
    samples.push_back(ordinals(random));

  int mismatches = 0;
  for (int64_t ordinal : samples) {
    const Civil c = civil_from_ordinal(ordinal);
    ucal_clear(icu);
    ucal_set(icu, UCAL_JULIAN_DAY, static_cast<int32_t>(ordinal + 1721425));
    const int year = ucal_get(icu, UCAL_EXTENDED_YEAR, &status);
    const int month = ucal_get(icu, UCAL_MONTH, &status);
    const int day = ucal_get(icu, UCAL_DATE, &status);
    const int weekday = ucal_get(icu, UCAL_DAY_OF_WEEK, &status) - UCAL_SUNDAY;
    ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);

    const alt_tm g = gregorian(c.year, c.month, c.day);
    const alt_tm expected = local_date(year, month, month, day);
    alt_tm out, back;
    if (gl_cal_gregorian_to_islamic(&g, &out) != 0 || !same_date(out, expected) ||
        out.tm_wday != weekday || islamic_weekday(day, month, year) != weekday ||
        gl_cal_islamic_to_gregorian(&expected, &back) != 0 || !same_date(back, g)) {
      ADD_FAILURE() << c.year << "-" << c.month << "-" << c.day << ": ICU " << year << "/" << month
                    << "/" << day << " weekday " << weekday << "; ours " << show(out) << ", back "
                    << show(back);
      if (++mismatches >= 10) break;
    }
  }
  ucal_close(icu);
  EXPECT_EQ(mismatches, 0);
}

/* ---- Dispatch by the locale's calendar -------------------------------- */

class LocaleCalendars : public ::testing::Test {
 protected:
  LocalePtr load_calendar(const char *calendar) {
    Lco file = toy_locale();
    file.time = toy_time(calendar == std::string("hebrew") ? 14 : 12, {}, {}, calendar);
    const std::string name = std::string(calendar) + ".lco";
    scene.write(name, file);
    LocalePtr record = new_record();
    EXPECT_NE(load(record.get(), 1, name.c_str()), "(null)") << calendar;
    return record;
  }
  Scene scene;
};

TEST_F(LocaleCalendars, EachCalendarConvertsItsWayAndHasItsCentury) {
  struct Case {
    const char *calendar;
    bool converts;
    int year, calendar_month, day, century;
  } cases[] = {
      {"gregorian", true, 2000, 0, 1, 0},
      {"hebrew", true, 5760, 3, 23, 57},
      {"islamic", true, 1420, 8, 25, 14},
      {"arabic", false, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.calendar);
    LocalePtr record = load_calendar(c.calendar);
    EXPECT_EQ(gl_alt_getcentury(record.get()), c.century);
    alt_tm g = gregorian(2000, 1, 1);
    g.tm_wday = 6;
    alt_tm local {}, back {};
    if (!c.converts) {
      EXPECT_EQ(gl_cal_gregorian_to_local(record.get(), &g, &local), -1);
      EXPECT_EQ(gl_cal_local_to_gregorian(record.get(), &g, &back), -1);
      continue;
    }
    ASSERT_EQ(gl_cal_gregorian_to_local(record.get(), &g, &local), 0);
    EXPECT_EQ(local.tm_year + 1900, c.year);
    EXPECT_EQ(local.tm_cal_mon, c.calendar_month);
    EXPECT_EQ(local.tm_mday, c.day);
    EXPECT_EQ(local.tm_wday, 6);
    ASSERT_EQ(gl_cal_local_to_gregorian(record.get(), &local, &back), 0);
    EXPECT_TRUE(same_date(back, g)) << show(back);
    EXPECT_EQ(record->error, 0); /* the conversions set no error */
  }
  EXPECT_EQ(gl_alt_getcentury(nullptr), 0);
}

}  // namespace
