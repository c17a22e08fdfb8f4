/*
** The fixture of the registry and specification tests: every case starts
** with empty registry caches (they are process-wide) and an environment of
** its own seen through the host-service table: no GL_PATH, DOVARIZADIR an
** empty temporary tree, so that no case reads the machine's registry.
*/
#ifndef DVZ_TESTS_GLSLIB_REGISTRY_FIXTURE_H
#define DVZ_TESTS_GLSLIB_REGISTRY_FIXTURE_H

#include <gtest/gtest.h>

#include "error_word.h"
#include "glslib.h"
#include "host_doubles.h"
#include "temp_dir.h"

namespace regtest {

using glstest::ErrorWord;

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : env_({{"DOVARIZADIR", dir_.path()}}) { gl_free_registry_cache(); }
  ~RegistryTest() override { gl_free_registry_cache(); }

  /* Makes the built-in table the registry (caching from a file that
  ** cannot be opened), as the client does at shutdown. */
  void use_builtin_table() {
    ErrorWord w;
    gl_cache_registry(w.record(), "");
    ASSERT_EQ(w.err, GL_ENOREGISTRY);
    ASSERT_EQ(gls_registry_array_cache, gls_canned_registry);
  }

  dvz_test::TempDir dir_;
  glstest::TableGetenv env_;
  ErrorWord word_;
};

}  // namespace regtest

#endif
