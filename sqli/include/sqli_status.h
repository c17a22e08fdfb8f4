/*
** sqli_status.h: the status of the embedded-SQL runtime's last operation
** as callers read it: the process-wide `sqlca`, `SQLCODE` (always equal to
** `sqlca.sqlcode` after an operation) and `SQLSTATE` (five characters and
** a NUL), and the report a WHENEVER STOP prints.
**
** Written only by the runtime's status recording; callers read them after
** each operation. C linkage.
*/
#ifndef DVZ_SQLI_STATUS_H
#define DVZ_SQLI_STATUS_H

#include <stdint.h>

#include "sqli_sqlca.h"

#ifdef __cplusplus
extern "C" {
#endif

extern sqlca_s sqlca;
extern int32_t SQLCODE;
extern char SQLSTATE[SQLI_SQLSTATE_SIZE];

/* Prints the status report of a WHENEVER STOP to standard error and
** flushes it. Does not end the process. */
void sqli_stop_whenever(void);

#ifdef __cplusplus
}
#endif

#endif
