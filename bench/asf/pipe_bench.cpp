/*
** A 1 KiB round trip over pipes: through the transport layer (tlSend,
** tlRecv over the pipe driver) to a back-end that echoes through the
** driver's back-end side, against plain write and read on a pipe pair to
** a trivial echo child, in one run. The program is its own back-end: the
** driver starts it with the server name "pipe-bench-backend" as its
** first argument. Run build/shared/bin/bench_asf_pipe.
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
#include "os_wrappers.h"
#include "tl_records.h"

namespace {

constexpr size_t message_size = 1024;
char backend_name[] = "pipe-bench-backend";

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
  // The connect packet: a 6-byte header with nothing behind it.
  const char packet[6] = {0, 6, 1, 60, 0, 0};
  rscbufctl *b = nullptr;
  bufGet(assoc, 9, &b);
  std::memcpy(b->p, packet, sizeof packet);
  b->size = sizeof packet;
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

BENCHMARK(BM_PlainPipePair)->MinTime(2.0);
BENCHMARK(BM_TransportLayerPipe)->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc == 3 && std::strcmp(argv[1], backend_name) == 0) return run_backend(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
