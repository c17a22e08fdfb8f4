/*
** Comparisons by code point: wide strings by value (the sign of
** gl_wcsncmp agreeing with gl_wcscmp for values past 2^31), and multibyte
** strings by character length and bytes in a code set of one- and
** two-byte characters.
*/
#include "collation_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace colltest;

namespace {

TEST(CodePointOrder, WideStringsByValue) {
  const gl_wchar ab[] = {'a', 'b', 0}, abc[] = {'a', 'b', 'c', 0};
  EXPECT_EQ(_dvz_gl_wcfscmp(ab, 2, abc, 3), -1);
  EXPECT_EQ(_dvz_gl_wcfscmp(abc, 3, ab, 2), 1);
  EXPECT_EQ(_dvz_gl_wcfscmp(abc, 3, abc, 3), 0);
  EXPECT_EQ(_dvz_gl_wcfscmp(abc, 2, ab, 2), 0);
  EXPECT_EQ(gl_wcscmp(ab, abc), -1);
  EXPECT_EQ(gl_wcsncmp(ab, abc, 2), 0);
  EXPECT_EQ(gl_wcsncmp(ab, abc, 0), 0);
  EXPECT_EQ(gl_wcsncmp(ab, abc, 3), -'c');

  /* 0xF09F9880 - 0x41 does not fit an int: the sign must still be right. */
  const gl_wchar high[] = {0xF09F9880u, 0}, low[] = {0x41, 0};
  EXPECT_EQ(gl_wcscmp(high, low), 1);
  EXPECT_GT(gl_wcsncmp(high, low, 1), 0);
  EXPECT_LT(gl_wcsncmp(low, high, 1), 0);
  const gl_wchar top[] = {0xFFFFFFFFu, 0}, zero_len[] = {0};
  EXPECT_GT(gl_wcsncmp(top, zero_len, 1), 0);
  EXPECT_LT(gl_wcsncmp(zero_len, top, 1), 0);
}

TEST(CodePointOrder, MultibyteStringsByCharacterLengthThenBytes) {
  ToyCollation loc(lcotest::toy_collate(), mixed_ctype());
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  ASSERT_EQ(r->single_byte, 0);
  struct Case {
    const char *a, *b;
    int expected;
  };
  const Case cases[] = {
      {"\xA0", "\x81\x40", -1}, /* one byte against two, whatever the bytes */
      {"\x81\x40", "\xA0", 1},
      {"a\x81\x40", "a\x81\x41", -1},
      {"a\x81\x40", "a\x81\x40", 0},
      {"a", "ab", -1},
      {"b", "a", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.a) + " against " + c.b);
    EXPECT_EQ(gl_full_mbscmp(r, u(c.a), u(c.b)), c.expected);
  }
  EXPECT_EQ(r->error, 0);

  EXPECT_EQ(gl_full_mbsncmp(r, u("ab"), u("ac"), 1), 0);
  EXPECT_EQ(gl_full_mbsncmp(r, u("ab"), u("ac"), 2), -1);
  EXPECT_EQ(gl_full_mbsncmp(r, u("a"), u("ab"), 2), -1);
  EXPECT_EQ(gl_full_mbsncmp(r, u("\x81\x41"),
                            u("\x81\x40"
                              "c"),
                            1),
            1);
  EXPECT_EQ(r->error, 0);
  EXPECT_EQ(gl_full_mbsncmp(r, u("a\x81\x7F"), u("a\x81\x40"), 2), 0);
  EXPECT_EQ(r->error, GL_EILSEQ);

  r->error = 0;
  EXPECT_LT(_dvz_gl_mbscmp(r, u("ab"), -1, u("abc"), -1), 0);
  EXPECT_EQ(_dvz_gl_mbscmp(r, u("abc"), 2, u("abd"), 2), 0);
  EXPECT_EQ(_dvz_gl_mbscmp(r, u("ab"), 2, u("abc"), -1), 0);
  EXPECT_EQ(r->error, GL_EMIXEDLEN);
}

}  // namespace
