/*
** Locale specifications of the initialisation: the loadable form (library
** file or operating-system form), long specifications, the category names
** (cut copies, never the caller's text), their normalised forms, the
** platform-style LC_* names in NLS mode and the code-set aliases.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "gl_registry.h"
#include "glsenv_fixture.h"
#include "os_glsenv.h"

namespace {

using glsenv_test::GlsEnvTest;

/* Caches the build's registry for the name look-ups. */
class SpecTest : public GlsEnvTest {
 protected:
  SpecTest() {
    const std::string registry = glsenv_test::build_tree() + "/gls/cm3/registry";
    gl_cache_registry(nullptr, registry.c_str());
  }
  ~SpecTest() override { gl_free_registry_cache(); }
};

TEST_F(SpecTest, LoadableFormIsTheLibraryFileOrTheOperatingSystemForm) {
  struct row {
    const char *spec;
    int second_in;
    const char *out;
    int sources; /* bit c: category c from a library file */
    int second_out;
  };
  const row rows[] = {
      {"en_US.8859-1", 0, "en_us/0333.lco", 0x3f, 0},
      {"en_US.8859-1", 1, "os/en_US.8859-1", 0, 1},
      {"xx_XX.nosuchset", 0, "os/xx_XX.nosuchset", 0, 1},
      {"GL_CTYPE = en_US.8859-1 ; GL_COLLATE = fr_CA.nosuchset ; GL_TIME = en_US.utf8 ; ", 0,
       "GL_CTYPE = en_us/0333.lco ; GL_COLLATE = os/fr_CA.nosuchset ; GL_TIME = en_us/e01c.lco ; ",
       0x01 | 0x10, 1},
      {"GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.utf8 ; ", 1,
       "GL_CTYPE = os/en_US.8859-1 ; GL_TIME = os/en_US.utf8 ; ", 0, 1},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.spec) + (r.second_in ? " (second)" : ""));
    char out[GLS_FSPEC_SIZE];
    int32_t sources[gls_cat_count];
    std::memset(sources, 0x55, sizeof sources);
    int second = r.second_in;
    ASSERT_EQ(spec2fname(r.spec, out, sources, &second), 0);
    EXPECT_STREQ(out, r.out);
    EXPECT_EQ(second, r.second_out);
    for (int c = 0; c < gls_cat_count; ++c)
      EXPECT_EQ(sources[c], (r.sources >> c) & 1) << c;
  }
  char out[GLS_FSPEC_SIZE];
  int32_t sources[gls_cat_count];
  int second = 0;
  EXPECT_EQ(spec2fname(nullptr, out, sources, &second), -1);
  EXPECT_EQ(spec2fname(std::string(GLS_SPEC_MAX + 1, 'a').c_str(), out, sources, &second), -1);
}

TEST_F(SpecTest, ValueOfACategoryKeyIsReadUpToItsBlankAndCut) {
  struct row {
    const char *spec;
    const char *key;
    int rc;
    const char *value;
  };
  const row rows[] = {
      {"GL_CTYPE = en_US.819 ; GL_TIME = fr_CA.819 ; ", "GL_TIME", 0, "fr_CA.819"},
      {"GL_CTYPE = en_US.819 ; ", "GL_COLLATE", -1, ""},
      {"GL_CTYPE=en_US.819", "GL_CTYPE", -1, ""},
      {"GL_CTYPE = aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa ; ", "GL_CTYPE", 0,
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
  };
  for (const row &r : rows) {
    char value[GLS_CATNAME_SIZE] = {};
    EXPECT_EQ(extrspec(r.spec, r.key, value), r.rc) << r.spec;
    if (r.rc == 0) {
      EXPECT_STREQ(value, r.value) << r.spec;
    }
  }
}

TEST_F(SpecTest, CategoryNamesAreCutFromACopy) {
  const std::string spec(50, 'x');
  char text[51];
  std::memcpy(text, spec.c_str(), sizeof text);
  char names[gls_cat_count][GLS_CATNAME_SIZE];
  lcspec2longsp(text, names);
  EXPECT_EQ(std::string(text), spec) << "the caller's text is left whole";
  for (auto &name : names)
    EXPECT_EQ(std::string(name), std::string(36, 'x'));

  /* The process environment is such a caller. */
  setenv("CLIENT_LOCALE", spec.c_str(), 1);
  lcspec2longsp(getenv("CLIENT_LOCALE"), names);
  EXPECT_EQ(std::string(getenv("CLIENT_LOCALE")), spec);
}

TEST_F(SpecTest, LibraryLocaleNamesAreNormalised) {
  struct row {
    const char *spec;
    const char *normal;
  };
  const row rows[] = {
      {"en_US.8859-1", "en_US.819"},
      {"en_us.utf8", "en_US.57372"},
      {"en_US.819", "en_US.819"},
      {"xx_XX.nosuchset", "xx_XX.nosuchset"},
      {"GL_CTYPE = en_US.8859-1 ; GL_COLLATE = en_US.8859-1 ; ",
       "GL_CTYPE = en_US.8859-1 ; GL_COLLATE"},
  };
  for (const row &r : rows) {
    char out[GLS_CATNAME_SIZE];
    EXPECT_EQ(togensp(r.spec, out), 0);
    EXPECT_STREQ(out, r.normal) << r.spec;
  }
  char same[GLS_CATNAME_SIZE] = "en_US.8859-1";
  togensp(same, same);
  EXPECT_STREQ(same, "en_US.819") << "in place";

  struct file_row {
    const char *fname;
    int rc;
    const char *spec;
  };
  const file_row files[] = {
      {"en_us/0333.lco", 0, "en_US.819"},
      {"os/xx_XX.8859-1", 0, "xx_XX.8859-1"},
      {"nopieces", -1, ""},
  };
  for (const file_row &f : files) {
    char out[GLS_CATNAME_SIZE] = {};
    EXPECT_EQ(chglcfile2sp(f.fname, out), f.rc) << f.fname;
    if (f.rc == 0) {
      EXPECT_STREQ(out, f.spec) << f.fname;
    }
  }
}

TEST_F(SpecTest, LongSpecificationsAreBuiltEntryByEntry) {
  char out[GLS_FSPEC_SIZE] = "";
  mk1loccat(out, "GL_CTYPE", "en_US.819");
  mk1loccat(out, "GL_TIME", "os/fr_CA");
  EXPECT_STREQ(out, "GL_CTYPE = en_US.819 ; GL_TIME = os/fr_CA ; ");

  char os_form[GLS_CATNAME_SIZE + 3];
  prependos("de_DE.819", os_form);
  EXPECT_STREQ(os_form, "os/de_DE.819");

  ASSERT_EQ(mklocspec("en_US.819", "de_DE.819", out), 0);
  EXPECT_STREQ(out,
               "GL_CTYPE = en_US.819 ; GL_COLLATE = de_DE.819 ; GL_NUMERIC = en_US.819 ; "
               "GL_MONETARY = en_US.819 ; GL_TIME = en_US.819 ; GL_MESSAGES = en_US.819 ; ");
  EXPECT_EQ(mklocspec(nullptr, "de_DE.819", out), -1);
  /* The built specification loads. */
  char fname[GLS_FSPEC_SIZE];
  int32_t sources[gls_cat_count];
  int second = 0;
  ASSERT_EQ(mklocspec("en_US.8859-1", nullptr, out), 0);
  ASSERT_EQ(spec2fname(out, fname, sources, &second), 0);
  EXPECT_EQ(second, 0);
}

TEST_F(SpecTest, NlsCategoryNamesComeFromTheLcVariables) {
  new_gls_env state {};
  setenv("LC_CTYPE", "en_US.8859-1", 1);
  setenv("LC_COLLATE", "de_DE.8859-1", 1);
  setenv("LC_NUMERIC", "fr_CA.8859-1", 1);
  setenv("LC_MONETARY", "en_US.utf8", 1);
  setenv("LC_TIME", std::string(40, 't').c_str(), 1);
  ASSERT_EQ(get_nlslocsp(&state, 0), 0);
  EXPECT_STREQ(state.category_names[gls_cat_ctype], "en_US.8859-1");
  EXPECT_STREQ(state.category_names[gls_cat_collate], "de_DE.8859-1");
  EXPECT_STREQ(state.category_names[gls_cat_numeric], "fr_CA.8859-1");
  EXPECT_STREQ(state.category_names[gls_cat_monetary], "en_US.utf8");
  EXPECT_EQ(std::string(state.category_names[gls_cat_time]), std::string(36, 't'));
  EXPECT_STREQ(state.category_names[gls_cat_messages], "en_US.8859-1");
  ASSERT_NE(state.vars[gls_var_lc_time], nullptr);
  EXPECT_EQ(std::string(state.vars[gls_var_lc_time]), std::string(40, 't')) << "copy kept whole";
  EXPECT_NE(state.vars[gls_var_lc_collate], getenv("LC_COLLATE")) << "a copy";

  /* Unset in session mode: marked "0", then filled by filongspec. */
  unsetenv("LC_NUMERIC");
  unsetenv("LC_TIME");
  EXPECT_EQ(get_nlslocsp(&state, 1), gls_err_nls_missing);
  EXPECT_STREQ(state.category_names[gls_cat_numeric], "0");
  EXPECT_STREQ(state.category_names[gls_cat_time], "0");
  filongspec(&state, "en_US.819");
  EXPECT_STREQ(state.category_names[gls_cat_numeric], "en_US.819");
  EXPECT_STREQ(state.category_names[gls_cat_time], "en_US.819");
  EXPECT_STREQ(state.category_names[gls_cat_collate], "de_DE.8859-1");
  for (char *&copy : state.vars)
    std::free(copy);
}

TEST_F(SpecTest, AliasesNameSpecificationsOfKnownCodeSets) {
  const char *const aliases[] = {"ascii", "8859-1", "gb",   "gb2312",  "ksc",
                                 "ksc1",  "ks5601", "big5", "sbig5",   "ccdc",
                                 "cccii", "jis208", "ujis", "sjis208", "sjis"};
  for (const char *name : aliases) {
    const char *spec = getalsloc(name);
    ASSERT_NE(spec, nullptr) << name;
    EXPECT_NE(gl_lc_spec2cs_num(nullptr, spec, nullptr), GL_CS_NONE) << name << " " << spec;
  }
  EXPECT_STREQ(getalsloc("ascii"), "en_US.8859-1");
  EXPECT_STREQ(getalsloc("jis208"), getalsloc("ujis"));
  EXPECT_STREQ(getalsloc("sjis208"), "ja_JP.sjis");
  EXPECT_EQ(getalsloc("utf8"), nullptr);
  EXPECT_EQ(getalsloc(nullptr), nullptr);
}

TEST_F(SpecTest, RestoreHelpersBringBackTheSavedLocaleAndItsNames) {
  ASSERT_EQ(chkglsinit(), 0);
  gls_env *env = CheckGlsEnv();
  new_gls_env *st = env->state;
  EXPECT_EQ(restoreploc(), -1) << "nothing saved";

  gl_locale *client = env->locale;
  st->saved_locale = client;
  env->locale = nullptr;
  st->client_locale = nullptr;
  for (auto &name : st->category_names)
    std::strcpy(name, "stale");
  ASSERT_EQ(restorelang(), 0);
  EXPECT_EQ(env->locale, client);
  EXPECT_EQ(st->client_locale, client);
  for (int c = 0; c < gls_cat_count; ++c)
    EXPECT_STREQ(st->category_names[c], "en_US.819") << c;
}

}  // namespace
