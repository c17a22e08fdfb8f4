/*
** glslib.h: the locale library's public interface, C linkage.
**
** Include this one header; it gathers the error numbers (gl_errors.h), the
** host-service table, diagnostics and data-file search (gl_host.h),
** multi-level byte tables (gl_multi.h), the code-set registry and locale
** specifications (gl_registry.h), locale records, loading and queries
** (gl_locale.h) and characters (gl_chars.h).
*/
#ifndef DVZ_GLSLIB_GLSLIB_H
#define DVZ_GLSLIB_GLSLIB_H

#include "gl_chars.h"
#include "gl_errors.h"
#include "gl_host.h"
#include "gl_locale.h"
#include "gl_multi.h"
#include "gl_registry.h"

#endif
