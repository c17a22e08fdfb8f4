/*
** Fuzz target: the old-protocol reply reader. The first byte chooses the
** connect kind (low 4 bits) and whether the session layer saw a reject
** (bit 4); the rest is the reply body, in a heap block of exactly its
** length. A read gives 0 or -1 with a documented status, a type-2 record
** whose name list holds at most 120 names, and everything allocated is
** given back.
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
  std::fprintf(stderr, "fuzz_asc50resp: %s (%d)\n", what, value);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 8192) return 0;
  const int kind = data[0] & 15;
  const size_t length = size - 1;
  auto copy = std::make_unique<char[]>(length);
  if (length > 0) std::memcpy(copy.get(), data + 1, length);
  rscbufctl buf {};
  buf.p = copy.get();
  buf.size = static_cast<int32_t>(length);
  asfsvcctl ctl {};
  ctl.asfcode = (data[0] & 16) != 0 ? 7 : 0;
  int32_t level = 0;
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  asfprocinfo procinfo {};
  pfdatafmt fmt {};
  int rc = asc50resp(&ctl, kind, asc_mode_read, &buf, &level, &params, &request, nullptr, &procinfo,
                     &fmt);
  if (rc != 0 && rc != -1) fail("result", rc);
  if (ctl.asfcode != 0 && ctl.asfcode != 7 && ctl.asfcode != -408 && ctl.asfcode != -406)
    fail("status", ctl.asfcode);
  if (buf.size < 0 || buf.p + buf.size != copy.get() + length) fail("buffer after the read", 0);
  if (request != nullptr) {
    if (request->type != asc_pf_status) fail("request type", request->type);
    const auto *st = static_cast<const pfstatus *>(request->rec);
    if (st->list != nullptr) {
      if (st->list->count > ASC_MAX_LISTED) fail("names", st->list->count);
      for (int32_t i = 0; i < st->list->count; ++i)
        if (std::strlen(st->list->str[i]) > 0xFFFF) fail("name length", i);
    }
    if (st->count > 1) fail("message entries", st->count);
  }
  ascFreeParams(params);
  ascFreeRequest(request);
  return 0;
}
