/*
** strpipe_driver.h: the STREAMS-pipe driver's record and entries, shared
** by the driver (strpipe_driver.cpp), the protocol switch (asf/tl) and
** the tests. The client opens the stream a server on this machine has
** mounted at <rendezvous directory>/<service>.str and carries one
** transport message per STREAMS message; expedited data is a
** high-priority message. Only the connecting side is built here: listen,
** accept, the expedited receive entry, save and restore are refused.
**
** In-memory records in host order; what crosses to the server is the
** platform STREAMS layer's framing (platform/README.md). One thread.
*/
#ifndef DVZ_ASF_NET_STRPIPE_DRIVER_H
#define DVZ_ASF_NET_STRPIPE_DRIVER_H

#include <stdint.h>

#include "asf_al.h"
#include "streams.h"
#include "tl_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Failure numbers of the STREAMS-pipe driver besides the shared ones
** (-908 TLI_ERR_CONNECT: the stream cannot be opened or is not a stream;
** -25580 ASF_ERR_SYSCALL: putmsg or getmsg failed; -25582
** TLI_ERR_PEERGONE: the server closed; -25591 ASF_ERR_BADADDR; -406). */
#define STRPIPE_ERR_NOBUF ASF_ERR_NOBUFFER /* a receive without a buffer record */
#define STRPIPE_ERR_UNSUPPORTED ASF_ERR_UNSUPPORTED /* operation not supported */

/* Buffer size of a STREAMS-pipe association without a positive sqlhosts
** buffer-size option. */
#define STRPIPE_BUFSIZE 4096
/* Room of the stream path, terminator included: a longer path is refused
** (the server's socket path is shorter still). */
#define STRPIPE_PATH_SIZE 512

/* The driver's private block. */
typedef struct strpipectl {
  int32_t fd; /* the stream */
} strpipectl;

/* The STREAMS calls of the driver, behind one table so that tests can
** stage interruptions and watch the signal requests. strpipe_driver_calls
** starts at strpipe_platform_calls; a test sets it before the code under
** test runs and puts it back afterwards. */
typedef struct strpipe_calls {
  int (*open)(const char *path, int oflag);
  int (*isastream)(int fd);
  int (*putmsg)(int fd, const struct strbuf *ctlptr, const struct strbuf *dataptr, int flags);
  int (*getmsg)(int fd, struct strbuf *ctlptr, struct strbuf *dataptr, int *flagsp);
  int (*ioctl)(int fd, int request, int arg);
} strpipe_calls;
extern const strpipe_calls strpipe_platform_calls;
extern const strpipe_calls *strpipe_driver_calls;

/* The stream path of the last unixcons2tladdr: the driver's transport
** address, kept in its process-wide conversion buffer until the next
** conversion ("" before the first). */
const char *strpipe_last_path(void);

int initstr(asfsvcctl *ctl, void *initreq, int drvtype, const char *name);
int termstr(asfsvcctl *ctl, void *arg);
int connstr(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl);
int lisnstr(drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *ctl);
int accpstr(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl);
int sendstr(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int recvstr(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl);
int soobstr(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int roobstr(drvblock *drv, rscbufctl **out, asfsvcctl *ctl);
int discstr(drvblock *drv, int flags, asfsvcctl *ctl);
int savestr(drvblock *drv, void *arena, asfsvcctl *ctl);
int reststr(drvblock *drv, void *arena, asfsvcctl *ctl);
int attrstr(drvblock *drv, void *attr);
int waitstr(drvblock *drv, void *arg, asfsvcctl *ctl);
int unixcons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *drv);
int unixtladdr2cons(const tladdr *addr, tlpeeraddr **slot, drvblock *drv, asfsvcctl *ctl);
int ipcstr_siginit(Assocctl *assoc, drvblock *drv);

#ifdef __cplusplus
}
#endif

#endif
