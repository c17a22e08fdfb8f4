/*
** date_internal.h: what the DATE modules of the value library share and
** nobody else uses: the mapping of the locale library's time errors onto
** the error numbers (gen_errors.h), the locale access they share, the
** catalog's name lists, and the century rule replaced for one call.
** Internal.
*/
#ifndef DVZ_GENLIB_DATE_INTERNAL_H
#define DVZ_GENLIB_DATE_INTERNAL_H

#include <stdint.h>

#include "gen_date.h"
#include "gen_errors.h"
#include "gl_host.h"

/* The size every DATE text writer assumes for its caller's buffer. */
constexpr int date_text_size = 1024;

extern "C" {
/* The name lists of the message catalog: seven day names (1200), twelve
** month abbreviations (1201), twelve month names (1206 and 1207); loaded
** once, _inmdflag set then. */
extern char *_dayarray[7];
extern char *_monarray[12];
extern char *_montharray[12];
extern int _inmdflag;
/* Loads message number (1200, 1201, 1206 or 1207), '|'-separated, into
** count entries of array: 0, or -1 for another number, an unreadable
** message or fewer names. */
int _initmdarray(int number, char **array, int count);
/* count names from the messages number and number + 1, half from each. */
int initxby(int number, char **array, int count);
}

namespace dvz_genlib {

/* The DATE error for a locale time error number (the DATE functions'
** table; anything unknown is -1218). */
int date_locale_error(int gl_error);

/* chkglsinit for the DATE functions: 0, or the stored locale error, else
** -23108. */
int date_gls_init();

/* The current locale record (the environment's), NULL without one. */
gl_locale *date_locale();

/* The locale error word of the current record, 0 without one. */
int date_locale_errno();

/* Loads the catalog's day and month name lists once: 0, or -1 (tried
** again next time). */
int load_name_lists();

/* Replaces the century rule dbcentury while it lives, by the caller's
** character when it is R, C, F or P (dvz_strdate, dvz_defmtdate). */
class century_override {
 public:
  explicit century_override(int character);
  ~century_override();
  century_override(const century_override &) = delete;
  century_override &operator=(const century_override &) = delete;

 private:
  char saved_;
};

}  // namespace dvz_genlib

#endif
