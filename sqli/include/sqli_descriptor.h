/*
** sqli_descriptor.h: named SQL descriptors: ALLOCATE, DEALLOCATE, GET and
** SET DESCRIPTOR. A named descriptor is an `sqlda` (sqli_descriptors.h)
** kept by name in the runtime context; DESCRIBE can fill it, EXECUTE,
** OPEN and FETCH can take it by name.
**
** Every call leaves its outcome in `sqlca` (sqli_status.h) and returns
** it. C linkage; called by preprocessed programs.
*/
#ifndef DVZ_SQLI_DESCRIPTOR_H
#define DVZ_SQLI_DESCRIPTOR_H

#include <stdint.h>

#include "sqli_descriptors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Item codes of GET and SET DESCRIPTOR (0 ends a GET list, and is the
** COUNT item of index -1). */
enum {
  SQLI_DI_COUNT = 0,
  SQLI_DI_TYPE = 1,
  SQLI_DI_LENGTH = 2,
  SQLI_DI_PRECISION = 3,
  SQLI_DI_NULLABLE = 4,
  SQLI_DI_INDICATOR = 5,
  SQLI_DI_DATA = 6,
  SQLI_DI_NAME = 7,
  SQLI_DI_SCALE = 8,
  SQLI_DI_ILENGTH = 9,
  SQLI_DI_ITYPE = 10,
  SQLI_DI_IDATA = 11,
  SQLI_DI_EXTYPEID = 12,
  SQLI_DI_EXTYPENAME = 13,
  SQLI_DI_EXTYPELEN = 14,
  SQLI_DI_EXTYPEOWNERLEN = 15,
  SQLI_DI_EXTYPEOWNERNAME = 16,
  SQLI_DI_SOURCETYPE = 17,
  SQLI_DI_SOURCEID = 18
};

/* The index that addresses the descriptor's entry count (COUNT). */
enum { SQLI_DESC_COUNT_INDEX = -1 };

/* One item of a GET or SET list, built by the caller. A GET list ends at
** the first item whose code is 0, a SET list at the first whose host type
** is 0. */
typedef struct sqli_desc_item {
  char *data; /* the host variable */
  int16_t code; /* SQLI_DI_* */
  int16_t type; /* host type of data */
  int32_t len; /* host length of data */
} sqli_desc_item;

/* ALLOCATE DESCRIPTOR name WITH MAX capacity. 0, or -470 (capacity below
** 1), -471 (no name), -483 (name above 128), -480 (name in use), -406. */
int32_t sqli_desc_alloc(const char *name, int32_t capacity);
/* DEALLOCATE DESCRIPTOR name: the descriptor and all it owns are freed.
** 0, or -471, -469 (not found). */
int32_t sqli_desc_dealloc(const char *name);
/* GET DESCRIPTOR name VALUE index (SQLI_DESC_COUNT_INDEX for COUNT) into
** the items' host variables; xopen non-zero translates type codes to the
** X/Open ones. 0, or -469, -472 ... -477, a conversion error. */
int32_t sqli_desc_get(int32_t version, const char *name, int32_t index, sqli_desc_item *items,
                      int32_t xopen);
/* SET DESCRIPTOR name VALUE index (SQLI_DESC_COUNT_INDEX for COUNT) from
** the items' host variables; xopen non-zero reads X/Open type codes. 0,
** or -469, -472 ... -478, -366, -650, -406, a conversion error. */
int32_t sqli_desc_set(int32_t version, const char *name, int32_t index, sqli_desc_item *items,
                      int32_t xopen);

#ifdef __cplusplus
}
#endif

#endif
