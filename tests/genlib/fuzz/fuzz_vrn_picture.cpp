/*
** Fuzz target: Varnholt-style pictures translated into the formatter's
** directives. The first input byte is the output size (0-127), the rest
** the picture, copied into a heap block of exactly its length plus the
** terminator; the output is a heap block of exactly its size, so that a
** read past the picture or a write past the output is an address-sanitizer
** report. Must hold: only -5853, -5854 and -5855 as errors, a translation
** terminated within the output, and an output left as it was on failure.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_environment.h"
#include "gen_dtformat.h"

namespace {

constexpr size_t max_picture = 256;
constexpr char untouched = '\x5A';

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_vrn_picture: %s (%d)\n", what, value);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > max_picture + 1) return 0;
  const int out_size = data[0] & 0x7F;
  std::unique_ptr<char[]> picture(new char[size]);
  std::memcpy(picture.get(), data + 1, size - 1);
  picture[size - 1] = '\0';
  std::unique_ptr<char[]> out(new char[out_size > 0 ? out_size : 1]);
  std::memset(out.get(), untouched, out_size > 0 ? out_size : 1);
  const int rc = dvz_to_gl_datetime(picture.get(), out_size > 0 ? out.get() : nullptr, out_size);
  if (rc == 0) {
    if (std::memchr(out.get(), '\0', static_cast<size_t>(out_size)) == nullptr)
      fail("translation not terminated within the output", out_size);
    return 0;
  }
  if (rc != -5853 && rc != -5854 && rc != -5855) fail("unexpected status", rc);
  for (int i = 0; i < out_size; ++i)
    if (out[i] != untouched) fail("output written on failure", rc);
  return 0;
}
