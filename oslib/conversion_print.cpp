/*
** Printing with converted string arguments, and converting argument
** vectors: gcvargs, gcvfprintf and the four database-to-client printers.
**
** A format is walked directive by directive (scan_and_print): literal text
** is written as it is, each directive is cut out into a small buffer and
** printed with its own argument by the C library's fprintf
** (print_next_arg), after a string argument that asks for it has been
** converted (gcv_malloc). %S is this module's own letter: a narrow string
** that is converted and printed as %s. %n is refused, since a directive
** printed alone cannot know the count so far.
**
** Nothing in the client library calls these; they serve programs built
** on it. Calls: gcv_malloc, the current environment's database-to-client
** converter (CheckGlsEnv), set_glserror.
*/
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "os_conv.h"
#include "os_gentcb.h"
#include "os_glsenv.h"

namespace {

constexpr std::string_view flag_letters = "-+ #0'";
constexpr std::string_view length_letters = "hlLqjzt";

/* What a directive's argument is, by its length modifier and letter. */
enum class Arg {
  none, /* %% */
  int_value,
  long_value,
  long_long_value,
  intmax_value,
  size_value,
  ptrdiff_value,
  unsigned_value,
  unsigned_long_value,
  unsigned_long_long_value,
  uintmax_value,
  double_value,
  long_double_value,
  wint_value,
  string_value,
  wide_string_value,
  pointer_value,
  refused
};

/* The pieces of one directive that decide how it is printed. */
struct Directive {
  int stars = 0; /* '*' for width and precision: int arguments first */
  std::string_view length; /* the length modifier, "" for none */
  char letter = '\0';
};

/* Length of the directive at p (which is at '%'), up to and including its
** conversion letter; 0 when the format ends inside it. */
size_t directive_length(const char *p, Directive &d) {
  size_t i = 1;
  while (p[i] != '\0' && flag_letters.find(p[i]) != std::string_view::npos)
    ++i;
  auto width = [&]() {
    if (p[i] == '*') {
      ++d.stars;
      ++i;
      return;
    }
    while (p[i] >= '0' && p[i] <= '9')
      ++i;
  };
  width();
  if (p[i] == '.') {
    ++i;
    width();
  }
  const size_t length_start = i;
  while (p[i] != '\0' && length_letters.find(p[i]) != std::string_view::npos)
    ++i;
  d.length = std::string_view(p + length_start, i - length_start);
  if (p[i] == '\0') return 0;
  d.letter = p[i];
  return i + 1;
}

Arg integer_arg(std::string_view length, bool is_unsigned) {
  if (length == "l") return is_unsigned ? Arg::unsigned_long_value : Arg::long_value;
  if (length == "ll" || length == "q")
    return is_unsigned ? Arg::unsigned_long_long_value : Arg::long_long_value;
  if (length == "j") return is_unsigned ? Arg::uintmax_value : Arg::intmax_value;
  if (length == "z") return Arg::size_value;
  if (length == "t") return Arg::ptrdiff_value;
  /* hh, h and none: promoted to int. */
  if (length.empty() || length == "h" || length == "hh")
    return is_unsigned ? Arg::unsigned_value : Arg::int_value;
  return Arg::refused;
}

Arg arg_of(const Directive &d) {
  switch (d.letter) {
    case '%':
      return Arg::none;
    case 'd':
    case 'i':
      return integer_arg(d.length, false);
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      return integer_arg(d.length, true);
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      if (d.length == "L") return Arg::long_double_value;
      return d.length.empty() || d.length == "l" ? Arg::double_value : Arg::refused;
    case 'c':
      if (d.length == "l") return Arg::wint_value;
      return d.length.empty() ? Arg::int_value : Arg::refused;
    case 's':
      if (d.length == "l") return Arg::wide_string_value;
      return d.length.empty() ? Arg::string_value : Arg::refused;
    case 'S':
      return d.length.empty() ? Arg::string_value : Arg::refused;
    case 'p':
      return d.length.empty() ? Arg::pointer_value : Arg::refused;
    default:
      return Arg::refused;
  }
}

/* fprintf of the directive with its star arguments and value. */
template <class T>
int emit(FILE *stream, const char *format, const int (&star)[2], int stars, T value) {
  switch (stars) {
    case 0:
      return fprintf(stream, format, value);
    case 1:
      return fprintf(stream, format, star[0], value);
    default:
      return fprintf(stream, format, star[0], star[1], value);
  }
}

/* A string argument printed through its converted copy when convert. */
int emit_string(FILE *stream, gl_cv_desc *cv, bool convert, const char *format,
                const int (&star)[2], int stars, const char *value) {
  if (!convert || cv == nullptr || value == nullptr)
    return emit(stream, format, star, stars, value);
  char *converted = nullptr;
  if (gcv_malloc(cv, value, nullptr, &converted) < 0) return -1;
  const int printed = emit(stream, format, star, stars, static_cast<const char *>(converted));
  free(converted);
  return printed;
}

int fail(int error) {
  set_glserror(error);
  return -1;
}

gl_cv_desc *db_to_client() {
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_db_client : nullptr;
}

}  // namespace

extern "C" {

void clear_format(char *directive) {
  if (directive != nullptr) memset(directive, 0, GCV_DIRECTIVE_SIZE);
}

int print_next_arg(FILE *stream, gl_cv_desc *cv, int convert, const char *directive,
                   va_list *args) {
  if (stream == nullptr || directive == nullptr || args == nullptr || directive[0] != '%')
    return fail(gcv_err_bad_argument);
  Directive d;
  const size_t n = directive_length(directive, d);
  if (n == 0 || directive[n] != '\0') return fail(gcv_err_bad_argument);
  const Arg kind = arg_of(d);
  if (kind == Arg::refused) return fail(gcv_err_bad_argument);
  if (kind == Arg::none) return fputc('%', stream) == EOF ? -1 : 1;

  /* %S goes to the C library as %s. */
  char format[GCV_DIRECTIVE_SIZE];
  memcpy(format, directive, n + 1);
  if (d.letter == 'S') format[n - 1] = 's';
  int star[2] = {0, 0};
  for (int i = 0; i < d.stars; ++i)
    star[i] = va_arg(*args, int);
  const int s = d.stars;
  switch (kind) {
    case Arg::int_value:
      return emit(stream, format, star, s, va_arg(*args, int));
    case Arg::long_value:
      return emit(stream, format, star, s, va_arg(*args, long));
    case Arg::long_long_value:
      return emit(stream, format, star, s, va_arg(*args, long long));
    case Arg::intmax_value:
      return emit(stream, format, star, s, va_arg(*args, intmax_t));
    case Arg::size_value:
      return emit(stream, format, star, s, va_arg(*args, size_t));
    case Arg::ptrdiff_value:
      return emit(stream, format, star, s, va_arg(*args, ptrdiff_t));
    case Arg::unsigned_value:
      return emit(stream, format, star, s, va_arg(*args, unsigned));
    case Arg::unsigned_long_value:
      return emit(stream, format, star, s, va_arg(*args, unsigned long));
    case Arg::unsigned_long_long_value:
      return emit(stream, format, star, s, va_arg(*args, unsigned long long));
    case Arg::uintmax_value:
      return emit(stream, format, star, s, va_arg(*args, uintmax_t));
    case Arg::double_value:
      return emit(stream, format, star, s, va_arg(*args, double));
    case Arg::long_double_value:
      return emit(stream, format, star, s, va_arg(*args, long double));
    case Arg::wint_value:
      return emit(stream, format, star, s, va_arg(*args, wint_t));
    case Arg::wide_string_value:
      return emit(stream, format, star, s, va_arg(*args, const wchar_t *));
    case Arg::pointer_value:
      return emit(stream, format, star, s, va_arg(*args, void *));
    case Arg::string_value:
      return emit_string(stream, cv, convert != 0, format, star, s, va_arg(*args, const char *));
    default:
      return fail(gcv_err_bad_argument);
  }
}

int scan_and_print(FILE *stream, gl_cv_desc *cv, int convert_plain, const char *format,
                   va_list args) {
  if (stream == nullptr || format == nullptr) return fail(gcv_err_bad_argument);
  va_list ap;
  va_copy(ap, args);
  char directive[GCV_DIRECTIVE_SIZE];
  int64_t total = 0;
  int result = 0;
  const char *p = format;
  while (*p != '\0') {
    if (*p != '%') {
      const size_t run = strcspn(p, "%");
      if (fwrite(p, 1, run, stream) != run) {
        result = -1;
        break;
      }
      total += static_cast<int64_t>(run);
      p += run;
      continue;
    }
    Directive d;
    const size_t n = directive_length(p, d);
    if (n == 0 || n >= GCV_DIRECTIVE_SIZE) {
      result = fail(gcv_err_bad_argument);
      break;
    }
    clear_format(directive);
    memcpy(directive, p, n);
    const bool convert = d.letter == 'S' || (d.letter == 's' && convert_plain != 0);
    const int printed = print_next_arg(stream, cv, convert ? 1 : 0, directive, &ap);
    if (printed < 0) {
      result = -1;
      break;
    }
    total += printed;
    p += n;
  }
  va_end(ap);
  if (result < 0) return -1;
  return total <= INT32_MAX ? static_cast<int>(total) : INT32_MAX;
}

int gcvargs(gl_cv_desc *cv, int n, char **strings) {
  if (strings == nullptr || n < 0) return fail(gcv_err_bad_argument);
  if (cv == nullptr) return 0;
  for (int i = 0; i < n && strings[i] != nullptr; ++i) {
    char *converted = nullptr;
    if (gcv_malloc(cv, strings[i], nullptr, &converted) < 0) return -1;
    strings[i] = converted;
  }
  return 0;
}

int gcvfprintf(gl_cv_desc *cv, FILE *stream, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int printed = scan_and_print(stream, cv, 1, format, args);
  va_end(args);
  return printed;
}

int gcvargDBXCLfprintf(FILE *stream, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int printed = scan_and_print(stream, db_to_client(), 0, format, args);
  va_end(args);
  return printed;
}

int gcvargDBXCLprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int printed = scan_and_print(stdout, db_to_client(), 0, format, args);
  va_end(args);
  return printed;
}

int gcvallargDBXCLfprintf(FILE *stream, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int printed = scan_and_print(stream, db_to_client(), 1, format, args);
  va_end(args);
  return printed;
}

int gcvallargDBXCLprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int printed = scan_and_print(stdout, db_to_client(), 1, format, args);
  va_end(args);
  return printed;
}

}  // extern "C"
