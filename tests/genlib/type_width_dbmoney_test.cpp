/*
** Display widths of DECIMAL and MONEY in a process whose DBMONEY is
** "DM,EUR": front symbol "DM", decimal separator ",", back symbol "EUR".
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gen_types.h"
#include "os_glsenv.h"

namespace {

TEST(TypeWidthDbmoney, MoneyWidthTakesTheCurrencySymbolsOfDbmoney) {
  ASSERT_STREQ(std::getenv("DBMONEY"), "DM,EUR");
  ASSERT_EQ(chkglsinit(), 0);
  struct Case {
    int code;
    int len;
    int width;
  };
  const Case cases[] = {{8, 0x0A02, 10 + 2 + 1 + 3 + 1},
                        {8, 0x0505, 5 + 2 + 1 + 3 + 2},
                        {8, 0x10FF, 16 + 2 + 1 + 3 + 1},
                        {5, 0x0A02, 10 + 1 + 1},
                        {5, 0x0AFF, 10 + 1 + 6}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.len));
    EXPECT_EQ(rtypwidth(c.code, c.len), c.width);
  }
}

}  // namespace
