/*
** asf_svcctl.h: the caller's control record of a service call
** (`asfsvcctl`). The caller zeroes it, sets `flags` to 1 and `timeout` to
** -1 (or the connect time), and for a service on an existing association
** sets `ascid`; the call leaves its outcome in `asfcode`, `oserr` and
** `errstr`. The runtime keeps one inside each connection's I/O record
** (sqli_pipe_vbles.h), where the protocol trace reads the association id.
**
** An in-memory record in host order; it never leaves the process.
** Header-only, C linkage; the association services own the operations.
*/
#ifndef DVZ_ASF_SVCCTL_H
#define DVZ_ASF_SVCCTL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of errstr, the message parameter of a failure. */
#define ASF_ERRSTR_SIZE 428

/* Bits of flags. */
enum { asf_flag_sync = 0x1, asf_flag_async = 0x2 };

typedef struct asfsvcctl {
  int32_t asfcode; /* 1 running, 0 success, a negative error or a positive status */
  int32_t oserr; /* errno of the failure, 0 when none */
  char errstr[ASF_ERRSTR_SIZE]; /* message parameter, NUL-terminated, may be empty */
  void *ascid; /* the association (its record's address), opaque; 0 for a new one */
  uint32_t flags; /* asf_flag_* bits; other bits are kept */
  int32_t timeout; /* milliseconds allowed, -1 for no limit */
  void (*asyncfunc)(struct asfsvcctl *ctl, void *request); /* never called: calls are synchronous */
  uint32_t asyncid; /* the caller's own value */
} asfsvcctl;

#ifdef __cplusplus
}
#endif

#endif
