/*
** The client's locale initialisation: the current environment and its
** count, the default environment, the database locale and its converters,
** locales found only in the operating-system form, the errors of a failed
** initialisation (specific, never 0, with their catalog texts) and the
** re-entry guard. Every test is its own process: the static environment
** starts uninitialised.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

#include "gl_locale.h"
#include "gl_registry.h"
#include "glsenv_fixture.h"
#include "lco_builder.h"
#include "os_context.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_lconv.h"
#include "os_messages.h"

namespace {

using glsenv_test::GlsEnvTest;
using glsenv_test::LocaleTree;

new_gls_env *state() { return CheckGlsEnv()->state; }

/* The library file name of a specification, by the tree's registry. */
std::string library_file_of(const LocaleTree &tree, const char *spec) {
  const std::string registry = tree.path() + "/gls/cm3/registry";
  char fname[GL_LC_FSPEC_SIZE] = {};
  EXPECT_EQ(gl_lc_spec2lc_fname(nullptr, spec, fname, registry.c_str(), ""), 0) << spec;
  return fname;
}

TEST_F(GlsEnvTest, CurrentEnvironmentIsCountedOnceAndKeptWhileOnlyTheStaticIsCounted) {
  ASSERT_EQ(gls_env_global, nullptr);
  EXPECT_EQ(dvz_get_glsenv_thread(), gls_static_env());
  EXPECT_EQ(gls_env_global, nullptr) << "the thread accessor makes nothing current";
  EXPECT_EQ(glsenv_count, 0);

  EXPECT_EQ(CheckGlsEnv(), gls_static_env());
  EXPECT_EQ(glsenv_count, 1);
  EXPECT_EQ(gls_static_env()->state->mode, 1);
  EXPECT_EQ(gls_static_env()->state->lconv, &g_lconv_default);

  gls_env other {};
  SetGlsEnv(&other);
  EXPECT_EQ(CheckGlsEnv(), &other);
  SetGlsEnv(gls_static_env());
  EXPECT_EQ(CheckGlsEnv(), &other)
      << "one environment counted: the static only fills an empty slot";
  glsenv_count = 2;
  SetGlsEnv(gls_static_env());
  EXPECT_EQ(CheckGlsEnv(), gls_static_env());
  EXPECT_EQ(dvz_get_gl_locale_thread(), nullptr);
}

TEST_F(GlsEnvTest, DefaultEnvironmentIsSingleByteEnglishWithoutConverters) {
  ASSERT_EQ(chkglsinit(), 0);
  gls_env *env = CheckGlsEnv();
  new_gls_env *st = env->state;
  ASSERT_NE(env->locale, nullptr);
  EXPECT_EQ(st->initialised, 1);
  EXPECT_EQ(st->in_progress, 0);
  EXPECT_EQ(st->client_locale, env->locale);
  EXPECT_EQ(st->db_locale, env->locale);
  EXPECT_EQ(env->locale->single_byte, 1);
  EXPECT_EQ(st->cv_client_db, nullptr);
  EXPECT_EQ(st->cv_db_client, nullptr);
  EXPECT_EQ(st->cv_client_os, nullptr);
  EXPECT_EQ(st->cv_os_client, nullptr);
  ASSERT_NE(st->vars[gls_var_client_locale], nullptr);
  EXPECT_STREQ(st->vars[gls_var_client_locale], "en_US.8859-1");
  EXPECT_EQ(st->default_bits, 1);
  EXPECT_EQ(st->vars[gls_var_db_locale], nullptr);
  for (int c = 0; c < gls_cat_count; ++c) {
    EXPECT_STREQ(st->category_names[c], "en_US.819") << c;
    EXPECT_EQ(st->category_sources[c], 1) << c;
  }
  EXPECT_STREQ(ggetenv("CLIENT_LOCALE"), "en_US.8859-1");
  EXPECT_STREQ(st->date_format, "%m/%d/%iY");
  EXPECT_EQ(get_glserror(), 0);

  gl_locale *first = env->locale;
  EXPECT_EQ(chkglsinit(), 0);
  EXPECT_EQ(env->locale, first) << "initialised once";
}

/* DB_LOCALE and whether its code set differs from the client's. */
struct database_case {
  const char *name;
  const char *db_locale;
  bool converts;
};

void PrintTo(const database_case &c, std::ostream *out) { *out << c.name; }

class DatabaseLocale : public GlsEnvTest, public ::testing::WithParamInterface<database_case> {};

TEST_P(DatabaseLocale, LoadsConvertersAndItsOwnLocaleOnlyForAnotherCodeSet) {
  setenv("DB_LOCALE", GetParam().db_locale, 1);
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  EXPECT_STREQ(st->vars[gls_var_db_locale], GetParam().db_locale);
  EXPECT_EQ(st->default_bits & (1 << gls_var_db_locale), 0);
  EXPECT_EQ(st->cv_client_os, nullptr);
  EXPECT_EQ(st->cv_os_client, nullptr);
  if (!GetParam().converts) {
    EXPECT_EQ(st->cv_client_db, nullptr);
    EXPECT_EQ(st->cv_db_client, nullptr);
    EXPECT_EQ(st->db_locale, st->client_locale);
    return;
  }
  ASSERT_NE(st->cv_client_db, nullptr);
  ASSERT_NE(st->cv_db_client, nullptr);
  ASSERT_NE(st->db_locale, nullptr);
  EXPECT_NE(st->db_locale, st->client_locale);
  EXPECT_EQ(st->db_locale->single_byte, 0);
  /* 0xE9 in 8859-1 is C3 A9 in UTF-8, and back. */
  const unsigned char text[] = {0xE9};
  const unsigned char *in = text;
  int inleft = 1;
  unsigned char buffer[8] = {};
  unsigned char *out = buffer;
  int outleft = sizeof buffer;
  int lossy = 0;
  ASSERT_GE(gl_miconv(st->cv_client_db, &in, &inleft, &out, &outleft, &lossy), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), out - buffer), "\xC3\xA9");
}

INSTANTIATE_TEST_SUITE_P(Cases, DatabaseLocale,
                         ::testing::Values(database_case {"Utf8", "en_us.utf8", true},
                                           database_case {"SameCodeSet", "en_US.819", false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(GlsEnvTest, ClientLocaleRecordsTheDatabaseLocaleAndNlsCopiesByDefault) {
  setenv("CLIENT_LOCALE", "en_US.utf8", 1);
  setenv("DBNLS", "1", 1);
  setenv("LANG", "en_US.utf8", 1);
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  EXPECT_EQ(st->dbnls_mode, 1);
  EXPECT_EQ(st->client_locale->single_byte, 0);
  EXPECT_STREQ(st->category_names[gls_cat_ctype], "en_US.57372");
  for (int c = gls_cat_ctype; c <= gls_cat_time; ++c) {
    ASSERT_NE(st->vars[gls_var_lc_ctype + c], nullptr) << c;
    EXPECT_STREQ(st->vars[gls_var_lc_ctype + c], "en_US.57372") << c;
  }
  EXPECT_EQ(st->default_bits, 0x3e0) << "LC_CTYPE to LC_TIME filled by default";
  EXPECT_EQ(st->vars[gls_var_db_locale], nullptr) << "NLS mode records no database locale";
  EXPECT_EQ(st->cv_client_db, nullptr);
}

TEST_F(GlsEnvTest, ClientLocaleWithoutNlsRecordsTheDatabaseLocale) {
  setenv("CLIENT_LOCALE", "en_US.utf8", 1);
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  ASSERT_NE(st->vars[gls_var_db_locale], nullptr);
  EXPECT_STREQ(st->vars[gls_var_db_locale], "en_US.57372");
  EXPECT_EQ(st->default_bits, 1 << gls_var_db_locale);
  EXPECT_STREQ(st->vars[gls_var_client_locale], "en_US.utf8");
}

TEST_F(GlsEnvTest, LongClientLocaleIsLoadedAndTheEnvironmentTextStaysWhole) {
  std::string spec;
  for (const char *key :
       {"GL_CTYPE", "GL_COLLATE", "GL_NUMERIC", "GL_MONETARY", "GL_TIME", "GL_MESSAGES"})
    spec += std::string(key) + " = en_US.8859-1 ; ";
  setenv("CLIENT_LOCALE", spec.c_str(), 1);
  ASSERT_EQ(chkglsinit(), 0);
  EXPECT_EQ(std::string(getenv("CLIENT_LOCALE")), spec);
  EXPECT_EQ(std::strlen(state()->category_names[gls_cat_ctype]), 36u);
}

TEST_F(GlsEnvTest, NlsModeBuildsTheLocaleFromTheLcVariables) {
  setenv("DBNLS", "2", 1);
  setenv("LC_CTYPE", "en_US.8859-1", 1);
  setenv("LC_COLLATE", "en_US.8859-1", 1);
  setenv("LC_NUMERIC", "en_US.8859-1", 1);
  setenv("LC_MONETARY", "en_US.8859-1", 1);
  setenv("LC_TIME", "en_US.8859-1", 1);
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  for (int c = 0; c < gls_cat_count; ++c) {
    EXPECT_STREQ(st->category_names[c], "en_US.819") << c;
    EXPECT_EQ(st->category_sources[c], 1) << c;
  }
  EXPECT_STREQ(st->vars[gls_var_lc_time], "en_US.8859-1");
  EXPECT_EQ(st->default_bits, 0);
  EXPECT_EQ(st->vars[gls_var_client_locale], nullptr);
}

TEST_F(GlsEnvTest, LocaleOnlyInOperatingSystemFormLoadsOnTheSecondAttempt) {
  LocaleTree tree;
  tree.write("gls/lc11/os/xx_XX.8859-1",
             dvz_test::read_file(glsenv_test::build_tree() + "/gls/lc11/en_us/0333.lco"));
  setenv("CLIENT_LOCALE", "xx_XX.8859-1", 1);
  ASSERT_EQ(chkglsinit(), 0) << get_glserror();
  new_gls_env *st = state();
  for (int c = 0; c < gls_cat_count; ++c) {
    EXPECT_EQ(st->category_sources[c], 0) << c;
    EXPECT_STREQ(st->category_names[c], "xx_XX.8859-1") << "not a library file: kept as given";
  }
}

/* One failed initialisation: the fixture, the error and its catalog text. */
struct failure_case {
  const char *name;
  void (*prepare)(LocaleTree &tree);
  int error;
};

void PrintTo(const failure_case &c, std::ostream *out) { *out << c.name; }

class InitFailure : public GlsEnvTest, public ::testing::WithParamInterface<failure_case> {};

const failure_case failure_cases[] = {
    {"CodeSetWithoutAsciiLetters",
     [](LocaleTree &tree) {
       tree.write("gls/lc11/" + library_file_of(tree, "tb_TB.unicode"),
                  lcotest::two_byte_locale().text());
       setenv("CLIENT_LOCALE", "tb_TB.unicode", 1);
     },
     gls_err_not_ascii},
    {"MissingConversionFile", [](LocaleTree &) { setenv("DB_LOCALE", "en_US.utf8", 1); },
     gls_err_cv_file},
    {"CategoriesOfDifferentCodeSets",
     [](LocaleTree &) {
       setenv("CLIENT_LOCALE",
              "GL_CTYPE = en_US.8859-1 ; GL_COLLATE = en_US.utf8 ; GL_NUMERIC = en_US.8859-1 ; "
              "GL_MONETARY = en_US.8859-1 ; GL_TIME = en_US.8859-1 ; GL_MESSAGES = en_US.8859-1 ; ",
              1);
     },
     gls_err_codesets},
    {"LocaleNowhere", [](LocaleTree &) { setenv("CLIENT_LOCALE", "zz_ZZ.8859-1", 1); },
     gls_err_bad_locale},
    {"InvalidDbdate", [](LocaleTree &) { setenv("DBDATE", "MDX4", 1); }, gls_err_bad_dbdate},
};

TEST_P(InitFailure, ReportsItsOwnErrorNeverZero) {
  LocaleTree tree({"0333e01c.cvo", "e01c0333.cvo"});
  GetParam().prepare(tree);
  EXPECT_EQ(CheckOsInit(), nullptr) << "the context is refused when the locale fails";
  EXPECT_EQ(state()->initialised, 0);
  EXPECT_EQ(state()->in_progress, 0);
  EXPECT_EQ(chkglsinit(), GetParam().error) << "a second try fails alike";
  EXPECT_EQ(get_glserror(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Cases, InitFailure, ::testing::ValuesIn(failure_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(GlsEnvTest, MissingConversionFileIsExplainedByItsMessage) {
  LocaleTree tree({"0333e01c.cvo", "e01c0333.cvo"});
  setenv("DB_LOCALE", "en_US.utf8", 1);
  ASSERT_EQ(chkglsinit(), gls_err_cv_file);
  char text[200] = {};
  int32_t length = 0;
  /* The catalog reader initialises first, fails alike and explains why. */
  EXPECT_EQ(rgetlmsg(get_glserror(), text, sizeof text, &length), gls_err_cv_file);
  EXPECT_STREQ(text, "Error opening required code-set conversion object file.");
}

TEST_F(GlsEnvTest, InitialisationErrorsMapToTheClientsNumbers) {
  struct row {
    int stored;
    int reported;
  };
  const row rows[] = {
      {-1, gls_err_init},
      {-3, gls_err_init},
      {-8, gls_err_init},
      {-9, -9},
      {-2, gls_err_no_memory},
      {3, gls_err_no_memory},
      {8, gls_err_bad_locale},
      {9, gls_err_bad_locale},
      {11, gls_err_bad_locale},
      {21, gls_err_bad_locale},
      {12, gls_err_codesets},
      {58, gls_err_codesets},
      {7, 7},
      {-23104, -23104},
      {0, 0},
  };
  for (const row &r : rows) {
    set_glserror(r.stored);
    EXPECT_EQ(getiniterr(), r.reported) << r.stored;
    EXPECT_EQ(get_glserror(), r.reported) << "stored back";
  }
}

TEST_F(GlsEnvTest, NestedCheckDuringInitialisationReturnsAtOnce) {
  new_gls_env *st = state();
  st->in_progress = 1;
  EXPECT_EQ(chkglsinit(), 0);
  EXPECT_EQ(st->initialised, 0);
  EXPECT_EQ(CheckGlsEnv()->locale, nullptr);
  st->in_progress = 0;
}

TEST_F(GlsEnvTest, RcFileVariableIsReadThroughTheContextBeingMade) {
  LocaleTree tree;
  tree.write("etc/dovariza.rc", "CLIENT_LOCALE en_US.utf8\n");
  ostcb_t *context = CheckOsInit();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(CheckOsInit(), context);
  EXPECT_EQ(state()->initialised, 1);
  EXPECT_STREQ(state()->vars[gls_var_client_locale], "en_US.utf8");
  EXPECT_EQ(CheckGlsEnv()->locale->single_byte, 0);
}

TEST_F(GlsEnvTest, ServerModeIsRefused) {
  EXPECT_EQ(initgls(2), -1);
  EXPECT_EQ(state()->initialised, 0);
  EXPECT_EQ(CheckGlsEnv()->locale, nullptr);
}

TEST_F(GlsEnvTest, ThreadInitialisationLoadsTheConventions) {
  ASSERT_EQ(thr_initgls(1), 0);
  EXPECT_NE(state()->lconv_loaded, 0);
  EXPECT_STREQ(state()->lconv->decimal_point, ".");
}

TEST_F(GlsEnvTest, EightBitFileSystemFlagFollowsItsVariable) {
  for (const char *value : {"1", "x", "0"}) {
    setenv("GLS8BITFSYS", value, 1);
    set8bitfsys();
    EXPECT_EQ(_8bitfsys, value[0] == '0' ? 0 : 1) << value;
  }
}

}  // namespace
