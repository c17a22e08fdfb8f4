/*
** Test support (testbed_support.h): the dorvexd double as a child process,
** the subreaper runner, log tails. Linked by the GoogleTest suites.
**
** Children are started with fork + execve of executables in bin_dir();
** everything between fork and exec in the child is async-signal-safe, its
** arguments being prepared before the fork.
*/
#include "testbed_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "dorvexd.h"

extern char **environ;

/* The same suppressions for the test process itself (read by LeakSanitizer
** when the tests are built with it; unused otherwise). */
extern "C" const char *__lsan_default_suppressions() { return "leak:libtirpc.so\n"; }

namespace testbed {

namespace {

/* argv/envp storage that outlives the strings' vector: c_str() pointers
** taken before fork, used by execve in the child. */
std::vector<char *> c_vector(std::vector<std::string> &strings) {
  std::vector<char *> v;
  v.reserve(strings.size() + 1);
  for (auto &s : strings)
    v.push_back(s.data());
  v.push_back(nullptr);
  return v;
}

/* In the child between fork and exec: stdin from /dev/null, stdout and
** stderr to `out_path` (appended). Async-signal-safe. */
void redirect_stdio(const char *out_path) {
  int in = open("/dev/null", O_RDONLY);
  if (in >= 0 && in != 0) {
    dup2(in, 0);
    close(in);
  }
  int out = open(out_path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (out >= 0) {
    dup2(out, 1);
    dup2(out, 2);
    if (out > 2) close(out);
  }
}

/* The test's environment with `changes` applied ("VAR=value" sets, "VAR"
** removes), and LSAN_OPTIONS pointing at lsan.supp unless set already. */
std::vector<std::string> child_environment(const std::vector<std::string> &changes) {
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    env.emplace_back(*e);
  if (!std::getenv("LSAN_OPTIONS"))
    env.push_back("LSAN_OPTIONS=suppressions=" DVZ_LSAN_SUPPRESSIONS);
  for (const auto &c : changes) {
    std::string name = c.substr(0, c.find('='));
    std::erase_if(env, [&](const std::string &v) {
      return v.compare(0, name.size() + 1, name + "=") == 0 || v == name;
    });
    if (c.find('=') != std::string::npos) env.push_back(c);
  }
  return env;
}

/* Starts argv[0] with `envp`, stdin from /dev/null and stdout and stderr
** appended to `out_path` (redirect_stdio); its pid. The vectors are
** prepared before the fork. Throws std::runtime_error when fork fails. */
pid_t spawn(std::vector<char *> &argv, std::vector<char *> &envp, const std::string &out_path) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    redirect_stdio(out_path.c_str());
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

std::string bin_dir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().string();
}

bool replace_file(const std::string &path, std::string_view text) {
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool rpcbind_available() { return std::system("rpcinfo -p localhost >/dev/null 2>&1") == 0; }

/* ---- DorvexdDouble ---- */

DorvexdDouble::DorvexdDouble(std::string state_dir, std::string_view control, double ready_seconds)
    : dir_(std::move(state_dir)) {
  std::string ready = dir_ + "/ready";
  std::remove(ready.c_str());
  if (!control.empty() && !write_control(control))
    throw std::runtime_error("cannot write " + control_path());

  std::vector<std::string> envs = child_environment({});
  std::vector<char *> envp = c_vector(envs);
  std::string log = dir_ + "/double.log";
  /* A run on another checkout may register the number between the check
  ** and the double's own registration: the double then exits with
  ** program_taken and the next number is tried. */
  for (int attempt = 0; attempt < 8; ++attempt) {
    program_ = unused_rpc_program();
    std::vector<std::string> args {bin_dir() + "/dorvexd_double", dir_, std::to_string(program_)};
    std::vector<char *> argv = c_vector(args);
    pid_ = spawn(argv, envp, log);
    int status = 0;
    bool up = wait_until(
        [&] {
          if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
          }
          return dvz_test::read_file(ready) == std::to_string(pid_) + "\n";
        },
        ready_seconds);
    if (up && pid_ > 0) return;
    kill_and_reap();
    if (up && WIFEXITED(status) && WEXITSTATUS(status) == dorvexd_program_taken) continue;
    break;
  }
  throw std::runtime_error("dorvexd_double did not get ready: " + dvz_test::read_file(log));
}

DorvexdDouble::~DorvexdDouble() {
  /* SIGTERM, so that it leaves rpcbind clean. */
  stop(10);
}

std::string DorvexdDouble::program_env() const {
  return "DVZ_TEST_RPC_PROGRAM=" + std::to_string(program_);
}

std::string DorvexdDouble::control_path() const { return dir_ + "/control"; }
std::string DorvexdDouble::journal_path() const { return dir_ + "/journal"; }

bool DorvexdDouble::write_control(std::string_view text) const {
  return replace_file(control_path(), text);
}

std::vector<std::string> DorvexdDouble::journal_lines() const {
  std::vector<std::string> lines;
  std::istringstream in(dvz_test::read_file(journal_path()));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

bool DorvexdDouble::wait_for_journal_line(std::string_view line, double timeout_seconds) const {
  return wait_until(
      [&] {
        for (const auto &l : journal_lines())
          if (l == line) return true;
        return false;
      },
      timeout_seconds);
}

int DorvexdDouble::stop(double timeout_seconds) {
  if (pid_ <= 0) return -1;
  const int status = stop_child(pid_, timeout_seconds);
  pid_ = -1;
  return status;
}

void DorvexdDouble::kill_and_reap() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
  pid_ = -1;
  rpc_program_unset(program_, DORVEXD_VERS);
}

/* ---- ReapedResult ---- */

const ReapedExit *ReapedResult::find(pid_t pid) const {
  for (const auto &r : reaped)
    if (r.pid == pid) return &r;
  return nullptr;
}

std::vector<ReapedExit> ReapedResult::others() const {
  std::vector<ReapedExit> v;
  for (const auto &r : reaped)
    if (r.pid != child) v.push_back(r);
  return v;
}

/* ---- ReapedRunner ---- */

namespace {

/* Parses the runner's report into `r`. */
void parse_report(const std::string &report, ReapedResult *r) {
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string first, kind;
    long n = 0;
    words >> first;
    if (first == "started") {
      if (words >> n) r->child = static_cast<pid_t>(n);
      continue;
    }
    if (!(words >> kind >> n)) continue;
    ReapedExit e;
    e.pid = static_cast<pid_t>(std::atol(first.c_str()));
    e.exited = kind == "exit";
    e.status = static_cast<int>(n);
    r->reaped.push_back(e);
  }
}

}  // namespace

ReapedRunner::ReapedRunner(const std::vector<std::string> &argv,
                           const std::vector<std::string> &env, double timeout_seconds)
    : timeout_(timeout_seconds) {
  std::vector<std::string> args {bin_dir() + "/subreaper_run"};
  if (timeout_seconds > 0) {
    args.push_back("--timeout");
    args.push_back(std::to_string(timeout_seconds));
  }
  args.push_back("--out");
  args.push_back(dir_.file("report"));
  args.push_back("--");
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<std::string> envs = child_environment(env);
  std::vector<char *> c_args = c_vector(args);
  std::vector<char *> c_env = c_vector(envs);
  runner_ = spawn(c_args, c_env, dir_.file("output"));
}

ReapedRunner::~ReapedRunner() {
  if (runner_ <= 0) return;
  /* Kill the tree; the runner reaps it and exits once nothing is left. */
  bool gone = wait_until(
      [&] {
        for (pid_t p : descendants_of(runner_))
          kill(p, SIGKILL);
        int st = 0;
        return waitpid(runner_, &st, WNOHANG) == runner_;
      },
      20);
  if (!gone) {
    kill(runner_, SIGKILL);
    int st = 0;
    while (waitpid(runner_, &st, 0) < 0 && errno == EINTR) {}
  }
}

pid_t ReapedRunner::child(double timeout_seconds) {
  ReapedResult r;
  wait_until(
      [&] {
        parse_report(dvz_test::read_file(dir_.file("report")), &r);
        return r.child > 0;
      },
      timeout_seconds);
  return r.child;
}

std::vector<pid_t> ReapedRunner::live_descendants() const {
  return runner_ > 0 ? descendants_of(runner_) : std::vector<pid_t> {};
}

ReapedResult ReapedRunner::wait() {
  ReapedResult r;
  if (runner_ <= 0) return r;
  int status = -1;
  if (timeout_ > 0) {
    /* The runner enforces the time-out itself; this bound only guards
    ** against a runner that hangs. */
    std::optional<int> done = wait_bounded(runner_, timeout_ + 60);
    if (done) {
      status = *done;
    } else {
      for (pid_t p : descendants_of(runner_))
        kill(p, SIGKILL);
      kill(runner_, SIGKILL);
      while (waitpid(runner_, &status, 0) < 0 && errno == EINTR) {}
    }
  } else {
    while (waitpid(runner_, &status, 0) < 0 && errno == EINTR) {}
  }
  runner_ = -1;
  r.runner_status = status;
  r.timed_out = WIFEXITED(status) && WEXITSTATUS(status) == 3;
  r.report = dvz_test::read_file(dir_.file("report"));
  r.output = dvz_test::read_file(dir_.file("output"));
  parse_report(r.report, &r);
  return r;
}

ReapedResult run_reaped(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                        double timeout_seconds) {
  return ReapedRunner(argv, env, timeout_seconds).wait();
}

/* ---- LogTail ---- */

LogTail::LogTail(std::string path) : path_(std::move(path)) {
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0) start_ = st.st_size;
}

std::string LogTail::appended() const {
  std::string all = dvz_test::read_file(path_);
  if (static_cast<off_t>(all.size()) < start_) return all;
  return all.substr(static_cast<size_t>(start_));
}

bool LogTail::wait_for(std::string_view text, double timeout_seconds) const {
  return wait_until([&] { return appended().find(text) != std::string::npos; }, timeout_seconds);
}

}  // namespace testbed
