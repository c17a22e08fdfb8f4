/*
** os_trace.h: the SQL protocol trace that SQLIDEBUG switches on.
**
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_TRACE_H
#define DVZ_OSLIB_OS_TRACE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Reads SQLIDEBUG and opens the process's first trace file when it asks
** for one; returns the caller's value. */
int _sqdbgsetup(int status);

#ifdef __cplusplus
}
#endif

#endif
