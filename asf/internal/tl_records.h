/*
** tl_records.h: the transport layer's records and entry points, shared
** by the layer (asf/tl) and the transport drivers (asf/net): the protocol
** switch table, the 22-slot operation vector, the transport block with
** the driver block inside it, the transport request, the transport
** address, the TLI driver's endpoint record, and the entries of the
** layer, the TLI driver and TCP addressing.
**
** Internal to the association services. In-memory records follow the
** host (64-bit pointers); the save image of the transport block and of
** the TLI endpoint record keep their fixed layouts (tlsave, 28 bytes;
** the endpoint image, 44 bytes), written field by field. One thread.
*/
#ifndef DVZ_ASF_TL_RECORDS_H
#define DVZ_ASF_TL_RECORDS_H

#include <stdint.h>

#include "asf_al.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "asf_tl.h"
#include "tli.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Statuses of the layer and its drivers. ---- */

#define TL_ERR_NO_ASSOC ASF_ERR_BADASSOC /* no association, wrong check word, no transport block */
#define TL_ERR_NO_PROTOCOLS ASF_ERR_BADARGS /* tlInit: a protocol count of 0 */
#define TL_STATUS_NO_VECTOR 25503 /* positive: no operation vector, or an empty slot */
#define TL_STATUS_NO_PROTOCOL \
  25507 /* positive: no switch-table row, or an address kind other than 1 */

/* ---- Transport address. ---- */

/* Longest service name of an SPX address (its terminator apart). */
#define TL_SPX_SERVICE_MAX 48

/* The drivers' transport address. TCP uses ipaddr and port; SPX and IPX
** the IPX address and the service name. */
typedef struct tladdr {
  uint32_t ipaddr; /* IPv4 address, network byte order; 0 the wildcard */
  uint32_t port; /* low 16 bits: port number in network byte order */
  uint8_t ipx[12]; /* IPX network (4), node (6), socket (2) */
  char service[TL_SPX_SERVICE_MAX + 1]; /* SPX server name */
} tladdr;

/* ---- Transport request (the protocol family's parms). ---- */

/* The entry's address: kind (1 the text form) and text. */
typedef struct tlreqaddr {
  int32_t kind;
  char *text; /* host "|" service "|" protocol */
} tlreqaddr;

typedef struct tlconnreq {
  NSEntry *login; /* the entry whose login fields apply */
  char *ttyname; /* terminal name of the process information */
  tlreqaddr *addr; /* the address */
  char *servername; /* the entry's server name */
  NSEntry *entry; /* the name-service entry */
  SqlhOptions *options; /* its sqlhosts options */
  int32_t level; /* protocol level */
} tlconnreq;

/* ---- Operation vector. ---- */

struct drvblock;
struct tlpeeraddr;

/* Slot numbers. */
enum {
  tl_slot_init,
  tl_slot_term,
  tl_slot_conn,
  tl_slot_lisn,
  tl_slot_accp,
  tl_slot_send,
  tl_slot_recv,
  tl_slot_soob,
  tl_slot_roob,
  tl_slot_disc,
  tl_slot_save,
  tl_slot_rest,
  tl_slot_attr,
  tl_slot_wait,
  tl_slot_cons2tladdr,
  tl_slot_tladdr2cons,
  tl_slot_load_addr,
  tl_slot_tladdr2native,
  tl_slot_native2tladdr,
  tl_slot_setopts,
  tl_slot_siginit,
  tl_slot_port_bind,
  tl_slot_count
};

/* Entry point types, one per slot. An init entry takes the init request
** of ASF_Call service 0 from its flags word on. */
typedef int (*tl_init_fn)(asfsvcctl *ctl, void *initreq, int drvtype, const char *name);
typedef int (*tl_term_fn)(asfsvcctl *ctl, void *arg);
typedef int (*tl_conn_fn)(struct drvblock *drv, tlconnreq *parms, asfsvcctl *ctl);
typedef int (*tl_lisn_fn)(struct drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *ctl);
typedef int (*tl_accp_fn)(struct drvblock *drv, Assocctl *newassoc, struct tlpeeraddr **peer,
                          asfsvcctl *ctl);
typedef int (*tl_send_fn)(struct drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
typedef int (*tl_recv_fn)(struct drvblock *drv, rscbufctl **slot, asfsvcctl *ctl);
typedef int (*tl_disc_fn)(struct drvblock *drv, int flags, asfsvcctl *ctl);
/* Flags of a driver's disconnect: the transport was handed over (its
** descriptor stays open); stop listening (the whole value); close only,
** without the release exchange or a notice to the server. */
enum { tl_disc_handed_over = 256, tl_disc_stop_listening = 512, tl_disc_close_only = 0x8000 };
typedef int (*tl_save_fn)(struct drvblock *drv, void *arena, asfsvcctl *ctl);
typedef int (*tl_attr_fn)(struct drvblock *drv, void *attr);
typedef int (*tl_wait_fn)(struct drvblock *drv, void *arg, asfsvcctl *ctl);
typedef int (*tl_cons2tladdr_fn)(const char *text, tladdr *addr, asfsvcctl *ctl,
                                 struct drvblock *drv);
typedef int (*tl_tladdr2cons_fn)(const tladdr *addr, struct tlpeeraddr **slot, struct drvblock *drv,
                                 asfsvcctl *ctl);
typedef int (*tl_load_addr_fn)(const tladdr *addr, struct netbuf *first, struct netbuf *second);
typedef void (*tl_tladdr2native_fn)(const tladdr *addr, void *native);
typedef void (*tl_native2tladdr_fn)(const void *native, tladdr *addr);
typedef int (*tl_setopts_fn)(struct drvblock *drv, int fd, int bits);
typedef int (*tl_siginit_fn)(Assocctl *assoc, struct drvblock *drv);
/* The listening bind's check and completion: request and returned are the
** bind structures, addr the listening block's transport address. */
typedef int (*tl_port_bind_fn)(const struct t_bind *request, const struct t_bind *returned,
                               tladdr *addr);

/* The 22 entry points in slot order; an absent one is null. */
typedef struct opvec {
  tl_init_fn init;
  tl_term_fn term;
  tl_conn_fn conn;
  tl_lisn_fn lisn;
  tl_accp_fn accp;
  tl_send_fn send;
  tl_recv_fn recv;
  tl_send_fn soob; /* send expedited */
  tl_recv_fn roob; /* receive expedited */
  tl_disc_fn disc;
  tl_save_fn save;
  tl_save_fn rest;
  tl_attr_fn attr;
  tl_wait_fn wait;
  tl_cons2tladdr_fn cons2tladdr;
  tl_tladdr2cons_fn tladdr2cons;
  tl_load_addr_fn load_addr;
  tl_tladdr2native_fn tladdr2native;
  tl_native2tladdr_fn native2tladdr;
  tl_setopts_fn setopts;
  tl_siginit_fn siginit;
  tl_port_bind_fn port_bind;
} opvec;

/* Driver types. */
enum {
  tl_drv_tlitcp = 0,
  tl_drv_tlispx = 5,
  tl_drv_ipcpip = 9,
  tl_drv_ipcshm = 10,
  tl_drv_ipcstr = 12,
  tl_drv_tliimc = 17
};

/* ---- Driver block. ---- */

/* Driver flags (DRV_NONBLOCKING, 128, is in asf_tl.h). */
enum {
  DRV_CONNECTING = 1, /* the connect entry started */
  DRV_ACCEPTED = 2, /* a connection accepted by the listener */
  DRV_RELEASING = 32, /* a release started in the disconnect */
  DRV_LISTENING = 64, /* set by the listen entry, carried into accepted blocks */
  DRV_SIGARMED = 256 /* the expedited-data signal is armed on the descriptor */
};

/* Receive-check bit of rcvcheck's first byte: the first normal message
** has not been looked at yet. */
#define DRV_RCVCHECK 2u

/* TCP option state bits (what the provider confirmed). */
enum { drv_opt_keepalive = 4, drv_opt_linger = 8, drv_opt_nodelay = 16 };

typedef struct drvblock {
  uint32_t flags; /* DRV_* */
  uint32_t word1; /* a driver word */
  opvec ops; /* loaded by load_operation_vector */
  void *priv; /* the driver's private record: tlictl, pipectl, strpipectl or netscb */
  int32_t type; /* driver type, the row's */
  uint32_t word2, word3; /* driver words */
  const char *protname; /* the row's protocol name */
  const char *device; /* the row's device path */
  uint32_t optstate; /* TLI: option state, drv_opt_* */
  int32_t bufsize; /* data size of each network buffer */
  uint32_t rcvcheck; /* TLI: first byte holds DRV_RCVCHECK */
  tladdr reqaddr; /* requested address (the server's, or the local one of a listen) */
  tladdr repaddr; /* reported address (bound local, or an accepted peer's) */
  /* The local drivers' further fields come here. */
  uint32_t savedfl; /* descriptor status flags kept by do_non_blocking */
  int32_t bufsize2; /* the buffer size as tlRestore wrote it */
  int32_t nexpt; /* count of expedited receives, raised by tlRcvexpt */
} drvblock;

/* ---- Protocol switch table. ---- */

/* The address family record of the network rows. */
typedef struct tlfamily {
  int32_t family; /* 2 */
  const char *name; /* "internet" */
  int32_t word[3]; /* zero */
} tlfamily;
extern const tlfamily internet;

typedef int (*tl_rowrest_fn)(drvblock *drv, void *arena, asfsvcctl *ctl);

/* One row; the table ends with a row whose name is null. */
typedef struct tlnetsw {
  const char *name;
  int32_t drvtype;
  const tlfamily *family; /* null for the local transports */
  const char *device;
  tl_init_fn init;
  tl_term_fn term;
  tl_conn_fn conn;
  tl_lisn_fn lisn;
  tl_rowrest_fn rest;
  tl_cons2tladdr_fn cons2tladdr;
  tl_tladdr2cons_fn tladdr2cons;
} tlnetsw;

/* The switch table: seven rows and the ending row. */
extern const tlnetsw tlnetswtab[];
/* The table the layer walks, set by get_protocol_tab at the first
** initialisation (or at the layer's first use when none came before). */
extern const tlnetsw *tlprototab;

/* Name skipped wherever the layer walks the table or a protocol list. */
#define TL_MUX_NAME "sqlmux"

/* ---- Transport block. ---- */

/* Transport flags. */
enum {
  TL_LISTEN1 = 1, /* set by a listen */
  TL_CONNECT = 2, /* set by a connect */
  TL_FAILED = 4, /* a driver call of this block failed */
  TL_SAVED_DISC = 8, /* a saved transport was disconnected */
  TL_LISTEN16 = 16 /* set by a listen */
};

/* Transport states. */
enum {
  tl_state_idle = 1,
  tl_state_listening = 2,
  tl_state_connecting = 3,
  tl_state_accepting = 4,
  tl_state_connected = 6,
  tl_state_disconnecting = 7,
  tl_state_saved = 8,
  tl_state_restoring = 9
};

typedef struct tlblock {
  uint32_t flags; /* TL_* */
  uint32_t state; /* tl_state_* */
  int32_t protinx; /* row of the switch table */
  uint32_t unused;
  drvblock drv;
} tlblock;
/* Size of the transport block an association allocates. */
#define TL_BLOCK_SIZE ((uint32_t)sizeof(tlblock))

/* Size of the saved transport record (seven 32-bit words, host order). */
#define TL_SAVE_SIZE 28

/* The transport-global record (12 bytes, zeroed), hung in the global
** control block's prottab from the first initialisation to tlTerm. */
#define TLG_NETDATA 64 /* flags: the common network data is set up */
typedef struct tlglobal {
  uint8_t flags; /* TLG_NETDATA */
  uint8_t pad[3];
  uint32_t word[2];
} tlglobal;

/* The init request as tlInit and the rows' init entries get it: the words
** of ASF_Call service 0 from its flags word on. */
enum {
  TL_INIT_FLAGS = 0, /* flags; TL_INIT_FIRST the first initialisation */
  TL_INIT_NPROT = 6, /* protocol count (i32) */
  TL_INIT_PROT = 7 /* address of the protocol list */
};
#define TL_INIT_FIRST 16u
/* A protocol-list entry: 28 bytes, the protocol name (char[8], NUL-padded)
** from offset 12. */
#define TL_PROT_ENTRY_SIZE ASF_PROT_ENTRY_SIZE
#define TL_PROT_NAME_OFFSET 12
#define TL_PROT_NAME_SIZE 8

/* ---- Peer address record (the accept's peer slot). ---- */

/* Room of the peer address text. */
#define TL_PEER_TEXT_SIZE 400

/* The pair {form, text}: form 8 when the host part is a name, 2 when it
** is the address in hexadecimal. */
typedef struct tlpeerpair {
  int32_t form;
  char *text; /* TL_PEER_TEXT_SIZE bytes: host "|" port "|" protocol */
} tlpeerpair;

typedef struct tlpeeraddr {
  uintptr_t word1, word2; /* unused */
  tlpeerpair *pair; /* the third word */
} tlpeeraddr;

/* A peer address record being filled by a driver's tladdr2cons. */
typedef struct tlpeerfill {
  tlpeeraddr **slot;
  tlpeeraddr *rec;
  tlpeerpair *pair;
  char *text; /* TL_PEER_TEXT_SIZE bytes for the driver to write */
  int made; /* the record was made here */
} tlpeerfill;

/* Starts filling *slot (made when null, emptied when given): 0 with f's
** text ready, or -1 with -406 stored and nothing kept. */
int tl_peer_begin(tlpeerfill *f, tlpeeraddr **slot, asfsvcctl *ctl);
/* Ends the fill: with ok, *slot holds the text with form and 0 is
** returned; otherwise everything tl_peer_begin made is freed, *slot is
** left as it came, and -1 is returned (the caller has stored the status). */
int tl_peer_end(tlpeerfill *f, int form, int ok);

/* ---- The layer's operations (asf/tl). ---- */

int tlConnect(asfsvcctl *ctl, tlconnreq *parms);
int tlListen(asfsvcctl *ctl, tlconnreq *parms, int mode);
int tlAccept(asfsvcctl *ctl, Assocctl *newassoc, tlpeeraddr **peer);
int tlSend(asfsvcctl *ctl, rscbufctl *buf);
int tlRecv(asfsvcctl *ctl, rscbufctl **out);
int tlSndexpt(asfsvcctl *ctl, rscbufctl *buf);
int tlRcvexpt(asfsvcctl *ctl, rscbufctl **out);
int tlWait(asfsvcctl *ctl, void *arg);
/* attr: {code, value pointer}. */
typedef struct tlattr {
  int32_t code;
  void *value;
} tlattr;
int tlAttrib(asfsvcctl *ctl, tlattr *attr);
int tlDiscon(asfsvcctl *ctl, int flags);
int tlInit(asfsvcctl *ctl, void *initreq);
int tlTerm(asfsvcctl *ctl, void *arg);
int get_protocol_tab(const tlnetsw **out);
int tlcons2inx(const char *address);

/* Driver support (asf/tl). */
/* Copies the vector of drv's driver type into drv->ops: 0, or -1 when the
** type has none (the caller reports TL_STATUS_NO_VECTOR). */
int load_operation_vector(drvblock *drv);
/* Lends assoc its four network buffers (send, receive, expedited send,
** expedited receive) sized by drv: 0, or -1 with ctl's asfcode -406 and
** oserr errno (memory), or -25546 (assoc invalid or a slot occupied);
** nothing stays allocated or registered after a failure. */
int net_buffer_setup(drvblock *drv, Assocctl *assoc, asfsvcctl *ctl);
/* The same with the send area that lend (the shared-memory driver's) lends
** from the segment for drv->priv, and no receive area; -406 when lend is
** null or lends nothing. */
int shm_buffer_setup(drvblock *drv, Assocctl *assoc, asfsvcctl *ctl, char *(*lend)(void *priv));
/* Take the four buffers out of ctl's association and free them with their
** own areas, then drv's private record (cleared). Always 0. */
int net_deallocate(drvblock *drv, asfsvcctl *ctl);
/* The same for shared-memory buffers: the send area stays with the
** segment, the private record with the driver. Always 0. */
int shm_deallocate(drvblock *drv, asfsvcctl *ctl);

#define TL_SHM_BUFSIZE 1024

/* Byte offset of the first "@" of text in the current client locale (0
** when it is the first byte). *err: 0 when found; otherwise the result is
** 0 and *err the locale initialisation's error, the locale library's
** error word, or -1. */
int scan_for_at(const char *text, int *err);

/* Test seam: a scripted driver behind a row. While tl_driver_override is
** set, get_protocol_tab gives its table (when not null) and
** load_operation_vector asks its vector function first (a null answer
** falls back to the built-in vectors). Tests install and remove it. */
typedef struct tl_driver_seam {
  const tlnetsw *table;
  const opvec *(*vector)(int drvtype);
} tl_driver_seam;
extern const tl_driver_seam *tl_driver_override;

/* ---- TLI driver (asf/net). ---- */

/* Statuses of the TLI driver and TCP addressing. */
#define TLI_STATUS_AGAIN 6 /* positive: the wait ran out, or a transfer would block */
#define TLI_STATUS_BUFFERS 8 /* positive: the buffers could not be set up */

/* The TLI driver's endpoint record (in memory; its save image is 44
** bytes: fd, optbits, info[7], a 4-byte queue word, the frame-mark byte
** and 3 bytes of padding, host order). */
#define TLICTL_IMAGE_SIZE 44
typedef struct tlictl {
  int32_t fd; /* the transport endpoint */
  int32_t optbits; /* option bits of a listening endpoint, for its accepted connections */
  int32_t info[7]; /* t_open's provider information: addr, options, tsdu, etsdu,
                      connect, discon, servtype */
  void *pendq; /* pending indications of a listening endpoint */
  uint8_t framemark; /* 1: each message carries the one-byte frame mark */
  uint8_t inmsg; /* in memory only: the last receive ended inside a transport
                    message (T_MORE), so the next one carries no frame mark */
} tlictl;

/* The TLI calls of the TLI driver and TCP addressing, behind one table so
** that tests can script a provider (partial sends, flow control, chosen
** events, resynchronisation failures). setsig stands for the stream
** head's I_SETSIG. tli_driver_calls starts at tli_platform_calls; a test
** sets it before the code under test runs and puts it back afterwards. */
typedef struct tli_calls {
  int (*t_open)(const char *path, int oflag, struct t_info *info);
  int (*t_bind)(int fd, const struct t_bind *req, struct t_bind *ret);
  void *(*t_alloc)(int fd, int struct_type, int fields);
  int (*t_free)(void *ptr, int struct_type);
  int (*t_connect)(int fd, const struct t_call *sndcall, struct t_call *rcvcall);
  int (*t_rcvconnect)(int fd, struct t_call *call);
  int (*t_look)(int fd);
  int (*t_snd)(int fd, const char *buf, unsigned int nbytes, int flags);
  int (*t_rcv)(int fd, char *buf, unsigned int nbytes, int *flags);
  int (*t_sndrel)(int fd);
  int (*t_rcvrel)(int fd);
  int (*t_snddis)(int fd, const struct t_call *call);
  int (*t_rcvdis)(int fd, struct t_discon *discon);
  int (*t_sync)(int fd);
  int (*t_getstate)(int fd);
  int (*t_unbind)(int fd);
  int (*t_close)(int fd);
  int (*t_optmgmt)(int fd, const struct t_optmgmt *req, struct t_optmgmt *ret);
  int (*setsig)(int fd, int events);
} tli_calls;
extern const tli_calls tli_platform_calls;
extern const tli_calls *tli_driver_calls;

/* The connect's wait for the confirmation: the larger of the caller's
** timeout and this, ended at the caller's deadline when it set one. */
#define TLI_CONNECT_WAIT_MS 75000

int inittli(asfsvcctl *ctl, void *initreq, int drvtype, const char *name);
int termtli(asfsvcctl *ctl, void *arg);
int conntli(drvblock *drv, tlconnreq *parms, asfsvcctl *ctl);
int sendtli(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int recvtli(drvblock *drv, rscbufctl **slot, asfsvcctl *ctl);
int soobtli(drvblock *drv, rscbufctl *buf, asfsvcctl *ctl);
int roobtli(drvblock *drv, rscbufctl **out, asfsvcctl *ctl);
int disctli(drvblock *drv, int flags, asfsvcctl *ctl);
int attrtli(drvblock *drv, void *attr);
int waittli(drvblock *drv, void *arg, asfsvcctl *ctl);
int wait_release(int fd);
/* The server side: open a listening endpoint (modes 0 and 2; others do
** nothing) and take its next incoming connection onto a new endpoint for
** newassoc. 0 or -1 with the status in ctl. */
int lisntli(drvblock *drv, tlconnreq *parms, int mode, asfsvcctl *ctl);
int accptli(drvblock *drv, Assocctl *newassoc, tlpeeraddr **peer, asfsvcctl *ctl);

/* ---- TCP addressing (asf/net). ---- */

int tcpcons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *drv);
int tcptladdr2cons(const tladdr *addr, tlpeeraddr **slot, drvblock *drv, asfsvcctl *ctl);
int tlitcp_load_addr(const tladdr *addr, struct netbuf *first, struct netbuf *second);
void tladdr2sockaddr_in(const tladdr *addr, void *sockaddr);
void sockaddr_in2tladdr(const void *sockaddr, tladdr *addr);
int tlitcpport_bind(const struct t_bind *request, const struct t_bind *returned, tladdr *addr);
int tlitcp_setopts(drvblock *drv, int fd, int bits);
int tlitcp_getopts(drvblock *drv, int fd, int bits);
int tlitcp_siginit(Assocctl *assoc, drvblock *drv);
void tlitcp_sighand(int sig);
int net_setoptions(uint32_t keepalive);
int isipaddr(const char *text);
int tcptladdr2netf(const tladdr *addr, char *out, drvblock *drv);
struct servent;
struct servent *dvz_getservbyport(int port, const char *protocol);
/* The disconnect forgets a block that the expedited-data signal names, so
** that a later signal finds no freed record. */
void tlitcp_sigforget(const drvblock *drv);

#ifdef __cplusplus
}

#include <cerrno>

/* The retry rule of the TLI driver and TCP addressing: a TLI call that
** fails with TSYSERR and errno EINTR is made again at once. */
template <typename F>
int tli_retry(F call) {
  for (;;) {
    int rc = call();
    if (rc != -1 || t_errno != TSYSERR || errno != EINTR) return rc;
  }
}

/* The stream head's signal request through tli_driver_calls, made again
** while interrupted. 0, or -1 with errno. */
inline int tli_setsig_retry(int fd, int events) {
  int rc;
  do {
    rc = tli_driver_calls->setsig(fd, events);
  } while (rc == -1 && errno == EINTR);
  return rc;
}
#endif

#endif
