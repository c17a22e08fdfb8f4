/*
** INT8 text under DBMONEY "DM,": the conventions in force then have ","
** as decimal point and "." as thousands separator, and the reader follows
** them. Its own process: the conventions are loaded once.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gen_int8.h"

namespace {

TEST(Int8TextDbmoney, ReadsWithTheDecimalPointAndSeparatorInForce) {
  struct Case {
    const char *text;
    int status;
    int64_t value;
  };
  const Case cases[] = {
      {"1.234.567,89", 0, 1234567}, {"-12,75", 0, -12},  {"12,5e1", 0, 125},
      {"12.75", 0, 1275},           {"1,2,3", -1213, 0}, {"12,5.0e1", -1213, 0},
  };
  for (const Case &c : cases) {
    const std::string text = c.text;
    std::vector<char> exact(text.begin(), text.end());
    dvz_int8_t v {};
    ASSERT_EQ(dvz_int8cvasc(exact.data(), static_cast<int>(exact.size()), &v), c.status) << c.text;
    if (c.status != 0) continue;
    const int64_t m = static_cast<int64_t>((uint64_t {v.high} << 32) | v.low);
    EXPECT_EQ(v.sign < 0 ? -m : m, c.value) << c.text;
  }
}

}  // namespace
