/*
** sqli_dynamic.h: the runtime's internal calls shared by FETCH, the row
** copy into host variables, dynamic SQL (PREPARE, EXECUTE, DESCRIBE) and
** named descriptors. Each side calls the others only through these.
*/
#ifndef DVZ_SQLI_DYNAMIC_H
#define DVZ_SQLI_DYNAMIC_H

#include <stdint.h>

#include "sqli_context.h"
#include "sqli_descriptors.h"
#include "sqli_reply.h"
#include "sqli_runtime_records.h"

struct value_t;

/* ---- Return types and host values ---------------------------------------------------- */

/* Sends the return types of count host variables for cursor (options 29,
** or 61 with a named descriptor); count 0 drops the list. 0, or the error
** recorded. */
int sendrettype(sqli_cursor *cursor, sqli_tcb *tcb, int count, sqlvar_struct *hosts, int options);
/* The typed value of a host variable (its indicator from the host's
** indicator or indicator variable). 0, or the conversion error. */
int _sqhostval(const sqlvar_struct *host, struct value_t *value);
/* 1 when the first input of cursor (input, else the declared list) is a
** client-side collection or row; else -1 with -1817 recorded. */
int _sqclient_coltype(sqli_cursor *cursor, const sqlda *input);

/* ---- Dynamic SQL ------------------------------------------------------------------------- */

/* Type word and length of a described column into var. */
void settypelen(const dbfd *col, sqlvar_struct *var);
/* The statement type of a text by its first word: "select" 2, "insert" 6,
** "execute" 56, anything else -1. */
int get_stmt_type(const char *text);
/* Whether the first record named name that is not an XA re-preparation
** has a cursor declared on it (cursor_calls.cpp). */
int is_orig_declared(const char *name, sqli_tcb *tcb);

/* Statements on collection variables: PREPARE (the handle, or null),
** EXECUTE and DESCRIBE; each leaves its outcome in sqlca. */
void *dvz_cl_prep(const char *name, const char *text, void *coll_literal, void *coll_arg,
                  int stmt_type, int coll_word, sqli_tcb *tcb);
int dvz_cl_execute(sqli_cursor *cursor, sqlda *input, const char *in_name, sqlda *output,
                   const char *out_name, sqli_tcb *tcb);
/* The placeholders (type -3) of lits, as the saved copy at *owned (made
** on first use) marks them, filled in order from the count host
** variables. 0, or the error recorded: -236 (INSERT) or -505 when their
** numbers differ, -406. */
struct sqli_litval;
int conv_desc2lit(int count, sqlvar_struct *vars, struct sqli_litval *lits, int stmt_type,
                  void **owned);
/* Marks the literal entries that designate the data of a host variable
** whose indicator is -1 as NULL, and character entries of the others as
** host character data. */
void setlitnull(int count, const sqlvar_struct *vars, struct sqli_litval *lits);
int dvz_cl_describe(sqli_cursor *cursor, sqlda **out, const char *descname, sqli_tcb *tcb);

/* ---- Named descriptors ------------------------------------------------------------------- */

/* DESCRIBE of cursor into the named descriptor name. 0, or the error
** recorded (-469, -479, -406). */
int _iqdyndesc(sqli_cursor *cursor, const char *name, sqli_tcb *tcb);
/* Frees the data of var when the runtime owns it (flag 1), by its type. */
void dvz_free_sqldata(sqlvar_struct *var);
/* A fresh zeroed data buffer at *data for a value of the type word, length
** and source type. 0, -486 (a type of size 0) or -406. */
int _sqadjustbuf(char **data, int type, int len, int source);
/* Registers desc under the first len bytes of name in the context's
** table (made on first use). 1, or 0 when memory is short. */
int _iqdadd(const char *name, int len, sqlda *desc, sqli_tcb *tcb);
/* Unregisters the descriptor of name (trailing blanks ignored) and
** returns it, or null when there is none. The descriptor is not freed. */
sqlda *_iqddelete(const char *name, sqli_tcb *tcb);
struct sqli_desc_item;
/* A runtime-owned variable-length record at *record when it is null.
** 0, -406 or -1822 (record null). */
int sqli_private_var_init(void **record);
/* Releases what the variable-length record at *record holds (the record
** itself stays the caller's). 0, -406 or -1822. */
int sqli_private_var_dealloc(void **record);
/* Releases a collection or row value and its record, clearing *coll. The
** SQLCODE. */
extern "C" int dvz_cl_dealloc(dvz_coll_t **coll);
/* Copies text (null reads as empty) into the item's host variable as
** CHAR. 0, or the error recorded (-477 when the host is too short). */
int getdchstr(const char *text, const struct sqli_desc_item *item);
/* Replaces the string at *field with a CHAR copy of the item's host
** variable (its length + 1 bytes). 0, or the error recorded (-406). */
int setdchstr(char **field, const struct sqli_desc_item *item, sqli_tcb *tcb);

#endif
