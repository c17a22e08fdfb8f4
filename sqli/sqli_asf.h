/*
** sqli_asf.h: the runtime's calls of the association services: their
** one-time start, the DBPATH-style server list, the connect request and
** its response, the server entry of an association, release, abort,
** interrupt and termination; the reassociation of the implicit connection
** that a server asks for (reply 86); the database list over every server;
** and the signal-mode switch. Every call goes through the seam sqli_asf.
**
** Failures are recorded in sqlca (_iqset2err with the control record's
** status, operating-system error and text; a positive status is recorded
** as its negative) and reported as -1 unless said otherwise.
*/
#ifndef DVZ_SQLI_ASF_H
#define DVZ_SQLI_ASF_H

#include <stdint.h>

#include "sqli_context.h"
#include "sqli_reply.h"

struct pfconkind;
struct pfrequest;

/* The status a failed service call leaves in asfcode as the runtime
** records it: a positive status other than 1 becomes its negative; 0
** becomes -1. */
int sqli_asf_status(int32_t asfcode);

/* Set once the association services have been started in this process. */
extern int _iqconnct_asf_init_done;

/* Starts the association services once per process (service 0) with the
** context's option word, then the protocol trace. 0, or -1 recorded. */
int asf_init(sqli_tcb *tcb);
/* Ends the association services (service 13); the status is not read. */
void asf_term(void);
/* The DBPATH-style server list of the directory: "//srv[/dir]:..." in
** registry order; "" for an empty registry. A new text the caller frees
** with sqli_release, or null with the error recorded (-406 for memory). */
char *asf_dbpath(void);
/* Opens conn's association (service 3) to conn->dbenv. conkind null: the
** kind follows implicit (2 or 6 implicit, 11 explicit); otherwise a copy
** of the server's reassociation kind is sent. tape sends program
** "ruzodu". On success the server's version is in conn, the association
** in conn->io's control record (conn->io must exist). 0, or -1 recorded;
** a refused connect records the server's error and aborts the new
** association. */
int asf_connect(sqli_conn *conn, const struct pfconkind *conkind, int implicit, sqli_tcb *tcb,
                int tape);
/* Reads the decoded connect response: 0 when it accepts (its warnings
** raised); -1 with the server's error recorded (message cut to 71 bytes,
** error offset in sqlerrd[4]), or after a protocol error for a response
** of the wrong form. */
int proc_srvrresp(const struct pfrequest *response, sqli_tcb *tcb);
/* The server entry of assoc (service 12): new texts *server and *host
** (the address up to its first "|"), freed with sqli_release, and *type
** 's' or 'o'. 0, or -1 recorded (-406, -1812 for an entry whose address is
** not a transport address text); nothing is left allocated on failure. */
int asf_getattribute(void *assoc, char **server, char **host, char *type);
/* Orderly release of assoc (service 9). 0, or -1 after aborting it (the
** release's own error is not recorded). */
int asf_disconnect(void *assoc, sqli_tcb *tcb);
/* Aborts assoc (service 10): mode 2 plain, any other flagged. 0 or -1
** recorded. */
int asf_abort(void *assoc, int mode);
/* Sends the server an interrupt on assoc (service 8); a failure is
** recorded. */
void asf_resync(void *assoc);
/* _sqg_reassoc, the reader of reply 86, is declared with the other
** readers (sqli_reply.h). */
/* Acts on a pending reassociation after a statement: 0 when none is
** pending or it was carried out; -1 or SQLCODE otherwise (-1808 for an
** explicit connection, which stays current). */
int _sqreassoc(sqli_tcb *tcb);
/* Writes db, then "@" and server when server is given, into out (size
** bytes, always terminated; a longer result is cut). */
void make_dbenv(const char *server, const char *db, char *out, size_t size);

/* A node of the server-name list of get_srv_list. */
typedef struct sqli_srvnode {
  struct sqli_srvnode *next;
  char name[1]; /* the name, NUL-terminated; the node is sized to it */
} sqli_srvnode;
/* The distinct server names of asf_dbpath in the locale's collation
** order; null for none, or on failure (recorded). Freed with
** free_srv_list. */
sqli_srvnode *get_srv_list(void);
void free_srv_list(sqli_srvnode *list);

/* Database names of every listed server, each followed by "@server",
** into names (max entries) and their texts into area (room bytes); *count
** gets the number. A server refusing with -908 is skipped and reported
** at the end (-908, the failed servers in sqlerrm). Returns SQLCODE. */
int _asf_dblist(int32_t *count, char **names, int32_t max, char *area, int32_t room, sqli_tcb *tcb);
/* The database list of the current connection's server into list, each
** name followed by suffix, the names of this server sorted. 0 or -1. */
int _getdblist(sqli_dblist *list, const char *suffix, sqli_tcb *tcb);

#ifdef __cplusplus
extern "C" {
#endif
/* Signal mode: before the start of the association services it sets
** the option word (4 for modes 0 and 2), afterwards a non-zero mode goes
** to the association services' signal switch. */
void sqlsignal(int unused1, void *unused2, int mode);
#ifdef __cplusplus
}
#endif

#endif
