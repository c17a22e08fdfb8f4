/*
** expr_compare.cpp: the comparison operators of the expression evaluator
** (`excmp`: =, <>, <=, <, >=, > and, through exmatch, MATCHES and LIKE).
** The collection compare (SET duplicates, membership, bag equality) calls
** it for element values; the logic and arithmetic of the evaluator do not.
**
** Both operands are converted to the comparison type extype gives for '='
** and ordered there; one function per comparison type sits in a table
** indexed by the SQL type code. A conversion that fails leaves its error in
** the conversion error word and the comparison returns it at once.
*/
#include <array>

#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_errors.h"
#include "gen_expr.h"
#include "gen_int8.h"
#include "gen_match.h"
#include "gen_types.h"
#include "match_internal.h"
#include "os_context.h"
#include "os_gentcb.h"
#include "os_stored.h"
#include "value_internal.h"

namespace {

/* The outcome of ordering two converted operands: 0 with order -1, 0 or
** 1, or an error; a character comparison may also find no order at all
** (invalid characters), which makes the comparison false. */
struct ordering {
  int status;
  int order;
  bool unordered;
};

constexpr ordering ordered(int order) { return {0, order < 0 ? -1 : order > 0 ? 1 : 0, false}; }
constexpr ordering failed(int status) { return {status, 0, false}; }

template <typename T>
constexpr int three_way(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

/* The conversion error word after a conversion (0 when none failed). */
int conversion_error() { return get_toerrno(); }

/* Bytes and length of a character operand; a missing buffer is the empty
** text. */
const char *text_bytes(const value_t *v) {
  const std::string_view text = dvz_genlib::text_of(v);
  return text.empty() ? "" : text.data();
}
int text_length(const value_t *v) { return static_cast<int>(dvz_genlib::text_of(v).size()); }

ordering order_char(value_t *a, value_t *b) {
  return ordered(charcmp(text_bytes(a), text_length(a), text_bytes(b), text_length(b)));
}

ordering order_nchar(value_t *a, value_t *b) {
  int error = 0;
  const int order = osglsbycmpr(dvz_genlib::match::client_locale(), text_bytes(a), text_length(a),
                                text_bytes(b), text_length(b), &error);
  if (error == os_err_bad_char) return {0, 0, true};
  if (error != 0) {
    set_toerrno(error);
    return failed(error);
  }
  return ordered(order);
}

ordering order_smallint(value_t *a, value_t *b) {
  const int x = toint(a);
  if (int e = conversion_error(); e != 0) return failed(e);
  const int y = toint(b);
  if (int e = conversion_error(); e != 0) return failed(e);
  return ordered(three_way(x, y));
}

ordering order_integer(value_t *a, value_t *b) {
  const int32_t x = tolong(a);
  if (int e = conversion_error(); e != 0) return failed(e);
  const int32_t y = tolong(b);
  if (int e = conversion_error(); e != 0) return failed(e);
  return ordered(three_way(x, y));
}

ordering order_date(value_t *a, value_t *b) {
  const int32_t x = todate(a);
  if (int e = conversion_error(); e != 0) return failed(e);
  const int32_t y = todate(b);
  if (int e = conversion_error(); e != 0) return failed(e);
  return ordered(three_way(x, y));
}

ordering order_float(value_t *a, value_t *b) {
  const double x = todouble(a);
  if (int e = conversion_error(); e != 0) return failed(e);
  const double y = todouble(b);
  if (int e = conversion_error(); e != 0) return failed(e);
  return ordered(three_way(x, y));
}

/* Both sides rounded to single precision first, as a SMALLFLOAT column
** would hold them. */
ordering order_smallfloat(value_t *a, value_t *b) {
  const float x = static_cast<float>(todouble(a));
  if (int e = conversion_error(); e != 0) return failed(e);
  const float y = static_cast<float>(todouble(b));
  if (int e = conversion_error(); e != 0) return failed(e);
  return ordered(three_way(x, y));
}

template <int (*convert)(value_t *, dec_t *)>
ordering order_decimal(value_t *a, value_t *b) {
  dec_t x {};
  dec_t y {};
  if (int e = convert(a, &x); e != 0) return failed(e);
  if (int e = convert(b, &y); e != 0) return failed(e);
  return ordered(deccmp(&x, &y));
}

ordering order_int8(value_t *a, value_t *b) {
  dvz_int8_t x {};
  dvz_int8_t y {};
  if (int e = toint8(a, &x); e != 0) return failed(e);
  if (int e = toint8(b, &y); e != 0) return failed(e);
  return ordered(dvz_int8cmp(&x, &y));
}

/* The common qualifier of the two operands for a comparison. */
int common_qualifier(const value_t *a, const value_t *b) {
  return static_cast<uint16_t>(exprec(static_cast<uint16_t>(a->vprec),
                                      static_cast<uint16_t>(b->vprec), EX_EQ, a->vtype, b->vtype));
}

ordering order_datetime(value_t *a, value_t *b) {
  const int qualifier = common_qualifier(a, b);
  dtime_t x {};
  dtime_t y {};
  if (int e = todatetime(a, &x, qualifier); e != 0) return failed(e);
  if (int e = todatetime(b, &y, qualifier); e != 0) return failed(e);
  return ordered(deccmp(&x.dt_dec, &y.dt_dec));
}

ordering order_interval(value_t *a, value_t *b) {
  const int qualifier = common_qualifier(a, b);
  if (TU_START(qualifier) < TU_DAY && TU_END(qualifier) >= TU_DAY)
    return failed(dt_err_qualifiers);  // months do not convert to days
  intrvl_t x {};
  intrvl_t y {};
  if (int e = tointerval(a, &x, qualifier); e != 0) return failed(e);
  if (int e = tointerval(b, &y, qualifier); e != 0) return failed(e);
  return ordered(deccmp(&x.in_dec, &y.in_dec));
}

using order_fn = ordering (*)(value_t *, value_t *);

/* The ordering of each comparison type; types without one compare equal. */
constexpr std::array<order_fn, sql_type_max + 1> order_table = [] {
  std::array<order_fn, sql_type_max + 1> table {};
  table[sql_type_char] = order_char;
  table[sql_type_smallint] = order_smallint;
  table[sql_type_integer] = order_integer;
  table[sql_type_serial] = order_integer;
  table[sql_type_float] = order_float;
  table[sql_type_smallfloat] = order_smallfloat;
  table[sql_type_decimal] = order_decimal<todecimal>;
  table[sql_type_money] = order_decimal<todecimalmon>;
  table[sql_type_date] = order_date;
  table[sql_type_datetime] = order_datetime;
  table[sql_type_interval] = order_interval;
  table[sql_type_nchar] = order_nchar;
  table[sql_type_int8] = order_int8;
  table[sql_type_serial8] = order_int8;
  return table;
}();

/* Whether an order satisfies a comparison operator (EX_EQ to EX_GT). */
bool satisfies(int op, int order) {
  switch (op) {
    case EX_EQ:
      return order == 0;
    case EX_NE:
      return order != 0;
    case EX_LE:
      return order <= 0;
    case EX_LT:
      return order < 0;
    case EX_GE:
      return order >= 0;
    case EX_GT:
      return order > 0;
    default:
      return false;
  }
}

void set_truth(value_t *result, int16_t indicator, int value) {
  result->vtype = sql_type_smallint;
  result->vind = indicator;
  result->vint = value;
}

}  // namespace

extern "C" {

/*
** a op b into result (which may be a or b): SMALLINT 1 or 0 with
** indicator 0, or a NULL SMALLINT when either operand is NULL. Returns 0,
** or the error of a conversion, -1266 for interval qualifiers without a
** common order, or the locale comparison's error (also left in toerrno);
** invalid characters in an NCHAR comparison make it false, not an error.
*/
int excmp(int op, value_t *a, value_t *b, value_t *result) {
  if (result != a && result != b) set_truth(result, 0, 0);
  if (op == EX_MATCHES || op == EX_NOTMATCHES || op == EX_LIKE || op == EX_NOTLIKE)
    return exmatch(op, a, b, result);
  if (a->vind < 0 || b->vind < 0) {
    set_truth(result, -1, 0);
    return 0;
  }
  const int type = extype(a->vtype, b->vtype, EX_EQ);
  const order_fn order = type >= 0 && type <= sql_type_max ? order_table[type] : nullptr;
  const ordering outcome = order != nullptr ? order(a, b) : ordered(0);
  if (outcome.status != 0) return outcome.status;
  set_truth(result, 0, !outcome.unordered && satisfies(op, outcome.order) ? 1 : 0);
  return 0;
}

}  // extern "C"
