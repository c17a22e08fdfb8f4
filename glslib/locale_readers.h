/*
** locale_readers.h: the readers of a locale file's (.lco) header and
** sections, and what they share; not part of the library's interface.
**
** The loader finds the file and a section's marker and then runs the
** section's reader (locale_readers.cpp, collate_reader.cpp); after a TIME
** section the loader's initialisation parses the era strings
** (era_parse.cpp). C linkage for the library's own names.
**
** Input is a file from outside: everything used to index or size memory is
** validated (malformed input is error 11 for the category), and a count is
** never trusted beyond what the rest of the stream can hold.
*/
#ifndef DVZ_GLSLIB_LOCALE_READERS_H
#define DVZ_GLSLIB_LOCALE_READERS_H

#include <stdio.h>

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Section markers ("### LC_CTYPE\n" ...) indexed by category number;
** entries 0 and 1 are "". */
extern const char *const category_markers[8];

/* Encoded string: decimal length n, one space, n hex byte pairs, a skip.
** Returns a new block of n + 4 bytes (n bytes, four zeros); NULL with
** *error 8 (no space after the length), 11 (negative length) or 3. */
char *str_readallc(FILE *stream, int *error);
/* Grouping list into group. 0, or -1 with *error 4 (count of 16 or more,
** after 15 values) or 11 (negative count). */
int read_group(FILE *stream, gl_grouping *group, int *error);
/* A skip, then 8 hex digits. */
gl_wchar _gl_read_gl_wchar(FILE *stream);
/* Entry reader of the locale tables: 4 hex digits as a u16 written to
** destination (2 bytes). */
void ub2_reader(FILE *stream, void *destination, int entry_size);

/* 1 when the header is good (the code-set name of at most 20 bytes read
** into codeset, which must hold GL_CS_NAME_SLOT bytes), 0 with *error 11 or
** 51. */
int read_file_header(FILE *stream, char *codeset, int *error);
/* CTYPE and COLLATE sections; 0, nonzero with the error word set (COLLATE
** of an unknown kind fails with no error of its own). */
int read_ctype(FILE *stream, gl_locale *record);
int read_collate(FILE *stream, gl_locale *record);
/* NUMERIC, MONETARY, MESSAGES, TIME sections; 0, or -1 with *error. */
int _gl_read_numeric(FILE *stream, gl_locale *record, int *error);
int _gl_read_monetary(FILE *stream, gl_locale *record, int *error);
int _gl_read_messages(FILE *stream, gl_locale *record, int *error);
int _gl_read_time(FILE *stream, gl_ltime *time, int *error);
/* Header and all six sections of one file (default.lco): 0 or 1. */
int read_locale_file(FILE *stream, gl_locale *record);
/* Parses the era strings into records and builds era_joined and
** alt_digits_joined. 0, or -1 with error 49 or 3 in the error word. */
int init_era_info(gl_locale *record);

#ifdef __cplusplus
}

namespace glslib {

/* Lines of a locale file the readers take: at most 127 bytes. */
constexpr int line_size = 128;

/* Reads the next line of at most size - 1 bytes into buffer. Returns the
** line length (newline kept), -1 at end of file, -2 when the line is longer
** than the buffer (the rest of the line is consumed). */
int read_line(FILE *stream, char *buffer, int size);

/* True when count items of at least per_item bytes each can still follow
** in the stream: small counts pass unchecked (the reads then find a short
** file), large ones must fit what the stream holds, so that a forged count
** never sizes a huge allocation. */
bool count_fits(FILE *stream, long count, long per_item);

/* End of file reached inside data that should have been there. */
bool ran_out(FILE *stream);

/* Reads one locale table (limit 4, u16 entries) into table; false with the
** table's error (or 11) in the error word. */
bool read_table(FILE *stream, gl_locale *record, gl_multi_t *table);

/* True when every u16 entry of table is at most limit. */
bool entries_at_most(const gl_multi_t *table, unsigned limit);

/* Frees the parsed era records of a TIME category. */
void free_era_records(gl_ltime *time);

}  // namespace glslib

#endif

#endif
