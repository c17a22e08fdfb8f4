/* bufsplit: TAB-separated fields split in place, the line ending at its
** first newline, at most n fields. */
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "svr4.h"

namespace {

struct SplitCase {
  const char *line;
  size_t n;
  std::vector<std::string> fields;
};

const SplitCase kSplitCases[] = {
    {"", 9, {""}},
    {"\n", 9, {""}},
    {"a", 9, {"a"}},
    {"a\t\tb\n", 9, {"a", "", "b"}},
    {"a\tb\t\n", 9, {"a", "b", ""}},
    {"\t", 9, {"", ""}},
    {"on\t908\t*\t*\t0\t*\ton\tnone\tDBMS ok\n",
     9,
     {"on", "908", "*", "*", "0", "*", "on", "none", "DBMS ok"}},
    /* Ten fields read as the first nine; the ninth ends at its TAB. */
    {"f1\tf2\tf3\tf4\tf5\tf6\tf7\tf8\tf9\tf10\n",
     9,
     {"f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9"}},
    {"a\tb\tc", 2, {"a", "b"}},
    {"a\tb", 1, {"a"}},
    /* The first newline ends the line, whatever follows it. */
    {"a\tb\nc\td\n", 9, {"a", "b"}},
    {"a b\t c \n", 9, {"a b", " c "}},
};

TEST(Bufsplit, SplitsAtTabsUpToTheFirstNewline) {
  for (const SplitCase &c : kSplitCases) {
    SCOPED_TRACE(std::string("line '") + c.line + "' n " + std::to_string(c.n));
    std::string buffer(c.line);
    /* One slot more than allowed: bufsplit must not touch it. */
    std::array<char *, 12> fields {};
    char sentinel = 'S';
    fields.fill(&sentinel);
    ASSERT_LT(c.n, fields.size());
    size_t count = bufsplit(buffer.data(), c.n, fields.data());
    ASSERT_EQ(count, c.fields.size());
    for (size_t i = 0; i < count; ++i)
      EXPECT_EQ(std::string(fields[i]), c.fields[i]) << "field " << i;
    if (count < c.n) {
      /* Unused slots point at the NUL that now ends the line. */
      char *end = fields[count - 1] + c.fields.back().size();
      EXPECT_EQ(*end, '\0');
      for (size_t i = count; i < c.n; ++i)
        EXPECT_EQ(fields[i], end) << "slot " << i;
    }
    EXPECT_EQ(fields[c.n], &sentinel);
  }
}

TEST(Bufsplit, FieldsPointIntoTheCallersBuffer) {
  char line[] = "co\t*\n";
  std::array<char *, 9> fields {};
  ASSERT_EQ(bufsplit(line, fields.size(), fields.data()), 2u);
  EXPECT_EQ(fields[0], line);
  EXPECT_EQ(fields[1], line + 3);
  EXPECT_EQ(line[2], '\0');
  EXPECT_EQ(line[4], '\0');
  EXPECT_EQ(fields[8], line + 4);
}

TEST(Bufsplit, NothingToSplitIntoGivesZero) {
  char line[] = "a\tb";
  std::array<char *, 2> fields {};
  EXPECT_EQ(bufsplit(line, 0, fields.data()), 0u);
  EXPECT_EQ(bufsplit(nullptr, 2, fields.data()), 0u);
  EXPECT_EQ(bufsplit(line, 2, nullptr), 0u);
  EXPECT_EQ(std::string(line), "a\tb");
}

}  // namespace
