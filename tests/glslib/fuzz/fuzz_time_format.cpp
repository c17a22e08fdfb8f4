/*
** Fuzz target: the time formatter and the format expansion in the shipped
** en_us and ja_jp locales (fuzz_locales.h). The input is a control byte
** (bit 0: a raw time record follows, else one within range is derived
** from the next bytes; bits 1-6: the output size; bit 7: the Japanese
** locale), the time bytes, then the format.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_locales.h"
#include "glslib.h"

namespace {

int32_t word(const uint8_t *p) {
  uint32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return static_cast<int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_locales::load_all();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  uint8_t control = data[0];
  gl_locale *record = fuzz_locales::records[control >> 7];
  if (record == nullptr) return 0;
  bool raw = control & 1;
  std::size_t time_bytes = raw ? 48 : 12;
  if (size < 1 + time_bytes) return 0;
  const uint8_t *t = data + 1;
  gl_time_rec time {};
  if (raw) {
    int32_t *words = &time.tm_fraction;
    for (int i = 0; i < 12; ++i)
      words[i] = word(t + 4 * i);
  } else {
    time.tm_fraction = static_cast<int32_t>(word(t) & 0x7fffffff) % 1000000;
    time.tm_sec = t[4] % 60;
    time.tm_min = t[5] % 60;
    time.tm_hour = t[6] % 24;
    time.tm_mday = 1 + t[7] % 28;
    time.tm_mon = t[8] % 12;
    time.tm_year = (t[9] | (t[10] << 8)) % 10000 - 1900;
    time.tm_wday = t[11] % 7;
    time.tm_yday = (t[9] + t[11]) % 366;
  }
  std::string format(reinterpret_cast<const char *>(data) + 1 + time_bytes, size - 1 - time_bytes);
  const auto *fmt = reinterpret_cast<const unsigned char *>(format.c_str());
  int out_size = 1 + (control >> 1 & 63);
  std::vector<unsigned char> out(static_cast<std::size_t>(out_size));
  gl_mbsftime(record, out.data(), out_size, fmt, &time);
  gl_mbsfmtexpand(record, 1, fmt);
  return 0;
}
