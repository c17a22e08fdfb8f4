/*
** pf_records.h: the SQLI protocol family's block and entry points, client
** side. The connection manager calls them for one candidate server entry
** (connect) and for the data, interrupt, release and abort services; the
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
  pf_state_connected = 20,
  pf_state_closed = 50,
  pf_state_saved = 60,
  pf_state_failed = 100
};

/* Defaults a connect fills in. */
#define PF_DEFAULT_LEVEL 61
#define PF_DEFAULT_VERSION 1

/* Status of an entry that asks for communication support, which is not
** available yet: no library context. */
#define PF_ERR_NOCSS (-14571)
/* Status of an accept of a server type "ol", "on" or "se" that carried no
** status record. */
#define PF_ERR_NOSTATUS ASF_ERR_NOUSER

/* The protocol-family block, followed in the same allocation by the
** session block. */
typedef struct pfblock {
  int32_t state; /* pf_state_* */
  int32_t level; /* level in force after the connect; -1 raw transport */
  int32_t kind; /* connect kind of the request's pfconkind, -1 none */
  uintptr_t unused[12];
  ascpairs pairs; /* the connect pairs used */
  pfdatafmt fmt; /* the peer's data format */
  int32_t last; /* 0 when made */
} pfblock;

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
** sent) or a response of no known form, -14571 for an entry that asks
** for communication support, or what the session or transport layer
** left. A failed attempt leaves its blocks for pfDiscon with code 10. */
int pfConReq(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req, asfprocinfo *procinfo,
             asfprocinfo *procinfo_out, Assocctl *shared);

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

#ifdef __cplusplus
}
#endif

#endif
