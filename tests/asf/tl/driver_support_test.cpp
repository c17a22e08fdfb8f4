/*
** Driver support: the poll wait on real pipes and a TLI endpoint, timed
** under a SIGALRM that interrupts it every 300 ms (handler installed
** without SA_RESTART, as the drivers' are); the blocking switch against
** what fcntl reads back; the local-host test, the digit test and the
** current user against the client environment's seams.
*/
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "asf_al.h"
#include "asf_test_support.h"
#include "asf_tl.h"
#include "locale_env.h"
#include "os_seams.h"
#include "svr4.h"
#include "tl_records.h"
#include "tli.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

/* A pipe, closed at the end. */
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { EXPECT_EQ(pipe(fd), 0); }
  ~Pipe() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  int rd() const { return fd[0]; }
  int wr() const { return fd[1]; }
};

volatile sig_atomic_t alarms = 0;
void count_alarm(int) { alarms = alarms + 1; }

/* SIGALRM every period_ms while alive, through a handler that does not
** restart interrupted calls. */
class PeriodicAlarm {
 public:
  explicit PeriodicAlarm(int period_ms) {
    alarms = 0;
    previous_ = svr4_sigset(SIGALRM, count_alarm);
    struct itimerval it {};
    it.it_interval.tv_usec = period_ms * 1000;
    it.it_value.tv_usec = period_ms * 1000;
    setitimer(ITIMER_REAL, &it, nullptr);
  }
  ~PeriodicAlarm() {
    struct itimerval off {};
    setitimer(ITIMER_REAL, &off, nullptr);
    svr4_sigset(SIGALRM, previous_);
  }

 private:
  svr4_handler previous_;
};

/* Runs fn on a thread that never takes SIGALRM, joined at the end. */
class QuietThread {
 public:
  template <class F>
  explicit QuietThread(F fn) {
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    thread_ = std::thread(fn);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
  ~QuietThread() { thread_.join(); }

 private:
  std::thread thread_;
};

TEST(SysvSelectPoll, ZeroLimitReturnsAtOnceWithoutPolling) {
  // Not even a descriptor: nothing is polled.
  auto t = Clock::now();
  EXPECT_EQ(sysv_select_poll(-1, 0, 0, asf_poll_read), 0);
  Pipe p;
  EXPECT_EQ(sysv_select_poll(p.rd(), 0, 0, asf_poll_read), 0);
  EXPECT_LT(ms_since(t), 50);
}

TEST(SysvSelectPoll, KindsSelectTheEvents) {
  struct Case {
    const char *what;
    bool read_end; /* poll the read end (else the write end) */
    bool data; /* a byte is waiting in the pipe */
    int kind;
    int want;
  };
  const Case cases[] = {
      {"readable with data", true, true, asf_poll_read, 0},
      {"readable without data", true, false, asf_poll_read, -1},
      {"input with data", true, true, asf_poll_input, 0},
      {"input without data", true, false, asf_poll_input, -1},
      {"writable", false, false, asf_poll_write, 0},
      {"output", false, false, asf_poll_output, 0},
      {"any on the write end", false, false, asf_poll_any, 0},
      {"any on an empty read end", true, false, asf_poll_any, -1},
      {"write on a read end", true, true, asf_poll_write, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Pipe p;
    if (c.data) {
      ASSERT_EQ(write(p.wr(), "x", 1), 1);
    }
    auto t = Clock::now();
    int rc = sysv_select_poll(c.read_end ? p.rd() : p.wr(), 0, 100, c.kind);
    EXPECT_EQ(rc, c.want);
    if (rc == -1) {
      EXPECT_EQ(errno, 0) << "a timeout leaves errno 0";
      EXPECT_GE(ms_since(t), 95);
    }
  }
  Pipe p;
  for (int kind : {0, 6}) {
    EXPECT_EQ(sysv_select_poll(p.wr(), 0, 100, kind), -1);
    EXPECT_EQ(errno, EINVAL);
  }
}

TEST(SysvSelectPoll, LimitHoldsUnderRepeatedSignals) {
  struct Case {
    int seconds, milliseconds;
  };
  for (Case c : {Case {2, 0}, Case {0, 2000}, Case {2, 500}}) {
    SCOPED_TRACE(std::to_string(c.seconds) + " s, " + std::to_string(c.milliseconds) + " ms");
    Pipe p;
    PeriodicAlarm alarm(300);
    auto t = Clock::now();
    EXPECT_EQ(sysv_select_poll(p.rd(), c.seconds, c.milliseconds, asf_poll_read), -1);
    int64_t took = ms_since(t);
    EXPECT_EQ(errno, 0);
    EXPECT_GE(took, 2000);
    EXPECT_LE(took, 2200);
    EXPECT_GE(alarms, 5) << "the wait was interrupted";
  }
}

TEST(SysvSelectPoll, NegativeLimitWaitsUntilDataComesDespiteSignals) {
  struct Case {
    int seconds, milliseconds;
  };
  for (Case c : {Case {0, -1}, Case {-1, 0}}) {
    SCOPED_TRACE(std::to_string(c.seconds) + " s, " + std::to_string(c.milliseconds) + " ms");
    Pipe p;
    PeriodicAlarm alarm(300);
    auto t = Clock::now();
    int wr = p.wr();
    QuietThread writer([wr] {
      std::this_thread::sleep_for(std::chrono::milliseconds(2600));
      EXPECT_EQ(write(wr, "x", 1), 1);
    });
    EXPECT_EQ(sysv_select_poll(p.rd(), c.seconds, c.milliseconds, asf_poll_read), 0);
    EXPECT_GE(ms_since(t), 2500);
    EXPECT_GE(alarms, 5);
  }
}

int failing_clock(int64_t *) { return -1; }

TEST(SysvSelectPoll, ClockFailureEndsTheWait) {
  const asf_tl_clock_seam broken = {failing_clock};
  asf_tl_clock = &broken;
  Pipe p;
  auto t = Clock::now();
  EXPECT_EQ(sysv_select_poll(p.rd(), 2, 0, asf_poll_read), -1);
  asf_tl_clock = &asf_tl_system_clock;
  EXPECT_LT(ms_since(t), 500);
}

TEST(SysvSelectPoll, FinishedTliConnectCountsAsReadyForAnInputWait) {
  // A listener that accepts nothing and sends nothing: only the finished
  // connect can end the driver's wait for input.
  sockaddr_in sa {};
  int lsn = asf_test::loopback_listener(4, &sa);
  ASSERT_GE(lsn, 0);

  int fd = t_open("/dev/tcp", O_RDWR, nullptr);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(t_bind(fd, nullptr, nullptr), 0);
  ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0);
  t_call call {};
  call.addr.buf = reinterpret_cast<char *>(&sa);
  call.addr.len = call.addr.maxlen = sizeof sa;
  ASSERT_EQ(t_connect(fd, &call, nullptr), -1);
  ASSERT_EQ(t_errno, TNODATA);

  auto t = Clock::now();
  EXPECT_EQ(sysv_select_poll(fd, 2, 0, asf_poll_read), 0);
  EXPECT_LT(ms_since(t), 1000);
  EXPECT_EQ(t_look(fd), T_CONNECT);
  EXPECT_EQ(t_close(fd), 0);
  close(lsn);
}

TEST(BlockingSwitch, RestoresTheFlagsExactly) {
  const int initial[] = {0, O_APPEND, O_NONBLOCK, O_APPEND | O_NONBLOCK};
  for (int extra : initial) {
    SCOPED_TRACE(extra);
    Pipe p;
    ASSERT_EQ(fcntl(p.wr(), F_SETFL, fcntl(p.wr(), F_GETFL) | extra), 0);
    const int before = fcntl(p.wr(), F_GETFL);
    drvblock drv {};
    drv.flags = 1 | 256;
    asfsvcctl ctl {};

    ASSERT_EQ(do_non_blocking(&drv, p.wr(), &ctl), 0);
    EXPECT_NE(fcntl(p.wr(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(drv.flags, 1u | 256u | DRV_NONBLOCKING);

    ASSERT_EQ(do_blocking(&drv, p.wr(), &ctl), 0);
    EXPECT_EQ(fcntl(p.wr(), F_GETFL), before);
    EXPECT_EQ(fcntl(p.wr(), F_GETFL) & O_SYNC, 0);
    EXPECT_EQ(drv.flags, 1u | 256u) << "only the non-blocking flag goes";

    // A second switch back does not flip the flag on again.
    ASSERT_EQ(do_blocking(&drv, p.wr(), &ctl), 0);
    EXPECT_EQ(drv.flags & DRV_NONBLOCKING, 0u);
    EXPECT_EQ(ctl.asfcode, 0);
  }
}

TEST(BlockingSwitch, FcntlFailureIsReported) {
  int fd;
  {
    Pipe p;
    fd = p.rd();
  }  // closed: fcntl fails with EBADF
  using Switch = int (*)(drvblock *, int, asfsvcctl *);
  for (Switch sw : {Switch {do_non_blocking}, Switch {do_blocking}}) {
    drvblock drv {};
    asfsvcctl ctl {};
    EXPECT_EQ(sw(&drv, fd, &ctl), -1);
    EXPECT_EQ(ctl.asfcode, ASF_ERR_SYSCALL);
    EXPECT_EQ(ctl.oserr, EBADF);
    EXPECT_EQ(drv.flags, 0u);
  }
}

int uname_calls = 0;
bool uname_fails = false;
int node_uname(struct utsname *u) {
  ++uname_calls;
  if (uname_fails) {
    errno = EFAULT;
    return -1;
  }
  std::memset(u, 0, sizeof *u);
  std::strcpy(u->nodename, "dbnode");
  return 0;
}

/* The machine is "dbnode" while alive. */
class NodeName {
 public:
  NodeName() : previous_(os_host) {
    seam_ = *os_host;
    seam_.uname = node_uname;
    os_host = &seam_;
    uname_calls = 0;
    uname_fails = false;
  }
  ~NodeName() { os_host = previous_; }

 private:
  os_host_seam seam_;
  const os_host_seam *previous_;
};

TEST(IsLocalHost, HostFieldAgainstTheNodeName) {
  NodeName node;
  const std::string long_local = "&" + std::string(399, 'h');
  struct Case {
    const char *address;
    int want;
    int asfcode;
    bool reads_node;
  };
  const Case cases[] = {
      {nullptr, -1, ASF_ERR_BADADDR, false},
      {"", -1, ASF_ERR_BADADDR, false},
      {"|svc|ipcpip", -1, ASF_ERR_BADADDR, false},
      {"&anything|svc|ipcpip", 0, 0, false},
      {"dbnode|svc|ipcpip", 0, 0, true},
      {"dbnode", 0, 0, true},
      {"dbnodeX|svc|ipcpip", -1, ASF_ERR_BADADDR, true},
      {"dbnod|svc|ipcpip", -1, ASF_ERR_BADADDR, true},
      {"DBNODE|svc|ipcpip", -1, ASF_ERR_BADADDR, true},
      {long_local.c_str(), -1, ASF_ERR_BADADDR, false},  // never cut to 399
      {long_local.c_str() + 1, -1, ASF_ERR_BADADDR, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address != nullptr ? std::string(c.address).substr(0, 40) : "null");
    asfsvcctl ctl {};
    uname_calls = 0;
    EXPECT_EQ(islocalhost(c.address, &ctl), c.want);
    EXPECT_EQ(ctl.asfcode, c.asfcode);
    EXPECT_EQ(ctl.oserr, 0);
    EXPECT_EQ(uname_calls > 0, c.reads_node);
  }
  // An address of exactly 399 characters is taken whole.
  const std::string limit = "&" + std::string(398, 'h');
  asfsvcctl ctl {};
  EXPECT_EQ(islocalhost(limit.c_str(), &ctl), 0);
}

TEST(IsLocalHost, UnreadableNodeName) {
  NodeName node;
  uname_fails = true;
  asfsvcctl ctl {};
  EXPECT_EQ(islocalhost("dbnode|svc|ipcpip", &ctl), -1);
  EXPECT_EQ(ctl.asfcode, ASF_ERR_MEMORY);
}

TEST(IsStrDigit, EveryByteADigit) {
  struct Case {
    const char *text;
    int want;
  };
  const Case cases[] = {
      {"", 1},      {"0", 1},    {"0123456789", 1}, {"1526", 1},  {"15a", 0},
      {" 1526", 0}, {"-1", 0},   {"+1", 0},         {"1526 ", 0}, {"\xb2", 0},
      {"1\xb9", 0}, {"\xff", 0}, {"sqlexec", 0},    {nullptr, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "null");
    EXPECT_EQ(isstrdigit(c.text), c.want);
  }
}

/* An at-sign search and what it must give; err_any: any non-zero error. */
struct ScanCase {
  const char *text;
  int offset;
  int err;
};
constexpr int err_any = INT_MIN;

/* Runs the cases in a child whose client (and database) locale is locale
** (the process's own when null), initialised afresh. Returns one line per
** case that went wrong. */
std::string scan_in_locale(const char *locale, const std::vector<ScanCase> &cases) {
  return oslib_test::in_child([&] {
    if (locale != nullptr) {
      setenv("CLIENT_LOCALE", locale, 1);
      setenv("DB_LOCALE", locale, 1);
    }
    oslib_test::forget_locale_initialisation();
    std::string report;
    for (const ScanCase &c : cases) {
      int err = 12345;
      int offset = scan_for_at(c.text, &err);
      bool err_ok = c.err == err_any ? err != 0 : err == c.err;
      if (offset != c.offset || !err_ok)
        report += std::string(c.text != nullptr ? c.text : "(null)") + ": " +
                  std::to_string(offset) + " err " + std::to_string(err) + "\n";
    }
    return report;
  });
}

/* Texts that every client locale here reads alike. */
const std::vector<ScanCase> common_scan_cases = {
    {"db@srv", 2, 0},        {"@srv", 0, 0},    {"stores@ol_srv@x", 6, 0},
    {"d\xc3\xa9@srv", 3, 0}, {"dbname", 0, -1}, {"", 0, -1},
};

TEST(ScanForAt, SingleByteClientLocale) {
  std::vector<ScanCase> cases = common_scan_cases;
  // Every byte is a character: the at sign after a lead byte is found.
  cases.push_back({"\x81@srv", 1, 0});
  cases.push_back({nullptr, 0, -1});
  EXPECT_EQ(scan_in_locale("en_us.8859-1", cases), "");
}

TEST(ScanForAt, MultibyteClientLocales) {
  std::vector<ScanCase> utf8 = common_scan_cases;
  utf8.push_back({"\xe2\x82\xac@srv", 3, 0});
  EXPECT_EQ(scan_in_locale("en_us.utf8", utf8), "");
  // In Shift-JIS 0x40 is also the second byte of a character: only the
  // multibyte search skips it and finds the real at sign.
  std::vector<ScanCase> sjis = common_scan_cases;
  sjis.pop_back(); /* the UTF-8 text is no Shift-JIS */
  sjis.erase(sjis.begin() + 3);
  sjis.push_back({"db\x81\x40x@srv", 5, 0});
  sjis.push_back({"\x81\x40", 0, -1});
  sjis.push_back({"", 0, -1});
  EXPECT_EQ(scan_in_locale("ja_jp.sjis", sjis), "");
}

TEST(ScanForAt, LocaleThatCannotBeInitialised) {
  EXPECT_EQ(scan_in_locale("xx_yy.nosuchcodeset", {{"db@srv", 0, err_any}}), "");
}

struct passwd *no_user(uid_t) {
  return nullptr;
}

passwd long_entry;
struct passwd *long_user(uid_t) {
  static std::string name(ASF_USERNAME_SIZE, 'u');
  long_entry = {};
  long_entry.pw_name = name.data();
  return &long_entry;
}

TEST(GetCurUser, LoginNameOfTheRealUser) {
  char buf[ASF_USERNAME_SIZE];
  std::memset(buf, 'x', sizeof buf);
  ASSERT_EQ(getCurUser(buf), 0);
  const passwd *pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_STREQ(buf, pw->pw_name);

  for (auto lookup : {no_user, long_user}) {
    os_users_seam seam = *os_users;
    const os_users_seam *previous = os_users;
    seam.getpwuid = lookup;
    os_users = &seam;
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(getCurUser(buf), -1);
    EXPECT_STREQ(buf, "");
    os_users = previous;
  }
}

}  // namespace
