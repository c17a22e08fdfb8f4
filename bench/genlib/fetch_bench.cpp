/*
** A fetched row into host variables, against a hand-written decoder of
** the same bytes, measured in the same run over the same 256 fixed random
** rows:
** - fetch_row: rdataval then rvalcvar of each column of a row CHAR(18),
**   INTEGER, INT8, DECIMAL(16,2), DATE, DATETIME YEAR TO SECOND into a
**   char variable of 19 bytes, a long, an int8, a decimal of precision
**   (16,2), a date and a datetime YEAR TO SECOND, with indicators;
** - hand_row: the same bytes decoded straight into the same variables
**   (big-endian integers, the packed DECIMAL unpacked and its zero digits
**   dropped, the CHAR copied and terminated).
** Each column is also timed alone against its part of the hand decoder.
** Before timing, the program checks that both fill every variable alike.
**
** The client locale and its conventions initialise once, before any timed
** loop, from the build's locale data.
*/
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_locale.h"
#include "bench_support.h"
#include "dvz_be.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_hostvar.h"
#include "gen_int8.h"
#include "gen_types.h"
#include "os_glsenv.h"

namespace {

constexpr size_t row_count = 256; /* a power of two: indices wrap by mask */
constexpr size_t row_mask = row_count - 1;

constexpr int char_length = 18;
constexpr int decimal_word = 0x1002; /* DECIMAL(16,2) */
constexpr int decimal_bytes = (16 + 0 + 3) / 2;
constexpr int year_to_second = TU_ENCODE(14, TU_YEAR, TU_SECOND);
constexpr int datetime_bytes = (14 + 0 + 3) / 2;

/* Offsets of the columns in a stored row. */
constexpr int at_char = 0;
constexpr int at_integer = at_char + char_length;
constexpr int at_int8 = at_integer + 4;
constexpr int at_decimal = at_int8 + INT8_STORED_SIZE;
constexpr int at_date = at_decimal + decimal_bytes;
constexpr int at_datetime = at_date + 4;
constexpr int row_bytes = at_datetime + datetime_bytes;

using stored_row = std::array<char, row_bytes>;

/* The program's variables of one row. */
struct host_row {
  char name[char_length + 1];
  int32_t number;
  dvz_int8_t big;
  dec_t amount;
  int32_t day;
  dtime_t when;
  int16_t indicators[6];
};

std::vector<stored_row> make_rows() {
  std::mt19937_64 random(18);
  std::vector<stored_row> rows(row_count);
  for (stored_row &row : rows) {
    row.fill(0);
    const int letters = 1 + static_cast<int>(random() % char_length);
    for (int i = 0; i < char_length; ++i)
      row[at_char + i] = i < letters ? static_cast<char>('a' + random() % 26) : ' ';
    dvz_st_be_i32(static_cast<int32_t>(random() % 2000000000) - 1000000000, &row[at_integer]);
    dvz_int8_t big {};
    const std::string big_text =
        std::to_string(static_cast<int64_t>(random() >> 2) * (random() % 2 == 0 ? 1 : -1));
    if (dvz_int8cvasc(big_text.data(), static_cast<int>(big_text.size()), &big) != 0) {
      std::fprintf(stderr, "dvz_int8cvasc refuses %s\n", big_text.c_str());
      std::exit(1);
    }
    stint8(&big, &row[at_int8]);
    char amount_text[32];
    std::snprintf(amount_text, sizeof amount_text, "%s%llu.%02llu", random() % 2 ? "-" : "",
                  static_cast<unsigned long long>(random() % 100000000000000ull),
                  static_cast<unsigned long long>(random() % 100));
    dec_t amount {};
    if (deccvasc(amount_text, static_cast<int>(std::strlen(amount_text)), &amount) != 0) {
      std::fprintf(stderr, "deccvasc refuses %s\n", amount_text);
      std::exit(1);
    }
    stdecimal(&amount, reinterpret_cast<unsigned char *>(&row[at_decimal]), decimal_bytes);
    const int32_t day = static_cast<int32_t>(random() % 60000);
    dvz_st_be_i32(day, &row[at_date]);
    int16_t mdy[3] = {};
    rjulmdy(day, mdy);
    unsigned char units[DT_UNITS_SIZE] = {
        static_cast<unsigned char>(mdy[2] / 100),  static_cast<unsigned char>(mdy[2] % 100),
        static_cast<unsigned char>(mdy[0]),        static_cast<unsigned char>(mdy[1]),
        static_cast<unsigned char>(random() % 24), static_cast<unsigned char>(random() % 60),
        static_cast<unsigned char>(random() % 60)};
    dec_t when {};
    if (dtpack(&when, year_to_second, units, 1) != 0) {
      std::fprintf(stderr, "dtpack refuses a row\n");
      std::exit(1);
    }
    stdecimal(&when, reinterpret_cast<unsigned char *>(&row[at_datetime]), datetime_bytes);
  }
  return rows;
}

const std::vector<stored_row> &rows() {
  static const std::vector<stored_row> made = make_rows();
  return made;
}

/* ---- Ours: the value library's fetch path -------------------------------------------- */

/* One column: rdataval into a value, rvalcvar into the variable. */
inline int fetch_column(const char *bytes, int type, int length, char *variable, int host_type,
                        int host_length, int16_t *indicator) {
  value_t v;
  v.vind = 0;
  const int status = rdataval(bytes, type, length, &v);
  if (status != 0) return status;
  return rvalcvar(&v, variable, host_type, host_length, indicator);
}

int fetch_row(const stored_row &row, host_row &out) {
  int status = 0;
  status |= fetch_column(&row[at_char], sql_type_char, char_length, out.name, host_type_char,
                         char_length + 1, &out.indicators[0]);
  status |=
      fetch_column(&row[at_integer], sql_type_integer, 4, reinterpret_cast<char *>(&out.number),
                   host_type_long, 4, &out.indicators[1]);
  status |= fetch_column(&row[at_int8], sql_type_int8, INT8_STORED_SIZE,
                         reinterpret_cast<char *>(&out.big), host_type_int8, 0, &out.indicators[2]);
  status |= fetch_column(&row[at_decimal], sql_type_decimal, decimal_word,
                         reinterpret_cast<char *>(&out.amount), host_type_decimal, decimal_word,
                         &out.indicators[3]);
  status |= fetch_column(&row[at_date], sql_type_date, 4, reinterpret_cast<char *>(&out.day),
                         host_type_date, 4, &out.indicators[4]);
  status |= fetch_column(&row[at_datetime], sql_type_datetime, year_to_second,
                         reinterpret_cast<char *>(&out.when), host_type_datetime, year_to_second,
                         &out.indicators[5]);
  return status;
}

/* ---- Baseline: the same bytes decoded by hand --------------------------------------------- */

void hand_complement(unsigned char *digits, int count) {
  int carry = 0;
  for (int i = count - 1; i >= 0; --i) {
    const int d = 100 - digits[i] - carry;
    if (d == 100) {
      digits[i] = 0;
    } else {
      digits[i] = static_cast<unsigned char>(d);
      carry = 1;
    }
  }
}

/* A packed DECIMAL of n bytes (never NULL in these rows). */
void hand_decimal(const char *bytes, int n, dec_t &out) {
  unsigned char head = static_cast<unsigned char>(bytes[0]);
  unsigned char digits[DECSIZE];
  std::memcpy(digits, bytes + 1, static_cast<size_t>(n - 1));
  out.sign = (head & 0x80) != 0 ? 1 : 0;
  if (out.sign == 0) {
    hand_complement(digits, n - 1);
    head ^= 0x7F;
  }
  int first = 0;
  while (first < n - 1 && digits[first] == 0)
    ++first;
  int last = n - 1;
  while (last > first && digits[last - 1] == 0)
    --last;
  out.npairs = static_cast<int16_t>(last - first);
  out.exponent = static_cast<int16_t>((head & 0x7F) - 64 - first);
  if (out.npairs == 0) {
    out.exponent = 0;
    out.sign = 1;
  }
  std::memcpy(out.pairs, digits + first, static_cast<size_t>(out.npairs));
}

void hand_char(const stored_row &row, host_row &out) {
  std::memcpy(out.name, &row[at_char], char_length);
  out.name[char_length] = '\0';
  out.indicators[0] = 0;
}

void hand_integer(const stored_row &row, host_row &out) {
  out.number = dvz_ld_be_i32(&row[at_integer]);
  out.indicators[1] = 0;
}

void hand_int8(const stored_row &row, host_row &out) {
  out.big.sign = dvz_ld_be_i16(&row[at_int8]);
  out.big.low = dvz_ld_be_u32(&row[at_int8 + 2]);
  out.big.high = dvz_ld_be_u32(&row[at_int8 + 6]);
  out.indicators[2] = 0;
}

void hand_amount(const stored_row &row, host_row &out) {
  hand_decimal(&row[at_decimal], decimal_bytes, out.amount);
  out.indicators[3] = 0;
}

void hand_date(const stored_row &row, host_row &out) {
  out.day = dvz_ld_be_i32(&row[at_date]);
  out.indicators[4] = 0;
}

void hand_datetime(const stored_row &row, host_row &out) {
  out.when.dt_qual = year_to_second;
  hand_decimal(&row[at_datetime], datetime_bytes, out.when.dt_dec);
  out.indicators[5] = 0;
}

void hand_row(const stored_row &row, host_row &out) {
  hand_char(row, out);
  hand_integer(row, out);
  hand_int8(row, out);
  hand_amount(row, out);
  hand_date(row, out);
  hand_datetime(row, out);
}

/* One column of the row for the per-column figures: where it is stored,
** its type and length word, the variable it goes to and its hand decoder. */
struct column {
  const char *name;
  int at;
  int type;
  int length;
  size_t variable; /* offset in host_row */
  int host_type;
  int host_length;
  void (*hand)(const stored_row &, host_row &);
};

const column columns[] = {
    {"char18", at_char, sql_type_char, char_length, offsetof(host_row, name), host_type_char,
     char_length + 1, hand_char},
    {"integer", at_integer, sql_type_integer, 4, offsetof(host_row, number), host_type_long, 4,
     hand_integer},
    {"int8", at_int8, sql_type_int8, INT8_STORED_SIZE, offsetof(host_row, big), host_type_int8, 0,
     hand_int8},
    {"decimal16_2", at_decimal, sql_type_decimal, decimal_word, offsetof(host_row, amount),
     host_type_decimal, decimal_word, hand_amount},
    {"date", at_date, sql_type_date, 4, offsetof(host_row, day), host_type_date, 4, hand_date},
    {"datetime_y2s", at_datetime, sql_type_datetime, year_to_second, offsetof(host_row, when),
     host_type_datetime, year_to_second, hand_datetime},
};

/* ---- Agreement and timing ----------------------------------------------------------------- */

bool same_decimal(const dec_t &a, const dec_t &b) {
  return a.sign == b.sign && a.exponent == b.exponent && a.npairs == b.npairs &&
         std::memcmp(a.pairs, b.pairs, static_cast<size_t>(a.npairs)) == 0;
}

void check_agreement() {
  for (const stored_row &row : rows()) {
    host_row ours {};
    host_row hand {};
    const int status = fetch_row(row, ours);
    hand_row(row, hand);
    const bool same = status == 0 && std::memcmp(ours.name, hand.name, sizeof ours.name) == 0 &&
                      ours.number == hand.number && ours.big.sign == hand.big.sign &&
                      ours.big.low == hand.big.low && ours.big.high == hand.big.high &&
                      same_decimal(ours.amount, hand.amount) && ours.day == hand.day &&
                      ours.when.dt_qual == hand.when.dt_qual &&
                      same_decimal(ours.when.dt_dec, hand.when.dt_dec) &&
                      std::memcmp(ours.indicators, hand.indicators, sizeof ours.indicators) == 0;
    if (!same) {
      std::fprintf(stderr, "the fetch path and the hand decoder disagree (status %d)\n", status);
      std::exit(1);
    }
  }
}

void BM_FetchRow(benchmark::State &state) {
  const auto &stored = rows();
  host_row out {};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fetch_row(stored[i & row_mask], out));
    benchmark::DoNotOptimize(out);
    ++i;
  }
}

void BM_HandRow(benchmark::State &state) {
  const auto &stored = rows();
  host_row out {};
  size_t i = 0;
  for (auto _ : state) {
    hand_row(stored[i & row_mask], out);
    benchmark::DoNotOptimize(out);
    ++i;
  }
}

void BM_FetchColumn(benchmark::State &state, const column &c) {
  const auto &stored = rows();
  host_row out {};
  int16_t indicator = 0;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fetch_column(&stored[i & row_mask][c.at], c.type, c.length,
                                          reinterpret_cast<char *>(&out) + c.variable, c.host_type,
                                          c.host_length, &indicator));
    benchmark::DoNotOptimize(out);
    ++i;
  }
}

void BM_HandColumn(benchmark::State &state, const column &c) {
  const auto &stored = rows();
  host_row out {};
  size_t i = 0;
  for (auto _ : state) {
    c.hand(stored[i & row_mask], out);
    benchmark::DoNotOptimize(out);
    ++i;
  }
}

void print_ratios(const glsbench::RatioReporter &r) {
  r.print_header();
  r.ratio("rdataval+rvalcvar row / hand decoder <= 2", "fetch_row", "hand_row");
  for (const column &c : columns)
    r.ratio(std::string("  of which ") + c.name, std::string("fetch_") + c.name,
            std::string("hand_") + c.name);
}

}  // namespace

int main(int argc, char **argv) {
  if (!bench_client_locale(DVZ_BUILD_DOVARIZADIR)) {
    std::fprintf(stderr, "the client locale does not initialise\n");
    return 1;
  }
  check_agreement();

  benchmark::RegisterBenchmark("fetch_row", BM_FetchRow);
  benchmark::RegisterBenchmark("hand_row", BM_HandRow);
  for (const column &c : columns) {
    benchmark::RegisterBenchmark((std::string("fetch_") + c.name).c_str(), BM_FetchColumn, c);
    benchmark::RegisterBenchmark((std::string("hand_") + c.name).c_str(), BM_HandColumn, c);
  }
  glsbench::RatioReporter reporter(44, 44);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  glsbench::shut_down();
  return 0;
}
