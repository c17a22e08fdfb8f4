/*
** sqli_diag.h: the diagnostics of the embedded-SQL runtime as callers see
** them: GET DIAGNOSTICS, the catalog message of a status code with its
** parameter, the full message text of the last error reply, and the
** choice of the SQLSTATE map file. C linkage.
*/
#ifndef DVZ_SQLI_DIAG_H
#define DVZ_SQLI_DIAG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One entry of a GET DIAGNOSTICS item list: 32 bytes; an item number of 0
** ends the list. */
typedef struct sqli_diag_item {
  void *hostvar; /* where the value goes */
  int16_t item; /* item number */
  int16_t hosttype; /* host type of hostvar */
  int32_t hostlen; /* bytes at hostvar */
  char reserved[32 - sizeof(void *) - 8];
} sqli_diag_item;

/* Statement items (exception number -1) and record items. */
enum {
  sqli_diag_number = 1, /* statement: record count */
  sqli_diag_more = 2, /* statement: "N" */
  sqli_diag_rowcount = 8, /* statement: rows processed */
  sqli_diag_returned_sqlstate = 3,
  sqli_diag_class_origin = 4,
  sqli_diag_subclass_origin = 5,
  sqli_diag_message_text = 6,
  sqli_diag_message_length = 7,
  sqli_diag_server_name = 9,
  sqli_diag_connection_name = 10,
  sqli_diag_dvz_sqlcode = 11
};

/* GET DIAGNOSTICS: exception -1 asks for statement items, 1 to the record
** count for that record's items. Each value goes to its host variable.
** Returns SQLCODE, or -1 after recording -489 (bad exception number or
** statement item) or a map failure. version is ignored. */
int sqli_diag_get(int version, sqli_diag_item *items, int exception);

/* Writes into buf (at least 360 bytes) the catalog text of code with
** param put in place of the first "%" and its letter; later "%"
** sequences are dropped. Output is cut to 360 bytes with its NUL.
** Returns 0, or the catalog reader's failure (buf then holds its text). */
int geterrmsg(int code, char *buf, const char *param);

/* The 500-byte full message text of the last error reply, or null
** without a runtime context. */
char *dvz_get_msg_param(void);

/* Selects the SQLSTATE map: "s" the server's, "c" the client's (the
** default). Returns 0, or -1 for any other kind. A change drops the
** loaded map. */
int sqli_resetMessageFile(const char *kind);

#ifdef __cplusplus
}
#endif

#endif
