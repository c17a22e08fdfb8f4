/*
** The monitor's test builds run as real daemons under the subreaper
** runner (each case once with the scripted probe, dovariza_fmon_scripted,
** and once with the Dovariza probe, dovariza_fmon_test), against the dorvexd double on the real ONC
** RPC stack: argument and environment errors with the daemon's statuses,
** the exact lines of its hadbms.log (each test's own), registration,
** termination signals during the initial delay, and the daemon's process
** state. The launcher always exits 0; the daemon's status is what counts.
*/
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "monitor_seams.h"
#include "testbed_support.h"
#include "text_lines.h"

namespace {

/* The test builds every case runs on: both share the monitor and db_main. */
const char *const programs[] = {"dovariza_fmon_scripted", "dovariza_fmon_test"};

std::string monitor(const std::string &program) { return testbed::bin_dir() + "/" + program; }

/* The lines of our monitors (default tag) among those appended, each
** with the empty line that may follow it. */
std::vector<std::string> own_lines(const std::string &appended, const std::string &program) {
  const std::string mark = "ID[ZEMKcluster.ha." + program + ".";
  std::vector<std::string> lines = montest::lines_of(appended), out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(mark) == std::string::npos) continue;
    out.push_back(lines[i]);
    if (i + 1 < lines.size() && lines[i + 1].empty()) out.push_back(lines[++i]);
  }
  return out;
}

/* The text after "ID[ZEMKcluster.ha.<program>.<id>]: <host>:<inst>: " of
** each appended line, as "<id> <text>"; empty lines as "". */
std::vector<std::string> messages(const std::string &appended, const std::string &program) {
  const std::regex line_re(
      "^[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ID\\[ZEMKcluster\\.ha\\." + program +
      "\\.([0-9]{4})\\]: [^:]*:[^:]*: (.*)$");
  std::vector<std::string> out;
  for (const std::string &line : own_lines(appended, program)) {
    std::smatch m;
    if (line.empty())
      out.push_back("");
    else if (std::regex_match(line, m, line_re))
      out.push_back(m[1].str() + " " + m[2].str());
    else
      out.push_back("?? " + line);
  }
  return out;
}

std::string dump(const std::vector<std::string> &lines) {
  std::string s;
  for (const std::string &l : lines)
    s += "  | " + l + "\n";
  return s;
}

bool contains(const std::vector<std::string> &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

/* One run under the runner: the launcher's and the daemon's statuses. */
struct DaemonRun {
  int launcher = -1;
  int daemon = -1;
  pid_t daemon_pid = -1;
  std::string appended;
};

DaemonRun run_monitor(const std::string &program, const std::vector<std::string> &operands,
                      std::vector<std::string> env, const std::string &log_path) {
  testbed::LogTail tail(log_path);
  std::vector<std::string> argv = {monitor(program)};
  argv.insert(argv.end(), operands.begin(), operands.end());
  testbed::ReapedResult result = testbed::run_reaped(argv, env, 120);
  DaemonRun run;
  if (const testbed::ReapedExit *l = result.find(result.child))
    run.launcher = l->exited ? l->status : 128 + l->status;
  std::vector<testbed::ReapedExit> others = result.others();
  EXPECT_EQ(others.size(), 1u) << result.report;
  if (!others.empty()) {
    run.daemon_pid = others[0].pid;
    run.daemon = others[0].exited ? others[0].status : 128 + others[0].status;
  }
  run.appended = tail.appended();
  return run;
}

class MonitorBinary : public ::testing::TestWithParam<const char *> {
 protected:
  /* The test build this case runs. */
  std::string program() const { return GetParam(); }
  std::string monitor() const { return ::monitor(program()); }
  std::vector<std::string> messages(const std::string &appended) const {
    return ::messages(appended, program());
  }
  std::vector<std::string> own_lines(const std::string &appended) const {
    return ::own_lines(appended, program());
  }
  void SetUp() override { actions_ = dir_.write("actions", "*\t*\t*\t*\t*\t*\t*\tnone\n"); }
  std::vector<std::string> operands(const std::string &instance = "dvz1") const {
    return {"-m", "lh1", instance, "1", "0", "2", "0", actions_, dir_.file("dbms.log")};
  }
  /* The environment every run starts from: a complete probe environment,
  ** no debug, no tag, the file enabled; the test's own log file and syslog
  ** socket, and the program number of its double when it has one. */
  std::vector<std::string> base_env() const {
    std::vector<std::string> env = {"DB_LOGIN=db",
                                    "DOVARIZASERVER=srv",
                                    "ONCONFIG=onconfig",
                                    "DBMS_SERV_KEY=4711",
                                    "HA_SLOGTAG",
                                    "HA_SLOGFACILITY",
                                    "HA_DBMS_LOG_DISABLE",
                                    "HA_DBMS_DEBUG",
                                    "HA_DBMS_VERBOSE",
                                    "HA_FM_DBMSPROBE_DELAY",
                                    "DBMS_SERV_PID",
                                    "DVZ_TEST_HADBMS_LOG=" + log_path(),
                                    "DVZ_TEST_SYSLOG_SOCKET=" + dir_.file("syslog")};
    if (double_) env.push_back(double_->program_env());
    return env;
  }
  std::string log_path() const { return dir_.file("hadbms.log"); }
  DaemonRun run_daemon(const std::vector<std::string> &operands,
                       const std::vector<std::string> &env) {
    return run_monitor(program(), operands, env, log_path());
  }
  dvz_test::TempDir dir_;
  std::string actions_;
  std::unique_ptr<testbed::DorvexdDouble> double_;
};

TEST_P(MonitorBinary, ArgumentErrorsLogStartingUpThenTheUsageAndExit1) {
  struct Case {
    std::vector<std::string> operands;
    std::string identity; /* "<host>:<instance>" */
    std::string error;
  } cases[] = {
      {{}, ":unknown", "not enough parameters"},
      {{"-m", "lh1", "dvz1", "1", "0", "2"}, "lh1:dvz1", "not enough parameters"},
      {{"dvz1", "1", "0", "2", "0", "a", "l"}, ":dvz1", "Invalid parameters"},
      {{"-r", "h", "-m", "dvz1", "1", "0", "2", "0", "a"}, "h:-m", "invalid option"},
  };
  const std::string id = "ID[ZEMKcluster.ha." + program() + ".";
  for (const Case &c : cases) {
    DaemonRun run = run_daemon(c.operands, base_env());
    EXPECT_EQ(run.launcher, 0);
    EXPECT_EQ(run.daemon, 1) << c.error;
    std::vector<std::string> lines = own_lines(run.appended);
    ASSERT_EQ(lines.size(), 5u) << c.error << "\n" << dump(lines);
    const std::string bin = monitor();
    EXPECT_TRUE(lines[0].ends_with(id + "2000]: " + c.identity + ": starting up")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(id + "4180]: " + c.identity + ": " + bin + ": " + c.error))
        << lines[1];
    EXPECT_EQ(lines[2], "");
    EXPECT_TRUE(lines[3].ends_with(
        id + "4190]: " + c.identity + ": " + bin + ": usage: " + bin +
        " {-r/-m} <loghost> instance_name poll_cycle_time connect_cycle_count time_out "
        "restart_delay action_file dbms_log_file "))
        << lines[3];
    EXPECT_EQ(lines[4], "");
  }
}

TEST_P(MonitorBinary, BadValuesAndEnvironmentExit2OrTheirStatus) {
  std::string full = dir_.file("full.actions");
  {
    std::ofstream out(full);
    for (int i = 0; i < 401; ++i)
      out << "*\t*\t*\t*\t*\t*\t*\tnone\n";
  }
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> env = base_env();
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  };
  const std::string log = dir_.file("dbms.log");
  struct Case {
    const char *name;
    std::vector<std::string> operands;
    std::vector<std::string> env;
    int status;
    std::vector<std::string> ids; /* message ids after 2000 */
  } cases[] = {
      {"eighth operand",
       {"-m", "h", "dvz1", "1", "0", "2", "0", actions_, log, "x"},
       base_env(),
       1,
       {"4180", "", "4190", ""}},
      {"cycle 0", {"-m", "h", "dvz1", "0", "0", "2", "0", actions_, log}, base_env(), 2, {"4200"}},
      {"cycle x", {"-m", "h", "dvz1", "x", "0", "2", "0", actions_, log}, base_env(), 2, {"4200"}},
      {"count -1",
       {"-m", "h", "dvz1", "1", "-1", "2", "0", actions_, log},
       base_env(),
       2,
       {"4200"}},
      {"time-out -1",
       {"-m", "h", "dvz1", "1", "0", "-1", "0", actions_, log},
       base_env(),
       2,
       {"4210"}},
      {"DB_LOGIN unset", operands(), with({"DB_LOGIN"}), 2, {"2510"}},
      {"server and onconfig unset", operands(), with({"DOVARIZASERVER", "ONCONFIG"}), 2, {"2520"}},
      {"owner not a number", operands(), with({"DOVARIZAOWNER=12x"}), 2, {"2550"}},
      {"unreadable action file",
       {"-m", "h", "dvz1", "1", "0", "2", "0", dir_.file("missing"), log},
       base_env(),
       2,
       {"4080"}},
      {"401 rules", {"-m", "h", "dvz1", "1", "0", "2", "0", full, log}, base_env(), 2, {"4100"}},
  };
  for (const Case &c : cases) {
    DaemonRun run = run_daemon(c.operands, c.env);
    EXPECT_EQ(run.launcher, 0) << c.name;
    EXPECT_EQ(run.daemon, c.status) << c.name;
    std::vector<std::string> got = messages(run.appended);
    std::vector<std::string> ids;
    for (const std::string &m : got)
      ids.push_back(m.substr(0, 4));
    std::vector<std::string> expected = {"2000"};
    expected.insert(expected.end(), c.ids.begin(), c.ids.end());
    EXPECT_EQ(ids, expected) << c.name << "\n" << dump(got);
    if (std::string(c.name) == "eighth operand") {
      /* The probe's refusal goes through the monitor's usage. */
      EXPECT_TRUE(contains(got, "4180 " + monitor() + ": too many parameters")) << dump(got);
    }
  }
}

/* ---- with the dorvexd double ------------------------------------------ */

/* Starts a monitor with a long initial delay and returns once it has
** registered; the daemon's pid in *daemon. */
class DelayedMonitor {
 public:
  DelayedMonitor(const std::vector<std::string> &argv, std::vector<std::string> env,
                 testbed::DorvexdDouble &dorvexd, const std::string &log_path)
      : tail_(log_path), runner_(argv, env, 120) {
    EXPECT_TRUE(testbed::wait_until(
        [&] {
          for (const std::string &l : dorvexd.journal_lines())
            if (l.rfind("set_status dvz1 ", 0) == 0 && l != "set_status dvz1 0 0") return true;
          return false;
        },
        60));
    for (pid_t p : runner_.live_descendants())
      daemon_ = p;
  }
  pid_t daemon() const { return daemon_; }
  pid_t runner_pid() const { return runner_.runner_pid(); }
  testbed::ReapedResult wait() { return runner_.wait(); }
  std::string appended() const { return tail_.appended(); }

 private:
  testbed::LogTail tail_;
  testbed::ReapedRunner runner_;
  pid_t daemon_ = -1;
};

class MonitorWithDorvexd : public MonitorBinary {
 protected:
  void SetUp() override {
    MonitorBinary::SetUp();
    if (!testbed::rpcbind_available()) GTEST_SKIP() << "rpcbind is not running";
  }
  /* A fresh double (the one before is stopped first), which the monitor's
  ** environment and this process's dorvexd client then use. */
  testbed::DorvexdDouble &start_double(std::string_view control = {}) {
    double_.reset();
    std::string d = dir_.file("dorvexd");
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    double_ = std::make_unique<testbed::DorvexdDouble>(d, control);
    dorvexd_rpc.program = double_->program();
    return *double_;
  }

  /* The monitor with a 30 s initial delay, once it has registered. */
  std::unique_ptr<DelayedMonitor> start_delayed(testbed::DorvexdDouble &dorvexd) const {
    std::vector<std::string> env = base_env();
    env.push_back("HA_FM_DBMSPROBE_DELAY=30");
    std::vector<std::string> argv = {monitor()};
    for (const std::string &o : operands())
      argv.push_back(o);
    return std::make_unique<DelayedMonitor>(argv, env, dorvexd, log_path());
  }
};

TEST_P(MonitorWithDorvexd, NoDorvexdMeans4220AndStatus1) {
  /* Start and stop a double: its registration is gone from rpcbind. */
  start_double().stop();
  DaemonRun run = run_daemon(operands(), base_env());
  EXPECT_EQ(run.daemon, 1);
  EXPECT_TRUE(
      contains(messages(run.appended),
               "4220 could not connect to dorvexd on localhost: RPC: Program not registered"))
      << dump(messages(run.appended));
}

TEST_P(MonitorWithDorvexd, RegistersAndDeregistersWhenTheLoopEnds) {
  testbed::DorvexdDouble &dorvexd = start_double();
  /* DBMS_SERV_PID unset: the main loop ends the monitor at its first turn. */
  DaemonRun run = run_daemon(operands(), base_env());
  EXPECT_EQ(run.launcher, 0);
  EXPECT_EQ(run.daemon, 0);
  std::string pid = std::to_string(run.daemon_pid);
  EXPECT_EQ(dorvexd.journal_lines(),
            (std::vector<std::string> {"get_status dvz1", "set_status dvz1 " + pid + " 4711",
                                       "set_status dvz1 0 0"}));
  std::vector<std::string> got = messages(run.appended);
  EXPECT_EQ(got.front(), "2000 starting up") << dump(got);
  EXPECT_EQ(got.back(), "2170 shutting down") << dump(got);
}

TEST_P(MonitorWithDorvexd, AnotherRegisteredMonitorGives2150AndStatus1) {
  testbed::DorvexdDouble &dorvexd = start_double("get_status=registered\n");
  std::vector<std::string> env = base_env();
  env.push_back("HA_DBMS_DEBUG=1");
  DaemonRun run = run_daemon(operands(), env);
  EXPECT_EQ(run.daemon, 1);
  std::vector<std::string> got = messages(run.appended);
  /* 0140 carries ctime's text, which ends in a newline: an empty line follows. */
  static const std::regex ctime_re(
      "0140 fault_mon_run_check got [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
      "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
  auto at = std::find_if(got.begin(), got.end(),
                         [](const std::string &m) { return std::regex_match(m, ctime_re); });
  ASSERT_NE(at, got.end()) << dump(got);
  ASSERT_NE(at + 1, got.end());
  EXPECT_EQ(*(at + 1), "");
  EXPECT_TRUE(contains(got, "2150 Another fault monitor is already running for the same instance"));
  EXPECT_EQ(dorvexd.journal_lines(), std::vector<std::string> {"get_status dvz1"});
}

TEST_P(MonitorWithDorvexd, FailedGetStatusStillRegisters) {
  testbed::DorvexdDouble &dorvexd = start_double("fail=get_status\n");
  DaemonRun run = run_daemon(operands(), base_env());
  EXPECT_EQ(run.daemon, 0);
  EXPECT_TRUE(contains(dorvexd.journal_lines(),
                       "set_status dvz1 " + std::to_string(run.daemon_pid) + " 4711"));
}

TEST_P(MonitorWithDorvexd, MissingServKeyLeavesAnotherMonitorRegistered) {
  testbed::DorvexdDouble &dorvexd = start_double();
  /* Another monitor holds dvz1. */
  CLIENT *client = rpc_dorvexd_client.create("localhost");
  ASSERT_NE(client, nullptr);
  ASSERT_NE(rpc_dorvexd_client.set_status("dvz1", 424242, 99, client), nullptr);

  std::vector<std::string> env = base_env();
  env.push_back("DBMS_SERV_KEY");
  DaemonRun run = run_daemon(operands(), env);
  EXPECT_EQ(run.daemon, 0);
  EXPECT_EQ(messages(run.appended),
            (std::vector<std::string> {
                "2000 starting up", "4242  can't get DBMS_SERV_KEY environment variable",
                "2160 main process received signal 15 - terminating", "2170 shutting down"}));
  EXPECT_FALSE(contains(dorvexd.journal_lines(), "set_status dvz1 0 0"));
  int32_t *since = rpc_dorvexd_client.get_status("dvz1", client);
  ASSERT_NE(since, nullptr);
  EXPECT_NE(*since, 0);
  rpc_dorvexd_client.destroy(client);
}

TEST_P(MonitorWithDorvexd, ServKeyIsSentClampedToInt32) {
  testbed::DorvexdDouble &dorvexd = start_double();
  struct Case {
    const char *key;
    const char *sent;
  } cases[] = {{"4000000000", "2147483647"}, {"-4000000000", "-2147483648"}, {"4711abc", "4711"}};
  for (const Case &c : cases) {
    std::vector<std::string> env = base_env();
    env.push_back(std::string("DBMS_SERV_KEY=") + c.key);
    DaemonRun run = run_daemon(operands(), env);
    EXPECT_EQ(run.daemon, 0) << c.key;
    EXPECT_TRUE(contains(dorvexd.journal_lines(),
                         "set_status dvz1 " + std::to_string(run.daemon_pid) + " " + c.sent))
        << c.key << "\n"
        << dump(dorvexd.journal_lines());
  }
}

TEST_P(MonitorWithDorvexd, TerminationSignalDuringTheDelayEndsInOrder) {
  for (int sig : {SIGTERM, SIGQUIT}) {
    testbed::DorvexdDouble &dorvexd = start_double();
    std::unique_ptr<DelayedMonitor> delayed = start_delayed(dorvexd);
    DelayedMonitor &mon = *delayed;
    ASSERT_GT(mon.daemon(), 0);
    ASSERT_EQ(kill(mon.daemon(), sig), 0);
    testbed::ReapedResult result = mon.wait();
    const testbed::ReapedExit *exit = result.find(mon.daemon());
    ASSERT_NE(exit, nullptr) << result.report;
    EXPECT_TRUE(exit->exited);
    EXPECT_EQ(exit->status, 0);
    std::string pid = std::to_string(mon.daemon());
    EXPECT_EQ(dorvexd.journal_lines(),
              (std::vector<std::string> {"get_status dvz1", "set_status dvz1 " + pid + " 4711",
                                         "set_status dvz1 0 0"}));
    std::vector<std::string> got = messages(mon.appended());
    EXPECT_EQ(got, (std::vector<std::string> {"2000 starting up",
                                              "2160 main process received signal " +
                                                  std::to_string(sig) + " - terminating",
                                              "2170 shutting down"}));
    dorvexd.stop();
  }
}

std::string link_of(const std::string &path) {
  std::error_code ec;
  std::filesystem::path target = std::filesystem::read_symlink(path, ec);
  return ec ? std::string() : target.string();
}

TEST_P(MonitorWithDorvexd, DaemonLeadsItsSessionWithOnlyItsOwnDescriptors) {
  testbed::DorvexdDouble &dorvexd = start_double();
  /* Left open without close-on-exec: the runner and the launcher inherit it. */
  const std::string marker = dir_.file("inherited.marker");
  int leaked = open(marker.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(leaked, 0);
  std::unique_ptr<DelayedMonitor> delayed = start_delayed(dorvexd);
  DelayedMonitor &mon = *delayed;
  close(leaked);
  pid_t daemon = mon.daemon();
  ASSERT_GT(daemon, 0);
  const std::string proc = "/proc/" + std::to_string(daemon);

  /* The launcher's parent still holds it: the daemon was handed it too. */
  bool runner_has = false;
  for (const auto &entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(mon.runner_pid()) + "/fd"))
    runner_has = runner_has || link_of(entry.path().string()) == marker;
  EXPECT_TRUE(runner_has);

  /* Session id: field 6 of /proc/<pid>/stat, after the parenthesised name. */
  std::string stat = dvz_test::read_file(proc + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string state, ppid, pgrp, session;
  fields >> state >> ppid >> pgrp >> session;
  EXPECT_EQ(session, std::to_string(daemon));

  std::string console = link_of(proc + "/fd/0");
  EXPECT_TRUE(console == "/dev/console" || console == "/dev/null") << console;
  EXPECT_EQ(link_of(proc + "/fd/1"), console);
  EXPECT_EQ(link_of(proc + "/fd/2"), console);
  for (const auto &entry : std::filesystem::directory_iterator(proc + "/fd")) {
    EXPECT_NE(link_of(entry.path().string()), marker) << entry.path();
  }
  kill(daemon, SIGTERM);
  testbed::ReapedResult result = mon.wait();
  const testbed::ReapedExit *exit = result.find(daemon);
  ASSERT_NE(exit, nullptr);
  EXPECT_EQ(exit->status, 0);
}

/* Names the instances after the build: scripted, dovariza. */
std::string build_name(const ::testing::TestParamInfo<const char *> &info) {
  std::string name = info.param;
  return name == "dovariza_fmon_test" ? "dovariza" : "scripted";
}

INSTANTIATE_TEST_SUITE_P(Builds, MonitorBinary, ::testing::ValuesIn(programs), build_name);
INSTANTIATE_TEST_SUITE_P(Builds, MonitorWithDorvexd, ::testing::ValuesIn(programs), build_name);

}  // namespace
