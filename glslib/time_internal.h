/*
** time_internal.h: what the time formatter and the time parser share: the
** workers over the working form alt_tm and the conversions between it and
** a caller's gl_time_rec. Not part of the library's interface.
*/
#ifndef DVZ_GLSLIB_TIME_INTERNAL_H
#define DVZ_GLSLIB_TIME_INTERNAL_H

#include "gl_calendar.h"
#include "gl_time.h"

extern "C" {

/* The multibyte formatter over an alt_tm. With max_chars or max_bytes
** non-NULL it writes nothing, adds to each given counter the largest
** count of characters (bytes) the format can produce, and returns 0.
** Otherwise as gl_mbsftime. */
int gl_mbsftime1(gl_locale *loc, unsigned char *buffer, int size, const unsigned char *format,
                 alt_tm *time, int *max_chars, int *max_bytes);
/* The wide formatter over an alt_tm, counters as above. Characters written
** without the terminator, 0 on failure. */
int gl_wcsftime1(gl_locale *loc, gl_wchar *buffer, int size, const gl_wchar *format, alt_tm *time,
                 int *max_chars, int *max_bytes);

}  // extern "C"

namespace glslib {

/* A gl_time_rec widened with the given calendar month, and back. */
alt_tm tm_to_alt_tm(const gl_time_rec &time, int calendar_month);
gl_time_rec alt_tm_to_tm(const alt_tm &time);

/* The size-only run of the formatter: the largest count of bytes
** (want_bytes true) or characters that format can produce for a zeroed
** time, or -1 when the formatter fails. */
int time_format_size(gl_locale *loc, const gl_wchar *format, bool want_bytes);

/* Days of month (1-12) of a Gregorian year; 0 for another month. */
int gregorian_month_length(int month, int year);

/* The day number of a Gregorian date (31 December 1899 is 0; the day
** number mod 7 is 0 on Sundays) in *day_number: 0, or -1 with error 31,
** 30 or 27 for a year outside 1..9999, a month outside 1..12 or a day
** outside its month. {0, 0, 0} gives INT32_MIN and 0. */
int get_julian(gl_locale *loc, const gl_date_rec *date, int32_t *day_number);

/* Whether an era holds the date day, month (1-12), year: start and end
** inclusive, read in the era's direction; an open end whose sign runs with
** the direction is unbounded, one against it stands for day 0 of month 0
** of year 0. */
bool era_contains(const era_record &era, int64_t day, int64_t month, int64_t year);

/* Nested locale formats (%c inside d_t_fmt ...) go at most this deep;
** deeper nesting is error 22. */
constexpr int time_nesting_limit = 8;

}  // namespace glslib

#endif
