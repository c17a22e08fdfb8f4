/*
** reply_stubs.cpp: replies and record services the reply readers reach
** whose own requests the library does not send yet. A reply reader here records -408
** and reports a protocol error, since the reply cannot be read in step;
** the connection is then aborted by the caller.
*/
#include "asf_call.h"
#include "sqli_connect.h"
#include "sqli_errors.h"
#include "sqli_reply.h"
#include "sqli_seams.h"

namespace {

int unread_reply() {
  _iqseterr(SQLI_E_PROTOCOL);
  return -1;
}

}  // namespace

int _sqg_getroutine(sqli_cursor *, sqli_tcb *) { return unread_reply(); }
int _sqg_fproutine(sqli_cursor *, sqli_tcb *) { return unread_reply(); }
int _sqg_fparam(sqli_cursor *, sqli_tcb *) { return unread_reply(); }
