/*
** The pipe driver through the transport layer against real back-ends:
** the C++ test back-end (pipe_backend, the driver's back-end side), small
** shell scripts and programs that end at once. Descriptors are counted
** through /proc/self/fd, children and zombies through /proc; the
** interrupt is recorded through the driver's signal seam. SIGPIPE is
** ignored (the driver relies on it, as the monitor does).
*/
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_pipe.h"
#include "gen_strings.h"
#include "os_wrappers.h"
#include "pipe_driver.h"
#include "temp_dir.h"
#include "tl_records.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string node_name() {
  char node[ASF_NODENAME_SIZE] = {};
  rhostname(node, sizeof node);
  return node;
}

int fd_count() {
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  int n = 0;
  while (readdir(d) != nullptr)
    ++n;
  closedir(d);
  return n;
}

/* Children of this process, and how many of them are zombies. */
struct Children {
  int all = 0;
  int zombies = 0;
};
Children children() {
  Children c;
  DIR *d = opendir("/proc");
  if (d == nullptr) return c;
  const std::string me = std::to_string(getpid());
  while (const dirent *e = readdir(d)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
    std::string stat;
    std::getline(in, stat);
    size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close_paren + 1, " %c %d", &state, &ppid) != 2) continue;
    if (std::to_string(ppid) != me) continue;
    ++c.all;
    if (state == 'Z') ++c.zombies;
  }
  closedir(d);
  return c;
}

/* Waits up to 5 s for pred. */
template <typename Pred>
bool eventually(Pred pred) {
  auto end = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

std::string hex(std::string_view s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

/* The field name=... of a report line (up to the next blank or newline). */
std::string field(const std::string &line, const std::string &name) {
  size_t at = line.find(" " + name + "=");
  if (at == std::string::npos) return "<absent>";
  at += name.size() + 2;
  size_t end = line.find_first_of(" \n", at);
  return line.substr(at, end - at);
}

/* A 6-byte binary session header of a connect with body bytes behind it. */
std::string binary_packet(const std::string &body) {
  const size_t len = body.size() + 6;
  std::string h = {static_cast<char>(len >> 8), static_cast<char>(len & 255), 1, 60, 0, 0};
  return h + body;
}

/* The text form: "sq", the header in 8 characters, the body. */
std::string text_packet(const std::string &body) {
  const std::string raw = binary_packet("").substr(0, 6);
  char bytes[6];
  std::memcpy(bytes, raw.data(), 6);
  const size_t len = body.size() + 6;
  bytes[0] = static_cast<char>(len >> 8);
  bytes[1] = static_cast<char>(len & 255);
  char text[8];
  conbinto6(bytes, text, 6);
  return "sq" + std::string(text, 8) + body;
}

class SignalRecorder {
 public:
  explicit SignalRecorder(bool forward) : previous_(pipe_signals) {
    calls() = 0;
    forward_() = forward;
    pipe_signals = &table_;
  }
  ~SignalRecorder() { pipe_signals = previous_; }
  SignalRecorder(const SignalRecorder &) = delete;
  SignalRecorder &operator=(const SignalRecorder &) = delete;
  static int &calls() {
    static int n = 0;
    return n;
  }

 private:
  static bool &forward_() {
    static bool f = false;
    return f;
  }
  static int record(int pidfd, int pid, int sig) {
    ++calls();
    return forward_() ? pipe_system_signals.signal_backend(pidfd, pid, sig) : 0;
  }
  static constexpr pipe_signal_seam table_ = {record};
  const pipe_signal_seam *previous_;
};

/* The init request words that ask for the reaper (flags 16 | 4, word 6). */
void install_reaper() {
  uintptr_t words[8] = {16 | 4, 0, 0, 0, 0, 1, 0, 0};
  asfsvcctl ctl {};
  ASSERT_EQ(initpip(&ctl, words, tl_drv_ipcpip, "ipcpip"), 0);
  ASSERT_EQ(asfsigstate, pipe_sig_reaper);
}

class PipeDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    ctl_.flags = 1;
    ctl_.timeout = -1;
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, status_);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
  }
  void TearDown() override {
    if (connected_) tlDiscon(&ctl_, 0);
    alCSfree(assoc_);
    // The back-ends end before their scripts' directory goes.
    EXPECT_TRUE(eventually([] { return pipe_backends_pending() == 0; }));
    signal(SIGCHLD, SIG_DFL);
    asfsigstate = pipe_sig_none;
  }

  /* Connects to program through the layer (host: this node unless given). */
  int connect(const std::string &program, std::string host = "") {
    text_ = (host.empty() ? node_name() : host) + "|" + program + "|ipcpip";
    addr_ = tlreqaddr {1, text_.data()};
    tlconnreq parms {};
    parms.addr = &addr_;
    parms.servername = server_.data();
    ctl_.asfcode = 0;
    ctl_.errstr[0] = '\0';
    int rc = tlConnect(&ctl_, &parms);
    connected_ = rc == 0;
    if (rc != 0) {
      // The failed connect's transport block goes; its outcome stays.
      const asfsvcctl outcome = ctl_;
      tlDiscon(&ctl_, 0);
      ctl_ = outcome;
    }
    return rc;
  }
  void disconnect() {
    if (connected_) tlDiscon(&ctl_, 0);
    connected_ = false;
  }
  /* An echo script in the test's directory: cat without its arguments. */
  std::string echo_script() {
    std::string path = dir_.write("echo.sh", "#!/bin/sh\nexec cat\n");
    chmod(path.c_str(), 0755);
    return path;
  }
  pipectl *pc() { return static_cast<pipectl *>(static_cast<drvblock *>(assoc_->tldrv)->priv); }

  int send(const std::string &data) {
    rscbufctl *b = nullptr;
    if (bufGet(assoc_, 9, &b) != 0) return -2;
    std::memcpy(b->p, data.data(), data.size());
    b->size = static_cast<int32_t>(data.size());
    return tlSend(&ctl_, b);
  }
  /* One receive: its result, the data appended to *got. */
  int receive(std::string *got) {
    rscbufctl *r = nullptr;
    int rc = tlRecv(&ctl_, &r);
    if (rc == 0) {
      got->append(r->p, static_cast<size_t>(r->size));
      bufReg(assoc_, 10, r);
    }
    return rc;
  }
  /* Receives until want bytes or a newline came; what came. */
  std::string receive_until(size_t want = 0) {
    std::string got;
    while (want != 0 ? got.size() < want : got.find('\n') == std::string::npos) {
      if (receive(&got) != 0) break;
    }
    return got;
  }

  char status_[4] = {};
  asfsvcctl ctl_ {};
  Assocctl *assoc_ = nullptr;
  std::string text_;
  std::string server_ = "demo_srv";
  tlreqaddr addr_ {};
  bool connected_ = false;
  dvz_test::TempDir dir_;
};

TEST_F(PipeDriver, BackendGetsExactArgvPipesAndNoOtherDescriptorAndEchoes) {
  const int start_fds = fd_count();
  // A descriptor without close-on-exec, which the child must not keep.
  int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 3);
  ASSERT_EQ(connect(PIPE_BACKEND), 0) << ctl_.asfcode;
  close(stray);
  ASSERT_EQ(send(binary_packet("connect-body")), 0) << ctl_.asfcode;
  std::string hello = receive_until();
  EXPECT_EQ(field(hello, "argc"), "3") << hello;
  const std::string program = PIPE_BACKEND;
  EXPECT_EQ(field(hello, "argv"),
            program.substr(program.rfind('/') + 1) + "|demo_srv|" + node_name());
  EXPECT_EQ(field(hello, "fd0"), "fifo");
  EXPECT_EQ(field(hello, "fd1"), "fifo");
  EXPECT_EQ(field(hello, "high"), "");
  EXPECT_EQ(field(hello, "peer"), node_name() + "||ipcpip");
  EXPECT_EQ(field(hello, "pkt"), hex(binary_packet("connect-body")));

  // A 10 KiB echo in 1000-byte messages.
  std::string data;
  for (int i = 0; i < 10 * 1024; ++i)
    data += static_cast<char>('a' + i % 26);
  std::string echoed;
  for (size_t at = 0; at < data.size(); at += 1000) {
    std::string piece = data.substr(at, 1000);
    ASSERT_EQ(send(piece), 0) << ctl_.asfcode;
    std::string got = receive_until(piece.size());
    echoed += got;
  }
  EXPECT_EQ(echoed, data);

  tlattr attr {12, nullptr};
  int32_t fds[2] = {-1, -1};
  attr.value = fds;
  EXPECT_EQ(tlAttrib(&ctl_, &attr), 0);
  EXPECT_EQ(fds[0], pc()->rfd);
  EXPECT_EQ(fds[1], pc()->wfd);

  disconnect();
  EXPECT_EQ(fd_count(), start_fds);
  EXPECT_TRUE(eventually([] { return pipe_backends_pending() == 0; }));
  EXPECT_EQ(children().all, 0);
}

TEST_F(PipeDriver, ConnectPacketIsReadWholeWhenItComesInTwoWrites) {
  struct Case {
    const char *name;
    std::string packet;
    size_t split;
  };
  const std::string body(300, 'r');
  for (const Case &c : {Case {"binary", binary_packet(body), 3},
                        Case {"binary, header whole", binary_packet(body), 100},
                        Case {"text form", text_packet(body), 5}}) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(connect(PIPE_BACKEND), 0) << ctl_.asfcode;
    ASSERT_EQ(write(pc()->wfd, c.packet.data(), c.split), static_cast<ssize_t>(c.split));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(send(c.packet.substr(c.split)), 0);
    std::string hello = receive_until();
    EXPECT_EQ(field(hello, "pkt"), hex(c.packet));
    disconnect();
  }
}

TEST_F(PipeDriver, ConnectFailuresByAddressAndProgram) {
  dvz_test::TempDir dir;
  const std::string plain = dir.write("not_executable", "#!/bin/sh\nexit 0\n");
  const Children before = children();
  ASSERT_EQ(connect(plain), -1);
  EXPECT_EQ(ctl_.asfcode, PIPE_ERR_NOTEXEC);
  EXPECT_EQ(ctl_.oserr, EACCES);
  EXPECT_STREQ(ctl_.errstr, plain.c_str());
  EXPECT_EQ(children().all, before.all);

  // The longest path an address carries comes back whole.
  std::string deep = dir.path();
  while (deep.size() < 330)
    deep += "/dddddddddddddddddddddddddddddd";
  deep += "/program";
  ASSERT_EQ(connect(deep), -1);
  EXPECT_EQ(ctl_.asfcode, PIPE_ERR_NOTEXEC);
  EXPECT_EQ(ctl_.oserr, ENOENT);
  EXPECT_EQ(std::string(ctl_.errstr), deep);

  struct Case {
    std::string address_host;
    std::string program;
  };
  for (const Case &c : {Case {"elsewhere.invalid", "/bin/true"}, Case {"", ""}}) {
    SCOPED_TRACE(c.address_host + "|" + c.program);
    ASSERT_EQ(connect(c.program, c.address_host), -1);
    EXPECT_EQ(ctl_.asfcode, ASF_ERR_BADADDR);
  }
  EXPECT_EQ(children().all, before.all);
}

TEST_F(PipeDriver, ProgramThatCannotBeExecutedConnectsThenReportsAndEnds) {
  dvz_test::TempDir dir;
  const std::string script = dir.write("no_interpreter", "#!/nonexistent/interpreter\n");
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  const std::string err_path = dir.file("stderr");
  int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int saved = dup(2);
  dup2(err, 2);
  int rc = connect(script);
  dup2(saved, 2);
  close(saved);
  close(err);
  ASSERT_EQ(rc, 0) << ctl_.asfcode;
  std::string got;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, PIPE_ERR_READ);
  EXPECT_EQ(dvz_test::read_file(err_path), "_pipe connect: Error execing '" + script + "'\n");
}

TEST_F(PipeDriver, EndedBackendGivesReadAndWriteFailuresAndBoundedPolling) {
  ASSERT_EQ(connect("/bin/true"), 0) << ctl_.asfcode;
  std::string got;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, PIPE_ERR_READ);
  // The end of its output may come before its input is released: once it
  // is reaped, both are.
  ASSERT_TRUE(eventually([] { return pipe_backends_pending() == 0; }));
  EXPECT_EQ(send("x"), -1);
  EXPECT_EQ(ctl_.asfcode, PIPE_ERR_WRITE);
  EXPECT_EQ(ctl_.oserr, EPIPE);
  disconnect();

  ASSERT_EQ(connect("/bin/true"), 0) << ctl_.asfcode;
  struct pollfd p = {pc()->rfd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  ctl_.timeout = 0;
  for (int i = 1; i <= 512; ++i) {
    ASSERT_EQ(receive(&got), -1) << i;
    ASSERT_EQ(ctl_.asfcode, TLI_STATUS_AGAIN) << i;
  }
  auto t0 = Clock::now();
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, PIPE_ERR_READ);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  // The receive buffer went back to its slot every time.
  rscbufctl *r = nullptr;
  ASSERT_EQ(bufGet(assoc_, 10, &r), 0);
  bufReg(assoc_, 10, r);
}

TEST_F(PipeDriver, PolledReceiveOnAQuietBackendGivesStatus6AndKeepsTheBuffer) {
  ASSERT_EQ(connect(PIPE_BACKEND), 0) << ctl_.asfcode;
  ASSERT_EQ(send(binary_packet("x")), 0);
  receive_until();
  ctl_.timeout = 0;
  std::string got;
  for (int i = 0; i < 600; ++i) {
    ASSERT_EQ(receive(&got), -1);
    ASSERT_EQ(ctl_.asfcode, TLI_STATUS_AGAIN);
  }
  ctl_.timeout = 50;
  EXPECT_EQ(receive(&got), -1);
  EXPECT_EQ(ctl_.asfcode, TLI_STATUS_AGAIN);
  // Back to blocking: the echo still works.
  ctl_.timeout = -1;
  ASSERT_EQ(send("ping"), 0);
  EXPECT_EQ(receive_until(4), "ping");
  EXPECT_EQ(fcntl(pc()->rfd, F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(PipeDriver, InterruptReachesTheBackendAsSigtermAndNothingOnceReaped) {
  install_reaper();
  {
    SignalRecorder recorder(true);
    ASSERT_EQ(connect(PIPE_BACKEND), 0) << ctl_.asfcode;
    ASSERT_EQ(send(binary_packet("x")), 0);
    receive_until();
    rscbufctl *x = nullptr;
    ASSERT_EQ(bufGet(assoc_, 5, &x), 0);
    EXPECT_EQ(tlSndexpt(&ctl_, x), 0);
    EXPECT_EQ(SignalRecorder::calls(), 1);
    ASSERT_EQ(send("ping"), 0);
    EXPECT_EQ(receive_until(std::strlen("INTERRUPT\nping")), "INTERRUPT\nping");
    ASSERT_EQ(send("exit"), 0);
    EXPECT_TRUE(eventually([] { return pipe_backends_pending() == 0; }));
    x = nullptr;
    ASSERT_EQ(bufGet(assoc_, 5, &x), 0);
    EXPECT_EQ(tlSndexpt(&ctl_, x), 0);
    EXPECT_EQ(SignalRecorder::calls(), 1);
  }
  disconnect();
  EXPECT_EQ(children().zombies, 0);
}

TEST_F(PipeDriver, ReaperLeavesOtherChildrenAloneAndNoZombieStays) {
  install_reaper();
  pid_t own = fork();
  if (own == 0) {
    usleep(300 * 1000);
    _exit(42);
  }
  ASSERT_GT(own, 0);
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(connect("/bin/true"), 0) << ctl_.asfcode;
    std::string got;
    receive(&got);
    disconnect();
  }
  int status = 0;
  pid_t waited;
  // The reaper's handler does not restart calls: a wait may be interrupted.
  do {
    waited = waitpid(own, &status, 0);
  } while (waited == -1 && errno == EINTR);
  ASSERT_EQ(waited, own);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  EXPECT_TRUE(eventually([] { return children().all == 0; }));

  // With SIGCHLD ignored the system reaps; the driver's bookkeeping follows.
  ASSERT_EQ(ASF_SigSwitch(1), 0);
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(connect("/bin/true"), 0) << ctl_.asfcode;
    std::string got;
    receive(&got);
    disconnect();
  }
  EXPECT_TRUE(eventually([] { return children().all == 0; }));
  EXPECT_EQ(pipe_backends_pending(), 0);
}

TEST_F(PipeDriver, EachAllocationFailureLeavesNothingBehind) {
  const std::string echo = echo_script();
  const int start_fds = fd_count();
  for (int fail_at = 1;; ++fail_at) {
    SCOPED_TRACE(fail_at);
    int rc;
    int outstanding;
    {
      asf_test::CountingMemory memory(fail_at);
      rc = connect(echo);
      if (rc == 0) {
        EXPECT_EQ(send("echo"), 0);
        EXPECT_EQ(receive_until(4), "echo");
      } else {
        EXPECT_EQ(ctl_.asfcode, ASF_ERR_MEMORY);
      }
      disconnect();
      outstanding = memory.outstanding();
    }
    EXPECT_EQ(outstanding, 0);
    EXPECT_EQ(fd_count(), start_fds);
    if (rc == 0) break;
  }
  EXPECT_TRUE(eventually([] { return pipe_backends_pending() == 0; }));
}

TEST_F(PipeDriver, UnsupportedSlotsAndAnEmptyExpeditedSlot) {
  ASSERT_EQ(connect(echo_script()), 0) << ctl_.asfcode;
  auto *drv = static_cast<drvblock *>(assoc_->tldrv);
  EXPECT_EQ(tlWait(&ctl_, nullptr), -1);
  EXPECT_EQ(ctl_.asfcode, PIPE_ERR_UNSUPPORTED);
  // A restore without an image fails cleanly.
  EXPECT_EQ(drv->ops.rest(drv, nullptr, &ctl_), -1);
  EXPECT_EQ(ctl_.asfcode, -1);
  EXPECT_EQ(drv->ops.save, savepip);
  rscbufctl *x = nullptr;
  ASSERT_EQ(tlRcvexpt(&ctl_, &x), 0);
  rscbufctl *none = nullptr;
  EXPECT_EQ(tlRcvexpt(&ctl_, &none), -1);
  EXPECT_EQ(ctl_.asfcode, TLI_ERR_OUTSTATE);
  bufReg(assoc_, 6, x);
}

TEST(PipeAddress, ConversionSplitsHostProgramAndBaseName) {
  struct Case {
    const char *text;
    const char *path; /* null: refused with -25591 */
    const char *base;
    const char *host;
  };
  const Case cases[] = {
      {"hp|/inst/lib/sqlexec|ipcpip", "/inst/lib/sqlexec", "sqlexec", "hp"},
      {"hp|sqlexec|ipcpip", "sqlexec", "sqlexec", "hp"},
      {"hp|/opt/a|b/prog|ipcpip", "/opt/a|b/prog", "prog", "hp"},
      {"||ipcpip&hg|sg|tlitcp&se&rd|/inst/bin/gw|ipcpip", nullptr, nullptr, nullptr},
      {"hp||ipcpip", nullptr, nullptr, nullptr},
      {"|/bin/true|ipcpip", nullptr, nullptr, nullptr},
      {"hp|/bin/true", nullptr, nullptr, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    asfsvcctl ctl {};
    tladdr addr {};
    int rc = pipecons2tladdr(c.text, &addr, &ctl, nullptr);
    if (c.path == nullptr) {
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(ctl.asfcode, ASF_ERR_BADADDR);
      continue;
    }
    ASSERT_EQ(rc, 0);
    const pipeaddr *a = pipe_last_address();
    EXPECT_STREQ(a->path, c.path);
    EXPECT_STREQ(a->argv[0], c.base);
    EXPECT_STREQ(a->argv[1], "");
    EXPECT_STREQ(a->argv[2], c.host);
    EXPECT_EQ(a->argv[3], nullptr);
  }
}

void record_sigchld(int) {}

TEST(PipeSigSwitch, DoesNothingBeforeInitialisationAndInstallsOnce) {
  struct sigaction now {};
  ASSERT_EQ(asfsigstate, pipe_sig_none);
  EXPECT_EQ(ASF_SigSwitch(1), 0);
  sigaction(SIGCHLD, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  EXPECT_EQ(asfsigstate, pipe_sig_none);

  install_reaper();
  sigaction(SIGCHLD, nullptr, &now);
  EXPECT_EQ(now.sa_handler, p_waitforchild);

  EXPECT_EQ(ASF_SigSwitch(1), 0);
  sigaction(SIGCHLD, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  EXPECT_NE(now.sa_flags & SA_NOCLDWAIT, 0);
  // A second (1) installs nothing: a disposition set in between stays.
  signal(SIGCHLD, record_sigchld);
  EXPECT_EQ(ASF_SigSwitch(1), 0);
  sigaction(SIGCHLD, nullptr, &now);
  EXPECT_EQ(now.sa_handler, record_sigchld);

  EXPECT_EQ(ASF_SigSwitch(2), 0);
  sigaction(SIGCHLD, nullptr, &now);
  EXPECT_EQ(now.sa_handler, p_waitforchild);
  EXPECT_EQ(ASF_SigSwitch(7), 0);
  EXPECT_EQ(asfsigstate, pipe_sig_reaper);
  signal(SIGCHLD, SIG_DFL);
  asfsigstate = pipe_sig_none;
}

/* Runs the test back-end with argv and a connect packet written to its
** standard input (closed afterwards); its first reply line. */
std::string run_backend(const std::vector<std::string> &args, const std::string &input) {
  int in[2];
  int out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return "";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    std::vector<char *> argv;
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(PIPE_BACKEND, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (!input.empty()) (void)!write(in[1], input.data(), input.size());
  close(in[1]);
  std::string got;
  char chunk[4096];
  ssize_t n;
  while (got.find('\n') == std::string::npos && (n = read(out[0], chunk, sizeof chunk)) > 0)
    got.append(chunk, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return got;
}

TEST(PipeBackendSide, ConnectPacketFromArgumentsOrFromStandardInput) {
  signal(SIGPIPE, SIG_IGN);
  std::string line = run_backend({"pipe_backend", "sqexec", "-p", "demo", "x y"}, "");
  EXPECT_EQ(field(line, "pkt"), hex("sqexec -p demo x y")) << line;
  EXPECT_EQ(field(line, "argc"), "5");

  line = run_backend({"pipe_backend", "srv", "host"}, binary_packet("abc"));
  EXPECT_EQ(field(line, "pkt"), hex(binary_packet("abc"))) << line;

  // Nothing on standard input: no connect packet.
  line = run_backend({"pipe_backend", "srv", "host"}, "");
  EXPECT_EQ(line.rfind("CONFAIL -25591 read", 0), 0u) << line;
}

}  // namespace
