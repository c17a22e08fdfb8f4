/*
** sqli_cursor.h: the cursor calls of the embedded-SQL runtime: locate a
** cursor record by name, DECLARE, OPEN, FETCH and CLOSE, with the fetch
** request record. A caller holds a cursor by its handle, which it gets
** from sqli_curs_locate and passes to every other call.
**
** Every call takes the interface version (1, not examined) first and
** returns the code it left in `sqlca` (sqli_status.h); FETCH returns 100
** when no row is left. C linkage; called by preprocessed programs.
*/
#ifndef DVZ_SQLI_CURSOR_H
#define DVZ_SQLI_CURSOR_H

#include <stdint.h>

#include "sqli_descriptors.h"

#ifdef __cplusplus
extern "C" {
#endif

struct value_t;

/* Flags of sqli_curs_locate (the low byte is the record kind). */
enum {
  SQLI_LOCATE_CHECKED = 0x100, /* the name was already checked */
  SQLI_LOCATE_KEEP_CASE = 0x200 /* keep the name's case */
};

/* A host-variable list: a count and the entries. */
typedef struct sqli_varlist {
  int16_t count;
  sqlvar_struct *entries;
} sqli_varlist;

/* The fetch request, owned by the caller. */
typedef struct sqli_fetchspec {
  int32_t position; /* row number for absolute and relative positioning */
  int32_t direction; /* 1 next, 2 previous, 3 first, 4 last, 5 current, 6 absolute, 7 relative */
  int32_t indicator_required; /* non-zero: NULL into a variable without indicator is -467 */
} sqli_fetchspec;

/* The cursor named `name`, made when there is none. Returns its handle,
** or null with the error in sqlca. */
void *sqli_curs_locate(int32_t version, const char *name, int32_t flags);

/* DECLARE name CURSOR FOR the statement text cmdtxt (an array of text
** fragments ended by a null pointer), with optional input and output
** host-variable lists and options (0x20 scroll, 0x1000 hold). coll_a,
** coll_b, stmt_kind, coll_word and coll_flag serve only statements on
** collection variables. */
int32_t sqli_curs_decl_stat(int32_t version, void *handle, const char *name,
                            const char *const *cmdtxt, sqli_varlist *input, sqli_varlist *output,
                            int32_t options, void *coll_a, void *coll_b, int32_t stmt_kind,
                            int32_t coll_word, int32_t coll_flag);

/* OPEN with the inputs of `input` (or the named descriptor descname, or
** the value array `values`); usage 0 for a plain OPEN; reoptimize non-zero
** asks the server to optimise again. */
int32_t sqli_curs_open(int32_t version, void *handle, sqlda *input, const char *descname,
                       struct value_t *values, int32_t usage, int32_t reoptimize);

/* FETCH the row `spec` names into `output` (or the named descriptor
** descname); position gives the host variables of a scroll position. */
int32_t sqli_curs_fetch(int32_t version, void *handle, sqli_varlist *position, sqlda *output,
                        const char *descname, sqli_fetchspec *spec);

/* CLOSE. */
int32_t sqli_curs_close(int32_t version, void *handle);

/* The fetch steps FETCH is made of, for callers of the older forms:
** the sequential fetch of the next row into output (null: the declared
** output list; named: output is a named descriptor), the scroll fetch of
** the row spec names, and _iqnftch, FETCH with its descriptors built from
** plain arrays. Each returns the code it left in sqlca. */
int _iqftch(void *handle, sqlda *output, int named, int indicator_required, const char *descname);
int _iqsftch(void *handle, sqli_varlist *position, sqlda *output, int named, sqli_fetchspec *spec,
             const char *descname);
int _iqnftch(void *handle, int noutput, sqlvar_struct *outputs, int direction, int32_t position,
             int npositions, sqlvar_struct *positions, int indicator_required);
/* Whether the row *direction and *position name is in the buffer of a
** scroll cursor: 0 it is, and the buffer is positioned on it; 1 the server
** must be asked (*direction and *position rewritten to what is sent);
** -1 stop, the code is in sqlca (100 for a position below 1, -423 for
** CURRENT without a current row). */
int sqli_tuple_check(int32_t version, void *handle, int32_t *direction, int32_t *position);

/* DECLARE name CURSOR FOR the prepared statement of stmt_handle. */
int32_t sqli_curs_decl_dynm(int32_t version, void *handle, const char *name, void *stmt_handle,
                            int32_t options, int32_t coll_flag);
/* PUT one row into an insert cursor: the values of `input` (or of the
** named descriptor descname; both null: the declared input list). The row
** is buffered; the buffered rows are sent when the buffer is full. */
int32_t sqli_curs_put(int32_t version, void *handle, sqlda *input, const char *descname);
/* PUT with the count values of vars when input is null. Returns the code
** left in sqlca. */
int _iqinsput(void *handle, int count, sqlvar_struct *vars, sqlda *input, struct value_t *values);
/* FLUSH an insert cursor. */
int32_t sqli_curs_flush(int32_t version, void *handle);
/* FREE a cursor or prepared statement; the handle is invalid afterwards. */
int32_t sqli_curs_free(int32_t version, void *handle);
/* AUTOFREE: mode 0 on and 1 off for the record of handle, 2 on and 3 off
** for the process. -406 without a runtime context. */
int32_t sqli_autofree_set(int32_t version, void *handle, int32_t mode);
/* Deferred PREPARE: mode 1 on, 0 off, other values leave it. */
int32_t sqli_defprep_set(int32_t mode);

#ifdef __cplusplus
}
#endif

#endif
