/*
** The process environment of the association services' fuzz targets: a
** fresh empty DOVARIZADIR (so that no installation's rc file or sqlhosts
** is read) and none of the variables that name a server or a sqlhosts
** file, set once in LLVMFuzzerInitialize.
*/
#ifndef DVZ_ASF_FUZZ_ENVIRONMENT_H
#define DVZ_ASF_FUZZ_ENVIRONMENT_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_environment {

inline void init() {
  const char *tmp = std::getenv("TMPDIR");
  std::string dir =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/asf-fuzz-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("fuzz: mkdtemp");
    std::abort();
  }
  setenv("DOVARIZADIR", dir.c_str(), 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"DOVARIZASERVER", "DOVARIZASQLHOSTS", "DOVARIZAASFDBG"})
    unsetenv(name);
}

}  // namespace fuzz_environment

#endif
