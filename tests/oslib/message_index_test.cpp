/*
** The message-file indexes: which leaf name a number gets from the client
** and the server index, and switching between them.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "os_gentcb.h"
#include "os_messages.h"

namespace {

struct leaf_case {
  int32_t number;
  const char *client;
  const char *server;
  int result;
};

std::string leaf_of(int32_t number, int *result) {
  char name[MSG_LEAF_SIZE] = "unchanged";
  *result = rmkmsgleafname(number, name);
  return name;
}

TEST(MessageIndex, LeafNamesFromClientAndServerIndex) {
  const leaf_case cases[] = {
      {-206, "csql.iem", "sql.iem", 0}, /* absolute value; the first of two equal rows */
      {206, "csql.iem", "sql.iem", 0},
      {1, "os.iem", "os.iem", 0},
      {79, "os.iem", "os.iem", 0},
      {80, "os.iem", "os.iem", -3}, /* between rows */
      {0, "os.iem", "os.iem", -3},
      {26000, "os.iem", "os.iem", -3},
      {77300, "iecc.iem", "iecc.iem", 0}, /* in two ranges: the first row wins */
      {77301, "bladepk.iem", "bladepk.iem", 0},
      {-1227, "crds.iem", "rds.iem", 0},
      {21400, "csecure.iem", "security.iem", 0},
      {-23104, "ccals.iem", "cals.iem", 0},
      {32765, "os.iem", "os.iem", 0},
      {32766, "os.iem", "os.iem", 0},
      {32767, "olutil.iem", "olutil.iem", 0},
      {49800, "c++.iem", "c++.iem", 0}, /* names that keep their "c" */
      {77600, "cdr.iem", "cdr.iem", 0},
      {79000, "cdrcli.iem", "cdrcli.iem", 0},
      {11000, "cli.iem", "cli.iem", 0},
      {55200, "cockpit.iem", "cockpit.iem", 0},
      {82699, "cdr.iem", "cdr.iem", 0},
      {82700, "os.iem", "os.iem", -3},
      {INT32_MIN, "os.iem", "os.iem", -3},
  };
  for (const leaf_case &c : cases) {
    int result = 1;
    EXPECT_EQ(leaf_of(c.number, &result), c.client) << c.number;
    EXPECT_EQ(result, c.result) << c.number;
  }
  ASSERT_EQ(gen_resetMessageFindFile('s'), 0);
  for (const leaf_case &c : cases) {
    int result = 1;
    EXPECT_EQ(leaf_of(c.number, &result), c.server) << c.number;
    EXPECT_EQ(result, c.result) << c.number;
  }
  ASSERT_EQ(gen_resetMessageFindFile('c'), 0);
  int result = 1;
  EXPECT_EQ(leaf_of(-206, &result), "csql.iem");
}

TEST(MessageIndex, ServerIndexDiffersOnlyInTwentyTwoNames) {
  int rows = 0;
  int renamed = 0;
  for (; _cmfdvz[rows].mark != 0; ++rows) {
    const msg_file_row &client = _cmfdvz[rows];
    const msg_file_row &server = _smfdvz[rows];
    EXPECT_EQ(server.mark, client.mark);
    EXPECT_EQ(server.low, client.low);
    EXPECT_EQ(server.high, client.high);
    std::string_view c = client.leaf;
    std::string_view s = server.leaf;
    if (c == s) continue;
    ++renamed;
    EXPECT_TRUE(c == "c" + std::string(s) || (c == "csecure.iem" && s == "security.iem"))
        << c << " " << s;
  }
  EXPECT_EQ(rows, 143);
  EXPECT_EQ(_smfdvz[rows].mark, 0);
  /* 22 distinct names; csql.iem alone is on many rows. */
  EXPECT_GT(renamed, 22);
  std::vector<std::string_view> distinct;
  for (int i = 0; i < rows; ++i) {
    std::string_view c = _cmfdvz[i].leaf;
    if (c != _smfdvz[i].leaf && std::find(distinct.begin(), distinct.end(), c) == distinct.end()) {
      distinct.push_back(c);
    }
  }
  EXPECT_EQ(distinct.size(), 22u);
}

TEST(MessageIndex, UnknownLetterKeepsTheIndexButClearsTheOpenName) {
  gen_tcb *block = CheckGenInit();
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(gen_resetMessageFindFile('s'), 0);
  std::strcpy(block->msg_open_name, "sql.iem");
  block->msg_cached_number = -206;

  EXPECT_EQ(gen_resetMessageFindFile('x'), -1);
  EXPECT_EQ(block->msg_open_name[0], '\0');
  EXPECT_EQ(block->msg_cached_number, 0);
  EXPECT_EQ(_mfdvz, _smfdvz);
}

}  // namespace
