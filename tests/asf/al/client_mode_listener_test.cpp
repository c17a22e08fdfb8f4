/*
** Our listener against the SQLI double's client mode
** (testbed/sqli_double/client_mode.py), an independent client written
** from the wire layouts that checks the listener's replies byte by byte.
** The listener is the child of asf_listener_support.h, given one answer
** per client (several clients on one listener: a bad request must leave
** it listening; each response with a status record and the server's
** parameters, for the old-protocol replies and the reject's error
** number). The parent runs the client mode once per row and reads the
** child's reports. Every wait is bounded: the child ends after its last
** client or at its own limit, the client mode after its own time-out.
*/
#include <shadow.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asc_codec.h"
#include "asf_call.h"
#include "asf_listener_support.h"
#include "asf_ns.h"
#include "login.h"
#include "os_seams.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

constexpr const char *kClientMode = DVZ_SQLI_CLIENT_MODE;
constexpr int kReject = 7;

/* ---- The listening child. ---- */

/* A login the child's checks know: user "dbluser", password "right"; no
** trusted-host file and no .rhosts, so that only the password decides
** for a host that is neither this one nor "localhost". */
constexpr const char *kUser = "dbluser";
struct passwd fake_pw = {const_cast<char *>(kUser),
                         const_cast<char *>("x"),
                         4242,
                         4242,
                         const_cast<char *>(""),
                         const_cast<char *>("/nonexistent"),
                         const_cast<char *>("/bin/sh")};
struct spwd fake_sp = {
    const_cast<char *>(kUser), const_cast<char *>("enc:right"), -1, -1, -1, -1, -1, -1, 0};

/* dbluser, and everybody else as the system knows them. */
struct passwd *fake_getpwnam(const char *name) {
  return name != nullptr && std::strcmp(name, kUser) == 0 ? &fake_pw
                                                          : os_system_users.getpwnam(name);
}
struct spwd *fake_getspnam(const char *name) {
  return name != nullptr && std::strcmp(name, kUser) == 0 ? &fake_sp
                                                          : os_system_users.getspnam(name);
}
struct passwd *system_getpwuid(uid_t uid) {
  return os_system_users.getpwuid(uid);
}
struct group *system_getgrgid(gid_t gid) {
  return os_system_users.getgrgid(gid);
}
char *system_getlogin() { return os_system_users.getlogin(); }
const os_users_seam fake_users = {fake_getpwnam, system_getpwuid, fake_getspnam, system_getgrgid,
                                  system_getlogin};

const char *no_home(const char *) { return nullptr; }
int no_netgroup(const char *, const char *, const char *) { return 0; }
/* "enc:" and the key: enough for a comparison with the stored value. */
char *fake_crypt(const char *key, const char *) {
  static char out[128];
  std::snprintf(out, sizeof out, "enc:%s", key);
  return out;
}
const asf_login_seam fake_login = {"/nonexistent/hosts.equiv", no_home, no_netgroup, fake_crypt};

/* The child's orders: authentication mode, one answer per client (kind 0
** accepts and echoes, kReject rejects with the error), the fake logins. */
struct Answer {
  int kind;
  int error;
};
asf_test::ListenerSpec spec_of(uint32_t authmode, const std::vector<Answer> &answers,
                               bool fake_logins = false) {
  asf_test::ListenerSpec spec;
  spec.auth_mode = authmode;
  spec.init = {ASF_INIT_FIRST | 1, 10, 100};
  spec.abort_refused = true;
  spec.limit_seconds = 120;
  for (const Answer &a : answers)
    spec.answers.push_back(
        {a.kind == kReject ? asf_test::AfterAccept::reject : asf_test::AfterAccept::echo, a.error,
         true});
  if (fake_logins)
    spec.child_setup = [] {
      os_users = &fake_users;
      asf_login = &fake_login;
    };
  return spec;
}

/* One report of the child: "<step> <asfcode> <oserr> <text>", the
** errstr of a refused indication without its description. */
std::string line_of(asf_test::ListenerChild &child) {
  asf_test::ListenerReport r;
  if (!child.next(&r, 20000)) return "(none)";
  std::string text = r.text;
  if (r.step == "indication" && r.status != 0) text = text.substr(0, text.find(" | "));
  if (r.step == "indication" && r.status == 0) text.clear();
  return r.step + " " + std::to_string(r.status) + " " + std::to_string(r.oserr) + " " + text;
}

/* ---- The client mode. ---- */

struct ClientRun {
  int status; /* exit status of the client mode */
  std::string json;
  bool ok() const { return status == 0 && json.find("\"ok\": true") != std::string::npos; }
};

/* Runs the client mode against port with the extra arguments. */
ClientRun run_client(int port, const std::string &args) {
  std::string cmd = std::string("python3 -B ") + kClientMode + " --port " + std::to_string(port) +
                    " --timeout 8 " + args + " 2>&1";
  ClientRun r {-1, {}};
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    r.json.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class ClientModeListener : public ::testing::Test {
 protected:
  /* sqlhosts naming srv at a free port with the options. */
  void hosts(const std::string &options = "") {
    port_ = asf_test::free_loopback_port();
    ASSERT_GT(port_, 0);
    env_ = std::make_unique<dvz_test::ScopedEnv>(
        "DOVARIZASQLHOSTS",
        dir_.write("sqlhosts",
                   "srv oltlitcp 127.0.0.1 " + std::to_string(port_) + " " + options + "\n"));
  }
  /* The child's first line must say it listens. */
  static ::testing::AssertionResult listening(asf_test::ListenerChild &child) {
    const std::string got = line_of(child);
    if (got.rfind("listen 0 0 ", 0) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the child says: " << got;
  }

  dvz_test::TempDir dir_;
  std::unique_ptr<dvz_test::ScopedEnv> env_;
  int port_ = 0;
};

/* One client of a table: its arguments and the child's reports it causes
** (their beginnings; an echo's text is the bytes echoed). */
struct Row {
  const char *name;
  std::string args;
  std::vector<std::string> lines;
};

void run_rows(asf_test::ListenerChild &child, int port, const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ClientRun r = run_client(port, row.args);
    EXPECT_TRUE(r.ok()) << r.json;
    for (const std::string &want : row.lines) {
      std::string got = line_of(child);
      EXPECT_EQ(got.substr(0, want.size()), want) << got;
    }
  }
}

const std::string kData = " --data 68656c6c6f --data " + std::string(200, 'a') + " --expect-echo";

TEST_F(ClientModeListener, AcceptHeaderHasTypeTwoTheLevelAndTheSendBufferLength) {
  hosts("b=2048");
  asf_test::ListenerChild child(spec_of(0, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}));
  ASSERT_TRUE(listening(child));
  const std::vector<std::string> accepted = {"indication 0 0 ", "response 0 0 ", "echo 0 0 105"};
  run_rows(child, port_,
           {
               {"text at 61", "--form text --level 61 --expect-id 2048" + kData, accepted},
               {"binary at 61", "--form binary --level 61 --expect-id 2048" + kData, accepted},
               {"text at 60", "--form text --level 60 --expect-id 2048" + kData, accepted},
               {"binary at 70 is answered at 61",
                "--form binary --level 70 --server-level 61 --expect-id 2048" + kData, accepted},
           });
}

TEST_F(ClientModeListener, BelowLevel60AcceptsArePrefixedAndRejectsAreNot) {
  hosts();
  asf_test::ListenerChild child(
      spec_of(0, {{0, 0}, {0, 0}, {0, 0}, {kReject, -387}, {kReject, -387}}));
  ASSERT_TRUE(listening(child));
  const std::vector<std::string> accepted = {"indication 0 0 ", "response 0 0 ", "echo 0 0 3"};
  // The reject's response succeeds; its oserr is not looked at.
  const std::vector<std::string> rejected = {"indication 0 0 ", "response 0 "};
  const std::string data = " --data 6f6c64 --expect-echo";
  run_rows(
      child, port_,
      {
          {"form 1 at level 59", "--form binary --level 59 --kind 2" + data, accepted},
          {"form 1 for an old client", "--form old --kind 2" + data, accepted},
          {"form 2 for kind 6", "--form binary --level 59 --kind 6" + data, accepted},
          {"reject unprefixed",
           "--form binary --level 59 --kind 2 --expect reject --expect-error -387", rejected},
          {"reject of type 3 at 61", "--form text --expect reject --expect-error -387", rejected},
      });
}

TEST_F(ClientModeListener, BadHeaderGives408AndTheListenerKeepsListening) {
  hosts();
  asf_test::ListenerChild child(spec_of(0, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}));
  ASSERT_TRUE(listening(child));
  const std::vector<std::string> refused = {"indication -408 "};
  run_rows(child, port_,
           {
               {"length 3000", "--form text --header-length 3000 --expect closed", refused},
               {"length 2057", "--form text --header-length 2057 --expect closed", refused},
               {"type 5", "--form binary --header-type 5 --expect closed", refused},
               {"the next good client",
                "--form text" + kData,
                {"indication 0 0 ", "response 0 0 ", "echo 0 0 105"}},
           });
}

TEST_F(ClientModeListener, RefusedLoginsOfARemoteHostNameTheUser) {
  hosts();
  asf_test::ListenerChild child(spec_of(1, {{0, 0}, {0, 0}, {0, 0}}, true));
  ASSERT_TRUE(listening(child));
  // From 127.0.0.2 the listener's peer is neither this host nor
  // "localhost"; the process information names a remote host as well.
  const std::string from =
      std::string(" --source-address 127.0.0.2 --remote-host far.example") + " --user " + kUser;
  {
    ClientRun r = run_client(port_, "--form text --password wrong --expect closed" + from);
    EXPECT_TRUE(r.ok()) << r.json;
    std::string got = line_of(child);
    EXPECT_EQ(got, std::string("indication 8 -952 ") + kUser);
  }
  {
    ClientRun r = run_client(port_, "--form binary --expect closed" + from);
    EXPECT_TRUE(r.ok()) << r.json;
    std::string got = line_of(child);
    const std::string want = std::string("indication 8 -956 (") + kUser + "@";
    EXPECT_EQ(got.substr(0, want.size()), want) << got;
    EXPECT_EQ(got.back(), ')') << got;
    // The host is the peer's address, not the process information's.
    EXPECT_EQ(got.find("localhost"), std::string::npos) << got;
    EXPECT_EQ(got.find("far.example"), std::string::npos) << got;
  }
  {
    ClientRun r = run_client(port_, "--form text --password right" + from + kData);
    EXPECT_TRUE(r.ok()) << r.json;
    EXPECT_EQ(line_of(child), "indication 0 0 ");
    EXPECT_EQ(line_of(child), "response 0 0 ");
    EXPECT_EQ(line_of(child), "echo 0 0 105");
  }
}

}  // namespace
