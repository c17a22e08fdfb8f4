/*
** The benchmark programs' shared reporter, peer locales and shipped-file
** loader (see bench_support.h).
*/
#include "bench_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

/* newlocale keeps its LOCPATH list for the life of the process: not a
** leak of ours, and a leak report would end a sanitizer build's run. */
extern "C" const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }

namespace glsbench {

namespace {

std::map<std::string, locale_t> &compiled_peers() {
  static std::map<std::string, locale_t> peers;
  return peers;
}

}  // namespace

RatioReporter::RatioReporter(int label_width, int header_width)
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular),
      label_width_(label_width),
      header_width_(header_width < 0 ? label_width : header_width) {}

void RatioReporter::ReportRuns(const std::vector<Run> &reports) {
  for (const Run &run : reports)
    if (!run.error_occurred && run.run_type == Run::RT_Iteration)
      times_[run.benchmark_name()] = run.GetAdjustedRealTime();
  ConsoleReporter::ReportRuns(reports);
}

void RatioReporter::print_header() const {
  std::printf("\n%-*s %10s\n", header_width_, "comparison", "ratio");
}

void RatioReporter::ratio(const std::string &label, const std::string &ours,
                          const std::string &base) const {
  const double *a = time(ours);
  const double *b = time(base);
  if (a != nullptr && b != nullptr && *b > 0)
    std::printf("%-*s %10.2f\n", label_width_, label.c_str(), *a / *b);
}

const double *RatioReporter::time(const std::string &name) const {
  auto it = times_.find(name);
  return it == times_.end() ? nullptr : &it->second;
}

bool run_benchmarks(int &argc, char **argv, RatioReporter &reporter,
                    void (*print_ratios)(const RatioReporter &)) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_ratios(reporter);
  std::fflush(stdout); /* before any exit-time report of a sanitizer build */
  return true;
}

const dvz_test::TempDir &scratch() {
  static const dvz_test::TempDir dir;
  return dir;
}

locale_t peer_locale(const std::string &source, const std::string &charmap) {
  const std::string name = "peer_" + source + "_" + charmap;
  auto it = compiled_peers().find(name);
  if (it != compiled_peers().end()) return it->second;
  const std::string cmd = "localedef -i " + source + " -f " + charmap + " '" +
                          scratch().file(name) + "' >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  setenv("LOCPATH", scratch().path().c_str(), 1);
  locale_t l = newlocale(LC_ALL_MASK, name.c_str(), nullptr);
  unsetenv("LOCPATH");
  if (l == nullptr) {
    std::fprintf(stderr, "cannot compile %s %s (localedef status %d)\n", source.c_str(),
                 charmap.c_str(), status);
    std::exit(1);
  }
  compiled_peers().emplace(name, l);
  return l;
}

void shut_down() {
  for (const auto &[name, l] : compiled_peers())
    freelocale(l);
  compiled_peers().clear();
  benchmark::Shutdown();
}

gl_locale *load_shipped(const char *file) {
  setenv("GL_PATH", GLS_SOURCE_DATA "/lc11", 1);
  gl_locale *r = nullptr;
  if (gl_create_null_locale_4(&r) != 0) std::exit(1);
  char *query = gl_setlocale_4(r, GL_ALL, file);
  if (query == nullptr || r->error != 0) {
    std::fprintf(stderr, "%s does not load (error %d)\n", file, r->error);
    std::exit(1);
  }
  gl_destroystring(query);
  return r;
}

}  // namespace glsbench
