/*
** Reassociation: a server may answer a statement with reply 86, asking
** the client to move its implicit connection to another server or
** database. The reader keeps the request in the context; after the
** statement _sqreassoc carries it out (or refuses it with -1808 for an
** explicit connection, which stays as it was).
*/
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf_connect_records.h"
#include "os_context.h"
#include "os_conv.h"
#include "os_env.h"
#include "sqli_asf.h"
#include "sqli_conn.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_handshake.h"
#include "sqli_seams.h"
#include "sqli_wire.h"

namespace {

/* Reads a 2-byte length and that many bytes with their pad into *out (a
** new text, null for an empty one). 0, or -1 when the reply ran short or
** memory is short (-406 recorded). */
int read_text(pipe_vbles *p, char **out) {
  *out = nullptr;
  const int n = _igetunsigned(p);
  if (p->recv_failed != 0) return -1;
  if (n == 0) return 0;
  auto *text = static_cast<char *>(sqli_alloc(static_cast<size_t>(n) + 1));
  if (text == nullptr) {
    _igoblchars(n, p);
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  _igetpbuf(text, n, p);
  text[n] = '\0';
  if (p->recv_failed != 0) {
    sqli_release(text);
    return -1;
  }
  *out = text;
  return 0;
}

/* text in the client code set when the locale converts from the
** database's; text itself otherwise. 0, or -1 (text freed, -406). */
int to_client(char **text) {
  gl_cv_desc *cv = sqli_db_client_converter();
  if (cv == nullptr || *text == nullptr) return 0;
  int len = static_cast<int>(std::strlen(*text));
  char *converted = nullptr;
  const int n = gcv_malloc(cv, *text, &len, &converted);
  if (n < 0 || converted == nullptr) {
    std::free(converted);
    if (n == 0) return 0;
    sqli_release(*text);
    *text = nullptr;
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  char *copy = static_cast<char *>(sqli_alloc(static_cast<size_t>(n) + 1));
  if (copy != nullptr) {
    std::memcpy(copy, converted, static_cast<size_t>(n));
    copy[n] = '\0';
  }
  std::free(converted);
  sqli_release(*text);
  *text = copy;
  if (copy == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  return 0;
}

void clear_conkind(pfconkind *k) {
  for (char *&s : k->str) {
    sqli_release(s);
    s = nullptr;
  }
  k->kind = 0;
  k->flags = 0;
}

/* Records -1808 with text in sqlerrm. */
void record_reassoc(const char *text) { _iqset2err(SQLI_E_REASSOC, 0, text); }

}  // namespace

int _sqg_reassoc(sqli_tcb *tcb) {
  pipe_vbles *p = tcb->curconn != nullptr ? tcb->curconn->io : nullptr;
  if (p == nullptr) return -1;
  /* Everything is read before the stored request changes, so a short
  ** reply leaves the previous one as it was. */
  char *texts[asc_str_count] = {};
  auto drop = [&texts] {
    for (char *&s : texts) {
      sqli_release(s);
      s = nullptr;
    }
    return -1;
  };
  if (read_text(p, &texts[asc_str_server]) != 0) return drop();
  if (read_text(p, &texts[asc_str_dbname]) != 0 || to_client(&texts[asc_str_dbname]) != 0)
    return drop();
  const int kind = _igetint(p);
  const int32_t flags = _igetlong(p);
  if (p->recv_failed != 0) return drop();
  if (read_text(p, &texts[asc_str_logarg]) != 0) return drop();
  if (read_text(p, &texts[asc_str_logfile]) != 0) return drop();
  if (tcb->reassoc == nullptr) {
    tcb->reassoc = static_cast<pfconkind *>(sqli_alloc(sizeof(pfconkind)));
    if (tcb->reassoc == nullptr) {
      _iqseterr(SQLI_E_NOMEM);
      return drop();
    }
  }
  pfconkind *k = tcb->reassoc;
  clear_conkind(k);
  k->kind = kind;
  k->flags = flags;
  for (int i = 0; i < asc_str_count; ++i)
    k->str[i] = texts[i];
  tcb->reassoc_pending = 1;
  return 0;
}

void make_dbenv(const char *server, const char *db, char *out, size_t size) {
  if (size == 0) return;
  if (server != nullptr)
    std::snprintf(out, size, "%s@%s", db != nullptr ? db : "", server);
  else
    std::snprintf(out, size, "%s", db != nullptr ? db : "");
}

int _sqreassoc(sqli_tcb *tcb) {
  sqli_conn *current = tcb->curconn;
  if (current == nullptr) return -1;
  if (tcb->reassoc_pending == 0 || tcb->reassoc == nullptr) return 0;
  tcb->reassoc_pending = 0;
  const pfconkind *k = tcb->reassoc;
  const char *server = k->str[asc_str_server];
  const bool implicit_mode = conlist.mode == sqli_mode_implicit;
  const bool implicit_default = _imp_def_conn(tcb) != 0;
  if (server != nullptr && !implicit_mode && !implicit_default) {
    char text[sqli_errm_max + 1];
    std::snprintf(text, sizeof text, "@%s", server);
    record_reassoc(text);
    return -1;
  }
  const char *db = k->str[asc_str_dbname];
  const size_t size =
      (db != nullptr ? std::strlen(db) : 0) + (server != nullptr ? std::strlen(server) + 1 : 0) + 1;
  auto *dbenv = static_cast<char *>(sqli_alloc(size));
  if (dbenv == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  make_dbenv(server, db, dbenv, size);
  sqli_conn *conn = alloc_connp(dbenv, nullptr, nullptr, 0);
  sqli_release(dbenv);
  if (conn == nullptr) return -1;

  if (implicit_default && k->kind == asc_kind_drop) {
    if (asf_connect(conn, k, 0, tcb, 0) == 0) (void)asf_abort(conn->io->svcctl.ascid, 2);
    free_connp(conn);
    return *tcb->sqlcode;
  }

  if (!implicit_mode && !implicit_default) {
    /* An explicit connection does not move: the server is only probed so
    ** that the message can name it. */
    pfconkind probe = *k;
    probe.kind = asc_kind_open;
    if (asf_connect(conn, &probe, 0, tcb, 0) == 0) {
      void *assoc = conn->io->svcctl.ascid;
      if (asf_getattribute(assoc, &conn->server_name, &conn->host_name, &conn->server_type) != 0)
        (void)asf_abort(assoc, 1);
      else if (asf_disconnect(assoc, tcb) == 0)
        record_reassoc(conn->server_name);
    }
    free_connp(conn);
    return *tcb->sqlcode;
  }

  auto fail = [&] {
    if (sqli_conn_listed(conn) == 0) {
      if (tcb->curconn == conn) set_cur_conn(nullptr, tcb);
      free_connp(conn);
    }
    return -1;
  };
  if (asf_connect(conn, k, 0, tcb, 0) != 0) return fail();
  void *assoc = conn->io->svcctl.ascid;
  if (asf_getattribute(assoc, &conn->server_name, &conn->host_name, &conn->server_type) != 0) {
    (void)asf_abort(assoc, 1);
    return fail();
  }
  const sqlca_s saved = *tcb->sqlca;
  conn->inuse = 1;
  sqli_connect_close(SQLI_DISCONNECT_IMPLICIT, nullptr, SQLI_END_ABORT, 1);
  conn->inuse = 0;
  *tcb->sqlca = saved;
  *tcb->sqlcode = saved.sqlcode;
  const char *optofc = ggetenv("OPTOFC");
  conn->optofc = optofc != nullptr && std::strcmp(optofc, "1") == 0 ? 1 : 0;
  if (*tcb->sqlcode != 0) {
    (void)asf_abort(assoc, 1);
    return fail();
  }
  if (set_conn_globals(conn, tcb) != 0) {
    (void)asf_abort(assoc, 1);
    return fail();
  }
  /* The record is the implicit default before the handshake, so that a
  ** protocol error there closes and frees it like any connection. */
  conlist.deflt = conn;
  conlist.default_kind = sqli_default_implicit;
  conlist.mode = sqli_mode_implicit;
  if (_sqverifyver(tcb, &conn->capabilities, conn->server_version) != 0) return -1;
  if ((conn->capabilities & sqli_cap_current) == 0) {
    conn->dbflags[3] = 1;
    tcb->sqlca->sqlwarn.sqlwarn4 = 'W';
  }
  conn->dbopen = 1;
  set_forkflag(1);
  _sqsetconnsrvrnm(nullptr, nullptr, tcb);
  _sqsetCODE(tcb);
  if (send_secondary_env_list(conn, tcb) != 0) return -1;
  return 0;
}
