/*
** reply_stubs.cpp: replies and record services the reply readers reach
** whose own requests the library does not send yet. A reply reader here records -408
** and reports a protocol error, since the reply cannot be read in step;
** the connection is then aborted by the caller. The disconnect aborts the
** current association and logs that it did.
*/
#include "asf_call.h"
#include "sqli_connect.h"
#include "sqli_errors.h"
#include "sqli_reply.h"
#include "sqli_seams.h"

sqli_close_log sqli_close_stub_log;

namespace {

int unread_reply() {
  _iqseterr(SQLI_E_PROTOCOL);
  return -1;
}

}  // namespace

int _sqg_file_to_file(sqli_tcb *) { return unread_reply(); }
int _sqg_reassoc(sqli_tcb *) { return unread_reply(); }
int _sqg_getroutine(sqli_cursor *, sqli_tcb *) { return unread_reply(); }
int _sqg_fproutine(sqli_cursor *, sqli_tcb *) { return unread_reply(); }
int _sqg_fparam(sqli_cursor *, sqli_tcb *) { return unread_reply(); }

/* No record keeps a marked-row store yet: the readers take the path of a
** statement without one, which is not an error. */
sqli_cursor *_iqlocate_drw_store(void *, sqli_tcb *) { return nullptr; }

void _sqstealinfo(sqli_cursor *, sqli_cursor *) { _iqseterr(SQLI_E_PROTOCOL); }

/* Aborts the current association (the only disconnect the reply side
** asks for) and forgets the connection; sqlca is left alone. */
void sqli_connect_close(int32_t type, const char *, int32_t mode, int32_t keep) {
  ++sqli_close_stub_log.calls;
  sqli_close_stub_log.type = type;
  sqli_close_stub_log.mode = mode;
  sqli_close_stub_log.keep = keep;
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr || tcb->curconn == nullptr) return;
  if (type != SQLI_DISCONNECT_CURRENT || mode == SQLI_END_ORDERLY) {
    _iqseterr(SQLI_E_PROTOCOL);
    return;
  }
  if (pipe_vbles *p = tcb->curconn->io; p != nullptr) {
    asfsvcreq req {};
    ASF_Init(asf_svc_abort, &req);
    (void)sqli_asf->call(&p->svcctl, &req);
  }
  tcb->curconn = nullptr;
}
