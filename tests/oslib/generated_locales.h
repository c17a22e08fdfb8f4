/*
** The generated locales of the build's DOVARIZADIR tree (single-byte
** en_us/0333 and the UTF-8 en_us/e01c), loaded once per test program
** through the locale library's public API; CurrentLocale (locale_env.h)
** makes one of them the current locale environment's record.
**
** REQUIRES: DVZ_BUILD_DOVARIZADIR names the tree (a compile definition).
*/
#ifndef DVZ_TESTS_OSLIB_GENERATED_LOCALES_H
#define DVZ_TESTS_OSLIB_GENERATED_LOCALES_H

#include <gtest/gtest.h>

#include <string>

#include "gl_locale.h"
#include "gl_registry.h"
#include "locale_env.h"

namespace oslib_test {

inline const std::string &generated_gls_dir() {
  static const std::string dir = std::string(DVZ_BUILD_DOVARIZADIR) + "/gls";
  return dir;
}

/* A new record of the locale name ("en_US.8859-1", "en_US.utf8") loaded
** from the tree; nullptr (with a failure recorded) when it does not load.
** The two accessors below load each once and keep it for the process. */
inline gl_locale *generated_locale(const char *locale_name) {
  const std::string registry = generated_gls_dir() + "/cm3/registry";
  static bool cached = false;
  if (!cached) {
    gl_cache_registry(nullptr, registry.c_str());
    cached = true;
  }
  gl_locale *record = nullptr;
  const int rc =
      gl_lc_load(&record, locale_name, registry.c_str(), (generated_gls_dir() + "/lc11").c_str());
  if (rc != 0) {
    ADD_FAILURE() << "cannot load " << locale_name << " from " << generated_gls_dir();
    gl_lc_unload(record);
    return nullptr;
  }
  record->error = 0;
  return record;
}

inline gl_locale *single_byte_locale() {
  static gl_locale *record = generated_locale("en_US.8859-1");
  return record;
}

inline gl_locale *utf8_locale() {
  static gl_locale *record = generated_locale("en_US.utf8");
  return record;
}

}  // namespace oslib_test

#endif
