/*
** Proleptic Gregorian day of the week and day of the year, with the month
** lengths they and the calendar conversions share. Callers: the Hebrew
** and Islamic conversions and the time layer. Arithmetic is 64-bit so
** that no year or day a caller passes can overflow; divisions truncate.
*/

#include "gl_calendar.h"

namespace {

/* Days before each month of a common year. */
constexpr int32_t days_before_month[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

}  // namespace

extern "C" {

const int32_t _gl_greg_month_length[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int _gl_gregorian_yearday(int day, int month, int year) {
  if (month < 0 || month > 11) return -1;
  int64_t yearday = int64_t {days_before_month[month]} + day - 1;
  if (month >= 2 && glslib::calendar::gregorian_leap_year(year)) ++yearday;
  return static_cast<int>(yearday);
}

int _gl_gregorian_weekday(int day, int month, int year) {
  if (month < 0 || month > 11) return -1;
  const int64_t before = int64_t {year} - 1;
  const int64_t days = before * 365 + before / 4 - before / 100 + before / 400 +
                       _gl_gregorian_yearday(day, month, year) + 1;
  return static_cast<int>(days % 7);
}

}  // extern "C"
