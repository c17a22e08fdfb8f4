/*
** Locale-aware CHAR comparison in the generated locales: trailing blanks
** and leading NUL bytes, errors stored in both places, agreement with the
** C library's strcoll in the locale each generated one came from, the
** trailing-blank length, collation ranges, the platform-collation
** helpers and the current directory.
*/
#include "os_context.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "generated_locales.h"
#include "peer_locales.h"
#include "temp_dir.h"

namespace {

using namespace std::string_literals;
using oslib_test::CurrentLocale;

int sign(int v) { return (v > 0) - (v < 0); }

/* osglsbycmpr over whole strings; the error output in *error. */
int compare(gl_locale *loc, const std::string &a, const std::string &b, int *error) {
  return osglsbycmpr(loc, a.data(), static_cast<int>(a.size()), b.data(),
                     static_cast<int>(b.size()), error);
}

class Comparison : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CheckOsInit(), nullptr);
    single = oslib_test::single_byte_locale();
    utf8 = oslib_test::utf8_locale();
    ASSERT_NE(single, nullptr);
    ASSERT_NE(utf8, nullptr);
  }
  gl_locale *single = nullptr;
  gl_locale *utf8 = nullptr;
};

TEST_F(Comparison, TrailingBlanksAndLeadingNulBytes) {
  struct row {
    std::string a, b;
    int want;
  };
  const row rows[] = {
      {"ab ", "ab", 0}, {"   ", "", 0},  {"", "  ", 0},     {"a", "b", -1},  {"b  ", "a", 1},
      {"", "a", -1},    {"a", "   ", 1}, {"\0x"s, "a", -1}, {"a", "\0"s, 1}, {"\0a"s, "\0b"s, 0},
  };
  for (gl_locale *loc : {single, utf8}) {
    for (const row &r : rows) {
      int error = 99;
      loc->error = 99;
      EXPECT_EQ(compare(loc, r.a, r.b, &error), r.want) << r.a << "|" << r.b;
      EXPECT_EQ(error, 0);
      EXPECT_EQ(loc->error, 0);
    }
  }
}

TEST_F(Comparison, ErrorsGoToBothPlacesWithResultZero) {
  struct row {
    gl_locale *loc;
    std::string a, b;
    int want_error;
  };
  const row rows[] = {
      {utf8, "a\xFF", "a", -202},
      {utf8, "b", "a\xC3", -202},
      {utf8, "a\0b"s, "a", -202}, /* a NUL character inside a multibyte value */
  };
  for (const row &r : rows) {
    int error = 0;
    EXPECT_EQ(compare(r.loc, r.a, r.b, &error), 0) << r.a;
    EXPECT_EQ(error, r.want_error) << r.a;
    EXPECT_EQ(r.loc->error, r.want_error) << r.a;
  }
  /* The single-byte comparison stops at the NUL like any C string. */
  int error = 1;
  EXPECT_EQ(compare(single, "a\0b"s, "a", &error), 0);
  EXPECT_EQ(error, 0);

  /* No scratch buffer for the wide forms: checked before the value is
  ** read. */
  const char small[] = "a";
  error = 0;
  EXPECT_EQ(mbsbycmpr(utf8, small, 300000000, small, 1, &error), 0);
  EXPECT_EQ(error, -1211);
  EXPECT_EQ(utf8->error, -1211);
}

/* Words of letters and digits (no trailing blanks), in Latin-1. */
const std::vector<std::string> latin1_words = {
    "apple",
    "Apple",
    "APPLE",
    "banana",
    "Banana",
    "a",
    "A",
    "b",
    "B",
    "z",
    "Z",
    "ab",
    "abc",
    "abd",
    "Abd",
    "r\xE9sum\xE9",
    "resume",
    "Resume",
    "R\xC9SUM\xC9",
    "cote",
    "c\xF4te",
    "cot\xE9",
    "c\xF4t\xE9",
    "zebra",
    "Z\xFCrich",
    "zurich",
    "\xE5ngstr\xF6m",
    "angstrom",
    "na\xEFve",
    "naive",
    "123",
    "12",
    "2",
    "a1",
    "a2",
    "A1",
    "1a",
    "\xE9",
    "e",
    "E",
    "\xC9",
    "f",
    "\xF1o",
    "no",
    "nz",
    "\xC7"
    "a",
    "ca",
    "cz",
};

std::string latin1_to_utf8(const std::string &latin1) {
  std::string out;
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void expect_agreement(gl_locale *loc, locale_t peer, const std::vector<std::string> &words) {
  ASSERT_NE(peer, static_cast<locale_t>(0));
  for (const std::string &a : words) {
    for (const std::string &b : words) {
      int error = 1;
      const int ours = compare(loc, a, b, &error);
      EXPECT_EQ(error, 0) << a << " " << b;
      EXPECT_EQ(ours, sign(strcoll_l(a.c_str(), b.c_str(), peer))) << a << " vs " << b;
    }
  }
}

TEST_F(Comparison, SingleByteAgreesWithTheCLibrary) {
  expect_agreement(single, glstest::peer_locale("en_US", "ISO-8859-1"), latin1_words);
}

TEST_F(Comparison, Utf8AgreesWithTheCLibrary) {
  std::vector<std::string> words;
  for (const std::string &w : latin1_words)
    words.push_back(latin1_to_utf8(w));
  for (const char *w : {"\xC3\xA9t\xC3\xA9", "\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\xB2", "\xCF\x89",
                        "\xD0\xB4\xD0\xB0", "\xC8\xBA", "\xE2\xB1\xA5"})
    words.push_back(w);
  expect_agreement(utf8, glstest::peer_locale("en_US", "UTF-8"), words);
}

TEST_F(Comparison, LengthWithoutTrailingBlanks) {
  struct row {
    gl_locale *loc;
    std::string value;
    int want;
  };
  const row rows[] = {
      {single, "ab  ", 2},   {single, "ab\t", 3},     {single, "   ", 0},   {single, "", 0},
      {single, "a b ", 3},   {nullptr, "ab \t ", 4},  {nullptr, "ab  ", 2}, {utf8, "\xC3\xA9  ", 2},
      {utf8, "ab\t", 3},     {utf8, "abc \xFF  ", 3}, /* the blank run before the invalid byte */
      {utf8, "ab\xFFz ", 2}, /* the invalid byte itself */
      {utf8, "ab\xC3", 2}, /* a character cut off */
  };
  for (const row &r : rows) {
    if (r.loc != nullptr) r.loc->error = 0;
    EXPECT_EQ(osglsbyleng(r.loc, r.value.data(), static_cast<int>(r.value.size())), r.want)
        << r.value;
    if (r.loc != nullptr) {
      EXPECT_EQ(r.loc->error, 0) << r.value;
    }
  }
}

TEST_F(Comparison, RangesFollowTheCollation) {
  struct row {
    gl_locale *loc;
    gl_wchar c, low, high;
    int want;
  };
  const row rows[] = {
      {single, 'b', 'a', 'c', 1},  {single, 'a', 'a', 'a', 1},
      {single, 'd', 'a', 'c', 0},  {single, 'B', 'a', 'c', 1}, /* by collation, not by code value */
      {single, 0xE9, 'e', 'f', 1}, {nullptr, 'B', 'a', 'c', 0}, /* no locale: code values */
      {nullptr, 'b', 'a', 'c', 1},
  };
  for (const row &r : rows) {
    CurrentLocale current(r.loc);
    EXPECT_EQ(CharInRange(r.c, r.low, r.high), r.want) << r.c;
  }
  for (gl_locale *loc : {single, static_cast<gl_locale *>(nullptr)}) {
    CurrentLocale current(loc);
    for (gl_wchar c = 0x20; c < 0x100; ++c)
      EXPECT_EQ(CharInRange(c, 'm', 'c'), 0) << c;
  }
}

TEST(PlatformCollation, CutsBlanksAndPutsEmptyFirst) {
  ASSERT_NE(std::setlocale(LC_COLLATE, "C"), nullptr);
  ASSERT_NE(CheckOsInit(), nullptr);
  struct row {
    const char *a, *b;
    int n;
    int want;
  };
  const row rows[] = {
      {"ab  ", "ab  ", 4, 0}, {"a   ", "b   ", 4, -1}, {"    ", "a   ", 4, -1},
      {"b   ", "    ", 4, 1}, {"    ", "    ", 4, 0},  {"ab", "ab", 0, 0},
  };
  for (const row &r : rows) {
    int error = 1;
    EXPECT_EQ(nlsbycmpr(r.a, r.b, r.n, &error), r.want) << r.a << "|" << r.b;
    EXPECT_EQ(error, 0);
  }
  int error = 1;
  EXPECT_EQ(_oncharcmp("ab", 2, "ab   ", 5, &error), 0);
  EXPECT_EQ(_oncharcmp("abc", 3, "ab", 2, &error), 1);
  EXPECT_EQ(_oncharcmp("", 0, "a", 1, &error), -1);
  EXPECT_EQ(_oncharcmp("b\t", 2, "b", 1, &error), 1);
  EXPECT_EQ(error, 0);
}

TEST(CurrentDirectory, AsThePlatformGivesItOrConverted) {
  dvz_test::TempDir dir;
  /* OS names in 8859-1: e-acute becomes two bytes for a UTF-8 client. */
  ASSERT_EQ(mkdir(dir.file("r\xE9p").c_str(), 0700), 0);
  dvz_test::ScopedChdir in(dir.file("r\xE9p"));
  char expected[4096];
  ASSERT_NE(getcwd(expected, sizeof expected), nullptr);

  std::vector<char> buffer(1026, '#');
  EXPECT_EQ(ggetcwd(buffer.data()), 0);
  EXPECT_STREQ(buffer.data(), expected);

  std::string converted = expected;
  converted.replace(converted.size() - 2, 1, "\xC3\xA9");
  {
    oslib_test::Latin1ToUtf8 cv;
    oslib_test::EnvironmentConverter os_client(&new_gls_env::cv_os_client, cv.get());
    EXPECT_EQ(ggetcwd(buffer.data()), 0);
    EXPECT_EQ(std::string(buffer.data()), converted);

    /* Converted, the name no longer fits the buffer: 1025 bytes at most. */
    const std::string part(200, '\xE9');
    std::string deep = expected;
    while (deep.size() < 700) {
      deep += "/" + part;
      ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    dvz_test::ScopedChdir down(deep);
    EXPECT_EQ(ggetcwd(buffer.data()), -1);
  }
  /* A UTF-8 OS name without an 8859-1 form fails. */
  ASSERT_EQ(mkdir(dir.file("\xE2\x82\xAC").c_str(), 0700), 0);
  dvz_test::ScopedChdir euro(dir.file("\xE2\x82\xAC"));
  oslib_test::Utf8ToLatin1 cv;
  oslib_test::EnvironmentConverter os_client(&new_gls_env::cv_os_client, cv.get());
  EXPECT_EQ(ggetcwd(buffer.data()), -1);
}

TEST(CurrentDirectory, TooLongForTheBufferFails) {
  dvz_test::TempDir dir;
  dvz_test::ScopedChdir in(dir.path());
  const std::string part(200, 'd');
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(mkdir(part.c_str(), 0700), 0);
    ASSERT_EQ(chdir(part.c_str()), 0);
  }
  std::vector<char> buffer(1026 + 64, '#');
  EXPECT_EQ(ggetcwd(buffer.data()), -1);
  EXPECT_EQ(buffer[1026], '#') << "written past its room";
}

}  // namespace
