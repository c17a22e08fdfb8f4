/*
** The DATE switches read from the environment, each in its own process:
** DVZ_NOZEROMDY=1 makes the zero triple -1206 instead of the NULL DATE;
** DHL_RDEFMTDATE (set) makes rdefmtdate of an empty text leave its output
** as it was. The program runs once per switch; the test of the switch
** that is not set checks the default.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "gen_date.h"

namespace {

bool switch_set(const char *name) { return std::getenv(name) != nullptr; }

/* The suite is named after the process's setting (DVZ_DATE_SUITE). */
TEST(DVZ_DATE_SUITE, ZeroTripleUnderDvzNozeromdy) {
  const int16_t zeros[3] = {0, 0, 0};
  int32_t date = 5;
  if (switch_set("DVZ_NOZEROMDY")) {
    EXPECT_EQ(rmdyjul(zeros, &date), -1206);
    EXPECT_EQ(date, 5);
    int32_t read = 5;
    EXPECT_EQ(rstrdate("00/00/0000", &read), -1206);
  } else {
    EXPECT_EQ(rmdyjul(zeros, &date), 0);
    EXPECT_EQ(date, DATE_NULL);
  }
}

TEST(DVZ_DATE_SUITE, EmptyPictureTextUnderDhlRdefmtdate) {
  for (const char *text : {"", "   "}) {
    int32_t date = 45650;
    EXPECT_EQ(rdefmtdate(&date, "mm/dd/yyyy", text), 0) << '"' << text << '"';
    EXPECT_EQ(date, switch_set("DHL_RDEFMTDATE") ? 45650 : DATE_NULL) << '"' << text << '"';
  }
  /* rstrdate makes its result NULL first, whatever the switch says */
  int32_t date = 45650;
  EXPECT_EQ(rstrdate("", &date), 0);
  EXPECT_EQ(date, DATE_NULL);
}

}  // namespace
