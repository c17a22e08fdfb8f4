/*
** sqli_collection_checks.h: the checks of collection and row host
** variables that a bind list passes before it is written, and the type
** name of a row value. The collection services provide them.
*/
#ifndef DVZ_SQLI_COLLECTION_CHECKS_H
#define DVZ_SQLI_COLLECTION_CHECKS_H

#include "sqli_context.h"
#include "sqli_descriptors.h"
#include "value_types.h"

/* 0, or SQLCODE after recording what is wrong with the entries. */
int validate_cl_idents(int count, sqlvar_struct *entries, sqli_tcb *tcb);
int validate_cl_types(int count, sqlvar_struct *entries, sqli_tcb *tcb);
/* The type name of a row or collection value (malloc'd), or null. */
char *dvz_cl_get_row_xtype(dvz_coll_t *coll);

#endif
