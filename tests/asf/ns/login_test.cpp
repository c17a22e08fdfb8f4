/*
** The login check and the trusted-host files: the whole check against a
** double of the user database (stored passwords made with the real
** crypt), the same against an account in passwd, group and shadow files
** of the test's own read by glibc's parsers, the client host a TCP peer
** gets from its address and reverse name, trust decisions as a table over
** fixture files in temporary homes, trusted-host files that others could
** write, the user-field verdicts, the line reader's cuts, and trailing
** white space.
*/
#include "login.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <grp.h>
#include <netdb.h>
#include <pwd.h>
#include <shadow.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

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
#include "tl_records.h"

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
  /* The files as their owner writes them: mode 0644, whatever the umask. */
  void equiv(const std::string &content) const { write_private(equiv_path(), content); }
  void rhosts(const std::string &content) const {
    write_private(fake_home() + "/.rhosts", content);
  }
  static void write_private(const std::string &path, const std::string &content) {
    dvz_test::write_file(path, content);
    EXPECT_EQ(chmod(path.c_str(), 0644), 0);
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

/* ---- The login check against an account in files of the test's own. ---- */

/* The account's passwd, group and shadow lines, in the files' own formats,
** read back by glibc's parsers of those formats (fgetpwent, fgetgrent,
** fgetspent) from a temporary directory: nothing of the machine's user
** database is read or changed. */
struct account_files {
  std::string passwd, group, shadow;
};
account_files &account_paths() {
  static account_files paths;
  return paths;
}

template <typename T>
T *find_entry(const std::string &path, T *(*next)(FILE *), bool (*match)(const T *)) {
  FILE *f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return nullptr;
  T *found = nullptr;
  while ((found = next(f)) != nullptr && !match(found)) {}
  std::fclose(f);
  return found;
}

const char *wanted_name = nullptr;
gid_t wanted_gid = 0;

struct passwd *files_getpwnam(const char *name) {
  wanted_name = name;
  return find_entry<struct passwd>(account_paths().passwd, fgetpwent, [](const struct passwd *p) {
    return std::strcmp(p->pw_name, wanted_name) == 0;
  });
}

struct spwd *files_getspnam(const char *name) {
  wanted_name = name;
  return find_entry<struct spwd>(account_paths().shadow, fgetspent, [](const struct spwd *s) {
    return std::strcmp(s->sp_namp, wanted_name) == 0;
  });
}

struct group *files_getgrgid(gid_t gid) {
  wanted_gid = gid;
  return find_entry<struct group>(account_paths().group, fgetgrent,
                                  [](const struct group *g) { return g->gr_gid == wanted_gid; });
}

/* The account's files written and their reader installed for the life of
** the object. */
class AccountFiles {
 public:
  AccountFiles(const std::string &passwd, const std::string &group, const std::string &shadow)
      : previous_(os_users) {
    account_paths() = {dir_.write("passwd", passwd), dir_.write("group", group),
                       dir_.write("shadow", shadow)};
    table_ = *os_users;
    table_.getpwnam = files_getpwnam;
    table_.getspnam = files_getspnam;
    table_.getgrgid = files_getgrgid;
    os_users = &table_;
  }
  ~AccountFiles() { os_users = previous_; }
  AccountFiles(const AccountFiles &) = delete;
  AccountFiles &operator=(const AccountFiles &) = delete;

 private:
  dvz_test::TempDir dir_;
  os_users_seam table_ {};
  const os_users_seam *previous_;
};

constexpr const char *account = "dvzlogin";
constexpr const char *account_password = "Dvz-login-7";

TEST(LoginCheck, AnAccountReadFromPasswdGroupAndShadowFiles) {
  const std::string stored = encrypted(account_password);
  AccountFiles files(
      std::string(account) + ":x:4711:4712:test account:/nonexistent:/usr/sbin/nologin\n",
      std::string(account) + ":x:4712:\n",
      std::string(account) + ":" + stored + ":19000:0:99999:7:::\n");
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
      EXPECT_EQ(uid, 4711);
      EXPECT_EQ(gid, 4712);
      EXPECT_STREQ(home, "/nonexistent");
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

/* ---- The client host of a TCP peer, as the login check gets it. ---- */

/* The name service of these tests: the reverse name of one peer address,
** and the addresses a forward look-up of that name gives (host order). */
struct name_service {
  uint32_t peer = 0;
  std::string reverse;
  std::vector<uint32_t> forward;
};
name_service &names() {
  static name_service n;
  return n;
}

struct hostent *names_byaddr(const void *address, socklen_t length, int type) {
  static struct hostent h;
  static std::string name;
  static uint32_t addr;
  static char *list[2];
  uint32_t ip = 0;
  if (length != 4 || type != AF_INET) return nullptr;
  std::memcpy(&ip, address, 4);
  if (ntohl(ip) != names().peer || names().reverse.empty()) return nullptr;
  name = names().reverse;
  addr = ip;
  list[0] = reinterpret_cast<char *>(&addr);
  list[1] = nullptr;
  h = {};
  h.h_name = name.data();
  h.h_addrtype = AF_INET;
  h.h_length = 4;
  h.h_addr_list = list;
  return &h;
}

struct hostent *names_byname(const char *name, int *herr) {
  static struct hostent h;
  static std::vector<uint32_t> addrs;
  static std::vector<char *> list;
  if (names().reverse != name || names().forward.empty()) {
    *herr = HOST_NOT_FOUND;
    return nullptr;
  }
  addrs.clear();
  for (uint32_t a : names().forward)
    addrs.push_back(htonl(a));
  list.clear();
  for (uint32_t &a : addrs)
    list.push_back(reinterpret_cast<char *>(&a));
  list.push_back(nullptr);
  h = {};
  h.h_name = names().reverse.data();
  h.h_addrtype = AF_INET;
  h.h_length = 4;
  h.h_addr_list = list.data();
  return &h;
}

/* The tests' name service for the life of the object. */
class NameService {
 public:
  NameService() : previous_(os_resolver) {
    table_ = *os_resolver;
    table_.gethostbyname = names_byname;
    table_.gethostbyaddr = names_byaddr;
    os_resolver = &table_;
  }
  ~NameService() { os_resolver = previous_; }
  NameService(const NameService &) = delete;
  NameService &operator=(const NameService &) = delete;

 private:
  os_resolver_seam table_ {};
  const os_resolver_seam *previous_;
};

/* The host part of the text the TCP transport writes for a peer at ip. */
std::string peer_host(uint32_t ip) {
  drvblock drv {};
  drv.protname = const_cast<char *>("tlitcp");
  tladdr addr {};
  addr.ipaddr = htonl(ip);
  addr.port = htons(1526);
  asfsvcctl ctl = asf_test::fresh_ctl();
  tlpeeraddr *rec = nullptr;
  if (tcptladdr2cons(&addr, &rec, &drv, &ctl) != 0) return "(failed)";
  const std::string text = rec->pair->text;
  asf_test::free_peer(rec);
  return text.substr(0, text.find('|'));
}

/* A peer is this host only by its address: a reverse name counts only
** when a forward look-up gives the peer's address back, and this host's
** own names only for an address of this host. 192.0.2.0/24 is kept for
** documentation and is on no interface. */
TEST(LoginCheck, APeerIsThisHostOnlyByItsAddress) {
  FakeUsers users({{"ann", encrypted("s3cret"), true}});
  const std::string me = this_host();
  constexpr uint32_t remote = 0xc0000207; /* 192.0.2.7 */
  constexpr uint32_t other = 0xc0000208;
  struct row {
    const char *what;
    uint32_t peer;
    std::string reverse; /* "" for none */
    std::vector<uint32_t> forward;
    const char *rhosts; /* null: no .rhosts */
    std::string host; /* the host part of the peer's text */
    int rc; /* a login without a password */
  };
  const row rows[] = {
      {"remote, reverse and forward say this host",
       remote,
       me,
       {remote},
       nullptr,
       "c0000207",
       -956},
      {"remote, reverse and forward say localhost",
       remote,
       "localhost",
       {remote},
       nullptr,
       "c0000207",
       -956},
      {"remote, forward does not give it back",
       remote,
       "far.example",
       {other},
       "far.example\n",
       "c0000207",
       -956},
      {"remote, no forward answer", remote, "far.example", {}, "far.example\n", "c0000207", -956},
      {"remote, confirmed among several",
       remote,
       "far.example",
       {other, remote},
       "far.example\n",
       "far.example",
       0},
      {"remote, confirmed but not trusted",
       remote,
       "far.example",
       {remote},
       nullptr,
       "far.example",
       -956},
      {"loopback, named this host", 0x7f000002, me, {0x7f000002}, nullptr, me, 0},
      {"loopback 127.0.0.1", 0x7f000001, "", {}, nullptr, "localhost", 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    NameService service;
    names() = {r.peer, r.reverse, r.forward};
    LoginSeam seam;
    if (r.rhosts != nullptr) seam.rhosts(r.rhosts);
    const std::string host = peer_host(r.peer);
    EXPECT_EQ(host, r.host);
    const uint8_t security = both_files;
    EXPECT_EQ(_oschkinternet("ann", nullptr, host.c_str(), &security, nullptr, nullptr, nullptr, 1),
              r.rc);
  }
}

/* ---- Trusted-host files that others could write. ---- */

TEST(TrustedHosts, FilesOthersCouldChangeAreIgnored) {
  struct row {
    const char *what;
    bool equiv; /* the file is hosts.equiv, else .rhosts */
    mode_t mode;
    bool symlink; /* .rhosts is a link to the file */
    uid_t owner; /* given away (only a privileged run can): 0 keeps it */
    int32_t uid; /* the user's id */
    int trusted;
  };
  std::vector<row> rows = {
      {".rhosts 0600", false, 0600, false, 0, 1000, 1},
      {".rhosts 0644", false, 0644, false, 0, 1000, 1},
      {".rhosts group-writable", false, 0620, false, 0, 1000, 0},
      {".rhosts writable by others", false, 0602, false, 0, 1000, 0},
      {".rhosts a symbolic link to a good file", false, 0600, true, 0, 1000, 0},
      {"hosts.equiv group-writable", true, 0664, false, 0, 1000, 0},
      {"hosts.equiv 0644", true, 0644, false, 0, 1000, 1},
  };
  if (geteuid() == 0) {
    rows.push_back({".rhosts owned by the user", false, 0600, false, 4242, 4242, 1});
    rows.push_back({".rhosts owned by another user", false, 0600, false, 4343, 4242, 0});
    rows.push_back({"hosts.equiv owned by another user", true, 0644, false, 4343, 4242, 0});
  }
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    LoginSeam seam;
    const std::string file = r.equiv ? equiv_path() : fake_home() + "/.rhosts";
    const std::string target = r.symlink ? seam.dir().file("good") : file;
    LoginSeam::write_private(target, "far ann\n");
    ASSERT_TRUE(!r.symlink || symlink(target.c_str(), file.c_str()) == 0);
    ASSERT_EQ(chmod(target.c_str(), r.mode), 0);
    ASSERT_TRUE(r.owner == 0 || chown(target.c_str(), r.owner, static_cast<gid_t>(-1)) == 0);
    const uint8_t security = r.equiv ? LOGIN_SEC_HOSTS_EQUIV : LOGIN_SEC_RHOSTS;
    EXPECT_EQ(is_trusted("ann", r.uid, fake_home().c_str(), "far", &security), r.trusted);
  }
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
