/*
** glslib.h: the locale library's public interface, C linkage.
**
** Include this one header; it gathers the error numbers (gl_errors.h), the
** host-service table, diagnostics and data-file search (gl_host.h),
** multi-level byte tables (gl_multi.h), the code-set registry and locale
** specifications (gl_registry.h), locale records, loading and queries
** (gl_locale.h), characters (gl_chars.h), collation (gl_collate.h),
** code-set conversion (gl_conv.h), numbers (gl_numbers.h) and money
** (gl_money.h).
*/
#ifndef DVZ_GLSLIB_GLSLIB_H
#define DVZ_GLSLIB_GLSLIB_H

#include "gl_chars.h"
#include "gl_collate.h"
#include "gl_conv.h"
#include "gl_errors.h"
#include "gl_host.h"
#include "gl_locale.h"
#include "gl_money.h"
#include "gl_multi.h"
#include "gl_numbers.h"
#include "gl_registry.h"
#include "gl_strings.h"
#include "gl_time.h"

#endif
