/*
** The runtime's association-service calls over the fake association
** layer: the start and signal mode, the directory's server list and the
** sorted server names, the fields of a connect request, the reading of
** the connect response (accepted, refused, malformed), the server entry,
** the status each wrapper records, reply 86 read field by field, the
** reassociation of an explicit connection, and the database list over
** several servers.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "asf_call.h"
#include "asf_connect_records.h"
#include "fake_asf.h"
#include "runtime_fixture.h"
#include "scoped_env.h"
#include "sqli_asf.h"
#include "sqli_conn.h"
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_reply.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

using sqli_test::Bytes;
using sqli_test::FakeAsf;
using sqli_test::FakeConnectResponse;
using sqli_test::FakeEntry;
using sqli_test::TestConnection;
using sqli_test::Wire;

class AsfCalls : public sqli_test::StartedRuntimeTest {
 protected:
  void SetUp() override {
    StartedRuntimeTest::SetUp();
    if (HasFatalFailure()) return;
    _iqconnct_asf_init_done = 0;
    for (const char *name : {"DOVARIZACONTIME", "DOVARIZACONRETRY", "DBAPICODE"})
      env.push_back(std::make_unique<dvz_test::ScopedEnv>(name, std::nullopt));
  }
  void TearDown() override {
    _iqconnct_asf_init_done = 0;
    conlist = {};
    if (tcb->reassoc != nullptr) {
      for (char *s : tcb->reassoc->str)
        sqli_release(s);
      sqli_release(tcb->reassoc);
      tcb->reassoc = nullptr;
    }
    tcb->curconn = nullptr;
    RuntimeTest::TearDown();
  }
  /* A connection record as CONNECT makes it. */
  sqli_conn *record(const char *dbenv) {
    sqli_conn *c = alloc_connp(dbenv, nullptr, nullptr, 0);
    EXPECT_NE(c, nullptr);
    return c;
  }
  std::string errm() const { return tcb->sqlca->sqlerrm; }

  std::vector<std::unique_ptr<dvz_test::ScopedEnv>> env;
  FakeAsf fake;
};

/* ---- Start and signal mode ---- */

TEST_F(AsfCalls, StartsOnceWithTheOptionWordOfTheSignalMode) {
  sqlsignal(0, nullptr, 2);  // before the start: only the option word
  EXPECT_EQ(tcb->asf_options, 4);
  EXPECT_TRUE(fake.sig_modes().empty());
  ASSERT_EQ(asf_init(tcb), 0);
  ASSERT_EQ(asf_init(tcb), 0);
  EXPECT_EQ(fake.calls(asf_svc_init), 1);
  const asfsvcreq &r = fake.last_request(asf_svc_init);
  EXPECT_EQ(r.word[1], 0x11u | 4u);
  EXPECT_EQ(r.word[2], 4u);
  EXPECT_EQ(r.word[3], 0u);
  EXPECT_EQ(r.word[4], 10u);
  EXPECT_EQ(r.word[6], 100u);
  EXPECT_EQ(r.word[7], 1u);
  const auto *entry = reinterpret_cast<const unsigned char *>(r.word[8]);
  ASSERT_NE(entry, nullptr);
  const ascpairs *pairs = reinterpret_cast<const ascpairs *>(entry);
  EXPECT_STREQ(pairs->product, "");
  EXPECT_EQ(pairs->level, -1);
  EXPECT_EQ(pairs->version, -1);
  // After the start a non-zero mode goes to the signal switch, 0 does not.
  sqlsignal(0, nullptr, 0);
  sqlsignal(0, nullptr, 1);
  EXPECT_EQ(fake.sig_modes(), std::vector<int>({1}));
  EXPECT_EQ(tcb->asf_options, 4);
}

TEST_F(AsfCalls, AnyOtherModeBeforeTheStartClearsTheOptionWord) {
  sqlsignal(0, nullptr, 0);
  EXPECT_EQ(tcb->asf_options, 4);
  sqlsignal(0, nullptr, 1);
  EXPECT_EQ(tcb->asf_options, 0);
}

/* ---- Recorded statuses ---- */

/* Every wrapper records a failure from its control record, a positive
** status as its negative, and keeps oserr and the text. */
TEST_F(AsfCalls, EveryWrapperRecordsItsFailureWithPositiveStatusesNegated) {
  struct Case {
    const char *what;
    int service;
    std::function<int()> run;
  };
  void *assoc = fake.association(0);
  char *server = nullptr, *host = nullptr;
  char type = 0;
  const std::vector<Case> cases = {
      {"start", asf_svc_init, [&] { return asf_init(tcb); }},
      {"directory", asf_svc_directory, [&] { return asf_dbpath() == nullptr ? -1 : 0; }},
      {"abort", asf_svc_abort, [&] { return asf_abort(assoc, 1); }},
      {"interrupt", asf_svc_resync,
       [&] {
         asf_resync(assoc);
         return -1;
       }},
      {"server entry", asf_svc_attribute,
       [&] { return asf_getattribute(assoc, &server, &host, &type); }},
  };
  for (const Case &c : cases)
    for (int32_t status : {int32_t {asf_status_buffers}, int32_t {asf_status_aborted}, -25580}) {
      SCOPED_TRACE(std::string(c.what) + " " + std::to_string(status));
      _sqclrca(tcb);
      _iqconnct_asf_init_done = 0;
      fake.fail(c.service, status, 111, "peer went away");
      EXPECT_EQ(c.run(), -1);
      EXPECT_EQ(tcb->sqlca->sqlcode, status > 0 ? -status : status);
      EXPECT_EQ(*tcb->sqlcode, tcb->sqlca->sqlcode);
      EXPECT_EQ(tcb->sqlca->sqlerrd[1], 111);
      EXPECT_EQ(errm(), "peer went away");
      EXPECT_EQ(server, nullptr);
    }
  EXPECT_EQ(_iqconnct_asf_init_done, 0) << "a failed start is tried again";
}

TEST_F(AsfCalls, AbortFlagsFollowTheModeAndAFailedReleaseAbortsSilently) {
  void *assoc = fake.association(3);
  for (auto [mode, flags] : {std::pair {1, ASF_ABORT_PASS}, {2, 0u}, {0, ASF_ABORT_PASS}}) {
    ASSERT_EQ(asf_abort(assoc, mode), 0);
    EXPECT_EQ(fake.last_request(asf_svc_abort).word[1], flags) << mode;
    EXPECT_EQ(fake.last_assoc(asf_svc_abort), assoc);
  }
  ASSERT_EQ(asf_disconnect(assoc, tcb), 0);
  EXPECT_EQ(fake.calls(asf_svc_abort), 3);
  fake.fail(asf_svc_release, -25580, 5, "release failed");
  EXPECT_EQ(asf_disconnect(assoc, tcb), -1);
  EXPECT_EQ(fake.calls(asf_svc_abort), 4);
  EXPECT_EQ(fake.last_request(asf_svc_abort).word[1], ASF_ABORT_PASS);
  EXPECT_EQ(tcb->sqlca->sqlcode, 0) << "the release's own error is not recorded";
}

/* ---- Directory and server names ---- */

TEST_F(AsfCalls, ServerListPutsASlashBeforeEachDirectoryAndFreesTheRegistry) {
  struct Case {
    std::vector<FakeEntry> entries;
    const char *text;
  };
  const Case cases[] = {
      {{}, ""},
      {{{"a"}}, "//a"},
      {{{"a", "db1"}, {"b", "/db2"}, {"c"}}, "//a/db1://b/db2://c"},
  };
  for (const Case &c : cases) {
    fake.set_registry(c.entries);
    char *text = asf_dbpath();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, c.text);
    sqli_release(text);
    EXPECT_EQ(fake.live_registries(), 0);
  }
}

TEST_F(AsfCalls, ServerNamesAreSortedAndDistinct) {
  const std::string long_name(300, 'z');
  fake.set_registry({{"tokyo", "db"}, {"alpha"}, {"tokyo", "other"}, {long_name}, {"mid", "x"}});
  sqli_srvnode *list = get_srv_list();
  std::vector<std::string> names;
  for (sqli_srvnode *n = list; n != nullptr; n = n->next)
    names.push_back(n->name);
  free_srv_list(list);
  EXPECT_EQ(names, (std::vector<std::string> {"alpha", "mid", "tokyo", long_name}));
  fake.set_registry({});
  EXPECT_EQ(get_srv_list(), nullptr);
  EXPECT_EQ(tcb->sqlca->sqlcode, 0);
}

/* ---- Connect ---- */

TEST_F(AsfCalls, ConnectRequestCarriesTheParametersAndTheKind) {
  fake.set_registry({{"dvzsrv", "/data"}});
  struct Case {
    const char *dbenv;
    int implicit;
    int tape;
    int namekind;
    int kind;
    int flags;
    const char *server;
    const char *db;
  };
  const Case cases[] = {
      {"hatest@dvzsrv", 0, 0, 3, 11, 3, "dvzsrv", "hatest"},
      {"hatest", 1, 0, 3, 2, 3, "<null>", "hatest"},
      {"/tmp/x/stores@dvzsrv", 1, 0, 3, 2, 2, "dvzsrv", "/tmp/x/stores"},
      {"@dvzsrv", 1, 1, 3, 6, 3, "dvzsrv", "<null>"},
      {nullptr, 1, 0, 7, 6, 3, "<null>", "<null>"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.dbenv != nullptr ? c.dbenv : "none");
    sqli_conn *conn = record(c.dbenv);
    FakeConnectResponse accept;
    accept.server_version = 310;
    fake.script_connect(accept);
    ASSERT_EQ(asf_connect(conn, nullptr, c.implicit, tcb, c.tape), 0) << tcb->sqlca->sqlcode;
    const auto &seen = fake.connects().back();
    EXPECT_EQ(seen.namekind, c.namekind);
    EXPECT_EQ(seen.dbenv, c.dbenv != nullptr ? c.dbenv : "<null>");
    EXPECT_EQ(seen.progname, c.tape != 0 ? "ruzodu" : "sqlexec");
    EXPECT_EQ(seen.version, "9.250");
    EXPECT_EQ(seen.clientid, "dvzsqli");
    EXPECT_EQ(seen.pfname, "sqli");
    EXPECT_EQ(seen.words, (std::array<int32_t, 3> {311, 0, 0}));
    EXPECT_EQ(seen.pair_level, -1);
    EXPECT_EQ(seen.pair_version, -1);
    EXPECT_EQ(seen.dbpath, "//dvzsrv/data");
    EXPECT_EQ(seen.kind, c.kind);
    EXPECT_EQ(seen.flags, c.flags);
    EXPECT_EQ(seen.str[asc_str_server], c.server);
    EXPECT_EQ(seen.str[asc_str_dbname], c.db);
    EXPECT_EQ(conn->server_version, 310);
    EXPECT_EQ(conn->io->svcctl.ascid, fake.association(int(fake.connects().size()) - 1));
    free_connp(conn);
  }
  EXPECT_EQ(fake.calls(asf_svc_abort), 0);
}

TEST_F(AsfCalls, RetryCountAndTimeLimitComeFromTheEnvironment) {
  struct Case {
    std::optional<std::string> retry, contime;
    int retries, timeout;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 1, -1},
      {"0", "0", 1, -1},
      {"abc", "-5", 1, -1},
      {"3", "2", 3, 2000},
  };
  for (const Case &c : cases) {
    dvz_test::ScopedEnv r("DOVARIZACONRETRY", c.retry);
    dvz_test::ScopedEnv t("DOVARIZACONTIME", c.contime);
    sqli_conn *conn = record("db@srv");
    ASSERT_EQ(asf_connect(conn, nullptr, 0, tcb, 0), 0);
    EXPECT_EQ(fake.connects().back().retries, c.retries);
    EXPECT_EQ(fake.connects().back().timeout, c.timeout);
    free_connp(conn);
  }
}

TEST_F(AsfCalls, AnUnusableDatabaseEnvironmentFailsBeforeAnyConnect) {
  for (const char *dbenv : {"//srv/db", "@"}) {
    SCOPED_TRACE(dbenv);
    _sqclrca(tcb);
    sqli_conn *conn = record(dbenv);
    EXPECT_EQ(asf_connect(conn, nullptr, 0, tcb, 0), -1);
    EXPECT_EQ(tcb->sqlca->sqlcode, -1804);
    free_connp(conn);
  }
  EXPECT_EQ(fake.calls(asf_svc_connect), 0);
}

TEST_F(AsfCalls, AReassociationKindIsSentAsGiven) {
  char server[] = "other", db[] = "newdb", log[] = "-l";
  const pfconkind given {asc_kind_drop, 0x40, {server, db, log, nullptr, nullptr, nullptr}};
  sqli_conn *conn = record("newdb@other");
  ASSERT_EQ(asf_connect(conn, &given, 1, tcb, 0), 0);
  const auto &seen = fake.connects().back();
  EXPECT_EQ(seen.kind, asc_kind_drop);
  EXPECT_EQ(seen.flags, 0x40);
  EXPECT_EQ(seen.str[asc_str_logarg], "-l");
  free_connp(conn);
}

/* A refused connect records the server's error and message and aborts the
** new association; the message is cut to 71 characters. */
TEST_F(AsfCalls, ARefusedConnectRecordsTheServersErrorAndAbortsTheAssociation) {
  const std::string message(80, 'm');
  FakeConnectResponse refuse;
  refuse.status = asf_status_rejected;
  refuse.errnum = -329;
  refuse.isamerr = -111;
  refuse.messages = {{12, message}, {3, "second"}};
  fake.script_connect(refuse);
  sqli_conn *conn = record("hatest@srv");
  EXPECT_EQ(asf_connect(conn, nullptr, 0, tcb, 0), -1);
  EXPECT_EQ(tcb->sqlca->sqlcode, -329);
  EXPECT_EQ(SQLCODE, -329);
  EXPECT_EQ(tcb->sqlca->sqlerrd[1], -111);
  EXPECT_EQ(tcb->sqlca->sqlerrd[4], 12);
  EXPECT_EQ(errm(), message.substr(0, 71));
  EXPECT_EQ(fake.calls(asf_svc_abort), 1);
  EXPECT_EQ(fake.last_assoc(asf_svc_abort), fake.association(0));
  EXPECT_EQ(fake.last_request(asf_svc_abort).word[1], ASF_ABORT_PASS);
  free_connp(conn);
}

TEST_F(AsfCalls, ConnectResponsesOtherThanAPlainAccept) {
  struct Case {
    const char *what;
    FakeConnectResponse response;
    int result, sqlcode, aborts;
    const char *errm;
  };
  FakeConnectResponse accepted_with_error;
  accepted_with_error.errnum = -387;
  FakeConnectResponse malformed;
  malformed.form_ok = false;
  FakeConnectResponse unreachable;
  unreachable.status = -908;
  FakeConnectResponse refused_bare;
  refused_bare.status = asf_status_rejected;
  refused_bare.errnum = -951;
  FakeConnectResponse warned;
  warned.warnbits = 0x2;
  const Case cases[] = {
      {"error on an accept", accepted_with_error, -1, -387, 1, ""},
      {"not a status record", malformed, -1, -408, 1, ""},
      {"unreachable", unreachable, -1, -908, 0, "scripted connect failure"},
      {"refused without message", refused_bare, -1, -951, 1, ""},
      {"warnings", warned, 0, 0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    _sqclrca(tcb);
    const int aborts = fake.calls(asf_svc_abort);
    fake.script_connect(c.response);
    sqli_conn *conn = record("db@srv");
    EXPECT_EQ(asf_connect(conn, nullptr, 0, tcb, 0), c.result);
    EXPECT_EQ(tcb->sqlca->sqlcode, c.sqlcode);
    EXPECT_EQ(fake.calls(asf_svc_abort) - aborts, c.aborts);
    EXPECT_EQ(errm(), c.errm);
    free_connp(conn);
  }
  EXPECT_EQ(tcb->sqlca->sqlwarn.sqlwarn0, 'W');
  EXPECT_EQ(tcb->sqlca->sqlwarn.sqlwarn2, 'W');
}

/* ---- Server entry ---- */

TEST_F(AsfCalls, ServerEntryGivesNameHostAndType) {
  struct Case {
    FakeEntry entry;
    int result, sqlcode;
    const char *host;
    char type;
  };
  const Case cases[] = {
      {{"srv", "", 1, "db.example|9088|tcp", "ol"}, 0, 0, "db.example", 'o'},
      {{"srv", "", 1, "nohost", "se"}, 0, 0, "nohost", 's'},
      {{"srv", "", 2, "/tmp/pipe", "ol"}, -1, -1812, nullptr, 0},
  };
  for (const Case &c : cases) {
    _sqclrca(tcb);
    fake.set_server_entry(c.entry);
    char *server = nullptr, *host = nullptr;
    char type = 0;
    EXPECT_EQ(asf_getattribute(fake.association(1), &server, &host, &type), c.result);
    EXPECT_EQ(tcb->sqlca->sqlcode, c.sqlcode);
    EXPECT_EQ(fake.last_request(asf_svc_attribute).word[1], 7u);
    if (c.host == nullptr) {
      EXPECT_EQ(server, nullptr);
      EXPECT_EQ(host, nullptr);
      continue;
    }
    EXPECT_STREQ(server, "srv");
    EXPECT_STREQ(host, c.host);
    EXPECT_EQ(type, c.type);
    sqli_release(server);
    sqli_release(host);
  }
}

/* ---- Reply 86 and reassociation ---- */

class Reassociation : public AsfCalls {
 protected:
  void SetUp() override {
    AsfCalls::SetUp();
    tcb->curconn = &t.conn;
    ASSERT_EQ(initpipevbles(&t.pipe), 0);
  }
  TestConnection t;
};

/* The body of a reply 86; the texts go as length, bytes and pad. */
Bytes reassoc_body(const std::string &server, const std::string &db, int kind, int32_t flags,
                   const std::string &logarg, const std::string &logfile) {
  return Wire().lbuf(server).lbuf(db).i16(kind).i32(flags).lbuf(logarg).lbuf(logfile);
}

TEST_F(Reassociation, ReplyIsReadFieldByFieldWithOddLengthsAndPads) {
  Bytes bytes = reassoc_body("srv", "stores7", 5, 0x12345, "", "logfile");
  const Bytes tail = Wire().i16(SQR_EOT);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  fake.script_reply(bytes, {1, 3});
  ASSERT_EQ(_sqg_reassoc(tcb), 0);
  EXPECT_EQ(_igetint(&t.pipe), SQR_EOT) << "the next reply is read in step";
  ASSERT_NE(tcb->reassoc, nullptr);
  EXPECT_EQ(tcb->reassoc_pending, 1);
  const pfconkind &k = *tcb->reassoc;
  EXPECT_STREQ(k.str[asc_str_server], "srv");
  EXPECT_STREQ(k.str[asc_str_dbname], "stores7");
  EXPECT_EQ(k.kind, 5);
  EXPECT_EQ(k.flags, 0x12345);
  EXPECT_EQ(k.str[asc_str_logarg], nullptr);
  EXPECT_STREQ(k.str[asc_str_logfile], "logfile");

  // A second reply replaces the first; empty texts remove the stored ones.
  fake.script_reply(reassoc_body("", "db2", 2, 0, "-x", ""));
  ASSERT_EQ(_sqg_reassoc(tcb), 0);
  EXPECT_EQ(k.str[asc_str_server], nullptr);
  EXPECT_STREQ(k.str[asc_str_dbname], "db2");
  EXPECT_STREQ(k.str[asc_str_logarg], "-x");
  EXPECT_EQ(k.str[asc_str_logfile], nullptr);
}

/* A reply cut anywhere fails without changing the stored request. */
TEST_F(Reassociation, AShortReplyFailsAndKeepsThePreviousRequest) {
  const Bytes whole = reassoc_body("abc", "d", 2, 7, "lg", "f");
  fake.script_reply(whole);
  ASSERT_EQ(_sqg_reassoc(tcb), 0);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    tcb->reassoc_pending = 0;
    fake.fail_after(cut, -25580);
    fake.rewind();
    ASSERT_EQ(initpipevbles(&t.pipe), 0);
    EXPECT_EQ(_sqg_reassoc(tcb), -1);
    EXPECT_EQ(tcb->reassoc_pending, 0);
    const pfconkind &k = *tcb->reassoc;
    EXPECT_STREQ(k.str[asc_str_server], "abc");
    EXPECT_STREQ(k.str[asc_str_dbname], "d");
    EXPECT_STREQ(k.str[asc_str_logarg], "lg");
    EXPECT_STREQ(k.str[asc_str_logfile], "f");
  }
}

TEST_F(Reassociation, NothingPendingOrNoConnectionDoesNothing) {
  EXPECT_EQ(_sqreassoc(tcb), 0);
  tcb->curconn = nullptr;
  EXPECT_EQ(_sqreassoc(tcb), -1);
  EXPECT_EQ(fake.calls(asf_svc_connect), 0);
}

/* An explicit connection is never moved: -1808, naming the server, and
** the current connection stays as it was. */
TEST_F(Reassociation, AnExplicitConnectionGets1808AndStaysCurrent) {
  conlist.mode = sqli_mode_explicit;
  struct Case {
    const char *server;
    const char *errm;
    int connects, releases;
  };
  const Case cases[] = {
      {"far", "@far", 0, 0},
      // Without a server in the reply the target is probed (kind 2) to
      // name it, and released.
      {"", "probed", 1, 1},
  };
  fake.set_server_entry({"probed"});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.errm);
    _sqclrca(tcb);
    const int connects = fake.calls(asf_svc_connect);
    const int releases = fake.calls(asf_svc_release);
    fake.script_reply(reassoc_body(c.server, "newdb", 5, 0, "", ""));
    ASSERT_EQ(initpipevbles(&t.pipe), 0);
    ASSERT_EQ(_sqg_reassoc(tcb), 0);
    const int result = _sqreassoc(tcb);
    EXPECT_TRUE(result == -1 || result == -1808) << result;
    EXPECT_EQ(tcb->sqlca->sqlcode, -1808);
    EXPECT_EQ(errm(), c.errm);
    EXPECT_EQ(tcb->curconn, &t.conn);
    EXPECT_EQ(tcb->reassoc_pending, 0);
    EXPECT_EQ(fake.calls(asf_svc_connect) - connects, c.connects);
    EXPECT_EQ(fake.calls(asf_svc_release) - releases, c.releases);
    if (c.connects != 0) {
      EXPECT_EQ(fake.connects().back().kind, asc_kind_open);
    }
  }
  EXPECT_EQ(fake.calls(asf_svc_abort), 0);
}

/* The implicit default connection moves: a new association to the named
** server with the reply's kind, the old one aborted, the new record the
** implicit default and current. */
TEST_F(AsfCalls, TheImplicitConnectionMovesToTheServerTheReplyNames) {
  dvz_test::ScopedEnv dbdate("DBDATE", std::string("Y4MD-"));  // one session variable
  sqli_conn *old = record("db1");
  ASSERT_EQ(set_conn_globals(old, tcb), 0);
  old->io->svcctl.ascid = fake.association(9);
  conlist.deflt = old;
  conlist.default_kind = sqli_default_implicit;
  conlist.mode = sqli_mode_implicit;
  fake.script_reply(reassoc_body("srv2", "db2", 2, 3, "", ""));
  ASSERT_EQ(_sqg_reassoc(tcb), 0);
  FakeConnectResponse modern;
  modern.server_version = 310;  // no version request follows
  fake.script_connect(modern);
  fake.set_server_entry({"srv2"});
  fake.script_reply(Wire().i16(SQR_EOT));  // the session environment's end
  EXPECT_EQ(_sqreassoc(tcb), 0) << tcb->sqlca->sqlcode;
  const Bytes sent = fake.sent_bytes();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sqli_test::ld_i16(sent, 0), SQR_INFO)
      << "the session environment went to the new server";
  ASSERT_EQ(fake.connects().size(), 1u);
  EXPECT_EQ(fake.connects()[0].kind, asc_kind_open);
  EXPECT_EQ(fake.connects()[0].str[asc_str_server], "srv2");
  EXPECT_EQ(fake.connects()[0].dbenv, "db2@srv2");
  EXPECT_EQ(fake.calls(asf_svc_abort), 1);
  EXPECT_EQ(fake.last_assoc(asf_svc_abort), fake.association(9));
  ASSERT_NE(tcb->curconn, nullptr);
  EXPECT_EQ(tcb->curconn, conlist.deflt);
  EXPECT_STREQ(tcb->curconn->dbenv, "db2@srv2");
  EXPECT_EQ(tcb->curconn->io->svcctl.ascid, fake.association(0));
  EXPECT_EQ(conlist.mode, sqli_mode_implicit);
  EXPECT_EQ(tcb->sqlca->sqlcode, 0);
  sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
}

/* ---- Database list ---- */

/* The reply to the database-list request: names, then the end. */
Bytes dblist_reply(const std::vector<std::string> &names) {
  Wire w;
  w.i16(SQR_DBLIST);
  for (const std::string &n : names)
    w.lbuf(n);
  w.u16(0).i16(SQR_EOT);
  return w;
}

TEST_F(AsfCalls, DatabaseListGoesOverEveryServerAndNamesTheOnesThatFailed) {
  fake.set_registry({{"beta"}, {"alpha"}});
  FakeConnectResponse down;
  down.status = -908;
  fake.script_connect(FakeConnectResponse());  // alpha answers
  fake.script_connect(down);  // beta cannot be reached
  fake.script_reply(dblist_reply({"zeta", "abc"}));
  char *names[8] = {};
  char area[256];
  int32_t count = -1;
  EXPECT_EQ(_asf_dblist(&count, names, 8, area, sizeof area, tcb), -908);
  EXPECT_EQ(tcb->sqlca->sqlcode, -908);
  EXPECT_EQ(SQLCODE, -908);
  EXPECT_EQ(errm(), "beta");
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(names[0], "abc@alpha");
  EXPECT_STREQ(names[1], "zeta@alpha");
  ASSERT_EQ(fake.connects().size(), 2u);
  EXPECT_EQ(fake.connects()[0].dbenv, "@alpha");
  EXPECT_EQ(fake.connects()[0].kind, asc_kind_connect);
  EXPECT_EQ(fake.connects()[1].dbenv, "@beta");
  EXPECT_EQ(fake.calls(asf_svc_release), 1);
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_EQ(fake.sent_bytes(), Bytes(Wire().i16(26).i16(SQR_EOT)));
}

TEST_F(AsfCalls, FailedServersStayUnder72Characters) {
  std::vector<FakeEntry> entries;
  std::vector<std::string> names;
  for (char c : {'a', 'b', 'c', 'd'}) {
    names.push_back(std::string(30, c));
    entries.push_back({names.back()});
    FakeConnectResponse down;
    down.status = -908;
    fake.script_connect(down);
  }
  fake.set_registry(entries);
  char *list[4] = {};
  char area[64];
  int32_t count = -1;
  EXPECT_EQ(_asf_dblist(&count, list, 4, area, sizeof area, tcb), -908);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(errm(), names[0] + "," + names[1]);
  EXPECT_LT(errm().size(), 72u);
}

TEST_F(AsfCalls, AnyOtherConnectFailureEndsTheDatabaseList) {
  fake.set_registry({{"one"}, {"two"}});
  FakeConnectResponse refused;
  refused.status = -951;
  fake.script_connect(refused);
  char *list[4] = {};
  char area[64];
  int32_t count = -1;
  EXPECT_EQ(_asf_dblist(&count, list, 4, area, sizeof area, tcb), -951);
  EXPECT_EQ(fake.calls(asf_svc_connect), 1);
}

}  // namespace
