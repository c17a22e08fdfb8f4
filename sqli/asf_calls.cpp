/*
** The runtime's calls of the association services, all through the seam
** sqli_asf: their one-time start, the directory's server list, the connect
** request and the reading of its response, the server entry, release,
** abort, interrupt and termination, the signal-mode switch, the sorted
** list of servers and the database list over all of them.
**
** Every call prepares its own control record (flags 1, no time-out, the
** association where there is one) and records a failure from it. A
** positive status is never recorded as success: it becomes its negative.
*/
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "asf_call.h"
#include "asf_connect_records.h"
#include "gen_strings.h"
#include "os_conv.h"
#include "os_env.h"
#include "os_glsenv.h"
#include "os_lconv.h"
#include "os_trace.h"
#include "sqli_asf.h"
#include "sqli_conn.h"
#include "sqli_diag_internal.h"
#include "sqli_errors.h"
#include "sqli_request.h"
#include "sqli_seams.h"
#include "sqli_text.h"
#include "sqli_wire.h"

/* Set once the association services have been started in this process. */
int _iqconnct_asf_init_done = 0;

namespace {

/* The signal function handed to the services' start; sqlsignal clears it. */
void (*sigfunc)(int) = nullptr;

/* Request words of the connect service the runtime fills and reads. */
enum {
  connect_word_namekind = 2,
  connect_word_dbenv = 3,
  connect_word_retries = 4,
  connect_word_status = 5,
  connect_word_params = 7,
  connect_word_envlist = 8,
  connect_word_request = 9,
  connect_word_srvparams = 10,
  connect_word_response = 12,
  connect_word_assoc = 13
};
/* Name kinds of connect word 2: a database environment, the server alone. */
enum { name_kind_dbenv = 3, name_kind_server = 7 };
/* Attribute code of the server entry. */
constexpr uintptr_t attribute_server_entry = 7;
/* Sizes of the parts of a database environment (with the NUL). */
constexpr int server_part_size = 129;
constexpr int database_part_size = 261;

asfsvcctl fresh_ctl(void *assoc) {
  asfsvcctl ctl {};
  ctl.flags = asf_flag_sync;
  ctl.timeout = -1;
  ctl.ascid = assoc;
  return ctl;
}

/* Records the failure left in ctl; returns -1. */
int record_failure(const asfsvcctl &ctl) {
  _iqset2err(sqli_asf_status(ctl.asfcode), ctl.oserr, ctl.errstr);
  return -1;
}

/* One call of service code on assoc with request word 1 set to word1. */
int simple_call(int code, void *assoc, uintptr_t word1, asfsvcctl *ctl) {
  *ctl = fresh_ctl(assoc);
  asfsvcreq req {};
  ASF_Init(code, &req);
  req.word[1] = word1;
  return sqli_asf->call(ctl, &req);
}

char *copy_text(const char *text, size_t n) {
  auto *out = static_cast<char *>(sqli_alloc(n + 1));
  if (out == nullptr) return nullptr;
  if (n > 0) std::memcpy(out, text, n);
  out[n] = '\0';
  return out;
}

/* The client-to-database converter, or null when none is needed or a
** DBAPICODE map translates. */
gl_cv_desc *client_db_converter() {
  if (_sqdbapi != 0) return nullptr;
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_client_db : nullptr;
}

/* text converted to the database code set into *out (a new text, freed
** with std::free), or *out null when no conversion applies. 0 or -1. */
int to_database(const char *text, char **out) {
  *out = nullptr;
  gl_cv_desc *cv = client_db_converter();
  if (cv == nullptr || text == nullptr || text[0] == '\0') return 0;
  if (gcv_malloc(cv, text, nullptr, out) < 0) {
    std::free(*out);
    *out = nullptr;
    return -1;
  }
  return 0;
}

/* A positive integer from the environment variable name, or 0. */
int env_positive(const char *name) {
  const char *v = ggetenv(name);
  const int n = v != nullptr ? std::atoi(v) : 0;
  return n > 0 ? n : 0;
}

/* What asf_connect owns while it runs; released on every way out. */
struct ConnectScratch {
  char *dbpath = nullptr;
  char *dbenv_db = nullptr; /* word 3 in the database code set */
  char *dbname_db = nullptr; /* the pfconkind's database in the database code set */
  evlist_t envlist {};
  bool envlist_made = false;
  ~ConnectScratch() {
    sqli_release(dbpath);
    std::free(dbenv_db);
    std::free(dbname_db);
    if (envlist_made) _osfreevlist(&envlist);
  }
};

}  // namespace

int sqli_asf_status(int32_t asfcode) {
  if (asfcode > 0 && asfcode != asf_status_running) return -asfcode;
  return asfcode != 0 ? asfcode : -1;
}

/* ---- Start, end, signal mode ------------------------------------------------------ */

int asf_init(sqli_tcb *tcb) {
  if (_iqconnct_asf_init_done != 0) return 0;
  /* One transport entry whose names and numbers are the defaults. */
  static const ascpairs protocol_entry {"", -1, "", -1, 0};
  static_assert(sizeof protocol_entry == 28, "a transport entry is 28 bytes");
  const auto options = static_cast<uint32_t>(tcb != nullptr ? tcb->asf_options : 0);
  asfsvcctl ctl = fresh_ctl(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  req.word[1] = 0x11u | options;
  req.word[2] = options;
  req.word[3] = reinterpret_cast<uintptr_t>(sigfunc);
  req.word[4] = 10;
  req.word[5] = 0;
  req.word[6] = 100;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(&protocol_entry);
  if (sqli_asf->call(&ctl, &req) != 0) return record_failure(ctl);
  _sqdbgsetup(0);
  _iqconnct_asf_init_done = 1;
  return 0;
}

void asf_term(void) {
  asfsvcctl ctl;
  (void)simple_call(asf_svc_term, nullptr, 0, &ctl);
  _iqconnct_asf_init_done = 0;
}

extern "C" void sqlsignal(int, void *, int mode) {
  sigfunc = nullptr;
  if (_iqconnct_asf_init_done == 0) {
    sqli_tcb *tcb = CheckGlobInit();
    if (tcb != nullptr) tcb->asf_options = mode == 0 || mode == 2 ? 4 : 0;
    return;
  }
  if (mode != 0) (void)sqli_asf->sig_switch(mode);
}

/* ---- Directory ------------------------------------------------------------------ */

char *asf_dbpath(void) {
  asfsvcctl ctl = fresh_ctl(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_directory, &req);
  if (sqli_asf->call(&ctl, &req) != 0) {
    record_failure(ctl);
    return nullptr;
  }
  auto *reg = reinterpret_cast<NSReg *>(req.word[6]);
  std::string text;
  const int count = reg != nullptr ? std::clamp(reg->count, 0, NS_MAX_ENTRIES) : 0;
  for (int i = 0; i < count; ++i) {
    const NSEntry &e = reg->entry[i];
    text += "//";
    if (e.servername != nullptr) text += e.servername;
    if (e.dbpath != nullptr && e.dbpath[0] != '\0') {
      if (e.dbpath[0] != '/') text += '/';
      text += e.dbpath;
    }
    text += ':';
  }
  if (!text.empty()) text.pop_back();
  if (reg != nullptr) sqli_asf->free_nsreg(reg);
  char *out = copy_text(text.data(), text.size());
  if (out == nullptr) _iqseterr(SQLI_E_NOMEM);
  return out;
}

/* ---- Connect ---------------------------------------------------------------------- */

int proc_srvrresp(const pfrequest *response, sqli_tcb *tcb) {
  const auto *status = response != nullptr && response->type == asc_pf_status
                           ? static_cast<const pfstatus *>(response->rec)
                           : nullptr;
  if (status == nullptr || status->subkind != asc_sub_status) {
    /* The response belongs to an association that is not a connection
    ** yet: the error is recorded and the caller aborts that association;
    ** the current connection is not touched. */
    if (tcb->sqlca->sqlcode >= 0) _iqseterr(SQLI_E_PROTOCOL);
    return -1;
  }
  if (status->errnum != 0) {
    _iqset2err(status->errnum, status->isamerr, nullptr);
    if (status->count != 0 && status->msgs != nullptr) {
      const pfmsgent &m = status->msgs[0];
      sqlca_s *ca = tcb->sqlca;
      ca->sqlerrd[4] = m.offset;
      const int n = m.text != nullptr ? std::clamp(m.length, 0, int(sqli_errm_max)) : 0;
      if (n > 0) std::memcpy(ca->sqlerrm, m.text, static_cast<size_t>(n));
      ca->sqlerrm[n] = '\0';
    }
    return -1;
  }
  _sqsetCODE(tcb);
  _sqwarnset(status->warnbits, tcb);
  return 0;
}

int asf_connect(sqli_conn *conn, const pfconkind *conkind, int implicit, sqli_tcb *tcb, int tape) {
  rmoninit(0);
  if (int rc = chkglsinit(); rc != 0) {
    _iqseterr(rc);
    return -1;
  }
  ConnectScratch scratch;
  scratch.dbpath = asf_dbpath();
  if (scratch.dbpath == nullptr) return -1;

  asfsvcctl ctl = fresh_ctl(nullptr);
  asfsvcreq req {};
  ASF_Init(asf_svc_connect, &req);

  if (ggetenv("DBAPICODE") != nullptr) {
    CPDBTOVAR = _sqDBtoVAR;
    CPVARTODB = _sqVARtoDB;
    _sqdbapi = 1;
  } else {
    _sqdbapi = 0;
  }

  char server[server_part_size] = "";
  char database[database_part_size] = "";
  int32_t path = 0;
  const char *dbenv = conn->dbenv;
  if (dbenv == nullptr || dbenv[0] == '\0') {
    req.word[connect_word_namekind] = name_kind_server;
  } else {
    int32_t slash_form = 0;
    if (_gpdbenv(dbenv, server, sizeof server, database, sizeof database, &path, &slash_form) !=
            0 ||
        (slash_form != 0 && server[0] != '\0')) {
      _iqseterr(SQLI_E_BAD_DBENV);
      return -1;
    }
    req.word[connect_word_namekind] = name_kind_dbenv;
    if (to_database(dbenv, &scratch.dbenv_db) != 0) {
      _iqseterr(SQLI_E_BAD_DBENV);
      return -1;
    }
  }
  req.word[connect_word_dbenv] =
      reinterpret_cast<uintptr_t>(scratch.dbenv_db != nullptr ? scratch.dbenv_db : dbenv);
  const int retries = env_positive("DOVARIZACONRETRY");
  req.word[connect_word_retries] = static_cast<uintptr_t>(retries > 0 ? retries : 1);
  req.word[connect_word_status] = reinterpret_cast<uintptr_t>(&conn->connect_word);

  static char client_version[] = "9.250";
  static char client_id[] = "dvzsqli";
  static char family[] = "sqli";
  ascbinreq params {};
  std::strcpy(params.progname, tape != 0 ? "ruzodu" : "sqlexec");
  params.version = client_version;
  params.clientid = client_id;
  params.pfname = family;
  params.word[0] = 311;
  params.userkind = conn->user_kind;
  params.user = conn->user;
  params.password = conn->password;
  params.credential = conn->credential;
  params.pairs = {"", -1, "", -1, 0};
  req.word[connect_word_params] = reinterpret_cast<uintptr_t>(&params);

  if (_oscpevlist(&scratch.envlist, scratch.dbpath) != 0) {
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  scratch.envlist_made = true;
  req.word[connect_word_envlist] = reinterpret_cast<uintptr_t>(&scratch.envlist);

  pfconkind kind {};
  if (conkind != nullptr) {
    kind = *conkind;
    if (kind.kind != asc_kind_create) _sqclrca(tcb);
  } else {
    kind.kind = implicit == 0         ? asc_kind_connect
                : database[0] != '\0' ? asc_kind_open
                                      : asc_kind_nodb;
    kind.flags = path != 0 ? asc_flag_logpath : asc_flag_logword | asc_flag_logpath;
    kind.str[asc_str_server] = server[0] != '\0' ? server : nullptr;
    if (database[0] != '\0') {
      if (to_database(database, &scratch.dbname_db) != 0) {
        _iqseterr(SQLI_E_NOMEM);
        return -1;
      }
      kind.str[asc_str_dbname] = scratch.dbname_db != nullptr ? scratch.dbname_db : database;
    }
  }
  pfrequest request {asc_pf_conkind, &kind};
  req.word[connect_word_request] = reinterpret_cast<uintptr_t>(&request);

  const int contime = env_positive("DOVARIZACONTIME");
  ctl.timeout = contime > 0 ? contime * 1000 : -1;

  if (sqli_asf->call(&ctl, &req) != 0) {
    const auto *response = reinterpret_cast<const pfrequest *>(req.word[connect_word_response]);
    void *assoc =
        ctl.ascid != nullptr ? ctl.ascid : reinterpret_cast<void *>(req.word[connect_word_assoc]);
    if (ctl.asfcode == asf_status_rejected && response != nullptr) {
      proc_srvrresp(response, tcb);
    } else {
      record_failure(ctl);
    }
    /* Only a refused connect leaves its association for the caller. */
    if (ctl.asfcode == asf_status_rejected && assoc != nullptr) {
      const sqlca_s saved = *tcb->sqlca;
      (void)asf_abort(assoc, 1);
      *tcb->sqlca = saved;
      *tcb->sqlcode = saved.sqlcode;
    }
    return -1;
  }
  if (proc_srvrresp(reinterpret_cast<const pfrequest *>(req.word[connect_word_response]), tcb) !=
      0) {
    /* The server answered with an error on an open association: it goes,
    ** keeping the server's error. */
    const sqlca_s saved = *tcb->sqlca;
    (void)asf_abort(ctl.ascid, 1);
    *tcb->sqlca = saved;
    *tcb->sqlcode = saved.sqlcode;
    return -1;
  }
  const auto *srv = reinterpret_cast<const ascbinreq *>(req.word[connect_word_srvparams]);
  conn->server_version = srv != nullptr ? srv->word[0] : 0;
  if (conn->io != nullptr) {
    conn->io->svcctl.ascid = ctl.ascid;
    conn->io->svcctl.flags = asf_flag_sync;
    conn->io->svcctl.timeout = -1;
  }
  return 0;
}

/* ---- Services on an association ----------------------------------------------------- */

int asf_getattribute(void *assoc, char **server, char **host, char *type) {
  *server = nullptr;
  *host = nullptr;
  asfsvcctl ctl = fresh_ctl(assoc);
  asfsvcreq req {};
  ASF_Init(asf_svc_attribute, &req);
  req.word[1] = attribute_server_entry;
  if (sqli_asf->call(&ctl, &req) != 0) return record_failure(ctl);
  const auto *slot = reinterpret_cast<NSEntry *const *>(req.word[2]);
  const NSEntry *e = slot != nullptr ? *slot : nullptr;
  if (e == nullptr) {
    _iqseterr(SQLI_E_NOT_TCP);
    return -1;
  }
  const char *name = e->servername != nullptr ? e->servername : "";
  char *s = copy_text(name, std::strlen(name));
  if (s == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  if (e->addrkind != 1 || e->addrtext == nullptr) {
    sqli_release(s);
    _iqseterr(SQLI_E_NOT_TCP);
    return -1;
  }
  char *h = copy_text(e->addrtext, std::strcspn(e->addrtext, "|"));
  if (h == nullptr) {
    sqli_release(s);
    _iqseterr(SQLI_E_NOMEM);
    return -1;
  }
  *server = s;
  *host = h;
  *type = std::strncmp(e->product, "se", sizeof e->product) == 0 ? 's' : 'o';
  return 0;
}

int asf_disconnect(void *assoc, sqli_tcb *) {
  asfsvcctl ctl;
  if (simple_call(asf_svc_release, assoc, 0, &ctl) == 0) return 0;
  (void)asf_abort(assoc, 1);
  return -1;
}

int asf_abort(void *assoc, int mode) {
  asfsvcctl ctl;
  if (simple_call(asf_svc_abort, assoc, mode == 2 ? 0 : ASF_ABORT_PASS, &ctl) != 0)
    return record_failure(ctl);
  return 0;
}

void asf_resync(void *assoc) {
  asfsvcctl ctl;
  if (simple_call(asf_svc_resync, assoc, 0, &ctl) != 0) record_failure(ctl);
}

/* ---- Servers and their databases ------------------------------------------------------ */

void free_srv_list(sqli_srvnode *list) {
  while (list != nullptr) {
    sqli_srvnode *next = list->next;
    sqli_release(list);
    list = next;
  }
}

sqli_srvnode *get_srv_list(void) {
  char *dbpath = asf_dbpath();
  if (dbpath == nullptr) return nullptr;
  sqli_srvnode *head = nullptr;
  for (const char *p = std::strstr(dbpath, "//"); p != nullptr; p = std::strstr(p, "//")) {
    p += 2;
    const size_t n = std::strcspn(p, ":/");
    auto *node = static_cast<sqli_srvnode *>(sqli_alloc(sizeof(sqli_srvnode) + n));
    if (node == nullptr) {
      _iqseterr(SQLI_E_NOMEM);
      free_srv_list(head);
      sqli_release(dbpath);
      return nullptr;
    }
    std::memcpy(node->name, p, n);
    node->name[n] = '\0';
    p += n;
    /* Into the list by the locale's collation; a name already there goes. */
    const char *key = node->name;
    sqli_srvnode **at = &head;
    int order = 1;
    while (*at != nullptr) {
      const char *here = (*at)->name;
      order = frmcmpr(&key, &here);
      if (order <= 0) break;
      at = &(*at)->next;
    }
    if (*at != nullptr && order == 0) {
      sqli_release(node);
      continue;
    }
    node->next = *at;
    *at = node;
  }
  sqli_release(dbpath);
  return head;
}

int _getdblist(sqli_dblist *list, const char *suffix, sqli_tcb *tcb) {
  sqli_conn *conn = tcb->curconn;
  if (conn == nullptr || conn->io == nullptr) return -1;
  const int first = list->count;
  _iputint(SQ_DBLIST, conn->io);
  if (_sqr_dblist(list, suffix, tcb) != 0) return -1;
  if (list->count - first > 1)
    std::qsort(list->names + first, static_cast<size_t>(list->count - first), sizeof(char *),
               frmcmpr);
  return 0;
}

int _asf_dblist(int32_t *count, char **names, int32_t max, char *area, int32_t room,
                sqli_tcb *tcb) {
  *count = 0;
  if (asf_init(tcb) != 0) return *tcb->sqlcode;
  sqli_srvnode *servers = get_srv_list();
  sqli_dblist list {0, max, names, area, room};
  std::string failed;
  bool refused = false;
  sqli_conn *previous = tcb->curconn;
  for (sqli_srvnode *s = servers; s != nullptr; s = s->next) {
    const std::string env = std::string("@") + s->name;
    sqli_conn *conn = alloc_connp(env.c_str(), nullptr, nullptr, 0);
    if (conn == nullptr) break;
    if (asf_connect(conn, nullptr, 0, tcb, 0) != 0) {
      if (*tcb->sqlcode != SQLI_E_NO_SERVER) {
        free_connp(conn);
        break;
      }
      refused = true;
    } else {
      void *assoc = conn->io->svcctl.ascid;
      if (set_conn_globals(conn, tcb) == 0) (void)_getdblist(&list, env.c_str(), tcb);
      const sqlca_s saved = *tcb->sqlca;
      /* The list's outcome stands over the release's. */
      if (asf_disconnect(assoc, tcb) != 0 || saved.sqlcode != 0) {
        *tcb->sqlca = saved;
        *tcb->sqlcode = saved.sqlcode;
      }
    }
    if (*tcb->sqlcode != 0) {
      tcb->sqlca->sqlcode = 0;
      *tcb->sqlcode = 0;
      const size_t extra = failed.empty() ? std::strlen(s->name) : std::strlen(s->name) + 1;
      if (failed.size() + extra < sizeof tcb->sqlca->sqlerrm) {
        if (!failed.empty()) failed += ',';
        failed += s->name;
      }
    }
    if (tcb->curconn == conn) set_cur_conn(nullptr, tcb);
    free_connp(conn);
  }
  /* A list taken in the middle of a session leaves its connection current. */
  if (previous != nullptr && sqli_conn_listed(previous)) set_cur_conn(previous, tcb);
  if (refused) _iqset2err(SQLI_E_NO_SERVER, 0, failed.c_str());
  free_srv_list(servers);
  *count = list.count;
  return *tcb->sqlcode;
}
