/*
** Fast-path routine calls against the SQLI server double over loopback
** TCP: the bytes of messages 101, 102, 5 and 104 read back from the
** double's journal, the routine handle and the function-parameter block
** of replies 101 and 104 (short and long entries), the return values of
** reply 103 in every value form, NULLs, DECIMAL texts against Python's
** decimal, and the failures: no connection, a signature too long, an
** output without data, a value count that differs from the output list
** (the connection stays usable after each).
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "double_server.h"
#include "gen_hostvar.h"
#include "gen_types.h"
#include "runtime_session.h"
#include "sqli_context.h"
#include "sqli_fastpath.h"
#include "sqli_seams.h"
#include "sqli_status.h"
#include "value_types.h"
#include "wire_codec.h"

namespace {

using sqli_test::DoubleServer;

constexpr const char *sig_add = "function add(integer, integer)";
constexpr int32_t add_handle = 77;

/* A routine entry of the scenario's "routines". */
std::string routine(const std::string &sig, int handle, const std::string &results,
                    const std::string &extra = "") {
  return "\"" + sig + "\": {\"handle\": " + std::to_string(handle) + ", \"results\": [" + results +
         "]" + extra + "}";
}

/* The long block the double describes add with. */
const std::string add_fparam =
    R"(, "fparam": {"first": 5, "second": 6, "flag": 3, "third": 7, "fourth": 8, "fifth": 9,
        "first_list": [{"byte": 1, "w16": 11, "w32": 111, "x32": 1111, "x16a": 12, "x16b": 13},
                       {"byte": 2, "w16": 21, "w32": 221, "x32": 2221, "x16a": 22, "x16b": 23}],
        "second_list": [{"byte": 9, "w16": -1, "w32": -2, "x32": -3, "x16a": -4, "x16b": -5}]})";

std::string scenario(const std::string &routines) { return "{\"routines\": {" + routines + "}}"; }

sqlvar_struct host(int type, void *data, int32_t len, int16_t *ind = nullptr) {
  sqlvar_struct v {};
  v.sqltype = static_cast<int16_t>(type);
  v.sqldata = static_cast<char *>(data);
  v.sqllen = len;
  v.sqlind = ind;
  return v;
}

/* Frees what the runtime allocated into a filled block. */
void free_lists(sqli_fparam &b) {
  std::free(b.first_entries);
  std::free(b.first_bytes);
  std::free(b.second_entries);
  std::free(b.second_bytes);
  b = sqli_fparam {};
}

class FastPath : public sqli_test::RuntimeSessionTest {
 protected:
  /* Ends every connection, before the double of a loop's turn goes. */
  void disconnect_all() { sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0); }
};

TEST_F(FastPath, WithoutConnectionEveryCallGives1803) {
  int32_t handle = -5;
  EXPECT_EQ(_sqgetroutine(sig_add, nullptr, &handle, nullptr), -1803);
  EXPECT_EQ(handle, -5);
  EXPECT_EQ(_sqfastpath(1, nullptr, nullptr, nullptr, tcb), -1803);
}

TEST_F(FastPath, GetRoutineSendsTheSignatureAndFillsTheBlockInTheConnectionsForm) {
  struct Case {
    const char *profile;
    bool long_entries; /* capability 0x8 */
  } cases[] = {{"minimal", false}, {"modern", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.profile);
    DoubleServer d({"--profile", c.profile},
                   scenario(routine(sig_add, add_handle, "", add_fparam)));
    connect(d);
    ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;

    sqli_fparam block {};
    int32_t handle = 0;
    ASSERT_EQ(_sqgetroutine(sig_add, &block, &handle, nullptr), 0) << sqlca.sqlerrm;
    EXPECT_EQ(handle, add_handle);
    EXPECT_EQ(block.marker, SQLI_FPARAM_MARKER);
    EXPECT_EQ(block.first, 5);
    EXPECT_EQ(block.second, 6);
    EXPECT_EQ(block.flag, 3);
    EXPECT_EQ(block.third, 7);
    EXPECT_EQ(block.fourth, 8);
    EXPECT_EQ(block.fifth, 9);
    ASSERT_EQ(block.first_count, 2);
    ASSERT_EQ(block.second_count, 1);
    EXPECT_EQ(block.first_bytes[1], 2);
    EXPECT_EQ(block.first_entries[1].word16, 21);
    EXPECT_EQ(block.first_entries[1].word32, 221);
    EXPECT_EQ(block.second_bytes[0], 9);
    EXPECT_EQ(block.second_entries[0].word32, -2);
    EXPECT_EQ(block.first_entries[0].ext32, c.long_entries ? 1111 : 0);
    EXPECT_EQ(block.first_entries[0].ext16b, c.long_entries ? 13 : 0);
    EXPECT_EQ(block.second_entries[0].ext16a, c.long_entries ? -4 : 0);
    free_lists(block);

    /* Without a block: asked for none, and the handle still comes. */
    handle = 0;
    ASSERT_EQ(_sqgetroutine(sig_add, nullptr, &handle, nullptr), 0) << sqlca.sqlerrm;
    EXPECT_EQ(handle, add_handle);

    const auto sent = d.messages(101);
    ASSERT_EQ(sent.size(), 2u);
    const std::string text_hex = sqli_test::hex(sqli_test::Wire().lbuf(sig_add).bytes());
    EXPECT_EQ(sent[0].get("raw"), "0065" + text_hex + "0001");
    EXPECT_EQ(sent[1].get("raw"), "0065" + text_hex + "0000");
    disconnect_all();
  }
}

TEST_F(FastPath, SignatureOf65535BytesIsSentAndOneMoreGives460WithNothingWritten) {
  DoubleServer d({"--profile", "minimal"}, scenario(routine(sig_add, add_handle, "")));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  const std::string longest(65535, 's');
  int32_t handle = 0;
  /* The double knows no such routine: its refusal comes back. */
  EXPECT_EQ(_sqgetroutine(longest.c_str(), nullptr, &handle, nullptr), -674);
  const auto sent = d.messages(101);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].get("text").size(), 65535u);

  const std::string too_long(65536, 's');
  EXPECT_EQ(_sqgetroutine(too_long.c_str(), nullptr, &handle, nullptr), -460);
  EXPECT_EQ(tcb->request_active, 0);
  /* Nothing of it went out: the next request is answered in step. */
  ASSERT_EQ(_sqgetroutine(sig_add, nullptr, &handle, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(handle, add_handle);
  EXPECT_EQ(d.messages(101).size(), 2u);
}

TEST_F(FastPath, CallSendsHeaderBindListAndBlockAndTheShortReplyRefreshesTheBlock) {
  DoubleServer d({"--profile", "modern"},
                 scenario(routine(sig_add, add_handle, R"({"type": 2, "value": 7})", add_fparam)));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  sqli_fparam block {};
  int32_t handle = 0;
  ASSERT_EQ(_sqgetroutine(sig_add, &block, &handle, nullptr), 0) << sqlca.sqlerrm;
  block.second = 60; /* what the call sends back is the block's own */

  int32_t a = 3, b = 4, sum = 0;
  sqlvar_struct in[] = {host(host_type_int, &a, 4), host(host_type_int, &b, 4)};
  sqlvar_struct out[] = {host(host_type_int, &sum, 4)};
  const sqli_fplist inputs {2, in};
  const sqli_fplist outputs {1, out};
  ASSERT_EQ(_sqfastpath(handle, &inputs, &outputs, &block, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sum, 7);
  /* Refreshed from the short 104: the lists are gone, the words are the reply's. */
  EXPECT_EQ(block.marker, SQLI_FPARAM_MARKER);
  EXPECT_EQ(block.first, 5);
  EXPECT_EQ(block.second, 6);
  EXPECT_EQ(block.flag, 3);
  EXPECT_EQ(block.first_count, 0);
  EXPECT_EQ(block.first_entries, nullptr);
  EXPECT_EQ(block.third, 0);

  const auto call = d.messages(102);
  ASSERT_EQ(call.size(), 1u);
  EXPECT_EQ(call[0].get("raw"),
            "0066"
            "0000004d"
            "0002"
            "0001");
  const auto binds = d.messages(5);
  ASSERT_EQ(binds.size(), 1u);
  EXPECT_EQ(binds[0].get("v1.value"), "3");
  EXPECT_EQ(binds[0].get("v2.value"), "4");
  const auto params = d.messages(104);
  ASSERT_EQ(params.size(), 1u);
  /* INT8 5, i32 60, flag byte 3 and no pad. */
  EXPECT_EQ(params[0].get("raw"),
            "0068"
            "0001"
            "00000005"
            "00000000"
            "0000003c"
            "03");
  /* The order on the wire: 102, 5, 104, end. */
  const std::string all = d.sqli_hex();
  EXPECT_NE(all.find(call[0].get("raw") + binds[0].get("raw") + params[0].get("raw") + "000c"),
            std::string::npos)
      << all;
  free_lists(block);

  /* Without a block: no 104 either way, and the flag word says so. */
  sum = 0;
  ASSERT_EQ(_sqfastpath(handle, &inputs, &outputs, nullptr, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(sum, 7);
  EXPECT_EQ(d.messages(104).size(), 1u);
  EXPECT_EQ(d.messages(102).back().get("raw"),
            "0066"
            "0000004d"
            "0002"
            "0000");
}

TEST_F(FastPath, ReturnValuesOfEveryFormReachTheirHosts) {
  const std::string values = R"(
      {"type": 0, "value": "abc"}, {"type": 0, "value": ""}, {"type": 13, "value": "vc"},
      {"type": 43, "value": "long text"}, {"type": 1, "value": -12},
      {"type": 2, "value": null}, {"type": 3, "value": 2.5}, {"type": 4, "value": 0.25},
      {"type": 17, "value": -5000000000}, {"type": 5, "prec": 2562, "value": "-12.34"},
      {"type": 41, "text": "xyz"}, {"type": 11, "ind": 0}, {"type": 0, "value": null})";
  for (const char *profile : {"minimal", "modern"}) {
    SCOPED_TRACE(profile);
    DoubleServer d({"--profile", profile}, scenario(routine("r()", 9, values)));
    connect(d);
    ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
    char text[10];
    char empty[4] = "zz";
    char vc[8];
    char lv[20];
    int16_t small = 0;
    int32_t integer = 1;
    double dbl = 0;
    float flt = 0;
    dvz_int8_t big {};
    dec_t dec {};
    char fixed[3] = {};
    char untouched[4] = "u";
    int16_t inds[13];
    for (int16_t &i : inds)
      i = 99;
    sqlvar_struct out[] = {
        host(host_type_string, text, sizeof text, &inds[0]),
        host(host_type_char, empty, sizeof empty, &inds[1]),
        host(host_type_string, vc, sizeof vc, &inds[2]),
        host(host_type_string, lv, sizeof lv, &inds[3]),
        host(host_type_short, &small, 2, &inds[4]),
        host(host_type_int, &integer, 4, &inds[5]),
        host(host_type_double, &dbl, 8, &inds[6]),
        host(host_type_float, &flt, 4, &inds[7]),
        host(host_type_int8, &big, sizeof big, &inds[8]),
        host(host_type_decimal, &dec, 0, &inds[9]),
        host(host_type_fixed_binary, fixed, sizeof fixed, &inds[10]),
        host(host_type_char, untouched, sizeof untouched, &inds[11]),
        host(host_type_char, nullptr, 0, &inds[12]),
    };
    const sqli_fplist outputs {13, out};
    ASSERT_EQ(_sqfastpath(9, nullptr, &outputs, nullptr, nullptr), 0) << sqlca.sqlerrm;
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(empty[0], '\0');
    EXPECT_STREQ(vc, "vc");
    EXPECT_STREQ(lv, "long text");
    EXPECT_EQ(small, -12);
    EXPECT_EQ(integer, INT32_MIN) << "the INTEGER NULL form";
    EXPECT_EQ(inds[5], -1);
    EXPECT_EQ(dbl, 2.5);
    EXPECT_EQ(flt, 0.25f);
    EXPECT_EQ(big.sign, -1);
    EXPECT_EQ(big.low, 5000000000u % 4294967296u);
    EXPECT_EQ(big.high, 1u);
    EXPECT_EQ(out[9].sqllen, 2562) << "a length of 0 takes the precision word";
    EXPECT_EQ(dec.sign, 0) << "negative";
    EXPECT_EQ(dec.exponent, 1);
    ASSERT_EQ(dec.npairs, 2);
    EXPECT_EQ(dec.pairs[0], 12);
    EXPECT_EQ(dec.pairs[1], 34);
    EXPECT_EQ(std::memcmp(fixed, "xyz", 3), 0);
    EXPECT_STREQ(untouched, "u") << "a type without a value form leaves its host";
    /* A NULL into a variable without data: a one-byte buffer of the runtime. */
    ASSERT_NE(out[12].sqldata, nullptr);
    EXPECT_NE(out[12].sqlflags & sqlvar_own_data, 0);
    EXPECT_EQ(inds[12], -1);
    std::free(out[12].sqldata);
    for (int i : {0, 1, 2, 3, 4, 6, 7, 8, 9, 10})
      EXPECT_EQ(inds[i], 0) << i;
    disconnect_all();
  }
}

TEST_F(FastPath, OutputWithoutDataGetsABufferOrGives402AndTheReplyStaysInStep) {
  DoubleServer d(
      {"--profile", "minimal"},
      scenario(routine("r()", 1, R"({"type": 0, "value": "hello"})") + ", " +
               routine("two()", 2, R"({"type": 2, "value": 1}, {"type": 2, "value": 2})")));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  sqlvar_struct grown = host(host_type_char, nullptr, 0);
  sqli_fplist one {1, &grown};
  ASSERT_EQ(_sqfastpath(1, nullptr, &one, nullptr, nullptr), 0) << sqlca.sqlerrm;
  ASSERT_NE(grown.sqldata, nullptr);
  EXPECT_STREQ(grown.sqldata, "hello");
  std::free(grown.sqldata);

  /* An INTEGER without data: -402, and the second value is read past it. */
  int32_t second = 0;
  sqlvar_struct outs[] = {host(host_type_int, nullptr, 4), host(host_type_int, &second, 4)};
  sqli_fplist two {2, outs};
  EXPECT_EQ(_sqfastpath(2, nullptr, &two, nullptr, nullptr), -402);
  EXPECT_EQ(second, 0);
  EXPECT_NE(tcb->curconn, nullptr);
  outs[0] = host(host_type_int, &second, 4);
  int32_t third = 0;
  outs[1] = host(host_type_int, &third, 4);
  ASSERT_EQ(_sqfastpath(2, nullptr, &two, nullptr, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(second, 1);
  EXPECT_EQ(third, 2);
}

TEST_F(FastPath, ValueCountThatDiffersFromTheOutputsGives254AndTheConnectionGoesOn) {
  DoubleServer d(
      {"--profile", "modern"},
      scenario(routine("two()", 2, R"({"type": 2, "value": 1}, {"type": 0, "value": "x"})") + ", " +
               routine("one()", 1, R"({"type": 2, "value": 42})")));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  int32_t v = -1;
  sqlvar_struct out = host(host_type_int, &v, 4);
  sqli_fplist one {1, &out};
  EXPECT_EQ(_sqfastpath(2, nullptr, &one, nullptr, nullptr), -254);
  EXPECT_EQ(v, -1) << "nothing delivered";
  EXPECT_NE(tcb->curconn, nullptr);
  EXPECT_EQ(_sqfastpath(2, nullptr, nullptr, nullptr, nullptr), -254);
  ASSERT_EQ(_sqfastpath(1, nullptr, &one, nullptr, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(v, 42);
}

TEST_F(FastPath, NegativeCountsAndLengthsAreProtocolErrorsThatDropTheConnection) {
  struct Case {
    const char *what;
    std::string extra; /* of the routine's entry */
    std::string results;
    bool lookup; /* with a block; else a call into one INTEGER */
  } cases[] = {
      {"value count", R"(, "result_count": -1)", R"({"type": 2, "value": 1})", false},
      {"text length", "", R"({"type": 40, "text": "ab", "length": -2})", false},
      {"list count", R"(, "fparam": {"first_count": -1})", "", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DoubleServer d({"--profile", "minimal"}, scenario(routine("r()", 1, c.results, c.extra)));
    connect(d);
    ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
    if (c.lookup) {
      sqli_fparam block {};
      int32_t handle = 0;
      EXPECT_EQ(_sqgetroutine("r()", &block, &handle, nullptr), -408);
      EXPECT_EQ(block.marker, 0);
      EXPECT_EQ(handle, 0);
    } else {
      int32_t v = 0;
      sqlvar_struct out = host(host_type_int, &v, 4);
      sqli_fplist one {1, &out};
      EXPECT_EQ(_sqfastpath(1, nullptr, &one, nullptr, nullptr), -408);
    }
    EXPECT_EQ(tcb->curconn, nullptr) << "the stream is out of step: the connection is dropped";
    disconnect_all();
  }
}

TEST_F(FastPath, ADescriptionSentToACallIsDroppedWithTheCallsRecord) {
  /* Not part of a fast-path exchange, but read in step: what it leaves on
  ** the call's record goes with the record (LeakSanitizer checks). */
  DoubleServer d({"--profile", "minimal"},
                 R"({"rules": [{"code": 102, "reply": [
                      {"kind": "describe", "columns": [{"name": "a", "type": 2, "length": 4}]},
                      {"kind": "fpresult", "values": [{"type": 2, "value": 5}]},
                      {"kind": "end"}]}]})");
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  int32_t v = 0;
  sqlvar_struct out = host(host_type_int, &v, 4);
  sqli_fplist one {1, &out};
  ASSERT_EQ(_sqfastpath(1, nullptr, &one, nullptr, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(v, 5);
}

/* The build's generated 8859-1 and UTF-8 converters: the signature goes
** in the database's code set, text values come back in the client's. */
TEST_F(FastPath, SignatureAndTextValuesCrossTheCodeSetConversion) {
  const std::string client_sig = "f(\xC3\xA9)";
  DoubleServer d({"--profile", "minimal"},
                 scenario(routine("f(\\u00e9)", 3, R"({"type": 0, "text": "\u00e9t\u00e9"})")));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  oslib_test::Utf8ToLatin1 to_db;
  oslib_test::Latin1ToUtf8 to_client;
  ASSERT_NE(to_db.get(), nullptr);
  ASSERT_NE(to_client.get(), nullptr);
  oslib_test::EnvironmentConverter out_env {&new_gls_env::cv_client_db, to_db.get()};
  oslib_test::EnvironmentConverter in_env {&new_gls_env::cv_db_client, to_client.get()};
  int32_t handle = 0;
  ASSERT_EQ(_sqgetroutine(client_sig.c_str(), nullptr, &handle, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(handle, 3);
  EXPECT_EQ(d.messages(101).at(0).get("raw"),
            "0065"
            "0004"
            "6628e929"
            "0000");
  char text[12] = {};
  sqlvar_struct out = host(host_type_string, text, sizeof text);
  sqli_fplist one {1, &out};
  ASSERT_EQ(_sqfastpath(3, nullptr, &one, nullptr, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_STREQ(text, "\xC3\xA9t\xC3\xA9");
}

/* The text Python's decimal gives the value at the scale. */
std::string python_decimal_text(const std::string &value, int scale) {
  const std::string command = "python3 -c \"import decimal; print(format(decimal.Decimal('" +
                              value + "').quantize(decimal.Decimal(1).scaleb(-" +
                              std::to_string(scale) + ")), 'f'))\"";
  FILE *f = popen(command.c_str(), "r");
  if (f == nullptr) return "";
  char line[128] = {};
  const bool got = std::fgets(line, sizeof line, f) != nullptr;
  pclose(f);
  if (!got) return "";
  std::string out(line);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
    out.pop_back();
  return out;
}

TEST_F(FastPath, DecimalValuesIntoCharacterHostsShowPythonsDecimalText) {
  struct Case {
    const char *value;
    int precision;
    int scale;
  } cases[] = {
      {"123.45", 5, 2}, {"-0.5", 3, 2}, {"98765432.1", 12, 3}, {"0", 4, 1}, {"-0.001", 6, 4}};
  std::string values;
  for (const Case &c : cases)
    values += std::string(values.empty() ? "" : ", ") + R"({"type": 5, "prec": )" +
              std::to_string(c.precision * 256 + c.scale) + R"(, "value": ")" + c.value + "\"}";
  DoubleServer d({"--profile", "minimal"}, scenario(routine("dec()", 3, values)));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  constexpr int n = sizeof cases / sizeof cases[0];
  char texts[n][40];
  sqlvar_struct out[n];
  for (int i = 0; i < n; ++i)
    out[i] = host(host_type_char, texts[i], sizeof texts[i]);
  sqli_fplist outputs {n, out};
  ASSERT_EQ(_sqfastpath(3, nullptr, &outputs, nullptr, nullptr), 0) << sqlca.sqlerrm;
  for (int i = 0; i < n; ++i) {
    const std::string want = python_decimal_text(cases[i].value, cases[i].scale);
    ASSERT_FALSE(want.empty()) << "python3 with decimal is needed";
    std::string got(texts[i]);
    got.erase(0, got.find_first_not_of(' '));
    got.erase(got.find_last_not_of(' ') + 1);
    EXPECT_EQ(got, want) << cases[i].value;
  }
}

TEST_F(FastPath, CollectionValueIntoAnIntegerHostGives1818AndTheReplyStaysInStep) {
  DoubleServer d(
      {"--profile", "modern"},
      scenario(routine("c()", 4, R"({"type": 19, "hex": "0001020304"}, {"type": 2, "value": 6})") +
               ", " + routine("one()", 1, R"({"type": 2, "value": 42})")));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  int32_t a = 0, b = 0;
  sqlvar_struct out[] = {host(host_type_int, &a, 4), host(host_type_int, &b, 4)};
  sqli_fplist two {2, out};
  EXPECT_EQ(_sqfastpath(4, nullptr, &two, nullptr, nullptr), -1818);
  EXPECT_EQ(b, 0) << "values after the first error are not delivered";
  sqli_fplist one {1, out};
  ASSERT_EQ(_sqfastpath(1, nullptr, &one, nullptr, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(a, 42);
}

/* Fails every allocation after the first `allowed`. */
int allowed_allocations = 0;
void *failing_alloc(size_t size) {
  if (allowed_allocations-- <= 0) return nullptr;
  return sqli_system_memory.alloc(size);
}
const sqli_memory_seam failing_memory = {failing_alloc, sqli_system_memory.grow,
                                         sqli_system_memory.release};

TEST_F(FastPath, MemoryShortForTheCallOrItsListsGives406AndLeavesNothingHeld) {
  DoubleServer d(
      {"--profile", "modern"},
      scenario(routine(sig_add, add_handle, R"({"type": 0, "value": "v"})", add_fparam)));
  connect(d);
  ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
  const sqli_memory_seam *saved = sqli_memory;
  sqli_memory = &failing_memory;
  sqli_fparam block {};
  int32_t handle = 0;
  allowed_allocations = 0; /* the fast-path block */
  EXPECT_EQ(_sqgetroutine(sig_add, &block, &handle, nullptr), -406);
  allowed_allocations = 1; /* the block, not the first list */
  EXPECT_EQ(_sqgetroutine(sig_add, &block, &handle, nullptr), -406);
  EXPECT_EQ(block.marker, 0) << "a failed fill is not copied";
  allowed_allocations = 1; /* the block, not the value's bytes */
  char text[4] = "old";
  sqlvar_struct out = host(host_type_char, text, sizeof text);
  sqli_fplist one {1, &out};
  EXPECT_EQ(_sqfastpath(add_handle, nullptr, &one, nullptr, nullptr), -406);
  EXPECT_STREQ(text, "old");
  sqli_memory = saved;
  ASSERT_EQ(_sqgetroutine(sig_add, &block, &handle, nullptr), 0) << sqlca.sqlerrm;
  EXPECT_EQ(block.first_count, 2);
  free_lists(block);
}

}  // namespace
