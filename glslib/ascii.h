/*
** ascii.h: the ASCII character classes the library's text parsers use
** (token readers, the registry file, locale specifications, code-set
** names); not part of the library's interface.
**
** Locale-independent on purpose: the library reads its own data files and
** specification syntax the same way whatever the C library's locale is.
** Every test takes an int, so a byte from getc (or EOF) and a char both
** work.
*/
#ifndef DVZ_GLSLIB_ASCII_H
#define DVZ_GLSLIB_ASCII_H

namespace glslib::ascii {

constexpr bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_alpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_alnum(int c) { return is_alpha(c) || is_digit(c); }
/* A letter, digit or punctuation character (printable, not a blank). */
constexpr bool is_graph(int c) { return c > 0x20 && c < 0x7f; }

/* Value of a hex digit, or -1. */
constexpr int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
constexpr bool is_xdigit(int c) { return hex_value(c) >= 0; }

constexpr char to_lower(int c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}
constexpr char to_upper(int c) {
  return static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
}

}  // namespace glslib::ascii

#endif
