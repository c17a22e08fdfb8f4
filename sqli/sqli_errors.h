/*
** sqli_errors.h: the status codes the embedded-SQL runtime records. One
** header owns them; the catalog texts are in oslib/msg/. Numbers that the
** client environment owns too are named from its header, never respelled.
*/
#ifndef DVZ_SQLI_ERRORS_H
#define DVZ_SQLI_ERRORS_H

#include "os_errors.h"

enum {
  SQLI_E_NOMEM = os_err_no_memory, /* memory allocation failed */
  SQLI_E_PROTOCOL = -408, /* invalid message type from the server */
  SQLI_E_BADCURSOR = -404, /* a cursor or statement that cannot be used */
  SQLI_E_NOTOPEN = -259, /* cursor not open (ANSI-mode database) */
  SQLI_E_KEEPRECORD = -258, /* the server keeps the statement (FREE) */
  SQLI_E_AUTOFREE_PREP = -276, /* AUTOFREE asked of a prepared statement */
  SQLI_E_OPEN_INSERT = -416, /* OPEN usage 1 of an insert cursor */
  SQLI_E_FLUSH_KIND = -417, /* FLUSH of a cursor that is not an insert cursor */
  SQLI_E_FLUSH_CLOSED = -422, /* FLUSH of a cursor that is not open */
  SQLI_E_NODESC = -469, /* the named descriptor does not exist */
  SQLI_E_NOSTMT = -481, /* the statement does not exist or has no text */
  SQLI_E_REOPEN_DEFERRED = -586, /* a deferred OPEN issued again (ANSI mode) */
  SQLI_E_COLL_OPTIONS = -1828, /* scroll or hold asked of a collection cursor */
  SQLI_E_INPROGRESS = -439, /* a request is in progress */
  SQLI_E_NOFILE = -461, /* a named file could not be found */
  SQLI_E_HOSTTYPE = -486, /* a host type that carries no SQL value */
  SQLI_E_DIAGITEM = -489, /* bad exception number or statement item */
  SQLI_E_MAPMAGIC = -498, /* the SQLSTATE map is not one */
  SQLI_E_ROUTINE = -937, /* a routine's own error */
  SQLI_E_NO_SERVER = -908, /* the server could not be reached */
  SQLI_E_BAD_DBENV = -1804, /* a database environment that cannot be used */
  SQLI_E_REASSOC = -1808, /* reassociation of an explicit connection */
  SQLI_E_NOT_TCP = -1812, /* a server entry that is not a transport address */
  SQLI_E_GENAPI = -1280, /* the general library's interface check */
  SQLI_E_OSAPI = -1281, /* the operating-system services' interface check */
  SQLI_E_SQLIAPI = -1282, /* the runtime's own interface check */
  SQLI_E_NOSTATEMAP = -1829, /* the default SQLSTATE map is missing */
  SQLI_E_DBAPIOPEN = -33501, /* the DBAPICODE file cannot be opened */
  SQLI_E_DBAPIMAGIC = -33502 /* the DBAPICODE file is not a map */
};

#endif
