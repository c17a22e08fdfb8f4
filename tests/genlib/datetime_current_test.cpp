/*
** The current time of the value library against the C library's clock:
** `rdtcurrent` between two gettimeofday readings converted by localtime_r,
** `dvz_localtime` field for field against localtime_r (DST changes
** included), extension of a partial DATETIME from a pinned current time,
** the client environment's clock seam pinned for `rtoday` and
** `rdtcurrent`, and the DBTODAY shift of `dtcurrent`, `rtoday` and the
** locale library's current-date service.
**
** DBTODAY and TZ are read once per process, so one source serves several
** registrations (tests/genlib/CMakeLists.txt): the clock cases under
** TZ=UTC and TZ=America/New_York (DVZ_CLOCK_SUITE names their suite, so
** that the two processes' tests differ in name), DVZ_DBTODAY_PAST with
** DBTODAY set to a past moment, DVZ_DBTODAY_UNPARSABLE with DBTODAY set to
** a text that does not parse.
*/
#include <gtest/gtest.h>
#include <sys/time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "gen_date.h"
#include "gen_datetime.h"
#include "gen_dtarith.h"
#include "gl_host.h"
#include "os_datetime.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"
#include "os_seams.h"

namespace {

constexpr int year_to_second = TU_ENCODE(14, TU_YEAR, TU_SECOND); /* 0x0E0A */
constexpr int year_to_f5 = TU_ENCODE(19, TU_YEAR, TU_F5); /* 0x130F */
constexpr int hour_to_minute = TU_ENCODE(4, TU_HOUR, TU_MINUTE); /* 0x0468 */

/* The fixed-layout text of a value. */
std::string text_of(const dec_t &value, int qualifier) {
  char buffer[96] = {};
  EXPECT_EQ(rdtimestr(&value, qualifier, buffer), 0);
  return buffer;
}

/* A moment in the fixed layout, YEAR TO FRACTION(5), from the local time
** of a clock reading. */
[[maybe_unused]] std::string local_text(const timeval &reading) {
  struct tm local {};
  EXPECT_NE(localtime_r(&reading.tv_sec, &local), nullptr);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%05ld", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<long>(reading.tv_usec / 10));
  return buffer;
}

[[maybe_unused]] timeval clock_reading() {
  timeval now {};
  gettimeofday(&now, nullptr);
  return now;
}

/* Seconds of a civil moment counted as if it were UTC: differences of two
** such counts are differences of wall-clock readings. */
int64_t civil_seconds(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days date {std::chrono::year {year} / month / day};
  return (date.time_since_epoch() + hours {hour} + minutes {minute} + seconds {second}).count();
}

/* civil_seconds of a text that begins "YYYY-MM-DD HH:MM:SS". */
[[maybe_unused]] int64_t text_seconds(const std::string &text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  EXPECT_EQ(std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6) << text;
  return civil_seconds(y, mo, d, h, mi, s);
}

/* The DATE of a civil date: days since 1970-01-01 plus 25568. */
int32_t date_of(int year, int month, int day) {
  using namespace std::chrono;
  const sys_days date {std::chrono::year {year} / month / day};
  return static_cast<int32_t>(date.time_since_epoch().count() + 25568);
}

/* The DATE of the local calendar day of a clock reading. */
[[maybe_unused]] int32_t local_date(time_t clock) {
  struct tm local {};
  EXPECT_NE(localtime_r(&clock, &local), nullptr);
  return date_of(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

#if !defined(DVZ_DBTODAY_PAST) && !defined(DVZ_DBTODAY_UNPARSABLE)

#ifndef DVZ_CLOCK_SUITE
#define DVZ_CLOCK_SUITE CurrentTime
#endif

bool new_york() {
  const char *tz = std::getenv("TZ");
  return tz != nullptr && std::strcmp(tz, "America/New_York") == 0;
}

/* The zone of the process is the one the registration names, with its
** rules loaded (a missing zone file would silently act as UTC). */
TEST(DVZ_CLOCK_SUITE, ProcessRunsInItsZone) {
  const time_t july = civil_seconds(2024, 7, 1, 12, 0, 0);
  struct tm local {};
  ASSERT_NE(localtime_r(&july, &local), nullptr);
  EXPECT_EQ(local.tm_hour, new_york() ? 8 : 12);
  EXPECT_EQ(local.tm_isdst, new_york() ? 1 : 0);
}

TEST(DVZ_CLOCK_SUITE, RdtcurrentLiesBetweenTwoClockReadings) {
  for (int i = 0; i < 200; ++i) {
    const std::string before = local_text(clock_reading());
    dtime_t now {};
    now.dt_qual = hour_to_minute; /* not consulted */
    rdtcurrent(&now);
    const std::string after = local_text(clock_reading());
    ASSERT_EQ(now.dt_dec.sign, 1);
    const std::string ours = text_of(now.dt_dec, year_to_f5);
    ASSERT_LE(before, ours) << "after " << after;
    ASSERT_LE(ours, after) << "before " << before;
  }
}

/* The nine words of a broken-down time, for comparison and messages. */
std::vector<int> nine_words(const struct tm &t) {
  return {t.tm_sec,  t.tm_min,  t.tm_hour, t.tm_mday, t.tm_mon,
          t.tm_year, t.tm_wday, t.tm_yday, t.tm_isdst};
}

std::vector<time_t> spread_of_clocks() {
  std::vector<time_t> clocks = {0,
                                -1,
                                1,
                                86399,
                                civil_seconds(2000, 2, 29, 12, 0, 0),
                                std::numeric_limits<int32_t>::max(),
                                std::numeric_limits<int32_t>::min(),
                                civil_seconds(1900, 1, 1, 0, 0, 0),
                                civil_seconds(1, 1, 1, 0, 0, 0),
                                civil_seconds(9999, 12, 31, 23, 59, 59)};
  /* Around the spring and autumn changes of New York (07:00 and 06:00
  ** UTC), before and after the 2007 change of its rules, every ten
  ** minutes over four hours. */
  for (const int64_t change :
       {civil_seconds(2024, 3, 10, 7, 0, 0), civil_seconds(2024, 11, 3, 6, 0, 0),
        civil_seconds(2006, 4, 2, 7, 0, 0), civil_seconds(2006, 10, 29, 6, 0, 0),
        civil_seconds(2007, 3, 11, 7, 0, 0), civil_seconds(2007, 11, 4, 6, 0, 0)}) {
    for (int64_t offset = -7200; offset <= 7200; offset += 600)
      clocks.push_back(static_cast<time_t>(change + offset));
  }
  std::mt19937_64 random(1706);
  const int64_t first = civil_seconds(1800, 1, 1, 0, 0, 0);
  const int64_t span = civil_seconds(2200, 1, 1, 0, 0, 0) - first;
  for (int i = 0; i < 2000; ++i)
    clocks.push_back(static_cast<time_t>(first + static_cast<int64_t>(random() % span)));
  return clocks;
}

TEST(DVZ_CLOCK_SUITE, DvzLocaltimeEqualsLocaltimeR) {
  for (const time_t clock : spread_of_clocks()) {
    struct tm expected {};
    ASSERT_NE(localtime_r(&clock, &expected), nullptr) << clock;
    struct tm ours;
    std::memset(&ours, 0x5A, sizeof ours);
    ASSERT_EQ(dvz_localtime(&clock, &ours), &ours) << clock;
    EXPECT_EQ(nine_words(ours), nine_words(expected)) << "clock " << clock;
  }
}

TEST(DVZ_CLOCK_SUITE, DvzLocaltimeFailsWhereLocaltimeFails) {
  const time_t huge = std::numeric_limits<time_t>::max();
  struct tm scratch {};
  ASSERT_EQ(localtime_r(&huge, &scratch), nullptr);
  EXPECT_EQ(dvz_localtime(&huge, &scratch), nullptr);
}

/* A clock pinned through the client environment's seam is the value
** library's clock too: today, the current time and the UTC clock all
** read it (a pinned clock has no fraction). One moment lies on a day that
** differs between UTC and New York. */
TEST(DVZ_CLOCK_SUITE, PinnedEnvironmentClockDrivesTodayAndCurrentTime) {
  static time_t pinned_now = 0;
  static const os_clock_seam pinned = {[] { return pinned_now; }, os_system_clock.sleep};
  const os_clock_seam *previous = os_clock;
  os_clock = &pinned;
  for (const time_t moment : {static_cast<time_t>(civil_seconds(2024, 2, 29, 13, 14, 15)),
                              static_cast<time_t>(civil_seconds(2024, 3, 1, 3, 30, 0))}) {
    SCOPED_TRACE(moment);
    pinned_now = moment;
    int32_t today = 0;
    rtoday(&today);
    EXPECT_EQ(today, local_date(moment));
    dtime_t now {};
    rdtcurrent(&now);
    EXPECT_EQ(text_of(now.dt_dec, year_to_f5), local_text(timeval {moment, 0}));
    EXPECT_EQ(rutccurrent(), moment);
  }
  os_clock = previous;
}

/* The current time pinned with rdtsetcurr gives the leading units of an
** extension; units after the source's end are zero. */
TEST(DVZ_CLOCK_SUITE, RdtextendTakesLeadingUnitsFromPinnedCurrentTime) {
  /* rdtsetcurr keeps the pointer: the value outlives every later call. */
  static dec_t pinned;
  ASSERT_EQ(rstrdtime("2024-02-29 13:14:15.12345", &pinned, year_to_f5), 0);
  rdtsetcurr(&pinned);

  dtime_t now {};
  rdtcurrent(&now);
  EXPECT_EQ(text_of(now.dt_dec, year_to_f5), "2024-02-29 13:14:15.12345");

  struct Case {
    const char *text;
    int qualifier;
    const char *year_to_second;
  };
  const Case cases[] = {
      {"07:08", hour_to_minute, "2024-02-29 07:08:00"},
      {"23:59", hour_to_minute, "2024-02-29 23:59:00"},
      {"59:58", TU_ENCODE(4, TU_MINUTE, TU_SECOND), "2024-02-29 13:59:58"},
      {"03-01 06", TU_ENCODE(6, TU_MONTH, TU_HOUR), "2024-03-01 06:00:00"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    dec_t source {};
    ASSERT_EQ(rstrdtime(c.text, &source, c.qualifier), 0);
    dec_t target {};
    ASSERT_EQ(rdtextend(&source, c.qualifier, &target, year_to_second), 0);
    EXPECT_EQ(text_of(target, year_to_second), c.year_to_second);

    dtime_t whole_source {};
    whole_source.dt_qual = static_cast<uint16_t>(c.qualifier);
    whole_source.dt_dec = source;
    dtime_t whole_target {};
    whole_target.dt_qual = year_to_second;
    ASSERT_EQ(dtextend(&whole_source, &whole_target), 0);
    EXPECT_EQ(text_of(whole_target.dt_dec, year_to_second), c.year_to_second);
  }
}

#endif

#if defined(DVZ_DBTODAY_PAST) || defined(DVZ_DBTODAY_UNPARSABLE)

/* Today's date as the locale library asks its host for it: through the
** current-date slot, which the client environment fills with
** cl_ext_currdate when it initialises. */
gl_date_rec host_current_date() {
  EXPECT_EQ(_gl_get_ext_funcptr(GL_EXT_CURRDATE),
            reinterpret_cast<gl_ext_funcptr>(&cl_ext_currdate));
  gl_date_rec date {};
  EXPECT_EQ(_gl_ext_currdate(&date), 0);
  return date;
}

#endif

#if defined(DVZ_DBTODAY_PAST)

/* DBTODAY names a past moment: every current time runs from it. */
TEST(DbtodayPast, CurrentTimeTodayAndCurrentDateRunFromDbtoday) {
  const char *dbtoday = std::getenv("DBTODAY");
  ASSERT_NE(dbtoday, nullptr);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  ASSERT_EQ(std::sscanf(dbtoday, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6);
  ASSERT_LT(civil_seconds(y, mo, d, h, mi, s), static_cast<int64_t>(time(nullptr)) - 86400);
  /* Installs the host callbacks of the locale library. */
  ASSERT_EQ(chkglsinit(), 0);
  const int64_t shifted = civil_seconds(y, mo, d, h, mi, s);

  dtime_t now {};
  now.dt_qual = year_to_second;
  dtcurrent(&now);
  ASSERT_EQ(now.dt_qual, year_to_second);
  const int64_t lag = text_seconds(text_of(now.dt_dec, year_to_second)) - shifted;
  EXPECT_GE(lag, 0);
  EXPECT_LE(lag, 30);
  const gen_tcb *block = CheckGenInit();
  ASSERT_NE(block, nullptr);
  EXPECT_NE(block->flags & gen_flag_dbtoday_active, 0);
  EXPECT_NE(block->flags & gen_flag_dbtoday_examined, 0);

  dtime_t precise {};
  rdtcurrent(&precise);
  const int64_t precise_lag = text_seconds(text_of(precise.dt_dec, year_to_f5)) - shifted;
  EXPECT_GE(precise_lag, 0);
  EXPECT_LE(precise_lag, 30);

  int32_t today = 0;
  rtoday(&today);
  EXPECT_EQ(today, date_of(y, mo, d));

  const gl_date_rec date = host_current_date();
  EXPECT_EQ(date.year, y);
  EXPECT_EQ(date.month, mo);
  EXPECT_EQ(date.day, d);
}

#endif

#if defined(DVZ_DBTODAY_UNPARSABLE)

/* A DBTODAY that does not parse leaves the clock's own time. */
TEST(DbtodayUnparsable, CurrentTimeTodayAndCurrentDateFollowTheClock) {
  ASSERT_NE(std::getenv("DBTODAY"), nullptr);
  ASSERT_EQ(chkglsinit(), 0);

  const timeval before = clock_reading();
  dtime_t now {};
  now.dt_qual = year_to_second;
  dtcurrent(&now);
  dtime_t precise {};
  rdtcurrent(&precise);
  int32_t today = 0;
  rtoday(&today);
  const gl_date_rec date = host_current_date();
  const timeval after = clock_reading();

  const gen_tcb *block = CheckGenInit();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->flags & gen_flag_dbtoday_active, 0);
  EXPECT_NE(block->flags & gen_flag_dbtoday_examined, 0);

  /* Whole seconds: dtcurrent truncates to YEAR TO SECOND. */
  const std::string low = local_text(before).substr(0, 19);
  const std::string high = local_text(after).substr(0, 19);
  const std::string ours = text_of(now.dt_dec, year_to_second);
  EXPECT_LE(low, ours);
  EXPECT_LE(ours, high);
  const std::string ours_precise = text_of(precise.dt_dec, year_to_f5);
  EXPECT_LE(local_text(before), ours_precise);
  EXPECT_LE(ours_precise, local_text(after));

  EXPECT_GE(today, local_date(before.tv_sec));
  EXPECT_LE(today, local_date(after.tv_sec));
  const int32_t callback_date = date_of(date.year, date.month, date.day);
  EXPECT_GE(callback_date, local_date(before.tv_sec));
  EXPECT_LE(callback_date, local_date(after.tv_sec));
}

#endif

}  // namespace
