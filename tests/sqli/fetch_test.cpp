/*
** FETCH against the SQLI server double over loopback TCP: the probe's
** cursor cycle on both profiles, batches and the early done, the fetch
** buffer sizes, array fetch, scroll positioning, OPTOFC, the refusals, an
** injected error and a server exit during a fetch. Requests are read back
** from the double's journal.
*/
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "double_server.h"
#include "probe_row.h"
#include "runtime_session.h"
#include "scoped_env.h"
#include "sqli_conn.h"
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_cursors.h"
#include "sqli_globals.h"
#include "sqli_status.h"

namespace {

using sqli_test::DoubleServer;
using sqli_test::ProbeRow;

const char *const probe_text = " SELECT name , value FROM sysprofile s";
constexpr int scroll = 0x20;

/* A scenario whose sysprofile (name VARCHAR(64), value INTEGER) holds n
** generated rows ("name<i>", i), with extra keys of the table and of the
** scenario. */
std::string generated(int n, const std::string &table_extra = "", const std::string &extra = "") {
  return R"({"tables": {"sysprofile": {"columns": [{"name": "name", "type": 13, "length": 64},
            {"name": "value", "type": 2, "length": 4}], "generate": )" +
         std::to_string(n) + table_extra + "}}" + extra + "}";
}

class Fetch : public sqli_test::RuntimeSessionTest {
 protected:
  void TearDown() override {
    FetArrSize = 0;
    RuntimeSessionTest::TearDown();
  }
  void *open_probe(int options = 0) {
    void *h = declare("s1", probe_text, options);
    EXPECT_EQ(sqli_curs_open(1, relocate("s1"), nullptr, nullptr, nullptr, 0, 0), 0)
        << sqlca.sqlerrm;
    return h;
  }
  /* One FETCH of the probe's row; the code. */
  int32_t fetch(void *h, ProbeRow &row, int direction = 1, int position = 0) {
    std::memset(row.name, 0, sizeof row.name);
    row.value = 0;
    sqli_fetchspec spec {position, direction, 0};
    return sqli_curs_fetch(1, h, nullptr, &row.da, nullptr, &spec);
  }
};

std::string hex16(int v) {
  char four[5];
  std::snprintf(four, sizeof four, "%04x", v & 0xFFFF);
  return four;
}

/* The raw hex of the double's requests, one string per request (each
** ending in its 000c), from the first statement on. */
std::vector<std::string> requests(const DoubleServer &d) {
  std::vector<std::string> out;
  std::string current;
  bool started = false;
  for (const auto &e : d.entries("sqli")) {
    const std::string raw = e.get("raw");
    if (raw.rfind("0001", 0) == 0 || raw.rfind("0004", 0) == 0) started = true;
    if (!started) continue;
    current += raw;
    if (raw == "000c") {
      out.push_back(current);
      current.clear();
    }
  }
  return out;
}

TEST_F(Fetch, ProbeCycleSendsOneBatchRequestPerProfile) {
  struct Case {
    const char *profile;
    const char *scenario_extra;
    std::string fetch_hex; /* the fetch message of the batch request */
    bool return_types; /* message 100 precedes it */
  };
  const Case cases[] = {
      {"minimal", "", "0009" + hex16(4096), false},
      {"modern", R"(, "capabilities": 65213)", "0009" + hex16(4096) + "0000", true},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.profile);
    DoubleServer d({"--profile", k.profile},
                   R"({"tables": {"sysprofile": {"columns": [{"name": "name", "type": 13,
                       "length": 64}, {"name": "value", "type": 2, "length": 4}],
                       "rows": [["cpu", 7], ["disk", 12]]}})" +
                       std::string(k.scenario_extra) + "}");
    void *h = open_probe();
    const int id = sqli_handle_cursor(h)->stmt_id;
    ProbeRow row;
    ASSERT_EQ(fetch(relocate("s1"), row), 0) << sqlca.sqlerrm;
    EXPECT_STREQ(row.name, "cpu");
    EXPECT_EQ(row.value, 7);
    ASSERT_EQ(fetch(relocate("s1"), row), 0) << sqlca.sqlerrm;
    EXPECT_STREQ(row.name, "disk");
    EXPECT_EQ(row.value, 12);
    EXPECT_EQ(fetch(relocate("s1"), row), 100);
    EXPECT_EQ(sqlca.sqlcode, 100);
    EXPECT_EQ(SQLCODE, 100);
    ASSERT_EQ(sqli_curs_close(1, relocate("s1")), 0) << sqlca.sqlerrm;

    const auto sent = requests(d);
    const std::string head = "0004" + hex16(id);
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent.back(), head + "000a000b000c") << "CLOSE";
    const auto fetches = d.messages(9);
    ASSERT_EQ(fetches.size(), 1u) << "one batch; the done came with it";
    EXPECT_EQ(fetches[0].get("raw"), k.fetch_hex);
    if (k.return_types) {
      const auto types = d.messages(100);
      ASSERT_EQ(types.size(), 1u);
      EXPECT_LT(types[0].number("order"), fetches[0].number("order"));
    } else {
      ASSERT_EQ(sent.size(), 4u) << "describe, open, one batch, close";
      EXPECT_EQ(sent[2], head + k.fetch_hex + "000c");
    }
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Fetch, NullIntegerWithoutIndicatorLeavesTheNullValue) {
  DoubleServer d({"--profile", "minimal"},
                 R"({"tables": {"sysprofile": {"columns": [{"name": "name", "type": 13,
                     "length": 64}, {"name": "value", "type": 2, "length": 4}],
                     "rows": [{"hex": "03616263)" +
                     std::string(122, '0') + R"(80000000"}]}}})");
  void *h = open_probe();
  ProbeRow row;
  ASSERT_EQ(fetch(h, row), 0) << sqlca.sqlerrm;
  EXPECT_STREQ(row.name, "abc");
  EXPECT_EQ(static_cast<uint32_t>(row.value), 0x80000000u);
}

TEST_F(Fetch, BatchesDeliverEveryRowOnceAndTheEarlyDoneSavesARequest) {
  struct Case {
    const char *table_extra;
    size_t fetch_requests;
  };
  for (const Case &k : {Case {"", 3}, Case {R"(, "early_done": false)", 4}}) {
    SCOPED_TRACE(k.table_extra);
    DoubleServer d({"--profile", "minimal"}, generated(130, k.table_extra));
    void *h = open_probe();
    ASSERT_EQ(sqli_handle_cursor(h)->rowsize, 69);
    ProbeRow row;
    for (int i = 1; i <= 130; ++i) {
      ASSERT_EQ(fetch(h, row), 0) << "row " << i << ": " << sqlca.sqlerrm;
      ASSERT_EQ(row.name, "name" + std::to_string(i));
      ASSERT_EQ(row.value, i);
    }
    const size_t before = d.messages(9).size();
    EXPECT_EQ(fetch(h, row), 100);
    EXPECT_EQ(fetch(h, row), 100) << "and again, still without a request";
    const auto fetches = d.messages(9);
    EXPECT_EQ(fetches.size(), k.fetch_requests);
    EXPECT_EQ(before, 3u) << "130 rows of 69 bytes are three batches of 4096 bytes";
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Fetch, FetBufSizeIsReadAsASixteenBitNumber) {
  struct Case {
    const char *value;
    long sent;
  };
  for (const Case &k : {Case {"2000", 4096}, Case {"8000", 8000}, Case {"40000", 4096}}) {
    SCOPED_TRACE(k.value);
    dvz_test::ScopedEnv env("FET_BUF_SIZE", std::string(k.value));
    DoubleServer d({"--profile", "minimal"}, generated(3));
    void *h = open_probe();
    ProbeRow row;
    ASSERT_EQ(fetch(h, row), 0) << sqlca.sqlerrm;
    const auto fetches = d.messages(9);
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_EQ(fetches[0].number("size"), k.sent);
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Fetch, ArrayFetchCapsTheRequestAndDeliversEveryRowOfTheBatch) {
  DoubleServer d({"--profile", "modern"},
                 R"({"capabilities": 65213, "tables": {"big": {"columns": [
                     {"name": "v", "type": 2, "length": 4},
                     {"name": "pad", "type": 0, "length": 4996}], "generate": 20}}})");
  FetArrSize = 10;
  void *h = declare("a1", "SELECT v, pad FROM big");
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  ASSERT_EQ(sqli_handle_cursor(h)->rowsize, 5000);
  int32_t values[10] = {};
  std::vector<char> pads(10 * 8, '\0');
  sqlvar_struct vars[2] = {};
  vars[0].sqltype = 102;
  vars[0].sqllen = 4;
  vars[0].sqldata = reinterpret_cast<char *>(values);
  vars[1].sqltype = 100;
  vars[1].sqllen = 8;
  vars[1].sqldata = pads.data();
  sqlda out {};
  out.sqld = 2;
  out.sqlvar = vars;
  sqli_fetchspec next {0, 1, 0};
  ASSERT_EQ(sqli_curs_fetch(1, h, nullptr, &out, nullptr, &next), 0) << sqlca.sqlerrm;
  EXPECT_EQ(FetArrSize, 6) << "32767 / 5000";
  EXPECT_EQ(sqlca.sqlerrd[2], 6);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(values[i], i + 1);
  EXPECT_EQ(std::string(&pads[8]), "pad2   ") << "7 characters of the CHAR column and a NUL";
  EXPECT_EQ(vars[0].sqldata, reinterpret_cast<char *>(values)) << "pointers moved back";
  EXPECT_EQ(vars[1].sqldata, pads.data());
  const auto fetches = d.messages(9);
  ASSERT_EQ(fetches.size(), 1u);
  EXPECT_EQ(fetches[0].number("size"), 32767);
  EXPECT_EQ(fetches[0].number("array"), 6);
}

TEST_F(Fetch, ArrayFetchRefusesABatchLargerThanTheArray) {
  /* Without the array capability the server fills the buffer. */
  DoubleServer d({"--profile", "minimal"}, generated(10));
  FetArrSize = 2;
  void *h = open_probe();
  ProbeRow row;
  EXPECT_EQ(fetch(h, row), -1831);
  EXPECT_EQ(d.messages(9).size(), 1u);
}

TEST_F(Fetch, ScrollFetchesInsideTheBufferSendNothing) {
  /* The modern profile's rows vary in length (VARCHAR without padding):
  ** positions then go through the row-length table. */
  for (const char *profile : {"minimal", "modern"}) {
    SCOPED_TRACE(profile);
    DoubleServer d({"--profile", profile}, generated(10));
    void *h = open_probe(scroll);
    ProbeRow row;
    /* The row delivered is row n, name and value. */
    const auto is_row = [&row](int n) {
      return row.value == n && row.name == "name" + std::to_string(n);
    };
    EXPECT_EQ(fetch(h, row, 5), -423) << "CURRENT before any row";
    ASSERT_EQ(fetch(h, row, 3), 0) << sqlca.sqlerrm;
    EXPECT_TRUE(is_row(1));
    auto sent = d.messages(23);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].number("direction"), 6) << "FIRST goes as ABSOLUTE 1";
    EXPECT_EQ(sent[0].number("position"), 1);
    sqli_cursor *c = sqli_handle_cursor(h);
    EXPECT_EQ(c->first_row, 1);
    EXPECT_EQ(c->last_row, 10);

    struct Step {
      int direction;
      int position;
      int32_t code;
      int row; /* delivered, when the code is 0 */
    };
    const Step steps[] = {
        {3, 0, 0, 1},  {6, 5, 0, 5},   {7, 0, 0, 5},      {2, 0, 0, 4},
        {5, 0, 0, 4},  {1, 0, 0, 5},   {7, 3, 0, 8},      {6, 0, 100, 0},
        {7, -7, 0, 1}, {6, 10, 0, 10}, {7, -100, 100, 0},
    };
    for (const Step &s : steps) {
      SCOPED_TRACE(testing::Message() << s.direction << " " << s.position);
      EXPECT_EQ(fetch(h, row, s.direction, s.position), s.code) << sqlca.sqlerrm;
      if (s.code == 0) {
        EXPECT_TRUE(is_row(s.row)) << row.name << " " << row.value;
      }
    }
    EXPECT_EQ(d.messages(23).size(), 1u) << "every row above was in the buffer";

    /* A failed scroll fetch keeps the old buffer usable. */
    ASSERT_EQ(fetch(h, row, 6, 3), 0);
    d.set_scenario(generated(10, "", R"(, "fetch_error": {"at": 2, "code": -244})"));
    EXPECT_EQ(fetch(h, row, 4), -244);
    EXPECT_NE(c->flags & sqli_cur_scroll_failed, 0u);
    ASSERT_EQ(fetch(h, row, 1), 0) << sqlca.sqlerrm;
    EXPECT_TRUE(is_row(4));
    EXPECT_EQ(d.messages(23).size(), 2u);
    /* LAST asks the server; beyond the end is 100 and the buffer stays. */
    d.set_scenario(generated(10));
    ASSERT_EQ(fetch(h, row, 4), 0) << sqlca.sqlerrm;
    EXPECT_TRUE(is_row(10));
    EXPECT_EQ(fetch(h, row, 6, 11), 100);
    ASSERT_EQ(fetch(h, row, 5), 0) << sqlca.sqlerrm;
    EXPECT_TRUE(is_row(10));
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Fetch, RefusalsNameTheCursorsState) {
  DoubleServer d({"--profile", "minimal"}, generated(3));
  ProbeRow row;
  void *h = declare("s1", probe_text);
  EXPECT_EQ(fetch(h, row), -400) << "declared, never opened";
  EXPECT_EQ(fetch(nullptr, row), -404);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(fetch(h, row, 2), -482) << "PREVIOUS without scroll";
  sqli_fetchspec next {0, 1, 0};
  EXPECT_EQ(sqli_curs_fetch(1, h, nullptr, nullptr, "nosuchdesc", &next), -469);
  ASSERT_EQ(sqli_curs_close(1, h), 0);
  EXPECT_EQ(fetch(h, row), -400) << "closed";
  void *u = declare("u1", "UPDATE sysprofile SET value = 1");
  ASSERT_EQ(sqli_curs_open(1, u, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(fetch(u, row), -488);
  EXPECT_TRUE(d.messages(9).empty());
}

TEST_F(Fetch, AnErrorOnTheSecondBatchReachesSqlcodeAndTheCursorStaysOpen) {
  DoubleServer d({"--profile", "minimal"},
                 generated(130, "", R"(, "fetch_error": {"at": 2, "code": -244})"));
  void *h = open_probe();
  ProbeRow row;
  for (int i = 1; i <= 59; ++i)
    ASSERT_EQ(fetch(h, row), 0) << i << ": " << sqlca.sqlerrm;
  EXPECT_EQ(fetch(h, row), -244);
  EXPECT_EQ(SQLCODE, -244);
  EXPECT_NE(sqli_handle_cursor(h)->flags & sqli_cur_open, 0u);
  d.set_scenario(generated(130));
  ASSERT_EQ(fetch(h, row), 0) << sqlca.sqlerrm;
  EXPECT_EQ(row.value, 60) << "the next batch starts where the first ended";
}

TEST_F(Fetch, WithOptofcTheFirstFetchCarriesTheOpen) {
  dvz_test::ScopedEnv optofc("OPTOFC", std::string("1"));
  DoubleServer d({"--profile", "minimal"}, generated(2));
  void *h = declare("s1", probe_text);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_TRUE(d.messages(6).empty());
  ProbeRow row;
  ASSERT_EQ(fetch(h, row), 0) << sqlca.sqlerrm;
  EXPECT_EQ(row.value, 1);
  const auto sent = requests(d);
  ASSERT_EQ(sent.size(), 2u);
  const std::string &last = sent.back();
  const size_t open_at = last.find("0006");
  ASSERT_NE(open_at, std::string::npos) << last;
  EXPECT_NE(last.find("0009" + hex16(4096), open_at), std::string::npos) << last;
  ASSERT_EQ(fetch(h, row), 0) << sqlca.sqlerrm;
  EXPECT_EQ(row.value, 2);
  EXPECT_EQ(fetch(h, row), 100);
  EXPECT_EQ(d.messages(6).size(), 1u);
  EXPECT_EQ(sqli_curs_close(1, h), 0) << sqlca.sqlerrm;

  /* A first FETCH refused after its open went out completes the open's
  ** request: the next FETCH finds the cursor open. */
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  EXPECT_EQ(fetch(h, row, 2), -482);
  EXPECT_EQ(d.messages(6).size(), 2u);
  ASSERT_EQ(fetch(h, row), 0) << sqlca.sqlerrm;
  EXPECT_EQ(row.value, 1);
}

TEST_F(Fetch, ServerExitDuringAFetchIsNeverNoMoreRows) {
  DoubleServer d({"--profile", "minimal"},
                 generated(3, "", R"(, "rules": [{"code": 9, "exit_at": 0}])"));
  void *h = open_probe();
  ProbeRow row;
  EXPECT_EQ(fetch(h, row), -25582);
  EXPECT_EQ(tcb->curconn, nullptr) << "the connection was dropped";
  d.set_scenario(generated(3));
  h = open_probe();
  ASSERT_EQ(fetch(h, row), 0) << sqlca.sqlerrm;
  const auto connects = d.entries("connect");
  ASSERT_EQ(connects.size(), 2u);
  EXPECT_EQ(connects[1].get("kind"), "6");
}

}  // namespace
