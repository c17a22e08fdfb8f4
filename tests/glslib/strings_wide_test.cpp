/*
** Wide strings: the copy and append operations with and without a record,
** the searches and their "nothing found" error word, the argument rule of
** the paired forms, and counted forms that stay inside their length.
** (The differential against the C library's wide functions is in
** strings_multibyte_test.cpp, beside the multibyte forms of the same texts.)
*/
#include "error_word.h"
#include "gl_strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using W = std::vector<gl_wchar>;
using glstest::ErrorWord;

constexpr gl_wchar fill = 0xDEAD;

/* The characters of text as a wide string ended by 0. */
W w(const char *text) {
  W out(text, text + std::strlen(text));
  out.push_back(0);
  return out;
}

/* A buffer of n fill values. */
W filled(std::size_t n) { return W(n, fill); }

/* A heap block of exactly the characters of text, no 0 after them: a
** counted form that reads past its length touches memory the sanitizer
** watches. */
std::unique_ptr<gl_wchar[]> exact(const char *text) {
  const std::size_t n = std::strlen(text);
  auto block = std::make_unique<gl_wchar[]>(n == 0 ? 1 : n);
  for (std::size_t i = 0; i < n; ++i)
    block[i] = static_cast<unsigned char>(text[i]);
  return block;
}

TEST(WideCopies, CopyAsTheirFormSays) {
  W src = w("ab");
  W dst = filled(8);
  EXPECT_EQ(gl_wcsncpy(dst.data(), src.data(), 5), dst.data());
  EXPECT_EQ(dst, (W {'a', 'b', 0, 0, 0, fill, fill, fill})) << "three 0 values fill up to n";

  W longer = w("abcd");
  dst = filled(6);
  EXPECT_EQ(gl_wcsncpy(dst.data(), longer.data(), 2), dst.data());
  EXPECT_EQ(dst, (W {'a', 'b', fill, fill, fill, fill})) << "no 0 when n is reached";
  dst = filled(6);
  EXPECT_EQ(_dvz_gl_wcsncpy(nullptr, dst.data(), longer.data(), 3, 5), 3);
  EXPECT_EQ(dst, (W {'a', 'b', 'c', fill, fill, fill})) << "counted: min(slen, n), no fill";

  dst = filled(6);
  EXPECT_EQ(gl_wcscpy(dst.data(), src.data()), dst.data());
  EXPECT_EQ(dst, (W {'a', 'b', 0, fill, fill, fill}));
  dst = filled(6);
  EXPECT_EQ(_dvz_gl_wcscpy(nullptr, dst.data(), longer.data(), -1), 4);
  EXPECT_EQ(dst, (W {'a', 'b', 'c', 'd', 0, fill}));
  dst = filled(6);
  EXPECT_EQ(_dvz_gl_wcscpy(nullptr, dst.data(), longer.data(), 2), 2);
  EXPECT_EQ(dst, (W {'a', 'b', fill, fill, fill, fill}));
}

TEST(WideCopies, AppendAsTheirFormSays) {
  W dst = filled(8);
  dst[0] = 'x';
  dst[1] = 0;
  W src = w("ab");
  EXPECT_EQ(gl_wcscat(dst.data(), src.data()), dst.data());
  EXPECT_EQ(dst, (W {'x', 'a', 'b', 0, fill, fill, fill, fill}));

  EXPECT_EQ(_dvz_gl_wcscat(nullptr, dst.data(), 3, src.data(), 2), 5);
  EXPECT_EQ(dst, (W {'x', 'a', 'b', 'a', 'b', fill, fill, fill})) << "counted: no 0";

  dst = W {'x', 0, fill, fill, fill};
  W abc = w("abc");
  EXPECT_EQ(gl_wcsncat(dst.data(), abc.data(), 2), dst.data());
  EXPECT_EQ(dst, (W {'x', 'a', 'b', 0, fill}));
  EXPECT_EQ(_dvz_gl_wcsncat(nullptr, dst.data(), -1, abc.data(), -1, 0), 3);
  EXPECT_EQ(_dvz_gl_wcsncat(nullptr, dst.data(), -1, w("").data(), -1, 4), 3);
  EXPECT_EQ(dst, (W {'x', 'a', 'b', 0, fill})) << "n < 1 or an empty source change nothing";
  EXPECT_EQ(_dvz_gl_wcsncat(nullptr, dst.data(), 3, abc.data(), 1, 4), 4);
  EXPECT_EQ(dst, (W {'x', 'a', 'b', 'a', fill}));
}

TEST(WideArguments, PairedFormsRefuseMixedNegativeAndNullStrings) {
  ErrorWord e;
  W s = w("abc");
  W d = filled(8);
  struct Case {
    const char *what;
    std::function<bool()> failed; /* the call, true when it reported failure */
    int error;
  };
  const Case cases[] = {
      {"cat -1/3", [&] { return _dvz_gl_wcscat(e.record(), d.data(), -1, s.data(), 3) == -1; },
       GL_EMIXEDLEN},
      {"cat 3/-1", [&] { return _dvz_gl_wcscat(e.record(), d.data(), 3, s.data(), -1) == -1; },
       GL_EMIXEDLEN},
      {"cat -2", [&] { return _dvz_gl_wcscat(e.record(), d.data(), -2, s.data(), 1) == -1; },
       GL_EBADARG},
      {"cat NULL", [&] { return _dvz_gl_wcscat(e.record(), nullptr, -1, s.data(), -1) == -1; },
       GL_ENULLPTR},
      {"ncat 2/-1", [&] { return _dvz_gl_wcsncat(e.record(), d.data(), 2, s.data(), -1, 1) == -1; },
       GL_EMIXEDLEN},
      {"cpy -2", [&] { return _dvz_gl_wcscpy(e.record(), d.data(), s.data(), -2) == -1; },
       GL_EBADARG},
      {"ncpy n -1", [&] { return _dvz_gl_wcsncpy(e.record(), d.data(), s.data(), -1, -1) == -1; },
       GL_EBADARG},
      {"spn -1/2", [&] { return _dvz_gl_wcsspn(e.record(), s.data(), -1, s.data(), 2) == -1; },
       GL_EMIXEDLEN},
      {"cspn -3/-3", [&] { return _dvz_gl_wcscspn(e.record(), s.data(), -3, s.data(), -3) == -1; },
       GL_EBADARG},
      {"spn NULL", [&] { return gl_wcsspn(e.record(), nullptr, s.data()) == -1; }, GL_ENULLPTR},
      {"wcs 2/-1", [&] { return _dvz_gl_wcswcs(e.record(), s.data(), 2, s.data(), -1) == nullptr; },
       GL_EMIXEDLEN},
      {"pbrk -1/0",
       [&] { return _dvz_gl_wcspbrk(e.record(), s.data(), -1, s.data(), 0) == nullptr; },
       GL_EMIXEDLEN},
      {"chr -2", [&] { return _dvz_gl_wcschr(e.record(), s.data(), -2, 'a') == nullptr; },
       GL_EBADARG},
      {"rchr NULL", [&] { return gl_wcsrchr(e.record(), nullptr, 'a') == nullptr; }, GL_ENULLPTR},
  };
  for (const Case &c : cases) {
    EXPECT_TRUE(c.failed()) << c.what;
    EXPECT_EQ(e.take(), c.error) << c.what;
  }
}

TEST(WideArguments, RecordlessOperationsStoreNothing) {
  int *scratch = _gl_ext_errno(nullptr);
  *scratch = 0;
  W s = w("abc");
  W d = filled(8);
  EXPECT_EQ(_dvz_gl_wcscat(nullptr, d.data(), -1, s.data(), 3), -1);
  EXPECT_EQ(gl_wcscat(nullptr, s.data()), nullptr);
  EXPECT_EQ(gl_wcsncpy(d.data(), nullptr, 2), nullptr);
  EXPECT_EQ(_dvz_gl_wcscpy(nullptr, d.data(), s.data(), -5), -1);
  EXPECT_EQ(*scratch, 0);
}

TEST(WideSearch, FindsPositionsOrClearsTheErrorWord) {
  ErrorWord e;
  W s = w("abcab");
  const gl_wchar *p = s.data();
  gl_locale *r = e.record();
  EXPECT_EQ(gl_wcschr(r, p, 'b'), p + 1);
  EXPECT_EQ(gl_wcsrchr(r, p, 'b'), p + 4);
  EXPECT_EQ(gl_wcschr(r, p, 0), p + 5) << "0 finds the terminator";
  EXPECT_EQ(gl_wcsrchr(r, p, 0), p + 5);
  EXPECT_EQ(gl_wcswcs(r, p, w("ca").data()), p + 2);
  EXPECT_EQ(gl_wcswcs(r, p, w("").data()), p) << "an empty sub gives s";
  EXPECT_EQ(gl_wcspbrk(r, p, w("xc").data()), p + 2);
  EXPECT_EQ(gl_wcsspn(r, p, w("ba").data()), 2);
  EXPECT_EQ(gl_wcscspn(r, p, w("c").data()), 2);
  EXPECT_EQ(gl_wcscspn(r, p, w("").data()), 5);
  EXPECT_EQ(e.take(), 0);

  const std::function<const gl_wchar *()> absent[] = {
      [&] { return gl_wcschr(r, p, 'z'); },
      [&] { return gl_wcsrchr(r, p, 'z'); },
      [&] { return gl_wcswcs(r, p, w("ba").data()); },
      [&] { return gl_wcspbrk(r, p, w("xyz").data()); },
      [&] { return _dvz_gl_wcschr(r, p, 5, 0); }, /* no 0 inside the count */
  };
  for (const auto &search : absent) {
    e.err = GL_EILSEQ;
    EXPECT_EQ(search(), nullptr);
    EXPECT_EQ(e.err, 0) << "nothing found clears the error word";
  }
}

TEST(WideSearch, CountedFormsStayInsideTheirLength) {
  ErrorWord e;
  gl_locale *r = e.record();
  auto s = exact("bcab"); /* no 0 after the four characters */
  auto set = exact("ab");
  auto sub = exact("ab");
  EXPECT_EQ(_dvz_gl_wcschr(r, s.get(), 4, 'b'), s.get());
  EXPECT_EQ(_dvz_gl_wcsrchr(r, s.get(), 4, 'b'), s.get() + 3);
  EXPECT_EQ(_dvz_gl_wcschr(r, s.get(), 2, 'a'), nullptr);
  EXPECT_EQ(_dvz_gl_wcswcs(r, s.get(), 4, sub.get(), 2), s.get() + 2);
  EXPECT_EQ(_dvz_gl_wcswcs(r, s.get(), 3, sub.get(), 2), nullptr) << "b is past the count";
  EXPECT_EQ(_dvz_gl_wcswcs(r, s.get(), 4, sub.get(), 0), s.get());
  EXPECT_EQ(_dvz_gl_wcsspn(r, s.get(), 4, set.get(), 2), 1);
  EXPECT_EQ(_dvz_gl_wcsspn(r, s.get() + 2, 2, set.get(), 2), 2) << "the run ends at the count";
  EXPECT_EQ(_dvz_gl_wcscspn(r, s.get() + 1, 3, set.get(), 1), 1);
  EXPECT_EQ(_dvz_gl_wcspbrk(r, s.get(), 4, set.get() + 1, 1), s.get());
  EXPECT_EQ(_dvz_gl_wcspbrk(r, s.get(), 1, set.get(), 1), nullptr);
  EXPECT_EQ(e.take(), 0);
}

}  // namespace
