/*
** Type codes and their tables: every SQL code 0-50 and host code 100-124
** with its name, mapping, storage size, alignment, display width and NULL
** form, written out here row by row apart from the library's own tables;
** the keyword reader; and the widths that depend on the locale
** environment (en_us, DBDATE unset).
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "gen_types.h"
#include "locator.h"
#include "os_glsenv.h"
#include "value_types.h"

namespace {

/* Placeholders in the rows for figures of this platform's records. */
constexpr int loc_size = -100;
constexpr int coll_size = -101;
constexpr int loc_align = -102;
constexpr int coll_align = -103;
/* Width depends on the locale environment: checked on its own. */
constexpr int locale_width = -104;

int resolve(int v) {
  switch (v) {
    case loc_size:
      return static_cast<int>(sizeof(loc_t));
    case coll_size:
      return static_cast<int>(sizeof(dvz_coll_t));
    case loc_align:
      return static_cast<int>((5 + alignof(loc_t) - 1) / alignof(loc_t) * alignof(loc_t));
    case coll_align:
      return static_cast<int>((5 + alignof(dvz_coll_t) - 1) / alignof(dvz_coll_t) *
                              alignof(dvz_coll_t));
    default:
      return v;
  }
}

/* The length word used for every row: precision 10, scale 2 for the
** numbers; 10 digits YEAR TO MONTH for the time types. */
constexpr int len = 0x0A02;

struct SqlRow {
  int code;
  const char *name;
  int host;
  int size; /* rtypmsize(code, len) */
  int aligned; /* rtypalign(5, code) */
  int width; /* rtypwidth(code, len) */
};

const SqlRow sql_rows[] = {
    {0, "char", 100, len + 1, 5, len},
    {1, "smallint", 101, 2, 6, 6},
    {2, "integer", 103, 4, 8, 11},
    {3, "float", 105, 8, 8, 14},
    {4, "smallfloat", 104, 4, 8, 14},
    {5, "decimal", 107, 22, 6, locale_width},
    {6, "serial", 103, 4, 8, 11},
    {7, "date", 110, 4, 8, locale_width},
    {8, "money", 111, 22, 6, locale_width},
    {9, "", -1, 0, 5, 0},
    {10, "datetime", 112, 24, 6, 11},
    {11, "byte", 113, loc_size, loc_align, len},
    {12, "text", 113, loc_size, loc_align, len},
    {13, "varchar", 114, 3, 5, 255},
    {14, "interval", 115, 24, 6, 12},
    {15, "nchar", 100, len + 1, 5, len},
    {16, "nvarchar", 114, 3, 5, 255},
    {17, "int8", 117, 12, 8, 20},
    {18, "serial8", 117, 12, 8, 20},
    {19, "set", 118, coll_size, coll_align, len},
    {20, "multiset", 118, coll_size, coll_align, len},
    {21, "list", 118, coll_size, coll_align, len},
    {22, "row", 123, coll_size, coll_align, len},
    {23, "collection", 118, coll_size, coll_align, len},
    {24, "", -1, 0, 5, 0},
    {25, "", -1, 0, 5, 0},
    {26, "", -1, 0, 5, 0},
    {27, "", -1, 0, 5, 0},
    {28, "", -1, 0, 5, 0},
    {29, "", -1, 0, 5, 0},
    {30, "", -1, 0, 5, 0},
    {31, "", -1, 0, 5, 0},
    {32, "", -1, 0, 5, 0},
    {33, "", -1, 0, 5, 0},
    {34, "", -1, 0, 5, 0},
    {35, "", -1, 0, 5, 0},
    {36, "", -1, 0, 5, 0},
    {37, "", -1, 0, 5, 0},
    {38, "", -1, 0, 5, 0},
    {39, "", -1, 0, 5, 0},
    {40, "variable udt", 121, len, 0, len},
    {41, "fixed udt", 120, len, 0, len},
    {42, "", 117, 0, 5, 0},
    {43, "lvarchar", 119, len, 5, len},
    {44, "send/receive", 121, 0, 5, 0},
    {45, "boolean", 122, 1, 5, 1},
    {46, "import/export", -1, 0, 5, 0},
    {47, "import/export binary", -1, 0, 5, 0},
    {48, "", -1, 0, 5, 0},
    {49, "dbsend/dbreceive", 0, 0, 5, 0},
    {50, "srvsend/srvreceive", 0, 0, 5, 0},
};

TEST(TypeTables, EverySqlCodeHasItsNameMappingSizeAlignmentAndWidth) {
  ASSERT_EQ(std::size(sql_rows), 51u);
  for (const SqlRow &r : sql_rows) {
    SCOPED_TRACE(r.code);
    EXPECT_STREQ(rtypname(r.code), r.name);
    EXPECT_EQ(sqlctype[r.code], r.host);
    EXPECT_EQ(rtoctype(r.code), r.host);
    EXPECT_EQ(rtosqltype(r.code), r.code);
    EXPECT_EQ(rtypmsize(r.code, len), resolve(r.size));
    EXPECT_EQ(rtypalign(5, r.code), resolve(r.aligned));
    if (r.width != locale_width) {
      EXPECT_EQ(rtypwidth(r.code, len), r.width);
    }
    /* Name and width read only the low byte of a type word. */
    EXPECT_STREQ(rtypname(r.code | 0x4100), r.name);
    if (r.width != locale_width) {
      EXPECT_EQ(rtypwidth(r.code | 0x0100, len), r.width);
    }
  }
}

/* How the NULL form shows in a variable that held 0x48 bytes. */
enum class null_form {
  none,
  byte0,
  byte_ff,
  int16,
  int32,
  float4,
  float8,
  dec,
  dtime,
  locator,
  int8,
  coll_flag,
  flag_word
};

struct HostRow {
  int code;
  int sqlstype_entry;
  int sql; /* rtosqltype */
  int size; /* rtypmsize(code, 10) */
  int aligned; /* rtypalign(5, code) */
  null_form form;
};

const HostRow host_rows[] = {
    {100, 0, 0, 11, 5, null_form::byte0},
    {101, 1, 1, 2, 6, null_form::int16},
    {102, 1, 2, 4, 8, null_form::int32},
    {103, 2, 2, 4, 8, null_form::int32},
    {104, 4, 4, 4, 8, null_form::float4},
    {105, 3, 3, 8, 8, null_form::float8},
    {106, -1, -1, 0, 5, null_form::none},
    {107, 5, 5, 22, 6, null_form::dec},
    {108, 0, 0, 10, 5, null_form::byte0},
    {109, 0, 0, 11, 5, null_form::byte0},
    {110, 7, 7, 4, 8, null_form::int32},
    {111, 8, 8, 22, 6, null_form::dec},
    {112, 10, 10, 24, 6, null_form::dtime},
    {113, 11, 11, loc_size, loc_align, null_form::locator},
    {114, 13, 13, 11, 5, null_form::byte0},
    {115, 14, 14, 24, 6, null_form::dtime},
    {116, 11, 11, 11, 8, null_form::byte0},
    {117, 17, 17, 12, 8, null_form::int8},
    {118, 23, 23, 0, 5, null_form::coll_flag},
    {119, 43, 43, 10, 5, null_form::byte0},
    {120, 41, 41, 10, 0, null_form::none},
    {121, 40, 40, 10, 0, null_form::flag_word},
    {122, 45, 45, 1, 5, null_form::byte_ff},
    {123, 22, 22, 0, 5, null_form::coll_flag},
    {124, 43, 43, 10, 5, null_form::flag_word},
};

constexpr unsigned char filler = 0x48;

/* The variable as rsetnull must leave a 0x48-filled one. */
std::vector<unsigned char> expected_null(null_form form) {
  std::vector<unsigned char> v(sizeof(dvz_coll_t) + sizeof(loc_t), filler);
  auto put = [&v](std::size_t at, const void *bytes, std::size_t n) {
    std::memcpy(v.data() + at, bytes, n);
  };
  const int16_t minus1 = -1, zero16 = 0;
  const uint32_t zero32 = 0;
  switch (form) {
    case null_form::none:
      break;
    case null_form::byte0:
      v[0] = 0;
      break;
    case null_form::byte_ff:
      v[0] = 0xFF;
      break;
    case null_form::int16: {
      const uint16_t w = 0x8000;
      put(0, &w, 2);
      break;
    }
    case null_form::int32: {
      const uint32_t w = 0x80000000u;
      put(0, &w, 4);
      break;
    }
    case null_form::float4:
      std::memset(v.data(), 0xFF, 4);
      break;
    case null_form::float8:
      std::memset(v.data(), 0xFF, 8);
      break;
    case null_form::dec:
    case null_form::dtime: {
      const std::size_t base = form == null_form::dtime ? offsetof(dtime_t, dt_dec) : 0;
      put(base + offsetof(dec_t, sign), &minus1, 2);
      put(base + offsetof(dec_t, exponent), &zero16, 2);
      put(base + offsetof(dec_t, npairs), &zero16, 2);
      break;
    }
    case null_form::locator: {
      const int32_t m = -1;
      put(offsetof(loc_t, indicator), &m, 4);
      break;
    }
    case null_form::int8:
      put(offsetof(dvz_int8_t, sign), &zero16, 2);
      put(offsetof(dvz_int8_t, low), &zero32, 4);
      put(offsetof(dvz_int8_t, high), &zero32, 4);
      break;
    case null_form::coll_flag: {
      const uint32_t flags = 0x48484848u | 0x4u;
      put(offsetof(dvz_coll_t, cl_flags), &flags, 4);
      break;
    }
    case null_form::flag_word:
      v[0] = static_cast<unsigned char>(filler | 0x2);
      break;
  }
  return v;
}

TEST(TypeTables, EveryHostCodeHasItsMappingSizeAlignmentAndNullForm) {
  ASSERT_EQ(std::size(host_rows), 25u);
  for (const HostRow &r : host_rows) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(sqlstype[r.code - 100], r.sqlstype_entry);
    EXPECT_EQ(rtosqltype(r.code), r.sql);
    EXPECT_EQ(rtypmsize(r.code, 10), resolve(r.size));
    EXPECT_EQ(rtypalign(5, r.code), resolve(r.aligned));

    std::vector<unsigned char> var(sizeof(dvz_coll_t) + sizeof(loc_t), filler);
    char *p = reinterpret_cast<char *>(var.data());
    EXPECT_EQ(risnull(r.code, p), 0);
    EXPECT_EQ(rsetnull(r.code, p), 0);
    EXPECT_EQ(var, expected_null(r.form));
    EXPECT_EQ(risnull(r.code, p), r.form == null_form::none ? 0 : 1);
  }
}

TEST(TypeTables, MappingsOutsideTheTables) {
  struct Case {
    int code;
    int ctype;
    int sqltype;
  };
  const Case cases[] = {{102, 103, 2},  {-3, -3, -1},   {51, 51, -1}, {99, 99, -1},
                        {125, 125, -1}, {106, 106, -1}, {103, 103, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(rtoctype(c.code), c.ctype);
    EXPECT_EQ(rtosqltype(c.code), c.sqltype);
  }
  /* Unknown codes: no size, plain alignment, no name, no NULL form. */
  EXPECT_EQ(rtypmsize(99, 10), 0);
  EXPECT_EQ(rtypmsize(-1, 10), 0);
  EXPECT_EQ(rtypalign(5, 99), 5);
  EXPECT_EQ(rtypmsize(13, 0x050A), 11);
  EXPECT_STREQ(rtypname(51), "");
  EXPECT_STREQ(rtypname(0xFF), "");
  char var[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(rsetnull(99, var), 0);
  EXPECT_EQ(rsetnull(9, var), 0);
  EXPECT_EQ(risnull(99, var), 0);
  EXPECT_EQ(std::string(var, 8), std::string("\1\2\3\4\5\6\7\10", 8));
}

TEST(TypeTables, NullTestsReadOnlyTheTypesNullForm) {
  /* SQL codes test the form of the host type they map to. */
  dec_t d {};
  d.sign = -1;
  d.npairs = 3;
  d.exponent = 7;
  EXPECT_EQ(risnull(5, reinterpret_cast<char *>(&d)), 1);
  EXPECT_EQ(risnull(8, reinterpret_cast<char *>(&d)), 1);
  d.sign = 0;
  EXPECT_EQ(risnull(5, reinterpret_cast<char *>(&d)), 0);

  double all_ff;
  std::memset(&all_ff, 0xFF, sizeof all_ff);
  double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(risnull(3, reinterpret_cast<char *>(&all_ff)), 1);
  EXPECT_EQ(risnull(3, reinterpret_cast<char *>(&nan)), 0);
  float f_ff;
  std::memset(&f_ff, 0xFF, sizeof f_ff);
  EXPECT_EQ(risnull(4, reinterpret_cast<char *>(&f_ff)), 1);

  dvz_int8_t i8 {5, 9, 0};
  EXPECT_EQ(risnull(117, reinterpret_cast<char *>(&i8)), 1);
  EXPECT_EQ(risnull(17, reinterpret_cast<char *>(&i8)), 1);
  i8.sign = -1;
  EXPECT_EQ(risnull(117, reinterpret_cast<char *>(&i8)), 0);

  /* A DATETIME keeps its qualifier when it becomes NULL. */
  dtime_t dt {};
  dt.dt_qual = 0x0E0A;
  dt.dt_dec.sign = 1;
  dt.dt_dec.npairs = 4;
  EXPECT_EQ(rsetnull(10, reinterpret_cast<char *>(&dt)), 0);
  EXPECT_EQ(dt.dt_qual, 0x0E0A);
  EXPECT_EQ(risnull(14, reinterpret_cast<char *>(&dt)), 1);

  /* The fixed UDT has no NULL form, the SQL code 102 is not an SQL type. */
  char udt[4] = {0, 0, 0, 0};
  EXPECT_EQ(rsetnull(41, udt), 0);
  EXPECT_EQ(std::string(udt, 4), std::string(4, '\0'));
  EXPECT_EQ(risnull(41, udt), 0);

  /* A flag form sets its bit and keeps the others. */
  uint16_t word = 0x8001;
  rsetnull(121, reinterpret_cast<char *>(&word));
  EXPECT_EQ(word, 0x8003);
  dvz_coll_t coll {};
  coll.cl_flags = 0x1000000;
  EXPECT_EQ(risnull(22, reinterpret_cast<char *>(&coll)), 0);
  rsetnull(22, reinterpret_cast<char *>(&coll));
  EXPECT_EQ(coll.cl_flags, 0x1000004u);
  EXPECT_EQ(risnull(19, reinterpret_cast<char *>(&coll)), 1);
}

TEST(TypeTables, ExtendedTypeNames) {
  struct Case {
    int code;
    int xid;
    const char *name;
  };
  const Case cases[] = {
      {9, 45, "boolean"},        {45, 0, "boolean"},          {9, 3, ""},
      {9, 1, "lvarchar"},        {9, 0x100 | 43, "lvarchar"}, {40, 2, "variable udt"},
      {48, 44, "sendreceive"},   {24, 21, "dbsendreceive"},   {24, 50, "srvsendreceive"},
      {51, 22, "srvsendreceive"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.xid));
    EXPECT_STREQ(dvz_typename(c.code, c.xid), c.name);
  }
}

TEST(TypeTables, KeywordsAreUpperCasedInTheCallersBuffer) {
  struct Case {
    const char *text;
    int code;
    const char *after;
  };
  const Case cases[] = {{"serial8", 18, "SERIAL8"},
                        {"Serial", 6, "SERIAL"},
                        {"int", 2, "INT"},
                        {"integer", 2, "INTEGER"},
                        {"character", 0, "CHARACTER"},
                        {"null", 9, "NULL"},
                        {"lvarchar", 43, "LVARCHAR"},
                        {"varchar", 13, "VARCHAR"},
                        {"boolean", 45, "BOOLEAN"},
                        {"collection", 23, "COLLECTION"},
                        {"int82", -1, "INT82"},
                        {"blob", -1, "BLOB"},
                        {"", -1, ""},
                        {"ascii", -1, "ASCII"},
                        {"word", -1, "WORD"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    std::string buffer(c.text);
    EXPECT_EQ(rstr2type(buffer.data()), c.code);
    EXPECT_STREQ(buffer.c_str(), c.after);
  }
  EXPECT_EQ(rstr2type(nullptr), -1);
}

TEST(TypeTables, LocaleWidthsFollowTheConventionsAndDateFormat) {
  ASSERT_EQ(chkglsinit(), 0);
  /* en_us: one-byte decimal points, currency "$" in front. */
  const int front = 1;
  const int back = 0;
  struct Case {
    int code;
    int len;
    int width;
  };
  const Case cases[] = {{5, 0x0A02, 10 + 1 + 1},
                        {5, 0x0AFF, 10 + 1 + 6},
                        {5, 0x0505, 5 + 1 + 2},
                        {5, 0x2000, 32 + 1 + 1},
                        {8, 0x0A02, 10 + front + 1 + back + 1},
                        {8, 0x0505, 5 + front + 1 + back + 2},
                        {7, 0, 10},
                        {7, 0x1234, 10}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.len));
    EXPECT_EQ(rtypwidth(c.code, c.len), c.width);
  }
  EXPECT_EQ(_datdigits(), 10);
}

TEST(TypeTables, TimeWidthsComeFromTheQualifier) {
  struct Case {
    int code;
    int qualifier;
    int width;
  };
  const Case cases[] = {{10, 14 << 8 | 0 << 4 | 10, 19}, /* YEAR TO SECOND */
                        {10, 9 << 8 | 6 << 4 | 13, 12}, /* HOUR TO FRACTION(3) */
                        {10, 4 << 8 | 0 << 4 | 0, 4}, /* YEAR TO YEAR */
                        {10, 5 << 8 | 6 << 4 | 15, 8}, /* HOUR TO FRACTION(5) counts as FRACTION */
                        {10, 3 << 8 | 12 << 4 | 13, 4}, /* FRACTION TO FRACTION(3): the point */
                        {14, 5 << 8 | 4 << 4 | 6, 7}, /* INTERVAL DAY(3) TO HOUR */
                        {14, 9 << 8 | 0 << 4 | 2, 11}, /* INTERVAL YEAR(7) TO MONTH */
                        {14, 5 << 8 | 12 << 4 | 11, 7}, /* INTERVAL FRACTION TO FRACTION(1) */
                        {13, 254, 254},
                        {13, 300, 255},
                        {16, 255, 255},
                        {46, 0, 0},
                        {2, 0, 11},
                        {0x0200 | 2, 0, 11},
                        {0xFF, 5, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.qualifier));
    EXPECT_EQ(rtypwidth(c.code, c.qualifier), c.width);
  }
}

TEST(TypeTables, DatetimeWidthIsEightyUnderGlDatetime) {
  setenv("GL_DATETIME", "%Y-%m-%d %H:%M", 1);
  EXPECT_EQ(rtypwidth(10, 14 << 8 | 0 << 4 | 10), 80);
  EXPECT_EQ(rtypwidth(14, 5 << 8 | 4 << 4 | 6), 7);
}

}  // namespace
