/*
** asf_tl.h: the driver-support routines of the transport layer, shared by
** every transport driver: the poll wait with a time limit, the blocking
** switch of a descriptor, the failure report into the caller's control
** record, the local-host test and small user and string helpers.
**
** The driver block (`drvblock`) is the driver's in-memory working record,
** declared with the transport layer's other records in tl_records.h.
** In-memory records in host order. One thread. C linkage.
*/
#ifndef DVZ_ASF_TL_H
#define DVZ_ASF_TL_H

#include <stdint.h>

#include "asf_errors.h"
#include "asf_svcctl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Driver flag: the descriptor is switched to non-blocking. */
#define DRV_NONBLOCKING 128u

/* Longest address text the local-host test takes (its terminator apart). */
#define ASF_TLADDR_TEXT_MAX 399
/* Room for the node name of the local-host test, terminator included. */
#define ASF_NODENAME_SIZE 257
/* Room getCurUser needs: a login name and its terminator. */
#define ASF_USERNAME_SIZE 257

/* The driver block (asf/internal/tl_records.h). */
typedef struct drvblock drvblock;

/* Poll kinds of sysv_select_poll. */
enum {
  asf_poll_read = 1, /* readable */
  asf_poll_write = 2, /* writable */
  asf_poll_any = 3, /* readable, priority data or writable */
  asf_poll_input = 4, /* readable or priority data */
  asf_poll_output = 5 /* priority data or writable */
};

/* Waits until fd is ready for kind. The limit is seconds * 1000 ms when
** seconds is not 0, else milliseconds; a negative limit waits without
** end; both 0 returns 0 at once without polling. The total wait stays
** within the limit however often a signal interrupts it. TLI endpoints
** are asked through the platform's TLI layer (a finished connect or a
** held event counts as ready).
** Returns: 0 ready; -1 on timeout (errno 0), on failure (errno set) or
** for a kind outside 1-5 (EINVAL). */
int sysv_select_poll(int fd, int seconds, int milliseconds, int kind);

/* Keeps fd's status flags in drv, adds O_NDELAY and sets DRV_NONBLOCKING.
** Returns 0, or -1 with ctl's asfcode -25580 and oserr errno. */
int do_non_blocking(drvblock *drv, int fd, asfsvcctl *ctl);
/* Gives fd back exactly the status flags do_non_blocking kept and clears
** DRV_NONBLOCKING. Returns 0, or -1 with ctl's asfcode -25580 and oserr
** errno (the flag then stays). */
int do_blocking(drvblock *drv, int fd, asfsvcctl *ctl);

/* Stores status and oserr in ctl (nothing for a null ctl). */
void driver_error(asfsvcctl *ctl, int status, int oserr);

/* 0 when the host field (the text before the first "|") of address names
** this machine or begins with "&". Otherwise -1 with ctl's asfcode -25591
** (no address, empty host, an address over 399 characters, another host)
** or -406 with errno (the node name cannot be read). */
int islocalhost(const char *address, asfsvcctl *ctl);

/* 1 when every byte of text is a decimal digit by the client library's
** character classes (the empty text included); 0 otherwise and for null. */
int isstrdigit(const char *text);

/* The login name of the real user into buf (REQUIRES: ASF_USERNAME_SIZE
** bytes); buf emptied first. 0, or -1 when there is no passwd entry or
** the name does not fit. */
int getCurUser(char *buf);

/* Called at pre-abort: does nothing, returns 0. */
int asf_force_error(void);
/* Called at session disconnect: does nothing, returns -1. */
int change_netscb_owner(void);

#ifdef __cplusplus
}

/* The monotonic clock of the poll wait, for tests to replace: now_ms
** stores milliseconds since an arbitrary start and returns 0, or -1. */
struct asf_tl_clock_seam {
  int (*now_ms)(int64_t *out);
};
extern const asf_tl_clock_seam asf_tl_system_clock;
extern const asf_tl_clock_seam *asf_tl_clock;
/* Milliseconds on that clock, 0 when it fails: the deadlines of the
** drivers' and the session layer's waits. */
int64_t asf_now_ms();
#endif

#endif
