/*
** session_calls.cpp: the session calls of the runtime's public interface:
** server information, the server's version text and owner name, small
** accessors, break callbacks, interrupting a running request, and start,
** detach and exit of a session.
*/
#include <cstring>

#include "os_context.h"
#include "sqli_asf.h"
#include "sqli_conn.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_handshake.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_send.h"
#include "sqli_session.h"
#include "sqli_wire.h"

namespace {

/* Status codes of these calls. */
enum {
  err_no_connection = -1803,
  err_cb_interval = -435,
  err_cb_function = -436,
  err_cb_connection = -437,
  err_cb_remove_with_function = -438
};

/* The owner name: 128 bytes and a NUL; servers without extended types
** have the one owner below. */
constexpr int owner_keep = 128;
constexpr const char *default_owner = "dovariza";

/* What the client library reports as its own server information. */
constexpr int32_t client_info_version = 900;
constexpr const char *client_info_text = "DOVARIZA-ESQL Version 9.51.U    ";

/* Sets sqlcode and SQLCODE to 0 and empties the diagnostics, without the
** in-progress check of _sqclrca (these calls run during a request). */
void zero_status(sqli_tcb *tcb) {
  tcb->sqlca->sqlcode = 0;
  *tcb->sqlcode = 0;
  _sqinitdiag(tcb);
}

/* The checks shared by both callback forms, then the store. */
int set_break_callback(int32_t interval, void (*callback)(int), void *arg, int32_t params) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return err_cb_connection;
  zero_status(tcb);
  sqli_conn *conn = tcb->curconn;
  if (conn == nullptr) return err_cb_connection;
  if (interval == -1) {
    if (callback != nullptr) return err_cb_remove_with_function;
    conn->callback_interval = -1;
    conn->callback = nullptr;
    conn->callback_arg = nullptr;
    conn->callback_params = 0;
    return 0;
  }
  if (interval < -1) return err_cb_interval;
  if (callback == nullptr) return err_cb_function;
  conn->callback_interval = interval;
  conn->callback = callback;
  conn->callback_arg = arg;
  conn->callback_params = params;
  return 0;
}

}  // namespace

extern "C" {

int dvz_srvinfo(sqli_srvinfo *info) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return -1;
  if (tcb->curconn == nullptr) {
    _iqseterr(err_no_connection);
    return -1;
  }
  return _sqr_info(info, tcb);
}

int _iqsrvinfo(sqli_srvinfo *info) { return dvz_srvinfo(info); }

int _iqinfo(sqli_srvinfo *info) {
  std::memset(info, 0, sizeof *info);
  info->version = client_info_version;
  info->flags1 = 0;
  info->flags2 = 1;
  std::strncpy(info->text, client_info_text, sizeof info->text - 1);
  return 0;
}

const char *sqli_server_version(void) {
  const sqli_tcb *tcb = getsqlitcb();
  return tcb != nullptr && tcb->curconn != nullptr ? tcb->curconn->server_version_text : nullptr;
}

int dvz_isuvs(void) {
  const sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr || tcb->curconn == nullptr) return -1;
  return (tcb->curconn->capabilities & sqli_cap_extended) != 0 ? 9 : 0;
}

int dvz_getserowner(char *owner) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (int rc = _sqclrca(tcb); rc != 0) return rc;
  if (int rc = _sqs_(0, tcb); rc < 0) return rc;
  if (tcb->curconn == nullptr) return *tcb->sqlcode;
  std::memset(owner, 0, owner_keep + 1);
  if ((tcb->curconn->capabilities & sqli_cap_extended) == 0) {
    std::strcpy(owner, default_owner);
    return 0;
  }
  sqli_put16(sqli_outpipe(tcb), SQ_OWNER_QUERY);
  _sqflip(tcb);
  const int rc = sqli_read_text_reply(tcb, SQR_OWNER, owner, owner_keep);
  tcb->request_active = 0;
  if (rc != 0) return tcb->sqlca->sqlcode;
  return tcb->sqlca->sqlcode < 0 ? tcb->sqlca->sqlcode : 0;
}

void dvz_getserial8(dvz_int8_t *value) {
  const sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) {
    std::memset(value, 0, sizeof *value);
    return;
  }
  *value = tcb->last_serial8;
}

int dvz_lvar_alloc(int mode) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb != nullptr) tcb->lvar_alloc = static_cast<int16_t>(mode);
  return 0;
}

int sqlbreakcallback(int32_t interval, void (*callback)(int)) {
  return set_break_callback(interval, callback, nullptr, 0);
}

/* The record keeps one function pointer; the I/O layer calls it back in
** the two-argument form when the parameters flag is set. */
int sqlbreakcallback_withparams(int32_t interval, void (*callback)(int, void *), void *arg) {
  return set_break_callback(interval,
                            reinterpret_cast<void (*)(int)>(reinterpret_cast<void (*)()>(callback)),
                            arg, callback != nullptr ? 1 : 0);
}

/* Never creates the context: it may run in a signal handler. */
int sqlbreak(void) {
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr) return 1;
  zero_status(tcb);
  sqli_conn *conn = tcb->curconn;
  if (conn == nullptr || conn->io == nullptr) return 1;
  asf_resync(conn->io->svcctl.ascid);
  return *tcb->sqlcode;
}

int sqldone(void) {
  const sqli_tcb *tcb = getsqlitcb();
  return tcb != nullptr && tcb->request_active != 0 ? SQLI_E_INPROGRESS : 0;
}

int sqlstart(void) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  _sqclrca(tcb);
  if (_sqfork(tcb) == 0) {
    set_forkflag(1);
    sqli_cursor none {};
    _sqr_messages(&none, 1, tcb);
  }
  return tcb->sqlca->sqlcode;
}

int sqldetach(void) {
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ABORT_FLAGGED, 0);
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr) return -1;
  if (*tcb->sqlcode == 0) set_forkflag(0);
  return *tcb->sqlcode;
}

int sqlexit(void) {
  sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  sqli_tcb *tcb = getsqlitcb();
  if (tcb == nullptr) return -1;
  if (*tcb->sqlcode == 0) set_forkflag(0);
  return *tcb->sqlcode;
}

}  // extern "C"
