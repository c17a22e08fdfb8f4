/*
** gl_time.h: dates and times in a locale's conventions.
**
** A broken-down time formatted by a strftime-like format in the TIME
** conventions of a locale record (day and month names, am/pm strings, the
** locale's date and time formats, eras, alternative digits and calendar),
** and the locale's time information: copies of its name lists, its format
** strings and its era count. Failures are stored in the record's error
** word (gl_errors.h).
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_TIME_H
#define DVZ_GLSLIB_GL_TIME_H

#include <stdint.h>

#include "gl_host.h"
#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* gl_time_rec and gl_date_rec: gl_host.h. */

/* ---- Formatting ------------------------------------------------------------ */

/* Formats time by the multibyte format into buffer, which holds size bytes
** with the terminator. The bytes written without the terminator; 0 on
** failure (error word set) or for an empty result; -1 when the format is
** no valid multibyte text. time is not changed. */
int gl_mbsftime(gl_locale *loc, unsigned char *buffer, int size, const unsigned char *format,
                gl_time_rec *time);
/* The same with a wide format into a wide buffer of size characters. */
int gl_wcsftime(gl_locale *loc, gl_wchar *buffer, int size, const gl_wchar *format,
                gl_time_rec *time);

/* ---- Parsing and centuries ------------------------------------------------- */

/* Reads text by the multibyte format into time, which holds the caller's
** starting values: fields the text does not give keep them. A two-digit
** year is placed by the century rule letter rule ('R' this century, 'P'
** past, 'F' future, 'C' closest; any other letter as 'R'). Returns the
** position in text after the last character consumed, or NULL with the
** error word set and time unchanged. */
unsigned char *gl_mbsptime(gl_locale *loc, const unsigned char *text, const unsigned char *format,
                           gl_time_rec *time, int rule);
/* The same over wide text and format. */
gl_wchar *gl_wcsptime(gl_locale *loc, const gl_wchar *text, const gl_wchar *format,
                      gl_time_rec *time, int rule);
/* The same with today's date for the century rules ({0, 0, 0}: the
** current date). */
unsigned char *gl_mbsptime_internal(gl_locale *loc, const unsigned char *text,
                                    const unsigned char *format, gl_time_rec *time, int rule,
                                    const gl_date_rec *today);
gl_wchar *gl_wcsptime_internal(gl_locale *loc, const gl_wchar *text, const gl_wchar *format,
                               gl_time_rec *time, int rule, const gl_date_rec *today);

/* The century (a full year / 100) of a year of at most two digits on
** month/day (1-based; 0: today's) by the rule letter; a year above 99
** gives year / 100, a non-Gregorian calendar its fixed century. -1 with
** error 27, 30 or 31 when a day number cannot be formed. */
int gl_getcentury(gl_locale *loc, int month, int day, int year, int rule);
/* The same with today given (used only when all three are non-zero). */
int gl_getcentury_internal(gl_locale *loc, int month, int day, int year, int today_month,
                           int today_day, int today_year, int rule);

/* Makes the century rules take day/month/year as today, process-wide,
** until gl_reset_time. Note the order of the arguments. */
void gl_set_current_time(int day, int month, int year);
void gl_reset_time(void);

/* ---- Time information ------------------------------------------------------ */

/* Items of gl_mbstimeinfo. */
enum {
  GL_TIMEINFO_DAY = 1,
  GL_TIMEINFO_ABDAY = 2,
  GL_TIMEINFO_MON = 3,
  GL_TIMEINFO_ABMON = 4,
  GL_TIMEINFO_ERA_NAME = 5,
  GL_TIMEINFO_ERA_NAME2 = 6,
  GL_TIMEINFO_ALT_DIGITS = 7,
  GL_TIMEINFO_AM_PM = 8
};

/* Copies of one name list of the TIME category: 0 with *list a new array
** of *count new strings, or -1 with *list NULL and *count 0 (an unknown
** item, an empty list, memory short: error 3). Free each string and the
** array with _gl_free_ptr. */
int gl_mbstimeinfo(gl_locale *loc, int item, char ***list, int *count);

/* The multibyte format of langinfo item 0 (d_t_fmt), 61 (d_fmt), 62
** (t_fmt), 63 (t_fmt_ampm), 67 (era_d_fmt), 68 (era_d_t_fmt) or 69
** (era_t_fmt); a static empty string for any other item. Not a copy. */
const char *gl_get_ltime_fmts(gl_locale *loc, int item);

/* The number of eras of the locale; -1 for a NULL record. */
int gl_get_era_count(gl_locale *loc);

#ifdef __cplusplus
}
#endif

#endif
