/*
** sqli_sqlca.h: the SQL communication area (`sqlca`), the status record
** that every operation of the embedded-SQL runtime leaves behind: the
** status code, the message parameter, the six counters and the eight
** warning flags. The probe reads it, so its layout is fixed: 116 bytes of
** int32_t and char only, whatever the host's long.
**
** An in-memory record in host order; it never leaves the process.
** Header-only, C linkage; the runtime owns the process-wide instance.
*/
#ifndef DVZ_SQLI_SQLCA_H
#define DVZ_SQLI_SQLCA_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The eight warning flags, each blank or 'W'. */
typedef struct sqlca_warn {
  char sqlwarn0; /* 'W' when any warning was raised */
  char sqlwarn1;
  char sqlwarn2;
  char sqlwarn3;
  char sqlwarn4;
  char sqlwarn5;
  char sqlwarn6;
  char sqlwarn7;
} sqlca_warn;

typedef struct sqlca_s {
  int32_t sqlcode; /* 0, 100 (no more rows) or a negative error number */
  char sqlerrm[72]; /* message parameter: at most 71 characters and a NUL */
  char sqlerrp[8]; /* never written by the runtime */
  int32_t sqlerrd[6]; /* rows, ISAM error or SERIAL, rows processed, cost, offset, row id */
  sqlca_warn sqlwarn;
} sqlca_s;

/* static_assert: a keyword in C++, a macro of assert.h in C. */
static_assert(sizeof(sqlca_s) == 116, "sqlca is 116 bytes");
static_assert(offsetof(sqlca_s, sqlcode) == 0, "sqlcode at 0");
static_assert(offsetof(sqlca_s, sqlerrm) == 4, "sqlerrm at 4");
static_assert(offsetof(sqlca_s, sqlerrp) == 76, "sqlerrp at 76");
static_assert(offsetof(sqlca_s, sqlerrd) == 84, "sqlerrd at 84");
static_assert(offsetof(sqlca_s, sqlwarn) == 108, "sqlwarn at 108");

/* The length of SQLSTATE: five characters and a NUL. */
#define SQLI_SQLSTATE_SIZE 6

#ifdef __cplusplus
}
#endif

#endif
