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

/* User record of CONNECT ... USER: kind 1 points at two texts {user,
** password}, kind 2 at the caller's credential. CONNECT copies the texts;
** the record stays the caller's. */
typedef struct dvz_conn_user {
  int32_t kind;
  void *data;
} dvz_conn_user;
enum { DVZ_CONN_USER_PASSWORD = 1, DVZ_CONN_USER_CREDENTIAL = 2 };

/* User records: null when memory is short. The free operations take the
** address of the caller's pointer and null it. */
dvz_conn_user *dvz_alloc_conn_user(const char *user, const char *password);
void dvz_free_conn_user(dvz_conn_user **user);
dvz_conn_user *dvz_alloc_conn_cred(void *credential);
void dvz_free_conn_cred(dvz_conn_user **user);

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

/* SET CONNECTION: makes the connection named by `type` (0 named, 1
** DEFAULT, 3 CURRENT) and `name` current; with `dormant` given, makes the
** current connection dormant instead (-1813 for any other). The outcome
** is in sqlca. */
void sqli_connect_set(int32_t type, const char *name, const char *dormant);

/* The pending transaction event of the current connection into event[3],
** which is then cleared: 0; -554 when the server does not report events;
** -1822 when none is pending; -1803 without a current connection. */
int dvz_xactevent(int16_t *event);

/* Sets whether in-use marks are enforced for new connections and for the
** current one (1: enforced). */
void sqli_setdormant(int32_t flag);

#ifdef __cplusplus
}
#endif

#endif
