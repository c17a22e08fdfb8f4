/*
** Value transfer between host variables of different types, as GET
** DIAGNOSTICS hands its items over: character, integer and DECIMAL
** sources into character and integer targets; types without a value and
** failed conversions are recorded.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "gen_types.h"
#include "gen_value.h"
#include "sqli_context.h"
#include "sqli_dynamic.h"
#include "sqli_hostvar.h"
#include "sqli_status.h"

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

TEST_F(HostvarTransfer, IndicatorsIntoAndFromIndicatorVariablesOfAnyType) {
  struct Case {
    int type;
    int len;
    int16_t ind;
    int code;
  };
  const Case cases[] = {{host_type_short, 2, -1, 0},       {host_type_int, 4, 12, 0},
                        {host_type_long, 4, -1, 0},        {host_type_char, 8, 25, 0},
                        {host_type_double, 8, 7, 0},       {host_type_char, 2, 250, -456},
                        {host_type_decimal, 0x0300, -1, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    _sqclrca(sqlitcb);
    alignas(16) char var[32] = {};
    EXPECT_EQ(_sqindhost(c.ind, var, c.type, c.len), c.code);
    if (c.code != 0) {
      EXPECT_EQ(SQLCODE, c.code);
      continue;
    }
    int16_t back = 0;
    EXPECT_EQ(_sqhostind(var, c.type, c.len, &back), 0);
    EXPECT_EQ(back, c.ind) << "the value reads back through the value conversion";
  }
}

TEST_F(HostvarTransfer, HostValuesTakeTheirIndicatorAndTypesWithoutValueAreRefused) {
  int32_t number = 41;
  int16_t ind = 0;
  sqlvar_struct h {};
  h.sqltype = host_type_int;
  h.sqllen = 4;
  h.sqldata = reinterpret_cast<char *>(&number);
  h.sqlind = &ind;
  value_t v {};
  ASSERT_EQ(_sqhostval(&h, &v), 0);
  EXPECT_EQ(v.vind, 0);
  EXPECT_EQ(v.vint, 41);
  ind = -1;
  ASSERT_EQ(_sqhostval(&h, &v), 0);
  EXPECT_EQ(v.vind, -1);

  char text_ind[4] = "-1";
  h.sqlind = nullptr;
  h.sqlidata = text_ind;
  h.sqlitype = host_type_char;
  h.sqlilen = sizeof text_ind;
  ASSERT_EQ(_sqhostval(&h, &v), 0);
  EXPECT_EQ(v.vind, -1) << "the indicator variable of type char";

  h.sqltype = 201;
  EXPECT_EQ(_sqhostval(&h, &v), -1);
  EXPECT_EQ(nonC_to_sql(201), -1);
  EXPECT_EQ(nonC_to_sql(host_type_int), sql_type_integer);
  EXPECT_EQ(nonC_to_sql(host_type_varchar), sql_type_varchar);
}

TEST_F(HostvarTransfer, HostValuesIntoStoredFields) {
  int32_t number = 258;
  sqlvar_struct h {};
  h.sqltype = host_type_int;
  h.sqllen = 4;
  h.sqldata = reinterpret_cast<char *>(&number);
  unsigned char field[4] = {};
  ASSERT_EQ(_sqvar2data(&h, reinterpret_cast<char *>(field), sql_type_integer, 4, 0), 0);
  EXPECT_EQ(field[2], 1);
  EXPECT_EQ(field[3], 2);

  /* A NULL character value is stored empty only when asked. */
  int16_t null_ind = -1;
  char text[4] = "abc";
  h.sqltype = host_type_char;
  h.sqllen = sizeof text;
  h.sqldata = text;
  h.sqlind = &null_ind;
  char stored[5] = "xxxx";
  ASSERT_EQ(_sqvar2data(&h, stored, sql_type_char, 4, 0), 0);
  EXPECT_EQ(stored[0], '\0') << "the NULL form of CHAR";
  std::memcpy(stored, "xxxx", 4);
  ASSERT_EQ(_sqvar2data(&h, stored, sql_type_char, 4, 1), 0);
  EXPECT_EQ(std::string(stored, 4), "    ") << "an empty value, blank-padded";
}

}  // namespace
