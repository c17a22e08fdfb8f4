/*
** Display text of typed values under en_us with DBMONEY, DBDATE and
** USE_DTENV unset: the text of each type, the fitting into a field (widths
** 0, 1, 5 and 80, left and right), FLOAT text against the committed Python
** decimal table and the C library's "%.*e", and stored columns through
** rdatastr. The own-process variants are in value_display_env_test.cpp.
*/
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "os_glsenv.h"
#include "value_builders.h"

namespace {

using namespace value_test;

constexpr int too_long = -1207;
constexpr unsigned char guard = 0xA5;
constexpr int guard_size = 8;

/* What rvalstr wrote: the field (width bytes, or the text up to its
** terminator for width 0) and the result; guard bytes on both sides and
** after the terminator are checked. */
struct shown {
  int rc;
  std::string field;
};

template <typename Writer>
shown show_with(Writer writer, value_t v, int width, int left) {
  const int room = width > 0 ? width : 200;
  std::vector<unsigned char> area(static_cast<size_t>(room + 2 * guard_size), guard);
  char *buffer = reinterpret_cast<char *>(area.data() + guard_size);
  shown s {writer(&v, buffer, width, left), {}};
  for (int i = 0; i < guard_size; ++i) {
    EXPECT_EQ(area[static_cast<size_t>(i)], guard) << "byte before the field";
    EXPECT_EQ(area[static_cast<size_t>(guard_size + room + i)], guard) << "byte after the field";
  }
  if (width > 0) {
    s.field.assign(buffer, static_cast<size_t>(width));
  } else {
    const void *end = std::memchr(buffer, '\0', static_cast<size_t>(room));
    EXPECT_NE(end, nullptr) << "width 0 terminates the text";
    if (end != nullptr) s.field.assign(buffer, static_cast<const char *>(end) - buffer);
  }
  return s;
}

shown show(const value_t &v, int width = 0, int left = 1) {
  return show_with(rvalstr, v, width, left);
}

std::string blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }
std::string stars(int n) { return std::string(static_cast<size_t>(n), '*'); }

class ValueDisplay : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chkglsinit(), 0);
    saved_flt_ = dbfltprec;
    saved_smflt_ = dbsmfltprec;
  }
  void TearDown() override {
    dbfltprec = saved_flt_;
    dbsmfltprec = saved_smflt_;
  }

 private:
  int saved_flt_ = 0;
  int saved_smflt_ = 0;
};

/* ---- Fitting ------------------------------------------------------------------ */

struct FitCase {
  const char *name;
  value_t value;
  int width;
  int left;
  std::string field;
  int rc;
};

TEST_F(ValueDisplay, FitsTextToWidthsZeroOneFiveAndEighty) {
  const FitCase cases[] = {
      {"smallint w5 right", int_value(sql_type_smallint, 42), 5, 0, "   42", 0},
      {"smallint w5 left", int_value(sql_type_smallint, 42), 5, 1, "42   ", 0},
      {"smallint w0", int_value(sql_type_smallint, 42), 0, 0, "42", 0},
      {"smallint w1 right", int_value(sql_type_smallint, 42), 1, 0, "*", too_long},
      {"smallint w1 left", int_value(sql_type_smallint, 42), 1, 1, "*", too_long},
      {"smallint w80 left", int_value(sql_type_smallint, 42), 80, 1, "42" + blanks(78), 0},
      {"smallint w80 right", int_value(sql_type_smallint, 42), 80, 0, blanks(78) + "42", 0},
      {"integer fills w5", int_value(sql_type_integer, 12345), 5, 0, "12345", 0},
      {"integer over w5", int_value(sql_type_integer, 123456), 5, 1, stars(5), too_long},
      {"integer w0", int_value(sql_type_integer, -2147483647), 0, 1, "-2147483647", 0},
      {"decimal w5 right", decimal_value(sql_type_decimal, "3.5", 0x0502), 5, 0, " 3.50", 0},
      {"decimal w5 left", decimal_value(sql_type_decimal, "3.5", 0x0502), 5, 1, "3.50 ", 0},
      {"decimal w1", decimal_value(sql_type_decimal, "3.5", 0x0502), 1, 1, "4", 0},
      {"decimal w80", decimal_value(sql_type_decimal, "-3.5", 0x0502), 80, 0, blanks(75) + "-3.50",
       0},
      {"int8 w0", int8_value(sql_type_int8, 12345678901), 0, 1, "12345678901", 0},
      {"int8 w5", int8_value(sql_type_int8, 12345678901), 5, 0, stars(5), too_long},
      {"int8 w80 right", int8_value(sql_type_int8, -5), 80, 0, blanks(78) + "-5", 0},
      {"float w5 keeps what fits", double_value(3.14), 5, 1, "3.140", 0},
      {"float w1", double_value(3.14), 1, 0, "3", 0},
      {"float w1 negative", double_value(-3.14), 1, 0, "*", too_long},
      {"null w5", null_value(sql_type_integer), 5, 0, blanks(5), 0},
      {"null w0", null_value(sql_type_decimal), 0, 0, "", 0},
      {"null w1", null_value(sql_type_date), 1, 1, " ", 0},
      {"null w80", null_value(sql_type_float), 80, 1, blanks(80), 0},
      {"null width below 0", null_value(sql_type_char), -3, 1, "", 0},
  };
  for (const FitCase &c : cases) {
    SCOPED_TRACE(c.name);
    const shown s = show(c.value, c.width, c.left);
    EXPECT_EQ(s.rc, c.rc);
    EXPECT_EQ(s.field, c.field);
  }
}

/* ---- Each type's text ------------------------------------------------------------ */

TEST_F(ValueDisplay, IntegersPrintLikeTheCLibrary) {
  const int32_t integers[] = {0, 1, -1, 2147483647, -2147483647, 1000000, -42};
  for (int32_t x : integers) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "%" PRId32, x);
    EXPECT_EQ(show(int_value(sql_type_integer, x)).field, expected);
    value_t serial = int_value(sql_type_integer, x);
    serial.vtype = sql_type_serial;
    EXPECT_EQ(show(serial).field, expected);
  }
  const int smallints[] = {0, 32767, -32767, 7};
  for (int x : smallints)
    EXPECT_EQ(show(int_value(sql_type_smallint, x)).field, std::to_string(x));
  /* Flags above the low byte do not change the type. */
  value_t flagged = int_value(sql_type_smallint, 9);
  flagged.vtype = static_cast<int16_t>(sql_type_smallint | 0x100);
  EXPECT_EQ(show(flagged).field, "9");
}

TEST_F(ValueDisplay, CharacterValuesAreTheirOwnBytes) {
  static const char eight[] = "abcdefgh";
  struct Case {
    int type;
    int width;
    std::string field;
  };
  const Case cases[] = {
      {sql_type_char, 4, "abcd"},           {sql_type_char, 0, "abcdefgh"},
      {sql_type_varchar, 10, "abcdefgh  "}, {sql_type_nchar, 8, "abcdefgh"},
      {sql_type_nvarchar, 1, "a"},          {sql_type_lvarchar, 0, "abcdefgh"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " width " + std::to_string(c.width));
    const shown s = show(text_value(c.type, eight, 8), c.width, 1);
    EXPECT_EQ(s.rc, 0) << "a cut is not an error";
    EXPECT_EQ(s.field, c.field);
  }
  /* Right-justification does not apply to character values. */
  EXPECT_EQ(show(text_value(sql_type_char, eight, 3), 5, 0).field, "abc  ");
  EXPECT_EQ(show(text_value(sql_type_char, nullptr, 0), 3, 0).field, blanks(3));
}

TEST_F(ValueDisplay, BooleanIsTOrF) {
  static const char one = 1;
  static const char zero = 0;
  value_t yes = text_value(sql_type_boolean, &one, 1);
  value_t no = text_value(sql_type_boolean, &zero, 1);
  EXPECT_EQ(show(yes).field, "t");
  EXPECT_EQ(show(yes, 3, 0).field, "t  ");
  EXPECT_EQ(show(no, 1).field, "f");
  EXPECT_EQ(show(null_value(sql_type_boolean), 2).field, "  ");
}

TEST_F(ValueDisplay, DecimalShowsItsScaleAndFloatingDecimalDbfltprec) {
  EXPECT_EQ(show(decimal_value(sql_type_decimal, "3.5", 0x0502)).field, "3.50");
  EXPECT_EQ(show(decimal_value(sql_type_decimal, "3.5", 0x10FF)).field, "3.5000000000000000");
  EXPECT_EQ(show(decimal_value(sql_type_decimal, "-0.125", 0x0503)).field, "-0.125");
  EXPECT_EQ(show(decimal_value(sql_type_decimal, "12", 0x0500)).field, "12");
  dbfltprec = 3;
  EXPECT_EQ(show(decimal_value(sql_type_decimal, "3.5", 0x10FF)).field, "3.500");
}

TEST_F(ValueDisplay, FloatShowsSixteenDecimalsAndStopsBelowOne) {
  EXPECT_EQ(show(double_value(3.14)).field, "3.1400000000000001");
  EXPECT_EQ(show(double_value(0.1)).field, "0.1");
  EXPECT_EQ(show(double_value(0.0)).field, "0.00");
  EXPECT_EQ(show(double_value(-2.5)).field, "-2.5000000000000000");
  dbfltprec = 2;
  EXPECT_EQ(show(double_value(3.14159)).field, "3.14");
}

/* Beyond the DECIMAL range the C library's exponential text, with as many
** decimals as dbfltprec (at most 6) and the field allow. */
TEST_F(ValueDisplay, FloatOutsideTheDecimalRangeIsExponential) {
  struct Case {
    double value;
    int width;
    int precision;
    int decimals; /* of the C library's text */
  };
  const Case cases[] = {
      {1e200, 0, 16, 6},  {-1e200, 0, 16, 6}, {1e-200, 80, 16, 6}, {1e200, 0, 2, 2},
      {1e200, 0, 0, 0},   {1e200, 10, 16, 2}, {-1e200, 10, 16, 1}, {1e200, 8, 16, 0},
      {-1e200, 8, 16, 0}, {2e124, 0, 6, 6},   {9e-131, 0, 4, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " width " + std::to_string(c.width));
    dbfltprec = c.precision;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.*e", c.decimals, c.value);
    const shown s = show(double_value(c.value), c.width, 0);
    std::string text = s.field;
    text.erase(0, text.find_first_not_of(' '));
    EXPECT_EQ(text, expected);
    EXPECT_EQ(s.rc,
              c.width > 0 && std::strlen(expected) > static_cast<size_t>(c.width) ? too_long : 0);
  }
  dbfltprec = 16;
  EXPECT_EQ(show(double_value(1e200), 5).rc, too_long);
  EXPECT_EQ(show(double_value(1e200), 5).field, stars(5));
}

TEST_F(ValueDisplay, FloatThatIsNoNumberIsAnError) {
  EXPECT_EQ(show(double_value(std::numeric_limits<double>::infinity())).rc, -1223);
  EXPECT_EQ(show(double_value(-std::numeric_limits<double>::infinity())).rc, -1223);
  EXPECT_EQ(show(double_value(std::numeric_limits<double>::quiet_NaN())).rc, -1223);
}

TEST_F(ValueDisplay, SmallfloatFollowsDbsmfltprecThenDbfltprec) {
  EXPECT_EQ(show(float_value(1.5f)).field, "1.5000000000000000");
  EXPECT_EQ(show(float_value(0.25f)).field, "0.25");
  dbfltprec = 3;
  EXPECT_EQ(show(float_value(1.5f)).field, "1.500");
  dbsmfltprec = 1;
  EXPECT_EQ(show(float_value(1.5f)).field, "1.5");
  EXPECT_EQ(show(float_value(-2.25f)).field, "-2.3");
}

/* Every FLOAT of the committed table (Python decimal: 17 significant
** digits rounded half up to 16 decimals; C's "%.6e" beyond the DECIMAL
** range). */
TEST_F(ValueDisplay, FloatTextAgreesWithThePythonDecimalTable) {
  std::ifstream table(DVZ_FLOAT_DISPLAY_CASES);
  ASSERT_TRUE(table.is_open()) << DVZ_FLOAT_DISPLAY_CASES;
  std::string line;
  int fixed_rows = 0;
  int exp_rows = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string kind;
    std::string bits_text;
    std::string expected;
    ASSERT_TRUE(fields >> kind >> bits_text >> expected) << line;
    const uint64_t bits = std::stoull(bits_text, nullptr, 16);
    double x = 0;
    std::memcpy(&x, &bits, sizeof x);
    if (kind == "exp") {
      char c_text[64];
      std::snprintf(c_text, sizeof c_text, "%.6e", x);
      ASSERT_EQ(expected, c_text) << "the table and the C library agree";
      ++exp_rows;
    } else {
      ASSERT_EQ(kind, "fixed");
      ++fixed_rows;
    }
    const shown s = show(double_value(x));
    EXPECT_EQ(s.rc, 0) << line;
    EXPECT_EQ(s.field, expected) << line;
  }
  EXPECT_GT(fixed_rows, 0);
  EXPECT_GT(exp_rows, 0);
}

TEST_F(ValueDisplay, DateTextSetsVlen) {
  value_t v = date_value(12, 25, 2024);
  const int32_t day = v.vint;
  char expected[1024];
  ASSERT_EQ(rdatestr(day, expected), 0);
  ASSERT_STREQ(expected, "12/25/2024");
  shown s = show_with(rvalstr, v, 0, 1);
  EXPECT_EQ(s.field, expected);
  ASSERT_EQ(rvalstr(&v, expected, 12, 0), 0);
  EXPECT_EQ(v.vlen, 10) << "the text length is kept in the value";
  EXPECT_EQ(v.vint, day) << "and the day number is untouched";
  EXPECT_EQ(std::string(expected, 12), "  12/25/2024");
  EXPECT_EQ(show(v, 5).field, stars(5));
}

TEST_F(ValueDisplay, DatetimeAndIntervalUseTheirFixedLayout) {
  value_t dt = of_type(sql_type_datetime);
  dtime_t when {};
  when.dt_qual = TU_ENCODE(14, TU_YEAR, TU_SECOND);
  ASSERT_EQ(dtcvasc("2024-12-25 22:11:12", &when), 0);
  dt.vdec = when.dt_dec;
  dt.vprec = static_cast<int16_t>(when.dt_qual);
  EXPECT_EQ(show(dt).field, "2024-12-25 22:11:12");
  EXPECT_EQ(show(dt, 10).rc, too_long);

  value_t span = of_type(sql_type_interval);
  intrvl_t length {};
  length.in_qual = TU_ENCODE(11, TU_DAY, TU_SECOND);
  ASSERT_EQ(incvasc("-3 04:00:00", &length), 0);
  span.vdec = length.in_dec;
  span.vprec = static_cast<int16_t>(length.in_qual);
  std::string text = show(span).field;
  text.erase(0, text.find_first_not_of(' '));
  EXPECT_EQ(text, "-3 04:00:00");
}

TEST_F(ValueDisplay, MoneyUnderTheLocaleConventions) {
  EXPECT_EQ(show(decimal_value(sql_type_money, "1234.5", 0x0802)).field, "$1234.50");
  /* The locale's formatter writes the amount with its sign, the front
  ** symbol goes before it; with room to spare, the locale's two decimals. */
  EXPECT_EQ(show(decimal_value(sql_type_money, "-12.345", 0x0803)).field, "$-12.35");
  EXPECT_EQ(show(decimal_value(sql_type_money, "7", 0x10FF), 10, 0).field, "     $7.00");
  /* A narrow field drops the decimals before it gives up. */
  struct Case {
    int width;
    std::string field;
    int rc;
  };
  const Case narrow[] = {{8, "$1234.56", 0},
                         {7, "  $1235", 0},
                         {6, " $1235", 0},
                         {5, "$1235", 0},
                         {4, "****", too_long}};
  for (const Case &c : narrow) {
    const shown s = show(decimal_value(sql_type_money, "1234.56", 0x0802), c.width, 0);
    EXPECT_EQ(s.field, c.field) << c.width;
    EXPECT_EQ(s.rc, c.rc) << c.width;
  }
  EXPECT_EQ(show(decimal_value(sql_type_money, "1234.5", 0x0802), 1).rc, too_long);
  EXPECT_EQ(show(decimal_value(sql_type_money, "1234.5", 0x0802), 1).field, "*");
}

TEST_F(ValueDisplay, TypesWithoutTextAreRefused) {
  const int types[] = {sql_type_byte,        sql_type_text, sql_type_set, sql_type_row, 30,
                       sql_type_variable_udt};
  for (int type : types) {
    value_t v = of_type(type);
    EXPECT_EQ(show(v, 0).rc, -1260) << type;
    EXPECT_EQ(show(v, 0).field, "") << type;
  }
}

/* Whatever the type word and precision word say, the text stays in its
** field (the guard bytes of show_with) and the result is 0 or an error. */
TEST_F(ValueDisplay, AnyTypeWordStaysInItsField) {
  const int precisions[] = {0, 0x0502, 0x10FF, 0x0E0A, 0x0B4A, -1};
  for (int type = 0; type < 256; ++type) {
    for (int precision : precisions) {
      for (int width : {0, 5}) {
        value_t v = of_type(type | 0x800);
        v.vprec = static_cast<int16_t>(precision);
        EXPECT_LE(show(v, width, 0).rc, 0) << type << " " << precision;
      }
    }
  }
}

/* ---- 16-digit FLOAT text and stored columns ------------------------------------ */

TEST_F(ValueDisplay, SixteenDigitTextForFloatOnly) {
  dbfltprec = 2;
  auto show16 = [](const value_t &v, int width = 0) {
    return show_with(rvalstr_16prec, v, width, 1);
  };
  EXPECT_EQ(show16(double_value(3.14)).field, "3.1400000000000001");
  EXPECT_EQ(show16(double_value(0.1)).field, "0.10000000000000001");
  EXPECT_EQ(show16(double_value(std::numeric_limits<double>::infinity())).field, "inf");
  EXPECT_EQ(show16(double_value(3.14), 4).field, stars(4));
  EXPECT_EQ(show16(double_value(3.14), 4).rc, too_long);
  value_t flagged = double_value(3.14);
  flagged.vtype = static_cast<int16_t>(sql_type_float | 0x100);
  EXPECT_EQ(show16(flagged).field, "3.14") << "only the type word 3 itself";
  EXPECT_EQ(show16(int_value(sql_type_smallint, 42), 5).field, "42   ");
  EXPECT_EQ(show16(null_value(sql_type_float), 3).field, blanks(3));
}

TEST_F(ValueDisplay, StoredColumnsThroughRdatastr) {
  struct Case {
    std::vector<unsigned char> bytes;
    int type;
    int length;
    int width;
    std::string field;
    int rc;
  };
  const Case cases[] = {
      {{0x00, 0x2A}, sql_type_smallint, 2, 4, "  42", 0},
      {{0x80, 0x00}, sql_type_smallint, 2, 4, blanks(4), 0},
      {{0xFF, 0xFF, 0xFF, 0xD6}, sql_type_integer, 4, 0, "-42", 0},
      {{0x00, 0x00}, 30, 2, 0, "", -1285},
      /* LVARCHAR(2) columns of 7 bytes: a stored length beyond them is
      ** refused, never read. */
      {{0, 0, 0, 0, 2, 'h', 'i'}, sql_type_lvarchar, 2, 4, "hi  ", 0},
      {{0, 0, 0, 0x03, 0xE8, 'h', 'i'}, sql_type_lvarchar, 2, 12, "", -1815},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    char buffer[16] = {};
    const int rc = rdatastr(reinterpret_cast<const char *>(c.bytes.data()), c.type, c.length,
                            buffer, c.width, 0);
    EXPECT_EQ(rc, c.rc);
    if (rc == 0) {
      EXPECT_EQ(
          c.width > 0 ? std::string(buffer, static_cast<size_t>(c.width)) : std::string(buffer),
          c.field);
    }
  }
}

}  // namespace
