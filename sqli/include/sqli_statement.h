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

/* Runs the statement text cmdtxt (fragments ended by a null pointer) with
** ninput inputs from `input` entries, or from `values` when no entries are
** given. version is not examined. coll_a, coll_b, coll_c, stmt_kind,
** coll_word and coll_flag serve only statements on collection variables. */
int32_t sqli_stmt(int32_t version, sqli_stmtrec *record, const char *const *cmdtxt, int32_t ninput,
                  sqlvar_struct *input, struct value_t *values, void *coll_a, void *coll_b,
                  void *coll_c, int32_t stmt_kind, int32_t coll_word, int32_t coll_flag);

/* SELECT ... INTO with ninput inputs and noutput output host variables;
** cursor is the caller's zeroed statement record (sqli_cursor). desc_flag
** marks outputs from a descriptor; the collection arguments and coll_flag
** serve only statements on collection variables. */
int32_t sqli_slct(int32_t version, void *cursor, const char *const *cmdtxt, int32_t ninput,
                  sqlvar_struct *inputs, int32_t noutput, sqlvar_struct *outputs, int32_t desc_flag,
                  void *arg_a, void *arg_b, void *coll_a, void *coll_b, int32_t coll_flag);
/* EXECUTE PROCEDURE ... INTO; the _2 form takes a descriptor flag. The
** arguments are those of SELECT ... INTO without collections. */
int32_t sqli_proc_exec(void *cursor, const char *const *cmdtxt, int32_t ninput,
                       sqlvar_struct *inputs, int32_t noutput, sqlvar_struct *outputs,
                       struct value_t *values, int32_t desc_copy, int32_t release, void *context,
                       int32_t desc_flag, const char *desc_name);
int32_t sqli_proc_exec_2(void *cursor, const char *const *cmdtxt, int32_t ninput,
                         sqlvar_struct *inputs, int32_t noutput, sqlvar_struct *outputs,
                         struct value_t *values, int32_t desc_copy, int32_t release, void *context,
                         int32_t desc_flag, const char *desc_name, int32_t desc_extra);

/* DATABASE name (mode as the server takes it); returns SQLCODE. */
int32_t sqli_db_open(const char *name, int32_t mode);
/* CLOSE DATABASE. */
int32_t sqli_db_close(void);
/* CREATE PROCEDURE FROM the file named. */
int32_t sqli_proc_create(const char *file);

/* BEGIN WORK; begin2 with 0 is BEGIN WORK WITHOUT REPLICATION. */
int32_t sqli_trans_begin(void);
int32_t sqli_trans_begin2(int32_t replicate);
/* COMMIT WORK and ROLLBACK WORK. */
int32_t sqli_trans_commit(void);
int32_t sqli_trans_rollback(void);

#ifdef __cplusplus
}
#endif

#endif
