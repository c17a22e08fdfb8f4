/*
** The calendar table: each calendar name keeps the newline that ends the
** line a locale file gives it on, and its wide twin holds the same text.
*/
#include "ctype_fixtures.h"
#include "gl_calendar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace {

using namespace lcotest;

TEST(CalendarNames, NamesKeepTheirNewlineAndWideTwins) {
  const std::pair<const char *, int> expected[] = {
      {"gregorian\n", 1}, {"hebrew\n", 2}, {"islamic\n", 3}, {"arabic\n", 4}};
  int rows = 0;
  for (const gl_calendar_name *c = gls_canned_calendars; c->name != nullptr; ++c, ++rows) {
    ASSERT_LT(rows, 4);
    EXPECT_STREQ(c->name, expected[rows].first);
    EXPECT_EQ(c->id, expected[rows].second);
    EXPECT_EQ(Wide(c->wc_name, c->wc_name + std::strlen(c->name) + 1), wide(c->name));
  }
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(gls_canned_calendars[4].wc_name, nullptr);
  EXPECT_EQ(gls_canned_calendars[4].id, 0);
}

}  // namespace
