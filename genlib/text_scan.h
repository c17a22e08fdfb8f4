/*
** text_scan.h: the character tests and blank skipping that the value
** library's text readers share. ASCII digits and blanks (space and tab),
** whatever the locale: the readers' layouts are fixed. Internal.
*/
#ifndef DVZ_GENLIB_TEXT_SCAN_H
#define DVZ_GENLIB_TEXT_SCAN_H

namespace dvz_genlib {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

inline const char *skip_blanks(const char *p) {
  while (is_blank(*p))
    ++p;
  return p;
}

}  // namespace dvz_genlib

#endif
