/*
** gen_exprtypes.h: the result rules of the expression evaluator that the
** DATETIME and INTERVAL arithmetic shares: the kind of each SQL type, the
** result type of an operator on two types (`extype`) and the result
** precision word or qualifier (`exprec`). C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_EXPRTYPES_H
#define DVZ_GENLIB_GEN_EXPRTYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Operator codes the rules distinguish. */
enum ex_operator {
  EX_NEG = 26,
  EX_ISNULL = 27,
  EX_NOTNULL = 28,
  EX_EQ = 46,
  EX_NE = 47,
  EX_LE = 48,
  EX_LT = 49,
  EX_GE = 50,
  EX_GT = 51,
  EX_MATCHES = 52,
  EX_NOTMATCHES = 53,
  EX_LIKE = 56,
  EX_NOTLIKE = 57,
  EX_PLUS = 58,
  EX_MINUS = 59,
  EX_TIMES = 60,
  EX_DIVIDE = 61
};

/* The 51 kind words, indexed by SQL type code. */
const uint32_t *get_kind_table(void);
/* The kind of a type word's low byte (0 beyond the table). */
uint32_t getkind(int type);
/* Result SQL type code of operator on the two type words. */
int extype(int type1, int type2, int op);
/* Result precision word or qualifier. */
int exprec(int prec1, int prec2, int op, int type1, int type2);

#ifdef __cplusplus
}
#endif

#endif
