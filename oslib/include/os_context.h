/*
** os_context.h: the operating-system context of the client library, the
** 8-bit character tables of its locale-blind code, case conversion of
** strings through the current locale and the locale-aware comparison of
** CHAR values (blank-padded, fixed length).
**
** The context `ostcb` is created on first use (CheckOsInit) and never
** freed. The character tables are process-wide data, rebuilt at most once
** from the platform's classification (rldctype). The case and comparison
** routines take the current locale record from the current locale
** environment (CheckGlsEnv).
**
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_CONTEXT_H
#define DVZ_OSLIB_OS_CONTEXT_H

#include <stdint.h>

#include "gl_locale.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The operating-system context ---------------------------------------- */

/* Sizes of the character tables. */
#define OS_CTYPE_SIZE 258 /* entry 0 end of file, entries 1-256 the bytes */
#define OS_CASEMAP_SIZE 257 /* entry c is the partner of byte c */

typedef struct ostcb_t {
  int32_t read_failed; /* 1 after the runtime's read from the server failed */
  int32_t backend_ids[2]; /* ids of a pipe back end, -1 when none */
  int32_t fork_flag; /* 1 while the runtime has a connection open */
  int32_t connection_id; /* dvz_ossetconn / dvz_osgetconn only; -1 at first */
  int32_t scratch_size; /* bytes of scratch */
  char *scratch; /* allocnbspace's buffer, owned by the context */
  unsigned char ctype_copy[OS_CTYPE_SIZE]; /* _ixctype at creation */
  unsigned char lowmap_copy[256]; /* _ix2lowmap at creation */
  unsigned char upmap_copy[256]; /* _ix2upmap at creation */
  int32_t nls_flags; /* os_nls_* bits */
  int32_t api_error; /* checkOsApi's word, read by getoserr */
} ostcb_t;

/* nls_flags: the platform's locale categories were set from DBNLS. */
enum { os_nls_from_dbnls = 0x2 };

/* The context, NULL until first needed. Written by CheckOsInit. */
extern ostcb_t *ostcb;

/* The context, created on first use (stored before the client locale is
** initialised, so a nested call finds it). NULL when it cannot be made, or
** once when the locale initialisation fails; later calls return it. */
ostcb_t *CheckOsInit(void);
/* A new context (NULL when memory is short), made current only while the
** protocol trace is set up; the previous one is current again afterwards. */
ostcb_t *ostcb_alloc(void);
/* Zeroes cb, then sets the initial ids and copies the three tables. */
void osfill(ostcb_t *cb);
/* The interface check: always 0. */
int checkOsApi(void);
/* The context's API error word; 0 without a context. */
int getoserr(void);
/* Writes / reads the context's connection id (0 without a context). */
void dvz_ossetconn(int id);
int dvz_osgetconn(void);
/* The context's scratch buffer of at least n bytes (its size grows by 128
** bytes at a time, the old contents are lost when it grows); NULL when
** memory is short or there is no context. Valid until the next call. */
char *allocnbspace(int n);

/* The runtime's side: the fork flag (get: 0 without a context) and the
** back-end ids, which killbackend sets to -1 (returns 0). */
void set_forkflag(int flag);
int get_forkflag(void);
int killbackend(void);

/* ---- 8-bit character tables ------------------------------------------------ */

/* Class bits of _ixctype entries. */
enum {
  os_ct_upper = 1,
  os_ct_lower = 2,
  os_ct_digit = 4,
  os_ct_space = 8,
  os_ct_punct = 16,
  os_ct_cntrl = 32,
  os_ct_xdigit = 64,
  os_ct_print = 128
};

/* Index _ixctype with (unsigned char)c + 1; the maps with (unsigned char)c. */
extern unsigned char _ixctype[OS_CTYPE_SIZE];
extern unsigned char _ix2lowmap[OS_CASEMAP_SIZE];
extern unsigned char _ix2upmap[OS_CASEMAP_SIZE];

/* Rebuilds the tables once per process: from the platform's LC_CTYPE (set
** from the environment) when DBNLS is "1" or "2", else the built-in 8-bit
** classes. 0, or -1 when setlocale fails or there is no context. */
int rldctype(void);
/* Derives the tables from the platform's classification; -1 without a
** context. */
int ldctypearr(void);
/* Restores the built-in classes of bytes 0x80-0xFF. */
void rld8bitarr(void);
/* Sets LC_CTYPE to name and rebuilds the tables: 0, -7206 (setlocale
** failed) or -406 (rebuild failed). */
int rldnlsctype(const char *name);
/* The table partner of an upper-case (lower-case) c, else c as a signed
** byte. */
int gtolower(int c);
int gtoupper(int c);
/* 1 when DBNLS is exactly "1", 2 when exactly "2", else 0. */
int DBNLSset(void);

/* ---- Case conversion through the current locale ----------------------------- */

/* Modes of rcaseshift and sqlcaseshift. */
enum { os_case_upper = 41, os_case_lower = 42 };

/* In place, NUL-terminated; NULL is left alone. */
void rdownshift(char *s);
void rupshift(char *s);
/* As above: 0, or -1 with gerrno -7 for NULL (gerrno 0 on success). */
int gdownshift(char *s);
int gupshift(char *s);
/* Converts s in place (mode os_case_lower or os_case_upper). The result is
** cut after the last whole character that fits in the original length:
** the string never grows and never ends in part of a character. Nothing
** happens when the locale cannot be initialised or memory is short. */
void rcaseshift(int mode, char *s);
/* Converts the terminated input into output (n bytes), zero-filling the
** rest; a character that would pass n is dropped with everything after it.
** 0, or -941 for a byte sequence invalid in the locale. */
int sqlcaseshift(int mode, const char *input, char *output, int n);
/* As sqlcaseshift, the first letter of each word upper case and the other
** letters lower case. */
int sqlinitcap(const char *input, char *output, int n);
/* The character after the last "/" of path (path when there is none); in
** an initialised locale a "/" byte inside a multibyte character does not
** count. */
char *rbasename(const char *path);

/* ---- Comparison ---------------------------------------------------------------- */

/* Compares two CHAR values by the locale's collation, trailing blanks
** ignored: -1, 0 or 1. On error the result is 0 and *error and the
** locale's error word hold -1211 (no memory), -202 (invalid character) or
** -23102 (the locale library ran out of memory); else both are 0. */
int osglsbycmpr(gl_locale *loc, const char *a, int la, const char *b, int lb, int *error);
/* The same for a multibyte locale (wide-character collation). */
int mbsbycmpr(gl_locale *loc, const char *a, int la, const char *b, int lb, int *error);
/* Length of value without its trailing blanks (blank class, not control);
** the scan stops at an invalid character. A NULL locale counts " " only. */
int osglsbyleng(gl_locale *loc, const char *value, int length);
/* 1 when low <= c <= high by the current locale's collation (code value in
** a code-set-order locale or without a locale), else 0. */
int CharInRange(gl_wchar c, gl_wchar low, gl_wchar high);
/* The current directory into buffer (1026 bytes): 0, or -1 when it does
** not fit or its conversion to the client code set fails. */
int ggetcwd(char *buffer);

/* ---- Platform NLS helpers ------------------------------------------------------- */

/* Compare with the platform's strcoll after cutting trailing blanks (an
** empty value first): -1, 0, 1; *error -1211 without scratch memory. */
int nlsbycmpr(const char *a, const char *b, int n, int *error);
int _oncharcmp(const char *a, int la, const char *b, int lb, int *error);
/* Sets the platform categories from the environment: 1 or 2 for DBNLS "1"
** or "2" (with os_nls_from_dbnls set), else 0, or the first failure. */
int _nlsinit(void);
/* LC_COLLATE, LC_CTYPE, LC_MONETARY, LC_NUMERIC, LC_TIME from the variables
** of those names: 0 or -7204, -7206, -7207, -7208, -7209. */
int _setallocale(void);
/* One category from the variable's value: 0, or error when setlocale fails. */
int _setnlslocale(int category, const char *variable, int error);
/* setlocale of LC_COLLATE: 0, or -7204 (also in *error when not NULL). */
int _osetcollate(const char *name, int *error);
/* _nlsinit, then for a positive result the server-side language reset:
** _nlsinit's result, or the reset's error. */
int _nlsinit_be(void);

#ifdef __cplusplus
}
#endif

#endif
