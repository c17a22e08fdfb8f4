/*
** Insert cursors against the SQLI server double over loopback TCP: PUT
** buffering fixed-size rows and sending them as one message 17 when the
** buffer is full or on FLUSH, the i32 row size, a conversion failure after
** buffered rows, text cut to its column, NULL forms, ROLLBACK and COMMIT,
** rows of variable length sent one message each from a buffer growing in
** 1028-byte steps, an allocation failure, and PUT's refusals. The rows are
** read back from the double's journal, where it decodes each row against
** the table's description.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "double_server.h"
#include "gen_decimal.h"
#include "generated_locales.h"
#include "locale_env.h"
#include "locator.h"
#include "runtime_session.h"
#include "sqli_conn.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_globals.h"
#include "sqli_seams.h"
#include "sqli_statement.h"
#include "sqli_status.h"

namespace {

using sqli_test::DoubleServer;

/* One host variable of type and length over data. */
sqlvar_struct host(int type, int len, void *data, int16_t *ind = nullptr) {
  sqlvar_struct v {};
  v.sqltype = static_cast<int16_t>(type);
  v.sqllen = len;
  v.sqldata = static_cast<char *>(data);
  v.sqlind = ind;
  return v;
}
sqlda over(int n, sqlvar_struct *vars) {
  sqlda d {};
  d.sqld = static_cast<int16_t>(n);
  d.sqlvar = vars;
  d.desc_occ = static_cast<int16_t>(n);
  return d;
}

/* A scenario with the table name (columns as JSON) and extra keys. */
std::string table(const std::string &name, const std::string &columns,
                  const std::string &extra = "") {
  return R"({"tables": {")" + name + R"(": {"columns": )" + columns + R"(, "rows": []}})" + extra +
         "}";
}
/* t (a INTEGER, b CHAR(96)): rows of 100 bytes. */
const std::string t100 = table(
    "t", R"([{"name": "a", "type": 2, "length": 4}, {"name": "b", "type": 0, "length": 96}])");

class InsertCursors : public sqli_test::RuntimeSessionTest {
 protected:
  void TearDown() override {
    FetBufSize = saved_fetbufsize;
    RuntimeSessionTest::TearDown();
  }
  /* DECLARE name CURSOR FOR text, and OPEN it. */
  void *open_insert(const char *name, const char *text) {
    declare(name, text);
    EXPECT_EQ(sqli_curs_open(1, relocate(name), nullptr, nullptr, nullptr, 0, 0), 0)
        << sqlca.sqlerrm;
    return relocate(name);
  }
  /* PUT of a (INTEGER) and b (terminated text). */
  int32_t put_int_text(void *h, int32_t a, const char *b) {
    std::string text = b;
    sqlvar_struct v[2] = {host(102, 4, &a),
                          host(100, static_cast<int>(text.size()) + 1, text.data())};
    sqlda in = over(2, v);
    return sqli_curs_put(1, h, &in, nullptr);
  }
  /* FLUSH, then the raw hex of the one PUT message the double received. */
  static std::string flush_one(const DoubleServer &d, void *h) {
    EXPECT_EQ(sqli_curs_flush(1, h), 0) << sqlca.sqlerrm;
    const auto puts = d.messages(17);
    EXPECT_EQ(puts.size(), 1u);
    return puts.empty() ? std::string() : puts[0].get("raw");
  }
  int saved_fetbufsize = FetBufSize;
};

/* The rows the double decoded from every PUT message, in order, as JSON. */
std::vector<std::string> put_values(const DoubleServer &d) {
  std::vector<std::string> out;
  for (const auto &m : d.messages(17))
    for (const auto &v : m.all("value"))
      out.push_back(v);
  return out;
}

TEST_F(InsertCursors, FixedRowsGoAsOneBatchWhenTheBufferIsFullOrOnFlush) {
  struct Case {
    const char *version; /* 9.03 settles on capability 0x10, and 0x4 with it */
    const char *row_size_hex; /* the row size field of message 17 */
  };
  const Case cases[] = {{"8.00", "0064"}, {"9.03", "00000064"}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.row_size_hex);
    DoubleServer d({"--profile", "minimal", "--server-version", k.version}, t100);
    FetBufSize = 4096;
    void *h = open_insert("ic", "insert into t values (?, ?)");
    ASSERT_EQ(sqli_handle_cursor(h)->bufsize, 4096);
    ASSERT_EQ(sqli_handle_cursor(h)->nbuffered, 40);

    /* Three rows, then FLUSH: one message with the three. */
    for (int i = 1; i <= 3; ++i)
      ASSERT_EQ(put_int_text(h, i, "r"), 0) << sqlca.sqlerrm;
    EXPECT_TRUE(d.messages(17).empty()) << "rows wait in the buffer";
    ASSERT_EQ(sqli_curs_flush(1, h), 0) << sqlca.sqlerrm;
    auto puts = d.messages(17);
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].number("rows"), 3);
    EXPECT_EQ(puts[0].get("raw").substr(4, std::strlen(k.row_size_hex)), k.row_size_hex);

    /* 40 rows fill the buffer: the 40th PUT sends them. */
    for (int i = 1; i <= 39; ++i)
      ASSERT_EQ(put_int_text(h, 100 + i, "x"), 0) << sqlca.sqlerrm;
    EXPECT_EQ(d.messages(17).size(), 1u);
    ASSERT_EQ(put_int_text(h, 140, "last"), 0) << sqlca.sqlerrm;
    puts = d.messages(17);
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[1].number("rows"), 40);
    const auto values = put_values(d);
    ASSERT_EQ(values.size(), 43u);
    EXPECT_EQ(values[0], R"([1,"r"])");
    EXPECT_EQ(values[42], R"([140,"last"])");
    EXPECT_EQ(sqli_curs_close(1, h), 0) << sqlca.sqlerrm;
    EXPECT_EQ(d.messages(17).size(), 2u) << "nothing left to send at CLOSE";
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(InsertCursors, AValueThatCannotBeConvertedSendsTheRowsBeforeIt) {
  DoubleServer d({"--profile", "minimal"}, table("m", R"([{"name": "n", "type": 2, "length": 4},
                                {"name": "d", "type": 5, "length": 2562}])"));
  void *h = open_insert("ic", "insert into m values (?, ?)");
  int32_t n = 0;
  dec_t value {};
  ASSERT_EQ(deccvint(125, &value), 0);
  sqlvar_struct v[2] = {host(102, 4, &n), host(107, sizeof value, &value)};
  sqlda in = over(2, v);
  for (n = 1; n <= 2; ++n)
    ASSERT_EQ(sqli_curs_put(1, h, &in, nullptr), 0) << sqlca.sqlerrm;
  value.npairs = 17; /* more digit pairs than a DECIMAL holds */
  EXPECT_EQ(sqli_curs_put(1, h, &in, nullptr), -415);
  EXPECT_EQ(sqlca.sqlerrd[2], 2);
  EXPECT_EQ(put_values(d), (std::vector<std::string> {R"([1,"125"])", R"([2,"125"])"}));

  /* Too many integer digits for DECIMAL(10,2): -1226, nothing buffered. */
  ASSERT_EQ(deccvint(0, &value), 0);
  ASSERT_EQ(decload(&value, 1, 9, reinterpret_cast<const unsigned char *>("\x01"), 1), 0);
  EXPECT_EQ(sqli_curs_put(1, h, &in, nullptr), -1226);
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  EXPECT_EQ(d.messages(17).size(), 1u);
}

TEST_F(InsertCursors, TextLongerThanItsColumnIsCutOrRefusedInAnAnsiDatabase) {
  DoubleServer d({"--profile", "minimal"},
                 table("c", R"([{"name": "s", "type": 0, "length": 5}])"));
  void *h = open_insert("ic", "insert into c values (?)");
  char seven[] = "abcdefg";
  sqlvar_struct v = host(100, sizeof seven, seven);
  sqlda in = over(1, &v);
  ASSERT_EQ(sqli_curs_put(1, h, &in, nullptr), 0) << sqlca.sqlerrm;
  tcb->curconn->dbflags[1] = 1; /* the database is in ANSI mode */
  EXPECT_EQ(sqli_curs_put(1, h, &in, nullptr), -1279);
  EXPECT_EQ(sqlca.sqlerrd[2], 1) << "the row before was sent";
  tcb->curconn->dbflags[1] = 0;
  EXPECT_EQ(put_values(d), std::vector<std::string> {R"(["abcde"])"});
}

TEST_F(InsertCursors, NullValuesTakeTheirStoredNullForms) {
  DoubleServer d({"--profile", "minimal"}, table("n", R"([{"name": "s", "type": 1, "length": 2},
                                {"name": "v", "type": 13, "length": 4},
                                {"name": "i", "type": 2, "length": 4},
                                {"name": "c", "type": 0, "length": 3}])"));
  void *h = open_insert("ic", "insert into n values (?, ?, ?, ?)");
  int16_t s = 5;
  char text[] = "ab";
  int32_t i = 9;
  int16_t null_ind = -1;
  sqlvar_struct v[4] = {host(101, 2, &s, &null_ind), host(100, 3, text, &null_ind),
                        host(102, 4, &i, &null_ind), host(100, 3, text, &null_ind)};
  sqlda in = over(4, v);
  ASSERT_EQ(sqli_curs_put(1, h, &in, nullptr), 0) << sqlca.sqlerrm;
  /* 17, size 14, one row: SMALLINT 8000, VARCHAR 01 00 and zeros to its
  ** width, INTEGER 80000000, CHAR 00 and blanks. */
  EXPECT_EQ(flush_one(d, h),
            "0011000e0001" + std::string("8000") + "0100000000" + "80000000" + "002020");
  EXPECT_EQ(put_values(d), std::vector<std::string> {"[null,null,null,null]"});
}

TEST_F(InsertCursors, RollbackDiscardsBufferedRowsAndCommitSendsThemFirst) {
  DoubleServer d({"--profile", "minimal"}, t100);
  FetBufSize = 4096;
  void *h = open_insert("ic", "insert into t values (?, ?)");
  ASSERT_EQ(put_int_text(h, 1, "gone"), 0);
  ASSERT_EQ(put_int_text(h, 2, "gone"), 0);
  ASSERT_EQ(sqli_trans_rollback(), 0) << sqlca.sqlerrm;
  EXPECT_TRUE(d.messages(17).empty());
  EXPECT_EQ(sqli_handle_cursor(h)->nbuffered, 40) << "the buffer is empty again";

  /* The transaction's end closed the cursor. */
  ASSERT_EQ(sqli_curs_open(1, relocate("ic"), nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  ASSERT_EQ(put_int_text(h, 3, "kept"), 0);
  ASSERT_EQ(sqli_trans_commit(), 0) << sqlca.sqlerrm;
  EXPECT_EQ(put_values(d), std::vector<std::string> {R"([3,"kept"])"});
  /* The rows go before the commit message. */
  long put_at = -1, commit_at = -1, at = 0;
  for (const auto &e : d.entries("sqli")) {
    if (e.number("code") == 17) put_at = at;
    if (e.number("code") == 19) commit_at = at;
    ++at;
  }
  EXPECT_GE(put_at, 0);
  EXPECT_LT(put_at, commit_at);
}

/* u (a INTEGER, b..e VARCHAR(255)): with capability 0x1000 (the modern
** profile) its rows vary. */
const std::string u_table = table("u", R"([{"name": "a", "type": 2, "length": 4},
    {"name": "b", "type": 13, "length": 255}, {"name": "c", "type": 13, "length": 255},
    {"name": "d", "type": 13, "length": 255}, {"name": "e", "type": 13, "length": 255}])",
                                  "");

/* PUT of a and four texts into u. */
int32_t put_u(void *h, int32_t a, const char *b, const char *rest) {
  std::string tb = b;
  std::string tr = rest;
  sqlvar_struct v[5] = {host(102, 4, &a), host(100, static_cast<int>(tb.size()) + 1, tb.data()),
                        host(100, static_cast<int>(tr.size()) + 1, tr.data()),
                        host(100, static_cast<int>(tr.size()) + 1, tr.data()),
                        host(100, static_cast<int>(tr.size()) + 1, tr.data())};
  sqlda in = over(5, v);
  return sqli_curs_put(1, h, &in, nullptr);
}

TEST_F(InsertCursors, VariableRowsTravelOneMessageEachFromABufferGrowingIn1028ByteSteps) {
  DoubleServer d({"--profile", "modern"}, u_table);
  FetBufSize = 1024;
  void *h = open_insert("iv", "insert into u values (?, ?, ?, ?, ?)");
  sqli_cursor *c = sqli_handle_cursor(h);
  ASSERT_GT(c->nvarlen_cols, 0);
  ASSERT_EQ(put_u(h, 7, "xyz", "p"), 0) << sqlca.sqlerrm;
  /* The row may take 4 + 4 * 257 bytes: the 1024-byte buffer grows to 2056. */
  EXPECT_EQ(c->bufsize, 2056);
  ASSERT_EQ(put_u(h, 8, "xy", "q"), 0) << sqlca.sqlerrm;
  EXPECT_EQ(c->bufsize, 2056) << "a buffer that holds the row is kept";
  EXPECT_TRUE(d.messages(17).empty());
  ASSERT_EQ(sqli_curs_flush(1, h), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sqlca.sqlerrd[2], 2) << "one done per row";
  const auto puts = d.messages(17);
  ASSERT_EQ(puts.size(), 2u);
  /* [17][len][00 01][row][pad] (the length i32 with capability 0x10):
  ** 4 + 4 + 3 * 2 = 14 bytes; 13 and a pad. */
  EXPECT_EQ(puts[0].get("raw"),
            "00110000000e0001" + std::string("00000007") + "0378797a" + "0170" + "0170" + "0170");
  EXPECT_EQ(puts[1].get("raw"), "00110000000d0001" + std::string("00000008") + "027879" + "0171" +
                                    "0171" + "0171" + "00");
  EXPECT_EQ(put_values(d),
            (std::vector<std::string> {R"([7,"xyz","p","p","p"])", R"([8,"xy","q","q","q"])"}));
  ASSERT_EQ(put_u(h, 9, "z", "r"), 0) << sqlca.sqlerrm;
  EXPECT_EQ(c->bufsize, 2056);
  EXPECT_EQ(sqli_curs_close(1, h), 0) << sqlca.sqlerrm;
  EXPECT_EQ(d.messages(17).size(), 3u) << "CLOSE sends the last row";
}

/* Memory whose growth to 2056 bytes fails. */
void *refuse_2056(void *block, size_t size) {
  return size == 2056 ? nullptr : sqli_system_memory.grow(block, size);
}
const sqli_memory_seam short_memory = {sqli_system_memory.alloc, refuse_2056,
                                       sqli_system_memory.release};

TEST_F(InsertCursors, AFailedAllocationOfTheRowBufferIsReportedAndLeavesNoBuffer) {
  DoubleServer d({"--profile", "modern"}, u_table);
  FetBufSize = 1024;
  void *h = open_insert("iv", "insert into u values (?, ?, ?, ?, ?)");
  sqli_cursor *c = sqli_handle_cursor(h);
  const sqli_memory_seam *saved = sqli_memory;
  sqli_memory = &short_memory;
  const int32_t code = put_u(h, 1, "a", "a");
  sqli_memory = saved;
  EXPECT_EQ(code, -406);
  EXPECT_EQ(c->bufsize, 0);
  EXPECT_EQ(c->buffer, nullptr);
  /* The next PUT gets a buffer again. */
  ASSERT_EQ(put_u(h, 2, "b", "c"), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_curs_flush(1, h), 0) << sqlca.sqlerrm;
  EXPECT_EQ(put_values(d), std::vector<std::string> {R"([2,"b","c","c","c"])"});
}

TEST_F(InsertCursors, WithCapability4TheValuesMustMatchTheColumns) {
  DoubleServer d({"--profile", "modern"}, t100);
  void *h = open_insert("ic", "insert into t values (?, ?)");
  int32_t a = 1;
  sqlvar_struct v = host(102, 4, &a);
  sqlda one = over(1, &v);
  EXPECT_EQ(sqli_curs_put(1, h, &one, nullptr), -254);
  EXPECT_EQ(put_int_text(h, 2, "ok"), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_curs_flush(1, h), 0) << sqlca.sqlerrm;
  EXPECT_EQ(put_values(d), std::vector<std::string> {R"([2,"ok"])"});
}

TEST_F(InsertCursors, PutIsRefusedWithoutAnOpenInsertCursorOrValues) {
  DoubleServer d({"--profile", "minimal"}, t100);
  void *h = open_insert("ic", "insert into t values (?, ?)");
  void *closed = declare("cl", "insert into t values (?, ?)");
  void *select = declare("sel", "select a from t");
  ASSERT_EQ(sqli_curs_open(1, relocate("sel"), nullptr, nullptr, nullptr, 0, 0), 0)
      << sqlca.sqlerrm;
  int32_t a = 1;
  sqlvar_struct no_data[2] = {host(102, 4, &a), host(100, 4, nullptr)};
  sqlda nodata = over(2, no_data);
  struct Case {
    void *handle;
    sqlda *input;
    const char *descname;
    int32_t code;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, -414}, {closed, nullptr, nullptr, -413},
      {select, nullptr, nullptr, -488},  {h, nullptr, nullptr, -418},
      {h, &nodata, nullptr, -419},       {h, nullptr, "no_such_descriptor", -469},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.code);
    EXPECT_EQ(sqli_curs_put(1, k.handle, k.input, k.descname), k.code);
  }
  EXPECT_TRUE(d.messages(17).empty());
}

TEST_F(InsertCursors, ARowWithAByteValueIsSentAtOnceWithTheValueAfterIt) {
  DoubleServer d({"--profile", "minimal"}, table("b", R"([{"name": "n", "type": 2, "length": 4},
                                {"name": "v", "type": 11, "length": 56}])"));
  FetBufSize = 4096;
  void *h = open_insert("ib", "insert into b values (?, ?)");
  int32_t n = 1;
  char bytes[] = "abc";
  loc_t loc {};
  loc.kind = loc_in_memory;
  loc.u.mem.buffer = bytes;
  loc.u.mem.buffer_size = 3;
  loc.size = 3;
  loc.sql_type = 11;
  sqlvar_struct v[2] = {host(102, 4, &n), host(113, sizeof loc, &loc)};
  sqlda in = over(2, v);
  ASSERT_EQ(sqli_curs_put(1, h, &in, nullptr), 0) << sqlca.sqlerrm;
  ASSERT_EQ(d.messages(17).size(), 1u) << "sent without a FLUSH";
  /* The row, then the value's chunks: 3 bytes and the empty end. */
  std::vector<long> codes;
  for (const auto &e : d.entries("sqli"))
    codes.push_back(e.number("code"));
  const auto at = std::find(codes.begin(), codes.end(), 17);
  ASSERT_NE(at, codes.end());
  const auto chunks = d.messages(39);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].get("raw"),
            "00270003616263"
            "00");
  EXPECT_EQ(chunks[1].get("raw"), "00270000");
  EXPECT_EQ(at[1], 39);

  /* A NULL value: flag 1 in the row's descriptor, no chunks. */
  loc.indicator = -1;
  n = 2;
  ASSERT_EQ(sqli_curs_put(1, h, &in, nullptr), 0) << sqlca.sqlerrm;
  const auto puts = d.messages(17);
  ASSERT_EQ(puts.size(), 2u);
  const std::string row = puts[1].get("raw").substr(12);
  EXPECT_EQ(row.substr(0, 8), "00000002");
  EXPECT_EQ(row.substr(8 + 2 * 38, 4), "0001");
  EXPECT_EQ(d.messages(39).size(), 2u);

  /* A locator for a column that is not BYTE or TEXT. */
  sqlvar_struct wrong[2] = {host(113, sizeof loc, &loc), host(113, sizeof loc, &loc)};
  sqlda bad = over(2, wrong);
  EXPECT_EQ(sqli_curs_put(1, h, &bad, nullptr), -608);
}

TEST(InsertText, TextIsCutToWholeCharactersOrRefusedInAnAnsiDatabase) {
  sqli_conn ansi_conn {};
  ansi_conn.dbflags[1] = 1;
  sqli_tcb plain {};
  sqli_tcb ansi {};
  ansi.curconn = &ansi_conn;
  const std::string mixed = "a\xC3\xA9\xE2\x82\xAC"; /* a, 2 bytes, 3 bytes */
  struct Case {
    bool utf8;
    sqli_tcb *tcb;
    std::string text;
    int room;
    int code;
    int length;
  };
  const Case cases[] = {
      {false, &plain, "abcdefg", 5, 0, 5},    {false, &plain, "abc", 5, 0, 3},
      {true, &plain, mixed, 4, 0, 3},         {true, &plain, mixed, 3, 0, 3},
      {true, &plain, mixed, 2, 0, 1},         {true, &plain, mixed, 6, 0, 6},
      {false, &ansi, "abcdefg", 5, -1279, 5}, {true, &ansi, mixed, 4, -1279, 4},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.room);
    std::unique_ptr<oslib_test::CurrentLocale> current;
    if (k.utf8) current = std::make_unique<oslib_test::CurrentLocale>(oslib_test::utf8_locale());
    int length = -1;
    EXPECT_EQ(truncchar(k.text.data(), static_cast<int>(k.text.size()), k.room, &length, k.tcb),
              k.code);
    EXPECT_EQ(length, k.length);
  }
}

TEST_F(InsertCursors, MultibyteTextGoesAsWholeCharacters) {
  DoubleServer d({"--profile", "minimal"},
                 table("c", R"([{"name": "s", "type": 0, "length": 4}])"));
  void *h = open_insert("ic", "insert into c values (?)");
  oslib_test::CurrentLocale current(oslib_test::utf8_locale());
  /* Cut at the character that does not fit; an incomplete last character
  ** is blanked. */
  char cut[] = "a\xC3\xA9\xE2\x82\xAC";
  char broken[] = "ab\xC3";
  for (char *text : {cut, broken}) {
    sqlvar_struct v = host(100, static_cast<int>(std::strlen(text)) + 1, text);
    sqlda in = over(1, &v);
    ASSERT_EQ(sqli_curs_put(1, h, &in, nullptr), 0) << sqlca.sqlerrm;
  }
  EXPECT_EQ(flush_one(d, h), "001100040002" + std::string("61c3a920") + "61622020");
}

TEST_F(InsertCursors, ADescriptionWhoseFieldsPassItsRowSizeRefusesTheValueUnwritten) {
  /* A 4-byte row for an INTEGER and a CHAR(96): the CHAR has no room. */
  DoubleServer d({"--profile", "minimal"}, R"json({"rules": [
      {"text": "insert into t values (?, ?)", "reply": [
        {"kind": "describe", "stmt_type": 6, "stmt_id": 5, "row_size": 4, "columns": [
          {"name": "a", "type": 2, "length": 4, "start": 0},
          {"name": "b", "type": 0, "length": 96, "start": 4}]},
        {"kind": "done"}, {"kind": "end"}]},
      {"code": 6, "reply": [{"kind": "end"}]}]})json");
  void *h = open_insert("ic", "insert into t values (?, ?)");
  ASSERT_EQ(sqli_handle_cursor(h)->rowsize, 4);
  EXPECT_EQ(put_int_text(h, 1, "never written"), -415);
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  EXPECT_TRUE(d.messages(17).empty());
}

TEST_F(InsertCursors, AStatementWithoutColumnsCountsItsRows) {
  DoubleServer d({"--profile", "minimal"}, R"json({"rules": [
      {"text": "insert into t values (?)", "reply": [
        {"kind": "describe", "stmt_type": 6, "stmt_id": 5, "columns": []},
        {"kind": "done"}, {"kind": "end"}]},
      {"code": 6, "reply": [{"kind": "end"}]}]})json");
  void *h = open_insert("ic", "insert into t values (?)");
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(put_int_text(h, i, "ignored"), 0) << sqlca.sqlerrm;
  /* 17, row size 0, the count of rows and nothing more. */
  EXPECT_EQ(flush_one(d, h), "001100000003");
}

TEST_F(InsertCursors, TextIsConvertedToTheDatabaseCodeSet) {
  DoubleServer d({"--profile", "minimal"},
                 table("c", R"([{"name": "s", "type": 0, "length": 4}])"));
  void *h = open_insert("ic", "insert into c values (?)");
  oslib_test::Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_client_db, cv.get()};
  char good[] = "\xC3\xA9t\xC3\xA9";
  char euro[] = "\xE2\x82\xAC"; /* not in the database's code set */
  sqlvar_struct v = host(100, sizeof good, good);
  sqlda in = over(1, &v);
  ASSERT_EQ(sqli_curs_put(1, h, &in, nullptr), 0) << sqlca.sqlerrm;
  v = host(100, sizeof euro, euro);
  EXPECT_EQ(sqli_curs_put(1, h, &in, nullptr), -23103);
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  const auto puts = d.messages(17);
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(puts[0].get("raw"), "001100040001e974e920");
}

TEST_F(InsertCursors, AnErrorOnTheServersNthRowIsReported) {
  DoubleServer d({"--profile", "minimal"}, table("t", R"([{"name": "a", "type": 2, "length": 4},
                   {"name": "b", "type": 0, "length": 96}])",
                                                 R"(, "put_error": {"row": 2, "code": -239})"));
  void *h = open_insert("ic", "insert into t values (?, ?)");
  for (int i = 1; i <= 3; ++i)
    ASSERT_EQ(put_int_text(h, i, "r"), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sqli_curs_flush(1, h), -239);
  EXPECT_EQ(d.messages(17).size(), 1u);
}

}  // namespace
