/*
** Printing with converted string arguments and converting argument
** vectors, with the build's generated converters between 8859-1 and
** UTF-8: the output equals the C library's snprintf of the same format
** with the strings converted first; which directives convert depends on
** the printer; failures stop with -1 and the locale error.
*/
#include "os_conv.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "conversion_fixture.h"
#include "os_gentcb.h"
#include "temp_dir.h"

namespace {

using oslib_test::EnvironmentConverter;
using oslib_test::Latin1ToUtf8;
using oslib_test::Utf8ToLatin1;

/* What print wrote to a temporary stream, and its result in *rc. */
std::string captured(const std::function<int(FILE *)> &print, int *rc) {
  FILE *f = tmpfile();
  if (f == nullptr) {
    ADD_FAILURE() << "tmpfile";
    return "";
  }
  *rc = print(f);
  fflush(f);
  rewind(f);
  std::string out;
  char buf[256];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
    out.append(buf, n);
  fclose(f);
  return out;
}

/* What print wrote to stdout, which is sent to a file meanwhile. */
std::string captured_stdout(const std::function<int()> &print, int *rc) {
  dvz_test::TempDir dir;
  const std::string path = dir.file("stdout");
  FILE *f = fopen(path.c_str(), "w");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return "";
  }
  fflush(stdout);
  const int saved = dup(1);
  dup2(fileno(f), 1);
  *rc = print();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  fclose(f);
  return dvz_test::read_file(path);
}

TEST(ConvertedPrinting, MatchesSnprintfWithTheStringsConvertedFirst) {
  Latin1ToUtf8 cv;
  ASSERT_NE(cv.get(), nullptr);
  const char *name = "Jos\xE9";
  const char *place = "S\xE3o Paulo";
  int rc = 0;
  const std::string out = captured(
      [&](FILE *f) {
        return gcvfprintf(cv.get(), f, "[%s|%-8S|%5.1f|%+04d|%c|%%|%*.*s|%lu|%lld|%#x|%.3s]", name,
                          place, 3.14159, 7, 'q', 6, 2, name, 123456789UL, -5LL, 255u, place);
      },
      &rc);
  char want[256];
  const int n = snprintf(want, sizeof want, "[%s|%-8s|%5.1f|%+04d|%c|%%|%*.*s|%lu|%lld|%#x|%.3s]",
                         "Jos\xC3\xA9", "S\xC3\xA3o Paulo", 3.14159, 7, 'q', 6, 2, "Jos\xC3\xA9",
                         123456789UL, -5LL, 255u, "S\xC3\xA3o Paulo");
  EXPECT_EQ(out, want);
  EXPECT_EQ(rc, n);
}

TEST(ConvertedPrinting, DatabaseToClientPrintersConvertTheirDirectives) {
  Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  EnvironmentConverter in_env(&new_gls_env::cv_db_client, cv.get());
  const char *word = "caf\xC3\xA9";
  struct Case {
    const char *what;
    std::function<int(FILE *)> print_to; /* nullptr: prints to stdout */
    std::function<int()> print;
    std::string want;
  };
  const Case cases[] = {
      {"gcvargDBXCLfprintf: %S only",
       [&](FILE *f) { return gcvargDBXCLfprintf(f, "%s %S", word, word); }, nullptr,
       "caf\xC3\xA9 caf\xE9"},
      {"gcvallargDBXCLfprintf: %s too",
       [&](FILE *f) { return gcvallargDBXCLfprintf(f, "%s %S", word, word); }, nullptr,
       "caf\xE9 caf\xE9"},
      {"gcvargDBXCLprintf: %S only", nullptr,
       [&] { return gcvargDBXCLprintf("%s %S!", word, word); }, "caf\xC3\xA9 caf\xE9!"},
      {"gcvallargDBXCLprintf: %s too", nullptr,
       [&] { return gcvallargDBXCLprintf("%s %S!", word, word); }, "caf\xE9 caf\xE9!"},
  };
  for (const Case &c : cases) {
    int rc = 0;
    const std::string out = c.print_to ? captured(c.print_to, &rc) : captured_stdout(c.print, &rc);
    EXPECT_EQ(out, c.want) << c.what;
    EXPECT_EQ(rc, static_cast<int>(c.want.size())) << c.what;
  }
  /* Without a converter %S prints as %s. */
  EnvironmentConverter none(&new_gls_env::cv_db_client, nullptr);
  int rc = 0;
  EXPECT_EQ(captured([&](FILE *f) { return gcvallargDBXCLfprintf(f, "<%5S>", "ab"); }, &rc),
            "<   ab>");
}

TEST(ConvertedPrinting, FailuresStopWithTheLocaleError) {
  Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  int count = 0;
  struct Case {
    const char *what;
    std::function<int(FILE *)> print;
    std::string printed_before;
    int glserror;
  };
  const Case cases[] = {
      {"an argument without conversion",
       [&](FILE *f) { return gcvfprintf(cv.get(), f, "ok %s %s", "\xE2\x82\xAC", "never"); }, "ok ",
       gcv_err_invalid_char},
      {"%n is refused", [&](FILE *f) { return gcvfprintf(cv.get(), f, "ab%n", &count); }, "ab",
       gcv_err_bad_argument},
      {"a directive cut by the end", [&](FILE *f) { return gcvfprintf(cv.get(), f, "ab%-5"); },
       "ab", gcv_err_bad_argument},
      {"an unknown letter", [&](FILE *f) { return gcvfprintf(cv.get(), f, "%y"); }, "",
       gcv_err_bad_argument},
  };
  for (const Case &c : cases) {
    set_glserror(0);
    int rc = 0;
    EXPECT_EQ(captured(c.print, &rc), c.printed_before) << c.what;
    EXPECT_EQ(rc, -1) << c.what;
    EXPECT_EQ(get_glserror(), c.glserror) << c.what;
  }
}

TEST(ConvertedArguments, GcvargsReplacesStringsUpToTheFirstNull) {
  Latin1ToUtf8 to_utf8;
  ASSERT_NE(to_utf8.get(), nullptr);
  char first[] = "plain";
  char second[] = "caf\xE9";
  char after[] = "after";
  char *strings[] = {first, second, nullptr, after};
  EXPECT_EQ(gcvargs(to_utf8.get(), 4, strings), 0);
  EXPECT_STREQ(strings[0], "plain");
  EXPECT_NE(strings[0], first);
  EXPECT_STREQ(strings[1], "caf\xC3\xA9");
  EXPECT_STREQ(second, "caf\xE9"); /* the original is left alone */
  EXPECT_EQ(strings[3], after);
  free(strings[0]);
  free(strings[1]);

  /* n counts too: only the first is taken. */
  char *one[] = {second, first};
  EXPECT_EQ(gcvargs(to_utf8.get(), 1, one), 0);
  EXPECT_STREQ(one[0], "caf\xC3\xA9");
  EXPECT_EQ(one[1], first);
  free(one[0]);

  char *unchanged[] = {second};
  EXPECT_EQ(gcvargs(nullptr, 1, unchanged), 0);
  EXPECT_EQ(unchanged[0], second);

  Utf8ToLatin1 to_latin1;
  char euro[] = "\xE2\x82\xAC";
  char *failing[] = {first, euro};
  set_glserror(0);
  EXPECT_EQ(gcvargs(to_latin1.get(), 2, failing), -1);
  EXPECT_EQ(get_glserror(), gcv_err_invalid_char);
  EXPECT_STREQ(failing[0], "plain");
  EXPECT_NE(failing[0], first);
  EXPECT_EQ(failing[1], euro);
  free(failing[0]);
}

}  // namespace
