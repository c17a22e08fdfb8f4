/*
** locale_lco - writes a LocaleData record (locale_glibc.h) as a locale file
** (.lco) of this library: the header with the code set's registry name and
** provenance lines, then the CTYPE, COLLATE, NUMERIC, MONETARY, TIME and
** MESSAGES sections. Every character-keyed table is built with the
** library's inserter, compressed when that makes it smaller, and written
** with the library's writer. Used by locale_gen.cpp; calls glslib.
*/
#ifndef DVZ_GLSLIB_GEN_LOCALE_LCO_H
#define DVZ_GLSLIB_GEN_LOCALE_LCO_H

#include <cstdio>
#include <string>

#include "locale_glibc.h"

namespace glsgen {

/* Writes the whole file to fp. False with a message in *error. */
bool write_lco(FILE *fp, const LocaleData &data, std::string *error);

}  // namespace glsgen

#endif
