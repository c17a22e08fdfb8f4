/*
** gen_value.h: the typed value record `value_t` that the client library
** passes between host variables, row buffers, the expression evaluator and
** collections; its conversions into each scalar representation; and the
** writing and reading of a column's stored form.
**
** Each to* conversion clears the conversion error word (toerrno), leaves
** its error there and returns the converted value (or, where said, the
** error word). Errors: -406 no memory or no control block, -608 BYTE or
** TEXT where a scalar is needed, -1210 DATE out of range, -1213 malformed
** number text, -1214/-1215 16/32-bit overflow, -1222 SMALLFLOAT range,
** -1223 not a number, -1225 NULL into a NOT NULL column, -1226 DECIMAL
** precision, -1260 no conversion between the types, -1268 bad qualifier,
** -1279 value too long in an ANSI database, -1285 no writer or reader for
** the type code, -9602 collection kinds that do not match.
** C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_VALUE_H
#define DVZ_GENLIB_GEN_VALUE_H

#include <stdint.h>

#include "locator.h"
#include "os_stored.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bits of the type word beyond its low byte. */
#define VTYPE_NOTNULL 0x100 /* the column refuses NULL (writers test it) */
#define VTYPE_KEEPXID 0x800 /* a reader keeps vxid */
/* vflags: pad a CHAR column with zero bytes instead of blanks. */
#define VFLAG_ZEROPAD 0x20

/* The typed value; cleared to zero before it is built. */
typedef struct value_t {
  int16_t vtype; /* low byte: the SQL type code (or host type 116) */
  int16_t vind; /* 0 present, -1 NULL */
  int32_t vxid; /* extended type id */
  int16_t vprec; /* precision word, or the DATETIME/INTERVAL qualifier */
  union {
    int32_t vint; /* SMALLINT (widened), INTEGER, SERIAL, DATE */
    float vfloat; /* SMALLFLOAT */
    double vdouble; /* FLOAT */
    dec_t vdec; /* DECIMAL, MONEY; DATETIME and INTERVAL digits */
    dvz_int8_t vint8; /* INT8, SERIAL8 */
    tblob_desc_t vblob; /* BYTE, TEXT (tb_flags bit 0: NULL) */
    loc_t *vlocator; /* BYTE, TEXT built from a locator host variable */
    dvz_coll_t vcoll; /* SET, MULTISET, LIST, ROW, COLLECTION */
    struct {
      char *vptr; /* every other type: the data */
      int32_t vlen; /* its length in bytes */
      int16_t vflags; /* VFLAG_ZEROPAD */
    };
  };
} value_t;

/* ---- Scalar conversions ---------------------------------------------------------- */

int toint(value_t *v);
int32_t tolong(value_t *v);
int32_t todate(value_t *v);
int toint8(value_t *v, dvz_int8_t *result);
double todouble(value_t *v);
double todblnull(value_t *v, int *isnull);
double atodub(value_t *v);
int todecimal(value_t *v, dec_t *result);
int todecimalmon(value_t *v, dec_t *result);
int todatetime(value_t *v, dtime_t *result, int qualifier);
int tointerval(value_t *v, intrvl_t *result, int qualifier);
int tocbool(value_t *v, char *result);

/* ---- Helpers --------------------------------------------------------------------- */

int is_valid_double(double d);
/* Rounds the DECIMAL in place to fit the precision word: 0, or -1 when its
** integer digits do not fit. */
int chkprec(dec_t *value, int word);
void nullblobval(value_t *v, int type);
void nullcollval(value_t *v, int type);
/* Month, day and year of a DATETIME value. */
int todate1(value_t *v, int16_t mdy[3]);
/* The qualifier's pairs of the digits into out (never outside them);
** returns the exponent position n. */
int dtunpack_datetime(const dec_t *value, int qualifier, unsigned char *out);

/* ---- Column forms ----------------------------------------------------------------- */

int rvaldata(value_t *v, char *bytes, int type, int length);
int rdataval(const char *bytes, int type, int length, value_t *v);

/* ---- Opaque scalar form (UDTVAR, UDTFIXED, LVARCHAR, BOOLEAN) ---------------------- */

/* Writes the NULL flag byte (1 for NULL), BE32 length and the bytes (none
** for NULL); destination holds 5 + length bytes. */
void studt(char *destination, const char *bytes, int length, int isnull);
/* Reads the form at source (length: the column's length word, the bytes it
** holds after the 5-byte head) into v by v's type: 40 and 41 pointer and
** length, 43 the same with vprec cleared, 45 pointer and length 1;
** indicator -1 when the flag byte has bit 0. A stored length beyond the
** column is -1815, nothing read; else 0. */
int ldudt(const char *source, int length, value_t *v);

#ifdef __cplusplus
}
#endif

#endif
