/*
** The isolated world of every oslib test process (isolation.h): set up by
** a global test environment before the first test.
*/
#include "isolation.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "os_seams.h"
#include "temp_dir.h"

namespace oslib_test {
namespace {

struct world {
  dvz_test::TempDir root;
  std::string dovarizadir = root.file("dovariza");
  std::string home = root.file("home");
};

world *the_world() {
  static world *w = new world;
  return w;
}

const char *isolated_home_seam(void) { return the_world()->home.c_str(); }

const os_host_seam isolated_host = {uname, isolated_home_seam};

class isolation_environment : public ::testing::Environment {
 public:
  void SetUp() override {
    world *w = the_world();
    w->root.write("dovariza/etc/.keep", "");
    /* The shipped locale data of the build, so that the client locale
    ** initialises as it does in an installation. */
    if (symlink(DVZ_BUILD_DOVARIZADIR "/gls", (w->dovarizadir + "/gls").c_str()) != 0)
      throw std::runtime_error("cannot link the build's locale data");
    w->root.write("home/.keep", "");
    /* A DOVARIZADIR given to the test (ENV) stays; else the fresh tree. */
    setenv("DOVARIZADIR", w->dovarizadir.c_str(), 0);
    os_host = &isolated_host;
  }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new isolation_environment);

}  // namespace

const std::string &isolated_dovarizadir() { return the_world()->dovarizadir; }
const std::string &isolated_home() { return the_world()->home; }

}  // namespace oslib_test
