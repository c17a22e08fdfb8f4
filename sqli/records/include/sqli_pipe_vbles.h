/*
** sqli_pipe_vbles.h: a connection's message input and output record
** (`pipe_vbles`): the positions in the send buffer lent by the association
** services and in the last buffer received, the control record of the
** connection's service calls, and the links the buffered I/O needs. It is
** allocated zeroed with its connection and lives as long as it.
**
** The protocol trace of the client environment (os_trace.h) is handed the
** association id of `svcctl` with every traced buffer. The buffer,
** connection and OS-context records are reached
** only through pointers to their struct tags here, so the header needs
** none of their owners.
**
** An in-memory record in host order; it never leaves the process.
** Header-only, C linkage; the runtime owns the operations.
*/
#ifndef DVZ_SQLI_PIPE_VBLES_H
#define DVZ_SQLI_PIPE_VBLES_H

#include <stdint.h>

#include "asf_svcctl.h"

#ifdef __cplusplus
extern "C" {
#endif

struct rscbufctl;
struct sqli_conn;
struct ostcb_t;

typedef struct pipe_vbles {
  int32_t inleft; /* unread bytes in the current received buffer */
  int32_t outleft; /* free bytes left in the send buffer */
  unsigned char *inptr; /* next byte to read */
  unsigned char *outptr; /* next free byte of the send buffer */
  unsigned char *inbase; /* first data byte of the received buffer */
  unsigned char *trace_inbase; /* the same, kept for the protocol trace */
  unsigned char *outbase; /* first data byte of the send buffer */
  unsigned char *unsent; /* first byte not yet handed to the association services */
  asfsvcctl svcctl; /* passed to every service call; ascid is the association */
  struct rscbufctl *sendbuf; /* the send buffer on loan */
  struct rscbufctl *recvbuf; /* the last buffer received */
  struct sqli_conn *conn; /* the owning connection */
  struct ostcb_t *ostcb; /* the process's OS context */
  int16_t *request_active; /* the runtime's request-in-progress flag */
  int32_t float_format; /* the server's float format */
  int32_t send_broken; /* a send failed: writes are dropped until the record is reset */
  int32_t recv_failed; /* a receive failed: reads give 0xFF until the next request is sent */
} pipe_vbles;

#ifdef __cplusplus
}
#endif

#endif
