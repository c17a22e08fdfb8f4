/*
** The datetime services the client environment calls in the value library,
** in a process with USE_DTENV=1 under en_us: the locale environment's
** DATETIME format table holds `qualtofmt` of each entry's qualifier, and
** `dtcvasc` reads text through it; the DATETIME display width is
** `_dtimedigits`; and the value library's archive defines all five
** services itself (DVZ_GENLIB_ARCHIVE names it).
*/
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>

#include "gen_datetime.h"
#include "gen_dectext.h"
#include "gen_dtformat.h"
#include "gen_types.h"
#include "os_datetime.h"
#include "os_glsenv.h"

namespace {

constexpr int year_to_second = TU_ENCODE(14, TU_YEAR, TU_SECOND);

/* The unit code of a row or column of the format table: YEAR to SECOND
** at 0-5, FRACTION(1) to FRACTION(5) at 6-10. */
constexpr int unit_of_index(int index) { return index <= 5 ? 2 * index : index + 5; }
constexpr int index_of_unit(int unit) { return unit <= TU_SECOND ? unit / 2 : unit - 5; }

/* The DATETIME qualifier of a table entry: a first field of its natural
** width (4 digits for YEAR, 2 otherwise). */
constexpr int entry_qualifier(int row, int column) {
  const int start = unit_of_index(row);
  const int end = unit_of_index(column);
  return TU_ENCODE(end - start + (start == TU_YEAR ? 4 : 2), start, end);
}

/* Entries the environment fills: every start from YEAR to SECOND with
** each end from it on, and each FRACTION(n) start with itself. */
constexpr bool entry_filled(int row, int column) {
  return row <= 5 ? column >= row : column == row;
}

gls_env *initialised_environment() {
  EXPECT_EQ(chkglsinit(), 0);
  return CheckGlsEnv();
}

std::string text_of(const dtime_t &value) {
  char buffer[96] = {};
  EXPECT_EQ(rdtimestr(&value.dt_dec, value.dt_qual, buffer), 0);
  return buffer;
}

TEST(DatetimeBridge, SwitchIsOnInThisProcess) { ASSERT_NE(get_usedtenv(), 0); }

TEST(DatetimeBridge, EveryTableEntryIsQualtofmtOfItsQualifier) {
  gls_env *env = initialised_environment();
  for (int row = 0; row < 11; ++row) {
    for (int column = 0; column < 11; ++column) {
      const char *entry = env->dtime_formats[row][column];
      SCOPED_TRACE(testing::Message() << "entry [" << row << "][" << column << "]");
      if (!entry_filled(row, column)) {
        EXPECT_EQ(entry, nullptr);
        continue;
      }
      ASSERT_NE(entry, nullptr);
      char *expected = qualtofmt(entry_qualifier(row, column), nullptr);
      ASSERT_NE(expected, nullptr);
      EXPECT_STREQ(entry, expected);
      std::free(expected);
    }
  }
}

/* en_us's date-and-time format names every unit from YEAR to SECOND, so
** each entry that ends by SECOND covers exactly its own qualifier. */
TEST(DatetimeBridge, EntriesUpToSecondCoverTheirQualifier) {
  gls_env *env = initialised_environment();
  char *fetched = nullptr;
  ASSERT_EQ(getdatetimefmt(&fetched), 0);
  const std::unique_ptr<char, decltype(&std::free)> in_force(fetched, &std::free);
  ASSERT_NE(in_force, nullptr);
  const int covered = getfmtqual(in_force.get());
  ASSERT_EQ(TU_START(covered), TU_YEAR) << in_force.get();
  ASSERT_GE(TU_END(covered), TU_SECOND) << in_force.get();
  for (int row = 0; row <= 5; ++row) {
    for (int column = row; column <= 5; ++column) {
      const char *entry = env->dtime_formats[row][column];
      ASSERT_NE(entry, nullptr);
      EXPECT_EQ(getfmtqual(entry), entry_qualifier(row, column)) << "entry " << entry;
    }
  }
}

/* An entry as a format of the C library's strftime: the locale library's
** "i" modifier dropped (%iY writes what %Y does for years 1000-9999).
** Empty when the entry has a directive strftime does not share. */
std::string strftime_format(const char *entry) {
  std::string out;
  for (const char *p = entry; *p != '\0'; ++p) {
    out += *p;
    if (*p != '%') continue;
    if (p[1] == 'i') ++p;
    if (p[1] == '\0' || std::strchr("aAbBdemYyHIMSp%", p[1]) == nullptr) return "";
    out += *++p;
  }
  return out;
}

/* A text written by strftime in an entry's format reads back through
** dtcvasc as the moment it was written from; the fixed layout, which the
** table's formats do not accept, no longer reads. */
TEST(DatetimeBridge, DtcvascReadsThroughTheTable) {
  gls_env *env = initialised_environment();
  struct Case {
    int start, end;
    int year, month, day, hour, minute, second;
    const char *fixed_layout;
  };
  const Case cases[] = {
      {TU_YEAR, TU_SECOND, 2024, 3, 5, 19, 8, 9, "2024-03-05 19:08:09"},
      {TU_YEAR, TU_F3, 2024, 3, 5, 7, 8, 9, "2024-03-05 07:08:09.000"},
      {TU_YEAR, TU_DAY, 1999, 12, 31, 0, 0, 0, "1999-12-31"},
      {TU_MONTH, TU_DAY, 2023, 12, 25, 0, 0, 0, "12-25"},
      {TU_DAY, TU_SECOND, 2024, 2, 29, 0, 0, 1, "29 00:00:01"},
      {TU_HOUR, TU_MINUTE, 2024, 6, 1, 19, 8, 0, "19:08"},
      {TU_HOUR, TU_SECOND, 2024, 6, 1, 12, 30, 59, "12:30:59"},
  };
  for (const Case &c : cases) {
    const int qualifier = TU_ENCODE(c.end - c.start + (c.start == TU_YEAR ? 4 : 2), c.start, c.end);
    const char *entry = env->dtime_formats[index_of_unit(c.start)][index_of_unit(c.end)];
    ASSERT_NE(entry, nullptr);
    SCOPED_TRACE(testing::Message() << c.fixed_layout << " through \"" << entry << "\"");
    const std::string format = strftime_format(entry);
    ASSERT_FALSE(format.empty());

    using namespace std::chrono;
    const sys_days date {year {c.year} / c.month / c.day};
    const time_t clock =
        (date.time_since_epoch() + hours {c.hour} + minutes {c.minute} + seconds {c.second})
            .count();
    struct tm moment {};
    ASSERT_NE(gmtime_r(&clock, &moment), nullptr);
    char text[128];
    ASSERT_GT(std::strftime(text, sizeof text, format.c_str(), &moment), 0u);

    dtime_t value {};
    value.dt_qual = static_cast<uint16_t>(qualifier);
    ASSERT_EQ(dtcvasc(text, &value), 0) << text;
    EXPECT_EQ(text_of(value), c.fixed_layout) << text;

    dtime_t fixed {};
    fixed.dt_qual = static_cast<uint16_t>(qualifier);
    EXPECT_NE(dtcvasc(c.fixed_layout, &fixed), 0);
  }
}

/* Under USE_DTENV a DATETIME column is as wide as the format in force
** allows, whatever its qualifier, and what that format writes fits. */
TEST(DatetimeBridge, DatetimeWidthIsDtimedigits) {
  ASSERT_EQ(chkglsinit(), 0);
  const int width = _dtimedigits();
  EXPECT_GT(width, 0);
  for (const int qualifier : {year_to_second, TU_ENCODE(17, TU_YEAR, TU_F3),
                              TU_ENCODE(4, TU_HOUR, TU_MINUTE), TU_ENCODE(4, TU_MONTH, TU_DAY)})
    EXPECT_EQ(rtypwidth(sql_type_datetime, qualifier), width) << std::hex << qualifier;
  for (const char *moment : {"2024-09-25 12:00:00", "2024-12-31 23:59:59", "0001-01-01 00:00:00"}) {
    dtime_t value {};
    value.dt_qual = year_to_second;
    /* The fixed layout does not read under USE_DTENV: an explicit format. */
    ASSERT_EQ(dtcvfmtasc(moment, DT_DEFAULT_FORMAT, &value), 0);
    char text[96] = {};
    ASSERT_EQ(dttofmtasc(&value, text, 80, nullptr), 0);
    EXPECT_LE(static_cast<int>(std::strlen(text)), width) << text;
  }
}

/* The services are the value library's own: defined as text in its
** archive, not left to a stand-in. */
TEST(DatetimeBridge, GenlibArchiveDefinesTheFiveServices) {
  const std::string command = std::string("nm -g --defined-only '") + DVZ_GENLIB_ARCHIVE + "'";
  FILE *listing = popen(command.c_str(), "r");
  ASSERT_NE(listing, nullptr);
  std::set<std::string> text_symbols;
  char line[512];
  while (std::fgets(line, sizeof line, listing) != nullptr) {
    char address[64], type[4], name[400];
    if (std::sscanf(line, "%63s %3s %399s", address, type, name) == 3 &&
        std::strcmp(type, "T") == 0)
      text_symbols.insert(name);
  }
  ASSERT_EQ(pclose(listing), 0) << command;
  for (const char *service :
       {"get_usedtenv", "getdatetimefmt", "qualtofmt", "rdtcurrent", "dvz_localtime"})
    EXPECT_EQ(text_symbols.count(service), 1u)
        << service << " is not defined in " << DVZ_GENLIB_ARCHIVE;
}

}  // namespace
