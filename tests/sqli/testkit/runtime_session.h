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
#include "sqli_cursor.h"
#include "sqli_status.h"

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
  /* A cursor as the probe makes it: locate with 0x200, DECLARE on the
  ** one fragment (kind 2); relocate as before each later call (0x300). */
  void *declare(const char *name, const char *text, int options = 0) {
    void *h = sqli_curs_locate(1, name, SQLI_LOCATE_KEEP_CASE);
    EXPECT_NE(h, nullptr) << sqlca.sqlcode;
    const char *pieces[] = {text, nullptr};
    EXPECT_EQ(sqli_curs_decl_stat(1, h, name, pieces, nullptr, nullptr, options, nullptr, nullptr,
                                  2, 0, 0),
              0)
        << sqlca.sqlerrm;
    return h;
  }
  void *relocate(const char *name) {
    return sqli_curs_locate(1, name, SQLI_LOCATE_CHECKED | SQLI_LOCATE_KEEP_CASE);
  }
  sqli_tcb *tcb = nullptr;
};

}  // namespace sqli_test

#endif
