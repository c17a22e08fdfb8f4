/*
** A 1 KiB round trip over pipes, three ways in one run: plain write and
** read on a pipe pair to a trivial echo child; through the transport layer
** (tlSend, tlRecv over the pipe driver) to a back-end that echoes through
** the driver's back-end side (this program, started again with the server
** name "pipe-bench-backend" as its first argument); and through ASF_Call
** (services send and receive) over a pipe connection to the pipe driver's
** test back-end (tests/asf/net/pipe_backend.cpp, built for the benchmarks
** as bench_asf_pipe_backend; its path comes from the build as
** PIPE_BACKEND). Run build/<dir>/bin/bench_asf_pipe (RESULTS.md).
*/
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <climits>
#include <cstring>
#include <string>

#include "asf_al.h"
#include "asf_pipe.h"
#include "call_session.h"
#include "os_wrappers.h"
#include "tl_records.h"

namespace {

constexpr size_t message_size = 1024;
char backend_name[] = "pipe-bench-backend";
/* The first message to a back-end, its connect packet, read to the length
** in its first two bytes: a 6-byte header with nothing behind it. */
constexpr char connect_packet[6] = {0, 6, 1, 60, 0, 0};

std::string self_path() {
  char path[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string node_name() {
  char node[ASF_NODENAME_SIZE] = {};
  rhostname(node, sizeof node);
  return node;
}

/* The back-end: accept on descriptors 0 and 1, take the connect packet,
** echo every message until the end. */
int run_backend(int argc, char **argv) {
  asf_pipe_set_process_args(argc, argv);
  char lstatus[4] = {};
  char astatus[4] = {};
  asfsvcctl lctl {};
  lctl.flags = 1;
  lctl.timeout = -1;
  Assocctl *lsn = alCSalloc(&lctl, asf_kind_listener, lstatus);
  if (lsn == nullptr) return 1;
  lctl.ascid = lsn;
  std::string text = node_name() + "|bench|ipcpip";
  tlreqaddr addr {1, text.data()};
  tlconnreq parms {};
  parms.addr = &addr;
  asfsvcctl actl = lctl;
  Assocctl *acc = alCSalloc(&actl, asf_kind_accepted, astatus);
  tlpeeraddr *peer = nullptr;
  if (acc == nullptr || tlListen(&lctl, &parms, 0) != 0 || tlAccept(&lctl, acc, &peer) != 0)
    return 1;
  actl.ascid = acc;
  for (;;) {
    rscbufctl *r = nullptr;
    if (tlRecv(&actl, &r) != 0) break;
    const int32_t n = r->size;
    rscbufctl *b = nullptr;
    if (bufGet(acc, 9, &b) != 0 || n > b->size) break;
    std::memcpy(b->p, r->p, static_cast<size_t>(n));
    b->size = n;
    bufReg(acc, 10, r);
    if (tlSend(&actl, b) != 0) break;
  }
  return 0;
}

void BM_PlainPipePair(benchmark::State &state) {
  int to_child[2];
  int from_child[2];
  if (pipe(to_child) != 0 || pipe(from_child) != 0) {
    state.SkipWithError("pipe");
    return;
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(to_child[1]);
    close(from_child[0]);
    char chunk[8192];
    for (;;) {
      ssize_t n = read(to_child[0], chunk, sizeof chunk);
      if (n <= 0 || write(from_child[1], chunk, static_cast<size_t>(n)) != n) break;
    }
    _exit(0);
  }
  close(to_child[0]);
  close(from_child[1]);
  char out[message_size];
  std::memset(out, 'x', sizeof out);
  char in[message_size];
  for (auto _ : state) {
    if (write(to_child[1], out, sizeof out) != static_cast<ssize_t>(sizeof out)) break;
    size_t got = 0;
    while (got < sizeof in) {
      ssize_t n = read(from_child[0], in + got, sizeof in - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    benchmark::DoNotOptimize(in);
  }
  close(to_child[1]);
  close(from_child[0]);
  waitpid(pid, nullptr, 0);
}

void BM_TransportLayerPipe(benchmark::State &state) {
  asfsvcctl ctl {};
  ctl.flags = 1;
  ctl.timeout = -1;
  char status[4] = {};
  Assocctl *assoc = alCSalloc(&ctl, asf_kind_requester, status);
  ctl.ascid = assoc;
  std::string text = node_name() + "|" + self_path() + "|ipcpip";
  tlreqaddr addr {1, text.data()};
  tlconnreq parms {};
  parms.addr = &addr;
  parms.servername = backend_name;
  if (assoc == nullptr || tlConnect(&ctl, &parms) != 0) {
    state.SkipWithError("tlConnect");
    if (assoc != nullptr) {
      tlDiscon(&ctl, 0);
      alCSfree(assoc);
    }
    return;
  }
  rscbufctl *b = nullptr;
  bufGet(assoc, 9, &b);
  std::memcpy(b->p, connect_packet, sizeof connect_packet);
  b->size = sizeof connect_packet;
  tlSend(&ctl, b);
  for (auto _ : state) {
    b = nullptr;
    if (bufGet(assoc, 9, &b) != 0) break;
    std::memset(b->p, 'x', message_size);
    b->size = message_size;
    if (tlSend(&ctl, b) != 0) break;
    size_t got = 0;
    while (got < message_size) {
      rscbufctl *r = nullptr;
      if (tlRecv(&ctl, &r) != 0) break;
      got += static_cast<size_t>(r->size);
      benchmark::DoNotOptimize(r->p);
      bufReg(assoc, 10, r);
    }
  }
  tlDiscon(&ctl, 0);
  alCSfree(assoc);
}

/* The back-end answers the first message (its connect packet) with one
** report line and echoes from then on. The row's product is "dr", a
** transport without a session: that back-end speaks no connect protocol,
** so the first message and its report are exchanged before the timing. */
void BM_AsfCallPipe(benchmark::State &state) {
  std::string dir;
  void *assoc = asf_bench::call_connect("srv dripcpip " + node_name() + " " PIPE_BACKEND, dir);
  const char *failed = assoc == nullptr ? "init or connect" : nullptr;
  if (failed == nullptr)
    failed = asf_bench::call_send(assoc, connect_packet, sizeof connect_packet);
  if (failed == nullptr) failed = asf_bench::call_receive(assoc, 0, true);
  if (failed != nullptr) {
    state.SkipWithError(failed);
    asf_bench::call_finish(assoc, dir);
    return;
  }
  char out[message_size];
  std::memset(out, 'x', sizeof out);
  for (auto _ : state) {
    if ((failed = asf_bench::call_round_trip(assoc, out, sizeof out)) != nullptr) {
      state.SkipWithError(failed);
      break;
    }
  }
  asf_bench::call_finish(assoc, dir);
}

BENCHMARK(BM_PlainPipePair)->MinTime(2.0);
BENCHMARK(BM_TransportLayerPipe)->MinTime(2.0);
BENCHMARK(BM_AsfCallPipe)->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc == 3 && std::strcmp(argv[1], backend_name) == 0) return run_backend(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
