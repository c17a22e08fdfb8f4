/*
** Entry points of the runtime whose requests the library does not send
** yet: FETCH, and the calls that cursors and statements reach in work
** still to come (row copy, BYTE and TEXT values, descriptors, collections).
** Each keeps its final name and signature so that callers (the probe)
** link against the library as it will be, and fails the way every
** operation fails: the error is recorded in sqlca through _iqseterr and
** returned. The error is -408, the protocol error, since no request can
** be exchanged with a server through these calls.
*/
#include "sqli_conn.h"
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_prepare.h"
#include "sqli_seams.h"
#include "sqli_statement.h"
#include "sqli_statements.h"

namespace {

/* Records the refusal of a call that cannot reach a server. */
int32_t refuse() { return _iqseterr(SQLI_E_PROTOCOL); }

}  // namespace

/* Later work reached from the cursor calls: insert cursors and collection
** cursors. Each records the protocol error so a caller sees the call
** refused; the releases have nothing to release until their records
** exist. */
int _sqcurflush(void *, sqli_tcb *) { return refuse(); }
int dvz_cl_cdcl(sqli_cursor *, const char *, const char *const *, sqli_varlist *, sqli_varlist *,
                void *, void *, int32_t, int32_t, sqli_tcb *) {
  return refuse();
}
int dvz_cl_ddcl(sqli_cursor *, const char *, sqli_cursor *, sqli_tcb *) { return refuse(); }
int dvz_cl_open(sqli_cursor *, sqlda *, const char *, sqli_tcb *) { return refuse(); }
int dvz_cl_flush(sqli_cursor *, sqli_tcb *) { return refuse(); }
int dvz_cl_close(sqli_cursor *, sqli_tcb *) { return refuse(); }
int dvz_cl_free(sqli_cursor *, sqli_tcb *) { return refuse(); }
int dvz_cl_fetch(sqli_cursor *, sqli_varlist *, sqlda *, const char *, sqli_fetchspec *,
                 sqli_tcb *) {
  return refuse();
}
int fetch_array_blobs(sqli_cursor *, int, sqlvar_struct *, int, sqli_tcb *) { return refuse(); }
void free_cl_cursor(sqli_cursor *) {}

/* Later work reached from statements; each records the protocol error so
** a caller sees the call refused. */
int _sqs_blobs(sqli_tcb *) { return refuse(); }
int dvz_cl_stmnt(int, sqlvar_struct *, struct value_t *, void *, void *, void *, int, int) {
  return refuse();
}
int dvz_cl_slct(int, sqlvar_struct *, int, sqlvar_struct *, void *, void *) { return refuse(); }

/* BYTE and TEXT fields of a fetched row, into a locator or a file host. */
int _sqg_blob(sqlvar_struct *, const char *, sqli_tcb *) { return refuse(); }
int _sqg_fblob(sqlvar_struct *, const char *, sqli_tcb *) { return refuse(); }

/* Statements on collection variables: PREPARE, EXECUTE, DESCRIBE. */
void *dvz_cl_prep(const char *, const char *, void *, void *, int, int, sqli_tcb *) {
  refuse();
  return nullptr;
}
int dvz_cl_execute(sqli_cursor *, sqlda *, const char *, const struct value_t *, sqli_tcb *) {
  return refuse();
}
int dvz_cl_describe(sqli_cursor *, sqlda **, const char *, sqli_tcb *) { return refuse(); }

/* Releases of values whose records are later work (variable-length
** records, collections and rows). Each frees only what it is handed
** ownership of: the collection record, whose contents are not built yet. */
int sqli_private_var_dealloc(void **) { return 0; }
extern "C" int dvz_cl_dealloc(dvz_coll_t **coll) {
  sqli_release(*coll);
  *coll = nullptr;
  return 0;
}
