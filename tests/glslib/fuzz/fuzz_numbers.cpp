/*
** Fuzz target: the number formatter and parser in the shipped en_us
** locale (8859-1) and the Japanese one (fuzz_locales.h). The input is a
** mode byte (bit 0: format, else parse; bits 1-6: the output size; bit 7:
** the Japanese locale), then a format and a text separated by a zero
** byte. Every
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

#include "fuzz_locales.h"
#include "glslib.h"

namespace {

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
  fuzz_locales::load_all();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  gl_locale *record = fuzz_locales::records[data[0] >> 7];
  if (record == nullptr) return 0;
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
  record->error = 0;
  if (data[0] & 1) {
    unsigned char out[256];
    (void)gl_mbsfnum(record, out, static_cast<int>(data[0] >> 1 & 63) + 1, f, a[0], a[1], a[2],
                     a[3], a[4], a[5], a[6], a[7]);
  } else {
    (void)gl_mbspnum(record, t, f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
  }
  return 0;
}
