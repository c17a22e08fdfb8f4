/*
** Test-only stand-ins for the locale-environment, conversion and trace
** services that the client environment calls but that are not built yet:
** CheckGlsEnv, chkglsinit, glsenv_savearea, _sqdbgsetup, gcv_malloc,
** gcvaccess, gcvchdir and is8bitstr. Linked only into tests; each result is
** settable and each call counted.
*/
#ifndef DVZ_TESTS_OSLIB_FORWARD_STUBS_H
#define DVZ_TESTS_OSLIB_FORWARD_STUBS_H

#include "gl_conv.h"
#include "gl_host.h"
#include "os_glsenv.h"

namespace oslib_forward {

struct settings {
  /* chkglsinit: the hook's result when a hook is set, else `result`. */
  int chkglsinit_result = 0;
  int (*chkglsinit_hook)(void) = nullptr;
  int chkglsinit_calls = 0;
  int sqdbgsetup_calls = 0;
  /* gcv_malloc with a converter: the hook converts; without a hook the
  ** text is copied as without a converter. */
  int (*convert)(gl_cv_desc *cv, const char *src, int *len, char **out) = nullptr;
  int convert_calls = 0;
};

/* The settings the stubs read; reset() restores the defaults and clears
** the static environment (locale, converters, variable copies). */
settings &stubs();
void reset();

/* The static environment that CheckGlsEnv returns: tests put a locale
** record and converters into it. */
gls_env &environment();

}  // namespace oslib_forward

#endif
