/*
** The wire primitives against the golden bytes of scripts/primitives.txt
** (written from the wire-form table) and the stored collection forms of
** tests/genlib/oracle: every primitive writes the same bytes whatever the
** send-buffer size (1 to 16 bytes, so that values straddle buffers at
** every cut), and every reader reads them back from replies cut at every
** size.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "coll_fixtures.h"
#include "decimal_value.h"
#include "fake_asf.h"
#include "gen_collection.h"
#include "gen_decimal.h"
#include "sqli_context.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

using sqli_test::Bytes;
using sqli_test::FakeAsf;
using sqli_test::TestConnection;

const std::map<std::string, Bytes> &golden() {
  static const std::map<std::string, Bytes> table = [] {
    std::map<std::string, Bytes> out;
    for (auto &[name, bytes] : sqli_test::load_scripts(DVZ_SQLI_SCRIPTS "/primitives.txt"))
      out[name] = bytes;
    return out;
  }();
  return table;
}

using sqli_test::decimal;

tblob_desc_t blob() {
  tblob_desc_t b {};
  b.tb_head[0] = 1;
  b.tb_head[1] = -2;
  for (int i = 0; i < 7; ++i)
    b.tb_words[i] = 3 + i;
  b.tb_words[6] = -9;
  b.tb_marks[0] = 10;
  b.tb_marks[1] = 11;
  b.tb_marks[2] = 12;
  b.tb_flags = TBLOB_NULL;
  b.tb_tail[0] = 14;
  b.tb_tail[1] = 15;
  b.tb_tail[2] = 16;
  b.tb_tail[3] = 0x7FFFFFFF;
  return b;
}

/* A collection record over a type info it owns. */
struct Collection {
  std::unique_ptr<dvz_coll_typeinfo_t, void (*)(void *)> ti {nullptr, std::free};
  std::string data;
  dvz_coll_t c {};

  Collection(int fields, const std::string &bytes) : data(bytes) {
    ti.reset(static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(fields))));
    ti->ti_count = static_cast<int16_t>(fields);
    c.cl_svr_typeinfo = ti.get();
    c.cl_data = data.data();
    c.cl_len = c.cl_datalen = static_cast<int32_t>(data.size());
  }
  Collection(coll_test::typeinfo_ptr owned, const std::string &bytes) : data(bytes) {
    ti.reset(owned.release());
    c.cl_svr_typeinfo = ti.get();
    c.cl_data = data.data();
    c.cl_len = c.cl_datalen = static_cast<int32_t>(data.size());
  }
  Collection(const Collection &) = delete;
  Collection &operator=(const Collection &) = delete;
};

/* The odd-length collection of the script: one field named "f", data
** "hello". */
void shape_odd(Collection &k) {
  k.ti->ti_xid = 0x01020304;
  k.ti->ti_hdrval = 7;
  std::memcpy(k.ti->ti_name, "ti_name", 7);
  dvz_coll_field_t &f = k.ti->ti_fields[0];
  f.level_no = 1;
  f.fieldnmlen = 1;
  f.fieldname[0] = 'f';
  f.field_no = 2;
  f.type = 0x102;
  f.length = 4;
  f.xid = 9;
  f.align = 4;
  f.srctype = 2;
  k.c.cl_handle = 0x55;
  k.c.cl_flags = 0x40;
}

struct WriteCase {
  const char *script;
  std::function<void(pipe_vbles *)> put;
};

const std::vector<WriteCase> &write_cases() {
  static const std::vector<WriteCase> cases = {
      {"byte", [](pipe_vbles *p) { _iputbyte(0x1AB, p); }},
      {"int_negative", [](pipe_vbles *p) { _iputint(-2, p); }},
      {"int_low16", [](pipe_vbles *p) { _iputint(0x12345, p); }},
      {"unsigned_max", [](pipe_vbles *p) { _iputunsigned(65535, p); }},
      {"long_negative", [](pipe_vbles *p) { _iputlong(-2, p); }},
      {"long_pattern", [](pipe_vbles *p) { _iputlong(0x01020304, p); }},
      {"pptr", [](pipe_vbles *p) { _iputpptr(0x01020304, p); }},
      {"int8_negative",
       [](pipe_vbles *p) {
         const dvz_int8_t v {5, 1, -1};
         _iputint8(&v, p);
       }},
      {"int8_positive",
       [](pipe_vbles *p) {
         const dvz_int8_t v {0xFFFFFFFF, 0x7FFFFFFF, 1};
         _iputint8(&v, p);
       }},
      {"float_one_and_half", [](pipe_vbles *p) { _iputfloat(1.5, p); }},
      {"dbl_one_and_half", [](pipe_vbles *p) { _iputdbl(1.5, p); }},
      {"decimal_two_pairs",
       [](pipe_vbles *p) {
         const dec_t d = decimal(1, 1, {12, 34});
         _iputdecimal(&d, p);
       }},
      {"decimal_one_pair",
       [](pipe_vbles *p) {
         const dec_t d = decimal(1, 1, {5});
         _iputdecimal(&d, p);
       }},
      {"decimal_negative",
       [](pipe_vbles *p) {
         const dec_t d = decimal(0, 1, {5});
         _iputdecimal(&d, p);
       }},
      {"lbuf_odd", [](pipe_vbles *p) { _iputlbuf("abcde", 5, p); }},
      {"lbuf_odd_raw", [](pipe_vbles *p) { _iputlbuf("abcde", 5, p); }},
      {"lbuf_even", [](pipe_vbles *p) { _iputlbuf("abcd", 4, p); }},
      {"lbuf_empty", [](pipe_vbles *p) { _iputlbuf("", 0, p); }},
      {"pbuf_odd", [](pipe_vbles *p) { _iputpbuf("abc", 3, p); }},
      {"pbuf_even", [](pipe_vbles *p) { _iputpbuf("ab", 2, p); }},
      {"buf_odd", [](pipe_vbles *p) { _iputbuf("abc", 3, p); }},
      {"pad", [](pipe_vbles *p) { _iputpad(p); }},
      {"blob",
       [](pipe_vbles *p) {
         const tblob_desc_t b = blob();
         _iputblob(&b, p);
       }},
      {"collection_odd_short",
       [](pipe_vbles *p) {
         Collection k(1, "hello");
         shape_odd(k);
         _iputcollection(&k.c, p);
       }},
  };
  return cases;
}

class WirePrimitives : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(CheckGlobInit(), nullptr); }

  /* The bytes put() sends through buffers of send_size, after lead bytes. */
  static Bytes written(int send_size, int lead, const std::function<void(pipe_vbles *)> &put,
                       int32_t capabilities = 0) {
    FakeAsf fake;
    fake.set_send_size(send_size);
    TestConnection t(capabilities);
    EXPECT_EQ(initpipevbles(&t.pipe), 0);
    for (int i = 0; i < lead; ++i)
      _iputbyte(0xEE, &t.pipe);
    put(&t.pipe);
    EXPECT_EQ(_iflushbuff(&t.pipe), 0);
    Bytes out = fake.sent_bytes();
    EXPECT_GE(out.size(), static_cast<size_t>(lead));
    out.erase(out.begin(), out.begin() + std::min<size_t>(out.size(), static_cast<size_t>(lead)));
    return out;
  }
};

TEST_F(WirePrimitives, WriteTheGoldenBytesAtEverySendBufferSize) {
  ASSERT_FALSE(golden().empty());
  for (const WriteCase &c : write_cases()) {
    const Bytes &want = golden().at(c.script);
    for (int size = 1; size <= 16; ++size)
      for (int lead = 0; lead < 2; ++lead)
        EXPECT_EQ(sqli_test::hex(written(size, lead, c.put)), sqli_test::hex(want))
            << c.script << " send size " << size << " lead " << lead;
  }
}

TEST_F(WirePrimitives, EveryScriptHasItsWriter) {
  std::set<std::string> covered;
  for (const WriteCase &c : write_cases())
    covered.insert(c.script);
  for (const auto &[name, bytes] : golden())
    EXPECT_TRUE(covered.count(name) == 1) << name << " has no writer";
}

TEST_F(WirePrimitives, ByteStringLengthsFollowTheTable) {
  /* A 5-byte lbuf is 2 + 5 + 1 bytes, a 4-byte one 2 + 4; a pptr 8, an
  ** INT8 10, a blob descriptor 56. */
  EXPECT_EQ(golden().at("lbuf_odd").size(), 8u);
  EXPECT_EQ(golden().at("lbuf_even").size(), 6u);
  EXPECT_EQ(golden().at("pptr").size(), 8u);
  EXPECT_EQ(golden().at("int8_negative").size(), 10u);
  EXPECT_EQ(golden().at("blob").size(), 56u);
}

/* ---- Collections against the value library's oracle ---------------------------------- */

TEST_F(WirePrimitives, CollectionsAreTheOracleStoredFormsByCapability) {
  const auto table = coll_test::oracle_goldens(DVZ_COLL_CASES);
  ASSERT_EQ(table.count("set2int_short") + table.count("set2int_long"), 2u)
      << "missing " << DVZ_COLL_CASES;
  struct Row {
    const char *name;
    int32_t capabilities;
    int expected_length;
  };
  /* L = 26 + 2 x 84 + 12 + cl_len with 18-byte names; 8 + 128 + 2 x 414 +
  ** 12 + cl_len with long identifiers (capability 0x200). */
  const Row rows[] = {{"set2int_short", 0, 26 + 2 * 84 + 12 + 8},
                      {"set2int_long", 0x200 | 0x1, 8 + 128 + 2 * 414 + 12 + 8}};
  for (const Row &r : rows) {
    const auto &[total, hex] = table.at(r.name);
    EXPECT_EQ(total, r.expected_length) << r.name;
    for (int size : {1, 7, 16, 4096}) {
      const Bytes out = written(
          size, 0,
          [](pipe_vbles *p) {
            Collection k(coll_test::oracle_set_typeinfo(), std::string("\0\0\0\1\0\0\0\2", 8));
            k.c.cl_handle = 0xCAFEBABE;
            k.c.cl_flags = 0x40;
            _iputcollection(&k.c, p);
          },
          r.capabilities);
      EXPECT_EQ(sqli_test::ld_i32(out, 0), r.expected_length) << r.name;
      EXPECT_EQ(sqli_test::hex(out), hex) << r.name << " send size " << size;
    }
  }
}

/* ---- Readers ---------------------------------------------------------------------------- */

class WireReaders : public WirePrimitives {
 protected:
  /* Reads script's bytes, cut into received buffers of cut bytes, with
  ** get(); then checks that nothing is left over. */
  static void read_back(const Bytes &bytes, int cut, const std::function<void(pipe_vbles *)> &get) {
    FakeAsf fake;
    fake.script_reply(bytes, {cut});
    TestConnection t;
    ASSERT_EQ(initpipevbles(&t.pipe), 0);
    get(&t.pipe);
    EXPECT_EQ(fake.delivered(), bytes.size());
    EXPECT_EQ(t.pipe.inleft, 0) << "bytes left over";
    EXPECT_EQ(SQLCODE, 0);
  }
};

TEST_F(WireReaders, ReadTheGoldenBytesFromEveryCut) {
  for (int cut = 1; cut <= 16; ++cut) {
    SCOPED_TRACE(testing::Message() << "cut " << cut);
    read_back(golden().at("byte"), cut, [](pipe_vbles *p) { EXPECT_EQ(_igetbyte(p), 0xAB); });
    read_back(golden().at("int_negative"), cut, [](pipe_vbles *p) { EXPECT_EQ(_igetint(p), -2); });
    read_back(golden().at("unsigned_max"), cut,
              [](pipe_vbles *p) { EXPECT_EQ(_igetunsigned(p), 65535); });
    read_back(golden().at("long_negative"), cut,
              [](pipe_vbles *p) { EXPECT_EQ(_igetlong(p), -2); });
    read_back(golden().at("pptr"), cut, [](pipe_vbles *p) { EXPECT_EQ(_igetpptr(p), 0x01020304); });
    read_back(golden().at("int8_negative"), cut, [](pipe_vbles *p) {
      dvz_int8_t v {};
      _igetint8(&v, p);
      EXPECT_EQ(v.sign, -1);
      EXPECT_EQ(v.low, 5u);
      EXPECT_EQ(v.high, 1u);
    });
    read_back(golden().at("float_one_and_half"), cut,
              [](pipe_vbles *p) { EXPECT_EQ(_igetfloat(p), 1.5); });
    read_back(golden().at("dbl_one_and_half"), cut,
              [](pipe_vbles *p) { EXPECT_EQ(_igetdbl(p), 1.5); });
    read_back(golden().at("decimal_two_pairs"), cut, [](pipe_vbles *p) {
      dec_t d {};
      EXPECT_EQ(_igetdecimal(&d, p), 3);
      const dec_t want = decimal(1, 1, {12, 34});
      EXPECT_EQ(deccmp(&d, &want), 0);
    });
    read_back(golden().at("decimal_negative"), cut, [](pipe_vbles *p) {
      dec_t d {};
      EXPECT_EQ(_igetdecimal(&d, p), 2);
      const dec_t want = decimal(0, 1, {5});
      EXPECT_EQ(deccmp(&d, &want), 0);
    });
    read_back(golden().at("pbuf_odd"), cut, [](pipe_vbles *p) {
      char text[4] {};
      _igetpbuf(text, 3, p);
      EXPECT_STREQ(text, "abc");
    });
    read_back(golden().at("buf_odd"), cut, [](pipe_vbles *p) {
      char text[4] {};
      _igetbuf(text, 3, p);
      EXPECT_STREQ(text, "abc");
    });
    read_back(golden().at("blob"), cut, [](pipe_vbles *p) {
      tblob_desc_t b {};
      _igetblob(&b, p);
      const tblob_desc_t want = blob();
      EXPECT_EQ(std::memcmp(&b, &want, sizeof b), 0);
    });
  }
}

TEST_F(WireReaders, DecimalLengthsOutsideThePackedFormLeaveTheValue) {
  struct Row {
    const char *script;
    int length;
    int sqlcode;
  };
  /* 65535 is no value; 21 to 65534 cannot be a packed DECIMAL: a protocol
  ** error, nothing more read. */
  const Row rows[] = {{"u16(65535)", 65535, 0}, {"u16(25)", 25, -408}, {"u16(21)", 21, -408}};
  for (const Row &r : rows) {
    _sqclrca(sqlitcb);
    FakeAsf fake;
    fake.script_reply(sqli_test::parse_script(std::string(r.script) + " c10c22"));
    TestConnection t;
    ASSERT_EQ(initpipevbles(&t.pipe), 0);
    dec_t d = decimal(1, 3, {7, 8, 9});
    const dec_t before = d;
    EXPECT_EQ(_igetdecimal(&d, &t.pipe), r.length) << r.script;
    EXPECT_EQ(std::memcmp(&d, &before, sizeof d), 0) << r.script;
    EXPECT_EQ(SQLCODE, r.sqlcode) << r.script;
    EXPECT_EQ(_igetbyte(&t.pipe), 0xC1) << "the bytes after the length stay unread";
  }
  /* An error already recorded stands. */
  _sqclrca(sqlitcb);
  _iqseterr(-201);
  FakeAsf fake;
  fake.script_reply(sqli_test::parse_script("u16(30)"));
  TestConnection t;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  dec_t d {};
  EXPECT_EQ(_igetdecimal(&d, &t.pipe), 30);
  EXPECT_EQ(SQLCODE, -201);
}

TEST_F(WireReaders, SkipsConsumeTheirBytesAndBlobChunks) {
  /* 3 chars and their pad, 2 ints, 1 INT8, a blob descriptor, then two
  ** blobs: one of chunks 3 and 2 bytes, one empty; then a marker. */
  const Bytes bytes = sqli_test::parse_script(
      "\"abc\" 00  i16(1) i16(2)  int8(1,2,3)  zeros(56)"
      "  i16(39) u16(3) \"xyz\" 00 i16(39) u16(2) \"uv\" i16(39) u16(0)"
      "  i16(39) u16(0)  i16(77)");
  for (int cut : {1, 3, 200}) {
    read_back(bytes, cut, [](pipe_vbles *p) {
      _igoblchars(3, p);
      _igoblints(2, p);
      _igoblint8s(1, p);
      _igobltblob(p);
      EXPECT_EQ(_igoblblobs(2, p), 0);
      EXPECT_EQ(_igetint(p), 77);
    });
  }
  read_back(sqli_test::parse_script("i16(40)"), 4, [](pipe_vbles *p) {
    EXPECT_EQ(_igoblblobs(1, p), -1) << "a chunk code other than 39";
  });
  read_back(Bytes {}, 1, [](pipe_vbles *p) { EXPECT_EQ(_igoblblobs(0, p), 0); });
}

}  // namespace
