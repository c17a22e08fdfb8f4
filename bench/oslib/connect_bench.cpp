/*
** The locale steps of a connect (dvz_connect_glsenv): a connect whose
** variables match a listed environment (the save area, a comparison and a
** call of the initialisation that finds it done) against one that creates
** and initialises a new environment (copies, the locale loaded from the
** build's locale data, date formats, name caches and conventions). Between
** two iterations of the second, outside the timing, every environment is
** released, so each iteration creates one under the same variables.
*/
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "os_glsenvs.h"

namespace {

void connect_once(benchmark::State &state) {
  gls_env *env = nullptr;
  const int result = dvz_connect_glsenv(&env);
  benchmark::DoNotOptimize(env);
  if (result != 0) state.SkipWithError("the connect failed");
}

void BM_ExistingEnvironment(benchmark::State &state) {
  connect_once(state);
  for (auto _ : state)
    connect_once(state);
}

void BM_NewEnvironment(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    FreeAllGlsEnv();
    state.ResumeTiming();
    connect_once(state);
  }
}

void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("existing / new environment", "existing_environment", "new_environment");
}

}  // namespace

int main(int argc, char **argv) {
  const std::string dir = glsbench::scratch().file("dovariza");
  glsbench::scratch().write("dovariza/etc/.keep", "");
  if (symlink(DVZ_BUILD_DOVARIZADIR "/gls", (dir + "/gls").c_str()) != 0) {
    std::perror("linking the build's locale data");
    return 1;
  }
  setenv("DOVARIZADIR", dir.c_str(), 1);
  for (const char *name : {"DBLANG", "LANG", "DB_LOCALE", "DBNLS", "GL_DATE", "DBMONEY", "DBTIME"})
    unsetenv(name);
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  setenv("DBDATE", "DMY4/", 1);

  benchmark::RegisterBenchmark("existing_environment", BM_ExistingEnvironment)
      ->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("new_environment", BM_NewEnvironment)->Unit(benchmark::kNanosecond);
  glsbench::RatioReporter reporter(30);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  FreeAllGlsEnv();
  glsbench::shut_down();
  return 0;
}
