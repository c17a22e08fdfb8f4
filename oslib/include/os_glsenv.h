/*
** os_glsenv.h: the client's locale environments. A `gls_env` names the
** current locale record and its `new_gls_env` state block (client and
** database locales, code-set converters, date formats, name caches, the
** category names it was loaded from and copies of the fifteen locale
** variables); the state block points at its numeric and monetary
** conventions block. The save-area record describes the locale variables
** of a connect.
**
** The records are shared with the value library and the runtime, which
** read them by field name. The entry points declared at the end are the
** locale-environment services the rest of the client environment calls.
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_GLSENV_H
#define DVZ_OSLIB_OS_GLSENV_H

#include <stdint.h>

#include "gl_conv.h"
#include "gl_host.h"
#include "os_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The fifteen locale variables, in the order of the state block's copies,
** the save area's values and the default bits (bit 1 << index). */
enum gls_var_index {
  gls_var_client_locale = 0,
  gls_var_db_locale = 1,
  gls_var_dbnls = 2,
  gls_var_dblang = 3,
  gls_var_lang = 4,
  gls_var_lc_ctype = 5,
  gls_var_lc_collate = 6,
  gls_var_lc_numeric = 7,
  gls_var_lc_monetary = 8,
  gls_var_lc_time = 9,
  gls_var_dbtime = 10,
  gls_var_dbmoney = 11,
  gls_var_dbdate = 12,
  gls_var_gl_date = 13,
  gls_var_gl_datetime = 14,
  gls_var_count = 15
};

/* Locale categories of the state block's category names and sources. */
enum gls_category_index {
  gls_cat_ctype = 0,
  gls_cat_collate = 1,
  gls_cat_numeric = 2,
  gls_cat_monetary = 3,
  gls_cat_time = 4,
  gls_cat_messages = 5,
  gls_cat_count = 6
};

/* Size of a category name: 36 characters and a NUL. */
#define GLS_CATNAME_SIZE 37

/* The default client locale: the name it is loaded by (also every LC_
** variable's default in NLS mode) and the name recorded as the
** CLIENT_LOCALE copy when none was set. */
#define GLS_DEFAULT_LOCALE "en_US.819"
#define GLS_DEFAULT_CLIENT_LOCALE "en_US.8859-1"

/* Numeric and monetary conventions of one environment. A one-character
** text holds up to 4 bytes and a NUL; the length after it is its bytes. */
typedef struct gls_lconv {
  char decimal_point[8]; /* in force (DBMONEY may change it) */
  int32_t decimal_point_len;
  int32_t decimal_point_width;
  char thousands_sep[8];
  int32_t thousands_sep_len;
  char grouping[4];
  char int_curr_symbol[65];
  char currency_symbol[65]; /* in force */
  char mon_decimal_point[6];
  int32_t mon_decimal_point_len;
  int32_t mon_decimal_point_width;
  char mon_thousands_sep[8];
  int32_t mon_thousands_sep_len;
  char mon_grouping[4];
  char positive_sign[8];
  int32_t positive_sign_len;
  char negative_sign[8];
  int32_t negative_sign_len;
  signed char int_frac_digits;
  signed char frac_digits;
  signed char p_cs_precedes;
  signed char p_sep_by_space;
  signed char n_cs_precedes;
  signed char n_sep_by_space;
  signed char p_sign_posn;
  signed char n_sign_posn;
  char locale_decimal_point[8]; /* the locale's own, whatever DBMONEY says */
  int32_t locale_decimal_point_len;
} gls_lconv;

/* One block of a name cache: {count, next, count pointers, the strings},
** one allocation; the newest block first. The count string pointers
** follow the header (gls_name_block_strings). */
typedef struct gls_name_block {
  int32_t count;
  struct gls_name_block *next;
} gls_name_block;

/* The string pointers of a name-cache block. */
static inline char **gls_name_block_strings(gls_name_block *block) { return (char **)(block + 1); }

/* The state block of one locale environment. */
typedef struct new_gls_env {
  int16_t mode; /* 1 client, 2 server */
  gl_locale *client_locale;
  gl_locale *saved_locale; /* restore helpers only */
  gl_locale *db_locale; /* the client locale when no conversion is needed */
  gl_cv_desc *cv_client_db;
  gl_cv_desc *cv_db_client;
  gl_cv_desc *cv_client_os;
  gl_cv_desc *cv_os_client;
  gl_cv_desc *saved_cv[2]; /* restore helpers only */
  int16_t initialised; /* bit set of the modes initialised */
  int32_t in_progress;
  char *date_format;
  int32_t date_format_present;
  int32_t field_order[3]; /* 1 day, 2 month, 3 year */
  int32_t era_kind;
  int32_t dbdate_style;
  gls_name_block *abmon_cache;
  gls_name_block *mon_cache;
  gls_name_block *era2_cache;
  gls_name_block *era_cache;
  int32_t gregorian;
  int32_t dbnls_mode;
  uint16_t flags; /* server-side initialisation only */
  char category_names[gls_cat_count][GLS_CATNAME_SIZE];
  int32_t category_sources[gls_cat_count]; /* 1 library file, 0 os form */
  char back_currency[65];
  char front_currency[65];
  char lconv_loaded; /* 0 no, 1 with DBMONEY, 2 from the locale alone */
  gls_lconv *lconv;
  int32_t default_bits;
  char *vars[gls_var_count]; /* heap copies of the locale variables */
} new_gls_env;

/* One locale environment. */
typedef struct gls_env {
  gl_locale *locale; /* passed first to every locale-library call */
  new_gls_env *state;
  char *dtime_formats[11][11]; /* DATETIME formats by start and end unit */
} gls_env;

/* The locale variables of a connect. `vars` point at the values as the
** look-up returned them: not copies, not freed with the record. */
typedef struct glsenv_save {
  int32_t in_use;
  const char *vars[gls_var_count];
} glsenv_save;

/* Longest locale specification a locale is loaded from, in bytes. */
#define GLS_SPEC_MAX 285
/* A loadable specification built from one: six entries of a category key,
** " = ", "os/" or nothing, a 36-character value and " ; ", and a NUL. */
#define GLS_FSPEC_SIZE (6 * (11 + 3 + 3 + 36 + 3) + 1)

/* The current environment (NULL until first use), written by CheckGlsEnv
** and SetGlsEnv only. */
extern gls_env *gls_env_global;
/* Environments counted: the static one once first used, and every one a
** connect created. */
extern int glsenv_count;
/* GLS8BITFSYS: 1 when set to "1", 0 when "0"; nothing reads it. */
extern int _8bitfsys;
/* Non-zero once the value library's MATCHES and LIKE normaliser is built
** for the current locale: the value library sets it; every successful
** initialisation of an environment, and every switch to an environment
** of another locale, resets it to 0 so that the normaliser is rebuilt. */
extern int8_t _gnorminit;

/* The static environment (mode 1, conventions g_lconv_default). */
gls_env *gls_static_env(void);

/* ---- Current environment ---------------------------------------------------- */

/* The current environment; the static one becomes current when none is,
** and is counted when nothing is counted yet. */
gls_env *CheckGlsEnv(void);
/* Makes env current; with exactly one environment counted and env the
** static one, only fills an empty current pointer. */
void SetGlsEnv(gls_env *env);
/* The current environment (the static one when none, nothing counted). */
gls_env *dvz_get_glsenv_thread(void);
/* The current environment's locale, or NULL. */
gl_locale *dvz_get_gl_locale_thread(void);
/* Thread clean-up hooks: do nothing. */
void AllDestructor(void *unused);
void FreeAllTcbs(void);

/* ---- Initialisation ---------------------------------------------------------- */

/* Initialises the current environment unless an initialised bit is set or
** an initialisation is in progress (then 0): 0 or a negative error. */
int chkglsinit(void);
/* Installs the host callbacks and initialises the current environment in
** mode (1 client; 2 server is refused): 0, or a negative error, never 0
** after a failure (-23110 when nothing more specific is known). */
int initgls(int mode);
/* chkglsinit; 0 or -1 (a locale's error word 7 or 11 then becomes 9). */
int dvz_gl_init(void);
/* initgls, then rmoninit on success; initgls's result. */
int thr_initgls(int mode);
/* The client's and the server's initialisation of the current
** environment: 0, or -1 / a negative error with glserror set. */
int init_fe(void);
int init_be(void);
/* Loads the locale of spec into *out with its six category sources (1
** library file, 0 os form) in sources: 0, or -1 with glserror set (the
** locale library's error word, or -23101 for a NULL or too long spec). */
int get_locale(gl_locale **out, const char *spec, int32_t *sources);
/* Loads the current state block's four converters: 0, -23102 (memory) or
** -23104 (conversion file missing or bad). */
int initcscdesc(const char *db_spec, const char *client_spec, const char *os_spec,
                const char *client_spec2);
/* gl_cv_load(out, target, source, NULL, NULL) and its result; *out is
** NULL unless 1, and on -1 *error is the failed descriptor's error word. */
int get_csc_desc(gl_cv_desc **out, const char *target, const char *source, int *error);
/* glserror mapped to the client's numbers and stored back. */
int getiniterr(void);
/* Reads GLS8BITFSYS into _8bitfsys. */
void set8bitfsys(void);

/* ---- Date formats and name caches --------------------------------------------- */

/* Chooses the date format, then fills the name caches and the DATETIME
** format table: 0 or getglsfmt's error. */
int initdatetime(void);
/* nogetenv_getglsfmt(NULL, NULL, NULL, 0). */
int getglsfmt(void);
/* Size of the buffer nogetenv_getglsfmt may be given. */
#define GLS_DATE_FORMAT_SIZE 128
/* Chooses the current state block's date format from DBDATE, GL_DATE (read
** with ggetenv unless no_env) or the locale: 0, -1211 (no memory, or a
** format longer than the buffer) or dbdate_to_gl_date's error. With buffer
** (GLS_DATE_FORMAT_SIZE bytes) the format is written there and the state
** block's format is left as it was; else the state block owns it. */
int nogetenv_getglsfmt(const char *dbdate, const char *gl_date, char *buffer, int no_env);
/* Translates DBDATE into a locale-library date format (into buffer, which
** must hold 19 bytes, when given, else a new allocation), its era kind and
** its three field numbers (1 day, 2 month, 3 year): 0, -1212 (invalid),
** -1218 (NULL output) or -1211 (no memory). */
int dbdate_to_gl_date(const char *dbdate, char **format, int32_t *era_kind, int32_t *field_order,
                      char *buffer);
/* Rebuilds the month-name caches (abbreviated and full) and the era-name
** caches of the current environment, lower-cased: 0 or -1. */
int cache_month_strings(void);
int cache_era_strings(void);
/* Puts a block of copies of count strings in front of *head: 0 or -1. */
int cache_locale_string(gls_name_block **head, char **strings, int count);
/* Frees every block of *head and clears it. */
void free_locale_string(gls_name_block **head);
/* Lower-cases s in place by the current locale: the result of the
** conversion back to multibyte, or -1. */
int tolower_string(char *s);
/* Replaces *s by a lower-cased copy (room for 4 bytes per byte): 0 or -1;
** the caller frees the old and the new text. */
int downcase_gls_string(char **s);
/* Frees count strings of list and list. */
void free_strings(char **list, int count);
/* Clears the current environment's DATETIME format table. */
void init_dtimequals(void);
/* Fills the table from qualtofmt when USE_DTENV is in effect; returns x. */
int cache_dtimequals(int x);

/* ---- Specifications ------------------------------------------------------------ */

/* The loadable form of spec into out (GLS_FSPEC_SIZE bytes) with the six
** category sources. *second non-zero on entry: a second attempt (no library
** file names); set to 1 whenever an os form is used. 0, or -1 for a NULL
** or malformed spec. */
int spec2fname(const char *spec, char *out, int32_t *sources, int *second);
/* The value of key in the long spec into value (37 bytes): 0, or -1 when
** the key is absent. */
int extrspec(const char *spec, const char *key, char *value);
/* "os/" and spec into out. */
void prependos(const char *spec, char *out);
/* Appends key, " = ", value and " ; " to out. */
void mk1loccat(char *out, const char *key, const char *value);
/* A copy of spec cut to 36 characters into the six category names. */
void lcspec2longsp(const char *spec, char names[gls_cat_count][GLS_CATNAME_SIZE]);
/* The normalised spec of a library locale file, else spec cut to 36
** characters, into out (GLS_CATNAME_SIZE bytes): 0. */
int togensp(const char *spec, char *out);
/* A locale name built from a locale file name's pieces, or the part after its
** first "/" when it has none, into out (GLS_CATNAME_SIZE bytes): 0 or -1. */
int chglcfile2sp(const char *fname, char *out);
/* A locale file name's language and territory, code-set number (decimal
** text) and modifier (gl_lc_fname2lc_pieces sizes): 0 or -1. */
int spec2pieces(const char *fname, char *lang_terr, char *codeset, char *modifier);
/* The category names of state from LC_COLLATE, LC_CTYPE, LC_NUMERIC,
** LC_MONETARY and LC_TIME (MESSAGES from CTYPE), read in mode (1
** getsesenv, 0 ggetenv): 0, or -23109 when one is missing. */
int get_nlslocsp(new_gls_env *state, int mode);
/* One category name from variable: an unset one in mode 1 adds to
** *missing and marks name "0"; else *copy holds a copy of the value (-2
** when it cannot be made) and name the value cut to 36 characters. 0. */
int get_nlscat(const char *variable, char *name, int mode, int *missing, char **copy);
/* The locale name of a code-set alias ("ascii", "sjis" ...), or NULL. */
const char *getalsloc(const char *name);
/* A long specification into out (GLS_FSPEC_SIZE bytes): every category
** from client, COLLATE from db when db is given. 0, or -1 without client. */
int mklocspec(const char *client, const char *db, char *out);
/* Fills every category name of state marked "0" with spec. */
void filongspec(new_gls_env *state, const char *spec);
/* Makes the saved locale and converters of the current environment
** current again (restoreploc), rebuilds its category names from the
** locale's query string (restorelocsp), or both (restorelang): 0 or -1. */
int restoreploc(void);
int restorelocsp(void);
int restorelang(void);

/* The connect's save area; its first word 0 means "build a fresh one". */
extern glsenv_save *glsenv_savearea;

#ifdef __cplusplus
}
#endif

#endif
