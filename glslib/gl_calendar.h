/*
** gl_calendar.h: the calendar table, the date conversions between the
** Gregorian calendar and a locale's own, and the name-lookup trees of the
** locale library; not part of its interface (the time formatter and parser
** inside the library are their callers).
**
** Dates travel as alt_tm records: a broken-down time with the calendar
** month beside the month number. The conversions set no error number: they
** answer 0, or -1 with the output zeroed (unless a function says
** otherwise).
**
** The calendar table maps a locale file's calendar line to its id (the
** TIME reader) and an id back to its name (langinfo item 73). The trees
** let the time parser recognise day, month, era and am/pm names and
** alternative digits at the start of a text; the TIME initialisation of
** the loader builds them and the TIME category frees them. C linkage: the
** names are the library's own.
*/
#ifndef DVZ_GLSLIB_GL_CALENDAR_H
#define DVZ_GLSLIB_GL_CALENDAR_H

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Calendar table, ended by a row of zeros. Names keep their newline. */
typedef struct gl_calendar_name {
  const char *name; /* "gregorian\n" ... */
  const gl_wchar *wc_name; /* the same widened, newline included */
  int32_t id;
} gl_calendar_name;
extern const gl_calendar_name gls_canned_calendars[];

/* The calendar names widened character by character, newline included,
** ended by 0: "gregorian\n", "hebrew\n", "islamic\n", "arabic\n". */
extern const gl_wchar _gl_gregorian[];
extern const gl_wchar _gl_hebrew[];
extern const gl_wchar _gl_islamic[];
extern const gl_wchar _gl_arabic[];

/* A broken-down time in the working form of the time layer: the words of
** gl_time_rec with the calendar month (the index into the locale's month
** names) after the month number. For the Gregorian and Islamic calendars
** the two are equal; a Hebrew month number runs 0..11 (0..12 in a leap
** year) from Tishri, its calendar month indexes fourteen names (Tishri 0 ..
** Elul 11, Adar I 12, Adar II 13). */
typedef struct alt_tm {
  int32_t tm_fraction; /* microseconds */
  int32_t tm_sec;
  int32_t tm_min;
  int32_t tm_hour;
  int32_t tm_mday;
  int32_t tm_mon; /* month number, 0 = first month of the year */
  int32_t tm_cal_mon; /* calendar month */
  int32_t tm_year; /* year - 1900 */
  int32_t tm_wday; /* 0 = Sunday */
  int32_t tm_yday; /* 0 = first day of the year */
  int32_t tm_isdst;
  int32_t tm_spare1;
  int32_t tm_spare2;
} alt_tm;

/* Gregorian month lengths of a common year, January first. */
extern const int32_t _gl_greg_month_length[12];

/* Lengths of the 30 years of the tabular Islamic cycle (10631 days). */
extern const int32_t cycle_year_length[30];

/* Convert between the Gregorian calendar and the record's calendar:
** Gregorian copies, Hebrew and Islamic convert, any other calendar (and a
** NULL record) fails. 0 or -1. */
int gl_cal_gregorian_to_local(gl_locale *loc, const alt_tm *gregorian, alt_tm *local);
int gl_cal_local_to_gregorian(gl_locale *loc, const alt_tm *local, alt_tm *gregorian);

/* Hebrew dates: Gregorian 1 January 1 to 23 February 10000; back from 18
** Tevet 3761 to the end of Hebrew year 14213. A Hebrew month number of -1
** is derived from the calendar month; with both -1 the conversion fails
** without zeroing its output. 0 or -1. */
int gl_cal_gregorian_to_hebrew(const alt_tm *gregorian, alt_tm *hebrew);
int gl_cal_hebrew_to_gregorian(const alt_tm *hebrew, alt_tm *gregorian);

/* Day number of the first day of Hebrew year n + 3744 (the day numbers of
** the Gregorian-to-Hebrew conversion). */
int64_t hebrew_size_in_days(int64_t n);

/* Tabular Islamic dates: Gregorian 18 July 622 (1 Muharram 1) to 20
** October 10323; back from Islamic years 1 to 9999. A month number of -1
** is taken from the calendar month; with both -1 the conversion fails
** without zeroing its output. 0 or -1. */
int gl_cal_gregorian_to_islamic(const alt_tm *gregorian, alt_tm *islamic);
int gl_cal_islamic_to_gregorian(const alt_tm *islamic, alt_tm *gregorian);

/* Day of the week (0 = Sunday) of an Islamic date, month 0..11. */
int islamic_weekday(int day, int month, int year);

/* The fixed century the century rules use for the record's calendar: 57
** Hebrew, 14 Islamic, 0 for every other calendar. */
int gl_alt_getcentury(gl_locale *loc);

/* Proleptic Gregorian day of the week (0 = Sunday) and day of the year
** (from 0) of day, month 0..11, full year; -1 for a month outside 0..11. */
int _gl_gregorian_weekday(int day, int month, int year);
int _gl_gregorian_yearday(int day, int month, int year);

/* Name trees, wide (one level per lower-cased character) and byte-keyed
** (one level per byte of a lower-cased character): insert a multibyte name
** with its index (0, or -1 with error 3, 1 or 2); find the shortest name
** that begins text (0 with *length characters, or bytes for the byte-keyed
** tree, and *index; -1 when none); free every node. */
int _gl_cache_wc_string(gl_locale *loc, name_tree_node **tree, const char *name, int index);
int _gl_validate_wc_string(gl_locale *loc, const name_tree_node *tree, const gl_wchar *text,
                           int *length, int *index);
void _gl_free_wc_cache(gl_locale *loc, name_tree_node *tree);
int _gl_cache_mb_string(gl_locale *loc, name_tree_node **tree, const char *name, int index);
int _gl_validate_mb_string(gl_locale *loc, const name_tree_node *tree, const unsigned char *text,
                           int *length, int *index);
void _gl_free_mb_cache(gl_locale *loc, name_tree_node *tree);

#ifdef __cplusplus
}

#include <cstring>

/* What the conversions share. */
namespace glslib::calendar {

/* A conversion's output before its date words are set: the fraction,
** second and minute, the daylight flag and the spares of its input. */
inline alt_tm carried_words(const alt_tm &in) {
  alt_tm out {};
  out.tm_fraction = in.tm_fraction;
  out.tm_sec = in.tm_sec;
  out.tm_min = in.tm_min;
  out.tm_isdst = in.tm_isdst;
  out.tm_spare1 = in.tm_spare1;
  out.tm_spare2 = in.tm_spare2;
  return out;
}

inline int fail_zeroed(alt_tm *out) {
  std::memset(out, 0, sizeof *out);
  return -1;
}

/* Whether date 1 comes before date 2 (year, month, day in any one calendar). */
inline bool date_before(int64_t y1, int64_t m1, int64_t d1, int64_t y2, int64_t m2, int64_t d2) {
  if (y1 != y2) return y1 < y2;
  if (m1 != m2) return m1 < m2;
  return d1 < d2;
}

inline bool gregorian_leap_year(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace glslib::calendar
#endif

#endif
