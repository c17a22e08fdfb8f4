/*
** Our Transport Layer Interface over BSD sockets: the t_* calls the TLI
** driver of the association services makes, with its records, flags,
** events, states and error numbers. Endpoints are real descriptors
** (pollable, switchable with fcntl, kept across exec); the layer tracks the
** TLI state of each one in a table indexed by descriptor. One thread.
**
** The only device the product knows is "/dev/tcp" (a TCP stream socket);
** tests may register further providers. A poll on an endpoint asks
** tli_poll_events first: some TLI events (a finished connect, a held
** disconnect) do not show as input on the socket.
*/
#ifndef DVZ_PLATFORM_TLI_H
#define DVZ_PLATFORM_TLI_H

#include <sys/socket.h>

extern "C" {

/* The TLI error of the last failed call; TSYSERR leaves the system error
** in errno. Written by every failing t_* call, never cleared. */
extern int t_errno;

/* t_errno values. */
#define TBADF 4 /* not an endpoint, or not a socket of a known provider */
#define TOUTSTATE 6 /* the call is not valid in the endpoint's state */
#define TSYSERR 8 /* system error, in errno */
#define TLOOK 9 /* an event is pending: ask t_look */
#define TBADDATA 10 /* a record, buffer, count or sequence the layer cannot take */
#define TFLOW 12 /* a non-blocking send would block */
#define TNODATA 13 /* nothing there yet on a non-blocking endpoint */
#define TNOTSUPPORT 18 /* not offered by this provider */

/* Events from t_look. */
#define T_LISTEN 1
#define T_CONNECT 2
#define T_DATA 4
#define T_EXDATA 8
#define T_DISCONNECT 16
#define T_ERROR 32
#define T_ORDREL 128

/* Endpoint states from t_getstate and t_sync. */
#define T_UNBND 1
#define T_IDLE 2
#define T_OUTCON 3
#define T_INCON 4
#define T_DATAXFER 5
#define T_OUTREL 6
#define T_INREL 7

/* Service types (t_info servtype). */
#define T_COTS_ORD 2 /* connection-oriented with orderly release */
#define T_CLTS 3 /* connectionless */

/* t_snd / t_rcv flags. */
#define T_MORE 1
#define T_EXPEDITED 2

/* t_optmgmt flags. */
#define T_NEGOTIATE 4
#define T_DEFAULT 16

/* t_alloc structure types and fields. */
#define T_BIND 1
#define T_CALL 3
#define T_DIS 4
#define T_ADDR 1
#define T_OPT 2
#define T_UDATA 4
#define T_ALL 7

/* Events for tli_setsig, the stand-in for the stream head's I_SETSIG. */
#define S_INPUT 1

/* A buffer: room for maxlen bytes at buf, len of them in use. */
struct netbuf {
  unsigned int maxlen;
  unsigned int len;
  char *buf;
};

/* Provider information; -1 unlimited, -2 not offered. */
struct t_info {
  int addr; /* address size */
  int options; /* option buffer size */
  int tsdu; /* largest message, 0 for a byte stream */
  int etsdu; /* largest expedited message */
  int connect; /* data with a connect */
  int discon; /* data with a disconnect */
  int servtype; /* T_COTS_ORD or T_CLTS */
};

struct t_bind {
  struct netbuf addr;
  unsigned int qlen; /* connect indications to queue; granted length on return */
};

struct t_call {
  struct netbuf addr;
  struct netbuf opt;
  struct netbuf udata;
  int sequence; /* names a connect indication from t_listen */
};

struct t_discon {
  struct netbuf udata;
  int reason; /* the system error behind the disconnect (ECONNREFUSED, ECONNRESET...) */
  int sequence; /* the indication withdrawn on a listening endpoint, else 0 */
};

/* opt holds one 16-byte option record: level, name, value length (4),
** value; four 32-bit words in host order. */
struct t_optmgmt {
  struct netbuf opt;
  int flags;
};

struct t_unitdata {
  struct netbuf addr;
  struct netbuf opt;
  struct netbuf udata;
};

/* All calls below return -1 with t_errno set on failure. */

/* Opens an endpoint on the provider of path; fills *info when given.
** Returns the descriptor. An unknown path gives TSYSERR with ENOENT. */
int t_open(const char *path, int oflag, struct t_info *info);
/* Closes the endpoint in any state, with the connections it holds. */
int t_close(int fd);

/* Binds: no request (or an empty address) takes any address; an address in
** use binds another port. A request qlen > 0 listens. *ret, when given,
** receives the bound address and the granted queue length. */
int t_bind(int fd, const struct t_bind *req, struct t_bind *ret);
/* Back to T_UNBND: the endpoint's socket is replaced by a fresh one. */
int t_unbind(int fd);

/* Connects to sndcall's address. A non-blocking endpoint gives TNODATA
** while pending; a refusal is TLOOK with T_DISCONNECT pending. */
int t_connect(int fd, const struct t_call *sndcall, struct t_call *rcvcall);
/* Completes a pending connect: 0 connected, TNODATA still pending
** (non-blocking), TLOOK when it was refused. */
int t_rcvconnect(int fd, struct t_call *call);

/* Accepts the next incoming connection at once and holds it under a new
** sequence number, reported in *call with the caller's address. */
int t_listen(int fd, struct t_call *call);
/* Moves the held connection call->sequence onto resfd (bound, idle). TLOOK
** when a disconnect or another connection is waiting on fd. */
int t_accept(int fd, int resfd, const struct t_call *call);

/* The pending event, 0 when none. */
int t_look(int fd);

/* Sends up to nbytes; returns the count taken. T_EXPEDITED sends exactly
** one byte as TCP urgent data. Never raises SIGPIPE. */
int t_snd(int fd, const char *buf, unsigned int nbytes, int flags);
/* Receives up to nbytes; a pending expedited byte comes first, alone,
** with T_EXPEDITED in *flags. EOF and reset are TLOOK. */
int t_rcv(int fd, char *buf, unsigned int nbytes, int *flags);

int t_sndrel(int fd); /* shuts the write side */
int t_rcvrel(int fd); /* takes the peer's release */
int t_snddis(int fd, const struct t_call *call); /* abortive: the peer sees a reset */
int t_rcvdis(int fd, struct t_discon *discon); /* takes a pending disconnect */

/* The endpoint's state. An inherited socket of a known provider is adopted
** with its state rebuilt; anything else is TBADF. */
int t_sync(int fd);
int t_getstate(int fd);

/* Negotiates (T_NEGOTIATE) or reads (T_DEFAULT) one option; *ret gets the
** value read back from the socket. With T_DEFAULT the request's buffer
** holds at least the level and name words whatever its len says. */
int t_optmgmt(int fd, const struct t_optmgmt *req, struct t_optmgmt *ret);

/* Records of the provider's sizes for T_BIND, T_CALL or T_DIS with the
** given fields; free with t_free. */
void *t_alloc(int fd, int struct_type, int fields);
int t_free(void *ptr, int struct_type);

/* Datagrams; TNOTSUPPORT on a connection-oriented provider. */
int t_sndudata(int fd, const struct t_unitdata *unitdata);
int t_rcvudata(int fd, struct t_unitdata *unitdata, int *flags);

/* Stand-in for ioctl(fd, I_SETSIG, events): S_INPUT has SIGPOLL (SIGIO)
** sent to this process on input and SIGURG on urgent data; 0 stops both.
** 0, or -1 with errno. */
int tli_setsig(int fd, int events);

/* For the poll wait of the drivers: the poll events to ask for fd in place
** of requested (a pending connect adds POLLOUT, an input wait on a
** connection adds POLLPRI). The bit TLI_POLL_READY in the result says an
** event is already there: the descriptor is ready without polling.
** Descriptors the layer does not know get requested unchanged. */
#define TLI_POLL_READY 0x10000
int tli_poll_events(int fd, int requested);

/* For tests. A transport provider reached by its device path. */
struct tli_provider {
  const char *device; /* the path t_open matches */
  int domain, type, protocol; /* of the sockets made for it (protocol 0: any) */
  struct t_info info; /* what t_open reports */
  /* The socket address for the TLI address of len bytes at addr (len 0:
  ** the provider's "any" address); 0, or -1 when malformed. */
  int (*to_socket)(const char *addr, unsigned int len, struct sockaddr_storage *out,
                   socklen_t *outlen);
  /* Writes the TLI address for a socket address into out (room for maxlen
  ** bytes); its length, or -1 when it does not fit or is foreign. */
  int (*from_socket)(const struct sockaddr *sa, socklen_t salen, char *out, unsigned int maxlen);
};

/* Registers a provider (kept by pointer; it must outlive its use), replacing
** one of the same device. 0, or -1 when the table is full. */
int tli_register_provider(const struct tli_provider *provider);
/* Caps the queue length t_bind grants; 0 restores the system's cap. */
void tli_set_max_qlen(unsigned int max);
}

#endif
