/*
** Fuzz target: parameter lists and the option field. The first byte
** chooses the largest count and the protocol, the rest is the text, in a
** heap block of exactly its length plus the NUL, so that a read past it is
** an address-sanitizer report. A parsed list must stay within the text,
** with keys free of '=' and values never empty.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "asf_al.h"
#include "asf_sqlhosts.h"
#include "fuzz_environment.h"

namespace {

constexpr int most = 40;

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_parmslist: %s (%d)\n", what, value);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const int max = data[0] % most;
  const size_t length = size - 1;
  auto text = std::make_unique<char[]>(length + 1);
  std::memcpy(text.get(), data + 1, length);
  text[length] = '\0';
  char *keys[most];
  char *values[most];
  int n = ASF_parmslist_parse(max, keys, values, text.get());
  if (n < -1 || n > max) fail("count", n);
  for (int i = 0; i < n; ++i) {
    char *end = text.get() + length;
    if (keys[i] < text.get() || keys[i] > end || values[i] <= keys[i] || values[i] > end)
      fail("parameter outside the text", i);
    if (std::strchr(keys[i], '=') != nullptr) fail("key holds '='", i);
    if (values[i][0] == '\0') fail("empty value", i);
  }

  SvrInfo info {};
  std::strcpy(info.name, "srv");
  std::strcpy(info.protocol, data[0] & 0x80 ? "ipcshm" : "tlitcp");
  size_t cut = length < sizeof info.options - 1 ? length : sizeof info.options - 1;
  std::memcpy(info.options, data + 1, cut);
  info.options[cut] = '\0';
  SqlhOptions opts;
  int rc = ASF_ParseSqlhOptions(&info, &opts);
  if (rc != 0 && rc != -27004 && rc != -406) fail("options status", rc);
  if (rc == 0 && opts.csm != nullptr) meFree(1, opts.csm);
  if (rc != 0 && opts.csm != nullptr) fail("csm kept after a failure", rc);
  return 0;
}
