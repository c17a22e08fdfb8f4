/*
** sqli_compat7.h: the version-7 records of older callers (`sqlvar7`,
** `sqlda7`, `value7`, `hostvar7` and the cursor block `sqli_cursor7`) and
** the conversions between them and the current records. A version-7
** cursor block wraps a current cursor record; `curhashtab` finds the
** record from the block's address.
**
** The records follow the host's natural layout of their fields; they
** never leave the process. C linkage; called by older-layout callers.
*/
#ifndef DVZ_SQLI_COMPAT7_H
#define DVZ_SQLI_COMPAT7_H

#include <stdint.h>

#include "os_stored.h"
#include "sqli_descriptors.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sqli_tcb;
struct value_t;

/* A version-7 host variable or column. */
typedef struct sqlvar7 {
  int16_t sqltype;
  int16_t sqllen;
  char *sqldata;
  int16_t *sqlind;
  char *sqlname;
  char *sqlformat;
  int16_t sqlitype;
  int16_t sqlilen;
  char *sqlidata;
} sqlvar7;

/* A version-7 descriptor. */
typedef struct sqlda7 {
  int16_t sqld;
  sqlvar7 *sqlvar;
  char desc_name[20];
  int16_t desc_occ;
  void *reserved;
} sqlda7;

/* A version-7 typed value: type, indicator, precision word, the value. */
typedef struct value7 {
  int16_t v_type;
  int16_t v_ind;
  int16_t v_prec;
  union {
    char *v_charp; /* CHAR, VARCHAR, NCHAR, NVARCHAR */
    int32_t v_int; /* SMALLINT, INTEGER, SERIAL, DATE */
    float v_float; /* SMALLFLOAT */
    double v_double; /* FLOAT */
    dec_t v_dec; /* DECIMAL, MONEY, DATETIME and INTERVAL digits */
    tblob_desc_t v_blob; /* BYTE, TEXT */
  } v;
} value7;

/* A version-7 host-variable list entry; a list ends at an entry whose
** length and data are both 0. */
typedef struct hostvar7 {
  int16_t type;
  int16_t len;
  char *data;
  int16_t *ind;
} hostvar7;

/* The version-7 cursor block: the fields of a cursor record in the older
** order (flags split over two words). */
typedef struct sqli_cursor7 {
  void *link;
  int16_t stmt_type;
  int16_t stmt_id;
  int16_t flags; /* the record's low 16 flag bits */
  int16_t ncols;
  int16_t nin;
  int16_t nout;
  int16_t nbuffered;
  int16_t rowsize;
  int16_t bufsize;
  sqlvar_struct *inlist;
  sqlvar_struct *outlist;
  char **stmt_text;
  void *coldesc;
  char *colname_pool;
  char *buffer;
  char *bufpos;
  char *name;
  void *owned_block; /* cleared with the description */
  int32_t first_row;
  int32_t last_row;
  char *conv_colname_pool;
  int16_t deferred_open;
  char *saved_descname;
  void *saved_sqlda;
  int16_t flags2; /* 1, 2, 4, 8, 16, 0x100: record flags 0x100000, 0x200000,
                     0x10000, 0x20000, 0x40000, 0x80000 */
} sqli_cursor7;

/* Entries of curhashtab, the table of version-7 blocks (0: no table). */
extern int32_t cur_total;

/* The version-7 block of the record of handle, made and registered on
** first use, with the record copied into it; null for a null handle or
** when memory is short (-406 recorded). */
sqli_cursor7 *getcur7fr9(void *handle);
/* The handle registered for block (*is_new 0), or a new zeroed temporary
** handle area (*is_new 1); the block is copied into its record. Null when
** memory is short (-406 recorded). */
void *getcur9fr7(sqli_cursor7 *block, int *is_new);
/* Copies the record of handle back into block unless the record was
** removed meanwhile (runtime flag 0x20); frees a temporary area when
** free_area is non-zero; clears runtime flag 0x20. */
void updatecur7(sqli_cursor7 *block, void *handle, int free_area, struct sqli_tcb *tcb);

/* A current-layout copy of count version-7 entries, marked made by the
** runtime and kept at *slot. Null for no entries or when memory is short
** (-406 recorded). */
sqlvar_struct *getvar9fr7(int count, const sqlvar7 *vars, sqlvar_struct **slot);
/* A current-layout copy of da (its entries through getvar9fr7), or null
** for null or when memory is short. */
sqlda *getda9fr7(const sqlda7 *da, sqlvar_struct **slot);
/* count current-layout values from version-7 ones (freed by the caller),
** or null when memory is short. */
struct value_t *getval9fr7(int count, const value7 *values);
/* Copies count current-layout values back into version-7 ones. */
void copyval9to7(int count, const struct value_t *values, value7 *out);
/* Copies copy back into da when copy_back is non-zero, frees copy (its
** entry array unless a cursor uses it) and clears *slot. */
void updateda7(sqlda7 *da, sqlda *copy, int copy_back, sqlvar_struct **slot);
/* Frees a runtime-made entry array; the one at *slot only loses its
** in-use mark. */
void freesqlvar(sqlvar_struct *vars, sqlvar_struct **slot);
/* A runtime-made current-layout array of a version-7 host-variable list
** (the ending entry copied too); *count gets the entries before it. Null
** when memory is short (-406 recorded). */
sqlvar_struct *copyhvar7to9(const hostvar7 *list, int *count);

#ifdef __cplusplus
}
#endif

#endif
