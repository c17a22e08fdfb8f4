/*
** sqli_statements.h: the runtime's internal calls for statements run
** without a cursor (SELECT ... INTO, EXECUTE PROCEDURE ... INTO,
** EXECUTE ... INTO) and the rollback used by connection code. The public
** entry points are in sqli_statement.h.
*/
#ifndef DVZ_SQLI_STATEMENTS_H
#define DVZ_SQLI_STATEMENTS_H

#include <stdint.h>

#include "sqli_blob.h"
#include "sqli_context.h"
#include "sqli_descriptors.h"
#include "sqli_runtime_records.h"

struct value_t;

/* Sets up cursor for one run and writes the text with describe (1, 22)
** or the id (4), then the inputs (5): from bind when it has entries, else
** from the ninput entries of inputs, else from values. Returns 0, or the
** error recorded (the statement released or closed when release is set,
** replies read). */
int _sqinitcursor(sqli_cursor *cursor, const char *const *cmdtxt, int ninput, const sqlda *bind,
                  const struct value_t *values, sqlvar_struct *inputs, sqli_tcb *tcb, int release);

/* In an ANSI database every character input must hold a NUL within its
** length. Returns 0, or -1 after recording -766. */
int _sqcheck_eos(const sqlvar_struct *inputs, const struct value_t *values, int count,
                 sqli_tcb *tcb);
/* 0 when buffer holds a NUL within len bytes, else -1 after -766. */
int str_term(const char *buffer, int len);

/* SELECT ... INTO: one row into the noutput entries of outputs. desc_copy
** and desc_flag select the descriptor copy flags; release releases or
** closes the statement after the run; desc_name names a descriptor.
** Returns sqlcode (100 when no row came back; hosts then untouched). */
int __slct(sqli_cursor *cursor, const char *const *cmdtxt, int ninput, sqlvar_struct *inputs,
           int noutput, sqlvar_struct *outputs, const struct value_t *values, int desc_copy,
           int release, sqli_tcb *tcb, int desc_flag, const char *desc_name);
/* __slct with values as the input array and no input entries. */
int _fgislct(sqli_cursor *cursor, const char *const *cmdtxt, int ninput,
             const struct value_t *values, int noutput, sqlvar_struct *outputs);

/* EXECUTE ... INTO of a prepared statement. */
int _sqexecinto(sqli_cursor *cursor, sqlda *bind, const char *in_name, const struct value_t *values,
                sqlda *output, const char *out_name, int desc_flag, sqli_tcb *tcb);

/* EXECUTE of the prepared record cursor (dynamic_sql.cpp): its id, the
** inputs (bind, else the named descriptor in_name, else values, one per
** placeholder; -254 when their count differs from the placeholders), the
** execute request, the replies. Returns the sqlca code; the record may be
** gone afterwards (a dropped connection, a database statement). */
int _sqexecute(sqli_cursor *cursor, sqlda *bind, const char *in_name, const struct value_t *values,
               sqli_tcb *tcb);

/* What a successful statement of type 1, 12, 13, 31 or 38 changes on the
** current connection (reassociation, database flags, the ANSI flag, its
** records freed, the float format). 0, or SQLCODE when a pending
** reassociation fails. */
int sqli_database_effects(int type, sqli_tcb *tcb);

/* ROLLBACK WORK on the current connection without the context look-up:
** open cursors not WITH HOLD are closed first. Returns sqlcode. */
int _sqrollback(sqli_tcb *tcb);

/* The descriptor allocated under name (trailing blanks ignored), or null;
** nothing is recorded. */
sqlda *_iqdlocate(const char *name, sqli_tcb *tcb);

/* The row copy of the buffered row at cursor->bufpos into the noutput
** host variables of outputs (null: the declared output list), with the
** unpacking options (2 named descriptor, 4 indicator required, 8 array
** fetch, 16 not the first row of an array fetch). Returns SQLCODE; the
** errors are in sqlca (tuple_unpack.cpp). */
int _iqupdtargs(sqli_cursor *cursor, int noutput, sqlvar_struct *outputs, int flags, sqli_tcb *tcb);
/* _sqs_blobs: sqli_blob.h. */
/* Statements on a collection or row host variable, run in the client
** (collection_cursors.cpp). dvz_cl_stmnt: the inputs hold the variable
** (after an optional SMALLINT or INTEGER one) and the variables whose
** indicators mark NULL literals; coll_a is the literal-values list, coll_b
** the field-name list, coll_c the handle of the cursor a statement at a
** cursor position works on (or null); values is not used. dvz_cl_slct:
** the first element into the outputs (100 none, -284 more than one);
** coll_b the field-name list. Each returns SQLCODE. */
int dvz_cl_stmnt(int ninput, sqlvar_struct *inputs, struct value_t *values, void *coll_a,
                 void *coll_b, void *coll_c, int stmt_kind, int coll_word);
int dvz_cl_slct(int ninput, sqlvar_struct *inputs, int noutput, sqlvar_struct *outputs,
                void *coll_a, void *coll_b);

#endif
