/*
** bufsplit: splits one line of the action file into its TAB-separated
** fields in place. Called by the action-file reader; calls nothing.
**
** The separators are fixed (TAB between fields, newline ends the line);
** the System V call that changes them is not needed by any caller.
*/
#include "svr4.h"

extern "C" {

/*
** Splits the line in buf into at most n fields (see svr4.h).
** REQUIRES: buf is NUL-terminated; fields has room for n pointers.
** Returns the number of fields filled; 0 only when buf or fields is NULL
** or n is 0. An empty line ("" or "\n") is one empty field.
*/
size_t bufsplit(char *buf, size_t n, char **fields) {
  if (buf == nullptr || fields == nullptr || n == 0) return 0;
  size_t count = 0;
  fields[count++] = buf;
  char *p = buf;
  for (; *p != '\0' && *p != '\n'; ++p) {
    if (*p != '\t') continue;
    *p = '\0';
    /* The n-th field ends at its TAB like the others; the rest is ignored. */
    if (count == n) return count;
    fields[count++] = p + 1;
  }
  *p = '\0'; /* a newline ends the line */
  for (size_t i = count; i < n; ++i)
    fields[i] = p;
  return count;
}
}
