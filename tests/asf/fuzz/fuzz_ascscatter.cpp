/*
** Fuzz target: the 6-bit text decoder of the connect request. The input
** is the text behind the ":" of a text request, in a heap block of exactly
** its length; it decodes to the binary sections or to section 109. A read
** fails with a documented status or reports which form it read, and
** everything allocated is given back.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "asc_codec.h"
#include "fuzz_environment.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_ascscatter: %s (%d)\n", what, value);
  std::abort();
}

size_t touch(const char *s) { return s != nullptr ? std::strlen(s) : 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 8192) return 0;
  auto copy = std::make_unique<char[]>(size);
  if (size > 0) std::memcpy(copy.get(), data, size);
  rscbufctl buf {};
  buf.p = copy.get();
  buf.size = static_cast<int32_t>(size);
  asfsvcctl ctl {};
  int32_t code = 0, level = 0;
  ascmrec mrec {};
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  evlist_t *envlist = nullptr;
  asfprocinfo procinfo {};
  pfdatafmt fmt {};
  int rc = ascScatter(&ctl, asc_mode_read, &buf, &code, &mrec, &level, &params, &request, &envlist,
                      &procinfo, &fmt);
  if (rc != 0 && rc != -1) fail("result", rc);
  if (rc == -1 && ctl.asfcode != -408 && ctl.asfcode != -406) fail("status", ctl.asfcode);
  if (rc == 0 && code != 101 && code != 109) fail("code", code);
  if (rc == 0 && code == 101 && params == nullptr) fail("no parameters", 0);
  if (rc == 0 && code == 109) {
    touch(mrec.pfname);
    touch(mrec.server);
    if (std::strlen(mrec.progname) >= ASC_PROGNAME_SIZE) fail("program name", 0);
  }
  touch(procinfo.host);
  touch(procinfo.cwd);
  ascFreeMrec(&mrec);
  ascFreeParams(params);
  ascFreeRequest(request);
  ascFreeEnvlist(envlist);
  ascFreeProcinfo(&procinfo);
  return 0;
}
