/*
** sqli_wire.h: the wire primitives of the embedded-SQL runtime and the
** buffered message I/O beneath them. Every request and reply field goes
** through these, big-endian and unaligned, into the send buffer the
** association services lend (service 16) and out of the buffers they hand
** over (service 7). A value may straddle two buffers: _iwrite and _iread
** flush and refill transparently.
**
** Failures of the association services are recorded in sqlca with the
** status, the operating-system error and the message text of the
** connection's control record; the primitives return nothing, so callers
** learn of a failure from SQLCODE after the request. A failed send drops
** the rest of the request; a failed receive makes every later read of the
** same request deliver 0xFF bytes.
**
** Callers: the request encoders and reply readers of the runtime, through
** the current connection's pipe_vbles. C linkage.
*/
#ifndef DVZ_SQLI_WIRE_H
#define DVZ_SQLI_WIRE_H

#include <stdint.h>

#include "os_stored.h"
#include "sqli_pipe_vbles.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sqli_tcb;

/* ---- Byte level --------------------------------------------------------------------- */

/* Copies n bytes into the send buffer, sending it whenever it is full.
** After a failed send the rest of the request is dropped. */
void _iwrite(const void *bytes, int n, pipe_vbles *pipe);
/* Copies n bytes out of the received buffers, receiving the next one
** whenever the current one is used up. After a failed receive the rest
** is 0xFF bytes. */
void _iread(void *destination, int n, pipe_vbles *pipe);
/* Sends the written bytes and borrows a new send buffer. Returns 0, or -1
** (the failure recorded; the record is then marked broken). */
int _iflushbuff(pipe_vbles *pipe);
/* Resets the record for a new connection, keeping a held send buffer.
** Returns 0, or -1 when no send buffer could be borrowed. */
int initpipevbles(pipe_vbles *pipe);
/* The free bytes left in the send buffer. */
int _iget_outcnt(pipe_vbles *pipe);

/* ---- Association-service wrappers (services 16, 6, 7, 17) -------------------------- */

/* Each returns 0, or -1 with the failure recorded; a time-out (status 6)
** of asf_send and asf_recv returns -1 without recording. */
int asf_sendballoc(pipe_vbles *pipe);
int asf_send(pipe_vbles *pipe);
int asf_recv(pipe_vbles *pipe);
int asf_recvbfree(pipe_vbles *pipe);

/* Runs the connection's break callback with status (0, 1 or 2), stores
** status in *last and arms the next wait with the callback interval. */
void call_callback(int status, int *last, pipe_vbles *pipe);

/* ---- Integers, floats and numbers --------------------------------------------------- */

void _iputbyte(int value, pipe_vbles *pipe); /* 1 byte */
int _igetbyte(pipe_vbles *pipe); /* 0-255 */
void _iputint(int value, pipe_vbles *pipe); /* low 16 bits */
int _igetint(pipe_vbles *pipe); /* signed 16 bits */
void _iputunsigned(unsigned value, pipe_vbles *pipe); /* low 16 bits */
int _igetunsigned(pipe_vbles *pipe); /* 0-65535 */
void _iputlong(int32_t value, pipe_vbles *pipe); /* 4 bytes */
int32_t _igetlong(pipe_vbles *pipe);
/* 8 bytes: the 32-bit value and four zero filler bytes (ignored on read). */
void _iputpptr(int32_t value, pipe_vbles *pipe);
int32_t _igetpptr(pipe_vbles *pipe);
/* 10 bytes: the stored form of an INT8. */
void _iputint8(const dvz_int8_t *value, pipe_vbles *pipe);
void _igetint8(dvz_int8_t *value, pipe_vbles *pipe);
/* SMALLFLOAT (4 bytes) and FLOAT (8 bytes), big-endian IEEE; the
** connection's float format is passed on to the value library. */
void _iputfloat(double value, pipe_vbles *pipe);
double _igetfloat(pipe_vbles *pipe);
void _iputdbl(double value, pipe_vbles *pipe);
double _igetdbl(pipe_vbles *pipe);
/* DECIMAL: 2-byte length n (digit pairs + 1), n packed bytes, pad when n
** is odd. */
void _iputdecimal(const dec_t *value, pipe_vbles *pipe);
/* Reads a DECIMAL into value. Returns the length read: 65535 (no value;
** value untouched), or above 20 (a protocol error, -408 recorded unless an
** error already is; value untouched). */
int _igetdecimal(dec_t *value, pipe_vbles *pipe);

/* ---- Byte strings and records ------------------------------------------------------- */

/* 2-byte length n, n bytes, pad when n is odd. */
void _iputlbuf(const char *bytes, int n, pipe_vbles *pipe);
/* n bytes and a pad when n is odd (the length known to both sides). */
void _iputpbuf(const char *bytes, int n, pipe_vbles *pipe);
void _igetpbuf(char *bytes, int n, pipe_vbles *pipe);
/* n bytes, no pad. */
void _iputbuf(const char *bytes, int n, pipe_vbles *pipe);
void _igetbuf(char *bytes, int n, pipe_vbles *pipe);
/* The 56-byte blob descriptor. */
void _iputblob(const tblob_desc_t *desc, pipe_vbles *pipe);
void _igetblob(tblob_desc_t *desc, pipe_vbles *pipe);
/* A collection or row value in the stored form of the value library
** (names of 128 bytes with the connection's long identifiers, else 18),
** and a pad when its length word is odd. */
void _iputcollection(const dvz_coll_t *value, pipe_vbles *pipe);
/* One zero byte written / one byte skipped. */
void _iputpad(pipe_vbles *pipe);
void _igetpad(pipe_vbles *pipe);

/* ---- Skips -------------------------------------------------------------------------- */

void _igoblchars(int n, pipe_vbles *pipe); /* n bytes and the pad of an odd n */
void _igoblints(int n, pipe_vbles *pipe); /* n 2-byte integers */
void _igoblint8s(int n, pipe_vbles *pipe); /* n INT8 values */
void _igobltblob(pipe_vbles *pipe); /* one blob descriptor */
/* n bytes, no pad (none for n <= 0); stops at a failed receive, after
** which every read gives 0xFF bytes anyway. */
void sqli_skip_raw(int64_t n, pipe_vbles *pipe);
/* Skips count blob transfers (chunks of code 39, ended by a zero length).
** Returns 0, or -1 on another message code. */
int _igoblblobs(int count, pipe_vbles *pipe);

/* ---- Back end ----------------------------------------------------------------------- */

/* The fork flag and the back-end marks are the OS context's
** (get_forkflag, set_forkflag, killbackend in os_context.h). */
/* Returns tcb. */
struct sqli_tcb *bebackend(struct sqli_tcb *tcb);

#ifdef __cplusplus
}
#endif

#endif
