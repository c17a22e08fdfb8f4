/*
** Our listener against the SQLI double's client mode
** (testbed/sqli_double/client_mode.py), an independent client written
** from the wire layouts that checks the listener's replies byte by byte.
** The listener runs in a child process through ASF_Call (init, listen,
** then per client: indication, response, echo of the data, abort) and
** reports each outcome on a pipe; the parent runs the client mode once
** per row and reads the child's reports. It is not the one-indication
** child of asf_listener_support.h: these cases need several clients on
** one listener (a bad request must leave it listening) and a response
** with a status record (the old-protocol replies and the reject's error
** number). Every wait is bounded: the child ends after its last client or
** when killed, the client mode after its own time-out.
*/
#include <poll.h>
#include <shadow.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
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

/* What the child answers to one indication: response kind (0 accept, 7
** reject) and the error of the status record it sends. */
struct Answer {
  int kind;
  int error;
};

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

/* A synchronous control record on ascid. */
asfsvcctl ctl_on(void *ascid, int timeout = -1) {
  asfsvcctl ctl {};
  ctl.flags = asf_flag_sync;
  ctl.timeout = timeout;
  ctl.ascid = ascid;
  return ctl;
}

/* Writes one report line to fd (printf format). */
void report(int fd, const char *fmt, ...) {
  char line[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(line, sizeof line - 1, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof line) - 2) n = static_cast<int>(sizeof line) - 2;
  line[n++] = '\n';
  ssize_t w = write(fd, line, static_cast<size_t>(n));
  (void)w;
}

int simple_call(int code, void *assoc) {
  asfsvcctl ctl = ctl_on(assoc);
  asfsvcreq req {};
  ASF_Init(code, &req);
  return ASF_Call(&ctl, &req);
}

/* Echoes every data message of assoc until a receive fails (the client
** closed, or 5 s without data). Returns the messages echoed. */
int echo_data(void *assoc) {
  int echoed = 0;
  for (;;) {
    asfsvcctl ctl = ctl_on(assoc, 5000);
    asfsvcreq req {};
    ASF_Init(asf_svc_receive, &req);
    if (ASF_Call(&ctl, &req) != 0) return echoed;
    auto *in = reinterpret_cast<rscbufctl *>(req.word[3]);
    std::string bytes(in->p, static_cast<size_t>(in->size));
    asfsvcreq rel {};
    ASF_Init(asf_svc_recvbuf_free, &rel);
    rel.word[2] = reinterpret_cast<uintptr_t>(in);
    asfsvcctl rctl = ctl_on(assoc);
    ASF_Call(&rctl, &rel);

    asfsvcctl sctl = ctl_on(assoc);
    asfsvcreq sreq {};
    ASF_Init(asf_svc_sendbuf, &sreq);
    if (ASF_Call(&sctl, &sreq) != 0) return echoed;
    auto *out = reinterpret_cast<rscbufctl *>(sreq.word[2]);
    if (out == nullptr || static_cast<size_t>(out->size) < bytes.size()) return echoed;
    std::memcpy(out->p, bytes.data(), bytes.size());
    out->size = static_cast<int32_t>(bytes.size());
    ASF_Init(asf_svc_send, &sreq);
    asf_req_set_half(&sreq, 2, -1);
    sreq.word[3] = reinterpret_cast<uintptr_t>(out);
    if (ASF_Call(&sctl, &sreq) != 0) return echoed;
    ++echoed;
  }
}

/* The child: listens for "srv" with the authentication mode and answers
** one indication per Answer, reporting "listen RC CODE OSERR", then per
** client "ind RC CODE OSERR ERRSTR", "rsp RC CODE OSERR" and "echo N".
** Never returns. */
[[noreturn]] void listener_main(int fd, uint32_t authmode, const std::vector<Answer> &answers,
                                bool fake_logins) {
  if (fake_logins) {
    os_users = &fake_users;
    asf_login = &fake_login;
  }
  char prot[ASF_PROT_ENTRY_SIZE] = {};
  asfsvcctl ctl = ctl_on(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  req.word[1] = ASF_INIT_FIRST | 1;
  req.word[4] = 10;
  req.word[6] = 100;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(prot);
  if (ASF_Call(&ctl, &req) != 0) {
    report(fd, "listen -1 %d %d init", ctl.asfcode, ctl.oserr);
    _exit(1);
  }
  char status = 0;
  ctl = ctl_on(nullptr);
  ASF_Init(asf_svc_listen, &req);
  req.word[1] = 0;
  req.word[3] = reinterpret_cast<uintptr_t>(&status);
  req.word[4] = authmode;
  char name[] = "@srv";
  req.word[5] = ns_req_dbenv;
  req.word[6] = reinterpret_cast<uintptr_t>(name);
  req.word[9] = 61;
  int rc = ASF_Call(&ctl, &req);
  report(fd, "listen %d %d %d", rc, ctl.asfcode, ctl.oserr);
  if (rc != 0) _exit(1);
  void *listener = ctl.ascid;

  for (const Answer &a : answers) {
    char istatus = 0;
    asfsvcctl ictl = ctl_on(listener, 20000);
    asfsvcreq ireq {};
    ASF_Init(asf_svc_indication, &ireq);
    ireq.word[2] = reinterpret_cast<uintptr_t>(&istatus);
    rc = ASF_Call(&ictl, &ireq);
    void *assoc = reinterpret_cast<void *>(ireq.word[pf_word_newassoc]);
    report(fd, "ind %d %d %d %s", rc, ictl.asfcode, ictl.oserr, ictl.errstr);
    if (rc != 0 || ictl.asfcode != 0) {
      if (assoc != nullptr) simple_call(asf_svc_abort, assoc);
      continue;
    }
    ascbinreq params {};
    std::strcpy(params.progname, "srvdvz");
    params.pairs.level = -1;
    params.pairs.version = -1;
    pfstatus st {};
    st.subkind = asc_sub_status;
    st.errnum = a.error;
    pfrequest answer {asc_pf_status, &st};
    asfsvcctl rctl = ctl_on(assoc);
    asfsvcreq rreq {};
    ASF_Init(asf_svc_response, &rreq);
    rreq.word[1] = static_cast<uintptr_t>(a.kind);
    rreq.word[7] = reinterpret_cast<uintptr_t>(&params);
    rreq.word[9] = reinterpret_cast<uintptr_t>(&answer);
    rc = ASF_Call(&rctl, &rreq);
    report(fd, "rsp %d %d %d", rc, rctl.asfcode, rctl.oserr);
    if (rc != 0 || a.kind == kReject) continue;  // the exit step freed it
    report(fd, "echo %d", echo_data(assoc));
    simple_call(asf_svc_abort, assoc);
  }
  simple_call(asf_svc_term, nullptr);
  _exit(0);
}

/* The listening child seen from the parent: started with its answers,
** read line by line, reaped (killed when still running) at the end. */
class ListenerChild {
 public:
  ListenerChild(uint32_t authmode, const std::vector<Answer> &answers, bool fake_logins = false) {
    int p[2];
    if (pipe(p) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(p[0]);
      listener_main(p[1], authmode, answers, fake_logins);
    }
    close(p[1]);
    fd_ = p[0];
  }
  ~ListenerChild() {
    if (pid_ > 0) {
      int st = 0;
      for (int i = 0; i < 100 && waitpid(pid_, &st, WNOHANG) == 0; ++i)
        usleep(20000);
      if (waitpid(pid_, &st, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &st, 0);
      }
    }
    if (fd_ >= 0) close(fd_);
  }
  ListenerChild(const ListenerChild &) = delete;
  ListenerChild &operator=(const ListenerChild &) = delete;

  /* The next report line, or "(none)" after 20 s or at the child's end. */
  std::string line() {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        std::string out = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return out;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      end - std::chrono::steady_clock::now())
                      .count();
      pollfd pfd {fd_, POLLIN, 0};
      if (fd_ < 0 || left <= 0 || poll(&pfd, 1, static_cast<int>(left)) <= 0) return "(none)";
      char buf[512];
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return "(none)";
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_;
};

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
  static ::testing::AssertionResult listening(ListenerChild &child) {
    const std::string got = child.line();
    if (got == "listen 0 0 0") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the child says: " << got;
  }

  dvz_test::TempDir dir_;
  std::unique_ptr<dvz_test::ScopedEnv> env_;
  int port_ = 0;
};

/* One client of a table: its arguments and the child's lines it causes. */
struct Row {
  const char *name;
  std::string args;
  std::vector<std::string> lines;
};

void run_rows(ListenerChild &child, int port, const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ClientRun r = run_client(port, row.args);
    EXPECT_TRUE(r.ok()) << r.json;
    for (const std::string &want : row.lines) {
      std::string got = child.line();
      EXPECT_EQ(got.substr(0, want.size()), want) << got;
    }
  }
}

const std::string kData = " --data 68656c6c6f --data " + std::string(200, 'a') + " --expect-echo";

TEST_F(ClientModeListener, AcceptHeaderHasTypeTwoTheLevelAndTheSendBufferLength) {
  hosts("b=2048");
  ListenerChild child(0, {{0, 0}, {0, 0}, {0, 0}, {0, 0}});
  ASSERT_TRUE(listening(child));
  const std::vector<std::string> accepted = {"ind 0 0 0", "rsp 0 0 0", "echo 2"};
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
  ListenerChild child(0, {{0, 0}, {0, 0}, {0, 0}, {kReject, -387}, {kReject, -387}});
  ASSERT_TRUE(listening(child));
  const std::vector<std::string> accepted = {"ind 0 0 0", "rsp 0 0 0", "echo 1"};
  // The reject's response succeeds; its oserr is not looked at.
  const std::vector<std::string> rejected = {"ind 0 0 0", "rsp 0 0"};
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
  ListenerChild child(0, {{0, 0}, {0, 0}, {0, 0}, {0, 0}});
  ASSERT_TRUE(listening(child));
  const std::vector<std::string> refused = {"ind -1 -408 "};
  run_rows(
      child, port_,
      {
          {"length 3000", "--form text --header-length 3000 --expect closed", refused},
          {"length 2057", "--form text --header-length 2057 --expect closed", refused},
          {"type 5", "--form binary --header-type 5 --expect closed", refused},
          {"the next good client", "--form text" + kData, {"ind 0 0 0", "rsp 0 0 0", "echo 2"}},
      });
}

TEST_F(ClientModeListener, RefusedLoginsOfARemoteHostNameTheUser) {
  hosts();
  ListenerChild child(1, {{0, 0}, {0, 0}, {0, 0}}, true);
  ASSERT_TRUE(listening(child));
  // From 127.0.0.2 the listener's peer is neither this host nor
  // "localhost"; the process information names a remote host as well.
  const std::string from =
      std::string(" --source-address 127.0.0.2 --remote-host far.example") + " --user " + kUser;
  {
    ClientRun r = run_client(port_, "--form text --password wrong --expect closed" + from);
    EXPECT_TRUE(r.ok()) << r.json;
    std::string got = child.line();
    EXPECT_EQ(got, std::string("ind -1 8 -952 ") + kUser);
  }
  {
    ClientRun r = run_client(port_, "--form binary --expect closed" + from);
    EXPECT_TRUE(r.ok()) << r.json;
    std::string got = child.line();
    const std::string want = std::string("ind -1 8 -956 (") + kUser + "@";
    EXPECT_EQ(got.substr(0, want.size()), want) << got;
    EXPECT_EQ(got.back(), ')') << got;
    // The host is the peer's address, not the process information's.
    EXPECT_EQ(got.find("localhost"), std::string::npos) << got;
    EXPECT_EQ(got.find("far.example"), std::string::npos) << got;
  }
  {
    ClientRun r = run_client(port_, "--form text --password right" + from + kData);
    EXPECT_TRUE(r.ok()) << r.json;
    EXPECT_EQ(child.line(), "ind 0 0 0 ");
    EXPECT_EQ(child.line(), "rsp 0 0 0");
    EXPECT_EQ(child.line(), "echo 2");
  }
}

}  // namespace
