/*
** Dynamic SQL against the SQLI server double over loopback TCP: PREPARE,
** EXECUTE with input values, EXECUTE ... INTO, EXECUTE IMMEDIATE and
** DESCRIBE, read back from the double's journal and its table registry;
** a cursor declared on a prepared statement; the statement type of a
** text; the refusals before any request. Each test aborts every
** connection at its end; LSan checks that the sqlda DESCRIBE makes is
** one block and that FREE of a cursor leaves its statement's description
** to the statement.
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
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_descriptor.h"
#include "sqli_dynamic.h"
#include "sqli_prepare.h"
#include "sqli_reply.h"
#include "sqli_statement.h"
#include "sqli_statements.h"
#include "sqli_status.h"
#include "wire_codec.h"

namespace {

using sqli_test::Bytes;
using sqli_test::DoubleServer;
using sqli_test::hex;

/* Hex of a big-endian i16, and of a text's bytes. */
std::string hex16(int v) {
  return hex(Bytes {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}
std::string text_hex(const std::string &text) { return hex(Bytes(text.begin(), text.end())); }
/* Message 2: code, the placeholder count, the text as lbuf. */
std::string prepare_hex(const std::string &text, int marks) {
  return "0002" + hex16(marks) + hex16(static_cast<int>(text.size())) + text_hex(text) +
         (text.size() % 2 != 0 ? "00" : "");
}

/* The hex of the SQLI messages the double received from the first one
** whose code is `first` on, each request ending in its 000c. */
std::string requests_from(const DoubleServer &d, const std::string &first) {
  std::string out;
  bool started = false;
  for (const auto &e : d.entries("sqli")) {
    const std::string raw = e.get("raw");
    if (raw.rfind(first, 0) == 0) started = true;
    if (started) out += raw;
  }
  return out;
}

/* A table t (a INTEGER, b VARCHAR(10)) with the rows given as JSON. */
std::string table_t(const std::string &rows) {
  return R"({"tables": {"t": {"columns": [{"name": "a", "type": 2, "length": 4},
                                          {"name": "b", "type": 13, "length": 10}],
                              "rows": )" +
         rows + "}}}";
}

/* One host variable of type and length over data. */
sqlvar_struct host(int type, int len, void *data) {
  sqlvar_struct v {};
  v.sqltype = static_cast<int16_t>(type);
  v.sqllen = len;
  v.sqldata = static_cast<char *>(data);
  return v;
}

/* A descriptor over count entries. */
sqlda over(int count, sqlvar_struct *entries) {
  sqlda da {};
  da.sqld = static_cast<int16_t>(count);
  da.sqlvar = entries;
  return da;
}

class DynamicSql : public sqli_test::RuntimeSessionTest {
 protected:
  void *prepare(const char *name, const char *text) {
    void *h = sqli_prep(1, name, text, nullptr, nullptr, 0, 0, 0);
    EXPECT_NE(h, nullptr) << sqlca.sqlcode << " " << sqlca.sqlerrm;
    return h;
  }
  /* Whether rec is on the current connection's list. */
  bool listed(const sqli_cursor *rec) const { return sqli_cursor_alive(rec, tcb); }
};

TEST_F(DynamicSql, PrepareSendsTheTextWithDescribeAndWantDoneAndKeepsTheDescription) {
  DoubleServer d({"--profile", "minimal"});
  const std::string text = "select name, value from sysprofile where value > ?";
  void *h = prepare("p1", (text + "   ").c_str());
  ASSERT_NE(h, nullptr);
  sqli_cursor *c = sqli_handle_cursor(h);
  EXPECT_EQ(c->kind, 1);
  EXPECT_EQ(c->stmt_type, 2);
  EXPECT_GT(c->stmt_id, 0);
  EXPECT_EQ(c->ncols, 2);
  EXPECT_EQ(c->flags & (sqli_cur_by_prepare | sqli_cur_prepared),
            static_cast<uint32_t>(sqli_cur_by_prepare | sqli_cur_prepared));
  ASSERT_NE(c->stmt_text, nullptr);
  EXPECT_STREQ(c->stmt_text[0], text.c_str()) << "kept without its trailing blanks";
  EXPECT_EQ(c->stmt_text[1], nullptr);
  /* Trailing blanks are not sent; the placeholder is counted. */
  EXPECT_EQ(requests_from(d, "0002"), prepare_hex(text, 1) + "0016" + "0031" + "000c");

  /* PREPARE of the same name again releases the old statement first. */
  const int old_id = c->stmt_id;
  ASSERT_EQ(prepare("p1", text.c_str()), h);
  EXPECT_NE(c->stmt_id, old_id);
  EXPECT_NE(requests_from(d, "0002").find("0004" + hex16(old_id) + "000b" + "000c"),
            std::string::npos);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
}

TEST_F(DynamicSql, FailedPrepareRemovesTheRecordAndABadNameIsRefused) {
  DoubleServer d({"--profile", "minimal"});
  EXPECT_EQ(sqli_prep(1, "p1", "select a from nowhere", nullptr, nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(sqlca.sqlcode, -206);
  for (sqli_cursor *c = tcb->curconn->cursors; c != nullptr; c = c->next)
    EXPECT_STRNE(c->name, "p1") << "the failed statement is off the list";
  EXPECT_EQ(sqli_prep(1, "1bad", "select name from sysprofile", nullptr, nullptr, 0, 0, 0),
            nullptr);
  EXPECT_EQ(sqlca.sqlcode, -481);
}

TEST_F(DynamicSql, DescribeGivesTheTypeAsSqlcodeAndANewSqldaInOneBlock) {
  DoubleServer d({"--profile", "minimal"}, table_t("[]"));
  void *sel = prepare("s", "select b, a from t");
  sqlda *da = nullptr;
  EXPECT_EQ(sqli_describe_stmt(1, sel, &da, nullptr), 0);
  EXPECT_EQ(SQLCODE, 0);
  ASSERT_NE(da, nullptr);
  ASSERT_EQ(da->sqld, 2);
  EXPECT_EQ(da->desc_occ, 0);
  EXPECT_EQ(static_cast<void *>(da->sqlvar), static_cast<void *>(da + 1))
      << "the entries follow the header in the same block";
  EXPECT_STREQ(da->sqlvar[0].sqlname, "b");
  EXPECT_EQ(da->sqlvar[0].sqltype, 13);
  EXPECT_EQ(da->sqlvar[0].sqllen, 10);
  EXPECT_STREQ(da->sqlvar[1].sqlname, "a");
  EXPECT_EQ(da->sqlvar[1].sqltype, 2);
  EXPECT_EQ(da->sqlvar[1].sqllen, 4);
  EXPECT_EQ(da->sqlvar[1].sqldata, nullptr);
  EXPECT_EQ(da->sqlvar[1].sqlind, nullptr);
  std::free(da); /* one free: LSan reports anything else */

  /* Into a named descriptor: the same columns, or -479 when it is too small. */
  ASSERT_EQ(sqli_desc_alloc("d2", 2), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_desc_alloc("d1", 1), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sqli_describe_stmt(1, sel, nullptr, "d2"), 0) << sqlca.sqlerrm;
  const sqlda *named = _iqdlocate("d2", tcb);
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->sqld, 2);
  EXPECT_STREQ(named->sqlvar[0].sqlname, "b");
  EXPECT_EQ(sqli_describe_stmt(1, sel, nullptr, "d1"), -479);
  EXPECT_EQ(sqli_describe_stmt(1, sel, nullptr, "none"), -469);
  EXPECT_EQ(sqli_desc_dealloc("d1"), 0);
  EXPECT_EQ(sqli_desc_dealloc("d2"), 0);

  void *ins = prepare("i", "insert into t values (?, ?)");
  da = nullptr;
  EXPECT_EQ(sqli_describe_stmt(1, ins, &da, nullptr), 6);
  EXPECT_EQ(SQLCODE, 6);
  EXPECT_EQ(sqlca.sqlcode, 6);
  ASSERT_NE(da, nullptr);
  EXPECT_EQ(da->sqld, 0);
  EXPECT_EQ(da->sqlvar, nullptr);
  std::free(da);
}

TEST_F(DynamicSql, TypeAndLengthOfADescribedColumnFollowItsFlags) {
  struct Case {
    int16_t type;
    int32_t length;
    int32_t source;
    int16_t flags;
    int16_t want_type;
    int32_t want_len;
  };
  const Case cases[] = {
      {13, 64, 0, dbfd_nullable, 13, 64},
      {2, 4, 0, 0, 2, 4},
      {40, 8, 2, dbfd_distinct_builtin, 2, 8}, /* a distinct type of INTEGER */
      {40, 20, 0, dbfd_bit4000, 40 | 0x4000, 20},
      {40, 20, 0, dbfd_bit2000 | dbfd_bit4000, 40 | 0x4000, 20}, /* 8 before 4 */
      {41, 20, 0, dbfd_bit2000, 41 | 0x2000, 20},
      {41, 20, 0, dbfd_distinct, 41 | 0x800, 20},
      {41, 20, 0, dbfd_distinct | dbfd_bit1000, 41 | 0x800 | 0x1000, 20},
      {41, 20, 0, dbfd_udt_bit1000, 41 | 0x1000, 20},
      {0x400 | 3, 0x800, 0, 0, 4, 4}, /* network float of 8 in the high byte: SMALLFLOAT */
      {0x400 | 3, 0x1000, 0, 0, 3, 8},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.type);
    dbfd col {};
    col.type = k.type;
    col.length = k.length;
    col.source = k.source;
    col.flags = k.flags;
    sqlvar_struct v {};
    settypelen(&col, &v);
    EXPECT_EQ(v.sqltype, k.want_type);
    EXPECT_EQ(v.sqllen, k.want_len);
  }
}

TEST_F(DynamicSql, StatementTypeOfATextComesFromItsFirstWord) {
  const struct {
    const char *text;
    int type;
  } cases[] = {
      {"   SELECT name FROM sysprofile", 2},
      {"select", 2},
      {"\t\nInsert into t values (1)", 6},
      {"EXECUTE PROCEDURE p()", 56},
      {"selectx from t", -1},
      {"update t set a = 1", -1},
      {"", -1},
      {"    ", -1},
  };
  for (const auto &k : cases)
    EXPECT_EQ(get_stmt_type(k.text), k.type) << '"' << k.text << '"';
  EXPECT_EQ(get_stmt_type(nullptr), -1);
  const std::string long_word(300, 's');
  EXPECT_EQ(get_stmt_type(long_word.c_str()), -1);
}

TEST_F(DynamicSql, ExecuteOfAPreparedInsertSendsItsIdAndValuesAndPrepareAloneInsertsNothing) {
  DoubleServer d({"--profile", "minimal"}, table_t("[]"));
  void *h = prepare("i", "insert into t values (?, ?)");
  ASSERT_NE(h, nullptr);
  const int id = sqli_handle_cursor(h)->stmt_id;
  int32_t a = 7;
  char b[] = "xy";
  sqlvar_struct in[2] = {host(102, 4, &a), host(100, 3, b)};
  sqlda input = over(2, in);
  ASSERT_EQ(sqli_exec(1, h, &input, nullptr, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sqlca.sqlerrd[2], 1) << "one row inserted";
  const std::string sent = requests_from(d, "0004");
  EXPECT_EQ(sent.rfind("0004" + hex16(id) + "0005" + "0002", 0), 0u) << sent;
  EXPECT_EQ(sent.substr(sent.size() - 8), "0007000c") << sent;
  const auto binds = d.messages(5);
  ASSERT_EQ(binds.size(), 1u);
  EXPECT_EQ(binds[0].get("v1.value"), "7");

  /* The table holds the executed row only, not one from the PREPARE. */
  int32_t got = 0;
  sqlvar_struct out = host(102, 4, &got);
  sqli_cursor rec {};
  const char *pieces[] = {"select a from t", nullptr};
  ASSERT_EQ(
      sqli_slct(1, &rec, pieces, 0, nullptr, 1, &out, 0, nullptr, nullptr, nullptr, nullptr, 0), 0)
      << sqlca.sqlerrm;
  EXPECT_EQ(got, 7);
  a = 8;
  ASSERT_EQ(_iqxecute(h, 2, in, nullptr, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(d.messages(5).size(), 2u);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
}

TEST_F(DynamicSql, ExecuteOfAPreparedDatabaseStatementOpensItAndFreesTheRecords) {
  DoubleServer d({"--profile", "minimal"});
  void *h = prepare("db", "database probe_db");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(sqli_handle_cursor(h)->stmt_type, 1);
  tcb->curconn->dbopen = 0;
  /* The statement's own record goes with the others (ASan sees any later use). */
  ASSERT_EQ(sqli_exec(1, h, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(tcb->curconn->dbopen, 1);
  EXPECT_EQ(tcb->curconn->cursors, nullptr);
}

TEST_F(DynamicSql, ExecuteIsRefusedBeforeAnyRequest) {
  DoubleServer d({"--profile", "minimal"}, table_t("[]"));
  /* Three placeholders, two values: -254, nothing sent. */
  void *h = prepare("i", "insert into t (a, b, a) values (?, ?, ?)");
  ASSERT_NE(h, nullptr);
  int32_t a = 1;
  char b[] = "z";
  sqlvar_struct in[2] = {host(102, 4, &a), host(100, 2, b)};
  sqlda two = over(2, in);
  const size_t before = d.entries("sqli").size();
  EXPECT_EQ(sqli_exec(1, h, &two, nullptr, nullptr, nullptr, nullptr, 0, 0), -254);
  EXPECT_EQ(sqli_exec(1, h, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), -254)
      << "no values at all";
  EXPECT_EQ(d.entries("sqli").size(), before);

  /* A named input descriptor that does not exist. */
  EXPECT_EQ(sqli_exec(1, h, nullptr, "nodesc", nullptr, nullptr, nullptr, 0, 0), -469);

  /* A statement the server does not hold: -410, and the record is gone. */
  void *fresh = sqli_curs_locate(1, "never", 1);
  ASSERT_NE(fresh, nullptr);
  sqli_cursor *rec = sqli_handle_cursor(fresh);
  EXPECT_EQ(sqli_exec(1, fresh, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), -410);
  EXPECT_FALSE(listed(rec));
  EXPECT_EQ(sqli_exec(1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), -404);
  EXPECT_EQ(d.entries("sqli").size(), before);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
}

TEST_F(DynamicSql, CursorOnAPreparedStatementSharesItsDescriptionAndFreeOnlyCutsTheLink) {
  DoubleServer d({"--profile", "minimal"});
  void *stmt_h = prepare("p1", "select name, value from sysprofile");
  ASSERT_NE(stmt_h, nullptr);
  sqli_cursor *stmt = sqli_handle_cursor(stmt_h);
  void *cur_h = sqli_curs_locate(1, "c1", 0);
  ASSERT_NE(cur_h, nullptr);
  ASSERT_EQ(sqli_curs_decl_dynm(1, cur_h, "c1", stmt_h, 0, 0), 0) << sqlca.sqlerrm;
  sqli_cursor *cur = sqli_handle_cursor(cur_h);
  EXPECT_EQ(cur->link, stmt_h);
  EXPECT_EQ(stmt->link, cur_h);
  EXPECT_EQ(cur->coldesc, stmt->coldesc) << "one description, the statement's";
  EXPECT_EQ(cur->colname_pool, stmt->colname_pool);
  EXPECT_EQ(cur->ncols, 2);
  EXPECT_EQ(cur->stmt_id, stmt->stmt_id);

  /* EXECUTE of a statement a cursor is declared on. */
  EXPECT_EQ(sqli_exec(1, stmt_h, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0), -765);

  /* FREE of the cursor: the statement keeps its description and can be
  ** described; only the link is cut. */
  EXPECT_EQ(sqli_curs_free(1, cur_h), 0) << sqlca.sqlerrm;
  EXPECT_TRUE(listed(stmt));
  EXPECT_EQ(stmt->link, nullptr);
  EXPECT_EQ(stmt->flags & sqli_cur_has_cursor, 0u);
  ASSERT_NE(stmt->coldesc, nullptr);
  sqlda *da = nullptr;
  ASSERT_EQ(sqli_describe_stmt(1, stmt_h, &da, nullptr), 0);
  ASSERT_NE(da, nullptr);
  EXPECT_STREQ(da->sqlvar[1].sqlname, "value");
  std::free(da);
  EXPECT_EQ(sqli_curs_free(1, stmt_h), 0);
}

TEST_F(DynamicSql, DescribeRefusesAStatementWithoutAnIdOrWhosePreparationIsDeferred) {
  DoubleServer d({"--profile", "minimal"});
  void *h = sqli_curs_locate(1, "p1", 1);
  ASSERT_NE(h, nullptr);
  sqlda *da = nullptr;
  EXPECT_EQ(sqli_describe_stmt(1, h, &da, nullptr), -410);
  EXPECT_EQ(da, nullptr);
  /* Deferred and never sent, outside the first FETCH of a deferred OPEN. */
  sqli_handle_cursor(h)->flags |= sqli_cur_prep_deferred;
  EXPECT_EQ(sqli_describe_stmt(1, h, &da, nullptr), -1826);
  EXPECT_EQ(da, nullptr);
  EXPECT_EQ(sqli_describe_stmt(1, nullptr, &da, nullptr), -404);
  sqli_handle_cursor(h)->flags &= ~static_cast<uint32_t>(sqli_cur_prep_deferred);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
}

TEST_F(DynamicSql, ExecuteOfAPreparedSelectIntoReturnsItsRowThroughTheSingleRowPath) {
  for (const char *profile : {"minimal", "modern"}) {
    SCOPED_TRACE(profile);
    DoubleServer d({"--profile", profile}, table_t(R"([[41, "first"], [42, "second"]])"));
    void *h = prepare("s", "select a, b from t where a > ?");
    ASSERT_NE(h, nullptr);
    const int id = sqli_handle_cursor(h)->stmt_id;
    int32_t limit = 40;
    sqlvar_struct in = host(102, 4, &limit);
    sqlda input = over(1, &in);
    int32_t a = 0;
    char b[11] = {};
    sqlvar_struct outs[2] = {host(102, 4, &a), host(100, sizeof b, b)};
    sqlda output = over(2, outs);
    ASSERT_EQ(sqli_exec(1, h, &input, nullptr, nullptr, &output, nullptr, 0, 0), 0)
        << sqlca.sqlerrm;
    EXPECT_EQ(a, 41);
    EXPECT_STREQ(b, "first     ") << "a CHAR host is blank-padded";
    /* The id, the value, (the return types,) select-into 16: no text again. */
    const std::string sent = requests_from(d, "0004");
    EXPECT_EQ(sent.rfind("0004" + hex16(id) + "0005" + "0001", 0), 0u) << sent;
    EXPECT_EQ(sent.substr(sent.size() - 8), "0010000c") << sent;
    EXPECT_EQ(d.messages(2).size(), 1u);
    EXPECT_EQ(sqli_curs_free(1, h), 0);
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(DynamicSql, ExecuteProcedureIntoReturnsTheProceduresRow) {
  DoubleServer d({"--profile", "minimal"}, R"({"procedures": {"p": {
      "columns": [{"name": "r", "type": 2, "length": 4}], "rows": [[99]]}}})");
  void *h = prepare("x", "execute procedure p()");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(sqli_handle_cursor(h)->stmt_type, 56);
  int32_t r = 0;
  sqlvar_struct out = host(102, 4, &r);
  sqlda output = over(1, &out);
  ASSERT_EQ(sqli_exec(1, h, nullptr, nullptr, nullptr, &output, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(r, 99);
  EXPECT_EQ(d.messages(59).size(), 1u);
  EXPECT_EQ(sqli_curs_free(1, h), 0);
}

TEST_F(DynamicSql, ExecuteImmediatePreparesThenRunsAndReleasesOnATemporaryRecord) {
  DoubleServer d({"--profile", "minimal"});
  const std::string create = "create table u (a integer)";
  ASSERT_EQ(sqli_exec_immed(create.c_str()), 0) << sqlca.sqlerrm;
  const auto prepares = d.messages(2);
  ASSERT_EQ(prepares.size(), 1u);
  const std::string sent = requests_from(d, "0002");
  const std::string first = prepare_hex(create, 0) + "0016" + "0031" + "000c";
  ASSERT_EQ(sent.rfind(first, 0), 0u) << sent;
  const std::string second = sent.substr(first.size());
  EXPECT_EQ(second.size(), 20u) << second;
  EXPECT_EQ(second.substr(0, 4), "0004");
  EXPECT_EQ(second.substr(8), "0007000b000c") << "execute, release, end";
  const auto before = tcb->curconn->cursors;
  ASSERT_EQ(sqli_exec_immed("insert into u values (5)"), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  EXPECT_EQ(tcb->curconn->cursors, before) << "no record is left on the list";
  /* A refusal at the PREPARE ends it: nothing executed. */
  const size_t executes = d.messages(7).size();
  EXPECT_EQ(sqli_exec_immed("insert into nowhere values (1)"), -206);
  EXPECT_EQ(d.messages(7).size(), executes);
}

TEST_F(DynamicSql, ExecuteImmediateWithDeferredPrepareSendsOneRequest) {
  DoubleServer d({"--profile", "modern"});
  ASSERT_NE(sqli_exec_immed("create table v (a integer)"), -408) << "connected first";
  ASSERT_NE(tcb->curconn, nullptr);
  ASSERT_NE(tcb->curconn->capabilities & 0x20, 0);
  ASSERT_EQ(sqli_defprep_set(1), 0);
  const std::string text = "insert into v values (3)";
  const int rc = sqli_exec_immed(text.c_str());
  sqli_defprep_set(0);
  ASSERT_EQ(rc, 0) << sqlca.sqlerrm;
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  /* Prepare with the describe-by-id request, then at once execute and
  ** release: no statement id to send, one round trip. */
  EXPECT_EQ(requests_from(d, prepare_hex(text, 0)),
            prepare_hex(text, 0) + "006f" + "0031" + "0007" + "000b" + "000c");
}

}  // namespace
