/*
** Communication support end to end through ASF_Call: a sqlhosts entry with
** csm=(TEST) connects to the SQLI double in its communication-support mode
** (bind response, the test module's handshake, the final response through
** the module) and its data runs through the module's transform both ways;
** an entry without csm never reads concsm.cfg; a configuration that cannot
** be read fails the connect with its code; a send that would block is
** resumed with the same message, and another message breaks the context,
** which an abort still frees; our own listener in the communication-support
** login mode accepts our own client through the module. The module is tests/asf/css/test_module.c
** (CSS_TEST_MODULE), named in a concsm.cfg of the test's own directory.
*/
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "al/counting_memory.h"
#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_call_support.h"
#include "asf_css.h"
#include "asf_listener_support.h"
#include "cm_records.h"
#include "pf_records.h"
#include "scoped_env.h"
#include "sqli_double_process.h"
#include "temp_dir.h"
#include "testbed_support.h"

namespace {

using testbed::SqliDouble;

/* The module's xor key, in concsm.cfg and on the double's command line. */
constexpr int kKey = 0x5a;

asfsvcctl fresh(void *ascid = nullptr, int timeout = -1) {
  return asf_test::fresh_ctl(ascid, timeout);
}

std::string xored(const std::string &s) {
  std::string out = s;
  for (char &c : out)
    c = static_cast<char>(c ^ kKey);
  return out;
}

class AsfCallCss : public ::testing::Test {
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
    asfsvcctl ctl = fresh();
    asfsvcreq req {};
    ASF_Init(asf_svc_term, &req);
    EXPECT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
    EXPECT_EQ(is_css_library_initialized(), 0);
  }
  /* concsm.cfg naming the test module, pointed at by RARODAZIRAVAVIDOZ. */
  void config(const std::string &more = "") {
    const std::string line = std::string("TEST(\"") + CSS_TEST_MODULE +
                             "\", \"xor=" + std::to_string(kKey) + more + "\", \"\")\n";
    cfg_env_ =
        std::make_unique<dvz_test::ScopedEnv>("RARODAZIRAVAVIDOZ", dir_.write("concsm.cfg", line));
  }
  void hosts(int port, const char *options) {
    const std::string line =
        std::string("srv oltlitcp 127.0.0.1 ") + std::to_string(port) + " " + options + "\n";
    hosts_env_ =
        std::make_unique<dvz_test::ScopedEnv>("DOVARIZASQLHOSTS", dir_.write("sqlhosts", line));
    server_env_ = std::make_unique<dvz_test::ScopedEnv>("DOVARIZASERVER", std::string("srv"));
  }
  int connect(asfsvcctl *ctl) {
    asfsvcreq req {};
    ASF_Init(asf_svc_connect, &req);
    req.word[2] = 7;
    req.word[3] = reinterpret_cast<uintptr_t>("srv");
    req.word[4] = 1;
    req.word[5] = reinterpret_cast<uintptr_t>(&status_byte_);
    req.word[7] = reinterpret_cast<uintptr_t>(&parms_);
    req.word[9] = reinterpret_cast<uintptr_t>(&pfreq_);
    return ASF_Call(ctl, &req);
  }
  int simple(int code, void *assoc) {
    asfsvcctl ctl = fresh(assoc);
    asfsvcreq req {};
    ASF_Init(code, &req);
    const int rc = ASF_Call(&ctl, &req);
    last_code_ = ctl.asfcode;
    return rc;
  }
  /* The association's send buffer, filled with bytes. */
  rscbufctl *fill_send_buffer(void *assoc, const std::string &bytes) {
    asfsvcctl ctl = fresh(assoc);
    asfsvcreq req {};
    ASF_Init(asf_svc_sendbuf, &req);
    if (ASF_Call(&ctl, &req) != 0) return nullptr;
    auto *buf = reinterpret_cast<rscbufctl *>(req.word[2]);
    const size_t n = std::min(bytes.size(), static_cast<size_t>(buf->size));
    std::memcpy(buf->p, bytes.data(), n);
    buf->size = static_cast<int32_t>(n);
    return buf;
  }
  int send(void *assoc, rscbufctl *buf, int timeout, int32_t *code) {
    asfsvcctl ctl = fresh(assoc, timeout);
    asfsvcreq req {};
    ASF_Init(asf_svc_send, &req);
    asf_req_set_half(&req, 2, -1);
    req.word[3] = reinterpret_cast<uintptr_t>(buf);
    const int rc = ASF_Call(&ctl, &req);
    *code = ctl.asfcode;
    return rc;
  }
  /* Sends messages of chunk_ with timeout 0 until one would block; that
  ** buffer. messages_ counts the messages, the blocked one included. */
  rscbufctl *send_until_blocked(void *assoc) {
    for (messages_ = 1; messages_ < 20000; ++messages_) {
      rscbufctl *buf = fill_send_buffer(assoc, chunk_);
      if (buf == nullptr) return nullptr;
      int32_t code = 0;
      if (send(assoc, buf, 0, &code) != 0) return code == 6 ? buf : nullptr;
    }
    return nullptr;
  }
  /* The plain bytes the double journalled. */
  static std::string journalled_plain(const SqliDouble &d) {
    std::string plain;
    for (const auto &e : d.entries("data")) {
      const std::string hex = e.get("plain");
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        plain += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return plain;
  }

  const std::string chunk_ = asf_test::pattern(4096, 3);
  int messages_ = 0;
  char prot_[28] = {};
  dvz_test::TempDir dir_;
  std::unique_ptr<dvz_test::ScopedEnv> cfg_env_, hosts_env_, server_env_;
  ascbinreq parms_ {};
  pfconkind kind_ {asc_kind_nodb, 0, {}};
  pfrequest pfreq_ {asc_pf_conkind, &kind_};
  char status_byte_ = 0;
  int last_code_ = 0;
};

TEST_F(AsfCallCss, ConnectsThroughTheModuleAndEchoesTenKibTransformed) {
  config();
  SqliDouble d({"--css", "--css-xor", std::to_string(kKey)});
  hosts(d.port(), "csm=(TEST)");
  asfsvcctl ctl = fresh();
  ASSERT_EQ(connect(&ctl), 0) << ctl.asfcode << " " << ctl.oserr << " " << ctl.errstr;
  void *assoc = ctl.ascid;
  EXPECT_EQ(is_css_library_initialized(), 1);
  asfsvcctl actl = fresh(assoc);
  EXPECT_EQ(is_css_context_established(&actl), 1);

  const std::string data = asf_test::pattern(10 * 1024, 7);
  asf_test::call_send(assoc, data);
  EXPECT_EQ(asf_test::call_receive(assoc, data.size()), data);

  ASSERT_EQ(d.entries("handshake").size(), 1u);
  EXPECT_EQ(d.entries("handshake")[0].get("token"), "CSMTEST HELLO");
  ASSERT_EQ(d.entries("final").size(), 1u);
  std::string wire;
  for (const auto &e : d.entries("data"))
    wire += e.raw();
  const std::string plain = journalled_plain(d);
  EXPECT_EQ(plain, data);
  EXPECT_EQ(wire, xored(data));
  EXPECT_NE(wire, plain);

  EXPECT_EQ(simple(asf_svc_release, assoc), 0) << last_code_;
}

TEST_F(AsfCallCss, EntryWithoutCsmNeverReadsTheConfiguration) {
  cfg_env_ = std::make_unique<dvz_test::ScopedEnv>("RARODAZIRAVAVIDOZ", dir_.path() + "/absent");
  SqliDouble d;
  hosts(d.port(), "");
  asfsvcctl ctl = fresh();
  ASSERT_EQ(connect(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
  EXPECT_EQ(is_css_library_initialized(), 0);
  const std::string data = asf_test::pattern(100);
  asf_test::call_send(ctl.ascid, data);
  EXPECT_EQ(asf_test::call_receive(ctl.ascid, data.size()), data);
  EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << last_code_;
}

TEST_F(AsfCallCss, MissingConfigurationFailsTheConnectWithItsPath) {
  const std::string path = dir_.path() + "/absent.cfg";
  cfg_env_ = std::make_unique<dvz_test::ScopedEnv>("RARODAZIRAVAVIDOZ", path);
  SqliDouble d({"--css"});
  hosts(d.port(), "csm=(TEST)");
  asfsvcctl ctl = fresh();
  EXPECT_EQ(connect(&ctl), -1);
  EXPECT_EQ(ctl.asfcode, CSS_ERR_CFGOPEN);
  EXPECT_EQ(std::string(ctl.errstr), path);
  EXPECT_EQ(is_css_library_initialized(), 0);
}

TEST_F(AsfCallCss, BlockedSendIsResumedWithTheSameMessage) {
  config();
  SqliDouble d({"--css", "--css-xor", std::to_string(kKey), "--css-sink", "--css-stall", "1500"});
  hosts(d.port(), "csm=(TEST)");
  asfsvcctl ctl = fresh();
  ASSERT_EQ(connect(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
  void *assoc = ctl.ascid;
  rscbufctl *held = send_until_blocked(assoc);
  ASSERT_NE(held, nullptr);
  asfsvcctl actl = fresh(assoc);
  asfcssctx **slot = asf_css_slot(&actl);
  ASSERT_NE(slot, nullptr);
  ASSERT_NE(*slot, nullptr);
  EXPECT_EQ((*slot)->state, asfcss_resend);
  // The double reads again after its stall: the rest goes out.
  int32_t code = 0;
  EXPECT_EQ(send(assoc, held, -1, &code), 0) << code;
  EXPECT_EQ((*slot)->state, asfcss_ready);
  // Every message arrived once, whole and in order, through the transform.
  std::string all;
  for (int i = 0; i < messages_; ++i)
    all += chunk_;
  for (int wait = 0; wait < 200; ++wait) {  // at most 10 s
    size_t n = 0;
    for (const auto &e : d.entries("data"))
      n += static_cast<size_t>(e.number("size", 0));
    if (n >= all.size()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(journalled_plain(d), all);
  EXPECT_EQ(simple(asf_svc_abort, assoc), 0) << last_code_;
}

TEST_F(AsfCallCss, AnotherMessageAfterABlockBreaksTheContextAndAbortFreesIt) {
  config();
  SqliDouble d({"--css", "--css-xor", std::to_string(kKey), "--css-sink", "--css-stall", "3000"});
  hosts(d.port(), "csm=(TEST)");
  asfsvcctl ctl = fresh();
  ASSERT_EQ(connect(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
  void *assoc = ctl.ascid;
  ASSERT_NE(send_until_blocked(assoc), nullptr);
  char other[16] = "another message";
  rscbufctl msg {other, 15, 0, nullptr, other, 16, 0};
  asfsvcctl actl = fresh(assoc);
  EXPECT_EQ(asf_css_process_out_message(&actl, &msg), -1);
  EXPECT_EQ(actl.asfcode, ASFCSS_ERR_RETRY);
  asfcssctx **slot = asf_css_slot(&actl);
  ASSERT_NE(slot, nullptr);
  ASSERT_NE(*slot, nullptr);
  EXPECT_EQ((*slot)->state, asfcss_broken);
  // Only an abort follows; it frees the state and succeeds.
  EXPECT_EQ(simple(asf_svc_abort, assoc), 0) << last_code_;
}

TEST_F(AsfCallCss, AbortSucceedsAndFreesWhenTheModulesAbortFails) {
  config(";abort_fail=1");
  SqliDouble d({"--css", "--css-xor", std::to_string(kKey)});
  hosts(d.port(), "csm=(TEST)");
  asf_test::CountingMemory memory;
  asfsvcctl ctl = fresh();
  ASSERT_EQ(connect(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
  EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << last_code_;
  // The library context and the loaded module are all that stays.
  asfsvcctl tctl = fresh();
  EXPECT_EQ(asf_css_terminate(&tctl), 0);
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST_F(AsfCallCss, EveryFailedAllocationOfASupportedConnectFailsCleanly) {
  config();
  SqliDouble d({"--css", "--css-xor", std::to_string(kKey)});
  hosts(d.port(), "csm=(TEST)");
  // The library context and the module stay loaded once the first
  // connect made them: count from the second on.
  asfsvcctl ctl = fresh();
  ASSERT_EQ(connect(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
  ASSERT_EQ(simple(asf_svc_abort, ctl.ascid), 0);
  int total = 0;
  {
    asf_test::CountingMemory memory;
    ctl = fresh();
    ASSERT_EQ(connect(&ctl), 0) << ctl.asfcode << " " << ctl.errstr;
    EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0);
    total = memory.allocations();
    EXPECT_EQ(memory.outstanding(), 0);
  }
  ASSERT_GT(total, 0);
  for (int n = 1; n <= total; ++n) {
    asf_test::CountingMemory memory(n);
    ctl = fresh();
    if (connect(&ctl) == 0) {
      EXPECT_EQ(simple(asf_svc_abort, ctl.ascid), 0) << n;
    } else {
      EXPECT_NE(ctl.asfcode, 0) << n;
    }
    EXPECT_EQ(memory.outstanding(), 0) << "allocation " << n;
  }
}

/* Our listener in a child: listen on srv with the mode that defers to the
** entry's csm option, take the indication, verify (bind, then the module's
** server handshake and login), answer, echo one message. Each step is a
** line "<step> <asfcode> <oserr>" on fd. Ends itself after 20 s. */
[[noreturn]] void css_listener_child(int fd) {
  alarm(20);
  auto report = [fd](const char *step, const asfsvcctl &c) {
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%s %d %d\n", step, c.asfcode, c.oserr);
    if (write(fd, line, static_cast<size_t>(n)) != n) _exit(3);
  };
  char status = 0;
  char text[] = "@srv";
  asfsvcctl ctl = fresh();
  asfsvcreq req {};
  ASF_Init(asf_svc_listen, &req);
  req.word[3] = reinterpret_cast<uintptr_t>(&status);
  req.word[4] = CM_AUTH_NOCHECK;
  req.word[5] = ns_req_dbenv;
  req.word[6] = reinterpret_cast<uintptr_t>(text);
  ascpairs pairs {};
  pairs.level = 61;
  pfPutPairsAt(&req, pf_word_lsnpairs, &pairs);
  req.word[9] = 61;
  const int lrc = ASF_Call(&ctl, &req);
  report("listen", ctl);
  if (lrc != 0) _exit(1);
  void *listener = ctl.ascid;
  char ind_status = 0;
  ctl = fresh(listener);
  ASF_Init(asf_svc_indication, &req);
  req.word[2] = reinterpret_cast<uintptr_t>(&ind_status);
  const int irc = ASF_Call(&ctl, &req);
  report("indication", ctl);
  void *assoc = reinterpret_cast<void *>(req.word[6]);
  if (irc != 0 || assoc == nullptr) _exit(1);
  ctl = fresh(assoc);
  asfsvcreq vreq {};
  ASF_Init(asf_svc_verify, &vreq);
  const int vrc = ASF_Call(&ctl, &vreq);
  report("verify", ctl);
  // Without session headers the stream has no message boundaries: the
  // client's handshake read must take the server's token alone.
  usleep(200000);
  pfstatus st {};
  st.subkind = asc_sub_status;
  st.errnum = vrc != 0 ? ctl.oserr : 0;
  pfrequest answer {asc_pf_status, &st};
  ctl = fresh(assoc);
  asfsvcreq rreq {};
  ASF_Init(asf_svc_response, &rreq);
  rreq.word[1] = vrc != 0 ? 7 : 0;
  rreq.word[9] = reinterpret_cast<uintptr_t>(&answer);
  const int rrc = ASF_Call(&ctl, &rreq);
  report("response", ctl);
  if (vrc != 0 || rrc != 0) _exit(1);
  ctl = fresh(assoc, 5000);
  asfsvcreq r {};
  ASF_Init(asf_svc_receive, &r);
  if (ASF_Call(&ctl, &r) == 0) {
    auto *in = reinterpret_cast<rscbufctl *>(r.word[3]);
    const std::string piece(in->p, static_cast<size_t>(in->size));
    asfsvcctl sctl = fresh(assoc);
    asfsvcreq sr {};
    ASF_Init(asf_svc_sendbuf, &sr);
    if (ASF_Call(&sctl, &sr) == 0) {
      auto *out = reinterpret_cast<rscbufctl *>(sr.word[2]);
      const size_t n = std::min(piece.size(), static_cast<size_t>(out->size));
      std::memcpy(out->p, piece.data(), n);
      out->size = static_cast<int32_t>(n);
      ASF_Init(asf_svc_send, &sr);
      asf_req_set_half(&sr, 2, -1);
      sr.word[3] = reinterpret_cast<uintptr_t>(out);
      ASF_Call(&sctl, &sr);
    }
    report("echo", sctl);
  } else {
    report("echo", ctl);
  }
  // Wait for the client's release before going.
  ctl = fresh(assoc, 5000);
  ASF_Init(asf_svc_receive, &r);
  ASF_Call(&ctl, &r);
  _exit(0);
}

/* The next report line from fd within 15 s, or "". */
std::string next_report(int fd, std::string *pending) {
  for (int i = 0; i < 150; ++i) {
    const size_t nl = pending->find('\n');
    if (nl != std::string::npos) {
      std::string line = pending->substr(0, nl);
      pending->erase(0, nl + 1);
      return line;
    }
    pollfd p {fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return "";
    pending->append(buf, static_cast<size_t>(n));
  }
  return "";
}

/* css_listener_child in a forked child, its report lines read in order;
** the child is given 10 s to end at the close, then killed. */
struct CssListener {
  pid_t pid = -1;
  int fd = -1;
  std::string pending;

  bool start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      close(fds[0]);
      css_listener_child(fds[1]);
    }
    close(fds[1]);
    fd = fds[0];
    return true;
  }
  std::string next() { return next_report(fd, &pending); }
  ~CssListener() {
    if (pid > 0 && !testbed::wait_bounded(pid, 10).has_value()) testbed::stop_child(pid, 1);
    if (fd >= 0) close(fd);
  }
};

TEST_F(AsfCallCss, OwnListenerInSupportModeAcceptsOwnClientThroughTheModule) {
  config();
  const int port = asf_test::free_loopback_port();
  ASSERT_GT(port, 0);
  hosts(port, "csm=(TEST)");
  CssListener child;
  ASSERT_TRUE(child.start());
  EXPECT_EQ(child.next(), "listen 0 0");

  // The binary request carries the client's level, which the bind needs.
  std::strcpy(parms_.progname, "dvzcss");
  asfsvcctl ctl = fresh();
  const int crc = connect(&ctl);
  EXPECT_EQ(crc, 0) << ctl.asfcode << " " << ctl.oserr << " " << ctl.errstr;
  EXPECT_EQ(child.next(), "indication 0 0");
  // The module's handshake ran and marked the login as checked.
  EXPECT_EQ(child.next(), "verify 0 0");
  EXPECT_EQ(child.next(), "response 0 0");
  if (crc == 0) {
    const std::string data = asf_test::pattern(1000, 5);
    asf_test::call_send(ctl.ascid, data);
    EXPECT_EQ(asf_test::call_receive(ctl.ascid, data.size()), data);
    EXPECT_EQ(child.next(), "echo 0 0");
    EXPECT_EQ(simple(asf_svc_release, ctl.ascid), 0) << last_code_;
  }
}

/* The same listener with a module that does not mark the login as
** checked: the handshake runs, the login is refused with -25590 and the
** client's connect is answered with that reject. */
TEST_F(AsfCallCss, OwnListenerRefusesALoginTheModuleDidNotMark) {
  config(";no_login_mark=1");
  const int port = asf_test::free_loopback_port();
  ASSERT_GT(port, 0);
  hosts(port, "csm=(TEST)");
  CssListener child;
  ASSERT_TRUE(child.start());
  EXPECT_EQ(child.next(), "listen 0 0");
  std::strcpy(parms_.progname, "dvzcss");
  asfsvcctl ctl = fresh();
  EXPECT_EQ(connect(&ctl), -1);
  EXPECT_EQ(ctl.asfcode, asf_status_rejected) << ctl.oserr << " " << ctl.errstr;
  EXPECT_EQ(ctl.oserr, ASF_ERR_NOUSER);
  // The rejected association is kept for the abort; the listener's
  // reject ends once the connection is gone.
  if (ctl.ascid != nullptr) {
    asfsvcctl actl = fresh(ctl.ascid);
    asfsvcreq areq {};
    ASF_Init(asf_svc_abort, &areq);
    areq.word[1] = ASF_ABORT_PASS;
    EXPECT_EQ(ASF_Call(&actl, &areq), 0) << actl.asfcode;
  }
  EXPECT_EQ(child.next(), "indication 0 0");
  EXPECT_EQ(child.next(), "verify 8 -25590");
  EXPECT_EQ(child.next(), "response 0 0");
}

}  // namespace
