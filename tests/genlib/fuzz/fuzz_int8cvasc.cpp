/*
** Fuzz target: INT8 from text. The input bytes are the text, passed with
** their length and never terminated, in a heap block of exactly that size,
** so that a read past the length is an address-sanitizer report. Every
** outcome must be 0, -1213 or -1284 (the run's -timeout catches an input
** that does not answer at once, whatever its exponent); a failure leaves
** the record untouched, a success leaves NULL (every word 0, for blank
** text only) or a value of magnitude below 2^63 whose zero is positive.
** A success is checked once more: the value's text in base 10 reads back
** to the same record. A text of blanks, a sign and decimal digits only
** gives what strtoll gives (-1284 where strtoll overflows, and for -2^63).
*/
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_environment.h"
#include "gen_int8.h"

namespace {

constexpr size_t max_text = 4096;

[[noreturn]] void fail(const char *what, int status, const dvz_int8_t &v) {
  std::fprintf(stderr, "fuzz_int8cvasc: %s (status %d, sign %d, high %08x, low %08x)\n", what,
               status, v.sign, v.high, v.low);
  std::abort();
}

/* Whether the text is blanks, an optional sign, decimal digits and
** blanks: a shape strtoll reads the same way. */
bool plain_integer(const uint8_t *data, size_t size) {
  size_t i = 0;
  while (i < size && data[i] == ' ')
    ++i;
  if (i < size && (data[i] == '-' || data[i] == '+')) ++i;
  const size_t digits = i;
  while (i < size && data[i] >= '0' && data[i] <= '9')
    ++i;
  if (i == digits) return false;
  while (i < size && data[i] == ' ')
    ++i;
  return i == size;
}

/* For a plain integer text, the status and value strtoll gives: -1284
** where it reports ERANGE and for -2^63, which INT8 does not hold. */
void compare_with_strtoll(const uint8_t *data, size_t size, int status, const dvz_int8_t &v) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  errno = 0;
  const long long peer = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || peer == LLONG_MIN) {
    if (status != -1284) fail("strtoll overflows, INT8 does not", status, v);
    return;
  }
  if (status != 0) fail("strtoll reads the text, INT8 does not", status, v);
  const uint64_t m = (uint64_t {v.high} << 32) | v.low;
  const long long ours = v.sign < 0 ? -static_cast<long long>(m) : static_cast<long long>(m);
  if (ours != peer) fail("a value other than strtoll's", status, v);
}

bool all_blank(const uint8_t *data, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (data[i] != ' ') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_text) return 0;
  const std::unique_ptr<char[]> text = fuzz_environment::exact_copy(data, size);
  dvz_int8_t v;
  std::memset(&v, 0xA5, sizeof v);
  dvz_int8_t untouched = v;
  const int status = dvz_int8cvasc(text.get(), static_cast<int>(size), &v);
  if (plain_integer(data, size)) compare_with_strtoll(data, size, status, v);
  if (status == -1213 || status == -1284) {
    if (std::memcmp(&v, &untouched, sizeof v) != 0) fail("failed conversion wrote", status, v);
    return 0;
  }
  if (status != 0) fail("unexpected status", status, v);
  if (v.sign == 0) {
    if (v.high != 0 || v.low != 0) fail("NULL with non-zero words", status, v);
    if (!all_blank(data, size)) fail("NULL from text that is not blank", status, v);
    return 0;
  }
  if (v.sign != 1 && v.sign != -1) fail("sign neither 1 nor -1", status, v);
  if ((v.high & 0x80000000u) != 0) fail("magnitude of 2^63 or more", status, v);
  if (v.sign == -1 && v.high == 0 && v.low == 0) fail("negative zero", status, v);
  char back_text[24];
  if (dvz_int8tostr(&v, back_text, 21) != 0) fail("value does not fit 21 bytes", status, v);
  dvz_int8_t back;
  if (dvz_int8cvasc(back_text, static_cast<int>(std::strlen(back_text)), &back) != 0 ||
      back.sign != v.sign || back.high != v.high || back.low != v.low)
    fail("text of the value does not read back", status, v);
  return 0;
}
