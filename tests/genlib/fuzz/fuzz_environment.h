/*
** The process environment of the value library's fuzz targets: the
** DOVARIZADIR tree the fuzz build prepares (FUZZ_DOVARIZADIR), the
** default client locale (en_us.8859-1) with the subsystem's variables
** unset, and the locale initialised once, in LLVMFuzzerInitialize, so that
** every input runs against loaded conventions. A failed initialisation
** stops the run: no input could then reach the code under test. Also the
** copy of an input in a heap block of its exact size, so that a read past
** the input is a sanitizer report.
*/
#ifndef DVZ_FUZZ_ENVIRONMENT_H
#define DVZ_FUZZ_ENVIRONMENT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "os_glsenv.h"

namespace fuzz_environment {

inline void init() {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("TZ", "UTC", 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name :
       {"CLIENT_LOCALE", "DB_LOCALE", "DBMONEY", "DBLANG", "DBNLS", "DVZ_USE_PREC_16"})
    unsetenv(name);
  int status = chkglsinit();
  if (status != 0) {
    std::fprintf(stderr, "fuzz: locale initialisation failed (%d) with DOVARIZADIR=%s\n", status,
                 FUZZ_DOVARIZADIR);
    std::abort();
  }
}

/* The input's bytes in a block of exactly size bytes, or with terminated
** size + 1 bytes ending in a NUL. */
inline std::unique_ptr<char[]> exact_copy(const uint8_t *data, size_t size,
                                          bool terminated = false) {
  std::unique_ptr<char[]> text(new char[terminated ? size + 1 : size]);
  if (size > 0) std::memcpy(text.get(), data, size);
  if (terminated) text[size] = '\0';
  return text;
}

}  // namespace fuzz_environment

#endif
