/*
** gen_datetime.h: DATETIME (a point in time) and INTERVAL (a span of time):
** qualifiers, the value's unit array, text in the fixed layout, the range
** check, the qualifier's descriptive text, the century rule for two-digit
** years and the conversion to and from the locale library's time record.
**
** A qualifier is (digits << 8) | (start << 4) | end over the unit codes
** below. A value is a DECIMAL whose point lies after the SECOND unit; its
** sign -1 is NULL, 0 a negative INTERVAL. Errors are negative numbers:
** -1261 too many digits in the first field, -1262 a non-numeric character
** or a missing field, -1263 a unit out of range, -1264 extra characters,
** -1268 an invalid qualifier (also left in toerrno), -1271 a fraction-only
** value without its point, -1204/-1205/-1206/-1218 from the century rule.
** C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_DATETIME_H
#define DVZ_GENLIB_GEN_DATETIME_H

#include <stdint.h>

#include "gl_host.h"
#include "os_datetime.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Unit codes of a qualifier: FRACTION is 12 as a start unit, and
** FRACTION(n) 10 + n as an end unit. */
enum dt_unit {
  TU_YEAR = 0,
  TU_MONTH = 2,
  TU_DAY = 4,
  TU_HOUR = 6,
  TU_MINUTE = 8,
  TU_SECOND = 10,
  TU_FRAC = 12,
  TU_F1 = 11,
  TU_F2 = 12,
  TU_F3 = 13,
  TU_F4 = 14,
  TU_F5 = 15
};

/* Parts of a qualifier, and a qualifier from its parts. */
#define TU_LEN(q) (((q) >> 8) & 0xFF)
#define TU_START(q) (((q) >> 4) & 0xF)
#define TU_END(q) ((q)&0xF)
#define TU_ENCODE(len, s, e) (((len) << 8) | ((s) << 4) | (e))
/* First-field precision of a qualifier. */
#define TU_FLEN(q) (TU_START(q) - TU_END(q) + TU_LEN(q))

/* Room for the unit array of any valid qualifier (at most 13 pairs). */
#define DT_UNITS_SIZE 16

/* The century rule: 'R', 'P', 'F' or 'C'; 0 until DBCENTURY is read. */
extern char dbcentury;

/* ---- Qualifiers -------------------------------------------------------------- */

/* 0 for a valid qualifier, else -1268 (also stored in toerrno). */
int _chk_qual(int is_interval, int qualifier);

/* ---- Whole values -------------------------------------------------------------- */

int dtcvasc(const char *text, dtime_t *value);
/* dtcvasc with the century rule replaced for this call only. */
int dvz_dtcvasc(const char *text, dtime_t *value, int century);
int incvasc(const char *text, intrvl_t *value);
/* buffer: 81 bytes when GL_DATETIME may be set. */
int dttoasc(const dtime_t *value, char *buffer);
int intoasc(const intrvl_t *value, char *buffer);

/* ---- Bare values and their qualifier ----------------------------------------- */

/* The value from the unit array with the given sign: 0 or decload's error. */
int dtpack(dec_t *value, int qualifier, unsigned char *units, int sign);
/* The qualifier's pairs of the value into units (never outside them);
** returns the qualifier's exponent. */
int dtunpack(const dec_t *value, int qualifier, unsigned char *units);
/* Length of the month of a unit array, by the index of its DAY pair. */
int daysinmonth(const unsigned char *units, int day_index);
int rstrdinv(const char *text, dec_t *value, int qualifier, int is_datetime);
int rstrdtime(const char *text, dec_t *value, int qualifier);
int dvz_rstrdtime(const char *text, dec_t *value, int qualifier, int century);
int rstrinv(const char *text, dec_t *value, int qualifier);
int rdtimestr(const dec_t *value, int qualifier, char *buffer);
int rinvstr(const dec_t *value, int qualifier, char *buffer);
/* 0 or -1263. */
int chk_dtinv(const dec_t *value, int qualifier, int is_datetime);
/* 0 when the two YEAR pairs hold 1 to 9999, else -1. */
int checkyear(const unsigned char *year_pairs);
const char *rtuname(int unit);
/* The qualifier's text ("day(5) to second", a first-field precision
** above 9 as a decimal number), not terminated, at most 32 bytes; returns
** its length, 0 with toerrno -1268 for an INTERVAL mixing its classes. */
int rtudesc(int type, int qualifier, char *buffer);
int tmtodtdec(const gl_time_rec *time, dec_t *value, int qualifier);
int dtdectotm(gl_time_rec *time, const dec_t *value, int qualifier);

/* ---- Century rule --------------------------------------------------------------- */

/* Reads DBCENTURY once; returns the rule (0 while DBCENTURY is invalid). */
int getdbcentury(void);
/* Century of a two-digit year, or -1204, -1205, -1206, -1218. */
int getcentury(int month, int day, int year);

#ifdef __cplusplus
}
#endif

#endif
