/*
** CPU per probe of the Dovariza probe on the real runtime against the SQLI
** server double (a `sysprofile` of 60 rows: the 40 watched counters, flat,
** and 20 names not watched): a statistics probe, and a statistics probe
** followed by the test transaction. Baseline in the same run: the same
** number of round trips, of the same request and reply sizes, over a plain
** loopback socket to the double's raw replay port. The sizes are recorded
** first, by running one probe of each kind through a forwarding proxy in
** this process. CPU is that of the calling thread (the double is another
** process). See RESULTS.md.
*/
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "double_server.h"
#include "dovariza_probe.h"
#include "monitor_log.h"
#include "scoped_env.h"
#include "sqli_double_process.h"
#include "sysprofile_rows.h"
#include "temp_dir.h"

namespace {

/* The monitor's syslog seam, silent: the probe logs only its failures
** (2540), and the last one is kept for the message of a failed run. */
char last_message[1024];
void quiet_open(const char *, int, int) {}
int quiet_mask(int) { return 0; }
void quiet_vlog(int, const char *format, va_list args) {
  vsnprintf(last_message, sizeof last_message, format, args);
}
void quiet_close() {}
const syslog_sink quiet_sink = {quiet_open, quiet_mask, quiet_vlog, quiet_close};

int loopback_socket(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  int one = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

/* One round trip on the wire: the bytes the client wrote before the
** server's reply began, and the reply's bytes before the client wrote
** again. */
struct Exchange {
  size_t request = 0;
  size_t reply = 0;
};

/* A forwarding proxy on 127.0.0.1 between one client at a time and the
** double, recording the sizes of the round trips while asked to. Every
** wait is a poll of at most 100 ms, so it ends soon after stop(). */
class RecordingProxy {
 public:
  explicit RecordingProxy(int upstream_port) : upstream_(upstream_port) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listen_, 4) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      throw std::runtime_error("proxy: cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~RecordingProxy() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  int port() const { return port_; }

  /* Starts recording afresh; the exchanges recorded since. */
  void record() {
    std::lock_guard<std::mutex> lock(mutex_);
    exchanges_.clear();
    recording_ = true;
  }
  std::vector<Exchange> recorded() {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = false;
    return exchanges_;
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p {listen_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      int server = loopback_socket(upstream_);
      if (server >= 0) forward(client, server);
      close(client);
      if (server >= 0) close(server);
    }
  }
  /* Copies both ways until either side closes or stop(). */
  void forward(int client, int server) {
    char buf[65536];
    while (!stop_) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(p, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = recv(p[i].fd, buf, sizeof buf, 0);
        if (n <= 0 || !write_all(p[1 - i].fd, buf, static_cast<size_t>(n))) return;
        note(i == 0, static_cast<size_t>(n));
      }
    }
  }
  void note(bool from_client, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!recording_) return;
    if (from_client) {
      if (exchanges_.empty() || exchanges_.back().reply > 0) exchanges_.emplace_back();
      exchanges_.back().request += n;
    } else if (!exchanges_.empty()) {
      exchanges_.back().reply += n;
    }
  }

  int upstream_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ {false};
  std::mutex mutex_;
  bool recording_ = false;
  std::vector<Exchange> exchanges_;
  std::thread thread_;
};

int internal_error = 0;
int dbms_error = 0;

/* One probe of each kind; false (with the probe's message on stderr) when
** it failed or found activity (the counters stay flat). */
bool statistics_probe() {
  int activity = dovariza_probe_ops.dbms_statistics(&internal_error, &dbms_error);
  return activity == 0 && dbms_error == 0;
}
bool transaction_probe() {
  return statistics_probe() &&
         dovariza_probe_ops.dbms_test_transaction(nullptr, &internal_error, &dbms_error) == 1;
}

/* The replay file of a recorded probe: each request size with a reply of
** as many zero bytes as the real one. */
std::string replay_text(const std::vector<Exchange> &exchanges) {
  std::string text;
  for (const Exchange &e : exchanges)
    text += std::to_string(e.request) + " " + std::string(2 * e.reply, '0') + "\n";
  return text;
}

struct Recorded {
  std::vector<Exchange> statistics;
  std::vector<Exchange> transaction;
};
Recorded recorded;
std::unique_ptr<testbed::SqliDouble> raw_statistics;
std::unique_ptr<testbed::SqliDouble> raw_transaction;

/* Round trips and bytes each way of one probe, as counters. */
void count_exchanges(benchmark::State &state, const std::vector<Exchange> &exchanges) {
  size_t out = 0, in = 0;
  for (const Exchange &e : exchanges) {
    out += e.request;
    in += e.reply;
  }
  state.counters["round_trips"] = static_cast<double>(exchanges.size());
  state.counters["bytes_out"] = static_cast<double>(out);
  state.counters["bytes_in"] = static_cast<double>(in);
}

void report_failure(benchmark::State &state) {
  state.SkipWithError(("probe failed: " + std::to_string(dbms_error) + " " + last_message).c_str());
}

void BM_ProbeStatistics(benchmark::State &state) {
  for (auto _ : state)
    if (!statistics_probe()) return report_failure(state);
  count_exchanges(state, recorded.statistics);
}

void BM_ProbeStatisticsTestTransaction(benchmark::State &state) {
  for (auto _ : state)
    if (!transaction_probe()) return report_failure(state);
  count_exchanges(state, recorded.transaction);
}

/* The same round trips over a plain socket to a raw replay port. */
void raw_rounds(benchmark::State &state, const testbed::SqliDouble &dbl,
                const std::vector<Exchange> &exchanges) {
  int fd = loopback_socket(dbl.raw_port());
  if (fd < 0) return state.SkipWithError("no raw replay port");
  size_t largest = 0;
  for (const Exchange &e : exchanges)
    largest = std::max({largest, e.request, e.reply});
  std::vector<char> out(largest, '\1'), in(largest);
  /* One probe's round trips: null, or what failed. */
  auto one_probe = [&]() -> const char * {
    for (const Exchange &e : exchanges) {
      if (!write_all(fd, out.data(), e.request)) return "raw send";
      for (size_t got = 0; got < e.reply;) {
        ssize_t k = recv(fd, in.data(), e.reply - got, 0);
        if (k <= 0) return "raw receive";
        got += static_cast<size_t>(k);
      }
    }
    return nullptr;
  };
  for (auto _ : state) {
    if (const char *failed = one_probe()) {
      state.SkipWithError(failed);
      break;
    }
  }
  close(fd);
  count_exchanges(state, exchanges);
}

void BM_RawStatistics(benchmark::State &state) {
  raw_rounds(state, *raw_statistics, recorded.statistics);
}
void BM_RawStatisticsTestTransaction(benchmark::State &state) {
  raw_rounds(state, *raw_transaction, recorded.transaction);
}

BENCHMARK(BM_ProbeStatistics);
BENCHMARK(BM_RawStatistics);
BENCHMARK(BM_ProbeStatisticsTestTransaction);
BENCHMARK(BM_RawStatisticsTestTransaction);

int connect_probe() {
  return dovariza_probe_ops.dbms_connect(nullptr, &internal_error, &dbms_error);
}
int disconnect_probe() { return dovariza_probe_ops.dbms_disconnect(&internal_error, &dbms_error); }

/* Records one probe of each kind through the proxy. False, with a line on
** stderr, when the probe does not work against the double. */
bool record_probes(sqli_test::DoubleServer &server) {
  RecordingProxy proxy(server.port());
  server.add_server("dvzproxy", proxy.port());
  dvz_test::ScopedEnv login("DB_LOGIN", "hatest@dvzproxy");
  if (dovariza_probe_ops.db_main("bench_probe_cycle", "dvz1", 0, nullptr) != 1 ||
      connect_probe() != 1) {
    std::fprintf(stderr, "connect through the proxy failed: %d %s\n", dbms_error, last_message);
    return false;
  }
  /* The process's first statistics sees every counter grow from 0. */
  if (dovariza_probe_ops.dbms_statistics(&internal_error, &dbms_error) != 1) {
    std::fprintf(stderr, "first statistics: %d %s\n", dbms_error, last_message);
    return false;
  }
  proxy.record();
  bool ok = statistics_probe();
  recorded.statistics = proxy.recorded();
  proxy.record();
  ok = ok && transaction_probe();
  recorded.transaction = proxy.recorded();
  if (!ok || disconnect_probe() != 1) {
    std::fprintf(stderr, "recorded probe failed: %d %s\n", dbms_error, last_message);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  setenv("DOVARIZADIR", BENCH_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  setenv("ONCONFIG", "onconfig.bench", 1);
  setenv("DOVARIZAOWNER", std::to_string(getuid()).c_str(), 1);
  log_sink = &quiet_sink;
  auto server = std::make_unique<sqli_test::DoubleServer>(
      std::vector<std::string> {"--profile", "minimal"}, probe_bench::flat_scenario());
  if (!record_probes(*server)) return 1;

  dvz_test::TempDir dir;
  raw_statistics = std::make_unique<testbed::SqliDouble>(std::vector<std::string> {
      "--replay", dir.write("statistics.replay", replay_text(recorded.statistics))});
  raw_transaction = std::make_unique<testbed::SqliDouble>(std::vector<std::string> {
      "--replay", dir.write("transaction.replay", replay_text(recorded.transaction))});

  /* The measured probes go straight to the double, on one connection. */
  setenv("DB_LOGIN", ("hatest@" + server->server()).c_str(), 1);
  if (dovariza_probe_ops.db_main("bench_probe_cycle", "dvz1", 0, nullptr) != 1 ||
      connect_probe() != 1) {
    std::fprintf(stderr, "connect failed: %d %s\n", dbms_error, last_message);
    return 1;
  }
  ::benchmark::Initialize(&argc, argv);
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  int status = disconnect_probe() == 1 ? 0 : 1;
  raw_statistics.reset();
  raw_transaction.reset();
  server.reset();
  return status;
}
