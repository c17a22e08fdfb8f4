/*
** Fuzz target: the time parser in the shipped en_us locale (8859-1) and
** in the Japanese locale (SHIFT_JIS, with its alternative digits and, when
** the data has them, its eras), both served from memory through the fopen
** slot. The input is a control byte (bit 0: the Japanese locale; bits 1-2:
** the century rule), then a format and a text separated by a zero byte.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_locales.h"
#include "glslib.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_locales::load_all();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  gl_locale *record = fuzz_locales::records[data[0] & 1];
  if (record == nullptr) return 0;
  static const int rules[] = {'R', 'P', 'F', 'C'};
  const int rule = rules[(data[0] >> 1) & 3];
  std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::size_t zero = rest.find('\0');
  std::string format = rest.substr(0, zero);
  std::string text = zero == std::string::npos ? std::string() : rest.substr(zero + 1);
  text = text.substr(0, text.find('\0'));
  /* Room for the widest terminator after each string. */
  format.append(4, '\0');
  text.append(4, '\0');
  gl_time_rec time {};
  time.tm_mday = 1;
  const gl_date_rec today {6, 15, 2024};
  record->error = 0;
  const unsigned char *t = reinterpret_cast<const unsigned char *>(text.data());
  const unsigned char *end = gl_mbsptime_internal(
      record, t, reinterpret_cast<const unsigned char *>(format.data()), &time, rule, &today);
  if (end != nullptr && (end < t || end > t + text.size())) __builtin_trap();
  return 0;
}
