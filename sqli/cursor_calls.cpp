/*
** cursor_calls.cpp: the cursor calls preprocessed programs make: locate
** a record by name, DECLARE on text or on a prepared statement, OPEN,
** CLOSE, FLUSH, FREE, and the AUTOFREE and deferred-PREPARE switches.
**
** OPEN of a cursor the server does not know yet takes two round trips:
** the text with a describe request first, then the statement id, the
** cursor name, the input values and the open request. With OPTOFC the
** second trip waits for the first FETCH.
*/
#include <cstring>
#include <string>

#include "os_context.h"
#include "os_env.h"
#include "os_stored.h"
#include "sqli_bind.h"
#include "sqli_conn.h"
#include "sqli_cursors.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_globals.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_statements.h"

sqli_tcb *sqli_cursor_call_begin(int32_t *early) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) {
    *early = -1;
    return nullptr;
  }
  if (_sqclrca(tcb) != 0) {
    *early = *tcb->sqlcode;
    return nullptr;
  }
  tcb->sqlca->sqlerrd[2] = 0;
  return tcb;
}

int32_t sqli_cursor_call_finish(sqli_tcb *tcb) {
  const int32_t code = tcb->sqlca->sqlcode;
  if (code == 0) _sqsetCODE(tcb);
  return code;
}

int32_t sqli_cursor_call_fail(int code, sqli_tcb *tcb) {
  _iqseterr(code);
  return sqli_cursor_call_finish(tcb);
}

namespace {

constexpr int name_buffer = 256;

/* Short names for the common start and end of a call (sqli_cursors.h). */
constexpr auto begin = sqli_cursor_call_begin;
constexpr auto finish = sqli_cursor_call_finish;
constexpr auto fail = sqli_cursor_call_fail;

int optmsg(const sqli_tcb *tcb) { return tcb->curconn != nullptr ? tcb->curconn->optmsg : 0; }
int32_t caps(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr ? tcb->curconn->capabilities : 0;
}
bool ansi_db(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn->dbflags[1] != 0;
}
/* OPTOFC applies to c: the connection has it with capability 1, and c is
** not an insert cursor. */
bool optofc_applies(const sqli_cursor *c, const sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn->optofc != 0 && (caps(tcb) & 1) != 0 &&
         c->stmt_type != 6;
}
bool server_closed(const sqli_cursor *c, const sqli_tcb *tcb) {
  return optofc_applies(c, tcb) && (c->flags & sqli_cur_server_closed) != 0 &&
         (c->flags & sqli_cur_scroll) == 0;
}
/* AUTOFREE is wanted for c: asked for it, or the process default. */
bool autofree_wanted(const sqli_cursor *c, const sqli_tcb *tcb) {
  return (c->flags & sqli_cur_autofree_on) != 0 ||
         ((c->flags & sqli_cur_autofree_off) == 0 && (tcb->flags & sqli_flag_autofree) != 0);
}
bool xa_active(const sqli_tcb *tcb) {
  return tcb->xa_mode != 0 && (caps(tcb) & 1) != 0 && (caps(tcb) & 0x18000) == 0;
}
bool pending_rows(const sqli_cursor *c) {
  return c->rowsize > 0 ? c->bufpos != c->buffer : c->nbuffered > 0;
}
sqli_cursor *linked(const sqli_cursor *c) { return sqli_handle_cursor(c->link); }

/* Drops what a deferred OPEN kept. */
void drop_saved_input(sqli_cursor *c) {
  free_idesc(static_cast<sqlda *>(c->saved_sqlda));
  c->saved_sqlda = nullptr;
  sqli_release(c->saved_descname);
  c->saved_descname = nullptr;
}

/* Sets up c for the text cmdtxt with the given lists and options.
** Returns 0, or the code recorded. */
int declare_text(sqli_cursor *c, const char *const *cmdtxt, sqli_varlist *input,
                 sqli_varlist *output, int32_t options) {
  _sqsetup(c);
  const auto take = [](sqli_varlist *list, int16_t *count, sqlvar_struct **entries) {
    *count = list != nullptr ? list->count : int16_t {0};
    *entries = list != nullptr ? list->entries : nullptr;
    if (*entries != nullptr && ((*entries)->sqlflags & sqlvar_array_runtime) != 0)
      (*entries)->sqlflags |= sqlvar_array_in_use;
  };
  take(input, &c->nin, &c->inlist);
  take(output, &c->nout, &c->outlist);
  if (cmdtxt == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  if (_sqcopycmdtxt(cmdtxt, sqli_cursor_handle(c), 0) != 0) return _iqseterr(SQLI_E_NOMEM);
  c->flags &= ~static_cast<uint32_t>(sqli_cur_scroll | sqli_cur_hold);
  c->flags |=
      static_cast<uint32_t>(options & (sqli_cur_scroll | sqli_cur_hold)) | sqli_cur_declared;
  return 0;
}

/* Closes c (CLOSE after its checks): the server's side, then the marks.
** Returns the sqlca code. */
int close_cursor(sqli_cursor *c, sqli_tcb *tcb) {
  if (server_closed(c, tcb)) {
    drop_saved_input(c);
    if (c->deferred_open == 1) {
      c->deferred_open = 0;
      return *tcb->sqlcode;
    }
    c->flags &= ~static_cast<uint32_t>(sqli_cur_open);
    c->deferred_open = 0;
    if ((c->flags & sqli_cur_autofree_asked) != 0) {
      _sqautofree(c, tcb);
      return *tcb->sqlcode;
    }
  } else {
    c->deferred_open = 0;
    drop_saved_input(c); /* a deferred OPEN never happens after CLOSE */
    const bool autofree = (c->flags & sqli_cur_autofree_asked) != 0 && c->stmt_id != -1;
    relcursor(c, 0, tcb);
    if (autofree || !sqli_cursor_alive(c, tcb)) return *tcb->sqlcode; /* the record is gone */
  }
  c->flags |= sqli_cur_closed;
  if (c->link != nullptr) linked(c)->flags |= sqli_cur_closed;
  return *tcb->sqlcode;
}

}  // namespace

/* Marks for preparing again every XA copy of the statement name. */
void mark_xa_re_prep(const char *name, sqli_tcb *tcb) {
  sqli_cursor **head = _sqgetchlist(tcb);
  if (head == nullptr || name == nullptr) return;
  for (sqli_cursor *c = *head; c != nullptr; c = c->next)
    if (c->name != nullptr && stcmpr(c->name, name) == 0 &&
        (c->flags & (sqli_cur_xa_copy | sqli_cur_xa_reprepared)) != 0)
      c->flags |= sqli_cur_xa_must_reprepare;
}

/* Whether the first record named name that is not an XA re-preparation
** has a cursor declared on it. */
int is_orig_declared(const char *name, sqli_tcb *tcb) {
  sqli_cursor **head = _sqgetchlist(tcb);
  if (head == nullptr || name == nullptr) return 0;
  for (sqli_cursor *c = *head; c != nullptr; c = c->next)
    if (c->name != nullptr && stcmpr(c->name, name) == 0 &&
        (c->flags & (sqli_cur_xa_reprepared | sqli_cur_xa_must_reprepare)) == 0)
      return (c->flags & sqli_cur_has_cursor) != 0 ? 1 : 0;
  return 0;
}

extern "C" {

void *sqli_curs_locate(int32_t, const char *name, int32_t flags) {
  if (name == nullptr) return nullptr;
  const int len = dvz_byleng(name, static_cast<int>(std::strlen(name)));
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr || _sqs_(0, tcb) != 0) return nullptr;
  const char *delim = tcb->curconn != nullptr ? tcb->curconn->delimident : ggetenv("DELIMIDENT");
  std::string key;
  if ((flags & SQLI_LOCATE_CHECKED) == 0) {
    char checked[name_buffer];
    if (_gchkname(name, delim, checked) != 0) return nullptr;
    key = checked;
  } else if ((flags & SQLI_LOCATE_KEEP_CASE) == 0) {
    key.assign(name, static_cast<size_t>(len));
  } else {
    key = name;
  }
  if (delim == nullptr && (flags & SQLI_LOCATE_KEEP_CASE) == 0) {
    gdownshift(key.data());
    key.resize(std::strlen(key.c_str()));
  }
  const int kind = flags & ~(SQLI_LOCATE_CHECKED | SQLI_LOCATE_KEEP_CASE);
  const bool xa = kind == 1 && xa_active(tcb);
  const sqli_xid *current = &tcb->xa_current;

  sqli_cursor **head = &tcb->curconn->cursors;
  sqli_cursor *passed = nullptr;
  for (sqli_cursor **p = head; *p != nullptr; p = &(*p)->next) {
    sqli_cursor *c = *p;
    if (c->name == nullptr || stcmpr(c->name, key.c_str()) != 0) continue;
    if (kind != 2 && kind != c->kind) continue;
    if (xa && c->kind == 1) {
      if ((c->flags & sqli_cur_xa_must_reprepare) != 0) continue;
      const auto *copy = reinterpret_cast<const sqli_xid *>(c->xid_copy);
      const bool belongs = copy == nullptr
                               ? current->format == -1
                               : current->format != -1 && xa_cmp_xids(copy, current) == 0;
      if (!belongs) {
        passed = c;
        continue;
      }
    }
    if (p != head) { /* most recently used first; the rest keep their order */
      *p = c->next;
      c->next = *head;
      *head = c;
    }
    return sqli_cursor_handle(c);
  }

  auto *c = static_cast<sqli_cursor *>(sqli_alloc(sizeof(sqli_cursor)));
  char *copy = static_cast<char *>(sqli_alloc(key.size() + 1));
  if (c == nullptr || copy == nullptr) {
    sqli_release(c);
    sqli_release(copy);
    _iqseterr(SQLI_E_NOMEM);
    return nullptr;
  }
  std::memcpy(copy, key.c_str(), key.size() + 1);
  c->name = copy;
  c->stmt_id = -1;
  if (xa && (current->format != -1 || passed != nullptr)) {
    c->xid_copy = static_cast<char *>(sqli_alloc(sizeof(sqli_xid)));
    if (c->xid_copy == nullptr ||
        (passed != nullptr && passed->stmt_text != nullptr &&
         _sqcopycmdtxt(passed->stmt_text, sqli_cursor_handle(c), 0) != 0)) {
      sqli_release(c->xid_copy);
      sqli_release(copy);
      sqli_release(c);
      _iqseterr(SQLI_E_NOMEM);
      return nullptr;
    }
    std::memcpy(c->xid_copy, current, sizeof(sqli_xid));
    c->flags |= sqli_cur_xa_copy;
  }
  c->kind = kind;
  c->next = *head;
  *head = c;
  return sqli_cursor_handle(c);
}

int32_t sqli_curs_decl_stat(int32_t, void *handle, const char *name, const char *const *cmdtxt,
                            sqli_varlist *input, sqli_varlist *output, int32_t options,
                            void *coll_a, void *coll_b, int32_t stmt_kind, int32_t coll_word,
                            int32_t coll_flag) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (coll_flag != 0) {
    if ((options & (sqli_cur_scroll | sqli_cur_hold)) != 0) return fail(SQLI_E_COLL_OPTIONS, tcb);
    dvz_cl_cdcl(c, name, cmdtxt, input, output, coll_a, coll_b, stmt_kind, coll_word, tcb);
    return finish(tcb);
  }
  if (c == nullptr) return fail(SQLI_E_BADCURSOR, tcb);
  if (c->stmt_id != -1) {
    if ((c->flags & sqli_cur_declared) != 0 && (c->flags & sqli_cur_prepared) != 0) {
      sqli_curs_free(1, handle);
      handle = sqli_curs_locate(1, name, 0);
      c = sqli_handle_cursor(handle);
      if (c == nullptr) return finish(tcb);
    } else if ((c->flags & sqli_cur_declared) != 0 || _sqcmpcmdtxt(cmdtxt, c->stmt_text) != 0 ||
               (c->flags & (sqli_cur_scroll | sqli_cur_hold)) !=
                   static_cast<uint32_t>(options & (sqli_cur_scroll | sqli_cur_hold))) {
      close_cursor(c, tcb);
      if (!sqli_cursor_alive(c, tcb)) return finish(tcb);
    }
  }
  if (declare_text(c, cmdtxt, input, output, options) != 0) return finish(tcb);
  if (tcb->ansiwarn_pending != 0) {
    tcb->ansiwarn_pending = 0;
    Noansiwarn = ggetenv("DBANSIWARN") == nullptr ? 1 : 0;
  }
  if (Noansiwarn == 0 && a_kwcheck(c->name) == 0) {
    tcb->sqlca->sqlwarn.sqlwarn0 = 'W';
    tcb->sqlca->sqlwarn.sqlwarn5 = 'W';
    _sqfeWARN(5);
  }
  return finish(tcb);
}

int32_t sqli_curs_decl_dynm(int32_t, void *handle, const char *name, void *stmt_handle,
                            int32_t options, int32_t coll_flag) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  sqli_cursor *stmt = sqli_handle_cursor(stmt_handle);
  if (coll_flag != 0 || (stmt != nullptr && stmt->coll_mark == 1)) {
    if ((options & (sqli_cur_scroll | sqli_cur_hold)) != 0) return fail(SQLI_E_COLL_OPTIONS, tcb);
    if (*tcb->sqlcode != SQLI_E_NOMEM) dvz_cl_ddcl(c, name, stmt, tcb);
    return finish(tcb);
  }
  if (c == nullptr) {
    if (*tcb->sqlcode != SQLI_E_NOMEM) _iqseterr(SQLI_E_BADCURSOR);
    return finish(tcb);
  }
  if (c->stmt_id != -1) _sqrelease_cursor(c, tcb);
  if (stmt == nullptr || stmt->stmt_text == nullptr) return fail(SQLI_E_NOSTMT, tcb);
  if (declare_text(c, stmt->stmt_text, nullptr, nullptr, options) != 0) return finish(tcb);
  if ((stmt->flags & sqli_cur_has_cursor) == 0) {
    c->link = stmt_handle;
    stmt->link = handle;
    stmt->flags |= sqli_cur_has_cursor;
    _sqstealinfo(stmt, c);
    for (uint32_t bit : {0x400u, 0x800u, 0x40000u, 0x10000u})
      if ((c->flags & bit) == 0) stmt->flags &= ~bit;
  }
  c->flags |= sqli_cur_prepared;
  return finish(tcb);
}

int32_t sqli_curs_open(int32_t, void *handle, sqlda *input, const char *descname,
                       struct value_t *values, int32_t usage, int32_t reoptimize) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr) c->flags &= ~static_cast<uint32_t>(sqli_cur_server_closed);
  if (c != nullptr && c->coll_mark == 1) {
    dvz_cl_open(c, input, descname, tcb);
    return finish(tcb);
  }
  sqli_cursor *stmt = c != nullptr && c->link != nullptr ? linked(c) : nullptr;
  const bool stmt_deferred = stmt != nullptr && (stmt->flags & sqli_cur_has_cursor) != 0 &&
                             (stmt->flags & sqli_cur_prep_deferred) != 0;
  const bool deferring = stmt_deferred && optofc_applies(c, tcb) && c->deferred_open == 0;
  const bool defprep = (tcb->flags & sqli_flag_deferred_prepare) != 0;
  if (stmt != nullptr && !deferring) {
    if ((stmt->flags & sqli_cur_prepared) != 0) {
      c->flags |= sqli_cur_borrowed_id;
      c->stmt_id = stmt->stmt_id;
    } else {
      const char *first = c->stmt_text != nullptr ? c->stmt_text[0] : nullptr;
      if (_iqprepare(c->link, first, tcb) < 0) return finish(tcb);
      if (!defprep) c->coll_mark = 0;
      c->stmt_type = stmt->stmt_type;
      if ((stmt->flags & sqli_cur_prep_deferred) != 0) c->stmt_id = stmt->stmt_id = 0;
    }
  }
  if (c != nullptr && (c->flags & sqli_cur_open) != 0 && (c->flags & sqli_cur_done) != 0 &&
      (caps(tcb) & 0xA) != 0 && optofc_applies(c, tcb) && autofree_wanted(c, tcb)) {
    /* The server freed it with its last row: the handle is dead. */
    _sqautofree(c, tcb);
    _iqseterr(SQLI_E_BADCURSOR);
    return -1;
  }
  if (c == nullptr || c->stmt_text == nullptr) return fail(SQLI_E_BADCURSOR, tcb);
  sqlda declared {};
  sqlda *bind = input;
  if (descname != nullptr) {
    bind = _iqdlocate(descname, tcb);
    if (bind == nullptr) return fail(SQLI_E_NODESC, tcb);
  } else if (input == nullptr && values == nullptr) {
    declared.sqld = c->nin;
    declared.sqlvar = c->inlist;
    bind = &declared;
  }
  const int nbind = bind != nullptr && bind->sqlvar != nullptr ? bind->sqld : 0;
  const sqlvar_struct *entries = bind != nullptr ? bind->sqlvar : nullptr;
  const int ncheck = nbind > 0 ? nbind : (values != nullptr ? _sqcmdqmarks(c->stmt_text) : 0);
  c->flags &= ~static_cast<uint32_t>(sqli_cur_scroll_failed);
  const bool optofc = optofc_applies(c, tcb);

  bool id_in_describe = false;
  if (!deferring && c->stmt_id == -1) {
    c->flags &= ~static_cast<uint32_t>(sqli_cur_name_known);
    if (_sqs_(0, tcb) != 0) return finish(tcb);
    if (_sqcheck_eos(entries, values, ncheck, tcb) != 0) return finish(tcb);
    if (_sqs_cmd(c->stmt_text, _sqcmdqmarks(c->stmt_text), tcb) != 0) return finish(tcb);
    if ((caps(tcb) & 0x60) != 0 && (defprep || stmt_deferred)) {
      _sqs_ndesc_id(tcb);
      id_in_describe = true;
    } else {
      _sqs_ndesc(tcb);
    }
    _sqs_wantdone(tcb);
    if (!defprep || optofc) _sqr_messages(c, 0, tcb);
    if (!sqli_cursor_alive(c, tcb)) return finish(tcb);
    const int code = *tcb->sqlcode;
    if (code < 0 && code != SQLI_E_REOPEN_DEFERRED) {
      c->flags &= ~static_cast<uint32_t>(sqli_cur_open | sqli_cur_done);
      return finish(tcb);
    }
  }
  if (c->stmt_type == 6 && usage == 1) return fail(SQLI_E_OPEN_INSERT, tcb);
  if (optofc_applies(c, tcb)) {
    if (c->deferred_open != 0 && usage != 2 && ansi_db(tcb))
      return fail(SQLI_E_REOPEN_DEFERRED, tcb);
    if (!(c->deferred_open != 0 && usage == 2)) {
      /* The first FETCH sends the open: keep its inputs until then. */
      drop_saved_input(c);
      if (descname != nullptr) {
        const size_t n = std::strlen(descname);
        c->saved_descname = static_cast<char *>(sqli_alloc(n + 1));
        if (c->saved_descname == nullptr) return fail(SQLI_E_NOMEM, tcb);
        std::memcpy(c->saved_descname, descname, n + 1);
      } else if (input != nullptr) {
        c->saved_sqlda = save_idesc(input);
        if (c->saved_sqlda == nullptr) return finish(tcb);
      }
      if (reoptimize != 0)
        c->flags |= sqli_cur_reoptimize;
      else
        c->flags &= ~static_cast<uint32_t>(sqli_cur_reoptimize);
      c->deferred_open = 1;
      return finish(tcb);
    }
  }

  if (_sqs_(0, tcb) != 0) return finish(tcb);
  if (_sqcheck_eos(entries, values, ncheck, tcb) != 0) return finish(tcb);
  if (!id_in_describe && (!stmt_deferred || (c->flags & sqli_cur_borrowed_id) != 0))
    _sqs_id(c->stmt_id, tcb);
  if ((c->flags & sqli_cur_name_known) == 0 && _sqs_name(c, tcb) != 0) return finish(tcb);
  if ((c->flags & sqli_cur_scroll) != 0) _sqs_scroll(tcb);
  if ((c->flags & sqli_cur_hold) != 0) _sqs_hold(tcb);

  const auto input_failed = [&](int code) {
    if (ansi_db(tcb)) {
      _sqs_id(c->stmt_id, tcb);
      _sqs_rel(tcb);
    }
    _sqr_messages(c, optmsg(tcb), tcb);
    if (!sqli_cursor_alive(c, tcb)) return finish(tcb);
    if (code == SQLI_E_AUTOFREE_PREP && (c->flags & sqli_cur_autofree_asked) != 0) {
      _sqautofree(c, tcb);
      _iqseterr(code);
      return *tcb->sqlcode;
    }
    _iqseterr(code);
    return finish(tcb);
  };
  if (c->stmt_type != 6) {
    if (nbind > 0 || values != nullptr) {
      const int code = _sqs_vs(5, bind, values, tcb);
      if (code < 0) return input_failed(code);
    }
    c->nbuffered = 0;
    c->bufpos = c->buffer;
    c->first_row = c->last_row = 0;
    if (tcb->blob_count > 0) {
      /* A value array holds one value per placeholder. */
      sqlda valued {};
      valued.sqld = static_cast<int16_t>(ncheck);
      const int code = _sqs_blobs(bind != nullptr ? bind : &valued, values, tcb);
      if (code < 0) return input_failed(code);
    }
  } else if ((c->flags & sqli_cur_open) != 0 && pending_rows(c)) {
    if (_sqcurflush(handle, tcb) < 0 || _sqr_messages(c, 0, tcb) < 0) return finish(tcb);
  }
  if ((caps(tcb) & 0xA) != 0 && c->stmt_type != 6 && autofree_wanted(c, tcb)) {
    _sqs_autofree(tcb);
    c->flags |= sqli_cur_autofree_asked;
    if (stmt != nullptr) stmt->flags |= sqli_cur_autofree_asked;
  }
  if ((caps(tcb) & 1) != 0 && reoptimize != 0)
    _sqs_reoptopen(tcb);
  else
    _sqs_open(tcb);
  if (!(tcb->curconn->optofc != 0 && usage == 2))
    _sqr_messages(c, stmt_deferred ? 0 : optmsg(tcb), tcb);
  if (!sqli_cursor_alive(c, tcb)) return finish(tcb);
  const int code = *tcb->sqlcode;
  if (code < 0 && code != SQLI_E_REOPEN_DEFERRED) {
    c->flags &= ~static_cast<uint32_t>(sqli_cur_open | sqli_cur_done);
    if (code == SQLI_E_AUTOFREE_PREP && (c->flags & sqli_cur_autofree_asked) != 0) {
      _sqautofree(c, tcb);
      return code;
    }
  } else {
    c->flags |= sqli_cur_open | sqli_cur_borrowed_id;
    c->flags &= ~static_cast<uint32_t>(sqli_cur_done);
  }
  return finish(tcb);
}

int32_t sqli_curs_close(int32_t, void *handle) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr && c->coll_mark == 1) {
    if ((c->flags & sqli_cur_by_prepare) == 0) dvz_cl_close(c, tcb);
    return finish(tcb);
  }
  if (c == nullptr || (c->stmt_text == nullptr && (c->flags & sqli_cur_prepared) == 0))
    return fail(SQLI_E_BADCURSOR, tcb);
  if (ansi_db(tcb) && c->deferred_open != 1 && (c->flags & sqli_cur_open) == 0)
    return fail(SQLI_E_NOTOPEN, tcb);
  close_cursor(c, tcb);
  return finish(tcb);
}

int32_t sqli_curs_flush(int32_t, void *handle) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr && c->coll_mark == 1) {
    dvz_cl_flush(c, tcb);
    return finish(tcb);
  }
  if (c == nullptr || (c->stmt_text == nullptr && (c->flags & sqli_cur_prepared) == 0))
    return fail(SQLI_E_BADCURSOR, tcb);
  if ((c->flags & sqli_cur_open) == 0) return fail(SQLI_E_FLUSH_CLOSED, tcb);
  if (c->stmt_id != -1) {
    if (c->stmt_type != 6) return fail(SQLI_E_FLUSH_KIND, tcb);
    if (pending_rows(c) && _sqcurflush(handle, tcb) >= 0) _sqr_messages(c, 0, tcb);
  }
  return finish(tcb);
}

int32_t sqli_curs_free(int32_t, void *handle) {
  int32_t early = 0;
  sqli_tcb *tcb = begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr && c->coll_mark == 1) {
    dvz_cl_free(c, tcb);
    return finish(tcb);
  }
  if (c == nullptr) return fail(SQLI_E_BADCURSOR, tcb);
  const uint32_t f = c->flags;
  if ((f & sqli_cur_has_cursor) == 0) {
    if ((f & sqli_cur_open) != 0 && (c->stmt_text != nullptr || (f & sqli_cur_prepared) != 0)) {
      if (!((f & sqli_cur_autofree_asked) != 0 && server_closed(c, tcb))) {
        const bool autofree = (f & sqli_cur_autofree_asked) != 0 && c->stmt_id != -1;
        relcursor(c, 1, tcb);
        if (autofree || !sqli_cursor_alive(c, tcb)) return finish(tcb); /* the record is gone */
      }
    } else if ((f & sqli_cur_open) == 0 && c->stmt_id != -1 && c->link == nullptr &&
               c->stmt_type != 1 && c->stmt_type != 38 &&
               (f & (sqli_cur_autofree_asked | sqli_cur_closed)) !=
                   (sqli_cur_autofree_asked | sqli_cur_closed)) {
      if (_sqs_(0, tcb) == 0) {
        _sqs_id(c->stmt_id, tcb);
        _sqs_rel(tcb);
        _sqr_messages(c, optmsg(tcb), tcb);
        if (!sqli_cursor_alive(c, tcb)) return finish(tcb);
      }
    }
  }
  if (xa_active(tcb) && (c->flags & sqli_cur_by_prepare) != 0) {
    mark_xa_re_prep(c->name, tcb);
    return finish(tcb);
  }
  if (*tcb->sqlcode != SQLI_E_KEEPRECORD) {
    sqli_free_rtypes(c);
    c->flags &= ~static_cast<uint32_t>(sqli_cur_close_mask);
    _sqremove_cursor(c, tcb);
  }
  return finish(tcb);
}

int32_t sqli_autofree_set(int32_t, void *handle, int32_t mode) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return SQLI_E_NOMEM;
  if (_sqclrca(tcb) != 0) return *tcb->sqlcode;
  if (mode == 2 || mode == 3) {
    tcb->flags &= ~(sqli_flag_autofree | sqli_flag_no_autofree);
    tcb->flags |= mode == 2 ? sqli_flag_autofree : sqli_flag_no_autofree;
    return finish(tcb);
  }
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr && (c->flags & sqli_cur_by_prepare) != 0) return fail(SQLI_E_AUTOFREE_PREP, tcb);
  if (c == nullptr || (c->stmt_text == nullptr && (c->flags & sqli_cur_prepared) == 0) ||
      (mode != 0 && mode != 1))
    return fail(SQLI_E_BADCURSOR, tcb);
  const uint32_t on = mode == 0 ? sqli_cur_autofree_on : sqli_cur_autofree_off;
  const uint32_t off = mode == 0 ? sqli_cur_autofree_off : sqli_cur_autofree_on;
  for (sqli_cursor *r : {c, c->link != nullptr ? linked(c) : nullptr})
    if (r != nullptr) r->flags = (r->flags | on) & ~off;
  return finish(tcb);
}

int32_t sqli_defprep_set(int32_t mode) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return SQLI_E_NOMEM;
  if (_sqclrca(tcb) != 0) return *tcb->sqlcode;
  if (mode == 1) tcb->flags |= sqli_flag_deferred_prepare;
  if (mode == 0) tcb->flags &= ~sqli_flag_deferred_prepare;
  return finish(tcb);
}

}  // extern "C"
