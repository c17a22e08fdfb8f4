/*
** sqli_reply.h: the reply side of a request as the rest of the runtime
** calls it: the reply loop and its dispatcher, the readers of the common
** replies, the end-of-transmission checks, the protocol-error and
** server-exit paths, the database-list readers, the column descriptions a
** describe reply leaves on a record, and the row-length table and buffer
** of variable-length rows.
**
** Every reader consumes exactly its reply, or reports a protocol error
** (-1) after which nothing more of the stream is read: the caller then
** takes the protocol-error path, which drops the connection.
*/
#ifndef DVZ_SQLI_REPLY_H
#define DVZ_SQLI_REPLY_H

#include <stdint.h>

#include "sqli_context.h"

/* Reply codes the client reads. */
enum sqli_reply_code {
  SQR_DESCRIBE = 8,
  SQR_CLOSED = 10, /* the server closed the cursor */
  SQR_EOT = 12,
  SQR_ERR = 13,
  SQR_TUPLE = 14,
  SQR_DONE = 15,
  SQR_PERR = 18, /* error with a row count */
  SQR_TUPID = 25, /* row position */
  SQR_DBLIST = 26,
  SQR_BLOB = 39,
  SQR_VERSION = 53,
  SQR_COST = 55,
  SQR_EXIT = 56, /* server exit; also the client's "enough" */
  SQR_DBLIST_MORE = 57,
  SQR_INFO = 81,
  SQR_TXINQ = 84,
  SQR_REASSOC = 86,
  SQR_INSERTDONE = 94,
  SQR_FILE = 98,
  SQR_XACTSTAT = 99,
  SQR_FPROUTINE = 101,
  SQR_FPRESULT = 103,
  SQR_FPARAM = 104,
  SQR_OWNER = 109
};

/* Cursor flags set by the readers. */
enum : uint32_t {
  sqli_cur_statement_path = 0x200, /* set by the statement path: types 4, 6, 7, 33 not kept */
  sqli_cur_fetch_bufsize = 0x80000, /* buffer of BYTE/TEXT rows may take FET_BUF_SIZE */
  sqli_cur_server_closed = 0x200000
};

/* Column flags of a dbfd. */
enum : int16_t {
  dbfd_nullable = 1,
  dbfd_distinct = 2,
  dbfd_bit2000 = 4,
  dbfd_bit4000 = 8,
  dbfd_distinct_builtin = 16,
  dbfd_udt_bit1000 = 32,
  dbfd_bit1000 = 64
};

/* One column of a described statement; a record's coldesc is an array of
** ncols of them. Owned texts are freed by freedbfd. */
typedef struct dbfd {
  uint16_t name_offset; /* into the record's column-name pool */
  int16_t type; /* SQL type code after the describe type rules */
  int32_t start; /* of the column in the row */
  int32_t xid; /* extended type id; 0 without capability 0x4 */
  int16_t type_name_len;
  int16_t owner_name_len;
  char *type_name; /* owned, or null */
  char *owner_name; /* owned, or null */
  int16_t words[2]; /* kept from the reply */
  int32_t source; /* built-in type of a distinct type, else the reply's */
  int32_t length; /* qualifier for DATETIME and INTERVAL */
  int32_t distinct_length;
  int16_t flags; /* dbfd_* */
} dbfd;

/* Row-length table of variable-length rows: three header words, then the
** lengths (capacity of them, and one spare). */
enum { rowlen_index = 0, rowlen_total = 1, rowlen_capacity = 2, rowlen_first = 3 };

/* A database list being read into a caller's arrays. */
typedef struct sqli_dblist {
  int32_t count; /* names entered */
  int32_t max; /* entries names holds */
  char **names;
  char *area; /* where the texts go */
  int32_t room; /* bytes left at area */
} sqli_dblist;

struct gl_cv_desc;
/* The database-to-client converter for text from the server, or null when
** none is needed or a DBAPICODE map is active. */
struct gl_cv_desc *sqli_db_client_converter(void);

/* Reads the two-byte code of the next reply and clears the request-in-
** progress flag: the one place where a reply begins. 0xFFFF (-1) after a
** receive failure. */
int sqli_reply_code(sqli_tcb *tcb);

/* Ends the current request and reads its replies into sqlca and cursor
** (a zeroed record when the request concerns none). With defer 1 and
** OPTMSG on, nothing is sent. Returns 0, or -1 with the status recorded. */
int _sqr_messages(sqli_cursor *cursor, int defer, sqli_tcb *tcb);
/* Handles one reply whose code was read: 0 to go on, -1 when the stream
** ended (protocol error or server exit). */
int process_msgs(sqli_cursor *cursor, int code, sqli_tcb *tcb);
/* Ends the request and reads errors and the end code. 0 or -1. */
int _sqr_eot(sqli_tcb *tcb);
/* Checks code where the end is due: errors first, then 12. 0 or -1. */
int _chkeot(int code, sqli_tcb *tcb);
/* Reads insert done, error/done/error-with-count, an optional cost, and
** the end. 0 or -1. */
int _sqr_ndone(sqli_tcb *tcb);
/* The protocol-error path for code: a server exit (56) is answered with
** 56 and recorded as -25582; any other code records -408 unless an error
** is already recorded. Then the current connection is aborted keeping
** sqlca, and the request-in-progress flag cleared. */
void _sqproterr(sqli_tcb *tcb, int code);

/* The readers. Each returns 0, or -1 on a protocol error (nothing more
** of the stream may be read). cursor may be null where said. */
int _sqg_err(sqli_tcb *tcb);
int _sqg_perr(sqli_tcb *tcb);
int _sqg_done(sqli_cursor *cursor, sqli_tcb *tcb); /* cursor may be null */
int _sqg_desc(sqli_cursor *cursor, sqli_tcb *tcb);
int _sqg_tuple(sqli_cursor *cursor, sqli_tcb *tcb);
int _sqg_tid(sqli_cursor *cursor, sqli_tcb *tcb);
int _sqg_cost(sqli_tcb *tcb);
int _sqg_insertdone(sqli_tcb *tcb);
int _sqg_txstate(sqli_tcb *tcb);
int _sqg_sqclose(sqli_cursor *cursor, sqli_tcb *tcb);

/* Records the warnings of flags into sqlca and the diagnostics area;
** flag 0x10 only when ANSI warnings are on (DBANSIWARN, or _sqansion). */
void _sqwarnset(int flags, sqli_tcb *tcb);
/* The same for a caller without the context at hand. */
void _sqwarnsetbe(int flags);
/* Turns ANSI warnings on. */
void _sqansion(void);
/* Puts the first sqlca of the request back and clears the saved flag. */
void restore_sqlca(sqlca_s *ca, sqli_tcb *tcb);
/* Makes or grows the cursor's row-length table. 0, or -406 recorded. */
int alloc_coll_tuple_info(sqli_cursor *cursor, sqli_tcb *tcb);
/* Makes room for a variable-length row of wanted bytes after the rows
** the table holds. 0, or -1 with -406 recorded (buffer dropped). */
int allocate_var_tuple_buffer(sqli_cursor *cursor, int wanted, sqli_tcb *tcb);
/* Converts the record's column names (pool of pool_len bytes) to the
** client code set and rewrites the offsets. 0, or -1 (error recorded). */
int _sqg_gls_cvt(sqli_cursor *cursor, int pool_len, sqli_tcb *tcb);
/* Makes n zeroed column descriptions on the record (old ones freed).
** 0, or -1 when memory is short (nothing recorded). */
int dbfdrealloc(sqli_cursor *cursor, int n);
/* Frees the record's column descriptions and their texts. */
void freedbfd(sqli_cursor *cursor);

/* Ends the database-list request and reads its reply into list, each name
** followed by suffix. 0, or -1 with the status recorded. */
int _sqr_dblist(sqli_dblist *list, const char *suffix, sqli_tcb *tcb);
/* Reads the names of a list reply whose code was read. 0 or -1. */
int _sqg_dblist(sqli_dblist *list, const char *suffix, sqli_tcb *tcb);
/* Reads the body of reply 86 into the context's reassociation record
** and marks it pending. 0, or -1 (a length past the reply, or -406). */
int _sqg_reassoc(sqli_tcb *tcb);

/* ---- Replies and record services of later requests ------------------------------------ */

/* Server-driven file access (file_access.cpp, sqli_blob.h): handles one
** reply 98 whose code was read and answers it. 0, or -1 when the request
** cannot be read in step. */
int _sqg_file_to_file(sqli_tcb *tcb);
/* Fast-path replies (fast_path.cpp, include/sqli_fastpath.h), read for a
** record that carries a fast-path block (any other: -1): 101 the routine
** handle, 104 the function-parameter block, 103 the return values into the
** record's output list. Each returns 0 or -1. */
int _sqg_getroutine(sqli_cursor *cursor, sqli_tcb *tcb);
int _sqg_fproutine(sqli_cursor *cursor, sqli_tcb *tcb);
int _sqg_fparam(sqli_cursor *cursor, sqli_tcb *tcb);
/* Reads one value of reply 103 into host (null: read and dropped). 0, or
** -1 on a protocol error; delivery errors are recorded. */
struct sqlvar_struct;
int _sqr_val(struct sqlvar_struct *host, sqli_tcb *tcb);
/* The record on the current connection's list whose marked-row store
** (marked_rows, marked_state, marked_capacity, marked_next) serves
** handle; null when there is none. */
sqli_cursor *_iqlocate_drw_store(void *handle, sqli_tcb *tcb);
/* Copies a statement's description into the cursor declared on it. */
void _sqstealinfo(sqli_cursor *stmt, sqli_cursor *cursor);

#endif
