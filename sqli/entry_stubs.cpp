/*
** Entry points of the runtime whose requests the library does not send
** yet: the cursor calls, FETCH, statements by text and COMMIT.
** Each keeps its final name and signature so that callers (the probe)
** link against the library as it will be, and fails the way every
** operation fails: the error is recorded in sqlca through _iqseterr and
** returned. The error is -408, the protocol error, since no request can
** be exchanged with a server through these calls.
*/
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_conn.h"
#include "sqli_cursor.h"
#include "sqli_errors.h"
#include "sqli_statement.h"

namespace {

/* Records the refusal of a call that cannot reach a server. */
int32_t refuse() { return _iqseterr(SQLI_E_PROTOCOL); }

}  // namespace

extern "C" {

void *sqli_curs_locate(int32_t, const char *, int32_t) {
  refuse();
  return nullptr;
}

int32_t sqli_curs_decl_stat(int32_t, void *, const char *, const char *const *, sqli_varlist *,
                            sqli_varlist *, int32_t, void *, void *, int32_t, int32_t, int32_t) {
  return refuse();
}

int32_t sqli_curs_open(int32_t, void *, sqlda *, const char *, struct value_t *, int32_t, int32_t) {
  return refuse();
}

int32_t sqli_curs_fetch(int32_t, void *, sqli_varlist *, sqlda *, const char *, sqli_fetchspec *) {
  return refuse();
}

int32_t sqli_curs_close(int32_t, void *) { return refuse(); }

int32_t sqli_stmt(int32_t, sqli_stmtrec *, const char *const *, int32_t, sqlvar_struct *,
                  struct value_t *, void *, void *, void *, int32_t, int32_t, int32_t) {
  return refuse();
}

int32_t sqli_trans_commit(void) { return refuse(); }

}  // extern "C"

/* Nothing puts cursor records on a connection's list yet, so closing a
** connection has none to free. */
void _sqfree_cursors(sqli_conn *) {}
