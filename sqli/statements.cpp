/*
** Statements that need no cursor: a statement run from its text or its
** remembered id, SELECT ... INTO and EXECUTE PROCEDURE ... INTO (one row
** into host variables), EXECUTE ... INTO, DATABASE and CLOSE DATABASE,
** CREATE PROCEDURE FROM a file, and BEGIN, COMMIT and ROLLBACK WORK. Each
** builds one request, reads its replies and leaves the outcome in sqlca.
*/
#include <cstring>

#include "gen_value.h"
#include "os_gentcb.h"
#include "sqli_asf.h"
#include "sqli_bind.h"
#include "sqli_conn.h"
#include "sqli_cursors.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_handshake.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_send.h"
#include "sqli_statement.h"
#include "sqli_statements.h"

namespace {

/* Errors of this file. */
enum {
  e_no_nul = -766, /* a character input without a terminating NUL */
  e_more_values = -684, /* the procedure returned more values than outputs */
  e_fewer_values = -685, /* ... or fewer */
  e_no_norepl = -1830, /* BEGIN WORK WITHOUT REPLICATION not served */
  no_row = 100,
  conn_lost_a = -25587,
  conn_lost_b = -25582
};

/* Statement types the server reports. */
enum {
  st_database = 1,
  st_select = 3,
  st_create_database = 12,
  st_drop_database = 13,
  st_close_database = 31,
  st_start_database = 38,
  st_exec_proc = 56,
  st_commit = 35, /* _sqxclose's transaction-end code for COMMIT */
  st_rollback = 36
};

/* Host types of character inputs that must carry their NUL. */
constexpr int host_char = 100, host_string = 109, host_varchar = 114;

/* The read replies defer under OPTMSG when the statement allows it. */
constexpr int defer_optmsg = 1, defer_never = 0;

int sqlcode(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }

/* The connection's ANSI flag (sqlwarn2 at the last database). */
bool ansi_db(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn->dbflags[1] != 0;
}

/* Makes sure of a current connection: 0, or the status recorded. */
int need_conn(sqli_tcb *tcb) {
  if (int rc = _sqs_(0, tcb); rc < 0) return rc;
  if (tcb->curconn == nullptr) return sqlcode(tcb) < 0 ? sqlcode(tcb) : _iqseterr(SQLI_E_PROTOCOL);
  return 0;
}

/* Types whose statement stays at the server after the run: the database
** statements are not released. */
bool keeps_statement(int type) {
  return type == st_database || type == st_create_database || type == st_close_database ||
         type == st_start_database;
}

/* The release follows a run while the reparse flag is set. */
bool releasing(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn->reparse != 0;
}

/* Re-records code after reading replies that may have replaced it. */
int rerecord(int code, sqli_tcb *tcb) {
  if (sqlcode(tcb) != code) _iqseterr(code);
  return sqlcode(tcb);
}

/* The ANSI and last-database flags of a newly opened database. */
void take_db_flags(sqli_conn *conn, const sqli_tcb *tcb) {
  conn->dbflags[1] = tcb->sqlca->sqlwarn.sqlwarn2 == 'W' ? 1 : 0;
  conn->dbflags[5] = tcb->sqlca->sqlwarn.sqlwarn7 == 'W' ? 1 : 0;
}

/* What a database-level statement of type changes on the connection.
** Returns 0, or SQLCODE when a pending reassociation fails. */
int database_effects(int type, sqli_tcb *tcb) {
  if (_sqreassoc(tcb) != 0) return *tcb->sqlcode;
  sqli_conn *conn = tcb->curconn;
  if (conn == nullptr) return 0;
  if (type != st_drop_database) {
    if (type != st_close_database) take_db_flags(conn, tcb);
    _sqfree_cursors(conn);
  }
  if (type == st_drop_database || type == st_close_database) conn->dbflags[1] = 0;
  gen_setansidb(conn->dbflags[1]);
  if (type == st_database || type == st_create_database || type == st_start_database) {
    conn->dbopen = 1;
    if (conn == conlist.deflt && conlist.default_kind == sqli_default_implicit) {
      sqlca_warn &w = tcb->sqlca->sqlwarn;
      if ((conn->capabilities & sqli_cap_current) == 0) w.sqlwarn4 = 'W';
      const char flags[6] = {w.sqlwarn1, w.sqlwarn2, w.sqlwarn3,
                             w.sqlwarn4, w.sqlwarn6, w.sqlwarn7};
      for (int i = 0; i < 6; ++i)
        conn->dbflags[i] = flags[i] == 'W' ? 1 : 0;
      sqli_settle_float(conn, conn->capabilities, tcb);
    }
  }
  if (type == st_close_database) conn->dbopen = 0;
  return 0;
}

/* A descriptor over count entries, or over count value records when
** entries is null. */
sqlda input_desc(int count, sqlvar_struct *entries) {
  sqlda desc {};
  desc.sqld = static_cast<int16_t>(count);
  desc.sqlvar = entries;
  return desc;
}

/* Releases (reparse flag) or closes the statement when release is set. */
void release_or_close(int release, sqli_tcb *tcb) {
  if (release == 0) return;
  if (releasing(tcb))
    _sqs_rel(tcb);
  else
    _sqs_close(tcb);
}

/* Copy flags of the row copy for a descriptor and a descriptor copy. */
int copy_flags(int desc_flag, int desc_copy) {
  return (desc_flag != 0 ? 2 : 0) | (desc_copy != 0 ? 4 : 0);
}

/* The wanted output types when the server takes them, the strings at their
** full length for a descriptor (desc_flag); 0 or the error (the statement
** then released or closed and the replies read). */
int send_rettypes(sqli_cursor *cursor, int noutput, sqlvar_struct *outputs, int desc_flag,
                  int release, sqli_tcb *tcb) {
  if (tcb->curconn == nullptr || (tcb->curconn->capabilities & sqli_cap_extended) == 0) return 0;
  if (cursor->stmt_id == -1) cursor->flags |= sqli_cur_single_row;
  if ((cursor->flags & sqli_cur_prep_deferred) != 0) return 0;
  constexpr int host_types = SQLI_RT_SEND | SQLI_RT_FIRST_ONE | SQLI_RT_CHECK_QUAL;
  constexpr int desc_types = host_types | SQLI_RT_FULL_STRINGS;
  int notneeded = 0;
  const int rc = _sqs_rettype(cursor, noutput, outputs, desc_flag != 0 ? desc_types : host_types,
                              &notneeded, tcb);
  if (rc == 0) return 0;
  release_or_close(release, tcb);
  _sqr_messages(cursor, defer_never, tcb);
  return rerecord(rc, tcb);
}

/* After the replies of SELECT ... INTO or EXECUTE PROCEDURE ... INTO:
** drops what the run left on the record when it is not kept. */
void drop_run_memory(sqli_cursor *cursor, int release, const sqli_tcb *tcb) {
  if (release != 0 && releasing(tcb)) _sqfrcmem(cursor);
}

}  // namespace

int sqli_database_effects(int type, sqli_tcb *tcb) { return database_effects(type, tcb); }

/* ---- Checks of character inputs ------------------------------------------------------ */

int str_term(const char *buffer, int len) {
  for (int i = len - 1; i >= 0; --i)
    if (buffer[i] == '\0') return 0;
  _iqseterr(e_no_nul);
  return -1;
}

int _sqcheck_eos(const sqlvar_struct *inputs, const value_t *values, int count, sqli_tcb *tcb) {
  if (count <= 0 || !ansi_db(tcb)) return 0;
  for (int i = 0; i < count; ++i) {
    int type;
    const char *data;
    int len;
    if (inputs != nullptr) {
      const sqlvar_struct &v = inputs[i];
      if (v.sqlind != nullptr && *v.sqlind < 0) return 0;
      type = v.sqltype & 0xFF;
      data = v.sqldata;
      len = v.sqllen;
    } else if (values != nullptr) {
      const value_t &v = values[i];
      type = v.vtype & 0xFF;
      data = v.vptr;
      len = v.vlen;
    } else {
      return 0;
    }
    if (type != host_char && type != host_string && type != host_varchar) continue;
    if (data == nullptr || str_term(data, len) != 0) {
      if (data == nullptr) _iqseterr(e_no_nul);
      return -1;
    }
  }
  return 0;
}

/* ---- Statements from text ------------------------------------------------------------ */

int32_t sqli_stmt(int32_t, sqli_stmtrec *record, const char *const *cmdtxt, int32_t ninput,
                  sqlvar_struct *input, value_t *values, void *coll_a, void *coll_b, void *coll_c,
                  int32_t stmt_kind, int32_t coll_word, int32_t coll_flag) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  tcb->sqlca->sqlerrd[2] = 0;
  if (coll_flag != 0)
    return dvz_cl_stmnt(ninput, input, values, coll_a, coll_b, coll_c, stmt_kind, coll_word);
  if (record->stmt_type == 0) record->stmt_id = -1;

  sqli_cursor local {};
  local.flags = sqli_cur_statement_path;
  local.stmt_type = record->stmt_type;
  local.stmt_id = record->stmt_id;
  if (record->stmt_id == -1 && cmdtxt == nullptr) return _iqseterr(SQLI_E_NOT_PREPARED);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  if (_sqcheck_eos(input, values, ninput, tcb) != 0) return sqlcode(tcb);
  if (record->stmt_id != -1) {
    _sqs_id(record->stmt_id, tcb);
  } else {
    if (_sqs_cmd(const_cast<char **>(cmdtxt), ninput, tcb) < 0) return sqlcode(tcb);
    if (tcb->curconn->optmsg == 0) _sqs_ndesc(tcb);
  }

  /* Taken now: a lost connection must not make the record keep an id. */
  const bool reparse = releasing(tcb);
  /* Stores what the server reported into the caller's record. */
  auto store = [&] {
    record->stmt_type = local.stmt_type;
    record->stmt_id = reparse ? -1 : local.stmt_id;
  };
  const sqlda desc = input_desc(ninput, input);
  if (int rc = _sqs_vs(SQ_BIND, &desc, values, tcb); rc < 0) {
    if (reparse && !keeps_statement(record->stmt_type)) _sqs_rel(tcb);
    _sqr_messages(&local, defer_never, tcb);
    store();
    _sqfrcmem(&local);
    return rerecord(rc, tcb);
  }
  if (tcb->blob_count > 0) {
    if (int rc = _sqs_blobs(&desc, values, tcb); rc < 0) {
      /* The program's own value, second word of a locator error. */
      const int32_t word = tcb->sqlca->sqlerrd[1];
      _sqr_messages(&local, defer_never, tcb);
      store();
      _sqfrcmem(&local);
      if (rerecord(rc, tcb) == rc) tcb->sqlca->sqlerrd[1] = word;
      return sqlcode(tcb);
    }
  }
  _sqs_exe(tcb);
  if (reparse && !keeps_statement(record->stmt_type)) _sqs_rel(tcb);
  _sqr_messages(&local, defer_optmsg, tcb);
  store();
  _sqfrcmem(&local);

  const int type = record->stmt_type;
  if (sqlcode(tcb) >= 0 && (keeps_statement(type) || type == st_drop_database)) {
    if (int rc = database_effects(type, tcb); rc != 0) return rc;
  }
  if (reparse) record->stmt_id = -1;
  return sqlcode(tcb);
}

/* ---- SELECT ... INTO and EXECUTE PROCEDURE ... INTO ---------------------------------- */

int _sqinitcursor(sqli_cursor *cursor, const char *const *cmdtxt, int ninput, const sqlda *bind,
                  const value_t *values, sqlvar_struct *inputs, sqli_tcb *tcb, int release) {
  if (int rc = _sqclrca(tcb); rc != 0) return rc;
  _sqsetup(cursor);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  const bool deferred = (cursor->flags & sqli_cur_prep_deferred) != 0;
  if (!deferred && cursor->stmt_id == -1) {
    if (cmdtxt == nullptr) return _iqseterr(SQLI_E_NOT_PREPARED);
    if (_sqcheck_eos(inputs, values, ninput, tcb) != 0) return sqlcode(tcb);
    if (_sqs_cmd(const_cast<char **>(cmdtxt), ninput, tcb) < 0) return sqlcode(tcb);
    _sqs_ndesc(tcb);
  } else if (cursor->stmt_id != -1) {
    if (_sqcheck_eos(inputs, values, ninput, tcb) != 0) return sqlcode(tcb);
    _sqs_id(cursor->stmt_id, tcb);
  }
  const sqlda own = input_desc(ninput, inputs);
  const sqlda *desc = bind != nullptr && bind->sqld > 0 ? bind : &own;
  if (int rc = _sqs_vs(SQ_BIND, desc, values, tcb); rc < 0) {
    release_or_close(release, tcb);
    _sqr_messages(cursor, defer_never, tcb);
    return rerecord(rc, tcb);
  }
  cursor->nbuffered = 0;
  cursor->bufpos = cursor->buffer;
  /* The done of an earlier run must not stand for this one's. */
  cursor->flags &= ~static_cast<uint32_t>(sqli_cur_done);
  return 0;
}

int __slct(sqli_cursor *cursor, const char *const *cmdtxt, int ninput, sqlvar_struct *inputs,
           int noutput, sqlvar_struct *outputs, const value_t *values, int desc_copy, int release,
           sqli_tcb *tcb, int desc_flag, const char *) {
  if (tcb == nullptr) return -1;
  if (int rc = _sqinitcursor(cursor, cmdtxt, ninput, nullptr, values, inputs, tcb, release);
      rc != 0)
    return rc;
  if (int rc = send_rettypes(cursor, noutput, outputs, desc_flag, release, tcb); rc != 0) return rc;
  _sqs_slct(tcb);
  release_or_close(release, tcb);
  _sqr_messages(cursor, defer_never, tcb);
  const int code = sqlcode(tcb);
  if (code == conn_lost_a || code == conn_lost_b) return code;
  if (code >= 0 && (cursor->flags & sqli_cur_done) != 0) {
    const bool ansi_empty =
        ansi_db(tcb) && cursor->stmt_type == st_select && tcb->sqlca->sqlerrd[2] <= 0;
    if ((cursor->nbuffered == 0 && cursor->stmt_type != st_select) || ansi_empty) _iqseterr(no_row);
  }
  if (cursor->nbuffered == 1 && sqlcode(tcb) == 0) {
    cursor->bufpos = cursor->buffer; /* the row copy reads from the position */
    _iqupdtargs(cursor, noutput, outputs, copy_flags(desc_flag, desc_copy), tcb);
    cursor->flags &= ~static_cast<uint32_t>(sqli_cur_single_row);
  }
  drop_run_memory(cursor, release, tcb);
  return sqlcode(tcb);
}

int32_t sqli_slct(int32_t, void *cursor, const char *const *cmdtxt, int32_t ninput,
                  sqlvar_struct *inputs, int32_t noutput, sqlvar_struct *outputs, int32_t desc_flag,
                  void *, void *, void *coll_a, void *coll_b, int32_t coll_flag) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (coll_flag != 0) {
    _sqclrca(tcb);
    return dvz_cl_slct(ninput, inputs, noutput, outputs, coll_a, coll_b);
  }
  return __slct(static_cast<sqli_cursor *>(cursor), cmdtxt, ninput, inputs, noutput, outputs,
                nullptr, 0, 1, tcb, desc_flag, nullptr);
}

int _fgislct(sqli_cursor *cursor, const char *const *cmdtxt, int ninput, const value_t *values,
             int noutput, sqlvar_struct *outputs) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  return __slct(cursor, cmdtxt, ninput, nullptr, noutput, outputs, values, 0, 1, tcb, 0, nullptr);
}

int32_t sqli_proc_exec_2(void *handle, const char *const *cmdtxt, int32_t ninput,
                         sqlvar_struct *inputs, int32_t noutput, sqlvar_struct *outputs, value_t *,
                         int32_t desc_copy, int32_t release, void *context, int32_t desc_flag,
                         const char *, int32_t) {
  sqli_tcb *tcb = context != nullptr ? static_cast<sqli_tcb *>(context) : CheckGlobInit();
  if (tcb == nullptr) return -1;
  auto *cursor = static_cast<sqli_cursor *>(handle);
  if (int rc = _sqinitcursor(cursor, cmdtxt, ninput, nullptr, nullptr, inputs, tcb, release);
      rc != 0)
    return rc;
  if (tcb->blob_count > 0) {
    const sqlda own = input_desc(ninput, inputs);
    if (int rc = _sqs_blobs(&own, nullptr, tcb); rc < 0) {
      _sqr_messages(cursor, defer_never, tcb);
      return rerecord(rc, tcb);
    }
  }
  if (int rc = send_rettypes(cursor, noutput, outputs, desc_flag, release, tcb); rc != 0) return rc;
  _sqs_exproc(tcb);
  release_or_close(release, tcb);
  _sqr_messages(cursor, defer_never, tcb);
  const int code = sqlcode(tcb);
  if (code == conn_lost_a || code == conn_lost_b) return code;
  const int rows = cursor->nbuffered;
  cursor->bufpos = cursor->buffer;
  if (rows > 0 && code >= 0)
    _iqupdtargs(cursor, noutput, outputs, copy_flags(desc_flag, desc_copy), tcb);
  if (rows == 0 && sqlcode(tcb) >= 0 && (cursor->flags & sqli_cur_done) != 0) _iqseterr(no_row);
  if (tcb->sqlca->sqlwarn.sqlwarn3 == 'W') {
    _sqclrca(tcb);
    _iqseterr(cursor->ncols < noutput ? e_fewer_values : e_more_values);
  }
  drop_run_memory(cursor, release, tcb);
  return sqlcode(tcb);
}

int32_t sqli_proc_exec(void *cursor, const char *const *cmdtxt, int32_t ninput,
                       sqlvar_struct *inputs, int32_t noutput, sqlvar_struct *outputs,
                       value_t *values, int32_t desc_copy, int32_t release, void *context,
                       int32_t desc_flag, const char *desc_name) {
  return sqli_proc_exec_2(cursor, cmdtxt, ninput, inputs, noutput, outputs, values, desc_copy,
                          release, context, desc_flag, desc_name, 0);
}

int _sqexecinto(sqli_cursor *cursor, sqlda *bind, const char *in_name, const value_t *values,
                sqlda *output, const char *out_name, int desc_flag, sqli_tcb *tcb) {
  if (tcb == nullptr) return -1;
  if (in_name != nullptr && (bind = _iqdlocate(in_name, tcb)) == nullptr)
    return _iqseterr(SQLI_E_NODESC);
  if (out_name != nullptr && (output = _iqdlocate(out_name, tcb)) == nullptr)
    return _iqseterr(SQLI_E_NODESC);
  int ninput = 0;
  sqlvar_struct *inputs = nullptr;
  if (bind != nullptr && bind->sqld > 0) {
    ninput = bind->sqld;
    inputs = bind->sqlvar;
  } else if (values == nullptr) {
    ninput = cursor->nin;
    inputs = cursor->inlist;
  }
  const int noutput = output != nullptr ? output->sqld : 0;
  sqlvar_struct *outputs = output != nullptr ? output->sqlvar : nullptr;
  const auto *text = reinterpret_cast<const char *const *>(cursor->stmt_text);
  int rc;
  if (cursor->stmt_type != st_exec_proc)
    rc = __slct(cursor, text, ninput, inputs, noutput, outputs, values, 0, 0, tcb, desc_flag,
                out_name);
  else if (noutput == 0)
    rc = _sqexecute(cursor, bind, in_name, values, tcb);
  else
    rc = sqli_proc_exec_2(cursor, text, ninput, inputs, noutput, outputs, nullptr, 0, 0, tcb,
                          desc_flag, out_name, desc_flag);
  if (int32_t *table = cursor->rowlen_table; table != nullptr) {
    std::memset(table + rowlen_first, 0,
                sizeof(int32_t) * static_cast<size_t>(table[rowlen_capacity]));
    table[rowlen_total] = 0;
    table[rowlen_index] = -1;
  }
  return rc;
}

/* ---- DATABASE, CLOSE DATABASE, CREATE PROCEDURE FROM --------------------------------- */

int32_t sqli_db_open(const char *name, int32_t mode) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return *tcb->sqlcode;
  tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_dbstmt);
  if (need_conn(tcb) != 0) return *tcb->sqlcode;
  if (_sqs_dopen(name, mode, tcb) < 0) return *tcb->sqlcode;
  sqli_cursor local {};
  _sqr_messages(&local, defer_optmsg, tcb);
  _sqfrcmem(&local);
  sqli_conn *conn = tcb->curconn;
  if (sqlcode(tcb) < 0 || conn == nullptr) return *tcb->sqlcode;
  if (_sqreassoc(tcb) != 0) return *tcb->sqlcode;
  conn = tcb->curconn;
  if (conn == nullptr) return *tcb->sqlcode;
  take_db_flags(conn, tcb);
  gen_setansidb(conn->dbflags[1]);
  sqli_settle_float(conn, conn->capabilities, tcb);
  _sqfree_cursors(conn);
  conn->dbopen = 1;
  return *tcb->sqlcode;
}

int32_t sqli_db_close(void) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  _sqclose_cursors(tcb);
  if (tcb->curconn == nullptr) return sqlcode(tcb);
  _sqs_dclose(tcb);
  sqli_cursor local {};
  _sqr_messages(&local, defer_never, tcb);
  _sqfrcmem(&local);
  if (sqli_conn *conn = tcb->curconn; conn != nullptr) {
    _sqfree_cursors(conn);
    conn->dbopen = 0;
  }
  return sqlcode(tcb);
}

int32_t sqli_proc_create(const char *file) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  if (_sqs_procfile(file, tcb) != 0) {
    /* A failure after the text began went out as a blob abort: end it. */
    if (tcb->request_active != 0) {
      const int rc = sqlcode(tcb);
      sqli_cursor none {};
      _sqr_messages(&none, defer_never, tcb);
      return rerecord(rc, tcb);
    }
    return sqlcode(tcb);
  }
  _sqs_ndesc(tcb);
  _sqs_exe(tcb);
  sqli_cursor local {};
  local.flags = sqli_cur_statement_path;
  _sqr_messages(&local, defer_never, tcb);
  _sqfrcmem(&local);
  return sqlcode(tcb);
}

/* ---- Transactions -------------------------------------------------------------------- */

int32_t sqli_trans_begin2(int32_t replicate) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  if (replicate == 0) {
    if ((tcb->curconn->capabilities & sqli_cap_norepl) == 0) {
      _iqseterr(e_no_norepl);
      return -1;
    }
    _sqs_beginwork_norep(tcb);
  } else {
    _sqs_beginwork(tcb);
  }
  sqli_cursor none {};
  _sqr_messages(&none, defer_optmsg, tcb);
  return sqli_cursor_call_finish(tcb);
}

int32_t sqli_trans_begin(void) { return sqli_trans_begin2(1); }

int32_t sqli_trans_commit(void) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  if (tcb->curconn != nullptr && _sqxclose(st_commit, tcb) < 0) return sqlcode(tcb);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  _sqs_commit(tcb);
  sqli_cursor none {};
  _sqr_messages(&none, defer_never, tcb);
  return sqli_cursor_call_finish(tcb);
}

int _sqrollback(sqli_tcb *tcb) {
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  if (tcb->curconn != nullptr && _sqxclose(st_rollback, tcb) < 0) return sqlcode(tcb);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  _sqs_roll(tcb);
  sqli_cursor none {};
  _sqr_messages(&none, defer_never, tcb);
  return sqli_cursor_call_finish(tcb);
}

int32_t sqli_trans_rollback(void) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  return _sqrollback(tcb);
}
