/*
** The variable table and its look-ups: precedence of process environment,
** locale copies, rc files and defaults; ENVIGNORE; NLS defaults; the
** value stacks; re-entry while the OS context is made; putting variables
** into the environment and releasing the table; the database NLS settings.
*/
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "env_fixture.h"
#include "env_internal.h"
#include "failing_alloc.h"
#include "gl_registry.h"
#include "locale_env.h"
#include "os_context.h"

using env_test::EnvTest;
using env_test::value_of;

/* The program is linked with the locale library's registry cache wrapped
** (--wrap): the first step of every client locale initialisation, where
** the wrapper counts the initialisations and reads the environment as
** the initialisation does. */
namespace {
int locale_initialisations = 0;
const char *value_seen_inside = nullptr;
evar_t *table_seen_inside = nullptr;
}  // namespace

extern "C" void __real_gl_cache_registry(gl_locale *record, const char *registry);
extern "C" void __wrap_gl_cache_registry(gl_locale *record, const char *registry) {
  ++locale_initialisations;
  value_seen_inside = ggetenv("DBPATH");
  table_seen_inside = Dvz_EVars;
  __real_gl_cache_registry(record, registry);
}

namespace {

TEST_F(EnvTest, LaterSourcesWinOverEarlierOnes) {
  struct row {
    const char *installation;
    const char *user;
    const char *process; /* nullptr: unset */
    const char *expected;
  };
  const row rows[] = {
      {"", "", nullptr, "."},
      {"DBPATH /db\n", "", nullptr, "/db"},
      {"DBPATH /db\n", "DBPATH /home\n", nullptr, "/home"},
      {"", "DBPATH /home\n", nullptr, "/home"},
      {"DBPATH /db\n", "DBPATH /home\n", "/proc", "/proc"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.installation) + "|" + r.user);
    SetUp();
    write_rc_files(r.installation, r.user);
    if (r.process != nullptr) setenv("DBPATH", r.process, 1);
    EXPECT_EQ(value_of("DBPATH"), r.expected);
  }
}

TEST_F(EnvTest, EnvignoreSkipsRcFilesButNotTheProcessEnvironment) {
  struct row {
    const char *envignore;
    const char *dbpath; /* expected */
    const char *dbtemp;
    const char *dblang;
  };
  const row rows[] = {
      {"DBPATH", ".", "/rc-temp", "/user-lang"},
      {":DBPATH", ".", "/rc-temp", "/user-lang"},
      {"::DBTEMP::DBLANG:", "/rc-path", "/tmp", "(none)"},
      {"DBPATH:DBTEMP:DBLANG", ".", "/tmp", "(none)"},
      {"", "/rc-path", "/rc-temp", "/user-lang"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.envignore);
    SetUp();
    write_rc_files("DBPATH /rc-path\nDBTEMP /rc-temp\n", "DBLANG /user-lang\n");
    setenv("ENVIGNORE", r.envignore, 1);
    EXPECT_EQ(value_of("DBPATH"), r.dbpath);
    EXPECT_EQ(value_of("DBTEMP"), r.dbtemp);
    EXPECT_EQ(value_of("DBLANG"), r.dblang);
  }
  /* An ignored name still comes from the process environment. */
  SetUp();
  write_rc_files("DBPATH /rc-path\n", "");
  setenv("ENVIGNORE", "DBPATH", 1);
  setenv("DBPATH", "/proc", 1);
  EXPECT_EQ(value_of("DBPATH"), "/proc");
}

/* Puts the copies of the current environment back as they were. */
class SavedCopies {
 public:
  SavedCopies() { std::memcpy(saved_, CheckGlsEnv()->state->vars, sizeof saved_); }
  ~SavedCopies() { std::memcpy(CheckGlsEnv()->state->vars, saved_, sizeof saved_); }
  SavedCopies(const SavedCopies &) = delete;
  SavedCopies &operator=(const SavedCopies &) = delete;

 private:
  char *saved_[gls_var_count];
};

TEST_F(EnvTest, LocaleCopiesAnswerTheirFourteenNamesInAnyCase) {
  SavedCopies saved;
  new_gls_env &state = *CheckGlsEnv()->state;
  char dbdate[] = "DMY4/";
  char lang[] = "xx_XX.1";
  char db_locale[] = "de_de.8859-1";
  state.vars[gls_var_dbdate] = dbdate;
  state.vars[gls_var_lang] = lang;
  state.vars[gls_var_db_locale] = db_locale;
  state.vars[gls_var_gl_date] = nullptr;

  EXPECT_EQ(value_of("dbdate"), "DMY4/");
  EXPECT_EQ(value_of("Db_Locale"), "de_de.8859-1");
  /* LANG is not one of the copies; its lower-case name is unknown. */
  EXPECT_EQ(ggetglsenv("LANG"), nullptr);
  EXPECT_EQ(ggetenv("lang"), nullptr);
  EXPECT_EQ(gerrno, -5);
  /* The process environment comes first. */
  setenv("DBDATE", "Y4MD-", 1);
  EXPECT_EQ(value_of("DBDATE"), "Y4MD-");
  /* A copy that is not set falls through to the table. */
  EXPECT_EQ(value_of("GL_DATE"), "(none)");
  EXPECT_EQ(gerrno, 0);
}

TEST_F(EnvTest, TableLookUpReportsNoNameAndUnknownAndConvertsEightBitValues) {
  EXPECT_EQ(ggetenv2(nullptr), nullptr);
  EXPECT_EQ(gerrno, -7);
  EXPECT_EQ(ggetenv2("NOT_A_VARIABLE"), nullptr);
  EXPECT_EQ(gerrno, -5);
  EXPECT_EQ(ggetenv2("DBDATE"), nullptr); /* known, no value */
  EXPECT_EQ(gerrno, 0);
  EXPECT_STREQ(ggetenv2("TERM"), "dumb");

  /* An 8859-1 OS under a UTF-8 client. */
  oslib_test::Latin1ToUtf8 cv;
  oslib_test::EnvironmentConverter os_client(&new_gls_env::cv_os_client, cv.get());
  setenv("DBTEMP", "/tmp/caf\xe9", 1);
  setenv("DBPATH", "/plain", 1);
  const char *converted = ggetenv2("DBTEMP");
  EXPECT_STREQ(converted, "/tmp/caf\xc3\xa9");
  EXPECT_EQ(ggetenv2("DBTEMP"), converted); /* the same copy again */
  EXPECT_EQ(ggetenv2("DBPATH"), getenv("DBPATH")); /* 7-bit: the process value itself */
  /* ggetenv itself gives the process value as it is. */
  EXPECT_STREQ(ggetenv("DBTEMP"), "/tmp/caf\xe9");
}

TEST_F(EnvTest, EveryRowIsFoundByNameAndTheProcessEnvironmentIsReadAtEachLookUp) {
  ASSERT_EQ(greadenv(), 0);
  for (int i = 0; Dvz_DVals[i].name != nullptr; ++i) {
    EXPECT_EQ(dvz_env::find_row(Dvz_DVals[i].name), &Dvz_EVars[i]) << Dvz_DVals[i].name;
    /* The name must match whole, not a prefix or an extension of it. */
    EXPECT_EQ(dvz_env::find_row((std::string(Dvz_DVals[i].name) + "X").c_str()), nullptr);
  }
  unsetenv("FET_BUF_SIZE");
  for (const char *size : {"4096", "16384"}) {
    EXPECT_EQ(ggetenv("FET_BUF_SIZE"), nullptr);
    EXPECT_EQ(gerrno, 0); /* known, no value */
    setenv("FET_BUF_SIZE", size, 1);
    EXPECT_STREQ(ggetenv("FET_BUF_SIZE"), size);
    unsetenv("FET_BUF_SIZE");
  }
  EXPECT_EQ(ggetenv("FET_BUF_SIZ"), nullptr);
  EXPECT_EQ(gerrno, -5);
  /* Rows pushed later are seen through the same look-up. */
  ASSERT_EQ(ginsenv("FET_BUF_SIZE", "2048"), 0);
  EXPECT_STREQ(ggetenv("FET_BUF_SIZE"), "2048");
}

TEST_F(EnvTest, ValuesStackAndTheOneBelowCanBeRead) {
  write_rc_files("DBPATH /db\nDBLANG /inst\n", "DBPATH /home\n");
  EXPECT_STREQ(ggetenv2("DBPATH"), "/home");
  EXPECT_STREQ(ggetnenv("DBPATH"), "/db");
  EXPECT_STREQ(ggetnenv("DBLANG"), nullptr); /* replaced "none" */
  EXPECT_EQ(gerrno, 0);
  EXPECT_EQ(ggetnenv("TERM"), nullptr); /* default only */
  EXPECT_EQ(gerrno, -3);
  EXPECT_EQ(ggetnenv("NOT_A_VARIABLE"), nullptr);
  EXPECT_EQ(gerrno, -5);
  EXPECT_EQ(ggetnenv(nullptr), nullptr);
  EXPECT_EQ(gerrno, -7);

  EXPECT_EQ(ginsenv("DBPATH", "/pushed"), 0);
  EXPECT_STREQ(ggetenv2("DBPATH"), "/pushed");
  EXPECT_STREQ(ggetnenv("DBPATH"), "/home");
  EXPECT_EQ(ginsenv("DBPATH", nullptr), 0); /* a "none" on top hides the rest */
  EXPECT_EQ(ggetenv2("DBPATH"), nullptr);
  EXPECT_EQ(ginsenv("NOT_A_VARIABLE", "x"), -5);
  EXPECT_EQ(ginsenv(nullptr, "x"), -7);

  const char *defval = "untouched";
  EXPECT_EQ(gdefenv("DBPATH", &defval), 0);
  EXPECT_STREQ(defval, ".");
  EXPECT_EQ(gdefenv("DBDATE", &defval), 0);
  EXPECT_EQ(defval, nullptr);
  EXPECT_EQ(gdefenv("SLABEL", &defval), -1); /* sent at connect, not in the table */
}

TEST_F(EnvTest, PushWithoutMemoryLeavesTheStackAsItWas) {
  write_rc_files("DBPATH /db\n", "");
  ASSERT_STREQ(ggetenv2("DBPATH"), "/db");
  int rc = 0;
  {
    oslib_test::FailingAlloc no_memory(1);
    rc = ginsenv("DBPATH", "/pushed");
  }
  EXPECT_EQ(rc, -2);
  const evar_t *row = dvz_env::find_row("DBPATH");
  ASSERT_NE(row, nullptr);
  ASSERT_NE(row->current, nullptr);
  EXPECT_STREQ(row->current->value, "/db");
  ASSERT_NE(row->current->prev, nullptr);
  EXPECT_STREQ(row->current->prev->value, ".");
  EXPECT_EQ(row->current->prev->prev, nullptr);
}

/* Every allocation of the table's build fails in turn: the build gives
** -2 and leaves the table as far as it got. Its rows are the built-in
** rows in order, each holding its default (the last one possibly nothing
** yet), and of the rc files' lines, in the order they are read, a first
** part is in the table and the rest is not. */
TEST_F(EnvTest, MemoryShortageWhileBuildingLeavesTheTableAsFarAsBuilt) {
  struct line {
    const char *name;
    const char *value;
  };
  const line lines[] = {
      {"DBTEMP", "/inst-temp"}, {"DBPATH", "/inst-path"}, {"TERM", "vt100"}, {"DBDELIMITER", ";"}};
  int failures = 0;
  for (int fail_at = 1;; ++fail_at) {
    SCOPED_TRACE("allocation " + std::to_string(fail_at) + " fails");
    gFreeEVars();
    write_rc_files("DBTEMP /inst-temp\nDBPATH /inst-path\nTERM vt100\n", "DBDELIMITER ;\n");
    int rc = 0;
    int refused = 0;
    {
      oslib_test::FailingAlloc no_memory(fail_at);
      rc = greadenv();
      refused = no_memory.failures();
    }
    if (refused == 0) {
      EXPECT_EQ(rc, 0);
      for (const line &l : lines)
        EXPECT_STREQ(dvz_env::table_value(l.name), l.value);
      break;
    }
    ++failures;
    EXPECT_EQ(rc, -2);
    int defaults = 0;
    while (Dvz_DVals[defaults].name != nullptr)
      ++defaults;
    ASSERT_LE(Num_EVars, defaults);
    for (int i = 0; i < Num_EVars; ++i) {
      ASSERT_STREQ(Dvz_EVars[i].name, Dvz_DVals[i].name);
      const envelem_t *bottom = Dvz_EVars[i].current;
      while (bottom != nullptr && bottom->prev != nullptr)
        bottom = bottom->prev;
      if (bottom == nullptr) {
        EXPECT_EQ(i, Num_EVars - 1) << "only the last row may lack its default";
        continue;
      }
      const char *defval = Dvz_DVals[i].defval;
      if (defval == nullptr) {
        EXPECT_EQ(bottom->value, nullptr) << Dvz_DVals[i].name;
      } else {
        EXPECT_STREQ(bottom->value, defval) << Dvz_DVals[i].name;
      }
    }
    bool in_table = Num_EVars == defaults;
    for (const line &l : lines) {
      const char *value = Num_EVars == defaults ? dvz_env::table_value(l.name) : nullptr;
      const bool taken = value != nullptr && std::strcmp(value, l.value) == 0;
      EXPECT_TRUE(in_table || !taken) << l.name << " taken after a line that was not";
      in_table = in_table && taken;
    }
  }
  EXPECT_GT(failures, Num_EVars) << "every row's default was made to fail";
  gFreeEVars();
}

TEST_F(EnvTest, CallerRowsFollowTheBuiltInOnes) {
  static const envdef_t extra[] = {
      {"DVZ_TEST_EXTRA", "seven"}, {"DVZ_TEST_NONE", nullptr}, {nullptr, nullptr}};
  gsetudenv(extra);
  write_rc_files("", "DVZ_TEST_NONE from-home\n");
  EXPECT_EQ(value_of("DVZ_TEST_EXTRA"), "seven");
  EXPECT_EQ(value_of("DVZ_TEST_NONE"), "from-home");
  EXPECT_EQ(Num_EVars, 125);
  const char *defval = nullptr;
  EXPECT_EQ(gdefenv("DVZ_TEST_EXTRA", &defval), -1); /* only the built-in rows */
}

TEST_F(EnvTest, NlsModeGivesTheLcVariablesALanguage) {
  struct row {
    const char *installation;
    const char *process_lang; /* nullptr: unset */
    const char *process_lc_ctype;
    const char *process_dbnls;
    const char *lc_ctype; /* expected through ggetenv */
    const char *lc_time;
  };
  const row rows[] = {
      /* NLS mode from the process, nothing set: the built-in language. */
      {"", nullptr, nullptr, "1", "en_US.819", "en_US.819"},
      {"", "fr_FR.819", nullptr, "2", "fr_FR.819", "fr_FR.819"},
      {"LANG de_DE.819\n", nullptr, nullptr, "1", "de_DE.819", "de_DE.819"},
      /* An rc file's own value stays. */
      {"LANG de_DE.819\nLC_CTYPE C\n", nullptr, nullptr, "1", "C", "de_DE.819"},
      /* NLS mode from an rc file. */
      {"DBNLS 1\n", nullptr, nullptr, nullptr, "en_US.819", "en_US.819"},
      /* DBNLS 3 is stored but is no NLS mode. */
      {"DBNLS 3\n", nullptr, nullptr, nullptr, "(none)", "(none)"},
      {"", nullptr, nullptr, "0", "(none)", "(none)"},
      /* A set process value wins; an empty one is replaced in the process. */
      {"", "fr_FR.819", "ja_JP.sjis", "1", "ja_JP.sjis", "fr_FR.819"},
      {"LC_CTYPE C\n", nullptr, "", "1", "C", "en_US.819"},
      {"", "fr_FR.819", "", "1", "fr_FR.819", "fr_FR.819"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.installation) + "|" + (r.process_dbnls ? r.process_dbnls : "-"));
    SetUp();
    write_rc_files(r.installation, "");
    if (r.process_lang != nullptr) setenv("LANG", r.process_lang, 1);
    if (r.process_lc_ctype != nullptr) setenv("LC_CTYPE", r.process_lc_ctype, 1);
    if (r.process_dbnls != nullptr) setenv("DBNLS", r.process_dbnls, 1);
    ASSERT_EQ(greadenv(), 0);
    EXPECT_EQ(value_of("LC_CTYPE"), r.lc_ctype);
    EXPECT_EQ(value_of("LC_TIME"), r.lc_time);
    if (r.process_lc_ctype != nullptr && *r.process_lc_ctype == '\0') {
      EXPECT_STREQ(getenv("LC_CTYPE"), r.lc_ctype);
    }
  }
  SetUp();
  write_rc_files("DBNLS 3\n", "");
  EXPECT_EQ(value_of("DBNLS"), "3");
}

/* The locale initialisation reads the environment while the OS context
** is made, which the first table build asks for: the table is built once
** and the locale initialised once. */
TEST_F(EnvTest, TableBuiltOnceWhileTheLocaleInitialisationReadsTheEnvironment) {
  write_rc_files("DBPATH /db\n", "");
  EXPECT_EQ(oslib_test::in_child([] {
              std::string report;
              ostcb = nullptr;
              oslib_test::forget_locale_initialisation();
              locale_initialisations = 0;
              if (greadenv() != 0) report += "greadenv failed\n";
              if (locale_initialisations != 1) {
                report += std::to_string(locale_initialisations) + " locale initialisations\n";
              }
              if ((CheckGlsEnv()->state->initialised & 1) == 0)
                report += "locale not initialised\n";
              if (table_seen_inside == nullptr || Dvz_EVars != table_seen_inside) {
                report += "a second table\n";
              }
              if (value_seen_inside == nullptr || std::strcmp(value_seen_inside, "/db") != 0) {
                report += "DBPATH inside: " +
                          std::string(value_seen_inside ? value_seen_inside : "(none)") + "\n";
              }
              if (ggetenv("DBPATH") != value_seen_inside) report += "another DBPATH element\n";
              const char *below = ggetnenv("DBPATH");
              if (below == nullptr || std::strcmp(below, ".") != 0) report += "/db pushed twice\n";
              return report;
            }),
            "");
}

/* What a child process started with execv sees of name: the line of
** /usr/bin/env's output, "" when absent. */
std::string child_sees(const std::string &name) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    char *const argv[] = {const_cast<char *>("env"), nullptr};
    execv("/usr/bin/env", argv);
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  std::array<char, 4096> chunk;
  for (ssize_t n; (n = read(fds[0], chunk.data(), chunk.size())) > 0;)
    out.append(chunk.data(), n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "env failed";
  const std::string prefix = name + "=";
  for (size_t at = 0; at < out.size();) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    if (out.compare(at, prefix.size(), prefix) == 0) return out.substr(at, end - at);
    at = end + 1;
  }
  return "";
}

TEST_F(EnvTest, PutVariablesReachChildrenAndOutliveTheTable) {
  std::string value = "/put/" + std::to_string(getpid());
  ASSERT_EQ(gputenv("DBTEMP", value.c_str()), 0);
  value[1] = 'X'; /* our copy changes; the environment's does not */
  ASSERT_EQ(gfeputenv("DBLANG", nullptr), 0);
  EXPECT_STREQ(getenv("DBTEMP"), ("/put/" + std::to_string(getpid())).c_str());
  EXPECT_EQ(value_of("DBTEMP"), "/put/" + std::to_string(getpid()));
  EXPECT_EQ(child_sees("DBTEMP"), "DBTEMP=/put/" + std::to_string(getpid()));
  EXPECT_EQ(child_sees("DBLANG"), "DBLANG=");

  gFreeEVars();
  EXPECT_EQ(Dvz_EVars, nullptr);
  EXPECT_EQ(value_of("DBTEMP"), "/put/" + std::to_string(getpid()));
  EXPECT_EQ(child_sees("DBTEMP"), "DBTEMP=/put/" + std::to_string(getpid()));

  for (const char *bad : {"", "A=B"})
    EXPECT_EQ(gputenv(bad, "x"), -7) << bad;
  EXPECT_EQ(gputenv(nullptr, "x"), -7);
}

TEST_F(EnvTest, LookUpsAfterReleaseRebuildTheTable) {
  write_rc_files("DBPATH /first\n", "");
  EXPECT_EQ(value_of("DBPATH"), "/first");
  EXPECT_STREQ(ggetnenv("DBPATH"), ".");
  gFreeEVars();
  write_rc_files("DBPATH /second\n", "");
  EXPECT_EQ(value_of("DBPATH"), "/second");
  EXPECT_EQ(value_of("TERM"), "dumb");
  gFreeEVars();
  gFreeEVars(); /* nothing left to release */
  EXPECT_STREQ(ggetnenv("DBPATH"), ".");
}

TEST_F(EnvTest, DatabaseNlsSettingsAreStoredCutAndLoaded) {
  EXPECT_EQ(OS_IsDbEnvSet(), 0);
  EXPECT_EQ(OS_setlang("DBNLS", "12345678"), 0);
  EXPECT_STREQ(OS_getlangvar("DBNLS"), "1234");
  EXPECT_EQ(OS_setlang("LC_COLLATE", "C"), 0);
  EXPECT_STREQ(OS_getlangvar("LC_COLLATE"), "C");
  EXPECT_EQ(OS_setlang("LC_COLLATE", "no_such.locale"), -7204);
  EXPECT_STREQ(OS_getlangvar("LC_COLLATE"), "C"); /* kept on failure */
  EXPECT_EQ(OS_setlang("LC_CTYPE", "no_such.locale"), -7206);
  EXPECT_STREQ(OS_getlangvar("LC_CTYPE"), "no_such.locale"); /* stored all the same */
  EXPECT_EQ(OS_IsDbEnvSet(), 1);
  EXPECT_EQ(OS_setlang("LC_CTYPE", std::string(100, 'C').c_str()), -7206);
  EXPECT_EQ(strlen(OS_getlangvar("LC_CTYPE")), 64u);
  EXPECT_EQ(OS_setlang("LANG", "x"), 0);
  EXPECT_EQ(OS_getlangvar("LANG"), nullptr);

  EXPECT_EQ(OS_resetlang(0), 0);
  EXPECT_STREQ(OS_getlangvar("DBNLS"), "0");
  EXPECT_STREQ(OS_getlangvar("LC_CTYPE"), "");
  EXPECT_EQ(OS_IsDbEnvSet(), 0);
  setenv("DBNLS", "2", 1);
  setenv("LC_CTYPE", "C", 1);
  setenv("LC_COLLATE", "no_such.locale", 1);
  EXPECT_EQ(OS_resetlang(0), 0); /* no reload, no load error */
  EXPECT_STREQ(OS_getlangvar("LC_COLLATE"), "no_such.locale");
  setenv("LC_COLLATE", "also_no_such.locale", 1);
  EXPECT_EQ(OS_resetlang(1), -7204); /* changed: loaded anew */
  EXPECT_STREQ(OS_getlangvar("DBNLS"), "2");
  EXPECT_STREQ(OS_getlangvar("LC_CTYPE"), "C");
}

}  // namespace
