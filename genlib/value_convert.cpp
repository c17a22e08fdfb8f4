/*
** value_convert.cpp: the conversions of a typed value (`value_t`) into
** each scalar representation (16- and 32-bit integers, DATE, INT8, double,
** DECIMAL, DATETIME, INTERVAL, BOOLEAN byte), the DECIMAL precision fit,
** the NULL builders of blob and collection values and the month, day and
** year of a DATETIME value.
**
** Callers: the column writers (value_columns.cpp), host variables and
** display text, the expression evaluator and collections. Calls the
** DECIMAL, INT8, DATE, DATETIME and number-text services.
**
** Every to* conversion clears the conversion error word first and leaves
** its error there. A text value is handed to a parser that wants a
** terminated string through a work copy: a local 40-byte buffer when the
** text and its terminator fit (the common case allocates nothing), else a
** heap copy; -406 when that cannot be had.
*/
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "dt_units.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_dtarith.h"
#include "gen_errors.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "gen_value.h"
#include "os_gentcb.h"
#include "os_stored.h"
#include "value_internal.h"

namespace {

using dvz_genlib::code_of;
using dvz_genlib::error_word;
using dvz_genlib::integer_null;
using dvz_genlib::is_null;
using dvz_genlib::smallint_null;
using dvz_genlib::text_of;

/* Text of at most this many bytes is read from MONEY text. */
constexpr int money_text_max = 80;

/* What a conversion does with a value, by the low byte of its type word. */
enum class kind : unsigned char {
  other,
  text, /* CHAR, NCHAR, VARCHAR, NVARCHAR, LVARCHAR */
  smallint,
  integer, /* INTEGER, SERIAL */
  date,
  float8,
  float4,
  decimal, /* DECIMAL, MONEY */
  int8, /* INT8, SERIAL8 */
  blob, /* BYTE, TEXT */
  datetime,
  interval,
  opaque /* variable and fixed UDT, BOOLEAN */
};

constexpr std::array<kind, 256> kinds = [] {
  std::array<kind, 256> k {};
  for (int code :
       {sql_type_char, sql_type_varchar, sql_type_nchar, sql_type_nvarchar, sql_type_lvarchar})
    k[code] = kind::text;
  k[sql_type_smallint] = kind::smallint;
  k[sql_type_integer] = kind::integer;
  k[sql_type_serial] = kind::integer;
  k[sql_type_date] = kind::date;
  k[sql_type_float] = kind::float8;
  k[sql_type_smallfloat] = kind::float4;
  k[sql_type_decimal] = kind::decimal;
  k[sql_type_money] = kind::decimal;
  k[sql_type_int8] = kind::int8;
  k[sql_type_serial8] = kind::int8;
  k[sql_type_byte] = kind::blob;
  k[sql_type_text] = kind::blob;
  k[sql_type_datetime] = kind::datetime;
  k[sql_type_interval] = kind::interval;
  k[sql_type_variable_udt] = kind::opaque;
  k[sql_type_fixed_udt] = kind::opaque;
  k[sql_type_boolean] = kind::opaque;
  return k;
}();

kind kind_of(const value_t *v) { return kinds[static_cast<size_t>(code_of(v))]; }

/* A terminated copy of a text value for the parsers that read up to a NUL;
** ok() is false when the heap copy could not be made. */
class work_text {
 public:
  explicit work_text(const value_t *v) {
    const std::string_view text = text_of(v);
    if (text.size() < local_.size()) {
      data_ = local_.data();
    } else {
      heap_ = static_cast<char *>(std::malloc(text.size() + 1));
      data_ = heap_;
      if (data_ == nullptr) return;
    }
    if (!text.empty()) std::memcpy(data_, text.data(), text.size());
    data_[text.size()] = '\0';
  }
  ~work_text() { std::free(heap_); }
  work_text(const work_text &) = delete;
  work_text &operator=(const work_text &) = delete;

  bool ok() const { return data_ != nullptr; }
  const char *c_str() const { return data_; }

 private:
  std::array<char, 40> local_;
  char *heap_ = nullptr;
  char *data_ = nullptr;
};

/* The whole text, trailing blanks aside, is "today" in any case. */
bool means_today(std::string_view text) {
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  constexpr std::string_view today = "today";
  if (text.size() != today.size()) return false;
  for (size_t i = 0; i < today.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != today[i]) return false;
  }
  return true;
}

void set_null_decimal(dec_t *value) {
  value->sign = -1;
  value->npairs = 0;
  value->exponent = 0;
}

/* A qualifier argument of 0 stands for the value's own. */
int qualifier_or_own(const value_t *v, int qualifier) {
  return qualifier != 0 ? qualifier : static_cast<uint16_t>(v->vprec);
}

/* The error of a value that has no conversion to the target: -608 for
** BYTE and TEXT, -1260 for every other type. */
int refusal(const value_t *v) {
  return kind_of(v) == kind::blob ? value_err_blob : value_err_no_conversion;
}

/* How one numeric target is built from each numeric source kind; each
** returns 0 or the builder's error. */
template <typename T>
struct number_builders {
  int (*from_smallint)(int, T *);
  int (*from_integer)(int32_t, T *); /* INTEGER, SERIAL, DATE */
  int (*from_double)(double, T *);
  int (*from_float)(float, T *);
  int (*from_decimal)(const dec_t *, T *); /* DECIMAL, MONEY */
  int (*from_int8)(const dvz_int8_t *, T *);
};

constexpr number_builders<dec_t> decimal_builders {
    deccvint,
    deccvlong,
    deccvdbl,
    [](float value, dec_t *result) { return deccvflt(value, result); },
    [](const dec_t *value, dec_t *result) {
      deccopy(value, result);
      return 0;
    },
    deccvint8};

constexpr number_builders<dvz_int8_t> int8_builders {
    dvz_int8cvint,
    dvz_int8cvlong,
    dvz_int8cvdbl,
    dvz_int8cvflt,
    dvz_int8cvdec,
    [](const dvz_int8_t *value, dvz_int8_t *result) {
      *result = *value;
      return 0;
    }};

/* A non-NULL value of a numeric kind built into *result; refusal(v) for
** every other kind, *result untouched. */
template <typename T>
int build_number(const value_t *v, T *result, const number_builders<T> &build) {
  switch (kind_of(v)) {
    case kind::smallint:
      return build.from_smallint(v->vint, result);
    case kind::integer:
    case kind::date:
      return build.from_integer(v->vint, result);
    case kind::float8:
      return build.from_double(v->vdouble, result);
    case kind::float4:
      return build.from_float(v->vfloat, result);
    case kind::decimal:
      return build.from_decimal(&v->vdec, result);
    case kind::int8:
      return build.from_int8(&v->vint8, result);
    default:
      return refusal(v);
  }
}

/*
** todecimal and todecimalmon: the value as a DECIMAL in *result; MONEY
** text is first read with the monetary conventions. A NULL value, and
** a value of a type without a conversion, sets only the sign of *result to
** NULL; a text value without a pointer leaves *result untouched. Returns
** the error word.
*/
int to_decimal(value_t *v, dec_t *result, bool money) {
  error_word error;
  error.set(0);
  if (is_null(v)) {
    result->sign = -1;
    return 0;
  }
  if (kind_of(v) != kind::text) {
    const int status = build_number(v, result, decimal_builders);
    /* Only a type without a conversion answers the refusal. */
    if (status == refusal(v)) result->sign = -1;
    return error.fail(status);
  }
  if (v->vptr == nullptr) return 0;
  const std::string_view text = text_of(v);
  if (!money)
    return error.fail(
        deccvasc(text.empty() ? "" : text.data(), static_cast<int>(text.size()), result));
  char plain[money_text_max + 1];
  const int length = text.size() < money_text_max ? static_cast<int>(text.size()) : money_text_max;
  plain[0] = '\0';
  rmondec(text.empty() ? "" : text.data(), length, plain);
  return error.fail(deccvasc(plain, static_cast<int>(std::strlen(plain)), result));
}

}  // namespace

namespace dvz_genlib {

int32_t to_long(value_t *v, error_word &error) {
  error.set(0);
  if (is_null(v)) return integer_null;
  switch (kind_of(v)) {
    case kind::smallint:
      return v->vint;
    case kind::integer:
    case kind::date:
      if (v->vint == integer_null) error.set(value_err_integer);
      return v->vint;
    case kind::int8: {
      int32_t result = integer_null;
      error.fail(dvz_int8tolong(&v->vint8, &result));
      return result;
    }
    case kind::blob:
    case kind::opaque:
      error.set(refusal(v));
      return integer_null;
    default:
      break;
  }
  dec_t decimal;
  set_null_decimal(&decimal);
  if (to_decimal(v, &decimal, false) != 0) return integer_null;
  int32_t result = integer_null;
  if (dectolong(&decimal, &result) != 0) {
    error.set(value_err_integer);
    return integer_null;
  }
  return result;
}

int32_t to_date(value_t *v, error_word &error) {
  error.set(0);
  if (is_null(v)) return DATE_NULL;
  int32_t date = DATE_NULL;
  switch (kind_of(v)) {
    case kind::blob:
    case kind::opaque:
      error.set(refusal(v));
      return DATE_NULL;
    case kind::text: {
      if (means_today(text_of(v))) {
        rtoday(&date);
        break;
      }
      work_text text(v);
      if (!text.ok()) {
        error.set(os_err_no_memory);
        return DATE_NULL;
      }
      if (error.fail(rstrdate(text.c_str(), &date)) != 0) return DATE_NULL;
      break;
    }
    case kind::datetime:
      if (error.fail(rdttodate(&v->vdec, static_cast<uint16_t>(v->vprec), &date)) != 0)
        return DATE_NULL;
      break;
    case kind::smallint:
      date = v->vint;
      break;
    case kind::integer:
    case kind::date:
      /* As tolong answers, without clearing the error word again. */
      date = v->vint;
      if (date == integer_null) {
        error.set(value_err_integer);
        return date;
      }
      break;
    default:
      date = tolong(v);
      if (error.get() != 0) return date;
      break;
  }
  if (date != DATE_NULL && (date < DATE_MIN || date > DATE_MAX)) error.set(value_err_date_range);
  return date;
}

int to_int8(value_t *v, dvz_int8_t *result, error_word &error) {
  error.set(0);
  result->low = 0;
  result->high = 0;
  result->sign = 0;
  if (is_null(v)) return 0;
  if (kind_of(v) == kind::int8) {
    *result = v->vint8;
    return 0;
  }
  if (kind_of(v) != kind::text) return error.fail(build_number(v, result, int8_builders));
  const std::string_view text = text_of(v);
  return error.fail(
      dvz_int8cvasc(text.empty() ? "" : text.data(), static_cast<int>(text.size()), result));
}

int to_datetime(value_t *v, dtime_t *result, int qualifier, error_word &error) {
  error.set(0);
  qualifier = qualifier_or_own(v, qualifier);
  result->dt_qual = static_cast<uint16_t>(qualifier);
  set_null_decimal(&result->dt_dec);
  if (is_null(v)) return 0;
  int status = 0;
  switch (kind_of(v)) {
    case kind::text: {
      work_text text(v);
      status = text.ok() ? rstrdtime(text.c_str(), &result->dt_dec, qualifier) : os_err_no_memory;
      break;
    }
    case kind::date:
      rdatedt(v->vint, &result->dt_dec, qualifier);
      status = error.get();
      break;
    case kind::datetime: {
      const int own = static_cast<uint16_t>(v->vprec);
      status = _chk_qual(0, own);
      if (status != 0) break;
      /* A fetch into a variable of the column's own qualifier: the value
      ** is unpacked once, checked and packed again. */
      if (qualifier == own) {
        status = dt_repack(&v->vdec, own, &result->dt_dec, true);
        break;
      }
      status = _chk_qual(0, qualifier);
      if (status == 0) status = chk_dtinv(&v->vdec, own, 1);
      if (status == 0) status = rdtextend(&v->vdec, own, &result->dt_dec, qualifier);
      break;
    }
    default:
      status = refusal(v);
      break;
  }
  return error.fail(status);
}

}  // namespace dvz_genlib

extern "C" {

/* ---- Scalar conversions ---------------------------------------------------------- */

/*
** The value as a 16-bit integer. NULL gives -32768 without error. A value
** outside -32767..32767 is returned as it is with -1214 in the error word
** (a SMALLINT holding -32768 included); a value whose 32-bit conversion
** fails or is NULL gives -32768 with that conversion's error.
*/
int toint(value_t *v) {
  error_word error;
  error.set(0);
  if (is_null(v)) return smallint_null;
  int value = 0;
  switch (kind_of(v)) {
    case kind::smallint:
      value = v->vint;
      break;
    case kind::blob:
    case kind::opaque:
      error.set(refusal(v));
      return smallint_null;
    default: {
      const int32_t wide = tolong(v);
      if (wide == integer_null) return smallint_null;
      value = wide;
      break;
    }
  }
  if (value < -32767 || value > 32767) error.set(value_err_smallint);
  return value;
}

/*
** The value as a 32-bit integer; 0x80000000 for NULL and after an error.
** An INTEGER, SERIAL or DATE holding 0x80000000 is -1215; INT8 passes its
** converter's error (-1284 beyond 32 bits); other types go through
** todecimal (its error kept) and a DECIMAL out of range is -1215.
*/
int32_t tolong(value_t *v) {
  error_word error;
  return dvz_genlib::to_long(v, error);
}

/*
** The value as a DATE day number; 0x80000000 for NULL and after a failed
** conversion. Text that is "today" in any case (trailing blanks aside)
** gives today's date; other text, "" included, is read by rstrdate. A
** result outside -693594..2958464 is returned with -1210.
*/
int32_t todate(value_t *v) {
  error_word error;
  return dvz_genlib::to_date(v, error);
}

/*
** The value as an INT8 in *result (NULL first, so a failed conversion
** leaves NULL). Returns the error word: the converter's, -608 for BYTE and
** TEXT, -1260 for types without a conversion.
*/
int toint8(value_t *v, dvz_int8_t *result) {
  error_word error;
  return dvz_genlib::to_int8(v, result, error);
}

/*
** The value as a double. The indicator is not consulted (todblnull does
** that). Text is read by rstod (blanks give the NULL double); 0.0 after
** -608, -1260 or -406.
*/
double todouble(value_t *v) {
  error_word error;
  error.set(0);
  double result = 0.0;
  switch (kind_of(v)) {
    case kind::text: {
      work_text text(v);
      if (!text.ok()) {
        error.set(os_err_no_memory);
        return 0.0;
      }
      error.fail(rstod(text.c_str(), &result));
      return result;
    }
    case kind::smallint:
    case kind::integer:
    case kind::date:
      return v->vint;
    case kind::float8:
      return v->vdouble;
    case kind::float4:
      return v->vfloat;
    case kind::decimal:
      error.fail(dectodbl(&v->vdec, &result));
      return result;
    case kind::int8:
      error.fail(dvz_int8todbl(&v->vint8, &result));
      return result;
    default:
      error.set(refusal(v));
      return 0.0;
  }
}

/*
** todouble with NULL reported: *isnull 1 and 0.0 for a NULL value and for
** text that is empty or all blanks; else *isnull 0 and todouble's result.
*/
double todblnull(value_t *v, int *isnull) {
  error_word error;
  error.set(0);
  const bool blank_text = kind_of(v) == kind::text && [&] {
    const std::string_view text = text_of(v);
    return dvz_byleng(text.data(), static_cast<int>(text.size())) == 0;
  }();
  if (is_null(v) || blank_text) {
    *isnull = 1;
    return 0.0;
  }
  *isnull = 0;
  return todouble(v);
}

/*
** The text of a text value read as a DECIMAL and then as a double: -1213
** when the text is not a number, -1223 when the DECIMAL is not a double,
** -1260 for a value that is not text; 0.0 after a failure.
*/
double atodub(value_t *v) {
  error_word error;
  error.set(0);
  if (kind_of(v) != kind::text) {
    error.set(value_err_no_conversion);
    return 0.0;
  }
  const std::string_view text = text_of(v);
  dec_t decimal;
  if (deccvasc(text.empty() ? "" : text.data(), static_cast<int>(text.size()), &decimal) != 0) {
    error.set(value_err_text);
    return 0.0;
  }
  double result = 0.0;
  if (dectodbl(&decimal, &result) != 0) {
    error.set(value_err_not_number);
    return 0.0;
  }
  return result;
}

int todecimal(value_t *v, dec_t *result) { return to_decimal(v, result, false); }

int todecimalmon(value_t *v, dec_t *result) { return to_decimal(v, result, true); }

/*
** The value as a DATETIME of the qualifier (0: the value's own), which is
** set in *result in every case; NULL, and the failures other than text,
** leave a NULL result. Returns the error word.
*/
int todatetime(value_t *v, dtime_t *result, int qualifier) {
  error_word error;
  return dvz_genlib::to_datetime(v, result, qualifier, error);
}

/*
** The value as an INTERVAL of the qualifier (0: the value's own), set in
** *result in every case. A DECIMAL's digits become the interval's as they
** are. Returns the error word.
*/
int tointerval(value_t *v, intrvl_t *result, int qualifier) {
  error_word error;
  error.set(0);
  qualifier = qualifier_or_own(v, qualifier);
  result->in_qual = static_cast<uint16_t>(qualifier);
  set_null_decimal(&result->in_dec);
  if (is_null(v)) return 0;
  int status = 0;
  switch (kind_of(v)) {
    case kind::text: {
      work_text text(v);
      status = text.ok() ? rstrinv(text.c_str(), &result->in_dec, qualifier) : os_err_no_memory;
      break;
    }
    case kind::interval: {
      const int own = static_cast<uint16_t>(v->vprec);
      status = _chk_qual(1, own);
      if (status == 0) status = _chk_qual(1, qualifier);
      if (status == 0) status = chk_dtinv(&v->vdec, own, 0);
      if (status == 0) {
        rinvcopy(&v->vdec, own, &result->in_dec, qualifier);
        status = error.get();
      }
      break;
    }
    default:
      if (code_of(v) == sql_type_decimal) {
        deccopy(&v->vdec, &result->in_dec);
        break;
      }
      status = refusal(v);
      break;
  }
  return error.fail(status);
}

/*
** The value as a BOOLEAN byte: -1 for NULL (returning 0); a BOOLEAN's
** byte when it is 0 or 1; a one-character text "t"/"T" 1, "f"/"F" 0.
** Anything else is -1260 and leaves *result as it was.
*/
int tocbool(value_t *v, char *result) {
  error_word error;
  error.set(0);
  if (is_null(v)) {
    *result = -1;
    return 0;
  }
  if (code_of(v) == sql_type_boolean) {
    if (v->vptr != nullptr && (v->vptr[0] == 0 || v->vptr[0] == 1)) {
      *result = v->vptr[0];
      return 0;
    }
  } else if (kind_of(v) == kind::text) {
    const std::string_view text = text_of(v);
    if (text.size() == 1 &&
        (text[0] == 't' || text[0] == 'T' || text[0] == 'f' || text[0] == 'F')) {
      *result = text[0] == 't' || text[0] == 'T' ? 1 : 0;
      return 0;
    }
  }
  return error.fail(value_err_no_conversion);
}

/* ---- Helpers --------------------------------------------------------------------- */

int is_valid_double(double d) { return std::isfinite(d) ? 1 : 0; }

/*
** Fits *value to the precision word (digits << 8 | scale; scale 255 is a
** floating DECIMAL of that many digits), rounding it in place. Returns 0
** when it then fits, -1 when it has more integer digits than the word
** allows (a floating DECIMAL always fits).
*/
int chkprec(dec_t *value, int word) {
  const int p = (word >> 8) & 0xFF;
  const int s = word & 0xFF;
  int own = dec2prec(value);
  int vp = (own >> 8) & 0xFF;
  int vs = own & 0xFF;
  if (s == 255) {
    if (vp > p) decround(value, p + vs - vp);
    return 0;
  }
  if (vs > s) {
    decround(value, s);
    own = decprec(value);
    vp = (own >> 8) & 0xFF;
    vs = own & 0xFF;
  } else if (vp < vs) {
    vp = vs;
  }
  return vp - vs <= p - s ? 0 : -1;
}

/* A NULL BYTE or TEXT value of type (low byte). */
void nullblobval(value_t *v, int type) {
  std::memset(v, 0, sizeof *v);
  v->vtype = static_cast<int16_t>(type & 0xFF);
  v->vind = -1;
  v->vblob.tb_flags = TBLOB_NULL;
}

/* A NULL collection or row value of type (low byte). */
void nullcollval(value_t *v, int type) {
  std::memset(v, 0, sizeof *v);
  v->vtype = static_cast<int16_t>(type & 0xFF);
  v->vind = -1;
  v->vcoll.cl_flags = DVZ_COLL_NULL;
}

/*
** Month, day and year of a DATETIME value (three zeros for NULL), through
** its extension to YEAR TO DAY. Returns 0, or the extension's error with
** three zeros.
*/
int todate1(value_t *v, int16_t mdy[3]) {
  mdy[0] = mdy[1] = mdy[2] = 0;
  if (is_null(v)) return 0;
  dec_t ymd;
  const int status =
      rdtextend(&v->vdec, static_cast<uint16_t>(v->vprec), &ymd, dt_qual_year_to_day);
  if (status != 0) return status;
  dt_unit_work units {};
  dtunpack_datetime(&ymd, dt_qual_year_to_day, units.data());
  mdy[0] = units[2];
  mdy[1] = units[3];
  mdy[2] = static_cast<int16_t>(units[0] * 100 + units[1]);
  return 0;
}

/* The unit pairs of a DATETIME or INTERVAL: dtunpack's contract. */
int dtunpack_datetime(const dec_t *value, int qualifier, unsigned char *out) {
  return dtunpack(value, qualifier, out);
}

}  // extern "C"
