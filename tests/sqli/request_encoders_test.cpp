/*
** The request encoders against the golden bytes of scripts/requests.txt
** (written from the request-code table): every message at a roomy send
** buffer and at one of 5 bytes (so that fields straddle buffers), the
** limits of the u16 text lengths, texts converted through the real
** UTF-8 to 8859-1 converter of the build's locale data, the prepare walk
** in the generated UTF-8 locale, and statement files of real files.
*/
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "gen_types.h"
#include "generated_locales.h"
#include "request_session.h"
#include "sqli_bind.h"
#include "sqli_errors.h"
#include "sqli_file.h"
#include "sqli_globals.h"
#include "sqli_request.h"
#include "temp_dir.h"

namespace {

using sqli_test::Bytes;
using sqli_test::hex;
using sqli_test::script;
using sqli_test::Session;

constexpr int err_text_too_long = -460;

class Requests : public sqli_test::RequestTest {};

/* Sends the rows buffered in a cursor of the given row size through
** _sqs_put, the buffer filled up to the end of rows. */
void put_rows(sqli_tcb *t, std::string rows, int16_t rowsize) {
  sqli_cursor cursor {};
  cursor.rowsize = rowsize;
  cursor.buffer = rows.data();
  cursor.bufpos = rows.data() + rows.size();
  _sqs_put(&cursor, t);
}

struct GoldenCase {
  const char *script;
  int32_t capabilities;
  std::function<void(sqli_tcb *)> write;
};

std::vector<GoldenCase> golden_cases() {
  static char a[] = "a", bc[] = "bc", x[] = "x", yy[] = "yy", bb[] = "bb", cccc[] = "cccc";
  static char *update_names[] = {a, bc, nullptr};
  static char *column_names[] = {x, yy, nullptr};
  static char *joined[] = {a, bb, cccc, nullptr};
  static char abc[] = "abc", sele[] = "sele", ct1[] = "ct 1";
  static char *odd[] = {abc, nullptr};
  static char *two[] = {sele, ct1, nullptr};
  static char *none[] = {nullptr};
  return {
      {"open", 0, _sqs_open},
      {"execute", 0, _sqs_exe},
      {"close", 0, _sqs_close},
      {"release", 0, _sqs_rel},
      {"select_into", 0, _sqs_slct},
      {"commit", 0, _sqs_commit},
      {"rollback", 0, _sqs_roll},
      {"describe", 0, _sqs_ndesc},
      {"scroll", 0, _sqs_scroll},
      {"dblist", 0, _sqs_dlist},
      {"begin_work", 0, _sqs_beginwork},
      {"begin_work_noreply", 0, _sqs_beginwork_norep},
      {"dbclose", 0, _sqs_dclose},
      {"hold", 0, _sqs_hold},
      {"want_done", 0, _sqs_wantdone},
      {"execute_proc", 0, _sqs_exproc},
      {"reopt_open", 0, _sqs_reoptopen},
      {"autofree", 0, _sqs_autofree},
      {"describe_id", 0, _sqs_ndesc_id},
      {"end_of_request", 0, _sqflip},
      {"id", 0, [](sqli_tcb *t) { _sqs_id(7, t); }},
      {"fetch_plain", 0, [](sqli_tcb *t) { _sqs_fetch(4096, t); }},
      {"fetch_plain", 0x10 | 0x1000, [](sqli_tcb *t) { _sqs_fetch(4096, t); }},
      {"fetch_array", 0x80, [](sqli_tcb *t) { _sqs_fetch(4096, t); }},
      {"fetch_array", 0x100, [](sqli_tcb *t) { _sqs_fetch(4096, t); }},
      {"scroll_fetch", 0, [](sqli_tcb *t) { _sqs_sfetch(6, -3, 1024, t); }},
      {"release_collection", 0, [](sqli_tcb *t) { _sqs_relcoll(0x01020304, t); }},
      {"database_open", 0, [](sqli_tcb *t) { EXPECT_EQ(_sqs_dopen("stores", 1, t), 0); }},
      {"cursor_name", 0,
       [](sqli_tcb *t) {
         sqli_cursor cursor {};
         char name[] = "c1";
         cursor.name = name;
         _sqs_name(&cursor, t);
       }},
      {"update_list", 0, [](sqli_tcb *t) { _sqs_ulist(2, update_names, t); }},
      {"column_names", 0, [](sqli_tcb *t) { _sqputcol(column_names, t); }},
      {"joined_text", 0, [](sqli_tcb *t) { _sqputtext(joined, t); }},
      {"joined_text_none", 0, [](sqli_tcb *t) { _sqputtext(nullptr, t); }},
      {"update_execute", 0,
       [](sqli_tcb *t) {
         int32_t nine = 9;
         sqlvar_struct entry {};
         entry.sqltype = host_type_int;
         entry.sqldata = reinterpret_cast<char *>(&nine);
         EXPECT_EQ(_sqs_uexe(3, 1, &entry, t), 0);
       }},
      {"update_execute_empty", 0, [](sqli_tcb *t) { EXPECT_EQ(_sqs_uexe(3, 0, nullptr, t), 0); }},
      {"command_odd", 0, [](sqli_tcb *t) { EXPECT_EQ(_sqs_cmd(odd, 2, t), 0); }},
      {"command_even_pieces", 0, [](sqli_tcb *t) { EXPECT_EQ(_sqs_cmd(two, 0, t), 0); }},
      {"command_empty", 0, [](sqli_tcb *t) { EXPECT_EQ(_sqs_cmd(none, 0, t), 0); }},
      {"prepare_empty", 0, [](sqli_tcb *t) { EXPECT_EQ(_sqs_pre("", t), 0); }},
      {"prepare_markers", 0,
       [](sqli_tcb *t) { EXPECT_EQ(_sqs_pre("select ? from t where a = ?   ", t), 0); }},
      {"put_rows", 0, [](sqli_tcb *t) { put_rows(t, "abcdefgh", 4); }},
      {"put_rows_len4", 0x10,
       /* a partial third row is not sent */
       [](sqli_tcb *t) { put_rows(t, "abcdefg", 3); }},
      {"put_no_rowsize", 0,
       [](sqli_tcb *t) {
         sqli_cursor cursor {};
         cursor.nbuffered = 5;
         _sqs_put(&cursor, t);
       }},
      {"put_varying", 0,
       [](sqli_tcb *t) {
         char rows[] = "abcde";
         int32_t table[] = {1, 5, 4, 3, 2, 0, 0};
         sqli_cursor cursor {};
         cursor.nvarlen_cols = 1;
         cursor.rowlen_table = table;
         cursor.buffer = rows;
         cursor.bufpos = rows + 5;
         _sqs_put(&cursor, t);
       }},
  };
}

/* Every message is its golden bytes, whatever the size of the send
** buffer. */
TEST_F(Requests, MessagesAreTheirGoldenBytes) {
  const int16_t saved_array = FetArrSize;
  FetArrSize = 25;
  for (const GoldenCase &c : golden_cases()) {
    for (int send_size : {4096, 5}) {
      _sqclrca(tcb_);
      Session session(tcb_, send_size, c.capabilities);
      c.write(tcb_);
      EXPECT_EQ(hex(session.sent()), hex(script(c.script)))
          << c.script << " capabilities " << c.capabilities << " send size " << send_size;
      EXPECT_EQ(SQLCODE, 0) << c.script;
      tcb_->request_active = 0;
    }
  }
  FetArrSize = saved_array;
}

TEST_F(Requests, EndOfRequestSendsAndMarksTheRequest) {
  Session session(tcb_);
  _sqs_commit(tcb_);
  _sqflip(tcb_);
  EXPECT_EQ(tcb_->request_active, 1);
  EXPECT_EQ(hex(session.sent()), hex(sqli_test::join(script("commit"), script("end_of_request"))));
}

/* Under a DBAPICODE map the texts go through the host-to-database map,
** with their lengths unchanged. */
TEST_F(Requests, DbapicodeMapsTheTexts) {
  unsigned char to_host[256], to_db[256];
  for (int b = 0; b < 256; ++b) {
    to_host[b] = static_cast<unsigned char>(b + 1);
    to_db[b] = static_cast<unsigned char>(b - 1);
  }
  sqli_test::put_message_file("shift.map", sqli_test::dbapi_bytes(to_host, to_db));
  setenv("DBAPICODE", "shift.map", 1);
  _sqdbapi = 1;
  {
    Session session(tcb_, 5);
    char text[] = "TFMFDU";
    char *pieces[] = {text, nullptr};
    EXPECT_EQ(_sqs_cmd(pieces, 0, tcb_), 0);
    EXPECT_EQ(_sqs_pre("TFMFDU ", tcb_), 0);
    sqli_cursor cursor {};
    char name[] = "d2";
    cursor.name = name;
    _sqs_name(&cursor, tcb_);
    EXPECT_EQ(
        hex(session.sent()),
        hex(sqli_test::parse_script(
            "i16(1) i16(0) u16(6) \"SELECT\" i16(2) i16(0) lbuf(\"SELECT\") i16(3) lbuf(\"c1\")")));
  }
  _sqdbapi = 0;
  unsetenv("DBAPICODE");
  sqli_test::remove_message_file("shift.map");
}

/* An update list refused by its checks leaves no message 33 behind. */
TEST_F(Requests, RefusedUpdateListWritesNothing) {
  Session session(tcb_);
  double nan = std::numeric_limits<double>::quiet_NaN();
  sqlvar_struct entry {};
  entry.sqltype = host_type_double;
  entry.sqldata = reinterpret_cast<char *>(&nan);
  EXPECT_EQ(_sqs_uexe(3, 1, &entry, tcb_), -1223);
  EXPECT_TRUE(session.untouched());
}

/* A u16 length carries 65535; one byte more, as one piece or as a total,
** is -460 with nothing written. */
TEST_F(Requests, StatementTextLimits) {
  std::string max(65535, 'x');
  std::string half(32768, 'y');
  char *one_max[] = {max.data(), nullptr};
  {
    Session session(tcb_, 1000);
    EXPECT_EQ(_sqs_cmd(one_max, 0, tcb_), 0);
    const Bytes sent = session.sent();
    ASSERT_EQ(sent.size(), 6u + 65535u + 1u) << "code, count, length, text and a pad";
    EXPECT_EQ(sqli_test::ld_u16(sent, 4), 65535);
    EXPECT_EQ(sent.back(), 0);
  }
  std::string over(65536, 'z');
  char *one_over[] = {over.data(), nullptr};
  char *two_halves[] = {half.data(), half.data(), nullptr};
  for (char **pieces : {one_over, two_halves}) {
    _sqclrca(tcb_);
    Session session(tcb_);
    EXPECT_EQ(_sqs_cmd(pieces, 0, tcb_), err_text_too_long);
    EXPECT_TRUE(session.untouched());
  }
  for (size_t len : {65535u, 65536u}) {
    _sqclrca(tcb_);
    Session session(tcb_);
    const std::string text(len, 'p');
    const int result = _sqs_pre(text.c_str(), tcb_);
    if (len == 65535u) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(session.sent().size(), 4u + 2u + 65535u + 1u);
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(SQLCODE, err_text_too_long);
      EXPECT_TRUE(session.untouched());
    }
  }
}

/* Client text goes through the client-to-database converter: the length
** sent is the converted one; a piece that cannot be converted leaves the
** buffer untouched and its GLS error recorded. */
TEST_F(Requests, ConvertedTextAndConversionFailures) {
  oslib_test::Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_client_db, cv.get()};
  {
    Session session(tcb_);
    char e_acute[] = "\xC3\xA9";
    char *pieces[] = {e_acute, e_acute, e_acute, nullptr};
    EXPECT_EQ(_sqs_cmd(pieces, 0, tcb_), 0);
    EXPECT_EQ(hex(session.sent()), hex(sqli_test::parse_script("i16(1) i16(0) u16(3) e9e9e9 00")));
  }
  char select[] = "select ";
  char euro[] = "\xE2\x82\xAC";
  char *pieces[] = {select, euro, nullptr};
  struct Case {
    const char *what;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"statement text", [&] { _sqs_cmd(pieces, 0, tcb_); }},
      {"prepare", [&] { EXPECT_EQ(_sqs_pre("select \xE2\x82\xAC", tcb_), -1); }},
      {"database open", [&] { _sqs_dopen("db\xE2\x82\xAC", 0, tcb_); }},
  };
  for (const Case &c : cases) {
    _sqclrca(tcb_);
    Session session(tcb_);
    c.call();
    EXPECT_LT(SQLCODE, 0) << c.what;
    EXPECT_NE(SQLCODE, err_text_too_long) << c.what;
    EXPECT_TRUE(session.untouched()) << c.what;
  }
}

/* The prepare text is walked by characters of the current locale: a "?"
** in a character counts once, a lead byte without its trail is invalid. */
TEST_F(Requests, PrepareWalksWholeCharacters) {
  oslib_test::CurrentLocale utf8(oslib_test::utf8_locale());
  {
    Session session(tcb_);
    EXPECT_EQ(_sqs_pre("\xC3\xA9 = ?", tcb_), 0);
    EXPECT_EQ(hex(session.sent()), hex(script("prepare_two_byte")));
  }
  for (const char *text : {"select \xC3? from t", static_cast<const char *>(nullptr)}) {
    _sqclrca(tcb_);
    Session session(tcb_);
    EXPECT_EQ(_sqs_pre(text, tcb_), -1);
    EXPECT_EQ(SQLCODE, -202);
    EXPECT_TRUE(session.untouched());
  }
}

/* Statement files: the name's limit, the size's limit, the pad, and every
** failure after the open ends in code 40 alone. */
class StatementFile : public Requests {
 protected:
  dvz_test::TempDir dir_;
  /* A path of exactly len bytes in the temporary directory. */
  std::string path_of_length(size_t len, const std::string &content) {
    const std::string prefix = dir_.path() + "/";
    EXPECT_LT(prefix.size() + 1, len);
    const std::string path = prefix + std::string(len - prefix.size(), 'n');
    dvz_test::write_file(path, content);
    return path;
  }
};

TEST_F(StatementFile, NameAndSizeLimits) {
  struct Case {
    size_t name_length;
    size_t size;
    int result;
  };
  const Case cases[] = {
      {260, 3, 0}, {261, 3, SQLI_E_NOFILE}, {40, 65535, 0}, {40, 65536, SQLI_E_NOFILE}};
  for (const Case &c : cases) {
    _sqclrca(tcb_);
    Session session(tcb_, 4096);
    const std::string content(c.size, 'q');
    const std::string path = path_of_length(c.name_length, content);
    EXPECT_EQ(_sqs_procfile(path.c_str(), tcb_), c.result) << c.name_length << " " << c.size;
    if (c.result != 0) {
      EXPECT_EQ(SQLCODE, c.result);
      EXPECT_TRUE(session.untouched());
      continue;
    }
    const Bytes sent = session.sent();
    ASSERT_EQ(sent.size(), 6 + c.size + c.size % 2);
    EXPECT_EQ(sqli_test::ld_u16(sent, 4), c.size);
    unlink(path.c_str());
  }
}

TEST_F(StatementFile, TextsPaddedAndBlanksCut) {
  const std::string odd = dir_.write("odd.sql", "abc");
  const std::string empty = dir_.write("empty.sql", "");
  struct Case {
    std::string name;
    const char *script;
  };
  const Case cases[] = {{odd, "statement_file_odd"},
                        {odd + "   ", "statement_file_odd"},
                        {empty, "statement_file_empty"}};
  for (const Case &c : cases) {
    Session session(tcb_, 5);
    EXPECT_EQ(_sqs_procfile(c.name.c_str(), tcb_), 0) << c.name;
    EXPECT_EQ(hex(session.sent()), hex(script(c.script))) << c.name;
  }
}

/* A missing file is -461 with nothing written; a file that opens but
** cannot be read (a directory) is code 40 alone and -463; a text that
** cannot be converted is code 40 alone and -463 too. */
TEST_F(StatementFile, FailuresWriteNoStatement) {
  {
    Session session(tcb_);
    EXPECT_EQ(_sqs_procfile(dir_.file("absent.sql").c_str(), tcb_), SQLI_E_NOFILE);
    EXPECT_TRUE(session.untouched());
  }
  const std::string unreadable = dir_.file("a_directory");
  ASSERT_EQ(mkdir(unreadable.c_str(), 0700), 0);
  {
    _sqclrca(tcb_);
    Session session(tcb_);
    EXPECT_EQ(_sqs_procfile(unreadable.c_str(), tcb_), -463);
    EXPECT_EQ(SQLCODE, -463);
    EXPECT_EQ(hex(session.sent()), hex(script("blob_abort")));
  }
  oslib_test::Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_client_db, cv.get()};
  const std::string euro = dir_.write("euro.sql", "select '\xE2\x82\xAC'");
  {
    _sqclrca(tcb_);
    Session session(tcb_);
    EXPECT_EQ(_sqs_procfile(euro.c_str(), tcb_), -463);
    EXPECT_EQ(hex(session.sent()), hex(script("blob_abort")));
  }
  const std::string latin = dir_.write("latin.sql", "\xC3\xA9t\xC3\xA9");
  {
    _sqclrca(tcb_);
    Session session(tcb_);
    EXPECT_EQ(_sqs_procfile(latin.c_str(), tcb_), 0);
    EXPECT_EQ(hex(session.sent()),
              hex(sqli_test::parse_script("i16(1) i16(0) u16(3) e9 74 e9 00")));
  }
}

/* The file helpers: names, creation mode, and every failure recorded. */
TEST_F(StatementFile, FileHelpers) {
  for (const std::string &name : {std::string("   "), std::string(261, 'n')}) {
    _sqclrca(tcb_);
    EXPECT_EQ(_sqfilopen(name.c_str(), 1), -1);
    EXPECT_EQ(SQLCODE, -466);
  }
  _sqclrca(tcb_);
  EXPECT_LT(_sqfilopen(dir_.file("absent").c_str(), 1), 0);
  EXPECT_EQ(SQLCODE, SQLI_E_NOFILE);

  _sqclrca(tcb_);
  const std::string made = dir_.file("made.dat");
  const int out = _sqfilopen((made + "  ").c_str(), 0);
  ASSERT_GE(out, 0);
  struct stat st {};
  ASSERT_EQ(stat(made.c_str(), &st), 0) << "trailing blanks cut";
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string payload(70000, 'w');
  EXPECT_EQ(_sqfilwrite(out, payload.data(), static_cast<int>(payload.size())), 0);
  char byte = 0;
  int got = -1;
  EXPECT_EQ(_sqfilread(out, &byte, 1, &got), -1) << "written only";
  EXPECT_EQ(SQLCODE, -463);
  EXPECT_EQ(_sqfilclose(out), 0);
  EXPECT_EQ(dvz_test::read_file(made), payload);

  _sqclrca(tcb_);
  const int in = _sqfilopen(made.c_str(), 1);
  ASSERT_GE(in, 0);
  EXPECT_EQ(_sqfilwrite(in, "x", 1), -1) << "read only";
  EXPECT_EQ(SQLCODE, -464);
  EXPECT_EQ(_sqfilclose(in), 0);
  _sqclrca(tcb_);
  EXPECT_EQ(_sqfilclose(-1), -1) << "no such descriptor";
  EXPECT_EQ(SQLCODE, -462);
}

}  // namespace
