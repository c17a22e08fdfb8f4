/*
** The sqlhosts services: entries and their checks, the option field and
** its parameter lists, finding a server and its failures, group expansion
** (end of group, redirection by a seeded random number), and reading a
** sqlhosts file that was opened as descriptor 0. Fixtures are files in a
** temporary directory named by DOVARIZASQLHOSTS or DOVARIZADIR.
*/
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "asf_al.h"
#include "asf_sqlhosts.h"
#include "counting_memory.h"
#include "os_seams.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

using asf_test::CountingMemory;

using dvz_test::ScopedEnv;

/* A sqlhosts file named by DOVARIZASQLHOSTS, DOVARIZASERVER unset. */
class Sqlhosts {
 public:
  explicit Sqlhosts(const std::string &content)
      : path_(dir_.write("sqlhosts", content)),
        file_env_("DOVARIZASQLHOSTS", path_),
        server_env_("DOVARIZASERVER", std::nullopt) {}
  const std::string &path() const { return path_; }

 private:
  dvz_test::TempDir dir_;
  std::string path_;
  ScopedEnv file_env_;
  ScopedEnv server_env_;
};

/* The first entry of a one-line file. */
SvrInfo read_one(const std::string &line) {
  Sqlhosts hosts(line);
  fbuf *f = openSqlhosts(0);
  EXPECT_NE(f, nullptr);
  SvrInfo info;
  std::memset(&info, 'Z', sizeof info);
  EXPECT_EQ(ASF_ReadHosts(f, &info), 0);
  EXPECT_EQ(readSqlhosts(f, &info), -1);
  closeSqlhosts(f);
  return info;
}

TEST(SqlhostsEntries, FieldsNettypeSplitAndValidity) {
  const std::string long_name(130, 'n');
  struct row {
    std::string line;
    const char *name;
    const char *product;
    const char *protocol;
    const char *host;
    const char *service;
    const char *options;
    int valid;
  };
  const row rows[] = {
      {"srv1 ontlitcp host1 svc1 k=0,b=4096", "srv1", "on", "tlitcp", "host1", "svc1", "k=0,b=4096",
       0},
      {"srv1\tolsoctcp  h  s", "srv1", "ol", "soctcp", "h", "s", "", 0},
      {"grp group - -", "grp", "", "", "-", "-", "", 0},
      {"grp group h s", "grp", "", "", "h", "s", "", -1},
      {"srv - - -", "srv", "", "", "-", "-", "", 0},
      {"srv onapplu6 h s", "srv", "on", "applu6", "h", "s", "", -1},
      {"srv drapplu6 h s", "srv", "dr", "applu6", "h", "s", "", 0},
      {"srv rawtlitcp h s", "srv", "raw", "tlitcp", "h", "s", "", 0},
      {"srv xxtlitcp h s", "srv", "xx", "tlitcp", "h", "s", "", -1},
      {"srv ontlitcp h", "srv", "on", "tlitcp", "h", "", "", -1},
      {"srv tlitcp h s", "srv", "", "", "h", "s", "", -1},
      {"srv bcdefghionsoctcp h s", "srv", "defghion", "soctcp", "h", "s", "", -1},
      {"# comment\n   # another\nsrv sesoctcp h s", "srv", "se", "soctcp", "h", "s", "", 0},
      {"srv ontlitcp h\xffst svc  b=1\xff, k=0 ", "srv", "on", "tlitcp", "h\xffst", "svc",
       "b=1\xff, k=0 ", 0},
      {long_name + " ontlitcp h s", nullptr, "on", "tlitcp", "h", "s", "", 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.line);
    SvrInfo info = read_one(r.line);
    EXPECT_STREQ(info.name, r.name != nullptr ? r.name : long_name.substr(0, 128).c_str());
    EXPECT_STREQ(info.product, r.product);
    EXPECT_STREQ(info.protocol, r.protocol);
    EXPECT_STREQ(info.host, r.host);
    EXPECT_STREQ(info.service, r.service);
    EXPECT_STREQ(info.options, r.options);
    EXPECT_EQ(chkSvrInfo(&info), r.valid);
    EXPECT_EQ(ASF_ChkSvrInfo(&info), r.valid);
  }
  SvrInfo empty {};
  EXPECT_EQ(chkSvrInfo(&empty), -1);
}

TEST(SqlhostsOptions, OptionFieldTable) {
  struct row {
    const char *protocol;
    const char *options;
    int rc;
    uint8_t security;
    uint8_t netrc;
    uint32_t keepalive;
    int32_t bufsize;
    uint8_t multiplex;
    const char *group;
    const char *endgroup;
    uint8_t redirect;
    int32_t ident;
    const char *csm; /* null: none */
  };
  const row rows[] = {
      {"tlitcp", "", 0, 3, 1, 1, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "k=0,b=4096", 0, 3, 1, 0, 4096, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "b=100", 0, 3, 1, 1, 140, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "b=32768", 0, 3, 1, 1, 32768, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "b=32769", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "b=0", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"ipcshm", "b=100", 0, 3, 1, 1, 0, 0, "", "", 0, 0, nullptr},
      {"ipcshm", "b=junk", 0, 3, 1, 1, 0, 0, "", "", 0, 0, nullptr},
      {"soctcp", "s=0 r=0 m=300 i=12", 0, 0, 0, 1, 0, 44, "", "", 0, 12, nullptr},
      {"tlitcp", "s=2,c=1,c=0", 0, 2, 1, 1, 0, 0, "", "", 1, 0, nullptr},
      {"tlitcp", "g=grp1,e=srv3", 0, 3, 1, 1, 0, 0, "grp1", "srv3", 0, 0, nullptr},
      {"tlitcp", "g=gr\xff", 0, 3, 1, 1, 0, 0, "gr\xff", "", 0, 0, nullptr},
      {"tlitcp", "csm=(C1)", 0, 3, 1, 1, 0, 0, "", "", 0, 0, "C1"},
      {"tlitcp", "csm=(C1),csm=(C2)", 0, 3, 1, 1, 0, 0, "", "", 0, 0, "C1"},
      {"tlitcp", "csm=(C1, k=0) k=0", 0, 3, 1, 0, 0, 0, "", "", 0, 0, "C1, k=0"},
      {"tlitcp", "csm=plain", 0, 3, 1, 1, 0, 0, "", "", 0, 0, "plain"},
      {"tlitcp", "z=9 xyz=1 k=0 # k=1", 0, 3, 1, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "k", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "k=", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "k=0,b", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "s=4", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "r=2", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "c=2", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "i=-1", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "m=2147483648", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
      {"tlitcp", "csm=(C1),k=9", -27004, 0, 0, 0, 0, 0, "", "", 0, 0, nullptr},
  };
  CountingMemory memory;
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.protocol) + " " + r.options);
    SvrInfo info {};
    std::strcpy(info.name, "srv");
    std::strcpy(info.protocol, r.protocol);
    std::strcpy(info.options, r.options);
    SqlhOptions opts;
    std::memset(&opts, 0x5a, sizeof opts);
    ASSERT_EQ(ASF_ParseSqlhOptions(&info, &opts), r.rc);
    if (r.rc != 0) {
      EXPECT_EQ(opts.csm, nullptr);
      EXPECT_EQ(memory.outstanding(), 0);
      continue;
    }
    EXPECT_EQ(opts.security, r.security);
    EXPECT_EQ(opts.netrc, r.netrc);
    EXPECT_EQ(opts.keepalive, r.keepalive);
    EXPECT_EQ(opts.bufsize, r.bufsize);
    EXPECT_EQ(opts.multiplex, r.multiplex);
    EXPECT_STREQ(opts.group, r.group);
    EXPECT_STREQ(opts.endgroup, r.endgroup);
    EXPECT_EQ(opts.redirect, r.redirect);
    EXPECT_EQ(opts.ident, r.ident);
    if (r.csm == nullptr) {
      EXPECT_EQ(opts.csm, nullptr);
    } else {
      EXPECT_STREQ(opts.csm, r.csm);
      asf_free(asf_pool_assoc, opts.csm);
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST(SqlhostsOptions, CommunicationSupportTextWithoutMemory) {
  SvrInfo info {};
  std::strcpy(info.protocol, "tlitcp");
  std::strcpy(info.options, "csm=(C1)");
  CountingMemory memory(1);
  SqlhOptions opts;
  EXPECT_EQ(ParseSqlhOptions(&info, &opts), -406);
  EXPECT_EQ(opts.csm, nullptr);
}

TEST(SqlhostsOptions, ParameterLists) {
  struct row {
    const char *text;
    int max;
    int rc;
    std::vector<std::pair<std::string, std::string>> pairs;
  };
  const row rows[] = {
      {"a=1, b=2 c=3", 32, 3, {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"a=1 # b=2", 32, 1, {{"a", "1"}}},
      {"a=1#b=2", 32, 1, {{"a", "1"}}},
      {"csm=(x=1, y=2) k=0", 32, 2, {{"csm", "(x=1, y=2)"}, {"k", "0"}}},
      {"a=(b(c, d) e) f=1", 32, 2, {{"a", "(b(c, d) e)"}, {"f", "1"}}},
      {"a=b=c", 32, 1, {{"a", "b=c"}}},
      {"=1", 32, 1, {{"", "1"}}},
      {"a=1 b=2 c=3", 2, 2, {{"a", "1"}, {"b", "2"}}},
      {"", 32, 0, {}},
      {" ,, \t", 32, 0, {}},
      {"a", 32, -1, {}},
      {"a=", 32, -1, {}},
      {"a=1 b", 32, -1, {}},
      {"a=1", 0, -1, {}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.text);
    std::string text = r.text;
    char *keys[32];
    char *values[32];
    int n = ASF_parmslist_parse(r.max, keys, values, text.data());
    ASSERT_EQ(n, r.rc);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(keys[i], r.pairs[size_t(i)].first);
      EXPECT_EQ(values[i], r.pairs[size_t(i)].second);
    }
  }
  char *keys[1];
  char *values[1];
  EXPECT_EQ(parmslist_parse(1, keys, values, nullptr), -1);
}

TEST(SqlhostsOptions, PositiveIntegersAgainstStrtoll) {
  for (const char *text :
       {"0", "7", "0000000001", "2147483647", "2147483646", "1999999999", "0000000000", "32768"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(asf_atoposi(text), static_cast<int>(std::strtoll(text, nullptr, 10)));
  }
  struct row {
    const char *text;
    int value;
  };
  const row refused[] = {{"", 0},     {"2147483648", -1}, {"9999999999", -1}, {"00000000001", -1},
                         {"12a", -1}, {"-1", -1},         {" 1", -1},         {"+1", -1},
                         {"1 ", -1}};
  for (const row &r : refused) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(asf_atoposi(r.text), r.value);
  }
}

const char *const servers_file =
    "# test servers\n"
    "srv1 ontlitcp host1 svc1\n"
    "bad ontlitcp host2\n"
    "srv2 olsoctcp host2 svc2 k=0\n";

TEST(SqlhostsFind, ServerOrItsFailure) {
  const std::string long_value(129, 'v');
  const std::string longest(128, 'w');
  const std::string file = std::string(servers_file) + longest + " ontlitcp h s\n";
  struct row {
    const char *what;
    const char *server;
    std::optional<std::string> env;
    int rc;
    const char *host; /* of the entry found */
  };
  const row rows[] = {
      {"named", "srv2", std::nullopt, 0, "host2"},
      {"from DOVARIZASERVER", "", "srv1", 0, "host1"},
      {"null name reads DOVARIZASERVER", nullptr, "srv1", 0, "host1"},
      {"DOVARIZASERVER unset", "", std::nullopt, -25560, nullptr},
      {"DOVARIZASERVER too long", "", long_value, -25554, nullptr},
      {"DOVARIZASERVER of 128 characters", "", longest, 0, "h"},
      {"DOVARIZASERVER not listed", "", "nosuch", -25596, nullptr},
      {"named, not listed", "nosuch", "srv1", -25555, nullptr},
      {"invalid entry", "bad", std::nullopt, -25556, nullptr},
      {"prefix of a name", "srv", std::nullopt, -25555, nullptr},
  };
  Sqlhosts hosts(file);
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    ScopedEnv server("DOVARIZASERVER", r.env);
    SvrInfo info {};
    EXPECT_EQ(getSvrInfo(nullptr, r.server, &info), r.rc);
    if (r.host != nullptr) {
      EXPECT_STREQ(info.host, r.host);
    }
    // The same through an open file, read from its start each time.
    fbuf *f = ASF_OpenHosts(0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ASF_GetSvrInfo(f, r.server, &info), r.rc);
    EXPECT_EQ(ASF_GetSvrInfo(f, r.server, &info), r.rc);
    EXPECT_EQ(ASF_CloseHosts(f), 0);
  }
}

TEST(SqlhostsFind, FileFromDovarizadirOrMissing) {
  dvz_test::TempDir dir;
  dir.write("etc/sqlhosts", servers_file);
  ScopedEnv server("DOVARIZASERVER", std::nullopt);
  ScopedEnv named("DOVARIZASQLHOSTS", std::nullopt);
  for (const std::string &root : {dir.path(), dir.path() + "/"}) {
    SCOPED_TRACE(root);
    ScopedEnv home("DOVARIZADIR", root);
    SvrInfo info {};
    EXPECT_EQ(getSvrInfo(nullptr, "srv2", &info), 0);
  }
  {
    ScopedEnv empty("DOVARIZASQLHOSTS", "");
    ScopedEnv home("DOVARIZADIR", dir.path());
    SvrInfo info {};
    EXPECT_EQ(getSvrInfo(nullptr, "srv2", &info), 0);
  }
  ScopedEnv missing("DOVARIZASQLHOSTS", dir.file("none"));
  SvrInfo info {};
  EXPECT_EQ(getSvrInfo(nullptr, "srv1", &info), -25553);
  SvrInfo group {};
  SvrGroup list {};
  EXPECT_EQ(GetSvrGroup(nullptr, "g", &group, &list), -25553);
}

/* The names of a group's members, in order. */
std::vector<std::string> member_names(const SvrGroup &list) {
  std::vector<std::string> names;
  for (SvrGroupNode *n = list.first; n != nullptr; n = n->next)
    names.emplace_back(n->info.name);
  EXPECT_EQ(names.size(), size_t(list.count));
  return names;
}

using names = std::vector<std::string>;

TEST(SqlhostsGroups, MembersUntilTheGroupEnds) {
  struct row {
    const char *what;
    std::string file;
    int rc;
    names members;
  };
  const row rows[] = {
      {"e= names the last member",
       "g1 group - - e=srv3\n"
       "srv1 ontlitcp h1 s1 g=g1\nsrv2 ontlitcp h2 s2 g=g1\nsrv3 ontlitcp h3 s3 g=g1\n"
       "srv4 ontlitcp h4 s4 g=g1\n",
       0,
       {"srv1", "srv2", "srv3"}},
      {"without e= a line without g= ends the group",
       "g1 group - -\n"
       "srv1 ontlitcp h1 s1 g=g1\nlone ontlitcp h s\nsrv2 ontlitcp h2 s2 g=g1\n",
       0,
       {"srv1"}},
      {"with e= a line without g= is skipped unless it is the end",
       "g1 group - - e=end\n"
       "srv1 ontlitcp h1 s1 g=g1\nlone ontlitcp h s\nsrv2 ontlitcp h2 s2 g=g1\n"
       "end ontlitcp h s\nsrv3 ontlitcp h3 s3 g=g1\n",
       0,
       {"srv1", "srv2"}},
      {"members of another group are skipped",
       "g1 group - -\n"
       "srv1 ontlitcp h1 s1 g=g1\nother ontlitcp h s g=g2\nsrv2 ontlitcp h2 s2 g=g1\n",
       0,
       {"srv1", "srv2"}},
      {"members before the group line do not count",
       "srv0 ontlitcp h0 s0 g=g1\ng1 group - -\nsrv1 ontlitcp h1 s1 g=g1\n",
       0,
       {"srv1"}},
      {"an invalid line ends with an error",
       "g1 group - -\nsrv1 ontlitcp h1 s1 g=g1\nbroken ontlitcp h1\n",
       -25556,
       {}},
      {"bad member options", "g1 group - -\nsrv1 ontlitcp h1 s1 g=g1,k=7\n", -27004, {}},
      {"bad group options", "g1 group - - c=5\nsrv1 ontlitcp h1 s1 g=g1\n", -27004, {}},
      {"no member", "g1 group - -\nlone ontlitcp h s\n", -25555, {}},
  };
  CountingMemory memory;
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    Sqlhosts hosts(r.file);
    SvrInfo group {};
    ASSERT_EQ(getSvrInfo(nullptr, "g1", &group), 0);
    SvrGroup list {};
    EXPECT_EQ(ASF_GetSvrGroup(nullptr, "g1", &group, &list), r.rc);
    EXPECT_EQ(member_names(list), r.members);
    ASF_FreeSvrGroup(&list);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST(SqlhostsGroups, NoMemberNamedByDovarizaserver) {
  Sqlhosts hosts("g1 group - -\n");
  ScopedEnv server("DOVARIZASERVER", "g1");
  SvrInfo group {};
  ASSERT_EQ(getSvrInfo(nullptr, "", &group), 0);
  SvrGroup list {};
  EXPECT_EQ(GetSvrGroup(nullptr, "", &group, &list), -25596);
  EXPECT_EQ(list.count, 0);
}

/* The clock seam at a fixed time for the object's life. */
class FixedClock {
 public:
  explicit FixedClock(time_t now) : previous_(os_clock) {
    fixed_now() = now;
    os_clock = &table;
  }
  ~FixedClock() { os_clock = previous_; }
  FixedClock(const FixedClock &) = delete;
  FixedClock &operator=(const FixedClock &) = delete;

 private:
  static time_t &fixed_now() {
    static time_t now;
    return now;
  }
  static time_t now() { return fixed_now(); }
  static unsigned sleep(unsigned) { return 0; }
  static constexpr os_clock_seam table = {now, sleep};
  const os_clock_seam *previous_;
};

/* asf_rand's value for the next rand() at time now, in unsigned
** arithmetic with 31 bits kept. */
uint32_t expected_rand(uint32_t next_rand, time_t now) {
  uint32_t product = next_rand * static_cast<uint32_t>(now);
  return (product / static_cast<uint32_t>(getpid())) & 0x7fffffffu;
}

TEST(SqlhostsGroups, RandomNumberIsNonNegativeAndSeeded) {
  // Times whose product with rand() overflows a signed word.
  for (time_t now : {time_t {1}, time_t {1700000000}, time_t {4294967295}}) {
    FixedClock clock(now);
    for (unsigned seed : {1u, 7u, 12345u, 4000000000u}) {
      SCOPED_TRACE(std::to_string(now) + " " + std::to_string(seed));
      srand(seed);
      uint32_t next = static_cast<uint32_t>(rand());
      srand(seed);
      int value = asf_rand();
      EXPECT_GE(value, 0);
      EXPECT_EQ(static_cast<uint32_t>(value), expected_rand(next, now));
    }
  }
}

TEST(SqlhostsGroups, RedirectionStartsAtTheDrawnMember) {
  Sqlhosts hosts(
      "g1 group - - c=1\n"
      "srv1 ontlitcp h1 s1 g=g1\nsrv2 ontlitcp h2 s2 g=g1\nsrv3 ontlitcp h3 s3 g=g1\n");
  const names rotations[] = {
      {"srv1", "srv2", "srv3"}, {"srv2", "srv3", "srv1"}, {"srv3", "srv1", "srv2"}};
  FixedClock clock(1700000000);
  bool seen[3] = {};
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    srand(seed);
    uint32_t r = expected_rand(static_cast<uint32_t>(rand()), 1700000000) % 3 + 1;
    seen[r - 1] = true;
    srand(seed);
    SvrInfo group {};
    ASSERT_EQ(getSvrInfo(nullptr, "g1", &group), 0);
    SvrGroup list {};
    ASSERT_EQ(GetSvrGroup(nullptr, "g1", &group, &list), 0);
    EXPECT_EQ(member_names(list), rotations[r - 1]);
    ASF_FreeSvrGroup(&list);
  }
  EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
}

/* Descriptor 0 closed for the object's life, then restored. */
class StdinClosed {
 public:
  StdinClosed() : saved_(dup(0)) { close(0); }
  ~StdinClosed() {
    if (saved_ >= 0) {
      dup2(saved_, 0);
      close(saved_);
    }
  }
  StdinClosed(const StdinClosed &) = delete;
  StdinClosed &operator=(const StdinClosed &) = delete;

 private:
  int saved_;
};

TEST(SqlhostsGroups, FileOpenedAsDescriptorZero) {
  Sqlhosts hosts(
      "g1 group - -\nsrv1 ontlitcp h1 s1 g=g1\nsrv2 ontlitcp h2 s2 g=g1\nlone ontlitcp h s\n");
  StdinClosed closed;
  fbuf *f = openSqlhosts(0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->fd, 0);
  SvrInfo group {};
  ASSERT_EQ(getSvrInfo(f, "g1", &group), 0);
  // Each expansion rewinds the file: the second sees the same members.
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    SvrGroup list {};
    ASSERT_EQ(GetSvrGroup(f, "g1", &group, &list), 0);
    EXPECT_EQ(member_names(list), (names {"srv1", "srv2"}));
    ASF_FreeSvrGroup(&list);
  }
  SvrInfo lone {};
  EXPECT_EQ(getSvrInfo(f, "lone", &lone), 0);
  EXPECT_EQ(closeSqlhosts(f), 0);
  EXPECT_EQ(fcntl(0, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(SqlhostsMisc, SmallEntries) {
  int word = 0;
  EXPECT_EQ(ASF_BufferHeader(&word), 0);
  EXPECT_EQ(word, 10);
  EXPECT_EQ(ASF_BufferHeader(nullptr), -1);
  EXPECT_EQ(check_for_valid_connect_thread(), 0);
  EXPECT_EQ(check_for_valid_thread(), 0);
  EXPECT_EQ(ASF_ReadHosts(nullptr, nullptr), -1);
}

}  // namespace
