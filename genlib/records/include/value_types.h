/*
** value_types.h: the value records of the SQL types that the client
** environment holds as well as the value library: DECIMAL (`dec_t`), and
** DATETIME and INTERVAL (`dtime_t`, `intrvl_t`), whose digits are a
** DECIMAL; INT8 (`dvz_int8_t`) and the collection and row record
** (`dvz_coll_t`). In-memory records in host order; their stored and wire forms
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

/* A 64-bit integer in sign and magnitude: `sign` 1 positive (and zero),
** -1 negative, 0 NULL (with both words 0 as this library writes it). */
typedef struct dvz_int8_t {
  uint32_t low; /* low 32 bits of the magnitude */
  uint32_t high; /* high 32 bits of the magnitude */
  int16_t sign;
} dvz_int8_t;

/* Cursors, change-log entries and type descriptions of a collection; the
** collection operations define them. */
struct dvz_coll_cursor;
struct dvz_coll_log;
struct dvz_coll_typeinfo;

/* The in-memory record of a SET, MULTISET, LIST, ROW or COLLECTION value. */
typedef struct dvz_coll_t {
  uint32_t magic; /* 0xdbdbdbdb once initialised */
  uint32_t cl_handle; /* server handle, 0 when none */
  struct dvz_coll_cursor *cl_curs; /* first open cursor */
  int32_t cl_len; /* bytes of the value with its pending changes */
  int32_t cl_cardinality;
  int16_t cl_isfixed; /* 1: every element is cl_elsize bytes */
  int32_t cl_elsize;
  uint32_t cl_flags; /* 0x4 NULL, others with the operations */
  struct dvz_coll_log *cl_lastlog;
  struct dvz_coll_log *cl_log; /* change log, sorted by row number */
  char *cl_data; /* element data */
  uint32_t cl_hashvalue;
  int32_t cl_datalen;
  int16_t cl_typed; /* non-zero: cl_typeinfo, else cl_svr_typeinfo */
  int32_t cl_typelen;
  struct dvz_coll_typeinfo *cl_svr_typeinfo;
  struct dvz_coll_typeinfo *cl_typeinfo;
  struct dvz_coll_log *cl_freelist; /* spare change-log entries */
} dvz_coll_t;

/* NULL flag of cl_flags. */
#define DVZ_COLL_NULL 0x4u

#ifdef __cplusplus
}
#endif

/* The stored and wire forms are written field by field; these sizes are
** what the type tables and the packed forms rely on. */
#ifdef __cplusplus
static_assert(sizeof(dec_t) == 22 && alignof(dec_t) == 2, "dec_t is 22 bytes aligned 2");
static_assert(sizeof(dtime_t) == 24, "dtime_t is 24 bytes");
static_assert(sizeof(intrvl_t) == 24, "intrvl_t is 24 bytes");
static_assert(sizeof(dvz_int8_t) == 12, "dvz_int8_t is 12 bytes");
#else
_Static_assert(sizeof(dec_t) == 22 && _Alignof(dec_t) == 2, "dec_t is 22 bytes aligned 2");
_Static_assert(sizeof(dtime_t) == 24, "dtime_t is 24 bytes");
_Static_assert(sizeof(intrvl_t) == 24, "intrvl_t is 24 bytes");
_Static_assert(sizeof(dvz_int8_t) == 12, "dvz_int8_t is 12 bytes");
#endif

#endif
