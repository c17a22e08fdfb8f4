/*
** hostvar_transfer.cpp: value transfer between host variables of
** different types (`_sqvar2var`), through a typed value of the value
** library: the source builds it (rcvarval), the target takes it
** (rvalcvar), converting as the two host types require; and the helpers
** between host variables, indicator variables, typed values and stored
** fields. Used by GET DIAGNOSTICS, GET DESCRIPTOR, the request encoders
** and the row copy into host variables.
*/
#include <cstring>

#include "gen_errors.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "gen_value.h"
#include "os_gentcb.h"
#include "sqli_context.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"

namespace {

/* Host types that carry no SQL value: -1 and the types from 200 up. */
constexpr int no_value_types = 200;

/* An indicator value that its variable cannot hold. */
constexpr int indicator_overflow = -456;

bool transferable(int type) { return type != -1 && type < no_value_types; }

int recorded(int code) {
  _iqseterr(code);
  return code;
}

}  // namespace

/*
** Converts the value at src (host type srctype, srclen bytes or the
** precision word) into dst (host type dsttype, dstlen bytes, the precision
** word or a qualifier). Returns 0, or the error recorded: -486 for a type
** without a value, the conversion error of either side otherwise. dst is
** left as the conversion left it.
*/
int _sqvar2var(const char *src, int srctype, int srclen, char *dst, int dsttype, int dstlen) {
  if (!transferable(srctype) || !transferable(dsttype)) return recorded(SQLI_E_HOSTTYPE);
  value_t value {};
  set_toerrno(0);
  if (rcvarval(const_cast<char *>(src), srctype, &value, srclen, nullptr) != 0) {
    const int error = get_toerrno();
    return recorded(error != 0 ? error : value_err_no_conversion);
  }
  const int error = rvalcvar(&value, dst, dsttype, dstlen, nullptr);
  return error != 0 ? recorded(error) : 0;
}

int nonC_to_sql(int type) {
  const int low = type & 0xFF;
  return low >= no_value_types ? -1 : rtosqltype(low);
}

/*
** Stores value into the host variable data (type, len as rvalcvar takes
** them). The indicator (may be null) receives -1, the untruncated length
** or 0. Returns the conversion error word, also left in the error word;
** nothing is recorded in sqlca.
*/
int _sqvalhost(value_t *value, char *data, int type, int len, int16_t *ind) {
  const int error = rvalcvar(value, data, type, len, ind);
  set_toerrno(error);
  return error;
}

/*
** The i16 value of an indicator variable of any type. Returns 0, or the
** conversion error (*ind then 0).
*/
int _sqhostind(const char *data, int type, int len, int16_t *ind) {
  *ind = 0;
  if (data == nullptr) return 0;
  const int low = type & 0xFF;
  if (low == host_type_short || low == sql_type_smallint) {
    std::memcpy(ind, data, sizeof *ind);
    return 0;
  }
  value_t value {};
  if (rcvarval(const_cast<char *>(data), type, &value, len, nullptr) != 0)
    return value_err_no_conversion;
  const int v = toint(&value);
  const int error = get_toerrno();
  if (error != 0) return error;
  *ind = static_cast<int16_t>(v);
  return 0;
}

/*
** The i16 indicator into an indicator variable of its own type: direct for
** the 16- and 32-bit integer types, else through a SMALLINT value (-32768
** standing for NULL). Returns 0, or -456 recorded when it does not fit.
*/
int _sqindhost(int16_t ind, char *data, int type, int len) {
  if (data == nullptr) return 0;
  const int low = type & 0xFF;
  if (low == sql_type_smallint || low == host_type_short) {
    std::memcpy(data, &ind, sizeof ind);
    return 0;
  }
  if (low == sql_type_integer || low == host_type_int || low == host_type_long) {
    const int32_t wide = ind;
    std::memcpy(data, &wide, sizeof wide);
    return 0;
  }
  value_t value {};
  value.vtype = sql_type_smallint;
  value.vint = ind;
  value.vprec = 0x0500;
  value.vind = ind == INT16_MIN ? -1 : 0;
  if (_sqvalhost(&value, data, type, len, nullptr) != 0) return recorded(indicator_overflow);
  return 0;
}

/*
** The typed value of a host variable; the indicator comes from the host
** indicator, else the indicator variable. Returns 0, -1 for a host type
** without a value, or the conversion error.
*/
int _sqhostval(const sqlvar_struct *host, value_t *value) {
  if (host == nullptr || value == nullptr) return -1;
  const int low = host->sqltype & 0xFF;
  if (low >= no_value_types) return -1;
  int16_t ind = 0;
  int16_t *indp = host->sqlind;
  if (indp == nullptr && host->sqlidata != nullptr && host->sqlitype != 0) {
    const int error = _sqhostind(host->sqlidata, host->sqlitype, host->sqlilen, &ind);
    if (error != 0) return error;
    indp = &ind;
  }
  *value = value_t {};
  if (rcvarval(host->sqldata, host->sqltype, value, host->sqllen, indp) != 0) {
    const int error = get_toerrno();
    return error != 0 ? error : value_err_no_conversion;
  }
  return 0;
}

/*
** The host variable's value in the stored form of a column (type, len)
** at out, which holds the field. A NULL character value is stored empty
** when empty_null is set. Returns 0, or the error recorded.
*/
int _sqvar2data(const sqlvar_struct *host, char *out, int type, int len, int empty_null) {
  value_t value {};
  if (int error = _sqhostval(host, &value); error != 0)
    return recorded(error == -1 ? SQLI_E_HOSTTYPE : error);
  const int sql = type & 0xFF;
  const bool character = sql == sql_type_char || sql == sql_type_nchar || sql == sql_type_varchar ||
                         sql == sql_type_nvarchar;
  static char empty[1] = {'\0'};
  if (empty_null != 0 && character && value.vind < 0) {
    value.vind = 0;
    value.vptr = empty;
    value.vlen = 0;
  }
  const int error = rvaldata(&value, out, type, len);
  return error != 0 ? recorded(error) : 0;
}
