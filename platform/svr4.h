/*
** Our layer for the System V interfaces that Linux lacks, as thin as the
** monitor needs: field splitting, regcmp/regex patterns, the log time
** text, fork1, the System V signal calls and the blocking of signals
** around changes of what their handlers read.
**
** The signal calls carry an svr4_ prefix because glibc declares deprecated
** functions of the same names with other semantics.
*/
#ifndef DVZ_PLATFORM_SVR4_H
#define DVZ_PLATFORM_SVR4_H

#include <csignal>
#include <cstddef>
#include <ctime>
#include <initializer_list>

#include <sys/types.h>

extern "C" {

/* Splits the line in buf at TABs (replaced by NUL in place); the first
** newline ends the line (and becomes its NUL). Fills at most n slots of
** fields, the n-th ending at its TAB like the others and the rest of the
** line ignored; unused slots point at the terminating NUL. "" and "\n" give
** one empty field. Returns the number of fields (0 when buf or fields is
** NULL or n is 0). */
size_t bufsplit(char *buf, size_t n, char **fields);

/* Compiles a pattern in System V regcmp syntax (literal bytes, \c, \n, .,
** [...], * + {m} {m,} {m,u}, ( ) and ( )$n; ^ and $ anchor only as the
** first and last byte; | and ? are literal; see svr4_regex.cpp). Returns a
** compiled object to free with regcmp_free, or NULL on a syntax error. */
char *regcmp(const char *pattern);

/* Non-NULL (subject itself) when the compiled pattern is found anywhere in
** subject, NULL when not. Captures and match positions are not reported.
** Linear in the length of subject; the compiled object is not modified. */
char *regex(const char *compiled, const char *subject);

/* Frees an object from regcmp; NULL is ignored. */
void regcmp_free(char *compiled);

/* Formats *clock as local time (TZ as tzset reads it) with a strftime
** format in the C locale, whatever setlocale has done: "%b %d %T" gives
** "Dec 08 18:40:01". Returns the length written; 0 with buf "" on error
** or when the text does not fit in size bytes. */
size_t cftime(char *buf, size_t size, const char *format, const time_t *clock);

/* fork that copies only the calling thread (every Linux fork does). */
pid_t fork1(void);

/* System V signal calls over sigaction. */
typedef void (*svr4_handler)(int);
int svr4_sigignore(int sig);
svr4_handler svr4_sigset(int sig, svr4_handler handler);
svr4_handler svr4_signal(int sig, svr4_handler handler);
}

namespace svr4 {

/* Blocks the listed signals in the calling thread for the life of the
** object and then restores the mask it found: what a handler reads is
** changed only while that handler cannot run. */
class SignalBlock {
 public:
  explicit SignalBlock(std::initializer_list<int> signals);
  ~SignalBlock();
  SignalBlock(const SignalBlock &) = delete;
  SignalBlock &operator=(const SignalBlock &) = delete;

 private:
  sigset_t saved_;
};

}  // namespace svr4

#endif
