/*
** The SQL protocol trace: every message buffer the runtime reads from or
** writes to the server, and every connect, connection switch and
** disconnect, written to a trace file when SQLIDEBUG asks for one.
**
** Called by the runtime's buffered message I/O (dump_read_buffer,
** dump_write_buffer, trace_connect, dvz_trace_setversion) and set up by the
** OS context's creation and the association services' initialisation
** (_sqdbgsetup). Calls the environment (ggetenv), the OS context and the
** stored-value primitives; nothing above this subsystem.
**
** Two file forms, kept byte for byte because readers outside the process
** decode them:
** - text: per buffer a header line "\r\n <label> (<assoc>) <count>\r\n"
**   (two blanks before the count of a read) and the bytes as "  %2x", with
**   "\r\n" after every 16;
** - binary: "SQLI" and BE32 1, then per buffer a 2-byte tag, a BE32
**   length, a BE double time stamp and the bytes.
** A process forked while tracing is found at its first traced buffer: a
** fork marker goes into the inherited file and the process gets
** <first path>_<pid>, which begins with 0x00 'n' and the BE16 version.
**
** Files are made with mode 0600 and given to the real user and group; a
** name already taken is used only when it holds the real user's own
** regular file with one link (never a symbolic link, a hard link or
** another user's file). Files are never closed.
*/
#include "os_trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "dvz_be.h"
#include "os_env.h"
#include "os_stored.h"

extern "C" {
int16_t _sqdbg = sqdbg_off;
int32_t _sqdbgfile = SQDBG_NO_FILE;
}

sqdbg_state sqlidebug = {0, 0, 0, {}, nullptr};

namespace {

/* Rows added to the process table at a time. */
constexpr int table_step = 10;
/* Longest name a connect record carries. */
constexpr size_t connect_name_max = 80;

/* Direction labels of the text form and tags of the binary form. */
struct label {
  const char *text;
  const char *tag;
};
enum class direction { read = 0, write = 1, fork = 2 };

/* Indexed by the fork flag (0 clear, 1 set), then by direction. */
constexpr std::array<std::array<label, 3>, 2> labels = {{
    {{{"C->S", "CS"}, {"S->C", "SC"}, {"C->F FORKED PROCESS", "CF"}}},
    {{{"S->C", "SC"}, {"C->S", "CS"}, {"S->F FORKED PROCESS", "SF"}}},
}};

const label &label_of(const ostcb_t *context, direction d) {
  const bool flag = context != nullptr && context->fork_flag != 0;
  return labels[flag ? 1 : 0][static_cast<int>(d)];
}

/* Writes all of n bytes to the current trace file; a failed write is
** dropped (the trace never disturbs the traced program). */
void put(const void *data, size_t n) {
  const char *p = static_cast<const char *>(data);
  while (n > 0) {
    const ssize_t written = write(_sqdbgfile, p, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += written;
    n -= static_cast<size_t>(written);
  }
}

void put(std::string_view text) { put(text.data(), text.size()); }

__attribute__((format(printf, 1, 2))) void put_format(const char *format, ...) {
  std::array<char, 256> line;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line.data(), line.size(), format, args);
  va_end(args);
  if (n > 0) put(line.data(), static_cast<size_t>(n) < line.size() ? n : line.size() - 1);
}

void put_be32(uint32_t value) {
  unsigned char bytes[4];
  dvz_st_be_u32(value, bytes);
  put(bytes, sizeof bytes);
}

/* The bytes of a text-form buffer: "  %2x" each, "\r\n" after every 16. */
void put_hex(const unsigned char *bytes, int count) {
  std::string out;
  out.reserve(static_cast<size_t>(count) * 4 + static_cast<size_t>(count) / 16 * 2);
  char item[8];
  for (int i = 0; i < count; ++i) {
    std::snprintf(item, sizeof item, "  %2x", bytes[i]);
    out += item;
    if ((i + 1) % 16 == 0) out += "\r\n";
  }
  put(out);
}

/* One binary record: tag, length, time stamp, bytes. */
void put_record(const char *tag, int count, const void *bytes) {
  put(tag, 2);
  put_be32(static_cast<uint32_t>(count));
  dump_tmstamp();
  if (count > 0) put(bytes, static_cast<size_t>(count));
}

/* The association id shown with "%#lx": the low 32 bits, unsigned. */
unsigned long association(const void *assoc) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(assoc));
}

/* Ends the binary trace after a failure, with its message on stderr. */
void binary_failure(const char *message, const std::string *path) {
  if (_sqdbg != sqdbg_binary) return;
  _sqdbg = sqdbg_off;
  if (path != nullptr)
    std::fprintf(stderr, message, path->c_str());
  else
    std::fputs(message, stderr);
}

/* A trace descriptor never takes 0, 1 or 2: 2 stands for "no file". */
int above_standard_streams(int fd) {
  if (fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

/* Opens the trace file at path for writing, empty. The name is predictable,
** so whatever another user may have planted there is refused: a new file
** is made exclusively; an existing one is used only when it is a regular
** file with one link, owned by the real user, and it is emptied only after
** that check, on the descriptor checked. A symbolic link is never followed
** and a FIFO never blocks the open. Returns the descriptor, or -1. */
int open_trace_file(const char *path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0 || errno != EEXIST) return fd;
  fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != getuid() ||
      ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

/* The process whose set-up has run, whatever its outcome: creating the
** context runs the set-up from inside another, and a failure must not
** print its message twice. A forked child may set up again. */
int setup_pid = 0;

bool has_row(int pid) {
  if (sqlidebug.rows == nullptr) return false;
  for (int i = 0; i < sqlidebug.row_count; ++i)
    if (sqlidebug.rows[i].pid == pid) return true;
  return false;
}

/* The row that will hold a new file: the given one, or for -1 a new one at
** the end of a grown table. -1 when the table cannot be made or grown. */
int table_row(int row) {
  if (sqlidebug.rows == nullptr) {
    auto *rows = static_cast<sqdbg_row *>(std::calloc(table_step, sizeof(sqdbg_row)));
    if (rows == nullptr) return -1;
    sqlidebug.rows = rows;
    sqlidebug.row_count = table_step;
    return row < 0 ? 0 : row;
  }
  if (row >= 0) return row;
  const int old_count = sqlidebug.row_count;
  const size_t new_count = static_cast<size_t>(old_count) + table_step;
  auto *rows =
      static_cast<sqdbg_row *>(std::realloc(sqlidebug.rows, new_count * sizeof(sqdbg_row)));
  if (rows == nullptr) return -1;
  std::memset(rows + old_count, 0, table_step * sizeof(sqdbg_row));
  sqlidebug.rows = rows;
  sqlidebug.row_count = static_cast<int32_t>(new_count);
  return old_count;
}

/* The head of a forked process's file: 0x00, 'n', the BE16 version. */
void put_version_head() {
  unsigned char head[4] = {0x00, 'n', 0, 0};
  dvz_st_be_i16(sqlidebug.version, head + 2);
  put(head, sizeof head);
}

}  // namespace

void fe_open_sqdbgfile(const char *name, int pid, std::string *path) {
  if (name == nullptr) {
    _sqdbgfile = SQDBG_NO_FILE;
    binary_failure("SQLIDEBUG: Must specify file.\n", nullptr);
    return;
  }
  std::string full = std::string(name) + "_" + std::to_string(pid);
  if (path != nullptr) *path = full;
  int fd = open_trace_file(full.c_str());
  if (fd >= 0) fd = above_standard_streams(fd);
  if (fd < 0) {
    _sqdbgfile = SQDBG_NO_FILE;
    binary_failure("SQLIDEBUG: Can't open file %s.\n", &full);
    return;
  }
  /* On the descriptor, so that the owner changes on the file just opened. */
  if (fchown(fd, getuid(), getgid()) != 0) {
    close(fd);
    _sqdbgfile = SQDBG_NO_FILE;
    binary_failure("SQLIDEBUG: Can't change owner on %s.\n", &full);
    return;
  }
  _sqdbgfile = fd;
}

void open_sqdbgfile(const char *name, int row, int pid) {
  std::string path;
  fe_open_sqdbgfile(name, pid, &path);
  if (_sqdbgfile == SQDBG_NO_FILE) return;
  if (_sqdbg == sqdbg_binary) {
    put("SQLI", 4);
    put_be32(1);
  }
  if (row == 0)
    sqlidebug.first_path = path;
  else if (sqlidebug.rows != nullptr)
    put_version_head();
  const int use = table_row(row);
  if (use < 0) {
    std::fputs("Out of memory.\n", stdout);
    std::fflush(stdout);
    close(_sqdbgfile);
    _sqdbgfile = SQDBG_NO_FILE;
    if (_sqdbg == sqdbg_binary) _sqdbg = sqdbg_off;
    return;
  }
  sqlidebug.rows[use] = sqdbg_row {pid, ostcb, _sqdbgfile};
  sqlidebug.current_row = use;
}

extern "C" {

int _sqdbgsetup(int status) {
  (void)CheckOsInit();
  const int pid = getpid();
  /* Creating the context above may have run the set-up already. */
  if (setup_pid == pid || has_row(pid)) return status;
  setup_pid = pid;
  _sqdbg = sqdbg_off;
  const char *value = ggetenv("SQLIDEBUG");
  if (value == nullptr) return status;
  std::string_view setting(value);
  std::string name;
  if (setting.starts_with('1')) {
    setting.remove_prefix(1);
    if (setting.starts_with(':')) setting.remove_prefix(1);
    name = setting;
    _sqdbg = sqdbg_text;
  } else if (setting.starts_with("2:") && setting.size() > 2) {
    name = setting.substr(2);
    _sqdbg = sqdbg_binary;
  } else {
    if (setting.starts_with('2'))
      std::fputs("Invalid syntax for SQLIDEBUG environment variable.\n", stderr);
    return status;
  }
  open_sqdbgfile(name.c_str(), 0, pid);
  return status;
}

void dvz_trace_setversion(int version) {
  sqlidebug.version =
      static_cast<int16_t>(version < SQDBG_MAX_VERSION ? version : SQDBG_MAX_VERSION);
}

void change_sqdbg(int pid, ostcb_t *context) {
  if (_sqdbgfile == SQDBG_NO_FILE || sqlidebug.rows == nullptr) return;
  if (sqlidebug.rows[sqlidebug.current_row].pid == pid) return;
  int free_row = -1;
  for (int i = 0; i < sqlidebug.row_count; ++i) {
    const sqdbg_row &r = sqlidebug.rows[i];
    if (r.pid == pid) {
      sqlidebug.current_row = i;
      _sqdbgfile = r.fd;
      return;
    }
    if (r.pid == 0) {
      free_row = i;
      break;
    }
  }
  const label &fork = label_of(context, direction::fork);
  if (_sqdbg == sqdbg_binary) {
    put(fork.tag, 2);
    put_be32(static_cast<uint32_t>(pid));
  } else {
    put_format("\r\n %s PID %d\r\n", fork.text, pid);
  }
  const std::string first = sqlidebug.first_path;
  open_sqdbgfile(first.c_str(), free_row, pid);
}

void dump_tmstamp(void) {
  struct timeval now {};
  gettimeofday(&now, nullptr);
  unsigned char stamp[8];
  stdbl(static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) / 1000000.0, stamp);
  put(stamp, sizeof stamp);
}

void dump_read_buffer(int count, const char *bytes, ostcb_t *context, const void *assoc) {
  if (_sqdbg == sqdbg_off) return;
  change_sqdbg(getpid(), context);
  const label &l = label_of(context, direction::read);
  if (_sqdbg == sqdbg_text) {
    put_format("\r\n %s (%#lx)  %d\r\n", l.text, association(assoc), count);
    if (count > 0) put_hex(reinterpret_cast<const unsigned char *>(bytes), count);
  } else if (_sqdbg == sqdbg_binary) {
    /* A read of nothing is an empty record, never a negative length. */
    put_record(l.tag, count > 0 ? count : 0, bytes);
  }
}

void dump_write_buffer(const char *bytes, int count, ostcb_t *context, const void *assoc) {
  if (_sqdbg == sqdbg_off || count < 1) return;
  change_sqdbg(getpid(), context);
  const label &l = label_of(context, direction::write);
  if (_sqdbg == sqdbg_text) {
    put_format("\r\n %s (%#lx) %d\r\n", l.text, association(assoc), count);
    put_hex(reinterpret_cast<const unsigned char *>(bytes), count);
  } else if (_sqdbg == sqdbg_binary) {
    put_record(l.tag, count, bytes);
  }
}

void trace_connect(int kind, const char *name1, const char *name2, int number) {
  static constexpr char codes[] = {'p', 'q', 'r'};
  if (_sqdbg == sqdbg_off || kind < 0 || kind > 2) return;
  std::string record;
  record += '\0';
  record += codes[kind];
  unsigned char word[2];
  dvz_st_be_u16(static_cast<uint16_t>(number), word);
  record.append(reinterpret_cast<const char *>(word), 2);
  for (const char *name : {name1, name2}) {
    const size_t length = name == nullptr ? 0 : strnlen(name, connect_name_max);
    dvz_st_be_u16(static_cast<uint16_t>(length), word);
    record.append(reinterpret_cast<const char *>(word), 2);
    record.append(name == nullptr ? "" : name, length);
    if (length % 2 != 0) record += '\0';
  }
  const int count = static_cast<int>(record.size());
  const label &l = labels[1][static_cast<int>(direction::write)];
  if (_sqdbg == sqdbg_text) {
    put_format("\r\n %s (%#lx) %d\r\n", l.text, 0UL, count);
    put_hex(reinterpret_cast<const unsigned char *>(record.data()), count);
  } else if (_sqdbg == sqdbg_binary) {
    put_record(l.tag, count, record.data());
  }
}

}  // extern "C"
