/*
** code6.cpp: the 6-bit text code that carries binary data as printable
** text in the association services (connect headers, text command
** lines). Each 3 bytes become 4 characters of the alphabet below, most
** significant bits first; a final 1 or 2 bytes become 2 or 3 characters.
** No padding and no terminator are written.
**
** Decoding maps every character outside the alphabet to 0, bytes 0x80 and
** above included: the reverse map has one entry per 7-bit character and
** is never indexed past its end.
*/
#include <array>
#include <cstdint>

#include "gen_strings.h"

namespace {

constexpr char smap[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";

/* Character -> 6-bit value; 0 for characters outside the alphabet. */
constexpr std::array<uint8_t, 128> bmap = [] {
  std::array<uint8_t, 128> t {};
  for (uint8_t v = 0; v < 64; ++v)
    t[static_cast<unsigned char>(smap[v])] = v;
  return t;
}();

unsigned value_of(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < bmap.size() ? bmap[u] : 0;
}

}  // namespace

extern "C" {

void conbinto6(const char *bytes, char *text, int count) {
  const auto *in = reinterpret_cast<const unsigned char *>(bytes);
  for (; count >= 3; count -= 3, in += 3) {
    *text++ = smap[in[0] >> 2];
    *text++ = smap[((in[0] & 3) << 4) | (in[1] >> 4)];
    *text++ = smap[((in[1] & 15) << 2) | (in[2] >> 6)];
    *text++ = smap[in[2] & 63];
  }
  if (count == 1) {
    *text++ = smap[in[0] >> 2];
    *text++ = smap[(in[0] & 3) << 4];
  } else if (count == 2) {
    *text++ = smap[in[0] >> 2];
    *text++ = smap[((in[0] & 3) << 4) | (in[1] >> 4)];
    *text++ = smap[(in[1] & 15) << 2];
  }
}

void con6tobin(const char *text, char *bytes, int count) {
  auto put = [&bytes](unsigned v) { *bytes++ = static_cast<char>(v & 0xFF); };
  for (; count >= 4; count -= 4, text += 4) {
    unsigned c0 = value_of(text[0]), c1 = value_of(text[1]);
    unsigned c2 = value_of(text[2]), c3 = value_of(text[3]);
    put((c0 << 2) | (c1 >> 4));
    put(((c1 & 15) << 4) | (c2 >> 2));
    put(((c2 & 3) << 6) | c3);
  }
  if (count >= 2) {
    unsigned c0 = value_of(text[0]), c1 = value_of(text[1]);
    put((c0 << 2) | (c1 >> 4));
    if (count == 3) put(((c1 & 15) << 4) | (value_of(text[2]) >> 2));
  }
}

}  // extern "C"
