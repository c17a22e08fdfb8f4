/*
** gl_calendar.h: the calendar table and the name-lookup trees of the
** locale library; not part of its interface (the time formatter and parser
** inside the library are their callers).
**
** The calendar table maps a locale file's calendar line to its id (the
** TIME reader) and an id back to its name (langinfo item 73). The trees
** let the time parser recognise day, month, era and am/pm names and
** alternative digits at the start of a text; the TIME initialisation of
** the loader builds them and the TIME category frees them. C linkage: the
** names are the library's own.
*/
#ifndef DVZ_GLSLIB_GL_CALENDAR_H
#define DVZ_GLSLIB_GL_CALENDAR_H

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Calendar table, ended by a row of zeros. Names keep their newline. */
typedef struct gl_calendar_name {
  const char *name; /* "gregorian\n" ... */
  const gl_wchar *wc_name; /* the same widened, newline included */
  int32_t id;
} gl_calendar_name;
extern const gl_calendar_name gls_canned_calendars[];

/* The calendar names widened character by character, newline included,
** ended by 0: "gregorian\n", "hebrew\n", "islamic\n", "arabic\n". */
extern const gl_wchar _gl_gregorian[];
extern const gl_wchar _gl_hebrew[];
extern const gl_wchar _gl_islamic[];
extern const gl_wchar _gl_arabic[];

/* Name trees, wide (one level per lower-cased character) and byte-keyed
** (one level per byte of a lower-cased character): insert a multibyte name
** with its index (0, or -1 with error 3, 1 or 2); find the shortest name
** that begins text (0 with *length characters, or bytes for the byte-keyed
** tree, and *index; -1 when none); free every node. */
int _gl_cache_wc_string(gl_locale *loc, name_tree_node **tree, const char *name, int index);
int _gl_validate_wc_string(gl_locale *loc, const name_tree_node *tree, const gl_wchar *text,
                           int *length, int *index);
void _gl_free_wc_cache(gl_locale *loc, name_tree_node *tree);
int _gl_cache_mb_string(gl_locale *loc, name_tree_node **tree, const char *name, int index);
int _gl_validate_mb_string(gl_locale *loc, const name_tree_node *tree, const unsigned char *text,
                           int *length, int *index);
void _gl_free_mb_cache(gl_locale *loc, name_tree_node *tree);

#ifdef __cplusplus
}
#endif

#endif
