/*
** Hosts, services, netgroups and the node name. The TCP address routines
** of the association services read the records filled here. Look-ups go
** through the resolver seam, pauses through the clock seam and the node
** name through the host seam (os_seams.h). A failed look-up leaves the
** caller's record unchanged.
**
** Temporary failures are retried: a host while the resolver answers
** TRY_AGAIN, a service while the look-up fails with errno still 0 (glibc
** leaves errno 0 for an unknown service, so that one costs the whole ~14
** seconds). Only IPv4 entries are taken, with their address length checked
** against the record's field.
*/
#include <arpa/inet.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstring>

#include "os_seams.h"
#include "os_text_copy.h"
#include "os_wrappers.h"

using oslib_text::copy_cut;

namespace {

/* Retries after the first try, and how many of them run without a pause. */
constexpr int retry_limit = 30;
constexpr int retries_at_once = 16;
constexpr unsigned retry_pause_seconds = 1;

/* Repeats look_up while it fails and again(status) holds, up to the retry
** limit; the retries after the first few wait a second each. */
template <typename Result, typename Lookup, typename Again>
Result *with_retries(Lookup look_up, Again again) {
  Result *r = look_up();
  for (int retry = 1; r == nullptr && again() && retry <= retry_limit; ++retry) {
    if (retry > retries_at_once) os_clock->sleep(retry_pause_seconds);
    r = look_up();
  }
  return r;
}

/* Fills h from an IPv4 entry with a first address of the field's length;
** false (h untouched) for anything else. */
bool fill_host(const struct hostent *hp, oshostent_t *h) {
  if (hp == nullptr || hp->h_addrtype != AF_INET || hp->h_length != sizeof h->address ||
      hp->h_addr_list == nullptr || hp->h_addr_list[0] == nullptr)
    return false;
  copy_cut(h->name, hp->h_name);
  h->addrtype = hp->h_addrtype;
  h->length = hp->h_length;
  memcpy(h->address, hp->h_addr_list[0], sizeof h->address);
  return true;
}

/* An empty netgroup field means any, as NULL does for innetgr. */
const char *any_if_empty(const char *field) {
  return field == nullptr || *field == '\0' ? nullptr : field;
}

}  // namespace

extern "C" {

struct hostent *dvz_gethostbyname(const char *name, int *herr) {
  return os_resolver->gethostbyname(name, herr);
}

struct hostent *dvz_gethostbyaddr(const void *address, socklen_t length, int type) {
  return os_resolver->gethostbyaddr(address, length, type);
}

struct servent *dvz_getservbyname(const char *name, const char *protocol) {
  return os_resolver->getservbyname(name, protocol);
}

int _osgethostbyname(const char *name, oshostent_t *h) {
  if (name == nullptr || h == nullptr) return -1;
  int herr = 0;
  struct hostent *hp = with_retries<struct hostent>([&] { return dvz_gethostbyname(name, &herr); },
                                                    [&] { return herr == TRY_AGAIN; });
  return fill_host(hp, h) ? 0 : -1;
}

int __osgethostbyname(oshostent_t *h) {
  if (h == nullptr) return -1;
  char name[sizeof h->name];
  copy_cut(name, h->name);
  return _osgethostbyname(name, h);
}

int _osgethostbyaddr(const char *address, int length, int type, oshostent_t *h) {
  if (address == nullptr || h == nullptr || length < 0 ||
      static_cast<size_t>(length) > sizeof h->address)
    return -1;
  const struct hostent *hp = dvz_gethostbyaddr(address, static_cast<socklen_t>(length), type);
  if (hp == nullptr) return -1;
  unsigned char copy[sizeof h->address];
  memcpy(copy, address, static_cast<size_t>(length));
  copy_cut(h->name, hp->h_name);
  h->addrtype = type;
  h->length = length;
  memcpy(h->address, copy, static_cast<size_t>(length));
  return 0;
}

int __osgethostbyaddr(oshostent_t *h) {
  if (h == nullptr) return -1;
  return _osgethostbyaddr(reinterpret_cast<const char *>(h->address), h->length, h->addrtype, h);
}

int _osgetservbyname(const char *name, const char *protocol, osservent_t *s) {
  if (name == nullptr || s == nullptr) return -1;
  struct servent *sp = with_retries<struct servent>(
      [&] {
        errno = 0;
        return dvz_getservbyname(name, protocol);
      },
      [] { return errno == 0; });
  if (sp == nullptr) return -1;
  copy_cut(s->name, sp->s_name);
  s->port = sp->s_port;
  copy_cut(s->proto, sp->s_proto);
  return 0;
}

int __osgetservbyname(osservent_t *s) {
  if (s == nullptr) return -1;
  char name[sizeof s->name];
  char protocol[sizeof s->proto];
  copy_cut(name, s->name);
  copy_cut(protocol, s->proto);
  return _osgetservbyname(name, protocol[0] == '\0' ? nullptr : protocol, s);
}

int _osinnetgr(const char *netgroup, const char *host, const char *user, const char *domain,
               osnetgr_t *r) {
  if (netgroup == nullptr || r == nullptr) return -1;
  r->result = innetgr(netgroup, any_if_empty(host), any_if_empty(user), any_if_empty(domain));
  return 0;
}

int __osinnetgr(osnetgr_t *r) {
  if (r == nullptr) return -1;
  return _osinnetgr(r->netgroup, r->host, r->user, r->domain, r);
}

int rhostname(char *buffer, int size) {
  if (buffer == nullptr || size < 1) return -1;
  struct utsname u;
  if (os_host->uname(&u) != 0) return -1;
  copy_cut(buffer, static_cast<size_t>(size), u.nodename);
  return 0;
}

}  // extern "C"
