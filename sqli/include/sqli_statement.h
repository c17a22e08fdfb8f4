/*
** sqli_statement.h: statements run by text without a cursor, and COMMIT
** WORK. Each call leaves its outcome in `sqlca` (sqli_status.h) and
** returns its code. C linkage; called by preprocessed programs.
*/
#ifndef DVZ_SQLI_STATEMENT_H
#define DVZ_SQLI_STATEMENT_H

#include <stdint.h>

#include "sqli_descriptors.h"

#ifdef __cplusplus
extern "C" {
#endif

struct value_t;

/* The caller's record of one statement site: zero before the first run,
** kept for the life of the process. */
typedef struct sqli_stmtrec {
  int16_t stmt_type; /* 0 until run; then the type the server described */
  int16_t stmt_id; /* server statement id, -1 when none is held */
} sqli_stmtrec;

/* Runs the statement text cmdtxt (fragments ended by a null pointer) with
** ninput inputs from `input` entries, or from `values` when no entries are
** given. version is not examined. coll_a, coll_b, coll_c, stmt_kind,
** coll_word and coll_flag serve only statements on collection variables. */
int32_t sqli_stmt(int32_t version, sqli_stmtrec *record, const char *const *cmdtxt, int32_t ninput,
                  sqlvar_struct *input, struct value_t *values, void *coll_a, void *coll_b,
                  void *coll_c, int32_t stmt_kind, int32_t coll_word, int32_t coll_flag);

/* COMMIT WORK. */
int32_t sqli_trans_commit(void);

#ifdef __cplusplus
}
#endif

#endif
