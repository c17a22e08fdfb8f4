/*
** match_normalize_test.cpp: MATCHES and LIKE through the normaliser. The
** process's client locale is a toy single-byte locale written for the
** test: its collation is not the code-set order, '-' and '.' are ignored
** on every pass, '3', 'E' and 'e' are one class (representative 'e'), and
** the elements "xyz" and "yw" collate as 'q' and 'p' ("xyz" passes
** through "y", where "yw" begins). NCHAR operands are normalised; CHAR
** operands are not and take the byte matcher. A second toy locale (no
** 'E' class, 'B' and 'b' equal instead) shows a locale change.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gen_exprtypes.h"
#include "gen_match.h"
#include "gen_types.h"
#include "gl_registry.h"
#include "lco_builder.h"
#include "match_internal.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"
#include "temp_dir.h"
#include "value_builders.h"

namespace {

using lcotest::key;
using value_test::text_value;

constexpr const char *first_locale = "xx_XX.8859-1";
constexpr const char *second_locale = "yy_YY.8859-1";

/* Printable ASCII with the classes the matchers read (blank for ' '). */
lcotest::CtypeToy printable_ctype() {
  lcotest::CtypeToy t = lcotest::toy_ctype();
  for (int c = 0x20; c < 0x7f; ++c) {
    uint16_t mask = 64 | 128 | 256; /* punct, graph, print */
    if (c == ' ') mask = 16 | 256 | 1024;
    if (c >= '0' && c <= '9') mask = 8 | 128 | 256 | 512;
    if (c >= 'A' && c <= 'Z') mask = 1 | 4 | 128 | 256;
    if (c >= 'a' && c <= 'z') mask = 2 | 4 | 128 | 256;
    t.classes[key({c})] = mask;
  }
  return t;
}

/* Two passes with equal weights per row; digits sort after letters, so
** the order is not the code set's. second: the variant locale. */
lcotest::CollateToy normalising_collate(bool second) {
  constexpr uint16_t ignore = 1;
  constexpr int element_xyz = 0x80;
  constexpr int element_yw = 0x81;
  lcotest::CollateToy c;
  c.order = 0;
  c.passes = 2;
  c.flags = {1, 1};
  c.highest_row = element_yw;
  c.highest_weight = 0x400;
  c.rows.clear();
  std::vector<uint16_t> weight(element_yw + 1);
  for (int r = 0; r <= element_yw; ++r)
    weight[r] = static_cast<uint16_t>(0x300 + r); /* rows no character uses */
  for (int ch = 0x20; ch < 0x7f; ++ch) {
    c.rows[key({ch})] = static_cast<uint16_t>(ch);
    weight[ch] = static_cast<uint16_t>(ch >= '0' && ch <= '9' ? 0x100 + ch : ch);
  }
  weight[' '] = 0x20;
  weight['-'] = ignore;
  weight['.'] = ignore;
  if (!second) {
    weight['3'] = weight['e'];
    weight['E'] = weight['e'];
  } else {
    weight['B'] = weight['b'];
  }
  c.elements = {{element_xyz, {'x', 'y', 'z'}}, {element_yw, {'y', 'w'}}};
  weight[element_xyz] = weight['q'];
  weight[element_yw] = weight['p'];
  c.weights.clear();
  for (uint16_t w : weight)
    c.weights.push_back({w, w});
  return c;
}

lcotest::Lco normalising_locale(bool second) {
  lcotest::Lco l = lcotest::toy_locale();
  l.ctype = printable_ctype().text();
  l.collate = normalising_collate(second).text();
  return l;
}

/* A DOVARIZADIR of the process's own: the build's registry and the two toy
** locales; the locale variables the client environment reads are unset. */
class LocaleTree {
 public:
  LocaleTree() {
    const char *build = std::getenv("DOVARIZADIR");
    EXPECT_NE(build, nullptr);
    std::string registry = dvz_test::read_file(std::string(build) + "/gls/cm3/registry");
    EXPECT_FALSE(registry.empty());
    std::string registry_path = dir_.write("gls/cm3/registry", registry);
    for (bool second : {false, true}) {
      char fname[GL_LC_FSPEC_SIZE] = {};
      const char *spec = second ? second_locale : first_locale;
      EXPECT_EQ(gl_lc_spec2lc_fname(nullptr, spec, fname, registry_path.c_str(), ""), 0);
      dir_.write(std::string("gls/lc11/") + fname, normalising_locale(second).text());
    }
    for (const char *name : {"DB_LOCALE", "DBNLS", "DBLANG", "LANG", "DBDATE", "GL_DATE", "DBMONEY",
                             "GL_PATH", "LC_ALL", "LC_COLLATE", "LC_CTYPE"})
      unsetenv(name);
    setenv("DOVARIZADIR", dir_.path().c_str(), 1);
  }

 private:
  dvz_test::TempDir dir_;
};

/* Makes spec the client locale from scratch: 0 or the initialisation's
** error. */
int use_locale(const char *spec) {
  FreeAllGlsEnv();
  setenv("CLIENT_LOCALE", spec, 1);
  return chkglsinit();
}

class Normaliser : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree = new LocaleTree;
    ASSERT_EQ(use_locale(first_locale), 0) << get_glserror();
  }
  static void TearDownTestSuite() {
    FreeAllGlsEnv();
    delete tree;
    tree = nullptr;
  }
  void SetUp() override {
    gen_setansidb(0);
    gl_locale *loc = CheckGlsEnv()->locale;
    ASSERT_NE(loc, nullptr);
    ASSERT_EQ(loc->codeset_order, 0);
  }
  static LocaleTree *tree;
};
LocaleTree *Normaliser::tree = nullptr;

struct outcome {
  int status;
  int value;
};

outcome run_op(int op, int vtype, const std::string &value, int ptype, const std::string &pattern) {
  value_t v = text_value(vtype, value.data(), value.size());
  value_t p = text_value(ptype, pattern.data(), pattern.size());
  value_t r {};
  int status = exmatch(op, &v, &p, &r);
  return {status, r.vint};
}

struct op_row {
  int op;
  int vtype;
  const char *value;
  int ptype;
  const char *pattern;
  int expected;
};

void check_rows(const std::vector<op_row> &rows) {
  for (const op_row &c : rows) {
    outcome o = run_op(c.op, c.vtype, c.value, c.ptype, c.pattern);
    EXPECT_EQ(o.status, 0) << c.value << " / " << c.pattern;
    EXPECT_EQ(o.value, c.expected)
        << (c.op == EX_LIKE ? "LIKE" : "MATCHES") << " types " << c.vtype << "/" << c.ptype << " '"
        << c.value << "' '" << c.pattern << "'";
  }
}

constexpr int nchar = sql_type_nchar;
constexpr int nvarchar = sql_type_nvarchar;
constexpr int chr = sql_type_char;

/* The normalised form of a text by the current normaliser. */
std::u32string normalised(const std::u32string &text) {
  std::vector<gl_wchar> out(text.size() * 4 + 1);
  int n = wcs_normalize(normalizer, out.data(), reinterpret_cast<const gl_wchar *>(text.c_str()),
                        static_cast<int>(out.size()));
  EXPECT_GE(n, 0);
  return std::u32string(reinterpret_cast<const char32_t *>(out.data()), n > 0 ? n : 0);
}

/* Builds the normaliser of the current locale if no match has yet. */
void ensure_normaliser() {
  if (_gnorminit != 0) return;
  gl_locale *loc = CheckGlsEnv()->locale;
  ASSERT_EQ(build_normalizer(loc->ignorable_chars, loc->equivalent_chars), 1);
}

TEST_F(Normaliser, EquivalentCharactersMatchEachOtherInLiteralsAndClasses) {
  check_rows({
      {EX_LIKE, nchar, "E", nchar, "e", 1},
      {EX_LIKE, nchar, "3", nchar, "E", 1},
      {EX_MATCHES, nchar, "bEd", nchar, "b3d", 1},
      {EX_MATCHES, nchar, "E3e", nchar, "e*", 1},
      {EX_LIKE, nchar, "f", nchar, "e", 0},
      {EX_MATCHES, nchar, "E", nchar, "[e]", 1},
      {EX_MATCHES, nchar, "3", nchar, "[aE]", 1},
      {EX_MATCHES, nchar, "e", nchar, "[^3]", 0},
      {EX_MATCHES, nchar, "f", nchar, "[^3]", 1},
      {EX_MATCHES, nchar, "f", nchar, "[e]", 0},
      /* One NCHAR operand makes the comparison NCHAR. */
      {EX_LIKE, chr, "E", nvarchar, "e", 1},
      {EX_LIKE, nchar, "E", chr, "e", 1},
      /* CHAR operands are compared as they are. */
      {EX_LIKE, chr, "E", chr, "e", 0},
      {EX_MATCHES, chr, "E", chr, "[e]", 0},
  });
}

TEST_F(Normaliser, IgnorableCharactersInTheValueArePassedOver) {
  check_rows({
      {EX_LIKE, nchar, "a-b", nchar, "ab", 1},
      {EX_MATCHES, nchar, "-a.b-", nchar, "ab", 1},
      {EX_LIKE, nchar, "ab-", nchar, "ab", 1},
      {EX_LIKE, nchar, "ab-x", nchar, "ab", 0},
      {EX_LIKE, nchar, "ab", nchar, "a-b", 1},
      {EX_MATCHES, nchar, "a--b", nchar, "a*b", 1},
      {EX_MATCHES, nchar, "axb", nchar, "ab", 0},
      {EX_LIKE, chr, "a-b", chr, "ab", 0},
      /* Padding rules hold as without normalisation. */
      {EX_LIKE, nchar, "ab  ", nchar, "ab", 1},
      {EX_LIKE, nchar, "ab", nchar, "ab  ", 1},
      {EX_MATCHES, nchar, "ab", nchar, "ab[ x]", 1},
      {EX_MATCHES, nchar, "ab", nchar, "ab?", 0},
      {EX_LIKE, nchar, "ab", nchar, "ab_", 0},
  });
}

TEST_F(Normaliser, OverlappingSequenceIsMatchedThroughItsRestartLink) {
  ensure_normaliser();
  ASSERT_NE(normalizer, nullptr);
  /* "xyz" passes through a 'y' node that links back to the top-level 'y'
  ** where "yw" starts. */
  norm_node *x = nullptr;
  norm_node *y = nullptr;
  for (norm_node *n = normalizer->trie; n != nullptr; n = n->sibling) {
    if (n->wc == 'x') x = n;
    if (n->wc == 'y') y = n;
    if (n->sibling != nullptr) {
      EXPECT_LT(n->wc, n->sibling->wc) << "siblings ascend";
    }
  }
  ASSERT_NE(x, nullptr);
  ASSERT_NE(y, nullptr);
  ASSERT_NE(x->child, nullptr);
  EXPECT_EQ(x->child->wc, static_cast<gl_wchar>('y'));
  EXPECT_EQ(x->child->restart, y);
  EXPECT_EQ(y->restart, nullptr) << "a top-level node never links to itself";
  EXPECT_EQ(normalizer->index[static_cast<unsigned char>('y')], y);

  struct row {
    std::u32string text;
    std::u32string expected;
  };
  const row rows[] = {
      {U"xyz", U"q"},   {U"xyw", U"xp"},  {U"xyzyw", U"qp"}, {U"xy", U"xy"},    {U"xyx", U"xyx"},
      {U"x-yw", U"xp"}, {U"E3e", U"eee"}, {U"a.b-", U"ab"},  {U"xxyw", U"xxp"}, {U"yxyz", U"yq"},
  };
  for (const row &c : rows)
    EXPECT_EQ(normalised(c.text), c.expected)
        << std::string(c.text.begin(), c.text.end()) << " normalised";

  check_rows({
      {EX_LIKE, nchar, "xyw", nchar, "xp", 1},
      {EX_LIKE, nchar, "xp", nchar, "xyw", 1},
      {EX_LIKE, nchar, "xyz", nchar, "q", 1},
      {EX_MATCHES, nchar, "axywb", nchar, "*p*", 1},
      /* "yw" is one collating unit: the literal "xy" stops inside it. */
      {EX_LIKE, nchar, "xyw", nchar, "xy%", 0},
      /* A sequence longer than what is left of the value. */
      {EX_LIKE, nchar, "xy", nchar, "xy", 1},
      {EX_LIKE, nchar, "axy", nchar, "%xy", 1},
  });
}

/* The queue under the normaliser, step by step. The ring is first filled
** and drained so that a wrong un-read would return a stale 's'. */
TEST_F(Normaliser, QueueTableEmptyPopChangesNothingAndUnreadReturnsTheCharacters) {
  ensure_normaliser();
  std::unique_ptr<wcfifo, void (*)(wcfifo *)> q(init_wcfifo(3), destory_wcfifo);
  ASSERT_NE(q, nullptr);
  int len = 0;
  for (int k = 0; k < 3; ++k)
    ASSERT_EQ(push_to_wcfifo(q.get(), 's', 1), 0);
  for (int k = 0; k < 3; ++k)
    pop_wcfifo(q.get(), &len);

  enum class step { push, pop, depop, normalise_one };
  struct row {
    step what;
    gl_wchar arg; /* push: the character; depop: the count */
    const char *out; /* pop: the character ("" none); normalise: the group */
    int count; /* the queue's count after the step */
  };
  const row rows[] = {
      {step::push, 'x', "", 1},
      {step::push, 'y', "", 2},
      /* x, y, then the queue is empty: no complete sequence, restart at y. */
      {step::normalise_one, 0, "x", 1},
      {step::normalise_one, 0, "y", 0},
      {step::pop, 0, "", 0}, /* empty: nothing moves */
      {step::pop, 0, "", 0},
      {step::depop, 1, "", 1}, /* un-reads 'y', the last character read */
      {step::pop, 0, "y", 0},
      {step::push, 'y', "", 1},
      {step::push, 'w', "", 2},
      {step::normalise_one, 0, "p", 0},
      {step::depop, 2, "", 2},
      {step::pop, 0, "y", 1},
      {step::pop, 0, "w", 0},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const row &r = rows[i];
    switch (r.what) {
      case step::push:
        ASSERT_EQ(push_to_wcfifo(q.get(), r.arg, 1), 0) << i;
        break;
      case step::pop: {
        gl_wchar c = pop_wcfifo(q.get(), &len);
        std::string got = c != 0 ? std::string(1, static_cast<char>(c)) : "";
        EXPECT_EQ(got, r.out) << "step " << i;
        EXPECT_EQ(len, c != 0 ? 1 : 0) << "step " << i;
        break;
      }
      case step::depop:
        depop_wcfifo(q.get(), static_cast<int>(r.arg));
        break;
      case step::normalise_one: {
        gl_wchar out[8] = {};
        int consumed = 0;
        int written = 0;
        fifo_normalize(normalizer, nullptr, q.get(), 1, out, 8, &consumed, &written);
        std::string got;
        for (int k = 0; k < written; ++k)
          got += static_cast<char>(out[k]);
        EXPECT_EQ(got, r.out) << "step " << i;
        break;
      }
    }
    EXPECT_EQ(q->count, r.count) << "step " << i;
  }
}

TEST_F(Normaliser, ManyCharacterRetryStaysPolynomial) {
  std::string run(1000, 'a');
  std::string spaced;
  for (int k = 0; k < 500; ++k)
    spaced += "a-";
  check_rows({
      {EX_MATCHES, nchar, run.c_str(), nchar, "*a*a*a*a*a*a*a*a*b", 0},
      {EX_MATCHES, nchar, (run + "b").c_str(), nchar, "*a*a*a*a*a*a*a*a*b", 1},
      {EX_LIKE, nchar, (spaced + "b").c_str(), nchar, "%a%a%a%a%a%a%a%a%b", 1},
  });
}

TEST_F(Normaliser, BuildingEmptiesThePatternCache) {
  ASSERT_EQ(run_op(EX_LIKE, nchar, "E", nchar, "e").value, 1);
  ASSERT_NE(prev_relist, nullptr);
  EXPECT_EQ(prev_relist->code, 1);
  EXPECT_EQ(prev_relist->text[0], static_cast<gl_wchar>('e'));
  gl_locale *loc = CheckGlsEnv()->locale;
  ASSERT_EQ(build_normalizer(loc->ignorable_chars, loc->equivalent_chars), 1);
  EXPECT_EQ(_gnorminit, 1);
  EXPECT_EQ(prev_relist, nullptr);
  EXPECT_EQ(prev_restr, nullptr);
  EXPECT_EQ(nprev_restr, -1);
  /* A pattern normalised to its representative is stored so. */
  ASSERT_EQ(run_op(EX_LIKE, nchar, "e", nchar, "aE3-").value, 0);
  ASSERT_NE(prev_relist, nullptr);
  EXPECT_EQ(prev_relist->len, 3);
  EXPECT_EQ(prev_relist->unnorm_len, 4);
  EXPECT_EQ(std::u32string(reinterpret_cast<const char32_t *>(prev_relist->text), 3), U"aee");
}

/* Lists given directly may hold sequences and replacements longer than
** the locale's longest element (3 here): the value is still read far
** enough ahead, and the pattern's text has room for the replacement. */
TEST_F(Normaliser, SequencesLongerThanTheLocaleAdmitsStillNormalise) {
  std::string long_repl(60, 'm');
  char member1[] = "abcd\0\0\0";
  char repl1[] = "z\0\0\0";
  char member2[] = "k\0\0\0";
  std::vector<char> repl2(long_repl.begin(), long_repl.end());
  repl2.resize(repl2.size() + 4, 0);
  char ignorable[] = "-\0\0\0";
  char *ignorables[] = {ignorable, nullptr};
  gl_equiv_pair pairs[] = {{member1, repl1}, {member2, repl2.data()}, {nullptr, nullptr}};
  ASSERT_EQ(build_normalizer(ignorables, pairs), 1);
  EXPECT_EQ(normalizer->longest_key, 4);
  EXPECT_EQ(normalizer->longest_repl, 60);
  EXPECT_GE(get_char_ratio(CheckGlsEnv()->locale), 4);
  check_rows({
      {EX_LIKE, nchar, "abcd", nchar, "z", 1},
      {EX_LIKE, nchar, "x-abcd-x", nchar, "xzx", 1},
      {EX_LIKE, nchar, "abc", nchar, "z", 0},
      {EX_LIKE, nchar, "k", nchar, long_repl.c_str(), 1},
      {EX_LIKE, nchar, (long_repl + "k").c_str(), nchar, "kk", 1},
      {EX_MATCHES, nchar, "xkx", nchar, ("x" + long_repl + "x").c_str(), 1},
  });
  gl_locale *loc = CheckGlsEnv()->locale;
  ASSERT_EQ(build_normalizer(loc->ignorable_chars, loc->equivalent_chars), 1);
}

TEST_F(Normaliser, LocaleChangeRebuildsTheNormaliserAndEmptiesTheCache) {
  ASSERT_EQ(run_op(EX_LIKE, nchar, "E", nchar, "e").value, 1);
  EXPECT_EQ(_gnorminit, 1);
  ASSERT_NE(prev_relist, nullptr);

  ASSERT_EQ(use_locale(second_locale), 0) << get_glserror();
  EXPECT_EQ(_gnorminit, 0) << "the client environment resets it";
  /* The same pattern again: the old list (normalised by the first
  ** locale) must not serve, nor the old normaliser. */
  EXPECT_EQ(run_op(EX_LIKE, nchar, "E", nchar, "e").value, 0);
  EXPECT_EQ(_gnorminit, 1);
  EXPECT_EQ(run_op(EX_LIKE, nchar, "e", nchar, "e").value, 1);
  EXPECT_EQ(run_op(EX_LIKE, nchar, "B", nchar, "b").value, 1);
  EXPECT_EQ(run_op(EX_LIKE, nchar, "xyz", nchar, "q").value, 1);

  ASSERT_EQ(use_locale(first_locale), 0) << get_glserror();
  EXPECT_EQ(_gnorminit, 0);
  EXPECT_EQ(run_op(EX_LIKE, nchar, "B", nchar, "b").value, 0);
  EXPECT_EQ(run_op(EX_LIKE, nchar, "E", nchar, "e").value, 1);
}

}  // namespace
