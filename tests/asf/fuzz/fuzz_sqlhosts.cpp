/*
** Fuzz target: the sqlhosts reader with options. The input is a whole
** sqlhosts file, read from an anonymous memory file: every entry must come
** out with NUL-terminated fields, its option field parsed to one of the
** documented statuses with values in their ranges; the first entry is then
** looked up and expanded as a group through the same open file, and
** everything allocated must be given back.
*/
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf_al.h"
#include "asf_sqlhosts.h"
#include "fuzz_environment.h"

namespace {

/* Inputs beyond a few buffers add nothing. */
constexpr size_t max_input = 3 * ASF_FBUF_SIZE + 7;
constexpr int max_entries = 64;

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_sqlhosts: %s (%d)\n", what, value);
  std::abort();
}

template <size_t N>
void check_field(const char (&field)[N], const char *what) {
  if (strnlen(field, N) >= N) fail(what, static_cast<int>(N));
}

void check_entry(const SvrInfo &info) {
  check_field(info.name, "name not terminated");
  check_field(info.nettype, "nettype not terminated");
  check_field(info.product, "product not terminated");
  check_field(info.protocol, "protocol not terminated");
  check_field(info.host, "host not terminated");
  check_field(info.service, "service not terminated");
  check_field(info.options, "options not terminated");
  int valid = chkSvrInfo(&info);
  if (valid != 0 && valid != -1) fail("chkSvrInfo status", valid);
}

void check_options(const SvrInfo &info) {
  SqlhOptions opts;
  int rc = ASF_ParseSqlhOptions(&info, &opts);
  if (rc != 0 && rc != -27004 && rc != -406) fail("options status", rc);
  if (rc != 0) {
    if (opts.csm != nullptr) fail("csm kept after a failure", rc);
    return;
  }
  if (opts.security > 3 || opts.netrc > 1 || opts.keepalive > 1 || opts.redirect > 1)
    fail("option out of range", 0);
  if (opts.bufsize != 0 && (opts.bufsize < 140 || opts.bufsize > 32768))
    fail("buffer size", opts.bufsize);
  if (opts.ident < 0) fail("identifier", opts.ident);
  check_field(opts.group, "group not terminated");
  check_field(opts.endgroup, "end of group not terminated");
  if (opts.csm != nullptr) meFree(1, opts.csm);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  int fd = memfd_create("sqlhosts", 0);
  if (fd < 0) fail("memfd_create", fd);
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) fail("write", fd);
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  fbuf *f = asf_opfbuf(path, "r", 0);
  if (f == nullptr) fail("asf_opfbuf", fd);

  SvrInfo first {};
  SvrInfo info;
  int entries = 0;
  while (entries < max_entries && ASF_ReadHosts(f, &info) == 0) {
    check_entry(info);
    check_options(info);
    if (entries++ == 0) first = info;
  }
  // A line that starts with a NUL byte has an empty name: nothing to find.
  if (entries > 0 && first.name[0] != '\0') {
    SvrInfo found;
    int rc = getSvrInfo(f, first.name, &found);
    int expected = chkSvrInfo(&first) == 0 ? 0 : -25556;
    if (rc != expected) fail("getSvrInfo of the first entry", rc);
    SvrGroup list {};
    rc = GetSvrGroup(f, first.name, &first, &list);
    if (rc != 0 && rc != -25555 && rc != -25556 && rc != -27004 && rc != -406)
      fail("GetSvrGroup status", rc);
    int count = 0;
    for (SvrGroupNode *n = list.first; n != nullptr; n = n->next)
      ++count;
    if (count != list.count || (rc != 0 && count != 0) || (rc == 0 && count == 0))
      fail("group list", count);
    ASF_FreeSvrGroup(&list);
  }
  if (asf_clfbuf(f) != 0) fail("asf_clfbuf", 0);
  close(fd);
  return 0;
}
