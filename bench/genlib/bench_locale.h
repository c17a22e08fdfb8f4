/*
** bench_locale.h: the common start of the value library's benchmarks.
** The process reads the build's locale data, none of the variables that
** would change a value's text is set, the locale library does not log,
** and the client locale with its conventions is initialised before the
** timed loops, which therefore find nothing left undone.
*/
#ifndef DVZ_BENCH_GENLIB_BENCH_LOCALE_H
#define DVZ_BENCH_GENLIB_BENCH_LOCALE_H

#include <cstdlib>

#include "os_glsenv.h"
#include "os_lconv.h"

/* false when the client locale does not initialise. */
inline bool bench_client_locale(const char *dovarizadir) {
  setenv("DOVARIZADIR", dovarizadir, 1);
  for (const char *name : {"CLIENT_LOCALE", "DB_LOCALE", "DBLANG", "LANG", "DBNLS", "DBMONEY",
                           "DBDATE", "GL_DATE", "DBTIME", "GL_DATETIME", "DBCENTURY", "DBTODAY",
                           "DVZ_USE_PREC_16", "USE_DTENV", "DVZ_NOZEROMDY"})
    unsetenv(name);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  if (chkglsinit() != 0) return false;
  rmoninit(0);
  return true;
}

#endif
