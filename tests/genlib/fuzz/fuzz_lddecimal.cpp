/*
** Fuzz target: the packed DECIMAL form. Byte 0 of the input gives the
** field length L (its value modulo 41, so 0 to 40); the rest, in a heap
** block of exactly that size, is the field. The bytes past the 18 that a
** field may use are poisoned, so that a read beyond L or beyond 18 bytes is
** an address-sanitizer report. A field of at least two bytes must load as
** NULL exactly when its first two bytes are 0, with status 0. Fields whose
** digit bytes are valid base-100 digits must survive a store: storing the
** loaded value into the length that was read and loading it again gives
** the same value, and storing that gives the same bytes.
*/
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_environment.h"
#include "gen_decimal.h"

namespace {

constexpr size_t max_length = 40;
constexpr size_t used_bytes = 18;

[[noreturn]] void fail(const char *what, size_t length, int status) {
  std::fprintf(stderr, "fuzz_lddecimal: %s (L %zu, status %d)\n", what, length, status);
  std::abort();
}

bool same_value(const dec_t &a, const dec_t &b) {
  if (a.sign != b.sign) return false;
  if (a.sign == -1) return true;
  return a.exponent == b.exponent && a.npairs == b.npairs &&
         std::memcmp(a.pairs, b.pairs, static_cast<size_t>(a.npairs)) == 0;
}

/* Every digit byte is a base-100 digit (then so is its complement). */
bool valid_digits(const unsigned char *field, size_t n) {
  return std::all_of(field + 1, field + n, [](unsigned char b) { return b <= 99; });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t length = data[0] % (max_length + 1);
  if (size - 1 < length) return 0;
  std::unique_ptr<unsigned char[]> field(new unsigned char[length]);
  if (length > 0) std::memcpy(field.get(), data + 1, length);
  if (length > used_bytes) ASAN_POISON_MEMORY_REGION(field.get() + used_bytes, length - used_bytes);

  dec_t loaded;
  std::memset(&loaded, 0xA5, sizeof loaded);
  int status = lddecimal(field.get(), static_cast<int>(length), &loaded);
  if (length > used_bytes)
    ASAN_UNPOISON_MEMORY_REGION(field.get() + used_bytes, length - used_bytes);

  if (status != 0 && status != -1200 && status != -1201) fail("unexpected status", length, status);
  if (length >= 2) {
    bool null_bytes = field[0] == 0 && field[1] == 0;
    if (null_bytes != (loaded.sign == -1))
      fail("NULL not exactly for two zero bytes", length, status);
    if (null_bytes && status != 0) fail("NULL with an error", length, status);
  }
  size_t n = std::min(length, used_bytes);
  if (n < 2 || !valid_digits(field.get(), n)) return 0;

  unsigned char first[used_bytes], second[used_bytes];
  stdecimal(&loaded, first, static_cast<int>(n));
  dec_t reloaded;
  std::memset(&reloaded, 0x5A, sizeof reloaded);
  int again = lddecimal(first, static_cast<int>(n), &reloaded);
  /* The largest exponent, 63, loads with the overflow status. */
  if (again != (reloaded.sign != -1 && reloaded.exponent == 63 ? -1200 : 0))
    fail("unexpected status reloading a stored value", length, again);
  if (!same_value(loaded, reloaded)) fail("store and load changed the value", length, status);
  stdecimal(&reloaded, second, static_cast<int>(n));
  if (std::memcmp(first, second, n) != 0) fail("a second store changed the bytes", length, status);
  return 0;
}
