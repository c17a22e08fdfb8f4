/*
** The runtime's context and status: the sqlca layout, the first use of
** the context (options read once), clearing the status, recording one
** error and then a second, the message parameter and ISAM number of
** _iqset2err, the scratch buffer, and the WHENEVER STOP report.
*/
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>

#include "asf_call.h"
#include "fake_asf.h"
#include "locale_env.h"
#include "os_context.h"
#include "os_gentcb.h"
#include "runtime_fixture.h"
#include "sqli_errors.h"
#include "sqli_reply.h"
#include "sqli_status.h"
#include "sqli_wire.h"
#include "test_connection.h"

namespace {

using sqli_test::FailingMemory;
using sqli_test::RuntimeTest;

TEST(SqlcaLayout, Is116BytesWithFixedOffsets) {
  EXPECT_EQ(sizeof(sqlca_s), 116u);
  EXPECT_EQ(offsetof(sqlca_s, sqlcode), 0u);
  EXPECT_EQ(offsetof(sqlca_s, sqlerrm), 4u);
  EXPECT_EQ(offsetof(sqlca_s, sqlerrp), 76u);
  EXPECT_EQ(offsetof(sqlca_s, sqlerrd), 84u);
  EXPECT_EQ(offsetof(sqlca_s, sqlwarn), 108u);
  EXPECT_EQ(sizeof(SQLSTATE), 6u);
}

using ContextCreation = RuntimeTest;

TEST_F(ContextCreation, PointsAtTheProcessWideStatusAndStartsClear) {
  sqli_tcb *tcb = CheckGlobInit();
  ASSERT_NE(tcb, nullptr);
  EXPECT_EQ(getsqlitcb(), tcb);
  EXPECT_EQ(CheckGlobInit(), tcb);
  EXPECT_EQ(tcb->sqlca, &sqlca);
  EXPECT_EQ(tcb->sqlcode, &SQLCODE);
  EXPECT_EQ(tcb->sqlstate, SQLSTATE);
  EXPECT_EQ(tcb->ansiwarn_pending, 1);
  EXPECT_EQ(tcb->file_fd, -1);
  /* The interface checks clear the status on the way. */
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_STREQ(SQLSTATE, "00000");
}

/* The options are read once, when the context is made. */
TEST_F(ContextCreation, ReadsTheOptionVariablesOnce) {
  struct row {
    const char *name;
    const char *value; /* null: unset */
    int16_t mask;
    int16_t expected;
  };
  const row rows[] = {
      {"DVZ_AUTOFREE", "1", sqli_flag_autofree | sqli_flag_no_autofree, sqli_flag_autofree},
      {"DVZ_AUTOFREE", "0", sqli_flag_autofree | sqli_flag_no_autofree, sqli_flag_no_autofree},
      {"DVZ_AUTOFREE", "10", sqli_flag_autofree | sqli_flag_no_autofree, 0},
      {"DVZ_AUTOFREE", nullptr, sqli_flag_autofree | sqli_flag_no_autofree, 0},
      {"DVZ_DEFERRED_PREPARE", "1", sqli_flag_deferred_prepare, sqli_flag_deferred_prepare},
      {"DVZ_DEFERRED_PREPARE", "yes", sqli_flag_deferred_prepare, 0},
      {"BLANK_STRINGS_NOT_NULL", "", sqli_flag_blanks_not_null, sqli_flag_blanks_not_null},
      {"BLANK_STRINGS_NOT_NULL", "0", sqli_flag_blanks_not_null, sqli_flag_blanks_not_null},
      {"BLANK_STRINGS_NOT_NULL", nullptr, sqli_flag_blanks_not_null, 0},
  };
  for (const row &r : rows) {
    sqli_test::reset_runtime();
    if (r.value != nullptr) {
      setenv(r.name, r.value, 1);
    } else {
      unsetenv(r.name);
    }
    sqli_tcb *tcb = CheckGlobInit();
    ASSERT_NE(tcb, nullptr);
    EXPECT_EQ(tcb->flags & r.mask, r.expected) << r.name << "=" << (r.value ? r.value : "(unset)");
    /* A change after the first use is not seen. */
    setenv(r.name, r.value != nullptr && r.value[0] == '1' ? "0" : "1", 1);
    EXPECT_EQ(CheckGlobInit()->flags & r.mask, r.expected) << r.name;
    unsetenv(r.name);
  }
}

/* The interface checks of the layers beneath, in order: the runtime's
** own, the operating-system services', the general library's. */
TEST_F(ContextCreation, InterfaceChecksRecordTheirFailures) {
  sqli_tcb *tcb = CheckGlobInit();
  ASSERT_NE(tcb, nullptr);
  ostcb_t *os = CheckOsInit();
  gen_tcb *gen = CheckGenInit();
  ASSERT_NE(os, nullptr);
  ASSERT_NE(gen, nullptr);
  struct row {
    int own, os_word, gen_word;
    int result, recorded;
  };
  const row rows[] = {
      {0, 0, 0, 0, 0},
      {SQLI_E_SQLIAPI, SQLI_E_OSAPI, SQLI_E_GENAPI, SQLI_E_SQLIAPI, SQLI_E_SQLIAPI},
      {0, SQLI_E_OSAPI, SQLI_E_GENAPI, SQLI_E_OSAPI, SQLI_E_OSAPI},
      {0, 0, SQLI_E_GENAPI, SQLI_E_GENAPI, SQLI_E_GENAPI},
      {0, 0, -5, -5, 0},
  };
  for (const row &r : rows) {
    os->api_error = r.os_word;
    gen->api_error = r.gen_word;
    EXPECT_EQ(chkAPIerr(r.own, tcb), r.result) << r.own << " " << r.os_word << " " << r.gen_word;
    EXPECT_EQ(SQLCODE, r.recorded) << r.own << " " << r.os_word << " " << r.gen_word;
  }
  os->api_error = 0;
  gen->api_error = 0;
}

/* A failed locale check is recorded and gives no context; the locale is
** initialised once per process, so the case runs in a child. */
TEST_F(ContextCreation, FailedLocaleCheckIsRecordedAndGivesNoContext) {
  const std::string report = oslib_test::in_child([] {
    setenv("CLIENT_LOCALE", "xx_NONE.nothing", 1);
    oslib_test::forget_locale_initialisation();
    sqli_test::reset_runtime();
    if (CheckGlobInit() != nullptr) return std::string("a context despite the locale");
    if (getsqlitcb() == nullptr) return std::string("the context is not kept");
    if (SQLCODE != -23101) return "recorded " + std::to_string(SQLCODE);
    if (getsqlitcb()->locale_guard != 0) return std::string("the guard stays set");
    return std::string();
  });
  EXPECT_EQ(report, "");
}

using StatusClear = RuntimeTest;

TEST_F(StatusClear, KeepsCountersAndSqlerrpClearsTheRest) {
  sqli_tcb *tcb = CheckGlobInit();
  ASSERT_NE(tcb, nullptr);
  sqlca.sqlcode = -201;
  SQLCODE = -201;
  std::memcpy(sqlca.sqlerrp, "PROGNAME", 8);
  for (int i = 0; i < 6; ++i)
    sqlca.sqlerrd[i] = 10 + i;
  std::memset(&sqlca.sqlwarn, 'W', sizeof sqlca.sqlwarn);
  std::strcpy(sqlca.sqlerrm, "customer");
  std::strcpy(SQLSTATE, "42000");

  EXPECT_EQ(_sqclrca(tcb), 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_EQ(std::string(sqlca.sqlerrp, 8), "PROGNAME");
  const int32_t expected_errd[6] = {10, 0, 12, 13, 14, 15};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(sqlca.sqlerrd[i], expected_errd[i]) << "sqlerrd[" << i << "]";
  EXPECT_EQ(std::string(&sqlca.sqlwarn.sqlwarn0, 8), std::string(8, ' '));
  EXPECT_EQ(sqlca.sqlerrm[0], '\0');
  EXPECT_STREQ(SQLSTATE, "00000");
  EXPECT_NE(tcb->flags & sqli_flag_clear, 0);
}

TEST_F(StatusClear, RecordsMinus439WhileARequestIsInProgress) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  tcb->request_active = 1;
  EXPECT_EQ(_sqclrca(tcb), SQLI_E_INPROGRESS);
  EXPECT_EQ(sqlca.sqlcode, SQLI_E_INPROGRESS);
  EXPECT_EQ(tcb->first_sqlca.sqlcode, SQLI_E_INPROGRESS);
  ASSERT_NE(tcb->diag, nullptr);
  EXPECT_EQ(tcb->diag->count, 1);
  /* Once the request is over the next clear leaves nothing of it. */
  tcb->request_active = 0;
  EXPECT_EQ(_sqclrca(tcb), 0);
  EXPECT_EQ(tcb->diag->count, 0);
  EXPECT_EQ(tcb->first_saved, 0);
}

using StatusRecording = RuntimeTest;

TEST_F(StatusRecording, SecondErrorShowsAndTheFirstIsKept) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  std::strcpy(sqlca.sqlerrm, "orders");
  EXPECT_EQ(_iqseterr(-206), -206);
  EXPECT_EQ(_iqseterr(-201), -201);
  EXPECT_EQ(sqlca.sqlcode, -201);
  EXPECT_EQ(SQLCODE, -201);
  EXPECT_STREQ(SQLSTATE, "42000");
  EXPECT_EQ(tcb->first_saved, 1);
  EXPECT_EQ(tcb->first_sqlca.sqlcode, -206);
  EXPECT_STREQ(tcb->first_sqlca.sqlerrm, "orders");
  ASSERT_EQ(tcb->diag->count, 2);
  EXPECT_EQ(tcb->diag->recs[0].code, -206);
  EXPECT_STREQ(tcb->diag->recs[0].sqlstate, "42000");
  EXPECT_STREQ(tcb->diag->recs[0].param, "orders");
  EXPECT_EQ(tcb->diag->recs[1].code, -201);
  /* The next operation starts with a fresh copy. */
  _sqclrca(tcb);
  EXPECT_EQ(tcb->first_saved, 0);
  EXPECT_EQ(_iqseterr(-217), -217);
  EXPECT_EQ(tcb->first_sqlca.sqlcode, -217);
}

TEST_F(StatusRecording, ZeroRecordsNothingAfterAClearAndStoresZeroAfterAnError) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  EXPECT_EQ(_iqseterr(0), 0);
  EXPECT_EQ(tcb->diag->count, 0);
  EXPECT_NE(tcb->flags & sqli_flag_clear, 0);
  _iqseterr(-201);
  EXPECT_EQ(_iqseterr(0), 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(SQLCODE, 0);
  EXPECT_STREQ(SQLSTATE, "00000");
}

TEST_F(StatusRecording, Iqset2errCutsTheTextAndKeepsTheLow16BitsOfIsam) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  struct row {
    int isam;
    int32_t expected;
  };
  const row rows[] = {{0x12345, 0x2345}, {0x1FFFF, -1}, {-111, -111}, {0x8000, -32768}};
  const std::string eighty(80, 'x');
  for (const row &r : rows) {
    _sqclrca(tcb);
    EXPECT_EQ(_iqset2err(-1, r.isam, eighty.c_str()), -1);
    EXPECT_EQ(sqlca.sqlcode, -1);
    EXPECT_EQ(std::string(sqlca.sqlerrm), std::string(71, 'x'));
    EXPECT_EQ(sqlca.sqlerrd[1], r.expected) << std::hex << r.isam;
    /* The ISAM number has a diagnostics record of its own. */
    ASSERT_EQ(tcb->diag->count, 2);
    EXPECT_EQ(tcb->diag->recs[1].code, r.expected);
    EXPECT_EQ(tcb->first_saved, 0);
  }
  /* Nothing at all after a clear records nothing; a null text keeps
  ** sqlerrm. */
  _sqclrca(tcb);
  EXPECT_EQ(_iqset2err(0, 0, nullptr), 0);
  EXPECT_EQ(tcb->diag->count, 0);
  std::strcpy(sqlca.sqlerrm, "kept");
  _iqset2err(-206, 0, nullptr);
  EXPECT_STREQ(sqlca.sqlerrm, "kept");
  EXPECT_EQ(SQLCODE, -206);
}

TEST_F(StatusRecording, SqseterrTakes400Off) {
  ASSERT_NE(start(), nullptr);
  EXPECT_EQ(_sqseterr(-1), -401);
  EXPECT_EQ(SQLCODE, -401);
}

/* A failure of the association services is recorded with its status,
** operating-system error and text; a positive status as its negative. */
TEST_F(StatusRecording, FailedSendRecordsTheAssociationStatus) {
  ASSERT_NE(start(), nullptr);
  sqli_test::FakeAsf fake;
  sqli_test::TestConnection connection;
  ASSERT_EQ(initpipevbles(&connection.pipe), 0);
  fake.fail(asf_svc_send, 25507, 104, "connection reset by peer");
  _iputlong(7, &connection.pipe);
  EXPECT_EQ(_iflushbuff(&connection.pipe), -1);
  EXPECT_EQ(sqlca.sqlcode, -25507);
  EXPECT_EQ(SQLCODE, -25507);
  EXPECT_EQ(sqlca.sqlerrd[1], 104);
  EXPECT_STREQ(sqlca.sqlerrm, "connection reset by peer");
  EXPECT_EQ(getsqlitcb()->first_sqlca.sqlcode, 0) << "_iqset2err takes no first-error copy";
}

/* With OPTMSG on and messages left in the send buffer, the replies of
** those requests are read first and an error among them stands. */
TEST_F(StatusRecording, DeferredRepliesComeBeforeTheNewError) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  sqli_test::FakeAsf fake;
  sqli_test::TestConnection connection;
  connection.pipe.request_active = &tcb->request_active;
  ASSERT_EQ(initpipevbles(&connection.pipe), 0);
  _iputint(26, &connection.pipe); /* a deferred message */
  connection.conn.optmsg = 1;
  tcb->curconn = &connection.conn;
  fake.script_reply(sqli_test::parse_script("i16(13) i16(-206) i16(0) i16(0) lbuf(\"t\") i16(12)"));
  EXPECT_EQ(_iqseterr(-201), -206);
  EXPECT_EQ(sqlca.sqlcode, -206);
  EXPECT_EQ(sqli_test::hex(fake.sent_bytes()), "001a000c") << "the deferred message went first";
  EXPECT_EQ(connection.conn.optmsg, 1) << "switched back on";
  EXPECT_EQ(tcb->first_sqlca.sqlcode, -206);

  /* Nothing buffered, or OPTMSG off: code is recorded at once. */
  for (int optmsg : {1, 0}) {
    _sqclrca(tcb);
    connection.conn.optmsg = static_cast<int16_t>(optmsg);
    if (optmsg == 0) _iputint(26, &connection.pipe);
    EXPECT_EQ(_iqseterr(-201), -201) << optmsg;
  }
  tcb->curconn = nullptr;
}

TEST_F(StatusRecording, ProtocolErrorKeepsAnErrorAlreadyRecorded) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  _sqproterr(tcb, 99);
  EXPECT_EQ(SQLCODE, SQLI_E_PROTOCOL);
  _sqclrca(tcb);
  _iqseterr(-25582);
  _sqproterr(tcb, 99);
  EXPECT_EQ(SQLCODE, -25582);
}

using ScratchBuffer = RuntimeTest;

TEST_F(ScratchBuffer, GrowsIn512ByteStepsAndKeepsItsContents) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  _sqapimem(1, tcb);
  EXPECT_EQ(tcb->scratch_size, 512);
  ASSERT_NE(tcb->scratch, nullptr);
  std::memcpy(tcb->scratch, "abc", 4);
  _sqapimem(512, tcb);
  EXPECT_EQ(tcb->scratch_size, 512);
  _sqapimem(1025, tcb);
  EXPECT_EQ(tcb->scratch_size, 1536);
  EXPECT_STREQ(tcb->scratch, "abc");
  EXPECT_EQ(SQLCODE, 0);
}

TEST_F(ScratchBuffer, FailedGrowthKeepsTheOldBufferAndRecordsMinus406) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  _sqapimem(100, tcb);
  char *old = tcb->scratch;
  std::memcpy(old, "kept", 5);
  {
    FailingMemory failing(1);
    _sqapimem(5000, tcb);
  }
  EXPECT_EQ(tcb->scratch, old);
  EXPECT_EQ(tcb->scratch_size, 512);
  EXPECT_STREQ(tcb->scratch, "kept");
  EXPECT_EQ(SQLCODE, SQLI_E_NOMEM);
}

TEST_F(ScratchBuffer, ContextCreationFailsCleanlyWithoutMemory) {
  FailingMemory failing(1);
  EXPECT_EQ(CheckGlobInit(), nullptr);
  EXPECT_EQ(getsqlitcb(), nullptr);
  /* Without a context a recording hands the code back. */
  EXPECT_EQ(_iqseterr(-201), -201);
}

using CursorSetup = RuntimeTest;

TEST_F(CursorSetup, ResetsAFreshRecordAndLeavesOneInUse) {
  sqli_cursor fresh {};
  fresh.kind = 1;
  fresh.flags = 0x8;
  fresh.nin = 3;
  char name[] = "s1";
  fresh.name = name;
  _sqsetup(&fresh);
  EXPECT_EQ(fresh.stmt_type, -1);
  EXPECT_EQ(fresh.stmt_id, -1);
  EXPECT_EQ(fresh.flags, 0u);
  EXPECT_EQ(fresh.nin, 0);
  EXPECT_EQ(fresh.kind, 1);
  EXPECT_EQ(fresh.name, name);

  sqli_cursor used {};
  used.stmt_type = 2;
  used.stmt_id = 7;
  used.flags = 0x3;
  _sqsetup(&used);
  EXPECT_EQ(used.stmt_type, 2);
  EXPECT_EQ(used.stmt_id, 7);
  EXPECT_EQ(used.flags, 0x3u);
}

TEST(StopWhenever, PrintsTheStatusReportToStandardError) {
  std::memset(&sqlca, 0, sizeof sqlca);
  sqlca.sqlcode = -206;
  std::strcpy(sqlca.sqlerrm, "orders");
  std::memcpy(sqlca.sqlerrp, "SQLPROG", 8);
  for (int i = 0; i < 6; ++i)
    sqlca.sqlerrd[i] = i * 11;
  std::memset(&sqlca.sqlwarn, ' ', sizeof sqlca.sqlwarn);
  sqlca.sqlwarn.sqlwarn0 = 'W';
  sqlca.sqlwarn.sqlwarn3 = 'W';
  testing::internal::CaptureStderr();
  sqli_stop_whenever();
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed,
            "\n"
            "Program stopped by WHENEVER STOP\n"
            "sqlca:\n"
            " sqlcode:-206\n"
            " sqlerrm: 'orders'\n"
            " sqlerrp: 'SQLPROG'\n"
            " sqlerrd:\n"
            " sqlerrd(1)=0\n"
            "        (2)=11\n"
            "        (3)=22\n"
            "        (4)=33\n"
            "        (5)=44\n"
            "        (6)=55\n"
            " sqlwarn.sqlwarn0:W\n"
            "        .sqlwarn1: \n"
            "        .sqlwarn2: \n"
            "        .sqlwarn3:W\n"
            "        .sqlwarn4: \n"
            "        .sqlwarn5: \n"
            "        .sqlwarn6: \n"
            "        .sqlwarn7: \n"
            "\n");
  std::memset(&sqlca, 0, sizeof sqlca);
}

}  // namespace
