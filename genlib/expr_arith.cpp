/*
** expr_arith.cpp: the arithmetic of the expression evaluator (+, -, *, /
** and unary minus) on typed values. The result type is extype's and the
** precision word or qualifier exprec's; one function per result type
** (FLOAT, DECIMAL and MONEY, DATE, DATETIME, INTERVAL) sits in a table
** indexed by the SQL type code. Nothing in the client library calls these
** yet; they complete the evaluator.
**
** Each result is built in a local record and copied out at the end, so the
** result may be one of the operands. Conversions leave their errors in
** the conversion error word; the first one is returned at once, and a
** result that failed is NULL (division by zero gives 0 where a number can
** hold it).
*/
#include <array>
#include <cfloat>
#include <cstdint>

#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dtarith.h"
#include "gen_errors.h"
#include "gen_expr.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "os_gentcb.h"
#include "value_internal.h"

namespace {

using dvz_genlib::code_of;
using dvz_genlib::is_null;

/* DATETIME in a product or quotient. */
constexpr int err_datetime_operator = value_err_no_conversion;

constexpr int qual_year_to_day = TU_ENCODE(8, TU_YEAR, TU_DAY);

int qualifier_of(const value_t *v) { return static_cast<uint16_t>(v->vprec); }

/* What every computation receives: the operator, the operands and the
** result's type and precision word or qualifier, and the record it
** fills (type, indicator and precision already set). */
struct operation {
  int op;
  value_t *a;
  value_t *b;
  value_t *out;
};

void set_null_decimal(dec_t *d) {
  d->sign = -1;
  d->exponent = 0;
  d->npairs = 0;
}

/* A NULL of the record's type. */
void make_null(value_t *out) {
  out->vind = -1;
  switch (code_of(out)) {
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
    case sql_type_interval:
      set_null_decimal(&out->vdec);
      break;
    case sql_type_float:
      out->vdouble = 0.0;
      break;
    case sql_type_smallfloat:
      out->vfloat = 0.0f;
      break;
    case sql_type_int8:
    case sql_type_serial8:
      out->vint8 = dvz_int8_t {0, 0, 0};
      break;
    default:
      out->vint = dvz_genlib::integer_null;
      break;
  }
}

/* ---- FLOAT ------------------------------------------------------------------------ */

int float_result(const operation &o) {
  const double x = todouble(o.a);
  if (int e = get_toerrno(); e != 0) return e;
  const double y = todouble(o.b);
  if (int e = get_toerrno(); e != 0) return e;
  o.out->vtype = sql_type_float;
  double r = 0.0;
  switch (o.op) {
    case EX_PLUS:
      r = x + y;
      break;
    case EX_MINUS:
      r = x - y;
      break;
    case EX_TIMES:
      r = x * y;
      break;
    default:
      if (y == 0.0) {
        o.out->vdouble = 0.0;
        return value_err_divide_by_zero;
      }
      r = x / y;
      break;
  }
  /* Infinities and NaN fail the same test. */
  if (!(r > -DBL_MAX && r < DBL_MAX)) return value_err_not_number;
  o.out->vdouble = r;
  return 0;
}

/* ---- DECIMAL and MONEY ------------------------------------------------------------- */

int decimal_result(const operation &o) {
  const bool money = code_of(o.out) == sql_type_money;
  int (*convert)(value_t *, dec_t *) = money ? todecimalmon : todecimal;
  dec_t x {};
  dec_t y {};
  if (int e = convert(o.a, &x); e != 0) return e;
  if (int e = convert(o.b, &y); e != 0) return e;
  dec_t r {};
  int status = 0;
  switch (o.op) {
    case EX_PLUS:
      status = decadd(&x, &y, &r);
      break;
    case EX_MINUS:
      status = decsub(&x, &y, &r);
      break;
    case EX_TIMES:
      status = decmul(&x, &y, &r);
      break;
    default:
      status = decdiv(&x, &y, &r);
      break;
  }
  o.out->vdec = r;
  if (status != 0) return status;
  if ((o.op == EX_TIMES || o.op == EX_DIVIDE) && chkprec(&o.out->vdec, qualifier_of(o.out)) != 0)
    return value_err_precision;
  return 0;
}

/* ---- DATE ---------------------------------------------------------------------------- */

bool date_like(const value_t *v) {
  switch (code_of(v)) {
    case sql_type_date:
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
      return true;
    default:
      return false;
  }
}

/* The day number of a DATE or date text, the number of anything else. */
int32_t day_number(value_t *v) { return date_like(v) ? todate(v) : tolong(v); }

int date_result(const operation &o) {
  const int64_t x = day_number(o.a);
  if (int e = get_toerrno(); e != 0) return e;
  const int64_t y = day_number(o.b);
  if (int e = get_toerrno(); e != 0) return e;
  int64_t r = 0;
  switch (o.op) {
    case EX_PLUS:
      r = x + y;
      break;
    case EX_MINUS:
      r = x - y;
      if (date_like(o.a) && date_like(o.b)) o.out->vtype = sql_type_integer;
      break;
    case EX_TIMES:
      r = x * y;
      break;
    default:
      o.out->vtype = sql_type_integer;
      if (y == 0) {
        o.out->vint = 0;
        return value_err_divide_by_zero;
      }
      r = x / y;
      break;
  }
  /* A day number or count that does not fit is refused, never wrapped. */
  if (code_of(o.out) == sql_type_date && (r < DATE_MIN || r > DATE_MAX))
    return value_err_date_range;
  if (r < -INT32_MAX || r > INT32_MAX) return value_err_integer;
  o.out->vint = static_cast<int32_t>(r);
  return 0;
}

/* ---- DATETIME and INTERVAL ------------------------------------------------------------ */

bool is_dated(const value_t *v) {
  return code_of(v) == sql_type_datetime || code_of(v) == sql_type_date;
}

void negate(dec_t *d) {
  if (d->sign >= 0 && dec_is_zero(d) == 0) d->sign = d->sign == 0 ? 1 : 0;
}

int datetime_result(const operation &o) {
  if (o.op == EX_TIMES || o.op == EX_DIVIDE) return err_datetime_operator;
  const int qualifier = qualifier_of(o.out);
  value_t *dated = is_dated(o.a) ? o.a : o.b;
  value_t *span = dated == o.a ? o.b : o.a;
  dtime_t d {};
  intrvl_t i {};
  if (int e = todatetime(dated, &d, qualifier); e != 0) return e;
  if (int e = tointerval(span, &i, 0); e != 0) return e;
  if (o.op == EX_MINUS) negate(&i.in_dec);
  return rdtaddinv(&d.dt_dec, qualifier, &i.in_dec, i.in_qual, &o.out->vdec);
}

/* The DECIMAL count of the INTERVAL's last unit. */
int interval_count(value_t *v, int qualifier, dec_t *count) {
  intrvl_t i {};
  if (int e = tointerval(v, &i, qualifier); e != 0) return e;
  return rinvtodec(&i.in_dec, qualifier, count);
}

/* A count of the qualifier's last unit as the result's INTERVAL. */
int interval_from(const dec_t *count, value_t *out) {
  rdectoinv(count, &out->vdec, qualifier_of(out));
  return get_toerrno();
}

int interval_result(const operation &o) {
  const int qualifier = qualifier_of(o.out);
  if (is_dated(o.a) && is_dated(o.b)) {
    /* DATE counts as YEAR TO DAY; a DATETIME keeps its own qualifier. */
    dtime_t x {};
    dtime_t y {};
    const auto own = [](const value_t *v) {
      return code_of(v) == sql_type_date ? qual_year_to_day : qualifier_of(v);
    };
    if (int e = todatetime(o.a, &x, own(o.a)); e != 0) return e;
    if (int e = todatetime(o.b, &y, own(o.b)); e != 0) return e;
    return rdtsub(&x.dt_dec, x.dt_qual, &y.dt_dec, y.dt_qual, &o.out->vdec, qualifier);
  }
  const bool a_span = code_of(o.a) == sql_type_interval;
  const bool b_span = code_of(o.b) == sql_type_interval;
  dec_t count {};
  dec_t other {};
  dec_t r {};
  int status = 0;
  if (o.op == EX_PLUS || o.op == EX_MINUS) {
    /* Both as counts of the result's last unit, so the units agree. */
    if (int e = interval_count(o.a, qualifier, &count); e != 0) return e;
    if (int e = interval_count(o.b, qualifier, &other); e != 0) return e;
    status = o.op == EX_PLUS ? decadd(&count, &other, &r) : decsub(&count, &other, &r);
  } else {
    /* INTERVAL times a number (either side) or by a number. */
    if (a_span == b_span || (o.op == EX_DIVIDE && !a_span)) return value_err_no_conversion;
    value_t *span = a_span ? o.a : o.b;
    value_t *number = a_span ? o.b : o.a;
    if (int e = interval_count(span, qualifier_of(span), &count); e != 0) return e;
    if (int e = todecimal(number, &other); e != 0) return e;
    /* The result keeps the operand's last unit, so the count carries over. */
    status = o.op == EX_TIMES ? decmul(&count, &other, &r) : decdiv(&count, &other, &r);
  }
  if (status != 0) {
    /* No zero INTERVAL stands for a division by zero. */
    make_null(o.out);
    return status;
  }
  return interval_from(&r, o.out);
}

using compute_fn = int (*)(const operation &);

/* The computation of each result type; extype gives no other. */
constexpr std::array<compute_fn, sql_type_max + 1> compute_table = [] {
  std::array<compute_fn, sql_type_max + 1> table {};
  table[sql_type_float] = float_result;
  table[sql_type_smallfloat] = float_result;
  table[sql_type_decimal] = decimal_result;
  table[sql_type_money] = decimal_result;
  table[sql_type_date] = date_result;
  table[sql_type_datetime] = datetime_result;
  table[sql_type_interval] = interval_result;
  return table;
}();

/* a op b into result through the table. */
int arithmetic(int op, value_t *a, value_t *b, value_t *result) {
  value_t out {};
  const int type = extype(a->vtype, b->vtype, op);
  out.vtype = static_cast<int16_t>(type);
  out.vprec =
      static_cast<int16_t>(exprec(qualifier_of(a), qualifier_of(b), op, a->vtype, b->vtype));
  int status = 0;
  if (is_null(a) || is_null(b)) {
    make_null(&out);
  } else {
    const compute_fn compute = type >= 0 && type <= sql_type_max ? compute_table[type] : nullptr;
    if (compute != nullptr) {
      set_toerrno(0);
      const operation o {op, a, b, &out};
      status = compute(o);
      /* A failed operation leaves NULL; division by zero alone gives 0. */
      if (status != 0 && status != value_err_divide_by_zero) make_null(&out);
    } else {
      make_null(&out);
      status = value_err_no_conversion;
    }
  }
  *result = out;
  return status;
}

}  // namespace

extern "C" {

int exadd(value_t *a, value_t *b, value_t *result) { return arithmetic(EX_PLUS, a, b, result); }

int exsub(value_t *a, value_t *b, value_t *result) { return arithmetic(EX_MINUS, a, b, result); }

int exmul(value_t *a, value_t *b, value_t *result) { return arithmetic(EX_TIMES, a, b, result); }

int exdiv(value_t *a, value_t *b, value_t *result) { return arithmetic(EX_DIVIDE, a, b, result); }

/*
** -v into result, keeping v's type and precision word; a NULL is copied
** as it is. Returns 0, or -1266 (result untouched) for a type that has no
** negation.
*/
int exneg(value_t *v, value_t *result) {
  if (is_null(v)) {
    *result = *v;
    return 0;
  }
  value_t out = *v;
  switch (code_of(v)) {
    case sql_type_smallint:
    case sql_type_integer:
    case sql_type_date:
      /* Unsigned, so the NULL word 0x80000000 negates to itself. */
      out.vint = static_cast<int32_t>(0u - static_cast<uint32_t>(v->vint));
      break;
    case sql_type_float:
      out.vdouble = -v->vdouble;
      break;
    case sql_type_smallfloat:
      out.vfloat = -v->vfloat;
      break;
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_interval:
      negate(&out.vdec);
      break;
    case sql_type_int8:
      if (dvz_int8iszero(&v->vint8) == 0) out.vint8.sign = static_cast<int16_t>(-v->vint8.sign);
      break;
    default:
      return dt_err_qualifiers;
  }
  *result = out;
  return 0;
}

}  // extern "C"
