/*
** INT8 text: reading (dvz_int8cvasc) and writing (int8tostr, int8toasc and
** their base-10 forms) under the default client locale (en_us: "." point,
** "," thousands separator). Base 16 against the committed table of
** oracle/int8_oracle.py (Python's two's-complement patterns); base 10
** against std::to_chars and strtoll in process; the tables hold the
** documented examples, the exponent and sign rules and the field widths.
*/
#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gen_int8.h"
#include "int8_values.h"

namespace {

using namespace int8_test;

constexpr int bad_number = -1213;

/* Reads text from a heap block of exactly its length (no terminator), so
** that a read past the length is an address-sanitizer report. */
int read(const std::string &text, dvz_int8_t *v) {
  std::vector<char> exact(text.begin(), text.end());
  return dvz_int8cvasc(exact.data(), static_cast<int>(exact.size()), v);
}

/* int8tostr into a guarded buffer of size + 1 bytes; the text up to the
** terminator (or the size bytes written when there is none). */
std::string write(const dvz_int8_t &v, int size, int base, int *status) {
  std::vector<char> buffer(static_cast<size_t>(size) + 8, '#');
  *status = int8tostr(&v, buffer.data(), size, base);
  for (size_t i = static_cast<size_t>(size) + 1; i < buffer.size(); ++i)
    EXPECT_EQ(buffer[i], '#') << "written past size + 1 bytes";
  const auto terminator = std::find(buffer.begin(), buffer.begin() + size + 1, '\0');
  return std::string(buffer.begin(), std::min(terminator, buffer.begin() + size));
}

struct OracleLine {
  int64_t value;
  std::string hex;
};

std::vector<OracleLine> oracle_lines() {
  std::ifstream table(DVZ_INT8_CASES);
  EXPECT_TRUE(table.is_open()) << DVZ_INT8_CASES;
  std::vector<OracleLine> lines;
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    OracleLine entry {};
    EXPECT_TRUE(fields >> entry.value >> entry.hex) << line;
    lines.push_back(entry);
  }
  EXPECT_FALSE(lines.empty());
  return lines;
}

std::string upper(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

/* ---- Peers ------------------------------------------------------------------------ */

TEST(Int8TextOracle, BaseSixteenMatchesTheGeneratedPatterns) {
  for (const OracleLine &line : oracle_lines()) {
    const dvz_int8_t v = make(line.value);
    int status = 1;
    EXPECT_EQ(write(v, 18, 16, &status), "0x" + line.hex) << line.value;
    EXPECT_EQ(status, 0) << line.value;
    for (const std::string &text : {"0x" + line.hex, "0X" + upper(line.hex)}) {
      dvz_int8_t back {};
      ASSERT_EQ(read(text, &back), 0) << text;
      EXPECT_EQ(value(back), line.value) << text;
    }
  }
}

TEST(Int8TextPeer, BaseTenMatchesToCharsAndStrtoll) {
  std::vector<int64_t> values = operands();
  for (const OracleLine &line : oracle_lines())
    values.push_back(line.value);
  for (int64_t n : values) {
    const dvz_int8_t v = make(n);
    int status = 1;
    EXPECT_EQ(write(v, 20, 10, &status), decimal(n));
    EXPECT_EQ(status, 0) << n;
    /* The same texts with blanks and signs that both readers accept. */
    for (const std::string &text :
         {decimal(n), "  " + decimal(n), n >= 0 ? "+" + decimal(n) : decimal(n)}) {
      errno = 0;
      char *end = nullptr;
      const long long peer = std::strtoll(text.c_str(), &end, 10);
      ASSERT_EQ(errno, 0) << text;
      ASSERT_EQ(*end, '\0') << text;
      dvz_int8_t back {};
      ASSERT_EQ(read(text, &back), 0) << text;
      EXPECT_EQ(value(back), peer) << text;
    }
  }
}

/* Beyond 63 bits strtoll reports ERANGE where ours is -1284; the one value
** strtoll holds and INT8 does not is -2^63. */
TEST(Int8TextPeer, OverflowWhereStrtollSaysOutOfRange) {
  const char *texts[] = {"9223372036854775808", "-9223372036854775809", "18446744073709551616",
                         "99999999999999999999999999999999"};
  for (const char *text : texts) {
    errno = 0;
    (void)std::strtoll(text, nullptr, 10);
    EXPECT_EQ(errno, ERANGE) << text;
    dvz_int8_t v = make(7);
    EXPECT_EQ(read(text, &v), overflow) << text;
    EXPECT_EQ(value(v), 7) << "written after an overflow: " << text;
  }
  dvz_int8_t v {};
  EXPECT_EQ(read("-9223372036854775808", &v), overflow);
}

TEST(Int8TextRoundTrip, ReadingTheWrittenTextGivesTheValueInBothBases) {
  for (int64_t n : operands()) {
    const dvz_int8_t v = make(n);
    for (int base : {10, 16}) {
      char buffer[25];
      ASSERT_EQ(int8tostr(&v, buffer, 24, base), 0) << n;
      dvz_int8_t back = make(12345);
      ASSERT_EQ(dvz_int8cvasc(buffer, static_cast<int>(std::strlen(buffer)), &back), 0) << buffer;
      EXPECT_EQ(value(back), n) << buffer;
      EXPECT_EQ(back.sign, n < 0 ? -1 : 1) << buffer;
    }
  }
}

/* ---- Reading --------------------------------------------------------------------------- */

struct ReadCase {
  const char *text;
  int status;
  i128 value;
};

void check_reads(const ReadCase *cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const ReadCase &c = cases[i];
    dvz_int8_t v = make(777);
    ASSERT_EQ(read(c.text, &v), c.status) << '"' << c.text << '"';
    if (c.status != 0) {
      EXPECT_EQ(value(v), 777) << "written after an error: \"" << c.text << '"';
      continue;
    }
    EXPECT_EQ(static_cast<int64_t>(value(v)), static_cast<int64_t>(c.value))
        << '"' << c.text << '"';
    EXPECT_EQ(v.sign, c.value < 0 ? -1 : 1) << '"' << c.text << '"';
  }
}

TEST(Int8TextRead, BaseTenShapes) {
  const ReadCase cases[] = {
      {"42", 0, 42},
      {"  42  ", 0, 42},
      {"+42", 0, 42},
      {"-42", 0, -42},
      {"-0", 0, 0},
      {"007", 0, 7},
      {"0000000000000000000000000000001", 0, 1},
      {"1,234,567", 0, 1234567},
      {"-9,223,372,036,854,775,807", 0, -max_int8},
      {"12.75", 0, 12},
      {"-12.75", 0, -12},
      {"12.x7", 0, 12},
      {"1.2.3", bad_number, 0},
      {".5", 0, 0},
      {"5.", 0, 5},
      {"1 2", bad_number, 0},
      {"12a", bad_number, 0},
      {"a12", bad_number, 0},
      {"-", bad_number, 0},
      {"+", bad_number, 0},
      {"--5", bad_number, 0},
      {"- 5", bad_number, 0},
      {"\t5", bad_number, 0},
      {"99999999999999999999x", bad_number, 0},
      {"9223372036854775807", 0, max_int8},
      {"9223372036854775808", overflow, 0},
      /* A character of more than one byte is no digit. */
      {"12\xc3\xa9"
       "34",
       bad_number, 0},
  };
  check_reads(cases, std::size(cases));
}

/* The exponent applies to the whole number, fraction included, and the
** result is truncated toward zero. */
TEST(Int8TextRead, ExponentScalesTheWholeNumberThenTruncates) {
  const ReadCase cases[] = {
      {"1.5e1", 0, 15},
      {"1.25e1", 0, 12},
      {"-1.5e1", 0, -15},
      {"15e-1", 0, 1},
      {"1e-1", 0, 0},
      {"-1e-1", 0, 0},
      {"-19e-1", 0, -1},
      {"1E2", 0, 100},
      {"1e+2", 0, 100},
      {"0.5e1", 0, 5},
      {".5e1", 0, 5},
      {"5.e1", 0, 50},
      {"1,000e3", 0, 1000000},
      {"123456e-3", 0, 123},
      {"0.000123e6", 0, 123},
      {"1e18", 0, 1000000000000000000},
      {"9.223372036854775807e18", 0, max_int8},
      {"92233720368547758079e-1", 0, max_int8},
      {"9.223372036854775808e18", overflow, 0},
      {"-9.223372036854775808e18", overflow, 0},
      {"1e19", overflow, 0},
      {"0.00000000000000000001e39", overflow, 0},
      {"1.5 e1", 0, 15},
      {"1.5e1 ", 0, 15},
      {"1.5e 1", 0, 15},
      /* Every fraction character must be a digit when there is an exponent. */
      {"1.x5e1", bad_number, 0},
      {"1.5,0e1", bad_number, 0},
      {"1e", bad_number, 0},
      {"1e ", bad_number, 0},
      {"1e+", bad_number, 0},
      {"1ee2", bad_number, 0},
      {"1e2.5", bad_number, 0},
      {"1e5x", bad_number, 0},
      {"1e5 x", bad_number, 0},
      {"1e2147483647", overflow, 0},
      {"1e2147483648", bad_number, 0},
      {"e5", bad_number, 0},
  };
  check_reads(cases, std::size(cases));
}

/* Any exponent is answered by counting digits, never by scaling once per
** unit of the exponent. */
TEST(Int8TextRead, HugeExponentsAnswerAtOnce) {
  const ReadCase cases[] = {
      {"1e-2000000000", 0, 0},        {"0e2000000000", 0, 0},
      {"0.000e2000000000", 0, 0},     {"1e2000000000", overflow, 0},
      {"-1e2000000000", overflow, 0}, {"123456789e-2147483647", 0, 0},
  };
  const auto start = std::chrono::steady_clock::now();
  check_reads(cases, std::size(cases));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

/* The 64 bits after "0x" are a two's-complement pattern; a leading "-"
** then negates the value it stands for. */
TEST(Int8TextRead, BaseSixteenPatternsAndTheirSign) {
  const ReadCase cases[] = {
      {"0x10", 0, 16},
      {"-0x10", 0, -16},
      {"+0x10", 0, 16},
      {"0XfF", 0, 255},
      {"0xffffffffffffffff", 0, -1},
      {"-0xffffffffffffffff", 0, 1},
      {"0x7fffffffffffffff", 0, max_int8},
      {"-0x7fffffffffffffff", 0, -max_int8},
      {"0x8000000000000001", 0, -max_int8},
      {"0x8000000000000000", overflow, 0},
      {"-0x8000000000000000", overflow, 0},
      {"0x10000000000000000", overflow, 0},
      {"0x00000000000000000000000000ff", 0, 255},
      {"0x1e5", 0, 0x1e5},
      {"0x1f.zz", 0, 31},
      {"  0x1f  ", 0, 31},
      {"0x", 0, 0},
      {"0xg", bad_number, 0},
      {"0x-1", bad_number, 0},
      {"00x1", bad_number, 0},
  };
  check_reads(cases, std::size(cases));
}

TEST(Int8TextRead, EmptyOrBlankTextIsNullAndOnlyTheLengthIsRead) {
  for (const char *blank : {"", " ", "      "}) {
    dvz_int8_t v = make(5);
    EXPECT_EQ(read(blank, &v), 0) << '"' << blank << '"';
    EXPECT_TRUE(v.sign == 0 && v.low == 0 && v.high == 0) << '"' << blank << '"';
  }
  dvz_int8_t v {};
  ASSERT_EQ(dvz_int8cvasc("123456", 3, &v), 0);
  EXPECT_EQ(value(v), 123);
  EXPECT_EQ(dvz_int8cvasc("1e5", 2, &v), bad_number);
  ASSERT_EQ(dvz_int8cvasc("42x", -1, &v), 0);
  EXPECT_EQ(v.sign, 0);
}

/* ---- Writing ----------------------------------------------------------------------------- */

TEST(Int8TextWrite, DocumentedTexts) {
  struct Case {
    i128 v;
    int base;
    const char *text;
  };
  const Case cases[] = {
      {-1, 16, "0xffffffffffffffff"},
      {255, 16, "0x00000000000000ff"},
      {i128 {1} << 32, 16, "0x0000000100000000"},
      {0, 16, "0x0000000000000000"},
      {0, 10, "0"},
      {-max_int8, 10, "-9223372036854775807"},
      {-(i128 {1} << 31), 10, "-2147483648"},
      {(i128 {1} << 32) - 1, 10, "4294967295"},
      {-((i128 {1} << 32) - 1), 16, "0xffffffff00000001"},
      {-max_int8, 16, "0x8000000000000001"},
  };
  for (const Case &c : cases) {
    int status = 1;
    EXPECT_EQ(write(make(c.v), 24, c.base, &status), c.text);
    EXPECT_EQ(status, 0) << c.text;
  }
}

TEST(Int8TextWrite, FieldWidths) {
  const dvz_int8_t v = make(123);
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(dvz_int8tostr(&v, buffer, 2), -1207);
  EXPECT_EQ(std::string(buffer, 3), "**#");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(dvz_int8tostr(&v, buffer, 3), 0);
  EXPECT_EQ(std::string(buffer, 5), std::string("123\0#", 5));
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(dvz_int8tostr(&v, buffer, 0), 0);
  EXPECT_EQ(buffer[0], '#');
  const dvz_int8_t longest = make(-max_int8);
  char field[21];
  EXPECT_EQ(dvz_int8tostr(&longest, field, 19), -1207);
  EXPECT_EQ(std::string(field, 19), std::string(19, '*'));
  EXPECT_EQ(dvz_int8tostr(&longest, field, 20), 0);
  EXPECT_EQ(std::strlen(field), 20u);
  char hex[19];
  EXPECT_EQ(int8tostr(&v, hex, 17, 16), -1207) << "base 16 needs 18 bytes";
  EXPECT_EQ(std::string(hex, 17), std::string(17, '*'));
  EXPECT_EQ(int8tostr(&v, hex, 18, 16), 0);
  EXPECT_STREQ(hex, "0x000000000000007b");
}

TEST(Int8TextWrite, NullIsBlanksWithoutTerminator) {
  const dvz_int8_t null = null_int8();
  char buffer[8];
  for (auto writer : {dvz_int8tostr, dvz_int8toasc}) {
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(writer(&null, buffer, 5), 0);
    EXPECT_EQ(std::string(buffer, 6), "     #");
  }
}

TEST(Int8TextWrite, PaddedFormFillsTheFieldWithBlanks) {
  char buffer[12];
  std::memset(buffer, '#', sizeof buffer);
  const dvz_int8_t v = make(-42);
  EXPECT_EQ(dvz_int8toasc(&v, buffer, 6), 0);
  EXPECT_EQ(std::string(buffer, 7), "-42   #");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(dvz_int8toasc(&v, buffer, 3), 0);
  EXPECT_EQ(std::string(buffer, 4), std::string("-42\0", 4));
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(dvz_int8toasc(&v, buffer, 2), -1207);
  EXPECT_EQ(std::string(buffer, 3), "**#");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(int8toasc(&v, buffer, 11, 16), -1207);
}

}  // namespace
