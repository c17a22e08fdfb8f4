/*
** What reaches syslog, through the syslog capture bound at the test's own
** socket, where the monitor's test build sends its messages: the facility
** codes (Linux's: LOG_CRON is 72) and levels in "<PRI>", and an identity
** per message that carries its own id.
*/
#include "syslog_capture.h"
#include "e2e_support.h"

namespace e2e {
namespace {

/* The monitor's start-up with too few operands: 2000, 4180 and 4190 reach
** syslog, then the daemon exits 1. No dorvexd is needed. */
class SyslogScenario : public ::testing::Test {
 protected:
  std::vector<testbed::SyslogMessage> run_monitor(const std::string &facility,
                                                  const std::string &tag) {
    dvz_test::TempDir dir;
    const std::string socket = dir.file("syslog");
    testbed::SyslogCapture capture(socket);
    EXPECT_EQ(testbed::SyslogCapture::Status::capturing, capture.status()) << capture.reason();
    testbed::ReapedResult result = testbed::run_reaped(
        {testbed::bin_dir() + "/" + program, "-m", "lh1", "dvz1"},
        {"HA_SLOGFACILITY=" + facility, "HA_SLOGTAG=" + tag, "HA_DBMS_VERBOSE=1", "HA_DBMS_DEBUG",
         "HA_DBMS_LOG_DISABLE=1", "DVZ_TEST_SYSLOG_SOCKET=" + socket},
        60);
    std::vector<testbed::ReapedExit> daemon = result.others();
    EXPECT_EQ(1u, daemon.size()) << result.report;
    if (!daemon.empty()) {
      EXPECT_EQ(1, daemon[0].status) << result.report;
    }
    EXPECT_TRUE(capture.wait_for("ID[" + tag + "." + program + ".4190]", 10));
    std::vector<testbed::SyslogMessage> ours;
    for (const testbed::SyslogMessage &m : capture.messages())
      if (m.text.find("ID[" + tag + ".") != std::string::npos) ours.push_back(m);
    return ours;
  }

  /* The message whose identity carries `id`, or an empty one. */
  static testbed::SyslogMessage with_id(const std::vector<testbed::SyslogMessage> &messages,
                                        const std::string &tag, const std::string &id) {
    std::string identity = "ID[" + tag + "." + program + "." + id + "]: lh1:dvz1: ";
    for (const testbed::SyslogMessage &m : messages)
      if (m.text.find(identity) != std::string::npos) return m;
    return {};
  }
};

TEST_F(SyslogScenario, FacilityAndLevelInThePriority) {
  struct row {
    std::string facility;
    int starting_up; /* 2000 at LOG_NOTICE */
    int usage; /* 4180 at LOG_ERR */
  };
  for (const row &r :
       {row {"LOG_CRON", 77, 75}, row {"LOG_LOCAL3", 157, 155}, row {"daemon", 133, 131}}) {
    SCOPED_TRACE(r.facility);
    const std::string tag = "t11" + r.facility;
    std::vector<testbed::SyslogMessage> messages = run_monitor(r.facility, tag);
    testbed::SyslogMessage start = with_id(messages, tag, "2000");
    EXPECT_EQ(r.starting_up, start.priority) << start.text;
    EXPECT_NE(std::string::npos, start.text.find(": lh1:dvz1: starting up")) << start.text;

    /* Each message under its own id. */
    testbed::SyslogMessage error = with_id(messages, tag, "4180");
    EXPECT_EQ(r.usage, error.priority) << error.text;
    EXPECT_NE(std::string::npos, error.text.find(": not enough parameters")) << error.text;
    testbed::SyslogMessage usage = with_id(messages, tag, "4190");
    EXPECT_EQ(r.usage, usage.priority) << usage.text;
    EXPECT_NE(std::string::npos, usage.text.find(": usage: ")) << usage.text;
    EXPECT_EQ(3u, messages.size());
  }
}

TEST(SyslogCaptureParse, DecodesThePriority) {
  testbed::SyslogMessage m = testbed::parse_syslog_datagram("<77>Dec 10 12:00:00 x: y");
  EXPECT_EQ(77, m.priority);
  EXPECT_EQ(72, m.facility);
  EXPECT_EQ(5, m.level);
  EXPECT_EQ("Dec 10 12:00:00 x: y", m.text);
  EXPECT_EQ("facility=72 level=5 pri=77 Dec 10 12:00:00 x: y", testbed::format_syslog_message(m));
  EXPECT_EQ(-1, testbed::parse_syslog_datagram("no priority").priority);
}

}  // namespace
}  // namespace e2e
