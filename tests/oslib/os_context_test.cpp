/*
** The OS context: creation on first use (also when the locale
** initialisation fails or asks for the context again), the creation
** helper's handling of the current context, the scratch buffer, the
** connection id and the runtime's fork flag and back-end ids.
*/
#include "os_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "forward_stubs.h"

namespace {

/* Each case starts and ends without a context and with fresh stubs. */
class OsContext : public ::testing::Test {
 protected:
  void SetUp() override { clean(); }
  void TearDown() override { clean(); }
  static void drop(ostcb_t *cb) {
    if (cb == nullptr) return;
    std::free(cb->scratch);
    std::free(cb);
  }
  static void clean() {
    drop(ostcb);
    ostcb = nullptr;
    oslib_forward::reset();
  }
};

TEST_F(OsContext, FirstUseCreatesTheContextWithItsInitialValues) {
  ostcb_t *cb = CheckOsInit();
  ASSERT_NE(cb, nullptr);
  EXPECT_EQ(cb, ostcb);
  EXPECT_EQ(cb->read_failed, 0);
  EXPECT_EQ(cb->backend_ids[0], -1);
  EXPECT_EQ(cb->backend_ids[1], -1);
  EXPECT_EQ(cb->fork_flag, 0);
  EXPECT_EQ(cb->connection_id, -1);
  EXPECT_EQ(cb->scratch_size, 0);
  EXPECT_EQ(cb->scratch, nullptr);
  EXPECT_EQ(cb->nls_flags, 0);
  EXPECT_EQ(cb->api_error, 0);
  EXPECT_EQ(std::memcmp(cb->ctype_copy, _ixctype, sizeof cb->ctype_copy), 0);
  EXPECT_EQ(std::memcmp(cb->lowmap_copy, _ix2lowmap, sizeof cb->lowmap_copy), 0);
  EXPECT_EQ(std::memcmp(cb->upmap_copy, _ix2upmap, sizeof cb->upmap_copy), 0);

  EXPECT_EQ(CheckOsInit(), cb);
  EXPECT_EQ(oslib_forward::stubs().chkglsinit_calls, 1);
  EXPECT_EQ(oslib_forward::stubs().sqdbgsetup_calls, 1);
}

TEST_F(OsContext, FailedLocaleInitialisationGivesNullOnceThenTheContext) {
  oslib_forward::stubs().chkglsinit_result = -23104;
  EXPECT_EQ(CheckOsInit(), nullptr);
  ASSERT_NE(ostcb, nullptr);
  ostcb_t *kept = ostcb;
  EXPECT_EQ(CheckOsInit(), kept);
  EXPECT_EQ(oslib_forward::stubs().chkglsinit_calls, 1);
}

ostcb_t *seen_by_nested_call = nullptr;

TEST_F(OsContext, LocaleInitialisationThatAsksForTheContextFindsTheNewOne) {
  seen_by_nested_call = nullptr;
  oslib_forward::stubs().chkglsinit_hook = [] {
    seen_by_nested_call = CheckOsInit();
    return 0;
  };
  ostcb_t *cb = CheckOsInit();
  ASSERT_NE(cb, nullptr);
  EXPECT_EQ(seen_by_nested_call, cb);
  EXPECT_EQ(oslib_forward::stubs().chkglsinit_calls, 1);
  EXPECT_EQ(oslib_forward::stubs().sqdbgsetup_calls, 1);
}

/* The program is linked with the trace set-up wrapped (--wrap), so that a
** case can see which context is current while it runs. */
ostcb_t *current_during_trace_setup = nullptr;

}  // namespace

extern "C" int __real__sqdbgsetup(int status);
extern "C" int __wrap__sqdbgsetup(int status) {
  current_during_trace_setup = ostcb;
  return __real__sqdbgsetup(status);
}

namespace {

TEST_F(OsContext, NewContextIsCurrentOnlyWhileTheTraceIsSetUp) {
  for (bool with_previous : {false, true}) {
    ostcb_t *previous = with_previous ? CheckOsInit() : nullptr;
    current_during_trace_setup = nullptr;
    ostcb_t *made = ostcb_alloc();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(current_during_trace_setup, made);
    EXPECT_EQ(ostcb, previous);
    drop(made);
  }
}

TEST_F(OsContext, AllocationLeavesTheCurrentContextAsItWas) {
  ostcb_t *made = ostcb_alloc();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(ostcb, nullptr);
  EXPECT_EQ(made->backend_ids[0], -1);
  drop(made);

  ostcb_t *current = CheckOsInit();
  made = ostcb_alloc();
  ASSERT_NE(made, nullptr);
  EXPECT_NE(made, current);
  EXPECT_EQ(ostcb, current);
  drop(made);
}

TEST_F(OsContext, ScratchBufferGrowsInStepsOf128AndIsReused) {
  EXPECT_EQ(allocnbspace(10), nullptr) << "no context";
  ASSERT_NE(CheckOsInit(), nullptr);
  struct step {
    int request;
    int size;
    bool same_buffer;
  };
  const step steps[] = {
      {1, 128, false},   {200, 256, false},   {256, 256, true}, {10, 256, true},
      {257, 384, false}, {1000, 1024, false}, {0, 1024, true},
  };
  char *previous = nullptr;
  for (const step &s : steps) {
    char *buffer = allocnbspace(s.request);
    ASSERT_NE(buffer, nullptr) << s.request;
    EXPECT_EQ(ostcb->scratch_size, s.size) << s.request;
    if (s.same_buffer) {
      EXPECT_EQ(buffer, previous) << s.request;
    }
    std::memset(buffer, 'x', static_cast<size_t>(ostcb->scratch_size));
    previous = buffer;
  }
}

TEST_F(OsContext, ConnectionIdAndErrorWordWithAndWithoutContext) {
  dvz_ossetconn(5);
  EXPECT_EQ(dvz_osgetconn(), 0);
  EXPECT_EQ(getoserr(), 0);
  EXPECT_EQ(ostcb, nullptr) << "neither creates the context";

  ASSERT_NE(CheckOsInit(), nullptr);
  EXPECT_EQ(dvz_osgetconn(), -1);
  dvz_ossetconn(7);
  EXPECT_EQ(dvz_osgetconn(), 7);
  EXPECT_EQ(getoserr(), 0);
}

TEST_F(OsContext, ForkFlagAndBackEndIds) {
  EXPECT_EQ(get_forkflag(), 0);
  EXPECT_EQ(killbackend(), 0) << "without a context";

  set_forkflag(1);
  ASSERT_NE(ostcb, nullptr) << "setting the flag needs the context";
  EXPECT_EQ(get_forkflag(), 1);
  set_forkflag(0);
  EXPECT_EQ(get_forkflag(), 0);

  ostcb->backend_ids[0] = 1234;
  ostcb->backend_ids[1] = 5678;
  EXPECT_EQ(killbackend(), 0);
  EXPECT_EQ(ostcb->backend_ids[0], -1);
  EXPECT_EQ(ostcb->backend_ids[1], -1);
}

}  // namespace
