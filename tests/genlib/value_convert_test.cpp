/*
** Tests of the typed value's conversions: one table of every source type
** against every conversion (value, error word and NULL forms), then the
** cases each conversion has of its own: "today", range limits, the work
** copy of long texts, DECIMAL fitting and the DATETIME helpers.
*/
#include <gtest/gtest.h>

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "dec_repr.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_dtarith.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "int8_values.h"
#include "os_gentcb.h"

namespace {

constexpr int year_to_day = TU_ENCODE(8, TU_YEAR, TU_DAY);
constexpr int year_to_second = TU_ENCODE(14, TU_YEAR, TU_SECOND);
constexpr int month_to_day = TU_ENCODE(4, TU_MONTH, TU_DAY);
constexpr int hour_to_second = TU_ENCODE(6, TU_HOUR, TU_SECOND);
constexpr int day3_to_hour = TU_ENCODE(5, TU_DAY, TU_HOUR);
constexpr int hour4_to_minute = TU_ENCODE(6, TU_HOUR, TU_MINUTE);

/* ---- Building values ---------------------------------------------------------- */

value_t text_value(int code, const char *text) {
  value_t v {};
  v.vtype = static_cast<int16_t>(code);
  v.vptr = const_cast<char *>(text);
  v.vlen = static_cast<int32_t>(std::strlen(text));
  return v;
}

std::string int8_text(const dvz_int8_t &v) {
  if (v.sign == 0) return "null";
  const uint64_t magnitude = static_cast<uint64_t>(v.high) << 32 | v.low;
  return (v.sign < 0 ? "-" : "") + std::to_string(magnitude);
}

/*
** A value of an SQL type from its text: the text itself for text types,
** a number, a DECIMAL, an INT8, a DATETIME or INTERVAL of qualifier, a
** BOOLEAN byte or opaque bytes. "null" gives a NULL value of the type.
*/
value_t make(int code, const char *text, int qualifier = 0) {
  value_t v {};
  v.vtype = static_cast<int16_t>(code);
  if (std::strcmp(text, "null") == 0) {
    if (code == sql_type_byte || code == sql_type_text) {
      nullblobval(&v, code);
      return v;
    }
    /* The NULL form the type's readers leave beside the indicator. */
    v.vind = -1;
    v.vprec = static_cast<int16_t>(qualifier);
    if (code == sql_type_integer || code == sql_type_date) v.vint = INT32_MIN;
    if (code == sql_type_decimal || code == sql_type_datetime) v.vdec.sign = -1;
    return v;
  }
  switch (code) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
    case sql_type_lvarchar:
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
    case sql_type_boolean:
      return text_value(code, text);
    case sql_type_smallint:
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      v.vint = static_cast<int32_t>(std::strtol(text, nullptr, 10));
      break;
    case sql_type_float:
      v.vdouble = std::strtod(text, nullptr);
      break;
    case sql_type_smallfloat:
      v.vfloat = std::strtof(text, nullptr);
      break;
    case sql_type_decimal:
    case sql_type_money:
      EXPECT_EQ(deccvasc(text, static_cast<int>(std::strlen(text)), &v.vdec), 0) << text;
      v.vprec = static_cast<int16_t>(dec2prec(&v.vdec));
      break;
    case sql_type_int8:
    case sql_type_serial8:
      v.vint8 = int8_test::make(std::strtoll(text, nullptr, 10));
      break;
    case sql_type_datetime:
      EXPECT_EQ(rstrdtime(text, &v.vdec, qualifier), 0) << text;
      v.vprec = static_cast<int16_t>(qualifier);
      break;
    case sql_type_interval:
      EXPECT_EQ(rstrinv(text, &v.vdec, qualifier), 0) << text;
      v.vprec = static_cast<int16_t>(qualifier);
      break;
    default:
      break; /* BYTE, TEXT, collections: an empty record */
  }
  return v;
}

/* ---- Showing results ---------------------------------------------------------- */

std::string date_text(int32_t date) {
  if (date == DATE_NULL) return "null";
  int16_t mdy[3];
  if (rjulmdy(date, mdy) != 0) return std::to_string(date);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", mdy[2], mdy[0], mdy[1]);
  return buf;
}

std::string double_text(double d) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

std::string trimmed(const char *text) {
  std::string s(text);
  s.erase(0, s.find_first_not_of(' '));
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

/* The conversions of the table, in its column order. */
enum conversion {
  c_toint,
  c_tolong,
  c_todate,
  c_toint8,
  c_todouble,
  c_todblnull,
  c_todecimal,
  c_todecimalmon,
  c_tocbool,
  c_todatetime,
  c_tointerval,
  conversion_count
};
constexpr const char *conversion_names[conversion_count] = {
    "toint",     "tolong",       "todate",  "toint8",     "todouble",  "todblnull",
    "todecimal", "todecimalmon", "tocbool", "todatetime", "tointerval"};

/* The outcome of one conversion as "value" or "value !error". Those that
** return the error word must return the one they leave. */
std::string run(conversion c, value_t v) {
  std::string value;
  int returned = 0;
  bool returns_error = true;
  switch (c) {
    case c_toint: {
      const int r = toint(&v);
      value = r == -32768 ? "null" : std::to_string(r);
      returns_error = false;
      break;
    }
    case c_tolong: {
      const int32_t r = tolong(&v);
      value = r == INT32_MIN ? "null" : std::to_string(r);
      returns_error = false;
      break;
    }
    case c_todate:
      value = date_text(todate(&v));
      returns_error = false;
      break;
    case c_toint8: {
      dvz_int8_t r = int8_test::make(99);
      returned = toint8(&v, &r);
      value = int8_text(r);
      break;
    }
    case c_todouble:
      value = double_text(todouble(&v));
      returns_error = false;
      break;
    case c_todblnull: {
      int isnull = 7;
      const double r = todblnull(&v, &isnull);
      value = isnull == 1 ? "null" : isnull == 0 ? double_text(r) : "?";
      returns_error = false;
      break;
    }
    case c_todecimal:
    case c_todecimalmon: {
      dec_t r;
      deccvint(99, &r);
      returned = c == c_todecimal ? todecimal(&v, &r) : todecimalmon(&v, &r);
      value = dec_test::plain(r);
      break;
    }
    case c_tocbool: {
      char r = 'x';
      returned = tocbool(&v, &r);
      value = r == 'x' ? "?" : std::to_string(static_cast<int>(r));
      break;
    }
    case c_todatetime: {
      dtime_t r {};
      returned = todatetime(&v, &r, year_to_day);
      EXPECT_EQ(r.dt_qual, year_to_day) << "the qualifier is set in every case";
      char buf[82] = "";
      value = r.dt_dec.sign == -1 ? "null" : (dttoasc(&r, buf), trimmed(buf));
      break;
    }
    case c_tointerval: {
      intrvl_t r {};
      returned = tointerval(&v, &r, hour4_to_minute);
      EXPECT_EQ(r.in_qual, hour4_to_minute) << "the qualifier is set in every case";
      char buf[82] = "";
      value = r.in_dec.sign == -1 ? "null" : (intoasc(&r, buf), trimmed(buf));
      break;
    }
    default:
      break;
  }
  const int error = get_toerrno();
  if (returns_error) {
    EXPECT_EQ(returned, error) << conversion_names[c] << " returns its error word";
  }
  return error == 0 ? value : value + " !" + std::to_string(error);
}

struct table_row {
  int code;
  const char *source;
  int qualifier;
  std::array<const char *, conversion_count> expect;
};

// clang-format off
/*
** Columns: toint, tolong, todate, toint8, todouble, todblnull, todecimal,
** todecimalmon, tocbool, todatetime(YEAR TO DAY), tointerval(HOUR(4) TO
** MINUTE). DATE 44998 is 2023-03-14.
*/
const table_row conversion_table[] = {
  {sql_type_char, "42", 0,
   {"42", "42", "null !-1206", "42", "42", "42", "42", "42", "? !-1260", "null !-1262", "null !-1262"}},
  {sql_type_varchar, " -17 ", 0,
   {"-17", "-17", "null !-1205", "-17", "-17", "-17", "-17", "-17", "? !-1260", "null !-1262", "null !-1262"}},
  {sql_type_nchar, "2023-03-14", 0,
   {"null !-1213", "null !-1213", "null !-1218", "null !-1213", "0 !-1213", "0 !-1213", "0 !-1213",
    "0 !-1213", "? !-1260", "2023-03-14", "null !-1262"}},
  {sql_type_char, "03/14/2023", 0,
   {"null !-1213", "null !-1213", "2023-03-14", "null !-1213", "0 !-1213", "0 !-1213", "0 !-1213",
    "0 !-1213", "? !-1260", "null !-1262", "null !-1262"}},
  {sql_type_nvarchar, "293:05", 0,
   {"null !-1213", "null !-1213", "null !-1206", "null !-1213", "0 !-1213", "0 !-1213", "0 !-1213",
    "0 !-1213", "? !-1260", "null !-1262", "293:05"}},
  {sql_type_lvarchar, "T", 0,
   {"null !-1213", "null !-1213", "null !-1205", "null !-1213", "0 !-1213", "0 !-1213", "0 !-1213",
    "0 !-1213", "1", "null !-1262", "null !-1262"}},
  {sql_type_char, "   ", 0,
   {"null", "null", "null", "null", "-nan", "null", "null", "null", "? !-1260", "null", "null"}},
  {sql_type_smallint, "-7", 0,
   {"-7", "-7", "1899-12-24", "-7", "-7", "-7", "-7", "-7", "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_smallint, "-32768", 0,
   {"null !-1214", "-32768", "1810-04-14", "null", "-32768", "-32768", "null", "null", "? !-1260",
    "null !-1260", "null !-1260"}},
  {sql_type_integer, "40000", 0,
   {"40000 !-1214", "40000", "2009-07-07", "40000", "40000", "40000", "40000", "40000", "? !-1260",
    "null !-1260", "null !-1260"}},
  {sql_type_serial, "-2147483648", 0,
   {"null !-1215", "null !-1215", "null !-1215", "null", "-2147483648", "-2147483648", "null", "null",
    "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_date, "44998", 0,
   {"44998 !-1214", "44998", "2023-03-14", "44998", "44998", "44998", "44998", "44998", "? !-1260",
    "2023-03-14", "null !-1260"}},
  {sql_type_float, "3.75", 0,
   {"3", "3", "1900-01-03", "3", "3.75", "3.75", "3.75", "3.75", "? !-1260", "null !-1260",
    "null !-1260"}},
  {sql_type_float, "-1e10", 0,
   {"null !-1215", "null !-1215", "null !-1215", "-10000000000", "-10000000000", "-10000000000",
    "-10000000000", "-10000000000", "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_smallfloat, "2.5", 0,
   {"2", "2", "1900-01-02", "2", "2.5", "2.5", "2.5", "2.5", "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_decimal, "123.456", 0,
   {"123", "123", "1900-05-03", "123", "123.456", "123.456", "123.456", "123.456", "? !-1260",
    "null !-1260", "0:01"}},
  {sql_type_decimal, "2147483648", 0,
   {"null !-1215", "null !-1215", "null !-1215", "2147483648", "2147483648", "2147483648", "2147483648",
    "2147483648", "? !-1260", "null !-1260", "0:00"}},
  {sql_type_money, "-0.5", 0,
   {"0", "0", "1899-12-31", "0", "-0.5", "-0.5", "-0.5", "-0.5", "? !-1260", "null !-1260",
    "null !-1260"}},
  {sql_type_int8, "-9000000000", 0,
   {"null !-1284", "null !-1284", "null !-1284", "-9000000000", "-9000000000", "-9000000000",
    "-9000000000", "-9000000000", "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_serial8, "12", 0,
   {"12", "12", "1900-01-12", "12", "12", "12", "12", "12", "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_datetime, "2023-03-14 10:11:12", year_to_second,
   {"null !-1260", "null !-1260", "2023-03-14", "null !-1260", "0 !-1260", "0 !-1260", "null !-1260",
    "null !-1260", "? !-1260", "2023-03-14", "null !-1260"}},
  {sql_type_interval, "12 05", day3_to_hour,
   {"null !-1260", "null !-1260", "null !-1260", "null !-1260", "0 !-1260", "0 !-1260", "null !-1260",
    "null !-1260", "? !-1260", "null !-1260", "293:00"}},
  {sql_type_byte, "", 0,
   {"null !-608", "null !-608", "null !-608", "null !-608", "0 !-608", "0 !-608", "null !-608",
    "null !-608", "? !-1260", "null !-608", "null !-608"}},
  {sql_type_text, "", 0,
   {"null !-608", "null !-608", "null !-608", "null !-608", "0 !-608", "0 !-608", "null !-608",
    "null !-608", "? !-1260", "null !-608", "null !-608"}},
  {sql_type_boolean, "\1", 0,
   {"null !-1260", "null !-1260", "null !-1260", "null !-1260", "0 !-1260", "0 !-1260", "null !-1260",
    "null !-1260", "1", "null !-1260", "null !-1260"}},
  {sql_type_variable_udt, "abc", 0,
   {"null !-1260", "null !-1260", "null !-1260", "null !-1260", "0 !-1260", "0 !-1260", "null !-1260",
    "null !-1260", "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_fixed_udt, "abc", 0,
   {"null !-1260", "null !-1260", "null !-1260", "null !-1260", "0 !-1260", "0 !-1260", "null !-1260",
    "null !-1260", "? !-1260", "null !-1260", "null !-1260"}},
  {sql_type_set, "", 0,
   {"null !-1260", "null !-1260", "null !-1260", "null !-1260", "0 !-1260", "0 !-1260", "null !-1260",
    "null !-1260", "? !-1260", "null !-1260", "null !-1260"}},
  /* NULL of every kind of source: the NULL form of each target, no error
  ** (todouble does not look at the indicator). */
  {sql_type_char, "null", 0,
   {"null", "null", "null", "null", "-nan", "null", "null", "null", "-1", "null", "null"}},
  {sql_type_integer, "null", 0,
   {"null", "null", "null", "null", "-2147483648", "null", "null", "null", "-1", "null", "null"}},
  {sql_type_decimal, "null", 0,
   {"null", "null", "null", "null", "-nan", "null", "null", "null", "-1", "null", "null"}},
  {sql_type_datetime, "null", year_to_second,
   {"null", "null", "null", "null", "0 !-1260", "null", "null", "null", "-1", "null", "null"}},
  {sql_type_text, "null", 0,
   {"null", "null", "null", "null", "0 !-608", "null", "null", "null", "-1", "null", "null"}},
  {sql_type_boolean, "null", 0,
   {"null", "null", "null", "null", "0 !-1260", "null", "null", "null", "-1", "null", "null"}},
};
// clang-format on

class ValueConvert : public ::testing::Test {
 protected:
  void SetUp() override { gen_setansidb(0); }
};

TEST_F(ValueConvert, EverySourceTypeAgainstEveryConversion) {
  for (const table_row &row : conversion_table) {
    for (int c = 0; c < conversion_count; ++c) {
      const value_t v = make(row.code, row.source, row.qualifier);
      EXPECT_EQ(run(static_cast<conversion>(c), v), row.expect[c])
          << "type " << row.code << " \"" << row.source << "\" " << conversion_names[c];
    }
  }
}

/* Only the whole text, trailing blanks aside, means today; "" is NULL and
** prefixes of "today" are read as dates (and fail). */
TEST_F(ValueConvert, TodayIsTheWholeTextInAnyCase) {
  const int32_t pinned = 44998;
  rsettoday(&pinned);
  struct {
    const char *text;
    bool today;
  } cases[] = {{"today", true},   {"TODAY", true},   {"today  ", true}, {"ToDaY", true},
               {"", false},       {"t", false},      {"to", false},     {"tod", false},
               {" today", false}, {"todays", false}, {"today x", false}};
  for (const auto &c : cases) {
    for (int code : {sql_type_char, sql_type_varchar, sql_type_lvarchar}) {
      value_t v = text_value(code, c.text);
      const int32_t date = todate(&v);
      if (c.today) {
        EXPECT_EQ(date, pinned) << '"' << c.text << '"';
        EXPECT_EQ(get_toerrno(), 0) << '"' << c.text << '"';
      } else {
        EXPECT_NE(date, pinned) << '"' << c.text << '"';
      }
    }
  }
  value_t empty = text_value(sql_type_char, "");
  EXPECT_EQ(todate(&empty), DATE_NULL);
  EXPECT_EQ(get_toerrno(), 0);
  rsettoday(nullptr);
}

TEST_F(ValueConvert, DateRangeLimits) {
  struct {
    int32_t day;
    int error;
  } cases[] = {{DATE_MIN, 0}, {DATE_MAX, 0}, {DATE_MIN - 1, -1210}, {DATE_MAX + 1, -1210}, {0, 0}};
  for (const auto &c : cases) {
    value_t v = make(sql_type_integer, std::to_string(c.day).c_str());
    EXPECT_EQ(todate(&v), c.day);
    EXPECT_EQ(get_toerrno(), c.error) << c.day;
  }
  /* A DATETIME outside the DATE range cannot come from valid units, but a
  ** text DATE beyond it is refused by the parser. */
  value_t text = text_value(sql_type_char, "01/01/10000");
  EXPECT_EQ(todate(&text), DATE_NULL);
  EXPECT_NE(get_toerrno(), 0);
}

TEST_F(ValueConvert, SixteenAndThirtyTwoBitLimits) {
  struct {
    int code;
    const char *source;
    int toint_value;
    int toint_error;
    int32_t tolong_value;
    int tolong_error;
  } cases[] = {
      {sql_type_smallint, "32767", 32767, 0, 32767, 0},
      {sql_type_smallint, "-32767", -32767, 0, -32767, 0},
      {sql_type_integer, "32768", 32768, -1214, 32768, 0},
      {sql_type_integer, "-32768", -32768, -1214, -32768, 0},
      {sql_type_integer, "2147483647", 2147483647, -1214, 2147483647, 0},
      {sql_type_decimal, "32767.9", 32767, 0, 32767, 0},
      {sql_type_decimal, "-32767.9", -32767, 0, -32767, 0},
      {sql_type_decimal, "2147483647", 2147483647, -1214, 2147483647, 0},
      {sql_type_decimal, "-2147483647", -2147483647, -1214, -2147483647, 0},
      {sql_type_decimal, "-2147483648", -32768, -1215, INT32_MIN, -1215},
      {sql_type_int8, "2147483647", 2147483647, -1214, 2147483647, 0},
      {sql_type_int8, "2147483648", -32768, -1284, INT32_MIN, -1284},
      {sql_type_char, "99999999999", -32768, -1215, INT32_MIN, -1215},
      {sql_type_char, "12abc", -32768, -1213, INT32_MIN, -1213},
  };
  for (const auto &c : cases) {
    value_t v = make(c.code, c.source);
    EXPECT_EQ(toint(&v), c.toint_value) << c.source;
    EXPECT_EQ(get_toerrno(), c.toint_error) << c.source;
    EXPECT_EQ(tolong(&v), c.tolong_value) << c.source;
    EXPECT_EQ(get_toerrno(), c.tolong_error) << c.source;
  }
}

/* Texts longer than the local buffer go through a heap copy with the same
** results; a 39-byte text is the longest that stays local. */
TEST_F(ValueConvert, LongTextsConvertLikeShortOnes) {
  for (size_t pad : {0u, 30u, 36u, 37u, 38u, 39u, 60u, 500u}) {
    const std::string number = std::string(pad, '0') + "1.5";
    value_t v = text_value(sql_type_varchar, number.c_str());
    EXPECT_EQ(todouble(&v), 1.5) << number.size();
    EXPECT_EQ(get_toerrno(), 0);
    dec_t d;
    EXPECT_EQ(todecimal(&v, &d), 0);
    EXPECT_EQ(dec_test::plain(d), "1.5");

    const std::string date = "2023-03-14" + std::string(pad, ' ');
    value_t dt = text_value(sql_type_char, date.c_str());
    dtime_t r;
    EXPECT_EQ(todatetime(&dt, &r, year_to_day), 0) << date.size();
    char buf[82];
    dttoasc(&r, buf);
    EXPECT_STREQ(buf, "2023-03-14");
  }
}

/* A text without bytes: todecimal leaves its target as it was; the other
** conversions read it as the empty text. */
TEST_F(ValueConvert, TextWithoutAPointer) {
  value_t v {};
  v.vtype = sql_type_char;
  v.vlen = 5;
  dec_t d;
  deccvint(7, &d);
  EXPECT_EQ(todecimal(&v, &d), 0);
  EXPECT_EQ(dec_test::plain(d), "7");
  EXPECT_EQ(toint(&v), -32768);
  EXPECT_EQ(get_toerrno(), 0);
  int isnull = 0;
  todblnull(&v, &isnull);
  EXPECT_EQ(isnull, 1);
}

TEST_F(ValueConvert, BooleanFromTextAndByte) {
  struct {
    int code;
    const char *source;
    int expect; /* -2: -1260 and the target untouched */
  } cases[] = {
      {sql_type_char, "t", 1},   {sql_type_char, "T", 1},      {sql_type_varchar, "f", 0},
      {sql_type_nchar, "F", 0},  {sql_type_char, "true", -2},  {sql_type_char, "t ", -2},
      {sql_type_char, "", -2},   {sql_type_char, "1", -2},     {sql_type_boolean, "\1", 1},
      {sql_type_boolean, "", 0}, {sql_type_boolean, "\2", -2}, {sql_type_integer, "1", -2}};
  for (const auto &c : cases) {
    value_t v = make(c.code, c.source);
    if (c.code == sql_type_boolean) v.vlen = 1; /* "" is the byte 0 */
    char r = 'x';
    const int status = tocbool(&v, &r);
    if (c.expect == -2) {
      EXPECT_EQ(status, -1260) << c.source;
      EXPECT_EQ(r, 'x') << c.source;
    } else {
      EXPECT_EQ(status, 0) << c.source;
      EXPECT_EQ(r, c.expect) << c.source;
    }
  }
}

TEST_F(ValueConvert, MoneyTextUsesTheMonetaryConventions) {
  struct {
    const char *text;
    const char *money;
    int money_error;
    int plain_error;
  } cases[] = {
      {"$1,234.50", "1234.5", 0, -1213}, {"$-0.25", "-0.25", 0, -1213}, {"12.5", "12.5", 0, 0}};
  for (const auto &c : cases) {
    value_t v = text_value(sql_type_char, c.text);
    dec_t d;
    EXPECT_EQ(todecimalmon(&v, &d), c.money_error) << c.text;
    if (c.money_error == 0) {
      EXPECT_EQ(dec_test::plain(d), c.money) << c.text;
    }
    EXPECT_EQ(todecimal(&v, &d), c.plain_error) << c.text;
  }
}

TEST_F(ValueConvert, DatetimeAndIntervalQualifiers) {
  /* Qualifier 0 stands for the value's own. */
  value_t dt = make(sql_type_datetime, "2023-03-14 10:11:12", year_to_second);
  dtime_t r;
  EXPECT_EQ(todatetime(&dt, &r, 0), 0);
  EXPECT_EQ(r.dt_qual, year_to_second);
  char buf[82];
  dttoasc(&r, buf);
  EXPECT_STREQ(buf, "2023-03-14 10:11:12");
  EXPECT_EQ(todatetime(&dt, &r, hour_to_second), 0);
  dttoasc(&r, buf);
  EXPECT_STREQ(buf, "10:11:12");
  /* An invalid target, or digits the source qualifier does not allow. */
  EXPECT_EQ(todatetime(&dt, &r, TU_ENCODE(4, TU_DAY, TU_YEAR)), -1268);
  EXPECT_EQ(r.dt_dec.sign, -1);
  value_t bad = dt;
  bad.vdec.pairs[2] = 13; /* month 13 */
  EXPECT_EQ(todatetime(&bad, &r, year_to_day), -1263);

  value_t in = make(sql_type_interval, "12 05", day3_to_hour);
  intrvl_t ri;
  /* 12 days 5 hours do not fit a first field of no DAY digits. */
  EXPECT_EQ(tointerval(&in, &ri, TU_ENCODE(4, TU_DAY, TU_MINUTE)), -1265);
  EXPECT_EQ(tointerval(&in, &ri, TU_ENCODE(4, TU_HOUR, TU_DAY)), -1268);
  EXPECT_EQ(tointerval(&in, &ri, TU_ENCODE(4, TU_YEAR, TU_MONTH)), -1266);
  EXPECT_EQ(tointerval(&in, &ri, 0), 0);
  EXPECT_EQ(ri.in_qual, day3_to_hour);
  /* A DATETIME is no INTERVAL, a DATE no INTERVAL either. */
  EXPECT_EQ(tointerval(&dt, &ri, day3_to_hour), -1260);
  value_t date = make(sql_type_date, "44998");
  EXPECT_EQ(tointerval(&date, &ri, day3_to_hour), -1260);
}

/* chkprec against values worked by hand: rounding half away from zero to
** the scale, and the integer digits the word leaves. */
/* A DATETIME into its own qualifier keeps its digits exactly (but a digit
** beyond its pairs and the units digit of an odd end unit), refuses a unit
** out of range and leaves NULL then; extending to another qualifier and
** back gives the same value. */
TEST_F(ValueConvert, DatetimeIntoItsOwnQualifier) {
  constexpr int hour_to_fraction3 = TU_ENCODE(9, TU_HOUR, TU_F3);
  constexpr int year_to_fraction5 = TU_ENCODE(19, TU_YEAR, TU_F5);
  struct {
    const char *text;
    int qualifier;
    int pair; /* a pair to overwrite, -1 none */
    int with;
    int status;
  } cases[] = {
      {"2023-03-14 10:11:12", year_to_second, -1, 0, 0},
      {"2024-02-29", year_to_day, -1, 0, 0},
      {"0001-01-01 00:00:00", year_to_second, -1, 0, 0},
      {"9999-12-31 23:59:59", year_to_second, -1, 0, 0},
      {"10:11:12.345", hour_to_fraction3, -1, 0, 0},
      {"12-31", month_to_day, -1, 0, 0},
      /* An odd end unit keeps the tens of its last pair only. */
      {"10:11:12.345", hour_to_fraction3, 4, 55, 0},
      /* A digit beyond the qualifier's pairs is dropped. */
      {"10:11:12", hour_to_second, 3, 7, 0},
      {"2023-03-14 10:11:12", year_to_second, 2, 13, -1263}, /* month 13 */
      {"2023-02-14 10:11:12", year_to_second, 3, 29, -1263}, /* 29 February 2023 */
      {"2023-03-14 10:11:12", year_to_second, 4, 24, -1263}, /* hour 24 */
      {"2023-03-14 10:11:12", year_to_second, 6, 60, -1263}, /* second 60 */
  };
  for (const auto &c : cases) {
    value_t v = make(sql_type_datetime, c.text, c.qualifier);
    if (c.pair >= 0) {
      v.vdec.pairs[c.pair] = static_cast<uint8_t>(c.with);
      if (c.pair >= v.vdec.npairs) v.vdec.npairs = static_cast<int16_t>(c.pair + 1);
    }
    dtime_t own {};
    EXPECT_EQ(todatetime(&v, &own, c.qualifier), c.status) << c.text;
    EXPECT_EQ(own.dt_qual, c.qualifier) << c.text;
    EXPECT_EQ(get_toerrno(), c.status) << c.text;
    if (c.status != 0) {
      EXPECT_EQ(own.dt_dec.sign, -1) << c.text;
      continue;
    }
    if (c.pair < 0) {
      EXPECT_EQ(dec_test::repr(own.dt_dec), dec_test::repr(v.vdec)) << c.text;
    }
    /* Out to the widest qualifier and back: the frames route. */
    dec_t wide {};
    dec_t back {};
    ASSERT_EQ(rdtextend(&v.vdec, c.qualifier, &wide, year_to_fraction5), 0) << c.text;
    ASSERT_EQ(rdtextend(&wide, year_to_fraction5, &back, c.qualifier), 0) << c.text;
    EXPECT_EQ(dec_test::repr(back), dec_test::repr(own.dt_dec)) << c.text;
    EXPECT_EQ(rdtextend(&v.vdec, c.qualifier, &back, c.qualifier), 0) << c.text;
    EXPECT_EQ(dec_test::repr(back), dec_test::repr(own.dt_dec)) << c.text;
  }
  /* A NULL value under its own qualifier stays NULL. */
  dec_t null_value {};
  null_value.sign = -1;
  dec_t out {};
  EXPECT_EQ(rdtextend(&null_value, year_to_second, &out, year_to_second), 0);
  EXPECT_EQ(out.sign, -1);
}

TEST_F(ValueConvert, DecimalFitsThePrecisionWord) {
  struct {
    const char *value;
    int word;
    int result;
    const char *after;
  } cases[] = {
      {"123.456", 0x0502, 0, "123.46"},
      {"123.456", 0x0402, -1, "123.46"},
      {"99.995", 0x0402, -1, "100"},
      {"99.994", 0x0402, 0, "99.99"},
      {"-99.995", 0x0502, 0, "-100"},
      {"0.001", 0x0303, 0, "0.001"},
      {"0.0004", 0x0303, 0, "0"},
      {"12345", 0x0500, 0, "12345"},
      {"123456", 0x0500, -1, "123456"},
      {"0.5", 0x0100, 0, "1"},
      {"12345.678", 0x05FF, 0, "12346"},
      {"1.23456789", 0x03FF, 0, "1.23"},
      {"123456789", 0x03FF, 0, "123000000"},
      {"0.000123456", 0x03FF, 0, "0.000123"},
      {"1", 0x0000, -1, "1"},
  };
  for (const auto &c : cases) {
    dec_t d;
    ASSERT_EQ(deccvasc(c.value, static_cast<int>(std::strlen(c.value)), &d), 0);
    EXPECT_EQ(chkprec(&d, c.word), c.result) << c.value << " " << std::hex << c.word;
    EXPECT_EQ(dec_test::plain(d), c.after) << c.value << " " << std::hex << c.word;
  }
}

TEST_F(ValueConvert, ValidDoubles) {
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    double d;
    int valid;
  } cases[] = {{0.0, 1},
               {-0.0, 1},
               {std::numeric_limits<double>::max(), 1},
               {std::numeric_limits<double>::denorm_min(), 1},
               {inf, 0},
               {-inf, 0},
               {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto &c : cases)
    EXPECT_EQ(is_valid_double(c.d), c.valid) << c.d;
}

TEST_F(ValueConvert, NullBlobAndCollectionValues) {
  value_t v;
  std::memset(&v, 0x5A, sizeof v);
  nullblobval(&v, 0x100 | sql_type_text);
  EXPECT_EQ(v.vtype, sql_type_text);
  EXPECT_EQ(v.vind, -1);
  EXPECT_EQ(v.vxid, 0);
  EXPECT_EQ(v.vblob.tb_flags, TBLOB_NULL);
  EXPECT_EQ(v.vblob.tb_words[0], 0);

  std::memset(&v, 0x5A, sizeof v);
  nullcollval(&v, sql_type_list);
  EXPECT_EQ(v.vtype, sql_type_list);
  EXPECT_EQ(v.vind, -1);
  EXPECT_EQ(v.vcoll.cl_flags, DVZ_COLL_NULL);
  EXPECT_EQ(v.vcoll.cl_data, nullptr);
}

TEST_F(ValueConvert, MonthDayAndYearOfADatetime) {
  /* Leading units missing from the value come from the current time. */
  dec_t now;
  ASSERT_EQ(rstrdtime("2031-07-04 00:00:00", &now, year_to_second), 0);
  rdtsetcurr(&now);
  struct {
    const char *text;
    int qualifier;
    int16_t mdy[3];
  } cases[] = {{"2023-03-14 10:11:12", year_to_second, {3, 14, 2023}},
               {"0001-01-01", year_to_day, {1, 1, 1}},
               {"12-25", month_to_day, {12, 25, 2031}},
               {"10:11:12", hour_to_second, {7, 4, 2031}}};
  for (const auto &c : cases) {
    value_t v = make(sql_type_datetime, c.text, c.qualifier);
    int16_t mdy[3] = {-1, -1, -1};
    EXPECT_EQ(todate1(&v, mdy), 0) << c.text;
    EXPECT_EQ(mdy[0], c.mdy[0]) << c.text;
    EXPECT_EQ(mdy[1], c.mdy[1]) << c.text;
    EXPECT_EQ(mdy[2], c.mdy[2]) << c.text;
  }
  rdtsetcurr(nullptr);
  value_t null_value = make(sql_type_datetime, "null", year_to_second);
  int16_t mdy[3] = {-1, -1, -1};
  EXPECT_EQ(todate1(&null_value, mdy), 0);
  EXPECT_EQ(mdy[0] | mdy[1] | mdy[2], 0);
}

/* The unit pairs of a value land in the qualifier's pairs only, whatever
** the value's own digits and exponent say. */
TEST_F(ValueConvert, UnpacksIntoTheQualifiersPairsOnly) {
  dec_t v;
  ASSERT_EQ(rstrdtime("2023-03-14 10:11:12", &v, year_to_second), 0);
  std::array<unsigned char, 24> out;
  out.fill(0xEE);
  EXPECT_EQ(dtunpack_datetime(&v, year_to_day, out.data()), 7);
  const unsigned char ymd[] = {20, 23, 3, 14};
  EXPECT_EQ(std::memcmp(out.data(), ymd, sizeof ymd), 0);
  for (size_t i = sizeof ymd; i < out.size(); ++i)
    ASSERT_EQ(out[i], 0xEE) << i;

  out.fill(0xEE);
  EXPECT_EQ(dtunpack_datetime(&v, hour_to_second, out.data()), 3);
  /* Exponent 7 of the value lies above the qualifier's 3: zeros only. */
  const unsigned char zeros[3] = {};
  EXPECT_EQ(std::memcmp(out.data(), zeros, 3), 0);
  EXPECT_EQ(out[3], 0xEE);
}

}  // namespace
