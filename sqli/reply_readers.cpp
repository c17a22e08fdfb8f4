/*
** reply_readers.cpp: the readers of the common SQLI replies (error, error
** with a row count, done, describe, tuple, row position, cost, insert
** done, transaction state, cursor closed), the warnings they record, the
** column descriptions and column-name pool a describe leaves on a record,
** and the row-length table and buffer of variable-length rows.
**
** Every length and count read from the wire is checked before it is used:
** a negative length, or one larger than its destination, is a protocol
** error (-1) unless the reply's layout lets the reader skip it in step.
** Loops driven by a wire count stop once the receive side has failed.
*/
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dvz_be.h"
#include "gen_types.h"
#include "os_conv.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_messages.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_globals.h"
#include "sqli_handshake.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_seams.h"
#include "sqli_wire.h"

int16_t FetBufSize = 4096;
int16_t FetArrSize = 0;
int32_t Noansiwarn = 0;

namespace {

constexpr int32_t cap_long_rows = 0x4; /* i32 row lengths, extended describe, error tail */
constexpr int udr_default_text = -1824; /* catalog text when a routine sends none */
constexpr int udr_text_max = 1024;
constexpr int text_copy_failed = -768;
constexpr int bad_tuple_length = -403;
constexpr int var_row_step = 1028; /* variable-length row buffers grow in these */
/* Longest variable-length row taken: a longer one is a protocol error
** rather than an allocation the peer chose. */
constexpr int64_t var_row_max = int64_t {1} << 24;
constexpr int rowlen_step = 10;

pipe_vbles *pipe_of(sqli_tcb *tcb) {
  return tcb != nullptr && tcb->curconn != nullptr ? tcb->curconn->io : nullptr;
}
int32_t caps_of(const sqli_tcb *tcb) { return tcb->curconn->capabilities; }
bool failed(const pipe_vbles *p) { return p->recv_failed != 0; }

/* Skips a text of i16 length. false on a negative length. */
bool skip_text16(pipe_vbles *p) {
  const int n = _igetint(p);
  if (n < 0) return false;
  _igoblchars(n, p);
  return true;
}

void set_warn(sqlca_s *ca, int member) { reinterpret_cast<char *>(&ca->sqlwarn)[member] = 'W'; }

/* sqlwarn0 and member i+1 for each of bits 0 to 6 of flags. */
void warn_bits(sqlca_s *ca, int flags) {
  set_warn(ca, 0);
  for (int i = 0; i < 7; ++i)
    if ((flags & (1 << i)) != 0) set_warn(ca, i + 1);
}

/* The record a cursor's handle links to (its `link` field's address). */
sqli_cursor *linked_record(const sqli_cursor *c) {
  if (c->link == nullptr) return nullptr;
  return reinterpret_cast<sqli_cursor *>(static_cast<char *>(c->link) -
                                         offsetof(sqli_cursor, link));
}

/* Copies n bytes of name text from the server to a new heap string:
** mapped by DBAPICODE or converted to the client code set. Null after
** recording the error (-768 through _iqset2err, or the GLS error). */
char *copy_name_text(const char *src, int n) {
  if (_sqdbapi != 0) {
    auto *out = static_cast<char *>(sqli_alloc(static_cast<size_t>(n) + 1));
    if (out == nullptr || CPDBTOVAR(src, out, n) != 0) {
      sqli_release(out);
      _iqset2err(text_copy_failed, 0, "_sqg_desc");
      return nullptr;
    }
    out[n] = '\0';
    return out;
  }
  gl_cv_desc *cv = sqli_db_client_converter();
  if (cv == nullptr || n == 0) {
    auto *out = static_cast<char *>(sqli_alloc(static_cast<size_t>(n) + 1));
    if (out == nullptr) {
      _iqset2err(text_copy_failed, 0, "_sqg_desc");
      return nullptr;
    }
    std::memcpy(out, src, static_cast<size_t>(n));
    return out;
  }
  char *converted = nullptr;
  int len = n;
  const int got = gcv_malloc(cv, src, &len, &converted);
  char *out = got >= 0 ? static_cast<char *>(sqli_alloc(static_cast<size_t>(got) + 1)) : nullptr;
  if (out != nullptr) std::memcpy(out, converted, static_cast<size_t>(got));
  std::free(converted);
  if (out == nullptr) {
    const int gls = get_glserror();
    if (got < 0 && gls != 0)
      _iqseterr(gls);
    else
      _iqset2err(text_copy_failed, 0, "_sqg_desc");
  }
  return out;
}

/* One column's extended texts: i16 length and bytes with pad. false on a
** negative length (protocol error). *out stays null when copy is false
** or the copy failed (*copy_ok then false). */
bool read_name_text(pipe_vbles *p, bool copy, char **out, int16_t *len, bool *copy_ok) {
  const int n = _igetint(p);
  if (n < 0) return false;
  *len = static_cast<int16_t>(n);
  *out = nullptr;
  if (!copy || n == 0) { /* an empty name stays null */
    _igoblchars(n, p);
    return true;
  }
  auto *raw = static_cast<char *>(sqli_alloc(static_cast<size_t>(n) + 1));
  if (raw == nullptr) {
    _igoblchars(n, p);
    _iqseterr(SQLI_E_NOMEM);
    *copy_ok = false;
    return true;
  }
  _igetpbuf(raw, n, p);
  *out = copy_name_text(raw, n);
  sqli_release(raw);
  if (*out == nullptr) *copy_ok = false;
  return true;
}

/* Skips count column entries of a describe reply. false on a bad length. */
bool gobble_columns(int count, bool ext, pipe_vbles *p) {
  for (int i = 0; i < count && !failed(p); ++i) {
    if (!ext) {
      _igoblints(4, p);
      continue;
    }
    _igoblints(6, p);
    if (!skip_text16(p) || !skip_text16(p)) return false;
    _igoblints(6, p);
  }
  return true;
}

/* The describe type rules: the SQL type and flags of a type word. */
void apply_type_rules(dbfd *d, int word) {
  const int own = word & 0xFF;
  int type = own;
  int16_t flags = 0;
  if ((type < sql_type_set || type == sql_type_unnamed_builtin) && (word & 0x800) != 0) {
    d->source = type;
    d->distinct_length = d->length;
    type = sql_type_variable_udt;
    flags |= dbfd_distinct_builtin;
  }
  const bool udt = type == sql_type_variable_udt || type == sql_type_fixed_udt;
  if (udt && d->xid == 1 && (word & 0x2000) == 0) {
    type = sql_type_lvarchar;
  } else if (udt && d->xid == 5 &&
             !((word & 0x4000) != 0 &&
               (own == sql_type_variable_udt || own == sql_type_fixed_udt))) {
    type = sql_type_boolean;
  }
  if ((word & 0x100) == 0) flags |= dbfd_nullable;
  if ((word & 0x2000) != 0)
    flags |= dbfd_bit2000;
  else if ((word & 0x4000) != 0)
    flags |= dbfd_bit4000;
  else if ((word & 0x800) != 0)
    flags |= dbfd_distinct;
  const bool udt_now = type == sql_type_variable_udt || type == sql_type_fixed_udt;
  if (udt_now && (word & 0x1000) != 0) flags |= dbfd_udt_bit1000;
  if ((word & 0x1000) != 0) flags |= dbfd_bit1000;
  d->type = static_cast<int16_t>(type);
  d->flags = flags;
}

bool varying_type(int type, bool pad_varchar) {
  if (type == sql_type_variable_udt || type == sql_type_fixed_udt) return true;
  if (type >= sql_type_set && type <= sql_type_collection) return true;
  return pad_varchar && (type == sql_type_varchar || type == sql_type_nvarchar);
}

/* FET_BUF_SIZE as a 16-bit number, or 0 when unset. */
int fet_buf_size_env() {
  const char *v = ggetenv("FET_BUF_SIZE");
  return v != nullptr ? static_cast<int16_t>(std::atoi(v)) : 0;
}

/* The fetch buffer size of a described row. */
int fetch_buffer_size(int rowsize) {
  int size = rowsize < 513 ? 1024 : rowsize > 1024 ? rowsize : 2048;
  const int env = fet_buf_size_env();
  if (env >= size) size = env;
  if (FetBufSize > size) size = FetBufSize;
  if (FetArrSize > 0) {
    const int arr = static_cast<int16_t>(rowsize * FetArrSize);
    if (arr > size) size = arr;
  }
  return size;
}

/* Every name offset lies inside the pool with its NUL inside it too. */
bool offsets_valid(const sqli_cursor *c, const char *pool, int pool_len) {
  const auto *cols = static_cast<const dbfd *>(c->coldesc);
  for (int i = 0; i < c->ncols; ++i) {
    const int off = cols[i].name_offset;
    if (off >= pool_len ||
        std::memchr(pool + off, '\0', static_cast<size_t>(pool_len - off)) == nullptr)
      return false;
  }
  return true;
}

/* Sets up the marked-row store of a described select. */
void setup_marked_store(sqli_cursor *c, sqli_tcb *tcb) {
  sqli_cursor *store = _iqlocate_drw_store(&c->link, tcb);
  if (store == nullptr) {
    tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_no_marked_store);
    return;
  }
  const int capacity = c->rowsize < 1 ? 4 : c->bufsize / c->rowsize;
  sqli_release(store->marked_rows);
  store->marked_rows =
      static_cast<unsigned char *>(sqli_alloc(static_cast<size_t>(capacity) / 8 + 1));
  store->marked_capacity = store->marked_rows != nullptr ? capacity : 0;
  store->marked_state = 0;
  if (store->marked_rows == nullptr) _iqseterr(SQLI_E_NOMEM);
}

/* Reads the describe reply into c. */
int read_description(sqli_cursor *c, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  const bool ext = (caps_of(tcb) & cap_long_rows) != 0;
  const bool pad_varchar = tcb->curconn->varchar_pad != 0;
  const int old_bufsize = c->bufsize;
  c->bufsize = 0;
  c->bufpos = c->buffer; /* no rows are kept across a new description */
  c->nbuffered = 0;
  const int old_varlen = c->nvarlen_cols;
  c->nvarlen_cols = 0;
  c->stmt_type = static_cast<int16_t>(_igetint(p));
  c->stmt_id = static_cast<int16_t>(_igetint(p));
  tcb->sqlca->sqlerrd[3] = _igetlong(p);
  const int type = c->stmt_type;
  const bool keep = type == 2 || type == 3 || type == 56 ||
                    ((type == 4 || type == 6 || type == 7 || type == 33) &&
                     (c->flags & sqli_cur_statement_path) == 0);
  if (!keep) {
    (void)_igetint(p);
    const int count = _igetint(p);
    const int pool_len = _igetunsigned(p);
    if (count < 0 || !gobble_columns(count, ext, p)) return -1;
    _igoblchars(pool_len, p);
    if (type == 1 || type == 12 || type == 38) _iqdbflag(tcb);
    if (type == 19) _iqrevokeflag(tcb);
    return 0;
  }

  const int rowsize_in = _igetint(p);
  const int count = _igetint(p);
  const int pool_len = _igetunsigned(p);
  if (rowsize_in < 0 || count < 0 || failed(p)) return -1;
  c->flags &= ~(sqli_cur_rtypes_sent | sqli_cur_rtypes_opt8);
  if (dbfdrealloc(c, count) != 0) {
    c->ncols = 0;
    c->rowsize = 0;
    _iqseterr(SQLI_E_NOMEM);
    if (!gobble_columns(count, ext, p)) return -1;
    _igoblchars(pool_len, p);
    return 0;
  }
  auto *cols = static_cast<dbfd *>(c->coldesc);
  int rowsize = rowsize_in;
  int varlen = 0;
  bool copy_ok = true;
  bool blob_column = false;
  for (int i = 0; i < count && !failed(p); ++i) {
    dbfd *d = &cols[i];
    d->name_offset = static_cast<uint16_t>(_igetunsigned(p));
    d->start = ext ? _igetlong(p) : _igetint(p);
    const int word = _igetint(p) & 0xFFFF;
    if (!ext) {
      d->length = _igetint(p);
    } else {
      d->xid = _igetlong(p);
      if (!read_name_text(p, copy_ok, &d->owner_name, &d->owner_name_len, &copy_ok) ||
          !read_name_text(p, copy_ok, &d->type_name, &d->type_name_len, &copy_ok)) {
        freedbfd(c);
        return -1;
      }
      d->words[0] = static_cast<int16_t>(_igetint(p));
      d->words[1] = static_cast<int16_t>(_igetint(p));
      d->source = _igetlong(p);
      d->length = _igetlong(p);
    }
    apply_type_rules(d, word);
    if (varying_type(d->type, pad_varchar)) {
      ++varlen;
      if (pad_varchar && (d->type == sql_type_varchar || d->type == sql_type_nvarchar))
        rowsize = std::max(0, rowsize - gettupsize(d->type, d->length));
    }
    const int sqltype = rtosqltype(d->type);
    if (sqltype == sql_type_byte || sqltype == sql_type_text) blob_column = true;
  }
  if (failed(p)) {
    freedbfd(c);
    return -1;
  }

  /* The record's pool is reused: its names are rewritten in any case. */
  char *pool = static_cast<char *>(sqli_grow(c->colname_pool, static_cast<size_t>(pool_len) + 1));
  if (pool == nullptr) {
    freedbfd(c);
    _igoblchars(pool_len, p);
    _iqseterr(SQLI_E_NOMEM);
    return 0;
  }
  c->colname_pool = pool;
  _igetpbuf(pool, pool_len, p);
  pool[pool_len] = '\0';
  c->ncols = static_cast<int16_t>(count);
  if (failed(p) || !offsets_valid(c, pool, pool_len)) {
    freedbfd(c);
    return -1;
  }
  if (!copy_ok) { /* the error is recorded; no description is kept */
    freedbfd(c);
    return 0;
  }
  sqli_release(c->conv_colname_pool);
  c->conv_colname_pool = nullptr;
  c->rowsize = static_cast<int16_t>(rowsize);

  if (blob_column) {
    c->bufsize = rowsize;
    if ((c->flags & sqli_cur_fetch_bufsize) != 0) {
      const int env = fet_buf_size_env();
      if (env >= c->bufsize) c->bufsize = env;
    }
  }
  if (c->bufsize == 0) c->bufsize = fetch_buffer_size(rowsize);
  if (c->buffer == nullptr || c->bufsize != old_bufsize) { /* a buffer of the size is kept */
    c->buffer = static_cast<char *>(_sqrealloc(c->buffer, c->bufsize));
    if (c->buffer == nullptr) c->bufsize = 0;
  }
  c->bufpos = c->buffer;

  if (_sqdbapi != 0) {
    c->conv_colname_pool = static_cast<char *>(sqli_alloc(static_cast<size_t>(pool_len) + 1));
    if (c->conv_colname_pool == nullptr)
      _iqseterr(SQLI_E_NOMEM);
    else
      CPDBTOVAR(pool, c->conv_colname_pool, pool_len);
  } else if (pool_len > 0 && sqli_db_client_converter() != nullptr) {
    (void)_sqg_gls_cvt(c, pool_len, tcb);
  }

  c->nvarlen_cols =
      static_cast<int16_t>(varlen + ((c->flags & sqli_cur_rtypes_opt8) != 0 ? old_varlen : 0));
  if (type == 6)
    c->nbuffered =
        static_cast<int16_t>(c->rowsize >= 1 && c->nvarlen_cols == 0 ? c->bufsize / c->rowsize : 0);
  if (type == 2) setup_marked_store(c, tcb);
  return 0;
}

}  // namespace

gl_cv_desc *sqli_db_client_converter(void) {
  if (_sqdbapi != 0) return nullptr;
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_db_client : nullptr;
}

/* ---- Column descriptions ----------------------------------------------------------- */

void freedbfd(sqli_cursor *c) {
  auto *cols = static_cast<dbfd *>(c->coldesc);
  if (cols != nullptr)
    for (int i = 0; i < c->ncols; ++i) {
      sqli_release(cols[i].type_name);
      sqli_release(cols[i].owner_name);
    }
  sqli_release(cols);
  c->coldesc = nullptr;
  c->ncols = 0;
}

int dbfdrealloc(sqli_cursor *c, int n) {
  if (c->coldesc != nullptr && c->ncols == n && n > 0) { /* same count: the block is kept */
    auto *cols = static_cast<dbfd *>(c->coldesc);
    for (int i = 0; i < n; ++i) {
      sqli_release(cols[i].type_name);
      sqli_release(cols[i].owner_name);
    }
    std::memset(cols, 0, sizeof(dbfd) * static_cast<size_t>(n));
    return 0;
  }
  freedbfd(c);
  c->coldesc = sqli_alloc(sizeof(dbfd) * static_cast<size_t>(std::max(n, 1)));
  if (c->coldesc == nullptr) return -1;
  c->ncols = static_cast<int16_t>(n);
  return 0;
}

int _sqg_gls_cvt(sqli_cursor *c, int pool_len, sqli_tcb *) {
  gl_cv_desc *cv = sqli_db_client_converter();
  auto *cols = static_cast<dbfd *>(c->coldesc);
  int len = pool_len;
  if (gcv_len(cv, c->colname_pool, &len) < 0) {
    const int gls = get_glserror();
    _iqseterr(gls != 0 ? gls : text_copy_failed);
    return -1;
  }
  /* Each name runs from its offset to its NUL (checked by the reader). */
  int64_t room = 1;
  for (int i = 0; i < c->ncols; ++i) {
    const char *name = c->colname_pool + cols[i].name_offset;
    room += gcv_lenonly(cv, static_cast<int>(std::strlen(name)) + 1);
  }
  if (room > 65535 * 8) {
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  auto *pool = static_cast<char *>(sqli_alloc(static_cast<size_t>(room)));
  if (pool == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  int at = 0;
  for (int i = 0; i < c->ncols; ++i) {
    const char *name = c->colname_pool + cols[i].name_offset;
    int n = static_cast<int>(std::strlen(name)) + 1;
    int truncated = 0;
    const int got = gcv_extbuf(cv, name, &n, pool + at, static_cast<int>(room) - at, &truncated);
    if (got <= 0) {
      sqli_release(pool);
      _iqseterr(SQLI_E_NOMEM);
      return -1;
    }
    pool[at + got - 1] = '\0';
    cols[i].name_offset = static_cast<uint16_t>(at);
    at += got;
  }
  sqli_release(c->colname_pool);
  c->colname_pool = pool;
  return 0;
}

/* ---- Row-length table and variable-length row buffer --------------------------------- */

int alloc_coll_tuple_info(sqli_cursor *c, sqli_tcb *) {
  int32_t *t = c->rowlen_table;
  if (t == nullptr) {
    t = static_cast<int32_t *>(sqli_alloc(sizeof(int32_t) * (rowlen_first + rowlen_step + 1)));
    if (t == nullptr) return _iqseterr(SQLI_E_NOMEM), SQLI_E_NOMEM;
    t[rowlen_index] = -1;
    t[rowlen_total] = 0;
    t[rowlen_capacity] = rowlen_step;
    c->rowlen_table = t;
    return 0;
  }
  /* The next row is stored at index + 1: grow before that reaches the end. */
  if (t[rowlen_index] + 1 >= t[rowlen_capacity]) {
    const int capacity = t[rowlen_capacity] + rowlen_step;
    auto *grown = static_cast<int32_t *>(
        sqli_grow(t, sizeof(int32_t) * (static_cast<size_t>(capacity) + rowlen_first + 1)));
    if (grown == nullptr) return _iqseterr(SQLI_E_NOMEM), SQLI_E_NOMEM;
    grown[rowlen_capacity] = capacity;
    c->rowlen_table = grown;
  }
  return 0;
}

int allocate_var_tuple_buffer(sqli_cursor *c, int wanted, sqli_tcb *tcb) {
  if (alloc_coll_tuple_info(c, tcb) != 0) return -1;
  const int32_t total = c->rowlen_table[rowlen_total];
  const int64_t needed = int64_t {total} + wanted;
  const int64_t rounded = (needed + var_row_step - 1) / var_row_step * var_row_step;
  sqli_cursor *linked = linked_record(c);
  const bool holds = c->buffer != nullptr && c->bufsize >= needed;
  if (holds && (c->bufsize <= rounded || c->bufsize <= FetBufSize)) {
    c->bufpos = c->buffer + total;
    return 0;
  }
  auto *grown = static_cast<char *>(sqli_grow(c->buffer, static_cast<size_t>(rounded)));
  if (grown == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    sqli_release(c->buffer);
    c->buffer = c->bufpos = nullptr;
    c->bufsize = 0;
    if (linked != nullptr) {
      linked->buffer = linked->bufpos = nullptr;
      linked->bufsize = 0;
    }
    return -1;
  }
  const int old = c->buffer != nullptr ? std::min<int64_t>(c->bufsize, rounded) : 0;
  std::memset(grown + old, 0, static_cast<size_t>(rounded - old));
  c->buffer = grown;
  c->bufsize = static_cast<int32_t>(rounded);
  c->bufpos = grown + total;
  if (linked != nullptr) {
    linked->buffer = grown;
    linked->bufsize = c->bufsize;
  }
  return 0;
}

/* ---- Warnings and the first sqlca --------------------------------------------------------- */

void _sqwarnset(int flags, sqli_tcb *tcb) {
  if (tcb->ansiwarn_pending != 0) {
    tcb->ansiwarn_pending = 0;
    Noansiwarn = ggetenv("DBANSIWARN") == nullptr ? 1 : 0;
  }
  if (Noansiwarn != 0) flags &= ~0x10;
  if (flags == 0) return;
  _sqbeWARN(flags, tcb);
  warn_bits(tcb->sqlca, flags);
}

/* For a caller without the context at hand. */
void _sqwarnsetbe(int flags) {
  if (sqli_tcb *tcb = CheckGlobInit(); tcb != nullptr) _sqwarnset(flags, tcb);
}

/* Turns ANSI warnings on. */
void _sqansion(void) {
  if (sqli_tcb *tcb = CheckGlobInit(); tcb != nullptr) tcb->ansiwarn_pending = 0;
  Noansiwarn = 0;
}

void restore_sqlca(sqlca_s *ca, sqli_tcb *tcb) {
  const sqlca_s &first = tcb->first_sqlca;
  ca->sqlcode = first.sqlcode;
  std::memcpy(ca->sqlerrm, first.sqlerrm, sizeof ca->sqlerrm);
  std::memcpy(ca->sqlerrp, first.sqlerrp, sizeof ca->sqlerrp);
  std::memcpy(ca->sqlerrd, first.sqlerrd, sizeof ca->sqlerrd);
  ca->sqlwarn = first.sqlwarn;
  *tcb->sqlcode = first.sqlcode;
  const sqli_diag_area *diag = tcb->diag;
  if (diag != nullptr && diag->count > 0) {
    const char *state = diag->recs[diag->count - 1].sqlstate;
    if (state[0] != '\0') std::memcpy(tcb->sqlstate, state, SQLI_SQLSTATE_SIZE);
  }
  tcb->first_saved = 0;
}

/* ---- The readers --------------------------------------------------------------------- */

int _sqg_err(sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  sqlca_s *ca = tcb->sqlca;
  const int code = _igetint(p);
  if (code == -619) { /* read and dropped */
    _igoblints(2, p);
    return skip_text16(p) ? 0 : -1;
  }
  const int isam = _igetint(p);
  const int position = _igetint(p);
  if (code != -368) {
    const int n = _igetint(p);
    if (n < 0) return -1;
    tcb->msgtext_written = 1;
    const int kept = sqli_read_kept(tcb->msgtext, sqli_msgtext_size - 1, n, p);
    tcb->msgtext[kept] = '\0';
    const int shown = std::min(kept, static_cast<int>(sqli_errm_max));
    std::memcpy(ca->sqlerrm, tcb->msgtext, static_cast<size_t>(shown));
    ca->sqlerrm[shown] = '\0';
    if (gl_cv_desc *cv = sqli_db_client_converter(); cv != nullptr) {
      int truncated = 0;
      int got = gcv_inplace(cv, ca->sqlerrm, nullptr, sqli_errm_max, &truncated);
      if (got > 0) ca->sqlerrm[std::min(got, static_cast<int>(sqli_errm_max))] = '\0';
      got = gcv_inplace(cv, tcb->msgtext, nullptr, sqli_msgtext_size - 1, &truncated);
      if (got > 0) tcb->msgtext[std::min(got, sqli_msgtext_size - 1)] = '\0';
    }
  }
  if (failed(p)) return -1;
  ca->sqlerrd[1] = isam;
  ca->sqlerrd[4] = position;
  const bool ext = (caps_of(tcb) & cap_long_rows) != 0;
  if (code != 0)
    _iqseterr(code);
  else if (!ext)
    _iqseterr(-407);
  /* The tail follows the code received, whatever was recorded before. */
  if (code != SQLI_E_ROUTINE && !(code == 0 && ext)) return 0;
  char state[SQLI_SQLSTATE_SIZE] = {};
  _igetbuf(state, 5, p);
  _igetpad(p);
  const int n = _igetint(p);
  /* A state is five characters: one with a NUL inside is malformed. */
  if (n < 0 || failed(p) || std::memchr(state, '\0', 5) != nullptr) return -1;
  if (n == 0) {
    char text[udr_text_max + 1] = {};
    int32_t len = 0;
    if (rgetlmsg(udr_default_text, text, udr_text_max, &len) != 0) len = 0;
    _sq_udr_sqlstate(state, std::clamp<int32_t>(len, 0, udr_text_max), text);
    return 0;
  }
  auto *text = static_cast<char *>(sqli_alloc(static_cast<size_t>(n) + 1));
  if (text == nullptr) {
    _igoblchars(n, p);
    _iqseterr(SQLI_E_NOMEM);
    return 0;
  }
  _igetpbuf(text, n, p);
  _sq_udr_sqlstate(state, n, text);
  sqli_release(text);
  return 0;
}

int _sqg_perr(sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  tcb->sqlca->sqlerrd[2] = _igetlong(p);
  return _sqg_err(tcb);
}

int _sqg_done(sqli_cursor *c, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  const int flags = _igetint(p);
  const int32_t rows = _igetlong(p);
  const int32_t word5 = _igetlong(p);
  const int32_t word1 = _igetlong(p);
  if (failed(p)) return -1;
  _sqsetCODE(tcb);
  _sqwarnset(flags & 0xFFFF, tcb);
  sqlca_s *ca = tcb->sqlca;
  if (c != nullptr && c->stmt_type == 6 && c->nvarlen_cols > 0)
    ++c->done_count;
  else
    ca->sqlerrd[2] = rows;
  ca->sqlerrd[5] = word5;
  ca->sqlerrd[1] = word1;
  if (c != nullptr) c->flags |= sqli_cur_done;
  return 0;
}

int _sqg_desc(sqli_cursor *c, sqli_tcb *tcb) {
  if (pipe_of(tcb) == nullptr) return -1;
  return read_description(c, tcb);
}

/* Fixed-length rows lying whole in the received buffer, read in place:
** the common case of a fetch. Takes this tuple and every further tuple
** reply (code and row) that follows it whole in the same buffer and would
** take the same path, exactly as the dispatcher would one by one.
** 1 when at least this tuple was taken, 0 to take the general path. */
static int tuples_in_place(sqli_cursor *c, pipe_vbles *p, bool long_rows) {
  const int header = long_rows ? 6 : 4;
  if (p->recv_failed != 0 || c->nvarlen_cols > 0 || c->buffer == nullptr || c->bufpos == nullptr ||
      c->bufpos < c->buffer || c->rowsize < 0)
    return 0;
  const unsigned char *at = p->inptr;
  const unsigned char *const end = at + p->inleft;
  char *pos = c->bufpos;
  const char *const limit = c->buffer + c->bufsize;
  const int64_t rowsize = c->rowsize;
  const int64_t wire = header + rowsize + (rowsize & 1);
  /* A tuple's body at b (flags, length, row) that this path takes whole:
  ** no flags (the general path warns), the row size, room left. */
  auto body_fits = [&](const unsigned char *b) {
    if (end - b < wire || dvz_ld_be_u16(b) != 0) return false;
    const int64_t len = long_rows ? dvz_ld_be_i32(b + 2) : dvz_ld_be_i16(b + 2);
    return len == rowsize && limit - pos >= len;
  };
  if (!body_fits(at)) return 0;
  int taken = 0;
  for (;;) {
    std::memcpy(pos, at + header, static_cast<size_t>(rowsize));
    pos += rowsize;
    at += wire;
    ++taken;
    /* The next reply is taken here only when it is a tuple too. */
    if (end - at < 2 || dvz_ld_be_u16(at) != SQR_TUPLE || !body_fits(at + 2)) break;
    at += 2;
  }
  p->inleft -= static_cast<int32_t>(at - p->inptr);
  p->inptr = const_cast<unsigned char *>(at);
  c->nbuffered = static_cast<int16_t>(c->nbuffered + taken);
  c->bufpos = pos;
  c->flags &= ~static_cast<uint32_t>(sqli_cur_done);
  return 1;
}

int _sqg_tuple(sqli_cursor *c, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  const bool long_rows = (caps_of(tcb) & cap_long_rows) != 0;
  if (tuples_in_place(c, p, long_rows) != 0) return 0;
  sqlca_s *ca = tcb->sqlca;
  const int flags = _igetint(p) & 0xFFFF;
  const int64_t len = long_rows ? _igetlong(p) : _igetint(p);
  if (len < 0 || failed(p)) return -1;
  if ((flags & ~0x100) != 0) warn_bits(ca, flags);
  const bool varying = c->nvarlen_cols > 0;
  if (!varying) {
    if (c->buffer == nullptr) return -1;
    if (len != c->rowsize) {
      _igoblchars(static_cast<int>(len), p);
      _iqseterr(bad_tuple_length);
      return 0;
    }
    if (c->bufpos == nullptr) c->bufpos = c->buffer;
    if (c->bufpos < c->buffer || len > c->buffer + c->bufsize - c->bufpos) return -1;
  } else {
    if (len > var_row_max) return -1;
    if (allocate_var_tuple_buffer(c, static_cast<int>(len), tcb) != 0) {
      _igoblchars(static_cast<int>(len), p);
      return 0;
    }
  }
  const int before = c->nbuffered;
  _igetpbuf(c->bufpos, static_cast<int>(len), p);
  if (failed(p)) return -1;
  if (varying) {
    int32_t *t = c->rowlen_table;
    const int at = ++t[rowlen_index];
    t[rowlen_first + at] = static_cast<int32_t>(len);
    t[rowlen_total] += static_cast<int32_t>(len);
  }
  if ((flags & 0x100) != 0) {
    sqli_cursor *store = _iqlocate_drw_store(&c->link, tcb);
    if (store == nullptr || store->marked_rows == nullptr) {
      if ((tcb->flags & sqli_flag_no_marked_store) == 0) {
        _iqseterr(SQLI_E_MARKED_ROWS);
        return 0;
      }
      set_warn(ca, 0);
      set_warn(ca, 4);
    } else {
      if (store->marked_state == 0) {
        std::memset(store->marked_rows, 0, static_cast<size_t>(store->marked_capacity) / 8 + 1);
        store->marked_state = 1;
      }
      if (before > store->marked_capacity) {
        _iqseterr(SQLI_E_MARKED_ROWS);
        return 0;
      }
      store->marked_rows[before / 8] |= static_cast<unsigned char>(1u << (before % 8));
    }
  }
  ++c->nbuffered;
  c->bufpos += len;
  c->flags &= ~static_cast<uint32_t>(sqli_cur_done);
  return 0;
}

int _sqg_tid(sqli_cursor *c, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  c->flags &= ~static_cast<uint32_t>(sqli_cur_scroll_failed);
  const int32_t first = _igetlong(p);
  if (c->nbuffered == 0) return 0;
  c->first_row = first;
  c->last_row = first + c->nbuffered - 1;
  return 0;
}

int _sqg_cost(sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  tcb->sqlca->sqlerrd[0] = _igetlong(p);
  tcb->sqlca->sqlerrd[3] = _igetlong(p);
  return 0;
}

int _sqg_insertdone(sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  _igetint8(&tcb->last_serial8, p);
  return 0;
}

int _sqg_txstate(sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  for (int16_t &word : tcb->curconn->xact_event)
    word = static_cast<int16_t>(_igetint(p));
  return 0;
}

int _sqg_sqclose(sqli_cursor *c, sqli_tcb *) {
  c->flags |= sqli_cur_server_closed;
  return 0;
}
