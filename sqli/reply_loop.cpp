/*
** reply_loop.cpp: the reply side of a request: the reply loop and its
** dispatcher, the end-of-transmission checks, the protocol-error and
** server-exit paths, and the database-list readers.
**
** A reply sequence ends at the end code (12), at a server exit (56) or at
** a protocol error; after either of the last two the current connection
** is aborted and nothing more of the stream is read, so a broken or
** hostile server can never leave a request half-read behind. Every code
** read clears the request-in-progress flag (sqli_reply_code).
*/
#include <cstdlib>
#include <cstring>

#include "dvz_be.h"
#include "os_conv.h"
#include "os_glsenv.h"
#include "sqli_connect.h"
#include "sqli_errors.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_wire.h"

namespace {

constexpr int32_t cap_open_word = 0x1; /* the server keeps no database-open word of ours */
constexpr int server_gone = -25582;
constexpr int no_connection = -1803;
constexpr int insert_cursor = 6;

pipe_vbles *pipe_of(sqli_tcb *tcb) {
  return tcb != nullptr && tcb->curconn != nullptr ? tcb->curconn->io : nullptr;
}
bool read_failed(sqli_tcb *tcb) {
  const pipe_vbles *p = pipe_of(tcb);
  return p == nullptr || p->recv_failed != 0;
}

/* Writes code 56 back and sends it. */
void answer_exit(sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return;
  _iputint(SQR_EXIT, p);
  _iflushbuff(p);
}

/* The server went away: answered, the connection aborted with no further
** traffic, sqlca kept and -25582 recorded. */
void server_exit(sqli_tcb *tcb) {
  if (sqli_conn *conn = tcb->curconn; conn != nullptr) {
    answer_exit(tcb);
    if ((conn->capabilities & cap_open_word) == 0) conn->dbopen = 0;
  }
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ABORT_FLAGGED, 1);
  _iqseterr(server_gone);
  tcb->request_active = 0;
}

/* The end code: the done count of a variable-length insert, and the first
** error of the request put back. */
void end_of_replies(sqli_cursor *c, sqli_tcb *tcb) {
  if (c != nullptr && c->stmt_type == insert_cursor && c->nvarlen_cols > 0 && c->done_count != 0) {
    tcb->sqlca->sqlerrd[2] = c->done_count;
    c->done_count = 0;
  }
  if (tcb->first_saved != 0) restore_sqlca(tcb->sqlca, tcb);
}

/* A describe for a cursor declared on a prepared statement that owns the
** description goes to the statement and is copied to the cursor. */
int describe(sqli_cursor *c, sqli_tcb *tcb) {
  if (c->kind == 0 && c->link != nullptr) {
    auto *stmt =
        reinterpret_cast<sqli_cursor *>(static_cast<char *>(c->link) - offsetof(sqli_cursor, link));
    if ((stmt->flags & sqli_cur_has_cursor) != 0 &&
        ((tcb->flags & sqli_flag_deferred_prepare) != 0 ||
         (stmt->flags & sqli_cur_fetch_bufsize) != 0)) {
      if (_sqg_desc(stmt, tcb) != 0) return -1;
      _sqstealinfo(stmt, c);
      return 0;
    }
  }
  return _sqg_desc(c, tcb);
}

}  // namespace

int sqli_reply_code(sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  tcb->request_active = 0;
  if (p == nullptr) return -1;
  if (p->recv_failed == 0 && p->inleft >= 2) { /* in place, as _igetint would */
    const int code = dvz_ld_be_i16(p->inptr);
    p->inptr += 2;
    p->inleft -= 2;
    return code;
  }
  return _igetint(p);
}

namespace {

/* The replies read inside the loop, by code: each reader on the record. */
struct reply_reader {
  int code;
  int (*read)(sqli_cursor *c, sqli_tcb *tcb);
};
constexpr reply_reader reply_readers[] = {
    {SQR_DESCRIBE, describe},
    {SQR_CLOSED, _sqg_sqclose},
    {SQR_ERR, [](sqli_cursor *, sqli_tcb *tcb) { return _sqg_err(tcb); }},
    {SQR_TUPLE, _sqg_tuple},
    {SQR_DONE, _sqg_done},
    {SQR_PERR, [](sqli_cursor *, sqli_tcb *tcb) { return _sqg_perr(tcb); }},
    {SQR_TUPID, _sqg_tid},
    {SQR_COST, [](sqli_cursor *, sqli_tcb *tcb) { return _sqg_cost(tcb); }},
    {SQR_INSERTDONE, [](sqli_cursor *, sqli_tcb *tcb) { return _sqg_insertdone(tcb); }},
    {SQR_FILE, [](sqli_cursor *, sqli_tcb *tcb) { return _sqg_file_to_file(tcb); }},
    {SQR_XACTSTAT, [](sqli_cursor *, sqli_tcb *tcb) { return _sqg_txstate(tcb); }},
    {SQR_REASSOC, [](sqli_cursor *, sqli_tcb *tcb) { return _sqg_reassoc(tcb); }},
    {SQR_FPROUTINE, _sqg_getroutine},
    {SQR_FPRESULT, _sqg_fproutine},
    {SQR_FPARAM, _sqg_fparam},
};

}  // namespace

int process_msgs(sqli_cursor *c, int code, sqli_tcb *tcb) {
  if (code == SQR_EOT) {
    end_of_replies(c, tcb);
    return 0;
  }
  if (code == SQR_EXIT) {
    server_exit(tcb);
    return -1;
  }
  const reply_reader *reader = nullptr;
  for (const reply_reader &r : reply_readers)
    if (r.code == code) reader = &r;
  if (reader == nullptr) {
    _sqproterr(tcb, code);
    return -1;
  }
  const int result = reader->read(c, tcb);
  /* A reader that met a malformed field, or a receive failure, ends the
  ** stream here: what follows cannot be read in step. */
  if (result != 0 || read_failed(tcb)) {
    _sqproterr(tcb, code);
    return -1;
  }
  return 0;
}

int _sqr_messages(sqli_cursor *c, int defer, sqli_tcb *tcb) {
  if (tcb == nullptr) return -1;
  sqli_conn *conn = tcb->curconn;
  if (conn == nullptr || conn->io == nullptr) {
    tcb->request_active = 0;
    _iqseterr(no_connection);
    return -1;
  }
  if (conn->optmsg != 0 && defer == 1) return 0;
  _sqflip(tcb);
  while (tcb->curconn != nullptr) {
    const int code = sqli_reply_code(tcb);
    if (process_msgs(c, code, tcb) != 0 || code == SQR_EOT || code == SQR_EXIT) break;
  }
  tcb->request_active = 0;
  return *tcb->sqlcode < 0 ? -1 : 0;
}

int _chkeot(int code, sqli_tcb *tcb) {
  while (code == SQR_ERR) {
    if (_sqg_err(tcb) != 0 || read_failed(tcb)) {
      _sqproterr(tcb, code);
      return -1;
    }
    code = sqli_reply_code(tcb);
  }
  if (code == SQR_EOT) return 0;
  _sqproterr(tcb, code); /* a server exit takes its own path there */
  return -1;
}

int _sqr_eot(sqli_tcb *tcb) {
  if (pipe_of(tcb) == nullptr) return _iqseterr(no_connection), -1;
  _sqflip(tcb);
  const int code = sqli_reply_code(tcb);
  const int result = _chkeot(code, tcb);
  tcb->request_active = 0;
  return result;
}

int _sqr_ndone(sqli_tcb *tcb) {
  if (pipe_of(tcb) == nullptr) return _iqseterr(no_connection), -1;
  int code = sqli_reply_code(tcb);
  if (code == SQR_INSERTDONE) {
    if (_sqg_insertdone(tcb) != 0 || read_failed(tcb)) return _sqproterr(tcb, code), -1;
    code = sqli_reply_code(tcb);
  }
  int result;
  switch (code) {
    case SQR_ERR:
      result = _sqg_err(tcb);
      break;
    case SQR_DONE:
      result = _sqg_done(nullptr, tcb);
      break;
    case SQR_PERR:
      result = _sqg_perr(tcb);
      break;
    default:
      _sqproterr(tcb, code);
      return -1;
  }
  if (result != 0 || read_failed(tcb)) return _sqproterr(tcb, code), -1;
  code = sqli_reply_code(tcb);
  if (code == SQR_COST) {
    if (_sqg_cost(tcb) != 0 || read_failed(tcb)) return _sqproterr(tcb, code), -1;
    code = sqli_reply_code(tcb);
  }
  return _chkeot(code, tcb);
}

void _sqproterr(sqli_tcb *tcb, int code) {
  if (tcb == nullptr) return;
  if (code == SQR_EXIT) {
    server_exit(tcb);
    return;
  }
  if (tcb->sqlca->sqlcode >= 0) _iqseterr(SQLI_E_PROTOCOL);
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ABORT_FLAGGED, 1);
  tcb->request_active = 0;
}

/* ---- Database lists ----------------------------------------------------------------- */

int _sqg_dblist(sqli_dblist *list, const char *suffix, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  const size_t suffix_len = suffix != nullptr ? std::strlen(suffix) : 0;
  gl_cv_desc *cv = sqli_db_client_converter();
  char name[65536];
  for (;;) {
    const int n = _igetunsigned(p);
    if (p->recv_failed != 0 || n == 65535) return -1;
    if (n == 0) return 0;
    _igetpbuf(name, n, p);
    if (list->count >= list->max) continue;
    const char *text = name;
    int len = n;
    char *converted = nullptr;
    if (cv != nullptr) {
      int in = n;
      len = gcv_malloc(cv, name, &in, &converted);
      if (len < 0) {
        std::free(converted);
        continue;
      }
      if (len == 0)
        len = n;
      else
        text = converted;
    }
    const int64_t need = int64_t {len} + static_cast<int64_t>(suffix_len) + 1;
    if (need <= list->room) {
      char *at = list->area;
      std::memcpy(at, text, static_cast<size_t>(len));
      std::memcpy(at + len, suffix, suffix_len);
      at[len + static_cast<int64_t>(suffix_len)] = '\0';
      list->names[list->count++] = at;
      list->area += need;
      list->room -= static_cast<int32_t>(need);
    }
    std::free(converted);
  }
}

int _sqr_dblist(sqli_dblist *list, const char *suffix, sqli_tcb *tcb) {
  if (pipe_of(tcb) == nullptr) return _iqseterr(no_connection), -1;
  _sqflip(tcb);
  int code = sqli_reply_code(tcb);
  int result;
  if (code == SQR_ERR) {
    if (_sqg_err(tcb) != 0 || read_failed(tcb)) return _sqproterr(tcb, code), -1;
    result = _chkeot(sqli_reply_code(tcb), tcb);
  } else if (code == SQR_DBLIST || code == SQR_DBLIST_MORE) {
    if (_sqg_dblist(list, suffix, tcb) != 0 || read_failed(tcb)) return _sqproterr(tcb, code), -1;
    /* After a partial list the client says it has enough, as after 56. */
    const int after = code == SQR_DBLIST_MORE ? SQR_EXIT : sqli_reply_code(tcb);
    if (after == SQR_EXIT) {
      answer_exit(tcb);
      tcb->request_active = 1;
      result = _sqr_ndone(tcb);
    } else if (after == SQR_EOT) {
      result = 0;
    } else {
      _sqproterr(tcb, after);
      result = -1;
    }
  } else {
    _sqproterr(tcb, code);
    result = -1;
  }
  tcb->request_active = 0;
  return result < 0 || *tcb->sqlcode < 0 ? -1 : 0;
}
