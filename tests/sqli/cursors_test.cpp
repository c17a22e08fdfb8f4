/*
** Cursor records and the cursor calls: the name checks, reserved words
** and placeholder counts on their own; locate, DECLARE, OPEN, CLOSE and
** FREE against the SQLI server double over loopback TCP, read back byte
** by byte from its journal. Each test aborts every connection at its end.
*/
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "double_server.h"
#include "runtime_session.h"
#include "scoped_env.h"
#include "sqli_conn.h"
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_statement.h"
#include "sqli_status.h"

namespace {

using sqli_test::DoubleServer;

const char *const probe_text = " SELECT name , value FROM sysprofile s";

std::string hex_of(const std::string &bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}
std::string hex16(int v) {
  char four[5];
  std::snprintf(four, sizeof four, "%04x", v & 0xFFFF);
  return four;
}

/* The hex of the SQLI messages the double received after the connection's
** own session requests (from the first statement text or id on), each
** request ending in its 000c. */
std::string cursor_requests(const DoubleServer &d) {
  std::string out;
  bool started = false;
  for (const auto &e : d.entries("sqli")) {
    const std::string raw = e.get("raw");
    if (raw.rfind("0001", 0) == 0 || raw.rfind("0004", 0) == 0) started = true;
    if (started) out += raw;
  }
  return out;
}

/* OPEN's first request: the text (no inputs, padded when odd), describe
** 22, want-done 49, end. */
std::string text_request(const std::string &text) {
  return "0001" + hex16(0) + hex16(static_cast<int>(text.size())) + hex_of(text) +
         (text.size() % 2 != 0 ? "00" : "") + "0016" + "0031" + "000c";
}
std::string name_hex(const std::string &name) {
  return "0003" + hex16(static_cast<int>(name.size())) + hex_of(name) +
         (name.size() % 2 != 0 ? "00" : "");
}

class Cursors : public sqli_test::RuntimeSessionTest {
 protected:
  /* The names on the current list, head first. */
  std::vector<std::string> list_names() const {
    std::vector<std::string> out;
    for (sqli_cursor *c = tcb->curconn->cursors; c != nullptr; c = c->next)
      out.emplace_back(c->name);
    return out;
  }
};

TEST_F(Cursors, ProbeCursorOpensInTwoRequestsAndEveryCycleSendsTheTextAgain) {
  DoubleServer d({"--profile", "minimal"});
  void *h = declare("s1", probe_text);
  ASSERT_EQ(std::strlen(probe_text), 38u);
  std::string expected;
  for (int cycle = 0; cycle < 2; ++cycle) {
    SCOPED_TRACE(cycle);
    ASSERT_EQ(relocate("s1"), h);
    ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
    sqli_cursor *c = sqli_handle_cursor(h);
    EXPECT_EQ(c->stmt_type, 2);
    EXPECT_NE(c->flags & sqli_cur_open, 0u);
    const int id = c->stmt_id;
    ASSERT_GE(id, 0);
    ASSERT_EQ(relocate("s1"), h);
    ASSERT_EQ(sqli_curs_close(1, h), 0) << sqlca.sqlerrm;
    EXPECT_EQ(c->flags & sqli_cur_open, 0u);
    EXPECT_EQ(c->stmt_id, -1) << "the reparse flag drops the statement at CLOSE";
    expected += text_request(probe_text);
    expected += "0004" + hex16(id) + name_hex("s1") + "0006" + "000c";
    expected += "0004" + hex16(id) + "000a" + "000b" + "000c";
  }
  EXPECT_EQ(cursor_requests(d), expected);
}

TEST_F(Cursors, LocateFoldsCaseUnlessKeptAndMovesTheFoundRecordToTheHead) {
  DoubleServer d({"--profile", "minimal"});
  void *s1 = sqli_curs_locate(1, "s1", SQLI_LOCATE_KEEP_CASE);
  void *a = sqli_curs_locate(1, "a", 0);
  void *b = sqli_curs_locate(1, "b", 0);
  void *c = sqli_curs_locate(1, "c", 0);
  ASSERT_TRUE(s1 && a && b && c);
  EXPECT_EQ(list_names(), (std::vector<std::string> {"c", "b", "a", "s1"}));
  EXPECT_EQ(sqli_curs_locate(1, "S1", 0), s1) << "folded to s1";
  EXPECT_EQ(list_names(), (std::vector<std::string> {"s1", "c", "b", "a"}));
  EXPECT_EQ(sqli_curs_locate(1, "a  ", 0), a) << "trailing blanks do not count";
  EXPECT_EQ(list_names(), (std::vector<std::string> {"a", "s1", "c", "b"}));
  void *upper = sqli_curs_locate(1, "S1", SQLI_LOCATE_KEEP_CASE);
  EXPECT_NE(upper, s1) << "with the case kept 'S1' is a new record";
  EXPECT_EQ(list_names(), (std::vector<std::string> {"S1", "a", "s1", "c", "b"}));
  EXPECT_EQ(sqli_curs_locate(1, "1bad", 0), nullptr);
  EXPECT_EQ(sqlca.sqlcode, 0) << "a failed name check leaves sqlca clear";
  /* A handle gives its record back through the link field's offset. */
  EXPECT_EQ(sqli_cursor_handle(sqli_handle_cursor(s1)), s1);
  EXPECT_EQ(static_cast<void *>(&sqli_handle_cursor(s1)->link), s1);
  /* FREE of a record that was never declared drops it from the list. */
  EXPECT_EQ(sqli_curs_free(1, b), 0);
  EXPECT_EQ(list_names(), (std::vector<std::string> {"S1", "a", "s1", "c"}));
}

TEST_F(Cursors, RedeclareClosesADeclaredCursorButNotAFreshRecordOfTheSameText) {
  DoubleServer d({"--profile", "minimal"});
  void *h = declare("s1", probe_text);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  sqli_cursor *c = sqli_handle_cursor(h);
  const int id = c->stmt_id;
  ASSERT_GE(id, 0);
  /* Declared, open: a new DECLARE of the same text closes it first. */
  const char *pieces[] = {probe_text, nullptr};
  ASSERT_EQ(sqli_curs_decl_stat(1, h, "s1", pieces, nullptr, nullptr, 0, nullptr, nullptr, 2, 0, 0),
            0);
  EXPECT_EQ(c->flags & sqli_cur_open, 0u);
  const std::string close = "0004" + hex16(id) + "000a" + "000b" + "000c";
  EXPECT_NE(cursor_requests(d).find(close), std::string::npos) << cursor_requests(d);
  EXPECT_NE(c->flags & sqli_cur_declared, 0u);

  /* A record that has an id but is not declared, with the same text and
  ** options, is taken over without a request. */
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  c->flags &= ~static_cast<uint32_t>(sqli_cur_declared);
  const std::string before = cursor_requests(d);
  ASSERT_EQ(sqli_curs_decl_stat(1, h, "s1", pieces, nullptr, nullptr, 0, nullptr, nullptr, 2, 0, 0),
            0);
  EXPECT_EQ(cursor_requests(d), before);
  EXPECT_NE(c->flags & sqli_cur_open, 0u);
  /* Other options (scroll) close it. */
  ASSERT_EQ(sqli_curs_decl_stat(1, h, "s1", pieces, nullptr, nullptr, sqli_cur_scroll, nullptr,
                                nullptr, 2, 0, 0),
            0);
  EXPECT_EQ(c->flags & sqli_cur_open, 0u);
  EXPECT_NE(c->flags & sqli_cur_scroll, 0u);
}

TEST_F(Cursors, RedeclareOfADeclaredAndPreparedCursorFreesItAndStartsAFreshRecord) {
  DoubleServer d({"--profile", "minimal"});
  void *h = declare("s1", probe_text);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  const int id = sqli_handle_cursor(h)->stmt_id;
  ASSERT_GE(id, 0);
  /* As a DECLARE on a prepared statement leaves it. */
  sqli_handle_cursor(h)->flags |= sqli_cur_prepared;
  const std::string before = cursor_requests(d);
  const char *text = "SELECT name FROM sysprofile";
  const char *pieces[] = {text, nullptr};
  ASSERT_EQ(sqli_curs_decl_stat(1, h, "s1", pieces, nullptr, nullptr, 0, nullptr, nullptr, 2, 0, 0),
            0)
      << sqlca.sqlerrm;
  /* FREE closed and released the statement at the server... */
  const std::string sent = cursor_requests(d).substr(before.size());
  EXPECT_EQ(sent, "0004" + hex16(id) + "000a" + "0004" + hex16(id) + "000b" + "000c");
  /* ...and the name now holds one fresh record with the new text. */
  EXPECT_EQ(list_names(), (std::vector<std::string> {"s1"}));
  void *now = relocate("s1");
  ASSERT_NE(now, nullptr);
  const sqli_cursor *c = sqli_handle_cursor(now);
  EXPECT_EQ(c->flags, static_cast<uint32_t>(sqli_cur_declared));
  EXPECT_EQ(c->stmt_id, -1);
  ASSERT_NE(c->stmt_text, nullptr);
  EXPECT_STREQ(c->stmt_text[0], text);
  ASSERT_EQ(sqli_curs_open(1, now, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_NE(cursor_requests(d).find(text_request(text)), std::string::npos)
      << "the new text is what OPEN sends";
}

TEST_F(Cursors, DeclareWarnsOfAReservedNameWhenAnsiWarningsAreOn) {
  dvz_test::ScopedEnv ansi("DBANSIWARN", std::string("1"));
  DoubleServer d({"--profile", "minimal"});
  tcb->ansiwarn_pending = 1;
  void *h = sqli_curs_locate(1, "select", 0);
  ASSERT_NE(h, nullptr);
  const char *pieces[] = {probe_text, nullptr};
  EXPECT_EQ(
      sqli_curs_decl_stat(1, h, "select", pieces, nullptr, nullptr, 0, nullptr, nullptr, 2, 0, 0),
      0);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn5, 'W');
  tcb->ansiwarn_pending = 1; /* read DBANSIWARN again once it is gone */
}

TEST_F(Cursors, CloseOfACursorNotOpenIsRefusedOnlyInAnAnsiDatabase) {
  DoubleServer d({"--profile", "minimal"});
  void *h = declare("s1", probe_text);
  EXPECT_EQ(sqli_curs_close(1, h), 0) << "not ANSI: nothing to close, no error";
  tcb->curconn->dbflags[1] = 1;
  EXPECT_EQ(sqli_curs_close(1, h), -259);
  EXPECT_EQ(sqlca.sqlcode, -259);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sqli_curs_close(1, h), 0);
  EXPECT_EQ(sqli_curs_close(1, nullptr), -404);
}

TEST_F(Cursors, OptofcOpenSendsTheDescribeOnlyAndKeepsACopyOfTheInputsUntilClose) {
  dvz_test::ScopedEnv optofc("OPTOFC", std::string("1"));
  DoubleServer d({"--profile", "minimal"});
  const char *text = "SELECT name FROM sysprofile WHERE value = ?";
  void *h = declare("s1", text);
  ASSERT_NE(tcb->curconn->optofc, 0);
  ASSERT_NE(tcb->curconn->capabilities & 1, 0) << "capability 1 lets OPEN wait for FETCH";
  int32_t value = 42;
  char label[] = "v";
  sqlvar_struct var {};
  var.sqltype = 102;
  var.sqllen = 4;
  var.sqldata = reinterpret_cast<char *>(&value);
  var.sqlname = label;
  sqlda input {};
  input.sqld = 1;
  input.sqlvar = &var;
  ASSERT_EQ(sqli_curs_open(1, h, &input, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  sqli_cursor *c = sqli_handle_cursor(h);
  EXPECT_EQ(c->deferred_open, 1);
  EXPECT_EQ(c->flags & sqli_cur_open, 0u);
  const std::string sent = cursor_requests(d);
  EXPECT_EQ(sent.find("0001000100"), 0u) << "the text with its one placeholder: " << sent;
  EXPECT_EQ(sent.find("0006"), std::string::npos) << "no open request: " << sent;
  /* The copy is deep: the caller's variables may change meanwhile. */
  auto *saved = static_cast<sqlda *>(c->saved_sqlda);
  ASSERT_NE(saved, nullptr);
  ASSERT_EQ(saved->sqld, 1);
  EXPECT_NE(saved->sqlvar, input.sqlvar);
  EXPECT_NE(saved->sqlvar[0].sqldata, var.sqldata);
  value = 7;
  int32_t kept = 0;
  std::memcpy(&kept, saved->sqlvar[0].sqldata, sizeof kept);
  EXPECT_EQ(kept, 42);
  EXPECT_STREQ(saved->sqlvar[0].sqlname, "v");
  /* CLOSE drops it (LSan sees any leak). */
  EXPECT_EQ(sqli_curs_close(1, h), 0) << sqlca.sqlerrm;
  EXPECT_EQ(c->saved_sqlda, nullptr);
  EXPECT_EQ(c->deferred_open, 0);
}

TEST_F(Cursors, ServerErrorOnOpenLeavesTheCursorDeclaredAndClosedAndALaterOpenWorks) {
  DoubleServer d({"--profile", "minimal"}, R"({"rules": [{"code": 6, "error": -908}]})");
  void *h = declare("s1", probe_text);
  EXPECT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), -908);
  EXPECT_EQ(sqlca.sqlcode, -908);
  sqli_cursor *c = sqli_handle_cursor(h);
  EXPECT_NE(c->flags & sqli_cur_declared, 0u);
  EXPECT_EQ(c->flags & (sqli_cur_open | sqli_cur_done), 0u);
  d.set_scenario("{}");
  EXPECT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_NE(c->flags & sqli_cur_open, 0u);
  EXPECT_EQ(sqli_curs_close(1, h), 0);
}

TEST_F(Cursors, ConnectionLostDuringOpenTakesItsRecordsWithIt) {
  /* The socket closes inside OPEN's reply: the connection is dropped with
  ** every record on it, and OPEN must not touch its record afterwards. */
  for (const char *rule : {R"({"code": 6, "close_at": 1})", R"({"code": 22, "close_at": 5})"}) {
    SCOPED_TRACE(rule);
    DoubleServer d({"--profile", "minimal"}, std::string(R"({"rules": [)") + rule + "]}");
    void *h = declare("s1", probe_text);
    declare("other", probe_text);
    EXPECT_LT(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0);
    EXPECT_LT(sqlca.sqlcode, 0);
    EXPECT_EQ(tcb->curconn, nullptr);
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Cursors, AutofreeCommitClosesAndFreesEveryOpenCursor) {
  /* The double answers in the forms of the capabilities the client agreed. */
  DoubleServer d({"--profile", "modern"}, R"({"capabilities": 65213})");
  ASSERT_EQ(sqli_autofree_set(1, nullptr, 2), 0);
  void *h1 = declare("c1", probe_text);
  void *h2 = declare("c2", probe_text);
  const int32_t caps = tcb->curconn->capabilities;
  ASSERT_NE(caps & 0xA, 0) << "the modern profile offers AUTOFREE: " << caps;
  ASSERT_EQ(sqli_curs_open(1, h1, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_curs_open(1, h2, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_NE(sqli_handle_cursor(h1)->flags & sqli_cur_autofree_asked, 0u);
  EXPECT_EQ(list_names(), (std::vector<std::string> {"c2", "c1"}));
  EXPECT_EQ(d.messages(108).size(), 2u) << "each OPEN asked for AUTOFREE";
  EXPECT_EQ(sqli_trans_commit(), 0) << sqlca.sqlerrm;
  EXPECT_EQ(d.messages(10).size(), 2u) << "COMMIT closed both";
  EXPECT_TRUE(list_names().empty()) << "both records were freed (ASan sees any use after)";
  tcb->flags &= ~(sqli_flag_autofree | sqli_flag_no_autofree);
}

TEST_F(Cursors, FreeReleasesTheStatementAndForgetsTheRecord) {
  DoubleServer d({"--profile", "minimal"});
  void *h = declare("s1", probe_text);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  const int id = sqli_handle_cursor(h)->stmt_id;
  EXPECT_EQ(sqli_curs_free(1, h), 0) << sqlca.sqlerrm;
  EXPECT_TRUE(list_names().empty());
  const std::string release = "0004" + hex16(id) + "000a" + "0004" + hex16(id) + "000b" + "000c";
  EXPECT_NE(cursor_requests(d).find(release), std::string::npos) << cursor_requests(d);
  /* Records left at disconnect are freed with the connection. */
  declare("left", probe_text);
  ASSERT_EQ(sqli_curs_open(1, relocate("left"), nullptr, nullptr, nullptr, 0, 0), 0);
}

TEST(CursorNames, NameChecksFollowDelimident) {
  const std::string long_name(129, 'a');
  const std::string max_name(128, 'a');
  struct Case {
    const char *name;
    const char *delimident;
    int result;
    const char *normalised;
  } cases[] = {
      {"s1", nullptr, 0, "s1"},
      {"_x$", nullptr, 0, "_x$"},
      {"$x", nullptr, -1, nullptr},
      {"1abc", nullptr, -1, nullptr},
      {"", nullptr, -1, nullptr},
      {"cur   ", nullptr, 0, "cur"},
      {"a-b", nullptr, -1, nullptr},
      {"a b", nullptr, -1, nullptr},
      {max_name.c_str(), nullptr, 0, max_name.c_str()},
      {long_name.c_str(), nullptr, -1, nullptr},
      {"1abc", "y", 0, "1abc"},
      {"a-b c", "y", 0, "a-b c"},
      {"\"Quoted\"", "y", 0, "\"Quoted\""},
      {"a\x01b", "y", -1, nullptr},
      {nullptr, nullptr, -1, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
    char out[130] = {};
    ASSERT_EQ(_gchkname(c.name, c.delimident, out), c.result);
    if (c.normalised != nullptr) {
      EXPECT_STREQ(out, c.normalised);
    }
  }
}

TEST(CursorNames, ReservedWordsAreFoundInAnyCase) {
  for (const char *w : {"select", "SELECT", "all", "work", "sqlcode", "Authorization"})
    EXPECT_EQ(a_kwcheck(w), 0) << w;
  for (const char *w : {"s1", "", "selects", "zzz", "aaa", "serial"})
    EXPECT_EQ(a_kwcheck(w), -1) << w;
  int n = 0;
  for (; ansikw[n + 1] != nullptr; ++n)
    EXPECT_LT(std::strcmp(ansikw[n], ansikw[n + 1]), 0) << "ascending at " << ansikw[n];
  EXPECT_EQ(n + 1, 99);
}

TEST(CursorNames, PlaceholdersOutsideQuotesAndComments) {
  struct Case {
    const char *text;
    int count;
  } cases[] = {
      {"select ? from t where a = '?' -- ?", 1},
      {"{ ? } ?", 1},
      {"select * from t where a = ? and b = \"?\" and c = ?", 2},
      {"insert into t values (?, ?, ?)", 3},
      {"select ? /* ? */ from t", 1},
      {"select ? -- ?\n, ? from t", 2},
      {"select 'it''s' , ? from t", 1},
      {"insert into t values (set{?, ?}, ?)", 3},
      {"insert into t values (LIST {?}) { ? }", 2},
      {"select ? /* unclosed ?", 1},
      {"", 0},
      {nullptr, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    EXPECT_EQ(gstrqmarks(c.text), c.count);
  }
  const char *pieces[] = {"select ? ,", " '?' , ? from t", nullptr};
  EXPECT_EQ(_sqcmdqmarks(pieces), 2);
}

TEST(CursorTexts, CopiesCompareAndCutTheLastFragmentsBlanks) {
  sqli_cursor rec {};
  const char *pieces[] = {"select a ", "from t  ", nullptr};
  ASSERT_EQ(_sqcopycmdtxt(pieces, sqli_cursor_handle(&rec), 0), 0);
  ASSERT_NE(rec.stmt_text, nullptr);
  EXPECT_STREQ(rec.stmt_text[0], "select a ");
  EXPECT_STREQ(rec.stmt_text[1], "from t");
  EXPECT_EQ(rec.stmt_text[2], nullptr);
  const char *same[] = {"select a ", "from t", nullptr};
  const char *shorter[] = {"select a ", nullptr};
  EXPECT_EQ(_sqcmpcmdtxt(same, rec.stmt_text), 0);
  EXPECT_NE(_sqcmpcmdtxt(shorter, rec.stmt_text), 0);
  EXPECT_NE(_sqcmpcmdtxt(nullptr, rec.stmt_text), 0);
  _sqfrcmdtxt(rec.stmt_text);
}

TEST(CursorSavedInput, DeepCopyFollowsEachEntrysType) {
  char text[] = "abc";
  int32_t number = 5;
  int16_t ind = 0;
  char name[] = "n";
  char idata[] = "ind";
  sqlvar_struct vars[3] {};
  vars[0].sqltype = 100;  // character host type, length 0: copied as a string
  vars[0].sqldata = text;
  vars[0].sqlname = name;
  vars[1].sqltype = 102;  // integer
  vars[1].sqllen = 4;
  vars[1].sqldata = reinterpret_cast<char *>(&number);
  vars[1].sqlind = &ind;
  vars[1].sqlidata = idata;
  vars[2].sqltype = 102;  // no length: no data, an indicator of -1 instead
  vars[2].sqldata = reinterpret_cast<char *>(&number);
  sqlda in {};
  in.sqld = 3;
  in.sqlvar = vars;
  in.desc_next = &in;
  sqlda *copy = save_idesc(&in);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->desc_next, nullptr);
  EXPECT_STREQ(copy->sqlvar[0].sqldata, "abc");
  EXPECT_NE(copy->sqlvar[0].sqldata, text);
  EXPECT_STREQ(copy->sqlvar[0].sqlname, "n");
  int32_t got = 0;
  std::memcpy(&got, copy->sqlvar[1].sqldata, sizeof got);
  EXPECT_EQ(got, 5);
  ASSERT_NE(copy->sqlvar[1].sqlind, nullptr);
  EXPECT_NE(copy->sqlvar[1].sqlind, &ind);
  EXPECT_STREQ(copy->sqlvar[1].sqlidata, "ind");
  EXPECT_EQ(copy->sqlvar[2].sqldata, nullptr);
  ASSERT_NE(copy->sqlvar[2].sqlind, nullptr);
  EXPECT_EQ(*copy->sqlvar[2].sqlind, -1);
  free_idesc(copy);
  EXPECT_EQ(afrtypmsize(100, 65), 65);
  EXPECT_EQ(afrtypmsize(102, 0), 4);
}

TEST_F(Cursors, XaLocateMatchesStatementRecordsByTheContextsCurrentId) {
  DoubleServer d({"--profile", "minimal"});
  EXPECT_EQ(tcb->xa_current.format, -1) << "a new context holds no transaction id";
  ASSERT_NE(sqli_curs_locate(1, "warm", 0), nullptr) << "opens the implicit connection";
  tcb->xa_mode = 1;
  /* Outside any transaction: a record without a copy of an id. */
  void *plain = sqli_curs_locate(1, "st", 1);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(sqli_handle_cursor(plain)->xid_copy, nullptr);
  /* Inside one: the plain record belongs to no transaction, so a new one
  ** is made that carries a copy of the current id. */
  tcb->xa_current = sqli_xid {7, 3, 2, {}};
  std::memcpy(tcb->xa_current.data, "gtrbq", 5);
  void *inside = sqli_curs_locate(1, "st", 1);
  ASSERT_NE(inside, nullptr);
  ASSERT_NE(inside, plain);
  sqli_cursor *c = sqli_handle_cursor(inside);
  ASSERT_NE(c->xid_copy, nullptr);
  EXPECT_NE(c->flags & sqli_cur_xa_copy, 0u);
  EXPECT_EQ(xa_cmp_xids(reinterpret_cast<const sqli_xid *>(c->xid_copy), &tcb->xa_current), 0);
  EXPECT_EQ(sqli_curs_locate(1, "st", 1), inside) << "the same id finds it again";
  /* The same bytes split otherwise are another transaction. */
  tcb->xa_current.gtrid_length = 4;
  tcb->xa_current.bqual_length = 1;
  void *other = sqli_curs_locate(1, "st", 1);
  EXPECT_NE(other, inside);
  EXPECT_NE(other, plain);
  tcb->xa_current.format = -1;
  EXPECT_EQ(sqli_curs_locate(1, "st", 1), plain) << "no transaction: the plain record";
  tcb->xa_mode = 0;
}

TEST(CursorXa, IdsCompareByLengthsAndBytes) {
  sqli_xid a {1, 3, 2, {}};
  std::memcpy(a.data, "gtrbq", 5);
  sqli_xid b = a;
  EXPECT_EQ(xa_cmp_xids(&a, &b), 0);
  b.bqual_length = 1;
  b.gtrid_length = 4;
  EXPECT_NE(xa_cmp_xids(&a, &b), 0) << "same bytes, other split";
  b = a;
  b.data[4] = 'x';
  EXPECT_NE(xa_cmp_xids(&a, &b), 0);
  sqli_xid none {-1, 0, 0, {}};
  EXPECT_NE(xa_cmp_xids(&none, &none), 0);
  EXPECT_NE(xa_cmp_xids(nullptr, &a), 0);
}

}  // namespace
