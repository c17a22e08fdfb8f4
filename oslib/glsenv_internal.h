/*
** Helpers shared by the client locale initialisation's modules (glsenv.cpp,
** glsenv_specs.cpp, glsenv_dates.cpp): the state block's variable copies
** and the current environment's state.
*/
#ifndef DVZ_OSLIB_GLSENV_INTERNAL_H
#define DVZ_OSLIB_GLSENV_INTERNAL_H

#include <cstdlib>
#include <cstring>

#include "os_glsenv.h"

namespace oslib_glsenv {

/* Replaces *slot by a heap copy of value, unless *slot already is that
** very pointer; false when the copy cannot be made (*slot unchanged). */
inline bool replace_copy(char **slot, const char *value) {
  if (*slot == value) return true;
  char *copy = strdup(value);
  if (copy == nullptr) return false;
  std::free(*slot);
  *slot = copy;
  return true;
}

/* The state block of the current environment. */
inline new_gls_env *current_state() { return CheckGlsEnv()->state; }

}  // namespace oslib_glsenv

#endif
