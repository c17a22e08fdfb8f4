/*
** cursor_records.cpp: the life of cursor records on a connection's list
** once they exist: dropping a description, closing and releasing at the
** server, removal, AUTOFREE completion, the walks at a transaction's end,
** at database close and at disconnect, the services the reply readers
** reach (the marked-row store, a statement's description lent to its
** cursor), the saved input descriptor of a deferred OPEN, and XA ids.
**
** Every walk takes the next record before acting on the current one:
** closing may autofree, and so remove, the record in hand.
*/
#include <cstring>

#include "gen_types.h"
#include "os_stored.h"
#include "sqli_conn.h"
#include "sqli_cursors.h"
#include "sqli_errors.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"

namespace {

/* The current connection's OPTMSG switch: the deferral argument of the
** reply reads that may wait for the next request. */
int optmsg(const sqli_tcb *tcb) { return tcb->curconn != nullptr ? tcb->curconn->optmsg : 0; }

/* An insert cursor with rows not yet sent. */
bool pending_rows(const sqli_cursor *c) {
  return c->rowsize > 0 ? c->bufpos != c->buffer : c->nbuffered > 0;
}

/* The server closed this cursor by itself (OPTOFC): nothing to send. */
bool closed_by_server(const sqli_cursor *c, const sqli_tcb *tcb) {
  const sqli_conn *conn = tcb->curconn;
  return conn != nullptr && conn->optofc != 0 && (conn->capabilities & 1) != 0 &&
         c->stmt_type != 6 && (c->flags & sqli_cur_server_closed) != 0 &&
         (c->flags & sqli_cur_scroll) == 0;
}

/* Forgets what a cursor borrowed from its statement, which owns it. */
void forget_borrowed(sqli_cursor *c) {
  c->coldesc = nullptr;
  c->colname_pool = nullptr;
  c->buffer = c->bufpos = nullptr;
  c->marked_rows = nullptr;
  c->marked_capacity = 0;
}

/* Cuts the link between c and its partner both ways. */
void cut_link(sqli_cursor *c) {
  if (c->link == nullptr) return;
  sqli_cursor *other = sqli_handle_cursor(c->link);
  if (other->link == sqli_cursor_handle(c)) {
    other->link = nullptr;
    other->flags &= ~static_cast<uint32_t>(sqli_cur_has_cursor);
  }
  c->link = nullptr;
}

/* Frees what the record owns apart from the description: text, name,
** row-length table, saved input, compatibility block, collection state,
** runtime-allocated lists and XA copy; then the record. */
void free_record(sqli_cursor *c, sqli_tcb *tcb) {
  _sqfrcmdtxt(c->stmt_text);
  sqli_release(c->name);
  sqli_release(c->rowlen_table);
  free_idesc(static_cast<sqlda *>(c->saved_sqlda));
  sqli_release(c->saved_descname);
  if (c->coll_mark == 1) free_cl_cursor(c);
  if (c->compat_block != nullptr) {
    sqli_free_compat_block(c);
    if (tcb != nullptr) tcb->flags |= sqli_flag_v7_gone;
  }
  sqli_release_varlist(c->inlist, c->nin);
  sqli_release_varlist(c->outlist, c->nout);
  sqli_release(c->xid_copy);
  std::memset(c, 0, sizeof *c); /* a stale handle finds nothing */
  sqli_release(c);
}

/* Unlinks c from the list at head (when it is there). */
void unlink_record(sqli_cursor **head, sqli_cursor *c) {
  if (head == nullptr) return;
  for (sqli_cursor **p = head; *p != nullptr; p = &(*p)->next)
    if (*p == c) {
      *p = c->next;
      return;
    }
}

}  // namespace

sqli_cursor **_sqgetchlist(sqli_tcb *tcb) {
  if (tcb == nullptr || tcb->curconn == nullptr) return nullptr;
  return &tcb->curconn->cursors;
}

bool sqli_cursor_alive(const sqli_cursor *cursor, sqli_tcb *tcb) {
  sqli_cursor **head = _sqgetchlist(tcb);
  if (head == nullptr || cursor == nullptr) return false;
  for (const sqli_cursor *c = *head; c != nullptr; c = c->next)
    if (c == cursor) return true;
  return false;
}

void sqli_free_rtypes(sqli_cursor *c) {
  if (c->rtypes != nullptr) {
    for (int i = 0; i < c->nrtypes; ++i) {
      sqli_release(c->rtypes[i].sqltypename);
      sqli_release(c->rtypes[i].sqlownername);
    }
    sqli_release(c->rtypes);
  }
  c->rtypes = nullptr;
  c->nrtypes = 0;
}

void _sqfrcmem(sqli_cursor *c) {
  if (c->link == nullptr) {
    freedbfd(c);
    sqli_release(c->colname_pool);
    sqli_release(c->buffer);
    sqli_release(c->conv_colname_pool);
    if (c->stmt_type == 2) sqli_release(c->marked_rows);
  } else {
    sqli_cursor *stmt = sqli_handle_cursor(c->link);
    if (stmt->link == sqli_cursor_handle(c)) {
      stmt->link = nullptr;
      stmt->flags &= ~static_cast<uint32_t>(sqli_cur_has_cursor);
    }
    c->link = nullptr;
  }
  c->coldesc = nullptr;
  c->colname_pool = nullptr;
  c->buffer = c->bufpos = nullptr;
  c->conv_colname_pool = nullptr;
  c->bufsize = 0;
  if (c->stmt_type == 2) {
    c->marked_rows = nullptr;
    c->marked_capacity = 0;
  }
  sqli_free_rtypes(c);
  c->nvarlen_cols = 0;
  c->ncols = 0;
  c->stmt_id = -1;
  c->flags &= ~static_cast<uint32_t>(sqli_cur_desc_mask);
  sqli_release(c->rowlen_table);
  c->rowlen_table = nullptr;
  sqli_release(c->owned_block);
  c->owned_block = nullptr;
  sqli_release(c->literal_values);
  c->literal_values = nullptr;
  free_idesc(static_cast<sqlda *>(c->saved_sqlda));
  c->saved_sqlda = nullptr;
}

void _sqrelease_cursor(sqli_cursor *c, sqli_tcb *tcb) {
  if (c->coll_mark != 1 && c->link == nullptr && c->stmt_id != -1 && tcb->curconn != nullptr) {
    _sqs_id(c->stmt_id, tcb);
    _sqs_rel(tcb);
    _sqr_messages(c, optmsg(tcb), tcb);
    if (!sqli_cursor_alive(c, tcb)) return;
  }
  c->flags = 0;
  _sqfrcmdtxt(c->stmt_text);
  c->stmt_text = nullptr;
  if (c->link != nullptr && c->kind == 0) forget_borrowed(c);
  _sqfrcmem(c);
  cut_link(c);
}

void _sqremove_cursor(sqli_cursor *c, sqli_tcb *tcb) {
  _sqfrcmdtxt(c->stmt_text);
  c->stmt_text = nullptr;
  if (c->link != nullptr) {
    sqli_cursor *other = sqli_handle_cursor(c->link);
    if (other->link == sqli_cursor_handle(c)) {
      other->link = nullptr;
      other->flags &= ~static_cast<uint32_t>(sqli_cur_has_cursor);
    }
    /* A cursor's description is its statement's; a statement keeps its
    ** own and drops it now that no cursor shares it. */
    if (c->kind == 0) {
      forget_borrowed(c);
    } else {
      c->link = nullptr;
      _sqfrcmem(c);
    }
    c->link = nullptr;
    c->flags = 0;
  } else {
    _sqfrcmem(c);
  }
  sqli_release(c->marked_rows); /* kept by a record of a type other than SELECT */
  c->marked_rows = nullptr;
  unlink_record(_sqgetchlist(tcb), c);
  free_record(c, tcb);
}

void _sqautofree(sqli_cursor *c, sqli_tcb *tcb) {
  sqli_cursor *stmt = c->link != nullptr && c->kind == 0 ? sqli_handle_cursor(c->link) : nullptr;
  if (c->name != nullptr) {
    sqli_free_rtypes(c);
    _sqremove_cursor(c, tcb);
  }
  if (stmt != nullptr) _sqremove_cursor(stmt, tcb);
}

int relcursor(sqli_cursor *c, int release, sqli_tcb *tcb) {
  if (c->stmt_id == -1) return *tcb->sqlcode;
  if (c->coll_mark == 1) {
    /* A collection cursor runs in the client: the server has nothing to close. */
    if (c->coll_state.open == 1) dvz_cl_close(c, tcb);
    c->flags &= ~static_cast<uint32_t>(sqli_cur_open);
    return *tcb->sqlcode;
  }
  bool id_sent = false;
  if (c->stmt_type == 6 && pending_rows(c)) {
    if (_sqcurflush(sqli_cursor_handle(c), tcb) < 0) return *tcb->sqlcode;
    id_sent = true;
  }
  if (closed_by_server(c, tcb)) {
    if (release == 0) c->flags &= ~static_cast<uint32_t>(sqli_cur_open);
    if ((c->flags & sqli_cur_autofree_asked) != 0) {
      const int code = *tcb->sqlcode;
      _sqautofree(c, tcb);
      return code;
    }
    if (release == 0) return *tcb->sqlcode;
  } else {
    if (_sqs_(0, tcb) != 0) return *tcb->sqlcode;
    if (!id_sent) _sqs_id(c->stmt_id, tcb);
    _sqs_close(tcb);
    if ((c->flags & sqli_cur_autofree_asked) != 0) {
      _sqr_messages(c, optmsg(tcb), tcb);
      const int code = *tcb->sqlcode;
      if (sqli_cursor_alive(c, tcb)) _sqautofree(c, tcb);
      return code;
    }
    if (release == 0 && tcb->curconn->reparse != 0 && (c->flags & sqli_cur_prepared) == 0) {
      /* Statements run once: the server forgets this one, and the next
      ** OPEN sends the text again. */
      _sqs_rel(tcb);
      _sqfrcmem(c);
    }
  }
  if (release != 0 && c->link == nullptr && c->stmt_id != -1) {
    _sqs_id(c->stmt_id, tcb);
    _sqs_rel(tcb);
  }
  _sqr_messages(c, optmsg(tcb), tcb);
  if (!sqli_cursor_alive(c, tcb)) return *tcb->sqlcode; /* the connection was dropped */
  c->flags &= ~static_cast<uint32_t>(sqli_cur_open);
  sqli_free_rtypes(c);
  c->flags &= ~static_cast<uint32_t>(sqli_cur_close_mask);
  return *tcb->sqlcode;
}

int _sqxclose(int stmt_type, sqli_tcb *tcb) {
  sqli_cursor **head = _sqgetchlist(tcb);
  if (head == nullptr) return *tcb->sqlcode;
  for (sqli_cursor *c = *head, *next = nullptr; c != nullptr; c = next) {
    next = c->next;
    if ((c->flags & sqli_cur_open) == 0) continue;
    if (c->stmt_type == 6 && pending_rows(c)) {
      if (stmt_type == 35) {
        if (_sqcurflush(sqli_cursor_handle(c), tcb) < 0 || _sqr_messages(c, 0, tcb) < 0) return -1;
        if (_sqgetchlist(tcb) != head) return -1;
      } else if (stmt_type == 36) {
        c->nbuffered = c->rowsize > 0 ? static_cast<int16_t>(c->bufsize / c->rowsize) : 0;
        c->bufpos = c->buffer;
        if (c->rowlen_table != nullptr) {
          c->rowlen_table[0] = -1;
          c->rowlen_table[1] = 0;
          for (int i = 0; i < c->rowlen_table[2]; ++i)
            c->rowlen_table[3 + i] = 0;
        }
      }
    }
  }
  /* The flush above may have sent requests that close nothing: walk again
  ** for the records to close. */
  for (sqli_cursor *c = *head, *next = nullptr; c != nullptr; c = next) {
    next = c->next;
    if ((c->flags & sqli_cur_open) != 0 && (c->flags & sqli_cur_hold) == 0) {
      /* An autofreed record leaves the list; the next one is already in hand.
      ** A dropped connection takes the whole list. */
      relcursor(c, 0, tcb);
      if (_sqgetchlist(tcb) != head) return *tcb->sqlcode;
    }
  }
  return *tcb->sqlcode;
}

void _sqclose_cursors(sqli_tcb *tcb) {
  sqli_cursor **head = _sqgetchlist(tcb);
  if (head == nullptr) return;
  for (sqli_cursor *c = *head, *next = nullptr; c != nullptr; c = next) {
    next = c->next;
    if (c->kind == 0 && (c->flags & sqli_cur_open) != 0) {
      const bool autofree = (c->flags & sqli_cur_autofree_asked) != 0;
      relcursor(c, 0, tcb);
      if (_sqgetchlist(tcb) != head) return;
      if (!autofree) c->flags &= ~static_cast<uint32_t>(sqli_cur_open | sqli_cur_borrowed_id);
    }
  }
}

void _sqfree_cursors(sqli_conn *conn) {
  if (conn == nullptr) return;
  sqli_tcb *tcb = getsqlitcb();
  /* A cursor borrows its statement's description: forget it first so the
  ** statement alone frees it. */
  for (sqli_cursor *c = conn->cursors; c != nullptr; c = c->next)
    if (c->link != nullptr && c->kind == 0) forget_borrowed(c);
  for (sqli_cursor *c = conn->cursors, *next = nullptr; c != nullptr; c = next) {
    next = c->next;
    c->link = nullptr;
    _sqfrcmem(c);
    sqli_release(c->marked_rows);
    free_record(c, tcb);
  }
  conn->cursors = nullptr;
}

sqli_cursor *_iqlocate_drw_store(void *handle, sqli_tcb *tcb) {
  sqli_cursor **head = _sqgetchlist(tcb);
  if (head == nullptr || handle == nullptr) return nullptr;
  for (sqli_cursor *c = *head; c != nullptr; c = c->next)
    if (sqli_cursor_handle(c) == handle) return c;
  return nullptr;
}

void _sqstealinfo(sqli_cursor *stmt, sqli_cursor *cursor) {
  cursor->stmt_type = stmt->stmt_type;
  cursor->stmt_id = stmt->stmt_id;
  cursor->rowsize = stmt->rowsize;
  cursor->ncols = stmt->ncols;
  cursor->coldesc = stmt->coldesc;
  cursor->bufsize = stmt->bufsize;
  cursor->nbuffered = stmt->nbuffered;
  cursor->buffer = stmt->buffer;
  cursor->bufpos = stmt->bufpos;
  cursor->colname_pool = stmt->colname_pool;
  cursor->nvarlen_cols = stmt->nvarlen_cols;
  cursor->marked_rows = stmt->marked_rows;
  cursor->marked_capacity = stmt->marked_capacity;
}

/* ---- Saved input descriptor --------------------------------------------------------------- */

namespace {

/* The character types whose values may be copied as terminated text. */
bool stringtype(int type) {
  switch (type) {
    case 0:
    case 13:
    case 15:
    case 16:
    case 100:
    case 109:
    case 114:
    case 116:
      return true;
    default:
      return false;
  }
}

/* A heap copy of the terminated text s (null stays null); false when
** memory ran out. */
bool copy_text(const char *s, char **out) {
  *out = nullptr;
  if (s == nullptr) return true;
  const size_t len = std::strlen(s);
  *out = static_cast<char *>(sqli_alloc(len + 1));
  if (*out == nullptr) return false;
  std::memcpy(*out, s, len + 1);
  return true;
}

}  // namespace

int afrtypmsize(int type, int len) {
  if (stringtype(type)) return len;
  return rtypmsize(type, len);
}

sqlda *save_idesc(const sqlda *src) {
  if (src == nullptr) return nullptr;
  auto *copy = static_cast<sqlda *>(sqli_alloc(sizeof(sqlda)));
  if (copy == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return nullptr;
  }
  copy->sqld = src->sqld;
  copy->desc_occ = src->desc_occ;
  const int n = src->sqld > 0 ? src->sqld : 0;
  if (n > 0 && src->sqlvar != nullptr) {
    copy->sqlvar = static_cast<sqlvar_struct *>(sqli_alloc(sizeof(sqlvar_struct) * n));
    if (copy->sqlvar == nullptr) {
      free_idesc(copy);
      _iqseterr(SQLI_E_NOMEM);
      return nullptr;
    }
  } else {
    copy->sqld = 0;
  }
  for (int i = 0; i < copy->sqld; ++i) {
    const sqlvar_struct &e = src->sqlvar[i];
    sqlvar_struct &d = copy->sqlvar[i];
    d.sqltype = e.sqltype;
    d.sqllen = e.sqllen;
    d.sqlitype = e.sqlitype;
    d.sqlilen = e.sqlilen;
    bool ok = true;
    bool made_null = false;
    if (e.sqldata != nullptr) {
      const int size = e.sqllen > 0 ? afrtypmsize(e.sqltype, e.sqllen) : 0;
      if (size > 0) {
        d.sqldata = static_cast<char *>(sqli_alloc(static_cast<size_t>(size)));
        ok = d.sqldata != nullptr;
        if (ok) std::memcpy(d.sqldata, e.sqldata, static_cast<size_t>(size));
      } else if (stringtype(e.sqltype)) {
        ok = copy_text(e.sqldata, &d.sqldata);
      } else {
        made_null = true;
      }
    }
    if (ok && (e.sqlind != nullptr || made_null)) {
      d.sqlind = static_cast<int16_t *>(sqli_alloc(sizeof(int16_t)));
      ok = d.sqlind != nullptr;
      if (ok) *d.sqlind = made_null ? int16_t {-1} : *e.sqlind;
    }
    ok = ok && copy_text(e.sqlname, &d.sqlname) && copy_text(e.sqlidata, &d.sqlidata);
    if (!ok) {
      free_idesc(copy);
      _iqseterr(SQLI_E_NOMEM);
      return nullptr;
    }
  }
  return copy;
}

void free_idesc(sqlda *copy) {
  if (copy == nullptr) return;
  if (copy->sqlvar != nullptr) {
    for (int i = 0; i < copy->sqld; ++i) {
      sqlvar_struct &d = copy->sqlvar[i];
      sqli_release(d.sqldata);
      sqli_release(d.sqlind);
      sqli_release(d.sqlname);
      sqli_release(d.sqlidata);
    }
    sqli_release(copy->sqlvar);
  }
  sqli_release(copy);
}

/* ---- XA ids -------------------------------------------------------------------------------- */

int xa_cmp_xids(const sqli_xid *stored, const sqli_xid *current) {
  if (stored == nullptr || current == nullptr) return 1;
  if (stored->format == -1 && current->format == -1) return 1;
  if (stored->gtrid_length != current->gtrid_length ||
      stored->bqual_length != current->bqual_length)
    return 1;
  const int n = stored->gtrid_length + stored->bqual_length;
  if (stored->gtrid_length < 0 || stored->bqual_length < 0 ||
      n > static_cast<int>(sizeof stored->data))
    return 1;
  return bycmpr(stored->data, current->data, n) == 0 ? 0 : 1;
}
