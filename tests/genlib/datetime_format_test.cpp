/*
** Formatted DATETIME text under en_us with DBTIME and GL_DATETIME unset:
** the format in force (with a toy locale that lacks a date-and-time
** format), the normalisation of DBTIME-style formats, the qualifier of a
** format and the format of a qualifier (long and bare-%F formats under
** ASan), parsing and writing through a format, the error map of the
** DATETIME functions and the display width of a DATETIME.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dtformat_internal.h"
#include "gen_datetime.h"
#include "gen_dectext.h"
#include "gen_dtformat.h"
#include "gl_errors.h"
#include "gl_locale.h"
#include "gl_numbers.h"
#include "gl_time.h"
#include "lco_builder.h"
#include "locale_env.h"
#include "os_glsenv.h"

namespace {

constexpr int year_to_second = TU_ENCODE(14, TU_YEAR, TU_SECOND);
constexpr int year_to_minute = TU_ENCODE(12, TU_YEAR, TU_MINUTE);
constexpr int month_to_day = TU_ENCODE(4, TU_MONTH, TU_DAY);
constexpr int day_to_second = TU_ENCODE(8, TU_DAY, TU_SECOND);
constexpr int hour_to_second = TU_ENCODE(6, TU_HOUR, TU_SECOND);

/* An allocated C string as a std::string ("(null)" for NULL), freed. */
std::string take(char *text) {
  if (text == nullptr) return "(null)";
  std::string copy(text);
  std::free(text);
  return copy;
}

/* A DATETIME of qualifier read from fixed-layout text. */
dtime_t datetime(int qualifier, const char *text) {
  dtime_t value {};
  value.dt_qual = static_cast<uint16_t>(qualifier);
  EXPECT_EQ(dtcvasc(text, &value), 0) << text;
  return value;
}

/* A DATETIME in the fixed layout. */
std::string fixed_text(const dtime_t &value) {
  char buffer[81] = {};
  EXPECT_EQ(dttoasc(&value, buffer), 0);
  return buffer;
}

class DatetimeFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(std::getenv("DBTIME"), nullptr);
    ASSERT_EQ(std::getenv("GL_DATETIME"), nullptr);
    ASSERT_EQ(chkglsinit(), 0);
  }
};

/* ---- The format in force ------------------------------------------------------------ */

TEST_F(DatetimeFormat, LocaleWithoutDateTimeFormatGivesTheDefault) {
  lcotest::ToyTimes toys;
  lcotest::TimeToy time;
  time.d_t_fmt = "";
  lcotest::LocalePtr toy = toys.make(time);
  oslib_test::CurrentLocale current(toy.get());
  char *format = nullptr;
  ASSERT_EQ(getdatetimefmt(&format), 0);
  EXPECT_STREQ(format, "%iY-%m-%d %H:%M:%S");
  EXPECT_EQ(getfmtqual(format), 0x0E0A);
  std::free(format);
}

TEST_F(DatetimeFormat, LocaleFormatIsTakenAsItIs) {
  const char *own = gl_nl_langinfo(CheckGlsEnv()->locale, GL_D_T_FMT);
  ASSERT_NE(own, nullptr);
  char *format = nullptr;
  ASSERT_EQ(getdatetimefmt(&format), 0);
  EXPECT_EQ(take(format), own);
}

TEST_F(DatetimeFormat, CallerFormatComesFirstAndIsNormalised) {
  char *format = strdup("%H:%M");
  ASSERT_EQ(validateglsfmt(&format, 1, 1), 0);
  EXPECT_EQ(take(format), "%02H:%02M");
}

TEST_F(DatetimeFormat, DisplayWidthIsTheLargestExpansionOfTheFormatInForce) {
  char *format = nullptr;
  ASSERT_EQ(getdatetimefmt(&format), 0);
  const int largest =
      gl_mbsfmtexpand(CheckGlsEnv()->locale, 1, reinterpret_cast<unsigned char *>(format));
  std::free(format);
  EXPECT_GT(largest, 0);
  EXPECT_EQ(_dtimedigits(), largest);
}

/* ---- Normalising DBTIME-style formats ------------------------------------------------ */

TEST_F(DatetimeFormat, NormalisesDbtimeFormats) {
  struct Case {
    const char *source;
    const char *output; /* formatting */
    const char *input; /* parsing */
    int era_kind;
  };
  const Case cases[] = {
      {"%Y-%m-%d %H:%M:%S", "%04Y-%02m-%02d %02H:%02M:%02S", "%04Y-%02m-%02d %02H:%02M:%02S", 0},
      {"%I%R%T%y %p", "%02I%02R%02T%02y %p", "%02I%02R%02T%02y %p", 0},
      {"%5d|%-3m|%-e", "%5d|%-3m|%-e", "%5d|%-3m|%-e", 0},
      {"%.3H %4.2M", "%02.3H %4.2M", "%3H %4M", 0},
      {"%S.%F", "%02S.%F2", "%02S.%iF2", 0},
      {"%F3 %3F %iF %.4F", "%F3 %3F %iF %.4F", "%iF3 %3iF %iF %4iF", 0},
      {"%iY %Ey %OH", "%iY %Ey %OH", "%iY %Ey %OH", 0},
      {"100%% %H", "100%% %02H", "100%% %02H", 0},
      {"%Y/%m/%d %HC1", "%Eg%04.4Ey/%m/%d %H", "%Eg%Ey/%m/%d %H", 2},
      {"%y.%mj1", "%Eg%02.2Ey.%m", "%Eg%Ey.%m", 1},
      {"%Y %yJ2", "%EC%04.4Ey %EC%02.2Ey", "%EC%Ey %EC%Ey", 1},
      {"", "", "", 0},
  };
  for (const Case &c : cases) {
    for (int output : {1, 0}) {
      char *out = nullptr;
      int era = -1;
      ASSERT_EQ(dbtime_to_gl_date(c.source, output, &out, &era, 1), 0) << c.source;
      EXPECT_EQ(take(out), output ? c.output : c.input) << c.source;
      EXPECT_EQ(era, c.era_kind) << c.source;
    }
  }
}

TEST_F(DatetimeFormat, RejectsMalformedDbtimeFormats) {
  struct Case {
    const char *source;
    int error;
  };
  const Case cases[] = {
      {"%H:%M%", -1276}, {"%", -1276},   {"%-", -1275},    {"%5", -1275},
      {"%.2", -1275},    {"%3:", -1275}, {"%-.%H", -1275}, {"%:", -1276},
  };
  for (const Case &c : cases) {
    char *out = nullptr;
    int era = 0;
    EXPECT_EQ(dbtime_to_gl_date(c.source, 1, &out, &era, 1), c.error) << c.source;
    EXPECT_EQ(out, nullptr) << c.source;
  }
  char *out = nullptr;
  int era = 0;
  EXPECT_EQ(dbtime_to_gl_date(nullptr, 1, &out, &era, 1), -1272);
  EXPECT_EQ(dbtime_to_gl_date("%H", 1, nullptr, &era, 1), -1272);
  EXPECT_EQ(dbtime_to_gl_date("%H", 1, &out, nullptr, 1), -1272);
}

/* ---- Directives ---------------------------------------------------------------------- */

TEST_F(DatetimeFormat, SplitsWidthAndPrecision) {
  struct Case {
    const char *after_percent;
    const char *fw_prec;
    int letter_offset;
    int prec;
  };
  const Case cases[] = {
      {"H", "", 0, -1},     {"-5d", "-5", 2, 5},      {"04.4Ey", "04.4", 4, 4}, {".3F", ".3", 2, 3},
      {"12F", "12", 2, -1}, {"3.12S", "3.12", 4, -1}, {"-.M", "-.", 2, -1},     {"7", "7", 1, 7},
  };
  for (const Case &c : cases) {
    char buffer[DT_FW_PREC_SIZE];
    const char *letter = get_fw_prec(c.after_percent, buffer);
    EXPECT_EQ(letter, c.after_percent + c.letter_offset) << c.after_percent;
    EXPECT_STREQ(buffer, c.fw_prec) << c.after_percent;
    EXPECT_EQ(get_prec(buffer), c.prec) << c.after_percent;
  }
  char buffer[DT_FW_PREC_SIZE];
  EXPECT_EQ(get_fw_prec("1234567890.1234567H", buffer), nullptr);
  EXPECT_STREQ(buffer, "");
}

TEST_F(DatetimeFormat, QualifierOfAFormat) {
  struct Case {
    const char *format;
    int qualifier;
  };
  const Case cases[] = {
      {"%H:%M", 0x0468},
      {"%m/%d", month_to_day},
      {"no directives", 0},
      {"%%H %%d", 0},
      {"%F7", -1275},
      {"%S.%F0", -1275},
      {"%iY-%m-%d %H:%M:%S", year_to_second},
      {"%S.%F3", TU_ENCODE(5, TU_SECOND, TU_F3)},
      {"%F", TU_ENCODE(2, TU_FRAC, TU_F2)},
      {"%3F", TU_ENCODE(3, TU_FRAC, TU_F3)},
      {"%-1.4F", TU_ENCODE(4, TU_FRAC, TU_F4)},
      {"%12F", TU_ENCODE(2, TU_FRAC, TU_F2)},
      {"%iF1", TU_ENCODE(1, TU_FRAC, TU_F1)},
      {"%Y %F1", TU_ENCODE(15, TU_YEAR, TU_F1)},
      {"%T", hour_to_second},
      {"%R", TU_ENCODE(4, TU_HOUR, TU_MINUTE)},
      {"%D", TU_ENCODE(8, TU_YEAR, TU_DAY)},
      {"%a %p", TU_ENCODE(10, TU_YEAR, TU_HOUR)},
      {"%b %e", month_to_day},
      {"%OM:%OS", TU_ENCODE(4, TU_MINUTE, TU_SECOND)},
      {"%Ey", TU_ENCODE(4, TU_YEAR, TU_YEAR)},
      {"%c", TU_ENCODE(16, TU_YEAR, TU_F2)},
      {"%EC", TU_ENCODE(16, TU_YEAR, TU_F2)},
      {"%j %S", TU_ENCODE(16, TU_YEAR, TU_F2)},
      {"%Z %g %H", TU_ENCODE(2, TU_HOUR, TU_HOUR)},
  };
  for (const Case &c : cases)
    EXPECT_EQ(getfmtqual(c.format), c.qualifier) << c.format;
}

/* ---- The format of a qualifier ------------------------------------------------------- */

TEST_F(DatetimeFormat, FormatOfAQualifier) {
  struct Case {
    const char *format;
    int qualifier;
    const char *result;
  };
  const Case cases[] = {
      {DT_DEFAULT_FORMAT, month_to_day, "%m-%d"},
      {DT_DEFAULT_FORMAT, hour_to_second, "%H:%M:%S"},
      {DT_DEFAULT_FORMAT, year_to_second, DT_DEFAULT_FORMAT},
      {DT_DEFAULT_FORMAT, TU_ENCODE(4, TU_YEAR, TU_YEAR), "%iY"},
      {DT_DEFAULT_FORMAT, TU_ENCODE(4, TU_DAY, TU_HOUR), "%d %H"},
      {DT_DEFAULT_FORMAT, TU_ENCODE(9, TU_HOUR, TU_F3), "%H:%M:%S"},
      {"%Y-%m-%d %H:%M:%S.%F5", TU_ENCODE(17, TU_YEAR, TU_F3), "%Y-%m-%d %H:%M:%S.%F3"},
      {"%H:%M:%S.%F", TU_ENCODE(5, TU_SECOND, TU_F5), "%S.%F3"},
      {"%H:%M:%S.%F1", TU_ENCODE(7, TU_SECOND, TU_F5), "%S.%F1"},
      {"%H:%M:%S.%F4", TU_ENCODE(2, TU_FRAC, TU_F2), "%F2"},
      {"%D %T", TU_ENCODE(4, TU_HOUR, TU_MINUTE), "%H:%M"},
      {"%D %T", TU_ENCODE(8, TU_YEAR, TU_DAY), "%m/%d/%y "},
      {"%-2R", TU_ENCODE(4, TU_HOUR, TU_MINUTE), "%-2H:%-2M"},
      {"%a %d %b %Y %H:%M:%S", year_to_second, "%a %d %b %Y %H:%M:%S"},
      {"%a %d %b %Y %H:%M:%S", month_to_day, "%d %b "},
      {"at %04.4H h %OM%%", TU_ENCODE(4, TU_HOUR, TU_MINUTE), "%04.4H %OM%%"},
      {"%Eg%04.4Ey-%m", TU_ENCODE(6, TU_YEAR, TU_MONTH), "%Eg%04.4Ey-%m"},
      {"%Z %j %H", year_to_second, "%j %H"},
  };
  for (const Case &c : cases) {
    std::string format = c.format;
    EXPECT_EQ(take(qualtofmt(c.qualifier, format.data())), c.result)
        << c.format << " " << std::hex << c.qualifier;
  }
}

/* A bare %F gains a digit and %c brings in a locale format of its own
** length: the result is sized from what is written. */
TEST_F(DatetimeFormat, FormatOfAQualifierGrowsPastItsSource) {
  std::string bare;
  std::string widened;
  for (int i = 0; i < 700; ++i) {
    bare += "%F";
    widened += "%F3";
  }
  EXPECT_EQ(take(qualtofmt(TU_ENCODE(5, TU_SECOND, TU_F5), bare.data())), widened);

  std::string long_format;
  std::string cut;
  for (int i = 0; i < 200; ++i) {
    long_format += "%Y-%m-%d %H:%M:%S.%F ";
    cut += "%H:%M:%S.%F3";
  }
  lcotest::ToyTimes toys;
  lcotest::TimeToy time;
  time.d_t_fmt = long_format;
  lcotest::LocalePtr toy = toys.make(time);
  oslib_test::CurrentLocale current(toy.get());
  std::string expanded(long_format.size() + 1, '\0');
  EXPECT_EQ(expandformat("%c", expanded.data(), static_cast<int>(expanded.size())),
            static_cast<int>(long_format.size()));
  EXPECT_STREQ(expanded.c_str(), long_format.c_str());
  const std::string result = take(qualtofmt(TU_ENCODE(9, TU_HOUR, TU_F3), nullptr));
  EXPECT_EQ(result, cut);
  EXPECT_GT(result.size(), 1024u);
}

TEST_F(DatetimeFormat, ExpandsCompositeDirectives) {
  struct Case {
    const char *format;
    const char *expanded;
  };
  gl_locale *loc = CheckGlsEnv()->locale;
  const std::string c_format = gl_get_ltime_fmts(loc, GL_D_T_FMT);
  const std::string x_format = gl_get_ltime_fmts(loc, GL_D_FMT);
  const std::string big_x_format = gl_get_ltime_fmts(loc, GL_T_FMT);
  const std::string r_format = gl_get_ltime_fmts(loc, GL_T_FMT_AMPM);
  const std::string all =
      "[" + c_format + "|" + x_format + "|" + big_x_format + "|" + r_format + "]";
  const Case cases[] = {
      {"%R %T %D", "%H:%M %H:%M:%S %m/%d/%y"},
      {"%2R|%-3.1T", "%2H:%2M|%-3.1H:%-3.1M:%-3.1S"},
      {"%%T %ET %5y", "%%T %ET %5y"},
      {"[%c|%x|%X|%r]", all.c_str()},
      {"%H%", "%H%"},
  };
  for (const Case &c : cases) {
    const int length = expandformat(c.format, nullptr, 0);
    ASSERT_EQ(length, static_cast<int>(std::strlen(c.expanded))) << c.format;
    std::vector<char> out(static_cast<size_t>(length) + 1);
    EXPECT_EQ(expandformat(c.format, out.data(), length + 1), length);
    EXPECT_STREQ(out.data(), c.expanded);
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(expandformat(c.format, small, 3), length);
    EXPECT_EQ(std::string(small, 3), std::string(c.expanded).substr(0, 2) + '\0');
    EXPECT_EQ(small[3], 'x');
  }
  EXPECT_EQ(expandformat(nullptr, nullptr, 0), -1272);
}

/* ---- Parsing and writing ---------------------------------------------------------------- */

TEST_F(DatetimeFormat, ParsesIntoTheCallersQualifier) {
  struct Case {
    const char *text;
    const char *format;
    int qualifier;
    const char *fixed; /* the value in the fixed layout */
  };
  const Case cases[] = {
      {"2024-06-01 10:20:30", DT_DEFAULT_FORMAT, year_to_minute, "2024-06-01 10:20"},
      {"2024-06-01 10:20:30", DT_DEFAULT_FORMAT, day_to_second, "01 10:20:30"},
      {"2024-06-01 10:20:30  ", DT_DEFAULT_FORMAT, year_to_second, "2024-06-01 10:20:30"},
      /* en_us's own format names the weekday: a Saturday's is written and
      ** read back. */
      {"2024-06-01 10:20:30", nullptr, year_to_second, "2024-06-01 10:20:30"},
      /* For reading, %F becomes %iF, which takes the point itself. */
      {"10:20:30.25", "%H:%M:%S%F", TU_ENCODE(9, TU_HOUR, TU_F3), "10:20:30.250"},
      {"06/01/24 07", "%D %H", TU_ENCODE(10, TU_YEAR, TU_HOUR), "2024-06-01 07"},
      {"1 Jun 2024", "%d %b %Y", TU_ENCODE(8, TU_YEAR, TU_DAY), "2024-06-01"},
      {"10:20", "%H:%M", TU_ENCODE(6, TU_HOUR, TU_SECOND), "10:20:00"},
  };
  for (const Case &c : cases) {
    dtime_t value {};
    value.dt_qual = static_cast<uint16_t>(c.qualifier);
    const char *format = c.format;
    std::string locale_text;
    if (format == nullptr) {
      /* The format in force is en_us's own: write the value with it first. */
      dtime_t source = datetime(year_to_second, c.text);
      char buffer[81];
      ASSERT_EQ(dttofmtasc(&source, buffer, 80, nullptr), 0);
      locale_text = buffer;
    }
    if (format == nullptr) {
      EXPECT_EQ(locale_text.substr(0, 3), "Sat") << locale_text;
    }
    const char *text = format == nullptr ? locale_text.c_str() : c.text;
    ASSERT_EQ(dtcvfmtasc(text, format, &value), 0) << text;
    EXPECT_EQ(value.dt_qual, c.qualifier);
    EXPECT_EQ(fixed_text(value), c.fixed) << text;
  }
}

TEST_F(DatetimeFormat, ParseErrors) {
  struct Case {
    const char *text;
    const char *format;
    int error;
  };
  const Case cases[] = {
      {"2024-06-01 10:20:30 x", DT_DEFAULT_FORMAT, -1263},
      {"", DT_DEFAULT_FORMAT, -1272},
      {nullptr, DT_DEFAULT_FORMAT, -1272},
      {"10:20", "", -1277},
      {"10:20", "%H:%M%", -1276},
      {"10:20", "%H:%M.%F7", -1275},
      {"ten past", "%H:%M", -1277},
      {"2024-13-01", "%Y-%m-%d", -1263},
      {"2024-02-30", "%Y-%m-%d", -1263},
      {"10:20", "%H:%M %Q", -1276},
      {"no units", "no units", -1263},
  };
  for (const Case &c : cases) {
    dtime_t value {};
    value.dt_qual = year_to_second;
    EXPECT_EQ(dtcvfmtasc(c.text, c.format, &value), c.error)
        << (c.text != nullptr ? c.text : "(null)") << " / " << c.format;
  }
}

TEST_F(DatetimeFormat, WritesThroughAFormat) {
  struct Case {
    int qualifier;
    const char *value;
    const char *format;
    const char *text;
  };
  const Case cases[] = {
      {year_to_second, "2024-06-01 10:20:30", DT_DEFAULT_FORMAT, "2024-06-01 10:20:30"},
      {year_to_second, "2024-06-01 10:20:30", "%d.%m.%Y", "01.06.2024"},
      {year_to_second, "2024-06-01 10:20:30", "%H%%", "10%"},
      {TU_ENCODE(17, TU_YEAR, TU_F3), "2024-06-01 10:20:30.125", "%S.%F3", "30.125"},
      {hour_to_second, "07:08:09", "%H-%M", "07-08"},
      {year_to_second, "2024-06-01 10:20:30", "no units", "no units"},
  };
  for (const Case &c : cases) {
    const dtime_t value = datetime(c.qualifier, c.value);
    char buffer[81];
    ASSERT_EQ(dttofmtasc(&value, buffer, 80, c.format), 0) << c.format;
    EXPECT_STREQ(buffer, c.text);
  }
  dtime_t null_value = datetime(year_to_second, "");
  char buffer[8] = "garbage";
  EXPECT_EQ(dttofmtasc(&null_value, buffer, 7, DT_DEFAULT_FORMAT), 0);
  EXPECT_STREQ(buffer, "");
  const dtime_t value = datetime(year_to_second, "2024-06-01 10:20:30");
  EXPECT_EQ(dttofmtasc(&value, nullptr, 80, DT_DEFAULT_FORMAT), -1273);
  EXPECT_EQ(dttofmtasc(&value, buffer, 7, "%H:%M%"), -1276);
  EXPECT_EQ(dttofmtasc(&value, buffer, 7, "%F9"), -1275);
}

/* The buffer holds size characters and the NUL; what lies after stays. */
TEST_F(DatetimeFormat, WritesAtMostSizeCharactersAndTheNul) {
  const dtime_t value = datetime(year_to_second, "2024-06-01 10:20:30");
  const std::string full = "2024-06-01 10:20:30";
  constexpr char guard = '\x5A';
  for (int n = 0; n <= 40; ++n) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1 + 16, guard);
    const int rc = dttofmtasc(&value, buffer.data(), n, DT_DEFAULT_FORMAT);
    if (n >= static_cast<int>(full.size())) {
      EXPECT_EQ(rc, 0) << n;
      EXPECT_EQ(std::string(buffer.data()), full) << n;
    } else {
      EXPECT_EQ(rc, -1273) << n;
    }
    const void *nul = std::memchr(buffer.data(), '\0', static_cast<size_t>(n) + 1);
    EXPECT_NE(nul, nullptr) << n;
    for (size_t i = static_cast<size_t>(n) + 1; i < buffer.size(); ++i)
      ASSERT_EQ(buffer[i], guard) << n << " at " << i;
  }
}

TEST_F(DatetimeFormat, CenturyRuleForOneCall) {
  gl_set_current_time(1, 6, 2024);
  struct Case {
    int century;
    const char *fixed;
  };
  const Case cases[] = {{'P', "1950-01-01"}, {'F', "2050-01-01"}, {'R', "2050-01-01"}};
  for (const Case &c : cases) {
    dtime_t value {};
    value.dt_qual = TU_ENCODE(8, TU_YEAR, TU_DAY);
    ASSERT_EQ(dvz_dtcvfmtasc("50-01-01", "%y-%m-%d", &value, c.century), 0);
    EXPECT_EQ(fixed_text(value), c.fixed) << static_cast<char>(c.century);
    char buffer[16];
    EXPECT_EQ(dvz_dttofmtasc(&value, buffer, 15, "%Y", c.century), 0);
    EXPECT_EQ(std::string(buffer), std::string(c.fixed, 4));
  }
  gl_reset_time();
}

/* ---- Errors --------------------------------------------------------------------------- */

/* The DATETIME functions' own table, written here by its rows. */
TEST_F(DatetimeFormat, LocaleErrorsMapByTheDatetimeTable) {
  struct Row {
    std::vector<int> gl_errors;
    int error;
  };
  const Row rows[] = {
      {{22, 15}, -1276},
      {{14}, -1273},
      {{3}, -1211},
      {{12}, -23108},
      {{9, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 44, 45}, -1263},
      {{33, 34, 35, 36, 37, 38, 39, 40, 41, 46}, -1277},
      {{42}, -1236},
      {{43}, -1237},
      {{47}, -1271},
      {{0, 1, 2, 4, 8, 11, 13, 48, 50, 56, 99, -1}, -1263},
  };
  for (const Row &row : rows)
    for (int gl_error : row.gl_errors)
      EXPECT_EQ(dvz_genlib::datetime_locale_error(gl_error), row.error) << gl_error;
}

/* ---- Locale-error variants --------------------------------------------------------------- */

TEST_F(DatetimeFormat, LocaleErrorVariants) {
  gl_locale *loc = CheckGlsEnv()->locale;
  dtime_t value {};
  ASSERT_EQ(dvz_gl_convert_datetime(&value, "2024-06-01 10:20", "%Y-%m-%d %H:%M"), 0);
  EXPECT_EQ(value.dt_qual, year_to_minute);
  EXPECT_EQ(fixed_text(value), "2024-06-01 10:20");
  ASSERT_EQ(dvz_gl_convert_datetime(&value, "10:20", "%H:%M"), 0);
  EXPECT_EQ(value.dt_qual, year_to_minute);
  EXPECT_EQ(fixed_text(value), "1900-01-01 10:20");
  EXPECT_EQ(dvz_gl_convert_datetime(&value, "10:20", "no units"), -1);
  EXPECT_EQ(*_gl_ext_errno(loc), GL_EDIRECTIVE);

  const dtime_t source = datetime(year_to_second, "2024-06-01 10:20:30");
  char buffer[32];
  ASSERT_EQ(dvz_gl_format_datetime(buffer, 31, &source, "%m/%d %H"), 0);
  EXPECT_STREQ(buffer, "06/01 10");
  EXPECT_EQ(dvz_gl_format_datetime(buffer, 31, &source, "none"), -1);
  EXPECT_EQ(*_gl_ext_errno(loc), GL_EDIRECTIVE);
  EXPECT_EQ(dvz_gl_format_datetime(buffer, 3, &source, "%m/%d %H"), -1);
  EXPECT_EQ(*_gl_ext_errno(loc), GL_E2BIG);
}

}  // namespace
