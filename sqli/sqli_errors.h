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
  SQLI_E_RETTYPE = -1820, /* a host variable disagrees with its return type */
  SQLI_E_NODATA = -402, /* a host variable or entry without data */
  SQLI_E_NOTOPEN = -259, /* cursor not open (ANSI-mode database) */
  SQLI_E_KEEPRECORD = -258, /* the server keeps the statement (FREE) */
  SQLI_E_AUTOFREE_PREP = -276, /* AUTOFREE asked of a prepared statement */
  SQLI_E_OPEN_INSERT = -416, /* OPEN usage 1 of an insert cursor */
  SQLI_E_FLUSH_KIND = -417, /* FLUSH of a cursor that is not an insert cursor */
  SQLI_E_FLUSH_CLOSED = -422, /* FLUSH of a cursor that is not open */
  SQLI_E_NODESC = -469, /* the named descriptor does not exist */
  SQLI_E_DESC_CAPACITY = -470, /* ALLOCATE with a capacity below 1 */
  SQLI_E_DESC_NONAME = -471, /* no descriptor name, or a blank one */
  SQLI_E_DESC_INDEX = -472, /* index outside 1..capacity, or COUNT with other items */
  SQLI_E_DESC_XOPEN = -473, /* unknown X/Open type code */
  SQLI_E_DESC_ITEM = -474, /* unknown descriptor item code */
  SQLI_E_DESC_NULLDATA = -475, /* NULL data read without its indicator */
  SQLI_E_DESC_NOLEN = -476, /* character type without a length */
  SQLI_E_DESC_SHORTHOST = -477, /* host shorter than a string item */
  SQLI_E_DESC_NOTYPE = -478, /* SET left the entry without a type */
  SQLI_E_DESC_TOOSMALL = -479, /* more columns than the descriptor's capacity */
  SQLI_E_DESC_INUSE = -480, /* descriptor name in use */
  SQLI_E_DESC_LONGNAME = -483, /* descriptor name longer than 128 */
  SQLI_E_DESC_PRECISION = -366, /* DECIMAL or MONEY precision or scale out of range */
  SQLI_E_DESC_VARCHAR = -650, /* VARCHAR length above 256 */
  SQLI_E_NOSTMT = -481, /* the statement does not exist or has no text */
  SQLI_E_QMARKS = -254, /* input values differ from the text's placeholders */
  SQLI_E_NOT_PREPARED = -410, /* EXECUTE or DESCRIBE of a statement without a server id */
  SQLI_E_USED_BY_CURSOR = -765, /* EXECUTE of a statement a cursor is declared on */
  SQLI_E_DESCRIBE_DEFERRED = -1826, /* DESCRIBE of a preparation not sent yet */
  SQLI_E_REOPEN_DEFERRED = -586, /* a deferred OPEN issued again (ANSI mode) */
  SQLI_E_COLL_OPTIONS = -1828, /* scroll or hold asked of a collection cursor */
  SQLI_E_FETCH_CLOSED = -400, /* FETCH of a cursor that is not open */
  SQLI_E_NO_CURRENT = -423, /* FETCH CURRENT without a current row */
  SQLI_E_NOT_SCROLL = -482, /* a direction other than next without scroll */
  SQLI_E_NOT_SELECT = -488, /* FETCH of a statement that returns no rows */
  SQLI_E_MARKED_ROWS = -1812, /* marked-row state inconsistent */
  SQLI_E_ARRAY_SIZE = -1831, /* more buffered rows than the fetch array holds */
  SQLI_E_INPROGRESS = -439, /* a request is in progress */
  SQLI_E_NOFILE = -461, /* a named file could not be found */
  SQLI_E_LOCKIND = -450, /* locator kind not 1 to 4 */
  SQLI_E_LOCSIZE = -451, /* locator size invalid, buffer too small, write past size */
  SQLI_E_LOCOPEN = -452, /* the program's locator open function failed */
  SQLI_E_LOCCLOSE = -453, /* the program's locator close function failed */
  SQLI_E_LOCREAD = -454, /* the program's locator read function failed */
  SQLI_E_LOCWRITE = -455, /* the program's locator write function failed */
  SQLI_E_FILECLOSE = -462, /* a client file could not be closed */
  SQLI_E_FILEREAD = -463, /* a client file could not be read */
  SQLI_E_FILEWRITE = -464, /* a client file could not be written */
  SQLI_E_LOCMEM = -465, /* no memory for a value received into a locator */
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
  SQLI_E_DBAPIMAGIC = -33502, /* the DBAPICODE file is not a map */
  /* Statements and cursors on collection and row host variables. */
  SQLI_E_MANY_ROWS = -284, /* SELECT INTO found more than one row or element */
  SQLI_E_PUT_CLOSED = -413, /* PUT on a cursor that is not open */
  SQLI_E_PUT_NOCURSOR = -414, /* PUT without a cursor record */
  SQLI_E_NO_INPUT = -418, /* no input values where needed */
  SQLI_E_INSERT_VALUES = -236, /* values and columns or fields differ in number (INSERT) */
  SQLI_E_VALUES_COUNT = -505, /* values and placeholders differ in number (other statements) */
  SQLI_E_COLL_NODATA = -1814, /* collection or row host variable without data */
  SQLI_E_COLL_NOTYPE = -1815, /* collection without type info */
  SQLI_E_COLL_NOFIELD = -1816, /* a named field does not exist */
  SQLI_E_NOT_COLL = -1817, /* host variable is not a collection or row */
  SQLI_E_ROW_REFUSED = -1825 /* statement not allowed on a row variable */
};

#endif
