/*
** A 1 KiB send and receive through ASF_Call (send-buffer allocation,
** send, receive, receive-buffer release) to an in-process echo thread,
** against the same round trip with plain send and recv on a loopback TCP
** socket, in one run. The association connects to a "dr" entry: a
** transport without a session, so the echo thread needs no handshake.
** The sqlhosts file is written to a temporary directory of the run's own.
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

asfsvcctl control(void *ascid) {
  asfsvcctl ctl {};
  ctl.flags = asf_flag_sync;
  ctl.timeout = -1;
  ctl.ascid = ascid;
  return ctl;
}

/* Init and connect to the echo peer through a sqlhosts file of our own:
** the association, or null. */
void *connect_to(const EchoPeer &peer, std::string &dir) {
  char tmpl[] = "/tmp/asf_call_bench.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return nullptr;
  dir = tmpl;
  const std::string hosts = dir + "/sqlhosts";
  FILE *f = std::fopen(hosts.c_str(), "w");
  if (f == nullptr) return nullptr;
  std::fprintf(f, "srv drtlitcp 127.0.0.1 %d\n", peer.port());
  std::fclose(f);
  setenv("DOVARIZASQLHOSTS", hosts.c_str(), 1);
  setenv("DOVARIZASERVER", "srv", 1);

  static char prot[28];
  asfsvcctl ctl = control(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  req.word[1] = 17;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(prot);
  if (ASF_Call(&ctl, &req) != 0) return nullptr;

  static ascbinreq parms {};
  std::strcpy(parms.progname, "sqlexec");
  parms.pairs.level = -1;
  parms.pairs.version = -1;
  static pfconkind kind {asc_kind_nodb, 0, {}};
  static pfrequest pfreq {asc_pf_conkind, &kind};
  static char status_byte;
  ctl = control(nullptr);
  ASF_Init(asf_svc_connect, &req);
  req.word[2] = 7;
  req.word[3] = reinterpret_cast<uintptr_t>("srv");
  req.word[4] = 1;
  req.word[5] = reinterpret_cast<uintptr_t>(&status_byte);
  req.word[7] = reinterpret_cast<uintptr_t>(&parms);
  req.word[9] = reinterpret_cast<uintptr_t>(&pfreq);
  if (ASF_Call(&ctl, &req) != 0) {
    std::fprintf(stderr, "connect: %d\n", ctl.asfcode);
    return nullptr;
  }
  return ctl.ascid;
}

void finish(void *assoc, const std::string &dir) {
  asfsvcctl ctl = control(assoc);
  asfsvcreq req {};
  if (assoc != nullptr) {
    ASF_Init(asf_svc_abort, &req);
    ASF_Call(&ctl, &req);
  }
  ctl = control(nullptr);
  ASF_Init(asf_svc_term, &req);
  ASF_Call(&ctl, &req);
  if (!dir.empty()) {
    std::remove((dir + "/sqlhosts").c_str());
    rmdir(dir.c_str());
  }
}

void BM_AsfCall(benchmark::State &state) {
  EchoPeer peer;
  std::string dir;
  void *assoc = connect_to(peer, dir);
  if (assoc == nullptr) {
    state.SkipWithError("init or connect");
    finish(nullptr, dir);
    return;
  }
  char out[message_size];
  std::memset(out, 'x', sizeof out);
  for (auto _ : state) {
    asfsvcctl ctl = control(assoc);
    asfsvcreq req {};
    ASF_Init(asf_svc_sendbuf, &req);
    if (ASF_Call(&ctl, &req) != 0) {
      state.SkipWithError("send buffer");
      break;
    }
    auto *buf = reinterpret_cast<rscbufctl *>(req.word[2]);
    if (buf == nullptr || buf->size < static_cast<int32_t>(message_size)) {
      state.SkipWithError("send buffer size");
      break;
    }
    std::memcpy(buf->p, out, message_size);
    buf->size = static_cast<int32_t>(message_size);
    ASF_Init(asf_svc_send, &req);
    asf_req_set_half(&req, 2, -1);
    req.word[3] = reinterpret_cast<uintptr_t>(buf);
    if (ASF_Call(&ctl, &req) != 0) {
      state.SkipWithError("send");
      break;
    }
    size_t got = 0;
    while (got < message_size) {
      ASF_Init(asf_svc_receive, &req);
      if (ASF_Call(&ctl, &req) != 0) break;
      auto *in = reinterpret_cast<rscbufctl *>(req.word[3]);
      got += static_cast<size_t>(in->size);
      ASF_Init(asf_svc_recvbuf_free, &req);
      req.word[2] = reinterpret_cast<uintptr_t>(in);
      ASF_Call(&ctl, &req);
    }
    if (got != message_size) {
      state.SkipWithError("receive");
      break;
    }
  }
  finish(assoc, dir);
}

BENCHMARK(BM_PlainSocket);
BENCHMARK(BM_AsfCall);

}  // namespace

BENCHMARK_MAIN();
