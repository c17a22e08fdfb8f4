/*
** Fuzz target: the number formatter and parser in the shipped en_us
** locale (8859-1), served from memory through the fopen slot. The input is
** a mode byte, then a format and a text separated by a zero byte. Every
** argument is a pointer to a zeroed buffer large enough for anything the
** parser may store there and readable as a short multibyte or wide
** string by the formatter; formats that may take more arguments than
** are passed are skipped.
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

constexpr int arg_count = 8;

/* An upper bound of the arguments a format takes: one per "%" and one per
** "*" (a width or precision from the list). */
int directives(const std::string &format) {
  int n = 0;
  for (char c : format)
    n += c == '%' || c == '*';
  return n;
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
  if (g_record == nullptr || size < 1 || size > 4096) return 0;
  std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::size_t zero = rest.find('\0');
  std::string format = rest.substr(0, zero);
  std::string text = zero == std::string::npos ? std::string() : rest.substr(zero + 1);
  text = text.substr(0, text.find('\0'));
  if (directives(format) > arg_count) return 0;
  std::size_t room = (text.size() + 8) * 4 + 64;
  std::vector<std::vector<uint64_t>> buffers(arg_count, std::vector<uint64_t>(room / 8 + 1, 0));
  void *a[arg_count];
  for (int i = 0; i < arg_count; ++i) {
    buffers[i][0] = 'a'; /* "a" as a multibyte and as a wide string */
    a[i] = buffers[i].data();
  }
  const unsigned char *f = reinterpret_cast<const unsigned char *>(format.c_str());
  const unsigned char *t = reinterpret_cast<const unsigned char *>(text.c_str());
  g_record->error = 0;
  if (data[0] & 1) {
    unsigned char out[256];
    (void)gl_mbsfnum(g_record, out, static_cast<int>(data[0] >> 1) + 1, f, a[0], a[1], a[2], a[3],
                     a[4], a[5], a[6], a[7]);
  } else {
    (void)gl_mbspnum(g_record, t, f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
  }
  return 0;
}
