/*
** The Dovariza probe on the recording fake of the runtime: the environment
** check, connect and disconnect, the activity statistics (one row per
** FETCH, compared once, whatever the row count does), the test
** transaction, the failure report and the restart through the fake
** framework commands.
**
** Statistics keep their last values for the life of a probe child, so
** every statistics case runs in a forked child of its own, as the monitor
** runs the probe: each starts with the first-call state.
*/
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "dovariza_probe.h"
#include "fake_runtime.h"
#include "probe_settings.h"
#include "sqli_status.h"
#include "test_helpers.h"
#include "testbed_support.h"

namespace {

using montest::ScopedEnv;
using montest::texts_with_id;

/* Runs body in a forked child, as a probe child; the case fails when any
** expectation inside failed (the child's report shows them). */
template <class Body>
void in_probe_child(Body body) {
  EXPECT_EXIT(
      {
        body();
        fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

/* The 0540 text, formatted by the C library with the message's format. */
std::string data_line(const char *name, int32_t value, long long diff) {
  char text[256];
  snprintf(text, sizeof text, "dbms_statistics: Data:  %-40s %8d (Diff: %5lld)", name, value, diff);
  return text;
}

class DovarizaProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    fakert::reset();
    debug_mode = verbose_mode = 0;
    dovariza::dovariza_owner = getuid();
    dovariza::dbname = "dvzdb";
  }
  void TearDown() override { debug_mode = verbose_mode = 0; }

  int statistics() { return dovariza_probe_ops.dbms_statistics(&internal_, &dbms_error_); }
  int transaction(const char *remote) {
    return dovariza_probe_ops.dbms_test_transaction(remote, &internal_, &dbms_error_);
  }

  montest::LoggingScope logging_;
  int internal_ = 0;
  int dbms_error_ = 0;
};

/* ---- db_main ----------------------------------------------------------- */

TEST_F(DovarizaProbe, RecordNamesTheModule) {
  EXPECT_STREQ(dovariza_probe_ops.dbms_service, "dovariza");
  EXPECT_STREQ(dovariza_probe_ops.dbms_usage, "");
  EXPECT_EQ(dovariza_probe_ops.db_main, &db_main);
}

TEST_F(DovarizaProbe, SurplusOperandEndsInUsage) {
  char operand[] = "x";
  char *extra[] = {operand};
  EXPECT_EXIT(db_main("prog", "dvz1", 1, extra), ::testing::ExitedWithCode(1), "");
}

TEST_F(DovarizaProbe, DbMainChecksTheEnvironmentInOrder) {
  using V = std::optional<std::string>;
  struct Case {
    V login, server, onconfig, owner;
    int result;
    std::string id; /* the one message, or "" */
    std::string text;
  } cases[] = {
      {"db", "srv", "cfg", std::nullopt, 1, "", ""},
      {"db", "srv", "cfg", "1234", 1, "", ""},
      {"db", "srv", "cfg", "0", 1, "", ""},
      {std::nullopt, "srv", "cfg", "1", 0, "2510", "Environment variable DB_LOGIN not set"},
      {"db", std::nullopt, std::nullopt, "1", 0, "2520",
       "Environment variable DOVARIZASERVER not set"},
      {"db", "srv", std::nullopt, "1", 0, "2530", "Environment variable ONCONFIG not set"},
      {"db", "srv", "cfg", "12x", 0, "2550",
       "Environment variable DOVARIZAOWNER is not a numeric user id: '12x'"},
      {"db", "srv", "cfg", "", 0, "2550",
       "Environment variable DOVARIZAOWNER is not a numeric user id: ''"},
      {"db", "srv", "cfg", "-1", 0, "2550",
       "Environment variable DOVARIZAOWNER is not a numeric user id: '-1'"},
      {"db", "srv", "cfg", "4294967296", 0, "2550",
       "Environment variable DOVARIZAOWNER is not a numeric user id: '4294967296'"},
      {"db", "srv", "cfg", " 12", 0, "2550",
       "Environment variable DOVARIZAOWNER is not a numeric user id: ' 12'"},
  };
  const char *ids[] = {"2510", "2520", "2530", "2550"};
  for (const Case &c : cases) {
    montest::LoggingScope logging;
    ScopedEnv login("DB_LOGIN", c.login), server("DOVARIZASERVER", c.server),
        onconfig("ONCONFIG", c.onconfig), owner("DOVARIZAOWNER", c.owner);
    dovariza::onconfig = nullptr;
    dovariza::dovariza_owner = 77;
    std::string label = c.id.empty() ? "complete" : c.text;
    EXPECT_EQ(db_main("prog", "dvz1", 0, nullptr), c.result) << label;
    EXPECT_EQ(montest::recorded().messages.size(), c.id.empty() ? 0u : 1u) << label;
    for (const char *id : ids) {
      std::vector<std::string> expected;
      if (c.id == id) expected.push_back(c.text);
      EXPECT_EQ(texts_with_id(id), expected) << label;
    }
    if (c.id == "2520") {
      EXPECT_EQ(dovariza::onconfig, nullptr) << "ONCONFIG was read";
    }
    if (c.result == 1) {
      ASSERT_NE(getenv("DOVARIZASERVER"), nullptr);
      EXPECT_STREQ(getenv("DOVARIZASERVER"), "srv");
      uid_t expected = c.owner ? static_cast<uid_t>(std::stoul(*c.owner)) : getuid();
      EXPECT_EQ(dovariza::dovariza_owner, expected) << label;
      EXPECT_STREQ(dovariza::onconfig, "cfg");
    }
  }
}

TEST_F(DovarizaProbe, LongValuesAreCarriedWhole) {
  const std::string login(5000, 'd'), config(5000, 'c'), server(5000, 's');
  ScopedEnv l("DB_LOGIN", login), s("DOVARIZASERVER", server), o("ONCONFIG", config),
      w("DOVARIZAOWNER", std::nullopt);
  ASSERT_EQ(db_main("prog", "dvz1", 0, nullptr), 1);
  EXPECT_EQ(getenv("DOVARIZASERVER"), server);
  debug_mode = 1;
  ASSERT_EQ(dovariza_probe_ops.dbms_connect(nullptr, &internal_, &dbms_error_), 1);
  EXPECT_EQ(fakert::calls_named("connect_open"),
            std::vector<std::string> {"connect_open 1 0 '" + login + "' null null 0"});
  /* The log line is cut by the log's own limit, not by the probe. */
  std::vector<std::string> logged = texts_with_id("0520");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].rfind("connecting to database... '" + login.substr(0, 3000), 0), 0u);
}

/* ---- connect and disconnect -------------------------------------------- */

TEST_F(DovarizaProbe, ConnectCountsSessionsAndReportsFailures) {
  debug_mode = 1;
  int before = dbms_session_id;
  ASSERT_EQ(dovariza_probe_ops.dbms_connect(nullptr, &internal_, &dbms_error_), 1);
  EXPECT_EQ(dbms_session_id, before + 1);
  EXPECT_EQ(fakert::fake().journal,
            std::vector<std::string> {"connect_open 1 0 'dvzdb' null null 0"});
  EXPECT_EQ(texts_with_id("0510"), std::vector<std::string> {"connecting to database... 'dvzdb' #" +
                                                             std::to_string(before + 1)});
  EXPECT_EQ(texts_with_id("0520"), std::vector<std::string> {"connecting to database... 'dvzdb'"});
  EXPECT_EQ(dbms_error_, 0);

  fakert::fake().codes["connect_open"] = {-329};
  EXPECT_EQ(dovariza_probe_ops.dbms_connect("remotehost", &internal_, &dbms_error_), 0);
  EXPECT_EQ(dbms_session_id, before + 2);
  EXPECT_EQ(dbms_error_, 329);
  EXPECT_EQ(internal_, 0);
  EXPECT_EQ(texts_with_id("2540"),
            std::vector<std::string> {"DBMS Error: connecting to database: -329 catalog text"});
}

TEST_F(DovarizaProbe, RefusedSetuidFailsTheConnectWithoutTheRuntime) {
  in_probe_child([&] {
    /* Drop root first (CI runs as root): switching to uid 0 is then refused. */
    if (getuid() == 0) {
      ASSERT_EQ(setuid(65534), 0);
    }
    dovariza::dovariza_owner = 0;
    EXPECT_EQ(dovariza_probe_ops.dbms_connect(nullptr, &internal_, &dbms_error_), 0);
    EXPECT_EQ(dbms_error_, 951);
    EXPECT_TRUE(fakert::fake().journal.empty());
    EXPECT_EQ(texts_with_id("2540"),
              std::vector<std::string> {"DBMS Error: connecting to database: -951 setuid(0) "
                                        "failed: " +
                                        std::string(strerror(EPERM))});
  });
}

TEST_F(DovarizaProbe, DisconnectOutcomes) {
  struct Case {
    int32_t code;
    int result;
    int dbms_error;
    std::vector<std::string> journal;
  } cases[] = {
      {0, 1, 0, {"connect_close 3 null 0 0"}},
      {-6000, 1, 0, {"connect_close 3 null 0 0"}},
      {-1803,
       0,
       1803,
       {"connect_close 3 null 0 0", "rgetlmsg -1803 1024", "connect_close 3 null 2 1"}},
      {-1800,
       0,
       1800,
       {"connect_close 3 null 0 0", "rgetlmsg -1800 1024", "connect_close 3 null 2 1"}},
  };
  for (const Case &c : cases) {
    montest::LoggingScope logging;
    fakert::reset();
    debug_mode = 1;
    dbms_error_ = 0;
    fakert::fake().codes["connect_close"] = {c.code};
    EXPECT_EQ(dovariza_probe_ops.dbms_disconnect(&internal_, &dbms_error_), c.result) << c.code;
    EXPECT_EQ(dbms_error_, c.dbms_error) << c.code;
    EXPECT_EQ(fakert::fake().journal, c.journal) << c.code;
    EXPECT_EQ(texts_with_id("0530"), std::vector<std::string> {"disconnecting from database"});
    std::vector<std::string> failures;
    if (c.result == 0)
      failures.push_back("DBMS Error: disconnecting from database: " + std::to_string(c.code) +
                         " catalog text");
    EXPECT_EQ(texts_with_id("2540"), failures) << c.code;
    /* The abort keeps the failure's status. */
    if (c.result == 0) {
      EXPECT_EQ(sqlca.sqlcode, c.code);
    }
  }
}

TEST_F(DovarizaProbe, CatalogTextEndsAtItsReportedLengthWithinTheBuffer) {
  struct Case {
    std::string text;
    int32_t length;
    bool fails;
    std::string expected;
  } cases[] = {
      {"table not found", -1, false, "table not found"},
      {"table not found", 5, false, "table"},
      {std::string(3000, 'm'), 5000, false, std::string(1023, 'm')},
      {"ignored", 0, true, ""},
  };
  for (const Case &c : cases) {
    montest::LoggingScope logging;
    fakert::reset();
    fakert::fake().catalog_text = c.text;
    fakert::fake().catalog_length = c.length;
    fakert::fake().catalog_fails = c.fails;
    fakert::fake().codes["connect_close"] = {-1803};
    dovariza_probe_ops.dbms_disconnect(&internal_, &dbms_error_);
    EXPECT_EQ(
        texts_with_id("2540"),
        std::vector<std::string> {"DBMS Error: disconnecting from database: -1803 " + c.expected})
        << c.length;
  }
}

/* ---- statistics -------------------------------------------------------- */

TEST_F(DovarizaProbe, OneStatisticsCallMakesTheSpecifiedCalls) {
  in_probe_child([&] {
    fakert::fake().rows = {{"dskreads", 5}, {"bufreads", 7}};
    EXPECT_EQ(statistics(), 1);
    const std::string locate = "locate 1 's1' 0x300";
    const std::string fetch = "fetch 1 h null sqlda{2,2,'';114/65/null;102/4/null} null {0,1,0}";
    EXPECT_EQ(fakert::fake().journal,
              (std::vector<std::string> {
                  "locate 1 's1' 0x200",
                  "declare 1 h 's1' [' SELECT name , value FROM sysprofile s'] null null 0 null "
                  "null 2 0 0",
                  locate, "open 1 h null null null 0 0", locate, fetch, locate, fetch, locate,
                  fetch, locate, "close 1 h"}));
  });
}

TEST_F(DovarizaProbe, GrowthAgainstTheLastValuesDecidesActivity) {
  in_probe_child([&] {
    debug_mode = verbose_mode = 1;
    auto call = [&](std::vector<fakert::row> rows) {
      montest::recorded().messages.clear();
      fakert::reset();
      fakert::fake().rows = std::move(rows);
      return statistics();
    };
    /* First call: every positive watched counter is growth. */
    EXPECT_EQ(call({{"dskreads", 5}, {"bufreads", 0}, {"nosuchname", 9}, {"isreads", 3}}), 1);
    EXPECT_EQ(texts_with_id("0540"),
              (std::vector<std::string> {data_line("dskreads", 5, 5), data_line("isreads", 3, 3)}));
    EXPECT_EQ(texts_with_id("1520"),
              std::vector<std::string> {"dbms_statistics: Starting statistics lookup..."});
    EXPECT_EQ(texts_with_id("1530"),
              std::vector<std::string> {"dbms_statistics: Done with statistics check - 1"});
    /* Flat: nothing grew. */
    EXPECT_EQ(call({{"dskreads", 5}, {"isreads", 3}}), 0);
    EXPECT_TRUE(texts_with_id("0540").empty());
    EXPECT_EQ(texts_with_id("1530"),
              std::vector<std::string> {"dbms_statistics: Done with statistics check - 0"});
    /* Fallen: no activity, and the lower value is the new reference. */
    EXPECT_EQ(call({{"dskreads", 2}}), 0);
    EXPECT_EQ(call({{"dskreads", 3}}), 1);
    EXPECT_EQ(texts_with_id("0540"), std::vector<std::string> {data_line("dskreads", 3, 1)});
    /* Unwatched names, and watched ones spelt otherwise, never count. */
    EXPECT_EQ(call({{"nosuchname", 1000},
                    {"dskreads ", 1000},
                    {" dskreads", 1000},
                    {"DSKREADS", 1000},
                    {"dskread", 1000}}),
              0);
    EXPECT_EQ(call({{"dskreads", 4}}), 1);
    EXPECT_EQ(texts_with_id("0540"), std::vector<std::string> {data_line("dskreads", 4, 1)});
  });
}

TEST_F(DovarizaProbe, EveryRowIsComparedOnceWhateverTheRowCountDoes) {
  const char *names[] = {"dskreads", "bufreads", "isreads", "lockreqs",  "seqscans",
                         "memsorts", "flushes",  "btradat", "pagereads", "disksorts"};
  /* Row i: names[i % 10] with value i + 1. The first ten grow by their
  ** value, every later one by 10 over the previous row of its name. */
  std::vector<fakert::row> rows;
  std::vector<std::string> expected;
  for (int i = 0; i < 130; ++i) {
    rows.push_back({names[i % 10], i + 1});
    expected.push_back(data_line(names[i % 10], i + 1, i < 10 ? i + 1 : 10));
  }
  for (fakert::row_count_pattern pattern :
       {fakert::row_count_pattern::zero, fakert::row_count_pattern::per_batch,
        fakert::row_count_pattern::cumulative, fakert::row_count_pattern::falling}) {
    in_probe_child([&] {
      debug_mode = 1;
      fakert::fake().rows = rows;
      fakert::fake().pattern = pattern;
      EXPECT_EQ(statistics(), 1);
      EXPECT_EQ(texts_with_id("0540"), expected) << static_cast<int>(pattern);
      EXPECT_EQ(fakert::calls_named("fetch").size(), 131u);
    });
  }
}

TEST_F(DovarizaProbe, ExtremeValuesDoNotOverflowTheGrowth) {
  in_probe_child([&] {
    debug_mode = 1;
    auto call = [&](int32_t value) {
      montest::recorded().messages.clear();
      fakert::reset();
      fakert::fake().rows = {{"dskreads", value}};
      return statistics();
    };
    EXPECT_EQ(call(5), 1);
    EXPECT_EQ(call(INT32_MIN), 0); /* the NULL form after 5 */
    EXPECT_EQ(call(INT32_MAX), 1);
    EXPECT_EQ(texts_with_id("0540"),
              std::vector<std::string> {data_line("dskreads", INT32_MAX, 4294967295LL)});
    EXPECT_EQ(call(INT32_MIN), 0);
  });
}

TEST_F(DovarizaProbe, FailedCursorStepsReportTheirContext) {
  struct Case {
    const char *call;
    int32_t code;
    const char *context;
    bool closes;
  } cases[] = {
      {"declare", -201, "declaring cursor", false},
      {"open", -206, "opening cursor", false},
      {"fetch", -244, "fetching data", false},
      {"close", -400, "closing cursor", true},
  };
  for (const Case &c : cases) {
    in_probe_child([&] {
      fakert::fake().rows = {{"dskreads", 5}, {"bufreads", 7}};
      /* A failing FETCH fails after one row was delivered. */
      if (std::string(c.call) == "fetch")
        fakert::fake().codes["fetch"] = {0, c.code};
      else
        fakert::fake().codes[c.call] = {c.code};
      EXPECT_EQ(statistics(), 0) << c.call;
      EXPECT_EQ(dbms_error_, -c.code);
      EXPECT_EQ(texts_with_id("2540"),
                std::vector<std::string> {"DBMS Error: " + std::string(c.context) + ": " +
                                          std::to_string(c.code) + " catalog text"});
      EXPECT_EQ(fakert::calls_named("close").size(), c.closes ? 1u : 0u) << c.call;
      /* The next call starts over: declare, open, fetch to the end, close. */
      fakert::reset();
      fakert::fake().rows = {{"dskreads", 6}};
      dbms_error_ = 0;
      EXPECT_EQ(statistics(), 1) << c.call;
      EXPECT_EQ(fakert::calls_named("declare").size(), 1u);
      EXPECT_EQ(fakert::calls_named("open").size(), 1u);
      EXPECT_EQ(fakert::calls_named("close").size(), 1u);
      EXPECT_EQ(dbms_error_, 0);
    });
  }
}

/* ---- test transaction -------------------------------------------------- */

TEST_F(DovarizaProbe, TestTransactionRunsItsStatementsOnEachTable) {
  for (const char *table : {"HA_DBMS_LOC", "HA_DBMS_REM"}) {
    montest::LoggingScope logging;
    fakert::reset();
    debug_mode = 1;
    const char *remote = std::string(table) == "HA_DBMS_REM" ? "dbhost" : nullptr;
    const std::string t = table;
    EXPECT_EQ(transaction(remote), 1);
    auto stmt = [](const std::string &rec, const std::string &text, int kind) {
      return "stmt 1 " + rec + " ['" + text + "'] 0 null null null null null " +
             std::to_string(kind) + " 0 0";
    };
    EXPECT_EQ(fakert::fake().journal,
              (std::vector<std::string> {
                  stmt("rec0", " DROP TABLE " + t, -1),
                  stmt("rec1", " CREATE TABLE " + t + " ( CHECK_VALUE INTEGER )", -1),
                  stmt("rec2", " INSERT INTO " + t + " ( CHECK_VALUE ) VALUES ( 1 )", 6),
                  "commit",
                  stmt("rec3", " UPDATE " + t + " SET CHECK_VALUE = 2", 33),
                  "commit",
                  stmt("rec4", " DROP TABLE " + t, -1),
              }))
        << table;
    std::vector<std::string> debug;
    for (const char *id : {"0550", "0560", "0570", "0580", "0590", "0600"})
      for (const std::string &text : texts_with_id(id))
        debug.push_back(text);
    EXPECT_EQ(debug, (std::vector<std::string> {
                         "dbms_test_transaction: Starting test transaction...",
                         "dbms_test_transaction: Dropping test table...",
                         "dbms_test_transaction: Creating test table...",
                         "dbms_test_transaction: Inserting into test table...",
                         "dbms_test_transaction: Updating test table...",
                         "dbms_test_transaction: Dropping test table...",
                     }));
  }
}

TEST_F(DovarizaProbe, TestTransactionRecordsAreOnePerCallSite) {
  /* Both tables in one process: ten distinct statement records. */
  EXPECT_EQ(transaction(nullptr), 1);
  EXPECT_EQ(transaction("dbhost"), 1);
  std::vector<std::string> records;
  for (const std::string &line : fakert::calls_named("stmt"))
    records.push_back(line.substr(7, line.find(' ', 7) - 7));
  EXPECT_EQ(records, (std::vector<std::string> {"rec0", "rec1", "rec2", "rec3", "rec4", "rec5",
                                                "rec6", "rec7", "rec8", "rec9"}));
}

TEST_F(DovarizaProbe, TestTransactionFailuresStopAtTheirStep) {
  struct Case {
    std::vector<int32_t> stmt_codes; /* per sqli_stmt, in order */
    std::vector<int32_t> commit_codes;
    int result;
    std::string failure; /* the 2540 text, or "" */
    size_t statements; /* sqli_stmt calls made */
    size_t commits;
  } cases[] = {
      {{-206}, {}, 1, "", 5, 2},
      {{-310}, {}, 0, "DBMS Error: dropping test table: -310 catalog text", 1, 0},
      {{0, -310}, {}, 0, "DBMS Error: creating test table: -310 catalog text", 2, 0},
      {{0, 0, -271}, {}, 0, "DBMS Error: test table insert: -271 catalog text", 3, 0},
      {{0, 0, 0, -346}, {}, 0, "DBMS Error: update test table: -346 catalog text", 4, 1},
      {{0, 0, 0, 0, -206}, {}, 0, "DBMS Error: drop test table: -206 catalog text", 5, 2},
      {{}, {-255, -255}, 1, "", 5, 2},
  };
  for (const Case &c : cases) {
    montest::LoggingScope logging;
    fakert::reset();
    dbms_error_ = 0;
    fakert::fake().codes["stmt"] = {c.stmt_codes.begin(), c.stmt_codes.end()};
    fakert::fake().codes["commit"] = {c.commit_codes.begin(), c.commit_codes.end()};
    EXPECT_EQ(transaction(nullptr), c.result) << c.failure;
    EXPECT_EQ(fakert::calls_named("stmt").size(), c.statements) << c.failure;
    EXPECT_EQ(fakert::calls_named("commit").size(), c.commits) << c.failure;
    std::vector<std::string> failures;
    if (!c.failure.empty()) failures.push_back(c.failure);
    EXPECT_EQ(texts_with_id("2540"), failures);
    EXPECT_EQ(dbms_error_, c.result ? 0 : -c.stmt_codes.back());
  }
}

/* ---- restart ----------------------------------------------------------- */

class DovarizaRestart : public DovarizaProbe {
 protected:
  void SetUp() override {
    DovarizaProbe::SetUp();
    std::filesystem::create_directory(dir_.file("fake"));
    const char *path = getenv("PATH");
    path_.emplace("PATH",
                  testbed::bin_dir() + "/../fake_commands:" + (path ? path : "/usr/bin:/bin"));
    journal_.emplace("FM_FAKE_JOURNAL", dir_.file("commands"));
    fake_dir_.emplace("FM_FAKE_DIR", dir_.file("fake"));
    the_pid = 4242;
  }
  std::vector<std::string> commands() const {
    return montest::lines_of(dvz_test::read_file(dir_.file("commands")));
  }
  dvz_test::TempDir dir_;
  std::optional<ScopedEnv> path_, journal_, fake_dir_;
};

TEST_F(DovarizaRestart, RemoteMonitorOnlyLogs) {
  dovariza::onconfig = "onconfig.dvz1";
  dovariza_probe_ops.ha_db_restart("dbhost");
  EXPECT_EQ(texts_with_id("1510"),
            std::vector<std::string> {"ha_db_restart ignored - monitor is remote"});
  EXPECT_TRUE(commands().empty());
  EXPECT_TRUE(texts_with_id("4510").empty());
}

TEST_F(DovarizaRestart, LocalRestartRunsTheCommandAndLogsItsFailure) {
  struct Case {
    const char *onconfig;
    const char *rc; /* dovariza_kelpo's exit status, or null */
    const char *signal; /* a signal that kills it, or null */
    bool ignore_sigchld;
    bool runs;
    bool fails;
  } cases[] = {
      {"onconfig.dvz1", nullptr, nullptr, false, true, false},
      {"/etc/dvz/onconfig.dvz1", nullptr, nullptr, false, true, false},
      {"onconfig.dvz1", "1", nullptr, false, true, true},
      {"onconfig.dvz1", nullptr, "KILL", false, true, true},
      {"a;b", nullptr, nullptr, false, false, true},
      {"a b", nullptr, nullptr, false, false, true},
      {"$(touch x)", nullptr, nullptr, false, false, true},
      {"onconfig.dvz1", nullptr, nullptr, true, true, false},
      {"onconfig.dvz1", "3", nullptr, true, true, true},
  };
  for (const Case &c : cases) {
    montest::LoggingScope logging;
    std::filesystem::remove(dir_.file("commands"));
    std::filesystem::remove(dir_.file("fake/dovariza_kelpo.rc"));
    std::filesystem::remove(dir_.file("fake/dovariza_kelpo.signal"));
    if (c.rc) dir_.write("fake/dovariza_kelpo.rc", c.rc);
    if (c.signal) dir_.write("fake/dovariza_kelpo.signal", c.signal);
    dovariza::onconfig = c.onconfig;
    struct sigaction ignore {
    }, saved {};
    ignore.sa_handler = SIG_IGN;
    if (c.ignore_sigchld) sigaction(SIGCHLD, &ignore, &saved);
    dovariza_probe_ops.ha_db_restart(nullptr);
    if (c.ignore_sigchld) {
      struct sigaction now {};
      sigaction(SIGCHLD, &saved, &now);
      EXPECT_EQ(now.sa_handler, SIG_IGN) << "the disposition is put back";
    }
    std::string label = std::string(c.onconfig) + (c.rc ? " rc " : "") + (c.rc ? c.rc : "") +
                        (c.signal ? " signal" : "") + (c.ignore_sigchld ? " SIGCHLD ignored" : "");
    std::vector<std::string> ran;
    if (c.runs) ran.push_back(std::string("dovariza_kelpo 4242 ") + c.onconfig);
    EXPECT_EQ(commands(), ran) << label;
    std::vector<std::string> failed;
    if (c.fails) failed.push_back(std::string("dovariza_kelpo 4242 ") + c.onconfig + " failed");
    EXPECT_EQ(texts_with_id("4510"), failed) << label;
  }
  EXPECT_FALSE(std::filesystem::exists("x"));
}

TEST_F(DovarizaRestart, LongOnconfigRunsWhole) {
  const std::string config(5000, 'c');
  dovariza::onconfig = config.c_str();
  dovariza_probe_ops.ha_db_restart(nullptr);
  EXPECT_EQ(commands(), std::vector<std::string> {"dovariza_kelpo 4242 " + config});
  EXPECT_TRUE(texts_with_id("4510").empty());
}

}  // namespace
