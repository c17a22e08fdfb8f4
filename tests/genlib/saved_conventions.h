/*
** saved_conventions.h: a fixture for tests that change the current
** environment's numeric or monetary conventions: it loads them, keeps a
** copy and puts it back after the test, and sets one mark (a decimal point
** or separator field and its length) for the test's duration.
*/
#ifndef DVZ_TESTS_GENLIB_SAVED_CONVENTIONS_H
#define DVZ_TESTS_GENLIB_SAVED_CONVENTIONS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "os_glsenv.h"
#include "os_lconv.h"

class SavedConventions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chkglsinit(), 0);
    rmoninit(0);
    lc_ = CheckGlsEnv()->state->lconv;
    saved_ = *lc_;
  }
  void TearDown() override { *lc_ = saved_; }
  /* Sets a mark field of the conventions and its length to bytes. */
  static void set_mark(char *field, int32_t *length, const char *bytes) {
    std::strcpy(field, bytes);
    *length = static_cast<int32_t>(std::strlen(bytes));
  }
  gls_lconv *lc_ = nullptr;
  gls_lconv saved_ {};
};

#endif
