/*
** Internal links between the environment modules (os_env.h): the table
** look-up and release of env_table.cpp, used by the rc-file reader, the
** NLS defaults and gFreeEVars; the NLS defaults of env_rcfile.cpp, used
** by greadenv.
*/
#ifndef DVZ_OSLIB_ENV_INTERNAL_H
#define DVZ_OSLIB_ENV_INTERNAL_H

#include <cstring>

#include "os_env.h"

namespace dvz_env {

/* A DBNLS value that switches NLS mode on: exactly "1" or "2". */
inline bool nls_mode_value(const char *value) {
  return value != nullptr && (strcmp(value, "1") == 0 || strcmp(value, "2") == 0);
}

/* The row of name (search_evar: its cursor reset): the second table
** first, then the variable table; NULL when neither has it. */
evar_t *find_row(const char *name);

/* The table's current value of name (NULL when unknown or none), whatever
** the process environment says. */
const char *table_value(const char *name);

/* In NLS mode: gives LC_COLLATE, LC_CTYPE, LC_MONETARY, LC_NUMERIC and
** LC_TIME their defaults (gnlsenv) with the language of the process or
** the rc files (flags), stopping at the first error; 0 or that error. */
int load_nls_defaults(int flags);

/* Frees the variable table with every value and the converted copies of
** process values; Dvz_EVars becomes NULL. */
void release_table();

}  // namespace dvz_env

#endif
