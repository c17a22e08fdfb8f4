/*
** The shipped locale files' collation: the routines each file installs,
** the order against the C library's strcoll_l in the locale the file was
** generated from (compiled with localedef at test time) on the alphabet
** where the generated weights are exact, and comparer, wide comparer and
** keys agreeing with one another on every file with weight tables.
*/
#include "collation_internal.h"
#include "gl_collate.h"
#include "random_text.h"
#include "shipped_locales_support.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using glstest::RandomText;

int sign(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

const unsigned char *u(const std::string &s) {
  return reinterpret_cast<const unsigned char *>(s.c_str());
}

/* A shipped file loaded from the committed data, every category. */
struct Loaded {
  explicit Loaded(const char *file) {
    r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
    EXPECT_EQ(lcotest::load(r.get(), GL_ALL, file), lcotest::query_naming(file));
    EXPECT_EQ(r->error, 0) << file;
  }
  ~Loaded() { gl_free_registry_cache(); }
  gl_locale *get() const { return r.get(); }

  glstest::TableGetenv env;
  lcotest::LocalePtr r;
};

/* The UTF-8 form of a Unicode value. */
std::string utf8(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

/* The alphabet on which the generated weights are exact: ASCII letters
** and digits and the Latin-1 letters other than the expanded ß, æ and Æ;
** in UTF-8 also the Greek and Cyrillic letters. Each entry one character
** in the file's code set. */
std::vector<std::string> exact_alphabet(bool utf8_form) {
  std::vector<uint32_t> codes;
  for (uint32_t c = '0'; c <= '9'; ++c)
    codes.push_back(c);
  for (uint32_t c = 'A'; c <= 'Z'; ++c) {
    codes.push_back(c);
    codes.push_back(c + 0x20);
  }
  for (uint32_t c = 0xC0; c <= 0xFF; ++c) {
    if (c != 0xD7 && c != 0xF7 && c != 0xDF && c != 0xE6 && c != 0xC6) codes.push_back(c);
  }
  if (utf8_form) {
    for (uint32_t c = 0x391; c <= 0x3C9; ++c)
      if (c != 0x3A2 && (c <= 0x3A9 || c >= 0x3B1)) codes.push_back(c);
    for (uint32_t c = 0x401; c <= 0x451; ++c)
      if (c != 0x40D && c != 0x450) codes.push_back(c);
  }
  std::vector<std::string> alphabet;
  for (uint32_t c : codes)
    alphabet.push_back(utf8_form ? utf8(c) : std::string(1, static_cast<char>(c)));
  return alphabet;
}

/* The key of a terminated string through the installed key builder. */
std::string key_of(gl_locale *r, const std::string &s) {
  const int n = r->mbsxfrm_fn(r, nullptr, u(s), 0);
  EXPECT_GE(n, 0) << s;
  if (n < 0) return {};
  std::vector<unsigned char> out(static_cast<std::size_t>(n) + 1);
  EXPECT_EQ(r->mbsxfrm_fn(r, out.data(), u(s), n + 1), n);
  return std::string(out.begin(), out.begin() + n);
}

/* ---- The routines each file installs ---------------------------------------- */

struct Installed {
  const char *file;
  gl_mbscoll_func mbscoll;
  gl_mbfscoll_func mbfscoll;
  gl_mbsxfrm_func mbsxfrm;
};

TEST(ShippedCollationRoutines, EachFileInstallsTheRoutinesOfItsKind) {
  /* Thai first; any multibyte locale the general ones; single-byte by
  ** elements, expansions and backward passes: en_US and de_DE have
  ** expansions (ß, æ, ½) and elements (L·), fr_CA a backward second pass
  ** too, POSIX none of them, and neither has the code order of Hebrew and
  ** Arabic. */
  const Installed files[] = {
      {"default.lco", _gl_is_mbscoll_back, _dvz_gl_is_mbfscoll_back, gl_full_mbsxfrm},
      {"he_il/0394.lco", _gl_is_mbscoll_back, _dvz_gl_is_mbfscoll_back, gl_full_mbsxfrm},
      {"ar_sa/0441.lco", _gl_is_mbscoll_back, _dvz_gl_is_mbfscoll_back, gl_full_mbsxfrm},
      {"en_us/0333.lco", _gl_is_mbscoll_exp_elem, _dvz_gl_is_mbfscoll_exp_elem, gl_full_mbsxfrm},
      {"de_de/0333.lco", _gl_is_mbscoll_exp_elem, _dvz_gl_is_mbfscoll_exp_elem, gl_full_mbsxfrm},
      {"fr_ca/0333.lco", _gl_im_mbscoll, _dvz_gl_im_mbfscoll, gl_full_mbsxfrm},
      {"en_us/e01c.lco", _gl_im_mbscoll, _dvz_gl_im_mbfscoll, gl_full_mbsxfrm},
      {"ja_jp/e006.lco", _gl_im_mbscoll, _dvz_gl_im_mbfscoll, gl_full_mbsxfrm},
      {"ja_jp/e007.lco", _gl_im_mbscoll, _dvz_gl_im_mbfscoll, gl_full_mbsxfrm},
      {"th_th/e01d.lco", _gl_thaismocoll, _dvz_gl_thaismoncoll, _gl_thaismoxfrm},
  };
  for (const Installed &f : files) {
    SCOPED_TRACE(f.file);
    Loaded loc(f.file);
    gl_locale *r = loc.get();
    EXPECT_EQ(r->mbscoll_fn, f.mbscoll);
    EXPECT_EQ(r->mbfscoll_fn, f.mbfscoll);
    EXPECT_EQ(r->mbsxfrm_fn, f.mbsxfrm);
  }
}

TEST(ShippedCollationRoutines, GeneratedTablesHaveThreePassesInTheirDirections) {
  const std::pair<const char *, int> files[] = {
      {"en_us/0333.lco", 1}, {"de_de/0333.lco", 1}, {"fr_ca/0333.lco", 2}, {"en_us/e01c.lco", 1}};
  for (const auto &[file, second_pass] : files) {
    SCOPED_TRACE(file);
    Loaded loc(file);
    gl_locale *r = loc.get();
    EXPECT_EQ(r->codeset_order, 0);
    EXPECT_EQ(r->coll_kind, 1);
    ASSERT_EQ(r->pass_count, 3);
    EXPECT_EQ(r->pass_flags[0], 1);
    EXPECT_EQ(r->pass_flags[1], second_pass);
    EXPECT_EQ(r->pass_flags[2], 1);
    EXPECT_GT(r->expansion_count, 0);
    EXPECT_GT(r->element_count, 0);
    EXPECT_LE(r->highest_weight, 0x3FFFu);
  }
}

/* ---- Against the C library ----------------------------------------------- */

struct Peer {
  const char *file;
  const char *source;
  const char *charmap;
};

void PrintTo(const Peer &p, std::ostream *out) { *out << p.file; }

constexpr Peer peers[] = {
    {"en_us/0333.lco", "en_US", "ISO-8859-1"},
    {"de_de/0333.lco", "de_DE", "ISO-8859-1"},
    {"fr_ca/0333.lco", "fr_CA", "ISO-8859-1"},
    {"en_us/e01c.lco", "en_US", "UTF-8"},
};

class ShippedCollationPeer : public ::testing::TestWithParam<Peer> {
 protected:
  void SetUp() override {
    loc = std::make_unique<Loaded>(GetParam().file);
    peer = glstest::peer_locale(GetParam().source, GetParam().charmap);
    ASSERT_NE(peer, nullptr);
  }
  bool utf8_file() const { return std::string(GetParam().charmap) == "UTF-8"; }
  std::string text(uint32_t c) const {
    return utf8_file() ? utf8(c) : std::string(1, static_cast<char>(c));
  }
  /* The first half of s, cut between characters. */
  std::string half(const std::string &s) const {
    std::size_t cut = s.size() / 2;
    while (utf8_file() && cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
      --cut;
    return s.substr(0, cut);
  }
  int ours(const std::string &a, const std::string &b) const {
    gl_locale *r = loc->get();
    return sign(r->mbscoll_fn(r, u(a), u(b)));
  }
  int theirs(const std::string &a, const std::string &b) const {
    return sign(strcoll_l(a.c_str(), b.c_str(), peer));
  }

  std::unique_ptr<Loaded> loc;
  locale_t peer = nullptr;
};

TEST_P(ShippedCollationPeer, SignsAgreeWithStrcollOnTheExactAlphabet) {
  RandomText random(exact_alphabet(utf8_file()), 12);
  for (int i = 0; i < 4000; ++i) {
    const std::string a = random.next(7);
    const std::string b = i % 4 == 0 ? half(a) + random.next(3) : random.next(7);
    ASSERT_EQ(ours(a, b), theirs(a, b)) << "\"" << a << "\" against \"" << b << "\"";
    ASSERT_EQ(loc->get()->error, 0);
  }
}

/* The expanded characters alone: equal to their expansion on the first
** pass (the keys' first passes are equal), ordered as the C library
** orders them against it and its neighbours. */
TEST_P(ShippedCollationPeer, ExpandedCharactersEqualTheirExpansionOnTheFirstPass) {
  gl_locale *r = loc->get();
  const std::pair<uint32_t, const char *> expanded[] = {
      {0xDF, "ss"}, {0xE6, "ae"}, {0xC6, "AE"}, {0xBD, "12"}};
  for (const auto &[c, expansion] : expanded) {
    const std::string x = text(c);
    SCOPED_TRACE(expansion);
    const std::string kx = key_of(r, x), ke = key_of(r, expansion);
    EXPECT_EQ(kx.substr(0, kx.find('\1')), ke.substr(0, ke.find('\1')));
    for (const std::string &other :
         {std::string(expansion), std::string(expansion) + "a", std::string(1, expansion[0]),
          std::string(1, expansion[0]) + "z", std::string("t")}) {
      EXPECT_EQ(ours(x, other), theirs(x, other)) << other;
      EXPECT_EQ(ours(other, x), theirs(other, x)) << other;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedCollationPeer, ::testing::ValuesIn(peers),
                         [](const auto &info) {
                           std::string name = info.param.file;
                           name = name.substr(0, name.find('.'));
                           std::replace(name.begin(), name.end(), '/', '_');
                           return name;
                         });

/* French orders accents from the end of the word, English from its start. */
TEST(ShippedCollationFrench, AccentsDecideFromTheEndInFrenchOnly) {
  const std::vector<std::string> words = {"c\xF4t\xE9", "cot\xE9", "c\xF4te", "cote"};
  auto sorted = [&](gl_locale *r) {
    std::vector<std::string> w = words;
    std::sort(w.begin(), w.end(), [r](const std::string &a, const std::string &b) {
      return r->mbscoll_fn(r, u(a), u(b)) < 0;
    });
    return w;
  };
  locale_t fr = glstest::peer_locale("fr_CA", "ISO-8859-1");
  ASSERT_NE(fr, nullptr);
  std::vector<std::string> theirs = words;
  std::sort(theirs.begin(), theirs.end(), [fr](const std::string &a, const std::string &b) {
    return strcoll_l(a.c_str(), b.c_str(), fr) < 0;
  });
  const std::vector<std::string> french = {"cote", "c\xF4te", "cot\xE9", "c\xF4t\xE9"};
  const std::vector<std::string> english = {"cote", "cot\xE9", "c\xF4te", "c\xF4t\xE9"};
  EXPECT_EQ(theirs, french);
  Loaded fr_ca("fr_ca/0333.lco");
  EXPECT_EQ(sorted(fr_ca.get()), french);
  Loaded en_us("en_us/0333.lco");
  EXPECT_EQ(sorted(en_us.get()), english);
}

/* ---- Self-consistency ------------------------------------------------------- */

/* Characters for the consistency runs: letters, expanded characters,
** punctuation (ignored on every pass), the middle dot of the L· elements;
** in UTF-8 also Greek, Cyrillic with its combining breve (the Й elements),
** and characters of collapsed blocks that tie on their codes. */
std::vector<std::string> mixed_alphabet(bool utf8_form) {
  std::vector<uint32_t> codes = {'a', 'A', 'e',  'l',  'L',  's',  'z',  '0',  '1',  ' ',
                                 '-', '.', 0xB7, 0xDF, 0xE6, 0xC6, 0xBD, 0xE9, 0xC9, 0xF4};
  if (utf8_form) {
    const uint32_t more[] = {0x3B1,  0x391,  0x3C9,  0x387,  0x418,   0x438,    0x306, 0x44F,
                             0x4E00, 0x4E01, 0x3042, 0xAC00, 0x1F600, 0x10FFFD, 0x140};
    codes.insert(codes.end(), std::begin(more), std::end(more));
  }
  std::vector<std::string> alphabet;
  for (uint32_t c : codes)
    alphabet.push_back(utf8_form ? utf8(c) : std::string(1, static_cast<char>(c)));
  return alphabet;
}

/* The gl_wchar form of each character (its bytes packed). */
std::vector<gl_wchar> wide(gl_locale *r, const std::string &s) {
  std::vector<gl_wchar> w(s.size() + 1, 0);
  const int n = r->mbstowcs_fn(r, w.data(), u(s), static_cast<int>(w.size()));
  EXPECT_GE(n, 0) << s;
  w.resize(static_cast<std::size_t>(std::max(n, 0)) + 1);
  w.back() = 0;
  return w;
}

TEST_P(ShippedCollationPeer, ComparerWideComparerAndKeysAgree) {
  gl_locale *r = loc->get();
  RandomText random(mixed_alphabet(utf8_file()), 5);
  for (int i = 0; i < 3000; ++i) {
    const std::string a = random.next(7);
    const std::string b = i % 3 == 0 ? a + random.next(2) : random.next(7);
    SCOPED_TRACE("\"" + a + "\" against \"" + b + "\"");
    const int installed = sign(r->mbscoll_fn(r, u(a), u(b)));
    ASSERT_EQ(
        sign(r->mbfscoll_fn(r, u(a), static_cast<int>(a.size()), u(b), static_cast<int>(b.size()))),
        installed);
    ASSERT_EQ(sign(_gl_im_mbscoll(r, u(a), u(b))), installed);
    ASSERT_EQ(sign(gl_full_wcscoll(r, wide(r, a).data(), wide(r, b).data())), installed);
    ASSERT_EQ(sign(key_of(r, a).compare(key_of(r, b))), installed);
    ASSERT_EQ(r->error, 0);
  }
}

}  // namespace
