/*
** gl_multi.h: multi-level byte tables.
**
** Every character-keyed table of the locale library: a tree of 256-way
** nodes, one level per byte of a character's multibyte form, ending in a
** fixed-size entry. The tree also says which byte strings are characters
** and how long they are. Tables are read from a text form inside locale and
** conversion files; the writer, inserter and compressor serve the data
** generator that produces those files.
*/
#ifndef DVZ_GLSLIB_GL_MULTI_H
#define DVZ_GLSLIB_GL_MULTI_H

#include "gl_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Values of a node's flag array. */
#define GL_MULTI_NONE 0 /* no character goes on with this byte */
#define GL_MULTI_NEXT 1 /* descend to a child node */
#define GL_MULTI_END 4 /* this byte ends a character */

/* Bits of gl_multi_t.flags. */
#define GL_MULTI_VALID 1 /* always set */
#define GL_MULTI_SHARED 2 /* shared-array form */

/* One node. */
typedef struct multi_arr_t {
  int32_t child_count; /* flags equal to 1 = length of next */
  int32_t flag_index; /* index in shared_flags, -1 when not shared */
  int32_t data_index; /* index in shared_data, -1 when not shared */
  unsigned char *flags; /* [256] or NULL */
  unsigned char *offsets; /* [256] child index per flag-1 byte, or NULL */
  unsigned char *data; /* 256 entries 2^entry_shift apart, or NULL */
  struct multi_arr_t **next; /* child_count child nodes */
} multi_arr_t;

/* The table header. */
typedef struct gl_multi_t {
  int32_t entry_size; /* bytes per entry */
  int32_t max_length; /* longest key (0 when new) */
  int32_t min_length; /* shortest key (4 when new) */
  int32_t flags; /* GL_MULTI_VALID | GL_MULTI_SHARED */
  int32_t data_array_count; /* data arrays made (shared: shared ones) */
  int32_t flag_array_count; /* flag arrays made (shared: shared ones) */
  int32_t offset_array_count; /* offset arrays made */
  int32_t err; /* left by the last read: 0, 2, 3, 11 or 21 */
  multi_arr_t *root;
  unsigned char *default_entry; /* entry_size bytes, owned */
  int32_t entry_shift; /* smallest s with 2^s >= entry_size */
  unsigned char **shared_flags; /* flag_array_count arrays (shared form) */
  unsigned char **shared_data; /* data_array_count arrays (shared form) */
  int32_t *shared_child_counts; /* flags equal to 1 per shared flag array */
} gl_multi_t;

/* Reads one entry of entry_size bytes from stream into destination. */
typedef void (*gl_multi_entry_reader)(FILE *stream, void *destination, int entry_size);
/* Writes one entry in the text form the matching reader takes. */
typedef void (*gl_multi_entry_writer)(FILE *stream, const void *entry, int entry_size);

/* A new empty table: copy of default_entry (all zero when NULL), a root
** with an all-zero flag array. NULL when memory runs out or entry_size < 1. */
gl_multi_t *_gl_create_multi(int entry_size, int flags, const void *default_entry);

/* Reads the text form (plain or shared) into a table fresh from
** _gl_create_multi. Returns 0, or -1 with table->err set: 2 NULL stream
** or reader, 3 memory, 21 max_length above limit, 11 malformed or
** truncated text. A partial tree stays attached and is freed by
** _gl_free_multi. REQUIRES: the entry reader reads exactly one entry. */
int _gl_fscanf_multi(FILE *stream, gl_multi_t *table, int limit, gl_multi_entry_reader reader);

/* Entry of the character at bytes, its length in *length. NULL with error 1
** (length = bytes examined) when the bytes are no character. */
void *_gl_retrieve_text_multi(const unsigned char *bytes, const gl_multi_t *table, int *length,
                              gl_locale *record);
void *_gl_retrieve_text_multi_nl(const unsigned char *bytes, const gl_multi_t *table,
                                 gl_locale *record);
/* Length of the character only; 0 with error 1 when invalid. */
int _gl_retrieve_text_multi_nv(const unsigned char *bytes, const gl_multi_t *table,
                               gl_locale *record);
/* As _gl_retrieve_text_multi, never examining a byte at or past limit:
** limit < 1 gives NULL, length 0, error 7; a character cut by the limit
** gives NULL, length = limit, error 7. */
void *_gl_retrieve_text_multi_limit(const unsigned char *bytes, const gl_multi_t *table, int limit,
                                    int *length, gl_locale *record);
void *_gl_retrieve_text_multi_limit_nl(const unsigned char *bytes, const gl_multi_t *table,
                                       int limit, gl_locale *record);
/* Entry for a two-byte little-endian unit b0 b1: byte b0 in the root's child
** through b1 (flags of the child not looked at). limit < 2: NULL, error 7;
** root flag for b1 not 1: NULL, error 1. */
void *_gl_retrieve_little_endian_unicode_limit(const unsigned char *bytes, const gl_multi_t *table,
                                               int limit, gl_locale *record);
/* Entry of a packed wide character; NULL with error 1 when it is none. */
void *_gl_retrieve_wchar_multi_nl(gl_locale *record, gl_wchar wc, const gl_multi_t *table);

int _gl_multi_max_length(const gl_multi_t *table);
int _gl_multi_min_length(const gl_multi_t *table);
int _gl_multi_err(const gl_multi_t *table);
/* The three array counts of the header (any pointer may be NULL). */
void _gl_multi_node_count(const gl_multi_t *table, int *data_arrays, int *flag_arrays,
                          int *offset_arrays);
/* Frees everything the table owns and the table; NULL is ignored. */
void _gl_free_multi(gl_multi_t *table);

/* Enters key (1-4 bytes) with entry (NULL: none of its own, the default
** applies). Returns 0, or -1 for a key that is the prefix of another or has
** one as its prefix, a bad byte count, a shared-form table, or no memory. */
int _gl_insert_desc_multi(const gl_char_desc *key, const void *entry, gl_multi_t *table);
/* Entry of exactly that key, or NULL (no error stored). */
void *_gl_retrieve_desc_multi(const gl_char_desc *key, const gl_multi_t *table);

/* Writes the text form with the platform's stdio. Returns 0, -1 when a
** write fails. A table with max_length < 2 and min_length 1 first has
** every root flag set to 4. */
int _gl_fprintf_multi(FILE *stream, gl_multi_t *table, gl_multi_entry_writer writer);
/* Turns the table into the shared-array form. 0, or -1 (table unchanged)
** when memory runs out. A table already shared is left as it is. */
int _gl_compress_multi(gl_multi_t *table);

#ifdef __cplusplus
}
#endif

#endif
