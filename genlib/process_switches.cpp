/*
** process_switches.cpp: the environment switches that the value library
** reads once per process and keeps as flags of the general control block:
** DVZ_USE_PREC_16 (fewer digits for floating-point conversions) and
** USE_DTENV (DATETIME text through the locale environment's formats).
** Each is on only when its value is exactly "1". Tests see one setting per
** process.
*/
#include <cstring>

#include "gen_dectext.h"
#include "os_env.h"
#include "os_gentcb.h"

namespace {

/* The switch's on flag, reading name the first time. 0 without a block. */
int read_switch(const char *name, int read_flag, int on_flag) {
  gen_tcb *tcb = CheckGenInit();
  if (tcb == nullptr) return 0;
  if ((tcb->flags & read_flag) == 0) {
    const char *value = ggetenv(name);
    tcb->flags |= read_flag;
    if (value != nullptr && std::strcmp(value, "1") == 0) tcb->flags |= on_flag;
  }
  return (tcb->flags & on_flag) != 0 ? 1 : 0;
}

}  // namespace

extern "C" {

int get_useprec16(void) {
  return read_switch("DVZ_USE_PREC_16", gen_flag_prec16_read, gen_flag_prec16_on);
}

int get_usedtenv(void) { return read_switch("USE_DTENV", gen_flag_dtenv_read, gen_flag_dtenv_on); }

}  // extern "C"
