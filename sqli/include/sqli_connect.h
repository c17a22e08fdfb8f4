/*
** sqli_connect.h: CONNECT and DISCONNECT of the embedded-SQL runtime. The
** runtime keeps the process's connections and its current connection;
** every later statement goes to the current one. Neither call returns a
** status: it is left in `sqlca` and `SQLCODE` (sqli_status.h).
**
** C linkage; called by preprocessed programs (the probe among them).
*/
#ifndef DVZ_SQLI_CONNECT_H
#define DVZ_SQLI_CONNECT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Connect types of sqli_connect_open. */
enum {
  SQLI_CONNECT_TO = 0,
  SQLI_CONNECT_DEFAULT = 1,
  SQLI_CONNECT_IMPLICIT = 4,
  SQLI_CONNECT_TAPE = 5
};

/* Disconnect types and ending modes of sqli_connect_close. */
enum {
  SQLI_DISCONNECT_NAMED = 0,
  SQLI_DISCONNECT_DEFAULT = 1,
  SQLI_DISCONNECT_ALL = 2,
  SQLI_DISCONNECT_CURRENT = 3,
  SQLI_DISCONNECT_IMPLICIT = 4,
  SQLI_DISCONNECT_TAPE = 5
};
enum { SQLI_END_ORDERLY = 0, SQLI_END_ABORT_FLAGGED = 1, SQLI_END_ABORT = 2 };

/* CONNECT: opens a connection of `type` to the database environment
** dbenv (a database, optionally "@server"), named `name` (null: none),
** with the user record `user` (null: none) and the concurrent-transaction
** flag. version is the interface version (not examined). The outcome is
** in sqlca; on success the new connection is current. */
void sqli_connect_open(int32_t version, int32_t type, const char *dbenv, const char *name,
                       void *user, int32_t concurrent);

/* DISCONNECT: closes the connection(s) named by `type` and `name`, ending
** each with `mode`; keep non-zero keeps the status already in sqlca. The
** outcome is in sqlca (-1800: an orderly close met an open transaction
** and the connection stays; -1803: no such connection). */
void sqli_connect_close(int32_t type, const char *name, int32_t mode, int32_t keep);

#ifdef __cplusplus
}
#endif

#endif
