/*
** number_conventions.h: internal access of the number-text modules to the
** numeric conventions and locale of the current locale environment, the
** locale library's error number they report through, and two small
** text helpers they share: the end of a blank-filled field and the walk
** over the directives of a printf-like format.
*/
#ifndef DVZ_GENLIB_NUMBER_CONVENTIONS_H
#define DVZ_GENLIB_NUMBER_CONVENTIONS_H

#include <string_view>

#include "os_glsenv.h"
#include "os_lconv.h"

namespace dvz_genlib {

/* Initialises the current locale environment and loads its conventions:
** 0 or the initialisation's negative error. */
int load_conventions();

/* The current environment's conventions, loaded on first use (with the
** locale initialised first; without a locale, the defaults). */
const gls_lconv &conventions();

/* Stores error in the current locale's error word (nothing without one). */
void set_locale_error(int error);

/* Terminates the blank-filled field of length bytes (field[length] must
** be writable) after its last non-blank; the text's length. */
inline int cut_trailing_blanks(char *field, int length) {
  while (length > 0 && field[length - 1] == ' ')
    --length;
  field[length] = '\0';
  return length;
}

/* The index of the first "%" directive of format at or after from ("%%"
** is a literal percent sign), or npos. */
inline size_t next_format_directive(std::string_view format, size_t from) {
  for (size_t i = from; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      ++i;
      continue;
    }
    return i;
  }
  return std::string_view::npos;
}

}  // namespace dvz_genlib

#endif
