/*
** cm_records.h: the connection manager's entry points, client side. The
** service call (service_call.cpp) calls them for init, terminate, connect,
** release, abort and attributes; they call the name service for the
** candidate entries and the protocol family for each attempt.
**
** The connect shares the caller's budget among the entries on a
** monotonic clock of whole seconds. Tests replace the clock (os_clock)
** and, through cm_attempt_override, the attempt and its abort.
** In-memory records in host order. One thread. C linkage.
*/
#ifndef DVZ_ASF_CM_RECORDS_H
#define DVZ_ASF_CM_RECORDS_H

#include <stdint.h>
#include <time.h>

#include "asf_al.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "pf_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Failure numbers of the connection manager. */
#define CM_ERR_CLOCK (-25566) /* the clock failed or went backwards */
#define CM_ERR_NOENTRY (-329) /* the name service found no server entry */
#define CM_ERR_NOPASSWORD (-952) /* a user name without a password */
#define CM_ERR_NORESPONSE ASF_ERR_NOUSER /* an "ol", "on" or "se" server sent no response */
#define CM_ERR_NOCWD (-922) /* the current directory cannot be read */

/* Budget of a connect whose control record gives a negative timeout. */
#define CM_DEFAULT_TIMEOUT_MS 80000
/* Shortest deadline of one attempt, in seconds. */
#define CM_MIN_ATTEMPT_SECONDS 1

/* Outcome classes of a failed attempt. */
enum { cm_class_success = 0, cm_class_giveup = 1, cm_class_retry = 2, cm_class_next = 3 };

/* Request words of the connect the connection manager reads. */
enum {
  cm_word_namekind = 2, /* name-request kind */
  cm_word_nametext = 3, /* name-request text */
  cm_word_retries = 4, /* retry count (i32) */
  cm_word_assoc = 13 /* out: the new association */
};

/* Test seam: the attempt and its abort. Production calls pfConReq and
** pfDiscon; a test puts a table of its own here and takes it away. */
typedef struct cm_attempt_seam {
  int (*connect)(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req, asfprocinfo *procinfo,
                 asfprocinfo *procinfo_out, Assocctl *shared);
  int (*discon)(asfsvcctl *ctl, int code, asfsvcreq *req);
} cm_attempt_seam;
extern const cm_attempt_seam *cm_attempt_override;

/* With init flag 16 fills the global process information. 0, or -1 with
** asfcode -25563 (no request), -25557 (no global block) or getPInfo's. */
int cmInit(asfsvcctl *ctl, asfsvcreq *req);
/* Frees the global process information's strings. 0, or -1 (-25557). */
int cmTerm(asfsvcctl *ctl);
/* The connect request of ctl's association (req: the service's request
** record). 0, or -1 with the status in ctl (negative error, or 7 with
** the server's error in oserr). */
int cmConReq(asfsvcctl *ctl, asfsvcreq *req);
/* The synchronous walk over reg's entries from start with budget seconds;
** always frees reg. 0 or -1 as cmConReq. */
int cmReqSync(asfsvcctl *ctl, asfsvcreq *req, NSReg *reg, time_t start, int budget);
/* Release (code 9) or abort (code 10) of ctl's association, then its
** connection-manager records are freed (not after a failed release).
** The protocol family's result. */
int cmDiscon(asfsvcctl *ctl, int code, asfsvcreq *req);
/* Attribute sub-code req word 1; value in or out in req word 2. 0 or -1
** (-25563 no request, -25546 no valid association, or pfAttrib's). */
int cmAttrib(asfsvcctl *ctl, asfsvcreq *req);
/* Initialises the connection-manager area of al from the asynchronous
** state on. */
void cmApictlInit(alctl *al);
/* Fills info (its three texts new copies): 0, -406, -922 or -25557. */
int getPInfo(asfprocinfo *info);
/* Stores 0 in *tid; returns 0. */
int getTid(int32_t *tid);
/* The connect clock in whole seconds into *out (when not null) and as
** result; (time_t)-1 when the clock fails. */
time_t sysTime(time_t *out);
/* The time of the next entry: *now the current time, *entrytime
** ceil(left / entries), *trytime ceil(entrytime / retries), where left is
** what remains of budget since start; both 0 when retries, entries or
** budget is below 1. 0, -25557 (null outputs) or -25566 (clock). */
int setConTime(time_t start, int budget, int retries, int entries, time_t *now, int *entrytime,
               int *trytime);
/* Class of ctl's failed attempt for an entry started at entrystart with
** entrytime and trytime: a retriable failure retries only when the pause
** would end inside the entry's time. 0, or -25566 with class 1. */
int chkConErr(asfsvcctl *ctl, time_t entrystart, int entrytime, int trytime, int *klass);

#ifdef __cplusplus
}
#endif

#endif
