/*
** gen_match.h: the MATCHES and LIKE operators of the expression evaluator
** and the pattern matchers behind them. MATCHES uses '*' (any run), '?'
** (one character) and bracket classes; LIKE uses '%' and '_'. Values and
** patterns compare as blank-padded SQL strings in the client locale.
**
** Errors (returned, or left in the conversion error word toerrno): -406 no
** general control block or no memory, -1203 an operand that is not a
** character type, -1211 no memory for the compiled pattern, -1278 an
** invalid or final escape in an ANSI-compliant database. A byte sequence
** that is no character (-202) counts as no match and is not reported.
** C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_MATCH_H
#define DVZ_GENLIB_GEN_MATCH_H

#include <stdint.h>

#include "gen_value.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Operators (52 MATCHES, 53 NOT MATCHES, 56 LIKE, 57 NOT LIKE) ---- */

/* The operator with the backslash as escape. result becomes a SMALLINT
** 0 or 1 (indicator -1 when an operand is NULL). Returns 0 or an error. */
int exmatch(int op, value_t *value, value_t *pattern, value_t *result);
/* The same with the given escape character; *warning becomes 1 when an
** escape stood before a character that needed none (outside an ANSI
** database), else 0. */
int ansi_exescmatch(int op, value_t *value, value_t *pattern, value_t *result, int escape,
                    int *warning);
/* The operator proper; the caller has cleared toerrno and the warning. */
int exescmatch(int op, value_t *value, value_t *pattern, value_t *result, int escape);

/* ---- Matchers ---- */

/* Byte matcher: the string and pattern end at their lengths or a zero
** byte. Returns 1 match, 0 no match. */
int rescfixstrmatch(const char *string, int slen, const char *pattern, int plen, int many, int one,
                    int escape);
/* The escape rule for the byte matcher: pattern points just after the
** escape. Returns 2 (the rest matches), 1 (one character matched), 0. */
int chkescfixstr(const char *string, int slen, const char *pattern, int plen, int many, int one,
                 int escape);
/* Terminated multibyte string and pattern, backslash escape: 1, 0, or -1
** when conversion or memory fails. */
int rwildmatch(const char *string, const char *pattern, int many, int one);
/* Wide matcher over terminated wide strings: 1, 0 (2 with -406 when there
** is no general control block). */
int rescwildmatch(const uint32_t *string, const uint32_t *pattern, int many, int one, int escape);
/* The escape rule for the wide matcher, as chkescfixstr. */
int checkescape(const uint32_t *string, const uint32_t *pattern, int many, int one, int escape);

#ifdef __cplusplus
}
#endif

#endif
