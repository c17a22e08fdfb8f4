/*
** os_lconv.h: the numeric and monetary conventions of the current locale
** environment (decimal point, thousands separator, grouping, signs,
** currency symbols, MONEY fraction digits), loaded once per environment
** from the locale and then overridden by DBMONEY. The value library reads
** them after calling rmoninit.
**
** The conventions block is the current environment's state->lconv; the
** front and back currency symbols and the loaded flag live in its state
** block (os_glsenv.h). Nothing here reports an error: invalid texts are
** replaced by defaults. C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_LCONV_H
#define DVZ_OSLIB_OS_LCONV_H

#include "gl_locale.h"
#include "os_glsenv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The conventions block of the static environment. */
extern gls_lconv g_lconv_default;

/* Loads the current environment's conventions unless its loaded flag is
** set: from the locale, then DBMONEY when set and not empty. The argument
** is not used. */
void rmoninit(int unused);
/* Fills the current block from the current locale's conventions. */
void getdbmoney(void);
/* Copies conventions into the current block, one character per one-
** character text; nothing for NULL. */
void init_local_lconv(const glconv *conventions);
/* The fraction digits of MONEY text: the block's, at most 32; loads the
** conventions first when needed. */
int genlcscale(void);
/* Fills the current block with built-in defaults ("." points, "3"
** groupings, "+" and "-" signs, conventions bytes 0 but the currency
** symbol preceding positive values, 1). */
void init_dflt_lconv(void);

#ifdef __cplusplus
}
#endif

#endif
