/*
** The row copy into host variables on a hand-built cursor: a description
** and the stored row bytes in its fetch buffer, no server. Direct
** transfers by column and host type with their NULL forms, truncation and
** indicators; the typed-value path; the count, indicator and data checks;
** rows whose fields pass their end; and the field sizes.
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "double_server.h"
#include "dvz_be.h"
#include "gen_decimal.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "runtime_session.h"
#include "sqli_context.h"
#include "sqli_dynamic.h"
#include "sqli_hostvar.h"
#include "sqli_reply.h"
#include "sqli_seams.h"
#include "sqli_statement.h"
#include "sqli_statements.h"

namespace {

struct Column {
  int type;
  int len;
};

/* Stored bytes helpers. */
std::string be16(int16_t v) {
  char b[2];
  dvz_st_be_i16(v, b);
  return std::string(b, 2);
}
std::string be32(int32_t v) {
  char b[4];
  dvz_st_be_i32(v, b);
  return std::string(b, 4);
}
std::string stored_decimal(int32_t v, int len) {
  dec_t d {};
  deccvlong(v, &d);
  std::string out(static_cast<size_t>((((len >> 8) & 0xFF) + (len & 1) + 3) / 2), '\0');
  stdecimal(&d, reinterpret_cast<unsigned char *>(out.data()), static_cast<int>(out.size()));
  return out;
}
std::string stored_double(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i)
    out[static_cast<size_t>(i)] = static_cast<char>(bits >> (56 - 8 * i));
  return out;
}
std::string stored_float(float v) {
  uint32_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return be32(static_cast<int32_t>(bits));
}
/* An opaque field: flags, BE32 length, bytes. */
std::string opaque(const std::string &bytes, bool null = false) {
  return std::string(1, null ? '\1' : '\0') + be32(static_cast<int32_t>(bytes.size())) + bytes;
}

class TupleUnpack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CheckGlobInit(), nullptr);
    tcb_ = sqlitcb;
    saved_flags_ = tcb_->flags;
    saved_conn_ = tcb_->curconn;
    _sqclrca(tcb_);
    cursor_ = sqli_cursor {};
  }
  void TearDown() override {
    /* Only the option a test sets goes back: the status bits are the
    ** runtime's own. */
    tcb_->flags = static_cast<int16_t>((tcb_->flags & ~sqli_flag_blanks_not_null) |
                                       (saved_flags_ & sqli_flag_blanks_not_null));
    tcb_->curconn = saved_conn_;
    tcb_->lvar_alloc = 0;
  }

  /* The description and one fixed-length row holding bytes. */
  void load(std::initializer_list<Column> columns, const std::string &row) {
    cols_.assign(columns.size(), dbfd {});
    int i = 0;
    for (const Column &c : columns) {
      cols_[static_cast<size_t>(i)].type = static_cast<int16_t>(c.type);
      cols_[static_cast<size_t>(i)].length = c.len;
      ++i;
    }
    buffer_.assign(row.begin(), row.end());
    buffer_.resize(std::max<size_t>(buffer_.size(), 1));
    cursor_.coldesc = cols_.data();
    cursor_.ncols = static_cast<int16_t>(cols_.size());
    cursor_.buffer = buffer_.data();
    cursor_.bufpos = buffer_.data();
    cursor_.bufsize = static_cast<int32_t>(row.size());
    cursor_.rowsize = static_cast<int16_t>(row.size());
    cursor_.nbuffered = 1;
  }
  int unpack(std::vector<sqlvar_struct> &hosts, int options = 0) {
    return _iqupdtargs(&cursor_, static_cast<int>(hosts.size()), hosts.data(), options, tcb_);
  }
  /* A cleared status, then the row field of the one column col into one
  ** host: the copy's result. */
  int unpack_one(Column col, const std::string &field, int type, int len, void *data,
                 int16_t *ind) {
    _sqclrca(tcb_);
    load({col}, field);
    std::vector<sqlvar_struct> hosts {host(type, len, data, ind)};
    return unpack(hosts);
  }
  static sqlvar_struct host(int type, int len, void *data, int16_t *ind = nullptr) {
    sqlvar_struct h {};
    h.sqltype = static_cast<int16_t>(type);
    h.sqllen = len;
    h.sqldata = static_cast<char *>(data);
    h.sqlind = ind;
    return h;
  }
  /* An ANSI-mode connection record without I/O. */
  void ansi_connection() {
    conn_ = sqli_conn {};
    conn_.dbflags[1] = 1;
    tcb_->curconn = &conn_;
  }

  sqli_tcb *tcb_ = nullptr;
  sqli_cursor cursor_ {};
  std::vector<dbfd> cols_;
  std::vector<char> buffer_;
  sqli_conn conn_ {};
  sqli_conn *saved_conn_ = nullptr;
  int16_t saved_flags_ = 0;
};

/* One column into one character host: the bytes the host holds after
** the copy (compared over expect.size()), indicator and warning. */
TEST_F(TupleUnpack, CharacterColumnsIntoCharacterHosts) {
  struct Case {
    const char *what;
    Column col;
    std::string field;
    int host;
    int hostlen;
    std::string expect;
    int ind;
    bool warned;
  };
  const Case cases[] = {
      {"CHAR cut into a 5-byte string",
       {0, 10},
       "abcdefghij",
       100,
       5,
       std::string("abcd\0", 5),
       10,
       true},
      {"CHAR padded into a string", {0, 3}, "abc", 100, 6, std::string("abc  \0", 6), 0, false},
      {"CHAR NULL", {0, 4}, std::string("\0bcd", 4), 100, 6, std::string("\0", 1), -1, false},
      {"CHAR into a 1-byte string", {0, 4}, "abcd", 100, 1, std::string("\0", 1), 4, true},
      {"CHAR into fixchar: padded, no NUL", {0, 2}, "ab", 108, 4, "ab  Z", 0, false},
      {"CHAR into fixchar cut", {0, 6}, "abcdef", 108, 4, "abcdZ", 6, true},
      {"NCHAR as CHAR", {15, 3}, "xyz", 100, 4, std::string("xyz\0", 4), 0, false},
      {"CHAR into 114 keeps its blank padding",
       {0, 6},
       "ab    ",
       114,
       10,
       std::string("ab    \0", 7),
       0,
       false},
      {"CHAR into 109 without the flag strips blanks",
       {0, 6},
       "ab    ",
       109,
       10,
       std::string("ab\0", 3),
       0,
       false},
      {"VARCHAR into 114",
       {13, 20},
       "\x05"
       "hello",
       114,
       65,
       std::string("hello\0", 6),
       0,
       false},
      {"VARCHAR NULL",
       {13, 20},
       std::string("\x01\0", 2),
       114,
       65,
       std::string("\0", 1),
       -1,
       false},
      {"VARCHAR cut",
       {13, 20},
       "\x05"
       "hello",
       114,
       4,
       std::string("hel\0", 4),
       5,
       true},
      {"VARCHAR into fixchar goes by value",
       {13, 20},
       "\x02"
       "hi",
       108,
       4,
       "hi  Z",
       0,
       false},
      {"NVARCHAR into its own type",
       {16, 9},
       "\x03"
       "abc",
       16,
       8,
       std::string("abc\0", 4),
       0,
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string padded = c.field;
    padded.resize(static_cast<size_t>(gettupsize(c.col.type, c.col.len)), '\0');
    std::vector<char> out(static_cast<size_t>(std::max(c.hostlen, 1)) + 8, 'Z');
    int16_t ind = 99;
    EXPECT_EQ(unpack_one(c.col, padded, c.host, c.hostlen, out.data(), &ind), 0);
    EXPECT_EQ(std::string(out.data(), c.expect.size()), c.expect);
    EXPECT_EQ(ind, c.ind);
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn0 == 'W', c.warned);
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn1 == 'W', c.warned);
  }
}

TEST_F(TupleUnpack, NumericColumnsIntoTheirHostTypes) {
  dvz_int8_t big {};
  ASSERT_EQ(dvz_int8cvasc("-9000000000", 11, &big), 0);
  char big_bytes[10];
  stint8(&big, big_bytes);
  const dvz_int8_t null8 {};
  char null8_bytes[10];
  stint8(&null8, null8_bytes);
  struct Case {
    const char *what;
    Column col;
    std::string field;
    int host;
    int hostlen;
    double expect; /* the host's value, read by its type */
    int ind;
  };
  const Case cases[] = {
      {"SMALLINT", {1, 2}, be16(-258), 101, 2, -258, 0},
      {"SMALLINT NULL", {1, 2}, be16(INT16_MIN), 101, 2, INT16_MIN, -1},
      {"INTEGER into 102", {2, 4}, be32(70000), 102, 4, 70000, 0},
      {"INTEGER NULL keeps its NULL form", {2, 4}, be32(INT32_MIN), 102, 4, INT32_MIN, -1},
      {"SERIAL into 103", {6, 4}, be32(9), 103, 4, 9, 0},
      {"DATE into 110", {7, 4}, be32(45000), 110, 4, 45000, 0},
      {"DATE NULL", {7, 4}, be32(INT32_MIN), 110, 4, INT32_MIN, -1},
      {"FLOAT", {3, 8}, stored_double(-2.5), 105, 8, -2.5, 0},
      {"FLOAT NULL", {3, 8}, std::string(8, '\xFF'), 105, 8, NAN, -1},
      {"SMALLFLOAT", {4, 4}, stored_float(0.75f), 104, 4, 0.75, 0},
      {"DECIMAL of the host's precision",
       {5, 0x0702},
       stored_decimal(12345, 0x0702),
       107,
       0x0702,
       12345,
       0},
      {"INT8", {17, 10}, std::string(big_bytes, 10), 117, 10, -9000000000.0, 0},
      {"INT8 NULL", {17, 10}, std::string(null8_bytes, 10), 117, 10, 0, -1},
      {"SERIAL8 into its own type", {18, 10}, std::string(big_bytes, 10), 18, 10, -9000000000.0, 0},
      {"SMALLFLOAT NULL", {4, 4}, std::string(4, '\xFF'), 104, 4, NAN, -1},
      {"DECIMAL NULL", {5, 0x0702}, std::string("\0\0\0\0\0", 5), 107, 0x0702, 0, -1},
      {"MONEY into 111", {8, 0x0802}, stored_decimal(-7, 0x0802), 111, 0x0802, -7, 0},
      {"INTEGER into a SMALLINT host by value", {2, 4}, be32(12), 101, 2, 12, 0},
      {"SMALLINT into an INTEGER host by value", {1, 2}, be16(-3), 102, 4, -3, 0},
      {"DECIMAL into a double by value", {5, 0x0702}, stored_decimal(-15, 0x0702), 105, 8, -15, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    alignas(16) unsigned char out[64];
    std::memset(out, 0xAB, sizeof out);
    int16_t ind = 99;
    EXPECT_EQ(unpack_one(c.col, c.field, c.host, c.hostlen, out, &ind), 0);
    EXPECT_EQ(ind, c.ind);
    double got = 0;
    switch (c.host) {
      case 101:
        got = *reinterpret_cast<int16_t *>(out);
        break;
      case 102:
      case 103:
      case 110:
        got = *reinterpret_cast<int32_t *>(out);
        break;
      case 104:
        got = *reinterpret_cast<float *>(out);
        break;
      case 105:
        got = *reinterpret_cast<double *>(out);
        break;
      case 107:
      case 111: {
        int32_t v = 0;
        if (c.ind == 0) {
          ASSERT_EQ(dectolong(reinterpret_cast<dec_t *>(out), &v), 0);
        }
        got = v;
        break;
      }
      case 18:
      case 117: {
        const auto *v = reinterpret_cast<dvz_int8_t *>(out);
        got = (v->sign < 0 ? -1.0 : 1.0) * (v->high * 4294967296.0 + v->low);
        break;
      }
    }
    if (std::isnan(c.expect)) {
      EXPECT_TRUE(std::isnan(got)) << "the NULL form of a float or double";
    } else {
      EXPECT_EQ(got, c.expect);
    }
  }
}

TEST_F(TupleUnpack, ProbeRowFillsTheTwoHostsAndANullIntegerWithoutIndicator) {
  load({{13, 64}, {2, 4}},
       "\x04"
       "s1ok" +
           std::string(60, '\0') + be32(INT32_MIN));
  char name[65];
  int32_t number = 7;
  std::vector<sqlvar_struct> hosts {host(114, 65, name), host(102, 4, &number)};
  EXPECT_EQ(unpack(hosts), 0);
  EXPECT_STREQ(name, "s1ok");
  EXPECT_EQ(static_cast<uint32_t>(number), 0x80000000u);
}

TEST_F(TupleUnpack, BlanksAreNotNullKeepsOneBlankInA109Host) {
  tcb_->flags |= sqli_flag_blanks_not_null;
  struct Case {
    Column col;
    std::string field;
    const char *expect;
  };
  const Case cases[] = {{{0, 4}, "    ", " "}, {{0, 4}, "ab  ", "ab"}, {{13, 8}, "\x03   ", " "}};
  for (const Case &c : cases) {
    std::string padded = c.field;
    padded.resize(static_cast<size_t>(gettupsize(c.col.type, c.col.len)), '\0');
    load({c.col}, padded);
    char out[10];
    std::vector<sqlvar_struct> hosts {host(109, sizeof out, out)};
    EXPECT_EQ(unpack(hosts), 0);
    EXPECT_STREQ(out, c.expect);
  }
}

TEST_F(TupleUnpack, IndicatorVariablesOfOtherTypesAndTheRequiredIndicator) {
  load({{2, 4}}, be32(INT32_MIN));
  int32_t value = 0;
  int32_t wide_ind = 5;
  sqlvar_struct h = host(102, 4, &value);
  h.sqlidata = reinterpret_cast<char *>(&wide_ind);
  h.sqlitype = 102;
  h.sqlilen = 4;
  std::vector<sqlvar_struct> hosts {h};
  EXPECT_EQ(unpack(hosts), 0);
  EXPECT_EQ(wide_ind, -1) << "an i32 indicator variable takes the NULL";

  char text_ind[8] = "xxxxxxx";
  hosts[0].sqlidata = text_ind;
  hosts[0].sqlitype = 100;
  hosts[0].sqlilen = sizeof text_ind;
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(hosts), 0);
  EXPECT_EQ(std::string(text_ind, 2), "-1");

  hosts[0].sqlidata = nullptr;
  hosts[0].sqlitype = 0;
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(hosts), 0) << "no indicator is no error unless one is required";
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(hosts, 4), -467);
}

TEST_F(TupleUnpack, HostCountDiffersFromTheColumns) {
  load({{2, 4}, {1, 2}}, be32(41) + be16(42));
  int32_t a = 0;
  int16_t b = 0;
  int32_t c = 77;
  std::vector<sqlvar_struct> hosts {host(102, 4, &a), host(101, 2, &b), host(102, 4, &c)};
  EXPECT_EQ(unpack(hosts), 0);
  EXPECT_EQ(a, 41);
  EXPECT_EQ(b, 42);
  EXPECT_EQ(c, 77);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn3, 'W');

  ansi_connection();
  _sqclrca(tcb_);
  a = b = 0;
  EXPECT_EQ(unpack(hosts), -485);
  EXPECT_EQ(a, 41) << "the columns are delivered before the error";

  _sqclrca(tcb_);
  hosts.resize(1);
  EXPECT_EQ(unpack(hosts), -485) << "fewer hosts than columns too";
}

TEST_F(TupleUnpack, RefusedHostsEndTheRow) {
  struct Case {
    const char *what;
    Column col;
    std::string field;
    int host;
    int code;
  };
  const Case cases[] = {
      {"host without data", {2, 4}, be32(1), 102, -402},
      {"BYTE into a character host", {11, 56}, std::string(56, '\0'), 100, -608},
      {"TEXT into a file host without a name", {12, 56}, std::string(56, '\0'), 116, -461},
      {"SET into an integer host", {19, 0}, be32(4) + be32(4) + "abcd", 102, -1818},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    _sqclrca(tcb_);
    load({c.col, {2, 4}}, c.field + be32(5));
    char out[64] = {};
    int32_t second = 0;
    std::vector<sqlvar_struct> hosts {host(c.host, 8, c.code == -402 ? nullptr : out),
                                      host(102, 4, &second)};
    EXPECT_EQ(unpack(hosts), c.code);
    EXPECT_EQ(second, 0) << "the columns after the failed one are not delivered";
  }
}

TEST_F(TupleUnpack, OpaqueFieldsIntoTheirHosts) {
  /* LVARCHAR into a character buffer, BOOLEAN, fixed UDT. */
  load({{43, 2048}, {45, 1}, {41, 4}}, opaque("long text") + opaque("\1") + opaque("abcd"));
  char text[6];
  char flag = 'x';
  char fixed[4];
  int16_t ind[3] = {9, 9, 9};
  std::vector<sqlvar_struct> hosts {host(100, sizeof text, text, &ind[0]),
                                    host(122, 1, &flag, &ind[1]),
                                    host(120, sizeof fixed, fixed, &ind[2])};
  EXPECT_EQ(unpack(hosts), 0);
  EXPECT_STREQ(text, "long ");
  EXPECT_EQ(ind[0], 9) << "an LVARCHAR read as CHAR by value";
  EXPECT_EQ(flag, '\1');
  EXPECT_EQ(std::string(fixed, 4), "abcd");

  /* A character host of length 0 takes no more than the column's length
  ** or a display text, whatever length the field claims. */
  load({{43, 10}}, opaque(std::string(200, 'x')));
  std::vector<char> unlimited(81, 'Z');
  int16_t cut = 0;
  std::vector<sqlvar_struct> zero_len {host(100, 0, unlimited.data(), &cut)};
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(zero_len), 0);
  EXPECT_EQ(std::string(unlimited.data()), std::string(80, 'x'));
  EXPECT_EQ(cut, 200);

  /* An opaque column into a host outside its class goes by value: a
  ** variable UDT has no text (its bytes never reach the host as a record). */
  load({{40, 10}}, opaque("abc"));
  char plain[8] = "keep";
  std::vector<sqlvar_struct> by_value {host(100, sizeof plain, plain)};
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(by_value), -1260);

  load({{41, 8}}, opaque("too long!"));
  char small[4];
  std::vector<sqlvar_struct> one {host(120, sizeof small, small)};
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(one), -1821);

  /* A growable variable-length record grows; a fixed one too small is
  ** refused; NULL sets its flag. */
  load({{40, 100}}, opaque("0123456789"));
  dvz_hostbuf_t rec {};
  rec.flags = HOSTVAR_GROWABLE;
  std::vector<sqlvar_struct> var {host(121, 0, &rec)};
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(var), 0);
  ASSERT_NE(rec.data, nullptr);
  EXPECT_EQ(rec.length, 10);
  EXPECT_EQ(std::string(rec.data, 10), "0123456789");
  std::free(rec.data);

  char four[4];
  dvz_hostbuf_t fixed_rec {0, 0, sizeof four, four};
  var[0].sqldata = reinterpret_cast<char *>(&fixed_rec);
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(var), -1821);

  load({{40, 100}}, opaque("", true));
  _sqclrca(tcb_);
  int16_t vind = 0;
  var[0].sqlind = &vind;
  EXPECT_EQ(unpack(var), 0);
  EXPECT_NE(fixed_rec.flags & HOSTVAR_NULL, 0);
  EXPECT_EQ(vind, -1);
}

/* Rows that do not match their description: the protocol error, and
** nothing of the row in any host. Every buffer here is exactly the row,
** so ASan sees any read beyond it. */
TEST_F(TupleUnpack, FieldsPassingTheRowEndAreAProtocolError) {
  struct Case {
    const char *what;
    std::vector<Column> cols;
    std::string row;
  };
  const Case cases[] = {
      {"LVARCHAR length beyond the row",
       {{2, 4}, {43, 100}},
       be32(1) + opaque("ab").substr(0, 1) + be32(1000) + "ab"},
      {"opaque head cut", {{2, 4}, {40, 10}}, be32(1) + std::string("\0\0", 2)},
      {"negative opaque length", {{2, 4}, {41, 10}}, be32(1) + std::string(1, '\0') + be32(-5)},
      {"collection length beyond the row", {{2, 4}, {19, 0}}, be32(1) + be32(0) + be32(500)},
      {"description wider than the row", {{2, 4}, {0, 10}}, be32(1) + "abc"},
      {"FLOAT whose length word is shorter than its value", {{2, 4}, {3, 1}}, be32(1) + "12345678"},
      {"VARCHAR of no room claiming characters", {{2, 4}, {13, 0}}, be32(1) + "\x01"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    _sqclrca(tcb_);
    tcb_->curconn = nullptr;
    cols_.assign(c.cols.size(), dbfd {});
    for (size_t i = 0; i < c.cols.size(); ++i) {
      cols_[i].type = static_cast<int16_t>(c.cols[i].type);
      cols_[i].length = c.cols[i].len;
    }
    buffer_.assign(c.row.begin(), c.row.end());
    cursor_.coldesc = cols_.data();
    cursor_.ncols = static_cast<int16_t>(cols_.size());
    cursor_.buffer = cursor_.bufpos = buffer_.data();
    cursor_.bufsize = static_cast<int32_t>(buffer_.size());
    cursor_.rowsize = static_cast<int16_t>(buffer_.size());
    int32_t first = 0;
    char second[200] = "untouched";
    std::vector<sqlvar_struct> hosts {host(102, 4, &first), host(100, sizeof second, second)};
    EXPECT_EQ(unpack(hosts), -408);
    EXPECT_EQ(first, 0);
    EXPECT_STREQ(second, "untouched");
  }
}

TEST_F(TupleUnpack, VariableLengthRowsTakeTheirLengthFromTheTable) {
  const std::string row = opaque("abc") + be32(5);
  load({{43, 100}, {2, 4}}, row + "garbage");
  cursor_.rowsize = 0;
  cursor_.nvarlen_cols = 1;
  int32_t table[rowlen_first + 2] = {0, static_cast<int32_t>(row.size()), 1,
                                     static_cast<int32_t>(row.size()), 0};
  cursor_.rowlen_table = table;
  char text[8];
  int32_t n = 0;
  std::vector<sqlvar_struct> hosts {host(100, sizeof text, text), host(102, 4, &n)};
  EXPECT_EQ(unpack(hosts), 0);
  EXPECT_STREQ(text, "abc    ") << "an LVARCHAR into a char host is read as CHAR";
  EXPECT_EQ(n, 5);

  table[rowlen_first] = static_cast<int32_t>(row.size()) - 2;
  _sqclrca(tcb_);
  tcb_->curconn = nullptr;
  EXPECT_EQ(unpack(hosts), -408) << "a row shorter than its fields";
  cursor_.rowlen_table = nullptr;
}

TEST_F(TupleUnpack, SetColumnCutShortIsRefusedWithoutReadingPastTheRow) {
  /* The field's own length fits the row, but the stored form inside it
  ** is short. */
  const std::string field = be32(6) + be32(4) + std::string("\0\0\0\x13", 4);
  load({{19, 0}}, field);
  dvz_coll_t coll {};
  int16_t ind = 0;
  std::vector<sqlvar_struct> hosts {host(118, sizeof coll, &coll, &ind)};
  EXPECT_EQ(unpack(hosts), -1815);
}

TEST_F(TupleUnpack, ArrayFetchStepsThePointersAfterTheFirstRow) {
  load({{2, 4}, {0, 3}}, be32(8) + "xyz");
  int32_t numbers[2] = {0, 0};
  char texts[2][4] = {};
  int16_t inds[2] = {9, 9};
  std::vector<sqlvar_struct> hosts {host(102, 4, numbers, inds), host(100, 4, texts[0])};
  EXPECT_EQ(unpack(hosts, 8), 0);
  EXPECT_EQ(unpack(hosts, 8 | 16), 0);
  EXPECT_EQ(numbers[1], 8);
  EXPECT_EQ(inds[1], 0);
  EXPECT_STREQ(texts[1], "xyz");
  EXPECT_EQ(hosts[0].sqldata, reinterpret_cast<char *>(&numbers[1]));
}

/* Character columns through the database-to-client converter (the
** build's generated 8859-1 and UTF-8 converters): blank padding after the
** converted text, the input left as truncation, and the two errors. */
TEST_F(TupleUnpack, CharacterColumnsThroughTheCodeSetConversion) {
  {
    oslib_test::Latin1ToUtf8 cv;
    ASSERT_NE(cv.get(), nullptr);
    oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_db_client, cv.get()};
    struct Case {
      Column col;
      std::string field;
      int host;
      int hostlen;
      std::string expect;
      int ind;
    };
    const Case cases[] = {
        {{0, 4}, "\xE9t\xE9 ", 100, 12, std::string("\xC3\xA9t\xC3\xA9      \0", 12), 0},
        {{0, 4}, "\xE9\xE9\xE9\xE9", 100, 6, std::string("\xC3\xA9\xC3\xA9 \0", 6), 2},
        {{0, 2},
         "\xE9"
         "a",
         108,
         4,
         "\xC3\xA9"
         "a Z",
         0},
        {{13, 10}, "\x02\xE9\xE9", 114, 4, std::string("\xC3\xA9\0", 3), 1},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.expect);
      _sqclrca(tcb_);
      std::string padded = c.field;
      padded.resize(static_cast<size_t>(gettupsize(c.col.type, c.col.len)), '\0');
      load({c.col}, padded);
      std::vector<char> out(static_cast<size_t>(c.hostlen) + 4, 'Z');
      int16_t ind = 99;
      std::vector<sqlvar_struct> hosts {host(c.host, c.hostlen, out.data(), &ind)};
      EXPECT_EQ(unpack(hosts), 0);
      EXPECT_EQ(std::string(out.data(), c.expect.size()), c.expect);
      EXPECT_EQ(ind, c.ind);
    }
  }
  oslib_test::Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_db_client, cv.get()};
  struct Bad {
    std::string field;
    int code;
  };
  const Bad bad[] = {{"a\xE2\x82\xAC", -23103}, {"a\xFF\xFF\xFF", -23103}};
  for (const Bad &b : bad) {
    _sqclrca(tcb_);
    load({{0, 4}, {2, 4}}, b.field + be32(3));
    char out[12];
    int32_t n = 0;
    std::vector<sqlvar_struct> hosts {host(100, sizeof out, out), host(102, 4, &n)};
    EXPECT_EQ(unpack(hosts), b.code);
    EXPECT_EQ(n, 0) << "the conversion error ends the row";
  }
}

/* A host variable against an accepted return-type entry. */
TEST_F(TupleUnpack, HostsAgainstAcceptedReturnTypes) {
  dvz_hostbuf_t growable {HOSTVAR_GROWABLE, 0, 0, nullptr};
  char r1[] = "r1";
  char r2[] = "r2";
  struct Case {
    const char *what;
    int host;
    int hostlen;
    int entry;
    int entrylen;
    int entryflags;
    char *host_typename;
    char *entry_typename;
    int16_t alloc;
    int result;
  };
  const Case cases[] = {
      {"same type and length", 102, 4, 2, 4, 0, nullptr, nullptr, 0, 0},
      {"another type", 102, 4, 13, 4, 0, nullptr, nullptr, 0, -1},
      {"VARCHAR host above 255 against 255", 114, 300, 13, 255, 0, nullptr, nullptr, 0, 0},
      {"VARCHAR of another length", 114, 65, 13, 255, 0, nullptr, nullptr, 0, -1},
      {"entry without the terminator", 100, 11, 0, 10, 0x100, nullptr, nullptr, 0, 0},
      {"CHAR of another length", 100, 11, 0, 10, 0, nullptr, nullptr, 0, -1},
      {"growable variable-length record", 121, 0, 44, 9, 0, nullptr, nullptr, 0, 0},
      {"row types of other names", 123, 0, 22, 0, 0, r1, r2, 0, -1},
      {"row types of one name", 123, 0, 22, 0, 0, r1, r1, 0, 0},
      {"LVARCHAR in allocation mode", 119, 10, 43, 2048, 0, nullptr, nullptr, 1, 0},
      {"LVARCHAR of another length", 119, 10, 43, 2048, 0, nullptr, nullptr, 0, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    _sqclrca(tcb_);
    tcb_->lvar_alloc = c.alloc;
    sqlvar_struct h = host(c.host, c.hostlen, c.host == 121 ? &growable : nullptr);
    h.sqltypename = c.host_typename;
    h.sqltypelen = c.host_typename != nullptr ? 2 : 0;
    sqlvar_struct rt {};
    rt.sqltype = static_cast<int16_t>(c.entry);
    rt.sqllen = c.entrylen;
    rt.sqlflags = c.entryflags;
    rt.sqlitype = 1;
    rt.sqltypename = c.entry_typename;
    rt.sqltypelen = c.entry_typename != nullptr ? 2 : 0;
    const int xid = nonC_to_sql(c.host);
    EXPECT_EQ(chkrtype_fetch(&h, &rt, xid, c.host, nullptr), c.result);
    EXPECT_EQ(SQLCODE, c.result == 0 ? 0 : -1820);
  }
  tcb_->lvar_alloc = 0;

  /* In the row copy: the column with a disagreeing host is not delivered. */
  load({{2, 4}, {2, 4}}, be32(1) + be32(2));
  sqlvar_struct entries[2] = {};
  entries[0].sqltype = 2;
  entries[0].sqllen = 4;
  entries[0].sqlitype = 1;
  entries[1].sqltype = 13;
  entries[1].sqllen = 4;
  entries[1].sqlitype = 1;
  cursor_.rtypes = entries;
  cursor_.nrtypes = 2;
  cursor_.flags = sqli_cur_rtypes_sent;
  int32_t a = 0;
  int32_t b = 0;
  std::vector<sqlvar_struct> hosts {host(102, 4, &a), host(102, 4, &b)};
  _sqclrca(tcb_);
  EXPECT_EQ(unpack(hosts), -1820);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  cursor_.rtypes = nullptr;
}

TEST_F(TupleUnpack, ClientCollectionInputsAndDroppedReturnTypes) {
  sqlvar_struct in {};
  in.sqltype = static_cast<int16_t>(118 | 0x8000);
  cursor_.inlist = &in;
  cursor_.nin = 1;
  EXPECT_EQ(_sqclient_coltype(&cursor_, nullptr), 1);
  in.sqltype = 102;
  EXPECT_EQ(_sqclient_coltype(&cursor_, nullptr), -1);
  EXPECT_EQ(SQLCODE, -1817);
  sqlvar_struct row {};
  row.sqltype = 123;
  sqlda desc {};
  desc.sqld = 1;
  desc.sqlvar = &row;
  cursor_.flags = sqli_cur_prepared;
  _sqclrca(tcb_);
  EXPECT_EQ(_sqclient_coltype(&cursor_, &desc), 1) << "a prepared record takes the sqlda's";
  EXPECT_EQ(_sqclient_coltype(&cursor_, nullptr), -1);
  cursor_.inlist = nullptr;

  cursor_.rtypes = static_cast<sqlvar_struct *>(sqli_alloc(2 * sizeof(sqlvar_struct)));
  std::memset(cursor_.rtypes, 0, 2 * sizeof(sqlvar_struct));
  cursor_.nrtypes = 2;
  cursor_.flags |= sqli_cur_rtypes_sent | sqli_cur_rtypes_opt8;
  EXPECT_EQ(sendrettype(&cursor_, tcb_, 0, nullptr, 29), 0);
  EXPECT_EQ(cursor_.rtypes, nullptr);
  EXPECT_EQ(cursor_.nrtypes, 0);
  EXPECT_EQ(cursor_.flags & (sqli_cur_rtypes_sent | sqli_cur_rtypes_opt8), 0u);
}

/* SELECT ... INTO of one row from the double: the row the reply left in
** the buffer reaches the hosts, a CHAR column into host type 114 with its
** blank padding. */
class SelectIntoHosts : public sqli_test::RuntimeSessionTest {};

TEST_F(SelectIntoHosts, OneRowFillsTheHostsOnBothProfiles) {
  const char *text = "SELECT name, value FROM sysprofile WHERE name = 'probe'";
  const std::string scenario = R"({"tables": {"sysprofile": {"columns": [
      {"name": "name", "type": 0, "length": 18}, {"name": "value", "type": 2, "length": 4}],
      "rows": [["probe", 42]]}}})";
  for (const char *profile : {"minimal", "modern"}) {
    SCOPED_TRACE(profile);
    sqli_test::DoubleServer d({"--profile", profile}, scenario);
    char name[65];
    std::memset(name, 'Z', sizeof name - 1);
    name[sizeof name - 1] = '\0';
    int32_t value = 0;
    int16_t ind[2] = {9, 9};
    sqlvar_struct out[2] = {};
    out[0].sqltype = 114;
    out[0].sqllen = sizeof name;
    out[0].sqldata = name;
    out[0].sqlind = &ind[0];
    out[1].sqltype = 102;
    out[1].sqllen = 4;
    out[1].sqldata = reinterpret_cast<char *>(&value);
    out[1].sqlind = &ind[1];
    sqli_cursor rec {};
    const char *pieces[] = {text, nullptr};
    EXPECT_EQ(
        sqli_slct(1, &rec, pieces, 0, nullptr, 2, out, 0, nullptr, nullptr, nullptr, nullptr, 0),
        0);
    EXPECT_STREQ(name, "probe             ");
    EXPECT_EQ(value, 42);
    EXPECT_EQ(ind[0], 0);
    EXPECT_EQ(ind[1], 0);
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST(TupleSizes, FieldSizesOfTheDescription) {
  struct Case {
    int type;
    int len;
    int bytes;
  };
  const Case cases[] = {{0, 18, 18},    {13, 0x0140, 65}, {13, 255, 256},  {5, 0x1002, 9},
                        {5, 0x0702, 5}, {8, 0x1002, 9},   {10, 0x0e0a, 8}, {14, 0x0a01, 7},
                        {2, 4, 4},      {17, 10, 10}};
  for (const Case &c : cases)
    EXPECT_EQ(gettupsize(c.type, c.len), c.bytes) << c.type << " " << c.len;
  int len = -1;
  EXPECT_EQ(getfieldsize(0, 0, 13, 0, 300, 0, &len), 256);
  EXPECT_EQ(len, 255);
  EXPECT_EQ(getfieldsize(0, 0, 5, 0, 0, 0, &len), 18);
  EXPECT_EQ(len, 8447);
  EXPECT_EQ(getfieldsize(1, 5, 5, 0x0702, 0, 0, &len), 5) << "the id's own size";
  EXPECT_EQ(len, 0x0702);
  EXPECT_EQ(getfieldsize(1, 0, 0, 7, 12, 0, &len), 12) << "CHAR follows the host length";
  EXPECT_EQ(getfieldsize(0, 0, 10, 0, 0, 0x0e0a, &len), 8);
  EXPECT_EQ(getfieldsize(0, 0, 19, 0, 0, 0, &len), 0);
}

}  // namespace
