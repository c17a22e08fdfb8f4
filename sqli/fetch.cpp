/*
** fetch.cpp: FETCH. Rows come from the server in batches into the cursor's
** fetch buffer (one fetch request and its replies); each FETCH delivers
** the next buffered row through the row copy (_iqupdtargs) and asks for
** the next batch only when none is left. Scroll cursors ask for a row by
** position and reuse the buffer when the wanted row is already in it
** (sqli_tuple_check). Array fetch delivers every row of a batch at once
** into host arrays.
**
** Invariants the buffer keeps between calls: bufpos is the next row to
** deliver; nbuffered rows lie at and after it; for rows of varying length
** the row-length table's index is bufpos's row. A reply read that fails
** hard drops the connection and the record with it, so every reply read
** is followed by sqli_cursor_alive before the record is touched again.
*/
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gen_types.h"
#include "gen_value.h"
#include "os_env.h"
#include "sqli_conn.h"
#include "sqli_cursors.h"
#include "sqli_diag_internal.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_globals.h"
#include "sqli_prepare.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_statements.h"

namespace {

/* Options of the row copy. */
enum : int {
  unpack_descriptor = 2, /* the output comes through a named descriptor */
  unpack_indicator = 4, /* NULL without an indicator is an error */
  unpack_array = 8, /* array fetch */
  unpack_next_element = 16 /* not the first row of an array fetch */
};
/* Fetch directions. */
enum : int {
  dir_next = 1,
  dir_previous = 2,
  dir_first = 3,
  dir_last = 4,
  dir_current = 5,
  dir_absolute = 6,
  dir_relative = 7
};
constexpr int no_more_rows = 100;
constexpr int wanted_max = 32767; /* a fetch request's size is a 16-bit number */
constexpr int return_types_plain = 29;
constexpr int return_types_named = 61;
constexpr int32_t cap_optofc = 0x1;
constexpr int32_t cap_return_types = 0x4;
constexpr int stmt_select = 2;
constexpr int stmt_procedure = 56;
constexpr int stmt_insert = 6;

int32_t code_of(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }
int32_t caps(const sqli_tcb *tcb) {
  return tcb->curconn != nullptr ? tcb->curconn->capabilities : 0;
}
/* OPTOFC applies to c: the connection has it with capability 1, and c is
** not an insert cursor. */
bool optofc_applies(const sqli_cursor *c, const sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn->optofc != 0 && (caps(tcb) & cap_optofc) != 0 &&
         c->stmt_type != stmt_insert;
}
/* The deferred-PREPARE condition: the statement id travels only with the
** opening FETCH's request, and the buffer size may still be 0. */
bool deferred_prepare(const sqli_cursor *c, const sqli_tcb *tcb) {
  return (tcb->flags & sqli_flag_deferred_prepare) != 0 && optofc_applies(c, tcb);
}
/* Messages were written that no reply has answered yet. */
bool request_pending(const sqli_tcb *tcb) {
  const pipe_vbles *p = tcb->curconn != nullptr ? tcb->curconn->io : nullptr;
  return tcb->request_active != 0 || (p != nullptr && p->outptr != p->unsent);
}
bool varying_rows(const sqli_cursor *c) {
  return c->nvarlen_cols > 0 && c->rowlen_table != nullptr;
}

/* Bytes of buffered row index (0 the buffer's first), or -1 when the
** table has no entry for it. */
int64_t row_length(const sqli_cursor *c, int index) {
  if (index < 0) return -1;
  if (!varying_rows(c)) return c->rowsize;
  const int32_t *t = c->rowlen_table;
  return index < t[rowlen_capacity] ? t[rowlen_first + index] : -1;
}
/* Byte offset of buffered row index from the buffer start, or -1 when
** that row does not lie whole within the bytes received. */
int64_t row_offset(const sqli_cursor *c, int index) {
  const int64_t held = varying_rows(c) ? c->rowlen_table[rowlen_total] : c->bufsize;
  int64_t at = 0;
  if (!varying_rows(c)) {
    at = int64_t {index} * c->rowsize;
  } else {
    for (int i = 0; i < index; ++i) {
      const int64_t len = row_length(c, i);
      if (len < 0) return -1;
      at += len;
    }
  }
  const int64_t len = row_length(c, index);
  return len >= 0 && at + len <= held ? at : -1;
}
/* Rows of the buffer before bufpos (the rows delivered from it). */
int rows_before(const sqli_cursor *c) {
  if (varying_rows(c)) return c->rowlen_table[rowlen_index];
  return c->rowsize > 0 && c->bufpos != nullptr && c->buffer != nullptr
             ? static_cast<int>((c->bufpos - c->buffer) / c->rowsize)
             : 0;
}
/* Puts bufpos on buffered row index, with rows rows at and after it.
** false when the buffer does not hold that row. */
bool seek_row(sqli_cursor *c, int index, int rows) {
  const int64_t at = row_offset(c, index);
  if (at < 0 || c->buffer == nullptr) return false;
  c->bufpos = c->buffer + at;
  c->nbuffered = static_cast<int16_t>(rows);
  if (varying_rows(c)) c->rowlen_table[rowlen_index] = index;
  return true;
}
/* Empties the buffer: position at its start, no rows, an empty table. */
void empty_buffer(sqli_cursor *c) {
  c->bufpos = c->buffer;
  c->nbuffered = 0;
  if (c->rowlen_table != nullptr) {
    c->rowlen_table[rowlen_index] = -1;
    c->rowlen_table[rowlen_total] = 0;
  }
}
/* After a batch: the first row is the next to deliver. */
void at_batch_start(sqli_cursor *c) {
  c->bufpos = c->buffer;
  if (c->rowlen_table != nullptr) c->rowlen_table[rowlen_index] = 0;
}
/* Moves past the row at bufpos: one row fewer, the table's index on. */
void step_row(sqli_cursor *c) {
  const int64_t len = varying_rows(c) ? row_length(c, c->rowlen_table[rowlen_index]) : c->rowsize;
  if (len > 0 && c->bufpos != nullptr) c->bufpos += len;
  if (varying_rows(c)) ++c->rowlen_table[rowlen_index];
  --c->nbuffered;
}

/* The marked-row check of the row just delivered: sqlwarn4 when the server
** marked it. Returns 0, or -1 after recording -1812. */
int check_marked_row(sqli_cursor *c, sqli_tcb *tcb) {
  sqli_cursor *store = _iqlocate_drw_store(sqli_cursor_handle(c), tcb);
  if (store == nullptr) {
    if (c->nbuffered == 1 && (tcb->flags & sqli_flag_no_marked_store) != 0) return 0;
    _iqseterr(SQLI_E_MARKED_ROWS);
    return -1;
  }
  if (store->marked_state != 0) {
    if (store->marked_rows == nullptr) {
      _iqseterr(SQLI_E_MARKED_ROWS);
      return -1;
    }
    const int row = store->marked_next;
    if (row >= 0 && row <= store->marked_capacity &&
        (store->marked_rows[row / 8] & (1u << (row % 8))) != 0) {
      tcb->sqlca->sqlwarn.sqlwarn0 = 'W';
      tcb->sqlca->sqlwarn.sqlwarn4 = 'W';
    }
  }
  ++store->marked_next;
  return 0;
}

/* Delivers the row at bufpos into the n hosts. Returns the sqlca code. */
int deliver_row(sqli_cursor *c, int n, sqlvar_struct *hosts, int options, sqli_tcb *tcb) {
  if (c->nbuffered < 1 || c->bufpos == nullptr) {
    _iqseterr(no_more_rows);
    return code_of(tcb);
  }
  _iqupdtargs(c, n, hosts, options, tcb);
  if (code_of(tcb) < 0) return code_of(tcb);
  if (check_marked_row(c, tcb) != 0) return code_of(tcb);
  step_row(c);
  return code_of(tcb);
}

/* Whether column i of the cursor is BYTE or TEXT: the row copy leaves
** such hosts' pointers where they are, and their values come apart. */
bool blob_column(const sqli_cursor *c, int i) {
  const auto *cols = static_cast<const dbfd *>(c->coldesc);
  if (cols == nullptr || i >= c->ncols) return false;
  const int type = cols[i].type & 0xFF;
  return type == sql_type_byte || type == sql_type_text;
}

bool has_blob_columns(const sqli_cursor *c) {
  for (int i = 0; i < c->ncols; ++i)
    if (blob_column(c, i)) return true;
  return false;
}

/* Moves every host's pointers back by rows - 1 elements after an array
** fetch, except those of BYTE and TEXT columns, which the row copy did not
** move. 0, or -486. */
int rewind_hosts(const sqli_cursor *c, int n, sqlvar_struct *hosts, int rows) {
  if (rows < 2 || hosts == nullptr) return 0;
  for (int i = 0; i < n; ++i) {
    sqlvar_struct &h = hosts[i];
    if (blob_column(c, i)) continue;
    const int size = afrtypmsize(h.sqltype, h.sqllen);
    if (size < 1) return _iqseterr(SQLI_E_HOSTTYPE);
    if (h.sqldata != nullptr) h.sqldata -= static_cast<ptrdiff_t>(rows - 1) * size;
    if (h.sqlind != nullptr) {
      h.sqlind -= rows - 1;
    } else if (h.sqlidata != nullptr) {
      const int size = afrtypmsize(h.sqlitype, h.sqlilen);
      if (size < 1) return _iqseterr(SQLI_E_HOSTTYPE);
      h.sqlidata -= static_cast<ptrdiff_t>(rows - 1) * size;
    }
  }
  return 0;
}

/* Array fetch: every buffered row into the host arrays. Returns the sqlca
** code; sqlerrd[2] is set by the caller. */
int deliver_array(sqli_cursor *c, int n, sqlvar_struct *hosts, int options, int *rows,
                  sqli_tcb *tcb) {
  *rows = 0;
  if (c->nbuffered > FetArrSize) return _iqseterr(SQLI_E_ARRAY_SIZE);
  const bool blobs = has_blob_columns(c);
  std::vector<const char *> rows_at;
  while (c->nbuffered > 0) {
    if (blobs) rows_at.push_back(c->bufpos);
    _iqupdtargs(c, n, hosts, options | unpack_array | (*rows > 0 ? unpack_next_element : 0), tcb);
    if (code_of(tcb) < 0) break;
    step_row(c);
    ++*rows;
  }
  /* The caller's pointers come back whatever happened. */
  if (*rows > 0) rewind_hosts(c, n, hosts, *rows);
  if (code_of(tcb) >= 0 && *rows > 0 && blobs)
    fetch_array_blobs(c, n, hosts, rows_at.data(), *rows, (options & unpack_indicator) != 0, tcb);
  return code_of(tcb);
}

/* Makes the buffer hold FetArrSize rows for an array fetch: a buffer too
** small is replaced by one of the wanted size (also on the linked
** statement); a larger one stays, and a server that fills it is refused by
** delivery (-1831). 0, or -406 recorded. */
int size_array_buffer(sqli_cursor *c) {
  if (c->rowsize < 1) return 0; /* rows of varying length: the reader sizes the buffer */
  int64_t wanted = int64_t {FetArrSize} * c->rowsize;
  if (wanted > wanted_max) {
    wanted = wanted_max;
    FetArrSize = static_cast<int16_t>(wanted_max / c->rowsize);
  }
  if (wanted <= c->bufsize && c->buffer != nullptr) return 0;
  sqli_cursor *linked = sqli_handle_cursor(c->link);
  const bool shared = linked != nullptr && linked->buffer == c->buffer;
  sqli_release(c->buffer);
  c->buffer = c->bufpos = static_cast<char *>(sqli_alloc(static_cast<size_t>(wanted)));
  c->bufsize = c->buffer != nullptr ? static_cast<int32_t>(wanted) : 0;
  if (shared) {
    linked->buffer = linked->bufpos = c->buffer;
    linked->bufsize = c->bufsize;
  }
  return c->buffer != nullptr ? 0 : _iqseterr(SQLI_E_NOMEM);
}

/* Sends the statement id and, when wanted, the return types ahead of a
** fetch request. 0, or the code recorded. */
int send_fetch_head(sqli_cursor *c, int n, sqlvar_struct *hosts, int named, sqli_tcb *tcb) {
  if (_sqs_(0, tcb) != 0) return code_of(tcb);
  const bool defprep = deferred_prepare(c, tcb);
  if (!defprep || c->deferred_open == 3) _sqs_id(c->stmt_id, tcb);
  if ((caps(tcb) & cap_return_types) != 0 && (c->flags & sqli_cur_rtypes_sent) == 0 && n > 0 &&
      !defprep) {
    if (sendrettype(c, tcb, n, hosts, named != 0 ? return_types_named : return_types_plain) != 0)
      return code_of(tcb) != 0 ? code_of(tcb) : -1;
  }
  return 0;
}

/* The hosts of an output: the sqlda's entries, else the declared list. */
void output_hosts(const sqli_cursor *c, const sqlda *output, int *n, sqlvar_struct **hosts) {
  if (output != nullptr) {
    *n = output->sqld;
    *hosts = output->sqlvar;
  } else {
    *n = c->nout;
    *hosts = c->outlist;
  }
}

int row_options(int named, int indicator_required) {
  return (named != 0 ? unpack_descriptor : 0) | (indicator_required != 0 ? unpack_indicator : 0);
}

/* The position a scroll fetch names into *out: the first position host
** when given, else the fetch request's. 0, or the host's conversion error
** (recorded). */
int scroll_position(const sqli_varlist *position, const sqli_fetchspec *spec, int32_t *out) {
  *out = spec->position;
  if (position == nullptr || position->count < 1 || position->entries == nullptr) return 0;
  const sqlvar_struct &h = position->entries[0];
  if ((h.sqltype & 0xFF) == 103 && h.sqldata != nullptr) {
    std::memcpy(out, h.sqldata, sizeof *out);
    return 0;
  }
  value_t v {};
  if (const int code = _sqhostval(&h, &v); code != 0) return _iqseterr(code);
  *out = tolong(&v);
  return 0;
}

/* FETCH once the cursor's deferred open is settled: the checks, then the
** scroll or the sequential fetch. Returns the sqlca code. */
int fetch_open_cursor(sqli_cursor *c, sqli_varlist *position, sqlda *output, const char *descname,
                      sqli_fetchspec *spec, sqli_tcb *tcb) {
  void *handle = sqli_cursor_handle(c);
  if ((c->flags & sqli_cur_open) == 0) return _iqseterr(SQLI_E_FETCH_CLOSED);
  if (c->stmt_type != stmt_select && c->stmt_type != stmt_procedure)
    return _iqseterr(SQLI_E_NOT_SELECT);
  int named = 0;
  if (descname != nullptr) {
    output = _iqdlocate(descname, tcb);
    if (output == nullptr) return _iqseterr(SQLI_E_NODESC);
    named = 1;
  }
  sqli_fetchspec next = {0, dir_next, 0};
  if (spec == nullptr) spec = &next;
  if ((c->flags & sqli_cur_scroll) != 0)
    return _iqsftch(handle, position, output, named, spec, descname);
  if (spec->direction != dir_next) return _iqseterr(SQLI_E_NOT_SCROLL);
  return _iqftch(handle, output, named, spec->indicator_required, descname);
}

}  // namespace

extern "C" {

int sqli_tuple_check(int32_t, void *handle, int32_t *direction, int32_t *position) {
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c == nullptr || direction == nullptr || position == nullptr) {
    _iqseterr(SQLI_E_BADCURSOR);
    return -1;
  }
  const int32_t current = c->last_row - c->nbuffered;
  const int before = rows_before(c);
  const int held = c->buffer != nullptr && c->last_row >= c->first_row && c->first_row > 0
                       ? c->last_row - c->first_row + 1
                       : 0;
  switch (*direction) {
    case dir_next:
      return c->nbuffered > 0 ? 0 : 1;
    case dir_previous:
      if (before >= 2 && seek_row(c, before - 2, c->nbuffered + 2)) return 0;
      return 1;
    case dir_first:
      *direction = dir_absolute;
      *position = 1;
      break;
    case dir_last:
      return 1;
    case dir_relative:
      if (*position != 0) {
        *direction = dir_absolute;
        *position = current + *position;
        break;
      }
      *direction = dir_current;
      [[fallthrough]];
    case dir_current:
      /* A row delivered from this buffer is the current one: deliver it again. */
      if (held > 0 && before >= 1 && seek_row(c, before - 1, c->nbuffered + 1)) return 0;
      _iqseterr(SQLI_E_NO_CURRENT);
      return -1;
    default:
      break;
  }
  if (*direction != dir_absolute) return 1;
  if (*position < 1) {
    _iqseterr(no_more_rows);
    return -1;
  }
  if (held == 0 || *position < c->first_row || *position > c->last_row) return 1;
  if (held == 1) {
    /* The one row again, unless the server said it was the last. */
    if ((c->flags & sqli_cur_done) != 0) return 1;
    return before == 0 || seek_row(c, 0, 1) ? 0 : 1;
  }
  const int index = *position - c->first_row;
  return seek_row(c, index, held - index) ? 0 : 1;
}

int _iqftch(void *handle, sqlda *output, int named, int indicator_required, const char *descname) {
  sqli_tcb *tcb = CheckGlobInit();
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (tcb == nullptr || c == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  if (c->nbuffered <= 0 && (c->flags & sqli_cur_done) != 0) {
    if (optofc_applies(c, tcb) && (c->flags & sqli_cur_server_closed) != 0 &&
        (c->flags & sqli_cur_scroll) == 0 && (c->flags & sqli_cur_autofree_asked) != 0)
      _sqautofree(c, tcb);
    return _iqseterr(no_more_rows);
  }
  int n = 0;
  sqlvar_struct *hosts = nullptr;
  output_hosts(c, output, &n, &hosts);
  const bool array = FetArrSize >= 1 && named == 0;

  if (c->nbuffered <= 0) {
    empty_buffer(c);
    if (array && size_array_buffer(c) != 0) return code_of(tcb);
    if (send_fetch_head(c, n, hosts, named, tcb) != 0 || !sqli_cursor_alive(c, tcb))
      return code_of(tcb);
    if (deferred_prepare(c, tcb) && c->bufsize == 0) {
      const char *env = ggetenv("FET_BUF_SIZE");
      const int16_t wanted = env != nullptr ? static_cast<int16_t>(std::atoi(env)) : 0;
      c->bufsize = wanted >= FetBufSize ? wanted : FetBufSize;
    }
    _sqs_fetch(c->bufsize, tcb);
    if (sqli_cursor *store = _iqlocate_drw_store(handle, tcb); store != nullptr) {
      store->marked_state = 0;
      store->marked_next = 0;
    }
    _sqr_messages(c, 0, tcb);
    if (!sqli_cursor_alive(c, tcb)) return code_of(tcb);
    if (code_of(tcb) < 0) {
      if (code_of(tcb) == SQLI_E_AUTOFREE_PREP && (c->flags & sqli_cur_autofree_asked) != 0) {
        const int code = code_of(tcb);
        _sqautofree(c, tcb);
        return code;
      }
      return code_of(tcb);
    }
    if (c->nbuffered <= 0) return _iqseterr(no_more_rows);
    at_batch_start(c);
  }

  if (array) {
    int rows = 0;
    deliver_array(c, n, hosts, row_options(named, indicator_required), &rows, tcb);
    tcb->sqlca->sqlerrd[2] = rows;
  } else {
    if (deferred_prepare(c, tcb) && c->deferred_open == 2 && named != 0 &&
        sqli_describe_stmt(1, handle, nullptr, descname) < 0)
      return code_of(tcb);
    deliver_row(c, n, hosts, row_options(named, indicator_required), tcb);
    if (FetArrSize > 0) tcb->sqlca->sqlerrd[2] = code_of(tcb) < 0 ? 0 : 1;
  }
  if (code_of(tcb) == 0 && (c->flags & sqli_cur_done) == 0) _sqsetCODE(tcb);
  return code_of(tcb);
}

int _iqsftch(void *handle, sqli_varlist *position, sqlda *output, int named, sqli_fetchspec *spec,
             const char *) {
  sqli_tcb *tcb = CheckGlobInit();
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (tcb == nullptr || c == nullptr || spec == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  int32_t pos = 0;
  if (scroll_position(position, spec, &pos) != 0) return code_of(tcb);
  int32_t dir = spec->direction;
  int n = 0;
  sqlvar_struct *hosts = nullptr;
  output_hosts(c, output, &n, &hosts);
  const int options = row_options(named, spec->indicator_required);

  const int decision = sqli_tuple_check(1, handle, &dir, &pos);
  if (decision < 0) return code_of(tcb);
  if (decision == 0) return deliver_row(c, n, hosts, options, tcb);

  tcb->sqlca->sqlcode = 0;
  *tcb->sqlcode = 0;
  const int16_t saved_count = c->nbuffered;
  /* An offset: the reader may move the buffer of rows of varying length. */
  const ptrdiff_t saved_at =
      c->bufpos != nullptr && c->buffer != nullptr ? c->bufpos - c->buffer : 0;
  int32_t *const saved_table = c->rowlen_table;
  const int32_t saved_index = saved_table != nullptr ? saved_table[rowlen_index] : 0;
  const auto restore = [&](bool failed) {
    if (c->rowlen_table != saved_table) {
      sqli_release(c->rowlen_table);
      c->rowlen_table = saved_table;
    }
    if (saved_table != nullptr) saved_table[rowlen_index] = saved_index;
    if (failed) c->flags |= sqli_cur_scroll_failed;
    const bool fits = c->buffer != nullptr && saved_at <= c->bufsize;
    c->nbuffered = fits ? saved_count : int16_t {0};
    c->bufpos = fits ? c->buffer + saved_at : c->buffer;
  };
  c->nbuffered = 0;
  c->bufpos = c->buffer;
  if (c->nvarlen_cols > 0) {
    /* A fresh table: the old one stays usable should the fetch fail. */
    c->rowlen_table = nullptr;
    if (alloc_coll_tuple_info(c, tcb) != 0) {
      restore(true);
      return code_of(tcb);
    }
  }
  if (send_fetch_head(c, n, hosts, named, tcb) != 0) {
    if (sqli_cursor_alive(c, tcb)) restore(true);
    return code_of(tcb);
  }
  if (deferred_prepare(c, tcb) && c->bufsize == 0) c->bufsize = FetBufSize;
  _sqs_sfetch(dir, pos, c->bufsize, tcb);
  _sqr_messages(c, 0, tcb);
  if (!sqli_cursor_alive(c, tcb)) return code_of(tcb);
  if (code_of(tcb) < 0) {
    restore(true);
    return code_of(tcb);
  }
  if (c->nbuffered <= 0) {
    /* Nothing there: the old buffer stays as it was. */
    restore(false);
    return _iqseterr(no_more_rows);
  }
  if (c->rowlen_table != saved_table) sqli_release(saved_table);
  at_batch_start(c);
  deliver_row(c, n, hosts, options, tcb);
  if (code_of(tcb) == 0 && (c->flags & sqli_cur_done) == 0) _sqsetCODE(tcb);
  return code_of(tcb);
}

int32_t sqli_curs_fetch(int32_t, void *handle, sqli_varlist *position, sqlda *output,
                        const char *descname, sqli_fetchspec *spec) {
  int32_t early = 0;
  sqli_tcb *tcb = sqli_cursor_call_begin(&early);
  if (tcb == nullptr) return early;
  sqli_cursor *c = sqli_handle_cursor(handle);
  if (c != nullptr && c->coll_mark == 1) {
    dvz_cl_fetch(c, position, output, descname, spec, tcb);
    return code_of(tcb);
  }
  if (c == nullptr) return _iqseterr(SQLI_E_BADCURSOR);
  _sqsetup(c);
  bool opening = false;
  if (optofc_applies(c, tcb)) {
    if (c->deferred_open == 0) return _iqseterr(SQLI_E_FETCH_CLOSED);
    if (c->deferred_open == 1) {
      c->deferred_open = 2;
      const int code =
          sqli_curs_open(1, handle, static_cast<sqlda *>(c->saved_sqlda), c->saved_descname,
                         nullptr, 2, (c->flags & sqli_cur_reoptimize) != 0 ? 1 : 0);
      if (code != 0 || !sqli_cursor_alive(c, tcb)) return code_of(tcb);
      opening = true;
    } else {
      c->deferred_open = 3;
    }
  }
  fetch_open_cursor(c, position, output, descname, spec, tcb);
  if (opening && sqli_cursor_alive(c, tcb) && request_pending(tcb)) {
    /* The open travels with this call's request, but no fetch request
    ** followed it (a refusal, or rows answered from the buffer): complete
    ** it now, keeping what this call recorded. */
    const int32_t code = code_of(tcb);
    _sqr_messages(c, 0, tcb);
    if (code != 0 && code_of(tcb) >= 0 && sqli_cursor_alive(c, tcb)) _iqseterr(code);
  }
  return code_of(tcb);
}

int _iqnftch(void *handle, int noutput, sqlvar_struct *outputs, int direction, int32_t position,
             int npositions, sqlvar_struct *positions, int indicator_required) {
  sqlda out {};
  out.sqld = static_cast<int16_t>(noutput);
  out.sqlvar = outputs;
  sqli_varlist pos {static_cast<int16_t>(npositions), positions};
  sqli_fetchspec spec {position, direction, indicator_required};
  return sqli_curs_fetch(1, handle, npositions > 0 ? &pos : nullptr,
                         outputs != nullptr ? &out : nullptr, nullptr, &spec);
}

}  // extern "C"
