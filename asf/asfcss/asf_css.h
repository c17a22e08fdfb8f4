/*
** asf_css.h: the association services' side of communication support.
** The connection manager builds the process-wide library context once and
** creates (client) or accepts (server) an association's support context;
** the protocol family and the session layer run every message of that
** association through it and release or abort it at disconnect. The glue
** supplies the I/O methods that carry handshake tokens over the session
** layer and keeps the association's state machine, with which a message
** interrupted by a would-block send is resumed by the caller's retry.
**
** In-memory records in host order and word size. One thread. C linkage.
** Internal to asf.
*/
#ifndef DVZ_ASF_ASF_CSS_H
#define DVZ_ASF_ASF_CSS_H

#include <stdint.h>

#include "asf_al.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "css_records.h"
#include "dvz_csm.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The configuration file under DOVARIZADIR, and the name reported when
** neither variable names a place for it. */
#define ASFCSS_CONFIG_SUFFIX "/etc/concsm.cfg"
#define ASFCSS_CONFIG_NAME "concsm.cfg"

/* Words of the information record a module that checked the client's
** login during accept may fill: the user's ids and home directory (a
** text the module keeps). A home of 0 means none was given. */
#define ASFCSS_INFO_UID 11
#define ASFCSS_INFO_GID 12
#define ASFCSS_INFO_HOME 13

/* States of an association's CSS state. */
enum {
  asfcss_creating = 1,
  asfcss_ready = 2,
  asfcss_process_out = 3,
  asfcss_send_out = 4,
  asfcss_resend = 6,
  asfcss_receive = 7,
  asfcss_process_in = 8,
  asfcss_disconnected = 9,
  asfcss_broken = 10
};

/* Call-again marks. */
enum { asfcss_mark_none = 0, asfcss_mark_recv_more = 1, asfcss_mark_process_again = 2 };

/* Enabled directions. */
enum { asfcss_send_enabled = 1, asfcss_recv_enabled = 2 };

/* Send statuses of the argument block. */
enum { asfcss_send_failed = 1, asfcss_sent = 2, asfcss_blocked = 3 };

/* The argument block of the glue's I/O methods. */
typedef struct asfcss_ioarg {
  int32_t status; /* asfcss_send_failed, asfcss_sent, asfcss_blocked */
  int32_t size; /* bytes left of a blocked send */
  int32_t pos; /* offset in the buffer where a blocked send goes on */
  asfsvcctl *ctl; /* the caller's control record of the running service */
} asfcss_ioarg;

/* An association's CSS state, hung in its protocol-family block. */
typedef struct asfcssctx {
  cssctx *css; /* the support context; null once released */
  uint32_t enabled; /* asfcss_send_enabled | asfcss_recv_enabled */
  int32_t mark; /* asfcss_mark_* */
  int32_t state; /* asfcss_* */
  int32_t pending; /* 1: input is already waiting inside the module */
  char *msgbuff; /* buff and lbuff of the message being processed */
  int32_t msglbuff;
  csm_buffer *held; /* output being sent, handed back once it went out */
  rscbufctl *received; /* the session's record being processed */
  csm_buffer *delivered; /* the last input output handed to the caller */
  rscbufctl container; /* what the caller receives */
  css_io_methods io; /* {&arg, asf_css_done, asf_css_recv, asf_css_send} */
  asfcss_ioarg arg;
  rscbufctl wrap; /* the caller-owned record a send goes out in (type -2) */
} asfcssctx;

/* The process-wide library context, null until built. Written by
** asf_css_init and asf_css_terminate only. */
extern csslibctx *asf_css_libctx;

/* ---- Library context. ---- */

/* Builds the library context from RARODAZIRAVAVIDOZ's path, else
** DOVARIZADIR's /etc/concsm.cfg. 0, or -1 with the status in ctl (-14574
** and the path, or "concsm.cfg" when neither variable is set). */
int asf_css_init(asfsvcctl *ctl);
/* asf_css_init when no library context exists yet. 0 or -1. */
int asf_css_init_once(asfsvcctl *ctl);
/* Deletes the library context (none: 0). 0, or -1 with the status in ctl
** when ctl is given. */
int asf_css_terminate(asfsvcctl *ctl);

/* ---- The information record. ---- */

/* Fills info from the caller's information values v2 to v10 (words 0, 3,
** 1, 4, 7, 5, 8, 9, 10; words 2 and 6 and the rest 0; the last word the
** import vector). */
void set_asf_csm_info(csm_conn_info *info, uintptr_t v2, uintptr_t v3, uintptr_t v4, uintptr_t v5,
                      uintptr_t v6, uintptr_t v7, uintptr_t v8, uintptr_t v9, uintptr_t v10);

/* ---- Contexts. ---- */

/* Creates ctl's association's support context (client handshake) with the
** information values v2 to v10, the csm specification spec, the caller's
** argument and the caller's information-record buffer info. 0, or -1 with
** the status in ctl: -25546 no association, -25563 info missing, -28081
** no spec, -28082 a context existed (it is dropped), -406, or the
** support's. A failure leaves no context. */
int asf_css_create_context(asfsvcctl *ctl, uintptr_t v2, uintptr_t v3, uintptr_t v4, uintptr_t v5,
                           uintptr_t v6, uintptr_t v7, uintptr_t v8, uintptr_t v9, uintptr_t v10,
                           const char *spec, void *caller_arg, csm_conn_info *info);
/* The same with the server handshake; v5 must be given (-25563). */
int asf_css_accept_context(asfsvcctl *ctl, uintptr_t v2, uintptr_t v3, uintptr_t v4, uintptr_t v5,
                           uintptr_t v6, uintptr_t v7, uintptr_t v8, uintptr_t v9, uintptr_t v10,
                           const char *spec, csm_conn_info *info);
/* Runs msg through the context and sends the result. 0; or -1 with the
** status: 6 when the send would block (call again with the same msg),
** -25563, -28083, -28084 (another message after a block: the context is
** broken), -28086, -28087, the support's or the transport's. */
int asf_css_process_out_message(asfsvcctl *ctl, rscbufctl *msg);
/* Receives the next message through the context into *out (the context's
** container, valid until the next receive). 0, or -1 with the status. */
int asf_css_process_in_message(asfsvcctl *ctl, rscbufctl **out);
/* Orderly close of the context (state 2 or 9). 0, or -1 with the status;
** a failure leaves the context broken. */
int asf_css_release_context(asfsvcctl *ctl);
/* Abortive close: frees the association's CSS state whatever the module
** says. 0 (a module failure is still reported in ctl). */
int asf_css_abort_context(asfsvcctl *ctl);
/* Hands buffer back to the support (direction 0 input, 1 output). 0 or -1. */
int asf_css_buffer_done(asfsvcctl *ctl, csm_buffer *buffer, int direction);
/* Registers buf back as the association's send buffer. 0 or -1. */
int asf_css_free_send_buffer(asfsvcctl *ctl, rscbufctl *buf);
/* 0 when a context exists; -1 with -28083 when not, -25563 without
** association. */
int asf_css_free_recv_buffer(asfsvcctl *ctl, rscbufctl *buf);

/* ---- I/O methods handed to the support. ---- */

/* Marks a returned buffer empty: 1, or -1 for a missing argument. */
int asf_css_done(void *arg, csm_buffer *buffer);
/* Receives one piece from the session layer into *buffer: 0 or -1. */
int asf_css_recv(void *arg, csm_buffer **buffer);
/* Sends buffer over the session layer: the bytes sent (so far), or -1. */
int asf_css_send(void *arg, csm_buffer *buffer);

/* ---- Predicates. ---- */
int is_css_library_initialized(void);
int is_css_context_established(const asfsvcctl *ctl);
int is_css_processing_requested(const NSEntry *entry);
int is_css_send_enabled(const asfsvcctl *ctl);
int is_css_recv_enabled(const asfsvcctl *ctl);
/* 1 while a send that would block waits for the caller's retry: the
** message the support took is empty then, and must still go to it. */
int is_css_send_blocked(const asfsvcctl *ctl);
/* The entry's csm specification, or null. */
const char *get_csm_conn_spec(const NSEntry *entry);

/* Reports err into ctl: asfcode its code, oserr its further word, errstr
** its parameter (at most 256 bytes). Returns -1. */
int asf_css_err(asfsvcctl *ctl, const css_errblk *err);

/* The association's CSS state slot in its protocol-family block, or null
** when the association has no such block. */
asfcssctx **asf_css_slot(const asfsvcctl *ctl);

#ifdef __cplusplus
}
#endif

#endif
