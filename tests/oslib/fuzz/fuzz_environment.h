/*
** The process environment of the client environment's fuzz targets: the
** DOVARIZADIR tree the fuzz build prepares (FUZZ_DOVARIZADIR, locale data
** only), none of the variables that choose a locale, a message language
** or ignored names, and a scratch directory of the process's own for the
** files a target writes (two runs at once never share one).
*/
#ifndef DVZ_OSLIB_FUZZ_ENVIRONMENT_H
#define DVZ_OSLIB_FUZZ_ENVIRONMENT_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_environment {

/* Sets the environment up; returns the scratch directory. */
inline std::string init() {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"CLIENT_LOCALE", "DB_LOCALE", "DBLANG", "LANG", "DBNLS", "ENVIGNORE",
                           "DVZ_FREE_FD", "LC_ALL", "LC_CTYPE", "LC_COLLATE"})
    unsetenv(name);
  const char *tmp = std::getenv("TMPDIR");
  std::string dir =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/oslib-fuzz-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("fuzz: mkdtemp");
    std::abort();
  }
  return dir;
}

/* Writes size bytes of data to path, replacing it; aborts on failure. */
inline void write_file(const std::string &path, const void *data, size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

}  // namespace fuzz_environment

#endif
