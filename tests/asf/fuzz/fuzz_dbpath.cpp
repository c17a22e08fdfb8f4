/*
** Fuzz target: the DBPATH element splitter. The input's first line is the
** database name, the rest the DBPATH text, each in a heap block of exactly
** its length and a NUL. The text is walked element by element as the name
** service walks it (at most 100 elements), each element split into a
** server and a path in heap blocks of exactly their sizes. Every element
** must be a piece of the text between separators, and every result a
** terminated name within its limit or one of the documented statuses.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "asf_ns.h"
#include "fuzz_environment.h"

namespace {

[[noreturn]] void fail(const char *what, int value) {
  std::fprintf(stderr, "fuzz_dbpath: %s (%d)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 8192;

std::unique_ptr<char[]> terminated(const char *bytes, size_t n) {
  std::unique_ptr<char[]> s(new char[n + 1]);
  if (n > 0) std::memcpy(s.get(), bytes, n);
  s[n] = '\0';
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  const char *bytes = reinterpret_cast<const char *>(data);
  const void *nl = std::memchr(bytes, '\n', size);
  size_t db_len = nl != nullptr ? static_cast<size_t>(static_cast<const char *>(nl) - bytes) : 0;
  size_t rest = nl != nullptr ? db_len + 1 : 0;
  auto db = terminated(bytes, db_len);
  auto text = terminated(bytes + rest, size - rest);

  std::unique_ptr<char[]> element(new char[NS_DBNAME_SIZE]);
  std::unique_ptr<char[]> server(new char[NS_SERVER_SIZE]);
  std::unique_ptr<char[]> path(new char[NS_DBNAME_SIZE]);
  const char *next = text.get();
  for (int i = 0; next != nullptr && i < NS_DBPATH_ELEMENTS; ++i) {
    const char *start = next;
    int rc = nsGetDbpentry(start, element.get(), &next);
    if (rc == NS_ERR_DBPATHLEN) break;
    if (rc != 0) fail("nsGetDbpentry status", rc);
    size_t n = std::strlen(element.get());
    if (n >= NS_DBNAME_SIZE - 1 || std::memcmp(element.get(), start, n) != 0 ||
        std::strchr(element.get(), ':') != nullptr)
      fail("element is not a piece of the text", static_cast<int>(n));
    if (next != nullptr && next != start + n + 1) fail("rest of the text", i);
    rc = nsNewDbenv(element.get(), db.get(), server.get(), path.get());
    if (rc != 0 && rc != NS_ERR_DBPATHLEN) fail("nsNewDbenv status", rc);
    if (rc != 0) continue;
    if (strnlen(server.get(), NS_SERVER_SIZE) >= NS_SERVER_SIZE) fail("server", 0);
    if (strnlen(path.get(), NS_DBNAME_SIZE) >= NS_DBNAME_SIZE) fail("path", 0);
    if (server[0] == '\0' && std::strncmp(element.get(), "//", 2) != 0 &&
        std::strstr(path.get(), db.get()) == nullptr)
      fail("database name lost", 0);
  }
  return 0;
}
