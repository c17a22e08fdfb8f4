/*
** gen_int8.h: INT8 and SERIAL8 values (`dvz_int8_t`, sign and magnitude):
** checked and unchecked arithmetic, comparison, conversions to and from
** 16- and 32-bit integers, text in base 10 and 16, DECIMAL, double and
** float, the 10-byte stored form and the SERIAL8 increment.
**
** Every operation works on caller memory, writes its result only on
** success (unless said) and returns 0 or a negative error: -1284 overflow,
** -1214 16-bit target, -1202 division by zero, -1213 malformed text, -1207
** text longer than the field, -1222 outside the float range, -1223 NaN or
** infinity, -647 remainder by zero. NULL (sign 0) is not an error except
** where said. "long" here is 32 bits. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_INT8_H
#define DVZ_GENLIB_GEN_INT8_H

#include <stdint.h>

#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct value_t;

/* Bytes of the stored form: BE16 sign, BE32 low word, BE32 high word. */
#define INT8_STORED_SIZE 10

extern const dvz_int8_t const_int8zero;
extern const dvz_int8_t const_int8one;

/* ---- Arithmetic and comparison ------------------------------------------------- */

/* r = a op b; a NULL operand gives a NULL r; -1284 on overflow. */
int dvz_int8add(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r);
int dvz_int8sub(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r);
int dvz_int8mul(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r);
/* The same; the 63-bit check only when check is non-zero (64 bits always). */
int gint8add(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r, int check);
int gint8sub(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r, int check);
int gint8mul(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *r, int check);
/* q = a / b truncated toward zero; -1202 when b is zero. */
int dvz_int8div(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *q);
/* Quotient and, when r is not null, remainder (the dividend's sign). */
int gint8div(const dvz_int8_t *a, const dvz_int8_t *b, dvz_int8_t *q, dvz_int8_t *r);
/* -1, 0, 1; -2 when either is NULL. */
int dvz_int8cmp(const dvz_int8_t *a, const dvz_int8_t *b);
/* As dvz_int8cmp with NULL lowest: both NULL 0, a NULL -1, b NULL 1. */
int dvz_int8cmp_det(const dvz_int8_t *a, const dvz_int8_t *b);
/* 1 when v is not NULL and zero. */
int dvz_int8iszero(const dvz_int8_t *v);
void dvz_int8copy(const dvz_int8_t *from, dvz_int8_t *to);
/* r = v + 1, wrapping to 1 at the top of the range; NULL v: NULL r, -2. */
int serial8inc(const dvz_int8_t *v, dvz_int8_t *r);

/* ---- Integers ---------------------------------------------------------------------- */

/* 0x80000000 (-32768 for the 16-bit form) gives NULL. */
int dvz_int8cvlong(int32_t value, dvz_int8_t *v);
int int8cvdvz_off_t(int32_t offset, dvz_int8_t *v);
int dvz_int8cvint(int value, dvz_int8_t *v);
/* To 32 bits: NULL gives 0x80000000; a magnitude of 2^31 or more -1284. */
int dvz_int8tolong(const dvz_int8_t *v, int32_t *result);
int int8todvz_off_t(const dvz_int8_t *v, int32_t *result);
int dvz_int8toint4(const dvz_int8_t *v, int32_t *result);
/* To 16 bits: NULL gives -32768; outside -32767..32767 -1214. */
int dvz_int8toint(const dvz_int8_t *v, int *result);
int dvz_int8toint2(const dvz_int8_t *v, int16_t *result);
/* The high or low magnitude word; 0x80000000 for NULL. */
int dvz_int8high(const dvz_int8_t *v, int32_t *word);
int dvz_int8low(const dvz_int8_t *v, int32_t *word);

/* ---- Text ---------------------------------------------------------------------------- */

/* length bytes of text (base 10, or base 16 after "0x"); only those bytes
** are read. Empty or blank text gives NULL. 0, -1213 or -1284. */
int dvz_int8cvasc(const char *text, int length, dvz_int8_t *v);
/* Text in base 10 or 16 into buffer (size + 1 bytes: the text and its
** terminator; size 0 copies nothing). NULL writes size blanks and no
** terminator. A text longer than size fills size bytes with "*": -1207. */
int int8tostr(const dvz_int8_t *v, char *buffer, int size, int base);
/* int8tostr, then blanks up to size bytes for a non-NULL value. */
int int8toasc(const dvz_int8_t *v, char *buffer, int size, int base);
int dvz_int8tostr(const dvz_int8_t *v, char *buffer, int size);
int dvz_int8toasc(const dvz_int8_t *v, char *buffer, int size);

/* ---- DECIMAL and floating point ------------------------------------------------------ */

/* Fraction truncated; the caller's DECIMAL is left unchanged. */
int dvz_int8cvdec(const dec_t *value, dvz_int8_t *v);
int dvz_int8todec(const dvz_int8_t *v, dec_t *value);
int deccvint8(const dvz_int8_t *v, dec_t *value);
/* Truncated toward zero; -1223 for NaN or infinity; the NULL pattern
** (all 0xFF bytes) gives NULL. */
int dvz_int8cvdbl(double value, dvz_int8_t *v);
int dvz_int8cvflt(float value, dvz_int8_t *v);
/* NULL gives the all-0xFF pattern; the float form -1222 outside its range. */
int dvz_int8todbl(const dvz_int8_t *v, double *result);
int dvz_int8toflt(const dvz_int8_t *v, float *result);

/* ---- Stored form and typed values ----------------------------------------------------- */

void stint8(const dvz_int8_t *v, void *bytes);
void ldint8(const void *bytes, dvz_int8_t *v);
/* r = a mod b of two typed values through toint8, as an INT8 value (type
** 17) with the dividend's sign; -647 when b is zero; NULL gives NULL. */
int exmod(struct value_t *a, struct value_t *b, struct value_t *r);

#ifdef __cplusplus
}
#endif

#endif
