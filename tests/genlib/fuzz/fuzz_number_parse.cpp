/*
** Fuzz target: the number-text readers. The input bytes are given as a
** terminated text in a heap block of exactly their size plus the
** terminator (rstoi, rstol, rstod, rstod_pload, dvz_gl_convert_double with
** and without a format), and unterminated with their length to rmondec,
** in a block of exactly that size, so that a read past the text is an
** address-sanitizer report. Every status must be one the readers
** document; a 16- or 32-bit result must lie within its width's limits,
** the NULL form coming only from a text of spaces; rmondec must stop
** within the text and write at most its length and a terminator.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "fuzz_environment.h"
#include "gen_dectext.h"

namespace {

constexpr size_t max_text = 4096;

[[noreturn]] void fail(const char *reader, const char *what, long long detail) {
  std::fprintf(stderr, "fuzz_number_parse: %s: %s (%lld)\n", reader, what, detail);
  std::abort();
}

void expect_status(const char *reader, int status, std::initializer_list<int> allowed) {
  for (int a : allowed)
    if (status == a) return;
  fail(reader, "unexpected status", status);
}

bool only_spaces(const char *text) {
  while (*text == ' ')
    ++text;
  return *text == '\0';
}

void check_integers(const char *text) {
  int small = 0;
  int status = rstoi(text, &small);
  expect_status("rstoi", status, {0, -1213, -1214});
  if (status == 0 && (small < -32768 || small > 32767)) fail("rstoi", "value out of range", small);
  if (status == 0 && small == -32768 && !only_spaces(text))
    fail("rstoi", "NULL form from a number", small);

  int32_t wide = 0;
  status = rstol(text, &wide);
  expect_status("rstol", status, {0, -1213, -1215});
  if (status == 0 && wide == INT32_MIN && !only_spaces(text))
    fail("rstol", "NULL form from a number", wide);
}

void check_doubles(const char *text) {
  double d = 0;
  /* -406 and -1273: the copy in the locale's own decimal point. */
  expect_status("rstod", rstod(text, &d), {0, -1213, -406, -1273});
  expect_status("dvz_gl_convert_double", dvz_gl_convert_double(&d, text, nullptr),
                {0, -1213, -406, -1273});
  expect_status("dvz_gl_convert_double %g", dvz_gl_convert_double(&d, text, "%g"),
                {0, -1213, -406, -1273});
  /* -1200, -1201 and -406: a "0x" text read through DECIMAL. */
  expect_status("rstod_pload", rstod_pload(text, &d), {0, -1213, -1216, -1223, -1200, -1201, -406});
}

void check_money(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> text(new char[size > 0 ? size : 1]);
  if (size > 0) std::memcpy(text.get(), data, size);
  std::unique_ptr<char[]> out(new char[size + 1]);
  const char *stop = rmondec(text.get(), static_cast<int>(size), out.get());
  if (stop < text.get() || stop > text.get() + size)
    fail("rmondec", "stopped outside the text", stop - text.get());
  size_t written = strnlen(out.get(), size + 1);
  if (written > size) fail("rmondec", "output not terminated within its length", written);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_text) return 0;
  const std::unique_ptr<char[]> text = fuzz_environment::exact_copy(data, size, true);
  check_integers(text.get());
  check_doubles(text.get());
  check_money(data, size);
  return 0;
}
