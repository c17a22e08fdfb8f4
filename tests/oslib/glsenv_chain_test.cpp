/*
** The whole start-up chain in a fresh process: the first CheckOsInit makes
** the context, whose trace set-up reads SQLIDEBUG from the rc file (the
** environment asks for the context being made), then initialises the
** locale, whose look-ups come back to the context once more. The chain
** must end, start the trace and load the locale once. The locale library's
** record constructor is wrapped to count the loads.
*/
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "gl_locale.h"
#include "glsenv_fixture.h"
#include "os_context.h"
#include "os_env.h"
#include "os_glsenv.h"

namespace {

int locale_records_made = 0;

}  // namespace

extern "C" int __real_gl_create_null_locale_4(gl_locale **record);

extern "C" int __wrap_gl_create_null_locale_4(gl_locale **record) {
  ++locale_records_made;
  return __real_gl_create_null_locale_4(record);
}

namespace {

using glsenv_test::GlsEnvTest;
using glsenv_test::LocaleTree;

TEST_F(GlsEnvTest, FirstContextStartsTheTraceAndTheLocaleOnce) {
  unsetenv("SQLIDEBUG");
  dvz_test::TempDir traces;
  LocaleTree tree;
  tree.write("etc/dovariza.rc", "SQLIDEBUG 1:" + traces.file("tr") + "\n");
  ASSERT_EQ(ostcb, nullptr);

  ostcb_t *context = CheckOsInit();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(ostcb, context);
  EXPECT_EQ(access(traces.file("tr_" + std::to_string(getpid())).c_str(), F_OK), 0);
  new_gls_env *state = CheckGlsEnv()->state;
  EXPECT_EQ(state->initialised, 1);
  EXPECT_EQ(state->in_progress, 0);
  EXPECT_EQ(locale_records_made, 1);

  EXPECT_EQ(CheckOsInit(), context);
  EXPECT_EQ(chkglsinit(), 0);
  EXPECT_EQ(locale_records_made, 1) << "initialised once";
}

}  // namespace
