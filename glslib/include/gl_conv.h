/*
** gl_conv.h: code-set conversion of the locale library.
**
** A conversion descriptor converts byte strings from one code set to
** another through the tables of one conversion file (.cvo, found as
** cv9/<source><target>.cvo, each code set as four lower-case hexadecimal
** digits). One descriptor converts in one direction. Conversions are
** stateless (each character looked up alone) or stateful, for code sets
** that switch between a base and a shifted state with escape sequences;
** the stateful position lives in a caller-held gl_cv_state.
**
** Errors go to the descriptor's error word (its first member): 1 a
** character without conversion, 3 no memory, 7 unknown code set or a
** character cut by the input length, 8 file not found or wrong header, 11
** malformed file, 14 output too small. A descriptor is read-only after
** loading; the conversions write only its error word, on failure.
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_CONV_H
#define DVZ_GLSLIB_GL_CONV_H

#include <stdint.h>

#include "gl_host.h"
#include "gl_multi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Byte 0 of a table entry: the length and flags of the target character
** that follows it in the entry. */
#define GL_CV_LENGTH_MASK 0x07 /* bytes of the target character */
/* An entry converts when any of the bits 0x08-0x80 is set; an ordinary
** character that needs none of the others carries this one. */
#define GL_CV_CONVERTS 0x10
#define GL_CV_END 0x08 /* the terminating character: stop here without a length */
#define GL_CV_LOSSY 0x20 /* the target only approximates the source */
#define GL_CV_SHIFTED 0x40 /* the target is in the target's shifted state */
#define GL_CV_TOGGLE 0x80 /* switches the source between base and shifted */

typedef struct gl_cv_desc gl_cv_desc;

/* A stateless converter: converts from *in (*inleft bytes, or up to the
** end entry when inleft is NULL) to *out (nothing written when out or *out
** is NULL), *outleft the room. 0 or -1; the pointers and counts are left
** after the last character converted. */
typedef int (*gl_cv_converter)(gl_cv_desc *cd, const unsigned char **in, int *inleft,
                               unsigned char **out, int *outleft, int *lossy);

/* One conversion descriptor, from gl_cv_load, freed by gl_cv_unload. */
struct gl_cv_desc {
  int32_t err; /* the error word */
  unsigned char
      *fast_map; /* [256] target byte per source byte, or NULL; owned by whoever takes it */
  int32_t source_shift; /* the source has a shifted state (a second table) */
  int32_t target_shift; /* the target has shift states */
  int32_t shift_len[4]; /* 0-4 bytes per shift sequence */
  int32_t target_min_len;
  int32_t target_max_len; /* 1-4; an entry is target_max_len + 1 bytes */
  int32_t unused[2]; /* read from the file, not used */
  int32_t source_min_len;
  int32_t source_max_len;
  int32_t nofastmap; /* nonzero: no fast map */
  float factor; /* most output bytes per input byte */
  unsigned char shift_seq[4][4]; /* 1 enters the shifted state, 2 leaves it; 3, 4 kept */
  gl_multi_t *base_table; /* source character -> entry */
  gl_multi_t *shifted_table; /* the same while the source is shifted; NULL unless source_shift */
  gl_cv_converter converter; /* the stateless converter chosen at load */
};

/* Caller-held state of a stateful conversion, kept between calls. */
typedef struct gl_cv_state {
  int32_t reset; /* nonzero: the two shift words are cleared at the start of a call */
  int32_t end_flush; /* nonzero: the output returns to the base state after the last character */
  int32_t source_shifted; /* 0 base, 1 shifted */
  int32_t target_shifted; /* 0 base, 1 shifted */
} gl_cv_state;

/* Stand-ins returned on failure, never freed: no memory (error 3), file
** failure (8), unknown code set (7). */
extern gl_cv_desc cd_enomem;
extern gl_cv_desc cd_fileerr;
extern gl_cv_desc cd_einval;

/* Loads the conversion from the code set of source to that of target
** (locale specifications; registry NULL: the usual search). directory not
** NULL: the file is opened there (through slot 7) instead of searched.
** Returns 1 with the new descriptor in *cd; 0 with *cd NULL when the code
** sets are equal; -1 with *cd a static stand-in or a new descriptor whose
** error word says why (free it with gl_cv_unload). */
int gl_cv_load(gl_cv_desc **cd, const char *target, const char *source, const char *registry,
               const char *directory);
/* Frees a loaded descriptor and its tables (not the fast map): 0. The
** static stand-ins give 0 and stay; NULL gives -1. */
int gl_cv_unload(gl_cv_desc *cd);

/* Stateless conversion (a stateful descriptor converts from a fresh state
** with reset and end flush set). inleft NULL: up to and including the
** character whose entry has the end flag (the NUL of a string). out or *out
** NULL: nothing written, *outleft still counted down. 0, or -1 with the
** pointers at the character that failed. lossy (may be NULL) is set when
** an approximate character was written. */
int gl_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft, unsigned char **out,
              int *outleft, int *lossy);
/* The same with a caller-held state (NULL: as gl_miconv); a descriptor
** without shift states ignores it. */
int gl_cv_mconv(gl_cv_desc *cd, gl_cv_state *state, const unsigned char **in, int *inleft,
                unsigned char **out, int *outleft, int *lossy);
/* gl_cv_mconv writing nothing: measures the output in *outleft. */
int gl_mconvlen(gl_cv_desc *cd, gl_cv_state *state, const unsigned char **in, int *inleft,
                int *outleft, int *lossy);

/* The expansion factor (0 for NULL). */
double gl_iconv_expansion(gl_cv_desc *cd);
/* Output bytes that n input bytes may need: the factor rounded up to a
** whole number, times n (at most INT32_MAX; 0 for NULL or n < 0). */
int gl_cv_outbuflen(gl_cv_desc *cd, int n);

/* Opening by code-set names: the file <source name>_<target name>.cvo,
** the names being the text after the first "." of each specification.
** Equal names: 0 and *cd NULL; 1 loaded; -1 with a stand-in or a
** descriptor carrying its error. */
int gl_cv_open(gl_cv_desc **cd, const char *target, const char *source);
int gl_iconv_open(gl_cv_desc **cd, const char *target_name, const char *source_name);
/* Allocates a descriptor and reads the file name found by the search. */
int gl_iconv_open1(gl_cv_desc **cd, const char *file_name);

#ifdef __cplusplus
}
#endif

#endif
