/*
** What the monitor costs over 120 probes, the test build with the real
** probe (dovariza_fmon_test, against the SQLI double and a `sysprofile` of
** 60 flat rows) beside the one with the scripted probe
** (dovariza_fmon_scripted, every call "ok"), measured alike: both run at
** once, each with a dorvexd double of its own, a 1 s probe cycle and no
** reconnects, the counters flat so that every probe after the first runs
** the test transaction; the sample action file. For the daemon and its probe child it prints CPU
** (time on a CPU, from /proc/<pid>/schedstat), VmRSS and VmHWM and the open
** descriptors after the 10th and after the 120th probe. Not a test; see
** RESULTS.md.
**
**   bench_monitor_usage [probes]      (default 120)
*/
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "double_server.h"
#include "sysprofile_rows.h"
#include "temp_dir.h"
#include "testbed_support.h"

namespace {

/* One process's figures at one moment. */
struct Sample {
  double cpu_ms = -1;
  long rss_kib = -1;
  long hwm_kib = -1;
  int fds = -1;
};

Sample sample(pid_t pid) {
  Sample s;
  /* Time on a CPU in ns, the first field of schedstat (the clock ticks
  ** of /proc/<pid>/stat are too coarse for a few ms). */
  std::ifstream sched("/proc/" + std::to_string(pid) + "/schedstat");
  unsigned long long ns = 0;
  if (sched >> ns) s.cpu_ms = static_cast<double>(ns) / 1e6;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) s.rss_kib = std::stol(line.substr(6));
    if (line.starts_with("VmHWM:")) s.hwm_kib = std::stol(line.substr(6));
  }
  std::error_code error;
  s.fds = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error))
    ++s.fds;
  return s;
}

/* One monitor with its doubles and scratch directory. */
struct Run {
  std::string program;
  dvz_test::TempDir dir;
  std::unique_ptr<testbed::DorvexdDouble> dorvexd;
  std::unique_ptr<testbed::ReapedRunner> runner;
  pid_t daemon = -1;
  pid_t child = -1;
  Sample daemon_at[2], child_at[2];
  int phase = 0; /* samples taken */
  bool ended = false; /* the monitor ended before its last sample */

  /* Probes reported to dorvexd so far. */
  size_t probes() const {
    size_t n = 0;
    for (const std::string &line : dorvexd->journal_lines())
      n += line.starts_with("update_dbms_status ") ? 1 : 0;
    return n;
  }
  void find_pids() {
    for (const std::string &line : dorvexd->journal_lines()) {
      int pid = 0, key = 0;
      if (daemon < 0 && sscanf(line.c_str(), "set_status dvz1 %d %d", &pid, &key) == 2 && pid > 0)
        daemon = pid;
    }
    if (daemon > 0) {
      std::vector<pid_t> below = testbed::descendants_of(daemon);
      if (!below.empty()) child = below.front();
    }
  }
};

void start(Run &run, const std::vector<std::string> &extra, double runner_seconds) {
  std::filesystem::create_directory(run.dir.file("dorvexd"));
  std::filesystem::create_directory(run.dir.file("script"));
  std::filesystem::create_directory(run.dir.file("fake"));
  run.dir.write("actions", dvz_test::read_file(BENCH_SAMPLE_ACTIONS));
  run.dir.write("dbms.log", "");
  run.dorvexd = std::make_unique<testbed::DorvexdDouble>(run.dir.file("dorvexd"));
  const char *path = getenv("PATH");
  std::vector<std::string> env = {
      "DBMS_SERV_PID=" + std::to_string(run.dorvexd->pid()),
      run.dorvexd->program_env(),
      "DVZ_TEST_HADBMS_LOG=" + run.dir.file("hadbms.log"),
      "DVZ_TEST_SYSLOG_SOCKET=" + run.dir.file("syslog"),
      "DBMS_SERV_KEY=4711",
      "HA_DBMS_VERBOSE=0",
      "HA_DBMS_DEBUG=0",
      "HA_FM_DBMSPROBE_DELAY=0",
      "HA_SLOGTAG=usage",
      "ONCONFIG=onconfig.usage",
      "DOVARIZAOWNER=" + std::to_string(getuid()),
      "FM_SCRIPT_DIR=" + run.dir.file("script"),
      "FM_FAKE_JOURNAL=" + run.dir.file("commands"),
      "FM_FAKE_DIR=" + run.dir.file("fake"),
      "PATH=" + testbed::bin_dir() + "/../fake_commands:" + (path ? path : "/usr/bin:/bin"),
  };
  env.insert(env.end(), extra.begin(), extra.end());
  /* Local mode, 1 s probe cycle, no reconnects, 10 s time-out. */
  run.runner = std::make_unique<testbed::ReapedRunner>(
      std::vector<std::string> {testbed::bin_dir() + "/" + run.program, "-m", "lh1", "dvz1", "1",
                                "0", "10", "0", run.dir.file("actions"), run.dir.file("dbms.log")},
      env, runner_seconds);
  run.runner->child(); /* started: from now on no descendant means it ended */
}

void print(const char *who, const Sample (&at)[2]) {
  std::printf(
      "  %-7s CPU %8.1f ms (%7.1f ms after probe 10)  VmRSS %6ld -> %6ld KiB  VmHWM %6ld KiB"
      "  fds %d -> %d\n",
      who, at[1].cpu_ms, at[1].cpu_ms - at[0].cpu_ms, at[0].rss_kib, at[1].rss_kib, at[1].hwm_kib,
      at[0].fds, at[1].fds);
}

}  // namespace

int main(int argc, char **argv) {
  const size_t probes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 120;
  setenv("DOVARIZADIR", BENCH_DOVARIZADIR, 1);
  sqli_test::DoubleServer server({"--profile", "minimal"}, probe_bench::flat_scenario());
  const double limit = 4.0 * static_cast<double>(probes) + 30;

  Run real, scripted;
  real.program = "dovariza_fmon_test";
  scripted.program = "dovariza_fmon_scripted";
  start(real,
        {"DB_LOGIN=hatest@" + server.server(), "DOVARIZASERVER=" + server.server(),
         "DOVARIZASQLHOSTS=" + server.sqlhosts_path()},
        limit + 30);
  start(scripted, {"DB_LOGIN=dvzdb", "DOVARIZASERVER=dvzserver"}, limit + 30);

  /* Samples after the 10th probe and after the last; at most 4 s a probe. */
  const size_t marks[2] = {std::min<size_t>(10, probes), probes};
  bool done = testbed::wait_until(
      [&] {
        for (Run *run : {&real, &scripted}) {
          if (run->phase == 2 || run->ended) continue;
          if (run->runner->live_descendants().empty()) {
            run->ended = true;
            continue;
          }
          if (run->probes() < marks[run->phase]) continue;
          run->find_pids();
          if (run->daemon < 0 || run->child < 0) continue;
          run->daemon_at[run->phase] = sample(run->daemon);
          run->child_at[run->phase] = sample(run->child);
          ++run->phase;
        }
        return (real.phase == 2 || real.ended) && (scripted.phase == 2 || scripted.ended);
      },
      limit);

  int status = 0;
  for (Run *run : {&real, &scripted}) {
    std::printf("%s, %zu probes (daemon %d, child %d)%s\n", run->program.c_str(), run->probes(),
                run->daemon, run->child, run->phase == 2 ? "" : ": did not finish");
    if (run->phase < 2) {
      status = 1;
      continue;
    }
    print("daemon", run->daemon_at);
    print("child", run->child_at);
    std::printf("  probe messages 2540 in its log: %s\n",
                dvz_test::read_file(run->dir.file("hadbms.log")).find(".2540]") == std::string::npos
                    ? "none"
                    : "some (see the log)");
  }
  if (!done) std::fprintf(stderr, "gave up waiting for %zu probes\n", probes);
  for (Run *run : {&real, &scripted}) {
    if (run->daemon > 0) kill(run->daemon, SIGTERM);
    testbed::ReapedResult result = run->runner->wait();
    if (run->phase < 2)
      std::printf("%s ended early; its output:\n%s\nits log:\n%s\n", run->program.c_str(),
                  result.output.c_str(), dvz_test::read_file(run->dir.file("hadbms.log")).c_str());
  }
  return status;
}
