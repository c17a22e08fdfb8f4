/*
** The real probe on the real runtime in this process, against the SQLI
** double: what reaches the wire. An idle server (counters flat) gets the
** connect and handshake, the statistics cursor (its two OPEN round trips,
** the fetch batches, the CLOSE with the release) and then the test
** transaction's five statements with their two commits, in this order; an
** active server (counters growing) only the cursor. The session id of the
** 0510 line grows across reconnects. Both profiles of the double.
** And every error number the full-stack scenarios show has its catalog
** text in the build's DOVARIZADIR tree.
*/
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "../fault_progs/common/test_helpers.h"
#include "double_server.h"
#include "dovariza_probe.h"
#include "e2e_support.h"
#include "os_messages.h"
#include "probe_scenario.h"

namespace e2e {
namespace {

using montest::texts_with_id;

const char select_text[] = " SELECT name , value FROM sysprofile s";
const std::vector<std::string> statement_texts = {
    " DROP TABLE HA_DBMS_LOC", " CREATE TABLE HA_DBMS_LOC ( CHECK_VALUE INTEGER )",
    " INSERT INTO HA_DBMS_LOC ( CHECK_VALUE ) VALUES ( 1 )",
    " UPDATE HA_DBMS_LOC SET CHECK_VALUE = 2", " DROP TABLE HA_DBMS_LOC"};
constexpr int code_text = 1, code_open = 6, code_fetch = 9, code_close = 10, code_release = 11,
              code_commit = 19, code_end = 12;

/* The SQLI messages of association `assoc` as tokens: "text:<text>" for a
** statement text, else "code:<n>". */
std::vector<std::string> tokens(const sqli_test::DoubleServer &server, int assoc) {
  std::vector<std::string> out;
  for (const testbed::SqliJournalEntry &e : server.entries("sqli")) {
    if (e.number("assoc") != assoc) continue;
    if (e.number("code") == code_text)
      out.push_back("text:" + e.get("text"));
    else
      out.push_back("code:" + e.get("code"));
  }
  return out;
}
std::string code(int n) { return "code:" + std::to_string(n); }
std::string joined(const std::vector<std::string> &tokens) {
  std::string all;
  for (const std::string &t : tokens)
    all += t + "\n";
  return all;
}

/* The tokens of the statistics cursor, from its text to its end: text,
** (describe 22, want-done 49), 12; id, name, open 6, 12; fetches; id,
** close 10, release 11, 12. Returns the number of fetch requests in it. */
size_t expect_cursor_at(const std::vector<std::string> &t, size_t at) {
  EXPECT_EQ("text:" + std::string(select_text), t.at(at));
  size_t opens = 0, fetches = 0;
  size_t i = at + 1;
  for (; i + 1 < t.size() && !(t[i] == code(code_close) && t[i + 1] == code(code_release)); ++i) {
    opens += t[i] == code(code_open);
    fetches += t[i] == code(code_fetch);
  }
  EXPECT_EQ(1u, opens) << joined(t);
  EXPECT_LT(i + 2, t.size()) << "no CLOSE with release after the cursor\n" << joined(t);
  if (i + 2 < t.size()) {
    EXPECT_EQ(code(code_end), t[i + 2]);
  }
  return fetches;
}

class ProbeOnTheWire : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, dovariza_probe_ops.db_main("probe_wire", "dvz1", 0, nullptr));
    debug_mode = 1;
  }
  void TearDown() override { debug_mode = 0; }

  /* Runs `body` in a forked child, as the monitor runs a probe child: the
  ** probe's last values and session count start afresh, against a double
  ** of the child's own with the committed idle scenario. The case fails
  ** when an expectation inside failed (the child's report shows it). */
  template <class Body>
  void in_probe_child(Body body) {
    EXPECT_EXIT(
        {
          server_ = std::make_unique<sqli_test::DoubleServer>(
              std::vector<std::string> {"--profile", GetParam()},
              dvz_test::read_file(DVZ_PROBE_SCENARIOS "/probe_idle.json"));
          body();
          server_.reset();
          /* The death test shows the child's standard error only. */
          const ::testing::TestResult *result =
              ::testing::UnitTest::GetInstance()->current_test_info()->result();
          for (int i = 0; i < result->total_part_count(); ++i)
            fprintf(stderr, "%s:%d: %s\n", result->GetTestPartResult(i).file_name(),
                    result->GetTestPartResult(i).line_number(),
                    result->GetTestPartResult(i).summary());
          fflush(nullptr);
          _exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
  }

  int connect() { return dovariza_probe_ops.dbms_connect(nullptr, &internal_, &error_); }
  int statistics() { return dovariza_probe_ops.dbms_statistics(&internal_, &error_); }
  int transaction() {
    return dovariza_probe_ops.dbms_test_transaction(nullptr, &internal_, &error_);
  }
  int disconnect() { return dovariza_probe_ops.dbms_disconnect(&internal_, &error_); }
  std::string failures() const {
    std::string all;
    for (const std::string &t : texts_with_id("2540"))
      all += t + "\n";
    return all;
  }

  void idle_server();
  void active_server();

  montest::LoggingScope logging_;
  dvz_test::ScopedEnv login_ {"DB_LOGIN", "hatest@dvzsrv"};
  dvz_test::ScopedEnv server_name_ {"DOVARIZASERVER", "dvzsrv"};
  dvz_test::ScopedEnv onconfig_ {"ONCONFIG", "onconfig.wire"};
  dvz_test::ScopedEnv owner_ {"DOVARIZAOWNER", std::to_string(getuid())};
  std::unique_ptr<sqli_test::DoubleServer> server_;
  int internal_ = 0;
  int error_ = 0;
};

TEST_P(ProbeOnTheWire, IdleServerGetsTheCursorThenTheStatementsAndCommitsInOrder) {
  in_probe_child([&] { idle_server(); });
}

void ProbeOnTheWire::idle_server() {
  const int first_session = dbms_session_id + 1;
  ASSERT_EQ(1, connect()) << failures();
  /* The counters are positive: the child's first statistics see activity. */
  EXPECT_EQ(1, statistics()) << failures();
  EXPECT_EQ(0, statistics()) << failures();
  EXPECT_EQ(1, transaction()) << failures();
  ASSERT_EQ(1, disconnect()) << failures();
  ASSERT_EQ(1, connect()) << failures();
  EXPECT_EQ(0, statistics()) << failures(); /* the last values outlive a reconnect */
  ASSERT_EQ(1, disconnect()) << failures();
  EXPECT_EQ(0, error_) << failures();

  std::vector<testbed::SqliJournalEntry> connects = server_->entries("connect");
  ASSERT_EQ(2u, connects.size());
  EXPECT_EQ("11", connects[0].get("x.kind")) << connects[0].line;
  EXPECT_EQ("hatest", connects[0].get("database")) << connects[0].line;
  EXPECT_EQ("dvzsrv", connects[0].get("x.server")) << connects[0].line;

  const std::vector<std::string> t = tokens(*server_, 1);
  /* The handshake comes before the first cursor; the version request
  ** only where the server's connect reply does not give its version. */
  size_t first_cursor = 0;
  while (first_cursor < t.size() && t[first_cursor] != "text:" + std::string(select_text))
    ++first_cursor;
  ASSERT_LT(first_cursor, t.size()) << joined(t);
  const std::vector<std::string> handshake(t.begin(), t.begin() + first_cursor);
  EXPECT_EQ(std::string(GetParam()) == "minimal", count_of(handshake, code(53)) == 1)
      << joined(handshake);

  /* 160 rows of the padded form do not fit one fetch buffer: several
  ** batches per cursor (the modern profile's unpadded rows may fit one). */
  const size_t batches = std::string(GetParam()) == "minimal" ? 2 : 1;
  EXPECT_GE(expect_cursor_at(t, first_cursor), batches) << joined(t);
  size_t second_cursor = first_cursor + 1;
  while (second_cursor < t.size() && t[second_cursor] != "text:" + std::string(select_text))
    ++second_cursor;
  ASSERT_LT(second_cursor, t.size()) << joined(t);
  EXPECT_GE(expect_cursor_at(t, second_cursor), batches);

  std::vector<std::string> transaction_order;
  for (size_t i = 0; i < statement_texts.size(); ++i) {
    transaction_order.push_back("text:" + statement_texts[i]);
    if (i == 2 || i == 3) transaction_order.push_back(code(code_commit));
  }
  const std::vector<std::string> after_second(t.begin() + second_cursor + 1, t.end());
  EXPECT_TRUE(in_order(after_second, transaction_order)) << joined(t);
  EXPECT_EQ(2u, count_of(t, code(code_commit))) << joined(t);
  /* Each statement is one request: no statement before the idle cursor. */
  EXPECT_EQ(5u, std::count_if(t.begin(), t.end(), [](const std::string &s) {
              return s.starts_with("text: ") && s != std::string("text:") + select_text;
            }));
  EXPECT_TRUE(in_order(after_second, {code(84), code(56)})) << joined(t);

  /* The second association: the cursor only, flat counters of a child
  ** whose last values survive the reconnect. */
  const std::vector<std::string> t2 = tokens(*server_, 2);
  EXPECT_EQ(1, std::count(t2.begin(), t2.end(), "text:" + std::string(select_text)));
  EXPECT_EQ(0u, count_of(t2, "text:" + statement_texts[0]));

  const std::vector<std::string> c = texts_with_id("0510");
  ASSERT_EQ(2u, c.size());
  EXPECT_EQ("connecting to database... 'hatest@dvzsrv' #" + std::to_string(first_session), c[0]);
  EXPECT_EQ("connecting to database... 'hatest@dvzsrv' #" + std::to_string(first_session + 1),
            c[1]);
}

TEST_P(ProbeOnTheWire, ActiveServerGetsOnlyTheCursor) {
  in_probe_child([&] { active_server(); });
}

void ProbeOnTheWire::active_server() {
  ASSERT_EQ(1, connect()) << failures();
  for (long value = 600; value < 603; ++value) {
    server_->set_scenario(probe_scenario(value));
    EXPECT_EQ(1, statistics()) << failures();
  }
  ASSERT_EQ(1, disconnect()) << failures();
  const std::vector<std::string> t = tokens(*server_, 1);
  EXPECT_EQ(3, std::count(t.begin(), t.end(), "text:" + std::string(select_text))) << joined(t);
  for (const std::string &text : statement_texts)
    EXPECT_EQ(0u, count_of(t, "text:" + text)) << joined(t);
  EXPECT_EQ(0u, count_of(t, code(code_commit)));
  /* Debug mode names each grown counter once per statistics (0540). */
  EXPECT_EQ(3 * dovariza::check_values.size(), texts_with_id("0540").size());
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProbeOnTheWire, ::testing::Values("minimal", "modern"));

/* Every number a full-stack scenario shows in its 2540 line has a catalog
** text in the build's tree (rgetlmsg: 0 and a text). */
TEST(CatalogTexts, EveryNumberTheScenariosShowHasAText) {
  for (int32_t number :
       {-206, -244, -387, -408, -908, -951, -1800, -1803, -25580, -25582, -27001}) {
    char text[1024] = {};
    int32_t length = 0;
    EXPECT_EQ(0, rgetlmsg(number, text, sizeof text, &length)) << number;
    EXPECT_GT(length, 0) << number;
  }
}

}  // namespace
}  // namespace e2e
