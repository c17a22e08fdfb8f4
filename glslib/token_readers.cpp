/*
** Token readers of the locale library's text data files (locale files,
** conversion files, the text form of multi-level tables).
**
** All reads go through the host's stream slots (fgetc 5, getc 12, ungetc
** 14); only the byte that ends a token is pushed back. Their quirks are
** part of the file formats and kept on purpose: a non-hex byte inside a
** hex field adds its own value (the newline of the run-list end marker
** "0000000\n" is read that way), the integer token takes any first
** non-space byte, and the string token skips no leading white space.
** Callers: every data-file reader. Calls: host services.
*/

#include "token_readers.h"

#include "ascii.h"

#include <array>
#include <cstdlib>

namespace {

using glslib::ascii::hex_value;
using glslib::ascii::is_digit;
using glslib::ascii::is_space;

constexpr bool is_float_char(int c) {
  return is_digit(c) || c == 'E' || c == 'e' || c == '.' || c == '-' || c == '+';
}

/* Skips white space by fgetc and returns the first other byte (or EOF). */
int first_non_space(FILE *stream) {
  int c;
  do {
    c = _gl_ext_fgetc(stream);
  } while (is_space(c));
  return c;
}

}  // namespace

extern "C" {

void _gl_skip_whitespace(FILE *stream) {
  int c = first_non_space(stream);
  _gl_ext_ungetc(c, stream);
}

int _gl_get_hex_digit(FILE *stream) {
  int value = hex_value(_gl_ext_getc(stream));
  return value < 0 ? 0 : value;
}

int _gl_get_hex_byte(FILE *stream) {
  int high = _gl_get_hex_digit(stream);
  int low = _gl_get_hex_digit(stream);
  return high * 16 + low;
}

int _gl_get_hex(FILE *stream, int count) {
  if (count < 1) return 0;
  if (count > 8) count = 8;
  uint32_t value = 0; /* wraps like the 32-bit word it stands for */
  for (int i = 0; i < count; ++i) {
    int c = _gl_ext_fgetc(stream);
    int digit = hex_value(c);
    value = value * 16u + static_cast<uint32_t>(digit >= 0 ? digit : c);
  }
  return static_cast<int>(value);
}

int _gl_get_int(FILE *stream) {
  constexpr int token_max = 40;
  std::array<char, token_max + 1> token {};
  int length = 0;
  token[length++] = static_cast<char>(first_non_space(stream));
  int c = 0;
  while (length < token_max) {
    c = _gl_ext_fgetc(stream);
    if (!is_digit(c)) break;
    token[length++] = static_cast<char>(c);
  }
  if (length == token_max) {
    /* Further digits belong to the token but are not converted. */
    do {
      c = _gl_ext_fgetc(stream);
    } while (is_digit(c));
  }
  _gl_ext_ungetc(c, stream);
  token[length] = '\0';
  /* atoi's value, without its undefined behaviour out of range. */
  return static_cast<int>(std::strtol(token.data(), nullptr, 10));
}

double _gl_get_dbl(FILE *stream) {
  constexpr int token_max = 80;
  std::array<char, token_max + 1> token {};
  int length = 0;
  token[length++] = static_cast<char>(first_non_space(stream));
  while (length < token_max) {
    int c = _gl_ext_fgetc(stream);
    if (!is_float_char(c)) {
      _gl_ext_ungetc(c, stream);
      break;
    }
    token[length++] = static_cast<char>(c);
  }
  token[length] = '\0';
  return std::strtod(token.data(), nullptr);
}

int _gl_get_str(char *buffer, int size, FILE *stream) {
  if (buffer == nullptr || size < 1) return 0;
  int length = 0;
  while (length < size - 1) {
    int c = _gl_ext_getc(stream);
    if (c == EOF) break;
    if (is_space(c)) {
      _gl_ext_ungetc(c, stream);
      break;
    }
    buffer[length++] = static_cast<char>(c);
  }
  buffer[length] = '\0';
  return 0;
}

}  // extern "C"
