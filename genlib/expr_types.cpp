/*
** expr_types.cpp: the result rules of the expression evaluator: the kind
** of each SQL type, the result type of an operator on two types
** (`extype`) and the result precision word or DATETIME/INTERVAL qualifier
** (`exprec`). The DATETIME and INTERVAL arithmetic (datetime_arith.cpp)
** calls exprec for DATETIME minus DATETIME and INTERVAL times or by a
** number; the comparison of values will call both.
**
** A precision word is digits << 8 | scale, scale 255 meaning floating. The
** decimal-calculation flag of the general control block (0 without a
** block) makes floating arithmetic DECIMAL.
*/
#include <algorithm>

#include "gen_datetime.h"
#include "gen_exprtypes.h"
#include "gen_types.h"
#include "os_gentcb.h"

namespace {

/* Kind bits: one per family of operand; SMALLFLOAT carries the FLOAT bit
** beside its own. */
constexpr uint32_t kind_char = 0x1;
constexpr uint32_t kind_smallint = 0x2;
constexpr uint32_t kind_integer = 0x4;
constexpr uint32_t kind_float = 0x8;
constexpr uint32_t kind_money = 0x10;
constexpr uint32_t kind_date = 0x20;
constexpr uint32_t kind_decimal = 0x40;
constexpr uint32_t kind_datetime = 0x80;
constexpr uint32_t kind_interval = 0x100;
constexpr uint32_t kind_smallfloat = 0x200;
constexpr uint32_t kind_nchar = 0x400;
constexpr uint32_t kind_int8 = 0x800;

constexpr int kind_entries = sql_type_max + 1;

constexpr uint32_t kind_of_code(int code) {
  switch (code) {
    case sql_type_char:
    case sql_type_varchar:
      return kind_char;
    case sql_type_smallint:
      return kind_smallint;
    case sql_type_integer:
    case sql_type_serial:
      return kind_integer;
    case sql_type_float:
      return kind_float;
    case sql_type_smallfloat:
      return kind_smallfloat | kind_float;
    case sql_type_decimal:
      return kind_decimal;
    case sql_type_date:
      return kind_date;
    case sql_type_money:
      return kind_money;
    case sql_type_datetime:
      return kind_datetime;
    case sql_type_interval:
      return kind_interval;
    case sql_type_nchar:
    case sql_type_nvarchar:
      return kind_nchar;
    case sql_type_int8:
    case sql_type_serial8:
      return kind_int8;
    default:
      return 0;
  }
}

constexpr struct kind_table {
  uint32_t kinds[kind_entries];
  constexpr kind_table() : kinds {} {
    for (int code = 0; code < kind_entries; ++code)
      kinds[code] = kind_of_code(code);
  }
} kind_words;

/* No floating scale. */
constexpr int floating_scale = 255;
constexpr int max_digits = 32;

constexpr bool is_comparison(int op) { return op >= EX_EQ && op <= EX_GT; }

/* The decimal-calculation flag; 0 without a control block. */
int decimal_calc() { return gentcb != nullptr ? gentcb->decimal_calc : 0; }

/* Digits and scale of a numeric operand. */
struct precision {
  int digits;
  int scale;
};

precision numeric_precision(int code, int word) {
  switch (code) {
    case sql_type_char:
    case sql_type_nchar:
    case sql_type_float:
      return {16, floating_scale};
    case sql_type_smallfloat:
      return {8, floating_scale};
    default:
      return {(word >> 8) & 0xFF, word & 0xFF};
  }
}

int numeric_result(precision a, precision b, int op) {
  int p = 0;
  int s = 0;
  bool floating = false;
  if (op == EX_DIVIDE) {
    p = std::min(a.digits + b.digits, max_digits);
    s = floating_scale;
  } else {
    floating = a.scale == floating_scale || b.scale == floating_scale;
    const int i1 = a.scale == floating_scale ? a.digits : a.digits - a.scale;
    const int i2 = b.scale == floating_scale ? b.digits : b.digits - b.scale;
    const int s1 = floating ? 0 : a.scale;
    const int s2 = floating ? 0 : b.scale;
    if (op == EX_PLUS || op == EX_MINUS) {
      p = std::max(i1, i2) + 1;
      s = std::max(s1, s2);
    } else if (op == EX_TIMES) {
      p = i1 + i2;
      s = s1 + s2;
    } else {
      p = i1;
      s = s1;
    }
    p = std::min(p, max_digits);
    if (s > 0) {
      s = std::min(s, max_digits - p);
      p += s;
      if (p >= max_digits || s == 0) s = floating_scale;
    }
    if (floating) s = floating_scale;
  }
  if ((op == EX_TIMES || op == EX_DIVIDE) && p < 16 && s != 0) return 16 << 8 | s;
  return p << 8 | s;
}

/* Leading digits of a qualifier: digits less the span of its units. */
constexpr int leading_digits(int q) { return TU_LEN(q) - (TU_END(q) - TU_START(q)); }

int common_interval(int q1, int q2) {
  const int start = std::min(TU_START(q1), TU_START(q2));
  const int end = std::max(TU_END(q1), TU_END(q2));
  int lead = 0;
  if (TU_START(q1) < TU_START(q2))
    lead = leading_digits(q1);
  else if (TU_START(q2) < TU_START(q1))
    lead = leading_digits(q2);
  else
    lead = std::max(leading_digits(q1), leading_digits(q2));
  return TU_ENCODE(lead + end - start, start, end);
}

}  // namespace

extern "C" {

const uint32_t *get_kind_table(void) { return kind_words.kinds; }

uint32_t getkind(int type) {
  const int code = type & 0xFF;
  return code < kind_entries ? kind_words.kinds[code] : 0;
}

int extype(int type1, int type2, int op) {
  const uint32_t k1 = getkind(type1);
  const uint32_t k2 = getkind(type2);
  const uint32_t any = k1 | k2;
  const uint32_t both = k1 & k2;
  if (op == EX_EQ) {
    if ((both & kind_char) != 0) return sql_type_char;
    if ((both & kind_nchar) != 0 || any == (kind_nchar | kind_char)) return sql_type_nchar;
    if ((any & kind_float) != 0)
      return (any & kind_smallfloat) != 0 ? sql_type_smallfloat : sql_type_float;
  }
  if ((any & kind_datetime) != 0) {
    const uint32_t dated = kind_datetime | kind_date;
    return op == EX_MINUS && (k1 & dated) != 0 && (k2 & dated) != 0 ? sql_type_interval
                                                                    : sql_type_datetime;
  }
  if ((any & kind_money) != 0)
    return op == EX_DIVIDE && (both & kind_money) != 0 ? sql_type_decimal : sql_type_money;
  if ((any & kind_interval) != 0)
    return (any & kind_date) != 0 ? sql_type_datetime : sql_type_interval;
  if ((any & kind_date) != 0) return sql_type_date;
  if (decimal_calc() == 0) {
    if ((any & kind_smallfloat) != 0 && op == EX_NEG) return sql_type_smallfloat;
    if ((any & (kind_smallfloat | kind_float)) != 0) return sql_type_float;
  }
  if ((op >= EX_PLUS && op <= EX_DIVIDE) || (any & 0x441) != 0) return sql_type_decimal;
  if ((any & kind_float) != 0) return sql_type_float;
  if ((any & kind_int8) != 0) return sql_type_int8;
  if ((any & kind_integer) != 0) return sql_type_integer;
  return sql_type_smallint;
}

int exprec(int prec1, int prec2, int op, int type1, int type2) {
  int t1 = type1 & 0xFF;
  int t2 = type2 & 0xFF;
  const auto timed = [](int t) { return t == sql_type_datetime || t == sql_type_interval; };
  if (t1 == sql_type_date && timed(t2)) {
    t1 = sql_type_datetime;
    prec1 = 0x804;
  } else if (t2 == sql_type_date && timed(t1)) {
    t2 = sql_type_datetime;
    prec2 = 0x804;
  }
  if (t2 == sql_type_datetime && t1 != sql_type_datetime) return prec2;
  if (t2 == sql_type_interval && !timed(t1)) return prec2;
  if (!timed(t1) && !timed(t2))
    return numeric_result(numeric_precision(t1, prec1), numeric_precision(t2, prec2), op);
  if (t1 == sql_type_interval) {
    if (t2 == sql_type_interval && is_comparison(op)) return common_interval(prec1, prec2);
    if (op == EX_TIMES) {
      const int start = TU_START(prec1) == TU_FRAC ? TU_SECOND : TU_START(prec1);
      const int end = TU_END(prec1);
      return TU_ENCODE(end - start + 9, start, end);
    }
    return prec1;
  }
  if (t1 == sql_type_datetime && t2 == sql_type_datetime) {
    if (is_comparison(op)) {
      const int start = std::min(TU_START(prec1), TU_START(prec2));
      const int end = std::max(TU_END(prec1), TU_END(prec2));
      return TU_ENCODE(end - start + (start == TU_YEAR ? 4 : 2), start, end);
    }
    if (op == EX_MINUS && TU_START(prec1) < TU_DAY && TU_END(prec1) >= TU_DAY)
      return TU_ENCODE(TU_LEN(prec1), TU_DAY, TU_END(prec1));
  }
  return prec1;
}

}  // extern "C"
