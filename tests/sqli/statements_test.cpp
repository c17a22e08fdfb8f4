/*
** Statements without a cursor and transactions against the SQLI server
** double over loopback TCP: the requests a statement text, SELECT ... INTO,
** DATABASE and BEGIN/COMMIT/ROLLBACK WORK send (read back from the
** double's journal), what the caller's statement record keeps, server
** errors, a lost connection during a statement, and the implicit
** connection that follows it. Each test aborts every connection at its end.
*/
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "double_server.h"
#include "runtime_session.h"
#include "sqli_conn.h"
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_cursors.h"
#include "sqli_statement.h"
#include "sqli_statements.h"
#include "sqli_status.h"
#include "temp_dir.h"
#include "wire_codec.h"

/* The sanitizer's count of bytes held, when the build has one. */
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace {

using sqli_test::Bytes;
using sqli_test::DoubleServer;
using sqli_test::hex;

/* Message 1 with no inputs: code, count 0, length, the text, its pad. */
std::string command_hex(const std::string &text) {
  char head[13];
  std::snprintf(head, sizeof head, "00010000%04zx", text.size());
  return head + hex(Bytes(text.begin(), text.end())) + (text.size() % 2 != 0 ? "00" : "");
}

size_t count_of(const std::string &hay, const std::string &needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 2))
    if (at % 2 == 0) ++n;
  return n;
}

/* A scenario answering text with a describe of type and id, a done and
** the end. */
std::string answer(const std::string &text, int type, int id = 5) {
  return R"({"text": ")" + text + R"(", "reply": [{"kind": "describe", "stmt_type": )" +
         std::to_string(type) + R"(, "stmt_id": )" + std::to_string(id) +
         R"(}, {"kind": "done", "rows": 1}, {"kind": "end"}]})";
}

/* Runs text through sqli_stmt with no inputs. */
int run(sqli_stmtrec &rec, const char *text) {
  const char *pieces[] = {text, nullptr};
  return sqli_stmt(1, &rec, pieces, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
}

/* Runs the SELECT text through sqli_slct into one INTEGER host variable. */
int select_into(sqli_cursor &rec, const char *text, int32_t &host) {
  sqlvar_struct out {};
  out.sqltype = 102;
  out.sqllen = 4;
  out.sqldata = reinterpret_cast<char *>(&host);
  const char *pieces[] = {text, nullptr};
  return sqli_slct(1, &rec, pieces, 0, nullptr, 1, &out, 0, nullptr, nullptr, nullptr, nullptr, 0);
}

class Statements : public sqli_test::RuntimeSessionTest {};

TEST_F(Statements, ProbeStatementsSendTextDescribeExecuteReleaseAndKeepTheServerType) {
  struct Case {
    const char *text;
    int type;
  } cases[] = {
      {"DROP TABLE hatab", 28},  // even length
      {"CREATE TABLE hatab (a INTEGER)", 8},
      {"INSERT INTO hatab VALUES (1)", 6},
      {"UPDATE hatab SET a = 2", 4},
      {"UPDATE hatab SET a = 23", 4},  // odd length: padded
  };
  std::string rules;
  for (const Case &c : cases)
    rules += (rules.empty() ? "" : ", ") + answer(c.text, c.type);
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [)" + rules + "]}");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    sqli_stmtrec rec {};
    EXPECT_EQ(run(rec, c.text), 0) << sqlca.sqlerrm;
    EXPECT_EQ(rec.stmt_type, c.type);
    EXPECT_EQ(rec.stmt_id, -1) << "the reparse flag keeps no id";
    EXPECT_EQ(sqlca.sqlerrd[2], 1);
    const std::string whole = command_hex(c.text) + "0016" + "0007" + "000b" + "000c";
    EXPECT_EQ(count_of(d.sqli_hex(), whole), 1u) << d.sqli_hex();
  }
}

TEST_F(Statements, TheSameInsertRunTwiceSendsItsTextTwice) {
  const char *text = "INSERT INTO hatab VALUES (7)";
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [)" + answer(text, 6, 9) + "]}");
  sqli_stmtrec rec {};
  ASSERT_EQ(run(rec, text), 0) << sqlca.sqlerrm;
  ASSERT_EQ(run(rec, text), 0) << sqlca.sqlerrm;
  EXPECT_EQ(rec.stmt_type, 6);
  EXPECT_EQ(rec.stmt_id, -1);
  EXPECT_EQ(count_of(d.sqli_hex(), command_hex(text) + "0016000700"), 2u);
}

TEST_F(Statements, ServerErrorKeepsTheReportedType) {
  const char *text = "DROP TABLE nosuch";
  DoubleServer d({"--profile", "minimal"},
                 std::string(R"({"rules": [{"text": ")") + text +
                     R"(", "reply": [{"kind": "describe", "stmt_type": 28, "stmt_id": 3},
                      {"kind": "error", "code": -206, "isam": -111, "param": "nosuch"},
                      {"kind": "end"}]}]})");
  sqli_stmtrec rec {};
  EXPECT_EQ(run(rec, text), -206);
  EXPECT_EQ(SQLCODE, -206);
  EXPECT_EQ(sqlca.sqlerrd[1], -111);
  EXPECT_EQ(rec.stmt_type, 28);
  EXPECT_EQ(rec.stmt_id, -1);
  EXPECT_NE(tcb->curconn, nullptr) << "a server error keeps the connection";
}

TEST_F(Statements, TableRegistryOfTheDoubleAnswersTheProbeSequence) {
  DoubleServer d({"--profile", "minimal"});
  struct Step {
    const char *text;
    int code;
  } steps[] = {
      {"DROP TABLE hareg", -206},  // absent: the probe's first step
      {"CREATE TABLE hareg (a INTEGER)", 0},
      {"INSERT INTO hareg VALUES (1)", 0},
      {"UPDATE hareg SET a = 2", 0},
      {"DROP TABLE hareg", 0},
      {"DROP TABLE hareg", -206},
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.text);
    sqli_stmtrec rec {};
    EXPECT_EQ(run(rec, s.text), s.code) << sqlca.sqlerrm;
    EXPECT_NE(rec.stmt_type, 0) << "the record keeps the type the server described";
    EXPECT_EQ(rec.stmt_id, -1);
  }
  EXPECT_EQ(sqli_trans_commit(), 0) << sqlca.sqlerrm;
}

TEST_F(Statements, NoTextAndNoIdIsRefusedBeforeAnyRequest) {
  DoubleServer d({"--profile", "minimal"});
  sqli_stmtrec rec {};
  EXPECT_EQ(sqli_stmt(1, &rec, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0),
            -410);
  EXPECT_TRUE(d.entries("connect").empty());
}

TEST_F(Statements, TransactionRequestsAreTheirCodesAlone) {
  struct Case {
    const char *what;
    int32_t (*call)();
    const char *hex;
  } cases[] = {
      {"begin", sqli_trans_begin, "0023000c"},
      {"commit", sqli_trans_commit, "0013000c"},
      {"rollback", sqli_trans_rollback, "00140000000c"},
  };
  DoubleServer d({"--profile", "minimal"});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), 0) << sqlca.sqlerrm;
    const std::string hex = d.sqli_hex();
    ASSERT_GE(hex.size(), std::strlen(c.hex));
    EXPECT_EQ(hex.substr(hex.size() - std::strlen(c.hex)), c.hex) << hex;
  }
}

TEST_F(Statements, ServerErrorOfCommitStaysInSqlcode) {
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [{"code": 19, "error": -255}]})");
  EXPECT_EQ(sqli_trans_commit(), -255);
  EXPECT_EQ(SQLCODE, -255);
  EXPECT_NE(tcb->curconn, nullptr);
}

TEST_F(Statements, BeginWithoutReplicationNeedsTheServerCapability) {
  DoubleServer d({"--profile", "minimal"});
  EXPECT_EQ(sqli_trans_begin2(0), -1);
  EXPECT_EQ(SQLCODE, -1830);
  EXPECT_EQ(count_of(d.sqli_hex(), "0073"), 0u) << "nothing was sent";
}

TEST_F(Statements, SelectIntoWithoutARowGives100AndLeavesHostsUntouched) {
  const char *text = "SELECT value FROM sysprofile WHERE name = 'none'";
  for (const char *profile : {"minimal", "modern"}) {
    SCOPED_TRACE(profile);
    DoubleServer d({"--profile", profile},
                   std::string(R"({"rules": [{"text": ")") + text +
                       R"(", "reply": [{"kind": "describe", "stmt_type": 2, "stmt_id": 4,
                      "columns": [{"name": "value", "type": 2, "length": 4}]},
                      {"kind": "done", "rows": 0}, {"kind": "end"}]}]})");
    int32_t host = 0x5a5a5a5a;
    sqli_cursor rec {};
    EXPECT_EQ(select_into(rec, text, host), 100);
    EXPECT_EQ(SQLCODE, 100);
    EXPECT_EQ(host, 0x5a5a5a5a);
    EXPECT_EQ(rec.coldesc, nullptr) << "the description is dropped after the run";
    const std::string hex_all = d.sqli_hex();
    EXPECT_EQ(count_of(hex_all, command_hex(text) + "0016"), 1u) << hex_all;
    EXPECT_EQ(count_of(hex_all, "0010000b000c"), 1u) << hex_all;
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Statements, ReturnTypesOfSingleRowStatementsAskFullStringsOnlyForADescriptor) {
  const char *select = "SELECT name, value FROM sysprofile WHERE name = 'x'";
  const char *proc = "EXECUTE PROCEDURE hastats()";
  std::string rules;
  for (const char *text : {select, proc})
    rules += std::string(rules.empty() ? "" : ", ") + R"({"text": ")" + text +
             R"(", "reply": [{"kind": "describe", "stmt_type": 2, "stmt_id": 4,
               "columns": [{"name": "name", "type": 13, "length": 21},
                           {"name": "value", "type": 2, "length": 4}]},
               {"kind": "done", "rows": 0}, {"kind": "end"}]})";
  DoubleServer d({"--profile", "modern"}, R"({"rules": [)" + rules + "]}");
  struct Case {
    const char *what;
    bool procedure;
    int desc_flag;
    long varchar_length; /* 21 declared: the terminator counts only for a descriptor */
  } cases[] = {
      {"SELECT INTO host variables", false, 0, 20},
      {"SELECT INTO a descriptor", false, 1, 21},
      {"EXECUTE PROCEDURE INTO host variables", true, 0, 20},
      {"EXECUTE PROCEDURE INTO a descriptor", true, 1, 21},
  };
  size_t seen = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    char name[21] = "untouched";
    int32_t value = 0;
    sqlvar_struct out[2] {};
    out[0].sqltype = 114; /* VARCHAR: the server needs the message on this profile */
    out[0].sqllen = sizeof name;
    out[0].sqldata = name;
    out[1].sqltype = 102;
    out[1].sqllen = 4;
    out[1].sqldata = reinterpret_cast<char *>(&value);
    const char *pieces[] = {c.procedure ? proc : select, nullptr};
    sqli_cursor rec {};
    const int rc = c.procedure ? sqli_proc_exec_2(&rec, pieces, 0, nullptr, 2, out, nullptr, 0, 1,
                                                  nullptr, c.desc_flag, nullptr, 0)
                               : sqli_slct(1, &rec, pieces, 0, nullptr, 2, out, c.desc_flag,
                                           nullptr, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(rc, 100) << sqlca.sqlerrm;
    EXPECT_STREQ(name, "untouched");
    const auto sent = d.messages(100);
    ASSERT_EQ(sent.size(), seen + 1);
    const testbed::SqliJournalEntry &m = sent[seen++];
    EXPECT_EQ(m.number("first"), 1);
    EXPECT_EQ(m.number("count"), 2);
    EXPECT_EQ(m.number("v1.type"), 13);
    EXPECT_EQ(m.number("v1.length"), c.varchar_length);
    EXPECT_EQ(m.number("v2.type"), 2);
    EXPECT_EQ(m.number("v2.length"), 4);
    /* The types go between the describe request and the statement. */
    const std::string code = c.procedure ? "003b" : "0010";
    EXPECT_NE(d.sqli_hex().find("0016" + m.get("raw") + code), std::string::npos) << d.sqli_hex();
  }
}

TEST_F(Statements, DatabaseStatementFreesCursorsAndOpensTheDatabase) {
  DoubleServer d({"--profile", "minimal"},
                 R"({"rules": [)" + answer("DATABASE hatest", 1, 0) + "]}");
  _sqclrca(tcb);
  ASSERT_EQ(_sqs_(0, tcb), 0) << sqlca.sqlerrm;
  sqli_conn *conn = tcb->curconn;
  ASSERT_NE(conn, nullptr);
  conn->dbopen = 0;
  auto *cursor = static_cast<sqli_cursor *>(std::calloc(1, sizeof(sqli_cursor)));
  ASSERT_NE(cursor, nullptr);
  cursor->stmt_id = -1;
  conn->cursors = cursor;
  sqli_stmtrec rec {};
  EXPECT_EQ(run(rec, "DATABASE hatest"), 0) << sqlca.sqlerrm;
  EXPECT_EQ(rec.stmt_type, 1);
  EXPECT_EQ(conn->cursors, nullptr) << "the cursor records were freed";
  EXPECT_EQ(conn->dbopen, 1);
}

TEST_F(Statements, DatabaseOpenAndCloseSetTheDatabaseWord) {
  DoubleServer d({"--profile", "minimal"});
  _sqclrca(tcb);
  ASSERT_EQ(_sqs_(0, tcb), 0) << sqlca.sqlerrm;
  sqli_conn *conn = tcb->curconn;
  conn->dbopen = 0;
  auto *cursor = static_cast<sqli_cursor *>(std::calloc(1, sizeof(sqli_cursor)));
  ASSERT_NE(cursor, nullptr);
  cursor->stmt_id = -1;
  conn->cursors = cursor;
  EXPECT_EQ(sqli_db_open("hatest", 1), 0) << sqlca.sqlerrm;
  std::string hex_all = d.sqli_hex();
  const std::string open_hex = "00240006" + hex(Bytes {'h', 'a', 't', 'e', 's', 't'}) + "0001000c";
  EXPECT_EQ(count_of(hex_all, open_hex), 1u) << hex_all;
  EXPECT_EQ(conn->dbopen, 1);
  EXPECT_EQ(conn->cursors, nullptr) << "the cursor records were freed";

  EXPECT_EQ(sqli_db_close(), 0) << sqlca.sqlerrm;
  hex_all = d.sqli_hex();
  EXPECT_EQ(hex_all.substr(hex_all.size() - 8), "0025000c") << hex_all;
  EXPECT_EQ(conn->dbopen, 0);
}

TEST_F(Statements, CreateProcedureFromAFileSendsItsText) {
  const std::string text = "CREATE PROCEDURE hap() END PROCEDURE";
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [)" + answer(text, 47) + "]}");
  dvz_test::TempDir dir;
  const std::string file = dir.write("hap.sql", text);
  EXPECT_EQ(sqli_proc_create(file.c_str()), 0) << sqlca.sqlerrm;
  const std::string hex_all = d.sqli_hex();
  EXPECT_EQ(count_of(hex_all, command_hex(text) + "0016" + "0007" + "000c"), 1u) << hex_all;
  EXPECT_EQ(sqli_proc_create("/nonexistent/dir/hap.sql"), -461);
}

TEST_F(Statements, SelectTextRunManyTimesLeaksNothing) {
  const char *text = "SELECT name, value FROM sysprofile";
  DoubleServer d({"--profile", "minimal"},
                 std::string(R"({"rules": [{"text": ")") + text +
                     R"(", "reply": [{"kind": "describe", "stmt_type": 2, "stmt_id": 4,
                      "columns": [{"name": "name", "type": 13, "length": 64},
                                  {"name": "value", "type": 2, "length": 4}]},
                      {"kind": "end"}]}]})");
  constexpr int runs = 10000;
  constexpr int warm = 100;
  sqli_stmtrec rec {};
  size_t held_after_warm = 0;
  for (int i = 0; i < runs; ++i) {
    ASSERT_EQ(run(rec, text), 0) << "run " << i << ": " << sqlca.sqlerrm;
    if (i + 1 == warm && __sanitizer_get_current_allocated_bytes != nullptr)
      held_after_warm = __sanitizer_get_current_allocated_bytes();
  }
  EXPECT_EQ(rec.stmt_type, 2);
  /* Still-reachable growth is invisible to the leak check: the heap stays flat. */
  if (__sanitizer_get_current_allocated_bytes != nullptr) {
    const size_t held = __sanitizer_get_current_allocated_bytes();
    EXPECT_LT(held, held_after_warm + 64 * 1024) << held_after_warm << " -> " << held;
  }
  EXPECT_EQ(count_of(d.sqli_hex(), command_hex(text) + "0016000700"), size_t {runs});
}

TEST_F(Statements, ServerExitDuringAStatementThenTheImplicitConnectionOpensAgain) {
  const char *text = "INSERT INTO hatab VALUES (3)";
  DoubleServer d({"--profile", "minimal"},
                 std::string(R"({"rules": [{"text": ")") + text + R"(", "exit_at": 0}]})");
  sqli_stmtrec rec {};
  EXPECT_EQ(run(rec, text), -25582);
  EXPECT_EQ(tcb->curconn, nullptr) << "the connection was dropped";
  d.set_scenario(R"({"rules": [)" + answer("UPDATE hatab SET a = 1", 4) + "]}");
  EXPECT_EQ(run(rec, "UPDATE hatab SET a = 1"), 0) << sqlca.sqlerrm;
  const auto connects = d.entries("connect");
  ASSERT_EQ(connects.size(), 2u);
  EXPECT_EQ(connects[1].get("kind"), "6");
}

TEST_F(Statements, ServerExitDuringSelectIntoEndsItAtOnce) {
  const char *text = "SELECT value FROM sysprofile";
  DoubleServer d({"--profile", "minimal"},
                 std::string(R"({"rules": [{"text": ")") + text + R"(", "exit_at": 0}]})");
  int32_t host = 7;
  sqli_cursor rec {};
  EXPECT_EQ(select_into(rec, text, host), -25582);
  EXPECT_EQ(host, 7);
  EXPECT_EQ(tcb->curconn, nullptr);
}

TEST_F(Statements, SocketClosedInsideTheReplyDropsTheConnection) {
  const char *text = "UPDATE hatab SET a = 4";
  for (int k : {0, 1, 3, 7}) {
    SCOPED_TRACE(k);
    DoubleServer d({"--profile", "minimal"},
                   std::string(R"({"rules": [{"text": ")") + text + R"(", "close_at": )" +
                       std::to_string(k) +
                       R"(, "reply": [{"kind": "describe", "stmt_type": 4},
                        {"kind": "done", "rows": 1}, {"kind": "end"}]}]})");
    sqli_stmtrec rec {};
    EXPECT_LT(run(rec, text), 0);
    EXPECT_NE(SQLCODE, 0);
    EXPECT_EQ(tcb->curconn, nullptr) << "the connection was dropped";
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Statements, AnsiDatabaseRefusesCharacterInputsWithoutTheirNul) {
  const char *text = "UPDATE hatab SET b = ?";
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [)" + answer(text, 4) + "]}");
  _sqclrca(tcb);
  ASSERT_EQ(_sqs_(0, tcb), 0) << sqlca.sqlerrm;
  tcb->curconn->dbflags[1] = 1;
  char full[4] = {'a', 'b', 'c', 'd'};
  char ended[4] = {'a', 'b', '\0', 'x'};
  struct Case {
    const char *what;
    char *data;
    int16_t ind;
    int code;
  } cases[] = {
      {"no NUL within the length", full, 0, -766},
      {"NUL within the length", ended, 0, 0},
      {"NULL indicator ends the check", full, -1, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int16_t ind = c.ind;
    sqlvar_struct in {};
    in.sqltype = 100;
    in.sqllen = 4;
    in.sqldata = c.data;
    in.sqlind = &ind;
    const size_t before = count_of(d.sqli_hex(), "0001");
    const char *pieces[] = {text, nullptr};
    sqli_stmtrec rec {};
    const int rc = sqli_stmt(1, &rec, pieces, 1, &in, nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
    if (c.code != 0) {
      EXPECT_EQ(rc, c.code);
      EXPECT_EQ(count_of(d.sqli_hex(), "0001"), before) << "nothing was sent";
    } else {
      EXPECT_NE(rc, -766) << sqlca.sqlerrm;
    }
  }
}

TEST(StringTerm, FindsTheNulWithinTheLength) {
  ASSERT_NE(CheckGlobInit(), nullptr);
  EXPECT_EQ(str_term("ab\0cd", 5), 0);
  EXPECT_EQ(str_term("abcd\0", 4), -1) << "the NUL past the length does not count";
  EXPECT_EQ(SQLCODE, -766);
}

}  // namespace
