/*
** The fixed-layout parser under USE_DTENV=1 (this program's process): a
** DATETIME is read through the locale environment's format for its
** units, and an entry of the environment's table that is still empty is
** built by the parser on first use.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dtformat.h"
#include "os_datetime.h"
#include "os_glsenv.h"

namespace {

constexpr int year_to_second = 0x0E0A;

TEST(DatetimeEnvironmentFormat, ParserBuildsAnEmptyEntryOnFirstUse) {
  ASSERT_NE(get_usedtenv(), 0);
  ASSERT_EQ(chkglsinit(), 0);
  gls_env *env = CheckGlsEnv();
  ASSERT_NE(env, nullptr);
  char *&entry = env->dtime_formats[0][5];
  std::free(entry);
  entry = nullptr;

  std::unique_ptr<char, decltype(&std::free)> expected(qualtofmt(year_to_second, nullptr),
                                                       &std::free);
  ASSERT_NE(expected, nullptr);
  /* en_us's date-and-time format, cut to YEAR TO SECOND. */
  ASSERT_STREQ(expected.get(), "%a %d %b %Y %I:%M:%S%p");

  dtime_t value {};
  value.dt_qual = year_to_second;
  ASSERT_EQ(dtcvasc("Wed 25 Dec 2024 10:11:12PM", &value), 0);
  char text[81];
  ASSERT_EQ(rdtimestr(&value.dt_dec, year_to_second, text), 0);
  EXPECT_STREQ(text, "2024-12-25 22:11:12");
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry, expected.get());
  EXPECT_NE(dtcvasc("2024-12-25 22:11:12", &value), 0) << "the fixed layout is not read";
}

}  // namespace
