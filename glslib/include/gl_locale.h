/*
** gl_locale.h: the locale record and its loading, reading and queries.
**
** A locale is one record, gl_locale, whose first word is the error word of
** every call made with it. This header gives the record field by field, the
** conventions record glconv, the two static records, the loading of
** categories from locale files (.lco), and the read-only queries (langinfo
** items, conventions, versions, shortest and longest character). The
** character operations on a record are in gl_chars.h.
**
** Text pairs: most texts are held as a multibyte string (its bytes followed
** by four zero bytes, the terminator of the widest code set) together with
** its wide form (gl_wchar array ended by 0) made by the record's
** mbstowcs_fn. A NULL multibyte string has a NULL wide form. The record owns
** both, except in categories it shares with another record (gl_copy_cat).
**
** C linkage; every name here is part of the library's API.
*/
#ifndef DVZ_GLSLIB_GL_LOCALE_H
#define DVZ_GLSLIB_GL_LOCALE_H

#include <stdint.h>
#include <stdio.h>

#include "gl_host.h"
#include "gl_multi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Categories ---------------------------------------------------------- */

enum {
  GL_ALL = 1, /* all six, for loading and copying */
  GL_CTYPE = 2,
  GL_COLLATE = 3,
  GL_NUMERIC = 4,
  GL_MONETARY = 5,
  GL_TIME = 6,
  GL_MESSAGES = 7
};
/* Per-category arrays of the record are indexed by (category - 2). */
#define GL_CATEGORY_COUNT 6

/* Category keys ("GL_CTYPE" ...) indexed by category number; entries 0
** and 1 are "". */
extern const char *const category_params[8];

/* Longest specification gl_setlocale_4 takes (312 bytes or more: error 9). */
#define GL_LC_SPEC_LIMIT 312
/* Slots of the name arrays, terminator included. A file name slot holds
** every name the loader takes: a whole specification used as a file name
** (a directory prefix, 0xFF and a locale file name) of up to 127 bytes. A
** name of 128 bytes or more is refused (error 9), never cut. */
#define GL_CS_NAME_SLOT 21
#define GL_FILE_NAME_SLOT 128
/* Size of the query string gl_setlocale_4 returns: room for the six keys
** (at most 11 bytes each), " = ", a file name and " ; " each, and the
** terminator. */
#define GL_LC_QUERY_SIZE (6 * (11 + 3 + (GL_FILE_NAME_SLOT - 1) + 3) + 1)

/* Class bits of a character's u16 mask (ctype_table entries, class_map). */
enum {
  GL_CLASS_UPPER = 1,
  GL_CLASS_LOWER = 2,
  GL_CLASS_ALPHA = 4,
  GL_CLASS_DIGIT = 8,
  GL_CLASS_SPACE = 16,
  GL_CLASS_CNTRL = 32,
  GL_CLASS_PUNCT = 64,
  GL_CLASS_GRAPH = 128,
  GL_CLASS_PRINT = 256,
  GL_CLASS_XDIGIT = 512,
  GL_CLASS_BLANK = 1024,
  GL_CLASS_NAMED = 2048 /* a named class n has mask 2048 << (n & 31) */
};

/* Collation weight bits. */
#define GL_WEIGHT_IGNORE 1u /* the weight value of IGNORE */
#define GL_WEIGHT_CODEPOINT 0x8000u /* ties on the code point */
#define GL_WEIGHT_EXPANSION 0x4000u /* bits 0-13 index expansions */
#define GL_MAX_PASSES 8

/* ---- Function slots -------------------------------------------------------- */

/* Compares two terminated multibyte strings: negative, 0, positive. */
typedef int (*gl_mbscoll_func)(gl_locale *loc, const unsigned char *s1, const unsigned char *s2);
/* The same for strings of len1 and len2 bytes (both -1: terminated). */
typedef int (*gl_mbfscoll_func)(gl_locale *loc, const unsigned char *s1, int len1,
                                const unsigned char *s2, int len2);
/* Writes the collation key of a terminated string into out (at most size
** bytes); returns the key length, -1 on failure. */
typedef int (*gl_mbsxfrm_func)(gl_locale *loc, unsigned char *out, const unsigned char *s,
                               int size);
/* Terminated multibyte string to at most n wide characters. */
typedef int (*gl_mbstowcs_func)(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int n);
/* A string of nbytes bytes (-1: terminated) to at most nchars characters. */
typedef int (*gl_mbfstowcfs_func)(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int nbytes,
                                  int nchars);

/* ---- Records of the categories --------------------------------------------- */

/* A multibyte text and its wide form. */
typedef struct gl_text_pair {
  char *mb; /* bytes + four zero bytes, or NULL */
  gl_wchar *wc; /* wide form ended by 0, NULL when mb is NULL */
} gl_text_pair;

/* A named class of the CTYPE category. */
typedef struct gl_class_name {
  int32_t number; /* mask 2048 << (number & 31) */
  char *name; /* terminated, at most 70 bytes */
} gl_class_name;

/* One case pair; a 0 member means the character is its own partner. */
typedef struct gl_case_pair {
  gl_wchar upper;
  gl_wchar lower;
} gl_case_pair;

/* A grouping list: count 0-15, then the group sizes. */
typedef struct gl_grouping {
  int32_t count;
  int32_t sizes[15];
} gl_grouping;

/* What a character expands to for collation. */
typedef struct gl_coll_expansion {
  int32_t count;
  gl_wchar *characters; /* count characters */
} gl_coll_expansion;

/* A multi-character collating element. */
typedef struct gl_coll_element {
  int32_t count;
  gl_wchar *characters; /* count characters */
  uint16_t row;
} gl_coll_element;

/* A member of an equivalence class and the class's representative (its
** last member); consecutive pairs of one class share the representative.
** A list ends with a pair whose member is NULL. */
typedef struct gl_equiv_pair {
  char *member;
  char *representative;
} gl_equiv_pair;

/* One parsed era string. end_kind: 0 end date given, 1 open towards the
** future, -1 open towards the past (end fields 0 then). */
typedef struct era_record {
  int32_t direction; /* +1 or -1 */
  int32_t offset;
  int32_t start_day;
  int32_t start_month;
  int32_t start_year;
  int32_t end_day;
  int32_t end_month;
  int32_t end_year;
  int32_t end_kind;
  char *era_name; /* multibyte, terminated by four zero bytes */
  char *era_name2;
  char *era_year_format;
  gl_wchar *era_year_format_wc; /* set by the TIME initialisation */
} era_record;

/* A node of a name-lookup tree (case-folded names, one level per
** character). A tree is a pointer to its first top-level node. */
typedef struct name_tree_node {
  gl_wchar character; /* lower-cased; 0 for an empty name */
  int32_t value; /* index of the name ending here */
  int32_t terminal; /* 1 when a name ends here */
  struct name_tree_node *child; /* node of the next character */
  struct name_tree_node *sibling; /* another character at this position */
} name_tree_node;

/* The eight trees of the TIME category, in this order. */
enum {
  GL_TREE_ABDAY = 0,
  GL_TREE_DAY = 1,
  GL_TREE_ABMON = 2,
  GL_TREE_MON = 3,
  GL_TREE_ERA_NAME2 = 4,
  GL_TREE_ERA_NAME = 5,
  GL_TREE_ALT_DIGITS = 6,
  GL_TREE_AM_PM = 7,
  GL_TREE_COUNT = 8
};

/* A list of texts: multibyte strings, their wide forms, the count. */
typedef struct gl_text_list {
  char **mb;
  gl_wchar **wc;
  int32_t count;
} gl_text_list;

/* The era strings and their parsed records. */
typedef struct gl_era_list {
  char **strings; /* count era strings as read */
  era_record **records; /* count parsed records, or NULL */
  int32_t count;
} gl_era_list;

/* Calendar ids. */
enum { GL_CAL_GREGORIAN = 1, GL_CAL_HEBREW = 2, GL_CAL_ISLAMIC = 3, GL_CAL_ARABIC = 4 };

/* The TIME category. */
typedef struct gl_ltime {
  int32_t calendar;
  char *abday[7];
  gl_wchar *abday_wc[7];
  char *day[7];
  gl_wchar *day_wc[7];
  gl_text_list abmon; /* at most 20 reachable through langinfo */
  gl_text_list mon;
  char *am_pm[2];
  gl_wchar *am_pm_wc[2];
  gl_text_list alt_digits;
  name_tree_node *lookup_trees[GL_TREE_COUNT];
  char *d_fmt;
  char *d_t_fmt;
  char *t_fmt;
  char *t_fmt_ampm;
  char *era_d_fmt;
  char *era_d_t_fmt;
  char *era_t_fmt;
  gl_wchar *d_fmt_wc;
  gl_wchar *d_t_fmt_wc;
  gl_wchar *t_fmt_wc;
  gl_wchar *t_fmt_ampm_wc;
  gl_wchar *era_d_fmt_wc;
  gl_wchar *era_d_t_fmt_wc;
  gl_wchar *era_t_fmt_wc;
  gl_era_list eras;
  gl_text_pair era_joined; /* era strings joined by newline */
  gl_text_pair alt_digits_joined; /* exists only together with eras */
} gl_ltime;

/* The numeric and monetary conventions, in the order of the standard
** lconv members. Every text is a fresh copy owned by the record (NULL when
** its source is NULL or holds 256 bytes or more). */
typedef struct glconv {
  gl_text_pair decimal_point;
  gl_text_pair thousands_sep;
  char *grouping; /* one byte per group size, ended by 0 */
  gl_text_pair int_curr_symbol;
  gl_text_pair currency_symbol;
  gl_text_pair mon_decimal_point;
  gl_text_pair mon_thousands_sep;
  char *mon_grouping;
  gl_text_pair positive_sign;
  gl_text_pair negative_sign;
  gl_text_pair num_positive_sign;
  gl_text_pair num_negative_sign;
  signed char int_frac_digits; /* 127 where the value is not available */
  signed char frac_digits;
  signed char p_cs_precedes;
  signed char p_sep_by_space;
  signed char n_cs_precedes;
  signed char n_sep_by_space;
  signed char p_sign_posn;
  signed char n_sign_posn;
} glconv;

/* mon_ints indices. */
enum {
  GL_INT_FRAC_DIGITS = 0,
  GL_FRAC_DIGITS = 1,
  GL_P_CS_PRECEDES = 2,
  GL_P_SEP_BY_SPACE = 3,
  GL_N_CS_PRECEDES = 4,
  GL_N_SEP_BY_SPACE = 5,
  GL_P_SIGN_POSN = 6,
  GL_N_SIGN_POSN = 7
};
/* mon_ints value of "not available". */
#define GL_MON_NA 0x7fffffff

/* ---- The locale record ------------------------------------------------------ */

struct gl_locale {
  /* Head: read directly by the client library. */
  int32_t error; /* error word, 0 when no error */
  gl_mbscoll_func mbscoll_fn; /* set by the update after each load */
  gl_mbfscoll_func mbfscoll_fn;
  gl_mbsxfrm_func mbsxfrm_fn;
  gl_mbstowcs_func mbstowcs_fn;
  gl_mbfstowcfs_func mbfstowcfs_fn;
  double case_expansion; /* longest case-converted / original; 1.0 new */
  double coll_expansion; /* longest element or expansion; 1.0 new */
  unsigned char *upper_map; /* [256] single-byte locales only, else NULL */
  unsigned char *lower_map; /* [256] single-byte locales only, else NULL */
  uint16_t *class_map; /* [256] class mask per byte, single-byte only */
  int32_t single_byte; /* 1 when the longest character is 1 byte */
  int32_t codeset_order; /* 1 when COLLATE orders by code point */
  char **ignorable_chars; /* ended by NULL, or NULL */
  gl_equiv_pair *equivalent_chars; /* ended by a NULL member, or NULL */

  /* CTYPE. ctype_table maps a character's bytes to its u16 class mask
  ** (entry size 2); its shortest and longest keys are the code set's
  ** shortest and longest character (gl_mb_loc_min, gl_mb_loc_max), and a
  ** byte string is a character exactly when the table holds it.
  ** case_table maps a character to a u16 index k into case_pairs: 0 none,
  ** else 1..case_pair_count. The byte maps above are derived from these
  ** two tables by the update after each load. */
  gl_multi_t *ctype_table;
  int32_t class_count;
  gl_class_name *classes; /* class_count entries */
  gl_multi_t *case_table;
  gl_case_pair *case_pairs; /* case_pair_count + 1 entries; [0] unused */

  /* COLLATE. */
  gl_multi_t *coll_table; /* character -> u16 row number */
  int32_t pass_count; /* 0-8 */
  int32_t highest_row; /* rows 0..highest_row */
  int32_t expansion_count;
  int32_t element_count;
  uint32_t highest_weight;
  int32_t pass_flags[GL_MAX_PASSES]; /* bit 0: forward, clear: backward */
  uint16_t *weights[GL_MAX_PASSES]; /* highest_row + 1 per pass */
  gl_coll_expansion *expansions; /* expansion_count */
  gl_coll_element *elements; /* element_count */
  int32_t codeset_order_word;
  gl_coll_expansion **expansion_candidates[GL_MAX_PASSES]; /* [256] per pass */
  int32_t *element_candidates; /* [256] or NULL */
  int32_t coll_kind; /* 0 null, 1 as_specified, 2 thai_smo */
  /* Derived from COLLATE and CTYPE after each load: rows and element
  ** starts of the commonest characters, or NULL (the comparer then walks
  ** coll_table). The record's own, never shared by gl_copy_cat. */
  struct gl_coll_cache *coll_cache;

  /* NUMERIC, MONETARY, MESSAGES. */
  gl_text_pair decimal_point;
  gl_text_pair thousands_sep;
  gl_grouping grouping;
  gl_text_pair int_curr_symbol;
  gl_text_pair currency_symbol;
  gl_text_pair mon_decimal_point;
  gl_text_pair mon_thousands_sep;
  gl_grouping mon_grouping;
  gl_text_pair positive_sign;
  gl_text_pair negative_sign;
  gl_text_pair num_positive_sign;
  gl_text_pair num_negative_sign;
  int32_t mon_ints[8]; /* GL_MON_NA when not available */
  gl_text_pair yes_expr;
  gl_text_pair no_expr;
  gl_text_pair yes_str;
  gl_text_pair no_str;

  /* TIME. */
  gl_ltime ltime;

  /* Conventions returned by gl_localeconv. */
  glconv conv;

  /* Names, indexed by category - 2. */
  char codeset_names[GL_CATEGORY_COUNT][GL_CS_NAME_SLOT];
  gl_wchar codeset_names_wc[GL_CATEGORY_COUNT][GL_CS_NAME_SLOT];
  char file_names[GL_CATEGORY_COUNT][GL_FILE_NAME_SLOT];
  gl_wchar file_names_wc[GL_CATEGORY_COUNT][GL_FILE_NAME_SLOT];

  /* Bookkeeping. */
  int32_t shared_categories; /* bit (category - 2): data shared from
                                      another record by gl_copy_cat */
  int32_t case_pair_count; /* pairs read into case_pairs */
};

/* Static records handed out through out-parameters; never freed or
** written by the library. loc_nomem: error 3 (no record could be made);
** loc_filer: error 8 (default.lco was not found). */
extern gl_locale loc_nomem;
extern gl_locale loc_filer;

/* ---- Creating, loading, copying and freeing ------------------------------------ */

/* A new record with every category null. Returns 0, or -1 with &loc_nomem
** stored in *record when memory runs out. The function slots are filled
** by the first load. */
int gl_create_null_locale_4(gl_locale **record);

/* Loads category (1 all six, 2-7 one) from the files that specification
** names (a file name relative to the locale search path, optionally with a
** directory prefix ended by 0xFF, or a long "GL_CTYPE = ..." form; empty:
** from GL_ALL / the category variable / GL_LANG / "default.lco"). NULL
** loads nothing. A file name of GL_FILE_NAME_SLOT bytes or more is refused
** with error 9. Returns the query string, a block of GL_LC_QUERY_SIZE bytes
** (free it with gl_destroystring), or NULL with the error word set. A
** category whose code set differs from CTYPE's fails with error 58; after
** the load, categories of different code sets store error 12 while the
** string is still returned. Code-set names are compared through the
** registry (by name, case-folded, where a name does not resolve): cache it
** at start-up with gl_cache_registry, or every comparison reads the
** registry file again. */
char *gl_setlocale_4(gl_locale *record, int category, const char *specification);

/* Frees the record and all it owns; NULL and the static records are left
** alone. A record with shared categories leaves the shared data alone. */
void gl_lc_unload(gl_locale *record);

/* Converts specification with gl_lc_spec2lc_fname (registry, when not NULL,
** is the registry file; on failure the text is used unchanged), creates a
** record in *record and loads all six categories, opening the files in
** directory when given. 0, or -1 (the record, when made, stays in *record). */
int gl_lc_load(gl_locale **record, const char *specification, const char *registry,
               const char *directory);

/* A record whose six categories come from default.lco: the prefix (joined
** to "default.lco" with no separator) is tried first, then the search path.
** 0, or -1: *record is &loc_nomem, &loc_filer (no file) or the record with
** its error word set (bad file). */
int gl_createlocale_4(gl_locale **record);
int gl_createlocale2_4(gl_locale **record, const char *prefix);

/* Makes category (1 all, 2-7 one) of target share source's data. 0, or -1
** with 18 (not loaded in source) or 19 (already loaded in target) stored in
** target, nothing changed. REQUIRES: source outlives target's use of the
** category (freeing or reloading target never frees what it shares). */
int gl_copy_cat(gl_locale *target, gl_locale *source, int category);

/* Frees a record whose categories were copied from another: its byte
** maps, glconv copies and parsed era records, then the record. NULL and the
** static records are left alone. Its own (not shared) categories are freed
** too, so no record leaks whatever it holds. */
void gl_free_nonshared_loc(gl_locale *record);

/* Makes a category (2-7) null and empties its names. */
void gl_make_null_category(gl_locale *record, int category);
/* Frees what a category (2-7) owns (only drops a shared one) and empties
** its names. The fields are left dangling: make it null after. */
void gl_free_category(gl_locale *record, int category);

/* ---- Queries ------------------------------------------------------------------ */

/* Item numbers of gl_nl_langinfo. */
enum {
  GL_D_T_FMT = 0,
  GL_DAY_1 = 1, /* 1-7 Sunday..Saturday */
  GL_ABDAY_1 = 8, /* 8-14 */
  GL_MON_1 = 15, /* 15-34 */
  GL_ABMON_1 = 35, /* 35-54 */
  GL_RADIXCHAR = 55,
  GL_THOUSEP = 56,
  GL_YESSTR = 57,
  GL_NOSTR = 58,
  GL_CRNCYSTR = 59,
  GL_CODESET = 60,
  GL_D_FMT = 61,
  GL_T_FMT = 62,
  GL_T_FMT_AMPM = 63,
  GL_AM_STR = 64,
  GL_PM_STR = 65,
  GL_ERA = 66,
  GL_ERA_D_FMT = 67,
  GL_ERA_D_T_FMT = 68,
  GL_ERA_T_FMT = 69,
  GL_ALT_DIGITS = 70,
  GL_YESEXPR = 71,
  GL_NOEXPR = 72,
  GL_CALENDAR = 73
};

/* The item's text, owned by the record; NULL for a NULL record, an item
** above 73 (error word untouched), a month index past the list's count
** (error 9) or a field the locale does not fill. */
char *gl_nl_langinfo(gl_locale *record, int item);
gl_wchar *gl_wc_nl_langinfo(gl_locale *record, int item);
/* The record's conventions, owned by the record. */
glconv *gl_localeconv(gl_locale *record);
/* "glslib-3.12.UC1", "3", "11", "9". */
const char *gl_version(void);
const char *gl_cm_version(void);
const char *gl_lc_version(void);
const char *gl_cv_version(void);
/* Longest / shortest character of the code set in bytes (0 and 4 when no
** CTYPE is loaded). */
int gl_mb_loc_max(gl_locale *record);
int gl_mb_loc_min(gl_locale *record);

#ifdef __cplusplus
}
#endif

#endif
