/*
** The hand-over of associations end to end: a forked child of the test
** makes its associations through ASF_Call, hands them over (service 13
** with flag 1) and executes the take-over program (takeover_main.cpp,
** TAKEOVER_PROGRAM), which takes them over (service 0 with flags
** 16 | 0x10000) and goes on with them, reporting each step on a pipe.
** Over TCP (with an urgent byte after the take-over), over the pipe
** transport, and with a listener and its accepted association; then the
** faults of the hand-over through ASF_Call in the test's own process.
** Every wait is bounded; descriptors and children come back to their
** counts.
*/
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "asf_ns.h"
#include "asf_test_support.h"
#include "handover.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "sqli_double_process.h"
#include "temp_dir.h"

namespace {

using testbed::SqliDouble;
using testbed::SqliJournalEntry;

/* The open descriptors of this process. */
std::set<int> open_fd_set() {
  std::set<int> out;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return out;
  const int own = dirfd(d);
  while (const dirent *e = readdir(d))
    if (e->d_name[0] >= '0' && e->d_name[0] <= '9' && std::atoi(e->d_name) != own)
      out.insert(std::atoi(e->d_name));
  closedir(d);
  return out;
}

bool eventually(const std::function<bool()> &pred, double seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string node_name() {
  struct utsname u {};
  uname(&u);
  return u.nodename;
}

asfsvcctl fresh(void *ascid = nullptr, int timeout = -1) {
  return asf_test::fresh_ctl(ascid, timeout);
}

/* Lines from a report pipe, each within a bounded wait. */
class Reports {
 public:
  explicit Reports(int fd) : fd_(fd) {}
  ~Reports() {
    if (fd_ >= 0) close(fd_);
  }
  Reports(const Reports &) = delete;
  Reports &operator=(const Reports &) = delete;
  /* The next line within timeout_ms, or "" (none in time, or the end). */
  std::string next(int timeout_ms = 15000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (fd_ < 0 || left.count() <= 0) return "";
      pollfd p {fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[512];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) {
        close(fd_);
        fd_ = -1;
        continue;
      }
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  std::string pending_;
};

/* Waits (10 s at most) for pid's end, then kills it; reaps it. */
void reap(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
}

/* A loopback relay between the client and the double: bytes pass
** unchanged both ways; once the double's bytes hold the trigger text,
** an urgent byte follows them to the client. The TCP double itself sends
** no urgent data. Started after the fork, so the child has one thread. */
class UrgentRelay {
 public:
  UrgentRelay(int target_port, std::string trigger, char urgent)
      : target_(target_port), trigger_(std::move(trigger)), urgent_(urgent) {
    sockaddr_in sa {};
    listen_fd_ = asf_test::loopback_listener(1, &sa);
    port_ = ntohs(sa.sin_port);
  }
  ~UrgentRelay() { stop(); }
  UrgentRelay(const UrgentRelay &) = delete;
  UrgentRelay &operator=(const UrgentRelay &) = delete;
  int port() const { return port_; }
  void start() {
    thread_ = std::thread([this] { run(); });
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
  }
  bool sent_urgent() const { return sent_; }

 private:
  void run() {
    pollfd lp {listen_fd_, POLLIN, 0};
    int client = -1;
    while (!stop_ && client < 0)
      if (poll(&lp, 1, 50) > 0) client = accept(listen_fd_, nullptr, nullptr);
    if (client < 0) return;
    int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(target_));
    if (connect(server, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
      close(server);
      close(client);
      return;
    }
    std::string seen;
    while (!stop_) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(p, 2, 50) <= 0) continue;
      char buf[4096];
      if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        if (send(server, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
      }
      if ((p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = recv(server, buf, sizeof buf, 0);
        if (n <= 0) break;
        if (send(client, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
        seen.append(buf, static_cast<size_t>(n));
        if (!sent_ && seen.find(trigger_) != std::string::npos) {
          // A moment later, so the normal bytes lie unread before it.
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          sent_ = send(client, &urgent_, 1, MSG_OOB | MSG_NOSIGNAL) == 1;
        }
      }
    }
    close(server);
    close(client);
  }

  int target_;
  std::string trigger_;
  char urgent_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ {false};
  std::atomic<bool> sent_ {false};
  std::thread thread_;
};

/* ---- The child's side (no gtest here: it reports on a pipe). ---- */

void child_report(int fd, const std::string &line) {
  const std::string text = line + "\n";
  if (write(fd, text.data(), text.size()) < 0) _exit(3);
}

int child_init(char *prot, uint32_t options = 17) {
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  req.word[1] = options;
  req.word[6] = 100;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(prot);
  return ASF_Call(&ctl, &req);
}

/* A connect to srv: the association, or null with the status in *code. */
void *child_connect(ascbinreq *parms, char *status, std::string *code = nullptr) {
  static pfconkind kind {asc_kind_nodb, 0, {}};
  static pfrequest pfreq {asc_pf_conkind, &kind};
  asf_test::default_parms(parms);
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_connect, &req);
  req.word[2] = 7;
  req.word[3] = reinterpret_cast<uintptr_t>("srv");
  req.word[4] = 1;
  req.word[5] = reinterpret_cast<uintptr_t>(status);
  req.word[7] = reinterpret_cast<uintptr_t>(parms);
  req.word[9] = reinterpret_cast<uintptr_t>(&pfreq);
  if (ASF_Call(&ctl, &req) == 0) return ctl.ascid;
  if (code != nullptr)
    *code = std::to_string(ctl.asfcode) + " " + std::to_string(ctl.oserr) + " " + ctl.errstr;
  return nullptr;
}

/* Sends text on assoc. */
bool child_send(void *assoc, const std::string &text) {
  asfsvcctl s = fresh(assoc);
  asfsvcreq sr {};
  ASF_Init(asf_svc_sendbuf, &sr);
  if (ASF_Call(&s, &sr) != 0) return false;
  auto *out = reinterpret_cast<rscbufctl *>(sr.word[2]);
  std::memcpy(out->p, text.data(), text.size());
  out->size = static_cast<int32_t>(text.size());
  ASF_Init(asf_svc_send, &sr);
  asf_req_set_half(&sr, 2, -1);
  sr.word[3] = reinterpret_cast<uintptr_t>(out);
  return ASF_Call(&s, &sr) == 0;
}

/* Receives n bytes on assoc ("" on failure). */
std::string child_receive(void *assoc, size_t n) {
  std::string got;
  while (got.size() < n) {
    asfsvcctl r = fresh(assoc, 5000);
    asfsvcreq rr {};
    ASF_Init(asf_svc_receive, &rr);
    if (ASF_Call(&r, &rr) != 0) return "";
    auto *in = reinterpret_cast<rscbufctl *>(rr.word[3]);
    got.append(in->p, static_cast<size_t>(in->size));
    asfsvcreq rel {};
    ASF_Init(asf_svc_recvbuf_free, &rel);
    rel.word[2] = rr.word[3];
    asfsvcctl relctl = fresh(assoc);
    ASF_Call(&relctl, &rel);
  }
  return got;
}

/* Hands everything over and executes the take-over program with the
** report descriptor and args; reports and ends on failure. */
[[noreturn]] void hand_over_and_exec(int fd, const std::vector<std::string> &args) {
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_term, &req);
  req.word[1] = 1;
  if (ASF_Call(&ctl, &req) != 0) {
    child_report(fd, "handover " + std::to_string(ctl.asfcode));
    _exit(1);
  }
  std::vector<std::string> all = {TAKEOVER_PROGRAM, "--report-fd", std::to_string(fd)};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(TAKEOVER_PROGRAM, argv.data());
  child_report(fd, "exec failed");
  _exit(2);
}

/* A requester's child: connect, echo "first", hand over, execute. */
[[noreturn]] void requester_child(int fd, const std::vector<std::string> &args, uint32_t options) {
  alarm(30);
  char prot[ASF_PROT_ENTRY_SIZE] = {};
  if (child_init(prot, options) != 0) {
    child_report(fd, "child init failed");
    _exit(1);
  }
  ascbinreq parms {};
  char status[2] = {};
  void *assoc = child_connect(&parms, status);
  if (assoc == nullptr) {
    child_report(fd, "child connect failed");
    _exit(1);
  }
  const bool ok = child_send(assoc, "first") && child_receive(assoc, 5) == "first";
  child_report(fd, ok ? "child first ok" : "child first failed");
  hand_over_and_exec(fd, args);
}

/* ---- The tests. ---- */

class HandOverE2E : public ::testing::Test {
 protected:
  void SetUp() override { old_pipe_ = signal(SIGPIPE, SIG_IGN); }
  void TearDown() override {
    for (const char *v : {"ASF_G", "ASF_C", "ASF_S", "ASF_L"})
      unsetenv(v);
    signal(SIGPIPE, old_pipe_);
  }
  /* sqlhosts with this one line; DOVARIZASERVER names srv. */
  void hosts(const std::string &line) {
    hosts_env_.reset();
    hosts_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASQLHOSTS",
                                                       dir_.write("sqlhosts", line + "\n"));
    server_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASERVER", std::string("srv"));
  }
  /* Forks a child running body(report fd); the report pipe's read end. */
  pid_t fork_child(const std::function<void(int)> &body, int *read_end) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      body(fds[1]);
      _exit(0);
    }
    close(fds[1]);
    *read_end = fds[0];
    return pid;
  }
  /* Data messages the double journaled, in order. */
  static std::vector<std::string> data_of(const std::vector<SqliJournalEntry> &journal) {
    std::vector<std::string> out;
    for (const auto &e : journal)
      if (e.get("what") == "data") out.push_back(e.raw());
    return out;
  }

  dvz_test::TempDir dir_;
  sighandler_t old_pipe_ = SIG_DFL;
  std::unique_ptr<dvz_test::ScopedEnv> hosts_env_, server_env_;
};

const std::regex env_line_regex("env G=[0-9]+ C=[0-9]+ S=- L=-");

TEST_F(HandOverE2E, TcpRequesterGoesOnInTheExecutedProgram) {
  SqliDouble d({"--read-timeout", "20"});
  const int fds = asf_test::fd_count();
  UrgentRelay relay(d.port(), "third", 'U');
  hosts("srv oltlitcp 127.0.0.1 " + std::to_string(relay.port()));
  const int children = asf_test::child_processes();
  int rfd = -1;
  const pid_t pid = fork_child(
      [](int fd) {
        requester_child(
            fd, {"--areas", "req", "echo:req:second", "urgent:req:U:third", "expedited:req:U"}, 17);
      },
      &rfd);
  ASSERT_GT(pid, 0);
  relay.start();
  {
    Reports r(rfd);
    EXPECT_EQ(r.next(), "child first ok");
    const std::string env = r.next();
    EXPECT_TRUE(std::regex_match(env, env_line_regex)) << env;
    EXPECT_EQ(r.next(), "init 0 0 0 req=1 acc=0 lsn=0 fds=closed");
    EXPECT_EQ(r.next(), "echo req ok second");
    // The urgent byte came while "third" lay unread: it set the expedited
    // byte, and the receive still got every normal byte.
    EXPECT_EQ(r.next(), "urgent req 85 ok third");
    EXPECT_EQ(r.next(), "expedited req 85");
    EXPECT_EQ(r.next(), "end 0 0");
  }
  reap(pid);
  EXPECT_TRUE(relay.sent_urgent());
  EXPECT_TRUE(d.wait_for([](const SqliJournalEntry &e) {
    return e.get("what") == "eof" || e.get("what") == "reset";
  }));
  relay.stop();
  // One connection, three messages on it.
  const auto journal = d.journal();
  int connects = 0;
  for (const auto &e : journal)
    if (e.get("what") == "connect") ++connects;
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(data_of(journal), (std::vector<std::string> {"first", "second", "third"}));
  for (const auto &e : journal)
    EXPECT_EQ(e.get("assoc"), "1") << e.line;
  EXPECT_EQ(asf_test::fd_count(), fds);
  EXPECT_TRUE(eventually([&] { return asf_test::child_processes() == children; }));
}

TEST_F(HandOverE2E, PipeBackEndKeepsTalkingToTheExecutedProgram) {
  const std::string journal = dir_.file("pipe-journal");
  dvz_test::ScopedEnv journal_env("SQLI_PIPE_JOURNAL", journal);
  dvz_test::ScopedEnv options_env("SQLI_PIPE_OPTIONS", "--read-timeout 20");
  hosts("srv olipcpip " + node_name() + " " + DVZ_SQLI_PIPE_BACKEND);
  const int fds = asf_test::fd_count();
  const int children = asf_test::child_processes();
  int rfd = -1;
  const pid_t pid = fork_child(
      [](int fd) {
        requester_child(fd, {"--areas", "req", "echo:req:second", "echo:req:third"}, 17);
      },
      &rfd);
  ASSERT_GT(pid, 0);
  {
    Reports r(rfd);
    EXPECT_EQ(r.next(), "child first ok");
    const std::string env = r.next();
    EXPECT_TRUE(std::regex_match(env, env_line_regex)) << env;
    EXPECT_EQ(r.next(), "init 0 0 0 req=1 acc=0 lsn=0 fds=closed");
    EXPECT_EQ(r.next(), "echo req ok second");
    EXPECT_EQ(r.next(), "echo req ok third");
    EXPECT_EQ(r.next(), "end 0 0");
  }
  reap(pid);
  auto read_journal = [&] {
    std::vector<SqliJournalEntry> out;
    std::istringstream in(dvz_test::read_file(journal));
    for (std::string line; std::getline(in, line);)
      out.push_back(testbed::parse_sqli_journal_line(line));
    return out;
  };
  // The back-end saw the end once the program let go of it.
  EXPECT_TRUE(eventually([&] {
    for (const auto &e : read_journal())
      if (e.get("what") == "eof") return true;
    return false;
  }));
  EXPECT_EQ(data_of(read_journal()), (std::vector<std::string> {"first", "second", "third"}));
  EXPECT_EQ(asf_test::fd_count(), fds);
  EXPECT_TRUE(eventually([&] { return asf_test::child_processes() == children; }));
}

/* The listening child: listen on srv, accept one connection, serve one
** message, hand both over and execute the program. */
[[noreturn]] void listener_child(int fd, const std::vector<std::string> &args) {
  alarm(30);
  char prot[ASF_PROT_ENTRY_SIZE] = {};
  if (child_init(prot) != 0) {
    child_report(fd, "child init failed");
    _exit(1);
  }
  // A status-byte area is two bytes: the status and the expedited byte.
  static char status[2] = {}, ind_status[2] = {};
  static char text[] = "@srv";
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_listen, &req);
  req.word[3] = reinterpret_cast<uintptr_t>(status);
  req.word[4] = 0;
  req.word[5] = ns_req_dbenv;
  req.word[6] = reinterpret_cast<uintptr_t>(text);
  ascpairs pairs {};
  std::strcpy(pairs.protocol, "tlitcp");
  pairs.level = 61;
  pfPutPairsAt(&req, pf_word_lsnpairs, &pairs);
  req.word[9] = 61;
  if (ASF_Call(&ctl, &req) != 0) {
    child_report(fd, "child listen " + std::to_string(ctl.asfcode));
    _exit(1);
  }
  child_report(fd, "child listening");
  void *listener = ctl.ascid;
  ctl = fresh(listener, 10000);
  ASF_Init(asf_svc_indication, &req);
  req.word[2] = reinterpret_cast<uintptr_t>(ind_status);
  if (ASF_Call(&ctl, &req) != 0) {
    child_report(fd, "child indication " + std::to_string(ctl.asfcode));
    _exit(1);
  }
  void *assoc = reinterpret_cast<void *>(req.word[6]);
  pfstatus st {};
  st.subkind = asc_sub_status;
  pfrequest answer {asc_pf_status, &st};
  asfsvcctl rctl = fresh(assoc);
  asfsvcreq rreq {};
  ASF_Init(asf_svc_response, &rreq);
  rreq.word[9] = reinterpret_cast<uintptr_t>(&answer);
  if (ASF_Call(&rctl, &rreq) != 0) {
    child_report(fd, "child response " + std::to_string(rctl.asfcode));
    _exit(1);
  }
  const std::string got = child_receive(assoc, 5);
  const bool ok = got == "first" && child_send(assoc, got);
  child_report(fd, ok ? "child served first" : "child serve failed");
  hand_over_and_exec(fd, args);
}

TEST_F(HandOverE2E, ListenerAndAcceptedAssociationGoOnInTheExecutedProgram) {
  const int port = asf_test::free_loopback_port();
  ASSERT_GT(port, 0);
  hosts("srv oltlitcp 127.0.0.1 " + std::to_string(port));
  const int children = asf_test::child_processes();
  int rfd = -1;
  const pid_t pid = fork_child(
      [](int fd) {
        listener_child(fd, {"--areas", "acc,lsn", "serve:acc:6", "accept", "serve:new:5"});
      },
      &rfd);
  ASSERT_GT(pid, 0);
  const int fds = asf_test::fd_count();
  char prot[ASF_PROT_ENTRY_SIZE] = {};
  asfsvcctl ctl;
  ASSERT_EQ(asf_test::call_init(prot, &ctl), 0) << ctl.asfcode;
  {
    Reports r(rfd);
    ASSERT_EQ(r.next(), "child listening");
    ascbinreq p1 {}, p2 {};
    char s1[2] = {}, s2[2] = {};
    void *c1 = child_connect(&p1, s1);
    ASSERT_NE(c1, nullptr);
    asf_test::call_send(c1, "first");
    EXPECT_EQ(asf_test::call_receive(c1, 5), "first");
    EXPECT_EQ(r.next(), "child served first");
    const std::string env = r.next();
    EXPECT_TRUE(std::regex_match(env, std::regex("env G=[0-9]+ C=- S=[0-9]+ L=[0-9]+"))) << env;
    EXPECT_EQ(r.next(), "init 0 0 0 req=0 acc=1 lsn=1 fds=closed");
    // The accepted association goes on in the program.
    asf_test::call_send(c1, "second");
    EXPECT_EQ(asf_test::call_receive(c1, 6), "second");
    EXPECT_EQ(r.next(), "serve acc ok second");
    // The listener takes a new connection there.
    std::string code;
    void *c2 = child_connect(&p2, s2, &code);
    ASSERT_NE(c2, nullptr) << code << " / " << r.next();
    EXPECT_EQ(r.next(), "accept ok");
    asf_test::call_send(c2, "third");
    EXPECT_EQ(asf_test::call_receive(c2, 5), "third");
    EXPECT_EQ(r.next(), "serve new ok third");
    // Aborts that do not wait for the program's release: it releases
    // them one after the other when it ends.
    for (void *c : {c1, c2}) {
      asfsvcctl actl = fresh(c);
      asfsvcreq areq {};
      ASF_Init(asf_svc_abort, &areq);
      areq.word[1] = ASF_ABORT_PASS;
      EXPECT_EQ(ASF_Call(&actl, &areq), 0) << actl.asfcode;
    }
    EXPECT_EQ(r.next(), "end 0 0");
  }
  reap(pid);
  EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
  EXPECT_EQ(asf_test::fd_count(), fds - 1);  // the report pipe is closed too
  EXPECT_TRUE(eventually([&] { return asf_test::child_processes() == children; }));
}

/* ---- Faults, through ASF_Call in this process. ---- */

/* Initialisation with the take-over flags and the given status-byte
** areas (null: none). The call's result; the status in *ctl. */
int takeover_init(char *prot, asfsvcctl *ctl, char *req_area, char *acc_area = nullptr,
                  char *lsn_area = nullptr, asfsvcreq *out = nullptr) {
  *ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  req.word[1] = ASF_INIT_FIRST | HO_INIT_TAKEOVER;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(prot);
  req.word[ho_word_req_area] = reinterpret_cast<uintptr_t>(req_area);
  req.word[ho_word_acc_area] = reinterpret_cast<uintptr_t>(acc_area);
  req.word[ho_word_lsn_area] = reinterpret_cast<uintptr_t>(lsn_area);
  const int rc = ASF_Call(ctl, &req);
  if (out != nullptr) *out = req;
  return rc;
}

/* A pipe holding bytes (write end closed): its read end. */
int pipe_holding(const std::string &bytes) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  if (write(fds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    close(fds[0]);
    fds[0] = -1;
  }
  close(fds[1]);
  return fds[0];
}

TEST_F(HandOverE2E, TwoRequestersRefuseTheHandOverAndStayUsable) {
  SqliDouble d;
  hosts("srv oltlitcp 127.0.0.1 " + std::to_string(d.port()));
  const int fds = asf_test::fd_count();
  char prot[ASF_PROT_ENTRY_SIZE] = {};
  asfsvcctl ctl;
  ASSERT_EQ(asf_test::call_init(prot, &ctl), 0) << ctl.asfcode;
  ascbinreq p1 {}, p2 {};
  char s1[2] = {}, s2[2] = {};
  void *a = child_connect(&p1, s1);
  void *b = child_connect(&p2, s2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_term, &req);
  req.word[1] = 1;
  EXPECT_EQ(ASF_Call(&ctl, &req), -1);
  EXPECT_EQ(ctl.asfcode, HO_ERR_TOOMANY);
  EXPECT_EQ(std::getenv("ASF_C"), nullptr);
  // The global record went out before the refusal: its pipe is the
  // caller's to close.
  const char *g = std::getenv("ASF_G");
  ASSERT_NE(g, nullptr);
  close(std::atoi(g));
  unsetenv("ASF_G");
  // Both requesters still work here.
  for (void *assoc : {a, b}) {
    asf_test::call_send(assoc, "still");
    EXPECT_EQ(asf_test::call_receive(assoc, 5), "still");
    asfsvcctl actl = fresh(assoc);
    asfsvcreq areq {};
    ASF_Init(asf_svc_abort, &areq);
    EXPECT_EQ(ASF_Call(&actl, &areq), 0) << actl.asfcode;
  }
  EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
  EXPECT_EQ(asf_test::settled_fd_count(fds), fds);
}

TEST_F(HandOverE2E, TakeOverFaultsThroughTheInitService) {
  struct Case {
    const char *name;
    const char *var;
    std::string pipe_bytes; /* the variable names a pipe holding these */
    const char *text; /* else this text */
    bool area; /* the requester's status-byte area is given */
    int status;
  };
  const Case cases[] = {
      {"global record one byte short", "ASF_G", std::string(27, '\0'), nullptr, true,
       HO_ERR_FAILED},
      {"requester variable not a number", "ASF_C", "", "12x", true, HO_ERR_FAILED},
      {"requester variable naming no descriptor", "ASF_C", "", "999999", true, HO_ERR_FAILED},
      {"requester variable without its area", "ASF_C", "", "12x", false, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int fds = asf_test::fd_count();
    int fd = -1;
    if (c.text == nullptr) {
      fd = pipe_holding(c.pipe_bytes);
      ASSERT_GE(fd, 0);
      setenv(c.var, std::to_string(fd).c_str(), 1);
    } else {
      setenv(c.var, c.text, 1);
    }
    char prot[ASF_PROT_ENTRY_SIZE] = {};
    char area[2] = {};
    asfsvcctl ctl;
    asfsvcreq req {};
    EXPECT_EQ(takeover_init(prot, &ctl, c.area ? area : nullptr, nullptr, nullptr, &req),
              c.status == 0 ? 0 : -1);
    EXPECT_EQ(ctl.asfcode, c.status);
    EXPECT_EQ(req.word[ho_word_req_id], 0u);
    EXPECT_EQ(getASFGLBCTL() != nullptr ? getASFGLBCTL()->reqq : nullptr, nullptr);
    unsetenv(c.var);
    EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
    // A pipe that was read is closed by the take-over.
    EXPECT_EQ(asf_test::fd_count(), fds);
  }
}

/* An unread pipe named by a variable whose area is missing stays as it
** was: neither read nor closed. */
TEST_F(HandOverE2E, VariableWithoutItsAreaIsNotRead) {
  const int fd = pipe_holding("0123456789");
  ASSERT_GE(fd, 0);
  setenv("ASF_S", std::to_string(fd).c_str(), 1);
  char prot[ASF_PROT_ENTRY_SIZE] = {};
  char area[2] = {};
  asfsvcctl ctl;
  asfsvcreq req {};
  EXPECT_EQ(takeover_init(prot, &ctl, area, nullptr, nullptr, &req), 0) << ctl.asfcode;
  EXPECT_EQ(req.word[ho_word_acc_id], 0u);
  char buf[16];
  EXPECT_EQ(read(fd, buf, sizeof buf), 10);
  close(fd);
  EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
}

/* A requester's image made here (connect, hand-over), the hand-over's
** pipes and the connection it left open closed again. */
std::string requester_image() {
  char prot[ASF_PROT_ENTRY_SIZE] = {};
  asfsvcctl ctl;
  if (asf_test::call_init(prot, &ctl) != 0) return "";
  const std::set<int> before = open_fd_set();
  ascbinreq parms {};
  char status[2] = {};
  if (child_connect(&parms, status) == nullptr) return "";
  ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_term, &req);
  req.word[1] = 1;
  if (ASF_Call(&ctl, &req) != 0) return "";
  std::string image;
  const char *c = std::getenv("ASF_C");
  if (c != nullptr) {
    char buf[HO_BUFFER_SIZE];
    ssize_t n;
    while ((n = read(std::atoi(c), buf, sizeof buf)) > 0)
      image.append(buf, static_cast<size_t>(n));
  }
  for (int fd : open_fd_set())
    if (before.count(fd) == 0) close(fd);
  unsetenv("ASF_G");
  unsetenv("ASF_C");
  return image;
}

int32_t word_at(const std::string &img, size_t off) {
  int32_t v = 0;
  std::memcpy(&v, img.data() + off, 4);
  return v;
}

/* Each string of the connect parameters in turn claims one byte more than
** the image holds: the take-over fails with -406 and keeps nothing. */
TEST_F(HandOverE2E, StringLengthPastTheImageFailsAndKeepsNothing) {
  SqliDouble d;
  hosts("srv oltlitcp 127.0.0.1 " + std::to_string(d.port()));
  const std::string img = requester_image();
  ASSERT_GT(img.size(), size_t(HO_HEADER_SIZE + 8 + 88));
  const int fds = asf_test::fd_count();
  // The requester's connect attributes follow the header; their first
  // word is the offset of the 88-byte parameters, whose words 3, 4, 5,
  // 10 and 11 are offsets of strings.
  const size_t parms = static_cast<size_t>(word_at(img, HO_HEADER_SIZE));
  ASSERT_EQ(parms, size_t(HO_HEADER_SIZE + 8));
  int tried = 0;
  for (int word : {3, 4, 5, 10, 11}) {
    const int32_t off = word_at(img, parms + 4 * static_cast<size_t>(word));
    if (off == -1) continue;
    SCOPED_TRACE("string of word " + std::to_string(word));
    ++tried;
    std::string bad = img;
    const int32_t past = static_cast<int32_t>(img.size()) - off - 4 + 1;
    std::memcpy(bad.data() + off, &past, 4);
    char prot[ASF_PROT_ENTRY_SIZE] = {};
    asfsvcctl ctl;
    ASSERT_EQ(asf_test::call_init(prot, &ctl), 0);
    const int fd = pipe_holding(bad);
    ASSERT_GE(fd, 0);
    setenv("ASF_C", std::to_string(fd).c_str(), 1);
    char area[2] = {};
    asfsvcreq req {};
    {
      asf_test::CountingMemory memory;
      EXPECT_EQ(takeover_init(prot, &ctl, area, nullptr, nullptr, &req), -1);
      EXPECT_EQ(ctl.asfcode, ASF_ERR_MEMORY);
      EXPECT_EQ(memory.outstanding(), 0);
    }
    EXPECT_EQ(req.word[ho_word_req_id], 0u);
    EXPECT_EQ(getASFGLBCTL()->reqq, nullptr);
    unsetenv("ASF_C");
    EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
    EXPECT_EQ(asf_test::fd_count(), fds);
  }
  EXPECT_GE(tried, 3);
}

}  // namespace
