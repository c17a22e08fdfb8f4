/*
** spx_records.h: SPX and IPX addressing of the TLI driver and the
** service advertising over IPX datagrams (SAP): the wire layout of a SAP
** record, the advertisement being sent (SapDInfo), the SAP entry points,
** the response reader, and the address slots of tlispx_opvec.
**
** Internal to asf/net and its tests. Every SAP datagram is written and
** read byte by byte in network order. One thread; the advertisement is
** process-wide and re-sent from a SIGALRM handler, so its datagram is
** prepared once and the handlers only send it.
*/
#ifndef DVZ_ASF_NET_SPX_RECORDS_H
#define DVZ_ASF_NET_SPX_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include "tl_records.h"
#include "tli.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Server types. */
#define SAP_TYPE_DBSERVER 0x8437 /* database servers of this system */
#define SAP_TYPE_FILESERVER 4

/* Operations of a SAP record. */
#define SAP_OP_QUERY 1 /* general service query */
#define SAP_OP_RESPONSE 2 /* general service response */

/* Layout of a SAP record (66 bytes); a response entry is the same record
** without its operation word (64 bytes). Offsets within a record. */
#define SAP_RECORD_SIZE 66
#define SAP_ENTRY_SIZE 64
#define SAP_QUERY_SIZE 4 /* operation and server type only */
#define SAP_OFF_OPERATION 0
#define SAP_OFF_TYPE 2
#define SAP_OFF_NAME 4
#define SAP_OFF_ADDR 52 /* network (4), node (6), socket (2) */
#define SAP_OFF_HOPS 64
#define SAP_NAME_SIZE 48
/* Room of the receive buffer of a response (up to 7 entries). */
#define SAP_RECV_SIZE 450
#define SAP_MAX_ENTRIES ((SAP_RECV_SIZE - 2) / SAP_ENTRY_SIZE)
/* Hop count of a server going down. */
#define SAP_HOPS_DOWN 16
/* Seconds between two advertisements. */
#define SAP_READVERTISE_SECONDS 59
/* How long a look-up waits for an answer. */
#define SAP_LOOKUP_MS 10000

/* The IPX address: network (4), node (6), socket (2), network order. */
#define IPX_ADDR_SIZE 12
#define IPX_OFF_NETWORK 0
#define IPX_OFF_NODE 4
#define IPX_OFF_SOCKET 10
#define IPX_SAP_SOCKET 0x0452
/* The datagram device of SAP. */
#define SAP_DEVICE "/dev/mipx"

/* The advertisement being sent: the datagram's three buffers point into
** this record (destination, option byte, data). Written by sap_broadcast;
** read and re-sent by the handlers. */
typedef struct SapDInfo_t {
  struct t_unitdata datagram; /* addr -> dest, opt -> &option, udata -> record */
  int fd; /* the advertisement endpoint, -1 when none */
  int failed_sends; /* consecutive failed sends, reset by a good one */
  unsigned char record[SAP_RECORD_SIZE]; /* the SAP record */
  unsigned char dest[IPX_ADDR_SIZE]; /* network 0, node FF x 6, socket 0x0452 */
  unsigned char option; /* the IPX packet type, 0 */
} SapDInfo_t;
extern SapDInfo_t SapDInfo;

/* One server entry of a response, read from the wire. */
typedef struct sap_entry {
  int type; /* server type */
  char name[SAP_NAME_SIZE + 1]; /* the entry's name, always NUL-terminated */
  unsigned char addr[IPX_ADDR_SIZE];
  int hops;
} sap_entry;

/* The TLI calls of SAP, behind a table so that tests can watch the
** datagrams and fail a call. sap_tli_calls starts at sap_platform_calls. */
typedef struct sap_calls {
  int (*t_open)(const char *path, int oflag, struct t_info *info);
  void *(*t_alloc)(int fd, int struct_type, int fields);
  int (*t_free)(void *ptr, int struct_type);
  int (*t_bind)(int fd, const struct t_bind *req, struct t_bind *ret);
  int (*t_unbind)(int fd);
  int (*t_close)(int fd);
  int (*t_sndudata)(int fd, const struct t_unitdata *unitdata);
  int (*t_rcvudata)(int fd, struct t_unitdata *unitdata, int *flags);
} sap_calls;
extern const sap_calls sap_platform_calls;
extern const sap_calls *sap_tli_calls;

/* The wait of the look-ups made by the SPX addressing (the connect's and
** the advertisement's): SAP_LOOKUP_MS; tests shorten it. */
extern int sap_lookup_timeout_ms;

/* ---- SAP (sap.cpp). ---- */

/* Reads a response datagram of len bytes into out (room for
** SAP_MAX_ENTRIES). Returns the number of entries, or -1 when the
** datagram is no response, is shorter than 2 bytes, is not 2 + 64k bytes
** long, or holds more entries than a response carries. Names are copied
** into NUL-terminated buffers whatever the wire holds. */
int sap_read_response(const unsigned char *data, size_t len, sap_entry *out);
/* 1 when entry answers a query for server type with the upper-case name
** (at most 48 characters): same type and same name; for database servers
** only the part of the entry's name before the first "." counts. */
int sap_entry_matches(const sap_entry *entry, int type, const char *name);

/* Looks up the server name of type. 0 with its IPX address in addr (when
** given), or -1 when nothing answered within timeout_ms or a call failed. */
int sap_getaddress(const char *name, int type, int timeout_ms, unsigned char *addr);
/* Looks up the file server on addr's network. 0 with its name (room
** SAP_NAME_SIZE + 1) in name when given, or -1. */
int sap_fsname(const unsigned char *addr, int timeout_ms, char *name);
/* Sends the advertisement with hop count hops; first opens the endpoint
** and prepares the datagram (name upper-cased, cut to 48 bytes). 0, or -1
** when the name is empty or the endpoint cannot be opened; a failed send
** is only counted. */
int sap_broadcast(const char *name, int type, const unsigned char *addr, int hops, int first);
/* Advertises name: -1 when a server of that name already answers, else
** the first broadcast, the SIGALRM re-advertisement every 59 s and the
** SIGTERM going-down handler; 0. */
int sap_advertise(const char *name, int type, const unsigned char *addr);
/* SIGALRM handler: sends the advertisement again and re-arms. */
void sap_readvertise(int sig);
/* Stops advertising: the going-down broadcast (hop count 16), then the
** endpoint is unbound and closed. 0, or -1 when nothing is advertised. */
int sap_deadvertise(void);
/* SIGTERM handler: the going-down broadcast, the endpoint closed, and
** the process exits with 0. */
void deadver_sighand(int sig);

/* ---- SPX addressing (spx_addr.cpp): slots 14 to 21 of tlispx_opvec. ---- */

int tlispxcons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *drv);
int tlispxtladdr2cons(const tladdr *addr, tlpeeraddr **slot, drvblock *drv, asfsvcctl *ctl);
int tlispx_load_addr(const tladdr *addr, struct netbuf *first, struct netbuf *second);
void tladdr2ipxaddr(const tladdr *addr, void *native);
void ipxaddr2tladdr(const void *native, tladdr *addr);
int tlispx_setopts(drvblock *drv, int fd, int bits);
int tlispx_siginit(Assocctl *assoc, drvblock *drv);
/* The port_bind slot of a listening SPX endpoint: advertises addr's
** service at the bound address (returned), then copies that address into
** addr. 0, or -1 when addr has no service or another server answers the
** name. */
int tlispxport_bind(const struct t_bind *request, const struct t_bind *returned, tladdr *addr);

#ifdef __cplusplus
}
#endif

#endif
