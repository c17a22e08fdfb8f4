/*
** gl_host.h: the locale library's contact with its host program.
**
** The host-service table (every library access to memory, files, the
** environment, the error word and the clock goes through one of its 18
** wrappers), the diagnostics switches and gls.log, the search for the
** library's data files, and small number and character-descriptor
** helpers. The error numbers stored in a record's error word are those of
** gl_errors.h.
**
** C linkage throughout; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_HOST_H
#define DVZ_GLSLIB_GL_HOST_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "gl_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Shared types ------------------------------------------------------ */

/* The locale record. Its first word is the i32 error word; reach that word
** only through _gl_ext_errno. The remaining fields are defined with the
** locale loader. A conversion descriptor also begins with an error word and
** is passed where a record is asked for (cast to gl_locale *). */
typedef struct gl_locale gl_locale;

/* One character of a code set, its 1 to 4 bytes packed big-endian. */
typedef uint32_t gl_wchar;

/* A date as the current-date service returns it. */
typedef struct gl_date_rec {
  uint16_t month; /* 1-12 */
  uint16_t day; /* day of the month */
  uint16_t year; /* full year */
} gl_date_rec;

/* A broken-down time: twelve i32 words in this order. */
typedef struct gl_time_rec {
  int32_t tm_fraction; /* fraction of a second, microseconds */
  int32_t tm_sec;
  int32_t tm_min;
  int32_t tm_hour;
  int32_t tm_mday;
  int32_t tm_mon; /* 0 = January */
  int32_t tm_year; /* year - 1900 */
  int32_t tm_wday; /* 0 = Sunday */
  int32_t tm_yday; /* 0 = 1 January */
  int32_t tm_isdst;
  int32_t tm_spare1;
  int32_t tm_spare2;
} gl_time_rec;

/* Character descriptor: one character as a big-endian byte string. */
typedef struct gl_char_desc {
  uint32_t byte_count; /* 0-4 bytes used */
  unsigned char bytes[4];
} gl_char_desc;

/* ---- Host-service table ------------------------------------------------ */

#define GL_EXT_GETENV 0
#define GL_EXT_ERRNO 1
#define GL_EXT_FCLOSE 2
#define GL_EXT_FEOF 3
#define GL_EXT_FERROR 4
#define GL_EXT_FGETC 5
#define GL_EXT_FGETS 6
#define GL_EXT_FOPEN 7
#define GL_EXT_FREE 8
#define GL_EXT_FSEEK 9
#define GL_EXT_FTELL 10
#define GL_EXT_FWRITE 11
#define GL_EXT_GETC 12
#define GL_EXT_MALLOC 13
#define GL_EXT_UNGETC 14
#define GL_EXT_PUTENV 15
#define GL_EXT_CURRDATE 16
#define GL_EXT_CURRTIME 17
#define GL_EXT_SLOTS 18 /* number of slots */

/* A slot holds any function address; it is called as the slot's type. */
typedef void (*gl_ext_funcptr)(void);

typedef char *(*gl_ext_getenv_fn)(const char *name);
typedef int *(*gl_ext_errno_fn)(gl_locale *record);
typedef int (*gl_ext_fclose_fn)(FILE *stream);
typedef int (*gl_ext_feof_fn)(FILE *stream);
typedef int (*gl_ext_ferror_fn)(FILE *stream);
typedef int (*gl_ext_fgetc_fn)(FILE *stream);
typedef char *(*gl_ext_fgets_fn)(char *buffer, int size, FILE *stream);
typedef FILE *(*gl_ext_fopen_fn)(const char *name, const char *mode);
typedef void (*gl_ext_free_fn)(void *block);
typedef int (*gl_ext_fseek_fn)(FILE *stream, long offset, int origin);
typedef long (*gl_ext_ftell_fn)(FILE *stream);
typedef size_t (*gl_ext_fwrite_fn)(const void *data, size_t size, size_t count, FILE *stream);
typedef int (*gl_ext_getc_fn)(FILE *stream);
typedef void *(*gl_ext_malloc_fn)(size_t size);
typedef int (*gl_ext_ungetc_fn)(int byte, FILE *stream);
typedef int (*gl_ext_putenv_fn)(char *assignment);
typedef int (*gl_ext_currdate_fn)(gl_date_rec *date);
typedef int (*gl_ext_currtime_fn)(gl_time_rec *time);

/* The table, process-wide, all empty at start; written only by
** gl_setextfunc and _gl_set_ext_funcptr. */
extern gl_ext_funcptr funcptr_arr[GL_EXT_SLOTS];
/* 0 until the first installation, then 1 for good; while 0 the wrappers
** call their defaults without reading the table. */
extern int32_t _gl_ext_func;

/* Installs function in slot (NULL empties it). Returns 0; a slot outside
** 0-17 stores error 9 in the record's error word and returns -1. */
int gl_setextfunc(gl_locale *record, int slot, gl_ext_funcptr function);
/* The slot's function (NULL when empty or when slot is out of range). */
gl_ext_funcptr _gl_get_ext_funcptr(int slot);
/* Stores function in slot (ignored out of range) and sets _gl_ext_func. */
void _gl_set_ext_funcptr(int slot, gl_ext_funcptr function);

/* The wrappers: the installed function, else the default. */
char *_gl_ext_getenv(const char *name);
int *_gl_ext_errno(gl_locale *record);
int _gl_ext_fclose(FILE *stream);
int _gl_ext_feof(FILE *stream);
int _gl_ext_ferror(FILE *stream);
int _gl_ext_fgetc(FILE *stream);
char *_gl_ext_fgets(char *buffer, int size, FILE *stream);
FILE *_gl_ext_fopen(const char *name, const char *mode);
void _gl_ext_free(void *block);
int _gl_ext_fseek(FILE *stream, long offset, int origin);
long _gl_ext_ftell(FILE *stream);
size_t _gl_ext_fwrite(const void *data, size_t size, size_t count, FILE *stream);
int _gl_ext_getc(FILE *stream);
void *_gl_ext_malloc(size_t size);
int _gl_ext_ungetc(int byte, FILE *stream);
int _gl_ext_putenv(char *assignment);
int _gl_ext_currdate(gl_date_rec *date);
int _gl_ext_currtime(gl_time_rec *time);

/* The defaults: forwards to the platform. gl_ext_errno returns the
** record's own address, or a static scratch word for a NULL record. */
char *gl_ext_getenv(const char *name);
int *gl_ext_errno(gl_locale *record);
int gl_ext_fclose(FILE *stream);
int gl_ext_feof(FILE *stream);
int gl_ext_ferror(FILE *stream);
int gl_ext_fgetc(FILE *stream);
char *gl_ext_fgets(char *buffer, int size, FILE *stream);
FILE *gl_ext_fopen(const char *name, const char *mode);
void gl_ext_free(void *block);
int gl_ext_fseek(FILE *stream, long offset, int origin);
long gl_ext_ftell(FILE *stream);
size_t gl_ext_fwrite(const void *data, size_t size, size_t count, FILE *stream);
int gl_ext_getc(FILE *stream);
void *gl_ext_malloc(size_t size);
int gl_ext_ungetc(int byte, FILE *stream);
int gl_ext_putenv(char *assignment);
int gl_ext_currdate(gl_date_rec *date); /* time + localtime_r; 0 */
int gl_ext_currtime(gl_time_rec *time); /* time + localtime_r; 0 or -1 */

/* ---- Memory, strings and the environment ------------------------------- */

/* NULL for size 0 (the host is not called), else a block from slot 13. */
void *_gl_alloc_ptr(size_t size);
/* Nothing for NULL, else slot 8. */
void _gl_free_ptr(void *block);
/* Frees a string the library returned. */
void gl_destroystring(char *string);
/* The variable's value from slot 0; NULL when unset or empty. */
char *_gl_get_env_var(const char *name);

/* ---- Diagnostics -------------------------------------------------------- */

/* Process-wide switches, read once (at the first diagnostic line). */
extern int32_t gls_debug_initialized; /* the switches have been read */
extern int32_t gls_logging; /* GLSLOG is on: lines go to ./gls.log */
extern int32_t gls_popups; /* GLSDEBUG is on: lines go to stdout */
extern FILE *gls_log_file; /* gls.log while one line is written */

/* Reads GLSLOG and GLSDEBUG through slot 0; GLSLOG on writes the log
** header to gls.log in the current directory. */
void gl_init_debug(void);
/* Writes one diagnostic line (text plus newline) where the switches say;
** never fails the caller. */
void gl_message(const char *text);
/* Closes the library's debug file through slot 2 when open; clears the
** switches. */
void _gl_exit_utilities(void);

/* ---- Data-file search (mode "r"; stream or NULL with error 8) ----------- */

/* Searches name under GL_PATH, else $DOVARIZADIR/gls (or /usr/dovariza/gls)
** in directory+version, then directory; opens through slot 7. Directory
** and version pairs: "lc" "11", "cm" "3", "cv" "9". record may be NULL. */
FILE *gl_path_search(gl_locale *record, const char *name, const char *directory,
                     const char *version);
/* The same search, opening with the platform's fopen. */
FILE *gl_path_search_no_ext(gl_locale *record, const char *name, const char *directory,
                            const char *version);
/* The search behind both; platform nonzero opens with the platform fopen. */
FILE *gl_path_search1(gl_locale *record, const char *name, const char *directory,
                      const char *version, int platform);
/* Opens a name whose 0xFF bytes stand for "/", through slot 7. Error 3 when
** the copy cannot be made, 8 when it cannot be opened (record not NULL). */
FILE *gl_open_file(gl_locale *record, const char *name);
/* 1 when any byte of name is 0xFF, else 0. */
int has_path_cookie(const char *name);

/* ---- Numbers ------------------------------------------------------------ */

int _gl_digits(int32_t n, int32_t base); /* 1 for n < base; base < 2 gives 1 */
int _gl_udigits(uint32_t n, uint32_t base); /* the same, unsigned */
int32_t _gl_ipow(int32_t base, int32_t exponent); /* wrapping; 1 for exponent < 1 */
double _gl_fpow(double x, int32_t exponent);

/* ---- Character descriptors ---------------------------------------------- */

/* dst = src with delta added to (or subtracted from) its byte string. */
void _gl_desc_offset(const gl_char_desc *source, int32_t delta, gl_char_desc *destination);
/* 1 when byte counts and bytes are equal. */
int _gl_desc_eq(const gl_char_desc *a, const gl_char_desc *b);
/* The bytes packed big-endian; 0 for a byte count below 1. */
gl_wchar _gl_desc_to_gl_wchar(const gl_char_desc *descriptor);

#ifdef __cplusplus
}
#endif

#endif
