/*
** Value transfer between host variables of different types, as GET
** DIAGNOSTICS hands its items over: character, integer and DECIMAL
** sources into character and integer targets; types without a value and
** failed conversions are recorded.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "gen_types.h"
#include "sqli_context.h"
#include "sqli_hostvar.h"

namespace {

class HostvarTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CheckGlobInit(), nullptr);
    _sqclrca(sqlitcb);
  }
};

TEST_F(HostvarTransfer, ConvertsBetweenHostTypes) {
  char text[16];
  const int32_t number = -1829;
  ASSERT_EQ(_sqvar2var(reinterpret_cast<const char *>(&number), host_type_long, 4, text,
                       host_type_char, sizeof text),
            0);
  EXPECT_STREQ(text, "-1829          ") << "a char variable is blank-padded";
  int32_t back = 0;
  ASSERT_EQ(_sqvar2var(text, host_type_char, static_cast<int>(std::strlen(text)),
                       reinterpret_cast<char *>(&back), host_type_int, 4),
            0);
  EXPECT_EQ(back, -1829);
  char state[6];
  ASSERT_EQ(_sqvar2var("IX000", host_type_char, 5, state, host_type_char, sizeof state), 0);
  EXPECT_STREQ(state, "IX000");
  char narrow[3];
  EXPECT_EQ(_sqvar2var("IX000", host_type_char, 5, narrow, host_type_char, sizeof narrow), 0)
      << "a truncated text is no error";
  EXPECT_STREQ(narrow, "IX");
  EXPECT_EQ(SQLCODE, 0);
}

TEST_F(HostvarTransfer, RefusesTypesWithoutAValueAndRecordsFailures) {
  struct Row {
    int srctype;
    int dsttype;
  };
  const Row refused[] = {
      {-1, host_type_char}, {host_type_char, -1}, {200, host_type_char}, {host_type_char, 231}};
  for (const Row &r : refused) {
    _sqclrca(sqlitcb);
    char out[8] = "keep";
    EXPECT_EQ(_sqvar2var("12", r.srctype, 2, out, r.dsttype, sizeof out), -486);
    EXPECT_EQ(SQLCODE, -486);
    EXPECT_STREQ(out, "keep");
  }
  _sqclrca(sqlitcb);
  int16_t small = 0;
  const int code =
      _sqvar2var("99999", host_type_char, 5, reinterpret_cast<char *>(&small), host_type_short, 2);
  EXPECT_LT(code, 0) << "99999 does not fit a SMALLINT";
  EXPECT_EQ(SQLCODE, code);
}

}  // namespace
