/*
** Tests of the column forms: a value written with rvaldata and read back
** with rdataval, byte images of every scalar type, the NULL and NOT NULL
** rules, cutting text to a column (ANSI and not), the display text of
** non-text values in character columns, and the codes without a handler.
**
** Built three times: the main program; DVZ_COLUMNS_UTF8 for a process
** whose client locale is UTF-8 (multibyte cuts); DVZ_COLUMNS_FIRST_CALL
** for a process whose very first calls reach codes without a handler.
*/
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "dec_repr.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_types.h"
#include "gen_value.h"
#include "os_gentcb.h"
#include "os_stored.h"
#include "value_builders.h"

namespace {

using namespace value_test;

constexpr int year_to_day = TU_ENCODE(8, TU_YEAR, TU_DAY);
constexpr int day3_to_hour = TU_ENCODE(5, TU_DAY, TU_HOUR);
constexpr int hour_to_fraction3 = TU_ENCODE(9, TU_HOUR, TU_F3);

/* A column area with guard bytes on both sides. */
class column_area {
 public:
  static constexpr size_t guard = 16;
  static constexpr unsigned char fill = 0xEE;
  explicit column_area(size_t size) : bytes_(size + 2 * guard, fill), size_(size) {}
  char *data() { return reinterpret_cast<char *>(bytes_.data() + guard); }
  /* The column's bytes in hex ("C2 01 17 2E"). */
  std::string hex(size_t n) const {
    std::string out;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes_[guard + i]);
      out += b;
    }
    return out;
  }
  std::string hex() const { return hex(size_); }
  /* Nothing was written outside the first n bytes of the column. */
  bool untouched_from(size_t n) const {
    for (size_t i = 0; i < bytes_.size(); ++i) {
      const bool inside = i >= guard && i < guard + n;
      if (!inside && bytes_[i] != fill) return false;
    }
    return true;
  }
  bool untouched() const { return untouched_from(0); }

 private:
  std::vector<unsigned char> bytes_;
  size_t size_;
};

/* A value written into a column and the column's bytes expected, in hex. */
struct written_case {
  const char *what;
  value_t value;
  int type;
  int length;
  const char *bytes;
};

/* Writes the case's value: the column holds the expected bytes and
** nothing after them changed. */
[[maybe_unused]] void expect_written(written_case &c) {
  column_area area(24);
  ASSERT_EQ(rvaldata(&c.value, area.data(), c.type, c.length), 0) << c.what;
  const std::string expect = c.bytes;
  const size_t size = (expect.size() + 1) / 3;
  EXPECT_EQ(area.hex(size), expect) << c.what;
  EXPECT_TRUE(area.untouched_from(size)) << c.what;
}

[[maybe_unused]] value_t blob_value(int code) {
  value_t v {};
  v.vtype = static_cast<int16_t>(code);
  v.vblob.tb_head[0] = 0x0102;
  v.vblob.tb_words[0] = 0x03040506;
  v.vblob.tb_words[6] = -2;
  v.vblob.tb_tail[3] = 0x7F;
  return v;
}

/* The value v reads back as: the parts a reader sets, by type. */
[[maybe_unused]] std::string shown(const value_t &v) {
  std::string out = "type " + std::to_string(v.vtype) + (v.vind < 0 ? " null" : "");
  if (v.vind < 0) return out;
  char buf[96];
  switch (v.vtype & 0xFF) {
    case sql_type_smallint:
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      return out + " " + std::to_string(v.vint);
    case sql_type_float:
      std::snprintf(buf, sizeof buf, " %.17g", v.vdouble);
      return out + buf;
    case sql_type_smallfloat:
      std::snprintf(buf, sizeof buf, " %.9g", static_cast<double>(v.vfloat));
      return out + buf;
    case sql_type_decimal:
    case sql_type_money:
      return out + " " + dec_test::plain(v.vdec);
    case sql_type_datetime:
    case sql_type_interval:
      return out + " " + dec_test::plain(v.vdec) + " q" + std::to_string(v.vprec);
    case sql_type_int8:
    case sql_type_serial8:
      return out + " " + std::to_string(v.vint8.sign) + ":" + std::to_string(v.vint8.high) + ":" +
             std::to_string(v.vint8.low);
    case sql_type_byte:
    case sql_type_text: {
      std::array<unsigned char, TBLOB_STORED_SIZE> stored;
      tblobstore(&v.vblob, stored.data());
      for (unsigned char b : stored)
        out += std::to_string(b) + ",";
      return out;
    }
    default:
      return out + " [" + std::string(v.vptr, static_cast<size_t>(v.vlen)) + "]";
  }
}

class ValueColumns : public ::testing::Test {
 protected:
  void SetUp() override {
    gen_setansidb(0);
    dvzGEN_setFloatType(0);
  }
  void TearDown() override { gen_setansidb(0); }
};

#if !defined(DVZ_COLUMNS_UTF8) && !defined(DVZ_COLUMNS_FIRST_CALL)

struct round_trip_row {
  const char *what;
  value_t value;
  int type;
  int length;
  const char *bytes; /* the stored form */
  const char *read_back; /* as shown(); nullptr: the value written */
};

/* 56 bytes in hex, zero but at the given offsets. */
std::string blob_image(std::initializer_list<std::pair<int, int>> set) {
  std::array<int, TBLOB_STORED_SIZE> bytes {};
  for (auto [at, value] : set)
    bytes[static_cast<size_t>(at)] = value;
  std::string out;
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += b;
  }
  return out;
}
/* The descriptor of blob_value: head, words 0 and 6, flags at 38, tail 3. */
const std::string text_image = blob_image({{0, 1},
                                           {1, 2},
                                           {4, 3},
                                           {5, 4},
                                           {6, 5},
                                           {7, 6},
                                           {28, 0xFF},
                                           {29, 0xFF},
                                           {30, 0xFF},
                                           {31, 0xFE},
                                           {55, 0x7F}});
const std::string null_image = blob_image({{39, 1}});

std::vector<round_trip_row> round_trip_rows() {
  return {
      {"SMALLINT", int_value(1, -2), 1, 2, "FF FE", nullptr},
      {"SMALLINT NULL", null_value(1), 1, 2, "80 00", nullptr},
      {"INTEGER", int_value(2, 40000), 2, 4, "00 00 9C 40", nullptr},
      {"INTEGER NULL", null_value(2), 2, 4, "80 00 00 00", nullptr},
      {"SERIAL", int_value(6, -1), 6, 4, "FF FF FF FF", nullptr},
      {"SERIAL NULL", null_value(6), 6, 4, "80 00 00 00", nullptr},
      {"DATE", int_value(7, 44998), 7, 4, "00 00 AF C6", nullptr},
      {"DATE NULL", null_value(7), 7, 4, "80 00 00 00", nullptr},
      {"INT8", int8_value(17, -5), 17, 10, "FF FF 00 00 00 05 00 00 00 00", nullptr},
      {"SERIAL8", int8_value(18, 0x123456789LL), 18, 10, "00 01 23 45 67 89 00 00 00 01", nullptr},
      {"INT8 NULL", null_value(17), 17, 10, "00 00 00 00 00 00 00 00 00 00", nullptr},
      {"SERIAL8 NULL", null_value(18), 18, 10, "00 00 00 00 00 00 00 00 00 00", nullptr},
      {"FLOAT", double_value(1.0), 3, 8, "3F F0 00 00 00 00 00 00", nullptr},
      {"FLOAT negative", double_value(-0.1), 3, 8, "BF B9 99 99 99 99 99 9A", nullptr},
      {"FLOAT NULL", null_value(3), 3, 8, "FF FF FF FF FF FF FF FF", nullptr},
      {"SMALLFLOAT", float_value(2.5f), 4, 4, "40 20 00 00", nullptr},
      {"SMALLFLOAT NULL", null_value(4), 4, 4, "FF FF FF FF", nullptr},
      {"DECIMAL(5,2) of 123.456", decimal_value(5, "123.456"), 5, 0x0502, "C2 01 17 2E",
       "type 5 123.46"},
      {"DECIMAL(5,2) NULL", null_value(5), 5, 0x0502, "00 00 00 00", nullptr},
      {"DECIMAL(6,3) negative", decimal_value(5, "-12.5"), 5, 0x0603, "3E 57 32 00 00", nullptr},
      {"DECIMAL(4) floating", decimal_value(5, "12345"), 5, 0x04FF, "C3 01 17 32", "type 5 12350"},
      {"MONEY(8,2)", decimal_value(8, "1234.5"), 8, 0x0802, "C2 0C 22 32 00", nullptr},
      {"DATETIME YEAR TO DAY", time_value(10, "2023-03-14", year_to_day), 10, year_to_day,
       "C7 14 17 03 0E", nullptr},
      {"DATETIME HOUR TO FRACTION(3)", time_value(10, "10:11:12.345", hour_to_fraction3), 10,
       hour_to_fraction3, "C3 0A 0B 0C 22 32", nullptr},
      {"DATETIME NULL", null_value(10), 10, year_to_day, "00 00 00 00 00", nullptr},
      {"INTERVAL NULL", null_value(14), 14, day3_to_hour, "00 00 00 00", nullptr},
      {"MONEY NULL", null_value(8), 8, 0x0802, "00 00 00 00 00", nullptr},
      {"INTERVAL DAY(3) TO HOUR", time_value(14, "12 05", day3_to_hour), 14, day3_to_hour,
       "C4 0C 05 00", nullptr},
      {"INTERVAL negative", time_value(14, "-1 01", day3_to_hour), 14, day3_to_hour, "3B 62 63 00",
       nullptr},
      {"CHAR(4)", text_value(0, "ab"), 0, 4, "61 62 20 20", "type 0 [ab  ]"},
      {"CHAR(4) NULL", null_value(0), 0, 4, "00 20 20 20", nullptr},
      {"NCHAR(3)", text_value(15, "xyz"), 15, 3, "78 79 7A", nullptr},
      {"NCHAR(3) NULL", null_value(15), 15, 3, "00 20 20", nullptr},
      {"NVARCHAR(2) NULL", null_value(16), 16, 2, "01 00 00", nullptr},
      {"VARCHAR(3)", text_value(13, "ab"), 13, 3, "02 61 62 00", nullptr},
      {"VARCHAR(3) NULL", null_value(13), 13, 3, "01 00 00 00", nullptr},
      {"VARCHAR(3) empty", text_value(13, ""), 13, 3, "00 00 00 00", nullptr},
      {"NVARCHAR(5,2)", text_value(16, "abc"), 16, 0x0205, "03 61 62 63 00 00", nullptr},
      {"LVARCHAR", text_value(43, "hello"), 43, 2048, "00 00 00 00 05 68 65 6C 6C 6F", nullptr},
      {"LVARCHAR NULL", null_value(43), 43, 2048, "01 00 00 00 00", nullptr},
      {"BOOLEAN", text_value(45, "\1", 1), 45, 1, "00 00 00 00 01 01", nullptr},
      {"BOOLEAN false", text_value(45, "\0", 1), 45, 1, "00 00 00 00 01 00", nullptr},
      {"BOOLEAN NULL", null_value(45), 45, 1, "01 00 00 00 00", nullptr},
      {"UDT variable", text_value(40, "a\0b", 3), 40, 100, "00 00 00 00 03 61 00 62", nullptr},
      {"UDT fixed", text_value(41, "xy"), 41, 2, "00 00 00 00 02 78 79", nullptr},
      {"UDT NULL", null_value(41), 41, 2, "01 00 00 00 00", nullptr},
      {"UDT variable NULL", null_value(40), 40, 9, "01 00 00 00 00", nullptr},
      {"TEXT NULL", null_value(12), 12, 56, null_image.c_str(), nullptr},
      {"BYTE", blob_value(11), 11, 56, text_image.c_str(), nullptr},
      {"TEXT", blob_value(12), 12, 56, text_image.c_str(), nullptr},
      {"BYTE NULL", null_value(11), 11, 56, null_image.c_str(), nullptr},
  };
}

/* The stored size of a column as these tests write it. */
size_t stored_size(int type, int length, const char *bytes) {
  switch (type & 0xFF) {
    case 0:
    case 15:
      return static_cast<size_t>(length);
    case 13:
    case 16:
      return 1 + static_cast<size_t>(length & 0xFF);
    case 1:
      return 2;
    case 2:
    case 6:
    case 7:
    case 4:
      return 4;
    case 3:
      return 8;
    case 17:
    case 18:
      return 10;
    case 11:
    case 12:
      return 56;
    case 5:
    case 8:
    case 10:
    case 14:
      return static_cast<size_t>((((length >> 8) & 0xFF) + (length & 1) + 3) / 2);
    default: /* the opaque form */
      return 5 + (static_cast<size_t>(static_cast<unsigned char>(bytes[1])) << 24 |
                  static_cast<size_t>(static_cast<unsigned char>(bytes[2])) << 16 |
                  static_cast<size_t>(static_cast<unsigned char>(bytes[3])) << 8 |
                  static_cast<unsigned char>(bytes[4]));
  }
}

TEST_F(ValueColumns, EveryScalarTypeRoundTripsWithItsByteImage) {
  for (round_trip_row &row : round_trip_rows()) {
    column_area area(64);
    ASSERT_EQ(rvaldata(&row.value, area.data(), row.type, row.length), 0) << row.what;
    const size_t size = stored_size(row.type, row.length, area.data());
    EXPECT_EQ(area.hex(size), row.bytes) << row.what;
    EXPECT_TRUE(area.untouched_from(size)) << row.what << ": written past the column";

    value_t back;
    std::memset(&back, 0x5A, sizeof back);
    ASSERT_EQ(rdataval(area.data(), row.type, row.length, &back), 0) << row.what;
    EXPECT_EQ(shown(back), row.read_back != nullptr ? row.read_back : shown(row.value)) << row.what;
    if ((row.type & 0xFF) != 40 && (row.type & 0xFF) != 41 && (row.type & 0xFF) != 43 &&
        (row.type & 0xFF) != 45) {
      EXPECT_EQ(back.vxid, 0) << row.what;
    }
    /* Writing what was read gives the same bytes. */
    column_area again(64);
    ASSERT_EQ(rvaldata(&back, again.data(), row.type, row.length), 0) << row.what;
    EXPECT_EQ(again.hex(size), row.bytes) << row.what;
  }
}

/* Floats are big-endian IEEE whatever float format the peer negotiated:
** the C library's bit pattern is the peer. */
TEST_F(ValueColumns, FloatsAreBigEndianIeeeForEveryFloatFormat) {
  std::mt19937_64 random(20261211);
  for (int format : {0, 1, 2, 3}) {
    dvzGEN_setFloatType(format);
    for (int i = 0; i < 200; ++i) {
      const double d = std::bit_cast<double>(random() & 0xBFFFFFFFFFFFFFFFull);
      const float f = static_cast<float>(std::ldexp(static_cast<double>(random() % 1000000), -10) *
                                         (i % 2 == 0 ? 1 : -1));
      char stored[8];
      value_t dv = double_value(d);
      ASSERT_EQ(rvaldata(&dv, stored, sql_type_float, 8), 0);
      const uint64_t bits = std::bit_cast<uint64_t>(d);
      for (int b = 0; b < 8; ++b)
        ASSERT_EQ(static_cast<unsigned char>(stored[b]), (bits >> (56 - 8 * b)) & 0xFF);
      value_t back;
      ASSERT_EQ(rdataval(stored, sql_type_float, 8, &back), 0);
      ASSERT_EQ(std::bit_cast<uint64_t>(back.vdouble), bits);

      value_t fv = float_value(f);
      ASSERT_EQ(rvaldata(&fv, stored, sql_type_smallfloat, 4), 0);
      const uint32_t fbits = std::bit_cast<uint32_t>(f);
      for (int b = 0; b < 4; ++b)
        ASSERT_EQ(static_cast<unsigned char>(stored[b]), (fbits >> (24 - 8 * b)) & 0xFF);
      ASSERT_EQ(rdataval(stored, sql_type_smallfloat, 4, &back), 0);
      ASSERT_EQ(back.vfloat, f);
    }
  }
}

/* Integers against the C library's own arithmetic on random values. */
TEST_F(ValueColumns, IntegersAreBigEndianTwosComplement) {
  std::mt19937 random(7);
  for (int i = 0; i < 500; ++i) {
    const auto n = static_cast<int32_t>(random());
    if (n == INT32_MIN) continue;
    char stored[4];
    value_t v = int_value(sql_type_integer, n);
    ASSERT_EQ(rvaldata(&v, stored, sql_type_integer, 4), 0);
    const auto u = static_cast<uint32_t>(n);
    ASSERT_EQ(static_cast<unsigned char>(stored[0]), u >> 24);
    ASSERT_EQ(static_cast<unsigned char>(stored[3]), u & 0xFF);
    value_t back;
    ASSERT_EQ(rdataval(stored, sql_type_integer | 0x100, 4, &back), 0);
    ASSERT_EQ(back.vint, n);
    ASSERT_EQ(back.vprec, 0x0A00);
  }
}

/* DECIMAL(p, s) columns against integer arithmetic: a value m / 10^k is
** rounded half away from zero to s places, and fits when its integer
** digits are at most p - s (-1226 otherwise). */
TEST_F(ValueColumns, DecimalColumnsAgainstIntegerArithmetic) {
  std::mt19937_64 random(1211);
  const auto pow10 = [](int n) {
    __int128 r = 1;
    while (n-- > 0)
      r *= 10;
    return r;
  };
  const auto text_of = [](__int128 q, int places) {
    const bool negative = q < 0;
    std::string digits;
    for (__int128 a = negative ? -q : q; a != 0; a /= 10)
      digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(a % 10)));
    if (static_cast<int>(digits.size()) <= places)
      digits.insert(0, static_cast<size_t>(places + 1) - digits.size(), '0');
    std::string whole = digits.substr(0, digits.size() - static_cast<size_t>(places));
    std::string fraction = digits.substr(digits.size() - static_cast<size_t>(places));
    while (!fraction.empty() && fraction.back() == '0')
      fraction.pop_back();
    if (whole == "0" && fraction.empty()) return std::string("0");
    return (negative ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
  };
  for (int i = 0; i < 3000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 17);
    auto m = static_cast<__int128>(random() % static_cast<uint64_t>(pow10(digits)));
    if (random() % 2 == 0) m = -m;
    const int k = static_cast<int>(random() % 9);
    const int p = 1 + static_cast<int>(random() % 18);
    const int s = static_cast<int>(random() % static_cast<uint64_t>(p + 1));

    __int128 q = m;
    if (k > s) {
      const __int128 unit = pow10(k - s);
      const __int128 magnitude = m < 0 ? -m : m;
      __int128 rounded = magnitude / unit + (2 * (magnitude % unit) >= unit ? 1 : 0);
      q = m < 0 ? -rounded : rounded;
    } else {
      q = m * pow10(s - k);
    }
    const __int128 whole = (q < 0 ? -q : q) / pow10(s);
    int whole_digits = 0;
    for (__int128 a = whole; a != 0; a /= 10)
      ++whole_digits;
    const bool fits = whole_digits <= p - s;

    const std::string source = text_of(m, k);
    value_t v = decimal_value(sql_type_decimal, source.c_str());
    const int length = p << 8 | s;
    column_area area(24);
    const int status = rvaldata(&v, area.data(), sql_type_decimal, length);
    const std::string what =
        source + " into DECIMAL(" + std::to_string(p) + "," + std::to_string(s) + ")";
    if (!fits) {
      ASSERT_EQ(status, -1226) << what;
      ASSERT_TRUE(area.untouched()) << what;
      continue;
    }
    ASSERT_EQ(status, 0) << what;
    const size_t size = static_cast<size_t>((p + (s & 1) + 3) / 2);
    ASSERT_TRUE(area.untouched_from(size)) << what;
    value_t back;
    ASSERT_EQ(rdataval(area.data(), sql_type_decimal, length, &back), 0) << what;
    ASSERT_EQ(dec_test::plain(back.vdec), text_of(q, s)) << what;
  }
}

/* A NULL into a column refusing NULL is -1225 and writes nothing; so is a
** value that converts to NULL. */
TEST_F(ValueColumns, NullIntoNotNullColumnWritesNothing) {
  struct {
    const char *what;
    value_t value;
    int type;
    int length;
  } cases[] = {
      {"SMALLINT", null_value(1), 1, 2},
      {"INTEGER", null_value(2), 2, 4},
      {"DATE", null_value(7), 7, 4},
      {"INT8", null_value(17), 17, 10},
      {"FLOAT", null_value(3), 3, 8},
      {"SMALLFLOAT", null_value(4), 4, 4},
      {"DECIMAL", null_value(5), 5, 0x0502},
      {"MONEY", null_value(8), 8, 0x0802},
      {"DATETIME", null_value(10), 10, year_to_day},
      {"INTERVAL", null_value(14), 14, day3_to_hour},
      {"CHAR", null_value(0), 0, 4},
      {"NCHAR", null_value(15), 15, 4},
      {"VARCHAR", null_value(13), 13, 4},
      {"NVARCHAR", null_value(16), 16, 4},
      {"LVARCHAR", null_value(43), 43, 10},
      {"BOOLEAN", null_value(45), 45, 1},
      {"UDT", null_value(40), 40, 4},
      {"TEXT", null_value(12), 12, 56},
      {"BYTE", null_value(11), 11, 56},
      {"an INTEGER NULL into CHAR", null_value(2), 0, 4},
      {"empty text into CHAR", text_value(0, ""), 0, 4},
      {"empty text into INTEGER", text_value(0, ""), 2, 4},
      {"blank text into SMALLINT", text_value(0, "   "), 1, 2},
      {"blank text into FLOAT", text_value(0, "   "), 3, 8},
      {"blank text into DECIMAL", text_value(0, " "), 5, 0x0502},
      {"empty text into DATETIME", text_value(0, ""), 10, year_to_day},
      {"VARCHAR of length 1 without bytes", text_value(13, nullptr, 1), 13, 4},
      {"LVARCHAR without bytes", text_value(43, nullptr, 0), 43, 10},
      {"BOOLEAN without its byte", text_value(45, nullptr, 1), 45, 1},
      {"NULL TEXT descriptor",
       [] {
         value_t v = blob_value(12);
         v.vblob.tb_flags = TBLOB_NULL;
         return v;
       }(),
       12, 56},
  };
  for (auto &c : cases) {
    column_area area(64);
    EXPECT_EQ(rvaldata(&c.value, area.data(), c.type | VTYPE_NOTNULL, c.length), -1225) << c.what;
    EXPECT_TRUE(area.untouched()) << c.what;
    /* Without the bit the NULL form is written. */
    EXPECT_EQ(rvaldata(&c.value, area.data(), c.type, c.length), 0) << c.what;
  }
}

TEST_F(ValueColumns, WriterErrorsWriteNothing) {
  const value_t blob = blob_value(12);
  struct {
    const char *what;
    value_t value;
    int type;
    int length;
    int error;
  } cases[] = {
      {"TEXT into INTEGER", blob, 2, 4, -608},
      {"BYTE into CHAR", blob_value(11), 0, 4, -608},
      {"INTEGER into TEXT", int_value(2, 1), 12, 56, -608},
      {"NULL INTEGER into BYTE", null_value(2), 11, 56, -608},
      {"SMALLINT overflow", int_value(2, 32768), 1, 2, -1214},
      {"SMALLINT -32768", int_value(1, -32768), 1, 2, -1214},
      {"INTEGER overflow", decimal_value(5, "2147483648"), 2, 4, -1215},
      {"DATE out of range", int_value(2, 2958465), 7, 4, -1210},
      {"INT8 overflow", decimal_value(5, "9223372036854775808"), 17, 10, -1284},
      {"SMALLFLOAT too large", double_value(1e39), 4, 4, -1222},
      {"SMALLFLOAT too small", double_value(1e-39), 4, 4, -1222},
      {"SMALLFLOAT infinite", double_value(HUGE_VAL), 4, 4, -1222},
      {"FLOAT infinite", double_value(-HUGE_VAL), 3, 8, -1223},
      {"FLOAT not a number", double_value(std::nan("")), 3, 8, -1223},
      {"DECIMAL(4,2) of 123.456", decimal_value(5, "123.456"), 5, 0x0402, -1226},
      {"DECIMAL(2,2) of 1", decimal_value(5, "1"), 5, 0x0202, -1226},
      {"malformed text into INTEGER", text_value(0, "12x"), 2, 4, -1213},
      {"DATETIME into INTEGER", time_value(10, "2023-03-14", year_to_day), 2, 4, -1260},
      {"INTEGER into DATETIME", int_value(2, 5), 10, year_to_day, -1260},
      {"bad DATETIME text", text_value(0, "2023-13-01"), 10, year_to_day, -1263},
      {"bad qualifier", text_value(0, "2023-03-14"), 10, TU_ENCODE(8, TU_DAY, TU_YEAR), -1268},
      {"UDT of another type", text_value(41, "ab"), 40, 4, -1260},
      {"text into UDT", text_value(0, "ab"), 40, 4, -1260},
      {"BOOLEAN from a word", text_value(0, "yes"), 45, 1, -1260},
      {"BOOLEAN from INTEGER", int_value(2, 1), 45, 1, -1260},
      {"SET into LVARCHAR",
       [] {
         value_t v {};
         v.vtype = sql_type_set;
         return v;
       }(),
       43, 100, -1260},
  };
  for (auto &c : cases) {
    column_area area(64);
    EXPECT_EQ(rvaldata(&c.value, area.data(), c.type, c.length), c.error) << c.what;
    EXPECT_TRUE(area.untouched()) << c.what;
  }
}

/* CHAR and VARCHAR take what fits outside an ANSI database and refuse a
** longer value inside one; trailing blanks of a CHAR value do not count. */
TEST_F(ValueColumns, TextLongerThanTheColumn) {
  struct {
    const char *what;
    value_t value;
    int type;
    int length;
    const char *cut; /* outside an ANSI database */
    int ansi_error;
    const char *ansi; /* inside one, when it succeeds */
  } cases[] = {
      {"CHAR(4) abcdef", text_value(0, "abcdef"), 0, 4, "61 62 63 64", -1279, nullptr},
      {"CHAR(4) abcd and blanks", text_value(0, "abcd   "), 0, 4, "61 62 63 64", 0, "61 62 63 64"},
      {"NCHAR(2) abc", text_value(15, "abc"), 15, 2, "61 62", -1279, nullptr},
      {"CHAR(4) from VARCHAR", text_value(13, "abcde"), 0, 4, "61 62 63 64", -1279, nullptr},
      {"VARCHAR(3) abcd", text_value(13, "abcd"), 13, 3, "03 61 62 63", -1279, nullptr},
      {"VARCHAR(3) abc and a blank", text_value(0, "abc "), 13, 3, "03 61 62 63", -1279, nullptr},
      {"VARCHAR(3) exact", text_value(13, "abc"), 13, 3, "03 61 62 63", 0, "03 61 62 63"},
      /* A single-byte locale cuts between any two bytes. */
      {"CHAR(4) 8859-1 bytes", text_value(0, "abc\xE9\xE9"), 0, 4, "61 62 63 E9", -1279, nullptr},
  };
  for (auto &c : cases) {
    column_area area(8);
    gen_setansidb(0);
    ASSERT_EQ(rvaldata(&c.value, area.data(), c.type, c.length), 0) << c.what;
    const size_t size = (c.type == 13 || c.type == 16) ? 1 + c.length : c.length;
    EXPECT_EQ(area.hex(size), c.cut) << c.what;
    EXPECT_TRUE(area.untouched_from(size)) << c.what;

    column_area ansi(8);
    gen_setansidb(1);
    EXPECT_EQ(rvaldata(&c.value, ansi.data(), c.type, c.length), c.ansi_error) << c.what;
    if (c.ansi != nullptr) {
      EXPECT_EQ(ansi.hex(size), c.ansi) << c.what;
    } else {
      EXPECT_TRUE(ansi.untouched()) << c.what;
    }
  }
}

/* An LVARCHAR column takes 2048 bytes of another text type (-1279 in an
** ANSI database) and an LVARCHAR value whole. */
TEST_F(ValueColumns, LvarcharCutsOtherTextAt2048Bytes) {
  const std::string long_text(3000, 'q');
  for (int ansi : {0, 1}) {
    gen_setansidb(ansi);
    std::vector<char> column(5 + 3000 + 16, '\x77');
    value_t chars = text_value(0, long_text.c_str());
    if (ansi != 0) {
      EXPECT_EQ(rvaldata(&chars, column.data(), 43, 4096), -1279);
      EXPECT_EQ(column[0], '\x77');
    } else {
      ASSERT_EQ(rvaldata(&chars, column.data(), 43, 4096), 0);
      EXPECT_EQ(std::string(column.data(), 5), std::string("\0\0\0\x08\0", 5));
      EXPECT_EQ(column[5 + 2047], 'q');
      EXPECT_EQ(column[5 + 2048], '\x77');
    }
    value_t lvarchar = text_value(43, long_text.c_str());
    ASSERT_EQ(rvaldata(&lvarchar, column.data(), 43, 4096), 0);
    EXPECT_EQ(std::string(column.data(), 5), std::string("\0\0\0\x0B\xB8", 5));
    EXPECT_EQ(column[5 + 2999], 'q');
    EXPECT_EQ(column[5 + 3000], '\x77');
    value_t back;
    ASSERT_EQ(rdataval(column.data(), 43, 4096, &back), 0);
    EXPECT_EQ(back.vlen, 3000);
    EXPECT_EQ(back.vptr, column.data() + 5);
  }
}

/* Non-text values in character columns are their display text. */
TEST_F(ValueColumns, NonTextValuesInCharacterColumns) {
  written_case cases[] = {
      {"INTEGER into CHAR(5)", int_value(2, 42), 0, 5, "34 32 20 20 20"},
      {"DECIMAL into NCHAR(6)", decimal_value(5, "-1.25"), 15, 6, "2D 31 2E 32 35 20"},
      {"INTEGER into VARCHAR(5)", int_value(2, -42), 13, 5, "03 2D 34 32 00 00"},
      {"DATETIME into VARCHAR(12)", time_value(10, "2023-03-14", year_to_day), 13, 12,
       "0A 32 30 32 33 2D 30 33 2D 31 34 00 00"},
      {"INTEGER into LVARCHAR", int_value(2, 42), 43, 100, "00 00 00 00 02 34 32"},
      {"INT8 into LVARCHAR", int8_value(17, -7), 43, 100, "00 00 00 00 02 2D 37"},
      {"LVARCHAR into CHAR(4)", text_value(43, "abcdef"), 0, 4, "61 62 63 64"},
      {"BOOLEAN into LVARCHAR", text_value(45, "\1", 1), 43, 100, "00 00 00 00 01 74"},
  };
  for (auto &c : cases)
    expect_written(c);
  /* A CHAR column too narrow for the text holds the display text's "*". */
  column_area narrow(8);
  value_t big = int_value(2, 123456);
  EXPECT_EQ(rvaldata(&big, narrow.data(), 0, 3), -1207);
  EXPECT_TRUE(narrow.untouched_from(3));
}

TEST_F(ValueColumns, ZeroPaddedCharColumns) {
  value_t v = text_value(0, "ab");
  v.vflags = VFLAG_ZEROPAD;
  column_area area(8);
  ASSERT_EQ(rvaldata(&v, area.data(), 0, 4), 0);
  EXPECT_EQ(area.hex(4), "61 62 00 00");
  v.vind = -1;
  ASSERT_EQ(rvaldata(&v, area.data(), 0, 4), 0);
  EXPECT_EQ(area.hex(4), "00 00 00 00");
}

TEST_F(ValueColumns, BooleanFromText) {
  struct {
    const char *text;
    const char *bytes;
  } cases[] = {{"t", "00 00 00 00 01 01"}, {"F", "00 00 00 00 01 00"}};
  for (const auto &c : cases) {
    value_t v = text_value(0, c.text);
    column_area area(8);
    ASSERT_EQ(rvaldata(&v, area.data(), 45, 1), 0);
    EXPECT_EQ(area.hex(6), c.bytes);
  }
}

TEST_F(ValueColumns, MoneyColumnsReadMoneyText) {
  value_t v = text_value(0, "$1,234.50");
  column_area area(8);
  ASSERT_EQ(rvaldata(&v, area.data(), sql_type_money, 0x0802), 0);
  EXPECT_EQ(area.hex(5), "C2 0C 22 32 00");
  EXPECT_EQ(rvaldata(&v, area.data(), sql_type_decimal, 0x0802), -1213);
}

/* What the readers make of stored bytes that no writer here produces. */
TEST_F(ValueColumns, ReadersOfEdgeForms) {
  value_t v;
  const char char_null[] = {0, ' ', ' '};
  ASSERT_EQ(rdataval(char_null, 0, 3, &v), 0);
  EXPECT_EQ(v.vind, -1) << "a zero first byte is NULL whatever follows";

  struct {
    const char *what;
    std::array<char, 6> bytes;
    int length;
    int vind;
    int vlen;
  } varchars[] = {
      {"NULL", {1, 0, 0, 0, 0, 0}, 5, -1, 1},
      {"one byte", {1, 'a', 0, 0, 0, 0}, 5, 0, 1},
      {"longer than the maximum", {5, 'a', 'b', 'c', 'd', 'e'}, 3, 0, 3},
      {"no maximum", {5, 'a', 'b', 'c', 'd', 'e'}, 0, 0, 5},
      {"maximum and minimum", {2, 'a', 'b', 0, 0, 0}, 0x0105, 0, 2},
  };
  for (const auto &c : varchars) {
    std::memset(&v, 0x5A, sizeof v);
    ASSERT_EQ(rdataval(c.bytes.data(), 13, c.length, &v), 0) << c.what;
    EXPECT_EQ(v.vind, c.vind) << c.what;
    EXPECT_EQ(v.vlen, c.vlen) << c.what;
    EXPECT_EQ(v.vptr, c.bytes.data() + 1) << c.what;
    EXPECT_EQ(v.vprec, 0) << c.what;
    EXPECT_EQ(v.vflags, 0) << c.what;
    EXPECT_EQ(v.vxid, 0) << c.what;
  }

  /* Opaque forms: the extended id stays; a BOOLEAN without its byte, or a
  ** length with its top bit set, is NULL. The length word is the room the
  ** column has after its 5-byte head: a stored length beyond it is -1815
  ** and the value untouched. Each column is read from a heap block of
  ** exactly its size, so that a read past it is an AddressSanitizer report. */
  struct {
    const char *what;
    int type;
    int length;
    std::vector<unsigned char> bytes;
    int status;
    int vind;
    int vlen;
  } opaques[] = {
      {"BOOLEAN", 45, 1, {0, 0, 0, 0, 1, 1}, 0, 0, 1},
      {"BOOLEAN with more room", 45, 2, {0, 0, 0, 0, 2, 1, 0}, 0, 0, 1},
      {"BOOLEAN without its byte", 45, 1, {0, 0, 0, 0, 0, 0}, 0, -1, 0},
      {"LVARCHAR NULL flag", 43, 1, {1, 0, 0, 0, 0, 0}, 0, -1, 0},
      {"UDT huge length", 40, 1, {0, 0x80, 0, 0, 0, 0}, 0, -1, 0},
      {"LVARCHAR filling its column", 43, 2, {0, 0, 0, 0, 2, 'h', 'i'}, 0, 0, 2},
      {"LVARCHAR of 1000 in 7 bytes", 43, 2, {0, 0, 0, 0x03, 0xE8, 'h', 'i'}, -1815, 0, 0},
      {"LVARCHAR one byte beyond", 43, 2, {0, 0, 0, 0, 3, 'h', 'i'}, -1815, 0, 0},
      {"BOOLEAN beyond its column", 45, 1, {0, 0, 0, 0, 2, 1}, -1815, 0, 0},
      {"UDT fixed beyond its column", 41, 2, {0, 0, 0, 0, 3, 'x', 'y'}, -1815, 0, 0},
      {"UDT in a column without room", 40, 0, {0, 0, 0, 0, 1}, -1815, 0, 0},
      {"NULL flag with a length beyond", 43, 0, {1, 0, 0, 0, 9}, -1815, 0, 0},
      {"largest length", 40, 1, {0, 0x7F, 0xFF, 0xFF, 0xFF, 0}, -1815, 0, 0},
  };
  for (const auto &c : opaques) {
    std::unique_ptr<char[]> column(new char[c.bytes.size()]);
    std::memcpy(column.get(), c.bytes.data(), c.bytes.size());
    std::memset(&v, 0x5A, sizeof v);
    v.vxid = 5;
    const value_t before = v;
    ASSERT_EQ(rdataval(column.get(), c.type, c.length, &v), c.status) << c.what;
    if (c.status != 0) {
      EXPECT_EQ(v.vtype, c.type) << c.what; /* set by rdataval; the rest stays */
      v.vtype = before.vtype;
      EXPECT_EQ(std::memcmp(&v, &before, sizeof v), 0) << c.what;
      continue;
    }
    EXPECT_EQ(v.vtype, c.type) << c.what;
    EXPECT_EQ(v.vind, c.vind) << c.what;
    EXPECT_EQ(v.vlen, c.vlen) << c.what;
    EXPECT_EQ(v.vxid, 5) << c.what;
  }

  /* Only the low byte of the type word is passed on: the extended id is
  ** cleared even when the word asks to keep it. */
  const char integer[] = {0, 0, 0, 7};
  v.vxid = 99;
  ASSERT_EQ(rdataval(integer, VTYPE_KEEPXID | sql_type_integer, 4, &v), 0);
  EXPECT_EQ(v.vtype, sql_type_integer);
  EXPECT_EQ(v.vxid, 0);
  EXPECT_EQ(v.vint, 7);
}

/* The low byte selects the handler: codes without one, 51 to 255
** included, answer -1285 and touch nothing. */
TEST_F(ValueColumns, CodesWithoutAHandler) {
  std::vector<int> codes = {9, 24, 25, 30, 39, 42, 44, 46, 47, 48, 49, 50};
  for (int code = 51; code <= 255; ++code)
    codes.push_back(code);
  for (int code : codes) {
    for (int high : {0x000, 0x100, 0x800, 0x7F00}) {
      column_area area(16);
      value_t v = int_value(2, 1);
      EXPECT_EQ(rvaldata(&v, area.data(), high | code, 4), -1285) << code;
      EXPECT_TRUE(area.untouched());
      value_t out;
      std::memset(&out, 0x5A, sizeof out);
      value_t before = out;
      EXPECT_EQ(rdataval(area.data(), high | code, 4, &out), -1285) << code;
      EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0) << code;
    }
  }
  /* A column is never of the generic COLLECTION type: no reader. */
  {
    value_t v {};
    column_area area(16);
    EXPECT_EQ(rdataval(area.data(), sql_type_collection, 4, &v), -1285);
  }
}

#endif

#ifdef DVZ_COLUMNS_UTF8

/* Under a UTF-8 client locale, a character the cut splits becomes blanks
** (CHAR, VARCHAR) or is dropped (LVARCHAR). */
TEST_F(ValueColumns, SplitMultibyteCharactersUnderUtf8) {
  written_case cases[] = {
      {"CHAR(4) abc and e-acute", text_value(0, "abc\xC3\xA9"), 0, 4, "61 62 63 20"},
      {"CHAR(4) a, e-acute, b",
       text_value(0,
                  "a\xC3\xA9"
                  "bc"),
       0, 4, "61 C3 A9 62"},
      {"CHAR(2) a and a euro sign", text_value(0, "a\xE2\x82\xAC"), 0, 2, "61 20"},
      {"CHAR(3) a and a euro sign", text_value(0, "a\xE2\x82\xAC"), 0, 3, "61 20 20"},
      {"CHAR(4) fits whole", text_value(0, "a\xE2\x82\xAC"), 0, 4, "61 E2 82 AC"},
      {"VARCHAR(3) ab and e-acute", text_value(13, "ab\xC3\xA9"), 13, 3, "03 61 62 20"},
      {"NVARCHAR(2) euro sign", text_value(16, "\xE2\x82\xAC"), 16, 2, "02 20 20"},
  };
  for (auto &c : cases)
    expect_written(c);

  /* LVARCHAR: 2047 bytes and a two-byte character keep 2047 bytes. */
  const std::string text = std::string(2047, 'a') + "\xC3\xA9";
  value_t v = text_value(0, text.c_str());
  std::vector<char> column(5 + 2049, '\x77');
  ASSERT_EQ(rvaldata(&v, column.data(), 43, 4096), 0);
  EXPECT_EQ(std::string(column.data(), 5), std::string("\0\0\0\x07\xFF", 5));
}

#endif

#ifdef DVZ_COLUMNS_FIRST_CALL

/* The very first calls of the process reach codes without a handler. */
TEST_F(ValueColumns, CodesWithoutAHandlerOnTheFirstCall) {
  char bytes[16] = {};
  value_t v {};
  EXPECT_EQ(rdataval(bytes, 30, 4, &v), -1285);
  v.vtype = sql_type_integer;
  EXPECT_EQ(rvaldata(&v, bytes, 30, 4), -1285);
  EXPECT_EQ(rvaldata(&v, bytes, 0x100 | 51, 4), -1285);
  EXPECT_EQ(rdataval(bytes, 255, 4, &v), -1285);
}

#endif

}  // namespace
