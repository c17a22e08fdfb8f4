/*
** The hand-over of associations to a program this process is about to
** execute. The termination service (service_call.cpp) calls
** saveGlobData and saveAssocData; the initialisation service of the
** executed program calls getGlobData and getAssocData. An association
** travels as an image made in a serialisation arena (`opblock`): a
** 28-byte header, the connection manager's records (written here by
** cmSave), then the protocol family's, the session layer's and the
** transport's (pfsl_save.cpp, tl_save.cpp and the drivers' save entries).
**
** Images are host byte order (they cross only to a program on this host)
** and keep their fixed sizes whatever the pointer width: pointers become
** 32-bit arena offsets, -1 for none; strings are a 32-bit length counting
** the NUL, then the bytes. Every field is written and read one by one.
** The reader trusts nothing: every record must sit exactly where its
** parent says, every string and count must fit the bytes read, and a
** failed restore frees whatever it had rebuilt.
*/
#include "handover.h"

#include <fcntl.h>
#include <unistd.h>

#include <cassert>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asc_codec.h"
#include "asf_call.h"
#include "asf_memory.h"
#include "cm_records.h"
#include "pf_records.h"
#include "pfsl_save.h"
#include "sl_records.h"
#include "tl_records.h"

namespace {

constexpr int pool = asf_pool_assoc;

/* Sizes of the connection manager's saved records. */
constexpr int32_t parms_size = 88;
constexpr int32_t pfreq_size = 8;
constexpr int32_t detail_size = 32;
constexpr int32_t strlist_size = 8;
constexpr int32_t msgent_size = 12;
constexpr int32_t envlist_size = 12;
constexpr int32_t conattr_size = 44;
constexpr int32_t procinfo_size = 32;
constexpr int32_t battr_req_size = 8;
constexpr int32_t battr_other_size = 12;

/* Room of the static "%s=%d" texts: a name of five and five digits. */
constexpr size_t var_text_size = 12;

/* The used offset after end: rounded up to a multiple of 4 unless the
** arena has OP_NOALIGN, never past the size. */
int32_t advance_to(const opblock *op, int64_t end) {
  if ((op->flags & OP_NOALIGN) == 0) end = (end + 3) & ~int64_t {3};
  return end > op->size ? op->size : static_cast<int32_t>(end);
}

/* Stores count bytes of data as an arena string (length count + 1, the
** bytes, a NUL); null data stores length 0. The address
** of the stored bytes (null for length 0) with *off the offset; null with
** *off -1 when there is no room. */
char *store_run(opblock *op, const char *data, size_t count, int32_t *off, int32_t *len) {
  *off = -1;
  *len = 0;
  const size_t n = data != nullptr ? count + 1 : 0;
  if (n > static_cast<size_t>(INT32_MAX) - 4) {
    errno = ENOMEM;
    return nullptr;
  }
  int32_t o;
  auto *p = static_cast<char *>(opAlloc(op, static_cast<int32_t>(4 + n), &o));
  if (p == nullptr) return nullptr;
  ho_st32(p, static_cast<int32_t>(n));
  if (n > 0) {
    std::memcpy(p + 4, data, count);
    p[4 + count] = '\0';
  }
  *off = o;
  *len = static_cast<int32_t>(n);
  return n > 0 ? p + 4 : nullptr;
}

/* Reads the string stored at off into *out (a new copy, null for length 0
** or off -1) with its length in *len; with advance and off the used
** offset, moves the used offset past it. 0, or -1 for a string that does
** not lie whole within the arena, lacks its NUL, or for memory. */
int load_string(opblock *op, int32_t off, int advance, char **out, int32_t *len) {
  *out = nullptr;
  *len = 0;
  if (off == -1) return 0;
  if (op == nullptr || off < 0 || off > op->size - 4) return -1;
  const int32_t n = ho_ld32(op->buf + off);
  if (n < 0 || n > op->size - off - 4) return -1;
  if (n > 0) {
    if (op->buf[off + 4 + n - 1] != '\0') return -1;
    *out = static_cast<char *>(asf_alloc(op->pool, static_cast<size_t>(n)));
    if (*out == nullptr) return -1;
    std::memcpy(*out, op->buf + off + 4, static_cast<size_t>(n));
  }
  *len = n;
  if (advance == 1 && off == op->used) op->used = advance_to(op, int64_t {off} + 4 + n);
  return 0;
}

void free_str(char *s) {
  if (s != nullptr) asf_free(pool, s);
}

/* ---- Records in an arena. ---- */

/* A record being written or read: its bytes in the arena and its offset. */
struct Rec {
  char *p = nullptr;
  int32_t off = -1;
};

/* A new zeroed record of bytes at the used offset. */
bool new_rec(opblock *op, int32_t bytes, Rec *r) {
  r->p = static_cast<char *>(opAlloc(op, bytes, &r->off));
  if (r->p == nullptr) return false;
  std::memset(r->p, 0, static_cast<size_t>(bytes));
  return true;
}

void put(const Rec &r, int word, int32_t v) { ho_st32(r.p + 4 * word, v); }
int32_t get(const Rec &r, int word) { return ho_ld32(r.p + 4 * word); }

/* Stores s and its offset into word. */
bool put_str(opblock *op, const Rec &r, int word, const char *s) {
  int32_t off;
  if (svOpStr(op, s, &off) != 0) return false;
  put(r, word, off);
  return true;
}

/* Stores count bytes at data as a string and its offset into word. */
bool put_run(opblock *op, const Rec &r, int word, const char *data, int32_t count) {
  int32_t off, len;
  // An empty message is no message: length 0.
  store_run(op, count > 0 ? data : nullptr, count > 0 ? static_cast<size_t>(count) : 0, &off, &len);
  if (off == -1) return false;
  put(r, word, off);
  return true;
}

/* Takes the record of bytes that must begin at expected, the used offset. */
bool take_rec(opblock *op, int32_t expected, int32_t bytes, Rec *r) {
  if (op == nullptr || expected < 0 || expected != op->used) return false;
  r->p = static_cast<char *>(opAlloc(op, bytes, &r->off));
  return r->p != nullptr && r->off == expected;
}

/* Takes count records of size bytes each at expected, after checking that
** they can fit the bytes left. */
bool take_array(opblock *op, int32_t expected, int32_t count, int32_t size, Rec *r) {
  if (op == nullptr || count < 1 || count > (op->size - op->used) / size) return false;
  return take_rec(op, expected, count * size, r);
}

/* The string whose offset word holds, which must be -1 or the used offset;
** *len its stored length (NUL counted). */
bool take_str(opblock *op, const Rec &r, int word, char **out, int32_t *len = nullptr) {
  int32_t n;
  *out = nullptr;
  const int32_t off = get(r, word);
  if (off != -1 && off != op->used) return false;
  if (load_string(op, off, 1, out, &n) != 0) return false;
  if (len != nullptr) *len = n;
  return true;
}

template <typename T>
T *new_record() {
  return static_cast<T *>(asf_alloc(pool, sizeof(T)));
}

/* ---- Process information. ---- */

/* The eight words of info: the strings at words 3 to 5 follow the record. */
bool put_procinfo(opblock *op, const Rec &r, const asfprocinfo *info) {
  put(r, 0, info->word0);
  put(r, 1, info->pid);
  put(r, 2, info->word2);
  put(r, 6, info->uid);
  put(r, 7, info->gid);
  return put_str(op, r, 3, info->host) && put_str(op, r, 4, info->tty) &&
         put_str(op, r, 5, info->cwd);
}

/* Reads the words of put_procinfo into *info (its strings new); on
** failure nothing is kept. */
bool take_procinfo(opblock *op, const Rec &r, asfprocinfo *info) {
  asfprocinfo got {};
  got.word0 = get(r, 0);
  got.pid = get(r, 1);
  got.word2 = get(r, 2);
  got.uid = get(r, 6);
  got.gid = get(r, 7);
  if (!take_str(op, r, 3, &got.host) || !take_str(op, r, 4, &got.tty) ||
      !take_str(op, r, 5, &got.cwd)) {
    ascFreeProcinfo(&got);
    return false;
  }
  *info = got;
  return true;
}

/* ---- Pieces of a response. ---- */

bool save_strlist(opblock *op, const Rec &d, const pfstrlist *list) {
  put(d, 1, -1);
  if (list == nullptr) return true;
  Rec l;
  if (!new_rec(op, strlist_size, &l)) return false;
  put(d, 1, l.off);
  const int32_t count = list->str != nullptr && list->count > 0 ? list->count : 0;
  put(l, 0, count);
  put(l, 1, -1);
  if (count == 0) return true;
  Rec a;
  if (!new_rec(op, count * 4, &a)) return false;
  put(l, 1, a.off);
  for (int32_t i = 0; i < count; ++i)
    if (!put_str(op, a, i, list->str[i])) return false;
  return true;
}

bool save_status(opblock *op, const Rec &d, const pfstatus *st) {
  std::memcpy(d.p + 4, st->raw, sizeof st->raw);
  put(d, 3, st->errnum);
  put(d, 4, st->isamerr);
  put(d, 5, st->warnbits);
  const int32_t count = st->msgs != nullptr && st->count > 0 ? st->count : 0;
  put(d, 6, count);
  put(d, 7, -1);
  if (count == 0) return true;
  Rec e;
  if (!new_rec(op, count * msgent_size, &e)) return false;
  put(d, 7, e.off);
  for (int32_t i = 0; i < count; ++i) {
    const pfmsgent &m = st->msgs[i];
    const Rec ent {e.p + i * msgent_size, e.off + i * msgent_size};
    put(ent, 0, m.offset);
    put(ent, 1, m.text != nullptr ? m.length : 0);
    if (!put_run(op, ent, 2, m.text, m.length)) return false;
  }
  return true;
}

/* Fills st (a sub-kind 1 record) from the list at d's word 1. */
bool load_strlist(opblock *op, const Rec &d, pfstatus *st) {
  const int32_t loff = get(d, 1);
  if (loff == -1) return true;
  Rec l;
  if (!take_rec(op, loff, strlist_size, &l)) return false;
  st->list = new_record<pfstrlist>();
  if (st->list == nullptr) return false;
  const int32_t count = get(l, 0);
  if (count < 0) return false;
  if (count == 0) return true;
  Rec a;
  if (!take_array(op, get(l, 1), count, 4, &a)) return false;
  st->list->str = static_cast<char **>(asf_alloc(pool, sizeof(char *) * size_t(count)));
  if (st->list->str == nullptr) return false;
  st->list->count = count;
  for (int32_t i = 0; i < count; ++i)
    if (!take_str(op, a, i, &st->list->str[i])) return false;
  return true;
}

/* Fills st (a sub-kind 2 record) from d and its entries. */
bool load_status(opblock *op, const Rec &d, pfstatus *st) {
  std::memcpy(st->raw, d.p + 4, sizeof st->raw);
  st->errnum = get(d, 3);
  st->isamerr = get(d, 4);
  st->warnbits = get(d, 5);
  const int32_t count = get(d, 6);
  if (count < 0) return false;
  if (count == 0) return true;
  Rec e;
  if (!take_array(op, get(d, 7), count, msgent_size, &e)) return false;
  st->msgs = static_cast<pfmsgent *>(asf_alloc(pool, sizeof(pfmsgent) * size_t(count)));
  if (st->msgs == nullptr) return false;
  st->count = count;
  for (int32_t i = 0; i < count; ++i) {
    const Rec ent {e.p + i * msgent_size, e.off + i * msgent_size};
    pfmsgent &m = st->msgs[i];
    m.offset = get(ent, 0);
    int32_t n = 0;
    if (!take_str(op, ent, 2, &m.text, &n)) return false;
    m.length = n > 0 ? n - 1 : 0;
  }
  return true;
}

/* Frees the connection manager's connect attributes of al. */
void free_battr(alctl *al) {
  asfcmarea *cm = &al->cm;
  frBParms(pool, static_cast<ascbinreq *>(cm->connparms));
  cm->connparms = nullptr;
  if (al->kind == asf_kind_requester)
    frResp(pool, static_cast<pfrequest *>(cm->reqrsp));
  else
    frReq(pool, static_cast<pfrequest *>(cm->reqrsp));
  cm->reqrsp = nullptr;
  frSqlEnv(pool, static_cast<evlist_t *>(cm->envlist));
  cm->envlist = nullptr;
}

/* Frees the connection attributes' strings. */
void free_alattr(asfcmarea *cm) {
  frPInfo(pool, &cm->peer);
  free_str(cm->peertext);
  cm->peertext = nullptr;
}

/* ---- The hand-over. ---- */

/* The variable of each kind (the global record is kind 0). */
constexpr const char *var_names[] = {HO_VAR_GLOBAL, HO_VAR_REQUESTER, HO_VAR_ACCEPTED,
                                     HO_VAR_LISTENER};
/* The init request words of each association kind: status-byte area, id. */
struct KindWords {
  int area;
  int id;
};
constexpr KindWords kind_words[] = {
    {0, 0},
    {ho_word_req_area, ho_word_req_id},
    {ho_word_acc_area, ho_word_acc_id},
    {ho_word_lsn_area, ho_word_lsn_id},
};

int system_pipe(int fds[2]) { return pipe(fds); }
const ho_pipe_seam system_pipes = {system_pipe};

int fail(asfsvcctl *ctl, int status) {
  if (ctl != nullptr) ctl->asfcode = status;
  return status;
}

/* Closes fd; an interrupted close has closed it too on this system. */
int close_fd(int fd) {
  int rc = close(fd);
  return rc == 0 || errno == EINTR ? 0 : -1;
}

/* Reads up to room bytes from fd until its end, retrying interrupted
** reads: the count, or -1. */
ssize_t read_all(int fd, char *to, size_t room) {
  size_t got = 0;
  while (got < room) {
    ssize_t n = read(fd, to + got, room - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

/* The descriptor a hand-over variable names: all digits, within an int,
** and open. -1 otherwise. */
int parse_fd(const char *text) {
  if (text == nullptr || *text == '\0') return -1;
  long v = 0;
  for (const char *p = text; *p != '\0'; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p)) == 0) return -1;
    v = v * 10 + (*p - '0');
    if (v > INT_MAX) return -1;
  }
  const int fd = static_cast<int>(v);
  return fcntl(fd, F_GETFD) == -1 ? -1 : fd;
}

/* The global queue of kind, with its count. */
bool queue_of(ASFGLBCTL *g, int kind, Assocctl ***head, int32_t **count) {
  switch (kind) {
    case asf_kind_requester:
      *head = &g->reqq;
      *count = &g->nreq;
      return true;
    case asf_kind_accepted:
      *head = &g->accq;
      *count = &g->nacc;
      return true;
    case asf_kind_listener:
      *head = &g->lsnq;
      *count = &g->nlsn;
      return true;
    default:
      return false;
  }
}

/* A control record of the services' own for assoc. */
asfsvcctl own_ctl(Assocctl *assoc) {
  asfsvcctl c {};
  c.flags = asf_flag_sync;
  c.timeout = -1;
  c.ascid = assoc;
  return c;
}

/* Puts the layers of a save that did not complete back in their working
** states, so that the abort that follows closes the connection here. */
void unsave(Assocctl *assoc) {
  if (auto *tb = static_cast<tlblock *>(assoc->tlblock);
      tb != nullptr && tb->state == tl_state_saved)
    tb->state = tl_state_connected;
  if (assoc->pfstate != ASF_PF_ALLOCATED) return;
  if (auto *s = static_cast<slsession *>(assoc->slblock);
      s != nullptr && s->state == SL_STATE_SAVED)
    s->state = sl_state_connected;
  if (auto *pf = static_cast<pfblock *>(assoc->pfblock);
      pf != nullptr && pf->state == pf_state_saved)
    pf->state = pf_state_connected;
}

/* Aborts assoc here and frees it: the connection manager's disconnect
** (a saved connection stays open for the executed program), off its
** queue, state 4 then 7, freed. */
void discard(Assocctl *assoc, ASFGLBCTL *g, Assocctl **head, int32_t *count) {
  asfsvcctl actl = own_ctl(assoc);
  asfsvcreq areq {};
  ASF_Init(asf_svc_abort, &areq);
  cmDiscon(&actl, asf_svc_abort, &areq);
  assoc->al->state = asf_state_aborting;
  delAssocInQ(&g->lock, head, assoc, count);
  assoc->al->state = asf_state_aborted;
  alCSfree(assoc);
}

/* A request or response record: {i16 type, offset of its 32-byte detail}.
** Makes both in the arena; false when there is no room. */
bool new_typed_rec(opblock *op, int16_t type, Rec *r, Rec *d) {
  if (!new_rec(op, pfreq_size, r)) return false;
  std::memcpy(r->p, &type, sizeof type);
  if (!new_rec(op, detail_size, d)) return false;
  put(*r, 1, d->off);
  return true;
}

/* Takes the record at off and its detail; false unless its type is type. */
bool take_typed_rec(opblock *op, int32_t off, int16_t type, Rec *r, Rec *d) {
  if (!take_rec(op, off, pfreq_size, r)) return false;
  int16_t got;
  std::memcpy(&got, r->p, sizeof got);
  return got == type && take_rec(op, get(*r, 1), detail_size, d);
}

}  // namespace

extern "C" {

const ho_pipe_seam *ho_pipe_override = nullptr;

// ---- The arena. ----

opblock *opInit(uint32_t flags, int pool_, void *buf, int32_t size) {
  if (size < 0 || (size > 0 && buf == nullptr)) return nullptr;
  if ((flags & OP_NOALIGN) == 0 && (reinterpret_cast<uintptr_t>(buf) & 3u) != 0) return nullptr;
  auto *op = static_cast<opblock *>(asf_alloc(pool_, sizeof(opblock)));
  if (op == nullptr) return nullptr;
  op->flags = flags;
  op->pool = pool_;
  op->buf = static_cast<char *>(buf);
  op->size = size;
  op->used = 0;
  return op;
}

int opTerm(opblock *op) {
  if (op == nullptr) return -1;
  return asf_free(op->pool, op);
}

void *opAlloc(opblock *op, int32_t n, int32_t *off) {
  errno = 0;
  if (off != nullptr) *off = -1;
  if (op == nullptr || n <= 0) return nullptr;
  if (n > op->size - op->used) {
    errno = ENOMEM;
    return nullptr;
  }
  char *p = op->buf + op->used;
  if (off != nullptr) *off = op->used;
  op->used = advance_to(op, int64_t {op->used} + n);
  return p;
}

void *opNext(opblock *op, int32_t *used) {
  if (op == nullptr) return nullptr;
  if (used != nullptr) *used = op->used;
  if (op->used >= op->size) return nullptr;
  return op->buf + op->used;
}

char *opStrAlloc(opblock *op, const char *s, int32_t *off, int32_t *len) {
  int32_t o, n;
  char *p = store_run(op, s, s != nullptr ? std::strlen(s) : 0, &o, &n);
  if (off != nullptr) *off = o;
  if (len != nullptr) *len = n;
  return p;
}

char *opStrDup(opblock *op, int32_t off, int32_t *len, int advance) {
  char *s = nullptr;
  int32_t n = 0;
  if (load_string(op, off, advance, &s, &n) != 0) n = 0;
  if (len != nullptr) *len = n;
  return s;
}

int svOpStr(opblock *op, const char *s, int32_t *off) {
  int32_t o;
  opStrAlloc(op, s, &o, nullptr);
  if (off != nullptr) *off = o;
  return o == -1 ? -1 : 0;
}

int getOpStr(opblock *op, int32_t off, char **s) {
  int32_t n;
  char *got = nullptr;
  int rc = load_string(op, off, 1, &got, &n);
  if (s != nullptr)
    *s = got;
  else
    free_str(got);
  return rc;
}

// ---- The connection manager's records. ----

int svBParms(opblock *op, const ascbinreq *parms, int32_t *off) {
  *off = -1;
  if (parms == nullptr) return 0;
  Rec r;
  if (!new_rec(op, parms_size, &r)) return ASF_ERR_MEMORY;
  std::memcpy(r.p, parms->progname, ASC_PROGNAME_SIZE);
  for (int i = 0; i < 3; ++i)
    put(r, 6 + i, parms->word[i]);
  put(r, 9, parms->userkind);
  put(r, 12, parms->userword);
  put(r, 13, -1);  // a credential means nothing in another program
  std::memcpy(r.p + 56, parms->pairs.product, ASC_NAME_SIZE);
  put(r, 16, parms->pairs.level);
  std::memcpy(r.p + 68, parms->pairs.protocol, ASC_NAME_SIZE);
  put(r, 19, parms->pairs.version);
  put(r, 20, parms->pairs.word);
  put(r, 21, parms->lastword);
  if (!put_str(op, r, 3, parms->version) || !put_str(op, r, 4, parms->clientid) ||
      !put_str(op, r, 5, parms->pfname) || !put_str(op, r, 10, parms->user) ||
      !put_str(op, r, 11, parms->password))
    return ASF_ERR_MEMORY;
  *off = r.off;
  return 0;
}

int rsBParms(opblock *op, int32_t off, ascbinreq **out) {
  *out = nullptr;
  if (off == -1) return 0;
  Rec r;
  if (!take_rec(op, off, parms_size, &r)) return -1;
  auto *p = new_record<ascbinreq>();
  if (p == nullptr) return -1;
  std::memcpy(p->progname, r.p, ASC_PROGNAME_SIZE);
  p->progname[ASC_PROGNAME_SIZE - 1] = '\0';
  for (int i = 0; i < 3; ++i)
    p->word[i] = get(r, 6 + i);
  p->userkind = get(r, 9);
  p->userword = get(r, 12);
  std::memcpy(p->pairs.product, r.p + 56, ASC_NAME_SIZE);
  p->pairs.level = get(r, 16);
  std::memcpy(p->pairs.protocol, r.p + 68, ASC_NAME_SIZE);
  p->pairs.version = get(r, 19);
  p->pairs.word = get(r, 20);
  p->lastword = get(r, 21);
  if (!take_str(op, r, 3, &p->version) || !take_str(op, r, 4, &p->clientid) ||
      !take_str(op, r, 5, &p->pfname) || !take_str(op, r, 10, &p->user) ||
      !take_str(op, r, 11, &p->password)) {
    ascFreeParams(p);
    return -1;
  }
  *out = p;
  return 0;
}

int svReq(opblock *op, const pfrequest *req, int32_t *off) {
  *off = -1;
  if (req == nullptr) return 0;
  if (req->type != asc_pf_conkind || req->rec == nullptr) return ASF_ERR_BADARGS;
  const auto *ck = static_cast<const pfconkind *>(req->rec);
  Rec r, d;
  if (!new_typed_rec(op, asc_pf_conkind, &r, &d)) return ASF_ERR_MEMORY;
  put(d, 0, ck->kind);
  put(d, 1, ck->flags);
  for (int i = 0; i < asc_str_count; ++i)
    if (!put_str(op, d, 2 + i, ck->str[i])) return ASF_ERR_MEMORY;
  *off = r.off;
  return 0;
}

int rsReq(opblock *op, int32_t off, pfrequest **out) {
  *out = nullptr;
  if (off == -1) return 0;
  Rec r, d;
  if (!take_typed_rec(op, off, asc_pf_conkind, &r, &d)) return -1;
  auto *req = new_record<pfrequest>();
  if (req == nullptr) return -1;
  req->type = asc_pf_conkind;
  auto *ck = new_record<pfconkind>();
  req->rec = ck;
  bool ok = ck != nullptr;
  if (ok) {
    ck->kind = get(d, 0);
    ck->flags = get(d, 1);
    for (int i = 0; ok && i < asc_str_count; ++i)
      ok = take_str(op, d, 2 + i, &ck->str[i]);
  }
  if (!ok) {
    ascFreeRequest(req);
    return -1;
  }
  *out = req;
  return 0;
}

int svResp(opblock *op, const pfrequest *resp, int32_t *off) {
  *off = -1;
  if (resp == nullptr) return 0;
  if (resp->type != asc_pf_status || resp->rec == nullptr) return ASF_ERR_BADARGS;
  const auto *st = static_cast<const pfstatus *>(resp->rec);
  if (st->subkind != asc_sub_list && st->subkind != asc_sub_status) return ASF_ERR_BADARGS;
  Rec r, d;
  if (!new_typed_rec(op, asc_pf_status, &r, &d)) return ASF_ERR_MEMORY;
  put(d, 0, st->subkind);
  const bool ok =
      st->subkind == asc_sub_list ? save_strlist(op, d, st->list) : save_status(op, d, st);
  if (!ok) return ASF_ERR_MEMORY;
  *off = r.off;
  return 0;
}

int rsResp(opblock *op, int32_t off, pfrequest **out) {
  *out = nullptr;
  if (off == -1) return 0;
  Rec r, d;
  if (!take_typed_rec(op, off, asc_pf_status, &r, &d)) return -1;
  const int32_t subkind = get(d, 0);
  if (subkind != asc_sub_list && subkind != asc_sub_status) return -1;
  auto *resp = new_record<pfrequest>();
  if (resp == nullptr) return -1;
  resp->type = asc_pf_status;
  auto *st = new_record<pfstatus>();
  resp->rec = st;
  bool ok = st != nullptr;
  if (ok) {
    st->subkind = subkind;
    ok = subkind == asc_sub_list ? load_strlist(op, d, st) : load_status(op, d, st);
  }
  if (!ok) {
    ascFreeRequest(resp);
    return -1;
  }
  *out = resp;
  return 0;
}

int svSqlEnv(opblock *op, const evlist_t *env, int32_t *off) {
  *off = -1;
  if (env == nullptr) return 0;
  Rec r;
  if (!new_rec(op, envlist_size, &r)) return ASF_ERR_MEMORY;
  put(r, 0, env->count);
  put(r, 1, -1);
  put(r, 2, -1);
  *off = r.off;
  // A list that cannot be read back is refused once it is saved.
  if (env->count < 0 || (env->count > 0 && (env->names == nullptr || env->values == nullptr)))
    return ASF_ERR_BADARGS;
  if (env->count == 0) return 0;
  for (int which = 0; which < 2; ++which) {
    char *const *texts = which == 0 ? env->names : env->values;
    Rec a;
    if (!new_rec(op, env->count * 4, &a)) return ASF_ERR_MEMORY;
    put(r, 1 + which, a.off);
    for (int32_t i = 0; i < env->count; ++i)
      if (!put_str(op, a, i, texts[i])) return ASF_ERR_MEMORY;
  }
  return 0;
}

int rsSqlEnv(opblock *op, int32_t off, evlist_t **out) {
  *out = nullptr;
  if (off == -1) return 0;
  Rec r;
  if (!take_rec(op, off, envlist_size, &r)) return -1;
  const int32_t count = get(r, 0);
  // Two offset arrays of count words each must fit what is left.
  if (count < 0 || count > (op->size - op->used) / 8) return -1;
  auto *env = new_record<evlist_t>();
  if (env == nullptr) return -1;
  bool ok = true;
  if (count > 0) {
    env->names = static_cast<char **>(asf_alloc(pool, sizeof(char *) * size_t(count)));
    env->values = static_cast<char **>(asf_alloc(pool, sizeof(char *) * size_t(count)));
    ok = env->names != nullptr && env->values != nullptr;
    if (ok) env->count = count;
    for (int which = 0; ok && which < 2; ++which) {
      char **texts = which == 0 ? env->names : env->values;
      Rec a;
      ok = take_array(op, get(r, 1 + which), count, 4, &a);
      for (int32_t i = 0; ok && i < count; ++i)
        ok = take_str(op, a, i, &texts[i]);
    }
  }
  if (!ok) {
    ascFreeEnvlist(env);
    return -1;
  }
  *out = env;
  return 0;
}

void frBParms(int, ascbinreq *parms) { ascFreeParams(parms); }
void frReq(int, pfrequest *req) { ascFreeRequest(req); }
void frResp(int, pfrequest *resp) { ascFreeRequest(resp); }
void frSqlEnv(int, evlist_t *env) { ascFreeEnvlist(env); }
void frPInfo(int, asfprocinfo *info) { ascFreeProcinfo(info); }

int savBAttr(opblock *op, const alctl *al) {
  const asfcmarea *cm = &al->cm;
  const bool requester = al->kind == asf_kind_requester;
  if (!requester && al->kind != asf_kind_accepted && al->kind != asf_kind_listener)
    return ASF_ERR_BADARGS;
  Rec r;
  if (!new_rec(op, requester ? battr_req_size : battr_other_size, &r)) return ASF_ERR_MEMORY;
  int32_t off;
  int rc = svBParms(op, static_cast<const ascbinreq *>(cm->connparms), &off);
  put(r, 0, off);
  if (rc != 0) return rc;
  if (requester) {
    rc = svResp(op, static_cast<const pfrequest *>(cm->reqrsp), &off);
    put(r, 1, off);
    return rc;
  }
  rc = svReq(op, static_cast<const pfrequest *>(cm->reqrsp), &off);
  put(r, 1, off);
  if (rc != 0) return rc;
  rc = svSqlEnv(op, static_cast<const evlist_t *>(cm->envlist), &off);
  put(r, 2, off);
  return rc;
}

int resBAttr(opblock *op, alctl *al) {
  asfcmarea *cm = &al->cm;
  const bool requester = al->kind == asf_kind_requester;
  if (op == nullptr ||
      (!requester && al->kind != asf_kind_accepted && al->kind != asf_kind_listener))
    return -1;
  Rec r;
  if (!take_rec(op, op->used, requester ? battr_req_size : battr_other_size, &r)) return -1;
  ascbinreq *parms = nullptr;
  pfrequest *rr = nullptr;
  evlist_t *env = nullptr;
  bool ok = rsBParms(op, get(r, 0), &parms) == 0;
  if (ok && requester) ok = rsResp(op, get(r, 1), &rr) == 0;
  if (ok && !requester) ok = rsReq(op, get(r, 1), &rr) == 0 && rsSqlEnv(op, get(r, 2), &env) == 0;
  if (!ok) {
    frBParms(pool, parms);
    frReq(pool, rr);
    frSqlEnv(pool, env);
    return -1;
  }
  cm->connparms = parms;
  cm->reqrsp = rr;
  cm->envlist = env;
  return 0;
}

int savAlAttr(opblock *op, const asfcmarea *cm) {
  Rec r;
  if (!new_rec(op, conattr_size, &r)) return ASF_ERR_MEMORY;
  put(r, 8, cm->peeruid);
  put(r, 9, cm->peergid);
  if (!put_procinfo(op, r, &cm->peer) || !put_str(op, r, 10, cm->peertext)) return ASF_ERR_MEMORY;
  return 0;
}

int resAlAttr(opblock *op, asfcmarea *cm) {
  Rec r;
  if (op == nullptr || !take_rec(op, op->used, conattr_size, &r)) return -1;
  asfprocinfo peer {};
  char *text = nullptr;
  if (!take_procinfo(op, r, &peer)) return -1;
  if (!take_str(op, r, 10, &text)) {
    ascFreeProcinfo(&peer);
    return -1;
  }
  cm->peer = peer;
  cm->peeruid = get(r, 8);
  cm->peergid = get(r, 9);
  cm->peertext = text;
  return 0;
}

int savPInfo(opblock *op, const asfprocinfo *info) {
  Rec r;
  if (!new_rec(op, procinfo_size, &r)) return ASF_ERR_MEMORY;
  return put_procinfo(op, r, info) ? 0 : ASF_ERR_MEMORY;
}

int resPInfo(opblock *op, asfprocinfo *info) {
  Rec r;
  if (op == nullptr || !take_rec(op, op->used, procinfo_size, &r)) return -1;
  return take_procinfo(op, r, info) ? 0 : -1;
}

int cmSave(asfsvcctl *ctl, opblock *op) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) {
    ctl->asfcode = ASF_ERR_BADASSOC;
    return -1;
  }
  int rc = savBAttr(op, assoc->al);
  if (rc == 0) rc = savAlAttr(op, &assoc->al->cm);
  if (rc != 0) {
    ctl->asfcode = rc;
    return -1;
  }
  return pfSave(ctl, op);
}

int cmRestore(asfsvcctl *ctl, opblock *op) {
  ctl->asfcode = 0;
  ctl->oserr = 0;
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) {
    ctl->asfcode = ASF_ERR_BADASSOC;
    return -1;
  }
  alctl *al = assoc->al;
  cmApictlInit(al);
  if (resBAttr(op, al) != 0) {
    ctl->asfcode = ASF_ERR_MEMORY;
    return -1;
  }
  if (resAlAttr(op, &al->cm) != 0) {
    free_battr(al);
    ctl->asfcode = ASF_ERR_MEMORY;
    return -1;
  }
  if (pfRestore(ctl, op) != 0) {
    free_battr(al);
    free_alattr(&al->cm);
    return -1;
  }
  return 0;
}

// ---- The hand-over. ----

int alCSsave(Assocctl *assoc) { return asfValidAssoc(assoc) ? HO_BUFFER_SIZE : -1; }

int save2pipe(int kind, const void *rec, int32_t len, const char *name, int32_t *oserr) {
  static char texts[4][var_text_size];
  *oserr = 0;
  if (kind < 0 || kind > 3 || rec == nullptr || len < 0 || name == nullptr) return HO_ERR_FAILED;
  const ho_pipe_seam *pipes = ho_pipe_override != nullptr ? ho_pipe_override : &system_pipes;
  int fds[2];
  int rc;
  do {
    rc = pipes->make_pipe(fds);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    *oserr = errno;
    return HO_ERR_FAILED;
  }
  auto failed = [&](bool write_end_open) {
    *oserr = errno;
    if (write_end_open) close(fds[1]);
    close(fds[0]);
    return HO_ERR_FAILED;
  };
  const char *p = static_cast<const char *>(rec);
  for (int32_t left = len; left > 0;) {
    ssize_t n = write(fds[1], p, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return failed(true);
    p += n;
    left -= static_cast<int32_t>(n);
  }
  if (close_fd(fds[1]) != 0) return failed(false);
  // The text goes into its static place only once it is known to fit:
  // putenv keeps that place as the variable.
  char text[var_text_size];
  const int n = std::snprintf(text, sizeof text, "%s=%d", name, fds[0]);
  if (n < 0 || static_cast<size_t>(n) >= sizeof text) {
    errno = 0;
    return failed(false);
  }
  std::memcpy(texts[kind], text, static_cast<size_t>(n) + 1);
  if (putenv(texts[kind]) != 0) return failed(false);
  return 0;
}

int saveGlobData(asfsvcctl *ctl) {
  ASFGLBCTL *g = getASFGLBCTL();
  if (g == nullptr) return fail(ctl, HO_ERR_FAILED);
  char rec[HO_GLOBAL_SIZE];
  const int32_t words[7] = {HO_GLOBAL_SIZE,
                            static_cast<int32_t>(g->initval),
                            static_cast<int32_t>(g->initval2),
                            static_cast<int32_t>(g->terminated),
                            static_cast<int32_t>(g->parm5),
                            static_cast<int32_t>(g->parm6),
                            static_cast<int32_t>(g->reserved)};
  for (int i = 0; i < 7; ++i)
    ho_st32(rec + 4 * i, words[i]);
  int32_t err = 0;
  int rc = save2pipe(ho_kind_global, rec, HO_GLOBAL_SIZE, HO_VAR_GLOBAL, &err);
  if (rc != 0) {
    if (ctl != nullptr) ctl->oserr = err;
    return fail(ctl, rc);
  }
  return 0;
}

int saveAssocData(int kind, asfsvcctl *ctl) {
  ASFGLBCTL *g = getASFGLBCTL();
  Assocctl **head = nullptr;
  int32_t *count = nullptr;
  if (g == nullptr || !queue_of(g, kind, &head, &count)) return fail(ctl, ASF_ERR_BADASSOC);
  Assocctl *assoc = *head;
  if (assoc == nullptr) return 0;
  if (!asfValidAssoc(assoc) || assoc->al == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  if (assoc->al->next != nullptr) return fail(ctl, HO_ERR_TOOMANY);
  auto *buf = static_cast<char *>(asf_alloc(pool, HO_BUFFER_SIZE));
  opblock *op = buf != nullptr ? opInit(0, pool, buf, HO_BUFFER_SIZE) : nullptr;
  if (op == nullptr) {
    if (buf != nullptr) asf_free(pool, buf);
    return fail(ctl, ASF_ERR_MEMORY);
  }
  alctl *al = assoc->al;
  Rec h;
  const bool room = new_rec(op, HO_HEADER_SIZE, &h);
  assert(room);  // a fresh arena of HO_BUFFER_SIZE bytes
  (void)room;
  put(h, 0, HO_HEADER_SIZE);
  put(h, 1, al->state);
  if (assoc->statusarea != nullptr) {
    h.p[24] = assoc->statusarea[0];
    h.p[25] = assoc->statusarea[1];
  }
  asfsvcctl actl = own_ctl(assoc);
  int status = 0;
  int32_t err = 0;
  if (cmSave(&actl, op) != 0) {
    status = actl.asfcode == ASF_ERR_MEMORY ? ASF_ERR_MEMORY : HO_ERR_FAILED;
    err = actl.oserr;
  } else {
    status = save2pipe(kind, buf, op->used, var_names[kind], &err);
  }
  if (status == 0)
    slSQIsavedDiscon(&actl);
  else
    unsave(assoc);
  discard(assoc, g, head, count);
  opTerm(op);
  asf_free(pool, buf);
  if (status != 0) {
    if (ctl != nullptr) ctl->oserr = err;
    return fail(ctl, status);
  }
  return 0;
}

int getGlobData(asfsvcctl *ctl) {
  const char *text = std::getenv(HO_VAR_GLOBAL);
  if (text == nullptr || *text == '\0') return 0;
  const int fd = parse_fd(text);
  if (fd < 0) return fail(ctl, HO_ERR_FAILED);
  // One byte more than the record: a longer one is refused too.
  char rec[HO_GLOBAL_SIZE + 1];
  const ssize_t n = read_all(fd, rec, sizeof rec);
  close_fd(fd);
  ASFGLBCTL *g = getASFGLBCTL();
  if (n != HO_GLOBAL_SIZE || ho_ld32(rec) != HO_GLOBAL_SIZE || g == nullptr)
    return fail(ctl, HO_ERR_FAILED);
  g->initval = static_cast<uint32_t>(ho_ld32(rec + 4));
  g->initval2 = static_cast<uint32_t>(ho_ld32(rec + 8));
  g->terminated = static_cast<uint32_t>(ho_ld32(rec + 12));
  g->parm5 = static_cast<uint32_t>(ho_ld32(rec + 16));
  g->parm6 = static_cast<uint32_t>(ho_ld32(rec + 20));
  return 0;
}

int getAssocData(int kind, asfsvcctl *ctl, asfsvcreq *req) {
  if (kind < asf_kind_requester || kind > asf_kind_listener) return fail(ctl, HO_ERR_FAILED);
  const KindWords words = kind_words[kind];
  if (req == nullptr || req->word[words.area] == 0) return 0;
  const char *text = std::getenv(var_names[kind]);
  if (text == nullptr || *text == '\0') return 0;
  const int fd = parse_fd(text);
  if (fd < 0) return fail(ctl, HO_ERR_FAILED);
  ASFGLBCTL *g = getASFGLBCTL();
  Assocctl **head = nullptr;
  int32_t *count = nullptr;
  char *area = reinterpret_cast<char *>(req->word[words.area]);
  Assocctl *assoc =
      g != nullptr && queue_of(g, kind, &head, &count) ? alCSalloc(nullptr, kind, area) : nullptr;
  if (assoc == nullptr) {
    close_fd(fd);
    return fail(ctl, HO_ERR_FAILED);
  }
  auto *buf = static_cast<char *>(asf_alloc(pool, HO_BUFFER_SIZE));
  if (buf == nullptr) {
    close_fd(fd);
    alCSfree(assoc);
    return fail(ctl, ASF_ERR_MEMORY);
  }
  ssize_t n = read_all(fd, buf, HO_BUFFER_SIZE);
  if (n == HO_BUFFER_SIZE) {
    char more;
    if (read_all(fd, &more, 1) != 0) n = -1;
  }
  close_fd(fd);
  int status = 0;
  opblock *op = nullptr;
  Rec h;
  if (n < HO_HEADER_SIZE) {
    status = HO_ERR_FAILED;
  } else if ((op = opInit(0, pool, buf, static_cast<int32_t>(n))) == nullptr) {
    status = ASF_ERR_MEMORY;
  } else if (!take_rec(op, 0, HO_HEADER_SIZE, &h) || get(h, 0) != HO_HEADER_SIZE ||
             get(h, 1) < asf_state_new || get(h, 1) > asf_state_failed) {
    status = HO_ERR_FAILED;
  }
  alctl *al = assoc->al;
  if (status == 0) {
    al->state = get(h, 1);
    std::memcpy(al->name1, h.p + 8, sizeof al->name1);
    std::memcpy(al->name2, h.p + 16, sizeof al->name2);
    area[0] = h.p[24];
    area[1] = h.p[25];
    asfsvcctl actl = own_ctl(assoc);
    if (cmRestore(&actl, op) != 0) {
      status = actl.asfcode == ASF_ERR_MEMORY ? ASF_ERR_MEMORY : HO_ERR_FAILED;
      if (ctl != nullptr) ctl->oserr = actl.oserr;
    }
  }
  if (op != nullptr) opTerm(op);
  asf_free(pool, buf);
  if (status != 0) {
    alCSfree(assoc);
    return fail(ctl, status);
  }
  if (addAssoc2Q(assoc, &al->next, &g->lock, head, count) != 0) {
    asfsvcctl actl = own_ctl(assoc);
    cmDiscon(&actl, asf_svc_abort, nullptr);
    alCSfree(assoc);
    return fail(ctl, ASF_ERR_BADASSOC);
  }
  req->word[words.id] = reinterpret_cast<uintptr_t>(assoc);
  return 0;
}

}  // extern "C"
