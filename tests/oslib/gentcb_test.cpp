/*
** The general control block and its error words: what a fresh block holds,
** which calls make it, and what the getters report without one. Every case
** runs in a process of its own, so "no block yet" is the starting state.
*/
#include <gtest/gtest.h>

#include <cstring>

#include "failing_alloc.h"
#include "os_gentcb.h"

namespace {

TEST(GeneralControlBlock, GettersReportDefaultsWithoutMakingTheBlock) {
  ASSERT_EQ(gentcb, nullptr);
  EXPECT_EQ(getgenerr(), 0);
  EXPECT_EQ(gget_dbver(), 0);
  EXPECT_EQ(dvzGEN_getFloatType(), -1);
  EXPECT_EQ(gentcb, nullptr);
}

TEST(GeneralControlBlock, FirstUseMakesOneZeroedBlockWithNoCatalog) {
  gen_tcb *block = CheckGenInit();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(CheckGenInit(), block);
  EXPECT_EQ(block->msg_fd, -1);
  EXPECT_EQ(block->toerrno, 0);
  EXPECT_EQ(block->glserror, 0);
  EXPECT_EQ(block->flags, 0);
  EXPECT_EQ(block->api_error, 0);
  EXPECT_EQ(block->msg_block, nullptr);
  EXPECT_EQ(block->msg_text, nullptr);
  EXPECT_EQ(block->dovarizadir, nullptr);
  EXPECT_EQ(block->msg_explicit[0], '\0');

  /* genfill clears a used block back to the same state. */
  block->toerrno = -1213;
  block->msg_fd = 7;
  std::strcpy(block->msg_open_name, "os.iem");
  genfill(block);
  EXPECT_EQ(block->toerrno, 0);
  EXPECT_EQ(block->msg_fd, -1);
  EXPECT_EQ(block->msg_open_name[0], '\0');
}

TEST(GeneralControlBlock, ErrorWordsAreStoredAndMakeTheBlock) {
  set_toerrno(-1213);
  ASSERT_NE(gentcb, nullptr);
  EXPECT_EQ(get_toerrno(), -1213);
  EXPECT_EQ(gentcb->toerrno, -1213);

  EXPECT_EQ(set_glserror(-23101), -23101);
  EXPECT_EQ(get_glserror(), -23101);
  /* The two words are distinct. */
  EXPECT_EQ(get_toerrno(), -1213);
}

TEST(GeneralControlBlock, ErrorWordReadMakesTheBlock) {
  EXPECT_EQ(get_toerrno(), 0);
  EXPECT_NE(gentcb, nullptr);
}

TEST(GeneralControlBlock, WithoutMemoryForTheBlockErrorWordsAre406AndStoresDoNothing) {
  ASSERT_EQ(gentcb, nullptr);
  struct outcome {
    int toerrno, glserror, set_glserror, float_type, dbver;
  } got {};
  {
    oslib_test::FailingAlloc no_memory(1, true);
    set_toerrno(-1213);
    gset_dbver();
    dvzGEN_setFloatType(2);
    got = {get_toerrno(), get_glserror(), set_glserror(-23101), dvzGEN_getFloatType(),
           gget_dbver()};
    EXPECT_GT(no_memory.failures(), 0);
  }
  EXPECT_EQ(got.toerrno, -406);
  EXPECT_EQ(got.glserror, -406);
  EXPECT_EQ(got.set_glserror, -406);
  EXPECT_EQ(got.float_type, -1);
  EXPECT_EQ(got.dbver, 0);
  EXPECT_EQ(gentcb, nullptr) << "no block half made";

  /* With memory back, the first use makes a clean block: nothing stored
  ** while it was missing shows. */
  EXPECT_EQ(get_toerrno(), 0);
  ASSERT_NE(gentcb, nullptr);
  EXPECT_EQ(gentcb->glserror, 0);
  EXPECT_EQ(gentcb->flags, 0);
}

TEST(GeneralControlBlock, FlagsFloatTypeAndAnsiDatabase) {
  gset_dbver();
  EXPECT_EQ(gget_dbver(), gen_flag_long_identifiers);
  gentcb->flags |= gen_flag_today_fixed | gen_flag_prec16_read;
  EXPECT_EQ(gget_dbver(), gen_flag_long_identifiers);

  dvzGEN_setFloatType(2);
  EXPECT_EQ(dvzGEN_getFloatType(), 2);

  gen_setansidb(1);
  EXPECT_EQ(ansidb, 1);
  gen_setansidb(0);
  EXPECT_EQ(ansidb, 0);

  EXPECT_EQ(checkGenApi(), 0);
  EXPECT_EQ(CheckSaveAreaInit(), glsenv_savearea);
}

}  // namespace
