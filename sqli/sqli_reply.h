/*
** sqli_reply.h: the reply side of a request as the rest of the runtime
** calls it: the reply loop and the protocol-error path.
*/
#ifndef DVZ_SQLI_REPLY_H
#define DVZ_SQLI_REPLY_H

#include "sqli_context.h"

/* Ends the current request and reads its replies into sqlca and cursor
** (a zeroed record when the request concerns none). With defer 1 and
** OPTMSG on, nothing is sent. Returns 0, or -1 with the status recorded. */
int _sqr_messages(sqli_cursor *cursor, int defer, sqli_tcb *tcb);
/* The protocol-error path for an unexpected reply code: records -408
** unless an error is already recorded, and drops the current connection. */
void _sqproterr(sqli_tcb *tcb, int code);

#endif
