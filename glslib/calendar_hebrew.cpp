/*
** The Hebrew calendar: conversions between Gregorian dates and Hebrew
** dates by the molad arithmetic. Callers: the calendar dispatch
** (calendars.cpp) for the time formatter and parser of a Hebrew locale.
**
** Day numbers here are the conversion's own (1 January 1 is day 6307).
** The molad reaches past 32 bits from Hebrew year 12497 on, so every
** quantity is 64-bit; all divisions truncate, as the results depend on it.
*/

#include "gl_calendar.h"

namespace {

using namespace glslib::calendar;

constexpr int64_t parts_per_day = 25920; /* 1080 parts an hour */
constexpr int64_t parts_per_week = 181440;
constexpr int64_t parts_per_month = 39673; /* beyond 28 days */
constexpr int64_t first_molad = 8339;
constexpr int64_t year_offset = 3744; /* year n of the day count is n + 3744 */

/* The accepted Gregorian range, 1 January 1 to 23 February 10000, and the
** Hebrew one, 18 Tevet 3761 to the end of 14213. */
constexpr int64_t first_gregorian_year = 1;
constexpr int64_t last_gregorian_year = 10000;
constexpr int64_t last_gregorian_day_of_february = 23;
constexpr int64_t first_hebrew_year = 3761;
constexpr int64_t first_hebrew_month = 3;
constexpr int64_t first_hebrew_day = 18;
constexpr int64_t hebrew_year_limit = 14214;

/* The last 236 days of every year: Shevat (Adar I in a leap year) to Elul,
** months of 30 and 29 days alternating. */
constexpr int64_t tail_days = 236;

bool postpone_one_day(int64_t weekday) { return weekday == 1 || weekday == 4 || weekday == 6; }

int64_t hebrew_year_length(int64_t hebrew_year) {
  return hebrew_size_in_days(hebrew_year - year_offset + 1) -
         hebrew_size_in_days(hebrew_year - year_offset);
}

}  // namespace

extern "C" {

int64_t hebrew_size_in_days(int64_t n) {
  const int64_t months_before = 12 * n + (7 * n + 1) / 19;
  const int64_t cycle_position = (7 * n + 1) % 19; /* < 12 common, < 7 after a leap year */
  const int64_t molad = parts_per_month * months_before + first_molad;
  const int64_t base = 28 * months_before + molad / parts_per_day - 2;
  const int64_t weekday = (molad % parts_per_week) / parts_per_day;
  const int64_t part_of_day = molad % parts_per_day;

  if ((cycle_position < 12 && weekday == 3 && part_of_day >= 16404) ||
      (cycle_position < 7 && weekday == 2 && part_of_day >= 23269))
    return base + 1 + (postpone_one_day(weekday + 1) ? 1 : 0);
  return base + (postpone_one_day(weekday) ? 1 : 0);
}

int gl_cal_gregorian_to_hebrew(const alt_tm *gregorian, alt_tm *hebrew) {
  const alt_tm in = *gregorian;
  alt_tm out = carried_words(in);
  const int64_t day = in.tm_mday;
  const int64_t month = in.tm_mon;
  const int64_t year = int64_t {in.tm_year} + 1900;
  if (month < 0 || month > 11 || date_before(year, month, day, first_gregorian_year, 0, 1) ||
      date_before(last_gregorian_year, 1, last_gregorian_day_of_february, year, month, day))
    return fail_zeroed(hebrew);

  /* March-based years: January and February are months 11 and 12 of the
  ** year before. */
  int64_t y = year;
  int64_t m = month - 1;
  if (m < 1) {
    y = year - 1;
    m = month + 11;
  }
  const int64_t day_number = day + 365 * y + y / 4 - y / 100 + y / 400 + (367 * m) / 12 + 5970;

  int64_t n = y + 16;
  while (day_number >= hebrew_size_in_days(n + 1))
    ++n;
  const int64_t year_start = hebrew_size_in_days(n);
  const int64_t t = day_number - year_start;
  const int64_t length = hebrew_size_in_days(n + 1) - year_start;

  int64_t month_number, calendar_month, day_of_month;
  if (t < length - tail_days) {
    const int64_t head = length % 10 + 114; /* Tishri to Tevet: 117, 118 or 119 days */
    month_number = calendar_month = (4 * t) / head;
    day_of_month = t - (month_number * head + 3) / 4;
  } else {
    const int64_t e = t - (length - tail_days);
    const int64_t k = (2 * e) / 59;
    day_of_month = e - (59 * k + 1) / 2;
    if (length < 383) {
      month_number = calendar_month = k + 4;
    } else {
      month_number = k + 5;
      calendar_month = k + 4 > 5 ? k + 4 : k + 12; /* Adar I 12, Adar II 13 */
    }
  }

  out.tm_hour = in.tm_hour;
  out.tm_mday = static_cast<int32_t>(day_of_month + 1);
  out.tm_mon = static_cast<int32_t>(month_number);
  out.tm_cal_mon = static_cast<int32_t>(calendar_month);
  out.tm_year = static_cast<int32_t>(n + year_offset - 1900);
  out.tm_wday = static_cast<int32_t>((day_number + 1) % 7);
  out.tm_yday = static_cast<int32_t>(t);
  *hebrew = out;
  return 0;
}

int gl_cal_hebrew_to_gregorian(const alt_tm *hebrew, alt_tm *gregorian) {
  const alt_tm in = *hebrew;
  alt_tm out = carried_words(in);
  const int64_t day = in.tm_mday;
  const int64_t year = int64_t {in.tm_year} + 1900;
  int64_t month = in.tm_mon;
  const int64_t calendar_month = in.tm_cal_mon;
  if (month == -1 && calendar_month == -1) {
    *gregorian = out;
    return -1;
  }
  if (year < first_hebrew_year || year >= hebrew_year_limit) return fail_zeroed(gregorian);
  const int64_t length = hebrew_year_length(year);
  const bool leap = length >= 383;
  if (month == -1) {
    if (!leap) {
      if (calendar_month > 11) return fail_zeroed(gregorian);
      month = calendar_month;
    } else if (calendar_month == 12 || calendar_month == 13) {
      month = calendar_month - 7;
    } else if (calendar_month <= 5) {
      month = calendar_month;
    } else if (calendar_month <= 11) {
      month = calendar_month + 1;
    } else {
      return fail_zeroed(gregorian);
    }
  }
  /* A month number the year does not have is no date. */
  if (month < 0 || month > (leap ? 12 : 11) ||
      date_before(year, month, day, first_hebrew_year, first_hebrew_month, first_hebrew_day))
    return fail_zeroed(gregorian);

  const int64_t year_start = hebrew_size_in_days(year - year_offset);
  int64_t d = (leap && month > 5) ? day + year_start - 6002 + (59 * (month - 1) + 1) / 2 + 30
                                  : day + year_start - 6002 + (59 * month + 1) / 2;
  const int64_t kind = length % 10; /* 3 deficient, 4 regular, 5 complete */
  if (kind >= 5 && month > 1) ++d; /* Heshvan of 30 days */
  if (kind < 4 && month > 2) --d; /* Kislev of 29 days */

  /* Gregorian date of day number d. */
  const int64_t c4 = (4 * (d + 36525)) / 146097 - 1;
  const int64_t r = d - (146097 * (c4 / 4) + 36524 * (c4 % 4));
  const int64_t q = (4 * (r + 366)) / 1461 - 1;
  int64_t g_year = 100 * c4 + q;
  const int64_t t = r - (1461 * (q / 4) + 365 * (q % 4));
  const int64_t k = (12 * (t + 245)) / 367 - 7;
  int64_t g_month = k + 1;
  if (g_month >= 12) {
    g_month = k - 11;
    ++g_year;
  }
  const int64_t g_day = t - ((367 * k) / 12 - 30) + 1;

  out.tm_hour = in.tm_hour;
  out.tm_mday = static_cast<int32_t>(g_day);
  out.tm_mon = out.tm_cal_mon = static_cast<int32_t>(g_month);
  out.tm_year = static_cast<int32_t>(g_year - 1900);
  out.tm_wday = _gl_gregorian_weekday(out.tm_mday, out.tm_mon, static_cast<int>(g_year));
  out.tm_yday = _gl_gregorian_yearday(out.tm_mday, out.tm_mon, static_cast<int>(g_year));
  *gregorian = out;
  return 0;
}

}  // extern "C"
