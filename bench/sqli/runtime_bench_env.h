/*
** runtime_bench_env.h: the process environment of a benchmark that runs
** the runtime against the SQLI server double: the build's locale tree, no
** log, none of the client environment's variables from the caller's
** shell, temporary files in /tmp. Called first in main, before the
** runtime reads any of them.
*/
#ifndef DVZ_BENCH_SQLI_RUNTIME_BENCH_ENV_H
#define DVZ_BENCH_SQLI_RUNTIME_BENCH_ENV_H

#include <cstdlib>

#include "os_env.h"

inline void isolate_runtime_environment(const char *dovarizadir) {
  setenv("DOVARIZADIR", dovarizadir, 1);
  setenv("GLSLOG", "off", 1);
  for (int i = 0; i < Num_SVarList; ++i)
    unsetenv(Dvz_SVarList[i]);
  setenv("DBTEMP", "/tmp", 1);
}

#endif
