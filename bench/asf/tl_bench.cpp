/*
** A 1 KiB round trip over loopback TCP through the transport layer
** (tlSend, tlRecv over the TLI driver) against plain send and recv on a
** connected TCP socket, both against the same echo thread, in one run.
** RESULTS.md gives the command and the figures.
*/
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <thread>

#include "asf_al.h"
#include "echo_peer.h"
#include "tl_records.h"

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
  std::memset(out, 'x', sizeof out);
  char in[message_size];
  for (auto _ : state) {
    if (send(fd, out, sizeof out, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof out)) break;
    size_t got = 0;
    while (got < sizeof in) {
      ssize_t n = recv(fd, in + got, sizeof in - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    benchmark::DoNotOptimize(in);
  }
  close(fd);
}

void BM_TransportLayer(benchmark::State &state) {
  EchoPeer peer;
  asfsvcctl ctl {};
  ctl.flags = 1;
  ctl.timeout = -1;
  char status[4] = {};
  Assocctl *assoc = alCSalloc(&ctl, asf_kind_requester, status);
  ctl.ascid = assoc;
  std::string text = peer.text();
  tlreqaddr addr {1, text.data()};
  SqlhOptions options {};
  tlconnreq parms {};
  parms.addr = &addr;
  parms.options = &options;
  if (assoc == nullptr || tlConnect(&ctl, &parms) != 0) {
    state.SkipWithError("tlConnect");
    if (assoc != nullptr) {
      tlDiscon(&ctl, 0x8000);
      alCSfree(assoc);
    }
    return;
  }
  for (auto _ : state) {
    rscbufctl *b = nullptr;
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

BENCHMARK(BM_PlainSocket)->MinTime(2.0);
BENCHMARK(BM_TransportLayer)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
