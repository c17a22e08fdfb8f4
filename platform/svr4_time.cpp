/*
** cftime: the time text of the monitor's log lines ("%b %d %T" of local
** time). Called by the logging module; calls tzset, localtime_r and
** strftime_l.
**
** The text is always formatted in the C locale: the probe's client library
** may call setlocale, and the log lines must keep English month names.
*/
#include <clocale>
#include <ctime>

#include <locale.h>

#include "svr4.h"

namespace {

/* The C locale object; glibc hands out a static one, never freed. */
locale_t c_locale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t {});
  return loc;
}

}  // namespace

extern "C" {

/*
** Formats *clock as local time (TZ as tzset reads it) with the strftime
** format in the C locale.
** Returns the length of the text in buf, not counting its NUL; 0 (with buf
** holding "" when size > 0) when an argument is NULL, the C locale cannot
** be had, the time cannot be converted or the text does not fit.
*/
size_t cftime(char *buf, size_t size, const char *format, const time_t *clock) {
  if (buf == nullptr || size == 0) return 0;
  buf[0] = '\0';
  if (format == nullptr || clock == nullptr || c_locale() == locale_t {}) return 0;
  tzset(); /* localtime_r need not read TZ again; localtime would */
  struct tm local {};
  if (localtime_r(clock, &local) == nullptr) return 0;
  size_t len = strftime_l(buf, size, format, &local, c_locale());
  if (len == 0) buf[0] = '\0';
  return len;
}
}
