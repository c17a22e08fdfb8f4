/*
** os_errors.h: the error numbers of the client environment. This header
** owns every number the environment raises, and those the value library
** raises too (memory, characters, dates, the locale): every module of
** both names them from here and no file spells them again. C linkage
** callers see plain int constants.
*/
#ifndef DVZ_OSLIB_OS_ERRORS_H
#define DVZ_OSLIB_OS_ERRORS_H

enum os_error {
  /* General. */
  os_err_bad_char = -202, /* a byte sequence that is no character */
  os_err_no_memory = -406, /* a control block, a list node, a scratch text */
  OS_ERR_MOUNT_TABLE = -916, /* the mount table cannot be read */
  OS_ERR_CWD = -922, /* the current directory cannot be found */
  os_err_case_char = -941, /* case conversion met no character */

  /* Dates and memory of the locale environment and the value library. */
  gls_err_date_memory = -1211, /* a date format, a compiled pattern, a wide text */
  gls_err_bad_dbdate = -1212, /* a date format without month, day and year */
  gls_err_date_argument = -1218, /* a missing argument, a text that is no date */

  /* NLS categories that the platform refuses (DBNLSset and friends). */
  nls_err_collate = -7204,
  nls_err_ctype = -7206,
  nls_err_monetary = -7207,
  nls_err_numeric = -7208,
  nls_err_time = -7209,

  /* The catalog reader. */
  msg_err_no_file = -1227, /* catalog cannot be opened, or none readable */
  msg_err_no_number = -1228, /* number not in the catalog */
  msg_err_bad_magic = -1229, /* not a catalog */
  msg_err_no_name = -1230, /* no catalog path can be formed */
  msg_err_index_read = -1231, /* index cannot be read */
  msg_err_text_cut = -1232, /* text cut to the buffer, or no buffer */

  /* The locale initialisation and the code-set conversion services
  ** (glserror and results). */
  gls_err_bad_locale = -23101, /* specification or locale files bad */
  gls_err_no_memory = -23102,
  gcv_err_invalid_char = -23103,
  gls_err_cv_file = -23104, /* conversion file missing or bad */
  gls_err_no_locale = -23108, /* the locale library raised no error number */
  gls_err_nls_missing = -23109, /* an LC_* variable missing in NLS mode */
  gls_err_init = -23110, /* initialisation failed, nothing more specific */
  gls_err_bad_mode = -23111,
  gcv_err_bad_argument = -23112,
  gcv_err_conversion = -23113,
  gls_err_codesets = -23115, /* the categories' code sets differ */
  gls_err_not_ascii = -34394 /* no "A" "B" at their ASCII places */
};

#endif
