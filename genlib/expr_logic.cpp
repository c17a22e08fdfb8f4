/*
** expr_logic.cpp: the three-valued logic of the expression evaluator (AND,
** OR, NOT, IS NULL), the truth value of a typed value, the BOOLEAN byte
** comparisons, the parameter-list walk, the qualifier choice of the date
** operators and the decimal-calculation flag that extype reads. Nothing in
** the client library calls them yet; they complete the evaluator.
**
** Operands are turned into SMALLINT truth values in place, as the
** evaluator has always done: a caller that needs the operand afterwards
** passes a copy.
*/
#include "gen_decimal.h"
#include "gen_errors.h"
#include "gen_expr.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "os_gentcb.h"
#include "text_scan.h"
#include "value_internal.h"

namespace {

using dvz_genlib::is_null;

/* A flagged opaque type that holds a truth byte, and the extended type id
** of the built-in boolean opaque type. */
constexpr int type_flag_boolean = 0x4000;
constexpr int xid_boolean = 5;

/* Truth values are three: false, true and unknown (NULL). */
enum class truth { false_value, true_value, unknown };

void set_smallint(value_t *v, int16_t indicator, int value) {
  v->vtype = sql_type_smallint;
  v->vind = indicator;
  v->vint = value;
}

/* The value of a character operand that starts with a digit read as a
** host int (0 when that fails, the failure left in the error word). */
int32_t leading_number(value_t *v) {
  int32_t number = 0;
  int16_t indicator = 0;
  if (rvalcvar(v, reinterpret_cast<char *>(&number), host_type_int, sizeof number, &indicator) != 0)
    return 0;
  return number;
}

bool is_character(int code) {
  return code == sql_type_char || code == sql_type_varchar || code == sql_type_nchar ||
         code == sql_type_nvarchar || code == sql_type_lvarchar;
}

/* The truth of a non-NULL v of a type cvtosmint handles: 1, 0, or -1 for a
** type without a truth value. */
int truth_of_value(value_t *v) {
  const int code = v->vtype & 0xFF;
  if (is_character(code)) {
    if (v->vptr != nullptr && v->vlen > 0 && dvz_genlib::is_digit(v->vptr[0]))
      return leading_number(v) > 0 ? 1 : 0;
    return 1;
  }
  switch (code) {
    case sql_type_smallint:
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      return v->vint != 0 ? 1 : 0;
    case sql_type_float:
      return v->vdouble != 0.0 ? 1 : 0;
    case sql_type_smallfloat:
      return v->vfloat != 0.0f ? 1 : 0;
    case sql_type_decimal:
    case sql_type_money:
    case sql_type_datetime:
      return dec_is_zero(&v->vdec) != 0 ? 0 : 1;
    case sql_type_int8:
    case sql_type_serial8:
      return dvz_int8iszero(&v->vint8) != 0 ? 0 : 1;
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
      if (v->vxid == xid_boolean || (v->vtype & type_flag_boolean) != 0)
        return v->vptr != nullptr && v->vlen > 0 && v->vptr[0] != 0 ? 1 : 0;
      return -1;
    default:
      return -1;
  }
}

/* v made a truth value in place; its truth. */
truth to_truth(value_t *v) {
  if (is_null(v)) {
    set_smallint(v, v->vind, 0);
    return truth::unknown;
  }
  switch (v->vtype & 0xFF) {
    case sql_type_smallint:
      break;
    case sql_type_integer:
    case sql_type_serial:
    case sql_type_date:
      set_smallint(v, v->vind, v->vint != 0 ? 1 : 0);
      break;
    default:
      cvtosmint(v);
      break;
  }
  return v->vint != 0 ? truth::true_value : truth::false_value;
}

void set_truth(value_t *result, truth t) {
  if (t == truth::unknown)
    set_smallint(result, -1, 0);
  else
    set_smallint(result, 0, t == truth::true_value ? 1 : 0);
}

}  // namespace

extern "C" {

/*
** v as a SMALLINT truth value, in place. A NULL stays NULL with value 0.
** Returns 0, or -1260 (also in the conversion error word) for a type that
** has no truth value, which becomes 0.
*/
int cvtosmint(value_t *v) {
  if (is_null(v)) {
    set_smallint(v, v->vind, 0);
    return 0;
  }
  const int value = truth_of_value(v);
  if (value < 0) {
    set_toerrno(value_err_no_conversion);
    set_smallint(v, 0, 0);
    return value_err_no_conversion;
  }
  set_smallint(v, 0, value);
  return 0;
}

/* NULL AND false is false; NULL AND anything else is NULL. */
int exand(value_t *a, value_t *b, value_t *result) {
  const truth x = to_truth(a);
  const truth y = to_truth(b);
  if (x == truth::false_value || y == truth::false_value)
    set_truth(result, truth::false_value);
  else if (x == truth::unknown || y == truth::unknown)
    set_truth(result, truth::unknown);
  else
    set_truth(result, truth::true_value);
  return 1;
}

/* NULL OR true is true; NULL OR anything else is NULL. */
int exor(value_t *a, value_t *b, value_t *result) {
  const truth x = to_truth(a);
  const truth y = to_truth(b);
  if (x == truth::true_value || y == truth::true_value)
    set_truth(result, truth::true_value);
  else if (x == truth::unknown || y == truth::unknown)
    set_truth(result, truth::unknown);
  else
    set_truth(result, truth::false_value);
  return 1;
}

int exnot(value_t *v, value_t *result) {
  const truth x = to_truth(v);
  set_truth(result, x == truth::unknown      ? truth::unknown
                    : x == truth::true_value ? truth::false_value
                                             : truth::true_value);
  return 1;
}

int exnull(value_t *v, value_t *result, int op) {
  const bool null = is_null(v);
  const int answer = op == EX_ISNULL ? null : op == EX_NOTNULL ? !null : 0;
  set_smallint(result, 0, answer);
  return 1;
}

int boolean_equal(const char *a, const char *b) { return *a == *b ? 1 : 0; }

int boolean_notequal(const char *a, const char *b) { return *a != *b ? 1 : 0; }

int boolean_compare(const char *a, const char *b) {
  return static_cast<signed char>(*a) - static_cast<signed char>(*b);
}

ex_param *gtparm(int n, ex_param *list) {
  if (n < 1) return nullptr;
  ex_param *entry = list;
  for (int i = 1; entry != nullptr && i < n; ++i)
    entry = entry->next;
  return entry;
}

int exdtqual(const value_t *a, const value_t *b) {
  const int code = a->vtype & 0xFF;
  if (code == sql_type_datetime || code == sql_type_interval)
    return static_cast<uint16_t>(a->vprec);
  return static_cast<uint16_t>(b->vprec);
}

int dvz_ex_decimal_calc(int flag) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return os_err_no_memory;
  const int previous = block->decimal_calc;
  block->decimal_calc = flag;
  return previous;
}

}  // extern "C"
