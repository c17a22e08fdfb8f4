/*
** Buffered message I/O over the fake association layer: values split
** across send buffers, reads that fail part-way, time-outs driving the
** break callback, failures recorded in sqlca (positive statuses as their
** negatives), and a broken send that never writes past its buffer.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "asf_call.h"
#include "fake_asf.h"
#include "os_context.h"
#include "sqli_context.h"
#include "sqli_wire.h"
#include "test_connection.h"
#include "wire_codec.h"

namespace {

using sqli_test::Bytes;
using sqli_test::FakeAsf;
using sqli_test::TestConnection;

std::vector<int> statuses;
std::vector<void *> arguments;

void record_status(int status) { statuses.push_back(status); }
void record_status_and_argument(int status, void *argument) {
  statuses.push_back(status);
  arguments.push_back(argument);
}

class WireIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CheckGlobInit(), nullptr);
    _sqclrca(sqlitcb);
    statuses.clear();
    arguments.clear();
    CheckOsInit()->read_failed = 0;
  }
  void TearDown() override { _sqclrca(sqlitcb); }

  /* A callback of 100 ms, running while a request is in progress. */
  static void arm_callback(TestConnection &t, bool with_argument = false) {
    t.conn.callback_interval = 100;
    if (with_argument) {
      t.conn.callback = reinterpret_cast<void (*)(int)>(
          reinterpret_cast<void (*)()>(&record_status_and_argument));
      t.conn.callback_params = 1;
      t.conn.callback_arg = &t;
    } else {
      t.conn.callback = &record_status;
    }
    t.request_active = 1;
  }
};

TEST_F(WireIo, AValueWiderThanTheRoomLeftSplitsAcrossBuffers) {
  FakeAsf fake;
  fake.set_send_size(4);
  TestConnection t;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  _iputint(1, &t.pipe);
  _iputlong(0x01020304, &t.pipe); /* 2 bytes of room left: 2 here, 2 in the next */
  ASSERT_EQ(_iflushbuff(&t.pipe), 0);
  ASSERT_EQ(fake.sent().size(), 2u);
  EXPECT_EQ(sqli_test::hex(fake.sent()[0]), "00010102");
  EXPECT_EQ(sqli_test::hex(fake.sent()[1]), "0304");
  EXPECT_EQ(_iget_outcnt(&t.pipe), 4) << "a fresh buffer after the flush";
  EXPECT_EQ(SQLCODE, 0);
}

TEST_F(WireIo, AReadFailingPartWayGivesFFBytesAndRecordsOnce) {
  FakeAsf fake;
  fake.script_reply(sqli_test::parse_script("616263 0a0b0c0d0e0f1011"), {2, 1});
  fake.fail_after(3, -25582, 104, "peer went away");
  TestConnection t;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  unsigned char got[10];
  _iread(got, sizeof got, &t.pipe);
  const unsigned char want[10] = {'a', 'b', 'c', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(got, want, sizeof got), 0);
  EXPECT_EQ(CheckOsInit()->read_failed, 1);
  EXPECT_EQ(SQLCODE, -25582);
  EXPECT_EQ(sqlca.sqlerrd[1], 104);
  EXPECT_STREQ(sqlca.sqlerrm, "peer went away");
  EXPECT_EQ(fake.calls(asf_svc_receive), 3);
  /* Later reads of the request: 0xFF at once, no call, no second record. */
  _sqclrca(sqlitcb);
  EXPECT_EQ(_igetint(&t.pipe), -1);
  EXPECT_EQ(_igetlong(&t.pipe), -1);
  EXPECT_EQ(fake.calls(asf_svc_receive), 3);
  EXPECT_EQ(SQLCODE, 0);
  /* The next request sent clears the mark. */
  _iputint(12, &t.pipe);
  ASSERT_EQ(_iflushbuff(&t.pipe), 0);
  fake.script_reply(sqli_test::parse_script("i16(7)"));
  EXPECT_EQ(_igetint(&t.pipe), -1) << "the failure point still stands in the fake";
  EXPECT_EQ(fake.calls(asf_svc_receive), 4);
}

TEST_F(WireIo, TimeOutsDriveTheBreakCallback) {
  struct Row {
    const char *what;
    int service;
    bool with_argument;
  };
  const Row rows[] = {{"receive", asf_svc_receive, false},
                      {"send", asf_svc_send, false},
                      {"receive, callback with its argument", asf_svc_receive, true}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    statuses.clear();
    arguments.clear();
    FakeAsf fake;
    fake.script_reply(sqli_test::parse_script("i16(56)"));
    TestConnection t;
    ASSERT_EQ(initpipevbles(&t.pipe), 0);
    arm_callback(t, r.with_argument);
    fake.time_out(r.service, 2);
    if (r.service == asf_svc_receive) {
      EXPECT_EQ(_igetint(&t.pipe), 56);
    } else {
      _iputint(12, &t.pipe);
      EXPECT_EQ(_iflushbuff(&t.pipe), 0);
      EXPECT_EQ(sqli_test::hex(fake.sent_bytes()), "000c");
    }
    EXPECT_EQ(statuses, (std::vector<int> {1, 2, 2, 0}));
    if (r.with_argument) {
      EXPECT_EQ(arguments, (std::vector<void *>(4, &t)));
    }
    /* The waits after the first ran with the callback interval; none is
    ** left armed. */
    EXPECT_EQ(fake.timeouts().back(), 100);
    EXPECT_EQ(t.pipe.svcctl.timeout, -1);
    EXPECT_EQ(SQLCODE, 0) << "a time-out is never an error";
  }
}

TEST_F(WireIo, NoCallbackRunsOutsideARequest) {
  FakeAsf fake;
  fake.script_reply(sqli_test::parse_script("i16(3)"));
  TestConnection t;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  arm_callback(t);
  t.request_active = 0;
  fake.time_out(asf_svc_receive, 1);
  EXPECT_EQ(_igetint(&t.pipe), 3);
  EXPECT_TRUE(statuses.empty());
}

TEST_F(WireIo, ATimedOutSendResumesWhereTheServicesStopped) {
  FakeAsf fake;
  fake.set_timeout_progress(3);
  TestConnection t;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  _iputbuf("abcdefgh", 8, &t.pipe);
  fake.time_out(asf_svc_send, 1);
  ASSERT_EQ(_iflushbuff(&t.pipe), 0);
  ASSERT_EQ(fake.sent().size(), 2u);
  EXPECT_EQ(std::string(fake.sent()[0].begin(), fake.sent()[0].end()), "abc");
  EXPECT_EQ(std::string(fake.sent()[1].begin(), fake.sent()[1].end()), "defgh");
}

TEST_F(WireIo, FailedServicesAreRecordedNeverAsSuccess) {
  struct Row {
    int service;
    int32_t status;
    int32_t sqlcode;
  };
  /* Positive statuses other than 1 and 6 become their negatives. */
  const Row rows[] = {{asf_svc_send, 25507, -25507},    {asf_svc_send, 2, -2},
                      {asf_svc_send, -25582, -25582},   {asf_svc_sendbuf, 8, -8},
                      {asf_svc_receive, 25503, -25503}, {asf_svc_receive, -408, -408}};
  for (const Row &r : rows) {
    SCOPED_TRACE(testing::Message() << "service " << r.service << " status " << r.status);
    _sqclrca(sqlitcb);
    FakeAsf fake;
    TestConnection t;
    ASSERT_EQ(initpipevbles(&t.pipe), 0);
    fake.fail(r.service, r.status, 11, "why");
    if (r.service == asf_svc_receive) {
      fake.script_reply(sqli_test::parse_script("0001"));
      EXPECT_EQ(_igetint(&t.pipe), -1);
    } else {
      _iputint(12, &t.pipe);
      EXPECT_EQ(_iflushbuff(&t.pipe), -1);
    }
    EXPECT_EQ(SQLCODE, r.sqlcode);
    EXPECT_EQ(sqlca.sqlcode, r.sqlcode);
    EXPECT_EQ(sqlca.sqlerrd[1], 11);
    EXPECT_STREQ(sqlca.sqlerrm, "why");
  }
}

TEST_F(WireIo, AfterAFailedSendNothingIsWrittenUntilTheRecordIsReset) {
  FakeAsf fake;
  fake.set_send_size(8);
  TestConnection t;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  fake.fail(asf_svc_send, -25582, 32, "broken pipe");
  /* 8 bytes fill the buffer; the ninth forces the send that fails; the
  ** rest of the request (far more than the buffer holds) is dropped. */
  const std::string request(300, 'x');
  _iputbuf(request.data(), static_cast<int>(request.size()), &t.pipe);
  _iputlong(7, &t.pipe);
  _iputlbuf("abcde", 5, &t.pipe);
  const dec_t d {1, 1, 1, {5}};
  _iputdecimal(&d, &t.pipe);
  EXPECT_EQ(_iget_outcnt(&t.pipe), 0);
  EXPECT_EQ(_iflushbuff(&t.pipe), -1);
  EXPECT_EQ(fake.calls(asf_svc_send), 1) << "a broken record sends nothing more";
  EXPECT_TRUE(fake.sent().empty());
  EXPECT_EQ(SQLCODE, -25582);
  /* Reset: a new request goes out whole. */
  _sqclrca(sqlitcb);
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  _iputint(12, &t.pipe);
  EXPECT_EQ(_iflushbuff(&t.pipe), 0);
  EXPECT_EQ(sqli_test::hex(fake.sent_bytes()), "000c");
  EXPECT_EQ(SQLCODE, 0);
}

TEST_F(WireIo, NoSendBufferMeansNoWrites) {
  FakeAsf fake;
  fake.fail(asf_svc_sendbuf, -25598, 0, "");
  TestConnection t;
  EXPECT_EQ(initpipevbles(&t.pipe), -1);
  EXPECT_EQ(SQLCODE, -25598);
  _iputlong(1, &t.pipe);
  EXPECT_EQ(t.pipe.outptr, nullptr);
  EXPECT_TRUE(fake.sent().empty());
}

TEST_F(WireIo, AReceivedBufferIsHandedBack) {
  FakeAsf fake;
  fake.script_reply(sqli_test::parse_script("i16(1) i16(2)"));
  TestConnection t;
  ASSERT_EQ(initpipevbles(&t.pipe), 0);
  EXPECT_EQ(asf_recvbfree(&t.pipe), 0) << "nothing held: nothing to do";
  EXPECT_EQ(fake.calls(asf_svc_recvbuf_free), 0);
  EXPECT_EQ(_igetint(&t.pipe), 1);
  EXPECT_EQ(asf_recvbfree(&t.pipe), 0);
  EXPECT_EQ(fake.released(), 1);
  EXPECT_EQ(t.pipe.recvbuf, nullptr);
  EXPECT_EQ(t.pipe.inleft, 0);
}

}  // namespace
