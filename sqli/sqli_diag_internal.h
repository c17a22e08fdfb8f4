/*
** sqli_diag_internal.h: the runtime's diagnostics area and its upkeep.
** Every status change brings the area up to date (`_sqsetCODE`) and sets
** SQLSTATE from the SQLSTATE map file (`_sqsetsqlstate`); warnings,
** a routine's own state and text, and diagnostics failures are recorded
** here. The public side (GET DIAGNOSTICS, geterrmsg) is sqli_diag.h.
*/
#ifndef DVZ_SQLI_DIAG_INTERNAL_H
#define DVZ_SQLI_DIAG_INTERNAL_H

#include <stdint.h>

#include "sqli_context.h"
#include "sqli_diag.h"

/* One exception record of the diagnostics area. */
typedef struct sqli_diag_rec {
  char sqlstate[12]; /* five characters and a NUL; empty when not known */
  int32_t code; /* status code; 0 for a warning */
  char server_name[256];
  char conn_name[256];
  int32_t textlen; /* length of a routine's own text */
  char text[8192]; /* a routine's own message text */
  char param[256]; /* copy of sqlerrm when recorded */
} sqli_diag_rec;

/* The area: a header and tcb->diag_capacity records behind it. */
typedef struct sqli_diag_area {
  int32_t count;
  sqli_diag_rec *recs; /* right behind the header */
} sqli_diag_area;

/* One entry of the loaded SQLSTATE map. */
typedef struct sqli_xtbl_entry {
  int32_t code;
  char state[6];
  int32_t msgnum;
} sqli_xtbl_entry;

/* Leaf name of the SQLSTATE map file: "citoxmsg.pam" or "itoxmsg.pam". */
extern const char *txtblname;

/* Start of a request: SQLSTATE "00000", statement flags cleared, records
** emptied unless the status is already clear. */
void _sqinitdiag(sqli_tcb *tcb);
/* Makes or grows the area. 0, or -1 after recording -406. */
int dgrealloc(sqli_tcb *tcb);
/* Brings the area up to date with SQLCODE and sqlca. 0, or -1 without an
** area or when growing fails. */
int _sqsetCODE(sqli_tcb *tcb);
/* Sets SQLSTATE from SQLCODE. 0, or -1 when the map cannot be loaded. */
int _sqsetsqlstate(sqli_tcb *tcb);
/* Writes code's state into state (6 bytes) and returns its message number
** (0 when none). hint is the first record's state. Returns -1 when the map
** cannot be loaded (the failure recorded), state then untouched. */
int MapSqlstate(char *state, int code, const char *hint);
/* The code and state of record index (1-based). 0, or -1 after recording
** -489; msgnum receives the state's message number. */
int MapException(int index, char *state, int *code, int *msgnum, sqli_tcb *tcb);
/* Loads the map file. 0, or -1 after recording -1829/-461/-498/-406. */
int ldxtbl(sqli_xtbl_entry **table, int *count);
/* Drops the loaded map. */
void freextbl(void);
/* Index of code in table (descending codes), or -1. */
int srchCODE(int code, int count, const sqli_xtbl_entry *table);
/* Message number of a warning state, 0 for any other. */
int srchWARN(const char *state);
/* Records the warnings of a done reply's flags. */
void _sqbeWARN(int flags, sqli_tcb *tcb);
/* Records front-end warning number (1, 3, 4 or 5). */
void _sqfeWARN(int number);
/* Records warning state once per request. */
void CpyWarn(const char *state, sqli_tcb *tcb);
/* Records a routine's own state and text (textlen bytes). */
void _sq_udr_sqlstate(const char *state, int textlen, const char *text);
/* Records a diagnostics failure: code into sqlcode and SQLCODE, SQLSTATE
** "IX001". Returns code. */
int _sqdiagerr(int code, sqli_tcb *tcb);
/* Sets the current server and connection names (empty for null). */
void _sqsetconnsrvrnm(const char *server, const char *conn, sqli_tcb *tcb);
void setconnstmt(sqli_tcb *tcb);
void _iqdbflag(sqli_tcb *tcb);
void _iqrevokeflag(sqli_tcb *tcb);

#endif
