/*
** Display width of characters and strings: one column for a printable
** character, two for one of the "full_width" class, error 7 for a
** non-printable one, in a code set of two-byte characters and in the
** shipped single-byte locale.
*/
#include "ctype_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace lcotest;

TEST_F(TwoByteCharacters, MeasuresWidthWithTheFullWidthClass) {
  EXPECT_EQ(gl_wcwidth(r.get(), 0), 0);
  EXPECT_EQ(gl_wcwidth(r.get(), 0x61), 1);
  EXPECT_EQ(gl_wcwidth(r.get(), 0x3042), 2);
  EXPECT_EQ(gl_wcwidth(r.get(), 0x0a), -1);
  EXPECT_EQ(err(), GL_EINVAL);

  r->error = 0;
  EXPECT_EQ(gl_mbwidth(r.get(), u("\x30\x42")), 2);
  EXPECT_EQ(gl_mbwidth(r.get(), u("\0\0")), 0);
  EXPECT_EQ(gl_mbwidth(r.get(), u("\0\n")), -1); /* non-printable and two bytes long */
  EXPECT_EQ(err(), GL_EINVAL);
  EXPECT_EQ(gl_mbwidth(r.get(), nullptr), -1);
  EXPECT_EQ(err(), GL_ENULLPTR);

  Wide w = wide({0x61, 0x3042, 0x61});
  EXPECT_EQ(gl_wcswidth(r.get(), w.data(), 10), 4);
  EXPECT_EQ(gl_wcswidth(r.get(), w.data(), 2), 3);
  EXPECT_EQ(gl_wcswidth(r.get(), w.data(), 0), 0);
  EXPECT_EQ(gl_wcswidth(r.get(), w.data(), -1), -1);
  EXPECT_EQ(err(), GL_ENEGCOUNT);
  EXPECT_EQ(gl_wcspwidth(r.get(), w.data(), w.data() + 2), 3);
  EXPECT_EQ(gl_wcspwidth(r.get(), w.data() + 2, w.data()), -1);
  EXPECT_EQ(err(), GL_EBADPOS);
  EXPECT_EQ(gl_wcswidth(r.get(), wide({0x61, 0x0a}).data(), 5), -1);
  EXPECT_EQ(err(), GL_EINVAL);

  const unsigned char *s = u("\0a\x30\x42\0a\0\0");
  r->error = 0;
  EXPECT_EQ(gl_mbswidth(r.get(), s, 10), 4);
  EXPECT_EQ(gl_mbswidth(r.get(), s, 2), 3);
  EXPECT_EQ(gl_mbspwidth(r.get(), s, s + 4), 3);
  EXPECT_EQ(gl_mbspwidth(r.get(), s, s + 3), 3); /* the character at s + 2 begins before the end */
  EXPECT_EQ(gl_mbspwidth(r.get(), s, s), 0);
  EXPECT_EQ(gl_mbswidth(r.get(), u("\0a\0\n\0\0"), 5), -1);
  EXPECT_EQ(err(), GL_EINVAL);
  EXPECT_EQ(gl_mbspwidth(r.get(), u("\0a\x07\x07\0\0"), u("\0a\x07\x07\0\0") + 4), -1);
  EXPECT_EQ(err(), GL_EILSEQ); /* an invalid character leaves error 1 */
}

TEST_F(SingleByteCharacters, NonPrintableWidthsFollowTheirForm) {
  EXPECT_EQ(gl_ctype(r.get(), "full_width"), 0);
  for (int b = 1; b < 256; ++b) {
    r->error = 0;
    const unsigned char s[2] = {static_cast<unsigned char>(b), 0};
    if ((r->class_map[b] & GL_CLASS_PRINT) != 0) {
      EXPECT_EQ(gl_wcwidth(r.get(), b), 1) << b; /* no full_width class: one column */
      EXPECT_EQ(gl_mbwidth(r.get(), s), 1) << b;
    } else {
      EXPECT_EQ(gl_mbwidth(r.get(), s), 1) << b; /* a one-byte character */
      EXPECT_EQ(gl_wcwidth(r.get(), b), -1) << b;
      EXPECT_EQ(r->error, GL_EINVAL) << b;
    }
  }
  EXPECT_EQ(gl_wcwidth(r.get(), 0x100), -1);
  EXPECT_EQ(r->error, GL_EINVAL);
  EXPECT_EQ(gl_wcswidth(r.get(), wide({'a', 0x100}).data(), 5), -1);
  EXPECT_EQ(gl_mbswidth(r.get(), u("ab\x07"), 2), 2);
  EXPECT_EQ(gl_mbswidth(r.get(), u("ab\x07"), 3), -1);
}

}  // namespace
