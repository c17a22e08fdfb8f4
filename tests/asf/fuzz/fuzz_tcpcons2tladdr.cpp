/*
** Fuzz target: address texts to TCP transport addresses. The first byte
** chooses a listening or a connecting block, the rest is the text, in a
** heap block of exactly its length plus the NUL, so that a read past it is
** an address-sanitizer report. The resolver seam answers from a table of
** one host and one service, so no real look-up is made. A success leaves
** the high half of the port word clear; a failure is one of the
** conversion's statuses, and a failure that names the host or service
** in errstr names a part of the text.
*/
#include <arpa/inet.h>
#include <netdb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "asf_al.h"
#include "asf_tl.h"
#include "fuzz_environment.h"
#include "os_seams.h"
#include "tl_records.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_tcpcons2tladdr: %s (%d)\n", what, value);
  std::abort();
}

struct hostent *table_byname(const char *name, int *herr) {
  static char hname[] = "dbhost";
  static uint32_t addr = htonl(0x0a000002);
  static char *list[] = {reinterpret_cast<char *>(&addr), nullptr};
  static struct hostent h = {hname, nullptr, AF_INET, 4, list};
  if (std::strcmp(name, "dbhost") == 0) return &h;
  *herr = HOST_NOT_FOUND;
  return nullptr;
}

struct hostent *table_byaddr(const void *, socklen_t, int) {
  return nullptr;
}

struct servent *table_servbyname(const char *name, const char *) {
  static char sname[] = "dvzsvc";
  static char sproto[] = "tcp";
  static struct servent s = {sname, nullptr, static_cast<int>(htons(1600)), sproto};
  if (std::strcmp(name, "dvzsvc") == 0) return &s;
  errno = ENOENT;
  return nullptr;
}

constexpr os_resolver_seam table_resolver = {table_byname, table_byaddr, table_servbyname};

time_t fixed_now() { return 0; }
unsigned no_sleep(unsigned) { return 0; }
constexpr os_clock_seam quick_clock = {fixed_now, no_sleep};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  os_resolver = &table_resolver;
  os_clock = &quick_clock;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 1024) return 0;
  const size_t length = size - 1;
  auto text = std::make_unique<char[]>(length + 1);
  std::memcpy(text.get(), data + 1, length);
  text[length] = '\0';
  drvblock drv {};
  drv.flags = (data[0] & 1) != 0 ? DRV_LISTENING : 0;
  drv.type = tl_drv_tlitcp;
  drv.protname = "tlitcp";
  asfsvcctl ctl {};
  tladdr addr {};
  int rc = tcpcons2tladdr(text.get(), &addr, &ctl, &drv);
  if (rc == 0) {
    if (ctl.asfcode != 0) fail("success with a status", ctl.asfcode);
    if ((addr.port >> 16) != 0) fail("port above 16 bits", static_cast<int>(addr.port));
    return 0;
  }
  if (rc != -1) fail("result", rc);
  switch (ctl.asfcode) {
    case ASF_ERR_BADADDR:
    case ASF_ERR_MEMORY:
      break;
    case TCP_ERR_NOHOST:
    case TCP_ERR_NOSERVICE:
      if (std::memchr(ctl.errstr, '\0', sizeof ctl.errstr) == nullptr) fail("errstr unended", 0);
      if (std::strstr(text.get(), ctl.errstr) == nullptr) fail("errstr not from the text", 0);
      break;
    default:
      fail("status", ctl.asfcode);
  }
  return 0;
}
