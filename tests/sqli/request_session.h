/*
** request_session.h: what the request and bind-value tests share: a
** current connection over the fake association layer, whose sent bytes
** are compared with the golden scripts of scripts/requests.txt (written
** from the wire tables).
*/
#ifndef DVZ_TESTS_SQLI_REQUEST_SESSION_H
#define DVZ_TESTS_SQLI_REQUEST_SESSION_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "fake_asf.h"
#include "runtime_fixture.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace sqli_test {

/* The golden scripts by name. */
inline const std::map<std::string, Bytes> &request_scripts() {
  static const std::map<std::string, Bytes> table = [] {
    std::map<std::string, Bytes> out;
    for (auto &[name, bytes] : load_scripts(DVZ_SQLI_SCRIPTS "/requests.txt"))
      out[name] = bytes;
    return out;
  }();
  return table;
}
inline Bytes script(const std::string &name) {
  auto it = request_scripts().find(name);
  if (it == request_scripts().end()) {
    ADD_FAILURE() << "no script " << name;
    return {};
  }
  return it->second;
}
inline Bytes join(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

/* A fresh runtime whose context is ready for a request; the conversion
** buffer, which lives as long as the context, is freed with it. */
class RequestTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    tcb_ = start();
    ASSERT_NE(tcb_, nullptr);
  }
  void TearDown() override {
    if (tcb_ != nullptr) {
      std::free(tcb_->convbuf);
      tcb_->convbuf = nullptr;
      tcb_->convbuf_size = 0;
    }
    RuntimeTest::TearDown();
  }
  sqli_tcb *tcb_ = nullptr;
};

/* A connection made current for the scope, lending send buffers of
** send_size bytes, with the capability bits given. */
class Session {
 public:
  Session(sqli_tcb *tcb, int send_size = 4096, int32_t capabilities = 0)
      : tcb_(tcb), connection_(capabilities) {
    fake_.set_send_size(send_size);
    EXPECT_EQ(initpipevbles(&connection_.pipe), 0);
    tcb_->curconn = &connection_.conn;
  }
  ~Session() { tcb_->curconn = nullptr; }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  sqli_conn &conn() { return connection_.conn; }
  pipe_vbles &pipe() { return connection_.pipe; }
  /* Every byte written so far (the send buffer is flushed). */
  Bytes sent() {
    if (connection_.pipe.outptr != connection_.pipe.unsent) _iflushbuff(&connection_.pipe);
    return fake_.sent_bytes();
  }
  /* True while nothing at all has been written. */
  bool untouched() const {
    return fake_.sent().empty() && connection_.pipe.outptr == connection_.pipe.outbase;
  }

 private:
  sqli_tcb *tcb_;
  FakeAsf fake_;
  TestConnection connection_;
};

}  // namespace sqli_test

#endif
