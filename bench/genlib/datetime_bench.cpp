/*
** DATE and DATETIME conversions against their nearest peers, each pair
** measured in the same run over the same fixed random values:
** - rjulmdy + rmdyjul of a DATE (the whole range 0001-9999) against
**   std::chrono's year_month_day from sys_days and back;
** - rdatestr under en_us (DBDATE unset: %m/%d/%iY) against strftime
**   "%m/%d/%Y" of a prepared struct tm;
** - rstrdate of "MM/DD/YYYY" (the numeric fast path) against strptime
**   "%m/%d/%Y";
** - dtcvasc of "YYYY-MM-DD HH:MM:SS.fff" as YEAR TO FRACTION(3) against
**   strptime "%Y-%m-%d %H:%M:%S" followed by a hand parse of the fraction;
** - rdtimestr of the same values against snprintf of the seven fields.
** Before timing, the program checks that ours and the peer agree on
** every value (same texts, same dates).
**
** The client locale initialises once, before any timed loop, from the
** build's locale data; the value types' variables are unset, so nothing
** in the loops reads the environment or initialises the locale again.
*/
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "bench_locale.h"
#include "bench_support.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "os_glsenv.h"

namespace {

constexpr size_t value_count = 4096; /* a power of two: indices wrap by mask */
constexpr size_t value_mask = value_count - 1;
constexpr int year_to_f3 = TU_ENCODE(17, TU_YEAR, TU_F3); /* 0x110D */
/* DATE of 1970-01-01: DATE = sys_days count + this. */
constexpr int32_t unix_epoch_date = 25568;

/* Ends the program with a message: the comparison would be meaningless. */
[[noreturn]] void refuse(const std::string &what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(1);
}

/* ---- Day numbers ------------------------------------------------------------ */

/* DATEs spread over 0001-01-01 to 9999-12-31. */
const std::vector<int32_t> &whole_range_dates() {
  static const std::vector<int32_t> dates = [] {
    std::mt19937 random(1207);
    std::uniform_int_distribution<int32_t> pick(DATE_MIN, DATE_MAX);
    std::vector<int32_t> out(value_count);
    for (int32_t &d : out)
      d = pick(random);
    return out;
  }();
  return dates;
}

void BM_RjulmdyRmdyjul(benchmark::State &state) {
  const std::vector<int32_t> &dates = whole_range_dates();
  int16_t mdy[3];
  int32_t back = 0;
  size_t i = 0;
  for (auto _ : state) {
    rjulmdy(dates[i & value_mask], mdy);
    rmdyjul(mdy, &back);
    benchmark::DoNotOptimize(back);
    ++i;
  }
}

void BM_ChronoDays(benchmark::State &state) {
  using namespace std::chrono;
  const std::vector<int32_t> &dates = whole_range_dates();
  size_t i = 0;
  for (auto _ : state) {
    const year_month_day civil {sys_days {days {dates[i & value_mask] - unix_epoch_date}}};
    benchmark::DoNotOptimize(civil);
    const sys_days back {civil};
    benchmark::DoNotOptimize(back);
    ++i;
  }
}

/* ---- DATE text -------------------------------------------------------------- */

/* Moments of 1900-2099 with their DATE, broken-down time and texts. */
struct Moments {
  std::vector<int32_t> dates;
  std::vector<struct tm> broken_down;
  std::vector<std::string> date_texts; /* MM/DD/YYYY */
  std::vector<std::string> datetime_texts; /* YYYY-MM-DD HH:MM:SS.fff */
  std::vector<std::array<int, 7>> fields; /* year ... millisecond */
  std::vector<dec_t> values; /* YEAR TO FRACTION(3) */
};

const Moments &moments() {
  static const Moments set = [] {
    using namespace std::chrono;
    std::mt19937 random(2024);
    const auto first =
        static_cast<int32_t>(sys_days {year {1900} / 1 / 1}.time_since_epoch().count());
    const auto last =
        static_cast<int32_t>(sys_days {year {2099} / 12 / 31}.time_since_epoch().count());
    std::uniform_int_distribution<int32_t> pick_day(first, last);
    std::uniform_int_distribution<int> pick_second(0, 86399);
    std::uniform_int_distribution<int> pick_milli(0, 999);
    Moments out;
    for (size_t n = 0; n < value_count; ++n) {
      const int32_t day = pick_day(random);
      const int second_of_day = pick_second(random);
      const int milli = pick_milli(random);
      const time_t clock = static_cast<time_t>(day) * 86400 + second_of_day;
      struct tm t {};
      gmtime_r(&clock, &t);
      char date_text[48];
      std::snprintf(date_text, sizeof date_text, "%02d/%02d/%04d", t.tm_mon + 1, t.tm_mday,
                    t.tm_year + 1900);
      char datetime_text[96];
      std::snprintf(datetime_text, sizeof datetime_text, "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                    t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                    milli);
      dtime_t value {};
      value.dt_qual = year_to_f3;
      if (dtcvasc(datetime_text, &value) != 0)
        refuse(std::string("dtcvasc refuses ") + datetime_text);
      out.dates.push_back(day + unix_epoch_date);
      out.broken_down.push_back(t);
      out.date_texts.emplace_back(date_text);
      out.datetime_texts.emplace_back(datetime_text);
      out.fields.push_back(
          {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, milli});
      out.values.push_back(value.dt_dec);
    }
    return out;
  }();
  return set;
}

void BM_Rdatestr(benchmark::State &state) {
  const Moments &set = moments();
  char buffer[1024];
  size_t i = 0;
  for (auto _ : state) {
    rdatestr(set.dates[i & value_mask], buffer);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

void BM_Strftime(benchmark::State &state) {
  const Moments &set = moments();
  char buffer[64];
  size_t i = 0;
  for (auto _ : state) {
    std::strftime(buffer, sizeof buffer, "%m/%d/%Y", &set.broken_down[i & value_mask]);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

void BM_Rstrdate(benchmark::State &state) {
  const Moments &set = moments();
  int32_t date = 0;
  size_t i = 0;
  for (auto _ : state) {
    rstrdate(set.date_texts[i & value_mask].c_str(), &date);
    benchmark::DoNotOptimize(date);
    ++i;
  }
}

void BM_StrptimeDate(benchmark::State &state) {
  const Moments &set = moments();
  struct tm t {};
  size_t i = 0;
  for (auto _ : state) {
    const char *end = strptime(set.date_texts[i & value_mask].c_str(), "%m/%d/%Y", &t);
    benchmark::DoNotOptimize(end);
    benchmark::DoNotOptimize(t);
    ++i;
  }
}

/* ---- DATETIME text ---------------------------------------------------------- */

void BM_Dtcvasc(benchmark::State &state) {
  const Moments &set = moments();
  dtime_t value {};
  value.dt_qual = year_to_f3;
  size_t i = 0;
  for (auto _ : state) {
    dtcvasc(set.datetime_texts[i & value_mask].c_str(), &value);
    benchmark::DoNotOptimize(value);
    ++i;
  }
}

/* strptime of the seconds, then up to three fraction digits by hand;
** the milliseconds, or -1 when the text does not match. */
int strptime_with_fraction(const char *text, struct tm &t) {
  const char *rest = strptime(text, "%Y-%m-%d %H:%M:%S", &t);
  if (rest == nullptr) return -1;
  int milli = 0;
  if (*rest == '.') {
    ++rest;
    int digits = 0;
    for (; digits < 3 && *rest >= '0' && *rest <= '9'; ++digits, ++rest)
      milli = milli * 10 + (*rest - '0');
    for (; digits < 3; ++digits)
      milli *= 10;
  }
  return *rest == '\0' ? milli : -1;
}

void BM_StrptimeFraction(benchmark::State &state) {
  const Moments &set = moments();
  struct tm t {};
  size_t i = 0;
  for (auto _ : state) {
    int milli = strptime_with_fraction(set.datetime_texts[i & value_mask].c_str(), t);
    benchmark::DoNotOptimize(milli);
    benchmark::DoNotOptimize(t);
    ++i;
  }
}

void BM_Rdtimestr(benchmark::State &state) {
  const Moments &set = moments();
  char buffer[96];
  size_t i = 0;
  for (auto _ : state) {
    rdtimestr(&set.values[i & value_mask], year_to_f3, buffer);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

void BM_SnprintfFields(benchmark::State &state) {
  const Moments &set = moments();
  char buffer[96];
  size_t i = 0;
  for (auto _ : state) {
    const std::array<int, 7> &f = set.fields[i & value_mask];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", f[0], f[1], f[2],
                  f[3], f[4], f[5], f[6]);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

/* ---- Agreement before timing ------------------------------------------------ */

void check_agreement() {
  using namespace std::chrono;
  for (const int32_t date : whole_range_dates()) {
    int16_t mdy[3];
    int32_t back = 0;
    const year_month_day civil {sys_days {days {date - unix_epoch_date}}};
    if (rjulmdy(date, mdy) != 0 || rmdyjul(mdy, &back) != 0 || back != date ||
        mdy[0] != static_cast<int>(static_cast<unsigned>(civil.month())) ||
        mdy[1] != static_cast<int>(static_cast<unsigned>(civil.day())) ||
        mdy[2] != static_cast<int>(civil.year()))
      refuse("rjulmdy/rmdyjul and std::chrono disagree on DATE " + std::to_string(date));
  }
  const Moments &set = moments();
  for (size_t n = 0; n < value_count; ++n) {
    char ours[1024];
    char peer[96];
    if (rdatestr(set.dates[n], ours) != 0 ||
        std::strftime(peer, sizeof peer, "%m/%d/%Y", &set.broken_down[n]) == 0 ||
        std::strcmp(ours, peer) != 0)
      refuse(std::string("rdatestr and strftime disagree: ") + ours + " " + peer);
    int32_t date = 0;
    if (rstrdate(set.date_texts[n].c_str(), &date) != 0 || date != set.dates[n])
      refuse("rstrdate misreads " + set.date_texts[n]);
    struct tm t {};
    if (strptime_with_fraction(set.datetime_texts[n].c_str(), t) != set.fields[n][6])
      refuse("the strptime peer misreads " + set.datetime_texts[n]);
    if (rdtimestr(&set.values[n], year_to_f3, ours) != 0 || set.datetime_texts[n] != ours)
      refuse("rdtimestr writes " + std::string(ours) + " for " + set.datetime_texts[n]);
  }
}

void print_ratios(const glsbench::RatioReporter &r) {
  r.print_header();
  r.ratio("rjulmdy+rmdyjul / std::chrono <= 1.5", "rjulmdy_rmdyjul", "chrono_days");
  r.ratio("rdatestr / strftime %m/%d/%Y <= 3", "rdatestr", "strftime_date");
  r.ratio("rstrdate / strptime %m/%d/%Y <= 1.5", "rstrdate", "strptime_date");
  r.ratio("dtcvasc / strptime + fraction <= 2", "dtcvasc_f3", "strptime_fraction");
  r.ratio("rdtimestr / snprintf seven fields <= 2", "rdtimestr_f3", "snprintf_fields");
}

}  // namespace

int main(int argc, char **argv) {
  setenv("TZ", "UTC", 1);
  tzset();
  if (!bench_client_locale(DVZ_BUILD_DOVARIZADIR)) refuse("the client locale does not initialise");
  /* Reads the century rule and the switches before the loops. */
  (void)getdbcentury();
  (void)get_usedtenv();
  check_agreement();

  benchmark::RegisterBenchmark("rjulmdy_rmdyjul", BM_RjulmdyRmdyjul);
  benchmark::RegisterBenchmark("chrono_days", BM_ChronoDays);
  benchmark::RegisterBenchmark("rdatestr", BM_Rdatestr);
  benchmark::RegisterBenchmark("strftime_date", BM_Strftime);
  benchmark::RegisterBenchmark("rstrdate", BM_Rstrdate);
  benchmark::RegisterBenchmark("strptime_date", BM_StrptimeDate);
  benchmark::RegisterBenchmark("dtcvasc_f3", BM_Dtcvasc);
  benchmark::RegisterBenchmark("strptime_fraction", BM_StrptimeFraction);
  benchmark::RegisterBenchmark("rdtimestr_f3", BM_Rdtimestr);
  benchmark::RegisterBenchmark("snprintf_fields", BM_SnprintfFields);
  glsbench::RatioReporter reporter(42, 42);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  glsbench::shut_down();
  return 0;
}
