/*
** Characters of a locale's code set: telling, decoding and encoding them,
** converting strings between the multibyte and the wide form, counting
** bytes and characters, and stepping forward and back, in a code set of
** two-byte characters and in the shipped single-byte locale.
*/
#include "ctype_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace lcotest;

TEST_F(TwoByteCharacters, IsMultibyteWithTwoByteTerminator) {
  EXPECT_EQ(r->single_byte, 0);
  EXPECT_EQ(r->class_map, nullptr);
  EXPECT_EQ(r->mbstowcs_fn, &_gl_im_mbstowcs);
  EXPECT_EQ(r->mbfstowcfs_fn, &_dvz_gl_im_mbfstowcfs);

  unsigned char buf[4] = {9, 9, 9, 9};
  EXPECT_EQ(gl_mbsterm(r.get(), buf), 2);
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes {0, 0, 9, 9}));
  EXPECT_EQ(gl_ismbsterm(r.get(), buf), 2);
  EXPECT_EQ(gl_ismbsterm(r.get(), u("\0A")), 0);
}

TEST_F(TwoByteCharacters, EncodesValuesWithTheShortestLength) {
  unsigned char out[4] = {9, 9, 9, 9};
  EXPECT_EQ(gl_full_wctomb(r.get(), out, 0x41), 2);
  EXPECT_EQ(Bytes(out, out + 2), (Bytes {0x00, 0x41}));
  EXPECT_EQ(gl_full_wctomb(r.get(), out, 0x3042), 2);
  EXPECT_EQ(Bytes(out, out + 2), (Bytes {0x30, 0x42}));
  EXPECT_EQ(gl_wclen(r.get(), 0x61), 2);

  EXPECT_EQ(gl_full_wctomb(r.get(), out, 0x99), -1);
  EXPECT_EQ(err(), GL_EILSEQ);
  r->error = 0;
  EXPECT_EQ(gl_wclen(r.get(), 0x123456), -1);
  EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(TwoByteCharacters, DecodesCharacters) {
  struct Case {
    const char *bytes;
    int n;
    int mblen; /* gl_full_mblen */
    int dvz_mblen; /* _dvz_gl_full_mblen */
    int error; /* after gl_full_mblen */
  };
  const Case cases[] = {
      {"\0A", 2, 2, 2, 0},
      {"\0\0", 2, 0, 2, 0}, /* the null character */
      {"\0A", 1, -1, -1, GL_EINVAL}, /* cut off by the limit */
      {"\0A", 0, -1, -1, GL_EINVAL}, /* limit below 1 */
      {"\x07\0", 2, -1, -1, GL_EILSEQ},
      {"\0\x07", 2, -1, -1, GL_EILSEQ},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "n=" << c.n << " bytes " << int(c.bytes[0]) << "," << int(c.bytes[1]));
    r->error = 0;
    EXPECT_EQ(gl_full_mblen(r.get(), u(c.bytes), c.n), c.mblen);
    EXPECT_EQ(err(), c.error);
    EXPECT_EQ(_dvz_gl_full_mblen(r.get(), u(c.bytes), c.n), c.dvz_mblen);
  }
  EXPECT_EQ(gl_full_mblen(r.get(), nullptr, 2), 0);

  gl_wchar wc = 0;
  r->error = 0;
  EXPECT_EQ(gl_full_mbtowc(r.get(), &wc, u("\0a"), 4), 2);
  EXPECT_EQ(wc, 0x61u);
  EXPECT_EQ(gl_full_mbtowc(r.get(), &wc, u("\0\0"), 4), 0);
  EXPECT_EQ(gl_full_mbtowc(r.get(), &wc, u("\0a"), -1), -1);
  EXPECT_EQ(err(), GL_EINVAL);
  /* The worker takes -1 as the length of the terminated string. */
  r->error = 0;
  EXPECT_EQ(_dvz_gl_full_mbtowc(r.get(), &wc, u("\x30\x42\0\0"), -1), 2);
  EXPECT_EQ(wc, 0x3042u);
  EXPECT_EQ(_dvz_gl_full_mbtowc(r.get(), &wc, u("\0\0"), -1), -1);
  EXPECT_EQ(err(), GL_EINVAL);
  r->error = 0;
  EXPECT_EQ(_dvz_gl_full_mbtowc(r.get(), &wc, u("\x07\x07\0\0"), -1), -1);
  EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(TwoByteCharacters, CountsBytesAndCharacters) {
  EXPECT_EQ(gl_mbsbytes(r.get(), u("\0\0")), 2); /* empty: the terminator only */
  EXPECT_EQ(gl_mbsbytes(r.get(), u("\0A\0a\0\0")), 6);
  EXPECT_EQ(gl_mbsbytes(r.get(), u("\0A\x07\x07\0\0")), 0);
  EXPECT_EQ(gl_mbsbytes(r.get(), nullptr), 0);
  EXPECT_EQ(_gl_im_mbslen(r.get(), u("\0A\0a\0\0")), 2);
  EXPECT_EQ(_gl_im_mbslen(r.get(), u("\0A\x07\x07\0\0")), -1);

  EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A\0\0\0a"), 6),
            3); /* an inner null is one character */
  EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A\0a\0\0"), -1), 2);
  EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A"), 0), 0);
  r->error = 0;
  EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A\0a"), 3), -1); /* the last one runs past the end */
  EXPECT_EQ(err(), GL_EILSEQ);
  r->error = 0;
  EXPECT_EQ(_dvz_gl_im_mbfslen(r.get(), u("\0A"), -2), -1);
  EXPECT_EQ(err(), GL_EILSEQ);

  EXPECT_EQ(gl_wcslen(wide({0x41, 0x3042}).data()), 2);
  EXPECT_EQ(gl_wcsbytes(wide({0x41, 0x3042}).data()), 12);
}

TEST_F(TwoByteCharacters, ConvertsBetweenMultibyteAndWide) {
  gl_wchar wcs[8];
  std::fill(std::begin(wcs), std::end(wcs), 0xEEEEu);
  EXPECT_EQ(r->mbstowcs_fn(r.get(), wcs, u("\0A\x30\x42\0\0"), 8), 2);
  EXPECT_EQ(Wide(wcs, wcs + 3), wide({0x41, 0x3042}));
  /* Counted input: no terminator is stored. */
  std::fill(std::begin(wcs), std::end(wcs), 0xEEEEu);
  EXPECT_EQ(r->mbfstowcfs_fn(r.get(), wcs, u("\0A\0a\0\0"), 4, 8), 2);
  EXPECT_EQ(wcs[2], 0xEEEEu);
  EXPECT_EQ(_dvz_gl_im_mbfstowcfs(r.get(), wcs, u("\0A\0a"), 4, 1), 1);
  EXPECT_EQ(_dvz_gl_im_mbfstowcfs(r.get(), wcs, u("\0A\0a"), 4, 0), 0);
  r->error = 0;
  EXPECT_EQ(_dvz_gl_im_mbfstowcfs(r.get(), wcs, u("\0A\0a"), 3, 8), -1); /* cut off by the end */
  EXPECT_EQ(err(), GL_EILSEQ);

  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  Wide text = wide({0x41, 0x61});
  EXPECT_EQ(gl_full_wcstombs(r.get(), out, text.data(), 6), 4);
  EXPECT_EQ(Bytes(out, out + 7), (Bytes {0, 0x41, 0, 0x61, 0, 0, 0xEE}));
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(gl_full_wcstombs(r.get(), out, text.data(), 5), 4); /* no room for the terminator */
  EXPECT_EQ(out[4], 0xEE);
  EXPECT_EQ(gl_full_wcstombs(r.get(), out, text.data(), 3),
            2); /* stops before a character that passes size */
  EXPECT_EQ(_dvz_gl_full_wcstombs(r.get(), out, text.data(), 1, 8), 2);
  r->error = 0;
  Wide bad = wide({0x41, 0x99});
  EXPECT_EQ(gl_full_wcstombs(r.get(), out, bad.data(), 8), -1);
  EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(TwoByteCharacters, StepsForwardAndBack) {
  const unsigned char *s = u("\0A\x30\x42\0a\0\0");
  EXPECT_EQ(gl_full_mbsnext(r.get(), s), s + 2);
  EXPECT_EQ(gl_full_mbsnext(r.get(), s + 6), s + 8); /* over the terminator */
  EXPECT_EQ(_dvz_gl_full_mbsnext(r.get(), s, 1), nullptr);
  EXPECT_EQ(err(), GL_EINVAL);
  r->error = 0;
  EXPECT_EQ(gl_full_mbsnext(r.get(), u("\x07\x07")), nullptr);
  EXPECT_EQ(err(), GL_EILSEQ);

  EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 4), s + 2);
  EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 2), s);
  EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 3), nullptr); /* pos inside a character */
  EXPECT_EQ(err(), GL_EINVAL);
  r->error = 0;
  EXPECT_EQ(gl_full_mbsprev(r.get(), s, s), nullptr);
  EXPECT_EQ(err(), GL_EBADPOS);
}

TEST_F(SingleByteCharacters, UsesTheByteMaps) {
  EXPECT_EQ(r->single_byte, 1);
  ASSERT_NE(r->class_map, nullptr);
  EXPECT_EQ(r->mbstowcs_fn, &_gl_is_mbstowcs);
  EXPECT_EQ(r->mbfstowcfs_fn, &_dvz_gl_is_mbfstowcfs);
  EXPECT_EQ(gl_full_mblen(r.get(), u(""), 4), 0);
  EXPECT_EQ(_dvz_gl_full_mblen(r.get(), u(""), 4), 1);
  EXPECT_EQ(gl_mbsbytes(r.get(), u("")), 1);
  EXPECT_EQ(gl_mbsbytes(r.get(), u("abc")), 4);
  EXPECT_EQ(gl_wclen(r.get(), 0x1234), 1); /* no check in a single-byte locale */
  EXPECT_EQ(gl_case_conv_outbuflen(r.get(), 7), 7);
}

TEST_F(SingleByteCharacters, ConvertsBytesWithoutChecks) {
  gl_wchar wcs[8];
  EXPECT_EQ(_gl_is_mbstowcs(r.get(), wcs, u("a\xe9"), 8), 2);
  EXPECT_EQ(Wide(wcs, wcs + 3), wide({'a', 0xe9}));
  EXPECT_EQ(_dvz_gl_is_mbfstowcfs(r.get(), wcs, u("ab\0d"), 4, 8), 4); /* counted: bytes consumed */
  EXPECT_EQ(_dvz_gl_is_mbfstowcfs(r.get(), wcs, u("abcd"), 4, 2), 2);
  EXPECT_EQ(_dvz_gl_is_mbfstowcfs(r.get(), wcs, u("abcd"), 4, 0), 0);

  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(_gl_is_wcstombs(r.get(), out, wide({'x', 0xfc}).data(), 8), 2);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes {'x', 0xfc, 0, 0xEE}));
  EXPECT_EQ(_gl_is_wcstombs(r.get(), out, wide({'x', 'y', 'z'}).data(), 2),
            2); /* full: no terminator */
  EXPECT_EQ(_dvz_gl_is_wcstombs(r.get(), out, wide({'x', 'y'}).data(), 1, 8), 1);
  EXPECT_EQ(_gl_is_wcstombs(r.get(), out, wide({'x', 0x100}).data(), 8), -1);
  EXPECT_EQ(r->error, GL_EILSEQ);
  r->error = 0;
  EXPECT_EQ(gl_full_wcstombs(r.get(), out, wide({'x', 0xfc}).data(), 8), 2);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes {'x', 0xfc, 0}));
}

TEST_F(SingleByteCharacters, StepsAndBlanks) {
  const unsigned char *s = u("ab");
  EXPECT_EQ(gl_full_mbsprev(r.get(), s, s + 2), s + 1);
  EXPECT_EQ(gl_full_mbsprev(r.get(), s, s), nullptr);
  EXPECT_EQ(r->error, GL_EBADPOS);
  EXPECT_EQ(gl_mbsntslen(r.get(), u("ab  ")), 2);
  EXPECT_EQ(gl_mbsntslen(r.get(), u("ab \t ")), 4); /* a tab is a control character */
  EXPECT_EQ(gl_mbsntsbytes(r.get(), u(" a b ")), 4);
  EXPECT_EQ(gl_wcsntslen(r.get(), wide({'a', 0x100, ' '}).data()), 2); /* above 255: not blank */
  EXPECT_EQ(r->error, GL_EILSEQ);
}

}  // namespace
