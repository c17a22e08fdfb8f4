/*
** Host variables: rcvarval builds values from program variables (NULL by
** indicator or by the variable's NULL form, each host type's value area),
** and rvalcvar stores values into them (character variables and their
** indicators, numbers through the conversions, DECIMAL precision, binary
** and lvarchar buffers that may grow, locators, files, collections).
** Every variable sits between guard bytes, so a store past its size shows.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "value_builders.h"

namespace {

using namespace value_test;

constexpr unsigned char guard = 0xA5;
constexpr int guard_size = 8;

/* A variable of size bytes between guard bytes, filled with fill. */
class guarded {
 public:
  explicit guarded(int size, unsigned char fill = 0x5A)
      : size_(size), area_(static_cast<size_t>(size + 2 * guard_size), guard) {
    std::memset(data(), fill, static_cast<size_t>(size));
  }
  char *data() { return reinterpret_cast<char *>(area_.data() + guard_size); }
  std::string bytes() { return std::string(data(), static_cast<size_t>(size_)); }
  bool guards_intact() const {
    for (int i = 0; i < guard_size; ++i)
      if (area_[static_cast<size_t>(i)] != guard ||
          area_[static_cast<size_t>(guard_size + size_ + i)] != guard)
        return false;
    return true;
  }

 private:
  int size_;
  std::vector<unsigned char> area_;
};

std::string decimal_text(const dec_t &d) {
  char field[40];
  EXPECT_EQ(dectoasc(&d, field, sizeof field, -1), 0);
  std::string s(field, sizeof field);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

template <typename T>
T read_back(guarded &g) {
  T v;
  std::memcpy(&v, g.data(), sizeof v);
  return v;
}

class HostVars : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chkglsinit(), 0); }
};

/* ---- Character variables ----------------------------------------------------------- */

struct CharacterCase {
  const char *name;
  value_t value;
  int type;
  int length;
  std::string bytes; /* the variable's length bytes afterwards */
  int indicator;
  int rc;
};

TEST_F(HostVars, CharacterVariablesTakeTheDisplayText) {
  static const char ten[] = "abcdefghij";
  const CharacterCase cases[] = {
      {"varchar into char", text_value(sql_type_varchar, "abc"), host_type_char, 6,
       std::string("abc  \0", 6), 0, 0},
      {"varchar into string", text_value(sql_type_varchar, "abc"), host_type_string, 6,
       std::string("abc\0 \0", 6), 0, 0},
      {"varchar into varchar", text_value(sql_type_varchar, "abc"), host_type_varchar, 6,
       std::string("abc\0 \0", 6), 0, 0},
      {"char cut in char", text_value(sql_type_char, ten), host_type_char, 6,
       std::string("abcde\0", 6), 10, 0},
      {"char cut in string", text_value(sql_type_char, ten), host_type_string, 6,
       std::string("abcde\0", 6), 10, 0},
      {"integer too wide", int_value(sql_type_integer, 12345), host_type_char, 4,
       std::string("***\0", 4), 1, -1207},
      {"integer in char", int_value(sql_type_integer, -12), host_type_char, 5,
       std::string("-12 \0", 5), 0, 0},
      {"integer by SQL code", int_value(sql_type_integer, 7), sql_type_char, 3,
       std::string("7 \0", 3), 0, 0},
      {"fixchar is padded", text_value(sql_type_char, "abc"), host_type_fixchar, 5, "abc  ", 0, 0},
      {"fixchar cut", text_value(sql_type_char, ten), host_type_fixchar, 4, "abcd", 10, 0},
      {"string drops blanks", text_value(sql_type_char, "ab   "), host_type_string, 8,
       std::string("ab\0    \0", 8), 0, 0},
      {"all blanks in string", text_value(sql_type_char, "   "), host_type_string, 5,
       std::string("\0   \0", 5), 0, 0},
      {"varchar keeps blanks", text_value(sql_type_char, "ab  "), host_type_varchar, 8,
       std::string("ab  \0  \0", 8), 0, 0},
      {"number in varchar", int_value(sql_type_integer, 42), host_type_varchar, 5,
       std::string("42  \0", 5), 0, 0},
      {"lvarchar as varchar", text_value(sql_type_lvarchar, "xy"), host_type_lvarchar, 4,
       std::string("xy\0\0", 4), 0, 0},
      {"length 1 empties", text_value(sql_type_char, "abc"), host_type_char, 1,
       std::string("\0", 1), 1, -1235},
  };
  for (const CharacterCase &c : cases) {
    SCOPED_TRACE(c.name);
    guarded variable(c.length);
    int16_t indicator = 99;
    value_t v = c.value;
    EXPECT_EQ(rvalcvar(&v, variable.data(), c.type, c.length, &indicator), c.rc);
    EXPECT_EQ(get_toerrno(), c.rc);
    EXPECT_EQ(variable.bytes(), c.bytes);
    EXPECT_EQ(indicator, c.indicator);
    EXPECT_TRUE(variable.guards_intact());
  }
}

TEST_F(HostVars, LengthZeroIsAnUnlimitedCharacterVariable) {
  guarded variable(16);
  value_t v = text_value(sql_type_varchar, "abcdefghij");
  int16_t indicator = 99;
  EXPECT_EQ(rvalcvar(&v, variable.data(), host_type_char, 0, &indicator), 0);
  EXPECT_STREQ(variable.data(), "abcdefghij");
  EXPECT_EQ(indicator, 0);
  value_t n = int_value(sql_type_integer, 1234567);
  EXPECT_EQ(rvalcvar(&n, variable.data(), host_type_string, 0, nullptr), 0);
  EXPECT_STREQ(variable.data(), "1234567");
  EXPECT_TRUE(variable.guards_intact());
}

/* The indicator is 16 bits: a cut value longer than it can count reports
** the largest length it holds, never a negative (NULL) one. */
TEST_F(HostVars, IndicatorOfAVeryLongCutValueStaysPositive) {
  const std::string long_text(40000, 'x');
  value_t v = text_value(sql_type_varchar, long_text.c_str());
  guarded variable(6);
  int16_t indicator = 0;
  EXPECT_EQ(rvalcvar(&v, variable.data(), host_type_char, 6, &indicator), 0);
  EXPECT_EQ(indicator, 32767);
  EXPECT_EQ(variable.bytes(), std::string("xxxxx\0", 6));
}

TEST_F(HostVars, DateInVarcharEndsAfterItsText) {
  value_t v = date_value(7, 4, 2024);
  guarded variable(16);
  EXPECT_EQ(rvalcvar(&v, variable.data(), host_type_varchar, 16, nullptr), 0);
  EXPECT_EQ(variable.bytes(), std::string("07/04/2024\0    \0", 16));
}

/* ---- NULL ---------------------------------------------------------------------------- */

TEST_F(HostVars, NullValueStoresTheNullFormAndIndicatorMinusOne) {
  struct Case {
    int type;
    int size;
    std::string bytes;
  };
  const Case cases[] = {
      {host_type_long, 4, std::string("\0\0\0\x80", 4)},
      {host_type_float, 4, std::string(4, '\xFF')},
      {host_type_double, 8, std::string(8, '\xFF')},
      {host_type_short, 2, std::string("\0\x80", 2)},
      {sql_type_integer, 4, std::string("\0\0\0\x80", 4)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    value_t v = int_value(sql_type_integer, 5);
    v.vind = -1;
    guarded variable(c.size);
    int16_t indicator = 99;
    EXPECT_EQ(rvalcvar(&v, variable.data(), c.type, c.size, &indicator), 0);
    EXPECT_EQ(variable.bytes(), c.bytes);
    EXPECT_EQ(indicator, -1);
    EXPECT_TRUE(variable.guards_intact());
  }
  value_t v = text_value(sql_type_char, "abc");
  v.vind = -1;
  guarded text(4);
  EXPECT_EQ(rvalcvar(&v, text.data(), host_type_char, 4, nullptr), 0);
  EXPECT_EQ(text.data()[0], '\0');
}

/* ---- Numbers --------------------------------------------------------------------------- */

TEST_F(HostVars, NumbersGoThroughTheConversions) {
  guarded l(4);
  int16_t indicator = 99;
  value_t v = text_value(sql_type_char, " 123");
  EXPECT_EQ(rvalcvar(&v, l.data(), host_type_long, 4, &indicator), 0);
  EXPECT_EQ(read_back<int32_t>(l), 123);
  EXPECT_EQ(indicator, 0);

  guarded s(2);
  v = int_value(sql_type_integer, 40000);
  EXPECT_EQ(rvalcvar(&v, s.data(), host_type_short, 2, &indicator), -1214);
  EXPECT_EQ(indicator, 1);

  v = int_value(sql_type_integer, -7);
  EXPECT_EQ(rvalcvar(&v, l.data(), host_type_int, 4, &indicator), 0) << "102 is 103";
  EXPECT_EQ(read_back<int32_t>(l), -7);

  guarded d(8);
  v = decimal_value(sql_type_decimal, "2.5", 0x0201);
  EXPECT_EQ(rvalcvar(&v, d.data(), host_type_double, 8, &indicator), 0);
  EXPECT_EQ(read_back<double>(d), 2.5);

  guarded i8(static_cast<int>(sizeof(dvz_int8_t)));
  v = int_value(sql_type_integer, -5);
  EXPECT_EQ(rvalcvar(&v, i8.data(), host_type_int8, 0, nullptr), 0);
  int32_t back = 0;
  const auto stored = read_back<dvz_int8_t>(i8);
  EXPECT_EQ(dvz_int8tolong(&stored, &back), 0);
  EXPECT_EQ(back, -5);
  EXPECT_TRUE(l.guards_intact() && s.guards_intact() && d.guards_intact() && i8.guards_intact());
}

TEST_F(HostVars, FloatVariableRefusesWhatAFloatCannotHold) {
  struct Case {
    double value;
    int rc;
  };
  const Case cases[] = {{1.5, 0},       {-3.25e38, 0}, {3.5e38, -1222}, {-1e39, -1222},
                        {1e-39, -1222}, {2e-38, 0},    {0.0, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    value_t v = of_type(sql_type_float);
    v.vdouble = c.value;
    guarded f(4);
    int16_t indicator = 99;
    EXPECT_EQ(rvalcvar(&v, f.data(), host_type_float, 4, &indicator), c.rc);
    EXPECT_EQ(indicator, c.rc != 0 ? 1 : 0);
    if (c.rc == 0) {
      EXPECT_EQ(read_back<float>(f), static_cast<float>(c.value));
    }
  }
}

TEST_F(HostVars, DecimalIsFittedToTheVariablePrecision) {
  struct Case {
    int value_type;
    int variable_type;
    int length;
    const char *expected;
    int rc;
  };
  const Case cases[] = {
      {sql_type_decimal, host_type_decimal, 0x0502, "12.35", 0},
      {sql_type_decimal, host_type_decimal, 0x0302, nullptr, -1226},
      {sql_type_decimal, host_type_decimal, 0x0803, "12.345", 0},
      {sql_type_decimal, host_type_decimal, 22, "12.345", 0},
      {sql_type_money, host_type_money, 0x0502, "12.35", 0},
      {sql_type_money, host_type_money, 0x0302, nullptr, -1226},
      {sql_type_decimal, host_type_money, 0x0502, "12.345", 0},
      {sql_type_money, host_type_decimal, 0x0502, "12.345", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.value_type) + " into " + std::to_string(c.variable_type) + " / " +
                 std::to_string(c.length));
    value_t v = decimal_value(c.value_type, "12.345", 0x0803);
    guarded d(static_cast<int>(sizeof(dec_t)));
    int16_t indicator = 99;
    EXPECT_EQ(rvalcvar(&v, d.data(), c.variable_type, c.length, &indicator), c.rc);
    if (c.expected != nullptr) {
      EXPECT_EQ(decimal_text(read_back<dec_t>(d)), c.expected);
    }
    EXPECT_EQ(indicator, c.rc != 0 ? 1 : 0);
    EXPECT_TRUE(d.guards_intact());
  }
}

/* ---- Binary and lvarchar buffers ------------------------------------------------------- */

dvz_hostbuf_t hostbuf(int16_t flags, char *data, int32_t size) {
  dvz_hostbuf_t b {};
  b.flags = flags;
  b.data = data;
  b.size = size;
  b.length = 0;
  return b;
}

TEST_F(HostVars, GrowingLvarcharPointerIsReallocatedToFit) {
  static const char text[] = "a longer lvarchar value";
  value_t v = text_value(sql_type_lvarchar, text);
  dvz_hostbuf_t b =
      hostbuf(HOSTVAR_GROWABLE | HOSTVAR_NULL, static_cast<char *>(std::malloc(4)), 4);
  EXPECT_EQ(rvalcvar(&v, reinterpret_cast<char *>(&b), host_type_lvarchar_ptr, 0, nullptr), 0);
  ASSERT_NE(b.data, nullptr);
  EXPECT_EQ(b.size, static_cast<int32_t>(sizeof text));
  EXPECT_EQ(b.length, static_cast<int32_t>(sizeof text - 1));
  EXPECT_STREQ(b.data, text) << "copied and terminated";
  EXPECT_EQ(b.flags, HOSTVAR_GROWABLE) << "the NULL flag is cleared";
  std::free(b.data);

  char fixed[8];
  b = hostbuf(0, fixed, sizeof fixed);
  EXPECT_EQ(rvalcvar(&v, reinterpret_cast<char *>(&b), host_type_lvarchar_ptr, 0, nullptr), -1821);
  EXPECT_EQ(b.data, fixed);

  value_t short_value = text_value(sql_type_lvarchar, "1234567");
  EXPECT_EQ(
      rvalcvar(&short_value, reinterpret_cast<char *>(&b), host_type_lvarchar_ptr, 0, nullptr), 0);
  EXPECT_STREQ(fixed, "1234567") << "exactly the room with its terminator";
}

TEST_F(HostVars, VariableBinaryTakesUdtValuesOnly) {
  static const char bytes[] = {1, 2, 0, 3};
  value_t v = of_type(sql_type_variable_udt);
  v.vptr = const_cast<char *>(bytes);
  v.vlen = 4;
  char room[4] = {};
  dvz_hostbuf_t b = hostbuf(HOSTVAR_NULL, room, 4);
  EXPECT_EQ(rvalcvar(&v, reinterpret_cast<char *>(&b), host_type_variable_binary, 0, nullptr), 0);
  EXPECT_EQ(std::memcmp(room, bytes, 4), 0) << "no terminator needed";
  EXPECT_EQ(b.length, 4);
  EXPECT_EQ(b.flags, 0);

  value_t text = text_value(sql_type_lvarchar, "ab");
  EXPECT_EQ(rvalcvar(&text, reinterpret_cast<char *>(&b), host_type_variable_binary, 0, nullptr),
            -1260);
  EXPECT_EQ(rvalcvar(&v, reinterpret_cast<char *>(&b), host_type_lvarchar_ptr, 0, nullptr), -1260);

  guarded fixed(3);
  value_t fixed_udt = v;
  fixed_udt.vtype = sql_type_fixed_udt;
  EXPECT_EQ(rvalcvar(&fixed_udt, fixed.data(), host_type_fixed_binary, 3, nullptr), -1821);
  fixed_udt.vlen = 3;
  EXPECT_EQ(rvalcvar(&fixed_udt, fixed.data(), host_type_fixed_binary, 3, nullptr), 0);
  EXPECT_EQ(fixed.bytes(), std::string(bytes, 3));
  EXPECT_EQ(rvalcvar(&v, fixed.data(), host_type_fixed_binary, 3, nullptr), -1260);
  EXPECT_TRUE(fixed.guards_intact());
}

/* ---- Locators, files and collections ----------------------------------------------------- */

TEST_F(HostVars, LocatorAndFileVariablesRefuseOtherTypes) {
  loc_t source {};
  source.kind = loc_in_memory;
  source.sql_type = sql_type_text;
  source.size = 3;
  value_t blob = of_type(sql_type_text);
  blob.vlocator = &source;
  loc_t target {};
  EXPECT_EQ(rvalcvar(&blob, reinterpret_cast<char *>(&target), host_type_locator, 0, nullptr), 0);
  EXPECT_EQ(target.kind, loc_in_memory);
  EXPECT_EQ(target.size, 3);

  value_t wrong = int_value(sql_type_integer, 1);
  int16_t indicator = 0;
  EXPECT_EQ(rvalcvar(&wrong, reinterpret_cast<char *>(&target), host_type_locator, 0, &indicator),
            -1269);
  EXPECT_EQ(indicator, 1);

  guarded file(6);
  EXPECT_EQ(rvalcvar(&wrong, file.data(), host_type_file, 6, nullptr), -1269);
  value_t chars = text_value(sql_type_char, "abc");
  EXPECT_EQ(rvalcvar(&chars, file.data(), host_type_file, 6, nullptr), 0);
  EXPECT_EQ(file.bytes(), "abc   ");
  value_t long_chars = text_value(sql_type_char, "abcdefg");
  EXPECT_EQ(rvalcvar(&long_chars, file.data(), host_type_file, 6, nullptr), -1235);
  EXPECT_TRUE(file.guards_intact());
}

constexpr uint32_t owned_bits = 0x1000000u | 0x2000000u;

dvz_coll_t owned_collection(char *data) {
  dvz_coll_t c {};
  c.magic = 0xdbdbdbdbu;
  c.cl_cardinality = 3;
  c.cl_flags = owned_bits | 0x10u;
  c.cl_data = data;
  c.cl_datalen = 12;
  c.cl_typed = 1;
  c.cl_typeinfo = reinterpret_cast<struct dvz_coll_typeinfo *>(data);
  return c;
}

TEST_F(HostVars, CollectionCopiesLeaveOwnershipWithTheValue) {
  char data[12] = {};
  struct Case {
    int value_type;
    int variable_type;
  };
  const Case cases[] = {{sql_type_set, host_type_collection},
                        {sql_type_list, host_type_collection},
                        {sql_type_row, host_type_row},
                        {sql_type_collection, sql_type_set}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value_type);
    value_t v = of_type(c.value_type);
    v.vcoll = owned_collection(data);
    dvz_coll_t variable {};
    EXPECT_EQ(rvalcvar(&v, reinterpret_cast<char *>(&variable), c.variable_type, 0, nullptr), 0);
    EXPECT_EQ(variable.cl_flags, 0x10u);
    EXPECT_EQ(variable.cl_data, data);
    EXPECT_EQ(variable.cl_cardinality, 3);
    EXPECT_EQ(v.vcoll.cl_flags & owned_bits, owned_bits) << "the value keeps them";

    v.vind = -1;
    int16_t indicator = 0;
    EXPECT_EQ(rvalcvar(&v, reinterpret_cast<char *>(&variable), c.variable_type, 0, &indicator), 0);
    EXPECT_EQ(variable.cl_flags & owned_bits, 0u);
    EXPECT_NE(variable.cl_flags & DVZ_COLL_NULL, 0u);
    EXPECT_EQ(indicator, -1);
  }
  value_t wrong = int_value(sql_type_integer, 3);
  dvz_coll_t variable {};
  int16_t indicator = 0;
  EXPECT_EQ(
      rvalcvar(&wrong, reinterpret_cast<char *>(&variable), host_type_collection, 0, &indicator),
      -9602);
  EXPECT_EQ(indicator, 1);
  /* A NULL of another kind is refused too, and the variable is NULL. */
  wrong.vind = -1;
  EXPECT_EQ(rvalcvar(&wrong, reinterpret_cast<char *>(&variable), host_type_row, 0, &indicator),
            -9602);
  EXPECT_NE(variable.cl_flags & DVZ_COLL_NULL, 0u);
  EXPECT_EQ(indicator, -1);
}

/* ---- Building values --------------------------------------------------------------------- */

TEST_F(HostVars, NullFormIsTestedWheneverTheIndicatorIsNotNegative) {
  int16_t short_null = -32768;
  value_t v {};
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&short_null), host_type_short, &v, 2, nullptr), 0);
  EXPECT_EQ(v.vind, -1);
  EXPECT_EQ(v.vtype, sql_type_smallint);
  int16_t indicator = 0;
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&short_null), host_type_short, &v, 2, &indicator), 0);
  EXPECT_EQ(v.vind, -1);

  int32_t present = 5;
  indicator = -1;
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&present), host_type_long, &v, 4, &indicator), 0);
  EXPECT_EQ(v.vind, -1) << "a negative indicator wins";
  indicator = 0;
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&present), host_type_long, &v, 4, &indicator), 0);
  EXPECT_EQ(v.vind, 0);
  EXPECT_EQ(v.vint, 5);

  indicator = -1;
  EXPECT_EQ(rcvarval(nullptr, host_type_long, &v, 4, &indicator), 0);
  EXPECT_EQ(v.vind, -1);
  EXPECT_EQ(rcvarval(nullptr, host_type_long, &v, 4, nullptr), -1);

  char name[8] = "";
  EXPECT_EQ(rcvarval(name, host_type_char, &v, 8, nullptr), 0);
  EXPECT_EQ(v.vind, -1);
  EXPECT_EQ(v.vptr, name) << "a NULL character value keeps its variable";
  EXPECT_EQ(v.vlen, 8);

  dvz_hostbuf_t empty = hostbuf(HOSTVAR_NULL, nullptr, 0);
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&empty), host_type_lvarchar_ptr, &v, 0, nullptr), 0);
  EXPECT_EQ(v.vind, -1) << "flag 0x2 is the NULL form";

  /* A NULL collection copies the variable's record when it has type
  ** info, and needs a variable. */
  char data[4] = {};
  dvz_coll_t coll = owned_collection(data);
  indicator = -1;
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&coll), host_type_collection, &v, 0, &indicator), 0);
  EXPECT_EQ(v.vind, -1);
  EXPECT_EQ(v.vcoll.cl_data, data);
  coll.cl_typeinfo = nullptr;
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&coll), host_type_collection, &v, 0, &indicator), 0);
  EXPECT_EQ(v.vcoll.cl_data, nullptr) << "without type info nothing is copied";
  EXPECT_EQ(rcvarval(nullptr, host_type_collection, &v, 0, &indicator), -1);

  char blob[sizeof(loc_t)] = {};
  indicator = -1;
  EXPECT_EQ(rcvarval(blob, host_type_locator, &v, 0, &indicator), 0);
  EXPECT_EQ(v.vtype, sql_type_byte);
  EXPECT_NE(v.vblob.tb_flags & TBLOB_NULL, 0);
}

TEST_F(HostVars, CharacterLengthsFromTheVariable) {
  char text[] = "abcdef";
  value_t v {};
  struct Case {
    int type;
    int length;
    int vlen;
    int vtype;
  };
  const Case cases[] = {
      {host_type_char, 0, 6, sql_type_char},      {host_type_char, 3, 3, sql_type_char},
      {host_type_char, 20, 6, sql_type_char},     {host_type_varchar, 4, 4, sql_type_varchar},
      {host_type_string, 2, 6, sql_type_char},    {host_type_fixchar, 5, 5, sql_type_char},
      {sql_type_char, 3, 3, sql_type_char},       {host_type_file, 4, 4, host_type_file},
      {host_type_boolean, 1, 1, sql_type_boolean}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " / " + std::to_string(c.length));
    ASSERT_EQ(rcvarval(text, c.type, &v, c.length, nullptr), 0);
    EXPECT_EQ(v.vind, 0);
    EXPECT_EQ(v.vptr, text);
    EXPECT_EQ(v.vlen, c.vlen);
    EXPECT_EQ(v.vtype, c.vtype);
  }
}

TEST_F(HostVars, ValueAreaOfEachHostType) {
  value_t v {};
  int16_t s = -12;
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&s), host_type_short, &v, 2, nullptr), 0);
  EXPECT_EQ(v.vint, -12);
  EXPECT_EQ(v.vprec, 0x0500);

  int32_t l = 70000;
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&l), host_type_int, &v, 4, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_integer) << "102 as 103";
  EXPECT_EQ(v.vint, 70000);
  EXPECT_EQ(v.vprec, 0x0A00);
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&l), host_type_date, &v, 4, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_date);

  double d = 2.5;
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&d), host_type_double, &v, 8, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_float);
  EXPECT_EQ(v.vdouble, 2.5);
  float f = 1.25f;
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&f), host_type_float, &v, 4, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_smallfloat);
  EXPECT_EQ(v.vfloat, 1.25f);

  dec_t dec {};
  ASSERT_EQ(deccvasc("-3.25", 5, &dec), 0);
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&dec), host_type_money, &v, 0x0602, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_money);
  EXPECT_EQ(v.vprec, 0x0602);
  EXPECT_EQ(decimal_text(v.vdec), "-3.25");
  dec.npairs = 17;
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&dec), host_type_decimal, &v, 0x0602, nullptr), -1);

  dtime_t when {};
  when.dt_qual = TU_ENCODE(4, TU_YEAR, TU_YEAR);
  ASSERT_EQ(dtcvasc("2024", &when), 0);
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&when), host_type_datetime, &v, 0, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_datetime);
  EXPECT_EQ(static_cast<uint16_t>(v.vprec), when.dt_qual);

  dvz_int8_t big {};
  ASSERT_EQ(dvz_int8cvasc("-9000000000", 11, &big), 0);
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&big), host_type_int8, &v, 0, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_int8);
  EXPECT_EQ(v.vprec, 0x1300);
  EXPECT_EQ(v.vint8.sign, -1);

  char data[] = "lv";
  dvz_hostbuf_t b = hostbuf(0, data, 3);
  b.length = 2;
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&b), sql_type_lvarchar, &v, 0, nullptr), 0);
  EXPECT_EQ(v.vptr, data) << "length 0: an lvarchar pointer";
  EXPECT_EQ(v.vlen, 2);
  EXPECT_EQ(v.vtype, sql_type_lvarchar);

  char data_coll[4] = {};
  dvz_coll_t coll = owned_collection(data_coll);
  ASSERT_EQ(rcvarval(reinterpret_cast<char *>(&coll), host_type_row, &v, 0, nullptr), 0);
  EXPECT_EQ(v.vtype, sql_type_row);
  EXPECT_EQ(v.vcoll.cl_data, data_coll);

  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&l), 99, &v, 4, nullptr), -1);
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&l), host_type_none, &v, 4, nullptr), -1);
  EXPECT_EQ(rcvarval(reinterpret_cast<char *>(&l), 125, &v, 4, nullptr), -1);
}

/* A value built from a variable and stored into another variable of the
** same type comes back unchanged. */
TEST_F(HostVars, ValuesRoundTripThroughVariables) {
  int32_t l = -2147483647;
  int32_t l_back = 0;
  double d = 6.02e23;
  double d_back = 0;
  dvz_int8_t i8 {};
  ASSERT_EQ(dvz_int8cvasc("9223372036854775807", 19, &i8), 0);
  dvz_int8_t i8_back {};
  dtime_t when {};
  when.dt_qual = TU_ENCODE(14, TU_YEAR, TU_SECOND);
  ASSERT_EQ(dtcvasc("2024-02-29 23:59:58", &when), 0);
  dtime_t when_back {};
  intrvl_t span {};
  span.in_qual = TU_ENCODE(9, TU_DAY, TU_SECOND);
  ASSERT_EQ(incvasc("-12 03:04:05", &span), 0);
  intrvl_t span_back {};
  int16_t s = -32767;
  int16_t s_back = 0;
  float f = -1.5e-20f;
  float f_back = 0;
  char truth = 1;
  char truth_back = 0;
  dec_t amount {};
  ASSERT_EQ(deccvasc("-1234.56", 8, &amount), 0);
  dec_t amount_back {};

  struct Case {
    int type;
    char *from;
    char *to;
    size_t size;
    int length;
  };
  const Case cases[] = {
      {host_type_long, reinterpret_cast<char *>(&l), reinterpret_cast<char *>(&l_back), 4, 4},
      {host_type_double, reinterpret_cast<char *>(&d), reinterpret_cast<char *>(&d_back), 8, 8},
      {host_type_int8, reinterpret_cast<char *>(&i8), reinterpret_cast<char *>(&i8_back), sizeof i8,
       0},
      {host_type_datetime, reinterpret_cast<char *>(&when), reinterpret_cast<char *>(&when_back),
       sizeof when, 0},
      {host_type_interval, reinterpret_cast<char *>(&span), reinterpret_cast<char *>(&span_back),
       sizeof span, 0},
      {host_type_short, reinterpret_cast<char *>(&s), reinterpret_cast<char *>(&s_back), 2, 2},
      {host_type_float, reinterpret_cast<char *>(&f), reinterpret_cast<char *>(&f_back), 4, 4},
      {host_type_boolean, &truth, &truth_back, 1, 1},
      {host_type_money, reinterpret_cast<char *>(&amount), reinterpret_cast<char *>(&amount_back),
       sizeof amount, 0x0602},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    value_t v {};
    ASSERT_EQ(rcvarval(c.from, c.type, &v, c.length, nullptr), 0);
    int16_t indicator = 99;
    EXPECT_EQ(rvalcvar(&v, c.to, c.type, c.length, &indicator), 0);
    EXPECT_EQ(indicator, 0);
    EXPECT_EQ(std::memcmp(c.from, c.to, c.size), 0);
  }
}

}  // namespace
