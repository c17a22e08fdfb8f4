/*
** Our layer for the System V interfaces that Linux lacks, as thin as the
** monitor needs: field splitting, regcmp/regex patterns, the log time
** text, fork1 and the System V signal calls.
**
** The signal calls carry an svr4_ prefix because glibc declares deprecated
** functions of the same names with other semantics.
*/
#ifndef DVZ_PLATFORM_SVR4_H
#define DVZ_PLATFORM_SVR4_H

#include <cstddef>
#include <ctime>

#include <sys/types.h>

extern "C" {

/* Splits the line in buf at TABs (replaced by NUL in place); the first
** newline ends the line. Fills at most n slots of fields, the last one
** ending at the next TAB like the others; unused slots point at the
** terminating NUL. Returns the number of fields. */
size_t bufsplit(char *buf, size_t n, char **fields);

/* Compiles a pattern in System V regcmp syntax. Returns a compiled object
** to free with regcmp_free, or NULL on a syntax error. */
char *regcmp(const char *pattern);

/* Non-NULL when the compiled pattern is found anywhere in subject
** (leftmost match). Captures and match positions are not reported. */
char *regex(const char *compiled, const char *subject);

void regcmp_free(char *compiled);

/* Formats *clock as local time with a strftime format in the C locale,
** whatever setlocale has done. Returns the length written (0 on error). */
size_t cftime(char *buf, size_t size, const char *format, const time_t *clock);

/* fork that copies only the calling thread (every Linux fork does). */
pid_t fork1(void);

/* System V signal calls over sigaction. */
typedef void (*svr4_handler)(int);
int svr4_sigignore(int sig);
svr4_handler svr4_sigset(int sig, svr4_handler handler);
svr4_handler svr4_signal(int sig, svr4_handler handler);

}

#endif
