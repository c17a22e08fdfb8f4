/*
** dynamic_sql.cpp: dynamic SQL. PREPARE makes a statement record (kind 1)
** whose text the server parses and describes; EXECUTE runs it with input
** values (SELECT and EXECUTE PROCEDURE through the single-row path of
** statements.cpp); EXECUTE IMMEDIATE prepares and runs a text on a
** temporary record; DESCRIBE hands a record's description to the caller
** as a new sqlda or into a named descriptor (named_descriptors.cpp).
**
** Statement records live on the current connection's list
** (cursor_records.cpp). A reply read that fails hard drops the connection
** and its records: after every read the record is checked with
** sqli_cursor_alive before it is touched again. Statements on collection
** variables go to the collection module through dvz_cl_*.
*/
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gl_conv.h"
#include "os_context.h"
#include "os_env.h"
#include "sqli_bind.h"
#include "sqli_conn.h"
#include "sqli_cursors.h"
#include "sqli_diag_internal.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_prepare.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_statements.h"

namespace {

/* Statement types the server reports that this file reacts to. */
enum {
  st_database = 1,
  st_select = 2,
  st_insert = 6,
  st_create_database = 12,
  st_drop_database = 13,
  st_revoke = 19,
  st_close_database = 31,
  st_warn_a = 32,
  st_warn_b = 33,
  st_commit = 35,
  st_rollback = 36,
  st_start_database = 38,
  st_exec_proc = 56
};

/* Capability bits of the describe-with-id request. */
constexpr int32_t caps_describe_id = 0x20 | 0x40;
/* The cursor's deferred-open state while the first FETCH opens it. */
constexpr int16_t opening_by_fetch = 2;
/* Longest first word get_stmt_type looks at. */
constexpr size_t stmt_word_max = 255;

/* SQL types whose length grows with a code-set conversion. */
constexpr int sql_char = 0, sql_varchar = 13, sql_nchar = 15, sql_nvarchar = 16;
constexpr int sql_float = 3, sql_smallfloat = 4;

int32_t sqlcode(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }
int32_t caps(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr ? tcb->curconn->capabilities : 0;
}
int optmsg(const sqli_tcb *tcb) { return tcb->curconn != nullptr ? tcb->curconn->optmsg : 0; }
bool deferred_prepare_on(const sqli_tcb *tcb) {
  return (tcb->flags & sqli_flag_deferred_prepare) != 0;
}
bool deferred(const sqli_cursor *c) { return (c->flags & sqli_cur_prep_deferred) != 0; }
/* XA mode applies: capability 1 without 0x8000 and 0x10000. */
bool xa_active(const sqli_tcb *tcb) {
  return tcb->xa_mode != 0 && (caps(tcb) & 1) != 0 && (caps(tcb) & 0x18000) == 0;
}

/* Short names for the common end of an entry point (sqli_cursors.h). */
constexpr auto finish = sqli_cursor_call_finish;
constexpr auto fail = sqli_cursor_call_fail;

/* Makes sure of a current connection: 0, or the status recorded. */
int need_conn(sqli_tcb *tcb) {
  if (int rc = _sqs_(0, tcb); rc < 0) return rc;
  if (tcb->curconn == nullptr) return sqlcode(tcb) < 0 ? sqlcode(tcb) : _iqseterr(SQLI_E_PROTOCOL);
  return 0;
}

/* The describe request the record's preparation takes. */
void send_describe(const sqli_cursor *c, sqli_tcb *tcb) {
  if ((caps(tcb) & caps_describe_id) != 0 && (deferred_prepare_on(tcb) || deferred(c)))
    _sqs_ndesc_id(tcb);
  else
    _sqs_ndesc(tcb);
}

/* The single-row types: their EXECUTE returns a row into the outputs. */
bool single_row(int type) { return type == st_select || type == st_exec_proc; }

/* Types after which the connection's database state is brought up to date. */
bool changes_database(int type) {
  return type == st_database || type == st_create_database || type == st_close_database ||
         type == st_drop_database || type == st_start_database;
}

/* Frees what a temporary record received (description, buffers, tables). */
void drop_temporary(sqli_cursor *c) {
  _sqfrcmem(c);
  sqli_release(c->marked_rows);
  c->marked_rows = nullptr;
  _sqfrcmdtxt(c->stmt_text);
  c->stmt_text = nullptr;
}

/* Execution of a prepared record: the statement id, the inputs (unless
** immediate), the execute request (and the release when immediate), the
** replies. Returns the sqlca code. The record may be gone afterwards (a
** dropped connection, or a database statement that frees the list). */
int execute_statement(sqli_cursor *c, sqlda *bind, const char *in_name, const value_t *values,
                      bool immediate, sqli_tcb *tcb) {
  const int type = c->stmt_type;
  if (type == st_commit || type == st_rollback) {
    if (_sqxclose(type, tcb) < 0) return sqlcode(tcb);
  }
  if (type == st_database || type == st_create_database || type == st_start_database)
    _iqdbflag(tcb);
  if (type == st_revoke) _iqrevokeflag(tcb);
  if (int rc = need_conn(tcb); rc != 0) return rc;

  sqlda counted {};
  const sqlda *inputs = nullptr;
  if (!immediate) {
    if (in_name != nullptr && (bind = _iqdlocate(in_name, tcb)) == nullptr)
      return _iqseterr(SQLI_E_NODESC);
    const int marks = _sqcmdqmarks(c->stmt_text);
    if (bind != nullptr) {
      inputs = bind;
    } else if (values != nullptr) {
      /* A value array carries no count: it holds one value per placeholder. */
      counted.sqld = static_cast<int16_t>(marks);
      inputs = &counted;
    }
    const int given = inputs != nullptr ? inputs->sqld : 0;
    if (marks != 0 && given != marks) return _iqseterr(SQLI_E_QMARKS);
    const sqlvar_struct *entries = bind != nullptr ? bind->sqlvar : nullptr;
    if (_sqcheck_eos(entries, values, given, tcb) != 0) return sqlcode(tcb);
  }

  if (!deferred(c) || (c->stmt_id != -1 && c->stmt_id != 0)) _sqs_id(c->stmt_id, tcb);
  if (!immediate && inputs != nullptr) {
    int rc = _sqs_vs(SQ_BIND, inputs, values, tcb);
    if (rc >= 0 && tcb->blob_count > 0) rc = _sqs_blobs(inputs, values, tcb);
    if (rc < 0) {
      _sqr_messages(c, 0, tcb);
      if (sqlcode(tcb) != rc) _iqseterr(rc);
      return sqlcode(tcb);
    }
  }
  _sqs_exe(tcb);
  if (immediate) _sqs_rel(tcb);
  _sqr_messages(c, immediate ? 0 : optmsg(tcb), tcb);
  if (sqlcode(tcb) >= 0 && changes_database(type)) {
    if (int rc = sqli_database_effects(type, tcb); rc != 0) return rc;
  }
  return sqlcode(tcb);
}

/* A new sqlda of the record's description, as one zeroed block (header,
** then one entry per column). The names point into the record's pool and
** stay owned by it. 0, or -406 recorded (*out untouched). */
int _iqnormdesc(const sqli_cursor *c, sqlda **out) {
  const int n = c->coldesc != nullptr ? c->ncols : 0;
  constexpr size_t align = alignof(sqlvar_struct);
  const size_t head = (sizeof(sqlda) + align - 1) / align * align;
  /* The caller frees the block with free(). */
  void *block = std::calloc(1, head + sizeof(sqlvar_struct) * static_cast<size_t>(n));
  if (block == nullptr) return _iqseterr(SQLI_E_NOMEM);
  auto *da = static_cast<sqlda *>(block);
  auto *vars =
      n > 0 ? reinterpret_cast<sqlvar_struct *>(static_cast<char *>(block) + head) : nullptr;
  da->sqld = static_cast<int16_t>(n);
  da->sqlvar = vars;
  const auto *cols = static_cast<const dbfd *>(c->coldesc);
  const char *pool = c->conv_colname_pool != nullptr ? c->conv_colname_pool : c->colname_pool;
  for (int i = 0; i < n; ++i) {
    const dbfd &col = cols[i];
    sqlvar_struct &v = vars[i];
    settypelen(&col, &v);
    v.sqlname = pool != nullptr ? const_cast<char *>(pool) + col.name_offset : nullptr;
    v.sqltypename = col.type_name;
    v.sqltypelen = col.type_name_len;
    v.sqlownername = col.owner_name;
    v.sqlownerlen = col.owner_name_len;
    v.sqlxid = col.xid;
    if ((col.flags & dbfd_distinct_builtin) != 0)
      v.sqlsourcetype = static_cast<int16_t>(col.source);
    else
      v.sqlsourceid = col.source;
  }
  *out = da;
  return 0;
}

}  // namespace

int _sqexecute(sqli_cursor *cursor, sqlda *bind, const char *in_name, const value_t *values,
               sqli_tcb *tcb) {
  if (tcb == nullptr) return -1;
  return execute_statement(cursor, bind, in_name, values, false, tcb);
}

/* ---- Type and length of a described column ----------------------------------------- */

void settypelen(const dbfd *col, sqlvar_struct *var) {
  int type;
  int32_t len;
  if ((col->type & 0x400) != 0) {
    const bool small = ((col->length >> 8) & 0xFF) == 8;
    type = small ? sql_smallfloat : sql_float;
    len = small ? 4 : 8;
  } else {
    type = (col->flags & dbfd_distinct_builtin) != 0 ? col->source : col->type;
    len = col->length;
    const int base = type & 0xFF;
    if (base == sql_char || base == sql_varchar || base == sql_nchar || base == sql_nvarchar) {
      if (gl_cv_desc *cv = sqli_db_client_converter(); cv != nullptr) {
        const double grown = std::ceil(static_cast<double>(len) * gl_iconv_expansion(cv));
        if (grown > len && grown < 2147483647.0) len = static_cast<int32_t>(grown);
      }
    }
  }
  if ((col->flags & dbfd_bit4000) != 0)
    type |= 0x4000;
  else if ((col->flags & dbfd_bit2000) != 0)
    type |= 0x2000;
  else if ((col->flags & dbfd_distinct) != 0)
    type |= 0x800;
  if ((col->flags & (dbfd_udt_bit1000 | dbfd_bit1000)) != 0) type |= 0x1000;
  var->sqltype = static_cast<int16_t>(type);
  var->sqllen = len;
}

/* ---- Statement type of a text ------------------------------------------------------- */

int get_stmt_type(const char *text) {
  if (text == nullptr) return -1;
  rldctype();
  const auto cls = [](char ch) { return _ixctype[static_cast<unsigned char>(ch) + 1]; };
  while (*text != '\0' && (cls(*text) & os_ct_space) != 0)
    ++text;
  std::string word;
  for (; *text != '\0' && (cls(*text) & os_ct_space) == 0 && word.size() < stmt_word_max; ++text)
    word += static_cast<char>(_ix2lowmap[static_cast<unsigned char>(*text)]);
  if (word == "select") return st_select;
  if (word == "insert") return st_insert;
  if (word == "execute") return st_exec_proc;
  return -1;
}

/* ---- PREPARE ------------------------------------------------------------------------ */

int _iqprepare(void *handle, const char *text, sqli_tcb *tcb) {
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  _sqsetup(c);
  if (int rc = need_conn(tcb); rc != 0) return rc;
  if (c->stmt_id != -1) {
    if (deferred(c)) {
      _sqfrcmdtxt(c->stmt_text);
      c->stmt_text = nullptr;
    } else {
      _sqrelease_cursor(c, tcb);
      if (!sqli_cursor_alive(c, tcb)) return sqlcode(tcb);
      c->stmt_type = 0;
      _sqsetup(c);
    }
  }
  const auto fail = [&](int code) {
    if (sqli_cursor_alive(c, tcb)) _sqremove_cursor(c, tcb);
    return code;
  };
  if (_sqs_pre(text, tcb) < 0) return fail(sqlcode(tcb));
  if (c->stmt_text == nullptr) {
    const char *one[] = {text, nullptr};
    if (_sqcopycmdtxt(one, handle, 0) != 0) {
      /* The prepare message is in the buffer: end the request, read it. */
      _sqr_messages(c, 0, tcb);
      _iqseterr(SQLI_E_NOMEM);
      return fail(sqlcode(tcb));
    }
  }
  const bool read_now = !deferred_prepare_on(tcb) && !deferred(c);
  send_describe(c, tcb);
  _sqs_wantdone(tcb);
  if (read_now) _sqr_messages(c, 0, tcb);
  if (sqlcode(tcb) < 0) return fail(sqlcode(tcb));
  if (!sqli_cursor_alive(c, tcb)) return sqlcode(tcb);
  c->flags |= sqli_cur_by_prepare | sqli_cur_prepared;
  return sqlcode(tcb);
}

extern "C" {

void *sqli_prep(int32_t, const char *name, const char *text, void *coll_literal, void *coll_arg,
                int32_t stmt_type, int32_t coll_word, int32_t coll_flag) {
  rldctype();
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr || _sqclrca(tcb) != 0) return nullptr;
  const char *delim = tcb->curconn != nullptr ? tcb->curconn->delimident : ggetenv("DELIMIDENT");
  char checked[256];
  if (_gchkname(name, delim, checked) != 0) {
    _iqseterr(SQLI_E_NOSTMT);
    return nullptr;
  }
  if (coll_flag != 0 || deferred_prepare_on(tcb)) {
    const int type = deferred_prepare_on(tcb) ? get_stmt_type(text) : stmt_type;
    return dvz_cl_prep(checked, text, coll_literal, coll_arg, type, coll_word, tcb);
  }
  void *handle = sqli_curs_locate(1, checked, SQLI_LOCATE_CHECKED | 1);
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr) return nullptr;
  if (deferred(c)) {
    _sqfrcmdtxt(c->stmt_text);
    c->stmt_text = nullptr;
    c->flags &= ~static_cast<uint32_t>(sqli_cur_prep_deferred);
  }
  if (_iqprepare(handle, text, tcb) < 0) return nullptr;
  return handle;
}

/* ---- EXECUTE ------------------------------------------------------------------------ */

int32_t sqli_exec(int32_t, void *handle, sqlda *input, const char *in_name, value_t *values,
                  sqlda *output, const char *out_name, int32_t, int32_t desc_flag) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr) {
    if (_sqclrca(tcb) != 0) return sqlcode(tcb);
    return fail(SQLI_E_BADCURSOR, tcb);
  }
  const bool xa_reprepare = xa_active(tcb) && (c->flags & sqli_cur_xa_copy) != 0;
  if (c->coll_mark == 1 && !deferred(c) && !xa_reprepare) {
    if (_sqclrca(tcb) != 0) return sqlcode(tcb);
    if (_sqclient_coltype(c, input) != 1) return finish(tcb);
    dvz_cl_execute(c, input, in_name, output, out_name, tcb);
    return finish(tcb);
  }
  if ((deferred(c) || xa_reprepare) && (c->flags & sqli_cur_prepared) == 0) {
    const std::string text =
        c->stmt_text != nullptr && c->stmt_text[0] != nullptr ? c->stmt_text[0] : "";
    if (xa_reprepare) {
      _sqfrcmdtxt(c->stmt_text);
      c->stmt_text = nullptr;
    }
    if (_iqprepare(handle, text.c_str(), tcb) < 0) return finish(tcb);
    if (xa_reprepare) {
      c->flags |= sqli_cur_xa_reprepared;
      c->flags &= ~static_cast<uint32_t>(sqli_cur_xa_copy);
    }
    c->coll_mark = 0;
  }
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  if (c->stmt_id == -1 && !deferred(c) && !xa_reprepare) {
    _sqremove_cursor(c, tcb);
    return fail(SQLI_E_NOT_PREPARED, tcb);
  }
  if ((c->flags & sqli_cur_has_cursor) != 0) {
    return fail(SQLI_E_USED_BY_CURSOR, tcb);
  }
  if ((c->flags & sqli_cur_xa_reprepared) != 0 && is_orig_declared(c->name, tcb) != 0) {
    return fail(SQLI_E_USED_BY_CURSOR, tcb);
  }
  if (single_row(c->stmt_type))
    _sqexecinto(c, input, in_name, values, output, out_name, desc_flag, tcb);
  else
    execute_statement(c, input, in_name, values, false, tcb);
  return finish(tcb);
}

int32_t _iqxecute(void *handle, int32_t count, sqlvar_struct *entries, sqlda *input,
                  value_t *values) {
  sqlda temporary {};
  if (count > 0 && entries != nullptr) {
    temporary.sqld = static_cast<int16_t>(count);
    temporary.sqlvar = entries;
    input = &temporary;
  }
  return sqli_exec(1, handle, input, nullptr, values, nullptr, nullptr, 0, 0);
}

/* ---- EXECUTE IMMEDIATE -------------------------------------------------------------- */

int32_t sqli_exec_immed(const char *text) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  sqli_cursor local {};
  _sqsetup(&local);
  if (need_conn(tcb) != 0) return finish(tcb);
  local.stmt_id = -1;
  local.flags &= ~static_cast<uint32_t>(sqli_cur_name_known);
  if (_sqs_pre(text, tcb) < 0) return finish(tcb);
  if (deferred_prepare_on(tcb) && (caps(tcb) & caps_describe_id) != 0) {
    _sqs_ndesc_id(tcb);
    local.flags |= sqli_cur_prep_deferred;
  } else {
    _sqs_ndesc(tcb);
  }
  _sqs_wantdone(tcb);
  if (!deferred_prepare_on(tcb)) _sqr_messages(&local, 0, tcb);
  if (sqlcode(tcb) < 0) {
    drop_temporary(&local);
    return finish(tcb);
  }
  _sqclrca(tcb);
  local.flags |= sqli_cur_prepared;
  execute_statement(&local, nullptr, nullptr, nullptr, true, tcb);
  drop_temporary(&local);
  return finish(tcb);
}

/* ---- DESCRIBE ----------------------------------------------------------------------- */

int32_t sqli_describe_stmt(int32_t, void *handle, sqlda **out, const char *descname) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (_sqclrca(tcb) != 0) return sqlcode(tcb);
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr && c->coll_mark == 1) {
    dvz_cl_describe(c, out, descname, tcb);
    return finish(tcb);
  }
  if (c == nullptr) {
    return fail(SQLI_E_BADCURSOR, tcb);
  }
  /* Not sent yet: no id and no cursor on it, or a cursor not yet open. */
  const sqli_cursor *cursor = sqli_handle_cursor(c->link);
  const bool no_id = c->stmt_id == -1 || c->stmt_id == 0;
  const bool unsent = cursor == nullptr ? no_id : (cursor->flags & sqli_cur_open) == 0;
  if (deferred(c) && unsent) {
    const bool first_fetch = tcb->curconn != nullptr && tcb->curconn->optofc != 0 &&
                             (caps(tcb) & 1) != 0 && c->stmt_type != st_insert &&
                             cursor != nullptr && cursor->deferred_open == opening_by_fetch;
    if (!first_fetch) {
      return fail(SQLI_E_DESCRIBE_DEFERRED, tcb);
    }
  }
  if (c->stmt_id == -1) {
    return fail(SQLI_E_NOT_PREPARED, tcb);
  }
  const int type = c->stmt_type;
  if (type != st_select) {
    tcb->sqlca->sqlcode = type;
    *tcb->sqlcode = type;
  }
  if (type == st_warn_a || type == st_warn_b) {
    tcb->sqlca->sqlwarn.sqlwarn0 = 'W';
    tcb->sqlca->sqlwarn.sqlwarn4 = 'W';
    _sqfeWARN(4);
  }
  if (out != nullptr)
    _iqnormdesc(c, out);
  else
    _iqdyndesc(c, descname, tcb);
  return finish(tcb);
}

}  // extern "C"
