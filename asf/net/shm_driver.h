/*
** shm_driver.h: the shared-memory driver's records, the layouts of the
** structures it shares with the server, and its entries. Used by the
** driver (shm_driver.cpp), the protocol switch (asf/tl) and the tests.
**
** The server owns every shared structure; the client finds them through
** the rendezvous file and the segment header. Shared structures are in
** the machine's native byte order (both sides run on the same host), at
** the fixed offsets below, read and written field by field. Every address
** is the pool's base plus an offset checked so that the whole structure
** lies inside the pool; the 32-bit "client address" words of the layout
** are written for form's sake and never read back as pointers.
** One thread.
*/
#ifndef DVZ_ASF_NET_SHM_DRIVER_H
#define DVZ_ASF_NET_SHM_DRIVER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <time.h>

#include "asf_al.h"
#include "asf_errors.h"
#include "tl_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SHM_ERR_SEND ASF_ERR_WRITE /* no held send buffer, or not the one handed out */
#define SHM_ERR_RECV ASF_ERR_READ /* receive failed: semaphore, server ended, buffer held */
#define SHM_ERR_UNSUPPORTED ASF_ERR_UNSUPPORTED /* operation not supported */
#define SHM_STATUS_AGAIN 6 /* positive: no message ready */

/* ---- Rendezvous file: a 4-byte count, then count records. ---- */
#define SM_REND_COUNT_SIZE 4
#define SM_REND_SIZE 36
/* Longest server name in a rendezvous path. */
#define SM_NAME_MAX 15
/* Largest rendezvous file read (bytes). */
#define SM_REND_FILE_MAX (SM_REND_COUNT_SIZE + SM_REND_SIZE * 4096)

typedef struct sm_rendrec {
  int32_t shmid; /* first segment of the pool */
  int32_t alert_semid, alert_semnum; /* the server's alert semaphore */
  int32_t lock_semid, lock_semnum; /* the slot-allocation lock */
  int32_t bitmap_off; /* offset of the slot bitmap */
  int32_t nslots; /* bits in the bitmap */
  int32_t slots_off; /* offset of the slot array */
  uint32_t srvaddr; /* where the server attached the first segment */
} sm_rendrec;

/* The count of a rendezvous image (len bytes): 0 with *count, or -962
** when the count is unreadable or negative, or the image is shorter than
** the count says. */
int shm_rend_count(const uint8_t *image, size_t len, int32_t *count);
/* Record index of the image into *rec: 0, or -962 when it lies beyond. */
int shm_rend_record(const uint8_t *image, size_t len, int32_t index, sm_rendrec *rec);

/* ---- Segment header (start of the first segment). ---- */
#define SM_HDR_MAGIC 0 /* i16, SM_MAGIC */
#define SM_HDR_VERSION 2 /* i16, SM_VERSION */
#define SM_HDR_IDS 8 /* further segment ids, ended by a negative one */
#define SM_HDR_MAXIDS 128
#define SM_HDR_TOTAL 520 /* total size of the pool */
#define SM_HDR_SEGSIZE 524 /* size of one segment */
#define SM_HDR_SIZE 528
#define SM_MAGIC (-8009)
#define SM_VERSION 3

/* ---- Client slot (508 bytes). ---- */
#define SM_SLOT_SIZE 508
#define SM_SLOT_RECVTAB 4 /* 10 sm_bufent */
#define SM_SLOT_SENDTAB 164 /* 10 sm_bufent */
#define SM_SLOT_REQUEST 324 /* send buffers requested */
#define SM_SLOT_RELFLAG 328 /* 1: receive buffers released */
#define SM_SLOT_NRECV 332 /* i16 */
#define SM_SLOT_NGRANT 334 /* i16 */
#define SM_SLOT_NMIN 336 /* i16 */
#define SM_SLOT_HELDRECV 342 /* i16, -1 none */
#define SM_SLOT_HELDSEND 344 /* i16, -1 none */
#define SM_SLOT_RECVIDX 348 /* i16, read index of the receive ring */
#define SM_SLOT_NEXTSEND 350 /* i16, next send candidate */
#define SM_SLOT_RELGEN 356 /* i16 */
#define SM_SLOT_NRETURNED 358 /* signed byte */
#define SM_SLOT_SENDSEQ 360
#define SM_SLOT_SHMID 364
#define SM_SLOT_WAITSEMID 368
#define SM_SLOT_WAITSEMNUM 372
#define SM_SLOT_ALERTSEMID 376
#define SM_SLOT_ALERTSEMNUM 380
#define SM_SLOT_ALERTOFF 392
#define SM_SLOT_ALERTADDR 396
#define SM_SLOT_SENDRING 400 /* 11 words */
#define SM_SLOT_RECVRING 444 /* 10 words, -1 empty */
#define SM_SLOT_STATE 488 /* signed byte */
#define SM_SLOT_PID 492
#define SM_SLOT_EXPBYTE 496
#define SM_SLOT_COUNTOFF 500
#define SM_SLOT_COUNTADDR 504

#define SM_NBUF 10 /* entries of each buffer table and of the receive ring */
#define SM_SENDRING_LEN 11

/* Slot states. */
enum {
  sm_state_connected = 0,
  sm_state_accepted = 1,
  sm_state_requested = 2,
  sm_state_ended = 6,
  sm_state_disconnecting = 8,
  sm_state_claimed = 9
};

/* ---- Buffer-table entry (16 bytes). ---- */
#define SM_BUFENT_SIZE 16
#define SM_BUFENT_ID 0
#define SM_BUFENT_STATE 4
#define SM_BUFENT_OFFSET 8
#define SM_BUFENT_ADDR 12
enum { sm_buf_free = 0, sm_buf_held = 1, sm_buf_returned = 2, sm_buf_notice = 6 };

/* ---- Shared buffer: header and 1024 data bytes. ---- */
#define SM_BUFHDR_SIZE 20
#define SM_BUFHDR_STATUS 4
#define SM_BUFHDR_RELEASE 8
#define SM_BUFHDR_SEQ 12
#define SM_BUFHDR_LENGTH 16
#define SM_BUFDATA 1024
#define SM_BUF_SIZE (SM_BUFHDR_SIZE + SM_BUFDATA)

/* Alert-flag bytes and kinds; the counter block's raised word. */
#define SM_ALERT_SIZE 3
enum { sm_alert_data = 0, sm_alert_control = 1, sm_alert_connect = 2 };
#define SM_COUNTER_SIZE 8
#define SM_COUNTER_WORD 4

/* Default attach base and the limit of every attach range. */
#define SM_DEFAULT_BASE 0x800000u
#define SM_ADDR_LIMIT 0x100000000ull

/* ---- Process-wide segment table. ---- */
#define SM_SEGTAB_ROWS 10
typedef struct sm_segrow {
  int32_t shmid; /* -1: free row */
  uint8_t *addr;
  uint32_t size; /* total size of the pool, within the mapped segments */
  uint32_t segsize; /* size of one segment, checked against the segment's own */
  int32_t nsegs; /* segments attached behind addr, detached at the end */
} sm_segrow;

/* ---- The driver's private record. ---- */
#define NETSCB_TAG 17
typedef struct netscb {
  int32_t tag; /* NETSCB_TAG */
  uint8_t *slot; /* the claimed sm_clslot; null once detached */
  int32_t sendidx; /* write index of the send ring, 0-10 */
  char *fallback; /* private 1024-byte block, allocated on first need */
  uint8_t *alert; /* the server's alert-flag bytes */
  uint8_t *counter; /* the server's alert-counter block */
} netscb;

/* The system calls of the driver, behind one table so that tests and fuzz
** targets can watch or replace them. shm_ipc starts at shm_system_ipc; a
** test sets it before the code under test runs and puts it back. */
typedef struct shm_ipc_seam {
  void *(*shmat)(int shmid, const void *addr, int flags);
  int (*shmdt)(const void *addr);
  int (*shmstat)(int shmid, struct shmid_ds *ds);
  int (*semtimedop)(int semid, struct sembuf *ops, size_t nops, const struct timespec *limit);
  int (*semsetval)(int semid, int semnum, int value);
  /* 1 when the process pid exists and is not a zombie. */
  int (*alive)(int pid);
} shm_ipc_seam;
extern const shm_ipc_seam shm_system_ipc;
extern const shm_ipc_seam *shm_ipc;

/* Process-wide state. */
extern int _shmconnected;
extern sm_segrow sm_segtab[SM_SEGTAB_ROWS];
extern int segtab_init;
extern int32_t sm_lastgen;
extern int32_t sm_pending;

/* The attach base that env (DOVARIZASHMBASE's value, null when unset)
** gives for a record attached by the server at recaddr: 0 with *base, or
** -962 when the base is 0 or not below 4 GiB. */
int shm_attach_base(const char *env, uint32_t recaddr, uintptr_t *base);

/* ---- Internal steps (exposed for tests and fuzz targets). ---- */

/* The address of offset in the pool of segment shmid for a structure of
** size bytes: 0 with *out, or -962 (no row, offset past the row, or the
** structure not wholly inside the pool). */
int net_sm_find_addr(int32_t shmid, int64_t offset, int64_t size, uint8_t **out);
/* Attaches the pool whose first segment is shmid at addr: 0, or -1 when
** the header is damaged or claims more than the segments really hold (their
** sizes come from the system, never from the pool). */
int net_sm_attachseg(int32_t shmid, uintptr_t addr);
/* Detaches every pool and empties the table: 0, or -1. */
int net_sm_detachsegs(void);
/* Tries record rec for pid, waiting for the pool's lock until deadline
** (ms on the layer's clock, -1 none: then only while the server lives):
** the slot index claimed, or -1 (errno ETIMEDOUT when the deadline
** passed). */
int shm_try_record(const sm_rendrec *rec, uintptr_t base, int pid, int64_t deadline);
/* Finds the server name and claims a slot into scb before deadline (as
** for shm_try_record): 0, -2 (no rendezvous file) or -962. */
int net_sm_init(netscb *scb, const char *name, int64_t deadline);
/* Resolves the alert-flag bytes and counter block of scb's slot: 0 or -962. */
int shm_resolve_alerts(netscb *scb);
/* Waits by mode (0 receive, 1 send buffer, 2 disconnect acknowledgement,
** 3 connect answer, 5 receive without blocking) until deadline (ms on the
** layer's clock, -1 none). The index found (modes 0, 1, 5) or a value of 0
** or more; -1 the state byte is 6 or not 0 where it must be; -99 nothing
** ready (mode 5) or the deadline passed; -2 the server is gone; -962 a
** semaphore failure or a value out of bounds. */
int buf_wait(netscb *scb, int mode, int wanted, int64_t deadline);
/* Asks for send buffers: the request written, or -1. */
int buf_request(netscb *scb, int wanted);
/* Posts the server: the semop's result. */
int alert_server(netscb *scb, int32_t bufid, int kind);
/* A send buffer's data area into *out: 0, or -962 with the fallback. */
int net_sm_get_buf(netscb *scb, char **out, int wanted);
/* Releases the held receive buffer: 0 or -962. */
int net_sm_free_buf(netscb *scb);
netscb *netscb_alloc(void);
void netscb_cleanup(netscb *scb);

/* ---- Entries. ---- */
int initshm(asfsvcctl *ctl, void *initreq, int drvtype, const char *name);
int termshm(asfsvcctl *ctl, void *arg);
int connshm(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl);
int lisnshm(drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *ctl);
int accpshm(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl);
int sendshm(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int recvshm(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl);
int soobshm(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int roobshm(drvblock *drv, rscbufctl **out, asfsvcctl *ctl);
int discshm(drvblock *drv, int flags, asfsvcctl *ctl);
int saveshm(drvblock *drv, void *arena, asfsvcctl *ctl);
int restshm(drvblock *drv, void *arena, asfsvcctl *ctl);
int attrshm(drvblock *drv, void *attr);
int waitshm(drvblock *drv, void *arg, asfsvcctl *ctl);
int shmcons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *drv);
int shmtladdr2cons(const tladdr *addr, tlpeeraddr **slot, drvblock *drv, asfsvcctl *ctl);

#ifdef __cplusplus
}
#endif

#endif
