/*
** Numbers and money against the C library in the same run, on 1000 values
** in the shipped en_us/0333.lco and the C library's en_US ISO-8859-1:
**   - gl_mbsfnum "%'d" and "%.2f" against snprintf under uselocale;
**   - gl_mbsfmon "%n" against strfmon_l.
** Prints the ratios after Google Benchmark's own table. Never a test.
*/
#include <locale.h>
#include <monetary.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "glslib.h"
#include "temp_dir.h"

/* newlocale keeps its LOCPATH list for the life of the process: not a
** leak of ours, and a leak report would end a sanitizer build's run. */
extern "C" const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }

namespace {

constexpr int value_count = 1000;

const dvz_test::TempDir &scratch() {
  static const dvz_test::TempDir dir;
  return dir;
}

locale_t peer_en_us() {
  static locale_t l = [] {
    const std::string dir = scratch().file("peer-en");
    std::string cmd = "localedef -i en_US -f ISO-8859-1 '" + dir + "' >/dev/null 2>&1";
    int status = std::system(cmd.c_str());
    setenv("LOCPATH", scratch().path().c_str(), 1);
    locale_t made = newlocale(LC_ALL_MASK, "peer-en", nullptr);
    unsetenv("LOCPATH");
    if (made == nullptr) {
      std::fprintf(stderr, "cannot compile en_US ISO-8859-1 (localedef status %d)\n", status);
      std::exit(1);
    }
    return made;
  }();
  return l;
}

gl_locale *shipped_en_us() {
  static gl_locale *l = [] {
    setenv("GL_PATH", GLS_SOURCE_DATA "/lc11", 1);
    gl_locale *made = nullptr;
    if (gl_create_null_locale_4(&made) != 0) std::exit(1);
    char *query = gl_setlocale_4(made, GL_ALL, "en_us/0333.lco");
    if (query == nullptr || made->error != 0) {
      std::fprintf(stderr, "en_us/0333.lco does not load (error %d)\n", made->error);
      std::exit(1);
    }
    gl_destroystring(query);
    return made;
  }();
  return l;
}

const std::vector<int> &ints() {
  static const std::vector<int> v = [] {
    std::mt19937 rng(42);
    std::vector<int> out;
    for (int i = 0; i < value_count; ++i)
      out.push_back(static_cast<int>(rng()));
    return out;
  }();
  return v;
}

const std::vector<double> &doubles() {
  static const std::vector<double> v = [] {
    std::mt19937 rng(43);
    std::vector<double> out;
    for (int i = 0; i < value_count; ++i)
      out.push_back((static_cast<double>(rng()) - 2147483648.0) / 100);
    return out;
  }();
  return v;
}

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

void BM_OursInt(benchmark::State &state) {
  gl_locale *l = shipped_en_us();
  unsigned char out[64];
  for (auto _ : state)
    for (int v : ints())
      benchmark::DoNotOptimize(gl_mbsfnum(l, out, sizeof out, U("%'d"), v));
}

void BM_SnprintfInt(benchmark::State &state) {
  locale_t old = uselocale(peer_en_us());
  char out[64];
  for (auto _ : state)
    for (int v : ints())
      benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "%'d", v));
  uselocale(old);
}

void BM_OursFloat(benchmark::State &state) {
  gl_locale *l = shipped_en_us();
  unsigned char out[64];
  for (auto _ : state)
    for (double v : doubles())
      benchmark::DoNotOptimize(gl_mbsfnum(l, out, sizeof out, U("%.2f"), v));
}

void BM_SnprintfFloat(benchmark::State &state) {
  locale_t old = uselocale(peer_en_us());
  char out[64];
  for (auto _ : state)
    for (double v : doubles())
      benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "%.2f", v));
  uselocale(old);
}

void BM_OursMoney(benchmark::State &state) {
  gl_locale *l = shipped_en_us();
  unsigned char out[64];
  for (auto _ : state)
    for (double v : doubles())
      benchmark::DoNotOptimize(gl_mbsfmon(l, out, sizeof out, U("%n"), v));
}

void BM_StrfmonL(benchmark::State &state) {
  locale_t peer = peer_en_us();
  char out[64];
  for (auto _ : state)
    for (double v : doubles())
      benchmark::DoNotOptimize(strfmon_l(out, sizeof out, peer, "%n", v));
}

/* Prints as usual and keeps the time per iteration of every run. */
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run> &reports) override {
    for (const Run &run : reports) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration)
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(reports);
  }

  void print_ratios() const {
    std::printf("\n%-52s %10s\n", "comparison", "ratio");
    ratio("gl_mbsfnum %'d / snprintf (target <= 3)", "ours_int", "snprintf_int");
    ratio("gl_mbsfnum %.2f / snprintf (target <= 3)", "ours_float", "snprintf_float");
    ratio("gl_mbsfmon %n / strfmon_l (target <= 3)", "ours_money", "strfmon_l");
  }

 private:
  void ratio(const char *label, const std::string &ours, const std::string &base) const {
    auto a = times_.find(ours);
    auto b = times_.find(base);
    if (a != times_.end() && b != times_.end() && b->second > 0)
      std::printf("%-52s %10.2f\n", label, a->second / b->second);
  }
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char **argv) {
  const auto us = benchmark::kMicrosecond;
  benchmark::RegisterBenchmark("ours_int", BM_OursInt)->Unit(us);
  benchmark::RegisterBenchmark("snprintf_int", BM_SnprintfInt)->Unit(us);
  benchmark::RegisterBenchmark("ours_float", BM_OursFloat)->Unit(us);
  benchmark::RegisterBenchmark("snprintf_float", BM_SnprintfFloat)->Unit(us);
  benchmark::RegisterBenchmark("ours_money", BM_OursMoney)->Unit(us);
  benchmark::RegisterBenchmark("strfmon_l", BM_StrfmonL)->Unit(us);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  std::fflush(stdout); /* before any exit-time report of a sanitizer build */
  gl_lc_unload(shipped_en_us());
  freelocale(peer_en_us());
  benchmark::Shutdown();
  return 0;
}
