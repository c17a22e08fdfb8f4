/*
** sqli_cursors.h: the runtime's internal cursor-record services: the
** per-connection list (most recently used first), the handle helper,
** private statement-text copies, name and placeholder checks, and the
** operations that close, release, drop or free records for the other
** parts of the runtime (statements, transactions, connections, replies).
*/
#ifndef DVZ_SQLI_CURSORS_H
#define DVZ_SQLI_CURSORS_H

#include <stddef.h>
#include <stdint.h>

#include "sqli_context.h"
#include "sqli_cursor.h"
#include "sqli_descriptors.h"
#include "sqli_reply.h"

/* More cursor flags (values fixed). */
enum : uint32_t {
  sqli_cur_prep_deferred = 0x80000,
  sqli_cur_reoptimize = 0x100000,
  /* sqli_cur_server_closed (0x200000) is set by the readers: sqli_reply.h */
  sqli_cur_xa_copy = 0x400000,
  sqli_cur_xa_reprepared = 0x800000,
  sqli_cur_xa_must_reprepare = 0x2000000,
  sqli_cur_desc_mask = 0xE010, /* cleared with the description */
  sqli_cur_close_mask = 0xE000 /* cleared by CLOSE */
};

/* The record of a caller's handle (the address of its link field), or
** null for a null handle. */
inline sqli_cursor *sqli_handle_cursor(void *handle) {
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<sqli_cursor *>(static_cast<char *>(handle) - offsetof(sqli_cursor, link));
}
/* The caller's handle of a record (null for null). */
inline void *sqli_cursor_handle(sqli_cursor *cursor) {
  return cursor == nullptr ? nullptr : static_cast<void *>(&cursor->link);
}

/* The common start of a cursor call: the context with sqlca cleared and no
** rows counted, or null (*early then holds the result to return). */
sqli_tcb *sqli_cursor_call_begin(int32_t *early);
/* The common end of a public call: the sqlca code, with SQLCODE and
** SQLSTATE brought up to date when it is 0. */
int32_t sqli_cursor_call_finish(sqli_tcb *tcb);
/* Records code (_iqseterr), then ends the call as sqli_cursor_call_finish. */
int32_t sqli_cursor_call_fail(int code, sqli_tcb *tcb);

/* Whether cursor is still on the current connection's list: a reply read
** that fails hard drops the connection, and its records with it. */
bool sqli_cursor_alive(const sqli_cursor *cursor, sqli_tcb *tcb);

/* Address of the current connection's list head, or null without one. */
sqli_cursor **_sqgetchlist(sqli_tcb *tcb);

/* Private statement texts: a null-ended array of heap fragments. */
/* Copies src into the record of handle (old copy freed): 0, or -1 when
** memory runs out (the copy is then null). */
int _sqcopycmdtxt(const char *const *src, void *handle, int unused);
/* 0 when a and b are equal fragment by fragment; non-zero otherwise or
** when either is null. */
int _sqcmpcmdtxt(const char *const *a, const char *const *b);
/* Frees a copy (null allowed). */
void _sqfrcmdtxt(char **copy);

/* Placeholders outside quotes and comments: in one text (null: 0), and
** summed over the fragments of a statement text. */
int gstrqmarks(const char *text);
int _sqcmdqmarks(const char *const *cmdtxt);
/* Checks a cursor or statement name; out (at least 129 bytes) receives the
** normalised copy. delimident: DELIMIDENT's value, null when unset.
** 0 valid, -1 invalid. */
int _gchkname(const char *name, const char *delimident, char *out);
/* The ANSI reserved words, ascending, ended by a null; ansikwsize counts
** them once a_kwcheck has run. */
extern const char *const ansikw[];
extern int16_t ansikwsize;
/* 0 when word is a reserved word, -1 otherwise. */
int a_kwcheck(const char *word);

/* Closes the open records at a transaction's end (35 commit, 36
** rollback), except those WITH HOLD. Returns the sqlca code, -1 when a
** flush fails. */
int _sqxclose(int stmt_type, sqli_tcb *tcb);
/* Closes every open cursor (kind 0) of the current connection. */
void _sqclose_cursors(sqli_tcb *tcb);
/* Frees every record of the current connection's list. */
void _sqfree_cursors(sqli_conn *conn);
/* Closes the cursor; with release also releases its statement. Returns
** the sqlca code. */
int relcursor(sqli_cursor *cursor, int release, sqli_tcb *tcb);
/* Drops the record's description, buffers and return types; the
** statement id becomes -1. */
void _sqfrcmem(sqli_cursor *cursor);
/* Releases the record's statement at the server and drops its text and
** description. */
void _sqrelease_cursor(sqli_cursor *cursor, sqli_tcb *tcb);
/* Unlinks the record from the current list and frees it. */
void _sqremove_cursor(sqli_cursor *cursor, sqli_tcb *tcb);
/* Completes AUTOFREE: removes the record and its linked statement. */
void _sqautofree(sqli_cursor *cursor, sqli_tcb *tcb);
/* Frees a record's return-type list. */
void sqli_free_rtypes(sqli_cursor *cursor);

/* Deep copy of an input descriptor for a deferred OPEN: the copy, or null
** (-406 recorded). free_idesc frees one (null allowed). */
sqlda *save_idesc(const sqlda *src);
void free_idesc(sqlda *copy);
/* Bytes of a host value of type and length. */
int afrtypmsize(int type, int len);

/* 0 when the stored XA id copy equals the current id (sqli_xid,
** sqli_context.h), non-zero otherwise. */
int xa_cmp_xids(const sqli_xid *stored, const sqli_xid *current);

/* The version-7 cursor block of a record (its release unregisters it), and
** the runtime-allocated sqlvar lists of a record (arrays carrying
** sqlvar_array_runtime; other lists are the caller's and stay). */
void sqli_free_compat_block(sqli_cursor *cursor);
void sqli_release_varlist(sqlvar_struct *entries, int count);

/* PREPARE of text for the record of handle (dynamic_sql.cpp): sent with
** its describe; on failure the record is removed. Returns the sqlca code. */
int _iqprepare(void *handle, const char *text, sqli_tcb *tcb);

/* ---- Insert cursors (insert_cursors.cpp) ------------------------------------------------ */

/* Sends the pending rows of an insert cursor and empties its buffer (the
** caller reads the replies). Returns the sqlca code. */
int _sqcurflush(void *handle, sqli_tcb *tcb);
/* PUT of one row from input (null or empty: the declared input list).
** Returns the sqlca code. */
int _sqinsput(void *handle, sqlda *input, struct value_t *values, sqli_tcb *tcb);
/* Converts one row into the buffer of the cursor of handle and sends the
** buffered rows when the buffer is full or the row carries BYTE or TEXT
** values; rt: return types are in effect. Errors in sqlca. */
void _sqbufftup(void *handle, int count, sqlvar_struct *vars, struct value_t *values, int rt,
                sqli_tcb *tcb);
/* Room for the next variable-length row of count values: the buffered rows
** are sent first when it would not fit. 0, or -1 with the code recorded. */
int size_tuple_buffer(void *handle, int count, sqlvar_struct *vars, sqli_tcb *tcb);
/* Characters to reserve for a CHAR, VARCHAR, NCHAR or NVARCHAR value of
** host v (the worst case after code-set conversion). */
int getcharlen(const sqlvar_struct *v, int sqltype);
/* When v is NULL: its length is saved in *saved_len and *saved_qual and
** replaced by accepted_len, and 0 is returned; otherwise -1. */
int checknull(int32_t *saved_len, int32_t *saved_qual, int32_t accepted_len, int type,
              sqlvar_struct *v);
/* The stored form of host v in a field of coltype and collen at pos, which
** has room bytes (a field that needs more is -415, nothing written). 0, or
** -1 after the failure was reported (_sqcvterror). */
int _sqcvardata(void *handle, sqlvar_struct *v, char *pos, int coltype, int collen, sqli_tcb *tcb,
                int source, int xid, const char *xname, int room);
/* value in the stored form of coltype and collen at pos (room bytes, as
** _sqcvardata). 0, or the conversion error. */
int rvaltuple(struct value_t *value, char *pos, int coltype, int collen, int source, int xid,
              const char *xname, int hostlen, sqli_tcb *tcb, int room);
/* The length of text (len bytes) cut to room into *lenout: a whole number
** of characters. 0, or -1279 (not recorded: the caller reports it) when it
** is too long in an ANSI-mode database. */
int truncchar(const char *text, int len, int room, int *lenout, sqli_tcb *tcb);
/* Sends the rows buffered before a failing one, then records code with
** sqlerrd[2] their number (a failed send's error stands instead). Returns
** that number. */
int _sqcvterror(void *handle, int code, sqli_tcb *tcb);

/* ---- Collection cursors (collection_cursors.cpp) -------------------------------------- */

/* Cursors on collection and row host variables, run in the client: DECLARE
** on text and on a prepared statement, OPEN, FLUSH, CLOSE, FREE, and the
** release of a record's collection state (its collection cursor closed,
** its literal-value copies freed). Each returns 0 or the error recorded. */
int dvz_cl_cdcl(sqli_cursor *cursor, const char *name, const char *const *cmdtxt,
                sqli_varlist *input, sqli_varlist *output, void *literals, void *fields,
                int32_t stmt_type, int32_t coll_word, sqli_tcb *tcb);
int dvz_cl_ddcl(sqli_cursor *cursor, const char *name, sqli_cursor *stmt, sqli_tcb *tcb);
int dvz_cl_open(sqli_cursor *cursor, sqlda *input, const char *descname, sqli_tcb *tcb);
int dvz_cl_flush(sqli_cursor *cursor, sqli_tcb *tcb);
int dvz_cl_close(sqli_cursor *cursor, sqli_tcb *tcb);
int dvz_cl_free(sqli_cursor *cursor, sqli_tcb *tcb);
void free_cl_cursor(sqli_cursor *cursor);
/* PUT on a collection cursor: the element is built from the values (the
** list given, the named descriptor, else the declared list) and inserted
** at once. Returns the sqlca code. */
int dvz_cl_put(sqli_cursor *cursor, sqlda *input, const char *descname, sqli_tcb *tcb);
/* FETCH of a collection cursor. Returns the sqlca code. */
int dvz_cl_fetch(sqli_cursor *cursor, sqli_varlist *position, sqlda *output, const char *descname,
                 sqli_fetchspec *spec, sqli_tcb *tcb);
/* The BYTE and TEXT values of the rows of an array fetch (row r at
** rows_at[r]) into the n hosts (null: the declared output list), through
** message 92; the hosts' pointers are not moved. 0, or -1 with the code
** recorded (blob_array_fetch.cpp). */
int fetch_array_blobs(sqli_cursor *cursor, int n, sqlvar_struct *hosts, const char *const *rows_at,
                      int rows, int ind_required, sqli_tcb *tcb);

#endif
