/*
** The century rules of two-digit years and the day numbers they compare.
**
** A year written with two digits is placed in a century relative to today
** by a rule letter: R the current century, P the latest such year not
** after today, F the first such year after today, C the one closest to
** today. Non-Gregorian calendars have a fixed century instead.
**
** Callers: the time parser (time_parse.cpp) and the value types through
** gl_getcentury. Calls: the current-date host service, unless a test or a
** caller has fixed today with gl_set_current_time.
*/

#include <cstdlib>

#include "locale_internal.h"
#include "time_internal.h"

using glslib::store_error;
using glslib::calendar::gregorian_leap_year;

namespace {

/* The date that stands for today while set: written only by
** gl_set_current_time and gl_reset_time. */
struct TodayOverride {
  bool set;
  uint16_t month, day, year;
};
TodayOverride today_override {};

/* Days of the months of year before month (1-12). */
int days_before_month(int month, int year) {
  int days = 0;
  for (int m = 1; m < month; ++m)
    days += glslib::gregorian_month_length(m, year);
  return days;
}

/* Today: the override date while it is set, else the current-date host
** service. false when that service fails. */
bool get_today(gl_date_rec *today) {
  if (today_override.set) {
    *today = gl_date_rec {today_override.month, today_override.day, today_override.year};
    return true;
  }
  return _gl_ext_currdate(today) == 0;
}

/* The day number of month/day of year, moved to 1 March when that is 29
** February of a common year. false (error stored) when none can be formed. */
bool day_number_in(gl_locale *loc, int month, int day, int year, int32_t *number) {
  if (month == 2 && day == 29 && !gregorian_leap_year(year)) {
    month = 3;
    day = 1;
  }
  if (year < 1 || year > 0xFFFF) {
    store_error(loc, GL_ETYEAR);
    return false;
  }
  gl_date_rec date {static_cast<uint16_t>(month), static_cast<uint16_t>(day),
                    static_cast<uint16_t>(year)};
  return glslib::get_julian(loc, &date, number) == 0;
}

}  // namespace

namespace glslib {

int gregorian_month_length(int month, int year) {
  if (month < 1 || month > 12) return 0;
  if (month == 2 && calendar::gregorian_leap_year(year)) return 29;
  return _gl_greg_month_length[month - 1];
}

int get_julian(gl_locale *loc, const gl_date_rec *date, int32_t *day_number) {
  if (date->month == 0 && date->day == 0 && date->year == 0) {
    *day_number = INT32_MIN;
    return 0;
  }
  if (date->year < 1 || date->year > 9999) {
    store_error(loc, GL_ETYEAR);
    return -1;
  }
  if (date->month < 1 || date->month > 12) {
    store_error(loc, GL_ETMONTH);
    return -1;
  }
  if (date->day < 1 || date->day > gregorian_month_length(date->month, date->year)) {
    store_error(loc, GL_ETMDAY);
    return -1;
  }
  const int32_t y = date->year - 1;
  *day_number = ((y % 100) * 1461) / 4 + ((y / 100) * 146097) / 4 + date->day - 693595 +
                days_before_month(date->month, date->year);
  return 0;
}

}  // namespace glslib

extern "C" {

int gl_getcentury_internal(gl_locale *loc, int month, int day, int year, int today_month,
                           int today_day, int today_year, int rule) {
  if (loc == nullptr) return -1;
  if (loc->ltime.calendar != GL_CAL_GREGORIAN) return gl_alt_getcentury(loc);
  if (year < 0) {
    store_error(loc, GL_ETYEAR);
    return -1;
  }
  if (year > 99) return year / 100;

  gl_date_rec today {};
  if (today_month != 0 && today_day != 0 && today_year != 0) {
    if (today_month < 0 || today_day < 0 || today_year < 0 || today_month > 0xFFFF ||
        today_day > 0xFFFF || today_year > 0xFFFF) {
      store_error(loc, GL_EBADARG);
      return -1;
    }
    today = gl_date_rec {static_cast<uint16_t>(today_month), static_cast<uint16_t>(today_day),
                         static_cast<uint16_t>(today_year)};
  } else if (!get_today(&today)) {
    store_error(loc, GL_EBADARG);
    return -1;
  }
  int32_t t = 0;
  if (glslib::get_julian(loc, &today, &t) != 0) return -1;
  const int k = today.year / 100;
  if (rule == 'R') return k;

  if (month == 0) month = today.month;
  if (day == 0) day = today.day;
  int32_t j0 = 0, j_before = 0, j_after = 0;
  if (!day_number_in(loc, month, day, k * 100 + year, &j0) ||
      !day_number_in(loc, month, day, (k - 1) * 100 + year, &j_before) ||
      !day_number_in(loc, month, day, (k + 1) * 100 + year, &j_after))
    return -1;
  switch (rule) {
    case 'C': {
      const int64_t d0 = std::llabs(int64_t {j0} - t);
      const int64_t d_before = std::llabs(int64_t {j_before} - t);
      const int64_t d_after = std::llabs(int64_t {j_after} - t);
      if (d0 >= d_before) return d_before < d_after ? k - 1 : k + 1;
      return d0 < d_after ? k : k + 1;
    }
    case 'F':
      return j0 > t ? k : k + 1;
    case 'P':
      return j0 >= t ? k - 1 : k;
    default:
      return k;
  }
}

int gl_getcentury(gl_locale *loc, int month, int day, int year, int rule) {
  return gl_getcentury_internal(loc, month, day, year, 0, 0, 0, rule);
}

void gl_set_current_time(int day, int month, int year) {
  today_override = TodayOverride {true, static_cast<uint16_t>(month), static_cast<uint16_t>(day),
                                  static_cast<uint16_t>(year)};
}

void gl_reset_time(void) { today_override = TodayOverride {}; }

}  // extern "C"
