/*
** wire_codec.h: the tests' own big-endian codec of SQLI fields and the
** byte-script notation their expected bytes and scripted replies are
** written in. Written from the wire tables, never from the runtime's
** primitives, so that a fault in those shows as a difference.
**
** Byte scripts: tokens separated by blanks, "#" to the end of a line a
** comment.
**   0a0b ff          hex bytes (an even number of digits per token)
**   "text"           ASCII bytes (\" \\ \n \t \xHH escapes)
**   i16(-1) u16(65535) i32(7)           big-endian integers
**   lbuf("abc")      u16 length, the bytes, a pad byte when odd
**   pbuf("abc")      the bytes and a pad byte when odd
**   int8(sign,low,high)                 the 10-byte INT8 form
**   dec(n)           the DECIMAL length word n (the packed bytes follow)
**   zeros(n)         n zero bytes
** A malformed script throws std::invalid_argument naming the token.
*/
#ifndef DVZ_TESTS_SQLI_WIRE_CODEC_H
#define DVZ_TESTS_SQLI_WIRE_CODEC_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sqli_test {

using Bytes = std::vector<uint8_t>;

/* A builder of wire bytes: each field appended big-endian. */
class Wire {
 public:
  Wire &i16(int value);
  Wire &u16(unsigned value);
  Wire &i32(int64_t value);
  Wire &raw(std::string_view bytes);
  Wire &raw(const Bytes &bytes);
  Wire &zeros(size_t n);
  Wire &pad_if_odd(size_t n);
  Wire &lbuf(std::string_view bytes);
  Wire &pbuf(std::string_view bytes);
  Wire &int8(int sign, uint32_t low, uint32_t high);
  Wire &dec_header(unsigned length);
  const Bytes &bytes() const { return bytes_; }
  operator Bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

/* Big-endian readers over a byte vector, for checking what was sent. */
int16_t ld_i16(const Bytes &b, size_t at);
uint16_t ld_u16(const Bytes &b, size_t at);
int32_t ld_i32(const Bytes &b, size_t at);

/* The bytes of a script (see above). */
Bytes parse_script(std::string_view script);
/* The named scripts of a file: lines "name: script" (a script may go on
** over lines that begin with blanks). Throws when the file cannot be read. */
std::vector<std::pair<std::string, Bytes>> load_scripts(const std::string &path);

/* Lower-case hex of bytes, for readable failures. */
std::string hex(const Bytes &bytes);

}  // namespace sqli_test

#endif
