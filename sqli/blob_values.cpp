/*
** blob_values.cpp: BYTE and TEXT values on the wire, one value at a time.
**
** A value never travels inside a row or a bind list: the bytes follow in
** chunks (message 39, ended by a chunk of length 0). Sending reads the
** value from a locator or a client file, converting TEXT from a locator
** to the database's code set; a failure abandons the value with message 40
** so that the server's reading stays in step. Receiving asks for a value
** by its stored descriptor ([4 id][38 desc][12]) and writes its chunks to
** a locator or a file; a failure skips the rest of the value so that the
** next reply code is read in step. Values are streamed through the
** context's two blob buffers; only a memory locator holds a whole value.
*/
#include <cstring>

#include "dvz_be.h"
#include "gen_types.h"
#include "gen_value.h"
#include "gl_conv.h"
#include "os_stored.h"
#include "sqli_blob.h"
#include "sqli_descriptors.h"
#include "sqli_errors.h"
#include "sqli_file.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_runtime_records.h"
#include "sqli_send.h"

namespace {

constexpr int name_max = 260;
constexpr int text_type = 12;
constexpr int whole_file = 0x10; /* open_flags: send the whole file */
constexpr int sent_flag = 0x20; /* open_flags: descriptor flag bit 0x10 */
constexpr int desc_null = 0x1; /* stored descriptor flag word: NULL */
constexpr int desc_flag_10 = 0x10;

/* Writes one chunk: [39][n][n bytes][pad when n is odd]. */
void put_chunk(pipe_vbles *p, const char *data, int n) {
  sqli_put16(p, SQ_BLOB_CHUNK);
  sqli_put16(p, n);
  _iputpbuf(data, n, p);
}

/* Where a value being sent comes from: a locator or a client file. */
struct blob_source {
  loc_t *loc;
  int fd;
  int read_error; /* -454 or -463 */
  int close_error; /* -453 or -462 */
};

int source_read(blob_source &s, char *buf, int count, int *n) {
  if (s.loc != nullptr) return _sqlocread(s.loc, buf, count, n);
  return _sqfilread(s.fd, buf, count, n);
}

int source_close(blob_source &s) {
  if (s.loc != nullptr) return _sqlocclose(s.loc);
  return _sqfilclose(s.fd);
}

/* Abandons the value: message 40, the source closed (its own error
** dropped), code recorded unless it is already the error. Returns code. */
int abandon(blob_source &s, pipe_vbles *p, int code, sqli_tcb *tcb) {
  sqli_put16(p, SQ_BLOB_ABORT);
  const int32_t kept = tcb->sqlca->sqlcode;
  const int32_t kept2 = tcb->sqlca->sqlerrd[1];
  (void)source_close(s);
  if (kept == code) {
    tcb->sqlca->sqlcode = kept;
    tcb->sqlca->sqlerrd[1] = kept2;
  } else {
    _iqseterr(code);
  }
  return code;
}

/* Streams an opened source as chunks, converting with cv when given, and
** closes it. Returns 0 or the negative error (value abandoned). */
int send_chunks(blob_source &s, gl_cv_desc *cv, sqli_tcb *tcb) {
  pipe_vbles *p = sqli_outpipe(tcb);
  /* Chunks begin in a fresh send buffer. */
  _iflushbuff(p);
  char *chunk = tcb->blob_buffer + sqli_blob_header;
  char *conv = tcb->blob_convbuf + sqli_blob_header;
  int left = 0; /* bytes of an incomplete character, at the chunk's start */
  for (;;) {
    int n = 0;
    if (source_read(s, chunk + left, sqli_blob_chunk_data - left, &n) != 0)
      return abandon(s, p, s.read_error, tcb);
    const int total = left + n;
    if (cv == nullptr) {
      put_chunk(p, chunk, total);
    } else {
      /* A value may not end inside a character: nothing would complete it. */
      if (n == 0 && left > 0) return abandon(s, p, s.read_error, tcb);
      int outlen = 0;
      char rest[sqli_blob_leftover_max];
      int nrest = 0;
      if (gcv_blob_buffer(cv, chunk, total, conv, &outlen, rest, &nrest) != 0)
        return abandon(s, p, s.read_error, tcb);
      /* An empty chunk would end the value early: hold the bytes instead. */
      if (outlen > 0 || total == 0) put_chunk(p, conv, outlen);
      std::memcpy(chunk, rest, static_cast<size_t>(nrest));
      left = nrest;
    }
    if (total == 0) break;
    if (total == sqli_blob_chunk_data) _iflushbuff(p);
  }
  if (source_close(s) != 0) {
    sqli_put16(p, SQ_BLOB_ABORT);
    return _iqseterr(s.close_error);
  }
  return 0;
}

/* Copies a file host's name (length len, 0: terminated) into out (261
** bytes). Its length, or -1 when it is empty or longer than 260 bytes
** (-461 is the caller's). */
int copy_name(const char *name, int len, char *out) {
  if (name == nullptr) return -1;
  /* A name of a given length still ends at its first NUL. */
  len = static_cast<int>(strnlen(name, len > 0 ? static_cast<size_t>(len) : name_max + 1));
  if (len < 1 || len > name_max) return -1;
  std::memcpy(out, name, static_cast<size_t>(len));
  out[len] = '\0';
  return len;
}

/* The host type of a list entry, through the SQL-to-host mapping for the
** SQL type codes. */
int entry_host(int type) {
  const int low = type & 0xFF;
  return low >= host_type_min ? low : rtoctype(low);
}

/* Sends one list entry when it is a non-NULL locator or file variable.
** 0 when skipped or sent, else the error. */
int send_entry(const sqlvar_struct &e, sqli_tcb *tcb) {
  const int host = entry_host(e.sqltype);
  if (host != host_type_locator && host != host_type_file) return 0;
  if (e.sqlind != nullptr && *e.sqlind < 0) return 0;
  if (e.sqldata == nullptr) return 0;
  if (risnull(host, e.sqldata) != 0) return 0;
  if (host == host_type_locator) return _sqs_b(reinterpret_cast<loc_t *>(e.sqldata), tcb);
  return _sqs_fb(e.sqldata, e.sqllen, host, tcb);
}

int send_value_entry(const value_t &v, sqli_tcb *tcb) {
  if (v.vind != 0) return 0;
  const int type = v.vtype & 0xFF;
  if (type == host_type_file) return _sqs_fb(v.vptr, v.vlen, type, tcb);
  if (type != sql_type_byte && type != sql_type_text && type != host_type_locator) return 0;
  if (v.vlocator == nullptr || risnull(host_type_locator, reinterpret_cast<char *>(v.vlocator)))
    return 0;
  return _sqs_b(v.vlocator, tcb);
}

}  // namespace

int _sqs_b(loc_t *loc, sqli_tcb *tcb) {
  pipe_vbles *p = sqli_outpipe(tcb);
  if (p == nullptr) return _iqseterr(SQLI_E_PROTOCOL);
  if (int rc = blob_buffer(tcb); rc != 0) {
    sqli_put16(p, SQ_BLOB_ABORT);
    return rc;
  }
  if ((loc->kind == loc_in_file || loc->kind == loc_in_fd) && (loc->open_flags & whole_file) != 0)
    loc->size = -1;
  if (_sqlocopen(loc, loc_open_read, 0) != 0) {
    sqli_put16(p, SQ_BLOB_ABORT);
    return loc->status;
  }
  gl_cv_desc *cv = loc->sql_type == text_type ? sqli_client_db_converter() : nullptr;
  blob_source s {loc, -1, SQLI_E_LOCREAD, SQLI_E_LOCCLOSE};
  return send_chunks(s, cv, tcb);
}

int _sqs_fb(const char *name, int len, int, sqli_tcb *tcb) {
  pipe_vbles *p = sqli_outpipe(tcb);
  if (p == nullptr) return _iqseterr(SQLI_E_PROTOCOL);
  if (int rc = blob_buffer(tcb); rc != 0) {
    sqli_put16(p, SQ_BLOB_ABORT);
    return rc;
  }
  char path[name_max + 1];
  if (copy_name(name, len, path) < 0) {
    sqli_put16(p, SQ_BLOB_ABORT);
    return _iqseterr(SQLI_E_NOFILE);
  }
  const int fd = _sqfilopen(path, 1);
  if (fd < 0) {
    sqli_put16(p, SQ_BLOB_ABORT);
    return _iqseterr(SQLI_E_NOFILE);
  }
  blob_source s {nullptr, fd, SQLI_E_FILEREAD, SQLI_E_FILECLOSE};
  return send_chunks(s, nullptr, tcb);
}

int _sqs_blobs(const sqlda *desc, const value_t *values, sqli_tcb *tcb) {
  if (tcb->blob_count == 0) return 0;
  pipe_vbles *p = sqli_outpipe(tcb);
  if (p == nullptr) return _iqseterr(SQLI_E_PROTOCOL);
  sqli_put16(p, SQ_BLOB_VALUES);
  sqli_put16(p, tcb->blob_count);
  tcb->request_active = 1;
  int rc = blob_buffer(tcb);
  const int count = desc != nullptr ? desc->sqld : 0;
  for (int i = 0; rc == 0 && i < count; ++i) {
    if (desc->sqlvar != nullptr)
      rc = send_entry(desc->sqlvar[i], tcb);
    else if (values != nullptr)
      rc = send_value_entry(values[i], tcb);
  }
  tcb->request_active = 0;
  return rc;
}

int _sqs_tupblob(int count, sqlvar_struct *vars, int, sqli_tcb *tcb) {
  if (vars == nullptr) return 0;
  int rc = 0;
  for (int i = 0; rc == 0 && i < count; ++i)
    rc = send_entry(vars[i], tcb);
  return rc;
}

/* ---- Receiving ------------------------------------------------------------------------- */

namespace {

/* The target's locator or file: written, closed (the file's descriptor
** forgotten). 0 or -1 (recorded). */
int target_write(blob_target &t, char *buf, int n) {
  if (n == 0) return 0;
  if (t.loc != nullptr) return _sqlocwrite(t.loc, buf, n);
  return _sqfilwrite(t.fd, buf, n);
}

int target_close(blob_target &t) {
  if (t.loc != nullptr) return _sqlocclose(t.loc);
  const int fd = t.fd;
  t.fd = -1;
  return fd < 0 ? 0 : _sqfilclose(fd);
}

/* Closes the target after a failure, keeping the failure in sqlca. */
void close_quietly(blob_target &t, sqli_tcb *tcb) {
  const int32_t code = tcb->sqlca->sqlcode;
  const int32_t word = tcb->sqlca->sqlerrd[1];
  (void)target_close(t);
  tcb->sqlca->sqlcode = code;
  tcb->sqlca->sqlerrd[1] = word;
}

/* The protocol-error path while a value is open: the target closed, the
** connection dropped. Returns -1. */
int proto_failed(blob_target &t, int code, sqli_tcb *tcb) {
  close_quietly(t, tcb);
  _sqproterr(tcb, code);
  return -1;
}

/* Skips count bytes of the stream (no pad). */
void skip_raw(int count, pipe_vbles *p, char *scratch) {
  while (count > 0) {
    const int piece = count < sqli_blob_chunk_size ? count : sqli_blob_chunk_size;
    _igetbuf(scratch, piece, p);
    count -= piece;
  }
}

}  // namespace

int sqli_blob_read_chunks(blob_target *t, sqli_tcb *tcb, sqli_cursor *cursor, bool array) {
  pipe_vbles *p = sqli_outpipe(tcb);
  t->write_failed = 0;
  tcb->request_active = 0; /* the reply begins */
  if (p == nullptr || blob_buffer(tcb) != 0) {
    close_quietly(*t, tcb);
    return -1;
  }
  const bool dbapi = _sqdbapi != 0;
  gl_cv_desc *cv = !dbapi && t->sql_type == text_type ? sqli_db_client_converter() : nullptr;
  char *buf = tcb->blob_buffer;
  char *out = tcb->blob_convbuf;
  bool started = false;
  for (;;) {
    const int code = _igetint(p);
    if (code == SQR_ERR) {
      (void)target_close(*t);
      if (_sqg_err(tcb) != 0) return -1;
      const int end = _igetint(p);
      if (end != SQR_EOT) {
        _sqproterr(tcb, end);
        return -1;
      }
      t->server_error = 1;
      return -1;
    }
    if (code != SQR_BLOB) {
      if (!array && !started && tcb->curconn != nullptr && tcb->curconn->optmsg != 0 &&
          code != -1) {
        if (process_msgs(cursor, code, tcb) != 0) {
          close_quietly(*t, tcb);
          return -1;
        }
        continue;
      }
      return proto_failed(*t, code, tcb);
    }
    started = true;
    const int n = _igetint(p);
    if (n < 0) {
      return proto_failed(*t, code, tcb);
    }
    if (n == 0) {
      /* A TEXT value cannot end inside a character. */
      if (t->left > 0) {
        return proto_failed(*t, code, tcb);
      }
      return 0;
    }
    if (t->loc != nullptr) t->loc->size += n;
    int remaining = n;
    while (remaining > 0) {
      const int room = sqli_blob_chunk_size - t->left;
      const int piece = remaining < room ? remaining : room;
      _igetbuf(buf + t->left, piece, p);
      remaining -= piece;
      const int total = t->left + piece;
      char *bytes = buf;
      int count = total;
      t->left = 0;
      if (dbapi) {
        if (CPDBTOVAR(buf, out, total) != 0) {
          return proto_failed(*t, code, tcb);
        }
        bytes = out;
      } else if (cv != nullptr) {
        char rest[sqli_blob_leftover_max];
        int nrest = 0;
        if (gcv_blob_buffer(cv, buf, total, out + sqli_blob_header, &count, rest, &nrest) != 0) {
          return proto_failed(*t, code, tcb);
        }
        bytes = out + sqli_blob_header;
        if (t->loc != nullptr) t->loc->size += count - (total - nrest);
        std::memcpy(buf, rest, static_cast<size_t>(nrest));
        t->left = nrest;
      }
      if (target_write(*t, bytes, count) != 0) {
        /* The rest of this chunk, its pad, then the rest of the value. */
        skip_raw(remaining, p, out);
        if ((n & 1) != 0) _igetpad(p);
        t->write_failed = 1;
        t->write_error = t->loc != nullptr ? t->loc->status : SQLI_E_FILEWRITE;
        close_quietly(*t, tcb);
        if (_igoblblobs(1, p) != 0) {
          t->write_failed = 0; /* the stream is gone, not in step */
          _sqproterr(tcb, SQR_BLOB);
          return -1;
        }
        return -1;
      }
    }
    if ((n & 1) != 0) _igetpad(p);
  }
}

int get_eot(sqli_tcb *tcb, sqli_cursor *cursor) {
  tcb->request_active = 0;
  pipe_vbles *p = sqli_outpipe(tcb);
  if (p == nullptr) return -1;
  for (;;) {
    const int code = _igetint(p);
    if (code == SQR_CLOSED) {
      if (cursor != nullptr) _sqg_sqclose(cursor, tcb);
      continue;
    }
    if (code == SQR_EOT) return 0;
    if (code == SQR_ERR) {
      if (_sqg_err(tcb) != 0) return -1;
      const int end = _igetint(p);
      if (end == SQR_EOT) return -1;
      _sqproterr(tcb, end);
      return -1;
    }
    _sqproterr(tcb, code);
    return -1;
  }
}

namespace {

/* Loads the stored descriptor: its flag word and the value's size (end
** word - start word + 1, -1 when it does not fit an int32). */
struct stored_value {
  bool null;
  bool flag10;
  int64_t size;
};

stored_value load_desc(const char *desc) {
  tblob_desc_t d {};
  tblobload(&d, desc);
  const int64_t size = int64_t {d.tb_words[2]} - d.tb_words[1] + 1;
  return {(d.tb_flags & desc_null) != 0, (d.tb_flags & desc_flag_10) != 0, size};
}

/* [4 id][38 desc][12]: asks for the value and ends the request. */
void ask_value(const char *desc, sqli_tcb *tcb, sqli_cursor *cursor) {
  pipe_vbles *p = sqli_outpipe(tcb);
  _sqs_id(cursor != nullptr ? cursor->stmt_id : 0, tcb);
  sqli_put16(p, SQ_BLOB_REQUEST);
  _iputbuf(desc, TBLOB_STORED_SIZE, p);
  _sqflip(tcb);
}

/* Reads the chunks of the value asked for, the end of the reply, and
** closes the target; the recovery of a failed write included. Returns 0
** or -1; *ind gets 1 for a memory locator too small for the value. */
int receive(blob_target &t, int16_t *ind, sqli_tcb *tcb, sqli_cursor *cursor) {
  t.code_before = tcb->sqlca->sqlcode;
  const int rc = sqli_blob_read_chunks(&t, tcb, cursor, false);
  if (rc == 0) {
    const int end = get_eot(tcb, cursor);
    const int closed = target_close(t);
    if (closed != 0 && t.loc == nullptr) _iqseterr(SQLI_E_FILECLOSE);
    return end != 0 || closed != 0 ? -1 : 0;
  }
  if (t.write_failed == 0) return -1;
  /* The value was skipped: the end of the reply, 12 or 10 then 12. */
  tcb->request_active = 0;
  pipe_vbles *p = sqli_outpipe(tcb);
  if (p == nullptr) return -1;
  int code = _igetint(p);
  if (code == SQR_CLOSED) {
    if (cursor != nullptr) _sqg_sqclose(cursor, tcb);
    code = _igetint(p);
  }
  if (code != SQR_EOT) {
    _sqproterr(tcb, code);
    return -1;
  }
  if (t.loc != nullptr && t.write_error == SQLI_E_LOCSIZE) {
    /* Too big for the program's buffer: cut, as a truncated value. */
    tcb->sqlca->sqlcode = t.code_before;
    *ind = 1;
    return 0;
  }
  return -1;
}

}  // namespace

int sqli_blob_prepare_locator(const char *desc, int sql_type, loc_t *loc, int64_t *size) {
  const stored_value v = load_desc(desc);
  loc->indicator = v.null ? -1 : 0;
  if (v.flag10) loc->open_flags |= sent_flag;
  loc->status = 0;
  loc->sql_type = sql_type;
  loc->size = 0;
  *size = v.size;
  return v.null ? 1 : 0;
}

int sqli_blob_open_locator(loc_t *loc, int64_t size) {
  if (size < 0 || size > INT32_MAX) {
    loc->status = SQLI_E_LOCSIZE;
    _iqseterr(SQLI_E_LOCSIZE);
    return -1;
  }
  return _sqlocopen(loc, loc_open_write, static_cast<int>(size));
}

int _sqg_blob(const char *desc, int sql_type, int stored_len, loc_t *loc, int16_t *ind,
              sqli_tcb *tcb, sqli_cursor *cursor) {
  *ind = 0;
  if (stored_len != TBLOB_STORED_SIZE) {
    _sqproterr(tcb, SQR_BLOB);
    return -1;
  }
  int64_t size = 0;
  if (sqli_blob_prepare_locator(desc, sql_type, loc, &size) != 0) {
    *ind = -1;
    if (loc->kind == loc_in_file) {
      if (_sqlocopen(loc, loc_open_write, 0) != 0) return -1;
      if (_sqlocclose(loc) != 0) return -1;
      loc->indicator = -1;
    }
    return 0;
  }
  if (sqli_blob_open_locator(loc, size) != 0) return -1;
  if (blob_buffer(tcb) != 0) {
    (void)_sqlocclose(loc);
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  ask_value(desc, tcb, cursor);
  blob_target t {};
  t.loc = loc;
  t.fd = -1;
  t.sql_type = sql_type;
  return receive(t, ind, tcb, cursor);
}

int _sqg_fblob(const char *desc, int stored_len, const char *name, int namelen, int16_t *ind,
               int sql_type, sqli_tcb *tcb, sqli_cursor *cursor) {
  *ind = 0;
  if (stored_len != TBLOB_STORED_SIZE) {
    _sqproterr(tcb, SQR_BLOB);
    return -1;
  }
  char path[name_max + 1];
  if (copy_name(name, namelen, path) < 0) {
    _iqseterr(SQLI_E_NOFILE);
    return -1;
  }
  const stored_value v = load_desc(desc);
  const int fd = _sqfilopen(path, 0);
  if (fd < 0) return -1;
  if (v.null) {
    *ind = -1;
    return _sqfilclose(fd) != 0 ? -1 : 0;
  }
  if (blob_buffer(tcb) != 0) {
    (void)_sqfilclose(fd);
    return -1;
  }
  ask_value(desc, tcb, cursor);
  blob_target t {};
  t.loc = nullptr;
  t.fd = fd;
  t.sql_type = sql_type;
  return receive(t, ind, tcb, cursor);
}
