/*
** runtime_session.h: the fixture of the tests that drive the runtime's
** entry points against the SQLI server double: the process's context set
** up before each test, and every connection aborted after it, leaving no
** current connection behind.
*/
#ifndef DVZ_TESTS_SQLI_RUNTIME_SESSION_H
#define DVZ_TESTS_SQLI_RUNTIME_SESSION_H

#include <gtest/gtest.h>

#include <string>

#include "double_server.h"
#include "sqli_connect.h"
#include "sqli_context.h"

namespace sqli_test {

class RuntimeSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tcb = CheckGlobInit();
    ASSERT_NE(tcb, nullptr);
  }
  void TearDown() override {
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
    EXPECT_EQ(tcb->curconn, nullptr);
  }
  /* CONNECT TO db@server of the double, with an optional name; the
  ** outcome is left in the status for the test to check. */
  void connect(const DoubleServer &d, const char *db = "hatest", const char *name = nullptr) {
    const std::string env = std::string(db) + "@" + d.server();
    sqli_connect_open(1, SQLI_CONNECT_TO, env.c_str(), name, nullptr, 0);
  }
  sqli_tcb *tcb = nullptr;
};

}  // namespace sqli_test

#endif
