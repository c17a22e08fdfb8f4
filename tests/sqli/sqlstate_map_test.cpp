/*
** The SQLSTATE map: the compiler's output byte for byte against a map
** made from the file layout by hand, and its refusals; the build's map
** files; the look-up of first, middle, last and missing codes; code 0
** with and without a warning hint; the loader's refusals of broken files;
** a missing map while a status is recorded; switching the map file.
*/
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime_fixture.h"
#include "sqli_errors.h"
#include "temp_dir.h"

namespace {

using namespace std::string_literals;

using sqli_test::map_bytes;
using sqli_test::map_row;
using sqli_test::put_message_file;
using sqli_test::RuntimeTest;

/* Runs the compiler on source; its exit status, with stderr in err. */
int compile(const dvz_test::TempDir &dir, const std::string &source, std::string &err) {
  const std::string in = dir.write("map.txt", source);
  const std::string command = std::string(DVZ_SQLSTATE_MAPC) + " '" + in + "' '" +
                              dir.file("map.pam") + "' 2> '" + dir.file("err.txt") + "'";
  const int status = std::system(command.c_str());
  err = dvz_test::read_file(dir.file("err.txt"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SqlstateMapCompiler, WritesRecordsInDescendingCodeOrder) {
  dvz_test::TempDir dir;
  std::string err;
  ASSERT_EQ(compile(dir,
                    "# a comment\n"
                    "-206\t0\t42000\n"
                    "\n"
                    "100\t0\t02000\n"
                    "0\t36001\t00000\n"
                    "-2147483648\t7\tIX999\n",
                    err),
            0)
      << err;
  EXPECT_EQ(
      dvz_test::read_file(dir.file("map.pam")),
      map_bytes(
          {{100, 0, "02000"}, {0, 36001, "00000"}, {-206, 0, "42000"}, {INT32_MIN, 7, "IX999"}}));
}

TEST(SqlstateMapCompiler, RefusesBadLinesWithoutWritingTheMap) {
  struct row {
    const char *source;
    const char *message;
  };
  const row rows[] = {
      {"-206\t0\t42000\n-206\t0\t42S02\n", "map.txt:2: duplicate code -206 (first on line 1)"},
      {"-206\t0\t4200\n", "map.txt:1: SQLSTATE '4200' is not five upper-case letters or digits"},
      {"-206\t0\t42s02\n", "map.txt:1: SQLSTATE '42s02' is not five"},
      {"-206\t42000\n", "map.txt:1: expected <code><TAB><message number><TAB><SQLSTATE>"},
      {"x\t0\t42000\n", "map.txt:1: expected a signed code, found 'x'"},
      {"-206\t-1\t42000\n", "map.txt:1: message number -1 is negative"},
      {"9999999999\t0\t42000\n", "map.txt:1: code 9999999999 does not fit 32 bits"},
  };
  for (const row &r : rows) {
    dvz_test::TempDir dir;
    std::string err;
    EXPECT_EQ(compile(dir, r.source, err), 1) << r.source;
    EXPECT_NE(err.find(r.message), std::string::npos) << err;
    EXPECT_EQ(dvz_test::read_file(dir.file("map.pam")), "") << r.source;
  }
}

TEST(SqlstateMapCompiler, BuildMapsAreTheTableCompiled) {
  dvz_test::TempDir dir;
  std::string err;
  ASSERT_EQ(compile(dir, dvz_test::read_file(DVZ_SQLSTATE_TABLE), err), 0) << err;
  const std::string compiled = dvz_test::read_file(dir.file("map.pam"));
  EXPECT_EQ(dvz_test::read_file(sqli_test::build_message_dir() + "/citoxmsg.pam"), compiled);
  EXPECT_EQ(dvz_test::read_file(sqli_test::build_message_dir() + "/itoxmsg.pam"), compiled);
}

using SqlstateLookup = RuntimeTest;

TEST_F(SqlstateLookup, FindsEveryCodeOfTheBuildMapAndNoOther) {
  ASSERT_NE(start(), nullptr);
  sqli_xtbl_entry *table = nullptr;
  int count = 0;
  ASSERT_EQ(ldxtbl(&table, &count), 0);
  ASSERT_GT(count, 3);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(srchCODE(table[i].code, count, table), i) << table[i].code;
    if (i > 0) {
      EXPECT_GT(table[i - 1].code, table[i].code) << "descending order";
      if (table[i - 1].code - table[i].code > 1) {
        EXPECT_EQ(srchCODE(table[i].code + 1, count, table), -1) << table[i].code + 1;
      }
    }
  }
  EXPECT_EQ(srchCODE(table[0].code + 1, count, table), -1);
  EXPECT_EQ(srchCODE(table[count - 1].code - 1, count, table), -1);
  EXPECT_EQ(srchCODE(0, 0, table), -1);
}

TEST_F(SqlstateLookup, MapsCodesHintsAndMisses) {
  put_message_file("citoxmsg.pam", map_bytes({{100, 0, "02000"},
                                              {0, 0, "00000"},
                                              {-206, 0, "42000"},
                                              {-1204, 36004, "22008"},
                                              {-25582, 0, "08S01"}}));
  ASSERT_NE(start(), nullptr);
  struct row {
    int code;
    const char *hint;
    const char *state;
    int msgnum;
  };
  const row rows[] = {
      {100, "", "02000", 0},        {-206, "", "42000", 0},   {-25582, "", "08S01", 0},
      {-1204, "", "22008", 36004},  {-207, "", "IX000", 0},   {101, "", "IX000", 0},
      {-937, "", "*****", 0},       {0, "", "00000", 0},      {0, "01I06", "01I06", 36112},
      {0, "01I07", "01I07", 36111}, {0, "01I10", "01I10", 0}, {-206, "01004", "42000", 0},
  };
  for (const row &r : rows) {
    char state[6] = "?????";
    EXPECT_EQ(MapSqlstate(state, r.code, r.hint), r.msgnum) << r.code << " " << r.hint;
    EXPECT_STREQ(state, r.state) << r.code << " " << r.hint;
  }
}

/* Each refusal records its error with SQLSTATE IX001 on the explicit
** path, and the next look-up tries the file again. */
TEST_F(SqlstateLookup, LoaderRefusesBrokenMaps) {
  const std::string good = map_bytes({{0, 0, "00000"}, {-206, 0, "42000"}});
  struct row {
    const char *what;
    std::string bytes;
    int expected;
  };
  const row rows[] = {
      {"wrong magic", "itox01" + good.substr(6), SQLI_E_MAPMAGIC},
      {"short header", "itox00\0\0"s, SQLI_E_MAPMAGIC},
      {"count exceeds records", map_bytes({{0, 0, "00000"}, {-206, 0, "42000"}}, 3),
       SQLI_E_MAPMAGIC},
      {"negative count", map_bytes({{0, 0, "00000"}}, -1), SQLI_E_MAPMAGIC},
      {"huge count", map_bytes({{0, 0, "00000"}}, 0x7FFFFFFF), SQLI_E_MAPMAGIC},
      {"last record cut", good.substr(0, good.size() - 1), SQLI_E_MAPMAGIC},
  };
  for (const row &r : rows) {
    sqli_test::reset_runtime();
    put_message_file("citoxmsg.pam", r.bytes);
    ASSERT_NE(start(), nullptr);
    char state[6] = "?????";
    EXPECT_EQ(MapSqlstate(state, -206, ""), -1) << r.what;
    EXPECT_EQ(SQLCODE, r.expected) << r.what;
    EXPECT_EQ(sqlca.sqlcode, r.expected) << r.what;
    EXPECT_STREQ(SQLSTATE, "IX001") << r.what;
    EXPECT_STREQ(state, "?????") << r.what;

    put_message_file("citoxmsg.pam", good);
    EXPECT_EQ(MapSqlstate(state, -206, ""), 0) << r.what;
    EXPECT_STREQ(state, "42000") << r.what;
  }
}

TEST_F(SqlstateLookup, CountBelowTheRecordsUsesOnlyThoseCounted) {
  put_message_file("citoxmsg.pam",
                   map_bytes({{0, 0, "00000"}, {-206, 0, "42000"}, {-217, 0, "42S22"}}, 2));
  ASSERT_NE(start(), nullptr);
  char state[6];
  EXPECT_EQ(MapSqlstate(state, -206, ""), 0);
  EXPECT_STREQ(state, "42000");
  EXPECT_EQ(MapSqlstate(state, -217, ""), 0);
  EXPECT_STREQ(state, "IX000");
}

TEST_F(SqlstateLookup, MissingMapFilesGiveTheirOwnErrors) {
  sqli_test::remove_message_file("citoxmsg.pam");
  sqli_test::remove_message_file("itoxmsg.pam");
  ASSERT_NE(start(), nullptr);
  char state[6];
  EXPECT_EQ(MapSqlstate(state, -206, ""), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_NOSTATEMAP);
  EXPECT_STREQ(SQLSTATE, "IX001");
  ASSERT_EQ(sqli_resetMessageFile("s"), 0);
  EXPECT_EQ(MapSqlstate(state, -206, ""), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_NOFILE);
  EXPECT_STREQ(SQLSTATE, "IX001");
}

/* While a status is being recorded, a missing map keeps the status and
** only SQLSTATE tells; the next status change loads the map. */
TEST_F(SqlstateLookup, MissingMapKeepsTheRecordedCode) {
  sqli_test::remove_message_file("citoxmsg.pam");
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  EXPECT_STREQ(SQLSTATE, "00000");
  EXPECT_EQ(_iqseterr(-206), -206);
  EXPECT_EQ(SQLCODE, -206);
  EXPECT_EQ(sqlca.sqlcode, -206);
  EXPECT_STREQ(SQLSTATE, "IX001");
  ASSERT_EQ(tcb->diag->count, 1);
  EXPECT_EQ(tcb->diag->recs[0].code, -206);

  sqli_test::copy_build_file("citoxmsg.pam");
  _sqclrca(tcb);
  EXPECT_EQ(_iqseterr(-206), -206);
  EXPECT_STREQ(SQLSTATE, "42000");
}

TEST_F(SqlstateLookup, SwitchingTheMapFileReloadsIt) {
  put_message_file("citoxmsg.pam", map_bytes({{0, 0, "00000"}, {-206, 0, "42000"}}));
  put_message_file("itoxmsg.pam", map_bytes({{0, 0, "00000"}, {-206, 0, "42S02"}}));
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  struct step {
    const char *kind; /* null: none */
    const char *state;
  };
  const step steps[] = {{nullptr, "42000"}, {"s", "42S02"}, {"s", "42S02"},
                        {"c", "42000"},     {"s", "42S02"}, {"c", "42000"}};
  for (const step &s : steps) {
    if (s.kind != nullptr) {
      EXPECT_EQ(sqli_resetMessageFile(s.kind), 0);
    }
    _sqclrca(tcb);
    _iqseterr(-206);
    EXPECT_STREQ(SQLSTATE, s.state) << (s.kind ? s.kind : "start");
  }
  EXPECT_EQ(sqli_resetMessageFile("x"), -1);
  EXPECT_EQ(sqli_resetMessageFile("sc"), -1);
  EXPECT_EQ(sqli_resetMessageFile(nullptr), -1);
  EXPECT_STREQ(txtblname, "citoxmsg.pam");
}

}  // namespace
