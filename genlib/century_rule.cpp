/*
** century_rule.cpp: the century rule for two-digit years: DBCENTURY read
** once into dbcentury, and the century of a two-digit year through the
** current locale.
**
** Callers: the fixed-layout DATETIME text (datetime_text.cpp), the
** formatted DATETIME text (datetime_format.cpp) and the DATE text
** (date_text.cpp), which replace the rule for one call by saving and
** restoring dbcentury. Calls: the environment look-up and the locale
** library's century computation.
*/
#include <cstring>

#include "gen_datetime.h"
#include "gen_errors.h"
#include "gl_errors.h"
#include "gl_locale.h"
#include "gl_time.h"
#include "os_env.h"
#include "os_glsenv.h"

char dbcentury = 0;

extern "C" {

/*
** The century rule: DBCENTURY read while the rule is 0; exactly R, P, F
** or C is kept, unset gives R, anything else leaves 0 (read again next
** time). Returns the rule.
*/
int getdbcentury(void) {
  if (dbcentury == 0) {
    const char *value = ggetenv("DBCENTURY");
    if (value == nullptr) {
      dbcentury = 'R';
    } else if (std::strlen(value) == 1 && std::strchr("PFCR", value[0]) != nullptr) {
      dbcentury = value[0];
    }
  }
  return dbcentury;
}

/*
** The century (year / 100) of two-digit year on month and day by the rule
** in force, through the current locale; the locale's failures map to
** -1206 (day), -1205 (month), -1204 (year), any other -1218.
*/
int getcentury(int month, int day, int year) {
  /* A rule still unread (DBCENTURY invalid) counts as R throughout. */
  const int read = getdbcentury();
  const int rule = read == 'P' || read == 'F' || read == 'C' ? read : 'R';
  gls_env *env = CheckGlsEnv();
  gl_locale *locale = env != nullptr ? env->locale : nullptr;
  const int century = gl_getcentury(locale, month, day, year, rule);
  if (century >= 0) return century;
  switch (locale != nullptr ? locale->error : 0) {
    case GL_ETMDAY:
      return date_err_day;
    case GL_ETMONTH:
      return date_err_month;
    case GL_ETYEAR:
      return date_err_year;
    default:
      return gls_err_date_argument;
  }
}

}  // extern "C"
