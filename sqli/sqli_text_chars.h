/*
** sqli_text_chars.h: the locale character services of the SQL text
** helpers, shared with the cursor-name checks and the placeholder count:
** the current locale, class tests and case mapping of one character, the
** byte length of a character and conversion to wide characters. A null
** locale means the client locale could not be set up; the text is then
** treated as ASCII bytes.
*/
#ifndef DVZ_SQLI_TEXT_CHARS_H
#define DVZ_SQLI_TEXT_CHARS_H

#include <array>

#include "gl_host.h"
#include "gl_locale.h"

/* Characters a name converts to, at most, plus the terminator. */
using sqli_wide_text = std::array<gl_wchar, 257>;

/* The current locale, or null. */
gl_locale *sqli_text_locale();
/* The class mask of wc AND mask (GL_CLASS_*); a value above 255 in a
** single-byte locale belongs to no class and sets the locale's error 1. */
int sqli_text_class(gl_locale *loc, gl_wchar wc, int mask);
/* Byte length of the character at s (at most n bytes), 1 for a byte that
** begins none, 0 at the terminator. */
int sqli_text_char_length(gl_locale *loc, const char *s, int n);
/* Converts s to at most 256 wide characters (terminated): the count, or
** -1 when s is no text of the locale. */
int sqli_text_to_wide(gl_locale *loc, const char *s, sqli_wide_text &out);

#endif
