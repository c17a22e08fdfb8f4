/*
** expr_dates.cpp: the date functions of the expression evaluator: DAY,
** MONTH and YEAR, DATE, EXTEND, UNITS, CURRENT, WEEKDAY and MDY, and the
** DATETIME of a clock value. They sit on the DATE, DATETIME and INTERVAL
** operations; nothing in the client library calls them yet.
**
** A locale whose calendar is not the Gregorian one reads and builds month,
** day and year through the DATE text in force, so the numbers are that
** calendar's; the default calendar uses the day-number conversions.
** Results are built in a local record and copied out at the end, so the
** result may be an operand.
*/
#include <cstdio>

#include "date_internal.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dtarith.h"
#include "gen_errors.h"
#include "gen_expr.h"
#include "gen_types.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "value_internal.h"

namespace {

using dvz_genlib::code_of;
using dvz_genlib::is_null;

enum date_part { part_day = 69, part_month = 70, part_year = 71 };

constexpr int prec_date = 0x0A00;
constexpr int prec_part = 0x0200; /* two digits */
constexpr int prec_year = 0x0400; /* four digits */
constexpr int prec_weekday = 0x0100;
constexpr int qual_current = TU_ENCODE(17, TU_YEAR, TU_F3);

int qualifier_of(const value_t *v) { return static_cast<uint16_t>(v->vprec); }

value_t typed(int type, int prec) {
  value_t out {};
  out.vtype = static_cast<int16_t>(type);
  out.vprec = static_cast<int16_t>(prec);
  return out;
}

value_t null_smallint(int prec) {
  value_t out = typed(sql_type_smallint, prec);
  out.vind = -1;
  out.vint = 0;
  return out;
}

value_t null_date() {
  value_t out = typed(sql_type_date, prec_date);
  out.vind = -1;
  out.vint = DATE_NULL;
  return out;
}

value_t null_time(int type, int qualifier) {
  value_t out = typed(type, qualifier);
  out.vind = -1;
  out.vdec.sign = -1;
  return out;
}

/* Whether the locale environment uses the default (Gregorian) calendar;
** a locale that cannot be initialised counts as default. */
bool default_calendar() {
  if (dvz_genlib::date_gls_init() != 0) return true;
  const gls_env *env = CheckGlsEnv();
  return env == nullptr || env->state == nullptr || env->state->gregorian != 0;
}

/* Month, day and year of v, which is not NULL; *is_null_date when v
** converts to the NULL DATE. 0 or the conversion's error. */
int month_day_year(value_t *v, int16_t mdy[3], bool *is_null_date) {
  *is_null_date = false;
  if (code_of(v) == sql_type_datetime && TU_START(qualifier_of(v)) != TU_YEAR)
    return todate1(v, mdy);
  const int32_t date = todate(v);
  if (int e = get_toerrno(); e != 0) return e;
  if (date == DATE_NULL) {
    *is_null_date = true;
    return 0;
  }
  return default_calendar() ? rjulmdy(date, mdy) : rgetglsdate(date, mdy);
}

}  // namespace

extern "C" {

/*
** DAY (69), MONTH (70) or YEAR (71) of v as a SMALLINT of precision 2 (4
** for the year); NULL for a NULL operand or the NULL date. Returns 0, the
** conversion's error, or -1260 for another operator.
*/
int exxmdy(int op, value_t *v, value_t *result) {
  if (op != part_day && op != part_month && op != part_year) return value_err_no_conversion;
  const int prec = op == part_year ? prec_year : prec_part;
  if (is_null(v)) {
    *result = null_smallint(prec);
    return 0;
  }
  int16_t mdy[3] = {0, 0, 0};
  bool null_date = false;
  if (int e = month_day_year(v, mdy, &null_date); e != 0) return e;
  if (null_date) {
    *result = null_smallint(prec);
    return 0;
  }
  value_t out = typed(sql_type_smallint, prec);
  out.vint = op == part_day ? mdy[1] : op == part_month ? mdy[0] : mdy[2];
  *result = out;
  return 0;
}

/* DATE(v); NULL for a NULL operand or the NULL date. 0 or todate's error. */
int extodate(value_t *v, value_t *result) {
  if (is_null(v)) {
    *result = null_date();
    return 0;
  }
  const int32_t date = todate(v);
  if (int e = get_toerrno(); e != 0) return e;
  value_t out = date == DATE_NULL ? null_date() : typed(sql_type_date, prec_date);
  out.vint = date;
  *result = out;
  return 0;
}

/* EXTEND(v, q) as a DATETIME of q's qualifier: 0 or todatetime's error
** (-1268 for a qualifier that is not valid). */
int exextend(value_t *v, value_t *q, value_t *result) {
  const int qualifier = qualifier_of(q);
  if (is_null(v)) {
    *result = null_time(sql_type_datetime, qualifier);
    return 0;
  }
  if (int e = _chk_qual(0, qualifier); e != 0) return e;
  dtime_t d {};
  if (int e = todatetime(v, &d, qualifier); e != 0) return e;
  value_t out = typed(sql_type_datetime, qualifier);
  out.vdec = d.dt_dec;
  *result = out;
  return 0;
}

/* v UNITS q: the number v as an INTERVAL of q's qualifier, a FRACTION
** start moved to SECOND with the same leading digits. 0, the conversion's
** error, or rdectoinv's (-1265 too large, -1268). */
int exunits(value_t *v, value_t *q, value_t *result) {
  int qualifier = qualifier_of(q);
  if (TU_START(qualifier) == TU_FRAC) {
    const int lead = TU_LEN(qualifier) - (TU_END(qualifier) - TU_FRAC);
    qualifier = TU_ENCODE(lead + TU_END(qualifier) - TU_SECOND, TU_SECOND, TU_END(qualifier));
  }
  if (is_null(v)) {
    *result = null_time(sql_type_interval, qualifier);
    return 0;
  }
  dec_t count {};
  if (int e = todecimal(v, &count); e != 0) return e;
  value_t out = typed(sql_type_interval, qualifier);
  rdectoinv(&count, &out.vdec, qualifier);
  if (int e = get_toerrno(); e != 0) return e;
  *result = out;
  return 0;
}

/* CURRENT extended to qualifier (0: YEAR TO FRACTION(3)): 0, -1268, or
** -406 without a control block. */
int excurrent(int qualifier, value_t *result) {
  if (CheckGenInit() == nullptr) return os_err_no_memory;
  const int target = qualifier != 0 ? qualifier : qual_current;
  dtime_t now {};
  now.dt_qual = qual_current;
  dtcurrent(&now);
  value_t out = typed(sql_type_datetime, target);
  if (target == qual_current) {
    out.vdec = now.dt_dec;
  } else if (int e = rdtextend(&now.dt_dec, qual_current, &out.vdec, target); e != 0) {
    return e;
  }
  *result = out;
  return 0;
}

/* The local time of clock as a DATETIME of qualifier: 0 or -1268. */
int utc_to_datetime(time_t clock, int qualifier, value_t *result) {
  value_t out = typed(sql_type_datetime, qualifier);
  if (int e = rdatetime(clock, qualifier, &out.vdec); e != 0) return e;
  *result = out;
  return 0;
}

/* WEEKDAY(v) (0 Sunday): 0 or todate's error; NULL for NULL. */
int exwkday(value_t *v, value_t *result) {
  if (is_null(v)) {
    *result = null_smallint(prec_weekday);
    return 0;
  }
  const int32_t date = todate(v);
  if (int e = get_toerrno(); e != 0) return e;
  if (date == DATE_NULL) {
    *result = null_smallint(prec_weekday);
    return 0;
  }
  value_t out = typed(sql_type_smallint, prec_weekday);
  out.vint = rdayofweek(date);
  *result = out;
  return 0;
}

/*
** MDY(m, d, y) as a DATE; NULL when an operand is NULL. Returns 0, a
** conversion's error, or the error of the date conversion (-1204 year,
** -1205 month, -1206 day), the result then untouched.
*/
int exmdy(value_t *m, value_t *d, value_t *y, value_t *result) {
  if (is_null(m) || is_null(d) || is_null(y)) {
    *result = null_date();
    return 0;
  }
  int parts[3] = {0, 0, 0}; /* month, day, year */
  value_t *operands[3] = {m, d, y};
  for (int i = 0; i < 3; ++i) {
    parts[i] = toint(operands[i]);
    if (int e = get_toerrno(); e != 0) return e;
  }
  int32_t date = DATE_NULL;
  if (default_calendar()) {
    const int16_t mdy[3] = {static_cast<int16_t>(parts[0]), static_cast<int16_t>(parts[1]),
                            static_cast<int16_t>(parts[2])};
    if (int e = rmdyjul(mdy, &date); e != 0) return e;
  } else {
    /* The locale's field order: 1 day, 2 month, 3 year. */
    const int32_t *order = CheckGlsEnv()->state->field_order;
    int ordered[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i)
      ordered[i] = order[i] == 1 ? parts[1] : order[i] == 2 ? parts[0] : parts[2];
    char text[48];
    std::snprintf(text, sizeof text, "%d %d %d", ordered[0], ordered[1], ordered[2]);
    if (int e = rstrdate(text, &date); e != 0) return e;
  }
  value_t out = date == DATE_NULL ? null_date() : typed(sql_type_date, prec_date);
  out.vint = date;
  *result = out;
  return 0;
}

}  // extern "C"
