/*
** Collections against the standard containers, measured in the same run:
** - coll_pos_long_log / vector_index: random absolute positioning
**   (dvz_coll_pos) over a LIST of 10^4 INTEGER carrying a change log of
**   about 2500 entries (updates, inserts and deletes at random places),
**   against indexing a std::vector<int32_t> of the same elements; both
**   visit the same random positions. Positioning passes runs of unchanged
**   elements by arithmetic, so its cost follows the log, not the elements.
** - coll_set_insert / unordered_set_insert: a SET of 10^4 distinct INTEGER
**   built by dvz_coll_insert (each insert scans for a duplicate), against
**   std::unordered_set<int32_t>.
** - coll_multiset_equal / vector_sort_equal: equality (dvz_coll_equal) of
**   two MULTISETs of 10^4 INTEGER, the same values with repeats in another
**   order, both rebuilt and their hashes current, against copying two
**   std::vector<int32_t> of the values, sorting both and comparing them.
** Before timing, the program checks that the positioned elements are the
** vector's. One benchmark per figure, each with its ratio line.
**
** The client locale initialises once, before any timed loop.
*/
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench_locale.h"
#include "bench_support.h"
#include "dvz_be.h"
#include "gen_collection.h"
#include "gen_collection_stored.h"
#include "gen_types.h"
#include "gen_value.h"

namespace {

constexpr int element_count = 10000;
constexpr size_t probe_count = 4096; /* a power of two: indices wrap by mask */

struct free_deleter {
  void operator()(void *p) const { std::free(p); }
};

/* A type info: descriptor 0 of kind, descriptor 1 INTEGER. */
std::unique_ptr<dvz_coll_typeinfo_t, free_deleter> integer_collection(int kind) {
  auto *ti = static_cast<dvz_coll_typeinfo_t *>(std::calloc(1, DVZ_COLL_TYPEINFO_SIZE(3)));
  ti->ti_count = 2;
  ti->ti_fields[0].type = static_cast<int16_t>(kind);
  ti->ti_fields[1].seqno = 1;
  ti->ti_fields[1].level_no = 1;
  ti->ti_fields[1].type = sql_type_integer;
  ti->ti_fields[1].length = 4;
  return std::unique_ptr<dvz_coll_typeinfo_t, free_deleter>(ti);
}

/* The INTEGER element as the runtime writes it. */
void integer_element(int32_t n, char *out) {
  value_t v {};
  v.vtype = sql_type_integer;
  v.vint = n;
  rvaldata(&v, out, sql_type_integer, 4);
}

/* The LIST with its change log, the vector with the same elements, and
** the positions both visit. */
struct long_log_list {
  std::unique_ptr<dvz_coll_typeinfo_t, free_deleter> ti = integer_collection(sql_type_list);
  std::vector<char> data;
  dvz_coll_t coll {};
  std::vector<int32_t> model;
  std::vector<int32_t> probes;

  long_log_list() {
    std::mt19937 rng(2026);
    data.resize(4 * element_count);
    for (int i = 0; i < element_count; ++i) {
      integer_element(i, &data[4 * static_cast<size_t>(i)]);
      model.push_back(i);
    }
    dvz_coll_init(&coll, ti.get(), 1, data.data(), static_cast<int32_t>(data.size()));
    char e[4];
    int32_t next = element_count;
    for (int i = 0; i < 2500; ++i) {
      const auto card = static_cast<int>(model.size());
      const int k = std::uniform_int_distribution<int>(1, card)(rng);
      const int op = i % 5;
      integer_element(next, e);
      if (op <= 1) {
        dvz_coll_insert(&coll, e, 4, k);
        model.insert(model.begin() + (k - 1), next);
      } else if (op <= 3) {
        dvz_coll_cursor_t c;
        dvz_coll_open(&coll, &c);
        dvz_coll_pos(&coll, &c, k);
        dvz_coll_insert(&coll, e, 4, 0); /* an append through the open cursor */
        model.push_back(next);
        dvz_coll_pos(&coll, &c, k);
        dvz_coll_delete(&coll, &c, 0);
        model.erase(model.begin() + (k - 1));
        dvz_coll_close(&coll, &c);
      } else {
        /* An update of a data element is in place in a fixed-size LIST;
        ** updating an inserted element replaces its log entry. */
        dvz_coll_update_pos(&coll, k, e, 4);
        model[static_cast<size_t>(k - 1)] = next;
      }
      ++next;
    }
    for (size_t i = 0; i < probe_count; ++i)
      probes.push_back(
          std::uniform_int_distribution<int32_t>(1, static_cast<int32_t>(model.size()))(rng));
  }
  ~long_log_list() { dvz_coll_free(&coll); }

  size_t log_length() const {
    size_t n = 0;
    for (const dvz_coll_changelog_t *e = coll.cl_log; e != nullptr; e = e->ch_next)
      ++n;
    return n;
  }
};

long_log_list &list() {
  static long_log_list l;
  return l;
}

/* Every probe positions on the vector's element; false otherwise. */
bool check_agreement() {
  long_log_list &l = list();
  dvz_coll_cursor_t c;
  dvz_coll_open(&l.coll, &c);
  bool ok = l.coll.cl_cardinality == static_cast<int32_t>(l.model.size());
  for (const int32_t k : l.probes) {
    dvz_coll_pos(&l.coll, &c, k - 1);
    char *p = nullptr;
    int32_t len = 0;
    if (k == 1) dvz_coll_pos(&l.coll, &c, 0);
    ok = ok && dvz_coll_next(&l.coll, &c, &p, &len) == 0 && len == 4 &&
         dvz_ld_be_i32(p) == l.model[static_cast<size_t>(k - 1)];
  }
  dvz_coll_close(&l.coll, &c);
  std::printf("LIST of %zu INTEGER with %zu log entries\n", l.model.size(), l.log_length());
  return ok;
}

void BM_CollPosLongLog(benchmark::State &state) {
  long_log_list &l = list();
  dvz_coll_cursor_t c;
  dvz_coll_open(&l.coll, &c);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dvz_coll_pos(&l.coll, &c, l.probes[i & (probe_count - 1)]));
    benchmark::DoNotOptimize(c.cr_dataloc);
    ++i;
  }
  dvz_coll_close(&l.coll, &c);
}

void BM_VectorIndex(benchmark::State &state) {
  long_log_list &l = list();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.model[static_cast<size_t>(l.probes[i & (probe_count - 1)] - 1)]);
    ++i;
  }
}

/* The distinct values of the SET, in a fixed random order. */
const std::vector<int32_t> &set_values() {
  static const std::vector<int32_t> values = [] {
    std::vector<int32_t> v(element_count);
    for (int i = 0; i < element_count; ++i)
      v[static_cast<size_t>(i)] = i * 7 + 1;
    std::shuffle(v.begin(), v.end(), std::mt19937(7));
    return v;
  }();
  return values;
}

void BM_CollSetInsert(benchmark::State &state) {
  auto ti = integer_collection(sql_type_set);
  std::vector<char> elements(4 * static_cast<size_t>(element_count));
  for (size_t i = 0; i < set_values().size(); ++i)
    integer_element(set_values()[i], &elements[4 * i]);
  for (auto _ : state) {
    dvz_coll_t coll {};
    dvz_coll_init(&coll, ti.get(), 1, nullptr, 0);
    for (int i = 0; i < element_count; ++i)
      dvz_coll_insert(&coll, &elements[4 * static_cast<size_t>(i)], 4, 0);
    benchmark::DoNotOptimize(coll.cl_cardinality);
    dvz_coll_free(&coll);
  }
}

void BM_UnorderedSetInsert(benchmark::State &state) {
  for (auto _ : state) {
    std::unordered_set<int32_t> set;
    for (const int32_t v : set_values())
      set.insert(v);
    benchmark::DoNotOptimize(set.size());
  }
}

/* Two MULTISETs of the same 10^4 INTEGER values (with repeats) in two
** orders, and the same values as vectors. */
struct equal_multisets {
  std::unique_ptr<dvz_coll_typeinfo_t, free_deleter> ti = integer_collection(sql_type_multiset);
  dvz_coll_t a {};
  dvz_coll_t b {};
  std::vector<int32_t> va;
  std::vector<int32_t> vb;

  equal_multisets() {
    std::mt19937 rng(46);
    for (int i = 0; i < element_count; ++i)
      va.push_back(static_cast<int32_t>(rng() % (element_count / 2)));
    vb = va;
    std::shuffle(vb.begin(), vb.end(), rng);
    dvz_coll_init(&a, ti.get(), 1, nullptr, 0);
    dvz_coll_init(&b, ti.get(), 1, nullptr, 0);
    char e[4];
    for (int i = 0; i < element_count; ++i) {
      integer_element(va[static_cast<size_t>(i)], e);
      dvz_coll_insert(&a, e, 4, 0);
      integer_element(vb[static_cast<size_t>(i)], e);
      dvz_coll_insert(&b, e, 4, 0);
    }
    dvz_coll_tuple(&a);
    dvz_coll_tuple(&b);
  }
  ~equal_multisets() {
    dvz_coll_free(&a);
    dvz_coll_free(&b);
  }
};

equal_multisets &multisets() {
  static equal_multisets m;
  return m;
}

void BM_CollMultisetEqual(benchmark::State &state) {
  equal_multisets &m = multisets();
  for (auto _ : state) {
    const int equal = dvz_coll_equal(&m.a, &m.b);
    if (equal != 0) state.SkipWithError("the MULTISETs compare unequal");
    benchmark::DoNotOptimize(equal);
  }
}

void BM_VectorSortEqual(benchmark::State &state) {
  equal_multisets &m = multisets();
  for (auto _ : state) {
    std::vector<int32_t> a = m.va;
    std::vector<int32_t> b = m.vb;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    benchmark::DoNotOptimize(a == b);
  }
}

void print_ratios(const glsbench::RatioReporter &r) {
  r.print_header();
  r.ratio("dvz_coll_pos, long log / vector index", "coll_pos_long_log", "vector_index");
  r.ratio("SET of 10^4 by dvz_coll_insert / unordered_set", "coll_set_insert",
          "unordered_set_insert");
  r.ratio("MULTISET equality / sort and compare <= 5", "coll_multiset_equal", "vector_sort_equal");
}

}  // namespace

int main(int argc, char **argv) {
  if (!bench_client_locale(DVZ_BUILD_DOVARIZADIR)) {
    std::fprintf(stderr, "the client locale does not initialise\n");
    return 1;
  }
  if (!check_agreement()) {
    std::fprintf(stderr, "positioning disagrees with the vector\n");
    return 1;
  }
  benchmark::RegisterBenchmark("coll_pos_long_log", BM_CollPosLongLog);
  benchmark::RegisterBenchmark("vector_index", BM_VectorIndex);
  benchmark::RegisterBenchmark("coll_set_insert", BM_CollSetInsert)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("unordered_set_insert", BM_UnorderedSetInsert)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("coll_multiset_equal", BM_CollMultisetEqual)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("vector_sort_equal", BM_VectorSortEqual)
      ->Unit(benchmark::kMicrosecond);
  glsbench::RatioReporter reporter(48, 48);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  glsbench::shut_down();
  return 0;
}
