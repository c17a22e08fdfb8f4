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

#include "conversion_fixture.h"
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

/* A UTF-8 client with an 8859-1 database: the real converter in the
** current environment for the scope. e-acute shows a value converted; the
** euro sign has no 8859-1 form. */
struct ClientToDbConverter {
  oslib_test::Utf8ToLatin1 cv;
  oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_client_db, cv.get()};
};
const std::string euro_sign = "\xE2\x82\xAC";

/* Sets the current environment's mode for the scope. */
class EnvironmentMode {
 public:
  explicit EnvironmentMode(int mode) : saved_(CheckGlsEnv()->state->mode) {
    CheckGlsEnv()->state->mode = static_cast<int16_t>(mode);
  }
  ~EnvironmentMode() { CheckGlsEnv()->state->mode = saved_; }
  EnvironmentMode(const EnvironmentMode &) = delete;
  EnvironmentMode &operator=(const EnvironmentMode &) = delete;

 private:
  int16_t saved_;
};

/* With nothing set, the list holds DBPATH, the four variables with a
** default, and the client locale that the locale initialisation records
** by default. */
TEST_F(EnvTest, EmptyEnvironmentGivesDbpathTheFourDefaultsAndTheDefaultLocale) {
  ASSERT_EQ(greadenv(), 0); /* built while DOVARIZADIR names the isolated tree */
  ASSERT_EQ(clearenv(), 0);
  evlist_t list {};
  ASSERT_EQ(_oscpevlist(&list, "srv_a:srv_b"), 0);
  EXPECT_EQ(entries_of(list), (entries {{"DBPATH", "srv_a:srv_b"},
                                        {"CLIENT_LOCALE", "en_US.8859-1"},
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
      {1, nullptr, {{"DB_LOCALE", "d\xC3\xA9_de.8859-1"}}},
      /* With NLS: every locale variable that has a value, converted. */
      {1,
       "1",
       {{"DB_LOCALE", "d\xE9_de.8859-1"},
        {"DBNLS", "1"},
        {"LC_CTYPE", "C"},
        {"LC_COLLATE", "en_US.819"}, /* NLS defaults of the table */
        {"LC_NUMERIC", "en_US.819"},
        {"LC_MONETARY", "en_US.819"},
        {"LC_TIME", "en_US.819"}}},
      /* A server environment: none. */
      {2, "1", {}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.mode);
    SetUp();
    setenv("DB_LOCALE", "d\xC3\xA9_de.8859-1", 1);
    setenv("LC_CTYPE", "C", 1);
    setenv("DBDATE", "DMY4", 1);
    if (r.dbnls != nullptr) setenv("DBNLS", r.dbnls, 1);
    /* Loaded after the variables are set: the load reads the environment,
    ** which builds the variable table. */
    ClientToDbConverter converter;
    EnvironmentMode mode(r.mode);
    evlist_t list {};
    ASSERT_EQ(_oscpevlist(&list, "db\xC3\xA9"), 0);
    /* CLIENT_LOCALE: the copy the client's initialisation keeps. */
    entries expected = {
        {"DBPATH", "db\xE9"},  {"DBDATE", "DMY4"},  {"CLIENT_LOCALE", "en_US.8859-1"},
        {"SINGLELEVEL", "no"}, {"LKNOTIFY", "yes"}, {"LOCKDOWN", "no"},
        {"NODEFDAC", "no"}};
    expected.insert(expected.end(), r.expected_tail.begin(), r.expected_tail.end());
    EXPECT_EQ(entries_of(list), expected);
    _osfreevlist(&list);
  }
}

TEST_F(EnvTest, SecondaryListIsConvertedAndAFailedConversionReleasesTheList) {
  ClientToDbConverter converter;
  setenv("DBTEMP", "/scr\xC3\xA9", 1);
  setenv("USE_DTENV", "1", 1); /* not in the table, set in the process */
  evlist_t list {};
  ASSERT_EQ(_oscsevlist(&list), 0);
  const entries all = entries_of(list);
  for (const auto &entry : entries {{"DBTEMP", "/scr\xE9"}, {"USE_DTENV", "1"}})
    EXPECT_NE(std::find(all.begin(), all.end(), entry), all.end()) << entry.first;
  _osfreevlist(&list);

  setenv("DBTEMP", euro_sign.c_str(), 1);
  list = evlist_t {7, nullptr, nullptr};
  EXPECT_EQ(_oscsevlist(&list), -1);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.names, nullptr);
  EXPECT_EQ(list.values, nullptr);
  EXPECT_EQ(_oscpevlist(&list, euro_sign.c_str()), -1);
  setenv("DBDATE", euro_sign.c_str(), 1);
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
