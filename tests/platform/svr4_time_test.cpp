/* cftime: local time formatted in the C locale whatever setlocale did. */
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "svr4.h"
#include "temp_dir.h"

namespace {

constexpr time_t december_8 = 1702060801; /* 2023-12-08 18:40:01 UTC */

/* Sets TZ for one test and puts the previous value back. */
class TimeZone {
 public:
  explicit TimeZone(const char *tz) {
    if (const char *old = getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

std::string time_text(const char *format, time_t clock) {
  char buf[64];
  size_t len = cftime(buf, sizeof buf, format, &clock);
  EXPECT_EQ(len, std::strlen(buf));
  return buf;
}

TEST(Cftime, FormatsLocalTimeAsTheLogLineDoes) {
  {
    TimeZone utc("UTC");
    EXPECT_EQ(time_text("%b %d %T", december_8), "Dec 08 18:40:01");
    EXPECT_EQ(time_text("%b %d %T", december_8 + 86400 * 25), "Jan 02 18:40:01");
  }
  TimeZone east("EST5");
  EXPECT_EQ(time_text("%b %d %T", december_8), "Dec 08 13:40:01");
}

TEST(Cftime, ShortBufferGivesZeroAndEmptyText) {
  TimeZone utc("UTC");
  time_t clock = december_8;
  char buf[15]; /* one short of "Dec 08 18:40:01" */
  EXPECT_EQ(cftime(buf, sizeof buf, "%b %d %T", &clock), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(cftime(buf, sizeof buf, "%b %d %T", nullptr), 0u);
  EXPECT_EQ(cftime(buf, sizeof buf, nullptr, &clock), 0u);
}

/* Makes a locale whose month names are not English: a system one when
** installed, else one compiled with localedef into a temporary LOCPATH. */
class ForeignLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = setlocale(LC_ALL, nullptr);
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
      if (setlocale(LC_ALL, name) != nullptr) return;
    if (access("/usr/bin/localedef", X_OK) != 0) return;
    dir_ = std::make_unique<dvz_test::TempDir>();
    std::string command =
        "/usr/bin/localedef -i de_DE -f UTF-8 " + dir_->file("de_DE.UTF-8") + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    setenv("LOCPATH", dir_->path().c_str(), 1);
    setlocale(LC_ALL, "de_DE.UTF-8");
  }
  void TearDown() override {
    setlocale(LC_ALL, saved_.c_str());
    if (dir_) unsetenv("LOCPATH");
  }

  std::string saved_;
  std::unique_ptr<dvz_test::TempDir> dir_; /* the compiled locale, when one was made */
};

TEST_F(ForeignLocale, MonthNameStaysInTheCLocale) {
  TimeZone utc("UTC");
  /* The peer shows that the process locale really names December otherwise. */
  time_t clock = december_8;
  struct tm local {};
  localtime_r(&clock, &local);
  char month[32];
  strftime(month, sizeof month, "%b", &local);
  if (std::string(month) == "Dec") GTEST_SKIP() << "no locale with other month names available";
  EXPECT_EQ(time_text("%b %d %T", december_8), "Dec 08 18:40:01");
}

}  // namespace
