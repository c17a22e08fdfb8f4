/*
** The client's whole road through ASF_Call against the SQLI server double
** over loopback TCP: init, directory, connect, data both ways, interrupt,
** release and abort; connects that fail in every way leave no descriptor
** behind; the real-time budget ends a silent server's connect and fails
** over from an entry whose connect never completes. sqlhosts fixtures
** live in temporary directories named by DOVARIZASQLHOSTS.
*/
#include <dirent.h>
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "cm_records.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "sqli_double_process.h"
#include "temp_dir.h"

namespace {

using testbed::SqliDouble;

int open_fds() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr)
    ++n;
  closedir(d);
  return n;
}

asfsvcctl fresh(void *ascid = nullptr, int timeout = -1) {
  return asf_test::fresh_ctl(ascid, timeout);
}

class AsfCallRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    asfsvcctl ctl;
    ASSERT_EQ(asf_test::call_init(prot_, &ctl, {17, 10, 100}), 0) << ctl.asfcode;
    asf_test::default_parms(&parms_);
  }
  void TearDown() override {
    asfsvcctl ctl;
    EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
  }
  /* sqlhosts with these lines; DOVARIZASERVER names srv. */
  void hosts(const std::string &lines) {
    hosts_env_.reset();
    hosts_env_ =
        std::make_unique<dvz_test::ScopedEnv>("DOVARIZASQLHOSTS", dir_.write("sqlhosts", lines));
  }
  static std::string line(const char *name, int port, const char *options = "") {
    return std::string(name) + " oltlitcp 127.0.0.1 " + std::to_string(port) + " " + options + "\n";
  }
  /* Connects to server with retry count 1. */
  int connect(asfsvcctl *ctl, asfsvcreq *req, const char *server = "srv") {
    ASF_Init(asf_svc_connect, req);
    req->word[2] = 7;
    req->word[3] = reinterpret_cast<uintptr_t>(server);
    req->word[4] = 1;
    req->word[5] = reinterpret_cast<uintptr_t>(&status_byte_);
    req->word[7] = reinterpret_cast<uintptr_t>(&parms_);
    req->word[9] = reinterpret_cast<uintptr_t>(&pfreq_);
    server_env_.reset();  // the old value goes back before the new one is set
    server_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASERVER", std::string(server));
    return ASF_Call(ctl, req);
  }
  /* Sends bytes through the association's send buffer, piece by piece. */
  void send(void *assoc, const std::string &bytes) { asf_test::call_send(assoc, bytes); }
  /* Receives until n bytes came. */
  std::string receive(void *assoc, size_t n) { return asf_test::call_receive(assoc, n); }
  int simple(int code, void *assoc, uintptr_t word1 = 0) {
    asfsvcctl ctl = fresh(assoc);
    asfsvcreq req {};
    ASF_Init(code, &req);
    req.word[1] = word1;
    int rc = ASF_Call(&ctl, &req);
    last_code_ = ctl.asfcode;
    return rc;
  }

  char prot_[28] = {};
  dvz_test::TempDir dir_;
  std::unique_ptr<dvz_test::ScopedEnv> hosts_env_;
  std::unique_ptr<dvz_test::ScopedEnv> server_env_;
  ascbinreq parms_ {};
  pfconkind kind_ {asc_kind_nodb, 0, {}};
  pfrequest pfreq_ {asc_pf_conkind, &kind_};
  char status_byte_ = 0;
  int last_code_ = 0;
};

std::string pattern(size_t n) { return asf_test::pattern(n); }

TEST_F(AsfCallRoad, ConnectsSendsReceivesAndReleases) {
  SqliDouble d;
  hosts(line("srv", d.port()));
  const int fds = open_fds();

  // The directory finds the server.
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_directory, &req);
  server_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASERVER", std::string("srv"));
  ASSERT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
  ASF_FreeNSReg(reinterpret_cast<NSReg *>(req.word[6]));

  ctl = fresh();
  ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.errstr;
  void *assoc = ctl.ascid;
  ASSERT_NE(assoc, nullptr);
  EXPECT_EQ(req.word[cm_word_assoc], reinterpret_cast<uintptr_t>(assoc));
  ascpairs used {};
  pfGetPairs(&req, &used);
  EXPECT_STREQ(used.product, "ol");
  EXPECT_EQ(used.level, 61);
  EXPECT_STREQ(used.protocol, "tlitcp");
  EXPECT_EQ(used.version, 1);

  ASSERT_TRUE(d.wait_for_what("connect"));
  auto c = d.entries("connect").at(0);
  EXPECT_EQ(c.get("prefix"), "sq");
  EXPECT_EQ(c.number("type"), 1);
  EXPECT_EQ(c.number("flag"), 61);
  const std::string raw = c.raw();
  const struct passwd *pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  const std::string text = raw.substr(10);
  EXPECT_EQ(c.number("length"), static_cast<long>(text.size()) + 6);
  EXPECT_EQ(text.rfind(std::string("sqlexec ") + pw->pw_name, 0), 0u) << text;
  EXPECT_EQ(text.back(), '\0');

  const std::string data = pattern(10 * 1024);
  send(assoc, data);
  EXPECT_EQ(receive(assoc, data.size()), data);

  EXPECT_EQ(simple(asf_svc_release, assoc), 0) << last_code_;
  EXPECT_FALSE(asfValidAssoc(static_cast<Assocctl *>(assoc)));
  ASSERT_TRUE(d.wait_for_what("eof"));
  // The double saw every byte before the end of file.
  size_t seen = 0;
  long last_data = 0, eof = 0;
  for (const auto &e : d.journal()) {
    if (e.get("what") == "data") {
      seen += static_cast<size_t>(e.number("size", 0));
      last_data = e.number("order");
    }
    if (e.get("what") == "eof") eof = e.number("order");
  }
  EXPECT_EQ(seen, data.size());
  EXPECT_GT(eof, last_data);
  EXPECT_EQ(open_fds(), fds);
}

TEST_F(AsfCallRoad, InterruptAndAbort) {
  SqliDouble d;
  hosts(line("srv", d.port()));
  const int fds = open_fds();
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode;
  void *assoc = ctl.ascid;
  EXPECT_EQ(simple(asf_svc_resync, assoc), 0) << last_code_;
  EXPECT_TRUE(d.wait_for([](const testbed::SqliJournalEntry &e) {
    return e.get("what") == "urgent" && e.get("byte") == "B";
  }));
  EXPECT_EQ(simple(asf_svc_abort, assoc, ASF_ABORT_PASS), 0) << last_code_;
  EXPECT_FALSE(asfValidAssoc(static_cast<Assocctl *>(assoc)));
  EXPECT_TRUE(d.wait_for([](const testbed::SqliJournalEntry &e) {
    return e.get("what") == "eof" || e.get("what") == "reset";
  }));
  EXPECT_EQ(open_fds(), fds);
}

TEST_F(AsfCallRoad, RejectKeepsTheAssociationUntilTheAbort) {
  SqliDouble d({"--reject=-387"});
  hosts(line("srv", d.port()));
  const int fds = open_fds();
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  EXPECT_EQ(connect(&ctl, &req), -1);
  EXPECT_EQ(ctl.asfcode, 7);
  EXPECT_EQ(ctl.oserr, -387);
  auto *a = static_cast<Assocctl *>(ctl.ascid);
  ASSERT_TRUE(asfValidAssoc(a));
  EXPECT_EQ(a->al->state, asf_state_failed);
  EXPECT_EQ(simple(asf_svc_abort, a, ASF_ABORT_PASS), 0) << last_code_;
  EXPECT_FALSE(asfValidAssoc(a));
  EXPECT_EQ(open_fds(), fds);
}

/* Failed connects of every kind, many times: no descriptor stays open. */
TEST_F(AsfCallRoad, FailedConnectsLeaveNoDescriptor) {
  struct Case {
    std::vector<std::string> options;
    int times;
    int timeout;
  };
  const Case cases[] = {
      {{"--fault", "refuse"}, 50, -1},   {{"--fault", "reset"}, 50, -1},
      {{"--reject=-329"}, 50, -1},       {{"--reply-type", "12"}, 50, -1},
      {{"--fault", "silent"}, 50, 1000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options.back());
    SqliDouble d(c.options);
    hosts(line("srv", d.port()));
    const int fds = open_fds();
    for (int i = 0; i < c.times; ++i) {
      asfsvcctl ctl = fresh(nullptr, c.timeout);
      asfsvcreq req {};
      EXPECT_EQ(connect(&ctl, &req), -1);
      EXPECT_NE(ctl.asfcode, 0);
      if (ctl.ascid != nullptr) {
        EXPECT_EQ(ctl.asfcode, 7);
        EXPECT_EQ(simple(asf_svc_abort, ctl.ascid, ASF_ABORT_PASS), 0);
      }
    }
    EXPECT_EQ(open_fds(), fds);
  }
}

TEST_F(AsfCallRoad, BudgetEndsASilentServerAndFailsOver) {
  {
    SqliDouble d({"--fault", "silent"});
    hosts(line("srv", d.port()));
    asfsvcctl ctl = fresh(nullptr, 2000);
    asfsvcreq req {};
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(connect(&ctl, &req), -1);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(ctl.asfcode, -27001);
    EXPECT_LT(took, 3.5);
  }
  {
    SqliDouble dead({"--fault", "full-queue"});
    SqliDouble good;
    hosts("srv group - -\n" + line("a", dead.port(), "g=srv") + line("b", good.port(), "g=srv"));
    asfsvcctl ctl = fresh(nullptr, 2000);
    asfsvcreq req {};
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.errstr;
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(took, 3.5);
    auto *a = static_cast<Assocctl *>(ctl.ascid);
    ASSERT_TRUE(asfValidAssoc(a));
    ASSERT_NE(a->al->cm.svrentry, nullptr);
    EXPECT_STREQ(a->al->cm.svrentry->servername, "b");
    EXPECT_EQ(simple(asf_svc_abort, a, ASF_ABORT_PASS), 0);
  }
}

TEST_F(AsfCallRoad, MultiplexedSessionsShareOneConnection) {
  SqliDouble d({"--mux"});
  hosts(line("srv", d.port(), "m=1"));
  asfsvcctl c1 = fresh();
  asfsvcreq r1 {};
  ASSERT_EQ(connect(&c1, &r1), 0) << c1.asfcode;
  asfsvcctl c2 = fresh();
  asfsvcreq r2 {};
  ASSERT_EQ(connect(&c2, &r2), 0) << c2.asfcode;
  ASSERT_TRUE(d.wait_for([](const testbed::SqliJournalEntry &e) {
    return e.get("what") == "connect" && e.number("type") == 10;
  }));
  auto connects = d.entries("connect");
  ASSERT_EQ(connects.size(), 2u);
  EXPECT_EQ(connects[0].number("flag"), 0xBD);
  EXPECT_EQ(connects[1].number("flag"), 1);
  EXPECT_EQ(connects[1].get("assoc"), connects[0].get("assoc"));

  send(c1.ascid, "one");
  send(c2.ascid, "two");
  EXPECT_EQ(receive(c2.ascid, 3), "two");
  EXPECT_EQ(receive(c1.ascid, 3), "one");
  for (const auto &e : d.entries("data"))
    EXPECT_EQ(e.number("type"), 6) << e.line;
  EXPECT_EQ(simple(asf_svc_abort, c2.ascid, ASF_ABORT_PASS), 0);
  EXPECT_EQ(simple(asf_svc_abort, c1.ascid, ASF_ABORT_PASS), 0);
}

TEST_F(AsfCallRoad, MultiplexRefusedSecondSessionGoesAlone) {
  SqliDouble d({"--mux", "--mux-reject"});
  hosts(line("srv", d.port(), "m=1"));
  asfsvcctl c1 = fresh();
  asfsvcreq r1 {};
  ASSERT_EQ(connect(&c1, &r1), 0) << c1.asfcode;
  asfsvcctl c2 = fresh();
  asfsvcreq r2 {};
  ASSERT_EQ(connect(&c2, &r2), 0) << c2.asfcode << " " << c2.errstr;
  ASSERT_TRUE(d.wait_for([](const testbed::SqliJournalEntry &e) {
    return e.get("what") == "connect" && e.get("assoc") == "2";
  }));
  send(c2.ascid, "alone");
  EXPECT_EQ(receive(c2.ascid, 5), "alone");
  EXPECT_EQ(simple(asf_svc_abort, c2.ascid, ASF_ABORT_PASS), 0);
  EXPECT_EQ(simple(asf_svc_abort, c1.ascid, ASF_ABORT_PASS), 0);
}

/* Every allocation of a connect and release fails in turn: each run
** ends in success or a failure status, never a crash, and leaves no
** block and no descriptor behind. */
TEST_F(AsfCallRoad, ConnectSurvivesEveryFailedAllocation) {
  SqliDouble d;
  hosts(line("srv", d.port()));
  int total = 0;
  {
    asf_test::CountingMemory count;
    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode;
    ASSERT_EQ(simple(asf_svc_release, ctl.ascid), 0) << last_code_;
    total = count.allocations();
    EXPECT_EQ(count.outstanding(), 0);
  }
  ASSERT_GT(total, 0);
  const int fds = open_fds();
  for (int n = 1; n <= total; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    asf_test::CountingMemory failing(n);
    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    if (connect(&ctl, &req) == 0) {
      EXPECT_EQ(simple(asf_svc_abort, ctl.ascid, ASF_ABORT_PASS), 0);
    } else {
      // A negative error, or 8 when the transport's buffers failed: the
      // association is gone either way.
      EXPECT_TRUE(ctl.asfcode < 0 || ctl.asfcode == asf_status_buffers) << ctl.asfcode;
      EXPECT_EQ(ctl.ascid, nullptr);
    }
    EXPECT_EQ(failing.outstanding(), 0);
    EXPECT_EQ(open_fds(), fds);
  }
}

}  // namespace
