/*
** Tests of the hand-over of associations: the serialisation arena, the
** images of every layer (read back here byte by byte at their documented
** offsets, never through the writers' records), the connection manager's
** records through the arena and the refusal of malformed images, the
** pipes and variables of the saving side and the readers of the taking
** side, and the TLI endpoint's restore on a descriptor that is none.
*/
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_memory.h"
#include "asf_test_support.h"
#include "cm_records.h"
#include "counting_memory.h"
#include "handover.h"
#include "pf_records.h"
#include "pfsl_save.h"
#include "pipe_driver.h"
#include "sl_internal.h"
#include "sl_records.h"
#include "tl_records.h"
#include "tl_save.h"
#include "tli.h"

namespace {

using asf_test::CountingMemory;

/* The independent reader: a host-order 32-bit word at a byte offset. */
int32_t word_at(const std::vector<char> &img, size_t off) {
  int32_t v = 0;
  std::memcpy(&v, img.data() + off, 4);
  return v;
}
void set_word(std::vector<char> &img, size_t off, int32_t v) {
  std::memcpy(img.data() + off, &v, 4);
}

/* The NUL-terminated text of the arena string at off. */
std::string string_at(const std::vector<char> &img, int32_t off) {
  int32_t n = word_at(img, size_t(off));
  return n == 0 ? std::string("<null>") : std::string(img.data() + off + 4);
}

char *dup(const char *s) {
  if (s == nullptr) return nullptr;
  size_t n = std::strlen(s) + 1;
  auto *p = static_cast<char *>(asf_alloc(asf_pool_assoc, n));
  std::memcpy(p, s, n);
  return p;
}

/* An aligned buffer with an arena over it. */
struct Arena {
  alignas(8) char buf[HO_BUFFER_SIZE] = {};
  opblock *op;
  explicit Arena(int32_t size = HO_BUFFER_SIZE, uint32_t flags = 0)
      : op(opInit(flags, asf_pool_assoc, buf, size)) {}
  ~Arena() { opTerm(op); }
  std::vector<char> image() const { return std::vector<char>(buf, buf + op->used); }
};

/* An arena over a copy of img, for reading. */
struct Reader {
  std::vector<char> bytes;
  opblock *op;
  explicit Reader(const std::vector<char> &img)
      : bytes(img), op(opInit(0, asf_pool_assoc, bytes.data(), int32_t(img.size()))) {}
  ~Reader() { opTerm(op); }
};

// ---- The arena. ----

TEST(Arena, AllocOfFiveAdvancesTheUsedOffsetByEight) {
  Arena a;
  int32_t off = -2;
  ASSERT_NE(opAlloc(a.op, 5, &off), nullptr);
  EXPECT_EQ(off, 0);
  EXPECT_EQ(a.op->used, 8);
  ASSERT_NE(opAlloc(a.op, 4, &off), nullptr);
  EXPECT_EQ(off, 8);
}

TEST(Arena, AllocBeyondTheRoomFailsWithoutMoving) {
  Arena a(16);
  int32_t off;
  ASSERT_NE(opAlloc(a.op, 10, &off), nullptr);
  errno = 0;
  EXPECT_EQ(opAlloc(a.op, 5, &off), nullptr);
  EXPECT_EQ(off, -1);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(a.op->used, 12);
  // The last 4 bytes still fit; then the arena is full.
  EXPECT_NE(opAlloc(a.op, 4, &off), nullptr);
  EXPECT_EQ(opNext(a.op, &off), nullptr);
  for (int32_t n : {0, -3}) {
    EXPECT_EQ(opAlloc(a.op, n, &off), nullptr);
    EXPECT_EQ(off, -1);
  }
  EXPECT_EQ(opAlloc(nullptr, 4, &off), nullptr);
}

TEST(Arena, MisalignedBufferIsRefusedUnlessAlignmentIsOff) {
  alignas(8) char buf[32];
  EXPECT_EQ(opInit(0, asf_pool_assoc, buf + 1, 16), nullptr);
  opblock *op = opInit(OP_NOALIGN, asf_pool_assoc, buf + 1, 16);
  ASSERT_NE(op, nullptr);
  int32_t off;
  ASSERT_NE(opAlloc(op, 5, &off), nullptr);
  EXPECT_EQ(op->used, 5);
  EXPECT_EQ(opTerm(op), 0);
  EXPECT_EQ(opTerm(nullptr), -1);
}

TEST(Arena, StringsRoundTripAndNullGivesLengthZero) {
  CountingMemory mem;
  Arena a;
  int32_t off1, off2, len;
  char *stored = opStrAlloc(a.op, "hello", &off1, &len);
  ASSERT_NE(stored, nullptr);
  EXPECT_STREQ(stored, "hello");
  EXPECT_EQ(len, 6);
  EXPECT_EQ(a.op->used, 12);  // 4 + 6, rounded up
  EXPECT_EQ(opStrAlloc(a.op, nullptr, &off2, &len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(off2, 12);
  EXPECT_EQ(a.op->used, 16);

  Reader r(a.image());
  char *copy = opStrDup(r.op, off1, &len, 1);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "hello");
  EXPECT_EQ(len, 6);
  EXPECT_EQ(r.op->used, 12);  // advanced past the string
  asf_free(asf_pool_assoc, copy);
  // Not at the used offset: copied, no advance.
  copy = opStrDup(r.op, off1, &len, 1);
  EXPECT_EQ(r.op->used, 12);
  asf_free(asf_pool_assoc, copy);
  char *none = reinterpret_cast<char *>(1);
  EXPECT_EQ(getOpStr(r.op, off2, &none), 0);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(r.op->used, 16);
  EXPECT_EQ(opStrDup(r.op, -1, &len, 1), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(mem.outstanding(), 2);  // the two arena records
}

// ---- Building associations. ----

/* A process-wide global control block for the tests that need one. */
class GlobalBlock {
 public:
  GlobalBlock() {
    asfsvcreq req {};
    req.word[1] = ASF_INIT_FIRST;
    req.word[4] = 10;
    req.word[5] = 7;
    req.word[6] = 100;
    EXPECT_EQ(defineASFCtl(&req, &ctl_), 0);
  }
  ~GlobalBlock() {
    for (const char *v : {"ASF_G", "ASF_C", "ASF_S", "ASF_L"})
      unsetenv(v);
    deleteASFCtl(&ctl_);
  }
  ASFGLBCTL *g() { return getASFGLBCTL(); }

 private:
  asfsvcctl ctl_ {};
};

/* An association as a connect leaves it: protocol-family and session
** blocks, a connection record, a transport block (row 3, no driver
** record), and the connection manager's records of a requester. */
Assocctl *make_connected(char *status) {
  asfsvcctl ctl {};
  ctl.flags = 1;
  ctl.timeout = -1;
  Assocctl *a = alCSalloc(&ctl, asf_kind_requester, status);
  ctl.ascid = a;
  char product[8] = "ol", protocol[8] = "tlitcp";
  EXPECT_EQ(sqlCSalloc(&ctl, 0, product, protocol), 0);
  auto *pf = static_cast<pfblock *>(a->pfblock);
  pf->state = pf_state_connected;
  pf->level = 61;
  pf->kind = 2;
  std::memcpy(pf->pairs.product, product, 8);
  pf->pairs.level = 61;
  std::memcpy(pf->pairs.protocol, protocol, 8);
  pf->pairs.version = 1;
  pf->pairs.word = 5;
  for (int i = 0; i < 6; ++i)
    pf->fmt.word[i] = 16 + i;
  auto *s = static_cast<slsession *>(a->slblock);
  s->state = sl_state_connected;
  s->common = slsqi::new_common(&ctl, nullptr);
  s->common->level = 61;
  s->common->srvlevel = 62;
  s->common->assoc[0] = a;
  EXPECT_EQ(tlCSalloc(&ctl), 0);
  auto *tb = static_cast<tlblock *>(a->tlblock);
  tb->flags = TL_CONNECT;
  tb->state = tl_state_connected;
  tb->protinx = 3;
  tb->drv.flags = 1;
  tb->drv.type = tl_drv_tlitcp;
  tb->drv.bufsize = 4096;
  alctl *al = a->al;
  al->state = asf_state_open;
  auto *parms = static_cast<ascbinreq *>(asf_alloc(asf_pool_assoc, sizeof(ascbinreq)));
  std::strcpy(parms->progname, "sqlexec");
  parms->version = dup("9.1");
  parms->clientid = dup("client");
  parms->pfname = dup("sqli");
  parms->userkind = 1;
  parms->user = dup("ann");
  parms->password = nullptr;
  parms->pairs.level = 61;
  al->cm.connparms = parms;
  auto *resp = static_cast<pfrequest *>(asf_alloc(asf_pool_assoc, sizeof(pfrequest)));
  resp->type = asc_pf_status;
  auto *st = static_cast<pfstatus *>(asf_alloc(asf_pool_assoc, sizeof(pfstatus)));
  st->subkind = asc_sub_status;
  st->errnum = -329;
  resp->rec = st;
  al->cm.reqrsp = resp;
  al->cm.peer.pid = 77;
  al->cm.peer.host = dup("peerhost");
  al->cm.peertext = dup("home");
  return a;
}

/* Queues a as a requester. */
void queue_requester(Assocctl *a) {
  ASFGLBCTL *g = getASFGLBCTL();
  ASSERT_EQ(addAssoc2Q(a, &a->al->next, &g->lock, &g->reqq, &g->nreq), 0);
}

/* Aborts an association through the service call (it is freed). */
void abort_assoc(Assocctl *a) {
  asfsvcctl ctl {};
  ctl.flags = 1;
  ctl.timeout = -1;
  ctl.ascid = a;
  asfsvcreq req {};
  ASF_Init(asf_svc_abort, &req);
  ASF_Call(&ctl, &req);
}

/* The bytes a variable's descriptor holds (the descriptor is closed). */
std::vector<char> drain(const char *var) {
  std::vector<char> out;
  const char *v = std::getenv(var);
  if (v == nullptr) return out;
  int fd = std::atoi(v);
  char b[4096];
  ssize_t n;
  while ((n = read(fd, b, sizeof b)) > 0)
    out.insert(out.end(), b, b + n);
  close(fd);
  return out;
}

/* A pipe holding bytes, its read end named by var. */
void pipe_with(const char *var, const std::vector<char> &bytes) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
  close(fds[1]);
  setenv(var, std::to_string(fds[0]).c_str(), 1);
}

// ---- Images of the layers. ----

TEST(Images, ProtocolFamilySessionAndTransportRecords) {
  char status[2] = {};
  Assocctl *a = make_connected(status);
  asfsvcctl ctl {};
  ctl.ascid = a;
  Arena ar;
  ASSERT_EQ(pfSave(&ctl, ar.op), 0) << ctl.asfcode;
  const std::vector<char> img = ar.image();
  ASSERT_EQ(img.size(), size_t(64 + 12 + 28));
  // The protocol family's 64 bytes.
  EXPECT_EQ(word_at(img, 0), pf_state_connected);
  EXPECT_EQ(word_at(img, 4), 61);
  EXPECT_EQ(word_at(img, 8), 2);
  EXPECT_EQ(std::string(img.data() + 12, 2), "ol");
  EXPECT_EQ(word_at(img, 20), 61);
  EXPECT_EQ(std::string(img.data() + 24), "tlitcp");
  EXPECT_EQ(word_at(img, 32), 1);
  EXPECT_EQ(word_at(img, 36), 5);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(word_at(img, 40 + 4 * size_t(i)), 16 + i);
  // The session's 12 bytes.
  EXPECT_EQ(word_at(img, 64), sl_state_connected);
  EXPECT_EQ(word_at(img, 68), 61);
  EXPECT_EQ(word_at(img, 72), 62);
  // The transport's 28 bytes: no driver record.
  const int32_t want[7] = {TL_CONNECT, tl_state_connected, 3, 1, tl_drv_tlitcp, 4096, 0};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(word_at(img, 76 + 4 * size_t(i)), want[i]) << "word " << i;
  EXPECT_EQ(static_cast<pfblock *>(a->pfblock)->state, pf_state_saved);
  EXPECT_EQ(static_cast<slsession *>(a->slblock)->state, SL_STATE_SAVED);
  EXPECT_EQ(static_cast<tlblock *>(a->tlblock)->state, uint32_t(tl_state_saved));
  // A saved connection is let go without closing, then the abort is clean.
  EXPECT_EQ(slSQIsavedDiscon(&ctl), 0);
  EXPECT_EQ(a->tlblock, nullptr);
  ASSERT_EQ(cmDiscon(&ctl, asf_svc_abort, nullptr), 0);
  EXPECT_EQ(alCSfree(a), 0);
}

TEST(Images, TliEndpointIsFortyFourBytesAndStaysOpenAcrossExec) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  tlictl t {};
  t.fd = fds[0];
  t.optbits = 0x15;
  for (int i = 0; i < 7; ++i)
    t.info[i] = 100 + i;
  int dummy;
  t.pendq = &dummy;
  t.framemark = 1;
  drvblock drv {};
  drv.priv = &t;
  asfsvcctl ctl {};
  Arena ar;
  ASSERT_EQ(savetli(&drv, ar.op, &ctl), 0);
  const std::vector<char> img = ar.image();
  ASSERT_EQ(img.size(), size_t(44));
  EXPECT_EQ(word_at(img, 0), fds[0]);
  EXPECT_EQ(word_at(img, 4), 0x15);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(word_at(img, 8 + 4 * size_t(i)), 100 + i);
  EXPECT_EQ(word_at(img, 36), 0);
  EXPECT_EQ(img[40], 1);
  EXPECT_EQ(img[41] | img[42] | img[43], 0);
  EXPECT_EQ(fcntl(fds[0], F_GETFD) & FD_CLOEXEC, 0);
  // No room: -1 with errno 12.
  Arena small(40);
  EXPECT_EQ(savetli(&drv, small.op, &ctl), -1);
  EXPECT_EQ(ctl.asfcode, -1);
  EXPECT_EQ(ctl.oserr, ENOMEM);
  close(fds[0]);
  close(fds[1]);
}

TEST(Images, PipeBlockIsSixteenBytesAndRestoresWithBuffers) {
  int a[2], b[2];
  ASSERT_EQ(pipe2(a, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(b, O_CLOEXEC), 0);
  pipectl pc {a[0], b[1], 4242, 3, -1};
  drvblock drv {};
  drv.priv = &pc;
  asfsvcctl ctl {};
  Arena ar;
  ASSERT_EQ(savepip(&drv, ar.op, &ctl), 0);
  const std::vector<char> img = ar.image();
  ASSERT_EQ(img.size(), size_t(16));
  EXPECT_EQ(word_at(img, 0), a[0]);
  EXPECT_EQ(word_at(img, 4), b[1]);
  EXPECT_EQ(word_at(img, 8), 4242);
  EXPECT_EQ(word_at(img, 12), 3);
  EXPECT_EQ(fcntl(a[0], F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(fcntl(b[1], F_GETFD) & FD_CLOEXEC, 0);

  // The back-end side restores: buffers lent, the block rebuilt.
  Assocctl *assoc = alCSalloc(&ctl, asf_kind_accepted, nullptr);
  ctl.ascid = assoc;
  drvblock rdrv {};
  rdrv.type = tl_drv_ipcpip;
  rdrv.bufsize = PIPE_BUFSIZE;
  Reader r(img);
  ASSERT_EQ(restpip(&rdrv, r.op, &ctl), 0) << ctl.asfcode;
  auto *got = static_cast<pipectl *>(rdrv.priv);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->rfd, a[0]);
  EXPECT_EQ(got->wfd, b[1]);
  EXPECT_EQ(got->pid, 4242);
  EXPECT_EQ(got->nempty, 3);
  EXPECT_NE(assoc->sndbuf, nullptr);
  EXPECT_NE(assoc->rcvbuf, nullptr);
  // The hand-over's disconnect leaves the descriptors open.
  EXPECT_EQ(discpip(&rdrv, 0x100, &ctl), 0);
  EXPECT_EQ(fcntl(a[0], F_GETFD), 0);
  EXPECT_EQ(alCSfree(assoc), 0);
  for (int fd : {a[0], a[1], b[0], b[1]})
    close(fd);
}

// ---- The TLI restore on a descriptor that is no endpoint. ----

int sync_calls = 0;
int fake_sync(int) {
  ++sync_calls;
  t_errno = TBADF;
  return -1;
}
int fake_setsig(int, int) { return 0; }

TEST(TliRestore, NotAnEndpointResynchronisesThirtyTwoTimesAndFails) {
  tli_calls calls = tli_platform_calls;
  calls.t_sync = fake_sync;
  calls.setsig = fake_setsig;
  const tli_calls *saved = tli_driver_calls;
  tli_driver_calls = &calls;
  CountingMemory mem;
  asfsvcctl ctl {};
  Assocctl *assoc = alCSalloc(&ctl, asf_kind_requester, nullptr);
  ctl.ascid = assoc;
  ctl.asfcode = 1234;
  std::vector<char> img(44, 0);
  set_word(img, 0, 0);  // descriptor 0: a terminal or file here, no endpoint
  drvblock drv {};
  drv.type = tl_drv_tlitcp;
  drv.bufsize = 4096;
  Reader r(img);
  sync_calls = 0;
  EXPECT_EQ(resttli(&drv, r.op, &ctl), -1);
  tli_driver_calls = saved;
  EXPECT_EQ(sync_calls, 32);
  EXPECT_EQ(ctl.oserr, TBADF);
  EXPECT_EQ(ctl.asfcode, 1234);
  EXPECT_EQ(drv.priv, nullptr);
  EXPECT_EQ(assoc->sndbuf, nullptr);
  EXPECT_EQ(assoc->rcvbuf, nullptr);
  EXPECT_EQ(alCSfree(assoc), 0);
  EXPECT_EQ(mem.outstanding(), 1);  // the reader's arena record
}

TEST(TliRestore, InheritedConnectedSocketBecomesTheEndpoint) {
  sockaddr_in sa {};
  int lsn = asf_test::loopback_listener(1, &sa);
  ASSERT_GE(lsn, 0);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  int peer = accept(lsn, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  std::vector<char> img(44, 0);
  set_word(img, 0, fd);
  set_word(img, 8 + 4 * 6, 2);  // servtype: orderly release
  img[40] = 1;
  asfsvcctl ctl {};
  Assocctl *assoc = alCSalloc(&ctl, asf_kind_requester, nullptr);
  ctl.ascid = assoc;
  drvblock drv {};
  drv.type = tl_drv_tlitcp;
  drv.bufsize = 4096;
  Reader r(img);
  ASSERT_EQ(resttli(&drv, r.op, &ctl), 0) << ctl.asfcode << " " << ctl.oserr;
  auto *t = static_cast<tlictl *>(drv.priv);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->fd, fd);
  EXPECT_EQ(t->info[6], 2);
  EXPECT_EQ(t->framemark, 1);
  EXPECT_EQ(t->pendq, nullptr);
  EXPECT_NE(drv.flags & DRV_SIGARMED, 0u);
  EXPECT_NE(assoc->sndbuf, nullptr);
  EXPECT_EQ(drv.ops.send, sendtli);
  // A disconnect as a saved transport frees everything and keeps fd open.
  EXPECT_EQ(disctli(&drv, 256, &ctl), 0);
  EXPECT_EQ(drv.priv, nullptr);
  EXPECT_EQ(fcntl(fd, F_GETFD), 0);
  EXPECT_EQ(alCSfree(assoc), 0);
  close(fd);
  close(peer);
  close(lsn);
}

// ---- The connection manager's records through the arena. ----

struct CmRecords {
  alctl al {};
  CmRecords(int kind) { al.kind = kind; }
  ~CmRecords() {
    frBParms(asf_pool_assoc, static_cast<ascbinreq *>(al.cm.connparms));
    frReq(asf_pool_assoc, static_cast<pfrequest *>(al.cm.reqrsp));
    frSqlEnv(asf_pool_assoc, static_cast<evlist_t *>(al.cm.envlist));
    frPInfo(asf_pool_assoc, &al.cm.peer);
    asf_free(asf_pool_assoc, al.cm.peertext);
  }
};

ascbinreq *sample_parms() {
  auto *p = static_cast<ascbinreq *>(asf_alloc(asf_pool_assoc, sizeof(ascbinreq)));
  std::strcpy(p->progname, "ruzodu");
  p->version = dup("9.2");
  p->clientid = nullptr;
  p->pfname = dup("sqli");
  p->word[0] = 311;
  p->userkind = 1;
  p->user = dup("bob");
  p->password = dup("secret");
  p->userword = 9;
  std::memcpy(p->pairs.product, "ol", 2);
  p->pairs.level = -1;
  std::memcpy(p->pairs.protocol, "tlitcp", 6);
  p->pairs.version = 1;
  p->lastword = 4;
  return p;
}

pfrequest *sample_request() {
  auto *r = static_cast<pfrequest *>(asf_alloc(asf_pool_assoc, sizeof(pfrequest)));
  r->type = asc_pf_conkind;
  auto *ck = static_cast<pfconkind *>(asf_alloc(asf_pool_assoc, sizeof(pfconkind)));
  ck->kind = asc_kind_open;
  ck->flags = 4;
  ck->str[asc_str_server] = dup("srv");
  ck->str[asc_str_dbname] = dup("stores");
  ck->str[asc_str_group] = dup("grp");
  r->rec = ck;
  return r;
}

pfrequest *sample_response(int subkind) {
  auto *r = static_cast<pfrequest *>(asf_alloc(asf_pool_assoc, sizeof(pfrequest)));
  r->type = asc_pf_status;
  auto *st = static_cast<pfstatus *>(asf_alloc(asf_pool_assoc, sizeof(pfstatus)));
  st->subkind = subkind;
  if (subkind == asc_sub_status) {
    std::memcpy(st->raw, "abcdef", 6);
    st->errnum = -201;
    st->isamerr = -111;
    st->warnbits = 3;
    st->count = 2;
    st->msgs = static_cast<pfmsgent *>(asf_alloc(asf_pool_assoc, 2 * sizeof(pfmsgent)));
    st->msgs[0] = {5, 4, static_cast<char *>(asf_alloc(asf_pool_assoc, 4))};
    std::memcpy(st->msgs[0].text, "oops", 4);  // message bytes carry no NUL
    st->msgs[1] = {0, 0, nullptr};
  } else {
    st->list = static_cast<pfstrlist *>(asf_alloc(asf_pool_assoc, sizeof(pfstrlist)));
    st->list->count = 3;
    st->list->str = static_cast<char **>(asf_alloc(asf_pool_assoc, 3 * sizeof(char *)));
    st->list->str[0] = dup("db1");
    st->list->str[1] = nullptr;
    st->list->str[2] = dup("db3");
  }
  r->rec = st;
  return r;
}

evlist_t *sample_env() {
  auto *e = static_cast<evlist_t *>(asf_alloc(asf_pool_assoc, sizeof(evlist_t)));
  e->count = 2;
  e->names = static_cast<char **>(asf_alloc(asf_pool_assoc, 2 * sizeof(char *)));
  e->values = static_cast<char **>(asf_alloc(asf_pool_assoc, 2 * sizeof(char *)));
  e->names[0] = dup("DBDATE");
  e->values[0] = dup("Y4MD-");
  e->names[1] = dup("LANG");
  e->values[1] = dup("");
  return e;
}

void expect_same_parms(const ascbinreq *a, const ascbinreq *b) {
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(a->progname, b->progname);
  EXPECT_STREQ(a->version, b->version);
  EXPECT_EQ(b->clientid, nullptr);
  EXPECT_STREQ(a->pfname, b->pfname);
  EXPECT_EQ(a->word[0], b->word[0]);
  EXPECT_EQ(a->userkind, b->userkind);
  EXPECT_STREQ(a->user, b->user);
  EXPECT_STREQ(a->password, b->password);
  EXPECT_EQ(a->userword, b->userword);
  EXPECT_EQ(std::memcmp(&a->pairs, &b->pairs, sizeof a->pairs), 0);
  EXPECT_EQ(a->lastword, b->lastword);
}

TEST(CmRecords, RequesterParametersAndBothResponseKindsRoundTrip) {
  for (int subkind : {asc_sub_status, asc_sub_list}) {
    CountingMemory mem;
    {
      CmRecords src(asf_kind_requester), dst(asf_kind_requester);
      src.al.cm.connparms = sample_parms();
      src.al.cm.reqrsp = sample_response(subkind);
      Arena ar;
      ASSERT_EQ(savBAttr(ar.op, &src.al), 0);
      const std::vector<char> img = ar.image();
      EXPECT_EQ(word_at(img, 4 * 0), 8);  // the parameters follow the 8-byte record
      EXPECT_EQ(string_at(img, word_at(img, 8 + 4 * 3)), "9.2");
      EXPECT_EQ(string_at(img, word_at(img, 8 + 4 * 4)), "<null>");
      Reader r(img);
      ASSERT_EQ(resBAttr(r.op, &dst.al), 0);
      expect_same_parms(static_cast<ascbinreq *>(src.al.cm.connparms),
                        static_cast<ascbinreq *>(dst.al.cm.connparms));
      auto *got = static_cast<pfrequest *>(dst.al.cm.reqrsp);
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got->type, asc_pf_status);
      auto *st = static_cast<pfstatus *>(got->rec);
      EXPECT_EQ(st->subkind, subkind);
      if (subkind == asc_sub_status) {
        EXPECT_EQ(std::memcmp(st->raw, "abcdef", 6), 0);
        EXPECT_EQ(st->errnum, -201);
        EXPECT_EQ(st->isamerr, -111);
        EXPECT_EQ(st->warnbits, 3);
        ASSERT_EQ(st->count, 2);
        EXPECT_EQ(st->msgs[0].offset, 5);
        ASSERT_EQ(st->msgs[0].length, 4);
        EXPECT_EQ(std::memcmp(st->msgs[0].text, "oops", 4), 0);
        EXPECT_EQ(st->msgs[1].text, nullptr);
      } else {
        ASSERT_NE(st->list, nullptr);
        ASSERT_EQ(st->list->count, 3);
        EXPECT_STREQ(st->list->str[0], "db1");
        EXPECT_EQ(st->list->str[1], nullptr);
        EXPECT_STREQ(st->list->str[2], "db3");
      }
      EXPECT_EQ(r.op->used, r.op->size);
    }
    EXPECT_EQ(mem.outstanding(), 0) << "sub-kind " << subkind;
  }
}

TEST(CmRecords, AcceptedRequestEnvironmentAndAttributesRoundTrip) {
  CountingMemory mem;
  {
    CmRecords src(asf_kind_accepted), dst(asf_kind_accepted);
    src.al.cm.connparms = sample_parms();
    src.al.cm.reqrsp = sample_request();
    src.al.cm.envlist = sample_env();
    src.al.cm.peer = {1, 2, 3, dup("h"), nullptr, dup("/tmp"), 500, 501};
    src.al.cm.peeruid = 600;
    src.al.cm.peergid = 601;
    src.al.cm.peertext = dup("/home/x");
    asfprocinfo pi {0, 42, 0, dup("host"), dup("tty1"), nullptr, 7, 8};
    Arena ar;
    ASSERT_EQ(savBAttr(ar.op, &src.al), 0);
    const int32_t attr_at = ar.op->used;
    ASSERT_EQ(savAlAttr(ar.op, &src.al.cm), 0);
    const int32_t pinfo_at = ar.op->used;
    ASSERT_EQ(savPInfo(ar.op, &pi), 0);
    const std::vector<char> img = ar.image();
    // The 44-byte connection attributes: strings at words 3, 4, 5 and 10.
    EXPECT_EQ(word_at(img, size_t(attr_at) + 4), 2);
    EXPECT_EQ(string_at(img, word_at(img, size_t(attr_at) + 12)), "h");
    EXPECT_EQ(string_at(img, word_at(img, size_t(attr_at) + 40)), "/home/x");
    EXPECT_EQ(word_at(img, size_t(attr_at) + 32), 600);
    EXPECT_EQ(word_at(img, size_t(pinfo_at) + 4), 42);
    EXPECT_EQ(word_at(img, size_t(pinfo_at) + 28), 8);

    Reader r(img);
    ASSERT_EQ(resBAttr(r.op, &dst.al), 0);
    ASSERT_EQ(resAlAttr(r.op, &dst.al.cm), 0);
    asfprocinfo back {};
    ASSERT_EQ(resPInfo(r.op, &back), 0);
    expect_same_parms(static_cast<ascbinreq *>(src.al.cm.connparms),
                      static_cast<ascbinreq *>(dst.al.cm.connparms));
    auto *req = static_cast<pfrequest *>(dst.al.cm.reqrsp);
    ASSERT_NE(req, nullptr);
    auto *ck = static_cast<pfconkind *>(req->rec);
    EXPECT_EQ(ck->kind, asc_kind_open);
    EXPECT_EQ(ck->flags, 4);
    EXPECT_STREQ(ck->str[asc_str_dbname], "stores");
    EXPECT_EQ(ck->str[asc_str_logarg], nullptr);
    EXPECT_STREQ(ck->str[asc_str_group], "grp");
    auto *env = static_cast<evlist_t *>(dst.al.cm.envlist);
    ASSERT_NE(env, nullptr);
    ASSERT_EQ(env->count, 2);
    EXPECT_STREQ(env->names[1], "LANG");
    EXPECT_STREQ(env->values[0], "Y4MD-");
    EXPECT_STREQ(env->values[1], "");
    EXPECT_EQ(dst.al.cm.peer.pid, 2);
    EXPECT_STREQ(dst.al.cm.peer.cwd, "/tmp");
    EXPECT_EQ(dst.al.cm.peer.tty, nullptr);
    EXPECT_EQ(dst.al.cm.peeruid, 600);
    EXPECT_STREQ(dst.al.cm.peertext, "/home/x");
    EXPECT_EQ(back.pid, 42);
    EXPECT_STREQ(back.tty, "tty1");
    EXPECT_EQ(back.gid, 8);
    frPInfo(asf_pool_assoc, &back);
    frPInfo(asf_pool_assoc, &pi);
  }
  EXPECT_EQ(mem.outstanding(), 0);
}

TEST(CmRecords, UnsavableRecordsAreRefused) {
  CmRecords bad_env(asf_kind_accepted);
  auto *env = static_cast<evlist_t *>(asf_alloc(asf_pool_assoc, sizeof(evlist_t)));
  env->count = 2;  // entries but no arrays
  bad_env.al.cm.envlist = env;
  Arena a1;
  EXPECT_EQ(savBAttr(a1.op, &bad_env.al), ASF_ERR_BADARGS);
  env->count = 0;
  CmRecords bad_kind(5);
  Arena a2;
  EXPECT_EQ(savBAttr(a2.op, &bad_kind.al), ASF_ERR_BADARGS);
  Arena tiny(20);
  CmRecords full(asf_kind_requester);
  full.al.cm.connparms = sample_parms();
  EXPECT_EQ(savBAttr(tiny.op, &full.al), ASF_ERR_MEMORY);
}

/* One malformed image: a change to the valid image of an accepted
** association's connect attributes. */
struct Malformed {
  const char *what;
  void (*spoil)(std::vector<char> &img);
};

/* Offsets inside the valid image: the 12-byte record at 0 holds the
** parameters', request's and environment list's offsets. */
size_t parms_of(const std::vector<char> &img) { return size_t(word_at(img, 0)); }
size_t env_of(const std::vector<char> &img) { return size_t(word_at(img, 8)); }
size_t version_of(const std::vector<char> &img) { return size_t(word_at(img, parms_of(img) + 12)); }

const Malformed malformed[] = {
    {"string length past the end",
     [](std::vector<char> &img) { set_word(img, version_of(img), int32_t(img.size())); }},
    {"negative string length", [](std::vector<char> &img) { set_word(img, version_of(img), -5); }},
    {"string without its NUL", [](std::vector<char> &img) { img[version_of(img) + 4 + 3] = 'x'; }},
    {"sub-record offset outside",
     [](std::vector<char> &img) { set_word(img, 0, int32_t(img.size()) + 64); }},
    {"sub-record offset elsewhere", [](std::vector<char> &img) { set_word(img, 4, 0); }},
    {"negative count", [](std::vector<char> &img) { set_word(img, env_of(img), -1); }},
    {"oversized count", [](std::vector<char> &img) { set_word(img, env_of(img), 1 << 28); }},
    {"request of another kind",
     [](std::vector<char> &img) {
       int16_t two = 2;
       std::memcpy(img.data() + word_at(img, 4), &two, 2);
     }},
    {"image cut short", [](std::vector<char> &img) { img.resize(img.size() - 6); }},
};

TEST(CmRecords, MalformedImagesFailAndLeaveNothingAllocated) {
  std::vector<char> valid;
  {
    CmRecords src(asf_kind_accepted);
    src.al.cm.connparms = sample_parms();
    src.al.cm.reqrsp = sample_request();
    src.al.cm.envlist = sample_env();
    Arena ar;
    ASSERT_EQ(savBAttr(ar.op, &src.al), 0);
    valid = ar.image();
  }
  {
    CountingMemory mem;
    {
      Reader r(valid);
      CmRecords dst(asf_kind_accepted);
      ASSERT_EQ(resBAttr(r.op, &dst.al), 0);
    }
    EXPECT_EQ(mem.outstanding(), 0);
  }
  for (const Malformed &m : malformed) {
    std::vector<char> img = valid;
    m.spoil(img);
    CountingMemory mem;
    {
      Reader r(img);
      alctl al {};
      al.kind = asf_kind_accepted;
      EXPECT_EQ(resBAttr(r.op, &al), -1) << m.what;
      EXPECT_EQ(al.cm.connparms, nullptr) << m.what;
      EXPECT_EQ(al.cm.reqrsp, nullptr) << m.what;
      EXPECT_EQ(al.cm.envlist, nullptr) << m.what;
    }
    EXPECT_EQ(mem.outstanding(), 0) << m.what;
  }
  // Every allocation failing in turn fails the restore cleanly too.
  for (int n = 2; n < 40; ++n) {
    CountingMemory mem(n);
    {
      Reader r(valid);
      CmRecords dst(asf_kind_accepted);
      resBAttr(r.op, &dst.al);
    }
    EXPECT_EQ(mem.outstanding(), 0) << "allocation " << n;
  }
}

// ---- Pipes and variables. ----

TEST(SaveToPipe, WritesTheRecordAndNamesItsReadEnd) {
  GlobalBlock gb;
  gb.g()->initval = 11;
  gb.g()->initval2 = 12;
  gb.g()->terminated = 0;
  gb.g()->parm5 = 5;
  gb.g()->parm6 = 6;
  gb.g()->reserved = 9;
  asfsvcctl ctl {};
  ASSERT_EQ(saveGlobData(&ctl), 0);
  const char *v = std::getenv("ASF_G");
  ASSERT_NE(v, nullptr);
  const int fd = std::atoi(v);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  std::vector<char> rec = drain("ASF_G");
  ASSERT_EQ(rec.size(), size_t(28));
  const int32_t want[7] = {28, 11, 12, 0, 5, 6, 9};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(word_at(rec, 4 * size_t(i)), want[i]) << "word " << i;

  // Taken over: the seventh word is not.
  gb.g()->initval = gb.g()->initval2 = gb.g()->parm5 = gb.g()->parm6 = 0;
  gb.g()->reserved = 0;
  pipe_with("ASF_G", rec);
  EXPECT_EQ(getGlobData(&ctl), 0);
  EXPECT_EQ(gb.g()->initval, 11u);
  EXPECT_EQ(gb.g()->initval2, 12u);
  EXPECT_EQ(gb.g()->parm6, 6u);
  EXPECT_EQ(gb.g()->reserved, 0u);
}

/* A pipe whose read end sits on descriptor 100001 when the limit allows;
** otherwise the real read end is kept aside and only its number is
** replaced: the variable's text is what is tested. */
int kept_read_end = -1;
int high_pipe(int fds[2]) {
  if (pipe(fds) != 0) return -1;
  const int target = 100001;
  if (dup2(fds[0], target) == target)
    close(fds[0]);
  else
    kept_read_end = fds[0];
  fds[0] = target;
  return 0;
}

TEST(SaveToPipe, DescriptorTooLongForTheVariableFails) {
  struct rlimit lim {};
  getrlimit(RLIMIT_NOFILE, &lim);
  struct rlimit raised = lim;
  if (lim.rlim_max > 100002) raised.rlim_cur = 100002;
  setrlimit(RLIMIT_NOFILE, &raised);
  const ho_pipe_seam seam = {high_pipe};
  ho_pipe_override = &seam;
  setenv("ASF_G", "7", 1);
  const char rec[4] = {1, 2, 3, 4};
  int32_t err = 0;
  EXPECT_EQ(save2pipe(0, rec, 4, "ASF_G", &err), HO_ERR_FAILED);
  ho_pipe_override = nullptr;
  EXPECT_STREQ(std::getenv("ASF_G"), "7");
  EXPECT_EQ(fcntl(100001, F_GETFD), -1);  // nothing left open
  if (kept_read_end >= 0) close(kept_read_end);
  setrlimit(RLIMIT_NOFILE, &lim);
  unsetenv("ASF_G");
  // Five digits fit.
  EXPECT_EQ(save2pipe(1, rec, 4, "ASF_C", &err), 0);
  EXPECT_EQ(drain("ASF_C").size(), size_t(4));
  unsetenv("ASF_C");
}

/* An init request with status-byte areas for the given kinds. */
struct InitRequest {
  asfsvcreq req {};
  char areas[3][2] = {};
  InitRequest(bool req_area, bool acc_area, bool lsn_area) {
    if (req_area) req.word[ho_word_req_area] = reinterpret_cast<uintptr_t>(areas[0]);
    if (acc_area) req.word[ho_word_acc_area] = reinterpret_cast<uintptr_t>(areas[1]);
    if (lsn_area) req.word[ho_word_lsn_area] = reinterpret_cast<uintptr_t>(areas[2]);
  }
};

TEST(TakeOver, BadVariablesShortReadsAndHeadersFail) {
  GlobalBlock gb;
  asfsvcctl ctl {};
  // The global record one byte short.
  pipe_with("ASF_G", std::vector<char>(27, 0));
  EXPECT_EQ(getGlobData(&ctl), HO_ERR_FAILED);
  EXPECT_EQ(ctl.asfcode, HO_ERR_FAILED);
  // A variable that is not all digits.
  InitRequest ir(true, false, false);
  setenv("ASF_C", "12x", 1);
  EXPECT_EQ(getAssocData(asf_kind_requester, &ctl, &ir.req), HO_ERR_FAILED);
  // No status-byte area for the kind: its variable is not read.
  InitRequest none(false, true, true);
  EXPECT_EQ(getAssocData(asf_kind_requester, &ctl, &none.req), 0);
  EXPECT_EQ(none.req.word[ho_word_req_id], 0u);
  // A header whose word 0 is not 28, and a header cut short.
  std::vector<char> header(64, 0);
  set_word(header, 0, 32);
  pipe_with("ASF_C", header);
  EXPECT_EQ(getAssocData(asf_kind_requester, &ctl, &ir.req), HO_ERR_FAILED);
  pipe_with("ASF_C", std::vector<char>(20, 0));
  EXPECT_EQ(getAssocData(asf_kind_requester, &ctl, &ir.req), HO_ERR_FAILED);
  // A header with nothing after it: the records are missing.
  std::vector<char> bare(28, 0);
  set_word(bare, 0, 28);
  set_word(bare, 4, 1);
  pipe_with("ASF_C", bare);
  EXPECT_EQ(getAssocData(asf_kind_requester, &ctl, &ir.req), ASF_ERR_MEMORY);
  EXPECT_EQ(gb.g()->reqq, nullptr);
}

TEST(HandOver, TwoRequestersCannotBeHandedOver) {
  GlobalBlock gb;
  char s1[2] = {}, s2[2] = {};
  Assocctl *a = make_connected(s1);
  Assocctl *b = make_connected(s2);
  queue_requester(a);
  queue_requester(b);
  asfsvcctl ctl {};
  EXPECT_EQ(saveAssocData(asf_kind_requester, &ctl), HO_ERR_TOOMANY);
  EXPECT_EQ(std::getenv("ASF_C"), nullptr);
  EXPECT_EQ(saveAssocData(asf_kind_listener, &ctl), 0);  // empty queue: skipped
  abort_assoc(a);
  abort_assoc(b);
  EXPECT_EQ(gb.g()->reqq, nullptr);
}

TEST(HandOver, RequesterTravelsThroughItsPipeAndIsTakenOver) {
  GlobalBlock gb;
  char status[2] = {1, 'B'};
  Assocctl *a = make_connected(status);
  a->al->state = asf_state_open;
  queue_requester(a);
  EXPECT_EQ(alCSsave(a), HO_BUFFER_SIZE);
  asfsvcctl ctl {};
  ASSERT_EQ(saveAssocData(asf_kind_requester, &ctl), 0) << ctl.asfcode;
  EXPECT_EQ(gb.g()->reqq, nullptr);  // aborted here
  EXPECT_EQ(alCSsave(a), -1);
  std::vector<char> img = drain("ASF_C");
  ASSERT_GT(img.size(), size_t(28));
  // The header.
  EXPECT_EQ(word_at(img, 0), 28);
  EXPECT_EQ(word_at(img, 4), asf_state_open);
  for (size_t i = 8; i < 24; ++i)
    EXPECT_EQ(img[i], 0) << i;
  EXPECT_EQ(img[24], 1);
  EXPECT_EQ(img[25], 'B');
  // The requester's connect attributes right after it.
  EXPECT_EQ(word_at(img, 28), 36);

  // The executed program takes it over.
  InitRequest ir(true, false, false);
  pipe_with("ASF_C", img);
  ASSERT_EQ(getAssocData(asf_kind_requester, &ctl, &ir.req), 0) << ctl.asfcode;
  auto *b = reinterpret_cast<Assocctl *>(ir.req.word[ho_word_req_id]);
  ASSERT_TRUE(asfValidAssoc(b));
  EXPECT_EQ(gb.g()->reqq, b);
  EXPECT_EQ(b->kind, asf_kind_requester);
  EXPECT_EQ(b->al->state, asf_state_open);
  EXPECT_EQ(ir.areas[0][0], 1);
  EXPECT_EQ(ir.areas[0][1], 'B');
  auto *parms = static_cast<ascbinreq *>(b->al->cm.connparms);
  ASSERT_NE(parms, nullptr);
  EXPECT_STREQ(parms->user, "ann");
  EXPECT_EQ(parms->password, nullptr);
  EXPECT_STREQ(b->al->cm.peer.host, "peerhost");
  EXPECT_EQ(b->al->cm.peer.pid, 77);
  auto *pf = static_cast<pfblock *>(b->pfblock);
  ASSERT_NE(pf, nullptr);
  EXPECT_EQ(pf->state, pf_state_connected);
  EXPECT_EQ(pf->level, 61);
  auto *s = static_cast<slsession *>(b->slblock);
  EXPECT_EQ(s->state, sl_state_connected);
  ASSERT_NE(s->common, nullptr);
  EXPECT_EQ(s->common->srvlevel, 62);
  auto *tb = static_cast<tlblock *>(b->tlblock);
  ASSERT_NE(tb, nullptr);
  EXPECT_EQ(tb->state, uint32_t(tl_state_connected));
  EXPECT_EQ(tb->protinx, 3);
  EXPECT_STREQ(tb->drv.protname, "tlitcp");
  abort_assoc(b);
  EXPECT_EQ(gb.g()->reqq, nullptr);
}

TEST(HandOver, EveryFailingAllocationOfATakeOverLeavesNothing) {
  GlobalBlock gb;
  char status[2] = {};
  queue_requester(make_connected(status));
  asfsvcctl ctl {};
  ASSERT_EQ(saveAssocData(asf_kind_requester, &ctl), 0);
  const std::vector<char> img = drain("ASF_C");
  bool taken = false;
  for (int n = 1; n < 80 && !taken; ++n) {
    InitRequest ir(true, false, false);
    pipe_with("ASF_C", img);
    int rc;
    {
      CountingMemory mem(n);
      rc = getAssocData(asf_kind_requester, &ctl, &ir.req);
      if (rc != 0) {
        // The association record itself failing is a hand-over failure.
        EXPECT_EQ(rc, n == 1 ? HO_ERR_FAILED : ASF_ERR_MEMORY) << "allocation " << n;
        EXPECT_EQ(mem.outstanding(), 0) << "allocation " << n;
        EXPECT_EQ(gb.g()->reqq, nullptr);
      }
    }
    if (rc == 0) {
      taken = true;
      abort_assoc(reinterpret_cast<Assocctl *>(ir.req.word[ho_word_req_id]));
    }
  }
  EXPECT_TRUE(taken);
}

}  // namespace
