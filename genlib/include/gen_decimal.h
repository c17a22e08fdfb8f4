/*
** gen_decimal.h: operations on the DECIMAL record `dec_t` (value_types.h):
** normalisation, the packed form a DECIMAL column is stored and sent in,
** comparison, rounding, precision, the four arithmetic operations and the
** 16- and 32-bit integer conversions. Text and floating-point conversions
** are in gen_dectext.h.
**
** Every operation works on caller-owned records and allocates nothing; a
** result record may be one of the operands. Errors are returned: -1200
** overflow (exponent stored as 63, or an integer target left unchanged),
** -1201 underflow (exponent stored as -64), -1202 division by zero
** (result zero). NULL operands are not errors.
*/
#ifndef DVZ_GENLIB_GEN_DECIMAL_H
#define DVZ_GENLIB_GEN_DECIMAL_H

#include <stdint.h>

#include "gen_errors.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Normalise `count` base-100 digits with `sign` (1, 0, or -1 for NULL) and
** `exponent` into `result`, rounding on a 17th digit. Returns 0, -1200 or
** -1201 (the clamped exponent is stored with the digits). */
int decload(dec_t *result, int sign, int exponent, const unsigned char *digits, int count);

/* Read a packed field of `length` bytes (at most 18 are used); first two
** bytes 0 is NULL. Returns decload's status (0 for NULL). */
int lddecimal(const unsigned char *bytes, int length, dec_t *result);

/* Write the packed form of `value` into exactly `length` bytes, rounding
** half up to length - 1 digits. */
void stdecimal(const dec_t *value, unsigned char *bytes, int length);

/* Replace a base-100 digit string by its complement 100^count - x. */
void deccomplement(unsigned char *digits, int count);

/* result = a op b. NULL in either operand gives NULL and 0; otherwise 0,
** -1200, -1201, or for decdiv by zero -1202 with a zero result. */
int decadd(const dec_t *a, const dec_t *b, dec_t *result);
int decsub(const dec_t *a, const dec_t *b, dec_t *result);
int decmul(const dec_t *a, const dec_t *b, dec_t *result);
int decdiv(const dec_t *a, const dec_t *b, dec_t *result);

/* -1, 0 or 1 as a <, == or > b; -2 when either is NULL. */
int deccmp(const dec_t *a, const dec_t *b);

/* Copy the header words and the digits in use. */
void deccopy(const dec_t *from, dec_t *to);

/* 1 when `value` is zero (no digits, exponent -64), else 0. */
int dec_is_zero(const dec_t *value);

/* Round in place to `places` decimal places, half away from zero. */
void decround(dec_t *value, int places);

/* Truncate in place to `places` decimal places. Returns the base-100
** position of the cut. */
int dectrunc(dec_t *value, int places);

/* Precision word p << 8 | s of a value (0 for NULL or zero); decprec gives
** max(p, s) << 8 | s. */
int dec2prec(const dec_t *value);
int decprec(const dec_t *value);

/* 16- and 32-bit integers to DECIMAL; -32768 and INT32_MIN give NULL.
** Return 0. */
int deccvint(int value, dec_t *result);
int deccvlong(int32_t value, dec_t *result);

/* DECIMAL to integer, dropping the fraction. NULL gives -32768 or
** INT32_MIN and 0; out of -32767..32767 (-2147483647..2147483647) gives
** -1200 and leaves the target unchanged. */
int dectoint(const dec_t *value, int *result);
int dectolong(const dec_t *value, int32_t *result);

#ifdef __cplusplus
}
#endif

#endif
