/*
** The client's road through ASF_Call over the shared-memory transport,
** against the SQLI server double in its shared-memory mode: connect, a
** 10 KiB echo through 1024-byte buffers (over a pool of one segment, and
** of two with the first slots held by others), an interrupt seen in the
** journal, release; a server that breaks the layout or the protocol; a
** server killed by SIGKILL while the client waits in a receive or in the
** connect; semaphores removed under a waiting client. Afterwards
** descriptors, child processes and the double's System V IPC objects are
** back to their starting counts. The rendezvous file goes to the double's
** own directory (the driver's temporary-directory override), and the
** client attaches where the server did ("-" base).
*/
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "asf_test_support.h"
#include "cm_records.h"
#include "net_paths.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "shm_driver.h"
#include "sqli_double_process.h"
#include "temp_dir.h"

namespace {

using testbed::SqliDouble;
using Clock = std::chrono::steady_clock;

int open_fds() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr)
    ++n;
  closedir(d);
  return n;
}

/* The System V objects on the host, as ('m', shmid) and ('s', semid). */
using IpcSet = std::set<std::pair<char, int>>;

IpcSet ipc_objects() {
  IpcSet out;
  for (auto [kind, path] : {std::pair<char, const char *> {'m', "/proc/sysvipc/shm"},
                            std::pair<char, const char *> {'s', "/proc/sysvipc/sem"}}) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      std::istringstream words(line);
      long key = 0;
      int id = -1;
      if (words >> key >> id) out.insert({kind, id});
    }
  }
  return out;
}

/* The objects a double published: its segments (the first from the
** rendezvous file, the further ones from the header) and its two
** semaphore sets. Read at once after start, while they surely exist. */
struct DoubleIpc {
  IpcSet ids;

  DoubleIpc(const std::string &dir, const std::string &name) {
    std::ifstream in(dir + "/.dvz." + name, std::ios::binary);
    char image[SM_REND_COUNT_SIZE + SM_REND_SIZE] = {};
    if (!in.read(image, sizeof image)) return;
    auto word = [&](size_t off) {
      int32_t v;
      std::memcpy(&v, image + SM_REND_COUNT_SIZE + off, sizeof v);
      return v;
    };
    const int shmid = word(0);
    ids.insert({'m', shmid});
    ids.insert({'s', word(4)});
    ids.insert({'s', word(12)});
    void *seg = shmat(shmid, nullptr, SHM_RDONLY);
    if (seg == reinterpret_cast<void *>(-1)) return;
    for (int i = 0; i < SM_HDR_MAXIDS; ++i) {
      int32_t further;
      std::memcpy(&further, static_cast<char *>(seg) + SM_HDR_IDS + 4 * i, sizeof further);
      if (further < 0) break;
      ids.insert({'m', further});
    }
    shmdt(seg);
  }

  /* Removes what is left of them; only for a double that was killed (it
  ** could not remove them itself, and so nobody can have reused an id). */
  void clear() const {
    for (auto [kind, id] : ids) {
      if (kind == 'm')
        shmctl(id, IPC_RMID, nullptr);
      else
        semctl(id, 0, IPC_RMID);
    }
  }

  /* Those of them that still exist. */
  IpcSet left() const {
    IpcSet now = ipc_objects(), out;
    for (const auto &o : ids)
      if (now.count(o) != 0) out.insert(o);
    return out;
  }
};

asfsvcctl fresh(void *ascid = nullptr, int timeout = -1) {
  return asf_test::fresh_ctl(ascid, timeout);
}

std::string pattern(size_t n) { return asf_test::pattern(n, 7); }

std::string journal_text(const SqliDouble &d) {
  std::string all;
  for (const std::string &l : d.journal_lines())
    all += l.substr(0, 120) + "\n";
  return all + d.output();
}

class AsfCallShm : public ::testing::Test {
 protected:
  void SetUp() override {
    fds_ = open_fds();
    children_ = asf_test::child_processes();
    asfsvcctl ctl;
    ASSERT_EQ(asf_test::call_init(prot_, &ctl, {17, 10, 100}), 0) << ctl.asfcode;
    asf_test::default_parms(&parms_);
  }
  void TearDown() override {
    asf_tmpdir_override(nullptr);
    asfsvcctl ctl;
    EXPECT_EQ(asf_test::call_term(&ctl), 0) << ctl.asfcode;
  }

  /* Starts a double serving `name` with the environment `env` (faults,
  ** pool shape), points the client at it and records its objects. */
  void start(const std::string &name, std::vector<std::pair<std::string, std::string>> env = {}) {
    for (auto &[k, v] : env)
      env_.push_back(std::make_unique<dvz_test::ScopedEnv>(k.c_str(), v));
    double_.emplace(std::vector<std::string> {"--shm", name});
    env_.clear();
    asf_tmpdir_override(double_->dir().c_str());
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    env_.push_back(std::make_unique<dvz_test::ScopedEnv>(
        "DOVARIZASQLHOSTS",
        dir_.write("sqlhosts", "srv olipcshm " + std::string(host) + " " + name + "\n")));
    env_.push_back(std::make_unique<dvz_test::ScopedEnv>("DOVARIZASERVER", "srv"));
    env_.push_back(std::make_unique<dvz_test::ScopedEnv>("DOVARIZASHMBASE", "-"));
    objects_.emplace(double_->dir(), name);
  }

  /* After a SIGKILL of the double: reaps it, and removes the objects it
  ** could not. */
  void reap_killed() {
    const int status = double_->stop();
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    EXPECT_TRUE(killed) << status;
    // A double that ended otherwise removed its objects itself, and their
    // ids may already name someone else's.
    if (killed) objects_->clear();
  }

  /* Stops the double (reaped), then checks that descriptors, children
  ** and the double's IPC objects are back where the test started. */
  void expect_nothing_left() {
    if (double_->pid() > 0) {
      EXPECT_EQ(double_->stop(), 0) << double_->output();
    }
    asf_tmpdir_override(nullptr);
    const IpcSet left = objects_->left();
    double_.reset();
    env_.clear();
    // Other processes' objects come and go on a shared host: the count
    // that must come back is that of the double's own.
    EXPECT_TRUE(left.empty());
    EXPECT_EQ(open_fds(), fds_);
    EXPECT_EQ(asf_test::child_processes(), children_);
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
  void *connected() {
    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    EXPECT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.errstr;
    return ctl.ascid;
  }
  void send(void *assoc, const std::string &bytes) { asf_test::call_send(assoc, bytes, 1024); }
  std::string receive(void *assoc, size_t n) { return asf_test::call_receive(assoc, n, 1024); }
  /* One receive with a timeout: ASF_Call's result, the code in last_code_. */
  int receive_once(void *assoc, int timeout) {
    asfsvcctl ctl = fresh(assoc, timeout);
    asfsvcreq req {};
    ASF_Init(asf_svc_receive, &req);
    const int rc = ASF_Call(&ctl, &req);
    last_code_ = ctl.asfcode;
    return rc;
  }
  int simple(int code, void *assoc) {
    asfsvcctl ctl = fresh(assoc);
    asfsvcreq req {};
    ASF_Init(code, &req);
    int rc = ASF_Call(&ctl, &req);
    last_code_ = ctl.asfcode;
    return rc;
  }
  /* A 10 KiB echo, then release; the journal holds every byte. */
  void echo_and_release(void *assoc) {
    const std::string data = pattern(10 * 1024);
    send(assoc, data);
    EXPECT_EQ(receive(assoc, data.size()), data);
    EXPECT_EQ(simple(asf_svc_release, assoc), 0) << last_code_;
    EXPECT_FALSE(asfValidAssoc(static_cast<Assocctl *>(assoc)));
    ASSERT_TRUE(double_->wait_for_what("eof")) << journal_text(*double_);
    size_t seen = 0;
    long last_data = 0, eof = 0;
    for (const auto &e : double_->journal()) {
      if (e.get("what") == "data") {
        seen += static_cast<size_t>(e.number("size", 0));
        last_data = e.number("order");
      }
      if (e.get("what") == "eof") eof = e.number("order");
    }
    EXPECT_EQ(seen, data.size());
    EXPECT_GT(eof, last_data);
  }
  std::string name(const char *prefix) const { return prefix + std::to_string(getpid() % 100000); }

  char prot_[28] = {};
  dvz_test::TempDir dir_;
  ascbinreq parms_ {};
  pfconkind kind_ {asc_kind_nodb, 0, {}};
  pfrequest pfreq_ {asc_pf_conkind, &kind_};
  char status_byte_ = 0;
  int last_code_ = 0;
  int fds_ = 0;
  int children_ = 0;
  std::optional<SqliDouble> double_;
  std::optional<DoubleIpc> objects_;
  std::vector<std::unique_ptr<dvz_test::ScopedEnv>> env_;
};

TEST_F(AsfCallShm, ConnectEchoInterruptRelease) {
  start(name("e"));
  // The double's pool exists while it runs: one segment, two sets.
  EXPECT_EQ(objects_->ids.size(), 3u);
  EXPECT_EQ(objects_->left(), objects_->ids);

  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.errstr;
  void *assoc = ctl.ascid;
  ASSERT_NE(assoc, nullptr);
  ascpairs used {};
  pfGetPairs(&req, &used);
  EXPECT_STREQ(used.protocol, "ipcshm");
  ASSERT_TRUE(double_->wait_for_what("connect"));
  EXPECT_EQ(double_->entries("connect").at(0).number("type"), 1);

  const std::string data = pattern(10 * 1024);
  send(assoc, data);
  EXPECT_EQ(receive(assoc, data.size()), data);
  EXPECT_EQ(simple(asf_svc_resync, assoc), 0) << last_code_;
  EXPECT_TRUE(double_->wait_for([](const testbed::SqliJournalEntry &e) {
    return e.get("what") == "urgent" && e.get("byte") == "B";
  }));
  EXPECT_EQ(simple(asf_svc_release, assoc), 0) << last_code_;
  ASSERT_TRUE(double_->wait_for_what("eof")) << journal_text(*double_);
  expect_nothing_left();
}

/* Two segments, the first two slots held by others: the client claims
** slot 2, whose buffers lie in the second segment, one across the
** boundary. */
TEST_F(AsfCallShm, TwoSegmentPoolCarriesTenKilobyteEcho) {
  start(name("t"), {{"SQLI_SHM_SEGMENTS", "2"}, {"SQLI_SHM_TAKEN", "2"}});
  EXPECT_EQ(objects_->ids.size(), 4u);
  void *assoc = connected();
  ASSERT_NE(assoc, nullptr);
  echo_and_release(assoc);
  expect_nothing_left();
}

/* A server that breaks the layout or the protocol: the connect or the
** first echo fails within its budget, and nothing is left behind. */
TEST_F(AsfCallShm, FaultyServerFailsBoundedAndLeavesNothing) {
  const char *faults[] = {"magic",   "version", "segsize0",   "full",  "silent",
                          "offsets", "ring12",  "length5000", "state6"};
  for (const char *fault : faults) {
    SCOPED_TRACE(fault);
    start(name("f"), {{"SQLI_SHM_FAULTS", fault}});
    const auto begin = Clock::now();
    asfsvcctl ctl = fresh(nullptr, 2000);
    asfsvcreq req {};
    const int rc = connect(&ctl, &req);
    bool failed = rc != 0;
    if (rc == 0) {
      void *assoc = ctl.ascid;
      send(assoc, "ping");
      failed = receive_once(assoc, 2000) != 0;
      EXPECT_EQ(simple(asf_svc_abort, assoc), 0) << last_code_;
    } else if (ctl.ascid != nullptr) {
      EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << last_code_;
    }
    EXPECT_TRUE(failed);
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(30));
    expect_nothing_left();
  }
}

/* The server dies by SIGKILL while the client blocks in a receive (its
** limit far off, so that only the death can end it early): the client
** sees it gone within 2 s. */
TEST_F(AsfCallShm, ServerKilledDuringReceiveIsSeenWithinTwoSeconds) {
  start(name("k"), {{"SQLI_SHM_FAULTS", "kill-receive"}});
  void *assoc = connected();
  ASSERT_NE(assoc, nullptr);
  send(assoc, "ping");
  const auto begin = Clock::now();
  EXPECT_NE(receive_once(assoc, 10000), 0);
  EXPECT_EQ(last_code_, ASF_ERR_READ);
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(2));
  // It died with the message read, while the client waited for the echo.
  EXPECT_EQ(double_->entries("data").size(), 1u) << journal_text(*double_);
  EXPECT_EQ(simple(asf_svc_abort, assoc), 0) << last_code_;
  reap_killed();
  expect_nothing_left();
}

/* The server dies by SIGKILL at the connect alert: the connect fails
** with -25588 before its deadline. */
TEST_F(AsfCallShm, ServerKilledDuringConnectFailsByTheDeadline) {
  start(name("c"), {{"SQLI_SHM_FAULTS", "kill-connect"}});
  const int budget_ms = 5000;
  const auto begin = Clock::now();
  asfsvcctl ctl = fresh(nullptr, budget_ms);
  asfsvcreq req {};
  EXPECT_NE(connect(&ctl, &req), 0);
  EXPECT_EQ(ctl.asfcode, SHM_ERR_CONNECT);
  EXPECT_LE(Clock::now() - begin, std::chrono::milliseconds(budget_ms + 500));
  if (ctl.ascid != nullptr) {
    EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << last_code_;
  }
  reap_killed();
  expect_nothing_left();
}

/* The server's semaphores vanish while the client waits for a reply:
** the receive fails with -25587, the abort still detaches. */
TEST_F(AsfCallShm, RemovedSemaphoresFailTheReceive) {
  start(name("r"), {{"SQLI_SHM_FAULTS", "semrm"}});
  void *assoc = connected();
  ASSERT_NE(assoc, nullptr);
  send(assoc, "ping");
  const auto begin = Clock::now();
  EXPECT_NE(receive_once(assoc, 10000), 0);
  EXPECT_EQ(last_code_, ASF_ERR_READ);
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(2));
  for (const auto &o : objects_->left())
    EXPECT_EQ(o.first, 'm') << "semaphore set " << o.second << " still there";
  EXPECT_EQ(simple(asf_svc_abort, assoc), 0) << last_code_;
  expect_nothing_left();
}

}  // namespace
