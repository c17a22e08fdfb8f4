/*
** Thai collation: leading vowels after their consonant, tone marks by
** position and mark, trailing blanks, the key's two parts, the hand-over
** from the wide comparer and key builder, and long input that passes the
** fixed mark and key areas.
*/
#include "collation_support.h"
#include "peer_locales.h"

#include <gtest/gtest.h>

#include <locale.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace colltest;

namespace {

/* TIS-620 bytes. */
const std::string ko = "\xA1", kho = "\xA2", kho2 = "\xA3"; /* consonants */
const std::string sara_e = "\xE0", sara_ae = "\xE1"; /* leading vowels */
const std::string mai_ek = "\xE8", mai_tho = "\xE9"; /* tone marks */

CollateToy thai_kind() {
  CollateToy c;
  c.kind = "thai_smo";
  return c;
}

int thai(const std::string &a, const std::string &b) {
  return bythcmpr(u(a), static_cast<int>(a.size()), u(b), static_cast<int>(b.size()));
}

TEST(ThaiOrder, NormativeCases) {
  struct Case {
    const char *what;
    std::string a, b;
    int expected;
  };
  const Case cases[] = {
      {"a consonant after a leading vowel sorts after the bare consonant", sara_e + ko, ko, 1},
      {"... and after the consonant followed by any other", sara_e + ko, ko + kho, 1},
      {"... then by vowel", sara_e + ko, sara_ae + ko, -1},
      {"... the vowel counts after the consonant", sara_ae + ko, sara_e + kho, -1},
      {"tone marks: the earlier position first", ko + mai_ek + kho + kho2, ko + kho + mai_ek + kho2,
       -1},
      {"tone marks: the smaller mark first", ko + mai_ek + kho, ko + mai_tho + kho, -1},
      {"tone marks: none before some", ko + kho, ko + mai_ek + kho, -1},
      {"tone marks decide only between otherwise equal words", ko + mai_tho + kho,
       ko + mai_ek + kho2, -1},
      {"equal", sara_e + ko + mai_ek, sara_e + ko + mai_ek, 0},
      {"trailing blanks", ko + kho, ko + kho + "  ", 0},
      {"trailing 0xA0", ko + kho + "\xA0", ko + kho, 0},
      {"a one-vowel string by first bytes", sara_e, ko, 1},
      {"a one-vowel string by first bytes, reversed", ko + kho, sara_e, -1},
      {"a one-vowel string against a longer one", sara_e, sara_ae + ko, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(thai(c.a, c.b), c.expected);
    EXPECT_EQ(thai(c.b, c.a), -c.expected);
  }
  EXPECT_EQ(isallspace(u(" \xA0 "), 3), 1);
  EXPECT_EQ(isallspace(u(""), 0), 1);
  EXPECT_EQ(isallspace(u(" x"), 2), 0);
}

TEST(ThaiOrder, KeysHoldTheTextThenTheTonePairs) {
  struct Case {
    std::string text, key;
  };
  const Case cases[] = {
      {ko + kho + "ab", ko + kho + "ab"},
      {sara_e + ko + kho, ko + sara_e + kho},
      /* mark after one byte: position 2, sort value 0x8E + (0xE8 - 0xE7) */
      {ko + mai_ek + kho, ko + kho + "\x02\x8F"},
      {ko + mai_ek + kho + mai_tho, ko + kho + "\x02\x8F\x03\x90"},
      {sara_e + ko + mai_ek, ko + sara_e + "\x03\x8F"},
      {sara_e, sara_e},
  };
  for (const Case &c : cases) {
    std::vector<unsigned char> out(300, 0xEE);
    const int n = thai_strxfrm(out.data(), u(c.text), 300);
    EXPECT_EQ(n, static_cast<int>(c.key.size()));
    EXPECT_EQ(std::string(out.begin(), out.begin() + n), c.key);
    EXPECT_EQ(out[static_cast<std::size_t>(n)], 0);
    EXPECT_EQ(out[256], 0xEE); /* nothing past 256 bytes */
  }
  EXPECT_EQ(ChType(0xE0), 2);
  EXPECT_EQ(ChType(0xEE), 3);
  EXPECT_EQ(ChType(0xA1), 1);
  EXPECT_EQ(Ch2Int(0xEE), 0x95);
  EXPECT_EQ(Ch2Int(0xA1), 0xA1);
}

TEST(ThaiOrder, TheLocaleSlotsAndTheWideRoutinesUseIt) {
  ToyCollation loc(thai_kind());
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  ASSERT_EQ(r->coll_kind, 2);
  const std::string a = sara_e + ko, b = ko + kho;
  EXPECT_EQ(r->mbscoll_fn(r, u(a), u(b)), 1);
  EXPECT_EQ(r->mbfscoll_fn(r, u(a), 2, u(b), 2), 1);
  EXPECT_EQ(gl_full_wcscoll(r, widen(a).data(), widen(b).data()), 1);
  EXPECT_EQ(_dvz_gl_full_wcscoll(r, widen(a).data(), 2, widen(ko).data(), 1), 1);
  EXPECT_EQ(key_of(r, a), ko + sara_e);
  unsigned char out[8] = {};
  EXPECT_EQ(gl_wcsxfrm(r, out, widen(a).data(), sizeof out), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 2), ko + sara_e);

  r->error = 0;
  EXPECT_EQ(_dvz_gl_thaismoncoll(r, u(a), -1, u(b), 5), 0);
  EXPECT_EQ(r->error, GL_EMIXEDLEN);
  r->error = 0;
  EXPECT_EQ(_gl_thaismocoll(r, nullptr, u(b)), 0);
  EXPECT_EQ(r->error, GL_ENULLPTR);
}

TEST(ThaiOrder, LongInputStaysWithinTheFixedAreas) {
  /* 600 tone marks: the marks past the 512th are not kept, so a difference
  ** there no longer counts; one within them still does. */
  std::string marks = ko;
  for (int i = 0; i < 600; ++i)
    marks += (i % 2 == 0 ? mai_ek : mai_tho);
  std::string late = marks, early = marks;
  late[590] = mai_tho[0] == late[590] ? mai_ek[0] : mai_tho[0];
  early[10] = mai_tho[0] == early[10] ? mai_ek[0] : mai_tho[0];
  EXPECT_EQ(thai(marks, late), 0);
  EXPECT_NE(thai(marks, early), 0);

  std::vector<unsigned char> out(400, 0xEE);
  EXPECT_EQ(thai_strxfrm(out.data(), u(marks), 400), 1 + 2 * 600);
  EXPECT_EQ(out[0], 0xA1);
  EXPECT_EQ(out[255], 0); /* the key stops at 255 bytes */
  EXPECT_EQ(out[256], 0xEE);

  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += static_cast<char>(i % 3 == 0 ? 0xE0 : 0xA1 + i % 40);
  EXPECT_EQ(thai_strxfrm(out.data(), u(text), 400), 2000);
  EXPECT_EQ(out[256], 0xEE);
  std::vector<unsigned char> small(10, 0xEE);
  EXPECT_EQ(thai_strxfrm(small.data(), u(text), 4), 2000);
  EXPECT_EQ(small[4], 0xEE);
  EXPECT_EQ(thai(text, text + "x"), -1);
  EXPECT_EQ(thai(text, text), 0);
}

/* The shipped Thai locale installs the Thai routines; on words where the
** two agree by design (a leading vowel after its consonant, tone marks
** deciding only between otherwise equal words) it orders as the C
** library's th_TH does. */
TEST(ThaiOrder, ShippedLocaleOrdersWordsAsTheCLibrary) {
  glstest::TableGetenv env;
  LocalePtr r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
  ASSERT_NE(lcotest::load(r.get(), GL_ALL, "th_th/e01d.lco"), "(null)");
  ASSERT_EQ(r->error, 0);
  EXPECT_EQ(r->mbscoll_fn, _gl_thaismocoll);
  EXPECT_EQ(r->mbfscoll_fn, _dvz_gl_thaismoncoll);
  EXPECT_EQ(r->mbsxfrm_fn, _gl_thaismoxfrm);
  locale_t peer = glstest::peer_locale("th_TH", "TIS-620");
  ASSERT_NE(peer, nullptr);
  /* ko, ko-kho, sara_e ko, sara_ae ko, ko mai_ek kho, kho, sara_e kho. */
  const std::vector<std::string> words = {
      ko,           ko + kho, ko + mai_ek + kho,  sara_e + ko,    sara_ae + ko, kho, kho + kho2,
      sara_e + kho, kho2,     ko + mai_tho + kho, ko + kho + kho2};
  for (const std::string &a : words) {
    for (const std::string &b : words) {
      SCOPED_TRACE(a + " against " + b);
      const int ours = sign(r->mbscoll_fn(r.get(), u(a), u(b)));
      EXPECT_EQ(ours, sign(strcoll_l(a.c_str(), b.c_str(), peer)));
      EXPECT_EQ(ours, key_sign(key_of(r.get(), a), key_of(r.get(), b)));
    }
  }
  gl_free_registry_cache();
}

}  // namespace
