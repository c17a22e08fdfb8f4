/*
** fast_path.cpp: fast-path calls of server routines (`_sqgetroutine`,
** `_sqfastpath`, include/sqli_fastpath.h), the encoders of their messages
** (101, 102's header, 104) and the readers of their replies (101 the
** routine handle, 104 the function-parameter block, 103 the return
** values), which the reply loop dispatches (sqli_reply.h).
**
** Each call runs on a private, zeroed cursor record that lives for the
** call only; its fast-path block (`fastpath_block`) carries the handle
** and the parameter block to the readers, its output list the host
** variables of the return values. A fast-path reply that reaches a record
** without such a block is a protocol error.
**
** Every count and length read from the wire is checked before it is
** used: a negative one is a protocol error, and a value's bytes are
** taken in steps as they arrive, so no announced length alone decides an
** allocation. Values that are not delivered (after an error, or past a
** count that differs from the output list) are still read, so the stream
** stays in step and the connection usable.
*/
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "gl_conv.h"
#include "os_conv.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "sqli_bind.h"
#include "sqli_cursors.h"
#include "sqli_errors.h"
#include "sqli_fastpath.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_send.h"
#include "sqli_wire.h"

namespace {

constexpr int e_no_connection = -1803;
constexpr int e_text_too_long = -460;
constexpr int e_coll_types = -1818;
constexpr int e_no_display = -1207;
constexpr int e_cv_failed = -23113;

constexpr int32_t cap_extended = 0x4; /* two unused words after an extended type word */
constexpr int32_t cap_fparam_long = 0x8; /* list entries carry three more fields */
constexpr int32_t cap_long_ids = 0x200; /* 128-byte names in stored collections */

constexpr int entry_bytes = 7; /* byte, i16, i32 */
constexpr int entry_bytes_long = 15; /* and i32, i16, i16 */
/* Value bytes are taken in steps of this size as they arrive. */
constexpr int64_t read_step = 65536;
constexpr int coll_total = 4; /* the BE32 total in front of a stored collection */
/* Buffers a NULL value gives an output variable without data. */
constexpr size_t null_char_buffer = 1;
constexpr size_t null_opaque_buffer = 16;

/* What a call hands its readers through the record's fastpath field. */
struct fastpath_block {
  sqli_fparam *block; /* filled by reply 104, or null */
  int32_t handle; /* from reply 101 */
  int32_t flag; /* 0: reply 104 fills the whole block; 1: its first fields */
};

pipe_vbles *pipe_of(sqli_tcb *tcb) {
  return tcb != nullptr && tcb->curconn != nullptr ? tcb->curconn->io : nullptr;
}
bool failed(const pipe_vbles *p) { return p->recv_failed != 0; }
int sqlcode(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }
int32_t caps_of(const sqli_tcb *tcb) { return tcb->curconn->capabilities; }
int record(int code) {
  _iqseterr(code);
  return code;
}

fastpath_block *block_of(const sqli_cursor *c) {
  return c != nullptr ? static_cast<fastpath_block *>(c->fastpath) : nullptr;
}

/* Releases the lists of a block the runtime filled, then zeroes it. A
** block without the marker holds no lists of ours. */
void clear_block(sqli_fparam *b) {
  if (b->marker == SQLI_FPARAM_MARKER) {
    sqli_release(b->first_entries);
    sqli_release(b->first_bytes);
    sqli_release(b->second_entries);
    sqli_release(b->second_bytes);
  }
  *b = sqli_fparam {};
}

/* Skips n bytes that carry no pad of their own. */
void skip_raw(int64_t n, pipe_vbles *p) {
  char sink[256];
  while (n > 0 && !failed(p)) {
    const int step = static_cast<int>(std::min<int64_t>(n, sizeof sink));
    _igetbuf(sink, step, p);
    n -= step;
  }
}

/* One list of reply 104: i16 count, then per entry a byte, i16, i32 (and
** i32, i16, i16 with long entries). The entries are skipped when an error
** is recorded or memory is short (-406). false on a protocol error. */
bool read_list(pipe_vbles *p, bool long_entries, int16_t *count, sqli_fparam_entry **entries,
               unsigned char **bytes, sqli_tcb *tcb) {
  const int n = _igetint(p);
  if (n < 0 || failed(p)) return false;
  if (n == 0) return true;
  bool keep = sqlcode(tcb) >= 0;
  if (keep) {
    *bytes = static_cast<unsigned char *>(sqli_alloc(static_cast<size_t>(n)));
    *entries = static_cast<sqli_fparam_entry *>(sqli_alloc(sizeof(sqli_fparam_entry) * size_t(n)));
    if (*bytes == nullptr || *entries == nullptr) {
      sqli_release(*bytes);
      sqli_release(*entries);
      *bytes = nullptr;
      *entries = nullptr;
      _iqseterr(SQLI_E_NOMEM);
      keep = false;
    }
  }
  if (!keep) {
    skip_raw(int64_t {n} * (long_entries ? entry_bytes_long : entry_bytes), p);
    return !failed(p);
  }
  *count = static_cast<int16_t>(n);
  for (int i = 0; i < n && !failed(p); ++i) {
    (*bytes)[i] = static_cast<unsigned char>(_igetbyte(p));
    sqli_fparam_entry &e = (*entries)[i];
    e.word16 = static_cast<int16_t>(_igetint(p));
    e.word32 = _igetlong(p);
    if (long_entries) {
      e.ext32 = _igetlong(p);
      e.ext16a = static_cast<int16_t>(_igetint(p));
      e.ext16b = static_cast<int16_t>(_igetint(p));
    }
  }
  return !failed(p);
}

/* An INT8 of the wire as a 32-bit word; a conversion error is recorded. */
int32_t read_int8_word(pipe_vbles *p) {
  dvz_int8_t v {};
  _igetint8(&v, p);
  int32_t word = 0;
  if (int rc = dvz_int8tolong(&v, &word); rc != 0) _iqseterr(rc);
  return word;
}

/* ---- Values of reply 103 ------------------------------------------------------------ */

/* One value as read: its typed value, the bytes it refers to (owned). */
struct wire_value {
  value_t v {};
  char *bytes = nullptr; /* text, opaque bytes, or a stored collection with its total */
  int32_t len = 0;
  bool has_form = true; /* a type that carries a value */
  wire_value() = default;
  wire_value(const wire_value &) = delete;
  wire_value &operator=(const wire_value &) = delete;
  ~wire_value() { sqli_release(bytes); }
};

enum class read_status { ok, no_memory, protocol };

/* n bytes (and the pad of an odd n) into a new block with head bytes free
** in front and a NUL after them. The block grows as the bytes arrive;
** without keep, or when memory is short, they are skipped. */
read_status read_counted(pipe_vbles *p, int64_t n, int head, bool keep, char **out) {
  char *buf = nullptr;
  bool nomem = !keep;
  int64_t have = 0;
  auto grow = [&](int64_t size) {
    void *grown = buf == nullptr ? sqli_alloc(static_cast<size_t>(size))
                                 : sqli_grow(buf, static_cast<size_t>(size));
    if (grown == nullptr) {
      sqli_release(buf);
      buf = nullptr;
      nomem = true;
      return;
    }
    buf = static_cast<char *>(grown);
  };
  if (!nomem) grow(head + 1);
  while (have < n && !failed(p)) {
    const int64_t step = std::min(n - have, read_step);
    if (!nomem) grow(head + have + step + 1);
    if (nomem)
      skip_raw(step, p);
    else
      _igetbuf(buf + head + have, static_cast<int>(step), p);
    have += step;
  }
  if ((n & 1) != 0) _igetpad(p);
  if (failed(p)) {
    sqli_release(buf);
    return read_status::protocol;
  }
  if (nomem) return keep ? read_status::no_memory : read_status::ok;
  buf[head + n] = '\0';
  *out = buf;
  return read_status::ok;
}

bool text_type(int t) {
  return t == sql_type_char || t == sql_type_varchar || t == sql_type_nchar ||
         t == sql_type_nvarchar || t == sql_type_lvarchar;
}

/*
** Reads one value of reply 103 into w: type word, the unused words of an
** extended type (capability 0x4), indicator, precision word, then the
** value by its type byte unless NULL. Without keep the bytes are skipped.
** Returns false on a protocol error; -406 is recorded for a value that
** cannot be held (w then carries no bytes).
*/
bool read_value(pipe_vbles *p, bool keep, wire_value &w, sqli_tcb *tcb) {
  const int word = _igetint(p) & 0xFFFF;
  const int type = word & 0xFF;
  if ((caps_of(tcb) & cap_extended) != 0 && sqli_names_travel(type, word)) _igoblints(2, p);
  const int ind = _igetint(p);
  w.v.vtype = static_cast<int16_t>(type);
  w.v.vprec = static_cast<int16_t>(_igetint(p));
  w.v.vind = static_cast<int16_t>(ind < 0 ? -1 : 0);
  if (failed(p)) return false;
  if (ind < 0) return true;
  auto counted = [&](int64_t n, int head) {
    if (n < 0) return false;
    const read_status rc = read_counted(p, n, head, keep, &w.bytes);
    if (rc == read_status::protocol) return false;
    if (rc == read_status::no_memory) _iqseterr(SQLI_E_NOMEM);
    w.len = static_cast<int32_t>(n);
    return true;
  };
  switch (type) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
    case sql_type_lvarchar:
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
    case sql_type_boolean: {
      const int64_t n = text_type(type) ? _igetunsigned(p) : _igetlong(p);
      if (failed(p) || !counted(n, 0)) return false;
      w.v.vptr = w.bytes;
      w.v.vlen = w.len;
      break;
    }
    case sql_type_smallint:
      w.v.vint = static_cast<int16_t>(_igetint(p));
      break;
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      w.v.vint = _igetlong(p);
      break;
    case sql_type_float:
      w.v.vdouble = _igetdbl(p);
      break;
    case sql_type_smallfloat:
      w.v.vfloat = static_cast<float>(_igetfloat(p));
      break;
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
    case sql_type_interval: {
      const int n = _igetdecimal(&w.v.vdec, p);
      if (n == 65535) w.v.vind = -1; /* no value sent */
      if (n > 20 && n != 65535) return false;
      break;
    }
    case sql_type_int8:
    case sql_type_serial8:
      _igetint8(&w.v.vint8, p);
      break;
    case sql_type_set:
    case sql_type_multiset:
    case sql_type_list:
    case sql_type_row:
    case sql_type_collection: {
      (void)_igetint(p);
      const int32_t n = _igetlong(p);
      if (failed(p) || !counted(n, coll_total)) return false;
      if (w.bytes != nullptr) dvz_st_be_u32(static_cast<uint32_t>(n), w.bytes);
      break;
    }
    default:
      w.has_form = false;
      break;
  }
  return !failed(p);
}

/* The host code rvalcvar takes for an output variable (102 as 103). */
int host_code(const sqlvar_struct &h) {
  const int low = h.sqltype & 0xFF;
  const int code = low <= sql_type_max ? rtoctype(low) : low;
  return code == host_type_int ? host_type_long : code;
}
int host_sql(const sqlvar_struct &h) { return rtosqltype(host_code(h)); }

bool char_host(int sql) {
  return sql == sql_type_char || sql == sql_type_varchar || sql == sql_type_nchar ||
         sql == sql_type_nvarchar;
}
bool opaque_host(int sql) { return sql == sql_type_variable_udt || sql == sql_type_fixed_udt; }
/* Hosts whose data is a variable-length record (dvz_var_rec). */
bool record_host(int code) {
  return code == host_type_variable_binary || code == host_type_lvarchar_ptr;
}

/* Gives h a runtime buffer of size bytes (a zeroed variable-length record
** for the record hosts). false after recording -406. */
bool give_buffer(sqlvar_struct &h, size_t size, int width) {
  if (record_host(host_code(h))) {
    auto *rec = static_cast<dvz_hostbuf_t *>(sqli_alloc(sizeof(dvz_hostbuf_t)));
    if (rec == nullptr) return record(SQLI_E_NOMEM), false;
    rec->flags = HOSTVAR_GROWABLE;
    rec->length = width;
    h.sqldata = reinterpret_cast<char *>(rec);
  } else {
    h.sqldata = static_cast<char *>(sqli_alloc(size));
    if (h.sqldata == nullptr) return record(SQLI_E_NOMEM), false;
    h.sqllen = static_cast<int32_t>(size);
  }
  h.sqlflags |= sqlvar_own_data;
  return true;
}

/* The indicator into the indicator variable and an extended indicator. */
void put_indicator(sqlvar_struct &h, int16_t ind) {
  if (h.sqlind != nullptr) *h.sqlind = ind;
  if (h.sqlidata != nullptr && h.sqlitype != 0) _sqindhost(ind, h.sqlidata, h.sqlitype, h.sqlilen);
}

/* A collection or row value into h's dvz_coll_t. */
void deliver_collection(sqlvar_struct &h, wire_value &w, sqli_tcb *tcb) {
  const int sql = host_sql(h);
  const int code = host_code(h);
  const bool row = (w.v.vtype & 0xFF) == sql_type_row;
  const bool fits = row ? (sql == sql_type_row || code == host_type_row)
                        : ((sql >= sql_type_set && sql <= sql_type_list) ||
                           sql == sql_type_collection || code == host_type_collection);
  if (!fits) {
    record(e_coll_types);
    return;
  }
  if (w.bytes == nullptr) return; /* -406 recorded when it was read */
  auto *coll = reinterpret_cast<dvz_coll_t *>(h.sqldata);
  const int long_ids = (caps_of(tcb) & cap_long_ids) != 0 ? 1 : 0;
  if (int rc =
          ldcollection(w.bytes, coll, 1, long_ids, DVZ_LDCOLL_FULL, nullptr, coll_total + w.len);
      rc != 0) {
    record(rc);
    return;
  }
  if (check_typeinfo(coll->cl_typeinfo, coll->cl_svr_typeinfo) != 0) {
    record(e_coll_types);
    return;
  }
  put_indicator(h, (coll->cl_flags & DVZ_COLL_NULL) != 0 ? -1 : 0);
}

/* A text value in the client's code set: converted in place of w's bytes
** when a database-to-client converter is in force. false after recording
** the conversion's error. */
bool to_client_text(wire_value &w) {
  gl_cv_desc *cv = sqli_db_client_converter();
  if (cv == nullptr || w.len == 0) return true;
  char *converted = nullptr;
  int len = w.len;
  const int got = gcv_malloc(cv, w.bytes, &len, &converted);
  if (got < 0) {
    std::free(converted);
    const int gls = get_glserror();
    record(gls != 0 ? gls : e_cv_failed);
    return false;
  }
  if (got == 0 || converted == nullptr) { /* copied as it was */
    std::free(converted);
    return true;
  }
  char *copy = static_cast<char *>(sqli_alloc(static_cast<size_t>(got) + 1));
  if (copy == nullptr) {
    std::free(converted);
    record(SQLI_E_NOMEM);
    return false;
  }
  std::memcpy(copy, converted, static_cast<size_t>(got));
  std::free(converted);
  sqli_release(w.bytes);
  w.bytes = copy;
  w.len = got;
  w.v.vptr = copy;
  w.v.vlen = got;
  return true;
}

/* Delivers the value w into the output variable h; errors are recorded. */
void deliver(sqlvar_struct &h, wire_value &w, sqli_tcb *tcb) {
  const int code = host_code(h);
  const int sql = host_sql(h);
  int type = w.v.vtype & 0xFF;
  if (h.sqldata == nullptr) {
    const bool may_give = char_host(sql) || sql == sql_type_lvarchar || opaque_host(sql);
    if (h.sqllen != 0 || !may_give) {
      record(SQLI_E_NODATA);
      return;
    }
  }
  if (w.v.vind < 0) {
    if (h.sqldata == nullptr) {
      const size_t size =
          opaque_host(sql) ? std::max(null_opaque_buffer, sizeof(dvz_hostbuf_t)) : null_char_buffer;
      if (!give_buffer(h, size, 0)) return;
    }
    rsetnull(code, h.sqldata);
    put_indicator(h, -1);
    return;
  }
  if (!w.has_form) return;
  if (type >= sql_type_set && type <= sql_type_collection) {
    deliver_collection(h, w, tcb);
    return;
  }
  if (type == sql_type_variable_udt && (sql == sql_type_lvarchar || sql == sql_type_fixed_udt))
    w.v.vtype = static_cast<int16_t>(type = sql);
  if (text_type(type) && w.bytes == nullptr) return; /* -406 recorded when it was read */
  if (h.sqllen == 0 && (sql == sql_type_decimal || sql == sql_type_money ||
                        sql == sql_type_datetime || sql == sql_type_interval))
    h.sqllen = w.v.vprec;
  if (text_type(type) && !to_client_text(w)) return;
  if (h.sqldata == nullptr) {
    const int width = std::max(rtypwidth(type, w.v.vprec), 0);
    const int room = std::max(width, text_type(type) ? w.len : 0);
    if (!give_buffer(h, static_cast<size_t>(room) + 1, width)) return;
  }
  int16_t ind = 0;
  const bool plain_char = char_host(sql) || (sql == sql_type_lvarchar && !record_host(code));
  if (text_type(type) && w.len == 0 && plain_char) {
    h.sqldata[0] = '\0';
  } else {
    const int rc = rvalcvar(&w.v, h.sqldata, code, h.sqllen, &ind);
    if (rc != 0 && rc != e_no_display) {
      record(rc);
      return;
    }
  }
  put_indicator(h, ind);
}

/* Releases the fast-path block of a call. */
struct block_release {
  void operator()(fastpath_block *b) const { sqli_release(b); }
};
using block_ptr = std::unique_ptr<fastpath_block, block_release>;

/* The private record of a call. Whatever replies that do not belong to a
** fast-path exchange left on it (a description, rows) goes with it. */
struct call_record {
  sqli_cursor c {};
  explicit call_record(fastpath_block *fp) { c.fastpath = fp; }
  call_record(const call_record &) = delete;
  call_record &operator=(const call_record &) = delete;
  ~call_record() {
    c.inlist = c.outlist = nullptr;
    _sqfrcmem(&c);
    sqli_release(c.marked_rows);
  }
};

/* The context of a call, and the checks every call begins with: 0, or
** the code to return (the status recorded). */
int begin_call(sqli_tcb *&tcb, block_ptr &fp) {
  if (tcb == nullptr) tcb = CheckGlobInit();
  if (tcb == nullptr) return -1;
  if (int rc = _sqclrca(tcb); rc != 0) return rc;
  if (tcb->curconn == nullptr) return record(e_no_connection);
  fp.reset(static_cast<fastpath_block *>(sqli_alloc(sizeof(fastpath_block))));
  if (fp == nullptr) return record(SQLI_E_NOMEM);
  return 0;
}

}  // namespace

/* ---- Readers ------------------------------------------------------------------------ */

int _sqg_getroutine(sqli_cursor *c, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  fastpath_block *fp = block_of(c);
  if (p == nullptr || fp == nullptr) return -1;
  fp->handle = _igetlong(p);
  return failed(p) ? -1 : 0;
}

/* Fills the call's parameter block (a scratch one when the call has
** none, so that the reply is read in step and dropped). */
int _sqg_fparam(sqli_cursor *c, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  fastpath_block *fp = block_of(c);
  if (p == nullptr || fp == nullptr) return -1;
  sqli_fparam scratch {};
  sqli_fparam *b = fp->block != nullptr ? fp->block : &scratch;
  clear_block(b);
  b->marker = SQLI_FPARAM_MARKER;
  b->first = read_int8_word(p);
  b->second = _igetlong(p);
  b->flag = static_cast<uint8_t>(_igetbyte(p));
  bool ok = !failed(p);
  if (ok && fp->flag == 0) {
    b->third = _igetlong(p);
    b->fourth = read_int8_word(p);
    b->fifth = _igetlong(p);
    const bool long_entries = (caps_of(tcb) & cap_fparam_long) != 0;
    ok = !failed(p) &&
         read_list(p, long_entries, &b->first_count, &b->first_entries, &b->first_bytes, tcb) &&
         read_list(p, long_entries, &b->second_count, &b->second_entries, &b->second_bytes, tcb);
  }
  if (!ok || sqlcode(tcb) < 0 || b == &scratch) clear_block(b);
  return ok ? 0 : -1;
}

/* Delivers the values into the record's output list; past the first error,
** or when the count differs from the list (-254 at the end), they are read
** and dropped. */
int _sqg_fproutine(sqli_cursor *c, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr || block_of(c) == nullptr) return -1;
  const int n = _igetint(p);
  if (n < 0 || failed(p)) return -1;
  const int outputs = c->outlist != nullptr ? std::max<int>(c->nout, 0) : 0;
  const bool mismatch = n != outputs;
  int first_error = 0;
  for (int i = 0; i < n; ++i) {
    const bool keep = !mismatch && sqlcode(tcb) >= 0;
    wire_value w;
    if (!read_value(p, keep, w, tcb)) return -1;
    if (keep && sqlcode(tcb) >= 0) deliver(c->outlist[i], w, tcb);
    if (first_error == 0 && sqlcode(tcb) < 0) first_error = sqlcode(tcb);
  }
  if (mismatch)
    _iqseterr(SQLI_E_QMARKS);
  else if (first_error != 0 && sqlcode(tcb) != first_error)
    _iqseterr(first_error);
  return 0;
}

int _sqr_val(sqlvar_struct *h, sqli_tcb *tcb) {
  pipe_vbles *p = pipe_of(tcb);
  if (p == nullptr) return -1;
  wire_value w;
  if (!read_value(p, h != nullptr, w, tcb)) return -1;
  if (h != nullptr && sqlcode(tcb) >= 0) deliver(*h, w, tcb);
  return 0;
}

extern "C" {

/* ---- Encoders ----------------------------------------------------------------------- */

int _sqs_getroutine(const char *signature, int wanted, sqli_tcb *tcb) {
  const char *text = signature != nullptr ? signature : "";
  const size_t raw = std::strlen(text);
  if (raw > INT32_MAX / 8) return record(e_text_too_long);
  sqli_sendtext sent {};
  if (int error = sqli_send_text(text, static_cast<int>(raw), tcb, &sent); error != 0)
    return record(error);
  if (sent.len > sqli_text_max) return record(e_text_too_long);
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return 0;
  sqli_put16(pipe, SQ_FP_LOOKUP);
  _iputlbuf(sent.bytes, sent.len, pipe);
  sqli_put16(pipe, wanted != 0 ? 1 : 0);
  return 0;
}

void _sqs_exfproutine(int32_t handle, int count, int block_flag, sqli_tcb *tcb) {
  if (pipe_vbles *pipe = sqli_outpipe(tcb)) {
    sqli_put16(pipe, SQ_FP_EXECUTE);
    sqli_put32(pipe, handle);
    sqli_put16(pipe, count);
    sqli_put16(pipe, block_flag != 0 ? 1 : 0);
  }
}

int _sqs_fparam(const sqli_fparam *block, sqli_tcb *tcb) {
  if (block == nullptr) return 0;
  dvz_int8_t first {};
  if (int rc = dvz_int8cvlong(block->first, &first); rc != 0) return record(rc);
  if (pipe_vbles *pipe = sqli_outpipe(tcb)) {
    sqli_put16(pipe, SQ_FP_PARAMS);
    _iputint8(&first, pipe);
    sqli_put32(pipe, block->second);
    _iputbyte(block->flag, pipe);
  }
  return 0;
}

/* ---- Entry points ------------------------------------------------------------------- */

int _sqgetroutine(const char *signature, sqli_fparam *block, int32_t *handle, sqli_tcb *context) {
  sqli_tcb *tcb = context;
  block_ptr fp;
  if (int rc = begin_call(tcb, fp); rc != 0) return rc;
  sqli_fparam filled {};
  if (block != nullptr) fp->block = &filled;
  if (_sqs_getroutine(signature, block != nullptr ? 1 : 0, tcb) != 0) return sqlcode(tcb);
  call_record local(fp.get());
  _sqr_messages(&local.c, 0, tcb);
  if (sqlcode(tcb) < 0) {
    clear_block(&filled);
    return sqlcode(tcb);
  }
  if (handle != nullptr) *handle = fp->handle;
  if (block != nullptr) *block = filled;
  return sqlcode(tcb);
}

int _sqfastpath(int32_t handle, const sqli_fplist *input, const sqli_fplist *output,
                sqli_fparam *block, sqli_tcb *context) {
  sqli_tcb *tcb = context;
  block_ptr fp;
  if (int rc = begin_call(tcb, fp); rc != 0) return rc;
  fp->block = block;
  fp->flag = block != nullptr ? 1 : 0;
  call_record record(fp.get());
  sqli_cursor &local = record.c;
  if (input != nullptr && input->vars != nullptr && input->count > 0) {
    local.nin = input->count;
    local.inlist = input->vars;
  }
  if (output != nullptr && output->vars != nullptr && output->count > 0) {
    local.nout = output->count;
    local.outlist = output->vars;
  }
  _sqs_exfproutine(handle, local.nin, block != nullptr ? 1 : 0, tcb);
  /* Failures of the bind list or of message 104 stand after the replies. */
  int deferred = 0;
  sqlda inputs {};
  inputs.sqld = local.nin;
  inputs.sqlvar = local.inlist;
  if (int rc = _sqs_vs(SQ_BIND, &inputs, nullptr, tcb); rc < 0) deferred = rc;
  if (int rc = _sqs_fparam(block, tcb); rc < 0 && deferred == 0) deferred = rc;
  _sqr_messages(&local, 0, tcb);
  if (deferred != 0 && sqlcode(tcb) != deferred) _iqseterr(deferred);
  return sqlcode(tcb);
}

}  // extern "C"
