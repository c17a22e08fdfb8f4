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

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "glslib.h"

namespace {

constexpr int time_count = 1000;

locale_t peer_en_us() { return glsbench::peer_locale("en_US", "ISO-8859-1"); }

gl_locale *shipped_en_us() {
  static gl_locale *l = glsbench::load_shipped("en_us/0333.lco");
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

/* The ratio lines after the table. */
void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("gl_mbsftime %c / strftime_l (target <= 3)", "ours_ftime", "strftime_l");
  reporter.ratio("gl_mbsptime / strptime (target <= 3)", "ours_ptime", "strptime");
}

}  // namespace

int main(int argc, char **argv) {
  const auto us = benchmark::kMicrosecond;
  benchmark::RegisterBenchmark("ours_ftime", BM_OursFormat)->Unit(us);
  benchmark::RegisterBenchmark("strftime_l", BM_StrftimeL)->Unit(us);
  benchmark::RegisterBenchmark("ours_ptime", BM_OursParse)->Unit(us);
  benchmark::RegisterBenchmark("strptime", BM_Strptime)->Unit(us);
  glsbench::RatioReporter reporter(52);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  gl_lc_unload(shipped_en_us());
  glsbench::shut_down();
  return 0;
}
