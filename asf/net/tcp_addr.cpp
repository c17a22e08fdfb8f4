/*
** TCP addressing of the TLI driver: the address text of a server entry
** (host "|" service "|" protocol) to a transport address and back, the
** provider's 16-byte internet socket addresses, the endpoint options, and
** the expedited-data signal of an endpoint. The TLI driver (tli_driver.cpp)
** and the listen entries reach these through the operation vectors of
** driver types 0 and 17; the protocol switch carries the two conversions.
**
** Host and service look-ups go through the client environment's wrappers
** (and so its resolver seam). TLI calls go through tli_driver_calls under
** the drivers' retry rule. One endpoint per process can have the
** expedited-data signal: the last tlitcp_siginit names it.
*/
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "os_context.h"
#include "os_wrappers.h"
#include "svr4.h"
#include "tl_records.h"
#include "tli.h"

namespace {

constexpr unsigned int sockaddr_in_size = 16;
constexpr int addr_family_inet = 2;
constexpr uint32_t loopback = 0x7f000001u;

/* Option levels and names of the option records. */
constexpr int opt_level_tcp = 6;
constexpr int opt_level_socket = 65535;
constexpr int opt_nodelay = 1;
constexpr int opt_reuseaddr = 4;
constexpr int opt_keepalive = 8;
constexpr int opt_linger = 128;
constexpr int linger_seconds = 60;
constexpr unsigned int option_record_size = 16;

/* Option bits handed to setopts. */
constexpr int bit_nodelay = 1;
constexpr int bit_keepalive = 2;
constexpr int bit_linger = 4;
constexpr int bit_unused = 8;
constexpr int options_keepalive = bit_nodelay | bit_keepalive | bit_linger | bit_unused;
constexpr int options_no_keepalive = bit_nodelay | bit_linger | bit_unused;

/* The byte stored in the expedited slot for a disconnect. */
constexpr char disconnect_byte = 'K';

/* The endpoint the expedited-data signal serves. Written by
** tlitcp_siginit and tlitcp_sigforget, read by the handler. */
Assocctl *volatile tlitcp_exp_rsc = nullptr;
drvblock *volatile tlitcp_exp_netctxp = nullptr;

/* The option negotiations of tlitcp_setopts, in order. */
struct OptionStep {
  int bit; /* setopts bit that asks for it; 0 always */
  int level, name, value;
  uint32_t confirmed; /* option state bit, 0 when not looked at */
};
constexpr OptionStep option_steps[] = {
    {bit_nodelay, opt_level_tcp, opt_nodelay, 1, drv_opt_nodelay},
    {0, opt_level_socket, opt_reuseaddr, 1, 0},
    {bit_keepalive, opt_level_socket, opt_keepalive, 1, drv_opt_keepalive},
    {bit_linger, opt_level_socket, opt_linger, linger_seconds, drv_opt_linger},
};

/* The option queried by tlitcp_getopts, by the first bit present. */
struct OptionQuery {
  int bit, level, name;
};
constexpr OptionQuery option_queries[] = {
    {bit_keepalive, opt_level_socket, opt_keepalive},
    {bit_nodelay, opt_level_tcp, opt_nodelay},
    {bit_linger, opt_level_socket, opt_linger},
};

/* Host-order 32-bit words of an option record. */
void put_word(char *record, int index, int value) {
  std::memcpy(record + 4 * index, &value, sizeof value);
}
int get_word(const char *record, int index) {
  int value;
  std::memcpy(&value, record + 4 * index, sizeof value);
  return value;
}

/* The port of service (empty: 0; digits: the number's low 16 bits; else
** a "tcp" service) in network byte order into *port. 0, or -1 with the
** status stored. */
int service_port(const char *service, uint16_t *port, asfsvcctl *ctl) {
  if (*service == '\0') {
    *port = 0;
    return 0;
  }
  if (isstrdigit(service)) {
    *port = htons(static_cast<uint16_t>(std::strtol(service, nullptr, 10)));
    return 0;
  }
  auto *s = static_cast<osservent_t *>(asf_alloc(asf_pool_temp, sizeof(osservent_t)));
  if (s == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  int rc = _osgetservbyname(service, "tcp", s);
  if (rc != 0) {
    driver_error(ctl, TCP_ERR_NOSERVICE, errno);
    asf_set_errstr(ctl, service);
  } else {
    *port = static_cast<uint16_t>(s->port);
  }
  asf_free(asf_pool_temp, s);
  return rc != 0 ? -1 : 0;
}

/* The IPv4 address of host in network byte order into *ip: dotted text
** as inet_addr reads it, else the host database's first address. 0, or
** -1 with the status stored (-930 with the host in errstr). */
int host_address(const char *host, uint32_t *ip, asfsvcctl *ctl) {
  if (isipaddr(host)) {
    // inet_addr's "no address" is also 255.255.255.255: ask inet_aton,
    // which refuses exactly the texts inet_addr refuses.
    struct in_addr in;
    if (inet_aton(host, &in) == 0) {
      driver_error(ctl, TCP_ERR_NOHOST, 0);
      asf_set_errstr(ctl, host);
      return -1;
    }
    *ip = in.s_addr;
    return 0;
  }
  auto *h = static_cast<oshostent_t *>(asf_alloc(asf_pool_temp, sizeof(oshostent_t)));
  if (h == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  int rc = _osgethostbyname(host, h);
  if (rc != 0) {
    driver_error(ctl, TCP_ERR_NOHOST, 0);
    asf_set_errstr(ctl, host);
  } else {
    std::memcpy(ip, h->address, sizeof *ip);
  }
  asf_free(asf_pool_temp, h);
  return rc != 0 ? -1 : 0;
}

/* True when ip (network order) is this host's: a loopback address or an
** IPv4 address of one of its interfaces. */
bool is_local_address(uint32_t ip) {
  if ((ntohl(ip) >> 24) == (loopback >> 24)) return true;
  struct ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (const struct ifaddrs *i = list; i != nullptr && !found; i = i->ifa_next)
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET)
      found = reinterpret_cast<const struct sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr == ip;
  freeifaddrs(list);
  return found;
}

/* True when the reverse name of ip (network order) may stand for the
** peer: a forward look-up of name lists ip, and this host's own names
** ("localhost", the node name), which the login check takes for this
** host, go only to an address of this host. Anyone may publish any
** reverse name for an address of their own. */
bool reverse_name_stands(const char *name, uint32_t ip) {
  int herr = 0;
  const struct hostent *forward = dvz_gethostbyname(name, &herr);
  if (forward == nullptr || forward->h_addrtype != AF_INET || forward->h_length != 4 ||
      forward->h_addr_list == nullptr)
    return false;
  bool listed = false;
  for (char *const *a = forward->h_addr_list; *a != nullptr && !listed; ++a)
    listed = std::memcmp(*a, &ip, 4) == 0;
  if (!listed) return false;
  char node[ASF_NODENAME_SIZE];
  const bool own_name = std::strcmp(name, "localhost") == 0 || rhostname(node, sizeof node) != 0 ||
                        std::strcmp(name, node) == 0;
  return !own_name || is_local_address(ip);
}

/* The host part of a peer address into out (room size): a name, or the
** address in hexadecimal (*hex true), also for a reverse name that does
** not stand (reverse_name_stands). 0, or -1 with -406 stored. */
int host_text(const tladdr *addr, const drvblock *drv, char *out, size_t size, bool *hex,
              asfsvcctl *ctl) {
  *hex = false;
  const uint32_t ip = ntohl(addr->ipaddr);
  if (ip == loopback) {
    std::snprintf(out, size, "localhost");
    return 0;
  }
  if (ip == 0) {
    std::snprintf(out, size, "WILDCARD");
    return 0;
  }
  if (addr->ipaddr == drv->repaddr.ipaddr && drv->repaddr.ipaddr == drv->reqaddr.ipaddr) {
    char node[ASF_NODENAME_SIZE];
    if (rhostname(node, sizeof node) != 0) {
      driver_error(ctl, ASF_ERR_MEMORY, errno);
      return -1;
    }
    std::snprintf(out, size, "%s", node);
    return 0;
  }
  auto *h = static_cast<oshostent_t *>(asf_alloc(asf_pool_temp, sizeof(oshostent_t)));
  if (h == nullptr) {
    driver_error(ctl, ASF_ERR_MEMORY, ENOMEM);
    return -1;
  }
  if (_osgethostbyaddr(reinterpret_cast<const char *>(&addr->ipaddr), 4, addr_family_inet, h) ==
          0 &&
      reverse_name_stands(h->name, addr->ipaddr)) {
    std::snprintf(out, size, "%s", h->name);
  } else {
    std::snprintf(out, size, "%x", ip);
    *hex = true;
  }
  asf_free(asf_pool_temp, h);
  return 0;
}

/* One option negotiation or query on fd: the request record in req, the
** answer's value into *value. 0, or -1 when t_optmgmt failed. */
int option_call(int fd, char *req, unsigned int reqlen, int flags, int *value) {
  char answer[option_record_size] = {};
  struct t_optmgmt request {};
  request.opt.maxlen = reqlen;
  request.opt.len = reqlen;
  request.opt.buf = req;
  request.flags = flags;
  struct t_optmgmt ret {};
  ret.opt.maxlen = sizeof answer;
  ret.opt.buf = answer;
  if (tli_retry([&] { return tli_driver_calls->t_optmgmt(fd, &request, &ret); }) != 0) return -1;
  *value = get_word(answer, 3);
  return 0;
}

/* The endpoint descriptor of drv, or -1. */
int endpoint_of(const drvblock *drv) {
  const auto *t = drv != nullptr ? static_cast<const tlictl *>(drv->priv) : nullptr;
  return t != nullptr ? t->fd : -1;
}

}  // namespace

extern "C" {

/* Converts the address text (host "|" service "|" protocol) into addr's
** IPv4 address and port. 0, or -1 with asfcode -25591 (no text, fewer
** than two bars, over 399 characters), -931 (unknown service, in errstr),
** -930 (unknown or malformed host, in errstr) or -406. */
int tcpcons2tladdr(const char *text, tladdr *addr, asfsvcctl *ctl, drvblock *drv) {
  if (text == nullptr) {
    ctl->asfcode = ASF_ERR_BADADDR;
    return -1;
  }
  const size_t len = std::strlen(text);
  if (len > ASF_TLADDR_TEXT_MAX) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  char copy[ASF_TLADDR_TEXT_MAX + 1];
  std::memcpy(copy, text, len + 1);
  char *last = std::strrchr(copy, '|');
  if (last == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  *last = '\0';
  char *bar = std::strchr(copy, '|');
  if (bar == nullptr) {
    driver_error(ctl, ASF_ERR_BADADDR, 0);
    return -1;
  }
  *bar = '\0';
  const char *host = copy;
  const char *service = bar + 1;

  uint16_t port = 0;
  if (service_port(service, &port, ctl) != 0) return -1;
  addr->port = port;

  if (*host == '*') {
    ++host;
    if (drv != nullptr && (drv->flags & DRV_LISTENING) != 0) {
      addr->ipaddr = 0;
      return 0;
    }
  }
  uint32_t ip = 0;
  if (host_address(host, &ip, ctl) != 0) return -1;
  addr->ipaddr = ip;
  return 0;
}

/* Writes addr as text (host "|" port "|" protocol) into the peer address
** record of *slot, made when *slot is null. 0, or -1 with -406 stored
** and whatever this call allocated freed. */
int tcptladdr2cons(const tladdr *addr, tlpeeraddr **slot, drvblock *drv, asfsvcctl *ctl) {
  tlpeerfill f;
  if (tl_peer_begin(&f, slot, ctl) != 0) return -1;
  char host[ASF_NODENAME_SIZE];
  bool hex = false;
  if (host_text(addr, drv, host, sizeof host, &hex, ctl) != 0) return tl_peer_end(&f, 0, 0);
  std::snprintf(f.text, TL_PEER_TEXT_SIZE, "%s|%d|%s", host,
                ntohs(static_cast<uint16_t>(addr->port)),
                drv->protname != nullptr ? drv->protname : "");
  return tl_peer_end(&f, hex ? 2 : 8, 1);
}

/* Fills first (when given) with addr's socket address, and makes second
** (when given) ready to receive one. 0. */
int tlitcp_load_addr(const tladdr *addr, struct netbuf *first, struct netbuf *second) {
  if (addr != nullptr && first != nullptr) {
    first->maxlen = sockaddr_in_size;
    first->len = sockaddr_in_size;
    tladdr2sockaddr_in(addr, first->buf);
  }
  if (second != nullptr) {
    second->maxlen = sockaddr_in_size;
    second->len = sockaddr_in_size;
  }
  return 0;
}

/* The 16-byte internet socket address of addr at sockaddr. */
void tladdr2sockaddr_in(const tladdr *addr, void *sockaddr) {
  struct sockaddr_in in;
  static_assert(sizeof in == sockaddr_in_size);
  std::memset(&in, 0, sizeof in);
  in.sin_family = addr_family_inet;
  in.sin_port = static_cast<uint16_t>(addr->port);
  in.sin_addr.s_addr = addr->ipaddr;
  std::memcpy(sockaddr, &in, sizeof in);
}

/* The address and port of the socket address at sockaddr into addr. */
void sockaddr_in2tladdr(const void *sockaddr, tladdr *addr) {
  struct sockaddr_in in;
  std::memcpy(&in, sockaddr, sizeof in);
  addr->ipaddr = in.sin_addr.s_addr;
  addr->port = in.sin_port;
}

/* 0 when the port bound (returned) is the port asked for (request). */
int tlitcpport_bind(const struct t_bind *request, const struct t_bind *returned, tladdr *) {
  if (request == nullptr || returned == nullptr || request->addr.buf == nullptr ||
      returned->addr.buf == nullptr || request->addr.len < sockaddr_in_size ||
      returned->addr.len < sockaddr_in_size)
    return -1;
  struct sockaddr_in asked, bound;
  std::memcpy(&asked, request->addr.buf, sizeof asked);
  std::memcpy(&bound, returned->addr.buf, sizeof bound);
  return asked.sin_port == bound.sin_port ? 0 : -1;
}

/* Negotiates what bits ask for (1 no-delay, 2 keep-alive, 4 linger 60;
** address reuse always) and records in drv's option state what the
** provider confirmed. 0 whatever the outcome. */
int tlitcp_setopts(drvblock *drv, int fd, int bits) {
  for (const OptionStep &step : option_steps) {
    if (step.bit != 0 && (bits & step.bit) == 0) continue;
    char req[option_record_size];
    put_word(req, 0, step.level);
    put_word(req, 1, step.name);
    put_word(req, 2, 4);
    put_word(req, 3, step.value);
    int value = 0;
    if (option_call(fd, req, sizeof req, T_NEGOTIATE, &value) == 0 && step.confirmed != 0 &&
        value == step.value)
      drv->optstate |= step.confirmed;
  }
  return 0;
}

/* The value of the first option bits names (2 keep-alive, 1 no-delay, 4
** linger), or -1 when t_optmgmt fails or no such bit is given. */
int tlitcp_getopts(drvblock *, int fd, int bits) {
  for (const OptionQuery &q : option_queries) {
    if ((bits & q.bit) == 0) continue;
    char req[option_record_size] = {};
    put_word(req, 0, q.level);
    put_word(req, 1, q.name);
    put_word(req, 2, 0);
    int value = 0;
    return option_call(fd, req, 0, T_DEFAULT, &value) == 0 ? value : -1;
  }
  return -1;
}

/* Arms the expedited-data signal on drv's endpoint for assoc. 0, even
** when the signal request fails. */
int tlitcp_siginit(Assocctl *assoc, drvblock *drv) {
  tlitcp_exp_rsc = assoc;
  tlitcp_exp_netctxp = drv;
  svr4_sigset(SIGPOLL, tlitcp_sighand);
  // Our stream-head stand-in reports urgent data with SIGURG.
  svr4_sigset(SIGURG, tlitcp_sighand);
  int fd = endpoint_of(drv);
  if (fd >= 0) tli_setsig_retry(fd, S_INPUT);
  return 0;
}

/* The expedited-data signal: an urgent byte goes to the association's
** expedited slot (normal data is left for the receive); a disconnect
** leaves status byte 1 and the expedited byte "K". */
void tlitcp_sighand(int) {
  const int saved_errno = errno;
  const int saved_t_errno = t_errno;
  Assocctl *assoc = tlitcp_exp_rsc;
  drvblock *drv = tlitcp_exp_netctxp;
  int fd = endpoint_of(drv);
  if (assoc != nullptr && fd >= 0) {
    tli_retry([&] { return tli_driver_calls->t_look(fd); });
    int event = tli_driver_calls->t_look(fd);
    rscbufctl *x = nullptr;
    if (event > 0 && (event & T_EXDATA) != 0) {
      if (bufGet(assoc, asf_sel_xrecv, &x) == 0) {
        // Read only while the urgent byte is what is pending: a byte read
        // past it would be normal data lost to the receive.
        while ((tli_driver_calls->t_look(fd) & T_EXDATA) != 0) {
          int flags = 0;
          t_errno = 0;
          errno = 0;
          int n = tli_retry([&] { return tli_driver_calls->t_rcv(fd, x->buff, 1, &flags); });
          if (n <= 0) break;
          if ((flags & T_EXPEDITED) != 0) {
            x->p = x->buff;
            x->size = 1;
            break;
          }
        }
        bufReg(assoc, asf_sel_xrecv, x);
      }
    } else if (event > 0 && (event & T_DISCONNECT) != 0) {
      char *status = nullptr;
      if (bufGet(assoc, asf_sel_xrecv, &x) == 0) {
        if (bufStateGet(assoc, &status) != -1 && status != nullptr) {
          status[0] = 1;
          x->buff[0] = disconnect_byte;
          x->p = x->buff;
          x->size = 1;
        }
        bufReg(assoc, asf_sel_xrecv, x);
      }
    }
  }
  t_errno = saved_t_errno;
  errno = saved_errno;
}

void tlitcp_sigforget(const drvblock *drv) {
  if (drv != nullptr && tlitcp_exp_netctxp == drv) {
    tlitcp_exp_netctxp = nullptr;
    tlitcp_exp_rsc = nullptr;
  }
}

/* 15 when the sqlhosts keep-alive word is set, else 13. */
int net_setoptions(uint32_t keepalive) {
  return keepalive != 0 ? options_keepalive : options_no_keepalive;
}

/* 1 when text holds only decimal digits and dots (the empty text too). */
int isipaddr(const char *text) {
  if (text == nullptr) return 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p)
    if (*p != '.' && (_ixctype[*p + 1] & os_ct_digit) == 0) return 0;
  return 1;
}

/* Writes "a.b.c.d.|port|protocol" for addr into out. 0. */
int tcptladdr2netf(const tladdr *addr, char *out, drvblock *drv) {
  const auto *b = reinterpret_cast<const unsigned char *>(&addr->ipaddr);
  std::sprintf(out, "%u.%u.%u.%u.|%d|%s", b[0], b[1], b[2], b[3],
               ntohs(static_cast<uint16_t>(addr->port)),
               drv->protname != nullptr ? drv->protname : "");
  return 0;
}

/* The platform's getservbyport: its entry, or null. */
struct servent *dvz_getservbyport(int port, const char *protocol) {
  return getservbyport(port, protocol);
}
}
