/*
** pipe_driver.h: the pipe driver's records and entries, shared by the
** driver (pipe_driver.cpp), the protocol switch (asf/tl) and the tests.
** The client forks the back-end program with two pipes as its standard
** input and output; a back-end program accepts the association on them.
**
** In-memory records in host order. The hand-over image of pipectl
** (savepip, restpip) is 16 bytes: read and write descriptor, the other
** side's pid and the empty-read count, host order, field by field.
** One thread; the SIGCHLD reaper and the back-end's SIGTERM handler are
** the only code that runs between the main flow's statements.
*/
#ifndef DVZ_ASF_NET_PIPE_DRIVER_H
#define DVZ_ASF_NET_PIPE_DRIVER_H

#include <stdint.h>

#include "asf_al.h"
#include "asf_errors.h"
#include "asf_pipe.h"
#include "tl_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PIPE_ERR_WRITE ASF_ERR_WRITE /* pipe write failed */
#define PIPE_ERR_READ ASF_ERR_READ /* pipe read failed, or the back-end has gone */
#define PIPE_ERR_UNSUPPORTED ASF_ERR_UNSUPPORTED /* operation not supported */

/* Size of pipectl's hand-over image. */
#define PIPECTL_IMAGE_SIZE 16
/* Buffer size of every pipe association. */
#define PIPE_BUFSIZE 4096
/* Consecutive empty polled reads after which the other side counts as
** gone (one 10 ms wait at exactly this count). */
#define PIPE_EMPTY_READS 513
/* Connect-packet bit of the driver block's word2 (back-end side): the
** connect packet has still to be read. */
#define PIPE_CONPKT_PENDING 2u

/* The driver's private block. pidfd (in memory only) is the client's
** handle on the back-end it started, taken at fork; -1 on the back-end
** side or when the kernel gave none. */
typedef struct pipectl {
  int32_t rfd; /* read descriptor: the child's standard output on the client side */
  int32_t wfd; /* write descriptor: the child's standard input */
  int32_t pid; /* the other side: the child, or the parent on the back-end side */
  int32_t nempty; /* consecutive empty reads */
  int32_t pidfd;
} pipectl;

/* The pipe transport address: the program path and its argument vector
** {base name, server name, host, null}. The texts live in the driver's
** process-wide conversion buffer until the next conversion. */
typedef struct pipeaddr {
  char *path;
  char *argv[4];
} pipeaddr;

/* SIGCHLD handling (asfsigstate). */
enum { pipe_sig_none = 0, pipe_sig_reaper = 1, pipe_sig_ignored = 2 };
/* Written by initpip and ASF_SigSwitch; tests put it back to 0. */
extern int asfsigstate;
/* The association (and its driver block) whose expedited receive buffer
** the back-end's SIGTERM handler fills; set by ipcpip_siginit, cleared by
** the disconnect of that block. */
extern Assocctl *pipe_exp_rsc_ptr;
extern drvblock *pipe_exp_netctxp;

/* How an interrupt reaches the back-end, for tests to record: sends sig
** to the process behind pidfd (pid given for reference); 0 or -1. */
typedef struct pipe_signal_seam {
  int (*signal_backend)(int pidfd, int pid, int sig);
} pipe_signal_seam;
extern const pipe_signal_seam pipe_system_signals;
extern const pipe_signal_seam *pipe_signals;

/* The last conversion of pipecons2tladdr. */
const pipeaddr *pipe_last_address(void);

/* Number of back-end processes started and not yet reaped. */
int pipe_backends_pending(void);

int initpip(asfsvcctl *ctl, void *initreq, int drvtype, const char *name);
int termpip(asfsvcctl *ctl, void *arg);
int connpip(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl);
int lisnpip(drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *ctl);
int accppip(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl);
int sendpip(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int recvpip(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl);
int soobpip(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int roobpip(drvblock *drv, rscbufctl **out, asfsvcctl *ctl);
int discpip(drvblock *drv, int flags, asfsvcctl *ctl);
int savepip(drvblock *drv, void *arena, asfsvcctl *ctl);
int restpip(drvblock *drv, void *arena, asfsvcctl *ctl);
int attrpip(drvblock *drv, void *attr);
int waitpip(drvblock *drv, void *arg, asfsvcctl *ctl);
int pipecons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *drv);
int pipetladdr2cons(const tladdr *addr, tlpeeraddr **slot, drvblock *drv, asfsvcctl *ctl);
int ipcpip_siginit(Assocctl *assoc, drvblock *drv);
void ipcpip_sighand(int sig);
void p_waitforchild(int sig);

#ifdef __cplusplus
}
#endif

#endif
