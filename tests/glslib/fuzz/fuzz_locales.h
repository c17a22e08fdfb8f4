/*
** The shipped locales the formatting and parsing fuzz targets run in,
** served from memory through the fopen slot: record 0 is en_us (8859-1),
** record 1 ja_jp (SHIFT_JIS, with its eras and 100 alternative digits).
** Loaded once, in LLVMFuzzerInitialize; a record that cannot be loaded is
** NULL and the target skips its input.
*/
#ifndef DVZ_FUZZ_LOCALES_H
#define DVZ_FUZZ_LOCALES_H

#include <cstdio>
#include <cstring>
#include <vector>

#include "glslib.h"

namespace fuzz_locales {

inline std::vector<char> en_us_file, ja_jp_file;
inline gl_locale *records[2] = {nullptr, nullptr};

inline std::vector<char> read_file(const char *path) {
  std::vector<char> bytes;
  FILE *f = std::fopen(path, "rb");
  if (f == nullptr) return bytes;
  char block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;)
    bytes.insert(bytes.end(), block, block + n);
  std::fclose(f);
  return bytes;
}

inline FILE *serve_locale(const char *name, const char *) {
  std::vector<char> &file = std::strstr(name, "ja_jp") != nullptr ? ja_jp_file : en_us_file;
  if (file.empty()) return nullptr;
  return fmemopen(file.data(), file.size(), "r");
}

inline gl_locale *load(const char *name) {
  gl_locale *record = nullptr;
  if (gl_create_null_locale_4(&record) != 0) return nullptr;
  char *query = gl_setlocale_4(record, GL_ALL, name);
  if (query == nullptr) {
    gl_lc_unload(record);
    return nullptr;
  }
  gl_destroystring(query);
  return record;
}

/* Reads both files, installs the fopen slot and loads both records. */
inline void load_all() {
  en_us_file = read_file(GLS_SOURCE_DATA "/lc11/en_us/0333.lco");
  ja_jp_file = read_file(GLS_SOURCE_DATA "/lc11/ja_jp/e006.lco");
  gl_setextfunc(nullptr, GL_EXT_FOPEN, reinterpret_cast<gl_ext_funcptr>(serve_locale));
  gl_free_registry_cache();
  gl_cache_registry(nullptr, "/nonexistent/registry");
  records[0] = load("en_us.lco");
  records[1] = load("ja_jp.lco");
}

}  // namespace fuzz_locales

#endif
