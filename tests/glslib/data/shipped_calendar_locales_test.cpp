/*
** The shipped files whose TIME category a hand-authored overlay completes
** (glslib/gen/overlays/): he_il/0394.lco with the Hebrew calendar,
** ar_sa/0441.lco with the tabular Islamic one, and the Japanese files with
** their eras. The month names are checked where the calendar conversions
** put a date and against the time parser's shortest match; the eras
** against the C library's ja_JP, compiled at test time.
*/
#include "gl_calendar.h"
#include "gl_time.h"
#include "shipped_locales_support.h"

#include <langinfo.h>
#include <wchar.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

/* A text of a locale's code set in Unicode, through its peer. */
std::wstring unicode(locale_t peer, const char *text) {
  locale_t previous = uselocale(peer);
  std::mbstate_t state {};
  const char *p = text;
  std::wstring out(std::strlen(text) + 1, L'\0');
  const std::size_t n = mbsrtowcs(out.data(), &p, out.size(), &state);
  uselocale(previous);
  out.resize(n == static_cast<std::size_t>(-1) ? 0 : n);
  return out;
}

struct CalendarFile {
  const char *spec; /* the locale's name */
  const char *file; /* under lc11/, what the name resolves to */
  const char *source;
  const char *charmap;
  const char *calendar; /* langinfo item 73 */
  int months;
};

const CalendarFile calendar_files[] = {
    {"he_IL.8859-8", "he_il/0394.lco", "he_IL", "ISO-8859-8", "hebrew\n", 14},
    {"ar_SA.8859-6", "ar_sa/0441.lco", "ar_SA", "ISO-8859-6", "islamic\n", 12},
};

void PrintTo(const CalendarFile &f, std::ostream *out) { *out << f.file; }

class CalendarLocale : public ::testing::TestWithParam<CalendarFile> {
 protected:
  void SetUp() override {
    r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
    const std::string file = GetParam().file;
    ASSERT_EQ(lcotest::load(r.get(), GL_ALL, file.c_str()), lcotest::query_naming(file));
    ASSERT_EQ(r->error, 0);
  }
  void TearDown() override { gl_free_registry_cache(); }

  glstest::TableGetenv env;
  lcotest::LocalePtr r;
};

/* The locale's name finds the file through the shipped registry, and the
** whole locale loads with its calendar and month count. */
TEST_P(CalendarLocale, LoadsByItsNameWithItsCalendar) {
  const std::string registry = std::string(GLS_SOURCE_DATA) + "/cm3/registry";
  char name[GL_LC_FNAME_SIZE] = {};
  ASSERT_EQ(gl_lc_spec2lc_fname(r.get(), GetParam().spec, name, registry.c_str(), nullptr), 0);
  EXPECT_STREQ(name, GetParam().file);

  gl_locale *loaded = nullptr;
  const int loaded_result = gl_lc_load(&loaded, GetParam().spec, registry.c_str(), nullptr);
  lcotest::LocalePtr owner(loaded);
  ASSERT_EQ(loaded_result, 0);
  EXPECT_EQ(loaded->error, 0);
  EXPECT_STREQ(gl_nl_langinfo(loaded, GL_CALENDAR), GetParam().calendar);
  EXPECT_EQ(loaded->ltime.mon.count, GetParam().months);
  EXPECT_EQ(loaded->ltime.abmon.count, GetParam().months);
  EXPECT_NE(gl_nl_langinfo(loaded, GL_MON_1 + GetParam().months - 1), nullptr);
  EXPECT_EQ(gl_nl_langinfo(loaded, GL_MON_1 + GetParam().months), nullptr);
}

/* The parser takes the shortest name that begins the text: each name must
** find itself, whole, in its own list's tree (so none begins another, and
** none is there twice), and an abbreviation met in the full names' tree,
** which is tried first, may only find its own month. */
TEST_P(CalendarLocale, EveryMonthNameFindsItself) {
  const gl_ltime &t = r->ltime;
  const struct {
    const gl_text_list &list;
    const name_tree_node *tree;
  } lists[] = {{t.mon, t.lookup_trees[GL_TREE_MON]}, {t.abmon, t.lookup_trees[GL_TREE_ABMON]}};
  for (const auto &[list, tree] : lists) {
    for (int i = 0; i < list.count; ++i) {
      SCOPED_TRACE(list.mb[i]);
      ASSERT_GT(gl_wcslen(list.wc[i]), 0);
      int length = -1;
      int index = -1;
      ASSERT_EQ(_gl_validate_wc_string(r.get(), tree, list.wc[i], &length, &index), 0);
      EXPECT_EQ(index, i);
      EXPECT_EQ(length, gl_wcslen(list.wc[i]));
      for (int j = 0; j < list.count; ++j) {
        if (j != i) {
          EXPECT_NE(std::strncmp(list.mb[j], list.mb[i], std::strlen(list.mb[j])), 0);
        }
      }
    }
  }
  for (int i = 0; i < t.abmon.count; ++i) {
    int length = -1;
    int index = -1;
    if (_gl_validate_wc_string(r.get(), t.lookup_trees[GL_TREE_MON], t.abmon.wc[i], &length,
                               &index) == 0) {
      EXPECT_EQ(index, i) << t.abmon.mb[i];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CalendarLocale, ::testing::ValuesIn(calendar_files),
                         [](const auto &info) {
                           return std::string(info.param.source).substr(0, 2);
                         });

/* A Gregorian date and the month it falls in, by name. */
struct MonthCase {
  int day, month, year; /* Gregorian; month 1-12 */
  const wchar_t *name; /* full name */
  const wchar_t *abbreviation;
};

/* Converts each date to the locale's calendar and reads the names at its
** calendar month. */
void expect_month_names(const char *file, const char *source, const char *charmap,
                        const std::vector<MonthCase> &cases) {
  glstest::TableGetenv env;
  lcotest::LocalePtr r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
  ASSERT_EQ(lcotest::load(r.get(), GL_ALL, file), lcotest::query_naming(file));
  locale_t peer = glstest::peer_locale(source, charmap);
  ASSERT_NE(peer, nullptr);
  for (const MonthCase &c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
                 std::to_string(c.day));
    alt_tm gregorian {};
    gregorian.tm_mday = c.day;
    gregorian.tm_mon = gregorian.tm_cal_mon = c.month - 1;
    gregorian.tm_year = c.year - 1900;
    alt_tm local {};
    ASSERT_EQ(gl_cal_gregorian_to_local(r.get(), &gregorian, &local), 0);
    ASSERT_GE(local.tm_cal_mon, 0);
    ASSERT_LT(local.tm_cal_mon, r->ltime.mon.count);
    EXPECT_EQ(unicode(peer, r->ltime.mon.mb[local.tm_cal_mon]), c.name);
    EXPECT_EQ(unicode(peer, r->ltime.abmon.mb[local.tm_cal_mon]), c.abbreviation);
  }
  gl_free_registry_cache();
}

/* Months of known dates: 5784 is a leap year (Adar I and Adar II), 5783 a
** common one (Adar). */
TEST(HebrewLocale, MonthNamesFollowTheCalendarMonths) {
  expect_month_names("he_il/0394.lco", "he_IL", "ISO-8859-8",
                     {
                         {16, 9, 2023, L"תשרי", L"תשר"}, /* 1 Tishri 5784 */
                         {1, 11, 2023, L"חשוון", L"חשו"}, /* 17 Heshvan 5784 */
                         {1, 1, 2000, L"טבת", L"טבת"}, /* 23 Tevet 5760 */
                         {1, 3, 2023, L"אדר", L"אדר"}, /* Adar 5783 */
                         {15, 2, 2024, L"א' אדר", L"א' אדר"}, /* Adar I 5784 */
                         {11, 3, 2024, L"ב' אדר", L"ב' אדר"}, /* Adar II 5784 */
                         {9, 4, 2024, L"ניסן", L"ניס"}, /* 1 Nisan 5784 */
                         {1, 9, 2023, L"אלול", L"אלו"}, /* Elul 5783 */
                     });
}

TEST(IslamicLocale, MonthNamesFollowTheCalendarMonths) {
  expect_month_names("ar_sa/0441.lco", "ar_SA", "ISO-8859-6",
                     {
                         {18, 7, 622, L"محرم", L"محرم"}, /* 1 Muharram 1 */
                         {1, 1, 2000, L"رمضان", L"رمضان"}, /* 25 Ramadan 1420 */
                         {1, 1, 2024, L"جمادى الآخرة", L"جمادى الآخرة"}, /* Jumada II 1445 */
                     });
}

/* The Japanese files: nine era strings, parsed (no error 49), each with
** the JIS X 0301 letter as its second name and no date before 1873;
** langinfo item 66 joins them. The fields other than the second name are
** the C library's modern ja_JP eras (it has two more, before Meiji 6 and
** before the year 1, which are not shipped). */
class JapaneseEras : public shipped::ShippedFixture {};

std::vector<std::wstring> fields(const std::wstring &era) {
  std::vector<std::wstring> out(1);
  for (wchar_t c : era) {
    if (c == L':' && out.size() < 7) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

TEST_P(JapaneseEras, AreTheCLibrarysModernErasWithTheirLetters) {
  const gl_era_list &eras = r->ltime.eras;
  ASSERT_EQ(eras.count, 9);
  ASSERT_NE(eras.records, nullptr);
  std::vector<std::string> peer_eras;
  for (const char *e = nl_langinfo_l(ERA, peer); *e != '\0'; e += std::strlen(e) + 1)
    peer_eras.emplace_back(e);
  ASSERT_GE(peer_eras.size(), 9u);

  std::string joined;
  const wchar_t *letters[] = {L"R", L"R", L"H", L"H", L"S", L"S", L"T", L"T", L"M"};
  for (int i = 0; i < eras.count; ++i) {
    SCOPED_TRACE(i);
    joined += (i > 0 ? "\n" : "") + std::string(eras.strings[i]);
    const era_record *rec = eras.records[i];
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->direction, 1);
    EXPECT_GE(rec->start_year, 1873);
    EXPECT_EQ(unicode(peer, rec->era_name2), letters[i]);

    std::vector<std::wstring> ours = fields(unicode(peer, eras.strings[i]));
    std::vector<std::wstring> theirs = fields(unicode(peer, peer_eras[i].c_str()));
    ASSERT_EQ(ours.size(), 7u);
    ASSERT_EQ(theirs.size(), 6u);
    for (int f = 0; f < 5; ++f)
      EXPECT_EQ(ours[f], theirs[f]) << f;
    EXPECT_EQ(ours[5], letters[i]);
    EXPECT_EQ(ours[6], theirs[5]);
    EXPECT_EQ(unicode(peer, rec->era_name), ours[4]);
  }
  EXPECT_EQ(gl_nl_langinfo(r.get(), GL_ERA), joined);
  EXPECT_EQ(gl_get_era_count(r.get()), 9);
}

/* The era texts of every tenth day from 1873 to 2099, as the C library's
** strftime writes them with the same locale source: %EY, and the locale's
** era date format %Ex. */
TEST_P(JapaneseEras, FormatAsTheCLibraryDoes) {
  locale_t previous = uselocale(peer);
  int compared = 0;
  for (std::time_t day = -3060979200; day < 4102444800; day += 10 * 86400) {
    std::tm tm {};
    gmtime_r(&day, &tm);
    char theirs[128] = {};
    std::strftime(theirs, sizeof theirs, "%EY|%Ex", &tm);
    gl_time_rec t {};
    t.tm_mday = tm.tm_mday;
    t.tm_mon = tm.tm_mon;
    t.tm_year = tm.tm_year;
    t.tm_wday = tm.tm_wday;
    t.tm_yday = tm.tm_yday;
    unsigned char ours[128] = {};
    const int n = gl_mbsftime(r.get(), ours, sizeof ours,
                              reinterpret_cast<const unsigned char *>("%EY|%Ex"), &t);
    ASSERT_GT(n, 0) << theirs << " error " << r->error;
    ASSERT_STREQ(reinterpret_cast<char *>(ours), theirs);
    ++compared;
  }
  uselocale(previous);
  EXPECT_GT(compared, 8000);
}

/* The era date of every seventh day from 1873 to 2099 reads back as that
** date: the first year ("gannen") through its era's own string, a later
** year through the era of the same name that holds it. */
TEST_P(JapaneseEras, EraDatesParseBackToTheirDate) {
  const auto *format = reinterpret_cast<const unsigned char *>("%Ex");
  int compared = 0;
  for (std::time_t day = -3060979200; day < 4102444800; day += 7 * 86400) {
    std::tm tm {};
    gmtime_r(&day, &tm);
    gl_time_rec t {};
    t.tm_mday = tm.tm_mday;
    t.tm_mon = tm.tm_mon;
    t.tm_year = tm.tm_year;
    t.tm_wday = tm.tm_wday;
    t.tm_yday = tm.tm_yday;
    unsigned char text[128] = {};
    ASSERT_GT(gl_mbsftime(r.get(), text, sizeof text, format, &t), 0) << r->error;
    gl_time_rec back {};
    ASSERT_NE(gl_mbsptime(r.get(), text, format, &back, 'R'), nullptr)
        << text << " error " << r->error;
    ASSERT_EQ(back.tm_year, t.tm_year) << text;
    ASSERT_EQ(back.tm_mon, t.tm_mon) << text;
    ASSERT_EQ(back.tm_mday, t.tm_mday) << text;
    ++compared;
  }
  EXPECT_GT(compared, 11000);
}

/* A date before Meiji 6 is in no era. */
TEST_P(JapaneseEras, LeaveTheYearsBefore1873WithoutAnEra) {
  gl_time_rec t {};
  t.tm_mday = 31;
  t.tm_mon = 11;
  t.tm_year = 1872 - 1900;
  unsigned char out[64] = {};
  r->error = 0;
  EXPECT_EQ(
      gl_mbsftime(r.get(), out, sizeof out, reinterpret_cast<const unsigned char *>("%EY"), &t), 0);
  EXPECT_EQ(r->error, GL_EBADARG);
}

std::vector<shipped::Shipped> files_with_eras() {
  std::vector<shipped::Shipped> files;
  for (const shipped::Shipped &s : shipped::multibyte_files) {
    if (s.eras) files.push_back(s);
  }
  return files;
}

INSTANTIATE_TEST_SUITE_P(Files, JapaneseEras, ::testing::ValuesIn(files_with_eras()),
                         [](const auto &info) { return shipped::name_of(info.param); });

}  // namespace
