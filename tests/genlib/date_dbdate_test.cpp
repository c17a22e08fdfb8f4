/*
** DATE text under one DBDATE (and DBCENTURY) per process: the rows of the
** oracle table (tests/genlib/oracle/date_cases.txt) and of the month-name
** table below whose setting is this process's. Round trips through
** rdatestr/rstrdate, and two-digit years under the four century rules with
** today pinned to the table's date. DBDATE and DBCENTURY are read once per
** process, so every setting has its own ctest program (see CMakeLists),
** which compiles in the groups of cases that hold rows for its setting.
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gen_date.h"
#include "gen_dectext.h"
#include "gen_dtarith.h"

namespace {

std::string setting(const char *name, const char *unset) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : unset;
}

/* The suite is named after the process's setting (DVZ_DATE_SUITE). */
class DVZ_DATE_SUITE : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::ifstream in(DVZ_DATE_CASES);
    std::string word;
    int year = 0, month = 0, day = 0;
    ASSERT_TRUE(in >> word >> year >> month >> day);
    ASSERT_EQ(word, "today");
    const int16_t mdy[3] = {static_cast<int16_t>(month), static_cast<int16_t>(day),
                            static_cast<int16_t>(year)};
    static int32_t today;
    ASSERT_EQ(rmdyjul(mdy, &today), 0);
    rsettoday(&today);
    static dec_t now;
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d120000.00000", year, month, day);
    ASSERT_EQ(deccvasc(text, static_cast<int>(std::strlen(text)), &now), 0);
    rdtsetcurr(&now);
  }

  /* The table's lines of kind whose DBDATE (and rule) are this process's. */
  static std::vector<std::string> rows(const std::string &kind) {
    std::ifstream in(DVZ_DATE_CASES);
    std::vector<std::string> out;
    std::string dbdate = setting("DBDATE", "");
    std::string rule = setting("DBCENTURY", "R");
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string k, d, r;
      fields >> k >> d;
      if (k != kind || d != dbdate) continue;
      if (kind == "century" && (!(fields >> r) || r != rule)) continue;
      out.push_back(line);
    }
    return out;
  }
};

/* "!-1206" is an error, anything else a DATE. */
[[maybe_unused]] void expect_read(const std::string &text, const std::string &expected,
                                  const std::string &line) {
  int32_t date = 0;
  int status = rstrdate(text.c_str(), &date);
  if (expected[0] == '!') {
    EXPECT_EQ(status, std::stoi(expected.substr(1))) << line;
  } else {
    EXPECT_EQ(status, 0) << line;
    EXPECT_EQ(date, std::stoi(expected)) << line;
  }
}

#ifdef DVZ_DATE_ROUNDTRIP
TEST_F(DVZ_DATE_SUITE, GeneratedDatesRoundTrip) {
  std::vector<std::string> lines = rows("roundtrip");
  ASSERT_FALSE(lines.empty()) << "no round trips for DBDATE=" << setting("DBDATE", "");
  for (const std::string &line : lines) {
    std::istringstream fields(line);
    std::string kind, dbdate, text, back;
    int32_t date = 0;
    fields >> kind >> dbdate >> date >> text >> back;
    char buffer[1024];
    ASSERT_EQ(rdatestr(date, buffer), 0) << line;
    EXPECT_EQ(std::string(buffer), text) << line;
    expect_read(text, back, line);
  }
}

#endif

#ifdef DVZ_DATE_CENTURY
TEST_F(DVZ_DATE_SUITE, TwoDigitYearsFollowTheCenturyRule) {
  std::vector<std::string> lines = rows("century");
  ASSERT_FALSE(lines.empty()) << "no century rows for DBCENTURY=" << setting("DBCENTURY", "R");
  for (const std::string &line : lines) {
    std::istringstream fields(line);
    std::string kind, dbdate, rule, text, expected;
    fields >> kind >> dbdate >> rule >> text >> expected;
    expect_read(text, expected, line);
  }
}

#endif

#ifdef DVZ_DATE_MONTH_NAMES
TEST_F(DVZ_DATE_SUITE, MonthNamesInTheOrderOfDbdate) {
  struct Case {
    const char *dbdate;
    const char *text;
  } const cases[] = {
      {"MDY4", "dec 25 2024"},      {"MDY4", "DEC 25 2024"}, {"MDY4", "December 25 2024"},
      {"DMY4", "25 december 2024"}, {"DMY4", "25 Dec 2024"}, {"DMY4", "25dec2024"},
  };
  const int16_t mdy[3] = {12, 25, 2024};
  int32_t christmas = 0;
  ASSERT_EQ(rmdyjul(mdy, &christmas), 0);
  int matched = 0;
  for (const Case &c : cases) {
    if (setting("DBDATE", "") != c.dbdate) continue;
    ++matched;
    int32_t date = 0;
    EXPECT_EQ(rstrdate(c.text, &date), 0) << c.text;
    EXPECT_EQ(date, christmas) << c.text;
  }
  EXPECT_GT(matched, 0) << "no month-name cases for DBDATE=" << setting("DBDATE", "");
}
#endif

#ifdef DVZ_DATE_LOCALE_CALENDAR
/* A locale whose calendar is not the Gregorian one (he_IL, Hebrew): the
** scanner hands the fields to the locale parser, and rgetglsdate gives
** the calendar's own month, day and year. */
TEST_F(DVZ_DATE_SUITE, FieldsGoThroughTheLocaleCalendar) {
  const int16_t mdy[3] = {12, 25, 2024};
  int32_t christmas = 0;
  ASSERT_EQ(rmdyjul(mdy, &christmas), 0);
  char text[1024];
  ASSERT_EQ(rdatestr(christmas, text), 0);
  int32_t back = 0;
  ASSERT_EQ(rstrdate(text, &back), 0) << text;
  EXPECT_EQ(back, christmas) << text;
  int16_t calendar[3];
  ASSERT_EQ(rgetglsdate(christmas, calendar), 0);
  EXPECT_EQ(calendar[1], 24) << text; /* 24 Kislev 5785 */
  EXPECT_EQ(calendar[2], 5785) << text;
}
#endif

#ifdef DVZ_DATE_ERA
/* An era year in a locale with eras (ja_JP, DBDATE GY2MD/): the era's
** second name and the year, read by the scanner and the locale parser. */
TEST_F(DVZ_DATE_SUITE, EraYears) {
  const int16_t mdy[3] = {12, 25, 2018};
  int32_t date = 0;
  ASSERT_EQ(rmdyjul(mdy, &date), 0);
  char text[1024];
  ASSERT_EQ(rdatestr(date, text), 0);
  EXPECT_STREQ(text, "H30/12/25");
  struct Case {
    const char *text;
    int status;
  } const cases[] = {{"H30/12/25", 0}, {"h30/12/25", 0}, {" H 30/12/25", 0}, {"X30/12/25", -1237}};
  for (const Case &c : cases) {
    int32_t read = 0;
    EXPECT_EQ(rstrdate(c.text, &read), c.status) << c.text;
    if (c.status == 0) {
      EXPECT_EQ(read, date) << c.text;
    }
  }
}
#endif

/* The classic reader's picture of this process's DBDATE. */
TEST_F(DVZ_DATE_SUITE, ClassicReaderPicture) {
  struct Case {
    const char *dbdate;
    const char *picture;
  } const cases[] = {{"DMY4-", "dd-mm-yyyy"}, {"Y4MD.", "yyyy.mm.dd"}, {"MDY2/", "mm/dd/yy"},
                     {"MDY40", "mmddyyyy"},   {"MDY4", "mm/dd/yyyy"},  {"DMY4", "dd/mm/yyyy"},
                     {"MDY4/", "mm/dd/yyyy"}, {"GY2MD/", "gyy/mm/dd"}};
  std::string dbdate = setting("DBDATE", "");
  int matched = 0;
  for (const Case &c : cases) {
    if (dbdate != c.dbdate) continue;
    ++matched;
    ASSERT_EQ(getfmt(), 0) << c.dbdate;
    EXPECT_STREQ(dbdatefmt, c.picture) << c.dbdate;
    char copy[DBDATEFMT_SIZE];
    ASSERT_EQ(fmtstr(copy), 0);
    EXPECT_STREQ(copy, c.picture);
  }
  EXPECT_EQ(matched, 1) << "no picture for DBDATE=" << dbdate;
}

}  // namespace
