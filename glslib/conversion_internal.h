/*
** conversion_internal.h: what the conversion modules share (the file
** reader in conversion_load.cpp, the converters in conversion_convert.cpp);
** not part of the library's interface. C linkage for the library's own
** names.
*/
#ifndef DVZ_GLSLIB_CONVERSION_INTERNAL_H
#define DVZ_GLSLIB_CONVERSION_INTERNAL_H

#include <stdio.h>

#include "gl_conv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads an open conversion file into cd (tables, header fields, converter)
** and closes the stream. 0, or -1 with cd's error word set (8 no stream or
** wrong header, 11 malformed, 3 no memory, 21 keys too long); the tables
** read so far stay in cd for gl_cv_unload. */
int read_cv_file(FILE *stream, gl_cv_desc *cd);
/* Checks the three header lines and skips the rest of the header: 0, or
** -1 with error 8. */
int read_cv_header(FILE *stream, gl_cv_desc *cd);
/* Entry reader of conversion tables: flags byte as two hex digits, then
** (flags & 7) target bytes as two hex digits each; at most entry_size - 1
** of them are stored, the rest of the entry is zero. */
void conv_reader(FILE *stream, void *destination, int entry_size);
/* One shift sequence: a hex digit n, then n bytes as hex pairs, into seq
** (4 bytes) with its length in *length. 0, or -1 for a length above 4 or
** a byte that is not a hex digit. */
int read_mchar(FILE *stream, unsigned char *seq, int32_t *length);
/* Value of count hex digits at text (either case); -1 when one is not a
** hex digit. */
int hextoi(const char *text, int count);

/* Chooses cd's stateless converter and builds the fast map when the
** conversion is single-byte to single-byte and every byte converts. */
void set_iconv_fps(gl_cv_desc *cd);

/* The five converters. The four stateless ones have the gl_cv_converter
** signature; sb_ indexes the base table's root by the byte, the
** little-endian ones take host-order two-byte units (source) or write them
** (target). */
int sb_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft, unsigned char **out,
              int *outleft, int *lossy);
int mb_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft, unsigned char **out,
              int *outleft, int *lossy);
int little_endian_unicode_source_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft,
                                        unsigned char **out, int *outleft, int *lossy);
int little_endian_unicode_target_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft,
                                        unsigned char **out, int *outleft, int *lossy);
int mb_smiconv(gl_cv_desc *cd, gl_cv_state *state, const unsigned char **in, int *inleft,
               unsigned char **out, int *outleft, int *lossy);

#ifdef __cplusplus
}

namespace glslib::conv {

/* Converts one byte through the root of cd's base table without logging
** or storing an error: true with the target byte in *target, false when
** the byte has no conversion. What sb_miconv and the fast map share. */
bool sb_convert_byte(const gl_cv_desc *cd, unsigned char byte, unsigned char *target);

}  // namespace glslib::conv

#endif

#endif
