/*
** Monitor logging: syslog identity, option, facility and mask as the sink
** sees them; the dated file lines, their gating, the suppression of
** recurring rule messages and %m in both outputs.
*/
#include <regex.h>
#include <sys/wait.h>
#include <syslog.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "monitor_log.h"
#include "probe_interface.h"
#include "test_helpers.h"

using namespace montest;

namespace {

bool ere_matches(const std::string &pattern, const std::string &text) {
  regex_t re;
  if (regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
  bool found = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return found;
}

class MonitorLog : public ::testing::Test {
 protected:
  LoggingScope scope_;
  dvz_test::TempDir dir_;
  std::string log_path_ = dir_.file("hadbms.log");

  void start(int debug = 0, int verbose = 0) {
    log_startup("/x/y/fmt", "dvz1", "lh1", debug, verbose, LOG_NOTICE, "2000", nullptr);
    open_hadbms_log("dovariza", log_path_.c_str());
  }
  std::vector<std::string> file_lines() { return lines_of(dvz_test::read_file(log_path_)); }
};

TEST_F(MonitorLog, IdentityOptionAndFileLineOfOneMessage) {
  start();
  recorded() = sink_record {};
  hasyslog(LOG_ERR, "4100", "too many actions - list is full!");

  ASSERT_EQ(recorded().messages.size(), 1u);
  const sink_message &m = recorded().messages[0];
  EXPECT_EQ(m.ident, "ID[ZEMKcluster.ha.fmt.4100]: lh1:dvz1");
  EXPECT_EQ(m.option, LOG_NOWAIT);
  EXPECT_EQ(m.facility, LOG_LOCAL0);
  EXPECT_EQ(m.mask, 63);
  EXPECT_EQ(m.level, LOG_ERR);
  EXPECT_EQ(m.text, "too many actions - list is full!");
  EXPECT_EQ(recorded().opens, 1);
  EXPECT_EQ(recorded().closes, 1);

  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), 1u); /* "starting up" went before the file was open */
  EXPECT_TRUE(ere_matches(
      "^[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "
      "ID\\[ZEMKcluster\\.ha\\.fmt\\.4100\\]: lh1:dvz1: too many actions - list is full!$",
      lines[0]))
      << lines[0];
}

TEST_F(MonitorLog, SyslogIsOpenedAndClosedAroundEveryMessage) {
  start();
  recorded() = sink_record {};
  for (const char *id : {"4010", "4020", "4030"})
    hasyslog(LOG_ERR, id, "%s", "x");
  ASSERT_EQ(recorded().messages.size(), 3u);
  EXPECT_EQ(recorded().opens, 3);
  EXPECT_EQ(recorded().closes, 3);
  EXPECT_EQ(recorded().messages[2].ident, "ID[ZEMKcluster.ha.fmt.4030]: lh1:dvz1");
}

TEST_F(MonitorLog, StartupLogsStartingUpUnderTheTagOfHaSlogtag) {
  ScopedEnv tag("HA_SLOGTAG", "t01");
  log_startup("fmt", "dvz1", nullptr, 0, 0, LOG_NOTICE, "2000", nullptr);
  ASSERT_EQ(recorded().messages.size(), 1u);
  EXPECT_EQ(recorded().messages[0].ident, "ID[t01.fmt.2000]: :dvz1");
  EXPECT_EQ(recorded().messages[0].level, LOG_NOTICE);
  EXPECT_EQ(recorded().messages[0].text, "starting up");
  EXPECT_STREQ(log_syslog_id(), "t01.fmt");

  /* Every later message carries the tag too, with the base name of a path. */
  log_startup("/x/y/fmt", "dvz1", "lh1", 0, 0, LOG_NOTICE, "2000", nullptr);
  hasyslog(LOG_ERR, "4100", "too many actions - list is full!");
  EXPECT_EQ(recorded().messages.back().ident, "ID[t01.fmt.4100]: lh1:dvz1");
}

TEST_F(MonitorLog, MaskFollowsDebugAndVerbose) {
  struct Case {
    int debug, verbose, mask;
  } cases[] = {{0, 0, 63}, {1, 0, 191}, {0, 1, 127}, {1, 1, 255}};
  for (const Case &c : cases) {
    log_startup("fmt", "dvz1", "lh1", c.debug, c.verbose, LOG_NOTICE, "2000", nullptr);
    EXPECT_EQ(log_syslog_mask(), c.mask) << c.debug << c.verbose;
    EXPECT_EQ(recorded().messages.back().mask, c.mask);
  }
}

TEST_F(MonitorLog, FacilityComesFromHaSlogfacility) {
  struct Case {
    std::optional<std::string> value;
    int facility;
  } cases[] = {{"LOG_DAEMON", 24}, {"LOG_CRON", 72},    {"LOG_LOCAL7", 184}, {"LOG_KERN", 0},
               {"daemon", 128},    {"log_daemon", 128}, {"", 128},           {std::nullopt, 128}};
  for (const Case &c : cases) {
    ScopedEnv facility("HA_SLOGFACILITY", c.value);
    log_startup("fmt", "dvz1", "lh1", 0, 0, LOG_NOTICE, "2000", nullptr);
    EXPECT_EQ(log_syslog_facility(), c.facility) << c.value.value_or("(unset)");
    EXPECT_EQ(recorded().messages.back().facility, c.facility);
  }
  EXPECT_EQ(decode_syslog_facility(nullptr), -1);
  EXPECT_EQ(decode_syslog_facility(""), -1);
}

TEST_F(MonitorLog, FileGetsDebugLinesOnlyInDebugModeAndNever2050) {
  start(/*debug=*/0);
  hasyslog(LOG_DEBUG, "0010", "MT: going into sleep for %ds", 5);
  hasyslog(LOG_INFO, "1010", "Breaking DB connection for connectivity probe");
  hasyslog(LOG_ERR, "2050", "db_evaluate: --- %s ---", "rule");
  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("ID[ZEMKcluster.ha.fmt.1010]"), std::string::npos);
  EXPECT_EQ(recorded().messages.size(), 4u); /* syslog saw all three (and starting up) */

  start(/*debug=*/1);
  hasyslog(LOG_DEBUG, "0010", "MT: going into sleep for %ds", 5);
  lines = file_lines(); /* the file was still open for "starting up" */
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("fmt.2000]: lh1:dvz1: starting up"), std::string::npos);
  EXPECT_NE(lines[2].find("fmt.0010]: lh1:dvz1: MT: going into sleep for 5s"), std::string::npos);
}

TEST_F(MonitorLog, HaDbmsLogDisableStopsOnlyTheFile) {
  struct Case {
    const char *value;
    bool file;
  } cases[] = {{"1", false}, {"7", false}, {"0", true}, {"abc", true}, {"", true}};
  for (const Case &c : cases) {
    ScopedEnv disable("HA_DBMS_LOG_DISABLE", c.value);
    std::remove(log_path_.c_str());
    recorded() = sink_record {};
    start();
    hasyslog(LOG_ERR, "4080", "%s", "message");
    EXPECT_EQ(file_lines().size(), c.file ? 1u : 0u) << c.value;
    EXPECT_EQ(recorded().messages.size(), 2u) << c.value;
  }
}

TEST_F(MonitorLog, OnlyTheThreeKnownServicesHaveALogFile) {
  log_startup("fmt", "dvz1", "lh1", 0, 0, LOG_NOTICE, "2000", nullptr);
  for (const char *service : {"mysql", "", "Dovariza"}) {
    open_hadbms_log(service);
    EXPECT_EQ(log_file_stream(), nullptr) << service;
  }
}

TEST_F(MonitorLog, DebugModeSaysWhetherTheFileOpened) {
  log_startup("fmt", "dvz1", "lh1", 1, 0, LOG_NOTICE, "2000", nullptr);
  testing::internal::CaptureStdout();
  open_hadbms_log("dovariza", log_path_.c_str());
  std::string missing = dir_.file("no/such/dir.log");
  open_hadbms_log("dovariza", missing.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "opened log file " + log_path_ + "\nCould not open log file " + missing + "\n");
  EXPECT_EQ(log_file_stream(), nullptr);
}

TEST_F(MonitorLog, RecurringActionMessagesAreWrittenOnceInARow) {
  start();
  for (int i = 0; i < 10; ++i)
    log_action_message("2050", "Connected to database");
  log_action_message("2050", "RDBMS appears to be ok");
  log_action_message("2050", "RDBMS appears to be ok");
  log_action_message("2050", "Connected to database");
  log_action_message("2050", "database restarted");
  log_action_message("2050", "Connected to database");
  log_action_message("2050", "disconnected from database");
  log_action_message("2050", "disconnected from database");

  std::vector<std::string> lines = file_lines();
  std::vector<std::string> texts;
  for (const std::string &line : lines) {
    EXPECT_TRUE(
        ere_matches("^[A-Z][a-z]{2} [0-9]{2} [0-9:]{8} ID\\[ZEMKcluster\\.ha\\.fmt\\.2050\\]: "
                    ":dvz1: ",
                    line))
        << line;
    texts.push_back(line.substr(line.find(":dvz1: ") + 7));
  }
  EXPECT_EQ(texts, (std::vector<std::string> {"Connected to database", "RDBMS appears to be ok",
                                              "database restarted", "Connected to database",
                                              "disconnected from database"}));
  EXPECT_TRUE(recorded().messages.size() == 1u); /* file only: syslog saw starting up */
}

TEST_F(MonitorLog, PercentMShowsTheCallersErrnoInSyslogAndFile) {
  start();
  errno = ENOENT;
  hasyslog(LOG_ERR, "4080", "error reading action file '%s': %m", "/x/a%sb");
  EXPECT_EQ(errno, ENOENT);
  const std::string expected = "error reading action file '/x/a%sb': No such file or directory";
  EXPECT_EQ(recorded().messages.back().text, expected);
  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("lh1:dvz1: " + expected), std::string::npos) << lines[0];
}

TEST_F(MonitorLog, FormatEndingInNewlineLeavesAnEmptyLine) {
  start();
  hasyslog(LOG_ERR, "4180", "%s: %s\n", "fmt", "not enough parameters");
  std::string text = dvz_test::read_file(log_path_);
  const std::string tail = ": lh1:dvz1: fmt: not enough parameters\n\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(MonitorLog, ShutdownLogs2170AndClosesTheFile) {
  start();
  EXPECT_EQ(log_shutdown(), 1);
  EXPECT_EQ(log_file_stream(), nullptr);
  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("fmt.2170]: lh1:dvz1: shutting down"), std::string::npos);
  EXPECT_EQ(recorded().messages.back().level, LOG_NOTICE);
  EXPECT_EQ(recorded().closes, recorded().opens + 1);
}

/* Framework commands (and a database one of them restarts) must not
** inherit the log file: a shell started the way system() does sees no
** descriptor of it. */
TEST_F(MonitorLog, CommandsDoNotInheritTheLogFile) {
  start();
  ASSERT_NE(log_file_stream(), nullptr);
  std::string command = "test ! -e /proc/self/fd/" + std::to_string(fileno(log_file_stream()));
  int status = system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the shell holds the log";
}

TEST_F(MonitorLog, UnknownProgramPathsStillGiveAnIdentity) {
  log_startup("fmt", nullptr, nullptr, 0, 0, LOG_NOTICE, "2000", nullptr);
  EXPECT_EQ(recorded().messages.back().ident, "ID[ZEMKcluster.ha.fmt.2000]: :");
  std::string long_tag(2000, 't');
  ScopedEnv tag("HA_SLOGTAG", long_tag);
  log_startup("fmt", "dvz1", "lh1", 0, 0, LOG_NOTICE, "2000", nullptr);
  EXPECT_EQ(recorded().messages.back().ident, "ID[" + long_tag + ".fmt.2000]: lh1:dvz1");
}

}  // namespace
