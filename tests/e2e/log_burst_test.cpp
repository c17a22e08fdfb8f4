/*
** A huge burst of DBMS log text between two probes, end to end: 200 MB
** appended while the monitor sleeps. A log rule still sees the text at the
** end of the burst, and the monitor's resident size after that probe stays
** within a few MiB of what it was before.
*/
#include <fcntl.h>

#include <chrono>

#include "e2e_support.h"

namespace e2e {
namespace {

constexpr size_t burst_bytes = size_t {200} << 20;
constexpr long rss_slack_kib = 4 * 1024;

/* VmRSS of pid in KiB, or -1. */
long resident_kib(pid_t pid) {
  std::string status = dvz_test::read_file("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("VmRSS:");
  if (at == std::string::npos) return -1;
  return strtol(status.c_str() + at + 6, nullptr, 10);
}

/* Appends `bytes` of filler lines to path in big writes, then `last`. */
bool append_burst(const std::string &path, size_t bytes, const std::string &last) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  std::string line = "filler line of a very chatty database server, nothing to see here\n";
  std::string chunk;
  while (chunk.size() + line.size() <= (size_t {1} << 20))
    chunk += line;
  bool ok = true;
  for (size_t written = 0; ok && written < bytes; written += chunk.size())
    ok = testbed::write_all(fd, chunk);
  ok = ok && testbed::write_all(fd, last);
  close(fd);
  return ok;
}

class LogBurst : public Scenario {};

TEST_F(LogBurst, RuleSeesTheEndOfA200MBBurstAndMemoryStaysBounded) {
  /* A 3 s cycle leaves time to write the burst between two probes; no
  ** verbose dump, which would log every line of the text. */
  auto run = start({"HA_DBMS_VERBOSE=0"}, {"-m", "lh1", "dvz1", "3", "0", "2", "0",
                                           dir_.file("actions"), dir_.file("dbms.log")});
  const pid_t monitor = daemon_pid();
  ASSERT_GT(monitor, 0);
  wait_on_line();
  ASSERT_TRUE(wait_until_sleeping());
  long before = resident_kib(monitor);
  ASSERT_GT(before, 0);

  auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(append_burst(dir_.file("dbms.log"), burst_bytes, "Assert Failed at the very end\n"));
  double write_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  ASSERT_TRUE(
      testbed::wait_until([&] { return action_lines("assertion failure in DBMS log") > 0; }, 60));
  ASSERT_TRUE(wait_command("kesmadm -g -s dovariza -l node2"));
  ASSERT_TRUE(wait_until_sleeping(60));
  long after = resident_kib(monitor);
  EXPECT_LT(after, before + rss_slack_kib) << "before " << before << " KiB, after " << after
                                           << " KiB (burst written in " << write_seconds << " s)";

  expect_orderly_end_on_sigterm(monitor, *run);
}

}  // namespace
}  // namespace e2e
