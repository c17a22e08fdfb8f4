/*
** asf_call.h: the one entry point of the association services. A caller
** fills a control record (asf_svcctl.h) and a request record
** (asf_records.h), puts a service code in request word 0 (ASF_Init does
** it and clears the code's argument block) and calls ASF_Call, which runs
** the service to its end and leaves the outcome in the control record.
**
** Callers: the embedded-SQL runtime and the tests. C linkage.
*/
#ifndef DVZ_ASF_CALL_H
#define DVZ_ASF_CALL_H

#include <stdint.h>

#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Service codes (request word 0). */
enum {
  asf_svc_init = 0,
  asf_svc_listen = 1,
  asf_svc_directory = 2,
  asf_svc_connect = 3,
  asf_svc_indication = 4,
  asf_svc_response = 5,
  asf_svc_send = 6,
  asf_svc_receive = 7,
  asf_svc_resync = 8,
  asf_svc_release = 9,
  asf_svc_abort = 10,
  asf_svc_wait = 11,
  asf_svc_attribute = 12,
  asf_svc_term = 13,
  asf_svc_alloc = 14,
  asf_svc_free = 15,
  asf_svc_sendbuf = 16,
  asf_svc_recvbuf_free = 17,
  asf_svc_verify = 20
};
#define ASF_SVC_MAX 20

/* Init request word 1: first initialisation of the process. */
#define ASF_INIT_FIRST 16u
/* Request word 1 of connect, listen and indication: the association uses
** its lock. */
#define ASF_REQ_LOCKED 0x10000u
/* Abort flags the runtime passes in abort word 1. */
#define ASF_ABORT_PASS 0x8000u

/* Positive statuses of asfcode besides 1 (running). */
enum {
  asf_status_running = 1,
  asf_status_aborted = 2,
  asf_status_again = 6,
  asf_status_rejected = 7,
  asf_status_buffers = 8,
  asf_status_muxreject = 10
};

/* Association states. */
enum {
  asf_state_new = 0,
  asf_state_open = 1,
  asf_state_pending = 2,
  asf_state_unused = 3,
  asf_state_aborting = 4,
  asf_state_releasing = 5,
  asf_state_released = 6,
  asf_state_aborted = 7,
  asf_state_failed = 8
};

/* Runs the service of req's word 0 with ctl.
** Returns 0 on success, -1 on failure with the status in ctl->asfcode (and
** oserr, errstr); -1 without touching anything but asfcode (-25563) when
** ctl or req is null. */
int ASF_Call(asfsvcctl *ctl, asfsvcreq *req);

/* Clears the argument block of code in req and stores the code.
** Returns 0, or -1 (codes 18, 19 and above 20, or a null req) with req
** untouched. */
int ASF_Init(int code, asfsvcreq *req);

/* Frees a name-service registry with its entries' strings. */
void ASF_FreeNSReg(NSReg *reg);

#ifdef __cplusplus
}
#endif

#endif
