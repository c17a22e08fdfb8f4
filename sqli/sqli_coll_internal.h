/*
** sqli_coll_internal.h: the element and row services that the collection
** statements and cursors call: building, updating and reading elements of
** a collection or row host variable from a literal-values list, and
** releasing a collection's server copy. Nothing here talks to the server
** except _sqrelcoll.
*/
#ifndef DVZ_SQLI_COLL_INTERNAL_H
#define DVZ_SQLI_COLL_INTERNAL_H

#include <stdint.h>

#include "gen_collection.h"
#include "sqli_context.h"
#include "sqli_descriptors.h"

/* One entry of a literal-values list, as the preprocessor writes it; the
** list ends with an entry whose type and length are 0 and whose value is
** null. `value` is the literal's text, host data once a placeholder is
** filled, or the dvz_coll_t of a collection or row host variable (types
** 23 and 123). */
typedef struct sqli_litval {
  char *value;
  int16_t type; /* an SQL type code, or one of sqli_lit_* */
  int16_t length;
  int16_t flags; /* sqli_lit_hostchar; a qualifier for DATETIME/INTERVAL text */
  int16_t nesting; /* non-zero: part of a nested literal; 1: convert from text */
} sqli_litval;

/* Entry types that are not SQL type codes. */
enum {
  sqli_lit_close = -1, /* closes a nested literal opened by 19, 20, 21 or 22 */
  sqli_lit_null = -2,
  sqli_lit_placeholder = -3, /* filled by the next input host variable */
  sqli_lit_sep_runtime = -4, /* separator of a list the runtime rearranged */
  sqli_lit_sep = -5, /* separator as the preprocessor writes it */
  sqli_lit_collvar = 23, /* a collection host variable */
  sqli_lit_rowvar = 123 /* a row host variable */
};
/* flags: character data taken from a host variable. */
#define SQLI_LIT_HOSTCHAR 0x1000

/* Field-name lists: entries of this many bytes, each a name (zero padded),
** ended by an empty entry; null when a statement names no fields. */
#define SQLI_FIELDNAME_SIZE 150

/* The type info in use: the client form when the collection is typed,
** else the server form; null when it has neither (or coll is null). */
dvz_coll_typeinfo_t *sqli_coll_typeinfo(const dvz_coll_t *coll);
/* 1 when coll is a row variable (descriptor 0 a ROW at level 0). */
int sqli_coll_is_row(const dvz_coll_t *coll);

/* Each of the dvz_rc_* calls records its error in sqlca (through
** _iqseterr) and returns it; 0 on success. Everything they allocate for
** the operation is freed before they return, on failure too. */

/* Inserts the literals of lits (in the order of names when names is not
** null) into coll: each top-level literal one element at LIST position
** pos (0: the end), or the fields of a row variable. */
int dvz_rc_construct(dvz_coll_t *coll, const char *names, sqli_litval *lits, int32_t pos);
/* Sets every element of coll (the named fields of a row variable or of
** row elements) from lits; builds coll instead when it has no data. */
int dvz_rc_setall(dvz_coll_t *coll, const char *names, sqli_litval *lits);
/* Sets the element on which cursor (open on coll) stands, whose stored
** bytes in the collection are at element, from lits. */
int dvz_rc_updcur(dvz_coll_t *coll, const char *names, sqli_litval *lits, dvz_coll_cursor_t *cursor,
                  const char *element);
/* Delivers the element at element (stored bytes, as dvz_coll_next gives
** them with a null *data) into the nout host variables of outs: in order,
** or, with names, each field to the variable at its name's position.
** named_desc: outs belong to a named descriptor. */
int dvz_rc_get(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, const char *element, const char *names,
               int nout, sqlvar_struct *outs, int named_desc, sqli_tcb *tcb);

/* Releases the server's copy of coll (message 105) when it has a handle.
** 0, or the SQLCODE recorded. */
int _sqrelcoll(dvz_coll_t *coll, sqli_tcb *tcb);

#endif
