/*
** The time formatter: plain, era, alternative-digit and %i directives,
** range checks, nested locale formats, the Hebrew and Arabic calendars,
** the buffer limit, the size-only mode behind the format expansion, and
** the C library's strftime_l as an oracle on the directives whose meaning
** agrees.
*/
#include "numbers_support.h"
#include "peer_locales.h"
#include "time_internal.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <locale.h>
#include <time.h>

#include <climits>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using numtest::U;

/* A gl_time_rec of a Gregorian date and time (weekday and day of year
** computed). */
gl_time_rec at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
               int fraction = 0) {
  gl_time_rec t {};
  t.tm_fraction = fraction;
  t.tm_sec = second;
  t.tm_min = minute;
  t.tm_hour = hour;
  t.tm_mday = day;
  t.tm_mon = month - 1;
  t.tm_year = year - 1900;
  t.tm_wday = _gl_gregorian_weekday(day, month - 1, year);
  t.tm_yday = _gl_gregorian_yearday(day, month - 1, year);
  return t;
}

/* The text gl_mbsftime wrote, or "error N" when it returned 0. */
std::string ftime(gl_locale *loc, const std::string &format, gl_time_rec t) {
  unsigned char out[512];
  loc->error = 0;
  gl_time_rec before = t;
  int n = gl_mbsftime(loc, out, sizeof out, U(format), &t);
  EXPECT_EQ(std::memcmp(&before, &t, sizeof t), 0) << "the time record changed";
  if (n <= 0) return "error " + std::to_string(loc->error);
  return std::string(reinterpret_cast<char *>(out), static_cast<std::size_t>(n));
}

class TimeFormatting : public ::testing::Test {
 protected:
  lcotest::ToyTimes toys;
  lcotest::LocalePtr loc = toys.make({});
  /* Sunday 6 March 2005, 09:05:07.123456, day 65 of the year. */
  gl_time_rec sunday = at(2005, 3, 6, 9, 5, 7, 123456);
};

TEST_F(TimeFormatting, PlainDirectivesWriteTheirFields) {
  struct Case {
    const char *format;
    const char *expected;
  };
  const Case cases[] = {
      {"%R", "9:5"},
      {"%.2R", "09:05"},
      {"%H:%M", "09:05"},
      {"%T", "9:5:7"},
      {"%.2T", "09:05:07"},
      {"%u", "07"},
      {"%w", "00"},
      {"%e", " 6"},
      {"%.2e", "06"},
      {"%3e", "  6"},
      {"%F", "123456"},
      {"%F3", "123"},
      {"[%F0]", "[]"},
      {"%.8F", "12345600"},
      {"%F7", "1234567"},
      {"%8F2", "      12"},
      {"%-8F2|", "12      |"},
      {"%iF", ".12"},
      {"%iF3", ".123"},
      {"%C", "20"},
      {"%g", "20"},
      {"%y", "05"},
      {"%Y", "2005"},
      {"%iY", "2005"},
      {"%iy", "05"},
      {"%j", "065"},
      {"%D", "03/06/05"},
      {"%.1D", "3/6/5"},
      {"%b %h %B", "M3 M3 Month3"},
      {"%a %A", "Sun Sunday"},
      {"%p", "AM"},
      {"%I", "09"},
      {"%%%n%t", "%\n\t"},
      {"%5d", "   06"},
      {"%-5d|", "06   |"},
      {"%05d", "00006"},
      {"%10B", "    Month3"},
      {"%-8b|", "M3      |"},
      {"%.3B", "Mon"},
      {"%08b", "000000M3"},
      {"%c", "Sun 06 M3 2005 09:05:07"},
      {"%x", "03/06/05"},
      {"%X", "09:05:07"},
      {"%r", "09:05:07 AM"},
      {"%EY", "2005"},
      {"%Od", "06"},
      {"%'+ #d", "06"},
      {"%Ey", "05"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ftime(loc.get(), c.format, sunday), c.expected) << c.format;
}

TEST_F(TimeFormatting, HoursOfTheTwelveHourClock) {
  const int hours[][2] = {{0, 12}, {1, 1}, {11, 11}, {12, 12}, {13, 1}, {23, 11}};
  for (const auto &h : hours) {
    gl_time_rec t = at(2005, 3, 6, h[0]);
    EXPECT_EQ(ftime(loc.get(), "%.1I %p", t), std::to_string(h[1]) + (h[0] < 12 ? " AM" : " PM"))
        << h[0];
  }
}

TEST_F(TimeFormatting, FieldsOutOfRangeFailWithTheirErrors) {
  struct Case {
    const char *format;
    int gl_time_rec::*field;
    int value;
    int error;
  };
  const Case cases[] = {
      {"%F", &gl_time_rec::tm_fraction, 1000000, GL_ETFRACTION},
      {"%iF", &gl_time_rec::tm_fraction, -1, GL_ETFRACTION},
      {"%S", &gl_time_rec::tm_sec, 60, GL_ETSECOND},
      {"%M", &gl_time_rec::tm_min, 60, GL_ETMINUTE},
      {"%H", &gl_time_rec::tm_hour, 24, GL_ETHOUR},
      {"%p", &gl_time_rec::tm_hour, -1, GL_ETHOUR},
      {"%d", &gl_time_rec::tm_mday, 0, GL_ETMDAY},
      {"%e", &gl_time_rec::tm_mday, 100, GL_ETMDAY},
      {"%a", &gl_time_rec::tm_wday, 7, GL_ETWDAY},
      {"%u", &gl_time_rec::tm_wday, -1, GL_ETWDAY},
      {"%j", &gl_time_rec::tm_yday, 366, GL_ETYDAY},
      {"%B", &gl_time_rec::tm_mon, 12, GL_ETMONTH},
      {"%m", &gl_time_rec::tm_mon, -1, GL_ETMONTH},
      {"%Y", &gl_time_rec::tm_year, 8100, GL_ETYEAR},
      {"%C", &gl_time_rec::tm_year, -1901, GL_ETYEAR},
      /* %D checks month, day, year in that order; %T second first. */
      {"%D", &gl_time_rec::tm_year, 9000, GL_ETYEAR},
      {"%T", &gl_time_rec::tm_hour, 30, GL_ETHOUR},
  };
  for (const Case &c : cases) {
    gl_time_rec t = sunday;
    t.*c.field = c.value;
    EXPECT_EQ(ftime(loc.get(), c.format, t), "error " + std::to_string(c.error)) << c.format;
  }
  gl_time_rec t = sunday;
  t.tm_mon = 12;
  t.tm_mday = 0;
  EXPECT_EQ(ftime(loc.get(), "%D", t), "error 30");
  t = sunday;
  t.tm_sec = 60;
  t.tm_hour = 30;
  EXPECT_EQ(ftime(loc.get(), "%T", t), "error 24");
  /* %y makes no check and keeps the sign of the year. */
  t = sunday;
  t.tm_year = -1900 - 5;
  EXPECT_EQ(ftime(loc.get(), "%y", t), "-05");
}

/* Words at the ends of their range (a caller's raw record) are refused or
** written without an arithmetic overflow: UBSan ends the test otherwise. */
TEST_F(TimeFormatting, ExtremeFieldValuesNeverOverflow) {
  const char *formats[] = {"%y", "%iy", "%Y", "%C", "%m", "%j", "%D", "%iD", "%B", "%Ey", "%EY"};
  for (int extreme : {INT_MAX, INT_MIN}) {
    for (int gl_time_rec::*field : {&gl_time_rec::tm_year, &gl_time_rec::tm_mon,
                                    &gl_time_rec::tm_yday, &gl_time_rec::tm_mday}) {
      gl_time_rec t = sunday;
      t.*field = extreme;
      for (const char *format : formats)
        (void)ftime(loc.get(), format, t);
    }
  }
  gl_time_rec t = sunday;
  t.tm_year = INT_MAX;
  EXPECT_EQ(ftime(loc.get(), "%y", t), std::to_string((int64_t {INT_MAX} + 1900) % 100));
}

TEST_F(TimeFormatting, MalformedFormatsFail) {
  struct Case {
    const char *format;
    int error;
  };
  const Case cases[] = {
      {"%Q", GL_EDIRECTIVE},
      {"abc%", GL_EDIRECTIVE},
      {"%E", GL_EDIRECTIVE},
      {"%iQ", GL_EDIRECTIVE},
      {"%iF7", GL_EDIRECTIVE},
      {"%i", GL_EDIRECTIVE},
      /* A doubled prefix the locale has no data for. */
      {"%OOd", GL_EDIRECTIVE},
      {"%EEC", GL_EDIRECTIVE},
      /* No argument list: a "*" precision is refused. */
      {"%.*d", GL_EBADCHARS},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ftime(loc.get(), c.format, sunday), "error " + std::to_string(c.error)) << c.format;
  gl_wchar out[16];
  loc->error = 0;
  EXPECT_EQ(gl_wcsftime(loc.get(), out, 16, nullptr, &sunday), 0);
  EXPECT_EQ(loc->error, GL_ENOREGISTRY);
}

TEST_F(TimeFormatting, AnEmptyResultReturnsZeroWithoutError) {
  unsigned char out[8] = "x";
  loc->error = 0;
  EXPECT_EQ(gl_mbsftime(loc.get(), out, sizeof out, U("%F0"), &sunday), 0);
  EXPECT_EQ(loc->error, 0);
  EXPECT_EQ(out[0], 'x');
}

TEST_F(TimeFormatting, ABufferOneCharacterShortIsErrorFourteen) {
  const char *formats[] = {"%Y-%m-%d", "%B %d", "%c", "[%F]", "%.3R", "x%Oe"};
  for (const char *format : formats) {
    std::string text = ftime(loc.get(), format, sunday);
    int size = static_cast<int>(text.size()) + 1;
    unsigned char out[64];
    loc->error = 0;
    EXPECT_EQ(gl_mbsftime(loc.get(), out, size, U(format), &sunday), size - 1) << format;
    EXPECT_EQ(gl_mbsftime(loc.get(), out, size - 1, U(format), &sunday), 0) << format;
    EXPECT_EQ(loc->error, GL_E2BIG) << format;
    std::vector<gl_wchar> wide = numtest::W(format);
    gl_wchar wout[64];
    loc->error = 0;
    EXPECT_EQ(gl_wcsftime(loc.get(), wout, size - 1, wide.data(), &sunday), 0) << format;
    EXPECT_EQ(loc->error, GL_E2BIG) << format;
  }
}

TEST_F(TimeFormatting, SelfReferencingLocaleFormatsStopAtTheNestingLimit) {
  lcotest::TimeToy direct;
  direct.d_t_fmt = "%c";
  lcotest::TimeToy mutual;
  mutual.d_t_fmt = "<%x>";
  mutual.d_fmt = "%c";
  for (const auto *toy : {&direct, &mutual}) {
    lcotest::LocalePtr r = toys.make(*toy);
    EXPECT_EQ(ftime(r.get(), "%c", sunday), "error 22");
    EXPECT_EQ(gl_mbsfmtexpand(r.get(), 1, U("%c")), -1);
  }
  /* Eight levels are formatted. */
  lcotest::TimeToy deep;
  deep.d_t_fmt = "%x";
  deep.d_fmt = "%X";
  deep.t_fmt = "%r";
  deep.t_fmt_ampm = "%Ex";
  deep.eras = {"+:1:1900/01/01:+*:Era:E:%Ey"};
  deep.era_d_fmt = "%Ec";
  deep.era_d_t_fmt = "%EX";
  deep.era_t_fmt = "%EY";
  lcotest::LocalePtr r = toys.make(deep);
  EXPECT_EQ(ftime(r.get(), "%c", sunday), "106");
}

/* ---- Eras and alternative digits --------------------------------------- */

class EraFormatting : public TimeFormatting {
 protected:
  lcotest::LocalePtr eras = [this] {
    lcotest::TimeToy toy;
    toy.eras = {"+:1:1989/01/08:2019/04/30:Heisei:H:%EC%Ey", "+:1:2019/05/01:+*:Reiwa:R:%EC%Ey",
                "+:1:1926/12/25:1989/01/07:::%Ey", "-:1:1000/06/15:100/01/01:Back:B:%Eg%Ey",
                "+:-5:1900/01/01:1900/12/31:Neg:N:%Ey"};
    toy.era_d_fmt = "%EC%Ey.%m.%d";
    toy.era_t_fmt = "%H:%M";
    toy.era_d_t_fmt = "%Ex %EX";
    toy.alt_digits = {"zero", "one", "two",   "three", "four",
                      "five", "six", "seven", "eight", "nine"};
    return toys.make(toy);
  }();
};

TEST_F(EraFormatting, EraDirectivesFollowTheCurrentEra) {
  struct Case {
    gl_time_rec time;
    const char *format;
    const char *expected;
  };
  const Case cases[] = {
      {at(1989, 1, 8), "%EC %Eg %Ey", "Heisei H 01"},
      {at(2019, 4, 30), "%EY", "Heisei31"},
      {at(2019, 5, 1), "%EY", "Reiwa01"},
      {at(2024, 3, 20), "%Ec", "Reiwa05.03.20 00:00"},
      /* Empty era names write nothing and succeed. */
      {at(1950, 1, 1), "[%EC][%Eg]%EY", "[][]24"},
      /* The era year changes on the anniversary of the start date. */
      {at(1990, 1, 7), "%Ey", "01"},
      {at(1990, 1, 8), "%Ey", "02"},
      /* Backwards: the start is the later date. */
      {at(1000, 6, 15), "%EY", "B01"},
      {at(999, 6, 16), "%Ey", "01"},
      {at(999, 6, 15), "%Ey", "02"},
      {at(101, 1, 1), "%Ey", "900"},
      /* Alternative digits: base 10 through the entries. */
      {at(2005, 3, 6), "%Od|%Om|%Oe|%.1Oe", "zerosix|zerothree| six| six"},
      {at(2005, 3, 31), "%Oe", "threeone"},
      {at(2021, 5, 1), "%Oy", "zerothree"},
      {at(2021, 5, 1, 7, 8, 9), "%OT", "seven:eight:nine"},
      /* A negative era year leaves only its padding. */
      {at(1900, 6, 1), "[%Oy]", "[zerozero]"},
      {at(1900, 6, 1), "[%Ey]", "[-05]"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ftime(eras.get(), c.format, c.time), c.expected) << c.format;
}

TEST_F(EraFormatting, ADateInNoEraFailsWithNine) {
  for (const char *format : {"%EC", "%Eg", "%Ey", "%EY", "%Oy"})
    EXPECT_EQ(ftime(eras.get(), format, at(1910, 1, 1)), "error 9") << format;
  /* Without eras %E is the plain directive. */
  EXPECT_EQ(ftime(loc.get(), "%EY %Ey %EC", at(1910, 1, 1)), "1910 10 19");
}

TEST_F(EraFormatting, AHundredAlternativeDigitsWriteOneEntryPerValue) {
  lcotest::TimeToy toy;
  for (int i = 0; i < 100; ++i)
    toy.alt_digits.push_back("<" + std::to_string(i) + ">");
  lcotest::LocalePtr r = toys.make(toy);
  struct Case {
    const char *format;
    const char *expected;
  };
  const Case cases[] = {
      {"%Oy", "<0><5>"},
      {"%.1Oy", "<5>"},
      {"%Od", "<0><6>"},
      {"%.1Od", "<6>"},
      {"%OH", "<0><9>"},
      {"%Oj", "<0><0><65>"},
      {"%OC", "<20>"},
      {"%OY", "error 22"},
      {"%6OC", "  <20>"},
      {"%-6OC|", "<20>  |"},
      {"%013OC", "<0><0><0><20>"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ftime(r.get(), c.format, sunday), c.expected) << c.format;
  EXPECT_EQ(ftime(r.get(), "%.1Od", at(2005, 3, 31)), "<31>");
}

/* ---- Calendars ----------------------------------------------------------- */

TEST_F(TimeFormatting, HebrewDatesUseTheCalendarMonthsNames) {
  lcotest::TimeToy toy;
  toy.calendar = "hebrew";
  toy.mon = {"Tishri", "Heshvan", "Kislev", "Tevet", "Shevat", "Adar",       "Nisan",
             "Iyar",   "Sivan",   "Tammuz", "Av",    "Elul",   "First Adar", "Second Adar"};
  toy.abmon = {"Tis", "Hes", "Kis", "Tev", "She", "Ada", "Nis",
               "Iya", "Siv", "Tam", "Av",  "Elu", "1Ad", "2Ad"};
  lcotest::LocalePtr r = toys.make(toy);
  EXPECT_EQ(ftime(r.get(), "%d %B %Y", at(2000, 1, 1)), "23 Tevet 5760");
  /* 5784 is a leap year: Adar II is its seventh month. */
  EXPECT_EQ(ftime(r.get(), "%B|%b|%m|%d", at(2024, 3, 20)), "Second Adar|2Ad|07|10");
  EXPECT_EQ(ftime(r.get(), "%B|%m", at(2024, 2, 20)), "First Adar|06");
  EXPECT_EQ(ftime(r.get(), "%B|%m", at(2023, 3, 1)), "Adar|06");
  EXPECT_EQ(gl_mbsfmtexpand(r.get(), 1, U("%d %B %Y")), 2 + 1 + 11 + 1 + 4);
}

TEST_F(TimeFormatting, IslamicDatesAndTheArabicCalendar) {
  lcotest::TimeToy islamic;
  islamic.calendar = "islamic";
  lcotest::LocalePtr r = toys.make(islamic);
  EXPECT_EQ(ftime(r.get(), "%d %B %Y", at(622, 7, 18)), "01 Month1 0001");
  EXPECT_NE(ftime(r.get(), "%d", at(622, 7, 17)).rfind("error", 0), std::string::npos);
  lcotest::TimeToy arabic;
  arabic.calendar = "arabic";
  lcotest::LocalePtr a = toys.make(arabic);
  unsigned char out[64];
  EXPECT_EQ(gl_mbsftime(a.get(), out, sizeof out, U("%d"), &sunday), 0);
  EXPECT_EQ(gl_mbsfmtexpand(a.get(), 1, U("%d")), -1);
}

/* UTF-8 text in Shift-JIS bytes. */
std::string to_sjis(const std::string &utf8) {
  iconv_t cd = iconv_open("SHIFT_JIS", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in = utf8;
  char out[256];
  char *ip = in.data();
  char *op = out;
  std::size_t il = in.size();
  std::size_t ol = sizeof out;
  EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<std::size_t>(-1));
  iconv_close(cd);
  return std::string(out, static_cast<std::size_t>(op - out));
}

TEST(TimeShipped, JapaneseErasNameTheirYears) {
  glstest::TableGetenv env;
  lcotest::LocalePtr r = numtest::shipped(env, "ja_jp/e006.lco");
  ASSERT_GT(gl_get_era_count(r.get()), 0);
  struct Case {
    gl_time_rec time;
    const char *format;
    const char *expected; /* UTF-8 */
  };
  const Case cases[] = {
      {at(2019, 5, 1), "%EY", "令和元年"},   {at(2019, 12, 31), "%Eg%Ey", "R01"},
      {at(2020, 1, 1), "%EY", "令和02年"},   {at(2019, 4, 30), "%Eg%Ey", "H31"},
      {at(1989, 1, 7), "%EC%Ey", "昭和64"},  {at(1989, 1, 8), "%EY", "平成元年"},
      {at(1873, 1, 1), "%EC%.1Ey", "明治6"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ftime(r.get(), c.format, c.time), to_sjis(c.expected)) << c.format;
  EXPECT_EQ(ftime(r.get(), "%EC", at(1872, 12, 31)), "error 9");
  gl_free_registry_cache();
}

TEST(TimeShipped, AFormatThatIsNoMultibyteTextGivesMinusOne) {
  glstest::TableGetenv env;
  lcotest::LocalePtr r = numtest::shipped(env, "en_us/e01c.lco");
  gl_time_rec t = at(2005, 3, 6);
  unsigned char out[32] = "x";
  EXPECT_EQ(gl_mbsftime(r.get(), out, sizeof out, U("%Y \xff"), &t), -1);
  EXPECT_EQ(out[0], 'x');
  EXPECT_EQ(gl_mbsftime(r.get(), out, sizeof out, U("%Y \xc3\xa9"), &t), 7);
  gl_free_registry_cache();
}

/* ---- Size-only mode ------------------------------------------------------ */

TEST_F(TimeFormatting, ExpansionRefusesOtherModes) {
  EXPECT_EQ(gl_mbsfmtexpand(loc.get(), 2, U("%c")), -1);
  EXPECT_EQ(gl_mbsfmtexpand(loc.get(), 1, U("%Y-%m-%d")), 10);
  EXPECT_EQ(gl_mbsfmtexpand(loc.get(), 1, U("%B")), 7);
  EXPECT_EQ(gl_mbsfmtexpand(loc.get(), 1, U("%12B")), 12);
  /* A measure no int can hold is refused, not wrapped. */
  loc->error = 0;
  EXPECT_EQ(gl_mbsfmtexpand(loc.get(), 1, U("%2000000000B%2000000000d")), -1);
  EXPECT_EQ(loc->error, GL_E2BIG);
  std::vector<gl_wchar> w = numtest::W("%T %j");
  EXPECT_EQ(gl_wcsfmtexpand(loc.get(), 1, w.data()), 12);
  int chars = 0;
  alt_tm zero {};
  EXPECT_EQ(gl_mbsftime1(loc.get(), nullptr, 0, U("%a%%"), &zero, &chars, nullptr), 0);
  EXPECT_EQ(chars, 4);
}

/* Random valid times within 1900-2099. */
gl_time_rec random_time(std::mt19937 &rng) {
  std::uniform_int_distribution<int> year(1900, 2099), month(1, 12), day(1, 28), hour(0, 23),
      minute(0, 59), fraction(0, 999999);
  return at(year(rng), month(rng), day(rng), hour(rng), minute(rng), minute(rng), fraction(rng));
}

const char *const shipped_files[] = {"en_us/0333.lco", "en_us/e01c.lco", "de_de/0333.lco",
                                     "fr_ca/0333.lco", "ja_jp/e006.lco", "ja_jp/e007.lco",
                                     "th_th/e01d.lco", "he_il/0394.lco", "ar_sa/0441.lco"};

TEST(TimeExpansion, SizesBoundTheTextOfEveryShippedLocale) {
  std::mt19937 rng(13);
  const char *extra[] = {"%a %A %b %B %p", "%D %R %T %j %u", "%EC%Ey %EY",
                         "%Od %OH:%OM",    "%iF %F %Y %C",   "%Ec %Ex %EX"};
  for (const char *file : shipped_files) {
    if (!std::filesystem::exists(std::string(GLS_SOURCE_DATA) + "/lc11/" + file)) continue;
    glstest::TableGetenv env;
    lcotest::LocalePtr r = numtest::shipped(env, file);
    std::vector<std::string> formats(std::begin(extra), std::end(extra));
    for (int item : {0, 61, 62, 63, 67, 68, 69})
      if (*gl_get_ltime_fmts(r.get(), item) != 0)
        formats.emplace_back(gl_get_ltime_fmts(r.get(), item));
    for (const std::string &format : formats) {
      int bound = gl_mbsfmtexpand(r.get(), 1, U(format));
      ASSERT_GT(bound, 0) << file << " " << format;
      for (int i = 0; i < 200; ++i) {
        gl_time_rec t = random_time(rng);
        unsigned char out[512];
        int n = gl_mbsftime(r.get(), out, sizeof out, U(format), &t);
        EXPECT_LE(n, bound) << file << " " << format;
      }
    }
    gl_free_registry_cache();
  }
}

/* ---- The C library as an oracle ------------------------------------------ */

struct Peer {
  const char *file;
  const char *source;
  const char *charmap;
};

/* Whether every directive of format is one whose meaning agrees. */
bool agreeing(const std::string &format, bool full_year_ok) {
  const std::string same = "aAbBhdeHIjmMSpDnt%y";
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 >= format.size()) return false;
    char c = format[++i];
    if (same.find(c) == std::string::npos && !(c == 'Y' && full_year_ok)) return false;
  }
  return true;
}

TEST(TimeOracle, AgreesWithStrftimeOnSharedDirectives) {
  const Peer peers[] = {{"en_us/0333.lco", "en_US", "ISO-8859-1"},
                        {"de_de/0333.lco", "de_DE", "ISO-8859-1"},
                        {"fr_ca/0333.lco", "fr_CA", "ISO-8859-1"},
                        {"en_us/e01c.lco", "en_US", "UTF-8"},
                        {"ja_jp/e006.lco", "ja_JP", "SHIFT_JIS"}};
  const char *directives[] = {"%a", "%A", "%b", "%B", "%h", "%d", "%e", "%H",
                              "%I", "%j", "%m", "%M", "%S", "%p", "%D", "%n",
                              "%t", "%%", "%Y", "%y", "%c", "%x", "%X", "%a %d %B %Y %H:%M:%S %p"};
  std::mt19937 rng(42);
  for (const Peer &p : peers) {
    glstest::TableGetenv env;
    lcotest::LocalePtr r = numtest::shipped(env, p.file);
    locale_t peer = glstest::peer_locale(p.source, p.charmap);
    ASSERT_NE(peer, nullptr);
    for (int i = 0; i < 300; ++i) {
      std::uniform_int_distribution<int> year(1000, 9999), month(1, 12), day(1, 28), hour(0, 23),
          minute(0, 59);
      gl_time_rec t = at(year(rng), month(rng), day(rng), hour(rng), minute(rng), minute(rng));
      struct tm c {};
      c.tm_sec = t.tm_sec;
      c.tm_min = t.tm_min;
      c.tm_hour = t.tm_hour;
      c.tm_mday = t.tm_mday;
      c.tm_mon = t.tm_mon;
      c.tm_year = t.tm_year;
      c.tm_wday = t.tm_wday;
      c.tm_yday = t.tm_yday;
      for (const char *d : directives) {
        /* %c, %x and %X are checked through the locale file's own formats
        ** (the C library's may differ) when those use only agreeing
        ** directives. */
        std::string peer_format = d;
        if (peer_format == "%c" || peer_format == "%x" || peer_format == "%X") {
          int item = peer_format == "%c" ? 0 : peer_format == "%x" ? 61 : 62;
          peer_format = gl_get_ltime_fmts(r.get(), item);
          if (!agreeing(peer_format, true)) continue;
        }
        char expected[256];
        std::size_t n = strftime_l(expected, sizeof expected, peer_format.c_str(), &c, peer);
        /* An empty text (de_DE has no am/pm strings) is 0 on both sides. */
        std::string want = n == 0 ? "error 0" : std::string(expected, n);
        EXPECT_EQ(ftime(r.get(), d, t), want) << p.file << " " << d;
      }
    }
    gl_free_registry_cache();
  }
}

}  // namespace
