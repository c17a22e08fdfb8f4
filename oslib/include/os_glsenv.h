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
** one allocation; the newest block first. */
typedef struct gls_name_block gls_name_block;

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

/* The current environment, the static one when none is current yet. */
gls_env *CheckGlsEnv(void);
/* Initialises the current environment unless done: 0 or a negative error. */
int chkglsinit(void);
/* The connect's save area; its first word 0 means "build a fresh one". */
extern glsenv_save *glsenv_savearea;

#ifdef __cplusplus
}
#endif

#endif
