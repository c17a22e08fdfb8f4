/*
** date_days.cpp: DATE day numbers: leap years, weekdays, the conversions
** between a DATE and its month, day and year, and today's date.
**
** The DATETIME arithmetic, the value conversions and the evaluator call
** these; rtoday reads the client environment's clock (os_clock) as local
** time through dvz_localtime and the DBTODAY
** shift through getdbtoday/initdbtoday, and keeps its 15-minute cache and
** the fixed today of rsettoday in the general control block.
**
** A DATE counts days from 1899-12-31 (day 0, a Sunday); the arithmetic
** below is that of the proleptic Gregorian calendar from 0001-01-01
** (-693594) to 9999-12-31 (2958464).
*/
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "date_internal.h"
#include "gen_dtarith.h"
#include "os_datetime.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_seams.h"

namespace {

/* Days from 0001-01-01 to 1899-12-31. */
constexpr int32_t days_to_epoch = 693594;
/* Seconds of one slot of the today cache. */
constexpr time_t today_slot_seconds = 900;

constexpr int16_t month_days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int month_length(int month, int year) {
  return month == 2 && rleapyear(year) ? 29 : month_days[month];
}

/* Days from 0000-03-01 to 1899-12-31 in the proleptic Gregorian calendar,
** whose 400-year eras the conversions below count from a March 1 (the
** leap day then ends its year). */
constexpr uint32_t march_epoch = 693900;
constexpr uint32_t days_per_era = 146097;

/* DVZ_NOZEROMDY holds an integer whose value is 1. */
bool zero_triple_refused() {
  const char *value = ggetenv("DVZ_NOZEROMDY");
  return value != nullptr && std::atoi(value) == 1;
}

}  // namespace

extern "C" {

/* Divisible by 4 and not by 100, or by 400 (by 16 once divisible by 25). */
int rleapyear(int year) { return (year & 3) == 0 && (year % 25 != 0 || (year & 15) == 0) ? 1 : 0; }

/* Any int is a valid argument: the weekday is computed in 64 bits and
** reduced to 0-6, so no DATE overflows or gives a negative day. */
int rdayofweek(int32_t date) {
  if (date == DATE_NULL) return 0;
  int64_t r = (static_cast<int64_t>(date) + days_to_epoch + 1) % 7;
  return static_cast<int>(r < 0 ? r + 7 : r);
}

int rjulmdy(int32_t date, int16_t mdy[3]) {
  mdy[0] = mdy[1] = mdy[2] = 0;
  if (date == DATE_NULL) return 0;
  if (date < DATE_MIN || date > DATE_MAX) return value_err_date_range;
  /* Days since 0000-03-01: never negative inside the range. */
  const uint32_t z = static_cast<uint32_t>(date + static_cast<int32_t>(march_epoch));
  const uint32_t era = z / days_per_era;
  const uint32_t day_of_era = z - era * days_per_era;
  const uint32_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const uint32_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const uint32_t march_month = (5 * day_of_year + 2) / 153; /* 0 March ... 11 February */
  const int day = static_cast<int>(day_of_year - (153 * march_month + 2) / 5 + 1);
  const int month = static_cast<int>(march_month < 10 ? march_month + 3 : march_month - 9);
  const int year = static_cast<int>(year_of_era + era * 400) + (month <= 2 ? 1 : 0);
  mdy[0] = static_cast<int16_t>(month);
  mdy[1] = static_cast<int16_t>(day);
  mdy[2] = static_cast<int16_t>(year);
  return 0;
}

int rmdyjul(const int16_t mdy[3], int32_t *date) {
  int month = mdy[0];
  int day = mdy[1];
  int year = mdy[2];
  if (month == 0 && day == 0 && year == 0) {
    if (zero_triple_refused()) return date_err_day;
    *date = DATE_NULL;
    return 0;
  }
  if (year < 1 || year > 9999) return date_err_year;
  if (month < 1 || month > 12) return date_err_month;
  if (day < 1 || day > month_length(month, year)) return date_err_day;
  const uint32_t y = static_cast<uint32_t>(year - (month <= 2 ? 1 : 0));
  const uint32_t era = y / 400;
  const uint32_t year_of_era = y - era * 400;
  const uint32_t day_of_year =
      (153 * static_cast<uint32_t>(month > 2 ? month - 3 : month + 9) + 2) / 5 +
      static_cast<uint32_t>(day) - 1;
  const uint32_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  *date = static_cast<int32_t>(era * days_per_era + day_of_era) - static_cast<int32_t>(march_epoch);
  return 0;
}

/* Fixed today first, then the DBTODAY shift, then the clock's date cached
** per 15-minute slot. Writes nothing without the general control block. */
void rtoday(int32_t *date) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return;
  if (block->flags & gen_flag_today_fixed) {
    *date = block->today;
    return;
  }
  if ((block->flags &
       (gen_flag_dbtoday_active | gen_flag_dbtoday_examined | gen_flag_dbtoday_reading)) == 0)
    getdbtoday(block);
  if (block->flags & gen_flag_dbtoday_active) {
    initdbtoday();
    *date = block->dbtoday_date;
    return;
  }
  time_t now = os_clock->now();
  int32_t key = static_cast<int32_t>(now / today_slot_seconds);
  if (key != block->today_key) {
    struct tm local {};
    if (dvz_localtime(&now, &local) == nullptr) return;
    const int16_t mdy[3] = {static_cast<int16_t>(local.tm_mon + 1),
                            static_cast<int16_t>(local.tm_mday),
                            static_cast<int16_t>(local.tm_year + 1900)};
    int32_t today = DATE_NULL;
    if (rmdyjul(mdy, &today) != 0) return;
    block->today = today;
    block->today_key = key;
  }
  *date = block->today;
}

void rsettoday(const int32_t *date) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return;
  if (date != nullptr) {
    block->today = *date;
    block->flags |= gen_flag_today_fixed;
  } else {
    block->flags &= ~gen_flag_today_fixed;
    block->today_key = 0;
  }
}

}  // extern "C"
