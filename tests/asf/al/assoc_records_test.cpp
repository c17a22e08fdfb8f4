/*
** Association records: allocation and freeing with the memory failing at
** each allocation, stale ids, buffer slots, the queues and service queues, the
** global control block and the name-service record copies.
*/
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "asf_al.h"
#include "asf_test_support.h"
#include "counting_memory.h"

namespace {

using asf_test::CountingMemory;

using asf_test::fresh_ctl;

/* A global control block for the test's life. */
class GlobalBlock {
 public:
  GlobalBlock() {
    asfsvcreq req {};
    asfsvcctl ctl = fresh_ctl();
    EXPECT_EQ(defineASFCtl(&req, &ctl), 0);
  }
  ~GlobalBlock() {
    asfsvcctl ctl = fresh_ctl();
    EXPECT_EQ(deleteASFCtl(&ctl), 0);
  }
  ASFGLBCTL *operator->() const { return asfglbctl; }
};

TEST(AssocRecords, AllocSetsBothMagicsAndFreeingLeavesNothing) {
  CountingMemory memory;
  asfsvcctl ctl = fresh_ctl();
  ctl.asfcode = 99;
  ctl.oserr = 5;
  char status[4] = {};
  Assocctl *a = alCSalloc(&ctl, asf_kind_requester, status);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->magic, ASF_ASSOC_MAGIC);
  EXPECT_EQ(a->magic2, ASF_ASSOC_MAGIC2);
  EXPECT_EQ(a->kind, asf_kind_requester);
  EXPECT_EQ(a->al, &a->alblock);
  EXPECT_EQ(a->alsize, sizeof(alctl));
  EXPECT_EQ(ctl.asfcode, 0);
  EXPECT_EQ(ctl.oserr, 0);
  char *seen = nullptr;
  EXPECT_EQ(bufStateGet(a, &seen), asf_kind_requester);
  EXPECT_EQ(seen, status);

  ctl.ascid = a;
  ASSERT_EQ(sqlCSalloc(&ctl, 1, "sqli", "tcp"), 0);
  ASSERT_EQ(tlCSalloc(&ctl), 0);
  EXPECT_EQ(tlCSfree(a), 0);
  EXPECT_EQ(alCSfree(a), 0);
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST(AssocRecords, AllocFailureGivesNullWithMemoryStatus) {
  CountingMemory memory(1);
  asfsvcctl ctl = fresh_ctl();
  EXPECT_EQ(alCSalloc(&ctl, asf_kind_requester, nullptr), nullptr);
  EXPECT_EQ(ctl.asfcode, -406);
  EXPECT_EQ(ctl.oserr, 12);
}

// A freed id must be refused without reading the freed record (under
// AddressSanitizer a read would abort the test).
TEST(AssocRecords, FreedIdIsRefusedEverywhere) {
  asfsvcctl ctl = fresh_ctl();
  Assocctl *a = alCSalloc(&ctl, asf_kind_requester, nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(alCSfree(a), 0);

  asfsvcctl stale = fresh_ctl(a);
  EXPECT_EQ(sqlCSalloc(&stale, 1, "sqli", ""), -1);
  EXPECT_EQ(stale.asfcode, -25546);
  stale.asfcode = 0;
  EXPECT_EQ(tlCSalloc(&stale), -1);
  EXPECT_EQ(stale.asfcode, -25546);
  EXPECT_EQ(alCSfree(a), -1);
  EXPECT_EQ(sqlCSfree(a), -1);
  EXPECT_EQ(tlCSfree(a), -1);
  EXPECT_EQ(bufStateGet(a, nullptr), -1);
  rscbufctl buf {};
  rscbufctl *out = nullptr;
  EXPECT_EQ(bufReg(a, asf_buf_recv, &buf), -1);
  EXPECT_EQ(bufGet(a, asf_buf_recv, &out), -1);
  Assocctl *head = nullptr;
  int32_t count = 0;
  EXPECT_EQ(addAssoc2Q(a, &head, nullptr, &head, &count), -1);
  EXPECT_EQ(delAssocInQ(nullptr, &head, a, &count), -1);
}

TEST(AssocRecords, ProtocolFamilyBlockReuseByNames) {
  struct row {
    const char *what;
    int reuse;
    const char *name;
    const char *name2;
    int fail_at; /* allocation failing after the first block exists */
    int rc;
    int32_t asfcode;
    bool same_block;
  };
  const row rows[] = {
      {"no reuse allowed", 0, "sqli", "tcp", 0, -1, -1, true},
      {"same names keep the block", 1, "sqli", "tcp", 0, 0, 0, true},
      {"other first name", 1, "sqlx", "tcp", 0, 0, 0, false},
      {"other second name", 1, "sqli", "shm", 0, 0, 0, false},
      {"memory short for the new block", 1, "sqlx", "tcp", 1, -1, -406, false},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    asfsvcctl ctl = fresh_ctl();
    Assocctl *a = alCSalloc(&ctl, asf_kind_requester, nullptr);
    ASSERT_NE(a, nullptr);
    ctl.ascid = a;
    ASSERT_EQ(sqlCSalloc(&ctl, 1, "sqli", "tcp"), 0);
    EXPECT_EQ(a->pfstate, ASF_PF_ALLOCATED);
    EXPECT_EQ(a->headroom, 6u);
    EXPECT_EQ(static_cast<char *>(a->slblock), static_cast<char *>(a->pfblock) + a->pfsize);
    void *first = a->pfblock;
    {
      CountingMemory memory(r.fail_at);
      ctl.asfcode = 0;
      EXPECT_EQ(sqlCSalloc(&ctl, r.reuse, r.name, r.name2), r.rc);
      EXPECT_EQ(ctl.asfcode, r.asfcode);
      if (r.asfcode == -406) {
        EXPECT_EQ(ctl.oserr, 12);
      }
      if (r.same_block) {
        EXPECT_EQ(a->pfblock, first);
      }
      if (r.rc == 0 && !r.same_block) {
        EXPECT_EQ(std::memcmp(a->pfname, r.name, std::strlen(r.name)), 0);
        EXPECT_EQ(std::memcmp(a->pfname2, r.name2, std::strlen(r.name2)), 0);
      }
    }
    EXPECT_EQ(alCSfree(a), 0);
  }
}

TEST(AssocRecords, TransportBlockSharing) {
  asfsvcctl ctl = fresh_ctl();
  Assocctl *a = alCSalloc(&ctl, asf_kind_requester, nullptr);
  Assocctl *b = alCSalloc(&ctl, asf_kind_requester, nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(tlCSlink(a, b), -1);
  ctl.ascid = a;
  {
    CountingMemory memory(1);
    EXPECT_EQ(tlCSalloc(&ctl), -1);
    EXPECT_EQ(ctl.asfcode, -406);
    EXPECT_EQ(ctl.oserr, 12);
  }
  ASSERT_EQ(tlCSalloc(&ctl), 0);
  EXPECT_EQ(tlCSlink(a, b), 0);
  EXPECT_EQ(b->tlblock, a->tlblock);
  EXPECT_EQ(tlCSfree(a), 0);
  EXPECT_EQ(alCSfree(a), 0);
  EXPECT_EQ(alCSfree(b), 0);
}

TEST(AssocRecords, BufferSlots) {
  asfsvcctl ctl = fresh_ctl();
  Assocctl *a = alCSalloc(&ctl, asf_kind_requester, nullptr);
  ASSERT_NE(a, nullptr);
  char area[64];
  rscbufctl first {area, 3, 0, nullptr, area, 64, 6};
  rscbufctl second {area, 3, 0, nullptr, area, 64, 6};
  struct row {
    const char *what;
    int selector;
    rscbufctl **slot;
  };
  const row rows[] = {
      {"send", asf_buf_send, &a->sndbuf},
      {"receive", asf_buf_recv, &a->rcvbuf},
      {"expedited send", asf_buf_send | asf_buf_exp, &a->xsndbuf},
      {"expedited receive", asf_buf_recv | asf_buf_exp, &a->xrcvbuf},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    first.p = area;
    first.size = 3;
    rscbufctl *out = nullptr;
    EXPECT_EQ(bufGet(a, r.selector, &out), -1);
    ASSERT_EQ(bufReg(a, r.selector, &first), 0);
    EXPECT_EQ(*r.slot, &first);
    if (r.selector & asf_buf_send) {
      EXPECT_EQ(first.p, area + 6);
      EXPECT_EQ(first.size, 58);
    } else {
      EXPECT_EQ(first.size, 3);
    }
    EXPECT_EQ(bufReg(a, r.selector, &second), -1);
    EXPECT_EQ(*r.slot, &first);
    EXPECT_EQ(bufGet(a, r.selector | asf_buf_peek, &out), 0);
    EXPECT_EQ(out, &first);
    EXPECT_EQ(*r.slot, &first);
    out = nullptr;
    EXPECT_EQ(bufGet(a, r.selector, &out), 0);
    EXPECT_EQ(out, &first);
    EXPECT_EQ(*r.slot, nullptr);
  }
  rscbufctl *out = nullptr;
  EXPECT_EQ(bufReg(a, asf_buf_exp, &first), -1);
  EXPECT_EQ(bufGet(a, asf_buf_exp | asf_buf_peek, &out), -1);
  EXPECT_EQ(alCSfree(a), 0);
}

TEST(AssocRecords, ServiceQueueOfEachCode) {
  // Queue 0 serves the outgoing direction, 1 the incoming one, 2 the abort,
  // 3 resync and attributes.
  const std::vector<int> queue_codes[ASF_SERVICE_QUEUES] = {
      {3, 5, 6, 9, 16}, {1, 4, 7, 17, 20}, {10}, {8, 12}};
  alctl al {};
  for (int code = -1; code <= 21; ++code) {
    SCOPED_TRACE(code);
    SrvcQ *expected = nullptr;
    for (int q = 0; q < ASF_SERVICE_QUEUES; ++q)
      for (int c : queue_codes[q])
        if (c == code) expected = &al.svcq[q];
    EXPECT_EQ(getSrvcQ(code, &al), expected);
  }
  EXPECT_EQ(getSrvcQ(2, &al), nullptr);
  EXPECT_EQ(getSrvcQ(11, &al), nullptr);
  EXPECT_EQ(getSrvcQ(3, nullptr), nullptr);
}

TEST(AssocRecords, DefineSrvcQFillsTheWorkingCopy) {
  int marker = 0;
  asfsvcctl caller = fresh_ctl(&marker);
  caller.flags = 0x41;
  caller.timeout = 2500;
  caller.asfcode = 7;
  caller.oserr = 3;
  std::strcpy(caller.errstr, "old");
  asfsvcreq req {};
  SrvcQ q {};
  auto callback = [](asfsvcctl *, void *) {};
  defineSrvcQ(&q, &req, &caller, callback);
  EXPECT_EQ(q.ctl, &caller);
  EXPECT_EQ(q.req, &req);
  EXPECT_EQ(q.wctl.ascid, &marker);
  EXPECT_EQ(q.wctl.flags, 0x41u);
  EXPECT_EQ(q.wctl.timeout, 2500);
  EXPECT_EQ(q.wctl.asyncfunc, +callback);
  EXPECT_EQ(q.wctl.asfcode, 0);
  EXPECT_EQ(q.wctl.oserr, 0);
  EXPECT_STREQ(q.wctl.errstr, "");
}

/* The queue from head along the next links. */
std::vector<Assocctl *> walk(Assocctl *head) {
  std::vector<Assocctl *> out;
  Assocctl *prev = nullptr;
  for (Assocctl *a = head; a != nullptr; a = a->al->next) {
    EXPECT_EQ(a->al->prev, prev);
    out.push_back(a);
    prev = a;
  }
  return out;
}

TEST(AssocRecords, QueuesPutInFrontAndUnlinkAnywhere) {
  GlobalBlock g;
  asfsvcctl ctl = fresh_ctl();
  Assocctl *a[3];
  for (Assocctl *&x : a) {
    x = alCSalloc(&ctl, asf_kind_requester, nullptr);
    ASSERT_NE(x, nullptr);
    ASSERT_EQ(addAssoc2Q(x, &x->al->next, &g->lock, &g->reqq, &g->nreq), 0);
  }
  EXPECT_EQ(walk(g->reqq), (std::vector<Assocctl *> {a[2], a[1], a[0]}));
  EXPECT_EQ(g->nreq, 3);

  EXPECT_EQ(delAssocInQ(&g->lock, &g->reqq, a[1], &g->nreq), 0);
  EXPECT_EQ(walk(g->reqq), (std::vector<Assocctl *> {a[2], a[0]}));
  EXPECT_EQ(delAssocInQ(&g->lock, &g->reqq, a[2], &g->nreq), 0);
  EXPECT_EQ(walk(g->reqq), (std::vector<Assocctl *> {a[0]}));
  EXPECT_EQ(delAssocInQ(&g->lock, &g->reqq, a[0], &g->nreq), 0);
  EXPECT_EQ(g->reqq, nullptr);
  EXPECT_EQ(g->nreq, 0);

  // A head that names a freed association is refused.
  Assocctl *stale = alCSalloc(&ctl, asf_kind_requester, nullptr);
  ASSERT_EQ(alCSfree(stale), 0);
  Assocctl *head = stale;
  int32_t count = 1;
  EXPECT_EQ(addAssoc2Q(a[0], &a[0]->al->next, &g->lock, &head, &count), -1);
  EXPECT_EQ(count, 1);
  for (Assocctl *x : a)
    EXPECT_EQ(alCSfree(x), 0);
}

TEST(AssocRecords, AcceptedAssociationHandsItsRequestersToTheGlobalQueue) {
  GlobalBlock g;
  asfsvcctl ctl = fresh_ctl();
  Assocctl *r0 = alCSalloc(&ctl, asf_kind_requester, nullptr);
  Assocctl *acc = alCSalloc(&ctl, asf_kind_accepted, nullptr);
  Assocctl *c1 = alCSalloc(&ctl, asf_kind_requester, nullptr);
  Assocctl *c2 = alCSalloc(&ctl, asf_kind_requester, nullptr);
  ASSERT_TRUE(r0 && acc && c1 && c2);
  ASSERT_EQ(addAssoc2Q(r0, &r0->al->next, &g->lock, &g->reqq, &g->nreq), 0);
  ASSERT_EQ(addAssoc2Q(acc, &acc->al->next, &g->lock, &g->accq, &g->nacc), 0);
  // Requesters under the accepted association: c1 first, then c2.
  ASSERT_EQ(addAssoc2Q(c2, &c2->al->next, &acc->lock, &acc->al->children, &acc->al->nchildren), 0);
  ASSERT_EQ(addAssoc2Q(c1, &c1->al->next, &acc->lock, &acc->al->children, &acc->al->nchildren), 0);
  c1->al->parent = c2->al->parent = acc;

  EXPECT_EQ(delAssocInQ(&g->lock, &g->accq, acc, &g->nacc), 0);
  EXPECT_EQ(g->accq, nullptr);
  EXPECT_EQ(g->nacc, 0);
  EXPECT_EQ(walk(g->reqq), (std::vector<Assocctl *> {c1, c2, r0}));
  EXPECT_EQ(g->nreq, 3);
  EXPECT_EQ(acc->al->children, nullptr);
  EXPECT_EQ(acc->al->nchildren, 0);
  EXPECT_EQ(c1->al->parent, nullptr);
  EXPECT_EQ(c2->al->parent, nullptr);
  for (Assocctl *x : {r0, acc, c1, c2})
    EXPECT_EQ(alCSfree(x), 0);
}

TEST(AssocRecords, GlobalBlockFromTheInitRequest) {
  struct prot_entry {
    char product[8];
    int32_t level;
    char protocol[8];
    int32_t version;
    int32_t word;
  };
  static_assert(sizeof(prot_entry) == ASF_PROT_ENTRY_SIZE);
  prot_entry entries[1] = {{"", -1, "", -1, -1}};
  asfsvcreq req {};
  req.word[1] = 0x11;
  req.word[4] = 10;
  req.word[5] = 0;
  req.word[6] = 100;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(entries);
  req.word[16] = 9;
  for (int fail_at = 1; fail_at <= 2; ++fail_at) {
    SCOPED_TRACE(fail_at);
    CountingMemory memory(fail_at);
    asfsvcctl ctl = fresh_ctl();
    EXPECT_EQ(defineASFCtl(&req, &ctl), -406);
    EXPECT_EQ(getASFGLBCTL(), nullptr);
    EXPECT_EQ(memory.outstanding(), 0);
  }
  CountingMemory memory;
  asfsvcctl ctl = fresh_ctl();
  ASSERT_EQ(defineASFCtl(&req, &ctl), 0);
  ASFGLBCTL *g = getASFGLBCTL();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->initflags, 0x11u);
  EXPECT_EQ(g->initval, 10u);
  EXPECT_EQ(g->initval2, 10u);
  EXPECT_EQ(g->parm6, 100u);
  EXPECT_EQ(g->parm12[4], 9u);
  EXPECT_EQ(g->nprot, 1);
  ASSERT_NE(g->prot, nullptr);
  EXPECT_NE(g->prot, static_cast<void *>(entries));
  EXPECT_EQ(std::memcmp(g->prot, entries, sizeof entries), 0);
  EXPECT_EQ(g->dbgfile, stderr);
  EXPECT_EQ(deleteASFCtl(&ctl), 0);
  EXPECT_EQ(getASFGLBCTL(), nullptr);
  EXPECT_EQ(memory.outstanding(), 0);
  EXPECT_EQ(deleteASFCtl(&ctl), -406);
}

NSEntry full_entry() {
  static char server[] = "srv1", db[] = "stores", addr[] = "host1|svc1|ontlitcp", user[] = "joe",
              password[] = "secret", csm[] = "C1";
  NSEntry e {};
  std::strcpy(e.product, "on");
  std::strcpy(e.protocol, "tlitcp");
  e.servername = server;
  e.dbpath = db;
  e.addrkind = 1;
  e.addrtext = addr;
  e.loginkind = 1;
  e.user = user;
  e.password = password;
  e.omit = -25559;
  e.options.keepalive = 1;
  e.options.csm = csm;
  return e;
}

TEST(NameServiceRecords, DupNSEntryCopiesEveryString) {
  NSEntry e = full_entry();
  CountingMemory memory;
  NSEntry *copy = dupNSEntry(1, &e);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(memory.allocations(), 7);
  const std::pair<char *, char *> strings[] = {
      {copy->servername, e.servername}, {copy->dbpath, e.dbpath},
      {copy->addrtext, e.addrtext},     {copy->user, e.user},
      {copy->password, e.password},     {copy->options.csm, e.options.csm}};
  for (auto [c, s] : strings) {
    EXPECT_NE(c, s);
    EXPECT_STREQ(c, s);
  }
  EXPECT_STREQ(copy->product, "on");
  EXPECT_EQ(copy->omit, -25559);
  frNSEntry(1, copy, 1);
  EXPECT_EQ(memory.outstanding(), 0);

  NSEntry bare {};
  copy = dupNSEntry(1, &bare);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->servername, nullptr);
  EXPECT_EQ(copy->options.csm, nullptr);
  frNSEntry(1, copy, 1);
  EXPECT_EQ(memory.outstanding(), 0);
}

TEST(NameServiceRecords, DupNSEntryFailingAtEachCopyLeaksNothing) {
  NSEntry e = full_entry();
  for (int fail_at = 1; fail_at <= 7; ++fail_at) {
    SCOPED_TRACE(fail_at);
    CountingMemory memory(fail_at);
    EXPECT_EQ(dupNSEntry(1, &e), nullptr);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

TEST(NameServiceRecords, MeStrDup) {
  CountingMemory memory;
  EXPECT_EQ(meStrDup(1, nullptr), nullptr);
  char *s = meStrDup(1, "abc");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "abc");
  meFree(1, s);
  CountingMemory failing(1);
  EXPECT_EQ(meStrDup(1, "abc"), nullptr);
}

TEST(NameServiceRecords, FreeNSRegFreesEntriesStrings) {
  CountingMemory memory;
  NSEntry e = full_entry();
  for (int count : {0, -1, 2}) {
    SCOPED_TRACE(count);
    auto *reg = static_cast<NSReg *>(asf_alloc(1, sizeof(NSReg)));
    ASSERT_NE(reg, nullptr);
    reg->count = count;
    for (int i = 0; i < count; ++i) {
      NSEntry *copy = dupNSEntry(1, &e);
      ASSERT_NE(copy, nullptr);
      reg->entry[i] = *copy;
      asf_free(1, copy);
    }
    ASF_FreeNSReg(reg);
    EXPECT_EQ(memory.outstanding(), 0);
  }
}

}  // namespace
