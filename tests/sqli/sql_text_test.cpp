/*
** The SQL text helpers: database references in their eight forms, the
** keyword table against the keyword list as the table's description
** prints it (scripts/keywords.txt), delimited identifiers, qualified
** references, old short forms, unfinished routine texts and collection
** literals. Character walks and case-blind comparisons under the UTF-8
** locale are checked against glibc's mbrtowc and towlower (C.utf8).
*/
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "generated_locales.h"
#include "locale_env.h"
#include "sqli_text.h"

namespace {

using oslib_test::CurrentLocale;

/* ---- Database references ------------------------------------------------------------------ */

struct DbenvRow {
  const char *reference;
  int result;
  const char *database;
  const char *server;
  int path;
  int slash_form;
};

TEST(DatabaseReference, SplitsTheEightFormsAndRefusesWhatDoesNotFit) {
  const DbenvRow rows[] = {
      {"stores", 0, "stores", "", 0, 0},
      {"stores@srv1", 0, "stores", "srv1", 0, 0},
      {"@srv1", 0, "", "srv1", 0, 0},
      {"/dir/stores", 0, "/dir/stores", "", 1, 0},
      {"dir/stores", 0, "dir/stores", "", 1, 0},
      {"/usr/db@srv", 0, "/usr/db", "srv", 1, 0},
      {"//srv/stores", 0, "/stores", "srv", 0, 1},
      {"//srv/dir/stores", 0, "/dir/stores", "srv", 1, 1},
      {"//srv", 0, "", "srv", 0, 1},
      {"//srv/", 0, "/", "srv", 0, 1},
      {"//", -1, "", "", 0, 1},
      {"///x", -1, "", "", 0, 1},
      {"db@", -1, "db", "", 0, 0},
      {"", -1, "", "", 0, 0},
      /* The database buffer holds 16: 16 bytes do not fit, 15 do. */
      {"abcdefghijklmnop", -1, "", "", 0, 0},
      {"abcdefghijklmno", 0, "abcdefghijklmno", "", 0, 0},
      {"abcdefghijklmnop@s", -1, "", "", 0, 0},
      {"abcdefghijklmno@s", 0, "abcdefghijklmno", "s", 0, 0},
      /* The server buffer holds 6: 5 bytes fit, 6 do not. */
      {"d@srvxy", 0, "d", "srvxy", 0, 0},
      {"d@srvxyz", -1, "d", "", 0, 0},
      {"//srvxyz/d", -1, "", "", 0, 1},
  };
  for (const DbenvRow &r : rows) {
    char server[6];
    char database[16];
    int32_t path = 9;
    int32_t slash = 9;
    EXPECT_EQ(
        _gpdbenv(r.reference, server, sizeof server, database, sizeof database, &path, &slash),
        r.result)
        << r.reference;
    EXPECT_STREQ(database, r.database) << r.reference;
    EXPECT_STREQ(server, r.server) << r.reference;
    EXPECT_EQ(path, r.path) << r.reference;
    EXPECT_EQ(slash, r.slash_form) << r.reference;
  }
  char server[6];
  char database[8];
  int32_t path = 0;
  int32_t slash = 0;
  EXPECT_EQ(_gpdbenv(nullptr, server, 6, database, 8, &path, &slash), -1);
}

/* ---- Keywords ------------------------------------------------------------------------------ */

struct KeywordList {
  std::vector<std::string> words;
  std::set<std::string> reserved;
};

KeywordList keyword_list() {
  KeywordList out;
  std::ifstream in(DVZ_SQLI_SCRIPTS "/keywords.txt");
  std::string line;
  bool reserved = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line == "reserved:") {
      reserved = true;
      continue;
    }
    if (reserved)
      out.reserved.insert(line);
    else
      out.words.push_back(line);
  }
  return out;
}

TEST(Keywords, FindsEveryListedWordWithItsReservedFlag) {
  const KeywordList list = keyword_list();
  ASSERT_EQ(list.words.size(), 469u);
  ASSERT_EQ(list.reserved.size(), 113u);
  std::set<int> indices;
  for (const std::string &w : list.words) {
    int32_t flag = -1;
    const int at = gkwlook(w.c_str(), &flag);
    ASSERT_GE(at, 0) << w;
    EXPECT_STREQ(sqlkwtab[at].word, w.c_str());
    EXPECT_EQ(flag, list.reserved.count(w) == 1 ? 1 : 0) << w;
    indices.insert(at);
  }
  EXPECT_EQ(indices.size(), 469u);
  EXPECT_EQ(gsqlkwsize, 469);
  EXPECT_EQ(sqlkwtab[469].word, nullptr);
  for (int i = 1; i < 469; ++i)
    EXPECT_LT(std::strcmp(sqlkwtab[i - 1].word, sqlkwtab[i].word), 0) << sqlkwtab[i].word;
}

TEST(Keywords, MatchesAnyCaseAndNothingElse) {
  const int select = gkwlook("select", nullptr);
  ASSERT_GE(select, 0);
  struct Row {
    const char *word;
    int index;
    int flag;
  };
  const Row rows[] = {{"SELECT", select, 1},
                      {"Select", select, 1},
                      {"loc_t", gkwlook("loc_t", nullptr), 0},
                      {"LOC_T", gkwlook("loc_t", nullptr), 0},
                      {"all_rows", gkwlook("all_rows", nullptr), 0},
                      {"selectx", -1, 0},
                      {"selec", -1, 0},
                      {"", -1, 0},
                      {"_", -1, 0},
                      {"zzz", -1, 0},
                      {"a", -1, 0}};
  for (const Row &r : rows) {
    int32_t flag = 7;
    EXPECT_EQ(gkwlook(r.word, &flag), r.index) << r.word;
    EXPECT_EQ(flag, r.flag) << r.word;
  }
  EXPECT_GE(rows[2].index, 0);
  EXPECT_EQ(sqlkwtab[gkwlook("xload", nullptr)].kwclass, 2);
  EXPECT_EQ(sqlkwtab[gkwlook("typedef", nullptr)].kwclass, 1);
}

/* ---- Delimited identifiers ----------------------------------------------------------------- */

TEST(DelimitedIdentifier, QuotesIrregularNamesOnlyWithDelimident) {
  struct Row {
    bool delimident;
    const char *name;
    const char *out;
  };
  const std::string long_name(200, 'A');
  const std::string long_quoted_would_be = "\"" + std::string(200, 'A') + "\"";
  const Row rows[] = {
      {false, "SELECT", "SELECT"},
      {false, "my tab  ", "my tab  "},
      {false, "select", "select"},
      {true, "select", "\"select\""},
      {true, "My_Tab", "\"My_Tab\""},
      {true, "a\"b", "\"a\"\"b\""},
      {true, "tab_1$", "tab_1$"},
      {true, "_x", "_x"},
      {true, "1abc", "\"1abc\""},
      {true, "$a", "\"$a\""},
      {true, "my tab  ", "\"my tab\""},
      /* Trailing blanks are part of the keyword look-up: not a keyword. */
      {true, "select  ", "select  "},
      {true, long_name.c_str(), long_quoted_would_be.c_str()},
  };
  for (const Row &r : rows) {
    if (r.delimident)
      setenv("DELIMIDENT", "y", 1);
    else
      unsetenv("DELIMIDENT");
    char out[256];
    EXPECT_EQ(conv_delim(r.name, out), 1);
    EXPECT_STREQ(out, r.out) << r.name;
  }
  /* A quoted form past 256 bytes leaves the name as it was. */
  setenv("DELIMIDENT", "", 1);
  const std::string quotes(130, '"');
  char out[256];
  EXPECT_EQ(conv_delim(quotes.c_str(), out), 1);
  EXPECT_EQ(std::string(out), quotes);
  unsetenv("DELIMIDENT");
}

/* ---- Qualified references -------------------------------------------------------------- */

struct TabRow {
  bool delimident;
  int upshift;
  const char *reference;
  int result;
  const char *database;
  const char *server;
  const char *owner;
  const char *table;
};

TEST(QualifiedReference, SplitsFromTheRight) {
  const std::string long_table(129, 't');
  const std::string long_owner = "a" + std::string(32, 'o') + ".t";
  const TabRow rows[] = {
      {false, 0, "db:owner.table", 0, "db", "", "owner", "table"},
      {false, 0, "DB@Srv:Owner.TAB", 0, "db", "srv", "Owner", "tab"},
      {false, 1, "db@srv:Owner.tab", 0, "db", "srv", "OWNER", "tab"},
      {false, 1, "DOVARIZA.tab", 0, "", "", "dovariza", "tab"},
      {false, 0, "  tab  ", 0, "", "", "", "tab"},
      {false, 0, "owner.tab", 0, "", "", "owner", "tab"},
      {false, 0, "db:tab", 0, "db", "", "", "tab"},
      {false, 0, "db@srv:tab", 0, "db", "srv", "", "tab"},
      {false, 0, "'Owner'.tab", 0, "", "", "'Owner'", "tab"},
      {false, 0, "\"Owner\".tab", 0, "", "", "\"Owner\"", "tab"},
      {true, 0, "\"My Tab\"", 0, "", "", "", "\"My Tab\""},
      {true, 0, "\"a\"\"b\"", 0, "", "", "", "\"a\"\"b\""},
      {false, 0, "", 841, "", "", "", ""},
      {false, 0, ".tab", 841, "", "", "", "tab"},
      {false, 0, "own er.tab", 201, "", "", "er", "tab"},
      {false, 0, "ta-b", 841, "", "", "", ""},
      {false, 0, "\"tab\"", 201, "", "", "", ""},
      {false, 0, "'tab'", 201, "", "", "", ""},
      {true, 0, "x\"tab\"", 201, "", "", "", "\"tab\""},
      {true, 0, "\"ta;b\"", 0, "", "", "", "\"ta;b\""},
      {true, 0, "tab\"", 201, "", "", "", ""},
      {false, 0, long_table.c_str(), 200, "", "", "", ""},
      {false, 0, long_owner.c_str(), 200, "", "", "", "t"},
      {false, 0, "x db:o.t", 201, "", "db", "o", "t"},
      {false, 0, "d-b:o.t", 841, "", "", "o", "t"},
  };
  /* A quoted owner of 32 characters whose doubled quote takes one byte
  ** more than its output holds: 200, and the output stays terminated. */
  const std::string doubled_owner = "\"" + std::string(31, '\n') + "\"\"\".tae";
  const std::vector<TabRow> more = {
      {true, 0, doubled_owner.c_str(), 200, "", "", "", "tae"},
  };
  std::vector<TabRow> all(std::begin(rows), std::end(rows));
  all.insert(all.end(), more.begin(), more.end());
  for (const TabRow &r : all) {
    if (r.delimident)
      setenv("DELIMIDENT", "1", 1);
    else
      unsetenv("DELIMIDENT");
    char db[131], srv[131], own[35], tab[131];
    EXPECT_EQ(parsetab(r.reference, db, srv, own, tab, nullptr, r.upshift), r.result)
        << r.reference;
    EXPECT_STREQ(db, r.database) << r.reference;
    EXPECT_STREQ(srv, r.server) << r.reference;
    EXPECT_STREQ(own, r.owner) << r.reference;
    EXPECT_STREQ(tab, r.table) << r.reference;
  }
  unsetenv("DELIMIDENT");
}

TEST(QualifiedReference, ReadsAColumnWhenAskedAndSkipsPartsNotAskedFor) {
  char tab[131], col[131], own[35];
  EXPECT_EQ(parsetab("Owner.Tab.Col", nullptr, nullptr, own, tab, col, 0), 0);
  EXPECT_STREQ(col, "col");
  EXPECT_STREQ(tab, "tab");
  EXPECT_STREQ(own, "Owner");
  EXPECT_EQ(parsetab("tab.f(x)", nullptr, nullptr, nullptr, tab, col, 0), 0);
  EXPECT_STREQ(col, "f(x)");
  EXPECT_EQ(parsetab("tab", nullptr, nullptr, nullptr, tab, col, 0), 841)
      << "the column takes the only word; no table is left";
}

/* ---- Old short forms --------------------------------------------------------------------- */

TEST(OldShortForm, CutsNamesAndOwnersToTheirLimits) {
  struct Row {
    std::string name;
    int long_form;
    std::string out;
  };
  const Row rows[] = {
      {"abcdefghijklmnopqrst", 1, "abcdefghijklmnopq+"},
      {"abcdefghijklmnopqr", 1, "abcdefghijklmnopqr"},
      {"abc" + std::string(20, ' '), 1, "abc" + std::string(15, ' ')},
      {"abcdefghi", 0, "abcdefg+"},
      {"abcdefgh", 0, "abcdefgh"},
      {"ab", 0, "ab"},
  };
  for (const Row &r : rows) {
    std::string buffer = r.name;
    EXPECT_EQ(truncate_to_oldsize(buffer.data(), static_cast<int>(buffer.size()), r.long_form), 0);
    EXPECT_EQ(std::string(buffer.c_str()), r.out) << r.name;
  }
}

TEST(OldShortForm, QualifiedNamesKeepTheirShape) {
  struct Row {
    const char *name;
    const char *out;
  };
  const Row rows[] = {
      {"averyveryverylongdatabase@srv:ownerlong9.tablename",
       "averyveryverylong+@srv:ownerlo+.tablename"},
      {"db@srv:tab", "db@srv:tab"},
      {"abcdefghijklmnopqrstu:tab", "abcdefghijklmnopq+:tab"},
      {"owner.tab", "owner.tab"},
      {"tab", "tab"},
      {"bad-name", "bad-name"},
  };
  for (const Row &r : rows) {
    std::string buffer = r.name;
    truncate_ident(buffer.data());
    EXPECT_EQ(std::string(buffer.c_str()), r.out) << r.name;
  }
}

/* ---- Statement text ------------------------------------------------------------------------- */

TEST(RoutineText, TellsAnUnfinishedRoutine) {
  struct Row {
    const char *text;
    int result;
  };
  const Row rows[] = {
      {"create procedure p() let a = 1;", 1},
      {"create procedure p() let a = 1; end procedure;", 0},
      {"CREATE PROCEDURE p() let a = 1; END PROCEDURE ;", 0},
      {"create procedure p() let a = 1; end procedure", 1},
      {"create dba procedure p() end procedure;", 0},
      {"create {note} procedure p() -- x\n end procedure;", 0},
      {"create function f() returning int; external name '/lib/f.so'", 0},
      {"create function f() returning int; return 1;", 1},
      {"create function f() returning int; return 1; end function;", 0},
      {"create procedure p() {unclosed", 1},
      {"create {unclosed", 1},
      {"create table t (a int)", 0},
      {"select * from t", 0},
      {"create procedure p() let s = 'end procedure;';", 1},
  };
  for (const Row &r : rows)
    EXPECT_EQ(chkstmt(r.text, static_cast<int>(std::strlen(r.text))), r.result) << r.text;
}

TEST(RoutineText, TokensAndSkips) {
  const char *text = "  End\tprocedure ; \"a b\" external name x--c\n";
  const int len = static_cast<int>(std::strlen(text));
  int32_t at = 0;
  std::vector<int> tokens;
  for (int t = gettoken(text, len, &at); t != sqli_tok_end_of_text; t = gettoken(text, len, &at))
    tokens.push_back(t);
  EXPECT_EQ(tokens, (std::vector<int> {1, 2, 3, 0, 5, 0, 0}));
  EXPECT_EQ(std::string(skipwhite("  \t x")), "x");
  EXPECT_EQ(std::string(skipquote("'it''s' rest")), "' rest");
  EXPECT_EQ(std::string(skipquote("'open")), "");
  EXPECT_EQ(std::string(skipword("ab_1$c+d")), "+d");
  EXPECT_EQ(std::string(skipword("'q r' s")), " s");
  EXPECT_EQ(std::string(skipword("+d")), "d");
  const char *p = " {a}\n -- b\n  x";
  EXPECT_EQ(skipcomments(&p), 0);
  EXPECT_EQ(std::string(p), "x");
  const char *open = "{a";
  EXPECT_EQ(skipcomments(&open), 1);
  EXPECT_EQ(std::string(open), "{a");
}

TEST(RoutineText, FindsTheKeywordAfterTheElementList) {
  struct Row {
    const char *text;
    const char *keyword;
    const char *rest;
  };
  const Row rows[] = {
      {"create table t (a int, b char(2)) with crcols lock mode row", "lock", "lock mode row"},
      {"create table t (a int, b char(')')) in dbs1", "in", "in dbs1"},
      {"create table t (a int);", "lock", ";"},
      {"create table t of type tt lock mode page", "lock", "lock mode page"},
      {"create table t (a int) extent size 16", "lock", ""},
  };
  for (const Row &r : rows)
    EXPECT_EQ(std::string(extpos(r.text, r.keyword)), r.rest) << r.text;
}

TEST(RoutineText, CollectionLiterals) {
  struct Row {
    const char *text;
    int result;
  };
  const Row rows[] = {{"SET {1,2}", 1}, {"list{", 1},  {"multiset  {'a'}", 1},
                      {"setx{", 0},     {"sets", 0},   {"select 1", 0},
                      {"l", 0},         {"Set\t{", 1}, {"xset{", 0}};
  for (const Row &r : rows)
    EXPECT_EQ(collection_literal(r.text, r.text + std::strlen(r.text) - 1), r.result) << r.text;
  const std::string long_literal = "LIST{" + std::string(200, '1') + "}";
  EXPECT_EQ(collection_literal(long_literal.data(), long_literal.data() + long_literal.size() - 1),
            1);
}

TEST(RoutineText, RightShiftOpensAGap) {
  char text[16] = "abcdef";
  rightshift(text + 1, text + 3, 2);
  EXPECT_EQ(std::string(text, 6), "abcbcd");
}

/* ---- Against glibc under UTF-8 --------------------------------------------------------------- */

class Utf8Peer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(oslib_test::utf8_locale(), nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.utf8"), nullptr) << "glibc's C.utf8 is needed";
  }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

  /* Byte length of the first n characters by glibc (stopping at an
  ** invalid byte). */
  static size_t glibc_prefix(const std::string &s, size_t n) {
    std::mbstate_t st {};
    size_t at = 0;
    for (size_t k = 0; k < n && at < s.size(); ++k) {
      const size_t len = std::mbrtowc(nullptr, s.data() + at, s.size() - at, &st);
      if (len == static_cast<size_t>(-1) || len == static_cast<size_t>(-2) || len == 0) break;
      at += len;
    }
    return at;
  }
  static std::wstring glibc_wide(const std::string &s) {
    std::wstring w(s.size() + 1, L'\0');
    const size_t n = std::mbstowcs(w.data(), s.c_str(), w.size());
    w.resize(n == static_cast<size_t>(-1) ? 0 : n);
    return w;
  }
  /* The case-blind order the helper must give, from glibc. */
  static int glibc_cbcmp(const std::string &a, const std::string &b, int n) {
    const std::wstring x = glibc_wide(a);
    const std::wstring y = glibc_wide(b);
    for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
      const bool xe = i >= x.size();
      const bool ye = i >= y.size();
      if (xe && ye) return 0;
      if (xe) return -1;
      if (ye) return 1;
      wint_t c = static_cast<wint_t>(x[i]);
      wint_t d = static_cast<wint_t>(y[i]);
      if (c == d) continue;
      if (std::iswalpha(c) && std::iswalpha(d)) {
        c = std::towlower(c);
        d = std::towlower(d);
        if (c == d) continue;
      }
      return c < d ? -1 : 1;
    }
    return 0;
  }
};

TEST_F(Utf8Peer, OldShortFormsCutAtWholeCharacters) {
  CurrentLocale current(oslib_test::utf8_locale());
  const std::string e = "\xC3\xA9"; /* 2 bytes */
  const std::string euro = "\xE2\x82\xAC"; /* 3 bytes */
  const std::string g = "\xF0\x9D\x84\x9E"; /* 4 bytes */
  const std::vector<std::string> names = {
      std::string(20, 'a'),
      [&] {
        std::string s;
        for (int i = 0; i < 20; ++i)
          s += e;
        return s;
      }(),
      [&] {
        std::string s;
        for (int i = 0; i < 10; ++i)
          s += euro + "b";
        return s;
      }(),
      [&] {
        std::string s;
        for (int i = 0; i < 5; ++i)
          s += g + e + "x";
        return s;
      }(),
      "ab" + e + euro + g,
      [&] {
        std::string s;
        for (int i = 0; i < 17; ++i)
          s += e;
        return s + "  ";
      }(),
  };
  for (const std::string &name : names)
    for (int long_form : {1, 0}) {
      const size_t limit = long_form != 0 ? 18 : 8;
      std::string buffer = name;
      truncate_to_oldsize(buffer.data(), static_cast<int>(buffer.size()), long_form);
      /* The byte length without trailing blanks decides; the walk counts
      ** whole characters. */
      size_t trimmed = name.size();
      while (trimmed > 0 && name[trimmed - 1] == ' ')
        --trimmed;
      const size_t chars = std::min(limit, glibc_wide(name).size());
      const std::string want = trimmed > limit ? name.substr(0, glibc_prefix(name, chars - 1)) + "+"
                                               : name.substr(0, glibc_prefix(name, chars));
      EXPECT_EQ(std::string(buffer.c_str()), want) << name << " long form " << long_form;
    }
}

TEST_F(Utf8Peer, CaseBlindComparisonFollowsTowlower) {
  CurrentLocale current(oslib_test::utf8_locale());
  struct Row {
    const char *a;
    const char *b;
    int n;
  };
  const Row rows[] = {
      {"CREATE", "create", 6},
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", 3}, /* Été / éTÉ */
      {"\xCE\x91\xCE\x92", "\xCE\xB1\xCE\xB2", 2}, /* ΑΒ / αβ */
      {"\xD0\x94\xD0\xB0", "\xD0\xB4\xD0\x90", 2}, /* Да / дА */
      {"\xC3\x89", "\xC3\xAA", 1}, /* É / ê */
      {"\xC3\xA9", "f", 1},
      {"a1", "a2", 2},
      {"ab", "abc", 3},
      {"abc", "ab", 3},
      {"ab", "abc", 2},
      {"\xE2\x82\xAC", "\xC3\xA9", 1},
      {"x", "y", 0},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(bycbcmpr(r.a, r.b, r.n), glibc_cbcmp(r.a, r.b, r.n)) << r.a << " / " << r.b;
    EXPECT_EQ(bycbcmpr(r.b, r.a, r.n), glibc_cbcmp(r.b, r.a, r.n)) << r.b << " / " << r.a;
  }
}

TEST_F(Utf8Peer, DatabaseReferencesSplitAtTheAtCharacter) {
  CurrentLocale current(oslib_test::utf8_locale());
  const std::vector<std::string> refs = {"caf\xC3\xA9@srv", "\xE2\x82\xAC/x@s\xC3\xA9",
                                         "//s\xC3\xA9/d\xC3\xA9", "d\xC3\xA9"};
  for (const std::string &ref : refs) {
    char server[64];
    char database[64];
    int32_t path = 0;
    int32_t slash = 0;
    ASSERT_EQ(_gpdbenv(ref.c_str(), server, 64, database, 64, &path, &slash), 0) << ref;
    /* glibc's walk finds the same "@" character. */
    const std::wstring w = glibc_wide(ref);
    const size_t at = w.find(L'@');
    if (at != std::wstring::npos) {
      EXPECT_EQ(std::string(database), ref.substr(0, glibc_prefix(ref, at))) << ref;
      EXPECT_EQ(std::string(server), ref.substr(glibc_prefix(ref, at) + 1)) << ref;
    }
    EXPECT_EQ(path, std::string(database).find('/', slash) != std::string::npos ? 1 : 0) << ref;
  }
}

TEST_F(Utf8Peer, DelimitedFormsAndCaseOfMultibyteNames) {
  CurrentLocale current(oslib_test::utf8_locale());
  setenv("DELIMIDENT", "1", 1);
  char out[256];
  conv_delim("caf\xC3\xA9", out); /* lower-case letters only: regular */
  EXPECT_STREQ(out, "caf\xC3\xA9");
  conv_delim("Caf\xC3\xA9", out);
  EXPECT_STREQ(out, "\"Caf\xC3\xA9\"");
  conv_delim("caf\xC3\x89", out); /* É is upper case */
  EXPECT_STREQ(out, "\"caf\xC3\x89\"");
  unsetenv("DELIMIDENT");
  char tab[131];
  EXPECT_EQ(parsetab("CAF\xC3\x89", nullptr, nullptr, nullptr, tab, nullptr, 0), 0);
  EXPECT_STREQ(tab, "caf\xC3\xA9");
}

}  // namespace
