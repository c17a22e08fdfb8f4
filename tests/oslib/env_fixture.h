/*
** The fixture of the environment tests: a fresh variable table, no rc
** files, none of the variables the tests look at (nor any of the lists
** sent to the server) in the process environment, the OS context and
** client locale made with nothing set, and helpers that write the
** installation's and the user's rc files into the isolated DOVARIZADIR
** and home.
*/
#ifndef DVZ_TESTS_OSLIB_ENV_FIXTURE_H
#define DVZ_TESTS_OSLIB_ENV_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "isolation.h"
#include "os_context.h"
#include "os_env.h"
#include "temp_dir.h"

namespace env_test {

/* Variables the tests set or read; unset before every test, with every
** variable of the environment lists. */
inline const char *const watched_variables[] = {
    "DBPATH",      "DBTEMP",      "DBLANG",     "DBDATE",        "DBMONEY",     "DBNLS",
    "LANG",        "LC_ALL",      "LC_COLLATE", "LC_CTYPE",      "LC_MONETARY", "LC_NUMERIC",
    "LC_TIME",     "ENVIGNORE",   "DB_LOCALE",  "CLIENT_LOCALE", "GL_DATE",     "TERM",
    "SUBQCACHESZ", "SINGLELEVEL", "LKNOTIFY",   "LOCKDOWN",      "NODEFDAC",    "DVZ_TEST_EXTRA",
};

class EnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gFreeEVars();
    for (const char *name : watched_variables)
      unsetenv(name);
    for (int i = 0; i < Num_MVarList; ++i)
      unsetenv(Dvz_MVarList[i]);
    for (int i = 0; i < Num_LVarList; ++i)
      unsetenv(Dvz_LVarList[i]);
    for (int i = 0; i < Num_SVarList; ++i)
      unsetenv(Dvz_SVarList[i]);
    setenv("DOVARIZADIR", oslib_test::isolated_dovarizadir().c_str(), 1);
    remove(installation_rc().c_str());
    remove(user_rc().c_str());
    /* The OS context and the client locale are made once per process, by
    ** the first table build; make them here, with nothing set, so that the
    ** copies of the locale variables they leave are the defaults'. */
    (void)CheckOsInit();
    gFreeEVars();
  }

  void TearDown() override {
    gFreeEVars();
    gsetudenv(nullptr);
    remove(installation_rc().c_str());
    remove(user_rc().c_str());
  }

  static std::string installation_rc() {
    return oslib_test::isolated_dovarizadir() + "/etc/dovariza.rc";
  }
  static std::string user_rc() { return oslib_test::isolated_home() + "/.dovariza"; }

  /* content written whole, "" for no file. */
  static void write_rc_files(const std::string &installation, const std::string &user) {
    if (!installation.empty()) dvz_test::write_file(installation_rc(), installation);
    if (!user.empty()) dvz_test::write_file(user_rc(), user);
  }
};

/* ggetenv's value as a string, "(none)" for NULL. */
inline std::string value_of(const char *name) {
  const char *v = ggetenv(name);
  return v != nullptr ? v : "(none)";
}

}  // namespace env_test

#endif
