/*
** sqli_descriptors.h: the caller-visible descriptor records of the
** embedded-SQL runtime: `sqlvar`, one host variable or column, and
** `sqlda`, a counted array of them. Preprocessed programs (the probe among
** them) build these as static data and hand them to FETCH, OPEN and the
** dynamic-SQL calls; DESCRIBE makes new ones.
**
** In-memory records in host order; they never leave the process.
** Header-only, C linkage; the fields follow the runtime's published order.
*/
#ifndef DVZ_SQLI_DESCRIPTORS_H
#define DVZ_SQLI_DESCRIPTORS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One host variable or column. */
typedef struct sqlvar_struct {
  int16_t sqltype; /* low byte SQL type (0-50) or host type (100-124, 200 up); high flags */
  int32_t sqllen; /* length; DECIMAL/MONEY precision<<8|scale; DATETIME/INTERVAL qualifier */
  char *sqldata; /* the value */
  int16_t *sqlind; /* indicator, or null */
  char *sqlname; /* column name */
  char *sqlformat; /* not read by the runtime; cleared by DESCRIBE */
  int16_t sqlitype; /* indicator type; in a return-type list 1 when accepted */
  int16_t sqlilen; /* indicator length */
  char *sqlidata; /* indicator data */
  int32_t sqlxid; /* extended type id */
  char *sqltypename; /* extended type name */
  int16_t sqltypelen; /* extended type name length */
  int16_t sqlownerlen; /* extended type owner length */
  int16_t sqlsourcetype; /* source type */
  char *sqlownername; /* extended type owner name */
  int32_t sqlsourceid; /* source id */
  char *sqlilongdata; /* reserved */
  int32_t sqlflags; /* ownership and state bits (data, indicator, names, arrays) */
  void *sqlreserved; /* reserved */
} sqlvar_struct;

typedef sqlvar_struct sqlvar;

/* Bits of sqlvar_struct::sqlflags. */
enum {
  sqlvar_own_data = 0x1, /* sqldata belongs to the runtime */
  sqlvar_own_inddata = 0x2, /* sqlidata belongs to the runtime */
  sqlvar_own_name = 0x4, /* sqlname belongs to the runtime */
  sqlvar_own_owner = 0x8, /* sqlownername belongs to the runtime */
  sqlvar_own_typename = 0x10, /* sqltypename belongs to the runtime */
  sqlvar_array_runtime = 0x20, /* entry array made by the runtime (older layout) */
  sqlvar_array_in_use = 0x40, /* entry array in use by a cursor */
  sqlvar_own_lvarchar = 0x80, /* LVARCHAR buffer made by the runtime */
  sqlvar_len_noterm = 0x100 /* the host length is one more than the value's */
};

/* A descriptor: entry count, the entries, a name and a capacity. */
typedef struct sqlda {
  int16_t sqld; /* entries in use */
  sqlvar_struct *sqlvar; /* entry array */
  char desc_name[20]; /* descriptor name (named descriptors) */
  int16_t desc_occ; /* capacity of a named descriptor; 0 from DESCRIBE */
  struct sqlda *desc_next; /* reserved: cleared by every copy */
  void *reserved; /* reserved: cleared by every copy */
} sqlda;

/* The caller's record of one statement site: zero before the first run,
** kept for the life of the process. */
typedef struct sqli_stmtrec {
  int16_t stmt_type; /* 0 until run; then the type the server described */
  int16_t stmt_id; /* server statement id, -1 when none is held */
} sqli_stmtrec;

#ifdef __cplusplus
}
#endif

#endif
