/*
** request_encoders.cpp: the encoders of the SQLI request messages. Each
** writes one message into the current connection's send buffer; _sqflip
** ends the request and sends it. Texts are measured and converted before
** their message is begun, so that a failure never leaves half a message
** in the buffer.
*/
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "gl_chars.h"
#include "os_conv.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_stored.h"
#include "sqli_bind.h"
#include "sqli_connect.h"
#include "sqli_errors.h"
#include "sqli_file.h"
#include "sqli_globals.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_send.h"

namespace {

constexpr int err_invalid_text = -202;
constexpr int err_text_too_long = -460;
/* Names are converted into a buffer of this size. */
constexpr int name_buffer_size = 129;
/* Capabilities: 4-byte row lengths in PUT; the fetch array size. */
constexpr int32_t cap_put_len4 = 0x10;
constexpr int32_t cap_fetch_array = 0x80 | 0x100;

/* A heap block of the runtime's memory that grows and frees itself. */
class Block {
 public:
  Block() = default;
  Block(const Block &) = delete;
  Block &operator=(const Block &) = delete;
  ~Block() { sqli_release(data_); }
  /* Room for n bytes; false when memory is short (contents kept). */
  bool reserve(size_t n) {
    if (n <= size_) return true;
    void *grown = data_ == nullptr ? sqli_alloc(n) : sqli_grow(data_, n);
    if (grown == nullptr) return false;
    data_ = static_cast<char *>(grown);
    size_ = n;
    return true;
  }
  char *data() { return data_; }

 private:
  char *data_ = nullptr;
  size_t size_ = 0;
};

int record(int code) {
  _iqseterr(code);
  return code;
}

int sqlcode(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }

void put_code(sqli_tcb *tcb, int code) {
  if (pipe_vbles *pipe = sqli_outpipe(tcb)) sqli_put16(pipe, code);
}

/* u16 length, the bytes and a pad byte when the length is odd. */
void put_text_field(pipe_vbles *pipe, const char *bytes, int len) {
  _iputunsigned(static_cast<unsigned>(len), pipe);
  _iputpbuf(bytes, len, pipe);
}

/* The locale the prepare text is walked in, null for single bytes. */
gl_locale *multibyte_locale() {
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->locale == nullptr || env->locale->single_byte == 1) return nullptr;
  return env->locale;
}

/* Counts the "?" characters of text; -1 on an invalid character. */
int count_markers(const char *text) {
  gl_locale *loc = multibyte_locale();
  int count = 0;
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  while (*p != 0) {
    if (*p == '?') ++count;
    if (loc == nullptr) {
      ++p;
      continue;
    }
    p = gl_full_mbsnext(loc, p);
    if (p == nullptr) return -1;
  }
  return count;
}

}  // namespace

gl_cv_desc *sqli_client_db_converter(void) {
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_client_db : nullptr;
}

int sqli_send_text(const char *text, int n, sqli_tcb *tcb, sqli_sendtext *out) {
  *out = {text, n};
  if (n <= 0) return 0;
  if (_sqdbapi != 0) {
    _sqapimem(n + 1, tcb);
    if (tcb->scratch == nullptr || tcb->scratch_size < n + 1) return SQLI_E_NOMEM;
    CPVARTODB(text, tcb->scratch, n);
    *out = {tcb->scratch, n};
    return 0;
  }
  gl_cv_desc *cv = sqli_client_db_converter();
  if (cv == nullptr) return 0;
  gcv_growbuf buffer {tcb->convbuf_size, tcb->convbuf};
  int len = n;
  const int converted = gcv_reuse(cv, text, &len, &buffer);
  tcb->convbuf_size = buffer.size;
  tcb->convbuf = buffer.buffer;
  if (converted < 0) {
    const int error = get_glserror();
    return error != 0 ? error : -23113;
  }
  *out = {tcb->convbuf, converted};
  return 0;
}

int sqli_ansi_db(const sqli_tcb *tcb) {
  return tcb != nullptr && tcb->curconn != nullptr && tcb->curconn->dbflags[1] != 0;
}

int sqli_float_as_decimal(const sqli_tcb *tcb) {
  return tcb != nullptr && tcb->curconn != nullptr && tcb->curconn->dbflags[3] != 0;
}

extern "C" {

/* Returns SQLCODE; nothing is written unless every piece converted and
** the total fits a u16. */
int _sqs_cmd(char **pieces, int nin, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return sqlcode(tcb);
  const bool transform = _sqdbapi != 0 || sqli_client_db_converter() != nullptr;
  Block joined;
  size_t total = 0;
  for (char **p = pieces; p != nullptr && *p != nullptr; ++p) {
    const size_t raw = std::strlen(*p);
    if (!transform) {
      if (raw > sqli_text_max) return record(err_text_too_long), sqlcode(tcb);
      total += raw;
      if (total > sqli_text_max) return record(err_text_too_long), sqlcode(tcb);
      continue;
    }
    if (raw > INT32_MAX / 8) return record(err_text_too_long), sqlcode(tcb);
    sqli_sendtext text {};
    const int error = sqli_send_text(*p, static_cast<int>(raw), tcb, &text);
    if (error != 0) return record(error), sqlcode(tcb);
    if (text.len > sqli_text_max || total + static_cast<size_t>(text.len) > sqli_text_max)
      return record(err_text_too_long), sqlcode(tcb);
    if (!joined.reserve(total + static_cast<size_t>(text.len) + 1))
      return record(SQLI_E_NOMEM), sqlcode(tcb);
    std::memcpy(joined.data() + total, text.bytes, static_cast<size_t>(text.len));
    total += static_cast<size_t>(text.len);
  }
  sqli_put16(pipe, SQ_COMMAND);
  sqli_put16(pipe, nin);
  _iputunsigned(static_cast<unsigned>(total), pipe);
  if (transform) {
    _iputbuf(joined.data(), static_cast<int>(total), pipe);
  } else {
    for (char **p = pieces; p != nullptr && *p != nullptr; ++p)
      _iputbuf(*p, static_cast<int>(std::strlen(*p)), pipe);
  }
  if (total % 2 != 0) _iputpad(pipe);
  return sqlcode(tcb);
}

/* Returns 0, or -1 with the error recorded and nothing written. */
int _sqs_pre(const char *text, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (text == nullptr) return record(err_invalid_text), -1;
  const int markers = count_markers(text);
  if (markers < 0) return record(err_invalid_text), -1;
  const size_t raw = std::strlen(text);
  if (raw > INT32_MAX / 8) return record(err_text_too_long), -1;
  const int len = dvz_byleng(text, static_cast<int>(raw));
  sqli_sendtext sent {};
  const int error = sqli_send_text(text, len, tcb, &sent);
  if (error != 0) return record(error), -1;
  if (sent.len > sqli_text_max) return record(err_text_too_long), -1;
  if (pipe == nullptr) return 0;
  sqli_put16(pipe, SQ_PREPARE);
  sqli_put16(pipe, markers);
  _iputlbuf(sent.bytes, sent.len, pipe);
  return 0;
}

int _sqs_name(sqli_cursor *cursor, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr || cursor == nullptr) return 0;
  const char *name = cursor->name != nullptr ? cursor->name : "";
  int len = static_cast<int>(std::strlen(name));
  char converted[name_buffer_size];
  const char *bytes = name;
  if (_sqdbapi != 0) {
    sqli_sendtext sent {};
    if (sqli_send_text(name, len, tcb, &sent) == 0) bytes = sent.bytes;
  } else if (gl_cv_desc *cv = sqli_client_db_converter(); cv != nullptr && len > 0) {
    int in = len;
    int truncated = 0;
    const int n = gcv_extbuf(cv, name, &in, converted, name_buffer_size, &truncated);
    if (n > 0 && truncated == 0) {
      bytes = converted;
      len = n;
    }
  }
  sqli_put16(pipe, SQ_CURNAME);
  _iputlbuf(bytes, len, pipe);
  return 0;
}

void _sqs_id(int id, sqli_tcb *tcb) {
  if (pipe_vbles *pipe = sqli_outpipe(tcb)) {
    sqli_put16(pipe, SQ_ID);
    sqli_put16(pipe, id);
  }
}

void _sqs_fetch(int bufsize, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return;
  sqli_put16(pipe, SQ_NFETCH);
  sqli_put16(pipe, bufsize);
  if ((tcb->curconn->capabilities & cap_fetch_array) != 0) sqli_put16(pipe, FetArrSize);
}

void _sqs_sfetch(int direction, int32_t position, int bufsize, sqli_tcb *tcb) {
  if (pipe_vbles *pipe = sqli_outpipe(tcb)) {
    sqli_put16(pipe, SQ_SFETCH);
    sqli_put16(pipe, direction);
    sqli_put32(pipe, position);
    sqli_put16(pipe, bufsize);
  }
}

void _sqs_relcoll(int32_t handle, sqli_tcb *tcb) {
  if (pipe_vbles *pipe = sqli_outpipe(tcb)) {
    sqli_put16(pipe, SQ_RELEASE_COLL);
    sqli_put32(pipe, handle);
  }
}

int _sqs_dopen(const char *name, int mode, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (name == nullptr) name = "";
  sqli_sendtext sent {};
  const int error = sqli_send_text(name, static_cast<int>(std::strlen(name)), tcb, &sent);
  if (error != 0) return record(error);
  if (sent.len > sqli_text_max) return record(err_text_too_long);
  if (pipe == nullptr) return 0;
  sqli_put16(pipe, SQ_DBOPEN);
  _iputlbuf(sent.bytes, sent.len, pipe);
  sqli_put16(pipe, mode);
  return 0;
}

/* Each buffered row of a cursor with variable-length columns as its own
** message, its length from the row-length table {index, total, capacity,
** lengths...}. */
void _sqs_putvar(sqli_cursor *cursor, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr || cursor == nullptr || cursor->rowlen_table == nullptr) return;
  const int32_t *table = cursor->rowlen_table;
  const bool len4 = (tcb->curconn->capabilities & cap_put_len4) != 0;
  const int32_t rows = table[0] + 1;
  const char *row = cursor->buffer;
  tcb->request_active = 1;
  for (int32_t i = 0; i < rows && i < table[2]; ++i) {
    const int32_t len = table[3 + i];
    if (len < 0) break;
    sqli_put16(pipe, SQ_PUT);
    if (len4) {
      sqli_put32(pipe, len);
    } else {
      sqli_put16(pipe, len);
    }
    sqli_put16(pipe, 1);
    if (_sqdbapi != 0) {
      sqli_sendtext sent {};
      sqli_send_text(row, len, tcb, &sent);
      _iputpbuf(sent.bytes, sent.len, pipe);
    } else {
      _iputpbuf(row, len, pipe);
    }
    row += len;
  }
  tcb->request_active = 0;
}

void _sqs_put(sqli_cursor *cursor, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr || cursor == nullptr) return;
  if (cursor->nvarlen_cols != 0 && cursor->rowlen_table != nullptr &&
      cursor->rowlen_table[1] != 0) {
    _sqs_putvar(cursor, tcb);
    return;
  }
  const bool len4 = (tcb->curconn->capabilities & cap_put_len4) != 0;
  const int rowsize = cursor->rowsize;
  tcb->request_active = 1;
  sqli_put16(pipe, SQ_PUT);
  if (len4) {
    sqli_put32(pipe, rowsize);
  } else {
    sqli_put16(pipe, rowsize);
  }
  if (rowsize <= 0) {
    sqli_put16(pipe, cursor->nbuffered);
    tcb->request_active = 0;
    return;
  }
  const auto used = cursor->bufpos - cursor->buffer;
  const int rows = used > 0 ? static_cast<int>(used / rowsize) : 0;
  sqli_put16(pipe, rows);
  for (int i = 0; i < rows; ++i)
    _iputpbuf(cursor->buffer + static_cast<ptrdiff_t>(i) * rowsize, rowsize, pipe);
  tcb->request_active = 0;
}

void _sqputcol(char **names, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return;
  for (char **p = names; p != nullptr && *p != nullptr; ++p) {
    const int len = static_cast<int>(std::strlen(*p));
    sqli_sendtext sent {};
    sqli_send_text(*p, len, tcb, &sent);
    _iputlbuf(sent.bytes, sent.len, pipe);
  }
  sqli_put16(pipe, 0);
}

void _sqs_ulist(int count, char **names, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return;
  sqli_put16(pipe, SQ_UPDATE_LIST);
  sqli_put16(pipe, count);
  _sqputcol(names, tcb);
}

/* The strings joined by single blanks; a total the u16 cannot carry is
** -460 with nothing written. */
void _sqputtext(char **strings, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return;
  if (strings == nullptr) {
    sqli_put16(pipe, 0);
    return;
  }
  size_t total = 0;
  for (char **p = strings; *p != nullptr; ++p) {
    total += std::strlen(*p) + (p != strings ? 1 : 0);
    if (total > sqli_text_max) {
      record(err_text_too_long);
      return;
    }
  }
  _iputunsigned(static_cast<unsigned>(total), pipe);
  for (char **p = strings; *p != nullptr; ++p) {
    if (p != strings) _iputbyte(' ', pipe);
    _iputbuf(*p, static_cast<int>(std::strlen(*p)), pipe);
  }
  if (total % 2 != 0) _iputpad(pipe);
}

/* The list is checked before the message is begun; an empty list still
** carries its count, so that the message stays framed. */
int _sqs_uexe(int first, int count, sqlvar_struct *entries, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return sqlcode(tcb);
  sqlda desc {};
  desc.sqld = static_cast<int16_t>(count > 0 && entries != nullptr ? count : 0);
  desc.sqlvar = entries;
  if (sqli_check_bind_list(&desc, nullptr, tcb) != 0) return sqlcode(tcb);
  sqli_put16(pipe, SQ_UPDATE_EXECUTE);
  sqli_put16(pipe, first);
  if (desc.sqld == 0) {
    sqli_put16(pipe, 0);
    return sqlcode(tcb);
  }
  return _sqs_vs(SQ_UPDATE_EXECUTE, &desc, nullptr, tcb);
}

/* The whole file is read (and converted) before message 1 is begun, so
** its declared length always matches the bytes that follow it. */
int _sqs_procfile(const char *name, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (name == nullptr) return record(SQLI_E_NOFILE);
  const int namelen = dvz_byleng(name, static_cast<int>(strnlen(name, 4096)));
  if (namelen > sqli_procfile_name_max || namelen == 0) return record(SQLI_E_NOFILE);
  char path[sqli_procfile_name_max + 1];
  std::memcpy(path, name, static_cast<size_t>(namelen));
  path[namelen] = '\0';
  struct stat st {};
  if (gcvstat(path, &st) != 0 || st.st_size > sqli_text_max) return record(SQLI_E_NOFILE);
  const int fd = _sqfilopen(path, 1);
  if (fd < 0) return record(SQLI_E_NOFILE);
  /* One byte more than the limit, so that a file grown past it shows. */
  Block raw;
  if (!raw.reserve(sqli_text_max + 1)) {
    _sqfilclose(fd);
    return record(SQLI_E_NOMEM);
  }
  int have = 0;
  bool read_failed = false;
  while (have <= sqli_text_max) {
    int got = 0;
    if (_sqfilread(fd, raw.data() + have, sqli_text_max + 1 - have, &got) != 0) {
      read_failed = true;
      break;
    }
    if (got == 0) break;
    have += got;
  }
  const bool close_failed = _sqfilclose(fd) != 0;
  auto abort_with = [&](int code) {
    if (pipe != nullptr) sqli_put16(pipe, SQ_BLOB_ABORT);
    return record(code);
  };
  if (read_failed) return abort_with(SQLI_E_FILEREAD);
  if (have > sqli_text_max) return abort_with(SQLI_E_NOFILE);
  const char *bytes = raw.data();
  int len = have;
  Block converted;
  if (gl_cv_desc *cv = sqli_client_db_converter(); cv != nullptr && have > 0) {
    const double factor = gl_iconv_expansion(cv);
    const double want = static_cast<double>(have) * (factor > 1.0 ? factor : 1.0) + 1.0;
    if (!converted.reserve(static_cast<size_t>(want))) return record(SQLI_E_NOMEM);
    int in = have;
    int truncated = 0;
    const int n =
        gcv_extbuf(cv, raw.data(), &in, converted.data(), static_cast<int>(want), &truncated);
    if (n < 0 || truncated != 0) return abort_with(SQLI_E_FILEREAD);
    bytes = converted.data();
    len = n;
  }
  if (close_failed) return abort_with(SQLI_E_FILECLOSE);
  if (len > sqli_text_max) return abort_with(err_text_too_long);
  if (pipe == nullptr) return 0;
  sqli_put16(pipe, SQ_COMMAND);
  sqli_put16(pipe, 0);
  put_text_field(pipe, bytes, len);
  return 0;
}

void _sqs_open(sqli_tcb *tcb) { put_code(tcb, SQ_OPEN); }
void _sqs_exe(sqli_tcb *tcb) { put_code(tcb, SQ_EXECUTE); }
void _sqs_close(sqli_tcb *tcb) { put_code(tcb, SQ_CLOSE); }
void _sqs_rel(sqli_tcb *tcb) { put_code(tcb, SQ_RELEASE); }
void _sqs_slct(sqli_tcb *tcb) { put_code(tcb, SQ_SELECT); }
void _sqs_commit(sqli_tcb *tcb) { put_code(tcb, SQ_COMMIT); }
void _sqs_roll(sqli_tcb *tcb) {
  put_code(tcb, SQ_ROLLBACK);
  put_code(tcb, 0);
}
void _sqs_ndesc(sqli_tcb *tcb) { put_code(tcb, SQ_DESCRIBE); }
void _sqs_scroll(sqli_tcb *tcb) { put_code(tcb, SQ_SCROLL); }
void _sqs_dlist(sqli_tcb *tcb) { put_code(tcb, SQ_DBLIST); }
void _sqs_beginwork(sqli_tcb *tcb) { put_code(tcb, SQ_BEGIN_WORK); }
void _sqs_beginwork_norep(sqli_tcb *tcb) { put_code(tcb, SQ_BEGIN_WORK_NOREPLY); }
void _sqs_dclose(sqli_tcb *tcb) { put_code(tcb, SQ_DBCLOSE); }
void _sqs_hold(sqli_tcb *tcb) { put_code(tcb, SQ_HOLD); }
void _sqs_wantdone(sqli_tcb *tcb) { put_code(tcb, SQ_WANT_DONE); }
void _sqs_exproc(sqli_tcb *tcb) { put_code(tcb, SQ_EXECUTE_PROC); }
void _sqs_reoptopen(sqli_tcb *tcb) { put_code(tcb, SQ_REOPT_OPEN); }
void _sqs_autofree(sqli_tcb *tcb) { put_code(tcb, SQ_AUTOFREE); }
void _sqs_ndesc_id(sqli_tcb *tcb) { put_code(tcb, SQ_DESCRIBE_ID); }

void _sqflip(sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return;
  sqli_put16(pipe, SQ_EOT);
  _iflushbuff(pipe);
  tcb->request_active = 1;
  bebackend(tcb);
}

int _sqfork(sqli_tcb *tcb) {
  sqli_connect_open(0, SQLI_CONNECT_IMPLICIT, nullptr, nullptr, nullptr, 0);
  return sqlcode(tcb);
}

}  // extern "C"
