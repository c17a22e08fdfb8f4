/*
** Case conversion through the current locale, in the generated
** single-byte and UTF-8 locales: in place (the string never grows and
** never ends in part of a character), into a sized output (zero-filled,
** cut before a character that does not fit, -941 for invalid bytes), the
** initial capitals, and the base name of a path.
*/
#include "os_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "generated_locales.h"
#include "gl_chars.h"
#include "os_env.h"
#include "os_glsenv.h"

namespace {

using oslib_test::CurrentLocale;

/* Runs an in-place conversion on an exact heap copy of text (so that any
** growth is caught) and returns what it left. */
std::string in_place(void (*convert)(char *), const std::string &text) {
  auto copy = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  convert(copy.get());
  return copy.get();
}

void lower(char *s) { rdownshift(s); }
void upper(char *s) { rupshift(s); }

enum class locale_kind { single_byte, utf8 };

gl_locale *record_of(locale_kind kind) {
  return kind == locale_kind::single_byte ? oslib_test::single_byte_locale()
                                          : oslib_test::utf8_locale();
}

TEST(CaseShift, InPlaceNeverGrowsNorSplitsACharacter) {
  ASSERT_NE(oslib_test::utf8_locale(), nullptr);
  ASSERT_GT(gl_case_conv_outbuflen(oslib_test::utf8_locale(), 1), 1)
      << "the UTF-8 locale must have a case expansion above 1";
  struct row {
    locale_kind kind;
    void (*convert)(char *);
    std::string input, want;
  };
  const row rows[] = {
      {locale_kind::single_byte, lower,
       "\xC0"
       "BC d\xE9"
       "F",
       "\xE0"
       "bc d\xE9"
       "f"},
      {locale_kind::single_byte, upper,
       "\xE0"
       "bc d\xE9"
       "f",
       "\xC0"
       "BC D\xC9"
       "F"},
      {locale_kind::single_byte, upper, "", ""},
      {locale_kind::utf8, lower, "\xC3\x80\xC3\x89Z", "\xC3\xA0\xC3\xA9z"},
      {locale_kind::utf8, upper, "\xC3\xA0\xC3\xA9z", "\xC3\x80\xC3\x89Z"},
      /* U+023A lowers to the three bytes of U+2C65: the second one no
      ** longer fits and goes whole. */
      {locale_kind::utf8, lower, "\xC8\xBA\xC8\xBA", "\xE2\xB1\xA5"},
      {locale_kind::utf8, lower, "a\xC8\xBA", "a"},
      {locale_kind::utf8, lower, "\xC8\xBAXYZ", "\xE2\xB1\xA5xy"},
      /* Upper-casing U+2C65 shrinks the string. */
      {locale_kind::utf8, upper, "\xE2\xB1\xA5\xE2\xB1\xA5", "\xC8\xBA\xC8\xBA"},
      /* Bytes that are no character are kept. */
      {locale_kind::utf8, upper,
       "a\xFF"
       "b",
       "A\xFF"
       "B"},
  };
  for (const row &r : rows) {
    gl_locale *record = record_of(r.kind);
    ASSERT_NE(record, nullptr);
    CurrentLocale current(record);
    EXPECT_EQ(in_place(r.convert, r.input), r.want) << r.input;
  }
}

TEST(CaseShift, NullAndUninitialisedLocaleLeaveTheStringAlone) {
  {
    CurrentLocale current(oslib_test::single_byte_locale());
    rdownshift(nullptr);
    rupshift(nullptr);
    rcaseshift(os_case_lower, nullptr);
    EXPECT_EQ(in_place(lower, "ABC"), "abc");
  }
  /* A client locale that does not exist: the initialisation fails. */
  EXPECT_EQ(oslib_test::in_child([] {
              oslib_test::forget_locale_initialisation();
              setenv("CLIENT_LOCALE", "xx_NONE.nothing", 1);
              const std::string left = in_place(lower, "ABC");
              if (chkglsinit() == 0) return std::string("the locale initialised\n");
              return left == "ABC" ? std::string() : "converted to " + left + "\n";
            }),
            "");
}

TEST(CaseShift, CheckedFormsReportANullString) {
  CurrentLocale current(oslib_test::single_byte_locale());
  for (int (*convert)(char *) : {gdownshift, gupshift}) {
    gerrno = 0;
    EXPECT_EQ(convert(nullptr), -1);
    EXPECT_EQ(gerrno, -7);
  }
  char text[] = "MiXeD";
  gerrno = 99;
  EXPECT_EQ(gdownshift(text), 0);
  EXPECT_EQ(gerrno, 0);
  EXPECT_STREQ(text, "mixed");
  EXPECT_EQ(gupshift(text), 0);
  EXPECT_STREQ(text, "MIXED");
}

/* One sized conversion: the whole output area (n bytes) and the result. */
struct sized_row {
  locale_kind kind;
  int mode; /* 0: sqlinitcap */
  std::string input;
  int n;
  std::string want; /* n bytes */
  int result;
};

void check_sized(const sized_row &r) {
  gl_locale *record = record_of(r.kind);
  ASSERT_NE(record, nullptr);
  CurrentLocale current(record);
  std::string out(static_cast<size_t>(r.n) + 4, '#');
  const int result = r.mode == 0 ? sqlinitcap(r.input.c_str(), out.data(), r.n)
                                 : sqlcaseshift(r.mode, r.input.c_str(), out.data(), r.n);
  EXPECT_EQ(result, r.result) << r.input;
  if (result == 0) {
    EXPECT_EQ(out.substr(0, static_cast<size_t>(r.n)), r.want) << r.input;
  }
  EXPECT_EQ(out.substr(static_cast<size_t>(r.n)), "####") << "written past n: " << r.input;
}

TEST(CaseShift, SizedOutputIsZeroFilledAndCutBeforeAWholeCharacter) {
  using namespace std::string_literals;
  const int up = os_case_upper;
  const int low = os_case_lower;
  const sized_row rows[] = {
      {locale_kind::single_byte, up, "ab\xE9", 5, "AB\xC9\0\0"s, 0},
      {locale_kind::single_byte, up, "abc", 2, "AB", 0},
      {locale_kind::single_byte, low, "ABC", 0, "", 0},
      {locale_kind::single_byte, low, "", 3, "\0\0\0"s, 0},
      {locale_kind::utf8, low,
       "\xC3\x80"
       "B",
       3,
       "\xC3\xA0"
       "b",
       0},
      {locale_kind::utf8, up, "a\xC3\xA0", 2, "A\0"s, 0},
      {locale_kind::utf8, low, "\xC8\xBA", 2, "\0\0"s, 0},
      {locale_kind::utf8, low, "\xC8\xBA", 4, "\xE2\xB1\xA5\0"s, 0},
      {locale_kind::utf8, up, "a\xFF", 4, "", -941},
      {locale_kind::utf8, up, "a\xC3", 4, "", -941},
  };
  for (const sized_row &r : rows)
    check_sized(r);
}

TEST(CaseShift, InitialCapitalsPerWord) {
  using namespace std::string_literals;
  const sized_row rows[] = {
      {locale_kind::single_byte, 0, "hELLO wORLD-foo 3rd", 19, "Hello World-Foo 3rd", 0},
      {locale_kind::single_byte, 0, "\xE9t\xC9", 4, "\xC9t\xE9\0"s, 0},
      {locale_kind::utf8, 0,
       "\xC3\xA9"
       "COLE \xC3\xA0",
       10,
       "\xC3\x89"
       "cole \xC3\x80\0"s,
       0},
      {locale_kind::utf8, 0, "ab\xFF", 4, "", -941},
  };
  for (const sized_row &r : rows)
    check_sized(r);
}

TEST(CaseShift, BaseNameIsAfterTheLastSlash) {
  const std::pair<const char *, const char *> rows[] = {
      {"/a/b/c", "c"}, {"abc", "abc"}, {"dir/", ""},
      {"/", ""},       {"", ""},       {"/d\xC3\xA9p/\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
  };
  for (gl_locale *record : {static_cast<gl_locale *>(nullptr), oslib_test::utf8_locale()}) {
    CurrentLocale current(record);
    for (const auto &[path, base] : rows) {
      const char *result = rbasename(path);
      EXPECT_STREQ(result, base) << path;
      EXPECT_EQ(result, path + std::strlen(path) - std::strlen(base)) << path;
    }
  }
  EXPECT_EQ(rbasename(nullptr), nullptr);
}

}  // namespace
