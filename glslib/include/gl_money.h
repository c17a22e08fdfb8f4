/*
** gl_money.h: monetary amounts in a locale's MONETARY conventions.
**
** Directives: "%" flags ("=f" fill, "^" no grouping, "+" sign strings,
** "(" parentheses, "!" no symbol, "-" left), width, "#" left precision,
** "." right precision, then "i" (international) or "n" (national).
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_MONEY_H
#define DVZ_GLSLIB_GL_MONEY_H

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One double per directive into buffer of size bytes with the terminator.
** The bytes written (terminator not counted), or -1: error 20 (conversion),
** 14 (no room, or a value or field the working texts cannot hold), 1. */
int gl_mbsfmon(gl_locale *loc, unsigned char *buffer, int size, const unsigned char *format, ...);
/* The same into size wide characters. */
int gl_wcsfmon(gl_locale *loc, gl_wchar *buffer, int size, const gl_wchar *format, ...);
/* One double pointer per directive. The position after the last character
** consumed, or NULL: error 22 (literal, conversion), 9 (no layout
** matches), 45 (a "*" precision); values stored before stay. */
unsigned char *gl_mbspmon(gl_locale *loc, const unsigned char *text, const unsigned char *format,
                          ...);
gl_wchar *gl_wcspmon(gl_locale *loc, const gl_wchar *text, const gl_wchar *format, ...);

#ifdef __cplusplus
}
#endif

#endif
