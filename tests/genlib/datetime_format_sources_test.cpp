/*
** The source order of the DATETIME format in force, in processes that set
** DBTIME and GL_DATETIME (the build gives each program the format it must
** find, the text it writes and the value it reads back): the caller's
** format, then DBTIME, then GL_DATETIME, each normalised, come before the
** locale's own format.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "gen_datetime.h"
#include "gen_dtformat.h"

#if !defined(DVZ_SOURCES_SUITE) || !defined(DVZ_FORMAT_IN_FORCE) || !defined(DVZ_TEXT_IN_FORCE) || \
    !defined(DVZ_READ_BACK)
#error "the build names the suite, the expected format, text and value"
#endif

namespace {

constexpr int year_to_second = TU_ENCODE(14, TU_YEAR, TU_SECOND);

std::string take(char *text) {
  if (text == nullptr) return "(null)";
  std::string copy(text);
  std::free(text);
  return copy;
}

TEST(DVZ_SOURCES_SUITE, VariableComesBeforeTheLocale) {
  char *format = nullptr;
  ASSERT_EQ(getdatetimefmt(&format), 0);
  EXPECT_EQ(take(format), DVZ_FORMAT_IN_FORCE);
}

TEST(DVZ_SOURCES_SUITE, CallerFormatComesBeforeTheVariables) {
  char *format = strdup("%M");
  ASSERT_EQ(validateglsfmt(&format, 1, 1), 0);
  EXPECT_EQ(take(format), "%02M");
}

TEST(DVZ_SOURCES_SUITE, WritesAndReadsThroughTheFormatInForce) {
  dtime_t value {};
  value.dt_qual = year_to_second;
  ASSERT_EQ(dtcvasc("2024-06-01 10:20:30", &value), 0);
  char text[81];
  ASSERT_EQ(dttofmtasc(&value, text, 80, nullptr), 0);
  EXPECT_STREQ(text, DVZ_TEXT_IN_FORCE);
  dtime_t back {};
  back.dt_qual = year_to_second;
  ASSERT_EQ(dtcvfmtasc(text, nullptr, &back), 0);
  char fixed[81];
  ASSERT_EQ(dttofmtasc(&back, fixed, 80, "%Y-%m-%d %H:%M:%S"), 0);
  EXPECT_STREQ(fixed, DVZ_READ_BACK);
}

}  // namespace
