/*
** The host-service table (installing, refusing and removing functions, the
** stream and clock wrappers over the defaults) and the memory and
** environment helpers over it.
*/
#include "error_word.h"
#include "glslib.h"
#include "host_doubles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

using namespace glstest;

namespace {

int hook_word;
int *hook_errno(gl_locale *) { return &hook_word; }

}  // namespace

TEST(HostServiceTable, RejectsSlotsOutsideTheTableWithError9) {
  ErrorWord word;
  gl_ext_funcptr before = _gl_get_ext_funcptr(GL_EXT_GETENV);
  EXPECT_EQ(gl_setextfunc(word.record(), 18, reinterpret_cast<gl_ext_funcptr>(hook_errno)), -1);
  EXPECT_EQ(word.err, 9);
  word.err = 0;
  EXPECT_EQ(gl_setextfunc(word.record(), -1, nullptr), -1);
  EXPECT_EQ(word.err, 9);
  EXPECT_EQ(_gl_get_ext_funcptr(GL_EXT_GETENV), before);
  EXPECT_EQ(_gl_get_ext_funcptr(18), nullptr);
  EXPECT_EQ(_gl_get_ext_funcptr(-1), nullptr);
}

TEST(HostServiceTable, NullRecordErrorsGoToAScratchWordWithoutAHook) {
  /* Storing an error for no record must not write through NULL. */
  ASSERT_EQ(_gl_get_ext_funcptr(GL_EXT_ERRNO), nullptr);
  int *scratch = _gl_ext_errno(nullptr);
  ASSERT_NE(scratch, nullptr);
  *scratch = 3;
  EXPECT_EQ(gl_setextfunc(nullptr, 99, nullptr), -1);
  EXPECT_EQ(*_gl_ext_errno(nullptr), 9);
  ErrorWord word;
  EXPECT_EQ(_gl_ext_errno(word.record()), &word.err);
}

TEST(HostServiceTable, InstalledFunctionsReplaceTheDefaultsUntilRemoved) {
  ErrorWord word;
  {
    ScopedSlot hook(GL_EXT_ERRNO, hook_errno);
    EXPECT_EQ(_gl_ext_func, 1);
    EXPECT_EQ(_gl_ext_errno(word.record()), &hook_word);
    EXPECT_EQ(_gl_get_ext_funcptr(GL_EXT_ERRNO), reinterpret_cast<gl_ext_funcptr>(hook_errno));
  }
  EXPECT_EQ(_gl_ext_errno(word.record()), &word.err);
  EXPECT_EQ(_gl_ext_func, 1); /* never cleared */
}

TEST(HostServiceTable, StreamWrappersPassArgumentsAndResultsThrough) {
  char text[] = "ab";
  FILE *in = fmemopen(text, 2, "r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(_gl_ext_fgetc(in), 'a');
  EXPECT_EQ(_gl_ext_ungetc('z', in), 'z');
  EXPECT_EQ(_gl_ext_getc(in), 'z');
  EXPECT_EQ(_gl_ext_ftell(in), 1);
  EXPECT_EQ(_gl_ext_fseek(in, 0, SEEK_SET), 0);
  char line[8];
  EXPECT_EQ(_gl_ext_fgets(line, sizeof line, in), line);
  EXPECT_STREQ(line, "ab");
  EXPECT_EQ(_gl_ext_fgetc(in), EOF);
  EXPECT_NE(_gl_ext_feof(in), 0);
  EXPECT_EQ(_gl_ext_ferror(in), 0);
  EXPECT_EQ(_gl_ext_fclose(in), 0);
}

TEST(HostServiceTable, ClockDefaultsFillTheRecordsFromLocalTime) {
  std::time_t before = std::time(nullptr);
  gl_date_rec date {};
  gl_time_rec time {};
  time.tm_spare1 = 7;
  ASSERT_EQ(_gl_ext_currdate(&date), 0);
  ASSERT_EQ(_gl_ext_currtime(&time), 0);
  struct tm now;
  localtime_r(&before, &now);
  EXPECT_EQ(date.year, now.tm_year + 1900);
  EXPECT_GE(date.month, 1);
  EXPECT_LE(date.month, 12);
  EXPECT_EQ(time.tm_fraction, 0);
  EXPECT_EQ(time.tm_year, now.tm_year);
  EXPECT_EQ(time.tm_spare1, 0);
  EXPECT_EQ(time.tm_spare2, 0);
}

TEST(MemoryHelpers, AllocZeroNeverCallsTheHostAndFreeNullIsNothing) {
  FailingAllocator allocator;
  EXPECT_EQ(_gl_alloc_ptr(0), nullptr);
  EXPECT_EQ(allocator.calls(), 0);
  _gl_free_ptr(nullptr);
  void *block = _gl_alloc_ptr(16);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(allocator.calls(), 1);
  gl_destroystring(static_cast<char *>(block));
  EXPECT_EQ(allocator.outstanding(), 0);
  EXPECT_FALSE(allocator.freed_unknown());
}

TEST(MemoryHelpers, AllocReturnsNullWhenTheHostRefuses) {
  FailingAllocator allocator(1);
  EXPECT_EQ(_gl_alloc_ptr(8), nullptr);
  EXPECT_EQ(allocator.failures(), 1);
}

TEST(MemoryHelpers, EnvVarIsNullWhenUnsetOrEmpty) {
  TableGetenv env({{"SET", "value"}, {"EMPTY", ""}});
  EXPECT_STREQ(_gl_get_env_var("SET"), "value");
  EXPECT_EQ(_gl_get_env_var("EMPTY"), nullptr);
  EXPECT_EQ(_gl_get_env_var("UNSET"), nullptr);
}
