/*
** The client's road through ASF_Call over the shared-memory transport,
** against the SQLI server double in its shared-memory mode: connect, a
** 10 KiB echo through 1024-byte buffers, an interrupt seen in the
** journal, release. Afterwards descriptors, child processes and System V
** IPC objects are back to their starting counts. The rendezvous file goes
** to the double's own directory (the driver's temporary-directory
** override), and the client attaches where the server did ("-" base).
*/
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "cm_records.h"
#include "net_paths.h"
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

/* Processes whose parent is this one (from /proc/<pid>/stat). */
int child_processes() {
  int n = 0;
  DIR *d = opendir("/proc");
  if (d == nullptr) return -1;
  const std::string me = std::to_string(getpid());
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    // ") S PPID ..."
    const std::string rest = line.substr(close + 2);
    const size_t sp = rest.find(' ');
    if (sp == std::string::npos) continue;
    const std::string ppid = rest.substr(sp + 1, rest.find(' ', sp + 1) - sp - 1);
    if (ppid == me) ++n;
  }
  closedir(d);
  return n;
}

int count_lines(const char *path) {
  std::ifstream in(path);
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    ++n;
  return n;
}

asfsvcctl fresh(void *ascid = nullptr, int timeout = -1) {
  return asf_test::fresh_ctl(ascid, timeout);
}

std::string pattern(size_t n) { return asf_test::pattern(n, 7); }

class AsfCallShm : public ::testing::Test {
 protected:
  void SetUp() override {
    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    ASF_Init(asf_svc_init, &req);
    req.word[1] = 17;
    req.word[4] = 10;
    req.word[6] = 100;
    req.word[7] = 1;
    req.word[8] = reinterpret_cast<uintptr_t>(prot_);
    ASSERT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
    std::strcpy(parms_.progname, "sqlexec");
    parms_.pairs.level = -1;
    parms_.pairs.version = -1;
  }
  void TearDown() override {
    asf_tmpdir_override(nullptr);
    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    ASF_Init(asf_svc_term, &req);
    EXPECT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
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
  void send(void *assoc, const std::string &bytes) { asf_test::call_send(assoc, bytes, 1024); }
  std::string receive(void *assoc, size_t n) { return asf_test::call_receive(assoc, n, 1024); }
  int simple(int code, void *assoc) {
    asfsvcctl ctl = fresh(assoc);
    asfsvcreq req {};
    ASF_Init(code, &req);
    int rc = ASF_Call(&ctl, &req);
    last_code_ = ctl.asfcode;
    return rc;
  }

  char prot_[28] = {};
  dvz_test::TempDir dir_;
  ascbinreq parms_ {};
  pfconkind kind_ {asc_kind_nodb, 0, {}};
  pfrequest pfreq_ {asc_pf_conkind, &kind_};
  char status_byte_ = 0;
  int last_code_ = 0;
};

TEST_F(AsfCallShm, ConnectEchoInterruptRelease) {
  const int fds = open_fds();
  const int children = child_processes();
  const int shms = count_lines("/proc/sysvipc/shm");
  const int sems = count_lines("/proc/sysvipc/sem");
  {
    const std::string name = "e" + std::to_string(getpid() % 100000);
    SqliDouble d({"--shm", name});
    asf_tmpdir_override(d.dir().c_str());
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    dvz_test::ScopedEnv hosts(
        "DOVARIZASQLHOSTS",
        dir_.write("sqlhosts", "srv olipcshm " + std::string(host) + " " + name + "\n"));
    dvz_test::ScopedEnv server("DOVARIZASERVER", "srv");
    dvz_test::ScopedEnv base("DOVARIZASHMBASE", "-");
    // The double's pool exists while it runs.
    EXPECT_EQ(count_lines("/proc/sysvipc/shm"), shms + 1);
    EXPECT_EQ(count_lines("/proc/sysvipc/sem"), sems + 1);

    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    ASSERT_EQ(connect(&ctl, &req), 0) << ctl.asfcode << " " << ctl.errstr;
    void *assoc = ctl.ascid;
    ASSERT_NE(assoc, nullptr);
    ascpairs used {};
    pfGetPairs(&req, &used);
    EXPECT_STREQ(used.protocol, "ipcshm");
    ASSERT_TRUE(d.wait_for_what("connect"));
    EXPECT_EQ(d.entries("connect").at(0).number("type"), 1);

    const std::string data = pattern(10 * 1024);
    send(assoc, data);
    EXPECT_EQ(receive(assoc, data.size()), data);

    EXPECT_EQ(simple(asf_svc_resync, assoc), 0) << last_code_;
    EXPECT_TRUE(d.wait_for([](const testbed::SqliJournalEntry &e) {
      return e.get("what") == "urgent" && e.get("byte") == "B";
    }));

    EXPECT_EQ(simple(asf_svc_release, assoc), 0) << last_code_;
    EXPECT_FALSE(asfValidAssoc(static_cast<Assocctl *>(assoc)));
    ASSERT_TRUE(d.wait_for_what("eof")) << [&] {
      std::string all;
      for (const std::string &l : d.journal_lines())
        all += l.substr(0, 120) + "\n";
      return all + d.output();
    }();
    // Every byte came through, and none of it after the end.
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
    EXPECT_EQ(d.stop(), 0);
  }
  EXPECT_EQ(open_fds(), fds);
  EXPECT_EQ(child_processes(), children);
  EXPECT_EQ(count_lines("/proc/sysvipc/shm"), shms);
  EXPECT_EQ(count_lines("/proc/sysvipc/sem"), sems);
}

/* A server that breaks the layout or the protocol: the connect or the
** first echo fails within its budget, and nothing is left behind. */
TEST_F(AsfCallShm, FaultyServerFailsBoundedAndLeavesNothing) {
  const char *faults[] = {"magic",   "version", "segsize0",   "full",  "silent",
                          "offsets", "ring12",  "length5000", "state6"};
  const int fds = open_fds();
  const int children = child_processes();
  const int shms = count_lines("/proc/sysvipc/shm");
  const int sems = count_lines("/proc/sysvipc/sem");
  for (const char *fault : faults) {
    SCOPED_TRACE(fault);
    {
      const std::string name = "f" + std::to_string(getpid() % 100000);
      dvz_test::ScopedEnv env("SQLI_SHM_FAULTS", std::string(fault));
      SqliDouble d({"--shm", name});
      asf_tmpdir_override(d.dir().c_str());
      char host[256] = {};
      ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
      dvz_test::ScopedEnv hosts(
          "DOVARIZASQLHOSTS",
          dir_.write("sqlhosts", "srv olipcshm " + std::string(host) + " " + name + "\n"));
      dvz_test::ScopedEnv server("DOVARIZASERVER", "srv");
      dvz_test::ScopedEnv base("DOVARIZASHMBASE", "-");
      const auto start = std::chrono::steady_clock::now();
      asfsvcctl ctl = fresh(nullptr, 2000);
      asfsvcreq req {};
      const int rc = connect(&ctl, &req);
      bool failed = rc != 0;
      if (rc == 0) {
        void *assoc = ctl.ascid;
        send(assoc, "ping");
        asfsvcctl rctl = fresh(assoc, 2000);
        asfsvcreq rreq {};
        ASF_Init(asf_svc_receive, &rreq);
        failed = ASF_Call(&rctl, &rreq) != 0;
        EXPECT_EQ(simple(asf_svc_abort, assoc), 0) << last_code_;
      } else if (ctl.ascid != nullptr) {
        EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << last_code_;
      }
      EXPECT_TRUE(failed);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
      EXPECT_EQ(d.stop(), 0);
    }
    EXPECT_EQ(open_fds(), fds);
    EXPECT_EQ(child_processes(), children);
    EXPECT_EQ(count_lines("/proc/sysvipc/shm"), shms);
    EXPECT_EQ(count_lines("/proc/sysvipc/sem"), sems);
  }
}

}  // namespace
