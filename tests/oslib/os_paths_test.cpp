/*
** Paths and files: building and splitting names (with the gerrno of each
** refusal), the home directory through the home and users seams, file
** removal and renaming, readability and temporary names.
*/
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "os_env.h"
#include "os_seams.h"
#include "os_wrappers.h"
#include "temp_dir.h"
#include "wrappers_test_support.h"

using wrappers_test::ScopedSeam;

namespace {

struct free_deleter {
  void operator()(char *p) const { free(p); }
};
using owned_text = std::unique_ptr<char, free_deleter>;

/* A result as text, or "gerrno N" for a NULL result. */
std::string outcome(char *result) {
  owned_text owned(result);
  return owned ? std::string(owned.get()) : "gerrno " + std::to_string(gerrno);
}

struct TextCase {
  const char *a;
  const char *b;
  const char *c;
  const char *expected;
};

TEST(OsPaths, BuildsPathsFromOptionalParts) {
  const TextCase cases[] = {
      {"/usr/dovariza", "etc/dovariza", ".rc", "/usr/dovariza/etc/dovariza.rc"},
      {nullptr, ".dovariza", nullptr, ".dovariza"},
      {"", "name", ".ext", "name.ext"},
      {"/dir", nullptr, nullptr, "/dir/"},
      {nullptr, nullptr, ".ext", ".ext"},
      {"", "", "", "gerrno -4"},
      {nullptr, nullptr, nullptr, "gerrno -4"},
  };
  for (const TextCase &c : cases)
    EXPECT_EQ(outcome(gbldpath(c.a, c.b, c.c)), c.expected)
        << (c.a ? c.a : "NULL") << "|" << (c.b ? c.b : "NULL");
}

TEST(OsPaths, JoinsAndSplitsNames) {
  const TextCase catf[] = {
      {"/tmp", "file", nullptr, "/tmp/file"},
      {nullptr, "file", nullptr, "gerrno -7"},
      {"/tmp", "", nullptr, "gerrno -6"},
  };
  for (const TextCase &c : catf)
    EXPECT_EQ(outcome(gcatfpath(c.a, c.b)), c.expected);
  const TextCase cats[] = {
      {"/a:/b", "/c", nullptr, "/a:/b:/c"},
      {"", "/c", nullptr, "gerrno -6"},
      {"/a", nullptr, nullptr, "gerrno -7"},
  };
  for (const TextCase &c : cats)
    EXPECT_EQ(outcome(gcatspath(c.a, c.b)), c.expected);
  const TextCase base[] = {
      {"/db/stores.dbs", ".dbs", nullptr, "stores"},
      {"stores.dbs", nullptr, nullptr, "stores.dbs"},
      {"/db/stores.dbs", ".txt", nullptr, "stores.dbs"},
      {"/db/", nullptr, nullptr, "gerrno -3"},
      {"/db/.dbs", ".dbs", nullptr, "gerrno -3"},
      {nullptr, nullptr, nullptr, "gerrno -7"},
  };
  for (const TextCase &c : base)
    EXPECT_EQ(outcome(gbasename(c.a, c.b)), c.expected) << (c.a ? c.a : "NULL");
  const TextCase dir[] = {
      {"/db/stores.dbs", nullptr, nullptr, "/db"}, {"/stores.dbs", nullptr, nullptr, "/"},
      {"a/b/c", nullptr, nullptr, "a/b"},          {"stores", nullptr, nullptr, "gerrno -3"},
      {nullptr, nullptr, nullptr, "gerrno -7"},
  };
  for (const TextCase &c : dir)
    EXPECT_EQ(outcome(gpathname(c.a)), c.expected);
}

TEST(OsPaths, PathElementsAreTakenOneByOne) {
  const char *list = "/a::/b/c:";
  std::vector<std::string> got;
  for (int i = 0; i < 6; ++i)
    got.push_back(outcome(ggetpelm(&list)));
  EXPECT_EQ(got,
            (std::vector<std::string> {"/a", "", "/b/c", "gerrno -6", "gerrno -6", "gerrno -6"}));
  EXPECT_EQ(outcome(ggetpelm(nullptr)), "gerrno -7");
  const char *none = nullptr;
  EXPECT_EQ(outcome(ggetpelm(&none)), "gerrno -7");
}

/* The home directory: the seam's directory when it gives one, else the
** login name's passwd entry, else the real user's; $HOME is never read. */
struct HomeWorld {
  static inline const char *seam_home = nullptr;
  static inline const char *login = nullptr;
  static inline bool login_known = false;
  static inline bool uid_known = false;
  static inline struct passwd entry;
  static inline std::string dir;
  static inline char name[] = "someone";

  static const char *home(void) { return seam_home; }
  static int node(struct utsname *u) { return uname(u); }
  static struct passwd *answer(const std::string &d) {
    dir = d;
    entry = {name, name, 1, 1, name, dir.data(), name};
    return &entry;
  }
  static struct passwd *by_name(const char *n) {
    return login_known && std::string_view(n) == login ? answer("/home/by-login") : nullptr;
  }
  static struct passwd *by_uid(uid_t uid) {
    return uid_known && uid == getuid() ? answer("/home/by-uid") : nullptr;
  }
  static char *get_login(void) { return const_cast<char *>(login); }
  static constexpr os_host_seam host_seam = {node, home};
  static constexpr os_users_seam users_seam = {by_name, by_uid, nullptr, nullptr, get_login};
};

TEST(OsPaths, HomeDirectoryComesFromSeamThenLoginThenUid) {
  struct Case {
    const char *what;
    const char *seam_home;
    const char *login;
    bool login_known;
    bool uid_known;
    const char *expected;
  };
  const std::string long_home = "/" + std::string(99, 'h');
  const Case cases[] = {
      {"home seam", "/seam/home", "alice", true, true, "/seam/home"},
      {"login name", nullptr, "alice", true, true, "/home/by-login"},
      {"login name unknown", nullptr, "alice", false, true, "/home/by-uid"},
      {"no login name", nullptr, nullptr, true, true, "/home/by-uid"},
      {"no passwd entry", nullptr, "alice", false, false, "gerrno -3"},
  };
  ScopedSeam<os_host_seam> host(os_host, &HomeWorld::host_seam);
  ScopedSeam<os_users_seam> users(os_users, &HomeWorld::users_seam);
  setenv("HOME", "/home/from-environment", 1);
  for (const Case &c : cases) {
    HomeWorld::seam_home = c.seam_home;
    HomeWorld::login = c.login;
    HomeWorld::login_known = c.login_known;
    HomeWorld::uid_known = c.uid_known;
    EXPECT_EQ(outcome(ggethomepath()), c.expected) << c.what;
  }

  /* A 100-character home is cut to 64 characters in its 65 bytes. */
  HomeWorld::seam_home = long_home.c_str();
  owned_text home(ggethomepath());
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(std::string(home.get()), long_home.substr(0, 64));
}

TEST(OsPaths, RemovesAndRenamesFiles) {
  dvz_test::TempDir dir;
  const std::string a = dir.write("a", "content");
  const std::string b = dir.file("b");
  const std::string c = dir.write("c", "other");

  EXPECT_EQ(grenfile(a.c_str(), b.c_str()), 0);
  EXPECT_NE(access(a.c_str(), F_OK), 0);
  EXPECT_EQ(dvz_test::read_file(b), "content");

  /* The new name exists: nothing moves. */
  EXPECT_EQ(grenfile(b.c_str(), c.c_str()), -1);
  EXPECT_EQ(gerrno, EEXIST);
  EXPECT_EQ(dvz_test::read_file(b), "content");
  EXPECT_EQ(dvz_test::read_file(c), "other");

  struct Case {
    const char *name;
    int result;
    int error;
  };
  const std::string missing = dir.file("missing");
  const Case removals[] = {
      {b.c_str(), 0, 0}, {missing.c_str(), -1, ENOENT}, {"", -1, -6}, {nullptr, -1, -7}};
  for (const Case &r : removals) {
    gerrno = 0;
    EXPECT_EQ(grmfile(r.name), r.result) << (r.name ? r.name : "NULL");
    EXPECT_EQ(gerrno, r.error) << (r.name ? r.name : "NULL");
  }
  EXPECT_NE(access(b.c_str(), F_OK), 0);
  EXPECT_EQ(grenfile(nullptr, c.c_str()), -1);
  EXPECT_EQ(gerrno, -7);
}

TEST(OsPaths, ReadableFiles) {
  dvz_test::TempDir dir;
  const std::string present = dir.write("present", "x");
  EXPECT_EQ(_ofreadable(present.c_str()), 1);
  EXPECT_EQ(_ofreadable(dir.file("absent").c_str()), 0);
  EXPECT_EQ(_ofreadable(nullptr), 0);
}

TEST(OsPaths, CounterAdvancesLikeAnOdometer) {
  const std::pair<const char *, const char *> cases[] = {
      {"aaa", "aab"}, {"aaz", "aba"}, {"azz", "baa"}, {"zzz", "aaa"}, {"qrs", "qrt"}};
  for (const auto &[from, to] : cases) {
    char p[4];
    strcpy(p, from);
    incpat(p);
    EXPECT_STREQ(p, to) << from;
  }
}

TEST(OsPaths, TemporaryNamesSkipExistingFiles) {
  dvz_test::TempDir dir;
  char pid[8];
  snprintf(pid, sizeof pid, "%05d", static_cast<int>(getpid() % 100000));
  strcpy(numpat, "abz");
  /* The counter's first value is taken already. */
  dir.write(std::string("tmpabz") + pid, "");

  std::string t = dir.file("tmpNNNXXXXX");
  ASSERT_EQ(gmktemp(t.data()), t.data());
  EXPECT_EQ(t, dir.file(std::string("tmpaca") + pid));
  std::string u = dir.file("tmpNNNXXXXX.x");
  ASSERT_NE(gmktemp(u.data()), nullptr);
  EXPECT_EQ(u, dir.file(std::string("tmpacb") + pid + ".x"));

  std::string bad = dir.file("tmpXXXXXX");
  gerrno = 0;
  EXPECT_EQ(gmktemp(bad.data()), nullptr);
  EXPECT_EQ(gerrno, -4);
}

}  // namespace
