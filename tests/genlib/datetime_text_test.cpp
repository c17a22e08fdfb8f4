/*
** DATETIME and INTERVAL text in the fixed layout: the oracle's generated
** texts parse to their values and are written back in the layout, the
** parser's errors, the INTERVAL sign and alignment, the whole-value entry
** points and the two-digit year under the default century rule (today
** pinned to 2024-06-15).
*/
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dec_repr.h"
#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_decimal.h"
#include "gen_dtarith.h"

namespace {

using dec_test::repr;

constexpr int year_to_second = 0x0E0A;
constexpr int year_to_day = 0x0804;
constexpr int year_to_month = 0x0602;
constexpr int year_to_year = 0x0400;
constexpr int hour_to_fraction3 = 0x096D;
constexpr int hour_to_minute = 0x0468;
constexpr int fraction_to_fraction1 = 0x01CB;
constexpr int day_to_second = 0x084A;
constexpr int day5_to_second = 0x0B4A;
constexpr int hour3_to_minute = 0x0568;

/* Today and the current time fixed to 2024-06-15 12:00:00 for the case. */
class PinnedToday : public ::testing::Test {
 protected:
  void SetUp() override {
    const int16_t mdy[3] = {6, 15, 2024};
    ASSERT_EQ(rmdyjul(mdy, &today_), 0);
    rsettoday(&today_);
    const unsigned char now[10] = {20, 24, 6, 15, 12, 0, 0, 0, 0, 0};
    ASSERT_EQ(dtpack(&now_, 0x130F, const_cast<unsigned char *>(now), 1), 0);
    rdtsetcurr(&now_);
  }
  void TearDown() override { rsettoday(nullptr); }

 private:
  int32_t today_ = 0;
  static inline dec_t now_ {};
};

struct OracleCase {
  bool datetime;
  int qualifier;
  std::string text;
  int status;
  std::string value, written;
};

std::vector<OracleCase> oracle_cases() {
  std::ifstream in(DVZ_DATETIME_TEXT_CASES);
  EXPECT_TRUE(in.good()) << DVZ_DATETIME_TEXT_CASES;
  std::vector<OracleCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '|'))
      fields.push_back(field);
    while (fields.size() < 6)
      fields.emplace_back();
    cases.push_back({fields[0] == "datetime", std::stoi(fields[1], nullptr, 16), fields[2],
                     std::stoi(fields[3]), fields[4], fields[5]});
  }
  return cases;
}

TEST(FixedLayoutText, GeneratedTextsParseAndWriteBackInTheLayout) {
  const std::vector<OracleCase> cases = oracle_cases();
  ASSERT_GT(cases.size(), 300u);
  for (const OracleCase &c : cases) {
    dec_t value {};
    const int status = c.datetime ? rstrdtime(c.text.c_str(), &value, c.qualifier)
                                  : rstrinv(c.text.c_str(), &value, c.qualifier);
    ASSERT_EQ(status, c.status) << c.text;
    if (c.status != 0) continue;
    EXPECT_EQ(repr(value), c.value) << c.text;
    char buffer[81];
    ASSERT_EQ(
        c.datetime ? rdtimestr(&value, c.qualifier, buffer) : rinvstr(&value, c.qualifier, buffer),
        0);
    EXPECT_EQ(std::string(buffer), c.written) << c.text;
  }
}

struct ParseCase {
  const char *text;
  int qualifier;
  int status;
  const char *value; /* dec_repr form, checked when status is 0 */
};

TEST(FixedLayoutText, ParsesAndRejectsByTheLayoutsRules) {
  const ParseCase cases[] = {
      {"2024-02-30", year_to_day, -1263, nullptr},
      {"2024-2-3", year_to_day, 0, "+20240203@7"},
      {"2024-01-015", year_to_day, -1264, nullptr},
      {"2024-01", year_to_day, -1262, nullptr},
      {"12345-01-01", year_to_day, -1261, nullptr},
      {"024-06-01", year_to_day, 0, "+240601@6"},
      {"0001-01-01", year_to_day, 0, "+010101@6"},
      {"0000-01-01", year_to_day, -1263, nullptr},
      {"2024-0101", year_to_day, -1263, nullptr},
      {"2024/01/01", year_to_day, -1262, nullptr},
      {"2024-01-01x", year_to_day, -1264, nullptr},
      {"2024-01-01 ", year_to_day, 0, "+20240101@7"},
      {"2024- 01-  01", year_to_day, 0, "+20240101@7"},
      {"2024 -01-01", year_to_day, -1262, nullptr},
      {"-2024-01-01", year_to_day, -1262, nullptr},
      {"2024-13-01", year_to_day, -1263, nullptr},
      {"", year_to_day, 0, "null"},
      {"   ", year_to_second, 0, "null"},
      {"10:20:30.12345", hour_to_fraction3, -1264, nullptr},
      {"10:20:30.1", hour_to_fraction3, 0, "+10203010@3"},
      {"10:20:30", hour_to_fraction3, -1262, nullptr},
      {"10:20:30.", hour_to_fraction3, 0, "+102030@3"},
      {".5", fraction_to_fraction1, 0, "+50@0"},
      {"0.5", fraction_to_fraction1, 0, "+50@0"},
      {"000.57", fraction_to_fraction1, -1264, nullptr},
      {"1.5", fraction_to_fraction1, -1263, nullptr},
      {"5", fraction_to_fraction1, -1263, nullptr},
      {"x", fraction_to_fraction1, -1271, nullptr},
      {"10:60", hour_to_minute, -1263, nullptr},
      {"24:00", hour_to_minute, -1263, nullptr},
      {"23:59", hour_to_minute, 0, "+2359@3"},
      {"2024-06-15 25:00:00", year_to_second, -1263, nullptr},
      {"2024-06-15 10:00:61", year_to_second, -1263, nullptr},
      {"2024-06-15 10:00", year_to_second, -1262, nullptr},
  };
  for (const ParseCase &c : cases) {
    dec_t value {};
    ASSERT_EQ(rstrdtime(c.text, &value, c.qualifier), c.status) << '"' << c.text << '"';
    if (c.status == 0) {
      EXPECT_EQ(repr(value), c.value) << '"' << c.text << '"';
    }
  }
  dec_t value {};
  set_toerrno(0);
  EXPECT_EQ(rstrdtime("2024", &value, 0x0040), -1268);
  EXPECT_EQ(get_toerrno(), -1268);
}

TEST(FixedLayoutText, IntervalsTakeASignAndAnUnboundedFirstField) {
  const ParseCase cases[] = {
      {"-3 04:00:00", day_to_second, 0, "-0304@4"},
      {"  - 3 04:00:00", day_to_second, 0, "-0304@4"},
      {"100:30", hour3_to_minute, 0, "+010030@4"},
      {"1000:30", hour3_to_minute, -1261, nullptr},
      {"10:60", hour_to_minute, -1263, nullptr},
      {"99 23:59:59", day_to_second, 0, "+99235959@4"},
      {"-", day_to_second, 0, "null"},
      {"1-12", year_to_month, -1263, nullptr},
      {"-0.5", 0x01CB, 0, "-50@0"},
  };
  for (const ParseCase &c : cases) {
    dec_t value {};
    ASSERT_EQ(rstrinv(c.text, &value, c.qualifier), c.status) << '"' << c.text << '"';
    if (c.status == 0) {
      EXPECT_EQ(repr(value), c.value) << '"' << c.text << '"';
    }
  }
  dec_t value {};
  EXPECT_EQ(rstrinv("1 00:00:00", &value, 0x0804), -1268) << "YEAR TO DAY is no INTERVAL";
}

TEST(FixedLayoutText, WritersAlignTheFirstFieldAndPlaceTheSign) {
  struct WriteCase {
    bool datetime;
    int qualifier;
    const char *text, *written;
  };
  const WriteCase cases[] = {
      {false, day5_to_second, "-3 04:00:00", "    -3 04:00:00"},
      {false, day5_to_second, "0 00:00:01", "     0 00:00:01"},
      {false, day_to_second, "7 00:00:00", "  7 00:00:00"},
      {false, hour3_to_minute, "100:30", " 100:30"},
      {false, fraction_to_fraction1, "-.5", "-.5"},
      {true, year_to_second, "2024-3-5 7:8:9", "2024-03-05 07:08:09"},
      {true, hour_to_fraction3, "7:8:9.123", "07:08:09.123"},
      {true, fraction_to_fraction1, ".5", ".5"},
      {true, 0x0B6F, "7:8:9.12345", "07:08:09.12345"},
      {true, year_to_year, "0024", "0024"},
  };
  for (const WriteCase &c : cases) {
    dec_t value {};
    ASSERT_EQ(
        c.datetime ? rstrdtime(c.text, &value, c.qualifier) : rstrinv(c.text, &value, c.qualifier),
        0)
        << c.text;
    char buffer[81];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(
        c.datetime ? rdtimestr(&value, c.qualifier, buffer) : rinvstr(&value, c.qualifier, buffer),
        0);
    EXPECT_STREQ(buffer, c.written);
    EXPECT_EQ(buffer[std::strlen(c.written) + 1], '#') << "nothing after the NUL";
  }
  dec_t null_value {};
  null_value.sign = -1;
  char buffer[81] = "x";
  EXPECT_EQ(rdtimestr(&null_value, year_to_second, buffer), 0);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "x");
  EXPECT_EQ(rinvstr(&null_value, day_to_second, buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(rdtimestr(&null_value, 0x0040, buffer), -1268);
  EXPECT_EQ(rinvstr(&null_value, year_to_day, buffer), -1268);
}

TEST(FixedLayoutText, WholeValueEntryPointsUseTheValuesQualifier) {
  dtime_t instant {};
  instant.dt_qual = year_to_second;
  ASSERT_EQ(dtcvasc("2024-12-25 10:11:12", &instant), 0);
  EXPECT_EQ(repr(instant.dt_dec), "+20241225101112@7");
  char buffer[81];
  ASSERT_EQ(dttoasc(&instant, buffer), 0);
  EXPECT_STREQ(buffer, "2024-12-25 10:11:12");

  intrvl_t span {};
  span.in_qual = day5_to_second;
  ASSERT_EQ(incvasc("-12345 01:02:03", &span), 0);
  EXPECT_EQ(repr(span.in_dec), "-012345010203@6");
  ASSERT_EQ(intoasc(&span, buffer), 0);
  EXPECT_STREQ(buffer, "-12345 01:02:03");
  EXPECT_EQ(incvasc("2024-12-25", &span), -1262);
}

using DatetimeTwoDigitYear = PinnedToday;

TEST_F(DatetimeTwoDigitYear, TakesTheCurrentCenturyUnderTheDefaultRule) {
  const ParseCase cases[] = {
      {"24-06-01", year_to_day, 0, "+20240601@7"}, {"99-12-31", year_to_day, 0, "+20991231@7"},
      {"5-1-1", year_to_day, 0, "+20050101@7"},    {"24", year_to_year, 0, "+2024@7"},
      {"24-2", year_to_month, 0, "+202402@7"},     {"24-02-30", year_to_day, -1263, nullptr},
      {"24-13-01", year_to_day, -1263, nullptr},
  };
  for (const ParseCase &c : cases) {
    dec_t value {};
    ASSERT_EQ(rstrdtime(c.text, &value, c.qualifier), c.status) << c.text;
    if (c.status == 0) {
      EXPECT_EQ(repr(value), c.value) << c.text;
    }
  }
}

TEST_F(DatetimeTwoDigitYear, ACallersCenturyRuleHoldsForThatCallOnly) {
  dtime_t value {};
  value.dt_qual = year_to_day;
  ASSERT_EQ(dvz_dtcvasc("30-01-01", &value, 'P'), 0);
  EXPECT_EQ(repr(value.dt_dec), "+19300101@7");
  ASSERT_EQ(dvz_rstrdtime("10-01-01", &value.dt_dec, year_to_day, 'F'), 0);
  EXPECT_EQ(repr(value.dt_dec), "+21100101@7");
  ASSERT_EQ(dtcvasc("30-01-01", &value), 0);
  EXPECT_EQ(repr(value.dt_dec), "+20300101@7");
  EXPECT_EQ(getdbcentury(), 'R');
}

}  // namespace
