/*
** utf8_form.h: the UTF-8 bytes of one Unicode scalar value, for the code
** that builds or checks UTF-8 keys outside the converters themselves (the
** conversion file generator and the conversion files' tests). Header only;
** not part of the library's interface.
*/
#ifndef DVZ_GLSLIB_UTF8_FORM_H
#define DVZ_GLSLIB_UTF8_FORM_H

#include <cstdint>
#include <vector>

namespace glslib {

/* The one to four UTF-8 bytes of ucs (REQUIRES: ucs below 0x110000). */
inline std::vector<unsigned char> utf8_of(uint32_t ucs) {
  if (ucs < 0x80) return {static_cast<unsigned char>(ucs)};
  if (ucs < 0x800)
    return {static_cast<unsigned char>(0xC0 | (ucs >> 6)),
            static_cast<unsigned char>(0x80 | (ucs & 0x3F))};
  if (ucs < 0x10000)
    return {static_cast<unsigned char>(0xE0 | (ucs >> 12)),
            static_cast<unsigned char>(0x80 | ((ucs >> 6) & 0x3F)),
            static_cast<unsigned char>(0x80 | (ucs & 0x3F))};
  return {static_cast<unsigned char>(0xF0 | (ucs >> 18)),
          static_cast<unsigned char>(0x80 | ((ucs >> 12) & 0x3F)),
          static_cast<unsigned char>(0x80 | ((ucs >> 6) & 0x3F)),
          static_cast<unsigned char>(0x80 | (ucs & 0x3F))};
}

}  // namespace glslib

#endif
