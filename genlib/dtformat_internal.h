/*
** dtformat_internal.h: what the formatted DATETIME, INTERVAL and picture
** modules share and nobody else uses. Internal.
*/
#ifndef DVZ_GENLIB_DTFORMAT_INTERNAL_H
#define DVZ_GENLIB_DTFORMAT_INTERNAL_H

#include <stddef.h>

#include <string_view>

#include "text_scan.h"

namespace dvz_genlib {

inline bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

/* One directive of a format: the text after its "%" split into the
** optional "-", width digits, "." and precision digits, the modifier E, O
** or i (0 for none) and the letter (0 when the text ends first). */
struct directive {
  bool dash = false;
  std::string_view width;
  bool point = false;
  std::string_view precision;
  char modifier = 0;
  char letter = 0;
  const char *next = nullptr; /* after the letter (or where the text ended) */

  bool has_prefix() const { return dash || !width.empty() || point; }
  /* The "-", width and precision as written. */
  std::string_view prefix(const char *after_percent) const {
    size_t length = (dash ? 1 : 0) + width.size() + (point ? 1 : 0) + precision.size();
    return std::string_view(after_percent, length);
  }
};

/* Scans the directive whose "%" lies just before p. */
directive scan_directive(const char *p);

/* The DATETIME functions' error for a locale time error number (their own
** table, not the DATE functions'); anything unknown is -1263. */
int datetime_locale_error(int gl_error);

}  // namespace dvz_genlib

#endif
