/*
** gl_strings.h: the string library of the locale library.
**
** The counterparts of the standard string functions for multibyte strings
** in a locale's code set and for wide strings of gl_wchar, the operations
** that index, replace and trim characters inside a string, and reading and
** writing characters and lines through the host's stream services.
**
** Forms. Most operations come twice: a terminated form (gl_X, gl_full_X)
** on strings ended by their terminator (gl_mb_loc_min zero bytes, or the
** value 0 for wide strings), and a counted form (_dvz_gl_X) that takes with
** each string a length (bytes for multibyte strings, characters for wide
** strings), where -1 means "terminated". The strings of one call must use
** the same form: one length -1 and the other not is error 56; any other
** negative length is error 9; a NULL string is error 2. A counted form
** never reads past the length it is given; a null character inside a
** counted range is one character of gl_mb_loc_min bytes.
**
** Errors go to the error word of the record given first: 1 invalid
** character, 2 NULL string, 3 memory, 4 negative index, 7 a length below 1
** / a character cut by a limit / a position before its start, 9 a negative
** length other than -1 (or a negative count), 13 a stream read or write
** failed, 14 a line that does not fit, 16 end of file, 17 a read of -1 with
** neither end-of-file nor error flag, 56 mixed forms. A search that finds
** nothing clears the error word and returns NULL, so that callers can tell
** it from a failure. gl_wcscat, gl_wcscpy, gl_wcsncpy and gl_wcsncat take
** no record: their counted forms store an error only when given one.
**
** Destination buffers are the caller's and their size is not checked: each
** function's comment says what they must hold.
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_STRINGS_H
#define DVZ_GLSLIB_GL_STRINGS_H

#include <stdio.h>

#include "gl_chars.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Wide strings ------------------------------------------------------- */

/* Appends src after dst's characters (dst must hold both and the 0).
** Counted: the new length in characters, or -1; a terminated call (both
** -1) writes the 0, a counted one does not. The terminated form: dst, or
** NULL. */
gl_wchar *gl_wcscat(gl_wchar *dst, const gl_wchar *src);
int _dvz_gl_wcscat(gl_locale *loc, gl_wchar *dst, int dlen, const gl_wchar *src, int slen);
/* n = -1: copies src with its 0 and returns its length; n >= 0: copies n
** characters, no 0, and returns n. -1 on failure. */
gl_wchar *gl_wcscpy(gl_wchar *dst, const gl_wchar *src);
int _dvz_gl_wcscpy(gl_locale *loc, gl_wchar *dst, const gl_wchar *src, int n);
/* slen = -1: copies up to n characters, stopping after src's last, then
** fills dst with 0 up to n; slen >= 0: copies min(slen, n) characters.
** Returns the characters copied (dst must hold n). */
gl_wchar *gl_wcsncpy(gl_wchar *dst, const gl_wchar *src, int n);
int _dvz_gl_wcsncpy(gl_locale *loc, gl_wchar *dst, const gl_wchar *src, int slen, int n);
/* Appends at most n characters of src; the terminated form writes the 0;
** n < 1 or an empty src leave dst unchanged. Returns the new length. */
gl_wchar *gl_wcsncat(gl_wchar *dst, const gl_wchar *src, int n);
int _dvz_gl_wcsncat(gl_locale *loc, gl_wchar *dst, int dlen, const gl_wchar *src, int slen, int n);

/* First (last) occurrence of wc; in a terminated string wc = 0 finds the
** terminator. NULL with error 0 when absent. */
gl_wchar *gl_wcschr(gl_locale *loc, const gl_wchar *s, gl_wchar wc);
gl_wchar *_dvz_gl_wcschr(gl_locale *loc, const gl_wchar *s, int n, gl_wchar wc);
gl_wchar *gl_wcsrchr(gl_locale *loc, const gl_wchar *s, gl_wchar wc);
gl_wchar *_dvz_gl_wcsrchr(gl_locale *loc, const gl_wchar *s, int n, gl_wchar wc);
/* Length of the first run of s made of (without) characters of set; -1 on
** failure. */
int gl_wcsspn(gl_locale *loc, const gl_wchar *s, const gl_wchar *set);
int _dvz_gl_wcsspn(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *set, int setlen);
int gl_wcscspn(gl_locale *loc, const gl_wchar *s, const gl_wchar *set);
int _dvz_gl_wcscspn(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *set, int setlen);
/* First occurrence of sub (an empty sub gives s); NULL with error 0 when
** absent. */
gl_wchar *gl_wcswcs(gl_locale *loc, const gl_wchar *s, const gl_wchar *sub);
gl_wchar *_dvz_gl_wcswcs(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *sub,
                         int sublen);
/* First character of s that is in set; NULL with error 0 when none. */
gl_wchar *gl_wcspbrk(gl_locale *loc, const gl_wchar *s, const gl_wchar *set);
gl_wchar *_dvz_gl_wcspbrk(gl_locale *loc, const gl_wchar *s, int slen, const gl_wchar *set,
                          int setlen);

/* ---- Multibyte strings -------------------------------------------------- */

/* Appends src with its terminator after dst's characters (dst must hold
** both); dst or NULL. Counted with lengths: copies slen bytes after dlen
** bytes and checks that the result is whole characters, returning dlen +
** slen or -1; with both -1: dst's byte length plus src's byte length with
** its terminator. */
unsigned char *gl_full_mbscat(gl_locale *loc, unsigned char *dst, const unsigned char *src);
int _dvz_gl_mbscat(gl_locale *loc, unsigned char *dst, int dlen, const unsigned char *src,
                   int slen);
/* Copies src with its terminator; dst or NULL. Counted: n = -1 returns the
** bytes copied with the terminator; n >= 0 copies n bytes and checks that
** they are whole characters: n or -1. */
unsigned char *gl_full_mbscpy(gl_locale *loc, unsigned char *dst, const unsigned char *src);
int _dvz_gl_mbscpy(gl_locale *loc, unsigned char *dst, const unsigned char *src, int n);
/* Copies the first n characters (fewer when src ends) and a terminator;
** dst or NULL. Counted with slen >= 0: the first n characters within slen
** bytes, no terminator. Returns the bytes copied, terminator excluded. */
unsigned char *gl_mbsncpy(gl_locale *loc, unsigned char *dst, const unsigned char *src, int n);
int _dvz_gl_mbsncpy(gl_locale *loc, unsigned char *dst, const unsigned char *src, int slen, int n);
/* Appends the first n characters of src and a terminator; dst or NULL.
** Counted: appends the first n characters within slen bytes after dlen
** bytes (a terminator only when both are -1) and checks that the result is
** whole characters. Returns the new byte length, terminator excluded. */
unsigned char *gl_mbsncat(gl_locale *loc, unsigned char *dst, const unsigned char *src, int n);
int _dvz_gl_mbsncat(gl_locale *loc, unsigned char *dst, int dlen, const unsigned char *src,
                    int slen, int n);
/* First (last) character of s equal to the character at c (same length,
** same bytes); in a terminated string a null c finds the terminator. NULL
** with error 0 when absent. */
unsigned char *gl_full_mbschr(gl_locale *loc, const unsigned char *s, const unsigned char *c);
unsigned char *_dvz_gl_mbschr(gl_locale *loc, const unsigned char *s, int n, const unsigned char *c,
                              int clen);
unsigned char *gl_full_mbsrchr(gl_locale *loc, const unsigned char *s, const unsigned char *c);
unsigned char *_dvz_gl_mbsrchr(gl_locale *loc, const unsigned char *s, int n,
                               const unsigned char *c, int clen);
/* Characters in the first run of s made of (without) characters of set;
** -1 on failure. */
int gl_full_mbsspn(gl_locale *loc, const unsigned char *s, const unsigned char *set);
int _dvz_gl_mbsspn(gl_locale *loc, const unsigned char *s, int n, const unsigned char *set,
                   int setlen);
int gl_full_mbscspn(gl_locale *loc, const unsigned char *s, const unsigned char *set);
int _dvz_gl_mbscspn(gl_locale *loc, const unsigned char *s, int n, const unsigned char *set,
                    int setlen);
/* First character of s that is in set; NULL with error 0 when none. */
unsigned char *gl_full_mbspbrk(gl_locale *loc, const unsigned char *s, const unsigned char *set);
unsigned char *_dvz_gl_mbspbrk(gl_locale *loc, const unsigned char *s, int n,
                               const unsigned char *set, int setlen);
/* First character position of s where the bytes of sub follow (an empty
** sub gives s unless s is empty); NULL with error 0 when absent. */
unsigned char *gl_full_mbsmbs(gl_locale *loc, const unsigned char *s, const unsigned char *sub);
unsigned char *_dvz_gl_mbsmbs(gl_locale *loc, const unsigned char *s, int n,
                              const unsigned char *sub, int sublen);
/* The trailing-blank counts gl_mbsntslen and _dvz_gl_mbsntslen are in
** gl_chars.h, beside the other trailing-blank operations. */

/* ---- Characters inside strings ------------------------------------------ */

/* Position of the character with index i (0 the first), stepping without
** regard to the terminator; NULL with 4 (i < 0) or 1. */
unsigned char *gl_full_getmbsi(gl_locale *loc, const unsigned char *s, int i);
/* The same, but the terminator's position when s has fewer characters. */
unsigned char *gl_getmbsinull(gl_locale *loc, const unsigned char *s, int i);
/* Replaces the character at dst by the character at c, moving the rest of
** the string to follow it (dst must hold the longer string); dst, or NULL
** with 1 (invalid character) or 3 (no memory for the moved rest). */
unsigned char *gl_mbcreplace(gl_locale *loc, unsigned char *dst, const unsigned char *c);
/* s with its character of index i replaced by the character at c; NULL on
** failure as gl_full_getmbsi and gl_mbcreplace. */
unsigned char *gl_full_putmbsi(gl_locale *loc, unsigned char *s, int i, const unsigned char *c);
/* Bytes of s without its terminator; -1 with 1 or 2. */
int gl_mbsbytes_nt(gl_locale *loc, const unsigned char *s);
/* The first character of the run of blanks (blank class, not cntrl) that
** ends s; NULL when s does not end in blanks or on failure. */
unsigned char *gl_mbsp(gl_locale *loc, const unsigned char *s);
/* Writes a terminator where gl_mbsp points and returns that position;
** NULL (nothing cut) otherwise. */
unsigned char *gl_mbsntstrunc(gl_locale *loc, unsigned char *s);
/* Writes 0 over the first character of the run of space-class characters
** that ends wcs and returns its position; NULL when nothing is cut. In a
** single-byte locale a value above 255 stores 1 and counts as no space. */
gl_wchar *gl_wcsntstrunc(gl_locale *loc, gl_wchar *wcs);
/* A new wide copy of s with its 0 (free it with _gl_free_ptr), its
** character count in *n; NULL with 1, 2 or 3. */
gl_wchar *gl_mbstowcslen(gl_locale *loc, const unsigned char *s, int *n);
/* Offset of p from the start of the character that holds it, walking from
** start, and that character's length in *len; -1 and *len 0 with 7 (p
** before start) or 1 (invalid character on the way). */
int gl_full_charoffset(gl_locale *loc, const unsigned char *start, const unsigned char *p,
                       int *len);

/* ---- Streams ------------------------------------------------------------ */

/* Byte callbacks of gl_getmb and gl_putmb: a reader returns the next byte
** or -1 at the end; a writer returns anything but -1 on success. */
typedef int (*gl_mb_reader)(FILE *stream);
typedef int (*gl_mb_writer)(int byte, FILE *stream);
/* The callbacks over the host's stream services: a byte through slot 5,
** one byte written through slot 11 (0, or -1 when it was not written). */
int local_fgetc(FILE *stream);
int local_fputc(int byte, FILE *stream);

/* Reads one character into buf (4 bytes) and its length into *len: 0, or
** -1 with 16 (ended before the first byte, *len 0), 7 (ended inside the
** character) or 1 (invalid; *len the bytes read). */
int gl_getmb(gl_locale *loc, unsigned char *buf, gl_mb_reader reader, FILE *stream, int *len);
/* Writes the character at s (at most n bytes read; n < 0: the code set's
** longest) through writer: 0, or -1 with 1, 7 or 13 (a writer failure,
** *len the bytes written). gl_putmb writes a null character as
** gl_mb_loc_min zero bytes, _dvz_gl_putmb as its own bytes. */
int gl_putmb(gl_locale *loc, const unsigned char *s, int n, gl_mb_writer writer, FILE *stream,
             int *len);
int _dvz_gl_putmb(gl_locale *loc, const unsigned char *s, int n, gl_mb_writer writer, FILE *stream,
                  int *len);
/* One character of the stream into buf (4 bytes): its length, or -1 with
** 16 (end of file), 13 (stream error) or the error of gl_getmb. */
int gl_full_fgetmb(gl_locale *loc, unsigned char *buf, FILE *stream);
/* One character of the stream, or (gl_wchar)-1 with 16 (end of file
** before it), 7 (inside it), 13 (stream error), 17 (a read of -1 with
** neither flag set) or 1 (invalid). */
gl_wchar gl_full_fgetwc(gl_locale *loc, FILE *stream);
/* Writes the character at s: s, or NULL. */
unsigned char *gl_fputmb(gl_locale *loc, const unsigned char *s, FILE *stream);
/* Writes wc: wc, or (gl_wchar)-1 (1 for an invalid character, 13). */
gl_wchar gl_fputwc(gl_locale *loc, gl_wchar wc, FILE *stream);
/* Writes the string without its terminator in one host write: 0, or -1
** with 1 or 13 (fewer bytes written than the string has). */
int gl_fputmbs(gl_locale *loc, const unsigned char *s, FILE *stream);
/* Writes the wide string character by character: 0, or -1. */
int gl_fputwcs(gl_locale *loc, const gl_wchar *wcs, FILE *stream);
/* Reads characters into buf (size bytes) up to and including a newline and
** terminates them: buf, or NULL with 14 (the line and its terminator do
** not fit), 16 (end of file) or the read error; what was read stays in
** buf, terminated. In a single-byte locale a byte 0xFF is a character
** unless the stream is at its end. */
unsigned char *gl_fgetmbs(gl_locale *loc, unsigned char *buf, int size, FILE *stream);
/* The same for wide characters into n slots; the newline (10) and the 0
** must fit. */
gl_wchar *gl_fgetwcs(gl_locale *loc, gl_wchar *buf, int n, FILE *stream);

#ifdef __cplusplus
}
#endif

#endif
