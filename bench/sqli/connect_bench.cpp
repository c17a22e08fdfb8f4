/*
** CONNECT and DISCONNECT CURRENT on a server of the modern profile (no
** version request) through the runtime (sqli_connect_open and
** sqli_connect_close), against the same association calls and SQLI round
** trips made through ASF_Call directly: directory, connect with the same
** parameters and connect kind, server-entry attribute, the transaction
** query (84, end) and its reply, the exit (56) and its reply, release.
** Both sides talk to one SQLI server double in the same run, which
** replays the same reply bytes for the same request sizes; the program
** first checks one round of each side and refuses to run otherwise. See
** RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "asf_call.h"
#include "asf_connect_records.h"
#include "call_session.h"
#include "double_server.h"
#include "runtime_bench_env.h"
#include "sqli_connect.h"
#include "sqli_status.h"
#include "temp_dir.h"

namespace {

/* The session environment after CONNECT: DBTEMP=/tmp alone (every other
** session variable is removed from the run's environment). */
constexpr char env_message[] =
    "\x00\x51\x00\x06\x00\x14\x00\x06\x00\x04"
    "\x00\x06"
    "DBTEMP"
    "\x00\x04"
    "/tmp"
    "\x00\x00\x00\x00\x00\x0c";
constexpr size_t env_message_size = sizeof env_message - 1;

/* Request size and reply of every SQLI exchange of one round: the
** session environment, the transaction query (no open transaction), then
** the exit. */
constexpr char replay_text[] =
    "# the environment message, answered with the end\n"
    "30 000c\n"
    "# the transaction query 84 + end, answered 84, flag 0, end\n"
    "4 0054 0000 000c\n"
    "# the exit 56, answered 56\n"
    "2 0038\n";

std::unique_ptr<dvz_test::TempDir> replay_dir;
std::unique_ptr<sqli_test::DoubleServer> server;
std::string dbenv;

/* One CONNECT and DISCONNECT CURRENT through the runtime: null, or what
** failed. */
const char *runtime_round() {
  sqli_connect_open(1, SQLI_CONNECT_TO, dbenv.c_str(), nullptr, nullptr, 0);
  if (SQLCODE != 0) return "CONNECT";
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
  if (SQLCODE != 0) return "DISCONNECT CURRENT";
  return nullptr;
}

/* The direct side's fixed data: the services started once, as the
** runtime starts them once per process, and the connect's parameters. */
struct Direct {
  evlist_t envlist {};
  ascbinreq params {};
  char version[8] = "9.250";
  char clientid[8] = "dvzsqli";
  char family[8] = "sqli";
  char database[8] = "hatest";
  std::string server_name;
  pfconkind kind {};
  int32_t connect_word = 0;
};

/* Sends n bytes in one send buffer and receives until `want` bytes came:
** null, or what failed. */
const char *exchange(void *assoc, const char *out, size_t n, size_t want) {
  if (const char *failed = asf_bench::call_send(assoc, out, n)) return failed;
  return asf_bench::call_receive(assoc, want);
}

/* One round of the same calls through ASF_Call: null, or what failed. */
const char *direct_round(Direct &d) {
  asfsvcctl ctl = asf_bench::call_control(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_directory, &req);
  if (ASF_Call(&ctl, &req) != 0) return "directory";
  ASF_FreeNSReg(reinterpret_cast<NSReg *>(req.word[6]));

  ctl = asf_bench::call_control(nullptr);
  ASF_Init(asf_svc_connect, &req);
  req.word[2] = 3;
  req.word[3] = reinterpret_cast<uintptr_t>(dbenv.c_str());
  req.word[4] = 1;
  req.word[5] = reinterpret_cast<uintptr_t>(&d.connect_word);
  req.word[7] = reinterpret_cast<uintptr_t>(&d.params);
  req.word[8] = reinterpret_cast<uintptr_t>(&d.envlist);
  pfrequest pfreq {asc_pf_conkind, &d.kind};
  req.word[9] = reinterpret_cast<uintptr_t>(&pfreq);
  if (ASF_Call(&ctl, &req) != 0) return "connect";
  void *assoc = ctl.ascid;

  ctl = asf_bench::call_control(assoc);
  ASF_Init(asf_svc_attribute, &req);
  req.word[1] = 7;
  if (ASF_Call(&ctl, &req) != 0) return "attribute";

  if (const char *failed = exchange(assoc, env_message, env_message_size, 2)) return failed;
  if (const char *failed = exchange(assoc, "\x00\x54\x00\x0c", 4, 6)) return failed;
  if (const char *failed = exchange(assoc, "\x00\x38", 2, 2)) return failed;

  ctl = asf_bench::call_control(assoc);
  ASF_Init(asf_svc_release, &req);
  if (ASF_Call(&ctl, &req) != 0) return "release";
  return nullptr;
}

/* Fills the direct side's data as the runtime fills its own: false when
** the environment list cannot be made. */
bool prepare(Direct &d) {
  if (_oscpevlist(&d.envlist, "") != 0) return false;
  std::strcpy(d.params.progname, "sqlexec");
  d.params.version = d.version;
  d.params.clientid = d.clientid;
  d.params.pfname = d.family;
  d.params.word[0] = 311;
  d.params.userkind = 0;
  d.params.pairs = {"", -1, "", -1, 0};
  d.server_name = server->server();
  d.kind.kind = asc_kind_connect;
  d.kind.flags = asc_flag_logword | asc_flag_logpath;
  d.kind.str[asc_str_server] = d.server_name.data();
  d.kind.str[asc_str_dbname] = d.database;
  return true;
}

Direct direct;

void BM_AsfCallDirect(benchmark::State &state) {
  for (auto _ : state) {
    if (const char *failed = direct_round(direct)) {
      state.SkipWithError(failed);
      break;
    }
  }
}

void BM_RuntimeConnect(benchmark::State &state) {
  for (auto _ : state) {
    if (const char *failed = runtime_round()) {
      state.SkipWithError(failed);
      break;
    }
  }
}

BENCHMARK(BM_AsfCallDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RuntimeConnect)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  isolate_runtime_environment(BENCH_DOVARIZADIR);
  static_assert(env_message_size == 30);
  replay_dir = std::make_unique<dvz_test::TempDir>();
  const std::string replay = replay_dir->write("replay", replay_text);
  server = std::make_unique<sqli_test::DoubleServer>(
      std::vector<std::string> {"--profile", "modern", "--replay", replay});
  dbenv = "hatest@" + server->server();

  // One round of each side first (the runtime's starts the services, once
  // per process, for both).
  if (const char *failed = runtime_round()) {
    std::fprintf(stderr, "runtime round failed at %s: %d %s\n", failed, SQLCODE, sqlca.sqlerrm);
    return 1;
  }
  if (!prepare(direct)) {
    std::fprintf(stderr, "environment list\n");
    return 1;
  }
  if (const char *failed = direct_round(direct)) {
    std::fprintf(stderr, "direct round failed at %s\n", failed);
    return 1;
  }

  ::benchmark::Initialize(&argc, argv);
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  _osfreevlist(&direct.envlist);
  server.reset();
  replay_dir.reset();
  return 0;
}
