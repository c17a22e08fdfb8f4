/*
** Multibyte strings: counted copies that re-check whole characters,
** searches that compare whole characters (never a trailing byte that looks
** like a character), operations on characters inside a string, trailing
** blanks, and counted forms that never read past their length. Then the
** differential: random texts in the wide and the multibyte form of several
** code sets against the C library's wide string functions.
**
** Code sets: the toy of two-byte characters, a toy of one-, two- and
** three-byte characters (some of whose trailing bytes are ASCII letters),
** the shipped single-byte locales and the shipped UTF-8 and Shift-JIS ones.
*/
#include "ctype_fixtures.h"
#include "gl_strings.h"

#include <gtest/gtest.h>
#include <wchar.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace lcotest;
using glstest::FailingAllocator;

/* Characters of the mixed toy: one byte for ASCII, two bytes for 8E xx
** (8E 61 ends in the byte of 'a'), three bytes for 8F A1 A1. */
const std::string alpha2 = "\x8e\xa1";
const std::string beta2 = "\x8e\xa2";
const std::string blank2 = "\x8e\xa3";
const std::string ka2 = "\x8e\x61";
const std::string kanji3 = "\x8f\xa1\xa1";

CtypeToy mixed_toy() {
  CtypeToy t;
  t.classes[key({0})] = 32;
  t.classes[key({'\n'})] = 16 | 32;
  t.classes[key({' '})] = 16 | 256 | 1024;
  for (int c = 0x21; c < 0x7f; ++c)
    t.classes[key({c})] = 128 | 256;
  t.classes[key({'a'})] = 2 | 4 | 128 | 256;
  t.classes[key({'A'})] = 1 | 4 | 128 | 256;
  t.classes[key({0x8e, 0xa1})] = 4 | 128 | 256;
  t.classes[key({0x8e, 0xa2})] = 4 | 128 | 256;
  t.classes[key({0x8e, 0xa3})] = 16 | 256 | 1024;
  t.classes[key({0x8e, 0x61})] = 4 | 128 | 256;
  t.classes[key({0x8f, 0xa1, 0xa1})] = 4 | 128 | 256;
  t.case_index = {{key({'A'}), 1}, {key({'a'}), 1}};
  t.pairs = {{'A', 'a'}};
  return t;
}

class MixedCharacters : public ::testing::Test {
 protected:
  Scene scene;
  LocalePtr r = load_ctype(scene, mixed_toy());
  /* The error stored so far, cleared for the next call. */
  int take() {
    const int e = r->error;
    r->error = 0;
    return e;
  }
};

unsigned char *um(std::string &s) { return reinterpret_cast<unsigned char *>(s.data()); }

/* A heap block of exactly the bytes of text, nothing after them. */
std::unique_ptr<unsigned char[]> exact(const std::string &text) {
  auto block = std::make_unique<unsigned char[]>(text.empty() ? 1 : text.size());
  std::memcpy(block.get(), text.data(), text.size());
  return block;
}

/* A destination of 128 bytes filled with '#'. */
std::string dest() { return std::string(128, '#'); }

TEST_F(MixedCharacters, CountedCopiesRecheckWholeCharacters) {
  std::string src = "x" + alpha2 + kanji3;
  struct Case {
    const char *what;
    int n;
    int result;
    int error;
    std::string written; /* the start of dst afterwards */
  };
  const Case copies[] = {
      {"whole", 3, 3, 0, "x" + alpha2 + "#"},
      {"inside a two-byte character", 2, -1, GL_EINVAL, "x\x8e#"},
      {"inside a three-byte character", 5, -1, GL_EINVAL, "x" + alpha2 + "\x8f\xa1#"},
      {"terminated", -1, 7, 0, src + std::string(1, '\0') + "#"},
  };
  for (const Case &c : copies) {
    std::string dst = dest();
    EXPECT_EQ(_dvz_gl_mbscpy(r.get(), um(dst), u(src.c_str()), c.n), c.result) << c.what;
    EXPECT_EQ(take(), c.error) << c.what;
    EXPECT_EQ(dst.substr(0, c.written.size()), c.written) << c.what;
  }

  std::string dst = "ab" + std::string(30, '#');
  EXPECT_EQ(_dvz_gl_mbscat(r.get(), um(dst), 2, u(alpha2.c_str()), 1), -1);
  EXPECT_EQ(take(), GL_EINVAL);
  EXPECT_EQ(_dvz_gl_mbscat(r.get(), um(dst), 2, u(alpha2.c_str()), 2), 4);
  dst = std::string("ab\0", 3) + std::string(29, '#');
  EXPECT_EQ(_dvz_gl_mbscat(r.get(), um(dst), -1, u(kanji3.c_str()), -1), 2 + 3 + 1)
      << "terminated: both lengths, the source's terminator included";
  EXPECT_EQ(dst.substr(0, 7), "ab" + kanji3 + std::string(1, '\0') + "#");
  EXPECT_EQ(gl_full_mbscat(r.get(), um(dst), u("z")), um(dst));
  EXPECT_STREQ(dst.c_str(), ("ab" + kanji3 + "z").c_str());

  dst = dest();
  EXPECT_EQ(gl_mbsncpy(r.get(), um(dst), u(src.c_str()), 10), um(dst))
      << "n above the character count copies all and terminates";
  EXPECT_EQ(dst.substr(0, 8), src + std::string(1, '\0') + "#");
  dst = dest();
  EXPECT_EQ(_dvz_gl_mbsncpy(r.get(), um(dst), u(src.c_str()), 6, 2), 3);
  EXPECT_EQ(dst.substr(0, 4), "x" + alpha2 + "#") << "counted: no terminator";
  EXPECT_EQ(_dvz_gl_mbsncpy(r.get(), um(dst), u(src.c_str()), 4, 3), -1)
      << "the third character runs past the count";
  EXPECT_EQ(take(), GL_EINVAL);

  dst = std::string("z\0", 2) + std::string(30, '#');
  EXPECT_EQ(gl_mbsncat(r.get(), um(dst), u(src.c_str()), 2), um(dst));
  EXPECT_EQ(dst.substr(0, 5), "zx" + alpha2 + std::string(1, '\0'));
  EXPECT_EQ(_dvz_gl_mbsncat(r.get(), um(dst), 4, u(kanji3.c_str()), 3, 5), 7);
  EXPECT_EQ(_dvz_gl_mbsncat(r.get(), um(dst), 1, u(src.c_str()), 6, 2), 4);
  EXPECT_EQ(take(), 0);
}

TEST_F(MixedCharacters, SearchesCompareWholeCharacters) {
  /* a A b K A, where K is the three-byte character. */
  std::string text = "a" + alpha2 + "b" + kanji3 + alpha2;
  const unsigned char *s = u(text.c_str());
  gl_locale *l = r.get();
  EXPECT_EQ(gl_full_mbschr(l, s, u(alpha2.c_str())), s + 1);
  EXPECT_EQ(gl_full_mbsrchr(l, s, u(alpha2.c_str())), s + 7);
  EXPECT_EQ(gl_full_mbschr(l, s, u("")), s + 9) << "the null character finds the terminator";
  EXPECT_EQ(gl_full_mbsmbs(l, s, u(("b" + kanji3).c_str())), s + 3);
  EXPECT_EQ(gl_full_mbsmbs(l, s, u("")), s);
  EXPECT_EQ(gl_full_mbsspn(l, s, u(("a" + alpha2).c_str())), 2);
  EXPECT_EQ(gl_full_mbscspn(l, s, u(kanji3.c_str())), 3);
  EXPECT_EQ(gl_full_mbspbrk(l, s, u(("b" + kanji3).c_str())), s + 3);
  EXPECT_EQ(take(), 0);

  /* "a" inside 8E 61 is a trailing byte, not the character a. */
  std::string ka = ka2 + "b";
  const unsigned char *k = u(ka.c_str());
  const std::function<const unsigned char *()> absent[] = {
      [&] { return gl_full_mbschr(l, s, u(beta2.c_str())); },
      [&] { return gl_full_mbschr(l, k, u("a")); },
      [&] { return gl_full_mbsrchr(l, k, u("a")); },
      [&] { return gl_full_mbsmbs(l, k, u("ab")); },
      [&] { return gl_full_mbspbrk(l, k, u("a")); },
      [&] { return gl_full_mbsmbs(l, u(""), u("")); }, /* an empty s */
  };
  for (const auto &search : absent) {
    r->error = GL_EILSEQ;
    EXPECT_EQ(search(), nullptr);
    EXPECT_EQ(take(), 0) << "nothing found clears the error word";
  }
  EXPECT_EQ(gl_full_mbsspn(l, k, u("a")), 0);
  EXPECT_EQ(gl_full_mbscspn(l, k, u("a")), 2);

  EXPECT_EQ(gl_full_mbschr(l, u("a\xff"), u("b")), nullptr);
  EXPECT_EQ(take(), GL_EILSEQ) << "an invalid character is a failure, not 'absent'";
  EXPECT_EQ(_dvz_gl_mbschr(l, s, -1, u("a"), 1), nullptr);
  EXPECT_EQ(take(), GL_EMIXEDLEN);
}

TEST_F(MixedCharacters, CountedFormsNeverReadPastTheirLength) {
  /* a A and the first byte of K: the count ends inside a character. */
  auto s = exact("a" + alpha2 + "\x8f");
  auto k = exact(kanji3);
  auto a_alpha = exact("a" + alpha2);
  auto alpha = exact(alpha2);
  gl_locale *l = r.get();
  std::string dst = dest();
  struct Case {
    const char *what;
    std::function<long()> call;
    long result;
    int error;
  };
  const Case cases[] = {
      {"spn stops before the cut", [&] { return _dvz_gl_mbsspn(l, s.get(), 4, u("a"), 1); }, 1, 0},
      {"spn reaches the cut", [&] { return _dvz_gl_mbsspn(l, s.get(), 4, a_alpha.get(), 3); }, -1,
       GL_EINVAL},
      {"cspn reaches the cut", [&] { return _dvz_gl_mbscspn(l, s.get(), 4, k.get(), 3); }, -1,
       GL_EINVAL},
      {"spn of three bytes", [&] { return _dvz_gl_mbsspn(l, s.get(), 3, a_alpha.get(), 3); }, 2, 0},
      {"chr reaches the cut",
       [&] { return _dvz_gl_mbschr(l, s.get(), 4, k.get(), 3) == nullptr ? -1L : 0L; }, -1,
       GL_EINVAL},
      {"chr in three bytes",
       [&] { return _dvz_gl_mbschr(l, s.get(), 3, alpha.get(), 2) - s.get(); }, 1, 0},
      {"mbs longer than the rest",
       [&] { return _dvz_gl_mbsmbs(l, s.get() + 1, 2, a_alpha.get(), 3) == nullptr ? -1L : 0L; },
       -1, 0},
      {"pbrk", [&] { return _dvz_gl_mbspbrk(l, s.get(), 3, alpha.get(), 2) - s.get(); }, 1, 0},
      {"ntslen of three bytes", [&] { return _dvz_gl_mbsntslen(l, s.get(), 3); }, 2, 0},
      {"ntslen reaches the cut", [&] { return _dvz_gl_mbsntslen(l, s.get(), 4); }, -1, GL_EINVAL},
      {"ncpy", [&] { return _dvz_gl_mbsncpy(l, um(dst), s.get(), 4, 2); }, 3, 0},
      {"cpy", [&] { return _dvz_gl_mbscpy(l, um(dst), s.get(), 4); }, -1, GL_EINVAL},
      {"ncat", [&] { return _dvz_gl_mbsncat(l, um(dst), 1, s.get(), 4, 5); }, -1, GL_EINVAL},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.call(), c.result) << c.what;
    EXPECT_EQ(take(), c.error) << c.what;
  }
}

TEST_F(MixedCharacters, CharactersInsideAString) {
  std::string text = "a" + alpha2 + kanji3 + "b" + std::string(24, '\0');
  unsigned char *s = um(text);
  gl_locale *l = r.get();
  EXPECT_EQ(gl_full_getmbsi(l, s, 2), s + 3);
  EXPECT_EQ(gl_full_getmbsi(l, s, 5), s + 8) << "steps over the terminator";
  EXPECT_EQ(gl_getmbsinull(l, s, 3), s + 6);
  EXPECT_EQ(gl_getmbsinull(l, s, 9), s + 7) << "the terminator when s is shorter";
  EXPECT_EQ(gl_mbsbytes_nt(l, s), 7);
  EXPECT_EQ(gl_full_getmbsi(l, s, -1), nullptr);
  EXPECT_EQ(take(), GL_ENEGCOUNT);

  int len = -9;
  EXPECT_EQ(gl_full_charoffset(l, s, s + 5, &len), 2);
  EXPECT_EQ(len, 3);
  EXPECT_EQ(gl_full_charoffset(l, s, s, &len), 0);
  EXPECT_EQ(len, 1);
  EXPECT_EQ(gl_full_charoffset(l, s + 1, s, &len), -1);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(take(), GL_EINVAL);
  const unsigned char *bad =
      u("a\xff"
        "bc");
  EXPECT_EQ(gl_full_charoffset(l, bad, bad + 2, &len), -1);
  EXPECT_EQ(take(), GL_EILSEQ);

  /* Replacing a two-byte character by a three-byte one moves the rest. */
  EXPECT_EQ(gl_mbcreplace(l, s + 1, u(kanji3.c_str())), s + 1);
  EXPECT_STREQ(text.c_str(), ("a" + kanji3 + kanji3 + "b").c_str());
  EXPECT_EQ(gl_full_putmbsi(l, s, 2, u("z")), s);
  EXPECT_STREQ(text.c_str(), ("a" + kanji3 + "zb").c_str());
  EXPECT_EQ(gl_mbcreplace(l, s + 6, u(alpha2.c_str())), s + 6) << "at the terminator";
  EXPECT_STREQ(text.c_str(), ("a" + kanji3 + "zb" + alpha2).c_str());
  EXPECT_EQ(gl_mbcreplace(l, s, u("\xff")), nullptr);
  EXPECT_EQ(take(), GL_EILSEQ);
  {
    FailingAllocator refuse(1);
    EXPECT_EQ(gl_full_putmbsi(l, s, 0, u("q")), nullptr);
    EXPECT_EQ(take(), GL_ENOMEM);
  }
  EXPECT_STREQ(text.c_str(), ("a" + kanji3 + "zb" + alpha2).c_str()) << "unchanged";
}

TEST_F(MixedCharacters, TrailingBlanksAreCut) {
  struct Case {
    std::string text;
    int blanks_at; /* gl_mbsp offset, -1 NULL */
    std::string after;
  };
  const Case cases[] = {
      {"ab", -1, "ab"},
      {"  ", 0, ""},
      {"a " + blank2 + " ", 1, "a"},
      {" " + alpha2, -1, " " + alpha2},
      {"a\n ", 2, "a\n"}, /* a newline is a control, not a blank */
      {"", -1, ""},
  };
  for (const Case &c : cases) {
    std::string text = c.text;
    const unsigned char *p = gl_mbsp(r.get(), u(text.c_str()));
    EXPECT_EQ(p == nullptr ? -1 : p - u(text.c_str()), c.blanks_at) << c.text;
    unsigned char *cut = gl_mbsntstrunc(r.get(), um(text));
    EXPECT_EQ(cut == nullptr ? -1 : cut - um(text), c.blanks_at) << c.text;
    EXPECT_STREQ(text.c_str(), c.after.c_str());
  }
  std::string text = "a " + blank2;
  EXPECT_EQ(_dvz_gl_mbsntslen(r.get(), u(text.c_str()), 0), 0);
  EXPECT_EQ(_dvz_gl_mbsntslen(r.get(), u(text.c_str()), 4), 1);
  EXPECT_EQ(_dvz_gl_mbsntslen(r.get(), u(text.c_str()), -1), 1);
  EXPECT_EQ(_dvz_gl_mbsntslen(r.get(), u(text.c_str()), -2), -1);
  EXPECT_EQ(take(), GL_EBADARG);

  Wide w = wide({'a', 0x8ea3, ' ', 0});
  EXPECT_EQ(gl_wcsntstrunc(r.get(), w.data()), w.data() + 1);
  EXPECT_EQ(w, wide({'a', 0, ' ', 0}));
  EXPECT_EQ(gl_wcsntstrunc(r.get(), w.data()), nullptr);
}

TEST_F(MixedCharacters, WideCopyGrowsAndGivesBackItsMemory) {
  std::string text = "ab" + alpha2 + kanji3 + "c";
  int n = -1;
  {
    FailingAllocator count;
    gl_wchar *w = gl_mbstowcslen(r.get(), u(text.c_str()), &n);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(Wide(w, w + 6), wide({'a', 'b', 0x8ea1, 0x8fa1a1, 'c'}));
    EXPECT_EQ(count.calls(), 4) << "room for 1, 2, 4, then 8 characters";
    _gl_free_ptr(w);
    EXPECT_EQ(count.outstanding(), 0);
  }
  for (int fail_at = 1; fail_at <= 4; ++fail_at) {
    FailingAllocator refuse(fail_at);
    EXPECT_EQ(gl_mbstowcslen(r.get(), u(text.c_str()), &n), nullptr) << fail_at;
    EXPECT_EQ(take(), GL_ENOMEM);
    EXPECT_EQ(refuse.outstanding(), 0);
  }
  FailingAllocator count;
  EXPECT_EQ(gl_mbstowcslen(r.get(), u("ab\xff"), &n), nullptr);
  EXPECT_EQ(take(), GL_EILSEQ);
  EXPECT_EQ(count.outstanding(), 0);

  /* The searches with a set convert it to wide characters first. */
  FailingAllocator refuse(1, true);
  EXPECT_EQ(gl_full_mbsspn(r.get(), u(text.c_str()), u("ab")), -1);
  EXPECT_EQ(take(), GL_ENOMEM);
  EXPECT_EQ(_dvz_gl_mbspbrk(r.get(), u(text.c_str()), 2, u("b"), 1), nullptr);
  EXPECT_EQ(take(), GL_ENOMEM);
}

TEST_F(TwoByteCharacters, CopiesOffsetsAndSearchesOfTwoByteCharacters) {
  const std::string text("\0A\0b\0\0", 6);
  std::string dst = dest();
  EXPECT_EQ(_dvz_gl_mbscpy(r.get(), um(dst), u(text.data()), 3), -1)
      << "ends inside the second character";
  EXPECT_EQ(err(), GL_EINVAL);
  r->error = 0;
  EXPECT_EQ(_dvz_gl_mbscpy(r.get(), um(dst), u(text.data()), -1), 6);
  EXPECT_EQ(dst.substr(0, 7), text + "#");

  int len = 0;
  EXPECT_EQ(gl_full_charoffset(r.get(), u(text.data()), u(text.data()) + 3, &len), 1);
  EXPECT_EQ(len, 2);

  r->error = GL_EILSEQ;
  EXPECT_EQ(gl_full_mbschr(r.get(), u(text.data()), u("\0c")), nullptr);
  EXPECT_EQ(err(), 0);
  EXPECT_EQ(gl_full_mbschr(r.get(), u(text.data()), u("\0b")), u(text.data()) + 2);
  EXPECT_EQ(gl_full_mbschr(r.get(), u(text.data()), u("\0\0")), u(text.data()) + 4);

  std::string blanks("\0A\0 \0 \0\0", 8);
  EXPECT_EQ(gl_mbsntstrunc(r.get(), um(blanks)), um(blanks) + 2);
  EXPECT_EQ(blanks, std::string("\0A\0\0\0 \0\0", 8)) << "a two-byte terminator";
}

TEST_F(SingleByteCharacters, EveryByteIsOneCharacter) {
  std::string text = "ab\xff\xe9 ";
  const unsigned char *s = u(text.c_str());
  EXPECT_EQ(gl_full_mbschr(r.get(), s, u("\xff")), s + 2);
  EXPECT_EQ(gl_full_getmbsi(r.get(), s, 3), s + 3);
  EXPECT_EQ(gl_mbsp(r.get(), s), s + 4);
  int len = 0;
  EXPECT_EQ(gl_full_charoffset(r.get(), s, s + 3, &len), 0);
  EXPECT_EQ(len, 1);
  Wide w = wide({'a', 0x100, ' ', 0});
  EXPECT_EQ(gl_wcsntstrunc(r.get(), w.data()), w.data() + 2) << "0x100 counts as no space";
  EXPECT_EQ(r->error, GL_EILSEQ);
}

/* ---- The differential against the C library -------------------------------- */

/* A code set for the differential: how to load it and the characters its
** random texts are made of (wide values). */
struct CodeSet {
  const char *name;
  std::function<LocalePtr(Scene &, glstest::TableGetenv &)> load;
  std::vector<gl_wchar> alphabet;
};

LocalePtr load_shipped(glstest::TableGetenv &env, const std::string &data, const char *file) {
  LocalePtr r = new_shipped_record(env, data);
  EXPECT_EQ(load(r.get(), GL_ALL, file), query_naming(file));
  EXPECT_EQ(r->error, 0) << file;
  return r;
}

const std::string build_data = std::string(GLS_BUILD_DOVARIZADIR) + "/gls";

const CodeSet code_sets[] = {
    {"two_byte_toy",
     [](Scene &s, glstest::TableGetenv &) { return load_ctype(s, two_byte_toy()); },
     {'A', 'a', '1', ' ', '.', 0x3042}},
    {"mixed_toy",
     [](Scene &s, glstest::TableGetenv &) { return load_ctype(s, mixed_toy()); },
     {'a', 'b', ' ', 0x8ea1, 0x8ea2, 0x8e61, 0x8fa1a1}},
    {"en_us_8859_1",
     [](Scene &, glstest::TableGetenv &env) {
       return load_shipped(env, GLS_SOURCE_DATA, "en_us/0333.lco");
     },
     {'a', 'b', ' ', 0xe9, 0xff, 0xa0}},
    {"de_de_8859_1",
     [](Scene &, glstest::TableGetenv &env) {
       return load_shipped(env, GLS_SOURCE_DATA, "de_de/0333.lco");
     },
     {'a', 'B', ' ', 0xdf, 0xfc}},
    /* e9, 3042 and 1F600 in UTF-8: two, three and four bytes. */
    {"en_us_utf8",
     [](Scene &, glstest::TableGetenv &env) {
       return load_shipped(env, build_data, "en_us/e01c.lco");
     },
     {'a', ' ', 0xc3a9, 0xc3a0, 0xe38182, 0xf09f9880}},
    /* Shift-JIS: 8341 ends in the byte of 'A', B1 is a one-byte kana. */
    {"ja_jp_sjis",
     [](Scene &, glstest::TableGetenv &env) {
       return load_shipped(env, build_data, "ja_jp/e006.lco");
     },
     {'a', 'A', ' ', 0x82a0, 0x8341, 0xb1}},
};

/* One random text in both forms. */
struct Text {
  Wide wide; /* ended by 0 */
  std::string mb; /* without its terminator */
  std::vector<int> offsets; /* byte offset of each character, then mb.size() */
  std::vector<wchar_t> peer; /* the wide form for the C library, ended by 0 */
  int chars() const { return static_cast<int>(wide.size()) - 1; }
  /* The character index of byte position p of a copy of mb that starts
  ** at base (-1 for NULL, -2 when p is no character boundary). */
  int index_of(const unsigned char *base, const unsigned char *p) const {
    if (p == nullptr) return -1;
    const int offset = static_cast<int>(p - base);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      if (offsets[i] == offset) return static_cast<int>(i);
    }
    return -2;
  }
};

class StringsAgreeWithTheCLibrary : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override {
    r = code_set().load(scene, env);
    ASSERT_NE(r, nullptr);
  }
  void TearDown() override { gl_free_registry_cache(); }
  const CodeSet &code_set() const { return code_sets[GetParam()]; }

  Text make(const Wide &values) {
    Text t;
    t.wide = values;
    t.wide.push_back(0);
    for (gl_wchar wc : values) {
      unsigned char bytes[4];
      t.offsets.push_back(static_cast<int>(t.mb.size()));
      int n = r->single_byte == 1 ? (bytes[0] = static_cast<unsigned char>(wc), 1)
                                  : gl_full_wctomb(r.get(), bytes, wc);
      EXPECT_GT(n, 0) << std::hex << wc;
      t.mb.append(reinterpret_cast<const char *>(bytes), n > 0 ? n : 0);
    }
    t.offsets.push_back(static_cast<int>(t.mb.size()));
    t.peer.assign(t.wide.begin(), t.wide.end());
    return t;
  }
  Text random_text(int min, int max) {
    std::uniform_int_distribution<int> length(min, max);
    std::uniform_int_distribution<std::size_t> pick(0, code_set().alphabet.size() - 1);
    Wide values(length(rng));
    for (gl_wchar &wc : values)
      wc = code_set().alphabet[pick(rng)];
    return make(values);
  }
  /* The terminated multibyte form, with the code set's terminator. */
  std::string terminated(const Text &t) const {
    return t.mb + std::string(gl_mb_loc_min(r.get()), '\0');
  }

  glstest::TableGetenv env;
  Scene scene;
  LocalePtr r;
  std::mt19937 rng {20261210};
};

TEST_P(StringsAgreeWithTheCLibrary, OnRandomTextsInBothForms) {
  gl_locale *l = r.get();
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    const Text t = random_text(1, 12);
    const Text set = random_text(0, 3);
    Text sub = random_text(1, 3);
    if (round % 2 == 0) { /* a piece of the text, so that it is found */
      std::uniform_int_distribution<int> at(0, t.chars() - 1);
      const int from = at(rng);
      const int count = std::min(t.chars() - from, 1 + round % 3);
      sub = make(Wide(t.wide.begin() + from, t.wide.begin() + from + count));
    }
    const Text one = make({t.wide[std::uniform_int_distribution<int>(0, t.chars() - 1)(rng)]});
    const Text other = random_text(1, 1);

    const std::string tz = terminated(t), setz = terminated(set), subz = terminated(sub);
    const unsigned char *mb = u(tz.c_str());
    auto mb_exact = exact(t.mb);
    auto set_exact = exact(set.mb);
    auto sub_exact = exact(sub.mb);
    const int n = t.chars(), bytes = static_cast<int>(t.mb.size());
    const int setn = set.chars(), setbytes = static_cast<int>(set.mb.size());

    /* Spans: counts in characters, equal in every form. */
    const int spn = static_cast<int>(wcsspn(t.peer.data(), set.peer.data()));
    EXPECT_EQ(gl_wcsspn(l, t.wide.data(), set.wide.data()), spn);
    EXPECT_EQ(_dvz_gl_wcsspn(l, t.wide.data(), n, set.wide.data(), setn), spn);
    EXPECT_EQ(gl_full_mbsspn(l, mb, u(setz.c_str())), spn);
    EXPECT_EQ(_dvz_gl_mbsspn(l, mb_exact.get(), bytes, set_exact.get(), setbytes), spn);
    const int cspn = static_cast<int>(wcscspn(t.peer.data(), set.peer.data()));
    EXPECT_EQ(gl_wcscspn(l, t.wide.data(), set.wide.data()), cspn);
    EXPECT_EQ(_dvz_gl_wcscspn(l, t.wide.data(), n, set.wide.data(), setn), cspn);
    EXPECT_EQ(gl_full_mbscspn(l, mb, u(setz.c_str())), cspn);
    EXPECT_EQ(_dvz_gl_mbscspn(l, mb_exact.get(), bytes, set_exact.get(), setbytes), cspn);

    /* Positions: character indices, -1 for none. */
    auto index = [&](const wchar_t *p) { return p == nullptr ? -1 : int(p - t.peer.data()); };
    auto windex = [&](const gl_wchar *p) { return p == nullptr ? -1 : int(p - t.wide.data()); };
    auto mbindex = [&](const unsigned char *p) { return t.index_of(mb, p); };
    auto xindex = [&](const unsigned char *p) { return t.index_of(mb_exact.get(), p); };
    const int pbrk = index(wcspbrk(t.peer.data(), set.peer.data()));
    EXPECT_EQ(windex(gl_wcspbrk(l, t.wide.data(), set.wide.data())), pbrk);
    EXPECT_EQ(windex(_dvz_gl_wcspbrk(l, t.wide.data(), n, set.wide.data(), setn)), pbrk);
    EXPECT_EQ(mbindex(gl_full_mbspbrk(l, mb, u(setz.c_str()))), pbrk);
    EXPECT_EQ(xindex(_dvz_gl_mbspbrk(l, mb_exact.get(), bytes, set_exact.get(), setbytes)), pbrk);

    const int str = index(wcsstr(t.peer.data(), sub.peer.data()));
    EXPECT_EQ(windex(gl_wcswcs(l, t.wide.data(), sub.wide.data())), str);
    EXPECT_EQ(windex(_dvz_gl_wcswcs(l, t.wide.data(), n, sub.wide.data(), sub.chars())), str);
    EXPECT_EQ(mbindex(gl_full_mbsmbs(l, mb, u(subz.c_str()))), str);
    EXPECT_EQ(xindex(_dvz_gl_mbsmbs(l, mb_exact.get(), bytes, sub_exact.get(),
                                    static_cast<int>(sub.mb.size()))),
              str);

    for (const Text *c : {&one, &other}) {
      const wchar_t wc = c->peer[0];
      auto cx = exact(c->mb);
      const int clen = static_cast<int>(c->mb.size());
      const std::string cz = terminated(*c);
      const int chr = index(wcschr(t.peer.data(), wc));
      EXPECT_EQ(windex(gl_wcschr(l, t.wide.data(), c->wide[0])), chr);
      EXPECT_EQ(windex(_dvz_gl_wcschr(l, t.wide.data(), n, c->wide[0])), chr);
      EXPECT_EQ(mbindex(gl_full_mbschr(l, mb, u(cz.c_str()))), chr);
      EXPECT_EQ(xindex(_dvz_gl_mbschr(l, mb_exact.get(), bytes, cx.get(), clen)), chr);
      const int rchr = index(wcsrchr(t.peer.data(), wc));
      EXPECT_EQ(windex(gl_wcsrchr(l, t.wide.data(), c->wide[0])), rchr);
      EXPECT_EQ(windex(_dvz_gl_wcsrchr(l, t.wide.data(), n, c->wide[0])), rchr);
      EXPECT_EQ(mbindex(gl_full_mbsrchr(l, mb, u(cz.c_str()))), rchr);
      EXPECT_EQ(xindex(_dvz_gl_mbsrchr(l, mb_exact.get(), bytes, cx.get(), clen)), rchr);
    }
    EXPECT_EQ(r->error, 0);

    /* Copies: the same buffers as wcsncpy and wcscat leave. */
    const int limit = std::uniform_int_distribution<int>(0, n + 3)(rng);
    std::vector<wchar_t> peer_dst(32, 0x7777);
    Wide dst(32, 0x7777);
    wcsncpy(peer_dst.data(), t.peer.data(), static_cast<std::size_t>(limit));
    EXPECT_EQ(gl_wcsncpy(dst.data(), t.wide.data(), limit), dst.data());
    EXPECT_EQ(Wide(peer_dst.begin(), peer_dst.end()), dst);
    Wide counted(32, 0x7777);
    EXPECT_EQ(_dvz_gl_wcsncpy(l, counted.data(), t.wide.data(), n, limit), std::min(n, limit));
    EXPECT_TRUE(std::equal(counted.begin(), counted.begin() + std::min(n, limit), dst.begin()));
    std::string mdst = dest();
    EXPECT_EQ(gl_mbsncpy(l, um(mdst), mb, limit), um(mdst));
    const int kept = t.offsets[std::min(n, limit)];
    EXPECT_EQ(mdst.substr(0, kept + gl_mb_loc_min(l)),
              t.mb.substr(0, kept) + std::string(gl_mb_loc_min(l), '\0'));

    std::copy(t.peer.begin(), t.peer.end(), peer_dst.begin());
    std::copy(t.wide.begin(), t.wide.end(), dst.begin());
    wcscat(peer_dst.data(), set.peer.data());
    EXPECT_EQ(gl_wcscat(dst.data(), set.wide.data()), dst.data());
    EXPECT_EQ(Wide(peer_dst.begin(), peer_dst.end()), dst);
    mdst = dest();
    std::copy(tz.begin(), tz.end(), mdst.begin());
    EXPECT_EQ(gl_full_mbscat(l, um(mdst), u(setz.c_str())), um(mdst));
    EXPECT_EQ(mdst.substr(0, tz.size() - gl_mb_loc_min(l) + setz.size()), t.mb + setz);
    EXPECT_EQ(r->error, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(CodeSets, StringsAgreeWithTheCLibrary,
                         ::testing::Range<std::size_t>(0, std::size(code_sets)),
                         [](const ::testing::TestParamInfo<std::size_t> &info) {
                           return std::string(code_sets[info.param].name);
                         });

}  // namespace
