/*
** replay_session.h: what the benchmarks that set a runtime round against
** the same bytes sent and received through ASF_Call share.
**
** `WireTap` is a loopback relay between the runtime and a double that
** records both directions of one connection as exchanges: the bytes the
** client sent up to the server's answer, then the answer. The protocol is
** strictly request and reply, so the direction changes only where the
** other side has everything it waits for; a request that gets no answer
** merges with the next one, which a replaying double reads the same way.
** A round recorded against the engine double gives the replay file (the
** request sizes and the engine's answers, after what the runtime sends
** once a connection, such as its session environment, played once) and
** the direct side's bytes; a round recorded against the replaying double
** shows the runtime sends what was recorded.
**
** The direct side: an association to the replaying double made through
** ASF_Call with the parameters the runtime's connect sends, and one
** round of the recorded exchanges (each request in as few send buffers as
** the services lend, then receives until the answer is whole).
*/
#ifndef DVZ_BENCH_SQLI_REPLAY_SESSION_H
#define DVZ_BENCH_SQLI_REPLAY_SESSION_H

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "asf_call.h"
#include "asf_connect_records.h"
#include "call_session.h"
#include "double_server.h"
#include "sqli_connect.h"
#include "sqli_status.h"
#include "temp_dir.h"
#include "testbed_support.h"

namespace sqli_bench {

/* One request and the server's answer to it (possibly none). */
struct Exchange {
  std::string request;
  std::string reply;
  /* The sizes of the transport messages the request goes in, when the
  ** protocol fixes them; empty: as few send buffers as the services lend. */
  std::vector<size_t> pieces;
};

class WireTap {
 public:
  /* Listens on a free loopback port; the first connection accepted is
  ** relayed to target_port. */
  explicit WireTap(int target_port) : target_(target_port) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { relay(); });
  }
  WireTap(const WireTap &) = delete;
  WireTap &operator=(const WireTap &) = delete;
  ~WireTap() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }

  /* 0 when the relay could not listen. */
  int port() const { return port_; }
  /* The exchanges recorded so far. A client that has its answer sees it
  ** recorded: the relay records before it forwards. */
  std::vector<Exchange> exchanges() const {
    std::lock_guard<std::mutex> hold(lock_);
    return log_;
  }

 private:
  static sockaddr_in loopback(int port) {
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
  }
  static bool send_all(int fd, const char *p, size_t n) {
    while (n > 0) {
      const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
      if (k <= 0) return false;
      p += k;
      n -= static_cast<size_t>(k);
    }
    return true;
  }
  void record(bool from_client, const char *p, size_t n) {
    std::lock_guard<std::mutex> hold(lock_);
    if (from_client && (log_.empty() || !log_.back().reply.empty())) log_.emplace_back();
    if (log_.empty()) log_.emplace_back();
    (from_client ? log_.back().request : log_.back().reply).append(p, n);
  }
  /* Waits up to 100 ms for fd to be readable; false on time-out. */
  bool wait_readable(int fd) const {
    pollfd one {fd, POLLIN, 0};
    return poll(&one, 1, 100) > 0;
  }
  void relay() {
    int client = -1;
    while (!stop_ && client < 0)
      if (wait_readable(listener_)) client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(target_);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
      close(client);
      if (server >= 0) close(server);
      return;
    }
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<char> buf(65536);
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (!stop_) {
      if (poll(fds, 2, 100) <= 0) continue;
      bool ended = false;
      for (int i = 0; i < 2 && !ended; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t k = recv(fds[i].fd, buf.data(), buf.size(), 0);
        if (k <= 0) {
          ended = true;
          break;
        }
        record(i == 0, buf.data(), static_cast<size_t>(k));
        ended = !send_all(fds[1 - i].fd, buf.data(), static_cast<size_t>(k));
      }
      if (ended) break;
    }
    close(client);
    close(server);
  }

  int target_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ {false};
  std::thread thread_;
  mutable std::mutex lock_;
  std::vector<Exchange> log_;
};

/* The exchanges of `after` that `before` did not yet have, the last one
** of `before` being whole (the client had its answer). */
inline std::vector<Exchange> since(const std::vector<Exchange> &before,
                                   const std::vector<Exchange> &after) {
  return std::vector<Exchange>(after.begin() + static_cast<ptrdiff_t>(before.size()), after.end());
}

inline bool same_bytes(const std::vector<Exchange> &a, const std::vector<Exchange> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].request != b[i].request || a[i].reply != b[i].reply) return false;
  return true;
}

/* The replay file: a line "once SIZE HEX" per exchange of the prologue
** (what the runtime sends once a connection), then a line "SIZE HEX" per
** exchange of the round. */
inline std::string replay_text(const std::vector<Exchange> &prologue,
                               const std::vector<Exchange> &round) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const auto *part : {&prologue, &round})
    for (const Exchange &e : *part) {
      if (part == &prologue) out += "once ";
      out += std::to_string(e.request.size());
      out += ' ';
      for (unsigned char c : e.reply) {
        out += digits[c >> 4];
        out += digits[c & 15];
      }
      out += '\n';
    }
  return out;
}

/* An association to the double named server through ASF_Call, with the
** parameters the runtime's own connect sends (a client of level 61, no
** database). The association, or null. */
inline void *direct_connect(const std::string &server) {
  static char version[] = "9.250", clientid[] = "dvzsqli", family[] = "sqli";
  static ascbinreq params {};
  std::strcpy(params.progname, "sqlexec");
  params.version = version;
  params.clientid = clientid;
  params.pfname = family;
  params.word[0] = 311;
  params.pairs = {"", -1, "", -1, 0};
  static std::string name;
  name = server;
  static pfconkind kind {};
  kind.kind = asc_kind_nodb;
  kind.str[asc_str_server] = name.data();
  /* The services take the server of the variable. */
  const char *was = getenv("DOVARIZASERVER");
  const std::string saved = was != nullptr ? was : "";
  setenv("DOVARIZASERVER", name.c_str(), 1);
  void *assoc = asf_bench::call_connect_to(name.c_str(), &params, &kind);
  setenv("DOVARIZASERVER", saved.c_str(), 1);
  return assoc;
}

/* Sends n bytes at p in as few send buffers as the services lend: null,
** or what failed. */
inline const char *direct_send(void *assoc, const char *p, size_t size) {
  size_t at = 0;
  while (at < size) {
    asfsvcctl ctl = asf_bench::call_control(assoc);
    asfsvcreq req {};
    ASF_Init(asf_svc_sendbuf, &req);
    if (ASF_Call(&ctl, &req) != 0) return "send buffer";
    auto *buf = reinterpret_cast<rscbufctl *>(req.word[2]);
    if (buf == nullptr || buf->size <= 0) return "send buffer size";
    const size_t n = std::min(size - at, static_cast<size_t>(buf->size));
    std::memcpy(buf->p, p + at, n);
    buf->size = static_cast<int32_t>(n);
    ASF_Init(asf_svc_send, &req);
    asf_req_set_half(&req, 2, -1);
    req.word[3] = reinterpret_cast<uintptr_t>(buf);
    if (ASF_Call(&ctl, &req) != 0) return "send";
    at += n;
  }
  return nullptr;
}

/* Receives until want.size() bytes came, releasing every buffer; with
** check, they must be want's bytes. Null, or what failed. */
inline const char *direct_receive(void *assoc, const std::string &want, bool check) {
  asfsvcctl ctl = asf_bench::call_control(assoc);
  asfsvcreq req {};
  size_t got = 0;
  bool same = true;
  while (got < want.size()) {
    ASF_Init(asf_svc_receive, &req);
    if (ASF_Call(&ctl, &req) != 0) return "receive";
    auto *in = reinterpret_cast<rscbufctl *>(req.word[3]);
    const size_t n = static_cast<size_t>(in->size);
    if (check)
      same = same && got + n <= want.size() && std::memcmp(in->p, want.data() + got, n) == 0;
    got += n;
    ASF_Init(asf_svc_recvbuf_free, &req);
    req.word[2] = reinterpret_cast<uintptr_t>(in);
    ASF_Call(&ctl, &req);
  }
  if (got != want.size()) return "receive size";
  return same ? nullptr : "received other bytes";
}

/* One round of the exchanges through ASF_Call: null, or what failed. */
inline const char *direct_round(void *assoc, const std::vector<Exchange> &round,
                                bool check = false) {
  for (const Exchange &e : round) {
    if (e.pieces.empty()) {
      if (const char *failed = direct_send(assoc, e.request.data(), e.request.size()))
        return failed;
    } else {
      size_t at = 0;
      for (size_t n : e.pieces) {
        if (at + n > e.request.size()) return "pieces past the request";
        if (const char *failed = direct_send(assoc, e.request.data() + at, n)) return failed;
        at += n;
      }
      if (at != e.request.size()) return "pieces short of the request";
    }
    if (e.reply.empty()) continue;
    if (const char *failed = direct_receive(assoc, e.reply, check)) return failed;
  }
  return nullptr;
}

/* CONNECT TO hatest@server as the current connection: false (the failure
** on stderr) when it fails. */
inline bool runtime_connect(const std::string &server) {
  const std::string env = "hatest@" + server;
  sqli_connect_open(1, SQLI_CONNECT_TO, env.c_str(), nullptr, nullptr, 0);
  if (SQLCODE == 0) return true;
  std::fprintf(stderr, "CONNECT %s: %d %s\n", server.c_str(), SQLCODE, sqlca.sqlerrm);
  return false;
}

inline void runtime_abort() { sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0); }

/* Both sides of a benchmark set up against one replaying double (modern
** profile): the round recorded from the engine double answering the
** scenario, the runtime connected to the replaying double, and the
** direct side's association to it. Every step is checked first. */
class ReplayBench {
 public:
  /* A runtime round: null, or what failed (the runtime's status on
  ** stderr is the caller's). */
  using Round = std::function<const char *()>;

  /* Records two runtime rounds against the engine double answering
  ** scenario (their requests must have the same sizes), replays the
  ** first, with what the runtime sent after its connect before it (the
  ** session environment) played once a connection; checks that one
  ** runtime round against the replaying double sends and receives the
  ** recorded bytes and that one direct round receives them; then leaves
  ** the runtime connected to the replaying double. False, with the reason
  ** on stderr, when any of it fails: the benchmark must not run. */
  bool prepare(const std::string &scenario, const Round &round) {
    replay_file_ = dir_.write("replay", "2 000c\n");
    /* The replaying double first: the engine's sqlhosts file, the last
    ** one made, then names every server. */
    replay_ = std::make_unique<sqli_test::DoubleServer>(
        std::vector<std::string> {"--profile", "modern", "--replay", replay_file_}, "{}",
        "replayed");
    engine_ = std::make_unique<sqli_test::DoubleServer>(
        std::vector<std::string> {"--profile", "modern"}, scenario, "engine");
    engine_->add_server("replayed", replay_->port());

    std::vector<Exchange> second;
    {
      WireTap tap(engine_->port());
      if (tap.port() == 0) return refuse("no relay to the engine double");
      engine_->add_server("tapped", tap.port());
      if (!runtime_connect("tapped")) return false;
      const auto a = tap.exchanges();
      if (const char *failed = round()) return refuse("runtime round against the engine", failed);
      const auto b = tap.exchanges();
      if (const char *failed = round()) return refuse("runtime round against the engine", failed);
      const auto c = tap.exchanges();
      runtime_abort();
      if (a.empty()) return refuse("no connect recorded");
      prologue_.assign(a.begin() + 1, a.end()); /* past the connect */
      round_ = since(a, b);
      second = since(b, c);
    }
    if (round_.empty()) return refuse("the round sent nothing");
    if (!same_sizes(round_, second)) return refuse("two rounds sent requests of other sizes");
    if (!testbed::replace_file(replay_file_, replay_text(prologue_, round_)))
      return refuse("cannot write the replay file");

    {
      WireTap tap(replay_->port());
      if (tap.port() == 0) return refuse("no relay to the replaying double");
      engine_->add_server("replaytap", tap.port());
      if (!runtime_connect("replaytap")) return false;
      const auto a = tap.exchanges();
      if (const char *failed = round()) return refuse("runtime round against the replay", failed);
      const auto b = tap.exchanges();
      runtime_abort();
      if (a.empty() || !same_bytes(std::vector<Exchange>(a.begin() + 1, a.end()), prologue_))
        return refuse("the runtime's connect against the replay sent other bytes");
      if (!same_bytes(since(a, b), round_)) {
        dump(since(a, b));
        return refuse("the runtime's round against the replay is not the recorded bytes");
      }
    }

    assoc_ = direct_connect("replayed");
    if (assoc_ == nullptr) return refuse("direct connect");
    /* The direct side's connection begins as the runtime's does. */
    if (const char *failed = direct_round(assoc_, prologue_, true))
      return refuse("direct prologue", failed);
    if (const char *failed = direct_round(assoc_, round_, true))
      return refuse("direct round", failed);
    if (!runtime_connect("replayed")) return false;
    if (const char *failed = round()) return refuse("runtime round", failed);
    return true;
  }

  /* One direct round: null, or what failed. */
  const char *direct() const { return direct_round(assoc_, round_); }
  /* A second form of the direct round, each request in the transport
  ** messages pieces(i, request) gives (empty: as few as possible); one
  ** round of it is checked. False (the reason on stderr) when it fails. */
  bool prepare_pieces(
      const std::function<std::vector<size_t>(size_t, const std::string &)> &pieces) {
    pieced_ = round_;
    for (size_t i = 0; i < pieced_.size(); ++i)
      pieced_[i].pieces = pieces(i, pieced_[i].request);
    if (const char *failed = direct_round(assoc_, pieced_, true))
      return refuse("direct round in pieces", failed);
    return true;
  }
  const char *direct_in_pieces() const { return direct_round(assoc_, pieced_); }
  const std::vector<Exchange> &recorded() const { return round_; }
  size_t request_bytes() const {
    size_t n = 0;
    for (const Exchange &e : round_)
      n += e.request.size();
    return n;
  }
  size_t reply_bytes() const {
    size_t n = 0;
    for (const Exchange &e : round_)
      n += e.reply.size();
    return n;
  }

  /* Ends both sides and the doubles. */
  void finish() {
    runtime_abort();
    if (assoc_ != nullptr) {
      asfsvcctl ctl = asf_bench::call_control(assoc_);
      asfsvcreq req {};
      ASF_Init(asf_svc_abort, &req);
      ASF_Call(&ctl, &req);
      assoc_ = nullptr;
    }
    engine_.reset();
    replay_.reset();
  }

 private:
  static bool same_sizes(const std::vector<Exchange> &a, const std::vector<Exchange> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i].request.size() != b[i].request.size()) return false;
    return true;
  }
  /* The exchanges' sizes and first bytes, for a refusal. */
  static void dump(const std::vector<Exchange> &xs) {
    for (const Exchange &e : xs) {
      std::string head;
      for (size_t i = 0; i < e.request.size() && i < 64; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(e.request[i]));
        head += hex;
      }
      std::fprintf(stderr, "  request %zu bytes (%s...), reply %zu bytes\n", e.request.size(),
                   head.c_str(), e.reply.size());
    }
  }
  static bool refuse(const char *why, const char *detail = nullptr) {
    std::fprintf(stderr, "refusing to run: %s%s%s (SQLCODE %d %s)\n", why,
                 detail != nullptr ? ": " : "", detail != nullptr ? detail : "", SQLCODE,
                 sqlca.sqlerrm);
    return false;
  }

  dvz_test::TempDir dir_;
  std::string replay_file_;
  std::unique_ptr<sqli_test::DoubleServer> replay_;
  std::unique_ptr<sqli_test::DoubleServer> engine_;
  std::vector<Exchange> prologue_;
  std::vector<Exchange> round_;
  std::vector<Exchange> pieced_;
  void *assoc_ = nullptr;
};

/* The console report, keeping the wall and CPU time of each benchmark (a
** single run, or the median of repetitions) for the ratio. */
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      if (r.error_occurred || (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median"))
        continue;
      wall[r.run_name.function_name] = r.GetAdjustedRealTime();
      cpu[r.run_name.function_name] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  /* Prints runtime / direct of both times when both ran. */
  void print_ratio(const std::string &runtime, const std::string &direct) {
    if (wall.count(runtime) == 0 || wall.count(direct) == 0 || wall[direct] <= 0 ||
        cpu[direct] <= 0)
      return;
    std::printf("%s / %s: wall %.2f, CPU %.2f\n", runtime.c_str(), direct.c_str(),
                wall[runtime] / wall[direct], cpu[runtime] / cpu[direct]);
  }
  std::map<std::string, double> wall;
  std::map<std::string, double> cpu;
};

/* Times round once an iteration; the first failure ends the benchmark
** with its reason. */
inline void time_rounds(benchmark::State &state, const std::function<const char *()> &round) {
  for (auto _ : state) {
    if (const char *failed = round()) {
      state.SkipWithError(failed);
      break;
    }
  }
}

/* After bench.prepare: prints the round's size, runs the benchmarks the
** command line selects, prints the runtime benchmark's medians over each
** direct one's, and ends both sides. Returns main's status. */
inline int run_benchmarks(int argc, char **argv, ReplayBench &bench, const std::string &runtime,
                          const std::vector<std::string> &directs) {
  std::printf("one round: %zu request bytes, %zu reply bytes, %zu exchanges\n",
              bench.request_bytes(), bench.reply_bytes(), bench.recorded().size());
  ::benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  ::benchmark::RunSpecifiedBenchmarks(&reporter);
  ::benchmark::Shutdown();
  for (const std::string &direct : directs)
    reporter.print_ratio(runtime, direct);
  bench.finish();
  return 0;
}

}  // namespace sqli_bench

#endif
