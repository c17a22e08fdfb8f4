/*
** The session calls against the SQLI server double over real loopback
** TCP, through the association services: server information and the
** owner name as each profile answers them, the version text and word the
** handshake settled, the interrupt of sqlbreak, and a session started by
** sqlstart and ended by sqldetach and sqlexit. Each test leaves no
** connection behind.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "double_server.h"
#include "os_context.h"
#include "runtime_session.h"
#include "sqli_conn.h"
#include "sqli_connect.h"
#include "sqli_context.h"
#include "sqli_session.h"
#include "sqli_status.h"

namespace {

using sqli_test::DoubleServer;

class SessionCalls : public sqli_test::RuntimeSessionTest {
 protected:
  /* CONNECT TO hatest, which must succeed. */
  void connect(const DoubleServer &d) {
    RuntimeSessionTest::connect(d);
    ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  }
};

TEST_F(SessionCalls, TheMinimalProfileAnswersInformationButHasOneOwner) {
  const std::string text(100, 'v');
  DoubleServer d({"--profile", "minimal"}, R"({"info": {"version": 910, "text": ")" + text +
                                               R"(", "flags1": [16, 3], "flags2": [256]}})");
  connect(d);
  EXPECT_STREQ(sqli_server_version(), "8.00");
  EXPECT_EQ(dvz_isuvs(), 0);

  sqli_srvinfo info;
  ASSERT_EQ(dvz_srvinfo(&info), 0) << sqlca.sqlcode;
  EXPECT_EQ(info.version, 910);
  EXPECT_EQ(info.flags1, 0x13);
  EXPECT_EQ(info.flags2, 0x100);
  EXPECT_EQ(std::string(info.text), text.substr(0, 83));
  ASSERT_FALSE(d.messages(81).empty());
  EXPECT_EQ(d.messages(81).back().get("raw"), "0051000100000000");

  char owner[129];
  EXPECT_EQ(dvz_getserowner(owner), 0);
  EXPECT_STREQ(owner, "dovariza");
  EXPECT_TRUE(d.messages(109).empty());
  /* The connection still works after the exchanges. */
  ASSERT_EQ(dvz_srvinfo(&info), 0);
}

TEST_F(SessionCalls, TheModernProfileNamesItsOwner) {
  std::string name(200, 'o');
  for (size_t i = 0; i < name.size(); ++i)
    name[i] = static_cast<char>('a' + i % 26);
  DoubleServer d({"--profile", "modern"}, R"({"owner": ")" + name + R"("})");
  connect(d);
  EXPECT_STREQ(sqli_server_version(), "9.0310");
  EXPECT_EQ(dvz_isuvs(), 9);
  EXPECT_TRUE(d.messages(53).empty());
  char owner[129];
  EXPECT_EQ(dvz_getserowner(owner), 0) << sqlca.sqlerrm;
  EXPECT_EQ(std::string(owner), name.substr(0, 128));
  ASSERT_EQ(d.messages(109).size(), 1u);
  EXPECT_EQ(d.messages(109).at(0).get("raw"), "006d");
  EXPECT_EQ(sqldone(), 0);
}

TEST_F(SessionCalls, SqlbreakInterruptsTheCurrentAssociation) {
  EXPECT_EQ(sqlbreak(), 1);
  DoubleServer d({"--profile", "minimal"});
  connect(d);
  EXPECT_EQ(sqlbreak(), 0);
  ASSERT_TRUE(d.wait_for_what("urgent"));
  EXPECT_EQ(d.entries("urgent").at(0).get("byte"), "B");
}

TEST_F(SessionCalls, AStartedSessionEndsWithDetachOrExit) {
  DoubleServer d({"--profile", "modern"});
  EXPECT_EQ(sqlstart(), 0) << sqlca.sqlerrm;
  ASSERT_NE(tcb->curconn, nullptr);
  EXPECT_EQ(get_forkflag(), 1);
  ASSERT_FALSE(d.entries("connect").empty());
  EXPECT_EQ(d.entries("connect").back().get("kind"), "6");
  EXPECT_EQ(sqldetach(), 0);
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_EQ(get_forkflag(), 0);

  connect(d);
  EXPECT_EQ(get_forkflag(), 1);
  EXPECT_EQ(sqlexit(), 0);
  EXPECT_EQ(tcb->curconn, nullptr);
  EXPECT_EQ(get_forkflag(), 0);
}

}  // namespace
