/*
** The packed DECIMAL form, in which a DECIMAL column is stored in a row and
** sent on the wire: one byte of excess-64 exponent with the sign in bit 7,
** then base-100 digit bytes, most significant first. A negative value has
** its exponent bits complemented (XOR 0x7F) and its digits replaced by
** their base-100 complement, so that packed fields compare as unsigned
** bytes in value order. L zero bytes are NULL.
**
** Written and read byte by byte; the layout must stay byte for byte.
*/
#include <algorithm>
#include <array>
#include <cstring>

#include "gen_decimal.h"

namespace {

constexpr int max_packed_bytes = 18;
constexpr unsigned char positive_bit = 0x80;
constexpr unsigned char exponent_bits = 0x7F;

}  // namespace

extern "C" {

/*
** Writes `value` into exactly `length` bytes, rounding half up to length -
** 1 digits. A carry out of the first digit raises the exponent; at the
** largest exponent it saturates instead (exponent bits 0x7F, every digit
** 99), so an overflowed value never wraps to the smallest exponent.
*/
void stdecimal(const dec_t *value, unsigned char *bytes, int length) {
  if (length <= 0) return;
  std::memset(bytes, 0, static_cast<size_t>(length));
  if (value->sign == -1) return;
  int npairs = std::clamp<int>(value->npairs, 0, DECSIZE);
  int room = length - 1;
  unsigned char *digits = bytes + 1;
  bytes[0] = static_cast<unsigned char>((value->exponent + 64) & exponent_bits);
  std::copy_n(value->pairs, std::min(room, npairs), digits);
  if (room > 0 && npairs > room && value->pairs[room] >= 50) {
    int i = room - 1;
    while (i >= 0 && ++digits[i] == 100)
      digits[i--] = 0;
    if (i < 0) {
      if (bytes[0] == exponent_bits) {
        std::fill_n(digits, room, 99);
      } else {
        digits[0] = 1;
        ++bytes[0];
      }
    }
  }
  if (value->sign == 1 || npairs == 0) {
    bytes[0] |= positive_bit;
  } else {
    deccomplement(digits, room);
    bytes[0] ^= exponent_bits;
  }
}

/*
** Reads a packed field of `length` bytes, of which at most 18 are used; a
** field whose first two bytes are 0 is NULL. Returns decload's status.
*/
int lddecimal(const unsigned char *bytes, int length, dec_t *result) {
  int used = std::min(length, max_packed_bytes);
  if (used <= 0 || (bytes[0] == 0 && (used == 1 || bytes[1] == 0))) {
    result->sign = -1;
    result->exponent = 0;
    result->npairs = 0;
    return 0;
  }
  const int count = used - 1;
  unsigned char head = bytes[0];
  /* A positive value's digits are read where they are stored. */
  if ((head & positive_bit) != 0)
    return decload(result, 1, (head & exponent_bits) - 64, bytes + 1, count);
  std::array<unsigned char, max_packed_bytes - 1> digits {};
  std::copy_n(bytes + 1, count, digits.begin());
  deccomplement(digits.data(), count);
  head ^= exponent_bits;
  return decload(result, 0, (head & exponent_bits) - 64, digits.data(), count);
}

} /* extern "C" */
