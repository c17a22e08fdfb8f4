/*
** Service advertising over IPX datagrams: the look-up of a server's IPX
** address by name (sap_getaddress) and of a network's file server
** (sap_fsname), and the advertisement of a listening server with its
** re-advertisement on SIGALRM and its going-down broadcast on SIGTERM.
** Called by the SPX addressing (spx_addr.cpp) through the connect and
** listen of the TLI driver; calls the platform's TLI datagram routines
** on SAP_DEVICE through sap_tli_calls.
**
** Names come from the network: every entry is copied into a terminated
** buffer before it is read, and a datagram of any other length than a
** response's is ignored. The signal handlers only send the datagram that
** sap_broadcast prepared, close the endpoint and _exit: nothing that
** allocates or takes a lock.
*/
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "asf_tl.h"
#include "dvz_be.h"
#include "os_stored.h"
#include "spx_records.h"
#include "svr4.h"
#include "tli.h"

extern "C" {
const sap_calls sap_platform_calls = {t_open,   t_alloc, t_free,     t_bind,
                                      t_unbind, t_close, t_sndudata, t_rcvudata};
const sap_calls *sap_tli_calls = &sap_platform_calls;
int sap_lookup_timeout_ms = SAP_LOOKUP_MS;
SapDInfo_t SapDInfo = {{{0, 0, nullptr}, {0, 0, nullptr}, {0, 0, nullptr}}, -1, 0, {}, {}, 0};
}

namespace {

const sap_calls &sap() { return *sap_tli_calls; }

/* The destination of every SAP datagram: network 0, broadcast node, the
** SAP socket. */
constexpr unsigned char sap_destination[IPX_ADDR_SIZE] = {0,    0,    0,    0,    0xff, 0xff,
                                                          0xff, 0xff, 0xff, 0xff, 0x04, 0x52};

/* The first SAP_NAME_SIZE characters of name, upper-cased, into out
** (room SAP_NAME_SIZE + 1), NUL-padded. */
void upper_name(const char *name, char *out) {
  std::memset(out, 0, SAP_NAME_SIZE + 1);
  for (size_t i = 0; i < SAP_NAME_SIZE && name[i] != '\0'; ++i)
    out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
}

/* Opens a datagram endpoint on SAP_DEVICE bound to any address (a
** 12-byte request of zeros). The descriptor, or -1 with nothing open. */
int open_endpoint() {
  int fd = sap().t_open(SAP_DEVICE, O_RDWR, nullptr);
  if (fd < 0) return -1;
  auto *req = static_cast<struct t_bind *>(sap().t_alloc(fd, T_BIND, T_ALL));
  auto *ret =
      req == nullptr ? nullptr : static_cast<struct t_bind *>(sap().t_alloc(fd, T_BIND, T_ALL));
  int rc = -1;
  if (ret != nullptr && req->addr.buf != nullptr && req->addr.maxlen >= IPX_ADDR_SIZE) {
    std::memset(req->addr.buf, 0, IPX_ADDR_SIZE);
    req->addr.len = IPX_ADDR_SIZE;
    req->qlen = 0;
    rc = sap().t_bind(fd, req, ret);
  }
  sap().t_free(req, T_BIND);
  sap().t_free(ret, T_BIND);
  if (rc != 0) {
    sap().t_close(fd);
    return -1;
  }
  return fd;
}

void close_endpoint(int fd) {
  sap().t_unbind(fd);
  sap().t_close(fd);
}

/* What a look-up is after: the first entry that satisfies it ends the
** search. */
struct Wanted {
  int type;
  const char *name; /* upper case; null for a file server by network */
  const unsigned char *network; /* the 4-byte network of sap_fsname */
};

bool answers(const sap_entry &e, const Wanted &w) {
  if (w.name != nullptr) return sap_entry_matches(&e, w.type, w.name) != 0;
  return e.type == w.type && bycmpr(e.addr + IPX_OFF_NETWORK, w.network, 4) == 0;
}

/* Queries for w.type and reads the responses until an entry answers w,
** the wait passes timeout_ms, or a call fails. 0 with the entry in *found,
** else -1. */
int lookup(const Wanted &w, int timeout_ms, sap_entry *found) {
  int fd = open_endpoint();
  if (fd < 0) return -1;
  unsigned char query[SAP_QUERY_SIZE];
  dvz_st_be_u16(SAP_OP_QUERY, query + SAP_OFF_OPERATION);
  dvz_st_be_u16(static_cast<uint16_t>(w.type), query + SAP_OFF_TYPE);
  unsigned char dest[IPX_ADDR_SIZE];
  std::memcpy(dest, sap_destination, sizeof dest);
  unsigned char option = 0;
  struct t_unitdata out {};
  out.addr = {sizeof dest, sizeof dest, reinterpret_cast<char *>(dest)};
  out.opt = {1, 1, reinterpret_cast<char *>(&option)};
  out.udata = {sizeof query, sizeof query, reinterpret_cast<char *>(query)};
  if (sap().t_sndudata(fd, &out) != 0) {
    close_endpoint(fd);
    return -1;
  }

  const int64_t start = asf_now_ms();
  int rc = -1;
  unsigned char data[SAP_RECV_SIZE];
  unsigned char from[IPX_ADDR_SIZE];
  unsigned char opt[1];
  sap_entry entries[SAP_MAX_ENTRIES];
  for (bool done = false; !done;) {
    const int64_t left = timeout_ms - (asf_now_ms() - start);
    struct pollfd p = {fd, POLLIN | POLLPRI, 0};
    int n = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (n < 0 && errno == EINTR) {
      if (asf_now_ms() - start >= timeout_ms) break;
      continue;
    }
    if (n <= 0 || p.revents != POLLIN) break;
    struct t_unitdata in {};
    in.addr = {sizeof from, 0, reinterpret_cast<char *>(from)};
    in.opt = {sizeof opt, 0, reinterpret_cast<char *>(opt)};
    in.udata = {sizeof data, 0, reinterpret_cast<char *>(data)};
    int flags = 0;
    if (sap().t_rcvudata(fd, &in, &flags) != 0) break;
    int count = sap_read_response(data, in.udata.len, entries);
    for (int i = 0; i < count; ++i) {
      if (answers(entries[i], w)) {
        *found = entries[i];
        rc = 0;
        done = true;
        break;
      }
    }
    if (!done && (asf_now_ms() - start) / 1000 > timeout_ms / 1000) break;
  }
  close_endpoint(fd);
  return rc;
}

/* Sends the prepared advertisement; counts a failure. Safe in a signal
** handler: the datagram and its destination are ready in SapDInfo. */
void send_advertisement() {
  if (sap_tli_calls->t_sndudata(SapDInfo.fd, &SapDInfo.datagram) == 0)
    SapDInfo.failed_sends = 0;
  else
    ++SapDInfo.failed_sends;
}

void set_hops(int hops) {
  SapDInfo.record[SAP_OFF_HOPS] = static_cast<unsigned char>((hops >> 8) & 0xff);
  SapDInfo.record[SAP_OFF_HOPS + 1] = static_cast<unsigned char>(hops & 0xff);
}

}  // namespace

extern "C" {

int sap_read_response(const unsigned char *data, size_t len, sap_entry *out) {
  if (data == nullptr || len < 2 || (len - 2) % SAP_ENTRY_SIZE != 0) return -1;
  const size_t count = (len - 2) / SAP_ENTRY_SIZE;
  if (count > SAP_MAX_ENTRIES || dvz_ld_be_u16(data) != SAP_OP_RESPONSE) return -1;
  for (size_t i = 0; i < count; ++i) {
    // An entry is a record without its operation word.
    const unsigned char *e = data + 2 + i * SAP_ENTRY_SIZE - 2;
    sap_entry &x = out[i];
    x.type = dvz_ld_be_u16(e + SAP_OFF_TYPE);
    std::memcpy(x.name, e + SAP_OFF_NAME, SAP_NAME_SIZE);
    x.name[SAP_NAME_SIZE] = '\0';
    std::memcpy(x.addr, e + SAP_OFF_ADDR, IPX_ADDR_SIZE);
    x.hops = dvz_ld_be_u16(e + SAP_OFF_HOPS);
  }
  return static_cast<int>(count);
}

int sap_entry_matches(const sap_entry *entry, int type, const char *name) {
  if (entry == nullptr || name == nullptr || entry->type != type) return 0;
  if (type != SAP_TYPE_DBSERVER) return std::strncmp(entry->name, name, SAP_NAME_SIZE) == 0;
  // A database server's entry may carry ".zone#suffix" after its name.
  char server[SAP_NAME_SIZE + 1] = "";
  char zone[SAP_NAME_SIZE + 1] = "";
  char rest[SAP_NAME_SIZE + 1] = "";
  if (std::sscanf(entry->name, "%48[^.].%48[^#]#%48s", server, zone, rest) < 1) server[0] = '\0';
  return std::strncmp(server, name, SAP_NAME_SIZE) == 0;
}

int sap_getaddress(const char *name, int type, int timeout_ms, unsigned char *addr) {
  if (name == nullptr) return -1;
  char upper[SAP_NAME_SIZE + 1];
  upper_name(name, upper);
  sap_entry found;
  if (lookup(Wanted {type, upper, nullptr}, timeout_ms, &found) != 0) return -1;
  if (addr != nullptr) std::memcpy(addr, found.addr, IPX_ADDR_SIZE);
  return 0;
}

int sap_fsname(const unsigned char *addr, int timeout_ms, char *name) {
  if (addr == nullptr) return -1;
  sap_entry found;
  if (lookup(Wanted {SAP_TYPE_FILESERVER, nullptr, addr + IPX_OFF_NETWORK}, timeout_ms, &found) !=
      0)
    return -1;
  if (name != nullptr) std::memcpy(name, found.name, SAP_NAME_SIZE + 1);
  return 0;
}

int sap_broadcast(const char *name, int type, const unsigned char *addr, int hops, int first) {
  // The handlers send SapDInfo as it stands: they wait while it changes.
  svr4::SignalBlock block {SIGALRM, SIGTERM};
  if (first != 0) {
    if (name == nullptr || name[0] == '\0' || addr == nullptr) return -1;
    if (SapDInfo.fd >= 0) {
      close_endpoint(SapDInfo.fd);
      SapDInfo.fd = -1;
    }
    int fd = open_endpoint();
    if (fd < 0) return -1;
    SapDInfo.fd = fd;
    SapDInfo.failed_sends = 0;
    std::memcpy(SapDInfo.dest, sap_destination, IPX_ADDR_SIZE);
    SapDInfo.option = 0;
    std::memset(SapDInfo.record, 0, sizeof SapDInfo.record);
    dvz_st_be_u16(SAP_OP_RESPONSE, SapDInfo.record + SAP_OFF_OPERATION);
    dvz_st_be_u16(static_cast<uint16_t>(type), SapDInfo.record + SAP_OFF_TYPE);
    char upper[SAP_NAME_SIZE + 1];
    upper_name(name, upper);
    std::memcpy(SapDInfo.record + SAP_OFF_NAME, upper, SAP_NAME_SIZE);
    std::memcpy(SapDInfo.record + SAP_OFF_ADDR, addr, IPX_ADDR_SIZE);
    SapDInfo.datagram.addr = {IPX_ADDR_SIZE, IPX_ADDR_SIZE,
                              reinterpret_cast<char *>(SapDInfo.dest)};
    SapDInfo.datagram.opt = {1, 1, reinterpret_cast<char *>(&SapDInfo.option)};
    SapDInfo.datagram.udata = {SAP_RECORD_SIZE, SAP_RECORD_SIZE,
                               reinterpret_cast<char *>(SapDInfo.record)};
  }
  if (SapDInfo.fd < 0) return -1;
  set_hops(hops);
  send_advertisement();
  return 0;
}

int sap_advertise(const char *name, int type, const unsigned char *addr) {
  if (sap_getaddress(name, type, sap_lookup_timeout_ms, nullptr) == 0) return -1;
  if (sap_broadcast(name, type, addr, 0, 1) != 0) return -1;
  svr4_signal(SIGALRM, sap_readvertise);
  alarm(SAP_READVERTISE_SECONDS);
  svr4_signal(SIGTERM, deadver_sighand);
  return 0;
}

void sap_readvertise(int) {
  const int saved_errno = errno;
  const int saved_t_errno = t_errno;
  if (SapDInfo.fd >= 0) {
    set_hops(0);
    send_advertisement();
  }
  svr4_signal(SIGALRM, sap_readvertise);
  alarm(SAP_READVERTISE_SECONDS);
  t_errno = saved_t_errno;
  errno = saved_errno;
}

int sap_deadvertise(void) {
  svr4_signal(SIGALRM, SIG_IGN);
  alarm(0);
  if (SapDInfo.fd < 0) return -1;
  set_hops(SAP_HOPS_DOWN);
  send_advertisement();
  close_endpoint(SapDInfo.fd);
  SapDInfo.fd = -1;
  return 0;
}

void deadver_sighand(int) {
  svr4_signal(SIGALRM, SIG_IGN);
  alarm(0);
  if (SapDInfo.fd >= 0) {
    set_hops(SAP_HOPS_DOWN);
    send_advertisement();
    // A plain close: the process ends here, and the TLI layer's
    // bookkeeping of t_close is not for a signal handler.
    close(SapDInfo.fd);
    SapDInfo.fd = -1;
  }
  _exit(0);
}

}  // extern "C"
