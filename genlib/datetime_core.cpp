/*
** The core of DATETIME and INTERVAL: the unit tables, the qualifier check,
** packing the unit array into a value and back, the range check of the
** units, the qualifier's descriptive text and the conversion to and from
** the locale library's time record.
**
** Callers: the fixed-layout text (datetime_text.cpp), the arithmetic and
** current time, the formatted text and the value conversions. Calls: the
** DECIMAL normaliser and rleapyear of the DATE functions.
**
** Invariant: no function here writes outside the qualifier's pairs of a
** caller's unit array, whatever the value's digits or exponent say (a
** value from the wire or a fuzzer need not belong to its qualifier).
*/
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "dt_units.h"
#include "gen_date.h"
#include "gen_decimal.h"
#include "gen_types.h"
#include "os_gentcb.h"

const int dtbase[9] = {100, 12, 1, 24, 60, 60, 100, 100, 100};
const char dtdelim[] = "-- ::. ";
const unsigned char dt_daymon[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {

constexpr int year_unknown = -1900;

}  // namespace

extern "C" {

/*
** 0 when qualifier is valid for the class, else -1268, also stored in
** toerrno: at least 1, end not before start (FRACTION TO FRACTION(1)
** excepted), fewer than 25 digits, and for an INTERVAL no year-month start
** with a day-time end.
*/
int _chk_qual(int is_interval, int qualifier) {
  const int start = TU_START(qualifier);
  const int end = TU_END(qualifier);
  bool valid = qualifier >= 1 && TU_LEN(qualifier) < 25 &&
               (end >= start || (start == TU_FRAC && end == TU_F1));
  if (is_interval && start < 3 && end >= TU_DAY) valid = false;
  if (valid) return 0;
  set_toerrno(dt_err_qualifier);
  return dt_err_qualifier;
}

/*
** Builds value from the qualifier's pairs of units with the given sign.
** An odd end unit packs its last pair truncated to a multiple of 10; the
** array is left as it was. Returns decload's status.
*/
int dtpack(dec_t *value, int qualifier, unsigned char *units, int sign) {
  const int pairs = dt_array_pairs(qualifier);
  dt_unit_work work {};
  std::copy_n(units, pairs, work.begin());
  if ((TU_END(qualifier) & 1) != 0 && pairs > 0)
    work[pairs - 1] = static_cast<unsigned char>(work[pairs - 1] / 10 * 10);
  return decload(value, sign, dt_exponent(qualifier), work.data(), pairs);
}

/*
** Zero-fills the qualifier's pairs of units and copies value's digits into
** them where the value's exponent places them. Digits that fall outside
** the pairs are dropped; a value without digits, or whose exponent lies
** above the qualifier's, leaves zeros. Returns the qualifier's exponent.
*/
int dtunpack(const dec_t *value, int qualifier, unsigned char *units) {
  const int pairs = dt_array_pairs(qualifier);
  const int exponent = dt_exponent(qualifier);
  std::memset(units, 0, static_cast<size_t>(pairs));
  const int digits = std::clamp<int>(value->npairs, 0, DECSIZE);
  const int offset = exponent - value->exponent;
  if (digits == 0 || offset < 0) return exponent;
  for (int i = 0; i < digits && offset + i < pairs; ++i)
    units[offset + i] = value->pairs[i];
  return exponent;
}

/*
** Length of the month of a unit array by the index of its DAY pair: 31
** for 0 (no month), the month of pair 0 for 1 (February 29), the month
** of pair 2 in the year of pairs 0-1 for 3; 0 for any other index or a
** month outside 1-12.
*/
int daysinmonth(const unsigned char *units, int day_index) {
  if (day_index == 0) return 31;
  if (day_index != 1 && day_index != 3) return 0;
  const int month = units[day_index - 1];
  if (month < 1 || month > 12) return 0;
  if (month != 2) return dt_daymon[month];
  if (day_index == 1) return 29;
  return rleapyear(units[0] * 100 + units[1]) != 0 ? 29 : 28;
}

/* 0 when the two YEAR pairs hold a year of 1 to 9999, else -1. */
int checkyear(const unsigned char *year_pairs) {
  if (year_pairs[0] > 99 || year_pairs[1] > 99) return -1;
  const int year = year_pairs[0] * 100 + year_pairs[1];
  return year >= 1 && year <= 9999 ? 0 : -1;
}

/*
** Range check of value's units under qualifier: 0 or -1263. An INTERVAL's
** pairs must all be 0-99 and its first field is not bounded; a DATETIME
** is checked from its start unit, YEAR 1-9999, MONTH 1-12 and DAY within
** its month.
*/
int chk_dtinv(const dec_t *value, int qualifier, int is_datetime) {
  dt_unit_work units {};
  dtunpack(value, qualifier, units.data());
  return dt_check_units(units.data(), qualifier, is_datetime);
}

/*
** Whether packing the qualifier's pairs of value gives value back: a sign
** of 0 or 1, digits with a non-zero first and last pair that all lie within
** the pairs, and no odd end unit to truncate the last pair.
*/
static bool packs_to_itself(const dec_t *value, int qualifier) {
  const int n = value->npairs;
  if ((value->sign != 0 && value->sign != 1) || n < 1 || n > DECSIZE) return false;
  const int offset = dt_exponent(qualifier) - value->exponent;
  const int pairs = dt_array_pairs(qualifier);
  if (offset < 0 || offset + n > pairs) return false;
  if (value->pairs[0] == 0 || value->pairs[n - 1] == 0) return false;
  return (TU_END(qualifier) & 1) == 0 || offset + n < pairs || value->pairs[n - 1] % 10 == 0;
}

int dt_repack(const dec_t *value, int qualifier, dec_t *target, bool check) {
  dt_unit_work units {};
  dtunpack(value, qualifier, units.data());
  if (check) {
    if (const int status = dt_check_units(units.data(), qualifier, 1); status != 0) return status;
  }
  /* What decload would make of the unpacked pairs, without it. */
  if (packs_to_itself(value, qualifier)) {
    const int n = value->npairs;
    for (int i = 0; i < n; ++i)
      target->pairs[i] = value->pairs[i];
    target->sign = value->sign;
    target->exponent = value->exponent;
    target->npairs = static_cast<int16_t>(n);
    return 0;
  }
  return dtpack(target, qualifier, units.data(), value->sign);
}

int dt_check_units(const unsigned char *units, int qualifier, int is_datetime) {
  const int pairs = dt_array_pairs(qualifier);
  if (!is_datetime) {
    for (int i = 0; i < pairs; ++i)
      if (units[i] > 99) return dt_err_range;
    if (dt_starts_at_fraction(qualifier)) return 0;
  }
  const int start = TU_START(qualifier) & ~1;
  const int first = is_datetime ? start : start + 2;
  /* Whole units are one pair each (YEAR's low pair), so the index of the
  ** next unit is the next pair. */
  const int last = dt_last_whole_unit(qualifier);
  int i = dt_unit_index(qualifier, first);
  for (int unit = first; unit <= last; unit += 2, ++i) {
    const int v = dt_get_pair(units, pairs, i);
    switch (unit) {
      case TU_YEAR: {
        const unsigned char year[2] = {static_cast<unsigned char>(dt_get_pair(units, pairs, i - 1)),
                                       static_cast<unsigned char>(v)};
        if (checkyear(year) != 0) return dt_err_range;
        break;
      }
      case TU_MONTH:
        if (is_datetime ? (v < 1 || v > 12) : v >= 12) return dt_err_range;
        break;
      case TU_DAY:
        if (v < 1) return dt_err_range;
        if (v > 28 && (i < 0 || v > daysinmonth(units, i))) return dt_err_range;
        break;
      default:
        if (v >= dtbase[unit / 2]) return dt_err_range;
        break;
    }
  }
  for (int j = 0; j < (dt_fraction_digits(qualifier) + 1) / 2; ++j)
    if (dt_get_pair(units, pairs, dt_unit_index(qualifier, TU_FRAC + j)) > 99) return dt_err_range;
  return 0;
}

/* Name of a unit code; "fraction" for every code but the six whole units. */
const char *rtuname(int unit) {
  static constexpr std::array<const char *, 6> names = {"year", "month",  "day",
                                                        "hour", "minute", "second"};
  if (unit >= 0 && unit <= TU_SECOND && unit % 2 == 0) return names[unit / 2];
  return "fraction";
}

/*
** Writes the qualifier's text ("day(5) to second") into buffer without a
** NUL and returns its length. An INTERVAL (type 14) mixing the year-month
** and day-time classes sets toerrno to -1268 and writes nothing. A
** first-field precision above 9 is written as a decimal number; buffer
** needs 32 bytes.
*/
int rtudesc(int type, int qualifier, char *buffer) {
  const int start = TU_START(qualifier);
  const int end = TU_END(qualifier);
  const bool interval = type == sql_type_interval;
  if (interval && start < 3 && end >= TU_DAY) {
    set_toerrno(dt_err_qualifier);
    return 0;
  }
  char text[64];
  int n = std::snprintf(text, sizeof text, "%s", rtuname(start));
  const int precision = TU_FLEN(qualifier);
  if (interval && precision != (start == TU_YEAR ? 4 : 2))
    n += std::snprintf(text + n, sizeof text - n, "(%d)", precision);
  n += std::snprintf(text + n, sizeof text - n, " to %s", rtuname(end));
  if (end > TU_SECOND) n += std::snprintf(text + n, sizeof text - n, "(%d)", end - TU_SECOND);
  std::memcpy(buffer, text, static_cast<size_t>(n));
  return n;
}

/*
** The locale library's time record as a DATETIME of qualifier: every unit
** from the start unit to SECOND, then the microseconds cut to the end
** FRACTION(n). A year of -1900 (unknown) gives -1; else 0.
*/
int tmtodtdec(const gl_time_rec *time, dec_t *value, int qualifier) {
  if (time->tm_year == year_unknown) return -1;
  const int pairs = dt_array_pairs(qualifier);
  dt_unit_work units {};
  const int year = time->tm_year + 1900;
  const std::array<int, 6> whole = {year % 100,    time->tm_mon + 1, time->tm_mday,
                                    time->tm_hour, time->tm_min,     time->tm_sec};
  for (int unit = TU_START(qualifier) & ~1; unit <= TU_SECOND; unit += 2) {
    const int i = dt_unit_index(qualifier, unit);
    if (unit == TU_YEAR) dt_put_pair(units.data(), pairs, i - 1, year / 100);
    dt_put_pair(units.data(), pairs, i, whole[unit / 2]);
  }
  const int usec = time->tm_fraction;
  const std::array<int, 3> fraction = {usec / 10000, usec % 10000 / 100, usec % 100};
  const int n = dt_fraction_digits(qualifier);
  for (int j = 0; j < (n + 1) / 2; ++j) {
    int pair = fraction[j];
    if (j == n / 2) pair = pair / 10 * 10; /* the odd last digit */
    dt_put_pair(units.data(), pairs, dt_unit_index(qualifier, TU_FRAC + j), pair);
  }
  dtpack(value, qualifier, units.data(), 1);
  return 0;
}

/*
** A DATETIME of qualifier as the locale library's time record: zeros but
** a day of month of 1, then the value's units and its fraction as
** microseconds. Returns 0.
*/
int dtdectotm(gl_time_rec *time, const dec_t *value, int qualifier) {
  *time = gl_time_rec {};
  time->tm_mday = 1;
  const int pairs = dt_array_pairs(qualifier);
  dt_unit_work units {};
  dtunpack(value, qualifier, units.data());
  for (int unit = TU_START(qualifier) & ~1; unit <= dt_last_whole_unit(qualifier); unit += 2) {
    const int i = dt_unit_index(qualifier, unit);
    const int v = dt_get_pair(units.data(), pairs, i);
    switch (unit) {
      case TU_YEAR:
        time->tm_year = dt_get_pair(units.data(), pairs, i - 1) * 100 + v - 1900;
        break;
      case TU_MONTH:
        time->tm_mon = v - 1;
        break;
      case TU_DAY:
        time->tm_mday = v;
        break;
      case TU_HOUR:
        time->tm_hour = v;
        break;
      case TU_MINUTE:
        time->tm_min = v;
        break;
      default:
        time->tm_sec = v;
        break;
    }
  }
  static constexpr std::array<int, 3> scale = {10000, 100, 1};
  const int n = dt_fraction_digits(qualifier);
  for (int j = 0; j < (n + 1) / 2; ++j) {
    int pair = dt_get_pair(units.data(), pairs, dt_unit_index(qualifier, TU_FRAC + j));
    if (j == n / 2) pair = pair / 10 * 10;
    time->tm_fraction += pair * scale[j];
  }
  /* A whole date also gives its weekday and day of the year, so that a
  ** format naming them (%a, %A, %j, %u, %w) writes the value's own. */
  if (TU_START(qualifier) == TU_YEAR && TU_END(qualifier) >= TU_DAY) {
    const int16_t mdy[3] = {static_cast<int16_t>(time->tm_mon + 1),
                            static_cast<int16_t>(time->tm_mday),
                            static_cast<int16_t>(time->tm_year + 1900)};
    const int16_t first_day[3] = {1, 1, mdy[2]};
    int32_t date = 0;
    int32_t first = 0;
    if (rmdyjul(mdy, &date) == 0 && rmdyjul(first_day, &first) == 0 && date != DATE_NULL) {
      time->tm_wday = rdayofweek(date);
      time->tm_yday = date - first;
    }
  }
  return 0;
}
}
