/*
** DECIMAL operations against their nearest peers, each pair measured in
** the same run over the same fixed random values:
** - decadd, decsub, decmul, decdiv against std::decimal::decimal128 on
**   values of 8-12 significant digits (4 decimals) and of 32 digits (10
**   decimals), half of them negative;
** - deccvasc against strtod of the same text, dectoasc against
**   snprintf("%.*f") of the same value as a double;
** - deccvdbl against snprintf("%.16e"), dectodbl against strtod;
** - lddecimal + stdecimal of a DECIMAL(16,2) field (9 bytes) against a
**   hand loop that unpacks and repacks the same bytes.
**
** The client locale and its conventions initialise once, before any timed
** loop, from the build's locale data; nothing in the loops reads the
** environment or initialises the locale again.
*/
#include <benchmark/benchmark.h>

#include <decimal/decimal>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_locale.h"
#include "bench_support.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "os_glsenv.h"

namespace {

using std::decimal::decimal128;

constexpr size_t value_count = 256; /* a power of two: indices wrap by mask */
constexpr size_t value_mask = value_count - 1;
constexpr int packed_length = 9; /* DECIMAL(16,2) */

/* One operand set: the texts, our records and the peer's values. */
struct Operands {
  std::vector<std::string> texts;
  std::vector<dec_t> decs;
  std::vector<decimal128> peers;
  std::vector<double> doubles;
};

/* Digits as text with a point `scale` places from the end and an optional
** sign. */
std::string with_point(const std::string &digits, int scale, bool negative) {
  const size_t split = digits.size() - static_cast<size_t>(scale);
  std::string text = negative ? "-" : "";
  text.append(digits, 0, split).append(".").append(digits, split);
  return text;
}

/* Adds the value of text (peer: the same value as a decimal128) to the
** set; ends the program when our conversion refuses the text. */
void add_value(Operands &set, const std::string &text, decimal128 peer) {
  dec_t d {};
  if (deccvasc(text.c_str(), static_cast<int>(text.size()), &d) != 0) {
    std::fprintf(stderr, "deccvasc refuses %s\n", text.c_str());
    std::exit(1);
  }
  set.texts.push_back(text);
  set.decs.push_back(d);
  set.peers.push_back(peer);
  set.doubles.push_back(std::strtod(text.c_str(), nullptr));
}

/* Values of 8 to 12 significant digits with 4 decimals. */
Operands short_operands() {
  std::mt19937_64 random(16);
  Operands set;
  while (set.texts.size() < value_count) {
    const int digits = 8 + static_cast<int>(random() % 5);
    long long low = 1;
    for (int i = 1; i < digits; ++i)
      low *= 10;
    const long long coefficient =
        low + static_cast<long long>(random() % static_cast<uint64_t>(9 * low));
    const bool negative = (random() & 1) != 0;
    const long long signed_coefficient = negative ? -coefficient : coefficient;
    add_value(set, with_point(std::to_string(coefficient), 4, negative),
              std::decimal::make_decimal128(signed_coefficient, -4));
  }
  return set;
}

/* Values of 32 significant digits with 10 decimals. */
Operands long_operands() {
  std::mt19937_64 random(32);
  Operands set;
  constexpr long long half = 10000000000000000LL; /* 10^16 */
  while (set.texts.size() < value_count) {
    const long long high = half / 10 + static_cast<long long>(random() % (9 * half / 10));
    const long long low = static_cast<long long>(random() % half);
    const bool negative = (random() & 1) != 0;
    char low_digits[17];
    std::snprintf(low_digits, sizeof low_digits, "%016lld", low);
    const decimal128 peer =
        std::decimal::make_decimal128(high, 6) + std::decimal::make_decimal128(low, -10);
    add_value(set, with_point(std::to_string(high) + low_digits, 10, negative),
              negative ? -peer : peer);
  }
  return set;
}

const Operands &operands(int digits) {
  static const Operands short_set = short_operands();
  static const Operands long_set = long_operands();
  return digits == 32 ? long_set : short_set;
}

/* ---- Arithmetic ------------------------------------------------------------ */

using dec_op = int (*)(const dec_t *, const dec_t *, dec_t *);

void ours(benchmark::State &state, dec_op op, int digits) {
  const Operands &set = operands(digits);
  dec_t result;
  size_t i = 0;
  for (auto _ : state) {
    op(&set.decs[i & value_mask], &set.decs[(i + 1) & value_mask], &result);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

template <typename Op>
void peer(benchmark::State &state, Op op, int digits) {
  const Operands &set = operands(digits);
  size_t i = 0;
  for (auto _ : state) {
    decimal128 result = op(set.peers[i & value_mask], set.peers[(i + 1) & value_mask]);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

void register_arithmetic(int digits) {
  const std::string suffix = std::string("/") + std::to_string(digits);
  auto name = [&suffix](const char *prefix) { return std::string(prefix) + suffix; };
  benchmark::RegisterBenchmark(name("decadd").c_str(), ours, decadd, digits);
  benchmark::RegisterBenchmark(name("d128_add").c_str(), peer<std::plus<decimal128>>,
                               std::plus<decimal128>(), digits);
  benchmark::RegisterBenchmark(name("decsub").c_str(), ours, decsub, digits);
  benchmark::RegisterBenchmark(name("d128_sub").c_str(), peer<std::minus<decimal128>>,
                               std::minus<decimal128>(), digits);
  benchmark::RegisterBenchmark(name("decmul").c_str(), ours, decmul, digits);
  benchmark::RegisterBenchmark(name("d128_mul").c_str(), peer<std::multiplies<decimal128>>,
                               std::multiplies<decimal128>(), digits);
  benchmark::RegisterBenchmark(name("decdiv").c_str(), ours, decdiv, digits);
  benchmark::RegisterBenchmark(name("d128_div").c_str(), peer<std::divides<decimal128>>,
                               std::divides<decimal128>(), digits);
}

/* ---- Text ------------------------------------------------------------------ */

void BM_Deccvasc(benchmark::State &state) {
  const Operands &set = operands(12);
  dec_t result;
  size_t i = 0;
  for (auto _ : state) {
    const std::string &text = set.texts[i & value_mask];
    deccvasc(text.c_str(), static_cast<int>(text.size()), &result);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

void BM_Strtod(benchmark::State &state) {
  const Operands &set = operands(12);
  size_t i = 0;
  for (auto _ : state) {
    double result = std::strtod(set.texts[i & value_mask].c_str(), nullptr);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

void BM_Dectoasc(benchmark::State &state) {
  const Operands &set = operands(12);
  char buffer[24];
  size_t i = 0;
  for (auto _ : state) {
    dectoasc(&set.decs[i & value_mask], buffer, 20, 4);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

void BM_SnprintfF(benchmark::State &state) {
  const Operands &set = operands(12);
  char buffer[24];
  size_t i = 0;
  for (auto _ : state) {
    std::snprintf(buffer, sizeof buffer, "%.*f", 4, set.doubles[i & value_mask]);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

/* ---- Floating point -------------------------------------------------------- */

void BM_Deccvdbl(benchmark::State &state) {
  const Operands &set = operands(12);
  dec_t result;
  size_t i = 0;
  for (auto _ : state) {
    deccvdbl(set.doubles[i & value_mask], &result);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

void BM_SnprintfE(benchmark::State &state) {
  const Operands &set = operands(12);
  char buffer[32];
  size_t i = 0;
  for (auto _ : state) {
    std::snprintf(buffer, sizeof buffer, "%.16e", set.doubles[i & value_mask]);
    benchmark::DoNotOptimize(buffer);
    ++i;
  }
}

void BM_Dectodbl(benchmark::State &state) {
  const Operands &set = operands(12);
  double result;
  size_t i = 0;
  for (auto _ : state) {
    dectodbl(&set.decs[i & value_mask], &result);
    benchmark::DoNotOptimize(result);
    ++i;
  }
}

/* ---- Packed form ----------------------------------------------------------- */

/* DECIMAL(16,2) fields: 14 integer digits and 2 decimals, half negative. */
const std::vector<std::array<unsigned char, packed_length>> &packed_fields() {
  static const std::vector<std::array<unsigned char, packed_length>> fields = [] {
    std::mt19937_64 random(9);
    std::vector<std::array<unsigned char, packed_length>> out;
    while (out.size() < value_count) {
      const long long coefficient =
          static_cast<long long>(random() % 10000000000000000ULL); /* < 10^16 */
      const bool negative = (random() & 1) != 0;
      std::string digits = std::to_string(coefficient);
      if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
      const std::string text = with_point(digits, 2, negative);
      dec_t d {};
      if (deccvasc(text.c_str(), static_cast<int>(text.size()), &d) != 0) std::exit(1);
      std::array<unsigned char, packed_length> field {};
      stdecimal(&d, field.data(), packed_length);
      out.push_back(field);
    }
    return out;
  }();
  return fields;
}

void BM_LoadStore(benchmark::State &state) {
  const auto &fields = packed_fields();
  std::array<unsigned char, packed_length> out {};
  dec_t d;
  size_t i = 0;
  for (auto _ : state) {
    lddecimal(fields[i & value_mask].data(), packed_length, &d);
    stdecimal(&d, out.data(), packed_length);
    benchmark::DoNotOptimize(out);
    ++i;
  }
}

/* The hand loop: unpack sign, exponent and digit bytes (complemented for a
** negative value), drop leading and trailing zero digits, then pack back. */
struct HandValue {
  int sign;
  int exponent;
  int count;
  unsigned char digits[packed_length - 1];
};

void hand_complement(unsigned char *digits, int count) {
  int carry = 0;
  for (int i = count - 1; i >= 0; --i) {
    int d = 100 - digits[i] - carry;
    if (d == 100) {
      digits[i] = 0;
    } else {
      digits[i] = static_cast<unsigned char>(d);
      carry = 1;
    }
  }
}

void hand_load(const unsigned char *bytes, HandValue &v) {
  unsigned char head = bytes[0];
  v.sign = (head & 0x80) != 0 ? 1 : 0;
  std::memcpy(v.digits, bytes + 1, packed_length - 1);
  if (v.sign == 0) {
    hand_complement(v.digits, packed_length - 1);
    head ^= 0x7F;
  }
  v.exponent = (head & 0x7F) - 64;
  int first = 0;
  while (first < packed_length - 1 && v.digits[first] == 0)
    ++first;
  int last = packed_length - 1;
  while (last > first && v.digits[last - 1] == 0)
    --last;
  v.count = last - first;
  std::memmove(v.digits, v.digits + first, static_cast<size_t>(v.count));
  v.exponent -= first;
}

void hand_store(const HandValue &v, unsigned char *bytes) {
  std::memset(bytes, 0, packed_length);
  bytes[0] = static_cast<unsigned char>((v.exponent + 64) & 0x7F);
  std::memcpy(bytes + 1, v.digits, static_cast<size_t>(v.count));
  if (v.sign == 1 || v.count == 0) {
    bytes[0] |= 0x80;
  } else {
    hand_complement(bytes + 1, packed_length - 1);
    bytes[0] ^= 0x7F;
  }
}

void BM_HandLoadStore(benchmark::State &state) {
  const auto &fields = packed_fields();
  std::array<unsigned char, packed_length> out {};
  HandValue v;
  size_t i = 0;
  for (auto _ : state) {
    hand_load(fields[i & value_mask].data(), v);
    benchmark::DoNotOptimize(v);
    hand_store(v, out.data());
    benchmark::DoNotOptimize(out);
    ++i;
  }
}

/* Both loops must give back the fields they read. */
void check_round_trips() {
  for (const auto &field : packed_fields()) {
    std::array<unsigned char, packed_length> ours {}, hand {};
    dec_t d;
    lddecimal(field.data(), packed_length, &d);
    stdecimal(&d, ours.data(), packed_length);
    HandValue v;
    hand_load(field.data(), v);
    hand_store(v, hand.data());
    if (ours != field || hand != field) {
      std::fprintf(stderr, "a packed field does not round-trip\n");
      std::exit(1);
    }
  }
}

void print_ratios(const glsbench::RatioReporter &r) {
  r.print_header();
  for (const char *digits : {"12", "32"}) {
    const std::string s = std::string("/") + digits;
    const std::string n = s == "/32" ? " (32 digits)" : " (8-12 digits)";
    r.ratio(std::string("decadd / decimal128 +") + n + " <= 2", std::string("decadd") + s,
            std::string("d128_add") + s);
    r.ratio(std::string("decsub / decimal128 -") + n + " <= 2", std::string("decsub") + s,
            std::string("d128_sub") + s);
    r.ratio(std::string("decmul / decimal128 *") + n + " <= 3", std::string("decmul") + s,
            std::string("d128_mul") + s);
    r.ratio(std::string("decdiv / decimal128 /") + n + " <= 3", std::string("decdiv") + s,
            std::string("d128_div") + s);
  }
  r.ratio("deccvasc / strtod <= 2", "deccvasc", "strtod");
  r.ratio("dectoasc / snprintf %.*f <= 1.5", "dectoasc", "snprintf_f");
  r.ratio("deccvdbl / snprintf %.16e <= 1.3", "deccvdbl", "snprintf_e");
  r.ratio("dectodbl / strtod <= 1.5", "dectodbl", "strtod");
  r.ratio("lddecimal+stdecimal / hand loop <= 3", "ld_st_decimal", "hand_ld_st");
}

}  // namespace

int main(int argc, char **argv) {
  if (!bench_client_locale(DVZ_BUILD_DOVARIZADIR)) {
    std::fprintf(stderr, "the client locale does not initialise\n");
    return 1;
  }
  /* The per-process switch, read before the loops. */
  (void)get_useprec16();
  check_round_trips();

  register_arithmetic(12);
  register_arithmetic(32);
  benchmark::RegisterBenchmark("deccvasc", BM_Deccvasc);
  benchmark::RegisterBenchmark("strtod", BM_Strtod);
  benchmark::RegisterBenchmark("dectoasc", BM_Dectoasc);
  benchmark::RegisterBenchmark("snprintf_f", BM_SnprintfF);
  benchmark::RegisterBenchmark("deccvdbl", BM_Deccvdbl);
  benchmark::RegisterBenchmark("snprintf_e", BM_SnprintfE);
  benchmark::RegisterBenchmark("dectodbl", BM_Dectodbl);
  benchmark::RegisterBenchmark("ld_st_decimal", BM_LoadStore);
  benchmark::RegisterBenchmark("hand_ld_st", BM_HandLoadStore);
  glsbench::RatioReporter reporter(42, 42);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  glsbench::shut_down();
  return 0;
}
