/*
** Small arithmetic helpers of the locale library (digit counts and integer
** and floating powers, used by the number and time formatters) and the
** character-descriptor helpers (one character as a big-endian byte
** string of up to four bytes, used with the multi-level table inserter).
** Callers: the formatters and the data generator. Calls: nothing.
*/

#include "gl_host.h"

#include <algorithm>
#include <cstring>

namespace {

/* The bytes of a descriptor that hold the character (at most four). */
uint32_t used_bytes(const gl_char_desc *d) { return std::min<uint32_t>(d->byte_count, 4); }

/* Digits of n in base (at least 1; a value below base, negative ones
** included, has one). */
template <typename Int>
int digit_count(Int n, Int base) {
  if (base < 2) return 1; /* no base below 2 ever ends the division */
  int digits = 1;
  while (n >= base) {
    n /= base;
    ++digits;
  }
  return digits;
}

}  // namespace

extern "C" {

int _gl_digits(int32_t n, int32_t base) { return digit_count(n, base); }

int _gl_udigits(uint32_t n, uint32_t base) { return digit_count(n, base); }

int32_t _gl_ipow(int32_t base, int32_t exponent) {
  /* Square and multiply modulo 2^32: the value repeated multiplication
  ** would give, without its running time. */
  uint32_t result = 1;
  uint32_t factor = static_cast<uint32_t>(base);
  for (uint32_t e = exponent < 1 ? 0u : static_cast<uint32_t>(exponent); e != 0; e >>= 1) {
    if (e & 1u) result *= factor;
    factor *= factor;
  }
  return static_cast<int32_t>(result);
}

double _gl_fpow(double x, int32_t exponent) {
  double result = 1.0;
  if (exponent >= 0) {
    for (int32_t i = 0; i < exponent; ++i)
      result *= x;
  } else {
    for (int64_t i = 0; i < -static_cast<int64_t>(exponent); ++i)
      result /= x;
  }
  return result;
}

void _gl_desc_offset(const gl_char_desc *source, int32_t delta, gl_char_desc *destination) {
  *destination = *source;
  const uint32_t count = used_bytes(source);
  if (delta == 0 || count == 0) return;
  unsigned char *bytes = destination->bytes;
  if (delta > 0) {
    uint64_t carry = static_cast<uint64_t>(delta);
    for (int i = static_cast<int>(count) - 1; i >= 0 && carry != 0; --i) {
      uint64_t sum = bytes[i] + carry;
      bytes[i] = static_cast<unsigned char>(sum & 0xFF);
      carry = sum >> 8;
    }
  } else {
    uint64_t subtrahend = static_cast<uint64_t>(-static_cast<int64_t>(delta));
    int borrow = 0;
    for (int i = static_cast<int>(count) - 1; i >= 0; --i) {
      int difference = bytes[i] - static_cast<int>(subtrahend & 0xFF) - borrow;
      subtrahend >>= 8;
      borrow = difference < 0 ? 1 : 0;
      bytes[i] = static_cast<unsigned char>(difference + 256 * borrow);
    }
  }
}

int _gl_desc_eq(const gl_char_desc *a, const gl_char_desc *b) {
  if (a->byte_count != b->byte_count) return 0;
  return std::memcmp(a->bytes, b->bytes, used_bytes(a)) == 0 ? 1 : 0;
}

gl_wchar _gl_desc_to_gl_wchar(const gl_char_desc *descriptor) {
  gl_wchar value = 0;
  for (uint32_t i = 0; i < used_bytes(descriptor); ++i)
    value = value << 8 | descriptor->bytes[i];
  return value;
}

}  // extern "C"
