/*
** A 1 KiB send and receive through ASF_Call (send-buffer allocation,
** send, receive, receive-buffer release) to an in-process echo thread,
** against the same round trip with plain send and recv on a loopback TCP
** socket, in one run. The association connects to a "dr" entry: a
** transport without a session, so the echo thread needs no handshake.
** The sqlhosts file is written to a temporary directory of the run's own
** (call_session.h).
*/
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "call_session.h"
#include "echo_peer.h"

namespace {

constexpr size_t message_size = 1024;

using asf_bench::EchoPeer;
using asf_bench::no_delay;

void BM_PlainSocket(benchmark::State &state) {
  EchoPeer peer;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&peer.addr()), sizeof(sockaddr_in)) != 0) {
    state.SkipWithError("connect");
    close(fd);
    return;
  }
  no_delay(fd);
  char out[message_size];
  char in[message_size];
  std::memset(out, 'x', sizeof out);
  for (auto _ : state) {
    if (send(fd, out, sizeof out, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof out)) {
      state.SkipWithError("send");
      break;
    }
    size_t got = 0;
    while (got < sizeof in) {
      ssize_t n = recv(fd, in + got, sizeof in - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got != sizeof in) {
      state.SkipWithError("recv");
      break;
    }
  }
  close(fd);
}

void BM_AsfCall(benchmark::State &state) {
  EchoPeer peer;
  std::string dir;
  void *assoc =
      asf_bench::call_connect("srv drtlitcp 127.0.0.1 " + std::to_string(peer.port()), dir);
  if (assoc == nullptr) {
    state.SkipWithError("init or connect");
    asf_bench::call_finish(nullptr, dir);
    return;
  }
  char out[message_size];
  std::memset(out, 'x', sizeof out);
  for (auto _ : state) {
    if (const char *failed = asf_bench::call_round_trip(assoc, out, sizeof out)) {
      state.SkipWithError(failed);
      break;
    }
  }
  asf_bench::call_finish(assoc, dir);
}

BENCHMARK(BM_PlainSocket);
BENCHMARK(BM_AsfCall);

}  // namespace

BENCHMARK_MAIN();
