/*
** gl_collate.h: collation of a locale's strings and the plain code-point
** comparisons.
**
** The comparers order strings by the COLLATE data of the record (weights
** per pass, expansions, collating elements) and return a negative number,
** 0 or a positive number. They report failures in the record's error word
** and return 0 then: 2 a NULL record or string, 56 one string counted and
** the other terminated, 1 an invalid character, 3 no memory for a
** temporary. A locale of the Thai kind ("thai_smo") is ordered by the
** Thai comparer, to which the wide comparer and key builder hand over.
**
** The record's mbscoll_fn, mbfscoll_fn and mbsxfrm_fn hold the comparer and
** key builder chosen for the locale when it was loaded; the functions here
** are the ones callers use directly.
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_COLLATE_H
#define DVZ_GLSLIB_GL_COLLATE_H

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Collation ---------------------------------------------------------- */

/* Two terminated wide strings by the locale's collation. */
int gl_full_wcscoll(gl_locale *loc, const gl_wchar *w1, const gl_wchar *w2);
/* Wide strings of len1 and len2 characters (both -1: terminated). */
int _dvz_gl_full_wcscoll(gl_locale *loc, const gl_wchar *w1, int len1, const gl_wchar *w2,
                         int len2);
/* Multibyte strings, converted to wide and compared as above; the counted
** form takes byte counts (both -1: terminated). */
int _gl_im_mbscoll(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
int _dvz_gl_im_mbfscoll(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                        int len2);

/* ---- Collation keys --------------------------------------------------------- */

/* Writes the collation key of the terminated wide string w to out, at most
** size bytes (out may be NULL when size is 0). Returns the key's length
** without its terminating 0: the key is whole and terminated only when the
** result is below size. memcmp of two whole keys orders as the comparer
** does. -1 when a character cannot be converted or memory is short (3). */
int gl_wcsxfrm(gl_locale *loc, unsigned char *out, const gl_wchar *w, int size);
/* The same for a terminated multibyte string; -1 also for an invalid
** character (1). */
int gl_full_mbsxfrm(gl_locale *loc, unsigned char *out, const unsigned char *s, int size);

/* ---- Code-point comparisons (no collation data) ----------------------------- */

/* -1, 0, 1 by the first differing value (unsigned); a string that ends
** first is smaller. */
int gl_wcscmp(const gl_wchar *w1, const gl_wchar *w2);
/* Over the first min(len1, len2) values: -1 or 1 at the first difference;
** else len1 - len2. A count of -1 means terminated. */
int _dvz_gl_wcfscmp(const gl_wchar *w1, int len1, const gl_wchar *w2, int len2);
/* 0 when n < 1 or the first n values are equal; else, where they differ
** or a string ends, the difference first minus second when it fits an int,
** else -1 or 1: the sign always agrees with gl_wcscmp. */
int gl_wcsncmp(const gl_wchar *w1, const gl_wchar *w2, int n);
/* Character by character: a longer character is greater, equal lengths
** compare by bytes; an invalid character counts as length -1. -1, 0, 1. */
int gl_full_mbscmp(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
/* The bytes of the first n characters of each: -1, 0, 1; 0 with error 1
** for an invalid character. */
int gl_full_mbsncmp(gl_locale *loc, const unsigned char *s1, const unsigned char *s2, int n);
/* Byte counts (both -1: terminated): memcmp of the common length when not
** 0, else len1 - len2. */
int _dvz_gl_mbscmp(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                   int len2);

#ifdef __cplusplus
}
#endif

#endif
