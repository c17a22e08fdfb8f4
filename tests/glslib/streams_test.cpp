/*
** Characters and lines through the host's streams: what a read reports at
** the end of the stream, inside a character, on a stream error and on a
** read of -1 with neither flag set; lines that do not fit and last lines
** without a newline (the buffer is terminated after what was read); and
** writes, short host writes included. Streams are memory streams; the
** misbehaving host services are doubles in the host-service table.
*/
#include "ctype_fixtures.h"
#include "gl_strings.h"
#include "mem_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace lcotest;
using glstest::MemStream;
using glstest::ScopedSlot;

/* A stream that collects what is written to it. */
class Sink {
 public:
  Sink() : stream_(open_memstream(&data_, &size_)) { EXPECT_NE(stream_, nullptr); }
  ~Sink() {
    std::fclose(stream_);
    std::free(data_);
  }
  Sink(const Sink &) = delete;
  Sink &operator=(const Sink &) = delete;
  FILE *get() const { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(data_, size_);
  }

 private:
  char *data_ = nullptr;
  std::size_t size_ = 0;
  FILE *stream_;
};

/* Host doubles: a read that gives -1 without setting either flag, a stream
** whose error flag is set, a write that writes one item fewer. */
int eof_without_flags(FILE *) { return -1; }
int error_flag_set(FILE *) { return 1; }
size_t short_fwrite(const void *data, size_t size, size_t count, FILE *stream) {
  return count == 0 ? 0 : std::fwrite(data, size, count - 1, stream);
}

/* A writer callback that fails at its fail_at-th call (0: never). */
struct CountingWriter {
  static inline std::string written;
  static inline int calls = 0;
  static inline int fail_at = 0;
  static void reset(int fail) {
    written.clear();
    calls = 0;
    fail_at = fail;
  }
  static int write(int byte, FILE *) {
    if (++calls == fail_at) return -1;
    written.push_back(static_cast<char>(byte));
    return byte;
  }
};

std::string bytes_of(const unsigned char *p, int n) {
  return std::string(reinterpret_cast<const char *>(p), n);
}

TEST_F(TwoByteCharacters, ReadsOneCharacterOrSaysWhyNot) {
  struct Case {
    std::string input;
    int length; /* gl_full_fgetmb */
    gl_wchar wc; /* gl_full_fgetwc */
    int error;
  };
  const gl_wchar none = static_cast<gl_wchar>(-1);
  const Case cases[] = {
      {std::string("\0A", 2), 2, 0x41, 0},
      {"\x30\x42", 2, 0x3042, 0},
      {std::string("\0\0", 2), 2, 0, 0}, /* the null character */
      {"", -1, none, GL_EEOF},
      {std::string("\0", 1), -1, none, GL_EINVAL}, /* the stream ends inside it */
      {std::string("\x07\0", 2), -1, none, GL_EILSEQ},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    MemStream for_mb(c.input);
    unsigned char buf[4] = {};
    r->error = 0;
    EXPECT_EQ(gl_full_fgetmb(r.get(), buf, for_mb.get()), c.length);
    EXPECT_EQ(err(), c.error);
    if (c.length > 0) {
      EXPECT_EQ(bytes_of(buf, c.length), c.input);
    }
    MemStream for_wc(c.input);
    r->error = 0;
    EXPECT_EQ(gl_full_fgetwc(r.get(), for_wc.get()), c.wc);
    EXPECT_EQ(err(), c.error);
  }

  MemStream invalid(std::string("\x07\0", 2));
  unsigned char buf[4] = {};
  int len = -1;
  EXPECT_EQ(gl_getmb(r.get(), buf, local_fgetc, invalid.get(), &len), -1);
  EXPECT_EQ(len, 1) << "the bytes read";
  MemStream empty("");
  EXPECT_EQ(gl_getmb(r.get(), buf, local_fgetc, empty.get(), &len), -1);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(err(), GL_EEOF);
}

TEST_F(TwoByteCharacters, ReadFailuresOfTheHostAreTold) {
  unsigned char buf[4] = {};
  {
    ScopedSlot fgetc(GL_EXT_FGETC, eof_without_flags);
    MemStream stream(std::string("\0A", 2));
    EXPECT_EQ(gl_full_fgetwc(r.get(), stream.get()), static_cast<gl_wchar>(-1));
    EXPECT_EQ(err(), GL_ESTRANGEEOF) << "-1 with neither flag set";
    r->error = 0;
    EXPECT_EQ(gl_full_fgetmb(r.get(), buf, stream.get()), -1);
    EXPECT_EQ(err(), GL_EEOF);
  }
  ScopedSlot fgetc(GL_EXT_FGETC, eof_without_flags);
  ScopedSlot ferror(GL_EXT_FERROR, error_flag_set);
  MemStream stream(std::string("\0A", 2));
  EXPECT_EQ(gl_full_fgetwc(r.get(), stream.get()), static_cast<gl_wchar>(-1));
  EXPECT_EQ(err(), GL_EIO);
  r->error = 0;
  EXPECT_EQ(gl_full_fgetmb(r.get(), buf, stream.get()), -1);
  EXPECT_EQ(err(), GL_EIO);
  r->error = 0;
  unsigned char line[8];
  EXPECT_EQ(gl_fgetmbs(r.get(), line, 8, stream.get()), nullptr);
  EXPECT_EQ(err(), GL_EIO);
}

TEST_F(TwoByteCharacters, LinesAreReadAndAlwaysTerminated) {
  struct Case {
    const char *what;
    std::string input;
    int size;
    bool returned; /* buf, not NULL */
    int error;
    std::string buffer; /* its start afterwards */
  };
  const std::string nl("\0\n", 2), term("\0\0", 2), a("\0A", 2), b("\0B", 2);
  const Case cases[] = {
      {"a line", a + nl + b, 16, true, 0, a + nl + term},
      {"exactly fits", a + nl, 6, true, 0, a + nl + term},
      {"newline does not fit", a + nl, 5, false, GL_E2BIG, a + term},
      {"last line without newline", b, 16, false, GL_EEOF, b + term},
      {"end of file at once", "", 16, false, GL_EEOF, term},
      {"end inside a character", a + std::string("\0", 1), 16, false, GL_EINVAL, a + term},
      {"invalid character", a + "\x07\x07", 16, false, GL_EILSEQ, a + term},
      {"no room for a terminator", a, 1, false, GL_E2BIG, "##"},
  };
  for (const Case &c : cases) {
    MemStream stream(c.input);
    std::string buf(16, '#');
    auto *p = reinterpret_cast<unsigned char *>(buf.data());
    r->error = 0;
    EXPECT_EQ(gl_fgetmbs(r.get(), p, c.size, stream.get()), c.returned ? p : nullptr) << c.what;
    EXPECT_EQ(err(), c.error) << c.what;
    EXPECT_EQ(buf.substr(0, c.buffer.size()), c.buffer) << c.what;
  }

  MemStream two_lines(a + nl + b + nl);
  std::vector<gl_wchar> wide(4, 0x7777);
  EXPECT_EQ(gl_fgetwcs(r.get(), wide.data(), 3, two_lines.get()), wide.data());
  EXPECT_EQ(wide, (std::vector<gl_wchar> {'A', '\n', 0, 0x7777}));
  EXPECT_EQ(gl_fgetwcs(r.get(), wide.data(), 2, two_lines.get()), nullptr)
      << "the newline and the 0 must fit";
  EXPECT_EQ(err(), GL_E2BIG);
  EXPECT_EQ(wide, (std::vector<gl_wchar> {'B', 0, 0, 0x7777}));
  r->error = 0;
  MemStream last(b);
  EXPECT_EQ(gl_fgetwcs(r.get(), wide.data(), 4, last.get()), nullptr);
  EXPECT_EQ(err(), GL_EEOF);
  EXPECT_EQ(wide, (std::vector<gl_wchar> {'B', 0, 0, 0x7777}));
}

TEST_F(SingleByteCharacters, LinesTakeByteFFAsACharacterUnlessAtTheEnd) {
  MemStream stream("ab\xff\ncd");
  std::string buf(8, '#');
  auto *p = reinterpret_cast<unsigned char *>(buf.data());
  EXPECT_EQ(gl_fgetmbs(r.get(), p, 8, stream.get()), p);
  EXPECT_EQ(buf.substr(0, 6), std::string("ab\xff\n\0#", 6));
  EXPECT_EQ(gl_fgetmbs(r.get(), p, 8, stream.get()), nullptr);
  EXPECT_EQ(r->error, GL_EEOF);
  EXPECT_EQ(buf.substr(0, 3), std::string("cd\0", 3)) << "terminated after what was read";

  /* A -1 with neither flag set is not the end: it reads as 0xFF. */
  MemStream unread("x");
  ScopedSlot fgetc(GL_EXT_FGETC, eof_without_flags);
  r->error = 0;
  EXPECT_EQ(gl_fgetmbs(r.get(), p, 4, unread.get()), nullptr);
  EXPECT_EQ(r->error, GL_E2BIG);
  EXPECT_EQ(buf.substr(0, 4), std::string("\xff\xff\xff\0", 4));
}

TEST_F(TwoByteCharacters, WritesCharactersAndStrings) {
  Sink sink;
  const std::string a("\0A", 2);
  EXPECT_EQ(gl_fputmb(r.get(), u(a.data()), sink.get()), u(a.data()));
  EXPECT_EQ(gl_fputwc(r.get(), 0x3042, sink.get()), 0x3042u);
  EXPECT_EQ(gl_fputwc(r.get(), 0, sink.get()), 0u) << "the null character: two zero bytes";
  const Wide line = wide({'a', ' ', '\n'});
  EXPECT_EQ(gl_fputwcs(r.get(), line.data(), sink.get()), 0);
  const std::string text("\0b\0c\0\0", 6);
  EXPECT_EQ(gl_fputmbs(r.get(), u(text.data()), sink.get()), 0);
  EXPECT_EQ(err(), 0);
  EXPECT_EQ(sink.text(), a + "\x30\x42" + std::string("\0\0\0a\0 \0\n\0b\0c", 12));

  EXPECT_EQ(gl_fputwc(r.get(), 0x99, sink.get()), static_cast<gl_wchar>(-1));
  EXPECT_EQ(err(), GL_EILSEQ);
  r->error = 0;
  EXPECT_EQ(gl_fputmbs(r.get(), u("\x07\x07\0"), sink.get()), -1);
  EXPECT_EQ(err(), GL_EILSEQ);
  r->error = 0;

  ScopedSlot fwrite(GL_EXT_FWRITE, short_fwrite);
  EXPECT_EQ(gl_fputmbs(r.get(), u(text.data()), sink.get()), -1);
  EXPECT_EQ(err(), GL_EIO) << "the host wrote fewer bytes than the string has";
  r->error = 0;
  EXPECT_EQ(gl_fputmb(r.get(), u(a.data()), sink.get()), nullptr);
  EXPECT_EQ(err(), GL_EIO);
  EXPECT_EQ(local_fputc('x', sink.get()), -1);
}

TEST_F(TwoByteCharacters, PutmbReportsWhatTheWriterTook) {
  struct Case {
    std::string bytes;
    int n;
    int fail_at;
    int result;
    int len;
    int error;
  };
  const Case cases[] = {
      {"\x30\x42", -1, 0, 0, 2, 0},
      {"\x30\x42", 2, 2, -1, 1, GL_EIO}, /* the writer refuses the second byte */
      {"\x30\x42", 1, 0, -1, 0, GL_EINVAL}, /* cut by n */
      {std::string("\0\0", 2), -1, 0, 0, 2, 0},
      {"\x07\x07", -1, 0, -1, 0, GL_EILSEQ},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes) + " n=" + std::to_string(c.n));
    CountingWriter::reset(c.fail_at);
    int len = -9;
    r->error = 0;
    EXPECT_EQ(gl_putmb(r.get(), u(c.bytes.data()), c.n, CountingWriter::write, nullptr, &len),
              c.result);
    EXPECT_EQ(len, c.len);
    EXPECT_EQ(err(), c.error);
    EXPECT_EQ(CountingWriter::written, c.bytes.substr(0, c.len));
  }
  CountingWriter::reset(0);
  int len = 0;
  EXPECT_EQ(_dvz_gl_putmb(r.get(), u(std::string("\0\0", 2).data()), 2, CountingWriter::write,
                          nullptr, &len),
            0);
  EXPECT_EQ(CountingWriter::written, std::string("\0\0", 2));
}

TEST_F(SingleByteCharacters, WritesBytesAndRefusesWideValuesAbove255) {
  Sink sink;
  EXPECT_EQ(gl_fputwc(r.get(), 0xe9, sink.get()), 0xe9u);
  const unsigned char *ff = u("\xff");
  EXPECT_EQ(gl_fputmb(r.get(), ff, sink.get()), ff);
  EXPECT_EQ(gl_fputwc(r.get(), 0x100, sink.get()), static_cast<gl_wchar>(-1));
  EXPECT_EQ(r->error, GL_EILSEQ);
  EXPECT_EQ(sink.text(), "\xe9\xff");
}

}  // namespace
