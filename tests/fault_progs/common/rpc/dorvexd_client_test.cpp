/*
** The dorvexd client (rpcgen stubs and the seam's production binding)
** against the dorvexd double, over libtirpc and the machine's rpcbind, on
** the program number each double draws for itself. Also pins the double's
** own contract: registration with rpcbind, the registration table, the
** control file and the journal; and the binding's production values.
*/
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dorvexd.h"
#include "monitor_seams.h"
#include "testbed_support.h"

namespace {

using dvz_test::TempDir;
using testbed::DorvexdDouble;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

/* What the binding holds before any test changes it: production's. */
const dorvexd_binding production = dorvexd_rpc;

/* Exit status of `rpcinfo -T <netid> localhost <program> 1`, output dropped. */
int rpcinfo_status(const char *netid, uint32_t program) {
  std::string cmd = std::string("rpcinfo -T ") + netid + " localhost " + std::to_string(program) +
                    " 1 >/dev/null 2>&1";
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

/* The udp port rpcbind holds for <program>/1, or "" (from `rpcinfo -p`). */
std::string registered_udp_port(uint32_t program) {
  FILE *p = popen("rpcinfo -p localhost 2>/dev/null", "r");
  if (!p) return {};
  std::string port;
  char line[256];
  while (fgets(line, sizeof line, p)) {
    char proto[16];
    long prog = 0, vers = 0, prt = 0;
    if (sscanf(line, "%ld %ld %15s %ld", &prog, &vers, proto, &prt) == 4 &&
        prog == static_cast<long>(program) && vers == 1 && std::string(proto) == "udp")
      port = std::to_string(prt);
  }
  pclose(p);
  return port;
}

struct ClientCloser {
  void operator()(CLIENT *c) const { clnt_destroy(c); }
};
using Client = std::unique_ptr<CLIENT, ClientCloser>;

class DorvexdClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testbed::rpcbind_available()) GTEST_SKIP() << "rpcbind is not running";
  }
  void TearDown() override { dorvexd_rpc = production; }

  /* Starts a double (with `control`) and makes a "netpath" client of its
  ** program. */
  void start(std::string_view control = {}) {
    double_ = std::make_unique<DorvexdDouble>(dir_.path(), control);
    dorvexd_rpc.program = double_->program();
    client_.reset(rpc_dorvexd_client.create("localhost"));
    ASSERT_NE(client_, nullptr) << rpc_dorvexd_client.spcreateerror("localhost");
  }

  char *text(const char *s) { return const_cast<char *>(s); }

  TempDir dir_;
  std::unique_ptr<DorvexdDouble> double_;
  Client client_;
};

TEST_F(DorvexdClientTest, RegisteredOnUdpAndTcpUntilSigterm) {
  start();
  const uint32_t program = double_->program();
  EXPECT_EQ(rpcinfo_status("udp", program), 0);
  EXPECT_EQ(rpcinfo_status("tcp", program), 0);
  client_.reset();

  EXPECT_EQ(double_->stop(), 0); /* exited with status 0 */
  auto begin = std::chrono::steady_clock::now();
  EXPECT_NE(rpcinfo_status("udp", program), 0);
  EXPECT_NE(rpcinfo_status("tcp", program), 0);
  /* Unregistered, not merely dead: rpcbind refuses at once, nobody times out. */
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
  EXPECT_EQ(registered_udp_port(program), "");
}

TEST_F(DorvexdClientTest, KilledDoubleLeavesNoEntryOnceReaped) {
  start();
  const uint32_t old_program = double_->program();
  std::string old_port = registered_udp_port(old_program);
  ASSERT_NE(old_port, "");
  client_.reset();
  ASSERT_EQ(kill(double_->pid(), SIGKILL), 0);
  ASSERT_TRUE(testbed::wait_until_ended(double_->pid()));

  /* What a client of the stale entry sees: creation works, calls do not. */
  ASSERT_EQ(registered_udp_port(old_program), old_port);
  Client stale(rpc_dorvexd_client.create("localhost"));
  if (stale) {
    EXPECT_EQ(get_status_1(text("dvz1"), stale.get()), nullptr);
    EXPECT_THAT(clnt_sperror(stale.get(), "stale"), HasSubstr("RPC: Unable to receive"));
  }
  stale.reset();

  /* Reaping it through the support removes the entry. */
  double_->kill_and_reap();
  EXPECT_EQ(registered_udp_port(old_program), "");

  start();
  EXPECT_NE(double_->program(), old_program);
  EXPECT_EQ(rpcinfo_status("udp", double_->program()), 0);
  EXPECT_EQ(rpcinfo_status("tcp", double_->program()), 0);
  int *status = get_status_1(text("dvz1"), client_.get());
  ASSERT_NE(status, nullptr) << clnt_sperror(client_.get(), "get_status_1");
  EXPECT_EQ(*status, 0);
}

/* A double refuses a number another run holds, with its own exit status:
** the support then draws another. */
TEST_F(DorvexdClientTest, DoubleRefusesAProgramRegisteredAlready) {
  start();
  std::string command = testbed::bin_dir() + "/dorvexd_double " + dir_.file("second") + " " +
                        std::to_string(double_->program()) + " >/dev/null 2>&1";
  std::filesystem::create_directory(dir_.file("second"));
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), testbed::dorvexd_program_taken);
  EXPECT_EQ(rpcinfo_status("udp", double_->program()), 0); /* the first still serves */
}

/* Production's binding: dorvexd's program, and the stubs' 25 seconds for
** each call, set on every client it creates. */
TEST_F(DorvexdClientTest, ProductionBindingIsTheProgramOfTheProtocolWith25SecondCalls) {
  EXPECT_EQ(production.program, static_cast<uint32_t>(DORVEXD_PROG));
  start();
  timeval limit {};
  ASSERT_TRUE(clnt_control(client_.get(), CLGET_TIMEOUT, reinterpret_cast<char *>(&limit)));
  EXPECT_EQ(limit.tv_sec, 25);
  EXPECT_EQ(limit.tv_usec, 0);

  dorvexd_rpc.call_timeout_seconds = 3;
  Client shorter(rpc_dorvexd_client.create("localhost"));
  ASSERT_NE(shorter, nullptr);
  ASSERT_TRUE(clnt_control(shorter.get(), CLGET_TIMEOUT, reinterpret_cast<char *>(&limit)));
  EXPECT_EQ(limit.tv_sec, 3);
}

TEST_F(DorvexdClientTest, CreateWithoutServerGivesProgramNotRegistered) {
  /* No double in this test: a number rpcbind does not list. */
  dorvexd_rpc.program = testbed::unused_rpc_program();
  Client c(rpc_dorvexd_client.create("localhost"));
  ASSERT_EQ(c, nullptr);
  EXPECT_STREQ(rpc_dorvexd_client.spcreateerror("localhost"),
               "localhost: RPC: Program not registered");
}

TEST_F(DorvexdClientTest, StubsCarryExactArgumentsAndKeepTheTable) {
  start("result_set_status=7\n");
  CLIENT *c = client_.get();
  time_t before = time(nullptr);

  int *got = get_status_1(text("dvz1"), c);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(*got, 0);

  int *set = set_status_1(text("dvz1"), 12345, 4711, c);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(*set, 7);

  got = get_status_1(text("dvz1"), c);
  ASSERT_NE(got, nullptr);
  EXPECT_GE(*got, before); /* the registration time */
  EXPECT_LE(*got, time(nullptr));
  got = get_status_1(text("dvz2"), c);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(*got, 0);

  EXPECT_NE(shutdown_db_1(text("dvz1"), text("dovariza"), c), nullptr);
  ASSERT_NE(update_dbms_status_1(text("dvz1"), text("ONLINE"), 0, c), nullptr);
  ASSERT_NE(update_dbms_status_1(text("dvz1"), text("FAULTED"), -27001, c), nullptr);
  /* Full int32 range, empty and unusual strings survive the wire and the journal. */
  ASSERT_NE(set_status_1(text(""), INT32_MAX, INT32_MIN, c), nullptr);
  ASSERT_NE(update_dbms_status_1(text("a b\\\"\xc3\xa9"), text("NO_CHANGE"), -1, c), nullptr);

  ASSERT_NE(set_status_1(text("dvz1"), 0, 0, c), nullptr);
  got = get_status_1(text("dvz1"), c);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(*got, 0); /* deregistered */

  EXPECT_THAT(
      double_->journal_lines(),
      ElementsAre("get_status dvz1", "set_status dvz1 12345 4711", "get_status dvz1",
                  "get_status dvz2", "shutdown_db dvz1 dovariza",
                  "update_dbms_status dvz1 ONLINE 0", "update_dbms_status dvz1 FAULTED -27001",
                  "set_status \"\" 2147483647 -2147483648",
                  "update_dbms_status a\\x20b\\x5c\\x22\\xc3\\xa9 NO_CHANGE -1",
                  "set_status dvz1 0 0", "get_status dvz1"));
}

TEST_F(DorvexdClientTest, OtherFourProceduresAreServed) {
  start();
  CLIENT *c = client_.get();
  int *stopped = stop_monitor_1(text("dvz1"), c);
  ASSERT_NE(stopped, nullptr);
  EXPECT_NE(start_monitor_1(text("dvz1"), 42, 4711, c), nullptr);
  char **version = get_dbms_version_1(text("dvz1"), text("dovariza"), c);
  ASSERT_NE(version, nullptr);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_wrapstring), reinterpret_cast<char *>(version));
  char **state = query_dbms_status_1(text("dvz1"), c);
  ASSERT_NE(state, nullptr);
  xdr_free(reinterpret_cast<xdrproc_t>(xdr_wrapstring), reinterpret_cast<char *>(state));
  EXPECT_THAT(double_->journal_lines(),
              ElementsAre("stop_monitor dvz1", "start_monitor dvz1 42 4711",
                          "get_dbms_version dvz1 dovariza", "query_dbms_status dvz1"));
}

TEST_F(DorvexdClientTest, SeamBindsTheStubs) {
  start();
  const dorvexd_client &rpc = rpc_dorvexd_client;
  CLIENT *c = client_.get();
  int32_t *got = rpc.get_status("dvz1", c);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(*got, 0);
  EXPECT_NE(rpc.set_status("dvz1", 321, -4711, c), nullptr);
  EXPECT_NE(rpc.shutdown_db("dvz1", "dovariza", c), nullptr);
  EXPECT_NE(rpc.update_dbms_status("dvz1", "NO_CHANGE", 25, c), nullptr);
  EXPECT_THAT(double_->journal_lines(),
              ElementsAre("get_status dvz1", "set_status dvz1 321 -4711",
                          "shutdown_db dvz1 dovariza", "update_dbms_status dvz1 NO_CHANGE 25"));
}

/* The client's socket is not inherited by framework commands (nor by a
** database that one of them restarts): the shell system() starts sees no
** descriptor of it. */
TEST_F(DorvexdClientTest, CommandsDoNotInheritTheClientSocket) {
  start();
  int fd = -1;
  ASSERT_TRUE(clnt_control(client_.get(), CLGET_FD, reinterpret_cast<char *>(&fd)));
  ASSERT_GE(fd, 0);
  std::string command = "test ! -e /proc/self/fd/" + std::to_string(fd);
  int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the shell holds the socket";
}

/* get_status answers from the control file: sign and width kept. */
TEST_F(DorvexdClientTest, GetStatusOverrideKeepsSignAndWidth) {
  start();
  ASSERT_NE(set_status_1(text("dvz1"), 99, 1, client_.get()), nullptr);
  struct Case {
    const char *control;
    int expected;
  } cases[] = {
      {"get_status=-1\n", -1},
      {"get_status=-2147483648\n", INT32_MIN},
      {"get_status=2147483647\n", INT32_MAX},
      {"get_status=zero\n", 0}, /* even though dvz1 is in the table */
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.control);
    ASSERT_TRUE(double_->write_control(k.control));
    int *got = get_status_1(text("dvz1"), client_.get());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(*got, k.expected);
  }
  ASSERT_TRUE(double_->write_control("get_status=registered\n"));
  int *got = get_status_1(text("unknown"), client_.get());
  ASSERT_NE(got, nullptr);
  EXPECT_NE(*got, 0);
}

TEST_F(DorvexdClientTest, OverrideAppliesAfterTheGivenNumberOfCalls) {
  start("get_status=registered\nafter_calls=1\n");
  int *first = get_status_1(text("dvz1"), client_.get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(*first, 0); /* from the (empty) table */
  for (int i = 0; i < 2; ++i) {
    int *later = get_status_1(text("dvz1"), client_.get());
    ASSERT_NE(later, nullptr);
    EXPECT_NE(*later, 0);
  }
}

TEST_F(DorvexdClientTest, FailedProcedureGivesSystemErrorAtOnce) {
  start("fail=set_status\nfail=shutdown_db\n");
  CLIENT *c = client_.get();
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(set_status_1(text("dvz1"), 12345, 4711, c), nullptr);
  std::string err = clnt_sperror(c, "RPC call set_status_1 to dorvexd failed");
  EXPECT_THAT(err, StartsWith("RPC call set_status_1 to dorvexd failed: "));
  EXPECT_THAT(err, HasSubstr("RPC: Remote system error"));
  EXPECT_EQ(shutdown_db_1(text("dvz1"), text("dovariza"), c), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));

  /* Others are answered; the failed set_status did not register. */
  int *got = get_status_1(text("dvz1"), c);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(*got, 0);

  /* The control file is read again at every call. */
  ASSERT_TRUE(double_->write_control(""));
  EXPECT_NE(set_status_1(text("dvz1"), 12345, 4711, c), nullptr);
  EXPECT_THAT(double_->journal_lines(),
              ElementsAre("set_status dvz1 12345 4711", "shutdown_db dvz1 dovariza",
                          "get_status dvz1", "set_status dvz1 12345 4711"));
}

}  // namespace
