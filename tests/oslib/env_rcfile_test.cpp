/*
** rc files: the line reader (comments, empty lines, line counts, growth,
** a last line without a newline, 0xFF bytes) and the rules of ldcffile
** for names, values, the NLS variables, the ignore list and unknown names,
** also as greadenv sees them.
*/
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "env_fixture.h"
#include "env_internal.h"
#include "failing_alloc.h"

using env_test::EnvTest;
using env_test::value_of;

namespace {

struct file_closer {
  void operator()(FILE *f) const { fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

/* Every variable line of content with the line counter after it. */
std::vector<std::pair<std::string, int>> lines_of(const std::string &content, int *last) {
  dvz_test::TempDir dir;
  file_ptr file(fopen(dir.write("rc", content).c_str(), "r"));
  std::vector<std::pair<std::string, int>> out;
  int size = 128;
  char *buffer = static_cast<char *>(malloc(size));
  int lines = 0;
  while ((*last = _ggetcfline(file.get(), &buffer, &size, &lines)) == 0)
    out.emplace_back(buffer, lines);
  free(buffer);
  return out;
}

TEST(RcLineReader, ReadsVariableLinesAndCountsEveryLine) {
  using lines = std::vector<std::pair<std::string, int>>;
  const std::string long_line = "DBPATH " + std::string(300, 'x');
  struct row {
    std::string content;
    lines expected;
  };
  const row rows[] = {
      {"", {}},
      {"A 1\nB 2\n", {{"A 1", 1}, {"B 2", 2}}},
      {"# comment\n\n\nA 1\n#B 2\n", {{"A 1", 4}}},
      /* The last line counts without its newline. */
      {"A 1\nB 2", {{"A 1", 1}, {"B 2", 2}}},
      {"# only a comment", {}},
      /* 0xFF is an ordinary byte, at a line start too. */
      {"A \xff"
       "1\n\xff"
       "B\n",
       {{"A \xff"
         "1",
         1},
        {"\xff"
         "B",
         2}}},
      {"X #not a comment\n  lead\n", {{"X #not a comment", 1}, {"  lead", 2}}},
      {long_line + "\n" + long_line, {{long_line, 1}, {long_line, 2}}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.content.substr(0, 40));
    int last = 0;
    EXPECT_EQ(lines_of(r.content, &last), r.expected);
    EXPECT_EQ(last, -1);
  }
}

TEST_F(EnvTest, RcFileRulesForNamesAndValues) {
  struct row {
    const char *line;
    const char *name;
    const char *expected; /* through ggetenv; "(none)" when nothing stored */
  };
  const row rows[] = {
      {"DBLANG", "DBLANG", ""},
      {"LANG", "LANG", "(none)"},
      {"LC_CTYPE \t ", "LC_CTYPE", "(none)"},
      {"LANG de_DE.819", "LANG", "de_DE.819"},
      {"DBPATH\t/a b  ", "DBPATH", "/a b  "},
      {"DBPATH   /x # and more", "DBPATH", "/x # and more"},
      {"DBPATH /x\r", "DBPATH", "/x\r"},
      {"DBNLS 3", "DBNLS", "3"},
      {"DBPATH /last-line-without-newline", "DBPATH", "/last-line-without-newline"},
      {"DBPATH /caf\xff", "DBPATH", "/caf\xff"},
      {"dbpath /lower", "DBPATH", "."},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.line);
    SetUp();
    write_rc_files(std::string("# rc\n") + r.line, "");
    EXPECT_EQ(greadenv(), 0);
    EXPECT_EQ(value_of(r.name), r.expected);
  }
}

TEST_F(EnvTest, RcFileResultsAndFlags) {
  ASSERT_EQ(lddefenv(), 0);
  struct row {
    const char *content;
    int result;
    int flags;
    int lines;
  };
  const row rows[] = {
      {"DBPATH /a\n", 0, 0, 1},
      {"DBPATH /a\nNO_SUCH x\n", -4, 0, 2},
      {"NO_SUCH x\nDBPATH /a\n", 0, 0, 2},
      {"DBPATH /a\nNO_SUCH x\n# trailing comment\n\n", -4, 0, 4},
      {"NO_SUCH x\nDBTEMP /ignored\n", 0, 0, 2}, /* the ignored line is the last */
      {"DBNLS 1\nLANG x\nLC_COLLATE a\nLC_CTYPE b\n", 0, 1 | 2 | 4 | 8, 4},
      {"DBNLS 2\nLC_MONETARY a\nLC_NUMERIC b\nLC_TIME c\n", 0, 1 | 16 | 32 | 64, 4},
      {"DBNLS 3\nLANG\n", 0, 0, 2},
  };
  namelist_t *ignore = _ginitnamelist();
  ASSERT_GE(_gaddnamelist(ignore, "DBTEMP"), 0);
  dvz_test::TempDir dir;
  for (const row &r : rows) {
    SCOPED_TRACE(r.content);
    int lines = -1;
    int flags = 0;
    EXPECT_EQ(ldcffile(dir.write("rc", r.content).c_str(), ignore, &lines, &flags), r.result);
    EXPECT_EQ(flags, r.flags);
    EXPECT_EQ(lines, r.lines);
  }
  int lines = -1;
  int flags = 0;
  EXPECT_EQ(ldcffile(dir.file("missing").c_str(), ignore, &lines, &flags), 0);
  EXPECT_EQ(lines, 0);
  EXPECT_STREQ(ggetenv2("DBTEMP"), "/tmp");
  _gfreenamelist(ignore);
}

TEST(RcLineReader, FailedGrowthGives2WithTheBufferGone) {
  dvz_test::TempDir dir;
  file_ptr file(fopen(dir.write("rc", std::string(300, 'x') + "\n").c_str(), "r"));
  int size = 128;
  char *buffer = static_cast<char *>(malloc(size));
  int lines = 0;
  int rc = 0;
  {
    oslib_test::FailingAlloc no_memory(1);
    rc = _ggetcfline(file.get(), &buffer, &size, &lines);
  }
  EXPECT_EQ(rc, -2);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(size, 0);
}

/* Each allocation of ldcffile fails in turn (the line buffer, its growth
** for the long line, each value pushed): -2, and of the file's lines a
** first part is in the table and the rest is not. */
TEST_F(EnvTest, RcFileWithoutMemoryGives2AndKeepsTheLinesBefore) {
  ASSERT_EQ(lddefenv(), 0);
  const std::string long_value(300, 'p');
  struct line {
    const char *name;
    std::string value;
  };
  const line lines[] = {{"DBTEMP", "/a"}, {"DBPATH", long_value}, {"TERM", "vt100"}};
  std::string content;
  for (const line &l : lines)
    content += std::string(l.name) + " " + l.value + "\n";
  dvz_test::TempDir dir;
  const std::string path = dir.write("rc", content);
  int failures = 0;
  for (int fail_at = 1;; ++fail_at) {
    SCOPED_TRACE("allocation " + std::to_string(fail_at) + " fails");
    ASSERT_EQ(lddefenv(), 0);
    int rc = 0;
    int refused = 0;
    {
      oslib_test::FailingAlloc no_memory(fail_at);
      rc = ldcffile(path.c_str(), nullptr, nullptr, nullptr);
      refused = no_memory.failures();
    }
    bool in_table = true;
    for (const line &l : lines) {
      const char *value = dvz_env::table_value(l.name);
      const bool taken = value != nullptr && value == l.value;
      EXPECT_TRUE(in_table || !taken) << l.name << " taken after a line that was not";
      in_table = in_table && taken;
    }
    if (refused == 0) {
      EXPECT_EQ(rc, 0);
      EXPECT_TRUE(in_table);
      break;
    }
    ++failures;
    EXPECT_EQ(rc, -2);
    EXPECT_FALSE(in_table);
  }
  EXPECT_GE(failures, 5) << "buffer, growth, three values";
}

TEST_F(EnvTest, UnknownNameOnTheLastLineIsNoFailure) {
  write_rc_files("DBPATH /db\nNO_SUCH_VARIABLE x", "DBTEMP /home-temp\nNO_SUCH_EITHER\n");
  EXPECT_EQ(greadenv(), 0);
  EXPECT_EQ(value_of("DBPATH"), "/db");
  EXPECT_EQ(value_of("DBTEMP"), "/home-temp");
}

TEST_F(EnvTest, IgnoreListTakesTheNonEmptyNamesOfEnvignore) {
  struct row {
    const char *envignore;
    std::vector<std::string> names;
  };
  const row rows[] = {
      {"A:B", {"A", "B"}},
      {":A::B:", {"A", "B"}},
      {"::", {}},
      {"", {}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.envignore);
    setenv("ENVIGNORE", r.envignore, 1);
    namelist_t *list = _ginitnamelist();
    ASSERT_EQ(ignoreenv(list), 0);
    EXPECT_EQ(std::vector<std::string>(list->names, list->names + list->count), r.names);
    _gfreenamelist(list);
  }
}

TEST(NameList, GrowsPastItsFirstSlotsAndFindsExactNames) {
  namelist_t *list = _ginitnamelist();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->capacity, 16);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(_gaddnamelist(list, ("N" + std::to_string(i)).c_str()), i);
  EXPECT_EQ(list->capacity, 48);
  EXPECT_EQ(_gsrchnamelist(list, "N0"), 0);
  EXPECT_EQ(_gsrchnamelist(list, "N39"), 39);
  EXPECT_EQ(_gsrchnamelist(list, "n39"), -1);
  EXPECT_EQ(_gsrchnamelist(list, "N"), -1);
  _gfreenamelist(list);
}

}  // namespace
