/*
** gen_dtformat.h: DATETIME text through a format in the locale library's
** time directives: the caller's format, else DBTIME, else GL_DATETIME,
** else the locale's date-and-time format, else "%iY-%m-%d %H:%M:%S";
** the qualifier a format covers and the format that covers a qualifier.
**
** Errors: -1272 missing text or argument, -1273 missing or too small
** output, -1275 an invalid width, precision or FRACTION digit, -1276 a
** malformed format, -1277 text that does not match the format, -1263 a
** value out of range or text left over, -1211 memory short, -23108 the
** locale library not initialised. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_DTFORMAT_H
#define DVZ_GENLIB_GEN_DTFORMAT_H

#include "gen_errors.h"
#include "os_datetime.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The built-in DATETIME format. */
#define DT_DEFAULT_FORMAT "%iY-%m-%d %H:%M:%S"

/* Room get_fw_prec needs for a directive's "-", width and precision. */
#define DT_FW_PREC_SIZE 16

/* Text to DATETIME through format (NULL: the format in force), extended
** into value's qualifier. 0 or an error. */
int dtcvfmtasc(const char *text, const char *format, dtime_t *value);
/* dtcvfmtasc with the century rule replaced for this call only. */
int dvz_dtcvfmtasc(const char *text, const char *format, dtime_t *value, int century);
/* At most size characters and the NUL into buffer (size + 1 bytes); a
** NULL value writes "". 0 or an error. */
int dttofmtasc(const dtime_t *value, char *buffer, int size, const char *format);
int dvz_dttofmtasc(const dtime_t *value, char *buffer, int size, const char *format, int century);
/* Replaces *format (or, when NULL, the format in force) by an allocated
** format in the formatter's language; an allocated *format is freed on
** success. output: 1 for formatting, 0 for parsing. flag is carried for
** callers and changes nothing. 0 or an error. */
int validateglsfmt(char **format, int output, int flag);
/* The qualifier format covers; 0 for none, -1275, or a locale error. */
int getfmtqual(const char *format);
/* Normalises a DBTIME-style format into *out (allocated; the caller frees
** it) and its era kind (0 none, 1 J1 or J2, 2 C1). output as above; flag
** changes nothing. 0, -1272, -1275, -1276 or -1211. */
int dbtime_to_gl_date(const char *source, int output, char **out, int *era_kind, int flag);
/* Copies format with %R, %T, %D, %c, %x, %X and %r written out. Returns
** the length of the whole expansion without its NUL, as snprintf does:
** out (when not NULL and size > 0) receives at most size - 1 bytes and a
** NUL, so a caller asks with size 0 and calls again with length + 1.
** -1272 for a NULL format, -1211 memory short, -23108 without a locale. */
int expandformat(const char *format, char *out, int size);
/* p is the position after a "%": copies its "-", width and "." precision
** into buffer (DT_FW_PREC_SIZE bytes, always terminated) and returns the
** position of the directive letter; NULL when they do not fit. */
const char *get_fw_prec(const char *p, char *buffer);
/* The precision digit of a width-and-precision text, else its single
** width digit; -1 for none or two digits. */
int get_prec(const char *fw_prec);

/* As dtcvfmtasc and dttofmtasc over YEAR to the format's end unit, failing
** with -1 and the reason in the locale library's error word (22: the
** format names no valid qualifier, 41: no DATETIME can be made). */
int dvz_gl_convert_datetime(dtime_t *value, const char *text, const char *format);
int dvz_gl_format_datetime(char *buffer, int size, const dtime_t *value, const char *format);

/* INTERVAL text through a format of %Y, %m, %d, %H or %I, %M, %S and %F
** (NULL: DBTIME, else "%Y-%m-%d %H:%M:%S"), into or out of the value's
** qualifier. intofmtasc writes at most size characters and the NUL. */
int incvfmtasc(const char *text, const char *format, intrvl_t *value);
int intofmtasc(const intrvl_t *value, char *buffer, int size, const char *format);

/* A Varnholt-style picture (YYYY, MM, HH24, quoted text...) as a format
** of the formatter's language into out, size bytes with the NUL: 0, -1
** (no locale), -5853, -5854 or -5855. */
int dvz_to_gl_datetime(const char *picture, char *out, int size);

#ifdef __cplusplus
}
#endif

#endif
