/*
** Tests of the binary connect request and response codec: the exact wire
** layout of sections 101 and 108 and of the optional sections, reading
** back what was written, the reader's checks against the bytes left
** (truncation at every offset, lying counts and lengths, a short section
** 116), skipped unknown sections, allocation failures without leaks, and
** the 6-bit text form against Python's base64 through a committed table.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "al/counting_memory.h"
#include "asc_codec.h"
#include "asc_wire_bytes.h"
#include "gen_strings.h"

namespace {

using asc_test::Bytes;
using asf_test::CountingMemory;

char *S(const char *s) { return const_cast<char *>(s); }

/* A client's connect parameters as the runtime fills them. */
ascbinreq client_params(int userkind, const char *user, const char *password) {
  ascbinreq p {};
  std::strcpy(p.progname, "sqlexec");
  p.version = S("9.250");
  p.clientid = S("dvz");
  p.pfname = S("sqli");
  p.word[0] = 311;
  p.userkind = userkind;
  p.user = S(user);
  p.password = S(password);
  std::memcpy(p.pairs.product, "ol", 3);
  p.pairs.level = 61;
  std::memcpy(p.pairs.protocol, "tlitcp", 7);
  p.pairs.version = 1;
  return p;
}

/* Sections 101 and 108 of client_params, built from the tables. */
Bytes expected_head(int32_t level, const ascbinreq &p) {
  Bytes b;
  b.u16(101).u32(static_cast<uint32_t>(level)).u16(6).raw("IEEEM", 6);
  b.u16(108).fixed(p.progname, 12).str(p.version).str(p.clientid).str(p.pfname);
  b.u32(311).u32(0).u32(0).u16(static_cast<uint32_t>(p.userkind));
  if (p.userkind != 0)
    b.str(p.user).str(p.password);
  else
    b.u16(0).u16(0);
  b.fixed(p.pairs.product, 8).u32(61).fixed(p.pairs.protocol, 8).u32(1);
  return b;
}

/* Writes with ascBinary mode 1 into a room of room bytes. */
struct Written {
  int rc;
  asfsvcctl ctl;
  std::string bytes;
};
Written write_binary(ascbinreq *params, pfrequest *request, evlist_t *envlist,
                     asfprocinfo *procinfo, int32_t room = 2056, int32_t level = 61) {
  Written w {};
  std::vector<char> area(static_cast<size_t>(room) + 1);
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = room;
  w.rc = ascBinary(&w.ctl, asc_mode_write, &buf, &level, &params, &request, &envlist, procinfo,
                   nullptr);
  if (w.rc == 0) w.bytes.assign(area.data(), static_cast<size_t>(buf.size));
  return w;
}

/* Everything a read returns, freed with the object. */
struct Read {
  int rc = 0;
  asfsvcctl ctl {};
  int32_t level = 0;
  ascbinreq *params = nullptr;
  pfrequest *request = nullptr;
  evlist_t *envlist = nullptr;
  asfprocinfo procinfo {};
  pfdatafmt fmt {};
  int32_t left = 0;
  Read() = default;
  Read(const Read &) = delete;
  ~Read() {
    ascFreeParams(params);
    ascFreeRequest(request);
    ascFreeEnvlist(envlist);
    ascFreeProcinfo(&procinfo);
  }
};
void read_binary(Read &r, const std::string &bytes) {
  std::vector<char> area(bytes.begin(), bytes.end());
  area.push_back('\0');
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = static_cast<int32_t>(bytes.size());
  r.rc = ascBinary(&r.ctl, asc_mode_read, &buf, &r.level, &r.params, &r.request, &r.envlist,
                   &r.procinfo, &r.fmt);
  r.left = buf.size;
}

TEST(AscBinaryWrite, LaysOutTheLevelAndParameterSectionsFieldByField) {
  struct Case {
    const char *name;
    int userkind;
    const char *user;
    const char *password;
  } cases[] = {
      {"no user: two empty strings", 0, "ignored", "ignored"},
      {"user and password", 1, "alice", "secret"},
      {"user without password", 1, "bob", nullptr},
  };
  for (const Case &c : cases) {
    ascbinreq p = client_params(c.userkind, c.user, c.password);
    Written w = write_binary(&p, nullptr, nullptr, nullptr);
    ASSERT_EQ(w.rc, 0) << c.name;
    EXPECT_EQ(w.bytes, expected_head(61, p).text()) << c.name;
  }
}

TEST(AscBinaryWrite, CutsATwelveCharacterProgramNameInTheRecordToo) {
  ascbinreq p = client_params(0, nullptr, nullptr);
  std::memcpy(p.progname, "abcdefghijkl", 12);
  Written w = write_binary(&p, nullptr, nullptr, nullptr);
  ASSERT_EQ(w.rc, 0);
  EXPECT_EQ(w.bytes.substr(16, 12), std::string("abcdefghijk\0", 12));
  EXPECT_EQ(p.progname[11], '\0');
}

TEST(AscBinaryWrite, WritesTheOptionalSectionsInTheirOrder) {
  ascbinreq p = client_params(0, nullptr, nullptr);
  pfconkind ck {};
  ck.kind = 2;
  ck.flags = 3;
  ck.str[asc_str_server] = S("srv");
  ck.str[asc_str_dbname] = S("db");
  pfrequest req {asc_pf_conkind, &ck};
  char *names[] = {S("DBPATH"), S("LANG")};
  char *values[] = {S("."), S("C")};
  evlist_t env {2, names, values};
  asfprocinfo pi {0, 4242, 0, S("host"), nullptr, S("/tmp"), 1000, 100};
  Written w = write_binary(&p, &req, &env, &pi);
  ASSERT_EQ(w.rc, 0);
  Bytes b = expected_head(61, p);
  b.u16(104).u16(2).u32(3).str("srv").str("db");
  for (int i = 0; i < 4; ++i)
    b.u16(0);
  b.u16(106).u16(2).str("DBPATH").str(".").str("LANG").str("C");
  b.u16(107).u32(0).u32(4242).u32(0).str("host").str(nullptr).str("/tmp");
  b.u16(116).u16(8).u32(1000).u32(100);
  EXPECT_EQ(w.bytes, b.text());
}

TEST(AscBinaryWrite, StatusStringListAndOpaqueSections) {
  ascbinreq p = client_params(0, nullptr, nullptr);
  size_t head = expected_head(61, p).v.size();

  pfmsgent msgs[] = {{7, 3, S("abc")}, {9, 0, S("x")}, {1, 2, nullptr}};
  pfstatus st {};
  st.subkind = asc_sub_status;
  std::memcpy(st.raw, "\1\2\3\4\5\6", 6);
  st.errnum = -329;
  st.isamerr = -111;
  st.warnbits = 0x41;
  st.count = 3;
  st.msgs = msgs;
  pfrequest status {asc_pf_status, &st};
  Bytes sb;
  sb.u16(102).raw("\1\2\3\4\5\6", 6).u16(0xFEB7).u16(0xFF91).u16(0x41).u16(3);
  sb.u16(7).u16(3).raw("abc", 3).u16(9).u16(0).u16(1).u16(0);

  std::vector<char *> many;
  std::vector<std::string> texts;
  for (int i = 0; i < 150; ++i)
    texts.push_back("n" + std::to_string(i));
  for (auto &t : texts)
    many.push_back(t.data());
  pfstrlist list {150, many.data()};
  pfstatus lst {};
  lst.subkind = 5;
  lst.list = &list;
  pfrequest strlist {asc_pf_status, &lst};
  Bytes lb;
  lb.u16(103).u16(120);
  for (int i = 0; i < 120; ++i)
    lb.str(texts[static_cast<size_t>(i)].c_str());

  pfopaque op {S("\0\1\2"), 3};
  pfrequest opaque {asc_pf_opaque, &op};
  Bytes ob;
  ob.u16(105).u16(3).raw("\0\1\2", 3);

  struct Case {
    const char *name;
    pfrequest *req;
    const Bytes &want;
  } cases[] = {{"status", &status, sb}, {"list of 150", &strlist, lb}, {"opaque", &opaque, ob}};
  for (const Case &c : cases) {
    Written w = write_binary(&p, c.req, nullptr, nullptr);
    ASSERT_EQ(w.rc, 0) << c.name;
    EXPECT_EQ(w.bytes.substr(head), c.want.text()) << c.name;
  }
}

TEST(AscBinaryWrite, Failures) {
  ascbinreq p = client_params(1, "user", "pw");
  pfrequest bad {7, nullptr};
  Written w = write_binary(&p, &bad, nullptr, nullptr);
  EXPECT_EQ(w.rc, -1);
  EXPECT_EQ(w.ctl.asfcode, -25563);

  Written none = write_binary(nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(none.rc, -1);

  /* Every room short of the message plus one byte fails with -408. */
  size_t need = expected_head(61, p).v.size();
  for (int32_t room = 0; room <= static_cast<int32_t>(need); ++room) {
    Written s = write_binary(&p, nullptr, nullptr, nullptr, room);
    EXPECT_EQ(s.rc, -1) << room;
    EXPECT_EQ(s.ctl.asfcode, -408) << room;
  }
  EXPECT_EQ(write_binary(&p, nullptr, nullptr, nullptr, static_cast<int32_t>(need) + 1).rc, 0);
}

/* A response from the peer: sections 101 and 108, optional tail, 127. */
std::string response(const Bytes &tail, const char *format = "IEEEM") {
  Bytes b;
  b.u16(101).u32(60);
  if (format == nullptr)
    b.u16(0);
  else
    b.str(format);
  b.u16(108).fixed("srvdvz", 12).str("9.40").str(nullptr).str("sqli");
  b.u32(940).u32(1).u32(2).u16(1).str("srvuser").str(nullptr);
  b.fixed("ol", 8).u32(60).fixed("tlitcp", 8).u32(1);
  b.raw(tail.text()).u16(127);
  return b.text();
}

TEST(AscBinaryRead, ReadsTheParametersAndLeavesTheEndCode) {
  Read r;
  read_binary(r, response(Bytes()));
  ASSERT_EQ(r.rc, 0) << r.ctl.asfcode;
  EXPECT_EQ(r.level, 60);
  EXPECT_STREQ(r.params->progname, "srvdvz");
  EXPECT_STREQ(r.params->version, "9.40");
  EXPECT_EQ(r.params->clientid, nullptr);
  EXPECT_STREQ(r.params->pfname, "sqli");
  EXPECT_EQ(r.params->word[0], 940);
  EXPECT_EQ(r.params->word[2], 2);
  EXPECT_EQ(r.params->userkind, 1);
  EXPECT_STREQ(r.params->user, "srvuser");
  EXPECT_EQ(r.params->password, nullptr);
  EXPECT_STREQ(r.params->pairs.product, "ol");
  EXPECT_EQ(r.params->pairs.level, 60);
  EXPECT_STREQ(r.params->pairs.protocol, "tlitcp");
  EXPECT_EQ(r.request, nullptr);
  EXPECT_EQ(r.envlist, nullptr);
  EXPECT_EQ(r.procinfo.pid, -1);
  EXPECT_EQ(r.procinfo.uid, -1);
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.fmt.word[0], 16);
  EXPECT_EQ(r.fmt.word[3], 0);
  EXPECT_EQ(r.fmt.word[5], 0);
}

TEST(AscBinaryRead, FloatFormatDecidesTheFourthFormatWord) {
  struct Case {
    const char *format;
    int32_t want;
  } cases[] = {{"IEEEM", 0}, {"IEEEI", 16}, {"", 16}, {nullptr, 1}};
  for (const Case &c : cases) {
    Read r;
    read_binary(r, response(Bytes(), c.format));
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.fmt.word[3], c.want) << (c.format ? c.format : "none");
  }
}

TEST(AscBinaryRead, ReadsBackEveryOptionalSectionItWrote) {
  ascbinreq p = client_params(1, "u", "p w");
  pfconkind ck {};
  ck.kind = 11;
  ck.flags = 0x1000013;
  const char *strs[] = {"srv", "db", "larg", "lfile", "garg", "grp"};
  for (int i = 0; i < asc_str_count; ++i)
    ck.str[i] = S(strs[i]);
  pfrequest req {asc_pf_conkind, &ck};
  char *names[] = {S("A"), S("B C")};
  char *values[] = {S("x=y"), nullptr};
  evlist_t env {2, names, values};
  asfprocinfo pi {5, 4242, 7, S("host"), S("/dev/pts/1"), S("/tmp"), 1000, 100};
  Written w = write_binary(&p, &req, &env, &pi);
  ASSERT_EQ(w.rc, 0);
  Read r;
  read_binary(r, w.bytes + std::string("\0\x7f", 2));
  ASSERT_EQ(r.rc, 0) << r.ctl.asfcode;
  EXPECT_EQ(r.level, 61);
  EXPECT_STREQ(r.params->password, "p w");
  ASSERT_NE(r.request, nullptr);
  ASSERT_EQ(r.request->type, asc_pf_conkind);
  auto *got = static_cast<pfconkind *>(r.request->rec);
  EXPECT_EQ(got->kind, 11);
  EXPECT_EQ(got->flags, 0x1000013);
  for (int i = 0; i < asc_str_count; ++i)
    EXPECT_STREQ(got->str[i], strs[i]) << i;
  ASSERT_NE(r.envlist, nullptr);
  ASSERT_EQ(r.envlist->count, 2);
  EXPECT_STREQ(r.envlist->names[1], "B C");
  EXPECT_STREQ(r.envlist->values[0], "x=y");
  EXPECT_EQ(r.envlist->values[1], nullptr);
  EXPECT_EQ(r.procinfo.word0, 5);
  EXPECT_EQ(r.procinfo.pid, 4242);
  EXPECT_STREQ(r.procinfo.tty, "/dev/pts/1");
  EXPECT_EQ(r.procinfo.gid, 100);

  pfmsgent msgs[] = {{7, 3, S("abc")}};
  pfstatus st {};
  st.subkind = asc_sub_status;
  st.errnum = -329;
  st.isamerr = -111;
  st.count = 1;
  st.msgs = msgs;
  pfrequest status {asc_pf_status, &st};
  Written ws = write_binary(&p, &status, nullptr, nullptr);
  Read rs;
  read_binary(rs, ws.bytes + std::string("\0\x7f", 2));
  ASSERT_EQ(rs.rc, 0);
  auto *gst = static_cast<pfstatus *>(rs.request->rec);
  EXPECT_EQ(gst->subkind, asc_sub_status);
  EXPECT_EQ(gst->errnum, -329);
  EXPECT_EQ(gst->isamerr, -111);
  ASSERT_EQ(gst->count, 1);
  EXPECT_EQ(gst->msgs[0].offset, 7);
  EXPECT_EQ(std::string(gst->msgs[0].text, 3), "abc");
}

TEST(AscBinaryRead, SkipsUnknownSectionsAndTheRestOfALongerIdSection) {
  Bytes tail;
  tail.u16(120).u16(3).raw("xyz", 3);
  tail.u16(116).u16(12).u32(501).u32(20).u32(0xDEADBEEF);
  Read r;
  read_binary(r, response(tail));
  ASSERT_EQ(r.rc, 0) << r.ctl.asfcode;
  EXPECT_EQ(r.procinfo.uid, 501);
  EXPECT_EQ(r.procinfo.gid, 20);
  EXPECT_EQ(r.left, 2);
}

TEST(AscBinaryRead, MalformedInputGivesProtocolError) {
  Bytes big_count;
  big_count.u16(106).u16(60000);
  Bytes long_string;
  long_string.u16(107).u32(0).u32(1).u32(0).u16(900).raw("abc", 3);
  Bytes short_ids;
  short_ids.u16(116).u16(4).u32(1);
  Bytes two_requests;
  two_requests.u16(105).u16(0).u16(105).u16(0);
  Bytes two_envs;
  two_envs.u16(106).u16(0).u16(106).u16(0);
  Bytes long_unknown;
  long_unknown.u16(120).u16(50).raw("xy", 2);
  std::string no_101 = response(Bytes()).substr(0);
  no_101[1] = 102;
  /* An environment name must be present, not empty and free of "=". */
  const auto env_named = [](const char *name) {
    Bytes b;
    b.u16(106).u16(2).str("GOOD").str("1").str(name).str("v");
    return b;
  };
  struct Case {
    const char *name;
    std::string bytes;
    bool env_refused = false; /* the list read so far is not handed on */
  } cases[] = {
      {"section 101 missing", no_101},
      {"count beyond the bytes left", response(big_count)},
      {"string beyond the bytes left", response(long_string)},
      {"section 116 shorter than 8", response(short_ids)},
      {"a second request section", response(two_requests)},
      {"a second environment list", response(two_envs)},
      {"environment name holding =", response(env_named("A=B")), true},
      {"environment name that is only =", response(env_named("=")), true},
      {"empty environment name", response(env_named("")), true},
      {"absent environment name", response(env_named(nullptr)), true},
      {"unknown section longer than the rest", response(long_unknown)},
      {"no end code", response(Bytes()).substr(0, response(Bytes()).size() - 2)},
      {"empty", ""},
  };
  for (const Case &c : cases) {
    CountingMemory mem;
    {
      Read r;
      read_binary(r, c.bytes);
      EXPECT_EQ(r.rc, -1) << c.name;
      EXPECT_EQ(r.ctl.asfcode, -408) << c.name;
      if (c.env_refused) {
        EXPECT_EQ(r.envlist, nullptr) << c.name;
      }
    }
    EXPECT_EQ(mem.outstanding(), 0) << c.name;
  }
}

TEST(AscBinaryRead, EveryTruncationFailsWithoutLeaking) {
  ascbinreq p = client_params(1, "u", "pw");
  pfmsgent msgs[] = {{7, 3, S("abc")}};
  pfstatus st {};
  st.subkind = asc_sub_status;
  st.count = 1;
  st.msgs = msgs;
  pfrequest status {asc_pf_status, &st};
  char *names[] = {S("A")};
  char *values[] = {S("1")};
  evlist_t env {1, names, values};
  asfprocinfo pi {0, 1, 0, S("h"), S("t"), S("d"), 2, 3};
  Written w = write_binary(&p, &status, &env, &pi);
  ASSERT_EQ(w.rc, 0);
  std::string whole = w.bytes + std::string("\0\x7f", 2);
  CountingMemory mem;
  for (size_t k = 0; k + 1 < whole.size(); ++k) {
    {
      Read r;
      read_binary(r, whole.substr(0, k));
      EXPECT_EQ(r.rc, -1) << k;
      EXPECT_EQ(r.ctl.asfcode, -408) << k;
    }
    EXPECT_EQ(mem.outstanding(), 0) << k;
  }
  Read r;
  read_binary(r, whole);
  EXPECT_EQ(r.rc, 0);
}

TEST(AscBinaryRead, AllocationFailureAtEveryStepGivesMemoryErrorAndNoLeak) {
  Bytes tail;
  tail.u16(102).raw("\0\0\0\0\0\0", 6).u16(1).u16(2).u16(3).u16(1).u16(4).u16(2).raw("ab", 2);
  tail.u16(106).u16(1).str("A").str("B");
  tail.u16(107).u32(0).u32(1).u32(0).str("h").str("t").str("d");
  std::string bytes = response(tail);
  int allocations;
  {
    CountingMemory count;
    Read r;
    read_binary(r, bytes);
    ASSERT_EQ(r.rc, 0);
    allocations = count.allocations();
  }
  for (int n = 1; n <= allocations; ++n) {
    CountingMemory mem(n);
    {
      Read r;
      read_binary(r, bytes);
      EXPECT_EQ(r.rc, -1) << n;
      EXPECT_EQ(r.ctl.asfcode, -406) << n;
    }
    EXPECT_EQ(mem.outstanding(), 0) << n;
  }
}

TEST(AscBinaryRead, WithoutOutputReferencesGivesMissingOutputs) {
  std::string bytes = response(Bytes());
  std::vector<char> area(bytes.begin(), bytes.end());
  rscbufctl buf {area.data(), static_cast<int32_t>(area.size()), 0, nullptr, nullptr, 0, 0};
  asfsvcctl ctl {};
  int32_t level;
  pfdatafmt fmt;
  ascbinreq *params = nullptr;
  EXPECT_EQ(ascBinary(&ctl, 2, &buf, &level, nullptr, nullptr, nullptr, nullptr, &fmt), -1);
  EXPECT_EQ(ctl.asfcode, -27003);
  ctl = {};
  EXPECT_EQ(ascBinary(&ctl, 2, &buf, nullptr, &params, nullptr, nullptr, nullptr, &fmt), -1);
  EXPECT_EQ(ctl.asfcode, -27003);
}

/* ---- The 6-bit text form. ---- */

/* Rows of the committed table: name, hex bytes, Python's base64 text. */
std::map<std::string, std::pair<std::string, std::string>> oracle_rows() {
  std::map<std::string, std::pair<std::string, std::string>> rows;
  std::ifstream in(DVZ_CODE6_CASES);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t a = line.find('|'), b = line.find('|', a + 1);
    std::string hex = line.substr(a + 1, b - a - 1), bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    rows[line.substr(0, a)] = {bytes, line.substr(b + 1)};
  }
  return rows;
}

TEST(AscScatter, SixBitTextMatchesPythonBase64) {
  auto rows = oracle_rows();
  ASSERT_GT(rows.size(), 10u);
  for (const auto &[name, row] : rows) {
    const auto &[bytes, text] = row;
    std::string got(bytes.size() + (bytes.size() + 2) / 3, '?');
    conbinto6(bytes.data(), got.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(got, text) << name;
    std::string back(text.size() * 3 / 4, '?');
    con6tobin(text.data(), back.data(), static_cast<int>(text.size()));
    EXPECT_EQ(back, bytes) << name;
  }
}

/* The record of section 109 that the oracle script packs by hand. */
ascmrec oracle_mrec() {
  ascmrec m {};
  m.level = 61;
  std::memcpy(m.pairs.product, "ol", 3);
  m.pairs.level = 61;
  std::memcpy(m.pairs.protocol, "tlitcp", 7);
  m.pairs.version = 1;
  m.word[0] = 311;
  std::strcpy(m.progname, "sqlexec");
  m.pfname = S("sqli");
  m.kind = 6;
  m.flags = 3;
  m.server = S("srv");
  return m;
}

TEST(AscScatter, WritesSection109AsPythonEncodesIt) {
  auto rows = oracle_rows();
  ASSERT_TRUE(rows.count("section109"));
  ascmrec m = oracle_mrec();
  asfprocinfo pi {0, 1234, 0, S("host"), nullptr, S("/home/u"), 1000, 100};
  std::vector<char> area(400);
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = 400;
  asfsvcctl ctl {};
  int32_t code = 109;
  ASSERT_EQ(ascScatter(&ctl, 1, &buf, &code, &m, nullptr, nullptr, nullptr, nullptr, &pi, nullptr),
            0);
  EXPECT_EQ(std::string(area.data(), static_cast<size_t>(buf.size)), rows["section109"].second);

  /* Read back: the record, the process information and code 109. */
  ascmrec back {};
  asfprocinfo pib {};
  int32_t level = 0, code2 = 0;
  ascbinreq *params = nullptr;
  pfdatafmt fmt;
  ASSERT_EQ(ascScatter(&ctl, 2, &buf, &code2, &back, &level, &params, nullptr, nullptr, &pib, &fmt),
            0);
  EXPECT_EQ(code2, 109);
  EXPECT_EQ(back.level, 61);
  EXPECT_STREQ(back.pfname, "sqli");
  EXPECT_STREQ(back.server, "srv");
  EXPECT_EQ(back.kind, 6);
  EXPECT_EQ(back.flags, 3);
  EXPECT_STREQ(back.progname, "sqlexec");
  EXPECT_EQ(back.word[0], 311);
  EXPECT_STREQ(pib.cwd, "/home/u");
  EXPECT_EQ(pib.uid, 1000);
  ascFreeMrec(&back);
  ascFreeProcinfo(&pib);

  /* One byte less room than the text needs: -406. */
  int32_t need = static_cast<int32_t>(rows["section109"].second.size());
  buf.p = area.data();
  buf.size = need - 1;
  ctl = {};
  code = 109;
  EXPECT_EQ(ascScatter(&ctl, 1, &buf, &code, &m, nullptr, nullptr, nullptr, nullptr, &pi, nullptr),
            -1);
  EXPECT_EQ(ctl.asfcode, -406);
}

TEST(AscScatter, BinarySectionsRoundTripThroughText) {
  ascbinreq p = client_params(1, "u", "pw");
  int32_t level = 61, code = 101;
  std::vector<char> area(1000);
  rscbufctl buf {};
  buf.p = area.data();
  buf.size = 1000;
  asfsvcctl ctl {};
  ascbinreq *pp = &p;
  ASSERT_EQ(
      ascScatter(&ctl, 1, &buf, &code, nullptr, &level, &pp, nullptr, nullptr, nullptr, nullptr),
      0);
  Read r;
  int32_t code2 = 0;
  ascmrec m {};
  ASSERT_EQ(ascScatter(&r.ctl, 2, &buf, &code2, &m, &r.level, &r.params, &r.request, &r.envlist,
                       &r.procinfo, &r.fmt),
            0);
  EXPECT_EQ(code2, 101);
  EXPECT_EQ(r.level, 61);
  EXPECT_STREQ(r.params->user, "u");
  EXPECT_STREQ(r.params->password, "pw");
}

TEST(AscScatter, ReadRefusesEmptyTextAndUnknownFirstCodes) {
  struct Case {
    const char *name;
    std::string text;
  } cases[] = {{"empty", ""}, {"leading zero byte", std::string("\0AB", 3)}, {"code 102", "AGY"}};
  for (const Case &c : cases) {
    std::vector<char> area(c.text.begin(), c.text.end());
    area.push_back('\0');
    rscbufctl buf {};
    buf.p = area.data();
    buf.size = static_cast<int32_t>(c.text.size());
    asfsvcctl ctl {};
    int32_t code = 0, level;
    ascmrec m {};
    ascbinreq *params = nullptr;
    pfdatafmt fmt;
    EXPECT_EQ(
        ascScatter(&ctl, 2, &buf, &code, &m, &level, &params, nullptr, nullptr, nullptr, &fmt), -1)
        << c.name;
    EXPECT_EQ(ctl.asfcode, -408) << c.name;
  }
}

}  // namespace
