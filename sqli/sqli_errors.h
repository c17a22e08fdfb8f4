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
