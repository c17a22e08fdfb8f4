/*
** Fixtures of the locale-initialisation tests: a process whose locale
** variables are all unset, and a DOVARIZADIR tree of the test's own built
** from the build's shipped data (locale files, registry, conversion files
** and message catalogs, linked), to which a test adds fixture locales,
** registry entries or leaves conversion files out.
**
** REQUIRES: DVZ_BUILD_DOVARIZADIR names the build's tree (a compile
** definition). Every test is its own process, so the static environment
** starts uninitialised in each.
*/
#ifndef DVZ_TESTS_OSLIB_GLSENV_FIXTURE_H
#define DVZ_TESTS_OSLIB_GLSENV_FIXTURE_H

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>

#include "temp_dir.h"

namespace glsenv_test {

/* The locale variables a test may meet in its environment. */
inline void clear_locale_variables() {
  static const char *const names[] = {"CLIENT_LOCALE", "DB_LOCALE",   "DBNLS",     "DBLANG",
                                      "LANG",          "LC_ALL",      "LC_CTYPE",  "LC_COLLATE",
                                      "LC_NUMERIC",    "LC_MONETARY", "LC_TIME",   "LC_MESSAGES",
                                      "DBTIME",        "DBMONEY",     "DBDATE",    "GL_DATE",
                                      "GL_DATETIME",   "GL_PATH",     "USE_DTENV", "GLS8BITFSYS"};
  for (const char *name : names)
    unsetenv(name);
}

inline const std::string &build_tree() {
  static const std::string dir = DVZ_BUILD_DOVARIZADIR;
  return dir;
}

/* A DOVARIZADIR of the test's own: gls/lc11 and gls/cv9 hold links to the
** build's files (conversion files but the left-out ones), gls/cm3/registry
** is a copy of the build's with the extra entries, msg links the build's
** catalogs. The variable is set for the process. */
class LocaleTree {
 public:
  explicit LocaleTree(const std::set<std::string> &left_out_cvo = {},
                      const std::string &extra_registry = "") {
    link_entries("gls/lc11", {});
    link_entries("gls/cv9", left_out_cvo);
    root_.write("gls/cm3/registry",
                dvz_test::read_file(build_tree() + "/gls/cm3/registry") + extra_registry);
    link(build_tree() + "/msg", root_.file("msg"));
    root_.write("etc/.keep", "");
    setenv("DOVARIZADIR", root_.path().c_str(), 1);
  }

  /* Writes a file under the tree (parents made); returns its path. */
  std::string write(const std::string &relative, const std::string &content) const {
    return root_.write(relative, content);
  }
  const std::string &path() const { return root_.path(); }

 private:
  static void link(const std::string &target, const std::string &name) {
    if (symlink(target.c_str(), name.c_str()) != 0) throw std::runtime_error("cannot link " + name);
  }

  void link_entries(const std::string &relative, const std::set<std::string> &left_out) {
    root_.write(relative + "/.keep", "");
    const std::string from = build_tree() + "/" + relative;
    DIR *dir = opendir(from.c_str());
    if (dir == nullptr) throw std::runtime_error("cannot read " + from);
    while (dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || left_out.count(name) != 0) continue;
      link(from + "/" + name, root_.file(relative + "/" + name));
    }
    closedir(dir);
  }

  dvz_test::TempDir root_;
};

/* Clears the locale variables before each test. */
class GlsEnvTest : public ::testing::Test {
 protected:
  GlsEnvTest() { clear_locale_variables(); }
};

}  // namespace glsenv_test

#endif
