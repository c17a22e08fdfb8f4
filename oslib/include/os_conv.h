/*
** os_conv.h: code-set conversion services of the client environment:
** conversion of texts between the client's, the database's and the
** operating system's code sets through the converters of the current
** locale environment, and file-system calls with converted names. A NULL
** converter means no conversion is needed: the text is copied. Errors go
** to the glserror word of the general control block.
**
** C linkage throughout.
*/
#ifndef DVZ_OSLIB_OS_CONV_H
#define DVZ_OSLIB_OS_CONV_H

#include "gl_conv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Converts src (len bytes, or a NUL-terminated string with its NUL when len
** is NULL) into a new buffer in *out, which the caller frees. Returns the
** bytes written, 0 when copied without a converter, -1 on error. */
int gcv_malloc(gl_cv_desc *cv, const char *src, int *len, char **out);

/* access(2) and chdir(2) of a name converted to the OS code set. */
int gcvaccess(const char *name, int mode);
int gcvchdir(const char *name);

/* 1 when a byte of the string is above 127, else 0. */
int is8bitstr(const char *s);

#ifdef __cplusplus
}
#endif

#endif
