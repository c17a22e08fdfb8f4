/*
** gl_numbers.h: numbers in a locale's conventions.
**
** Text to number and number to text by the NUMERIC (or MONETARY)
** conventions of a locale record: signs, decimal point, thousands
** separators and grouping; a printf-like formatter and a scanf-like parser
** of numbers; and the largest expansion of a date/time format. Failures
** are stored in the record's error word (gl_errors.h).
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_NUMBERS_H
#define DVZ_GLSLIB_GL_NUMBERS_H

#include <stdint.h>

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Text to number ------------------------------------------------------ */

/* Signed / unsigned 32-bit value of wide text in base (0, 2-36), *end (may
** be NULL) set to the first character not used. With grouping the
** NUMERIC separators must stand exactly at the group boundaries. Failure:
** 0x7fffffff with error 7 (grouping, a number of more than 256
** characters) or the range limit with error 6 (overflow). */
int32_t gl_wcstol(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int base, int grouping);
uint32_t gl_wcstoul(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int base, int grouping);
/* The same on multibyte text (*end a byte position); an empty text is error
** 6; an overflow gives 0x7fffffff (signed) or 0xffffffff (unsigned). */
int32_t gl_mbstol(gl_locale *loc, const unsigned char *s, unsigned char **end, int base,
                  int grouping);
uint32_t gl_mbstoul(gl_locale *loc, const unsigned char *s, unsigned char **end, int base,
                    int grouping);
/* Double of wide text; which 0 NUMERIC, 1 MONETARY conventions. Nothing
** converted: error 46; a grouping that does not fit: 0.0, *end = wcs,
** error 7; overflow: error 6. */
double gl_wcstod(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int grouping);
double gl_wcstod_num_mon(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int grouping,
                         int which);
/* Multibyte form; an empty text or an overflow gives 2147483647.0 and 6. */
double gl_mbstod(gl_locale *loc, const unsigned char *s, unsigned char **end, int grouping);

/* ---- Number to text -------------------------------------------------------- */

/* value in base 2-36 (else an empty text) into out, which holds size
** characters with the terminator, with the NUMERIC separators when
** grouping; an empty text when it does not fit. The characters written. */
int gl_ltowcs(gl_locale *loc, gl_wchar *out, int size, int32_t value, int base, int grouping);
int gl_ultowcs(gl_locale *loc, gl_wchar *out, int size, uint32_t value, int base, int grouping);
/* The same as multibyte text in out of size bytes (at most 256 used). */
int gl_ltombs(gl_locale *loc, unsigned char *out, int size, int32_t value, int base, int grouping);
int gl_ultombs(gl_locale *loc, unsigned char *out, int size, uint32_t value, int base,
               int grouping);

/* ---- Pieces of number text ------------------------------------------------- */

/* Characters of the thousands separator / decimal point (which 0 NUMERIC,
** 1 MONETARY, other 0) standing at wcs, else 0; direction 1 compares
** backward, wcs being the separator's last character. */
int gl_iswgrpsymb(gl_locale *loc, const gl_wchar *wcs, int direction, int which);
int gl_iswcdecml(gl_locale *loc, const gl_wchar *wcs, int direction, int which);
/* 2 for "E"/"e" followed by a sign, 1 for "E"/"e" alone, else 0. */
int gl_iswcexponent(const gl_wchar *wcs);
/* Index of the decimal character ("." or ",") of an ASCII number text
** after white space, a sign and digits; -1 when none follows. */
int gl_getDecimalCharIndex(const char *text);

/* ---- Formatting and parsing --------------------------------------------------- */

/* printf-like: d i u o x X b q (int, "h" short), e E f g G (double), c s
** ("l": wide). gl_mbsfnum's out holds size bytes, the terminator
** included; gl_wcsfnum's holds size characters and then the terminator
** (size + 1). Returns what was written without the terminator, or -1
** (error word; 14 when it does not fit). */
int gl_mbsfnum(gl_locale *loc, unsigned char *out, int size, const unsigned char *format, ...);
int gl_wcsfnum(gl_locale *loc, gl_wchar *out, int size, const gl_wchar *format, ...);
/* scanf-like over the same conversions: the arguments assigned, or -1. */
int gl_mbspnum(gl_locale *loc, const unsigned char *text, const unsigned char *format, ...);
int gl_wcspnum(gl_locale *loc, const gl_wchar *text, const gl_wchar *format, ...);

/* Largest bytes / characters the time formatter writes for format (mode
** 1); -1 for another mode or when the formatter fails. */
int gl_mbsfmtexpand(gl_locale *loc, int mode, const unsigned char *format);
int gl_wcsfmtexpand(gl_locale *loc, int mode, const gl_wchar *format);

#ifdef __cplusplus
}
#endif

#endif
