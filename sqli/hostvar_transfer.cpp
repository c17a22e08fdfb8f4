/*
** hostvar_transfer.cpp: value transfer between host variables of
** different types (`_sqvar2var`), through a typed value of the value
** library: the source builds it (rcvarval), the target takes it
** (rvalcvar), converting as the two host types require. Used by GET
** DIAGNOSTICS, GET DESCRIPTOR and the fetch paths.
*/
#include "gen_errors.h"
#include "gen_hostvar.h"
#include "gen_value.h"
#include "os_gentcb.h"
#include "sqli_context.h"
#include "sqli_errors.h"
#include "sqli_hostvar.h"

namespace {

/* Host types that carry no SQL value: -1 and the types from 200 up. */
constexpr int no_value_types = 200;

bool transferable(int type) { return type != -1 && type < no_value_types; }

int recorded(int code) {
  _iqseterr(code);
  return code;
}

}  // namespace

/*
** Converts the value at src (host type srctype, srclen bytes or the
** precision word) into dst (host type dsttype, dstlen bytes, the precision
** word or a qualifier). Returns 0, or the error recorded: -486 for a type
** without a value, the conversion error of either side otherwise. dst is
** left as the conversion left it.
*/
int _sqvar2var(const char *src, int srctype, int srclen, char *dst, int dsttype, int dstlen) {
  if (!transferable(srctype) || !transferable(dsttype)) return recorded(SQLI_E_HOSTTYPE);
  value_t value {};
  set_toerrno(0);
  if (rcvarval(const_cast<char *>(src), srctype, &value, srclen, nullptr) != 0) {
    const int error = get_toerrno();
    return recorded(error != 0 ? error : value_err_no_conversion);
  }
  const int error = rvalcvar(&value, dst, dsttype, dstlen, nullptr);
  return error != 0 ? recorded(error) : 0;
}
