/*
** Collation by weight tables: the rules a toy locale shows one at a time
** (prefixes, IGNORE, code-point ties, expansions, elements, backward
** passes), the single-byte comparers against the general one on locales
** of every shape, the comparers against their own keys, the record's
** collation cache against the table walk (shipped locales, copies, a
** failed allocation), strings at the edge of the short-string buffer, and
** the errors.
*/
#include "collation_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

using namespace colltest;

namespace {

/* A toy COLLATE over the listed bytes: each its own row (from 1) with its
** weights per pass; every other byte takes row 0, whose weights are 250
** (after all the listed ones). */
CollateToy toy(const std::vector<std::pair<int, std::vector<uint16_t>>> &bytes,
               std::vector<int> flags = {1}) {
  CollateToy c;
  c.order = 0;
  c.passes = static_cast<int>(flags.size());
  c.flags = flags;
  c.highest_weight = 250;
  c.rows.clear();
  c.weights.assign(1, std::vector<uint16_t>(flags.size(), 250));
  for (const auto &[b, w] : bytes) {
    c.rows[lcotest::key({b})] = static_cast<uint16_t>(c.weights.size());
    c.weights.push_back(w);
  }
  c.highest_row = static_cast<int>(c.weights.size()) - 1;
  return c;
}

/* Adds an element with its own row and weights. */
void add_element(CollateToy &c, std::vector<uint32_t> chars, std::vector<uint16_t> w) {
  c.elements.push_back({static_cast<uint16_t>(c.weights.size()), std::move(chars)});
  c.weights.push_back(std::move(w));
  c.highest_row = static_cast<int>(c.weights.size()) - 1;
}

struct RuleCase {
  const char *what;
  CollateToy collate;
  std::vector<std::tuple<std::string, std::string, int>> pairs;
};

std::vector<RuleCase> rule_cases() {
  std::vector<RuleCase> cases;
  cases.push_back({"a prefix with weights left in the other is smaller",
                   toy({{'a', {2}}, {'b', {3}}, {'c', {4}}}),
                   {{"ab", "abc", -1}, {"abc", "ab", 1}, {"", "a", -1}, {"ab", "ab", 0}}});
  cases.push_back({"IGNORE is skipped on its own pass only",
                   toy({{'a', {2, 2}}, {'b', {3, 3}}, {'c', {4, 4}}, {'-', {1, 10}}}, {1, 1}),
                   {{"a-c", "ab", 1}, {"a-b", "ab", 1}, {"-ab", "ab", 1}, {"a-b", "a-b", 0}}});
  cases.push_back({"equal values tie on the code only with bit 15",
                   toy({{'x', {0x8005}}, {'y', {0x8005}}, {'p', {6}}, {'q', {6}}}),
                   {{"x", "y", -1}, {"y", "x", 1}, {"p", "q", 0}, {"xp", "xq", 0}}});
  {
    CollateToy c = toy({{'a', {2}}, {'e', {3}}, {'f', {4}}, {'E', {0x4000}}});
    c.expansions = {{'a', 'e'}};
    cases.push_back({"an expansion weight compares like its expansion",
                     c,
                     {{"E", "ae", 0}, {"E", "af", -1}, {"Ef", "aef", 0}, {"aE", "aae", 0}}});
  }
  {
    CollateToy c = toy({{'c', {10}}, {'h', {11}}, {'x', {12}}, {'d', {20}}});
    add_element(c, {'c', 'h'}, {30});
    add_element(c, {'c', 'h', 'x'}, {5});
    cases.push_back({"of two elements at one position the earlier listed is used",
                     c,
                     {{"chx", "d", 1}, {"ch", "d", 1}, {"c", "d", -1}, {"chx", "chy", -1}}});
  }
  cases.push_back({"a backward pass decides from the end",
                   toy({{'e', {5, 2}}, {'E', {5, 3}}, {'a', {4, 2}}}, {1, 2}),
                   {{"eE", "Ee", 1}, {"Ee", "eE", -1}, {"aE", "ae", 1}, {"eEa", "Eea", 1}}});
  return cases;
}

TEST(CollationRules, ToyLocalesOrderAsTheirTablesSay) {
  for (const RuleCase &c : rule_cases()) {
    SCOPED_TRACE(c.what);
    ToyCollation loc(c.collate);
    ASSERT_TRUE(loc.loaded());
    gl_locale *r = loc.get();
    for (const auto &[a, b, expected] : c.pairs) {
      SCOPED_TRACE("\"" + a + "\" against \"" + b + "\"");
      EXPECT_EQ(sign(_gl_im_mbscoll(r, u(a), u(b))), expected);
      EXPECT_EQ(sign(r->mbscoll_fn(r, u(a), u(b))), expected);
      EXPECT_EQ(sign(r->mbfscoll_fn(r, u(a), static_cast<int>(a.size()), u(b),
                                    static_cast<int>(b.size()))),
                expected);
      EXPECT_EQ(sign(gl_full_wcscoll(r, widen(a).data(), widen(b).data())), expected);
      EXPECT_EQ(key_sign(key_of(r, a), key_of(r, b)), expected);
      EXPECT_EQ(r->error, 0);
    }
  }
}

/* ---- Locales of every shape: single-byte pairs against the general ----- */

/* Rows: byte b is row b; elements "ch" and "ll" rows 256 and 257. Letters
** share a primary with their upper case and accented forms, which differ on
** the second pass; '-' is IGNORE on the first pass; punctuation and control
** bytes tie on the code; with expansions ß is "ss" and æ "ae". */
CollateToy alphabet_toy(bool expansions, bool elements, std::vector<int> flags) {
  CollateToy c;
  c.order = 0;
  c.passes = static_cast<int>(flags.size());
  c.flags = flags;
  c.highest_weight = 200;
  c.rows.clear();
  c.weights.clear();
  auto letter = [](int lower) { return static_cast<uint16_t>(100 + 2 * (lower - 'a')); };
  for (int b = 0; b < 256; ++b) {
    if (b > 0) c.rows[lcotest::key({b})] = static_cast<uint16_t>(b);
    uint16_t first = 0x8000 | 10, second = 2;
    if (b >= 'a' && b <= 'z') {
      first = letter(b);
    } else if (b >= 'A' && b <= 'Z') {
      first = letter(b - 'A' + 'a');
      second = 3;
    } else if (b >= '0' && b <= '9') {
      first = static_cast<uint16_t>(50 + b - '0');
    } else if (b == '-') {
      first = 1;
      second = 5;
    } else if (b >= '!' && b <= '/') {
      first = 0x8000 | 20;
    } else if ((b >= 0xE0 && b <= 0xE5) || (b >= 0xC0 && b <= 0xC5)) {
      first = letter('a');
      second = static_cast<uint16_t>(4 + (b & 7));
    } else if (b >= 0xE8 && b <= 0xEB) {
      first = letter('e');
      second = static_cast<uint16_t>(4 + (b & 7));
    } else if (b == 0xDF) {
      first = expansions ? 0x4000 : 160;
      second = expansions ? 0x4000 : 2;
    } else if (b == 0xE6) {
      first = expansions ? 0x4001 : 161;
      second = expansions ? 0x4001 : 2;
    }
    std::vector<uint16_t> row = {first, second};
    row.resize(flags.size(), 2);
    c.weights.push_back(row);
  }
  if (expansions) c.expansions = {{'s', 's'}, {'a', 'e'}};
  if (elements) {
    c.elements = {{256, {'c', 'h'}}, {257, {'l', 'l'}}};
    c.weights.push_back({static_cast<uint16_t>(letter('c') + 1), 2});
    c.weights.push_back({static_cast<uint16_t>(letter('l') + 1), 2});
  }
  c.highest_row = static_cast<int>(c.weights.size()) - 1;
  return c;
}

struct Shape {
  const char *what;
  bool expansions, elements;
  std::vector<int> flags;
  gl_mbscoll_func expected;
  gl_mbfscoll_func expected_counted;
};

const Shape shapes[] = {
    {"none", false, false, {1, 1}, _gl_is_mbscoll_back, _dvz_gl_is_mbfscoll_back},
    {"backward", false, false, {1, 2}, _gl_is_mbscoll_back, _dvz_gl_is_mbfscoll_back},
    {"expansions", true, false, {1, 1}, _gl_is_mbscoll_exp, _dvz_gl_is_mbfscoll_exp},
    {"elements", false, true, {1, 1}, _gl_is_mbscoll_elem, _dvz_gl_is_mbfscoll_elem},
    {"both", true, true, {1, 1}, _gl_is_mbscoll_exp_elem, _dvz_gl_is_mbfscoll_exp_elem},
    {"elements, backward", false, true, {1, 2}, _gl_im_mbscoll, _dvz_gl_im_mbfscoll},
    {"expansions, backward", true, false, {2, 1}, _gl_im_mbscoll, _dvz_gl_im_mbfscoll},
};

/* Bytes 0x01 and 0x02 tie on one weight and the keys cannot part their
** codes (both the smallest digits): 0x02 stays out of the alphabet. */
const std::string alphabet = "abcehlsz ABCH019-!.\x01\xDF\xE6\xE0\xE9\xC0";

TEST(CollationShapes, EachSingleByteComparerEqualsTheGeneralOneOnItsLocale) {
  for (const Shape &shape : shapes) {
    SCOPED_TRACE(shape.what);
    ToyCollation loc(alphabet_toy(shape.expansions, shape.elements, shape.flags));
    ASSERT_TRUE(loc.loaded());
    gl_locale *r = loc.get();
    ASSERT_EQ(r->mbscoll_fn, shape.expected);
    ASSERT_EQ(r->mbfscoll_fn, shape.expected_counted);
    int mismatches = 0;
    for (int x = 1; x < 256 && mismatches < 5; ++x) {
      for (int y = 1; y < 256 && mismatches < 5; ++y) {
        const unsigned char a[2] = {static_cast<unsigned char>(x), 0};
        const unsigned char b[2] = {static_cast<unsigned char>(y), 0};
        const int general = _gl_im_mbscoll(r, a, b);
        if (r->mbscoll_fn(r, a, b) != general || r->mbfscoll_fn(r, a, 1, b, 1) != general ||
            _dvz_gl_im_mbfscoll(r, a, 1, b, 1) != general) {
          ADD_FAILURE() << "bytes " << x << " and " << y;
          ++mismatches;
        }
      }
    }
    RandomStrings random(alphabet, 12);
    for (int i = 0; i < 3000; ++i) {
      const std::string a = random.next(8), b = random.next(8);
      SCOPED_TRACE("\"" + a + "\" against \"" + b + "\"");
      const int general = _gl_im_mbscoll(r, u(a), u(b));
      ASSERT_EQ(r->mbscoll_fn(r, u(a), u(b)), general);
      ASSERT_EQ(r->mbfscoll_fn(r, u(a), -1, u(b), -1), general);
      /* Counted, over a prefix of each. */
      const int na = static_cast<int>(std::min(a.size(), a.size() / 2 + i % 2)),
                nb = static_cast<int>(b.size());
      ASSERT_EQ(r->mbfscoll_fn(r, u(a), na, u(b), nb), _dvz_gl_im_mbfscoll(r, u(a), na, u(b), nb));
      ASSERT_EQ(sign(gl_full_wcscoll(r, widen(a).data(), widen(b).data())), general);
      ASSERT_EQ(key_sign(key_of(r, a), key_of(r, b)), general);
      ASSERT_EQ(r->error, 0);
    }
  }
}

TEST(CollationShapes, ExpandedCharactersCompareLikeTheirExpansions) {
  ToyCollation loc(alphabet_toy(true, true, {1, 1}));
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  const std::tuple<const char *, const char *, int> pairs[] = {{"\xDF", "ss", 0},
                                                               {"stra\xDF"
                                                                "e",
                                                                "strasse", 0},
                                                               {"\xE6", "ae", 0},
                                                               {"\xDF", "st", -1},
                                                               {"ch", "cz", 1},
                                                               {"ch", "d", -1}};
  for (const auto &[a, b, expected] : pairs) {
    SCOPED_TRACE(std::string(a) + " against " + b);
    EXPECT_EQ(sign(r->mbscoll_fn(r, u(a), u(b))), expected);
    EXPECT_EQ(sign(_gl_im_mbscoll(r, u(a), u(b))), expected);
    EXPECT_EQ(key_sign(key_of(r, a), key_of(r, b)), expected);
  }
}

/* ---- A multibyte locale ------------------------------------------------------ */

/* The wide form of a multibyte string through the record's converter. */
std::vector<gl_wchar> widen_mb(gl_locale *r, const std::string &s) {
  std::vector<gl_wchar> w(s.size() + 1, 0);
  const int n = r->mbstowcs_fn(r, w.data(), u(s), static_cast<int>(w.size()));
  EXPECT_GE(n, 0);
  w.resize(static_cast<std::size_t>(n < 0 ? 0 : n) + 1);
  w.back() = 0;
  return w;
}

TEST(CollationMultibyte, ComparerWideComparerAndKeysAgree) {
  /* a and 0x81 0x41 share a primary; c, 0x81 0x40 and the element "ab"
  ** tie on the code (the element's code 1 first); the blank is IGNORE on
  ** the first pass; the second pass runs backward. */
  CollateToy c;
  c.order = 0;
  c.passes = 2;
  c.flags = {1, 2};
  c.highest_weight = 250;
  c.rows = {{lcotest::key({'a'}), 1},        {lcotest::key({'b'}), 2},
            {lcotest::key({'c'}), 3},        {lcotest::key({0x81, 0x40}), 4},
            {lcotest::key({0x81, 0x41}), 5}, {lcotest::key({' '}), 6}};
  c.weights = {{250, 250},  {10, 2}, {11, 2}, {0x800C, 2},
               {0x800C, 3}, {10, 3}, {1, 4},  {0x800C, 2}};
  c.elements = {{7, {'a', 'b'}}};
  c.highest_row = 7;
  ToyCollation loc(c, mixed_ctype());
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  ASSERT_EQ(r->single_byte, 0);
  ASSERT_EQ(r->mbscoll_fn, _gl_im_mbscoll);
  /* The second pass, backward, parts a 0x81 0x41 from 0x81 0x41 a. */
  const std::tuple<const char *, const char *, int> fixed[] = {
      {"ab", "c", -1},
      {"c", "\x81\x40", -1},
      {"a\x81\x41",
       "\x81\x41"
       "a",
       1},
      {"a a", "aa", 1},
      {"ba", "b\x81\x41", -1},
  };
  for (const auto &[a, b, expected] : fixed) {
    SCOPED_TRACE(std::string(a) + " against " + b);
    EXPECT_EQ(sign(_gl_im_mbscoll(r, u(a), u(b))), expected);
  }
  RandomStrings random("abc \x81", 5);
  for (int i = 0; i < 3000; ++i) {
    /* 0x81 begins a two-byte character: complete each with 0x40 or 0x41. */
    auto fix = [i](std::string s) {
      for (std::size_t k = 0; k < s.size(); ++k) {
        if (static_cast<unsigned char>(s[k]) != 0x81) continue;
        const char second = (i + k) % 2 ? '\x40' : '\x41';
        s.insert(k + 1, 1, second);
        ++k;
      }
      return s;
    };
    const std::string a = fix(random.next(6)), b = fix(random.next(6));
    const int general = _gl_im_mbscoll(r, u(a), u(b));
    ASSERT_EQ(r->error, 0);
    ASSERT_EQ(sign(gl_full_wcscoll(r, widen_mb(r, a).data(), widen_mb(r, b).data())), general);
    ASSERT_EQ(
        sign(r->mbfscoll_fn(r, u(a), static_cast<int>(a.size()), u(b), static_cast<int>(b.size()))),
        general);
    ASSERT_EQ(key_sign(key_of(r, a), key_of(r, b)), general) << i;
  }
}

/* ---- Shipped single-byte locales ------------------------------------------ */

class ShippedCollation : public ::testing::TestWithParam<const char *> {};

TEST_P(ShippedCollation, ComparerWideComparerAndKeysAgree) {
  glstest::TableGetenv env;
  LocalePtr r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
  ASSERT_NE(lcotest::load(r.get(), GL_ALL, GetParam()), "(null)");
  ASSERT_EQ(r->error, 0);
  RandomStrings random("aAbBcCsSzZ09 -.,'\xDF\xE6\xE4\xC4\xE9\xC9\xF6\xFC", 7);
  for (int i = 0; i < 3000; ++i) {
    const std::string a = random.next(8), b = random.next(8);
    SCOPED_TRACE("\"" + a + "\" against \"" + b + "\"");
    const int installed = sign(r->mbscoll_fn(r.get(), u(a), u(b)));
    ASSERT_EQ(sign(_gl_im_mbscoll(r.get(), u(a), u(b))), installed);
    ASSERT_EQ(sign(gl_full_wcscoll(r.get(), widen(a).data(), widen(b).data())), installed);
    ASSERT_EQ(key_sign(key_of(r.get(), a), key_of(r.get(), b)), installed);
  }
  gl_free_registry_cache();
}

INSTANTIATE_TEST_SUITE_P(SingleByte, ShippedCollation,
                         ::testing::Values("en_us/0333.lco", "de_de/0333.lco"));

/* ---- The collation cache -------------------------------------------------- */

struct CachedLocale {
  const char *file;
  std::vector<std::string> pieces; /* characters random strings are made of */
  bool cached = true; /* the Thai comparer weighs nothing by rows */
};

void PrintTo(const CachedLocale &c, std::ostream *out) { *out << c.file; }

const std::vector<std::string> latin1_pieces = {
    "a", "A",    "b",    "c",    "C",    "s",    "z",    "0",    "9",    " ",    "-",   ".",
    "'", "\xDF", "\xE6", "\xE4", "\xC4", "\xE9", "\xC9", "\xEA", "\xF6", "\xFC", "\xE7"};
const std::vector<std::string> utf8_pieces = {"a",
                                              "A",
                                              "b",
                                              "e",
                                              "E",
                                              "z",
                                              " ",
                                              "-",
                                              "'",
                                              "\xC3\xA9",
                                              "\xC3\x89",
                                              "\xC3\xA4",
                                              "\xC3\x9F",
                                              "\xC5\x93",
                                              "\xE2\x80\x94",
                                              "\xE3\x81\x82",
                                              "\xF0\x9F\x98\x80"};

std::string random_text(std::mt19937 &rng, const std::vector<std::string> &pieces, int most) {
  std::uniform_int_distribution<int> length(0, most);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string s;
  for (int n = length(rng); n > 0; --n)
    s += pieces[pick(rng)];
  return s;
}

/* Signs of the installed comparer, the general one and the key order of
** each pair. */
std::vector<int> orders(gl_locale *r,
                        const std::vector<std::pair<std::string, std::string>> &pairs) {
  std::vector<int> signs;
  for (const auto &[a, b] : pairs) {
    signs.push_back(sign(r->mbscoll_fn(r, u(a), u(b))));
    signs.push_back(sign(_gl_im_mbscoll(r, u(a), u(b))));
    if (r->coll_kind != 2) signs.push_back(key_sign(key_of(r, a), key_of(r, b)));
  }
  return signs;
}

class ShippedCache : public ::testing::TestWithParam<CachedLocale> {};

TEST_P(ShippedCache, CacheAgreesWithTheTableWalkOnEveryCachedCharacter) {
  glstest::TableGetenv env;
  LocalePtr r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
  ASSERT_NE(lcotest::load(r.get(), GL_ALL, GetParam().file), "(null)");
  ASSERT_EQ(r->error, 0);
  const gl_coll_cache *cache = r->coll_cache;
  if (!GetParam().cached) {
    EXPECT_EQ(cache, nullptr);
  } else {
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->limit, r->single_byte == 1 ? 0x100u : 0x10000u);
    int with_rows = 0;
    for (gl_wchar wc = 0; wc < cache->limit; ++wc) {
      int walked = -1;
      const bool has = glslib::row_of_character(r.get(), wc, &walked);
      ASSERT_EQ(cache->rows[wc], has ? walked : glslib::no_row) << std::hex << wc;
      with_rows += has;
      bool starts = false;
      for (int e = 0; e < r->element_count; ++e)
        starts |= r->elements[e].count >= 1 && r->elements[e].characters[0] == wc;
      ASSERT_EQ(glslib::cache_may_start_element(cache, wc), starts) << std::hex << wc;
    }
    EXPECT_GT(with_rows, 60);
  }
  /* The same orders with the cache and with the walk alone. */
  std::mt19937 rng(11);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < 1500; ++i)
    pairs.emplace_back(random_text(rng, GetParam().pieces, 8),
                       random_text(rng, GetParam().pieces, 8));
  const std::vector<int> cached = orders(r.get(), pairs);
  gl_coll_cache *kept = r->coll_cache;
  r->coll_cache = nullptr;
  const std::vector<int> walked = orders(r.get(), pairs);
  r->coll_cache = kept;
  EXPECT_EQ(cached, walked);
  EXPECT_EQ(r->error, 0);
  gl_free_registry_cache();
}

INSTANTIATE_TEST_SUITE_P(
    Shipped, ShippedCache,
    ::testing::Values(CachedLocale {"default.lco", latin1_pieces},
                      CachedLocale {"en_us/0333.lco", latin1_pieces},
                      CachedLocale {"de_de/0333.lco", latin1_pieces},
                      CachedLocale {"fr_ca/0333.lco", latin1_pieces},
                      CachedLocale {"th_th/e01d.lco", {"a", "b", "\xA1", "\xE0", "\xE8"}, false},
                      CachedLocale {"en_us/e01c.lco", utf8_pieces},
                      CachedLocale {"ja_jp/e006.lco", {"a", "b", "\x82\xA0", "\x88\x9F"}},
                      CachedLocale {"ja_jp/e007.lco", {"a", "b", "\xA4\xA2", "\xB0\xA1"}}),
    [](const ::testing::TestParamInfo<CachedLocale> &info) {
      std::string name = info.param.file;
      name = name.substr(0, name.find('.'));
      std::replace(name.begin(), name.end(), '/', '_');
      return name;
    });

TEST(CollationCache, ACopiedRecordBuildsItsOwnAndFreesItOnce) {
  glstest::TableGetenv env;
  for (const char *file : {"fr_ca/0333.lco", "en_us/e01c.lco"}) {
    SCOPED_TRACE(file);
    LocalePtr source = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
    ASSERT_NE(lcotest::load(source.get(), GL_ALL, file), "(null)");
    const std::vector<std::string> &pieces = source->single_byte == 1 ? latin1_pieces : utf8_pieces;
    std::mt19937 rng(5);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 500; ++i)
      pairs.emplace_back(random_text(rng, pieces, 8), random_text(rng, pieces, 8));
    const std::vector<int> expected = orders(source.get(), pairs);

    LocalePtr copy = lcotest::new_record();
    ASSERT_EQ(gl_copy_cat(copy.get(), source.get(), GL_ALL), 0);
    ASSERT_NE(copy->coll_cache, nullptr);
    EXPECT_NE(copy->coll_cache, source->coll_cache);
    EXPECT_EQ(orders(copy.get(), pairs), expected);
    /* A second copy of COLLATE alone, dropped category first and then
    ** whole: neither touches the others' caches. */
    LocalePtr second = lcotest::new_record();
    ASSERT_NE(lcotest::load(second.get(), GL_CTYPE, file), "(null)");
    ASSERT_EQ(gl_copy_cat(second.get(), copy.get(), GL_COLLATE), 0);
    ASSERT_NE(second->coll_cache, nullptr);
    EXPECT_NE(second->coll_cache, copy->coll_cache);
    EXPECT_EQ(orders(second.get(), pairs), expected);
    gl_free_category(second.get(), GL_COLLATE);
    EXPECT_EQ(second->coll_cache, nullptr);
    second.reset();
    EXPECT_EQ(orders(copy.get(), pairs), expected);
    copy.reset();
    EXPECT_EQ(orders(source.get(), pairs), expected);
  }
  gl_free_registry_cache();
}

TEST(CollationCache, AFailedAllocationLeavesTheWalkAndNoError) {
  glstest::TableGetenv env;
  const char *file = "en_us/e01c.lco";
  LocalePtr source = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
  ASSERT_NE(lcotest::load(source.get(), GL_ALL, file), "(null)");
  std::mt19937 rng(3);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < 300; ++i)
    pairs.emplace_back(random_text(rng, utf8_pieces, 8), random_text(rng, utf8_pieces, 8));
  const std::vector<int> expected = orders(source.get(), pairs);
  LocalePtr copy = lcotest::new_record();
  ASSERT_NE(lcotest::load(copy.get(), GL_CTYPE, file), "(null)");
  {
    /* Copying COLLATE allocates nothing but the cache. */
    glstest::FailingAllocator allocator(1, true);
    ASSERT_EQ(gl_copy_cat(copy.get(), source.get(), GL_COLLATE), 0);
    EXPECT_EQ(allocator.failures(), 1);
  }
  EXPECT_EQ(copy->error, 0);
  EXPECT_EQ(copy->coll_cache, nullptr);
  EXPECT_EQ(orders(copy.get(), pairs), expected);
  gl_free_registry_cache();
}

/* Everything the comparers and the key builder give for a pair: the signs
** of the installed and general comparers (terminated and counted), of the
** wide comparer, and both keys cut to a 3-byte buffer, sized to fit and in
** a roomy buffer (with the bytes after the key). */
std::vector<std::string> outcomes(gl_locale *r, const std::string &a, const std::string &b) {
  const int na = static_cast<int>(a.size()), nb = static_cast<int>(b.size());
  const int signs[] = {
      sign(r->mbscoll_fn(r, u(a), u(b))), sign(r->mbfscoll_fn(r, u(a), na, u(b), nb)),
      sign(_gl_im_mbscoll(r, u(a), u(b))), sign(_dvz_gl_im_mbfscoll(r, u(a), na, u(b), nb)),
      sign(gl_full_wcscoll(r, widen(a).data(), widen(b).data()))};
  std::vector<std::string> out;
  for (int v : signs)
    out.push_back(std::to_string(v));
  for (const std::string *s : {&a, &b}) {
    out.push_back(key_of(r, *s));
    unsigned char cut[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    const int n = gl_full_mbsxfrm(r, cut, u(*s), 3);
    out.push_back(std::to_string(n) + ":" + std::string(reinterpret_cast<char *>(cut), 4));
    std::string roomy(4096, '\xEE');
    const int m = gl_full_mbsxfrm(r, reinterpret_cast<unsigned char *>(roomy.data()), u(*s),
                                  static_cast<int>(roomy.size()));
    out.push_back(roomy.substr(0, static_cast<std::size_t>(std::clamp(m + 2, 0, 4096))));
  }
  out.push_back(std::to_string(r->error));
  return out;
}

/* The cache lets a comparison end on the first pass as soon as simple
** characters part, and a key take every pass's weight at once; whatever
** the shortcut gives up on (a first-pass tie, an element or expansion
** reached mid-string, IGNORE, code ties, a backward first pass, long
** strings) must come out as the table walk alone gives it. */
TEST(CollationCache, ShortcutsGiveWhatTheWalkGivesOnEveryShape) {
  const std::string many(300, 'a');
  /* Octal escapes: the byte before a letter ends there. */
  const std::pair<std::string, std::string> fixed[] = {{"abc", "aBc"},     {"abc", "abc"},
                                                       {"ab", "AB-"},      {"ach", "ad"},
                                                       {"acb", "acc"},     {"xch", "xcz"},
                                                       {"ll", "lm"},       {"al", "alb"},
                                                       {"c", "ch"},        {"a\337b", "assb"},
                                                       {"a\346", "aae"},   {"a-b", "ab"},
                                                       {"-a", "a"},        {"ab-", "ab"},
                                                       {"-", ""},          {"a!", "a."},
                                                       {"a!b", "a.c"},     {"\351a", "ea"},
                                                       {"b\340", "ba"},    {"", ""},
                                                       {"9z", "0z"},       {many + "b", many + "c"},
                                                       {many + "b", many}, {many, "b"}};
  for (const Shape &shape : shapes) {
    SCOPED_TRACE(shape.what);
    ToyCollation loc(alphabet_toy(shape.expansions, shape.elements, shape.flags));
    ASSERT_TRUE(loc.loaded());
    gl_locale *r = loc.get();
    ASSERT_NE(r->coll_cache, nullptr);
    std::vector<std::pair<std::string, std::string>> pairs(std::begin(fixed), std::end(fixed));
    RandomStrings random(alphabet + "lm", 13);
    for (int i = 0; i < 1500; ++i)
      pairs.emplace_back(random.next(8), random.next(8));
    for (const auto &[a, b] : pairs) {
      SCOPED_TRACE("\"" + a.substr(0, 20) + "\" against \"" + b.substr(0, 20) + "\"");
      const std::vector<std::string> cached = outcomes(r, a, b);
      gl_coll_cache *kept = r->coll_cache;
      r->coll_cache = nullptr;
      const std::vector<std::string> walked = outcomes(r, a, b);
      r->coll_cache = kept;
      ASSERT_EQ(cached, walked);
    }
  }
}

/* ---- Short strings ------------------------------------------------------------ */

TEST(CollationShortStrings, LengthsAroundTheStackBufferCompareAsTheirContent) {
  glstest::TableGetenv env;
  struct Side {
    int length; /* characters */
    const char *last; /* the last of them, the others 'a' */
  };
  struct Case {
    Side a, b;
    int expected;
  };
  std::vector<Case> cases;
  for (int n = 250; n <= 261; ++n) {
    cases.push_back({{n, "b"}, {n, "c"}, -1}); /* the last character decides */
    cases.push_back({{n, "c"}, {n, "b"}, 1});
    cases.push_back({{n, "b"}, {n, "b"}, 0});
    cases.push_back({{n, "a"}, {n + 1, "a"}, -1}); /* a prefix */
    cases.push_back({{n + 1, "a"}, {n, "a"}, 1});
    cases.push_back({{n, "e"}, {n, "\xE9"}, -1}); /* the accent alone decides */
    cases.push_back({{n, "z"}, {n - 5, "z"}, -1});
  }
  for (const char *file : {"fr_ca/0333.lco", "en_us/e01c.lco"}) {
    LocalePtr r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
    ASSERT_NE(lcotest::load(r.get(), GL_ALL, file), "(null)");
    const bool utf8 = r->single_byte != 1;
    auto text = [utf8](const Side &side) {
      std::string last = side.last;
      if (utf8 && last == "\xE9") last = "\xC3\xA9";
      return std::string(static_cast<std::size_t>(side.length - 1), 'a') + last;
    };
    for (const Case &c : cases) {
      const std::string a = text(c.a), b = text(c.b);
      SCOPED_TRACE(std::string(file) + ": " + std::to_string(c.a.length) + " " + c.a.last +
                   " against " + std::to_string(c.b.length) + " " + c.b.last);
      EXPECT_EQ(sign(_gl_im_mbscoll(r.get(), u(a), u(b))), c.expected);
      EXPECT_EQ(sign(_dvz_gl_im_mbfscoll(r.get(), u(a), static_cast<int>(a.size()), u(b),
                                         static_cast<int>(b.size()))),
                c.expected);
      EXPECT_EQ(key_sign(key_of(r.get(), a), key_of(r.get(), b)), c.expected);
      EXPECT_EQ(r->error, 0);
    }
  }
  gl_free_registry_cache();
}

/* ---- Errors ------------------------------------------------------------------ */

TEST(CollationErrors, MixedFormsAndNullStringsGiveZeroWithTheirError) {
  ToyCollation loc(alphabet_toy(true, true, {1, 1}));
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  const gl_wchar w[] = {'a', 0};
  struct Call {
    const char *what;
    std::function<int()> call;
    int error;
  };
  const Call calls[] = {
      {"general, mixed", [&] { return _dvz_gl_im_mbfscoll(r, u("a"), 1, u("b"), -1); }, 56},
      {"installed, mixed", [&] { return r->mbfscoll_fn(r, u("a"), -1, u("b"), 1); }, 56},
      {"back, mixed", [&] { return _dvz_gl_is_mbfscoll_back(r, u("a"), -1, u("b"), 1); }, 56},
      {"wide, mixed", [&] { return _dvz_gl_full_wcscoll(r, w, 1, w, -1); }, 56},
      {"general, NULL", [&] { return _gl_im_mbscoll(r, nullptr, u("b")); }, 2},
      {"installed, NULL", [&] { return r->mbscoll_fn(r, u("a"), nullptr); }, 2},
      {"wide, NULL", [&] { return gl_full_wcscoll(r, w, nullptr); }, 2},
  };
  for (const Call &c : calls) {
    SCOPED_TRACE(c.what);
    r->error = 0;
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(r->error, c.error);
  }
}

TEST(CollationErrors, AFailedTemporaryStoresErrorThreeAndGivesZero) {
  ToyCollation loc(alphabet_toy(false, true, {1, 1}));
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  const std::string a(600, 'a'), b = std::string(599, 'a') + "b";
  const std::vector<gl_wchar> wa = widen(a), wb = widen(b);
  struct Call {
    const char *what;
    std::function<int()> call;
  };
  const Call calls[] = {
      {"multibyte copies", [&] { return _gl_im_mbscoll(r, u(a), u(b)); }},
      {"element marks", [&] { return gl_full_wcscoll(r, wa.data(), wb.data()); }},
      {"key's wide copy", [&] { return gl_full_mbsxfrm(r, nullptr, u(a), 0) < 0 ? 0 : 1; }},
  };
  for (const Call &c : calls) {
    SCOPED_TRACE(c.what);
    EXPECT_NE(c.call(), 0); /* they differ when memory is there */
    r->error = 0;
    glstest::FailingAllocator allocator(1, true);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(r->error, GL_ENOMEM);
    EXPECT_EQ(allocator.outstanding(), 0);
  }
}

}  // namespace
