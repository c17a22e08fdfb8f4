/*
** The database's NLS settings (os_env.h): the LC_CTYPE, LC_COLLATE and
** DBNLS values in force for the database side, kept in Dvz_DBVars. Setting
** LC_COLLATE or LC_CTYPE also loads the collation or the character classes
** through the OS context (os_context.h).
*/
#include <cstdio>
#include <cstring>

#include "os_context.h"
#include "os_env.h"

extern "C" {

dbvars_t Dvz_DBVars = {};

}  // extern "C"

namespace {

/* Copies value ("" for NULL) into a field, cut to fit. */
template <size_t n>
void store(char (&field)[n], const char *value) {
  snprintf(field, n, "%s", value != nullptr ? value : "");
}

/* The stored field of a setting, NULL for other names. */
char *field_of(const char *name) {
  if (name == nullptr) return nullptr;
  if (strcmp(name, "LC_COLLATE") == 0) return Dvz_DBVars.lc_collate;
  if (strcmp(name, "LC_CTYPE") == 0) return Dvz_DBVars.lc_ctype;
  if (strcmp(name, "DBNLS") == 0) return Dvz_DBVars.dbnls;
  return nullptr;
}

/* Loads the collation for value; 0 or its error. */
int load_collation(const char *value) {
  int error = 0;
  int rc = _osetcollate(value != nullptr ? value : "", &error);
  return rc != 0 ? rc : error;
}

}  // namespace

extern "C" {

int OS_setlang(const char *name, const char *value) {
  if (name == nullptr) return 0;
  if (strcmp(name, "LC_COLLATE") == 0) {
    int rc = load_collation(value);
    if (rc == 0) store(Dvz_DBVars.lc_collate, value);
    return rc;
  }
  if (strcmp(name, "LC_CTYPE") == 0) {
    store(Dvz_DBVars.lc_ctype, value);
    return rldnlsctype(Dvz_DBVars.lc_ctype);
  }
  if (strcmp(name, "DBNLS") == 0) store(Dvz_DBVars.dbnls, value);
  return 0;
}

int OS_resetlang(int reload) {
  const char *dbnls = ggetenv("DBNLS");
  store(Dvz_DBVars.dbnls, dbnls != nullptr ? dbnls : "0");

  char previous[sizeof Dvz_DBVars.lc_ctype];
  memcpy(previous, Dvz_DBVars.lc_ctype, sizeof previous);
  store(Dvz_DBVars.lc_ctype, ggetenv("LC_CTYPE"));
  if (reload != 0 && strcmp(previous, Dvz_DBVars.lc_ctype) != 0) {
    if (int rc = rldnlsctype(Dvz_DBVars.lc_ctype); rc != 0) return rc;
  }

  memcpy(previous, Dvz_DBVars.lc_collate, sizeof previous);
  store(Dvz_DBVars.lc_collate, ggetenv("LC_COLLATE"));
  if (reload != 0 && strcmp(previous, Dvz_DBVars.lc_collate) != 0)
    return load_collation(Dvz_DBVars.lc_collate);
  return 0;
}

char *OS_getlangvar(const char *name) { return field_of(name); }

int OS_IsDbEnvSet(void) { return Dvz_DBVars.lc_ctype[0] != '\0' ? 1 : 0; }

}  // extern "C"
