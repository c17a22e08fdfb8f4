/*
** sqli_prepare.h: dynamic SQL: PREPARE, EXECUTE, EXECUTE IMMEDIATE and
** DESCRIBE. Each call leaves its outcome in `sqlca` (sqli_status.h).
** C linkage; called by preprocessed programs.
*/
#ifndef DVZ_SQLI_PREPARE_H
#define DVZ_SQLI_PREPARE_H

#include <stdint.h>

#include "sqli_descriptors.h"

#ifdef __cplusplus
extern "C" {
#endif

struct value_t;

/* PREPARE the statement name from text (the character text of one
** statement). coll_literal, coll_arg, stmt_type, coll_word and coll_flag
** serve only statements on collection variables. Returns the handle of
** the statement record, or null with the error in sqlca (-481 for an
** invalid name; a failed preparation removes the record). */
void *sqli_prep(int32_t version, const char *name, const char *text, void *coll_literal,
                void *coll_arg, int32_t stmt_type, int32_t coll_word, int32_t coll_flag);

/* EXECUTE the prepared statement of handle with the inputs of `input` (or
** the named descriptor in_name, or the value array `values`, one value per
** placeholder). A SELECT or EXECUTE PROCEDURE returns its one row into
** `output` (or the named descriptor out_name); desc_flag goes to that
** row copy. Returns the code: -410 for a statement the server does not
** hold (the record is then removed), -765 when a cursor is declared on
** it, -254 when the input count differs from the placeholder count. */
int32_t sqli_exec(int32_t version, void *handle, sqlda *input, const char *in_name,
                  struct value_t *values, sqlda *output, const char *out_name, int32_t unused,
                  int32_t desc_flag);

/* sqli_exec with `input`, or with the count entries when they are given. */
int32_t _iqxecute(void *handle, int32_t count, sqlvar_struct *entries, sqlda *input,
                  struct value_t *values);

/* EXECUTE IMMEDIATE text: prepared, run and released in two requests on a
** temporary record. Returns the code. */
int32_t sqli_exec_immed(const char *text);

/* DESCRIBE the statement of handle: into a new sqlda stored at *out (one
** block, freed with free()), or, when out is null, into the named
** descriptor descname. Returns the code; SQLCODE carries the statement
** type (0 for a SELECT). */
int32_t sqli_describe_stmt(int32_t version, void *handle, sqlda **out, const char *descname);

#ifdef __cplusplus
}
#endif

#endif
