/*
** The message-catalog compiler, run as a child on sources written to a
** temporary directory. Its output is read back with a small decoder of
** the catalog layout written here, independent of the compiler and of the
** library's reader: header, entry size by magic, sorted index, offsets
** into a text area that ends the file.
*/
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace {

const std::string compiler = DVZ_IEMC;

struct run_result {
  int status; /* exit status, -1 when the child did not exit */
  std::string errors; /* its stderr */
};

std::string quoted(const std::string &s) { return "'" + s + "'"; }

run_result run_compiler(const std::string &source, const std::string &target) {
  const std::string command =
      quoted(compiler) + " " + quoted(source) + " " + quoted(target) + " 2>&1 1>/dev/null";
  FILE *child = popen(command.c_str(), "r");
  if (child == nullptr) return {-1, "popen failed"};
  std::string errors;
  char chunk[512];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, child)) > 0)
    errors.append(chunk, got);
  const int status = pclose(child);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, errors};
}

/* ---- An independent reader of the catalog layout ------------------------- */

uint32_t be(const std::string &s, size_t at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i)
    value = (value << 8) | static_cast<unsigned char>(s[at + i]);
  return value;
}

struct catalog {
  uint16_t magic = 0;
  std::vector<std::pair<int32_t, std::string>> entries;
};

/* Decodes bytes, failing the test on any layout fault: texts must follow
** the index in index order, unterminated, and end the file. */
catalog decode(const std::string &bytes) {
  catalog c;
  EXPECT_GE(bytes.size(), 4u);
  if (bytes.size() < 4) return c;
  c.magic = static_cast<uint16_t>(be(bytes, 0, 2));
  EXPECT_TRUE(c.magic == 0xFE68 || c.magic == 0xFE69) << std::hex << c.magic;
  const bool wide = c.magic == 0xFE69;
  const size_t entry_size = wide ? 10 : 8;
  const size_t count = be(bytes, 2, 2);
  size_t next_text = 4 + count * entry_size;
  EXPECT_LE(next_text, bytes.size());
  if (next_text > bytes.size()) return c;
  for (size_t i = 0; i < count; ++i) {
    const size_t at = 4 + i * entry_size;
    const uint32_t raw = be(bytes, at, wide ? 4 : 2);
    const int32_t number = wide ? static_cast<int32_t>(raw) : static_cast<int16_t>(raw);
    const size_t length = be(bytes, at + (wide ? 4 : 2), 2);
    const size_t offset = be(bytes, at + (wide ? 6 : 4), 4);
    EXPECT_EQ(offset, next_text) << "entry " << i;
    if (offset + length > bytes.size()) {
      ADD_FAILURE() << "text of entry " << i << " runs past the file";
      return c;
    }
    if (!c.entries.empty()) {
      EXPECT_LT(c.entries.back().first, number) << "index not sorted";
    }
    c.entries.emplace_back(number, bytes.substr(offset, length));
    next_text = offset + length;
  }
  EXPECT_EQ(next_text, bytes.size()) << "bytes after the last text";
  return c;
}

class CatalogCompiler : public ::testing::Test {
 protected:
  /* Compiles source; the decoded catalog (the test fails when it cannot). */
  catalog compile(const std::string &source) {
    const std::string in = dir_.write("source.txt", source);
    const std::string out = dir_.file("out.iem");
    const run_result r = run_compiler(in, out);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    return decode(dvz_test::read_file(out));
  }

  dvz_test::TempDir dir_;
};

using entries = std::vector<std::pair<int32_t, std::string>>;

TEST_F(CatalogCompiler, SortsBySignedNumberAndDecodesEscapes) {
  const catalog c = compile(
      "# a comment line\n"
      "\n"
      "5\tfive\n"
      "   \n"
      "-1212\tDate format.\n"
      "+7\tplus seven\n"
      "0\t\n"
      "-3\ttab\\there\\nnew line \\\\ \\x41\\xfF\\x00end\n"
      "32766\tUnknown '%d'\\n\n"
      "6\t# not a comment\n");
  EXPECT_EQ(c.magic, 0xFE68);
  const entries expected = {
      {-1212, "Date format."},
      {-3, std::string("tab\there\nnew line \\ A\xff\0end", 26)},
      {0, ""},
      {5, "five"},
      {6, "# not a comment"},
      {7, "plus seven"},
      {32766, "Unknown '%d'\n"},
  };
  EXPECT_EQ(c.entries, expected);
}

/* The narrow form while every number fits 16 bits, else the wide one; the
** sizes straddle the 8-entry blocks of the reader. */
TEST_F(CatalogCompiler, EntrySizeFollowsTheWidestNumber) {
  struct row {
    std::vector<int32_t> numbers;
    uint16_t magic;
  } rows[] = {
      {{-32768, 32767}, 0xFE68},
      {{-32768, 32768}, 0xFE69},
      {{-32769, 1}, 0xFE69},
      {{std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}, 0xFE69},
  };
  for (const row &r : rows) {
    std::string source;
    entries expected;
    for (int32_t n : r.numbers) {
      source += std::to_string(n) + "\tnumber " + std::to_string(n) + "\n";
      expected.emplace_back(n, "number " + std::to_string(n));
    }
    const catalog c = compile(source);
    EXPECT_EQ(c.magic, r.magic) << source;
    EXPECT_EQ(c.entries, expected) << source;
  }
  for (int count : {1, 3, 8, 9, 20}) {
    for (int32_t scale : {-1, -100000}) {
      std::string source;
      entries expected;
      /* Written in descending order of value, so sorting is needed. */
      for (int i = 0; i < count; ++i) {
        const int32_t n = scale * (i + 1) * 3;
        source += std::to_string(n) + "\ttext of " + std::to_string(n) + "\n";
        expected.emplace(expected.begin(), n, "text of " + std::to_string(n));
      }
      const catalog c = compile(source);
      EXPECT_EQ(c.magic, scale == -1 ? 0xFE68 : 0xFE69) << count;
      EXPECT_EQ(c.entries, expected) << count << " entries";
    }
  }
}

TEST_F(CatalogCompiler, TakesATextOfTheGreatestLength) {
  const std::string longest(32767, 'L');
  const catalog c = compile("-1\t" + longest + "\n2\tafter\n");
  EXPECT_EQ(c.entries, (entries {{-1, longest}, {2, "after"}}));
}

/* Every refusal names file and line, exits non-zero and writes nothing. */
TEST_F(CatalogCompiler, RefusesBadSourcesNamingTheLine) {
  std::string too_many;
  for (int i = 0; i < 65536; ++i)
    too_many += std::to_string(i) + "\tx\n";
  struct row {
    const char *what;
    std::string source;
    int line;
    std::string message;
  } rows[] = {
      {"duplicate", "# head\n-5\tone\n7\tseven\n\n-5\tagain\n", 5,
       "duplicate number -5 (first on line 2)"},
      {"unknown escape", "1\tok\n2\tbad \\q escape\n", 2, "bad escape: '\\q'"},
      {"short hex escape", "1\t\\x4\n", 1, "bad escape: \\x needs two hexadecimal digits"},
      {"non-hex escape", "1\t\\xg0\n", 1, "bad escape: \\x needs two hexadecimal digits"},
      {"trailing backslash", "1\tend\\\n", 1, "bad escape: '\\' at the end of the line"},
      {"above 32 bits", "1\ta\n2147483648\tb\n", 2, "number 2147483648 does not fit 32 bits"},
      {"below 32 bits", "-2147483649\tb\n", 1, "number -2147483649 does not fit 32 bits"},
      {"far beyond 64 bits", "99999999999999999999999\tb\n", 1,
       "number 99999999999999999999999 does not fit 32 bits"},
      {"overlong text", "1\t" + std::string(32768, 'x') + "\n", 1,
       "text of 32768 bytes exceeds 32767"},
      {"overlong after escapes", "1\t" + std::string(32766, 'x') + "\\n\\t\n", 1,
       "text of 32768 bytes exceeds 32767"},
      {"no tab", "1 text\n", 1, "expected <number><TAB><text>"},
      {"no number", "\ttext\n", 1, "expected a signed number before the tab"},
      {"not a number", "12a\ttext\n", 1, "expected a signed number before the tab, found '12a'"},
      {"too many entries", too_many, 65536, "more than 65535 entries"},
  };
  for (const row &r : rows) {
    const std::string in = dir_.write("bad.txt", r.source);
    const std::string out = dir_.file("bad.iem");
    const run_result result = run_compiler(in, out);
    EXPECT_NE(result.status, 0) << r.what;
    EXPECT_EQ(result.errors, in + ":" + std::to_string(r.line) + ": " + r.message + "\n") << r.what;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << r.what << ": output written";
  }
}

TEST_F(CatalogCompiler, MissingSourceIsReported) {
  const run_result r = run_compiler(dir_.file("absent.txt"), dir_.file("out.iem"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors.rfind(dir_.file("absent.txt") + ": cannot open", 0), 0u) << r.errors;
}

}  // namespace
