/*
** The directive engine that the number, money and time code share: the
** scanner's flags, widths and precisions (saturating, "*" with and without
** an argument list), and the integer field writer and reader called
** directly, as the time code calls them.
*/
#include "format_internal.h"
#include "numbers_support.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

namespace {

using numtest::W;

struct Scanned {
  int rc = 0;
  int justification = 0;
  gl_wchar fill = ' ';
  int width = 0;
  int precision = -1;
  uint32_t flags = 0;
  int position = -1;
  std::ptrdiff_t consumed = 0;
};

Scanned scan(gl_locale *loc, const std::vector<gl_wchar> &directive, uint32_t flags = 0) {
  Scanned s;
  s.flags = flags;
  const gl_wchar *cursor = directive.data();
  s.rc = _gl_scan_format_modifiers(loc, &cursor, &s.justification, &s.fill, &s.width, &s.precision,
                                   &s.flags, &s.position, nullptr);
  s.consumed = cursor - directive.data();
  return s;
}

class DirectiveEngine : public ::testing::Test {
 protected:
  numtest::ToyNumbers toys;
  lcotest::LocalePtr loc = toys.make();
};

TEST_F(DirectiveEngine, ScannerReadsPositionFlagsWidthAndPrecision) {
  Scanned s = scan(loc.get(), W("2$'-+ #12.3d"));
  EXPECT_EQ(s.rc, 0);
  EXPECT_EQ(s.position, 2);
  EXPECT_EQ(s.flags, GL_FMT_GROUP | GL_FMT_LEFT | GL_FMT_PLUS | GL_FMT_SPACE | GL_FMT_ALT);
  EXPECT_EQ(s.width, 12);
  EXPECT_EQ(s.precision, 3);
  EXPECT_EQ(s.justification, -1);
  EXPECT_EQ(s.consumed, 11) << "the cursor stops on the conversion";

  s = scan(loc.get(), W("08d"));
  EXPECT_EQ(s.flags, GL_FMT_ZERO);
  EXPECT_EQ(s.fill, static_cast<gl_wchar>('0'));
  EXPECT_EQ(s.width, 8);
  s = scan(loc.get(), W("-08d"));
  EXPECT_EQ(s.flags, GL_FMT_LEFT) << "a 0 after - is read and ignored";
  EXPECT_EQ(s.width, 8);
  s = scan(loc.get(), W("5.d"));
  EXPECT_EQ(s.precision, 0) << "a letter after the point is precision 0";
  EXPECT_EQ(s.consumed, 2);
  s = scan(loc.get(), W("12d"));
  EXPECT_EQ(s.position, -1) << "digits without $ are the width";
  EXPECT_EQ(s.width, 12);
}

TEST_F(DirectiveEngine, StarsWithoutAnArgumentList) {
  Scanned s = scan(loc.get(), W("*d"));
  EXPECT_EQ(s.rc, 0);
  EXPECT_TRUE(s.flags & GL_FMT_SUPPRESS) << "a * width marks the field as read only";
  s = scan(loc.get(), W(".*d"));
  EXPECT_EQ(s.rc, -1);
  EXPECT_EQ(loc->error, 45) << "a * precision needs an argument list";
  loc->error = 0;
  s = scan(loc.get(), W(".;d"));
  EXPECT_EQ(s.rc, -1);
  EXPECT_EQ(loc->error, 45);
}

TEST_F(DirectiveEngine, HugeNumbersSaturate) {
  Scanned s = scan(loc.get(), W("99999999999999999999.99999999999999999999d"));
  EXPECT_EQ(s.rc, 0);
  EXPECT_EQ(s.width, GL_FMT_NUMBER_LIMIT);
  EXPECT_EQ(s.precision, GL_FMT_NUMBER_LIMIT);
}

TEST_F(DirectiveEngine, WideValuesAboveAByteEndADigitRun) {
  std::vector<gl_wchar> directive = {'1', 0x3042, 'd', 0};
  loc->error = 0;
  Scanned s = scan(loc.get(), directive);
  EXPECT_EQ(s.width, 1);
  EXPECT_EQ(loc->error, 1);
}

TEST_F(DirectiveEngine, IntegerFieldWriter) {
  gl_wchar out[64] = {};
  gl_wchar *at = out;
  int count = 0;
  EXPECT_EQ(_gl_format_decimal(loc.get(), 255, 1, 16, &count, 63, &at, 6, -1, 0), 0);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(at, out + 6);
  EXPECT_EQ(out[3], static_cast<gl_wchar>('-')) << "three blanks, then -ff";
  EXPECT_EQ(_gl_format_decimal(loc.get(), 1, 0, 37, &count, 63, &at, 0, -1, 0), -1);
  EXPECT_EQ(loc->error, 9);
  loc->error = 0;
  EXPECT_EQ(_gl_format_decimal(loc.get(), 12345, 0, 10, &count, 10, &at, 0, -1, 0), -1);
  EXPECT_EQ(loc->error, 14) << "6 written + 5 digits passes 10";
  EXPECT_EQ(count, 6);
}

TEST_F(DirectiveEngine, IntegerFieldReader) {
  struct Case {
    const char *text;
    int width;
    int precision;
    int rc;
    uint32_t value;
    int negative;
    int consumed;
  };
  const Case cases[] = {
      {"123x", 0, -1, 0, 123, 0, 3}, {"-45", 0, -1, 0, 45, 1, 3}, {"12345", 3, -1, 0, 123, 0, 3},
      {"  7", 3, -1, 0, 7, 0, 3},    {"  7", 2, -1, -1, 0, 0, 0}, {"12 ", 0, 3, 0, 12, 0, 2},
      {"12x", 0, 3, -1, 0, 0, 0},    {"x", 0, -1, -1, 0, 0, 0},   {"-5", 1, -1, -1, 0, 1, 0},
  };
  for (const Case &c : cases) {
    auto w = W(c.text);
    const gl_wchar *cursor = w.data();
    uint32_t value = 0;
    int negative = 0;
    EXPECT_EQ(_gl_scan_decimal(loc.get(), &value, &negative, 10, &cursor, c.width, c.precision),
              c.rc)
        << c.text;
    if (c.rc == 0) {
      EXPECT_EQ(value, c.value) << c.text;
      EXPECT_EQ(negative, c.negative) << c.text;
      EXPECT_EQ(cursor - w.data(), c.consumed) << c.text;
    }
  }
}

}  // namespace
