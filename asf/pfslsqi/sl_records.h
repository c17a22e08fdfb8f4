/*
** sl_records.h: the SQLI session layer's records and entry points, shared
** by the layer (session_layer.cpp), the protocol family above it and the
** association layer, which sizes the session block from `slsession`.
**
** The 6-byte session header (`sqipci` keeps it in memory) crosses the
** network: it is read and written byte by byte, big-endian, never copied
** as a record. Everything else is in-memory, host order and word size.
** One thread: the locks and the condition do nothing.
**
** Connect, data, interrupt, release and abort, with several sessions
** multiplexed over one transport connection. Data that arrives for
** another session of the connection is read whole and queued for it in
** the shared record; that session's next receive delivers it.
**
** Listening side (sl_listen.cpp): listen, the indication (accept and read
** the connect request), the response, and the multiplexing listener: a
** multiplexed connect that arrives on an accepted connection is read
** whole and queued for the association listening on "sqlmux", whose next
** indication takes it as a further session of that connection.
*/
#ifndef DVZ_ASF_SL_RECORDS_H
#define DVZ_ASF_SL_RECORDS_H

#include <stdint.h>

#include "asf_al.h"
#include "asf_call.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "tl_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Statuses of the layer. ---- */

#define SL_ERR_STATE ASF_ERR_STATE /* operation not allowed in the session's state */
#define SL_ERR_BUFREG ASF_ERR_NOBUFFER /* a buffer registration is missing */
#define SL_ERR_COMMON ASF_ERR_COMMON /* shared-record set-up, unknown completion state */
#define SL_ERR_OWNERSHIP ASF_ERR_ARGUMENT /* ownership inconsistency */
#define SL_ERR_BADTYPE ASF_ERR_PROTOCOL /* unexpected message type in a data receive */
#define SL_STATUS_REJECTED 7 /* the server rejected the connect */
#define SL_STATUS_MUXREJECT 10 /* the server rejected a multiplexed connect */

/* ---- Session header. ---- */

#define SL_HEADER_SIZE 6
/* Longest connect response, header included. */
#define SL_MAX_RESPONSE 2056
/* Sessions a connection carries (multiplexing ids 0 to 63). */
#define SL_MAX_SESSIONS 64

/* Header types. */
enum {
  sl_type_connect = 1,
  sl_type_accept = 2,
  sl_type_reject = 3,
  sl_type_data = 6,
  sl_type_oldaccept = 8, /* made locally from an old-protocol reply */
  sl_type_oldreject = 9,
  sl_type_muxconnect = 10,
  sl_type_muxaccept = 11,
  sl_type_muxreject = 12
};

/* Flag bit of a connect or accept: headers and multiplexing wanted/agreed. */
#define SL_FLAG_MUX 128u

/* A header in memory: the raw bytes gathered so far and the fields. */
typedef struct sqipci {
  int32_t gathered; /* header bytes gathered, 0 to 6 */
  uint8_t raw[SL_HEADER_SIZE];
  int32_t length; /* whole message, header included: unsigned 16 bits on the wire */
  uint8_t type;
  uint8_t flag;
  int32_t id; /* unsigned 16 bits on the wire */
} sqipci;

/* ---- Shared session record. ---- */

/* A data message read for a session while another one was receiving. */
typedef struct slqueued {
  struct slqueued *next;
  int32_t length; /* bytes of data */
  char *data; /* the bytes, in the same allocation after the record */
} slqueued;

/* One of the four contexts of a connection. */
typedef struct slcontext {
  dvzOS_mutex_t lock;
  sqipci hdr;
  rscbufctl *buf; /* receive: the transport buffer being read */
  Assocctl *owner;
  Assocctl *prevowner;
} slcontext;

typedef struct slcommon {
  int32_t level; /* level in force (0 for the old protocol) */
  int32_t srvlevel; /* level of the server's accept */
  int32_t count; /* sessions on the connection */
  dvzOS_mutex_t ctl_lock; /* "slcommon_ctl" */
  Assocctl *assoc[SL_MAX_SESSIONS]; /* by multiplexing id */
  int32_t waitstate[SL_MAX_SESSIONS]; /* 0 none, 1 waiting, 2 killed */
  char *addrtext; /* copy of the transport address text (owned) */
  slcontext send, recv, xsend, xrecv;
  uintptr_t word;
  /* Data read for other sessions, by multiplexing id, oldest first. */
  slqueued *queue[SL_MAX_SESSIONS];
  /* A message for another session being read: its id and the record
  ** filled so far (filled bytes in fwdhave). */
  int32_t fwdid;
  slqueued *fwdmsg;
  int32_t fwdhave;
} slcommon;

/* ---- Session record. ---- */

/* Session flags. */
enum {
  SL_HEADERS = 1, /* headers on data messages */
  SL_MUXED = 2, /* multiplexed */
  SL_OPENED = 4 /* opened by this side's connect request */
};

/* Request forms. */
enum { sl_form_text = 256, sl_form_binary = 512 };

typedef struct slsession {
  int32_t state;
  /* First working area, cleared after each completed exchange. */
  void (*hook)(asfsvcctl *, void *); /* the caller's completion hook */
  rscbufctl *request; /* the connect request being sent */
  int32_t sent; /* its bytes sent */
  uintptr_t kept; /* kept across clearing */
  int32_t form; /* sl_form_* */
  /* Second working area. */
  void (*hook2)(asfsvcctl *, void *);
  rscbufctl **response; /* where the response record goes */
  uintptr_t word2;
  dvzOS_cond_t cond; /* kept across clearing */
  rscbufctl delivered; /* the message slSQIrecv hands out */
  int32_t oldform; /* 1, 2 or 4 */
  uintptr_t area3[4], area4[4]; /* cleared, not used */
  slcommon *common;
  int32_t muxid;
  uint8_t flags; /* SL_* */
  int32_t listen_timeout; /* ms */
  /* In memory only. */
  int64_t deadline; /* end of the connect attempt, ms on the transport
                       layer's clock; -1 none */
  slqueued *given; /* queued message last delivered: freed at the next receive */
} slsession;
/* Size of the session block, allocated behind the protocol-family block. */
#define SL_BLOCK_SIZE ((uint32_t)sizeof(slsession))

/* Session states. */
enum {
  sl_state_listening = 1,
  sl_state_connect = 10,
  sl_state_sending = 11,
  sl_state_reading = 12,
  sl_state_rejected = 13,
  sl_state_indication = 15, /* listening side: indication being prepared */
  sl_state_accepted = 16, /* connection accepted, request being read */
  sl_state_request = 17, /* connect request received */
  sl_state_responding = 18, /* response being sent */
  sl_state_connected = 20,
  sl_state_releasing = 40,
  sl_state_closed = 50,
  sl_state_failed = 100
};

/* Value record of attribute code 9. */
typedef struct slmuxattr {
  int32_t *count; /* the shared record's session count; null without a connection */
  uint8_t *flags; /* the session flags */
} slmuxattr;

/* Abort code of slSQIdiscon; SL_DISC_PASS is ignored except that an abort
** gives the transport the whole flags word. */
#define SL_DISC_ABORT 10
#define SL_DISC_PASS 32768

/* ---- Multiplexing listener. ---- */

/* A multiplexed connect queued for the listener: its header, its body
** (a buffer record with its own area, owned), the association of the
** connection it arrived on, and the next entry. */
typedef struct muxmsg {
  sqipci hdr;
  rscbufctl *buf;
  Assocctl *assoc;
  struct muxmsg *next;
} muxmsg;

/* One per association listening on "sqlmux", listed from the global
** control block's muxlist. */
typedef struct slglobal {
  dvzOS_mutex_t lock; /* "slglobal_lock" */
  dvzOS_cond_t cond; /* "muxcon_available" */
  muxmsg *head, *tail;
  Assocctl *listener;
  struct slglobal *next;
} slglobal;

/* Listen flags the session layer takes. */
enum { sl_listen_plain = 0, sl_listen_dynamic = 3, sl_listen_16 = 16 };
/* Listen timeout without DVZ_LISTEN_TIMEOUT, ms. */
#define SL_LISTEN_TIMEOUT_MS 60000
/* Read after a reject without a caller's timeout, ms. */
#define SL_REJECT_LINGER_MS 1000

/* ---- Entry points. ---- */

/* Mode 1 writes hdr in front of buf's data (needs 6 bytes of room between
** the allocation and the data start); mode 2 gathers header bytes from
** buf into hdr, continuing an earlier call. 0 when done; -1 when there is
** no room, the header is still incomplete, or mode is neither. */
int slSQIpci(int mode, rscbufctl *buf, sqipci *hdr);
/* Turns the first bytes of an old-protocol reply (in hdr; gathered: the
** header bytes that came before buf) into a header of type 8 or 9 (or
** type 0, an error for the caller), giving bytes back to buf's body.
** 0 when recognised; -1 when more bytes must be read. */
int resp50pci(slsession *session, sqipci *hdr, int gathered, rscbufctl *buf);
int slSQIinit(void);
int slSQIterm(void);
/* Connects ctl's association: form is the old-reply form with 256 (text)
** or 512 (binary) added; parms the transport request; level the client's;
** request the whole connect request; *response receives the response
** record (caller frees it and its area); shared, when not null, an
** association whose connection to share. ctl's positive timeout is the
** attempt's budget: the response wait ends there with -27001.
** Returns 0 (state 20), or -1 with the status in ctl (7 rejected, 10 a
** multiplexed reject of a connection of its own, a negative error). */
int slSQIreq(asfsvcctl *ctl, int form, tlconnreq *parms, int level, rscbufctl *request,
             rscbufctl **response, Assocctl *shared);
/* Runs the connect to its end. 0, or -1 with the status in ctl. */
int slSQIreqDone(asfsvcctl *ctl);
/* Sends buf (framed when headers are in use). 0, or -1 with the status. */
int slSQIsend(asfsvcctl *ctl, rscbufctl *buf);
/* Receives the next piece of a message for this session into *out (the
** session's delivered record, valid until the next receive). 0, or -1:
** status 6 when nothing came in time (the session stays usable). */
int slSQIrecv(asfsvcctl *ctl, rscbufctl **out);
/* Release (last: a final message, or null) or, with flags 10, abort. */
int slSQIdiscon(asfsvcctl *ctl, int flags, rscbufctl *last);
/* Sends the interrupt byte "B" as expedited data. */
int slSQIresync(asfsvcctl *ctl);
/* Codes 2 and 258: nothing; 9: an slmuxattr into attr->value's record;
** others go to the transport layer. */
int slSQIattrib(asfsvcctl *ctl, tlattr *attr);
/* An empty entry: 0. */
int slSQIrecvpci(void);

/* Listening side. */

/* Starts ctl's association listening on parms' address at level (the
** listen request's): flags 0, 3 or 16 (else -25557). A protocol of
** "sqlmux" makes it the multiplexing listener (no transport); any other
** listens through the transport (tlListen mode 0). The listen timeout is
** DVZ_LISTEN_TIMEOUT seconds, else 60. 0 (state 1), or -1 with the
** status. */
int slSQIlisten(asfsvcctl *ctl, tlconnreq *parms, int flags, int level);
/* Takes the next connection of ctl's listener into newassoc (whose session
** block exists): a transport accept (peer receives its address record),
** or for the multiplexing listener the next queued multiplexed connect.
** Reads the connect request within the listen timeout into *request: a
** new buffer record (caller frees it with its area) of the request
** body, NUL-terminated after size bytes. 0 (newassoc's session in state
** 17), or -1 with the status in ctl: -27001 nothing in time, -408 a
** request of no known form or length, -406 memory, the transport's. */
int slSQIind(asfsvcctl *ctl, Assocctl *newassoc, rscbufctl **request, tlpeeraddr **peer);
/* Sends response on ctl's session (state 17, else -25598) as an accept
** or, when reject, a reject; below level 60 with the old-reply prefix of
** form (1: 0 15 0 15, 2: 0 15, accepts only). 0 (state 20, or after a
** reject 13 on a multiplexed session, else 100 after one more read), or
** -1 with the status (state 100). */
int slSQIrsp(asfsvcctl *ctl, int form, int reject, rscbufctl *response);

#ifdef __cplusplus
}
#endif

#endif
