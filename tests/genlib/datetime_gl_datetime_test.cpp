/*
** rdtimestr with GL_DATETIME set: the text comes from the formatted
** DATETIME writer, at most 80 characters and the NUL in the caller's
** 81 bytes. GL_DATETIME is read per call but set per process: this program
** runs with a short format (DVZ_EXPECT_SHORT) and with one whose text
** would exceed 80 characters.
*/
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "gen_datetime.h"

/* One suite name per process, so that each CTest case keeps its own
** GL_DATETIME. */
#ifdef DVZ_EXPECT_SHORT
#define DVZ_GL_DATETIME_SUITE GlDatetimeShortFormat
#else
#define DVZ_GL_DATETIME_SUITE GlDatetimeLongFormat
#endif

namespace {

constexpr int year_to_second = 0x0E0A;
constexpr unsigned char guard = 0xA5;

TEST(DVZ_GL_DATETIME_SUITE, WritesThroughTheFormatWithinEightyOneBytes) {
  dtime_t value {};
  value.dt_qual = year_to_second;
  std::array<unsigned char, 81 + 32> buffer;
  buffer.fill(guard);
  char *text = reinterpret_cast<char *>(buffer.data());
  const unsigned char units[7] = {20, 24, 3, 5, 7, 8, 9};
  ASSERT_EQ(dtpack(&value.dt_dec, year_to_second, const_cast<unsigned char *>(units), 1), 0);
  const int status = rdtimestr(&value.dt_dec, year_to_second, text);
#ifdef DVZ_EXPECT_SHORT
  ASSERT_EQ(status, 0);
  EXPECT_STREQ(text, "2024/03/05 07.08.09");
  buffer.fill(guard);
  ASSERT_EQ(dttoasc(&value, text), 0);
  EXPECT_STREQ(text, "2024/03/05 07.08.09");
#else
  if (status == 0) {
    EXPECT_LE(std::strlen(text), 80u);
  }
#endif
  for (size_t i = 81; i < buffer.size(); ++i)
    ASSERT_EQ(buffer[i], guard) << i;
}

TEST(DVZ_GL_DATETIME_SUITE, NullValueIsTheEmptyText) {
  dec_t null_value {};
  null_value.sign = -1;
  char text[81] = "x";
  EXPECT_EQ(rdtimestr(&null_value, year_to_second, text), 0);
  EXPECT_STREQ(text, "");
}

}  // namespace
