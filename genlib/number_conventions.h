/*
** number_conventions.h: internal access of the number-text modules to the
** numeric conventions and locale of the current locale environment, and
** the locale library's error number they report through.
*/
#ifndef DVZ_GENLIB_NUMBER_CONVENTIONS_H
#define DVZ_GENLIB_NUMBER_CONVENTIONS_H

#include "os_glsenv.h"
#include "os_lconv.h"

namespace dvz_genlib {

/* Initialises the current locale environment and loads its conventions:
** 0 or the initialisation's negative error. */
int load_conventions();

/* The current environment's conventions, loading them when the
** environment has not (no locale initialisation). */
const gls_lconv &conventions();

/* Stores error in the current locale's error word (nothing without one). */
void set_locale_error(int error);

}  // namespace dvz_genlib

#endif
