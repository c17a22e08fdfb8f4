/*
** The time parser: plain, era, alternative-digit and %i directives, their
** errors, nested locale formats, the year from eras and calendars, the
** check of the date, the caller's time left alone on failure, and the C
** library's strptime as an oracle on the directives whose meaning agrees,
** with format-parse-format round trips in every shipped locale.
*/
#include "numbers_support.h"
#include "peer_locales.h"
#include "time_internal.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using numtest::U;

/* Today for every parse here, so that the century rules give fixed years. */
constexpr gl_date_rec today {6, 15, 2024};

/* The caller's time before a parse: values no text below gives by chance. */
gl_time_rec start_time() {
  gl_time_rec t {};
  t.tm_fraction = 7;
  t.tm_sec = 8;
  t.tm_min = 9;
  t.tm_hour = 10;
  t.tm_mday = 11;
  t.tm_mon = 1;
  t.tm_year = 99;
  t.tm_wday = 3;
  t.tm_yday = 77;
  t.tm_isdst = 5;
  t.tm_spare1 = 6;
  t.tm_spare2 = 7;
  return t;
}

/* "YYYY-MM-DD hh:mm:ss.ffffff wW yD" of a time. */
std::string show(const gl_time_rec &t) {
  char text[128];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06d w%d y%d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_fraction, t.tm_wday,
                t.tm_yday);
  return text;
}

/* What a parse gave: the time shown, the rest of the text, or the error. */
struct Outcome {
  std::string time;
  std::string rest;
  int error = 0;
};

/* Parses text by format from start_time() (or from, when given). A failed
** parse must leave the record as it was. */
Outcome ptime(gl_locale *loc, const std::string &text, const std::string &format, int rule = 'C',
              const gl_time_rec *from = nullptr) {
  gl_time_rec t = from != nullptr ? *from : start_time();
  const gl_time_rec before = t;
  loc->error = 0;
  const unsigned char *end = gl_mbsptime_internal(loc, U(text), U(format), &t, rule, &today);
  Outcome out;
  if (end == nullptr) {
    out.error = loc->error;
    EXPECT_EQ(std::memcmp(&before, &t, sizeof t), 0) << "a failed parse changed the time";
    return out;
  }
  out.time = show(t);
  out.rest = reinterpret_cast<const char *>(end);
  return out;
}

struct Case {
  const char *format;
  const char *text;
  const char *time; /* expected time, or nullptr when the parse fails */
  const char *rest; /* expected rest of the text */
  int error;
};

void run_cases(gl_locale *loc, const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("format \"") + c.format + "\" text \"" + c.text + "\"");
    Outcome out = ptime(loc, c.text, c.format);
    if (c.time == nullptr) {
      EXPECT_EQ(out.error, c.error);
      continue;
    }
    EXPECT_EQ(out.error, 0);
    EXPECT_EQ(out.time, c.time);
    EXPECT_EQ(out.rest, c.rest);
  }
}

class TimeParse : public ::testing::Test {
 protected:
  glstest::TableGetenv env;
  lcotest::LocalePtr en = numtest::shipped(env, "en_us/0333.lco");
};

TEST_F(TimeParse, ReadsPlainDirectivesIntoTheCallersTime) {
  run_cases(en.get(),
            {
                /* The parsed part ends where the format does. */
                {"%d/%m/%Y", "25/12/2023xyz", "2023-12-25 10:09:08.000007 w1 y358", "xyz", 0},
                {"%d/%m/%Y", "01/01/2024", "2024-01-01 10:09:08.000007 w1 y0", "", 0},
                {"%B %d %Y", "february 29 2024", "2024-02-29 10:09:08.000007 w4 y59", "", 0},
                {"%A %b %e %Y", "Fri Feb  2 2024", "2024-02-02 10:09:08.000007 w5 y32", "", 0},
                {"%h", "Sept", "1999-09-11 10:09:08.000007 w3 y77", "t", 0},
                {"%D", "12/25/23", "2023-12-25 10:09:08.000007 w1 y358", "", 0},
                {"%j", "1", "1999-02-11 10:09:08.000007 w3 y0", "", 0},
                {"%j", "366", "1999-02-11 10:09:08.000007 w3 y365", "", 0},
                {"%H:%M:%S", "23:59:59", "1999-02-11 23:59:59.000007 w3 y77", "", 0},
                {"%R", "9:5", "1999-02-11 09:05:08.000007 w3 y77", "", 0},
                {"%T", "7:06:05", "1999-02-11 07:06:05.000007 w3 y77", "", 0},
                {"%I", "12", "1999-02-11 12:09:08.000007 w3 y77", "", 0},
                {"%I %p", "12 AM", "1999-02-11 00:09:08.000007 w3 y77", "", 0},
                {"%I %p", "12 pm", "1999-02-11 12:09:08.000007 w3 y77", "", 0},
                {"%r", "01:02:03 PM", "1999-02-11 13:02:03.000007 w3 y77", "", 0},
                {"%u", "7", "1999-02-11 10:09:08.000007 w0 y77", "", 0},
                {"%w", "0", "1999-02-11 10:09:08.000007 w0 y77", "", 0},
                {"%a", "Sunday", "1999-02-11 10:09:08.000007 w0 y77", "", 0},
                {"%2C%y", "2005", "2005-02-11 10:09:08.000007 w3 y77", "", 0},
                {"%C", "19", "1900-02-11 10:09:08.000007 w3 y77", "", 0},
                {"%Y", "10000", "1000-02-11 10:09:08.000007 w3 y77", "0", 0},
                {"%EY", "2024", "2024-02-11 10:09:08.000007 w3 y77", "", 0},
                {"%Od.%Om", "5.6", "1999-06-05 10:09:08.000007 w3 y77", "", 0},
                {"%e", " 5", "1999-02-05 10:09:08.000007 w3 y77", "", 0},
                {"%%%d", "%5", "1999-02-05 10:09:08.000007 w3 y77", "", 0},
                /* Blanks of the format match any run of blanks. */
                {" %d / %m ", "  5/   6x", "1999-06-05 10:09:08.000007 w3 y77", "x", 0},
                {"%d%n%m%t%Y", "5 \t 6\n2024", "2024-06-05 10:09:08.000007 w3 y156", "", 0},
                /* A width far beyond an int saturates and reads all digits. */
                {"%99999999999d", "5", "1999-02-05 10:09:08.000007 w3 y77", "", 0},
                /* Fractions: microseconds, truncated, a single 5 is half a second. */
                {"%S.%F", "5.25", "1999-02-11 10:09:05.250000 w3 y77", "", 0},
                {"%F", "1234567", "1999-02-11 10:09:08.123456 w3 y77", "", 0},
                {"%F3", "1234", "1999-02-11 10:09:08.123000 w3 y77", "4", 0},
                {"%F7", "5 7", "1999-02-11 10:09:08.500000 w3 y77", "", 0},
                {"%iF", ".5", "1999-02-11 10:09:08.500000 w3 y77", "", 0},
                {"%iY", "2024", "2024-02-11 10:09:08.000007 w3 y77", "", 0},
                {"%iy", "30", "2030-02-11 10:09:08.000007 w3 y77", "", 0},
                {"%iY", "987", "0987-02-11 10:09:08.000007 w3 y77", "", 0},
            });
}

TEST_F(TimeParse, ReportsTheFieldThatIsMissingOrOutOfRange) {
  run_cases(en.get(), {
                          /* %C has no default width: it reads all four digits. */
                          {"%C%y", "2005", nullptr, nullptr, GL_ETYEAR},
                          {"%d/%m/%Y", "29/02/2001", nullptr, nullptr, GL_ETMDAY},
                          {"%a %d/%m/%Y", "Tue 25/12/2023", nullptr, nullptr, GL_ENOWDAY},
                          {"%w", "7", nullptr, nullptr, GL_EBADARG},
                          {"%u", "0", nullptr, nullptr, GL_ETWDAY},
                          {"%u", "x", nullptr, nullptr, GL_ENOWDAY},
                          {"%d", "32", nullptr, nullptr, GL_ETMDAY},
                          {"%d", "-5", nullptr, nullptr, GL_ENOMDAY},
                          {"%H", "24", nullptr, nullptr, GL_ETHOUR},
                          {"%I", "0", nullptr, nullptr, GL_ETHOUR},
                          {"%M", "x", nullptr, nullptr, GL_ENOMINUTE},
                          {"%S", "60", nullptr, nullptr, GL_ETSECOND},
                          {"%m", "13", nullptr, nullptr, GL_ETMONTH},
                          {"%m", "0", nullptr, nullptr, GL_ETMONTH},
                          {"%j", "367", nullptr, nullptr, GL_ETYDAY},
                          {"%j", "", nullptr, nullptr, GL_ETYDAY},
                          {"%y", "", nullptr, nullptr, GL_ENOYEAR},
                          {"%Y", "x", nullptr, nullptr, GL_ENOYEAR},
                          {"%5Y", "10000", nullptr, nullptr, GL_EBADARG},
                          {"%b", "Foo", nullptr, nullptr, GL_EMONTHNAME},
                          {"%A", "Xyz", nullptr, nullptr, GL_ENOWDAY},
                          {"%p", "XM", nullptr, nullptr, GL_ENOMATCH},
                          {"%d-%m", "1/2", nullptr, nullptr, GL_ENOMATCH},
                          {"%d%t%m", "1x2", nullptr, nullptr, GL_ENOMATCH},
                          {"%%", "x", nullptr, nullptr, GL_EDIRECTIVE},
                          {"%Q", "1", nullptr, nullptr, GL_EDIRECTIVE},
                          {"%d%", "1", nullptr, nullptr, GL_EDIRECTIVE},
                          {"%.3F", "12", nullptr, nullptr, GL_ENOFRACTION},
                          {"%F", "x", nullptr, nullptr, GL_ENOFRACTION},
                          {"%iF", "5", nullptr, nullptr, GL_ENODECPOINT},
                          {"%iF7", ".5", nullptr, nullptr, GL_EDIRECTIVE},
                          {"%iy", "x", nullptr, nullptr, GL_ENOYEAR},
                          {"%iQ", "1", nullptr, nullptr, GL_EDIRECTIVE},
                          {"%r", "13:00:00 PM", nullptr, nullptr, GL_EDIRECTIVE},
                          /* A "*" precision has no argument list to come from. */
                          {"%.*d", "5", nullptr, nullptr, GL_EBADCHARS},
                          {"%.:d", "5", nullptr, nullptr, GL_EBADCHARS},
                      });
}

TEST_F(TimeParse, LeavesTheCallersTimeAloneWhenTheDateIsRefused) {
  /* Every field before the refused day was read: none of them lands. */
  Outcome out = ptime(en.get(), "23:45:01 31/04/2024", "%H:%M:%S %d/%m/%Y");
  EXPECT_EQ(out.error, GL_ETMDAY);
  out = ptime(en.get(), "Mon 02/01/2024 07:00", "%a %d/%m/%Y %H:%M");
  EXPECT_EQ(out.error, GL_ENOWDAY);
}

TEST_F(TimeParse, RefusesMissingArguments) {
  gl_time_rec t = start_time();
  en->error = 0;
  EXPECT_EQ(gl_mbsptime(en.get(), U("1"), nullptr, &t, 'C'), nullptr);
  EXPECT_EQ(en->error, GL_ENOREGISTRY);
  EXPECT_EQ(gl_mbsptime(en.get(), nullptr, U("%d"), &t, 'C'), nullptr);
  EXPECT_EQ(en->error, GL_ENULLPTR);
  EXPECT_EQ(gl_mbsptime(en.get(), U("1"), U("%d"), nullptr, 'C'), nullptr);
  EXPECT_EQ(en->error, GL_ENULLPTR);
  const gl_wchar text[] = {'1', '2', 'x', 0};
  const gl_wchar format[] = {'%', 'd', 0};
  gl_wchar *end = gl_wcsptime(en.get(), text, format, &t, 'C');
  EXPECT_EQ(end, text + 2);
  EXPECT_EQ(t.tm_mday, 12);
  EXPECT_EQ(gl_wcsptime(en.get(), text, nullptr, &t, 'C'), nullptr);
  EXPECT_EQ(en->error, GL_ENOREGISTRY);
}

TEST_F(TimeParse, PlacesTwoDigitYearsByTheCenturyRule) {
  /* Today is 15 June 2024. */
  struct Row {
    const char *text;
    int rule;
    int year;
  } rows[] = {
      {"15/06/24", 'P', 1924}, {"15/06/24", 'F', 2124}, {"15/06/24", 'C', 2024},
      {"15/06/24", 'R', 2024}, {"01/01/24", 'P', 2024}, {"01/01/24", 'F', 2124},
      {"01/01/80", 'C', 1980}, {"01/01/30", 'C', 2030}, {"01/01/30", 'P', 1930},
      {"01/01/30", 'X', 2030},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.text) + " rule " + static_cast<char>(row.rule));
    gl_time_rec t = start_time();
    ASSERT_NE(gl_mbsptime_internal(en.get(), U(row.text), U("%d/%m/%y"), &t, row.rule, &today),
              nullptr);
    EXPECT_EQ(t.tm_year + 1900, row.year);
  }
  /* Without a month or a day the rule takes 1 January. */
  gl_time_rec t = start_time();
  ASSERT_NE(gl_mbsptime_internal(en.get(), U("24"), U("%y"), &t, 'F', &today), nullptr);
  EXPECT_EQ(t.tm_year + 1900, 2124);
}

TEST_F(TimeParse, TakesTodayFromTheOverrideOrTheCurrentDateService) {
  gl_time_rec t = start_time();
  gl_set_current_time(15, 6, 2024);
  const unsigned char *end = gl_mbsptime(en.get(), U("15/06/24"), U("%d/%m/%y"), &t, 'P');
  gl_reset_time();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(t.tm_year + 1900, 1924);

  static gl_date_rec service_today;
  service_today = gl_date_rec {3, 1, 2310};
  glstest::ScopedSlot date(
      GL_EXT_CURRDATE, +[](gl_date_rec *d) {
        *d = service_today;
        return 0;
      });
  ASSERT_NE(gl_mbsptime(en.get(), U("01/03/10"), U("%d/%m/%y"), &t, 'P'), nullptr);
  EXPECT_EQ(t.tm_year + 1900, 2210);
  ASSERT_NE(gl_mbsptime(en.get(), U("28/02/10"), U("%d/%m/%y"), &t, 'P'), nullptr);
  EXPECT_EQ(t.tm_year + 1900, 2310);
}

TEST_F(TimeParse, AdvancesOverMultibyteCharactersOfTheText) {
  glstest::TableGetenv env2;
  lcotest::LocalePtr utf8 = numtest::shipped(env2, "en_us/e01c.lco");
  Outcome out = ptime(utf8.get(),
                      "\xC3\xA9"
                      "05 June 2020 \xC3\xBC",
                      "\xC3\xA9%d %B %Y");
  EXPECT_EQ(out.error, 0);
  EXPECT_EQ(out.time, "2020-06-05 10:09:08.000007 w5 y156");
  EXPECT_EQ(out.rest, " \xC3\xBC");
  /* Text that is no UTF-8 fails in the conversion. */
  out = ptime(utf8.get(), "\xC3(05", "%d");
  EXPECT_EQ(out.error, GL_EILSEQ);
}

TEST_F(TimeParse, ReadsLongTextAndFormatsBeyondTheLocalBuffers) {
  std::string text(300, ' ');
  text += "17";
  std::string format(200, ' ');
  format += "%d";
  Outcome out = ptime(en.get(), text, format);
  EXPECT_EQ(out.error, 0);
  EXPECT_EQ(out.time, "1999-02-17 10:09:08.000007 w3 y77");
}

TEST_F(TimeParse, ReportsMemoryShortageAndFreesWhatItTook) {
  /* A long text is widened on the heap; a field of a given width is read
  ** through a temporary copy. */
  const std::string long_text = std::string(200, ' ') + "17";
  for (const auto &[text, format] : {std::pair<std::string, std::string> {long_text, " %d"},
                                     std::pair<std::string, std::string> {"17", "%2d"}}) {
    SCOPED_TRACE(format);
    glstest::FailingAllocator allocator(1, true);
    Outcome out = ptime(en.get(), text, format);
    EXPECT_EQ(out.error, GL_ENOMEM);
    EXPECT_EQ(allocator.outstanding(), 0);
  }
  glstest::FailingAllocator counting;
  EXPECT_EQ(ptime(en.get(), long_text, " %d").error, 0);
  EXPECT_EQ(counting.outstanding(), 0);
}

/* The shipped Japanese eras (Shift-JIS): the first year of an era is
** written with its own format (gannen), the later ones from the next
** 1 January with the era year. */
TEST(TimeParseJapanese, ReadsEraYearsBackToTheirDates) {
  glstest::TableGetenv env;
  lcotest::LocalePtr ja = numtest::shipped(env, "ja_jp/e006.lco");
  ASSERT_GT(gl_get_era_count(ja.get()), 0);
  const char *format = "%EY%m\x8C\x8E%d\x93\xFA";
  run_cases(ja.get(), {
                          /* Heisei gannen, Showa 64. */
                          {format,
                           "\x95\xBD\x90\xAC\x8C\xB3\x94N01\x8C\x8E"
                           "08\x93\xFA",
                           "1989-01-08 10:09:08.000007 w0 y7", "", 0},
                          {format,
                           "\x8F\xBA\x98"
                           "a64\x94N01\x8C\x8E"
                           "07\x93\xFA",
                           "1989-01-07 10:09:08.000007 w6 y6", "", 0},
                          {format,
                           "\x95\xBD\x90\xAC"
                           "31\x94N04\x8C\x8E"
                           "30\x93\xFA",
                           "2019-04-30 10:09:08.000007 w2 y119", "", 0},
                          /* Reiwa gannen, Reiwa 2. */
                          {format,
                           "\x97\xDF\x98"
                           "a\x8C\xB3\x94N05\x8C\x8E"
                           "01\x93\xFA",
                           "2019-05-01 10:09:08.000007 w3 y120", "", 0},
                          {format,
                           "\x97\xDF\x98"
                           "a2\x94N01\x8C\x8E"
                           "01\x93\xFA",
                           "2020-01-01 10:09:08.000007 w3 y0", "", 0},
                          {format,
                           "\x8F\xBA\x98"
                           "a\x8C\xB3\x94N12\x8C\x8E"
                           "25\x93\xFA",
                           "1926-12-25 10:09:08.000007 w6 y358", "", 0},
                          {format,
                           "\x96\xBE\x8E\xA1"
                           "6\x94N01\x8C\x8E"
                           "01\x93\xFA",
                           "1873-01-01 10:09:08.000007 w3 y0", "", 0},
                          /* The second name, the letter of the era. */
                          {format,
                           "H\x8C\xB3\x94N01\x8C\x8E"
                           "08\x93\xFA",
                           "1989-01-08 10:09:08.000007 w0 y7", "", 0},
                          /* Reiwa gannen before the era began. */
                          {format,
                           "\x97\xDF\x98"
                           "a\x8C\xB3\x94N04\x8C\x8E"
                           "30\x93\xFA",
                           nullptr, nullptr, GL_ENOERA},
                      });
}

/* ---- Toy locales: nested formats, eras, alternative digits, calendars ---- */

class TimeParseToy : public ::testing::Test {
 protected:
  lcotest::ToyTimes toys;
};

TEST_F(TimeParseToy, StopsSelfReferencingLocaleFormatsAtTheNestingLimit) {
  lcotest::TimeToy direct;
  direct.d_t_fmt = "%c";
  lcotest::LocalePtr loc = toys.make(direct);
  EXPECT_EQ(ptime(loc.get(), "1", "%c").error, GL_EDIRECTIVE);

  lcotest::TimeToy mutual;
  mutual.d_fmt = "%X";
  mutual.t_fmt = "%x";
  loc = toys.make(mutual);
  EXPECT_EQ(ptime(loc.get(), "1", "%x").error, GL_EDIRECTIVE);

  /* Eight levels are allowed: %c, %x, %X, %r, %Ec, %Ex, %EX and %R. */
  lcotest::TimeToy deep;
  deep.eras = {"+:1:1900/01/01:+*:E:E:%Ey"};
  deep.d_t_fmt = "%x";
  deep.d_fmt = "%X";
  deep.t_fmt = "%r";
  deep.t_fmt_ampm = "%Ec";
  deep.era_d_t_fmt = "%Ex";
  deep.era_d_fmt = "%EX";
  deep.era_t_fmt = "%R";
  loc = toys.make(deep);
  Outcome out = ptime(loc.get(), "12:13", "%c");
  EXPECT_EQ(out.error, 0);
  EXPECT_EQ(out.time, "1999-02-11 12:13:08.000007 w3 y77");
}

/* Eras in the locale order (newest first), with a year format. */
lcotest::TimeToy era_toy() {
  lcotest::TimeToy toy;
  toy.eras = {"+:1:2019/05/01:+*:Reiwa:R:%EC %Ey", "+:1:1989/01/08:2019/04/30:Heisei:H:%EC %Ey",
              "+:1:1926/12/25:1989/01/07:Showa:S:%EC %Ey",
              "+:65:1990/01/01:1999/12/31:Showa:S:%EC %Ey",
              "-:1:0999/06/30:0001/01/01:Old:O:%EC %Ey"};
  toy.era_d_fmt = "%m/%d %EY";
  toy.era_t_fmt = "%H:%M";
  toy.era_d_t_fmt = "%Ex %EX";
  return toy;
}

TEST_F(TimeParseToy, PlacesEraYearsInTheirEras) {
  lcotest::LocalePtr loc = toys.make(era_toy());
  run_cases(loc.get(),
            {
                {"%m/%d %EC %Ey", "05/01 Reiwa 1", "2019-05-01 10:09:08.000007 w3 y120", "", 0},
                {"%m/%d %EY", "04/30 Heisei 31", "2019-04-30 10:09:08.000007 w2 y119", "", 0},
                {"%Ex", "04/30 H 31", "2019-04-30 10:09:08.000007 w2 y119", "", 0},
                {"%Ec", "01/08 Heisei 1 13:14", "1989-01-08 13:14:08.000007 w0 y7", "", 0},
                /* The era year changes on the anniversary of the era's start. */
                {"%Ex", "01/07 Heisei 2", "1991-01-07 10:09:08.000007 w1 y6", "", 0},
                {"%Ex", "01/08 Heisei 2", "1990-01-08 10:09:08.000007 w1 y7", "", 0},
                /* Backwards: year 1 runs from 30 June 999 back to 1 July 998. */
                {"%Ex", "06/30 Old 1", "0999-06-30 10:09:08.000007 w0 y180", "", 0},
                {"%Ex", "07/01 Old 1", "0998-07-01 10:09:08.000007 w0 y181", "", 0},
                {"%Ex", "06/30 Old 2", "0998-06-30 10:09:08.000007 w6 y180", "", 0},
                {"%Ex", "07/01 Old 2", "0997-07-01 10:09:08.000007 w6 y181", "", 0},
                /* An era name and a day without era year: year 1. */
                {"%m/%d %EC", "02/01 Reiwa", "2020-02-01 10:09:08.000007 w6 y31", "", 0},
                /* Outside its era: the earlier era of the same name takes it. */
                {"%Ex", "06/01 Showa 70", "1995-06-01 10:09:08.000007 w4 y151", "", 0},
                {"%Ex", "01/01 Showa 60", "1986-01-01 10:09:08.000007 w3 y0", "", 0},
                /* Before its anniversary, era year 1 is the year after the start. */
                {"%Ex", "01/07 Heisei 1", "1990-01-07 10:09:08.000007 w0 y6", "", 0},
                {"%Ex", "05/01 Reiwa 0", nullptr, nullptr, GL_ENOERA},
                {"%EC", "Meiji", nullptr, nullptr, GL_ENOERA},
                {"%EY", "Meiji 3", nullptr, nullptr, GL_ENOERA},
                {"%Ey", "x", nullptr, nullptr, GL_ENOYEAR},
                {"%EQ", "1", nullptr, nullptr, GL_EDIRECTIVE},
                /* Without the era data the year falls back to the full year. */
                {"%Y %EC", "2001 Reiwa", "2001-02-11 10:09:08.000007 w3 y77", "", 0},
            });
}

/* Alternative digits: each the letter a and two letters of the value. */
std::vector<std::string> hundred_digits() {
  std::vector<std::string> digits;
  for (int k = 0; k < 100; ++k)
    digits.push_back(
        std::string {'a', static_cast<char>('a' + k / 10), static_cast<char>('a' + k % 10)});
  return digits;
}

TEST_F(TimeParseToy, ReadsAlternativeDigits) {
  lcotest::TimeToy hundred;
  hundred.alt_digits = hundred_digits();
  lcotest::LocalePtr loc = toys.make(hundred);
  run_cases(loc.get(),
            {
                {"%Od/%Om/%Oy", "abj/aab/ajj", "1999-01-19 10:09:08.000007 w2 y18", "", 0},
                {"%Om", "aab", "1999-01-11 10:09:08.000007 w3 y77", "", 0},
                {"%OH:%OM:%OS", " acc:afj:aaa", "1999-02-11 22:59:00.000007 w3 y77", "", 0},
                {"%OI %p", "aab PM", "1999-02-11 13:09:08.000007 w3 y77", "", 0},
                {"%Ow", "aag", "1999-02-11 10:09:08.000007 w6 y77", "", 0},
                {"%Oe", "aab", "1999-02-01 10:09:08.000007 w3 y77", "", 0},
                /* Two alternative digits make a number in base 100. */
                {"%Od", "aabaab", nullptr, nullptr, GL_ETMDAY},
                {"%Od", "abz", nullptr, nullptr, GL_ENOMDAY},
                {"%OH", "ace", nullptr, nullptr, GL_ETHOUR},
                {"%Ow", "aah", nullptr, nullptr, GL_ETWDAY},
                {"%Oq", "aab", nullptr, nullptr, GL_EDIRECTIVE},
                {"%Od", "5", nullptr, nullptr, GL_ENOMDAY},
            });

  lcotest::TimeToy ten;
  ten.alt_digits = {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine"};
  loc = toys.make(ten);
  run_cases(loc.get(), {
                           {"%Od", "onetwo", "1999-02-12 10:09:08.000007 w3 y77", "", 0},
                           {"%1Od", "onetwo", "1999-02-12 10:09:08.000007 w3 y77", "", 0},
                           {"%.2Od", "two", nullptr, nullptr, GL_ENOMDAY},
                       });

  lcotest::TimeToy with_eras = era_toy();
  with_eras.alt_digits = hundred_digits();
  loc = toys.make(with_eras);
  run_cases(loc.get(),
            {
                {"%m/%d %EC %Oy", "01/08 Heisei aac", "1990-01-08 10:09:08.000007 w1 y7", "", 0},
            });
}

lcotest::TimeToy hebrew_toy() {
  lcotest::TimeToy toy;
  toy.calendar = "hebrew";
  toy.month_count = 14;
  toy.mon = {"Tishri", "Heshvan", "Kislev", "Tevet", "Shevat", "Adar",       "Nisan",
             "Iyar",   "Sivan",   "Tammuz", "Av",    "Elul",   "First Adar", "Second Adar"};
  toy.abmon = toy.mon;
  return toy;
}

TEST_F(TimeParseToy, ConvertsDatesOfTheLocalesCalendar) {
  lcotest::LocalePtr hebrew = toys.make(hebrew_toy());
  run_cases(hebrew.get(),
            {
                {"%d %B %Y", "23 Tevet 5760", "2000-01-01 10:09:08.000007 w6 y0", "", 0},
                {"%d %m %Y", "23 4 5760", "2000-01-01 10:09:08.000007 w6 y0", "", 0},
                /* Adar II of 5784 (a leap year) is month number 7, name 13. */
                {"%d %B %Y", "1 Second Adar 5784", "2024-03-11 10:09:08.000007 w1 y70", "", 0},
                {"%d %m %Y", "1 7 5784", "2024-03-11 10:09:08.000007 w1 y70", "", 0},
                /* Two-digit years take the calendar's fixed century. */
                {"%d %B %y", "1 Tishri 84", "2023-09-16 10:09:08.000007 w6 y258", "", 0},
                /* Adar II in a common year, and a date without a month. */
                {"%d %B %Y", "1 Second Adar 5783", nullptr, nullptr, 0},
                {"%d %Y", "1 5784", nullptr, nullptr, 0},
            });

  lcotest::TimeToy islamic;
  islamic.calendar = "islamic";
  lcotest::LocalePtr loc = toys.make(islamic);
  run_cases(loc.get(), {
                           {"%d/%m/%Y", "01/01/0001", "0622-07-18 10:09:08.000007 w4 y198", "", 0},
                           {"%d/%m/%Y", "25/09/1420", "2000-01-01 10:09:08.000007 w6 y0", "", 0},
                           {"%d/%m/%y", "25/09/20", "2000-01-01 10:09:08.000007 w6 y0", "", 0},
                       });

  lcotest::TimeToy arabic;
  arabic.calendar = "arabic";
  loc = toys.make(arabic);
  EXPECT_EQ(ptime(loc.get(), "25/09/1420", "%d/%m/%Y").time, "");
  EXPECT_EQ(ptime(loc.get(), "10:11", "%H:%M").time, "");
}

/* ---- The C library as an oracle ----------------------------------------- */

/* The directives whose meaning agrees with strptime's, with what they
** give: the broken-down field each fills. %I comes with %p; %Y only for
** years 1000-9999. */
struct Directive {
  const char *text;
  bool needs_am_pm;
};
constexpr Directive oracle_directives[] = {
    {"%a", false}, {"%A", false}, {"%b", false}, {"%B", false}, {"%h", false}, {"%d", false},
    {"%e", false}, {"%H", false}, {"%I", true},  {"%j", false}, {"%m", false}, {"%M", false},
    {"%S", false}, {"%D", false}, {"%n", false}, {"%t", false}, {"%%", false}, {"%Y", false},
};

struct PeerCase {
  const char *file;
  const char *source;
  const char *charmap;
  bool am_pm; /* the locale has am/pm strings */
};
constexpr PeerCase peers[] = {
    {"en_us/0333.lco", "en_US", "ISO-8859-1", true},
    {"de_de/0333.lco", "de_DE", "ISO-8859-1", false},
    {"en_us/e01c.lco", "en_US", "UTF-8", true},
};

/* A random time of years 1000-9999, its weekday and day of the year set. */
struct tm random_tm(std::mt19937 &rng) {
  struct tm t {};
  const int year = std::uniform_int_distribution<int>(1000, 9999)(rng);
  t.tm_year = year - 1900;
  t.tm_mon = std::uniform_int_distribution<int>(0, 11)(rng);
  t.tm_mday = std::uniform_int_distribution<int>(
      1, glslib::gregorian_month_length(t.tm_mon + 1, year))(rng);
  t.tm_hour = std::uniform_int_distribution<int>(0, 23)(rng);
  t.tm_min = std::uniform_int_distribution<int>(0, 59)(rng);
  t.tm_sec = std::uniform_int_distribution<int>(0, 59)(rng);
  t.tm_wday = _gl_gregorian_weekday(t.tm_mday, t.tm_mon, year);
  t.tm_yday = _gl_gregorian_yearday(t.tm_mday, t.tm_mon, year);
  return t;
}

TEST(TimeParseOracle, AgreesWithStrptimeOnTheSharedDirectives) {
  std::mt19937 rng(20241210);
  for (const PeerCase &peer : peers) {
    SCOPED_TRACE(peer.file);
    glstest::TableGetenv env;
    lcotest::LocalePtr loc = numtest::shipped(env, peer.file);
    locale_t c_locale = glstest::peer_locale(peer.source, peer.charmap);
    ASSERT_NE(c_locale, nullptr);
    for (int round = 0; round < 400; ++round) {
      /* Two to five directives, separated by literals (a blank in the
      ** format would take the white space that %n and %t need). */
      std::vector<std::string> chosen;
      const int count = std::uniform_int_distribution<int>(2, 5)(rng);
      for (int i = 0; i < count; ++i) {
        const Directive &d = oracle_directives[std::uniform_int_distribution<std::size_t>(
            0, std::size(oracle_directives) - 1)(rng)];
        if (!d.needs_am_pm || peer.am_pm) chosen.push_back(d.text);
      }
      auto has = [&](const char *d) {
        return std::find(chosen.begin(), chosen.end(), d) != chosen.end();
      };
      /* %D's year is placed by each side's own rule: no weekday to check. */
      const bool has_d = has("%D");
      if (has_d) std::erase_if(chosen, [](const std::string &d) { return d == "%a" || d == "%A"; });
      if (has("%I")) chosen.push_back("%p");
      if (chosen.empty()) continue;
      std::string format;
      for (std::size_t i = 0; i < chosen.size(); ++i)
        format += (i == 0 ? "" : i % 2 == 0 ? "|" : "/") + chosen[i];
      struct tm when = random_tm(rng);
      char text[512];
      locale_t previous = uselocale(c_locale);
      const std::size_t n = strftime(text, sizeof text, format.c_str(), &when);
      struct tm peer_tm {};
      const char *peer_end = strptime(text, format.c_str(), &peer_tm);
      uselocale(previous);
      ASSERT_GT(n, 0u) << format;
      ASSERT_NE(peer_end, nullptr) << format << " on " << text;

      gl_time_rec ours {};
      loc->error = 0;
      const unsigned char *end =
          gl_mbsptime_internal(loc.get(), U(text), U(format), &ours, 'C', &today);
      ASSERT_NE(end, nullptr) << format << " on \"" << text << "\": error " << loc->error;
      EXPECT_EQ(reinterpret_cast<const char *>(end) - text, peer_end - text) << format;
      const std::string context = format + " on \"" + text + "\"";
      EXPECT_EQ(ours.tm_sec, peer_tm.tm_sec) << context;
      EXPECT_EQ(ours.tm_min, peer_tm.tm_min) << context;
      EXPECT_EQ(ours.tm_hour, peer_tm.tm_hour) << context;
      /* strptime derives the day and month from %j; the parser does not. */
      if (has_d || has("%d") || has("%e")) {
        EXPECT_EQ(ours.tm_mday, peer_tm.tm_mday) << context;
      }
      if (has_d || has("%m") || has("%b") || has("%B") || has("%h")) {
        EXPECT_EQ(ours.tm_mon, peer_tm.tm_mon) << context;
      }
      /* %D's two-digit year is placed by a century rule of each side's own. */
      if (!has_d && has("%Y")) {
        EXPECT_EQ(ours.tm_year, peer_tm.tm_year) << context;
      }
      if (has("%a") || has("%A")) {
        EXPECT_EQ(ours.tm_wday, peer_tm.tm_wday) << context;
      }
      if (has("%j")) {
        EXPECT_EQ(ours.tm_yday, peer_tm.tm_yday) << context;
      }
    }
  }
}

/* Format, parse, format again: the same text, in every shipped locale,
** on random times of 1990-2050 (where two-digit years read back with the
** closest-century rule in 2020). */
TEST(TimeParseRoundTrip, ReadsBackWhatTheFormatterWrites) {
  const char *files[] = {"en_us/0333.lco", "en_us/e01c.lco", "de_de/0333.lco",
                         "fr_ca/0333.lco", "ja_jp/e006.lco", "ja_jp/e007.lco",
                         "th_th/e01d.lco", "he_il/0394.lco", "ar_sa/0441.lco"};
  const char *formats[] = {"%c",
                           "%x %X",
                           "%Y-%m-%d %H:%M:%S.%F",
                           "%A %d %B %Y %I:%M:%S %p",
                           "%a %b %e %j %Y %T",
                           "%EY %m %d",
                           "%Ec",
                           "%D %R"};
  const gl_date_rec now {6, 15, 2020};
  std::mt19937 rng(8735);
  for (const char *file : files) {
    if (!std::filesystem::exists(std::string(GLS_SOURCE_DATA) + "/lc11/" + file)) continue;
    SCOPED_TRACE(file);
    glstest::TableGetenv env;
    lcotest::LocalePtr loc = numtest::shipped(env, file);
    const bool am_pm = loc->ltime.am_pm[0] != nullptr && loc->ltime.am_pm[0][0] != 0;
    int read_back = 0;
    for (const char *format : formats) {
      if (std::string(format).find("%p") != std::string::npos && !am_pm) continue;
      for (int round = 0; round < 200; ++round) {
        const int year = std::uniform_int_distribution<int>(1990, 2050)(rng);
        gl_time_rec t {};
        t.tm_fraction = std::uniform_int_distribution<int>(0, 999999)(rng);
        t.tm_sec = std::uniform_int_distribution<int>(0, 59)(rng);
        t.tm_min = std::uniform_int_distribution<int>(0, 59)(rng);
        t.tm_hour = std::uniform_int_distribution<int>(0, 23)(rng);
        t.tm_mon = std::uniform_int_distribution<int>(0, 11)(rng);
        t.tm_mday = std::uniform_int_distribution<int>(
            1, glslib::gregorian_month_length(t.tm_mon + 1, year))(rng);
        t.tm_year = year - 1900;
        t.tm_wday = _gl_gregorian_weekday(t.tm_mday, t.tm_mon, year);
        t.tm_yday = _gl_gregorian_yearday(t.tm_mday, t.tm_mon, year);
        unsigned char text[512];
        gl_time_rec copy = t;
        /* A format the locale cannot write (its own formats may hold
        ** directives the formatter refuses) is not the parser's concern. */
        const int n = gl_mbsftime(loc.get(), text, sizeof text, U(format), &copy);
        if (n <= 0) break;
        const std::string context =
            std::string(format) + " on \"" + reinterpret_cast<const char *>(text) + "\"";
        gl_time_rec back {};
        back.tm_mday = 1;
        loc->error = 0;
        const unsigned char *end =
            gl_mbsptime_internal(loc.get(), text, U(format), &back, 'C', &now);
        ASSERT_NE(end, nullptr) << context << ": error " << loc->error;
        EXPECT_EQ(*end, 0) << context;
        unsigned char again[512];
        const int n2 = gl_mbsftime(loc.get(), again, sizeof again, U(format), &back);
        ASSERT_EQ(n2, n) << context;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(again), static_cast<std::size_t>(n2)),
                  std::string(reinterpret_cast<char *>(text), static_cast<std::size_t>(n)))
            << context;
        ++read_back;
      }
    }
    EXPECT_GT(read_back, 0);
  }
}

}  // namespace
