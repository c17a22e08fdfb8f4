/*
** sqli_hostvar.h: value transfer between host variables and typed values
** and the stored fields of a row, used by GET DIAGNOSTICS, the descriptor
** paths, the request encoders and the row copy into host variables.
*/
#ifndef DVZ_SQLI_HOSTVAR_H
#define DVZ_SQLI_HOSTVAR_H

#include <stdint.h>

#include "sqli_context.h"
#include "sqli_descriptors.h"
#include "sqli_reply.h"

struct value_t;
struct gl_cv_desc;
struct dvz_coll_typeinfo;

/* Converts the value at src (host type srctype, srclen bytes) into dst
** (host type dsttype, dstlen bytes). Returns 0, or the error recorded
** (-486 for a type of -1 or from 200 up). */
int _sqvar2var(const char *src, int srctype, int srclen, char *dst, int dsttype, int dstlen);
/* value into the host variable data (type, length word); the indicator
** (may be null) receives -1, a truncated length or 0. Returns the
** conversion error word, which is also left in the error word. */
int _sqvalhost(struct value_t *value, char *data, int type, int len, int16_t *ind);
/* The stored form of the host variable's value into out (room bytes of
** the column's type and length word). A NULL character value becomes
** empty when empty_null is set. 0, or the error recorded. */
int _sqvar2data(const sqlvar_struct *host, char *out, int type, int len, int empty_null);
/* The indicator variable (data of type, len) as an i16. 0, or the
** conversion error. */
int _sqhostind(const char *data, int type, int len, int16_t *ind);
/* The i16 indicator into an indicator variable of its own type: 0, or
** -456 recorded when it does not fit. */
int _sqindhost(int16_t ind, char *data, int type, int len);
/* The SQL type of a host type, -1 for the types from 200 up. */
int nonC_to_sql(int type);

/* ---- Rows in the fetch buffer --------------------------------------------------------- */

/* Bytes of a stored field of the type and length word, for the types whose
** size the description gives (VARCHAR unpadded). */
int gettupsize(int type, int len);
/* Bytes and length word (into *lenout) of a field read in type for a host
** of hostlen bytes against a column of collen (see the row copy). */
int getfieldsize(int has_xid, int xid, int type, int size, int hostlen, int collen, int *lenout);
/* Converts inlen bytes of database text into out (room bytes): the rest
** padded with pad, or terminated when pad is 0 (out then holds room + 1).
** When the output is full, *truncation gets the input left (at most
** 32767).
** Returns the bytes written, or -1 with -23103 (a character without
** conversion) or -23113 recorded. */
int gcv_tuple(struct gl_cv_desc *cv, const char *in, int inlen, char *out, int room,
              int *truncation, int pad);
/* An opaque field {u8 flags, BE32 length, bytes} into host h, whose kind
** type names (SQL 40, 41, 43 or 45); the field's length was checked
** against the row. Returns the indicator (-1 NULL, the cut length, 0), or
** sets *error to the error recorded (-406, -402, -1821, -23103, -23113). */
int ldudt2host(const char *field, int type, sqlvar_struct *h, sqli_tcb *tcb, int *error);
/* 0 when the client's collection type description agrees with the
** server's, else -1818. */
int check_typeinfo(const struct dvz_coll_typeinfo *client, const struct dvz_coll_typeinfo *server);
/* ---- Return types ---------------------------------------------------------------------- */

/* 0 when host (extended id xid) agrees with the accepted return-type
** entry rt; else -1 with -1820 recorded. */
int chkrettype(const sqlvar_struct *host, const sqlvar_struct *rt, int xid);
/* chkrettype and the length check of a fetch. */
int chkrtype_fetch(const sqlvar_struct *host, const sqlvar_struct *rt, int xid, int host_type,
                   const dbfd *col);

/* BYTE and TEXT values into locator and file hosts: sqli_blob.h. */

#endif
