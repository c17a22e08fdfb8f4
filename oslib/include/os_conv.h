/*
** os_conv.h: code-set conversion services of the client environment:
** conversion of texts between the client's, the database's and the
** operating system's code sets through the converters of the current
** locale environment, and file-system calls with converted names. A NULL
** converter means no conversion is needed: the text is copied. Errors go
** to the glserror word of the general control block: -23112 bad argument,
** -23102 no memory, -23103 a character without conversion, -23113 any
** other conversion failure.
**
** Length conventions of the buffer routines: a source given with a length
** pointer is that many bytes (at least 1); with a NULL length pointer it
** is a NUL-terminated string and, where the routine converts it whole, the
** NUL is converted and counted too. Size estimates are ceil(n x the
** converter's expansion factor), n counting the NUL of a terminated
** string; the allocating routines add 4 spare bytes.
**
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_CONV_H
#define DVZ_OSLIB_OS_CONV_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include "gl_conv.h"
#include "gl_host.h"
#include "os_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A caller-owned buffer that gcv_reuse grows with realloc. */
typedef struct gcv_growbuf {
  int32_t size; /* bytes the buffer may receive */
  char *buffer; /* NULL or a malloc'd block */
} gcv_growbuf;

/* ---- Buffer routines ---------------------------------------------------- */

/* Converts src into dst, which holds size bytes. Returns the bytes
** written; 0 when copied without a converter (min(source, size) bytes);
** -1 on error. *truncated is 1 when the output did not fit (the bytes that
** fit are written), else 0. */
int gcv_extbuf(gl_cv_desc *cv, const char *src, int *len, char *dst, int size, int *truncated);
/* Converts str in place, its buffer holding size bytes (a terminated
** string's NUL is not converted, nor written). Returns the new length, 0
** without a converter (string unchanged), -1 on error; *truncated as for
** gcv_extbuf. */
int gcv_inplace(gl_cv_desc *cv, char *str, int *len, int size, int *truncated);
/* Converts src (len bytes, or a NUL-terminated string with its NUL when len
** is NULL) into a new buffer in *out, which the caller frees. Returns the
** bytes written, 0 when copied without a converter, -1 on error. */
int gcv_malloc(gl_cv_desc *cv, const char *src, int *len, char **out);
/* Worst-case converted length of n bytes: ceil(n x expansion), n without a
** converter. */
int gcv_lenonly(gl_cv_desc *cv, int n);
/* Exact converted length (a terminated string's NUL counted); without a
** converter strlen + 1 or the given length; -1 on error. */
int gcv_len(gl_cv_desc *cv, const char *src, int *len);
/* Converts src into record's buffer, growing it first when its size is
** below the estimate. Returns the bytes written, 0 when copied without a
** converter, -1 on error. */
int gcv_reuse(gl_cv_desc *cv, const char *src, int *len, gcv_growbuf *record);

/* ---- File-system calls with names converted client to OS ---------------- */

/* The platform call with the name converted through the current
** environment's client-to-OS converter (as given without one). A failed
** or truncated conversion gives -1 (NULL for gcvfopen) without a call. */
int gcvaccess(const char *name, int mode);
int gcvchdir(const char *name);
int gcvopen(const char *name, int flags);
int gcvcreat(const char *name, mode_t mode);
int gcvstat(const char *name, struct stat *buffer);
int gcvunlink(const char *name);
int gcvlink(const char *oldname, const char *newname);
FILE *gcvfopen(const char *name, const char *mode);

/* 1 when a byte of the string is above 127, else 0 (0 for ""). */
int is8bitstr(const char *s);
/* One character from stream converted OS to client, returned byte by byte
** (the bytes still to come are held in the general control block). EOF
** at the end of the stream, and on a conversion failure (glserror set). */
int gcvgetc(FILE *stream);

/* ---- Conversion between two locale specifications ------------------------ */

/* Converts *in (*inleft bytes, or up to its NUL when inleft is NULL) from
** the code set of source to that of target into *out (*outleft the room)
** through a temporary converter, continuing the caller's state (NULL: a
** fresh one), and writes a NUL at the output position when room is left.
** Returns 0 or the converter's error number (copied into the current
** locale's error word; 2 for a NULL pointer argument); -1 with error 8
** when no converter can be loaded. Equal code sets copy the bytes. */
int dvz_gl_cv_mconv(gl_cv_state *state, unsigned char **out, int *outleft, const char *target,
                    const unsigned char **in, int *inleft, const char *source);
/* gl_cv_outbuflen(n) of the converter source to target; n when the code
** sets are equal; -1 with error 8 when none can be loaded. */
int dvz_gl_cv_outbuflen(const char *target, const char *source, int n);
/* 1 when the code sets of the two specifications differ, 0 when equal, -1
** when either is unknown. */
int dvz_gl_conv_needed(const char *target, const char *source);
/* Hands out the 256-byte single-byte map source to target, which the
** caller then frees with free(). 0 with *map set; -1 with *map NULL when
** the code sets are equal, no converter loads or the conversion has no
** single-byte map. */
int dvz_gl_cv_sb2sb_table(const char *target, const char *source, unsigned char **map);

/* ---- Converted arguments ---------------------------------------------------- */

/* Replaces each of the first n strings (stopping at a NULL one) by a
** converted copy that the caller owns (the originals are left alone).
** Without a converter nothing changes. 0, or -1 at the first failure
** (earlier strings stay replaced). */
int gcvargs(gl_cv_desc *cv, int n, char **strings);
/* printf to stream with every string argument (%s, %S) converted through
** cv first; %S prints as %s. Returns the bytes printed, -1 on a conversion
** or output failure (what came before it stays printed). */
int gcvfprintf(gl_cv_desc *cv, FILE *stream, const char *format, ...);
/* The same through the current environment's database-to-client
** converter, converting the arguments of %S only. */
int gcvargDBXCLfprintf(FILE *stream, const char *format, ...);
int gcvargDBXCLprintf(const char *format, ...);
/* The same converting the arguments of %s as well. */
int gcvallargDBXCLfprintf(FILE *stream, const char *format, ...);
int gcvallargDBXCLprintf(const char *format, ...);

/* Size of a directive buffer of the printers: '%', flags, width, precision,
** length modifier and conversion letter. */
#define GCV_DIRECTIVE_SIZE 64

/* Walks format, printing its text and each directive with its argument
** (print_next_arg). convert_plain: %s arguments are converted as well as
** %S ones. Returns the bytes printed or -1. */
int scan_and_print(FILE *stream, gl_cv_desc *cv, int convert_plain, const char *format,
                   va_list args);
/* Prints one complete directive (GCV_DIRECTIVE_SIZE bytes at most,
** terminated) with the next argument(s) from *args; a %s or %S argument is
** converted when convert is 1 and cv not NULL. Returns the bytes printed
** or -1. */
int print_next_arg(FILE *stream, gl_cv_desc *cv, int convert, const char *directive, va_list *args);
/* Empties a directive buffer of GCV_DIRECTIVE_SIZE bytes. */
void clear_format(char *directive);

/* ---- Multibyte helpers -------------------------------------------------------- */

/* Bytes of the longest prefix of whole characters of the terminated s whose
** display width is at most width (stopping at an invalid or unprintable
** character). */
int dbcslswdw(const char *s, int width, gl_locale *locale);
/* Characters among the first n of w that remain without trailing blanks. */
int wbyleng(const gl_wchar *w, int n);
/* Copies the character at s to out (4 bytes suffice) and returns its value,
** its byte length in *length; an invalid character copies nothing, gives
** *length -1 and 0. */
gl_wchar mbcharcopy(gl_locale *locale, const char *s, char *out, int *length);
/* Characters in the n bytes at s; -1 at an invalid or cut-off one. */
int glsmbsnlen(gl_locale *locale, const char *s, int n);
/* Bytes of the whole characters within the n bytes at s (stopping at an
** invalid one). */
int glsmbsnbytelen(gl_locale *locale, const char *s, int n);

#ifdef __cplusplus
}
#endif

#endif
