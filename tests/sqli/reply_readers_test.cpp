/*
** The reply side over the fake association layer, from the byte scripts
** of scripts/replies.txt and scripts/reply_failures.txt: describe replies
** in both column forms, tuples, done, every error shape, cost, row
** position, insert done, transaction state, database lists, server exits
** and unknown codes; malformed lengths and offsets; every valid script at
** every split size and cut at every byte.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "asf_call.h"
#include "current_connection.h"
#include "fake_asf.h"
#include "reply_record.h"
#include "runtime_fixture.h"
#include "sqli_errors.h"
#include "sqli_globals.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

using sqli_test::free_record;

using sqli_test::Bytes;
using sqli_test::FakeAsf;
using sqli_test::TestConnection;
using sqli_test::Wire;

/* A transport failure code no reader records on its own. */
constexpr int32_t transport_code = -25580;

std::map<std::string, Bytes> load(const char *leaf) {
  std::map<std::string, Bytes> out;
  for (auto &[name, bytes] : sqli_test::load_scripts(std::string(DVZ_SQLI_SCRIPTS "/") + leaf))
    out[name] = bytes;
  return out;
}
const std::map<std::string, Bytes> &replies() {
  static const auto scripts = load("replies.txt");
  return scripts;
}
const std::map<std::string, Bytes> &failures() {
  static const auto scripts = load("reply_failures.txt");
  return scripts;
}
int32_t caps_of(const std::string &name) {
  return name.size() > 3 && name.compare(name.size() - 3, 3, "_c4") == 0 ? 0x4 : 0;
}

/* What a reply sequence leaves behind, comparable between runs. */
struct Outcome {
  std::string sqlca; /* the 116 bytes */
  std::string sqlstate;
  std::string record;
  Bytes sent;
  bool dropped = false;
  int aborts = 0;
  bool operator==(const Outcome &) const = default;
};

std::string describe_record(const sqli_cursor &c) {
  std::ostringstream o;
  o << "type " << c.stmt_type << " id " << c.stmt_id << " cols " << c.ncols << " row " << c.rowsize
    << " buffered " << c.nbuffered << " bufsize " << c.bufsize << " flags " << c.flags << " rows "
    << c.first_row << '-' << c.last_row << " varlen " << c.nvarlen_cols << " done " << c.done_count;
  const auto *cols = static_cast<const dbfd *>(c.coldesc);
  for (int i = 0; cols != nullptr && i < c.ncols; ++i)
    o << " [" << (c.colname_pool + cols[i].name_offset) << ' ' << cols[i].type << ' '
      << cols[i].start << ' ' << cols[i].length << ' ' << cols[i].flags << ' '
      << (cols[i].owner_name ? cols[i].owner_name : "-") << ' '
      << (cols[i].type_name ? cols[i].type_name : "-") << ']';
  if (c.buffer != nullptr && c.bufpos != nullptr)
    o << " data " << sqli_test::hex(Bytes(c.buffer, c.bufpos));
  if (c.rowlen_table != nullptr)
    for (int i = 0; i <= c.rowlen_table[rowlen_index] + rowlen_first; ++i)
      o << ' ' << c.rowlen_table[i];
  return o.str();
}

class Replies : public sqli_test::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    unsetenv("FET_BUF_SIZE");
    unsetenv("DBANSIWARN");
    tcb = start();
    ASSERT_NE(tcb, nullptr);
  }
  void TearDown() override {
    free_record(&record);
    tcb->curconn = nullptr;
    RuntimeTest::TearDown();
  }

  /* One connection over a fresh fake: the context's current one. */
  using Session = sqli_test::CurrentConnection;

  /* Runs the reply loop over bytes, received in pieces of cuts, failing
  ** with transport_code once fail_at bytes are delivered (when >= 0). */
  Outcome run(const Bytes &bytes, int32_t caps, std::vector<int> cuts = {}, long fail_at = -1) {
    free_record(&record);
    _sqclrca(tcb);
    tcb->request_active = 0;
    Session s(tcb, caps);
    s.t.conn.dbopen = 1;
    if (fail_at >= 0) {
      s.fake.script_reply(Bytes(bytes.begin(), bytes.begin() + fail_at), cuts);
      s.fake.fail_after(static_cast<size_t>(fail_at), transport_code, 0, "cut");
    } else {
      s.fake.script_reply(bytes, cuts);
    }
    _sqr_messages(&record, 0, tcb);
    Outcome out;
    out.sqlca.assign(reinterpret_cast<const char *>(&sqlca), sizeof sqlca);
    out.sqlstate = SQLSTATE;
    out.record = describe_record(record);
    out.sent = s.fake.sent_bytes();
    out.dropped = tcb->curconn == nullptr;
    out.aborts = s.fake.calls(asf_svc_abort);
    dbopen_after = s.t.conn.dbopen;
    EXPECT_EQ(tcb->request_active, 0) << "the flag never outlives a reply";
    return out;
  }
  Outcome run(const std::string &name) {
    const auto &all = replies().count(name) != 0 ? replies() : failures();
    return run(all.at(name), caps_of(name));
  }

  const dbfd &column(int i) const { return static_cast<const dbfd *>(record.coldesc)[i]; }
  std::string warnings() const {
    return std::string(reinterpret_cast<const char *>(&sqlca.sqlwarn), 8);
  }

  sqli_tcb *tcb = nullptr;
  sqli_cursor record {};
  int32_t dbopen_after = 0;
};

/* A describe of one wide-form column with the given type word, extended id
** and length, ended with the end code. */
Bytes one_column(int word, int32_t xid, int32_t length, int rowsize = 4) {
  return Wire()
      .i16(8)
      .i16(2)
      .i16(1)
      .i32(0)
      .i16(rowsize)
      .i16(1)
      .u16(2)
      .u16(0)
      .i32(0)
      .i16(word)
      .i32(xid)
      .i16(0)
      .i16(0)
      .i16(0)
      .i16(0)
      .i32(0)
      .i32(length)
      .raw(std::string_view("c\0", 2))
      .i16(12);
}

TEST_F(Replies, DescribeInBothColumnFormsFillsTheRecordAndBuffersRows) {
  Outcome narrow = run("describe_narrow");
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_FALSE(narrow.dropped);
  EXPECT_EQ(sqli_test::hex(narrow.sent), "000c");
  EXPECT_EQ(record.stmt_type, 2);
  EXPECT_EQ(record.stmt_id, 5);
  EXPECT_EQ(sqlca.sqlerrd[3], 7);
  ASSERT_EQ(record.ncols, 2);
  EXPECT_STREQ(record.colname_pool + column(0).name_offset, "id");
  EXPECT_STREQ(record.colname_pool + column(1).name_offset, "nm");
  EXPECT_EQ(column(0).type, 2);
  EXPECT_EQ(column(0).flags, dbfd_nullable);
  EXPECT_EQ(column(1).type, 0);
  EXPECT_EQ(column(1).flags, 0) << "NOT NULL";
  EXPECT_EQ(column(1).start, 4);
  EXPECT_EQ(column(1).length, 6);
  EXPECT_EQ(record.rowsize, 10);
  EXPECT_EQ(record.bufsize, 4096) << "1024 raised to FetBufSize";
  EXPECT_EQ(record.nbuffered, 2);
  EXPECT_EQ(std::string(record.buffer, 20), std::string("\0\0\0\1abcdef\0\0\0\2ghijkl", 20));
  EXPECT_EQ(record.first_row, 40);
  EXPECT_EQ(record.last_row, 41);
  EXPECT_EQ(sqlca.sqlerrd[2], 2);
  EXPECT_NE(record.flags & sqli_cur_done, 0u);

  run("describe_wide_c4");
  EXPECT_EQ(SQLCODE, 0);
  ASSERT_EQ(record.ncols, 2);
  EXPECT_STREQ(record.colname_pool + column(1).name_offset, "nam");
  EXPECT_STREQ(column(1).owner_name, "owner");
  EXPECT_STREQ(column(1).type_name, "char");
  EXPECT_EQ(column(1).words[0], 1);
  EXPECT_EQ(column(1).words[1], 2);
  EXPECT_EQ(column(0).owner_name, nullptr);
  EXPECT_EQ(record.nbuffered, 1);
  EXPECT_EQ(std::string(record.buffer, 10), std::string("\0\0\0\1abcdef", 10));
}

TEST_F(Replies, ADescriptionNotKeptIsSkippedInStep) {
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_dbstmt);
  Outcome out = run("describe_skipped");
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_FALSE(out.dropped);
  EXPECT_EQ(record.ncols, 0);
  EXPECT_EQ(record.coldesc, nullptr);
  EXPECT_NE(tcb->flags & sqli_flag_dbstmt, 0) << "statement type 1 is a database statement";
}

TEST_F(Replies, AnInsertDescriptionIsKeptUnlessTheStatementPathAsked) {
  /* Statement type 4 in the narrow form, one INTEGER column. */
  const Bytes insert = Wire()
                           .i16(8)
                           .i16(4)
                           .i16(3)
                           .i32(0)
                           .i16(4)
                           .i16(1)
                           .u16(2)
                           .u16(0)
                           .i16(0)
                           .i16(2)
                           .i16(4)
                           .raw(std::string_view("c\0", 2))
                           .i16(12);
  for (const uint32_t flags : {0u, static_cast<uint32_t>(sqli_cur_statement_path)}) {
    SCOPED_TRACE(flags);
    Session s(tcb, 0);
    s.fake.script_reply(insert);
    _sqclrca(tcb);
    free_record(&record);
    record.flags = flags;
    _sqr_messages(&record, 0, tcb);
    EXPECT_EQ(SQLCODE, 0);
    EXPECT_EQ(record.ncols, flags == 0 ? 1 : 0);
    EXPECT_EQ(tcb->curconn, &s.t.conn) << "skipped in step";
  }
}

TEST_F(Replies, ErrorRepliesFillSqlcaAsTheirShapeSays) {
  struct Row {
    const char *script;
    int32_t code, isam, position, rows;
    const char *errm;
  };
  const Row rows[] = {
      {"err_206", -206, -111, 0, 0, "ha_dbms_loc"},
      {"err_619", 0, 0, 0, 0, ""},
      {"err_368", -368, -100, 3, 0, ""},
      {"err_with_count", -239, -100, 7, 3, "pk"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.script);
    Outcome out = run(r.script);
    EXPECT_FALSE(out.dropped);
    EXPECT_EQ(sqlca.sqlcode, r.code);
    EXPECT_EQ(SQLCODE, r.code);
    EXPECT_EQ(sqlca.sqlerrd[1], r.isam);
    EXPECT_EQ(sqlca.sqlerrd[4], r.position);
    EXPECT_EQ(sqlca.sqlerrd[2], r.rows);
    EXPECT_STREQ(sqlca.sqlerrm, r.errm);
  }
}

TEST_F(Replies, TwoErrorsEndShowingTheFirstWithBothInTheDiagnostics) {
  run("err_two");
  EXPECT_EQ(SQLCODE, -206);
  EXPECT_STREQ(sqlca.sqlerrm, "ha_dbms_loc");
  EXPECT_EQ(sqlca.sqlerrd[1], -111);
  ASSERT_NE(tcb->diag, nullptr);
  std::vector<int32_t> codes;
  for (int i = 0; i < tcb->diag->count; ++i)
    codes.push_back(tcb->diag->recs[i].code);
  EXPECT_NE(std::find(codes.begin(), codes.end(), -206), codes.end());
  EXPECT_NE(std::find(codes.begin(), codes.end(), -201), codes.end());
}

TEST_F(Replies, ARoutineTailReplacesTheStateAndIsReadAfterAnEarlierError) {
  run("err_937_tail");
  EXPECT_EQ(SQLCODE, -937);
  EXPECT_STREQ(SQLSTATE, "U0001");
  ASSERT_GT(tcb->diag->count, 0);
  const sqli_diag_rec &last = tcb->diag->recs[tcb->diag->count - 1];
  EXPECT_EQ(std::string(last.text, static_cast<size_t>(last.textlen)), "routine text");

  /* Code 0 on a capability-0x4 server carries a tail whatever was
  ** recorded before: the stream stays in step to the end code. */
  Outcome out = run("err_zero_tail_c4");
  EXPECT_FALSE(out.dropped);
  EXPECT_EQ(SQLCODE, -206);
  bool tail_seen = false;
  for (int i = 0; i < tcb->diag->count; ++i)
    tail_seen |= std::strcmp(tcb->diag->recs[i].sqlstate, "01X01") == 0;
  EXPECT_TRUE(tail_seen);

  /* Without capability 0x4 a zero code is -407 and has no tail. */
  run(Wire().i16(13).i16(0).i16(0).i16(0).lbuf("").i16(12), 0);
  EXPECT_EQ(SQLCODE, -407);
}

TEST_F(Replies, ALongParameterKeeps499BytesAndTheNextReplyIsReadInStep) {
  const std::string parameter(600, 'p');
  Outcome out =
      run(Wire().i16(13).i16(-206).i16(0).i16(0).lbuf(parameter).i16(55).i32(5).i32(6).i16(12), 0);
  EXPECT_FALSE(out.dropped);
  EXPECT_EQ(SQLCODE, -206);
  EXPECT_EQ(std::strlen(sqlca.sqlerrm), 71u);
  EXPECT_EQ(std::string(tcb->msgtext), parameter.substr(0, 499));
  EXPECT_EQ(sqlca.sqlerrd[0], 0) << "the first sqlca comes back at the end";
  /* The cost reply was read in step: without the restore it shows. */
  tcb->first_saved = 0;
  out = run(
      Wire().i16(13).i16(-206).i16(0).i16(0).lbuf(parameter + "q").i16(55).i32(5).i32(6).i16(12),
      0);
  EXPECT_FALSE(out.dropped) << "odd length and its pad skipped";
}

TEST_F(Replies, CountersAndStateReplies) {
  run("cost");
  EXPECT_EQ(sqlca.sqlerrd[0], 17);
  EXPECT_EQ(sqlca.sqlerrd[3], 42);
  run("insert_done");
  EXPECT_EQ(tcb->last_serial8.sign, 1);
  EXPECT_EQ(tcb->last_serial8.low, 5u);
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  run("cursor_closed");
  EXPECT_NE(record.flags & sqli_cur_server_closed, 0u);
  sqli_test::FakeAsf fake;
  TestConnection t;
  t.pipe.request_active = &tcb->request_active;
  tcb->curconn = &t.conn;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  fake.script_reply(replies().at("transaction_state"));
  _sqclrca(tcb);
  _sqr_messages(&record, 0, tcb);
  EXPECT_EQ(t.conn.xact_event[0], 1);
  EXPECT_EQ(t.conn.xact_event[1], 2);
  EXPECT_EQ(t.conn.xact_event[2], 3);
  tcb->curconn = nullptr;
}

TEST_F(Replies, DoneAndTupleFlagsSetTheirWarnings) {
  run("done_warnings");
  EXPECT_EQ(warnings(), "WW W    ");
  EXPECT_EQ(sqlca.sqlerrd[2], 4);
  EXPECT_EQ(sqlca.sqlerrd[5], 6);
  EXPECT_EQ(sqlca.sqlerrd[1], 9);

  tcb->ansiwarn_pending = 1;
  run("done_ansi");
  EXPECT_EQ(warnings(), "        ") << "0x10 without DBANSIWARN";
  setenv("DBANSIWARN", "1", 1);
  tcb->ansiwarn_pending = 1;
  run("done_ansi");
  EXPECT_EQ(warnings(), "W    W  ");
  unsetenv("DBANSIWARN");
  tcb->ansiwarn_pending = 1;

  /* The describe of describe_narrow, then a tuple with flags 0x3. */
  const Bytes describe_only(replies().at("describe_narrow").begin(),
                            replies().at("describe_narrow").begin() + 38);
  Bytes script = describe_only;
  for (uint8_t b : Bytes(Wire().i16(14).i16(3).i16(10).raw("0123456789").i16(12)))
    script.push_back(b);
  run(script, 0);
  EXPECT_EQ(warnings(), "WWW     ");
  EXPECT_EQ(record.nbuffered, 1);
}

TEST_F(Replies, AMarkedRowWithoutAStoreWarnsOrFails) {
  /* A described select with no marked-row store sets the no-store flag;
  ** a marked row then only warns (sqlwarn0 and sqlwarn4). */
  const Bytes &narrow = replies().at("describe_narrow");
  Bytes script(narrow.begin(), narrow.begin() + 38);
  for (uint8_t b : Bytes(Wire().i16(14).i16(0x100).i16(10).raw("0123456789").i16(12)))
    script.push_back(b);
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_no_marked_store);
  run(script, 0);
  EXPECT_NE(tcb->flags & sqli_flag_no_marked_store, 0);
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_EQ(warnings(), "W   W   ");
  EXPECT_EQ(record.nbuffered, 1);

  /* Without the flag the row is -1812 and not counted. */
  Bytes tuple_only = Wire().i16(14).i16(0x100).i16(10).raw("0123456789").i16(12);
  run(script, 0); /* describe again: a buffer to read into */
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_no_marked_store);
  const int before = record.nbuffered;
  {
    Session s(tcb, 0);
    s.fake.script_reply(tuple_only);
    _sqclrca(tcb);
    _sqr_messages(&record, 0, tcb);
  }
  EXPECT_EQ(SQLCODE, -1812);
  EXPECT_EQ(record.nbuffered, before) << "a row ending in -1812 is not counted";
}

TEST_F(Replies, DoneRepliesOfAVariableLengthInsertAreCountedToTheEnd) {
  Session s(tcb, 0);
  s.fake.script_reply(
      Wire().i16(15).i16(0).i32(1).i32(0).i32(0).i16(15).i16(0).i32(1).i32(0).i32(0).i16(12));
  _sqclrca(tcb);
  record.stmt_type = 6;
  record.nvarlen_cols = 1;
  _sqr_messages(&record, 0, tcb);
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 2);
  EXPECT_EQ(record.done_count, 0) << "handed over at the end";
}

TEST_F(Replies, TheFetchBufferFollowsRowSizeFetBufSizeAndTheEnvironment) {
  struct Row {
    const char *env;
    int rowsize;
    int16_t fetbufsize;
    int expected;
  };
  const Row rows[] = {{nullptr, 600, 4096, 4096}, {"8192", 600, 4096, 8192},
                      {"1000", 600, 4096, 4096},  {nullptr, 600, 0, 2048},
                      {nullptr, 100, 0, 1024},    {nullptr, 3000, 0, 3000}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.rowsize);
    if (r.env != nullptr)
      setenv("FET_BUF_SIZE", r.env, 1);
    else
      unsetenv("FET_BUF_SIZE");
    FetBufSize = r.fetbufsize;
    run(one_column(0, 0, r.rowsize, r.rowsize), 0x4);
    FetBufSize = 4096;
    EXPECT_EQ(record.bufsize, r.expected);
  }
  unsetenv("FET_BUF_SIZE");
}

TEST_F(Replies, DescribeTypeRules) {
  struct Row {
    int word;
    int32_t xid;
    int16_t type, flags;
    int32_t source, distinct_length;
  };
  const Row rows[] = {
      {2 | 0x800, 0, 40, dbfd_nullable | dbfd_distinct | dbfd_distinct_builtin, 2, 4},
      {42 | 0x800, 0, 40, dbfd_nullable | dbfd_distinct | dbfd_distinct_builtin, 42, 4},
      {40, 1, 43, dbfd_nullable, 0, 0},
      {41, 1, 43, dbfd_nullable, 0, 0},
      {40 | 0x2000, 1, 40, dbfd_nullable | dbfd_bit2000, 0, 0},
      {40, 5, 45, dbfd_nullable, 0, 0},
      {41 | 0x4000, 5, 41, dbfd_nullable | dbfd_bit4000, 0, 0},
      {40 | 0x1000 | 0x100, 0, 40, dbfd_udt_bit1000 | dbfd_bit1000, 0, 0},
      {0 | 0x100, 0, 0, 0, 0, 0},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.word);
    Outcome out = run(one_column(r.word, r.xid, 4), 0x4);
    EXPECT_EQ(SQLCODE, 0);
    ASSERT_EQ(record.ncols, 1);
    EXPECT_EQ(column(0).type, r.type);
    EXPECT_EQ(column(0).flags, r.flags);
    EXPECT_EQ(column(0).source, r.source);
    EXPECT_EQ(column(0).distinct_length, r.distinct_length);
  }
}

TEST_F(Replies, AWrongRowLengthIsSkippedInStepWithMinus403) {
  const Bytes &narrow = replies().at("describe_narrow");
  Bytes script(narrow.begin(), narrow.begin() + 38);
  for (uint8_t b : Bytes(Wire()
                             .i16(14)
                             .i16(0)
                             .i16(3)
                             .pbuf("xyz")
                             .i16(14)
                             .i16(0)
                             .i16(10)
                             .raw("0123456789")
                             .i16(12)))
    script.push_back(b);
  Outcome out = run(script, 0);
  EXPECT_FALSE(out.dropped);
  EXPECT_EQ(SQLCODE, -403);
  EXPECT_EQ(record.nbuffered, 1);
  EXPECT_EQ(std::string(record.buffer, 10), "0123456789");
}

TEST_F(Replies, MalformedRepliesAreProtocolErrorsThatDropTheConnection) {
  for (const char *name :
       {"unknown_code", "unknown_negative", "pool_offset_outside", "bad_state_tail",
        "pool_unterminated", "negative_columns", "negative_error_text", "tuple_without_buffer",
        "negative_row_length_c4"}) {
    SCOPED_TRACE(name);
    Outcome out = run(name);
    /* A routine's error recorded before its malformed tail stands. */
    const int expected = std::strcmp(name, "bad_state_tail") == 0 ? -937 : SQLI_E_PROTOCOL;
    EXPECT_EQ(SQLCODE, expected);
    EXPECT_TRUE(out.dropped);
    EXPECT_EQ(out.aborts, 1);
    EXPECT_EQ(sqli_test::hex(out.sent), "000c") << "nothing after the request";
  }
  /* sqlca is kept: the done read before the unknown code stands. */
  run("unknown_code");
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  EXPECT_EQ(SQLCODE, SQLI_E_PROTOCOL) << "the close keeps the error that caused it";
}

TEST_F(Replies, ATupleBeyondTheBufferIsAProtocolError) {
  const Bytes &narrow = replies().at("describe_narrow");
  Wire w;
  w.raw(Bytes(narrow.begin(), narrow.begin() + 38));
  for (int i = 0; i < 410; ++i)
    w.i16(14).i16(0).i16(10).raw("0123456789");
  w.i16(12);
  Outcome out = run(w, 0);
  EXPECT_EQ(record.bufsize, 4096);
  EXPECT_EQ(record.nbuffered, 409);
  EXPECT_EQ(SQLCODE, SQLI_E_PROTOCOL);
  EXPECT_TRUE(out.dropped);
}

TEST_F(Replies, AServerExitIsAnsweredAndNothingFollows) {
  Outcome out = run("server_exit_mid");
  EXPECT_EQ(sqli_test::hex(out.sent), "000c0038");
  EXPECT_EQ(SQLCODE, -25582);
  EXPECT_EQ(sqlca.sqlerrd[2], 1) << "sqlca kept";
  EXPECT_TRUE(out.dropped);
  EXPECT_EQ(out.aborts, 1);
  EXPECT_EQ(dbopen_after, 0) << "no capability 0x1: the open word is cleared";
  run(failures().at("server_exit_mid"), 0x1);
  EXPECT_EQ(dbopen_after, 1);
}

TEST_F(Replies, TheEleventhVariableLengthRowGrowsTheTable) {
  /* One SET column: rows vary in length. */
  Wire w;
  w.i16(8).i16(2).i16(1).i32(0).i16(8).i16(1).u16(2).u16(0).i16(0).i16(19).i16(8).raw(
      std::string_view("s\0", 2));
  std::string expected;
  for (int i = 1; i <= 11; ++i) {
    const std::string row(static_cast<size_t>(i), static_cast<char>('a' + i));
    w.i16(14).i16(0).i16(i).pbuf(row);
    expected += row;
  }
  w.i16(12);
  Outcome out = run(w, 0);
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_FALSE(out.dropped);
  ASSERT_NE(record.rowlen_table, nullptr);
  EXPECT_EQ(record.rowlen_table[rowlen_index], 10);
  EXPECT_EQ(record.rowlen_table[rowlen_total], 66);
  EXPECT_GT(record.rowlen_table[rowlen_capacity], 10);
  for (int i = 0; i < 11; ++i)
    EXPECT_EQ(record.rowlen_table[rowlen_first + i], i + 1);
  EXPECT_EQ(std::string(record.buffer, 66), expected);
  EXPECT_EQ(record.nbuffered, 11);
}

TEST_F(Replies, VariableRowBufferKeepsItsRowsAndLimitsWhatAPeerCanAsk) {
  sqli_cursor c {};
  EXPECT_EQ(allocate_var_tuple_buffer(&c, 10, tcb), 0);
  EXPECT_EQ(c.bufsize, 1028);
  std::memcpy(c.bufpos, "0123456789", 10);
  c.rowlen_table[rowlen_total] = 10;
  c.rowlen_table[rowlen_index] = 0;
  EXPECT_EQ(allocate_var_tuple_buffer(&c, 2000, tcb), 0);
  EXPECT_EQ(c.bufsize, 2056) << "10 + 2000 rounded up to 1028s";
  EXPECT_EQ(std::string(c.buffer, 10), "0123456789");
  EXPECT_EQ(c.bufpos, c.buffer + 10);
  free_record(&c);

  /* An i32 row length far beyond any row is refused before allocating. */
  Wire w;
  w.i16(8)
      .i16(2)
      .i16(1)
      .i32(0)
      .i16(8)
      .i16(1)
      .u16(2)
      .u16(0)
      .i32(0)
      .i16(19)
      .i32(0)
      .i16(0)
      .i16(0)
      .i16(0)
      .i16(0)
      .i32(0)
      .i32(8)
      .raw(std::string_view("s\0", 2))
      .i16(14)
      .i16(0)
      .i32(0x7FFFFFF0)
      .i16(12);
  Outcome out = run(w, 0x4);
  EXPECT_EQ(SQLCODE, SQLI_E_PROTOCOL);
  EXPECT_TRUE(out.dropped);
}

TEST_F(Replies, EndOfTransmissionAndNotDoneReaders) {
  {
    Session s(tcb, 0);
    s.fake.script_reply(Wire()
                            .i16(94)
                            .int8(1, 9, 0)
                            .i16(18)
                            .i32(2)
                            .i16(-100)
                            .i16(0)
                            .i16(0)
                            .lbuf("")
                            .i16(55)
                            .i32(3)
                            .i32(4)
                            .i16(13)
                            .i16(-201)
                            .i16(0)
                            .i16(0)
                            .lbuf("")
                            .i16(12));
    _sqclrca(tcb);
    EXPECT_EQ(_sqr_ndone(tcb), 0);
    EXPECT_EQ(tcb->last_serial8.low, 9u);
    EXPECT_EQ(SQLCODE, -201) << "the error before the end is read last";
    EXPECT_EQ(sqlca.sqlerrd[2], 2);
    EXPECT_EQ(sqlca.sqlerrd[0], 3);
    EXPECT_EQ(tcb->curconn, &s.t.conn);
  }
  {
    Session s(tcb, 0);
    s.fake.script_reply(Wire().i16(56));
    _sqclrca(tcb);
    EXPECT_EQ(_sqr_eot(tcb), -1);
    EXPECT_EQ(SQLCODE, -25582);
    EXPECT_EQ(sqli_test::hex(s.fake.sent_bytes()), "000c0038");
    EXPECT_EQ(tcb->curconn, nullptr);
  }
}

TEST_F(Replies, DatabaseLists) {
  char area[64];
  char *names[4];
  auto list_of = [&](int max, int room) { return sqli_dblist {0, max, names, area, room}; };
  {
    Session s(tcb, 0);
    s.fake.script_reply(Wire().i16(26).lbuf("db1").lbuf("db22").lbuf("x").u16(0).i16(12));
    _sqclrca(tcb);
    sqli_dblist list = list_of(2, sizeof area);
    EXPECT_EQ(_sqr_dblist(&list, "@srv", tcb), 0);
    ASSERT_EQ(list.count, 2) << "the third name finds the array full";
    EXPECT_STREQ(names[0], "db1@srv");
    EXPECT_STREQ(names[1], "db22@srv");
    EXPECT_EQ(list.room, static_cast<int>(sizeof area) - 8 - 9);
  }
  {
    Session s(tcb, 0);
    s.fake.script_reply(Wire().i16(26).lbuf("longname").lbuf("ab").u16(0).i16(12));
    _sqclrca(tcb);
    sqli_dblist list = list_of(4, 6);
    EXPECT_EQ(_sqr_dblist(&list, "@s", tcb), 0);
    ASSERT_EQ(list.count, 1) << "no room for the first name";
    EXPECT_STREQ(names[0], "ab@s");
  }
  {
    Session s(tcb, 0);
    s.fake.script_reply(
        Wire().i16(57).lbuf("db1").u16(0).i16(15).i16(0).i32(0).i32(0).i32(0).i16(12));
    _sqclrca(tcb);
    sqli_dblist list = list_of(4, sizeof area);
    EXPECT_EQ(_sqr_dblist(&list, "", tcb), 0);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(sqli_test::hex(s.fake.sent_bytes()), "000c0038") << "57 is answered with 56";
    EXPECT_EQ(tcb->curconn, &s.t.conn);
  }
  {
    Session s(tcb, 0);
    s.fake.script_reply(Wire().i16(26).u16(65535).i16(12));
    _sqclrca(tcb);
    sqli_dblist list = list_of(4, sizeof area);
    EXPECT_EQ(_sqr_dblist(&list, "", tcb), -1);
    EXPECT_EQ(SQLCODE, SQLI_E_PROTOCOL);
    EXPECT_EQ(tcb->curconn, nullptr);
  }
  {
    Session s(tcb, 0);
    s.fake.script_reply(Wire().i16(13).i16(-329).i16(-111).i16(0).lbuf("db").i16(12));
    _sqclrca(tcb);
    sqli_dblist list = list_of(4, sizeof area);
    EXPECT_EQ(_sqr_dblist(&list, "", tcb), -1);
    EXPECT_EQ(SQLCODE, -329);
    EXPECT_EQ(tcb->curconn, &s.t.conn);
  }
}

/* Every valid script gives the same outcome whatever the received
** buffers' size. */
TEST_F(Replies, EveryScriptAtEverySplitSizeGivesTheSameOutcome) {
  for (const auto &[name, bytes] : replies()) {
    SCOPED_TRACE(name);
    const Outcome whole = run(bytes, caps_of(name));
    EXPECT_FALSE(whole.dropped);
    for (int size = 1; size < static_cast<int>(bytes.size()); ++size) {
      const Outcome split = run(bytes, caps_of(name), {size});
      ASSERT_EQ(split, whole) << "split size " << size;
    }
  }
}

/* A transport failure at any byte keeps its own code and drops the
** connection; nothing leaks (LeakSanitizer) and nothing waits forever. */
TEST_F(Replies, EveryScriptCutAtEveryByteKeepsTheTransportCode) {
  for (const auto &[name, bytes] : replies()) {
    SCOPED_TRACE(name);
    for (long at = 0; at < static_cast<long>(bytes.size()); ++at) {
      const Outcome cut = run(bytes, caps_of(name), {}, at);
      ASSERT_EQ(SQLCODE, transport_code) << "cut at " << at;
      ASSERT_TRUE(cut.dropped) << "cut at " << at;
      ASSERT_EQ(cut.aborts, 1);
    }
  }
}

}  // namespace
