/*
** The TLI calls over BSD sockets. Called by the TLI driver of the
** association services (and its tests); calls only the C library.
**
** Each endpoint is the socket itself: the caller may poll it, switch it
** with fcntl and hand it across exec (never close-on-exec). Beside it the
** layer keeps, in a table indexed by descriptor, what a socket does not
** remember: the TLI state, an event already seen and held for t_look (a
** finished connect, a disconnect whose error the kernel has handed over
** once), and the connections a listening endpoint has accepted but not yet
** handed on. Events that the socket still shows (data, urgent data, EOF)
** are read from it afresh at each call.
*/
#include "tli.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
int t_errno = 0;
}

namespace {

/* /dev/tcp addresses are the 16-byte internet socket address itself. */
int tcp_to_socket(const char *addr, unsigned int len, sockaddr_storage *out, socklen_t *outlen) {
  sockaddr_in in {};
  if (len == 0) {
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    if (addr == nullptr || len < sizeof in) return -1;
    std::memcpy(&in, addr, sizeof in);
    if (in.sin_family != AF_INET) return -1;
  }
  std::memset(out, 0, sizeof *out);
  std::memcpy(out, &in, sizeof in);
  *outlen = sizeof in;
  return 0;
}

int tcp_from_socket(const sockaddr *sa, socklen_t salen, char *out, unsigned int maxlen) {
  if (sa->sa_family != AF_INET || salen < sizeof(sockaddr_in) || maxlen < sizeof(sockaddr_in))
    return -1;
  std::memcpy(out, sa, sizeof(sockaddr_in));
  return sizeof(sockaddr_in);
}

constexpr tli_provider tcp_provider = {
    "/dev/tcp",    AF_INET,        SOCK_STREAM, 0, {16, 16, 0, 1, -2, -2, T_COTS_ORD},
    tcp_to_socket, tcp_from_socket};

/* Registered providers; the product's own is always there. */
std::array<const tli_provider *, 8> providers = {&tcp_provider};

unsigned int max_qlen = 0; /* 0: SOMAXCONN */

/* A connection taken by t_listen and not yet moved by t_accept. */
struct Held {
  int sequence;
  int fd;
};

struct Endpoint {
  bool open = false;
  const tli_provider *provider = nullptr;
  int state = T_UNBND;
  bool listening = false;
  bool connecting = false; /* T_OUTCON: connect started, outcome not seen */
  int event = 0; /* T_CONNECT or T_DISCONNECT seen and held */
  int reason = 0; /* of the held disconnect */
  int discon_sequence = 0; /* of the held disconnect, on a listener */
  std::vector<Held> held;
  int next_sequence = 1;
};

/* Indexed by descriptor, in chunks allocated on first use and kept for the
** life of the process: an entry never moves, so a signal handler's t_look,
** t_rcv or t_sndudata may read its endpoint while the main flow opens
** others. Descriptors from chunk_count * chunk_endpoints on are refused. */
constexpr size_t chunk_endpoints = 256;
constexpr size_t chunk_count = 4096;
std::array<std::atomic<Endpoint *>, chunk_count> endpoint_chunks;

/* The entry of fd when its chunk exists, else null. */
Endpoint *entry_of(int fd) {
  if (fd < 0 || static_cast<size_t>(fd) >= chunk_count * chunk_endpoints) return nullptr;
  Endpoint *chunk =
      endpoint_chunks[static_cast<size_t>(fd) / chunk_endpoints].load(std::memory_order_acquire);
  return chunk != nullptr ? &chunk[static_cast<size_t>(fd) % chunk_endpoints] : nullptr;
}

int fail(int error) {
  t_errno = error;
  return -1;
}

int fail_sys(int error) {
  t_errno = TSYSERR;
  errno = error;
  return -1;
}

/* The endpoint of fd, or null (t_errno TBADF) when the layer does not know it. */
Endpoint *find(int fd) {
  Endpoint *ep = entry_of(fd);
  if (ep != nullptr && ep->open) return ep;
  t_errno = TBADF;
  return nullptr;
}

void close_held(Endpoint &ep) {
  for (const Held &h : ep.held)
    close(h.fd);
  ep.held.clear();
}

/* A fresh entry for fd, its chunk allocated when it is the first; null
** (TSYSERR) without memory or for a descriptor past the table. */
Endpoint *enter(int fd, const tli_provider *provider) {
  if (fd < 0 || static_cast<size_t>(fd) >= chunk_count * chunk_endpoints) {
    fail_sys(ENOMEM);
    return nullptr;
  }
  std::atomic<Endpoint *> &slot = endpoint_chunks[static_cast<size_t>(fd) / chunk_endpoints];
  if (slot.load(std::memory_order_acquire) == nullptr) {
    auto *chunk = new (std::nothrow) Endpoint[chunk_endpoints];
    if (chunk == nullptr) {
      fail_sys(ENOMEM);
      return nullptr;
    }
    Endpoint *none = nullptr;
    if (!slot.compare_exchange_strong(none, chunk, std::memory_order_acq_rel)) delete[] chunk;
  }
  Endpoint *ep = entry_of(fd);
  close_held(*ep); /* a stale entry of a descriptor closed behind our back */
  *ep = Endpoint {};
  ep->open = true;
  ep->provider = provider;
  return ep;
}

const tli_provider *provider_of_path(const char *path) {
  for (const tli_provider *p : providers)
    if (p != nullptr && path != nullptr && std::strcmp(p->device, path) == 0) return p;
  return nullptr;
}

bool nonblocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags != -1 && (flags & O_NONBLOCK) != 0;
}

/* The state t_getstate reports: a listener holding connections is T_INCON. */
int state_of(const Endpoint &ep) {
  if (ep.listening && ep.state == T_IDLE && !ep.held.empty()) return T_INCON;
  return ep.state;
}

/* Errors that mean the connection is gone. */
bool is_disconnect(int error) {
  return error == ECONNRESET || error == EPIPE || error == ETIMEDOUT || error == ECONNREFUSED ||
         error == ENOTCONN || error == EHOSTUNREACH || error == ENETUNREACH ||
         error == ECONNABORTED;
}

void hold_disconnect(Endpoint &ep, int reason, int sequence) {
  ep.event = T_DISCONNECT;
  ep.reason = reason == EPIPE || reason == ENOTCONN ? ECONNRESET : reason;
  ep.discon_sequence = sequence;
  ep.connecting = false;
}

/* Writes the socket address into nb (skipped when nb is null or has no
** room asked for). false (TBADDATA) when it does not fit. */
bool put_address(const Endpoint &ep, const sockaddr_storage &sa, socklen_t len, netbuf *nb) {
  if (nb == nullptr || nb->maxlen == 0) return true;
  int n = nb->buf == nullptr ? -1
                             : ep.provider->from_socket(reinterpret_cast<const sockaddr *>(&sa),
                                                        len, nb->buf, nb->maxlen);
  if (n < 0) {
    t_errno = TBADDATA;
    return false;
  }
  nb->len = n;
  return true;
}

bool room_for_address(const Endpoint &ep, const netbuf *nb) {
  return nb == nullptr || nb->maxlen == 0 ||
         (nb->buf != nullptr && nb->maxlen >= static_cast<unsigned>(ep.provider->info.addr));
}

/* Events of a connect in progress: T_CONNECT or T_DISCONNECT once the
** socket has settled (both then held), else 0. */
int probe_connect(Endpoint &ep, int fd) {
  pollfd p {fd, POLLOUT, 0};
  if (poll(&p, 1, 0) <= 0 || (p.revents & (POLLOUT | POLLERR | POLLHUP)) == 0) return 0;
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
  if (error != 0) {
    hold_disconnect(ep, error, 0);
  } else {
    ep.event = T_CONNECT;
    ep.connecting = false;
  }
  return ep.event;
}

/* A held connection whose caller reset it is closed and becomes the
** listener's held T_DISCONNECT. Returns the event, or 0 when all are well. */
int probe_held(Endpoint &ep) {
  for (auto it = ep.held.begin(); it != ep.held.end(); ++it) {
    pollfd p {it->fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || (p.revents & (POLLERR | POLLHUP)) == 0) continue;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(it->fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error == 0)
      error = ECONNRESET;
    hold_disconnect(ep, error, it->sequence);
    close(it->fd);
    ep.held.erase(it);
    return T_DISCONNECT;
  }
  return 0;
}

bool has_urgent(int fd) {
  char c;
  return recv(fd, &c, 1, MSG_OOB | MSG_PEEK | MSG_DONTWAIT) == 1;
}

/* Events of a connection: urgent byte, data, EOF (while the peer's release
** is not yet taken), reset (then held). */
int probe_transfer(Endpoint &ep, int fd) {
  if (has_urgent(fd)) return T_EXDATA;
  char c;
  ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return T_DATA;
  if (n == 0) return ep.state == T_DATAXFER || ep.state == T_OUTREL ? T_ORDREL : 0;
  if (is_disconnect(errno)) {
    hold_disconnect(ep, errno, 0);
    return T_DISCONNECT;
  }
  return 0;
}

/* The pending event of a known endpoint, 0 when none. */
int look(Endpoint &ep, int fd) {
  if (ep.event != 0) return ep.event;
  if (ep.listening) {
    if (probe_held(ep) != 0) return T_DISCONNECT;
    pollfd p {fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0 ? T_LISTEN : 0;
  }
  switch (ep.state) {
    case T_OUTCON:
      return ep.connecting ? probe_connect(ep, fd) : 0;
    case T_DATAXFER:
    case T_OUTREL:
    case T_INREL:
      return probe_transfer(ep, fd);
    default:
      return 0;
  }
}

/* Waits for any of events on a blocking endpoint; false (TSYSERR, errno
** EINTR on a signal) when the wait fails. */
bool wait_for(int fd, short events) {
  pollfd p {fd, events, 0};
  if (poll(&p, 1, -1) < 0) {
    fail_sys(errno);
    return false;
  }
  return true;
}

/* Replaces fd's socket with a fresh one of its provider, keeping the
** descriptor number and its status flags. */
bool renew_socket(Endpoint &ep, int fd) {
  int s = socket(ep.provider->domain, ep.provider->type, ep.provider->protocol);
  if (s < 0) {
    fail_sys(errno);
    return false;
  }
  int flags = fcntl(fd, F_GETFL);
  bool ok = dup2(s, fd) == fd;
  int saved = errno;
  close(s);
  if (!ok) {
    fail_sys(saved);
    return false;
  }
  if (flags != -1) fcntl(fd, F_SETFL, flags);
  return true;
}

/* An option of t_optmgmt and the socket option behind it. */
struct OptionRow {
  int level, name;
  int sys_level, sys_name;
  bool linger;
};

constexpr OptionRow option_rows[] = {
    {6, 1, IPPROTO_TCP, TCP_NODELAY, false},
    {65535, 4, SOL_SOCKET, SO_REUSEADDR, false},
    {65535, 8, SOL_SOCKET, SO_KEEPALIVE, false},
    {65535, 128, SOL_SOCKET, SO_LINGER, true},
};

constexpr unsigned int option_record_size = 16;

int read_word(const char *p, int index) {
  int v;
  std::memcpy(&v, p + 4 * index, sizeof v);
  return v;
}

void write_word(char *p, int index, int v) { std::memcpy(p + 4 * index, &v, sizeof v); }

/* The option's value read back from the socket into *value; false (TSYSERR). */
bool read_option(int fd, const OptionRow &row, int *value) {
  if (row.linger) {
    linger l {};
    socklen_t len = sizeof l;
    if (getsockopt(fd, row.sys_level, row.sys_name, &l, &len) != 0) {
      fail_sys(errno);
      return false;
    }
    *value = l.l_onoff != 0 ? l.l_linger : 0;
    return true;
  }
  int v = 0;
  socklen_t len = sizeof v;
  if (getsockopt(fd, row.sys_level, row.sys_name, &v, &len) != 0) {
    fail_sys(errno);
    return false;
  }
  *value = v;
  return true;
}

/* Sets the option (linger: on, for value seconds); false (TSYSERR). */
bool write_option(int fd, const OptionRow &row, int value) {
  int rc;
  if (row.linger) {
    linger l {1, value};
    rc = setsockopt(fd, row.sys_level, row.sys_name, &l, sizeof l);
  } else {
    int v = value != 0 ? 1 : 0;
    rc = setsockopt(fd, row.sys_level, row.sys_name, &v, sizeof v);
  }
  if (rc != 0) {
    fail_sys(errno);
    return false;
  }
  return true;
}

/* A buffer of size bytes for a t_alloc'd record; sizes 0, -1 and -2 get none. */
bool alloc_buffer(netbuf *nb, int size) {
  if (size <= 0) return true;
  nb->buf = static_cast<char *>(std::calloc(1, size));
  if (nb->buf == nullptr) return false;
  nb->maxlen = size;
  return true;
}

}  // namespace

extern "C" {

int t_open(const char *path, int oflag, struct t_info *info) {
  const tli_provider *provider = provider_of_path(path);
  if (provider == nullptr) return fail_sys(ENOENT);
  int fd = socket(provider->domain, provider->type, provider->protocol);
  if (fd < 0) return fail_sys(errno);
  if ((oflag & O_NONBLOCK) != 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
    int saved = errno;
    close(fd);
    return fail_sys(saved);
  }
  if (enter(fd, provider) == nullptr) {
    close(fd);
    return fail_sys(ENOMEM);
  }
  if (info != nullptr) *info = provider->info;
  return fd;
}

int t_close(int fd) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  close_held(*ep);
  *ep = Endpoint {};
  if (close(fd) != 0 && errno != EINTR) return fail_sys(errno);
  return 0;
}

int t_bind(int fd, const struct t_bind *req, struct t_bind *ret) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->state != T_UNBND) return fail(TOUTSTATE);
  if (ret != nullptr && !room_for_address(*ep, &ret->addr)) return fail(TBADDATA);
  sockaddr_storage sa;
  socklen_t len;
  unsigned int asked = req != nullptr ? req->addr.len : 0;
  if (ep->provider->to_socket(asked != 0 ? req->addr.buf : nullptr, asked, &sa, &len) != 0)
    return fail(TBADDATA);
  if (bind(fd, reinterpret_cast<sockaddr *>(&sa), len) != 0) {
    if (errno != EADDRINUSE) return fail_sys(errno);
    /* Taken: any port of the same address, which the caller sees in ret. */
    if (sa.ss_family == AF_INET) {
      reinterpret_cast<sockaddr_in *>(&sa)->sin_port = 0;
    } else if (sa.ss_family == AF_INET6) {
      reinterpret_cast<sockaddr_in6 *>(&sa)->sin6_port = 0;
    } else {
      return fail_sys(EADDRINUSE);
    }
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), len) != 0) return fail_sys(errno);
  }
  unsigned int granted = 0;
  if (req != nullptr && req->qlen > 0) {
    unsigned int cap = max_qlen != 0 ? max_qlen : SOMAXCONN;
    granted = std::min(req->qlen, cap);
    if (listen(fd, static_cast<int>(granted)) != 0) {
      int saved = errno;
      renew_socket(*ep, fd);
      return fail_sys(saved);
    }
    ep->listening = true;
  }
  ep->state = T_IDLE;
  if (ret != nullptr) {
    ret->qlen = granted;
    len = sizeof sa;
    if (ret->addr.maxlen != 0 && getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
      return fail_sys(errno);
    if (!put_address(*ep, sa, len, &ret->addr)) return -1;
  }
  return 0;
}

int t_unbind(int fd) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (state_of(*ep) != T_IDLE || ep->event != 0) return fail(TOUTSTATE);
  if (!renew_socket(*ep, fd)) return -1;
  close_held(*ep);
  const tli_provider *provider = ep->provider;
  *ep = Endpoint {};
  ep->open = true;
  ep->provider = provider;
  return 0;
}

int t_connect(int fd, const struct t_call *sndcall, struct t_call *rcvcall) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  bool again = ep->state == T_OUTCON && ep->connecting;
  if ((ep->state != T_IDLE || ep->listening) && !again) return fail(TOUTSTATE);
  if (ep->event != 0) return fail(TLOOK);
  if (sndcall == nullptr || !room_for_address(*ep, rcvcall != nullptr ? &rcvcall->addr : nullptr))
    return fail(TBADDATA);
  sockaddr_storage sa;
  socklen_t len;
  if (sndcall->addr.len == 0 ||
      ep->provider->to_socket(sndcall->addr.buf, sndcall->addr.len, &sa, &len) != 0)
    return fail(TBADDATA);
  if (connect(fd, reinterpret_cast<sockaddr *>(&sa), len) != 0 && errno != EISCONN) {
    int error = errno;
    ep->state = T_OUTCON;
    if (error == EINPROGRESS || error == EALREADY) {
      ep->connecting = true;
      return fail(TNODATA);
    }
    if (error == EINTR) {
      /* The kernel goes on connecting: pending, as after EINPROGRESS. */
      ep->connecting = true;
      return fail_sys(EINTR);
    }
    if (is_disconnect(error)) {
      hold_disconnect(*ep, error, 0);
      return fail(TLOOK);
    }
    ep->state = again ? T_OUTCON : T_IDLE;
    return fail_sys(error);
  }
  ep->state = T_DATAXFER;
  ep->connecting = false;
  if (rcvcall != nullptr) {
    len = sizeof sa;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
      put_address(*ep, sa, len, &rcvcall->addr);
    rcvcall->opt.len = 0;
    rcvcall->udata.len = 0;
  }
  return 0;
}

int t_rcvconnect(int fd, struct t_call *call) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->state != T_OUTCON) return fail(TOUTSTATE);
  if (!room_for_address(*ep, call != nullptr ? &call->addr : nullptr)) return fail(TBADDATA);
  while (ep->event == 0) {
    if (probe_connect(*ep, fd) != 0) break;
    if (nonblocking(fd)) return fail(TNODATA);
    if (!wait_for(fd, POLLOUT)) return -1;
  }
  if (ep->event != T_CONNECT) return fail(TLOOK);
  ep->event = 0;
  ep->state = T_DATAXFER;
  if (call != nullptr) {
    sockaddr_storage sa;
    socklen_t len = sizeof sa;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
      put_address(*ep, sa, len, &call->addr);
    call->opt.len = 0;
    call->udata.len = 0;
  }
  return 0;
}

int t_listen(int fd, struct t_call *call) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (!ep->listening) return fail(TOUTSTATE);
  if (ep->event != 0) return fail(TLOOK);
  if (call == nullptr || !room_for_address(*ep, &call->addr)) return fail(TBADDATA);
  sockaddr_storage sa;
  socklen_t len;
  int s;
  do {
    len = sizeof sa;
    s = accept(fd, reinterpret_cast<sockaddr *>(&sa), &len);
  } while (s < 0 && errno == ECONNABORTED);
  if (s < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? fail(TNODATA) : fail_sys(errno);
  try {
    ep->held.push_back({ep->next_sequence, s});
  } catch (...) {
    close(s);
    return fail_sys(ENOMEM);
  }
  call->sequence = ep->next_sequence;
  ep->next_sequence = ep->next_sequence == INT_MAX ? 1 : ep->next_sequence + 1;
  call->opt.len = 0;
  call->udata.len = 0;
  put_address(*ep, sa, len, &call->addr);
  return 0;
}

int t_accept(int fd, int resfd, const struct t_call *call) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  Endpoint *res = find(resfd);
  if (res == nullptr) return -1;
  if (!ep->listening) return fail(TOUTSTATE);
  if (resfd == fd) return fail(TNOTSUPPORT);
  if (res->state != T_IDLE || res->listening || res->event != 0) return fail(TOUTSTATE);
  if (call == nullptr) return fail(TBADDATA);
  if (ep->event != 0 || probe_held(*ep) != 0) return fail(TLOOK);
  auto it = std::find_if(ep->held.begin(), ep->held.end(),
                         [&](const Held &h) { return h.sequence == call->sequence; });
  if (it == ep->held.end()) return fail(TBADDATA);
  /* A connection still waiting on the listener must be taken first. */
  pollfd p {fd, POLLIN, 0};
  if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) return fail(TLOOK);
  int flags = fcntl(resfd, F_GETFL);
  if (dup2(it->fd, resfd) != resfd) return fail_sys(errno);
  if (flags != -1) fcntl(resfd, F_SETFL, flags);
  close(it->fd);
  ep->held.erase(it);
  res->state = T_DATAXFER;
  return 0;
}

int t_look(int fd) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  return look(*ep, fd);
}

int t_snd(int fd, const char *buf, unsigned int nbytes, int flags) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->event == T_DISCONNECT) return fail(TLOOK);
  if (ep->state != T_DATAXFER && ep->state != T_INREL) return fail(TOUTSTATE);
  if ((flags & ~(T_MORE | T_EXPEDITED)) != 0) return fail(TNOTSUPPORT);
  if (nbytes == 0) return 0;
  if (buf == nullptr) return fail(TBADDATA);
  ssize_t n;
  if ((flags & T_EXPEDITED) != 0) {
    /* TCP urgent data carries exactly one byte. */
    if (nbytes != 1) return fail(TBADDATA);
    n = send(fd, buf, 1, MSG_OOB | MSG_NOSIGNAL);
  } else {
    n = send(fd, buf, nbytes, MSG_NOSIGNAL);
  }
  if (n >= 0) return static_cast<int>(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK) return fail(TFLOW);
  if (is_disconnect(errno)) {
    hold_disconnect(*ep, errno, 0);
    return fail(TLOOK);
  }
  return fail_sys(errno);
}

int t_rcv(int fd, char *buf, unsigned int nbytes, int *flags) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->event == T_DISCONNECT) return fail(TLOOK);
  if (ep->state != T_DATAXFER && ep->state != T_OUTREL) return fail(TOUTSTATE);
  if (flags == nullptr || (buf == nullptr && nbytes != 0)) return fail(TBADDATA);
  *flags = 0;
  if (nbytes == 0) return 0;
  /* One poll says what is there (an urgent byte shows as POLLPRI) and, on
  ** a blocking endpoint, waits for it; only then is the socket read. A
  ** reply is seldom there the moment t_rcv is called, so reading first
  ** would mostly cost two empty receives before the wait. */
  const int wait_ms = nonblocking(fd) ? 0 : -1;
  for (;;) {
    pollfd p {fd, POLLIN | POLLPRI, 0};
    int ready = poll(&p, 1, wait_ms);
    if (ready < 0) return fail_sys(errno);
    if (ready == 0) return fail(TNODATA);
    /* Expedited data overtakes the stream, and comes alone. */
    if ((p.revents & POLLPRI) != 0 && recv(fd, buf, 1, MSG_OOB | MSG_DONTWAIT) == 1) {
      *flags = T_EXPEDITED;
      return 1;
    }
    ssize_t n = recv(fd, buf, nbytes, MSG_DONTWAIT);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) return fail(TLOOK); /* the peer's release */
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      if (is_disconnect(errno)) {
        hold_disconnect(*ep, errno, 0);
        return fail(TLOOK);
      }
      return fail_sys(errno);
    }
    /* Taken meanwhile (the urgent byte, by a signal handler): look again. */
    if (wait_ms == 0) return fail(TNODATA);
  }
}

int t_sndrel(int fd) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->event == T_DISCONNECT) return fail(TLOOK);
  if (ep->state != T_DATAXFER && ep->state != T_INREL) return fail(TOUTSTATE);
  if (shutdown(fd, SHUT_WR) != 0) {
    if (is_disconnect(errno)) {
      hold_disconnect(*ep, errno, 0);
      return fail(TLOOK);
    }
    return fail_sys(errno);
  }
  ep->state = ep->state == T_DATAXFER ? T_OUTREL : T_IDLE;
  return 0;
}

int t_rcvrel(int fd) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->event == T_DISCONNECT) return fail(TLOOK);
  if (ep->state != T_DATAXFER && ep->state != T_OUTREL) return fail(TOUTSTATE);
  for (;;) {
    int event = probe_transfer(*ep, fd);
    if (event == T_ORDREL) break;
    if (event != 0) return fail(TLOOK); /* data, urgent data or a reset comes first */
    if (nonblocking(fd)) return fail(TNODATA);
    if (!wait_for(fd, POLLIN | POLLPRI)) return -1;
  }
  ep->state = ep->state == T_DATAXFER ? T_INREL : T_IDLE;
  return 0;
}

int t_snddis(int fd, const struct t_call *) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->state != T_OUTCON && ep->state != T_DATAXFER && ep->state != T_OUTREL &&
      ep->state != T_INREL)
    return fail(TOUTSTATE);
  /* Linger 0, then dissolve the association: the peer gets a reset now and
  ** the descriptor stays open for t_unbind and t_close. */
  linger l {1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  sockaddr unspec {};
  unspec.sa_family = AF_UNSPEC;
  if (connect(fd, &unspec, sizeof unspec) != 0) return fail_sys(errno);
  ep->state = T_IDLE;
  ep->event = 0;
  ep->connecting = false;
  return 0;
}

int t_rcvdis(int fd, struct t_discon *discon) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->event != T_DISCONNECT && look(*ep, fd) != T_DISCONNECT) return fail(TNODATA);
  if (discon != nullptr) {
    discon->reason = ep->reason;
    discon->sequence = ep->discon_sequence;
    discon->udata.len = 0;
  }
  ep->event = 0;
  ep->reason = 0;
  ep->discon_sequence = 0;
  if (!ep->listening) ep->state = T_IDLE;
  return 0;
}

int t_sync(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) {
    if (Endpoint *ep = entry_of(fd)) {
      close_held(*ep);
      *ep = Endpoint {};
    }
    return fail(TBADF);
  }
  if (Endpoint *ep = find(fd)) return state_of(*ep);
  /* Inherited: find the provider that makes such sockets, rebuild the state. */
  int domain = 0, type = 0, protocol = 0;
  socklen_t len = sizeof domain;
  getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len);
  len = sizeof type;
  getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len);
  len = sizeof protocol;
  getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &len);
  const tli_provider *provider = nullptr;
  for (const tli_provider *p : providers)
    if (p != nullptr && p->domain == domain && p->type == type &&
        (p->protocol == 0 || p->protocol == protocol)) {
      provider = p;
      break;
    }
  if (provider == nullptr) return fail(TBADF);
  Endpoint *ep = enter(fd, provider);
  if (ep == nullptr) return -1;
  int accepting = 0;
  len = sizeof accepting;
  sockaddr_storage sa;
  socklen_t salen = sizeof sa;
  if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) == 0 && accepting != 0) {
    ep->state = T_IDLE;
    ep->listening = true;
  } else if (getpeername(fd, reinterpret_cast<sockaddr *>(&sa), &salen) == 0) {
    ep->state = T_DATAXFER;
  } else {
    salen = sizeof sa;
    bool bound =
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &salen) == 0 &&
        ((sa.ss_family == AF_INET && reinterpret_cast<sockaddr_in *>(&sa)->sin_port != 0) ||
         (sa.ss_family == AF_INET6 && reinterpret_cast<sockaddr_in6 *>(&sa)->sin6_port != 0));
    ep->state = bound ? T_IDLE : T_UNBND;
  }
  return ep->state;
}

int t_getstate(int fd) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  return state_of(*ep);
}

int t_optmgmt(int fd, const struct t_optmgmt *req, struct t_optmgmt *ret) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (req == nullptr || ret == nullptr || req->opt.buf == nullptr || ret->opt.buf == nullptr ||
      ret->opt.maxlen < option_record_size)
    return fail(TBADDATA);
  if (req->flags != T_NEGOTIATE && req->flags != T_DEFAULT) return fail(TNOTSUPPORT);
  if (req->flags == T_NEGOTIATE &&
      (req->opt.len < option_record_size || read_word(req->opt.buf, 2) != 4))
    return fail(TBADDATA);
  int level = read_word(req->opt.buf, 0);
  int name = read_word(req->opt.buf, 1);
  const OptionRow *row = nullptr;
  for (const OptionRow &r : option_rows)
    if (r.level == level && r.name == name) row = &r;
  if (row == nullptr) return fail(TNOTSUPPORT);
  if (req->flags == T_NEGOTIATE) {
    int value = read_word(req->opt.buf, 3);
    if (row->linger && value < 0) return fail(TBADDATA);
    if (!write_option(fd, *row, value)) return -1;
  }
  int value = 0;
  if (!read_option(fd, *row, &value)) return -1;
  write_word(ret->opt.buf, 0, level);
  write_word(ret->opt.buf, 1, name);
  write_word(ret->opt.buf, 2, 4);
  write_word(ret->opt.buf, 3, value);
  ret->opt.len = option_record_size;
  ret->flags = req->flags;
  return 0;
}

void *t_alloc(int fd, int struct_type, int fields) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return nullptr;
  const t_info &info = ep->provider->info;
  bool ok = true;
  void *record = nullptr;
  switch (struct_type) {
    case T_BIND: {
      auto *b = static_cast<struct t_bind *>(std::calloc(1, sizeof(struct t_bind)));
      if (b != nullptr && (fields & T_ADDR) != 0) ok = alloc_buffer(&b->addr, info.addr);
      record = b;
      break;
    }
    case T_CALL: {
      auto *c = static_cast<t_call *>(std::calloc(1, sizeof(t_call)));
      if (c != nullptr) {
        if ((fields & T_ADDR) != 0) ok = alloc_buffer(&c->addr, info.addr);
        if ((fields & T_OPT) != 0) ok = ok && alloc_buffer(&c->opt, info.options);
        if ((fields & T_UDATA) != 0) ok = ok && alloc_buffer(&c->udata, info.connect);
      }
      record = c;
      break;
    }
    case T_DIS: {
      auto *d = static_cast<t_discon *>(std::calloc(1, sizeof(t_discon)));
      if (d != nullptr && (fields & T_UDATA) != 0) ok = alloc_buffer(&d->udata, info.discon);
      record = d;
      break;
    }
    default:
      t_errno = TNOTSUPPORT;
      return nullptr;
  }
  if (record == nullptr || !ok) {
    t_free(record, struct_type);
    fail_sys(ENOMEM);
    return nullptr;
  }
  return record;
}

int t_free(void *ptr, int struct_type) {
  if (ptr == nullptr) return 0;
  switch (struct_type) {
    case T_BIND:
      std::free(static_cast<struct t_bind *>(ptr)->addr.buf);
      break;
    case T_CALL: {
      auto *c = static_cast<t_call *>(ptr);
      std::free(c->addr.buf);
      std::free(c->opt.buf);
      std::free(c->udata.buf);
      break;
    }
    case T_DIS:
      std::free(static_cast<t_discon *>(ptr)->udata.buf);
      break;
    default:
      return fail(TNOTSUPPORT);
  }
  std::free(ptr);
  return 0;
}

int t_sndudata(int fd, const struct t_unitdata *unitdata) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->provider->info.servtype != T_CLTS) return fail(TNOTSUPPORT);
  if (ep->state != T_IDLE) return fail(TOUTSTATE);
  if (unitdata == nullptr || (unitdata->udata.buf == nullptr && unitdata->udata.len != 0))
    return fail(TBADDATA);
  sockaddr_storage sa;
  socklen_t len;
  if (unitdata->addr.len == 0 ||
      ep->provider->to_socket(unitdata->addr.buf, unitdata->addr.len, &sa, &len) != 0)
    return fail(TBADDATA);
  if (sendto(fd, unitdata->udata.buf, unitdata->udata.len, MSG_NOSIGNAL,
             reinterpret_cast<sockaddr *>(&sa), len) < 0)
    return errno == EAGAIN || errno == EWOULDBLOCK ? fail(TFLOW) : fail_sys(errno);
  return 0;
}

int t_rcvudata(int fd, struct t_unitdata *unitdata, int *flags) {
  Endpoint *ep = find(fd);
  if (ep == nullptr) return -1;
  if (ep->provider->info.servtype != T_CLTS) return fail(TNOTSUPPORT);
  if (ep->state != T_IDLE) return fail(TOUTSTATE);
  if (unitdata == nullptr || flags == nullptr || !room_for_address(*ep, &unitdata->addr) ||
      (unitdata->udata.buf == nullptr && unitdata->udata.maxlen != 0))
    return fail(TBADDATA);
  *flags = 0;
  sockaddr_storage sa;
  socklen_t len = sizeof sa;
  ssize_t n = recvfrom(fd, unitdata->udata.buf, unitdata->udata.maxlen, MSG_TRUNC,
                       reinterpret_cast<sockaddr *>(&sa), &len);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? fail(TNODATA) : fail_sys(errno);
  /* A datagram longer than the buffer has lost its tail: refused, not cut. */
  if (static_cast<size_t>(n) > unitdata->udata.maxlen) return fail(TBADDATA);
  unitdata->udata.len = static_cast<unsigned int>(n);
  unitdata->opt.len = 0;
  if (!put_address(*ep, sa, len, &unitdata->addr)) return -1;
  return 0;
}

int tli_setsig(int fd, int events) {
  if ((events & ~S_INPUT) != 0) {
    errno = EINVAL;
    return -1;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags == -1) return -1;
  if (events == 0) {
    if (fcntl(fd, F_SETFL, flags & ~O_ASYNC) != 0) return -1;
    return fcntl(fd, F_SETOWN, 0) == -1 ? -1 : 0;
  }
  if (fcntl(fd, F_SETOWN, getpid()) == -1) return -1;
  return fcntl(fd, F_SETFL, flags | O_ASYNC) == -1 ? -1 : 0;
}

int tli_poll_events(int fd, int requested) {
  Endpoint *entry = entry_of(fd);
  if (entry == nullptr || !entry->open) return requested;
  Endpoint &ep = *entry;
  if (ep.event != 0) return requested | TLI_POLL_READY;
  if (ep.listening) return probe_held(ep) != 0 ? requested | TLI_POLL_READY : requested;
  if (ep.state == T_OUTCON && ep.connecting) return requested | POLLOUT;
  if ((requested & POLLIN) != 0 && ep.state != T_IDLE && ep.state != T_UNBND)
    return requested | POLLPRI;
  return requested;
}

int tli_register_provider(const struct tli_provider *provider) {
  for (const tli_provider *&slot : providers)
    if (slot != nullptr && std::strcmp(slot->device, provider->device) == 0) {
      slot = provider;
      return 0;
    }
  for (const tli_provider *&slot : providers)
    if (slot == nullptr) {
      slot = provider;
      return 0;
    }
  return -1;
}

void tli_set_max_qlen(unsigned int max) { max_qlen = max; }
}
