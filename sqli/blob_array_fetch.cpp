/*
** blob_array_fetch.cpp: the BYTE and TEXT values of the rows of an array
** fetch. After the rows are delivered, one request (message 92) asks for
** every non-NULL value of them at once; the reply brings the values in
** row and column order, each as chunks ended by a chunk of length 0, then
** the end of the reply. Each BYTE or TEXT host holds an array of locators,
** one a row (sizeof(loc_t) apart), and its indicator array one element a
** row. The hosts' own pointers are never moved: a row's element is found
** by its index.
*/
#include <cstring>

#include "gen_types.h"
#include "os_stored.h"
#include "sqli_blob.h"
#include "sqli_cursors.h"
#include "sqli_descriptors.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_runtime_records.h"
#include "sqli_send.h"

namespace {

constexpr int e_no_indicator = -467;
constexpr int e_blob_host = -608;
constexpr int e_file_host = -999;
constexpr int warn_truncated = 1;

const dbfd *columns(const sqli_cursor *c) { return static_cast<const dbfd *>(c->coldesc); }

bool blob_column(const dbfd &col) {
  const int type = col.type & 0xFF;
  return type == sql_type_byte || type == sql_type_text;
}

loc_t *row_locator(const sqlvar_struct &h, int index) {
  return reinterpret_cast<loc_t *>(h.sqldata) + index;
}

/* Stores ind into the host's indicator of row index. 0 when stored, 1 when
** the host has no indicator, -1 after a failed conversion (recorded). */
int put_row_indicator(const sqlvar_struct &h, int index, int16_t ind) {
  if (h.sqlind != nullptr) {
    h.sqlind[index] = ind;
    return 0;
  }
  if (h.sqlidata != nullptr && h.sqlitype != 0) {
    const int size = afrtypmsize(h.sqlitype, h.sqlilen);
    if (size < 1) return _iqseterr(SQLI_E_HOSTTYPE), -1;
    return _sqindhost(ind, h.sqlidata + static_cast<ptrdiff_t>(index) * size, h.sqlitype,
                      h.sqlilen) != 0
               ? -1
               : 0;
  }
  return 1;
}

/* The hosts of the BYTE and TEXT columns must be locator arrays: -402
** without data, -999 for a file host, -608 for any other type. 0 or the
** error recorded. */
int check_hosts(const sqli_cursor *c, int n, const sqlvar_struct *hosts) {
  const dbfd *cols = columns(c);
  for (int i = 0; i < n; ++i) {
    if (!blob_column(cols[i])) continue;
    const sqlvar_struct &h = hosts[i];
    if (h.sqldata == nullptr) return _iqseterr(SQLI_E_NODATA);
    const int type = h.sqltype & 0xFF;
    if (type == host_type_file) return _iqseterr(e_file_host);
    if (type != host_type_locator && type != sql_type_byte && type != sql_type_text)
      return _iqseterr(e_blob_host);
  }
  return 0;
}

}  // namespace

int has_blobs(sqli_cursor *c, int n, sqlvar_struct *hosts, const char *const *rows_at, int rows,
              sqli_tcb *) {
  const dbfd *cols = columns(c);
  int count = 0;
  for (int r = 0; r < rows; ++r) {
    for (int i = 0; i < n; ++i) {
      if (!blob_column(cols[i])) continue;
      const sqlvar_struct &h = hosts[i];
      loc_t *loc = row_locator(h, r);
      int64_t size = 0;
      const bool null = sqli_blob_prepare_locator(rows_at[r] + cols[i].start, cols[i].type & 0xFF,
                                                  loc, &size) != 0;
      (void)put_row_indicator(h, r, null ? -1 : 0);
      if (!null) ++count;
    }
  }
  return count;
}

int send_ar_bl_spec(const char *desc, int stored_len, sqli_tcb *tcb) {
  if (stored_len != TBLOB_STORED_SIZE) {
    _sqproterr(tcb, SQ_BLOB_REQUEST);
    return -1;
  }
  tblob_desc_t d {};
  tblobload(&d, desc);
  if ((d.tb_flags & TBLOB_NULL) != 0) return 0;
  pipe_vbles *p = sqli_outpipe(tcb);
  sqli_put16(p, SQ_BLOB_REQUEST);
  _iputbuf(desc, TBLOB_STORED_SIZE, p);
  return 0;
}

void snd_blob_spec(sqli_cursor *c, int n, sqlvar_struct *, const char *row, sqli_tcb *tcb) {
  const dbfd *cols = columns(c);
  for (int i = 0; i < n; ++i) {
    if (!blob_column(cols[i])) continue;
    if (send_ar_bl_spec(row + cols[i].start, cols[i].length, tcb) != 0) return;
  }
}

namespace {

/* Where the reply stands after a value: its chunks not read, read (or
** skipped), or the reply over (server error or protocol error). */
enum reply_state { value_pending, value_consumed, reply_over };

/* get_ar_blobs, with the state of the reply after it in *state. */
int get_one(const char *desc, int sql_type, int stored_len, loc_t *loc, int16_t *ind,
            int16_t *isnull, reply_state *state, sqli_tcb *tcb) {
  *ind = 0;
  *isnull = 0;
  *state = value_pending;
  if (stored_len != TBLOB_STORED_SIZE) {
    _sqproterr(tcb, SQR_BLOB);
    *state = reply_over;
    return -1;
  }
  tblob_desc_t d {};
  tblobload(&d, desc);
  if ((d.tb_flags & TBLOB_NULL) != 0) {
    *ind = -1;
    *isnull = 1;
    *state = value_consumed;
    if (loc->kind == loc_in_file) {
      if (_sqlocopen(loc, loc_open_write, 0) != 0 || _sqlocclose(loc) != 0) return -1;
      loc->indicator = -1;
    }
    return 0;
  }
  const int64_t size = int64_t {d.tb_words[2]} - d.tb_words[1] + 1;
  if (sqli_blob_open_locator(loc, size) != 0) return -1;
  blob_target t {};
  t.loc = loc;
  t.fd = -1;
  t.sql_type = sql_type;
  t.code_before = tcb->sqlca->sqlcode;
  if (sqli_blob_read_chunks(&t, tcb, nullptr, true) == 0) {
    *state = value_consumed;
    return _sqlocclose(loc) != 0 ? -1 : 0;
  }
  if (t.write_failed == 0) {
    *state = reply_over;
    return -1;
  }
  *state = value_consumed;
  if (t.write_error == SQLI_E_LOCSIZE) {
    /* Too big for the program's buffer: cut, as a truncated value. */
    tcb->sqlca->sqlcode = t.code_before;
    *ind = 1;
    return 0;
  }
  return -1;
}

}  // namespace

int get_ar_blobs(const char *desc, int sql_type, int stored_len, loc_t *loc, int16_t *ind,
                 int16_t *isnull, sqli_tcb *tcb) {
  reply_state state = value_pending;
  return get_one(desc, sql_type, stored_len, loc, ind, isnull, &state, tcb);
}

int ret_arr_blobs(sqli_cursor *c, int n, sqlvar_struct *hosts, const char *row, int ind_required,
                  int index, int *outstanding, sqli_tcb *tcb) {
  const dbfd *cols = columns(c);
  int received = 0;
  for (int i = 0; i < n; ++i) {
    if (!blob_column(cols[i])) continue;
    const sqlvar_struct &h = hosts[i];
    loc_t *loc = row_locator(h, index);
    int16_t ind = 0;
    int16_t isnull = 0;
    reply_state state = value_pending;
    const int rc = get_one(row + cols[i].start, cols[i].type & 0xFF, cols[i].length, loc, &ind,
                           &isnull, &state, tcb);
    if (state == reply_over) {
      *outstanding = -1;
      return -1;
    }
    if (state == value_consumed && isnull == 0) {
      --*outstanding;
      if (rc == 0) ++received;
    }
    if (rc != 0) return -1;
    if (ind > 0) {
      tcb->sqlca->sqlwarn.sqlwarn0 = 'W';
      tcb->sqlca->sqlwarn.sqlwarn1 = 'W';
      _sqfeWARN(warn_truncated);
    }
    const int stored = put_row_indicator(h, index, ind);
    if (stored < 0) return -1;
    if (stored == 1 && isnull != 0 && ind_required != 0) {
      _iqseterr(e_no_indicator);
      return -1;
    }
  }
  return received;
}

int fetch_array_blobs(sqli_cursor *c, int n, sqlvar_struct *hosts, const char *const *rows_at,
                      int rows, int ind_required, sqli_tcb *tcb) {
  if (hosts == nullptr) {
    hosts = c->outlist;
    n = c->nout;
  }
  if (hosts == nullptr || columns(c) == nullptr) return 0;
  if (n > c->ncols) n = c->ncols;
  if (check_hosts(c, n, hosts) != 0) return -1;
  const int count = has_blobs(c, n, hosts, rows_at, rows, tcb);
  if (count == 0) return 0;
  pipe_vbles *p = sqli_outpipe(tcb);
  if (p == nullptr || blob_buffer(tcb) != 0) return -1;
  sqli_put16(p, SQ_FETCH_BLOBS);
  sqli_put16(p, count);
  _sqs_id(c->stmt_id, tcb);
  for (int r = 0; r < rows; ++r) {
    snd_blob_spec(c, n, hosts, rows_at[r], tcb);
    if (sqli_outpipe(tcb) == nullptr) return -1; /* a protocol error dropped it */
  }
  _sqflip(tcb);
  int outstanding = count;
  for (int r = 0; r < rows; ++r) {
    if (ret_arr_blobs(c, n, hosts, rows_at[r], ind_required, r, &outstanding, tcb) >= 0) continue;
    if (outstanding < 0 || sqli_outpipe(tcb) == nullptr) return -1; /* the reply is over */
    /* The values not yet read still come, then the end of the reply. */
    const int32_t code = tcb->sqlca->sqlcode;
    const int32_t code2 = tcb->sqlca->sqlerrd[1];
    if (_igoblblobs(outstanding, sqli_outpipe(tcb)) != 0) {
      _sqproterr(tcb, SQR_BLOB);
      return -1;
    }
    if (get_eot(tcb, c) == 0) {
      tcb->sqlca->sqlcode = code;
      tcb->sqlca->sqlerrd[1] = code2;
    }
    return -1;
  }
  return get_eot(tcb, c);
}
