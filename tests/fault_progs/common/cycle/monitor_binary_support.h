/*
** Fixture of the suites that run the monitor's test build (the monitor
** with the scripted probe) as a daemon under the subreaper runner, against
** the dorvexd double on rpcbind, with the fake framework commands first in
** PATH. The monitor logs to /var/opt/ZEMKtvdvz/hadbms.log (lock hadbms_log).
*/
#ifndef DVZ_TESTS_MONITOR_BINARY_SUPPORT_H
#define DVZ_TESTS_MONITOR_BINARY_SUPPORT_H

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "testbed_support.h"

namespace cycletest {

constexpr const char hadbms_log_path[] = "/var/opt/ZEMKtvdvz/hadbms.log";

/* Rules: STOP in the DBMS log stops; every other probe goes on-line. */
constexpr const char default_rules[] =
    "*\t*\t*\tSTOP\t*\t*\t*\tstop\tstop requested\n"
    "*\t*\t*\t*\t*\t*\ton\tnone\tRDBMS appears to be ok\n";

class MonitorBinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testbed::rpcbind_available()) GTEST_SKIP() << "rpcbind is not running";
    std::error_code ignored;
    std::filesystem::create_directories("/var/opt/ZEMKtvdvz", ignored);
    if (access("/var/opt/ZEMKtvdvz", W_OK) != 0) GTEST_SKIP() << "no log directory";
    std::filesystem::create_directory(dir_.file("script"));
    std::filesystem::create_directory(dir_.file("fake"));
    std::filesystem::create_directory(dir_.file("dorvexd"));
    write(dir_.file("dbms.log"), "");
    write(dir_.file("actions"), default_rules);
    tail_ = std::make_unique<testbed::LogTail>(hadbms_log_path);
    double_ = std::make_unique<testbed::DorvexdDouble>(dir_.file("dorvexd"));
  }

  static void write(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static void append(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
  }

  /* The environment of a run; `extra` entries come last and win. */
  std::vector<std::string> environment(const std::vector<std::string> &extra) const {
    std::string fake_commands = testbed::bin_dir() + "/../fake_commands";
    const char *path = getenv("PATH");
    std::vector<std::string> env = {
        "DBMS_SERV_PID=" + std::to_string(double_->pid()),
        "DBMS_SERV_KEY=4711",
        "HA_DBMS_VERBOSE=1",
        "HA_DBMS_DEBUG=1",
        "HA_FM_DBMSPROBE_DELAY=0",
        "HA_DBMS_LOG_DISABLE",
        "HA_SLOGTAG=t01",
        "DB_LOGIN=dvzdb",
        "DOVARIZASERVER=dvzserver",
        "ONCONFIG=onconfig.dvz1",
        "FM_SCRIPT_DIR=" + dir_.file("script"),
        "FM_FAKE_JOURNAL=" + dir_.file("commands"),
        "FM_FAKE_DIR=" + dir_.file("fake"),
        "PATH=" + fake_commands + ":" + (path ? path : "/usr/bin:/bin"),
    };
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

  /* Starts the monitor: <option> <host> dvz1 <cycle> 0 <time-out> 0 actions log. */
  std::unique_ptr<testbed::ReapedRunner> start(const std::vector<std::string> &extra_env = {},
                                               int cycle = 1, int time_out = 5,
                                               double runner_timeout = 90,
                                               const std::string &option = "-m",
                                               const std::string &host = "lh1") {
    std::vector<std::string> argv = {testbed::bin_dir() + "/dovariza_fmon_scripted",
                                     option,
                                     host,
                                     "dvz1",
                                     std::to_string(cycle),
                                     "0",
                                     std::to_string(time_out),
                                     "0",
                                     dir_.file("actions"),
                                     dir_.file("dbms.log")};
    return std::make_unique<testbed::ReapedRunner>(argv, environment(extra_env), runner_timeout);
  }

  /* The daemon's pid from its registration in the double's journal, after
  ** line `from`; -1 when it does not register within the time. */
  pid_t daemon_pid(size_t from = 0, double seconds = 30) const {
    pid_t pid = -1;
    testbed::wait_until(
        [&] {
          std::vector<std::string> lines = double_->journal_lines();
          for (size_t i = from; i < lines.size(); ++i) {
            int found = 0, key = 0;
            if (sscanf(lines[i].c_str(), "set_status dvz1 %d %d", &found, &key) == 2 &&
                found != 0) {
              pid = found;
              return true;
            }
          }
          return false;
        },
        seconds);
    return pid;
  }

  /* Journal lines equal to `line`, from line `from` on. */
  size_t journal_count(const std::string &line, size_t from = 0) const {
    std::vector<std::string> lines = double_->journal_lines();
    size_t count = 0;
    for (size_t i = from; i < lines.size(); ++i) count += lines[i] == line ? 1 : 0;
    return count;
  }

  /* Lines of the monitor's log written since the fixture started that hold
  ** ".<id>]" and `text`. */
  std::vector<std::string> log_lines(const std::string &id, const std::string &text = "") const {
    std::vector<std::string> found;
    std::istringstream in(tail_->appended());
    std::string line;
    while (std::getline(in, line)) {
      if (line.find("." + id + "]") != std::string::npos && line.find(text) != std::string::npos)
        found.push_back(line);
    }
    return found;
  }

  /* Pids of the probe children from the scripted probe's calls journal. */
  std::vector<pid_t> probe_children() const {
    std::vector<pid_t> pids;
    std::istringstream in(testbed::read_file(dir_.file("script/calls")));
    std::string line;
    while (std::getline(in, line)) {
      pid_t pid = atoi(line.c_str());
      if (pid > 0 && (pids.empty() || pids.back() != pid)) pids.push_back(pid);
    }
    return pids;
  }

  /* Every process of the run ended with exit status 0 and none was left. */
  static void expect_all_exited_zero(const testbed::ReapedResult &result) {
    EXPECT_FALSE(result.timed_out) << result.report;
    EXPECT_FALSE(result.reaped.empty()) << result.report;
    for (const testbed::ReapedExit &e : result.reaped) {
      EXPECT_TRUE(e.exited) << e.pid << "\n" << result.report;
      EXPECT_EQ(0, e.status) << e.pid << "\n" << result.report;
    }
  }

  static bool has_exit(const testbed::ReapedResult &result, pid_t pid, int status) {
    const testbed::ReapedExit *e = result.find(pid);
    return e && e->exited && e->status == status;
  }

  testbed::TempDir dir_;
  std::unique_ptr<testbed::LogTail> tail_;
  std::unique_ptr<testbed::DorvexdDouble> double_;
};

}  // namespace cycletest

#endif
