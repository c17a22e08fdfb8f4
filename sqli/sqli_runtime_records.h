/*
** sqli_runtime_records.h: the runtime's connection record (`sqli_conn`)
** and cursor record (`sqli_cursor`), in the order of their fields as the
** runtime's operations use them. In-memory records in host order; they
** never leave the process. Both are zeroed at creation.
*/
#ifndef DVZ_SQLI_RUNTIME_RECORDS_H
#define DVZ_SQLI_RUNTIME_RECORDS_H

#include <stdint.h>

#include "gen_collection.h"
#include "sqli_pipe_vbles.h"

#ifdef __cplusplus
extern "C" {
#endif

struct gls_env;

/* User kinds of a connection. */
enum { sqli_user_none = 0, sqli_user_password = 1, sqli_user_credential = 16 };

/* A connection to a database server, carried by one association. */
typedef struct sqli_conn {
  char *dbenv; /* owned: the CONNECT target, or null */
  char *name; /* owned: connection name; defaults to dbenv */
  int16_t user_kind; /* sqli_user_* */
  char *user; /* owned: user name (kind 1) */
  char *password; /* owned: password (kind 1) */
  void *credential; /* the caller's credential (kind 16), not copied */
  int32_t concurrent; /* WITH CONCURRENT TRANSACTION */
  int32_t capabilities; /* agreed by the handshake; 0 until then */
  int32_t server_version; /* from the connect response */
  char server_version_text[9]; /* settled by the handshake */
  int32_t dbopen; /* made with a database; transaction indicator of old servers */
  int16_t dbflags[6]; /* sqlwarn1, 2, 3, 4, 6, 7 were 'W' after connecting */
  int16_t optofc; /* OPTOFC was "1" at CONNECT */
  int16_t optmsg; /* OPTMSG was "1" at CONNECT: small requests deferred */
  struct sqli_cursor *cursors; /* most recently used first */
  int16_t saved_request; /* request-in-progress flag while not current */
  int32_t reparse; /* statements run once are released after the run */
  int16_t inuse_check; /* disable_dormant at creation */
  pipe_vbles *io; /* owned message I/O record */
  int32_t connect_word; /* handed to the association services at connect */
  char *server_name; /* owned */
  char *host_name; /* owned */
  char server_type; /* 's' or 'o' */
  int32_t callback_interval; /* -1, or milliseconds */
  void (*callback)(int); /* break callback, or null */
  int32_t callback_params; /* the callback takes callback_arg too */
  void *callback_arg;
  char *delimident; /* DELIMIDENT at CONNECT, or null */
  struct sqli_conn *next; /* next of the named list */
  int32_t inuse; /* in-use mark */
  int16_t xact_event[3]; /* last transaction event; [0] -1 when none */
  struct gls_env *glsenv; /* the connection's locale environment */
  int32_t varchar_pad; /* VARCHAR values are sent padded */
} sqli_conn;

/* The state of a collection cursor: the program's collection host
** variable (never owned), the collection cursor opened on it, the element
** fetched last (the address of its data in the collection) and the
** open-state word (1 while the collection cursor is open). */
typedef struct sqli_coll_state {
  dvz_coll_t *coll;
  dvz_coll_cursor_t cursor;
  char *element;
  int32_t open;
} sqli_coll_state;

/* A cursor or prepared statement on a connection's list. A caller's
** handle is the address of `link`; `kind` lies just before it. */
typedef struct sqli_cursor {
  int32_t kind; /* 0 cursor, 1 prepared statement */
  void *link; /* handle of the linked statement or cursor, or null */
  int16_t stmt_type; /* 0 fresh, -1 set up, then the server's type */
  int16_t stmt_id; /* -1 none, 0 preparation deferred */
  int16_t ncols; /* columns of the row description */
  int16_t nin; /* entries of the input list */
  int16_t nout; /* entries of the output list */
  int16_t nrtypes; /* entries of the return-type list */
  int16_t nbuffered; /* rows buffered, or room left in an insert buffer */
  int16_t rowsize; /* bytes of one fixed-length row; 0 when rows vary */
  int32_t bufsize; /* bytes of the fetch or insert buffer */
  uint32_t flags; /* sqli_cur_* */
  int32_t first_row; /* scroll: position of the first buffered row */
  int32_t last_row; /* position of the last buffered row */
  struct sqlvar_struct *inlist; /* input host variables given at DECLARE */
  struct sqlvar_struct *outlist; /* output host variables given at DECLARE */
  struct sqlvar_struct *rtypes; /* return-type list */
  void *coldesc; /* column descriptions of the describe reply */
  char **stmt_text; /* private cmdtxt copy: null-ended heap fragments */
  char *colname_pool; /* column names of the describe reply */
  char *buffer; /* fetch or insert buffer */
  char *bufpos; /* next row to deliver, or next free byte */
  char *name; /* owned name, up to 128 characters */
  char *conv_colname_pool; /* the pool after the DBAPICODE map */
  uint32_t coll_word;
  uint32_t coll_mark; /* declared through the collection-variable path */
  int32_t done_count; /* completion replies of variable-length inserts */
  sqli_coll_state coll_state; /* collection cursors: see sqli_coll_state */
  int32_t *rowlen_table; /* {index, total, capacity, lengths...} */
  void *literal_values; /* collection cursors: copied literals */
  void *owned_block; /* freed with the description */
  void *coll_arg;
  int16_t nvarlen_cols; /* variable-length columns */
  int16_t deferred_open; /* 0 none, 1 deferred, 2 opening by FETCH, 3 opened */
  char *saved_descname; /* input descriptor name for a deferred OPEN */
  void *saved_sqlda; /* deep copy of the input sqlda for a deferred OPEN */
  void *fastpath; /* fast-path routine */
  void *compat_block; /* wrapper of the older cursor form */
  unsigned char *marked_rows; /* one bit per buffered row */
  int16_t marked_state; /* 1 when marks are present */
  int32_t marked_capacity; /* rows the bitmap covers */
  int32_t marked_next; /* next row to deliver */
  char *xid_copy; /* 140-byte copy of the transaction id, or null */
  struct sqli_cursor *next; /* next record of the list */
} sqli_cursor;

/* Cursor flags (values fixed). */
enum {
  sqli_cur_declared = 0x1,
  sqli_cur_open = 0x2,
  sqli_cur_done = 0x4,
  sqli_cur_prepared = 0x8,
  sqli_cur_name_known = 0x10,
  sqli_cur_scroll = 0x20,
  sqli_cur_borrowed_id = 0x40,
  sqli_cur_scroll_failed = 0x80,
  sqli_cur_has_cursor = 0x100,
  sqli_cur_autofree_on = 0x400,
  sqli_cur_autofree_off = 0x800,
  sqli_cur_hold = 0x1000,
  sqli_cur_rtypes_sent = 0x2000,
  sqli_cur_single_row = 0x4000,
  sqli_cur_rtypes_opt8 = 0x8000,
  sqli_cur_closed = 0x10000,
  sqli_cur_by_prepare = 0x20000,
  sqli_cur_autofree_asked = 0x40000
};

#ifdef __cplusplus
}
#endif

#endif
