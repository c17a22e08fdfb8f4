/*
** Per-connection locale environments: the comparison of an environment
** with a connect's variables, and connects through dvz_connect_glsenv
** that reuse, create, fail and release environments with the real client
** initialisation and the build's locale data.
*/
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "connect_fixture.h"
#include "failing_alloc.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"
#include "os_lconv.h"

namespace {

using connect_test::ConnectTest;
using connect_test::list_length;

/* No leak so far in the process (always true without the leak checker). */
bool no_leaks() {
#if defined(__SANITIZE_ADDRESS__)
  return __lsan_do_recoverable_leak_check() == 0;
#else
  return true;
#endif
}

TEST(CompareLocaleField, AbsentDefaultAndCaseRules) {
  struct Row {
    const char *copy;
    int32_t is_default;
    const char *value;
    int expected;
  };
  const Row rows[] = {
      {nullptr, 0, nullptr, 0},
      {"en_US.8859-1", 1, nullptr, 0}, /* filled by default: an unset value matches */
      {"en_US.8859-1", 0, nullptr, -1}, /* read from the environment: it does not */
      {nullptr, 0, "en_US.8859-1", -1},
      {nullptr, 1, "en_US.8859-1", -1},
      {"en_US.8859-1", 0, "EN_us.8859-1", 0},
      {"en_US.8859-1", 1, "en_US.utf8", -1},
      {"DMY4/", 0, "DMY4-", -1},
  };
  for (const Row &r : rows)
    EXPECT_EQ(CompareLocaleField(r.copy, r.is_default, r.value), r.expected)
        << (r.copy ? r.copy : "(none)") << " / " << (r.value ? r.value : "(none)");
}

/* An environment holding the given copies and default bits. */
class BuiltEnvironment {
 public:
  BuiltEnvironment(const std::map<int, const char *> &copies, int32_t default_bits) {
    state_.default_bits = default_bits;
    for (const auto &[var, value] : copies)
      state_.vars[var] = const_cast<char *>(value);
    env_.state = &state_;
  }
  const gls_env *get() const { return &env_; }

 private:
  new_gls_env state_ {};
  gls_env env_ {};
};

glsenv_save save_area(const std::map<int, const char *> &values) {
  glsenv_save save {};
  for (const auto &[var, value] : values)
    save.vars[var] = value;
  return save;
}

TEST(CompareLocale, DecidesByTheVariablesThatCount) {
  struct Row {
    const char *name;
    std::map<int, const char *> copies;
    int32_t default_bits;
    std::map<int, const char *> values;
    int expected;
  };
  const char *dflt = "en_US.8859-1";
  const Row rows[] = {
      {"identical",
       {{gls_var_client_locale, dflt}, {gls_var_dbdate, "DMY4"}},
       0,
       {{gls_var_client_locale, dflt}, {gls_var_dbdate, "DMY4"}},
       0},
      {"default CLIENT_LOCALE, unset now", {{gls_var_client_locale, dflt}}, 1, {}, 0},
      {"default CLIENT_LOCALE, other case now",
       {{gls_var_client_locale, dflt}},
       1,
       {{gls_var_client_locale, "EN_US.8859-1"}},
       0},
      {"CLIENT_LOCALE read, unset now", {{gls_var_client_locale, dflt}}, 0, {}, -1},
      {"DB_LOCALE differs",
       {{gls_var_db_locale, "en_US.utf8"}},
       0,
       {{gls_var_db_locale, "de_DE.8859-1"}},
       -1},
      {"LANG differs, DBNLS (by default) on one side only",
       {{gls_var_dbnls, "1"}, {gls_var_lang, "fr_CA"}},
       1 << gls_var_dbnls,
       {{gls_var_lang, "de_DE"}},
       0},
      {"LANG differs, DBNLS on neither side",
       {{gls_var_lang, "fr_CA"}},
       0,
       {{gls_var_lang, "de_DE"}},
       0},
      {"LANG differs, DBNLS on both sides",
       {{gls_var_dbnls, "1"}, {gls_var_lang, "fr_CA"}},
       0,
       {{gls_var_dbnls, "1"}, {gls_var_lang, "de_DE"}},
       -1},
      {"LC_TIME differs, DBNLS on both sides",
       {{gls_var_dbnls, "2"}, {gls_var_lc_time, "fr_CA"}},
       0,
       {{gls_var_dbnls, "2"}},
       -1},
      {"DBMONEY differs", {{gls_var_dbmoney, "DM,"}}, 0, {{gls_var_dbmoney, "$."}}, -1},
      {"DBTIME differs", {}, 0, {{gls_var_dbtime, "%H"}}, -1},
      {"GL_DATE differs, no DBDATE",
       {{gls_var_gl_date, "%d/%m/%iY"}},
       0,
       {{gls_var_gl_date, "%m/%d/%iY"}},
       -1},
      {"GL_DATE differs, same DBDATE",
       {{gls_var_dbdate, "DMY4"}, {gls_var_gl_date, "%d/%m/%iY"}},
       0,
       {{gls_var_dbdate, "dmy4"}, {gls_var_gl_date, "%m/%d/%iY"}},
       0},
      {"GL_DATETIME differs", {{gls_var_gl_datetime, "%H"}}, 0, {{gls_var_gl_datetime, "%M"}}, -1},
  };
  for (const Row &r : rows) {
    BuiltEnvironment env(r.copies, r.default_bits);
    const glsenv_save save = save_area(r.values);
    EXPECT_EQ(CompareLocale(env.get(), &save), r.expected) << r.name;
  }

  BuiltEnvironment any({{gls_var_client_locale, dflt}}, 0);
  const glsenv_save empty {};
  EXPECT_EQ(CompareLocale(any.get(), nullptr), 0) << "no save area matches all";
  EXPECT_EQ(CompareLocale(nullptr, &empty), -1);
  const gls_env stateless {};
  EXPECT_EQ(CompareLocale(&stateless, &empty), -1);
}

TEST_F(ConnectTest, SameVariablesShareAnEnvironmentAndDbdateMakesAnother) {
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  setenv("DBDATE", "MDY4/", 1);
  const int listed = list_length();
  const int counted = glsenv_count;

  gls_env *first = nullptr;
  ASSERT_EQ(connect(&first), 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(CheckGlsEnv(), first) << "the connect leaves its environment current";
  ASSERT_NE(first->locale, nullptr);
  EXPECT_NE(first->state->lconv, &g_lconv_default);
  EXPECT_STREQ(first->state->vars[gls_var_dbdate], "MDY4/");
  EXPECT_EQ(list_length(), listed + 1);
  EXPECT_EQ(glsenv_count, counted + 1);

  gls_env *again = nullptr;
  ASSERT_EQ(connect(&again), 0);
  EXPECT_EQ(again, first);
  EXPECT_EQ(list_length(), listed + 1);

  setenv("DBDATE", "DMY4-", 1);
  gls_env *second = nullptr;
  ASSERT_EQ(connect(&second), 0);
  EXPECT_NE(second, first);
  EXPECT_STREQ(second->state->date_format, "%d-%m-%iY");
  EXPECT_EQ(list_length(), listed + 2);
  EXPECT_EQ(glsenv_count, counted + 2);
  EXPECT_NE(second->locale, first->locale) << "each environment loads its own locale";

  setenv("DBDATE", "mdy4/", 1);
  gls_env *back = nullptr;
  ASSERT_EQ(connect(&back), 0);
  EXPECT_EQ(back, first) << "case is ignored";
  EXPECT_EQ(CheckGlsEnv(), first);
  EXPECT_TRUE(no_leaks()) << "each connect's fresh save area is freed";
}

TEST_F(ConnectTest, DefaultClientLocaleMatchesUnsetAndTheSameNameInAnyCase) {
  setenv("DBTIME", "%H:%M default test", 1); /* an environment of this test's own */
  gls_env *unset = nullptr;
  ASSERT_EQ(connect(&unset), 0);
  EXPECT_STREQ(unset->state->vars[gls_var_client_locale], "en_US.8859-1");
  EXPECT_NE(unset->state->default_bits & 1, 0);
  const int listed = list_length();

  gls_env *again = nullptr;
  ASSERT_EQ(connect(&again), 0);
  EXPECT_EQ(again, unset);
  setenv("CLIENT_LOCALE", "EN_US.8859-1", 1);
  ASSERT_EQ(connect(&again), 0);
  EXPECT_EQ(again, unset);
  setenv("CLIENT_LOCALE", "en_US.utf8", 1);
  ASSERT_EQ(connect(&again), 0);
  EXPECT_NE(again, unset);
  EXPECT_EQ(list_length(), listed + 1);
}

/* A failed create leaves nothing behind: the error in full (not its low 16
** bits), the list and count as they were, the previous environment
** current, and nothing loaded or allocated for it still held. */
TEST_F(ConnectTest, FailedCreateReportsTheWholeErrorAndLeavesNoTrace) {
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  gls_env *good = nullptr;
  ASSERT_EQ(connect(&good), 0);

  struct Row {
    const char *name;
    std::map<std::string, std::string> variables;
    int expected;
  };
  const Row rows[] = {
      {"a code set failing ABCDE", {{"CLIENT_LOCALE", connect_test::failing_locale}}, -34394},
      {"a missing conversion file",
       {{"CLIENT_LOCALE", "en_US.8859-1"}, {"DB_LOCALE", "en_US.utf8"}},
       -23104},
      {"no such locale", {{"CLIENT_LOCALE", "zz_ZZ.8859-1"}}, -23101},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    for (const auto &[name, value] : r.variables)
      setenv(name.c_str(), value.c_str(), 1);
    const int listed = list_length();
    const glsenv_node *last = GlsEnv_List;
    while (last != nullptr && last->next != nullptr)
      last = last->next;
    const int counted = glsenv_count;

    gls_env untouched {};
    gls_env *env = &untouched;
    EXPECT_EQ(dvz_connect_glsenv(&env), r.expected);
    EXPECT_EQ(env, &untouched) << "nothing given out";
    EXPECT_EQ(list_length(), listed);
    const glsenv_node *now_last = GlsEnv_List;
    while (now_last != nullptr && now_last->next != nullptr)
      now_last = now_last->next;
    EXPECT_EQ(now_last, last);
    EXPECT_EQ(glsenv_count, counted);
    EXPECT_EQ(CheckGlsEnv(), good) << "the previous environment stays current";
    EXPECT_TRUE(no_leaks()) << "the environment, its copies, locales and save area are freed";
    for (const auto &[name, value] : r.variables)
      unsetenv(name.c_str());
  }

  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  gls_env *after = nullptr;
  EXPECT_EQ(connect(&after), 0);
  EXPECT_EQ(after, good);
}

/* Each allocation of a new environment fails in turn (the node, its
** state and conventions, each copy of a variable), and then the connect's
** own save area: -406, nothing given out, the list and count unchanged,
** nothing kept. */
TEST_F(ConnectTest, CreateWithoutMemoryGives406AndLeavesTheListUnchanged) {
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  gls_env *good = nullptr;
  ASSERT_EQ(connect(&good), 0);
  glsenv_save save {};
  save.vars[gls_var_client_locale] = "de_DE.8859-1";
  save.vars[gls_var_dbdate] = "Y2MD0";
  save.vars[gls_var_dbmoney] = "DM,";

  auto last_node = [] {
    const glsenv_node *last = GlsEnv_List;
    while (last != nullptr && last->next != nullptr)
      last = last->next;
    return last;
  };
  const int listed = list_length();
  const glsenv_node *last = last_node();
  const int counted = glsenv_count;
  int failures = 0;
  for (int fail_at = 1;; ++fail_at) {
    SCOPED_TRACE("allocation " + std::to_string(fail_at) + " fails");
    gls_env untouched {};
    gls_env *env = &untouched;
    int rc = 0;
    int refused = 0;
    {
      oslib_test::FailingAlloc no_memory(fail_at);
      rc = CreateGlsEnv(&save, &env, 0);
      refused = no_memory.failures();
    }
    if (refused == 0) {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(list_length(), listed + 1);
      break;
    }
    ++failures;
    EXPECT_EQ(rc, -406);
    EXPECT_EQ(env, &untouched) << "nothing given out";
    EXPECT_EQ(list_length(), listed);
    EXPECT_EQ(last_node(), last);
    EXPECT_EQ(glsenv_count, counted);
    EXPECT_EQ(CheckGlsEnv(), good);
    EXPECT_TRUE(no_leaks());
  }
  EXPECT_EQ(failures, 3 + 3) << "three records and three copies";

  /* The connect's fresh save area is its first allocation. */
  setenv("DBDATE", "DMY4/", 1); /* an environment no connect has made */
  const int listed_now = list_length();
  gls_env *env = good;
  int rc = 0;
  {
    oslib_test::FailingAlloc no_memory(1);
    rc = dvz_connect_glsenv(&env);
  }
  EXPECT_EQ(rc, -406);
  EXPECT_EQ(env, good) << "nothing given out";
  EXPECT_EQ(list_length(), listed_now);
  EXPECT_EQ(CheckGlsEnv(), good);
  EXPECT_TRUE(no_leaks());
}

TEST_F(ConnectTest, SaveAreaInUseIsTakenAsItStands) {
  glsenv_save given {};
  given.in_use = 1;
  given.vars[gls_var_client_locale] = "en_US.8859-1";
  given.vars[gls_var_dbdate] = "Y4MD-";
  glsenv_savearea = &given;

  gls_env *env = nullptr;
  ASSERT_EQ(connect(&env), 0);
  EXPECT_STREQ(env->state->vars[gls_var_dbdate], "Y4MD-");
  EXPECT_NE(env->state->vars[gls_var_dbdate], given.vars[gls_var_dbdate]) << "a copy";
  EXPECT_STREQ(env->state->date_format, "%iY-%m-%d") << "the initialisation reads the copies";
  EXPECT_EQ(given.in_use, 1);
}

TEST_F(ConnectTest, CreateWithoutInitialisingCopiesTheSaveAreaOrTheLookUp) {
  setenv("DBMONEY", "DM,", 1);
  setenv("DBDATE", "DMY4/", 1);
  glsenv_save save {};
  save.vars[gls_var_client_locale] = "de_DE.8859-1";
  save.vars[gls_var_dbdate] = "Y2MD0";
  const int counted = glsenv_count;
  const int listed = list_length();

  gls_env *env = nullptr;
  ASSERT_EQ(CreateGlsEnv(&save, &env, 0), 0);
  ASSERT_NE(env, nullptr);
  const new_gls_env &state = *env->state;
  EXPECT_EQ(state.mode, 1);
  EXPECT_EQ(state.initialised, 0);
  EXPECT_EQ(env->locale, nullptr);
  EXPECT_NE(state.lconv, nullptr);
  EXPECT_NE(state.lconv, &g_lconv_default);
  EXPECT_STREQ(state.vars[gls_var_client_locale], "de_DE.8859-1");
  EXPECT_STREQ(state.vars[gls_var_dbdate], "Y2MD0") << "the save area before the environment";
  EXPECT_STREQ(state.vars[gls_var_dbmoney], "DM,")
      << "the environment where the save area has none";
  EXPECT_EQ(state.vars[gls_var_gl_date], nullptr);
  EXPECT_EQ(glsenv_count, counted + 1);
  ASSERT_EQ(list_length(), listed + 1);
  const glsenv_node *last = GlsEnv_List;
  while (last->next != nullptr)
    last = last->next;
  EXPECT_EQ(last->env, env);
  EXPECT_EQ(&last->record, env);

  gls_env *found = nullptr;
  EXPECT_EQ(CheckExistingGlsEnv(&save, &found), -1)
      << "the environment holds a DBMONEY the save area lacks";
  EXPECT_EQ(found, nullptr);
  save.vars[gls_var_dbmoney] = "dm,";
  EXPECT_EQ(CheckExistingGlsEnv(&save, &found), 0);
  EXPECT_EQ(found, env);
  save.vars[gls_var_dbdate] = "DMY4/";
  EXPECT_EQ(CheckExistingGlsEnv(&save, &found), -1);
  EXPECT_EQ(found, nullptr);
}

TEST_F(ConnectTest, FreeAllReleasesEveryEnvironmentAndConnectsAgain) {
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  gls_env *env = nullptr;
  ASSERT_EQ(connect(&env), 0);
  setenv("DBDATE", "DMY4/", 1);
  ASSERT_EQ(connect(&env), 0);
  ASSERT_GE(list_length(), 2);
  const int counted = glsenv_count;
  const int listed = list_length();
  gls_env *fixed = gls_static_env();
  const bool fixed_initialised = fixed->state->initialised != 0;

  EXPECT_EQ(FreeAllGlsEnv(), 0);
  EXPECT_EQ(GlsEnv_List, nullptr);
  EXPECT_EQ(glsenv_count, counted - listed);
  EXPECT_EQ(CheckGlsEnv(), fixed);
  EXPECT_EQ(fixed->state->initialised, 0);
  EXPECT_EQ(fixed->locale, nullptr);
  if (fixed_initialised) {
    EXPECT_EQ(fixed->state->vars[gls_var_client_locale], nullptr);
  }
  EXPECT_TRUE(no_leaks());

  ASSERT_EQ(connect(&env), 0);
  ASSERT_NE(env->locale, nullptr);
  EXPECT_EQ(list_length(), 1);
  EXPECT_EQ(CheckGlsEnv(), env);
}

TEST_F(ConnectTest, FreeglsReleasesTheCurrentEnvironmentsLoads) {
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  setenv("DBDATE", "Y4MD/", 1);
  gls_env *env = nullptr;
  ASSERT_EQ(connect(&env), 0);
  ASSERT_NE(env->state->date_format, nullptr);

  EXPECT_EQ(freegls(), 0);
  EXPECT_EQ(env->locale, nullptr);
  EXPECT_EQ(env->state->db_locale, nullptr);
  EXPECT_EQ(env->state->date_format, nullptr);
  EXPECT_EQ(env->state->abmon_cache, nullptr);
  EXPECT_EQ(env->state->initialised, 0);
  EXPECT_EQ(chkglsinit(), 0) << "initialised again on next use";
  EXPECT_NE(env->locale, nullptr);
  EXPECT_STREQ(env->state->date_format, "%iY/%m/%d");
}

}  // namespace
