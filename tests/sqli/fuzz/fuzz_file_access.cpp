/*
** Fuzz target: random file requests of a server (message 98: open, close,
** read, write runs) answered by the runtime over the fake association
** layer, every file call going to a scratch directory through the file
** seam. Byte 0: bit 0 gives the connection the 8-byte offset capability,
** bit 1 hands the stream to the reply loop (each request then carries its
** own 98) instead of handing the requests to _sqg_file_to_file one after
** another as the reply loop would. Byte 1 is the cut of the received
** buffers, byte 2 the file call that fails (0: none), byte 3 how it fails;
** the rest is the reply.
**
** The scratch seam: a directory made once under $TMPDIR holds the only
** files any input reaches. Every name, whatever it says, leads to one of
** four files there (by a hash of its bytes); the files are put back to
** known contents before each input. A file stops growing at 64 KiB (a
** write beyond fails with EFBIG, as under a file-size limit) so that a
** read of the rest of a file stays small. close, read, write and lseek
** must be given a descriptor the seam opened and still holds, and the
** server's opens come one file at a time.
**
** Every run must end with sqlerrm terminated, a 5-character SQLSTATE, the
** request-in-progress flag clear, and either the connection kept or a
** negative sqlcode with it dropped. Handed the requests one by one, each
** request answered must have sent exactly one answer in one of the forms
** of the exchange, a read's pieces adding up to its count, and nothing is
** recorded in sqlca while the connection is kept. A file the run left open
** is closed as a freed connection closes it (sqli_file_conn_gone); then
** the seam holds no descriptor and the process as many as before.
*/
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "asf_call.h"
#include "fake_asf.h"
#include "fuzz_environment.h"
#include "reply_record.h"
#include "sqli_blob.h"
#include "sqli_context.h"
#include "sqli_handshake.h"
#include "sqli_reply.h"
#include "sqli_seams.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_file_access: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 16384;
constexpr off_t file_cap = 64 * 1024;
constexpr int flags_known = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_EXCL | O_CLOEXEC;

/* How the chosen file call fails. A short transfer moves one byte; a
** close that fails has still released its descriptor, as the platform's
** does. */
enum class Fault { interrupted, io_error, no_space, denied, short_transfer };
constexpr std::array<int, 5> fault_errno = {EINTR, EIO, ENOSPC, EACCES, EIO};

/* The scratch directory, its files and the seam's bookkeeping. */
struct Scratch {
  std::string dir;
  std::array<std::string, 4> files;
  std::vector<int> held; /* descriptors opened through the seam, not yet closed */
  int calls = 0;
  int fail_at = 0;
  Fault fault = Fault::io_error;
};
Scratch scratch;

/* The scratch file a name leads to (FNV-1a of its bytes). */
const char *scratch_file(const char *name) {
  uint32_t h = 2166136261u;
  for (const char *c = name; *c != '\0'; ++c)
    h = (h ^ static_cast<unsigned char>(*c)) * 16777619u;
  return scratch.files[h % scratch.files.size()].c_str();
}

/* True when this call is the one chosen to fail; errno is set then. */
bool chosen(bool *short_transfer = nullptr) {
  if (++scratch.calls != scratch.fail_at) return false;
  if (scratch.fault == Fault::short_transfer && short_transfer != nullptr) {
    *short_transfer = true;
    return false;
  }
  errno = fault_errno[static_cast<size_t>(scratch.fault)];
  return true;
}

bool holds(int fd) {
  return std::find(scratch.held.begin(), scratch.held.end(), fd) != scratch.held.end();
}
void must_hold(int fd, const char *call) {
  if (!holds(fd)) fail(call, fd);
}

int open_mapped(const char *name, int flags, mode_t mode) {
  if (name == nullptr || name[0] == '\0') fail("open of an empty name", 0);
  if ((flags & ~flags_known) != 0) fail("open flags outside the exchange's", flags);
  if (chosen()) return -1;
  /* The mode as asked, but the owner can always reopen and remove it. */
  const int fd = open(scratch_file(name), flags, (mode & 0777) | 0600);
  if (fd >= 0) scratch.held.push_back(fd);
  return fd;
}

int seam_open(const char *path, int flags, mode_t mode) {
  if (!scratch.held.empty()) fail("a second server file opened", scratch.held.front());
  return open_mapped(path, flags, mode);
}
int seam_open_client(const char *name, int flags) { return open_mapped(name, flags, 0666); }
int seam_create_client(const char *name, mode_t mode) {
  return open_mapped(name, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

int seam_close(int fd) {
  must_hold(fd, "close of a descriptor the seam does not hold");
  scratch.held.erase(std::find(scratch.held.begin(), scratch.held.end(), fd));
  const bool fails = chosen();
  const int saved = errno;
  const int rc = close(fd);
  if (fails) errno = saved;
  return fails ? -1 : rc;
}

ssize_t seam_read(int fd, void *buffer, size_t count) {
  must_hold(fd, "read of a descriptor the seam does not hold");
  bool short_read = false;
  if (chosen(&short_read)) return -1;
  return read(fd, buffer, short_read ? std::min<size_t>(count, 1) : count);
}

ssize_t seam_write(int fd, const void *buffer, size_t count) {
  must_hold(fd, "write of a descriptor the seam does not hold");
  bool short_write = false;
  if (chosen(&short_write)) return -1;
  /* Where the bytes would land: the end under append, else the position. */
  off_t at = -1;
  struct stat st {};
  if ((fcntl(fd, F_GETFL) & O_APPEND) == 0)
    at = lseek(fd, 0, SEEK_CUR);
  else if (fstat(fd, &st) == 0)
    at = st.st_size;
  if (at < 0 || at >= file_cap) {
    errno = EFBIG;
    return -1;
  }
  size_t n = std::min<size_t>(count, static_cast<size_t>(file_cap - at));
  if (short_write) n = std::min<size_t>(n, 1);
  return write(fd, buffer, n);
}

off_t seam_lseek(int fd, off_t offset, int whence) {
  must_hold(fd, "lseek of a descriptor the seam does not hold");
  if (chosen()) return -1;
  return lseek(fd, offset, whence);
}

constexpr sqli_file_seam scratch_seam = {
    seam_open, seam_open_client, seam_create_client, seam_close, seam_read, seam_write, seam_lseek,
};

void remove_scratch() {
  for (const std::string &f : scratch.files)
    unlink(f.c_str());
  rmdir(scratch.dir.c_str());
}

void make_scratch() {
  const char *tmp = std::getenv("TMPDIR");
  std::string dir =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/sqli-fuzz-files-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) fail("mkdtemp", errno);
  scratch.dir = dir;
  for (size_t i = 0; i < scratch.files.size(); ++i)
    scratch.files[i] = dir + "/f" + std::to_string(i);
  std::atexit(remove_scratch);
}

/* Known contents before each input: a 3000-byte file, a 10-byte one, and
** two that do not exist. */
void reset_scratch() {
  std::string text(3000, '\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>('a' + i % 26);
  const std::array<std::string, 2> contents = {text, "0123456789"};
  for (size_t i = 0; i < scratch.files.size(); ++i) {
    const char *path = scratch.files[i].c_str();
    if (i >= contents.size()) {
      if (unlink(path) != 0 && errno != ENOENT) fail("unlink scratch file", errno);
      continue;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || fchmod(fd, 0600) != 0 ||
        write(fd, contents[i].data(), contents[i].size()) !=
            static_cast<ssize_t>(contents[i].size()) ||
        close(fd) != 0)
      fail("reset scratch file", errno);
  }
}

int fd_count() {
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) fail("opendir /proc/self/fd", errno);
  int n = 0;
  while (const dirent *e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

/* Reads the client's answers as the exchange lays them out; the number
** of answers, or -1 where a byte is out of form. */
class Answers {
 public:
  Answers(const sqli_test::Bytes &b, bool wide) : b_(b), wide_(wide) {}

  int count() {
    int n = 0;
    while (at_ < b_.size()) {
      if (!answer()) return -1;
      ++n;
    }
    return n;
  }

 private:
  bool have(size_t n) const { return b_.size() - at_ >= n; }
  bool i16(int *v) {
    if (!have(2)) return false;
    *v = sqli_test::ld_i16(b_, at_);
    at_ += 2;
    return true;
  }
  bool i32(int32_t *v) {
    if (!have(4)) return false;
    *v = sqli_test::ld_i32(b_, at_);
    at_ += 4;
    return true;
  }
  bool skip(size_t n) {
    if (!have(n)) return false;
    at_ += n;
    return true;
  }
  bool code_is(int expected) {
    int code = 0;
    return i16(&code) && code == expected;
  }
  /* 13, the error, three zeros, 12 (the 13 already read). */
  bool failure_tail() {
    int error = 0, z1 = 1, z2 = 1, z3 = 1;
    return i16(&error) && error != 0 && i16(&z1) && i16(&z2) && i16(&z3) && z1 == 0 && z2 == 0 &&
           z3 == 0 && code_is(SQR_EOT);
  }
  bool answer() {
    int code = 0;
    if (!i16(&code)) return false;
    switch (code) {
      case SQR_EOT:
        return true;
      case SQR_ERR:
        return failure_tail();
      case 107:
        if (!skip(wide_ ? 10 : 4)) return false;
        return code_is(SQR_EOT);
      case 106:
        return read_answer();
      default:
        return false;
    }
  }
  /* 106 and the count, pieces (106, length, bytes, pad), then 12, or the
  ** failure form after some pieces. */
  bool read_answer() {
    int32_t count = 0;
    if (!i32(&count) || count < 0) return false;
    int64_t sent = 0;
    for (;;) {
      int code = 0;
      if (!i16(&code)) return false;
      if (code == SQR_EOT) return sent == count;
      if (code == SQR_ERR) return sent < count && failure_tail();
      if (code != 106) return false;
      int32_t n = 0;
      int n16 = 0;
      if (wide_ ? !i32(&n) : !i16(&n16)) return false;
      if (!wide_) n = n16;
      if (n <= 0 || sent + n > count) return false;
      if (!skip(static_cast<size_t>(n) + (n & 1))) return false;
      sent += n;
    }
  }

  const sqli_test::Bytes &b_;
  bool wide_;
  size_t at_ = 0;
};

void check_status(sqli_tcb *tcb, const sqli_test::FakeAsf &fake) {
  if (strnlen(sqlca.sqlerrm, sizeof sqlca.sqlerrm) > 71) fail("sqlerrm not terminated", 0);
  if (std::strlen(SQLSTATE) != 5) fail("SQLSTATE not 5 characters", 0);
  if (tcb->request_active != 0) fail("request flag left set", 0);
  if (tcb->curconn == nullptr && sqlca.sqlcode >= 0)
    fail("dropped without an error", sqlca.sqlcode);
  if (tcb->curconn == nullptr && fake.calls(asf_svc_abort) != 1) fail("not aborted", 0);
}

/* The file the run left open, closed as a freed connection closes it;
** then nothing may be held. */
void check_files(sqli_tcb *tcb, const sqli_conn *conn, int base) {
  if (tcb->file_fd >= 0) {
    if (scratch.held.size() != 1 || scratch.held.front() != tcb->file_fd)
      fail("the open file is not the seam's", tcb->file_fd);
    if (tcb->file_conn != conn) fail("the open file names another connection", 0);
    sqli_file_conn_gone(conn);
    if (tcb->file_fd != -1) fail("file left open by its connection's end", tcb->file_fd);
  }
  if (!scratch.held.empty()) fail("descriptor leaked by the runtime", scratch.held.front());
  if (fd_count() != base) fail("process descriptors changed", fd_count() - base);
  if (sqli_files != &scratch_seam) fail("file seam replaced", 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init_runtime("fuzz_file_access");
  make_scratch();
  sqli_files = &scratch_seam; /* for the process's life: no input reaches a real path */
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4 || size > max_input) return 0;
  const bool wide = (data[0] & 1) != 0;
  const bool through_loop = (data[0] & 2) != 0;
  const int cut = data[1] == 0 ? 1 : data[1];
  const sqli_test::Bytes reply(data + 4, data + size);
  sqli_tcb *tcb = sqlitcb;
  if (tcb->file_fd != -1 || !scratch.held.empty()) fail("a file open before the input", 0);
  reset_scratch();
  scratch.calls = 0;
  scratch.fail_at = data[2];
  scratch.fault = static_cast<Fault>(data[3] % fault_errno.size());
  const int base = fd_count();
  _sqclrca(tcb);
  tcb->request_active = 0;

  sqli_test::FakeAsf fake;
  sqli_test::TestConnection t(wide ? sqli_cap_offset8 : 0);
  t.pipe.request_active = &tcb->request_active;
  if (initpipevbles(&t.pipe) != 0) fail("initpipevbles", 0);
  tcb->curconn = &t.conn;
  fake.script_reply(reply, {cut});
  fake.fail_after(reply.size(), -25580, 0, "end of the scripted reply");

  if (through_loop) {
    sqli_cursor record {};
    _sqr_messages(&record, 0, tcb);
    sqli_test::free_record(&record);
  } else {
    /* As the reply loop hands over each 98, and drops the connection when
    ** a request cannot be read in step. */
    int answered = 0;
    while (tcb->curconn != nullptr && (fake.delivered() < reply.size() || t.pipe.inleft > 0)) {
      if (_sqg_file_to_file(tcb) != 0 || t.pipe.recv_failed != 0) {
        _sqproterr(tcb, SQR_FILE);
        break;
      }
      ++answered;
    }
    const int sent = Answers(fake.sent_bytes(), wide).count();
    if (sent != answered) fail("answers out of form or not one per request", sent);
    if (tcb->curconn != nullptr && sqlca.sqlcode != 0)
      fail("file access recorded in sqlca", sqlca.sqlcode);
  }
  check_status(tcb, fake);
  check_files(tcb, &t.conn, base);
  tcb->curconn = nullptr;
  return 0;
}
