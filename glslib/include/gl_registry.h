/*
** gl_registry.h - the code-set registry and locale specifications of the
** locale library.
**
** A code set is known by a 16-bit number; the registry maps the names users
** write ("8859-1", "utf8") to those numbers, from the registry file
** (cm3/registry under the data-file search) or the built-in table. Locale
** specifications (en_US.8859-1@euro, or the long form
** "GL_CTYPE = en_US.8859-1 ; GL_TIME = ...") turn into code-set numbers,
** locale file names (en_us/0333euro.lco), message directories and
** conversion file names.
**
** Errors go to the error word of the record argument (a locale record or a
** conversion descriptor, reached through _gl_ext_errno); with a NULL record
** nothing is stored. Failed number lookups return GL_CS_NONE; the string
** operations return -1 and leave their output undefined. Output buffers
** carry no size: each function's comment says how large its output must
** be, by the limits below.
**
** Cache the registry at start-up (gl_cache_registry): without a cache every
** name lookup opens and reads the registry file again, and loading one
** locale looks code-set names up several times per category.
*/
#ifndef DVZ_GLSLIB_GL_REGISTRY_H
#define DVZ_GLSLIB_GL_REGISTRY_H

#include <stdint.h>

#include "gl_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The code-set number that means "no code set"; every failed lookup. */
#define GL_CS_NONE 0xE000u

/* Longest code-set name, in characters (registry entries and lookups). */
#define GL_CS_NAME_MAX 21
/* Longest locale specification the parsers accept, in bytes. */
#define GL_LC_SPEC_MAX 285
/* A locale file name ("ll_tt/xxxxmmmm.lco") with its terminator; also room
** for a normalised short specification ("ll_TT.65535@mmmm"). */
#define GL_LC_FNAME_SIZE 19
/* A short specification as written ("ll_TT.", a code-set name of up to 21
** characters, "@" and up to 4) with its terminator. */
#define GL_LC_SHORT_SIZE 33
/* A message directory ("ll_tt/xxxx") with its terminator. */
#define GL_MSG_DNAME_SIZE 11
/* A conversion file name ("xxxxyyyy.cvo") with its terminator, no prefix. */
#define GL_CV_FNAME_SIZE 13
/* Output of gl_lc_fname2lc_pieces: "ll_TT", "65535", "mmmm", terminated. */
#define GL_LC_LANGTERR_SIZE 6
#define GL_LC_CSTEXT_SIZE 6
#define GL_LC_MODIFIER_SIZE 5
/* A file specification of six entries: key, " = ", prefix and 0xFF, file
** name, " ; ". Add 6 * (strlen(prefix) + 1) when a prefix is given. */
#define GL_LC_FSPEC_SIZE (6 * (11 + 3 + 18 + 3) + 1)

/* One row of a registry table; a table ends with a row whose name is NULL. */
typedef struct gl_registry_row {
  const char *name; /* lower case */
  int number; /* the u16 code-set number */
} gl_registry_row;

/* One entry of the list cache, in file order. */
typedef struct registry_entry {
  char *name; /* 22-byte block, lower case */
  int number; /* the u16 code-set number */
  struct registry_entry *next;
} registry_entry;

/* The built-in registry, in table order; never freed. */
extern const gl_registry_row gls_canned_registry[];

/* Process-wide caches, written only by gl_cache_registry and
** gl_free_registry_cache. The list is the cached registry file (NULL when
** none is cached); the array is the built-in table after a failed caching,
** else NULL. With both NULL every lookup reads the registry file. */
extern registry_entry *gls_registry_list_cache;
extern const gl_registry_row *gls_registry_array_cache;

/* Number of a code-set name (case-insensitive) from the caches or the
** registry file (the named one, or the search "cm" "3"); a digits-only name
** not in the registry is its own value. GL_CS_NONE on failure: 7 unknown or
** malformed name, 15 no registry file, 11 registry syntax, 2 NULL name. */
uint16_t gl_cs_name2cs_num(gl_locale *record, const char *name, const char *registry);

/* Replaces the caches with the registry file's entries; on any failure (15
** no file, 11 syntax, 3 no memory) the built-in table is in force. Call it
** at start-up: every later lookup is then a walk of the cache. */
void gl_cache_registry(gl_locale *record, const char *registry);

/* Frees the list and clears both caches: later lookups read the file. */
void gl_free_registry_cache(void);

/* Code-set number of a short or long specification, or of a plain code-set
** name; GL_CS_NONE on failure (7 for a malformed or inconsistent one). */
uint16_t gl_lc_spec2cs_num(gl_locale *record, const char *spec, const char *registry);

/* Locale file name of a short specification, or the file specification of
** a long one (each file name preceded by prefix and 0xFF when the prefix is
** not empty). output must hold GL_LC_FSPEC_SIZE bytes, plus 6 x
** (strlen(prefix) + 1) with a prefix (GL_LC_FNAME_SIZE for a short
** specification). Returns 0, or -1 with error 7. */
int gl_lc_spec2lc_fname(gl_locale *record, const char *spec, char *output, const char *registry,
                        const char *prefix);

/* The message directory "ll_tt/xxxx" of a specification (of its
** GL_MESSAGES entry for a long one) into output, which must hold
** GL_MSG_DNAME_SIZE bytes. Returns 0, or -1 with error 7. */
int gl_lc_spec2msg_dname(gl_locale *record, const char *spec, char *output, const char *registry,
                         const char *prefix);

/* Conversion file name: [prefix 0xFF] xxxx yyyy ".cvo", into output, which
** must hold GL_CV_FNAME_SIZE bytes, plus strlen(prefix) + 1 with a prefix.
** Returns 0, or -1 with error 2 when the output is NULL. */
int gl_cs_nums2cv_fname(gl_locale *record, uint16_t first, uint16_t second, char *output,
                        const char *prefix);

/* Short specification "ll_TT.codeset[@modifier]" from its pieces into
** output, which must hold GL_LC_FNAME_SIZE bytes. Returns 0, or -1 with
** error 7. */
int gl_lc_pieces2lc_spec(gl_locale *record, const char *lang_terr, const char *codeset,
                         const char *modifier, char *output);

/* Splits a locale file name into "ll_TT", the code-set number as decimal
** text and the modifier, into buffers of GL_LC_LANGTERR_SIZE,
** GL_LC_CSTEXT_SIZE and GL_LC_MODIFIER_SIZE bytes. Returns 0, or -1 with
** error 7. */
int gl_lc_fname2lc_pieces(gl_locale *record, const char *fname, char *lang_terr, char *codeset,
                          char *modifier);

/* Category key at the start of text: 1 GL_CTYPE, 2 GL_COLLATE, 3 GL_TIME,
** 4 GL_MONETARY, 5 GL_NUMERIC, 6 GL_MESSAGES (with its length), or 0. */
int _gl_is_category(const char *text, int *key_length);

/* 1 when a short form begins at *text: its file name is written at *output
** (at most GL_LC_FNAME_SIZE - 1 bytes, no terminator), both pointers
** advance, its number goes to *cs_num. 0
** otherwise; a failed code-set lookup leaves GL_CS_NONE and its error. */
int _gl_is_xopen_spec(gl_locale *record, const char **text, char **output, uint16_t *cs_num,
                      const char *registry);

/* Conversions between the forms (no caller in the client library). */

/* Short specification with its code set as a decimal number, into output
** of GL_LC_FNAME_SIZE bytes. 0 or -1 (7). */
int _gl_lc_short_spec2lc_short_norm(gl_locale *record, const char *spec, char *output,
                                    const char *registry);
/* Normal form of a short specification, or of a long one naming all six
** categories: each entry normalised, in the order CTYPE, COLLATE, NUMERIC,
** MONETARY, TIME, MESSAGES, each followed by " ; ". output must hold
** GL_LC_FSPEC_SIZE bytes. 0 or -1 (7). */
int gl_lc_spec2lc_norm(gl_locale *record, const char *spec, char *output, const char *registry);
/* The long form naming a short specification (or bare "ll_TT"), lower
** case, for all six categories. output must hold 6 x strlen(spec) + 91
** bytes; GL_LC_SPEC_MAX + 1 always suffices. 0 or -1 (7). */
int gl_lc_short2lc_long(gl_locale *record, const char *spec, char *output, const char *registry);
/* Syntax check of a short or long specification, no registry: 0 or -1. */
int gl_is_lc_spec(gl_locale *record, const char *text);
/* The short form of a long specification whose entries name one locale; a
** short one is validated and copied. output must hold GL_LC_SHORT_SIZE
** bytes. 0 or -1 (7). */
int gl_lc_spec2lc_short(gl_locale *record, const char *spec, char *output, const char *registry);
/* The short specification of one category (2 CTYPE .. 7 MESSAGES, the
** locale record's numbering) into output of GL_LC_SHORT_SIZE bytes. 0 or
** -1 (9 bad category, 7 otherwise). */
int gl_lc_spec2category(gl_locale *record, const char *spec, int category, char *output,
                        const char *registry);
/* A locale specification from a file specification, once every named
** locale file opens (under directory, or by the search "lc" "11"), into
** output of GL_LC_FSPEC_SIZE bytes. 0 or -1 (7 malformed, 8 a file does not
** open). */
int gl_lc_fname2lc_spec(gl_locale *record, const char *fspec, char *output, const char *directory);

#ifdef __cplusplus
}
#endif

#endif
