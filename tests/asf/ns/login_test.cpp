/*
** The login check and the trusted-host files: the whole check against a
** double of the user database (stored passwords made with the real
** crypt), the same against the machine's test account "dvzlogin" (added
** by tools/start-services; skipped without it), trust decisions as a
** table over fixture files in temporary homes, the user-field verdicts,
** the line reader's cuts, and trailing white space.
*/
#include "login.h"

#include <crypt.h>
#include <shadow.h>
#include <sys/utsname.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asf_ns.h"
#include "asf_test_support.h"
#include "os_seams.h"
#include "temp_dir.h"

namespace {

/* ---- The login seam of the tests. ---- */

/* Netgroups of the tests: "trusted-hosts" holds the host "ng-host",
** "trusted-users" the user "ng-user". */
int fake_in_netgroup(const char *netgroup, const char *host, const char *user) {
  if (host != nullptr)
    return std::strcmp(netgroup, "trusted-hosts") == 0 && std::strcmp(host, "ng-host") == 0;
  if (user != nullptr)
    return std::strcmp(netgroup, "trusted-users") == 0 && std::strcmp(user, "ng-user") == 0;
  return 0;
}

std::string &equiv_path() {
  static std::string path;
  return path;
}
std::string &fake_home() {
  static std::string home;
  return home;
}
const char *home_of_test(const char *) { return fake_home().c_str(); }
char *null_crypt(const char *, const char *) { return nullptr; }

/* Installs a login seam for the life of the object: hosts.equiv and the
** home inside a temporary directory, the test netgroups, and the real
** crypt unless the null one is asked for. */
class LoginSeam {
 public:
  explicit LoginSeam(bool crypt_fails = false) : previous_(asf_login) {
    equiv_path() = dir_.file("hosts.equiv");
    fake_home() = dir_.file("home");
    dir_.write("home/.keep", "");
    table_ = {equiv_path().c_str(), home_of_test, fake_in_netgroup,
              crypt_fails ? null_crypt : asf_system_login.crypt};
    asf_login = &table_;
  }
  ~LoginSeam() { asf_login = previous_; }
  LoginSeam(const LoginSeam &) = delete;
  LoginSeam &operator=(const LoginSeam &) = delete;

  const dvz_test::TempDir &dir() const { return dir_; }
  void equiv(const std::string &content) const { dvz_test::write_file(equiv_path(), content); }
  void rhosts(const std::string &content) const {
    dvz_test::write_file(fake_home() + "/.rhosts", content);
  }

 private:
  dvz_test::TempDir dir_;
  asf_login_seam table_ {};
  const asf_login_seam *previous_;
};

/* Sets or clears DVZ_PWD_REQ for the life of the object. */
class PasswordRequired {
 public:
  explicit PasswordRequired(bool on) {
    if (on)
      setenv("DVZ_PWD_REQ", "1", 1);
    else
      unsetenv("DVZ_PWD_REQ");
  }
  ~PasswordRequired() { unsetenv("DVZ_PWD_REQ"); }
  PasswordRequired(const PasswordRequired &) = delete;
  PasswordRequired &operator=(const PasswordRequired &) = delete;
};

std::string this_host() {
  struct utsname u;
  EXPECT_EQ(uname(&u), 0);
  return u.nodename;
}

/* ---- A double of the user database. ---- */

/* Users of the double: name, stored password (the shadow's), shadow entry
** present. */
struct fake_user {
  const char *name;
  std::string stored;
  bool has_shadow;
};
std::vector<fake_user> &fake_users() {
  static std::vector<fake_user> users;
  return users;
}

struct passwd *fake_getpwnam(const char *name) {
  static struct passwd pw;
  for (fake_user &u : fake_users()) {
    if (std::strcmp(u.name, name) != 0) continue;
    pw = {};
    pw.pw_name = const_cast<char *>(u.name);
    pw.pw_passwd = const_cast<char *>("x");
    pw.pw_uid = 4242;
    pw.pw_gid = 4343;
    pw.pw_dir = const_cast<char *>("/home/fake");
    pw.pw_shell = const_cast<char *>("/usr/sbin/nologin");
    return &pw;
  }
  return nullptr;
}

struct spwd *fake_getspnam(const char *name) {
  static struct spwd sp;
  for (fake_user &u : fake_users()) {
    if (std::strcmp(u.name, name) != 0 || !u.has_shadow) continue;
    sp = {};
    sp.sp_namp = const_cast<char *>(u.name);
    sp.sp_pwdp = u.stored.data();
    sp.sp_lstchg = 1;
    sp.sp_max = -1;
    sp.sp_expire = -1;
    return &sp;
  }
  return nullptr;
}

/* The double installed for the life of the object, with users. */
class FakeUsers {
 public:
  explicit FakeUsers(std::vector<fake_user> users) : previous_(os_users) {
    fake_users() = std::move(users);
    table_ = *os_users;
    table_.getpwnam = fake_getpwnam;
    table_.getspnam = fake_getspnam;
    os_users = &table_;
  }
  ~FakeUsers() { os_users = previous_; }
  FakeUsers(const FakeUsers &) = delete;
  FakeUsers &operator=(const FakeUsers &) = delete;

 private:
  os_users_seam table_ {};
  const os_users_seam *previous_;
};

/* A stored password the real crypt makes for password. */
std::string encrypted(const char *password) {
  const char *c = crypt(password, "$6$dvzsalt$");
  EXPECT_NE(c, nullptr);
  return c != nullptr ? c : "";
}

constexpr uint8_t no_files = 0;
constexpr uint8_t both_files = LOGIN_SEC_HOSTS_EQUIV | LOGIN_SEC_RHOSTS;

/* ---- The login check over the double. ---- */

TEST(LoginCheck, DecidesOverTheUserDouble) {
  const std::string secret = encrypted("s3cret");
  FakeUsers users({{"ann", secret, true},
                   {"empty", "", true},
                   {"star", "*", true},
                   {"bang", "!", true},
                   {"noshadow", secret, false}});
  const std::string me = this_host();
  struct row {
    const char *what;
    const char *user;
    const char *password;
    const char *host;
    uint8_t security;
    int check;
    const char *rhosts; /* null: no .rhosts */
    bool pwd_req;
    int rc;
  };
  const row rows[] = {
      {"the right password", "ann", "s3cret", "far", no_files, 1, nullptr, false, 0},
      {"a wrong password", "ann", "s3creT", "far", no_files, 1, nullptr, false, -952},
      {"an empty password against a stored one", "ann", "", "far", no_files, 1, nullptr, false,
       -952},
      {"a password against an empty stored one", "empty", "x", "far", no_files, 1, nullptr, false,
       -952},
      {"both empty", "empty", "", "far", no_files, 1, nullptr, false, -952},
      {"a locked entry *", "star", "*", "far", no_files, 1, nullptr, false, -952},
      {"a locked entry !", "bang", "!", "far", no_files, 1, nullptr, false, -952},
      {"an unknown user", "nobody-here", "s3cret", "far", no_files, 1, nullptr, false, -951},
      {"no shadow entry when checking", "noshadow", "s3cret", "far", no_files, 1, nullptr, false,
       -951},
      {"no shadow entry read unchecked", "noshadow", nullptr, nullptr, no_files, 0, nullptr, false,
       0},
      {"unchecked: the password is not looked at", "ann", "wrong", nullptr, no_files, 0, nullptr,
       false, 0},
      {"a checked login without a host", "ann", "s3cret", nullptr, no_files, 1, nullptr, false,
       -954},
      {"a checked login with an empty host", "ann", nullptr, "", both_files, 1, "+ +\n", false,
       -954},
      {"no password from localhost", "ann", nullptr, "localhost", no_files, 1, nullptr, false, 0},
      {"no password from this host", "ann", nullptr, me.c_str(), no_files, 1, nullptr, false, 0},
      {"no password, one required", "ann", nullptr, "localhost", both_files, 1, "+ +\n", true,
       -952},
      {"no password from an untrusted host", "ann", nullptr, "far", both_files, 1, nullptr, false,
       -956},
      {"no password from a host .rhosts trusts", "ann", nullptr, "far", both_files, 1, "far\n",
       false, 0},
      {"security byte 0 reads no file", "ann", nullptr, "far", no_files, 1, "far\n", false, -956},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    LoginSeam seam;
    if (r.rhosts != nullptr) seam.rhosts(r.rhosts);
    PasswordRequired required(r.pwd_req);
    int32_t uid = -1;
    int32_t gid = -1;
    char home[64] = "unchanged";
    EXPECT_EQ(_oschkinternet(r.user, r.password, r.host, &r.security, &uid, &gid, home, r.check),
              r.rc);
    if (r.rc == 0) {
      EXPECT_EQ(uid, 4242);
      EXPECT_EQ(gid, 4343);
      EXPECT_STREQ(home, "/home/fake");
    }
  }
}

TEST(LoginCheck, ANullCryptResultIsAWrongPassword) {
  FakeUsers users({{"ann", encrypted("s3cret"), true}});
  LoginSeam seam(/*crypt_fails=*/true);
  const uint8_t security = no_files;
  EXPECT_EQ(_oschkinternet("ann", "s3cret", "far", &security, nullptr, nullptr, nullptr, 1), -952);
  EXPECT_EQ(crypt_pwd("s3cret", "*"), nullptr);
}

TEST(LoginCheck, MemoryFailureAndTheOutputsLeftOut) {
  FakeUsers users({{"ann", encrypted("s3cret"), true}});
  const uint8_t security = both_files;
  {
    asf_test::CountingMemory memory(1);
    EXPECT_EQ(_oschkinternet("ann", "s3cret", "far", &security, nullptr, nullptr, nullptr, 1),
              ASF_ERR_MEMORY);
  }
  LoginSeam seam;
  seam.rhosts("far\n");
  asf_test::CountingMemory memory;
  EXPECT_EQ(_oschkinternet("ann", nullptr, "far", &security, nullptr, nullptr, nullptr, 1), 0);
  EXPECT_EQ(memory.outstanding(), 0);
}

int failing_uname(struct utsname *) { return -1; }

TEST(LoginCheck, ThisHostsNameUnknown) {
  FakeUsers users({{"ann", encrypted("s3cret"), true}});
  LoginSeam seam;
  seam.rhosts("+ +\n");
  const os_host_seam no_name = {failing_uname, os_host->home};
  const os_host_seam *previous = os_host;
  os_host = &no_name;
  const uint8_t security = both_files;
  EXPECT_EQ(_oschkinternet("ann", nullptr, "localhost", &security, nullptr, nullptr, nullptr, 1),
            -1);
  // A password does not need the host's name.
  EXPECT_EQ(_oschkinternet("ann", "s3cret", "far", &security, nullptr, nullptr, nullptr, 1), 0);
  os_host = previous;
}

/* ---- The login check against the machine's test account. ---- */

constexpr const char *account = "dvzlogin";
constexpr const char *account_password = "Dvz-login-7";

TEST(LoginCheck, TheTestAccount) {
  if (getpwnam(account) == nullptr)
    GTEST_SKIP() << "no account " << account << " (tools/start-services adds it as root)";
  if (getspnam(account) == nullptr)
    GTEST_SKIP() << "the shadow entry of " << account << " cannot be read (not root)";
  struct passwd *pw = getpwnam(account);
  const int32_t want_uid = static_cast<int32_t>(pw->pw_uid);
  const int32_t want_gid = static_cast<int32_t>(pw->pw_gid);
  const std::string me = this_host();
  struct row {
    const char *what;
    const char *password;
    const char *host;
    uint8_t security;
    bool pwd_req;
    int rc;
  };
  const row rows[] = {
      {"the right password", account_password, "far", no_files, false, 0},
      {"a wrong password", "dvz-login-7", "far", no_files, false, -952},
      {"an empty password", "", "far", no_files, false, -952},
      {"no password from localhost", nullptr, "localhost", no_files, false, 0},
      {"no password from this host", nullptr, me.c_str(), no_files, false, 0},
      {"no password from localhost, one required", nullptr, "localhost", no_files, true, -952},
      {"no password from a remote host, security 0", nullptr, "far", no_files, false, -956},
      {"no host", account_password, nullptr, no_files, false, -954},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    PasswordRequired required(r.pwd_req);
    int32_t uid = -1;
    int32_t gid = -1;
    char home[64] = "";
    EXPECT_EQ(_oschkinternet(account, r.password, r.host, &r.security, &uid, &gid, home, 1), r.rc);
    if (r.rc == 0) {
      EXPECT_EQ(uid, want_uid);
      EXPECT_EQ(gid, want_gid);
      EXPECT_STREQ(home, pw->pw_dir);
    }
  }
  const uint8_t security = no_files;
  EXPECT_EQ(_oschkinternet("dvz-no-such-user", account_password, "far", &security, nullptr, nullptr,
                           nullptr, 1),
            -951);
}

/* ---- Trust through the files. ---- */

TEST(TrustedHosts, DecisionsOverFixtureFiles) {
  const std::string long_host(300, 'h');
  const std::string long_user(40, 'u');
  struct row {
    const char *what;
    std::string equiv; /* "" for no file */
    std::string rhosts; /* "" for no file */
    int32_t uid;
    uint8_t security;
    std::string host;
    const char *user;
    int trusted;
  };
  const row rows[] = {
      {"hosts.equiv +: any host, the same user", "+\n", "", 1000, both_files, "far", "ann", 1},
      {"hosts.equiv names the host", "near\nfar\n", "", 1000, both_files, "far", "ann", 1},
      {"uid 0 never through hosts.equiv", "+\nfar\n", "", 0, both_files, "far", "root", 0},
      {"uid 0 through its own .rhosts", "", "far root\n", 0, both_files, "far", "root", 1},
      {"security 0 reads neither file", "+ +\n", "+ +\n", 1000, no_files, "far", "ann", 0},
      {"hosts.equiv not allowed", "+ +\n", "", 1000, LOGIN_SEC_RHOSTS, "far", "ann", 0},
      {".rhosts not allowed", "", "+ +\n", 1000, LOGIN_SEC_HOSTS_EQUIV, "far", "ann", 0},
      {"-host before + refuses that host", "", "-far\n+\n", 1000, both_files, "far", "ann", 0},
      {"-host before + trusts another", "", "-far\n+\n", 1000, both_files, "near", "ann", 1},
      {"+ before -host trusts", "", "+\n-far\n", 1000, both_files, "far", "ann", 1},
      {"hosts.equiv trusts before .rhosts refuses", "far\n", "-far\n", 1000, both_files, "far",
       "ann", 1},
      {"user field +", "", "far +\n", 1000, both_files, "far", "ann", 1},
      {"another user's line does not decide", "", "far bob\n", 1000, both_files, "far", "ann", 0},
      {"another user's line, a later one decides", "", "far bob\n+ ann\n", 1000, both_files, "far",
       "ann", 1},
      {"user field -user refuses", "", "far -ann\n+ +\n", 1000, both_files, "far", "ann", 0},
      {"user field -other does not decide", "", "far -bob\n", 1000, both_files, "far", "ann", 0},
      {"+@netgroup holds the host", "", "+@trusted-hosts\n", 1000, both_files, "ng-host", "ann", 1},
      {"+@netgroup without the host", "", "+@trusted-hosts\n", 1000, both_files, "far", "ann", 0},
      {"-@netgroup refuses its host", "", "-@trusted-hosts\n+\n", 1000, both_files, "ng-host",
       "ann", 0},
      {"-@netgroup passes over other hosts", "", "-@trusted-hosts\n+\n", 1000, both_files, "far",
       "ann", 1},
      {"+@netgroup host, user field decides", "", "+@trusted-hosts -ann\n+ +\n", 1000, both_files,
       "ng-host", "ann", 0},
      {"user +@netgroup holds the user", "", "far +@trusted-users\n", 1000, both_files, "far",
       "ng-user", 1},
      {"user +@netgroup without the user", "", "far +@trusted-users\n", 1000, both_files, "far",
       "ann", 0},
      {"user -@netgroup refuses its user", "", "far -@trusted-users\n+ +\n", 1000, both_files,
       "far", "ng-user", 0},
      {"user -@netgroup does not trust outsiders", "", "far -@trusted-users\n", 1000, both_files,
       "far", "ann", 0},
      {"user -@netgroup leaves outsiders to the next line", "", "far -@trusted-users\nfar ann\n",
       1000, both_files, "far", "ann", 1},
      {"comment lines are skipped", "", "#far\n  # far ann\n\tnear\n", 1000, both_files, "far",
       "ann", 0},
      {"a line after comments", "", "# +\n\n   \nfar\n", 1000, both_files, "far", "ann", 1},
      {"trailing white space of the host", "", "far\n", 1000, both_files, "far \t", "ann", 1},
      {"a 0xFF byte is an ordinary byte", "", "h\xff\n", 1000, both_files, "h\xff", "ann", 1},
      {"lines after a 0xFF byte are read", "", "\xff\xff\xff\nfar\n", 1000, both_files, "far",
       "ann", 1},
      {"a host field is cut to 256 characters", "", long_host + "\n", 1000, both_files,
       long_host.substr(0, 256), "ann", 1},
      {"the rest of a long line is not a line", "", "x" + std::string(600, 'y') + " far\nnear\n",
       1000, both_files, "far", "ann", 0},
      {"a long user field is cut, the next line read", "", "far -" + long_user + "\nfar ann\n",
       1000, both_files, "far", "ann", 1},
      {"hosts compare exactly", "", "FAR\n", 1000, both_files, "far", "ann", 0},
      {"no files at all", "", "", 1000, both_files, "far", "ann", 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    LoginSeam seam;
    if (!r.equiv.empty()) seam.equiv(r.equiv);
    if (!r.rhosts.empty()) seam.rhosts(r.rhosts);
    EXPECT_EQ(is_trusted(r.user, r.uid, fake_home().c_str(), r.host.c_str(), &r.security),
              r.trusted);
  }
}

TEST(TrustedHosts, WithoutAHomeNoRhostsIsRead) {
  LoginSeam seam;
  // A .rhosts in the current directory must not stand in for a home's.
  dvz_test::write_file(seam.dir().file(".rhosts"), "+ +\n");
  dvz_test::ScopedChdir cwd(seam.dir().path());
  const uint8_t security = LOGIN_SEC_RHOSTS;
  EXPECT_EQ(is_trusted("ann", 1000, nullptr, "far", &security), 0);
  EXPECT_EQ(is_trusted("ann", 1000, "", "far", &security), 0);
  EXPECT_EQ(is_trusted("ann", 1000, seam.dir().path().c_str(), "far", &security), 1);
  EXPECT_EQ(is_trusted("ann", 1000, (seam.dir().path() + "/").c_str(), "far", &security), 1);
  EXPECT_EQ(is_trusted("ann", 1000, seam.dir().path().c_str(), "far", nullptr), 0);
}

TEST(TrustedHosts, FilesAreClosedAndMemoryFailuresDistrust) {
  LoginSeam seam;
  seam.rhosts("far\n");
  const std::string path = fake_home() + "/.rhosts";
  const int fds = asf_test::fd_count();
  int needed = 0;
  {
    asf_test::CountingMemory memory;
    EXPECT_EQ(check_rights(path.c_str(), "far", "ann"), 1);
    EXPECT_EQ(memory.outstanding(), 0);
    needed = memory.allocations();
  }
  EXPECT_GT(needed, 0);
  for (int fail = 1; fail <= needed; ++fail) {
    SCOPED_TRACE(fail);
    asf_test::CountingMemory failing(fail);
    EXPECT_EQ(check_rights(path.c_str(), "far", "ann"), 0);
    EXPECT_EQ(failing.outstanding(), 0);
  }
  EXPECT_EQ(check_rights(path.c_str(), "near", "ann"), 0);
  EXPECT_EQ(check_rights((path + ".missing").c_str(), "far", "ann"), 0);
  EXPECT_EQ(asf_test::fd_count(), fds);
}

TEST(TrustedHosts, UserFieldVerdicts) {
  LoginSeam seam;
  struct row {
    const char *field;
    const char *user;
    int trusted;
    int stop;
  };
  const row rows[] = {
      {"", "ann", 1, 1},
      {"ann", "ann", 1, 1},
      {"+", "ann", 1, 1},
      {"-ann", "ann", 0, 1},
      {"-bob", "ann", 0, 0},
      {"bob", "ann", 0, 0},
      {"+@trusted-users", "ng-user", 1, 1},
      {"+@trusted-users", "ann", 0, 0},
      {"-@trusted-users", "ng-user", 0, 1},
      {"-@trusted-users", "ann", 0, 0},
      {"-", "ann", 0, 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.field) + " / " + r.user);
    int stop = -1;
    EXPECT_EQ(trusted_user(r.field, r.user, &stop), r.trusted);
    EXPECT_EQ(stop, r.stop);
  }
}

TEST(TrustedHosts, LineReaderCutsFieldsAndSkipsComments) {
  dvz_test::TempDir dir;
  const std::string path =
      dir.write("f", "# c\n  host1 user1 extra words\n\n\thost2\n#x y\nabcdefgh ijklmnop\n" +
                         std::string(400, 'z') + " late\nlast");
  fbuf *f = asf_opfbuf(path.c_str(), "r", 1);
  ASSERT_NE(f, nullptr);
  char host[TRUSTED_HOST_SIZE];
  char user[TRUSTED_USER_SIZE];
  std::vector<std::pair<std::string, std::string>> got;
  while (next_trusted(f, host, sizeof host, user, sizeof user) == 0)
    got.emplace_back(host, user);
  EXPECT_EQ(got.size(), 5u);
  asf_rwfbuf(f);
  std::vector<std::pair<std::string, std::string>> small;
  while (next_trusted(f, host, 5, user, 3) == 0)
    small.emplace_back(host, user);
  asf_clfbuf(f);
  const std::vector<std::pair<std::string, std::string>> want = {{"host1", "user1"},
                                                                 {"host2", ""},
                                                                 {"abcdefgh", "ijklmnop"},
                                                                 {std::string(256, 'z'), ""},
                                                                 {"last", ""}};
  EXPECT_EQ(got, want);
  const std::vector<std::pair<std::string, std::string>> want_small = {
      {"host", "us"}, {"host", ""}, {"abcd", "ij"}, {"zzzz", ""}, {"last", ""}};
  EXPECT_EQ(small, want_small);
  EXPECT_EQ(next_trusted(nullptr, host, sizeof host, user, sizeof user), -1);
}

TEST(TrustedHosts, TrimsTrailingWhiteSpace) {
  struct row {
    const char *text;
    const char *want;
  };
  const row rows[] = {{"far", "far"}, {"far \t\r\n", "far"}, {"  ", ""},
                      {"", ""},       {" a b ", " a b"},     {"h\xff", "h\xff"}};
  for (const row &r : rows) {
    std::string text = r.text;
    EXPECT_EQ(trims(text.data()), static_cast<int>(std::strlen(r.want))) << r.text;
    EXPECT_STREQ(text.c_str(), r.want);
  }
  EXPECT_EQ(trims(nullptr), 0);
}

}  // namespace
