/*
** value_columns.cpp: a typed value (`value_t`) in the stored form of a
** column and back: rvaldata writes a value into a column of a given type
** word and length word, rdataval reads a stored column into a value. Each
** dispatches on the low byte of the type word through a table of 51
** handlers indexed by SQL type code; a code without a handler (30 among
** them) and a low byte of 51 or more answer -1285.
**
** Callers: the runtime's row buffers, host variables, collections and the
** expression evaluator. Calls the conversions of value_convert.cpp, the
** display text (rvalstr) for a non-text value in a character column, the
** stored-form primitives of the client environment, the opaque form and
** the stored form of collections and rows.
**
** Stored forms are big-endian whatever the host; floats are IEEE through
** the network_* routines. A writer writes nothing when it fails, except a
** CHAR column filled by the display text, which then holds its "*" field.
** A reader only points into the caller's bytes (a collection reader
** copies them into the record it builds); it reads nothing beyond the
** column's stored size as its type and length word give it.
*/
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_errors.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "gl_chars.h"
#include "gl_locale.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_stored.h"
#include "value_internal.h"

namespace {

/* An LVARCHAR column takes at most this much of a text of another type. */
constexpr int lvarchar_text_max = 2048;
/* The display text of a non-text value in an LVARCHAR column. */
constexpr int lvarchar_display_width = 80;

using writer = int (*)(value_t *v, char *bytes, int type, int length);
using reader = int (*)(const char *bytes, int type, int length, value_t *v);

using dvz_genlib::code_of;
using dvz_genlib::is_null;
using dvz_genlib::smallint_null;
using dvz_genlib::text_of;
using dvz_genlib::type_code;
using dvz_genlib::whole_characters;
bool refuses_null(int type) { return (type & VTYPE_NOTNULL) != 0; }

/* A character value for the CHAR and VARCHAR writers (LVARCHAR is not). */
bool is_char_value(const value_t *v) {
  const int code = code_of(v);
  return code == sql_type_char || code == sql_type_varchar || code == sql_type_nchar ||
         code == sql_type_nvarchar;
}
/* A text value for the LVARCHAR writer. */
bool is_text_value(const value_t *v) { return is_char_value(v) || code_of(v) == sql_type_lvarchar; }

/*
** What every writer checks first: -406 without a general control block;
** -608 for a non-NULL BYTE or TEXT value (for the BYTE and TEXT writer,
** for any other type); -1225 for a NULL value and a column refusing NULL.
** Clears the error word and returns 0 when the write may go on.
*/
int begin_write(const value_t *v, int type, bool blob_writer) {
  if (CheckGenInit() == nullptr) return os_err_no_memory;
  const int code = code_of(v);
  const bool blob = code == sql_type_byte || code == sql_type_text;
  if (blob_writer ? !blob : blob && !is_null(v)) return value_err_blob;
  if (is_null(v) && refuses_null(type)) return value_err_not_null;
  set_toerrno(0);
  return 0;
}

/* ---- Writers ------------------------------------------------------------------ */

int rvaldataErr(value_t *, char *, int, int) { return value_err_no_handler; }

/* CHAR(length): blank padded (zero padded with VFLAG_ZEROPAD); NULL is a
** zero first byte. */
int rvaldataChar(value_t *v, char *bytes, int type, int length) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  const int n = std::max(length, 0);
  const char pad = is_char_value(v) && (v->vflags & VFLAG_ZEROPAD) != 0 ? '\0' : ' ';
  if (is_null(v)) {
    if (n > 0) {
      bytes[0] = '\0';
      std::memset(bytes + 1, pad, static_cast<size_t>(n - 1));
    }
    return 0;
  }
  if (!is_char_value(v)) return n > 0 ? rvalstr(v, bytes, n, 1) : 0;
  const std::string_view text = text_of(v);
  const int size = static_cast<int>(text.size());
  if (size == 0 && refuses_null(type)) return value_err_not_null;
  if (ansidb != 0 && byleng(text.data(), size) > n) return value_err_too_long;
  const int copied = std::min(size, n);
  if (copied > 0) std::memcpy(bytes, text.data(), static_cast<size_t>(copied));
  std::memset(bytes + copied, pad, static_cast<size_t>(n - copied));
  if (size > n) {
    const int whole = whole_characters(text.data(), size, n);
    std::memset(bytes + whole, ' ', static_cast<size_t>(n - whole));
  }
  return 0;
}

/* VARCHAR(m): a length byte and m bytes, zero after the text; NULL is
** length 1 and zero bytes. */
int rvaldataVchar(value_t *v, char *bytes, int type, int length) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  const int m = length & 0xFF;
  auto *out = reinterpret_cast<unsigned char *>(bytes);
  const auto store = [&](const char *data, int count) {
    out[0] = static_cast<unsigned char>(count);
    if (count > 0) std::memcpy(out + 1, data, static_cast<size_t>(count));
    std::memset(out + 1 + count, 0, static_cast<size_t>(m - count));
  };
  /* A text value of some length without its bytes stands for NULL. */
  if (is_null(v) || (is_char_value(v) && v->vptr == nullptr && v->vlen > 0)) {
    if (refuses_null(type)) return value_err_not_null;
    out[0] = 1;
    std::memset(out + 1, 0, static_cast<size_t>(m));
    return 0;
  }
  if (!is_char_value(v)) {
    char shown[256];
    if (m > 0) {
      if (const int status = rvalstr(v, shown, m, 1); status != 0) return status;
    }
    store(shown, dvz_byleng(shown, m));
    return 0;
  }
  const std::string_view text = text_of(v);
  const int size = static_cast<int>(text.size());
  if (ansidb != 0 && size > m) return value_err_too_long;
  const int copied = std::min(size, m);
  store(text.data(), copied);
  if (size > m) {
    const int whole = whole_characters(text.data(), size, m);
    std::memset(out + 1 + whole, ' ', static_cast<size_t>(m - whole));
  }
  return 0;
}

/* LVARCHAR: the opaque form. */
int rvaldataLvarchar(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  const int code = code_of(v);
  if (is_null(v) || (is_text_value(v) && v->vptr == nullptr)) {
    if (refuses_null(type)) return value_err_not_null;
    studt(bytes, nullptr, 0, 1);
    return 0;
  }
  if (is_text_value(v)) {
    const std::string_view text = text_of(v);
    int size = static_cast<int>(text.size());
    if (code != sql_type_lvarchar && size > lvarchar_text_max) {
      if (ansidb != 0) return value_err_too_long;
      size = whole_characters(text.data(), size, lvarchar_text_max);
    }
    studt(bytes, text.data(), size, 0);
    return 0;
  }
  if (code > sql_type_serial8 && code != sql_type_unnamed_builtin && code != sql_type_boolean)
    return value_err_no_conversion;
  char shown[lvarchar_display_width];
  if (const int status = rvalstr(v, shown, lvarchar_display_width, 1); status != 0) return status;
  studt(bytes, shown, dvz_byleng(shown, lvarchar_display_width), 0);
  return 0;
}

/* BOOLEAN: the opaque form of one byte. */
int rvaldataBool(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  char byte = 0;
  bool null = is_null(v);
  if (!null && code_of(v) == sql_type_boolean) {
    null = v->vptr == nullptr;
    if (!null) byte = v->vptr[0];
  } else if (!null && is_text_value(v)) {
    if (const int status = tocbool(v, &byte); status != 0) return status;
  } else if (!null) {
    return value_err_no_conversion;
  }
  if (null && refuses_null(type)) return value_err_not_null;
  studt(bytes, &byte, 1, null ? 1 : 0);
  return 0;
}

/* SMALLINT: BE16, -32768 NULL. */
int rvaldataSmint(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  const int value = toint(v);
  if (const int status = get_toerrno(); status != 0) return status;
  if (value == smallint_null && refuses_null(type)) return value_err_not_null;
  stshort(static_cast<int16_t>(value), bytes);
  return 0;
}

/* A 32-bit column (INTEGER, SERIAL; DATE through todate): BE32,
** 0x80000000 NULL. */
int store_integer(int32_t value, char *bytes, int type) {
  if (const int status = get_toerrno(); status != 0) return status;
  if (value == INT32_MIN && refuses_null(type)) return value_err_not_null;
  stlong(value, bytes);
  return 0;
}

int rvaldataInt(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  return store_integer(tolong(v), bytes, type);
}

int rvaldataDate(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  return store_integer(todate(v), bytes, type);
}

/* INT8, SERIAL8: the 10-byte form. */
int rvaldataInt8(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  dvz_int8_t value;
  if (const int status = toint8(v, &value); status != 0) return status;
  if (value.sign == 0 && refuses_null(type)) return value_err_not_null;
  stint8(&value, bytes);
  return 0;
}

/* SMALLFLOAT: IEEE single, big-endian; within the float range. */
int rvaldataSmfloat(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  int isnull = 0;
  const double value = todblnull(v, &isnull);
  if (const int status = get_toerrno(); status != 0) return status;
  if (isnull == 0) {
    if (is_valid_double(value) == 0 || dvz_genlib::outside_smallfloat(value))
      return value_err_smallfloat;
  } else if (refuses_null(type)) {
    return value_err_not_null;
  }
  network_stfltnull(value, bytes, static_cast<int16_t>(isnull), dvzGEN_getFloatType());
  return 0;
}

/* FLOAT: IEEE double, big-endian. */
int rvaldataFloat(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  int isnull = 0;
  const double value = todblnull(v, &isnull);
  if (const int status = get_toerrno(); status != 0) return status;
  if (isnull == 0 && is_valid_double(value) == 0) return value_err_not_number;
  if (isnull != 0 && refuses_null(type)) return value_err_not_null;
  network_stdblnull(value, bytes, static_cast<int16_t>(isnull), dvzGEN_getFloatType());
  return 0;
}

/* Bytes of the packed form of a DECIMAL(p, s) column, or of a DATETIME
** or INTERVAL whose qualifier has p digits (s & 1: an odd end unit). */
int packed_size(int length) {
  const int p = (length >> 8) & 0xFF;
  const int s = length & 0xFF;
  return (p + (s & 1) + 3) / 2;
}

/* The packed form of value, refusing NULL for a NOT NULL column. */
int store_packed(const dec_t &value, char *bytes, int type, int length) {
  if (value.sign == -1 && refuses_null(type)) return value_err_not_null;
  stdecimal(&value, reinterpret_cast<unsigned char *>(bytes), packed_size(length));
  return 0;
}

/* DECIMAL(p, s), MONEY(p, s): the packed form after fitting the value. */
int rvaldataDec(value_t *v, char *bytes, int type, int length) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  dec_t value;
  value.sign = -1;
  value.npairs = 0;
  value.exponent = 0;
  const int status =
      type_code(type) == sql_type_money ? todecimalmon(v, &value) : todecimal(v, &value);
  if (status != 0) return status;
  if (value.sign != -1 && chkprec(&value, length) != 0) return value_err_precision;
  return store_packed(value, bytes, type, length);
}

/* DATETIME and INTERVAL: the packed digits under the column's qualifier. */
int rvaldataDtime(value_t *v, char *bytes, int type, int length) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  dtime_t value;
  if (const int status = todatetime(v, &value, length); status != 0) return status;
  return store_packed(value.dt_dec, bytes, type, length);
}

int rvaldataInterval(value_t *v, char *bytes, int type, int length) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  intrvl_t value;
  if (const int status = tointerval(v, &value, length); status != 0) return status;
  return store_packed(value.in_dec, bytes, type, length);
}

/* BYTE, TEXT: the blob descriptor. */
int rvaldataText(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, true); status != 0) return status;
  if (is_null(v)) {
    value_t null_value;
    nullblobval(&null_value, type_code(type));
    tblobstore(&null_value.vblob, bytes);
    return 0;
  }
  if ((v->vblob.tb_flags & TBLOB_NULL) != 0 && refuses_null(type)) return value_err_not_null;
  tblobstore(&v->vblob, bytes);
  return 0;
}

/* Variable and fixed UDT: the opaque form of a value of the same type. A
** NULL of any type, or a value without its bytes, is the NULL form. */
int rvaldataUdt(value_t *v, char *bytes, int type, int) {
  if (const int status = begin_write(v, type, false); status != 0) return status;
  if (!is_null(v) && code_of(v) != type_code(type)) return value_err_no_conversion;
  const bool null = is_null(v) || v->vptr == nullptr;
  if (null && refuses_null(type)) return value_err_not_null;
  studt(bytes, v->vptr, null ? 0 : std::max(v->vlen, 0), null ? 1 : 0);
  return 0;
}

/* SET, MULTISET, LIST, ROW and COLLECTION columns: the stored form of the
** collection with its total. A value of the NULL type is NULL. Another
** collection kind is taken when both are SET, MULTISET, LIST or
** COLLECTION, or a COLLECTION goes into a ROW column; else -9602. Pending
** changes are folded in and the hash brought up to date first, so that
** the column holds what the value holds. A column whose length word is
** positive bounds the form: one that does not fit is -1273, nothing
** written. A value that is not NULL and has no type info is -9602. */
int rvaldataSet(value_t *v, char *bytes, int type, int length) {
  const int code = code_of(v);
  const int column = type_code(type);
  value_t null_value;
  value_t *source = v;
  if (code == sql_type_null) {
    nullcollval(&null_value, column);
    source = &null_value;
  }
  if (const int status = begin_write(source, type, false); status != 0) return status;
  if (is_null(source) && source != &null_value) {
    nullcollval(&null_value, column);
    source = &null_value;
  } else if (code != column && source == v) {
    const auto plain = [](int c) {
      return c == sql_type_set || c == sql_type_multiset || c == sql_type_list ||
             c == sql_type_collection;
    };
    const bool taken =
        (plain(code) && plain(column)) || (code == sql_type_collection && column == sql_type_row);
    if (!taken) return value_err_collection_kind;
  }
  dvz_coll_t *coll = &source->vcoll;
  const bool null = (coll->cl_flags & DVZ_COLL_NULL) != 0;
  if (null && refuses_null(type)) return value_err_not_null;
  if (!null) {
    if (coll->cl_typeinfo == nullptr && coll->cl_svr_typeinfo == nullptr)
      return value_err_collection_kind;
    if (coll->cl_log != nullptr) {
      if (const int status = dvz_coll_tuple(coll); status != 0) return status;
    }
    if (const int status = dvz_coll_hash(coll); status != 0) return status;
  }
  const int long_ids = gget_dbver() != 0 ? 1 : 0;
  if (length > 0 && dvz_stcollection_size(coll, long_ids) > length) return value_err_buffer_short;
  stcollection(coll, bytes, long_ids);
  return 0;
}

/* ---- Readers ------------------------------------------------------------------ */

/* The type and extended id every reader but the opaque one sets. */
void begin_read(value_t *v, int type) {
  v->vtype = static_cast<int16_t>(type);
  if ((type & VTYPE_KEEPXID) == 0) v->vxid = 0;
}

int rdatavalErr(const char *, int, int, value_t *) { return value_err_no_handler; }

int rdatavalChar(const char *bytes, int type, int length, value_t *v) {
  begin_read(v, type);
  const int n = std::max(length, 0);
  v->vprec = 0;
  v->vflags = 0;
  v->vptr = const_cast<char *>(bytes);
  v->vlen = n;
  v->vind = n > 0 && bytes[0] == '\0' ? -1 : 0;
  return 0;
}

/* The stored length byte bounds the text; a maximum in the length word
** (when not 0) bounds it further. */
int rdatavalVchar(const char *bytes, int type, int length, value_t *v) {
  begin_read(v, type);
  const auto *in = reinterpret_cast<const unsigned char *>(bytes);
  const int m = length & 0xFF;
  const int stored = in[0];
  v->vprec = 0;
  v->vflags = 0;
  v->vptr = const_cast<char *>(bytes) + 1;
  v->vlen = m != 0 && m <= stored ? m : stored;
  v->vind = stored == 1 && in[1] == 0 ? -1 : 0;
  return 0;
}

int rdatavalSmint(const char *bytes, int type, int, value_t *v) {
  begin_read(v, type);
  v->vint = static_cast<int16_t>((static_cast<unsigned char>(bytes[0]) << 8) |
                                 static_cast<unsigned char>(bytes[1]));
  v->vprec = 0x0500;
  v->vind = v->vint == smallint_null ? -1 : 0;
  return 0;
}

int rdatavalInt(const char *bytes, int type, int, value_t *v) {
  begin_read(v, type);
  v->vint = dvz_ld_be_i32(bytes); /* ldlong's read, inline */
  v->vprec = 0x0A00;
  v->vind = v->vint == INT32_MIN ? -1 : 0;
  return 0;
}

int rdatavalInt8(const char *bytes, int type, int, value_t *v) {
  begin_read(v, type);
  ldint8(bytes, &v->vint8);
  v->vprec = 0x1300;
  v->vind = v->vint8.sign == 0 ? -1 : 0;
  return 0;
}

int rdatavalSmfloat(const char *bytes, int type, int, value_t *v) {
  if (CheckGenInit() == nullptr) return os_err_no_memory;
  begin_read(v, type);
  int16_t isnull = 0;
  v->vfloat = static_cast<float>(network_ldfltnull(bytes, &isnull, dvzGEN_getFloatType()));
  v->vprec = 0x08FF;
  v->vind = isnull != 0 ? -1 : 0;
  return 0;
}

int rdatavalFloat(const char *bytes, int type, int, value_t *v) {
  if (CheckGenInit() == nullptr) return os_err_no_memory;
  begin_read(v, type);
  int16_t isnull = 0;
  v->vdouble = network_lddblnull(bytes, &isnull, dvzGEN_getFloatType());
  v->vprec = 0x10FF;
  v->vind = isnull != 0 ? -1 : 0;
  return 0;
}

/* DECIMAL, MONEY, DATETIME, INTERVAL: the packed form. The value loads
** whatever its exponent (an overflowing one is clamped by the loader). */
int rdatavalDec(const char *bytes, int type, int length, value_t *v) {
  begin_read(v, type);
  lddecimal(reinterpret_cast<const unsigned char *>(bytes), packed_size(length), &v->vdec);
  v->vprec = static_cast<int16_t>(length);
  v->vind = v->vdec.sign == -1 ? -1 : 0;
  return 0;
}

int rdatavalText(const char *bytes, int type, int, value_t *v) {
  begin_read(v, type);
  tblobload(&v->vblob, bytes);
  v->vind = (v->vblob.tb_flags & TBLOB_NULL) != 0 ? -1 : 0;
  return 0;
}

/* Opaque types keep their extended id: a BOOLEAN or LVARCHAR is known by
** it. */
int rdatavalUdt(const char *bytes, int type, int length, value_t *v) {
  v->vtype = static_cast<int16_t>(type);
  return ldudt(bytes, length, v);
}

/* A collection column: the stored form with its total, read from the
** column's length word of bytes (none when it is not positive: -1815).
** The value's record is built anew and owns its data and type info. */
int rdatavalSet(const char *bytes, int type, int length, value_t *v) {
  v->vtype = static_cast<int16_t>(type);
  std::memset(&v->vcoll, 0, sizeof v->vcoll);
  const int long_ids = gget_dbver() != 0 ? 1 : 0;
  const int status = ldcollection(bytes, &v->vcoll, 1, long_ids, DVZ_LDCOLL_FULL, nullptr,
                                  length > 0 ? length : 0);
  if (status != 0) return status;
  v->vind = (v->vcoll.cl_flags & DVZ_COLL_NULL) != 0 ? -1 : 0;
  return 0;
}

/* ---- The tables ------------------------------------------------------------------ */

constexpr int table_size = sql_type_max + 1;

constexpr std::array<writer, table_size> rvaldata_table = [] {
  std::array<writer, table_size> t {};
  t.fill(rvaldataErr);
  t[sql_type_char] = t[sql_type_nchar] = rvaldataChar;
  t[sql_type_varchar] = t[sql_type_nvarchar] = rvaldataVchar;
  t[sql_type_lvarchar] = rvaldataLvarchar;
  t[sql_type_boolean] = rvaldataBool;
  t[sql_type_smallint] = rvaldataSmint;
  t[sql_type_integer] = t[sql_type_serial] = rvaldataInt;
  t[sql_type_date] = rvaldataDate;
  t[sql_type_int8] = t[sql_type_serial8] = rvaldataInt8;
  t[sql_type_float] = rvaldataFloat;
  t[sql_type_smallfloat] = rvaldataSmfloat;
  t[sql_type_decimal] = t[sql_type_money] = rvaldataDec;
  t[sql_type_datetime] = rvaldataDtime;
  t[sql_type_interval] = rvaldataInterval;
  t[sql_type_byte] = t[sql_type_text] = rvaldataText;
  t[sql_type_variable_udt] = t[sql_type_fixed_udt] = rvaldataUdt;
  t[sql_type_set] = t[sql_type_multiset] = t[sql_type_list] = rvaldataSet;
  t[sql_type_row] = t[sql_type_collection] = rvaldataSet;
  return t;
}();

constexpr std::array<reader, table_size> rdataval_table = [] {
  std::array<reader, table_size> t {};
  t.fill(rdatavalErr);
  t[sql_type_char] = t[sql_type_nchar] = rdatavalChar;
  t[sql_type_varchar] = t[sql_type_nvarchar] = rdatavalVchar;
  t[sql_type_lvarchar] = t[sql_type_boolean] = rdatavalUdt;
  t[sql_type_variable_udt] = t[sql_type_fixed_udt] = rdatavalUdt;
  t[sql_type_smallint] = rdatavalSmint;
  t[sql_type_integer] = t[sql_type_serial] = t[sql_type_date] = rdatavalInt;
  t[sql_type_int8] = t[sql_type_serial8] = rdatavalInt8;
  t[sql_type_float] = rdatavalFloat;
  t[sql_type_smallfloat] = rdatavalSmfloat;
  t[sql_type_decimal] = t[sql_type_money] = rdatavalDec;
  t[sql_type_datetime] = t[sql_type_interval] = rdatavalDec;
  t[sql_type_byte] = t[sql_type_text] = rdatavalText;
  t[sql_type_set] = t[sql_type_multiset] = t[sql_type_list] = t[sql_type_row] = rdatavalSet;
  return t;
}();

}  // namespace

extern "C" {

/*
** Writes v in the stored form of a column of the type word (its 0x100 bit
** refuses NULL) and length word. Returns 0, -1285 for a type without a
** writer, or the writer's error (nothing written but as said above).
*/
int rvaldata(value_t *v, char *bytes, int type, int length) {
  const auto code = static_cast<size_t>(type_code(type));
  if (code >= rvaldata_table.size()) return value_err_no_handler;
  return rvaldata_table[code](v, bytes, type, length);
}

/*
** Reads a stored column of the type word (only its low byte is passed on,
** and becomes vtype) and length word into v, which then points into
** bytes. Returns 0, -1285 for a type without a reader, or -406 for a
** float without a general control block.
*/
int rdataval(const char *bytes, int type, int length, value_t *v) {
  const int code = type_code(type);
  if (static_cast<size_t>(code) >= rdataval_table.size()) return value_err_no_handler;
  return rdataval_table[static_cast<size_t>(code)](bytes, code, length, v);
}

}  // extern "C"
