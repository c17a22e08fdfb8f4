/*
** The token readers of the data files (integers, hex fields and digits,
** floats, strings, white space), over memory streams: what each takes
** from the stream and what it leaves there.
*/
#include "token_readers.h"
#include "mem_stream.h"

#include <gtest/gtest.h>

#include <string>

using glstest::MemStream;

TEST(TokenReaders, IntegerTokens) {
  struct Case {
    const char *text;
    int value;
    const char *rest;
  } cases[] = {
      {"  -12x", -12, "x"}, {"\n\t 42 7", 42, " 7"},
      {"+5;", 5, ";"},      {"x12 5", 0, " 5"}, /* any first byte starts the token */
      {"-", 0, ""},         {"2147483647 ", 2147483647, " "},
  };
  for (const auto &c : cases) {
    MemStream in(c.text);
    EXPECT_EQ(_gl_get_int(in.get()), c.value) << c.text;
    EXPECT_EQ(in.rest(), c.rest) << c.text;
  }
}

TEST(TokenReaders, IntegerTokenOf45DigitsConsumesAllConvertsForty) {
  std::string digits = "1" + std::string(44, '0');
  MemStream in(digits + "x");
  /* Forty characters overflow; the value is what atoi gives for them. */
  EXPECT_EQ(_gl_get_int(in.get()),
            static_cast<int>(std::strtol(digits.substr(0, 40).c_str(), nullptr, 10)));
  EXPECT_EQ(in.rest(), "x");
  MemStream small("00000000000000000000000000000000000000000000123 ");
  EXPECT_EQ(_gl_get_int(small.get()), 0); /* the 123 lies beyond the fortieth character */
  EXPECT_EQ(small.rest(), " ");
}

TEST(TokenReaders, HexFieldsAddNonHexBytesAsTheirValue) {
  MemStream in("1aF0zz0000000\n");
  EXPECT_EQ(_gl_get_hex(in.get(), 2), 0x1a);
  EXPECT_EQ(_gl_get_hex(in.get(), 2), 0xF0);
  EXPECT_EQ(_gl_get_hex(in.get(), 0), 0);
  EXPECT_EQ(_gl_get_hex(in.get(), 2), 'z' * 16 + 'z');
  /* The end marker of a run list: start 00, length 000, repeat "00\n". */
  EXPECT_EQ(_gl_get_hex(in.get(), 2), 0);
  EXPECT_EQ(_gl_get_hex(in.get(), 3), 0);
  EXPECT_EQ(_gl_get_hex(in.get(), 3), '\n');
  MemStream wide("FFFFFFFF12");
  EXPECT_EQ(static_cast<uint32_t>(_gl_get_hex(wide.get(), 12)), 0xFFFFFFFFu); /* at most 8 bytes */
  EXPECT_EQ(wide.rest(), "12");
}

TEST(TokenReaders, HexDigitsAndBytes) {
  MemStream in("7fG9");
  EXPECT_EQ(_gl_get_hex_byte(in.get()), 0x7f);
  EXPECT_EQ(_gl_get_hex_digit(in.get()), 0); /* 'G' is no digit */
  EXPECT_EQ(_gl_get_hex_digit(in.get()), 9);
}

TEST(TokenReaders, SkipWhitespacePushesBackTheFirstOtherByte) {
  MemStream in(" \t\r\n\v\fabc");
  _gl_skip_whitespace(in.get());
  EXPECT_EQ(in.rest(), "abc");
  MemStream empty("   ");
  _gl_skip_whitespace(empty.get());
  EXPECT_EQ(empty.rest(), "");
}

TEST(TokenReaders, FloatTokens) {
  struct Case {
    const char *text;
    double value;
    const char *rest;
  } cases[] = {{"  1.5e+2x", 150.0, "x"}, {"-0.25 ", -0.25, " "}, {"abc", 0.0, "bc"}};
  for (const auto &c : cases) {
    MemStream in(c.text);
    EXPECT_DOUBLE_EQ(_gl_get_dbl(in.get()), c.value) << c.text;
    EXPECT_EQ(in.rest(), c.rest) << c.text;
  }
  std::string long_token = "1" + std::string(85, '0');
  MemStream in(long_token);
  EXPECT_DOUBLE_EQ(_gl_get_dbl(in.get()), 1e79); /* 80 characters taken */
  EXPECT_EQ(in.rest(), "000000");
}

TEST(TokenReaders, StringTokens) {
  char buffer[8];
  {
    MemStream in("abc def");
    EXPECT_EQ(_gl_get_str(buffer, sizeof buffer, in.get()), 0);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(in.rest(), " def");
  }
  {
    MemStream in(" abc"); /* no leading skip */
    _gl_get_str(buffer, sizeof buffer, in.get());
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(in.rest(), " abc");
  }
  {
    MemStream in("abcdefghij");
    _gl_get_str(buffer, 4, in.get());
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(in.rest(), "defghij");
  }
  {
    MemStream in("abc");
    buffer[0] = 'X';
    _gl_get_str(buffer, 1, in.get());
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(in.rest(), "abc"); /* nothing read */
  }
}
