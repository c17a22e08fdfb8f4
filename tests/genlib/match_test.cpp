/*
** match_test.cpp: the MATCHES and LIKE operators and their matchers.
** Built twice: the main program runs under the default single-byte client
** locale (the byte matcher); DVZ_MATCH_UTF8 runs in a process whose client
** locale is UTF-8 (the compiled matcher and its pattern cache). Peers:
** glibc fnmatch for MATCHES (multibyte letters given to it as ASCII
** stand-ins), sqlite3_strlike for LIKE, on the domains where
** their rules coincide with ours; the rest is tested from tables.
*/
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gen_exprtypes.h"
#include "gen_match.h"
#include "gen_types.h"
#include "gl_chars.h"
#include "match_internal.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"
#include "value_builders.h"

namespace {

using value_test::null_value;
using value_test::text_value;

struct outcome {
  int status;
  int16_t ind;
  int value;
};

outcome run_op(int op, int vtype, const std::string &value, int ptype, const std::string &pattern) {
  value_t v = text_value(vtype, value.data(), value.size());
  value_t p = text_value(ptype, pattern.data(), pattern.size());
  value_t r {};
  int status = exmatch(op, &v, &p, &r);
  EXPECT_EQ(r.vtype, sql_type_smallint);
  return {status, r.vind, r.vint};
}

/* The operator on CHAR operands: 1, 0, or -1 for an error. */
int matches(const std::string &value, const std::string &pattern) {
  outcome o = run_op(EX_MATCHES, sql_type_char, value, sql_type_char, pattern);
  return o.status != 0 ? -1 : o.value;
}
int like(const std::string &value, const std::string &pattern) {
  outcome o = run_op(EX_LIKE, sql_type_char, value, sql_type_char, pattern);
  return o.status != 0 ? -1 : o.value;
}

/* One suite name per process, so the two runs register apart. */
#ifdef DVZ_MATCH_UTF8
#define Match MatchUtf8
#else
#define Match MatchBytes
#endif

class Match : public ::testing::Test {
 protected:
  void SetUp() override { gen_setansidb(0); }
  void TearDown() override { gen_setansidb(0); }
};

/* ---- Rules on both paths -------------------------------------------------- */

struct op_case {
  int op;
  const char *value;
  const char *pattern;
  int expected;
};

TEST_F(Match, OperatorTableAndItsNegation) {
  const op_case cases[] = {
      {EX_MATCHES, "abc  ", "abc", 1}, {EX_MATCHES, "abc  ", "abc*", 1},
      {EX_MATCHES, "ab", "ab[ x]", 1}, {EX_MATCHES, "abc", "abc?", 0},
      {EX_MATCHES, "a*c", "a\\*c", 1}, {EX_MATCHES, "abc", "a\\*c", 0},
      {EX_MATCHES, "abc", "[]", 0},    {EX_MATCHES, "x", "[^]", 1},
      {EX_MATCHES, "a", "[a-]", 1},    {EX_MATCHES, "-", "[a-]", 1},
      {EX_MATCHES, "b", "[a-]", 0},    {EX_MATCHES, "b", "[a-c]", 1},
      {EX_MATCHES, "d", "[a-c]", 0},   {EX_MATCHES, "d", "[^a-c]", 1},
      {EX_MATCHES, "abc", "a?c", 1},   {EX_MATCHES, "", "*", 1},
      {EX_MATCHES, "abc", "*b*", 1},   {EX_MATCHES, "abc", "*d*", 0},
      {EX_LIKE, "a[b]c", "a[b]c", 1},  {EX_LIKE, "abc", "a_c", 1},
      {EX_LIKE, "ac", "a_c", 0},       {EX_LIKE, "abbbc", "a%c", 1},
      {EX_LIKE, "a*c", "a*c", 1},      {EX_LIKE, "abc", "a*c", 0},
      {EX_LIKE, "a%c", "a\\%c", 1},    {EX_LIKE, "abc", "a\\%c", 0},
      {EX_LIKE, "abc  ", "abc%", 1},   {EX_LIKE, "abc", "abc_", 0},
      {EX_MATCHES, "abc", "abc\\", 1}, {EX_LIKE, "abcdef", "abc\\", 1},
  };
  for (const op_case &c : cases) {
    int negated = c.op == EX_MATCHES ? EX_NOTMATCHES : EX_NOTLIKE;
    outcome plain = run_op(c.op, sql_type_char, c.value, sql_type_char, c.pattern);
    outcome inverted = run_op(negated, sql_type_char, c.value, sql_type_char, c.pattern);
    EXPECT_EQ(plain.status, 0) << c.value << " / " << c.pattern;
    EXPECT_EQ(plain.ind, 0);
    EXPECT_EQ(plain.value, c.expected) << c.op << " '" << c.value << "' '" << c.pattern << "'";
    EXPECT_EQ(inverted.value, 1 - c.expected) << c.value << " / " << c.pattern;
  }
}

TEST_F(Match, NullOperandGivesNullForEveryOperator) {
  for (int op : {EX_MATCHES, EX_NOTMATCHES, EX_LIKE, EX_NOTLIKE}) {
    value_t v = null_value(sql_type_char);
    value_t p = text_value(sql_type_char, "a*");
    value_t r {};
    EXPECT_EQ(exmatch(op, &v, &p, &r), 0);
    EXPECT_EQ(r.vtype, sql_type_smallint);
    EXPECT_EQ(r.vind, -1);
    value_t v2 = text_value(sql_type_char, "abc");
    value_t p2 = null_value(sql_type_varchar);
    EXPECT_EQ(exmatch(op, &v2, &p2, &r), 0);
    EXPECT_EQ(r.vind, -1);
  }
}

TEST_F(Match, NonCharacterOperandIsRefused) {
  value_t n = value_test::int_value(sql_type_integer, 12);
  value_t p = text_value(sql_type_char, "1*");
  value_t r {};
  EXPECT_EQ(exmatch(EX_MATCHES, &n, &p, &r), -1203);
  EXPECT_EQ(exmatch(EX_LIKE, &p, &n, &r), -1203);
  value_t udt = text_value(sql_type_variable_udt, "abc");
  udt.vxid = 1;
  EXPECT_EQ(exmatch(EX_LIKE, &udt, &p, &r), 0);
  value_t flagged = text_value(sql_type_byte | 0x2000, "12");
  EXPECT_EQ(exmatch(EX_MATCHES, &flagged, &p, &r), 0);
  EXPECT_EQ(r.vint, 1);
}

/* Where our rules differ from the peers: padding, lengths, classes that
** are empty or unterminated, '!' and backslashes inside brackets. */
TEST_F(Match, DivergenceTable) {
  struct row {
    int op;
    int vtype;
    const char *value;
    int ptype;
    const char *pattern;
    int expected;
  };
  const row rows[] = {
      {EX_MATCHES, sql_type_char, "abc   ", sql_type_char, "abc  ", 1},
      {EX_MATCHES, sql_type_char, "ab", sql_type_char, "ab?", 0},
      {EX_LIKE, sql_type_char, "ab", sql_type_char, "ab_", 0},
      {EX_MATCHES, sql_type_char, "ab", sql_type_char, "ab[^x]", 1},
      {EX_MATCHES, sql_type_char, "ab", sql_type_char, "ab[^ ]", 0},
      {EX_MATCHES, sql_type_char, "ab", sql_type_char, "ab[ -!]", 1},
      {EX_MATCHES, sql_type_char, "a", sql_type_char, "[]a]", 0},
      {EX_MATCHES, sql_type_char, "]", sql_type_char, "[]", 0},
      {EX_MATCHES, sql_type_char, "ab", sql_type_char, "a[^]", 1},
      {EX_MATCHES, sql_type_char, "!", sql_type_char, "[!a]", 1},
      {EX_MATCHES, sql_type_char, "b", sql_type_char, "[!a]", 0},
      {EX_MATCHES, sql_type_char, "ab", sql_type_char, "a[bc", 1},
      {EX_MATCHES, sql_type_char, "a[bc", sql_type_char, "a[bc", 0},
      {EX_MATCHES, sql_type_char, "\\", sql_type_char, "[\\]", 1},
      {EX_MATCHES, sql_type_char, "\\", sql_type_char, "\\\\", 1},
      {EX_LIKE, sql_type_char, "[", sql_type_char, "[", 1},
  };
  for (const row &c : rows) {
    outcome o = run_op(c.op, c.vtype, c.value, c.ptype, c.pattern);
    EXPECT_EQ(o.status, 0) << c.value << " / " << c.pattern;
    EXPECT_EQ(o.value, c.expected) << "'" << c.value << "' / '" << c.pattern << "'";
  }
}

/* Escapes before characters that need none, and at the end of a pattern. */
TEST_F(Match, EscapeWarningOutsideAnsiAndErrorInside) {
  struct row {
    int op;
    const char *value;
    const char *pattern;
    int plain; /* outcome outside an ANSI database */
  };
  const row rows[] = {
      {EX_MATCHES, "abc", "ab\\", 1},  {EX_MATCHES, "abxyz", "ab\\", 1},
      {EX_MATCHES, "abc", "a\\bc", 1}, {EX_MATCHES, "axc", "a\\bc", 0},
      {EX_LIKE, "abc", "a\\bc", 1},    {EX_LIKE, "a[c", "a\\[c", 1},
      {EX_LIKE, "abc", "ab\\", 1},
  };
  for (const row &c : rows) {
    value_t v = text_value(sql_type_char, c.value);
    value_t p = text_value(sql_type_char, c.pattern);
    value_t r {};
    int warning = -1;
    gen_setansidb(0);
    EXPECT_EQ(ansi_exescmatch(c.op, &v, &p, &r, '\\', &warning), 0) << c.pattern;
    EXPECT_EQ(warning, 1) << c.pattern;
    EXPECT_EQ(r.vint, c.plain) << c.value << " / " << c.pattern;
    gen_setansidb(1);
    int status = ansi_exescmatch(c.op, &v, &p, &r, '\\', &warning);
    /* The error shows when the value matched up to the escape. */
    if (c.plain == 1) {
      EXPECT_EQ(status, -1278) << c.pattern;
    }
    EXPECT_EQ(r.vint, 0) << c.pattern;
  }
  gen_setansidb(0);
  value_t v = text_value(sql_type_char, "a*c");
  value_t p = text_value(sql_type_char, "a\\*c");
  value_t r {};
  int warning = -1;
  EXPECT_EQ(ansi_exescmatch(EX_MATCHES, &v, &p, &r, '\\', &warning), 0);
  EXPECT_EQ(warning, 0);
  EXPECT_EQ(r.vint, 1);
  /* Another escape character. */
  value_t p2 = text_value(sql_type_char, "a!%");
  value_t v2 = text_value(sql_type_char, "a%");
  EXPECT_EQ(ansi_exescmatch(EX_LIKE, &v2, &p2, &r, '!', &warning), 0);
  EXPECT_EQ(r.vint, 1);
  EXPECT_EQ(warning, 0);
}

TEST_F(Match, ManyCharacterRetryIsPolynomial) {
  std::string run(1000, 'a');
  EXPECT_EQ(matches(run, "*a*a*a*a*a*a*a*a*b"), 0);
  EXPECT_EQ(matches(run + "b", "*a*a*a*a*a*a*a*a*b"), 1);
  EXPECT_EQ(like(run, "%a%a%a%a%a%a%a%a%b"), 0);
  EXPECT_EQ(like(run + "b", "%a%a%a%a%a%a%a%a%b"), 1);
  EXPECT_EQ(matches(std::string(10000, 'a'), "*a*a*a*a*b"), 0);
}

/* ---- Peers ---------------------------------------------------------------- */

/* Characters of the generated domain: the single-byte run adds none, the
** UTF-8 run adds multibyte letters. */
#ifdef DVZ_MATCH_UTF8
const std::vector<std::string> extra_letters = {"\xC3\xA9", "\xC3\x9F", "\xE2\x82\xAC"};
#else
const std::vector<std::string> extra_letters = {};
#endif

std::vector<std::string> value_alphabet() {
  std::vector<std::string> a = {"a", "b", "c", "*", "?", "[", "]", "-", "^"};
  a.insert(a.end(), extra_letters.begin(), extra_letters.end());
  return a;
}

std::string random_value(std::mt19937 &rng) {
  static const std::vector<std::string> alphabet = value_alphabet();
  std::string v;
  int n = static_cast<int>(rng() % 7);
  for (int k = 0; k < n; ++k)
    v += alphabet[rng() % alphabet.size()];
  return v;
}

/* A MATCHES pattern over the domain both matchers read alike, as tokens:
** classes closed and not empty, ranges only between letters, '-' only as
** the last member, escapes only outside classes. A token that can stand
** for trailing blanks (the many character, a negated class: the domain
** has no blanks) is marked. */
struct token {
  std::string text;
  bool matches_padding;
};

std::vector<token> random_matches_pattern(std::mt19937 &rng) {
  static const std::vector<std::string> alphabet = value_alphabet();
  static const char *escapes[] = {"\\*", "\\?", "\\[", "\\]", "\\\\"};
  static const char *members[] = {"a", "b", "c", "^", "*", "?", "["};
  static const char *ranges[] = {"a-b", "a-c", "b-c", "b-b"};
  std::vector<token> tokens;
  int n = static_cast<int>(rng() % 6);
  for (int k = 0; k < n; ++k) {
    switch (rng() % 6) {
      case 0:
        tokens.push_back({"*", true});
        break;
      case 1:
        tokens.push_back({"?", false});
        break;
      case 2:
        tokens.push_back({escapes[rng() % 5], false});
        break;
      case 3: {
        std::string p = "[";
        if (rng() % 3 == 0) p += "^";
        int m = 1 + static_cast<int>(rng() % 3);
        for (int j = 0; j < m; ++j) {
          if (rng() % 4 == 0)
            p += ranges[rng() % 4];
          else if (!extra_letters.empty() && rng() % 3 == 0)
            p += extra_letters[rng() % extra_letters.size()];
          else
            p += members[rng() % 7];
        }
        if (rng() % 4 == 0) p += "-";
        if (p == "[^") p += "a"; /* '[^]' is ours alone */
        p += "]";
        tokens.push_back({p, p[1] == '^'}); /* a first member '^' negates too */
        break;
      }
      default: {
        std::string c = alphabet[rng() % alphabet.size()];
        if (c == "[" || c == "*" || c == "?") c = "a";
        tokens.push_back({c, false});
      }
    }
  }
  return tokens;
}

std::string joined(const std::vector<token> &tokens, size_t count) {
  std::string p;
  for (size_t k = 0; k < count; ++k)
    p += tokens[k].text;
  return p;
}

/* The peer reads '?' as one byte even in a UTF-8 C locale: it gets each
** multibyte letter as an ASCII letter outside the domain. */
std::string ascii_standin(std::string text) {
  for (size_t k = 0; k < extra_letters.size(); ++k) {
    const std::string &from = extra_letters[k];
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
      text.replace(at, from.size(), 1, static_cast<char>('x' + k));
  }
  return text;
}

/* fnmatch with our padding: a value also matches when fnmatch accepts it
** against a prefix of the pattern and the rest can stand for blanks. */
int padded_fnmatch(const std::vector<token> &tokens, const std::string &v) {
  for (size_t cut = tokens.size() + 1; cut-- > 0;) {
    if (cut < tokens.size() && !tokens[cut].matches_padding) break;
    /* A many character runs out with the value only at the pattern's end:
    ** one standing before the padding must match nothing, and so belongs
    ** to the padding. */
    if (cut > 0 && cut < tokens.size() && tokens[cut - 1].text == "*") continue;
    if (fnmatch(ascii_standin(joined(tokens, cut)).c_str(), ascii_standin(v).c_str(), 0) == 0)
      return 1;
  }
  return 0;
}

TEST_F(Match, MatchesAgreesWithFnmatch) {
  std::mt19937 rng(20261211);
  int hits = 0;
  for (int k = 0; k < 20000; ++k) {
    std::string v = random_value(rng);
    std::vector<token> tokens = random_matches_pattern(rng);
    std::string p = joined(tokens, tokens.size());
    int peer = padded_fnmatch(tokens, v);
    ASSERT_EQ(matches(v, p), peer) << "'" << v << "' MATCHES '" << p << "'";
    hits += peer;
  }
  EXPECT_GT(hits, 1000); /* the domain is not all misses */
}

/* The wide matcher reads the same rules as the operator's. */
TEST_F(Match, WideMatcherAgreesWithFnmatch) {
  std::mt19937 rng(77);
  for (int k = 0; k < 5000; ++k) {
    std::string v = random_value(rng);
    std::vector<token> tokens = random_matches_pattern(rng);
    std::string p = joined(tokens, tokens.size());
    int peer = padded_fnmatch(tokens, v);
    ASSERT_EQ(rwildmatch(v.c_str(), p.c_str(), '*', '?'), peer) << v << " / " << p;
  }
}

TEST_F(Match, LikeAgreesWithSqlite) {
  std::mt19937 rng(4242);
  static const char *pieces[] = {"a", "b", "c", "[", "]",   "-",   "^",
                                 "*", "?", "%", "_", "\\%", "\\_", "\\\\"};
  for (int k = 0; k < 20000; ++k) {
    std::string v = random_value(rng);
    std::string p;
    int n = static_cast<int>(rng() % 7);
    for (int j = 0; j < n; ++j)
      p += pieces[rng() % 14];
    int peer = sqlite3_strlike(p.c_str(), v.c_str(), '\\') == 0 ? 1 : 0;
    ASSERT_EQ(like(v, p), peer) << "'" << v << "' LIKE '" << p << "'";
  }
}

/* The wide matcher entered directly: its own escape rule included. */
TEST_F(Match, WideMatcherTable) {
  struct row {
    std::u32string value;
    std::u32string pattern;
    int many;
    int escape;
    int expected;
  };
  const row rows[] = {
      {U"abc", U"a*", '*', '\\', 1},    {U"abc", U"a?", '*', '\\', 0},
      {U"ab", U"ab[ x]", '*', '\\', 1}, {U"a\u00e9", U"a_", '%', '\\', 1},
      {U"a*c", U"a!*c", '*', '!', 1},   {U"abc", U"a!*c", '*', '!', 0},
      {U"abc", U"[^]bc", '*', '\\', 1}, {U"abc", U"[]bc", '*', '\\', 0},
      {U"a", U"[^", '*', '\\', 1},      {U"ab", U"[^", '*', '\\', 0},
      {U"abc", U"ab\\", '*', '\\', 1},
  };
  for (const row &c : rows) {
    EXPECT_EQ(rescwildmatch(reinterpret_cast<const uint32_t *>(c.value.c_str()),
                            reinterpret_cast<const uint32_t *>(c.pattern.c_str()), c.many,
                            c.many == '*' ? '?' : '_', c.escape),
              c.expected);
  }
  const uint32_t star[] = {'*', 0};
  const uint32_t letter[] = {'b', 0};
  EXPECT_EQ(checkescape(star, star, '*', '?', '\\'), 1);
  EXPECT_EQ(checkescape(letter, star, '*', '?', '\\'), 0);
  EXPECT_EQ(checkescape(letter, star + 1, '*', '?', '\\'), 2);
}

/* ---- The character queue ---------------------------------------------------- */

TEST_F(Match, QueueEmptyPopChangesNothingAndUnreadReturnsWhatWasRead) {
  wcfifo *q = init_wcfifo(4);
  ASSERT_NE(q, nullptr);
  int len = -1;
  /* Fill and drain once so the ring holds stale characters. */
  for (gl_wchar c : {'s', 't', 'u'})
    ASSERT_EQ(push_to_wcfifo(q, c, 1), 0);
  for (int k = 0; k < 3; ++k)
    pop_wcfifo(q, &len);
  ASSERT_EQ(push_to_wcfifo(q, 'x', 2), 0);
  EXPECT_EQ(pop_wcfifo(q, &len), static_cast<gl_wchar>('x'));
  EXPECT_EQ(len, 2);
  EXPECT_EQ(pop_wcfifo(q, &len), 0u); /* empty */
  EXPECT_EQ(len, 0);
  EXPECT_EQ(q->count, 0);
  depop_wcfifo(q, 1); /* only the pop that returned a character */
  EXPECT_EQ(pop_wcfifo(q, &len), static_cast<gl_wchar>('x'));
  EXPECT_EQ(len, 2);
  EXPECT_EQ(pop_wcfifo(q, &len), 0u);
  /* Wrapping: push across the end of the ring and un-read two. */
  for (gl_wchar c : {'p', 'q', 'r'})
    ASSERT_EQ(push_to_wcfifo(q, c, 1), 0);
  EXPECT_EQ(pop_wcfifo(q, &len), static_cast<gl_wchar>('p'));
  EXPECT_EQ(pop_wcfifo(q, &len), static_cast<gl_wchar>('q'));
  depop_wcfifo(q, 2);
  EXPECT_EQ(pop_wcfifo(q, &len), static_cast<gl_wchar>('p'));
  EXPECT_EQ(q->count, 2);
  ASSERT_EQ(push_to_wcfifo(q, 'y', 1), 0);
  ASSERT_EQ(push_to_wcfifo(q, 'z', 1), 0);
  EXPECT_EQ(push_to_wcfifo(q, 'w', 1), -1); /* full */
  flush_wcfifo(q);
  EXPECT_EQ(pop_wcfifo(q, &len), 0u);
  destory_wcfifo(q);
}

#ifndef DVZ_MATCH_UTF8

/* ---- Byte path -------------------------------------------------------------- */

TEST_F(Match, VaryingOperandsKeepTheirFullLength) {
  EXPECT_EQ(run_op(EX_LIKE, sql_type_varchar, "ab ", sql_type_char, "ab").value, 0);
  EXPECT_EQ(run_op(EX_LIKE, sql_type_char, "ab ", sql_type_char, "ab").value, 1);
  EXPECT_EQ(run_op(EX_LIKE, sql_type_char, "ab", sql_type_varchar, "ab ").value, 1);
  EXPECT_EQ(run_op(EX_MATCHES, sql_type_varchar, "ab ", sql_type_char, "ab?").value, 1);
  /* An NCHAR comparison in this locale (it has ignorable characters) is
  ** normalised, so it takes the compiled matcher and its padding rules. */
  EXPECT_EQ(run_op(EX_MATCHES, sql_type_nvarchar, "ab ", sql_type_char, "ab?").value, 0);
  EXPECT_EQ(run_op(EX_LIKE, sql_type_char, "ab", sql_type_nvarchar, "ab ").value, 1);
  /* A zero byte ends the operand. */
  EXPECT_EQ(rescfixstrmatch("ab\0cd", 5, "ab", 2, '*', '?', '\\'), 1);
}

TEST_F(Match, EscapeRuleForOneCharacter) {
  struct row {
    const char *value;
    const char *after;
    int many;
    int expected;
  };
  const row rows[] = {
      {"*", "*", '*', 1}, {"x", "*", '*', 0}, {"[", "[", '*', 1},
      {"[", "[", '%', 1}, {"a", "", '*', 2},  {"\\", "\\", '%', 1},
  };
  for (const row &c : rows) {
    EXPECT_EQ(chkescfixstr(c.value, 1, c.after, static_cast<int>(strlen(c.after)), c.many,
                           c.many == '*' ? '?' : '_', '\\'),
              c.expected)
        << c.value << " " << c.after;
  }
}

#else

/* ---- Compiled path (UTF-8 client locale) -------------------------------------- */

TEST_F(Match, MultibyteCharactersAreOneCharacter) {
  const op_case cases[] = {
      {EX_MATCHES, "\xC3\xA9t\xC3\xA9", "?t?", 1},
      {EX_MATCHES, "\xC3\xA9t\xC3\xA9", "??", 0},
      {EX_LIKE,
       "\xE2\x82\xAC"
       "5",
       "_5", 1},
      {EX_MATCHES, "\xC3\x9F", "[a\xC3\x9F]", 1},
      {EX_MATCHES, "\xC3\x9F", "[^\xC3\x9F]", 0},
      {EX_MATCHES, "x\xC3\xA9  ", "x\xC3\xA9", 1},
  };
  for (const op_case &c : cases) {
    outcome o = run_op(c.op, sql_type_char, c.value, sql_type_char, c.pattern);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.value, c.expected) << c.value << " / " << c.pattern;
  }
}

TEST_F(Match, InvalidBytesGiveNoMatchAndNoError) {
  for (int op : {EX_MATCHES, EX_NOTMATCHES, EX_LIKE}) {
    outcome o = run_op(op, sql_type_char, "ab\xC3", sql_type_char, op == EX_LIKE ? "a%c" : "a*c");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.value, 0) << op;
    EXPECT_EQ(get_toerrno(), 0);
  }
  outcome bad_pattern = run_op(EX_MATCHES, sql_type_char, "ab", sql_type_char, "a\xFF");
  EXPECT_EQ(bad_pattern.status, 0);
  EXPECT_EQ(bad_pattern.value, 0);
}

TEST_F(Match, CacheKeepsOneListPerPatternEscapeAndOperator) {
  ASSERT_EQ(matches("abc", "a*c"), 1);
  relist *first = prev_relist;
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(matches("abd", "a*c"), 0);
  EXPECT_EQ(prev_relist, first); /* compiled once */
  EXPECT_EQ(nprev_restr, 3);

  /* The escape alone changes the key. */
  value_t v = text_value(sql_type_char, "a*c");
  value_t p = text_value(sql_type_char, "a*c");
  value_t r {};
  int warning = 0;
  ASSERT_EQ(ansi_exescmatch(EX_MATCHES, &v, &p, &r, '!', &warning), 0);
  uint32_t key_escape = 0;
  memcpy(&key_escape, prev_restr, 4);
  EXPECT_EQ(key_escape, static_cast<uint32_t>('!'));

  /* "a%" under MATCHES is a literal '%'; under LIKE a run. */
  EXPECT_EQ(matches("a%", "a%"), 1);
  EXPECT_EQ(matches("abc", "a%"), 0);
  EXPECT_EQ(like("abc", "a%"), 1);
  EXPECT_EQ(like("a%", "a%"), 1);
  EXPECT_EQ(matches("abc", "a%"), 0);
}

/* NCHAR operands in this locale (its collation has equivalent
** characters) are normalised, CHAR operands are not: one pattern gives
** two lists, and neither may serve the other. */
TEST_F(Match, CacheIsKeyedOnNormalisation) {
  ASSERT_EQ(matches("a", "a"), 1); /* initialises the client locale */
  gl_locale *loc = CheckGlsEnv()->locale;
  ASSERT_NE(loc, nullptr);
  ASSERT_NE(loc->equivalent_chars, nullptr);
  std::string member;
  std::string representative;
  for (gl_equiv_pair *p = loc->equivalent_chars; p->member != nullptr; ++p) {
    std::string m = p->member;
    std::string r = p->representative;
    auto one_letter = [loc](const std::string &t) {
      return !t.empty() && t.find_first_of("*?[]%_\\ ") == std::string::npos &&
             gl_full_mblen(loc, reinterpret_cast<const unsigned char *>(t.c_str()),
                           static_cast<int>(t.size())) == static_cast<int>(t.size());
    };
    if (m != r && one_letter(m) && one_letter(r)) {
      member = m;
      representative = r;
      break;
    }
  }
  ASSERT_FALSE(member.empty()) << "the locale has a pair of equivalent letters";
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(run_op(EX_LIKE, sql_type_nchar, member, sql_type_nchar, representative).value, 1);
    EXPECT_EQ(prev_relist->len, prev_relist->unnorm_len);
    EXPECT_EQ(like(member, representative), 0) << round;
    EXPECT_EQ(run_op(EX_MATCHES, sql_type_nvarchar, representative, sql_type_char, member).value,
              1);
    EXPECT_EQ(matches(representative, member), 0) << round;
  }
}

/* The client environment resets the flag whenever it initialises a
** locale; the next compilation rebuilds the normaliser, which empties
** the cache, and the answers stay right. */
TEST_F(Match, LocaleChangeRebuildsTheNormaliser) {
  ASSERT_EQ(like("abc", "a%"), 1);
  EXPECT_EQ(_gnorminit, 1);
  ASSERT_NE(normalizer, nullptr);
  FreeAllGlsEnv();
  ASSERT_EQ(chkglsinit(), 0);
  EXPECT_EQ(_gnorminit, 0);
  EXPECT_EQ(like("abc", "a%"), 1);
  EXPECT_EQ(like("xbc", "a%"), 0);
  EXPECT_EQ(_gnorminit, 1);
  EXPECT_EQ(nprev_restr, 2);
}

TEST_F(Match, CachedPatternStillReportsItsEscapeWarning) {
  value_t v = text_value(sql_type_char, "abc");
  value_t p = text_value(sql_type_char, "a\\bc");
  value_t r {};
  for (int round = 0; round < 2; ++round) {
    int warning = 0;
    ASSERT_EQ(ansi_exescmatch(EX_MATCHES, &v, &p, &r, '\\', &warning), 0);
    EXPECT_EQ(warning, 1) << round;
    EXPECT_EQ(r.vint, 1);
  }
  /* In an ANSI database the pattern is never reused and the error comes back. */
  gen_setansidb(1);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(exmatch(EX_MATCHES, &v, &p, &r), -1278) << round;
    EXPECT_EQ(nprev_restr, -1);
  }
}

#endif

}  // namespace
