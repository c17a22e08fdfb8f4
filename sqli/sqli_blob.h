/*
** sqli_blob.h: the runtime's side of BYTE and TEXT values and of the
** client files a server asks for in the middle of a reply.
**
** - The context's two blob buffers (chunk and conversion) and the chunked
**   code-set conversion of TEXT values (locator_io.cpp).
** - Locator I/O: open, close, read and write of a `loc_t` of any kind
**   (locator_io.cpp). Failures are recorded in sqlca and in the
**   locator's `status`; the calls return -1.
** - Server-driven file access (file_access.cpp): reply 98 answered with
**   the client's own short request; the one open file lives in the
**   process context and is closed with the connection that opened it.
*/
#ifndef DVZ_SQLI_BLOB_H
#define DVZ_SQLI_BLOB_H

#include <stdint.h>

#include "locator.h"
#include "sqli_context.h"

struct gl_cv_desc;

/* Sizes of the context's blob buffers: a chunk header and 1024 data
** bytes; the converted chunk with its header. */
enum {
  sqli_blob_chunk_data = 1024,
  sqli_blob_chunk_size = 1028,
  sqli_blob_conv_size = 4101,
  sqli_blob_header = 4,
  sqli_blob_leftover_max = 4 /* bytes of an incomplete last character */
};

/* Allocates the context's chunk and conversion buffers on first need
** (kept for the life of the process); the chunk buffer starts with code 39.
** Returns 0, or -406 (recorded) when either cannot be had. */
int blob_buffer(sqli_tcb *tcb);

/* Converts inlen bytes of in with cv into out, which has room for the
** conversion buffer's data (sqli_blob_conv_size - sqli_blob_header
** bytes); *outlen gets the bytes written. The
** bytes of an incomplete last character (at most 4) are copied to
** leftover and counted in *nleftover. Returns 0, or -1 when a character
** cannot be converted, the output does not fit, or more than 4 bytes
** stay unconverted. */
int gcv_blob_buffer(struct gl_cv_desc *cv, const char *in, int inlen, char *out, int *outlen,
                    char *leftover, int *nleftover);

/* Locator I/O. Each returns 0, or -1 with the error in sqlca and in
** loc->status (second error word: the program's function's value, kind 4).
** _sqlocopen: mode 1 to read (send) the value, 2 to write (receive) one of
** size bytes. _sqlocread reads at most count bytes (limited by size when
** size is not -1) and stores the count in *nread. _sqlocwrite writes all
** count bytes or none. */
int _sqlocopen(loc_t *loc, int mode, int size);
int _sqlocclose(loc_t *loc);
int _sqlocread(loc_t *loc, char *buffer, int count, int *nread);
int _sqlocwrite(loc_t *loc, char *buffer, int count);

/* Server-driven file access. _sqg_file_to_file (sqli_reply.h) handles one
** reply 98 whose code was read; this is the same under its second name. */
int pl_sqli_file_to_file(sqli_tcb *tcb);
/* The platform open flags of the server's flag word. */
int conv_to_system(int server_flags);
/* The size of the open file in *size, its position kept. Returns 0, or
** -1 (*size -1) when no file is open or the size cannot be found. */
int get_filesize(sqli_tcb *tcb, int64_t *size);
/* Closes the server-driven file when conn opened it: called as a
** connection record is freed. */
void sqli_file_conn_gone(const sqli_conn *conn);

#endif
