/*
** The client's road through ASF_Call over the local transports, against
** the SQLI server double: the pipe transport (the double is the back-end
** program the driver starts, through its wrapper script) and the STREAMS
** pipe (the double listens at the stream's path in the test's temporary
** directory). Each connects, echoes 10 KiB, interrupts, releases, and
** leaves the descriptors and child processes it found.
*/
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "asf_test_support.h"
#include "cm_records.h"
#include "net_paths.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "sqli_double_process.h"
#include "temp_dir.h"

namespace {

using testbed::SqliDouble;
using testbed::SqliJournalEntry;

int open_fds() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr)
    ++n;
  closedir(d);
  return n;
}

/* True once pred holds, polling for up to seconds. */
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

std::vector<SqliJournalEntry> read_journal(const std::string &path) {
  std::vector<SqliJournalEntry> out;
  std::istringstream in(dvz_test::read_file(path));
  for (std::string line; std::getline(in, line);)
    out.push_back(testbed::parse_sqli_journal_line(line));
  return out;
}

asfsvcctl fresh(void *ascid = nullptr, int timeout = -1) {
  return asf_test::fresh_ctl(ascid, timeout);
}

std::string pattern(size_t n) { return asf_test::pattern(n); }

class AsfCallTransports : public ::testing::Test {
 protected:
  void SetUp() override {
    old_pipe_ = signal(SIGPIPE, SIG_IGN);  // the pipe driver's writes rely on it
    asf_tmpdir_override(dir_.path().c_str());
    // With 4 (and word 6 set) the pipe driver reaps its back-ends.
    asfsvcctl ctl;
    ASSERT_EQ(asf_test::call_init(prot_, &ctl, {17 | 4, 10, 100}), 0) << ctl.asfcode;
    asf_test::default_parms(&parms_);
  }
  void TearDown() override {
    asfsvcctl ctl;
    EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
    asf_tmpdir_override(nullptr);
    signal(SIGPIPE, old_pipe_);
  }
  /* sqlhosts with this one line; DOVARIZASERVER names srv. */
  void hosts(const std::string &line) {
    hosts_env_.reset();
    hosts_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASQLHOSTS",
                                                       dir_.write("sqlhosts", line + "\n"));
    server_env_.reset();
    server_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASERVER", std::string("srv"));
  }
  int connect(asfsvcctl *ctl, asfsvcreq *req) {
    ASF_Init(asf_svc_connect, req);
    req->word[2] = 7;
    req->word[3] = reinterpret_cast<uintptr_t>("srv");
    req->word[4] = 1;
    req->word[5] = reinterpret_cast<uintptr_t>(&status_byte_);
    req->word[7] = reinterpret_cast<uintptr_t>(&parms_);
    req->word[9] = reinterpret_cast<uintptr_t>(&pfreq_);
    return ASF_Call(ctl, req);
  }
  void send(void *assoc, const std::string &bytes) { asf_test::call_send(assoc, bytes); }
  std::string receive(void *assoc, size_t n) { return asf_test::call_receive(assoc, n); }
  int simple(int code, void *assoc) {
    asfsvcctl ctl = fresh(assoc);
    asfsvcreq req {};
    ASF_Init(code, &req);
    int rc = ASF_Call(&ctl, &req);
    last_code_ = ctl.asfcode;
    return rc;
  }
  /* The whole road: connect, 10 KiB echoed, the interrupt (seen in the
  ** journal by interrupted()), release. */
  void road(const std::function<std::vector<SqliJournalEntry>()> &journal,
            const std::function<bool(const SqliJournalEntry &)> &interrupted) {
    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.oserr << " " << ctl.errstr;
    void *assoc = ctl.ascid;
    ASSERT_NE(assoc, nullptr);
    const std::string data = pattern(10 * 1024);
    send(assoc, data);
    EXPECT_EQ(receive(assoc, data.size()), data);
    EXPECT_EQ(simple(asf_svc_resync, assoc), 0) << last_code_;
    EXPECT_TRUE(eventually([&] {
      for (const auto &e : journal())
        if (interrupted(e)) return true;
      return false;
    }));
    EXPECT_EQ(simple(asf_svc_release, assoc), 0) << last_code_;
    EXPECT_FALSE(asfValidAssoc(static_cast<Assocctl *>(assoc)));
    size_t seen = 0;
    int connects = 0;
    for (const auto &e : journal()) {
      if (e.get("what") == "data") seen += static_cast<size_t>(e.number("size", 0));
      if (e.get("what") == "connect") ++connects;
    }
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(seen, data.size());
  }

  /* A connect that fails (time-out in ms for it), then the abort of what
  ** it left; afterwards descriptors and children as they were. */
  void failed_connect(int timeout) {
    const int fds = open_fds();
    const int children = asf_test::child_processes();
    asfsvcctl ctl = fresh(nullptr, timeout);
    asfsvcreq req {};
    EXPECT_EQ(connect(&ctl, &req), -1);
    EXPECT_NE(ctl.asfcode, 0);
    if (ctl.ascid != nullptr) {
      asfsvcctl actl = fresh(ctl.ascid);
      asfsvcreq areq {};
      ASF_Init(asf_svc_abort, &areq);
      areq.word[1] = ASF_ABORT_PASS;
      EXPECT_EQ(ASF_Call(&actl, &areq), 0) << actl.asfcode;
    }
    EXPECT_EQ(open_fds(), fds);
    EXPECT_TRUE(eventually([&] { return asf_test::child_processes() == children; }));
  }

  dvz_test::TempDir dir_;
  sighandler_t old_pipe_ = SIG_DFL;
  char prot_[28] = {};
  std::unique_ptr<dvz_test::ScopedEnv> hosts_env_;
  std::unique_ptr<dvz_test::ScopedEnv> server_env_;
  ascbinreq parms_ {};
  pfconkind kind_ {asc_kind_nodb, 0, {}};
  pfrequest pfreq_ {asc_pf_conkind, &kind_};
  char status_byte_ = 0;
  int last_code_ = 0;
};

TEST_F(AsfCallTransports, PipeToTheDoubleAsBackEnd) {
  const std::string journal = dir_.file("pipe-journal");
  dvz_test::ScopedEnv journal_env("SQLI_PIPE_JOURNAL", journal);
  dvz_test::ScopedEnv options_env("SQLI_PIPE_OPTIONS", "--report --read-timeout 20");
  const std::string backend = DVZ_SQLI_PIPE_BACKEND;
  hosts("srv olipcpip " + node_name() + " " + backend);
  const int fds = open_fds();
  const int children = asf_test::child_processes();

  road([&] { return read_journal(journal); },
       [](const SqliJournalEntry &e) { return e.get("what") == "interrupt"; });

  // The back-end got its server name and host, and no descriptor but its
  // pipes and standard error.
  const auto entries = read_journal(journal);
  ASSERT_FALSE(entries.empty());
  const SqliJournalEntry &start = entries.front();
  EXPECT_EQ(start.get("what"), "start");
  const std::vector<std::string> argv = start.all("argv");
  ASSERT_EQ(argv.size(), 3u);
  EXPECT_EQ(argv[1], "srv");
  EXPECT_EQ(argv[2], node_name());
  EXPECT_EQ(start.get("fds"), "0,1,2");
  // The release closed the pipes: the back-end saw the end and was reaped.
  EXPECT_TRUE(eventually([&] {
    for (const auto &e : read_journal(journal))
      if (e.get("what") == "eof") return true;
    return false;
  }));
  EXPECT_TRUE(eventually([&] { return asf_test::child_processes() == children; }));
  EXPECT_EQ(open_fds(), fds);
}

TEST_F(AsfCallTransports, StreamsPipeToTheDouble) {
  SqliDouble d({"--streams", dir_.path() + "/svc.str"});
  hosts("srv olipcstr " + node_name() + " svc");
  const int fds = open_fds();
  const int children = asf_test::child_processes();

  road([&] { return d.journal(); },
       [](const SqliJournalEntry &e) { return e.get("what") == "urgent" && e.get("byte") == "B"; });
  EXPECT_TRUE(d.wait_for_what("eof"));
  EXPECT_EQ(open_fds(), fds);
  EXPECT_EQ(asf_test::child_processes(), children);
}

/* Back-ends that end or stall before they answer. */
TEST_F(AsfCallTransports, PipeBackEndsThatDoNotAnswer) {
  const char *cases[] = {"--exit-at-once", "--exit-after 1", "--stall --read-timeout 3"};
  const std::string backend = DVZ_SQLI_PIPE_BACKEND;
  hosts("srv olipcpip " + node_name() + " " + backend);
  for (const char *options : cases) {
    SCOPED_TRACE(options);
    dvz_test::ScopedEnv journal_env("SQLI_PIPE_JOURNAL", dir_.file("pipe-journal"));
    dvz_test::ScopedEnv options_env("SQLI_PIPE_OPTIONS", std::string(options));
    failed_connect(2000);
  }
}

/* Stream servers that close or stay silent after the request. */
TEST_F(AsfCallTransports, StreamsServersThatDoNotAnswer) {
  const char *cases[] = {"close", "cut=10", "silent"};
  hosts("srv olipcstr " + node_name() + " svc");
  for (const char *fault : cases) {
    SCOPED_TRACE(fault);
    SqliDouble d({"--streams", dir_.path() + "/svc.str", "--fault", fault});
    failed_connect(2000);
  }
}

}  // namespace
