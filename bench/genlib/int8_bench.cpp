/*
** INT8 operations against their nearest peers, each pair measured in the
** same run over the same fixed random values:
** - dvz_int8add, dvz_int8mul, dvz_int8div and dvz_int8cmp on consecutive
**   pairs against int64_t with __builtin_add_overflow, __builtin_mul_overflow,
**   a zero-divisor test and "/", and the three-way comparison (operands
**   below 2^31 in magnitude for the products, of 1 to 63 bits otherwise,
**   half of them negative);
** - int8tostr in base 10 against std::to_chars of the same value;
** - dvz_int8cvasc against strtoll of the same text.
** The program prints "ours / baseline" after the table, and for the
** arithmetic also the ratio to the same int64_t code behind a call that is
** not inlined (ours is a library call).
**
** The client locale and its conventions initialise once, before any timed
** loop, from the build's locale data.
*/
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_locale.h"
#include "bench_support.h"
#include "gen_int8.h"
#include "os_glsenv.h"

namespace {

constexpr size_t value_count = 256; /* a power of two: indices wrap by mask */
constexpr size_t value_mask = value_count - 1;

/* One operand set: the values as int64_t, as records and as text. */
struct Operands {
  std::vector<int64_t> values;
  std::vector<dvz_int8_t> records;
  std::vector<std::string> texts;
};

dvz_int8_t record_of(int64_t v) {
  const uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  return dvz_int8_t {static_cast<uint32_t>(m), static_cast<uint32_t>(m >> 32),
                     static_cast<int16_t>(v < 0 ? -1 : 1)};
}

/* Values of 1 to max_bits bits, half negative, never zero. */
Operands make_operands(int max_bits, uint64_t seed) {
  std::mt19937_64 random(seed);
  Operands set;
  while (set.values.size() < value_count) {
    const int bits = 1 + static_cast<int>(random() % static_cast<uint64_t>(max_bits));
    const auto m = static_cast<int64_t>((random() >> (64 - bits)) | (uint64_t {1} << (bits - 1)));
    const int64_t v = (random() & 1) != 0 ? -m : m;
    set.values.push_back(v);
    set.records.push_back(record_of(v));
    set.texts.push_back(std::to_string(v));
  }
  return set;
}

const Operands &wide() {
  static const Operands set = make_operands(63, 64);
  return set;
}

const Operands &narrow() {
  static const Operands set = make_operands(31, 32);
  return set;
}

/* ---- Arithmetic and comparison ------------------------------------------------ */

using int8_op = int (*)(const dvz_int8_t *, const dvz_int8_t *, dvz_int8_t *);

void ours(benchmark::State &state, int8_op op, const Operands *set) {
  dvz_int8_t result;
  size_t i = 0;
  for (auto _ : state) {
    int status = op(&set->records[i & value_mask], &set->records[(i + 1) & value_mask], &result);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

/* The peers return the same status word ours do: 0, or non-zero when the
** result does not fit. */
int peer_add(int64_t a, int64_t b, int64_t *r) { return __builtin_add_overflow(a, b, r) ? -1 : 0; }
int peer_mul(int64_t a, int64_t b, int64_t *r) { return __builtin_mul_overflow(a, b, r) ? -1 : 0; }
int peer_div(int64_t a, int64_t b, int64_t *r) {
  if (b == 0) return -1;
  *r = a / b;
  return 0;
}

template <int (*Op)(int64_t, int64_t, int64_t *)>
void peer(benchmark::State &state, const Operands *set) {
  int64_t result = 0;
  size_t i = 0;
  for (auto _ : state) {
    int status = Op(set->values[i & value_mask], set->values[(i + 1) & value_mask], &result);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

/* The same peers behind a call that cannot be inlined, taking and giving
** memory as ours do: what is left of the ratio is the cost of the record
** form (sign word and two magnitude words) rather than of the call. */
template <int (*Op)(int64_t, int64_t, int64_t *)>
__attribute__((noinline)) int called(const int64_t *a, const int64_t *b, int64_t *r) {
  return Op(*a, *b, r);
}

__attribute__((noinline)) int called_cmp(const int64_t *a, const int64_t *b) {
  return (*a > *b) - (*a < *b);
}

template <int (*Op)(int64_t, int64_t, int64_t *)>
void peer_called(benchmark::State &state, const Operands *set) {
  int64_t result = 0;
  size_t i = 0;
  for (auto _ : state) {
    int status =
        called<Op>(&set->values[i & value_mask], &set->values[(i + 1) & value_mask], &result);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

void BM_Int64cmpCalled(benchmark::State &state) {
  const Operands &set = wide();
  size_t i = 0;
  for (auto _ : state) {
    int order = called_cmp(&set.values[i & value_mask], &set.values[(i + 1) & value_mask]);
    benchmark::DoNotOptimize(order);
    ++i;
  }
}

void BM_Int8cmp(benchmark::State &state) {
  const Operands &set = wide();
  size_t i = 0;
  for (auto _ : state) {
    int order = dvz_int8cmp(&set.records[i & value_mask], &set.records[(i + 1) & value_mask]);
    benchmark::DoNotOptimize(order);
    ++i;
  }
}

void BM_Int64cmp(benchmark::State &state) {
  const Operands &set = wide();
  size_t i = 0;
  for (auto _ : state) {
    const int64_t a = set.values[i & value_mask];
    const int64_t b = set.values[(i + 1) & value_mask];
    int order = (a > b) - (a < b);
    benchmark::DoNotOptimize(order);
    ++i;
  }
}

/* ---- Text ------------------------------------------------------------------------ */

void BM_Int8tostr(benchmark::State &state) {
  const Operands &set = wide();
  char buffer[24];
  size_t i = 0;
  for (auto _ : state) {
    int status = int8tostr(&set.records[i & value_mask], buffer, 20, 10);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

void BM_ToChars(benchmark::State &state) {
  const Operands &set = wide();
  char buffer[24];
  size_t i = 0;
  for (auto _ : state) {
    char *end = std::to_chars(buffer, buffer + 20, set.values[i & value_mask]).ptr;
    *end = '\0';
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

void BM_Int8cvasc(benchmark::State &state) {
  const Operands &set = wide();
  dvz_int8_t result;
  size_t i = 0;
  for (auto _ : state) {
    const std::string &text = set.texts[i & value_mask];
    int status = dvz_int8cvasc(text.data(), static_cast<int>(text.size()), &result);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

void BM_Strtoll(benchmark::State &state) {
  const Operands &set = wide();
  size_t i = 0;
  for (auto _ : state) {
    long long result = std::strtoll(set.texts[i & value_mask].c_str(), nullptr, 10);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

/* Ours and the peers must agree on every value before anything is timed. */
void check_agreement() {
  for (const Operands *set : {&wide(), &narrow()}) {
    for (size_t i = 0; i < value_count; ++i) {
      const std::string &text = set->texts[i];
      dvz_int8_t read;
      char written[24];
      if (dvz_int8cvasc(text.data(), static_cast<int>(text.size()), &read) != 0 ||
          dvz_int8cmp(&read, &set->records[i]) != 0 || read.sign != set->records[i].sign ||
          int8tostr(&set->records[i], written, 20, 10) != 0 || text != written) {
        std::fprintf(stderr, "INT8 text disagrees with the peer at %s\n", text.c_str());
        std::exit(1);
      }
    }
  }
}

void print_ratios(const glsbench::RatioReporter &r) {
  r.print_header();
  r.ratio("dvz_int8add / __builtin_add_overflow <= 3", "int8add", "int64_add");
  r.ratio("dvz_int8mul / __builtin_mul_overflow <= 3", "int8mul", "int64_mul");
  r.ratio("dvz_int8div / int64_t / <= 3", "int8div", "int64_div");
  r.ratio("dvz_int8cmp / int64_t <=> <= 3", "int8cmp", "int64_cmp");
  r.ratio("dvz_int8add / the same, called", "int8add", "int64_add_called");
  r.ratio("dvz_int8mul / the same, called", "int8mul", "int64_mul_called");
  r.ratio("dvz_int8div / the same, called", "int8div", "int64_div_called");
  r.ratio("dvz_int8cmp / the same, called", "int8cmp", "int64_cmp_called");
  r.ratio("int8tostr / std::to_chars <= 2", "int8tostr", "to_chars");
  r.ratio("dvz_int8cvasc / strtoll <= 2", "int8cvasc", "strtoll");
}

}  // namespace

int main(int argc, char **argv) {
  if (!bench_client_locale(DVZ_BUILD_DOVARIZADIR)) {
    std::fprintf(stderr, "the client locale does not initialise\n");
    return 1;
  }
  check_agreement();

  benchmark::RegisterBenchmark("int8add", ours, dvz_int8add, &wide());
  benchmark::RegisterBenchmark("int64_add", peer<peer_add>, &wide());
  benchmark::RegisterBenchmark("int8mul", ours, dvz_int8mul, &narrow());
  benchmark::RegisterBenchmark("int64_mul", peer<peer_mul>, &narrow());
  benchmark::RegisterBenchmark("int8div", ours, dvz_int8div, &wide());
  benchmark::RegisterBenchmark("int64_div", peer<peer_div>, &wide());
  benchmark::RegisterBenchmark("int8cmp", BM_Int8cmp);
  benchmark::RegisterBenchmark("int64_cmp", BM_Int64cmp);
  benchmark::RegisterBenchmark("int64_add_called", peer_called<peer_add>, &wide());
  benchmark::RegisterBenchmark("int64_mul_called", peer_called<peer_mul>, &narrow());
  benchmark::RegisterBenchmark("int64_div_called", peer_called<peer_div>, &wide());
  benchmark::RegisterBenchmark("int64_cmp_called", BM_Int64cmpCalled);
  benchmark::RegisterBenchmark("int8tostr", BM_Int8tostr);
  benchmark::RegisterBenchmark("to_chars", BM_ToChars);
  benchmark::RegisterBenchmark("int8cvasc", BM_Int8cvasc);
  benchmark::RegisterBenchmark("strtoll", BM_Strtoll);
  glsbench::RatioReporter reporter(44, 44);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  glsbench::shut_down();
  return 0;
}
