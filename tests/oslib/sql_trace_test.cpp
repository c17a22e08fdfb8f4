/*
** The SQL protocol trace: reading SQLIDEBUG (also from an rc file), the
** text form against snprintf of its formats, the binary form through a
** Python struct decoder, the files of forked processes, the growth of the
** process table, and the opening of the files (mode 0600, nothing planted
** at the name used, the user's own old file emptied, no second file for a
** second set-up).
**
** The trace is set up once per process, so every case runs its traced
** code in a forked child, which reports what only it can see as text
** through a pipe; the parent reads the files and the child's stderr.
*/
#include "os_trace.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "isolation.h"
#include "temp_dir.h"

namespace {

using dvz_test::read_file;
using dvz_test::TempDir;

struct child_run {
  pid_t pid;
  std::string report; /* what the child's body returned */
  std::string err; /* what it wrote to stderr */
};

/* Runs body in a forked child with stderr caught; the child's result text
** comes back through a pipe. */
child_run in_child(const std::function<std::string()> &body) {
  TempDir scratch;
  const std::string err_path = scratch.file("stderr");
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    close(fds[0]);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err < 0 || dup2(err, 2) < 0) _exit(90);
    close(err);
    const std::string report = body();
    if (write(fds[1], report.data(), report.size()) != static_cast<ssize_t>(report.size()))
      _exit(91);
    _exit(0);
  }
  close(fds[1]);
  std::string report;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    report.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  return {pid, report, read_file(err_path)};
}

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *pattern, ...) {
  char line[512];
  va_list args;
  va_start(args, pattern);
  vsnprintf(line, sizeof line, pattern, args);
  va_end(args);
  return line;
}

/* The bytes as the text form shows them: "  %2x" each, "\r\n" after 16. */
std::string hex_items(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += format("  %2x", static_cast<unsigned char>(bytes[i]));
    if ((i + 1) % 16 == 0) out += "\r\n";
  }
  return out;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

/* The names in a directory. */
std::set<std::string> entries(const std::string &dir) {
  std::set<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (const dirent *e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

/* The association id ascid as the runtime hands it to the trace. */
const void *record_with(uintptr_t ascid) { return reinterpret_cast<const void *>(ascid); }

/* Sets SQLIDEBUG (unset for NULL) and sets the trace up. */
void set_up(const char *setting) {
  if (setting != nullptr)
    setenv("SQLIDEBUG", setting, 1);
  else
    unsetenv("SQLIDEBUG");
  (void)_sqdbgsetup(0);
}

int open_descriptors() { return static_cast<int>(entries("/proc/self/fd").size()); }

/* ---- Set-up ---------------------------------------------------------------- */

struct setup_case {
  const char *name;
  const char *setting; /* {dir}: the trace directory; NULL: unset */
  int mode; /* _sqdbg afterwards */
  const char *file; /* the one file in {dir} ({pid}: the child), or NULL */
  const char *err; /* stderr after the set-up and one two-byte write */
};

const setup_case setup_cases[] = {
    {"text with colon", "1:{dir}/tr", sqdbg_text, "tr_{pid}", ""},
    {"text without colon", "1{dir}/tr", sqdbg_text, "tr_{pid}", ""},
    {"text, empty name: the working directory", "1", sqdbg_text, "_{pid}", ""},
    {"binary", "2:{dir}/tr", sqdbg_binary, "tr_{pid}", ""},
    {"2 alone", "2", sqdbg_off, nullptr, "Invalid syntax for SQLIDEBUG environment variable.\n"},
    {"2: without a name", "2:", sqdbg_off, nullptr,
     "Invalid syntax for SQLIDEBUG environment variable.\n"},
    {"2 without a colon", "2{dir}/tr", sqdbg_off, nullptr,
     "Invalid syntax for SQLIDEBUG environment variable.\n"},
    {"another form", "3:{dir}/tr", sqdbg_off, nullptr, ""},
    {"unset", nullptr, sqdbg_off, nullptr, ""},
    {"binary, no such directory", "2:{dir}/none/tr", sqdbg_off, nullptr,
     "SQLIDEBUG: Can't open file {dir}/none/tr_{pid}.\n"},
    {"text, no such directory: stderr", "1:{dir}/none/tr", sqdbg_text, nullptr,
     "\r\n S->C (0) 2\r\n   1  ab"},
};

TEST(SqlTraceSetup, ReadsSqlidebugAndOpensTheFirstFile) {
  for (const setup_case &c : setup_cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string setting = c.setting ? replace_all(c.setting, "{dir}", dir.path()) : "";
    const child_run run = in_child([&] {
      dvz_test::ScopedChdir in_dir(dir.path());
      if (c.setting != nullptr)
        setenv("SQLIDEBUG", setting.c_str(), 1);
      else
        unsetenv("SQLIDEBUG");
      const int result = _sqdbgsetup(7);
      dump_write_buffer("\x01\xab", 2, CheckOsInit(), nullptr);
      return format("result %d mode %d", result, _sqdbg);
    });
    const std::string pid = std::to_string(run.pid);
    EXPECT_EQ(run.report, format("result 7 mode %d", c.mode));
    std::set<std::string> want;
    if (c.file != nullptr) want.insert(replace_all(c.file, "{pid}", pid));
    EXPECT_EQ(entries(dir.path()), want);
    EXPECT_EQ(run.err, replace_all(replace_all(c.err, "{dir}", dir.path()), "{pid}", pid));
  }
}

TEST(SqlTraceSetup, SqlidebugFromTheRcFileStartsTheTraceWithTheContext) {
  TempDir dir;
  const child_run run = in_child([&] {
    unsetenv("SQLIDEBUG");
    dvz_test::write_file(oslib_test::isolated_dovarizadir() + "/etc/dovariza.rc",
                         "SQLIDEBUG 1:" + dir.path() + "/tr\n");
    const bool context = CheckOsInit() != nullptr;
    return format("context %d mode %d", context, _sqdbg);
  });
  EXPECT_EQ(run.report, "context 1 mode 4");
  EXPECT_EQ(entries(dir.path()), std::set<std::string> {"tr_" + std::to_string(run.pid)});
}

/* ---- Text form ------------------------------------------------------------- */

TEST(SqlTraceText, HeadersItemsAndConnectRecordsMatchTheFormats) {
  TempDir dir;
  const std::string seventeen = "0123456789abcdef\xff";
  const child_run run = in_child([&] {
    set_up(("1:" + dir.path() + "/tr").c_str());
    ostcb_t *context = CheckOsInit();
    const void *pipe = record_with(0x12);
    context->fork_flag = 1;
    dump_write_buffer(seventeen.data(), 17, context, pipe);
    dump_read_buffer(3, "\x00\x0a\x7f", context, pipe);
    dump_read_buffer(0, nullptr, context, pipe);
    dump_write_buffer("xyz", 0, context, pipe);
    context->fork_flag = 0;
    dump_write_buffer("\x10", 1, context, pipe);
    dump_read_buffer(1, "\x20", context, pipe);
    /* Only the low 32 bits of the association id are shown. */
    const void *wide = record_with(static_cast<uintptr_t>(UINT64_C(0x700000012) & UINTPTR_MAX));
    dump_write_buffer("w", 1, context, wide);
    const void *none = record_with(0);
    dump_read_buffer(1, "n", context, none);
    trace_connect(sqdbg_connect, "ab", "abc", 7);
    return std::string();
  });
  const char *write_header = "\r\n %s (%#lx) %d\r\n";
  const char *read_header = "\r\n %s (%#lx)  %d\r\n";
  std::string want;
  want += format(write_header, "C->S", 0x12UL, 17) + hex_items(seventeen);
  want += format(read_header, "S->C", 0x12UL, 3) + hex_items(std::string_view("\x00\x0a\x7f", 3));
  want += format(read_header, "S->C", 0x12UL, 0);
  want += format(write_header, "S->C", 0x12UL, 1) + hex_items("\x10");
  want += format(read_header, "C->S", 0x12UL, 1) + hex_items("\x20");
  want += format(write_header, "S->C", 0x12UL, 1) + hex_items("w");
  want += format(read_header, "C->S", 0UL, 1) + hex_items("n");
  /* 0x00 'p', the number, then each name with its length, padded even. */
  const std::string connect(
      "\x00p\x00\x07\x00\x02"
      "ab\x00\x03"
      "abc\x00",
      14);
  want += format(write_header, "C->S", 0UL, 14) + hex_items(connect);
  EXPECT_EQ(read_file(dir.file("tr_" + std::to_string(run.pid))), want);
  EXPECT_EQ(run.err, "");
}

TEST(SqlTraceText, ConnectRecordsCutNamesAt80Bytes) {
  TempDir dir;
  const std::string long_name(100, 'd');
  const child_run run = in_child([&] {
    set_up(("1:" + dir.path() + "/tr").c_str());
    trace_connect(sqdbg_setconnection, long_name.c_str(), nullptr, 0x1234);
    trace_connect(sqdbg_disconnect, "", "x", -1);
    trace_connect(3, "a", "b", 0);
    return std::string();
  });
  std::string first("\x00q\x12\x34\x00\x50", 6);
  first += std::string(80, 'd') + std::string("\x00\x00", 2);
  const std::string second("\x00r\xff\xff\x00\x00\x00\x01x\x00", 10);
  const std::string want = format("\r\n %s (%#lx) %d\r\n", "C->S", 0UL, 88) + hex_items(first) +
                           format("\r\n %s (%#lx) %d\r\n", "C->S", 0UL, 10) + hex_items(second);
  EXPECT_EQ(read_file(dir.file("tr_" + std::to_string(run.pid))), want);
}

/* ---- Binary form ----------------------------------------------------------- */

/* Prints the file header, then one line per item: a record as tag, length,
** time and hex bytes; a fork marker as tag and pid; a version head as "n"
** and the version. */
const char *const decoder = R"(
import struct, sys
data = open(sys.argv[1], 'rb').read()
magic, one = struct.unpack_from('>4sI', data, 0)
print(magic.decode(), one)
at = 8
while at < len(data):
    tag = data[at:at + 2]; at += 2
    if tag in (b'SF', b'CF'):
        (pid,) = struct.unpack_from('>I', data, at); at += 4
        print(tag.decode(), pid)
    elif tag == b'\x00n':
        (version,) = struct.unpack_from('>H', data, at); at += 2
        print('n', version)
    else:
        n, t = struct.unpack_from('>Id', data, at); at += 12
        print(tag.decode(), n, '%.6f' % t, data[at:at + n].hex()); at += n
)";

/* The decoder's lines for a binary trace file. */
std::vector<std::string> decode(const std::string &path) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    execlp("python3", "python3", "-c", decoder, path.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "decoder failed";
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

double now_seconds() {
  timeval now {};
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec) + now.tv_usec / 1e6;
}

/* A decoded record line without its time, which must lie within 2 s of
** now. */
std::string untimed(const std::string &line, double now) {
  std::istringstream in(line);
  std::string tag, length, time, bytes;
  in >> tag >> length >> time >> bytes;
  EXPECT_LT(std::fabs(std::stod(time) - now), 2.0) << line;
  return tag + " " + length + (bytes.empty() ? "" : " " + bytes);
}

TEST(SqlTraceBinary, RecordsDecodeWithTimesOfNow) {
  TempDir dir;
  const child_run run = in_child([&] {
    set_up(("2:" + dir.path() + "/tr").c_str());
    ostcb_t *context = CheckOsInit();
    const void *pipe = record_with(0x12);
    context->fork_flag = 1;
    dump_write_buffer("\x01\x02\x03", 3, context, pipe);
    dump_read_buffer(2, "\xfe\xff", context, pipe);
    dump_read_buffer(0, nullptr, context, pipe);
    /* A negative count is an empty record, never a negative length. */
    dump_read_buffer(-5, "ignored", context, pipe);
    dump_write_buffer("ignored", -1, context, pipe);
    context->fork_flag = 0;
    dump_write_buffer("\x04", 1, context, pipe);
    dump_read_buffer(1, "\x05", context, pipe);
    trace_connect(sqdbg_connect, "ab", "abc", 7);
    return std::string();
  });
  const double now = now_seconds();
  const std::vector<std::string> lines = decode(dir.file("tr_" + std::to_string(run.pid)));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "SQLI 1");
  std::vector<std::string> records;
  for (size_t i = 1; i < lines.size(); ++i)
    records.push_back(untimed(lines[i], now));
  const std::vector<std::string> want = {
      "CS 3 010203",
      "SC 2 feff",
      "SC 0",
      "SC 0",
      "SC 1 04",
      "CS 1 05",
      "CS 14 0070000700026162000361626300",
  };
  EXPECT_EQ(records, want);
  EXPECT_EQ(run.err, "");
}

/* ---- Forked processes ------------------------------------------------------ */

struct fork_case {
  const char *name;
  const char *form; /* "1:" or "2:" */
  int fork_flag;
};

/* The traced process writes a buffer and forks; the child writes two. The
** base name is 120 bytes long: the first path has no length limit. */
TEST(SqlTraceFork, ChildWritesItsOwnFileAfterAMarkerInTheParentsFile) {
  const fork_case cases[] = {
      {"text, flag set", "1:", 1},
      {"text, flag clear", "1:", 0},
      {"binary, flag set", "2:", 1},
      {"binary, flag clear", "2:", 0},
  };
  for (const fork_case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string base = dir.file(std::string(120, 't'));
    const child_run run = in_child([&] {
      set_up((c.form + base).c_str());
      dvz_trace_setversion(400);
      ostcb_t *context = CheckOsInit();
      context->fork_flag = c.fork_flag;
      dump_write_buffer("P", 1, context, nullptr);
      const pid_t child = fork();
      if (child == 0) {
        dump_write_buffer("C", 1, context, nullptr);
        dump_write_buffer("D", 1, context, nullptr);
        _exit(0);
      }
      int status = 0;
      waitpid(child, &status, 0);
      dump_write_buffer("Q", 1, context, nullptr);
      return std::to_string(child);
    });
    const std::string parent_path = base + "_" + std::to_string(run.pid);
    const std::string child_path = parent_path + "_" + run.report;
    const std::string parent = read_file(parent_path);
    const std::string child = read_file(child_path);
    struct stat st {};
    ASSERT_EQ(stat(child_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    const bool set = c.fork_flag != 0;
    if (c.form[0] == '1') {
      const char *write_header = "\r\n %s (%#lx) %d\r\n";
      const char *label = set ? "C->S" : "S->C";
      EXPECT_EQ(parent, format(write_header, label, 0UL, 1) + hex_items("P") +
                            format("\r\n %s PID %d\r\n",
                                   set ? "S->F FORKED PROCESS" : "C->F FORKED PROCESS",
                                   std::stoi(run.report)) +
                            format(write_header, label, 0UL, 1) + hex_items("Q"));
      /* The head: 0x00 'n' and the version, kept at 311. */
      EXPECT_EQ(child, std::string("\x00n\x01\x37", 4) + format(write_header, label, 0UL, 1) +
                           hex_items("C") + format(write_header, label, 0UL, 1) + hex_items("D"));
    } else {
      const double now = now_seconds();
      const char *tag = set ? "CS" : "SC";
      const std::vector<std::string> p = decode(parent_path);
      ASSERT_EQ(p.size(), 4u);
      EXPECT_EQ(p[0], "SQLI 1");
      EXPECT_EQ(untimed(p[1], now), std::string(tag) + " 1 50");
      EXPECT_EQ(p[2], std::string(set ? "SF " : "CF ") + run.report);
      EXPECT_EQ(untimed(p[3], now), std::string(tag) + " 1 51");
      const std::vector<std::string> k = decode(child_path);
      ASSERT_EQ(k.size(), 4u);
      EXPECT_EQ(k[0], "SQLI 1");
      EXPECT_EQ(k[1], "n 311");
      EXPECT_EQ(untimed(k[2], now), std::string(tag) + " 1 43");
      EXPECT_EQ(untimed(k[3], now), std::string(tag) + " 1 44");
    }
  }
}

TEST(SqlTraceFork, EleventhProcessGrowsTheTableByTenRows) {
  TempDir dir;
  const child_run run = in_child([&] {
    set_up(("1:" + dir.path() + "/tr").c_str());
    ostcb_t *context = CheckOsInit();
    const int own_fd = _sqdbgfile;
    std::string report;
    /* Ten more processes: the first nine fill rows 1 to 9. */
    for (int pid = 900001; pid <= 900010; ++pid) {
      change_sqdbg(pid, context);
      report += format("%d:%d/%d ", pid, sqlidebug.current_row, sqlidebug.row_count);
    }
    /* A known process finds its row and its file again. */
    change_sqdbg(900003, context);
    report += format("again:%d ", sqlidebug.current_row);
    change_sqdbg(getpid(), context);
    report += format("own:%d %d", sqlidebug.current_row, _sqdbgfile == own_fd);
    return report;
  });
  std::string want;
  for (int i = 1; i <= 9; ++i)
    want += format("%d:%d/10 ", 900000 + i, i);
  want += "900010:10/20 again:3 own:0 1";
  EXPECT_EQ(run.report, want);
  EXPECT_EQ(entries(dir.path()).size(), 11u);
}

/* ---- Opening the files ----------------------------------------------------- */

TEST(SqlTraceFiles, CreatedWithMode0600ForTheRealUser) {
  TempDir dir;
  const child_run run = in_child([&] {
    umask(0);
    set_up(("2:" + dir.path() + "/tr").c_str());
    return std::string();
  });
  struct stat st {};
  ASSERT_EQ(stat(dir.file("tr_" + std::to_string(run.pid)).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_uid, getuid());
  EXPECT_EQ(st.st_gid, getgid());
}

TEST(SqlTraceFiles, SymbolicLinkAtTheNameIsNotFollowed) {
  const struct {
    const char *form;
    int mode;
    const char *err; /* {path}: the file's path */
  } cases[] = {
      {"2:", sqdbg_off, "SQLIDEBUG: Can't open file {path}.\n"},
      {"1:", sqdbg_text, "\r\n S->C (0) 1\r\n  7a"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.form);
    TempDir dir;
    const std::string target = dir.write("target", "kept");
    const child_run run = in_child([&] {
      if (symlink(target.c_str(), dir.file("tr_" + std::to_string(getpid())).c_str()) != 0)
        return std::string("no link");
      set_up((c.form + dir.path() + "/tr").c_str());
      dump_write_buffer("z", 1, CheckOsInit(), nullptr);
      return format("mode %d", _sqdbg);
    });
    EXPECT_EQ(run.report, format("mode %d", c.mode));
    EXPECT_EQ(read_file(target), "kept");
    EXPECT_EQ(run.err, replace_all(c.err, "{path}", dir.file("tr_" + std::to_string(run.pid))));
  }
}

/* Whatever was planted at the trace name before the traced process ran is
** refused: a binary trace switches off with the open message, and the
** planted file keeps its bytes, links and owner. */
TEST(SqlTraceFiles, NameTakenByAnythingButTheUsersOwnFileIsRefused) {
  struct plant_case {
    const char *name;
    /* Plants at path, given the directory's "target" file; false on failure. */
    std::function<bool(const std::string &path, const std::string &target)> plant;
  };
  std::vector<plant_case> cases = {
      {"hard link to a file of the user",
       [](const std::string &path, const std::string &target) {
         return link(target.c_str(), path.c_str()) == 0;
       }},
      {"symbolic link to a file of the user",
       [](const std::string &path, const std::string &target) {
         return symlink(target.c_str(), path.c_str()) == 0;
       }},
      {"dangling symbolic link",
       [](const std::string &path, const std::string &target) {
         return symlink((target + ".none").c_str(), path.c_str()) == 0;
       }},
      {"FIFO without a reader",
       [](const std::string &path, const std::string &) {
         return mkfifo(path.c_str(), 0600) == 0;
       }},
      {"directory",
       [](const std::string &path, const std::string &) { return mkdir(path.c_str(), 0700) == 0; }},
  };
  /* Only a privileged run can give a file away to plant another user's. */
  if (geteuid() == 0)
    cases.push_back({"file of another user", [](const std::string &path, const std::string &) {
                       const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
                       const bool ok = fd >= 0 && write(fd, "theirs", 6) == 6 &&
                                       fchown(fd, getuid() + 4242, getgid() + 4242) == 0;
                       if (fd >= 0) close(fd);
                       return ok;
                     }});
  for (const plant_case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string target = dir.write("target", "kept");
    const child_run run = in_child([&] {
      const std::string path = dir.file("tr_" + std::to_string(getpid()));
      if (!c.plant(path, target)) return std::string("not planted");
      alarm(10); /* an open that waits for a FIFO's reader ends the child */
      set_up(("2:" + dir.path() + "/tr").c_str());
      dump_write_buffer("z", 1, CheckOsInit(), nullptr);
      return format("mode %d", _sqdbg);
    });
    const std::string path = dir.file("tr_" + std::to_string(run.pid));
    EXPECT_EQ(run.report, format("mode %d", sqdbg_off));
    EXPECT_EQ(run.err, "SQLIDEBUG: Can't open file " + path + ".\n");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(read_file(target), "kept");
    EXPECT_EQ(st.st_uid, getuid());
    struct stat planted {};
    ASSERT_EQ(lstat(path.c_str(), &planted), 0);
    if (S_ISREG(planted.st_mode) && planted.st_ino != st.st_ino) {
      EXPECT_EQ(read_file(path), "theirs");
      EXPECT_EQ(planted.st_uid, getuid() + 4242);
    }
  }
}

TEST(SqlTraceFiles, UsersOwnExistingFileIsEmptiedAndTraced) {
  TempDir dir;
  const child_run run = in_child([&] {
    const std::string path = dir.file("tr_" + std::to_string(getpid()));
    dvz_test::write_file(path, std::string(100, 'x'));
    if (chmod(path.c_str(), 0640) != 0) return std::string("no chmod");
    set_up(("1:" + dir.path() + "/tr").c_str());
    dump_write_buffer("a", 1, CheckOsInit(), nullptr);
    return format("mode %d", _sqdbg);
  });
  const std::string path = dir.file("tr_" + std::to_string(run.pid));
  EXPECT_EQ(run.report, format("mode %d", sqdbg_text));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(read_file(path), format("\r\n %s (%#lx) %d\r\n", "S->C", 0UL, 1) + hex_items("a"));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, getuid());
  EXPECT_EQ(st.st_nlink, 1u);
}

TEST(SqlTraceFiles, SecondSetupInTheSameProcessOpensNothing) {
  TempDir dir;
  const child_run run = in_child([&] {
    set_up(("1:" + dir.path() + "/tr").c_str());
    dump_write_buffer("a", 1, CheckOsInit(), nullptr);
    const int before = open_descriptors();
    const int file = _sqdbgfile;
    /* Even with another setting, the process keeps its one file. */
    set_up(("2:" + dir.path() + "/other").c_str());
    return format("descriptors %+d same file %d mode %d", open_descriptors() - before,
                  _sqdbgfile == file, _sqdbg);
  });
  EXPECT_EQ(run.report, "descriptors +0 same file 1 mode 4");
  const std::string path = dir.file("tr_" + std::to_string(run.pid));
  EXPECT_EQ(entries(dir.path()), std::set<std::string> {"tr_" + std::to_string(run.pid)});
  EXPECT_EQ(read_file(path), format("\r\n %s (%#lx) %d\r\n", "S->C", 0UL, 1) + hex_items("a"));
}

}  // namespace
