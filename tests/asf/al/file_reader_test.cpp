/*
** The small-file reader: open modes of the file primitives (against what
** the kernel reports with fcntl and fstat), lines and tokens across buffer
** boundaries, every byte value as data, and allocation failures.
*/
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asf_sqlhosts.h"
#include "counting_memory.h"
#include "temp_dir.h"

namespace {

using asf_test::CountingMemory;

/* Every line asf_fgetline gives for content, max characters kept. */
std::vector<std::string> lines_of(const std::string &content, int max = 1024) {
  dvz_test::TempDir dir;
  fbuf *f = asf_opfbuf(dir.write("f", content).c_str(), "r", 0);
  EXPECT_NE(f, nullptr);
  std::vector<std::string> out;
  if (f == nullptr) return out;
  std::vector<char> line(size_t(max) + 1);
  int n;
  while ((n = asf_fgetline(f, line.data(), max)) >= 0) {
    out.emplace_back(line.data(), size_t(n));
  }
  EXPECT_EQ(asf_fgetline(f, line.data(), max), -1);
  EXPECT_EQ(asf_clfbuf(f), 0);
  return out;
}

using lines = std::vector<std::string>;

TEST(FileReader, LinesSkipWhiteSpaceAndKeepEveryByte) {
  struct row {
    const char *what;
    std::string content;
    int max;
    lines expected;
  };
  const row rows[] = {
      {"two lines", "a\nb\n", 1024, {"a", "b"}},
      {"blank lines and leading blanks skipped", "  a b  \n\n \t\n  c\n", 1024, {"a b  ", "c"}},
      {"last line without new line", "one\ntwo", 1024, {"one", "two"}},
      {"empty file", "", 1024, {}},
      {"white space only", "\n \t\n", 1024, {}},
      {"0xFF is data", "x\xffy\n\xff\n", 1024, {"x\xffy", "\xff"}},
      {"0xFF at the end", "abc\xff", 1024, {"abc\xff"}},
      {"NUL byte inside a line", std::string("a\0b\nc", 5), 1024, {std::string("a\0b", 3), "c"}},
      {"long line cut, its rest dropped", "abcdef\ngh\n", 3, {"abc", "gh"}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(lines_of(r.content, r.max), r.expected);
  }
}

TEST(FileReader, FilesAroundTheBufferSizeAreReadWhole) {
  for (size_t size : {4095u, 4096u, 4097u, 8192u, 8193u}) {
    SCOPED_TRACE(size);
    // Lines of 99 characters: one line straddles each buffer boundary, and
    // a 0xFF byte sits right at the boundary.
    std::string content;
    lines expected;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
      char c = (i + 1) % 100 == 0 ? '\n' : static_cast<char>('a' + i % 26);
      if (i == 4095 || i == 4096) c = '\xff';
      content += c;
      if (c == '\n') {
        expected.push_back(current);
        current.clear();
      } else {
        current += c;
      }
    }
    if (!current.empty()) expected.push_back(current);
    EXPECT_EQ(lines_of(content), expected);
  }
}

TEST(FileReader, OneLineOfExactlyTheBufferSize) {
  for (size_t size : {4096u, 4097u}) {
    SCOPED_TRACE(size);
    std::string content(size, 'q');
    content[size - 1] = '\xff';
    EXPECT_EQ(lines_of(content, 5000), lines {content});
  }
}

TEST(FileReader, TokensFromFileAndText) {
  dvz_test::TempDir dir;
  fbuf *f = asf_opfbuf(dir.write("t", "  machine\thost1\n\nlogin abcdef \xff z").c_str(), "r", 1);
  ASSERT_NE(f, nullptr);
  char token[5];
  const lines expected = {"mach", "host", "logi", "abcd", "\xff", "z"};
  lines got;
  int n;
  while ((n = asf_ftoken(f, token, sizeof token)) >= 0)
    got.emplace_back(token, size_t(n));
  EXPECT_EQ(got, expected);
  asf_rwfbuf(f);
  ASSERT_EQ(asf_ftoken(f, token, sizeof token), 4);
  EXPECT_STREQ(token, "mach");
  EXPECT_EQ(asf_clfbuf(f), 0);

  struct row {
    const char *text;
    int max;
    lines tokens;
  };
  const row rows[] = {
      {"srv1 ontlitcp  host1\tsvc1 k=0", 128, {"srv1", "ontlitcp", "host1", "svc1", "k=0"}},
      {"   ", 128, {}},
      {"", 128, {}},
      {"abcdef gh", 3, {"abc", "gh"}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.text);
    std::string text = r.text;
    char *pos = text.data();
    char out[200];
    lines got_text;
    while ((n = asf_stoken(&pos, out, r.max)) >= 0)
      got_text.emplace_back(out, size_t(n));
    EXPECT_EQ(got_text, r.tokens);
    EXPECT_EQ(*pos, '\0');
  }
}

TEST(FileReader, OpenModes) {
  dvz_test::TempDir dir;
  mode_t old_mask = umask(022);
  struct row {
    const char *mode;
    bool exists;
    int access; /* O_ACCMODE bits, or -1 for a failed open */
    bool append;
  };
  const row rows[] = {
      {"r", true, O_RDONLY, false}, {"r", false, -1, false},     {"w", true, O_WRONLY, false},
      {"w", false, -1, false},      {"a", true, O_WRONLY, true}, {"a", false, O_WRONLY, true},
      {"r+", true, O_RDWR, false},  {"r+", false, -1, false},
  };
  int serial = 0;
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.mode) + (r.exists ? " existing" : " missing"));
    const std::string path = dir.file("m" + std::to_string(serial++));
    if (r.exists) dvz_test::write_file(path, "old\n");
    int fd = asf_fopen(path.c_str(), r.mode);
    if (r.access < 0) {
      EXPECT_EQ(fd, -1);
      EXPECT_NE(access(path.c_str(), F_OK), 0);
      continue;
    }
    ASSERT_GE(fd, 0);
    int flags = fcntl(fd, F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, r.access);
    EXPECT_EQ((flags & O_APPEND) != 0, r.append);
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    if (!r.exists) {
      EXPECT_EQ(st.st_mode & 0777, 0644u);
    }
    if (r.access != O_RDONLY) {
      ASSERT_EQ(write(fd, "new\n", 4), 4);
      ASSERT_EQ(asf_rewind(fd), 0);
      ASSERT_EQ(write(fd, "x", 1), 1);
    }
    EXPECT_EQ(asf_fclose(fd), 0);
    const std::string content = dvz_test::read_file(path);
    if (r.append) {
      EXPECT_EQ(content, std::string(r.exists ? "old\n" : "") + "new\nx");
    } else if (r.access == O_WRONLY || r.access == O_RDWR) {
      EXPECT_EQ(content, "xew\n");
    } else {
      EXPECT_EQ(content, "old\n");
    }
  }
  umask(old_mask);
}

TEST(FileReader, OpenFailuresFreeWhatWasAllocated) {
  dvz_test::TempDir dir;
  const std::string path = dir.write("f", "a\n");
  for (int fail_at = 1; fail_at <= 2; ++fail_at) {
    SCOPED_TRACE(fail_at);
    CountingMemory memory(fail_at);
    EXPECT_EQ(asf_opfbuf(path.c_str(), "r", 0), nullptr);
    EXPECT_EQ(memory.outstanding(), 0);
  }
  CountingMemory memory;
  EXPECT_EQ(asf_opfbuf(dir.file("missing").c_str(), "r", 0), nullptr);
  EXPECT_EQ(memory.outstanding(), 0);
  EXPECT_EQ(asf_clfbuf(nullptr), 0);
  char buf[4];
  EXPECT_EQ(asf_fread(buf, 1, 4, -1), -1);
}

}  // namespace
