/*
** The name service: registries built from sqlhosts fixtures (groups,
** DBPATH, omitted entries, explicit addresses, gateways, logins and the
** .netrc option), its failures as statuses, the database-environment and
** DBPATH splitters, and a build that runs out of memory at every one of
** its allocations. Fixtures live in temporary directories named by
** DOVARIZASQLHOSTS; the home is the process's isolated one.
*/
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_ns.h"
#include "asf_tl.h"
#include "isolation.h"
#include "os_wrappers.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace {

using asf_test::CountingMemory;
using dvz_test::ScopedEnv;

/* A sqlhosts file named by DOVARIZASQLHOSTS, with DOVARIZASERVER and
** DBPATH as given (unset for nullopt). */
class Hosts {
 public:
  explicit Hosts(const std::string &content, std::optional<std::string> server = std::nullopt,
                 std::optional<std::string> dbpath = std::nullopt)
      : file_env_("DOVARIZASQLHOSTS", dir_.write("sqlhosts", content)),
        server_env_("DOVARIZASERVER", server),
        dbpath_env_("DBPATH", dbpath),
        bridge_env_("DID_ERARE_RURIDE", std::nullopt) {}
  const dvz_test::TempDir &dir() const { return dir_; }

 private:
  dvz_test::TempDir dir_;
  ScopedEnv file_env_;
  ScopedEnv server_env_;
  ScopedEnv dbpath_env_;
  ScopedEnv bridge_env_;
};

/* A file in the isolated home, removed afterwards. */
class HomeFile {
 public:
  HomeFile(const std::string &name, const std::string &content)
      : path_(oslib_test::isolated_home() + "/" + name) {
    FILE *f = std::fopen(path_.c_str(), "w");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fputs(content.c_str(), f);
      std::fclose(f);
    }
  }
  ~HomeFile() { unlink(path_.c_str()); }
  HomeFile(const HomeFile &) = delete;
  HomeFile &operator=(const HomeFile &) = delete;

 private:
  std::string path_;
};

std::string current_user() {
  char buf[ASF_USERNAME_SIZE];
  EXPECT_EQ(getCurUser(buf), 0);
  return buf;
}

std::string node_name() {
  char buf[ASF_NODENAME_SIZE];
  EXPECT_EQ(rhostname(buf, sizeof buf), 0);
  return buf;
}

/* Initialises the client locale while DOVARIZADIR still names the
** isolated tree: tests that point DOVARIZADIR elsewhere call it first. */
void warm_locale() {
  char server[NS_SERVER_SIZE];
  char db[NS_DBNAME_SIZE];
  ASSERT_EQ(parseDbenv("db@srv", server, db), 0);
}

std::string text_or_dash(const char *s) { return s != nullptr ? s : "-"; }

/* One entry as "server db product protocol address omit". */
std::string describe(const NSEntry &e) {
  return text_or_dash(e.servername) + " " + text_or_dash(e.dbpath) + " " + e.product + " " +
         e.protocol + " " + text_or_dash(e.addrtext) + " " + std::to_string(e.omit);
}

/* The outcome of one build. */
struct outcome {
  int rc = 0;
  int asfcode = 0;
  int oserr = 0;
  std::string errstr;
  std::vector<std::string> entries;
  std::vector<NSEntry> logins; /* loginkind, userword, credential of each entry */
  std::vector<std::string> users; /* "user/password" of each entry */
};

/* Builds the registry of kind and text, records it and frees it. */
outcome build(int kind, const char *text, int mode = 0, const nsuserinfo *ui = nullptr) {
  asfsvcctl ctl {};
  ctl.oserr = 99;
  nsnamereq req {kind, text};
  NSReg *reg = reinterpret_cast<NSReg *>(&ctl); /* must be overwritten */
  outcome o;
  o.rc = nsGetRegistry(&ctl, mode, ui, &req, &reg);
  o.asfcode = ctl.asfcode;
  o.oserr = ctl.oserr;
  o.errstr = ctl.errstr;
  if (o.rc != 0) {
    EXPECT_EQ(reg, nullptr);
    return o;
  }
  EXPECT_NE(reg, nullptr);
  if (reg == nullptr) return o;
  for (int i = 0; i < reg->count; ++i) {
    const NSEntry &e = reg->entry[i];
    o.entries.push_back(describe(e));
    o.logins.push_back(e);
    o.users.push_back(text_or_dash(e.user) + "/" + text_or_dash(e.password));
  }
  ASF_FreeNSReg(reg);
  return o;
}

const char *const base_hosts =
    "grp group - -\n"
    "g1 oltlitcp h1 s1 g=grp\n"
    "g2 ontlitcp h2 s2 g=grp\n"
    "g3 drtlitcp h3 s3 g=grp\n"
    "srv1 group - -\n"
    "m1 oltlitcp h1 s1 g=srv1\n"
    "m2 drtlitcp h4 s4 g=srv1\n"
    "srv2 olsoctcp h5 s5\n"
    "lone ontlitcp h6 s6\n"
    "se1 setlitcp h7 s7\n"
    "gw rdtlitcp hg sg\n"
    "pip olipcpip hp sqlexec\n"
    "pip2 olipcpip hp bin/prog\n"
    "pip3 olipcpip hp /opt/prog\n"
    "nonet oltlitcp hn sn r=0\n";

TEST(NameServiceRegistry, EntriesByNameRequest) {
  struct row {
    const char *what;
    std::optional<std::string> server;
    std::optional<std::string> dbpath;
    int kind;
    const char *text;
    int mode;
    std::vector<std::string> entries;
  };
  const row rows[] = {
      {"a database at a group: its members in order, DBPATH not read",
       "lone",
       "//srv2:/x",
       ns_req_dbenv,
       "stores@grp",
       0,
       {"g1 stores ol tlitcp h1|s1|tlitcp 0", "g2 stores on tlitcp h2|s2|tlitcp 0",
        "g3 stores dr tlitcp h3|s3|tlitcp 0"}},
      {"a bare database: the default server, then DBPATH; online servers refuse a local path",
       "srv1",
       "//srv2:/home/db",
       ns_req_dbenv,
       "stores",
       0,
       {"m1 stores ol tlitcp h1|s1|tlitcp 0", "m2 stores dr tlitcp h4|s4|tlitcp 0",
        "srv2 stores ol soctcp h5|s5|soctcp 0", "m2 /home/db/stores dr tlitcp h4|s4|tlitcp 0"}},
      {"mode 1 leaves DBPATH out",
       "srv1",
       "//srv2:/home/db",
       ns_req_dbenv,
       "stores",
       1,
       {"m1 stores ol tlitcp h1|s1|tlitcp 0", "m2 stores dr tlitcp h4|s4|tlitcp 0"}},
      {"a DBPATH server missing from sqlhosts is kept, omitted and never addressed",
       "lone",
       "//nosuch:",
       ns_req_dbenv,
       "stores",
       0,
       {"lone stores on tlitcp h6|s6|tlitcp 0", "nosuch stores   - -25559",
        "lone stores on tlitcp h6|s6|tlitcp 0"}},
      {"a DBPATH group and a directory ending in a slash",
       "lone",
       "//srv1/dir/:",
       ns_req_dbenv,
       "db",
       0,
       {"lone db on tlitcp h6|s6|tlitcp 0", "m2 /dir/db dr tlitcp h4|s4|tlitcp 0",
        "lone db on tlitcp h6|s6|tlitcp 0"}},
      {"the server alone",
       "srv2",
       "/home/db",
       ns_req_server,
       nullptr,
       0,
       {"srv2 - ol soctcp h5|s5|soctcp 0"}},
      {"no name: the default server, without database",
       "lone",
       std::nullopt,
       ns_req_default,
       nullptr,
       0,
       {"lone - on tlitcp h6|s6|tlitcp 0"}},
      {"a server named without database",
       "lone",
       "/home/db",
       ns_req_dbenv,
       "@srv2",
       0,
       {"srv2 - ol soctcp h5|s5|soctcp 0"}},
      {"//server/name opens the name on an online server",
       std::nullopt,
       std::nullopt,
       ns_req_dbenv,
       "//srv2/db",
       0,
       {"srv2 db ol soctcp h5|s5|soctcp 0"}},
      {"//server/dir/name keeps its path",
       std::nullopt,
       std::nullopt,
       ns_req_dbenv,
       "//srv2/dir/db",
       0,
       {"srv2 /dir/db ol soctcp h5|s5|soctcp 0"}},
      {"a trailing slash of a path is dropped",
       std::nullopt,
       std::nullopt,
       ns_req_dbenv,
       "/a/b/@srv2",
       0,
       {"srv2 /a/b ol soctcp h5|s5|soctcp 0"}},
      {"an explicit address: one entry, no product, sqlhosts not read",
       std::nullopt,
       std::nullopt,
       ns_req_address,
       "host1|svc1|ontlitcp",
       0,
       {"host1 -  ontlitc host1|svc1|ontlitcp 0"}},
      {"a back-end program name goes under lib/",
       std::nullopt,
       std::nullopt,
       ns_req_dbenv,
       "@pip",
       0,
       {"pip - ol ipcpip hp|/inst/lib/sqlexec|ipcpip 0"}},
      {"a relative program path goes under the installation",
       std::nullopt,
       std::nullopt,
       ns_req_dbenv,
       "@pip2",
       0,
       {"pip2 - ol ipcpip hp|/inst/bin/prog|ipcpip 0"}},
      {"an absolute program path stays",
       std::nullopt,
       std::nullopt,
       ns_req_dbenv,
       "@pip3",
       0,
       {"pip3 - ol ipcpip hp|/opt/prog|ipcpip 0"}},
      {"a gateway product reaches its gateway program through a pipe",
       std::nullopt,
       std::nullopt,
       ns_req_dbenv,
       "db@gw",
       0,
       {"gw db rd ipcpip ||ipcpip&hg|sg|tlitcp&se&rd|/inst/bin/sqlgwrdtlitcp|ipcpip 0"}},
  };
  warm_locale();
  ScopedEnv dir("DOVARIZADIR", "/inst");
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    Hosts hosts(base_hosts, r.server, r.dbpath);
    outcome o = build(r.kind, r.text, r.mode);
    ASSERT_EQ(o.rc, 0) << o.asfcode;
    EXPECT_EQ(o.asfcode, 0);
    EXPECT_EQ(o.oserr, 0);
    EXPECT_EQ(o.entries, r.entries);
  }
}

TEST(NameServiceRegistry, AddressTextIsANewStringAndRequestTextUntouched) {
  /* sqlhosts is not read for an explicit address. */
  dvz_test::TempDir dir;
  ScopedEnv file("DOVARIZASQLHOSTS", dir.file("missing"));
  char text[] = "host1|svc1|ontlitcp|b=4096";
  asfsvcctl ctl {};
  nsnamereq req {ns_req_address, text};
  NSReg *reg = nullptr;
  ASSERT_EQ(nsGetRegistry(&ctl, 0, nullptr, &req, &reg), 0);
  EXPECT_STREQ(text, "host1|svc1|ontlitcp|b=4096");
  ASSERT_EQ(reg->count, 1);
  EXPECT_STREQ(reg->entry[0].addrtext, "host1|svc1|ontlitcp");
  EXPECT_EQ(reg->entry[0].options.bufsize, 4096);
  EXPECT_NE(static_cast<void *>(reg->entry[0].addrtext), static_cast<void *>(text));
  ASF_FreeNSReg(reg);
}

TEST(NameServiceRegistry, FailuresAsStatuses) {
  const std::string long_server(129, 's');
  const std::string long_db(261, 'd');
  const std::string long_element = "/" + std::string(260, 'e');
  struct row {
    const char *what;
    std::string content;
    std::optional<std::string> server;
    std::optional<std::string> dbpath;
    int kind;
    std::optional<std::string> text;
    int status;
    const char *errstr;
  };
  const row rows[] = {
      {"an unknown server names itself", base_hosts, std::nullopt, std::nullopt, ns_req_dbenv,
       "db@nosuch", -25555, "nosuch"},
      {"DOVARIZASERVER unset", base_hosts, std::nullopt, std::nullopt, ns_req_server, std::nullopt,
       -25560, ""},
      {"DOVARIZASERVER not in sqlhosts", base_hosts, "nosuch", std::nullopt, ns_req_default,
       std::nullopt, -25596, ""},
      {"an invalid entry", "bad xxtlitcp h s\n", std::nullopt, std::nullopt, ns_req_dbenv, "@bad",
       -25556, ""},
      {"bad options", "o ontlitcp h s b=zz\n", std::nullopt, std::nullopt, ns_req_dbenv, "@o",
       -27004, ""},
      {"kind 2", base_hosts, "lone", std::nullopt, 2, "x", -25563, ""},
      {"kind 8", base_hosts, "lone", std::nullopt, 8, "x", -25563, ""},
      {"kind 3 without text", base_hosts, "lone", std::nullopt, ns_req_dbenv, std::nullopt, -25563,
       ""},
      {"kind 1 with an empty text", base_hosts, "lone", std::nullopt, ns_req_address, "", -25563,
       ""},
      {"an address without protocol", base_hosts, std::nullopt, std::nullopt, ns_req_address, "h|s",
       -25557, ""},
      {"bad options of an address", base_hosts, std::nullopt, std::nullopt, ns_req_address,
       "h|s|ontlitcp|b=zz", -27004, ""},
      {"a long database name", base_hosts, std::nullopt, std::nullopt, ns_req_dbenv,
       long_db + "@lone", -909, ""},
      {"a long server name", base_hosts, std::nullopt, std::nullopt, ns_req_dbenv,
       "db@" + long_server, -909, ""},
      {"a long server after //", base_hosts, std::nullopt, std::nullopt, ns_req_dbenv,
       "//" + long_server + "/db", -906, ""},
      {"a long DBPATH element", base_hosts, "lone", long_element, ns_req_dbenv, "db", -373, ""},
      {"a DBPATH path that grows too long", base_hosts, "lone", "/" + std::string(255, 'e'),
       ns_req_dbenv, "dbname", -373, ""},
      {"a long back-end program path", "p olipcpip h " + std::string(128, 'p') + "\n", std::nullopt,
       std::nullopt, ns_req_dbenv, "@p", -25557, ""},
  };
  warm_locale();
  ScopedEnv dir("DOVARIZADIR", "/" + std::string(140, 'i'));
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    Hosts hosts(r.content, r.server, r.dbpath);
    outcome o = build(r.kind, r.text ? r.text->c_str() : nullptr);
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.asfcode, r.status);
    EXPECT_EQ(o.oserr, 0);
    EXPECT_EQ(o.errstr, r.errstr);
  }
  Hosts hosts(base_hosts);
  {
    SCOPED_TRACE("no sqlhosts file");
    ScopedEnv file("DOVARIZASQLHOSTS", hosts.dir().file("missing"));
    EXPECT_EQ(build(ns_req_dbenv, "@lone").asfcode, -25553);
  }
  {
    SCOPED_TRACE("a bad user kind");
    nsuserinfo ui {2, "u", "p", 0, nullptr};
    EXPECT_EQ(build(ns_req_dbenv, "@lone", 0, &ui).asfcode, -25563);
  }
  asfsvcctl ctl {};
  nsnamereq req {ns_req_server, nullptr};
  EXPECT_EQ(nsGetRegistry(&ctl, 0, nullptr, &req, nullptr), -1);
  EXPECT_EQ(ctl.asfcode, -25563);
  NSReg *reg = nullptr;
  EXPECT_EQ(nsGetRegistry(&ctl, 0, nullptr, nullptr, &reg), -1);
  EXPECT_EQ(nsGetRegistry(nullptr, 0, nullptr, &req, &reg), -1);
}

TEST(NameServiceRegistry, NeverMoreThan101Entries) {
  for (int members : {101, 102}) {
    SCOPED_TRACE(members);
    std::string content = "big group - -\n";
    for (int i = 0; i < members; ++i)
      content += "b" + std::to_string(i) + " ontlitcp h s g=big\n";
    Hosts hosts(content);
    CountingMemory memory;
    outcome o = build(ns_req_dbenv, "db@big");
    if (members == 101) {
      ASSERT_EQ(o.rc, 0);
      EXPECT_EQ(o.entries.size(), 101u);
      EXPECT_EQ(o.entries.back(), "b100 db on tlitcp h|s|tlitcp 0");
    } else {
      EXPECT_EQ(o.asfcode, -25557);
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
  /* DBPATH stops reading once the registry is full. */
  std::string content = "big group - -\n";
  for (int i = 0; i < 100; ++i)
    content += "b" + std::to_string(i) + " ontlitcp h s g=big\n";
  Hosts hosts(content + "lone ontlitcp h s\n", "big", "//lone:/x:/y");
  outcome o = build(ns_req_dbenv, "db");
  ASSERT_EQ(o.rc, 0) << o.asfcode;
  EXPECT_EQ(o.entries.size(), 101u);
  EXPECT_EQ(o.entries.back(), "lone db on tlitcp h|s|tlitcp 0");
}

TEST(NameServiceRegistry, FailedBuildFreesEverything) {
  /* Two entries with a communication-support text and a password from
  ** .netrc: every allocation of the build fails once in turn. */
  Hosts hosts(
      "two group - -\n"
      "t1 ontlitcp far1 s csm=(c1),g=two\n"
      "t2 drtlitcp far2 s g=two\n",
      std::nullopt, "//two");
  HomeFile netrc(".netrc", "machine far1 login bob password pw\n");
  int needed = 0;
  {
    CountingMemory memory;
    outcome o = build(ns_req_dbenv, "db@two");
    ASSERT_EQ(o.rc, 0) << o.asfcode;
    ASSERT_EQ(o.users[0], "bob/pw");
    needed = memory.allocations();
    EXPECT_EQ(memory.outstanding(), 0);
  }
  ASSERT_GT(needed, 5);
  for (int n = 1; n <= needed; ++n) {
    SCOPED_TRACE(n);
    CountingMemory memory(n);
    outcome o = build(ns_req_dbenv, "db@two");
    /* A reader that cannot be made counts as a missing file: sqlhosts
    ** then fails the build, .netrc just gives no password. */
    if (o.rc != 0) {
      EXPECT_TRUE(o.asfcode == -406 || o.asfcode == -25553) << o.asfcode;
    }
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST(NameServiceLogins, UserKindsAndNetrc) {
  const std::string me = current_user();
  const std::string here = node_name();
  Hosts hosts(
      "far oltlitcp farhost s\n"
      "off oltlitcp farhost s r=0\n"
      "near oltlitcp " +
      here + " s\n");
  HomeFile netrc(".netrc",
                 "machine farhost login bob password pw\n"
                 "machine " +
                     here + " password localpw\n");
  int credential = 0;
  struct row {
    const char *what;
    const char *text;
    std::optional<nsuserinfo> ui;
    bool bridge;
    int loginkind;
    std::string user;
    void *credential;
  };
  const row rows[] = {
      {"no user: the current one, with the .netrc login", "@far", std::nullopt, false, 1, "bob/pw",
       nullptr},
      {"user kind 0 as no user", "@far", nsuserinfo {0, "x", "y", 7, &credential}, false, 1,
       "bob/pw", nullptr},
      {"user and password: no look-up", "@far", nsuserinfo {1, "ann", "secret", 7, nullptr}, false,
       1, "ann/secret", nullptr},
      {"a user without password looks up .netrc", "@far",
       nsuserinfo {1, me.c_str(), nullptr, 7, nullptr}, false, 1, "bob/pw", nullptr},
      {"a user unknown to the passwd file finds no .netrc", "@far",
       nsuserinfo {1, "no-such-user-x", nullptr, 7, nullptr}, false, 1, "no-such-user-x/-",
       nullptr},
      {"kind 1 without a name is the current user", "@far",
       nsuserinfo {1, "", "ignored", 7, nullptr}, false, 1, "bob/pw", nullptr},
      {"option r off: no look-up", "@off", std::nullopt, false, 17, me + "/-", nullptr},
      {"a credential keeps its kind", "@far", nsuserinfo {16, "ann", nullptr, 7, &credential},
       false, 16, "ann/-", &credential},
      {"this host: no look-up", "@near", std::nullopt, false, 17, me + "/-", nullptr},
      {"this host with DID_ERARE_RURIDE: only a password, the user's own name", "@near",
       std::nullopt, true, 1, me + "/localpw", nullptr},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    std::optional<ScopedEnv> bridge;
    if (r.bridge) bridge.emplace("DID_ERARE_RURIDE", "");
    outcome o = build(ns_req_dbenv, r.text, 0, r.ui ? &*r.ui : nullptr);
    ASSERT_EQ(o.rc, 0) << o.asfcode;
    ASSERT_EQ(o.users.size(), 1u);
    EXPECT_EQ(o.users[0], r.user);
    EXPECT_EQ(o.logins[0].loginkind, r.loginkind);
    EXPECT_EQ(o.logins[0].userword, r.ui ? 7u : 0u);
    EXPECT_EQ(o.logins[0].credential, r.credential);
  }
}

TEST(NameServiceParts, GatewayAddressOfAProduct) {
  warm_locale();
  ScopedEnv dir("DOVARIZADIR", "/opt/dvz");
  SvrInfo info {};
  std::strcpy(info.name, "gwsrv");
  std::strcpy(info.product, "xy");
  std::strcpy(info.protocol, "tlitcp");
  std::strcpy(info.host, "hostg");
  std::strcpy(info.service, "svcg");
  NSReg *reg = static_cast<NSReg *>(calloc(1, sizeof(NSReg)));
  ASSERT_NE(reg, nullptr);
  nsuserinfo ui {1, "ann", "pw", 0, nullptr};
  ASSERT_EQ(nsAddEntry(nullptr, &info, "db", &ui, reg, "gwsrv", 0), 0);
  const NSEntry &e = reg->entry[0];
  EXPECT_STREQ(e.product, "xy");
  EXPECT_STREQ(e.protocol, "ipcpip");
  EXPECT_STREQ(e.addrtext, "||ipcpip&hostg|svcg|tlitcp&se&xy|/opt/dvz/bin/sqlgwxytlitcp|ipcpip");
  EXPECT_EQ(nsIsGateway("xy"), 1);
  for (const char *direct : {"on", "ol", "se", "raw", "dr", ""})
    EXPECT_EQ(nsIsGateway(direct), 0) << direct;
  frNSEntry(1, &reg->entry[0], 0);
  free(reg);
}

TEST(NameServiceParts, DatabaseEnvironments) {
  const std::string s128(128, 's');
  const std::string d260(260, 'd');
  struct row {
    std::string text;
    int rc;
    std::string server;
    std::string db;
  };
  const row rows[] = {
      {"", 0, "", ""},
      {"stores@srv", 0, "srv", "stores"},
      {"stores@srv trailing words", 0, "srv", "stores"},
      {"@srv", 0, "srv", ""},
      {"stores@", 0, "", "stores"},
      {d260 + "@" + s128, 0, s128, d260},
      {d260 + "d@srv", -909, "", ""},
      {"db@" + s128 + "s", -909, "", ""},
      {"//srv/db", 0, "srv", "/db"},
      {"//srv/dir/db more", 0, "srv", "/dir/db"},
      {"//srv", 0, "srv", ""},
      {"//" + s128 + "/db", 0, s128, "/db"},
      {"//" + s128 + "s/db", -906, "", ""},
      {"//" + s128 + "s", -906, "", ""},
      {"//srv/" + d260, -909, "", ""},
      {"/home/db/stores", 0, "", "/home/db/stores"},
      {"/" + d260, -909, "", ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.text);
    char server[NS_SERVER_SIZE];
    char db[NS_DBNAME_SIZE];
    std::memset(server, 'Z', sizeof server);
    std::memset(db, 'Z', sizeof db);
    ASSERT_EQ(parseDbenv(r.text.c_str(), server, db), r.rc);
    if (r.rc == 0) {
      EXPECT_EQ(server, r.server);
      EXPECT_EQ(db, r.db);
    }
  }
}

TEST(NameServiceParts, DbpathElements) {
  struct row {
    std::string element;
    int rc;
    std::string server;
    std::string path;
  };
  const row rows[] = {
      {"//srv2", 0, "srv2", "stores"},
      {"//srv2/dir", 0, "srv2", "/dir/stores"},
      {"/home/db", 0, "", "/home/db/stores"},
      {"/home/db/", 0, "", "/home/db/stores"},
      {"rel", 0, "", "rel/stores"},
      {"", 0, "", "stores"},
      {"/" + std::string(252, 'p'), 0, "", "/" + std::string(252, 'p') + "/stores"},
      {"/" + std::string(253, 'p'), -373, "", ""},
      {"//" + std::string(129, 's'), -373, "", ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.element);
    char server[NS_SERVER_SIZE];
    char path[NS_DBNAME_SIZE];
    ASSERT_EQ(nsNewDbenv(r.element.c_str(), "stores", server, path), r.rc);
    if (r.rc == 0) {
      EXPECT_EQ(server, r.server);
      EXPECT_EQ(path, r.path);
    }
  }
  /* The splitter: empty elements count, 259 characters fit, 260 do not. */
  const std::string ok(259, 'e');
  const std::string text = "a::" + ok + ":" + ok + "x";
  std::vector<std::string> seen;
  const char *next = text.c_str();
  char element[NS_DBNAME_SIZE];
  int rc = 0;
  while (next != nullptr && (rc = nsGetDbpentry(next, element, &next)) == 0)
    seen.push_back(element);
  EXPECT_EQ(rc, -373);
  EXPECT_EQ(seen, (std::vector<std::string> {"a", "", ok}));
}

TEST(NameServiceParts, OmitRulesAndLocalDatabases) {
  dvz_test::TempDir dir;
  dir.write("stores.dbs/.keep", "");
  const std::string here = node_name();
  SvrInfo se {};
  std::strcpy(se.product, "se");
  std::strcpy(se.host, here.c_str());
  SvrInfo ol {};
  std::strcpy(ol.product, "ol");
  std::strcpy(ol.host, "far");
  SvrInfo far_se = se;
  std::strcpy(far_se.host, "far");
  struct row {
    const SvrInfo *member;
    std::string path;
    int refused;
  };
  const row rows[] = {
      {&se, dir.file("stores"), 0},
      {&se, dir.file("STORES"), 0}, /* the base name is lower-cased */
      {&se, dir.file("other"), 1},
      {&se, dir.path() + "/", 0},
      {&se, "", 0},
      {&far_se, dir.file("other"), 0},
      {&ol, "/home/db/stores", 1},
      {&ol, "//srv/stores", 0},
      {&ol, "stores", 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(nsOmit(r.member, r.path.c_str()), r.refused);
  }
  EXPECT_EQ(isLocHost("localhost"), 1);
  EXPECT_EQ(isLocHost(here.c_str()), 1);
  EXPECT_EQ(isLocHost("far"), 0);
  EXPECT_EQ(nsIsLocalSE(&se), 1);
  EXPECT_EQ(nsIsLocalSE(&far_se), 0);
  EXPECT_EQ(slashCnt("/a/b"), 2);
  EXPECT_EQ(nsInit() + nsTerm() + nsIsTransBridge(), 0);
}

TEST(NameServiceRegistry, LocalSeServerLocatesTheDatabase) {
  dvz_test::TempDir dir;
  dir.write("stores.dbs/.keep", "");
  const std::string here = node_name();
  Hosts hosts("se1 setlitcp " + here + " s\n", "se1", std::nullopt);
  outcome o = build(ns_req_dbenv, dir.file("Stores").c_str());
  ASSERT_EQ(o.rc, 0) << o.asfcode;
  ASSERT_EQ(o.entries.size(), 1u);
  EXPECT_EQ(o.entries[0], "se1 " + dir.file("stores") + " se tlitcp " + here + "|s|tlitcp 0");
}

}  // namespace
