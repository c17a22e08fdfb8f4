/*
** Locator I/O and the blob buffers: memory locators (the runtime's buffer
** and the program's, bounded by both size and buffer), named files
** (truncate, append, trailing blanks, bad names), the program's
** descriptors (/dev/full), the program's own functions and their errors,
** and the chunked conversion of TEXT checked against glibc's iconv of
** the whole text, with characters split across chunks.
*/
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "gl_conv.h"
#include "runtime_fixture.h"
#include "sqli_blob.h"
#include "sqli_errors.h"
#include "sqli_status.h"
#include "temp_dir.h"

namespace {

constexpr int32_t byte_type = 11;
constexpr int32_t text_type = 12;

/* glibc's conversion of a whole text: the peer. */
std::string glibc_iconv(const char *to, const char *from, const std::string &in) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(in.size() * 4 + 4, '\0');
  char *ip = const_cast<char *>(in.data());
  size_t inleft = in.size();
  char *op = out.data();
  size_t outleft = out.size();
  EXPECT_NE(iconv(cd, &ip, &inleft, &op, &outleft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outleft);
  return out;
}

class Locators : public sqli_test::StartedRuntimeTest {
 protected:
  loc_t memory(int32_t buffer_size, char *buffer, int32_t size = 0) {
    loc_t loc {};
    loc.kind = loc_in_memory;
    loc.u.mem.buffer_size = buffer_size;
    loc.u.mem.buffer = buffer;
    loc.size = size;
    loc.sql_type = byte_type;
    return loc;
  }
  loc_t named(const std::string &name, int32_t flags = 0) {
    loc_t loc {};
    loc.kind = loc_in_file;
    names.push_back(name);
    loc.u.file.file_name = names.back().data();
    loc.u.file.file_fd = -1;
    loc.open_flags = flags;
    loc.sql_type = byte_type;
    return loc;
  }
  /* Receives value into loc as the receiving path does: open for writing,
  ** the size growing with each piece before it is written, close. */
  int receive(loc_t *loc, const std::string &value, size_t piece) {
    if (_sqlocopen(loc, loc_open_write, static_cast<int>(value.size())) != 0) return -1;
    for (size_t at = 0; at < value.size(); at += piece) {
      std::string part = value.substr(at, piece);
      if (loc->size != -1) loc->size += static_cast<int32_t>(part.size());
      if (_sqlocwrite(loc, part.data(), static_cast<int>(part.size())) != 0) return -1;
    }
    return _sqlocclose(loc);
  }
  /* Sends what loc holds as the sending path does, in pieces of piece. */
  std::string send(loc_t *loc, int piece) {
    std::string out;
    EXPECT_EQ(_sqlocopen(loc, loc_open_read, 0), 0);
    std::vector<char> buf(static_cast<size_t>(piece));
    for (;;) {
      int n = -1;
      EXPECT_EQ(_sqlocread(loc, buf.data(), piece, &n), 0);
      if (n <= 0) break;
      out.append(buf.data(), static_cast<size_t>(n));
    }
    EXPECT_EQ(_sqlocclose(loc), 0);
    return out;
  }

  std::vector<std::string> names;
  dvz_test::TempDir dir;
};

TEST_F(Locators, RuntimeMemoryBufferIsSizedReusedAndGrown) {
  loc_t loc = memory(-1, nullptr);
  /* An empty value leaves no buffer. */
  ASSERT_EQ(receive(&loc, "", 10), 0);
  EXPECT_EQ(loc.u.mem.buffer, nullptr);
  EXPECT_EQ(loc.u.mem.buffer_size, 0);
  EXPECT_EQ(loc.size, 0);
  /* A value is received into a buffer of the runtime, then sent back. */
  loc = memory(-1, nullptr);
  const std::string value = "0123456789abcdefghij";
  ASSERT_EQ(receive(&loc, value, 7), 0);
  EXPECT_EQ(loc.size, 20);
  EXPECT_EQ(loc.u.mem.buffer_size, 20);
  EXPECT_EQ(loc.u.mem.memory_flags & 1, 1);
  EXPECT_EQ(loc.open_flags & 3, loc_open_write);
  EXPECT_EQ(send(&loc, 8), value);
  EXPECT_EQ(loc.open_flags & 3, loc_open_read);
  /* A smaller value reuses it; a larger one replaces it. */
  char *first = loc.u.mem.buffer;
  loc.size = 0;
  ASSERT_EQ(receive(&loc, "abc", 2), 0);
  EXPECT_EQ(loc.u.mem.buffer, first);
  EXPECT_EQ(loc.size, 3);
  loc.size = 0;
  const std::string larger(100, 'L');
  ASSERT_EQ(receive(&loc, larger, 33), 0);
  EXPECT_EQ(loc.u.mem.buffer_size, 100);
  EXPECT_EQ(std::string(loc.u.mem.buffer, 100), larger);
  std::free(loc.u.mem.buffer); /* the program frees what the runtime made */
}

TEST_F(Locators, MemoryWritesAreBoundedByTheBufferAndTheSize) {
  char small[8] = {};
  /* A program buffer smaller than the value: -451 with the size needed. */
  loc_t loc = memory(8, small);
  EXPECT_EQ(_sqlocopen(&loc, loc_open_write, 9), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_LOCSIZE);
  EXPECT_EQ(loc.status, SQLI_E_LOCSIZE);
  EXPECT_EQ(loc.indicator, 9);
  /* A negative value size is refused before anything is allocated. */
  loc = memory(-1, nullptr);
  EXPECT_EQ(_sqlocopen(&loc, loc_open_write, -5), -1);
  EXPECT_EQ(loc.status, SQLI_E_LOCSIZE);
  EXPECT_EQ(loc.u.mem.buffer, nullptr);
  /* No buffer at all, for a value of some bytes. */
  loc = memory(8, nullptr);
  EXPECT_EQ(_sqlocopen(&loc, loc_open_write, 1), -1);
  /* size -1 does not lift the buffer's bound: the write fails whole. */
  loc = memory(8, small);
  ASSERT_EQ(_sqlocopen(&loc, loc_open_write, 4), 0);
  loc.size = -1;
  char nine[] = "123456789";
  EXPECT_EQ(_sqlocwrite(&loc, nine, 9), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_LOCSIZE);
  EXPECT_EQ(std::string(small, 8), std::string(8, '\0')) << "nothing written";
  EXPECT_EQ(loc.transferred, 0);
  /* A write beyond size fails, the bytes before it stay. */
  loc = memory(8, small);
  ASSERT_EQ(_sqlocopen(&loc, loc_open_write, 4), 0);
  loc.size = 3;
  EXPECT_EQ(_sqlocwrite(&loc, nine, 3), 0);
  EXPECT_EQ(_sqlocwrite(&loc, nine, 1), -1);
  EXPECT_EQ(std::string(small, 3), "123");
  /* Sending: size must be 0 to buffer_size; reads stop at size. */
  for (int32_t bad : {-1, 9}) {
    loc = memory(8, small, bad);
    EXPECT_EQ(_sqlocopen(&loc, loc_open_read, 0), -1) << bad;
    EXPECT_EQ(loc.status, SQLI_E_LOCSIZE);
  }
  loc = memory(8, small, 2);
  EXPECT_EQ(send(&loc, 5), "12");
  EXPECT_EQ(loc.size, 2);
  /* The runtime's buffer cannot be had. */
  {
    sqli_test::FailingMemory failing(1);
    loc = memory(-1, nullptr);
    EXPECT_EQ(_sqlocopen(&loc, loc_open_write, 10), -1);
  }
  EXPECT_EQ(SQLCODE, SQLI_E_LOCMEM);
}

TEST_F(Locators, NamedFilesAreTruncatedOrAppendedAndNamesChecked) {
  const std::string path = dir.write("value.bin", "old contents");
  /* Trailing blanks of the name are ignored. */
  loc_t loc = named(path + "   ");
  loc.size = -1;
  ASSERT_EQ(receive(&loc, "fresh", 2), 0);
  EXPECT_EQ(dvz_test::read_file(path), "fresh");
  EXPECT_EQ(loc.u.file.file_fd, -1);
  EXPECT_EQ(loc.size, 5);
  /* Append: the end is noted and the value goes after it. */
  loc = named(path, 0x4);
  loc.size = -1;
  ASSERT_EQ(receive(&loc, "+more", 3), 0);
  EXPECT_EQ(loc.u.file.file_position, 5);
  EXPECT_EQ(dvz_test::read_file(path), "fresh+more");
  /* An append to a file that does not exist makes it, mode 0600. */
  const std::string made = dir.file("made.bin");
  loc = named(made, 0x4);
  loc.size = -1;
  ASSERT_EQ(receive(&loc, "m", 1), 0);
  EXPECT_EQ(dvz_test::read_file(made), "m");
  EXPECT_EQ(access(made.c_str(), R_OK), 0);
  /* Read back whole, in pieces. */
  loc = named(path);
  loc.size = -1;
  EXPECT_EQ(send(&loc, 3), "fresh+more");
  /* Names: empty, blank, 261 bytes, missing; size below -1. */
  struct Case {
    std::string name;
    int mode;
    int32_t size;
    int error;
  };
  const Case cases[] = {
      {"", loc_open_read, -1, SQLI_E_NOFILE},
      {"    ", loc_open_write, -1, SQLI_E_NOFILE},
      {std::string(261, 'n'), loc_open_write, -1, SQLI_E_NOFILE},
      {dir.file("missing"), loc_open_read, -1, SQLI_E_NOFILE},
      {path, loc_open_read, -2, SQLI_E_LOCSIZE},
  };
  for (const Case &c : cases) {
    loc = named(c.name);
    loc.size = c.size;
    EXPECT_EQ(_sqlocopen(&loc, c.mode, 0), -1) << c.name.size();
    EXPECT_EQ(SQLCODE, c.error);
    EXPECT_EQ(loc.status, c.error);
    EXPECT_EQ(loc.u.file.file_fd, -1);
  }
}

TEST_F(Locators, ProgramDescriptorsAndWriteFailures) {
  loc_t loc {};
  loc.kind = loc_in_fd;
  loc.size = -1;
  loc.u.file.file_fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(loc.u.file.file_fd, 0);
  ASSERT_EQ(_sqlocopen(&loc, loc_open_write, 0), 0);
  char bytes[] = "abc";
  EXPECT_EQ(_sqlocwrite(&loc, bytes, 3), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_FILEWRITE);
  EXPECT_EQ(_sqlocclose(&loc), 0) << "the program's descriptor stays open";
  EXPECT_GE(fcntl(loc.u.file.file_fd, F_GETFD), 0);
  close(loc.u.file.file_fd);
  /* Reading a descriptor opened for writing fails with -463. */
  loc.u.file.file_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_EQ(_sqlocopen(&loc, loc_open_read, 0), 0);
  int n = -1;
  EXPECT_EQ(_sqlocread(&loc, bytes, 3, &n), -1);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(SQLCODE, SQLI_E_FILEREAD);
  close(loc.u.file.file_fd);
  /* Append on the program's descriptor notes the end. */
  const std::string path = dir.write("fd.bin", "12345");
  loc.u.file.file_fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  loc.open_flags = 0x4;
  loc.size = -1; /* the close before made it the bytes moved */
  ASSERT_EQ(_sqlocopen(&loc, loc_open_write, 0), 0);
  EXPECT_EQ(loc.u.file.file_position, 5);
  EXPECT_EQ(_sqlocwrite(&loc, bytes, 3), 0);
  EXPECT_EQ(dvz_test::read_file(path), "12345abc");
  close(loc.u.file.file_fd);
  /* A kind that is none of the four. */
  loc.kind = 9;
  EXPECT_EQ(_sqlocopen(&loc, loc_open_read, 0), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_LOCKIND);
}

/* The program's functions: each may fail with its own value. */
struct UserState {
  int fail_open = 0, fail_close = 0, fail_read = 0, fail_write = 0;
  std::string data;
  size_t at = 0;
};
UserState &user(loc_t *loc) { return *reinterpret_cast<UserState *>(loc->user_data); }
int user_open(loc_t *loc, int, int) { return user(loc).fail_open; }
int user_close(loc_t *loc) { return user(loc).fail_close; }
int user_read(loc_t *loc, char *buffer, int count) {
  UserState &u = user(loc);
  if (u.fail_read != 0) return u.fail_read;
  const size_t n = std::min(static_cast<size_t>(count), u.data.size() - u.at);
  std::memcpy(buffer, u.data.data() + u.at, n);
  u.at += n;
  return static_cast<int>(n);
}
int user_write(loc_t *loc, char *buffer, int count) {
  UserState &u = user(loc);
  if (u.fail_write != 0) return u.fail_write;
  u.data.append(buffer, static_cast<size_t>(count));
  return count;
}

TEST_F(Locators, ProgramFunctionsMoveTheValueAndReportTheirOwnErrors) {
  UserState state;
  loc_t loc {};
  loc.kind = loc_in_user;
  loc.size = -1;
  loc.user_data = reinterpret_cast<char *>(&state);
  loc.open_fn = user_open;
  loc.close_fn = user_close;
  loc.read_fn = user_read;
  loc.write_fn = user_write;
  ASSERT_EQ(receive(&loc, "through the program", 4), 0);
  EXPECT_EQ(state.data, "through the program");
  EXPECT_EQ(loc.size, 19);
  loc.size = -1;
  EXPECT_EQ(send(&loc, 6), "through the program");

  struct Case {
    int UserState::*which;
    int error;
  };
  const Case cases[] = {{&UserState::fail_open, SQLI_E_LOCOPEN},
                        {&UserState::fail_close, SQLI_E_LOCCLOSE},
                        {&UserState::fail_read, SQLI_E_LOCREAD},
                        {&UserState::fail_write, SQLI_E_LOCWRITE}};
  for (const Case &c : cases) {
    state = UserState {};
    state.*c.which = -77;
    state.data = "xy";
    loc.size = -1;
    _sqclrca(tcb);
    int result = _sqlocopen(&loc, loc_open_read, 0);
    char buf[4];
    int n = 0;
    if (result == 0) result = _sqlocread(&loc, buf, 4, &n);
    if (result == 0) result = _sqlocwrite(&loc, buf, 1);
    if (result == 0) result = _sqlocclose(&loc);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(SQLCODE, c.error);
    EXPECT_EQ(sqlca.sqlerrd[1], -77) << "the function's value is the second error word";
    EXPECT_EQ(loc.status, c.error);
  }
}

class TextConversion : public Locators {};

/* A TEXT value converted chunk by chunk, each chunk cut at every size,
** matches glibc's conversion of the whole text. */
TEST_F(TextConversion, ChunkedConversionMatchesGlibcAcrossCharacterBoundaries) {
  oslib_test::Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  std::string utf8;
  for (int i = 0; i < 700; ++i)
    utf8 += i % 3 == 0 ? "\xC3\xA9" : (i % 3 == 1 ? "a\xC3\xBC" : "\xC3\x9F");
  const std::string expected = glibc_iconv("ISO-8859-1", "UTF-8", utf8);
  ASSERT_FALSE(expected.empty());
  ASSERT_EQ(blob_buffer(tcb), 0);
  for (size_t chunk : {1u, 2u, 3u, 5u, 511u, 1024u}) {
    SCOPED_TRACE("chunk " + std::to_string(chunk));
    std::string out;
    char left[sqli_blob_leftover_max] = {};
    int nleft = 0;
    for (size_t at = 0; at < utf8.size(); at += chunk) {
      /* The left-over bytes go first, as the sending loop places them. */
      std::string in(left, static_cast<size_t>(nleft));
      in += utf8.substr(at, chunk);
      int outlen = -1;
      char *conv = tcb->blob_convbuf + sqli_blob_header;
      ASSERT_EQ(gcv_blob_buffer(cv.get(), in.data(), static_cast<int>(in.size()), conv, &outlen,
                                left, &nleft),
                0);
      out.append(conv, static_cast<size_t>(outlen));
    }
    EXPECT_EQ(nleft, 0);
    EXPECT_EQ(out, expected);
  }
  /* The context's buffers carry the chunk code. */
  EXPECT_EQ(std::string(tcb->blob_buffer, 2), std::string("\0\x27", 2));
  EXPECT_EQ(std::string(tcb->blob_convbuf, 2), std::string("\0\x27", 2));
}

TEST_F(TextConversion, IncompleteAndInvalidCharacters) {
  oslib_test::Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  char out[sqli_blob_conv_size];
  char left[sqli_blob_leftover_max];
  int outlen = 0, nleft = 0;
  /* An incomplete last character stays over. */
  EXPECT_EQ(gcv_blob_buffer(cv.get(), "ab\xC3", 3, out, &outlen, left, &nleft), 0);
  EXPECT_EQ(std::string(out, static_cast<size_t>(outlen)), "ab");
  ASSERT_EQ(nleft, 1);
  EXPECT_EQ(left[0], '\xC3');
  /* A character without a conversion, or bytes that are none, fail. */
  EXPECT_EQ(gcv_blob_buffer(cv.get(), "a\xE2\x82\xAC", 4, out, &outlen, left, &nleft), -1);
  EXPECT_EQ(gcv_blob_buffer(cv.get(), "a\xFF", 2, out, &outlen, left, &nleft), -1);
}

TEST_F(TextConversion, ReceivedTextBufferAllowsForExpansion) {
  oslib_test::Latin1ToUtf8 cv;
  ASSERT_NE(cv.get(), nullptr);
  oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_db_client, cv.get()};
  const double factor = gl_iconv_expansion(cv.get());
  ASSERT_GT(factor, 1.0);
  loc_t loc = memory(-1, nullptr);
  loc.sql_type = text_type;
  ASSERT_EQ(_sqlocopen(&loc, loc_open_write, 10), 0);
  EXPECT_EQ(loc.u.mem.buffer_size, static_cast<int32_t>(std::ceil(10 * factor)));
  std::free(loc.u.mem.buffer);
  /* A program buffer that holds the value but not its expansion. */
  char buf[10];
  loc = memory(10, buf);
  loc.sql_type = text_type;
  EXPECT_EQ(_sqlocopen(&loc, loc_open_write, 10), -1);
  EXPECT_EQ(loc.indicator, static_cast<int32_t>(std::ceil(10 * factor)));
  /* BYTE values are never converted. */
  loc = memory(10, buf);
  EXPECT_EQ(_sqlocopen(&loc, loc_open_write, 10), 0);
}

}  // namespace
