/*
** Varnholt-style pictures translated into the formatter's directives under
** en_us: elements in any case, punctuation and quoted text, the elements
** without an equivalent, unknown ones, and the output size.
*/
#include <gtest/gtest.h>

#include <cstring>

#include "gen_dtformat.h"

namespace {

TEST(VrnPicture, TranslatesElementsPunctuationAndQuotedText) {
  struct Case {
    const char *picture;
    const char *format;
  };
  const Case cases[] = {
      {"YYYY-MM-DD HH24:MI:SS", "%iY-%m-%e %H:%M:%S"},
      {"yyyy/mm/dd", "%iY/%m/%e"},
      {"DD MONTH YYYY", "%e %B %iY"},
      {"DY, DD Mon RR", "%a, %e %b %iy"},
      {"HH12:MI AM", "%I:%M %p"},
      {"hh.mi pm", "%I.%M %p"},
      {"DAY D", "%A %w"},
      {"\"at\" HH24\"h\"", "at %Hh"},
      {"\"a\"\"b\"MM", "ab%m"},
      {"\"\"YY", "%iy"},
      {"", ""},
  };
  for (const Case &c : cases) {
    char out[64];
    ASSERT_EQ(dvz_to_gl_datetime(c.picture, out, sizeof out), 0) << c.picture;
    EXPECT_STREQ(out, c.format) << c.picture;
  }
  char out[4] = "xyz";
  EXPECT_EQ(dvz_to_gl_datetime(nullptr, out, sizeof out), 0);
  EXPECT_STREQ(out, "");
}

TEST(VrnPicture, RefusesElementsWithoutEquivalentAndUnknownOnes) {
  struct Case {
    const char *picture;
    int error;
  };
  const Case cases[] = {
      {"DDD", -5853},
      {"YYYY-sssss", -5853},
      {"YYY", -5853},
      {"Q", -5853},
      {"B.C.", -5853},
      {"YYYY ww", -5853},
      {"J", -5853},
      {"a.m.", -5853},
      {"XX", -5854},
      {"12", -5854},
      {"\"open", -5854},
      {"MM \"a\" \"b", -5854},
      {"HH24:MI:SS ZZ", -5854},
  };
  for (const Case &c : cases) {
    char out[64] = "untouched";
    EXPECT_EQ(dvz_to_gl_datetime(c.picture, out, sizeof out), c.error) << c.picture;
    EXPECT_STREQ(out, "untouched") << c.picture;
  }
}

TEST(VrnPicture, OutputMustHoldTheWholeTranslation) {
  char out[8] = "1234567";
  EXPECT_EQ(dvz_to_gl_datetime("MM", out, 3), 0);
  EXPECT_STREQ(out, "%m");
  std::memcpy(out, "1234567", 8);
  EXPECT_EQ(dvz_to_gl_datetime("MM", out, 2), -5855);
  EXPECT_STREQ(out, "1234567");
  EXPECT_EQ(dvz_to_gl_datetime("MM", out, 0), -5855);
  EXPECT_EQ(dvz_to_gl_datetime("MM", nullptr, 8), -5855);
}

}  // namespace
