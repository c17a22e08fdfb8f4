/*
** The catalog reader's kept index block: rgetlmsg of a number whose entry
** is in the block read last (one seek and one text read) against the same
** look-up after rclosemsg (open, header, binary search of the index,
** text). A catalog of 200 entries is written into a scratch DOVARIZADIR
** at start, beside a link to the build's locale data, from which the
** client locale initialises once, before the timed loops.
*/
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "catalog_encoder.h"
#include "os_messages.h"

namespace {

constexpr int32_t probe_number = -206;

void expect_text(benchmark::State &state, int result) {
  if (result != 0) state.SkipWithError("look-up failed");
}

void BM_KeptBlock(benchmark::State &state) {
  char buffer[256];
  int32_t length = 0;
  expect_text(state, rgetlmsg(probe_number, buffer, sizeof buffer, &length));
  for (auto _ : state) {
    int result = rgetlmsg(probe_number, buffer, sizeof buffer, &length);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(buffer);
  }
}

void BM_AfterClose(benchmark::State &state) {
  char buffer[256];
  int32_t length = 0;
  expect_text(state, rgetlmsg(probe_number, buffer, sizeof buffer, &length));
  for (auto _ : state) {
    rclosemsg();
    int result = rgetlmsg(probe_number, buffer, sizeof buffer, &length);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(buffer);
  }
}

void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("kept block / after rclosemsg", "kept_block", "after_rclosemsg");
}

}  // namespace

int main(int argc, char **argv) {
  const std::string dir = glsbench::scratch().file("dovariza");
  std::vector<catalog_test::message> messages;
  for (int32_t number = -399; number <= -200; ++number) {
    messages.push_back({number, "Text of message " + std::to_string(number) + "."});
  }
  catalog_test::write_catalog(dir + "/msg/en_us/0333/csql.iem", messages,
                              catalog_test::entry_width::narrow);
  if (symlink(DVZ_BUILD_DOVARIZADIR "/gls", (dir + "/gls").c_str()) != 0) {
    std::perror("linking the build's locale data");
    return 1;
  }
  setenv("DOVARIZADIR", dir.c_str(), 1);
  for (const char *name : {"DBLANG", "LANG", "CLIENT_LOCALE", "DB_LOCALE", "DBNLS", "DBDATE",
                           "GL_DATE", "DVZ_FREE_FD"})
    unsetenv(name);

  benchmark::RegisterBenchmark("kept_block", BM_KeptBlock)->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("after_rclosemsg", BM_AfterClose)->Unit(benchmark::kNanosecond);
  glsbench::RatioReporter reporter(30);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  rclosemsg();
  glsbench::shut_down();
  return 0;
}
