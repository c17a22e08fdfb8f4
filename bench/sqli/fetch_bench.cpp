/*
** Rows fetched per second through sqli_curs_fetch from a 10,000-row table
** (name VARCHAR(64), value INTEGER: 69-byte rows, 59 to a 4096-byte batch;
** on the modern profile VARCHAR travels without its padding, 10 to 13
** bytes a row) on the SQLI server double over loopback TCP, on the minimal
** and the modern profile (each pass declares, opens, fetches every row,
** closes and frees on a connection made before the timing); against, in
** the same run, the round trips of
** requests and replies of the same sizes (a batch request, the tuples of
** the first batch and the end)
** through ASF_Call send and receive to the double replaying those bytes
** (--replay). At the end it prints, per profile,
**   rows per second / (rows per batch x baseline round trips per second),
** which is 1 when the runtime adds nothing to the round trips it waits on,
** and the same ratio per second of the runtime's own CPU time (the rest of
** the wall time is the double's, which answers in Python). See RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "asf_call.h"
#include "asf_connect_records.h"
#include "call_session.h"
#include "double_server.h"
#include "probe_row.h"
#include "replay_session.h"
#include "runtime_bench_env.h"
#include "sqli_connect.h"
#include "sqli_cursor.h"
#include "sqli_status.h"
#include "temp_dir.h"
#include "wire_codec.h"

namespace {

constexpr int table_rows = 10000;
constexpr int batch_bytes = 4096;
const char *const select_text = "SELECT name, value FROM sysprofile";

/* One profile: its double, the replaying double of the same bytes, and
** the sizes of a batch request and reply in its forms. */
struct Profile {
  const char *name;
  bool long_tuples; /* tuple lengths as i32 (capability 0x4) */
  bool compact; /* VARCHAR fields carry only their characters (capability 0x1000) */
  size_t request_size; /* [4 id, 9 size (array size), 12] */
  std::string server; /* sqlhosts name of the profile's double */
  std::unique_ptr<sqli_test::DoubleServer> engine;
  std::unique_ptr<sqli_test::DoubleServer> replay;
  sqli_test::Bytes reply; /* the bytes of the first batch reply */
  void *assoc = nullptr;
  double batch_rows = 0; /* rows per batch over a whole pass */
};

Profile profiles[] = {
    {"minimal", false, false, 10, "fetchmin", {}, {}, {}, nullptr, 0},
    {"modern", true, true, 12, "fetchmod", {}, {}, {}, nullptr, 0},
};
std::unique_ptr<dvz_test::TempDir> work_dir;

/* The first batch reply as the double sends it: the tuples of the
** generated rows (name<i> VARCHAR(64), i) that fit the buffer, the end. */
sqli_test::Bytes batch_reply(const Profile &p) {
  sqli_test::Wire w;
  int room = batch_bytes;
  for (int i = 1;; ++i) {
    char name[65] = {};
    const int n = std::snprintf(name, sizeof name, "name%d", i);
    const int len = 1 + (p.compact ? n : 64) + 4;
    if (len > room) break;
    room -= len;
    w.i16(14).i16(0);
    if (p.long_tuples)
      w.i32(len);
    else
      w.i16(len);
    w.raw(std::string(1, static_cast<char>(n)))
        .raw(std::string_view(name, static_cast<size_t>(p.compact ? n : 64)))
        .i32(i)
        .pad_if_odd(static_cast<size_t>(len));
  }
  return w.i16(12);
}

/* CONNECT TO p's double as the current connection: false (the failure
** on stderr) when it fails. */
bool runtime_connect(const Profile &p) {
  const std::string env = "hatest@" + p.server;
  sqli_connect_open(1, SQLI_CONNECT_TO, env.c_str(), p.name, nullptr, 0);
  if (SQLCODE == 0) return true;
  std::fprintf(stderr, "CONNECT %s: %d %s\n", p.name, SQLCODE, sqlca.sqlerrm);
  return false;
}

void runtime_disconnect() {
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
}

/* One pass over the table through the runtime on the current connection
** (to p's double): declare, open, fetch every row, close, free. The rows
** fetched, or -1 (the failure on stderr). */
long runtime_pass(const Profile &p) {
  void *h = sqli_curs_locate(1, "f1", SQLI_LOCATE_KEEP_CASE);
  const char *pieces[] = {select_text, nullptr};
  sqli_curs_decl_stat(1, h, "f1", pieces, nullptr, nullptr, 0, nullptr, nullptr, 2, 0, 0);
  sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0);
  sqli_test::ProbeRow row;
  sqli_fetchspec next {0, 1, 0};
  long rows = 0;
  while (SQLCODE == 0 && sqli_curs_fetch(1, h, nullptr, &row.da, nullptr, &next) == 0)
    ++rows;
  const int32_t end = SQLCODE;
  sqli_curs_close(1, h);
  sqli_curs_free(1, h);
  if (end != 100) {
    std::fprintf(stderr, "FETCH %s after %ld rows: %d %s\n", p.name, rows, end, sqlca.sqlerrm);
    return -1;
  }
  return rows;
}

void BM_RuntimeFetch(benchmark::State &state) {
  const Profile &p = profiles[state.range(0)];
  /* The connection is made outside the timing: the rate is the fetching's. */
  if (!runtime_connect(p)) {
    state.SkipWithError("connect");
    return;
  }
  long rows = 0;
  for (auto _ : state) {
    const long got = runtime_pass(p);
    if (got != table_rows) {
      state.SkipWithError("pass");
      break;
    }
    rows += got;
  }
  runtime_disconnect();
  state.SetLabel(p.name);
  state.counters["rows_per_s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

/* One batch request and its reply through ASF_Call: null, or what failed. */
const char *baseline_trip(const Profile &p) {
  const std::string request(p.request_size, '\0');
  if (const char *failed = asf_bench::call_send(p.assoc, request.data(), request.size()))
    return failed;
  return asf_bench::call_receive(p.assoc, p.reply.size());
}

void BM_AsfCallBatch(benchmark::State &state) {
  Profile &p = profiles[state.range(0)];
  long trips = 0;
  for (auto _ : state) {
    if (const char *failed = baseline_trip(p)) {
      state.SkipWithError(failed);
      break;
    }
    ++trips;
  }
  state.SetLabel(p.name);
  state.counters["trips_per_s"] =
      benchmark::Counter(static_cast<double>(trips), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_AsfCallBatch)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RuntimeFetch)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

/* The console report, keeping each profile's rate for the ratio. */
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      /* A single run, or the median of repetitions. */
      if (r.error_occurred || (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median"))
        continue;
      for (const char *key : {"rows_per_s", "trips_per_s"})
        if (auto it = r.counters.find(key); it != r.counters.end()) {
          rates[r.report_label + "/" + key] = it->second.value;
          if (r.cpu_accumulated_time > 0)
            busy[r.report_label + "/" + key] = r.real_accumulated_time / r.cpu_accumulated_time;
        }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
  std::map<std::string, double> busy; /* wall time / this process's CPU time */
};

}  // namespace

int main(int argc, char **argv) {
  isolate_runtime_environment(BENCH_DOVARIZADIR);
  work_dir = std::make_unique<dvz_test::TempDir>();
  const std::string scenario = R"({"tables": {"sysprofile": {"columns": [
      {"name": "name", "type": 13, "length": 64}, {"name": "value", "type": 2, "length": 4}],
      "generate": )" + std::to_string(table_rows) +
                               "}}}";
  /* The replaying doubles first: each double names itself the server of
  ** the variables, and the last one's sqlhosts file gets every name. */
  for (Profile &p : profiles) {
    p.reply = batch_reply(p);
    const std::string file =
        work_dir->write(std::string("replay.") + p.name,
                        std::to_string(p.request_size) + " " + sqli_test::hex(p.reply) + "\n");
    p.replay = std::make_unique<sqli_test::DoubleServer>(
        std::vector<std::string> {"--profile", p.name, "--replay", file});
  }
  profiles[1].engine = std::make_unique<sqli_test::DoubleServer>(
      std::vector<std::string> {"--profile", "modern"}, scenario);
  profiles[0].engine = std::make_unique<sqli_test::DoubleServer>(
      std::vector<std::string> {"--profile", "minimal"}, scenario);
  sqli_test::DoubleServer &hosts = *profiles[0].engine;
  for (Profile &p : profiles) {
    hosts.add_server(p.server, p.engine->port());
    hosts.add_server(std::string(p.name) + "replay", p.replay->port());
  }

  /* One pass of each profile first (the runtime starts the services),
  ** which also shows the rows per batch. */
  for (Profile &p : profiles) {
    if (!runtime_connect(p)) return 1;
    const long rows = runtime_pass(p);
    runtime_disconnect();
    if (rows != table_rows) return 1;
    const size_t batches = p.engine->messages(9).size();
    if (batches == 0) return 1;
    p.batch_rows = static_cast<double>(table_rows) / static_cast<double>(batches);
  }
  /* The baseline's associations, through the same services. */
  for (Profile &p : profiles) {
    p.assoc = sqli_bench::direct_connect(std::string(p.name) + "replay");
    if (p.assoc == nullptr) return 1;
    if (const char *failed = baseline_trip(p)) {
      std::fprintf(stderr, "baseline %s: %s\n", p.name, failed);
      for (const auto &e : p.replay->journal())
        std::fprintf(stderr, "  %s\n", e.line.c_str());
      return 1;
    }
  }

  ::benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  ::benchmark::RunSpecifiedBenchmarks(&reporter);
  ::benchmark::Shutdown();
  for (const Profile &p : profiles) {
    const auto rows = reporter.rates.find(std::string(p.name) + "/rows_per_s");
    const auto trips = reporter.rates.find(std::string(p.name) + "/trips_per_s");
    if (rows == reporter.rates.end() || trips == reporter.rates.end() || trips->second <= 0)
      continue;
    const double ratio = rows->second / (p.batch_rows * trips->second);
    const double cpu = reporter.busy[std::string(p.name) + "/rows_per_s"];
    std::printf(
        "%s: %.0f rows/s, %.0f round trips/s, %.1f rows a batch: ratio %.2f "
        "(per second of the runtime's own CPU: %.2f)\n",
        p.name, rows->second, trips->second, p.batch_rows, ratio, ratio * cpu);
  }
  for (Profile &p : profiles)
    p.engine.reset();
  for (Profile &p : profiles)
    p.replay.reset();
  work_dir.reset();
  return 0;
}
