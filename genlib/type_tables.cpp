/*
** type_tables.cpp: the type-code tables and what is answered from them
** alone: mapping between SQL and host codes, storage size and alignment,
** names, type keywords, and the NULL forms of host variables.
**
** Called by every part of the value library and by the runtime when they
** size buffers, convert values, describe columns or test and set NULLs.
** The locator and collection records live only in memory, so their size
** and alignment are this platform's (sizeof and alignof), not the fixed
** figures of a 32-bit layout. Nothing here fails: unknown codes get the
** neutral answers gen_types.h lists.
*/
#include "gen_types.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "gen_null_forms.h"
#include "locator.h"
#include "os_context.h"
#include "value_types.h"

extern "C" {

const int16_t sqlctype[sql_type_max + 1] = {
    100, 101, 103, 105, 104, 107, 103, 110, 111, -1, /* 0-9 */
    112, 113, 113, 114, 115, 100, 114, 117, 117, 118, /* 10-19 */
    118, 118, 123, 118, -1,  -1,  -1,  -1,  -1,  -1, /* 20-29 */
    -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1, /* 30-39 */
    121, 120, 117, 119, 121, 122, -1,  -1,  -1,  0, /* 40-49 */
    0};

const int16_t sqlstype[host_type_max - host_type_min + 1] = {
    0,  1,  1,  2,  4,  3,  -1, 5,  0,  0, /* 100-109 */
    7,  8,  10, 11, 13, 14, 11, 17, 23, 43, /* 110-119 */
    41, 40, 45, 22, 43}; /* 120-124 */

const unsigned char fltnull[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

}  // extern "C"

namespace {

/* How a type's storage size follows from its length word. */
enum class size_rule : unsigned char {
  fixed, /* the table's figure */
  len, /* the length word */
  len_plus_1, /* the length word and a terminator */
  low_byte_1, /* the low byte of the length word and a terminator */
  locator, /* sizeof(loc_t) */
  collection /* sizeof(dvz_coll_t) */
};

/* Alignment: a plain figure, or one of these markers. */
constexpr int align_declared = 0; /* the type declares its own: answer 0 */
constexpr int align_locator = -1;
constexpr int align_collection = -2;

struct storage {
  size_rule rule;
  int size;
  int align;
};

constexpr storage none {size_rule::fixed, 0, 1};

constexpr std::array<storage, sql_type_max + 1> sql_storage = [] {
  std::array<storage, sql_type_max + 1> t {};
  t.fill(none);
  t[sql_type_char] = {size_rule::len_plus_1, 0, 1};
  t[sql_type_smallint] = {size_rule::fixed, 2, 2};
  t[sql_type_integer] = {size_rule::fixed, 4, 4};
  t[sql_type_float] = {size_rule::fixed, 8, 8};
  t[sql_type_smallfloat] = {size_rule::fixed, 4, 4};
  t[sql_type_decimal] = {size_rule::fixed, 22, 2};
  t[sql_type_serial] = {size_rule::fixed, 4, 4};
  t[sql_type_date] = {size_rule::fixed, 4, 4};
  t[sql_type_money] = {size_rule::fixed, 22, 2};
  t[sql_type_datetime] = {size_rule::fixed, 24, 2};
  t[sql_type_byte] = {size_rule::locator, 0, align_locator};
  t[sql_type_text] = {size_rule::locator, 0, align_locator};
  t[sql_type_varchar] = {size_rule::low_byte_1, 0, 1};
  t[sql_type_interval] = {size_rule::fixed, 24, 2};
  t[sql_type_nchar] = {size_rule::len_plus_1, 0, 1};
  t[sql_type_nvarchar] = {size_rule::low_byte_1, 0, 1};
  t[sql_type_int8] = {size_rule::fixed, 12, 4};
  t[sql_type_serial8] = {size_rule::fixed, 12, 4};
  for (int c = sql_type_set; c <= sql_type_collection; ++c) {
    t[c] = {size_rule::collection, 0, align_collection};
  }
  t[sql_type_variable_udt] = {size_rule::len, 0, align_declared};
  t[sql_type_fixed_udt] = {size_rule::len, 0, align_declared};
  t[sql_type_lvarchar] = {size_rule::len, 0, 1};
  t[sql_type_boolean] = {size_rule::fixed, 1, 1};
  return t;
}();

constexpr std::array<storage, host_type_max - host_type_min + 1> host_storage = [] {
  std::array<storage, host_type_max - host_type_min + 1> t {};
  t.fill(none);
  auto at = [&t](int code) -> storage & { return t[code - host_type_min]; };
  at(host_type_char) = {size_rule::len_plus_1, 0, 1};
  at(host_type_short) = {size_rule::fixed, 2, 2};
  at(host_type_int) = {size_rule::fixed, 4, 4};
  at(host_type_long) = {size_rule::fixed, 4, 4};
  at(host_type_float) = {size_rule::fixed, 4, 4};
  at(host_type_double) = {size_rule::fixed, 8, 8};
  at(host_type_decimal) = {size_rule::fixed, 22, 2};
  at(host_type_fixchar) = {size_rule::len, 0, 1};
  at(host_type_string) = {size_rule::len_plus_1, 0, 1};
  at(host_type_date) = {size_rule::fixed, 4, 4};
  at(host_type_money) = {size_rule::fixed, 22, 2};
  at(host_type_datetime) = {size_rule::fixed, 24, 2};
  at(host_type_locator) = {size_rule::locator, 0, align_locator};
  at(host_type_varchar) = {size_rule::low_byte_1, 0, 1};
  at(host_type_interval) = {size_rule::fixed, 24, 2};
  at(host_type_file) = {size_rule::len_plus_1, 0, 4};
  at(host_type_int8) = {size_rule::fixed, 12, 4};
  at(host_type_lvarchar) = {size_rule::len, 0, 1};
  at(host_type_fixed_binary) = {size_rule::len, 0, align_declared};
  at(host_type_variable_binary) = {size_rule::len, 0, align_declared};
  at(host_type_boolean) = {size_rule::fixed, 1, 1};
  at(host_type_lvarchar_ptr) = {size_rule::len, 0, 1};
  return t;
}();

constexpr std::array<const char *, sql_type_max + 1> sql_names = [] {
  std::array<const char *, sql_type_max + 1> t {};
  t.fill("");
  t[sql_type_char] = "char";
  t[sql_type_smallint] = "smallint";
  t[sql_type_integer] = "integer";
  t[sql_type_float] = "float";
  t[sql_type_smallfloat] = "smallfloat";
  t[sql_type_decimal] = "decimal";
  t[sql_type_serial] = "serial";
  t[sql_type_date] = "date";
  t[sql_type_money] = "money";
  t[sql_type_datetime] = "datetime";
  t[sql_type_byte] = "byte";
  t[sql_type_text] = "text";
  t[sql_type_varchar] = "varchar";
  t[sql_type_interval] = "interval";
  t[sql_type_nchar] = "nchar";
  t[sql_type_nvarchar] = "nvarchar";
  t[sql_type_int8] = "int8";
  t[sql_type_serial8] = "serial8";
  t[sql_type_set] = "set";
  t[sql_type_multiset] = "multiset";
  t[sql_type_list] = "list";
  t[sql_type_row] = "row";
  t[sql_type_collection] = "collection";
  t[sql_type_variable_udt] = "variable udt";
  t[sql_type_fixed_udt] = "fixed udt";
  t[sql_type_lvarchar] = "lvarchar";
  t[sql_type_sendreceive] = "send/receive";
  t[sql_type_boolean] = "boolean";
  t[sql_type_impexp] = "import/export";
  t[sql_type_impexpbin] = "import/export binary";
  t[sql_type_dbsendreceive] = "dbsend/dbreceive";
  t[sql_type_srvsendreceive] = "srvsend/srvreceive";
  return t;
}();

/* Names of the built-in extended types by the low byte of their id. */
struct extended_name {
  int id;
  int alias;
  const char *name;
};
constexpr std::array<extended_name, 5> extended_names = {{{1, 43, "lvarchar"},
                                                          {2, 44, "sendreceive"},
                                                          {5, 45, "boolean"},
                                                          {21, 49, "dbsendreceive"},
                                                          {22, 50, "srvsendreceive"}}};

struct keyword {
  std::string_view text;
  int code;
};
constexpr std::array<keyword, 28> keywords = {{{"BYTE", sql_type_byte},
                                               {"BOOLEAN", sql_type_boolean},
                                               {"CHAR", sql_type_char},
                                               {"CHARACTER", sql_type_char},
                                               {"COLLECTION", sql_type_collection},
                                               {"DATE", sql_type_date},
                                               {"DATETIME", sql_type_datetime},
                                               {"DECIMAL", sql_type_decimal},
                                               {"FLOAT", sql_type_float},
                                               {"INT8", sql_type_int8},
                                               {"INT", sql_type_integer},
                                               {"INTEGER", sql_type_integer},
                                               {"INTERVAL", sql_type_interval},
                                               {"LIST", sql_type_list},
                                               {"LVARCHAR", sql_type_lvarchar},
                                               {"MONEY", sql_type_money},
                                               {"MULTISET", sql_type_multiset},
                                               {"NCHAR", sql_type_nchar},
                                               {"NVARCHAR", sql_type_nvarchar},
                                               {"NULL", sql_type_null},
                                               {"ROW", sql_type_row},
                                               {"SERIAL8", sql_type_serial8},
                                               {"SERIAL", sql_type_serial},
                                               {"SET", sql_type_set},
                                               {"SMALLFLOAT", sql_type_smallfloat},
                                               {"SMALLINT", sql_type_smallint},
                                               {"TEXT", sql_type_text},
                                               {"VARCHAR", sql_type_varchar}}};

/* The storage row of a host or SQL code, or none. */
const storage &storage_of(int code) {
  if (code >= 0 && code <= sql_type_max) return sql_storage[code];
  if (code >= host_type_min && code <= host_type_max) return host_storage[code - host_type_min];
  return none;
}

/* The host code whose NULL form a variable of `code` holds: SQL codes go
** through sqlctype and 102 counts as 103. */
int null_form_code(int code) {
  if (code >= 0 && code <= sql_type_max) code = sqlctype[code];
  if (code == host_type_int) code = host_type_long;
  return code;
}

template <typename T>
T read_at(const char *p, std::size_t offset) {
  T v;
  std::memcpy(&v, p + offset, sizeof v);
  return v;
}

template <typename T>
void write_at(char *p, std::size_t offset, T v) {
  std::memcpy(p + offset, &v, sizeof v);
}

/* Offsets of the sign, exponent and digit count of a DECIMAL, also when
** it sits inside a DATETIME or INTERVAL. */
constexpr std::size_t dtime_dec = offsetof(dtime_t, dt_dec);
constexpr std::size_t dec_sign = offsetof(dec_t, sign);
constexpr std::size_t dec_exponent = offsetof(dec_t, exponent);
constexpr std::size_t dec_npairs = offsetof(dec_t, npairs);

void set_dec_null(char *p, std::size_t base) {
  write_at<int16_t>(p, base + dec_sign, -1);
  write_at<int16_t>(p, base + dec_exponent, 0);
  write_at<int16_t>(p, base + dec_npairs, 0);
}

/* Flag bits of the NULL forms kept in a flag word. */
constexpr uint16_t varbinary_null_flag = 0x2;

/* One NULL form: its test and its writer, which touch only the bytes the
** form holds. */
struct null_form {
  bool (*is)(const char *p);
  void (*set)(char *p);
};

constexpr null_form text_null = {dvz_null::text, [](char *p) { p[0] = 0; }};
constexpr null_form short_null = {dvz_null::smallint,
                                  [](char *p) { write_at<uint16_t>(p, 0, 0x8000u); }};
constexpr null_form long_null = {dvz_null::integer,
                                 [](char *p) { write_at<uint32_t>(p, 0, 0x80000000u); }};
constexpr null_form float_null = {dvz_null::smallfloat,
                                  [](char *p) { std::memcpy(p, fltnull, 4); }};
constexpr null_form double_null = {dvz_null::floating, [](char *p) { std::memcpy(p, fltnull, 8); }};
constexpr null_form decimal_null = {dvz_null::decimal, [](char *p) { set_dec_null(p, 0); }};
constexpr null_form dtime_null = {
    [](const char *p) { return read_at<int16_t>(p, dtime_dec + dec_sign) == -1; },
    [](char *p) { set_dec_null(p, dtime_dec); }};
constexpr null_form locator_null = {
    [](const char *p) { return read_at<int32_t>(p, offsetof(loc_t, indicator)) == -1; },
    [](char *p) { write_at<int32_t>(p, offsetof(loc_t, indicator), -1); }};
constexpr null_form int8_null = {dvz_null::int8, [](char *p) {
                                   write_at<int16_t>(p, offsetof(dvz_int8_t, sign), 0);
                                   write_at<uint32_t>(p, offsetof(dvz_int8_t, low), 0);
                                   write_at<uint32_t>(p, offsetof(dvz_int8_t, high), 0);
                                 }};
constexpr null_form collection_null = {
    [](const char *p) {
      return (read_at<uint32_t>(p, offsetof(dvz_coll_t, cl_flags)) & DVZ_COLL_NULL) != 0;
    },
    [](char *p) {
      const uint32_t flags = read_at<uint32_t>(p, offsetof(dvz_coll_t, cl_flags));
      write_at<uint32_t>(p, offsetof(dvz_coll_t, cl_flags), flags | DVZ_COLL_NULL);
    }};
constexpr null_form varbinary_null = {
    [](const char *p) { return (read_at<uint16_t>(p, 0) & varbinary_null_flag) != 0; },
    [](char *p) {
      const uint16_t flags = read_at<uint16_t>(p, 0);
      write_at<uint16_t>(p, 0, static_cast<uint16_t>(flags | varbinary_null_flag));
    }};
constexpr null_form boolean_null = {
    [](const char *p) { return static_cast<unsigned char>(p[0]) == 0xFF; },
    [](char *p) { p[0] = static_cast<char>(0xFF); }};

/* The NULL form of each host code from host_type_min; null for none and
** the fixed binary, which hold no NULL form. */
constexpr std::array<const null_form *, host_type_max - host_type_min + 1> null_forms = {
    &text_null, /* char */
    &short_null, /* short */
    &long_null, /* int */
    &long_null, /* long */
    &float_null, /* float */
    &double_null, /* double */
    nullptr, /* none */
    &decimal_null, /* decimal */
    &text_null, /* fixchar */
    &text_null, /* string */
    &long_null, /* date */
    &decimal_null, /* money */
    &dtime_null, /* datetime */
    &locator_null, /* locator */
    &text_null, /* varchar */
    &dtime_null, /* interval */
    &text_null, /* file */
    &int8_null, /* int8 */
    &collection_null, /* collection */
    &text_null, /* lvarchar */
    nullptr, /* fixed binary */
    &varbinary_null, /* variable binary */
    &boolean_null, /* boolean */
    &collection_null, /* row */
    &varbinary_null, /* lvarchar pointer */
};

/* The NULL form a variable of `code` holds, or null when it has none. */
const null_form *null_form_of(int code) {
  code = null_form_code(code);
  if (code < host_type_min || code > host_type_max) return nullptr;
  return null_forms[static_cast<std::size_t>(code - host_type_min)];
}

}  // namespace

extern "C" {

int rtoctype(int code) {
  if (code == host_type_int) return host_type_long;
  if (code < 0 || code > sql_type_max) return code;
  return sqlctype[code];
}

int rtosqltype(int code) {
  if (code >= 0 && code <= sql_type_max) return code;
  if (code == host_type_int) return sqlstype[host_type_long - host_type_min];
  if (code >= host_type_min && code <= host_type_max) return sqlstype[code - host_type_min];
  return -1;
}

int rtypmsize(int code, int len) {
  const storage &s = storage_of(code);
  switch (s.rule) {
    case size_rule::fixed:
      return s.size;
    case size_rule::len:
      return len;
    case size_rule::len_plus_1:
      return len + 1;
    case size_rule::low_byte_1:
      return (len & 0xFF) + 1;
    case size_rule::locator:
      return static_cast<int>(sizeof(loc_t));
    case size_rule::collection:
      return static_cast<int>(sizeof(dvz_coll_t));
  }
  return 0;
}

int rtypalign(int offset, int code) {
  int align = storage_of(code).align;
  if (align == align_locator) align = static_cast<int>(alignof(loc_t));
  if (align == align_collection) align = static_cast<int>(alignof(dvz_coll_t));
  if (align == align_declared) return 0;
  return (offset + align - 1) / align * align;
}

const char *rtypname(int code) {
  int low = code & 0xFF;
  return low <= sql_type_max ? sql_names[low] : "";
}

const char *dvz_typename(int code, int xid) {
  const char *name = rtypname(code);
  if (*name != '\0') return name;
  int low = xid & 0xFF;
  for (const extended_name &e : extended_names) {
    if (e.id == low || e.alias == low) return e.name;
  }
  return "";
}

int rstr2type(char *text) {
  if (text == nullptr) return -1;
  rupshift(text);
  if (text[0] < 'B' || text[0] > 'V') return -1;
  std::string_view word(text);
  for (const keyword &k : keywords) {
    if (k.text == word) return k.code;
  }
  return -1;
}

int risnull(int code, const char *p) {
  const null_form *form = null_form_of(code);
  return form != nullptr && form->is(p) ? 1 : 0;
}

int rsetnull(int code, char *p) {
  if (const null_form *form = null_form_of(code); form != nullptr) form->set(p);
  return 0;
}

}  // extern "C"
