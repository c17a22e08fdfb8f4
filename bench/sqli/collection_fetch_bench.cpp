/*
** collection_fetch_bench.cpp: FETCH through a collection cursor over a
** LIST of 10,000 INTEGER elements into an `int` host variable (DECLARE,
** OPEN, 10,000 FETCHes and the FETCH that finds the end, CLOSE), against a
** hand loop over the same list: dvz_coll_next, rdataval and rvalcvar per
** element. Both in the same run. The cursor is a record of the program's
** own, as the runtime keeps them, so that no connection is needed: the
** statement never goes to a server.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gen_collection.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "gen_value.h"
#include "runtime_bench_env.h"
#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"

namespace {

constexpr int elements = 10000;

/* A LIST of INTEGER holding 0 .. elements - 1, made through the public
** allocation and the value library's insert. */
dvz_coll_t *make_list() {
  dvz_cl_pubfield fields[3] {};
  fields[0].seqno = 1;
  fields[0].type = sql_type_list;
  fields[1].seqno = 2;
  fields[1].level_no = 1;
  fields[1].type = sql_type_integer;
  fields[1].length = 4;
  dvz_coll_t *coll = nullptr;
  if (dvz_cl_alloc(&coll, fields) != 0) return nullptr;
  for (int i = 0; i < elements; ++i) {
    value_t v {};
    v.vtype = sql_type_integer;
    v.vint = i;
    char data[4];
    if (rvaldata(&v, data, sql_type_integer, 4) != 0 || dvz_coll_insert(coll, data, 4, 0) != 0)
      return nullptr;
  }
  if (dvz_coll_tuple(coll) != 0) return nullptr;
  return coll;
}

dvz_coll_t *the_list() {
  static dvz_coll_t *coll = make_list();
  return coll;
}

void BM_FetchThroughCollectionCursor(benchmark::State &state) {
  dvz_coll_t *coll = the_list();
  int host = 0;
  sqlvar_struct in {};
  in.sqltype = static_cast<int16_t>(host_type_collection | 0x8000);
  in.sqldata = reinterpret_cast<char *>(coll);
  sqlvar_struct out {};
  out.sqltype = host_type_int;
  out.sqllen = sizeof host;
  out.sqldata = reinterpret_cast<char *>(&host);
  sqli_varlist input {1, &in};
  sqli_varlist output {1, &out};
  sqli_litval lits[1] {};
  const char *text[] = {"select * from table(:l)", nullptr};
  sqli_fetchspec next {0, 1, 0};
  long sum = 0;
  for (auto _ : state) {
    sqli_cursor record {};
    record.stmt_id = -1;
    void *h = sqli_cursor_handle(&record);
    if (sqli_curs_decl_stat(1, h, "lc", text, &input, &output, 0, lits, nullptr, 2, 0, 1) != 0 ||
        sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0) != 0) {
      state.SkipWithError("DECLARE or OPEN failed");
      break;
    }
    int n = 0;
    while (sqli_curs_fetch(1, h, nullptr, nullptr, nullptr, &next) == 0) {
      sum += host;
      ++n;
    }
    sqli_curs_close(1, h);
    free_cl_cursor(&record);
    _sqfrcmdtxt(record.stmt_text);
    if (n != elements) {
      state.SkipWithError("wrong element count");
      break;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * elements);
}

void BM_HandLoop(benchmark::State &state) {
  dvz_coll_t *coll = the_list();
  long sum = 0;
  for (auto _ : state) {
    dvz_coll_cursor_t cursor {};
    dvz_coll_open(coll, &cursor);
    int n = 0;
    char *data = nullptr;
    int32_t len = 0;
    while (dvz_coll_next(coll, &cursor, &data, &len) == 0) {
      value_t v {};
      int host = 0;
      int16_t ind = 0;
      rdataval(data, sql_type_integer, 4, &v);
      rvalcvar(&v, reinterpret_cast<char *>(&host), host_type_int, sizeof host, &ind);
      sum += host;
      data = nullptr;
      ++n;
    }
    dvz_coll_close(coll, &cursor);
    if (n != elements) {
      state.SkipWithError("wrong element count");
      break;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * elements);
}

BENCHMARK(BM_HandLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FetchThroughCollectionCursor)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  isolate_runtime_environment(BENCH_DOVARIZADIR);
  if (CheckGlobInit() == nullptr || the_list() == nullptr) {
    std::fprintf(stderr, "cannot set up the runtime or the list\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
