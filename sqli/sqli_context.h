/*
** sqli_context.h: the runtime's one process context (`sqli_tcb`) and the
** operations every runtime entry point starts with: fetching the context
** (`CheckGlobInit`), clearing the status (`_sqclrca`) and recording
** failures (`_iqseterr`, `_iqset2err`, `setisamerr`) into `sqlca`,
** `SQLCODE`, `SQLSTATE` and the diagnostics area. Also the DBAPICODE
** character maps and the growable scratch buffer of the request encoders.
**
** Callers never get an exception: a failure is recorded here and the
** caller returns SQLCODE or -1. One thread per process; no locks.
*/
#ifndef DVZ_SQLI_CONTEXT_H
#define DVZ_SQLI_CONTEXT_H

#include <stdint.h>

#include "sqli_runtime_records.h"
#include "sqli_status.h"
#include "value_types.h"

struct pfconkind;
struct sqli_diag_area;

/* Option and status flags of the context. */
enum : int16_t {
  sqli_flag_dbstmt = 0x1, /* running a database statement */
  sqli_flag_autofree = 0x2, /* DVZ_AUTOFREE "1" */
  sqli_flag_no_autofree = 0x4, /* DVZ_AUTOFREE "0" */
  sqli_flag_deferred_prepare = 0x8, /* DVZ_DEFERRED_PREPARE "1" */
  sqli_flag_no_marked_store = 0x10, /* marked rows are not stored */
  sqli_flag_v7_gone = 0x20, /* the older cursor block was freed */
  sqli_flag_revoke = 0x40, /* running a REVOKE statement */
  sqli_flag_clear = 0x80, /* nothing recorded since the last clear */
  sqli_flag_blanks_not_null = 0x100 /* BLANK_STRINGS_NOT_NULL set */
};

/* Sizes of the context's fixed texts. */
enum {
  sqli_name_size = 256, /* server and connection names */
  sqli_msgtext_size = 500, /* full message text of an error reply */
  sqli_filename_size = 500, /* client file the server asked for */
  sqli_errm_max = 71 /* characters kept in sqlerrm */
};

/* An XA transaction id: format id (-1 none), global and branch lengths,
** then the global part and the branch part in 128 bytes. */
typedef struct sqli_xid {
  int32_t format;
  int32_t gtrid_length;
  int32_t bqual_length;
  char data[128];
} sqli_xid;

/* The process context: one heap record, created by the first runtime
** operation and never freed. */
typedef struct sqli_tcb {
  char *blob_buffer; /* 1028-byte chunk of a BYTE or TEXT value */
  char *blob_convbuf; /* 4101-byte chunk after code-set conversion */
  int32_t convbuf_size; /* bytes at convbuf */
  char *convbuf; /* reusable conversion buffer */
  int32_t ansiwarn_pending; /* DBANSIWARN not yet read */
  int32_t blob_count; /* BYTE and TEXT values of the bind list */
  int16_t request_active; /* a request has been sent or is being sent */
  sqli_conn *curconn; /* where requests go */
  struct pfconkind *reassoc; /* from the reassociation reply */
  int16_t reassoc_pending;
  int32_t asf_options; /* passed to the association services' start */
  void *named_descs; /* descriptors allocated by name */
  int32_t locale_guard; /* 1 while a failed locale check is recorded */
  int16_t lvar_alloc; /* lvarchar allocation mode */
  struct sqli_diag_area *diag; /* records of the last operation */
  char server_name[sqli_name_size]; /* of the current connection */
  char conn_name[sqli_name_size];
  int16_t flags; /* sqli_flag_* */
  int16_t connect_stmt; /* after CONNECT or SET CONNECTION */
  int32_t diag_capacity; /* records the area holds */
  int32_t diag_used; /* records written since the last clear: the rest are clear */
  char *scratch; /* buffer of _sqapimem */
  int32_t scratch_size;
  int32_t xa_mode;
  sqli_xid xa_current; /* current XA transaction id; format -1 while none */
  sqlca_s *sqlca; /* where status is recorded */
  int32_t *sqlcode; /* SQLCODE */
  char *sqlstate; /* SQLSTATE */
  dvz_int8_t last_serial8; /* after an insert */
  char filename[sqli_filename_size]; /* server-driven file access */
  dvz_int8_t file_offset8;
  int32_t file_offset;
  int32_t file_fd; /* -1 when none */
  int32_t file_state;
  sqli_conn *file_conn; /* the connection that opened file_fd */
  int32_t first_saved; /* the first error since the clear was copied */
  sqlca_s first_sqlca; /* copy of sqlca at that error */
  int32_t msgtext_written; /* msgtext may hold something: the next clear empties it */
  char msgtext[sqli_msgtext_size]; /* full text of the last error reply */
} sqli_tcb;

/* The context; null until the first runtime operation. */
extern sqli_tcb *sqlitcb;

/* Returns the context, creating it on first use (reading DVZ_AUTOFREE,
** DVZ_DEFERRED_PREPARE and BLANK_STRINGS_NOT_NULL then); null when it
** cannot be created, an interface check fails at creation, or the locale
** check fails (that error recorded). */
sqli_tcb *CheckGlobInit(void);
/* Returns a new context filled by globfill, or null when memory is short. */
sqli_tcb *GlobInit(void);
/* Gives every field of tcb its initial value. */
void globfill(sqli_tcb *tcb);
/* The current context, never creating one. */
sqli_tcb *getsqlitcb(void);
/* Records own, or the operating-system or general library's interface
** failure; returns the error recorded, 0 when all are clear. */
int chkAPIerr(int own, sqli_tcb *tcb);
/* The runtime's own interface check: always 0. */
int checkSqliApi(void);

/* Clears the status for a new operation (-439 when a request is in
** progress). Returns SQLCODE afterwards. */
int _sqclrca(sqli_tcb *tcb);
/* Records code (deferred replies of OPTMSG read first). Returns SQLCODE
** after recording, or code itself without a context. */
int _iqseterr(int code);
/* Records code, isam (its low 16 bits, signed, into sqlerrd[1]) and at
** most 71 characters of text (null keeps sqlerrm). Returns SQLCODE, or
** code without a context. */
int _iqset2err(int code, int isam, const char *text);
/* Records number - 400. Returns SQLCODE. */
int _sqseterr(int number);
/* Adds a diagnostics record for isam when it is not 0. Returns SQLCODE. */
int setisamerr(int isam, sqli_tcb *tcb);
/* Copies ca into the first-error copy of tcb. */
void save_first_sqlca(const sqlca_s *ca, sqli_tcb *tcb);
/* Resets a cursor record that has never been used (statement type 0). */
void _sqsetup(sqli_cursor *cursor);
/* Sets the reparse flag of the current connection. */
void sqlreparse(int flag);
/* Frees old and returns a new block of size bytes (contents not kept), or
** null (-406 recorded). */
void *_sqrealloc(void *old, int size);
/* Returns block when held >= need, otherwise a new one (old freed; null
** and -406 recorded when memory is short). */
void *_sqchkrealloc(void *block, int held, int need);
/* Grows the scratch buffer to hold need bytes, in 512-byte steps; on
** failure keeps the old buffer and size and records -406. */
void _sqapimem(int need, sqli_tcb *tcb);

/* DBAPICODE character maps: database to host and host to database. */
extern unsigned char usrconvarr[256];
extern unsigned char dbconvarr[256];
extern int16_t ldtbl; /* 1 once the maps are loaded */
extern int32_t _sqdbapi; /* 1 while the current connection translates */
/* Translation hooks, set at each connect. */
extern int (*CPDBTOVAR)(const char *src, char *dst, int len);
extern int (*CPVARTODB)(const char *src, char *dst, int len);
/* Loads the maps of the file DBAPICODE names. Returns 0, or -1 after
** recording -461 (unset or no path), -33501 (cannot open) or -33502
** (wrong magic or short file). */
int ldconvtbl(void);
/* Translate len bytes (dst needs len + 1): 0, or -1 when the maps cannot
** be loaded. */
int _sqDBtoVAR(const char *src, char *dst, int len);
int _sqVARtoDB(const char *src, char *dst, int len);
/* dst[i] = map[src[i]] for i < n, then dst[n] = NUL. */
void convtuple(const char *src, int n, char *dst, const unsigned char *map);

#endif
