/*
** sqli_session.h: the session calls of the embedded-SQL runtime: server
** information, the server's version text and owner name, interrupting a
** running request, break callbacks, and start, detach and exit of a
** session. Statuses go to sqlca and SQLCODE (sqli_status.h) as well.
**
** C linkage; called by preprocessed programs and by the monitor.
*/
#ifndef DVZ_SQLI_SESSION_H
#define DVZ_SQLI_SESSION_H

#include <stdint.h>

#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Server information: the version number, two flag words, three words
** left zero and a NUL-terminated text. */
typedef struct sqli_srvinfo {
  int32_t version;
  int32_t flags1;
  int32_t flags2;
  int32_t spare[3];
  char text[84];
} sqli_srvinfo;

/* Fills info from the current connection's server. 0, or -1 (-1803
** recorded without a current connection; a protocol error otherwise). */
int dvz_srvinfo(sqli_srvinfo *info);
int _iqsrvinfo(sqli_srvinfo *info);
/* Fills info for the client library itself. Returns 0. */
int _iqinfo(sqli_srvinfo *info);
/* The current connection's version text, or null without one. */
const char *sqli_server_version(void);
/* 9 when the current server has extended types, 0 when not, -1 without a
** current connection. */
int dvz_isuvs(void);
/* Puts the owner name of the server's objects into owner (129 bytes).
** Returns 0, or sqlcode. */
int dvz_getserowner(char *owner);
/* Copies the SERIAL8 value of the last insert into value. */
void dvz_getserial8(dvz_int8_t *value);
/* Stores the lvarchar allocation mode. Returns 0. */
int dvz_lvar_alloc(int mode);

/* Break callbacks, run with 1 before a wait, 2 after each interval that
** passes without data and 0 when the wait ends. Interval in milliseconds;
** -1 with a null function removes the callback. 0, or -435 (interval
** below -1), -436 (no function), -437 (no current connection), -438
** (a function with interval -1). */
int sqlbreakcallback(int32_t interval, void (*callback)(int));
int sqlbreakcallback_withparams(int32_t interval, void (*callback)(int, void *), void *arg);

/* Interrupts the running request of the current connection: SQLCODE, or 1
** without a current connection. Safe from a break callback. */
int sqlbreak(void);
/* -439 while a request is in progress, otherwise 0. */
int sqldone(void);
/* Opens the implicit default connection. Returns sqlcode. */
int sqlstart(void);
/* Closes the current connection (abort) / every connection. SQLCODE. */
int sqldetach(void);
int sqlexit(void);

#ifdef __cplusplus
}
#endif

#endif
