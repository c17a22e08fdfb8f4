/*
** The bind values against the golden bytes of scripts/requests.txt
** (written from the bind-value tables): one value per host type from
** descriptor entries and from value records, at a roomy send buffer and at
** one of 5 bytes; a list of them all; the NULL rules and forms; the checks
** that refuse a list before any of it is written; the cut of long CHAR
** values; the blob count.
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "decimal_value.h"
#include "gen_types.h"
#include "locator.h"
#include "request_session.h"
#include "sqli_bind.h"
#include "sqli_errors.h"
#include "sqli_reply.h"
#include "sqli_request.h"

namespace {

using sqli_test::Bytes;
using sqli_test::hex;
using sqli_test::join;
using sqli_test::script;
using sqli_test::Session;

constexpr int32_t cap_extended = 0x4;

class BindValues : public sqli_test::RequestTest {};

using sqli_test::decimal;

/* Storage for the values of one case, kept alive while it is encoded. */
struct Store {
  int16_t i16 = 0;
  int32_t i32 = 0;
  float f = 0;
  double d = 0;
  dec_t dec {};
  dtime_t dt {};
  dvz_int8_t i8 {};
  loc_t loc {};
  dvz_hostbuf_t varbin {};
  char text[64] = {};
  int16_t ind = 0;
};

struct EntryCase {
  const char *script;
  int32_t capabilities;
  bool float_as_decimal;
  std::function<sqlvar_struct(Store &)> make;
};

sqlvar_struct entry(int type, void *data, int32_t len = 0) {
  sqlvar_struct e {};
  e.sqltype = static_cast<int16_t>(type);
  e.sqldata = static_cast<char *>(data);
  e.sqllen = len;
  return e;
}

std::vector<EntryCase> entry_cases() {
  return {
      {"smallint_7", 0, false,
       [](Store &s) {
         s.i16 = 7;
         return entry(host_type_short, &s.i16);
       }},
      {"integer_7", 0, false,
       [](Store &s) {
         s.i32 = 7;
         return entry(host_type_int, &s.i32);
       }},
      {"serial_neg", 0, false,
       [](Store &s) {
         s.i32 = -1;
         return entry(sql_type_serial, &s.i32);
       }},
      {"date_1", 0, false,
       [](Store &s) {
         s.i32 = 1;
         return entry(host_type_date, &s.i32);
       }},
      {"int8_5", 0, false,
       [](Store &s) {
         s.i8 = {5, 0, 1};
         return entry(host_type_int8, &s.i8);
       }},
      {"char_abc", 0, false,
       [](Store &s) {
         std::strcpy(s.text, "abc");
         return entry(host_type_char, s.text, 10);
       }},
      {"char_abc", 0, false,
       [](Store &s) { /* cut to the entry's length */
                      std::strcpy(s.text, "abcdef");
                      return entry(host_type_char, s.text, 3);
       }},
      {"char_empty", 0, false,
       [](Store &s) { /* indicator 0: an empty text, not NULL */
                      sqlvar_struct e = entry(host_type_char, s.text, 10);
                      e.sqlind = &s.ind;
                      return e;
       }},
      {"varchar_ab", 0, false,
       [](Store &s) {
         std::strcpy(s.text, "ab");
         return entry(host_type_varchar, s.text, 10);
       }},
      {"fixchar_len4", 0, false,
       [](Store &s) {
         std::memcpy(s.text, "ab  zz", 6);
         return entry(host_type_fixchar, s.text, 4);
       }},
      {"float_1_5", 0, false,
       [](Store &s) {
         s.d = 1.5;
         return entry(host_type_double, &s.d);
       }},
      {"smallfloat_1_5", 0, false,
       [](Store &s) {
         s.f = 1.5F;
         return entry(host_type_float, &s.f);
       }},
      {"decimal_12_34", 0, false,
       [](Store &s) {
         s.dec = decimal(1, 1, {12, 34});
         return entry(host_type_decimal, &s.dec, 0x0402);
       }},
      {"money_5", 0, false,
       [](Store &s) {
         s.dec = decimal(1, 1, {5});
         return entry(host_type_money, &s.dec, static_cast<int32_t>(sizeof(dec_t)));
       }},
      {"decimal_too_many_pairs", 0, false,
       [](Store &s) {
         s.dec = decimal(1, 1, {12, 34});
         s.dec.npairs = DECSIZE + 1;
         return entry(host_type_decimal, &s.dec, 0x0402);
       }},
      {"datetime_day", 0, false,
       [](Store &s) {
         s.dt.dt_qual = 0x0804;
         s.dt.dt_dec = decimal(1, 2, {20, 26, 12, 11});
         return entry(host_type_datetime, &s.dt, 0x0804);
       }},
      {"byte_in_memory", 0, false,
       [](Store &s) {
         s.loc.kind = loc_in_memory;
         s.loc.sql_type = sql_type_byte;
         return entry(host_type_locator, &s.loc);
       }},
      {"text_whole_file", 0, false,
       [](Store &s) {
         s.loc.kind = loc_in_file;
         s.loc.sql_type = sql_type_text;
         s.loc.open_flags = 0x20;
         return entry(host_type_locator, &s.loc);
       }},
      {"boolean_true", 0, false,
       [](Store &s) {
         s.text[0] = 1;
         return entry(host_type_boolean, s.text, 1);
       }},
      {"lvarchar_hello", 0, false,
       [](Store &s) {
         std::strcpy(s.text, "hello");
         return entry(host_type_lvarchar, s.text, 0);
       }},
      {"lvarchar_hello", 0, false,
       [](Store &s) { /* the text the host record points to */
                      std::strcpy(s.text, "hello");
                      s.varbin.length = 5;
                      s.varbin.data = s.text;
                      return entry(host_type_lvarchar_ptr, &s.varbin, 0);
       }},
      {"fixed_udt_3", 0, false,
       [](Store &s) {
         std::memcpy(s.text, "xyz", 3);
         sqlvar_struct e = entry(host_type_fixed_binary, s.text, 3);
         e.sqlxid = 2;
         return e;
       }},
      {"variable_udt_4", 0, false,
       [](Store &s) {
         std::memcpy(s.text, "wxyz", 4);
         s.varbin.length = 4;
         s.varbin.size = 64;
         s.varbin.data = s.text;
         sqlvar_struct e = entry(host_type_variable_binary, &s.varbin);
         e.sqlxid = 1;
         return e;
       }},
      {"flagged_integer", 0, false,
       [](Store &s) {
         s.i32 = 7;
         return entry(0x8000 | host_type_int, &s.i32);
       }},
      {"keepxid_integer_names", cap_extended, false,
       [](Store &s) {
         s.i32 = 7;
         return entry(0x800 | host_type_int, &s.i32);
       }},
      {"keepxid_integer", 0, false,
       [](Store &s) {
         s.i32 = 7;
         return entry(0x800 | host_type_int, &s.i32);
       }},
      {"null_integer", 0, false,
       [](Store &s) {
         s.ind = -1;
         sqlvar_struct e = entry(host_type_int, &s.i32);
         e.sqlind = &s.ind;
         return e;
       }},
      {"null_integer", 0, false,
       [](Store &s) { /* indicator 0 and the NULL form: NULL */
                      rsetnull(host_type_int, reinterpret_cast<char *>(&s.i32));
                      sqlvar_struct e = entry(host_type_int, &s.i32);
                      e.sqlind = &s.ind;
                      return e;
       }},
      {"null_integer", 0, false,
       [](Store &s) { /* an indicator variable of another type */
                      s.i32 = -1;
                      sqlvar_struct e = entry(host_type_int, &s.i16);
                      e.sqlitype = host_type_int;
                      e.sqlilen = 4;
                      e.sqlidata = reinterpret_cast<char *>(&s.i32);
                      return e;
       }},
      {"null_float", 0, false,
       [](Store &s) { /* the NULL form of a double is no NaN to refuse */
                      rsetnull(host_type_double, reinterpret_cast<char *>(&s.d));
                      return entry(host_type_double, &s.d);
       }},
      {"float_as_decimal_1_5", 0, true,
       [](Store &s) {
         s.d = 1.5;
         return entry(host_type_double, &s.d);
       }},
      {"extended_names", cap_extended, false,
       [](Store &s) {
         std::strcpy(s.text, "hello");
         static char owner[] = "own";
         static char name[] = "tname";
         sqlvar_struct e = entry(host_type_lvarchar, s.text, 0);
         e.sqlownername = owner;
         e.sqlownerlen = 3;
         e.sqltypename = name;
         e.sqltypelen = 5;
         return e;
       }},
  };
}

/* Each value is the bytes of its table row after "5, count 1". */
TEST_F(BindValues, DescriptorEntriesAreTheirGoldenBytes) {
  for (const EntryCase &c : entry_cases()) {
    for (int send_size : {4096, 5}) {
      _sqclrca(tcb_);
      Session session(tcb_, send_size, c.capabilities);
      session.conn().dbflags[3] = c.float_as_decimal ? 1 : 0;
      Store store;
      sqlvar_struct e = c.make(store);
      sqlda desc {};
      desc.sqld = 1;
      desc.sqlvar = &e;
      EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0) << c.script;
      EXPECT_EQ(hex(session.sent()), hex(join(script("bind_header_one"), script(c.script))))
          << c.script << " send size " << send_size;
      EXPECT_EQ(tcb_->request_active, 0) << c.script;
    }
  }
}

/* A list of many entries of every kind is the bytes of its entries one
** after the other, whether it goes whole in place, starts in place and
** meets a value of another kind, or crosses buffers. */
TEST_F(BindValues, MixedListsAreTheirEntriesInOrder) {
  std::vector<EntryCase> cases;
  for (const EntryCase &c : entry_cases())
    if (c.capabilities == 0 && !c.float_as_decimal) cases.push_back(c);
  std::vector<Store> stores(cases.size());
  std::vector<sqlvar_struct> entries;
  Bytes expected {0x00, 0x05, 0x00, static_cast<uint8_t>(cases.size())};
  for (size_t i = 0; i < cases.size(); ++i) {
    entries.push_back(cases[i].make(stores[i]));
    expected = join(expected, script(cases[i].script));
  }
  for (int send_size : {8192, 37, 5}) {
    _sqclrca(tcb_);
    Session session(tcb_, send_size, 0);
    sqlda desc {};
    desc.sqld = static_cast<int16_t>(entries.size());
    desc.sqlvar = entries.data();
    EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0) << send_size;
    EXPECT_EQ(hex(session.sent()), hex(expected)) << "send size " << send_size;
  }
}

/* The bytes of a character value (indicator 0, precision 0) and of an
** INTEGER, written here from the bind-value table. */
Bytes text_value(int word, const std::string &text) {
  Bytes b {0x00, static_cast<uint8_t>(word), 0x00, 0x00, 0x00, 0x00};
  b.push_back(0x00); /* the texts here are shorter than 256 */
  b.push_back(static_cast<uint8_t>(text.size()));
  b.insert(b.end(), text.begin(), text.end());
  if (text.size() % 2 != 0) b.push_back(0);
  return b;
}
Bytes integer_value(uint8_t v) { return {0x00, 0x02, 0x00, 0x00, 0x0A, 0x00, 0, 0, 0, v}; }

/* A character host's text ends at its first NUL within its declared
** length, or at that length; the host's buffer is exactly that long, so
** that a read past it is seen (ASan). In place and across buffers. */
TEST_F(BindValues, CharacterValuesEndAtTheirFirstNulWithinTheirLength) {
  struct Host {
    int type;
    int word;
  } hosts[] = {{host_type_char, 0}, {host_type_varchar, 13}};
  for (const Host &h : hosts) {
    for (int len = 1; len <= 24; ++len) {
      for (int nul_at = 0; nul_at <= len; ++nul_at) {
        std::vector<char> buffer(static_cast<size_t>(len));
        for (int i = 0; i < len; ++i)
          buffer[static_cast<size_t>(i)] = i == nul_at ? '\0' : static_cast<char>('a' + i);
        const std::string text(buffer.data(), static_cast<size_t>(nul_at));
        int16_t ind = 0; /* an empty text is a value, not NULL */
        sqlvar_struct e = entry(h.type, buffer.data(), len);
        e.sqlind = &ind;
        sqlda desc {};
        desc.sqld = 1;
        desc.sqlvar = &e;
        for (int send_size : {4096, 5}) {
          _sqclrca(tcb_);
          Session session(tcb_, send_size, 0);
          ASSERT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0);
          ASSERT_EQ(hex(session.sent()),
                    hex(join(Bytes {0x00, 0x05, 0x00, 0x01}, text_value(h.word, text))))
              << "host " << h.type << " length " << len << " NUL at " << nul_at << " send size "
              << send_size;
        }
      }
    }
  }
}

/* A text longer than the room a value of another kind takes must still
** leave room for the values after it: at every send size the list is
** its values in order. */
TEST_F(BindValues, ALongTextLeavesRoomForTheValuesAfterIt) {
  char text[64] = {};
  std::memset(text, 'x', 60);
  int32_t seven = 7, eight = 8;
  sqlvar_struct entries[] = {entry(host_type_varchar, text, sizeof text),
                             entry(host_type_int, &seven), entry(host_type_int, &eight)};
  sqlda desc {};
  desc.sqld = 3;
  desc.sqlvar = entries;
  const Bytes expected =
      join(join(Bytes {0x00, 0x05, 0x00, 0x03}, text_value(13, std::string(60, 'x'))),
           join(integer_value(7), integer_value(8)));
  for (int send_size = 8; send_size <= 120; ++send_size) {
    _sqclrca(tcb_);
    Session session(tcb_, send_size, 0);
    ASSERT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0);
    ASSERT_EQ(hex(session.sent()), hex(expected)) << "send size " << send_size;
  }
}

/* Every host type, and every SQL type used as one, holding the value
** library's NULL form (rsetnull) and no indicator is sent as NULL: its type
** word, then -1 and 0, whether the list goes in place or crosses buffers. */
TEST_F(BindValues, NullFormsOfEveryTypeAreSentAsNull) {
  const int types[] = {host_type_char,    host_type_short,     host_type_int,     host_type_long,
                       host_type_float,   host_type_double,    host_type_decimal, host_type_fixchar,
                       host_type_string,  host_type_date,      host_type_money,   host_type_varchar,
                       host_type_int8,    sql_type_char,       sql_type_smallint, sql_type_integer,
                       sql_type_float,    sql_type_smallfloat, sql_type_decimal,  sql_type_serial,
                       sql_type_date,     sql_type_money,      sql_type_varchar,  sql_type_nchar,
                       sql_type_nvarchar, sql_type_int8,       sql_type_serial8};
  for (int type : types) {
    for (int send_size : {4096, 5}) {
      _sqclrca(tcb_);
      Session session(tcb_, send_size, 0);
      alignas(16) char data[64];
      std::memset(data, 0x5A, sizeof data);
      rsetnull(type, data);
      sqlvar_struct e = entry(type, data, 8);
      sqlda desc {};
      desc.sqld = 1;
      desc.sqlvar = &e;
      EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0) << type;
      const Bytes sent = session.sent();
      ASSERT_EQ(sent.size(), 10U) << "type " << type << " send size " << send_size;
      EXPECT_EQ(hex(Bytes(sent.begin() + 6, sent.end())), hex(Bytes {0xFF, 0xFF, 0x00, 0x00}))
          << "type " << type << " send size " << send_size;
    }
  }
}

struct ValueCase {
  const char *script;
  int32_t capabilities;
  bool float_as_decimal;
  std::function<value_t(Store &)> make;
};

std::vector<ValueCase> value_cases() {
  return {
      {"value_integer", 0, false,
       [](Store &) {
         value_t v {};
         v.vtype = sql_type_integer;
         v.vprec = 0x0A00;
         v.vint = 42;
         return v;
       }},
      {"value_null_char", 0, false,
       [](Store &) {
         value_t v {};
         v.vtype = sql_type_char;
         v.vind = -1;
         return v;
       }},
      {"value_char_xyz", 0, false,
       [](Store &s) {
         std::memcpy(s.text, "xyz", 3);
         value_t v {};
         v.vtype = sql_type_char;
         v.vptr = s.text;
         v.vlen = 3;
         return v;
       }},
      {"value_lvarchar", 0, false,
       [](Store &s) {
         std::memcpy(s.text, "hello", 5);
         value_t v {};
         v.vtype = sql_type_lvarchar;
         v.vptr = s.text;
         v.vlen = 5;
         return v;
       }},
      {"value_flagged", 0, false,
       [](Store &) {
         value_t v {};
         v.vtype = static_cast<int16_t>(0x8000 | sql_type_integer);
         v.vprec = 0x0A00;
         v.vint = 1;
         return v;
       }},
      {"value_float_as_decimal", 0, true,
       [](Store &) {
         value_t v {};
         v.vtype = sql_type_float;
         v.vdouble = 1.5;
         return v;
       }},
      {"value_boolean_from_udt", 0, false,
       [](Store &s) {
         s.text[0] = 1;
         value_t v {};
         v.vtype = sql_type_fixed_udt;
         v.vxid = 5;
         v.vptr = s.text;
         v.vlen = 1;
         return v;
       }},
      {"value_extended_header", cap_extended, false,
       [](Store &s) {
         std::memcpy(s.text, "ab", 2);
         value_t v {};
         v.vtype = sql_type_variable_udt;
         v.vptr = s.text;
         v.vlen = 2;
         return v;
       }},
  };
}

/* A descriptor without entries takes its values from value records. */
TEST_F(BindValues, ValueRecordsAreTheirGoldenBytes) {
  for (const ValueCase &c : value_cases()) {
    for (int send_size : {4096, 5}) {
      _sqclrca(tcb_);
      Session session(tcb_, send_size, c.capabilities);
      session.conn().dbflags[3] = c.float_as_decimal ? 1 : 0;
      Store store;
      const value_t v = c.make(store);
      sqlda desc {};
      desc.sqld = 1;
      EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, &v, tcb_), 0) << c.script;
      EXPECT_EQ(hex(session.sent()), hex(join(script("bind_header_one"), script(c.script))))
          << c.script << " send size " << send_size;
    }
  }
}

/* No list, a count of 0: nothing written, not even the code. */
TEST_F(BindValues, EmptyListsWriteNothing) {
  Session session(tcb_);
  int32_t seven = 7;
  sqlvar_struct e = entry(host_type_int, &seven);
  sqlda desc {};
  desc.sqlvar = &e;
  tcb_->blob_count = 3;
  EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0);
  EXPECT_EQ(tcb_->blob_count, 0);
  EXPECT_EQ(_sqs_vs(SQ_BIND, nullptr, nullptr, tcb_), 0);
  desc.sqld = -1;
  EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0);
  EXPECT_TRUE(session.untouched());
}

/* A value the server cannot store refuses the whole list before its first
** byte: a non-finite FLOAT or SMALLFLOAT among good values, as an entry or
** a value record; a host kind without an SQL value. */
TEST_F(BindValues, RefusedListsWriteNothing) {
  struct Case {
    const char *what;
    int type;
    double value;
    int expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {{"FLOAT NaN", host_type_double, nan, -1223},
                        {"FLOAT infinity", host_type_double, -inf, -1223},
                        {"SMALLFLOAT infinity", host_type_float, inf, -1222},
                        {"host kind 200", 200, 0, SQLI_E_HOSTTYPE}};
  for (const Case &c : cases) {
    for (bool records : {false, true}) {
      if (records && c.type >= 200) continue;
      _sqclrca(tcb_);
      Session session(tcb_);
      int32_t one = 1;
      double d = c.value;
      float f = static_cast<float>(c.value);
      void *data = c.type == host_type_float ? static_cast<void *>(&f) : static_cast<void *>(&d);
      sqlvar_struct entries[2] = {entry(host_type_int, &one), entry(c.type, data)};
      value_t values[2] {};
      values[0].vtype = sql_type_integer;
      values[0].vint = 1;
      values[1].vtype =
          static_cast<int16_t>(c.type == host_type_float ? sql_type_smallfloat : sql_type_float);
      values[1].vdouble = d;
      if (c.type == host_type_float) values[1].vfloat = f;
      sqlda desc {};
      desc.sqld = 2;
      desc.sqlvar = records ? nullptr : entries;
      EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, records ? values : nullptr, tcb_), c.expected)
          << c.what << (records ? " (value records)" : "");
      EXPECT_TRUE(session.untouched()) << c.what;
    }
  }
  /* On a float-as-decimal connection a FLOAT beyond the DECIMAL's range
  ** cannot be sent either: refused before the first byte, never sent as
  ** NULL. */
  {
    _sqclrca(tcb_);
    Session session(tcb_);
    session.conn().dbflags[3] = 1;
    double huge = 1e300;
    sqlvar_struct e = entry(host_type_double, &huge);
    sqlda desc {};
    desc.sqld = 1;
    desc.sqlvar = &e;
    EXPECT_LT(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0);
    EXPECT_TRUE(session.untouched());
  }
  /* An indicator of -1 makes the NaN no value at all. */
  _sqclrca(tcb_);
  Session session(tcb_);
  double d = nan;
  int16_t ind = -1;
  sqlvar_struct e = entry(host_type_double, &d);
  e.sqlind = &ind;
  EXPECT_EQ(validate_floats(1, &e, tcb_), 0);
}

/* A CHAR above 32767 bytes is sent as its first 32767; in an ANSI
** database the cut is -1279, and the value still goes. */
TEST_F(BindValues, LongCharIsCut) {
  std::string text(40000, 'c');
  for (int ansi : {0, 1}) {
    _sqclrca(tcb_);
    Session session(tcb_, 512);
    session.conn().dbflags[1] = static_cast<int16_t>(ansi);
    sqlvar_struct e = entry(host_type_char, text.data());
    sqlda desc {};
    desc.sqld = 1;
    desc.sqlvar = &e;
    EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), ansi != 0 ? -1279 : 0);
    const Bytes sent = session.sent();
    ASSERT_EQ(sent.size(), 4u + 6u + 2u + 32767u + 1u);
    EXPECT_EQ(sqli_test::ld_u16(sent, 10), 32767);
    EXPECT_EQ(sent[12], 'c');
  }
}

/* BYTE and TEXT values that are not NULL are counted for the transfer
** that follows the request. */
TEST_F(BindValues, BlobValuesAreCounted) {
  Session session(tcb_);
  loc_t a {}, b {}, c {};
  a.sql_type = b.sql_type = c.sql_type = sql_type_text;
  int16_t null_ind = -1;
  sqlvar_struct entries[3] = {entry(host_type_locator, &a), entry(host_type_locator, &b),
                              entry(host_type_locator, &c)};
  entries[1].sqlind = &null_ind;
  sqlda desc {};
  desc.sqld = 3;
  desc.sqlvar = entries;
  EXPECT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb_), 0);
  EXPECT_EQ(tcb_->blob_count, 2);
}

}  // namespace

namespace {

/* Return types: a cursor described with columns, host entries compared
** with them. */
class ReturnTypes : public BindValues {
 protected:
  void describe(std::initializer_list<int> types) {
    columns_.assign(types.size(), dbfd {});
    int i = 0;
    for (int t : types)
      columns_[static_cast<size_t>(i++)].type = static_cast<int16_t>(t);
    cursor_.coldesc = columns_.data();
    cursor_.ncols = static_cast<int16_t>(columns_.size());
  }
  void TearDown() override {
    sqli_release(cursor_.rowlen_table);
    for (sqlvar_struct &r : list_) {
      sqli_release(r.sqlownername);
      sqli_release(r.sqltypename);
    }
    RequestTest::TearDown();
  }
  std::vector<dbfd> columns_;
  std::vector<sqlvar_struct> list_;
  sqli_cursor cursor_ {};
};

TEST_F(ReturnTypes, MessageOnlyWhenAHostNeedsIt) {
  char text[11] = "abc";
  int32_t number = 0;
  char hello[] = "hello";
  sqlvar_struct char_int[2] = {entry(host_type_char, text, 10), entry(host_type_int, &number, 4)};
  sqlvar_struct full[2] = {entry(host_type_char, text, 10), entry(host_type_fixchar, text, 10)};
  sqlvar_struct lvarchar[1] = {entry(host_type_lvarchar, hello, 0)};
  sqlvar_struct varchar[1] = {entry(host_type_varchar, text, 300)};
  struct Case {
    const char *what;
    std::vector<int> columns;
    sqlvar_struct *entries;
    int count;
    int flags;
    int32_t capabilities;
    const char *script; /* null: not needed, nothing written */
  };
  const Case cases[] = {
      {"built-in types covering every column", {0, 2}, char_int, 2, 1, 0, nullptr},
      {"fewer entries than columns", {0, 2, 2}, char_int, 2, 1, 0, "return_types_char_int"},
      {"first field 1", {0, 2, 2}, char_int, 2, 1 | 4, 0, "return_types_first_one"},
      {"full strings, fixchar", {0, 0, 2}, full, 2, 1 | 32, 0, "return_types_full"},
      {"an LVARCHAR host", {0}, lvarchar, 1, 1, 0, "return_types_lvarchar"},
      {"a column of an extended type", {40}, char_int, 2, 1, 0, "return_types_char_int"},
      {"VARCHAR under capability 0x1000", {13}, varchar, 1, 1, 0x1000, "return_types_varchar"},
      {"VARCHAR without it", {13}, varchar, 1, 1, 0, nullptr},
  };
  for (const Case &c : cases) {
    _sqclrca(tcb_);
    Session session(tcb_, 4096, c.capabilities);
    columns_.clear();
    columns_.reserve(c.columns.size());
    for (int t : c.columns) {
      dbfd d {};
      d.type = static_cast<int16_t>(t);
      columns_.push_back(d);
    }
    sqli_cursor cursor {};
    cursor.coldesc = columns_.data();
    cursor.ncols = static_cast<int16_t>(columns_.size());
    int notneeded = -1;
    EXPECT_EQ(_sqs_rettype(&cursor, c.count, c.entries, c.flags, &notneeded, tcb_), 0) << c.what;
    EXPECT_EQ(notneeded, c.script == nullptr ? 1 : 0) << c.what;
    EXPECT_EQ(hex(session.sent()), hex(c.script != nullptr ? script(c.script) : Bytes {}))
        << c.what;
    sqli_release(cursor.rowlen_table);
  }
}

/* An entry without a type is -402 and the message is not needed. */
TEST_F(ReturnTypes, EntryWithoutType) {
  Session session(tcb_);
  describe({0});
  sqlvar_struct e = entry(-1, nullptr);
  int notneeded = 0;
  EXPECT_EQ(_sqs_rettype(&cursor_, 1, &e, 1, &notneeded, tcb_), -402);
  EXPECT_EQ(SQLCODE, -402);
  EXPECT_EQ(notneeded, 1);
  EXPECT_TRUE(session.untouched());
}

/* Flag 8 copies what is asked into the cursor's list; the variable-length
** hosts make the row-length table; flag 16 checks a DATETIME host's
** qualifier against an opaque column. */
TEST_F(ReturnTypes, CopiedListAndVaryingColumns) {
  Session session(tcb_);
  describe({40, 0, 41});
  char hello[] = "hello";
  char text[11] = "abc";
  dtime_t dt {};
  static char owner[] = "me";
  sqlvar_struct entries[3] = {entry(host_type_lvarchar, hello, 0), entry(host_type_char, text, 10),
                              entry(host_type_datetime, &dt, 0x7FFF)};
  entries[0].sqlownername = owner;
  entries[0].sqlownerlen = 2;
  list_.assign(3, sqlvar_struct {});
  cursor_.rtypes = list_.data();
  cursor_.nrtypes = 3;
  int notneeded = 0;
  EXPECT_EQ(_sqs_rettype(&cursor_, 3, entries, 1 | 8 | 16, &notneeded, tcb_), -1268);
  EXPECT_EQ(SQLCODE, -1268);
  EXPECT_EQ(list_[0].sqltype, 43);
  EXPECT_EQ(list_[0].sqllen, 5);
  EXPECT_EQ(list_[0].sqlitype, 1) << "LVARCHAR host on an extended column";
  ASSERT_NE(list_[0].sqlownername, nullptr);
  EXPECT_STREQ(list_[0].sqlownername, "me");
  EXPECT_NE(list_[0].sqlownername, owner) << "a copy";
  EXPECT_EQ(list_[1].sqllen, 9);
  EXPECT_NE(list_[1].sqlflags & 0x100, 0) << "the length lost its terminator";
  EXPECT_EQ(list_[1].sqlitype, 0);
  EXPECT_EQ(list_[2].sqlitype, 1) << "an opaque column";
  EXPECT_EQ(cursor_.nvarlen_cols, 1);
  ASSERT_NE(cursor_.rowlen_table, nullptr);
}

}  // namespace
