/*
** value_types.h: the value records of the SQL types that the client
** environment holds as well as the value library: DECIMAL (`dec_t`), and
** DATETIME and INTERVAL (`dtime_t`, `intrvl_t`), whose digits are a
** DECIMAL. In-memory records in host order; their stored and wire forms
** are written field by field by the value library, never copied whole.
**
** Header-only, C linkage; the value library owns the operations.
*/
#ifndef DVZ_GENLIB_VALUE_TYPES_H
#define DVZ_GENLIB_VALUE_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Base-100 digit pairs of a DECIMAL: at most 16 (32 decimal digits). */
#define DECSIZE 16

/* A DECIMAL or MONEY value: 0.d1 d2 ... dn times 100 to the `exponent`.
** `sign` 1 positive, 0 negative, -1 NULL. */
typedef struct dec_t {
  int16_t exponent;
  int16_t sign;
  int16_t npairs;
  uint8_t pairs[DECSIZE];
} dec_t;

/* A DATETIME: qualifier (digits << 8 | start << 4 | end) and the value,
** whose decimal point lies after the SECOND unit. */
typedef struct dtime_t {
  uint16_t dt_qual;
  dec_t dt_dec;
} dtime_t;

/* An INTERVAL, laid out as a DATETIME; a negative one has sign 0. */
typedef struct intrvl_t {
  uint16_t in_qual;
  dec_t in_dec;
} intrvl_t;

#ifdef __cplusplus
}
#endif

#endif
