/*
** The process environment of a runtime fuzz target that writes files: a
** fresh DOVARIZADIR of its own whose gls/ links to the project's copy of
** the locale data (so that the runtime's locale check passes), with an
** empty message directory, and none of the variables that name a server
** or a language; set once in LLVMFuzzerInitialize, removed at exit.
*/
#ifndef DVZ_SQLI_FUZZ_ENVIRONMENT_H
#define DVZ_SQLI_FUZZ_ENVIRONMENT_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "sqli_context.h"
#include "sqli_seams.h"

namespace fuzz_environment {

/* The message directory of the fresh tree, set by init. */
inline std::string &message_dir() {
  static std::string dir;
  return dir;
}

/* The one file every name of a server's file request or a file host leads
** to (jail_files below), in the fresh tree. */
inline std::string &jail_file() {
  static std::string file;
  return file;
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
  jail_file() = dir + "/jail";
  /* The tree goes when the process ends normally. */
  static std::string tree;
  tree = dir;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(tree, ignored);
  });
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

/* The runtime's file calls for fuzz input: a server's file request (reply
** 98) reaches the file seam from any reply loop, and no input may name a
** real path. The jail file stops growing at 64 KiB, so that a read of the
** rest of it stays small. */
inline int jail_open(const char *, int flags, mode_t mode) {
  return open(jail_file().c_str(),
              flags & (O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_EXCL | O_CLOEXEC),
              (mode & 0777) | 0600);
}
inline int jail_open_client(const char *name, int flags) { return jail_open(name, flags, 0600); }
inline int jail_create_client(const char *name, mode_t mode) {
  return jail_open(name, O_WRONLY | O_CREAT | O_TRUNC, mode);
}
inline int jail_close(int fd) { return close(fd); }
inline ssize_t jail_read(int fd, void *buffer, size_t count) { return read(fd, buffer, count); }
inline ssize_t jail_write(int fd, const void *buffer, size_t count) {
  constexpr off_t cap = 64 * 1024;
  struct stat st {};
  const off_t at = lseek(fd, 0, SEEK_CUR);
  if ((fstat(fd, &st) == 0 && st.st_size >= cap) || at < 0 ||
      count > static_cast<size_t>(cap - std::min(at, cap))) {
    errno = EFBIG;
    return -1;
  }
  return write(fd, buffer, count);
}
inline off_t jail_lseek(int fd, off_t offset, int whence) { return lseek(fd, offset, whence); }
inline const sqli_file_seam jail_files = {
    jail_open, jail_open_client, jail_create_client, jail_close, jail_read, jail_write, jail_lseek};

/* init, then the runtime's context under the single-byte client locale,
** its file calls in the jail; target names the fuzz target in the message
** of a failure. */
inline void init_runtime(const char *target) {
  init();
  sqli_files = &jail_files;
  setenv("CLIENT_LOCALE", "en_us.8859-1", 1);
  if (CheckGlobInit() == nullptr) {
    std::fprintf(stderr, "%s: runtime context\n", target);
    std::abort();
  }
}

}  // namespace fuzz_environment

#endif
