/*
** Formatted INTERVAL text under en_us with DBTIME unset: reading through
** a format into the caller's qualifier, writing through one (widths, a
** 12-hour clock, fractions, the sign), and the errors of both.
*/
#include <gtest/gtest.h>

#include <string>

#include "gen_datetime.h"
#include "gen_dtformat.h"

namespace {

constexpr int day_to_second = TU_ENCODE(8, TU_DAY, TU_SECOND);
constexpr int hour3_to_minute = TU_ENCODE(5, TU_HOUR, TU_MINUTE);

intrvl_t interval(int qualifier, const char *text) {
  intrvl_t value {};
  value.in_qual = static_cast<uint16_t>(qualifier);
  EXPECT_EQ(incvasc(text, &value), 0) << text;
  return value;
}

std::string fixed_text(const intrvl_t &value) {
  char buffer[64] = {};
  EXPECT_EQ(intoasc(&value, buffer), 0);
  return buffer;
}

TEST(IntervalFormat, ReadsThroughAFormat) {
  struct Case {
    const char *text;
    const char *format;
    int qualifier;
    const char *fixed;
  };
  const Case cases[] = {
      {"3 days 04:05:06", "%d days %H:%M:%S", day_to_second, "  3 04:05:06"},
      {"-3 04:00:00", "%d %H:%M:%S", day_to_second, " -3 04:00:00"},
      {"100h 30m", "%Hh %Mm", hour3_to_minute, " 100:30"},
      {"4:5", "%H:%M", TU_ENCODE(4, TU_HOUR, TU_MINUTE), "  4:05"},
      {"12-3", "%Y-%m", TU_ENCODE(6, TU_YEAR, TU_MONTH), "   12-03"},
      {"10:20:30.25", "%H:%M:%S.%F", TU_ENCODE(9, TU_HOUR, TU_F3), " 10:20:30.250"},
      {"5 12", "%d %H", TU_ENCODE(6, TU_DAY, TU_MINUTE), "  5 12:00"},
  };
  for (const Case &c : cases) {
    intrvl_t value {};
    value.in_qual = static_cast<uint16_t>(c.qualifier);
    ASSERT_EQ(incvfmtasc(c.text, c.format, &value), 0) << c.text;
    EXPECT_EQ(fixed_text(value), c.fixed) << c.text;
  }
}

TEST(IntervalFormat, ReadErrors) {
  struct Case {
    const char *text;
    const char *format;
    int error;
  };
  const Case cases[] = {
      {"", "%d %H", -1272},         {nullptr, "%d %H", -1272},
      {"3 04", "%d:%H", -1277},     {"3 04 extra", "%d %H", -1277},
      {"3 pm", "%d %p", -1276},     {"Jan", "%b", -1276},
      {"24", "%y", -1276},          {"3 04", "no units", -1277},
      {"3 04", "%d %H %F7", -1275},
  };
  for (const Case &c : cases) {
    intrvl_t value {};
    value.in_qual = day_to_second;
    EXPECT_EQ(incvfmtasc(c.text, c.format, &value), c.error)
        << (c.text != nullptr ? c.text : "(null)") << " / " << c.format;
  }
}

TEST(IntervalFormat, WritesThroughAFormat) {
  struct Case {
    int qualifier;
    const char *value;
    const char *format;
    const char *text;
  };
  const Case cases[] = {
      {day_to_second, "3 04:05:06", "%d days %H:%M:%S", "3 days 04:05:06"},
      {day_to_second, "-3 04:00:00", "%d %Hh", "-3 04h"},
      {hour3_to_minute, "100:30", "%H:%M", "100:30"},
      {day_to_second, "1 15:05:06", "%d %I:%M", "1 03:05"},
      {day_to_second, "2 04:05:06", "%3d|%H", "  2 |04"},
      /* %F writes its own point; the format's qualifier decides the units. */
      {TU_ENCODE(9, TU_HOUR, TU_F3), "10:20:30.125", "%H:%M:%S%F2", "10:20:30.12"},
      {TU_ENCODE(9, TU_HOUR, TU_F3), "10:20:30.125", "%S%F5 s", "37230.12500 s"},
      {day_to_second, "3 04:05:06", "no units", "no units"},
      {day_to_second, "3 04:05:06", "100%% %d", "100% 3"},
  };
  for (const Case &c : cases) {
    const intrvl_t value = interval(c.qualifier, c.value);
    char buffer[64];
    ASSERT_EQ(intofmtasc(&value, buffer, 63, c.format), 0) << c.format;
    EXPECT_STREQ(buffer, c.text) << c.format;
  }
  const intrvl_t null_value = interval(day_to_second, "");
  char buffer[8] = "garbage";
  EXPECT_EQ(intofmtasc(&null_value, buffer, 7, "%d"), 0);
  EXPECT_STREQ(buffer, "");
  const intrvl_t value = interval(day_to_second, "3 04:05:06");
  EXPECT_EQ(intofmtasc(&value, nullptr, 7, "%d"), -1273);
  EXPECT_EQ(intofmtasc(&value, buffer, 3, "%d days"), -1273);
  EXPECT_EQ(intofmtasc(&value, buffer, 5, "%d %H:%M"), -1273);
}

}  // namespace
