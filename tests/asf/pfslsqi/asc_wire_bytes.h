/*
** Test support of the connect request codec: builds expected wire bytes
** field by field from the section tables (big-endian integers, strings
** with a length that counts their NUL), independently of the codec.
*/
#ifndef DVZ_TESTS_ASF_ASC_WIRE_BYTES_H
#define DVZ_TESTS_ASF_ASC_WIRE_BYTES_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace asc_test {

struct Bytes {
  std::vector<unsigned char> v;

  Bytes &u16(uint32_t x) {
    v.push_back(static_cast<unsigned char>(x >> 8));
    v.push_back(static_cast<unsigned char>(x));
    return *this;
  }
  Bytes &u32(uint32_t x) {
    u16(x >> 16);
    return u16(x & 0xFFFF);
  }
  Bytes &raw(const void *p, size_t n) {
    const auto *b = static_cast<const unsigned char *>(p);
    v.insert(v.end(), b, b + n);
    return *this;
  }
  Bytes &raw(const std::string &s) { return raw(s.data(), s.size()); }
  /* A fixed field of n bytes, NUL-padded. */
  Bytes &fixed(const std::string &s, size_t n) {
    std::string f = s;
    f.resize(n, '\0');
    return raw(f);
  }
  /* A wire string; nullptr gives the BE16 0 of an absent string. */
  Bytes &str(const char *s) {
    if (s == nullptr) return u16(0);
    size_t n = std::strlen(s) + 1;
    u16(static_cast<uint32_t>(n));
    return raw(s, n);
  }
  std::string text() const { return std::string(v.begin(), v.end()); }
};

}  // namespace asc_test

#endif
