/*
** The locale library's single-byte fast paths and loader, each against a
** baseline measured in the same run:
**   - class_map and upper_map loops over 64 KiB of Latin-1 text against
**     the C library's isalpha_l and toupper_l in the same locale (compiled
**     with localedef into a temporary directory);
**   - loading a COLLATE section of 10n rows against one of n rows (the row
**     classification must stay linear: the ratio shows it);
**   - loading the shipped en_us/0333.lco and en_us/e01c.lco (UTF-8, every
**     Unicode scalar value), for information, with the peak resident size
**     of a process that loads the UTF-8 file (measured in a child).
** Prints the ratios after Google Benchmark's own table. Never a test.
*/
#include <fcntl.h>
#include <locale.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "gl_locale.h"
#include "glslib.h"

namespace {

constexpr int small_rows = 2000;
constexpr int row_factor = 10;

using glsbench::load_shipped;
using glsbench::scratch;

/* en_US in ISO-8859-1, from the system's locale sources. */
locale_t peer_locale() { return glsbench::peer_locale("en_US", "ISO-8859-1"); }

gl_locale *shipped_en_us() {
  static gl_locale *r = load_shipped("en_us/0333.lco");
  return r;
}

/* 64 KiB of Latin-1 text: letters, digits, blanks, punctuation and upper
** half characters. */
const std::vector<unsigned char> &text() {
  static const std::vector<unsigned char> t = [] {
    std::vector<unsigned char> out(1 << 16);
    unsigned seed = 7;
    for (unsigned char &c : out) {
      seed = seed * 1103515245u + 12345u;
      c = static_cast<unsigned char>(1 + (seed >> 16) % 255);
    }
    return out;
  }();
  return t;
}

void BM_ClassMap(benchmark::State &state) {
  const uint16_t *map = shipped_en_us()->class_map;
  for (auto _ : state) {
    int n = 0;
    for (unsigned char c : text())
      n += (map[c] & GL_CLASS_ALPHA) != 0;
    benchmark::DoNotOptimize(n);
  }
}

void BM_IsalphaL(benchmark::State &state) {
  locale_t loc = peer_locale();
  for (auto _ : state) {
    int n = 0;
    for (unsigned char c : text())
      n += isalpha_l(c, loc) != 0;
    benchmark::DoNotOptimize(n);
  }
}

void BM_UpperMap(benchmark::State &state) {
  const unsigned char *map = shipped_en_us()->upper_map;
  std::vector<unsigned char> out(text().size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = map[text()[i]];
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_ToupperL(benchmark::State &state) {
  locale_t loc = peer_locale();
  std::vector<unsigned char> out(text().size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<unsigned char>(toupper_l(text()[i], loc));
    benchmark::DoNotOptimize(out.data());
  }
}

void ub2_writer(FILE *stream, const void *entry, int) {
  uint16_t v;
  std::memcpy(&v, entry, sizeof v);
  std::fprintf(stream, "%04x", v);
}

/* Text form of a single-byte table: byte b -> value(b). */
template <typename Value>
std::string byte_table(Value value) {
  const uint16_t zero = 0;
  gl_multi_t *t = _gl_create_multi(2, GL_MULTI_VALID, &zero);
  for (int b = 0; b < 256; ++b) {
    gl_char_desc key {1, {static_cast<unsigned char>(b), 0, 0, 0}};
    uint16_t v = value(b);
    _gl_insert_desc_multi(&key, &v, t);
  }
  char *buf = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buf, &size);
  _gl_fprintf_multi(out, t, ub2_writer);
  std::fclose(out);
  std::string s(buf, size);
  std::free(buf);
  _gl_free_multi(t);
  return s;
}

/* A locale file whose COLLATE has `rows` rows ordered by two passes, every
** tenth row equal to the one before it (so the classification finds
** classes), the bytes spread over the rows. */
std::string collate_file(int rows) {
  std::string out =
      "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nHEADER_LINES=3\n8859-1\n### LC_CTYPE\n";
  out += byte_table([](int b) { return static_cast<uint16_t>(std::isalpha(b) ? 4 | 256 : 256); });
  out += "0\n" + byte_table([](int) { return uint16_t {0}; }) + "0 1\n";
  out += "### LC_COLLATE\nas_specified\n";
  out += byte_table([rows](int b) { return static_cast<uint16_t>(b * (rows - 1) / 255); });
  const int highest_weight = 2 + std::max(((rows - 1) >> 12), std::min(rows - 1, 0xFFF));
  out +=
      "0 " + std::to_string(rows - 1) + " 2 0 0 " + std::to_string(highest_weight) + "\n00010001\n";
  char w[32];
  for (int r = 0; r < rows; ++r) {
    int key = r % 10 == 9 ? r - 1 : r;
    std::snprintf(w, sizeof w, "%04x %04x\n", 2 + (key >> 12), 2 + (key & 0xFFF));
    out += w;
  }
  return out;
}

std::string write_fixture(int rows) {
  std::string name = "coll" + std::to_string(rows) + ".lco";
  scratch().write(name, collate_file(rows));
  return name;
}

void BM_CollateLoad(benchmark::State &state) {
  const int rows = static_cast<int>(state.range(0));
  std::string name = write_fixture(rows);
  setenv("GL_PATH", scratch().path().c_str(), 1);
  gl_locale *r = nullptr;
  gl_create_null_locale_4(&r);
  gl_destroystring(gl_setlocale_4(r, GL_CTYPE, name.c_str()));
  for (auto _ : state) {
    char *q = gl_setlocale_4(r, GL_COLLATE, name.c_str());
    if (q == nullptr || r->highest_row != rows - 1) {
      state.SkipWithError("COLLATE does not load");
      break;
    }
    gl_destroystring(q);
  }
  gl_lc_unload(r);
}

void BM_LoadEnUs(benchmark::State &state) {
  for (auto _ : state) {
    gl_locale *r = load_shipped("en_us/0333.lco");
    gl_lc_unload(r);
  }
}

constexpr const char utf8_file[] = "en_us/e01c.lco";

void BM_LoadEnUsUtf8(benchmark::State &state) {
  for (auto _ : state) {
    gl_locale *r = load_shipped(utf8_file);
    gl_lc_unload(r);
  }
}

/* Peak resident size (KiB) of a child process before and after it loads
** the UTF-8 file: {before, after}, or {-1, -1} when the child fails. */
std::pair<long, long> utf8_load_rss() {
  int fds[2];
  if (pipe(fds) != 0) return {-1, -1};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    long sizes[2] = {usage.ru_maxrss, -1};
    gl_locale *r = load_shipped(utf8_file);
    getrusage(RUSAGE_SELF, &usage);
    sizes[1] = usage.ru_maxrss;
    gl_lc_unload(r);
    ssize_t written = write(fds[1], sizes, sizeof sizes);
    _exit(written == static_cast<ssize_t>(sizeof sizes) ? 0 : 1);
  }
  close(fds[1]);
  long sizes[2] = {-1, -1};
  if (pid < 0 || read(fds[0], sizes, sizeof sizes) != static_cast<ssize_t>(sizeof sizes))
    sizes[0] = sizes[1] = -1;
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return {sizes[0], sizes[1]};
}

/* The ratio lines after the table. */
void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("class_map / isalpha_l (target <= 1.2)", "class_map", "isalpha_l");
  reporter.ratio("upper_map / toupper_l (target <= 1.2)", "upper_map", "toupper_l");
  reporter.ratio("COLLATE 10n / n rows (target <= 15)",
                 "collate_load/" + std::to_string(small_rows * row_factor),
                 "collate_load/" + std::to_string(small_rows));
  if (const double *load = reporter.time("load_en_us"))
    std::printf("%-34s %8.3f ms (goal < 5 ms)\n", "load en_us/0333.lco", *load);
  if (const double *utf8 = reporter.time("load_en_us_utf8"))
    std::printf("%-34s %8.3f ms (goal <= 100 ms)\n", "load en_us/e01c.lco", *utf8);
  const auto [before, after] = utf8_load_rss();
  if (after >= 0)
    std::printf("%-34s %8.1f MB peak RSS, %.1f MB of it the load's (goal <= 40 MB)\n",
                "load en_us/e01c.lco", static_cast<double>(after) / 1024,
                static_cast<double>(after - before) / 1024);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::RegisterBenchmark("class_map", BM_ClassMap)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("isalpha_l", BM_IsalphaL)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("upper_map", BM_UpperMap)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("toupper_l", BM_ToupperL)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("collate_load", BM_CollateLoad)
      ->Arg(small_rows)
      ->Arg(small_rows * row_factor)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("load_en_us", BM_LoadEnUs)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("load_en_us_utf8", BM_LoadEnUsUtf8)->Unit(benchmark::kMillisecond);
  glsbench::RatioReporter reporter(34);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  gl_lc_unload(shipped_en_us());
  glsbench::shut_down();
  return 0;
}
