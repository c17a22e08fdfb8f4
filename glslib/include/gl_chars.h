/*
** gl_chars.h: the character layer of the locale library.
**
** Everything that looks at one character of a locale's code set: decoding
** and encoding a character by walking the record's ctype_table, multibyte
** and wide strings (gl_wchar: a character's 1-4 bytes packed big-endian),
** counting and stepping, class tests, case mapping, trailing blanks and
** display width. Every operation takes the locale record first and stores
** its failures in the record's error word (through _gl_ext_errno): 1 no
** character of the code set, 2 NULL string, 4 negative count, 5 position
** not after its start, 7 byte limit below 1 / character cut off / width of
** a non-printable character, 9 negative count other than -1.
**
** A multibyte string ends with a null character: gl_mb_loc_min zero bytes.
** Counted forms (_dvz_gl_...) take a byte or character count where -1
** means "terminated". Output buffers are sized by the caller, as each
** function's comment says: a character is at most 4 bytes, and the case
** conversions need gl_case_conv_outbuflen bytes.
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_CHARS_H
#define DVZ_GLSLIB_GL_CHARS_H

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- One character ----------------------------------------------------- */

/* Byte length of the character at s reading at most n bytes; 0 for NULL s
** or the null character; -1 with 7 (n < 1, cut off) or 1 (invalid). */
int gl_full_mblen(gl_locale *loc, const unsigned char *s, int n);
/* The same, but the null character gives its length. */
int _dvz_gl_full_mblen(gl_locale *loc, const unsigned char *s, int n);
/* Length of the character at s, its value in *wc (wc may be NULL); 0 for
** NULL s or the null character; -1 with 7 or 1. */
int gl_full_mbtowc(gl_locale *loc, gl_wchar *wc, const unsigned char *s, int n);
/* The worker; n = -1 stands for the length of the terminated string at s
** (an empty string: 7 and -1). */
int _dvz_gl_full_mbtowc(gl_locale *loc, gl_wchar *wc, const unsigned char *s, int n);
/* Bytes of wc written to s, which must hold 4 bytes (no terminator); -1
** with 1 when wc is no character. */
int gl_full_wctomb(gl_locale *loc, unsigned char *s, gl_wchar wc);
/* Byte length of wc: 1 in a single-byte locale, else as gl_full_wctomb. */
int gl_wclen(gl_locale *loc, gl_wchar wc);
/* Writes the terminator (gl_mb_loc_min zero bytes, 4 at most) at p; its
** length. */
int gl_mbsterm(gl_locale *loc, unsigned char *p);
/* The terminator length when the bytes at p are a terminator, else 0. */
int gl_ismbsterm(gl_locale *loc, const unsigned char *p);

/* ---- Multibyte strings to wide ------------------------------------------ */

/* At most n wide characters (the 0 that ends the string included) written
** to wcs, which must hold n; returns the characters before the 0, or -1 (1
** an invalid character, 2 a NULL buffer, 9 a count below -1). The is_
** forms take each byte as a character (single-byte locales); the loader
** installs one pair or the other in mbstowcs_fn and mbfstowcfs_fn. The
** counted forms read nbytes bytes (-1: terminated) and write at most nchars
** characters (no 0 added to a counted string). */
int _gl_is_mbstowcs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int n);
int _gl_im_mbstowcs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int n);
int _dvz_gl_is_mbfstowcfs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int nbytes,
                          int nchars);
int _dvz_gl_im_mbfstowcfs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int nbytes,
                          int nchars);

/* ---- Wide strings to multibyte ------------------------------------------ */

/* Single-byte locales: each value 0-255 becomes one byte (else 1 and -1);
** at most size bytes, s holding size; the terminated form writes the
** terminator when it fits. Returns the bytes written without the
** terminator. */
int _gl_is_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int size);
int _dvz_gl_is_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int nwc, int size);
/* Any locale: stops before a character that would pass size bytes (s
** holds size); the terminator is written only when it fits. */
int gl_full_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int size);
int _dvz_gl_full_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int nwc, int size);

/* ---- Lengths ------------------------------------------------------------ */

/* Characters before the 0; NULL gives 0. */
int gl_wcslen(const gl_wchar *wcs);
/* (characters + 1) x 4. */
int gl_wcsbytes(const gl_wchar *wcs);
/* Bytes of the terminated string with its terminator; 0 for NULL or an
** invalid character. */
int gl_mbsbytes(gl_locale *loc, const unsigned char *s);
/* Characters before the terminator; -1 on an invalid character. */
int _gl_im_mbslen(gl_locale *loc, const unsigned char *s);
/* Characters in nbytes bytes (-1: terminated); a null character counts as
** one. -1 with 1 for an invalid or overrunning character. */
int _dvz_gl_im_mbfslen(gl_locale *loc, const unsigned char *s, int nbytes);

/* ---- Navigation --------------------------------------------------------- */

/* The position after the character at p; NULL with 1 (invalid). */
unsigned char *gl_full_mbsnext(gl_locale *loc, const unsigned char *p);
/* The same reading at most n bytes; NULL with 7 (n < 1, cut off) or 1. */
unsigned char *_dvz_gl_full_mbsnext(gl_locale *loc, const unsigned char *p, int n);
/* The start of the character that ends at pos, walking from start; NULL
** with 5 when pos is not after start, NULL on an invalid character. */
unsigned char *gl_full_mbsprev(gl_locale *loc, const unsigned char *start,
                               const unsigned char *pos);

/* ---- Classes ------------------------------------------------------------ */

/* Mask of a class name ("upper" ... "blank", "alnum", or a class of the
** locale: 2048 << (number & 31)); 0 when not defined. */
int gl_ctype(gl_locale *loc, const char *name);
/* The character's class mask AND mask; 0 with 1 when invalid. */
int _gl_im_iswctype(gl_locale *loc, gl_wchar wc, int mask);
int _gl_im_ismctype(gl_locale *loc, const unsigned char *s, int mask);
/* Reading at most n bytes (0 with 7 when cut off or n < 1). */
int _dvz_gl_im_ismctype(gl_locale *loc, const unsigned char *s, int n, int mask);
int im_iswctype(gl_locale *loc, gl_wchar wc, int mask);
int im_ismctype(gl_locale *loc, const unsigned char *s, int mask);

/* ---- Case --------------------------------------------------------------- */

/* Case partners by wide character (the character itself when none). */
gl_wchar _gl_im_towupper(gl_locale *loc, gl_wchar wc);
gl_wchar _gl_im_towlower(gl_locale *loc, gl_wchar wc);
gl_wchar im_towlower(gl_locale *loc, gl_wchar wc);
/* The case partner of the character at s written to out, which must hold
** 4 bytes (no terminator).
** Returns (bytes consumed << 8) | bytes written; a character without
** partner (or invalid: the bytes the look-up read) is copied unchanged. */
int _gl_im_tomupper(gl_locale *loc, unsigned char *out, const unsigned char *s);
int _gl_im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s);
int im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s);
/* Reading at most n bytes; 0 (nothing written) for an invalid or cut-off
** character. */
int _dvz_gl_im_tomupper(gl_locale *loc, unsigned char *out, const unsigned char *s, int n);
int _dvz_gl_im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s, int n);
/* Whole terminated strings into out, which must hold
** gl_case_conv_outbuflen(loc, gl_mbsbytes(loc, s)) bytes: bytes written
** without the terminator, -1 on an invalid character (output so far left). */
int gl_tombsupper(gl_locale *loc, unsigned char *out, const unsigned char *s);
int gl_tombslower(gl_locale *loc, unsigned char *out, const unsigned char *s);
/* Wide strings into out, which must hold gl_wcslen(wcs) + 1 characters: 0,
** or -1 with 1 on an invalid value. */
int gl_towcsupper(gl_locale *loc, gl_wchar *out, const gl_wchar *wcs);
int gl_towcslower(gl_locale *loc, gl_wchar *out, const gl_wchar *wcs);
/* Output size for case-converting n bytes: ceiling(case_expansion) x n. */
int gl_case_conv_outbuflen(gl_locale *loc, int n);

/* ---- Trailing blanks ------------------------------------------------------ */

/* Characters of the first n (-1: terminated) up to and including the last
** that is not a blank (space class, not cntrl). -1 with 9, 2 or 1. */
int gl_wcsntslen(gl_locale *loc, const gl_wchar *wcs);
int _dvz_gl_wcsntslen(gl_locale *loc, const gl_wchar *wcs, int n);
/* Multibyte: blank means blank class, not cntrl. Characters / bytes. */
int gl_mbsntslen(gl_locale *loc, const unsigned char *s);
int _dvz_gl_mbsntslen(gl_locale *loc, const unsigned char *s, int n);
int gl_mbsntsbytes(gl_locale *loc, const unsigned char *s);
int _dvz_gl_mbsntsbytes(gl_locale *loc, const unsigned char *s, int n);

/* ---- Display width ---------------------------------------------------------- */

/* 0, 1 or 2 columns ("full_width" class: 2), or -1 (7: not printable). */
int gl_wcwidth(gl_locale *loc, gl_wchar wc);
/* As gl_wcwidth; a non-printable one-byte character is 1 column. */
int gl_mbwidth(gl_locale *loc, const unsigned char *s);
/* Columns of the first n characters (stopping at the end). */
int gl_wcswidth(gl_locale *loc, const gl_wchar *wcs, int n);
int gl_mbswidth(gl_locale *loc, const unsigned char *s, int n);
/* Columns of the characters from start up to end. */
int gl_wcspwidth(gl_locale *loc, const gl_wchar *start, const gl_wchar *end);
int gl_mbspwidth(gl_locale *loc, const unsigned char *start, const unsigned char *end);

#ifdef __cplusplus
}
#endif

#endif
