/*
** file_access.cpp: server-driven file access. In the middle of a reply a
** server (running a load or unload of client files) sends code 98 and a
** sub-operation: open, close, read or write a file on the client's
** machine. The reply loop (reply_loop.cpp) hands the message here; the
** operation is carried out with the platform's file calls and answered at
** once with a short request of the client's own, ending in 12. The reply
** loop then goes on reading. Every file call goes through the file seam
** (sqli_seams.h), so that a test or a fuzzer decides where names lead.
**
** One file at a time is open; its descriptor, name and offsets live in the
** process context. A failure is never recorded in sqlca: it goes back to
** the server in the failure form (13, error, 0, 0, 0) and the server
** decides. Only a message that cannot be read in step (a negative length,
** a write run not ended by 13, a receive failure) is a protocol error,
** returned as -1 so that the reply loop drops the connection.
**
** Every length from the server is checked before it is used: names must
** fit the context's 500-byte buffer with their NUL, read buffers are
** bounded, and a write run is always read to its end so that the next
** code is read in step whatever happened to the file.
*/
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>

#include "gen_errors.h"
#include "sqli_blob.h"
#include "sqli_errors.h"
#include "sqli_handshake.h"
#include "sqli_reply.h"
#include "sqli_seams.h"
#include "sqli_wire.h"

namespace {

/* Sub-operations of message 98 and the codes of the exchange. */
enum : int { op_open = 0, op_close = 1, op_read = 2, op_write = 3 };
constexpr int code_end = SQR_EOT;
constexpr int code_failure = SQR_ERR;
constexpr int code_read_data = 106;
constexpr int code_write_data = 107;

constexpr int name_max = sqli_filename_size - 1;
constexpr int32_t read_buffer_max = 16 * 1024 * 1024;
constexpr int write_buffer_initial = 32000;

/* Server open bits and the platform flags each gives. The access bits are
** tried in order, the first present wins (read-only before write-only
** before read-write); the modifier bits add theirs. */
struct flag_rule {
  int server_bit;
  int flags;
};
constexpr flag_rule access_rules[] = {
    {0x10, O_RDONLY},
    {0x20, O_WRONLY | O_CREAT},
    {0x08, O_RDWR | O_CREAT},
};
constexpr flag_rule modifier_rules[] = {
    {0x02, O_CREAT | O_APPEND},
    {0x04, O_CREAT | O_TRUNC},
    {0x01, O_CREAT | O_EXCL},
};

struct released {
  void operator()(char *block) const { sqli_release(block); }
};
using buffer_ptr = std::unique_ptr<char, released>;

bool offset8(const sqli_tcb *tcb) { return (tcb->curconn->capabilities & sqli_cap_offset8) != 0; }

/* Closes the open file, if any. */
void close_file(sqli_tcb *tcb) {
  if (tcb->file_fd >= 0) sqli_files->close(tcb->file_fd);
  tcb->file_fd = -1;
  tcb->file_conn = nullptr;
}

/* Ends an answer with 12 and sends it. */
void send_answer(pipe_vbles *p) {
  _iputint(code_end, p);
  _iflushbuff(p);
}

/* The failure form with error, sent. Always 0: failures go to the server. */
int answer_failure(pipe_vbles *p, int error) {
  _iputint(code_failure, p);
  _iputint(error, p);
  _iputint(0, p);
  _iputint(0, p);
  _iputint(0, p);
  send_answer(p);
  return 0;
}

int answer_done(pipe_vbles *p) {
  send_answer(p);
  return 0;
}

/* The errno of a failed call, never 0 (a call that failed without one
** reports an I/O error). */
int last_errno() { return errno != 0 ? errno : EIO; }

/* The INT8 offset as a file offset: false when it is NULL or outside
** the range of a 64-bit offset. */
bool int8_offset(const dvz_int8_t &v, off_t *out) {
  if (v.sign == 0) return false;
  const uint64_t magnitude = (uint64_t {v.high} << 32) | v.low;
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
  const auto value = static_cast<int64_t>(magnitude);
  *out = v.sign < 0 ? -value : value;
  return true;
}

/* Writes all n bytes; false with errno set on failure. */
bool write_all(int fd, const char *bytes, int n) {
  size_t done = 0;
  while (done < static_cast<size_t>(n)) {
    const ssize_t w = sqli_files->write(fd, bytes + done, static_cast<size_t>(n) - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

/* Open: i16 name length, the name and its pad, i32 mode, i32 flags, the
** offset (INT8 with capability 0x2000, else i32), 12. */
int file_open(sqli_tcb *tcb, pipe_vbles *p) {
  const int length = _igetint(p);
  if (p->recv_failed != 0 || length < 0) return -1; /* no length to skip by */
  const bool fits = length >= 1 && length <= name_max;
  if (fits) {
    _igetpbuf(tcb->filename, length, p);
    tcb->filename[length] = '\0';
  } else {
    _igoblchars(length, p);
    tcb->filename[0] = '\0';
  }
  const int32_t mode = _igetlong(p);
  const int flags = conv_to_system(_igetlong(p));
  off_t offset = 0;
  bool offset_ok = true;
  if (offset8(tcb)) {
    _igetint8(&tcb->file_offset8, p);
    offset_ok = int8_offset(tcb->file_offset8, &offset);
  } else {
    tcb->file_offset = _igetlong(p);
    offset = tcb->file_offset;
  }
  const int next = _igetint(p);
  if (p->recv_failed != 0) return -1;
  if (next != code_end) return answer_failure(p, SQLI_E_PROTOCOL);
  if (!fits) return answer_failure(p, length == 0 ? EINVAL : SQLI_E_PROTOCOL);
  if (std::memchr(tcb->filename, '\0', static_cast<size_t>(length)) != nullptr)
    return answer_failure(p, EINVAL);
  if (!offset_ok) return answer_failure(p, value_err_int8_overflow);

  close_file(tcb); /* one file at a time */
  int fd;
  do {
    fd = sqli_files->open(tcb->filename, flags | O_CLOEXEC, static_cast<mode_t>(mode & 07777));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return answer_failure(p, last_errno());
  if (sqli_files->lseek(fd, offset, SEEK_SET) < 0) {
    const int error = last_errno();
    sqli_files->close(fd);
    return answer_failure(p, error);
  }
  tcb->file_fd = fd;
  tcb->file_conn = tcb->curconn;
  return answer_done(p);
}

/* Close: 12. */
int file_close(sqli_tcb *tcb, pipe_vbles *p) {
  const int next = _igetint(p);
  if (p->recv_failed != 0) return -1;
  if (next != code_end) return answer_failure(p, SQLI_E_PROTOCOL);
  close_file(tcb);
  return answer_done(p);
}

/* Read: buffer size (i32 with capability 0x2000, else i16), i32 count (-1:
** the rest of the file), 12. Answered with 106 and the count, the pieces
** (106, length, bytes) and 12. */
int file_read(sqli_tcb *tcb, pipe_vbles *p) {
  const bool wide = offset8(tcb);
  const int32_t bufsize = wide ? _igetlong(p) : _igetint(p);
  const int32_t asked = _igetlong(p);
  const int next = _igetint(p);
  if (p->recv_failed != 0) return -1;
  if (next != code_end || bufsize <= 0 || asked < -1) return answer_failure(p, SQLI_E_PROTOCOL);
  if (tcb->file_fd < 0) return answer_failure(p, EBADF);
  if (bufsize > read_buffer_max) return answer_failure(p, SQLI_E_NOMEM);
  buffer_ptr buffer(static_cast<char *>(sqli_alloc(static_cast<size_t>(bufsize))));
  if (buffer == nullptr) return answer_failure(p, SQLI_E_NOMEM);

  int64_t size = 0;
  const off_t position = sqli_files->lseek(tcb->file_fd, 0, SEEK_CUR);
  if (position < 0 || get_filesize(tcb, &size) != 0) return answer_failure(p, last_errno());
  int64_t rest = size > position ? size - position : 0;
  if (rest > INT32_MAX) rest = INT32_MAX;
  const int32_t count = asked == -1 || asked > rest ? static_cast<int32_t>(rest) : asked;

  _iputint(code_read_data, p);
  _iputlong(count, p);
  for (int32_t sent = 0; sent < count;) {
    const int32_t want = count - sent < bufsize ? count - sent : bufsize;
    ssize_t n;
    do {
      n = sqli_files->read(tcb->file_fd, buffer.get(), static_cast<size_t>(want));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return answer_failure(p, last_errno()); /* after the pieces sent */
    if (n == 0) break;
    _iputint(code_read_data, p);
    if (wide)
      _iputlong(static_cast<int32_t>(n), p);
    else
      _iputint(static_cast<int>(n), p);
    _iputpbuf(buffer.get(), static_cast<int>(n), p);
    sent += static_cast<int32_t>(n);
  }
  return answer_done(p);
}

/* Write: a run of 107 messages (i16 length, bytes, pad), ended by 13 and
** the server's status. The run is always read to its end; then the answer
** is the failure form (a write error, no file, no memory, or the server's
** non-zero status) or 107 and the file's size. */
int file_write(sqli_tcb *tcb, pipe_vbles *p) {
  int error = tcb->file_fd < 0 ? EBADF : 0;
  int held = write_buffer_initial;
  buffer_ptr buffer;
  if (error == 0) {
    buffer.reset(static_cast<char *>(sqli_alloc(static_cast<size_t>(held))));
    if (buffer == nullptr) error = SQLI_E_NOMEM;
  }
  int code;
  for (;;) {
    code = _igetint(p);
    if (p->recv_failed != 0) return -1;
    if (code != code_write_data) break;
    const int n = _igetint(p);
    if (p->recv_failed != 0 || n < 0) return -1;
    if (n == 0) continue;
    if (error == 0 && n > held) {
      buffer.reset(static_cast<char *>(sqli_alloc(static_cast<size_t>(n))));
      held = n;
      if (buffer == nullptr) error = SQLI_E_NOMEM;
    }
    if (error != 0) { /* keep the stream in step */
      _igoblchars(n, p);
      continue;
    }
    _igetpbuf(buffer.get(), n, p);
    if (p->recv_failed != 0) return -1; /* never write bytes that did not come */
    if (!write_all(tcb->file_fd, buffer.get(), n)) error = last_errno();
  }
  if (code != code_failure) return -1;
  const int status = _igetint(p);
  if (p->recv_failed != 0) return -1;
  if (error != 0) return answer_failure(p, error);
  if (status != 0) return answer_failure(p, status);
  int64_t size = 0;
  if (get_filesize(tcb, &size) != 0) return answer_failure(p, last_errno());
  _iputint(code_write_data, p);
  if (offset8(tcb)) {
    dvz_int8_t v {static_cast<uint32_t>(size), static_cast<uint32_t>(uint64_t(size) >> 32), 1};
    _iputint8(&v, p);
  } else {
    _iputlong(size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size), p);
  }
  return answer_done(p);
}

}  // namespace

int conv_to_system(int server_flags) {
  int flags = O_RDONLY;
  for (const flag_rule &r : access_rules)
    if ((server_flags & r.server_bit) != 0) {
      flags = r.flags;
      break;
    }
  for (const flag_rule &r : modifier_rules)
    if ((server_flags & r.server_bit) != 0) flags |= r.flags;
  return flags;
}

int get_filesize(sqli_tcb *tcb, int64_t *size) {
  *size = -1;
  if (tcb == nullptr || tcb->file_fd < 0) return -1;
  const off_t position = sqli_files->lseek(tcb->file_fd, 0, SEEK_CUR);
  if (position < 0) return -1;
  const off_t end = sqli_files->lseek(tcb->file_fd, 0, SEEK_END);
  if (sqli_files->lseek(tcb->file_fd, position, SEEK_SET) < 0 || end < 0) return -1;
  *size = end;
  return 0;
}

int _sqg_file_to_file(sqli_tcb *tcb) {
  pipe_vbles *p = tcb != nullptr && tcb->curconn != nullptr ? tcb->curconn->io : nullptr;
  if (p == nullptr) return -1;
  const int op = _igetint(p);
  if (p->recv_failed != 0) return -1;
  switch (op) {
    case op_open:
      return file_open(tcb, p);
    case op_close:
      return file_close(tcb, p);
    case op_read:
      return file_read(tcb, p);
    case op_write:
      return file_write(tcb, p);
    default:
      return answer_done(p); /* an unknown request gets the end alone */
  }
}

int pl_sqli_file_to_file(sqli_tcb *tcb) { return _sqg_file_to_file(tcb); }

void sqli_file_conn_gone(const sqli_conn *conn) {
  sqli_tcb *tcb = getsqlitcb();
  if (tcb != nullptr && conn != nullptr && tcb->file_conn == conn) close_file(tcb);
}
