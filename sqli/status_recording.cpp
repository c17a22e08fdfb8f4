/*
** status_recording.cpp: the status of the runtime's operations. An
** operation starts by clearing the status (_sqclrca); whatever goes wrong
** is recorded with _iqseterr or _iqset2err into sqlca, SQLCODE, SQLSTATE
** and the diagnostics area, and the first error after a clear is copied
** so that the reply reader can put it back. Also the report a WHENEVER
** STOP prints.
**
** Status bit 0x80 of the context says "nothing recorded since the last
** clear": a clear sets it, every recording clears it.
*/
#include <cstdio>
#include <cstring>

#include "sqli_context.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_reply.h"

sqlca_s sqlca;
int32_t SQLCODE;
char SQLSTATE[SQLI_SQLSTATE_SIZE];

namespace {

/* Copies at most size - 1 bytes of the text at src and a NUL. */
void copy_text(char *dst, const char *src, size_t size) {
  const size_t n = strnlen(src, size - 1);
  std::memmove(dst, src, n); /* the text may be sqlerrm itself */
  dst[n] = '\0';
}

/* True when the current connection defers small requests and its send
** buffer holds messages written since the last send. */
bool deferred_messages(const sqli_tcb *tcb) {
  const sqli_conn *conn = tcb->curconn;
  if (conn == nullptr || conn->optmsg == 0 || tcb->request_active != 0) return false;
  const pipe_vbles *io = conn->io;
  return io != nullptr && io->outbase != nullptr && io->outptr > io->outbase;
}

}  // namespace

int _sqclrca(sqli_tcb *tcb) {
  sqlca_s *ca = tcb->sqlca;
  ca->sqlcode = 0;
  *tcb->sqlcode = 0;
  ca->sqlerrd[1] = 0;
  std::memset(&ca->sqlwarn, ' ', sizeof ca->sqlwarn);
  ca->sqlerrm[0] = '\0';
  _sqinitdiag(tcb);
  /* The first-error copy is reset before -439 is recorded, so that the
  ** copy and the status bit describe the -439 and the next clear empties
  ** its diagnostics record. */
  if ((tcb->flags & sqli_flag_clear) == 0) {
    tcb->first_saved = 0;
    /* Only when something may have been written: the clear comes before
    ** every call, and most calls leave the text alone. */
    if (tcb->msgtext_written != 0) {
      std::memset(tcb->msgtext, 0, sizeof tcb->msgtext);
      tcb->msgtext_written = 0;
    }
  }
  tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_clear);
  if (tcb->request_active != 0) _iqseterr(SQLI_E_INPROGRESS);
  return *tcb->sqlcode;
}

int setisamerr(int isam, sqli_tcb *tcb) {
  const int32_t old = *tcb->sqlcode;
  if (isam != 0) {
    *tcb->sqlcode = isam;
    _sqsetCODE(tcb);
    *tcb->sqlcode = old;
  }
  return old;
}

void save_first_sqlca(const sqlca_s *ca, sqli_tcb *tcb) {
  sqlca_s *first = &tcb->first_sqlca;
  first->sqlcode = ca->sqlcode;
  copy_text(first->sqlerrm, ca->sqlerrm, sizeof first->sqlerrm);
  /* sqlerrp belongs to the caller and may fill all eight bytes. */
  std::memset(first->sqlerrp, 0, sizeof first->sqlerrp);
  std::memcpy(first->sqlerrp, ca->sqlerrp, strnlen(ca->sqlerrp, sizeof ca->sqlerrp));
  std::memcpy(first->sqlerrd, ca->sqlerrd, sizeof first->sqlerrd);
  first->sqlwarn = ca->sqlwarn;
  sqli_diag_area *diag = tcb->diag;
  if (diag != nullptr && diag->count > 0 && tcb->sqlstate[0] != '*')
    copy_text(diag->recs[diag->count - 1].sqlstate, tcb->sqlstate, SQLI_SQLSTATE_SIZE);
  tcb->first_saved = 1;
}

int _iqseterr(int code) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return code;
  if (code == 0 && (tcb->flags & sqli_flag_clear) != 0) return *tcb->sqlcode;
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_clear);

  /* Replies of requests left in the buffer by OPTMSG come first: an error
  ** among them stands and code is not recorded. */
  if (deferred_messages(tcb)) {
    sqli_conn *conn = tcb->curconn;
    sqli_cursor empty {};
    conn->optmsg = 0;
    _sqr_messages(&empty, 0, tcb);
    conn->optmsg = 1;
    if (*tcb->sqlcode != 0) return *tcb->sqlcode;
  }

  sqlca_s *ca = tcb->sqlca;
  ca->sqlcode = code;
  *tcb->sqlcode = code;
  _sqsetCODE(tcb);
  _sqsetsqlstate(tcb);
  setisamerr(ca->sqlerrd[1], tcb);
  if (tcb->first_saved == 0) save_first_sqlca(ca, tcb);
  return *tcb->sqlcode;
}

int _iqset2err(int code, int isam, const char *text) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return code;
  if (code == 0 && isam == 0 && text == nullptr && (tcb->flags & sqli_flag_clear) != 0)
    return *tcb->sqlcode;
  sqlca_s *ca = tcb->sqlca;
  if (text != nullptr) copy_text(ca->sqlerrm, text, sqli_errm_max + 1);
  ca->sqlcode = code;
  *tcb->sqlcode = code;
  _sqsetCODE(tcb);
  _sqsetsqlstate(tcb);
  const int16_t isam16 = static_cast<int16_t>(isam & 0xFFFF);
  ca->sqlerrd[1] = isam16;
  setisamerr(isam16, tcb);
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_clear);
  return *tcb->sqlcode;
}

int _sqseterr(int number) { return _iqseterr(number - 400); }

void sqli_stop_whenever(void) {
  const sqlca_s &ca = sqlca;
  char errp[sizeof ca.sqlerrp + 1] = {};
  std::memcpy(errp, ca.sqlerrp, strnlen(ca.sqlerrp, sizeof ca.sqlerrp));
  char errm[sizeof ca.sqlerrm + 1] = {};
  std::memcpy(errm, ca.sqlerrm, strnlen(ca.sqlerrm, sizeof ca.sqlerrm));
  std::fprintf(stderr, "\nProgram stopped by WHENEVER STOP\n");
  std::fprintf(stderr, "sqlca:\n");
  std::fprintf(stderr, " sqlcode:%d\n", static_cast<int>(ca.sqlcode));
  std::fprintf(stderr, " sqlerrm: '%s'\n", errm);
  std::fprintf(stderr, " sqlerrp: '%s'\n", errp);
  std::fprintf(stderr, " sqlerrd:\n");
  std::fprintf(stderr, " sqlerrd(1)=%d\n", static_cast<int>(ca.sqlerrd[0]));
  for (int i = 1; i < 6; ++i)
    std::fprintf(stderr, "        (%d)=%d\n", i + 1, static_cast<int>(ca.sqlerrd[i]));
  char warn[sizeof ca.sqlwarn];
  std::memcpy(warn, &ca.sqlwarn, sizeof warn);
  std::fprintf(stderr, " sqlwarn.sqlwarn0:%c\n", warn[0]);
  for (int i = 1; i < 8; ++i)
    std::fprintf(stderr, "        .sqlwarn%d:%c\n", i, warn[i]);
  std::fprintf(stderr, "\n");
  std::fflush(stderr);
}
