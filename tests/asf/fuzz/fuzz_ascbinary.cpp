/*
** Fuzz target: the binary connect response reader. The input is the
** message after its start code, in a heap block of exactly its length, so
** that a read past it is an address-sanitizer report. A read either fails
** with a documented status or leaves the end code unread; what it read is
** written again and must read back the same, and everything allocated is
** given back.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "asc_codec.h"
#include "fuzz_environment.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_ascbinary: %s (%d)\n", what, value);
  std::abort();
}

struct Outputs {
  int32_t level = 0;
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  evlist_t *envlist = nullptr;
  asfprocinfo procinfo {};
  pfdatafmt fmt {};
  ~Outputs() {
    ascFreeParams(params);
    ascFreeRequest(request);
    ascFreeEnvlist(envlist);
    ascFreeProcinfo(&procinfo);
  }
};

/* Touches every string so that one without its NUL is a report. */
size_t touch(const char *s) { return s != nullptr ? std::strlen(s) : 0; }

void check(const Outputs &o) {
  touch(o.params->version);
  touch(o.params->clientid);
  touch(o.params->pfname);
  touch(o.params->user);
  touch(o.params->password);
  if (std::strlen(o.params->progname) >= ASC_PROGNAME_SIZE) fail("program name", 0);
  touch(o.procinfo.host);
  touch(o.procinfo.tty);
  touch(o.procinfo.cwd);
  if (o.envlist != nullptr)
    for (int32_t i = 0; i < o.envlist->count; ++i) {
      touch(o.envlist->names[i]);
      touch(o.envlist->values[i]);
    }
}

int read(const char *data, int32_t size, Outputs &o, int32_t *left) {
  rscbufctl buf {};
  buf.p = const_cast<char *>(data);
  buf.size = size;
  asfsvcctl ctl {};
  int rc = ascBinary(&ctl, asc_mode_read, &buf, &o.level, &o.params, &o.request, &o.envlist,
                     &o.procinfo, &o.fmt);
  if (rc != 0 && rc != -1) fail("result", rc);
  if (rc == -1 && ctl.asfcode != -408 && ctl.asfcode != -406) fail("status", ctl.asfcode);
  if (buf.size < 0 || buf.size > size || buf.p < data || buf.p + buf.size != data + size)
    fail("buffer after the read", buf.size);
  if (rc == 0 && (buf.size < 1 || static_cast<unsigned char>(buf.p[0]) != 0))
    fail("end code not left", buf.size);
  *left = buf.size;
  return rc;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 8192) return 0;
  auto copy = std::make_unique<char[]>(size + 1);
  std::memcpy(copy.get(), data, size);
  int32_t left = 0;
  Outputs first;
  if (read(copy.get(), static_cast<int32_t>(size), first, &left) != 0) return 0;
  check(first);

  /* Write it again (unknown sections and a longer 116 drop out) and read. */
  std::vector<char> again(size + 64);
  rscbufctl buf {};
  buf.p = again.data();
  buf.size = static_cast<int32_t>(again.size()) - 2;
  asfsvcctl ctl {};
  int rc = ascBinary(&ctl, asc_mode_write, &buf, &first.level, &first.params, &first.request,
                     &first.envlist, &first.procinfo, nullptr);
  if (rc != 0) fail("writing what was read", ctl.asfcode);
  int32_t n = buf.size;
  again[static_cast<size_t>(n)] = 0;
  again[static_cast<size_t>(n) + 1] = 127;
  Outputs second;
  if (read(again.data(), n + 2, second, &left) != 0) fail("reading what was written", 0);
  if (second.level != first.level || second.params->userkind != first.params->userkind ||
      std::strcmp(second.params->progname, first.params->progname) != 0 ||
      std::memcmp(&second.params->pairs, &first.params->pairs, offsetof(ascpairs, word)) != 0 ||
      second.procinfo.uid != first.procinfo.uid || second.procinfo.pid != first.procinfo.pid)
    fail("round trip", 0);
  if ((second.request == nullptr) != (first.request == nullptr)) fail("request round trip", 0);
  if (second.request != nullptr && second.request->type != first.request->type)
    fail("request type round trip", second.request->type);
  return 0;
}
