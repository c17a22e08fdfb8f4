/*
** Fuzz target: monetary formatting and parsing in the shipped en_us
** locale (8859-1) and the Japanese one (fuzz_locales.h). The input is a
** mode byte (bit 0: format, else parse; bits 1-6: the output size; bit 7:
** the Japanese locale), eight bytes of a double, then a format and a text
** separated by a zero byte; formats with more directives than arguments
** are skipped.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_locales.h"
#include "glslib.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_locales::load_all();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 9 || size > 4096) return 0;
  gl_locale *record = fuzz_locales::records[data[0] >> 7];
  if (record == nullptr) return 0;
  double value = 0;
  std::memcpy(&value, data + 1, sizeof value);
  std::string rest(reinterpret_cast<const char *>(data) + 9, size - 9);
  std::size_t zero = rest.find('\0');
  std::string format = rest.substr(0, zero);
  std::string text = zero == std::string::npos ? std::string() : rest.substr(zero + 1);
  text = text.substr(0, text.find('\0'));
  int directives = 0;
  for (char c : format)
    directives += c == '%';
  if (directives > 4) return 0;
  const unsigned char *f = reinterpret_cast<const unsigned char *>(format.c_str());
  record->error = 0;
  if (data[0] & 1) {
    unsigned char out[300];
    (void)gl_mbsfmon(record, out, static_cast<int>(data[0] >> 1 & 63) + 1, f, value, value, value,
                     value);
  } else {
    double v[4] = {};
    (void)gl_mbspmon(record, reinterpret_cast<const unsigned char *>(text.c_str()), f, &v[0], &v[1],
                     &v[2], &v[3]);
  }
  return 0;
}
