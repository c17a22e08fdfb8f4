/*
** Memory, lock and sleep wrappers: zeroed blocks, the refusal of a NULL
** block, the empty lock operations and sleeping through the clock seam.
*/
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "os_wrappers.h"
#include "wrappers_test_support.h"

using wrappers_test::RecordingClock;

namespace {

TEST(OsMemory, BlocksAreZeroedAndNullIsRefused) {
  for (size_t size : {1u, 24u, 4096u}) {
    auto *block = static_cast<unsigned char *>(meAlloc(1, size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(block, block + size), std::vector<unsigned char>(size, 0))
        << size;
    memset(block, 0xab, size);
    auto *grown = static_cast<unsigned char *>(meRealloc(0, block, size * 2));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(grown, grown + size),
              std::vector<unsigned char>(size, 0xab));
    EXPECT_EQ(meFree(2, grown), 0);
  }
  EXPECT_EQ(meFree(0, nullptr), -1);
}

TEST(OsMemory, LockOperationsDoNothingAndSucceed) {
  dvzOS_mutex_t m = 7;
  dvzOS_cond_t c = 7;
  EXPECT_EQ(dvzOS_mutexInit(&m, "m"), 0);
  EXPECT_EQ(dvzOS_mutexLock(&m), 0);
  EXPECT_EQ(dvzOS_mutexTryLock(&m), 0);
  EXPECT_EQ(dvzOS_mutexUnLock(&m), 0);
  EXPECT_EQ(dvzOS_mutexDestroy(&m), 0);
  EXPECT_EQ(dvzOS_recursive_mutexInit(&m, "r"), 0);
  EXPECT_EQ(dvzOS_recursive_mutexLock(&m), 0);
  EXPECT_EQ(dvzOS_recursive_mutexUnLock(&m), 0);
  EXPECT_EQ(dvzOS_recursive_mutexDestroy(&m), 0);
  EXPECT_EQ(m, 7) << "a lock word is never written";
  EXPECT_EQ(dvzOS_condInit(&c, "c"), 0);
  EXPECT_EQ(c, 0) << "a condition starts at 0";
  EXPECT_EQ(dvzOS_condWait(&c, &m), 0);
  EXPECT_EQ(dvzOS_condSignal(&c), 0);
  EXPECT_EQ(dvzOS_condDestroy(&c), 0);
}

TEST(OsMemory, SleepGoesThroughTheClock) {
  RecordingClock clock;
  EXPECT_EQ(dvzOS_sleep(3), 0u);
  EXPECT_EQ(RecordingClock::sleeps, std::vector<unsigned> {3});
}

}  // namespace
