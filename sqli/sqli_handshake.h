/*
** sqli_handshake.h: the server handshake that follows every connect (the
** server's version text and the capability word it maps to), the session
** environment message and the server-information exchange. The public
** session calls are in include/sqli_session.h.
*/
#ifndef DVZ_SQLI_HANDSHAKE_H
#define DVZ_SQLI_HANDSHAKE_H

#include <stdint.h>

#include "os_env.h"
#include "sqli_context.h"
#include "sqli_session.h"

/* Capability bits of the connection record. */
enum : int32_t {
  sqli_cap_current = 0x1, /* transaction query, exit message, environment, information */
  sqli_cap_autofree_a = 0x2,
  sqli_cap_extended = 0x4, /* extended types, owner names, transaction events */
  sqli_cap_autofree_b = 0x8,
  sqli_cap_newbind = 0x10,
  sqli_cap_open_a = 0x20,
  sqli_cap_open_b = 0x40,
  sqli_cap_fetcharray_a = 0x80,
  sqli_cap_fetcharray_b = 0x100,
  sqli_cap_longid = 0x200, /* 128-byte identifiers */
  sqli_cap_netfloat = 0x400, /* float format 1 */
  sqli_cap_norepl = 0x800,
  sqli_cap_varchar_pad = 0x1000,
  sqli_cap_offset8 = 0x2000,
  sqli_cap_v310 = 0x4000,
  sqli_cap_free_a = 0x8000,
  sqli_cap_free_b = 0x10000
};

/* Room for a version text: 8 characters and a NUL. */
constexpr int sqli_version_size = 9;

/* The capability word of version text v (the ladder; 0 below "6.00"). */
int32_t sqli_version_caps(const char *v);

/* Reads a field of n bytes whose length the peer sent: the first keep
** bytes (all of them when n <= keep) into dst, the rest skipped, then the
** pad of an odd n. Returns the bytes kept. */
int sqli_read_kept(char *dst, int keep, int n, pipe_vbles *pipe);
/* Reads a reply of code expect that carries one text field, into dst as
** sqli_read_kept does, then the end of the reply. Returns 0, or -1 after
** the protocol-error path. */
int sqli_read_text_reply(sqli_tcb *tcb, int expect, char *dst, int keep);

/* Settles the current connection's version text and capability word from
** number (0: asks the server with the version request), then its float
** format and padding flag. *caps is set (0 first). Returns 0, or -1 after
** a protocol error (the connection then dropped and freed). */
int _sqverifyver(sqli_tcb *tcb, int32_t *caps, int32_t number);
/* Sets conn's float format (and the value library's) from caps: network
** floats with capability 0x400, DECIMAL when the client asks floats as
** decimals, else the host's. Also after a database change. */
void sqli_settle_float(sqli_conn *conn, int32_t caps, sqli_tcb *tcb);
/* Writes "9." and number (clamped to 0..9999) as four digits into out
** (sqli_version_size bytes). */
void _sq_mkintverstr(int32_t number, char *out);
/* Normalises the version text at *text in place (see the source). */
void _sq_filter(char **text);
/* Records the server version number (at most 311) in the protocol trace
** when it is on. Returns the number written. */
int wrtintversion(int32_t number, sqli_tcb *tcb);

/* Sends the session environment of list and reads the reply to its end;
** nothing is sent for an empty list. 0, or -1 with the status recorded. */
int _sqs_env(evlist_t *list, sqli_tcb *tcb);
/* Sends the server-information request (flag 1 adds the item request). */
void _sqs_info(int flag, sqli_tcb *tcb);
/* Asks the current connection's server for its information into info.
** 0, or -1 (no capability 0x1, or a protocol error). */
int _sqr_info(sqli_srvinfo *info, sqli_tcb *tcb);

#endif
