/*
** The fixture of the connect tests (per-connection environments, host
** callbacks, conventions): no locale variable in the process environment,
** a fresh variable table, the connect's own save area, and a DOVARIZADIR
** whose locale data are the build's without the conversion files between
** 8859-1 and UTF-8 (so a DB_LOCALE of the other code set fails with
** -23104), plus "xx_YY.unicode", a locale whose characters are all two
** bytes (so "AB" is no pair of characters and the client initialisation
** refuses it with -34394).
**
** REQUIRES: DVZ_BUILD_DOVARIZADIR names the build's tree (a compile
** definition).
*/
#ifndef DVZ_TESTS_OSLIB_CONNECT_FIXTURE_H
#define DVZ_TESTS_OSLIB_CONNECT_FIXTURE_H

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "isolation.h"
#include "lco_builder.h"
#include "os_env.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"
#include "temp_dir.h"

namespace connect_test {

/* The locale variables, and the others these tests set. */
inline const char *const variables[] = {
    "CLIENT_LOCALE", "DB_LOCALE",  "DBNLS",       "DBLANG",  "LANG",   "LC_CTYPE",
    "LC_COLLATE",    "LC_NUMERIC", "LC_MONETARY", "LC_TIME", "DBTIME", "DBMONEY",
    "DBDATE",        "GL_DATE",    "GL_DATETIME", "DBPATH",  "LC_ALL"};

/* The locale whose code set fails the client's "ABCDE" check. */
constexpr const char failing_locale[] = "xx_YY.unicode";

/* A DOVARIZADIR: the build's registry, locales and conversion files but
** two (linked) and the failing locale (written). */
class LocaleTree {
 public:
  LocaleTree() {
    const std::string data = std::string(DVZ_BUILD_DOVARIZADIR) + "/gls";
    root_.write("etc/.keep", "");
    root_.write("gls/lc11/xx_yy/e005.lco", lcotest::two_byte_locale().text());
    link(data + "/cm3", root_.file("gls/cm3"));
    link_entries(data + "/lc11", root_.file("gls/lc11"), "");
    root_.write("gls/cv9/.keep", "");
    link_entries(data + "/cv9", root_.file("gls/cv9"), "0333e01c.cvo e01c0333.cvo");
  }
  const std::string &path() const { return root_.path(); }
  std::string rc_file() const { return root_.file("etc/dovariza.rc"); }

 private:
  static void link(const std::string &target, const std::string &name) {
    if (symlink(target.c_str(), name.c_str()) != 0) throw std::runtime_error("cannot link " + name);
  }
  /* Links every entry of from into to, but the names in left_out. */
  static void link_entries(const std::string &from, const std::string &to,
                           std::string_view left_out) {
    DIR *dir = opendir(from.c_str());
    if (dir == nullptr) throw std::runtime_error("no locale data in " + from);
    while (dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && left_out.find(name) == std::string_view::npos)
        link(from + "/" + name, to + "/" + name);
    }
    closedir(dir);
  }
  dvz_test::TempDir root_;
};

/* The number of listed environments. */
inline int list_length() {
  int n = 0;
  for (glsenv_node *node = GlsEnv_List; node != nullptr; node = node->next)
    ++n;
  return n;
}

/* The tree of the process (made once) as DOVARIZADIR, no variables set,
** a fresh variable table, the connect's save area left to itself, and the
** static environment current. */
class ConnectTest : public ::testing::Test {
 protected:
  static const LocaleTree &tree() {
    static const LocaleTree *t = new LocaleTree;
    return *t;
  }

  void SetUp() override {
    for (const char *name : variables)
      unsetenv(name);
    setenv("DOVARIZADIR", tree().path().c_str(), 1);
    remove(tree().rc_file().c_str());
    gFreeEVars();
    glsenv_savearea = &glsenv_savearea_global;
    /* The static environment in use and counted, as in every client that
    ** has read a variable before its first connect. */
    CheckGlsEnv();
  }

  void TearDown() override {
    remove(tree().rc_file().c_str());
    glsenv_savearea = &glsenv_savearea_global;
  }

  /* A connect under the process's variables: its result, *env its
  ** environment (NULL on failure). */
  static int connect(gls_env **env) {
    *env = nullptr;
    return dvz_connect_glsenv(env);
  }
};

}  // namespace connect_test

#endif
