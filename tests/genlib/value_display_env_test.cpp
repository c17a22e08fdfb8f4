/*
** Display text under settings read once per process, one program per
** setting (the build picks the suite with a definition):
**   DVZ_DISPLAY_DBMONEY  DBMONEY=DM,EUR: front "DM", decimal separator ",",
**                        back "EUR";
**   DVZ_DISPLAY_DTENV    USE_DTENV=1: DATETIME text through the locale
**                        environment's format table;
**   DVZ_DISPLAY_UTF8     CLIENT_LOCALE=en_US.utf8: a cut character value
**                        never ends in part of a character.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_dtformat.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "os_glsenv.h"

namespace {

value_t of_type(int type) {
  value_t v {};
  v.vtype = static_cast<int16_t>(type);
  return v;
}

/* rvalstr into width bytes (0: the terminated text); "" after an error. */
std::string shown(value_t v, int width, int left, int *rc = nullptr) {
  char buffer[128];
  std::memset(buffer, 0x5A, sizeof buffer);
  const int status = rvalstr(&v, buffer, width, left);
  if (rc != nullptr) *rc = status;
  if (width > 0) return std::string(buffer, static_cast<size_t>(width));
  return status == 0 ? std::string(buffer) : std::string();
}

#if defined(DVZ_DISPLAY_DBMONEY)

value_t number(int type, const char *text, int precision) {
  value_t v = of_type(type);
  EXPECT_EQ(deccvasc(text, static_cast<int>(std::strlen(text)), &v.vdec), 0) << text;
  v.vprec = static_cast<int16_t>(precision);
  return v;
}

/* Values are read in the conventions in force: "," is the decimal point. */
TEST(ValueDisplayDbmoney, MoneyTakesTheSymbolsAndSeparatorOfDbmoney) {
  ASSERT_STREQ(std::getenv("DBMONEY"), "DM,EUR");
  ASSERT_EQ(chkglsinit(), 0);
  struct Case {
    const char *value;
    int precision;
    int width;
    int left;
    std::string field;
    int rc;
  };
  const Case cases[] = {
      {"1234,5", 0x0802, 0, 1, "DM1234,50EUR", 0},
      {"-12,345", 0x0803, 0, 1, "DM-12,345EUR", 0},
      {"7", 0x10FF, 0, 1, "DM7,00EUR", 0},
      {"1234,5", 0x0802, 12, 0, "DM1234,50EUR", 0},
      {"1234,5", 0x0802, 11, 1, "DM1234,5EUR", 0},
      {"1,5", 0x0802, 80, 0, std::string(71, ' ') + "DM1,50EUR", 0},
      {"1,5", 0x0802, 80, 1, "DM1,50EUR" + std::string(71, ' '), 0},
      {"1,5", 0x0802, 5, 0, "*****", -1207},
      {"1,5", 0x0802, 1, 1, "*", -1207},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.value) + " width " + std::to_string(c.width));
    int rc = 0;
    EXPECT_EQ(shown(number(sql_type_money, c.value, c.precision), c.width, c.left, &rc), c.field);
    EXPECT_EQ(rc, c.rc);
  }
}

TEST(ValueDisplayDbmoney, NumbersUseTheDecimalSeparatorOfDbmoney) {
  ASSERT_EQ(chkglsinit(), 0);
  EXPECT_EQ(shown(number(sql_type_decimal, "3,5", 0x0502), 0, 1), "3,50");
  value_t f = of_type(sql_type_float);
  f.vdouble = 3.14;
  EXPECT_EQ(shown(f, 0, 1), "3,1400000000000001");
  f.vdouble = 1e200;
  EXPECT_EQ(shown(f, 0, 1), "1,000000e+200");
}

#elif defined(DVZ_DISPLAY_DTENV)

constexpr int year_to_second = TU_ENCODE(14, TU_YEAR, TU_SECOND);
constexpr unsigned char guard = 0xA5;

value_t christmas() {
  dtime_t when {};
  when.dt_qual = year_to_second;
  value_t v = of_type(sql_type_datetime);
  v.vprec = static_cast<int16_t>(year_to_second);
  /* Built from its units: the parser also reads through the table. */
  unsigned char units[DT_UNITS_SIZE] = {20, 24, 12, 25, 22, 11, 12};
  EXPECT_EQ(dtpack(&when.dt_dec, year_to_second, units, 1), 0);
  v.vdec = when.dt_dec;
  return v;
}

/* The YEAR TO SECOND entry of the environment's table. */
char *&table_entry() { return CheckGlsEnv()->dtime_formats[0][5]; }

/* rvalstr with width 0 into an 82-byte field between guard bytes. */
std::string shown_in_82(const value_t &v, int *rc) {
  unsigned char area[8 + 82 + 8];
  std::memset(area, guard, sizeof area);
  value_t copy = v;
  *rc = rvalstr(&copy, reinterpret_cast<char *>(area + 8), 0, 1);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(area[i], guard) << "before the field";
    EXPECT_EQ(area[8 + 82 + i], guard) << "after the field";
  }
  const void *end = std::memchr(area + 8, '\0', 82);
  EXPECT_NE(end, nullptr);
  if (end == nullptr) return {};
  const char *start = reinterpret_cast<char *>(area + 8);
  return std::string(start, static_cast<const char *>(end));
}

class ValueDisplayDtenv : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(get_usedtenv(), 0);
    ASSERT_EQ(chkglsinit(), 0);
    saved_ = table_entry();
    table_entry() = nullptr;
  }
  void TearDown() override {
    std::free(table_entry());
    table_entry() = saved_;
  }

 private:
  char *saved_ = nullptr;
};

TEST_F(ValueDisplayDtenv, EmptySlotIsFilledFromTheQualifier) {
  int rc = 0;
  EXPECT_EQ(shown_in_82(christmas(), &rc), "Wed 25 Dec 2024 10:11:12PM");
  EXPECT_EQ(rc, 0);
  ASSERT_NE(table_entry(), nullptr);
  std::unique_ptr<char, decltype(&std::free)> expected(qualtofmt(year_to_second, nullptr),
                                                       &std::free);
  EXPECT_STREQ(table_entry(), expected.get());
}

TEST_F(ValueDisplayDtenv, TheTableEntryIsTheFormat) {
  table_entry() = strdup("%Y/%m/%d %H.%M.%S");
  int rc = 0;
  EXPECT_EQ(shown_in_82(christmas(), &rc), "2024/12/25 22.11.12");
  EXPECT_EQ(rc, 0);
  value_t v = christmas();
  EXPECT_EQ(shown(v, 21, 0), "  2024/12/25 22.11.12");
  EXPECT_EQ(shown(v, 18, 0, &rc), std::string(18, '*'));
  EXPECT_EQ(rc, -1207);
}

/* The formatter is given 81 characters: a text of exactly 81 fills the
** 82 bytes with its terminator, a longer one never passes them. */
TEST_F(ValueDisplayDtenv, EightyOneCharactersAtMost) {
  const std::string literal(81 - 4, 'x');
  table_entry() = strdup((literal + "%Y").c_str());
  int rc = 0;
  EXPECT_EQ(shown_in_82(christmas(), &rc), literal + "2024");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(shown(christmas(), 80, 1, &rc), std::string(80, '*'));
  EXPECT_EQ(rc, -1207);

  std::free(table_entry());
  table_entry() = strdup((literal + "x%Y").c_str());
  const std::string text = shown_in_82(christmas(), &rc);
  if (rc == 0) {
    EXPECT_LE(text.size(), 81u);
  }
}

#elif defined(DVZ_DISPLAY_UTF8)

TEST(ValueDisplayUtf8, CutNeverLeavesPartOfACharacter) {
  ASSERT_EQ(chkglsinit(), 0);
  static const char text[] =
      "a\xC3\xA9"
      "b\xE2\x82\xAC";  // a, e acute, b, euro sign
  value_t v = of_type(sql_type_char);
  v.vptr = const_cast<char *>(text);
  v.vlen = 7;
  struct Case {
    int width;
    std::string field;
  };
  const Case cases[] = {
      {1, "a"},
      {2, "a "},
      {3, "a\xC3\xA9"},
      {5,
       "a\xC3\xA9"
       "b "},
      {6,
       "a\xC3\xA9"
       "b  "},
      {7,
       "a\xC3\xA9"
       "b\xE2\x82\xAC"},
      {9,
       "a\xC3\xA9"
       "b\xE2\x82\xAC  "},
  };
  for (const Case &c : cases) {
    int rc = -1;
    EXPECT_EQ(shown(v, c.width, 1, &rc), c.field) << "width " << c.width;
    EXPECT_EQ(rc, 0);
  }
}

#endif

}  // namespace
