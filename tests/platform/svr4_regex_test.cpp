/* regcmp/regex: matched side by side with glibc regcomp/regexec on a
** hand-written extended expression wherever one exists; the syntax only
** this dialect has is asserted directly. */
#include <clocale>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include <regex.h>

#include <gtest/gtest.h>

#include "svr4.h"

namespace {

struct CompiledDeleter {
  void operator()(char *compiled) const { regcmp_free(compiled); }
};
using Compiled = std::unique_ptr<char, CompiledDeleter>;

Compiled compile(const char *pattern) { return Compiled(regcmp(pattern)); }

bool ours_finds(const char *pattern, const std::string &subject) {
  Compiled compiled = compile(pattern);
  EXPECT_NE(compiled, nullptr) << "pattern rejected: " << pattern;
  if (!compiled) return false;
  return regex(compiled.get(), subject.c_str()) != nullptr;
}

bool glibc_finds(const char *ere, const std::string &subject) {
  regex_t re;
  int status = regcomp(&re, ere, REG_EXTENDED | REG_NOSUB);
  EXPECT_EQ(status, 0) << "peer rejected: " << ere;
  if (status != 0) return false;
  bool found = regexec(&re, subject.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return found;
}

struct PeerCase {
  const char *pattern;
  const char *ere; /* the same pattern written as a POSIX extended expression */
  const char *subject;
  bool found;
};

constexpr PeerCase peer_cases[] = {
    /* The DBMS error field is matched as "^<pattern>$". */
    {"^908$", "^908$", "908", true},
    {"^908$", "^908$", "9080", false},
    {"^908$", "^908$", "1908", false},
    {"^-?1$", "^-\\?1$", "-?1", true},
    {"local", "local", "ha_dbms_local", true},
    {"local", "local", "ha_dbms_locale", true},
    {"Local", "Local", "ha_dbms_local", false},
    {"[0-9]+", "[0-9]+", "error 23101 seen", true},
    {"[0-9]+", "[0-9]+", "no digits", false},
    {"^[0-9]+$", "^[0-9]+$", "123x", false},
    {"a{2,3}", "a{2,3}", "xaax", true},
    {"a{2,3}", "a{2,3}", "xax", false},
    {"^xa{2,3}x$", "^xa{2,3}x$", "xaaaax", false},
    {"^xa{2,3}x$", "^xa{2,3}x$", "xaaax", true},
    {"^a{2}$", "^a{2}$", "aa", true},
    {"^a{2,}$", "^a{2,}$", "aaaaaa", true},
    {"^a{2,}$", "^a{2,}$", "a", false},
    {"^ba{0}c$", "^ba{0}c$", "bc", true},
    {"^(ab)+$", "^(ab)+$", "ababab", true},
    {"^(ab)+$", "^(ab)+$", "ababa", false},
    {"^(a(bc)*d)+$", "^(a(bc)*d)+$", "abcbcdad", true},
    {"^(a(bc)*d)+$", "^(a(bc)*d)+$", "abcbd", false},
    {"[^x]", "[^x]", "x", false},
    {"[^x]", "[^x]", "xxy", true},
    {"[^x]", "[^x]", "\n", true},
    {"[]a]", "[]a]", "]", true},
    {"[]a]", "[]a]", "a", true},
    {"[]a]", "[]a]", "b", false},
    {"[^]a]", "[^]a]", "]a]", false},
    {"[^]a]", "[^]a]", "]b", true},
    {"[a-]", "[a-]", "-", true},
    {"[a-]", "[a-]", "a", true},
    {"[a-]", "[a-]", "b", false},
    {"[-a]", "[-a]", "-", true},
    {"[a-c-e]", "[a-ce-]", "-", true},
    {"[a-c-e]", "[a-ce-]", "d", false},
    {"[a-c-e]", "[a-ce-]", "e", true},
    {"[]^-]", "[]^-]", "^", true},
    {"[]^-]", "[]^-]", "-", true},
    {"[^^-]", "[^-^]", "^-", false},
    {"[a\\]", "[a\\]", "\\", true},
    {"[.]", "[.]", "x", false},
    {"[[]", "[[]", "[", true},
    {"a\\.b", "a\\.b", "axb", false},
    {"a\\.b", "a\\.b", "a.b", true},
    {"a\\*", "a\\*", "a*", true},
    {"a\\*", "a\\*", "aa", false},
    {"a\\(b", "a\\(b", "a(b", true},
    {"\\[x\\]", "\\[x\\]", "[x]", true},
    {"a\\{2\\}", "a\\{2\\}", "a{2}", true},
    {"1}", "1\\}", "1}", true},
    {"a\\$", "a\\$", "a$", true},
    {"a\\$", "a\\$", "a", false},
    {"^Fatal", "^Fatal", "Fatal error\nnext line", true},
    {"done$", "done$", "work\nall done", true},
    {"^$", "^$", "", true},
    {"^$", "^$", "\n", false},
    {"^", "^", "anything", true},
    {"$", "$", "anything", true},
    {"", "", "anything", true},
    {"((a*)*)*b", "((a*)*)*b", "aaaab", true},
};

TEST(Svr4Regex, AgreesWithGlibcOnTheEquivalentExtendedExpression) {
  for (const PeerCase &c : peer_cases) {
    SCOPED_TRACE(std::string("pattern '") + c.pattern + "' subject '" + c.subject + "'");
    EXPECT_EQ(glibc_finds(c.ere, c.subject), c.found);
    EXPECT_EQ(ours_finds(c.pattern, c.subject), c.found);
  }
}

/* Random patterns in the syntax both dialects read alike, over a small
** alphabet so that matches and near misses are both frequent. */
class PatternGenerator {
 public:
  explicit PatternGenerator(unsigned seed) : random_(seed) {}

  std::string pattern() {
    std::string text;
    if (pick(4) == 0) text += '^';
    text += sequence(0);
    if (pick(4) == 0) text += '$';
    return text;
  }

  std::string subject() {
    static constexpr char alphabet[] = {'a', 'b', 'c', '\n'};
    std::string text;
    for (unsigned i = pick(13); i > 0; --i)
      text += alphabet[pick(4)];
    return text;
  }

 private:
  unsigned pick(unsigned n) { return static_cast<unsigned>(random_() % n); }

  std::string sequence(int depth) {
    static constexpr const char *atoms[] = {"a",    "b",     "c",   ".",   "[ab]",
                                            "[^a]", "[a-b]", "\\.", "[]a]"};
    static constexpr const char *repeats[] = {"", "", "*", "+", "{2}", "{0,2}", "{1,}", "{0}"};
    std::string text;
    for (unsigned i = 1 + pick(3); i > 0; --i) {
      if (depth < 3 && pick(4) == 0) {
        text += "(" + sequence(depth + 1) + ")";
      } else {
        text += atoms[pick(std::size(atoms))];
      }
      text += repeats[pick(std::size(repeats))];
    }
    return text;
  }

  std::mt19937 random_;
};

TEST(Svr4Regex, AgreesWithGlibcOnRandomCommonPatterns) {
  PatternGenerator generator(20231208);
  for (int i = 0; i < 400; ++i) {
    const std::string pattern = generator.pattern();
    Compiled ours = compile(pattern.c_str());
    regex_t peer;
    ASSERT_EQ(regcomp(&peer, pattern.c_str(), REG_EXTENDED | REG_NOSUB), 0) << pattern;
    ASSERT_NE(ours, nullptr) << pattern;
    for (int j = 0; j < 10; ++j) {
      const std::string subject = generator.subject();
      bool expected = regexec(&peer, subject.c_str(), 0, nullptr, 0) == 0;
      EXPECT_EQ(regex(ours.get(), subject.c_str()) != nullptr, expected)
          << "pattern '" << pattern << "' subject '" << subject << "'";
    }
    regfree(&peer);
  }
}

struct DirectCase {
  const char *pattern;
  const char *subject;
  bool found;
};

/* Syntax this dialect reads differently from an extended expression. */
constexpr DirectCase direct_cases[] = {
    {"x|y", "x", false},
    {"x|y", "y", false},
    {"x|y", "x|y", true},
    {"(a|b)", "a|b", true},
    {"(a|b)", "b", false},
    {"a?", "a", false},
    {"a?", "a?", true},
    {"^colou?r$", "color", false},
    {"^colou?r$", "colou?r", true},
    {".", "\n", true},
    {"^a.b$", "a\nb", true},
    {"a\\nb", "a\nb", true},
    {"a\\nb", "anb", false},
    {"^Fatal", "first line\nFatal error", false},
    {"done$", "done\nmore", false},
    {"a^b", "a^b", true},
    {"a^b", "b", false},
    {"^^x", "^x", true},
    {"a$b", "a$b", true},
    {"x$$", "x$", true},
    {"x$$", "x", false},
    /* A capture mark after a group, with or without a repetition. */
    {"(ab)+$0", "xababx", true},
    {"(ab)+$0", "ba", false},
    {"^(ab)+$0$", "abab", true},
    {"^(ab)+$0$", "abab0", false},
    {"^(ab)$1+$", "abab", true},
    {"(ab)$0", "xab", true},
    {"^([A-Za-z][A-Za-z0-9_]{0,7})$0$", "ident_12", true},
    {"^([A-Za-z][A-Za-z0-9_]{0,7})$0$", "identifier", false},
    {"a$0", "a$0", true},
    /* "*", "+" and "{" with nothing before them are themselves. */
    {"*a", "x*a", true},
    {"*a", "a", false},
    {"^*a", "*a", true},
    {"^+", "+1", true},
    {"(*)", "*", true},
    {"{2}", "a{2}", true},
    /* Repeating a repetition repeats the whole repeated atom. */
    {"^a{2}*$", "aaaa", true},
    {"^a{2}*$", "aaa", false},
    /* No bracket classes or collating elements inside a set. */
    {"[[:digit:]]", "5", false},
    {"[[:digit:]]", "d]", true},
    {"[[.a.]]", "a]", true},
};

TEST(Svr4Regex, ReadsTheSvr4OnlySyntax) {
  for (const DirectCase &c : direct_cases) {
    SCOPED_TRACE(std::string("pattern '") + c.pattern + "' subject '" + c.subject + "'");
    EXPECT_EQ(ours_finds(c.pattern, c.subject), c.found);
  }
}

TEST(Svr4Regex, RejectsMalformedPatterns) {
  constexpr const char *bad_patterns[] = {
      "(ab",   "ab)",    "((a)",     "a)(",
      "[a",    "[]",     "[^]",      "[^]a",
      "a{2",   "a{3,1}", "a{",       "a{}",
      "a{,3}", "a{x}",   "a{2,3",    "a{2,x}",
      "a{ 2}", "a{256}", "a{1,256}", "a{99999999999}",
      "ab\\",  "\\",     "[z-a]",    "((a{255}){255}){255}",
  };
  for (const char *pattern : bad_patterns) {
    SCOPED_TRACE(pattern);
    char *compiled = regcmp(pattern);
    EXPECT_EQ(compiled, nullptr);
    regcmp_free(compiled);
  }
  EXPECT_EQ(regcmp(nullptr), nullptr);
}

TEST(Svr4Regex, AcceptsBoundsUpTo255) {
  EXPECT_TRUE(ours_finds("^a{255}$", std::string(255, 'a')));
  EXPECT_FALSE(ours_finds("^a{255}$", std::string(256, 'a')));
  EXPECT_TRUE(ours_finds("^a{0,255}$", std::string(200, 'a')));
  EXPECT_TRUE(ours_finds("^(ab{2,255})+$", "abbabbb"));
}

TEST(Svr4Regex, NullArgumentsFindNothing) {
  Compiled compiled = compile("a");
  ASSERT_NE(compiled, nullptr);
  EXPECT_EQ(regex(compiled.get(), nullptr), nullptr);
  EXPECT_EQ(regex(nullptr, "a"), nullptr);
  regcmp_free(nullptr);
}

/* A log burst may be large: nested repetitions must not backtrack
** exponentially. A backtracking matcher would not finish these. */
TEST(Svr4Regex, NestedRepetitionsOnLongSubjectsFinish) {
  const std::string as(100000, 'a');
  EXPECT_FALSE(ours_finds("((a*)*)*b", as));
  EXPECT_FALSE(ours_finds("(a+)+$0b", as));
  EXPECT_FALSE(ours_finds("^(a|aa)+$", as));
  EXPECT_TRUE(ours_finds("((a*)*)*b", as + "b"));
  EXPECT_FALSE(ours_finds("(x+x+)+y", std::string(5000, 'x')));
}

/* The client library may switch the process to a multibyte locale; the
** patterns must stay byte-oriented whatever it chose. */
TEST(Svr4Regex, IgnoresTheCallersLocale) {
  const std::string saved = setlocale(LC_ALL, nullptr);
  if (setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "C.UTF-8 locale not available";
  const std::string e_acute = "\xc3\xa9";
  const bool two_bytes = ours_finds("^[^x]{2}$", e_acute);
  const bool one_char = ours_finds("^.$", e_acute);
  const bool invalid_byte = ours_finds("^[^a]$", "\xff");
  const bool high_range = ours_finds("^[\x80-\xff]+$", e_acute);
  setlocale(LC_ALL, saved.c_str());
  EXPECT_TRUE(two_bytes);
  EXPECT_FALSE(one_char);
  EXPECT_TRUE(invalid_byte);
  EXPECT_TRUE(high_range);
}

TEST(Svr4Regex, CompiledPatternIsReusable) {
  Compiled compiled = compile("^[0-9]{3}$");
  ASSERT_NE(compiled, nullptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(regex(compiled.get(), "908"), nullptr);
    EXPECT_EQ(regex(compiled.get(), "9080"), nullptr);
  }
}

}  // namespace
