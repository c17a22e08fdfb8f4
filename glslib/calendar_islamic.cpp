/*
** The tabular Islamic calendar: a 30-year cycle of 10631 days whose day 0,
** 1 Muharram 1, is Thursday 18 July 622 (Gregorian). Conversions between
** Gregorian and Islamic dates and the Islamic day of the week. Callers: the
** calendar dispatch (calendars.cpp) for the time formatter and parser of
** an Islamic locale. 64-bit arithmetic; divisions truncate.
*/

#include "gl_calendar.h"

namespace {

using namespace glslib::calendar;

constexpr int64_t cycle_days = 10631;
constexpr int64_t cycle_years = 30;
constexpr int64_t epoch_day = 227013; /* days from 1 January 1 to 18 July 622 */

/* The accepted ranges: Gregorian 18 July 622 to 20 October 10323; Islamic
** years 1 to 9999. */
constexpr int64_t first_gregorian_year = 622;
constexpr int64_t first_gregorian_month = 6;
constexpr int64_t first_gregorian_day = 18;
constexpr int64_t last_gregorian_year = 10323;
constexpr int64_t last_gregorian_month = 9;
constexpr int64_t last_gregorian_day = 20;
constexpr int64_t last_islamic_year = 9999;

/* Day number (0 = 1 Muharram 1) of day, month 0..11, year >= 1. */
int64_t islamic_day_number(int64_t day, int64_t month, int64_t year) {
  int64_t days = ((year - 1) / cycle_years) * cycle_days;
  const int64_t years_into_cycle = (year - 1) % cycle_years;
  for (int64_t k = 0; k < years_into_cycle; ++k)
    days += cycle_year_length[k];
  return days + (59 * month + 1) / 2 + day - 1;
}

}  // namespace

extern "C" {

const int32_t cycle_year_length[30] = {354, 355, 354, 354, 355, 354, 355, 354, 354, 355,
                                       354, 354, 355, 354, 354, 355, 354, 355, 354, 354,
                                       355, 354, 354, 355, 354, 355, 354, 354, 355, 354};

int islamic_weekday(int day, int month, int year) {
  return static_cast<int>((islamic_day_number(day, month, year) + 4) % 7);
}

int gl_cal_gregorian_to_islamic(const alt_tm *gregorian, alt_tm *islamic) {
  const alt_tm in = *gregorian;
  alt_tm out = carried_words(in);
  const int64_t day = in.tm_mday;
  const int64_t month = in.tm_mon;
  const int64_t year = int64_t {in.tm_year} + 1900;
  if (month < 0 || month > 11 ||
      date_before(year, month, day, first_gregorian_year, first_gregorian_month,
                  first_gregorian_day) ||
      date_before(last_gregorian_year, last_gregorian_month, last_gregorian_day, year, month, day))
    return fail_zeroed(islamic);

  const int64_t y = year - 1;
  const int64_t d = y * 365 + y / 4 - y / 100 + y / 400 +
                    _gl_gregorian_yearday(in.tm_mday, in.tm_mon, static_cast<int>(year)) -
                    epoch_day;
  int64_t i_year = (d / cycle_days) * cycle_years + 1;
  int64_t t = d % cycle_days;
  for (int k = 0; k < cycle_years && t >= cycle_year_length[k]; ++k) {
    t -= cycle_year_length[k];
    ++i_year;
  }
  int64_t i_month = (2 * t) / 59;
  int64_t i_day = t - (59 * i_month + 1) / 2 + 1;
  if (i_month == 12) { /* the 355th day */
    i_month = 11;
    i_day = 30;
  }

  out.tm_hour = in.tm_hour;
  out.tm_mday = static_cast<int32_t>(i_day);
  out.tm_mon = out.tm_cal_mon = static_cast<int32_t>(i_month);
  out.tm_year = static_cast<int32_t>(i_year - 1900);
  out.tm_wday = islamic_weekday(out.tm_mday, out.tm_mon, static_cast<int>(i_year));
  out.tm_yday = static_cast<int32_t>(t);
  *islamic = out;
  return 0;
}

int gl_cal_islamic_to_gregorian(const alt_tm *islamic, alt_tm *gregorian) {
  const alt_tm in = *islamic;
  alt_tm out = carried_words(in);
  const int64_t day = in.tm_mday;
  const int64_t year = int64_t {in.tm_year} + 1900;
  const int64_t month = in.tm_mon != -1 ? in.tm_mon : in.tm_cal_mon;
  if (in.tm_mon == -1 && in.tm_cal_mon == -1) {
    *gregorian = out;
    return -1;
  }
  /* A month the year does not have is no date. */
  if (month < 0 || month > 11 || date_before(year, month, day, 1, 0, 1) || year > last_islamic_year)
    return fail_zeroed(gregorian);

  const int64_t d = islamic_day_number(day, month, year);
  const int64_t c4 = (4 * (d + 263538)) / 146097 - 1;
  const int64_t r = d + epoch_day - (146097 * (c4 / 4) + 36524 * (c4 % 4));
  const int64_t q = (4 * (r + 366)) / 1461 - 1;
  const int64_t t = r - (1461 * (q / 4) + 365 * (q % 4));
  const int64_t g_year = 100 * c4 + q + 1;

  int64_t g_day = t + 1;
  int g_month = 0;
  for (; g_month < 11; ++g_month) {
    const int64_t length =
        _gl_greg_month_length[g_month] + (g_month == 1 && gregorian_leap_year(g_year) ? 1 : 0);
    if (g_day <= length) break;
    g_day -= length;
  }

  out.tm_hour = in.tm_hour;
  out.tm_mday = static_cast<int32_t>(g_day);
  out.tm_mon = out.tm_cal_mon = g_month;
  out.tm_year = static_cast<int32_t>(g_year - 1900);
  out.tm_wday = _gl_gregorian_weekday(out.tm_mday, g_month, static_cast<int>(g_year));
  out.tm_yday = static_cast<int32_t>(t);
  *gregorian = out;
  return 0;
}

}  // extern "C"
