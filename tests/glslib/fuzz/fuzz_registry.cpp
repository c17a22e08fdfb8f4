/*
** Fuzz target: the code-set registry reader. The input is written to a
** registry file, which is then cached (gl_cache_registry) and read by
** lookups without a cache (gl_cs_name2cs_num with the named file).
*/
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../testkit/error_word.h"
#include "glslib.h"

namespace {

using glstest::ErrorWord;

/* One file per process, removed after every input. */
const std::string &registry_path() {
  static const std::string path = "/tmp/fuzz_registry." + std::to_string(getpid());
  return path;
}

constexpr const char *probe_names[] = {"utf8", "8859-1", "LATIN-1", "819", "a", "#", "x1"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &path = registry_path();
  FILE *fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return 0;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);

  ErrorWord w;
  gl_free_registry_cache();
  gl_cache_registry(w.record(), path.c_str());
  for (const char *name : probe_names)
    gl_cs_name2cs_num(w.record(), name, path.c_str());
  /* The list must hold what the reader promises. */
  for (const registry_entry *e = gls_registry_list_cache; e != nullptr; e = e->next) {
    if (e->number < 0 || e->number > 0xFFFF || e->number == 0xE000) std::abort();
    if (std::char_traits<char>::length(e->name) > 21) std::abort();
  }
  gl_free_registry_cache();
  for (const char *name : probe_names)
    gl_cs_name2cs_num(w.record(), name, path.c_str());
  /* A name from the input itself, up to its first newline. */
  std::string first(reinterpret_cast<const char *>(data), size);
  first = first.substr(0, first.find('\n')).c_str();
  gl_cs_name2cs_num(w.record(), first.c_str(), path.c_str());
  std::remove(path.c_str());
  return 0;
}
