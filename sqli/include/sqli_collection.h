/*
** sqli_collection.h: the public calls on collection and row host
** variables and on variable-length host values (`dvz_var_rec`). Each call
** leaves its outcome in `sqlca` (sqli_status.h). C linkage; called by
** preprocessed programs.
*/
#ifndef DVZ_SQLI_COLLECTION_H
#define DVZ_SQLI_COLLECTION_H

#include <stdint.h>

#include "gen_collection.h"
#include "gen_hostvar.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A variable-length host value. flags: DVZ_VAR_RUNTIME (the buffer is the
** runtime's, which may grow it) and DVZ_VAR_NULL. Programs hold a pointer
** to one and pass the address of that pointer to every call. */
typedef struct dvz_hostbuf_t dvz_var_rec;
#define DVZ_VAR_RUNTIME HOSTVAR_GROWABLE
#define DVZ_VAR_NULL HOSTVAR_NULL

/* ---- Collections and rows -------------------------------------------------------- */

/* A field descriptor in the 84-byte form programs write for dvz_cl_alloc;
** an array of them ends with an entry whose seqno is 0. Names of 18 bytes
** need no terminator. */
typedef struct dvz_cl_pubfield {
  int16_t seqno;
  int16_t level_no;
  int16_t parent_no;
  int16_t fieldnmlen;
  char fieldname[18];
  int16_t field_no;
  int16_t type;
  int16_t length;
  int32_t xid;
  int16_t flags;
  int16_t xtype_nm_len;
  char xtype_name[18];
  int16_t xtype_owner_len;
  char xtype_owner_name[18];
  int16_t align;
  int32_t srctype;
} dvz_cl_pubfield;

/* A new zeroed collection host variable at *out; with fields (ended by a
** seqno of 0) it gets a client type info of its own built from them. The
** SQLCODE (-406 memory). */
int dvz_cl_alloc(dvz_coll_t **out, const dvz_cl_pubfield *fields);
/* dvz_cl_alloc with the descriptors in the value library's form. version
** is not examined. */
int sqli_cl_alloc(int32_t version, dvz_coll_t **out, const dvz_coll_field_t *fields);
/* Releases a collection host variable: its server copy (message 105) when
** it has a handle, then what it owns and the record; *coll becomes null.
** The SQLCODE; on failure *coll is kept. */
int dvz_cl_dealloc(dvz_coll_t **coll);

/* The cardinality of coll, with *isnull set from its NULL flag; -1814 for a
** null collection. */
int dvz_cl_card(dvz_coll_t *coll, int *isnull);

/* ---- Variable-length values ------------------------------------------------------ */

/* Each returns the SQLCODE (0, -406 memory, -1820/-1822 a null record
** pointer or a bad argument, -1823 a value larger than a program-owned
** buffer), except where said. */

/* A zeroed runtime-owned record at *var when it is null. */
int dvz_var_init(dvz_var_rec **var);
/* 1: the buffer becomes the runtime's; 0: the program's, and the current
** buffer is freed. A null *var first gets a record. */
int dvz_var_flag(dvz_var_rec **var, int flag);
/* A buffer of size zeroed bytes (grown when smaller); length = size. */
int dvz_var_alloc(dvz_var_rec **var, int32_t size);
/* Copies len bytes of data in (growing a runtime-owned buffer). */
int dvz_var_setdata(dvz_var_rec **var, const char *data, int32_t len);
/* 1 marks the value NULL, 0 clears the mark. */
int dvz_var_setnull(dvz_var_rec **var, int flag);
/* Sets the length; -1823 beyond the buffer's size. */
int dvz_var_setlen(dvz_var_rec **var, int32_t len);
/* 1 NULL, 0 not NULL, or a negative SQLCODE. */
int dvz_var_isnull(dvz_var_rec **var);
/* The buffer, or null for a NULL value or a null record. */
char *dvz_var_getdata(dvz_var_rec **var);
/* The length, or a negative SQLCODE. */
int dvz_var_getlen(dvz_var_rec **var);
/* Frees the buffer; the record stays. */
int dvz_var_dealloc(dvz_var_rec **var);
/* Frees buffer and record and clears *var. */
int dvz_var_freevar(dvz_var_rec **var);

#ifdef __cplusplus
}
#endif

#endif
