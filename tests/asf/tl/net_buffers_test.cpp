/*
** Network buffers: the four records a connected driver lends, their
** layout for TCP and for SPX, the set-up failing at each allocation and
** on an occupied slot with nothing left behind, the release, and the
** shared-memory pair with and without the segment's lender.
*/
#include <gtest/gtest.h>

#include <array>

#include "al/counting_memory.h"
#include "asf_al.h"
#include "asf_memory.h"
#include "tl_records.h"

namespace {

using asf_test::CountingMemory;

/* An association with header room 6 and a status area of its own. */
struct Assoc {
  char status[12] = {};
  asfsvcctl ctl {};
  Assocctl *a = nullptr;
  Assoc() {
    ctl.flags = 1;
    ctl.timeout = -1;
    a = alCSalloc(&ctl, asf_kind_requester, status);
    EXPECT_NE(a, nullptr);
    ctl.ascid = a;
    EXPECT_EQ(sqlCSalloc(&ctl, 0, "sqli", ""), 0);
  }
  ~Assoc() { alCSfree(a); }
  std::array<rscbufctl *, 4> slots() const {
    return {a->sndbuf, a->rcvbuf, a->xsndbuf, a->xrcvbuf};
  }
};

bool all_empty(const Assoc &assoc) {
  for (rscbufctl *b : assoc.slots())
    if (b != nullptr) return false;
  return true;
}

TEST(NetBuffers, LayoutByDriverType) {
  struct Case {
    int type;
    int32_t bufsize;
    int32_t area; /* length of the send and receive areas */
    int32_t room; /* p_offset of both */
  };
  const Case cases[] = {
      {tl_drv_tlitcp, 4096, 4096, 6},
      {tl_drv_tliimc, 140, 140, 6},
      {tl_drv_tlispx, 4096, 534, 7}, /* fixed area, one byte more for the mark */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    CountingMemory memory;
    Assoc assoc;
    const int before = memory.outstanding();
    drvblock drv {};
    drv.type = c.type;
    drv.bufsize = c.bufsize;
    ASSERT_EQ(net_buffer_setup(&drv, assoc.a, &assoc.ctl), 0);
    for (rscbufctl *b : {assoc.a->sndbuf, assoc.a->rcvbuf}) {
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->lbuff, c.area);
      EXPECT_EQ(b->p_offset, c.room);
      EXPECT_EQ(b->p, b->buff + c.room);
      EXPECT_EQ(b->size, c.area - c.room);
      b->buff[c.area - 1] = 'x'; /* the whole area is ours */
    }
    EXPECT_NE(assoc.a->sndbuf->buff, assoc.a->rcvbuf->buff);
    rscbufctl *xs = assoc.a->xsndbuf;
    ASSERT_NE(xs, nullptr);
    EXPECT_EQ(xs->lbuff, 1);
    EXPECT_EQ(xs->p_offset, 0);
    EXPECT_EQ(xs->p, xs->buff);
    rscbufctl *xr = assoc.a->xrcvbuf;
    ASSERT_NE(xr, nullptr);
    EXPECT_EQ(xr->buff, assoc.status + 1); /* the association's expedited byte */
    EXPECT_EQ(xr->lbuff, 1);

    tlictl *endpoint = static_cast<tlictl *>(asf_alloc(asf_pool_assoc, sizeof(tlictl)));
    drv.priv = endpoint;
    EXPECT_EQ(net_deallocate(&drv, &assoc.ctl), 0);
    EXPECT_EQ(drv.priv, nullptr);
    EXPECT_TRUE(all_empty(assoc));
    EXPECT_EQ(memory.outstanding(), before);
  }
}

TEST(NetBuffers, FailingAllocationLeavesNothing) {
  Assoc assoc;
  drvblock drv {};
  drv.type = tl_drv_tlitcp;
  drv.bufsize = 4096;
  int allocations = 0;
  {
    CountingMemory memory;
    ASSERT_EQ(net_buffer_setup(&drv, assoc.a, &assoc.ctl), 0);
    allocations = memory.allocations();
    net_deallocate(&drv, &assoc.ctl);
  }
  ASSERT_EQ(allocations, 7); /* four records, three areas */
  for (int n = 1; n <= allocations; ++n) {
    SCOPED_TRACE(n);
    CountingMemory memory(n);
    assoc.ctl.asfcode = 0;
    EXPECT_EQ(net_buffer_setup(&drv, assoc.a, &assoc.ctl), -1);
    EXPECT_EQ(assoc.ctl.asfcode, ASF_ERR_MEMORY);
    EXPECT_EQ(memory.outstanding(), 0);
    EXPECT_TRUE(all_empty(assoc));
  }
}

TEST(NetBuffers, RefusedSlotOrAssociation) {
  CountingMemory memory;
  Assoc assoc;
  const int before = memory.outstanding();
  drvblock drv {};
  drv.type = tl_drv_tlitcp;
  drv.bufsize = 4096;
  // A receive buffer still in its slot: the set-up takes back what it
  // registered and frees everything.
  rscbufctl held {};
  assoc.a->rcvbuf = &held;
  EXPECT_EQ(net_buffer_setup(&drv, assoc.a, &assoc.ctl), -1);
  EXPECT_EQ(assoc.ctl.asfcode, ASF_ERR_BADASSOC);
  EXPECT_EQ(assoc.a->sndbuf, nullptr);
  EXPECT_EQ(assoc.a->rcvbuf, &held);
  EXPECT_EQ(memory.outstanding(), before);
  assoc.a->rcvbuf = nullptr;

  EXPECT_EQ(net_buffer_setup(&drv, nullptr, &assoc.ctl), -1);
  EXPECT_EQ(assoc.ctl.asfcode, ASF_ERR_BADASSOC);
  drv.bufsize = 6; /* no room behind the header */
  EXPECT_EQ(net_buffer_setup(&drv, assoc.a, &assoc.ctl), -1);
  EXPECT_EQ(assoc.ctl.asfcode, ASF_ERR_MEMORY);
  EXPECT_EQ(memory.outstanding(), before);
  EXPECT_TRUE(all_empty(assoc));
}

TEST(NetBuffers, WithoutACallerStatusAreaTheOwnOneCarriesTheExpeditedByte) {
  asfsvcctl ctl {};
  Assocctl *a = alCSalloc(&ctl, asf_kind_accepted, nullptr);
  ASSERT_NE(a, nullptr);
  ctl.ascid = a;
  drvblock drv {};
  drv.bufsize = 4096;
  ASSERT_EQ(net_buffer_setup(&drv, a, &ctl), 0);
  EXPECT_EQ(a->xrcvbuf->buff, a->ownstatus + 1);
  net_deallocate(&drv, &ctl);
  EXPECT_EQ(alCSfree(a), 0);
}

char segment[TL_SHM_BUFSIZE];
char *lend_segment(void *) { return segment; }

TEST(ShmBuffers, LentSendAreaStaysWithTheSegment) {
  CountingMemory memory;
  Assoc assoc;
  const int before = memory.outstanding();
  drvblock drv {};
  drv.type = tl_drv_ipcshm;

  EXPECT_EQ(shm_buffer_setup(&drv, assoc.a, &assoc.ctl, nullptr), -1);
  EXPECT_EQ(assoc.ctl.asfcode, ASF_ERR_MEMORY);
  EXPECT_EQ(memory.outstanding(), before);
  EXPECT_TRUE(all_empty(assoc));

  ASSERT_EQ(shm_buffer_setup(&drv, assoc.a, &assoc.ctl, lend_segment), 0);
  EXPECT_EQ(assoc.a->sndbuf->buff, segment);
  EXPECT_EQ(assoc.a->sndbuf->lbuff, TL_SHM_BUFSIZE);
  EXPECT_EQ(assoc.a->sndbuf->p_offset, 6);
  EXPECT_EQ(assoc.a->rcvbuf->buff, nullptr);
  EXPECT_EQ(assoc.a->rcvbuf->lbuff, TL_SHM_BUFSIZE);
  EXPECT_EQ(assoc.a->xrcvbuf->buff, assoc.status + 1);
  EXPECT_EQ(shm_deallocate(&drv, &assoc.ctl), 0);
  EXPECT_TRUE(all_empty(assoc));
  EXPECT_EQ(memory.outstanding(), before);

  for (int n = 1; n <= 5; ++n) {
    SCOPED_TRACE(n);
    CountingMemory failing(n);
    EXPECT_EQ(shm_buffer_setup(&drv, assoc.a, &assoc.ctl, lend_segment), -1);
    EXPECT_EQ(failing.outstanding(), 0);
    EXPECT_TRUE(all_empty(assoc));
  }
}

}  // namespace
