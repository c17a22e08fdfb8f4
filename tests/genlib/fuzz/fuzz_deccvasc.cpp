/*
** Fuzz target: DECIMAL from text. The input bytes are the text, passed
** with their length and never terminated, in a heap block of exactly that
** size, so that a read past the length is an address-sanitizer report.
** Every outcome must be one of the documented statuses, and the record a
** well-formed DECIMAL: NULL only for a successful all-blank text, zero
** after a malformed text or a failed allocation, otherwise normalised (no
** leading or trailing zero digit pair, digits below 100, exponent within
** -64..63, at the bound that an overflow or underflow reports).
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_environment.h"
#include "gen_dectext.h"

namespace {

constexpr size_t max_text = 4096;

[[noreturn]] void fail(const char *what, int status, const dec_t &d) {
  std::fprintf(stderr, "fuzz_deccvasc: %s (status %d, sign %d, exponent %d, npairs %d)\n", what,
               status, d.sign, d.exponent, d.npairs);
  std::abort();
}

bool is_zero(const dec_t &d) { return d.sign == 1 && d.exponent == -64 && d.npairs == 0; }

void check(int status, const dec_t &d) {
  switch (status) {
    case 0:
    case -1200:
    case -1201:
      break;
    case -1213:
    case -406:
      if (!is_zero(d)) fail("failed conversion left a non-zero result", status, d);
      return;
    default:
      fail("unexpected status", status, d);
  }
  if (d.sign == -1) {
    if (status != 0) fail("NULL result with an error", status, d);
    return;
  }
  if (d.sign != 0 && d.sign != 1) fail("sign neither 0, 1 nor -1", status, d);
  if (d.exponent < -64 || d.exponent > 63) fail("exponent out of range", status, d);
  if (d.npairs < 0 || d.npairs > DECSIZE) fail("digit count out of range", status, d);
  if (d.npairs == 0) {
    if (!is_zero(d)) fail("zero not in its normal form", status, d);
    if (status != 0) fail("zero with an overflow or underflow", status, d);
    return;
  }
  if (d.pairs[0] == 0) fail("leading zero pair", status, d);
  if (d.pairs[d.npairs - 1] == 0) fail("trailing zero pair", status, d);
  for (int i = 0; i < d.npairs; ++i)
    if (d.pairs[i] > 99) fail("digit pair above 99", status, d);
  if (status == -1200 && d.exponent != 63) fail("overflow not at exponent 63", status, d);
  if (status == -1201 && d.exponent != -64) fail("underflow not at exponent -64", status, d);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_text) return 0;
  const std::unique_ptr<char[]> text = fuzz_environment::exact_copy(data, size);
  dec_t d;
  std::memset(&d, 0xA5, sizeof d);
  int status = deccvasc(text.get(), static_cast<int>(size), &d);
  check(status, d);
  return 0;
}
