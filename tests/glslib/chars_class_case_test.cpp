/*
** Character classes, case mapping (of characters and of strings, with the
** buffer length the case factor promises) and the count of characters up
** to the last one that is not blank, in a code set of two-byte characters,
** in one of mixed lengths and in the shipped single-byte locale.
*/
#include "ctype_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace lcotest;

/* A mixed code set: the terminator and 'a', 'b' of one byte, and the
** four-byte characters e0 80 80 80 and e0 80 80 81. The pair of 'a' is the
** long e0 80 80 80; 'b' is mapped onto a pair of two long characters (each
** as long as the other, but four times as long as 'b'). */
CtypeToy mixed_length_toy(const std::string &after_pairs) {
  CtypeToy t;
  t.classes = {{key({0}), 32},
               {key({'a'}), 2 | 4 | 128 | 256},
               {key({'b'}), 2 | 4 | 128 | 256},
               {key({0xe0, 0x80, 0x80, 0x80}), 1 | 4 | 128 | 256},
               {key({0xe0, 0x80, 0x80, 0x81}), 1 | 4 | 128 | 256}};
  t.case_index = {{key({'a'}), 1}, {key({0xe0, 0x80, 0x80, 0x80}), 1}, {key({'b'}), 2}};
  t.pairs = {{0xe0808080u, 'a'}, {0xe0808081u, 0xe0808080u}};
  t.after_pairs = after_pairs;
  return t;
}

TEST_F(TwoByteCharacters, TestsClasses) {
  EXPECT_EQ(gl_ctype(r.get(), "alnum"), 12);
  EXPECT_EQ(gl_ctype(r.get(), "upper"), 1);
  EXPECT_EQ(gl_ctype(r.get(), "blank"), 1024);
  EXPECT_EQ(gl_ctype(r.get(), "full_width"), 2048);
  EXPECT_EQ(gl_ctype(r.get(), "kanji"), 0);
  EXPECT_EQ(gl_ctype(r.get(), nullptr), 0);

  EXPECT_EQ(_gl_im_iswctype(r.get(), 0x41, gl_ctype(r.get(), "alnum")), 4);
  EXPECT_EQ(im_iswctype(r.get(), 0x31, 12), 8);
  EXPECT_EQ(_gl_im_ismctype(r.get(), u("\0a"), 2), 2);
  EXPECT_EQ(im_ismctype(r.get(), u("\0a"), 1), 0);
  EXPECT_EQ(err(), 0);
  EXPECT_EQ(_gl_im_iswctype(r.get(), 0x99, 0xFFFF), 0);
  EXPECT_EQ(err(), GL_EILSEQ);
  r->error = 0;
  EXPECT_EQ(_dvz_gl_im_ismctype(r.get(), u("\0a"), 1, 0xFFFF), 0);
  EXPECT_EQ(err(), GL_EINVAL);
  EXPECT_EQ(_dvz_gl_im_ismctype(r.get(), u("\0a"), 2, 0xFFFF), 2 | 4 | 128 | 256);
}

TEST_F(TwoByteCharacters, MapsCase) {
  EXPECT_EQ(_gl_im_towupper(r.get(), 0x61), 0x41u);
  EXPECT_EQ(_gl_im_towlower(r.get(), 0x41), 0x61u);
  EXPECT_EQ(im_towlower(r.get(), 0x61), 0x61u);
  EXPECT_EQ(_gl_im_towupper(r.get(), 0x31), 0x31u); /* no partner */
  EXPECT_EQ(_gl_im_towupper(r.get(), 0x99), 0x99u); /* no character */

  unsigned char out[4] = {};
  EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("\0a")), (2 << 8) | 2);
  EXPECT_EQ(Bytes(out, out + 2), (Bytes {0, 0x41}));
  EXPECT_EQ(_gl_im_tomlower(r.get(), out, u("\0A")), (2 << 8) | 2);
  EXPECT_EQ(out[1], 0x61);
  EXPECT_EQ(_gl_im_tomupper(r.get(), out,
                            u("\0"
                              "1")),
            (2 << 8) | 2); /* copied unchanged */
  EXPECT_EQ(out[1], '1');
  EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("\x07\x07")),
            (1 << 8) | 1); /* the bytes the look-up read */
  EXPECT_EQ(out[0], 0x07);
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(_dvz_gl_im_tomupper(r.get(), out, u("\0a"), 1), 0); /* cut off: nothing written */
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(_dvz_gl_im_tomlower(r.get(), out, u("\0A"), 2), (2 << 8) | 2);

  unsigned char text[16];
  EXPECT_EQ(gl_tombsupper(r.get(), text,
                          u("\0a\0 \0"
                            "1\x30\x42\0\0")),
            8);
  EXPECT_EQ(Bytes(text, text + 10), (Bytes {0, 'A', 0, ' ', 0, '1', 0x30, 0x42, 0, 0}));
  EXPECT_EQ(gl_tombslower(r.get(), text, u("\0A\x07\x07\0\0")), -1);
  EXPECT_EQ(err(), GL_EILSEQ);

  gl_wchar wout[8];
  Wide w = wide({0x61, 0x31, 0x41});
  EXPECT_EQ(gl_towcsupper(r.get(), wout, w.data()), 0);
  EXPECT_EQ(Wide(wout, wout + 4), wide({0x41, 0x31, 0x41}));
  EXPECT_EQ(gl_towcslower(r.get(), wout, w.data()), 0);
  EXPECT_EQ(Wide(wout, wout + 4), wide({0x61, 0x31, 0x61}));
  r->error = 0;
  Wide bad = wide({0x61, 0x99});
  EXPECT_EQ(gl_towcsupper(r.get(), wout, bad.data()), -1);
  EXPECT_EQ(err(), GL_EILSEQ);
}

TEST(CaseBufferLength, BufferLengthUsesTheFactorRoundedUp) {
  struct Case {
    const char *after_pairs;
    int factor;
  };
  for (const Case &c : {Case {"", 4}, Case {" 1.5", 2}, Case {" 1", 1}}) {
    Scene scene;
    LocalePtr r = load_ctype(scene, two_byte_toy(c.after_pairs));
    EXPECT_EQ(gl_case_conv_outbuflen(r.get(), 10), 10 * c.factor) << "'" << c.after_pairs << "'";
  }
}

/* The multibyte case conversions write into a buffer of
** gl_case_conv_outbuflen bytes: a file whose factor is smaller than what
** its pairs need must not load, while an honest factor works within the
** buffer it sizes. */
TEST(CaseBufferLength, PairsLongerThanTheFactorAllowsFailTheCategory) {
  struct Case {
    const char *after_pairs;
    bool loads;
  };
  for (const Case &c :
       {Case {" 1", false}, Case {" 3.9", false}, Case {" 4", true}, Case {"", true}}) {
    SCOPED_TRACE(std::string("'") + c.after_pairs + "'");
    Scene scene;
    Lco file;
    file.header = header_text();
    file.ctype = mixed_length_toy(c.after_pairs).text();
    scene.write("mixed.lco", file);
    LocalePtr r = new_record();
    std::string query = load(r.get(), GL_CTYPE, "mixed.lco");
    if (!c.loads) {
      EXPECT_EQ(query, "(null)");
      EXPECT_EQ(r->error, 11);
      continue;
    }
    ASSERT_EQ(query, "mixed.lco");
    ASSERT_EQ(r->class_map, nullptr); /* the case pairs are used, not byte maps */
    /* Exactly the room the factor promises, on the heap so that a write
    ** past it is seen. */
    const struct {
      const char *text;
      unsigned char last; /* last byte of the upper-case partner */
    } conversions[] = {{"a", 0x80}, {"b", 0x81}};
    for (const auto &v : conversions) {
      const int size = gl_case_conv_outbuflen(r.get(), static_cast<int>(std::strlen(v.text)) + 1);
      std::vector<unsigned char> out(static_cast<std::size_t>(size));
      EXPECT_EQ(gl_tombsupper(r.get(), out.data(), u(v.text)), 4) << v.text;
      EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes {0xe0, 0x80, 0x80, v.last, 0}))
          << v.text;
    }
  }
}

TEST_F(TwoByteCharacters, CountsUpToTheLastSignificantCharacter) {
  /* "a  " then the terminator: one significant character of two bytes. */
  const unsigned char *s = u("\0a\0 \0 \0\0");
  EXPECT_EQ(gl_mbsntslen(r.get(), s), 1);
  EXPECT_EQ(gl_mbsntsbytes(r.get(), s), 2);
  EXPECT_EQ(_dvz_gl_mbsntsbytes(r.get(), u("\0 \0a\0 "), 6), 4);
  EXPECT_EQ(_dvz_gl_mbsntsbytes(r.get(), u("\0 \0 "), 4), 0);
  /* A newline is space and control: not blank. */
  EXPECT_EQ(gl_mbsntslen(r.get(), u("\0a\0\n\0 \0\0")), 2);
  EXPECT_EQ(_dvz_gl_mbsntsbytes(r.get(), s, -2), -1);
  EXPECT_EQ(err(), GL_EBADARG);
  EXPECT_EQ(gl_mbsntslen(r.get(), nullptr), -1);
  EXPECT_EQ(err(), GL_ENULLPTR);
  r->error = 0;
  EXPECT_EQ(gl_mbsntslen(r.get(), u("\0a\x07\x07\0\0")), -1);
  EXPECT_EQ(err(), GL_EILSEQ);

  /* The wide form counts space (not blank) without control. */
  EXPECT_EQ(gl_wcsntslen(r.get(), wide({0x61, 0x20, 0x20}).data()), 1);
  EXPECT_EQ(gl_wcsntslen(r.get(), wide({0x20, 0x61, 0x0a, 0x20}).data()), 3);
  EXPECT_EQ(_dvz_gl_wcsntslen(r.get(), wide({0x61, 0x20, 0x61}).data(), 2), 1);
  EXPECT_EQ(_dvz_gl_wcsntslen(r.get(), wide({0x61}).data(), -3), -1);
  EXPECT_EQ(err(), GL_EBADARG);
  r->error = 0;
  EXPECT_EQ(gl_wcsntslen(r.get(), wide({0x61, 0x99}).data()), -1);
  EXPECT_EQ(err(), GL_EILSEQ);
}

TEST_F(SingleByteCharacters, MapsCaseThroughTheMaps) {
  unsigned char out[16];
  EXPECT_EQ(gl_tombsupper(r.get(), out,
                          u("stra\xdf"
                            "e \xe9\xff")),
            9);
  EXPECT_STREQ(reinterpret_cast<char *>(out),
               "STRA\xdf"
               "E \xc9\xff"); /* no partner in the code set */
  EXPECT_EQ(gl_tombslower(r.get(), out, u("\xc4Q")), 2);
  EXPECT_STREQ(reinterpret_cast<char *>(out), "\xe4q");
  EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("1")), (1 << 8) | 1);
  EXPECT_EQ(_gl_im_tomupper(r.get(), out, u("\xe4")), (1 << 8) | 1);
  EXPECT_EQ(out[0], 0xc4);

  gl_wchar wout[4];
  EXPECT_EQ(gl_towcsupper(r.get(), wout, wide({'a', 0xe4}).data()), 0);
  EXPECT_EQ(Wide(wout, wout + 3), wide({'A', 0xc4}));
  EXPECT_EQ(gl_towcsupper(r.get(), wout, wide({'a', 0x100}).data()), -1);
  EXPECT_EQ(r->error, GL_EILSEQ);
}

}  // namespace
