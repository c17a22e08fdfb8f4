/*
** current_connection.h: a connection over a fresh fake association layer,
** made the context's current connection for the object's lifetime, its
** request flag the context's own, as the reply readers and the session
** calls find it. The connection is not listed: a protocol error drops it
** from the context only.
*/
#ifndef DVZ_TESTS_SQLI_CURRENT_CONNECTION_H
#define DVZ_TESTS_SQLI_CURRENT_CONNECTION_H

#include <gtest/gtest.h>

#include <cstdint>

#include "fake_asf.h"
#include "sqli_context.h"
#include "sqli_wire.h"
#include "test_connection.h"

namespace sqli_test {

struct CurrentConnection {
  FakeAsf fake;
  TestConnection t;
  sqli_tcb *tcb;
  CurrentConnection(sqli_tcb *context, int32_t caps) : t(caps), tcb(context) {
    t.pipe.request_active = &tcb->request_active;
    tcb->curconn = &t.conn;
    EXPECT_EQ(initpipevbles(&t.pipe), 0);
  }
  ~CurrentConnection() { tcb->curconn = nullptr; }
  CurrentConnection(const CurrentConnection &) = delete;
  CurrentConnection &operator=(const CurrentConnection &) = delete;
  /* True once a protocol error or a server exit has dropped it. */
  bool dropped() const { return tcb->curconn == nullptr; }
};

}  // namespace sqli_test

#endif
