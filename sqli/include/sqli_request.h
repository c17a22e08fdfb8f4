/*
** sqli_request.h: the SQLI request codes of the client and the encoders
** of the request messages. A request is a run of messages written into the
** current connection's send buffer; _sqflip ends it with code 12 and sends
** it, after which the reply loop reads the answers. The encoders only
** write: the caller chooses the messages and their order, and clears
** sqlca and makes sure of a current connection first.
**
** Errors are recorded in sqlca; what was already written stays in the
** buffer unless said otherwise. C linkage.
*/
#ifndef DVZ_SQLI_REQUEST_H
#define DVZ_SQLI_REQUEST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct sqli_tcb;
struct sqli_cursor;
struct sqlvar_struct;

/* Every request code the client writes (the first i16 of a message). */
enum sqli_request_code {
  SQ_COMMAND = 1, /* statement text */
  SQ_PREPARE = 2,
  SQ_CURNAME = 3, /* cursor or statement name */
  SQ_ID = 4, /* statement id */
  SQ_BIND = 5, /* bind values */
  SQ_OPEN = 6,
  SQ_EXECUTE = 7,
  SQ_NFETCH = 9,
  SQ_CLOSE = 10,
  SQ_RELEASE = 11,
  SQ_EOT = 12, /* end of request */
  SQ_FILE_ERROR = 13, /* error answer to a file request */
  SQ_SELECT = 16, /* select into */
  SQ_PUT = 17, /* rows of an insert cursor */
  SQ_COMMIT = 19,
  SQ_ROLLBACK = 20,
  SQ_DESCRIBE = 22,
  SQ_SFETCH = 23, /* scroll fetch */
  SQ_SCROLL = 24,
  SQ_DBLIST = 26,
  SQ_UPDATE_LIST = 32,
  SQ_UPDATE_EXECUTE = 33,
  SQ_BEGIN_WORK = 35,
  SQ_DBOPEN = 36,
  SQ_DBCLOSE = 37,
  SQ_BLOB_REQUEST = 38,
  SQ_BLOB_CHUNK = 39,
  SQ_BLOB_ABORT = 40,
  SQ_BLOB_VALUES = 41,
  SQ_HOLD = 43,
  SQ_WANT_DONE = 49,
  SQ_VERSION = 53,
  SQ_EXIT = 56,
  SQ_EXECUTE_PROC = 59,
  SQ_INFO = 81,
  SQ_XACT_QUERY = 84,
  SQ_REOPT_OPEN = 87,
  SQ_FETCH_BLOBS = 92,
  SQ_RETURN_TYPES = 100,
  SQ_FP_LOOKUP = 101,
  SQ_FP_EXECUTE = 102,
  SQ_FP_PARAMS = 104,
  SQ_RELEASE_COLL = 105,
  SQ_FILE_ANSWER1 = 106,
  SQ_FILE_ANSWER2 = 107,
  SQ_AUTOFREE = 108,
  SQ_OWNER_QUERY = 109,
  SQ_DESCRIBE_ID = 111,
  SQ_BEGIN_WORK_NOREPLY = 115
};

/* Longest text a u16 length field carries. */
enum { sqli_text_max = 65535, sqli_procfile_name_max = 260 };

/* Statement text: pieces is a null-terminated list sent as one text (code
** 1, nin, u16 total, the bytes, pad). Everything is measured and
** converted before anything is written: a piece or total above 65535
** records -460, a failed conversion its GLS error, and nothing is written.
** Returns SQLCODE. */
int _sqs_cmd(char **pieces, int nin, struct sqli_tcb *tcb);
/* Prepare: code 2, the count of "?" characters (whole characters only),
** and the text without trailing blanks as lbuf. 0, or -1 after recording
** -202 (null text, invalid character), -460 (65536 bytes or more) or a
** GLS error; nothing is written then. */
int _sqs_pre(const char *text, struct sqli_tcb *tcb);
/* Code 3 and the cursor's or statement's name as lbuf (converted when it
** can be, else as given). Returns 0. */
int _sqs_name(struct sqli_cursor *cursor, struct sqli_tcb *tcb);
void _sqs_id(int id, struct sqli_tcb *tcb);
/* Code 9, the buffer size, and the fetch array size with capability 0x80
** or 0x100. */
void _sqs_fetch(int bufsize, struct sqli_tcb *tcb);
void _sqs_sfetch(int direction, int32_t position, int bufsize, struct sqli_tcb *tcb);
void _sqs_relcoll(int32_t handle, struct sqli_tcb *tcb);
/* Code 36, the converted name as lbuf and the mode. A failed conversion
** records its GLS error and writes nothing. Returns 0 or that error. */
int _sqs_dopen(const char *name, int mode, struct sqli_tcb *tcb);
/* Rows of an insert cursor (code 17). */
void _sqs_put(struct sqli_cursor *cursor, struct sqli_tcb *tcb);
void _sqs_putvar(struct sqli_cursor *cursor, struct sqli_tcb *tcb);
/* Code 32, count, the names as lbuf and i16 0. */
void _sqs_ulist(int count, char **names, struct sqli_tcb *tcb);
/* Each of the null-terminated names as lbuf, then i16 0. */
void _sqputcol(char **names, struct sqli_tcb *tcb);
/* The null-terminated strings joined by single blanks as u16 length,
** bytes and pad; i16 0 for a null list. */
void _sqputtext(char **strings, struct sqli_tcb *tcb);
/* Code 33, first as i16, and the bind list of entries without a code.
** Returns as _sqs_vs. */
int _sqs_uexe(int first, int count, struct sqlvar_struct *entries, struct sqli_tcb *tcb);
/* Statement text read from the file name (trailing blanks cut). Returns
** 0, or the error recorded: -461 (name above 260 bytes, no such file,
** above 65535 bytes, cannot be opened; nothing written), -406, -460 (the
** converted text above 65535 bytes; code 40 alone), -463 (read or
** conversion failed; code 40 alone), -462 (close failed; code 40 alone). */
int _sqs_procfile(const char *name, struct sqli_tcb *tcb);

/* The messages that are their code alone (and rollback's i16 0). */
void _sqs_open(struct sqli_tcb *tcb);
void _sqs_exe(struct sqli_tcb *tcb);
void _sqs_close(struct sqli_tcb *tcb);
void _sqs_rel(struct sqli_tcb *tcb);
void _sqs_slct(struct sqli_tcb *tcb);
void _sqs_commit(struct sqli_tcb *tcb);
void _sqs_roll(struct sqli_tcb *tcb);
void _sqs_ndesc(struct sqli_tcb *tcb);
void _sqs_scroll(struct sqli_tcb *tcb);
void _sqs_dlist(struct sqli_tcb *tcb);
void _sqs_beginwork(struct sqli_tcb *tcb);
void _sqs_beginwork_norep(struct sqli_tcb *tcb);
void _sqs_dclose(struct sqli_tcb *tcb);
void _sqs_hold(struct sqli_tcb *tcb);
void _sqs_wantdone(struct sqli_tcb *tcb);
void _sqs_exproc(struct sqli_tcb *tcb);
void _sqs_reoptopen(struct sqli_tcb *tcb);
void _sqs_autofree(struct sqli_tcb *tcb);
void _sqs_ndesc_id(struct sqli_tcb *tcb);

/* Ends the request: code 12, the buffer sent, the request-in-progress
** flag set. */
void _sqflip(struct sqli_tcb *tcb);
/* Opens the implicit default connection. Returns SQLCODE. */
int _sqfork(struct sqli_tcb *tcb);

#ifdef __cplusplus
}
#endif

#endif
