/*
** Two-digit DATETIME years under each century rule. DBCENTURY is read once
** per process, so this program runs once per setting (R, P, F, C, and an
** invalid value that behaves as R); today is pinned to 2024-06-15,
** whose own month and day are among the cases.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dec_repr.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_dtarith.h"

namespace {

constexpr int year_to_day = 0x0804;
constexpr int year_to_month = 0x0602;
constexpr int year_to_year = 0x0400;

dec_t now {};

class CenturyRule : public ::testing::Test {
 protected:
  void SetUp() override {
    const int16_t mdy[3] = {6, 15, 2024};
    ASSERT_EQ(rmdyjul(mdy, &today_), 0);
    rsettoday(&today_);
    const unsigned char units[10] = {20, 24, 6, 15, 12, 0, 0, 0, 0, 0};
    ASSERT_EQ(dtpack(&now, 0x130F, const_cast<unsigned char *>(units), 1), 0);
    rdtsetcurr(&now);
  }
  void TearDown() override { rsettoday(nullptr); }

  /* Column of the expected years for this process's DBCENTURY. */
  static int column() {
    const char *rule = std::getenv("DBCENTURY");
    const std::string r = rule != nullptr ? rule : "R";
    if (r == "P") return 1;
    if (r == "F") return 2;
    if (r == "C") return 3;
    return 0;
  }

 private:
  int32_t today_ = 0;
};

/* One suite name per process, so that each CTest case keeps its own
** DBCENTURY. */
#ifndef DVZ_CENTURY_SUITE
#define DVZ_CENTURY_SUITE DatetimeCenturyRuleR
#endif
using DVZ_CENTURY_SUITE = CenturyRule;

TEST_F(DVZ_CENTURY_SUITE, PlacesTwoDigitYearsRelativeToToday) {
  struct Case {
    const char *text;
    int qualifier;
    int years[4]; /* R, P, F, C */
  };
  const Case cases[] = {
      {"24-06-15", year_to_day, {2024, 1924, 2124, 2024}},
      {"24", year_to_year, {2024, 1924, 2124, 2024}},
      {"24-06", year_to_month, {2024, 1924, 2124, 2024}},
      {"24-06-16", year_to_day, {2024, 1924, 2024, 2024}},
      {"24-06-14", year_to_day, {2024, 2024, 2124, 2024}},
      {"80-01-01", year_to_day, {2080, 1980, 2080, 1980}},
      {"70-01-01", year_to_day, {2070, 1970, 2070, 2070}},
      {"74-06-15", year_to_day, {2074, 1974, 2074, 2074}},
      {"99-12-31", year_to_day, {2099, 1999, 2099, 1999}},
      {"00-01-01", year_to_day, {2000, 2000, 2100, 2000}},
  };
  for (const Case &c : cases) {
    dec_t value {};
    ASSERT_EQ(rstrdtime(c.text, &value, c.qualifier), 0) << c.text;
    const int year = value.pairs[0] * 100 + value.pairs[1];
    EXPECT_EQ(year, c.years[column()]) << c.text << " under " << column();
  }
}

/* The rules that compare with today need a real day: the locale's
** failure maps to -1206 there, while R leaves the day to the range check. */
TEST_F(DVZ_CENTURY_SUITE, ImpossibleDaysFailByTheRule) {
  struct Case {
    const char *text;
    int status[4]; /* R, P, F, C */
  };
  const Case cases[] = {
      {"24-02-30", {-1263, -1206, -1206, -1206}},
      {"23-02-29", {-1263, -1263, -1263, -1263}},
      {"24-04-31", {-1263, -1206, -1206, -1206}},
      {"24-13-01", {-1263, -1263, -1263, -1263}},
  };
  for (const Case &c : cases) {
    dec_t value {};
    EXPECT_EQ(rstrdtime(c.text, &value, year_to_day), c.status[column()]) << c.text;
  }
}

TEST_F(DVZ_CENTURY_SUITE, KeepsAValidRuleAndRereadsAnInvalidOne) {
  const char *rule = std::getenv("DBCENTURY");
  const bool valid = rule != nullptr && std::strlen(rule) == 1 && std::strchr("RPFC", rule[0]);
  EXPECT_EQ(getdbcentury(), valid ? rule[0] : 0);
  EXPECT_EQ(dbcentury, valid ? rule[0] : 0);
}

}  // namespace
