/*
** Connections of the runtime against the SQLI server double over real
** loopback TCP, through the association services: CONNECT and its
** argument errors, the handshake and session environment that follow it,
** DISCONNECT with and without an open transaction, the implicit
** connection, SET CONNECTION, refused, silent and broken connects. Each
** test leaves no connection behind (an abort of all at its end).
*/
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "double_server.h"
#include "os_context.h"
#include "runtime_session.h"
#include "scoped_env.h"
#include "sqli_conn.h"
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_reply.h"
#include "sqli_status.h"

namespace {

using sqli_test::DoubleServer;

/* The hex of every SQLI message the double received, in order. */
std::string session_hex(const DoubleServer &d) {
  std::string all;
  for (const auto &e : d.entries("sqli"))
    all += e.get("raw");
  return all;
}

int count_named() {
  int n = 0;
  for (const sqli_conn *c = conlist.head; c != nullptr; c = c->next)
    ++n;
  return n;
}

class Connections : public sqli_test::RuntimeSessionTest {
 protected:
  /* Every connection closed leaves neither a list nor a default behind. */
  void TearDown() override {
    RuntimeSessionTest::TearDown();
    EXPECT_EQ(conlist.head, nullptr);
    EXPECT_EQ(conlist.deflt, nullptr);
  }
  /* A connect the double's scenario breaks leaves no record; the next,
  ** with the scenario cleared, succeeds. */
  void expect_broken_connect_then_retry(const DoubleServer &d) {
    connect(d);
    EXPECT_EQ(SQLCODE, -408);
    EXPECT_EQ(conlist.head, nullptr);
    EXPECT_EQ(tcb->curconn, nullptr);
    d.set_scenario("{}");
    connect(d);
    EXPECT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
    EXPECT_EQ(count_named(), 1);
  }
};

TEST_F(Connections, ArgumentErrorsComeBeforeAnyServerContact) {
  DoubleServer d({"--profile", "minimal"});
  const std::string slashes = "//" + d.server() + "/db";
  struct Case {
    const char *what;
    int32_t type;
    const char *dbenv;
    const char *name;
    int32_t code;
  } cases[] = {
      {"empty name", SQLI_CONNECT_TO, "hatest", "", -1805},
      {"no environment", SQLI_CONNECT_TO, nullptr, nullptr, -1804},
      {"empty environment", SQLI_CONNECT_TO, "", "c1", -1804},
      {"two-slash server form", SQLI_CONNECT_TO, slashes.c_str(), nullptr, -1804},
      {"type 2", 2, "hatest", nullptr, -1812},
      {"type 3", 3, "hatest", nullptr, -1812},
      {"type 9", 9, "hatest", nullptr, -1812},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sqli_connect_open(1, c.type, c.dbenv, c.name, nullptr, 0);
    EXPECT_EQ(SQLCODE, c.code);
    EXPECT_EQ(sqlca.sqlcode, c.code);
    EXPECT_EQ(conlist.head, nullptr);
    EXPECT_EQ(conlist.mode, sqli_mode_none);
    EXPECT_EQ(tcb->curconn, nullptr);
  }
  EXPECT_TRUE(d.entries("connect").empty()) << "no connect reached the server";

  /* With an explicit connection: the implicit one is refused, and the same
  ** environment again is a name in use. */
  connect(d);
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  sqli_connect_open(1, SQLI_CONNECT_IMPLICIT, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(SQLCODE, -1811);
  connect(d);
  EXPECT_EQ(SQLCODE, -1802);
  EXPECT_EQ(d.entries("connect").size(), 1u);
  EXPECT_EQ(count_named(), 1);
  EXPECT_EQ(conlist.mode, sqli_mode_explicit);
}

TEST_F(Connections, MinimalProfileConnectSettlesVersionAndSendsTheEnvironment) {
  dvz_test::ScopedEnv optcompind("OPTCOMPIND", std::string("2"));
  DoubleServer d({"--profile", "minimal"});
  sqli_connect_open(1, SQLI_CONNECT_TO, ("hatest@" + d.server()).c_str(), nullptr, nullptr, 0);
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;

  const auto connects = d.entries("connect");
  ASSERT_EQ(connects.size(), 1u);
  const auto &c = connects[0];
  EXPECT_EQ(c.get("x.program"), "sqlexec") << c.line;
  EXPECT_EQ(c.get("version"), "9.250") << c.line;
  EXPECT_EQ(c.get("x.kind"), "11") << c.line;
  EXPECT_EQ(c.get("database"), "hatest") << c.line;
  EXPECT_EQ(c.get("x.server"), d.server()) << c.line;

  sqli_conn *conn = tcb->curconn;
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn, conlist.head);
  EXPECT_STREQ(conn->name, ("hatest@" + d.server()).c_str());
  EXPECT_STREQ(conn->server_name, d.server().c_str());
  EXPECT_STREQ(conn->host_name, "127.0.0.1");
  EXPECT_STREQ(conn->server_version_text, "8.00");
  EXPECT_EQ(conn->capabilities, 0x1);
  EXPECT_EQ(conn->dbopen, 1);
  EXPECT_EQ(conn->inuse, 1);
  EXPECT_EQ(conlist.mode, sqli_mode_explicit);
  EXPECT_EQ(get_forkflag(), 1);
  EXPECT_STREQ(dvz_getcur_conn_name(), conn->name);

  /* The version request first, then the session environment, which holds
  ** the session variable set here. */
  const std::string hex = session_hex(d);
  EXPECT_EQ(hex.rfind("0035000c", 0), 0u) << hex;
  const auto env = d.messages(81);
  ASSERT_EQ(env.size(), 1u) << hex;
  const std::string raw = env[0].raw();
  EXPECT_EQ(raw.substr(0, 4), std::string("\x00\x51\x00\x06", 4));
  EXPECT_NE(raw.find(std::string("\x00\x0aOPTCOMPIND\x00\x01"
                                 "2",
                                 15)),
            std::string::npos)
      << hex;
}

TEST_F(Connections, OldServerGetsNoSessionMessagesAndStoresFloatAsDecimal) {
  DoubleServer d({"--profile", "minimal", "--server-version", "5.00"});
  connect(d);
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  ASSERT_NE(tcb->curconn, nullptr);
  EXPECT_EQ(tcb->curconn->capabilities, 0);
  EXPECT_EQ(_iqftodflag(tcb), 1);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn4, 'W');
  EXPECT_TRUE(d.messages(81).empty()) << session_hex(d);
  int16_t event[3] = {};
  EXPECT_EQ(dvz_xactevent(event), -554);

  /* The database-open word is the transaction flag there: an orderly
  ** close is refused, an abort closes without any message. */
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
  EXPECT_EQ(SQLCODE, -1800);
  EXPECT_NE(tcb->curconn, nullptr);
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ABORT, 0);
  EXPECT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_TRUE(d.messages(84).empty());
  EXPECT_TRUE(d.messages(56).empty());
  EXPECT_EQ(dvz_xactevent(event), -1803);
}

TEST_F(Connections, DisconnectCurrentWithAndWithoutAnOpenTransaction) {
  DoubleServer d({"--profile", "minimal"}, R"({"transaction": 1})");
  connect(d);
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  sqli_conn *conn = tcb->curconn;

  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
  EXPECT_EQ(SQLCODE, -1800);
  EXPECT_EQ(tcb->curconn, conn) << "the connection stays current and usable";
  EXPECT_EQ(count_named(), 1);
  EXPECT_FALSE(d.messages(84).empty());

  d.set_scenario(R"({"transaction": 0})");
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
  EXPECT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_EQ(conlist.head, nullptr);
  EXPECT_EQ(conlist.mode, sqli_mode_none);
  EXPECT_EQ(get_forkflag(), 0);
  /* The transaction query, then the exit, then the release. */
  const std::string hex = session_hex(d);
  const size_t query = hex.rfind("0054000c");
  const size_t exit = hex.rfind("0038");
  ASSERT_NE(query, std::string::npos) << hex;
  ASSERT_NE(exit, std::string::npos) << hex;
  EXPECT_LT(query, exit) << hex;
  EXPECT_TRUE(d.wait_for_what("eof")) << "the association was released";

  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
  EXPECT_EQ(SQLCODE, -1803);
  sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ORDERLY, 0);
  EXPECT_EQ(SQLCODE, -1807);
}

TEST_F(Connections, ImplicitConnectionOpensForAStatementAndAgainAfterClose) {
  DoubleServer d({"--profile", "minimal"});
  _sqclrca(tcb);
  EXPECT_EQ(_sqs_(0, tcb), 0) << sqlca.sqlerrm;
  ASSERT_NE(tcb->curconn, nullptr);
  EXPECT_EQ(d.entries("connect").at(0).get("kind"), "6");
  EXPECT_EQ(conlist.mode, sqli_mode_implicit);
  EXPECT_EQ(conlist.default_kind, sqli_default_implicit);
  EXPECT_EQ(conlist.deflt, tcb->curconn);
  EXPECT_EQ(tcb->curconn->dbopen, 1);
  EXPECT_EQ(get_forkflag(), 1);
  EXPECT_EQ(_imp_def_conn(tcb), 1);
  EXPECT_EQ(_sqs_(0, tcb), 0) << "an existing connection is used";
  EXPECT_EQ(d.entries("connect").size(), 1u);

  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ABORT, 0);
  EXPECT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(conlist.deflt, nullptr);
  EXPECT_EQ(conlist.mode, sqli_mode_none);
  _sqclrca(tcb);
  EXPECT_EQ(_sqs_(0, tcb), 0) << sqlca.sqlerrm;
  EXPECT_NE(tcb->curconn, nullptr);
  ASSERT_TRUE(d.wait_for(
      [](const auto &e) { return e.get("what") == "connect" && e.number("assoc") == 2; }));
}

TEST_F(Connections, RefusedConnectLeavesNothingBehind) {
  DoubleServer d(
      {"--profile", "minimal", "--reject=-329,-111", "--reject-message", std::string(80, 'm')});
  sqli_connect_open(1, SQLI_CONNECT_TO, ("hatest@" + d.server()).c_str(), nullptr, nullptr, 0);
  EXPECT_EQ(SQLCODE, -329);
  EXPECT_EQ(std::strlen(sqlca.sqlerrm), 71u);
  EXPECT_EQ(conlist.head, nullptr);
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_EQ(conlist.mode, sqli_mode_none);
}

TEST_F(Connections, SilentServerEndsWithinTheConnectBudget) {
  dvz_test::ScopedEnv budget("DOVARIZACONTIME", std::string("2"));
  DoubleServer d({"--profile", "minimal", "--fault", "silent"});
  const auto start = std::chrono::steady_clock::now();
  connect(d);
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(SQLCODE, -27001);
  EXPECT_LT(took, 6.0);
  EXPECT_EQ(conlist.head, nullptr);
  EXPECT_EQ(tcb->curconn, nullptr);
}

TEST_F(Connections, BrokenHandshakeLeavesNoRecordAndTheNextConnectSucceeds) {
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [{"code": 53, "reply": "00 0c"}]})");
  expect_broken_connect_then_retry(d);
}

TEST_F(Connections, SetConnectionSwitchesAndDormantNeedsTheCurrentOne) {
  DoubleServer d({"--profile", "minimal"});
  connect(d, "one", "c1");
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  sqli_conn *c1 = tcb->curconn;
  connect(d, "two", "c2");
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  sqli_conn *c2 = tcb->curconn;
  EXPECT_EQ(c1->inuse, 0) << "the connection left behind is unmarked";
  EXPECT_EQ(c2->inuse, 1);

  c1->dbflags[1] = 1; /* as if c1's database were ANSI */
  {
    /* DBANSIWARN is read once per process: unset here, so no sqlwarn5. */
    dvz_test::ScopedEnv ansi("DBANSIWARN", std::nullopt);
    sqli_connect_set(SQLI_DISCONNECT_NAMED, "c1", nullptr);
    EXPECT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
    EXPECT_EQ(tcb->curconn, c1);
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn2, 'W');
    EXPECT_NE(sqlca.sqlwarn.sqlwarn5, 'W');
    EXPECT_FALSE(d.messages(84).empty()) << "the switch asked about c2's transaction";
  }
  _sqansion(); /* ANSI warnings on, as DBANSIWARN asks */
  sqli_connect_set(SQLI_DISCONNECT_NAMED, "c2", nullptr);
  sqli_connect_set(SQLI_DISCONNECT_NAMED, "c1", nullptr);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn5, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn2, 'W');

  sqli_connect_set(SQLI_DISCONNECT_NAMED, "c2", "dormant");
  EXPECT_EQ(SQLCODE, -1813);
  EXPECT_EQ(tcb->curconn, c1);
  sqli_connect_set(SQLI_DISCONNECT_NAMED, "nosuch", nullptr);
  EXPECT_EQ(SQLCODE, -1803);
  sqli_connect_set(SQLI_DISCONNECT_NAMED, "", nullptr);
  EXPECT_EQ(SQLCODE, -1805);

  d.set_scenario(R"({"transaction": 0})");
  sqli_connect_set(SQLI_DISCONNECT_CURRENT, nullptr, "dormant");
  EXPECT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_EQ(count_named(), 2);
}

TEST_F(Connections, AProtocolErrorInTheTransactionQueryFreesTheConnectionOnce) {
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [{"code": 84, "reply": "00 63 00 0c"}]})");
  connect(d, "one", "c1");
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  sqli_connect_close(SQLI_DISCONNECT_NAMED, "c1", SQLI_END_ORDERLY, 0);
  EXPECT_EQ(SQLCODE, -408);
  EXPECT_EQ(conlist.head, nullptr);
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_EQ(conlist.mode, sqli_mode_none);

  /* The same fault while CONNECT asks about the current connection's
  ** transaction: the old connection is gone, no new one is made. */
  d.set_scenario("{}");
  connect(d, "one", "c1");
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  d.set_scenario(R"({"rules": [{"code": 84, "reply": "00 63 00 0c"}]})");
  connect(d, "two", "c2");
  EXPECT_EQ(SQLCODE, -408);
  EXPECT_EQ(conlist.head, nullptr);
  EXPECT_EQ(tcb->curconn, nullptr);
}

/* A protocol error in the reply to the session environment closes and
** frees the new connection inside CONNECT; nothing of the record is read
** afterwards (ASan guards the trace of the connect). */
TEST_F(Connections, AProtocolErrorInTheEnvironmentReplyFreesTheNewConnection) {
  dvz_test::ScopedEnv optcompind("OPTCOMPIND", std::string("2"));
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [{"code": 81, "reply": "00 08 00 0c"}]})");
  expect_broken_connect_then_retry(d);
}

TEST_F(Connections, DisconnectAllClosesNamedAndDefaultConnections) {
  DoubleServer d({"--profile", "minimal"});
  connect(d, "one", "c1");
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  sqli_connect_open(1, SQLI_CONNECT_DEFAULT, nullptr, nullptr, nullptr, 0);
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(conlist.default_kind, sqli_default_explicit);
  EXPECT_EQ(tcb->curconn, conlist.deflt);
  sqli_connect_open(1, SQLI_CONNECT_DEFAULT, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(SQLCODE, -1802) << "one default only";
  connect(d, "two", "c2");
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(count_named(), 2);

  /* With explicit connections but none current, a statement is refused. */
  sqli_connect_set(SQLI_DISCONNECT_CURRENT, nullptr, "dormant");
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(_sqs_(0, tcb), -1811);

  sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ORDERLY, 0);
  EXPECT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  EXPECT_EQ(conlist.head, nullptr);
  EXPECT_EQ(conlist.deflt, nullptr);
  EXPECT_EQ(conlist.mode, sqli_mode_none);
  EXPECT_EQ(get_forkflag(), 0);
  EXPECT_EQ(d.messages(56).size(), 3u) << "each connection was sent the exit";
}

TEST_F(Connections, UserRecordsAreCopiedIntoTheConnectRequest) {
  DoubleServer d({"--profile", "minimal"});
  dvz_conn_user *user = dvz_alloc_conn_user("alice", "secret");
  ASSERT_NE(user, nullptr);
  const std::string env = "hatest@" + d.server();
  sqli_connect_open(1, SQLI_CONNECT_TO, env.c_str(), "withuser", user, 1);
  dvz_free_conn_user(&user);
  EXPECT_EQ(user, nullptr);
  ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
  ASSERT_NE(tcb->curconn, nullptr);
  EXPECT_STREQ(tcb->curconn->user, "alice");
  EXPECT_STREQ(tcb->curconn->password, "secret");
  EXPECT_EQ(tcb->curconn->user_kind, sqli_user_password);
  EXPECT_EQ(tcb->curconn->concurrent, 1);
  EXPECT_EQ(d.entries("connect").at(0).get("user"), "alice");

  int credential = 0;
  dvz_conn_user *cred = dvz_alloc_conn_cred(&credential);
  ASSERT_NE(cred, nullptr);
  sqli_conn *conn = alloc_connp("db", "n", cred, 0);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->user_kind, sqli_user_credential);
  EXPECT_EQ(conn->credential, &credential);
  free_connp(conn);
  dvz_free_conn_cred(&cred);
  EXPECT_EQ(cred, nullptr);
}

}  // namespace
