/*
** gen_dectext.h: DECIMAL text and floating-point conversions, the digit
** strings shared by the text writers, and the number-text services they
** rest on (decimal-point translation, text to double, currency symbol
** lengths), with the per-process switches DVZ_USE_PREC_16 and USE_DTENV.
**
** Text follows the numeric conventions of the current locale environment
** (os_lconv.h), loaded on first use. Errors are returned as negative
** numbers: -406 no memory, -1200/-1201 overflow/underflow, -1213 malformed
** text, -1223 not a number, -1273 buffer too small. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_DECTEXT_H
#define DVZ_GENLIB_GEN_DECTEXT_H

#include <stdint.h>

#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Text and DECIMAL ------------------------------------------------------- */

/* length bytes of text to DECIMAL: 0, -1213, -406, a locale
** initialisation error, -1200 or -1201; blanks only give NULL. */
int deccvasc(const char *text, int length, dec_t *result);
/* value into exactly length bytes, blank-filled and not terminated, with
** places decimals (-1: the value's own); 0, -1 (field of "*") or a locale
** initialisation error. */
int dectoasc(const dec_t *value, char *buffer, int length, int places);
/* dectoasc for a converted float or double (display text). */
int dbltoasc(const dec_t *value, char *buffer, int length, int places);
/* Exponential text for a value with decimal-point position point; 0, or 1
** when the field is too short. */
int dectoexp(const dec_t *value, char *buffer, int length, int point, int negative);

/* ---- Digit strings ---------------------------------------------------------- */

/* The digit string of value (mode 0 significant digits, 1 digits after
** the point, 2 the text writers'); the shared buffer, valid until the
** next call, or NULL when it cannot be allocated. */
char *deccvt(const dec_t *value, int ndigit, int *point, int *negative, int mode);
char *dececvt(const dec_t *value, int ndigit, int *point, int *negative);
char *decfcvt(const dec_t *value, int ndigit, int *point, int *negative);
/* The same strings copied into buffer (size bytes): 0, -406 (no general
** control block) or -1273 (no memory, no buffer, or too small). */
int dvz_deccvt(const dec_t *value, int ndigit, int *point, int *negative, int mode, char *buffer,
               int size);
int dvz_dececvt(const dec_t *value, int ndigit, int *point, int *negative, char *buffer, int size);
int dvz_decfcvt(const dec_t *value, int ndigit, int *point, int *negative, char *buffer, int size);

/* ---- Floating point ---------------------------------------------------------- */

/* NULL gives eight (four) 0xFF bytes; otherwise rstod's result. */
int dectodbl(const dec_t *value, double *result);
int dectoflt(const dec_t *value, float *result);
/* 17 (9) significant digits, 16 (8) with DVZ_USE_PREC_16=1; 0, -1223 for
** NaN or infinity, or the normaliser's error. */
int deccvdbl(double value, dec_t *result);
int deccvflt(double value, dec_t *result);
/* value with digits significant digits, correctly rounded. */
int deccvfd(double value, dec_t *result, int digits);
/* Non-zero when DVZ_USE_PREC_16 is exactly "1" (read once per process). */
int get_useprec16(void);

/* ---- Locale number formats ------------------------------------------------------ */

/* 1 floating directive, 2 integer, 0 other or none, -1 two directives. */
int get_num_fmt_type(const char *format);
/* Text to DECIMAL and back through an optional locale-library format;
** 0, or -1 with the locale library's error number set. */
int dvz_gl_convert_number(dec_t *result, const char *text, const char *format);
int dvz_gl_format_number(char *buffer, int size, const dec_t *value, const char *format);

/* ---- Helpers ---------------------------------------------------------------------- */

/* ASCII digits to base-100 digits (at most 32 positions, starting at 1
** when odd); the number of base-100 digits written. */
int dec2to1(const char *ascii, uint8_t *digits, int odd);
/* count base-100 digits to ASCII and a terminator; the terminator's address. */
char *dec1to2(const uint8_t *digits, int count, char *ascii);
/* Optional sign and decimal digits (no overflow check); the address after them. */
const char *decstoi(const char *text, int *value);
/* Hexadecimal digits into 32 bits (no overflow check); the address after them. */
const char *decxtoi(const char *text, int32_t *value);
/* 0 when the integer digits of text follow the grouping, else -1. */
int chk_if_thous_sep_valid(const char *text);

/* ---- Number text ---------------------------------------------------------------- */

/* Byte lengths of the front and back currency symbols. */
int rfrontlen(void);
int rbacklen(void);
/* Copies text (at most max bytes of input) replacing from by to and
** dropping thousands separators; 0 or -1273. */
int gdecimalpoint(const char *text, const char *from, int from_length, const char *to,
                  int to_length, char *out, int max);
/* Text to double, through format when given; 0, -1213 or a locale error.
** Blanks only give the NULL double (eight 0xFF bytes). */
int dvz_gl_convert_double(double *result, const char *text, const char *format);
/* dvz_gl_convert_double(result, text, "%e"). */
int rstod(const char *text, double *result);
/* A second decimal-text parser: 0, -1213, -1216 (exponent), -1223
** (exponent beyond 308); blanks only give the NULL double. */
int rstod_pload(const char *text, double *result);
/* Decimal text to 16 bits (in an int) or 32 bits: 0, -1213, -1214, -1215;
** blanks only give -32768 or 0x80000000. */
int rstoi(const char *text, int *result);
int rstol(const char *text, int32_t *result);

/* ---- MONEY text and the decimal point of formatted output ----------------------- */

/* Front symbol, text with the monetary decimal point, back symbol; 0. */
int rdecmon(const char *text, char *out);
/* At most length bytes of MONEY text to terminated decimal text in out
** (length + 1 bytes); the address where reading stopped. */
const char *rmondec(const char *text, int length, char *out);
/* "." of formatted output to the decimal point in force, in place (size:
** the room for the text); 0, -406 or -1273. */
int rdecstr(char *text, int size, int keep);
/* The text with the decimal point in force made "."; 0 or -1273. */
int gDecstrtoANSI(const char *text, char *out, int max);

/* ---- Double text and locale formats ----------------------------------------------- */

/* Text of a double in size bytes; its start, or NULL with the error in
** toerrno. */
char *_gftoasc(double value, char *buffer, int size);
/* The same for a double (is_double 1) or a widened float (0); the buffer
** or NULL. */
char *_gnftoasc(double value, char *buffer, int size, int is_double);
/* Double to text through an optional format: 0, -415, -1207, -1273 or a
** locale error. */
int dvz_gl_format_double(char *buffer, int size, double value, const char *format);
/* 0 when format holds exactly one floating directive, else -1. */
int chk_double_fmt(const char *format);
/* 0 when format holds at most one directive, -1 for two or more. */
int check_mon_fmt(const char *format);
/* MONEY text to DECIMAL and back through an optional format; 0, or -1
** with the locale library's error number set (9, 14, 22). */
int dvz_gl_convert_money(dec_t *result, const char *text, const char *format);
int dvz_gl_format_money(char *buffer, int size, const dec_t *value, const char *format);

/* ---- Date and DATETIME formats in force ------------------------------------------- */

/* The current environment's date format; field order and era kind are
** filled in DBDATE style only. 0 or -1212 when there is no format. */
int gls_fmtstr(char **format, int32_t *field_order, int32_t *era_kind);
/* Non-zero when USE_DTENV is exactly "1" (read once per process). */
int get_usedtenv(void);
/* Display width of a DATETIME in the format in force: the formatter's
** largest expansion of it; 0 on any failure. */
int _dtimedigits(void);

#ifdef __cplusplus
}
#endif

#endif
