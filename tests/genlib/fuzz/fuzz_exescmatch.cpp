/*
** Fuzz target: the MATCHES and LIKE operators. Byte 0 of the input holds
** the operator (bits 0-1: MATCHES, NOT MATCHES, LIKE, NOT LIKE), whether
** the value (bit 2) and the pattern (bit 3) are VARCHAR rather than CHAR,
** and whether the database is ANSI-compliant (bit 4); byte 1 is the escape
** character; byte 2 the value's length (at most what remains). The value
** and the pattern are copied into heap blocks of exactly their sizes, so
** a read past an operand is an address-sanitizer report.
**
** The process runs under the UTF-8 client locale, so the operator takes
** the compiled matcher with its pattern cache; the byte matcher is run on
** the same operands directly. Must hold: no crash and no read outside the
** operands; the operator's answer with the cache left by earlier inputs
** equals its answer with the cache emptied; a bounded time per input
** (the fuzzer's timeout).
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_environment.h"
#include "gen_exprtypes.h"
#include "gen_match.h"
#include "gen_types.h"
#include "match_internal.h"
#include "os_gentcb.h"

namespace {

constexpr int operators[] = {EX_MATCHES, EX_NOTMATCHES, EX_LIKE, EX_NOTLIKE};

struct answer {
  int status;
  int16_t ind;
  int value;
  int warning;
};

answer run(int op, value_t *v, value_t *p, int escape) {
  value_t r {};
  int warning = 0;
  int status = ansi_exescmatch(op, v, p, &r, escape, &warning);
  return {status, r.vind, r.vint, warning};
}

void empty_cache() {
  rfreerelist(prev_relist);
  prev_relist = nullptr;
  std::free(prev_restr);
  prev_restr = nullptr;
  nprev_restr = -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("TZ", "UTC", 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"DB_LOCALE", "DBMONEY", "DBLANG", "DBNLS"})
    unsetenv(name);
  setenv("CLIENT_LOCALE", "en_us.utf8", 1);
  int status = chkglsinit();
  if (status != 0) {
    std::fprintf(stderr, "fuzz_exescmatch: locale initialisation failed (%d)\n", status);
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  int flags = data[0];
  int op = operators[flags & 3];
  int escape = data[1];
  size_t rest = size - 3;
  size_t vlen = data[2] <= rest ? data[2] : rest;
  size_t plen = rest - vlen;
  auto value = fuzz_environment::exact_copy(data + 3, vlen);
  auto pattern = fuzz_environment::exact_copy(data + 3 + vlen, plen);

  value_t v {};
  v.vtype = (flags & 4) != 0 ? sql_type_varchar : sql_type_char;
  v.vptr = value.get();
  v.vlen = static_cast<int32_t>(vlen);
  value_t p {};
  p.vtype = (flags & 8) != 0 ? sql_type_varchar : sql_type_char;
  p.vptr = pattern.get();
  p.vlen = static_cast<int32_t>(plen);
  gen_setansidb((flags & 16) != 0 ? 1 : 0);

  answer cached = run(op, &v, &p, escape);
  answer again = run(op, &v, &p, escape);
  empty_cache();
  answer fresh = run(op, &v, &p, escape);
  for (const answer *a : {&again, &fresh}) {
    if (a->status != cached.status || a->ind != cached.ind || a->value != cached.value ||
        a->warning != cached.warning) {
      std::fprintf(stderr, "fuzz_exescmatch: op %d: cached answer %d/%d/%d/%d, other %d/%d/%d/%d\n",
                   op, cached.status, cached.ind, cached.value, cached.warning, a->status, a->ind,
                   a->value, a->warning);
      std::abort();
    }
  }

  int many = op == EX_MATCHES || op == EX_NOTMATCHES ? '*' : '%';
  int one = many == '*' ? '?' : '_';
  int byte_answer = rescfixstrmatch(value.get(), static_cast<int>(vlen), pattern.get(),
                                    static_cast<int>(plen), many, one, escape);
  if (byte_answer != 0 && byte_answer != 1) std::abort();
  gen_setansidb(0);
  return 0;
}
