/*
** sqli_conn.h: the runtime's connections. The process-wide list of
** connection records (`conlist`), the current connection, the operations
** that make, enter, switch, mark and close connections, and the implicit
** default connection a statement opens when no CONNECT was made.
** CONNECT, DISCONNECT and SET CONNECTION themselves are public
** (sqli_connect.h).
*/
#ifndef DVZ_SQLI_CONN_H
#define DVZ_SQLI_CONN_H

#include <stdint.h>

#include "sqli_connect.h"
#include "sqli_context.h"

/* The process's connections: the named list (newest first), the default
** connection, the default's kind and the connection mode. */
struct sqli_conlist {
  sqli_conn *head; /* connections made with CONNECT TO */
  sqli_conn *deflt; /* CONNECT TO DEFAULT, or the implicit one */
  int32_t default_kind; /* sqli_default_* */
  int32_t mode; /* sqli_mode_* */
};
extern sqli_conlist conlist;

enum { sqli_default_none = 0, sqli_default_implicit = 1, sqli_default_explicit = 2 };
enum { sqli_mode_none = 0, sqli_mode_implicit = 1, sqli_mode_explicit = 2 };

/* Name of a tape-utility connection made without a database environment. */
inline constexpr const char *sqli_tape_conn_name = "__NULL_TBTAPE__";

/* Copied into each new record's in-use check; 1 initially. */
extern int16_t disable_dormant;

/* Makes sure a current connection exists, opening the implicit default
** connection when the process has none of its own. Returns sqlcode. */
int _sqs_(int ignored, sqli_tcb *tcb);

/* A new zeroed record holding copies of dbenv, name and the user texts,
** with its I/O record; null after recording -406. */
sqli_conn *alloc_connp(const char *dbenv, const char *name, const dvz_conn_user *user,
                       int32_t concurrent);
/* Frees the record and everything it owns; null is allowed. */
void free_connp(sqli_conn *conn);
/* Switches the current connection to conn (null: none), moving the
** request-in-progress flag between the context and the records. */
void set_cur_conn(sqli_conn *conn, sqli_tcb *tcb);
/* Makes conn current with a fresh I/O record and stores its database
** flags from sqlca. Returns 0, or SQLCODE (and no current connection). */
int set_conn_globals(sqli_conn *conn, sqli_tcb *tcb);
/* The named connection called name, or null. */
sqli_conn *srch_connection(const char *name);
sqli_conn *getconnection(const char *name);
/* Takes conn out of the named list and frees it: 0, or -1 when absent. */
int del_conn_list(sqli_conn *conn);
/* Non-zero when a transaction is open on conn; error is recorded then.
** conn may be freed by a protocol error meanwhile (result -1). */
int tx_active(sqli_conn *conn, int error, sqli_tcb *tcb);
/* Ends conn's association with mode (sqli_end_*): 0 or -1. conn stays
** allocated; the caller frees it. */
int disconnect(sqli_conn *conn, int mode, sqli_tcb *tcb);
/* tx_active (orderly mode) and then disconnect: 0 closed; -1 kept by an
** open transaction; -2 closing failed or a protocol error closed it (conn
** may be freed then). */
int disconnect_single(sqli_conn *conn, int mode, sqli_tcb *tcb);
/* Whether conn may be closed by DISCONNECT ALL: 0 or -1. */
int check_disconnect_state(sqli_conn *conn, int is_default, sqli_tcb *tcb);
/* DISCONNECT ALL: 0 or -1. */
int disconnect_all(int mode, sqli_tcb *tcb);
/* In-use marks: 0, or -1802 recorded and returned when already marked. */
int _sqMarkConnection(sqli_conn *conn);
int _sqUnmarkConnection(sqli_conn *conn);
/* Sends the session environment to a new connection: 0 or SQLCODE. */
int send_secondary_env_list(sqli_conn *conn, sqli_tcb *tcb);
/* Aborts the current connection keeping the status in sqlca. */
void _sqchkdiscon(void);
/* 1 while conn is still a listed connection (named or default). */
int sqli_conn_listed(const sqli_conn *conn);

/* The current connection, or null; its name, or null. */
sqli_conn *dvz_getcur_conn(void);
char *dvz_getcur_conn_name(void);
/* The current connection's server name, host name and server type:
** 0, or -1 without a current connection. */
int _sqcurconninfo(char **server, char **host, char *type);
/* 1 when the current connection is the implicitly opened default. */
int _imp_def_conn(sqli_tcb *tcb);
/* The current connection's FLOAT-as-DECIMAL flag; 0 without one. */
int _iqftodflag(sqli_tcb *tcb);

/* Frees every cursor record of conn. */
void _sqfree_cursors(sqli_conn *conn);

/* One thread per process: these hooks do nothing and return 0. */
int _sqLockList(void);
int _sqUnlockList(void);
int _sqLockGlobal(void);
int _sqUnlockGlobal(void);
int _sqThreadCleanup(void);

#endif
