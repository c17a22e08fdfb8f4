/*
** gen_date.h: the SQL DATE: a signed 32-bit day number, 0 being
** 1899-12-31 and 1 1900-01-01, valid from -693594 (0001-01-01) to 2958464
** (9999-12-31), NULL 0x80000000. Conversions to and from month, day and
** year (a triple of 16-bit words in that order, three zeros for NULL),
** leap years and weekdays, today's date, and DATE text: in the format in
** force (DBDATE, else GL_DATE, else the locale's), through a locale
** format, and through a picture such as mm/dd/yyyy.
**
** Errors: -1204 year, -1205 month, -1206 day, -1210 DATE out of range,
** -1211 memory short, -1212 no format or an invalid picture, -1218 text not
** recognised, -1237 era unusable, and the locale errors mapped as the
** functions say. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_DATE_H
#define DVZ_GENLIB_GEN_DATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The NULL DATE. */
#define DATE_NULL INT32_MIN
/* The smallest and largest valid DATE. */
#define DATE_MIN (-693594)
#define DATE_MAX 2958464

/* ---- Day numbers --------------------------------------------------------------- */

int rleapyear(int year);
/* 0 Sunday to 6 Saturday for any DATE; the NULL DATE gives 0. */
int rdayofweek(int32_t date);
int rjulmdy(int32_t date, int16_t mdy[3]);
int rmdyjul(const int16_t mdy[3], int32_t *date);
/* Today (fixed, DBTODAY-shifted or the clock's, cached 15 minutes). */
void rtoday(int32_t *date);
/* Fixes today to *date; NULL ends that. */
void rsettoday(const int32_t *date);

/* ---- Text in the format in force ----------------------------------------------- */

/* buffer: 1024 bytes. The NULL DATE writes "". */
int rdatestr(int32_t date, char *buffer);
int rstrdate(const char *text, int32_t *date);
int dvz_strdate(const char *text, int32_t *date, int century);
/* The caller's character when it is R, C, F or P, else the current rule,
** else 'R'. */
int validate_dbcentury(int caller, int current);
/* The DATE text of the month, day and year the scanner reads back. */
int rgetglsdate(int32_t date, int16_t mdy[3]);

/* ---- Pictures ------------------------------------------------------------------ */

int rdefmtdate(int32_t *date, const char *picture, const char *text);
int dvz_defmtdate(int32_t *date, const char *picture, const char *text, int century);
/* buffer: 1024 bytes. The NULL DATE writes "". */
int rfmtdate(int32_t date, const char *picture, char *buffer);
/* A picture in the locale formatter's language (allocated); mode 1 also
** gives the picture's field order and era kind. */
int fmtdate_to_gl_date(const char *picture, char **format, int32_t *era_kind, int32_t *order,
                       int mode);

/* ---- Locale formats ------------------------------------------------------------ */

int dcvfmtasc(int32_t *date, const char *format, const char *text);
/* The NULL DATE writes "" and gives 0. */
int dtofmtasc(int32_t date, const char *format, char *buffer, int size);
/* As dcvfmtasc and dtofmtasc, failing with -1 and the locale error word. */
int dvz_gl_convert_date(int32_t *date, const char *text, const char *format);
int dvz_gl_format_date(char *buffer, int size, const int32_t *date, const char *format);

/* ---- The DBDATE scanner -------------------------------------------------------- */

int scandate(int32_t *date, const int32_t order[3], int era_kind, const char *text,
             int explicit_picture);
int scanstrmdy(int32_t *date, const int32_t order[3], int era_kind, const char *text,
               int16_t mdy[3], int triple_only, int explicit_picture);
/* The numeric fast path: 0 or -1212. */
int fastscan(int32_t *date, const int32_t order[3], const char *text, int explicit_picture);

/* ---- Classic DBDATE reader (no caller in the client library) ------------- */

/* Room for dbdatefmt and for the outputs of fmtstr and getdbdate. */
#define DBDATEFMT_SIZE 32
/* The picture of DBDATE ("dd-mm-yyyy" for "DMY4-"), built by getfmt, which
** then sets initflg. */
extern char dbdatefmt[DBDATEFMT_SIZE];
extern int initflg;
/* 0 when dbdate holds one D, one M and one Y with its width 2 or 4, else -1. */
int chkfmt(const char *dbdate);
/* The separator a DBDATE character stands for ('0': none, NUL). */
int datesep(int c);
/* 1 for a trailing C1 or J1, 2 for J2, else 0. */
int search_c1(const char *dbdate);
/* Builds dbdatefmt from DBDATE (default "MDY4/"): 0 or -1212. */
int getfmt(void);
/* dbdatefmt into out (DBDATEFMT_SIZE bytes), built first when needed. */
int fmtstr(char *out);
/* A DBDATE specification from the platform's date format into out
** (DBDATEFMT_SIZE bytes): 0 or -1212. */
int getdbdate(char *out);
/* Length of a specification without its separator and era marker. */
int dbdatelen(const char *spec);

#ifdef __cplusplus
}
#endif

#endif
