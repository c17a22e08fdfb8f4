/*
** reply_loop.cpp: the reply side of a request: the reply loop and the
** protocol-error path. Reading replies is not part of this build yet:
** both record a clear error so that a caller never takes a request as
** answered.
*/
#include "sqli_reply.h"

#include "sqli_errors.h"

/* Records -408 (no reply reader in this build); returns -1. */
int _sqr_messages(sqli_cursor *, int, sqli_tcb *tcb) {
  if (tcb != nullptr) tcb->request_active = 0;
  _iqseterr(SQLI_E_PROTOCOL);
  return -1;
}

/* Records -408 unless an error is already recorded. The connection is
** left in place: dropping it belongs to the connection services. */
void _sqproterr(sqli_tcb *tcb, int) {
  if (tcb == nullptr) return;
  if (tcb->sqlca->sqlcode >= 0) _iqseterr(SQLI_E_PROTOCOL);
}
