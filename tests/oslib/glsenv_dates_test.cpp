/*
** Date formats and name caches of a locale environment: DBDATE translated
** into locale-library formats (each of day, month and year exactly once),
** the choice between DBDATE, GL_DATE and the locale, the lower-cased month
** and era names, and the DATETIME format table filled from the value
** library's formats when USE_DTENV is in effect.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gl_locale.h"
#include "glsenv_fixture.h"
#include "os_datetime.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"

namespace {

using glsenv_test::GlsEnvTest;

new_gls_env *state() { return CheckGlsEnv()->state; }

TEST(DbdateTranslation, GivesTheFormatFieldOrderAndEraKind) {
  struct row {
    const char *dbdate;
    int rc;
    const char *format;
    int32_t era_kind;
    int32_t order[3];
  };
  const row rows[] = {
      {"MDY4", 0, "%m/%d/%iY", 0, {2, 1, 3}},
      {"DMY4-", 0, "%d-%m-%iY", 0, {1, 2, 3}},
      {"Y2MD0", 0, "%iy%m%d", 0, {3, 2, 1}},
      {"dmyy.", 0, "%d.%m.%iy", 0, {1, 2, 3}},
      {"MDY4,", 0, "%m,%d,%iY", 0, {2, 1, 3}},
      {"GY4MD/", 0, "%Eg%04.4Ey/%m/%d", 3, {3, 2, 1}},
      {"EYMD", 0, "%EC%02.2Ey/%m/%d", 3, {3, 2, 1}},
      {"NY2DM-", 0, "%Eg%02.2Ey-%d-%m", 1, {3, 1, 2}},
      {"MDY4/C1", 0, "%m/%d/%Eg%04.4Ey", 2, {2, 1, 3}},
      {"MDY4/C2", 0, "%m/%d/%EC%04.4Ey", 2, {2, 1, 3}},
      {"DMY2J1", 0, "%d/%m/%Eg%02.2Ey", 1, {1, 2, 3}},
      {"DMY2-J2", 0, "%d-%m-%EC%02.2Ey", 1, {1, 2, 3}},
      {"MDX4", gls_err_bad_dbdate, nullptr, 0, {}},
      {"MD", gls_err_bad_dbdate, nullptr, 0, {}},
      {"MMY4", gls_err_bad_dbdate, nullptr, 0, {}},
      {"DDMY4", gls_err_bad_dbdate, nullptr, 0, {}},
      {"MDY", gls_err_bad_dbdate, nullptr, 0, {}},
      {"MDY3", gls_err_bad_dbdate, nullptr, 0, {}},
      {"EMDY4", gls_err_bad_dbdate, nullptr, 0, {}},
      {"M1DY4", gls_err_bad_dbdate, nullptr, 0, {}},
      {"MDY4/X1", gls_err_bad_dbdate, nullptr, 0, {}},
      {"MDY4/C3", gls_err_bad_dbdate, nullptr, 0, {}},
      {"", gls_err_bad_dbdate, nullptr, 0, {}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.dbdate);
    char *format = nullptr;
    int32_t era = -1;
    int32_t order[3] = {};
    ASSERT_EQ(dbdate_to_gl_date(r.dbdate, &format, &era, order, nullptr), r.rc);
    if (r.rc != 0) {
      EXPECT_EQ(format, nullptr);
      continue;
    }
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format, r.format);
    EXPECT_EQ(era, r.era_kind);
    EXPECT_EQ(std::vector<int32_t>(order, order + 3), std::vector<int32_t>(r.order, r.order + 3));
    std::free(format);

    char buffer[19];
    ASSERT_EQ(dbdate_to_gl_date(r.dbdate, &format, &era, order, buffer), 0);
    EXPECT_EQ(format, buffer) << "written into the caller's buffer";
    EXPECT_STREQ(buffer, r.format);
  }
  char *format = nullptr;
  int32_t era = 0;
  int32_t order[3];
  EXPECT_EQ(dbdate_to_gl_date(nullptr, &format, &era, order, nullptr), gls_err_date_argument);
  EXPECT_EQ(dbdate_to_gl_date("MDY4", nullptr, &era, order, nullptr), gls_err_date_argument);
  EXPECT_EQ(dbdate_to_gl_date("MDY4", &format, nullptr, order, nullptr), gls_err_date_argument);
}

TEST_F(GlsEnvTest, DefaultDateFormatIsMonthDayYear) {
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  EXPECT_STREQ(st->date_format, "%m/%d/%iY");
  EXPECT_EQ(st->date_format_present, 0);
  EXPECT_EQ(std::vector<int32_t>(st->field_order, st->field_order + 3),
            (std::vector<int32_t> {2, 1, 3}));
  EXPECT_EQ(st->era_kind, 0);
  EXPECT_EQ(st->dbdate_style, 1);
  EXPECT_EQ(st->gregorian, 1);
}

TEST_F(GlsEnvTest, DbdateWinsOverGlDate) {
  setenv("DBDATE", "DMY4-", 1);
  setenv("GL_DATE", "%Y %m %d", 1);
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  EXPECT_STREQ(st->date_format, "%d-%m-%iY");
  EXPECT_EQ(st->date_format_present, 1);
  EXPECT_EQ(st->dbdate_style, 1);
  EXPECT_STREQ(st->vars[gls_var_dbdate], "DMY4-");
  EXPECT_EQ(st->vars[gls_var_gl_date], nullptr);
}

TEST_F(GlsEnvTest, InvalidDbdateFailsWithoutConsultingGlDate) {
  setenv("DBDATE", "MDX4", 1);
  setenv("GL_DATE", "%Y %m %d", 1);
  EXPECT_EQ(chkglsinit(), gls_err_bad_dbdate);
  EXPECT_EQ(state()->vars[gls_var_gl_date], nullptr);
  EXPECT_EQ(state()->date_format, nullptr);
}

TEST_F(GlsEnvTest, GlDateIsTakenAsItStands) {
  setenv("GL_DATE", "%Y %m %d", 1);
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  EXPECT_STREQ(st->date_format, "%Y %m %d");
  EXPECT_EQ(st->date_format_present, 1);
  EXPECT_EQ(st->dbdate_style, 0);
  EXPECT_STREQ(st->vars[gls_var_gl_date], "%Y %m %d");

  char buffer[GLS_DATE_FORMAT_SIZE];
  EXPECT_EQ(nogetenv_getglsfmt(nullptr, "%d.%m.%Y", buffer, 1), 0);
  EXPECT_STREQ(buffer, "%d.%m.%Y");
  EXPECT_STREQ(st->date_format, "%Y %m %d") << "a buffer leaves the state's format alone";
  const std::string too_long(GLS_DATE_FORMAT_SIZE, '%');
  EXPECT_EQ(nogetenv_getglsfmt(nullptr, too_long.c_str(), buffer, 1), gls_err_date_memory);
}

TEST_F(GlsEnvTest, LocaleOutsideEnglishGivesItsOwnDateFormat) {
  setenv("CLIENT_LOCALE", "fr_CA.8859-1", 1);
  ASSERT_EQ(chkglsinit(), 0);
  gls_env *env = CheckGlsEnv();
  const char *own = gl_nl_langinfo(env->locale, GL_D_FMT);
  ASSERT_NE(own, nullptr);
  ASSERT_STRNE(own, "");
  EXPECT_STREQ(env->state->date_format, own);
  EXPECT_EQ(env->state->dbdate_style, 0);
}

/* The strings of the blocks of a name cache, newest block first. */
std::vector<std::vector<std::string>> blocks_of(gls_name_block *head) {
  std::vector<std::vector<std::string>> out;
  for (gls_name_block *b = head; b != nullptr; b = b->next) {
    char **strings = gls_name_block_strings(b);
    out.emplace_back(strings, strings + b->count);
  }
  return out;
}

TEST_F(GlsEnvTest, MonthNamesAreCachedLowerCasedAfterTheEnglishOnes) {
  setenv("CLIENT_LOCALE", "fr_CA.8859-1", 1);
  ASSERT_EQ(chkglsinit(), 0);
  new_gls_env *st = state();
  gl_locale *loc = CheckGlsEnv()->locale;
  const auto full = blocks_of(st->mon_cache);
  ASSERT_EQ(full.size(), 2u);
  EXPECT_EQ(full[0].front(), "january");
  EXPECT_EQ(full[0].back(), "december");
  ASSERT_EQ(full[1].size(), 12u);
  const auto abbreviated = blocks_of(st->abmon_cache);
  ASSERT_EQ(abbreviated.size(), 2u);
  EXPECT_EQ(abbreviated[0][4], "may");
  for (int m = 0; m < 12; ++m) {
    std::string expected = gl_nl_langinfo(loc, GL_MON_1 + m);
    for (char &c : expected)
      c = static_cast<char>(loc->lower_map[static_cast<unsigned char>(c)]);
    EXPECT_EQ(full[1][m], expected) << m;
  }
}

TEST_F(GlsEnvTest, LowerCasingFollowsTheLocalesCodeSet) {
  struct row {
    const char *locale;
    const char *text;
    const char *lower;
  };
  const row rows[] = {
      {"en_US.8859-1", "ABC\xC9t\xC0", "abc\xE9t\xE0"},
      {"en_US.utf8", "\xC3\x89T\xC3\x80Z", "\xC3\xA9t\xC3\xA0z"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.locale);
    gl_locale *loc = nullptr;
    int32_t sources[gls_cat_count];
    ASSERT_EQ(chkglsinit(), 0);
    ASSERT_EQ(get_locale(&loc, r.locale, sources), 0);
    gl_locale *saved = CheckGlsEnv()->locale;
    CheckGlsEnv()->locale = loc;
    std::string original = r.text;
    char *text = original.data();
    ASSERT_EQ(downcase_gls_string(&text), 0);
    EXPECT_NE(text, original.data()) << "a new copy";
    EXPECT_STREQ(text, r.lower);
    EXPECT_EQ(original, r.text) << "the original is left alone";
    std::free(text);
    CheckGlsEnv()->locale = saved;
    gl_lc_unload(loc);
  }
}

TEST_F(GlsEnvTest, NameCacheBlocksAreOneAllocationNewestFirst) {
  gls_name_block *head = nullptr;
  const char *first[] = {"a", "bc"};
  const char *second[] = {"def"};
  ASSERT_EQ(cache_locale_string(&head, const_cast<char **>(first), 2), 0);
  ASSERT_EQ(cache_locale_string(&head, const_cast<char **>(second), 1), 0);
  EXPECT_EQ(blocks_of(head), (std::vector<std::vector<std::string>> {{"def"}, {"a", "bc"}}));
  free_locale_string(&head);
  EXPECT_EQ(head, nullptr);
}

/* USE_DTENV as the value library reads it: set (or unset) and not yet
** read in this process. */
void use_dtenv(bool on) {
  if (on) {
    setenv("USE_DTENV", "1", 1);
  } else {
    unsetenv("USE_DTENV");
  }
  gen_tcb *tcb = CheckGenInit();
  ASSERT_NE(tcb, nullptr);
  tcb->flags &= ~(gen_flag_dtenv_read | gen_flag_dtenv_on);
}

/* Every entry of the DATETIME format table is empty. */
void expect_empty_table(gls_env *env) {
  for (auto &row : env->dtime_formats)
    for (char *entry : row)
      EXPECT_EQ(entry, nullptr);
}

TEST_F(GlsEnvTest, DatetimeTableStaysEmptyWithoutUseDtenv) {
  use_dtenv(false);
  ASSERT_EQ(chkglsinit(), 0);
  gls_env *env = CheckGlsEnv();
  expect_empty_table(env);
  EXPECT_EQ(cache_dtimequals(7), 7);
  expect_empty_table(env);
}

/* Rows and columns of the table: YEAR to SECOND at 0-5, FRACTION(1) to
** FRACTION(5) at 6-10. An entry is filled for a start from YEAR to SECOND
** with each end from it on, and for each FRACTION(n) with itself. */
TEST_F(GlsEnvTest, DatetimeTableHoldsTheValueLibrarysFormatOfEachQualifier) {
  struct row {
    const char *gl_datetime; /* nullptr: the default format */
    int start;
    int end;
    const char *format;
  };
  /* The default is the locale's date and time ("%a %d %b %Y %I:%M:%S %p"
  ** in en_US), which has no fraction. */
  const row rows[] = {
      {nullptr, 0, 1, "%b %Y "},
      {nullptr, 0, 5, "%a %d %b %Y %I:%M:%S%p"},
      {nullptr, 3, 5, "%I:%M:%S%p"},
      {nullptr, 0, 10, "%a %d %b %Y %I:%M:%S %p"},
      {nullptr, 6, 6, ""},
      {"%d.%m.%iY %H.%M", 0, 2, "%02d.%02m.%iY "},
      {"%d.%m.%iY %H.%M", 3, 4, "%02H.%02M"},
      {"%iY-%m-%d %H:%M:%S.%F3", 5, 8, "%02S.%F3"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(testing::Message() << (r.gl_datetime ? r.gl_datetime : "default") << " ["
                                    << r.start << "][" << r.end << "]");
    if (r.gl_datetime != nullptr) {
      setenv("GL_DATETIME", r.gl_datetime, 1);
    } else {
      unsetenv("GL_DATETIME");
    }
    use_dtenv(true);
    ASSERT_EQ(chkglsinit(), 0);
    gls_env *env = CheckGlsEnv();
    EXPECT_EQ(cache_dtimequals(7), 7);
    ASSERT_NE(env->dtime_formats[r.start][r.end], nullptr);
    EXPECT_STREQ(env->dtime_formats[r.start][r.end], r.format);
  }

  gls_env *env = CheckGlsEnv();
  char *format = nullptr;
  ASSERT_EQ(getdatetimefmt(&format), 0);
  for (int start = 0; start <= 10; ++start) {
    for (int end = 0; end <= 10; ++end) {
      SCOPED_TRACE(testing::Message() << "[" << start << "][" << end << "]");
      const bool filled = start <= 5 ? end >= start : end == start;
      const char *entry = env->dtime_formats[start][end];
      if (!filled) {
        EXPECT_EQ(entry, nullptr);
        continue;
      }
      /* The qualifier: the first field at its natural width (4 digits for
      ** YEAR, 2 otherwise). */
      const int first = start <= 5 ? 2 * start : start + 5;
      const int last = end <= 5 ? 2 * end : end + 5;
      const int digits = last - first + (first == 0 ? 4 : 2);
      char *expected = qualtofmt((digits << 8) | (first << 4) | last, format);
      ASSERT_NE(expected, nullptr);
      ASSERT_NE(entry, nullptr);
      EXPECT_STREQ(entry, expected);
      std::free(expected);
    }
  }
  std::free(format);
  init_dtimequals();
  expect_empty_table(env);
}

}  // namespace
