/*
** sqli_send.h: what the request encoders and the bind-value encoders
** share: the send side of the current connection, fields stored in place
** when the send buffer has room, and the text conversion rule for client
** text going to the server (DBAPICODE map, else the client-to-database
** converter of the current locale environment, else as given).
*/
#ifndef DVZ_SQLI_SEND_H
#define DVZ_SQLI_SEND_H

#include <stdint.h>

#include "dvz_be.h"
#include "gen_value.h"
#include "sqli_context.h"
#include "sqli_descriptors.h"
#include "sqli_wire.h"

#include "gl_conv.h"

/* The current connection's message I/O record, or null without one. */
inline pipe_vbles *sqli_outpipe(const sqli_tcb *tcb) {
  return tcb != nullptr && tcb->curconn != nullptr ? tcb->curconn->io : nullptr;
}

/* Fixed-width fields: stored straight at the write position when the room
** left holds them, else through the buffered primitives (same bytes). */
inline void sqli_put16(pipe_vbles *pipe, int value) {
  if (pipe->outleft >= 2 && pipe->send_broken == 0) {
    dvz_st_be_u16(static_cast<uint16_t>(value), pipe->outptr);
    pipe->outptr += 2;
    pipe->outleft -= 2;
  } else {
    _iputint(value, pipe);
  }
}
inline void sqli_put32(pipe_vbles *pipe, int32_t value) {
  if (pipe->outleft >= 4 && pipe->send_broken == 0) {
    dvz_st_be_i32(value, pipe->outptr);
    pipe->outptr += 4;
    pipe->outleft -= 4;
  } else {
    _iputlong(value, pipe);
  }
}

/* The write position when n bytes fit in place, else null; sqli_commit
** then takes the n bytes written there. */
inline unsigned char *sqli_room(pipe_vbles *pipe, int n) {
  return pipe->outleft >= n && pipe->send_broken == 0 ? pipe->outptr : nullptr;
}
inline void sqli_commit(pipe_vbles *pipe, int n) {
  pipe->outptr += n;
  pipe->outleft -= n;
}

/* The converter of client text to the database's code set, or null when
** none is needed. */
gl_cv_desc *sqli_client_db_converter(void);

/* Client text ready to send: the bytes (in the context's scratch or
** conversion buffer, or the caller's own) and their count. */
struct sqli_sendtext {
  const char *bytes;
  int len;
};
/* Applies the text conversion rule to n bytes of text into *out (valid
** until the next call). Returns 0, or the GLS error of a failed conversion
** (or -406), recording nothing; *out is then the text as given. */
int sqli_send_text(const char *text, int n, sqli_tcb *tcb, sqli_sendtext *out);

/* A type word's flag telling that an owner and a type name travel with
** the value. */
constexpr int sqli_type_keepxid = 0x800;
/* True for the types (SQL type sql of the word) whose owner and type name
** travel: the extended types above 18 but 42, and any word flagged 0x800. */
inline bool sqli_names_travel(int sql, int word) {
  return (sql > 18 && sql != 42) || (word & sqli_type_keepxid) != 0;
}
/* SET, MULTISET, LIST, ROW and COLLECTION. */
inline bool sqli_collection_type(int sql) { return sql >= 19 && sql <= 23; }

/* The checks a bind list passes before its first byte is written (see
** _sqs_vs). Returns 0, or SQLCODE after recording the failure. */
int sqli_check_bind_list(const sqlda *desc, const value_t *values, sqli_tcb *tcb);

/* 1 when the current connection's database is ANSI-compliant. */
int sqli_ansi_db(const sqli_tcb *tcb);
/* 1 when the current connection stores FLOAT as DECIMAL. */
int sqli_float_as_decimal(const sqli_tcb *tcb);

#endif
