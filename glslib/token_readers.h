/*
** token_readers.h: the token readers every reader of the library's text
** data files parses with (locale files, conversion files, the text form
** of multi-level tables); not part of the library's interface.
**
** Every read goes through the host's stream slots (fgetc 5, getc 12,
** ungetc 14); only the byte that ends a token is pushed back. C linkage:
** the names are the library's own.
*/
#ifndef DVZ_GLSLIB_TOKEN_READERS_H
#define DVZ_GLSLIB_TOKEN_READERS_H

#include <stdio.h>

#include "gl_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Skips white space by fgetc and pushes the first other byte back. */
void _gl_skip_whitespace(FILE *stream);
/* One hex digit by getc: its value, 0 for anything else. */
int _gl_get_hex_digit(FILE *stream);
/* Two hex digits, high first. */
int _gl_get_hex_byte(FILE *stream);
/* Exactly min(count, 8) bytes by fgetc as hex digits, most significant
** first; a non-hex byte adds its own value; count < 1 gives 0. The value
** wraps in 32 bits. */
int _gl_get_hex(FILE *stream, int count);
/* Decimal integer token (leading white space skipped, at most 40
** characters converted, further digits consumed). */
int _gl_get_int(FILE *stream);
/* Floating-point token of at most 80 characters. */
double _gl_get_dbl(FILE *stream);
/* Up to size - 1 bytes until white space (pushed back) into buffer, which
** must hold size bytes; no leading skip; size < 2 stores "" and reads
** nothing. Returns 0. */
int _gl_get_str(char *buffer, int size, FILE *stream);

#ifdef __cplusplus
}
#endif

#endif
