/*
** datetime_arith.cpp: arithmetic on DATETIME and INTERVAL values:
** extension of a DATETIME to another qualifier, DATETIME and DATE,
** INTERVAL conversion and counts of its last unit, DATETIME minus
** DATETIME, DATETIME plus INTERVAL, and INTERVAL times and by a number.
**
** Called by the evaluator and the value conversions on bare values, and by
** the current-time code (datetime_current.cpp) for DBTODAY. Calls the core
** (dtpack, dtunpack, _chk_qual, daysinmonth), the DATE day numbers and the
** DECIMAL operations.
**
** Every computation works on a fixed frame of base-100 pairs (frame 0 the
** century, 1 the year of century, 2 MONTH, 3 DAY, 4 HOUR, 5 MINUTE, 6
** SECOND, 7-9 the fraction pairs; an INTERVAL's wide first field runs on
** into negative frames). A value's unit array maps onto it by its
** exponent, so two qualifiers that share a unit share its frame. Results
** are NULL after every error.
*/
#include <cassert>
#include <cstring>

#include "date_internal.h"
#include "dt_units.h"
#include "gen_date.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_dtarith.h"
#include "gen_exprtypes.h"
#include "gen_types.h"
#include "os_glsenv.h"

namespace {

/* Wide enough for the first field of any valid qualifier (24 digits). */
using wide = __int128;

constexpr int frame_bias = 16;
constexpr int frame_count = 26;
constexpr int century_frame = 0;
constexpr int year_frame = 1;
constexpr int month_frame = 2;
constexpr int day_frame = 3;
constexpr int hour_frame = 4;
constexpr int second_frame = 6;
constexpr int fraction_frame = 7;

/* One base-100 pair per frame, frames -16..9. */
class frames {
 public:
  int &at(int frame) {
    assert(frame >= -frame_bias && frame < frame_count - frame_bias);
    return pairs_[frame + frame_bias];
  }
  int at(int frame) const {
    assert(frame >= -frame_bias && frame < frame_count - frame_bias);
    return pairs_[frame + frame_bias];
  }

 private:
  int pairs_[frame_count] {};
};

/* The frame of a value's first pair under qualifier q. */
constexpr int first_frame(int q) { return fraction_frame - dt_exponent(q); }

/* The frame of a unit's low pair, as a start or an end unit: YEAR its year
** of century, FRACTION and FRACTION(n) their fraction pair. */
constexpr int unit_frame(int unit) {
  if (unit == TU_YEAR) return year_frame;
  if (unit > TU_SECOND) return fraction_frame + (unit - TU_F1) / 2;
  return unit / 2 + 1;
}

/* Radix of the pair at a frame (dtbase by unit); DAY gives 1. */
int frame_radix(int frame) {
  if (frame <= year_frame) return dtbase[0];
  if (frame >= fraction_frame) return dtbase[6];
  return dtbase[frame - 1];
}

/* Start units in time order: FRACTION (12) comes just after SECOND. */
constexpr int start_order(int start) { return start == TU_FRAC ? TU_F1 : start; }

void set_null_value(dec_t *value) {
  value->sign = -1;
  value->exponent = 0;
  value->npairs = 0;
}

bool is_null_value(const dec_t *value) { return value->sign == -1; }

/* The value's pairs in a frame; zeros for NULL. REQUIRES: q is valid. */
frames load_frames(const dec_t *value, int q) {
  unsigned char units[DT_UNITS_SIZE] = {};
  dtunpack(value, q, units);
  frames f;
  const int first = first_frame(q);
  const int count = dt_pair_count(q);
  for (int i = 0; i < count; ++i)
    f.at(first + i) = units[i];
  return f;
}

/* The frame packed under q with sign: dtpack's status. REQUIRES: q valid
** and every pair of q's range within 0..99. */
int store_frames(const frames &f, int q, dec_t *value, int sign) {
  unsigned char units[DT_UNITS_SIZE] = {};
  const int first = first_frame(q);
  const int count = dt_pair_count(q);
  for (int i = 0; i < count; ++i)
    units[i] = static_cast<unsigned char>(f.at(first + i));
  return dtpack(value, q, units, sign);
}

/* The whole first field of an INTERVAL whose first unit's low pair is at
** frame last: every pair up to it, read as one number. */
wide first_field(const frames &f, int last) {
  wide number = 0;
  for (int frame = -frame_bias; frame <= last; ++frame)
    number = number * 100 + f.at(frame);
  return number;
}

wide floor_div(wide a, wide b) {
  wide q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}

/* The count of an INTERVAL's units from start to end as a DECIMAL with the
** given sign: the first field, then each later unit up to SECOND by its
** radix, the fraction pairs behind the point. */
int count_of(const frames &f, int start, int end, int sign, dec_t *count) {
  wide integer = 0;
  const int last = unit_frame(end);
  if (start != TU_FRAC) {
    const int first = unit_frame(start);
    integer = first_field(f, first);
    for (int frame = first + 1; frame <= last && frame <= second_frame; ++frame)
      integer = integer * frame_radix(frame) + f.at(frame);
  }
  unsigned char digits[2 * DECSIZE] = {};
  unsigned char integer_pairs[2 * DECSIZE] = {};
  int n_integer = 0;
  for (wide rest = integer; rest > 0 && n_integer < 2 * DECSIZE; rest /= 100)
    integer_pairs[n_integer++] = static_cast<unsigned char>(rest % 100);
  int n = 0;
  for (int i = n_integer - 1; i >= 0; --i)
    digits[n++] = integer_pairs[i];
  for (int frame = fraction_frame; frame <= last && n < 2 * DECSIZE; ++frame)
    digits[n++] = static_cast<unsigned char>(f.at(frame));
  return decload(count, sign, n_integer, digits, n);
}

/* Materialises the integer part of a non-negative DECIMAL so that every
** integer pair is present (npairs == exponent). False when it has more
** than DECSIZE integer pairs. */
bool integer_part(const dec_t *value, dec_t *work) {
  const int exponent = value->exponent;
  const int n = value->npairs < 0 ? 0 : (value->npairs > DECSIZE ? DECSIZE : value->npairs);
  work->sign = 1;
  if (n == 0 || exponent <= 0) {
    work->exponent = 0;
    work->npairs = 0;
    return true;
  }
  if (exponent > DECSIZE) return false;
  work->exponent = static_cast<int16_t>(exponent);
  work->npairs = static_cast<int16_t>(exponent);
  for (int i = 0; i < exponent; ++i)
    work->pairs[i] = i < n ? value->pairs[i] : 0;
  return true;
}

/* Pair k behind the point of a DECIMAL. */
int fraction_pair(const dec_t *value, int k) {
  const int index = value->exponent + k;
  const int n = value->npairs < 0 ? 0 : (value->npairs > DECSIZE ? DECSIZE : value->npairs);
  return index >= 0 && index < n ? value->pairs[index] : 0;
}

/* Builds an INTERVAL of qualifier q (valid) from a count: 0 or -1265. */
int interval_from_count(const dec_t *count, int q, dec_t *value) {
  const int start = TU_START(q);
  const int end = TU_END(q);
  frames f;
  const int last = unit_frame(end);
  if (end > TU_SECOND) {
    for (int frame = fraction_frame; frame <= last; ++frame)
      f.at(frame) = fraction_pair(count, frame - fraction_frame);
    if ((end & 1) != 0) f.at(last) -= f.at(last) % 10;
  }
  if (start != TU_FRAC) {
    dec_t work;
    if (!integer_part(count, &work)) return dt_err_overflow;
    const int first = unit_frame(start);
    for (int frame = last < second_frame ? last : second_frame; frame > first; --frame) {
      if (work.npairs == 0) break;
      int remainder = 0;
      divbyint(&work, frame_radix(frame), &remainder);
      f.at(frame) = remainder;
    }
    int32_t field = 0;
    if (dectolong(&work, &field) != 0) return dt_err_overflow;
    const int field_start = first_frame(q);
    for (int frame = first; field > 0; --frame) {
      if (frame < field_start) return dt_err_overflow;
      f.at(frame) = field % 100;
      field /= 100;
    }
    if ((TU_FLEN(q) & 1) != 0 && f.at(field_start) >= 10) return dt_err_overflow;
  }
  return store_frames(f, q, value, count->sign == 0 ? 0 : 1);
}

/* True when the INTERVAL qualifier starts at YEAR or MONTH. */
constexpr bool is_year_month(int q) { return TU_START(q) < TU_DAY; }

/* The status of rinvcopy, also left in toerrno. */
int copy_interval(const dec_t *source, int source_qual, dec_t *target, int target_qual) {
  if (source_qual == target_qual) {
    deccopy(source, target);
    return 0;
  }
  int status = _chk_qual(1, source_qual);
  if (status == 0) status = _chk_qual(1, target_qual);
  if (status != 0) {
    set_null_value(target);
    return status;
  }
  if (is_year_month(source_qual) != is_year_month(target_qual) ||
      start_order(TU_START(source_qual)) > TU_END(target_qual)) {
    set_null_value(target);
    return dt_err_qualifiers;
  }
  if (is_null_value(source)) {
    set_null_value(target);
    return 0;
  }
  dec_t count;
  const frames f = load_frames(source, source_qual);
  status = count_of(f, TU_START(source_qual), TU_END(target_qual), source->sign, &count);
  if (status == 0) status = interval_from_count(&count, target_qual, target);
  if (status != 0) set_null_value(target);
  return status;
}

/* a * or / factor for invmuldec and invdivdec. */
int scale_interval(const intrvl_t *interval, const dec_t *factor, intrvl_t *result, int op) {
  const int result_qual = result->in_qual;
  int status = _chk_qual(1, interval->in_qual);
  if (status == 0) status = _chk_qual(1, result_qual);
  if (status != 0) {
    set_null_value(&result->in_dec);
    return status;
  }
  intrvl_t work;
  work.in_qual = static_cast<uint16_t>(result_qual);
  status = invextend(interval, &work);
  dec_t count;
  if (status == 0) status = rinvtodec(&work.in_dec, result_qual, &count);
  dec_t scaled;
  if (status == 0)
    status = op == EX_TIMES ? decmul(&count, factor, &scaled) : decdiv(&count, factor, &scaled);
  if (status != 0) {
    set_null_value(&result->in_dec);
    return status;
  }
  const int scaled_qual = exprec(result_qual, 0, op, sql_type_interval, sql_type_decimal);
  dec_t rebuilt;
  rdectoinv(&scaled, &rebuilt, scaled_qual);
  status = get_toerrno();
  if (status != 0) {
    set_null_value(&result->in_dec);
    return status;
  }
  rinvcopy(&rebuilt, scaled_qual, &result->in_dec, result_qual);
  return get_toerrno();
}

/* The DATETIME's date moved by days, split into mdy, and its old year:
** 0, -1204 when the date leaves the DATE range, or rdttodate's error. */
int add_days(const dec_t *datetime, int qual, wide days, int16_t mdy[3], int *old_year) {
  int32_t date = 0;
  int status = rdttodate(datetime, qual, &date);
  if (status != 0) return status;
  int16_t old[3];
  if (rjulmdy(date, old) != 0) return date_err_year;
  *old_year = old[2];
  const wide moved = date + days;
  if (moved < DATE_MIN || moved > DATE_MAX) return date_err_year;
  status = rjulmdy(static_cast<int32_t>(moved), mdy);
  return status == value_err_date_range ? date_err_year : status;
}

/* The walk of rdtaddinv over frames of the DATETIME: 0 or an error. */
int add_interval(const dec_t *datetime, int dt_qual, const dec_t *interval, int inv_qual,
                 frames &d) {
  const int s1 = TU_START(dt_qual);
  const int s2 = TU_START(inv_qual);
  const frames amounts = load_frames(interval, inv_qual);
  const bool negative = interval->sign == 0;
  const int inv_first = unit_frame(s2);
  const int walk_first = unit_frame(s1);
  wide carry = 0;
  for (int frame = unit_frame(TU_END(inv_qual)); frame >= walk_first; --frame) {
    wide amount = 0;
    if (frame > inv_first) amount = amounts.at(frame);
    if (frame == inv_first) amount = first_field(amounts, frame);
    if (negative) amount = -amount;
    if (frame == day_frame && s1 < TU_DAY) {
      int16_t mdy[3];
      int old_year = 0;
      const int status = add_days(datetime, dt_qual, amount + carry, mdy, &old_year);
      if (status != 0) return status;
      if (s1 == TU_MONTH && mdy[2] != old_year) return dt_err_result_range;
      d.at(day_frame) = mdy[1];
      d.at(month_frame) = mdy[0];
      d.at(year_frame) = mdy[2] % 100;
      d.at(century_frame) = mdy[2] / 100;
      carry = 0;
    } else if (frame == day_frame) {
      const wide day = d.at(frame) + amount + carry;
      if (day < 1 || day > 31) return dt_err_result_range;
      d.at(frame) = static_cast<int>(day);
      carry = 0;
    } else if (frame == month_frame) {
      const wide month = d.at(frame) + amount + carry - 1;
      carry = floor_div(month, 12);
      d.at(frame) = static_cast<int>(month - carry * 12) + 1;
    } else {
      const int radix = frame_radix(frame);
      const wide unit = d.at(frame) + amount + carry;
      carry = floor_div(unit, radix);
      d.at(frame) = static_cast<int>(unit - carry * radix);
    }
  }
  if (s1 == TU_YEAR) {
    const wide century = d.at(century_frame) + carry;
    const wide year = century * 100 + d.at(year_frame);
    if (year < 1 || year > 9999) return dt_err_result_range;
    d.at(century_frame) = static_cast<int>(century);
  } else if (carry != 0) {
    return dt_err_result_range;
  }
  if (s2 < TU_DAY && TU_END(dt_qual) >= TU_DAY) {
    unsigned char units[DT_UNITS_SIZE] = {};
    const int first = first_frame(dt_qual);
    for (int i = 0; i < dt_pair_count(dt_qual); ++i)
      units[i] = static_cast<unsigned char>(d.at(first + i));
    const int day = d.at(day_frame);
    if (day < 1 || day > daysinmonth(units, day_frame - first)) return dt_err_result_range;
  }
  return 0;
}

}  // namespace

extern "C" {

/* ---- Whole values -------------------------------------------------------------- */

int dtextend(const dtime_t *source, dtime_t *target) {
  const int status = chkglsinit();
  if (status < 0) return status;
  return rdtextend(&source->dt_dec, source->dt_qual, &target->dt_dec, target->dt_qual);
}

int invextend(const intrvl_t *source, intrvl_t *target) {
  rinvcopy(&source->in_dec, source->in_qual, &target->in_dec, target->in_qual);
  return get_toerrno();
}

int dtaddinv(const dtime_t *datetime, const intrvl_t *interval, dtime_t *result) {
  const dtime_t value = *datetime;
  result->dt_qual = value.dt_qual;
  return rdtaddinv(&value.dt_dec, value.dt_qual, &interval->in_dec, interval->in_qual,
                   &result->dt_dec);
}

/* The INTERVAL's sign is flipped on a copy: the caller's record is never
** written. */
int dtsubinv(const dtime_t *datetime, const intrvl_t *interval, dtime_t *result) {
  intrvl_t negated = *interval;
  if (negated.in_dec.sign != -1) negated.in_dec.sign = negated.in_dec.sign == 0 ? 1 : 0;
  return dtaddinv(datetime, &negated, result);
}

int dtsub(const dtime_t *a, const dtime_t *b, intrvl_t *result) {
  const int work_qual =
      exprec(a->dt_qual, b->dt_qual, EX_MINUS, sql_type_datetime, sql_type_datetime);
  dec_t work;
  const int status = rdtsub(&a->dt_dec, a->dt_qual, &b->dt_dec, b->dt_qual, &work, work_qual);
  if (status != 0) {
    set_null_value(&result->in_dec);
    return status;
  }
  rinvcopy(&work, work_qual, &result->in_dec, result->in_qual);
  return get_toerrno();
}

int invmuldec(const intrvl_t *interval, const dec_t *factor, intrvl_t *result) {
  return scale_interval(interval, factor, result, EX_TIMES);
}

int invdivdec(const intrvl_t *interval, const dec_t *divisor, intrvl_t *result) {
  return scale_interval(interval, divisor, result, EX_DIVIDE);
}

int invmuldbl(const intrvl_t *interval, double factor, intrvl_t *result) {
  dec_t number;
  const int status = deccvdbl(factor, &number);
  return status != 0 ? status : invmuldec(interval, &number, result);
}

int invdivdbl(const intrvl_t *interval, double divisor, intrvl_t *result) {
  dec_t number;
  const int status = deccvdbl(divisor, &number);
  return status != 0 ? status : invdivdec(interval, &number, result);
}

/*
** a / b as a double. Operands of different qualifiers are first brought to
** a common one (the earlier start, the later end, the first-field
** precision of the operand that starts earlier, of b on a tie); -1268
** when that mixes the two INTERVAL classes. Returns 0 or the error of the
** conversion, of decdiv (-1202) or of dectodbl.
*/
int invdivinv(const intrvl_t *a, const intrvl_t *b, double *result) {
  int status = chkglsinit();
  if (status < 0) return status;
  status = _chk_qual(1, a->in_qual);
  if (status == 0) status = _chk_qual(1, b->in_qual);
  if (status != 0) return status;
  dec_t a_value = a->in_dec;
  dec_t b_value = b->in_dec;
  int qual = a->in_qual;
  if (a->in_qual != b->in_qual) {
    const int start_a = TU_START(a->in_qual);
    const int start_b = TU_START(b->in_qual);
    const int lead = start_order(start_a) < start_order(start_b) ? a->in_qual : b->in_qual;
    const int start = TU_START(lead);
    const int end =
        TU_END(a->in_qual) > TU_END(b->in_qual) ? TU_END(a->in_qual) : TU_END(b->in_qual);
    qual = TU_ENCODE(TU_FLEN(lead) + end - start, start, end);
    status = _chk_qual(1, qual);
    if (status != 0) return status;
    rinvcopy(&a->in_dec, a->in_qual, &a_value, qual);
    status = get_toerrno();
    if (status != 0) return status;
    rinvcopy(&b->in_dec, b->in_qual, &b_value, qual);
    status = get_toerrno();
    if (status != 0) return status;
  }
  dec_t a_count;
  dec_t b_count;
  dec_t quotient;
  status = rinvtodec(&a_value, qual, &a_count);
  if (status == 0) status = rinvtodec(&b_value, qual, &b_count);
  if (status == 0) status = decdiv(&a_count, &b_count, &quotient);
  if (status != 0) return status;
  return dectodbl(&quotient, result);
}

/* ---- Bare values and their qualifier ----------------------------------------- */

/*
** DATETIME source_qual to target_qual. Target units before the source's
** come from the current time; target units after the source's are 0, but
** a DAY or MONTH the source lacks is 1; units finer than the target's end
** are truncated. Returns 0 or -1268 (toerrno cleared first).
*/
int rdtextend(const dec_t *source, int source_qual, dec_t *target, int target_qual) {
  set_toerrno(0);
  int status = _chk_qual(0, source_qual);
  if (status == 0) status = _chk_qual(0, target_qual);
  if (status != 0) return status;
  if (is_null_value(source)) {
    set_null_value(target);
    return 0;
  }
  /* The same units: no current time, no frames. */
  if (source_qual == target_qual) return dt_repack(source, source_qual, target, false);
  const int s1 = TU_START(source_qual);
  const int e1 = TU_END(source_qual);
  const int s2 = TU_START(target_qual);
  const int e2 = TU_END(target_qual);
  frames f;
  if (s2 < s1) {
    dtime_t now;
    now.dt_qual = dt_qual_now;
    set_null_value(&now.dt_dec);
    rdtcurrent(&now);
    f = load_frames(&now.dt_dec, dt_qual_now_default);
    for (int frame = first_frame(source_qual); frame < frame_count - frame_bias; ++frame)
      f.at(frame) = 0;
  }
  const frames units = load_frames(source, source_qual);
  const int first = first_frame(source_qual);
  for (int i = 0; i < dt_pair_count(source_qual); ++i)
    f.at(first + i) = units.at(first + i);
  if (s2 <= TU_DAY && e2 >= TU_DAY && e1 < TU_DAY) f.at(day_frame) = 1;
  if (s2 <= TU_MONTH && e2 >= TU_MONTH && e1 < TU_MONTH) f.at(month_frame) = 1;
  return store_frames(f, target_qual, target, source->sign);
}

int rdttodate(const dec_t *value, int qualifier, int32_t *date) {
  dec_t ymd;
  const int status = rdtextend(value, qualifier, &ymd, dt_qual_year_to_day);
  if (status != 0) return status;
  if (is_null_value(&ymd)) {
    *date = DATE_NULL;
    return 0;
  }
  const frames f = load_frames(&ymd, dt_qual_year_to_day);
  const int16_t mdy[3] = {static_cast<int16_t>(f.at(month_frame)),
                          static_cast<int16_t>(f.at(day_frame)),
                          static_cast<int16_t>(f.at(century_frame) * 100 + f.at(year_frame))};
  return rmdyjul(mdy, date);
}

/* The NULL DATE, or one out of range, gives a NULL result. */
void rdatedt(int32_t date, dec_t *target, int target_qual) {
  int16_t mdy[3];
  if (date == DATE_NULL || rjulmdy(date, mdy) != 0) {
    set_null_value(target);
    return;
  }
  unsigned char units[DT_UNITS_SIZE] = {
      static_cast<unsigned char>(mdy[2] / 100), static_cast<unsigned char>(mdy[2] % 100),
      static_cast<unsigned char>(mdy[0]), static_cast<unsigned char>(mdy[1])};
  dec_t ymd;
  dtpack(&ymd, dt_qual_year_to_day, units, 1);
  rdtextend(&ymd, dt_qual_year_to_day, target, target_qual);
}

/*
** INTERVAL source_qual to target_qual: -1268 for an invalid qualifier,
** -1266 across the two classes or for a source starting after the target's
** end, -1265 when the first field does not hold the value. Finer units are
** dropped. The status is left in toerrno; the result is NULL after an
** error.
*/
void rinvcopy(const dec_t *source, int source_qual, dec_t *target, int target_qual) {
  set_toerrno(0);
  const int status = copy_interval(source, source_qual, target, target_qual);
  if (status != 0) set_toerrno(status);
}

/* The INTERVAL as a count of its last unit: 0, -1268, or decload's error. */
int rinvtodec(const dec_t *value, int qualifier, dec_t *count) {
  const int status = _chk_qual(1, qualifier);
  if (status != 0 || is_null_value(value)) {
    set_null_value(count);
    return status;
  }
  const frames f = load_frames(value, qualifier);
  return count_of(f, TU_START(qualifier), TU_END(qualifier), value->sign, count);
}

/* The count as an INTERVAL; toerrno 0, -1268 or -1265 (the result NULL). */
void rdectoinv(const dec_t *count, dec_t *value, int qualifier) {
  set_toerrno(0);
  int status = _chk_qual(1, qualifier);
  if (status == 0 && is_null_value(count)) {
    set_null_value(value);
    return;
  }
  if (status == 0) status = interval_from_count(count, qualifier, value);
  if (status != 0) {
    set_null_value(value);
    set_toerrno(status);
  }
}

/*
** REQUIRES: value holds a non-negative integer with every integer pair
** present (npairs == exponent). Divides it in place by divisor (1 or more;
** else -1202 and nothing changes), drops the leading zero pairs and
** stores the remainder. Returns 0.
*/
int divbyint(dec_t *value, int divisor, int *remainder) {
  if (divisor < 1) return value_err_divide_by_zero;
  const int n = value->npairs < 0 ? 0 : (value->npairs > DECSIZE ? DECSIZE : value->npairs);
  int rest = 0;
  for (int i = 0; i < n; ++i) {
    const int current = rest * 100 + value->pairs[i];
    value->pairs[i] = static_cast<uint8_t>(current / divisor);
    rest = current % divisor;
  }
  int zeros = 0;
  while (zeros < n && value->pairs[zeros] == 0)
    ++zeros;
  if (zeros > 0) {
    std::memmove(value->pairs, value->pairs + zeros, static_cast<size_t>(n - zeros));
    value->exponent = static_cast<int16_t>(value->exponent - zeros);
    value->npairs = static_cast<int16_t>(n - zeros);
  }
  *remainder = rest;
  return 0;
}

/*
** a - b as an INTERVAL of result_qual: b is extended to a's qualifier,
** the units subtracted with borrows; when a spans DAY from an earlier
** start the days are the difference of the two DATEs. Returns 0 (NULL
** result for a NULL operand), -1268, or the DATE error; NULL after an
** error.
*/
int rdtsub(const dec_t *a, int a_qual, const dec_t *b, int b_qual, dec_t *result, int result_qual) {
  int status = _chk_qual(0, a_qual);
  if (status == 0) status = _chk_qual(0, b_qual);
  if (status == 0) status = _chk_qual(1, result_qual);
  if (status != 0 || is_null_value(a) || is_null_value(b)) {
    set_null_value(result);
    return status;
  }
  dec_t a_value = *a;
  dec_t b_value;
  status = rdtextend(b, b_qual, &b_value, a_qual);
  if (status != 0) {
    set_null_value(result);
    return status;
  }
  int sign = 1;
  const dec_t *larger = &a_value;
  const dec_t *smaller = &b_value;
  if (deccmp(&a_value, &b_value) < 0) {
    larger = &b_value;
    smaller = &a_value;
    sign = 0;
  }
  const frames high = load_frames(larger, a_qual);
  const frames low = load_frames(smaller, a_qual);
  const int start = TU_START(a_qual);
  const int end = TU_END(a_qual);
  const bool days_by_date = start < TU_DAY && end >= TU_DAY;
  const int stop =
      days_by_date ? hour_frame : (start == TU_YEAR ? century_frame : unit_frame(start));
  frames difference;
  int borrow = 0;
  for (int frame = unit_frame(end); frame >= stop; --frame) {
    int unit = high.at(frame) - low.at(frame) + borrow;
    borrow = 0;
    if (frame != stop || days_by_date)
      while (unit < 0) {
        unit += frame_radix(frame);
        --borrow;
      }
    difference.at(frame) = unit;
  }
  if (days_by_date) {
    int32_t high_date = 0;
    int32_t low_date = 0;
    status = rdttodate(larger, a_qual, &high_date);
    if (status == 0) status = rdttodate(smaller, a_qual, &low_date);
    if (status != 0) {
      set_null_value(result);
      return status;
    }
    int64_t days = static_cast<int64_t>(high_date) - low_date + borrow;
    for (int frame = day_frame; days > 0 && frame >= -frame_bias; --frame) {
      difference.at(frame) = static_cast<int>(days % 100);
      days /= 100;
    }
  }
  status = store_frames(difference, result_qual, result, sign);
  if (status != 0) set_null_value(result);
  return status;
}

/*
** datetime + interval under the DATETIME's qualifier: -1268, -1266 when
** the INTERVAL does not fit inside the DATETIME, -1267 for a result out of
** range or an impossible date (January 31 plus one month), -1204 when the
** days leave the DATE range, or the DATE error. NULL after an error; a
** NULL operand gives NULL and 0.
*/
int rdtaddinv(const dec_t *datetime, int datetime_qual, const dec_t *interval, int interval_qual,
              dec_t *result) {
  int status = _chk_qual(0, datetime_qual);
  if (status == 0) status = _chk_qual(1, interval_qual);
  if (status != 0 || is_null_value(datetime) || is_null_value(interval)) {
    set_null_value(result);
    return status;
  }
  const int s1 = TU_START(datetime_qual);
  const int s2 = TU_START(interval_qual);
  if (TU_END(datetime_qual) < TU_END(interval_qual) || (s1 > s2 && s2 != TU_SECOND)) {
    set_null_value(result);
    return dt_err_qualifiers;
  }
  const dec_t source = *datetime;
  frames d = load_frames(&source, datetime_qual);
  status = add_interval(&source, datetime_qual, interval, interval_qual, d);
  if (status == 0) status = store_frames(d, datetime_qual, result, 1);
  if (status != 0) set_null_value(result);
  return status;
}

}  // extern "C"
