/*
** The diagnostics area and GET DIAGNOSTICS: the records an operation
** leaves (success, errors, warnings, a routine's own state and text), the
** growth past eight records, the statement and record items handed to
** host variables, the refusals (-489, and -498 from a broken map), and
** the catalog message with its parameter (geterrmsg) from a catalog made
** by the test in the reader's file layout.
*/
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "locale_env.h"
#include "runtime_fixture.h"
#include "sqli_diag.h"
#include "sqli_errors.h"

namespace {

using sqli_test::RuntimeTest;

/* Host types of the item values the tests read. */
enum { host_string = 109, host_int = 102, host_long = 103 };

/* A narrow catalog (magic 0xFE68, 8-byte index entries) of texts. */
std::string catalog_bytes(const std::map<int16_t, std::string> &texts) {
  std::string index(4 + 8 * texts.size(), '\0');
  dvz_st_be_u16(0xFE68, index.data());
  dvz_st_be_u16(static_cast<uint16_t>(texts.size()), index.data() + 2);
  std::string body;
  size_t entry = 4;
  for (const auto &[number, text] : texts) {
    dvz_st_be_i16(number, index.data() + entry);
    dvz_st_be_i16(static_cast<int16_t>(text.size()), index.data() + entry + 2);
    dvz_st_be_u32(static_cast<uint32_t>(index.size() + body.size()), index.data() + entry + 4);
    body += text;
    entry += 8;
  }
  return index + body;
}

class Diagnostics : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    sqli_test::put_message_file(
        "csql.iem", catalog_bytes({{-206, "The table (%s) is not in the database.\n"},
                                   {-217, "Column (%s) not found in any table."},
                                   {-908, "Attempt to connect to database server (%s) failed."},
                                   {-909, "A %s and %d then %x end."},
                                   {-910, std::string(100, 'a') + "%s tail"},
                                   {-911, "[%s]"},
                                   {-912, "ends with %"}}));
    rclosemsg();
    tcb = start();
    ASSERT_NE(tcb, nullptr);
  }

  /* Record exception's items into strings and numbers. */
  struct record {
    char state[6];
    char class_origin[20];
    char subclass_origin[20];
    char text[8192];
    int32_t length;
    char server[256];
    char connection[256];
    int32_t code;
  };
  int get_record(int exception, record &r) {
    std::memset(&r, 0x55, sizeof r);
    sqli_diag_item items[] = {
        {r.state, sqli_diag_returned_sqlstate, host_string, sizeof r.state, {}},
        {r.class_origin, sqli_diag_class_origin, host_string, sizeof r.class_origin, {}},
        {r.subclass_origin, sqli_diag_subclass_origin, host_string, sizeof r.subclass_origin, {}},
        {r.text, sqli_diag_message_text, host_string, sizeof r.text, {}},
        {&r.length, sqli_diag_message_length, host_int, 4, {}},
        {r.server, sqli_diag_server_name, host_string, sizeof r.server, {}},
        {r.connection, sqli_diag_connection_name, host_string, sizeof r.connection, {}},
        {&r.code, sqli_diag_dvz_sqlcode, host_long, 4, {}},
        {nullptr, 0, 0, 0, {}},
    };
    return sqli_diag_get(1, items, exception);
  }

  sqli_tcb *tcb = nullptr;
};

TEST(DiagnosticsItem, EntriesAre32Bytes) { EXPECT_EQ(sizeof(sqli_diag_item), 32u); }

TEST_F(Diagnostics, SuccessLeavesOneRecordWithCodeZero) {
  _sqsetCODE(tcb);
  ASSERT_EQ(tcb->diag->count, 1);
  EXPECT_EQ(tcb->diag->recs[0].code, 0);
  EXPECT_STREQ(SQLSTATE, "00000");
  _sqsetCODE(tcb);
  EXPECT_EQ(tcb->diag->count, 1);
}

TEST_F(Diagnostics, TenErrorsGrowTheAreaPastEight) {
  for (int i = 0; i < 10; ++i)
    _iqseterr(-1000 - i);
  ASSERT_EQ(tcb->diag->count, 10);
  EXPECT_EQ(tcb->diag_capacity, 16);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(tcb->diag->recs[i].code, -1000 - i);
  int32_t count = 0;
  sqli_diag_item items[] = {{&count, sqli_diag_number, host_int, 4, {}}, {nullptr, 0, 0, 0, {}}};
  EXPECT_EQ(sqli_diag_get(1, items, -1), -1009);
  EXPECT_EQ(count, 10);
  record r;
  EXPECT_EQ(get_record(10, r), -1009);
  EXPECT_EQ(r.code, -1009);
  /* A failed growth records -406 and keeps the records. */
  for (int i = 10; i < 16; ++i)
    _iqseterr(-1000 - i);
  {
    sqli_test::FailingMemory failing(1);
    EXPECT_EQ(_sqsetCODE(tcb), -1);
  }
  EXPECT_EQ(SQLCODE, SQLI_E_NOMEM);
  EXPECT_EQ(tcb->diag->count, 16);
  EXPECT_EQ(tcb->diag->recs[15].code, -1015);
}

TEST_F(Diagnostics, DoneReplyWarningsDependOnTheStatement) {
  struct row {
    const char *what;
    void (*flag)(sqli_tcb *);
    int flags;
    std::vector<std::string> states;
  };
  const row rows[] = {
      {"database", _iqdbflag, 0x1, {"01I01"}},
      {"ordinary", nullptr, 0x1, {"01004"}},
      {"revoke", _iqrevokeflag, 0x1, {"01006"}},
      {"connect", setconnstmt, 0x6, {"01I03", "01I04"}},
      {"ordinary, all", nullptr, 0x3F, {"01004", "01003", "01007", "01I05", "01I06", "01I11"}},
  };
  for (const row &r : rows) {
    _sqclrca(tcb);
    if (r.flag != nullptr) r.flag(tcb);
    _sqbeWARN(r.flags, tcb);
    _sqbeWARN(r.flags, tcb); /* the same warning twice is recorded once */
    _sqsetCODE(tcb);
    ASSERT_EQ(tcb->diag->count, static_cast<int>(r.states.size())) << r.what;
    for (size_t i = 0; i < r.states.size(); ++i)
      EXPECT_STREQ(tcb->diag->recs[i].sqlstate, r.states[i].c_str()) << r.what;
    EXPECT_STREQ(SQLSTATE, r.states[0].c_str()) << r.what;
    EXPECT_EQ(SQLCODE, 0) << r.what;
  }
}

TEST_F(Diagnostics, FrontEndWarningsAddTheirStates) {
  const struct {
    int number;
    const char *state;
  } rows[] = {{1, "01004"}, {3, "01I09"}, {4, "01I07"}, {5, "01I08"}, {2, nullptr}, {6, nullptr}};
  for (const auto &r : rows) {
    _sqclrca(tcb);
    _sqfeWARN(r.number);
    if (r.state == nullptr) {
      EXPECT_STREQ(SQLSTATE, "00000") << r.number;
      continue;
    }
    EXPECT_STREQ(SQLSTATE, r.state) << r.number;
    _sqsetCODE(tcb);
    ASSERT_EQ(tcb->diag->count, 1) << r.number;
    EXPECT_STREQ(tcb->diag->recs[0].sqlstate, r.state) << r.number;
  }
}

TEST_F(Diagnostics, ErrorAfterWarningsLeavesOnlyTheError) {
  _iqdbflag(tcb);
  _sqbeWARN(0x3, tcb);
  std::strcpy(sqlca.sqlerrm, "orders");
  _iqseterr(-206);
  ASSERT_EQ(tcb->diag->count, 1);
  EXPECT_EQ(tcb->diag->recs[0].code, -206);
  EXPECT_STREQ(tcb->diag->recs[0].param, "orders");
  EXPECT_STREQ(SQLSTATE, "42000");
}

TEST_F(Diagnostics, StatementItems) {
  _iqseterr(-206);
  _iqseterr(-217);
  sqlca.sqlerrd[2] = 7;
  int32_t count = 0, rows = 0;
  char more[2] = {'?', '?'};
  sqli_diag_item items[] = {{&count, sqli_diag_number, host_int, 4, {}},
                            {more, sqli_diag_more, host_string, 2, {}},
                            {&rows, sqli_diag_rowcount, host_int, 4, {}},
                            {nullptr, 0, 0, 0, {}}};
  EXPECT_EQ(sqli_diag_get(1, items, -1), -217);
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(more, "N");
  EXPECT_EQ(rows, 7);
}

TEST_F(Diagnostics, RecordItemsOfAnErrorWithItsParameter) {
  _sqsetconnsrvrnm("srv1", "con1", tcb);
  std::strcpy(sqlca.sqlerrm, "orders");
  _iqseterr(-206);
  _sqsetconnsrvrnm(nullptr, nullptr, tcb);
  record r;
  EXPECT_EQ(get_record(1, r), -206);
  EXPECT_STREQ(r.state, "42000");
  EXPECT_STREQ(r.class_origin, "IX");
  EXPECT_STREQ(r.subclass_origin, "IX000");
  EXPECT_STREQ(r.text, "The table (orders) is not in the database.");
  EXPECT_EQ(r.length, static_cast<int32_t>(std::strlen(r.text)));
  EXPECT_STREQ(r.server, "srv1");
  EXPECT_STREQ(r.connection, "con1");
  EXPECT_EQ(r.code, -206);
  /* Without a parameter the bare catalog text; a code missing from the
  ** map has IX000. */
  _sqclrca(tcb);
  _iqseterr(-908);
  EXPECT_EQ(get_record(1, r), -908);
  EXPECT_STREQ(r.text, "Attempt to connect to database server (%s) failed.");
  EXPECT_STREQ(r.state, "08001");
  _sqclrca(tcb);
  _iqseterr(-912);
  EXPECT_EQ(get_record(1, r), -912);
  EXPECT_STREQ(r.state, "IX000");
}

TEST_F(Diagnostics, WarningRecordsHaveTheirStandardTexts) {
  struct row {
    const char *state;
    const char *text; /* null: no standard text */
  };
  const row rows[] = {
      {"01I06", "The statement uses an extension to the ANSI standard."},
      {"01I07", "An UPDATE or DELETE statement has no WHERE clause."},
      {"01004", "String data, right truncation."},
      {"01007", "Privilege not granted."},
      {"01I10", nullptr},
  };
  for (const row &w : rows) {
    _sqclrca(tcb);
    CpyWarn(w.state, tcb);
    _sqsetCODE(tcb);
    record r;
    EXPECT_EQ(get_record(1, r), 0) << w.state;
    EXPECT_STREQ(r.state, w.state);
    EXPECT_EQ(r.code, 0);
    if (w.text != nullptr) {
      EXPECT_STREQ(r.text, w.text) << w.state;
      EXPECT_STREQ(r.class_origin, "ISO 9075") << w.state;
      EXPECT_STREQ(r.subclass_origin, "ISO 9075") << w.state;
    } else {
      EXPECT_STREQ(r.text, "") << w.state;
      EXPECT_STREQ(r.class_origin, "U0001") << w.state;
    }
  }
  EXPECT_EQ(srchWARN("01I06"), 36112);
  EXPECT_EQ(srchWARN("01I07"), 36111);
  EXPECT_EQ(srchWARN("01007"), 36117);
  EXPECT_EQ(srchWARN("42000"), 0);
}

TEST_F(Diagnostics, RoutineErrorTakesTheRoutinesStateAndText) {
  _iqseterr(SQLI_E_ROUTINE);
  EXPECT_STREQ(SQLSTATE, "*****");
  const char text[] = "balance too low\n";
  _sq_udr_sqlstate("U0042", static_cast<int>(std::strlen(text)), text);
  EXPECT_STREQ(SQLSTATE, "U0042");
  ASSERT_EQ(tcb->diag->count, 1);
  record r;
  EXPECT_EQ(get_record(1, r), SQLI_E_ROUTINE);
  EXPECT_STREQ(r.state, "U0042");
  EXPECT_STREQ(r.text, "balance too low");
  EXPECT_EQ(r.length, 15);
  EXPECT_STREQ(r.class_origin, "U0001");
  EXPECT_STREQ(r.subclass_origin, "U0001");
  EXPECT_EQ(r.code, SQLI_E_ROUTINE);

  /* A text longer than a record's is cut to it. */
  _sqclrca(tcb);
  _iqseterr(SQLI_E_ROUTINE);
  const std::string huge(9000, 'h');
  _sq_udr_sqlstate("U0043", static_cast<int>(huge.size()), huge.c_str());
  EXPECT_EQ(tcb->diag->recs[0].textlen, 8192);
  EXPECT_EQ(get_record(1, r), SQLI_E_ROUTINE);
  EXPECT_EQ(r.length, 8191);
}

TEST_F(Diagnostics, BadExceptionNumbersAndItemsRecordMinus489) {
  _iqseterr(-206);
  record r;
  for (int exception : {0, 2, -2, 100}) {
    EXPECT_EQ(get_record(exception, r), -1) << exception;
    EXPECT_EQ(SQLCODE, SQLI_E_DIAGITEM) << exception;
    EXPECT_EQ(sqlca.sqlcode, SQLI_E_DIAGITEM) << exception;
    EXPECT_STREQ(SQLSTATE, "IX001") << exception;
  }
  int32_t value = 0;
  sqli_diag_item items[] = {{&value, sqli_diag_message_text, host_int, 4, {}},
                            {nullptr, 0, 0, 0, {}}};
  EXPECT_EQ(sqli_diag_get(1, items, -1), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_DIAGITEM);
  /* Record items it does not know are passed over. */
  _sqclrca(tcb);
  _iqseterr(-206);
  sqli_diag_item unknown[] = {{&value, 99, host_int, 4, {}},
                              {&value, sqli_diag_dvz_sqlcode, host_long, 4, {}},
                              {nullptr, 0, 0, 0, {}}};
  EXPECT_EQ(sqli_diag_get(1, unknown, 1), -206);
  EXPECT_EQ(value, -206);
}

TEST_F(Diagnostics, CountExceedingTheMapsRecordsGivesMinus498) {
  sqli_test::put_message_file("citoxmsg.pam",
                              sqli_test::map_bytes({{0, 0, "00000"}, {-206, 0, "42000"}}, 9));
  freextbl();
  _iqseterr(-206);
  EXPECT_EQ(SQLCODE, -206);
  EXPECT_STREQ(SQLSTATE, "IX001");
  record r;
  EXPECT_EQ(get_record(1, r), -1);
  EXPECT_EQ(SQLCODE, SQLI_E_MAPMAGIC);
  EXPECT_STREQ(SQLSTATE, "IX001");
}

TEST_F(Diagnostics, GeterrmsgPutsTheParameterInPlaceOfTheFirstDirectiveOnly) {
  struct row {
    int code;
    std::string param;
    std::string expected;
  };
  const row rows[] = {
      {-908, "srv", "Attempt to connect to database server (srv) failed."},
      {-909, "P", "A P and  then  end."},
      {-911, "", "[]"},
      {-912, "x", "ends with x"},
      {-910, std::string(300, 'p'), std::string(100, 'a') + std::string(259, 'p')},
      {-911, std::string(500, 'p'), "[" + std::string(358, 'p')},
  };
  for (const row &r : rows) {
    char buf[400];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(geterrmsg(r.code, buf, r.param.c_str()), 0);
    EXPECT_EQ(std::string(buf), r.expected) << r.code;
    EXPECT_EQ(buf[360], '#') << "stays within 360 bytes";
  }
}

/* In a multibyte locale a character is copied whole or not at all: the
** locale is initialised once per process, so the case runs in a child. */
TEST_F(Diagnostics, GeterrmsgKeepsMultibyteCharactersWhole) {
  const std::string report = oslib_test::in_child([] {
    setenv("CLIENT_LOCALE", "en_US.utf8", 1);
    oslib_test::forget_locale_initialisation();
    sqli_test::reset_runtime();
    if (CheckGlobInit() == nullptr) return std::string("no context in the UTF-8 locale");
    std::string euros;
    for (int i = 0; i < 200; ++i)
      euros += "\xE2\x82\xAC";
    char buf[400];
    std::memset(buf, '#', sizeof buf);
    geterrmsg(-911, buf, euros.c_str());
    const std::string expected = "[" + euros.substr(0, 3 * 119);
    if (std::string(buf) != expected)
      return "got " + std::to_string(std::strlen(buf)) + " bytes, expected " +
             std::to_string(expected.size());
    return std::string();
  });
  EXPECT_EQ(report, "");
}

TEST_F(Diagnostics, MessageParameterBufferBelongsToTheContext) {
  EXPECT_EQ(dvz_get_msg_param(), tcb->msgtext);
  sqli_test::reset_runtime();
  EXPECT_EQ(dvz_get_msg_param(), nullptr);
}

}  // namespace
