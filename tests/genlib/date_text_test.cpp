/*
** DATE text under the generated en_us locale with DBDATE unset (format
** %m/%d/%iY, order month, day, year): the format in force both ways, the
** numeric fast path and the scanner, pictures by the element table, the
** locale-format functions and their dvz_gl_ forms, the mapping of the
** locale library's errors, the NULL DATE in every writer, and the catalog
** name lists. Today is pinned to 2024-06-15 (rsettoday for rtoday,
** rdtsetcurr for the locale library's century rules).
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "date_internal.h"
#include "date_scan.h"
#include "gen_date.h"
#include "gen_dectext.h"
#include "gen_dtarith.h"
#include "gl_errors.h"
#include "os_glsenv.h"

namespace {

constexpr int32_t christmas_2024 = 45650;
constexpr int32_t pinned_today = 45457; /* 2024-06-15 */

int32_t date_of(int month, int day, int year) {
  const int16_t mdy[3] = {static_cast<int16_t>(month), static_cast<int16_t>(day),
                          static_cast<int16_t>(year)};
  int32_t date = DATE_NULL;
  EXPECT_EQ(rmdyjul(mdy, &date), 0);
  return date;
}

class DateText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    /* rdtsetcurr keeps the pointer: the value lives as long as the process. */
    static dec_t now;
    ASSERT_EQ(deccvasc("20240615120000.00000", 20, &now), 0);
    rdtsetcurr(&now);
    rsettoday(&pinned_today);
  }
};

TEST_F(DateText, FormatInForceIsEnUsMonthDayYear) {
  ASSERT_EQ(chkglsinit(), 0);
  const new_gls_env *state = CheckGlsEnv()->state;
  EXPECT_STREQ(state->date_format, "%m/%d/%iY");
  EXPECT_EQ(state->dbdate_style, 1);
}

TEST_F(DateText, ReadsTextInTheFormatInForce) {
  struct Case {
    const char *text;
    int status;
    int32_t date;
  } const cases[] = {
      {"12/25/2024", 0, christmas_2024},
      {"  12/25/2024  ", 0, christmas_2024},
      {"12-25-2024", 0, christmas_2024},
      {"12/25/24", 0, christmas_2024},
      {"122524", 0, christmas_2024},
      {"12252024", 0, christmas_2024},
      {"1/5/2024", 0, date_of(1, 5, 2024)},
      {"12 25 2024", 0, christmas_2024},
      {"dec 25 2024", 0, christmas_2024},
      {"December 25, 2024", 0, christmas_2024},
      {"12/31/1899", 0, 0},
      {"01/01/0001", 0, DATE_MIN},
      {"12/252024", -1218, DATE_NULL},
      {"12/25/2024x", -1218, DATE_NULL},
      {"13/25/2024", -1205, DATE_NULL},
      {"02/30/2024", -1206, DATE_NULL},
      {"02/29/2023", -1206, DATE_NULL},
      {"125/2024", -1206, DATE_NULL},
      {"12/25/", -1204, DATE_NULL},
      {"12/25", -1204, DATE_NULL},
      {"1225/x", -1218, DATE_NULL},
      {"/25/2024", -1205, DATE_NULL},
      {"xyz", -1205, DATE_NULL},
      {"", 0, DATE_NULL},
      {"   ", 0, DATE_NULL},
  };
  for (const Case &c : cases) {
    int32_t date = 99;
    EXPECT_EQ(rstrdate(c.text, &date), c.status) << '"' << c.text << '"';
    EXPECT_EQ(date, c.date) << '"' << c.text << '"';
  }
}

TEST_F(DateText, WritesTextInTheFormatInForce) {
  char buffer[date_text_size];
  ASSERT_EQ(rdatestr(christmas_2024, buffer), 0);
  EXPECT_STREQ(buffer, "12/25/2024");
  ASSERT_EQ(rdatestr(DATE_MIN, buffer), 0);
  EXPECT_STREQ(buffer, "01/01/0001");
  EXPECT_EQ(rdatestr(DATE_MAX + 1, buffer), -1210);
}

/* The NULL DATE writes the empty string and never reaches the formatter,
** where a month of 0 would index the month names at -1. */
TEST_F(DateText, NullDateWritesEmptyTextInEveryWriter) {
  char buffer[date_text_size];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(rdatestr(DATE_NULL, buffer), 0);
  EXPECT_STREQ(buffer, "");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(rfmtdate(DATE_NULL, "mmm dd yyyy", buffer), 0);
  EXPECT_STREQ(buffer, "");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(dtofmtasc(DATE_NULL, "%b %B %a %A", buffer, 40), 0);
  EXPECT_STREQ(buffer, "");
  std::memset(buffer, 'x', sizeof buffer);
  const int32_t null_date = DATE_NULL;
  EXPECT_EQ(dvz_gl_format_date(buffer, 40, &null_date, "%B"), 0);
  EXPECT_STREQ(buffer, "");
}

TEST_F(DateText, PicturesFollowTheElementTable) {
  struct Case {
    const char *picture;
    const char *text;
  } const cases[] = {
      {"mm/dd/yyyy", "12/25/2024"},
      {"MM-DD-YYYY", "12-25-2024"},
      {"dd.mm.yy", "25.12.24"},
      {"yyyymmdd", "20241225"},
      {"mmm dd, yyyy", "Dec 25, 2024"},
      {"ddd mmm dd yyyy", "Wed Dec 25 2024"},
      {"www, dd mmm yy", "Wed, 25 Dec 24"},
      {"yyyy/mm/dd c1", "2024/12/25 "},
      {"[dd] mm", "[25] 12"},
  };
  for (const Case &c : cases) {
    char buffer[date_text_size];
    EXPECT_EQ(rfmtdate(christmas_2024, c.picture, buffer), 0) << c.picture;
    EXPECT_STREQ(buffer, c.text) << c.picture;
  }
}

TEST_F(DateText, PictureTranslationGivesDirectivesOrderAndEraKind) {
  struct Case {
    const char *picture;
    const char *format;
    int era_kind;
    int32_t order[3];
  } const cases[] = {
      {"dd/mm/yyyy", "%d/%m/%iY", 0, {1, 2, 3}},
      {"yymmdd", "%iy%m%d", 0, {3, 2, 1}},
      {"mmm dd yyyy", "%b %d %iY", 0, {2, 1, 3}},
      {"eyy/mm/dd", "%EC%02.2Ey/%m/%d", 3, {3, 2, 1}},
      {"gyyyy.mm.dd", "%Eg%04.4Ey.%m.%d", 3, {3, 2, 1}},
      {"nyy-mm-dd", "%Eg%02.2Ey-%m-%d", 1, {3, 2, 1}},
      {"nnnnyyyy mm dd", "%EC%04.4Ey %m %d", 1, {3, 2, 1}},
      {"yyyy/mm/ddc1", "%iY/%m/%d", 2, {3, 2, 1}},
      {"yy/mm/ddJ1", "%iy/%m/%d", 1, {3, 2, 1}},
      {"ddd dd mm yy", "%a %d %m %iy", 0, {1, 2, 3}},
  };
  for (const Case &c : cases) {
    char *format = nullptr;
    int32_t era_kind = -1;
    int32_t order[3] = {0, 0, 0};
    ASSERT_EQ(fmtdate_to_gl_date(c.picture, &format, &era_kind, order, 1), 0) << c.picture;
    EXPECT_STREQ(format, c.format) << c.picture;
    EXPECT_EQ(era_kind, c.era_kind) << c.picture;
    EXPECT_EQ(std::memcmp(order, c.order, sizeof order), 0) << c.picture;
    std::free(format);
  }
  char *format = nullptr;
  EXPECT_EQ(fmtdate_to_gl_date("mm/yyyy", &format, nullptr, nullptr, 1), -1212);
  EXPECT_EQ(fmtdate_to_gl_date(nullptr, &format, nullptr, nullptr, 0), -1212);
  EXPECT_EQ(fmtdate_to_gl_date("mm", nullptr, nullptr, nullptr, 0), -1212);
}

TEST_F(DateText, PictureReading) {
  struct Case {
    const char *picture;
    const char *text;
    int status;
    int32_t date;
  } const cases[] = {
      {"yyyy/mm/dd", "2024/12/25", 0, christmas_2024},
      {"dd-mm-yyyy", "25-12-2024", 0, christmas_2024},
      {"mmm dd yyyy", "dec 25 2024", 0, christmas_2024},
      {"yymmdd", "241225", 0, christmas_2024},
      {"yyyymmdd", "20241225", 0, christmas_2024},
      {"dd/mm/yy", "25/12/24", 0, christmas_2024},
      {"mm/dd/yyyy", "12/252024", 0, christmas_2024}, /* explicit: one separator allowed */
      {"mm/yyyy", "12/2024", -1212, 77},
      {nullptr, "12/25/2024", -1212, 77},
      {"mm/dd/yyyy", "", 0, DATE_NULL},
      {"mm/dd/yyyy", "13/25/2024", -1205, 77},
  };
  for (const Case &c : cases) {
    int32_t date = 77;
    EXPECT_EQ(rdefmtdate(&date, c.picture, c.text), c.status)
        << (c.picture ? c.picture : "null") << " " << c.text;
    EXPECT_EQ(date, c.date) << (c.picture ? c.picture : "null") << " " << c.text;
  }
}

TEST_F(DateText, PictureWritingEdges) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(rfmtdate(christmas_2024, "   ", buffer), 0);
  EXPECT_EQ(buffer[0], 'x'); /* a blank picture writes nothing */
  EXPECT_EQ(rfmtdate(christmas_2024, nullptr, buffer), -1212);
  EXPECT_EQ(rfmtdate(DATE_MAX + 1, "mm/dd/yyyy", buffer), -1210);
}

TEST_F(DateText, TwoDigitYearsFollowTheCenturyRuleOfTheCall) {
  int32_t date = 0;
  ASSERT_EQ(rstrdate("06/15/24", &date), 0);
  EXPECT_EQ(date, pinned_today); /* DBCENTURY unset: R */
  ASSERT_EQ(dvz_strdate("06/15/24", &date, 'P'), 0);
  EXPECT_EQ(date, date_of(6, 15, 1924));
  ASSERT_EQ(dvz_strdate("06/15/24", &date, 'F'), 0);
  EXPECT_EQ(date, date_of(6, 15, 2124));
  ASSERT_EQ(dvz_strdate("06/15/24", &date, 'x'), 0);
  EXPECT_EQ(date, pinned_today);
  ASSERT_EQ(dvz_defmtdate(&date, "dd.mm.yy", "14.06.24", 'P'), 0);
  EXPECT_EQ(date, date_of(6, 14, 2024));
  /* the rule of the call does not outlive it */
  ASSERT_EQ(rstrdate("06/15/24", &date), 0);
  EXPECT_EQ(date, pinned_today);
}

TEST_F(DateText, ValidateDbcentury) {
  struct Case {
    int caller, current, result;
  } const cases[] = {{'P', 'R', 'P'}, {'C', 0, 'C'},   {'F', 'C', 'F'}, {'R', 'P', 'R'},
                     {'x', 'C', 'C'}, {'p', 'F', 'F'}, {'x', 0, 'R'},   {0, 'z', 'R'}};
  for (const Case &c : cases)
    EXPECT_EQ(validate_dbcentury(c.caller, c.current), c.result) << char(c.caller);
}

TEST_F(DateText, FastPathSharesOutAFourDigitYear) {
  struct Case {
    int32_t order[3];
    const char *text;
    int explicit_picture;
    int status;
    int32_t date;
  } const cases[] = {
      {{3, 2, 1}, "241225", 0, 0, christmas_2024},
      {{3, 2, 1}, "20241225", 0, 0, christmas_2024},
      {{2, 3, 1}, "122412", 0, 0, date_of(12, 12, 2024)},
      {{1, 2, 3}, "25.12.2024", 0, 0, christmas_2024},
      {{1, 2, 3}, "2512.2024", 0, -1212, 7},
      {{1, 2, 3}, "2512.2024", 1, 0, christmas_2024},
      {{2, 1, 3}, "1225202", 0, -1212, 7},
      {{2, 1, 3}, "dec 25 2024", 0, -1212, 7},
      {{2, 1, 3}, "12/25/2024 x", 0, -1212, 7},
      {{2, 1, 3}, "12/25/", 0, -1212, 7},
      {{1, 3, 2}, "252024", 0, -1205, 7}, /* shared out: month 24 */
      {{2, 1, 1}, "12/25/2024", 0, -1212, 7},
  };
  for (const Case &c : cases) {
    int32_t date = 7;
    EXPECT_EQ(fastscan(&date, c.order, c.text, c.explicit_picture), c.status) << c.text;
    EXPECT_EQ(date, c.date) << c.text;
  }
}

TEST_F(DateText, ScannerFieldRules) {
  struct Case {
    int32_t order[3];
    const char *text;
    int status;
    int32_t date;
  } const cases[] = {
      {{3, 2, 1}, "202412 25", -1218, 7}, /* packed second, separated third */
      {{3, 2, 1}, "241225", 0, christmas_2024}, /* year shared out over three fields */
      {{1, 2, 3}, "25dec2024", 0, christmas_2024},
      {{1, 2, 3}, "25-december-2024", 0, christmas_2024},
      {{2, 1, 3}, "dec5 2024", -1218, 7},
      {{2, 1, 3}, "dec 5 2024", 0, date_of(12, 5, 2024)},
      {{2, 1, 3}, "dec 5 202", 0, date_of(12, 5, 202)},
      {{2, 1, 3}, "12 5 2024 1", -1218, 7},
      {{2, 1, 3}, "12/25/2024", 0, christmas_2024},
      {{2, 2, 3}, "12/25/2024", -1212, 7}, /* not an order of three fields */
  };
  for (const Case &c : cases) {
    int32_t date = 7;
    EXPECT_EQ(scandate(&date, c.order, 0, c.text, 0), c.status) << c.text;
    EXPECT_EQ(date, c.date) << c.text;
  }
  const int32_t order[3] = {2, 1, 3};
  int16_t mdy[3];
  int32_t date = 7;
  ASSERT_EQ(scanstrmdy(&date, order, 0, "dec 25 24", mdy, 1, 0), 0);
  EXPECT_EQ(mdy[0], 12);
  EXPECT_EQ(mdy[1], 25);
  EXPECT_EQ(mdy[2], 24); /* the triple as read: no century */
  EXPECT_EQ(date, 7);
}

TEST_F(DateText, LocaleFormatFunctions) {
  int32_t date = 0;
  EXPECT_EQ(dcvfmtasc(&date, "%d.%m.%Y", "25.12.2024"), 0);
  EXPECT_EQ(date, christmas_2024);
  char buffer[64];
  EXPECT_EQ(dtofmtasc(christmas_2024, "%A %d %B %Y (%j)", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "Wednesday 25 December 2024 (360)");

  EXPECT_EQ(dvz_gl_convert_date(&date, "2024-12-24", "%Y-%m-%d"), 0);
  EXPECT_EQ(date, christmas_2024 - 1);
  EXPECT_EQ(dvz_gl_convert_date(&date, "12/23/2024", nullptr), 0);
  EXPECT_EQ(date, christmas_2024 - 2);
  EXPECT_EQ(dvz_gl_format_date(buffer, sizeof buffer, &date, nullptr), 0);
  EXPECT_STREQ(buffer, "12/23/2024");

  EXPECT_EQ(dvz_gl_convert_date(&date, "2024-13-24", "%Y-%m-%d"), -1);
  EXPECT_NE(dvz_genlib::date_locale_errno(), 0);
  EXPECT_EQ(dvz_gl_format_date(buffer, 4, &date, "%Y-%m-%d"), -1);
  EXPECT_EQ(dvz_genlib::date_locale_errno(), GL_E2BIG);
}

/* The DATE functions' map of the locale library's error word, as the
** DATE Part's table gives it, by number. */
TEST_F(DateText, LocaleErrorsMapByTheDateTable) {
  struct Row {
    int gl_error, date_error;
  } const table[] = {{22, -1276}, {15, -1276}, {14, -1273}, {3, -1211},  {12, -23108}, {9, -1218},
                     {23, -1237}, {24, -1263}, {25, -1263}, {26, -1263}, {28, -1263},  {29, -1263},
                     {32, -1263}, {27, -1206}, {37, -1206}, {30, -1205}, {40, -1205},  {31, -1204},
                     {41, -1204}, {33, -1218}, {34, -1218}, {35, -1218}, {36, -1218},  {38, -1218},
                     {39, -1218}, {42, -1236}, {43, -1237}, {0, -1218},  {1, -1218},   {46, -1218},
                     {48, -1218}, {99, -1218}};
  for (const Row &r : table)
    EXPECT_EQ(dvz_genlib::date_locale_error(r.gl_error), r.date_error) << r.gl_error;
}

/* The same map reached through real failures of the parser and formatter. */
TEST_F(DateText, LocaleFailuresReachTheCallerMapped) {
  char buffer[64];
  EXPECT_EQ(dtofmtasc(christmas_2024, "%m/%d/%Y", buffer, 5), -1273);
  EXPECT_EQ(dtofmtasc(christmas_2024, "%Q", buffer, sizeof buffer), -1276);
  int32_t date = 0;
  EXPECT_EQ(dcvfmtasc(&date, "%m/%d/%Y", "12/25/"), -1204);
  EXPECT_EQ(dcvfmtasc(&date, "%m/%d/%Y", "12/25"), -1218); /* the literal / is missing */
  EXPECT_EQ(dcvfmtasc(&date, "%m/%d/%Y", "12//2024"), -1206);
  EXPECT_EQ(dcvfmtasc(&date, "%m/%d/%Y", "/25/2024"), -1205);
  EXPECT_EQ(dcvfmtasc(&date, "%Q", "12/25/2024"), -1276);
  EXPECT_EQ(dcvfmtasc(&date, "%m/%d/%Y", "02/30/2024"), -1206);
}

TEST_F(DateText, CatalogNameListsAndMonthSearch) {
  ASSERT_EQ(dvz_genlib::load_name_lists(), 0);
  EXPECT_STREQ(_dayarray[0], "Sunday");
  EXPECT_STREQ(_dayarray[6], "Saturday");
  EXPECT_STREQ(_monarray[0], "Jan");
  EXPECT_STREQ(_monarray[11], "Dec");
  EXPECT_STREQ(_montharray[5], "June");
  EXPECT_STREQ(_montharray[11], "December");
  EXPECT_EQ(_inmdflag, 1);
  char *names[3];
  EXPECT_EQ(_initmdarray(1234, names, 3), -1);

  int month = 0;
  EXPECT_EQ(_ggtmonth("due 25 DECEMBER", &month), 0);
  EXPECT_EQ(month, 12);
  EXPECT_EQ(_ggtmonth("marjun", &month), 0);
  EXPECT_EQ(month, 3); /* first in month order, not in the text */
  EXPECT_EQ(_ggtmonth("12/25", &month), -1);
  int position = -1;
  EXPECT_EQ(scan_for_substring("abcabc", "ca", &position), 0);
  EXPECT_EQ(position, 2);
  EXPECT_EQ(scan_for_substring("abc", "cd", &position), -1);
}

TEST_F(DateText, CalendarTripleOfTheFormatInForce) {
  int16_t mdy[3];
  ASSERT_EQ(rgetglsdate(christmas_2024, mdy), 0);
  EXPECT_EQ(mdy[0], 12);
  EXPECT_EQ(mdy[1], 25);
  EXPECT_EQ(mdy[2], 2024);
}

TEST_F(DateText, ClassicDbdateSpecifications) {
  struct Case {
    const char *dbdate;
    int valid, marker, length;
  } const cases[] = {
      {"MDY4/", 0, 0, 4},    {"dmy2", 0, 0, 4},    {"Y4MD.", 0, 0, 4},  {"MDY4/C1", 0, 1, 4},
      {"Y2MD/J2 ", 0, 2, 4}, {"Y2MD-J1", 0, 1, 4}, {"EY2MD/", 0, 0, 5}, {"MDX4", -1, 0, 4},
      {"MDY3", -1, 0, 3},    {"MMDY4", -1, 0, 3},  {"MD", -1, 0, 2},    {"DY4MD", -1, 0, 4},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(chkfmt(c.dbdate), c.valid) << c.dbdate;
    EXPECT_EQ(search_c1(c.dbdate), c.marker) << c.dbdate;
    EXPECT_EQ(dbdatelen(c.dbdate), c.length) << c.dbdate;
  }
  struct Separator {
    int c, separator;
  } const separators[] = {{' ', ' '},  {'-', '-'}, {'.', '.'}, {'/', '/'},
                          {'0', '\0'}, {',', '/'}, {'x', '/'}, {'\0', '/'}};
  for (const Separator &s : separators)
    EXPECT_EQ(datesep(s.c), s.separator) << s.c;
}

/* DBDATE is unset here: the default "MDY4/", and the platform's own date
** format (the C locale's %m/%d/%y) as a specification. */
TEST_F(DateText, ClassicDbdateDefaultsAndPlatformFormat) {
  char picture[DBDATEFMT_SIZE];
  ASSERT_EQ(fmtstr(picture), 0);
  EXPECT_STREQ(picture, "mm/dd/yyyy");
  EXPECT_EQ(initflg, 1);
  char spec[DBDATEFMT_SIZE];
  ASSERT_EQ(getdbdate(spec), 0);
  EXPECT_STREQ(spec, "MDY4/");
}

}  // namespace
