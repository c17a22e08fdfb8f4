/*
** 10,000 rows of 100 bytes (a INTEGER, b CHAR(96)) through an insert
** cursor: DECLARE, OPEN, 10,000 `sqli_curs_put` (the runtime sends a PUT
** request whenever its row buffer is full), FLUSH, CLOSE and FREE through
** the runtime, against the same requests and replies sent and received
** through ASF_Call directly. Both sides talk to one SQLI server double
** replaying the bytes the engine double answered one runtime round with
** (replay_session.h), in the same run; the program checks the bytes of
** one round of each side first and refuses to run otherwise. See
** RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "gen_types.h"
#include "replay_session.h"
#include "runtime_bench_env.h"
#include "sqli_cursor.h"

namespace {

constexpr int rows = 10000;
constexpr int text_length = 96;
constexpr char scenario[] = R"({"tables": {"t": {"columns": [
    {"name": "a", "type": 2, "length": 4}, {"name": "b", "type": 0, "length": 96}],
    "rows": []}}})";

sqli_bench::ReplayBench bench;

sqlvar_struct host(int type, int len, void *data) {
  sqlvar_struct v {};
  v.sqltype = static_cast<int16_t>(type);
  v.sqllen = len;
  v.sqldata = static_cast<char *>(data);
  return v;
}

/* One round through the runtime: null, or what failed. */
const char *runtime_round() {
  void *h = sqli_curs_locate(1, "ic", SQLI_LOCATE_KEEP_CASE);
  const char *pieces[] = {"insert into t values (?, ?)", nullptr};
  if (sqli_curs_decl_stat(1, h, "ic", pieces, nullptr, nullptr, 0, nullptr, nullptr, 2, 0, 0) != 0)
    return "DECLARE";
  if (sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0) != 0) return "OPEN";
  int32_t a = 0;
  char b[text_length + 1];
  std::memset(b, 'x', text_length);
  b[text_length] = '\0';
  sqlvar_struct v[2] = {host(host_type_int, 4, &a), host(host_type_char, text_length + 1, b)};
  sqlda in {};
  in.sqld = 2;
  in.sqlvar = v;
  in.desc_occ = 2;
  for (a = 1; a <= rows; ++a)
    if (sqli_curs_put(1, h, &in, nullptr) != 0) return "PUT";
  if (sqli_curs_flush(1, h) != 0) return "FLUSH";
  if (sqli_curs_close(1, h) != 0) return "CLOSE";
  if (sqli_curs_free(1, h) != 0) return "FREE";
  return nullptr;
}

void BM_AsfCallDirect(benchmark::State &state) {
  sqli_bench::time_rounds(state, [] { return bench.direct(); });
}

void BM_RuntimePut(benchmark::State &state) { sqli_bench::time_rounds(state, runtime_round); }

BENCHMARK(BM_AsfCallDirect)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RuntimePut)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  isolate_runtime_environment(BENCH_DOVARIZADIR);
  if (!bench.prepare(scenario, runtime_round)) return 1;
  return sqli_bench::run_benchmarks(argc, argv, bench, "BM_RuntimePut", {"BM_AsfCallDirect"});
}
