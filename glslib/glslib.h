/* glslib.h: the locale library's public interface, C linkage.
 *
 * Include this one header; it gathers the host-service table, error
 * numbers, diagnostics, data-file search and token readers (gl_host.h),
 * multi-level byte tables (gl_multi.h), the code-set registry and
 * locale specifications (gl_registry.h), locale records, loading and
 * queries (gl_locale.h), characters (gl_chars.h) and calendars and
 * name-lookup trees (gl_calendar.h).
 */
#ifndef DVZ_GLSLIB_GLSLIB_H
#define DVZ_GLSLIB_GLSLIB_H

#include "gl_host.h"
#include "gl_multi.h"
#include "gl_registry.h"
#include "gl_locale.h"
#include "gl_chars.h"
#include "gl_calendar.h"

#endif
