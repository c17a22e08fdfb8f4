/*
** The process environment of a runtime fuzz target that writes files: a
** fresh DOVARIZADIR of its own whose gls/ links to the project's copy of
** the locale data (so that the runtime's locale check passes), with an
** empty message directory, and none of the variables that name a server
** or a language; set once in LLVMFuzzerInitialize.
*/
#ifndef DVZ_SQLI_FUZZ_ENVIRONMENT_H
#define DVZ_SQLI_FUZZ_ENVIRONMENT_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_environment {

/* The message directory of the fresh tree, set by init. */
inline std::string &message_dir() {
  static std::string dir;
  return dir;
}

inline void init() {
  const char *tmp = std::getenv("TMPDIR");
  std::string dir =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/sqli-fuzz-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("fuzz: mkdtemp");
    std::abort();
  }
  message_dir() = dir + "/msg/en_us/0333";
  if (symlink(FUZZ_DOVARIZADIR "/gls", (dir + "/gls").c_str()) != 0 ||
      mkdir((dir + "/msg").c_str(), 0700) != 0 || mkdir((dir + "/msg/en_us").c_str(), 0700) != 0 ||
      mkdir(message_dir().c_str(), 0700) != 0) {
    std::perror("fuzz: DOVARIZADIR");
    std::abort();
  }
  setenv("DOVARIZADIR", dir.c_str(), 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"DOVARIZASERVER", "DOVARIZASQLHOSTS", "CLIENT_LOCALE", "DB_LOCALE",
                           "DBLANG", "LANG", "LC_ALL", "DBNLS", "DBAPICODE"})
    unsetenv(name);
}

}  // namespace fuzz_environment

#endif
