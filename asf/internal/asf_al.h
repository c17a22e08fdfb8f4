/*
** asf_al.h: the association layer's records and helpers. An association is
** an `Assocctl` record that these helpers allocate and free; its address
** is the association id of `asfsvcctl`. The record holds the association
** layer's block `alctl` (state, queue links, the four service queues), the
** blocks of the lower layers and four buffer slots. One global control
** block per process holds the three association queues, the initialisation
** parameters and the debug settings.
**
** Shared by every layer of the association services and seen by nothing
** outside them; the helpers are implemented in asf/al (assoc_records.cpp,
** asf_global.cpp, ns_records.cpp). In-memory records in host order and
** word size. One thread: the lock operations do nothing. C linkage.
*/
#ifndef DVZ_ASF_AL_H
#define DVZ_ASF_AL_H

#include <stdint.h>
#include <stdio.h>

#include "asf_call.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "os_wrappers.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The two magic words of a valid association. */
#define ASF_ASSOC_MAGIC 0x41534652u /* "ASFR" */
#define ASF_ASSOC_MAGIC2 0x52415346u /* "RASF" */

/* Association kinds. */
enum { asf_kind_requester = 1, asf_kind_accepted = 2, asf_kind_listener = 3 };

/* Buffer slot selectors (bits). A transport driver's selectors carry
** asf_buf_driver, which the slots do not look at. */
enum { asf_buf_send = 1, asf_buf_recv = 2, asf_buf_exp = 4, asf_buf_driver = 8, asf_buf_peek = 16 };
/* The selectors of the four slots a transport driver lends and takes. */
enum {
  asf_sel_send = asf_buf_send | asf_buf_driver,
  asf_sel_recv = asf_buf_recv | asf_buf_driver,
  asf_sel_xsend = asf_buf_send | asf_buf_exp,
  asf_sel_xrecv = asf_buf_recv | asf_buf_exp
};

/* Protocol-family state while the protocol-family and session blocks exist. */
#define ASF_PF_ALLOCATED 16u
/* Bytes kept in front of a send buffer's data for the session header. */
#define ASF_HEADER_ROOM 6u

/* A service-queue entry: the caller's records and the working copy of the
** control record on which the service runs. */
typedef struct SrvcQ {
  asfsvcctl *ctl; /* the caller's control record */
  asfsvcreq *req; /* the caller's request record */
  asfsvcctl wctl; /* working copy */
  int32_t busy; /* 1 while a call of this queue is outstanding */
} SrvcQ;

/* Process information. */
typedef struct asfprocinfo {
  int32_t word0; /* not set here */
  int32_t pid; /* process id */
  int32_t word2; /* 0 */
  char *host; /* host name */
  char *tty; /* terminal name */
  char *cwd; /* current directory */
  int32_t uid;
  int32_t gid;
} asfprocinfo;

/* The connection manager's area of an association. */
typedef struct asfcmarea {
  void *connparms; /* connect-parameter record */
  void *reqrsp; /* the server's response, or the client's request */
  void *envlist; /* the client's environment list (accepted association) */
  NSEntry *svrentry; /* server entry: a copy, or the listener's */
  uintptr_t async[8]; /* asynchronous connect state, never used */
  void *savedcb; /* saved callback */
  uint32_t authmode; /* listener's authentication mode */
  int32_t level; /* protocol level agreed with the peer */
  asfprocinfo peer; /* the peer's process information */
  int32_t peeruid; /* the peer's user id */
  int32_t peergid; /* the peer's group id */
  char *peertext; /* the peer's login name or home */
} asfcmarea;

struct Assocctl;

/* Service queues of an association. */
#define ASF_SERVICE_QUEUES 4

/* The association layer's block. */
typedef struct alctl {
  int32_t kind; /* asf_kind_* */
  int32_t state; /* association state 0-8 */
  char name1[8]; /* restored from a hand-over */
  char name2[8];
  struct Assocctl *prev; /* previous association in its queue */
  struct Assocctl *next; /* next association in its queue */
  struct Assocctl *parent; /* requester under an accepted association: that one */
  struct Assocctl *children; /* accepted association: first requester under it */
  int32_t nchildren; /* number of those requesters */
  char *statusbyte; /* the caller's status byte */
  asfcmarea cm; /* connection manager's area */
  SrvcQ svcq[ASF_SERVICE_QUEUES];
  asfsvcreq abortreq; /* abort deferred until the running call ends */
  asfsvcctl abortctl; /* its control record */
} alctl;

/* The association record. */
typedef struct Assocctl {
  uint32_t magic; /* ASF_ASSOC_MAGIC while valid, 0 after freeing */
  int32_t kind; /* asf_kind_* */
  uint32_t pfstate; /* ASF_PF_ALLOCATED while the pf and session blocks exist */
  uint32_t flags; /* 16: the association's lock is used */
  char ownstatus[12]; /* status-byte area when the caller gives none */
  char *statusarea; /* status-byte area the lower layers see; byte 1 expedited data */
  alctl *al; /* the association-layer block below */
  uint32_t alsize;
  void *pfblock; /* protocol-family block, followed by the session block */
  uint32_t pfsize;
  void *slblock; /* session-layer block */
  uint32_t slsize;
  void *tlblock; /* transport block, own or shared */
  uint32_t tlsize;
  void *tldrv; /* driver block inside the transport block, once connected,
                  listening, accepted or restored */
  const void *tlops; /* the operation vector inside that driver block */
  dvzOS_mutex_t lock; /* "asf_assoc" */
  char pfname[8]; /* protocol-family name */
  char pfname2[8]; /* second name */
  uint32_t headroom; /* ASF_HEADER_ROOM */
  rscbufctl *rcvbuf; /* received message buffer */
  rscbufctl *sndbuf; /* current send buffer */
  rscbufctl *xrcvbuf; /* received expedited buffer */
  rscbufctl *xsndbuf; /* expedited send buffer */
  uint32_t magic2; /* ASF_ASSOC_MAGIC2 while valid */
  alctl alblock; /* the association-layer block */
} Assocctl;

/* Debug categories and options. */
enum { asf_dbg_error = 1, asf_dbg_conn = 2, asf_dbg_other = 4, asf_dbg_svc = 16, asf_dbg_all = 23 };
enum { asf_dbgopt_line = 2, asf_dbgopt_time = 4 };

/* The global control block. */
typedef struct ASFGLBCTL {
  uint32_t terminated; /* 1 after termination; 0 after a hand-over was taken over */
  Assocctl *reqq; /* requester queue */
  Assocctl *lsnq; /* listener queue */
  Assocctl *accq; /* accepted queue */
  uint32_t initflags; /* init request word 1 */
  uint32_t parm5, parm6; /* init request words 5 and 6 */
  uint32_t reserved; /* 0 */
  uint32_t parm10, parm11; /* init request words 10 and 11 */
  dvzOS_mutex_t lock; /* "asf_global" */
  int32_t nreq, nacc, nlsn; /* counts of the three queues */
  uint32_t parm12[5]; /* init request words 12 to 16 */
  void *muxlist; /* multiplexed connections, the session layer's */
  void *prottab; /* protocol table, the transport layer's */
  uint32_t dbgcat; /* asf_dbg_* */
  uint32_t dbgopt; /* asf_dbgopt_* */
  FILE *dbgfile; /* dump stream, or stderr */
  uint32_t initval, initval2; /* init request word 4, twice */
  asfprocinfo procinfo; /* this process's information */
  int32_t nprot; /* init request word 7 */
  void *prot; /* copy of the init request's protocol entries */
} ASFGLBCTL;

/* Size of one protocol entry of the init request, laid out as a connect
** pair: product name (8 bytes), level, protocol name (8 bytes, from offset
** 12), protocol version and one more word. */
#define ASF_PROT_ENTRY_SIZE 28

/* The process's global control block, null before initialisation. Written
** by defineASFCtl and deleteASFCtl only. */
extern ASFGLBCTL *asfglbctl;

/* ---- Associations and layer blocks. ---- */

/* A new association of kind, status byte statusbyte; clears ctl's asfcode
** and oserr. Null with asfcode -406 and oserr 12 when memory is short. */
Assocctl *alCSalloc(asfsvcctl *ctl, int kind, char *statusbyte);
/* Frees assoc and its protocol-family block: 0, -1 when assoc is not a
** valid association, or the first failing step's result. */
int alCSfree(Assocctl *assoc);
/* 1 when assoc names a live association carrying its first magic word. */
int asfValidAssoc(const Assocctl *assoc);
/* 1 when assoc names a live association carrying its second magic word. */
int asfValidAssoc2(const Assocctl *assoc);
/* The association ctl names (its id, unchecked), or null for no record. */
static inline Assocctl *assoc_of(const asfsvcctl *ctl) {
  return ctl != NULL ? (Assocctl *)ctl->ascid : NULL;
}
/* The association ctl names when it is a live one, else null. */
static inline Assocctl *valid_assoc_of(const asfsvcctl *ctl) {
  Assocctl *assoc = assoc_of(ctl);
  return asfValidAssoc(assoc) ? assoc : NULL;
}
/* Makes the protocol-family and session blocks of ctl's association: 0;
** -1 with asfcode -25546 (invalid), -1 (a block exists and reuse is 0),
** -406 with oserr 12 (memory). */
int sqlCSalloc(asfsvcctl *ctl, int reuse, const char *name, const char *name2);
/* Frees the protocol-family block: 0, or -1 for an invalid association. */
int sqlCSfree(Assocctl *assoc);
/* Allocates the transport block of ctl's association: 0, or -1 with
** asfcode -25546 or -406 (oserr 12). */
int tlCSalloc(asfsvcctl *ctl);
/* Frees the transport block: 0, or -1 (invalid association, or none). */
int tlCSfree(Assocctl *assoc);
/* to shares from's transport block: 0, or -1 when from has none. */
int tlCSlink(Assocctl *from, Assocctl *to);

/* ---- Buffers. ---- */

/* Puts buf into the slot of selector when it is empty (a send buffer
** reset first): 0, or -1 (occupied, or neither send nor receive). */
int bufReg(Assocctl *assoc, int selector, rscbufctl *buf);
/* The buffer of the slot into *buf, the slot emptied unless selector has
** the peek bit: 0, or -1 for an empty slot or a bad selector. */
int bufGet(Assocctl *assoc, int selector, rscbufctl **buf);
/* The association's kind (its status-byte area into *status when given),
** or -1 for an invalid association. */
int bufStateGet(Assocctl *assoc, char **status);

/* ---- Failure reports. ---- */

/* Copies text into ctl's message parameter errstr: at most
** ASF_ERRSTR_SIZE - 1 bytes and a NUL, whatever its length (nothing for
** a null text). */
void asf_set_errstr(asfsvcctl *ctl, const char *text);

/* ---- Global control block. ---- */

/* The global control block, or null. */
ASFGLBCTL *getASFGLBCTL(void);
/* Makes and fills the global block from an init request's argument block
** (req words 1 to 16; word 8 the address of the word-7 protocol entries):
** 0, or -406 (ctl's asfcode too). */
int defineASFCtl(asfsvcreq *req, asfsvcctl *ctl);
/* Frees the global block and its protocol entries: 0, or -406. */
int deleteASFCtl(asfsvcctl *ctl);

/* ---- Association queues. ---- */

/* Puts assoc in front of the queue *head and counts it: 0, or -1 when the
** head is neither empty nor a valid association. */
int addAssoc2Q(Assocctl *assoc, Assocctl **nextlink, dvzOS_mutex_t *lock, Assocctl **head,
               int32_t *count);
/* Unlinks assoc from the queue *head; the requesters of an accepted
** association move, in order, to the front of the global requester
** queue: 0, or -1 for an invalid association. */
int delAssocInQ(dvzOS_mutex_t *lock, Assocctl **head, Assocctl *assoc, int32_t *count);

/* ---- Service queues. ---- */

/* The service queue of code in al, or null when the code has none. */
SrvcQ *getSrvcQ(int code, alctl *al);
/* Records ctl and req in q and fills its working copy from ctl. */
void defineSrvcQ(SrvcQ *q, asfsvcreq *req, asfsvcctl *ctl, void (*callback)(asfsvcctl *, void *));

/* ---- Name-service record helpers. ---- */

/* A copy of s, or null (s null, or memory short). */
char *meStrDup(int pool, const char *s);
/* A copy of entry with its six strings copied, or null (nothing leaked). */
NSEntry *dupNSEntry(int pool, const NSEntry *entry);
/* Frees entry's six strings, and entry itself when freeentry. */
void frNSEntry(int pool, NSEntry *entry, int freeentry);

/* ---- Debug set-up. ---- */

/* Reads DOVARIZAASFDBG into the global block: 0, or -1 (no global block,
** a bad letter, or a dump file that cannot be opened). */
int asfDbgSetup(void);

#ifdef __cplusplus
}
#endif

#endif
