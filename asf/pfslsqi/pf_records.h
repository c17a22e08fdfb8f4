/*
** pf_records.h: the SQLI protocol family's block and entry points. The
** connection manager calls them for one candidate server entry (connect),
** for the listening services (listen, indication, bind response, response)
** and for the data, interrupt, release and abort services; the
** association layer sizes the protocol-family block from `pfblock`.
**
** Every entry point takes the caller's whole request record: words are
** numbered as the service calls number them (connect: word 7 the
** `ascbinreq`, 8 the environment list, 9 the `pfrequest`, outputs 10 to 12
** and 14 to 20; send and receive: word 2 the 16-bit flag, word 3 the
** buffer; release: word 2 -1 and word 3 a last message, or nothing; abort:
** word 1 the abort flags). In-memory records in host order and word size.
*/
#ifndef DVZ_ASF_PF_RECORDS_H
#define DVZ_ASF_PF_RECORDS_H

#include <stdint.h>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "tl_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* States of the protocol-family block. */
enum {
  pf_state_listening = 1,
  pf_state_connecting = 10,
  pf_state_bind = 11, /* the server answered 110 */
  pf_state_indication = 12, /* listening side: indication being read */
  pf_state_ind_bindable = 13, /* read from a client of level 61 or more */
  pf_state_binding = 14, /* bind response being sent */
  pf_state_bound = 15, /* bind response sent */
  pf_state_final_sent = 16, /* final response sent after a bind */
  pf_state_ind_read = 17, /* read from an older client or a raw transport */
  pf_state_responding = 18, /* response being sent */
  pf_state_connected = 20,
  pf_state_closed = 50,
  pf_state_saved = 60,
  pf_state_failed = 100
};

/* Defaults a connect fills in. */
#define PF_DEFAULT_LEVEL 61
#define PF_DEFAULT_VERSION 1

/* Status of an accept of a server type "ol", "on" or "se" that carried no
** status record. */
#define PF_ERR_NOSTATUS ASF_ERR_NOUSER

/* The protocol-family block, followed in the same allocation by the
** session block. */
typedef struct pfblock {
  int32_t state; /* pf_state_* */
  int32_t level; /* level in force after the connect; -1 raw transport */
  int32_t kind; /* connect kind of the request's pfconkind, -1 none */
  void *css; /* the association's communication-support state (asfcssctx), or null */
  uintptr_t unused[11];
  ascpairs pairs; /* the connect pairs used */
  pfdatafmt fmt; /* the peer's data format */
  int32_t last; /* 0 when made */
} pfblock;
/* Size of the protocol-family block an association allocates. */
#define PF_BLOCK_SIZE ((uint32_t)sizeof(pfblock))

/* Request words of service 3 the protocol family reads and writes. */
enum {
  pf_word_params = 7, /* ascbinreq * */
  pf_word_envlist = 8, /* evlist_t * */
  pf_word_request = 9, /* pfrequest * */
  pf_word_srvparams = 10, /* out: the server's ascbinreq * */
  pf_word_srvenv = 11, /* out: the server's evlist_t * */
  pf_word_response = 12, /* out: the server's pfrequest * */
  pf_word_pairs = 14 /* out: words 14 to 20, the pairs used (pfPutPairs) */
};

/* Writes pairs into request words 14 to 20, one 32-bit piece of its 28
** bytes per word: product characters 0-3 and 4-7 (the bytes at the start
** of words 14 and 15), level (16), protocol characters (17, 18), version
** (19), the last word (20). The rest of each word is zero. */
void pfPutPairs(asfsvcreq *req, const ascpairs *pairs);
/* Reads request words 14 to 20 back into *pairs. */
void pfGetPairs(const asfsvcreq *req, ascpairs *pairs);

/* Initialise and end the session layer: 0. */
int pfInit(void);
int pfTerm(void);

/* One connect attempt of ctl's association to entry. req is the caller's
** connect request (words 7 to 9 in, 10 to 12 and 14 to 20 out); procinfo
** the process information sent with the request; procinfo_out receives
** the server's (may be null); shared an association whose transport
** connection may be shared, or null. The caller's parameter and request
** records come out unchanged. 0; or -1 with the status in ctl: 7 for a
** reject (the server's error number in oserr, its records still returned
** in words 10 to 12), -408 for a request over 2050 bytes (nothing is
** sent) or a response of no known form, or what the session or transport
** layer left. A bind response (110) leaves the block in state 11 for
** pfConGetResp. A failed attempt leaves its blocks for pfDiscon with code 10. */
int pfConReq(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req, asfprocinfo *procinfo,
             asfprocinfo *procinfo_out, Assocctl *shared);

/* After a connect answered with 110 (state 11): reads the final response
** (code 111), through communication support when the association's
** context receives, into req words 10 to 12 (what the bind response left
** there is freed) and the server's process information into procinfo_out
** (may be null). 0 (state 20); or -1: 7 for a reject (the server's error
** number in oserr, state 100), -408 for another message, -25546 outside
** state 11, or the receive's or the codec's status. */
int pfConGetResp(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo_out);

/* Code 10 aborts (flags from req word 1; req may be null), any other code
** releases (req word 2 -1 and word 3 a last message, or req null). After
** an abort or a successful release the blocks are freed; an abort of an
** association without blocks succeeds, so a second abort is harmless.
** 0 or -1 with the status in ctl. */
int pfDiscon(asfsvcctl *ctl, int code, asfsvcreq *req);

/* Sends req word 3's buffer; req word 2 (16 bits) must be -1. 0 or -1. */
int pfSend(asfsvcctl *ctl, asfsvcreq *req);
/* Receives into req: word 2 becomes -1 and word 3 the buffer, or both 0
** on failure. 0 or -1. */
int pfRecv(asfsvcctl *ctl, asfsvcreq *req);
/* Sends the interrupt. 0 or -1. */
int pfResync(asfsvcctl *ctl);
/* Code 2: the address of the block's pairs into attr->value; code 258:
** nothing; others go to the session layer. 0 or -1. */
int pfAttrib(asfsvcctl *ctl, tlattr *attr);

/* ---- Listening side. ----
** Listen request (service 1): word 1 the listen flags (0, 3 or 16), 4 the
** authentication mode, 5 and 6 the name request, words 7 to 13 the
** connect pairs (pfPutPairsAt: product 7-8, level 9, protocol 10-11,
** version 12, last word 13). Indication request (service 4): word 1 the
** flags, 2 the status byte, 6 the new association; out: 3 the client's
** ascbinreq *, 4 its evlist_t *, 5 its pfrequest *, 7 to 13 the connect
** pairs. Response (service 5) and verify (service 20): word 1 the
** response kind (7 rejects), 7 the ascbinreq whose pairs are answered, 8
** the environment list, 9 the pfrequest, as the connect. */
enum {
  pf_word_lsnflags = 1,
  pf_word_cliparams = 3,
  pf_word_clienv = 4,
  pf_word_clireq = 5,
  pf_word_newassoc = 6,
  pf_word_lsnpairs = 7,
  pf_word_rspkind = 1
};

/* Writes or reads the 28 bytes of pairs as pfPutPairs does, from request
** word first on (first + 6 must be a word of the request). */
void pfPutPairsAt(asfsvcreq *req, int first, const ascpairs *pairs);
void pfGetPairsAt(const asfsvcreq *req, int first, ascpairs *pairs);

/* Level from which a client is offered the bind response. */
#define PF_BIND_LEVEL 61
/* Response kind that rejects; a database list answered with it below
** level 60 goes out as an accept and the session is closed after a pause
** of PF_DBLIST_PAUSE seconds. */
#define PF_RESPONSE_REJECT 7
#define PF_DBLIST_PAUSE 3
/* Host name of a peer whose accepted address has none. */
#define PF_UNKNOWN_HOST "<UNKNOWN-HOST>"

/* Starts listening on entry for ctl's association (state 1); req's pairs
** (words 7 to 13) get the defaults filled in. 0 or -1 (-25557 for listen
** flags other than 0, 3 and 16). */
int pfListen(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req);
/* Takes the next incoming connection of ctl's listening association into
** newassoc and reads its connect request into req's out words (records
** the caller frees with ascFreeParams, ascFreeEnvlist, ascFreeRequest);
** the client's process information into procinfo_out, its host the
** peer's. 0 or -1 with the status in ctl (-408 for a request of no known
** form or length, -27001 when nothing came within the listen timeout);
** after a failure newassoc's blocks wait for pfDiscon with code 10, and
** the listener goes on listening. */
int pfConInd(asfsvcctl *ctl, Assocctl *newassoc, asfsvcreq *req, asfprocinfo *procinfo_out);
/* Answers a client of level 61 or more with the bind response (code 110)
** on ctl's accepted association. 0 or -1 (-25564 for an older client). */
int pfConBind(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo);
/* Sends the connect response of req's kind on ctl's accepted
** association. 0 or -1. */
int pfConRes(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo);

/* ---- Communication support seen from below. ----
** The operations the protocol family and the session layer call on an
** association's communication-support context. The support's association
** glue, a layer above, registers its table before it makes the first
** context; until then no association has one and the table in use answers
** 0 for every test. */
typedef struct pfcssops {
  int (*established)(const asfsvcctl *ctl); /* a context exists */
  int (*send_enabled)(const asfsvcctl *ctl); /* outgoing messages go through it */
  int (*recv_enabled)(const asfsvcctl *ctl); /* incoming messages go through it */
  int (*send_blocked)(const asfsvcctl *ctl); /* a blocked send waits for its message again */
  int (*process_out)(asfsvcctl *ctl, rscbufctl *msg);
  int (*process_in)(asfsvcctl *ctl, rscbufctl **out);
  int (*release)(asfsvcctl *ctl);
  int (*abort)(asfsvcctl *ctl);
  int (*free_send_buffer)(asfsvcctl *ctl, rscbufctl *buf);
} pfcssops;
/* Makes ops the table in use (the glue's, which lives as long as the
** process). */
void pfRegisterCss(const pfcssops *ops);
/* The table in use: the registered one, else one without contexts. */
const pfcssops *pfCss(void);

#ifdef __cplusplus
}
#endif

#endif
