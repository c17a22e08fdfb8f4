/*
** sqli_fastpath.h: fast-path calls of server routines. A program asks the
** server for a routine's handle by the routine's signature
** (`_sqgetroutine`), optionally with the function-parameter block that
** describes the routine, then runs the routine by its handle with input
** host variables and receives its return values into output host
** variables (`_sqfastpath`). Both run on the current connection and leave
** their outcome in `sqlca` (sqli_status.h). Also the encoders of the
** fast-path messages (101, 102, 104), which write into the current
** connection's send buffer.
**
** In-memory records in host order; they never leave the process. C linkage.
*/
#ifndef DVZ_SQLI_FASTPATH_H
#define DVZ_SQLI_FASTPATH_H

#include <stdint.h>

#include "sqli_descriptors.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sqli_tcb;

/* The marker of a function-parameter block that a reply has filled. */
enum { SQLI_FPARAM_MARKER = 22523 };

/* One entry of a function-parameter block's lists. The last three fields
** come only from a server with capability 0x8; they are zero otherwise.
** Their meaning is the server's. */
typedef struct sqli_fparam_entry {
  int16_t word16;
  int32_t word32;
  int32_t ext32;
  int16_t ext16a;
  int16_t ext16b;
} sqli_fparam_entry;

/* The function-parameter block: owned by the program, filled by the
** server's description of a routine. Its lists are allocated by the
** runtime and belong to the program (freed with free); `_sqfastpath` with
** the block releases them when its reply refreshes the block, and a
** failed fill leaves none behind. */
typedef struct sqli_fparam {
  int32_t marker; /* SQLI_FPARAM_MARKER once filled */
  int32_t first; /* sent back with every fast-path call */
  int32_t second; /* sent back with every fast-path call */
  int16_t second_count;
  sqli_fparam_entry *second_entries;
  unsigned char *second_bytes; /* one per entry */
  int16_t first_count;
  sqli_fparam_entry *first_entries;
  unsigned char *first_bytes; /* one per entry */
  uint8_t flag; /* sent back with every fast-path call */
  int32_t third;
  int32_t fourth;
  int32_t fifth;
} sqli_fparam;

/* A list of host variables: count entries of vars. */
typedef struct sqli_fplist {
  int16_t count;
  sqlvar_struct *vars;
} sqli_fplist;

/*
** Asks the server for the handle of the routine of signature (a
** terminated text). With block, the routine's function-parameter block is
** asked for too and copied there; without one nothing of the caller's is
** touched but *handle. context null: the process context. Handles are not
** cached: every call asks the server.
** Returns SQLCODE (-1 when no context can be had): -1803 without a
** current connection, -406, -460 for a signature above 65535 bytes (no
** message written), a conversion error, or the server's error.
*/
int _sqgetroutine(const char *signature, sqli_fparam *block, int32_t *handle,
                  struct sqli_tcb *context);
/*
** Runs the routine of handle with the values of input (count entries, may
** be null) and delivers its return values into output. With block, the
** block's first and second word and flag byte go with the call and the
** server's answer refreshes them (its lists are released). Returns
** SQLCODE: -1803, -406, -254 when the server returns another number of
** values than output holds, -402 for an output variable without data,
** -1818 for a collection value into a variable of another kind, a bind
** list's error, or the server's error.
*/
int _sqfastpath(int32_t handle, const sqli_fplist *input, const sqli_fplist *output,
                sqli_fparam *block, struct sqli_tcb *context);

/* Message 101: the signature (converted to the database code set) as
** lbuf and wanted (1 or 0). Returns 0, or the error recorded (-460, a
** conversion error) with nothing written. */
int _sqs_getroutine(const char *signature, int wanted, struct sqli_tcb *context);
/* Message 102's header: handle, the input count and the block flag. */
void _sqs_exfproutine(int32_t handle, int count, int block_flag, struct sqli_tcb *context);
/* Message 104: the block's first word as INT8, its second word and flag
** byte (no pad). Nothing without a block. Returns 0, or the INT8
** conversion error recorded. */
int _sqs_fparam(const sqli_fparam *block, struct sqli_tcb *context);

#ifdef __cplusplus
}
#endif

#endif
