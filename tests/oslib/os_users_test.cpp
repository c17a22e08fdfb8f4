/*
** Users, shadow entries and groups: the records against glibc for real
** accounts, over-long platform texts cut to their fields, the shadow
** expiry and age rules on a fixed clock, and the supplementary groups
** against getent.
*/
#include <grp.h>
#include <pwd.h>
#include <shadow.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os_seams.h"
#include "os_wrappers.h"
#include "wrappers_test_support.h"

using wrappers_test::RecordingClock;
using wrappers_test::ScopedSeam;

namespace {

struct passwd_copy {
  std::string name, passwd, dir, shell;
  uid_t uid;
  gid_t gid;
};

passwd_copy copy_of(const struct passwd *p) {
  return {p->pw_name, p->pw_passwd, p->pw_dir, p->pw_shell, p->pw_uid, p->pw_gid};
}

void expect_same(const ospasswd_t &pw, const passwd_copy &g) {
  EXPECT_EQ(pw.name, g.name);
  EXPECT_EQ(pw.passwd, g.passwd);
  EXPECT_EQ(static_cast<uid_t>(pw.uid), g.uid);
  EXPECT_EQ(static_cast<gid_t>(pw.gid), g.gid);
  EXPECT_EQ(pw.dir, g.dir);
  EXPECT_EQ(pw.shell, g.shell);
}

std::vector<std::string> member_list(const osgroup_t *g) {
  std::vector<std::string> out;
  for (const char *m = g->members; *m != '\0'; m += OSGROUP_MEMBER_SIZE)
    out.emplace_back(m);
  return out;
}

TEST(OsUsers, RootRecordsMatchGlibcFieldByField) {
  ospasswd_t by_name;
  ospasswd_t by_uid;
  ASSERT_EQ(_osgetpwnam("root", &by_name), 0);
  ASSERT_EQ(_osgetpwuid(0, &by_uid), 0);
  const passwd_copy glibc_name = copy_of(getpwnam("root"));
  const passwd_copy glibc_uid = copy_of(getpwuid(0));
  expect_same(by_name, glibc_name);
  expect_same(by_uid, glibc_uid);

  osgroup_t *g = _osgetgrgid(0);
  ASSERT_NE(g, nullptr);
  const struct group *gr = getgrgid(0);
  ASSERT_NE(gr, nullptr);
  EXPECT_STREQ(g->name, gr->gr_name);
  EXPECT_STREQ(g->passwd, gr->gr_passwd);
  EXPECT_EQ(static_cast<gid_t>(g->gid), gr->gr_gid);
  std::vector<std::string> members;
  for (char *const *m = gr->gr_mem; *m != nullptr; ++m)
    members.emplace_back(*m);
  EXPECT_EQ(member_list(g), members);
  _osfreegroup(g);
}

TEST(OsUsers, UnknownUserOrGroupLeavesRecordUnchanged) {
  ospasswd_t pw;
  memset(&pw, 0x5a, sizeof pw);
  ospasswd_t before = pw;
  EXPECT_EQ(_osgetpwnam("no-such-user-h2x", &pw), -1);
  EXPECT_EQ(memcmp(&pw, &before, sizeof pw), 0);
  EXPECT_EQ(_osgetpwnam(nullptr, &pw), -1);
  EXPECT_EQ(_osgetgrgid(static_cast<gid_t>(-7)), nullptr);
}

/* Users and groups with texts longer than every field. */
struct LongUsers {
  static inline std::string long_name = std::string(40, 'n');
  static inline std::string long_passwd = std::string(600, 'p');
  static inline std::string long_home = "/" + std::string(99, 'h');
  static inline std::string long_shell = std::string(300, 's');
  static inline std::string long_member = std::string(50, 'm');
  static inline struct passwd entry;
  static inline char *members[3];
  static inline struct group group_entry;

  static struct passwd *by_name(const char *) {
    entry = {long_name.data(), long_passwd.data(), 7, 8, nullptr,
             long_home.data(), long_shell.data()};
    return &entry;
  }
  static struct passwd *by_uid(uid_t) { return by_name(nullptr); }
  static struct spwd *no_shadow(const char *) { return nullptr; }
  static struct group *by_gid(gid_t) {
    static char short_member[] = "bob";
    members[0] = long_member.data();
    members[1] = short_member;
    members[2] = nullptr;
    group_entry = {long_name.data(), long_passwd.data(), 9, members};
    return &group_entry;
  }
  static char *no_login(void) { return nullptr; }
  static constexpr os_users_seam seam = {by_name, by_uid, no_shadow, by_gid, no_login};
};

TEST(OsUsers, OverlongPlatformTextsAreCutAndTerminated) {
  ScopedSeam<os_users_seam> users(os_users, &LongUsers::seam);
  ospasswd_t pw;
  ASSERT_EQ(_osgetpwnam("x", &pw), 0);
  EXPECT_EQ(std::string(pw.name), LongUsers::long_name.substr(0, 31));
  EXPECT_EQ(std::string(pw.passwd), LongUsers::long_passwd.substr(0, 511));
  EXPECT_EQ(std::string(pw.dir), LongUsers::long_home.substr(0, 63));
  EXPECT_EQ(std::string(pw.shell), LongUsers::long_shell.substr(0, 255));
  EXPECT_EQ(pw.uid, 7);
  EXPECT_EQ(pw.gid, 8);

  /* The record-driven form looks up the name it holds. */
  ospasswd_t again;
  strcpy(again.name, "x");
  ASSERT_EQ(__osgetpwnam(&again), 0);
  EXPECT_STREQ(again.dir, pw.dir);

  osgroup_t *g = _osgetgrgid(9);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(std::string(g->name), LongUsers::long_name.substr(0, 31));
  EXPECT_EQ(member_list(g),
            (std::vector<std::string> {LongUsers::long_member.substr(0, 31), "bob"}));
  _osfreegroup(g);
}

/* Shadow entries on a clock standing at noon of day `today`. */
constexpr long today = 20000;

struct ShadowDouble {
  static inline struct spwd entry;
  static inline char name[] = "carol";
  static inline char hash[] = "$6$salt$hash";
  static struct spwd *lookup(const char *) { return &entry; }
  static constexpr os_users_seam seam = {getpwnam, getpwuid, lookup, getgrgid, getlogin};
};

struct ShadowCase {
  const char *what;
  long last_change;
  long max_age;
  long expire;
  bool accepted;
};

TEST(OsUsers, ShadowRulesOfExpiryAgeAndUnsetPassword) {
  const ShadowCase cases[] = {
      {"changed 90 days ago, max 90", today - 90, 90, -1, true},
      {"changed 91 days ago, max 90", today - 91, 90, -1, false},
      {"no maximum age (-1)", today - 5000, -1, -1, true},
      {"maximum age 0, changed today", today, 0, -1, true},
      {"maximum age 0, changed yesterday", today - 1, 0, -1, false},
      {"never set (last change 0)", 0, -1, -1, false},
      {"ageing off (last change -1)", -1, 90, -1, true},
      {"expired yesterday", today - 1, 90, today - 1, false},
      {"expires today", today - 1, 90, today, true},
      {"all fields -1", -1, -1, -1, true},
  };
  RecordingClock clock;
  RecordingClock::now = static_cast<time_t>(today) * 86400 + 43200;
  ScopedSeam<os_users_seam> users(os_users, &ShadowDouble::seam);
  for (const ShadowCase &c : cases) {
    ShadowDouble::entry = {
        ShadowDouble::name, ShadowDouble::hash, c.last_change, 0, c.max_age, 7, -1, c.expire, 0};
    osspwd_t sp;
    memset(&sp, 0x5a, sizeof sp);
    const osspwd_t before = sp;
    int r = _osgetspnam("carol", &sp);
    if (c.accepted) {
      EXPECT_EQ(r, 0) << c.what;
      EXPECT_STREQ(sp.name, "carol") << c.what;
      EXPECT_STREQ(sp.passwd, "$6$salt$hash") << c.what;
    } else {
      EXPECT_EQ(r, -1) << c.what;
      EXPECT_EQ(memcmp(&sp, &before, sizeof sp), 0) << c.what;
    }
  }
}

/* The groups that list a user, from getent group in a child: the peer for
** the supplementary group ids. */
TEST(OsUsers, SupplementaryGroupsMatchGetent) {
  std::istringstream lines(wrappers_test::command_output("getent group"));
  std::string line;
  std::string user;
  std::vector<std::pair<std::string, gid_t>> groups; /* (members, gid) */
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, ':'))
      f.push_back(field);
    if (f.size() < 4 || f[3].empty()) continue;
    groups.emplace_back("," + f[3] + ",", static_cast<gid_t>(std::stoul(f[2])));
    if (user.empty()) user = f[3].substr(0, f[3].find(','));
  }
  if (user.empty()) GTEST_SKIP() << "no group on this machine lists a member";
  std::vector<gid_t> expected;
  for (const auto &[members, gid] : groups)
    if (members.find("," + user + ",") != std::string::npos && expected.size() < OS_MAX_SGRPIDS)
      expected.push_back(gid);

  gid_t ids[OS_MAX_SGRPIDS];
  int count = -1;
  ASSERT_EQ(_osgetsgrpids(user.c_str(), &count, ids), 0);
  EXPECT_EQ(std::vector<gid_t>(ids, ids + count), expected);
  EXPECT_EQ(__osgetsgrpids(nullptr, &count, ids), -1);
}

TEST(OsUsers, CallerIdentity) {
  char buffer[16];
  memset(buffer, 'x', sizeof buffer);
  callerid(buffer);
  EXPECT_STREQ(buffer, "clientsdk");
}

}  // namespace
