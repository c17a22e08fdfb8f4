/*
** A 1 MiB BYTE value sent from a memory locator and fetched back into
** one through the runtime: INSERT INTO docs VALUES (?) with the locator
** (`sqli_stmt`: the bind list, then the value's 1,025 chunks), then SELECT
** b FROM docs INTO a locator whose buffer the runtime allocates once and
** reuses (`sqli_slct`: the row with the value's descriptor, then the
** request for the value and its chunks); against the same requests and
** replies sent and received through ASF_Call directly. Both sides talk to
** one SQLI server double replaying the bytes the engine double answered
** one runtime round with (replay_session.h), in the same run; the program
** checks the bytes of one round of each side first and refuses to run
** otherwise. See RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "locator.h"
#include "replay_session.h"
#include "runtime_bench_env.h"
#include "sqli_cursor.h"
#include "sqli_runtime_records.h"
#include "sqli_statement.h"

namespace {

constexpr int byte_type = 11;
constexpr int locator_host = 113;
constexpr int value_size = 1 << 20;
constexpr char fill[] = "0123456789abcdefghijklmnopqrstuvwxyz";
const char *const insert_text = "INSERT INTO docs VALUES (?)";

/* The INSERT is answered by rule (the table keeps its one row); the row's
** value is the fill text repeated to 1 MiB, the value sent. */
const std::string scenario = std::string(R"({"rules": [{"text": ")") + insert_text +
                             R"(", "reply": [{"kind": "describe", "stmt_type": 6, "stmt_id": 3},
        {"kind": "done", "rows": 1}, {"kind": "end"}]}],
      "blobs": {"1": {"size": )" +
                             std::to_string(value_size) + R"(, "fill": ")" + fill + R"("}},
      "tables": {"docs": {"columns": [{"name": "b", "type": 11, "length": 56}],
        "rows": [[{"id": 1, "size": )" +
                             std::to_string(value_size) + "}]]}}}";

sqli_bench::ReplayBench bench;
std::string value;
loc_t received {}; /* its buffer the runtime's, kept between rounds */

/* One round through the runtime: null, or what failed. */
const char *runtime_round() {
  loc_t sent {};
  sent.kind = loc_in_memory;
  sent.u.mem.buffer_size = value_size;
  sent.u.mem.buffer = value.data();
  sent.size = value_size;
  sent.sql_type = byte_type;
  sqlvar_struct in {};
  in.sqltype = locator_host;
  in.sqldata = reinterpret_cast<char *>(&sent);
  sqli_stmtrec insert {};
  const char *insert_pieces[] = {insert_text, nullptr};
  if (sqli_stmt(1, &insert, insert_pieces, 1, &in, nullptr, nullptr, nullptr, nullptr, 0, 0, 0) !=
      0)
    return "INSERT";

  sqlvar_struct out {};
  out.sqltype = locator_host;
  out.sqldata = reinterpret_cast<char *>(&received);
  sqli_cursor query {};
  const char *select_pieces[] = {"SELECT b FROM docs", nullptr};
  if (sqli_slct(1, &query, select_pieces, 0, nullptr, 1, &out, 0, nullptr, nullptr, nullptr,
                nullptr, 0) != 0)
    return "SELECT";
  if (received.size != value_size || received.indicator != 0) return "the value's size";
  return nullptr;
}

/* The transport messages the runtime sends a request holding the value
** in: the request before the chunks (flushed so that they begin in a
** fresh buffer), each full chunk alone (flushed after it), then the empty
** chunk with the rest of the request. Empty for a request without the
** chunks. */
std::vector<size_t> runtime_pieces(size_t, const std::string &request) {
  constexpr size_t chunk = 4 + 1024;
  constexpr size_t chunks = value_size / 1024;
  const std::string full("\x00\x27\x04\x00", 4), empty("\x00\x27\x00\x00", 4);
  for (size_t head = request.find(full); head != std::string::npos;
       head = request.find(full, head + 1)) {
    const size_t end = head + chunks * chunk;
    if (end + empty.size() > request.size() || request.compare(end, empty.size(), empty) != 0)
      continue;
    std::vector<size_t> out {head};
    for (size_t i = 0; i < chunks && out.size() == i + 1; ++i)
      if (request.compare(head + i * chunk, full.size(), full) == 0) out.push_back(chunk);
    if (out.size() != chunks + 1) continue;
    out.push_back(request.size() - end);
    return out;
  }
  return {};
}

void BM_AsfCallChunked(benchmark::State &state) {
  sqli_bench::time_rounds(state, [] { return bench.direct_in_pieces(); });
}

void BM_AsfCallDirect(benchmark::State &state) {
  sqli_bench::time_rounds(state, [] { return bench.direct(); });
}

void BM_RuntimeBlob(benchmark::State &state) { sqli_bench::time_rounds(state, runtime_round); }

BENCHMARK(BM_AsfCallDirect)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AsfCallChunked)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RuntimeBlob)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  isolate_runtime_environment(BENCH_DOVARIZADIR);
  value.resize(value_size);
  for (size_t i = 0; i < value.size(); ++i)
    value[i] = fill[i % (sizeof fill - 1)];
  received.kind = loc_in_memory;
  received.u.mem.buffer_size = -1;
  received.sql_type = byte_type;
  if (!bench.prepare(scenario, runtime_round)) return 1;
  if (std::memcmp(received.u.mem.buffer, value.data(), value.size()) != 0) {
    std::fprintf(stderr, "refusing to run: the value fetched is not the value sent\n");
    return 1;
  }
  bool chunked = false;
  for (const auto &e : bench.recorded())
    chunked = chunked || !runtime_pieces(0, e.request).empty();
  if (!chunked) {
    std::fprintf(stderr, "refusing to run: no request holds the value's chunks\n");
    return 1;
  }
  if (!bench.prepare_pieces(runtime_pieces)) return 1;
  const int status = sqli_bench::run_benchmarks(argc, argv, bench, "BM_RuntimeBlob",
                                                {"BM_AsfCallDirect", "BM_AsfCallChunked"});
  if ((received.u.mem.memory_flags & 1) != 0) std::free(received.u.mem.buffer);
  return status;
}
