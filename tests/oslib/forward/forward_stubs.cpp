/*
** Test-only stand-ins for the locale-environment, conversion and trace
** services (forward_stubs.h). Weak: a real definition in the library
** takes precedence as soon as it exists.
*/
#include "forward_stubs.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "os_conv.h"
#include "os_trace.h"

namespace oslib_forward {
namespace {

settings current;
gls_lconv static_lconv;
new_gls_env static_state;
gls_env static_env;
glsenv_save static_savearea;

void clear_environment() {
  static_lconv = gls_lconv {};
  static_state = new_gls_env {};
  static_state.mode = 1;
  static_state.lconv = &static_lconv;
  static_env = gls_env {};
  static_env.state = &static_state;
  static_savearea = glsenv_save {};
}

struct initialiser {
  initialiser() { clear_environment(); }
} init_once;

}  // namespace

settings &stubs() { return current; }

void reset() {
  current = settings {};
  clear_environment();
}

gls_env &environment() { return static_env; }

}  // namespace oslib_forward

using oslib_forward::current;

extern "C" {

__attribute__((weak)) glsenv_save *glsenv_savearea = &oslib_forward::static_savearea;

__attribute__((weak)) gls_env *CheckGlsEnv(void) { return &oslib_forward::static_env; }

__attribute__((weak)) int chkglsinit(void) {
  ++current.chkglsinit_calls;
  return current.chkglsinit_hook != nullptr ? current.chkglsinit_hook() : current.chkglsinit_result;
}

__attribute__((weak)) int _sqdbgsetup(int status) {
  ++current.sqdbgsetup_calls;
  return status;
}

__attribute__((weak)) int gcv_malloc(gl_cv_desc *cv, const char *src, int *len, char **out) {
  if (src == nullptr || out == nullptr) return -1;
  if (cv != nullptr && current.convert != nullptr) {
    ++current.convert_calls;
    return current.convert(cv, src, len, out);
  }
  size_t n = len != nullptr ? static_cast<size_t>(*len) : strlen(src) + 1;
  *out = static_cast<char *>(malloc(n + 4));
  if (*out == nullptr) return -1;
  memcpy(*out, src, n);
  return 0;
}

__attribute__((weak)) int gcvaccess(const char *name, int mode) { return access(name, mode); }

__attribute__((weak)) int gcvchdir(const char *name) { return chdir(name); }

__attribute__((weak)) int is8bitstr(const char *s) {
  for (; *s != '\0'; ++s)
    if (static_cast<unsigned char>(*s) > 127) return 1;
  return 0;
}

}  // extern "C"
