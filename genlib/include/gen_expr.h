/*
** gen_expr.h: the expression evaluator: comparisons of typed values
** (`excmp`), the three-valued logic, arithmetic and the date functions.
** The operator codes and the result rules (`extype`, `exprec`) are in
** gen_exprtypes.h.
**
** A truth value is a SMALLINT 0 or 1 with indicator 0, or a NULL SMALLINT
** (indicator -1, value 0). Results are written into a caller's record,
** which may be one of the operands; a NULL operand is never an error.
** Errors are returned as negative numbers: -406 no general control block,
** -1202 division by zero, -1223 a floating result out of range, -1226 a
** DECIMAL result beyond its precision, -1260 DATETIME in a product or
** quotient or a type with no truth value, -1266 INTERVAL qualifiers
** without a common order or a type that cannot be negated; the errors of
** the conversions (gen_value.h) and of the DATE, DATETIME and INTERVAL
** operations pass through. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_EXPR_H
#define DVZ_GENLIB_GEN_EXPR_H

#include <time.h>

#include "gen_errors.h"
#include "gen_exprtypes.h"
#include "gen_value.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Comparisons --------------------------------------------------------------- */

/* Compares a with b by op (EX_EQ to EX_GT) into result, a SMALLINT 1 or
** 0, or a NULL SMALLINT when either operand is NULL; EX_MATCHES,
** EX_NOTMATCHES, EX_LIKE and EX_NOTLIKE go to exmatch. result may be a
** or b. Returns 0 or a negative error. */
int excmp(int op, value_t *a, value_t *b, value_t *result);

/* ---- Truth values and logic ---------------------------------------------------- */

/* Three-valued AND and OR of a and b (each first made a truth value in
** place). Return 1. */
int exand(value_t *a, value_t *b, value_t *result);
int exor(value_t *a, value_t *b, value_t *result);
/* Three-valued NOT of v (made a truth value in place). Returns 1. */
int exnot(value_t *v, value_t *result);
/* Makes v a SMALLINT truth value in place (a NULL keeps its indicator and
** becomes 0). A type without a truth value becomes 0 and gives -1260,
** also left in the conversion error word; else 0. */
int cvtosmint(value_t *v);
/* IS NULL (EX_ISNULL) or IS NOT NULL (EX_NOTNULL) of v as a non-NULL
** SMALLINT; any other operator gives 0. Returns 1. */
int exnull(value_t *v, value_t *result, int op);
/* Of two BOOLEAN bytes: 1 when equal (else 0); 1 when different (else
** 0); the difference of the bytes as signed values. */
int boolean_equal(const char *a, const char *b);
int boolean_notequal(const char *a, const char *b);
int boolean_compare(const char *a, const char *b);

/* An entry of a parameter list: the value and the next entry. */
typedef struct ex_param {
  struct ex_param *next;
  value_t *value;
} ex_param;
/* The n-th entry (1 the first) of the list; NULL when the list is shorter
** or n is below 1. */
ex_param *gtparm(int n, ex_param *list);
/* The qualifier of a when it is DATETIME or INTERVAL, else the precision
** word of b. */
int exdtqual(const value_t *a, const value_t *b);
/* Sets the decimal-calculation flag (floating arithmetic done in DECIMAL
** when non-zero); returns the previous flag, or -406 without a block. */
int dvz_ex_decimal_calc(int flag);

/* ---- Arithmetic ----------------------------------------------------------------- */

/* result = a + b, a - b, a * b, a / b, typed by extype with the precision
** word or qualifier of exprec; a NULL operand gives a NULL of that type.
** result may be a or b. Returns 0 or a negative error. */
int exadd(value_t *a, value_t *b, value_t *result);
int exsub(value_t *a, value_t *b, value_t *result);
int exmul(value_t *a, value_t *b, value_t *result);
int exdiv(value_t *a, value_t *b, value_t *result);
/* result = -v for SMALLINT, INTEGER, FLOAT, SMALLFLOAT, DECIMAL, MONEY,
** DATE, INTERVAL and INT8; -1266 for any other type. */
int exneg(value_t *v, value_t *result);

/* ---- Date functions -------------------------------------------------------------- */

/* DAY (69), MONTH (70) or YEAR (71) of v as a DATE: a SMALLINT of
** precision 2 digits (4 for the year), NULL for a NULL operand. */
int exxmdy(int op, value_t *v, value_t *result);
/* DATE(v): a DATE of precision 0x0A00, NULL for a NULL operand or the
** NULL date. */
int extodate(value_t *v, value_t *result);
/* EXTEND(v, q): v as a DATETIME of the qualifier held in the precision
** word of q. */
int exextend(value_t *v, value_t *q, value_t *result);
/* v UNITS q: the number v as an INTERVAL of the qualifier held in the
** precision word of q (a qualifier starting at FRACTION starts at SECOND). */
int exunits(value_t *v, value_t *q, value_t *result);
/* CURRENT as a DATETIME of qualifier (0: YEAR TO FRACTION(3), the whole
** current time). */
int excurrent(int qualifier, value_t *result);
/* The local time of clock as a DATETIME of qualifier (starting at YEAR). */
int utc_to_datetime(time_t clock, int qualifier, value_t *result);
/* WEEKDAY(v): 0 Sunday to 6 Saturday, a SMALLINT of precision 0x100. */
int exwkday(value_t *v, value_t *result);
/* MDY(m, d, y): a DATE, NULL when an operand is NULL; the errors of the
** date conversion (-1204, -1205, -1206 ...) for an impossible date. */
int exmdy(value_t *m, value_t *d, value_t *y, value_t *result);

#ifdef __cplusplus
}
#endif

#endif
