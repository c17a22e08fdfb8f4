/*
** Bind lists written by the runtime from random values decode to the same
** values through the SQLI server double's independent decoder (Python,
** written from the wire tables): every type, NULLs among them, with and
** without extended-type names, and FLOAT on a float-as-decimal connection.
** DECIMAL values are compared through Python's decimal module. The seed
** is printed so that a failure can be replayed.
*/
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "gen_dectext.h"
#include "gen_types.h"
#include "locator.h"
#include "request_session.h"
#include "sqli_bind.h"
#include "sqli_request.h"
#include "temp_dir.h"

namespace {

using sqli_test::Bytes;
using sqli_test::Session;

std::string hex_of(const void *p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const auto *b = static_cast<const unsigned char *>(p);
  for (size_t i = 0; i < n; ++i) {
    out += digits[b[i] >> 4];
    out += digits[b[i] & 15];
  }
  return out;
}

/* One host variable with its storage and the value the decoder must see. */
struct Value {
  sqlvar_struct entry {};
  int16_t ind = 0;
  std::vector<char> data;
  dvz_hostbuf_t varbin {};
  loc_t loc {};
  std::string expected; /* a JSON object */
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  /* A value of a random type; NULL one time in eight. */
  void make(Value &v, bool float_as_decimal) {
    const int kind = pick(0, 16);
    const bool null = pick(0, 7) == 0;
    v.entry.sqlind = &v.ind;
    v.ind = null ? -1 : 0;
    std::string want;
    int word = 0;
    switch (kind) {
      case 0: { /* SMALLINT */
        const int16_t x = static_cast<int16_t>(pick(-32767, 32767));
        store(v, &x, sizeof x, host_type_short);
        word = 1;
        want = "\"kind\": \"int\", \"v\": " + std::to_string(x);
        break;
      }
      case 1:
      case 2: { /* INTEGER, DATE */
        const int32_t x = static_cast<int32_t>(pick(-2147483647, 2147483647));
        /* An INTEGER flagged 0x800 carries (empty) names under capability 0x4. */
        const int flag = kind == 1 && pick(0, 3) == 0 ? 0x800 : 0;
        store(v, &x, sizeof x, (kind == 1 ? host_type_int : host_type_date) | flag);
        word = (kind == 1 ? 2 : 7) | flag;
        want = "\"kind\": \"int\", \"v\": " + std::to_string(x);
        break;
      }
      case 3: { /* INT8 */
        dvz_int8_t x {};
        x.low = static_cast<uint32_t>(rng_());
        x.high = static_cast<uint32_t>(rng_()) & 0x7FFFFFFF;
        x.sign = pick(0, 1) != 0 ? 1 : -1;
        store(v, &x, sizeof x, host_type_int8);
        word = 17;
        const long long magnitude = static_cast<long long>((uint64_t {x.high} << 32) | x.low);
        want = "\"kind\": \"int\", \"v\": " + std::to_string(x.sign < 0 ? -magnitude : magnitude);
        break;
      }
      case 4:
      case 5: { /* CHAR, VARCHAR */
        const std::string s = text(pick(0, 60));
        std::vector<char> bytes(s.begin(), s.end());
        bytes.push_back('\0');
        store(v, bytes.data(), bytes.size(), kind == 4 ? host_type_char : host_type_varchar);
        v.entry.sqllen = static_cast<int32_t>(bytes.size());
        word = kind == 4 ? 0 : 13;
        want = "\"kind\": \"text\", \"v\": \"" + hex_of(s.data(), s.size()) + "\"";
        break;
      }
      case 6: { /* FLOAT */
        double x;
        do {
          uint64_t bits = (uint64_t {static_cast<uint32_t>(rng_())} << 32) | rng_();
          std::memcpy(&x, &bits, sizeof x);
        } while (!std::isfinite(x) ||
                 (float_as_decimal && (std::fabs(x) > 1e100 || (x != 0 && std::fabs(x) < 1e-100))));
        store(v, &x, sizeof x, host_type_double);
        unsigned char be[8];
        for (int i = 0; i < 8; ++i) {
          uint64_t bits;
          std::memcpy(&bits, &x, sizeof bits);
          be[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        }
        word = float_as_decimal ? 5 : 3;
        want = std::string("\"kind\": \"") + (float_as_decimal ? "decfloat" : "float64") +
               "\", \"v\": \"" + hex_of(be, 8) + "\"";
        break;
      }
      case 7: { /* SMALLFLOAT */
        float x;
        do {
          const uint32_t bits = static_cast<uint32_t>(rng_());
          std::memcpy(&x, &bits, sizeof x);
        } while (!std::isfinite(x));
        store(v, &x, sizeof x, host_type_float);
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const unsigned char be[4] = {
            static_cast<unsigned char>(bits >> 24), static_cast<unsigned char>(bits >> 16),
            static_cast<unsigned char>(bits >> 8), static_cast<unsigned char>(bits)};
        word = float_as_decimal ? 5 : 4;
        want = std::string("\"kind\": \"") + (float_as_decimal ? "decfloat32" : "float32") +
               "\", \"v\": \"" + hex_of(be, 4) + "\"";
        break;
      }
      case 8:
      case 9: { /* DECIMAL, MONEY */
        std::string s = pick(0, 1) != 0 ? "-" : "";
        const int whole = pick(1, 15), frac = pick(0, 14);
        for (int i = 0; i < whole; ++i)
          s += static_cast<char>('0' + pick(0, 9));
        if (frac > 0) {
          s += '.';
          for (int i = 0; i < frac; ++i)
            s += static_cast<char>('0' + pick(0, 9));
        }
        dec_t d {};
        EXPECT_EQ(deccvasc(s.c_str(), static_cast<int>(s.size()), &d), 0) << s;
        store(v, &d, sizeof d, kind == 8 ? host_type_decimal : host_type_money);
        v.entry.sqllen = static_cast<int32_t>(sizeof(dec_t));
        word = kind == 8 ? 5 : 8;
        want = "\"kind\": \"decimal\", \"v\": \"" + s + "\"";
        break;
      }
      case 10: { /* LVARCHAR */
        const std::string s = text(pick(0, 300));
        std::vector<char> bytes(s.begin(), s.end());
        bytes.push_back('\0');
        store(v, bytes.data(), bytes.size(), host_type_lvarchar);
        word = 43;
        want = "\"kind\": \"text\", \"v\": \"" + hex_of(s.data(), s.size()) + "\"";
        break;
      }
      case 11: { /* BOOLEAN */
        const char b = static_cast<char>(pick(0, 1));
        store(v, &b, 1, host_type_boolean);
        word = 45;
        want = "\"kind\": \"long\", \"v\": \"" + hex_of(&b, 1) + "\"";
        break;
      }
      case 12: { /* fixed UDT */
        const std::string s = text(pick(1, 40));
        store(v, s.data(), s.size(), host_type_fixed_binary);
        v.entry.sqllen = static_cast<int32_t>(s.size());
        v.entry.sqlxid = 2;
        word = 44;
        want = "\"kind\": \"long\", \"v\": \"" + hex_of(s.data(), s.size()) + "\"";
        break;
      }
      case 13: { /* variable UDT as LVARCHAR */
        const std::string s = text(pick(0, 80));
        v.data.assign(s.begin(), s.end());
        v.data.push_back('\0');
        v.varbin.length = static_cast<int32_t>(s.size());
        v.varbin.size = static_cast<int32_t>(v.data.size());
        v.varbin.data = v.data.data();
        v.entry.sqltype = host_type_variable_binary;
        v.entry.sqldata = reinterpret_cast<char *>(&v.varbin);
        v.entry.sqlxid = 1;
        word = 43;
        want = "\"kind\": \"text\", \"v\": \"" + hex_of(s.data(), s.size()) + "\"";
        break;
      }
      case 14: { /* BYTE or TEXT from a locator */
        v.loc.sql_type = pick(0, 1) != 0 ? 11 : 12;
        v.loc.open_flags = pick(0, 1) != 0 ? 0x20 : 0;
        v.entry.sqltype = host_type_locator;
        v.entry.sqldata = reinterpret_cast<char *>(&v.loc);
        word = v.loc.sql_type;
        unsigned char desc[56] = {};
        desc[39] = v.loc.open_flags != 0 ? 16 : 0;
        want = "\"kind\": \"long\", \"v\": \"" + hex_of(desc, sizeof desc) + "\"";
        break;
      }
      case 15: { /* DATETIME or INTERVAL: the qualifier and the DECIMAL of the digits */
        std::string digits;
        const int n = pick(1, 20);
        for (int i = 0; i < n; ++i)
          digits += static_cast<char>('0' + pick(0, 9));
        dtime_t dt {};
        dt.dt_qual = static_cast<uint16_t>(pick(0, 0xFFFF));
        EXPECT_EQ(deccvasc(digits.c_str(), n, &dt.dt_dec), 0) << digits;
        const bool interval = pick(0, 1) != 0;
        store(v, &dt, sizeof dt, interval ? host_type_interval : host_type_datetime);
        word = interval ? 14 : 10;
        want = "\"kind\": \"decimal\", \"v\": \"" + digits + "\"";
        break;
      }
      default: { /* NCHAR from a fixed-length character host */
        const std::string s = text(pick(1, 30));
        store(v, s.data(), s.size(), host_type_fixchar);
        v.entry.sqllen = static_cast<int32_t>(s.size());
        word = 0;
        want = "\"kind\": \"text\", \"v\": \"" + hex_of(s.data(), s.size()) + "\"";
        break;
      }
    }
    if (null) want = "\"kind\": \"null\"";
    v.expected = "{\"type\": " + std::to_string(word) + ", " + want + "}";
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  std::string text(int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
      s += static_cast<char>(pick(0x20, 0x7E));
    return s;
  }
  static void store(Value &v, const void *p, size_t n, int type) {
    v.data.assign(static_cast<const char *>(p), static_cast<const char *>(p) + n);
    v.data.push_back('\0');
    v.entry.sqltype = static_cast<int16_t>(type);
    v.entry.sqldata = v.data.data();
  }
  std::mt19937 rng_;
};

class BindRoundTrip : public sqli_test::RuntimeTest {};

TEST_F(BindRoundTrip, DoubleDecodesWhatTheRuntimeSent) {
  sqli_tcb *tcb = start();
  ASSERT_NE(tcb, nullptr);
  const uint32_t seed = std::random_device {}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  Generator gen(seed);
  dvz_test::TempDir dir;
  std::string cases;
  for (int list = 0; list < 300; ++list) {
    const int32_t caps = list % 3 == 0 ? 0x4 : 0;
    const bool float_as_decimal = list % 5 == 0;
    std::vector<Value> values(static_cast<size_t>(1 + list % 12));
    for (Value &v : values)
      gen.make(v, float_as_decimal);
    std::vector<sqlvar_struct> entries;
    for (Value &v : values)
      entries.push_back(v.entry);
    sqlda desc {};
    desc.sqld = static_cast<int16_t>(entries.size());
    desc.sqlvar = entries.data();
    _sqclrca(tcb);
    Session session(tcb, 1 + list % 64, caps);
    session.conn().dbflags[3] = float_as_decimal ? 1 : 0;
    ASSERT_EQ(_sqs_vs(SQ_BIND, &desc, nullptr, tcb), 0) << "list " << list;
    const Bytes sent = session.sent();
    ASSERT_GE(sent.size(), 2u);
    ASSERT_EQ(sqli_test::ld_i16(sent, 0), SQ_BIND);
    std::string line = "{\"caps\": " + std::to_string(caps) + ", \"hex\": \"" +
                       hex_of(sent.data() + 2, sent.size() - 2) + "\", \"values\": [";
    for (size_t i = 0; i < values.size(); ++i)
      line += (i != 0 ? ", " : "") + values[i].expected;
    cases += line + "]}\n";
  }
  const std::string file = dir.write("bind_lists.jsonl", cases);
  const std::string command = std::string(DVZ_PYTHON) + " -B " + DVZ_BIND_DRIVER + " " +
                              DVZ_SQLI_DOUBLE_DIR + " " + file + " 2>&1";
  FILE *out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string report;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, out) != nullptr)
    report += buffer;
  const int status = pclose(out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
}

}  // namespace
