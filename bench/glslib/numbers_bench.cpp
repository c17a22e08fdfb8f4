/*
** Numbers and money against the C library in the same run, on 1000 values
** in the shipped en_us/0333.lco and the C library's en_US ISO-8859-1:
**   - gl_mbsfnum "%'d" and "%.2f" against snprintf under uselocale;
**   - gl_mbsfmon "%n" against strfmon_l.
** Prints the ratios after Google Benchmark's own table. Never a test.
*/
#include <locale.h>
#include <monetary.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "glslib.h"

namespace {

constexpr int value_count = 1000;

locale_t peer_en_us() { return glsbench::peer_locale("en_US", "ISO-8859-1"); }

gl_locale *shipped_en_us() {
  static gl_locale *l = glsbench::load_shipped("en_us/0333.lco");
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

/* The ratio lines after the table. */
void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("gl_mbsfnum %'d / snprintf (target <= 3)", "ours_int", "snprintf_int");
  reporter.ratio("gl_mbsfnum %.2f / snprintf (target <= 3)", "ours_float", "snprintf_float");
  reporter.ratio("gl_mbsfmon %n / strfmon_l (target <= 3)", "ours_money", "strfmon_l");
}

}  // namespace

int main(int argc, char **argv) {
  const auto us = benchmark::kMicrosecond;
  benchmark::RegisterBenchmark("ours_int", BM_OursInt)->Unit(us);
  benchmark::RegisterBenchmark("snprintf_int", BM_SnprintfInt)->Unit(us);
  benchmark::RegisterBenchmark("ours_float", BM_OursFloat)->Unit(us);
  benchmark::RegisterBenchmark("snprintf_float", BM_SnprintfFloat)->Unit(us);
  benchmark::RegisterBenchmark("ours_money", BM_OursMoney)->Unit(us);
  benchmark::RegisterBenchmark("strfmon_l", BM_StrfmonL)->Unit(us);
  glsbench::RatioReporter reporter(52);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  gl_lc_unload(shipped_en_us());
  glsbench::shut_down();
  return 0;
}
