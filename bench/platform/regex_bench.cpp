/*
** Searches a 1 MiB multi-line log text with our regex and with glibc
** regexec on the equivalent extended expression, in the same run, and
** prints the time ratio per pattern. Each pattern is found only in the
** last line, so both scan the whole text.
*/
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <regex.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "svr4.h"

namespace {

struct BenchCase {
  const char *name;
  const char *pattern; /* our syntax */
  const char *ere; /* the same as a POSIX extended expression */
};

constexpr BenchCase bench_cases[] = {
    {"literal", "shared memory segment lost", "shared memory segment lost"},
    {"class_repeat", "[0-9]{7,}", "[0-9]{7,}"},
    {"nested_group_star", "(tx(-[0-9]+)*;)*rolled back", "(tx(-[0-9]+)*;)*rolled back"},
};

/* A DBMS message log of about 1 MiB; the needles are in its last line. */
const std::string &log_text() {
  static const std::string text = [] {
    static constexpr const char *events[] = {
        "Checkpoint Completed: duration was 0 seconds.",
        "Logical Log 4711 Complete, timestamp: 0x1a2b3c.",
        "tx-12-345; committed after 17 ms (lock wait 3 ms)",
        "Listener-thread err = -25572: Network driver cannot accept a connection.",
        "Maximum server connections 96, session 20481 from dvz1@lh1 closed",
        "Dynamically allocated new virtual shared memory segment (size 8192KB)",
    };
    std::string out;
    unsigned seed = 1;
    while (out.size() < (1u << 20) - 200) {
      seed = seed * 1103515245u + 12345u;
      char stamp[64];
      std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u  ", (seed >> 8) % 24, (seed >> 12) % 60,
                    (seed >> 18) % 60);
      out += stamp;
      out += events[(seed >> 16) % std::size(events)];
      out += '\n';
    }
    out += "23:59:59  shared memory segment lost, block 31415926, tx-7-8;rolled back\n";
    return out;
  }();
  return text;
}

struct Compiled {
  char *ours;
  regex_t peer;
};

/* Compiles every case once and checks that each pattern is found only in
** the last line, by both matchers. */
const std::vector<Compiled> &compiled_cases() {
  static const std::vector<Compiled> cases = [] {
    const std::string &text = log_text();
    const std::string head = text.substr(0, text.rfind('\n', text.size() - 2) + 1);
    std::vector<Compiled> out;
    for (const BenchCase &c : bench_cases) {
      Compiled compiled {regcmp(c.pattern), {}};
      if (compiled.ours == nullptr ||
          regcomp(&compiled.peer, c.ere, REG_EXTENDED | REG_NOSUB) != 0) {
        std::fprintf(stderr, "%s: pattern rejected\n", c.name);
        std::exit(1);
      }
      bool ours_whole = regex(compiled.ours, text.c_str()) != nullptr;
      bool ours_head = regex(compiled.ours, head.c_str()) != nullptr;
      bool peer_whole = regexec(&compiled.peer, text.c_str(), 0, nullptr, 0) == 0;
      bool peer_head = regexec(&compiled.peer, head.c_str(), 0, nullptr, 0) == 0;
      if (!ours_whole || ours_head || !peer_whole || peer_head) {
        std::fprintf(stderr, "%s: not found in the last line only\n", c.name);
        std::exit(1);
      }
      out.push_back(compiled);
    }
    return out;
  }();
  return cases;
}

void BM_Ours(benchmark::State &state) {
  const Compiled &c = compiled_cases()[static_cast<size_t>(state.range(0))];
  const char *subject = log_text().c_str();
  for (auto _ : state)
    benchmark::DoNotOptimize(regex(c.ours, subject));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log_text().size()));
}

void BM_Glibc(benchmark::State &state) {
  const Compiled &c = compiled_cases()[static_cast<size_t>(state.range(0))];
  const char *subject = log_text().c_str();
  for (auto _ : state)
    benchmark::DoNotOptimize(regexec(&c.peer, subject, 0, nullptr, 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log_text().size()));
}

/* Prints as usual and keeps the time per iteration of every run. */
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run> &reports) override {
    for (const Run &run : reports)
      if (!run.error_occurred && run.run_type == Run::RT_Iteration)
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(reports);
  }

  /* One line per case: ours, glibc and ours/glibc. */
  void print_ratios() const {
    std::printf("\n%-20s %12s %12s %8s\n", "case", "ours", "glibc", "ratio");
    for (size_t i = 0; i < std::size(bench_cases); ++i) {
      auto ours = times_.find("ours/" + std::to_string(i));
      auto glibc = times_.find("glibc/" + std::to_string(i));
      if (ours == times_.end() || glibc == times_.end()) continue;
      std::printf("%-20s %12.3f %12.3f %8.2f\n", bench_cases[i].name, ours->second, glibc->second,
                  ours->second / glibc->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char **argv) {
  for (size_t i = 0; i < std::size(bench_cases); ++i) {
    benchmark::RegisterBenchmark("ours", BM_Ours)
        ->Arg(static_cast<int64_t>(i))
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("glibc", BM_Glibc)
        ->Arg(static_cast<int64_t>(i))
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  compiled_cases();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  for (const Compiled &c : compiled_cases()) {
    regcmp_free(c.ours);
    regfree(const_cast<regex_t *>(&c.peer));
  }
  benchmark::Shutdown();
  return 0;
}
