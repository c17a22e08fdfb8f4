/*
** Server-driven file access over the fake association layer: scripted
** replies carrying code 98 (open, close, read, write) against real files
** in a temporary directory, the answers read back from what the client
** sent. Reads in pieces from offsets, write runs with the file's size,
** /dev/full, descriptor 0, one file at a time, long offsets of sparse
** files, and malformed requests: answered in step, or dropping the
** connection when they cannot be read in step. Through a file seam over
** the platform's calls with one call made to fail: what real files cannot
** be made to do (a refused open under any user, a read that fails after a
** piece, an interrupted or short call), for file access and the file
** helpers alike.
*/
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "asf_call.h"
#include "asf_test_support.h"
#include "current_connection.h"
#include "double_server.h"
#include "runtime_fixture.h"
#include "runtime_session.h"
#include "sqli_blob.h"
#include "sqli_errors.h"
#include "sqli_file.h"
#include "sqli_reply.h"
#include "sqli_seams.h"
#include "sqli_statement.h"
#include "sqli_status.h"
#include "temp_dir.h"
#include "wire_codec.h"

namespace {

using sqli_test::Bytes;
using sqli_test::Wire;

constexpr int32_t cap_long = 0x2000;

/* The requests of a server, each a complete message 98. */
Bytes open_request(std::string_view name, int flags, int64_t offset, bool long_form,
                   int name_length = -1) {
  Wire w;
  w.i16(98).i16(0).i16(name_length >= 0 ? name_length : static_cast<int>(name.size()));
  w.pbuf(name).i32(0600).i32(flags);
  if (long_form)
    w.int8(offset < 0 ? -1 : 1, static_cast<uint32_t>(uint64_t(offset < 0 ? -offset : offset)),
           static_cast<uint32_t>(uint64_t(offset < 0 ? -offset : offset) >> 32));
  else
    w.i32(offset);
  return w.i16(12);
}
Bytes close_request() { return Wire().i16(98).i16(1).i16(12); }
Bytes read_request(int32_t bufsize, int32_t count, bool long_form) {
  Wire w;
  w.i16(98).i16(2);
  if (long_form)
    w.i32(bufsize);
  else
    w.i16(bufsize);
  return w.i32(count).i16(12);
}
Bytes write_request(const std::vector<std::string> &chunks, int end_code = 13, int status = 0) {
  Wire w;
  w.i16(98).i16(3);
  for (const std::string &c : chunks)
    w.i16(107).i16(static_cast<int>(c.size())).pbuf(c);
  w.i16(end_code);
  if (end_code == 13) w.i16(status);
  return w;
}

/* The client's answers. */
std::string done() { return "000c"; }
std::string failure(int error) {
  return sqli_test::hex(Wire().i16(13).i16(error).i16(0).i16(0).i16(0).i16(12));
}
std::string written(int64_t size, bool long_form) {
  Wire w;
  w.i16(107);
  if (long_form)
    w.int8(1, static_cast<uint32_t>(size), static_cast<uint32_t>(uint64_t(size) >> 32));
  else
    w.i32(size);
  return sqli_test::hex(w.i16(12));
}
/* 106 and the count, one piece of each length (the file's bytes from
** start), 12. */
std::string read_answer(const std::string &file, size_t start, int32_t count,
                        const std::vector<int> &pieces, bool long_form) {
  Wire w;
  w.i16(106).i32(count);
  for (int n : pieces) {
    w.i16(106);
    if (long_form)
      w.i32(n);
    else
      w.i16(n);
    w.pbuf(std::string_view(file).substr(start, static_cast<size_t>(n)));
    start += static_cast<size_t>(n);
  }
  return sqli_test::hex(w.i16(12));
}

std::string text_of(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return s;
}

class FileAccess : public sqli_test::StartedRuntimeTest {
 protected:
  void TearDown() override {
    sqli_file_conn_gone(tcb->file_conn);
    tcb->curconn = nullptr;
    RuntimeTest::TearDown();
  }

  /* The answers the client sent, one per request, to a reply holding
  ** requests and ended by 12; dropped is set when the reply loop dropped
  ** the connection. */
  std::vector<std::string> exchange(const std::vector<Bytes> &requests, int32_t caps = 0) {
    _sqclrca(tcb);
    sqli_test::CurrentConnection s(tcb, caps);
    Bytes reply;
    for (const Bytes &r : requests)
      reply.insert(reply.end(), r.begin(), r.end());
    const Bytes end = Wire().i16(12);
    reply.insert(reply.end(), end.begin(), end.end());
    s.fake.script_reply(reply, {7}); /* fields straddle received buffers */
    sqli_cursor record {};
    _sqr_messages(&record, 0, tcb);
    dropped = s.dropped();
    aborts = s.fake.calls(asf_svc_abort);
    std::vector<std::string> answers;
    const auto &sent = s.fake.sent();
    for (size_t i = 1; i < sent.size(); ++i) /* the first is the request's end */
      answers.push_back(sqli_test::hex(sent[i]));
    return answers;
  }

  bool dropped = false;
  int aborts = 0;
  dvz_test::TempDir dir;
};

TEST_F(FileAccess, ReadsTheRestOrTheAskedCountInPiecesOfTheBufferSize) {
  const std::string content = text_of(900);
  const std::string path = dir.write("in.txt", content);
  struct Case {
    int64_t offset;
    int32_t bufsize, asked, count;
    std::vector<int> pieces;
  };
  const Case cases[] = {
      {0, 400, -1, 900, {400, 400, 100}}, /* the rest, in buffer-sized pieces */
      {900, 400, -1, 0, {}}, /* at the end: a count of 0 and no piece */
      {800, 400, 500, 100, {100}}, /* no more than the file holds */
      {0, 1000, 301, 301, {301}}, /* an odd piece with its pad */
      {1000, 400, 10, 0, {}}, /* positioned past the end */
  };
  for (bool long_form : {false, true})
    for (const Case &c : cases) {
      SCOPED_TRACE("offset " + std::to_string(c.offset) + (long_form ? " long" : ""));
      const auto answers = exchange({open_request(path, 0x10, c.offset, long_form),
                                     read_request(c.bufsize, c.asked, long_form), close_request()},
                                    long_form ? cap_long : 0);
      ASSERT_EQ(answers.size(), 3u);
      EXPECT_EQ(answers[0], done());
      EXPECT_EQ(answers[1],
                read_answer(content, static_cast<size_t>(c.offset), c.count, c.pieces, long_form));
      EXPECT_EQ(answers[2], done());
      EXPECT_FALSE(dropped);
      EXPECT_EQ(SQLCODE, 0) << "nothing is recorded in sqlca";
      EXPECT_EQ(tcb->file_fd, -1);
    }
}

TEST_F(FileAccess, WriteRunAnswersTheSizeOrTheFailure) {
  const std::string path = dir.write("out.txt", std::string(5000, 'x'));
  const std::vector<std::string> chunks = {"abc", "", std::string(32767, 'q'), "hello"};
  const std::string expected = "abc" + std::string(32767, 'q') + "hello";
  for (bool long_form : {false, true}) {
    /* 0x24: write-only, created, truncated. */
    const auto answers =
        exchange({open_request(path, 0x24, 0, long_form), write_request(chunks), close_request()},
                 long_form ? cap_long : 0);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[1], written(static_cast<int64_t>(expected.size()), long_form));
    EXPECT_EQ(dvz_test::read_file(path), expected);
  }
  /* The server's own non-zero status is the failure. */
  const auto answers = exchange({open_request(path, 0x20, 0, false), write_request({"z"}, 13, -1)});
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1], failure(-1));
  /* A read-only open (0x10 wins over 0x20) leaves the file as it was and
  ** the write fails with the platform's error. */
  const auto ro = exchange({open_request(path, 0x30, 0, false), write_request({"zz"})});
  ASSERT_EQ(ro.size(), 2u);
  EXPECT_EQ(ro[1], failure(EBADF));
  /* A new file is made with the mode asked for. */
  const std::string fresh = dir.file("fresh.txt");
  exchange({open_request(fresh, 0x20, 0, false), write_request({"n"}), close_request()});
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);
  EXPECT_EQ(dvz_test::read_file(fresh), "n");
}

TEST_F(FileAccess, FailedWritesDrainTheRunAndStayInStep) {
  /* /dev/full: every write fails; the run is read to its end, the failure
  ** carries ENOSPC, and the close after it is answered in step. */
  auto answers =
      exchange({open_request("/dev/full", 0x20, 0, false),
                write_request({"abc", std::string(40000 % 32768, 'w'), "de"}), close_request()});
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[1], failure(ENOSPC));
  EXPECT_EQ(answers[2], done());
  EXPECT_FALSE(dropped);
  /* Without an open file the run is drained too, then 9. */
  answers = exchange({write_request({"abc", "de"}), close_request()});
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0], failure(EBADF));
  EXPECT_EQ(answers[1], done());
  /* The buffer cannot be had: -406, in step. */
  const std::string path = dir.write("mem.txt", "");
  {
    sqli_test::FailingMemory memory(1);
    answers =
        exchange({open_request(path, 0x20, 0, false), write_request({"abc"}), close_request()});
  }
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[1], failure(SQLI_E_NOMEM));
  EXPECT_EQ(answers[2], done());
}

TEST_F(FileAccess, OneFileAtATimeClosedWithItsConnection) {
  const std::string a = dir.write("a.txt", "aaaa");
  const std::string b = dir.write("b.txt", "bbbbbbbb");
  const int base = asf_test::fd_count();
  /* A close without a file answers 12 alone. */
  EXPECT_EQ(exchange({close_request()}), std::vector<std::string> {done()});
  /* A second open closes the first file: one descriptor held. */
  auto answers = exchange({open_request(a, 0x10, 0, false), open_request(b, 0x10, 0, false),
                           read_request(100, -1, false)});
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[2], read_answer("bbbbbbbb", 0, 8, {8}, false));
  EXPECT_EQ(asf_test::fd_count(), base + 1);
  EXPECT_GE(tcb->file_fd, 0);
  /* A connection that did not open it leaves it; the one that did closes it. */
  sqli_conn other {};
  sqli_file_conn_gone(&other);
  EXPECT_EQ(asf_test::fd_count(), base + 1);
  sqli_file_conn_gone(tcb->file_conn);
  EXPECT_EQ(tcb->file_fd, -1);
  EXPECT_EQ(asf_test::fd_count(), base);

  /* A file opened on descriptor 0 is closed like any other. */
  const int saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  close(0);
  answers = exchange({open_request(a, 0x10, 0, false)});
  EXPECT_EQ(tcb->file_fd, 0);
  answers = exchange({close_request()});
  EXPECT_EQ(answers, std::vector<std::string> {done()});
  EXPECT_EQ(fcntl(0, F_GETFD), -1) << "descriptor 0 was closed";
  dup2(saved_stdin, 0);
  close(saved_stdin);
  EXPECT_EQ(asf_test::fd_count(), base);
}

TEST_F(FileAccess, MalformedRequestsAreAnsweredInStep) {
  const std::string path = dir.write("m.txt", "0123456789");
  const std::string long_name = dir.path() + "/" + std::string(600, 'n');
  struct Case {
    const char *what;
    Bytes request;
    std::string answer;
    int32_t caps = 0;
  };
  const Case cases[] = {
      {"600-byte name", open_request(long_name, 0x10, 0, false), failure(SQLI_E_PROTOCOL)},
      {"500-byte name", open_request(std::string(500, 'n'), 0x10, 0, false),
       failure(SQLI_E_PROTOCOL)},
      {"empty name", open_request("", 0x10, 0, false), failure(EINVAL)},
      {"embedded NUL", open_request(std::string("m.t\0xt", 6), 0x10, 0, false), failure(EINVAL)},
      {"missing file", open_request(dir.file("none"), 0x10, 0, false), failure(ENOENT)},
      {"open not ended by 12",
       Wire().i16(98).i16(0).i16(1).pbuf("x").i32(0).i32(0x10).i32(0).i16(15),
       failure(SQLI_E_PROTOCOL)},
      {"negative offset", open_request(path, 0x10, -5, false), failure(EINVAL)},
      {"NULL long offset",
       Wire().i16(98).i16(0).i16(1).pbuf("x").i32(0).i32(0x10).int8(0, 0, 0).i16(12),
       failure(-1284), cap_long},
      {"read without a file", read_request(100, -1, false), failure(EBADF)},
      {"negative buffer size", read_request(-4, -1, false), failure(SQLI_E_PROTOCOL)},
      {"zero buffer size", read_request(0, -1, false), failure(SQLI_E_PROTOCOL)},
      {"count below -1", read_request(100, -2, false), failure(SQLI_E_PROTOCOL)},
      {"close not ended by 12", Wire().i16(98).i16(1).i16(13), failure(SQLI_E_PROTOCOL)},
      {"unknown sub-operation", Wire().i16(98).i16(9), done()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const auto answers = exchange({c.request, close_request()}, c.caps);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], c.answer);
    EXPECT_EQ(answers[1], done()) << "the next request is read in step";
    EXPECT_FALSE(dropped);
    EXPECT_EQ(SQLCODE, 0);
    EXPECT_EQ(tcb->file_fd, -1);
  }
  /* A buffer above 16 MiB is refused before any allocation. */
  const auto answers = exchange(
      {open_request(path, 0x10, 0, true), read_request(16 * 1024 * 1024 + 1, -1, true)}, cap_long);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1], failure(SQLI_E_NOMEM));
  EXPECT_FALSE(dropped);
}

TEST_F(FileAccess, RequestsThatCannotBeReadInStepDropTheConnection) {
  const std::string path = dir.write("p.txt", "keep");
  struct Case {
    const char *what;
    Bytes request;
    const char *left; /* the file afterwards: data is written as it comes */
  };
  const Case cases[] = {
      {"run ended by another code", write_request({"ab"}, 12), "keepab"},
      {"negative data length", Wire().i16(98).i16(3).i16(107).i16(-2).i16(13).i16(0), "keep"},
      {"negative name length", Wire().i16(98).i16(0).i16(-3).i32(0).i32(0).i32(0).i16(12), "keep"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const auto answers = exchange({open_request(path, 0x20 | 0x02, 0, false), c.request});
    EXPECT_EQ(answers.size(), 1u) << "nothing answered";
    EXPECT_TRUE(dropped);
    EXPECT_EQ(aborts, 1);
    EXPECT_EQ(SQLCODE, SQLI_E_PROTOCOL);
    EXPECT_EQ(dvz_test::read_file(path), c.left);
    sqli_file_conn_gone(tcb->file_conn);
    dvz_test::write_file(path, "keep");
  }
  /* A reply cut anywhere inside a request never writes what did not come. */
  const Bytes run = write_request({"abcdef", "gh"});
  for (size_t cut = 0; cut < run.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    _sqclrca(tcb);
    sqli_test::CurrentConnection s(tcb, 0);
    Bytes reply = open_request(path, 0x22, 0, false);
    reply.insert(reply.end(), run.begin(), run.begin() + static_cast<long>(cut));
    s.fake.script_reply(reply);
    s.fake.fail_after(reply.size(), -25580, 0, "cut");
    sqli_cursor record {};
    _sqr_messages(&record, 0, tcb);
    EXPECT_TRUE(s.dropped());
    const std::string left = dvz_test::read_file(path);
    EXPECT_TRUE(left == "keep" || left == "keepabcdef" || left == "keepabcdefgh")
        << "only whole data messages are written: " << left;
    sqli_file_conn_gone(tcb->file_conn);
    dvz_test::write_file(path, "keep");
  }
}

TEST_F(FileAccess, LongFormHonoursOffsetsBeyondFourGiB) {
  const std::string path = dir.write("sparse.bin", "");
  constexpr int64_t far = (int64_t {5} << 30) + 3;
  {
    const int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "tail", 4, far), 4);
    close(fd);
  }
  auto answers =
      exchange({open_request(path, 0x10, far, true), read_request(64, -1, true)}, cap_long);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1], read_answer("tail", 0, 4, {4}, true));
  /* Writing there answers the size as an INT8. */
  answers = exchange({open_request(path, 0x08, far + 4, true), write_request({"more"})}, cap_long);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1], written(far + 8, true));
  int64_t size = 0;
  EXPECT_EQ(get_filesize(tcb, &size), 0);
  EXPECT_EQ(size, far + 8);
  sqli_file_conn_gone(tcb->file_conn);
  EXPECT_EQ(get_filesize(tcb, &size), -1);
  EXPECT_EQ(size, -1);
}

/* The file seam over the platform's calls, the n-th call of one kind made
** to fail with an error number, or with error 0 to move a single byte. A
** failed close has still released its descriptor, as the platform's has. */
enum class FileCall { open, lseek, read, write, close };
struct FileFault {
  FileCall call;
  int nth;
  int error;
};

class FaultyFiles {
 public:
  explicit FaultyFiles(FileFault fault) : previous_(sqli_files) {
    state() = {fault, {}};
    sqli_files = &table;
  }
  ~FaultyFiles() { sqli_files = previous_; }
  FaultyFiles(const FaultyFiles &) = delete;
  FaultyFiles &operator=(const FaultyFiles &) = delete;
  /* Calls of a kind made so far. */
  static int calls(FileCall c) { return state().calls[static_cast<size_t>(c)]; }

 private:
  struct counters {
    FileFault fault;
    std::array<int, 5> calls;
  };
  static counters &state() {
    static counters c;
    return c;
  }
  /* True when this call fails (errno set); *one_byte when it is cut short. */
  static bool hit(FileCall c, bool *one_byte = nullptr) {
    const FileFault &f = state().fault;
    if (++state().calls[static_cast<size_t>(c)] != f.nth || f.call != c) return false;
    if (f.error == 0 && one_byte != nullptr) {
      *one_byte = true;
      return false;
    }
    errno = f.error;
    return true;
  }
  static int open(const char *path, int flags, mode_t mode) {
    return hit(FileCall::open) ? -1 : sqli_system_files.open(path, flags, mode);
  }
  static int open_client(const char *name, int flags) {
    return hit(FileCall::open) ? -1 : sqli_system_files.open_client(name, flags);
  }
  static int create_client(const char *name, mode_t mode) {
    return hit(FileCall::open) ? -1 : sqli_system_files.create_client(name, mode);
  }
  static int close(int fd) {
    const bool fails = hit(FileCall::close);
    const int error = errno;
    const int rc = sqli_system_files.close(fd);
    if (fails) errno = error;
    return fails ? -1 : rc;
  }
  static ssize_t read(int fd, void *buffer, size_t count) {
    bool one_byte = false;
    if (hit(FileCall::read, &one_byte)) return -1;
    return sqli_system_files.read(fd, buffer, one_byte ? 1 : count);
  }
  static ssize_t write(int fd, const void *buffer, size_t count) {
    bool one_byte = false;
    if (hit(FileCall::write, &one_byte)) return -1;
    return sqli_system_files.write(fd, buffer, one_byte ? 1 : count);
  }
  static off_t lseek(int fd, off_t offset, int whence) {
    return hit(FileCall::lseek) ? -1 : sqli_system_files.lseek(fd, offset, whence);
  }
  static constexpr sqli_file_seam table = {open, open_client, create_client, close,
                                           read, write,       lseek};
  const sqli_file_seam *previous_;
};

TEST_F(FileAccess, FailedFileCallsAreAnsweredWithTheirErrorAndInterruptedOnesRetried) {
  const std::string path = dir.write("ten.txt", "0123456789");
  const Bytes read_all = read_request(4, -1, false);
  const std::string all = read_answer("0123456789", 0, 10, {4, 4, 2}, false);
  struct Case {
    const char *what;
    FileFault fault;
    std::vector<Bytes> requests; /* each row ends with a close, answered 12 */
    std::vector<std::string> answers;
    const char *left = "0123456789";
  };
  const Case cases[] = {
      {"open refused (not shown by real files when run as root)",
       {FileCall::open, 1, EACCES},
       {open_request(path, 0x10, 0, false), read_all},
       {failure(EACCES), failure(EBADF)}},
      {"open interrupted",
       {FileCall::open, 1, EINTR},
       {open_request(path, 0x10, 0, false), read_all},
       {done(), all}},
      {"positioning after the open fails: the file is not kept",
       {FileCall::lseek, 1, EIO},
       {open_request(path, 0x10, 0, false), read_all},
       {failure(EIO), failure(EBADF)}},
      {"the position before a read cannot be had",
       {FileCall::lseek, 2, EIO},
       {open_request(path, 0x10, 0, false), read_all},
       {done(), failure(EIO)}},
      {"a read fails after the first piece was sent",
       {FileCall::read, 2, EIO},
       {open_request(path, 0x10, 0, false), read_all},
       {done(), sqli_test::hex(Wire()
                                   .i16(106)
                                   .i32(10)
                                   .i16(106)
                                   .i16(4)
                                   .pbuf("0123")
                                   .i16(13)
                                   .i16(EIO)
                                   .i16(0)
                                   .i16(0)
                                   .i16(0)
                                   .i16(12))}},
      {"a read interrupted",
       {FileCall::read, 2, EINTR},
       {open_request(path, 0x10, 0, false), read_all},
       {done(), all}},
      {"a short read is a smaller piece",
       {FileCall::read, 1, 0},
       {open_request(path, 0x10, 0, false), read_all},
       {done(), read_answer("0123456789", 0, 10, {1, 4, 4, 1}, false)}},
      {"a write fails",
       {FileCall::write, 1, EIO},
       {open_request(path, 0x20, 0, false), write_request({"ab"})},
       {done(), failure(EIO)},
       "0123456789"},
      {"a write interrupted",
       {FileCall::write, 1, EINTR},
       {open_request(path, 0x20, 0, false), write_request({"ab"})},
       {done(), written(10, false)},
       "ab23456789"},
      {"a short write is continued",
       {FileCall::write, 1, 0},
       {open_request(path, 0x24, 0, false), write_request({"abcdef"})},
       {done(), written(6, false)},
       "abcdef"},
      {"a failed close still lets the file go",
       {FileCall::close, 1, EIO},
       {open_request(path, 0x10, 0, false)},
       {done()}},
  };
  const int base = asf_test::fd_count();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    dvz_test::write_file(path, "0123456789");
    std::vector<std::string> answers;
    {
      FaultyFiles files(c.fault);
      std::vector<Bytes> requests = c.requests;
      requests.push_back(close_request());
      answers = exchange(requests);
    }
    std::vector<std::string> expected = c.answers;
    expected.push_back(done());
    EXPECT_EQ(answers, expected);
    EXPECT_FALSE(dropped);
    EXPECT_EQ(SQLCODE, 0) << "nothing is recorded in sqlca";
    EXPECT_EQ(tcb->file_fd, -1);
    EXPECT_EQ(asf_test::fd_count(), base);
    EXPECT_EQ(dvz_test::read_file(path), c.left);
  }
}

TEST_F(FileAccess, FileHelpersRecordTheirErrorsFromTheSeam) {
  const std::string path = dir.write("h.txt", "helper");
  {
    FaultyFiles files({FileCall::open, 1, EACCES});
    _sqclrca(tcb);
    EXPECT_LT(_sqfilopen(path.c_str(), 1), 0);
    EXPECT_EQ(SQLCODE, SQLI_E_NOFILE);
  }
  {
    FaultyFiles files({FileCall::read, 1, EIO});
    _sqclrca(tcb);
    const int fd = _sqfilopen(path.c_str(), 1);
    ASSERT_GE(fd, 0);
    char buffer[16];
    int got = -1;
    EXPECT_EQ(_sqfilread(fd, buffer, sizeof buffer, &got), -1);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(SQLCODE, SQLI_E_FILEREAD);
    EXPECT_EQ(_sqfilread(fd, buffer, sizeof buffer, &got), 0) << "the next read is the platform's";
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(got)), "helper");
    _sqclrca(tcb);
    EXPECT_EQ(_sqfilclose(fd), 0);
  }
  {
    /* A short write is continued; a failed close records its error. */
    FaultyFiles files({FileCall::write, 1, 0});
    _sqclrca(tcb);
    const int fd = _sqfilopen(path.c_str(), 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_sqfilwrite(fd, "created", 7), 0);
    EXPECT_EQ(FaultyFiles::calls(FileCall::write), 2);
    EXPECT_EQ(_sqfilclose(fd), 0);
    EXPECT_EQ(dvz_test::read_file(path), "created");
    EXPECT_EQ(SQLCODE, 0);
  }
  {
    FaultyFiles files({FileCall::close, 1, EIO});
    _sqclrca(tcb);
    const int fd = _sqfilopen(path.c_str(), 1);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_sqfilclose(fd), -1);
    EXPECT_EQ(SQLCODE, SQLI_E_FILECLOSE);
  }
}

/* Against the SQLI server double: a statement whose reply writes a file
** and reads it back, the answers journaled by the double, and the file
** still open at the end closed with the connection. */
class FileAccessDouble : public sqli_test::RuntimeSessionTest {};

TEST_F(FileAccessDouble, AnswersReachTheServerAndDisconnectClosesTheFile) {
  dvz_test::TempDir dir;
  const std::string path = dir.write("unload.txt", "stale contents");
  const std::string scenario = R"({"rules": [{"text": "unload to f", "reply": [
      {"kind": "file", "op": "open", "name": ")" +
                               path + R"(", "flags": 36},
      {"kind": "file", "op": "write", "chunks": ["abc", "defg"]},
      {"kind": "file", "op": "open", "name": ")" +
                               path + R"(", "flags": 16, "offset": 1},
      {"kind": "file", "op": "read", "buffer": 4, "count": -1},
      {"kind": "done", "rows": 1}, {"kind": "end"}]}]})";
  sqli_test::DoubleServer d({"--profile", "minimal"}, scenario);
  const int base = asf_test::fd_count();
  connect(d);
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  sqli_stmtrec rec {};
  const char *pieces[] = {"unload to f", nullptr};
  ASSERT_EQ(sqli_stmt(1, &rec, pieces, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0), 0)
      << sqlca.sqlerrm;
  EXPECT_EQ(dvz_test::read_file(path), "abcdefg");
  std::vector<std::string> codes;
  std::string data;
  for (const auto &e : d.entries("sqli"))
    if (e.get("answer") == "98") {
      codes.push_back(e.get("code"));
      if (e.has("data")) data += e.get("data");
    }
  EXPECT_EQ(codes, (std::vector<std::string> {"12", "107", "12", "12", "106", "106", "106", "12"}));
  EXPECT_EQ(data, sqli_test::hex(Wire().raw(std::string_view("bcdefg"))));
  EXPECT_GE(tcb->file_fd, 0) << "the server never closed it";
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
  EXPECT_EQ(tcb->file_fd, -1);
  EXPECT_EQ(asf_test::settled_fd_count(base), base) << "the file and the socket are closed";
}

TEST(FileAccessFlags, AccessBitsTakePrecedenceAndModifiersAdd) {
  struct Case {
    int server;
    int platform;
  };
  const Case cases[] = {
      {0x00, O_RDONLY},
      {0x30, O_RDONLY},
      {0x18, O_RDONLY},
      {0x28, O_WRONLY | O_CREAT},
      {0x24, O_WRONLY | O_CREAT | O_TRUNC},
      {0x0A, O_RDWR | O_CREAT | O_APPEND},
      {0x21, O_WRONLY | O_CREAT | O_EXCL},
  };
  for (const Case &c : cases)
    EXPECT_EQ(conv_to_system(c.server), c.platform) << std::hex << c.server;
}

}  // namespace
