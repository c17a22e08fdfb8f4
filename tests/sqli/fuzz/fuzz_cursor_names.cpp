/*
** Fuzz target: the cursor-name check and the placeholder count on
** arbitrary text, under the client locale FUZZ_CLIENT_LOCALE (built twice:
** single-byte and UTF-8). The input's first byte picks DELIMIDENT set or
** unset; the rest is the text, in a heap block of exactly its length and a
** NUL, and the name check writes into a heap block of exactly the 129
** bytes its contract promises, so a read or write past either is a
** sanitizer report. Results must keep their contracts: 0 or -1, an output
** terminated within 129 bytes with no trailing blank, and a placeholder
** count no larger than the question marks in the text.
*/
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "os_glsenv.h"
#include "sqli_cursors.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_cursor_names: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 4096;
constexpr size_t name_out = 129;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"DB_LOCALE", "DBLANG", "DBNLS", "DELIMIDENT"})
    unsetenv(name);
  setenv("CLIENT_LOCALE", FUZZ_CLIENT_LOCALE, 1);
  const int status = chkglsinit();
  if (status != 0) fail("locale initialisation", status);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > max_input) return 0;
  const char *delimident = (data[0] & 1) != 0 ? "y" : nullptr;
  const size_t len = size - 1;
  std::unique_ptr<char[]> text(new char[len + 1]);
  std::memcpy(text.get(), data + 1, len);
  text[len] = 0;

  const int marks = gstrqmarks(text.get());
  const size_t len_c = std::strlen(text.get());
  const long questions = std::count(text.get(), text.get() + len_c, '?');
  if (marks < 0 || marks > questions) fail("placeholder count", marks);
  const char *pieces[] = {text.get(), text.get(), nullptr};
  if (_sqcmdqmarks(pieces) != 2 * marks) fail("fragments counted apart", marks);

  std::unique_ptr<char[]> out(new char[name_out]);
  std::memset(out.get(), 0x5A, name_out);
  const int status = _gchkname(text.get(), delimident, out.get());
  if (status != 0 && status != -1) fail("name check status", status);
  if (status == 0) {
    const size_t n = strnlen(out.get(), name_out);
    if (n >= name_out) fail("name not terminated", static_cast<long>(n));
    if (n > 0 && out[n - 1] == ' ') fail("trailing blank kept", static_cast<long>(n));
    if (len_c == 0 || len_c > 128) fail("bad length accepted", static_cast<long>(len_c));
  }
  return 0;
}
