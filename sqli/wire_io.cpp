/*
** Buffered message I/O of a connection: the send buffer lent by the
** association services (service 16) is filled by _iwrite and handed back
** full (service 6) by _iflushbuff; _iread takes bytes from the buffers the
** services hand over (service 7). The asf_* wrappers are the only callers
** of the association services here, through the runtime's seam.
**
** Invariants a change must keep:
** - no write goes past the lent buffer: after a failed send the record is
**   marked broken, its room is 0 and further writes are dropped until
**   initpipevbles resets it;
** - a failed receive is recorded once: later reads of the same request
**   deliver 0xFF bytes without calling the services, until the next
**   request is sent;
** - a positive association status is never recorded as success: any
**   other than 1 and 6 is recorded as its negative, and 6 (time-out) is
**   never an error here but drives the break callback.
*/
#include <algorithm>
#include <cstring>

#include "asf_call.h"
#include "os_context.h"
#include "os_trace.h"
#include "sqli_asf.h"
#include "sqli_context.h"
#include "sqli_seams.h"
#include "sqli_wire.h"

namespace {

void record_failure(pipe_vbles *pipe) {
  const asfsvcctl &ctl = pipe->svcctl;
  _iqset2err(sqli_asf_status(ctl.asfcode), ctl.oserr, ctl.errstr);
}

/* A service without arguments on the connection's control record. */
int call_service(pipe_vbles *pipe, asfsvcreq &req, int code) {
  ASF_Init(code, &req);
  return sqli_asf->call(&pipe->svcctl, &req);
}

/* A break callback runs only while a request is in progress. */
bool callback_armed(const pipe_vbles *pipe) {
  return pipe->conn != nullptr && pipe->conn->callback != nullptr &&
         pipe->request_active != nullptr && *pipe->request_active != 0;
}

void maybe_callback(int status, int *last, pipe_vbles *pipe) {
  if (callback_armed(pipe)) call_callback(status, last, pipe);
}

/* Marks the OS context: the read from the server failed. */
void mark_read_failed(pipe_vbles *pipe) {
  ostcb_t *os = pipe->ostcb != nullptr ? pipe->ostcb : CheckOsInit();
  if (os != nullptr) os->read_failed = 1;
}

/* Marks the record so that nothing more of this request is written. */
void mark_broken(pipe_vbles *pipe) {
  pipe->send_broken = 1;
  pipe->outleft = 0;
}

}  // namespace

/* Service 16: the send buffer on loan becomes the record's. 0, or -1 with
** the failure recorded and no buffer held. */
int asf_sendballoc(pipe_vbles *pipe) {
  asfsvcreq req {};
  if (call_service(pipe, req, asf_svc_sendbuf) == 0 && req.word[2] != 0) {
    auto *buf = reinterpret_cast<rscbufctl *>(req.word[2]);
    pipe->sendbuf = buf;
    pipe->outbase = reinterpret_cast<unsigned char *>(buf->p);
    pipe->outleft = std::max<int32_t>(buf->size, 0);
    return 0;
  }
  if (pipe->svcctl.asfcode != asf_status_again) record_failure(pipe);
  pipe->sendbuf = nullptr;
  pipe->outbase = nullptr;
  pipe->outleft = 0;
  return -1;
}

/* Service 6 with the bytes from the unsent start to the write position.
** 0; -1 on a time-out (the unsent start moved to where the services
** stopped; nothing recorded); -1 with the failure recorded otherwise. */
int asf_send(pipe_vbles *pipe) {
  asfsvcreq req {};
  ASF_Init(asf_svc_send, &req);
  asf_req_set_half(&req, 2, -1);
  req.word[3] = reinterpret_cast<uintptr_t>(pipe->sendbuf);
  if (pipe->sendbuf != nullptr)
    pipe->sendbuf->size = static_cast<int32_t>(pipe->outptr - pipe->unsent);
  if (sqli_asf->call(&pipe->svcctl, &req) == 0) {
    pipe->recv_failed = 0;
    return 0;
  }
  if (pipe->svcctl.asfcode == asf_status_again) {
    if (pipe->sendbuf != nullptr)
      pipe->unsent = reinterpret_cast<unsigned char *>(pipe->sendbuf->p);
    return -1;
  }
  record_failure(pipe);
  return -1;
}

/* Service 7: the received buffer becomes the record's. 0; -1 on a
** time-out without recording; -1 with the failure recorded otherwise. */
int asf_recv(pipe_vbles *pipe) {
  asfsvcreq req {};
  ASF_Init(asf_svc_receive, &req);
  asf_req_set_half(&req, 2, -1);
  if (sqli_asf->call(&pipe->svcctl, &req) == 0 && req.word[3] != 0) {
    auto *buf = reinterpret_cast<rscbufctl *>(req.word[3]);
    pipe->recvbuf = buf;
    pipe->inbase = reinterpret_cast<unsigned char *>(buf->p);
    pipe->inleft = std::max<int32_t>(buf->size, 0);
    return 0;
  }
  if (pipe->svcctl.asfcode == asf_status_again) return -1;
  record_failure(pipe);
  return -1;
}

/* Service 17 for the buffer held, if any; it is no longer the record's.
** 0, or -1 with the failure recorded. */
int asf_recvbfree(pipe_vbles *pipe) {
  if (pipe->recvbuf == nullptr) return 0;
  asfsvcreq req {};
  ASF_Init(asf_svc_recvbuf_free, &req);
  req.word[2] = reinterpret_cast<uintptr_t>(pipe->recvbuf);
  pipe->recvbuf = nullptr;
  pipe->inbase = pipe->trace_inbase = pipe->inptr = nullptr;
  pipe->inleft = 0;
  if (sqli_asf->call(&pipe->svcctl, &req) == 0) return 0;
  record_failure(pipe);
  return -1;
}

void call_callback(int status, int *last, pipe_vbles *pipe) {
  sqli_conn *conn = pipe->conn;
  if (conn->callback_params != 0)
    /* Installed with parameters: the function takes the argument too. */
    reinterpret_cast<void (*)(int, void *)>(reinterpret_cast<void (*)()>(conn->callback))(
        status, conn->callback_arg);
  else
    conn->callback(status);
  if (last != nullptr) *last = status;
  pipe->svcctl.timeout = conn->callback_interval;
}

/*
** Hands the written bytes to the services and borrows the next buffer.
** A time-out drives the break callback and sends again. Returns 0, or -1
** when the send or the borrowing failed (recorded; the record is then
** broken and takes no more bytes).
*/
int _iflushbuff(pipe_vbles *pipe) {
  if (pipe->send_broken != 0) return -1;
  if (_sqdbg != 0 && pipe->outptr > pipe->unsent)
    dump_write_buffer(reinterpret_cast<const char *>(pipe->unsent),
                      static_cast<int>(pipe->outptr - pipe->unsent), pipe->ostcb,
                      pipe->svcctl.ascid);
  int last = 0;
  maybe_callback(1, &last, pipe);
  int result;
  for (;;) {
    if (asf_send(pipe) == 0) {
      result = asf_sendballoc(pipe);
      pipe->unsent = pipe->outptr = pipe->outbase;
      break;
    }
    if (pipe->svcctl.asfcode != asf_status_again) {
      result = -1;
      break;
    }
    maybe_callback(2, &last, pipe);
    pipe->svcctl.asfcode = 0;
  }
  if (result != 0) mark_broken(pipe);
  maybe_callback(0, &last, pipe);
  pipe->svcctl.timeout = -1;
  return result;
}

void _iwrite(const void *bytes, int n, pipe_vbles *pipe) {
  const auto *from = static_cast<const unsigned char *>(bytes);
  if (n > 0 && n <= pipe->outleft && pipe->send_broken == 0) { /* the common case: it fits */
    std::memcpy(pipe->outptr, from, static_cast<size_t>(n));
    pipe->outptr += n;
    pipe->outleft -= n;
    return;
  }
  while (n > 0 && pipe->send_broken == 0) {
    if (pipe->outleft < 1 && _iflushbuff(pipe) != 0) return;
    if (pipe->outleft < 1) { /* a lent buffer without room cannot take the request */
      mark_broken(pipe);
      return;
    }
    const int chunk = std::min(n, static_cast<int>(pipe->outleft));
    std::memcpy(pipe->outptr, from, static_cast<size_t>(chunk));
    pipe->outptr += chunk;
    pipe->outleft -= chunk;
    from += chunk;
    n -= chunk;
  }
}

void _iread(void *destination, int n, pipe_vbles *pipe) {
  auto *to = static_cast<unsigned char *>(destination);
  if (n > 0 && n <= pipe->inleft && pipe->recv_failed == 0) { /* the common case: it is there */
    std::memcpy(to, pipe->inptr, static_cast<size_t>(n));
    pipe->inptr += n;
    pipe->inleft -= n;
    pipe->svcctl.timeout = -1;
    return;
  }
  int last = 0;
  bool waited = false;
  while (n > 0 && pipe->recv_failed == 0) {
    if (pipe->inleft <= 0) {
      if (!waited) maybe_callback(1, &last, pipe);
      waited = true;
      int got;
      while ((got = asf_recv(pipe)) != 0 && pipe->svcctl.asfcode == asf_status_again) {
        maybe_callback(2, &last, pipe);
        pipe->svcctl.asfcode = 0;
      }
      if (got != 0) {
        pipe->recv_failed = 1;
        mark_read_failed(pipe);
        maybe_callback(0, &last, pipe);
        break;
      }
      pipe->inptr = pipe->trace_inbase = pipe->inbase;
      if (_sqdbg != 0)
        dump_read_buffer(pipe->inleft, reinterpret_cast<const char *>(pipe->inbase), pipe->ostcb,
                         pipe->svcctl.ascid);
      maybe_callback(0, &last, pipe);
      continue;
    }
    const int chunk = std::min(n, static_cast<int>(pipe->inleft));
    std::memcpy(to, pipe->inptr, static_cast<size_t>(chunk));
    pipe->inptr += chunk;
    pipe->inleft -= chunk;
    to += chunk;
    n -= chunk;
  }
  if (n > 0) std::memset(to, 0xFF, static_cast<size_t>(n));
  pipe->svcctl.timeout = -1;
}

int initpipevbles(pipe_vbles *pipe) {
  pipe->svcctl.flags = asf_flag_sync;
  pipe->svcctl.timeout = -1;
  pipe->inbase = pipe->trace_inbase = pipe->inptr = nullptr;
  pipe->recvbuf = nullptr;
  pipe->inleft = 0;
  pipe->send_broken = 0;
  pipe->recv_failed = 0;
  int result = 0;
  if (pipe->sendbuf == nullptr) result = asf_sendballoc(pipe);
  pipe->unsent = pipe->outptr = pipe->outbase;
  return result;
}

int _iget_outcnt(pipe_vbles *pipe) { return pipe->outleft; }

sqli_tcb *bebackend(sqli_tcb *tcb) { return tcb; }
