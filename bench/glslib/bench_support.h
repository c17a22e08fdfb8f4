/*
** What every benchmark program of the locale library shares: a console
** reporter that keeps each run's time per iteration and prints the
** "ours / peer" ratio lines after Google Benchmark's table, the C
** library's peer locales compiled with localedef into the run's scratch
** directory, and the load of a shipped locale file.
**
** Linking this module also gives the program the leak checker's
** suppression of the C library's LOCPATH list (newlocale keeps it for the
** life of the process): a sanitizer build's run would otherwise end in a
** leak report that is not ours.
*/
#ifndef DVZ_BENCH_GLSLIB_BENCH_SUPPORT_H
#define DVZ_BENCH_GLSLIB_BENCH_SUPPORT_H

#include <locale.h>

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "glslib.h"
#include "temp_dir.h"

namespace glsbench {

/* Prints as usual and keeps the time per iteration of every run, in the
** run's own unit. */
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  /* Labels of the ratio lines are padded to label_width, the heading's to
  ** header_width (label_width when negative). */
  explicit RatioReporter(int label_width, int header_width = -1);

  void ReportRuns(const std::vector<Run> &reports) override;

  /* Prints the blank line and the "comparison  ratio" heading. */
  void print_header() const;

  /* Prints "label  time(ours) / time(base)" when both ran and base took
  ** some time; nothing otherwise. */
  void ratio(const std::string &label, const std::string &ours, const std::string &base) const;

  /* The time per iteration of the run called name, or nullptr when it did
  ** not run. */
  const double *time(const std::string &name) const;

 private:
  int label_width_;
  int header_width_;
  std::map<std::string, double> times_;
};

/* Runs the benchmarks the command line selects through reporter, then
** print_ratios(reporter), and flushes stdout (before any exit-time report
** of a sanitizer build). Returns false, after Google Benchmark's complaint
** and without running any, on an argument it does not know. */
bool run_benchmarks(int &argc, char **argv, RatioReporter &reporter,
                    void (*print_ratios)(const RatioReporter &));

/* The scratch directory of the run (the compiled peer locales and any
** fixtures of the program), removed at exit. */
const dvz_test::TempDir &scratch();

/* The locale of the system's source (e.g. "en_US") in charmap (e.g.
** "ISO-8859-1"), compiled with localedef on the first request and kept.
** Ends the program with a message when it cannot be compiled. */
locale_t peer_locale(const std::string &source, const std::string &charmap);

/* Frees every peer locale compiled so far and shuts Google Benchmark
** down: the last call of a program. */
void shut_down();

/* The shipped locale file (e.g. "en_us/0333.lco") of the source tree,
** loaded into a new locale record the caller unloads. Ends the program
** with a message when it does not load. */
gl_locale *load_shipped(const char *file);

}  // namespace glsbench

#endif
