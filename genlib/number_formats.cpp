/*
** number_formats.cpp: DECIMAL to and from text through an optional
** printf-like format of the locale library. Failures return -1 and leave
** the locale library's error number: 9 a failed conversion, 22 a format
** whose directive is neither floating nor integer.
*/
#include <cstring>
#include <string_view>

#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gl_errors.h"
#include "gl_numbers.h"
#include "number_conventions.h"

namespace {

enum format_type {
  format_other = 0,
  format_floating = 1,
  format_integer = 2,
  format_two_directives = -1
};

constexpr std::string_view flag_chars = " #'+-";
constexpr std::string_view floating_chars = "eEfgG";
constexpr std::string_view integer_chars = "diouxXbq";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

const unsigned char *bytes(const char *text) {
  return reinterpret_cast<const unsigned char *>(text);
}

}  // namespace

extern "C" {

/* Classifies the one "%" directive of format ("%%" is literal). */
int get_num_fmt_type(const char *format) {
  int type = format_other;
  bool found = false;
  for (const char *p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
      continue;
    }
    if (found) return format_two_directives;
    found = true;
    ++p;
    while (*p != '\0' && flag_chars.find(*p) != std::string_view::npos)
      ++p;
    while (is_digit(*p))
      ++p;
    if (*p == '.') {
      ++p;
      while (is_digit(*p))
        ++p;
    }
    if (*p == '\0') break;
    if (floating_chars.find(*p) != std::string_view::npos) {
      type = format_floating;
    } else if (integer_chars.find(*p) != std::string_view::npos) {
      type = format_integer;
    }
  }
  return type;
}

int dvz_gl_convert_number(dec_t *result, const char *text, const char *format) {
  if (format == nullptr) {
    if (deccvasc(text, static_cast<int>(std::strlen(text)), result) != 0) {
      dvz_genlib::set_locale_error(GL_EBADARG);
      return -1;
    }
    return 0;
  }
  if (dvz_genlib::load_conventions() != 0) return -1;
  gl_locale *loc = CheckGlsEnv()->locale;
  int status = -1;
  switch (get_num_fmt_type(format)) {
    case format_floating: {
      double value = 0;
      if (gl_mbspnum(loc, bytes(text), bytes(format), &value) == 1)
        status = deccvdbl(value, result);
      break;
    }
    case format_integer: {
      int value = 0;
      if (gl_mbspnum(loc, bytes(text), bytes(format), &value) == 1)
        status = deccvint(value, result);
      break;
    }
    default:
      dvz_genlib::set_locale_error(GL_EDIRECTIVE);
      return -1;
  }
  if (status != 0) {
    dvz_genlib::set_locale_error(GL_EBADARG);
    return -1;
  }
  return 0;
}

int dvz_gl_format_number(char *buffer, int size, const dec_t *value, const char *format) {
  if (format == nullptr) {
    if (size < 2 || dectoasc(value, buffer, size - 1, -1) != 0) {
      dvz_genlib::set_locale_error(GL_EBADARG);
      return -1;
    }
    int end = size - 1;
    while (end > 0 && buffer[end - 1] == ' ')
      --end;
    buffer[end] = '\0';
    return end < 1 ? -1 : 0;
  }
  if (dvz_genlib::load_conventions() != 0) return -1;
  gl_locale *loc = CheckGlsEnv()->locale;
  int written = -1;
  switch (get_num_fmt_type(format)) {
    case format_floating: {
      double d = 0;
      if (dectodbl(value, &d) == 0) {
        written =
            gl_mbsfnum(loc, reinterpret_cast<unsigned char *>(buffer), size, bytes(format), d);
      } else {
        dvz_genlib::set_locale_error(GL_EBADARG);
        return -1;
      }
      break;
    }
    case format_integer: {
      int i = 0;
      if (dectoint(value, &i) == 0) {
        written =
            gl_mbsfnum(loc, reinterpret_cast<unsigned char *>(buffer), size, bytes(format), i);
      } else {
        dvz_genlib::set_locale_error(GL_EBADARG);
        return -1;
      }
      break;
    }
    default:
      dvz_genlib::set_locale_error(GL_EBADARG);
      return -1;
  }
  return written < 1 ? -1 : 0;
}

}  // extern "C"
