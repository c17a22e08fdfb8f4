/*
** Named descriptors: ALLOCATE, GET, SET and DEALLOCATE DESCRIPTOR through
** the public calls, the name table, DESCRIBE into a named descriptor on a
** hand-built statement record, the data buffers of entries, and rows
** fetched through a descriptor that DESCRIBE filled, from the SQLI server
** double. Leaks are LSan's to find: every test deallocates what it
** allocated.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "double_server.h"
#include "gen_hostvar.h"
#include "gen_strings.h"
#include "gen_types.h"
#include "locator.h"
#include "runtime_fixture.h"
#include "runtime_session.h"
#include "sqli_cursor.h"
#include "sqli_descriptor.h"
#include "sqli_dynamic.h"
#include "sqli_prepare.h"
#include "sqli_statements.h"

namespace {

sqli_desc_item item(int code, int type, void *data, int len) {
  return {static_cast<char *>(data), static_cast<int16_t>(code), static_cast<int16_t>(type), len};
}
constexpr sqli_desc_item end_of_list {nullptr, 0, 0, 0};

class NamedDescriptors : public sqli_test::RuntimeTest {
 protected:
  void TearDown() override {
    /* The table outlives its descriptors in a process; a test's does not. */
    if (sqlitcb != nullptr) {
      ghashremove(static_cast<ghashtab *>(sqlitcb->named_descs));
      sqlitcb->named_descs = nullptr;
    }
    RuntimeTest::TearDown();
  }

  /* SET of one entry from a list of items. */
  int32_t set(const char *name, int index, std::vector<sqli_desc_item> items, int xopen = 0) {
    items.push_back(end_of_list);
    return sqli_desc_set(1, name, index, items.data(), xopen);
  }
  int32_t get(const char *name, int index, std::vector<sqli_desc_item> items, int xopen = 0) {
    items.push_back(end_of_list);
    return sqli_desc_get(1, name, index, items.data(), xopen);
  }
  /* SET of a type (and length) alone. */
  int32_t set_type(const char *name, int index, int32_t type, int32_t len) {
    return set(name, index,
               {item(SQLI_DI_TYPE, host_type_int, &type, 4),
                item(SQLI_DI_LENGTH, host_type_int, &len, 4)});
  }
  /* SET of a type with length 0 and data from a host of host_type. */
  int32_t set_typed_data(const char *name, int index, int32_t type, int host_type, char *data,
                         int host_len) {
    int32_t zero = 0;
    return set(
        name, index,
        {item(SQLI_DI_TYPE, host_type_int, &type, 4), item(SQLI_DI_LENGTH, host_type_int, &zero, 4),
         item(SQLI_DI_DATA, host_type, data, host_len)});
  }
};

TEST_F(NamedDescriptors, AllocateMakesOneBlockOfUntypedEntries) {
  ASSERT_EQ(sqli_desc_alloc("d1", 3), 0);
  sqlda *d = _iqdlocate("d1", sqlitcb);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->sqld, 3);
  EXPECT_EQ(d->desc_occ, 3);
  EXPECT_STREQ(d->desc_name, "d1");
  EXPECT_EQ(reinterpret_cast<char *>(d->sqlvar), reinterpret_cast<char *>(d) + sizeof(sqlda));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(d->sqlvar[i].sqltype, -1);
    EXPECT_EQ(d->sqlvar[i].sqlitype, -1);
    ASSERT_NE(d->sqlvar[i].sqlind, nullptr);
    EXPECT_EQ(*d->sqlvar[i].sqlind, -1);
    /* Each indicator is its own slot after the entries. */
    EXPECT_EQ(reinterpret_cast<char *>(d->sqlvar[i].sqlind),
              reinterpret_cast<char *>(d->sqlvar + 3) + i * sizeof(int16_t));
  }
  /* Trailing blanks do not make another name. */
  EXPECT_EQ(_iqdlocate("d1   ", sqlitcb), d);
  EXPECT_EQ(sqli_desc_dealloc("d1"), 0);
  EXPECT_EQ(_iqdlocate("d1", sqlitcb), nullptr);
}

TEST_F(NamedDescriptors, LongNameIsShortInTheHeaderAndWholeInTheTable) {
  const std::string name = "abcdefghijklmnopqrst"; /* 20 characters */
  ASSERT_EQ(sqli_desc_alloc(name.c_str(), 1), 0);
  sqlda *d = _iqdlocate(name.c_str(), sqlitcb);
  ASSERT_NE(d, nullptr);
  /* 18 characters, the last marking the cut. */
  EXPECT_STREQ(d->desc_name, "abcdefghijklmnopq+");
  EXPECT_EQ(_iqdlocate(name.substr(0, 18).c_str(), sqlitcb), nullptr);
  /* A name of exactly 18 characters is kept as it is. */
  ASSERT_EQ(sqli_desc_alloc("abcdefghijklmnopqr", 1), 0);
  EXPECT_STREQ(_iqdlocate("abcdefghijklmnopqr", sqlitcb)->desc_name, "abcdefghijklmnopqr");
  EXPECT_EQ(sqli_desc_dealloc(name.c_str()), 0);
  EXPECT_EQ(sqli_desc_dealloc("abcdefghijklmnopqr"), 0);
}

TEST_F(NamedDescriptors, RefusalsCarryTheirOwnCodes) {
  ASSERT_EQ(sqli_desc_alloc("d", 2), 0);
  ASSERT_EQ(set_type("d", 1, sql_type_date, 0), 0);
  char name_text[] = "column_name";
  ASSERT_EQ(set("d", 2, {item(SQLI_DI_NAME, host_type_char, name_text, 12)}), -478);
  ASSERT_EQ(set_type("d", 2, sql_type_integer, 0), 0);
  ASSERT_EQ(set("d", 2, {item(SQLI_DI_NAME, host_type_char, name_text, 12)}), 0);
  char small[4] = {};
  int32_t word = 0;
  const std::string long_name(129, 'x');
  struct refusal {
    const char *what;
    std::function<int32_t()> call;
    int32_t code;
  };
  const std::vector<refusal> cases = {
      {"unknown name on DEALLOCATE", [] { return sqli_desc_dealloc("nosuch"); }, -469},
      {"unknown name on GET", [&] { return get("nosuch", 1, {}); }, -469},
      {"unknown name on SET", [&] { return set_type("nosuch", 1, 2, 0); }, -469},
      {"capacity 0", [] { return sqli_desc_alloc("e", 0); }, -470},
      {"negative capacity", [] { return sqli_desc_alloc("e", -3); }, -470},
      {"no name", [] { return sqli_desc_alloc(nullptr, 1); }, -471},
      {"blank name", [] { return sqli_desc_alloc("   ", 1); }, -471},
      {"no name on DEALLOCATE", [] { return sqli_desc_dealloc(""); }, -471},
      {"index 0", [&] { return get("d", 0, {item(SQLI_DI_TYPE, host_type_int, &word, 4)}); }, -472},
      {"index past capacity",
       [&] { return get("d", 3, {item(SQLI_DI_TYPE, host_type_int, &word, 4)}); }, -472},
      {"COUNT without code 0",
       [&] { return get("d", -1, {item(SQLI_DI_TYPE, host_type_int, &word, 4)}); }, -472},
      {"SET COUNT above capacity",
       [&] {
         word = 3;
         return set("d", -1, {item(SQLI_DI_COUNT, host_type_int, &word, 4)});
       },
       -472},
      {"X/Open code of a DATE",
       [&] { return get("d", 1, {item(SQLI_DI_TYPE, host_type_int, &word, 4)}, 1); }, -473},
      {"unknown X/Open code on SET",
       [&] {
         word = 9;
         return set("d", 1, {item(SQLI_DI_TYPE, host_type_int, &word, 4)}, 1);
       },
       -473},
      {"item code 19 on GET", [&] { return get("d", 1, {item(19, host_type_int, &word, 4)}); },
       -474},
      {"item code 19 on SET", [&] { return set("d", 1, {item(19, host_type_int, &word, 4)}); },
       -474},
      {"CHAR without length",
       [&] {
         word = sql_type_char;
         return set("d", 1, {item(SQLI_DI_TYPE, host_type_int, &word, 4)});
       },
       -476},
      {"name into a short host",
       [&] { return get("d", 2, {item(SQLI_DI_NAME, host_type_char, small, 4)}); }, -477},
      {"name above 128", [&] { return sqli_desc_alloc(long_name.c_str(), 1); }, -483},
      {"name in use", [] { return sqli_desc_alloc("d  ", 1); }, -480},
      {"GET into no host variable",
       [&] { return get("d", 1, {item(SQLI_DI_TYPE, host_type_int, nullptr, 4)}); }, -402},
      {"SET of a name from no host variable",
       [&] { return set("d", 2, {item(SQLI_DI_NAME, host_type_char, nullptr, 4)}); }, -402},
  };
  for (const refusal &c : cases) {
    EXPECT_EQ(c.call(), c.code) << c.what;
    EXPECT_EQ(SQLCODE, c.code) << c.what;
  }
  /* Every refusal of these calls has its catalog text. */
  for (int32_t code :
       {-366, -469, -470, -471, -472, -473, -474, -475, -476, -477, -478, -479, -480, -483, -650}) {
    char text[512];
    int32_t length = 0;
    EXPECT_EQ(rgetlmsg(code, text, sizeof text, &length), 0) << code;
  }
  /* 128 characters and trailing blanks are a valid name. */
  const std::string longest = std::string(128, 'y') + "  ";
  EXPECT_EQ(sqli_desc_alloc(longest.c_str(), 1), 0);
  EXPECT_EQ(sqli_desc_dealloc(longest.c_str()), 0);
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, SetAndGetCarryEveryItem) {
  ASSERT_EQ(sqli_desc_alloc("d", 2), 0);
  int32_t type = sql_type_integer;
  int32_t value = 42;
  int16_t ind = 0;
  char colname[] = "qty";
  char tname[] = "udt_t";
  int32_t xid = 77;
  int32_t srcid = 5;
  ASSERT_EQ(set("d", 1,
                {item(SQLI_DI_TYPE, host_type_int, &type, 4),
                 item(SQLI_DI_DATA, host_type_int, &value, 4),
                 item(SQLI_DI_NAME, host_type_char, colname, 3),
                 item(SQLI_DI_EXTYPENAME, host_type_char, tname, 5),
                 item(SQLI_DI_EXTYPEID, host_type_int, &xid, 4),
                 item(SQLI_DI_SOURCEID, host_type_int, &srcid, 4),
                 item(SQLI_DI_INDICATOR, host_type_short, &ind, 2)}),
            0);
  int32_t got_type = 0, got_value = 0, got_xid = 0, got_srcid = 0, nullable = 0;
  int16_t got_ind = 7, got_tlen = 0;
  char got_name[16] = {}, got_tname[16] = {};
  ASSERT_EQ(get("d", 1,
                {item(SQLI_DI_TYPE, host_type_int, &got_type, 4),
                 item(SQLI_DI_DATA, host_type_int, &got_value, 4),
                 item(SQLI_DI_INDICATOR, host_type_short, &got_ind, 2),
                 item(SQLI_DI_NAME, host_type_string, got_name, 16),
                 item(SQLI_DI_EXTYPENAME, host_type_string, got_tname, 16),
                 item(SQLI_DI_EXTYPELEN, host_type_short, &got_tlen, 2),
                 item(SQLI_DI_EXTYPEID, host_type_int, &got_xid, 4),
                 item(SQLI_DI_SOURCEID, host_type_int, &got_srcid, 4),
                 item(SQLI_DI_NULLABLE, host_type_int, &nullable, 4)}),
            0);
  EXPECT_EQ(got_type, sql_type_integer);
  EXPECT_EQ(got_value, 42);
  EXPECT_EQ(got_ind, 0);
  EXPECT_STREQ(got_name, "qty");
  EXPECT_STREQ(got_tname, "udt_t");
  EXPECT_EQ(got_tlen, 5); /* from the new string, no length item given */
  EXPECT_EQ(got_xid, 77);
  EXPECT_EQ(got_srcid, 5);
  EXPECT_EQ(nullable, 1);

  /* NOT NULL, and the X/Open code of INTEGER both ways. */
  int32_t zero = 0;
  int32_t xtype = 4;
  ASSERT_EQ(set("d", 2,
                {item(SQLI_DI_TYPE, host_type_int, &xtype, 4),
                 item(SQLI_DI_NULLABLE, host_type_int, &zero, 4)},
                1),
            0);
  ASSERT_EQ(get("d", 2,
                {item(SQLI_DI_TYPE, host_type_int, &got_type, 4),
                 item(SQLI_DI_NULLABLE, host_type_int, &nullable, 4)}),
            0);
  EXPECT_EQ(got_type, sql_type_integer);
  EXPECT_EQ(nullable, 0);
  ASSERT_EQ(get("d", 2, {item(SQLI_DI_TYPE, host_type_int, &got_type, 4)}, 1), 0);
  EXPECT_EQ(got_type, 4);

  /* COUNT both ways. */
  int32_t count = 1;
  int16_t got_count = 0;
  ASSERT_EQ(set("d", -1, {item(SQLI_DI_COUNT, host_type_int, &count, 4)}), 0);
  ASSERT_EQ(get("d", -1, {item(SQLI_DI_COUNT, host_type_short, &got_count, 2)}), 0);
  EXPECT_EQ(got_count, 1);
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, CharacterDataKeepsItsLengthAndText) {
  ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
  char text[] = "hello";
  /* Length 0 with data: the length is the host's less its terminator. */
  ASSERT_EQ(set_typed_data("d", 1, sql_type_char, host_type_char, text, 6), 0);
  const sqlvar_struct &v = _iqdlocate("d", sqlitcb)->sqlvar[0];
  EXPECT_EQ(v.sqllen, 5);
  EXPECT_NE(v.sqlflags & sqlvar_own_data, 0);
  char out[16] = {};
  int32_t len = 0;
  ASSERT_EQ(get("d", 1,
                {item(SQLI_DI_DATA, host_type_string, out, 16),
                 item(SQLI_DI_LENGTH, host_type_int, &len, 4)}),
            0);
  EXPECT_STREQ(out, "hello");
  EXPECT_EQ(len, 5);
  /* New data without an indicator item makes the value present. */
  EXPECT_EQ(*v.sqlind, 0);
  /* A CHAR of a given length keeps the whole value, blank-padded. */
  ASSERT_EQ(set_type("d", 1, sql_type_char, 8), 0);
  char abc[] = "abc";
  ASSERT_EQ(set("d", 1, {item(SQLI_DI_DATA, host_type_char, abc, 4)}), 0);
  char padded[9] = {};
  ASSERT_EQ(get("d", 1, {item(SQLI_DI_DATA, host_type_char, padded, 9)}), 0);
  EXPECT_STREQ(padded, "abc     ");
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, LvarcharEntryBorrowsTheHostBuffer) {
  ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
  char text[] = "a long value";
  ASSERT_EQ(set_typed_data("d", 1, sql_type_lvarchar, host_type_lvarchar, text, 0), 0);
  const sqlvar_struct &v = _iqdlocate("d", sqlitcb)->sqlvar[0];
  EXPECT_EQ(v.sqldata, text);
  EXPECT_EQ(v.sqlflags & sqlvar_own_data, 0);
  /* Length 0 reports the value's own length. */
  int32_t len = 0;
  ASSERT_EQ(get("d", 1, {item(SQLI_DI_LENGTH, host_type_int, &len, 4)}), 0);
  EXPECT_EQ(len, 12);
  /* The host's buffer stays the host's. */
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
  EXPECT_STREQ(text, "a long value");
}

TEST_F(NamedDescriptors, VarcharOf256IsKeptAs255AndLongerIsRefused) {
  ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
  ASSERT_EQ(set_type("d", 1, sql_type_varchar, 300), -650);
  ASSERT_EQ(set_type("d", 1, sql_type_varchar, 256), 0);
  const sqlvar_struct &v = _iqdlocate("d", sqlitcb)->sqlvar[0];
  EXPECT_EQ(v.sqllen, 255);
  EXPECT_NE(v.sqlflags & sqlvar_len_noterm, 0);
  /* 255 characters fit, with the room of the extra byte. */
  std::string text(255, 'v');
  std::vector<char> host(text.begin(), text.end());
  host.push_back(0);
  ASSERT_EQ(set("d", 1, {item(SQLI_DI_DATA, host_type_char, host.data(), 256)}), 0);
  std::vector<char> out(300, 0);
  ASSERT_EQ(get("d", 1, {item(SQLI_DI_DATA, host_type_string, out.data(), 300)}), 0);
  EXPECT_EQ(std::string(out.data()), text);
  /* 255 itself stays 255, without the extra byte. */
  ASSERT_EQ(set_type("d", 1, sql_type_varchar, 255), 0);
  EXPECT_EQ(v.sqlflags & sqlvar_len_noterm, 0);
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, NullDataNeedsItsIndicator) {
  ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
  ASSERT_EQ(set_type("d", 1, sql_type_integer, 0), 0);
  int16_t null_ind = -1;
  ASSERT_EQ(set("d", 1, {item(SQLI_DI_INDICATOR, host_type_short, &null_ind, 2)}), 0);
  int32_t value = 0;
  int16_t ind = 0;
  EXPECT_EQ(get("d", 1, {item(SQLI_DI_DATA, host_type_int, &value, 4)}), -475);
  EXPECT_EQ(get("d", 1,
                {item(SQLI_DI_DATA, host_type_int, &value, 4),
                 item(SQLI_DI_INDICATOR, host_type_short, &ind, 2)}),
            0);
  EXPECT_EQ(ind, -1);
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, DecimalPrecisionAndScaleAreChecked) {
  /* The entry starts as DECIMAL(16,4); each row sets precision and/or scale. */
  struct row {
    std::optional<int32_t> precision;
    std::optional<int32_t> scale;
    int32_t code;
    int32_t len; /* the length word when accepted */
  };
  const std::vector<row> rows = {
      {10, 2, 0, 0x0A02},
      {32, 255, 0, 0x20FF},
      {std::nullopt, 40, -366, 0},
      {std::nullopt, 255, 0, 0x10FF},
      {std::nullopt, 0, 0, 0x1000},
      {std::nullopt, -1, -366, 0},
      {0, std::nullopt, -366, 0},
      {33, std::nullopt, -366, 0},
      {4, 6, -366, 0},
      {4, std::nullopt, 0, 0x0404},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::to_string(r.precision.value_or(-99)) + "," +
                 std::to_string(r.scale.value_or(-99)));
    ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
    ASSERT_EQ(set_type("d", 1, sql_type_decimal, 0x1004), 0);
    int32_t precision = r.precision.value_or(0), scale = r.scale.value_or(0);
    std::vector<sqli_desc_item> items;
    if (r.precision) items.push_back(item(SQLI_DI_PRECISION, host_type_int, &precision, 4));
    if (r.scale) items.push_back(item(SQLI_DI_SCALE, host_type_int, &scale, 4));
    EXPECT_EQ(set("d", 1, items), r.code);
    if (r.code == 0) {
      EXPECT_EQ(_iqdlocate("d", sqlitcb)->sqlvar[0].sqllen, r.len);
      int32_t p = -1, s = -1;
      ASSERT_EQ(get("d", 1,
                    {item(SQLI_DI_PRECISION, host_type_int, &p, 4),
                     item(SQLI_DI_SCALE, host_type_int, &s, 4)}),
                0);
      EXPECT_EQ(p, r.len >> 8);
      EXPECT_EQ(s, r.len & 0xFF);
    } else {
      EXPECT_EQ(_iqdlocate("d", sqlitcb)->sqlvar[0].sqllen, 0x1004);
    }
    ASSERT_EQ(sqli_desc_dealloc("d"), 0);
  }
}

TEST_F(NamedDescriptors, RefusedSetKeepsTheEntryMatchingItsBuffer) {
  /* A refused change of type must not leave a DECIMAL type over the
  ** INTEGER's 4-byte buffer, which a later SET of data would overrun. */
  ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
  ASSERT_EQ(set_type("d", 1, sql_type_integer, 0), 0);
  int32_t type = sql_type_decimal;
  int32_t precision = 0;
  ASSERT_EQ(set("d", 1,
                {item(SQLI_DI_TYPE, host_type_int, &type, 4),
                 item(SQLI_DI_PRECISION, host_type_int, &precision, 4)}),
            -366);
  EXPECT_EQ(_iqdlocate("d", sqlitcb)->sqlvar[0].sqltype, sql_type_integer);
  char text[] = "12345.678";
  ASSERT_EQ(set("d", 1, {item(SQLI_DI_DATA, host_type_char, text, 10)}), 0);
  int32_t got = 0;
  int16_t ind = 0;
  ASSERT_EQ(get("d", 1,
                {item(SQLI_DI_DATA, host_type_int, &got, 4),
                 item(SQLI_DI_INDICATOR, host_type_short, &ind, 2)}),
            0);
  EXPECT_EQ(got, 12345);
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, IndicatorBufferFollowsItsTypeAndLength) {
  ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
  ASSERT_EQ(set_type("d", 1, sql_type_integer, 0), 0);
  int32_t itype = sql_type_char;
  int32_t ilen = 2;
  ASSERT_EQ(set("d", 1,
                {item(SQLI_DI_ITYPE, host_type_int, &itype, 4),
                 item(SQLI_DI_ILENGTH, host_type_int, &ilen, 4)}),
            0);
  /* A longer indicator length alone makes a buffer that holds it. */
  ilen = 20;
  char text[] = "a longer indicator";
  ASSERT_EQ(set("d", 1,
                {item(SQLI_DI_ILENGTH, host_type_int, &ilen, 4),
                 item(SQLI_DI_IDATA, host_type_char, text, 19)}),
            0);
  char out[32] = {};
  ASSERT_EQ(get("d", 1, {item(SQLI_DI_IDATA, host_type_string, out, 32)}), 0);
  EXPECT_STREQ(out, "a longer indicator");
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, DeallocateFreesWhatEntriesOwn) {
  ASSERT_EQ(sqli_desc_alloc("d", 3), 0);
  char name[] = "owned_name";
  char owner[] = "someone";
  int32_t itype = sql_type_integer;
  int32_t ilen = 4;
  ASSERT_EQ(set_type("d", 1, sql_type_char, 40), 0);
  ASSERT_EQ(set("d", 1,
                {item(SQLI_DI_NAME, host_type_char, name, 11),
                 item(SQLI_DI_EXTYPEOWNERNAME, host_type_char, owner, 8),
                 item(SQLI_DI_ITYPE, host_type_int, &itype, 4),
                 item(SQLI_DI_ILENGTH, host_type_int, &ilen, 4)}),
            0);
  ASSERT_EQ(set_type("d", 2, sql_type_decimal, 0x0A02), 0);
  /* A type change frees the old buffer and makes a new one. */
  ASSERT_EQ(set_type("d", 2, sql_type_datetime, 0x0804), 0);
  ASSERT_EQ(set_type("d", 3, host_type_variable_binary, 0), 0);
  const sqlvar_struct &v = _iqdlocate("d", sqlitcb)->sqlvar[2];
  ASSERT_NE(v.sqldata, nullptr);
  EXPECT_EQ(reinterpret_cast<const dvz_hostbuf_t *>(v.sqldata)->flags, HOSTVAR_GROWABLE);
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
  EXPECT_EQ(sqli_desc_dealloc("d"), -469);
}

TEST_F(NamedDescriptors, DateTimeDataIsParsedFromText) {
  ASSERT_EQ(sqli_desc_alloc("d", 1), 0);
  const int32_t year_to_day = 0x0804; /* 8 digits, YEAR TO DAY */
  ASSERT_EQ(set_type("d", 1, sql_type_datetime, year_to_day), 0);
  char text[] = "2026-12-11";
  ASSERT_EQ(set("d", 1, {item(SQLI_DI_DATA, host_type_char, text, 11)}), 0);
  char out[32] = {};
  ASSERT_EQ(get("d", 1, {item(SQLI_DI_DATA, host_type_string, out, 32)}), 0);
  EXPECT_STREQ(out, "2026-12-11");
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
}

TEST_F(NamedDescriptors, MemoryShortageLeavesNothingRegistered) {
  /* A first run makes the context, its areas and the table. */
  ASSERT_NE(start(), nullptr);
  ASSERT_EQ(sqli_desc_alloc("d", 2), 0);
  ASSERT_EQ(sqli_desc_dealloc("d"), 0);
  for (int fail_at = 1; fail_at <= 2; ++fail_at) {
    {
      sqli_test::FailingMemory failing(fail_at);
      EXPECT_EQ(sqli_desc_alloc("d", 2), -406) << fail_at;
    }
    EXPECT_EQ(_iqdlocate("d", sqlitcb), nullptr) << fail_at;
  }
}

TEST_F(NamedDescriptors, DescribeFillsTheNamedDescriptor) {
  ASSERT_NE(start(), nullptr);
  /* A described statement of two columns: INTEGER NOT NULL, CHAR(10). */
  char pool[] = "id\0label";
  dbfd cols[2] = {};
  cols[0].name_offset = 0;
  cols[0].type = sql_type_integer;
  cols[0].length = 4;
  cols[1].name_offset = 3;
  cols[1].type = sql_type_char;
  cols[1].length = 10;
  cols[1].flags = dbfd_nullable;
  cols[1].owner_name = const_cast<char *>("owner");
  cols[1].owner_name_len = 5;
  sqli_cursor record {};
  record.ncols = 2;
  record.coldesc = cols;
  record.colname_pool = pool;

  ASSERT_EQ(sqli_desc_alloc("small", 1), 0);
  EXPECT_EQ(_iqdyndesc(&record, "small", sqlitcb), -479);
  EXPECT_EQ(_iqdyndesc(&record, "nosuch", sqlitcb), -469);
  ASSERT_EQ(sqli_desc_alloc("d", 3), 0);
  for (int round = 0; round < 2; ++round) { /* again: the old copies are freed */
    ASSERT_EQ(_iqdyndesc(&record, "d", sqlitcb), 0);
    const sqlda *d = _iqdlocate("d", sqlitcb);
    ASSERT_EQ(d->sqld, 2);
    EXPECT_EQ(d->sqlvar[0].sqltype, sql_type_integer | 0x100);
    EXPECT_STREQ(d->sqlvar[0].sqlname, "id");
    EXPECT_EQ(d->sqlvar[1].sqltype, sql_type_char);
    EXPECT_EQ(d->sqlvar[1].sqllen, 10);
    EXPECT_STREQ(d->sqlvar[1].sqlname, "label");
    EXPECT_STREQ(d->sqlvar[1].sqlownername, "owner");
    EXPECT_NE(d->sqlvar[1].sqlname, pool + 3); /* a copy of its own */
    for (int i = 0; i < 2; ++i) {
      EXPECT_NE(d->sqlvar[i].sqldata, nullptr);
      EXPECT_EQ(d->sqlvar[i].sqlflags & (sqlvar_own_data | sqlvar_own_name),
                sqlvar_own_data | sqlvar_own_name);
    }
  }
  EXPECT_EQ(sqli_desc_dealloc("d"), 0);
  EXPECT_EQ(sqli_desc_dealloc("small"), 0);
}

TEST_F(NamedDescriptors, DataBuffersFollowTheEffectiveType) {
  struct row {
    int type;
    int len;
    int source;
    int code;
  };
  const std::vector<row> rows = {
      {sql_type_char, 10, 0, 0},
      {sql_type_integer, 4, 0, 0},
      {sql_type_variable_udt | 0x4000, 1, 0, 0}, /* BOOLEAN */
      {sql_type_variable_udt, 0, 0, 0}, /* growable record */
      {sql_type_fixed_udt | 0x800, 4, sql_type_integer, 0},
      {sql_type_char, 0, 0, 0},
      {sql_type_lvarchar, 0, 0, -486},
  };
  ASSERT_NE(start(), nullptr);
  for (const row &r : rows) {
    sqlvar_struct var {};
    var.sqltype = static_cast<int16_t>(r.type);
    var.sqlsourcetype = static_cast<int16_t>(r.source);
    EXPECT_EQ(_sqadjustbuf(&var.sqldata, r.type, r.len, r.source), r.code) << r.type;
    if (r.code != 0) continue;
    var.sqlflags = sqlvar_own_data | sqlvar_own_name;
    dvz_free_sqldata(&var);
    EXPECT_EQ(var.sqldata, nullptr);
    EXPECT_EQ(var.sqlflags, sqlvar_own_name);
  }
  /* A BYTE value's locator goes with the buffer the runtime made for it. */
  sqlvar_struct blob {};
  blob.sqltype = sql_type_byte;
  ASSERT_EQ(_sqadjustbuf(&blob.sqldata, sql_type_byte, 56, 0), 0);
  auto *loc = reinterpret_cast<loc_t *>(blob.sqldata);
  loc->kind = loc_in_memory;
  loc->u.mem.memory_flags = 1;
  loc->u.mem.buffer = static_cast<char *>(sqli_alloc(100));
  blob.sqlflags = sqlvar_own_data;
  dvz_free_sqldata(&blob);
  EXPECT_EQ(blob.sqldata, nullptr);
  /* Data the runtime does not own is left alone. */
  char mine[4];
  sqlvar_struct var {};
  var.sqltype = sql_type_char;
  var.sqldata = mine;
  dvz_free_sqldata(&var);
  EXPECT_EQ(var.sqldata, mine);
}

/* Rows of a prepared SELECT fetched through a named descriptor that
** DESCRIBE filled, read back with GET. */
class NamedDescriptorFetch : public sqli_test::RuntimeSessionTest {};

TEST_F(NamedDescriptorFetch, RowsArriveThroughADescriptorThatDescribeFilled) {
  sqli_test::DoubleServer d({"--profile", "minimal"},
                            R"({"tables": {"t": {"columns": [{"name": "a", "type": 2, "length": 4},
                                                             {"name": "b", "type": 13, "length": 10}],
                                                 "rows": [[7, "seven"], [-2147483648, "none"]]}}})");
  void *stmt = sqli_prep(1, "s", "select a, b from t", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(stmt, nullptr) << sqlca.sqlcode << " " << sqlca.sqlerrm;
  ASSERT_EQ(sqli_desc_alloc("out", 2), 0);
  ASSERT_EQ(sqli_describe_stmt(1, stmt, nullptr, "out"), 0) << sqlca.sqlerrm;
  void *cur = sqli_curs_locate(1, "c", 0);
  ASSERT_NE(cur, nullptr);
  ASSERT_EQ(sqli_curs_decl_dynm(1, cur, "c", stmt, 0, 0), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_curs_open(1, cur, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;

  sqli_fetchspec next {0, 1, 0};
  int32_t a = 0;
  int16_t ind = 99;
  char b[16] = {};
  std::vector<sqli_desc_item> a_items = {item(SQLI_DI_DATA, host_type_int, &a, 4),
                                         item(SQLI_DI_INDICATOR, host_type_short, &ind, 2),
                                         end_of_list};
  std::vector<sqli_desc_item> b_items = {item(SQLI_DI_DATA, host_type_string, b, 16), end_of_list};
  ASSERT_EQ(sqli_curs_fetch(1, cur, nullptr, nullptr, "out", &next), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_desc_get(1, "out", 1, a_items.data(), 0), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_desc_get(1, "out", 2, b_items.data(), 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(a, 7);
  EXPECT_EQ(ind, 0);
  EXPECT_STREQ(b, "seven");

  /* The NULL of the second row (INTEGER's NULL form) needs its indicator
  ** to be read. */
  ASSERT_EQ(sqli_curs_fetch(1, cur, nullptr, nullptr, "out", &next), 0) << sqlca.sqlerrm;
  std::vector<sqli_desc_item> data_alone = {item(SQLI_DI_DATA, host_type_int, &a, 4), end_of_list};
  EXPECT_EQ(sqli_desc_get(1, "out", 1, data_alone.data(), 0), -475);
  ASSERT_EQ(sqli_desc_get(1, "out", 1, a_items.data(), 0), 0);
  EXPECT_EQ(ind, -1);
  EXPECT_EQ(sqli_curs_fetch(1, cur, nullptr, nullptr, "out", &next), 100);

  EXPECT_EQ(sqli_curs_close(1, cur), 0);
  EXPECT_EQ(sqli_curs_free(1, cur), 0);
  EXPECT_EQ(sqli_curs_free(1, stmt), 0);
  EXPECT_EQ(sqli_desc_dealloc("out"), 0);
}

}  // namespace
