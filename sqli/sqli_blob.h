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

/* ---- BYTE and TEXT values on the wire (blob_values.cpp) ---------------------------- */

struct sqlda;
struct sqlvar_struct;
struct value_t;
struct sqli_cursor;

/* Sends the announced values of the bind list just written (desc's
** entries, or values when desc has none): message 41 with the context's
** count, then the chunks of each non-NULL locator or file variable. The
** first failing value ends the walk. Returns 0 or its negative error. */
int _sqs_blobs(const struct sqlda *desc, const struct value_t *values, sqli_tcb *tcb);
/* The same for the count entries of one buffered row of an insert cursor,
** without message 41 (the row announced them). unused is not read. */
int _sqs_tupblob(int count, struct sqlvar_struct *vars, int unused, sqli_tcb *tcb);
/* One value as message 39 chunks ended by a chunk of length 0, from a
** locator or from the file named by name (length len, 0: terminated;
** sent unconverted). On failure the value is abandoned with message 40.
** Return 0, or -453/-454/the open's error (locator), -461/-462/-463. */
int _sqs_b(loc_t *loc, sqli_tcb *tcb);
int _sqs_fb(const char *name, int len, int host_type, sqli_tcb *tcb);

/* Receive one BYTE or TEXT value of a fetched row (the 56-byte stored
** descriptor at desc, stored_len bytes long) into a locator or into the
** named file: asks for it with [4 id][38 desc][12] and reads its chunks and
** the end of the reply. *ind gets -1 for NULL, 1 when a memory locator was
** too small (result 0). Return 0, or -1 with the error in sqlca. */
int _sqg_blob(const char *desc, int sql_type, int stored_len, loc_t *loc, int16_t *ind,
              sqli_tcb *tcb, struct sqli_cursor *cursor);
int _sqg_fblob(const char *desc, int stored_len, const char *name, int namelen, int16_t *ind,
               int sql_type, sqli_tcb *tcb, struct sqli_cursor *cursor);

/* ---- Array fetch of BYTE and TEXT values (blob_array_fetch.cpp) -------------------- */

/* Prepares the locators of the n hosts for rows rows starting at first
** (rows of the cursor's row size) and counts the non-NULL values. */
int has_blobs(struct sqli_cursor *cursor, int n, struct sqlvar_struct *hosts, const char *first,
              int rows, sqli_tcb *tcb);
/* Asks for the non-NULL values of one row (messages 38). Errors only in
** sqlca. */
void snd_blob_spec(struct sqli_cursor *cursor, int n, struct sqlvar_struct *hosts, const char *row,
                   sqli_tcb *tcb);
/* Message 38 with the descriptor unless it is NULL. 0, or -1 (protocol
** error) when stored_len is not 56. */
int send_ar_bl_spec(const char *desc, int stored_len, sqli_tcb *tcb);
/* Receives the values of row index into the hosts (their data pointers
** advanced to that row). Returns the count of non-NULL values received,
** or -1 after an error (outstanding values skipped). */
int ret_arr_blobs(struct sqli_cursor *cursor, int n, struct sqlvar_struct *hosts, const char *row,
                  int ind_required, int index, int *outstanding, sqli_tcb *tcb);
/* One value of an array fetch into loc (already prepared). *isnull gets 1
** for a NULL value. 0, or -1 (error in sqlca; *outstanding unchanged). */
int get_ar_blobs(const char *desc, int sql_type, int stored_len, loc_t *loc, int16_t *ind,
                 int16_t *isnull, sqli_tcb *tcb);
/* Reads the end of the reply: 10s, then 12, or 13 then 12. 0 or -1. */
int get_eot(sqli_tcb *tcb, struct sqli_cursor *cursor);

/* Shared by the single-value and array receiving paths: the value being
** received (a locator, or fd when loc is null) and how its read ended. */
typedef struct blob_target {
  loc_t *loc;
  int fd;
  int sql_type;
  int left; /* bytes of an incomplete character held for the next piece */
  int write_failed; /* a write failed: the rest of the value was skipped */
  int write_error; /* the locator's error of that write */
  int server_error; /* 13 and 12 were read in place of the chunks */
  int32_t code_before; /* sqlcode before the value, kept over a cut value */
} blob_target;
/* Reads the chunks of one value into t up to its chunk of length 0.
** Returns 0, or -1: after a protocol error (target closed, connection
** dropped), a server error (13 and its 12 read, target closed), or a
** failed write (target closed, the rest of the value skipped). array:
** codes other than 39 and 13 are never handed to the reply loop. */
int sqli_blob_read_chunks(blob_target *t, sqli_tcb *tcb, struct sqli_cursor *cursor, bool array);
/* Sets a locator from a stored descriptor for receiving (indicator, flag
** 0x20, status, type, size 0); *size gets the value's size. 1 for NULL. */
int sqli_blob_prepare_locator(const char *desc, int sql_type, loc_t *loc, int64_t *size);
/* Opens loc for writing a value of size bytes: a size below 0 or past an
** int32 gives -451. 0 or -1 (recorded). */
int sqli_blob_open_locator(loc_t *loc, int64_t size);

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
