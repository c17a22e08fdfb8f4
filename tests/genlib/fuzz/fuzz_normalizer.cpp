/*
** Fuzz target: the normaliser of MATCHES and LIKE, built from fuzzed
** lists, then used by the operator. Byte 0 of the input holds the
** operator (bits 0-1: MATCHES, NOT MATCHES, LIKE, NOT LIKE) and whether
** the database is ANSI-compliant (bit 2); byte 1 is the escape character;
** byte 2 the length of the lists, byte 3 the value's length (each at most
** what remains); the pattern is the rest. The lists are entries separated
** by ','; an entry "m=r" makes m equivalent to r, any other entry is
** ignorable. Every list text and operand is a heap block of its exact
** size (the list texts with the four zero bytes the locale loader puts
** after each), so a read past one is an address-sanitizer report.
**
** The process runs under the UTF-8 client locale, whose collation has
** equivalent characters: NCHAR operands are normalised, by the fuzzed
** normaliser while no locale change resets it. Must hold: no crash and no
** read outside the inputs; a failed build leaves no normaliser; the
** operator's answer compiled afresh, from the cache, and again with the
** cache emptied are the same; a bounded time per input (the fuzzer's
** timeout).
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

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

/* A list text as the loader stores it: the bytes and four zero bytes. */
char *list_text(const uint8_t *bytes, size_t n) {
  char *text = static_cast<char *>(std::malloc(n + 4));
  if (n > 0) std::memcpy(text, bytes, n);
  std::memset(text + n, 0, 4);
  return text;
}

/* The two lists of one input; frees every text. */
struct lists {
  std::vector<char *> ignorable;
  std::vector<gl_equiv_pair> equivalents;

  lists(const uint8_t *data, size_t size) {
    size_t start = 0;
    for (size_t k = 0; k <= size; ++k) {
      if (k < size && data[k] != ',') continue;
      const uint8_t *entry = data + start;
      size_t n = k - start;
      const void *eq = n > 0 ? std::memchr(entry, '=', n) : nullptr;
      if (eq != nullptr) {
        size_t m = static_cast<size_t>(static_cast<const uint8_t *>(eq) - entry);
        equivalents.push_back({list_text(entry, m), list_text(entry + m + 1, n - m - 1)});
      } else {
        ignorable.push_back(list_text(entry, n));
      }
      start = k + 1;
    }
    ignorable.push_back(nullptr);
    equivalents.push_back({nullptr, nullptr});
  }
  ~lists() {
    for (char *s : ignorable)
      std::free(s);
    for (gl_equiv_pair &p : equivalents) {
      std::free(p.member);
      std::free(p.representative);
    }
  }
};

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
    std::fprintf(stderr, "fuzz_normalizer: locale initialisation failed (%d)\n", status);
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  int flags = data[0];
  int op = operators[flags & 3];
  int escape = data[1];
  size_t rest = size - 4;
  size_t list_len = data[2] <= rest ? data[2] : rest;
  rest -= list_len;
  size_t vlen = data[3] <= rest ? data[3] : rest;
  size_t plen = rest - vlen;
  const uint8_t *at = data + 4;
  lists given(at, list_len);
  auto value = fuzz_environment::exact_copy(at + list_len, vlen);
  auto pattern = fuzz_environment::exact_copy(at + list_len + vlen, plen);

  set_toerrno(0);
  if (build_normalizer(given.ignorable.data(), given.equivalents.data()) == 0) {
    if (normalizer != nullptr || _gnorminit != 0 || get_toerrno() == 0) {
      std::fprintf(stderr, "fuzz_normalizer: a failed build left %p, %d, %d\n",
                   static_cast<void *>(normalizer), _gnorminit, get_toerrno());
      std::abort();
    }
    set_toerrno(0);
    return 0;
  }
  if (prev_relist != nullptr || nprev_restr != -1) {
    std::fprintf(stderr, "fuzz_normalizer: building left the pattern cache\n");
    std::abort();
  }

  value_t v {};
  v.vtype = sql_type_nchar;
  v.vptr = value.get();
  v.vlen = static_cast<int32_t>(vlen);
  value_t p {};
  p.vtype = sql_type_nvarchar;
  p.vptr = pattern.get();
  p.vlen = static_cast<int32_t>(plen);
  gen_setansidb((flags & 4) != 0 ? 1 : 0);

  answer compiled = run(op, &v, &p, escape);
  answer cached = run(op, &v, &p, escape);
  empty_cache();
  answer fresh = run(op, &v, &p, escape);
  for (const answer *a : {&cached, &fresh}) {
    if (a->status != compiled.status || a->ind != compiled.ind || a->value != compiled.value ||
        a->warning != compiled.warning) {
      std::fprintf(stderr, "fuzz_normalizer: op %d: first answer %d/%d/%d/%d, other %d/%d/%d/%d\n",
                   op, compiled.status, compiled.ind, compiled.value, compiled.warning, a->status,
                   a->ind, a->value, a->warning);
      std::abort();
    }
  }
  if (_gnorminit != 1) {
    std::fprintf(stderr, "fuzz_normalizer: the fuzzed normaliser was replaced\n");
    std::abort();
  }
  gen_setansidb(0);
  return 0;
}
