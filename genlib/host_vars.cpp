/*
** host_vars.cpp: the bridge between an embedded-SQL program's variables
** and the typed value record. rcvarval builds a value_t from a variable
** (binding input); rvalcvar stores a value into a variable (fetching
** output), converting through the value conversions and, for character
** variables, the display text.
**
** Callers: the runtime's input binding and fetch paths. Calls: the to*
** conversions and chkprec (value_convert.cpp), rvalstr
** (value_display.cpp), the NULL forms of type_tables.cpp.
**
** A variable is caller memory of the host type's record (dec_t, dtime_t,
** dvz_int8_t, loc_t, dvz_coll_t, dvz_hostbuf_t ...) at any alignment:
** records are moved with memcpy, never through a cast pointer. The
** conversion error word (toerrno) carries every error of rvalcvar.
*/
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gen_collection.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_errors.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "os_gentcb.h"
#include "value_internal.h"

namespace {

/* sizeof(dec_t): a DECIMAL variable given by its size takes the value as
** it is. */
constexpr int decimal_by_size = 22;
static_assert(sizeof(dec_t) == decimal_by_size);

template <typename T>
T load(const char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void store(char *p, const T &v) {
  std::memcpy(p, &v, sizeof v);
}

bool is_text_type(int type) {
  return type == sql_type_char || type == sql_type_varchar || type == sql_type_nchar ||
         type == sql_type_nvarchar || type == sql_type_lvarchar;
}

bool is_lvarchar(int code) {
  return code == sql_type_lvarchar || code == host_type_lvarchar || code == host_type_lvarchar_ptr;
}

bool is_collection_type(int type) { return type >= sql_type_set && type <= sql_type_collection; }

/* A DECIMAL's digit count must fit the record. */
bool valid_digits(const dec_t &d) { return d.npairs >= 0 && d.npairs <= DECSIZE; }

/* The NULL value of an SQL type: character types keep the variable and
** its length, BYTE and TEXT a NULL blob descriptor, collections a copy of
** the variable's record when it carries type info. 0, or -1 for a
** collection without a variable. */
int build_null(char *variable, int sql_type, value_t *v, int length) {
  v->vind = -1;
  if (is_text_type(sql_type)) {
    v->vptr = variable;
    v->vlen = length;
  } else if (sql_type == sql_type_byte || sql_type == sql_type_text) {
    v->vblob.tb_flags |= TBLOB_NULL;
  } else if (is_collection_type(sql_type)) {
    if (variable == nullptr) return -1;
    const auto record = load<dvz_coll_t>(variable);
    if (record.cl_typeinfo != nullptr || record.cl_svr_typeinfo != nullptr) v->vcoll = record;
  }
  return 0;
}

/* Bytes before the first zero byte, at most limit when limit is positive. */
int32_t string_length(const char *variable, int limit) {
  if (limit > 0) return static_cast<int32_t>(strnlen(variable, static_cast<size_t>(limit)));
  return static_cast<int32_t>(std::strlen(variable));
}

/* The value area of a present value from a variable of host type code. 0,
** or -1 for a DECIMAL record with more digits than it holds. */
int build_present(char *variable, int code, value_t *v, int length) {
  switch (code) {
    case host_type_char:
    case host_type_varchar:
    case host_type_lvarchar:
      v->vptr = variable;
      v->vlen = string_length(variable, length);
      v->vprec = 0;
      break;
    case host_type_fixchar:
    case host_type_fixed_binary:
    case host_type_boolean:
      v->vptr = variable;
      v->vlen = length;
      break;
    case host_type_string:
      v->vptr = variable;
      v->vlen = static_cast<int32_t>(std::strlen(variable));
      break;
    case host_type_short:
      v->vint = load<int16_t>(variable);
      v->vprec = 0x0500;
      break;
    case host_type_long:
    case host_type_date:
      v->vint = load<int32_t>(variable);
      v->vprec = 0x0A00;
      break;
    case host_type_float:
      v->vfloat = load<float>(variable);
      v->vprec = 0;
      break;
    case host_type_double:
      v->vdouble = load<double>(variable);
      v->vprec = 0;
      break;
    case host_type_decimal:
    case host_type_money:
      v->vdec = load<dec_t>(variable);
      if (!valid_digits(v->vdec)) return -1;
      v->vprec = static_cast<int16_t>(length);
      break;
    case host_type_datetime:
    case host_type_interval: {
      const auto record = load<dtime_t>(variable);
      if (!valid_digits(record.dt_dec)) return -1;
      v->vdec = record.dt_dec;
      v->vprec = static_cast<int16_t>(record.dt_qual);
      break;
    }
    case host_type_locator:
      v->vlocator = reinterpret_cast<loc_t *>(variable);
      break;
    case host_type_file:
      v->vptr = variable;
      v->vlen = length;
      v->vtype = host_type_file;
      break;
    case host_type_int8:
      v->vint8 = load<dvz_int8_t>(variable);
      v->vprec = 0x1300;
      break;
    case host_type_collection:
    case host_type_row:
      v->vcoll = load<dvz_coll_t>(variable);
      break;
    case host_type_variable_binary:
    case host_type_lvarchar_ptr: {
      const auto record = load<dvz_hostbuf_t>(variable);
      v->vptr = record.data;
      v->vlen = record.length;
      break;
    }
    default:
      break;
  }
  return 0;
}

/* ---- Storing ------------------------------------------------------------------ */

/* What a store reports back for the indicator: the error it left and,
** for a cut character value, the value's full length. */
struct store_result {
  int error = 0;
  int32_t full_length = -1; /* -1: not cut */
};

bool is_character_variable(int code) {
  return code == host_type_char || code == host_type_string || code == host_type_varchar ||
         code == host_type_lvarchar || code == host_type_fixchar;
}

/* The value's display text into a character variable of length bytes
** (see rvalcvar). */
store_result store_character(value_t *v, char *variable, int code, int length) {
  store_result r;
  const bool terminated = code != host_type_fixchar;
  const int room = terminated && length != 0 ? length - 1 : length;
  if (terminated && length > 0) variable[length - 1] = '\0';
  if (terminated && length == 1) {
    r.error = value_err_room;
    return r;
  }
  if (room < 0) {
    r.error = value_err_room;
    return r;
  }
  const int type = v->vtype & 0xFF;
  /* A character value's bytes are its display text. */
  r.error = is_text_type(type) ? dvz_genlib::character_text(v, variable, room)
                               : rvalstr(v, variable, room, 1);
  if (room != 0 && is_text_type(type) && v->vlen > room) r.full_length = v->vlen;
  if (r.error != 0 || !terminated) return r;

  if (code == host_type_char) {
    if (room > 0) variable[room] = '\0';
  } else if (code == host_type_varchar || code == host_type_lvarchar) {
    if (room > 0) {
      const bool own_length = is_text_type(type) || type == sql_type_date;
      const int end = own_length && v->vlen > 0 && v->vlen < room ? v->vlen : room;
      variable[end] = '\0';
    }
  } else {
    int end = room > 0 ? room : static_cast<int>(std::strlen(variable));
    while (end > 0 && variable[end - 1] == ' ')
      --end;
    variable[end] = '\0';
  }
  return r;
}

/* A DECIMAL or MONEY value into a variable of the same kind: taken as it
** is when the precision words agree, else fitted to the variable's (the
** value's own digits are rounded) and stored as fitted. Not through the
** display text: MONEY text carries currency symbols the reader refuses,
** and a floating DECIMAL shows only dbfltprec decimals. */
int store_same_decimal(value_t *v, char *variable, int length) {
  if (v->vprec != length && length != decimal_by_size) {
    if (chkprec(&v->vdec, length) != 0) return value_err_precision;
  }
  store(variable, v->vdec);
  return 0;
}

int store_decimal(value_t *v, char *variable, int code, int length) {
  const int type = v->vtype & 0xFF;
  const bool money = code == host_type_money;
  if ((type == sql_type_decimal && !money) || (type == sql_type_money && money))
    return store_same_decimal(v, variable, length);
  auto work = load<dec_t>(variable);
  const int status = money ? todecimalmon(v, &work) : todecimal(v, &work);
  store(variable, work);
  return status;
}

int store_float(value_t *v, char *variable, const dvz_genlib::error_word &error) {
  const double d = todouble(v);
  int status = error.get();
  if (status != 0) return status;
  if (dvz_genlib::outside_smallfloat(d)) return value_err_smallfloat;
  store(variable, static_cast<float>(d));
  return 0;
}

/* A collection or row record copied without its ownership bits. */
int store_collection(const value_t *v, char *variable) {
  if (!is_collection_type(v->vtype & 0xFF)) return value_err_collection_kind;
  dvz_coll_t record = v->vcoll;
  /* The program's copy refers to the value's buffers and owns neither. */
  record.cl_flags &= ~(DVZ_COLL_OWNS_TYPEINFO | DVZ_COLL_OWNS_DATA);
  store(variable, record);
  return 0;
}

int store_locator(const value_t *v, char *variable) {
  const int type = v->vtype & 0xFF;
  if ((type != sql_type_byte && type != sql_type_text) || v->vlocator == nullptr)
    return value_err_locator_type;
  store(variable, *v->vlocator);
  return 0;
}

int store_file_buffer(const value_t *v, char *variable, int length) {
  const int type = v->vtype & 0xFF;
  if (type != host_type_file && rtosqltype(type) != sql_type_char) return value_err_locator_type;
  const int32_t n = v->vptr == nullptr || v->vlen < 0 ? 0 : v->vlen;
  if (n > length) return value_err_room;
  std::memset(variable, ' ', static_cast<size_t>(length));
  if (n > 0) std::memcpy(variable, v->vptr, static_cast<size_t>(n));
  return 0;
}

int store_fixed_binary(const value_t *v, char *variable, int length) {
  if ((v->vtype & 0xFF) != sql_type_fixed_udt) return value_err_no_conversion;
  const int32_t n = v->vptr == nullptr || v->vlen < 0 ? 0 : v->vlen;
  if (n > length) return value_err_binary_long;
  if (n > 0) std::memcpy(variable, v->vptr, static_cast<size_t>(n));
  return 0;
}

/* A variable-binary or lvarchar-pointer record: its buffer grows when
** the program allows it; an lvarchar's data is terminated. */
int store_growing(const value_t *v, char *variable, int code) {
  const int type = v->vtype & 0xFF;
  const bool lvarchar = code == host_type_lvarchar_ptr;
  const bool accepted =
      lvarchar ? is_lvarchar(type) : type == sql_type_variable_udt || type == sql_type_fixed_udt;
  if (!accepted) return value_err_no_conversion;
  auto record = load<dvz_hostbuf_t>(variable);
  const int32_t n = v->vptr == nullptr || v->vlen < 0 ? 0 : v->vlen;
  const int32_t needed = n + (lvarchar ? 1 : 0);
  if (record.data != v->vptr) {
    if (record.size < needed) {
      if ((record.flags & HOSTVAR_GROWABLE) == 0) return value_err_binary_long;
      char *grown = static_cast<char *>(std::realloc(record.data, static_cast<size_t>(needed)));
      if (grown == nullptr) {
        record.size = 0;
        record.length = 0;
        store(variable, record);
        return value_err_host_memory;
      }
      record.data = grown;
      record.size = needed;
    }
    if (n > 0) std::memcpy(record.data, v->vptr, static_cast<size_t>(n));
  }
  record.length = n;
  record.flags = static_cast<int16_t>(record.flags & ~HOSTVAR_NULL);
  /* The value's own buffer has no known room for a terminator. */
  if (lvarchar && record.data != nullptr && record.size > n) record.data[n] = '\0';
  store(variable, record);
  return 0;
}

/* The present value v into the variable of host type code; returns what
** the indicator needs. */
store_result store_present(value_t *v, char *variable, int code, int length,
                           dvz_genlib::error_word &error) {
  if (is_character_variable(code)) return store_character(v, variable, code, length);
  store_result r;
  switch (code) {
    case host_type_short:
      store(variable, static_cast<int16_t>(toint(v)));
      r.error = error.get();
      break;
    case host_type_long:
      store(variable, dvz_genlib::to_long(v, error));
      r.error = error.get();
      break;
    case host_type_date:
      store(variable, dvz_genlib::to_date(v, error));
      r.error = error.get();
      break;
    case host_type_int8: {
      dvz_int8_t work {}; /* set by the conversion in every case */
      r.error = dvz_genlib::to_int8(v, &work, error);
      store(variable, work);
      break;
    }
    case host_type_boolean: {
      char work = variable[0];
      r.error = tocbool(v, &work);
      variable[0] = work;
      break;
    }
    case host_type_datetime: {
      dtime_t work {};
      r.error = dvz_genlib::to_datetime(v, &work, length, error);
      store(variable, work);
      break;
    }
    case host_type_interval: {
      intrvl_t work {};
      r.error = tointerval(v, &work, length);
      store(variable, work);
      break;
    }
    case host_type_float:
      r.error = store_float(v, variable, error);
      break;
    case host_type_double:
      store(variable, todouble(v));
      r.error = error.get();
      break;
    case host_type_decimal:
    case host_type_money:
      r.error = store_decimal(v, variable, code, length);
      break;
    case host_type_locator:
      r.error = store_locator(v, variable);
      break;
    case host_type_file:
      r.error = store_file_buffer(v, variable, length);
      break;
    case host_type_collection:
    case host_type_row:
      r.error = store_collection(v, variable);
      break;
    case host_type_fixed_binary:
      r.error = store_fixed_binary(v, variable, length);
      break;
    case host_type_variable_binary:
    case host_type_lvarchar_ptr:
      r.error = store_growing(v, variable, code);
      break;
    default:
      r.error = value_err_no_conversion;
      break;
  }
  return r;
}

}  // namespace

extern "C" {

/*
** Builds v from the variable of the given type (host code 100-124 or SQL
** code 0-50; 102 as 103). NULL when the indicator is negative or the
** variable holds its type's NULL form. Returns 0, or -1 for an unknown
** type, a null variable without a negative indicator, or a DECIMAL record
** with more than 16 digit pairs. v refers to the variable's memory.
*/
int rcvarval(char *variable, int type, value_t *v, int length, int16_t *indicator) {
  std::memset(v, 0, sizeof *v);
  int sql_type = -1;
  if (type >= 0 && type <= sql_type_max) {
    sql_type = type;
  } else if (type >= host_type_min && type <= host_type_max) {
    sql_type = rtosqltype(type);
  }
  if (sql_type < 0) return -1;
  v->vtype = static_cast<int16_t>(sql_type);

  int code = type <= sql_type_max ? rtoctype(type) : type;
  if (code == host_type_int) code = host_type_long;
  if (is_lvarchar(type) && length == 0) code = host_type_lvarchar_ptr;

  const bool null_by_indicator = indicator != nullptr && *indicator < 0;
  if (!null_by_indicator && variable == nullptr) return -1;
  if (null_by_indicator || risnull(code, variable) != 0)
    return build_null(variable, sql_type, v, length);
  return build_present(variable, code, v, length);
}

/*
** Stores v into the variable of the given type (host code, or SQL code
** 0-50 mapped to its host code; 102 as 103). length: the variable's size
** (0: a character variable without limit), the precision word of a
** DECIMAL or MONEY variable, or the DATETIME/INTERVAL qualifier (0: the
** value's). The indicator, when given, receives -1 for NULL, the value's
** full length for a cut character value, else 1 after an error and 0.
** Returns the conversion error word.
*/
int rvalcvar(value_t *v, char *variable, int type, int length, int16_t *indicator) {
  dvz_genlib::error_word error;
  int code = type >= 0 && type <= sql_type_max ? rtoctype(type) : type;
  if (code == host_type_int) code = host_type_long;

  /* NULL: a collection variable still takes the record, when its kind
  ** matches (else -9602 is returned, not only recorded). */
  if (v->vind < 0) {
    const int status =
        code == host_type_collection || code == host_type_row ? store_collection(v, variable) : 0;
    if (variable != nullptr) rsetnull(code, variable);
    if (indicator != nullptr) *indicator = -1;
    error.set(status);
    return status;
  }

  /* The conversions clear and set the error word themselves; it ends
  ** holding this store's result, which is returned. */
  const store_result r = store_present(v, variable, code, length, error);
  error.set(r.error);
  if (indicator != nullptr) {
    if (r.full_length >= 0) {
      *indicator = static_cast<int16_t>(r.full_length > INT16_MAX ? INT16_MAX : r.full_length);
    } else {
      *indicator = r.error != 0 ? 1 : 0;
    }
  }
  return r.error;
}

}  // extern "C"
