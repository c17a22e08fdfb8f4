/*
** Fuzz target: monetary formatting and parsing in the shipped en_us
** locale (8859-1), served from memory through the fopen slot. The input is
** a mode byte, eight bytes of a double, then a format and a text separated
** by a zero byte; formats with more directives than arguments are skipped.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "glslib.h"

namespace {

std::vector<char> g_locale;
gl_locale *g_record = nullptr;

FILE *serve_locale(const char *, const char *) {
  return fmemopen(g_locale.data(), g_locale.size(), "r");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  FILE *f = std::fopen(GLS_SOURCE_DATA "/lc11/en_us/0333.lco", "rb");
  if (f == nullptr) return 0;
  char block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;)
    g_locale.insert(g_locale.end(), block, block + n);
  std::fclose(f);
  gl_setextfunc(nullptr, GL_EXT_FOPEN, reinterpret_cast<gl_ext_funcptr>(serve_locale));
  gl_free_registry_cache();
  gl_cache_registry(nullptr, "/nonexistent/registry");
  if (gl_create_null_locale_4(&g_record) == 0)
    gl_destroystring(gl_setlocale_4(g_record, GL_ALL, "en_us.lco"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_record == nullptr || size < 9 || size > 4096) return 0;
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
  g_record->error = 0;
  if (data[0] & 1) {
    unsigned char out[300];
    (void)gl_mbsfmon(g_record, out, static_cast<int>(data[0] >> 1) + 1, f, value, value, value,
                     value);
  } else {
    double v[4] = {};
    (void)gl_mbspmon(g_record, reinterpret_cast<const unsigned char *>(text.c_str()), f, &v[0],
                     &v[1], &v[2], &v[3]);
  }
  return 0;
}
