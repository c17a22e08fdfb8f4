/*
** cm_records.h: the connection manager's entry points. The service call
** (service_call.cpp) calls them for init, terminate, connect, release,
** abort and attributes (connection_manager.cpp) and, on the server side,
** for listen, indication, response and verify (cm_listen.cpp); they call
** the name service for the entries and the protocol family.
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
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "pf_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CM_ERR_NORESPONSE ASF_ERR_NOUSER /* an "ol", "on" or "se" server sent no response */

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

/* ---- Server side (cm_listen.cpp). ---- */

/* Listen authentication modes. */
#define CM_AUTH_NONE 0u /* everyone is accepted */
#define CM_AUTH_PASSWORD 1u /* user and password, or a trusted host */
#define CM_AUTH_CSS 16u /* communication support */
#define CM_AUTH_NOCHECK 0x1000000u /* nothing is checked */

/* Status of a refused login or a failed support start (detail in oserr). */
#define CM_STATUS_REFUSED 8

/* Request words of the listen request the connection manager reads. */
enum {
  cm_word_authmode = 4, /* authentication mode */
  cm_word_lsnkind = 5, /* name-request kind */
  cm_word_lsntext = 6, /* name-request text */
  cm_word_lsnlevel = 9 /* protocol level (i32) */
};

/* Room the caller gives the name-request text of a dynamic listener
** (listen sub-code 3): the address line is written there, without the
** newline that ends it in the listener file. */
#define CM_DYNLINE_SIZE 512

/* Test seam: the protocol family's listening entries and the login check.
** Production calls pfListen, pfConInd, pfConBind, pfConRes and
** _oschkinternet; a test puts a table of its own here and takes it away. */
typedef struct cm_listen_seam {
  int (*listen)(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *req);
  int (*conind)(asfsvcctl *ctl, Assocctl *newassoc, asfsvcreq *req, asfprocinfo *procinfo_out);
  int (*conbind)(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo);
  int (*conres)(asfsvcctl *ctl, asfsvcreq *req, asfprocinfo *procinfo);
  int (*login)(const char *user, const char *password, const char *host, const uint8_t *security,
               int32_t *uid, int32_t *gid, char *home, int check);
} cm_listen_seam;
extern const cm_listen_seam *cm_listen_override;

/* Starts listening for ctl's association (a listener) on the server of
** req's name request (words 5 and 6) with the authentication mode of word
** 4 and the level of word 9. 0; or -1 with asfcode -25563 (bad mode, no
** server name), -25546, the name service's or pfListen's status, the
** entry's omit word, -406, or 8 with the failure in oserr when the entry
** asks for communication support and its library cannot be started. */
int cmListen(asfsvcctl *ctl, asfsvcreq *req);
/* Takes the next connection of ctl's listener into newassoc (an accepted
** association) and checks the client's login (cmIndDone). 0; or -1 with
** asfcode -25563 (flags other than 1), pfConInd's status, or 8 for a
** refused login. */
int cmConInd(asfsvcctl *ctl, Assocctl *newassoc, asfsvcreq *req);
/* Gives newassoc the client's records from req (words 3 to 5, then owned by
** newassoc), the lower of the two levels, the listener's entry and mode,
** and checks the login unless the mode is CM_AUTH_NOCHECK. 0; or -1 with
** asfcode 8, the login error in oserr and the user (-951, -952) or
** "(user@host)" (-956) in errstr, cut to fit; -25546 without a listener. */
int cmIndDone(asfsvcctl *ctl, Assocctl *newassoc, asfsvcreq *req);
/* Checks the login of assoc (an accepted association holding the client's
** connect parameters) in mode: 0, or the login error (also in ctl's
** oserr): -25561 for a mode or user kind that cannot be checked; in mode
** 16 the support context's failure, -25590 when the module did not mark
** the login as checked; or chkInternet's. */
int chkAuth(asfsvcctl *ctl, Assocctl *assoc, uint32_t mode);
/* The login of assoc's client by host and, when check, its password; sets
** the association's peer user id, group id and text. 0, or -951, -952,
** -954, -956, -406 or -1 (this host's name unknown). */
int chkInternet(asfsvcctl *ctl, Assocctl *assoc, int check);
/* The connect response of req's kind (word 1) on ctl's accepted
** association at the level of the pairs of word 7's ascbinreq (the
** association's when there is none or it is below 1). 0; or -1 with
** -25546, -25549 (a level above the association's) or pfConRes's status. */
int cmConRes(asfsvcctl *ctl, asfsvcreq *req);
/* Verifies the login of ctl's accepted association's client by the
** listener's mode (binding the connection first for communication
** support). 0; or -1 with -25546, -25590 (no current user), or 8 with the
** login error in oserr as cmIndDone reports it. */
int cmConVerf(asfsvcctl *ctl, asfsvcreq *req);

#ifdef __cplusplus
}
#endif

#endif
