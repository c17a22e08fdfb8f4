/*
** datetime_current.cpp: the current time of the value library: the clock
** read as a YEAR TO FRACTION(5) DATETIME, a fixed current value set by
** rdtsetcurr, and the DBTODAY shift that makes every current time run from
** another moment.
**
** The client environment calls rdtcurrent and dvz_localtime for the locale
** library's current-date and current-time services; the DATE code calls
** dvz_localtime, getdbtoday and initdbtoday for today's date; the
** evaluator and the arithmetic (datetime_arith.cpp) call dtcurrent and
** rdtcurrent. The clock is the client environment's (os_clock), so that a
** test pins one clock for both libraries. The state lives in the general
** control block: the fixed
** value pointer, the DBTODAY offset (an INTERVAL DAY(9) TO SECOND), the
** DBTODAY flags and the DBTODAY date and today words. DBTODAY is examined
** at most once per process, at the first current-time request.
*/
#include <cstring>
#include <ctime>

#include "dt_units.h"
#include "gen_date.h"
#include "gen_decimal.h"
#include "gen_dtarith.h"
#include "gen_dtformat.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_seams.h"

namespace {

/* YEAR TO SECOND, DBTODAY; DAY(9) TO SECOND, the DBTODAY offset. */
constexpr int qual_dbtoday = 0x0E0A;
constexpr int qual_offset = 0x0F4A;

constexpr int dbtoday_flags =
    gen_flag_dbtoday_reading | gen_flag_dbtoday_active | gen_flag_dbtoday_examined;

void set_null_value(dec_t *value) {
  value->sign = -1;
  value->exponent = 0;
  value->npairs = 0;
}

/* The pairs of a broken-down local time from YEAR to SECOND, then the
** microseconds as three pairs. */
void local_units(const struct tm &local, long usec, unsigned char units[DT_UNITS_SIZE]) {
  std::memset(units, 0, DT_UNITS_SIZE);
  units[0] = static_cast<unsigned char>(local.tm_year / 100 + 19);
  units[1] = static_cast<unsigned char>(local.tm_year % 100);
  units[2] = static_cast<unsigned char>(local.tm_mon + 1);
  units[3] = static_cast<unsigned char>(local.tm_mday);
  units[4] = static_cast<unsigned char>(local.tm_hour);
  units[5] = static_cast<unsigned char>(local.tm_min);
  units[6] = static_cast<unsigned char>(local.tm_sec);
  units[7] = static_cast<unsigned char>(usec / 10000);
  units[8] = static_cast<unsigned char>(usec % 10000 / 100);
  units[9] = static_cast<unsigned char>(usec % 100);
}

}  // namespace

extern "C" {

/* An invalid qualifier becomes YEAR TO FRACTION(3) (toerrno cleared). */
void dtcurrent(dtime_t *value) {
  if (_chk_qual(0, value->dt_qual) != 0) {
    value->dt_qual = dt_qual_now_default;
    set_toerrno(0);
  }
  dtime_t now;
  now.dt_qual = dt_qual_now;
  set_null_value(&now.dt_dec);
  rdtcurrent(&now);
  rdtextend(&now.dt_dec, dt_qual_now, &value->dt_dec, value->dt_qual);
}

/* Keeps the caller's pointer: *value must outlive its use as the clock. */
void rdtsetcurr(dec_t *value) {
  gen_tcb *block = CheckGenInit();
  if (block != nullptr) block->fixed_now = value;
}

/*
** The current time as YEAR TO FRACTION(5): the fixed value when one is set,
** else the clock shifted by the DBTODAY offset. Without a control block,
** or when the clock cannot be read as local time, *value is untouched.
*/
void rdtcurrent(dtime_t *value) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return;
  if ((block->flags & dbtoday_flags) == 0) getdbtoday(block);
  if (block->fixed_now != nullptr) {
    value->dt_qual = dt_qual_now;
    deccopy(block->fixed_now, &value->dt_dec);
    return;
  }
  struct timeval clock;
  os_clock_read(&clock);
  struct tm local;
  if (dvz_localtime(&clock.tv_sec, &local) == nullptr) return;
  unsigned char units[DT_UNITS_SIZE];
  local_units(local, clock.tv_usec, units);
  value->dt_qual = dt_qual_now;
  dtpack(&value->dt_dec, dt_qual_now, units, 1);
  if ((block->flags & gen_flag_dbtoday_active) != 0)
    rdtaddinv(&value->dt_dec, dt_qual_now, &block->dbtoday_offset.in_dec, qual_offset,
              &value->dt_dec);
}

/* Copies only the nine standard words; the caller's other fields stay. */
struct tm *dvz_localtime(const time_t *clock, struct tm *out) {
  struct tm local;
  if (clock == nullptr || out == nullptr || localtime_r(clock, &local) == nullptr) return nullptr;
  out->tm_sec = local.tm_sec;
  out->tm_min = local.tm_min;
  out->tm_hour = local.tm_hour;
  out->tm_mday = local.tm_mday;
  out->tm_mon = local.tm_mon;
  out->tm_year = local.tm_year;
  out->tm_wday = local.tm_wday;
  out->tm_yday = local.tm_yday;
  out->tm_isdst = local.tm_isdst;
  return out;
}

/*
** REQUIRES: qualifier starts at YEAR. Returns 0; -1268 (nothing written)
** for an invalid qualifier, whose pair count no unit array could hold; a
** clock that localtime refuses gives NULL.
*/
int rdatetime(time_t clock, int qualifier, dec_t *value) {
  const int status = _chk_qual(0, qualifier);
  if (status != 0) return status;
  struct tm local;
  if (dvz_localtime(&clock, &local) == nullptr) {
    set_null_value(value);
    return 0;
  }
  unsigned char units[DT_UNITS_SIZE];
  local_units(local, 0, units);
  dtpack(value, qualifier, units, 1);
  return 0;
}

time_t rutccurrent(void) { return os_clock->now(); }

/*
** DBTODAY, a YEAR TO SECOND text, becomes the offset from now to it. A text
** that does not parse, is empty, or lies too far away for DAY(9) TO SECOND
** leaves no offset. The being-read flag keeps the current-time calls made
** here from coming back.
*/
void getdbtoday(gen_tcb *block) {
  block->flags &= ~dbtoday_flags;
  const char *text = ggetenv("DBTODAY");
  if (text != nullptr) {
    block->flags |= gen_flag_dbtoday_reading;
    dtime_t when;
    when.dt_qual = qual_dbtoday;
    if (dtcvasc(text, &when) == 0 && when.dt_dec.sign != -1) {
      dtime_t now;
      now.dt_qual = qual_dbtoday;
      dtcurrent(&now);
      block->dbtoday_offset.in_qual = qual_offset;
      if (dtsub(&when, &now, &block->dbtoday_offset) == 0 &&
          block->dbtoday_offset.in_dec.sign != -1)
        block->flags |= gen_flag_dbtoday_active;
    }
    block->flags &= ~gen_flag_dbtoday_reading;
  }
  block->flags |= gen_flag_dbtoday_examined;
}

/* Today's date with the DBTODAY offset, as the DBTODAY date and today
** words; NULL without a control block. */
gen_tcb *initdbtoday(void) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return nullptr;
  dtime_t today;
  today.dt_qual = dt_qual_year_to_day;
  dtcurrent(&today);
  char text[32] = "";
  dttofmtasc(&today, text, 12, "%iY/%m/%d");
  rdefmtdate(&block->dbtoday_date, "yyyy/mm/dd", text);
  block->today = block->dbtoday_date;
  return block;
}

}  // extern "C"
