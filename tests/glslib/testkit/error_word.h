/*
** A stand-in for a locale record where a function only stores its error:
** every record of the library begins with its error word, so the address
** of one int serves as the record. Header-only, so that the fuzz targets
** (built apart, with no test framework) use it too.
*/
#ifndef DVZ_TESTS_GLSLIB_ERROR_WORD_H
#define DVZ_TESTS_GLSLIB_ERROR_WORD_H

#include "glslib.h"

namespace glstest {

struct ErrorWord {
  int err = 0;
  gl_locale *record() { return reinterpret_cast<gl_locale *>(&err); }
  /* The error stored so far, cleared for the next call. */
  int take() {
    const int e = err;
    err = 0;
    return e;
  }
};

}  // namespace glstest

#endif
