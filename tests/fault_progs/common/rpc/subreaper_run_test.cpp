/*
** subreaper_run and the runner helpers of testbed_support: every process
** of the command's tree is reaped and reported, a time-out kills what is
** left, and nothing outlives the test.
*/
#include <signal.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testbed_support.h"

namespace {

using testbed::ReapedExit;
using testbed::ReapedResult;
using testbed::ReapedRunner;
using testbed::run_reaped;
using ::testing::HasSubstr;
using ::testing::SizeIs;

bool gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

TEST(SubreaperRun, ReportsTheChildAndTheOrphanItLeft) {
  /* The shell exits 0 at once; its background job is orphaned, comes to
  ** the runner and exits 7 later. */
  ReapedResult r = run_reaped({"/bin/sh", "-c", "(sleep 0.3; exit 7) & exit 0"});
  ASSERT_GT(r.child, 0) << r.report;
  EXPECT_EQ(r.runner_status, 0);
  EXPECT_FALSE(r.timed_out);
  ASSERT_THAT(r.reaped, SizeIs(2)) << r.report;
  const ReapedExit *child = r.find(r.child);
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(child->exited);
  EXPECT_EQ(child->status, 0);
  ASSERT_THAT(r.others(), SizeIs(1));
  EXPECT_TRUE(r.others()[0].exited);
  EXPECT_EQ(r.others()[0].status, 7);
  EXPECT_EQ(r.report.substr(0, 8), "started ");
}

TEST(SubreaperRun, StatusesSignalsAndStartFailures) {
  struct Case {
    std::vector<std::string> argv;
    bool exited;
    int status;
  } cases[] = {
      {{"/bin/sh", "-c", "exit 3"}, true, 3},
      {{"/bin/sh", "-c", "kill -TERM $$"}, false, SIGTERM},
      {{"/nonexistent/program"}, true, 127},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.argv[0] + " " + (k.argv.size() > 2 ? k.argv[2] : ""));
    ReapedResult r = run_reaped(k.argv);
    const ReapedExit *child = r.find(r.child);
    ASSERT_NE(child, nullptr) << r.report;
    EXPECT_EQ(child->exited, k.exited);
    EXPECT_EQ(child->status, k.status);
    EXPECT_EQ(r.runner_status, 0);
  }
}

TEST(SubreaperRun, TimeoutKillsEveryDescendant) {
  ReapedResult r = run_reaped({"/bin/sh", "-c", "sleep 1000 & sleep 1000; exit 0"}, {}, 1);
  EXPECT_TRUE(r.timed_out) << r.report;
  ASSERT_GE(r.reaped.size(), 2u) << r.report;
  for (const auto &e : r.reaped) {
    EXPECT_FALSE(e.exited) << e.pid;
    EXPECT_EQ(e.status, SIGKILL) << e.pid;
    EXPECT_TRUE(gone(e.pid));
  }
  EXPECT_NE(r.find(r.child), nullptr);
}

TEST(SubreaperRun, EnvironmentChangesAndOutput) {
  ::setenv("DVZ_RUNNER_DROPPED", "1", 1);
  ReapedResult r = run_reaped({"/bin/sh", "-c",
                               "echo out; echo err >&2; test \"$DVZ_RUNNER_SET\" = 'a b' && test "
                               "-z \"${DVZ_RUNNER_DROPPED+set}\""},
                              {"DVZ_RUNNER_SET=a b", "DVZ_RUNNER_DROPPED"});
  ::unsetenv("DVZ_RUNNER_DROPPED");
  const ReapedExit *child = r.find(r.child);
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(child->exited);
  EXPECT_EQ(child->status, 0) << r.output;
  EXPECT_THAT(r.output, HasSubstr("out\n"));
  EXPECT_THAT(r.output, HasSubstr("err\n"));
}

TEST(SubreaperRun, RunnerObjectSeesTheTreeAndCleansItUp) {
  std::vector<pid_t> tree;
  pid_t child = -1;
  {
    ReapedRunner run({"/bin/sh", "-c", "sleep 1000 & sleep 1000; exit 0"}, {}, 0);
    child = run.child();
    ASSERT_GT(child, 0);
    ASSERT_TRUE(testbed::wait_until([&] { return run.live_descendants().size() >= 3; }, 30));
    tree = run.live_descendants();
  }
  for (pid_t p : tree)
    EXPECT_TRUE(gone(p)) << p;
  EXPECT_TRUE(gone(child));
}

TEST(LogTail, ReturnsOnlyWhatWasAppended) {
  dvz_test::TempDir dir;
  std::string log = dir.file("log");
  ASSERT_TRUE(testbed::replace_file(log, "before\n"));
  testbed::LogTail tail(log);
  EXPECT_EQ(tail.appended(), "");
  FILE *f = fopen(log.c_str(), "a");
  ASSERT_NE(f, nullptr);
  fputs("after\n", f);
  fclose(f);
  EXPECT_EQ(tail.appended(), "after\n");
  EXPECT_TRUE(tail.wait_for("after", 1));
  testbed::LogTail fresh(dir.file("missing"));
  EXPECT_EQ(fresh.appended(), "");
}

}  // namespace
