/*
** test_connection.h: a connection record and its message I/O record wired
** together as the runtime wires the current connection (back-link,
** request flag, OS context), for tests of the wire primitives over the
** fake association layer. The records are zeroed; initpipevbles is left
** to the test.
*/
#ifndef DVZ_TESTS_SQLI_TEST_CONNECTION_H
#define DVZ_TESTS_SQLI_TEST_CONNECTION_H

#include <cstdint>

#include "os_context.h"
#include "sqli_runtime_records.h"

namespace sqli_test {

struct TestConnection {
  sqli_conn conn {};
  pipe_vbles pipe {};
  int16_t request_active = 0;

  explicit TestConnection(int32_t capabilities = 0) {
    conn.capabilities = capabilities;
    conn.callback_interval = -1;
    conn.io = &pipe;
    pipe.conn = &conn;
    pipe.request_active = &request_active;
    pipe.ostcb = CheckOsInit();
  }
  TestConnection(const TestConnection &) = delete;
  TestConnection &operator=(const TestConnection &) = delete;
};

}  // namespace sqli_test

#endif
