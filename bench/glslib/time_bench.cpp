/*
** Time formatting against the C library in the same run, on 1000 random
** times in the shipped en_us/0333.lco and the C library's en_US
** ISO-8859-1: gl_mbsftime "%c" against strftime_l "%c", and gl_mbsptime
** against strptime under uselocale on the texts strftime_l writes for a
** format of names and numbers whose meaning the two share.
** Prints the ratio after Google Benchmark's own table. Never a test.
*/
#include <locale.h>
#include <time.h>
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

constexpr int time_count = 1000;

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

/* Random times of 1970-2037 as the C library's struct tm (timegm fills
** the weekday and the day of the year) and as gl_time_rec. */
struct Times {
  std::vector<struct tm> c;
  std::vector<gl_time_rec> ours;
};

const Times &times() {
  static const Times t = [] {
    std::mt19937 rng(44);
    std::uniform_int_distribution<long> seconds(0, 2145916800L);
    Times out;
    for (int i = 0; i < time_count; ++i) {
      time_t when = static_cast<time_t>(seconds(rng));
      struct tm c {};
      gmtime_r(&when, &c);
      out.c.push_back(c);
      gl_time_rec g {};
      g.tm_sec = c.tm_sec;
      g.tm_min = c.tm_min;
      g.tm_hour = c.tm_hour;
      g.tm_mday = c.tm_mday;
      g.tm_mon = c.tm_mon;
      g.tm_year = c.tm_year;
      g.tm_wday = c.tm_wday;
      g.tm_yday = c.tm_yday;
      out.ours.push_back(g);
    }
    return out;
  }();
  return t;
}

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

/* The parsed format and its texts for the random times. */
constexpr const char *parse_format = "%a %d %b %Y %I:%M:%S %p";

const std::vector<std::string> &parse_texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out;
    char text[128];
    for (const struct tm &t : times().c) {
      strftime_l(text, sizeof text, parse_format, &t, peer_en_us());
      out.push_back(text);
    }
    return out;
  }();
  return texts;
}

void BM_OursParse(benchmark::State &state) {
  gl_locale *l = shipped_en_us();
  const std::vector<std::string> &texts = parse_texts();
  gl_time_rec t {};
  for (auto _ : state)
    for (const std::string &text : texts)
      benchmark::DoNotOptimize(gl_mbsptime(l, U(text.c_str()), U(parse_format), &t, 'C'));
}

void BM_Strptime(benchmark::State &state) {
  const std::vector<std::string> &texts = parse_texts();
  locale_t previous = uselocale(peer_en_us());
  struct tm t {};
  for (auto _ : state)
    for (const std::string &text : texts)
      benchmark::DoNotOptimize(strptime(text.c_str(), parse_format, &t));
  uselocale(previous);
}

void BM_OursFormat(benchmark::State &state) {
  gl_locale *l = shipped_en_us();
  std::vector<gl_time_rec> recs = times().ours;
  unsigned char out[128];
  for (auto _ : state)
    for (gl_time_rec &t : recs)
      benchmark::DoNotOptimize(gl_mbsftime(l, out, sizeof out, U("%c"), &t));
}

void BM_StrftimeL(benchmark::State &state) {
  locale_t peer = peer_en_us();
  char out[128];
  for (auto _ : state)
    for (const struct tm &t : times().c)
      benchmark::DoNotOptimize(strftime_l(out, sizeof out, "%c", &t, peer));
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
    ratio("gl_mbsftime %c / strftime_l (target <= 3)", "ours_ftime", "strftime_l");
    ratio("gl_mbsptime / strptime (target <= 3)", "ours_ptime", "strptime");
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
  benchmark::RegisterBenchmark("ours_ftime", BM_OursFormat)->Unit(us);
  benchmark::RegisterBenchmark("strftime_l", BM_StrftimeL)->Unit(us);
  benchmark::RegisterBenchmark("ours_ptime", BM_OursParse)->Unit(us);
  benchmark::RegisterBenchmark("strptime", BM_Strptime)->Unit(us);
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
