/*
** Tests of the text form of the connect request, its parser, the
** old-protocol replies and the choice of form: the command line word by
** word, the option words of every connect kind, the binary form for what
** the command line cannot carry, the size limit of a request, the parser
** reading back every writable kind, and the old replies as a table.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asc_codec.h"
#include "asc_wire_bytes.h"

namespace {

using asc_test::Bytes;
using asf_test::CountingMemory;

char *S(const char *s) { return const_cast<char *>(s); }

ascbinreq client_params(const char *prog, const char *user, const char *password) {
  ascbinreq p {};
  std::strcpy(p.progname, prog);
  p.version = S("9.250");
  p.clientid = S("dvz");
  p.pfname = S("sqli");
  p.word[0] = 311;
  p.userkind = 1;
  p.user = S(user);
  p.password = S(password);
  std::memcpy(p.pairs.product, "ol", 3);
  p.pairs.level = 61;
  std::memcpy(p.pairs.protocol, "tlitcp", 7);
  p.pairs.version = 1;
  return p;
}

struct Conkind {
  pfconkind ck {};
  pfrequest req {asc_pf_conkind, &ck};
  Conkind(int kind, int flags, std::vector<const char *> strs = {}) {
    ck.kind = kind;
    ck.flags = flags;
    for (size_t i = 0; i < strs.size(); ++i)
      ck.str[i] = S(strs[i]);
  }
};

/* Writes the text request; the text without its NUL, or "" on failure. */
struct Text {
  int rc;
  asfsvcctl ctl {};
  std::string line;
  int32_t size = 0;
};
Text write_text(ascbinreq *p, pfrequest *req, evlist_t *env = nullptr, int32_t room = 2056,
                asfprocinfo *pi = nullptr) {
  Text t;
  std::vector<char> area(static_cast<size_t>(room) + 1);
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = room;
  int32_t level = 61;
  t.rc = ascString(&t.ctl, 1, &buf, &level, &p, &req, &env, pi, nullptr);
  if (t.rc == 0) {
    t.size = buf.size;
    t.line.assign(area.data(), static_cast<size_t>(buf.size));
  }
  return t;
}

/* The words of a line between "sqlexec ... " and " -fIEEEM". */
std::string options_of(const std::string &line) {
  size_t a = line.find(" dvz ");
  size_t b = line.find(" -fIEEEM");
  if (a == std::string::npos || b == std::string::npos) return "?";
  return line.substr(a + 5, b - a - 5);
}

TEST(AscStringWrite, CommandLineForOpenDatabase) {
  ascbinreq p = client_params("sqlexec", "alice", nullptr);
  Conkind k(2, 0, {"srv", "db"});
  asfprocinfo pi {0, 77, 0, S("host"), nullptr, S("/"), 1, 2};
  Text t = write_text(&p, &k.req, nullptr, 2056, &pi);
  ASSERT_EQ(t.rc, 0) << t.ctl.asfcode;
  const std::string head = "sqlexec alice  9.250 dvz -ddb -fIEEEM :";
  ASSERT_EQ(t.line.substr(0, head.size()), head);
  EXPECT_EQ(t.line.back(), '\0');
  EXPECT_EQ(t.size, static_cast<int32_t>(t.line.size()));

  /* The text behind ":" is section 109 with the process information. */
  std::string text = t.line.substr(head.size(), t.line.size() - head.size() - 1);
  std::vector<char> area(text.begin(), text.end());
  area.push_back('\0');
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = static_cast<int32_t>(text.size());
  asfsvcctl ctl {};
  int32_t code = 0, level = 0;
  ascmrec m {};
  asfprocinfo back {};
  ascbinreq *none = nullptr;
  pfdatafmt fmt;
  ASSERT_EQ(ascScatter(&ctl, 2, &buf, &code, &m, &level, &none, nullptr, nullptr, &back, &fmt), 0);
  EXPECT_EQ(code, 109);
  EXPECT_EQ(m.level, 61);
  EXPECT_EQ(m.kind, 2);
  EXPECT_STREQ(m.server, "srv");
  EXPECT_STREQ(m.pfname, "sqli");
  EXPECT_EQ(back.pid, 77);
  ascFreeMrec(&m);
  ascFreeProcinfo(&back);
}

TEST(AscStringWrite, OptionWordsOfEveryWritableKind) {
  struct Case {
    const char *name;
    int kind;
    int flags;
    std::vector<const char *> strs;
    const char *want;
  } cases[] = {
      {"create, no log", 1, 0, {"s", "db"}, "-cdb -"},
      {"create, log argument, buffered", 1, 0x801, {"s", "db", "larg"}, "-cdb larg -b"},
      {"create, -a log file", 1, 0x1000002, {"s", "db", nullptr, "/l/f"}, "-cdb - -a/l/f"},
      {"create, -l", 1, 0x81, {"s", "db", "x"}, "-cdb x -l"},
      {"open", 2, 0, {"s", "db"}, "-ddb"},
      {"open exclusive", 2, 4, {"s", "db"}, "-ddb -e"},
      {"start -l file", 3, 0x82, {"s", "db", nullptr, "lf"}, "-sdb - -llf"},
      {"distributed -n", 4, 64, {"s", "db"}, "-ndb -n"},
      {"distributed -a", 4, 0x1000000, {"s", "db"}, "-ndb -a"},
      {"drop", 5, 0, {"s", "db"}, "-rdb"},
      {"no database", 6, 0, {"s", "ignored"}, "-p"},
      {"database list", 7, 0, {"s", nullptr, "pat"}, "-lpat"},
      {"x", 10, 0, {}, "-x"},
      {"connect, empty database", 11, 0, {"s", ""}, "-p"},
      {"connect, no database", 11, 0, {"s"}, "-p"},
      {"connect with database", 11, 0, {"s", "db"}, "-ddb"},
      {"group with -gr", 2, 16, {"s", "db", nullptr, nullptr, nullptr, "grp"}, "-ddb -gr grp"},
      {"group with argument", 6, 0, {"s", nullptr, nullptr, nullptr, "ga", "grp"}, "-p -g grp ga"},
  };
  for (const Case &c : cases) {
    ascbinreq p = client_params("sqlexec", "u", "pw");
    Conkind k(c.kind, c.flags, c.strs);
    Text t = write_text(&p, &k.req);
    ASSERT_EQ(t.rc, 0) << c.name;
    EXPECT_EQ(options_of(t.line), c.want) << c.name;
    EXPECT_EQ(t.line.substr(0, 21), "sqlexec u -ppw 9.250 ") << c.name;
  }
}

TEST(AscStringWrite, Failures) {
  ascbinreq p = client_params("sqlexec", "u", nullptr);
  for (int kind : {0, 8, 9, 12, -1}) {
    Conkind k(kind, 0);
    Text t = write_text(&p, &k.req);
    EXPECT_EQ(t.rc, -1) << kind;
    EXPECT_EQ(t.ctl.asfcode, -25563) << kind;
  }
  pfopaque op {};
  pfrequest opaque {asc_pf_opaque, &op};
  Text t = write_text(&p, &opaque);
  EXPECT_EQ(t.ctl.asfcode, -27003);

  /* An environment item that does not fit, and a line without room for
  ** its 6-bit part: -406. */
  std::string big(300, 'v');
  char *names[] = {S("A")};
  char *values[] = {big.data()};
  evlist_t env {1, names, values};
  Conkind k(6, 0);
  Text e = write_text(&p, &k.req, &env, 200);
  EXPECT_EQ(e.rc, -1);
  EXPECT_EQ(e.ctl.asfcode, -406);
  Text s = write_text(&p, &k.req, nullptr, 45);
  EXPECT_EQ(s.rc, -1);
  EXPECT_EQ(s.ctl.asfcode, -406);
}

TEST(AscStringWrite, EnvironmentItemsAndIenvcatRoom) {
  char buf[16] = "x";
  EXPECT_EQ(_ienvcat(buf, 16, "AB", "cd"), 0);
  EXPECT_STREQ(buf, "x AB=cd");
  /* "x AB=cd E=123456" is 16 characters: it reaches the room. */
  EXPECT_EQ(_ienvcat(buf, 16, "E", "123456"), -1);
  EXPECT_STREQ(buf, "x AB=cd");
  EXPECT_EQ(_ienvcat(buf, 16, "E", "12345"), 0);
  EXPECT_STREQ(buf, "x AB=cd E=12345");

  ascbinreq p = client_params("sqlexec", "u", nullptr);
  Conkind k(6, 0);
  char *names[] = {S("DBPATH"), S("LANG")};
  char *values[] = {S("."), S("C")};
  evlist_t env {2, names, values};
  Text t = write_text(&p, &k.req, &env);
  ASSERT_EQ(t.rc, 0);
  EXPECT_EQ(t.line.substr(0, 46), "sqlexec u  9.250 dvz -p -fIEEEM DBPATH=. LANG=");
}

/* Builds a client request with ascBuildRequest. */
struct Built {
  int rc;
  int form = 0;
  asfsvcctl ctl {};
  std::string bytes;
};
Built build(ascbinreq *p, pfrequest *req, evlist_t *env) {
  Built b;
  std::vector<char> area(ASC_REQUEST_BUFSIZE);
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = ASC_REQUEST_BUFSIZE;
  asfprocinfo pi {0, 1, 0, S("h"), nullptr, S("/"), 1, 1};
  b.rc = ascBuildRequest(&b.ctl, &buf, 61, p, req, env, &pi, &b.form);
  if (b.rc == 0) b.bytes.assign(area.data(), static_cast<size_t>(buf.size));
  return b;
}

TEST(AscBuildRequest, ChoosesTheBinaryFormForWhatTheLineCannotCarry) {
  char *plain_n[] = {S("DBPATH")};
  char *plain_v[] = {S(".")};
  char *eq_v[] = {S("a=b")};
  char *blank_n[] = {S("MY VAR")};
  evlist_t plain {1, plain_n, plain_v};
  evlist_t equals {1, plain_n, eq_v};
  evlist_t blank {1, blank_n, plain_v};
  struct Case {
    const char *name;
    const char *prog;
    const char *user;
    const char *password;
    evlist_t *env;
    bool binary;
  } cases[] = {
      {"plain", "sqlexec", "u", "pw", &plain, false},
      {"server program", "srvdvz", "u", nullptr, nullptr, false},
      {"password with a blank", "sqlexec", "u", "p w", &plain, true},
      {"user with a blank", "sqlexec", "u v", nullptr, nullptr, true},
      {"environment value with =", "sqlexec", "u", "pw", &equals, true},
      {"environment name with a blank", "sqlexec", "u", "pw", &blank, true},
      {"tape program", "ruzodu", "u", "pw", &plain, true},
  };
  for (const Case &c : cases) {
    ascbinreq p = client_params(c.prog, c.user, c.password);
    Conkind k(6, 0, {"srv"});
    EXPECT_EQ(needAscBinary(&p, c.env) == 1, c.binary && std::strcmp(c.prog, "ruzodu") != 0)
        << c.name;
    Built b = build(&p, &k.req, c.env);
    ASSERT_EQ(b.rc, 0) << c.name;
    if (!c.binary) {
      EXPECT_EQ(b.form, asc_form_text) << c.name;
      EXPECT_EQ(b.bytes.substr(0, 8), "sqlexec ") << c.name;
      EXPECT_EQ(b.bytes.back(), '\0') << c.name;
      continue;
    }
    EXPECT_EQ(b.form, asc_form_binary) << c.name;
    Bytes start;
    start.u16(100).u16(101).u32(61).u16(6).raw("IEEEM", 6).u16(108);
    EXPECT_EQ(b.bytes.substr(0, 18), start.text()) << c.name;
    EXPECT_EQ(b.bytes.substr(18, std::strlen(c.prog)), c.prog) << c.name;
    EXPECT_EQ(b.bytes.substr(b.bytes.size() - 2), std::string("\0\x7f", 2)) << c.name;
  }
}

TEST(AscBuildRequest, RequestsOver2050BytesFailBeforeSending) {
  ascbinreq p = client_params("ruzodu", "u", "pw");
  Conkind k(6, 0, {"srv"});
  Built base = build(&p, &k.req, nullptr);
  ASSERT_EQ(base.rc, 0);
  /* One environment entry adds 6 + 2 + 2 + 2 + value bytes. */
  int32_t fixed = static_cast<int32_t>(base.bytes.size()) + 2 + 2 + 2 + 2 + 2;
  for (int32_t total : {2049, 2050, 2051, 2052, 2055}) {
    std::string value(static_cast<size_t>(total - fixed - 1), 'v');
    char *names[] = {S("A")};
    char *values[] = {value.data()};
    evlist_t env {1, names, values};
    Built b = build(&p, &k.req, &env);
    if (total <= 2050) {
      ASSERT_EQ(b.rc, 0) << total;
      EXPECT_EQ(static_cast<int32_t>(b.bytes.size()), total);
    } else {
      EXPECT_EQ(b.rc, -1) << total;
      EXPECT_EQ(b.ctl.asfcode, -408) << total;
    }
  }
  /* The text form: one more character of an environment value is one
  ** more byte of the line. */
  ascbinreq tp = client_params("sqlexec", "u", "pw");
  auto text_of = [&](size_t n) {
    std::string value(n, 'v');
    char *names[] = {S("A")};
    char *values[] = {value.data()};
    evlist_t env {1, names, values};
    return build(&tp, &k.req, &env);
  };
  Built one = text_of(1);
  ASSERT_EQ(one.form, asc_form_text);
  for (int32_t total : {2050, 2051, 2056}) {
    Built b = text_of(static_cast<size_t>(total) - one.bytes.size() + 1);
    if (total <= 2050) {
      ASSERT_EQ(b.rc, 0) << total;
      EXPECT_EQ(b.form, asc_form_text);
      EXPECT_EQ(static_cast<int32_t>(b.bytes.size()), total);
    } else {
      EXPECT_EQ(b.rc, -1) << total;
      EXPECT_EQ(b.ctl.asfcode, -408) << total;
    }
  }

  pfrequest bad {2, nullptr};
  Built b = build(&p, &bad, nullptr);
  EXPECT_EQ(b.ctl.asfcode, -25563);
}

/* Everything a text read returns, freed with the object. */
struct Parsed {
  int rc = 0;
  asfsvcctl ctl {};
  int32_t level = -5;
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  evlist_t *envlist = nullptr;
  asfprocinfo procinfo {};
  pfdatafmt fmt {};
  Parsed() = default;
  Parsed(const Parsed &) = delete;
  ~Parsed() {
    ascFreeParams(params);
    ascFreeRequest(request);
    ascFreeEnvlist(envlist);
    ascFreeProcinfo(&procinfo);
  }
  pfconkind *ck() const { return static_cast<pfconkind *>(request->rec); }
};
/* line holds the text with its NUL counted, as the session layer hands it. */
void parse(Parsed &r, const std::string &line) {
  std::vector<char> area(line.begin(), line.end());
  area.push_back('\0');
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = static_cast<int32_t>(line.size());
  r.rc =
      ascString(&r.ctl, 2, &buf, &r.level, &r.params, &r.request, &r.envlist, &r.procinfo, &r.fmt);
}

TEST(AscStringRead, ReadsBackEveryWritableKindWithItsFlagsAndStrings) {
  struct Case {
    const char *name;
    int kind;
    int flags;
    std::vector<const char *> strs;
  } cases[] = {
      {"create, log argument, -a", 1, 0x1000001, {"srv", "db", "larg", "lf"}},
      {"create, path, buffered", 1, 0x803, {"srv", "db", "/p/log"}},
      {"open exclusive in a group", 2, 0x14, {"srv", "db", nullptr, nullptr, "ga", "grp"}},
      {"start -l", 3, 0x82, {"srv", "db", nullptr, "lf"}},
      {"distributed -l", 4, 0x80, {"srv", "db"}},
      {"drop", 5, 0, {"srv", "db"}},
      {"no database", 6, 0, {"srv"}},
      {"database list", 7, 0, {nullptr, nullptr, "pat"}},
      {"connect with database", 11, 3, {"srv", "db"}},
      {"connect without database", 11, 2, {"srv"}},
      {"group without argument", 6, 0, {"srv", nullptr, nullptr, nullptr, nullptr, "grp"}},
  };
  for (const Case &c : cases) {
    ascbinreq p = client_params("sqlexec", "u", "pw");
    Conkind k(c.kind, c.flags, c.strs);
    char *names[] = {S("DBPATH"), S("LANG")};
    char *values[] = {S("//srv"), S("C")};
    evlist_t env {2, names, values};
    asfprocinfo pi {0, 321, 0, S("h"), S("t"), S("/d"), 5, 6};
    Text t = write_text(&p, &k.req, &env, 2056, &pi);
    ASSERT_EQ(t.rc, 0) << c.name;
    Parsed r;
    parse(r, t.line);
    ASSERT_EQ(r.rc, 0) << c.name << ": " << r.ctl.asfcode;
    EXPECT_EQ(r.level, 61) << c.name;
    EXPECT_EQ(r.params->userkind, 1);
    EXPECT_STREQ(r.params->user, "u");
    EXPECT_STREQ(r.params->password, "pw");
    EXPECT_STREQ(r.params->version, "9.250");
    EXPECT_STREQ(r.params->clientid, "dvz");
    EXPECT_STREQ(r.params->pfname, "sqli");
    EXPECT_STREQ(r.params->progname, "sqlexec");
    EXPECT_EQ(r.params->word[0], 311);
    EXPECT_STREQ(r.params->pairs.protocol, "tlitcp");
    EXPECT_EQ(r.ck()->kind, c.kind) << c.name;
    EXPECT_EQ(r.ck()->flags, c.flags) << c.name;
    for (int i = 0; i < asc_str_count; ++i) {
      const char *want =
          i < static_cast<int>(c.strs.size()) ? c.strs[static_cast<size_t>(i)] : nullptr;
      if (want != nullptr && *want == '\0') want = nullptr;
      if (want == nullptr)
        EXPECT_EQ(r.ck()->str[i], nullptr) << c.name << " string " << i;
      else
        EXPECT_STREQ(r.ck()->str[i], want) << c.name << " string " << i;
    }
    ASSERT_EQ(r.envlist->count, 2) << c.name;
    EXPECT_STREQ(r.envlist->names[0], "DBPATH");
    EXPECT_STREQ(r.envlist->values[0], "//srv");
    EXPECT_EQ(r.procinfo.pid, 321);
    EXPECT_STREQ(r.procinfo.cwd, "/d");
    EXPECT_EQ(r.fmt.word[3], 0);
    EXPECT_EQ(r.fmt.word[4], 0);
  }
}

TEST(AscStringRead, CommandLinesWithoutSection109) {
  struct Case {
    const char *name;
    const char *line;
    const char *password;
    int kind;
    int flags;
    const char *db;
    const char *logarg;
    const char *logfile;
  } cases[] = {
      {"password word", "sqlexec usr -ppw 9.250 id -ddb -fIEEEM", "pw", 2, 0, "db", nullptr,
       nullptr},
      {"no password word", "sqlexec usr 9.250 id -ddb -e -fIEEEM", nullptr, 2, 4, "db", nullptr,
       nullptr},
      {"runs of blanks", "sqlexec  usr   9.250\nid -rdb  -fIEEEM", nullptr, 5, 0, "db", nullptr,
       nullptr},
      {"create, no sixth word", "sqlexec u v i -cdb", nullptr, 1, 3, "db", nullptr, nullptr},
      {"create, dash log word", "sqlexec u v i -cdb - -fX", nullptr, 1, 1, "db", nullptr, nullptr},
      {"create, path", "sqlexec u v i -cdb /a/b -fX", nullptr, 1, 2, "db", "/a/b", nullptr},
      {"create, -b", "sqlexec u v i -cdb /a/b -b", nullptr, 1, 0x801, "db", "/a/b", nullptr},
      {"create, -a file", "sqlexec u v i -cdb w -alf", nullptr, 1, 0x1000002, "db", "w", "lf"},
      {"create, -l alone", "sqlexec u v i -cdb w -l", nullptr, 1, 0x81, "db", "w", nullptr},
      {"create, -l after path", "sqlexec u v i -cdb /p -l", nullptr, 1, 0x82, "db", "/p", nullptr},
      {"start", "sqlexec u v i -sdb - -afile", nullptr, 3, 0x1000002, "db", nullptr, "file"},
      {"distributed -n", "sqlexec u v i -ndb -n", nullptr, 4, 64, "db", nullptr, nullptr},
      {"tape", "sqlexec u v i -t", nullptr, 8, 0, nullptr, nullptr, nullptr},
      {"version", "sqlexec u v i -V", nullptr, 9, 0, nullptr, nullptr, nullptr},
      {"X with database", "sqlexec u v i -Xdb", nullptr, 11, 0, "db", nullptr, nullptr},
      {"list", "sqlexec u v i -lpat", nullptr, 7, 0, nullptr, "pat", nullptr},
      {"no option word", "sqlexec u v i", nullptr, 0, 0, nullptr, nullptr, nullptr},
  };
  for (const Case &c : cases) {
    Parsed r;
    parse(r, std::string(c.line) + '\0');
    ASSERT_EQ(r.rc, 0) << c.name << ": " << r.ctl.asfcode;
    EXPECT_EQ(r.level, 0) << c.name;
    EXPECT_EQ(r.params->userkind, 1) << c.name;
    EXPECT_STREQ(r.params->progname, "sqlexec") << c.name;
    EXPECT_EQ(r.params->pairs.level, 50) << c.name;
    EXPECT_EQ(r.params->pairs.version, 1) << c.name;
    if (c.password == nullptr)
      EXPECT_EQ(r.params->password, nullptr) << c.name;
    else
      EXPECT_STREQ(r.params->password, c.password) << c.name;
    EXPECT_EQ(r.ck()->kind, c.kind) << c.name;
    EXPECT_EQ(r.ck()->flags, c.flags) << c.name;
    auto same = [&](const char *got, const char *want, const char *what) {
      if (want == nullptr)
        EXPECT_EQ(got, nullptr) << c.name << " " << what;
      else
        EXPECT_STREQ(got, want) << c.name << " " << what;
    };
    same(r.ck()->str[asc_str_dbname], c.db, "database");
    same(r.ck()->str[asc_str_logarg], c.logarg, "log argument");
    same(r.ck()->str[asc_str_logfile], c.logfile, "log file");
    EXPECT_EQ(r.procinfo.pid, -1) << c.name;
    EXPECT_EQ(r.procinfo.uid, -1) << c.name;
    EXPECT_EQ(r.envlist->count, 0) << c.name;
    EXPECT_EQ(r.envlist->names, nullptr) << c.name;
  }
  Parsed r;
  parse(r, std::string("sqlexec usr 9.250 id -ddb -fIEEEI A=1 -q B=x=y") + '\0');
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.fmt.word[3], 16);
  ASSERT_EQ(r.envlist->count, 2);
  EXPECT_STREQ(r.envlist->names[1], "B");
  EXPECT_STREQ(r.envlist->values[1], "x=y");
  Parsed nof;
  parse(nof, std::string("sqlexec usr 9.250 id -p") + '\0');
  EXPECT_EQ(nof.fmt.word[3], 1);
  EXPECT_EQ(nof.fmt.word[4], 1);
}

TEST(AscStringRead, Failures) {
  struct Case {
    const char *name;
    std::string line;
    int32_t status;
  } cases[] = {
      {"no words", std::string("  \n ") + '\0', -408},
      {"empty", std::string(1, '\0'), -408},
      {"unknown option letter", std::string("sqlexec u v i -q") + '\0', -408},
      {"written-only kind", std::string("sqlexec u v i -x") + '\0', -408},
      {"start without sixth word", std::string("sqlexec u v i -sdb") + '\0', -408},
      {"bad 6-bit text", std::string("sqlexec u v i -p -fIEEEM :AGY") + '\0', -408},
      {"environment word without a name", std::string("sqlexec u v i A=1 =x") + '\0', -408},
      {"environment word that is only =", std::string("sqlexec u -pw v i =") + '\0', -408},
  };
  for (const Case &c : cases) {
    CountingMemory mem;
    {
      Parsed r;
      parse(r, c.line);
      EXPECT_EQ(r.rc, -1) << c.name;
      EXPECT_EQ(r.ctl.asfcode, c.status) << c.name;
    }
    EXPECT_EQ(mem.outstanding(), 0) << c.name;
  }
  /* The byte at the size must be 0. */
  char text[] = "sqlexec u v i -p";
  rscbufctl buf {};
  buf.p = text;
  buf.size = 5;
  char *words[8];
  EXPECT_EQ(parse_request(&buf, words, 8), -1);
  buf.size = static_cast<int32_t>(std::strlen(text));
  EXPECT_EQ(parse_request(&buf, words, 3), -1);
}

TEST(AscStringRead, AllocationFailureAtEveryStepGivesMemoryErrorAndNoLeak) {
  ascbinreq p = client_params("sqlexec", "u", "pw");
  Conkind k(1, 0x1000001, {"srv", "db", "larg", "lf", "ga", "grp"});
  char *names[] = {S("DBPATH")};
  char *values[] = {S("//srv")};
  evlist_t env {1, names, values};
  asfprocinfo pi {0, 321, 0, S("h"), S("t"), S("/d"), 5, 6};
  Text t = write_text(&p, &k.req, &env, 2056, &pi);
  ASSERT_EQ(t.rc, 0);
  int allocations;
  {
    CountingMemory count;
    Parsed r;
    parse(r, t.line);
    ASSERT_EQ(r.rc, 0);
    allocations = count.allocations();
  }
  for (int n = 1; n <= allocations; ++n) {
    CountingMemory mem(n);
    {
      Parsed r;
      parse(r, t.line);
      EXPECT_EQ(r.rc, -1) << n;
      EXPECT_EQ(r.ctl.asfcode, -406) << n;
    }
    EXPECT_EQ(mem.outstanding(), 0) << n;
  }
}

/* The binary form behind the colon holds names as counted strings, so a
** name can carry "=" or be empty there: refused as on the line itself. */
TEST(AscStringRead, RefusesEnvironmentNamesTheLineCouldNotCarry) {
  ascbinreq p = client_params("sqlexec", "u", "pw");
  for (const char *name : {"A=B", "=", ""}) {
    char *names[] = {S("GOOD"), S(name)};
    char *values[] = {S("1"), S("v")};
    evlist_t env {2, names, values};
    ascbinreq *pp = &p;
    evlist_t *ep = &env;
    int32_t level = 60, code = 101;
    std::vector<char> area(600);
    rscbufctl buf {};
    buf.p = area.data();
    buf.size = 600;
    asfsvcctl ctl {};
    ASSERT_EQ(
        ascScatter(&ctl, 1, &buf, &code, nullptr, &level, &pp, nullptr, &ep, nullptr, nullptr), 0);
    std::string line = "sqlexec x y z -p -fIEEEM :" + std::string(area.data(), buf.size) + '\0';
    CountingMemory mem;
    {
      Parsed r;
      parse(r, line);
      EXPECT_EQ(r.rc, -1) << name;
      EXPECT_EQ(r.ctl.asfcode, -408) << name;
      EXPECT_EQ(r.envlist, nullptr) << name;
    }
    EXPECT_EQ(mem.outstanding(), 0) << name;
  }
}

TEST(AscStringRead, ReadsTheBinaryFormBehindTheColon) {
  ascbinreq p = client_params("sqlexec", "u", "pw");
  int32_t level = 60, code = 101;
  std::vector<char> area(600);
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = 600;
  asfsvcctl ctl {};
  ascbinreq *pp = &p;
  ASSERT_EQ(
      ascScatter(&ctl, 1, &buf, &code, nullptr, &level, &pp, nullptr, nullptr, nullptr, nullptr),
      0);
  std::string line = "sqlexec x y z -p -fIEEEM :" + std::string(area.data(), buf.size) + '\0';
  Parsed r;
  parse(r, line);
  ASSERT_EQ(r.rc, 0) << r.ctl.asfcode;
  EXPECT_EQ(r.level, 60);
  EXPECT_STREQ(r.params->user, "u");
  EXPECT_EQ(r.request, nullptr);
}

/* ---- Old-protocol replies. ---- */

/* The request a client builds reads back whole, whichever form is chosen:
** the text line finds its words by position, so a connect without a
** password, version or identification (kind 6, whose option word "-p"
** would then stand where the password word is looked for) goes binary. */
TEST(AscBuildRequest, EveryRequestReadsBackWithItsEnvironmentAndKind) {
  char *names[] = {S("DVZ_TEST")};
  char *values[] = {S("plain")};
  evlist_t env {1, names, values};
  struct Case {
    const char *name;
    const char *user, *version, *clientid;
    int form;
  } cases[] = {
      {"all words there", "u", "9.250", "dvz", asc_form_text},
      {"no version nor identification", "u", nullptr, nullptr, asc_form_binary},
      {"empty version", "u", "", "dvz", asc_form_binary},
      {"no identification", "u", "9.250", nullptr, asc_form_binary},
      {"no user", nullptr, "9.250", "dvz", asc_form_binary},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ascbinreq p = client_params("sqlexec", c.user, nullptr);
    p.version = S(c.version);
    p.clientid = S(c.clientid);
    Conkind k(asc_kind_nodb, 0, {"srv"});
    Built b = build(&p, &k.req, &env);
    ASSERT_EQ(b.rc, 0) << b.ctl.asfcode;
    EXPECT_EQ(b.form, c.form);
    Parsed r;
    if (b.form == asc_form_text) {
      parse(r, b.bytes);
    } else {
      std::vector<char> area(b.bytes.begin() + 2, b.bytes.end());
      rscbufctl buf {};
      buf.p = area.data();
      buf.size = static_cast<int32_t>(area.size());
      r.rc = ascBinary(&r.ctl, asc_mode_read, &buf, &r.level, &r.params, &r.request, &r.envlist,
                       &r.procinfo, &r.fmt);
    }
    ASSERT_EQ(r.rc, 0) << r.ctl.asfcode;
    ASSERT_NE(r.envlist, nullptr);
    ASSERT_EQ(r.envlist->count, 1);
    EXPECT_STREQ(r.envlist->names[0], "DVZ_TEST");
    EXPECT_STREQ(r.envlist->values[0], "plain");
    EXPECT_EQ(r.params->password, nullptr);
    ASSERT_NE(r.request, nullptr);
    EXPECT_EQ(r.ck()->kind, asc_kind_nodb);
  }
}

struct OldRead {
  int rc = 0;
  asfsvcctl ctl {};
  int32_t level = -1;
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  asfprocinfo procinfo {};
  pfdatafmt fmt {};
  OldRead() = default;
  OldRead(const OldRead &) = delete;
  ~OldRead() {
    ascFreeParams(params);
    ascFreeRequest(request);
  }
  pfstatus *st() const { return static_cast<pfstatus *>(request->rec); }
};
void read_old(OldRead &r, int kind, const std::string &body, int32_t status = 0) {
  std::vector<char> area(body.begin(), body.end());
  area.push_back('\0');
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = static_cast<int32_t>(body.size());
  r.ctl.asfcode = status;
  r.rc = asc50resp(&r.ctl, kind, 2, &buf, &r.level, &r.params, &r.request, nullptr, &r.procinfo,
                   &r.fmt);
}

TEST(Asc50Resp, ReadsOldProtocolRepliesAsATable) {
  Bytes accept;
  accept.u16(15).u16(0x21).u32(1).u32(2).u32(3).u16(12);
  Bytes accept_reject;
  accept_reject.u16(15).u16(0).u32(1).u32(2).u32(3).u16(56);
  Bytes accept_more;
  accept_more.u16(15).u16(0).u32(1).u32(2).u32(3).u16(55).u32(4).u32(5).u16(12);
  Bytes accept_bad_end;
  accept_bad_end.u16(15).u16(0).u32(1).u32(2).u32(3).u16(13);
  Bytes error;
  error.u16(13).u16(0xFEB7).u16(0xFF91).u16(4).u16(3).raw("abc", 3).u16(12);
  Bytes error_bare;
  error_bare.u16(13).u16(0xFEB7).u16(0).u16(0).u16(0).u16(12);
  Bytes error_cut;
  error_cut.u16(13).u16(0xFEB7).u16(0).u16(0).u16(40).raw("ab", 2);
  Bytes list;
  list.u16(3).raw("one\0", 4).u16(2).raw("db", 2).u16(5).raw("third\0", 6).u16(0);
  Bytes list_cut;
  list_cut.u16(3).raw("one\0", 4).u16(9).raw("db", 2);
  Bytes list_unended;
  list_unended.u16(2).raw("db", 2);
  /* A list whose first name is 13 bytes long reads as a list when the
  ** values at bytes 6 and 8 are both non-zero. */
  Bytes list13;
  list13.u16(13).raw("abcdefghijklm\0", 14).u16(0);

  struct Case {
    const char *name;
    int kind;
    std::string body;
    int32_t status_in;
    int rc;
    int32_t status;
    int32_t oserr;
    int32_t subkind;
    std::vector<std::string> names;
  } cases[] = {
      {"kind 6, no body", 6, "", 0, 0, 0, 0, 2, {}},
      {"kind 11, no body", 11, "", 0, 0, 0, 0, 2, {}},
      {"kind 2, no body", 2, "", 0, -1, -408, 0, 2, {}},
      {"kind 6, no body, a status set", 6, "", 7, -1, 7, 0, 2, {}},
      {"accept", 2, accept.text(), 0, 0, 0, 0, 2, {}},
      {"accept then 56", 2, accept_reject.text(), 0, 0, 7, 0, 2, {}},
      {"accept with 55", 11, accept_more.text(), 0, 0, 0, 0, 2, {}},
      {"accept, bad end", 2, accept_bad_end.text(), 0, -1, -408, 0, 2, {}},
      {"accept cut", 2, accept.text().substr(0, 9), 0, -1, -408, 0, 2, {}},
      {"error -329, rejected", 2, error.text(), 7, -1, 7, -329, 2, {}},
      {"error, no status", 2, error_bare.text(), 0, -1, -408, -329, 2, {}},
      {"error, message cut", 2, error_cut.text(), 7, -1, -408, -329, 2, {}},
      {"unknown code", 2, Bytes().u16(14).u16(0).text(), 0, -1, -408, 0, 2, {}},
      {"database list", 7, list.text(), 0, 0, 7, 0, 1, {"one", "db", "third"}},
      {"database list, 13 bytes first", 7, list13.text(), 0, 0, 7, 0, 1, {"abcdefghijklm"}},
      {"database list cut", 7, list_cut.text(), 0, -1, -408, 0, 1, {}},
      {"database list without end", 7, list_unended.text(), 0, -1, -408, 0, 1, {}},
      {"kind 7 error", 7, error_bare.text(), 0, -1, -408, -329, 2, {}},
      {"kind 7 error with a message: read as names", 7, error.text(), 0, -1, -408, 0, 1, {}},
  };
  for (const Case &c : cases) {
    CountingMemory mem;
    {
      OldRead r;
      read_old(r, c.kind, c.body, c.status_in);
      EXPECT_EQ(r.rc, c.rc) << c.name;
      EXPECT_EQ(r.ctl.asfcode, c.status) << c.name;
      EXPECT_EQ(r.ctl.oserr, c.oserr) << c.name;
      EXPECT_EQ(r.level, 0) << c.name;
      EXPECT_EQ(r.fmt.word[3], 1) << c.name;
      EXPECT_EQ(r.procinfo.pid, -1) << c.name;
      ASSERT_NE(r.params, nullptr) << c.name;
      EXPECT_STREQ(r.params->progname, "srvdvz") << c.name;
      EXPECT_EQ(r.params->userkind, 0) << c.name;
      EXPECT_EQ(r.params->pairs.version, 1) << c.name;
      ASSERT_NE(r.request, nullptr) << c.name;
      EXPECT_EQ(r.request->type, asc_pf_status) << c.name;
      EXPECT_EQ(r.st()->subkind, c.subkind) << c.name;
      if (c.rc == 0 && c.subkind == 1) {
        ASSERT_EQ(r.st()->list->count, static_cast<int32_t>(c.names.size())) << c.name;
        for (size_t i = 0; i < c.names.size(); ++i)
          EXPECT_STREQ(r.st()->list->str[i], c.names[i].c_str()) << c.name;
      }
    }
    EXPECT_EQ(mem.outstanding(), 0) << c.name;
  }

  OldRead w;
  read_old(w, 2, accept.text());
  EXPECT_EQ(w.st()->warnbits, 0x21);
  OldRead e;
  read_old(e, 2, error.text(), 7);
  EXPECT_EQ(e.st()->errnum, -329);
  EXPECT_EQ(e.st()->isamerr, -111);
  ASSERT_EQ(e.st()->count, 1);
  EXPECT_EQ(e.st()->msgs[0].offset, 4);
  EXPECT_EQ(std::string(e.st()->msgs[0].text, 3), "abc");
}

TEST(Asc50Resp, TakesAtMost120Names) {
  Bytes list;
  for (int i = 0; i < 130; ++i)
    list.u16(2).raw("nm", 2);
  list.u16(0);
  OldRead r;
  read_old(r, 7, list.text());
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.st()->list->count, 120);
}

TEST(Asc50Resp, WritesWhatItReads) {
  pfmsgent msg {4, 3, S("abc")};
  pfstatus err {};
  err.subkind = 2;
  err.errnum = -329;
  err.isamerr = -111;
  err.count = 1;
  err.msgs = &msg;
  pfstatus ok {};
  ok.subkind = 2;
  ok.warnbits = 5;
  char *names[] = {S("one"), S("db")};
  pfstrlist l {2, names};
  pfstatus lst {};
  lst.subkind = 1;
  lst.list = &l;
  Bytes err_bytes;
  err_bytes.u16(13).u16(0xFEB7).u16(0xFF91).u16(4).u16(4).raw("abc\0", 4).u16(12);
  Bytes ok_bytes;
  ok_bytes.u16(15).u16(5).u32(0).u32(0).u32(0).u16(12);
  Bytes list_bytes;
  list_bytes.u16(3).raw("one\0", 4).u16(2).raw("db", 2).u16(0);
  struct Case {
    const char *name;
    int kind;
    pfstatus *st;
    std::string want;
  } cases[] = {
      {"error", 2, &err, err_bytes.text()},
      {"accept", 2, &ok, ok_bytes.text()},
      {"accept of kind 6", 6, &ok, ""},
      {"list", 7, &lst, list_bytes.text()},
  };
  for (const Case &c : cases) {
    pfrequest req {asc_pf_status, c.st};
    pfrequest *rp = &req;
    std::vector<char> area(100);
    rscbufctl buf {};
    buf.p = area.data();
    buf.size = 100;
    asfsvcctl ctl {};
    int32_t level = 0;
    ASSERT_EQ(asc50resp(&ctl, c.kind, 1, &buf, &level, nullptr, &rp, nullptr, nullptr, nullptr), 0)
        << c.name;
    std::string got(area.data(), static_cast<size_t>(buf.size));
    EXPECT_EQ(got, c.want) << c.name;
    if (c.want.empty()) continue;
    OldRead r;
    read_old(r, c.kind, got, c.kind == 7 ? 0 : 7);
    EXPECT_EQ(r.st()->errnum, c.st->errnum) << c.name;
    EXPECT_EQ(r.st()->warnbits, c.st->warnbits) << c.name;
    EXPECT_EQ(r.st()->subkind, c.st->subkind) << c.name;
  }
  pfrequest wrong {asc_pf_conkind, &ok};
  pfrequest *wp = &wrong;
  char area[10];
  rscbufctl buf {};
  buf.p = area;
  buf.size = 10;
  asfsvcctl ctl {};
  EXPECT_EQ(asc50resp(&ctl, 2, 1, &buf, nullptr, nullptr, &wp, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(ctl.asfcode, -25569);
}

}  // namespace
