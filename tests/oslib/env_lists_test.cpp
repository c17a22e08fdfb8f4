/*
** The environment lists sent to the server: exact contents with an empty
** environment, the full connect list, NLS and client modes, conversion to
** the database's code set and its failure; and the plain defaults of
** _os_clr_env.
*/
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "env_fixture.h"

using env_test::EnvTest;

namespace {

using entries = std::vector<std::pair<std::string, std::string>>;

entries entries_of(const evlist_t &list) {
  entries out;
  for (int i = 0; i < list.count; ++i)
    out.emplace_back(list.names[i], list.values[i]);
  return out;
}

/* Test converter: the text in angle brackets; "fail" cannot be converted. */
int bracket(gl_cv_desc *, const char *src, int *, char **out) {
  if (strcmp(src, "fail") == 0) return -1;
  std::string s = "<" + std::string(src) + ">";
  *out = strdup(s.c_str());
  return static_cast<int>(s.size());
}

/* A converter the stubs only pass to the test converter. */
void install_client_to_db_converter() {
  static gl_cv_desc converter {};
  oslib_forward::stubs().convert = bracket;
  oslib_forward::environment().state->cv_client_db = &converter;
}

TEST_F(EnvTest, EmptyEnvironmentGivesDbpathAndTheFourDefaults) {
  ASSERT_EQ(greadenv(), 0); /* built while DOVARIZADIR names the isolated tree */
  ASSERT_EQ(clearenv(), 0);
  evlist_t list {};
  ASSERT_EQ(_oscpevlist(&list, "srv_a:srv_b"), 0);
  EXPECT_EQ(entries_of(list), (entries {{"DBPATH", "srv_a:srv_b"},
                                        {"SINGLELEVEL", "no"},
                                        {"LKNOTIFY", "yes"},
                                        {"LOCKDOWN", "no"},
                                        {"NODEFDAC", "no"}}));
  _osfreevlist(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.names, nullptr);

  ASSERT_EQ(_oscsevlist(&list), 0);
  EXPECT_EQ(entries_of(list),
            (entries {{"DBTEMP", "/tmp"}, {"SUBQCACHESZ", "10"}, {"NODEFDAC", "no"}}));
  _osfreevlist(&list);
}

TEST_F(EnvTest, ConnectListHoldsAtMostDbpathAndEveryConnectAndLocaleVariable) {
  for (int i = 0; i < Num_MVarList; ++i)
    setenv(Dvz_MVarList[i], "m", 1);
  for (int i = 0; i < Num_LVarList; ++i)
    setenv(Dvz_LVarList[i], "l", 1);
  setenv("DBNLS", "1", 1);
  evlist_t list {};
  ASSERT_EQ(_oscpevlist(&list, "db"), 0);
  ASSERT_EQ(list.count, 32);
  EXPECT_STREQ(list.names[0], "DBPATH");
  for (int i = 0; i < Num_MVarList; ++i)
    EXPECT_STREQ(list.names[1 + i], Dvz_MVarList[i]);
  for (int i = 0; i < Num_LVarList; ++i)
    EXPECT_STREQ(list.names[1 + Num_MVarList + i], Dvz_LVarList[i]);
  EXPECT_STREQ(list.values[31], "l");
  _osfreevlist(&list);
}

TEST_F(EnvTest, LocaleVariablesDependOnModeAndNls) {
  struct row {
    int mode;
    const char *dbnls; /* nullptr: unset */
    entries expected_tail;
  };
  const row rows[] = {
      /* A client environment without NLS: DB_LOCALE alone, unconverted. */
      {1, nullptr, {{"DB_LOCALE", "de_de.8859-1"}}},
      /* With NLS: every locale variable that has a value, converted. */
      {1,
       "1",
       {{"DB_LOCALE", "<de_de.8859-1>"},
        {"DBNLS", "<1>"},
        {"LC_CTYPE", "<C>"},
        {"LC_COLLATE", "<en_US.819>"}, /* NLS defaults of the table */
        {"LC_NUMERIC", "<en_US.819>"},
        {"LC_MONETARY", "<en_US.819>"},
        {"LC_TIME", "<en_US.819>"}}},
      /* A server environment: none. */
      {2, "1", {}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.mode);
    SetUp();
    install_client_to_db_converter();
    oslib_forward::environment().state->mode = static_cast<int16_t>(r.mode);
    setenv("DB_LOCALE", "de_de.8859-1", 1);
    setenv("LC_CTYPE", "C", 1);
    setenv("DBDATE", "DMY4", 1);
    if (r.dbnls != nullptr) setenv("DBNLS", r.dbnls, 1);
    evlist_t list {};
    ASSERT_EQ(_oscpevlist(&list, "db"), 0);
    entries expected = {{"DBPATH", "<db>"},    {"DBDATE", "<DMY4>"}, {"SINGLELEVEL", "<no>"},
                        {"LKNOTIFY", "<yes>"}, {"LOCKDOWN", "<no>"}, {"NODEFDAC", "<no>"}};
    expected.insert(expected.end(), r.expected_tail.begin(), r.expected_tail.end());
    EXPECT_EQ(entries_of(list), expected);
    _osfreevlist(&list);
  }
}

TEST_F(EnvTest, SecondaryListIsConvertedAndAFailedConversionReleasesTheList) {
  install_client_to_db_converter();
  setenv("DBTEMP", "/scratch", 1);
  setenv("USE_DTENV", "1", 1); /* not in the table, set in the process */
  evlist_t list {};
  ASSERT_EQ(_oscsevlist(&list), 0);
  const entries all = entries_of(list);
  for (const auto &entry : entries {{"DBTEMP", "</scratch>"}, {"USE_DTENV", "<1>"}})
    EXPECT_NE(std::find(all.begin(), all.end(), entry), all.end()) << entry.first;
  _osfreevlist(&list);

  setenv("DBTEMP", "fail", 1);
  list = evlist_t {7, nullptr, nullptr};
  EXPECT_EQ(_oscsevlist(&list), -1);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.names, nullptr);
  EXPECT_EQ(list.values, nullptr);
  EXPECT_EQ(_oscpevlist(&list, "fail"), -1);
  setenv("DBDATE", "fail", 1);
  EXPECT_EQ(_oscpevlist(&list, "db"), -1);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(_oscpevlist(&list, nullptr), -1);
}

TEST_F(EnvTest, ClearedEnvironmentTakesThePlainDefaults) {
  setenv("DBMONEY", "DM", 1);
  ASSERT_EQ(_os_clr_env(), 0);
  const std::pair<const char *, const char *> expected[] = {
      {"DBNLS", "0"}, {"DBMONEY", "$."}, {"DBDATE", "MDY4/"}, {"DBPATH", "."}};
  for (const auto &[name, value] : expected)
    EXPECT_STREQ(getenv(name), value) << name;
}

}  // namespace
