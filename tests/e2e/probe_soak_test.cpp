/*
** The real probe on the real runtime, driven in this one process against
** the SQLI double for 1,000 probes: statistics every probe, the test
** transaction whenever the counters stayed flat, a disconnect and a new
** connect every 100. Bounds, not times: the descriptors open after every
** reconnect are the same, the resident size after the last probe stays
** within 2 MiB of that after the 100th, and LeakSanitizer finds nothing at
** the end. ASan's quarantine is off (default options below) so that freed
** memory does not pass for growth.
*/
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "double_server.h"
#include "dovariza_probe.h"
#include "monitor_log.h"
#include "probe_scenario.h"
#include "process_state.h"
#include "scoped_env.h"

extern "C" const char *__asan_default_options() { return "quarantine_size_mb=0"; }

namespace e2e {
namespace {

/* The monitor's syslog seam, kept quiet: only the last 2540 (a database
** failure) is kept, for the failure message of a case. */
char last_failure[1024];
void quiet_open(const char *, int, int) {}
int quiet_mask(int) { return 0; }
void quiet_vlog(int, const char *format, va_list args) {
  char text[sizeof last_failure];
  vsnprintf(text, sizeof text, format, args);
  if (std::string_view(text).starts_with("DBMS Error")) memcpy(last_failure, text, sizeof text);
}
void quiet_close() {}
const syslog_sink quiet_sink = {quiet_open, quiet_mask, quiet_vlog, quiet_close};

class ProbeSoak : public ::testing::Test {
 protected:
  void SetUp() override {
    log_sink = &quiet_sink;
    last_failure[0] = '\0';
  }
  void TearDown() override { log_sink = &glibc_syslog_sink; }

  int connect() { return dovariza_probe_ops.dbms_connect(nullptr, &internal_, &error_); }
  int statistics() { return dovariza_probe_ops.dbms_statistics(&internal_, &error_); }
  int transaction() {
    return dovariza_probe_ops.dbms_test_transaction(nullptr, &internal_, &error_);
  }
  int disconnect() { return dovariza_probe_ops.dbms_disconnect(&internal_, &error_); }

  int internal_ = 0;
  int error_ = 0;
};

TEST_F(ProbeSoak, ThousandProbesKeepDescriptorsAndMemoryBounded) {
  /* The counters grow at every 10th probe, and stay flat between. */
  auto value_at = [](int probe) { return 1000L + probe / 10; };
  sqli_test::DoubleServer server({"--profile", "minimal"}, probe_scenario(value_at(1)));
  dvz_test::ScopedEnv login("DB_LOGIN", "hatest@" + server.server());
  dvz_test::ScopedEnv onconfig("ONCONFIG", "onconfig.soak");
  dvz_test::ScopedEnv owner("DOVARIZAOWNER", std::to_string(getuid()));
  ASSERT_EQ(1, dovariza_probe_ops.db_main("probe_soak", "dvz1", 0, nullptr));

  ASSERT_EQ(1, connect()) << error_ << " " << last_failure;
  /* What the connection holds once made: the same after every reconnect. */
  const std::map<int, std::string> baseline = descriptors_of(getpid());
  long rss_at_100 = 0;
  long previous_value = 0;
  int transactions = 0;
  for (int probe = 1; probe <= 1000; ++probe) {
    long value = value_at(probe);
    if (value != value_at(probe - 1)) server.set_scenario(probe_scenario(value));
    int activity = statistics();
    ASSERT_EQ(0, error_) << "probe " << probe << ": " << last_failure;
    /* Activity exactly when the counters moved since the last statistics
    ** (the first call of the process compares against zero). */
    ASSERT_EQ(value != previous_value ? 1 : 0, activity) << "probe " << probe;
    previous_value = value;
    if (activity == 0) {
      ASSERT_EQ(1, transaction()) << "probe " << probe << ": " << last_failure;
      ++transactions;
    }
    if (probe % 100 == 0) {
      ASSERT_EQ(1, disconnect()) << "probe " << probe << ": " << last_failure;
      ASSERT_EQ(1, connect()) << "probe " << probe << ": " << last_failure;
      ASSERT_EQ(baseline, descriptors_of(getpid()))
          << "after the reconnect at probe " << probe << ":\n"
          << describe(descriptors_of(getpid())) << "after the first connect:\n"
          << describe(baseline);
    }
    if (probe == 100) rss_at_100 = resident_kib(getpid());
  }
  const long rss_at_end = resident_kib(getpid());
  ASSERT_EQ(1, disconnect()) << last_failure;

  EXPECT_GT(rss_at_100, 0);
  EXPECT_LE(rss_at_end, rss_at_100 + 2048) << "VmRSS after probe 100: " << rss_at_100 << " KiB";
  EXPECT_EQ(899, transactions); /* all but the first and every 10th */
  /* One connect at the start and one per 100 probes, all on the double. */
  EXPECT_EQ(11u, server.entries("connect").size());
  EXPECT_EQ(11, dbms_session_id);
}

}  // namespace
}  // namespace e2e
