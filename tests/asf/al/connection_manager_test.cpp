/*
** The connection manager's connect walk on a fake clock: the budget's
** shares and try times, the retry and failover rules, the deadline each
** attempt receives, the abort of every failed attempt, rejects, omitted
** entries and the password rule. Attempts are scripted through
** cm_attempt_override; the clock and pauses through os_clock.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_memory.h"
#include "cm_records.h"
#include "os_seams.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

/* ---- Fake clock: whole seconds; a pause advances it. ---- */
time_t fake_now = 1000;
bool clock_broken = false;
time_t fake_time() { return clock_broken ? static_cast<time_t>(-1) : fake_now; }
unsigned fake_sleep(unsigned s) {
  fake_now += s;
  return 0;
}
const os_clock_seam fake_clock = {fake_time, fake_sleep};

/* ---- Scripted attempts. ---- */
struct Step {
  int status; /* 0 success, or the attempt's asfcode */
  int oserr;
  int takes; /* seconds the attempt lasts */
};
struct Attempt {
  std::string server;
  time_t at; /* seconds since the walk's start */
  int timeout; /* the control record's timeout during the attempt */
};
std::vector<Step> script;
size_t next_step = 0;
std::vector<Attempt> attempts;
int discons = 0;
time_t walk_start = 0;

int scripted_connect(asfsvcctl *ctl, NSEntry *entry, asfsvcreq *, asfprocinfo *, asfprocinfo *,
                     Assocctl *) {
  attempts.push_back({entry->servername, fake_now - walk_start, ctl->timeout});
  Step s = next_step < script.size() ? script[next_step++] : script.back();
  fake_now += s.takes;
  ctl->asfcode = s.status;
  ctl->oserr = s.oserr;
  return s.status == 0 ? 0 : -1;
}
int scripted_discon(asfsvcctl *, int, asfsvcreq *) {
  ++discons;
  return 0;
}
const cm_attempt_seam scripted = {scripted_connect, scripted_discon};

class ConnectWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    os_clock = &fake_clock;
    cm_attempt_override = &scripted;
    clock_broken = false;
    fake_now = walk_start = 1000;
    script.clear();
    attempts.clear();
    next_step = 0;
    discons = 0;
    asfsvcreq init {};
    init.word[1] = ASF_INIT_FIRST;
    ASSERT_EQ(defineASFCtl(&init, &ctl_), 0);
    assoc_ = alCSalloc(&ctl_, asf_kind_requester, nullptr);
    ASSERT_NE(assoc_, nullptr);
    ctl_.ascid = assoc_;
    ctl_.flags = asf_flag_sync;
    std::strcpy(parms_.progname, "sqlexec");
    req_.word[0] = asf_svc_connect;
    req_.word[7] = reinterpret_cast<uintptr_t>(&parms_);
  }
  void TearDown() override {
    asfsvcctl c {};
    c.ascid = assoc_;
    cmDiscon(&c, 10, nullptr);
    alCSfree(assoc_);
    deleteASFCtl(&c);
    cm_attempt_override = nullptr;
    os_clock = &os_system_clock;
  }
  /* A registry of the servers in names; omit[i] its omit word. */
  static NSReg *registry(const std::vector<std::string> &names, const std::vector<int> &omit = {}) {
    auto *reg = static_cast<NSReg *>(asf_alloc(asf_pool_assoc, sizeof(NSReg)));
    reg->count = static_cast<int32_t>(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      NSEntry &e = reg->entry[i];
      std::strcpy(e.protocol, "tlitcp");
      e.servername = meStrDup(asf_pool_assoc, names[i].c_str());
      e.addrtext = meStrDup(asf_pool_assoc, ("127.0.0.1|1|" + names[i]).c_str());
      e.omit = i < omit.size() ? omit[i] : 0;
    }
    return reg;
  }
  int walk(NSReg *reg, int budget, int retries) {
    req_.word[4] = static_cast<uintptr_t>(retries);
    return cmReqSync(&ctl_, &req_, reg, walk_start, budget);
  }

  asfsvcctl ctl_ {};
  asfsvcreq req_ {};
  ascbinreq parms_ {};
  Assocctl *assoc_ = nullptr;
};

TEST(ConnectTimes, SharesTheBudgetInWholeSeconds) {
  struct Case {
    int budget, retries, entries;
    int entrytime, trytime;
  };
  const Case cases[] = {
      {80, 2, 3, 27, 14}, {10, 2, 3, 4, 2}, {10, 1, 1, 10, 10}, {10, 0, 3, 0, 0},
      {0, 2, 3, 0, 0},    {10, 2, 0, 0, 0}, {7, 3, 2, 4, 2},
  };
  os_clock = &fake_clock;
  clock_broken = false;
  fake_now = 500;
  for (const Case &c : cases) {
    time_t now = 0;
    int et = -1, tt = -1;
    EXPECT_EQ(setConTime(500, c.budget, c.retries, c.entries, &now, &et, &tt), 0);
    EXPECT_EQ(now, 500);
    EXPECT_EQ(et, c.entrytime) << c.budget << "/" << c.retries << "/" << c.entries;
    EXPECT_EQ(tt, c.trytime) << c.budget << "/" << c.retries << "/" << c.entries;
  }
  // Time already spent counts against the budget.
  fake_now = 506;
  time_t now = 0;
  int et = 0, tt = 0;
  EXPECT_EQ(setConTime(500, 10, 2, 2, &now, &et, &tt), 0);
  EXPECT_EQ(et, 2);
  EXPECT_EQ(tt, 1);
  // A clock that fails or runs backwards, and missing outputs.
  EXPECT_EQ(setConTime(501 + 10, 10, 2, 2, &now, &et, &tt), CM_ERR_CLOCK);
  clock_broken = true;
  EXPECT_EQ(setConTime(500, 10, 2, 2, &now, &et, &tt), CM_ERR_CLOCK);
  EXPECT_EQ(et, 0);
  clock_broken = false;
  EXPECT_EQ(setConTime(500, 10, 2, 2, nullptr, &et, &tt), ASF_ERR_COMMON);
  os_clock = &os_system_clock;
}

TEST(ConnectTimes, ClassifiesFailures) {
  struct Case {
    int status, oserr;
    time_t now; /* entry started at 100 with time 10, try time 4 */
    int klass;
  };
  const Case cases[] = {
      {0, 0, 100, cm_class_success},
      {-908, 0, 100, cm_class_retry},
      {-27001, 0, 105, cm_class_retry},
      {-25582, 0, 106, cm_class_next}, /* the pause would end at the share's end */
      {-25580, 0, 120, cm_class_next},
      {-27000, 0, 100, cm_class_next},
      {-25599, 0, 100, cm_class_next},
      {-25588, 0, 100, cm_class_next},
      {7, -329, 100, cm_class_next},
      {7, -387, 100, cm_class_giveup},
      {-25595, 0, 100, cm_class_giveup},
      {-14571, 0, 100, cm_class_giveup},
  };
  os_clock = &fake_clock;
  clock_broken = false;
  for (const Case &c : cases) {
    fake_now = c.now;
    asfsvcctl ctl {};
    ctl.asfcode = c.status;
    ctl.oserr = c.oserr;
    int klass = -1;
    EXPECT_EQ(chkConErr(&ctl, 100, 10, 4, &klass), 0);
    EXPECT_EQ(klass, c.klass) << c.status << " at " << c.now;
  }
  asfsvcctl ctl {};
  ctl.asfcode = -908;
  int klass = -1;
  fake_now = 99;
  EXPECT_EQ(chkConErr(&ctl, 100, 10, 4, &klass), CM_ERR_CLOCK);
  EXPECT_EQ(klass, cm_class_giveup);
  os_clock = &os_system_clock;
}

/* Timelines of instant (or slow) failures: when each attempt starts, on
** which entry, with which deadline, and when the walk ends. */
TEST_F(ConnectWalk, FollowsTheBudgetTimelines) {
  struct Case {
    const char *what;
    std::vector<std::string> entries;
    int budget, retries;
    std::vector<Step> script;
    std::vector<Attempt> expect;
    int end, status;
  };
  const Step refused {-908, 0, 0};
  const Case cases[] = {
      {"one refused entry", {"a"}, 10, 2, {refused}, {{"a", 0, 10000}, {"a", 5, 5000}}, 5, -908},
      {"retry count 1 is one attempt", {"a"}, 80, 1, {refused}, {{"a", 0, 80000}}, 0, -908},
      {"three refused entries",
       {"a", "b", "c"},
       10,
       2,
       {refused},
       {{"a", 0, 4000},
        {"a", 2, 2000},
        {"b", 2, 4000},
        {"b", 4, 2000},
        {"c", 4, 6000},
        {"c", 7, 3000}},
       7,
       -908},
      {"retry count 0 is one attempt per entry",
       {"a", "b", "c"},
       10,
       0,
       {refused},
       {{"a", 0, 10000}, {"b", 0, 10000}, {"c", 0, 10000}},
       0,
       -908},
      {"a dead first entry leaves the second its share",
       {"a", "b"},
       10,
       1,
       {{-908, 0, 5}, {0, 0, 0}},
       {{"a", 0, 5000}, {"b", 5, 5000}},
       5,
       0},
      {"no attempt once the budget is spent",
       {"a", "b", "c"},
       4,
       1,
       {{-27001, 0, 4}},
       {{"a", 0, 2000}},
       4,
       -27001},
      {"a budget of 0 gives each entry one attempt of at least a second",
       {"a", "b"},
       0,
       1,
       {refused},
       {{"a", 0, 1000}, {"b", 0, 1000}},
       0,
       -908},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fake_now = walk_start;
    script = c.script;
    next_step = 0;
    attempts.clear();
    discons = 0;
    int rc = walk(registry(c.entries), c.budget, c.retries);
    EXPECT_EQ(rc, c.status == 0 ? 0 : -1);
    EXPECT_EQ(ctl_.asfcode, c.status);
    EXPECT_EQ(fake_now - walk_start, c.end);
    ASSERT_EQ(attempts.size(), c.expect.size());
    for (size_t i = 0; i < attempts.size(); ++i) {
      EXPECT_EQ(attempts[i].server, c.expect[i].server) << i;
      EXPECT_EQ(attempts[i].at, c.expect[i].at) << i;
      EXPECT_EQ(attempts[i].timeout, c.expect[i].timeout) << i;
    }
    // Every failed attempt was aborted (the last one too: its abort is
    // harmless when the caller aborts again).
    const int failed = static_cast<int>(attempts.size()) - (c.status == 0 ? 1 : 0);
    EXPECT_EQ(discons, failed);
    EXPECT_EQ(ctl_.timeout, 0) << "the caller's timeout is given back";
    if (c.status == 0) {
      ASSERT_NE(assoc_->al->cm.svrentry, nullptr);
      EXPECT_STREQ(assoc_->al->cm.svrentry->servername, "b");
      asfsvcctl d {};
      d.ascid = assoc_;
      cmDiscon(&d, 10, nullptr);
    }
  }
}

TEST_F(ConnectWalk, RejectsEndTheWalkUnlessTheServerIsUnknown) {
  // 7 with -329 on the first entry: aborted, and the second is tried.
  script = {{7, -329, 0}, {0, 0, 0}};
  EXPECT_EQ(walk(registry({"a", "b"}), 10, 1), 0);
  ASSERT_EQ(attempts.size(), 2u);
  EXPECT_EQ(discons, 1);
  asfsvcctl d {};
  d.ascid = assoc_;
  cmDiscon(&d, 10, nullptr);

  // Any other reject ends the walk with 7 and the server's error, and is
  // left for the caller's abort.
  script = {{7, -387, 0}};
  next_step = 0;
  attempts.clear();
  discons = 0;
  EXPECT_EQ(walk(registry({"a", "b"}), 10, 1), -1);
  EXPECT_EQ(ctl_.asfcode, 7);
  EXPECT_EQ(ctl_.oserr, -387);
  EXPECT_EQ(attempts.size(), 1u);
  EXPECT_EQ(discons, 0);
}

TEST_F(ConnectWalk, OmittedEntriesAreSkippedAndTheLastGivesItsCode) {
  script = {{-27000, 0, 0}};
  EXPECT_EQ(walk(registry({"a", "b", "c"}, {0, -25558, -25559}), 10, 1), -1);
  EXPECT_EQ(ctl_.asfcode, -25559);
  ASSERT_EQ(attempts.size(), 1u);
  EXPECT_EQ(attempts[0].server, "a");
  EXPECT_STREQ(ctl_.errstr, "c");

  // A long server name becomes a message parameter of 427 bytes.
  const std::string longname(600, 's');
  script = {{-908, 0, 0}};
  attempts.clear();
  next_step = 0;
  EXPECT_EQ(walk(registry({longname}), 10, 1), -1);
  EXPECT_EQ(std::strlen(ctl_.errstr), 427u);
}

TEST_F(ConnectWalk, ClockFailureIsReported) {
  clock_broken = true;
  EXPECT_EQ(walk(registry({"a"}), 10, 1), -1);
  EXPECT_EQ(ctl_.asfcode, CM_ERR_CLOCK);
  EXPECT_TRUE(attempts.empty());
}

/* cmConReq from a sqlhosts fixture: a user without a password is refused
** before anything is tried, except for the two server-side programs. */
TEST_F(ConnectWalk, UserWithoutPasswordIsRefused) {
  dvz_test::TempDir dir;
  dvz_test::ScopedEnv hosts("DOVARIZASQLHOSTS",
                            dir.write("sqlhosts", "srv oltlitcp 127.0.0.1 9\n"));
  dvz_test::ScopedEnv server("DOVARIZASERVER", std::string("srv"));
  pfconkind kind {};
  kind.kind = asc_kind_nodb;
  pfrequest pfreq {asc_pf_conkind, &kind};
  req_.word[9] = reinterpret_cast<uintptr_t>(&pfreq);
  req_.word[2] = 7;
  req_.word[3] = reinterpret_cast<uintptr_t>("srv");
  req_.word[4] = 1;
  char user[] = "alice";
  char empty[] = "";
  struct Case {
    const char *program;
    char *password;
    int status;
  };
  const Case cases[] = {
      {"sqlexec", nullptr, LOGIN_ERR_PASSWORD},
      {"sqlexec", empty, LOGIN_ERR_PASSWORD},
      {"ruzodu", nullptr, LOGIN_ERR_PASSWORD},
      {"srvdvz", nullptr, 0},
      {"onutil", nullptr, 0},
  };
  script = {{0, 0, 0}};
  for (const Case &c : cases) {
    attempts.clear();
    std::strcpy(parms_.progname, c.program);
    parms_.userkind = 1;
    parms_.user = user;
    parms_.password = c.password;
    ctl_.timeout = -1;
    EXPECT_EQ(cmConReq(&ctl_, &req_), c.status == 0 ? 0 : -1) << c.program;
    EXPECT_EQ(ctl_.asfcode, c.status) << c.program;
    EXPECT_EQ(attempts.size(), c.status == 0 ? 1u : 0u) << c.program;
    if (c.status == 0) {
      EXPECT_EQ(ctl_.timeout, 80000) << "a negative timeout becomes 80 s";
      asfsvcctl d {};
      d.ascid = assoc_;
      cmDiscon(&d, 10, nullptr);
    }
  }
}

}  // namespace
