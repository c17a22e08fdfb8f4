/*
** The SQLI server double as a test's child process (sqli_double_process.h).
** Linked by the GoogleTest suites through dvz_testbed_support.
**
** The double is a Python program in the source tree (its path comes from
** the build as DVZ_SQLI_DOUBLE_SCRIPT); it is started with posix_spawnp so
** that python3 is found on PATH, with every descriptor above 2 closed in the
** child: a test's own sockets must not live on in the double, or closing
** them would never reach the peer.
*/
#include "sqli_double_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "testbed_support.h"

extern char **environ;

namespace testbed {

namespace {

/* The value of one journal field: "" is empty, \xNN is one byte. */
std::string unescape(std::string_view text) {
  if (text == "\"\"") return {};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out +=
          static_cast<char>(std::strtol(std::string(text.substr(i + 2, 2)).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

/* Kills and reaps `pid` at once. */
void kill_and_reap(pid_t pid) {
  kill(pid, SIGKILL);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
}

}  // namespace

/* ---- SqliJournalEntry ---- */

std::string SqliJournalEntry::get(std::string_view key) const {
  auto it = fields.find(std::string(key));
  return it == fields.end() ? std::string() : it->second;
}

std::vector<std::string> SqliJournalEntry::all(std::string_view key) const {
  std::vector<std::string> out;
  auto [first, last] = fields.equal_range(std::string(key));
  for (auto it = first; it != last; ++it)
    out.push_back(it->second);
  return out;
}

bool SqliJournalEntry::has(std::string_view key) const {
  return fields.count(std::string(key)) > 0;
}

long SqliJournalEntry::number(std::string_view key, long fallback) const {
  if (!has(key)) return fallback;
  std::string v = get(key);
  char *end = nullptr;
  errno = 0;
  long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || errno != 0) return fallback;
  return n;
}

std::string SqliJournalEntry::raw() const {
  std::string hex = get("raw");
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

SqliJournalEntry parse_sqli_journal_line(std::string_view line) {
  SqliJournalEntry e;
  e.line = std::string(line);
  std::istringstream words {e.line};
  for (std::string word; words >> word;) {
    size_t eq = word.find('=');
    if (eq == std::string::npos) continue;
    e.fields.emplace(word.substr(0, eq), unescape(std::string_view(word).substr(eq + 1)));
  }
  return e;
}

/* ---- SqliDouble ---- */

SqliDouble::SqliDouble(std::vector<std::string> options, double ready_seconds) {
  const std::string ready = dir_.file("ready");
  const std::string log = dir_.file("double.log");
  std::vector<std::string> args {"python3", "-B",        DVZ_SQLI_DOUBLE_SCRIPT, "--ready",
                                 ready,     "--journal", journal_path()};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char *> argv;
  for (auto &a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, "python3", &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error(std::string("cannot start python3: ") + std::strerror(rc));
  pid_ = pid;

  std::optional<int> exited;
  bool up = wait_until(
      [&] {
        exited = wait_bounded(pid_, 0);
        if (exited) return true;
        std::string text = dvz_test::read_file(ready);
        return !text.empty() && text.back() == '\n';
      },
      ready_seconds);
  if (up && !exited) {
    const std::string text = dvz_test::read_file(ready);
    port_ = std::atoi(text.c_str());
    /* With --replay, the raw replay port is the second line. */
    if (size_t nl = text.find('\n'); nl != std::string::npos && nl + 1 < text.size())
      raw_port_ = std::atoi(text.c_str() + nl + 1);
    if (port_ > 0) return;
  }
  if (!exited) kill_and_reap(pid_);
  pid_ = -1;
  throw std::runtime_error("the SQLI double did not get ready: " + output());
}

SqliDouble::~SqliDouble() { stop(10); }

std::string SqliDouble::journal_path() const { return dir_.file("journal"); }

std::string SqliDouble::output() const { return dvz_test::read_file(dir_.file("double.log")); }

std::vector<std::string> SqliDouble::journal_lines() const {
  std::vector<std::string> lines;
  std::istringstream in(dvz_test::read_file(journal_path()));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::vector<SqliJournalEntry> SqliDouble::journal() const {
  std::vector<SqliJournalEntry> out;
  for (const auto &line : journal_lines())
    out.push_back(parse_sqli_journal_line(line));
  return out;
}

std::vector<SqliJournalEntry> SqliDouble::entries(std::string_view what) const {
  std::vector<SqliJournalEntry> out;
  for (auto &e : journal())
    if (e.get("what") == what) out.push_back(std::move(e));
  return out;
}

bool SqliDouble::wait_for(const std::function<bool(const SqliJournalEntry &)> &pred,
                          double timeout_seconds) const {
  return wait_until(
      [&] {
        for (const auto &e : journal())
          if (pred(e)) return true;
        return false;
      },
      timeout_seconds);
}

bool SqliDouble::wait_for_what(std::string_view what, double timeout_seconds) const {
  return wait_for([&](const SqliJournalEntry &e) { return e.get("what") == what; },
                  timeout_seconds);
}

int SqliDouble::stop(double timeout_seconds) {
  if (pid_ <= 0) return -1;
  const int status = stop_child(pid_, timeout_seconds);
  pid_ = -1;
  return status;
}

}  // namespace testbed
