/*
** connections.cpp: the runtime's connections. CONNECT, DISCONNECT and SET
** CONNECTION, the process-wide connection list and the current
** connection, the implicit default connection, the in-use marks, the
** transaction query that guards closing and switching, user records and
** the small accessors other parts of the runtime read.
**
** A protocol error met while talking to a connection closes and frees it
** through DISCONNECT CURRENT (abort); every step that may have caused one
** checks that its record is still listed before touching it again.
*/
#include <cstring>

#include "os_context.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"
#include "os_trace.h"
#include "sqli_asf.h"
#include "sqli_blob.h"
#include "sqli_conn.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_handshake.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_wire.h"

sqli_conlist conlist;
int16_t disable_dormant = 1;

namespace {

enum : int {
  e_no_events = -554,
  e_open_tx = -1800,
  e_current_tx = -1801,
  e_in_use = -1802,
  e_no_conn = -1803,
  e_empty_name = -1805,
  e_none_to_close = -1807,
  e_close_failed = -1810,
  e_implicit_refused = -1811,
  e_bad_type = -1812,
  e_not_current = -1813,
  e_no_event = -1822
};

/* Message codes of the transaction query and the exit exchange. */
constexpr int msg_txstate = 84;
constexpr int msg_exit = 56;
constexpr int reply_error = 13;

/* Warning bit that every DISCONNECT and SET CONNECTION raises, and the
** bits of the six database flags in their order. */
constexpr int warn_connection = 16;
constexpr int warn_dbflags[6] = {1, 2, 4, 8, 32, 64};

/* At most this many bytes of a closed connection's target are traced. */
constexpr size_t trace_dbenv_max = 1024;

int sqlcode_of(const sqli_tcb *tcb) { return tcb->sqlca->sqlcode; }

/* A heap copy of text (null for null), or null after recording -406. */
bool copy_text(const char *text, char **out) {
  *out = nullptr;
  if (text == nullptr) return true;
  const size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(sqli_alloc(n));
  if (copy == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return false;
  }
  std::memcpy(copy, text, n);
  *out = copy;
  return true;
}

bool in_named_list(const sqli_conn *conn) {
  for (const sqli_conn *c = conlist.head; c != nullptr; c = c->next)
    if (c == conn) return true;
  return false;
}

/* Takes conn out of the named list; false when it is not there. */
bool unlink_named(sqli_conn *conn) {
  for (sqli_conn **at = &conlist.head; *at != nullptr; at = &(*at)->next) {
    if (*at == conn) {
      *at = conn->next;
      conn->next = nullptr;
      return true;
    }
  }
  return false;
}

/* Removes every reference the runtime keeps to conn and frees it. The
** current pointer is dropped without saving into the dying record. */
void forget_conn(sqli_conn *conn, sqli_tcb *tcb) {
  unlink_named(conn);
  if (conlist.deflt == conn) {
    conlist.deflt = nullptr;
    conlist.default_kind = sqli_default_none;
  }
  if (tcb->curconn == conn) {
    tcb->curconn = nullptr;
    tcb->request_active = 0;
  }
  free_connp(conn);
}

/* Makes prev current again after conn was used for the moment, unless a
** protocol error has closed it meanwhile. */
void restore_current(sqli_conn *prev, sqli_tcb *tcb) {
  if (prev == tcb->curconn) return;
  set_cur_conn(sqli_conn_listed(prev) != 0 ? prev : nullptr, tcb);
}

void set_names(const sqli_conn *conn, sqli_tcb *tcb) {
  if (conn == nullptr)
    _sqsetconnsrvrnm(nullptr, nullptr, tcb);
  else
    _sqsetconnsrvrnm(conn->server_name, conn->name, tcb);
}

bool env_is_one(const char *name) {
  const char *v = ggetenv(name);
  return v != nullptr && std::strcmp(v, "1") == 0;
}

/* Aborts the association of a record that is being given up after a
** later step of CONNECT failed, keeping the error that explains why. */
void drop_association(sqli_conn *conn, sqli_tcb *tcb) {
  if (conn->io == nullptr || conn->io->svcctl.ascid == nullptr) return;
  const sqlca_s saved = *tcb->sqlca;
  (void)asf_abort(conn->io->svcctl.ascid, SQLI_END_ABORT);
  *tcb->sqlca = saved;
  *tcb->sqlcode = saved.sqlcode;
}

}  // namespace

/* ---- Records -------------------------------------------------------------------------- */

sqli_conn *alloc_connp(const char *dbenv, const char *name, const dvz_conn_user *user,
                       int32_t concurrent) {
  auto *conn = static_cast<sqli_conn *>(sqli_alloc(sizeof(sqli_conn)));
  if (conn == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return nullptr;
  }
  bool ok = copy_text(dbenv, &conn->dbenv) && copy_text(name, &conn->name);
  if (ok && user != nullptr && user->kind == DVZ_CONN_USER_PASSWORD) {
    const auto *pair = static_cast<const char *const *>(user->data);
    conn->user_kind = sqli_user_password;
    ok = pair != nullptr && copy_text(pair[0], &conn->user) && copy_text(pair[1], &conn->password);
  } else if (ok && user != nullptr && user->kind != 0) {
    conn->user_kind = sqli_user_credential;
    conn->credential = user->data;
  }
  if (ok) {
    conn->io = static_cast<pipe_vbles *>(sqli_alloc(sizeof(pipe_vbles)));
    if (conn->io == nullptr) {
      _iqseterr(SQLI_E_NOMEM);
      ok = false;
    }
  }
  if (!ok) {
    free_connp(conn);
    return nullptr;
  }
  conn->io->conn = conn;
  conn->io->ostcb = CheckOsInit();
  conn->concurrent = concurrent;
  conn->reparse = 1;
  conn->callback_interval = -1;
  conn->xact_event[0] = -1;
  conn->inuse_check = disable_dormant;
  return conn;
}

void free_connp(sqli_conn *conn) {
  if (conn == nullptr) return;
  sqli_file_conn_gone(conn); /* a client file the server opened on it */
  sqli_release(conn->dbenv);
  sqli_release(conn->name);
  sqli_release(conn->user);
  sqli_release(conn->password);
  sqli_release(conn->io);
  sqli_release(conn->server_name);
  sqli_release(conn->host_name);
  sqli_release(conn->delimident);
  sqli_release(conn);
}

int sqli_conn_listed(const sqli_conn *conn) {
  if (conn == nullptr) return 0;
  return conn == conlist.deflt || in_named_list(conn) ? 1 : 0;
}

sqli_conn *srch_connection(const char *name) {
  if (name == nullptr) return nullptr;
  for (sqli_conn *c = conlist.head; c != nullptr; c = c->next)
    if (c->name != nullptr && std::strcmp(c->name, name) == 0) return c;
  return nullptr;
}

sqli_conn *getconnection(const char *name) { return srch_connection(name); }

int del_conn_list(sqli_conn *conn) {
  if (!unlink_named(conn)) return -1;
  sqli_tcb *tcb = getsqlitcb();
  if (tcb != nullptr)
    forget_conn(conn, tcb);
  else
    free_connp(conn);
  return 0;
}

/* ---- The current connection ---------------------------------------------------------- */

void set_cur_conn(sqli_conn *conn, sqli_tcb *tcb) {
  sqli_conn *old = tcb->curconn;
  if (conn == old) return;
  if (conn == nullptr) {
    tcb->curconn = nullptr;
    tcb->request_active = 0;
    return;
  }
  if (old != nullptr) old->saved_request = tcb->request_active;
  tcb->curconn = conn;
  tcb->request_active = conn->saved_request;
  conn->io->conn = conn;
  conn->io->request_active = &tcb->request_active;
  conn->io->ostcb = CheckOsInit();
}

int set_conn_globals(sqli_conn *conn, sqli_tcb *tcb) {
  set_cur_conn(conn, tcb);
  (void)initpipevbles(conn->io);
  if (sqlcode_of(tcb) != 0) {
    tcb->curconn = nullptr;
    tcb->request_active = 0;
    return sqlcode_of(tcb);
  }
  const sqlca_warn &w = tcb->sqlca->sqlwarn;
  const char flags[6] = {w.sqlwarn1, w.sqlwarn2, w.sqlwarn3, w.sqlwarn4, w.sqlwarn6, w.sqlwarn7};
  for (int i = 0; i < 6; ++i)
    conn->dbflags[i] = flags[i] == 'W' ? 1 : 0;
  gen_setansidb(conn->dbflags[1]);
  return 0;
}

/* ---- In-use marks ---------------------------------------------------------------------- */

int _sqMarkConnection(sqli_conn *conn) {
  if (conn->inuse_check == 1 && conn->inuse != 0) {
    _iqseterr(e_in_use);
    return e_in_use;
  }
  conn->inuse = 1;
  return 0;
}

int _sqUnmarkConnection(sqli_conn *conn) {
  if (conn->inuse_check == 1) conn->inuse = 0;
  return 0;
}

void sqli_setdormant(int32_t flag) {
  disable_dormant = static_cast<int16_t>(flag);
  if (sqli_tcb *tcb = getsqlitcb(); tcb != nullptr && tcb->curconn != nullptr)
    tcb->curconn->inuse_check = static_cast<int16_t>(flag);
}

/* ---- Transaction query ------------------------------------------------------------------ */

int tx_active(sqli_conn *conn, int error, sqli_tcb *tcb) {
  if ((conn->capabilities & sqli_cap_current) == 0) {
    if (conn->dbopen == 0) return 0;
    _iqseterr(error);
    return -1;
  }
  sqli_conn *prev = tcb->curconn;
  set_cur_conn(conn, tcb);
  _iputint(msg_txstate, conn->io);
  _sqflip(tcb);
  int result = 0;
  int code = sqli_reply_code(tcb);
  if (code == reply_error) {
    /* The error reply is read to its end code below. */
  } else if (code == msg_txstate) {
    const int flag = _igetint(conn->io);
    if (flag != 0) {
      _iqseterr(error);
      result = flag;
    }
    code = sqli_reply_code(tcb);
  } else {
    _sqproterr(tcb, code); /* closes and frees conn */
    restore_current(prev, tcb);
    return -1;
  }
  if (_chkeot(code, tcb) != 0) {
    restore_current(prev, tcb);
    return -1;
  }
  restore_current(prev, tcb);
  return result;
}

/* ---- Closing ----------------------------------------------------------------------------- */

int disconnect(sqli_conn *conn, int mode, sqli_tcb *tcb) {
  sqli_conn *prev = tcb->curconn;
  set_cur_conn(conn, tcb);
  if (mode == SQLI_END_ORDERLY && (conn->capabilities & sqli_cap_current) != 0) {
    _iputint(msg_exit, conn->io);
    _iflushbuff(conn->io);
    (void)sqli_reply_code(tcb); /* the answer's value does not matter */
  }
  tcb->request_active = 0;
  void *assoc = conn->io->svcctl.ascid;
  int rc = 0;
  if (mode == SQLI_END_ORDERLY) {
    rc = asf_disconnect(assoc, tcb);
    if (rc == 0) _sqclrca(tcb);
  } else {
    rc = asf_abort(assoc, mode);
  }
  conn->io->svcctl.ascid = nullptr; /* released or aborted either way */
  conn->dbflags[1] = 0;
  gen_setansidb(0);
  conn->io->float_format = 0;
  dvzGEN_setFloatType(0);
  conn->dbflags[3] = 0;
  conn->dbflags[5] = 0;
  _sqfree_cursors(conn);
  if (prev != conn) restore_current(prev, tcb);
  return rc == 0 ? 0 : -1;
}

/* Returns 0 when conn was closed, -1 when an open transaction keeps it
** (error recorded, conn untouched), -2 when closing failed or a protocol
** error closed it (error recorded; conn may already be freed). */
int disconnect_single(sqli_conn *conn, int mode, sqli_tcb *tcb) {
  const bool listed = sqli_conn_listed(conn) != 0;
  if (mode == SQLI_END_ORDERLY && tx_active(conn, e_open_tx, tcb) != 0) {
    if (listed && sqli_conn_listed(conn) == 0) return -2;
    if (sqlcode_of(tcb) != e_open_tx) return -2;
    if (conn != tcb->curconn) _sqUnmarkConnection(conn);
    return -1;
  }
  return disconnect(conn, mode, tcb) == 0 ? 0 : -2;
}

int check_disconnect_state(sqli_conn *conn, int is_default, sqli_tcb *tcb) {
  const bool current = conn == tcb->curconn;
  if (!current && _sqMarkConnection(conn) != 0) return -1;
  set_names(is_default != 0 ? nullptr : conn, tcb);
  int rc = 0;
  if (current || conn->concurrent != 0) rc = tx_active(conn, e_open_tx, tcb) != 0 ? -1 : 0;
  if (!current && sqli_conn_listed(conn) != 0) _sqUnmarkConnection(conn);
  return rc;
}

int disconnect_all(int mode, sqli_tcb *tcb) {
  if (conlist.head == nullptr && tcb->curconn == nullptr && conlist.deflt == nullptr) {
    if (mode != SQLI_END_ORDERLY) return 0;
    _iqseterr(e_none_to_close);
    return -1;
  }
  if (mode == SQLI_END_ORDERLY) {
    if (conlist.deflt != nullptr && check_disconnect_state(conlist.deflt, 1, tcb) != 0) return -1;
    for (sqli_conn *c = conlist.head, *next = nullptr; c != nullptr; c = next) {
      next = c->next;
      if (check_disconnect_state(c, 0, tcb) != 0) return -1;
    }
  }
  int result = 0;
  for (sqli_conn *c = conlist.head, *next = nullptr; c != nullptr; c = next) {
    next = c->next;
    set_names(c, tcb);
    if (disconnect(c, mode, tcb) != 0) {
      _iqseterr(e_close_failed);
      result = -1;
    }
    if (sqli_conn_listed(c) != 0) forget_conn(c, tcb);
  }
  if (sqli_conn *d = conlist.deflt; d != nullptr) {
    set_names(nullptr, tcb);
    if (disconnect(d, mode, tcb) != 0) {
      _iqseterr(e_close_failed);
      result = -1;
    }
    if (sqli_conn_listed(d) != 0) forget_conn(d, tcb);
  }
  conlist.head = nullptr;
  conlist.deflt = nullptr;
  conlist.default_kind = sqli_default_none;
  set_cur_conn(nullptr, tcb);
  conlist.mode = sqli_mode_none;
  return result;
}

void _sqchkdiscon(void) {
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ABORT_FLAGGED, 1);
}

/* ---- Session environment ----------------------------------------------------------------- */

int send_secondary_env_list(sqli_conn *conn, sqli_tcb *tcb) {
  if (sqlcode_of(tcb) != 0 || (conn->capabilities & sqli_cap_current) == 0) return sqlcode_of(tcb);
  evlist_t list {};
  if (_oscsevlist(&list) != 0) return _iqseterr(SQLI_E_NOMEM);
  (void)_sqs_env(&list, tcb);
  _osfreevlist(&list);
  return sqlcode_of(tcb);
}

/* ---- The implicit connection ------------------------------------------------------------- */

int _sqs_(int, sqli_tcb *tcb) {
  if (sqlcode_of(tcb) < 0) return sqlcode_of(tcb);
  (void)rldctype();
  if (conlist.mode == sqli_mode_none ||
      (conlist.mode == sqli_mode_implicit && get_forkflag() == 0)) {
    sqli_connect_open(1, SQLI_CONNECT_IMPLICIT, nullptr, nullptr, nullptr, 0);
    return sqlcode_of(tcb);
  }
  if (tcb->curconn != nullptr) return sqlcode_of(tcb);
  return _iqseterr(conlist.mode == sqli_mode_explicit ? e_implicit_refused : e_no_conn);
}

/* ---- Accessors ----------------------------------------------------------------------------- */

sqli_conn *dvz_getcur_conn(void) {
  sqli_tcb *tcb = getsqlitcb();
  return tcb != nullptr ? tcb->curconn : nullptr;
}

char *dvz_getcur_conn_name(void) {
  sqli_conn *conn = dvz_getcur_conn();
  return conn != nullptr ? conn->name : nullptr;
}

int _sqcurconninfo(char **server, char **host, char *type) {
  sqli_conn *conn = dvz_getcur_conn();
  if (conn == nullptr) return -1;
  *server = conn->server_name;
  *host = conn->host_name;
  *type = conn->server_type;
  return 0;
}

int _imp_def_conn(sqli_tcb *tcb) {
  return tcb->curconn != nullptr && tcb->curconn == conlist.deflt &&
                 conlist.default_kind == sqli_default_implicit
             ? 1
             : 0;
}

int _iqftodflag(sqli_tcb *tcb) { return tcb->curconn != nullptr ? tcb->curconn->dbflags[3] : 0; }

int dvz_xactevent(int16_t *event) {
  sqli_conn *conn = dvz_getcur_conn();
  if (conn == nullptr) return e_no_conn;
  if ((conn->capabilities & sqli_cap_extended) == 0) return e_no_events;
  if (conn->xact_event[0] == -1) return e_no_event;
  for (int i = 0; i < 3; ++i)
    event[i] = conn->xact_event[i];
  conn->xact_event[0] = -1;
  return 0;
}

/* ---- User records --------------------------------------------------------------------------- */

/* A kind-1 record, its pair of text pointers and the texts are one block. */
dvz_conn_user *dvz_alloc_conn_user(const char *user, const char *password) {
  const size_t nu = user != nullptr ? std::strlen(user) + 1 : 0;
  const size_t np = password != nullptr ? std::strlen(password) + 1 : 0;
  const size_t head = sizeof(dvz_conn_user) + 2 * sizeof(char *);
  auto *block = static_cast<char *>(sqli_alloc(head + nu + np));
  if (block == nullptr) return nullptr;
  auto *rec = reinterpret_cast<dvz_conn_user *>(block);
  auto **pair = reinterpret_cast<char **>(block + sizeof(dvz_conn_user));
  char *texts = block + head;
  pair[0] = nu != 0 ? static_cast<char *>(std::memcpy(texts, user, nu)) : nullptr;
  pair[1] = np != 0 ? static_cast<char *>(std::memcpy(texts + nu, password, np)) : nullptr;
  rec->kind = DVZ_CONN_USER_PASSWORD;
  rec->data = pair;
  return rec;
}

void dvz_free_conn_user(dvz_conn_user **user) {
  if (user == nullptr) return;
  sqli_release(*user);
  *user = nullptr;
}

dvz_conn_user *dvz_alloc_conn_cred(void *credential) {
  auto *rec = static_cast<dvz_conn_user *>(sqli_alloc(sizeof(dvz_conn_user)));
  if (rec == nullptr) return nullptr;
  rec->kind = DVZ_CONN_USER_CREDENTIAL;
  rec->data = credential;
  return rec;
}

void dvz_free_conn_cred(dvz_conn_user **user) { dvz_free_conn_user(user); }

/* ---- No-op locks ------------------------------------------------------------------------------ */

int _sqLockList(void) { return 0; }
int _sqUnlockList(void) { return 0; }
int _sqLockGlobal(void) { return 0; }
int _sqUnlockGlobal(void) { return 0; }
int _sqThreadCleanup(void) { return 0; }

/* ---- CONNECT ------------------------------------------------------------------------------------ */

namespace {

/* What CONNECT changed in the list, to be undone when it fails. */
struct entry_undo {
  int32_t kind;
  int32_t mode;
  sqli_conn *deflt;
};

/* Enters conn by connect type; returns what to restore on failure. */
entry_undo enter_conn(sqli_conn *conn, int32_t type, sqli_tcb *tcb) {
  const entry_undo undo {conlist.default_kind, conlist.mode, conlist.deflt};
  switch (type) {
    case SQLI_CONNECT_TO:
      conlist.mode = sqli_mode_explicit;
      conn->next = conlist.head;
      conlist.head = conn;
      break;
    case SQLI_CONNECT_DEFAULT:
      conlist.deflt = conn;
      conlist.default_kind = sqli_default_explicit;
      conlist.mode = sqli_mode_explicit;
      break;
    case SQLI_CONNECT_IMPLICIT:
      conlist.deflt = conn;
      conlist.default_kind = sqli_default_implicit;
      conlist.mode = sqli_mode_implicit;
      break;
    default: /* tape utility */
      conlist.mode = sqli_mode_explicit;
      conlist.default_kind = sqli_default_explicit;
      conlist.deflt = tcb->curconn;
      conn->next = conlist.head;
      conlist.head = conn;
      break;
  }
  return undo;
}

/* Takes a record whose association could not be made out of the list,
** restores the list as it was, and frees it. The error stays. */
void unenter_conn(sqli_conn *conn, const entry_undo &undo, sqli_conn *prev, sqli_tcb *tcb) {
  unlink_named(conn);
  conlist.deflt = undo.deflt;
  conlist.default_kind = undo.kind;
  conlist.mode = undo.mode;
  if (tcb->curconn == conn) {
    tcb->curconn = nullptr;
    tcb->request_active = 0;
  }
  free_connp(conn);
  if (prev != nullptr && sqli_conn_listed(prev) != 0) set_cur_conn(prev, tcb);
}

/* Checks the type against the list: 0, or the error recorded. */
int check_connect_type(int32_t type, const char *cname) {
  switch (type) {
    case SQLI_CONNECT_TO:
    case SQLI_CONNECT_TAPE:
      return srch_connection(cname) != nullptr ? _iqseterr(e_in_use) : 0;
    case SQLI_CONNECT_DEFAULT:
      return conlist.deflt != nullptr ? _iqseterr(e_in_use) : 0;
    case SQLI_CONNECT_IMPLICIT:
      if (conlist.mode == sqli_mode_explicit) return _iqseterr(e_implicit_refused);
      return conlist.deflt != nullptr ? _iqseterr(e_in_use) : 0;
    default:
      return _iqseterr(e_bad_type);
  }
}

}  // namespace

extern "C" void sqli_connect_open(int32_t, int32_t type, const char *dbenv, const char *name,
                                  void *user, int32_t concurrent) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return;
  gls_env *env = nullptr;
  if (const int rc = dvz_connect_glsenv(&env); rc != 0) {
    _iqseterr(rc);
    return;
  }
  if (_sqclrca(tcb) != 0 || asf_init(tcb) != 0) return;
  tcb->connect_stmt = 1;

  if (type == SQLI_CONNECT_TO && (dbenv == nullptr || *dbenv == '\0')) {
    _iqseterr(SQLI_E_BAD_DBENV);
    return;
  }
  if (name != nullptr && *name == '\0') {
    _iqseterr(e_empty_name);
    return;
  }
  const char *cname = name != nullptr ? name : dbenv;
  if (type == SQLI_CONNECT_TAPE && name == nullptr && (dbenv == nullptr || *dbenv == '\0'))
    cname = sqli_tape_conn_name;

  sqli_conn *prev = tcb->curconn;
  if (prev != nullptr && prev->concurrent == 0 && tx_active(prev, e_current_tx, tcb) != 0) return;
  prev = tcb->curconn; /* a protocol error in the query has closed it */
  if (check_connect_type(type, cname) != 0) return;

  sqli_conn *conn = alloc_connp(dbenv, cname, static_cast<const dvz_conn_user *>(user), concurrent);
  if (conn == nullptr) return;
  conn->glsenv = env;
  if (_sqMarkConnection(conn) != 0) {
    free_connp(conn);
    return;
  }
  const entry_undo undo = enter_conn(conn, type, tcb);

  int rc = asf_connect(conn, nullptr, type == SQLI_CONNECT_IMPLICIT ? 1 : 0, tcb,
                       type == SQLI_CONNECT_TAPE ? 1 : 0);
  if (rc == 0) {
    rc = asf_getattribute(conn->io->svcctl.ascid, &conn->server_name, &conn->host_name,
                          &conn->server_type);
    if (rc == 0) rc = set_conn_globals(conn, tcb);
    /* The association exists: give it up rather than leave it open. */
    if (rc != 0) drop_association(conn, tcb);
  }
  if (rc != 0) {
    unenter_conn(conn, undo, prev, tcb);
    return;
  }

  if (prev != nullptr && prev != conn) _sqUnmarkConnection(prev);
  /* A failed handshake has closed and freed the record already. */
  if (_sqverifyver(tcb, &conn->capabilities, conn->server_version) != 0) return;
  if (sqli_conn_listed(conn) == 0) return;

  if ((conn->capabilities & sqli_cap_current) == 0) {
    conn->dbflags[3] = 1;
    tcb->sqlca->sqlwarn.sqlwarn4 = 'W';
  }
  switch (type) {
    case SQLI_CONNECT_TO:
      set_names(conn, tcb);
      if (dbenv[0] != '@') conn->dbopen = 1;
      break;
    case SQLI_CONNECT_IMPLICIT:
      set_names(nullptr, tcb);
      conn->dbopen = 1;
      break;
    case SQLI_CONNECT_TAPE:
      set_names(conn, tcb);
      break;
    default:
      set_names(nullptr, tcb);
      break;
  }
  conn->optofc = env_is_one("OPTOFC") ? 1 : 0;
  conn->optmsg = env_is_one("OPTMSG") ? 1 : 0;
  if (const char *delim = ggetenv("DELIMIDENT"); delim != nullptr)
    (void)copy_text(delim, &conn->delimident);
  set_forkflag(1);
  _sqsetCODE(tcb);
  (void)send_secondary_env_list(conn, tcb);
  /* A protocol error in the environment's reply has closed and freed the
  ** record: nothing of it is read again. */
  if (sqli_conn_listed(conn) == 0) return;
  trace_connect(sqdbg_connect, conn->name, conn->dbenv, static_cast<int>(type));
}

/* ---- DISCONNECT ---------------------------------------------------------------------------------- */

namespace {

/* Records a failure of DISCONNECT itself. With keep set, an error
** already recorded (the one that made the runtime close) stays instead. */
void close_error(int code, int32_t keep, sqli_tcb *tcb) {
  if (keep != 0 && sqlcode_of(tcb) < 0) return;
  _iqseterr(code);
}

/* Closes one connection found by DISCONNECT: kept when a transaction is
** open, otherwise freed (also when closing failed, the error kept). */
void close_one(sqli_conn *conn, int32_t mode, sqli_tcb *tcb) {
  if (conn != tcb->curconn && _sqMarkConnection(conn) != 0) return;
  const int rc = disconnect_single(conn, mode, tcb);
  if (rc == -1) return;
  if (sqli_conn_listed(conn) != 0) forget_conn(conn, tcb);
}

}  // namespace

extern "C" void sqli_connect_close(int32_t type, const char *name, int32_t mode, int32_t keep) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr) return;
  if (keep == 0 && _sqclrca(tcb) != 0) return;
  char traced[trace_dbenv_max + 1] = "";

  switch (type) {
    case SQLI_DISCONNECT_NAMED:
    case SQLI_DISCONNECT_TAPE: {
      if (name != nullptr && *name == '\0') {
        close_error(e_empty_name, keep, tcb);
        return;
      }
      const char *lookup = name;
      if (lookup == nullptr && type == SQLI_DISCONNECT_TAPE) lookup = sqli_tape_conn_name;
      sqli_conn *conn = srch_connection(lookup);
      if (conn == nullptr) {
        close_error(e_no_conn, keep, tcb);
        return;
      }
      if (conn->dbenv != nullptr) std::strncat(traced, conn->dbenv, trace_dbenv_max);
      close_one(conn, mode, tcb);
      break;
    }
    case SQLI_DISCONNECT_DEFAULT:
    case SQLI_DISCONNECT_IMPLICIT:
      if (conlist.deflt == nullptr) {
        close_error(e_no_conn, keep, tcb);
        return;
      }
      close_one(conlist.deflt, mode, tcb);
      break;
    case SQLI_DISCONNECT_ALL:
      (void)disconnect_all(mode, tcb);
      break;
    case SQLI_DISCONNECT_CURRENT: {
      sqli_conn *conn = tcb->curconn;
      if (conn == nullptr) {
        close_error(e_no_conn, keep, tcb);
        return;
      }
      if (conn->dbenv != nullptr && sqli_conn_listed(conn) != 0)
        std::strncat(traced, conn->dbenv, trace_dbenv_max);
      const bool listed = sqli_conn_listed(conn) != 0;
      const int rc = disconnect_single(conn, mode, tcb);
      if (rc == -1) break;
      if (listed) {
        if (sqli_conn_listed(conn) != 0) forget_conn(conn, tcb);
      } else {
        /* Not a record of the list: not ours to free. */
        close_error(e_bad_type, keep, tcb);
        if (tcb->curconn == conn) set_cur_conn(nullptr, tcb);
      }
      break;
    }
    default:
      close_error(e_bad_type, keep, tcb);
      return;
  }

  sqli_conn *cur = tcb->curconn;
  const bool none_left = conlist.deflt == nullptr && conlist.head == nullptr;
  if (cur == nullptr && none_left) set_forkflag(0);
  set_names(cur, tcb);
  if (cur == nullptr && none_left) conlist.mode = sqli_mode_none;
  _sqsetCODE(tcb);
  _sqwarnset(warn_connection, tcb);
  trace_connect(sqdbg_disconnect, name, traced, static_cast<int>(type));
}

/* ---- SET CONNECTION ------------------------------------------------------------------------------ */

extern "C" void sqli_connect_set(int32_t type, const char *name, const char *dormant) {
  sqli_tcb *tcb = CheckGlobInit();
  if (tcb == nullptr || _sqclrca(tcb) != 0) return;
  tcb->connect_stmt = 1;

  sqli_conn *target = nullptr;
  switch (type) {
    case SQLI_DISCONNECT_NAMED:
      if (name == nullptr || *name == '\0') {
        _iqseterr(e_empty_name);
        return;
      }
      target = srch_connection(name);
      break;
    case SQLI_DISCONNECT_DEFAULT:
      target = conlist.deflt;
      break;
    case SQLI_DISCONNECT_CURRENT:
      target = tcb->curconn;
      break;
    default:
      _iqseterr(e_bad_type);
      return;
  }
  if (target == nullptr) {
    _iqseterr(e_no_conn);
    return;
  }

  if (dormant != nullptr) {
    if (target != tcb->curconn) {
      _iqseterr(e_not_current);
      return;
    }
    if (target->concurrent == 0 && tx_active(target, e_open_tx, tcb) != 0) return;
    _sqUnmarkConnection(target);
    set_cur_conn(nullptr, tcb);
    set_names(nullptr, tcb);
    _sqsetCODE(tcb);
    trace_connect(sqdbg_setconnection, name, nullptr, static_cast<int>(type));
    return;
  }

  sqli_conn *cur = tcb->curconn;
  if (cur != nullptr && cur->concurrent == 0 && tx_active(cur, e_current_tx, tcb) != 0) return;
  /* The query may have closed the current connection on a protocol error. */
  if (sqli_conn_listed(target) == 0) return;
  cur = tcb->curconn;
  if (target != cur && _sqMarkConnection(target) != 0) return;
  if (target->glsenv != nullptr) SetGlsEnv(target->glsenv);
  if (cur != nullptr && cur != target) _sqUnmarkConnection(cur);
  set_cur_conn(target, tcb);
  set_names(type == SQLI_DISCONNECT_NAMED ? target : nullptr, tcb);
  _sqsetCODE(tcb);
  int warn = warn_connection;
  for (int i = 0; i < 6; ++i)
    if (target->dbflags[i] != 0) warn |= warn_dbflags[i];
  _sqwarnset(warn, tcb);
  gen_setansidb(target->dbflags[1]);
  dvzGEN_setFloatType(target->io->float_format);
  trace_connect(sqdbg_setconnection, name, nullptr, static_cast<int>(type));
}
