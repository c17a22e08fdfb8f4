/*
** Monitor start-up through its seams: a fake dorvexd client and a fake
** clock record every call in a journal file, a syslog sink writes every
** message there too. Each case runs monitor_main in a forked child (it
** ends the process) and reads the child's exit status and journal.
** DBMS_SERV_PID stays unset, so a monitor that gets as far as its main
** loop leaves through 2010 and fault_mon_exit at once.
*/
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "monitor.h"
#include "monitor_seams.h"
#include "monitor_signals.h"
#include "scripted_probe.h"
#include "test_helpers.h"

using namespace montest;

namespace {

/* ---- the journal, written by the fakes in the child ------------------- */

std::string journal_path;

void journal(const std::string &line) {
  int fd = open(journal_path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
  if (fd < 0) return;
  std::string text = line + "\n";
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
}

/* ---- fake dorvexd client ---------------------------------------------- */

struct FakeDorvexd {
  bool create_fails = false;
  bool get_status_fails = false;
  int32_t get_status_value = 0;
  int signal_in_get_status = 0; /* raised inside the call, like a signal mid-RPC */
} fake;

CLIENT fake_client_object;
int32_t fake_result;

CLIENT *fake_create(const char *host) {
  journal(std::string("create ") + host);
  return fake.create_fails ? nullptr : &fake_client_object;
}
void fake_destroy(CLIENT *) { journal("destroy"); }
int32_t *fake_get_status(const char *instance, CLIENT *client) {
  journal(std::string("get_status ") + instance + (client == &fake_client_object ? "" : " ?"));
  if (fake.signal_in_get_status) raise(fake.signal_in_get_status);
  fake_result = fake.get_status_value;
  return fake.get_status_fails ? nullptr : &fake_result;
}
int32_t *fake_set_status(const char *instance, int32_t pid, int32_t key, CLIENT *) {
  journal("set_status " + std::string(instance) + " " + std::to_string(pid) + " " +
          std::to_string(key));
  fake_result = 0;
  return &fake_result;
}
void *fake_shutdown_db(const char *instance, const char *service, CLIENT *) {
  journal("shutdown_db " + std::string(instance) + " " + service);
  return &fake_result;
}
int32_t *fake_update(const char *instance, const char *status, int32_t error, CLIENT *) {
  journal("update_dbms_status " + std::string(instance) + " " + status + " " +
          std::to_string(error));
  return &fake_result;
}
const char *fake_sperror(CLIENT *, const char *header) {
  static std::string text;
  text = std::string(header) + ": RPC: fake";
  return text.c_str();
}
const char *fake_spcreateerror(const char *header) {
  static std::string text;
  text = std::string(header) + ": RPC: Program not registered";
  return text.c_str();
}
const dorvexd_client fake_dorvexd_client = {
    fake_create,      fake_destroy, fake_get_status, fake_set_status,
    fake_shutdown_db, fake_update,  fake_sperror,    fake_spcreateerror,
};

/* ---- fake clock ------------------------------------------------------- */

int signal_in_wait = 0;
time_t fake_now() { return 1702060801; }
int fake_wait(int seconds) {
  journal("wait " + std::to_string(seconds));
  if (signal_in_wait) {
    raise(signal_in_wait);
    return termination_signal != 0 ? 1 : 0;
  }
  return 0;
}
const monitor_clock fake_clock = {fake_now, fake_wait};

/* ---- a sink that journals "log <id> <text>" --------------------------- */

std::string pending_id;
void journal_open(const char *ident, int, int) {
  std::string s = ident;
  size_t close_bracket = s.find(']');
  pending_id = close_bracket != std::string::npos && close_bracket >= 4
                   ? s.substr(close_bracket - 4, 4)
                   : "?";
}
int journal_mask(int) { return 0; }
void journal_vlog(int, const char *format, va_list args) {
  char text[2048];
  vsnprintf(text, sizeof text, format, args);
  std::string escaped; /* one journal line per message: newlines as \n */
  for (const char *p = text; *p; ++p)
    escaped += *p == '\n' ? std::string("\\n") : std::string(1, *p);
  journal("log " + pending_id + " " + escaped);
}
void journal_close() {}
const syslog_sink journal_sink = {journal_open, journal_mask, journal_vlog, journal_close};

/* ---- running monitor_main in a child ---------------------------------- */

struct ChildRun {
  int status = -1; /* exit status, or 128 + signal */
  std::vector<std::string> lines;
  pid_t pid = -1;

  bool has(const std::string &line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  /* The journal lines that start with "log " and their ids in order. */
  std::vector<std::string> ids() const {
    std::vector<std::string> out;
    for (const std::string &l : lines)
      if (l.rfind("log ", 0) == 0) out.push_back(l.substr(4, 4));
    return out;
  }
  /* The journal lines that are not log lines. */
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    for (const std::string &l : lines)
      if (l.rfind("log ", 0) != 0) out.push_back(l);
    return out;
  }
};

class MonitorStartup : public ::testing::Test {
 protected:
  dvz_test::TempDir dir_;
  std::string actions_ = dir_.file("actions");
  std::map<std::string, std::optional<std::string>> env_ = {
      {"DB_LOGIN", "db"},
      {"DOVARIZASERVER", "srv"},
      {"ONCONFIG", "onconfig"},
      {"DBMS_SERV_KEY", "4711"},
      {"DBMS_SERV_PID", std::nullopt},
      {"HA_DBMS_LOG_DISABLE", "1"},
      {"HA_FM_DBMSPROBE_DELAY", std::nullopt},
      {"HA_DBMS_DEBUG", std::nullopt},
      {"HA_DBMS_VERBOSE", std::nullopt},
      {"HA_SLOGTAG", std::nullopt},
      {"TZ", "UTC"},
  };

  void SetUp() override {
    dvz_test::write_file(actions_, "*\t*\t*\t*\t*\t*\t*\tnone\n");
    journal_path = dir_.file("journal");
    fake = FakeDorvexd {};
    signal_in_wait = 0;
    monitor_set_probe(&scripted_probe_ops);
  }

  std::vector<std::string> args(std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {
        "/opt/bin/fmt", "-m", "lh1", "dvz1", "1", "0", "2", "0", actions_, dir_.file("dbms.log")};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }

  ChildRun run(std::vector<std::string> argv, const std::function<void()> &in_child = {}) {
    unlink(journal_path.c_str());
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      for (const auto &[name, value] : env_) {
        if (value)
          setenv(name.c_str(), value->c_str(), 1);
        else
          unsetenv(name.c_str());
      }
      tzset();
      log_sink = &journal_sink;
      dorvexd_seam = &fake_dorvexd_client;
      clock_seam = &fake_clock;
      if (in_child) in_child();
      std::vector<char *> c_argv;
      for (std::string &s : argv)
        c_argv.push_back(s.data());
      c_argv.push_back(nullptr);
      int rc = monitor_main(static_cast<int>(argv.size()), c_argv.data());
      journal("returned " + std::to_string(rc));
      exit(rc);
    }
    ChildRun r;
    r.pid = pid;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.lines = lines_of(dvz_test::read_file(journal_path));
    return r;
  }

  static std::string dump(const ChildRun &r) {
    std::string s;
    for (const std::string &l : r.lines)
      s += "  " + l + "\n";
    return s;
  }
};

TEST_F(MonitorStartup, ArgumentAndEnvironmentErrorsEndWithTheirStatus) {
  struct Case {
    const char *name;
    std::vector<std::string> argv;
    std::map<std::string, std::optional<std::string>> env;
    int status;
    std::vector<std::string> ids; /* every message, in order */
  };
  std::vector<Case> cases = {
      {"no operands", {"/opt/bin/fmt"}, {}, 1, {"2000", "4180", "4190"}},
      {"eighth operand", args({"extra"}), {}, 1, {"2000", "4180", "4190"}},
      {"cycle 0",
       {"fmt", "-m", "h", "dvz1", "0", "0", "2", "0", "a", "l"},
       {},
       2,
       {"2000", "4200"}},
      {"cycle x",
       {"fmt", "-m", "h", "dvz1", "x", "0", "2", "0", "a", "l"},
       {},
       2,
       {"2000", "4200"}},
      {"count -1",
       {"fmt", "-m", "h", "dvz1", "1", "-1", "2", "0", "a", "l"},
       {},
       2,
       {"2000", "4200"}},
      {"time-out -1",
       {"fmt", "-m", "h", "dvz1", "1", "0", "-1", "0", "a", "l"},
       {},
       2,
       {"2000", "4210"}},
      {"restart delay -1",
       {"fmt", "-m", "h", "dvz1", "1", "0", "2", "-1", "a", "l"},
       {},
       2,
       {"2000", "4210"}},
      {"DB_LOGIN unset", args(), {{"DB_LOGIN", std::nullopt}}, 2, {"2000", "2510"}},
      {"server and onconfig unset",
       args(),
       {{"DOVARIZASERVER", std::nullopt}, {"ONCONFIG", std::nullopt}},
       2,
       {"2000", "2520"}},
      {"onconfig unset", args(), {{"ONCONFIG", std::nullopt}}, 2, {"2000", "2530"}},
      {"unreadable action file",
       {"fmt", "-m", "h", "dvz1", "1", "0", "2", "0", "/no/such/actions", "l"},
       {},
       2,
       {"2000", "4080"}},
  };
  for (const Case &c : cases) {
    auto saved = env_;
    for (const auto &[k, v] : c.env)
      env_[k] = v;
    ChildRun r = run(c.argv);
    env_ = saved;
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << dump(r);
    EXPECT_EQ(r.ids(), c.ids) << c.name << "\n" << dump(r);
    EXPECT_TRUE(r.calls().empty()) << c.name << "\n" << dump(r); /* dorvexd never reached */
  }

  ChildRun r = run({"/opt/bin/fmt"});
  EXPECT_TRUE(r.has("log 4180 /opt/bin/fmt: not enough parameters\\n")) << dump(r);
  EXPECT_TRUE(
      r.has("log 4190 /opt/bin/fmt: usage: /opt/bin/fmt {-r/-m} <loghost> "
            "instance_name poll_cycle_time connect_cycle_count time_out restart_delay "
            "action_file dbms_log_file \\n"))
      << dump(r);
  r = run(args({"extra"}));
  EXPECT_TRUE(r.has("log 4180 /opt/bin/fmt: too many parameters\\n")) << dump(r);
  r = run({"fmt", "-m", "h", "dvz1", "1", "0", "-1", "0", "a", "l"});
  EXPECT_TRUE(r.has("log 4210 Negative values for time out or restart delay not allowed"));
}

TEST_F(MonitorStartup, OptionParsingSelectsTheErrorText) {
  struct Case {
    std::vector<std::string> argv;
    const char *text;
  } cases[] = {
      {{"f", "-m", "lh1", "dvz1", "1", "0", "2"}, "not enough parameters"},
      {{"f", "dvz1", "1", "0", "2", "0", "a", "l"}, "Invalid parameters"},
      {{"f", "-r", "h", "-m", "dvz1", "1", "0", "2", "0", "a"}, "invalid option"},
      {{"f", "-x", "h", "dvz1", "1", "0", "2", "0", "a", "l"}, "Invalid parameters"},
      /* An empty name would vanish from the command lines, shifting the
      ** commands' arguments ("dorvexq n1  stop dovariza"). */
      {{"f", "-m", "lh1", "", "1", "0", "2", "0", "a", "l"}, "Invalid parameters"},
      {{"f", "-r", "", "dvz1", "1", "0", "2", "0", "a", "l"}, "Invalid parameters"},
  };
  for (const Case &c : cases) {
    ChildRun r = run(c.argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.has(std::string("log 4180 f: ") + c.text + "\\n")) << c.text << "\n" << dump(r);
  }
}

TEST_F(MonitorStartup, RegistersRunsAndDeregistersOnTheWayOut) {
  ChildRun r = run(args());
  EXPECT_EQ(r.status, 0) << dump(r);
  std::string pid = std::to_string(r.pid);
  EXPECT_EQ(r.calls(), (std::vector<std::string> {"create localhost", "get_status dvz1",
                                                  "set_status dvz1 " + pid + " 4711",
                                                  "set_status dvz1 0 0", "destroy"}))
      << dump(r);
  /* The loop found no DBMS_SERV_PID: its exit path ends the monitor. */
  EXPECT_TRUE(r.has("log 2160 main process received signal 15 - terminating")) << dump(r);
  EXPECT_TRUE(r.has("log 2170 shutting down"));
}

TEST_F(MonitorStartup, RpcClientCreationFailureIs4220AndStatus1) {
  fake.create_fails = true;
  ChildRun r = run(args());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      r.has("log 4220 could not connect to dorvexd on localhost: RPC: Program not registered"))
      << dump(r);
  EXPECT_EQ(r.calls(), std::vector<std::string> {"create localhost"});
}

TEST_F(MonitorStartup, AnotherRegisteredMonitorEndsWith2150) {
  fake.get_status_value = 1702060801;
  env_["HA_DBMS_DEBUG"] = "1";
  ChildRun r = run(args());
  EXPECT_EQ(r.status, 1) << dump(r);
  EXPECT_TRUE(r.has("log 0140 fault_mon_run_check got Fri Dec  8 18:40:01 2023\\n")) << dump(r);
  EXPECT_TRUE(r.has("log 2150 Another fault monitor is already running for the same instance"));
  EXPECT_EQ(r.calls(), (std::vector<std::string> {"create localhost", "get_status dvz1"}));

  fake.get_status_value = -1; /* any non-zero answer counts */
  r = run(args());
  EXPECT_EQ(r.status, 1) << dump(r);
}

TEST_F(MonitorStartup, FailedGetStatusStillRegisters) {
  fake.get_status_fails = true;
  ChildRun r = run(args());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.has("set_status dvz1 " + std::to_string(r.pid) + " 4711")) << dump(r);
}

TEST_F(MonitorStartup, MissingServKeyExitsWithoutDeregisteringAnotherMonitor) {
  env_["DBMS_SERV_KEY"] = std::nullopt;
  ChildRun r = run(args());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.ids(), (std::vector<std::string> {"2000", "4242", "2160", "2170"})) << dump(r);
  EXPECT_TRUE(r.has("log 4242  can't get DBMS_SERV_KEY environment variable"));
  EXPECT_EQ(r.calls(), (std::vector<std::string> {"create localhost", "destroy"})) << dump(r);
}

TEST_F(MonitorStartup, ServKeyIsClampedToInt32) {
  struct Case {
    const char *key;
    const char *sent;
  } cases[] = {{"4000000000", "2147483647"},
               {"-4000000000", "-2147483648"},
               {"4711abc", "4711"},
               {" +5", "5"},
               {"abc", "0"},
               {"99999999999999999999999", "2147483647"}};
  for (const Case &c : cases) {
    env_["DBMS_SERV_KEY"] = c.key;
    ChildRun r = run(args());
    EXPECT_TRUE(r.has("set_status dvz1 " + std::to_string(r.pid) + " " + c.sent)) << c.key << "\n"
                                                                                  << dump(r);
  }
}

TEST_F(MonitorStartup, InitialDelayGoesThroughTheClock) {
  struct Case {
    std::optional<std::string> delay;
    std::optional<std::string> wait;
  } cases[] = {
      {std::nullopt, std::nullopt}, {"0", std::nullopt},  {"-3", "wait 15"}, {"30", "wait 30"},
      {"10s", "wait 10"},           {"abc", std::nullopt}};
  for (const Case &c : cases) {
    env_["HA_FM_DBMSPROBE_DELAY"] = c.delay;
    ChildRun r = run(args());
    std::vector<std::string> waits;
    for (const std::string &l : r.calls())
      if (l.rfind("wait ", 0) == 0) waits.push_back(l);
    /* The only wait before the loop's exit is the initial delay. */
    if (c.wait) {
      ASSERT_FALSE(waits.empty()) << c.delay.value_or("(unset)") << "\n" << dump(r);
      EXPECT_EQ(waits[0], *c.wait);
      /* It comes after the registration. */
      auto at = [&](const std::string &line) {
        return std::find(r.lines.begin(), r.lines.end(), line) - r.lines.begin();
      };
      EXPECT_LT(at("set_status dvz1 " + std::to_string(r.pid) + " 4711"), at(*c.wait));
    } else {
      EXPECT_TRUE(waits.empty()) << c.delay.value_or("(unset)") << "\n" << dump(r);
    }
  }
}

TEST_F(MonitorStartup, TerminationSignalDuringTheDelayDeregistersAndExits0) {
  env_["HA_FM_DBMSPROBE_DELAY"] = "30";
  for (int sig : {SIGTERM, SIGQUIT}) {
    signal_in_wait = sig;
    ChildRun r = run(args());
    EXPECT_EQ(r.status, 0) << dump(r);
    std::string pid = std::to_string(r.pid);
    EXPECT_EQ(r.calls(), (std::vector<std::string> {"create localhost", "get_status dvz1",
                                                    "set_status dvz1 " + pid + " 4711", "wait 30",
                                                    "set_status dvz1 0 0", "destroy"}))
        << dump(r);
    EXPECT_TRUE(
        r.has("log 2160 main process received signal " + std::to_string(sig) + " - terminating"))
        << dump(r);
    EXPECT_EQ(r.ids().back(), "2170");
  }
}

TEST_F(MonitorStartup, SignalBeforeRegistrationLeavesTheInstanceAlone) {
  fake.signal_in_get_status = SIGTERM;
  ChildRun r = run(args());
  EXPECT_EQ(r.status, 0) << dump(r);
  EXPECT_EQ(r.calls(),
            (std::vector<std::string> {"create localhost", "get_status dvz1", "destroy"}))
      << dump(r);
  EXPECT_TRUE(r.has("log 2160 main process received signal 15 - terminating"));
}

TEST_F(MonitorStartup, ProbeChildExitNeverDeregisters) {
  ChildRun r = run(args(), [] {
    /* Registered as the monitor, then acting as the child. */
    install_termination_handlers();
    rpc_client = &fake_client_object;
    dbms_serv_key = 4711;
    fault_mon_run_check("dvz1", getpid());
    db_proc_pid = 0;
    fault_mon_exit(SIGQUIT);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.calls(),
            (std::vector<std::string> {"get_status dvz1",
                                       "set_status dvz1 " + std::to_string(r.pid) + " 4711"}))
      << dump(r);
  EXPECT_TRUE(r.has("log 2160 DB process received signal 3 - terminating")) << dump(r);
  EXPECT_EQ(r.ids().back(), "2170");
}

/* The probe child's handler only records the signal; the exit path runs
** at the child's next check. */
TEST_F(MonitorStartup, ChildHandlerRecordsTheSignalForTheNextCheck) {
  ChildRun r = run(args(), [] {
    db_proc_pid = 0;
    install_child_handlers();
    raise(SIGTERM);
    journal("recorded " + std::to_string(termination_signal));
    check_termination();
    journal("not reached");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.has("recorded 15")) << dump(r);
  EXPECT_FALSE(r.has("not reached"));
  EXPECT_TRUE(r.has("log 2160 DB process received signal 15 - terminating")) << dump(r);
}

/* ---- helpers nobody calls yet ----------------------------------------- */

class StartupHelpers : public ::testing::Test {
 protected:
  LoggingScope scope_;
  dvz_test::TempDir dir_;
};

TEST_F(StartupHelpers, RemoteHostnameIsTheFirstWordOfHaRemotehost) {
  struct Case {
    std::optional<std::string> value;
    std::string host;
    bool logged;
  } cases[] = {{"n1  n2", "n1", false},
               {"  n3\tn4", "n3", false},
               {std::string(150, 'h'), std::string(99, 'h'), false},
               {"   ", "", true},
               {std::nullopt, "", true}};
  for (const Case &c : cases) {
    ScopedEnv env("HA_REMOTEHOST", c.value);
    recorded() = sink_record {};
    char buffer[100];
    memset(buffer, 'x', sizeof buffer);
    get_remote_hostname(buffer);
    EXPECT_EQ(std::string(buffer), c.host);
    ASSERT_EQ(recorded().messages.size(), c.logged ? 1u : 0u);
    if (c.logged) {
      EXPECT_EQ(recorded().messages[0].text, "cannot get the remote hostname from plaxenv file.");
    }
  }
}

TEST_F(StartupHelpers, ClusterNameIsTheFirstWordOfTheFile) {
  const std::string path = dir_.file("default_clustername");
  dvz_test::write_file(path, "  clusterA rest of line\nsecond\n");
  char buffer[100];
  EXPECT_EQ(get_clustername(buffer, path.c_str()), 0);
  EXPECT_STREQ(buffer, "clusterA");
  EXPECT_TRUE(recorded().messages.empty());

  const std::string missing = dir_.file("missing");
  EXPECT_EQ(get_clustername(buffer, missing.c_str()), 1);
  ASSERT_EQ(recorded().messages.size(), 1u);
  EXPECT_EQ(recorded().messages[0].text, "Could not open file " + missing + " : 2");
  EXPECT_EQ(recorded().messages[0].level, LOG_ERR);
}

/* ---- make_daemon ------------------------------------------------------ */

/* Runs make_daemon(console) in a grandchild and reports, from the daemon,
** its fds 0-2, whether it leads its session and whether a descriptor left
** open without close-on-exec survived. Returns the report and the
** launcher's exit status. */
std::pair<std::string, int> daemon_report(const std::string &console, const std::string &out) {
  fflush(nullptr);
  int leaked = open("/dev/null", O_RDONLY); /* no O_CLOEXEC: inherited */
  pid_t reaper = fork();
  if (reaper == 0) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t launcher = fork();
    if (launcher == 0) {
      int fd = make_daemon(console.c_str());
      std::string report;
      for (int i = 0; i <= 2; ++i) {
        char target[256] = {};
        ssize_t n = readlink(("/proc/self/fd/" + std::to_string(i)).c_str(), target, 255);
        report += std::to_string(i) + "=" + (n > 0 ? std::string(target, n) : "-") + "\n";
      }
      report += "returned=" + std::to_string(fd) + "\n";
      report += std::string("leader=") + (getsid(0) == getpid() ? "1" : "0") + "\n";
      report += std::string("leaked=") + (fcntl(leaked, F_GETFD) == -1 ? "closed" : "open") + "\n";
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ssize_t ignored = write(o, report.data(), report.size());
      (void)ignored;
      close(o);
      _exit(0);
    }
    int status = 0;
    waitpid(launcher, &status, 0);
    int launcher_status = WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    while (wait(nullptr) > 0) {} /* the daemon, reparented here */
    _exit(launcher_status);
  }
  close(leaked);
  int status = 0;
  waitpid(reaper, &status, 0);
  return {dvz_test::read_file(out), WIFEXITED(status) ? WEXITSTATUS(status) : 100};
}

TEST(MakeDaemon, PutsTheConsoleOnStandardDescriptorsInANewSession) {
  dvz_test::TempDir dir;
  const std::string console = dir.file("console");
  dvz_test::write_file(console, "");
  auto [report, launcher] = daemon_report(console, dir.file("report"));
  EXPECT_EQ(launcher, 0);
  EXPECT_EQ(report, "0=" + console + "\n1=" + console + "\n2=" + console +
                        "\nreturned=0\nleader=1\nleaked=closed\n");
}

TEST(MakeDaemon, FallsBackToDevNullWithoutAConsole) {
  dvz_test::TempDir dir;
  auto [report, launcher] = daemon_report(dir.file("no/console"), dir.file("report"));
  EXPECT_EQ(launcher, 0);
  EXPECT_EQ(report, "0=/dev/null\n1=/dev/null\n2=/dev/null\nreturned=0\nleader=1\nleaked=closed\n");
}

}  // namespace
