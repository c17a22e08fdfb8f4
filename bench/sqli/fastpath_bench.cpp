/*
** A fast-path call of a routine with two INTEGER arguments and one
** INTEGER result through the runtime (`_sqfastpath`, no parameter block:
** message 102's header, the bind list of the two values, the end; reply
** 103 with the value and the end), against the same request and reply
** bytes sent and received through ASF_Call directly. Both sides talk to
** one SQLI server double replaying the bytes the engine double answered
** one runtime call with (replay_session.h), in the same run; the program
** checks the bytes of one round of each side first and refuses to run
** otherwise. See RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <cstdio>

#include "gen_types.h"
#include "replay_session.h"
#include "runtime_bench_env.h"
#include "sqli_fastpath.h"

namespace {

constexpr int32_t add_handle = 77;
/* The engine's routine: the handle of "add" and its result for 3 + 4. */
constexpr char scenario[] =
    R"json({"routines": {"function add(integer, integer)": {"handle": 77,
        "results": [{"type": 2, "value": 7}]}}})json";

sqli_bench::ReplayBench bench;

sqlvar_struct host(int type, void *data, int32_t len) {
  sqlvar_struct v {};
  v.sqltype = static_cast<int16_t>(type);
  v.sqldata = static_cast<char *>(data);
  v.sqllen = len;
  return v;
}

/* One call through the runtime: null, or what failed. */
const char *runtime_round() {
  int32_t a = 3, b = 4, sum = 0;
  sqlvar_struct in[] = {host(host_type_int, &a, 4), host(host_type_int, &b, 4)};
  sqlvar_struct out[] = {host(host_type_int, &sum, 4)};
  const sqli_fplist inputs {2, in};
  const sqli_fplist outputs {1, out};
  if (_sqfastpath(add_handle, &inputs, &outputs, nullptr, nullptr) != 0) return "_sqfastpath";
  return sum == 7 ? nullptr : "the result";
}

void BM_AsfCallDirect(benchmark::State &state) {
  sqli_bench::time_rounds(state, [] { return bench.direct(); });
}

void BM_RuntimeFastPath(benchmark::State &state) { sqli_bench::time_rounds(state, runtime_round); }

BENCHMARK(BM_AsfCallDirect)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RuntimeFastPath)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  isolate_runtime_environment(BENCH_DOVARIZADIR);
  if (!bench.prepare(scenario, runtime_round)) return 1;
  return sqli_bench::run_benchmarks(argc, argv, bench, "BM_RuntimeFastPath", {"BM_AsfCallDirect"});
}
