/* gl_calendar.h: calendar names and the name-lookup trees.
 *
 * The calendar table gls_canned_calendars (declared with the locale record
 * in gl_locale.h: the TIME reader maps a calendar line to its id through
 * it, and langinfo item 73 answers with a row's name) and the wide names
 * its rows point to. The name-lookup trees with which the time parser
 * recognises day, month, era and am/pm names and alternative digits are
 * declared in gl_locale.h too (the loader builds them): the wide-character
 * trees _gl_cache_wc_string, _gl_validate_wc_string, _gl_free_wc_cache and
 * the byte-keyed _gl_cache_mb_string, _gl_validate_mb_string,
 * _gl_free_mb_cache.
 *
 * C linkage; every name here is part of the library's API.
 */
#ifndef DVZ_GLSLIB_GL_CALENDAR_H
#define DVZ_GLSLIB_GL_CALENDAR_H

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The calendar names widened character by character, newline included,
 * ended by 0: "gregorian\n", "hebrew\n", "islamic\n", "arabic\n". */
extern const gl_wchar _gl_gregorian[];
extern const gl_wchar _gl_hebrew[];
extern const gl_wchar _gl_islamic[];
extern const gl_wchar _gl_arabic[];

#ifdef __cplusplus
}
#endif

#endif
