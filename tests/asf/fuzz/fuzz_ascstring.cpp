/*
** Fuzz target: the text connect request parser. The input is the request
** text, in a heap block of exactly its length and the zero byte that the
** session layer puts behind it. A parse fails with a documented status or
** gives connect parameters, a type-1 request with a known kind, and an
** environment list whose names are present, not empty and hold no "=";
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
  std::fprintf(stderr, "fuzz_ascstring: %s (%d)\n", what, value);
  std::abort();
}

size_t touch(const char *s) { return s != nullptr ? std::strlen(s) : 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4096) return 0;
  auto copy = std::make_unique<char[]>(size + 1);
  if (size > 0) std::memcpy(copy.get(), data, size);
  copy[size] = '\0';
  rscbufctl buf {};
  buf.p = copy.get();
  buf.size = static_cast<int32_t>(size);
  asfsvcctl ctl {};
  int32_t level = 0;
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  evlist_t *envlist = nullptr;
  asfprocinfo procinfo {};
  pfdatafmt fmt {};
  int rc =
      ascString(&ctl, asc_mode_read, &buf, &level, &params, &request, &envlist, &procinfo, &fmt);
  if (rc != 0 && rc != -1) fail("result", rc);
  if (rc == -1 && ctl.asfcode != -408 && ctl.asfcode != -406) fail("status", ctl.asfcode);
  if (rc == 0) {
    if (params == nullptr) fail("no parameters", 0);
    touch(params->user);
    touch(params->password);
    touch(params->version);
    touch(params->clientid);
    touch(params->pfname);
    if (request != nullptr && request->type == asc_pf_conkind) {
      const auto *ck = static_cast<const pfconkind *>(request->rec);
      for (const char *s : ck->str)
        touch(s);
    }
    if (envlist != nullptr)
      for (int32_t i = 0; i < envlist->count; ++i) {
        // Either form refuses an absent or empty name and one holding "=".
        const char *name = envlist->names[i];
        if (name == nullptr || name[0] == '\0') fail("name absent or empty", i);
        if (std::strchr(name, '=') != nullptr) fail("name holds =", i);
        touch(name);
        touch(envlist->values[i]);
      }
  }
  ascFreeParams(params);
  ascFreeRequest(request);
  ascFreeEnvlist(envlist);
  ascFreeProcinfo(&procinfo);
  return 0;
}
