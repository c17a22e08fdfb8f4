/*
** SPX and IPX addressing of the TLI driver: the address text (host "|"
** service "|" protocol) to a transport address holding a server name and
** a 12-byte IPX address found through SAP, and back to text with the
** peer's file server as host; the provider's 12-byte address buffers;
** and the listening bind, which advertises the server. The TLI driver
** (tli_driver.cpp, tli_listen.cpp) reaches these through slots 14 to 21
** of tlispx_opvec; the protocol switch carries the two conversions in its
** "tlispx" and "tliipx" rows. SAP itself is sap.cpp.
*/
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <strings.h>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "spx_records.h"
#include "tl_records.h"

namespace {

/* What tlispx_siginit was given; nothing reads it. */
Assocctl *sig_assoc = nullptr;
drvblock *sig_drv = nullptr;

constexpr const char *spx_protocol = "tlispx";

/* True when name, advertised by whoever answers SAP, is one of this
** host's own names ("localhost", the node name), which the login check
** takes for this host; an IPX peer is never this host by its address. */
bool claims_this_host(const char *name) {
  char node[ASF_NODENAME_SIZE];
  return strcasecmp(name, "localhost") == 0 || rhostname(node, sizeof node) != 0 ||
         strcasecmp(name, node) == 0;
}

/* The host part of a peer text for the IPX address addr into out (room
** size): the file server of its network in lower case, else (also for a
** server named as this host) "<UNKNOWN-HOST>" with the network and node
** in hexadecimal. */
void peer_host(const unsigned char *addr, char *out, size_t size) {
  char name[SAP_NAME_SIZE + 1];
  if (sap_fsname(addr, sap_lookup_timeout_ms, name) == 0 && !claims_this_host(name)) {
    size_t i = 0;
    for (; name[i] != '\0' && i + 1 < size; ++i)
      out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    out[i] = '\0';
    return;
  }
  const unsigned char *n = addr + IPX_OFF_NETWORK;
  const unsigned char *h = addr + IPX_OFF_NODE;
  std::snprintf(out, size, "<UNKNOWN-HOST>%02x%02x%02x%02x-%02x%02x%02x%02x%02x%02x", n[0], n[1],
                n[2], n[3], h[0], h[1], h[2], h[3], h[4], h[5]);
}

}  // namespace

extern "C" {

/* Converts the address text into addr's server name and, on a connecting
** block, the IPX address that SAP gives for it. 0, or -1 with asfcode
** -25591 (no text, no host or service, a text over 399 characters or a
** service over 48) or -908 (no server answered), oserr 0. */
int tlispxcons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *drv) {
  if (text == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  const size_t len = std::strlen(text);
  const char *bar = std::strchr(text, '|');
  if (len > ASF_TLADDR_TEXT_MAX || bar == nullptr || bar == text) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  const char *service = bar + 1;
  const char *end = std::strchr(service, '|');
  const size_t service_len =
      end != nullptr ? static_cast<size_t>(end - service) : len - (service - text);
  if (service_len == 0 || service_len > TL_SPX_SERVICE_MAX) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  std::memset(addr->service, 0, sizeof addr->service);
  std::memcpy(addr->service, service, service_len);
  if (drv != nullptr && (drv->flags & DRV_CONNECTING) != 0 &&
      sap_getaddress(addr->service, SAP_TYPE_DBSERVER, sap_lookup_timeout_ms, addr->ipx) != 0) {
    driver_error(ctl, TLI_ERR_CONNECT, 0);
    return -1;
  }
  return 0;
}

/* Writes addr as text (host "|" server name "|" "tlispx") into the peer
** address record of *slot, made when *slot is null; the form is 8. 0, or
** -1 with -406 stored and whatever this call allocated freed. */
int tlispxtladdr2cons(const tladdr *addr, tlpeeraddr **slot, drvblock *, asfsvcctl *ctl) {
  tlpeerfill f;
  if (tl_peer_begin(&f, slot, ctl) != 0) return -1;
  char host[SAP_NAME_SIZE + 16];
  peer_host(addr->ipx, host, sizeof host);
  char service[TL_SPX_SERVICE_MAX + 1];
  std::memcpy(service, addr->service, TL_SPX_SERVICE_MAX);
  service[TL_SPX_SERVICE_MAX] = '\0';
  std::snprintf(f.text, TL_PEER_TEXT_SIZE, "%s|%s|%s", host, service, spx_protocol);
  return tl_peer_end(&f, 8, 1);
}

/* Fills first (when given) with addr's IPX address (zeros without addr)
** and second (when given) with 12 zero bytes, both of length 12. 0. */
int tlispx_load_addr(const tladdr *addr, struct netbuf *first, struct netbuf *second) {
  if (first != nullptr) {
    first->maxlen = IPX_ADDR_SIZE;
    first->len = IPX_ADDR_SIZE;
    if (first->buf != nullptr) {
      if (addr != nullptr)
        std::memcpy(first->buf, addr->ipx, IPX_ADDR_SIZE);
      else
        std::memset(first->buf, 0, IPX_ADDR_SIZE);
    }
  }
  if (second != nullptr) {
    second->maxlen = IPX_ADDR_SIZE;
    second->len = IPX_ADDR_SIZE;
    if (second->buf != nullptr) std::memset(second->buf, 0, IPX_ADDR_SIZE);
  }
  return 0;
}

/* The 12-byte IPX address of addr at native. */
void tladdr2ipxaddr(const tladdr *addr, void *native) {
  std::memcpy(native, addr->ipx, IPX_ADDR_SIZE);
}

/* The 12-byte IPX address at native into addr. */
void ipxaddr2tladdr(const void *native, tladdr *addr) {
  std::memcpy(addr->ipx, native, IPX_ADDR_SIZE);
}

/* SPX has no endpoint options. 0. */
int tlispx_setopts(drvblock *, int, int) { return 0; }

/* Remembers its arguments; SPX arms no signal. 0. */
int tlispx_siginit(Assocctl *assoc, drvblock *drv) {
  sig_assoc = assoc;
  sig_drv = drv;
  return 0;
}

int tlispxport_bind(const struct t_bind *, const struct t_bind *returned, tladdr *addr) {
  if (addr == nullptr || addr->service[0] == '\0' || returned == nullptr ||
      returned->addr.buf == nullptr || returned->addr.len < IPX_ADDR_SIZE)
    return -1;
  const auto *bound = reinterpret_cast<const unsigned char *>(returned->addr.buf);
  int rc = sap_advertise(addr->service, SAP_TYPE_DBSERVER, bound);
  ipxaddr2tladdr(bound, addr);
  return rc;
}

}  // extern "C"
