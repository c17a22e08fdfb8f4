/*
** The server handshake, the environment and information messages and the
** session calls, over the fake association layer: the version ladder and
** the texts it reads, the bytes each request sends, the readers' bounds
** and their protocol errors, and the break-callback and accessor rules.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "asf_call.h"
#include "current_connection.h"
#include "fake_asf.h"
#include "os_env.h"
#include "runtime_fixture.h"
#include "scoped_env.h"
#include "sqli_conn.h"
#include "sqli_handshake.h"
#include "sqli_reply.h"
#include "sqli_session.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

using dvz_test::ScopedEnv;
using sqli_test::Bytes;
using sqli_test::FakeAsf;
using sqli_test::TestConnection;
using sqli_test::Wire;

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

class Handshake : public sqli_test::StartedRuntimeTest {
 protected:
  void TearDown() override {
    tcb->curconn = nullptr;
    conlist.mode = sqli_mode_none;
    RuntimeTest::TearDown();
  }

  using Session = sqli_test::CurrentConnection;
};

const Bytes version_request = sqli_test::parse_script("i16(53) i16(12)");

TEST(VersionText, TheLadderComparesBytewiseFromTheTop) {
  struct Row {
    const char *text;
    int32_t caps;
  };
  const Row rows[] = {
      {"9.0311", 0xfebd},
      {"9.0310", 0xfebd},
      {"9.0309", 0x3ebd},
      {"9.0308", 0x3ebd},
      {"9.0307", 0x1ebd},
      {"9.0306", 0xebd},
      {"9.0305", 0x6bd},
      {"9.0304", 0x2bd},
      {"9.0303", 0xbd},
      {"9.0302", 0x3d},
      {"9.0301", 0x3d},
      {"9.03", 0x1d},
      {"9.02", 0xd},
      {"9.00", 0x5},
      {"8.31", 0x10001},
      {"8.30", 0x1},
      {"8.00", 0x1},
      {"7.31", 0x143},
      {"7.30", 0x143},
      {"7.29", 0x43},
      {"7.23", 0x43},
      {"7.22", 0x3},
      {"7.21", 0x1},
      {"7.z", 0x1},
      {"7.zz", 0x1},
      {"6.00", 0x1},
      {"5.99", 0},
      {"10.00", 0},
      {"", 0},
  };
  for (const Row &r : rows)
    EXPECT_EQ(sqli_version_caps(r.text), r.caps) << r.text;
}

TEST(VersionText, FilterAndNumberFormsStayWithinEightCharacters) {
  struct Filter {
    const char *in;
    const char *out;
  };
  for (const Filter &f :
       {Filter {"7.31.UD1", "7.31"}, Filter {"V 8.31.FC2", "8.31"}, Filter {"9.0310", "9.0310"},
        Filter {"10.00.1", "10.00"}, Filter {"ab", ""}, Filter {"a", ""}, Filter {"", ""},
        Filter {"XY", ""}}) {
    char buf[sqli_version_size] = {};
    std::strncpy(buf, f.in, sizeof buf - 1);
    char *p = buf;
    _sq_filter(&p);
    EXPECT_STREQ(p, f.out) << f.in;
  }
  struct Number {
    int32_t n;
    const char *text;
  };
  for (const Number &n : {Number {310, "9.0310"}, Number {7, "9.0007"}, Number {9999, "9.9999"},
                          Number {123456, "9.9999"}, Number {-5, "9.0000"}}) {
    char out[sqli_version_size];
    std::memset(out, 'x', sizeof out);
    _sq_mkintverstr(n.n, out);
    EXPECT_STREQ(out, n.text) << n.n;
  }
  EXPECT_EQ(wrtintversion(400, nullptr), 311);
  EXPECT_EQ(wrtintversion(310, nullptr), 310);
}

/* The version request against scripted replies: what is kept, the word it
** maps to, and that the stream stays in step. */
TEST_F(Handshake, TheVersionReplySettlesTextAndWord) {
  struct Case {
    std::string reply;
    const char *text;
    int32_t caps;
  };
  const Case cases[] = {
      {"7.31.UD1", "7.31", 0x143},
      {"8.00", "8.00", 0x1},
      {"7.z", "7.z", 0x1},
      {"5.00", "5.00", 0},
      /* 13 bytes (odd, with a pad) and 14: the first 8 are kept. */
      {"9.0310.UC3XYZ", "9.0310", 0xfebd},
      {"9.0308.UC3XYZW", "9.0308", 0x3ebd},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reply);
    _sqclrca(tcb);
    Session s(tcb, 0);
    const Bytes tail = bytes_of("rest");
    s.fake.script_reply(Wire().i16(53).lbuf(c.reply).i16(12).raw(tail), {3});
    int32_t caps = -1;
    ASSERT_EQ(_sqverifyver(tcb, &caps, 0), 0);
    EXPECT_EQ(caps, c.caps);
    EXPECT_STREQ(s.t.conn.server_version_text, c.text);
    EXPECT_EQ(s.fake.sent_bytes(), version_request) << "nothing further is sent";
    EXPECT_EQ(tcb->request_active, 0);
    /* In step: the next bytes are the ones after the end code. */
    char next[4];
    _igetbuf(next, 4, &s.t.pipe);
    EXPECT_EQ(std::string(next, 4), "rest");
    EXPECT_EQ(sqlca.sqlcode, 0);
  }
}

TEST_F(Handshake, AWrongVersionReplyIsAProtocolError) {
  /* A stream that runs out keeps the receive failure's own status. */
  struct Case {
    Bytes reply;
    int sqlcode;
  };
  const Case wrong[] = {
      {Wire().i16(13).i16(0), -408}, /* another code */
      {Wire().i16(53).lbuf("8.00").i16(15), -408}, /* another end code */
      {Wire().i16(53).u16(300), -25582}, /* cut short */
  };
  for (const Case &c : wrong) {
    SCOPED_TRACE(sqli_test::hex(c.reply));
    _sqclrca(tcb);
    Session s(tcb, 0);
    s.fake.script_reply(c.reply);
    int32_t caps = -1;
    EXPECT_EQ(_sqverifyver(tcb, &caps, 0), -1);
    EXPECT_EQ(caps, 0);
    EXPECT_EQ(sqlca.sqlcode, c.sqlcode);
    EXPECT_TRUE(s.dropped());
    EXPECT_EQ(s.fake.calls(asf_svc_abort), 1);
  }
}

/* The number of the connect response: nothing is sent; float format and
** padding follow the word, and DVZ_PAD_VARCHAR counts from "9.0311". */
TEST_F(Handshake, ANumberFromTheConnectResponseSetsFormatAndPadding) {
  struct Case {
    int32_t number;
    std::optional<std::string> pad_env;
    bool float_as_decimal;
    int32_t caps;
    int format;
    int pad;
  };
  const Case cases[] = {
      {310, std::nullopt, false, 0xfebd, 1, 1}, {310, "1", false, 0xfebd, 1, 1},
      {311, std::nullopt, false, 0xfebd, 1, 1}, {311, "1", false, 0xfebd, 1, 0},
      {307, std::nullopt, true, 0x1ebd, 1, 1},  {301, std::nullopt, true, 0x3d, 2, 0},
      {301, std::nullopt, false, 0x3d, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.number);
    ScopedEnv pad("DVZ_PAD_VARCHAR", c.pad_env);
    Session s(tcb, 0);
    s.t.conn.dbflags[3] = c.float_as_decimal ? 1 : 0;
    s.t.pipe.float_format = -1;
    s.t.conn.varchar_pad = -1;
    int32_t caps = 0;
    ASSERT_EQ(_sqverifyver(tcb, &caps, c.number), 0);
    EXPECT_EQ(caps, c.caps);
    EXPECT_EQ(s.t.pipe.float_format, c.format);
    EXPECT_EQ(s.t.conn.varchar_pad, c.pad);
    EXPECT_TRUE(s.fake.sent().empty());
  }
  /* Below "6.00" nothing past the word is settled. */
  Session s(tcb, 0);
  s.fake.script_reply(Wire().i16(53).lbuf("5.00").i16(12));
  s.t.pipe.float_format = -1;
  s.t.conn.varchar_pad = -1;
  int32_t caps = -1;
  ASSERT_EQ(_sqverifyver(tcb, &caps, 0), 0);
  EXPECT_EQ(caps, 0);
  EXPECT_EQ(s.t.pipe.float_format, -1);
  EXPECT_EQ(s.t.conn.varchar_pad, -1);
}

/* The environment message: its golden bytes, the length word of two
** entries, and nothing sent or read for an empty list. */
TEST_F(Handshake, TheEnvironmentMessageCarriesTheSessionVariables) {
  {
    const char *names[] = {"DBDATE"};
    const char *values[] = {"Y4MD-"};
    evlist_t list {1, const_cast<char **>(names), const_cast<char **>(values)};
    Session s(tcb, 0x1);
    s.fake.script_reply(Wire().i16(12));
    EXPECT_EQ(_sqs_env(&list, tcb), 0);
    EXPECT_EQ(s.fake.sent_bytes(),
              sqli_test::parse_script("00 51 00 06 00 16 00 06 00 06 00 06 \"DBDATE\""
                                      " 00 05 \"Y4MD-\" 00 00 00 00 00 00 0C"));
  }
  {
    /* Two entries: L counts 6 and 4 + rounded lengths per entry. */
    const char *names[] = {"AB", "DBTIME"};
    const char *values[] = {"xyz", "1234567"};
    evlist_t list {2, const_cast<char **>(names), const_cast<char **>(values)};
    Session s(tcb, 0x1);
    s.fake.script_reply(Wire().i16(12));
    EXPECT_EQ(_sqs_env(&list, tcb), 0);
    EXPECT_EQ(s.fake.sent_bytes(), Bytes(Wire()
                                             .i16(81)
                                             .i16(6)
                                             .i16(6 + (4 + 2 + 4) + (4 + 6 + 8))
                                             .i16(6)
                                             .i16(8)
                                             .lbuf("AB")
                                             .lbuf("xyz")
                                             .lbuf("DBTIME")
                                             .lbuf("1234567")
                                             .i16(0)
                                             .i16(0)
                                             .i16(12)));
  }
  evlist_t empty {};
  Session s(tcb, 0x1);
  EXPECT_EQ(_sqs_env(&empty, tcb), 0);
  EXPECT_TRUE(s.fake.sent().empty());
  EXPECT_EQ(s.fake.calls(asf_svc_receive), 0);
}

/* The information reply: a long text cut to 83, flag words OR-ed, odd and
** unknown items skipped with their pads, nothing read after the end. */
TEST_F(Handshake, TheInformationReplyIsReadWithinItsBounds) {
  const std::string text(100, 't');
  Session s(tcb, 0x1);
  s.fake.script_reply(Wire()
                          .i16(81)
                          .i16(2)
                          .u16(4 + 100)
                          .i32(910)
                          .raw(text)
                          .i16(3)
                          .u16(8)
                          .i32(0x10)
                          .i32(0x3)
                          .i16(7) /* unknown, odd: skipped with its pad */
                          .u16(3)
                          .raw("abc")
                          .zeros(1)
                          .i16(4)
                          .u16(7) /* one word, 3 bytes and a pad skipped */
                          .i32(0x100)
                          .raw("xyz")
                          .zeros(1)
                          .i16(4)
                          .u16(4)
                          .i32(0x1)
                          .i16(0)
                          .raw("after"),
                      {5});
  sqli_srvinfo info;
  std::memset(&info, 0x55, sizeof info);
  ASSERT_EQ(_sqr_info(&info, tcb), 0);
  EXPECT_EQ(s.fake.sent_bytes(), Bytes(Wire().i16(81).i16(1).i16(0).i16(0)));
  EXPECT_EQ(info.version, 910);
  EXPECT_EQ(info.flags1, 0x13);
  EXPECT_EQ(info.flags2, 0x101);
  EXPECT_EQ(info.spare[0] | info.spare[1] | info.spare[2], 0);
  EXPECT_EQ(std::string(info.text), text.substr(0, 83));
  char next[5];
  _igetbuf(next, 5, &s.t.pipe);
  EXPECT_EQ(std::string(next, 5), "after");
  EXPECT_EQ(sqlca.sqlcode, 0);
}

TEST_F(Handshake, InformationFailures) {
  {
    /* Without capability 0x1 nothing is asked. */
    Session s(tcb, 0);
    sqli_srvinfo info;
    EXPECT_EQ(_sqr_info(&info, tcb), -1);
    EXPECT_TRUE(s.fake.sent().empty());
    EXPECT_FALSE(s.dropped());
  }
  struct Case {
    Bytes reply;
    int sqlcode;
  };
  const Case bad[] = {
      {Wire().i16(13).i16(0), -408}, /* another code */
      {Wire().i16(81).i16(2).u16(2).raw("ab").i16(3).u16(4).i32(1).i16(0), -408}, /* short */
      {Wire().i16(81).i16(3).u16(8).i32(1), -25582}, /* cut short */
  };
  for (const Case &c : bad) {
    SCOPED_TRACE(sqli_test::hex(c.reply));
    _sqclrca(tcb);
    Session s(tcb, 0x1);
    s.fake.script_reply(c.reply);
    sqli_srvinfo info;
    EXPECT_EQ(_sqr_info(&info, tcb), -1);
    EXPECT_EQ(sqlca.sqlcode, c.sqlcode);
    EXPECT_TRUE(s.dropped());
    EXPECT_EQ(tcb->request_active, 0);
  }
  /* The public call without a connection. */
  sqli_srvinfo info;
  EXPECT_EQ(dvz_srvinfo(&info), -1);
  EXPECT_EQ(sqlca.sqlcode, -1803);
}

TEST_F(Handshake, TheOwnerReplyKeeps128Bytes) {
  conlist.mode = sqli_mode_explicit; /* the test's connection counts as made */
  std::string name(200, 'o');
  for (size_t i = 0; i < name.size(); ++i)
    name[i] = static_cast<char>('a' + i % 26);
  {
    Session s(tcb, 0x4);
    s.fake.script_reply(Wire().i16(109).lbuf(name).i16(12).raw("next"));
    char owner[129];
    std::memset(owner, 'x', sizeof owner);
    EXPECT_EQ(dvz_getserowner(owner), 0);
    EXPECT_EQ(s.fake.sent_bytes(), sqli_test::parse_script("00 6D 00 0C"));
    EXPECT_EQ(std::string(owner), name.substr(0, 128));
    EXPECT_EQ(tcb->request_active, 0);
    char next[4];
    _igetbuf(next, 4, &s.t.pipe);
    EXPECT_EQ(std::string(next, 4), "next");
  }
  {
    /* An odd short name with its pad. */
    Session s(tcb, 0x4);
    s.fake.script_reply(Wire().i16(109).lbuf("dba").i16(12));
    char owner[129];
    EXPECT_EQ(dvz_getserowner(owner), 0);
    EXPECT_STREQ(owner, "dba");
  }
  {
    Session s(tcb, 0x1);
    char owner[129];
    EXPECT_EQ(dvz_getserowner(owner), 0);
    EXPECT_STREQ(owner, "dovariza");
    EXPECT_TRUE(s.fake.sent().empty());
  }
  {
    Session s(tcb, 0x4);
    s.fake.script_reply(Wire().i16(109).lbuf("dba").i16(13));
    char owner[129];
    EXPECT_EQ(dvz_getserowner(owner), -408);
    EXPECT_TRUE(s.dropped());
  }
}

int callback_calls = 0;
void plain_callback(int) { ++callback_calls; }
void param_callback(int, void *) { ++callback_calls; }

TEST_F(Handshake, BreakCallbacksFollowTheirRules) {
  EXPECT_EQ(sqlbreakcallback(100, plain_callback), -437);
  Session s(tcb, 0x1);
  struct Case {
    int32_t interval;
    bool with_function;
    int result;
  };
  for (const Case &c : {Case {-1, true, -438}, Case {-2, true, -435}, Case {100, false, -436},
                        Case {-5, false, -435}}) {
    sqlca.sqlcode = -1;
    EXPECT_EQ(sqlbreakcallback(c.interval, c.with_function ? plain_callback : nullptr), c.result)
        << c.interval;
    EXPECT_EQ(sqlca.sqlcode, 0) << "status cleared";
    EXPECT_EQ(s.t.conn.callback, nullptr);
  }
  EXPECT_EQ(sqlbreakcallback(250, plain_callback), 0);
  EXPECT_EQ(s.t.conn.callback_interval, 250);
  EXPECT_EQ(s.t.conn.callback, plain_callback);
  EXPECT_EQ(s.t.conn.callback_params, 0);
  int arg = 0;
  EXPECT_EQ(sqlbreakcallback_withparams(0, param_callback, &arg), 0);
  EXPECT_EQ(s.t.conn.callback_interval, 0);
  EXPECT_EQ(s.t.conn.callback_params, 1);
  EXPECT_EQ(s.t.conn.callback_arg, &arg);
  EXPECT_EQ(sqlbreakcallback(-1, nullptr), 0);
  EXPECT_EQ(s.t.conn.callback_interval, -1);
  EXPECT_EQ(s.t.conn.callback, nullptr);
  EXPECT_EQ(s.t.conn.callback_arg, nullptr);
  EXPECT_EQ(s.t.conn.callback_params, 0);
}

TEST_F(Handshake, AccessorsAndRequestState) {
  EXPECT_EQ(sqlbreak(), 1);
  EXPECT_EQ(dvz_isuvs(), -1);
  EXPECT_EQ(sqli_server_version(), nullptr);
  {
    Session s(tcb, 0x1);
    std::strcpy(s.t.conn.server_version_text, "8.00");
    EXPECT_EQ(dvz_isuvs(), 0);
    EXPECT_STREQ(sqli_server_version(), "8.00");
    s.t.conn.capabilities = 0xfebd;
    EXPECT_EQ(dvz_isuvs(), 9);
    /* An interrupt goes to the connection's association; status cleared. */
    sqlca.sqlcode = -1;
    SQLCODE = -1;
    EXPECT_EQ(sqlbreak(), 0);
    EXPECT_EQ(sqlca.sqlcode, 0);
    EXPECT_EQ(s.fake.calls(asf_svc_resync), 1);
    s.fake.fail(asf_svc_resync, -25580, 0, "gone");
    EXPECT_EQ(sqlbreak(), -25580);
  }
  EXPECT_EQ(sqldone(), 0);
  tcb->request_active = 1;
  EXPECT_EQ(sqldone(), -439);
  tcb->request_active = 0;

  sqli_srvinfo info;
  std::memset(&info, 0x55, sizeof info);
  EXPECT_EQ(_iqinfo(&info), 0);
  EXPECT_EQ(info.version, 900);
  EXPECT_EQ(info.flags1, 0);
  EXPECT_EQ(info.flags2, 1);
  EXPECT_EQ(info.spare[0] | info.spare[1] | info.spare[2], 0);
  EXPECT_STREQ(info.text, "DOVARIZA-ESQL Version 9.51.U    ");

  EXPECT_EQ(dvz_lvar_alloc(1), 0);
  EXPECT_EQ(tcb->lvar_alloc, 1);
  tcb->last_serial8 = dvz_int8_t {77, 5, -1};
  dvz_int8_t serial {};
  dvz_getserial8(&serial);
  EXPECT_EQ(std::memcmp(&serial, &tcb->last_serial8, sizeof serial), 0);
}

}  // namespace
